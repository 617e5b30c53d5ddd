// The installed programs as a script, cron or systemd starts them: which database each
// opens when none is named on its command line, the desktop program's --help and
// --version where there is no display, and the hardening of the dispatcher's unit.
#include "RunningProgram.h"
#include "TempDatabase.h"
#include "TempSettings.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

namespace {

// Sets (or, given an empty value, removes) environment variables for the object's
// lifetime: the programs a test starts inherit the test's environment.
class EnvironmentChange
{
public:
    explicit EnvironmentChange(const QList<std::pair<const char*, QByteArray>>& changes)
    {
        for (const auto& [name, value] : changes) {
            m_previous.append({ name, qgetenv(name), qEnvironmentVariableIsSet(name) });
            value.isEmpty() ? qunsetenv(name) : qputenv(name, value);
        }
    }
    ~EnvironmentChange()
    {
        for (const Previous& previous : m_previous)
            previous.set ? qputenv(previous.name, previous.value) : qunsetenv(previous.name);
    }
    Q_DISABLE_COPY_MOVE(EnvironmentChange)

private:
    struct Previous
    {
        const char* name;
        QByteArray value;
        bool set;
    };
    QList<Previous> m_previous;
};

const QStringList kCandidates { "cmdline.mdb", "env.mdb", "settings.mdb", "Quillpost.mdb" };

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void databaseChoice_data()
    {
        QTest::addColumn<QStringList>("command"); // the program, then its arguments
        QTest::addColumn<QByteArray>("environment"); // QUILLPOST_DB; empty: unset
        QTest::addColumn<QString>("setting"); // Quillpost/Database; empty: none
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("chosen");
        const QStringList headless { "quillpost", "--headless" };
        const QStringList send { "quillpost-send", "--to", "#1", "x" };
        const QStringList check { "quillpost-db", "check" };
        const QStringList db { "--db", "cmdline.mdb" };
        QTest::newRow("headless, nothing named")
            << headless << QByteArray() << "" << 1 << "Quillpost.mdb";
        QTest::newRow("headless, setting")
            << headless << QByteArray() << "settings.mdb" << 1 << "settings.mdb";
        QTest::newRow("headless, QUILLPOST_DB before setting")
            << headless << QByteArray("env.mdb") << "settings.mdb" << 1 << "env.mdb";
        QTest::newRow("headless, --db before both")
            << headless + db << QByteArray("env.mdb") << "settings.mdb" << 1 << "cmdline.mdb";
        QTest::newRow("send, setting")
            << send << QByteArray() << "settings.mdb" << 3 << "settings.mdb";
        QTest::newRow("send, QUILLPOST_DB before setting")
            << send << QByteArray("env.mdb") << "settings.mdb" << 3 << "env.mdb";
        QTest::newRow("send, --db before both")
            << send + db << QByteArray("env.mdb") << "settings.mdb" << 3 << "cmdline.mdb";
        QTest::newRow("db check, nothing named")
            << check << QByteArray() << "" << 1 << "Quillpost.mdb";
        QTest::newRow("db check, setting")
            << check << QByteArray() << "settings.mdb" << 1 << "settings.mdb";
        QTest::newRow("db init, QUILLPOST_DB before setting")
            << QStringList { "quillpost-db", "init" } << QByteArray("env.mdb") << "settings.mdb"
            << 0 << "env.mdb";
    }

    // Each candidate names a missing file in the working directory, so every program
    // says which one it chose and stops (quillpost-db init creates it).
    void databaseChoice()
    {
        QFETCH(QStringList, command);
        QFETCH(QByteArray, environment);
        QFETCH(QString, setting);
        QFETCH(int, status);
        QFETCH(QString, chosen);
        TempSettings settings;
        TempDatabase folder(TempDatabase::Content::NoFile);
        if (!setting.isEmpty())
            QSettings("Northmoor", "Quillpost").setValue("Quillpost/Database", setting);
        const EnvironmentChange change({ { "QUILLPOST_DB", environment } });
        RunningProgram program(command.front(), command.mid(1));
        QCOMPARE(program.finish(), status);
        for (const QString& candidate : kCandidates)
            QVERIFY2(
                program.said(candidate) == (candidate == chosen), qPrintable(program.output()));
        QCOMPARE(
            QDir().entryList(QDir::Files), status == 0 ? QStringList { chosen } : QStringList());
    }

    void withoutADisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("--help") << QStringList { "--help" } << 0 << "quillpost --help | --version";
        QTest::newRow("--version") << QStringList { "--version" } << 0 << "Quillpost Version 1.0\n";
        QTest::newRow("--headless, unknown argument")
            << QStringList { "--headless", "--verbose" } << 2 << "Unknown argument: --verbose";
    }

    // The window system is never started for them, so they work over ssh and in cron.
    void withoutADisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        const EnvironmentChange noDisplay(
            { { "QT_QPA_PLATFORM", {} }, { "DISPLAY", {} }, { "WAYLAND_DISPLAY", {} } });
        RunningProgram quillpost("quillpost", arguments);
        QCOMPARE(quillpost.finish(), status);
        QVERIFY2(quillpost.said(said), qPrintable(quillpost.output()));
    }

    // systemd's own rating of the example unit's sandbox: 2.5 or less is "OK".
    void dispatcherUnitIsHardened()
    {
        const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
        if (analyze.isEmpty())
            QSKIP("systemd-analyze is not installed (Debian package systemd); the unit's "
                  "hardening was not rated.");
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(analyze, { "security", "--offline=true", QUILLPOST_DISPATCHER_UNIT });
        QVERIFY(process.waitForFinished(60000));
        const QString output = QString::fromUtf8(process.readAll());
        const QRegularExpressionMatch overall
            = QRegularExpression("Overall exposure level for \\S+: ([0-9.]+)").match(output);
        QVERIFY2(overall.hasMatch(), qPrintable(output));
        QVERIFY2(overall.captured(1).toDouble() <= 2.5, qPrintable(output));
        // A directive systemd does not know is ignored, and protects nothing.
        QVERIFY2(!output.contains("ignoring"), qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"

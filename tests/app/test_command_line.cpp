// The installed programs as a script, cron or systemd starts them: which database each
// opens when none is named on its command line, what the program's command line refuses
// (most of it where there is no display), and the hardening of the dispatcher's unit.
#include "RunningProgram.h"
#include "TempDatabase.h"
#include "TempSettings.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void commandLines_data()
    {
        // The program, then its arguments; the desktop program when they start with an option.
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::addColumn<bool>("display"); // the desktop program's refusals need one
        QTest::addColumn<QByteArray>("environment"); // QUILLPOST_DB; empty: unset
        QTest::addColumn<QString>("setting"); // Quillpost/Database; empty: none
        const auto row
            = [](const char* name, const QStringList& command, int status, const char* said,
                  bool display = false, const char* environment = "", const char* setting = "") {
                  QTest::newRow(name) << command << status << QString(said) << display
                                      << QByteArray(environment) << QString(setting);
              };
        // Which database each program opens when none is named: each candidate names a
        // missing file, so every program names the one it chose and stops (quillpost-db init
        // creates it). The order of choice is the dispatcher's rows; one of each other
        // program shows that it follows it.
        const QStringList headless { "--headless" }, db { "--db", "cmdline.mdb" };
        const QStringList send { "quillpost-send", "--to", "#1", "x" };
        row("setting", headless, 1, "settings.mdb", false, "", "settings.mdb");
        row("QUILLPOST_DB first", headless, 1, "env.mdb", false, "env.mdb", "settings.mdb");
        row("--db first", headless + db, 1, "cmdline.mdb", false, "env.mdb", "settings.mdb");
        row("send: --db first", send + db, 3, "cmdline.mdb", false, "env.mdb", "settings.mdb");
        row("db init", { "quillpost-db", "init" }, 0, "env.mdb", false, "env.mdb", "settings.mdb");

        row("--version", { "--version" }, 0, "Quillpost Version 1.0\n");
        row("--db without a file", { "--headless", "--db" }, 2, "--db needs a value.");
        row("unknown argument", { "--headless", "--verbose" }, 2, "Unknown argument: --verbose");
        row("--modem is for --headless", { "--modem=x" }, 2, "--modem is for", true);
        row("no port", { "--headless", "--metrics-listen=127.0.0.1:" }, 2, "has no port");
        row("--metrics-listen is for --headless", { "--metrics-listen=9100" }, 2,
            "--metrics-listen is for --headless", true);
        row("--snpp-listen is for --headless", { "--snpp-listen=2444" }, 2,
            "--snpp-listen is for --headless", true);
        // An address of no interface here: nothing is sent, the bind alone fails.
        row("an SNPP gateway that cannot listen stops the start",
            { "--headless", "--snpp-listen=192.0.2.1:2444" }, 1,
            "no SNPP gateway: cannot listen on 192.0.2.1 port 2444");
        row("no database", { "--headless", "--db=absent.mdb" }, 1, "there is no database at");
    }

    // The window system is never started but for the desktop program's own refusals, so the
    // others work over ssh and in cron; a database that is not there is never made.
    void commandLines()
    {
        QFETCH(QStringList, command);
        QFETCH(int, status);
        QFETCH(QString, said);
        QFETCH(bool, display);
        QFETCH(QByteArray, environment);
        QFETCH(QString, setting);
        TempSettings settings;
        TempDatabase db;
        for (const char* name : { "QUILLPOST_DB", "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" })
            qunsetenv(name);
        if (display)
            qputenv("QT_QPA_PLATFORM", "offscreen");
        if (!environment.isEmpty())
            qputenv("QUILLPOST_DB", environment);
        if (!setting.isEmpty())
            QSettings("Northmoor", "Quillpost").setValue("Quillpost/Database", setting);
        const QString program = command.front().startsWith('-') ? "quillpost" : command.takeFirst();
        RunningProgram quillpost(program, command);
        QCOMPARE(quillpost.finish(), status);
        QVERIFY2(quillpost.said(said), qPrintable(quillpost.output()));
        if (said.endsWith(".mdb"))
            QCOMPARE(QFile::exists(said), status == 0);
    }

    // systemd's own rating of the example unit's sandbox: 2.5 or less is "OK".
    void dispatcherUnitIsHardened()
    {
        const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
        if (analyze.isEmpty())
            QSKIP("systemd-analyze (Debian package systemd) is not installed to rate the unit");
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        // The threshold is on systemd's scale of 0 to 100: an overall rating above 2.5 fails.
        process.start(
            analyze, { "security", "--offline=true", "--threshold=25", QUILLPOST_DISPATCHER_UNIT });
        QVERIFY(process.waitForFinished(60000));
        const QString output = QString::fromUtf8(process.readAll());
        // A directive systemd does not know is ignored, and protects nothing.
        QVERIFY2(process.exitCode() == 0 && !output.contains("ignoring"), qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"

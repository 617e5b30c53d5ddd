// quillpost-db: creating databases (plain and with demo data) that only their owner's
// side can read, never overwriting a file, naming what is wrong with a damaged one, and
// pointing a provider at a new access number; in-process, then once as a program. (Which
// file it takes by default, and its exit statuses as a program: test_command_line.)
#include "DbTool.h"
#include "PresetPrompt.h"
#include "RunningProgram.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "carrier/CarrierAddress.h"
#include "data/QuillTime.h"
#include "data/QuillpostDoc.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DatabaseSchema.h"

#include <QFile>
#include <QSet>
#include <QTest>
#include <sys/stat.h>

class TestQuillpostDbTool : public QObject
{
    Q_OBJECT

private slots:
    // The default file is the test's own whatever the environment of the run names.
    void initTestCase() { qunsetenv("QUILLPOST_DB"); }

    void commands_data()
    {
        // "file:<content>" is written as Quillpost.mdb; anything else is SQL run, statement
        // by statement, on a fresh database ("none" makes no file).
        QTest::addColumn<QString>("existing");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        const auto row = [](const char* name, const QString& existing, int status,
                             const QString& said, const QStringList& arguments = { "check" }) {
            QTest::newRow(name) << existing << arguments << status << said;
        };
        const QString jet = "file:" + QString(4, QChar(1)) + "Standard Jet DB";
        row("init", "none", 0, "Created Quillpost.mdb.", { "init" });
        row("init over a text file", "file:precious notes\n", 1, "already exists", { "init" });
        row("check a text file", "file:Name,Number\n", 1, "not an SQLite database");
        row("check a Jet database", jet, 1, "Jet/Access", { "check", "Quillpost.mdb" });
        row("table missing", "DROP TABLE Messages", 1,
            "Quillpost.mdb is not a usable Quillpost database:\n  The table Messages is missing.");
        row("ID not numbered", "DROP TABLE Groups; CREATE TABLE Groups (ID TEXT, GroupName TEXT)",
            1, "ID of table Groups is not numbered automatically");
        row("ID numbered without AUTOINCREMENT",
            "DROP TABLE Groups; CREATE TABLE Groups (ID INTEGER PRIMARY KEY, GroupName TEXT)", 1,
            "ID of table Groups is not declared AUTOINCREMENT");
        row("number column as text",
            "ALTER TABLE ServiceProviders DROP COLUMN Parity; ALTER TABLE ServiceProviders "
            "ADD Parity TEXT",
            1, "Parity of table ServiceProviders is declared TEXT");
        row("check, no send log yet", "DROP TABLE SendLog", 0, "is a usable Quillpost database");
        row("send log column missing", "ALTER TABLE SendLog DROP COLUMN TerminalLine", 1,
            "The table SendLog has no column TerminalLine.");
        row("log",
            "INSERT INTO Users (Name) VALUES ('Ann'); INSERT INTO SendLog (AttemptTime, MessageId, "
            "Recipient, PagerId, Provider, Outcome, TerminalLine) VALUES ('2026-03-10 09:00:00', "
            "5, 1, '1001', 'Metro\tPaging', 2, '511 Invalid Pager ID'), ('2026-03-10 09:01:00', "
            "6, 9, '1002', 'Metro', 1, '')",
            0,
            "2026-03-10 09:00:00\t5\t1\tAnn\t1001\tMetro Paging\tfailed for good\t511 Invalid "
            "Pager ID\n2026-03-10 09:01:00\t6\t9\t\t1002\tMetro\tsent\t\n",
            { "log" });
        row("log, no send log yet", "DROP TABLE SendLog", 0, "", { "log", "Quillpost.mdb" });
        row("log, no file", "none", 1, "does not exist", { "log" });
        row("unknown command", "none", 2, "Usage:", { "create" });
        row("two files", "none", 2, "Usage:", { "init", "a.mdb", "b.mdb" });
        row("unknown option", "none", 2, "Usage:", { "init", "--force" });

        // A script points a provider at a new address with the dialog's checks: only the
        // provider named is changed (to the number in the arguments), a refusal changes nothing.
        const QString providers
            = "INSERT INTO ServiceProviders (ServiceName, AccessNumber) "
              "VALUES ('Harbour', '01632960300'), ('Twice', '1'), ('Twice', '2')";
        const QString url = "https://sender%40x@wctp.example.net:8443/wctp?v=1";
        const QStringList set { "set-access-number", "Harbour" };
        row("set a URL", providers, 0, "The access number of Harbour is " + url + ".",
            set + QStringList { url, "Quillpost.mdb" });
        row("set a malformed URL", providers, 1,
            "The access number is not a usable address:", set + QStringList { "http://h:0/" });
        row("set modem commands", providers, 1, "\";\"", set + QStringList { "5551234;ATH" });
        row("set, no such provider", providers, 1, "No service provider is named \"Harbor\".",
            { "set-access-number", "Harbor", url });
        row("set, two of that name", providers, 1, "2 service providers are named \"Twice\".",
            { "set-access-number", "Twice", url });
        row("set, no number", providers, 2, "Usage:", set);
    }

    void commands()
    {
        QFETCH(QString, existing);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        const bool schema = existing != "none" && !existing.startsWith("file:");
        TempDatabase db(schema ? TempDatabase::Content::Schema : TempDatabase::Content::NoFile);
        if (QFile file(db.filePath()); existing.startsWith("file:"))
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(existing.mid(5).toLatin1()) >= 0);
        for (const QString& statement : schema ? existing.split(';') : QStringList())
            db.exec(statement);
        const auto content = [&db] {
            QFile file(db.filePath());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
        };
        const QByteArray before = content();

        QString output;
        QTextStream stream(&output);
        QCOMPARE(RunDbTool(arguments, stream, stream), status);
        QVERIFY2(output.contains(said), qPrintable(output));
        if (status == 0 && arguments[0] == "init") {
            QCOMPARE(db.journalMode(), "wal"); // before any later open switches it
            QCOMPARE(FindDatabaseProblems(db.filePath()), QStringList());
        } else if (status == 0 && arguments[0] == "set-access-number")
            QCOMPARE(db.rows("ServiceProviders", "AccessNumber").join(' '), arguments[2] + " 1 2");
        else // nothing refused, checked or listed is changed or created
            QCOMPARE(content(), before);
    }

    void initKeepsThePasswordsPrivate_data()
    {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("fileMode");
        QTest::newRow("folder writable by its group") << 0770 << 0660;
        QTest::newRow("setgid folder") << 02750 << 0660;
        QTest::newRow("folder writable by everyone") << 01777 << 0600;
    }

    // Under the common umask 022 a new file would be readable by everyone.
    void initKeepsThePasswordsPrivate()
    {
        QFETCH(int, folderMode);
        QFETCH(int, fileMode);
        TempDatabase folder(TempDatabase::Content::NoFile); // the working directory
        QCOMPARE(::chmod(".", folderMode), 0);
        const mode_t umaskBefore = ::umask(022);
        QString output;
        QTextStream stream(&output);
        const int status = RunDbTool({ "init" }, stream, stream);
        QCOMPARE(::umask(umaskBefore), mode_t(022)); // the process's own is left as it was
        QCOMPARE(status, 0);

        struct stat info = {};
        QCOMPARE(::stat("Quillpost.mdb", &info), 0);
        QCOMPARE(int(info.st_mode & 07777), fileMode);
    }

    // The demo as the program makes it: every recipient reachable (through the default
    // provider, one of their own, or a WCTP gateway reached by URL), and waiting messages due
    // now and later, two of those due now to recipients reached by URL.
    void programMakesABelievableDemo()
    {
        TempDatabase folder(TempDatabase::Content::NoFile); // the program's working directory too
        RunningProgram init("quillpost-db", { "init", "--demo" });
        QCOMPARE(init.finish(), 0);
        QVERIFY2(init.said("Created Quillpost.mdb with demo data."), qPrintable(init.output()));
        PresetPrompt prompt;
        CQuillpostDoc doc;
        doc.ReloadAll();
        QList<int> waiting { 0, 0 }; // due now, due later
        QSet<std::int32_t> dueNowByUrl;
        for (const auto& message : doc.m_messages) {
            const bool waits = message->m_status == MessageStatus::Waiting;
            const bool dueNow = message->m_requiredSendTime <= CurrentQuillTime();
            waiting[dueNow ? 0 : 1] += waits;
            for (const auto& entry : message->m_recipients) {
                const auto* provider = doc.FindProviderForUser(entry->m_recipient);
                QVERIFY(provider && !doc.GetTelephoneNumber(entry->m_recipient).isEmpty());
                const CarrierAddress address = ParseCarrierAddress(provider->m_accessNumber);
                if (address.IsUsable() && address.kind == CarrierKind::Wctp && dueNow && waits)
                    dueNowByUrl.insert(entry->m_recipient);
            }
        }
        QCOMPARE(waiting, QList<int>({ 3, 1 }));
        QCOMPARE(dueNowByUrl.size(), 2);
    }

private:
    TempSettings m_settings;
};

QTEST_GUILESS_MAIN(TestQuillpostDbTool)
#include "test_quillpost_db_tool.moc"

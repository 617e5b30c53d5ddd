// quillpost-db: creating databases (plain and with demo data) that only their owner's
// side can read, never overwriting a file, naming what is wrong with a damaged one, and
// pointing a provider at a new access number; in-process, then once as a program. (Which file it takes by default: test_command_line.)
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
#include <QFileInfo>
#include <QSet>
#include <QTest>
#include <algorithm>

#include <sys/stat.h>

namespace {

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

} // namespace

class TestQuillpostDbTool : public QObject
{
    Q_OBJECT

private slots:
    // The default file is the test's own whatever the environment of the run names.
    void initTestCase() { qunsetenv("QUILLPOST_DB"); }

    // Every table a new database holds, with its columns in order: written out here once,
    // so that the test helpers, which fill rows by the program's own list of columns, stand
    // on something the program did not write itself.
    void tablesAndColumnsInOrder()
    {
        const TempDatabase db;
        const QStringList tables { "Users ID Name TelephoneNumber PreferredProvider Group1 Group2 "
                                   "Group3 Group4 Group5 Group6 Group7 Group8 Group9 Group10",
            "Groups ID GroupName",
            "ServiceProviders ID ServiceName AccessNumber BaudRate StopBits Parity "
            "DataBits TAPType UseAsDefault Password",
            "Messages ID Recipient MessageCount MessageId Text Status SendTime RequestTime "
            "RequiredSendTime Retries",
            "SendLog ID AttemptTime MessageId Recipient PagerId Provider Outcome TerminalLine" };
        const QString made = "SELECT group_concat(name || ' ' || (SELECT group_concat(name, ' ') "
                             "FROM pragma_table_info(t.name)), '|') FROM (SELECT name FROM "
                             "sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite%' "
                             "ORDER BY rowid) AS t";
        QCOMPARE(db.scalar(made).toString().split('|'), tables);
    }

    void commands_data()
    {
        // "file:<content>" is written as Quillpost.mdb; anything else is SQL run, statement
        // by statement, on a fresh database ("" leaves it as made, "none" makes no file).
        QTest::addColumn<QString>("existing");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        const auto row = [](const char* name, const QString& existing, int status, const char* said,
                             const QStringList& arguments = { "check" }) {
            QTest::newRow(name) << existing << arguments << status << QString(said);
        };
        const QString jet = "file:" + QString(4, QChar(1)) + "Standard Jet DB";
        row("init", "none", 0, "Created Quillpost.mdb.", { "init" });
        row("init --demo FILE", "none", 0, "with demo data", { "init", "--demo", "Quillpost.mdb" });
        row("init over a text file", "file:precious notes\n", 1, "already exists", { "init" });
        row("check a fresh database", "", 0, "is a usable Quillpost database");
        row("check, no file", "none", 1, "is not a usable Quillpost database");
        row("check a text file", "file:Name,Number\n", 1, "not an SQLite database");
        row("check a Jet database", jet, 1, "Jet/Access", { "check", "Quillpost.mdb" });
        row("check an empty file", "file:", 1, "empty file");
        row("table missing", "DROP TABLE Messages", 1, "The table Messages is missing.");
        row("column missing", "ALTER TABLE Users DROP COLUMN Group10", 1,
            "The table Users has no column Group10.");
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
        for (const QString& statement :
            schema ? existing.split(';', Qt::SkipEmptyParts) : QStringList())
            db.exec(statement);
        const QByteArray before = contentOf(db.filePath());

        QString output;
        QTextStream stream(&output);
        QCOMPARE(RunDbTool(arguments, stream, stream), status);
        QVERIFY2(output.contains(said), qPrintable(output));
        if (status == 0 && arguments.value(0) == "init") {
            QCOMPARE(db.journalMode(), "wal"); // before any later open switches it
            QCOMPARE(FindDatabaseProblems(db.filePath()), QStringList());
        } else // nothing refused or checked is changed or created
            QCOMPARE(contentOf(db.filePath()), before);
    }

    void setAccessNumber_data()
    {
        QTest::addColumn<QStringList>("arguments"); // after the command, before the file
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("stored"); // Harbour's access number afterwards
        const QString before = "01632960300";
        const auto row = [&](const char* name, const QStringList& arguments, int status,
                             const char* said, const QString& stored) {
            QTest::newRow(name) << arguments << status << QString(said) << stored;
        };
        const QString url = "https://sender%40x@wctp.example.net:8443/wctp?v=1";
        row("a URL", { "Harbour", url }, 0, "The access number of Harbour is", url);
        row("a number as people type it", { "Harbour", "(0163) 296-0301" }, 0, "",
            "(0163) 296-0301");
        row("a TCP line's host:port", { "Harbour", "10.0.0.5:2000" }, 0, "", "10.0.0.5:2000");
        row("a malformed URL", { "Harbour", "http://h:0/" }, 1, "is not a usable address", before);
        row("a password in the URL", { "Harbour", "snpp://me:pw@h" }, 1, "holds a password",
            before);
        row("modem commands", { "Harbour", "5551234;ATH" }, 1, "\";\"", before);
        row("no such provider", { "Harbor", url }, 1, "No service provider is named \"Harbor\"",
            before);
        row("two of that name", { "Twice", url }, 1, "2 service providers are named", before);
        row("neither provider nor number", {}, 2, "Usage:", before);
    }

    // A script points a provider at a new address with the dialog's checks; only the one
    // provider named is changed, and a refused number changes nothing.
    void setAccessNumber()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        QFETCH(QString, stored);
        TempDatabase db;
        db.addProvider("Harbour", "01632960300");
        db.addProvider("Other", "01632960400");
        db.addProvider("Twice", "1");
        db.addProvider("Twice", "2");
        QString output;
        QTextStream stream(&output);
        QCOMPARE(RunDbTool(QStringList { "set-access-number" } + arguments
                         + QStringList { db.filePath() },
                     stream, stream),
            status);
        QVERIFY2(output.contains(said), qPrintable(output));
        QCOMPARE(db.rows("ServiceProviders", "ServiceName || '=' || AccessNumber"),
            QStringList({ "Harbour=" + stored, "Other=01632960400", "Twice=1", "Twice=2" }));
    }

    void initKeepsThePasswordsPrivate_data()
    {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("fileMode"); // of the database and of its -wal and -shm
        QTest::newRow("private folder") << 0700 << 0600;
        QTest::newRow("folder writable by its group") << 0770 << 0660;
        QTest::newRow("setgid folder") << 02750 << 0660;
        QTest::newRow("folder writable by everyone") << 01777 << 0600;
    }

    // Under the common umask 022 a new file would be readable by everyone.
    void initKeepsThePasswordsPrivate()
    {
        QFETCH(int, folderMode);
        QFETCH(int, fileMode);
        TempDatabase folder(TempDatabase::Content::NoFile);
        const QByteArray path = QFile::encodeName(folder.filePath());
        const QByteArray folderPath = QFile::encodeName(QFileInfo(folder.filePath()).path());
        QVERIFY(::chmod(folderPath.constData(), folderMode) == 0);
        const mode_t umaskBefore = ::umask(022);
        QString output;
        QTextStream stream(&output);
        const int status = RunDbTool({ "init" }, stream, stream);
        QCOMPARE(::umask(umaskBefore), mode_t(022)); // the process's own is left as it was
        QCOMPARE(status, 0);

        DaoConnection open(folder.filePath()); // in write-ahead-log mode
        open.Execute("SELECT COUNT(*) FROM Users", {}, "read").next();
        for (const QByteArray& name : { path, path + "-wal", path + "-shm" }) {
            struct stat info {};
            QVERIFY2(::stat(name.constData(), &info) == 0, name.constData());
            QCOMPARE(int(info.st_mode & 07777), fileMode);
        }
    }

    void programMakesABelievableDemoAndChecksIt()
    {
        TempDatabase folder(TempDatabase::Content::NoFile); // the program's working directory too
        RunningProgram init("quillpost-db", { "init", "--demo" });
        QCOMPARE(init.finish(), 0);
        QVERIFY2(init.said("Created Quillpost.mdb with demo data."), qPrintable(init.output()));

        // A small address book: a few users in two or three groups, two dialled providers of
        // which one is the default and a WCTP gateway reached by URL with users of its own,
        // every recipient reachable, and waiting messages due now and later, to each way.
        PresetPrompt prompt;
        CQuillpostDoc doc;
        doc.ReloadAll();
        QVERIFY(prompt.shown.isEmpty());
        QVERIFY(doc.m_users.size() >= 4 && doc.m_users.size() <= 8 && doc.m_groups.size() >= 2
            && doc.m_groups.size() <= 3);
        QCOMPARE(doc.m_providers.size(), 3u);
        QCOMPARE(std::count_if(doc.m_providers.begin(), doc.m_providers.end(),
                     [](const auto& provider) { return provider->m_useAsDefault != 0; }),
            1);
        const auto wctp = std::find_if(doc.m_providers.begin(), doc.m_providers.end(),
            [](const auto& provider) { return provider->m_serviceName == kDemoWctpProvider; });
        QVERIFY(wctp != doc.m_providers.end());
        const CarrierAddress address = ParseCarrierAddress((*wctp)->m_accessNumber);
        QVERIFY2(
            address.IsUsable() && address.kind == CarrierKind::Wctp && address.host == "127.0.0.1",
            qPrintable((*wctp)->m_accessNumber));
        QList<int> waiting { 0, 0 }; // due now, due later
        QSet<std::int32_t> dueNowByUrl;
        for (const auto& message : doc.m_messages) {
            QCOMPARE(message->m_messageId, message->m_id);
            const bool dueNow = message->m_requiredSendTime <= CurrentQuillTime();
            for (const auto& entry : message->m_recipients) {
                const auto* provider = doc.FindProviderForUser(entry->m_recipient);
                QVERIFY(provider && !doc.GetTelephoneNumber(entry->m_recipient).isEmpty());
                if (provider == wctp->get() && dueNow
                    && message->m_status == MessageStatus::Waiting)
                    dueNowByUrl.insert(entry->m_recipient);
            }
            if (message->m_status == MessageStatus::Waiting)
                ++waiting[dueNow ? 0 : 1];
        }
        QCOMPARE(waiting[1], 1);
        QVERIFY(waiting[0] >= 3);
        QCOMPARE(dueNowByUrl.size(), 2);

        folder.exec("DROP TABLE Groups");
        RunningProgram check("quillpost-db", { "check", "Quillpost.mdb" });
        QCOMPARE(check.finish(), 1);
        QVERIFY2(check.said("The table Groups is missing."), qPrintable(check.output()));
    }

private:
    TempSettings m_settings;
};

QTEST_GUILESS_MAIN(TestQuillpostDbTool)
#include "test_quillpost_db_tool.moc"

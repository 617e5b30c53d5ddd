// quillpost-db: creating databases (plain and with demo data), never overwriting a
// file, and naming what is wrong with a damaged one; in-process, then once as a program.
#include "DbTool.h"
#include "PresetPrompt.h"
#include "ProgramPath.h"
#include "TempDatabase.h"
#include "data/QuillTime.h"
#include "data/QuillpostDoc.h"
#include "platform/db/DatabaseSchema.h"

#include <QFile>
#include <QProcess>
#include <QTest>

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
    void tablesAndColumnsInOrder();
    void commands_data();
    void commands();
    void programMakesABelievableDemoAndChecksIt();
};

// Every table a new database holds, with its columns in order: written out here once,
// so that the test helpers, which fill rows by the program's own list of columns, stand
// on something the program did not write itself.
void TestQuillpostDbTool::tablesAndColumnsInOrder()
{
    const TempDatabase db;
    const QString groups = "Group1 Group2 Group3 Group4 Group5 Group6 Group7 Group8 Group9 Group10";
    const QStringList tables { "Users ID Name TelephoneNumber PreferredProvider " + groups,
        "Groups ID GroupName",
        "ServiceProviders ID ServiceName AccessNumber BaudRate StopBits Parity DataBits TAPType "
        "UseAsDefault Password",
        "Messages ID Recipient MessageCount MessageId Text Status SendTime RequestTime "
        "RequiredSendTime Retries",
        "SendLog ID AttemptTime MessageId Recipient PagerId Provider Outcome TerminalLine" };
    const QStringList names = db.scalar("SELECT group_concat(name, ' ') FROM (SELECT name FROM "
                                        "sqlite_schema WHERE type = 'table' AND name NOT LIKE "
                                        "'sqlite%' ORDER BY rowid)")
                                  .toString()
                                  .split(' ');
    QStringList made;
    for (const QString& table : names)
        made << table + ' '
                + db.scalar("SELECT group_concat(name, ' ') FROM pragma_table_info(?)", { table })
                      .toString();
    QCOMPARE(made, tables);
}

void TestQuillpostDbTool::commands_data()
{
    // "file:<content>" is written as Quillpost.mdb; anything else is SQL run, statement
    // by statement, on a fresh database ("" leaves it as made, "none" makes no file).
    QTest::addColumn<QString>("existing");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    const QString jet
        = QStringLiteral("file:") + QString(4, QChar(1)) + QStringLiteral("Standard Jet DB");
    const QStringList check { QStringLiteral("check") };
    QTest::newRow("init") << "none" << QStringList { "init" } << 0 << "Created Quillpost.mdb.";
    QTest::newRow("init --demo FILE")
        << "none" << QStringList { "init", "--demo", "Quillpost.mdb" } << 0 << "with demo data";
    QTest::newRow("init over a text file")
        << QString("file:precious notes\n") << QStringList { "init" } << 1 << "already exists";
    QTest::newRow("init --demo over an empty file")
        << "file:" << QStringList { "init", "--demo" } << 1 << "already exists";
    QTest::newRow("init over a Jet database")
        << jet << QStringList { "init", "Quillpost.mdb" } << 1 << "already exists";
    QTest::newRow("check a fresh database") << "" << check << 0 << "is a usable Quillpost database";
    QTest::newRow("check, no file") << "none" << check << 1 << "is not a usable Quillpost database";
    QTest::newRow("check a text file")
        << QString("file:Name,Number\n") << check << 1 << "not an SQLite database";
    QTest::newRow("check a Jet database")
        << jet << QStringList { "check", "Quillpost.mdb" } << 1 << "Jet/Access";
    QTest::newRow("check an empty file") << "file:" << check << 1 << "empty file";
    QTest::newRow("table missing")
        << "DROP TABLE Messages" << check << 1 << "The table Messages is missing.";
    QTest::newRow("column missing") << "ALTER TABLE Users DROP COLUMN Group10" << check << 1
                                    << "The table Users has no column Group10.";
    QTest::newRow("ID not numbered")
        << "DROP TABLE Groups; CREATE TABLE Groups (ID TEXT, GroupName TEXT)" << check << 1
        << "ID of table Groups is not numbered automatically";
    QTest::newRow("ID numbered without AUTOINCREMENT")
        << "DROP TABLE Groups; CREATE TABLE Groups (ID INTEGER PRIMARY KEY, GroupName TEXT)"
        << check << 1 << "ID of table Groups is not declared AUTOINCREMENT";
    QTest::newRow("number column as text")
        << "ALTER TABLE ServiceProviders DROP COLUMN Parity; ALTER TABLE ServiceProviders ADD "
           "Parity TEXT"
        << check << 1 << "Parity of table ServiceProviders is declared TEXT";
    QTest::newRow("check, no send log yet")
        << "DROP TABLE SendLog" << check << 0 << "is a usable Quillpost database";
    QTest::newRow("send log column missing")
        << "ALTER TABLE SendLog DROP COLUMN TerminalLine" << check << 1
        << "The table SendLog has no column TerminalLine.";
    QTest::newRow("log")
        << "INSERT INTO Users (Name) VALUES ('Ann'); INSERT INTO SendLog "
           "(AttemptTime, MessageId, Recipient, PagerId, Provider, Outcome, "
           "TerminalLine) VALUES ('2026-03-10 09:00:00', 5, 1, '1001', "
           "'Metro\tPaging', 2, '511 Invalid Pager ID'), ('2026-03-10 "
           "09:01:00', 6, 9, '1002', 'Metro', 1, '')"
        << QStringList { "log" } << 0
        << "2026-03-10 09:00:00\t5\t1\tAnn\t1001\tMetro Paging\tfailed for "
           "good\t511 Invalid Pager ID\n2026-03-10 09:01:00\t6\t9\t\t1002\tMetro\tsent\t\n";
    QTest::newRow("log, no send log yet")
        << "DROP TABLE SendLog" << QStringList { "log", "Quillpost.mdb" } << 0 << "";
    QTest::newRow("log, no file") << "none" << QStringList { "log" } << 1 << "does not exist";
    QTest::newRow("log of a text file")
        << QString("file:Name,Number\n") << QStringList { "log" } << 1 << "not an SQLite database";
    QTest::newRow("no command") << "none" << QStringList {} << 2 << "Usage:";
    QTest::newRow("unknown command") << "none" << QStringList { "create" } << 2 << "Usage:";
    QTest::newRow("two files") << "none" << QStringList { "init", "a.mdb", "b.mdb" } << 2
                               << "Usage:";
    QTest::newRow("unknown option") << "none" << QStringList { "init", "--force" } << 2 << "Usage:";
}

void TestQuillpostDbTool::commands()
{
    QFETCH(QString, existing);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, said);
    const bool schema
        = existing != QLatin1String("none") && !existing.startsWith(QLatin1String("file:"));
    TempDatabase db(schema ? TempDatabase::Content::Schema : TempDatabase::Content::NoFile);
    if (existing.startsWith(QLatin1String("file:"))) {
        QFile file(db.filePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(existing.mid(5).toLatin1());
    }
    for (const QString& statement :
        schema ? existing.split(QLatin1Char(';'), Qt::SkipEmptyParts) : QStringList())
        db.exec(statement);
    const QByteArray before = contentOf(db.filePath());

    QString output;
    QTextStream stream(&output);
    QCOMPARE(RunDbTool(arguments, stream, stream), status);
    QVERIFY2(output.contains(said), qPrintable(output));
    if (status == 0 && arguments.value(0) == QLatin1String("init")) {
        QCOMPARE(db.journalMode(), QStringLiteral("wal")); // before any later open switches it
        QCOMPARE(FindDatabaseProblems(db.filePath()), QStringList());
    } else
        QCOMPARE(
            contentOf(db.filePath()), before); // nothing refused or checked is changed or created
}

void TestQuillpostDbTool::programMakesABelievableDemoAndChecksIt()
{
    TempDatabase folder(TempDatabase::Content::NoFile); // the working directory of the program too
    const auto run = [](const QStringList& arguments) {
        QProcess process;
        process.start(ProgramPath(QStringLiteral("quillpost-db")), arguments);
        if (!process.waitForFinished(30000))
            process.kill();
        process.waitForFinished(5000);
        const int status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return QString::number(status) + QLatin1Char(' ')
            + QString::fromUtf8(process.readAll() + process.readAllStandardError());
    };
    QVERIFY(run({ QStringLiteral("init"), QStringLiteral("--demo") })
                .startsWith(QLatin1String("0 Created")));

    // A small address book: a few users in two or three groups, two providers of which
    // one is the default, every recipient reachable, and waiting messages due now and later.
    PresetPrompt prompt;
    CQuillpostDoc doc;
    doc.ReloadAll();
    QVERIFY(prompt.shown.isEmpty());
    QVERIFY(doc.m_users.size() >= 4 && doc.m_users.size() <= 8 && doc.m_groups.size() >= 2
        && doc.m_groups.size() <= 3);
    QCOMPARE(doc.m_providers.size(), 2u);
    QVERIFY(doc.m_providers[0]->m_useAsDefault != doc.m_providers[1]->m_useAsDefault);
    QList<int> waiting { 0, 0 }; // due now, due later
    for (const auto& message : doc.m_messages) {
        QCOMPARE(message->m_messageId, message->m_id);
        for (const auto& entry : message->m_recipients)
            QVERIFY(doc.FindProviderForUser(entry->m_recipient)
                && !doc.GetTelephoneNumber(entry->m_recipient).isEmpty());
        if (message->m_status == 0)
            ++waiting[message->m_requiredSendTime <= CurrentQuillTime() ? 0 : 1];
    }
    QCOMPARE(waiting[1], 1);
    QVERIFY(waiting[0] >= 2);

    folder.exec(QStringLiteral("DROP TABLE Groups"));
    const QString damaged = run({ QStringLiteral("check"), QStringLiteral("Quillpost.mdb") });
    QVERIFY2(damaged.startsWith(QLatin1String("1 "))
            && damaged.contains(QLatin1String("The table Groups is missing.")),
        qPrintable(damaged));
}

QTEST_GUILESS_MAIN(TestQuillpostDbTool)
#include "test_quillpost_db_tool.moc"

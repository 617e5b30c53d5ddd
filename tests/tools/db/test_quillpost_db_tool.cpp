// quillpost-db: creating databases (plain and with demo data), never overwriting a
// file, and naming what is wrong with a damaged one; in-process and as a program.
#include "DbTool.h"
#include "PresetPrompt.h"
#include "TempDatabase.h"
#include "data/QuillTime.h"
#include "data/QuillpostDoc.h"

#include <QFile>
#include <QProcess>
#include <QTest>

namespace {

struct ToolRun
{
    int status;
    QString out;
    QString err;
};

ToolRun runInProcess(const QStringList& arguments)
{
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    const int status = RunDbTool(arguments, outStream, errStream);
    return { status, out, err };
}

ToolRun runProgram(const QStringList& arguments, const QString& folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(qEnvironmentVariable("QUILLPOST_BIN_DIR") + QStringLiteral("/quillpost-db"), arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(5000);
        return { -1, QString(), QStringLiteral("did not finish") };
    }
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
             QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError()) };
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestQuillpostDbTool : public QObject
{
    Q_OBJECT

private slots:
    void initMakesAnEmptyUsableDatabase();
    void demoDataIsABelievableAddressBook();
    void initNeverOverwrites_data();
    void initNeverOverwrites();
    void checkNamesTheFault_data();
    void checkNamesTheFault();
    void badUsageIsExplained_data();
    void badUsageIsExplained();
    void programCreatesAndChecksInTheWorkingDirectory();
};

void TestQuillpostDbTool::initMakesAnEmptyUsableDatabase()
{
    TempDatabase folder(TempDatabase::Content::NoFile);
    const ToolRun init = runInProcess({ QStringLiteral("init") });
    QCOMPARE(init.status, 0);
    QVERIFY(QFile::exists(folder.filePath()));
    const ToolRun check = runInProcess({ QStringLiteral("check"), folder.filePath() });
    QCOMPARE(check.status, 0);
    QVERIFY2(check.out.contains(QLatin1String("is a usable Quillpost database")), qPrintable(check.out));

    PresetPrompt prompt;
    CQuillpostDoc doc;
    doc.ReloadAll();
    QVERIFY(prompt.shown.isEmpty());
    QVERIFY(doc.m_users.empty() && doc.m_groups.empty() && doc.m_messages.empty() && doc.m_providers.empty());
}

void TestQuillpostDbTool::demoDataIsABelievableAddressBook()
{
    TempDatabase folder(TempDatabase::Content::NoFile);
    QCOMPARE(runInProcess({ QStringLiteral("init"), QStringLiteral("--demo") }).status, 0);

    PresetPrompt prompt;
    CQuillpostDoc doc;
    doc.ReloadAll();
    QVERIFY(prompt.shown.isEmpty());
    QVERIFY(doc.m_users.size() >= 4 && doc.m_users.size() <= 8);
    QVERIFY(doc.m_groups.size() >= 2 && doc.m_groups.size() <= 3);
    QCOMPARE(doc.m_providers.size(), 2u);
    QCOMPARE(std::count_if(doc.m_providers.begin(), doc.m_providers.end(), [](const auto& p) { return p->m_useAsDefault; }), 1);

    // Every group has members, and every user is in a group that exists.
    for (const auto& group : doc.m_groups) {
        QVERIFY(std::any_of(doc.m_users.begin(), doc.m_users.end(), [&group](const auto& user) {
            return std::find(user->m_groupIds.begin(), user->m_groupIds.end(), group->m_id) != user->m_groupIds.end();
        }));
    }

    const QuillTime now = CurrentQuillTime();
    int dueNow = 0;
    int dueLater = 0;
    for (const auto& message : doc.m_messages) {
        QCOMPARE(message->m_messageId, message->m_id);
        QVERIFY(!message->m_text.isEmpty());
        for (const auto& entry : message->m_recipients) {
            QVERIFY(doc.FindProviderForUser(entry->m_recipient) != nullptr);
            QVERIFY(!doc.GetTelephoneNumber(entry->m_recipient).isEmpty());
        }
        if (message->m_status == 0 && message->m_requiredSendTime <= now)
            ++dueNow;
        if (message->m_status == 0 && message->m_requiredSendTime > now)
            ++dueLater;
    }
    QVERIFY(dueNow >= 2);
    QCOMPARE(dueLater, 1);
}

void TestQuillpostDbTool::initNeverOverwrites_data()
{
    QTest::addColumn<bool>("demo");
    QTest::addColumn<QByteArray>("existing");
    QTest::newRow("text file") << false << QByteArray("precious notes\n");
    QTest::newRow("empty file, demo") << true << QByteArray();
    QTest::newRow("Jet database") << false << QByteArray(4, '\0').append("Standard Jet DB").append(QByteArray(64, '\0'));
}

void TestQuillpostDbTool::initNeverOverwrites()
{
    QFETCH(bool, demo);
    QFETCH(QByteArray, existing);
    TempDatabase folder(TempDatabase::Content::NoFile);
    writeFile(folder.filePath(), existing);

    QStringList arguments { QStringLiteral("init") };
    if (demo)
        arguments.append(QStringLiteral("--demo"));
    arguments.append(folder.filePath());
    const ToolRun run = runInProcess(arguments);
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(QLatin1String("already exists")), qPrintable(run.err));
    QCOMPARE(readFile(folder.filePath()), existing);
}

void TestQuillpostDbTool::checkNamesTheFault_data()
{
    QTest::addColumn<QString>("damage"); // SQL run on a fresh database, or "file:<content>"
    QTest::addColumn<QString>("named");
    QTest::newRow("text file") << "file:Name,Number\n" << "not an SQLite database";
    QTest::newRow("Jet database") << QStringLiteral("file:") + QString(4, QChar(1)) + "Standard Jet DB" << "Jet/Access";
    QTest::newRow("empty file") << "file:" << "empty file";
    QTest::newRow("table missing") << "DROP TABLE Messages" << "The table Messages is missing.";
    QTest::newRow("column missing") << "ALTER TABLE Users DROP COLUMN Group10" << "The table Users has no column Group10.";
    QTest::newRow("ID not numbered")
        << "DROP TABLE Groups; CREATE TABLE Groups (ID TEXT, GroupName TEXT)" << "ID of table Groups is not numbered automatically";
    QTest::newRow("number column as text")
        << "DROP TABLE Groups; CREATE TABLE Groups (ID INTEGER PRIMARY KEY, GroupName TEXT); "
           "ALTER TABLE ServiceProviders DROP COLUMN Parity; ALTER TABLE ServiceProviders ADD COLUMN Parity TEXT"
        << "Parity of table ServiceProviders is declared TEXT";
}

void TestQuillpostDbTool::checkNamesTheFault()
{
    QFETCH(QString, damage);
    QFETCH(QString, named);
    TempDatabase db(damage.startsWith(QLatin1String("file:")) ? TempDatabase::Content::NoFile : TempDatabase::Content::Schema);
    if (damage.startsWith(QLatin1String("file:"))) {
        writeFile(db.filePath(), damage.mid(5).toLatin1());
    } else {
        for (const QString& statement : damage.split(QLatin1Char(';')))
            db.exec(statement);
    }
    const QByteArray before = readFile(db.filePath());
    const ToolRun run = runInProcess({ QStringLiteral("check") });
    QCOMPARE(run.status, 1);
    QVERIFY2(run.out.contains(QLatin1String("is not a usable Quillpost database")), qPrintable(run.out));
    QVERIFY2(run.out.contains(named), qPrintable(run.out));
    QCOMPARE(readFile(db.filePath()), before);
}

void TestQuillpostDbTool::badUsageIsExplained_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("nothing") << QStringList {};
    QTest::newRow("unknown command") << QStringList { "create" };
    QTest::newRow("two files") << QStringList { "init", "a.mdb", "b.mdb" };
    QTest::newRow("unknown option") << QStringList { "init", "--force" };
    QTest::newRow("check option") << QStringList { "check", "--demo" };
}

void TestQuillpostDbTool::badUsageIsExplained()
{
    QFETCH(QStringList, arguments);
    TempDatabase folder(TempDatabase::Content::NoFile);
    const ToolRun run = runInProcess(arguments);
    QCOMPARE(run.status, 2);
    QVERIFY(run.err.contains(QLatin1String("Usage:")));
    QVERIFY(!QFile::exists(folder.filePath()));
}

void TestQuillpostDbTool::programCreatesAndChecksInTheWorkingDirectory()
{
    TempDatabase folder(TempDatabase::Content::NoFile);
    const ToolRun init = runProgram({ QStringLiteral("init"), QStringLiteral("--demo") }, folder.folder());
    QCOMPARE(init.status, 0);
    QVERIFY(QFile::exists(folder.filePath()));
    const QByteArray made = readFile(folder.filePath());

    const ToolRun again = runProgram({ QStringLiteral("init") }, folder.folder());
    QCOMPARE(again.status, 1);
    QVERIFY2(again.err.contains(QLatin1String("already exists")), qPrintable(again.err));
    QCOMPARE(readFile(folder.filePath()), made);

    const ToolRun check = runProgram({ QStringLiteral("check") }, folder.folder());
    QCOMPARE(check.status, 0);
    QVERIFY(check.out.contains(QLatin1String("usable")));

    folder.exec(QStringLiteral("DROP TABLE Groups"));
    const ToolRun damaged = runProgram({ QStringLiteral("check"), QStringLiteral("Quillpost.mdb") }, folder.folder());
    QCOMPARE(damaged.status, 1);
    QVERIFY2(damaged.out.contains(QLatin1String("The table Groups is missing.")), qPrintable(damaged.out));
}

QTEST_GUILESS_MAIN(TestQuillpostDbTool)
#include "test_quillpost_db_tool.moc"

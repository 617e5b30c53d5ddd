// Files the program may be pointed at by mistake, find damaged or not find at all: it
// says so at most once, keeps what it could read, never crashes, and leaves a file it
// does not understand exactly as it was (and makes none where there was none).
#include "PresetPrompt.h"
#include "ReliabilityFigures.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "app/QuillpostApp.h"
#include "data/QuillpostDoc.h"
#include "dispatch/MessageQueue.h"
#include "dispatch/SendOrder.h"
#include "platform/db/DaoException.h"

#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

namespace {

const QString kLoadFailed
    = QStringLiteral("Unable to open database properly - check database is in working directory");
const QString kRollback = QStringLiteral("PRAGMA journal_mode=DELETE");
const QString kForeign
    = QStringLiteral("DROP TABLE Messages;DROP TABLE Users;DROP TABLE Groups;"
                     "DROP TABLE ServiceProviders;CREATE TABLE Notes (Body TEXT)");

// The bytes of the file and of those SQLite keeps beside it.
QByteArray Contents(const QString& path)
{
    QByteArray contents;
    for (const QString& name : { path, path + "-wal", path + "-journal" })
        if (QFile file(name); file.open(QIODevice::ReadOnly))
            contents += file.readAll();
    return contents;
}

} // namespace

class TestBadDatabaseFiles : public QObject
{
    Q_OBJECT

private slots:
    // "none" removes the file, "jet" replaces it with a Jet/Access file's first bytes (an
    // empty or any other file not SQLite's is refused the same way: see test_dao_recordset);
    // anything else is SQL run on a database holding two users with a message each, a
    // group and two providers, on a plain connection that skips the length checks the
    // program's own files carry, as a file made by another tool would lack them.
    void documentKeepsWhatItCouldRead_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QList<int>>("sizes"); // the document's users, groups, messages, providers
        // What the program makes of it: "complains" shows the load message, "understood" may
        // be written to, "program" starts the desktop program on it too.
        QTest::addColumn<QString>("outcome");
        const auto row
            = [](const char* name, const QString& damage, const QList<int>& sizes,
                  const char* outcome) { QTest::newRow(name) << damage << sizes << outcome; };
        row("no file", "none", { 0, 0, 0, 0 }, "complains program");
        row("Jet/Access file", "jet", { 0, 0, 0, 0 }, "complains program");
        row("another program's database", kForeign, { 0, 0, 0, 0 }, "complains");
        row("Messages table missing", "DROP TABLE Messages", { 2, 1, 0, 0 }, "complains program");
        row("NULL in every column",
            "INSERT INTO Users (ID) VALUES (NULL);INSERT INTO Groups (ID) VALUES (NULL);"
            "INSERT INTO Messages (ID) VALUES (NULL);"
            "INSERT INTO ServiceProviders (ID) VALUES (NULL)",
            { 3, 2, 3, 3 }, "understood");
        row("Text over 255 characters",
            "UPDATE Messages SET Text = '" + QString(1000, 'x') + "' WHERE ID = 1", { 2, 1, 2, 2 },
            "understood");
        row("dates out of range",
            "UPDATE Messages SET RequiredSendTime = '9999-12-31 23:59:59' WHERE ID = 1;"
            "UPDATE Messages SET SendTime = '1601-01-01'",
            { 2, 1, 2, 2 }, "understood");
        row("unparseable date", "UPDATE Messages SET RequestTime = 'next Tuesday' WHERE ID = 2",
            { 2, 1, 1, 0 }, "complains understood");
        // Files in rollback-journal mode, as other tools leave them, are switched to the
        // write-ahead log only when they hold Quillpost's tables (a whole file is switched in
        // test_dao_recordset's opening).
        row("another program's database, rollback journal", kRollback + ';' + kForeign,
            { 0, 0, 0, 0 }, "complains program");
        row("Messages table missing, rollback journal", kRollback + ";DROP TABLE Messages",
            { 2, 1, 0, 0 }, "complains");
    }

    // Loads, lets the scheduler look, reloads as the scheduler does when nothing changed,
    // and tries to queue a message. The desktop program then starts, shows the load
    // message once however often its scheduler runs, and keeps its hands off the file.
    void documentKeepsWhatItCouldRead()
    {
        QFETCH(QString, damage);
        QFETCH(QList<int>, sizes);
        QFETCH(QString, outcome);
        TempSettings settings;
        TempDatabase db;
        if (damage == "none") {
            QVERIFY(QFile::remove(db.filePath()));
        } else if (damage == "jet") {
            QFile file(db.filePath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray("\x00\x01\x00\x00Standard Jet DB", 19).leftJustified(2048, '\0'));
        } else {
            for (int user : { 1, 2 })
                db.addMessageRow(
                    db.addUser(QStringLiteral("User %1").arg(user), "100" + QString::number(user)),
                    user, "Theatre 3 ready");
            db.addGroup("Porters");
            db.addProvider("North", "5550100", 1);
            db.addProvider("South", "5550200");
            QSqlDatabase unchecked = QSqlDatabase::addDatabase("QSQLITE", "unchecked");
            unchecked.setDatabaseName(db.filePath());
            QVERIFY(unchecked.open());
            QSqlQuery query(unchecked);
            for (const QString& statement :
                ("PRAGMA ignore_check_constraints = 1;" + damage).split(';'))
                QVERIFY2(query.exec(statement), qPrintable(query.lastError().text()));
        }
        QSqlDatabase::removeDatabase("unchecked");
        const QByteArray before = Contents(db.filePath());
        PresetPrompt prompt;

        // The operator's message stays general; why the load stopped goes to the log.
        const bool complains = outcome.contains("complains");
        if (complains)
            QTest::ignoreMessage(
                QtWarningMsg, QRegularExpression("^The tables were read only in part: .+"));
        CQuillpostDoc doc;
        doc.ReloadAll();
        QCOMPARE((QList<int> { int(doc.m_users.size()), int(doc.m_groups.size()),
                     int(doc.m_messages.size()), int(doc.m_providers.size()) }),
            sizes);
        ChooseDueSend(doc);
        QVERIFY(!doc.ReloadIfChanged());
        QCOMPARE(prompt.shown, complains ? QStringList { kLoadFailed } : QStringList {});

        if (outcome.contains("understood")) {
            QVERIFY(QueueMessage("Call theatre 3", COleDateTime(2026, 1, 1, 0, 0, 0), { 1 }));
        } else {
            QVERIFY_THROWS_EXCEPTION(CDaoException,
                QueueMessage("Call theatre 3", COleDateTime(2026, 1, 1, 0, 0, 0), { 1 }));
            QCOMPARE(Contents(db.filePath()), before);
        }
        if (damage.startsWith(kRollback))
            QCOMPARE(db.journalMode(), outcome.contains("understood") ? "wal" : "delete");
        ++m_filesTried;
        if (!outcome.contains("program"))
            return;
        prompt.shown.clear();
        {
            CQuillpostApp app;
            QVERIFY(app.InitInstance());
            for (int run = 0; run < 3; ++run)
                app.RunScheduler();
            QVERIFY(!app.IsSendInProgress());
        }
        QCOMPARE(prompt.shown, QStringList { kLoadFailed });
        QCOMPARE(Contents(db.filePath()), before);
        ++m_filesTried;
    }

    void cleanupTestCase() { RecordReliabilityFigures({ { "badFiles", m_filesTried } }); }

private:
    int m_filesTried = 0;
};

QTEST_MAIN(TestBadDatabaseFiles)
#include "test_bad_database_files.moc"

#include "PresetPrompt.h"
#include "ReliabilityFigures.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "app/QuillpostApp.h"
#include "data/QuillpostDoc.h"
#include "dispatch/MessageQueue.h"
#include "dispatch/SendOrder.h"
#include "platform/db/DaoException.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

// Files the program may be pointed at by mistake, find damaged or not find at all: it
// says so at most once, keeps what it could read, never crashes, and leaves a file it
// does not understand exactly as it was (and makes none where there was none).
namespace {

const QString kLoadFailed
    = QStringLiteral("Unable to open database properly - check database is in working directory");

// Runs the statements on a plain connection that skips the length checks the program's
// own files carry, as a file made by another tool would lack them.
void ExecUnchecked(const QString& path, const QStringList& statements)
{
    {
        QSqlDatabase database = QSqlDatabase::addDatabase("QSQLITE", "unchecked");
        database.setDatabaseName(path);
        database.open();
        QSqlQuery query(database);
        for (const QString& statement :
            QStringList("PRAGMA ignore_check_constraints = 1") + statements)
            if (!query.exec(statement))
                qFatal("%s: %s", qPrintable(statement), qPrintable(query.lastError().text()));
    }
    QSqlDatabase::removeDatabase("unchecked");
}

// "none" removes the file, "jet" replaces it with a Jet/Access file's first bytes (an
// empty or any other file not SQLite's is refused the same way: see test_dao_recordset);
// anything else is SQL run on a database holding two users with a message each, a group
// and two providers.
void Spoil(const TempDatabase& db, const QString& damage)
{
    if (damage == "none" || damage == "jet") {
        const QByteArray jet
            = QByteArray("\x00\x01\x00\x00Standard Jet DB", 19).leftJustified(2048, '\0');
        QFile file(db.filePath());
        if (damage == "none" ? !file.remove()
                             : (!file.open(QIODevice::WriteOnly) || file.write(jet) != jet.size()))
            qFatal("cannot spoil %s", qPrintable(db.filePath()));
        return;
    }
    for (int user : { 1, 2 })
        db.addMessageRow(
            db.addUser(QStringLiteral("User %1").arg(user), QStringLiteral("100%1").arg(user)),
            user, "Theatre 3 ready");
    db.addGroup("Porters");
    db.addProvider("North", "5550100", 1);
    db.addProvider("South", "5550200");
    ExecUnchecked(db.filePath(), damage.split(QLatin1Char(';')));
}

// The file's bytes and those of the files SQLite keeps beside it.
QByteArray Fingerprint(const QString& path)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString& name : { path, path + "-wal", path + "-journal" }) {
        QFile file(name);
        hash.addData(name.toUtf8());
        if (file.open(QIODevice::ReadOnly))
            hash.addData(file.readAll());
    }
    return hash.result();
}

} // namespace

class TestBadDatabaseFiles : public QObject
{
    Q_OBJECT

private slots:
    void documentKeepsWhatItCouldRead_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QList<int>>("sizes"); // users, groups, messages, providers
        QTest::addColumn<bool>("complains");
        QTest::addColumn<bool>("understood"); // may be written to
        QTest::addColumn<bool>("program"); // the desktop program is started on it too
        const QList<int> none { 0, 0, 0, 0 };
        const QList<int> all { 2, 1, 2, 2 };

        QTest::newRow("no file") << "none" << none << true << false << true;
        QTest::newRow("Jet/Access file") << "jet" << none << true << false << true;
        QTest::newRow("another program's database")
            << "DROP TABLE Messages;DROP TABLE Users;DROP TABLE Groups;"
               "DROP TABLE ServiceProviders;CREATE TABLE Notes (ID INTEGER PRIMARY KEY, Body TEXT)"
            << none << true << false << false;
        QTest::newRow("Messages table missing")
            << "DROP TABLE Messages" << QList<int> { 2, 1, 0, 0 } << true << false << true;
        QTest::newRow("NULL in every column")
            << "INSERT INTO Users (ID) VALUES (NULL);INSERT INTO Groups (ID) VALUES (NULL);"
               "INSERT INTO Messages (ID) VALUES (NULL);"
               "INSERT INTO ServiceProviders (ID) VALUES (NULL)"
            << QList<int> { 3, 2, 3, 3 } << false << true << false;
        QTest::newRow("Text over 255 characters")
            << QStringLiteral("UPDATE Messages SET Text = '%1' WHERE ID = 1")
                   .arg(QString(1000, 'x'))
            << all << false << true << false;
        QTest::newRow("dates out of range")
            << "UPDATE Messages SET RequiredSendTime = '9999-12-31 23:59:59' "
               "WHERE ID = 1;UPDATE Messages SET SendTime = '1601-01-01'"
            << all << false << true << false;
        QTest::newRow("unparseable date")
            << "UPDATE Messages SET RequestTime = 'next Tuesday' WHERE ID = 2"
            << QList<int> { 2, 1, 1, 0 } << true << true << false;
        // Files in rollback-journal mode, as other tools leave them: only a file holding
        // Quillpost's tables is switched to the write-ahead log.
        const QString rollback = "PRAGMA journal_mode=DELETE";
        QTest::newRow("rollback journal") << rollback << all << false << true << false;
        QTest::newRow("another program's database, rollback journal")
            << rollback
                + ";DROP TABLE Messages;DROP TABLE Users;DROP TABLE Groups;"
                  "DROP TABLE ServiceProviders;CREATE TABLE Notes (Body TEXT)"
            << none << true << false << true;
        QTest::newRow("Messages table missing, rollback journal")
            << rollback + ";DROP TABLE Messages" << QList<int> { 2, 1, 0, 0 } << true << false
            << false;
    }

    // Loads, lets the scheduler look, reloads as the scheduler does when nothing changed,
    // and tries to queue a message. The desktop program then starts, shows the load
    // message once however often its scheduler runs, and keeps its hands off the file.
    void documentKeepsWhatItCouldRead()
    {
        QFETCH(QString, damage);
        QFETCH(QList<int>, sizes);
        QFETCH(bool, complains);
        QFETCH(bool, understood);
        QFETCH(bool, program);
        TempSettings settings;
        TempDatabase db;
        Spoil(db, damage);
        const bool rollback = damage.startsWith("PRAGMA journal_mode=DELETE");
        if (rollback)
            QCOMPARE(db.journalMode(), "delete");
        const QByteArray before = Fingerprint(db.filePath());
        PresetPrompt prompt;

        // The operator's message stays general; why the load stopped goes to the log.
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

        try {
            QueueMessage("Call theatre 3", COleDateTime(2026, 1, 1, 0, 0, 0), { 1 });
            QVERIFY(understood);
        } catch (const CDaoException& failure) {
            QVERIFY(!failure.reason().isEmpty());
        }
        if (!understood)
            QCOMPARE(Fingerprint(db.filePath()), before);
        if (rollback)
            QCOMPARE(db.journalMode(), understood ? "wal" : "delete");
        ++m_filesTried;
        if (!program)
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
        QCOMPARE(Fingerprint(db.filePath()), before);
        ++m_filesTried;
    }

    void cleanupTestCase() { RecordReliabilityFigures({ { "badFiles", m_filesTried } }); }

private:
    int m_filesTried = 0;
};

QTEST_MAIN(TestBadDatabaseFiles)
#include "test_bad_database_files.moc"

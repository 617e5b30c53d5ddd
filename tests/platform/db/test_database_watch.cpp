// What the database watch calls a change: every commit made through another connection
// (another program's, or one of this program's record sets), even one that leaves the
// file's size and time as they were; nothing else, and a file that cannot be read once.
#include "RunningProgram.h"
#include "TempDatabase.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoRecordset.h"
#include "platform/db/DatabaseSchema.h"
#include "platform/db/DatabaseWatch.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QString kFlip = QStringLiteral(
    "UPDATE Groups SET GroupName = CASE GroupName WHEN 'Ann' THEN 'Bob' ELSE 'Ann' END");

QString databasePath()
{
    return CDaoRecordset::DefaultDatabasePath();
}

// Through the program's own record set layer: a connection of its own, as every record
// set has.
void exec(const QString& path, const QString& sql)
{
    DaoConnection(path).Execute(sql, {}, sql);
}

void makeDatabase(const QString& path)
{
    CreateQuillpostDatabase(path);
    exec(path, QStringLiteral("INSERT INTO Groups (GroupName) VALUES ('Ann')"));
    exec(path, QStringLiteral("INSERT INTO Users (Name) VALUES ('Ann')"));
}

} // namespace

class TestDatabaseWatch : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        CDaoRecordset::SetDefaultDatabaseName(QStringLiteral("Quillpost.mdb"));
        m_db.reset();
    }

    // Each step is an action and whether the look after it sees a change (+) or not (-):
    // look (nothing done), flip (a name of the same length changed through a plain
    // connection of another program, the file's time put back), own (the same through the
    // program's own record set layer), send (quillpost-send queues a message), remove, garbage (a file that is no database),
    // create, replace (another database moved over the file), mend (another database's
    // bytes written into the file), switch (another database chosen as the default).
    void looks_data()
    {
        QTest::addColumn<QString>("start"); // the file's journal mode; "none": no file
        QTest::addColumn<QString>("steps");
        QTest::newRow("commits in the log")
            << "wal" << "look+ look- flip+ flip+ own+ look- send+ own+ send+ look-";
        QTest::newRow("commits in the file") << "delete" << "look+ flip+ flip+ look- flip+";
        QTest::newRow("file appears later") << "none" << "look+ look- create+ look- flip+";
        QTest::newRow("file removed, made anew") << "wal" << "look+ remove+ look- create+ look-";
        QTest::newRow("unreadable, then mended")
            << "none" << "look+ garbage+ look- look- replace+ look- own+";
        QTest::newRow("unreadable, mended in place")
            << "none" << "look+ garbage+ look- mend+ look- own+";
        QTest::newRow("replaced under the watch") << "delete" << "look+ replace+ look- flip+";
        QTest::newRow("another database chosen") << "wal" << "look+ switch+ look- flip+ look-";
    }

    void looks()
    {
        QFETCH(QString, start);
        QFETCH(QString, steps);
        m_db = std::make_unique<TempDatabase>(
            start == "none" ? TempDatabase::Content::NoFile : TempDatabase::Content::Schema);
        if (start != "none") {
            m_db->addGroup("Ann");
            m_db->addUser("Ann", "101");
            QCOMPARE(m_db->journalMode(start), start);
        }
        CDatabaseWatch watch;
        for (const QString& step : steps.split(' ')) {
            act(step.chopped(1));
            QVERIFY2(watch.HasChanged() == step.endsWith('+'), qPrintable(step));
        }
    }

private:
    void act(const QString& action)
    {
        const QString path = databasePath();
        if (action == "flip")
            flipKeepingTime(path);
        else if (action == "own")
            exec(path, kFlip);
        else if (action == "send")
            QCOMPARE(RunningProgram("quillpost-send", { "--db", path, "--to", "#1", "x" }).finish(), 0);
        else if (action == "remove")
            for (const char* suffix : { "", "-wal", "-shm" })
                QFile::remove(path + suffix);
        else if (action == "garbage")
            writeGarbage(path);
        else if (action == "create")
            makeDatabase(path);
        else if (action == "replace") {
            makeDatabase("fresh.mdb");
            QVERIFY(::rename("fresh.mdb", QFile::encodeName(path).constData()) == 0);
        } else if (action == "mend") {
            makeDatabase("fresh.mdb");
            QFile fresh("fresh.mdb");
            QFile file(path);
            QVERIFY(fresh.open(QIODevice::ReadOnly));
            QVERIFY(file.open(QIODevice::ReadWrite | QIODevice::Truncate));
            QVERIFY(file.write(fresh.readAll()) > 0);
        } else if (action == "switch") {
            makeDatabase("other.mdb");
            CDaoRecordset::SetDefaultDatabaseName("other.mdb");
        } else
            QVERIFY2(action == "look", qPrintable(action));
    }

    // Through a connection that leaves the journal mode as it is; the file keeps its size
    // and gets its time back, as under a clock that did not move.
    static void flipKeepingTime(const QString& path)
    {
        struct stat before {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &before), 0);
        {
            QSqlDatabase plain = QSqlDatabase::addDatabase("QSQLITE", "plain");
            plain.setDatabaseName(path);
            QVERIFY(plain.open());
            QSqlQuery query(plain);
            QVERIFY2(query.exec(kFlip), qPrintable(query.lastError().text()));
        }
        QSqlDatabase::removeDatabase("plain");
        const timespec times[2] = { before.st_atim, before.st_mtim };
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
        struct stat after {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &after), 0);
        QCOMPARE(after.st_size, before.st_size);
        QCOMPARE(after.st_ino, before.st_ino);
    }

    static void writeGarbage(const QString& path)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(QByteArray(4096, 'x')) == 4096);
    }

    std::unique_ptr<TempDatabase> m_db;
};

QTEST_GUILESS_MAIN(TestDatabaseWatch)
#include "test_database_watch.moc"

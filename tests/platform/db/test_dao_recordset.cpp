// Record sets over a temporary SQLite file, in what only a file does: criteria filters, another
// writer's lock, every way the file can fail a read or a write, unreadable values met by a
// forward-only walk, the journal and the SQLite library opening settles on, a command's
// failure shown once, and what the database watch calls a change of the file.
// (What a database on a server does alike: test_both_backends.)
#include "DaoFailure.h"
#include "PresetPrompt.h"
#include "TempDatabase.h"
#include "WriteLockHolder.h"
#include "data/GroupMembers.h"
#include "data/Recordsets.h"
#include "platform/CommandErrors.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoWorkspace.h"
#include "platform/db/DatabaseSchema.h"
#include "platform/db/DatabaseWatch.h"
#include "platform/db/SqliteLibrary.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTest>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <sys/fsuid.h>
#include <unistd.h>

namespace {

using Kind = CDaoException::Kind;

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

} // namespace

class TestDaoRecordset : public QObject
{
    Q_OBJECT

private slots:
    // Users 1..10: the k-th has group 7 in column Group<k> and group 3 in the others; four
    // messages. Made once, and copied for each test.
    void initTestCase()
    {
        for (int column = 0; column < 10; ++column) {
            std::array<std::int32_t, 10> groups { 3, 3, 3, 3, 3, 3, 3, 3, 3, 3 };
            groups[column] = 7;
            m_template.addUser(QStringLiteral("Member %1").arg(column), "1", 0, groups);
        }
        m_template.addUser("Near misses", "11", 0, { 70, 17, -7 }); // 11
        m_template.addUser("Provider seven", "12", 7, { 8 }); // 12
        for (int recipient : { 1, 2, 3, 4 })
            m_template.addMessageRow(recipient, 1, "text");
    }

    void init()
    {
        m_db.emplace(TempDatabase::Content::NoFile);
        QVERIFY(QFile::copy(m_template.filePath(), m_db->filePath()));
    }

    void cleanup() { CDaoRecordset::SetDefaultDatabaseName(QStringLiteral("Quillpost.mdb")); }

    void criteriaFindExactlyTheirRows_data()
    {
        QTest::addColumn<QString>("criteria");
        QTest::addColumn<QList<int>>("ids"); // none: turned down with a reason quoting them
        QTest::newRow("group 7 in any column, not 70/17/-7 nor as provider")
            << GroupMemberCriteria(7) << QList<int> { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 };
        // Anything but comparisons of a number column with a whole number is refused.
        for (const char* refused : { "ID = 1; DROP TABLE Users", "ID = 1 --", "ID = 1 OR 1 = 1",
                 "ID = (SELECT max(ID) FROM Users)", "ID = '1'", "Name = 1", "Group11 = 7",
                 "ID > 0", "ID = 2147483648", "\"ID\" = 1", "ID = 1 AND" })
            QTest::newRow(refused) << QString(refused) << QList<int>();
    }

    void criteriaFindExactlyTheirRows()
    {
        QFETCH(QString, criteria);
        QFETCH(QList<int>, ids);
        CUsersRecordset users;
        users.m_strFilter = criteria;
        QList<int> found;
        const QString failure = DaoFailureOf([&] {
            for (users.Open(); !users.IsEOF(); users.MoveNext())
                found.append(users.m_ID);
        });
        if (ids.isEmpty())
            QVERIFY(failure.startsWith(
                QString::number(int(Kind::BadCriteria)) + ": The search \"" + criteria));
        else
            QCOMPARE(found, ids);
        QCOMPARE(m_db->scalar("SELECT count(*) FROM Users").toInt(), 12);
    }

    void failureIsOneExceptionAndChangesNothing_data()
    {
        // "file:<content>" replaces the database; "sql:" damages it before the record set opens,
        // "late:" between Open and Update. (A file that is no database at all, or misses a table:
        // test_bad_database_files; a lock held too long: writerWaitsForAnotherWritersLock.)
        QTest::addColumn<QString>("setup");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("said");
        const QByteArray damaged = QByteArray("SQLite format 3") + '\0' + QByteArray(4080, '\x7f');
        QTest::newRow("empty file") << "file:" << Kind::NotADatabase << "empty";
        QTest::newRow("damaged SQLite header")
            << QString::fromLatin1("file:" + damaged) << Kind::NotADatabase << "Quillpost.mdb";
        QTest::newRow("column missing") << "sql:ALTER TABLE Messages DROP COLUMN Retries"
                                        << Kind::MissingTableOrColumn << "Retries";
        QTest::newRow("read-only file") << "read-only" << Kind::ReadOnly << "readonly";
        QTest::newRow("row deleted by another")
            << "late:DELETE FROM Messages" << Kind::Other << "no longer exists";
    }

    void failureIsOneExceptionAndChangesNothing()
    {
        QFETCH(QString, setup);
        QFETCH(Kind, kind);
        QFETCH(QString, said);
        const QStringList connectionsBefore = QSqlDatabase::connectionNames();
        const QString path = m_db->filePath();
        if (QFile file(path); setup.startsWith("file:"))
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(setup.mid(5).toLatin1()) >= 0);
        if (setup.startsWith("sql:"))
            m_db->exec(setup.mid(4));
        // Acting as the superuser again at the end; the folder goes whoever owns it.
        auto superuserAgain = qScopeGuard([] { setfsuid(geteuid()); });
        if (setup == "read-only" && geteuid() == 0) {
            // Permissions do not stop the superuser: the folder and the file go to an
            // unprivileged user, as whom this thread then opens files.
            constexpr uid_t nobody = 65534;
            for (const QString& name : { QFileInfo(path).absolutePath(), path })
                if (chown(QFile::encodeName(name).constData(), nobody, nobody) != 0)
                    QSKIP("another user cannot own the file here");
            setfsuid(nobody);
            if (setfsuid(nobody) != int(nobody))
                QSKIP("file accesses cannot be made as another user here");
        }
        if (setup == "read-only")
            QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
        const QByteArray before = contentOf(path);
        const QString failure = DaoFailureOf([&] {
            CMessagesRecordset messages;
            messages.Open();
            messages.Edit();
            if (setup.startsWith("late:"))
                m_db->exec(setup.mid(5));
            messages.m_Text = "changed";
            messages.Update();
        });
        QVERIFY(failure.startsWith(QString::number(int(kind)) + ": "));
        QVERIFY(failure.contains(said, Qt::CaseInsensitive));
        if (setup.startsWith("late:"))
            QCOMPARE(m_db->scalar("SELECT count(*) FROM Messages").toInt(), 0);
        else
            QCOMPARE(contentOf(path), before);
        QCOMPARE(QSqlDatabase::connectionNames(), connectionsBefore);
    }

    // Another program's writer holds the write lock: a row added in a workspace transaction, as
    // the program adds every row, waits for it, or fails once it is held past the busy time-out.
    void writerWaitsForAnotherWritersLock()
    {
        const auto addWriter = [] {
            CDaoTransaction transaction;
            CGroupsRecordset groups;
            groups.Open();
            groups.AddNew();
            groups.m_GroupName = "writer";
            groups.Update();
            transaction.Commit();
        };
        const QString path = m_db->filePath();
        std::optional<WriteLockHolder> holder(std::in_place, path, -1,
            QStringList { "INSERT INTO Groups (GroupName) VALUES ('holder')" });
        QVERIFY(DaoFailureOf(addWriter).startsWith(
            QString::number(int(Kind::Locked)) + ": Cannot begin a transaction on " + path));
        QVERIFY(!CDaoWorkspace::Default().IsInTransaction());
        holder.emplace(path, 500); // held again, and given up after half a second
        QVERIFY_THROWS_NO_EXCEPTION(addWriter());
        holder.reset();
        QCOMPARE(
            m_db->scalar("SELECT group_concat(GroupName) FROM Groups").toString(), "holder,writer");
    }

    void forwardOnlyReadsWhatASnapshotReads_data()
    {
        QTest::addColumn<QString>("damage"); // UPDATE Messages SET <damage>, made first
        QTest::addColumn<int>("rows"); // reached before the end or the failure
        QTest::newRow("NULLs read as blanks")
            << "Text = NULL, SendTime = NULL, Retries = NULL" << 4;
        QTest::newRow("text in a number column") << "Retries = 'many' WHERE ID = 2" << 1;
        QTest::newRow("a number beyond 32 bits") << "Status = 4294967296 WHERE ID = 3" << 2;
        QTest::newRow("a date that does not exist")
            << "SendTime = '2026-02-30 10:00:00' WHERE ID = 1" << 0;
    }

    // The same rows and values, and the same refusal of an unreadable value where the walk
    // reaches it: each row reached as "ID:Recipient:Text:Status:SendTime:Retries", then "! " and
    // the failure that ended the walk, if one did.
    void forwardOnlyReadsWhatASnapshotReads()
    {
        QFETCH(QString, damage);
        QFETCH(int, rows);
        m_db->exec("UPDATE Messages SET " + damage);
        const auto walk = [](CDaoRecordset::OpenType type) {
            CMessagesRecordset rs;
            QStringList read;
            const QString failure = DaoFailureOf([&] {
                for (rs.Open(type); !rs.IsEOF(); rs.MoveNext())
                    read << QString::asprintf("%d:%d:%s:%d:%s:%d", rs.m_ID, rs.m_Recipient,
                        qUtf8Printable(rs.m_Text), rs.m_Status,
                        qUtf8Printable(rs.m_SendTime.ToText()), rs.m_Retries);
            });
            return failure.isEmpty() ? read : read << "! " + failure;
        };
        const QStringList forward = walk(CDaoRecordset::OpenType::ForwardOnly);
        QCOMPARE(forward, walk(CDaoRecordset::OpenType::Snapshot));
        QCOMPARE(forward.size(), rows < 4 ? rows + 1 : rows);
        QCOMPARE(forward.last().startsWith("! "), rows < 4);
    }

    // Opening switches a file to write-ahead logging, even to read it, and steps whole tables
    // directly only on a driver that runs on the program's own SQLite: never on one whose
    // library differs, or could not tell which it is.
    void opening()
    {
        QCOMPARE(m_db->journalMode("delete"), "delete");
        QVERIFY(DaoConnection(m_db->filePath()).SharesLinkedSqlite());
        QCOMPARE(m_db->journalMode(), "wal");
        QVERIFY(!SameSqliteLibrary("3.40.1 its own", "3.40.1 Qt's copy"));
        QVERIFY(!SameSqliteLibrary(QString(), QString()));
    }

    // An operator's command run through RunReportingErrors: a failure leaving it is shown once,
    // with its reason.
    void commandFailureIsShownOnce()
    {
        QVERIFY(QFile::remove(m_db->filePath()));
        PresetPrompt prompt;
        RunReportingErrors([] { CMessagesRecordset().Open(); });
        RunReportingErrors([] { throw std::runtime_error("Disk quota exceeded"); });
        QCOMPARE(prompt.shown,
            QStringList({ "The database " + m_db->filePath() + " does not exist.",
                "Disk quota exceeded" }));
    }

    // The watch calls a change every commit made through another connection (which in the
    // write-ahead log the watch's own connection switches the file to leaves the file's size
    // and time as they were); the file going, coming or being replaced; another database
    // chosen; nothing else, and a file that cannot be read once. Each step is an action and
    // whether the look after it sees a change (+) or not (-): look (nothing done), write (a
    // row added through a connection of its own), remove, garbage (a file that is no
    // database), create, replace (another database moved over the file), switch (another
    // database chosen as the default).
    void databaseWatchLooks()
    {
        const QString steps = "look+ look- write+ write+ look- remove+ look- garbage+ look- look- "
                              "replace+ look- replace+ look- write+ switch+ look- write+ look- "
                              "remove+ look- create+ look- write+";
        CDatabaseWatch watch;
        for (const QString& step : steps.split(' ')) {
            const QString action = step.chopped(1);
            const QString path = CDaoRecordset::DefaultDatabasePath();
            QFile file(path);
            if (action == "write")
                DaoConnection(path).Execute("INSERT INTO Groups (GroupName) VALUES ('A')", {}, "");
            else if (action == "remove")
                for (const char* suffix : { "", "-wal", "-shm" })
                    QFile::remove(path + suffix);
            else if (action == "garbage")
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'x')) > 0);
            else if (action == "create")
                CreateQuillpostDatabase(path);
            else if (action == "replace") {
                CreateQuillpostDatabase("fresh.mdb");
                QCOMPARE(std::rename("fresh.mdb", qPrintable(path)), 0);
            } else if (action == "switch") {
                CreateQuillpostDatabase("other.mdb");
                CDaoRecordset::SetDefaultDatabaseName("other.mdb");
            }
            QVERIFY2(watch.HasChanged() == step.endsWith('+'), qPrintable(step));
        }
    }

private:
    const TempDatabase m_template;
    std::optional<TempDatabase> m_db; // a fresh copy of the template for each test
};

QTEST_GUILESS_MAIN(TestDaoRecordset)
#include "test_dao_recordset.moc"

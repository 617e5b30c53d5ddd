// Record sets over a temporary database: criteria filters, the field cache and the 255-character
// limit, transactions, another writer's lock, and every way the database can fail them; opened
// forward-only, as the document reads whole tables, what a snapshot reads and nothing but MoveNext,
// and on which SQLite library; and a failure leaving an operator's command, shown once. (Rows
// written the way a queued message is are seen in test_message_queue.)
#include "PresetPrompt.h"
#include "TempDatabase.h"
#include "WriteLockHolder.h"
#include "data/Recordsets.h"
#include "dispatch/MessageQueue.h"
#include "platform/CommandErrors.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoWorkspace.h"
#include "platform/db/SqliteLibrary.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSqlQuery>
#include <QTest>
#include <functional>
#include <optional>
#include <stdexcept>
#include <sys/fsuid.h>
#include <unistd.h>

namespace {

using Kind = CDaoException::Kind;
using OpenType = CDaoRecordset::OpenType;
const QList<int> Refused { -1 };

// Every ID the record set holds with the criteria as its filter, walked from the first row;
// Refused for criteria turned down with a reason that quotes them.
template <typename Recordset> QList<int> idsFound(const QString& criteria)
{
    Recordset recordset;
    recordset.m_strFilter = criteria;
    QList<int> found;
    try {
        for (recordset.Open(); !recordset.IsEOF(); recordset.MoveNext())
            found.append(recordset.m_ID);
    } catch (const CDaoException& refused) {
        const bool quoted = refused.reason().contains(criteria);
        return refused.kind() == Kind::BadCriteria && quoted ? Refused : QList<int> { -3 };
    }
    return found;
}

QList<int> idsFound(const QString& table, const QString& criteria)
{
    return table == "Users"   ? idsFound<CUsersRecordset>(criteria)
        : table == "Messages" ? idsFound<CMessagesRecordset>(criteria)
                              : idsFound<CServiceProvidersRecordset>(criteria);
}

QString groupCriteria(int group)
{
    QStringList places;
    for (int column = 1; column <= 10; ++column)
        places.append(QStringLiteral("Group%1 = %2").arg(column).arg(group));
    return places.join(" OR ");
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

// The file made read-only by its permissions for the rest of the test. The superuser, whom
// permissions do not stop, hands the folder and the file to an unprivileged user and acts as that
// user in file accesses of this thread, where the record set opens the file; false when that cannot
// be done here.
bool makeReadOnly(const QString& path)
{
    constexpr uid_t kNobody = 65534;
    if (geteuid() == 0) {
        const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
        if (chown(folder.constData(), kNobody, kNobody) != 0
            || chown(QFile::encodeName(path).constData(), kNobody, kNobody) != 0)
            return false;
        setfsuid(kNobody);
        if (setfsuid(kNobody) != int(kNobody))
            return false;
    }
    return QFile::setPermissions(path, QFileDevice::ReadOwner);
}

// What the action threw: the failure's kind, ": " and its reason; "" if nothing.
template <typename Action> QString failureOf(Action action)
{
    try {
        action();
    } catch (const CDaoException& failure) {
        return QString::number(int(failure.kind())) + ": " + failure.reason();
    }
    return {};
}

QString kindIs(Kind kind)
{
    return QString::number(int(kind)) + ": ";
}

// Each Messages row the walk reached as "ID:Recipient:Text:Status:SendTime:Retries", then the
// failure that ended it ("! " and its reason), if one did.
QStringList walk(OpenType type, const QString& filter = {})
{
    CMessagesRecordset rs;
    rs.m_strFilter = filter;
    QStringList rows;
    try {
        for (rs.Open(type); !rs.IsEOF(); rs.MoveNext())
            rows << QString::asprintf("%d:%d:%s:%d:%s:%d", rs.m_ID, rs.m_Recipient,
                qUtf8Printable(rs.m_Text), rs.m_Status, qUtf8Printable(rs.m_SendTime.ToText()),
                rs.m_Retries);
    } catch (const CDaoException& failure) {
        rows << "! " + failure.reason();
    }
    return rows;
}

} // namespace

class TestDaoRecordset : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_template = std::make_unique<TempDatabase>();
        // Users 1..10: the k-th has group 7 in column Group<k> and group 3 in the others.
        for (int column = 0; column < 10; ++column) {
            std::array<std::int32_t, 10> groups { 3, 3, 3, 3, 3, 3, 3, 3, 3, 3 };
            groups[column] = 7;
            m_template->addUser(QStringLiteral("Member %1").arg(column),
                QStringLiteral("0770090010%1").arg(column), 0, groups);
        }
        m_template->addUser("Near misses", "11", 0, { 70, 17, -7 }); // 11
        m_template->addUser("Provider seven", "12", 7, { 8 }); // 12
        for (const char* name : { "Night shift", "Day shift" })
            m_template->addGroup(name);
        for (int flag : { 0, 1, 2, 1 })
            m_template->addProvider(QStringLiteral("P%1").arg(flag), "1", flag);
        // Messages 1..4: MessageId 1 for users 1, 2 and 3, MessageId 101 for user 2.
        for (auto [recipient, messageId] : { std::pair { 1, 1 }, { 2, 1 }, { 2, 101 }, { 3, 1 } })
            m_template->addMessageRow(recipient, messageId, "text");
        // Triggers log every column an UPDATE of Users names, changed or not, and every insert.
        m_template->exec("CREATE TABLE Written (Name TEXT)");
        m_template->exec("CREATE TRIGGER log_insert AFTER INSERT ON Users BEGIN INSERT "
                         "INTO Written VALUES ('new row'); END");
        for (const char* column :
            { "Name", "TelephoneNumber", "PreferredProvider", "Group1", "Group10" })
            m_template->exec(QStringLiteral("CREATE TRIGGER log_%1 AFTER UPDATE OF [%1] ON Users "
                                            "BEGIN INSERT INTO Written VALUES ('%1'); END")
                                 .arg(column));
    }

    void init()
    {
        m_db = std::make_unique<TempDatabase>(TempDatabase::Content::NoFile);
        QVERIFY(QFile::copy(m_template->filePath(), m_db->filePath()));
    }
    void cleanup() { m_db.reset(); }

    void criteriaFindExactlyTheirRows_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("criteria");
        QTest::addColumn<QList<int>>("ids");
        const auto row = [](const char* name, const char* table, const QString& criteria,
                             const QList<int>& ids) {
            QTest::newRow(name) << QString(table) << criteria << ids;
        };
        row("group 7 in any column, not 70/17/-7 nor as provider", "Users", groupCriteria(7),
            { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 });
        row("group 70 only", "Users", groupCriteria(70), { 11 });
        row("negative group", "Users", groupCriteria(-7), { 11 });
        row("group nobody has", "Users", groupCriteria(4), {});
        row("user by ID", "Users", "ID = 5", { 5 });
        row("bracketed column, lower case", "Users", "[id] = 5", { 5 });
        row("default providers, not 2 or 0", "ServiceProviders", "UseAsDefault = 1", { 2, 4 });
        row("all rows of a message", "Messages", "MessageId = 1", { 1, 2, 4 });
        row("one recipient of a message", "Messages", "MessageId = 1 AND Recipient = 3", { 4 });
        // Anything but comparisons of a number column with a whole number is refused.
        for (const char* refused : { "ID = 1; DROP TABLE Users", "ID = 1 --", "ID = 1 OR 1 = 1",
                 "ID = (SELECT max(ID) FROM Users)", "ID = '1'", "Name = 1", "Group11 = 7",
                 "ID > 0", "ID = 99999999999", "\"ID\" = 1" })
            row(refused, "Users", refused, Refused);
        row("dangling AND", "Messages", "MessageId = 1 AND", Refused);
    }

    void criteriaFindExactlyTheirRows()
    {
        QFETCH(QString, table);
        QFETCH(QString, criteria);
        QFETCH(QList<int>, ids);
        QCOMPARE(idsFound(table, criteria), ids);
        QCOMPARE(number("SELECT count(*) FROM Users"), 12);
    }

    void updateWritesOnlyChangedColumns_data()
    {
        // "add" for AddNew; "Name=<n>" sets a name of n characters and another telephone number.
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("written");
        QTest::newRow("nothing") << "" << QStringList {};
        QTest::newRow("set to the same value") << "same" << QStringList {};
        QTest::newRow("the last column") << "Group10" << QStringList { "Group10" };
        QTest::newRow("edit, 255 characters")
            << "Name=255" << QStringList { "Name", "TelephoneNumber" };
        QTest::newRow("edit, 256 characters: refused") << "Name=256" << QStringList {};
        QTest::newRow("add, 255 characters") << "add Name=255" << QStringList { "new row" };
        QTest::newRow("add, 1000 characters: refused") << "add Name=1000" << QStringList {};
    }

    void updateWritesOnlyChangedColumns()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, written);
        const int length = change.section('=', 1).toInt();
        CUsersRecordset users;
        users.m_strFilter = "ID = 3";
        users.Open();
        QCOMPARE(users.m_ID, 3);
        change.startsWith("add") ? users.AddNew() : users.Edit();
        // Another connection's change to a column this update leaves alone must survive it.
        m_db->exec("UPDATE Users SET Group1 = 99 WHERE ID = 3");
        m_db->exec("DELETE FROM Written");
        if (length > 0) { // the number refused with the name, or written with it
            users.m_Name = QString(length, 'x');
            users.m_TelephoneNumber = "changed too";
        }
        if (change == "same")
            users.m_TelephoneNumber = "07700900102";
        if (change == "Group10")
            users.m_Group10 = 12;
        const QString failure = failureOf([&] { users.Update(); });
        QVERIFY2(length > 255
                ? failure.startsWith(kindIs(Kind::ValueTooLong)) && failure.contains("Name")
                : failure.isEmpty(),
            qPrintable(failure));
        users.Close();
        QCOMPARE(text("SELECT group_concat(Name) FROM (SELECT Name FROM Written ORDER BY Name)"),
            written.join(','));
        QCOMPARE(number("SELECT Group1 FROM Users WHERE ID = 3"), 99);
    }

    void failureIsOneExceptionAndChangesNothing_data()
    {
        // "file:<content>" replaces the database; "sql:" damages it before the record set opens,
        // "set:" too with an UPDATE of every message; "late:" between Open and Update.
        QTest::addColumn<QString>("setup");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("said");
        const auto row = [](const char* name, const QString& setup, Kind kind, const char* said) {
            QTest::newRow(name) << setup << kind << QString(said);
        };
        const QByteArray damaged = QByteArray("SQLite format 3") + '\0' + QByteArray(4080, '\x7f');
        row("missing file, nothing created", "missing", Kind::FileMissing, "Quillpost.mdb");
        row("text file", "file:Name,Telephone\nAnn,123\n", Kind::NotADatabase, "not an SQLite");
        row("empty file", "file:", Kind::NotADatabase, "empty");
        row("damaged SQLite header", QString::fromLatin1("file:" + damaged), Kind::NotADatabase,
            "Quillpost.mdb");
        row("table missing", "sql:DROP TABLE Messages", Kind::MissingTableOrColumn, "Messages");
        row("column missing", "sql:ALTER TABLE Messages DROP COLUMN Retries",
            Kind::MissingTableOrColumn, "Retries");
        row("locked past the busy time-out", "locked", Kind::Locked, "locked");
        row("read-only file", "read-only", Kind::ReadOnly, "readonly");
        row("date that is no date", "set:RequestTime = 'next Tuesday'", Kind::Other, "RequestTime");
        row("status that is no number", "set:Status = 'sent'", Kind::Other, "Status");
        row("row deleted by another", "late:DELETE FROM Messages", Kind::Other, "no longer exists");
    }

    void failureIsOneExceptionAndChangesNothing()
    {
        QFETCH(QString, setup);
        QFETCH(Kind, kind);
        QFETCH(QString, said);
        const QStringList connectionsBefore = QSqlDatabase::connectionNames();
        const QString path = m_db->filePath();
        if (setup == "missing" || setup.startsWith("file:"))
            QVERIFY(QFile::remove(path));
        if (QFile file(path); setup.startsWith("file:"))
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(setup.mid(5).toLatin1()) >= 0);
        if (setup.startsWith("sql:"))
            m_db->exec(setup.mid(4));
        if (setup.startsWith("set:"))
            m_db->exec("UPDATE Messages SET " + setup.mid(4));
        // Acting as the superuser again at the end; the folder goes whoever owns it.
        auto superuserAgain = qScopeGuard([] { setfsuid(geteuid()); });
        if (setup == "read-only" && !makeReadOnly(path))
            QSKIP("neither permissions nor another user can make the file read-only here");
        std::optional<DaoConnection> lock;
        if (setup == "locked") {
            lock.emplace(path);
            QVERIFY(QSqlQuery(lock->database()).exec("BEGIN EXCLUSIVE"));
        }
        const QByteArray before = contentOf(path);
        const QString failure = failureOf([&] {
            CMessagesRecordset messages;
            messages.Open();
            messages.Edit();
            if (setup.startsWith("late:"))
                m_db->exec(setup.mid(5));
            messages.m_Text = "changed";
            messages.Update();
        });
        QVERIFY2(failure.startsWith(kindIs(kind)) && failure.contains(said, Qt::CaseInsensitive),
            qPrintable(failure));
        lock.reset();
        if (setup.startsWith("late:"))
            QCOMPARE(number("SELECT count(*) FROM Messages"), 0);
        else
            QCOMPARE(contentOf(path), before);
        QCOMPARE(QSqlDatabase::connectionNames(), connectionsBefore);
    }

    void transactionKeepsOrDropsItsRows_data()
    {
        // How the transaction ends; of the 200 rows added in it, how many are kept.
        QTest::addColumn<QString>("ending");
        QTest::addColumn<int>("kept");
        QTest::newRow("committed") << "commit" << 200;
        QTest::newRow("exception leaves the guard") << "throw" << 0;
    }

    void transactionKeepsOrDropsItsRows()
    {
        QFETCH(QString, ending);
        QFETCH(int, kept);
        const QString count = "SELECT count(*) FROM Messages WHERE Text = 'batch'";
        const QString sequence
            = "SELECT group_concat(name || '=' || seq, ' ') FROM sqlite_sequence";
        QString sequenceBefore = text(sequence);
        try {
            CDaoTransaction transaction;
            CMessagesRecordset messages;
            messages.Open();
            for (int i = 0; i < 200; ++i) {
                messages.AddNew();
                messages.m_Text = "batch";
                messages.Update();
            }
            // A record set in the transaction sees its rows; another connection reads the file as
            // it was, without waiting or failing.
            QCOMPARE(walk(OpenType::Snapshot).size(), 204);
            QCOMPARE(number(count), 0);
            if (ending == "throw")
                throw std::runtime_error("command failed");
            transaction.Commit();
        } catch (const std::exception& failure) {
            QVERIFY2(ending == "throw", failure.what());
        }
        QVERIFY(!CDaoWorkspace::Default().IsInTransaction());
        QCOMPARE(number(count), kept);
        QCOMPARE(text(sequence),
            sequenceBefore.replace("Messages=4", QStringLiteral("Messages=%1").arg(4 + kept)));
    }

    void writerWaitsForAnotherWritersLock_data()
    {
        // How long the other writer holds its lock (-1: until the writer has given up).
        QTest::addColumn<int>("holdMs");
        QTest::newRow("transaction begun after a short wait") << 500;
        QTest::newRow("lock held past the busy time-out") << -1;
    }

    // A row added in a workspace transaction, as the program adds every row.
    void writerWaitsForAnotherWritersLock()
    {
        QFETCH(int, holdMs);
        const auto addWriter = [] {
            CDaoTransaction transaction;
            CGroupsRecordset groups;
            groups.Open();
            groups.AddNew();
            groups.m_GroupName = "writer";
            groups.Update();
            transaction.Commit();
        };
        std::optional<WriteLockHolder> holder(std::in_place, m_db->filePath(), holdMs,
            QStringList { "INSERT INTO Groups (GroupName) VALUES ('holder')" });
        QVERIFY2(holder->error.isEmpty(), qPrintable(holder->error));
        if (holdMs < 0) {
            const QString failure = failureOf(addWriter);
            QVERIFY2(failure.startsWith(kindIs(Kind::Locked) + "Cannot begin a transaction on "
                         + m_db->filePath()),
                qPrintable(failure));
            QVERIFY(!CDaoWorkspace::Default().IsInTransaction());
            holder.reset(); // the same write succeeds once the lock is free
        }
        QVERIFY_THROWS_NO_EXCEPTION(addWriter());
        holder.reset();
        QCOMPARE(text("SELECT group_concat(GroupName) FROM (SELECT GroupName FROM Groups "
                      "WHERE ID > 2 ORDER BY ID)"),
            "holder,writer");
    }

    // In a workspace transaction, as the program adds every row: a row gone before it can be read
    // back fails its add, and neither it nor what its insert did is kept; the row added before it
    // in the transaction is.
    void failedReadBackAddsNothing()
    {
        // The new row vanishes, and leaves a marker behind.
        m_db->exec("CREATE TRIGGER vanish AFTER INSERT ON Messages WHEN new.Text = 'vanishing' "
                   "BEGIN INSERT INTO Groups (GroupName) VALUES ('marker'); DELETE FROM Messages "
                   "WHERE ID = new.ID; END");
        {
            CDaoTransaction transaction;
            CMessagesRecordset messages;
            messages.Open();
            const auto add = [&messages](const char* text) {
                messages.AddNew();
                messages.m_Text = text;
                messages.Update();
            };
            add("kept");
            const QString failure = failureOf([&] { add("vanishing"); });
            QVERIFY2(failure.section(": ", 1).startsWith("Cannot add a row to table Messages")
                    && failure.contains("read back"),
                qPrintable(failure));
            transaction.Commit();
        }
        QCOMPARE(text("SELECT group_concat(Text) FROM Messages WHERE ID > 4"), "kept");
        QCOMPARE(number("SELECT count(*) FROM Groups"), 2);
    }

    void forwardOnlyReadsWhatASnapshotReads_data()
    {
        QTest::addColumn<QString>("damage"); // UPDATE Messages SET <damage>, made first
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("rows"); // reached before the end or the failure
        const auto row = [](const char* name, const char* damage, const char* filter, int rows) {
            QTest::newRow(name) << QString(damage) << QString(filter) << rows;
        };
        row("every row", "", "", 4);
        row("filtered", "", "MessageId = 1", 3);
        row("no row left by the filter", "MessageId = 5", "MessageId = 1", 0);
        row("NULLs read as blanks", "Text = NULL, SendTime = NULL, Retries = NULL", "", 4);
        row("a number stored as text", "Retries = '3' WHERE ID = 2", "", 4);
        row("text in a number column", "Retries = 'many' WHERE ID = 2", "", 1);
        row("a number beyond 32 bits", "Status = 4294967296 WHERE ID = 3", "", 2);
        row("a date that does not exist", "SendTime = '2026-02-30 10:00:00' WHERE ID = 1", "", 0);
        row("a date in another form", "SendTime = '2026-2-3 9:05' WHERE ID = 1", "", 4);
    }

    // The same rows and values, and the same refusal of an unreadable value where the walk
    // reaches it.
    void forwardOnlyReadsWhatASnapshotReads()
    {
        QFETCH(QString, damage);
        QFETCH(QString, filter);
        QFETCH(int, rows);
        if (!damage.isEmpty())
            m_db->exec("UPDATE Messages SET " + damage);
        const QStringList forward = walk(OpenType::ForwardOnly, filter);
        QCOMPARE(forward, walk(OpenType::Snapshot, filter));
        const bool failed = !forward.isEmpty() && forward.last().startsWith("! ");
        QCOMPARE(forward.size() - (failed ? 1 : 0), rows);
    }

    void forwardOnlyRefusesAllButMovingOn_data()
    {
        QTest::addColumn<int>("step");
        int step = 0;
        for (const char* name : { "MoveLast", "Edit", "AddNew", "Delete" })
            QTest::newRow(name) << step++;
    }

    void forwardOnlyRefusesAllButMovingOn()
    {
        QFETCH(int, step);
        const QByteArray before = contentOf(m_db->filePath());
        CMessagesRecordset rs;
        rs.Open(OpenType::ForwardOnly);
        rs.MoveNext();
        const std::function<void()> steps[] = { [&] { rs.MoveLast(); }, [&] { rs.Edit(); },
            [&] { rs.AddNew(); }, [&] { rs.Delete(); } };
        const QString failure = failureOf(steps[step]);
        QVERIFY2(failure.startsWith(kindIs(Kind::Other)) && failure.contains("forward only"),
            qPrintable(failure));
        // Still on its row, and it still moves on to the end.
        QCOMPARE(rs.m_ID, 2);
        for (int row = 2; row <= 4; ++row)
            rs.MoveNext();
        QVERIFY(rs.IsEOF());
        QVERIFY_THROWS_EXCEPTION(CDaoException, rs.MoveNext());
        rs.Close();
        QCOMPARE(contentOf(m_db->filePath()), before);
    }

    void sqliteLibraryIsToldBySourceId_data()
    {
        QTest::addColumn<QString>("linked");
        QTest::addColumn<QString>("driver");
        QTest::addColumn<bool>("same");
        const QString debian = "2022-12-28 14:03:47 "
                               "df5c253c0b3dd24916e4ec7cf77d3db5294cc9fd45ae7b9c5e82ad8197f3alt1";
        QTest::newRow("one library") << debian << debian << true;
        QTest::newRow("another release")
            << debian
            << "2024-01-30 16:01:20 "
               "e876e51a0ed5c5b3126f52e532044363a014bc594cfefa87ffb5b82257cc467a"
            << false;
        QTest::newRow("the same release built otherwise")
            << debian << QString(debian).replace("alt1", "alt2") << false;
        QTest::newRow("the driver could not say") << debian << QString() << false;
        QTest::newRow("neither could say") << QString() << QString() << false;
    }

    void sqliteLibraryIsToldBySourceId()
    {
        QFETCH(QString, linked);
        QFETCH(QString, driver);
        QFETCH(bool, same);
        QCOMPARE(SameSqliteLibrary(linked, driver), same);
    }

    // Opening switches a file to write-ahead logging, and finds Qt's driver on the program's
    // own SQLite (Debian's driver links the system library), so whole tables are stepped
    // directly; the index that finds a message's rows comes with the file's first write, never
    // from reading.
    void openingAndTheFirstWrite()
    {
        QVERIFY(DaoConnection(m_db->filePath()).SharesLinkedSqlite());
        const QString indexCount
            = "SELECT count(*) FROM sqlite_master WHERE name = 'MessagesByMessageId'";
        QCOMPARE(number(indexCount), 1); // made with the tables
        m_db->exec("DROP INDEX MessagesByMessageId");
        QCOMPARE(m_db->journalMode("delete"), "delete");
        walk(OpenType::ForwardOnly);
        walk(OpenType::Snapshot);
        QCOMPARE(m_db->journalMode(), "wal");
        QCOMPARE(number(indexCount), 0);
        QVERIFY(QueueMessage("two", COleDateTime(2026, 1, 1, 9, 0, 0), { 5, 6 }));
        QCOMPARE(number(indexCount), 1);
        QCOMPARE(number("SELECT count(*) FROM Messages"), 6);
    }

    void commandFailureIsShownOnce_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("said"); // in the one message shown; empty when none is
        const auto row = [](const char* name, const char* failure, const char* said) {
            QTest::newRow(name) << QString(failure) << QString(said);
        };
        row("completes", "", "");
        row("record set on a missing file", "open", "Quillpost.mdb does not exist");
        row("other exception", "std", "Disk quota exceeded");
    }

    // An operator's command run through RunReportingErrors: a failure leaving it is shown once
    // and ends only that command.
    void commandFailureIsShownOnce()
    {
        QFETCH(QString, failure);
        QFETCH(QString, said);
        QVERIFY(QFile::remove(m_db->filePath()));
        PresetPrompt prompt;
        bool ranToItsEnd = false;
        const bool completed = RunReportingErrors([&] {
            CMessagesRecordset messages;
            if (failure == "open")
                messages.Open();
            if (failure == "std")
                throw std::runtime_error(said.toStdString());
            ranToItsEnd = true;
        });
        QCOMPARE(completed, ranToItsEnd);
        QCOMPARE(completed, said.isEmpty());
        QCOMPARE(prompt.shown.size(), completed ? 0 : 1);
        QVERIFY2(prompt.shown.join('|').contains(said), qPrintable(prompt.shown.join('|')));
    }

private:
    int number(const QString& sql) const { return m_db->scalar(sql).toInt(); }
    QString text(const QString& sql) const { return m_db->scalar(sql).toString(); }

    std::unique_ptr<TempDatabase> m_template;
    std::unique_ptr<TempDatabase> m_db; // a fresh copy of the template for each test
};

QTEST_GUILESS_MAIN(TestDaoRecordset)
#include "test_dao_recordset.moc"

// Record sets over a temporary database: criteria searches, the field cache and the
// 255-character limit, transactions, another writer's lock, and every way the database
// can fail them. (Rows written the way a queued message is are seen in
// test_message_queue.)
#include "TempDatabase.h"
#include "WriteLockHolder.h"
#include "data/Recordsets.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoWorkspace.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSqlQuery>
#include <QTest>
#include <optional>
#include <stdexcept>
#include <sys/fsuid.h>
#include <unistd.h>

namespace {

using Kind = CDaoException::Kind;
const QList<int> Refused { -1 };

// Every ID FindFirst/FindNext visit (-2 at the end if the failed search moved the
// record set), or Refused for criteria turned down with a reason that quotes them.
template <typename Recordset> QList<int> findAll(const QString& criteria)
{
    Recordset recordset;
    recordset.Open();
    QList<int> found;
    try {
        for (bool more = recordset.FindFirst(criteria); more; more = recordset.FindNext(criteria))
            found.append(recordset.m_ID);
    } catch (const CDaoException& refused) {
        return refused.kind() == Kind::BadCriteria && refused.reason().contains(criteria)
            ? Refused
            : QList<int> { -3 };
    }
    if (!found.isEmpty() && recordset.m_ID != found.last())
        found.append(-2);
    return found;
}

// Every ID a record set opened with the criteria as its filter holds, walked from the
// first row, or Refused as above.
template <typename Recordset> QList<int> filterAll(const QString& criteria)
{
    Recordset recordset;
    recordset.m_strFilter = criteria;
    QList<int> held;
    try {
        recordset.Open();
    } catch (const CDaoException& refused) {
        return refused.kind() == Kind::BadCriteria ? Refused : QList<int> { -3 };
    }
    for (; !recordset.IsEOF(); recordset.MoveNext())
        held.append(recordset.m_ID);
    return held;
}

// `walk` run with the record set class of the table.
template <typename Walk> QList<int> forTable(const QString& table, Walk walk)
{
    if (table == QLatin1String("Users"))
        return walk.template operator()<CUsersRecordset>();
    if (table == QLatin1String("Groups"))
        return walk.template operator()<CGroupsRecordset>();
    if (table == QLatin1String("ServiceProviders"))
        return walk.template operator()<CServiceProvidersRecordset>();
    return walk.template operator()<CMessagesRecordset>();
}

QString groupCriteria(int group)
{
    QStringList places;
    for (int column = 1; column <= 10; ++column)
        places.append(QStringLiteral("Group%1 = %2").arg(column).arg(group));
    return places.join(QStringLiteral(" OR "));
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

// The file made read-only by its permissions for the rest of the test. The superuser,
// whom permissions do not stop, hands the folder and the file to an unprivileged user
// and acts as that user in file accesses of this thread, where the record set opens
// the file; false when that cannot be done here.
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
        m_template->addUser(
            QStringLiteral("Near misses"), QStringLiteral("11"), 0, { 70, 17, -7 }); // 11
        m_template->addUser(QStringLiteral("Provider seven"), QStringLiteral("12"), 7, { 8 }); // 12
        for (const char* name : { "Night shift", "Day shift" })
            m_template->addGroup(QString::fromLatin1(name));
        for (int flag : { 0, 1, 2, 1 })
            m_template->addProvider(QStringLiteral("P%1").arg(flag), QStringLiteral("1"), flag);
        // Messages 1..4: MessageId 1 for users 1, 2 and 3, MessageId 101 for user 2.
        for (auto [recipient, messageId] : { std::pair { 1, 1 }, { 2, 1 }, { 2, 101 }, { 3, 1 } })
            m_template->addMessageRow(recipient, messageId, QStringLiteral("text"));
        // Triggers log every column an UPDATE of Users names, changed or not, and every insert.
        m_template->exec(QStringLiteral("CREATE TABLE Written (Name TEXT)"));
        m_template->exec(
            QStringLiteral("CREATE TRIGGER log_insert AFTER INSERT ON Users BEGIN INSERT "
                           "INTO Written VALUES ('new row'); END"));
        for (const char* column :
            { "Name", "TelephoneNumber", "PreferredProvider", "Group1", "Group10" })
            m_template->exec(
                QStringLiteral("CREATE TRIGGER log_%1 AFTER UPDATE OF [%1] ON Users BEGIN "
                               "INSERT INTO Written VALUES ('%1'); END")
                    .arg(QLatin1String(column)));
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
        const QList<int> members { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 };
        row("group 7 in any column, not 70/17/-7 nor as provider", "Users", groupCriteria(7),
            members);
        row("group 3 in the other nine columns", "Users", groupCriteria(3), members);
        row("group 70 only", "Users", groupCriteria(70), { 11 });
        row("negative group", "Users", groupCriteria(-7), { 11 });
        row("group nobody has", "Users", groupCriteria(4), {});
        row("user by ID", "Users", "ID = 5", { 5 });
        row("bracketed column, lower case", "Users", "[id] = 5", { 5 });
        row("no such ID", "Users", "ID = 424242", {});
        row("group by ID", "Groups", "ID = 2", { 2 });
        row("provider by ID", "ServiceProviders", "ID = 3", { 3 });
        row("default providers, not 2 or 0", "ServiceProviders", "UseAsDefault = 1", { 2, 4 });
        row("all rows of a message", "Messages", "MessageId = 1", { 1, 2, 4 });
        row("one recipient of a message", "Messages", "MessageId = 1 AND Recipient = 3", { 4 });
        row("recipient of no row", "Messages", "MessageId = 1 AND Recipient = 999", {});
        // Anything but comparisons of a number column with a whole number is refused.
        row("statement appended", "Users", "ID = 1; DROP TABLE Users", Refused);
        row("comment", "Users", "ID = 1 --", Refused);
        row("always true", "Users", "ID = 1 OR 1 = 1", Refused);
        row("subquery", "Users", "ID = (SELECT max(ID) FROM Users)", Refused);
        row("string literal", "Users", "ID = '1'", Refused);
        row("text column", "Users", "Name = 1", Refused);
        row("unknown column", "Users", "Group11 = 7", Refused);
        row("other comparison", "Users", "ID > 0", Refused);
        row("dangling AND", "Messages", "MessageId = 1 AND", Refused);
        row("out of range", "Users", "ID = 99999999999", Refused);
        row("empty", "Groups", "", Refused);
        row("quoted identifier", "Users", "\"ID\" = 1", Refused);
    }

    void criteriaFindExactlyTheirRows()
    {
        QFETCH(QString, table);
        QFETCH(QString, criteria);
        QFETCH(QList<int>, ids);
        QCOMPARE(
            forTable(table, [&]<typename Recordset>() { return findAll<Recordset>(criteria); }),
            ids);
        // The same criteria as a filter: the record set holds those rows and no others.
        if (!criteria.isEmpty())
            QCOMPARE(forTable(table,
                         [&]<typename Recordset>() { return filterAll<Recordset>(criteria); }),
                ids);
        QCOMPARE(m_db->scalar(QStringLiteral("SELECT count(*) FROM Users")).toInt(), 12);
    }

    void updateWritesOnlyChangedColumns_data()
    {
        QTest::addColumn<QString>(
            "change"); // "add" for AddNew; "Name=<n>" sets a name of n characters
        QTest::addColumn<QStringList>("written");
        QTest::newRow("nothing") << "" << QStringList {};
        QTest::newRow("name") << "Name" << QStringList { "Name" };
        QTest::newRow("set to the same value") << "same" << QStringList {};
        QTest::newRow("one group column") << "Group10" << QStringList { "Group10" };
        QTest::newRow("name and provider")
            << "Name PreferredProvider" << QStringList { "Name", "PreferredProvider" };
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
        const int length = change.section(QLatin1Char('='), 1).toInt();
        CUsersRecordset users;
        users.Open();
        QVERIFY(users.FindFirst(QStringLiteral("ID = 3")));
        change.startsWith(QLatin1String("add")) ? users.AddNew() : users.Edit();
        // Another connection's change to a column this update leaves alone must survive it.
        m_db->exec(QStringLiteral("UPDATE Users SET Group1 = 99 WHERE ID = 3"));
        m_db->exec(QStringLiteral("DELETE FROM Written"));
        if (change.contains(QLatin1String("Name")))
            users.m_Name
                = length > 0 ? QString(length, QLatin1Char('x')) : QStringLiteral("Changed");
        if (length > 0) // refused with the name, or written with it
            users.m_TelephoneNumber = QStringLiteral("changed too");
        if (change == QLatin1String("same"))
            users.m_TelephoneNumber = QStringLiteral("07700900102");
        if (change.contains(QLatin1String("PreferredProvider")))
            users.m_PreferredProvider = 9;
        if (change == QLatin1String("Group10"))
            users.m_Group10 = 12;
        try {
            users.Update();
            QVERIFY(length <= 255);
        } catch (const CDaoException& failure) {
            QVERIFY2(length > 255 && failure.kind() == Kind::ValueTooLong
                    && failure.reason().contains(QLatin1String("Name")),
                qPrintable(failure.reason()));
        }
        users.Close();
        QCOMPARE(m_db
                     ->scalar(QStringLiteral(
                         "SELECT group_concat(Name) FROM (SELECT Name FROM Written ORDER BY Name)"))
                     .toString(),
            written.join(QLatin1Char(',')));
        QCOMPARE(m_db->scalar(QStringLiteral("SELECT Group1 FROM Users WHERE ID = 3")).toInt(), 99);
    }

    void failureIsOneExceptionAndChangesNothing_data()
    {
        // "file:<content>" replaces the database; "sql:" damages it before the record set
        // opens, "late:" between Open and Update.
        QTest::addColumn<QString>("setup");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("said");
        QByteArray jet(2048, '\0');
        jet.replace(4, 15, "Standard Jet DB");
        QByteArray damaged("SQLite format 3");
        damaged.append('\0').append(QByteArray(4080, '\x7f'));
        QTest::newRow("missing file, nothing created")
            << "missing" << Kind::FileMissing << "Quillpost.mdb";
        QTest::newRow("text file") << "file:Name,Telephone\nAnn,123\n"
                                   << Kind::NotADatabase << "not an SQLite database";
        QTest::newRow("empty file") << "file:" << Kind::NotADatabase << "empty";
        QTest::newRow("Jet database")
            << QString::fromLatin1("file:" + jet) << Kind::NotADatabase << "Jet/Access";
        QTest::newRow("damaged SQLite header")
            << QString::fromLatin1("file:" + damaged) << Kind::NotADatabase << "Quillpost.mdb";
        QTest::newRow("table missing")
            << "sql:DROP TABLE Messages" << Kind::MissingTableOrColumn << "Messages";
        QTest::newRow("column missing") << "sql:ALTER TABLE Messages DROP COLUMN Retries"
                                        << Kind::MissingTableOrColumn << "Retries";
        QTest::newRow("locked past the busy time-out") << "locked" << Kind::Locked << "locked";
        QTest::newRow("read-only file") << "read-only" << Kind::ReadOnly << "readonly";
        QTest::newRow("date that is no date")
            << "sql:UPDATE Messages SET RequestTime = 'next Tuesday'" << Kind::Other
            << "RequestTime";
        QTest::newRow("30 February") << "sql:UPDATE Messages SET SendTime = '2026-02-30 10:00:00'"
                                     << Kind::Other << "SendTime";
        QTest::newRow("status that is no number")
            << "sql:UPDATE Messages SET Status = 'sent'" << Kind::Other << "Status";
        QTest::newRow("number beyond 32 bits")
            << "sql:UPDATE Messages SET Retries = 4294967296" << Kind::Other << "Retries";
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
        if (setup == QLatin1String("missing") || setup.startsWith(QLatin1String("file:")))
            QVERIFY(QFile::remove(path));
        if (setup.startsWith(QLatin1String("file:"))) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(setup.mid(5).toLatin1());
        }
        if (setup.startsWith(QLatin1String("sql:")))
            m_db->exec(setup.mid(4));
        // Acting as the superuser again at the end; the folder goes whoever owns it.
        auto superuserAgain = qScopeGuard([] { setfsuid(geteuid()); });
        if (setup == QLatin1String("read-only") && !makeReadOnly(path))
            QSKIP("neither permissions nor another user can make the file read-only here");
        std::optional<DaoConnection> lock;
        if (setup == QLatin1String("locked")) {
            lock.emplace(path);
            QVERIFY(QSqlQuery(lock->database()).exec(QStringLiteral("BEGIN EXCLUSIVE")));
        }
        const QByteArray before = contentOf(path);

        try {
            CMessagesRecordset messages;
            messages.Open();
            messages.Edit();
            if (setup.startsWith(QLatin1String("late:")))
                m_db->exec(setup.mid(5));
            messages.m_Text = QStringLiteral("changed");
            messages.Update();
            QFAIL("nothing was thrown");
        } catch (const CDaoException& failure) {
            QVERIFY2(failure.kind() == kind && failure.reason().contains(said, Qt::CaseInsensitive),
                qPrintable(failure.reason()));
        }
        lock.reset();
        if (setup.startsWith(QLatin1String("late:")))
            QCOMPARE(m_db->scalar(QStringLiteral("SELECT count(*) FROM Messages")).toInt(), 0);
        else
            QCOMPARE(contentOf(path), before);
        QCOMPARE(QSqlDatabase::connectionNames(), connectionsBefore);
    }

    void transactionKeepsOrDropsItsRows_data()
    {
        // How the inner level ends (when there is one), then the outer.
        QTest::addColumn<QStringList>("endings");
        QTest::addColumn<int>("kept"); // of the 200 rows added, 100 on each level
        QTest::newRow("committed") << QStringList { "commit" } << 200;
        QTest::newRow("rolled back") << QStringList { "rollback" } << 0;
        QTest::newRow("exception leaves the guard") << QStringList { "throw" } << 0;
        QTest::newRow("inner rolled back, outer committed")
            << QStringList { "rollback", "commit" } << 100;
        QTest::newRow("inner committed, outer rolled back")
            << QStringList { "commit", "rollback" } << 0;
        QTest::newRow("inner committed, outer committed")
            << QStringList { "commit", "commit" } << 200;
        QTest::newRow("exception through both levels") << QStringList { "throw", "throw" } << 0;
    }

    void transactionKeepsOrDropsItsRows()
    {
        QFETCH(QStringList, endings);
        QFETCH(int, kept);
        const QString count = QStringLiteral("SELECT count(*) FROM Messages WHERE Text = 'batch'");
        const QString sequence
            = QStringLiteral("SELECT group_concat(name || '=' || seq, ' ') FROM sqlite_sequence");
        QString sequenceBefore = m_db->scalar(sequence).toString();
        const auto add100 = [] {
            CMessagesRecordset messages;
            messages.Open();
            for (int i = 0; i < 100; ++i) {
                messages.AddNew();
                messages.m_Text = QStringLiteral("batch");
                messages.Update();
            }
        };
        try {
            CDaoTransaction outer;
            add100();
            std::optional<CDaoTransaction> inner;
            if (endings.size() == 2)
                inner.emplace();
            add100();
            // A record set in the transaction sees its rows; another connection reads the
            // file as it was, without waiting or failing.
            CMessagesRecordset inside;
            inside.Open();
            QCOMPARE(inside.GetRecordCount(), 204);
            QCOMPARE(m_db->scalar(count).toInt(), 0);
            if (endings.first() == QLatin1String("throw"))
                throw std::runtime_error("command failed");
            if (inner && endings.first() == QLatin1String("commit"))
                inner->Commit();
            inner.reset();
            if (endings.last() == QLatin1String("commit"))
                outer.Commit();
        } catch (const std::exception& failure) {
            QVERIFY2(endings.first() == QLatin1String("throw"), failure.what());
        }
        QVERIFY(!CDaoWorkspace::Default().IsInTransaction());
        QCOMPARE(m_db->scalar(count).toInt(), kept);
        QCOMPARE(m_db->scalar(sequence).toString(),
            sequenceBefore.replace(
                QLatin1String("Messages=4"), QStringLiteral("Messages=%1").arg(4 + kept)));
    }

    void writerWaitsForAnotherWritersLock_data()
    {
        QTest::addColumn<bool>("inTransaction"); // the row is added in a workspace transaction
        QTest::addColumn<int>("holdMs"); // -1: until the writer has given up
        QTest::newRow("row added after a short wait") << false << 500;
        QTest::newRow("transaction begun after a short wait") << true << 500;
        QTest::newRow("row added: lock held past the busy time-out") << false << -1;
        QTest::newRow("transaction begun: lock held past the busy time-out") << true << -1;
    }

    void writerWaitsForAnotherWritersLock()
    {
        QFETCH(bool, inTransaction);
        QFETCH(int, holdMs);
        const auto addWriter = [inTransaction] {
            std::optional<CDaoTransaction> transaction;
            if (inTransaction)
                transaction.emplace();
            CGroupsRecordset groups;
            groups.Open();
            groups.AddNew();
            groups.m_GroupName = QStringLiteral("writer");
            groups.Update();
            if (transaction)
                transaction->Commit();
        };
        std::optional<WriteLockHolder> holder(std::in_place, m_db->filePath(), holdMs,
            QStringList { QStringLiteral("INSERT INTO Groups (GroupName) VALUES ('holder')") });
        QVERIFY2(holder->error.isEmpty(), qPrintable(holder->error));
        if (holdMs < 0) {
            try {
                addWriter();
                QFAIL("nothing was thrown");
            } catch (const CDaoException& failure) {
                QVERIFY2(failure.kind() == Kind::Locked
                        && failure.reason().startsWith(inTransaction
                                ? QStringLiteral("Cannot begin a transaction on %1")
                                      .arg(m_db->filePath())
                                : QStringLiteral("Cannot add a row to table Groups")),
                    qPrintable(failure.reason()));
            }
            QVERIFY(!CDaoWorkspace::Default().IsInTransaction());
            holder.reset(); // the same write succeeds once the lock is free
        }
        QVERIFY_THROWS_NO_EXCEPTION(addWriter());
        holder.reset();
        QCOMPARE(
            m_db->scalar(QStringLiteral("SELECT group_concat(GroupName) FROM (SELECT GroupName "
                                        "FROM Groups WHERE ID > 2 ORDER BY ID)"))
                .toString(),
            QStringLiteral("holder,writer"));
    }

    void failedReadBackAddsNothing_data()
    {
        QTest::addColumn<bool>("inTransaction"); // after a good row, in a workspace transaction
        QTest::newRow("on its own") << false;
        QTest::newRow("in a transaction") << true;
    }

    void failedReadBackAddsNothing()
    {
        QFETCH(bool, inTransaction);
        // The new row is gone before it can be read back, and leaves a marker behind.
        m_db->exec(QStringLiteral("CREATE TRIGGER vanish AFTER INSERT ON Messages WHEN new.Text = "
                                  "'vanishing' BEGIN INSERT "
                                  "INTO Groups (GroupName) VALUES ('marker'); DELETE FROM Messages "
                                  "WHERE ID = new.ID; END"));
        CMessagesRecordset messages;
        const auto add = [&messages](const char* text) {
            messages.AddNew();
            messages.m_Text = QString::fromLatin1(text);
            messages.Update();
        };
        {
            std::optional<CDaoTransaction> transaction;
            if (inTransaction)
                transaction.emplace();
            messages.Open();
            if (inTransaction)
                add("kept");
            try {
                add("vanishing");
                QFAIL("nothing was thrown");
            } catch (const CDaoException& failure) {
                QVERIFY2(
                    failure.reason().startsWith(QLatin1String("Cannot add a row to table Messages"))
                        && failure.reason().contains(QLatin1String("read back")),
                    qPrintable(failure.reason()));
            }
            if (transaction)
                transaction->Commit();
        }
        const QString added = QStringLiteral(
            "SELECT group_concat(Text) FROM (SELECT Text FROM Messages WHERE ID > 4 ORDER BY ID)");
        QCOMPARE(m_db->scalar(added).toString(), inTransaction ? "kept" : "");
        QCOMPARE(m_db->scalar(QStringLiteral("SELECT count(*) FROM Groups")).toInt(), 2);

        m_db->exec(QStringLiteral("DROP TRIGGER vanish"));
        QVERIFY_THROWS_NO_EXCEPTION(messages.Update()); // the same row, tried again
        QCOMPARE(m_db->scalar(added).toString(), inTransaction ? "kept,vanishing" : "vanishing");
        const int newId = m_db->scalar(QStringLiteral("SELECT max(ID) FROM Messages")).toInt();
        QCOMPARE(messages.GetLastAddedID(), newId);
        messages.MoveLast();
        QCOMPARE(messages.m_ID, newId);
        QCOMPARE(messages.m_Text, QStringLiteral("vanishing"));
    }

    void openingSwitchesToWriteAheadLog()
    {
        QCOMPARE(m_db->journalMode(QStringLiteral("delete")), QStringLiteral("delete"));
        CGroupsRecordset groups;
        groups.Open();
        QCOMPARE(m_db->journalMode(), QStringLiteral("wal"));
    }

private:
    std::unique_ptr<TempDatabase> m_template;
    std::unique_ptr<TempDatabase> m_db; // a fresh copy of the template for each test
};

QTEST_GUILESS_MAIN(TestDaoRecordset)
#include "test_dao_recordset.moc"

// Record sets over a temporary database: criteria searches, the field cache and the 255-character
// limit, transactions, another writer's lock, and every way the database can fail them. (Rows
// written the way a queued message is are seen in test_message_queue.)
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

// Every ID FindFirst/FindNext visit (-2 at the end if the failed search moved the record set), or,
// as a filter, every ID the record set holds walked from the first row; Refused for criteria turned
// down with a reason that quotes them.
template <typename Recordset> QList<int> idsFound(const QString& criteria, bool asFilter)
{
    Recordset recordset;
    QList<int> found;
    try {
        recordset.m_strFilter = asFilter ? criteria : QString();
        recordset.Open();
        bool more = asFilter ? !recordset.IsEOF() : recordset.FindFirst(criteria);
        while (more) {
            found.append(recordset.m_ID);
            if (asFilter)
                recordset.MoveNext();
            more = asFilter ? !recordset.IsEOF() : recordset.FindNext(criteria);
        }
    } catch (const CDaoException& refused) {
        const bool quoted = refused.reason().contains(criteria);
        return refused.kind() == Kind::BadCriteria && quoted ? Refused : QList<int> { -3 };
    }
    if (!asFilter && !found.isEmpty() && recordset.m_ID != found.last())
        found.append(-2);
    return found;
}

QList<int> idsFound(const QString& table, const QString& criteria, bool asFilter)
{
    if (table == "Users")
        return idsFound<CUsersRecordset>(criteria, asFilter);
    if (table == "Groups")
        return idsFound<CGroupsRecordset>(criteria, asFilter);
    if (table == "ServiceProviders")
        return idsFound<CServiceProvidersRecordset>(criteria, asFilter);
    return idsFound<CMessagesRecordset>(criteria, asFilter);
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
        for (const char* refused : { "ID = 1; DROP TABLE Users", "ID = 1 --", "ID = 1 OR 1 = 1",
                 "ID = (SELECT max(ID) FROM Users)", "ID = '1'", "Name = 1", "Group11 = 7",
                 "ID > 0", "ID = 99999999999", "\"ID\" = 1" })
            row(refused, "Users", refused, Refused);
        row("dangling AND", "Messages", "MessageId = 1 AND", Refused);
        row("empty", "Groups", "", Refused);
    }

    // Found with FindFirst/FindNext, and, as a filter, the rows the record set holds.
    void criteriaFindExactlyTheirRows()
    {
        QFETCH(QString, table);
        QFETCH(QString, criteria);
        QFETCH(QList<int>, ids);
        QCOMPARE(idsFound(table, criteria, false), ids);
        if (!criteria.isEmpty()) // an empty filter is no filter
            QCOMPARE(idsFound(table, criteria, true), ids);
        QCOMPARE(number("SELECT count(*) FROM Users"), 12);
    }

    void updateWritesOnlyChangedColumns_data()
    {
        // "add" for AddNew; "Name=<n>" sets a name of n characters.
        QTest::addColumn<QString>("change");
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
        const int length = change.section('=', 1).toInt();
        CUsersRecordset users;
        users.Open();
        QVERIFY(users.FindFirst("ID = 3"));
        change.startsWith("add") ? users.AddNew() : users.Edit();
        // Another connection's change to a column this update leaves alone must survive it.
        m_db->exec("UPDATE Users SET Group1 = 99 WHERE ID = 3");
        m_db->exec("DELETE FROM Written");
        if (change.contains("Name"))
            users.m_Name = length > 0 ? QString(length, 'x') : QStringLiteral("Changed");
        if (length > 0) // refused with the name, or written with it
            users.m_TelephoneNumber = "changed too";
        if (change == "same")
            users.m_TelephoneNumber = "07700900102";
        if (change.contains("PreferredProvider"))
            users.m_PreferredProvider = 9;
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
        QByteArray jet(2048, '\0');
        jet.replace(4, 15, "Standard Jet DB");
        const QByteArray damaged = QByteArray("SQLite format 3") + '\0' + QByteArray(4080, '\x7f');
        row("missing file, nothing created", "missing", Kind::FileMissing, "Quillpost.mdb");
        row("text file", "file:Name,Telephone\nAnn,123\n", Kind::NotADatabase, "not an SQLite");
        row("empty file", "file:", Kind::NotADatabase, "empty");
        row("Jet database", QString::fromLatin1("file:" + jet), Kind::NotADatabase, "Jet/Access");
        row("damaged SQLite header", QString::fromLatin1("file:" + damaged), Kind::NotADatabase,
            "Quillpost.mdb");
        row("table missing", "sql:DROP TABLE Messages", Kind::MissingTableOrColumn, "Messages");
        row("column missing", "sql:ALTER TABLE Messages DROP COLUMN Retries",
            Kind::MissingTableOrColumn, "Retries");
        row("locked past the busy time-out", "locked", Kind::Locked, "locked");
        row("read-only file", "read-only", Kind::ReadOnly, "readonly");
        row("date that is no date", "set:RequestTime = 'next Tuesday'", Kind::Other, "RequestTime");
        row("30 February", "set:SendTime = '2026-02-30 10:00:00'", Kind::Other, "SendTime");
        row("status that is no number", "set:Status = 'sent'", Kind::Other, "Status");
        row("number beyond 32 bits", "set:Retries = 4294967296", Kind::Other, "Retries");
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
        // How the inner level ends (when there is one), then the outer; of the 200 rows added, 100
        // on each level, how many are kept.
        QTest::addColumn<QString>("ending");
        QTest::addColumn<int>("kept");
        QTest::newRow("committed") << "commit" << 200;
        QTest::newRow("rolled back") << "rollback" << 0;
        QTest::newRow("exception leaves the guard") << "throw" << 0;
        QTest::newRow("inner rolled back, outer committed") << "rollback commit" << 100;
        QTest::newRow("inner committed, outer rolled back") << "commit rollback" << 0;
        QTest::newRow("inner committed, outer committed") << "commit commit" << 200;
        QTest::newRow("exception through both levels") << "throw throw" << 0;
    }

    void transactionKeepsOrDropsItsRows()
    {
        QFETCH(QString, ending);
        QFETCH(int, kept);
        const QStringList endings = ending.split(' ');
        const QString count = "SELECT count(*) FROM Messages WHERE Text = 'batch'";
        const QString sequence
            = "SELECT group_concat(name || '=' || seq, ' ') FROM sqlite_sequence";
        QString sequenceBefore = text(sequence);
        const auto add100 = [] {
            CMessagesRecordset messages;
            messages.Open();
            for (int i = 0; i < 100; ++i) {
                messages.AddNew();
                messages.m_Text = "batch";
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
            // A record set in the transaction sees its rows; another connection reads the file as
            // it was, without waiting or failing.
            CMessagesRecordset inside;
            inside.Open();
            QCOMPARE(inside.GetRecordCount(), 204);
            QCOMPARE(number(count), 0);
            if (endings.first() == "throw")
                throw std::runtime_error("command failed");
            if (inner && endings.first() == "commit")
                inner->Commit();
            inner.reset();
            if (endings.last() == "commit")
                outer.Commit();
        } catch (const std::exception& failure) {
            QVERIFY2(endings.first() == "throw", failure.what());
        }
        QVERIFY(!CDaoWorkspace::Default().IsInTransaction());
        QCOMPARE(number(count), kept);
        QCOMPARE(text(sequence),
            sequenceBefore.replace("Messages=4", QStringLiteral("Messages=%1").arg(4 + kept)));
    }

    void writerWaitsForAnotherWritersLock_data()
    {
        // Whether the row is added in a workspace transaction; how long the other writer holds its
        // lock (-1: until the writer has given up).
        QTest::addColumn<bool>("inTransaction");
        QTest::addColumn<int>("holdMs");
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
            groups.m_GroupName = "writer";
            groups.Update();
            if (transaction)
                transaction->Commit();
        };
        std::optional<WriteLockHolder> holder(std::in_place, m_db->filePath(), holdMs,
            QStringList { "INSERT INTO Groups (GroupName) VALUES ('holder')" });
        QVERIFY2(holder->error.isEmpty(), qPrintable(holder->error));
        if (holdMs < 0) {
            const QString failure = failureOf(addWriter);
            QVERIFY2(failure.startsWith(kindIs(Kind::Locked)
                         + (inTransaction ? "Cannot begin a transaction on " + m_db->filePath()
                                          : "Cannot add a row to table Groups")),
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
        m_db->exec("CREATE TRIGGER vanish AFTER INSERT ON Messages WHEN new.Text = 'vanishing' "
                   "BEGIN INSERT INTO Groups (GroupName) VALUES ('marker'); DELETE FROM Messages "
                   "WHERE ID = new.ID; END");
        CMessagesRecordset messages;
        const auto add = [&messages](const char* text) {
            messages.AddNew();
            messages.m_Text = text;
            messages.Update();
        };
        {
            std::optional<CDaoTransaction> transaction;
            if (inTransaction)
                transaction.emplace();
            messages.Open();
            if (inTransaction)
                add("kept");
            const QString failure = failureOf([&] { add("vanishing"); });
            QVERIFY2(failure.section(": ", 1).startsWith("Cannot add a row to table Messages")
                    && failure.contains("read back"),
                qPrintable(failure));
            if (transaction)
                transaction->Commit();
        }
        const QString added = "SELECT group_concat(Text) FROM (SELECT Text FROM "
                              "Messages WHERE ID > 4 ORDER BY ID)";
        QCOMPARE(text(added), inTransaction ? "kept" : "");
        QCOMPARE(number("SELECT count(*) FROM Groups"), 2);

        m_db->exec("DROP TRIGGER vanish");
        QVERIFY_THROWS_NO_EXCEPTION(messages.Update()); // the same row, tried again
        QCOMPARE(text(added), inTransaction ? "kept,vanishing" : "vanishing");
        const int newId = number("SELECT max(ID) FROM Messages");
        QCOMPARE(messages.GetLastAddedID(), newId);
        messages.MoveLast();
        QCOMPARE(std::pair(messages.m_ID, messages.m_Text), std::pair(newId, QString("vanishing")));
    }

    void openingSwitchesToWriteAheadLog()
    {
        QCOMPARE(m_db->journalMode("delete"), "delete");
        CGroupsRecordset groups;
        groups.Open();
        QCOMPARE(m_db->journalMode(), "wal");
    }

private:
    int number(const QString& sql) const { return m_db->scalar(sql).toInt(); }
    QString text(const QString& sql) const { return m_db->scalar(sql).toString(); }

    std::unique_ptr<TempDatabase> m_template;
    std::unique_ptr<TempDatabase> m_db; // a fresh copy of the template for each test
};

QTEST_GUILESS_MAIN(TestDaoRecordset)
#include "test_dao_recordset.moc"

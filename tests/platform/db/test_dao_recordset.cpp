// Record sets over a temporary database: criteria searches, the field cache and the
// 255-character limit, the way a queued message is written row by row, and every way
// the database can fail them.
#include "TempDatabase.h"
#include "data/Recordsets.h"
#include "platform/db/DaoConnection.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlQuery>
#include <QTest>
#include <optional>
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

// By its permissions, or for the superuser whom they do not stop, the immutable attribute.
bool makeReadOnly(const QString& path, bool readOnly)
{
    if (geteuid() != 0)
        return QFile::setPermissions(path,
            readOnly ? QFileDevice::ReadOwner : QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return QProcess::execute(QStringLiteral("chattr"),
               { readOnly ? QStringLiteral("+i") : QStringLiteral("-i"), path })
        == 0;
}

} // namespace

class TestDaoRecordset : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { m_db.reset(); }

    void criteriaFindExactlyTheirRows_data();
    void criteriaFindExactlyTheirRows();
    void updateWritesOnlyChangedColumns_data();
    void updateWritesOnlyChangedColumns();
    void queuedMessageRowsShareTheFirstRowsId();
    void failureIsOneExceptionAndChangesNothing_data();
    void failureIsOneExceptionAndChangesNothing();

private:
    std::unique_ptr<TempDatabase> m_template;
    std::unique_ptr<TempDatabase> m_db; // a fresh copy of the template for each test
};

void TestDaoRecordset::initTestCase()
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
    m_template->exec(QStringLiteral("CREATE TRIGGER log_insert AFTER INSERT ON Users BEGIN INSERT "
                                    "INTO Written VALUES ('new row'); END"));
    for (const char* column :
        { "Name", "TelephoneNumber", "PreferredProvider", "Group1", "Group10" })
        m_template->exec(QStringLiteral("CREATE TRIGGER log_%1 AFTER UPDATE OF [%1] ON Users BEGIN "
                                        "INSERT INTO Written VALUES ('%1'); END")
                             .arg(QLatin1String(column)));
}

void TestDaoRecordset::init()
{
    m_db = std::make_unique<TempDatabase>(TempDatabase::Content::NoFile);
    QVERIFY(QFile::copy(m_template->filePath(), m_db->filePath()));
}

void TestDaoRecordset::criteriaFindExactlyTheirRows_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("criteria");
    QTest::addColumn<QList<int>>("ids");
    QTest::newRow("group 7 in any column, not 70/17/-7 nor as provider")
        << "Users" << groupCriteria(7) << QList<int> { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 };
    QTest::newRow("group 3 in the other nine columns")
        << "Users" << groupCriteria(3) << QList<int> { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 };
    QTest::newRow("group 70 only") << "Users" << groupCriteria(70) << QList<int> { 11 };
    QTest::newRow("negative group") << "Users" << groupCriteria(-7) << QList<int> { 11 };
    QTest::newRow("group nobody has") << "Users" << groupCriteria(4) << QList<int> {};
    QTest::newRow("user by ID") << "Users"
                                << "ID = 5" << QList<int> { 5 };
    QTest::newRow("bracketed column, lower case") << "Users"
                                                  << "[id] = 5" << QList<int> { 5 };
    QTest::newRow("no such ID") << "Users"
                                << "ID = 424242" << QList<int> {};
    QTest::newRow("group by ID") << "Groups"
                                 << "ID = 2" << QList<int> { 2 };
    QTest::newRow("provider by ID") << "ServiceProviders"
                                    << "ID = 3" << QList<int> { 3 };
    QTest::newRow("default providers, not 2 or 0") << "ServiceProviders"
                                                   << "UseAsDefault = 1" << QList<int> { 2, 4 };
    QTest::newRow("all rows of a message") << "Messages"
                                           << "MessageId = 1" << QList<int> { 1, 2, 4 };
    QTest::newRow("one recipient of a message")
        << "Messages"
        << "MessageId = 1 AND Recipient = 3" << QList<int> { 4 };
    QTest::newRow("recipient of no row") << "Messages"
                                         << "MessageId = 1 AND Recipient = 999" << QList<int> {};
    // Anything but comparisons of a number column with a whole number is refused.
    QTest::newRow("statement appended") << "Users"
                                        << "ID = 1; DROP TABLE Users" << Refused;
    QTest::newRow("comment") << "Users"
                             << "ID = 1 --" << Refused;
    QTest::newRow("always true") << "Users"
                                 << "ID = 1 OR 1 = 1" << Refused;
    QTest::newRow("subquery") << "Users"
                              << "ID = (SELECT max(ID) FROM Users)" << Refused;
    QTest::newRow("string literal") << "Users"
                                    << "ID = '1'" << Refused;
    QTest::newRow("text column") << "Users"
                                 << "Name = 1" << Refused;
    QTest::newRow("unknown column") << "Users"
                                    << "Group11 = 7" << Refused;
    QTest::newRow("other comparison") << "Users"
                                      << "ID > 0" << Refused;
    QTest::newRow("dangling AND") << "Messages"
                                  << "MessageId = 1 AND" << Refused;
    QTest::newRow("out of range") << "Users"
                                  << "ID = 99999999999" << Refused;
    QTest::newRow("empty") << "Groups"
                           << "" << Refused;
    QTest::newRow("quoted identifier") << "Users"
                                       << "\"ID\" = 1" << Refused;
}

void TestDaoRecordset::criteriaFindExactlyTheirRows()
{
    QFETCH(QString, table);
    QFETCH(QString, criteria);
    QFETCH(QList<int>, ids);
    const QList<int> found = table == QLatin1String("Users") ? findAll<CUsersRecordset>(criteria)
        : table == QLatin1String("Groups")                   ? findAll<CGroupsRecordset>(criteria)
        : table == QLatin1String("ServiceProviders") ? findAll<CServiceProvidersRecordset>(criteria)
                                                     : findAll<CMessagesRecordset>(criteria);
    QCOMPARE(found, ids);
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT count(*) FROM Users")).toInt(), 12);
}

void TestDaoRecordset::updateWritesOnlyChangedColumns_data()
{
    QTest::addColumn<QString>("change"); // "add" for AddNew; "Name=<n>" sets a name of n characters
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

void TestDaoRecordset::updateWritesOnlyChangedColumns()
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
        users.m_Name = length > 0 ? QString(length, QLatin1Char('x')) : QStringLiteral("Changed");
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
    QCOMPARE(
        m_db->scalar(QStringLiteral(
                         "SELECT group_concat(Name) FROM (SELECT Name FROM Written ORDER BY Name)"))
            .toString(),
        written.join(QLatin1Char(',')));
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT Group1 FROM Users WHERE ID = 3")).toInt(), 99);
}

void TestDaoRecordset::queuedMessageRowsShareTheFirstRowsId()
{
    // Written the way a queued message is: each row added empty, found as the last row,
    // then filled in; the first row's ID becomes every row's MessageId.
    CMessagesRecordset messages;
    messages.Open();
    QList<int> rowIds;
    for (int recipient : { 4, 5, 6 }) {
        messages.AddNew();
        messages.Update();
        messages.MoveLast();
        rowIds.append(messages.m_ID);
        messages.Edit();
        messages.m_Recipient = recipient;
        messages.m_MessageCount = 3;
        messages.m_MessageId = rowIds.first();
        messages.m_Text = QStringLiteral("Fire drill at ten");
        messages.m_RequiredSendTime = COleDateTime(2032, 2, 29, 9, 30, 0);
        messages.Update();
    }
    QVERIFY(
        messages.FindFirst(QStringLiteral("MessageId = %1 AND Recipient = 5").arg(rowIds.first())));
    messages.Delete();
    messages.Close();

    QCOMPARE(rowIds, (QList<int> { 5, 6, 7 }));
    QCOMPARE(findAll<CMessagesRecordset>(QStringLiteral("MessageId = 5")), (QList<int> { 5, 7 }));
    // The same in every row; columns never set hold the default of 0, the time local text.
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT group_concat(DISTINCT MessageCount || '/' || Text "
                                         "|| '/' || RequiredSendTime || '/' "
                                         "|| Status || '/' || Retries) FROM Messages WHERE ID > 4"))
                 .toString(),
        QStringLiteral("3/Fire drill at ten/2032-02-29 09:30:00/0/0"));
}

void TestDaoRecordset::failureIsOneExceptionAndChangesNothing_data()
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
    QTest::newRow("Jet database") << QString::fromLatin1("file:" + jet) << Kind::NotADatabase
                                  << "Jet/Access";
    QTest::newRow("damaged SQLite header")
        << QString::fromLatin1("file:" + damaged) << Kind::NotADatabase << "Quillpost.mdb";
    QTest::newRow("table missing")
        << "sql:DROP TABLE Messages" << Kind::MissingTableOrColumn << "Messages";
    QTest::newRow("column missing") << "sql:ALTER TABLE Messages DROP COLUMN Retries"
                                    << Kind::MissingTableOrColumn << "Retries";
    QTest::newRow("locked past the busy time-out") << "locked" << Kind::Locked << "locked";
    QTest::newRow("read-only file") << "read-only" << Kind::ReadOnly << "readonly";
    QTest::newRow("date that is no date")
        << "sql:UPDATE Messages SET RequestTime = 'next Tuesday'" << Kind::Other << "RequestTime";
    QTest::newRow("30 February") << "sql:UPDATE Messages SET SendTime = '2026-02-30 10:00:00'"
                                 << Kind::Other << "SendTime";
    QTest::newRow("status that is no number")
        << "sql:UPDATE Messages SET Status = 'sent'" << Kind::Other << "Status";
    QTest::newRow("number beyond 32 bits")
        << "sql:UPDATE Messages SET Retries = 4294967296" << Kind::Other << "Retries";
    QTest::newRow("row deleted by another")
        << "late:DELETE FROM Messages" << Kind::Other << "no longer exists";
}

void TestDaoRecordset::failureIsOneExceptionAndChangesNothing()
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
    if (setup == QLatin1String("read-only") && !makeReadOnly(path, true))
        QSKIP("the file cannot be made read-only here");
    auto writable = qScopeGuard([&] {
        if (setup == QLatin1String("read-only"))
            makeReadOnly(path, false);
    });
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

QTEST_GUILESS_MAIN(TestDaoRecordset)
#include "test_dao_recordset.moc"

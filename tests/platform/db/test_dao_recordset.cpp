// Record sets over a temporary database: walking, criteria searches, the field cache,
// inserting, deleting and the 255-character limit of text columns.
#include "TempDatabase.h"
#include "data/Recordsets.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoException.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

namespace {

template <typename Recordset>
QList<int> findAll(const QString& criteria)
{
    Recordset recordset;
    recordset.Open();
    QList<int> found;
    for (bool more = recordset.FindFirst(criteria); more; more = recordset.FindNext(criteria))
        found.append(recordset.m_ID);
    recordset.Close();
    return found;
}

QString groupCriteria(int group)
{
    QString criteria;
    for (int column = 1; column <= 10; ++column) {
        if (column > 1)
            criteria += QStringLiteral(" OR ");
        criteria += QStringLiteral("Group%1 = %2").arg(column).arg(group);
    }
    return criteria;
}

} // namespace

class TestDaoRecordset : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void emptyTableIsAtBothEnds();
    void walksEveryRowInIdOrder();
    void criteriaFindExactlyTheirRows_data();
    void criteriaFindExactlyTheirRows();
    void unsafeOrForeignCriteriaAreRefused_data();
    void unsafeOrForeignCriteriaAreRefused();
    void failedFindKeepsTheCurrentRow();
    void updateWritesOnlyChangedColumns_data();
    void updateWritesOnlyChangedColumns();
    void updateKeepsAnotherConnectionsChangeToOtherColumns();
    void addNewThenMoveLastGivesTheNewRow();
    void idsIncreaseAndAreNeverReused();
    void messageRowsShareTheFirstRowsId();
    void textOverLimitIsRefusedAndNothingWritten_data();
    void textOverLimitIsRefusedAndNothingWritten();
    void deleteRemovesOnlyTheCurrentRowAndSearchGoesOn();
    void dateTimeColumnsRoundTripAsLocalText();
    void closeRemovesTheConnection();

private:
    std::unique_ptr<TempDatabase> m_db;
    QList<int> m_users; // ten users, the k-th with group 7 in column Group<k>
    QList<int> m_others;
};

void TestDaoRecordset::init()
{
    m_db = std::make_unique<TempDatabase>();
    m_users.clear();
    m_others.clear();
    for (int column = 0; column < 10; ++column) {
        std::array<std::int32_t, 10> groups {};
        groups[column] = 7;
        if (column < 9)
            groups[column + 1] = 3;
        m_users.append(m_db->addUser(QStringLiteral("Member %1").arg(column), QStringLiteral("0770090010%1").arg(column), 0, groups));
    }
    // Near misses: 70, 17, -7, 7 only as the preferred provider.
    m_others.append(m_db->addUser(QStringLiteral("Seventy"), QStringLiteral("1"), 0, { 70, 17, -7 }));
    m_others.append(m_db->addUser(QStringLiteral("Provider seven"), QStringLiteral("2"), 7, { 8 }));
}

void TestDaoRecordset::cleanup()
{
    m_db.reset();
}

void TestDaoRecordset::emptyTableIsAtBothEnds()
{
    CGroupsRecordset groups;
    groups.Open();
    QVERIFY(groups.IsOpen());
    QVERIFY(groups.IsBOF());
    QVERIFY(groups.IsEOF());
    QVERIFY(!groups.FindFirst(QStringLiteral("ID = 1")));
    QVERIFY_THROWS_EXCEPTION(CDaoException, groups.MoveLast());
    QVERIFY_THROWS_EXCEPTION(CDaoException, groups.Edit());
}

void TestDaoRecordset::walksEveryRowInIdOrder()
{
    m_db->exec(QStringLiteral("DELETE FROM Users WHERE ID = ?"), { m_users[3] });
    m_db->exec(QStringLiteral("UPDATE Users SET Name = 'Renamed' WHERE ID = ?"), { m_users[0] });

    CUsersRecordset users;
    users.Open();
    QList<int> ids;
    QStringList names;
    while (!users.IsEOF() && !users.IsBOF()) {
        ids.append(users.m_ID);
        names.append(users.m_Name);
        users.MoveNext();
    }
    QList<int> expected = m_users + m_others;
    expected.removeAt(3);
    QCOMPARE(ids, expected);
    QCOMPARE(names.first(), QStringLiteral("Renamed"));
    QCOMPARE(names.last(), QStringLiteral("Provider seven"));
    QVERIFY(users.IsEOF());
    QVERIFY_THROWS_EXCEPTION(CDaoException, users.MoveNext());
}

void TestDaoRecordset::criteriaFindExactlyTheirRows_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("criteria");
    QTest::addColumn<QList<int>>("expectedIndexes"); // into the rows made for the row

    QTest::newRow("group 7 in any one of ten columns") << "Users" << groupCriteria(7) << QList<int> { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9 };
    QTest::newRow("group 3 in columns 2 to 10") << "Users" << groupCriteria(3) << QList<int> { 0, 1, 2, 3, 4, 5, 6, 7, 8 };
    QTest::newRow("group 70 only") << "Users" << groupCriteria(70) << QList<int> { 10 };
    QTest::newRow("negative group") << "Users" << groupCriteria(-7) << QList<int> { 10 };
    QTest::newRow("group nobody has") << "Users" << groupCriteria(4) << QList<int> {};
    QTest::newRow("user by ID") << "Users" << "ID = %1" << QList<int> { 4 };
    QTest::newRow("bracketed column, lower case") << "Users" << "[id] = %1" << QList<int> { 4 };
    QTest::newRow("group by ID") << "Groups" << "ID = %1" << QList<int> { 1 };
    QTest::newRow("provider by ID") << "ServiceProviders" << "ID = %1" << QList<int> { 2 };
    QTest::newRow("default providers, not 2 or 0") << "ServiceProviders" << "UseAsDefault = 1" << QList<int> { 1, 3 };
    QTest::newRow("all rows of a message") << "Messages" << "MessageId = %1" << QList<int> { 0, 1, 3 };
    QTest::newRow("one recipient of a message") << "Messages" << "MessageId = %1 AND Recipient = %2" << QList<int> { 3 };
    QTest::newRow("recipient of no message row") << "Messages" << "MessageId = %1 AND Recipient = 999" << QList<int> {};
}

void TestDaoRecordset::criteriaFindExactlyTheirRows()
{
    QFETCH(QString, table);
    QFETCH(QString, criteria);
    QFETCH(QList<int>, expectedIndexes);

    QList<int> rows = m_users + m_others;
    QList<int> found;
    if (table == QLatin1String("Users")) {
        criteria = criteria.contains(QLatin1String("%1")) ? criteria.arg(rows[4]) : criteria;
        found = findAll<CUsersRecordset>(criteria);
    } else if (table == QLatin1String("Groups")) {
        rows = { m_db->addGroup(QStringLiteral("Night shift")), m_db->addGroup(QStringLiteral("Day shift")) };
        found = findAll<CGroupsRecordset>(criteria.arg(rows[1]));
    } else if (table == QLatin1String("ServiceProviders")) {
        rows = { m_db->addProvider(QStringLiteral("P0"), QStringLiteral("1"), 0),
                 m_db->addProvider(QStringLiteral("P1"), QStringLiteral("2"), 1),
                 m_db->addProvider(QStringLiteral("P2"), QStringLiteral("3"), 2),
                 m_db->addProvider(QStringLiteral("P3"), QStringLiteral("4"), 1) };
        found = findAll<CServiceProvidersRecordset>(criteria.contains(QLatin1String("%1")) ? criteria.arg(rows[2]) : criteria);
    } else {
        const int first = m_db->addMessageRow(m_users[0], 0, QStringLiteral("a"));
        m_db->exec(QStringLiteral("UPDATE Messages SET MessageId = ID WHERE ID = ?"), { first });
        rows = { first, m_db->addMessageRow(m_users[1], first, QStringLiteral("a")),
                 m_db->addMessageRow(m_users[1], first + 100, QStringLiteral("b")),
                 m_db->addMessageRow(m_users[2], first, QStringLiteral("a")) };
        criteria = criteria.arg(first);
        if (criteria.contains(QLatin1String("%2")))
            criteria = criteria.arg(m_users[2]);
        found = findAll<CMessagesRecordset>(criteria);
    }
    QList<int> expected;
    for (int index : expectedIndexes)
        expected.append(rows[index]);
    QCOMPARE(found, expected);
}

void TestDaoRecordset::unsafeOrForeignCriteriaAreRefused_data()
{
    QTest::addColumn<QString>("criteria");
    QTest::newRow("statement appended") << "ID = 1; DROP TABLE Users";
    QTest::newRow("comment") << "ID = 1 --";
    QTest::newRow("always true") << "ID = 1 OR 1 = 1";
    QTest::newRow("subquery") << "ID = (SELECT max(ID) FROM Users)";
    QTest::newRow("string literal") << "ID = '1'";
    QTest::newRow("text column") << "Name = 1";
    QTest::newRow("unknown column") << "Group11 = 7";
    QTest::newRow("other comparison") << "ID > 0";
    QTest::newRow("dangling AND") << "ID = 1 AND";
    QTest::newRow("out of range") << "ID = 99999999999";
    QTest::newRow("empty") << "";
    QTest::newRow("quoted identifier") << "\"ID\" = 1";
}

void TestDaoRecordset::unsafeOrForeignCriteriaAreRefused()
{
    QFETCH(QString, criteria);
    CUsersRecordset users;
    users.Open();
    try {
        users.FindFirst(criteria);
        QFAIL("the criteria were accepted");
    } catch (const CDaoException& refused) {
        QCOMPARE(refused.kind(), CDaoException::Kind::BadCriteria);
        QVERIFY(refused.reason().contains(criteria));
    }
    users.Close();
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT count(*) FROM Users")).toInt(), 12);
}

void TestDaoRecordset::failedFindKeepsTheCurrentRow()
{
    CUsersRecordset users;
    users.Open();
    QVERIFY(users.FindFirst(QStringLiteral("ID = %1").arg(m_users[5])));
    QVERIFY(!users.FindNext(QStringLiteral("ID = %1").arg(m_users[5])));
    QVERIFY(!users.FindFirst(QStringLiteral("ID = 424242")));
    QCOMPARE(users.m_ID, m_users[5]);
    QVERIFY(!users.IsEOF());
    users.MoveNext();
    QCOMPARE(users.m_ID, m_users[6]);
}

void TestDaoRecordset::updateWritesOnlyChangedColumns_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("written");
    QTest::newRow("nothing") << "" << QStringList {};
    QTest::newRow("name") << "Name" << QStringList { "Name" };
    QTest::newRow("set to the same value") << "same" << QStringList {};
    QTest::newRow("one group column") << "Group10" << QStringList { "Group10" };
    QTest::newRow("name and provider") << "Name+PreferredProvider" << QStringList { "Name", "PreferredProvider" };
}

void TestDaoRecordset::updateWritesOnlyChangedColumns()
{
    QFETCH(QString, change);
    QFETCH(QStringList, written);

    // One trigger per column records every column an UPDATE names, changed or not.
    m_db->exec(QStringLiteral("CREATE TABLE Written (Name TEXT)"));
    for (const char* column : { "Name", "TelephoneNumber", "PreferredProvider", "Group1", "Group10" })
        m_db->exec(QStringLiteral("CREATE TRIGGER log_%1 AFTER UPDATE OF \"%1\" ON Users BEGIN "
                                  "INSERT INTO Written VALUES ('%1'); END")
                       .arg(QLatin1String(column)));

    CUsersRecordset users;
    users.Open();
    QVERIFY(users.FindFirst(QStringLiteral("ID = %1").arg(m_users[2])));
    users.Edit();
    if (change.contains(QLatin1String("Name")))
        users.m_Name = QStringLiteral("Changed");
    if (change == QLatin1String("same"))
        users.m_TelephoneNumber = QStringLiteral("07700900102");
    if (change.contains(QLatin1String("PreferredProvider")))
        users.m_PreferredProvider = 9;
    if (change == QLatin1String("Group10"))
        users.m_Group10 = 12;
    users.Update();
    users.Close();

    QStringList logged;
    DaoConnection check(m_db->filePath());
    QSqlQuery query(QStringLiteral("SELECT Name FROM Written ORDER BY rowid"), check.database());
    while (query.next())
        logged.append(query.value(0).toString());
    query.finish();
    written.sort();
    logged.sort();
    QCOMPARE(logged, written);
}

void TestDaoRecordset::updateKeepsAnotherConnectionsChangeToOtherColumns()
{
    CUsersRecordset users;
    users.Open();
    QVERIFY(users.FindFirst(QStringLiteral("ID = %1").arg(m_users[1])));
    users.Edit();
    m_db->exec(QStringLiteral("UPDATE Users SET TelephoneNumber = 'elsewhere' WHERE ID = ?"), { m_users[1] });
    users.m_Name = QStringLiteral("Mine");
    users.Update();
    users.Close();

    QCOMPARE(m_db->scalar(QStringLiteral("SELECT Name FROM Users WHERE ID = ?"), { m_users[1] }).toString(), QStringLiteral("Mine"));
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT TelephoneNumber FROM Users WHERE ID = ?"), { m_users[1] }).toString(),
             QStringLiteral("elsewhere"));
}

void TestDaoRecordset::addNewThenMoveLastGivesTheNewRow()
{
    CUsersRecordset users;
    users.Open();
    QVERIFY(users.FindFirst(QStringLiteral("ID = %1").arg(m_users[0])));
    users.AddNew();
    users.Update();
    // The row current before AddNew stays current.
    QCOMPARE(users.m_ID, m_users[0]);
    users.MoveLast();
    const int newId = users.m_ID;
    QVERIFY(newId > m_others.last());
    QCOMPARE(users.m_Name, QString());
    QCOMPARE(users.m_Group5, 0);
    users.Edit();
    users.m_Name = QStringLiteral("Newcomer");
    users.m_Group1 = 7;
    users.Update();
    users.Close();

    QCOMPARE(m_db->scalar(QStringLiteral("SELECT Name FROM Users WHERE ID = ?"), { newId }).toString(), QStringLiteral("Newcomer"));
    // Every Long column not written holds the database's default of 0.
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT PreferredProvider + Group2 + Group10 FROM Users WHERE ID = ?"), { newId }).toInt(), 0);
    QVERIFY(findAll<CUsersRecordset>(groupCriteria(7)).contains(newId));
}

void TestDaoRecordset::idsIncreaseAndAreNeverReused()
{
    CGroupsRecordset groups;
    groups.Open();
    QList<int> ids;
    for (int i = 0; i < 3; ++i) {
        groups.AddNew();
        groups.m_GroupName = QStringLiteral("Group %1").arg(i);
        groups.Update();
        groups.MoveLast();
        ids.append(groups.m_ID);
    }
    QVERIFY(ids[0] < ids[1] && ids[1] < ids[2]);
    groups.Delete(); // the last one
    groups.AddNew();
    groups.Update();
    groups.MoveLast();
    QVERIFY(groups.m_ID > ids[2]);
    QCOMPARE(groups.GetRecordCount(), 3);
}

void TestDaoRecordset::messageRowsShareTheFirstRowsId()
{
    // A message for three users, written the way a queued message is: each row added,
    // then found as the last row and filled in.
    const COleDateTime due(2026, 7, 1, 9, 30, 0);
    CMessagesRecordset messages;
    messages.Open();
    int messageId = 0;
    QList<int> rowIds;
    for (int recipient : { m_users[0], m_users[1], m_users[2] }) {
        messages.AddNew();
        messages.Update();
        messages.MoveLast();
        if (messageId == 0)
            messageId = messages.m_ID;
        rowIds.append(messages.m_ID);
        messages.Edit();
        messages.m_Recipient = recipient;
        messages.m_MessageCount = 3;
        messages.m_MessageId = messageId;
        messages.m_Text = QStringLiteral("Fire drill at ten");
        messages.m_RequiredSendTime = due;
        messages.Update();
    }
    messages.Close();

    QCOMPARE(rowIds, (QList<int> { messageId, messageId + 1, messageId + 2 }));
    QCOMPARE(findAll<CMessagesRecordset>(QStringLiteral("MessageId = %1").arg(messageId)), rowIds);
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT count(DISTINCT RequiredSendTime || Text || MessageCount) FROM Messages")).toInt(), 1);
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT RequiredSendTime FROM Messages WHERE ID = ?"), { messageId }).toString(),
             QStringLiteral("2026-07-01 09:30:00"));
}

void TestDaoRecordset::textOverLimitIsRefusedAndNothingWritten_data()
{
    QTest::addColumn<bool>("addNew");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("refused");
    QTest::newRow("edit, 255") << false << 255 << false;
    QTest::newRow("edit, 256") << false << 256 << true;
    QTest::newRow("add, 255") << true << 255 << false;
    QTest::newRow("add, 1000") << true << 1000 << true;
}

void TestDaoRecordset::textOverLimitIsRefusedAndNothingWritten()
{
    QFETCH(bool, addNew);
    QFETCH(int, length);
    QFETCH(bool, refused);

    const QString text(length, QLatin1Char('x'));
    CUsersRecordset users;
    users.Open();
    if (addNew) {
        users.AddNew();
    } else {
        QVERIFY(users.FindFirst(QStringLiteral("ID = %1").arg(m_users[0])));
        users.Edit();
    }
    users.m_Name = text;
    users.m_TelephoneNumber = QStringLiteral("changed too");
    try {
        users.Update();
        QVERIFY(!refused);
    } catch (const CDaoException& failure) {
        QVERIFY(refused);
        QCOMPARE(failure.kind(), CDaoException::Kind::ValueTooLong);
        QVERIFY(failure.reason().contains(QLatin1String("Name")));
    }
    users.Close();

    const int stored = m_db->scalar(QStringLiteral("SELECT count(*) FROM Users WHERE Name = ? AND TelephoneNumber = 'changed too'"), { text }).toInt();
    QCOMPARE(stored, refused ? 0 : 1);
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT count(*) FROM Users")).toInt(), 12 + (addNew && !refused ? 1 : 0));
}

void TestDaoRecordset::deleteRemovesOnlyTheCurrentRowAndSearchGoesOn()
{
    const QString criteria = groupCriteria(3);
    CUsersRecordset users;
    users.Open();
    int deleted = 0;
    for (bool more = users.FindFirst(criteria); more; more = users.FindNext(criteria)) {
        users.Delete();
        ++deleted;
        QVERIFY_THROWS_EXCEPTION(CDaoException, users.Edit());
    }
    QCOMPARE(deleted, 9);
    QVERIFY(!users.FindFirst(criteria));
    QCOMPARE(users.GetRecordCount(), 3);
    users.MoveFirst();
    QCOMPARE(users.m_ID, m_users[9]);
    users.Close();
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT count(*) FROM Users")).toInt(), 3);
}

void TestDaoRecordset::dateTimeColumnsRoundTripAsLocalText()
{
    const int row = m_db->addMessageRow(m_users[0], 1, QStringLiteral("t"), 0, QStringLiteral("2031-02-28 23:59:58"));
    m_db->exec(QStringLiteral("UPDATE Messages SET SendTime = NULL WHERE ID = ?"), { row });
    CMessagesRecordset messages;
    messages.Open();
    QCOMPARE(messages.m_RequiredSendTime, COleDateTime(2031, 2, 28, 23, 59, 58));
    QVERIFY(messages.m_SendTime.IsZero());
    messages.Edit();
    messages.m_SendTime = COleDateTime(2032, 2, 29, 0, 0, 1);
    messages.Update();
    messages.Close();
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT SendTime FROM Messages")).toString(), QStringLiteral("2032-02-29 00:00:01"));
}

void TestDaoRecordset::closeRemovesTheConnection()
{
    const QStringList before = QSqlDatabase::connectionNames();
    {
        CUsersRecordset users;
        users.Open();
        CGroupsRecordset groups;
        groups.Open();
        QCOMPARE(QSqlDatabase::connectionNames().size(), before.size() + 2);
        users.Close();
        QVERIFY(!users.IsOpen());
    }
    QCOMPARE(QSqlDatabase::connectionNames(), before);
}

QTEST_GUILESS_MAIN(TestDaoRecordset)
#include "test_dao_recordset.moc"

// Every way the database can fail a record set ends in one CDaoException with a
// readable reason, and nothing on disk is created or changed by the failure.
#include "TempDatabase.h"
#include "data/Recordsets.h"
#include "platform/db/DaoException.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <unistd.h>

namespace {

// Runs `operation`, which must throw CDaoException; returns it for inspection.
template <typename Operation>
CDaoException expectFailure(Operation operation)
{
    try {
        operation();
    } catch (const CDaoException& failure) {
        return failure;
    }
    return CDaoException(CDaoException::Kind::Other, QStringLiteral("<nothing was thrown>"));
}

// A connection outside the record set layer that holds an exclusive lock on the file
// until it is destroyed.
class ExclusiveLock
{
public:
    explicit ExclusiveLock(const QString& path)
    {
        m_database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test-lock"));
        m_database.setDatabaseName(path);
        m_database.open();
        QSqlQuery query(m_database);
        m_locked = query.exec(QStringLiteral("BEGIN EXCLUSIVE"));
    }
    ~ExclusiveLock()
    {
        {
            QSqlQuery query(m_database);
            query.exec(QStringLiteral("ROLLBACK"));
        }
        m_database.close();
        m_database = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("test-lock"));
    }
    bool locked() const { return m_locked; }

private:
    QSqlDatabase m_database;
    bool m_locked = false;
};

// Makes a file read-only for its lifetime: by its permissions, or, for the superuser
// whom permissions do not stop, by the immutable attribute.
class ReadOnlyFile
{
public:
    explicit ReadOnlyFile(const QString& path)
        : m_path(path)
    {
        if (geteuid() != 0)
            m_made = QFile::setPermissions(path, QFileDevice::ReadOwner);
        else
            m_made = QProcess::execute(QStringLiteral("chattr"), { QStringLiteral("+i"), path }) == 0;
    }
    ~ReadOnlyFile()
    {
        if (!m_made)
            return;
        if (geteuid() != 0)
            QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        else
            QProcess::execute(QStringLiteral("chattr"), { QStringLiteral("-i"), m_path });
    }
    bool made() const { return m_made; }

private:
    QString m_path;
    bool m_made = false;
};

} // namespace

class TestDaoFailures : public QObject
{
    Q_OBJECT

private slots:
    void missingFileIsNeverCreated();
    void fileThatIsNotSqliteIsRefusedUntouched_data();
    void fileThatIsNotSqliteIsRefusedUntouched();
    void missingTableOrColumnIsNamed_data();
    void missingTableOrColumnIsNamed();
    void lockedFileFailsAfterTheBusyTimeout();
    void readOnlyFileRefusesWrites();
    void unreadableStoredValuesAreReported_data();
    void unreadableStoredValuesAreReported();
    void rowDeletedElsewhereCannotBeUpdated();
    void failedOpenLeavesNoConnectionBehind();
};

void TestDaoFailures::missingFileIsNeverCreated()
{
    TempDatabase folder(TempDatabase::Content::NoFile);
    const CDaoException failure = expectFailure([] {
        CUsersRecordset users;
        users.Open();
    });
    QCOMPARE(failure.kind(), CDaoException::Kind::FileMissing);
    QVERIFY(failure.reason().contains(QLatin1String("Quillpost.mdb")));
    QVERIFY(QDir(folder.folder()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

void TestDaoFailures::fileThatIsNotSqliteIsRefusedUntouched_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("said");
    QByteArray jet(2048, '\0');
    jet.replace(4, 15, "Standard Jet DB");
    QTest::newRow("Jet database") << jet << "Jet/Access";
    QTest::newRow("text file") << QByteArray("Name,Telephone\nAnn,123\n") << "not an SQLite database";
    QTest::newRow("empty file") << QByteArray() << "empty";
    QByteArray damaged("SQLite format 3");
    damaged.append('\0').append(QByteArray(4080, '\x7f'));
    QTest::newRow("damaged SQLite header") << damaged << "Quillpost.mdb";
}

void TestDaoFailures::fileThatIsNotSqliteIsRefusedUntouched()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, said);
    TempDatabase folder(TempDatabase::Content::NoFile);
    QFile file(folder.filePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    const CDaoException failure = expectFailure([] {
        CGroupsRecordset groups;
        groups.Open();
    });
    QCOMPARE(failure.kind(), CDaoException::Kind::NotADatabase);
    QVERIFY2(failure.reason().contains(said), qPrintable(failure.reason()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
}

void TestDaoFailures::missingTableOrColumnIsNamed_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("named");
    QTest::newRow("table dropped") << "DROP TABLE Groups" << "Groups";
    QTest::newRow("column missing") << "DROP TABLE Groups; CREATE TABLE Groups (ID INTEGER PRIMARY KEY, Name TEXT)" << "GroupName";
}

void TestDaoFailures::missingTableOrColumnIsNamed()
{
    QFETCH(QString, damage);
    QFETCH(QString, named);
    TempDatabase db;
    for (const QString& statement : damage.split(QLatin1Char(';')))
        db.exec(statement);

    const CDaoException failure = expectFailure([] {
        CGroupsRecordset groups;
        groups.Open();
    });
    QVERIFY2(failure.reason().contains(named), qPrintable(failure.reason()));
    QCOMPARE(failure.kind(), CDaoException::Kind::MissingTableOrColumn);

    // The other tables are still usable.
    CUsersRecordset users;
    users.Open();
    QVERIFY(users.IsEOF());
}

void TestDaoFailures::lockedFileFailsAfterTheBusyTimeout()
{
    TempDatabase db;
    const int user = db.addUser(QStringLiteral("Ann"), QStringLiteral("1"));
    CUsersRecordset opened;
    opened.Open();
    {
        ExclusiveLock lock(db.filePath());
        QVERIFY(lock.locked());

        const CDaoException openFailure = expectFailure([] {
            CUsersRecordset users;
            users.Open();
        });
        QCOMPARE(openFailure.kind(), CDaoException::Kind::Locked);

        const CDaoException updateFailure = expectFailure([&opened] {
            opened.Edit();
            opened.m_Name = QStringLiteral("Changed while locked");
            opened.Update();
        });
        QCOMPARE(updateFailure.kind(), CDaoException::Kind::Locked);
    }
    // Once the lock is gone the same record set writes again.
    opened.Edit();
    opened.m_Name = QStringLiteral("Changed");
    opened.Update();
    QCOMPARE(db.scalar(QStringLiteral("SELECT Name FROM Users WHERE ID = ?"), { user }).toString(), QStringLiteral("Changed"));
}

void TestDaoFailures::readOnlyFileRefusesWrites()
{
    TempDatabase db;
    db.addGroup(QStringLiteral("Wardens"));
    ReadOnlyFile readOnly(db.filePath());
    if (!readOnly.made())
        QSKIP("the file cannot be made read-only here (superuser without chattr)");
    const CDaoException failure = expectFailure([] {
        CGroupsRecordset groups;
        groups.Open();
        groups.Edit();
        groups.m_GroupName = QStringLiteral("Changed");
        groups.Update();
    });
    QVERIFY2(failure.kind() == CDaoException::Kind::ReadOnly, qPrintable(failure.reason()));
    QCOMPARE(db.scalar(QStringLiteral("SELECT GroupName FROM Groups")).toString(), QStringLiteral("Wardens"));
}

void TestDaoFailures::unreadableStoredValuesAreReported_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("named");
    QTest::newRow("date that is no date") << "UPDATE Messages SET RequiredSendTime = 'next Tuesday'" << "RequiredSendTime";
    QTest::newRow("30 February") << "UPDATE Messages SET SendTime = '2026-02-30 10:00:00'" << "SendTime";
    QTest::newRow("status that is no number") << "UPDATE Messages SET Status = 'sent'" << "Status";
    QTest::newRow("number beyond 32 bits") << "UPDATE Messages SET Retries = 4294967296" << "Retries";
}

void TestDaoFailures::unreadableStoredValuesAreReported()
{
    QFETCH(QString, damage);
    QFETCH(QString, named);
    TempDatabase db;
    db.addMessageRow(1, 1, QStringLiteral("hello"));
    db.exec(damage);
    const CDaoException failure = expectFailure([] {
        CMessagesRecordset messages;
        messages.Open();
    });
    QVERIFY2(failure.reason().contains(named), qPrintable(failure.reason()));
    QVERIFY(!failure.reason().contains(QLatin1String("<nothing was thrown>")));
}

void TestDaoFailures::rowDeletedElsewhereCannotBeUpdated()
{
    TempDatabase db;
    const int group = db.addGroup(QStringLiteral("Wardens"));
    CGroupsRecordset groups;
    groups.Open();
    groups.Edit();
    db.exec(QStringLiteral("DELETE FROM Groups WHERE ID = ?"), { group });
    groups.m_GroupName = QStringLiteral("Changed");
    const CDaoException failure = expectFailure([&groups] { groups.Update(); });
    QVERIFY2(failure.reason().contains(QLatin1String("no longer exists")), qPrintable(failure.reason()));
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM Groups")).toInt(), 0);
}

void TestDaoFailures::failedOpenLeavesNoConnectionBehind()
{
    const QStringList before = QSqlDatabase::connectionNames();
    TempDatabase db;
    db.exec(QStringLiteral("DROP TABLE Messages"));
    CMessagesRecordset messages;
    QVERIFY_THROWS_EXCEPTION(CDaoException, messages.Open());
    QVERIFY(!messages.IsOpen());
    QCOMPARE(QSqlDatabase::connectionNames(), before);
}

QTEST_GUILESS_MAIN(TestDaoFailures)
#include "test_dao_failures.moc"

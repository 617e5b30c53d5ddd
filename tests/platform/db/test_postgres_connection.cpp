// A connection to a database on a PostgreSQL server, against a throwaway cluster of the
// test's own: what opens, and how the server's refusals read as the layer's kinds.
#include "PostgresCluster.h"
#include "data/Recordsets.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoWorkspace.h"
#include "platform/db/DatabaseWatch.h"
#include "platform/db/DatabaseSchema.h"

#include <QTest>

using Kind = CDaoException::Kind;

class TestPostgresConnection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_cluster.Start(), qPrintable(m_cluster.Error())); }

    void refusals_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("kind");
        QTest::newRow("missing table") << "SELECT * FROM Absent" << int(Kind::MissingTableOrColumn);
        QTest::newRow("missing column") << "SELECT Absent FROM t" << int(Kind::MissingTableOrColumn);
        QTest::newRow("text too long")
            << "INSERT INTO t (s) VALUES (repeat('x', 300))" << int(Kind::ValueTooLong);
        QTest::newRow("bad SQL") << "SELEC 1" << int(Kind::Other);
    }

    void refusals()
    {
        QFETCH(QString, sql);
        QFETCH(int, kind);
        DaoConnection connection(m_cluster.Url());
        QVERIFY(connection.IsOnServer());
        connection.Execute("CREATE TABLE IF NOT EXISTS t (s varchar(255))", {}, "create");
        try {
            connection.Execute(sql, {}, "the test's statement");
            QFAIL("the statement was taken");
        } catch (const CDaoException& failure) {
            QCOMPARE(int(failure.kind()), kind);
            QVERIFY2(failure.reason().startsWith("the test's statement: "), qPrintable(failure.reason()));
        }
    }

    // Neither a server that is gone nor a malformed URI shows the password.
    void cannotOpen_data()
    {
        QTest::addColumn<QString>("uri");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no such database")
            << QString("postgresql://quillpost:secret@/absent?host=%1").arg(m_cluster.SocketFolder())
            << "Cannot reach the database postgresql://quillpost@/absent?host=";
        QTest::newRow("no server there")
            << QString("postgresql://quillpost:secret@/quillpost?host=/nonexistent")
            << "Cannot reach the database postgresql://quillpost@/quillpost?host=/nonexistent";
        QTest::newRow("malformed")
            << QString("postgresql://quillpost:secret@h:0/d") << "is not a usable PostgreSQL address";
    }

    void cannotOpen()
    {
        QFETCH(QString, uri);
        QFETCH(QString, reason);
        try {
            DaoConnection connection(uri);
            QFAIL("the database opened");
        } catch (const CDaoException& failure) {
            QVERIFY2(failure.reason().contains(reason) && !failure.reason().contains("secret"),
                qPrintable(failure.reason()));
        }
    }

    // quillpost-db init and check on a server: the tables made once, in any case the
    // program names them, and what a changed table lacks told column by column.
    void schema()
    {
        QVERIFY(m_cluster.CreateDatabase("schema"));
        const QString uri = m_cluster.Url("schema");
        CreateQuillpostDatabase(uri);
        QCOMPARE(FindDatabaseProblems(uri), QStringList());
        DaoConnection connection(uri);
        QVERIFY(HoldsQuillpostTables(connection));
        connection.Execute("INSERT INTO Messages (Text, MessageId) VALUES (?, ?)", { "Hi", 7 }, "add");
        QCOMPARE(connection.Execute("SELECT ID, messageid FROM MESSAGES", {}, "read").next(), true);
        try {
            CreateQuillpostDatabase(uri);
            QFAIL("made twice");
        } catch (const CDaoException& failure) {
            QVERIFY2(failure.reason().contains("already holds a table Users"), qPrintable(failure.reason()));
        }
        connection.Execute("ALTER TABLE Users DROP COLUMN Group10", {}, "drop");
        connection.Execute("ALTER TABLE Groups ALTER COLUMN ID DROP IDENTITY", {}, "plain");
        QCOMPARE(FindDatabaseProblems(uri),
            QStringList({ "The table Users has no column Group10.",
                "The column ID of table Groups is not numbered automatically (it must be an "
                "identity column)." }));
        QVERIFY(!HoldsQuillpostTables(connection));
    }

    // Record sets over the server, as over a file: added, found by criteria, changed,
    // read back, in and out of a transaction.
    void recordsets()
    {
        QVERIFY(m_cluster.CreateDatabase("records"));
        const QString uri = m_cluster.Url("records");
        CreateQuillpostDatabase(uri);
        CDaoRecordset::SetDefaultDatabaseName(uri);
        for (const char* name : { "Ann", "Bob" }) {
            CUsersRecordset users;
            users.Open();
            users.AddNew();
            users.m_Name = name;
            users.m_TelephoneNumber = "1001";
            users.Update();
        }
        {
            CDaoTransaction transaction;
            CUsersRecordset users;
            users.m_strFilter = "ID = 2";
            users.Open();
            QVERIFY(!users.IsEOF());
            users.Edit();
            users.m_TelephoneNumber = "2002";
            users.Update();
            transaction.Commit();
        }
        CUsersRecordset users;
        QStringList read;
        for (users.Open(); !users.IsEOF(); users.MoveNext())
            read << QString("%1 %2 %3").arg(users.m_ID).arg(users.m_Name, users.m_TelephoneNumber);
        QCOMPARE(read, QStringList({ "1 Ann 1001", "2 Bob 2002" }));
        CDaoRecordset::SetDefaultDatabaseName("Quillpost.mdb");
    }

    // Another desk's change reaches the watch as the server's notice, with no look at
    // the tables; a look with nothing told says nothing changed.
    void changesAreTold()
    {
        QVERIFY(m_cluster.CreateDatabase("watched"));
        const QString uri = m_cluster.Url("watched");
        CreateQuillpostDatabase(uri);
        CDaoRecordset::SetDefaultDatabaseName(uri);
        CDatabaseWatch watch;
        QVERIFY(watch.HasChanged()); // the first look
        QTest::qWait(200);
        QVERIFY(!watch.HasChanged());
        DaoConnection(uri).Execute("INSERT INTO Groups (GroupName) VALUES (?)", { "Night" }, "add");
        // Each look takes what was told: the wait keeps the first that saw the change.
        bool told = false;
        QTRY_VERIFY_WITH_TIMEOUT(told = told || watch.HasChanged(), 10000);
        QVERIFY(!watch.HasChanged());
        CDaoRecordset::SetDefaultDatabaseName("Quillpost.mdb");
    }

private:
    PostgresCluster m_cluster;
};

QTEST_GUILESS_MAIN(TestPostgresConnection)
#include "test_postgres_connection.moc"

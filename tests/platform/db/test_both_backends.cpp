// The record set layer, the document and a send's recorded result, each case run on an SQLite
// file and on a database of a PostgreSQL server the test starts: nothing above the layer may
// tell the two apart. Then what only a server does: its refusals read as the layer's kinds, its
// tables made and checked, its changes told. (What only a file does: test_dao_recordset.)
#include "DaoFailure.h"
#include "PostgresCluster.h"
#include "PresetPrompt.h"
#include "TempDatabase.h"
#include "data/QuillTime.h"
#include "data/QuillpostDoc.h"
#include "data/Recordsets.h"
#include "data/SendHistory.h"
#include "dispatch/SendResult.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoWorkspace.h"
#include "platform/db/DatabaseSchema.h"
#include "platform/db/DatabaseWatch.h"

#include <QSqlQuery>
#include <QTest>
#include <ctime>
#include <optional>

namespace {

using Kind = CDaoException::Kind;
using OpenType = CDaoRecordset::OpenType;

// The row once for each backend, named "<backend>: <name>", with the same values.
template <typename... Values> void row(const char* name, const Values&... values)
{
    for (const char* backend : { "sqlite", "postgresql" })
        (QTest::addRow("%s: %s", backend, name) << ... << values);
}

// The values as text, separated by spaces.
template <typename... Parts> QString joined(const Parts&... parts)
{
    QStringList list;
    (list << ... << QVariant(parts).toString());
    return list.join(' ');
}

} // namespace

class TestBothBackends : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_cluster.Start(), qPrintable(m_cluster.Error()));
        // UK rules, so that a day has an hour the clock skips.
        qputenv("TZ", "GMT0BST,M3.5.0/1,M10.5.0");
        tzset();
    }

    // A fresh database of the row's backend (of the server for a case of the server alone), the
    // one record sets open.
    void init()
    {
        if (!QByteArray(QTest::currentDataTag()).startsWith("sqlite")) {
            const QString name = QStringLiteral("case%1").arg(++m_databases);
            QVERIFY(m_cluster.CreateDatabase(name));
            m_name = m_cluster.Url(name);
            QVERIFY_THROWS_NO_EXCEPTION(CreateQuillpostDatabase(m_name));
        } else {
            m_name = m_file.emplace().filePath();
        }
        CDaoRecordset::SetDefaultDatabaseName(m_name);
    }

    void changesWriteWhatWasAsked_data()
    {
        QTest::addColumn<QString>("change"); // made to user 2
        QTest::addColumn<QString>("users"); // "ID Name Group1", by ID, afterwards
        const QString before = "1 Ann 0|2 Bob 9";
        row("add gives the new row's ID", QString("add"), before + "|3 Cy 0");
        row("edit keeps other columns", QString("edit"), QString("1 Ann 0|2 Cy 9"));
        row("delete", QString("delete"), QString("1 Ann 0"));
        row("edit, 256 characters refused", QString("edit 256"), before);
    }

    void changesWriteWhatWasAsked()
    {
        QFETCH(QString, change);
        QFETCH(QString, users);
        QVERIFY_THROWS_NO_EXCEPTION([&] {
            query("INSERT INTO Users (Name) VALUES ('Ann'), ('Bob')");
            CUsersRecordset rs;
            rs.m_strFilter = "ID = 2";
            rs.Open();
            change == "add" ? rs.AddNew() : change == "delete" ? rs.Delete() : rs.Edit();
            // Another desk's change to a column the update leaves alone must survive it.
            query("UPDATE Users SET Group1 = 9 WHERE ID = 2");
            rs.m_Name = change.endsWith("256") ? QString(256, 'x') : "Cy";
            const QString refused = change == "delete" ? "" : DaoFailureOf([&] { rs.Update(); });
            QCOMPARE(refused.section(": ", 1),
                change.endsWith("256") ? "The Name of table Users can hold at most 255 characters; "
                                         "the value given has 256."
                                       : "");
            QCOMPARE(rs.GetLastAddedID(), change == "add" ? 3 : 0);
            if (change == "add") { // the new row stands last, as read back
                rs.MoveLast();
                QCOMPARE(joined(rs.m_ID, rs.m_Name, rs.m_Group1), "3 Cy 0");
            }
            QCOMPARE(
                query("SELECT ID || ' ' || Name || ' ' || Group1 FROM Users ORDER BY ID"), users);
        }());
    }

    void valuesRoundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<COleDateTime>("time");
        row("quotes and SQL, before 1970",
            QString("O'Neil: \"it's\" --; DROP TABLE Users; \\' ? $1 %s"),
            COleDateTime(1960, 2, 29, 0, 0, 1));
        row("non-ASCII; after 2038, in the hour the clock skips",
            QString("Zoë Ångström, 5 € · Grüße · 日本語"), COleDateTime(2040, 3, 25, 1, 30, 5));
        row("255 characters, none ASCII; the zero date", QString(255, QChar(0x00E9)),
            COleDateTime());
    }

    // Written by an add and read back to the character and the second, as a snapshot and
    // forward only.
    void valuesRoundTrip()
    {
        QFETCH(QString, text);
        QFETCH(COleDateTime, time);
        QVERIFY_THROWS_NO_EXCEPTION([&] {
            CMessagesRecordset rs;
            rs.Open();
            rs.AddNew();
            rs.m_Text = text;
            rs.m_SendTime = time;
            rs.Update();
            for (OpenType way : { OpenType::Snapshot, OpenType::ForwardOnly }) {
                rs.Open(way);
                QCOMPARE(joined(rs.m_Text, rs.m_SendTime.ToText()), joined(text, time.ToText()));
            }
        }());
    }

    void filterReadsItsRowsInOrder_data()
    {
        QTest::addColumn<QString>("filter");
        row("either", QString("Recipient = 12 OR [recipient] = 10"));
    }

    // In ID order even after rows were changed (a server may hand rows out in any order), each
    // as "ID:MessageId:Recipient".
    void filterReadsItsRowsInOrder()
    {
        QFETCH(QString, filter);
        QVERIFY_THROWS_NO_EXCEPTION([&] {
            query("INSERT INTO Messages (Recipient, MessageId) VALUES "
                  "(10, 1), (11, 1), (10, 2), (12, 1), (11, 2)");
            query("UPDATE Messages SET Text = 'changed' WHERE ID = 1 OR ID = 3");
            CMessagesRecordset rs;
            rs.m_strFilter = filter;
            for (OpenType way : { OpenType::Snapshot, OpenType::ForwardOnly }) {
                QStringList read;
                for (rs.Open(way); !rs.IsEOF(); rs.MoveNext())
                    read << QString::asprintf("%d:%d:%d", rs.m_ID, rs.m_MessageId, rs.m_Recipient);
                QCOMPARE(read.join(' '), "1:1:10 3:2:10 4:1:12");
            }
        }());
    }

    void transactionKeepsOrDropsItsRows_data()
    {
        QTest::addColumn<bool>("commit");
        row("committed", true);
        row("rolled back", false);
    }

    // The transaction's record sets see its rows at once; they stay only once it commits.
    void transactionKeepsOrDropsItsRows()
    {
        QFETCH(bool, commit);
        QVERIFY_THROWS_NO_EXCEPTION([&] {
            CDaoTransaction transaction;
            CGroupsRecordset groups;
            groups.Open();
            for (const char* name : { "A", "B" }) {
                groups.AddNew();
                groups.m_GroupName = name;
                groups.Update();
            }
            groups.Open();
            groups.MoveLast();
            QCOMPARE(groups.m_GroupName, "B");
            if (commit)
                transaction.Commit();
        }());
        QVERIFY(!CDaoWorkspace::Default().IsInTransaction());
        QCOMPARE(query("SELECT GroupName FROM Groups ORDER BY ID"), commit ? "A|B" : "");
    }

    void documentFollowsTheTablesAndAResult_data()
    {
        QTest::addColumn<bool>("gone"); // recipient 11's row deleted while it was being sent
        row("fourth failure gives up, the send log made for it", false);
        row("recipient's row gone", true);
    }

    // The document reads every table; a failed attempt recorded then reaches the recipient's
    // row, the send log, which the database lacks until then, and, reading that one message
    // again, the document.
    void documentFollowsTheTablesAndAResult()
    {
        QFETCH(bool, gone);
        const COleDateTime at(2026, 3, 10, 9, 0, 7);
        const QString states = gone ? "10 0 0 false" : "10 0 0 false|11 2 4 true";
        PresetPrompt prompt;
        CQuillpostDoc doc;
        // "recipient status retries" and whether the last attempt was at `at`, one per row.
        const auto describe = [&](const std::vector<RecipientState>& states) {
            QStringList described;
            for (const RecipientState& s : states)
                described << joined(
                    s.recipient, s.status, s.retries, s.sendTime == ToQuillTime(at));
            return described.join('|');
        };
        QVERIFY_THROWS_NO_EXCEPTION([&] {
            query("INSERT INTO Users (Name, TelephoneNumber, PreferredProvider, Group1, Group10) "
                  "VALUES ('Ann', '1001', 1, 2, 1), ('Bob', '1002', 0, 1, 0)");
            query("INSERT INTO Groups (GroupName) VALUES ('Day'), ('Night')");
            query("INSERT INTO ServiceProviders (ServiceName, AccessNumber, BaudRate, StopBits, "
                  "Parity, DataBits, TAPType, UseAsDefault) VALUES "
                  "('North', '0161', 1200, 1, 1, 7, 1, 0), ('South', '0162', 2400, 2, 0, 8, 2, 1)");
            query("INSERT INTO Messages (Recipient, MessageId) VALUES (10, 5), (11, 5), (12, 7)");
            query("UPDATE Messages SET Text = 'm' || ID, RequiredSendTime = '2026-03-10 09:00:00'");
            query("UPDATE Messages SET Retries = 3 WHERE Recipient = 11");
            query("DROP TABLE SendLog");
            // Every table as the document holds it, a line per user, group, provider and message
            // ("MessageId text recipients" and whether it is due at 9:00 on 10 March 2026): a
            // message is a run of rows of one MessageId.
            doc.ReloadAll();
            QStringList read;
            for (const auto& u : doc.m_users)
                read << joined(u->m_id, u->m_name, u->m_telephoneNumber, u->m_preferredProvider,
                    u->m_groupIds[0], u->m_groupIds[9]);
            for (const auto& g : doc.m_groups)
                read << joined(g->m_id, g->m_name);
            for (const auto& p : doc.m_providers)
                read << joined(p->m_id, p->m_serviceName, p->m_accessNumber, p->m_baudRate,
                    p->m_stopBits, p->m_parity, p->m_dataBits, p->m_tapType, p->m_useAsDefault);
            for (const auto& job : doc.m_messages) {
                QStringList recipients;
                for (const auto& entry : job->m_recipients)
                    recipients << QString::number(entry->m_recipient);
                read << joined(job->m_messageId, job->m_text, recipients.join(','),
                    job->m_requiredSendTime == ToQuillTime(COleDateTime(2026, 3, 10, 9, 0, 0)));
            }
            QCOMPARE(read,
                QStringList({ "1 Ann 1001 1 2 1", "2 Bob 1002 0 1 0", "1 Day", "2 Night",
                    "1 North 0161 1200 1 1 7 1 false", "2 South 0162 2400 2 0 8 2 true",
                    "5 m1 10,11 true", "7 m3 12 true" }));
            if (gone)
                query("DELETE FROM Messages WHERE Recipient = 11");
            const std::optional<MessageStatus> written = RecordAttemptResult(
                { 5, 11, MessageStatus::Waiting, "P-11", "North", "ACK 'ok' – ü", at });
            QCOMPARE(written.has_value(), !gone);
            QCOMPARE(describe(ReadRecipientStates(5)), states);
            QStringList log;
            for (const SendLogEntry& e : ReadSendLog(5))
                log << joined(e.time, e.messageId, e.recipient, e.pagerId, e.provider, e.outcome,
                    e.terminalLine);
            QCOMPARE(log.join('|'),
                gone ? QString() : joined(at.ToText(), "5 11 P-11 North 2 ACK 'ok' – ü"));
        }());
        QCOMPARE(prompt.shown, QStringList());
        // The document catches up with the one message, or finds it changed beyond that.
        QCOMPARE(doc.ReloadMessage(5), !gone);
        if (!gone)
            QCOMPARE(describe(RecipientStatesOf(doc, 5)), states);
    }

    // What the server refuses reads as the layer's kinds, after the statement's context; a
    // database that cannot be reached is named without the password, wherever the URI gave it.
    void serverRefusals_data()
    {
        QTest::addColumn<QString>("uri"); // empty: the case's database
        QTest::addColumn<QString>("sql");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("said"); // at the start of the reason
        const QString statement = "the test's statement: ";
        QTest::newRow("missing column") << QString() << "SELECT Absent FROM pg_class"
                                        << Kind::MissingTableOrColumn << statement;
        QTest::newRow("bad SQL") << QString() << "SELEC 1" << Kind::Other << statement;
        const QString folder = m_cluster.SocketFolder();
        QTest::newRow("no such database")
            << "postgresql://quillpost:secret@/absent?host=" + folder + "&password=secret"
            << QString() << Kind::Other
            << "Cannot reach the database postgresql://quillpost@/absent?host=" + folder;
    }

    void serverRefusals()
    {
        QFETCH(QString, uri);
        QFETCH(QString, sql);
        QFETCH(Kind, kind);
        QFETCH(QString, said);
        const QString failure = DaoFailureOf([&] {
            DaoConnection(uri.isEmpty() ? m_name : uri).Execute(sql, {}, "the test's statement");
        });
        QVERIFY(failure.startsWith(QString::number(int(kind)) + ": " + said));
        QVERIFY(!failure.contains("secret"));
    }

    // quillpost-db init and check on a server: the tables made once, and what a changed table
    // lacks told column by column, and writes refused.
    void serverSchema()
    {
        QVERIFY_THROWS_NO_EXCEPTION([&] {
            const QString again = DaoFailureOf([&] { CreateQuillpostDatabase(m_name); });
            QVERIFY(again.contains("already holds a table Users; it was left as it is."));
            DaoConnection connection(m_name);
            connection.Execute("ALTER TABLE Users DROP COLUMN Group10", {}, "drop");
            connection.Execute("ALTER TABLE Groups ALTER COLUMN ID DROP IDENTITY", {}, "plain");
            QCOMPARE(FindDatabaseProblems(m_name),
                QStringList({ "The table Users has no column Group10.",
                    "The column ID of table Groups is not numbered automatically (it must be an "
                    "identity column)." }));
            QVERIFY(!HoldsQuillpostTables(connection));
        }());
    }

    // Another desk's change reaches the watch as the server's notice, once; a look with nothing
    // told says nothing changed.
    void serverTellsChanges()
    {
        CDatabaseWatch watch;
        QVERIFY(watch.HasChanged()); // the first look
        QVERIFY_THROWS_NO_EXCEPTION(query("INSERT INTO Groups (GroupName) VALUES ('Night')"));
        // Each look takes what was told: the wait keeps the first that saw the change.
        bool told = false;
        QTRY_VERIFY_WITH_TIMEOUT(told = told || watch.HasChanged(), 20000);
        QVERIFY(!watch.HasChanged());
    }

private:
    // The statement's rows (of one column) on a connection of its own, joined by '|'.
    QString query(const QString& sql) const
    {
        DaoConnection connection(m_name);
        QSqlQuery query = connection.Execute(sql, {}, "The test's statement");
        QStringList rows;
        while (query.next())
            rows << query.value(0).toString();
        return rows.join('|');
    }

    PostgresCluster m_cluster;
    int m_databases = 0;
    std::optional<TempDatabase> m_file;
    QString m_name; // the database of the current row
};

QTEST_GUILESS_MAIN(TestBothBackends)
#include "test_both_backends.moc"

// The record set layer, the document and a send's recorded result, each case run on an SQLite
// file and on a database of a PostgreSQL server the test starts: nothing above the layer may
// tell the two apart. (What only one of them does: test_dao_recordset, test_postgres_connection.)
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

#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <ctime>
#include <optional>

namespace {

using OpenType = CDaoRecordset::OpenType;
const OpenType kBothWays[] = { OpenType::Snapshot, OpenType::ForwardOnly };

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

// A failure of the layer fails the case with its reason instead of ending the whole run.
template <typename Body> void guarded(Body body)
{
    try {
        body();
    } catch (const CDaoException& failure) {
        QFAIL(failure.what());
    }
}

// "recipient status retries" and whether the last attempt was at `at`, one per row.
QString describe(const std::vector<RecipientState>& states, const COleDateTime& at)
{
    QStringList described;
    for (const RecipientState& s : states)
        described << joined(s.recipient, s.status, s.retries, s.sendTime == ToQuillTime(at));
    return described.join('|');
}

// The document's lists, a line per user, group, provider and message ("MessageId text
// recipients" and whether it is due at 9:00 on 10 March 2026).
QStringList contents(const CQuillpostDoc& doc)
{
    QStringList read;
    for (const auto& u : doc.m_users)
        read << joined(u->m_id, u->m_name, u->m_telephoneNumber, u->m_preferredProvider,
            u->m_groupIds[0], u->m_groupIds[9]);
    for (const auto& g : doc.m_groups)
        read << joined(g->m_id, g->m_name);
    for (const auto& p : doc.m_providers)
        read << joined(p->m_id, p->m_serviceName, p->m_accessNumber, p->m_baudRate, p->m_stopBits,
            p->m_parity, p->m_dataBits, p->m_tapType, p->m_useAsDefault);
    for (const auto& job : doc.m_messages) {
        QStringList recipients;
        for (const auto& entry : job->m_recipients)
            recipients << QString::number(entry->m_recipient);
        read << joined(job->m_messageId, job->m_text, recipients.join(','),
            job->m_requiredSendTime == ToQuillTime(COleDateTime(2026, 3, 10, 9, 0, 0)));
    }
    return read;
}

} // namespace

class TestBothBackends : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_cluster.Start(), qPrintable(m_cluster.Error()));
        // UK rules, so that a day has an hour the clock skips and one it repeats.
        qputenv("TZ", "GMT0BST,M3.5.0/1,M10.5.0");
        tzset();
    }

    // A fresh database of the row's backend, the one record sets open.
    void init()
    {
        if (QByteArray(QTest::currentDataTag()).startsWith("postgresql")) {
            const QString name = QStringLiteral("case%1").arg(++m_databases);
            QVERIFY(m_cluster.CreateDatabase(name));
            m_name = m_cluster.Url(name);
            guarded([&] { CreateQuillpostDatabase(m_name); });
        } else {
            m_name = m_file.emplace().filePath();
        }
        CDaoRecordset::SetDefaultDatabaseName(m_name);
    }

    void cleanup()
    {
        CDaoRecordset::SetDefaultDatabaseName("Quillpost.mdb");
        m_file.reset();
    }

    void changesWriteWhatWasAsked_data()
    {
        QTest::addColumn<QString>("change"); // made to user 2
        QTest::addColumn<QString>("users"); // "ID Name TelephoneNumber Group1", by ID, afterwards
        const QString before = "1 Ann 1001 0|2 Bob 1002 9";
        row("add gives the new row's ID", QString("add"), before + "|3 Cy 1003 0");
        row("edit keeps other columns", QString("edit"), QString("1 Ann 1001 0|2 Cy 1002 9"));
        row("delete", QString("delete"), QString("1 Ann 1001 0"));
        row("edit, 256 characters refused", QString("edit 256"), before);
        row("add, 256 characters refused", QString("add 256"), before);
    }

    void changesWriteWhatWasAsked()
    {
        QFETCH(QString, change);
        QFETCH(QString, users);
        guarded([&] {
            query("INSERT INTO Users (Name, TelephoneNumber) VALUES ('Ann', '1001'), ('Bob', "
                  "'1002')");
            CUsersRecordset rs;
            rs.m_strFilter = "ID = 2";
            rs.Open();
            change.startsWith("add") ? rs.AddNew() : change == "delete" ? rs.Delete() : rs.Edit();
            // Another desk's change to a column the update leaves alone must survive it.
            query("UPDATE Users SET Group1 = 9 WHERE ID = 2");
            rs.m_Name = change.endsWith("256") ? QString(256, 'x') : "Cy";
            rs.m_TelephoneNumber = change.startsWith("add") ? "1003" : rs.m_TelephoneNumber;
            try {
                if (change != "delete")
                    rs.Update();
                QVERIFY(!change.endsWith("256"));
            } catch (const CDaoException& failure) {
                QVERIFY2(failure.kind() == CDaoException::Kind::ValueTooLong, failure.what());
                QVERIFY(change.endsWith("256"));
            }
            QCOMPARE(rs.GetLastAddedID(), change == "add" ? 3 : 0);
            if (change == "add") { // the new row stands last, as read back
                rs.MoveLast();
                QCOMPARE(joined(rs.m_ID, rs.m_Name, rs.m_Group1), "3 Cy 0");
            }
            QCOMPARE(
                query("SELECT ID, Name, TelephoneNumber, Group1 FROM Users ORDER BY ID"), users);
        });
    }

    void valuesRoundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<COleDateTime>("time");
        const COleDateTime afternoon(2026, 3, 10, 15, 4, 59);
        row("quotes and SQL", QString("O'Neil: \"it's\" --; DROP TABLE Users; \\' ? $1 %s"),
            afternoon);
        row("non-ASCII", QString("Zoë Ångström, 5 € · Grüße · 日本語"), afternoon);
        row("255 characters, none ASCII", QString(255, QChar(0x00E9)), afternoon);
        row("the zero date", QString("t"), COleDateTime());
        row("before 1970", QString("t"), COleDateTime(1960, 2, 29, 0, 0, 1));
        row("after 2038", QString("t"), COleDateTime(2040, 6, 1, 23, 59, 59));
        row("in the hour the clock skips", QString("t"), COleDateTime(2026, 3, 29, 1, 30, 5));
        row("in the hour the clock repeats", QString("t"), COleDateTime(2026, 10, 25, 1, 30, 5));
    }

    // Written by an add (row 1) and by an edit (row 2), and read back to the character and
    // the second, as a snapshot and forward only.
    void valuesRoundTrip()
    {
        QFETCH(QString, text);
        QFETCH(COleDateTime, time);
        const QString expected = joined(text, time.ToText());
        guarded([&] {
            CMessagesRecordset rs;
            rs.Open();
            for (const QString& added : { text, QStringLiteral("before") }) {
                rs.AddNew();
                rs.m_Text = added;
                rs.m_SendTime = added == text ? time : COleDateTime(2026, 1, 1, 0, 0, 0);
                rs.Update();
            }
            rs.MoveLast();
            rs.Edit();
            rs.m_Text = text;
            rs.m_SendTime = time;
            rs.Update();
            QCOMPARE(query("SELECT Text FROM Messages ORDER BY ID"), text + '|' + text);
            for (OpenType way : kBothWays) {
                QStringList read;
                for (rs.Open(way); !rs.IsEOF(); rs.MoveNext())
                    read << joined(rs.m_Text, rs.m_SendTime.ToText());
                QCOMPARE(read, QStringList({ expected, expected }));
            }
        });
    }

    void filterReadsItsRowsInOrder_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("rows"); // "ID:MessageId:Recipient"
        row("every row", QString(), QString("1:1:10 2:1:11 3:2:10 4:1:12 5:2:11"));
        row("a message's rows", QString("MessageId = 1"), QString("1:1:10 2:1:11 4:1:12"));
        row("both", QString("MessageId = 2 AND Recipient = 11"), QString("5:2:11"));
        row("either", QString("Recipient = 12 OR [recipient] = 10"),
            QString("1:1:10 3:2:10 4:1:12"));
        row("no row", QString("MessageId = -2"), QString());
    }

    // In ID order even after rows were changed (a server may hand rows out in any order).
    void filterReadsItsRowsInOrder()
    {
        QFETCH(QString, filter);
        QFETCH(QString, rows);
        guarded([&] {
            query("INSERT INTO Messages (Recipient, MessageId) VALUES "
                  "(10, 1), (11, 1), (10, 2), (12, 1), (11, 2)");
            query("UPDATE Messages SET Text = 'changed' WHERE ID = 1 OR ID = 3");
            for (OpenType way : kBothWays) {
                CMessagesRecordset rs;
                rs.m_strFilter = filter;
                QStringList read;
                for (rs.Open(way); !rs.IsEOF(); rs.MoveNext())
                    read << QString::asprintf("%d:%d:%d", rs.m_ID, rs.m_MessageId, rs.m_Recipient);
                QCOMPARE(read.join(' '), rows);
            }
        });
    }

    void transactionKeepsOrDropsItsRows_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QString>("kept"); // the groups in the table afterwards
        row("committed", QString("commit"), QString("A|B"));
        row("rolled back", QString("rollback"), QString());
        row("inner level rolled back, outer committed", QString("inner"), QString("A"));
    }

    void transactionKeepsOrDropsItsRows()
    {
        QFETCH(QString, ending);
        QFETCH(QString, kept);
        const auto add = [](const char* name) {
            CGroupsRecordset groups;
            groups.Open();
            groups.AddNew();
            groups.m_GroupName = name;
            groups.Update();
        };
        guarded([&] {
            CDaoTransaction outer;
            add("A");
            {
                CDaoTransaction inner;
                add("B");
                // The transaction's record sets see its rows; another connection sees none yet.
                CGroupsRecordset seen;
                seen.Open();
                seen.MoveLast();
                QCOMPARE(seen.m_GroupName, "B");
                QCOMPARE(query("SELECT count(*) FROM Groups"), "0");
                if (ending != "inner")
                    inner.Commit();
            }
            if (ending != "rollback")
                outer.Commit();
        });
        QVERIFY(!CDaoWorkspace::Default().IsInTransaction());
        guarded([&] { QCOMPARE(query("SELECT GroupName FROM Groups ORDER BY ID"), kept); });
    }

    void documentFollowsTheTablesAndAResult_data()
    {
        QTest::addColumn<int>("result"); // the attempt's MessageStatus, for recipient 11
        QTest::addColumn<int>("retries"); // recipient 11's failed attempts before it
        QTest::addColumn<bool>("withLog"); // whether the database has the send log yet
        QTest::addColumn<QString>("rows"); // of message 5 afterwards, as describe() puts them
        const int sent = StatusValue(MessageStatus::Sent);
        row("sent", sent, 0, true, QString("10 0 0 false|11 1 0 true"));
        row("failed, tried again", 0, 1, true, QString("10 0 0 false|11 0 2 true"));
        row("fourth failure gives up", 0, 3, true, QString("10 0 0 false|11 2 4 true"));
        row("send log made by the first attempt", sent, 0, false,
            QString("10 0 0 false|11 1 0 true"));
        row("recipient's row gone", -1, 0, true, QString("10 0 0 false"));
    }

    // The document reads every table; a send's result recorded then reaches the recipient's row,
    // the send log and, reading that one message again, the document.
    void documentFollowsTheTablesAndAResult()
    {
        QFETCH(int, result);
        QFETCH(int, retries);
        QFETCH(bool, withLog);
        QFETCH(QString, rows);
        const COleDateTime at(2026, 3, 10, 9, 0, 7);
        PresetPrompt prompt;
        CQuillpostDoc doc;
        guarded([&] {
            query("INSERT INTO Users (Name, TelephoneNumber, PreferredProvider, Group1, Group10) "
                  "VALUES ('Ann', '1001', 1, 2, 1), ('Bob', '1002', 0, 1, 0)");
            query("INSERT INTO Groups (GroupName) VALUES ('Day'), ('Night')");
            query("INSERT INTO ServiceProviders (ServiceName, AccessNumber, BaudRate, StopBits, "
                  "Parity, DataBits, TAPType, UseAsDefault) VALUES "
                  "('North', '0161', 1200, 1, 1, 7, 1, 0), ('South', '0162', 2400, 2, 0, 8, 2, 1)");
            query("INSERT INTO Messages (Recipient, MessageId) VALUES (10, 5), (11, 5), (12, 7)");
            query("UPDATE Messages SET Text = 'm' || ID, RequiredSendTime = '2026-03-10 09:00:00'");
            query("UPDATE Messages SET Retries = ? WHERE Recipient = 11", { retries });
            if (!withLog)
                query("DROP TABLE SendLog");
        });
        // Every table as the document holds it: a message is a run of rows of one MessageId.
        doc.ReloadAll();
        QCOMPARE(prompt.shown, QStringList());
        QCOMPARE(contents(doc),
            QStringList({ "1 Ann 1001 1 2 1", "2 Bob 1002 0 1 0", "1 Day", "2 Night",
                "1 North 0161 1200 1 1 7 1 false", "2 South 0162 2400 2 0 8 2 true",
                "5 m1 10,11 true", "7 m3 12 true" }));
        guarded([&] {
            if (result < 0) // deleted while it was being sent
                query("DELETE FROM Messages WHERE Recipient = 11");
            const std::optional<MessageStatus> written = RecordAttemptResult(
                { 5, 11, MessageStatus(qMax(result, 0)), "P-11", "North", "ACK 'ok' – ü", at });
            QCOMPARE(written.has_value(), result >= 0);
            QCOMPARE(describe(ReadRecipientStates(5), at), rows);
            QStringList log;
            for (const SendLogEntry& e : ReadSendLog(5))
                log << joined(e.time, e.messageId, e.recipient, e.pagerId, e.provider, e.outcome,
                    e.terminalLine);
            QCOMPARE(log.join('|'),
                written ? joined(at.ToText(), "5 11 P-11 North", int(*written), "ACK 'ok' – ü")
                        : QString());
        });
        QCOMPARE(prompt.shown, QStringList());
        // The document catches up with the one message, or finds it changed beyond that.
        QCOMPARE(doc.ReloadMessage(5), result >= 0);
        if (result >= 0)
            QCOMPARE(describe(RecipientStatesOf(doc, 5), at), rows);
    }

private:
    // The statement's rows on a connection of its own: columns joined by ' ', rows by '|'.
    QString query(const QString& sql, const QVariantList& values = {}) const
    {
        DaoConnection connection(m_name);
        QSqlQuery query = connection.Execute(sql, values, "The test's statement");
        QStringList rows;
        while (query.next()) {
            QStringList columns;
            for (int i = 0; i < query.record().count(); ++i)
                columns << query.value(i).toString();
            rows << columns.join(' ');
        }
        return rows.join('|');
    }

    PostgresCluster m_cluster;
    int m_databases = 0;
    std::optional<TempDatabase> m_file;
    QString m_name; // the database of the current row
};

QTEST_GUILESS_MAIN(TestBothBackends)
#include "test_both_backends.moc"

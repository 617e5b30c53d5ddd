// The Messages table as a queue: the rows queueing a composed message writes, a message's
// rows deleted, and the scheduler's choice of the next send (which message, which of its
// recipients, the provider's line settings) with its text as it goes on a TAP line. A
// queueing refused half-way is seen through the New Message command (test_tree_commands,
// failedWriteIsReported), a delete that goes through in deleteItem there, and the cut of a
// long text in test_quillpost_send.
#include "FakeClock.h"
#include "TempDatabase.h"
#include "data/QuillpostDoc.h"
#include "dispatch/MessageQueue.h"
#include "dispatch/SendOrder.h"
#include "platform/db/DaoException.h"
#include "tap/TapText.h"

#include <QTest>

namespace {

// The fake clock starts at 2026-03-10 09:00:00 local time.
const QString Now = QStringLiteral("2026-03-10 09:00:00");

struct Row
{
    int recipient;
    int messageId;
    int status = 0;
    QString due = QStringLiteral("2026-03-09 09:00:00");
};

// A small database: providers P1, P2, ... (access numbers "0100", "0200", ...) with their
// UseAsDefault, users 1, 2, ... (pagers "111", "222", ...) with their PreferredProvider,
// Messages rows in table order, then statements run on it.
struct Scene
{
    QList<Row> rows;
    QStringList statements {};
    QList<int> providerDefaults { 1 };
    QList<int> userProviders { 0, 0, 0 };
};

} // namespace

Q_DECLARE_METATYPE(Scene)

class TestMessageQueue : public QObject
{
    Q_OBJECT

private slots:
    // One row per recipient, in the order given; the first row's ID is the message's. The
    // due time takes the date of one value and the time of day of another, as the dialog
    // gives them.
    void queuesOneRowPerRecipient()
    {
        TempDatabase db;
        FakeClock clock;
        db.addMessageRow(1, 1, "earlier", 1);
        const COleDateTime due = CombineDateAndTime(
            COleDateTime(2026, 3, 11, 23, 59, 58), COleDateTime(1899, 12, 30, 6, 30, 0));
        QCOMPARE(QueueMessage("Call ward 4", due, {}), std::nullopt);
        QCOMPARE(QueueMessage("Call ward 4", due, { 9, 4, 6 }), std::optional<std::int32_t>(2));
        QCOMPARE(QueueMessage("Call ward 4", due, { 7 }), std::optional<std::int32_t>(5));
        const QString ids = "ID||' '||MessageId||' '||Recipient||' '||MessageCount||' '||Status"
                            "||' '||Retries";
        QCOMPARE(db.rows("Messages", ids),
            QStringList(
                { "1 1 1 1 1 0", "2 2 9 3 0 0", "3 2 4 3 0 0", "4 2 6 3 0 0", "5 5 7 1 0 0" }));
        // Each new row holds the text and times as local "YYYY-MM-DD HH:MM:SS" text.
        const QString times = "Text||'|'||RequiredSendTime||'|'||RequestTime||'|'||SendTime";
        QCOMPARE(db.rows("Messages", times).mid(1),
            QStringList(
                4, "Call ward 4: Sent using Quillpost|2026-03-11 06:30:00|" + Now + '|' + Now));
    }

    // A delete refused at the message's last row removes none of its rows. (A stored
    // message read back for a resend is seen in test_tree_commands,
    // resendQueuesCopyToEveryRecipient.)
    void refusedDeleteRemovesNoRow()
    {
        TempDatabase db;
        for (const int recipient : { 5, 3, 4 })
            db.addMessageRow(recipient, 1, "text");
        db.exec("CREATE TRIGGER refuse BEFORE DELETE ON Messages WHEN OLD.ID = 3 "
                "BEGIN SELECT RAISE(ABORT, 'disk I/O error'); END");
        QVERIFY_THROWS_EXCEPTION(CDaoException, DeleteMessageRows(1));
        QCOMPARE(db.rows("Messages", "Recipient"), QStringList({ "5", "3", "4" }));
    }

    void choosesTheDueSend_data()
    {
        QTest::addColumn<Scene>("scene");
        QTest::addColumn<QString>("order"); // "MessageId pagerIds accessNumber line", or "none"
        const auto row = [](const char* name, const Scene& scene, const char* order) {
            QTest::newRow(name) << scene << QString(order);
        };
        // Neither the lower MessageId nor the older due time comes first.
        row("table order", { { { 1, 9 }, { 2, 4, 0, "2026-03-03 09:00:00" } } }, "9 111 0100 E71");
        row("first due one second from now, second now",
            { { { 1, 1, 0, "2026-03-10 09:00:01" }, { 2, 2, 0, Now } } }, "2 222 0100 E71");
        row("no entry reaches a provider, next message served",
            { { { 1, 3 }, { 7, 3 }, { 2, 4 } }, {}, { 1 }, { 2, 0 } }, "4 222 0100 E71");
        // Sent and failed entries are never taken: a message with nothing waiting is passed over.
        row("sent and failed entries passed over",
            { { { 1, 5, 1 }, { 2, 5, 2 }, { 3, 6 }, { 1, 6, 1 }, { 2, 6 } } },
            "6 333,222 0100 E71");
        // The order takes the chosen provider's line settings: parity 0 is none, 1 (every
        // other row) even, anything else odd.
        const QString line2 = "UPDATE ServiceProviders SET (Parity, DataBits, StopBits) = (%1) "
                              "WHERE ID = 2";
        // Users 1 (provider 0) and 2 (provider 2, the default) share an order; user 3 names
        // provider 1, which is not the default: its entry waits for a later order.
        row("default by 0 and by ID alike",
            { { { 1, 5 }, { 3, 5 }, { 2, 5 } }, { line2.arg("5, 7, 2") }, { 0, 1 }, { 0, 2, 1 } },
            "5 111,222 0200 O72");
        // Entries of users 1 and 3 (provider 1) are sent: user 2's (provider 2) follows.
        row("other provider follows once the first is recorded",
            { { { 1, 5, 1 }, { 2, 5 }, { 3, 5, 1 } }, { line2.arg("0, 8, 1") }, { 0, 0 },
                { 1, 2, 1 } },
            "5 222 0200 N81");
        row("no telephone number",
            { { { 1, 5 }, { 2, 5 } }, { "UPDATE Users SET TelephoneNumber = '' WHERE ID = 1" } },
            "5 ,222 0100 E71");
    }

    void choosesTheDueSend()
    {
        QFETCH(Scene, scene);
        QFETCH(QString, order);
        TempDatabase db;
        for (int i = 1; i <= scene.providerDefaults.size(); ++i)
            db.addProvider(QStringLiteral("P%1").arg(i), QStringLiteral("0%1").arg(i) + "00",
                scene.providerDefaults[i - 1]);
        for (int i = 1; i <= scene.userProviders.size(); ++i)
            db.addUser(QStringLiteral("U%1").arg(i), QString(3, QChar('0' + i)),
                scene.userProviders[i - 1]);
        for (const Row& row : scene.rows)
            db.addMessageRow(row.recipient, row.messageId,
                QStringLiteral("message %1").arg(row.messageId), row.status, row.due);
        for (const QString& statement : scene.statements)
            db.exec(statement);
        FakeClock clock;
        CQuillpostDoc doc;
        doc.ReloadAll();

        const std::optional<SendOrder> chosen = ChooseDueSend(doc);
        // The order keeps its message as it was when chosen, though a reload frees it (seen
        // by the sanitizer build when the order is read below).
        db.exec("DELETE FROM Messages");
        doc.ReloadAll();
        QCOMPARE(!chosen
                ? QStringLiteral("none")
                : QStringLiteral("%1 %2 %3 %4%5%6")
                      .arg(chosen->job->m_messageId)
                      .arg(QStringList(chosen->pagerIds.begin(), chosen->pagerIds.end()).join(','),
                          chosen->accessNumber, QChar(chosen->parity))
                      .arg(chosen->dataBits)
                      .arg(chosen->stopBits),
            order);
    }

    // Printable ASCII passes, an accent written on its own goes, Latin letters that do not
    // decompose are spelled out, anything else becomes "?". Accented letters and a sign
    // outside Latin-1 are seen in test_send_session, end to end.
    void textFitForTapLine()
    {
        QCOMPARE(ToTapText(" Gate 4 ~ {ok}! e\u0301 Stra\u00dfe \u00c6r\u00f8 a\nb\x7f \U0001F600"),
            QByteArray(" Gate 4 ~ {ok}! e Strasse AEro a?b? ?"));
    }
};

QTEST_GUILESS_MAIN(TestMessageQueue)
#include "test_message_queue.moc"

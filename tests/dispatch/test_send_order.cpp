// The scheduler's choice of the next send (which message, which of its recipients, the
// provider's line settings) and the text as it goes on a TAP line.
#include "FakeClock.h"
#include "PresetPrompt.h"
#include "TempDatabase.h"
#include "data/QuillpostDoc.h"
#include "dispatch/SendOrder.h"
#include "tap/TapText.h"

#include <QTest>

namespace {

// The fake clock's start, 2026-03-10 09:00:00 local time, and times around it.
const QString Now = QStringLiteral("2026-03-10 09:00:00");
const QString SecondLater = QStringLiteral("2026-03-10 09:00:01");
const QString Tomorrow = QStringLiteral("2026-03-11 09:00:00");
const QString Yesterday = QStringLiteral("2026-03-09 09:00:00");
const QString LastWeek = QStringLiteral("2026-03-03 09:00:00");

struct User
{
    QString telephoneNumber;
    int preferredProvider;
};

struct Row
{
    int recipient;
    int messageId;
    int status = 0;
    QString requiredSendTime = Yesterday;
};

const QList<User> kThreeOnDefault { { "111", 0 }, { "222", 0 }, { "333", 0 } };

// A small database: providers 1, 2, ... (access numbers "0100", "0200", ...), users
// 1, 2, ..., Messages rows in table order, then statements run over them.
struct Scene
{
    QList<Row> rows;
    QStringList statements {};
    QList<int> providerDefaults { 1 }; // UseAsDefault of each provider
    QList<User> users = kThreeOnDefault;
};

QString messageText(int messageId)
{
    return QStringLiteral("message %1").arg(messageId);
}

void build(const TempDatabase& db, const Scene& scene)
{
    for (int i = 0; i < scene.providerDefaults.size(); ++i)
        db.addProvider(QStringLiteral("P%1").arg(i + 1),
            QStringLiteral("0%1").arg(i + 1) + QStringLiteral("00"), scene.providerDefaults[i]);
    for (int i = 0; i < scene.users.size(); ++i)
        db.addUser(QStringLiteral("U%1").arg(i + 1), scene.users[i].telephoneNumber,
            scene.users[i].preferredProvider);
    for (const Row& row : scene.rows)
        db.addMessageRow(row.recipient, row.messageId, messageText(row.messageId), row.status,
            row.requiredSendTime);
    for (const QString& statement : scene.statements)
        db.exec(statement);
}

// "MessageId recipients pagerIds line", lists joined by commas, the line as access
// number, parity, data and stop bits; "none" when nothing is due.
QString describe(const std::optional<SendOrder>& order)
{
    if (!order)
        return QStringLiteral("none");
    QStringList recipients;
    for (std::int32_t recipient : order->recipients)
        recipients << QString::number(recipient);
    return QStringLiteral("%1 %2 %3 %4 %5%6%7")
        .arg(order->job->m_messageId)
        .arg(recipients.join(','),
            QStringList(order->pagerIds.begin(), order->pagerIds.end()).join(','),
            order->accessNumber, QChar(order->parity))
        .arg(order->dataBits)
        .arg(order->stopBits);
}

} // namespace

Q_DECLARE_METATYPE(Scene)

class TestSendOrder : public QObject
{
    Q_OBJECT

private slots:
    void choosesTheDueSend_data()
    {
        QTest::addColumn<Scene>("scene");
        QTest::addColumn<QString>("order"); // as describe() gives it

        const auto row = [](const char* name, const Scene& scene, const char* order) {
            QTest::newRow(name) << scene << QString(order);
        };
        row("no messages", {}, "none");
        // Neither the lower MessageId nor the older due time comes first.
        row("table order", { { { 1, 9 }, { 2, 4, 0, LastWeek } } }, "9 1 111 0100 E71");
        row("first due tomorrow, second now", { { { 1, 1, 0, Tomorrow }, { 2, 2, 0, Now } } },
            "2 2 222 0100 E71");
        row("due this very second", { { { 1, 1, 0, Now } } }, "1 1 111 0100 E71");
        row("due one second from now", { { { 1, 1, 0, SecondLater } } }, "none");
        row("deleted user passed over",
            { { { 1, 3 }, { 2, 3 } }, { "DELETE FROM Users WHERE ID = 1" } }, "3 2 222 0100 E71");
        row("no entry reaches a provider, next message served",
            { { { 1, 3 }, { 7, 3 }, { 2, 4 } }, {}, { 1 }, { { "111", 2 }, { "222", 0 } } },
            "4 2 222 0100 E71");
        row("no provider at all", { { { 1, 1 }, { 2, 1 } }, {}, {} }, "none");
        row("sent and failed entries never taken", { { { 1, 5, 1 }, { 2, 5, 2 }, { 3, 5 } } },
            "5 3 333 0100 E71");
        row("sent entry through the same provider not collected",
            { { { 1, 5 }, { 2, 5, 1 }, { 3, 5 } } }, "5 1,3 111,333 0100 E71");
        row("message with nothing waiting passed over", { { { 1, 5, 1 }, { 2, 5, 2 }, { 3, 6 } } },
            "6 3 333 0100 E71");
        // Users 1 (provider 0) and 2 (provider 2, the default) share an order; user 3 names
        // provider 1, which is not the default.
        row("default by 0 and by ID alike",
            { { { 1, 5 }, { 3, 5 }, { 2, 5 } }, {}, { 0, 1 },
                { { "111", 0 }, { "222", 2 }, { "333", 1 } } },
            "5 1,2 111,222 0200 E71");
        row("without a default, 0 means the first provider",
            { { { 1, 5 }, { 2, 5 }, { 3, 5 } }, {}, { 0, 0 },
                { { "111", 1 }, { "222", 2 }, { "333", 0 } } },
            "5 1,3 111,333 0100 E71");
        row("deleted provider not replaced by the default",
            { { { 1, 5 }, { 2, 5 } }, { "DELETE FROM ServiceProviders WHERE ID = 2" }, { 1, 0 },
                { { "111", 2 }, { "222", 0 } } },
            "5 2 222 0100 E71");
        row("no telephone number",
            { { { 1, 5 }, { 2, 5 } }, {}, { 1 }, { { "", 0 }, { "222", 0 } } },
            "5 1,2 ,222 0100 E71");
        // The user names provider 2, whose line settings go with the order; provider 1, the
        // default, has settings no row uses. Parity 0 is none, 1 even, anything else odd.
        for (const auto& [settings, line] : { std::pair { "0, 8, 1", "N81" }, { "1, 7, 1", "E71" },
                 { "2, 7, 2", "O72" }, { "5, 8, 2", "O82" } })
            QTest::addRow(
                "line settings of the provider named, parity, data and stop bits %s", settings)
                << Scene { { { 1, 1 } },
                       { "UPDATE ServiceProviders SET Parity = 2, DataBits = 6, StopBits = 2",
                           QStringLiteral("UPDATE ServiceProviders SET (Parity, DataBits, "
                                          "StopBits) = (%1) WHERE ID = 2")
                               .arg(settings) },
                       { 1, 0 }, { { "111", 2 } } }
                << QStringLiteral("1 1 111 0200 %1").arg(line);
    }

    void choosesTheDueSend()
    {
        QFETCH(Scene, scene);
        QFETCH(QString, order);

        TempDatabase db;
        build(db, scene);
        FakeClock clock;
        PresetPrompt prompt;
        CQuillpostDoc doc;
        doc.ReloadAll();

        const std::optional<SendOrder> chosen = ChooseDueSend(doc);
        QCOMPARE(prompt.shown, QStringList());
        QCOMPARE(describe(chosen), order);
        if (chosen)
            QCOMPARE(chosen->text, messageText(chosen->job->m_messageId));
    }

    void otherProviderFollowsOnceTheFirstIsRecorded()
    {
        // Entries A (provider 1), B (provider 2), C (provider 1) of one message.
        TempDatabase db;
        build(db,
            Scene { { { 1, 5 }, { 2, 5 }, { 3, 5 } }, {}, { 0, 0 },
                { { "111", 1 }, { "222", 2 }, { "333", 1 } } });
        FakeClock clock;
        PresetPrompt prompt;
        CQuillpostDoc doc;
        doc.ReloadAll();

        const std::optional<SendOrder> first = ChooseDueSend(doc);
        QCOMPARE(describe(first), QStringLiteral("5 1,3 111,333 0100 E71"));

        db.exec(QStringLiteral("UPDATE Messages SET Status = 1 WHERE Recipient IN (1, 3)"));
        doc.ReloadAll();

        // The order keeps the message as it was when chosen, though the reload freed it.
        QCOMPARE(first->job->m_messageId, 5);
        QCOMPARE(first->job->m_text, QStringLiteral("message 5"));
        QCOMPARE(first->job->m_recipients.size(), std::size_t(3));
        QCOMPARE(first->job->m_recipients[2]->m_status, 0);

        QCOMPARE(describe(ChooseDueSend(doc)), QStringLiteral("5 2 222 0200 E71"));
        db.exec(QStringLiteral("UPDATE Messages SET Status = 1 WHERE Recipient = 2"));
        doc.ReloadAll();
        QVERIFY(!ChooseDueSend(doc));
        QCOMPARE(prompt.shown, QStringList());
    }

    void textFitForTapLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("line");
        // Accents and a sign outside Latin-1 are seen in the send tests, on the terminal's side.
        QTest::newRow("plain ASCII") << QStringLiteral("Gate 4 ~ call 555-0100 {ok}!")
                                     << QByteArray("Gate 4 ~ call 555-0100 {ok}!");
        QTest::newRow("combining accent") << QStringLiteral("e\u0301") << QByteArray("e");
        QTest::newRow("sharp s") << QStringLiteral("Stra\u00dfe") << QByteArray("Strasse");
        QTest::newRow("ash and slashed o") << QStringLiteral("\u00c6r\u00f8") << QByteArray("AEro");
        QTest::newRow("line break") << QStringLiteral("a\nb") << QByteArray("a?b");
        QTest::newRow("emoji") << QStringLiteral("\U0001F600") << QByteArray("?");
        QTest::newRow("DEL") << QStringLiteral("\x7f") << QByteArray("?");
        QTest::newRow("empty") << QString() << QByteArray();
    }

    void textFitForTapLine()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, line);
        QCOMPARE(ToTapText(text), line);
    }
};

QTEST_GUILESS_MAIN(TestSendOrder)
#include "test_send_order.moc"

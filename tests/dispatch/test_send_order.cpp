// The scheduler's choice of the next send (which message, which of its recipients, the
// provider's line settings) and the text as it goes on a TAP line.
#include "FakeClock.h"
#include "PresetPrompt.h"
#include "TempDatabase.h"
#include "data/QuillpostDoc.h"
#include "dispatch/SendOrder.h"
#include "dispatch/TapText.h"

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
    int status;
    QString requiredSendTime;
};

// A small database: providers 1, 2, ... (access numbers "0100", "0200", ...), users
// 1, 2, ..., Messages rows in table order, then statements run over them.
struct Scene
{
    QList<int> providerDefaults; // UseAsDefault of each provider
    QList<User> users;
    QList<Row> rows;
    QStringList statements;
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

} // namespace

Q_DECLARE_METATYPE(Scene)

class TestSendOrder : public QObject
{
    Q_OBJECT

private slots:
    void choosesTheDueSend_data()
    {
        QTest::addColumn<Scene>("scene");
        QTest::addColumn<int>("messageId"); // 0: nothing is due
        QTest::addColumn<QList<int>>("recipients");
        QTest::addColumn<QStringList>("pagerIds");
        QTest::addColumn<QString>("line"); // the access number, parity, data and stop bits

        const QString T1 = QStringLiteral("07700900001");
        const QString T2 = QStringLiteral("07700900002");
        const QString T3 = QStringLiteral("07700900003");
        const QList<User> threeOnDefault { { T1, 0 }, { T2, 0 }, { T3, 0 } };

        QTest::newRow("no messages") << Scene { { 1 }, threeOnDefault, {}, {} } << 0
                                     << QList<int> {} << QStringList {} << QString();
        // Neither the lower MessageId nor the older due time comes first.
        QTest::newRow("table order")
            << Scene { { 1 }, threeOnDefault, { { 1, 9, 0, Yesterday }, { 2, 4, 0, LastWeek } },
                   {} }
            << 9 << QList<int> { 1 } << QStringList { T1 } << QStringLiteral("0100 E71");
        QTest::newRow("first due tomorrow, second now")
            << Scene { { 1 }, threeOnDefault, { { 1, 1, 0, Tomorrow }, { 2, 2, 0, Now } }, {} } << 2
            << QList<int> { 2 } << QStringList { T2 } << QStringLiteral("0100 E71");
        QTest::newRow("due this very second")
            << Scene { { 1 }, threeOnDefault, { { 1, 1, 0, Now } }, {} } << 1 << QList<int> { 1 }
            << QStringList { T1 } << QStringLiteral("0100 E71");
        QTest::newRow("due one second from now")
            << Scene { { 1 }, threeOnDefault, { { 1, 1, 0, SecondLater } }, {} } << 0
            << QList<int> {} << QStringList {} << QString();
        QTest::newRow("deleted user passed over")
            << Scene { { 1 }, threeOnDefault, { { 1, 3, 0, Yesterday }, { 2, 3, 0, Yesterday } },
                   { QStringLiteral("DELETE FROM Users WHERE ID = 1") } }
            << 3 << QList<int> { 2 } << QStringList { T2 } << QStringLiteral("0100 E71");
        QTest::newRow("no entry reaches a provider, next message served")
            << Scene { { 1 }, { { T1, 2 }, { T2, 0 } },
                   { { 1, 3, 0, Yesterday }, { 7, 3, 0, Yesterday }, { 2, 4, 0, Yesterday } }, {} }
            << 4 << QList<int> { 2 } << QStringList { T2 } << QStringLiteral("0100 E71");
        QTest::newRow("no provider at all")
            << Scene { {}, threeOnDefault, { { 1, 1, 0, Yesterday }, { 2, 1, 0, Yesterday } }, {} }
            << 0 << QList<int> {} << QStringList {} << QString();
        QTest::newRow("sent and failed entries never taken")
            << Scene { { 1 }, threeOnDefault,
                   { { 1, 5, 1, Yesterday }, { 2, 5, 2, Yesterday }, { 3, 5, 0, Yesterday } }, {} }
            << 5 << QList<int> { 3 } << QStringList { T3 } << QStringLiteral("0100 E71");
        QTest::newRow("sent entry through the same provider not collected")
            << Scene { { 1 }, threeOnDefault,
                   { { 1, 5, 0, Yesterday }, { 2, 5, 1, Yesterday }, { 3, 5, 0, Yesterday } }, {} }
            << 5 << QList<int> { 1, 3 } << QStringList { T1, T3 } << QStringLiteral("0100 E71");
        QTest::newRow("message with nothing waiting passed over") << Scene { { 1 }, threeOnDefault,
            { { 1, 5, 1, Yesterday }, { 2, 5, 2, Yesterday }, { 3, 6, 0, Yesterday } },
            {} } << 6 << QList<int> { 3 } << QStringList { T3 } << QStringLiteral("0100 E71");
        // Users 1 (provider 0) and 2 (provider 2, the default) share an order; user 3 names
        // provider 1, which is not the default.
        QTest::newRow("default by 0 and by ID alike")
            << Scene { { 0, 1 }, { { T1, 0 }, { T2, 2 }, { T3, 1 } },
                   { { 1, 5, 0, Yesterday }, { 3, 5, 0, Yesterday }, { 2, 5, 0, Yesterday } }, {} }
            << 5 << QList<int> { 1, 2 } << QStringList { T1, T2 } << QStringLiteral("0200 E71");
        QTest::newRow("without a default, 0 means the first provider")
            << Scene { { 0, 0 }, { { T1, 1 }, { T2, 2 }, { T3, 0 } },
                   { { 1, 5, 0, Yesterday }, { 2, 5, 0, Yesterday }, { 3, 5, 0, Yesterday } }, {} }
            << 5 << QList<int> { 1, 3 } << QStringList { T1, T3 } << QStringLiteral("0100 E71");
        QTest::newRow("deleted provider not replaced by the default") << Scene {
            { 1, 0 }, { { T1, 2 }, { T2, 0 } }, { { 1, 5, 0, Yesterday }, { 2, 5, 0, Yesterday } },
            { QStringLiteral("DELETE FROM ServiceProviders WHERE ID = 2") }
        } << 5 << QList<int> { 2 } << QStringList { T2 } << QStringLiteral("0100 E71");
        QTest::newRow("no telephone number") << Scene { { 1 }, { { QString(), 0 }, { T2, 0 } },
            { { 1, 5, 0, Yesterday }, { 2, 5, 0, Yesterday } },
            {} } << 5 << QList<int> { 1, 2 } << QStringList { QString(), T2 }
                                             << QStringLiteral("0100 E71");
        // The user names provider 2, whose line settings go with the order; provider 1, the
        // default, has settings no row uses. Parity 0 is none, 1 even, anything else odd.
        const auto lineOf = [&](int parity, int dataBits, int stopBits, const char* line) {
            QTest::addRow("line settings of the provider named, parity %d", parity) << Scene {
                { 1, 0 }, { { T1, 2 } }, { { 1, 1, 0, Yesterday } },
                { "UPDATE ServiceProviders SET Parity = 2, DataBits = 6, StopBits = 2 WHERE ID = 1",
                    QStringLiteral("UPDATE ServiceProviders SET Parity = %1, DataBits = %2, "
                                   "StopBits = %3 WHERE ID = 2")
                        .arg(parity)
                        .arg(dataBits)
                        .arg(stopBits) }
            } << 1 << QList<int> { 1 } << QStringList { T1 } << QString(line);
        };
        lineOf(0, 8, 1, "0200 N81");
        lineOf(1, 7, 1, "0200 E71");
        lineOf(2, 7, 2, "0200 O72");
        lineOf(5, 8, 2, "0200 O82");
    }

    void choosesTheDueSend()
    {
        QFETCH(Scene, scene);
        QFETCH(int, messageId);
        QFETCH(QList<int>, recipients);
        QFETCH(QStringList, pagerIds);
        QFETCH(QString, line);

        TempDatabase db;
        build(db, scene);
        FakeClock clock;
        PresetPrompt prompt;
        CQuillpostDoc doc;
        doc.ReloadAll();

        const std::optional<SendOrder> order = ChooseDueSend(doc);
        QCOMPARE(prompt.shown, QStringList());
        if (messageId == 0) {
            QVERIFY(!order);
            return;
        }
        QVERIFY(order);
        QCOMPARE(order->job->m_messageId, messageId);
        QCOMPARE(order->text, messageText(messageId));
        QCOMPARE(QList<int>(order->recipients.begin(), order->recipients.end()), recipients);
        QCOMPARE(QStringList(order->pagerIds.begin(), order->pagerIds.end()), pagerIds);
        QCOMPARE(QStringLiteral("%1 %2%3%4")
                     .arg(order->accessNumber, QChar(order->parity))
                     .arg(order->dataBits)
                     .arg(order->stopBits),
            line);
    }

    void otherProviderFollowsOnceTheFirstIsRecorded()
    {
        // Entries A (provider 1), B (provider 2), C (provider 1) of one message.
        TempDatabase db;
        build(db,
            Scene { { 0, 0 },
                { { QStringLiteral("111"), 1 }, { QStringLiteral("222"), 2 },
                    { QStringLiteral("333"), 1 } },
                { { 1, 5, 0, Yesterday }, { 2, 5, 0, Yesterday }, { 3, 5, 0, Yesterday } }, {} });
        FakeClock clock;
        PresetPrompt prompt;
        CQuillpostDoc doc;
        doc.ReloadAll();

        const std::optional<SendOrder> first = ChooseDueSend(doc);
        QVERIFY(first);
        QCOMPARE(
            QList<int>(first->recipients.begin(), first->recipients.end()), (QList<int> { 1, 3 }));
        QCOMPARE(QStringList(first->pagerIds.begin(), first->pagerIds.end()),
            (QStringList { QStringLiteral("111"), QStringLiteral("333") }));
        QCOMPARE(first->accessNumber, QStringLiteral("0100"));

        db.exec(QStringLiteral("UPDATE Messages SET Status = 1 WHERE Recipient IN (1, 3)"));
        doc.ReloadAll();

        // The order keeps the message as it was when chosen, though the reload freed it.
        QCOMPARE(first->job->m_messageId, 5);
        QCOMPARE(first->job->m_text, QStringLiteral("message 5"));
        QCOMPARE(first->job->m_recipients.size(), std::size_t(3));
        QCOMPARE(first->job->m_recipients[2]->m_status, 0);

        const std::optional<SendOrder> second = ChooseDueSend(doc);
        QVERIFY(second);
        QCOMPARE(second->job->m_messageId, 5);
        QCOMPARE(
            QList<int>(second->recipients.begin(), second->recipients.end()), QList<int> { 2 });
        QCOMPARE(QStringList(second->pagerIds.begin(), second->pagerIds.end()),
            QStringList { QStringLiteral("222") });
        QCOMPARE(second->accessNumber, QStringLiteral("0200"));

        db.exec(QStringLiteral("UPDATE Messages SET Status = 1 WHERE Recipient = 2"));
        doc.ReloadAll();
        QVERIFY(!ChooseDueSend(doc));
        QCOMPARE(prompt.shown, QStringList());
    }

    void textFitForTapLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("plain ASCII") << QStringLiteral("Gate 4 ~ call 555-0100 {ok}!")
                                     << QByteArray("Gate 4 ~ call 555-0100 {ok}!");
        QTest::newRow("precomposed accent") << QStringLiteral("Caf\u00e9") << QByteArray("Cafe");
        QTest::newRow("accent then euro") << QStringLiteral("\u00e9\u20ac") << QByteArray("e?");
        QTest::newRow("combining accent") << QStringLiteral("e\u0301") << QByteArray("e");
        QTest::newRow("sharp s") << QStringLiteral("Stra\u00dfe") << QByteArray("Strasse");
        QTest::newRow("ash and slashed o") << QStringLiteral("\u00c6r\u00f8") << QByteArray("AEro");
        QTest::newRow("line break") << QStringLiteral("a\nb") << QByteArray("a?b");
        QTest::newRow("tab") << QStringLiteral("\t") << QByteArray("?");
        QTest::newRow("CJK") << QStringLiteral("\u65e5\u672c") << QByteArray("??");
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

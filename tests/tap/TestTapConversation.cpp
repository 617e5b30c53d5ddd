#include "TapRecorder.h"

#include <QTest>
#include <memory>

// Whole conversations, with the recorder acting as the sending window: on each
// acceptance it moves to the next recipient and asks for its block, and logs out
// after the last one.

namespace {

const QByteArray kText("Fire drill at 3pm: Sent using Quillpost");
const QList<QByteArray> kPagerIds { "5550101", "5550102", "5550199" };

const QByteArray kAckLine("\x06\r");
const QByteArray kNakLine("\x15\r");
const QByteArray kGoAheadLine("\x1B[p\r");
const QByteArray kLogin("\x1BPG1\r");
const QByteArray kLogout("\x04\r");

// The three blocks, spelled out byte for byte with their checksums.
QByteArray ExpectedBlock(const QByteArray& pagerId, const QByteArray& checksum)
{
    return QByteArray(1, '\x02') + pagerId + '\r' + kText + '\r' + '\x03' + checksum + '\r';
}
const QByteArray kBlock1 = ExpectedBlock("5550101", "?89");
const QByteArray kBlock2 = ExpectedBlock("5550102", "?8:");
const QByteArray kBlock3 = ExpectedBlock("5550199", "?9:");

// Plays the sending window over a list of recipients.
class SendingWindow
{
public:
    SendingWindow(TapRecorder& recorder, CTapExchange& exchange)
        : m_exchange(exchange)
    {
        recorder.onAccepted = [this] { OnAccepted(); };
        recorder.onRefused = [this] { ++refusals; };
    }

    void Start()
    {
        m_exchange.SetState(TapState::Connected);
        m_exchange.SetMessageText(kText);
        m_exchange.SetPagerId(kPagerIds.at(0));
        m_exchange.SendWakeUp();
    }

    int accepted = 0;
    int refusals = 0;

private:
    void OnAccepted()
    {
        ++accepted;
        if (accepted < kPagerIds.size()) {
            m_exchange.SetPagerId(kPagerIds.at(accepted));
            m_exchange.SendBlock();
        } else {
            m_exchange.SendLogout();
        }
    }

    CTapExchange& m_exchange;
};

} // namespace

class TestTapConversation : public QObject
{
    Q_OBJECT

private slots:
    void threeRecipients_data();
    void threeRecipients();
    void refusedSecondBlockEndsTheExchange();
    void terminalAnswersInsideEachWrite();
    void ownerRestartsInsideNotification();
};

void TestTapConversation::threeRecipients_data()
{
    QTest::addColumn<TapScript>("terminal");
    QTest::addColumn<int>("wakeUps");
    QTest::addColumn<int>("logins");

    QTest::newRow("prompt on first wake-up, replies together") << TapScript { Chunk("ID="),
        Chunk("110 1.8\r" + kAckLine + kGoAheadLine), Chunk(kAckLine), Chunk(kAckLine),
        Chunk("211 sent\r" + kAckLine) } << 1 << 1;
    QTest::newRow("prompt after two wake-ups, replies apart") << TapScript { Ticks(21), Ticks(21),
        Chunk("I"), Chunk("D="), Chunk(kAckLine), Chunk(kGoAheadLine), Chunk(kAckLine),
        Chunk(kAckLine), Chunk(kAckLine) } << 3 << 1;
    QTest::newRow("login refused once, replies byte by byte") << TapScript { Ticks(5), Chunk("ID="),
        Chunk(kNakLine), Chunk(kAckLine), Chunk("\x1B"), Chunk("["), Chunk("p"), Chunk("\r"),
        Chunk("\x06"), Chunk("\r"), Chunk("\x06"), Chunk("\n"), Chunk("\x06"), Chunk("\r") }
                                                              << 1 << 2;
}

void TestTapConversation::threeRecipients()
{
    QFETCH(TapScript, terminal);
    QFETCH(int, wakeUps);
    QFETCH(int, logins);

    TapRecorder recorder;
    CTapExchange exchange(recorder, recorder);
    SendingWindow window(recorder, exchange);
    window.Start();
    RunScript(exchange, terminal);

    QList<QByteArray> expected(wakeUps, "\r");
    expected << QList<QByteArray>(logins, kLogin);
    expected << kBlock1 << Accepted() << kBlock2 << Accepted() << kBlock3 << Accepted() << kLogout
             << Paused100();
    QCOMPARE(recorder.events, expected);
    QCOMPARE(window.accepted, 3);
    QCOMPARE(window.refusals, 0);
}

void TestTapConversation::refusedSecondBlockEndsTheExchange()
{
    TapRecorder recorder;
    CTapExchange exchange(recorder, recorder);
    SendingWindow window(recorder, exchange);
    window.Start();
    RunScript(exchange,
        { Chunk("ID="), Chunk(kAckLine + kGoAheadLine), Chunk(kAckLine),
            Chunk("514 bad\r" + kNakLine), Chunk(kAckLine), Chunk(kNakLine), Ticks(50) });

    const QList<QByteArray> expected { "\r", kLogin, kBlock1, Accepted(), kBlock2, kLogout,
        Paused100(), Refused() };
    QCOMPARE(recorder.events, expected);
    QCOMPARE(recorder.wire, QByteArray("\r" + kLogin + kBlock1 + kBlock2 + kLogout));
    QCOMPARE(window.accepted, 1);
    QCOMPARE(window.refusals, 1);
}

void TestTapConversation::terminalAnswersInsideEachWrite()
{
    // A terminal so fast that its reply arrives while the write is still in progress:
    // the exchange must already be in the state that reads that reply.
    TapRecorder recorder;
    CTapExchange exchange(recorder, recorder);
    recorder.onWrite = [&exchange](const QByteArray& written) {
        QByteArray reply;
        if (written == "\r")
            reply = "ID=";
        else if (written == kLogin)
            reply = kAckLine + kGoAheadLine;
        else if (written.startsWith('\x02'))
            reply = kAckLine;
        if (!reply.isEmpty())
            exchange.OnReceived(static_cast<std::int32_t>(reply.size()), reply.constData());
    };
    SendingWindow window(recorder, exchange);
    window.Start();

    const QList<QByteArray> expected { "\r", kLogin, kBlock1, Accepted(), kBlock2, Accepted(),
        kBlock3, Accepted(), kLogout, Paused100() };
    QCOMPARE(recorder.events, expected);
    QCOMPARE(window.accepted, 3);
}

void TestTapConversation::ownerRestartsInsideNotification()
{
    // The owner may change the state while handling a verdict; the exchange then
    // follows the new state and nothing of the old line is replayed.
    TapRecorder recorder;
    CTapExchange exchange(recorder, recorder);
    recorder.onAccepted = [&exchange] { exchange.SetState(TapState::Dialling); };
    exchange.SetPagerId("123");
    exchange.SetMessageText("ABC");
    exchange.SetState(TapState::BlockSent);
    RunScript(exchange, { Chunk(kAckLine + "ID="), Chunk(kAckLine), Chunk("ID="), Ticks(30) });

    QCOMPARE(recorder.events, QList<QByteArray> { Accepted() });
    QCOMPARE(exchange.State(), TapState::Dialling);
}

QTEST_GUILESS_MAIN(TestTapConversation)
#include "TestTapConversation.moc"

#include "TapRecorder.h"
#include "tap/TapBlock.h"

#include <QTest>
#include <memory>

Q_DECLARE_METATYPE(TapScript)
Q_DECLARE_METATYPE(TapState)

namespace {

const QByteArray kAck(1, '\x06');
const QByteArray kNak(1, '\x15');
const QByteArray kGoAhead("\x1B[p");
const QByteArray kLogin("\x1BPG1\r");
const QByteArray kLogout("\x04\r");
// FormatBlock("123", "ABC"), spelled out.
const QByteArray kBlock = QByteArray::fromHex("02313233 0D 414243 0D 03 31373B 0D");

} // namespace

class TestTapExchange : public QObject
{
    Q_OBJECT

private slots:
    void repliesInEachState_data();
    void repliesInEachState();
    void lineBufferOverflow_data();
    void lineBufferOverflow();
    void wakeUpRepeats_data();
    void wakeUpRepeats();
    void chunkCountBelowOneDoesNothing_data();
    void chunkCountBelowOneDoesNothing();
    void ownerEndsExchangeInsideNotification_data();
    void ownerEndsExchangeInsideNotification();
};

namespace {

void AddReplyRow(const char* name, TapState start, const TapScript& script,
    const QList<QByteArray>& events, TapState end)
{
    QTest::newRow(name) << start << script << events << end;
}

} // namespace

void TestTapExchange::repliesInEachState_data()
{
    QTest::addColumn<TapState>("start");
    QTest::addColumn<TapScript>("script");
    QTest::addColumn<QList<QByteArray>>("events");
    QTest::addColumn<TapState>("end");

    using S = TapState;
    AddReplyRow("prompt gets the login", S::Waking, { Chunk("ID=") }, { kLogin }, S::LoginSent);
    AddReplyRow("prompt split as I then D=", S::Waking, { Chunk("I"), Chunk("D=") }, { kLogin },
        S::LoginSent);
    AddReplyRow("prompt split as ID then =", S::Waking, { Chunk("ID"), Chunk("=") }, { kLogin },
        S::LoginSent);
    AddReplyRow("prompt start after a line end is kept", S::Waking, { Chunk("\r\nI"), Chunk("D=") },
        { kLogin }, S::LoginSent);
    AddReplyRow("only an unfinished pattern is kept", S::Waking, { Chunk("\rIX"), Chunk("D=") }, {},
        S::Waking);
    AddReplyRow("prompt behind other text", S::Waking,
        {
            Chunk("110 1.8 ID="),
        },
        { kLogin }, S::LoginSent);
    AddReplyRow(
        "line without prompt changes nothing", S::Waking, { Chunk("HELLO\r") }, {}, S::Waking);
    AddReplyRow("prompt parsed once, line emptied", S::Waking, { Chunk("ID="), Chunk("\r") },
        { kLogin }, S::LoginSent);

    AddReplyRow("ACK and go-ahead together send the block", S::LoginSent,
        { Chunk(kAck + '\r' + kGoAhead + '\r') }, { kBlock }, S::BlockSent);
    AddReplyRow("ACK alone waits for the go-ahead", S::LoginSent, { Chunk(kAck + '\r') }, {},
        S::AwaitGoAhead);
    AddReplyRow("ACK then go-ahead apart", S::LoginSent,
        { Chunk(kAck + '\r'), Chunk(kGoAhead + '\r') }, { kBlock }, S::BlockSent);
    AddReplyRow("ACK then go-ahead split mid-pattern", S::LoginSent,
        { Chunk(kAck + '\r'), Chunk("\x1B["), Chunk("p\r") }, { kBlock }, S::BlockSent);
    AddReplyRow("go-ahead split as ESC after the ACK line", S::LoginSent,
        { Chunk(kAck + "\r\x1B"), Chunk("[p\r") }, { kBlock }, S::BlockSent);
    AddReplyRow("go-ahead split as ESC [ after the ACK line", S::LoginSent,
        { Chunk(kAck + "\r\x1B["), Chunk("p\r") }, { kBlock }, S::BlockSent);
    AddReplyRow("go-ahead start kept across a line without ACK", S::LoginSent,
        { Chunk("110 1.8\r\x1B"), Chunk("[p\r") }, { kBlock }, S::BlockSent);
    AddReplyRow("NAK to login repeats it identically", S::LoginSent, { Chunk(kNak + '\r') },
        { kLogin }, S::LoginSent);
    AddReplyRow("two NAKs, two logins", S::LoginSent,
        { Chunk("514 bad\r" + kNak + '\r'), Chunk(kNak + '\r') }, { kLogin, kLogin }, S::LoginSent);
    AddReplyRow("ACK and NAK together count as ACK at login", S::LoginSent,
        { Chunk(kNak + kAck + '\r') }, {}, S::AwaitGoAhead);
    AddReplyRow("go-ahead without ACK sends the block", S::LoginSent, { Chunk(kGoAhead + '\r') },
        { kBlock }, S::BlockSent);
    AddReplyRow("NAK with go-ahead repeats the login", S::LoginSent,
        { Chunk(kNak + '\r' + kGoAhead + '\r') }, { kLogin }, S::LoginSent);
    AddReplyRow("prompt ignored after login", S::LoginSent, { Chunk("ID=") }, {}, S::LoginSent);
    AddReplyRow(
        "prompt ignored awaiting go-ahead", S::AwaitGoAhead, { Chunk("ID=") }, {}, S::AwaitGoAhead);
    AddReplyRow("prompt ignored after a block", S::BlockSent, { Chunk("ID=") }, {}, S::BlockSent);
    AddReplyRow("go-ahead after ACK sends the block", S::AwaitGoAhead, { Chunk(kGoAhead + '\r') },
        { kBlock }, S::BlockSent);
    AddReplyRow("NAK awaiting go-ahead ignored", S::AwaitGoAhead, { Chunk(kNak + '\r') }, {},
        S::AwaitGoAhead);

    AddReplyRow("ACK to a block", S::BlockSent, { Chunk("211 sent\r" + kAck + '\r') },
        { Accepted() }, S::BlockSent);
    AddReplyRow("ACK and NAK in one line count as ACK", S::BlockSent, { Chunk(kNak + kAck + '\r') },
        { Accepted() }, S::BlockSent);
    AddReplyRow("NAK to a block: logout, pause, then refusal", S::BlockSent, { Chunk(kNak + '\r') },
        { kLogout, Paused100(), Refused() }, S::BlockSent);
    AddReplyRow("a block is refused only once", S::BlockSent,
        { Chunk(kNak + '\r'), Chunk(kNak + '\r'), Chunk(kAck + '\r') },
        { kLogout, Paused100(), Refused() }, S::BlockSent);
    AddReplyRow("a block is accepted only once", S::BlockSent,
        { Chunk(kAck + '\r'), Chunk(kAck + '\r'), Chunk(kNak + '\r') }, { Accepted() },
        S::BlockSent);
    AddReplyRow("go-ahead after a block ignored", S::BlockSent, { Chunk(kGoAhead + '\r') }, {},
        S::BlockSent);

    AddReplyRow(
        "zero byte hides the prompt", S::Waking, { Chunk(QByteArray("x\0ID=", 5)) }, {}, S::Waking);
    AddReplyRow("zero byte hides only its own line", S::Waking,
        { Chunk(QByteArray("\0ID=", 4)), Chunk("ID=") }, { kLogin }, S::LoginSent);
    AddReplyRow("zero byte hides the ACK", S::BlockSent,
        { Chunk(QByteArray(1, '\0') + kAck + '\r') }, {}, S::BlockSent);
    AddReplyRow("bytes before the zero byte still count", S::BlockSent,
        { Chunk(kAck + QByteArray(1, '\0') + kNak + '\r') }, { Accepted() }, S::BlockSent);

    for (const TapState idle : { S::Dialling, S::Connected }) {
        const QByteArray name = idle == S::Dialling ? "dialling" : "connected";
        QTest::newRow(name + ": every reply ignored")
            << idle
            << TapScript { Chunk("ID="), Chunk(kAck + '\r'), Chunk(kNak + '\r'),
                   Chunk(kGoAhead + '\r'), Ticks(100) }
            << QList<QByteArray>() << idle;
    }
    AddReplyRow(
        "ticks outside waking write nothing", S::LoginSent, { Ticks(200) }, {}, S::LoginSent);
}

void TestTapExchange::repliesInEachState()
{
    QFETCH(TapState, start);
    QFETCH(TapScript, script);
    QFETCH(QList<QByteArray>, events);
    QFETCH(TapState, end);

    TapRecorder recorder;
    CTapExchange exchange(recorder, recorder);
    exchange.SetPagerId("123");
    exchange.SetMessageText("ABC");
    exchange.SetState(start);

    RunScript(exchange, script);

    QCOMPARE(recorder.events, events);
    QCOMPARE(exchange.State(), end);
}

void TestTapExchange::lineBufferOverflow_data()
{
    QTest::addColumn<TapState>("start");
    QTest::addColumn<TapScript>("script");
    QTest::addColumn<QList<QByteArray>>("events");

    // A run without CR, LF or "=" keeps its newest 1024 bytes.
    const QByteArray filler1022(1022, 'x');
    QTest::newRow("ACK still within the newest 1024 bytes")
        << TapState::BlockSent << TapScript { Chunk(kAck), Chunk(filler1022), Chunk("\r") }
        << QList<QByteArray> { Accepted() };
    QTest::newRow("ACK pushed out by one byte")
        << TapState::BlockSent << TapScript { Chunk(kAck), Chunk(filler1022 + 'x'), Chunk("\r") }
        << QList<QByteArray>();
    QTest::newRow("newest bytes kept over a long run")
        << TapState::Waking
        << TapScript { Chunk(QByteArray(700, 'x')), Chunk(QByteArray(700, 'y')), Chunk("I"),
               Chunk("D"), Chunk("=") }
        << QList<QByteArray> { kLogin };
    QTest::newRow("one chunk larger than the buffer")
        << TapState::BlockSent << TapScript { Chunk(QByteArray(3000, 'x') + kAck + '\r') }
        << QList<QByteArray> { Accepted() };
    QTest::newRow("early ACK of an oversized chunk is lost")
        << TapState::BlockSent << TapScript { Chunk(kAck + QByteArray(3000, 'x') + '\r') }
        << QList<QByteArray>();
    QTest::newRow("line emptied after an overflowing parse")
        << TapState::Waking << TapScript { Chunk(QByteArray(5000, 'z')), Chunk("\r"), Chunk("ID=") }
        << QList<QByteArray> { kLogin };
}

void TestTapExchange::lineBufferOverflow()
{
    QFETCH(TapState, start);
    QFETCH(TapScript, script);
    QFETCH(QList<QByteArray>, events);

    TapRecorder recorder;
    CTapExchange exchange(recorder, recorder);
    exchange.SetPagerId("123");
    exchange.SetMessageText("ABC");
    exchange.SetState(start);
    RunScript(exchange, script);
    QCOMPARE(recorder.events, events);
}

void TestTapExchange::wakeUpRepeats_data()
{
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("wakeUps");

    QTest::newRow("no tick") << 0 << 1;
    QTest::newRow("tick 20") << 20 << 1;
    QTest::newRow("tick 21") << 21 << 2;
    QTest::newRow("tick 41") << 41 << 2;
    QTest::newRow("tick 42") << 42 << 3;
    QTest::newRow("tick 63") << 63 << 4;
    QTest::newRow("tick 210") << 210 << 11;
}

void TestTapExchange::wakeUpRepeats()
{
    QFETCH(int, ticks);
    QFETCH(int, wakeUps);

    TapRecorder recorder;
    CTapExchange exchange(recorder, recorder);
    exchange.SetState(TapState::Connected);
    exchange.SendWakeUp();
    QCOMPARE(exchange.State(), TapState::Waking);
    RunScript(exchange, { Ticks(ticks) });
    QCOMPARE(recorder.events, QList<QByteArray>(wakeUps, "\r"));

    // The prompt stops the wake-ups for good.
    RunScript(exchange, { Chunk("ID="), Ticks(100) });
    QCOMPARE(recorder.events.size(), wakeUps + 1);
    QCOMPARE(recorder.events.last(), kLogin);
}

void TestTapExchange::chunkCountBelowOneDoesNothing_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("withBytes");

    QTest::newRow("zero") << 0 << true;
    QTest::newRow("minus one") << -1 << true;
    QTest::newRow("most negative") << int(INT32_MIN) << true;
    QTest::newRow("no bytes at all") << 3 << false;
}

void TestTapExchange::chunkCountBelowOneDoesNothing()
{
    QFETCH(int, count);
    QFETCH(bool, withBytes);

    TapRecorder recorder;
    CTapExchange exchange(recorder, recorder);
    exchange.SetState(TapState::Waking);
    exchange.OnReceived(count, withBytes ? "ID=" : nullptr);
    QVERIFY(recorder.events.isEmpty());
    QCOMPARE(exchange.State(), TapState::Waking);

    // Nothing was kept either: a later "D=" does not complete a prompt.
    exchange.OnReceived(2, "D=");
    QVERIFY(recorder.events.isEmpty());
}

void TestTapExchange::ownerEndsExchangeInsideNotification_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QList<QByteArray>>("events");

    QTest::newRow("accepted") << kAck + '\r' << QList<QByteArray> { Accepted() };
    QTest::newRow("refused") << kNak + '\r'
                             << QList<QByteArray> { kLogout, Paused100(), Refused() };
}

void TestTapExchange::ownerEndsExchangeInsideNotification()
{
    QFETCH(QByteArray, reply);
    QFETCH(QList<QByteArray>, events);

    // The sending window closes, and so destroys the exchange, while handling the
    // verdict; the exchange must not touch itself afterwards (the sanitizer build
    // reports any use after free).
    TapRecorder recorder;
    auto exchange = std::make_unique<CTapExchange>(recorder, recorder);
    recorder.onAccepted = [&exchange] { exchange.reset(); };
    recorder.onRefused = [&exchange] { exchange.reset(); };
    exchange->SetState(TapState::BlockSent);
    exchange->OnReceived(static_cast<std::int32_t>(reply.size()), reply.constData());
    QVERIFY(!exchange);
    QCOMPARE(recorder.events, events);
}

QTEST_GUILESS_MAIN(TestTapExchange)
#include "TestTapExchange.moc"

#include "tap/TapExchange.h"

#include <QTest>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

namespace {

using Events = QList<QByteArray>;
using Ticks = int; // a number of 100 ms ticks
// A chunk of received bytes, or ticks.
using TapStep = std::variant<QByteArray, Ticks>;
using TapScript = QList<TapStep>;

const QByteArray kAccepted("<accepted>");
const QByteArray kRefused("<refused>");
const QByteArray kPaused100("<pause 100>");
const QByteArray kEnded("<ended>");
const QByteArray kAcceptedThenEnded("<accepted, then ended>");

const QByteArray kAck("\x06\r");
const QByteArray kNak("\x15\r");
const QByteArray kGoAhead("\x1B[p\r");
const QByteArray kLogin("\x1BPG1\r");
const QByteArray kLogout("\x04\r");
const QByteArray kRs("\x1E\r");
const QByteArray kGoAway("\x1B\x04\r");
const QByteArray kBlock = QByteArray::fromHex("02313233 0D 414243 0D 03 31373B 0D");

// Stands in for both the line and the owner of an exchange and records, in order, every
// write (its bytes), every pause (recorded, not slept) and every notification. The
// callbacks run after the event is recorded, so a test can act as the sending window or
// as the terminal from inside a notification or a write.
struct Recorder : ITapLine, ITapOwner
{
    void WriteText(const QByteArray& bytes) override
    {
        events << bytes;
        onWrite(bytes);
    }
    void Pause(int ms) override { events << "<pause " + QByteArray::number(ms) + '>'; }
    void OnTapAccepted() override
    {
        events << kAccepted;
        onAccepted();
    }
    void OnTapRefused() override
    {
        events << kRefused;
        onRefused();
    }
    void OnTapEnded(bool acceptedFirst) override
    {
        events << (acceptedFirst ? kAcceptedThenEnded : kEnded);
    }
    void OnTapTerminalLine(const QString& line) override { lines << line; }

    std::function<void()> onAccepted = [] {};
    std::function<void()> onRefused = [] {};
    std::function<void(const QByteArray&)> onWrite = [](const QByteArray&) {};
    Events events;
    QStringList lines; // every message-sequence line reported, in order
};

void Feed(CTapExchange& exchange, const QByteArray& bytes)
{
    exchange.OnReceived(static_cast<std::int32_t>(bytes.size()), bytes.constData());
}

void RunScript(CTapExchange& exchange, const TapScript& script)
{
    for (const TapStep& step : script) {
        if (const int* ticks = std::get_if<int>(&step)) {
            for (int tick = 0; tick < *ticks; ++tick)
                exchange.OnTick();
        } else {
            Feed(exchange, std::get<QByteArray>(step));
        }
    }
}

// The state the exchange ends in is the one it starts in unless given.
void Row(const char* name, TapState start, const TapScript& script, const Events& events,
    std::optional<TapState> end = {}, const QByteArray& password = {})
{
    QTest::newRow(name) << start << script << events << end.value_or(start) << password;
}

// What the line sees when three recipients are paged: the blocks, spelled out with
// their checksums, each accepted, then the logout.
const QByteArray kText("Fire drill at 3pm: Sent using Quillpost");
const QList<QByteArray> kPagerIds { "5550101", "5550102", "5550199" };
QByteArray Block(const QByteArray& id, const char* sum)
{
    return '\x02' + id + '\r' + kText + "\r\x03" + sum + '\r';
}
Events Conversation(int wakeUps, int logins)
{
    return Events(wakeUps, "\r") + Events(logins, kLogin)
        + Events { Block("5550101", "?89"), kAccepted, Block("5550102", "?8:"), kAccepted,
              Block("5550199", "?9:"), kAccepted, kLogout, kPaused100 };
}

} // namespace

Q_DECLARE_METATYPE(TapScript)
Q_DECLARE_METATYPE(TapState)

class TestTapExchange : public QObject
{
    Q_OBJECT

private slots:
    void repliesInEachState_data()
    {
        QTest::addColumn<TapState>("start");
        QTest::addColumn<TapScript>("script");
        QTest::addColumn<Events>("events");
        QTest::addColumn<TapState>("end");
        QTest::addColumn<QByteArray>("password");

        using S = TapState;
        const QByteArray x1022(1022, 'x');
        // A prompt split anywhere is read alike. The wake-ups every 21 ticks are in
        // threeRecipients; none comes sooner.
        Row("prompt behind other text", S::Waking, { "110 1.8 ID=" }, { kLogin }, S::LoginSent);
        Row("prompt split as I, D=", S::Waking, { "I", "D=" }, { kLogin }, S::LoginSent);
        Row("only an unfinished pattern is kept", S::Waking, { "\rIX", "D=" }, {});
        Row("prompt parsed once", S::Waking, { "ID=", "\r" }, { kLogin }, S::LoginSent);
        Row("no wake-up by tick 20", S::Waking, { Ticks(20) }, {});
        Row("prompt ends the wake-ups", S::Waking, { Ticks(21), "ID=", Ticks(100) },
            { "\r", kLogin }, S::LoginSent);

        // ACK and go-ahead together, apart and byte by byte, a refused log-on sent again, a
        // block accepted and a block refused once and for all: see threeRecipients.
        Row("ACK alone", S::LoginSent, { kAck }, {}, S::AwaitGoAhead);
        Row("go-ahead split after a line end", S::LoginSent, { "\x06\r\x1B", "[p\r" }, { kBlock },
            S::BlockSent);
        Row("ACK and NAK at login count as ACK", S::LoginSent, { "\x15\x06\r" }, {},
            S::AwaitGoAhead);
        Row("go-ahead without ACK", S::LoginSent, { kGoAhead }, { kBlock }, S::BlockSent);
        Row("NAK with go-ahead", S::LoginSent, { kNak + kGoAhead }, { kLogin });
        Row("prompt ignored after login", S::LoginSent, { "ID=" }, {});
        // The password goes with every login, a repeated one too.
        const QByteArray withPassword("\x1BPG1abc123\r");
        Row("login with a password", S::Waking, { "ID=", kNak }, { withPassword, withPassword },
            S::LoginSent, "abc123");
        Row("control bytes left out of the password", S::Waking, { "ID=" }, { "\x1BPG1abc\r" },
            S::LoginSent, "ab\r\033c");
        Row("NAK awaiting go-ahead ignored", S::AwaitGoAhead, { kNak }, {});

        // ACK is looked for first: with NAK or RS beside it, it wins alike.
        Row("ACK and NAK to a block count as ACK", S::BlockSent, { "\x15\x06\r" }, { kAccepted });
        Row("a block is accepted once", S::BlockSent, { kAck, kAck, kNak }, { kAccepted });
        // RS to a block, ESC EOT to a block and to the log-on: each in a send test against
        // the simulator (an unknown pager ID, the page limit, a wrong password).
        Row("ESC EOT split from its CR", S::BlockSent, { "\r\x1B", "\x04\r" }, { kEnded },
            S::Ended);
        Row("ACK and ESC EOT: accepted, then ended", S::BlockSent,
            { "211 Page Sent\r" + kAck + "512 Call Again\r" + kGoAway }, { kAcceptedThenEnded },
            S::Ended);
        Row("ESC EOT after the verdict", S::BlockSent, { kAck, kGoAway }, { kAccepted, kEnded },
            S::Ended);
        Row("ESC EOT while waking", S::Waking, { kGoAway, Ticks(100) }, { kEnded }, S::Ended);
        Row("nothing after the end", S::Ended,
            { "ID=", kAck + kGoAhead, kNak, kGoAway, Ticks(100) }, {});
        Row("prompt and go-ahead ignored after a block", S::BlockSent, { "ID=", kGoAhead }, {});

        // Zero bytes are line noise: whatever stands after them still counts.
        Row("ACK behind zero bytes", S::BlockSent, { QByteArray("\0\0\x06\r", 4) }, { kAccepted });
        Row("prompt behind a zero byte", S::Waking, { QByteArray("\0ID=", 4) }, { kLogin },
            S::LoginSent);

        // A run without CR, LF or "=" keeps its newest 1024 bytes.
        Row("ACK within the newest 1024 bytes", S::BlockSent, { "\x06", x1022, "\r" },
            { kAccepted });
        Row("ACK pushed out by one byte", S::BlockSent, { "\x06", x1022 + 'x', "\r" }, {});
        Row("chunk larger than the buffer", S::BlockSent, { QByteArray(3000, 'x') + kAck },
            { kAccepted });
        Row("line emptied after an overflow", S::Waking, { QByteArray(5000, 'z'), "\r", "ID=" },
            { kLogin }, S::LoginSent);

        const TapScript everything { "ID=", kAck, kNak, kGoAhead, kRs, kGoAway, Ticks(100) };
        Row("connected ignores everything", S::Connected, everything, {});
    }

    void repliesInEachState()
    {
        QFETCH(TapState, start);
        QFETCH(TapScript, script);
        QFETCH(Events, events);
        QFETCH(TapState, end);
        QFETCH(QByteArray, password);

        Recorder recorder;
        CTapExchange exchange(recorder, recorder);
        exchange.SetPassword(password);
        exchange.SetPagerId("123");
        exchange.SetMessageText("ABC");
        exchange.SetState(start);
        RunScript(exchange, script);
        QCOMPARE(recorder.events, events);
        QCOMPARE(exchange.State(), end);
    }

    void chunkCountBelowOneDoesNothing()
    {
        for (const auto& [count, bytes] : QList<QPair<std::int32_t, const char*>> {
                 { 0, "ID=" }, { -1, "ID=" }, { INT32_MIN, "ID=" }, { 3, nullptr } }) {
            Recorder recorder;
            CTapExchange exchange(recorder, recorder);
            exchange.SetState(TapState::Waking);
            exchange.OnReceived(count, bytes);
            // Nothing was kept either: a later "D=" does not complete a prompt.
            Feed(exchange, "D=");
            QVERIFY(recorder.events.isEmpty());
            QCOMPARE(exchange.State(), TapState::Waking);
        }
    }

    // The sending window closes, destroying the exchange, while it handles the verdict; the
    // exchange must not touch itself afterwards (the sanitizer build reports any use after free).
    void ownerDestroysExchangeInsideNotification()
    {
        for (const QByteArray& reply : { kAck, kNak }) {
            Recorder recorder;
            auto exchange = std::make_unique<CTapExchange>(recorder, recorder);
            recorder.onAccepted = recorder.onRefused = [&exchange] { exchange.reset(); };
            exchange->SetState(TapState::BlockSent);
            Feed(*exchange, reply);
            QVERIFY(!exchange);
            QCOMPARE(recorder.events.last(), reply == kAck ? kAccepted : kRefused);
        }
    }

    void threeRecipients_data()
    {
        QTest::addColumn<TapScript>("terminal"); // empty: replies from inside each write
        QTest::addColumn<Events>("events");

        QTest::newRow("prompt at once, replies together")
            << TapScript { "ID=", "110 1.8\r" + kAck + kGoAhead, kAck, kAck, "211 sent\r" + kAck }
            << Conversation(1, 1);
        QTest::newRow("prompt after two wake-ups, replies apart") << TapScript { Ticks(42), "I",
            "D=", kAck, kGoAhead, kAck, kAck, kAck } << Conversation(3, 1);
        // A terminal so fast that its reply arrives while the write is still in progress: the
        // exchange must already be in the state that reads that reply.
        QTest::newRow("replies inside each write") << TapScript {} << Conversation(1, 1);
        QTest::newRow("login refused once, replies byte by byte") << TapScript { Ticks(5),
            "ID=", kNak, kAck, "\x1B", "[", "p", "\r", "\x06", "\r", "\x06", "\n", "\x06", "\r" }
                                                                  << Conversation(1, 2);
        // The refusal ends the exchange: the third block never goes.
        QTest::newRow("second block refused")
            << TapScript { "ID=", kAck + kGoAhead, kAck, "514 bad\r" + kNak, kAck, kNak, Ticks(50) }
            << Conversation(1, 1).mid(0, 5) + Events { kLogout, kPaused100, kRefused };
    }

    // Plays the sending window over the three recipients: on each acceptance it sends the
    // next block, and logs out after the last.
    void threeRecipients()
    {
        QFETCH(TapScript, terminal);
        QFETCH(Events, events);

        Recorder recorder;
        CTapExchange exchange(recorder, recorder);
        if (terminal.isEmpty()) {
            recorder.onWrite = [&exchange](const QByteArray& written) {
                if (written == "\r")
                    Feed(exchange, "ID=");
                else if (written == kLogin)
                    Feed(exchange, kAck + kGoAhead);
                else if (written.startsWith('\x02'))
                    Feed(exchange, kAck);
            };
        }
        exchange.SetState(TapState::Connected);
        exchange.SetMessageText(kText);
        exchange.SetPagerId(kPagerIds[0]);
        recorder.onAccepted = [&exchange, next = 1]() mutable {
            if (next < kPagerIds.size()) {
                exchange.SetPagerId(kPagerIds[next++]);
                exchange.SendBlock();
            } else {
                exchange.SendLogout();
            }
        };
        exchange.SendWakeUp();
        RunScript(exchange, terminal);
        QCOMPARE(recorder.events, events);
    }

    void terminalLines_data()
    {
        QTest::addColumn<TapScript>("script");
        QTest::addColumn<QStringList>("reported");

        const QString cut = "511 Bad ID " + QString(69, 'x');
        // A line before ACK reaches the window in the send tests (ended by CR LF in the
        // deferred-delivery one).
        QTest::newRow("the last of several")
            << TapScript { "211 Sent\r212 Truncated\r" + kAck } << QStringList { "212 Truncated" };
        QTest::newRow("a line cut by the end of a read") << TapScript { "\r51",
            "1 Invalid Pager ID\r" + kRs } << QStringList { "511 Invalid Pager ID" };
        QTest::newRow("control bytes dropped, cut to 80")
            << TapScript { "511 Bad\x01 ID " + QByteArray(100, 'x') + "\r" } << QStringList { cut };
        QTest::newRow("a code alone") << TapScript { "115\r" } << QStringList { "115" };
        QTest::newRow("not message-sequence lines")
            << TapScript { "ID=\r", "21X no\r2113\r 211 late\r" } << QStringList();
        QTest::newRow("a line without its end") << TapScript { "211 Page Sent" } << QStringList();
    }

    // The terminal's words reach the owner as they come; the last stays until the next block.
    void terminalLines()
    {
        QFETCH(TapScript, script);
        QFETCH(QStringList, reported);

        Recorder recorder;
        CTapExchange exchange(recorder, recorder);
        exchange.SetState(TapState::BlockSent);
        RunScript(exchange, script);
        QCOMPARE(recorder.lines, reported);
        QCOMPARE(exchange.TerminalLine(), reported.isEmpty() ? QString() : reported.last());
        exchange.SendBlock();
        QCOMPARE(exchange.TerminalLine(), QString());
    }
};

QTEST_GUILESS_MAIN(TestTapExchange)
#include "test_tap_exchange.moc"

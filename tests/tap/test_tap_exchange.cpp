// The TAP exchange as the terminal's replies drive it, state by state, and the block it
// sends: its layout, its checksum and the cut of long fields.
#include "tap/TapBlock.h"
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
const QByteArray kEnded("<ended>");
const QByteArray kAcceptedThenEnded("<accepted, then ended>");

const QByteArray kAck("\x06\r");
const QByteArray kNak("\x15\r");
const QByteArray kGoAhead("\x1B[p\r");
const QByteArray kLogout("\x04\r");
const QByteArray kGoAway("\x1B\x04\r");
const QByteArray kBlock = QByteArray::fromHex("02313233 0D 414243 0D 03 31373B 0D");
// Every exchange here has this password: each log-on carries it, without its control bytes.
const QByteArray kPassword("ab\r\033c");
const QByteArray kLogin("\x1BPG1abc\r");

// Stands in for both the line and the owner of an exchange for pager 123 and the text ABC,
// and records, in order, every write (its bytes), every pause (recorded, not slept), every
// notification and every message-sequence line reported. `then` runs after each event is
// recorded, so a test can act as the sending window or as the terminal from inside it.
struct Recorder : ITapLine, ITapOwner
{
    explicit Recorder(TapState state)
        : exchange(std::make_unique<CTapExchange>(*this, *this))
    {
        exchange->SetPassword(kPassword);
        exchange->SetPagerId("123");
        exchange->SetMessageText("ABC");
        exchange->SetState(state);
    }
    void Feed(const QByteArray& bytes)
    {
        exchange->OnReceived(static_cast<std::int32_t>(bytes.size()), bytes.constData());
    }
    void Record(const QByteArray& event)
    {
        events << event;
        then(event);
    }

    void WriteText(const QByteArray& bytes) override { Record(bytes); }
    void Pause(int ms) override { Record("<pause " + QByteArray::number(ms) + '>'); }
    void OnTapAccepted() override { Record(kAccepted); }
    void OnTapRefused() override { Record(kRefused); }
    void OnTapEnded(bool accepted) override { Record(accepted ? kAcceptedThenEnded : kEnded); }
    void OnTapTerminalLine(const QString& line) override
    {
        Record("<said " + line.toLatin1() + '>');
    }

    std::function<void(const QByteArray&)> then = [](const QByteArray&) {};
    Events events;
    std::unique_ptr<CTapExchange> exchange;
};

// The state the exchange ends in is the one it starts in unless given.
void Row(const char* name, TapState start, const TapScript& script, const Events& events,
    std::optional<TapState> end = {})
{
    QTest::newRow(name) << start << script << events << end.value_or(start);
}

// STX, identifier, CR, text, CR, ETX, the three checksum characters, CR.
QByteArray Block(const QByteArray& pagerId, const QByteArray& text, const char* checksum)
{
    return '\x02' + pagerId + '\r' + text + "\r\x03" + checksum + '\r';
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

        using S = TapState;
        const QByteArray x1022(1022, 'x');
        // A prompt split anywhere is read alike, a zero byte (line noise) before it too.
        Row("prompt split as I, D=, behind a zero byte", S::Waking, { QByteArray("\0I", 2), "D=" },
            { kLogin }, S::LoginSent);
        // A wake-up every 21 ticks: 240 ticks make 11 of them (12 at 20 ticks, 10 at 22).
        Row("a wake-up every 21 ticks until the prompt", S::Waking,
            { Ticks(240), "ID=", Ticks(100) }, Events(11, "\r") << kLogin, S::LoginSent);

        // ACK and go-ahead together or split after the line end, a log-on refused twice and
        // several recipients in one call: see the send tests.
        Row("a prompt ignored, ACK beside NAK wins, then NAK ignored", S::LoginSent,
            { "ID=", "\x15\x06\r", kNak }, {}, S::AwaitGoAhead);
        Row("ACK and go-ahead byte by byte", S::LoginSent, { "\x06", "\r", "\x1B", "[", "p", "\r" },
            { kBlock }, S::BlockSent);
        Row("go-ahead without ACK", S::LoginSent, { kGoAhead }, { kBlock }, S::BlockSent);
        Row("NAK with go-ahead: the log-on again", S::LoginSent, { kNak + kGoAhead }, { kLogin });

        // ACK is looked for first: with NAK or RS beside it, it wins alike.
        Row("ACK beside NAK, ended by LF", S::BlockSent, { "\x15\x06", "\n" }, { kAccepted });
        // NAK to a block, ESC EOT to a block and to the log-on, a go-ahead split after its CR:
        // each in a send test against the simulator (a checksum error, the page limit, a
        // wrong password, replies in pieces).
        Row("after the verdict only ESC EOT counts", S::BlockSent, { kAck, kAck, kNak, kGoAway },
            { kAccepted, kEnded }, S::Ended);
        Row("ACK and ESC EOT: accepted, then ended", S::BlockSent,
            { "211 Page Sent\r" + kAck + "512 Call Again\r" + kGoAway },
            { "<said 512 Call Again>", kAcceptedThenEnded }, S::Ended);
        Row("ESC EOT while waking", S::Waking, { kGoAway, Ticks(100) }, { kEnded }, S::Ended);
        Row("nothing after the end", S::Ended,
            { "ID=", kAck + kGoAhead, kNak, kGoAway, Ticks(100) }, {});
        Row("connected ignores everything", S::Connected,
            { "ID=", kAck, kNak, kGoAhead, "\x1E\r", kGoAway, Ticks(100) }, {});

        // A run without CR, LF or "=" keeps its newest 1024 bytes.
        Row("ACK in the newest 1024 bytes", S::BlockSent, { "\x06", x1022, "\r" }, { kAccepted });
        Row("ACK pushed out by one byte", S::BlockSent, { "\x06", x1022 + 'x', "\r" }, {});
        Row("chunk over 1024 bytes", S::BlockSent, { QByteArray(3000, 'x') + kAck }, { kAccepted });

        // The terminal's message-sequence lines reach the owner as they come: the last
        // complete one (a code alone counts), printable bytes only, cut to 80 characters. A
        // refused block ends the exchange: logged out, then the owner told.
        Row("the last of several lines", S::BlockSent, { "211 Sent\r212\r" + kAck },
            { "<said 212>", kAccepted });
        Row("a line cut by the end of a read", S::BlockSent, { "\r51", "1 Bad Pager ID\r\x1E\r" },
            { "<said 511 Bad Pager ID>", kLogout, "<pause 100>", kRefused });
        Row("control bytes dropped, cut to 80", S::BlockSent,
            { "511 Bad\x01 ID " + QByteArray(100, 'x') + "\r" },
            { "<said 511 Bad ID " + QByteArray(69, 'x') + '>' });
        Row("no complete sequence line, prompt or go-ahead after a block", S::BlockSent,
            { "ID=\r", kGoAhead, "21X no\r2113\r 211 late\r211 Page Sent" }, {});
    }

    void repliesInEachState()
    {
        QFETCH(TapState, start);
        QFETCH(TapScript, script);
        QFETCH(Events, events);
        QFETCH(TapState, end);

        Recorder recorder(start);
        for (const TapStep& step : script) {
            if (const int* ticks = std::get_if<int>(&step)) {
                for (int tick = 0; tick < *ticks; ++tick)
                    recorder.exchange->OnTick();
            } else {
                recorder.Feed(std::get<QByteArray>(step));
            }
        }
        QCOMPARE(recorder.events, events);
        QCOMPARE(recorder.exchange->State(), end);
    }

    // The sending window closes, destroying the exchange, while it handles the verdict; the
    // exchange must not touch itself afterwards (the sanitizer build reports any use after free).
    void ownerDestroysExchangeInsideNotification()
    {
        for (const QByteArray& reply : { kAck, kNak }) {
            Recorder recorder(TapState::BlockSent);
            recorder.then = [&recorder](const QByteArray& event) {
                if (event == kAccepted || event == kRefused)
                    recorder.exchange.reset();
            };
            recorder.Feed(reply);
            QCOMPARE(recorder.events.last(), reply == kAck ? kAccepted : kRefused);
        }
    }

    // A terminal so fast that its reply arrives while the write is still in progress: the
    // exchange must already be in the state that reads that reply.
    void repliesInsideEachWrite()
    {
        Recorder recorder(TapState::Connected);
        recorder.then = [&recorder](const QByteArray& written) {
            if (written == "\r")
                recorder.Feed("ID=");
            else if (written == kLogin)
                recorder.Feed(kAck + kGoAhead);
            else if (written.startsWith('\x02'))
                recorder.Feed(kAck);
        };
        recorder.exchange->SendWakeUp();
        QCOMPARE(recorder.events, Events({ "\r", kLogin, kBlock, kAccepted }));
    }

    // Terminals add the bytes as signed characters, and only the sum's low 12 bits count.
    void formatBlock_data()
    {
        QTest::addColumn<QByteArray>("pagerId");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("block");
        const auto row
            = [](const char* name, const QByteArray& pagerId, const QByteArray& text,
                  const QByteArray& block) { QTest::newRow(name) << pagerId << text << block; };

        row("the 14-byte block, sum 379", "123", "ABC", kBlock);
        row("negative sum -61", {}, "\xE9\xE9\xE9\xE9", Block("", "\xE9\xE9\xE9\xE9", "?<3"));
        // Identifier and text together never exceed 1015 bytes: the text is cut first. Their
        // sums, far over 4095, keep their low 12 bits.
        const QByteArray id15(15, '7');
        const QByteArray m1000(1000, 'm');
        row("1015 bytes fit exactly", id15, m1000, Block(id15, m1000, "=20"));
        row("1016 bytes lose the last text byte", id15, m1000 + 'x', Block(id15, m1000, "=20"));
        row("identifier alone too long", QByteArray(1200, '7'), "text",
            Block(QByteArray(1015, '7'), "", ":30"));
    }

    void formatBlock()
    {
        QFETCH(QByteArray, pagerId);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, block);
        QCOMPARE(FormatBlock(pagerId, text), block);
    }
};

QTEST_GUILESS_MAIN(TestTapExchange)
#include "test_tap_exchange.moc"

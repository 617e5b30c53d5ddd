// The paging terminal's judgement of what a caller sends, without any line: the
// log-on, blocks good and bad (their check characters worked out independently), and
// the log file's escaping of bytes.

#include "PagingTerminal.h"
#include "SimLog.h"
#include "SimTestLine.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace quillpost::sim;

Q_DECLARE_METATYPE(quillpost::sim::SimConfig)

namespace {

const QByteArray kGoAhead = "\x06\r\x1b[p\r";
const QByteArray kBadCheck = "514 Checksum Error\r\x15\r";
// A block that can never be taken is abandoned with RS; NAK is for transmission errors.
const QByteArray kBadFormat = "515 Format Error\r\x1e\r";
const QByteArray kBadPagerId = "510 Illegal Pager ID\r\x1e\r";

struct Outcome
{
    QByteArray replies;
    QList<AcceptedPage> pages;
};

Outcome outcomeOf(const TerminalActions& actions)
{
    Outcome outcome;
    for (const TerminalAction& action : actions) {
        if (action.kind == TerminalAction::Kind::Reply)
            outcome.replies += action.bytes;
        else if (action.kind == TerminalAction::Kind::Accept)
            outcome.pages.append(action.page);
    }
    return outcome;
}

// A block of fields closed by CR (or US when the field goes on), then ETX (the page's
// last block) or ETB, with the check characters worked out by hand.
QByteArray block(const QByteArray& fields, const char* check, char end = '\x03')
{
    return "\x02" + fields + end + check + "\r";
}

QByteArray altered(QByteArray bytes, qsizetype fromEnd, char byte)
{
    bytes[bytes.size() - fromEnd] = byte;
    return bytes;
}

} // namespace

class TestSimTerminal : public QObject
{
    Q_OBJECT

private slots:
    // What the caller sends after logging on (one block or several), what the
    // terminal answers, and the page it takes (pager id, CR, text; empty: none).
    void blockVerdicts_data()
    {
        QTest::addColumn<QByteArray>("blocks");
        QTest::addColumn<QByteArray>("replies");
        QTest::addColumn<QByteArray>("accepted");

        const QByteArray good = tapBlock("123", "ABC");
        const QByteArray tooLong = "513 Message Too Long\r\x1e\r";
        const QByteArray ack = "\x06\r";
        const auto row = [](const char* name, const QByteArray& blocks, const QByteArray& replies,
                             const QByteArray& accepted = {}) {
            QTest::newRow(name) << blocks << replies << accepted;
        };
        row("good", good, kSent, "123\rABC");
        row("empty text", tapBlock("1", ""), kSent, "1\r");
        row("control and high bytes kept", tapBlock("1", "a\x01\xa3="), kSent, "1\ra\x01\xa3=");
        row("CR inside the text kept", tapBlock("1", "two\rlines"), kSent, "1\rtwo\rlines");
        row("longest block", tapBlock("1234", QByteArray(244, 'x')), kSent,
            "1234\r" + QByteArray(244, 'x'));
        // The three check characters are compared as a whole, whatever makes them differ.
        row("wrong check", altered(good, 2, '0'), kBadCheck);
        row("check cut short", good.left(good.size() - 2) + "\r", kBadCheck);
        row("bytes after the check", good.chopped(1) + "junk\r", kBadFormat);
        row("missing message field", block("123\r", "0:8"), kBadFormat);
        row("no CR before ETX", block("123\rABC", "16>"), kBadFormat);
        row("empty pager id", tapBlock("", "A"), kBadPagerId);
        row("pager id too long", tapBlock(QByteArray(17, '9'), "A"), kBadPagerId);
        row("control byte in pager id", tapBlock("12\x01", "A"), kBadPagerId);
        row("block over 256 bytes", tapBlock("1234", QByteArray(245, 'x')), tooLong);
        row("runaway block not hoarded", "\x02" + QByteArray(1 << 16, 'x') + "\r\x03" + "000\r",
            tooLong);
        row("noise before STX ignored", "\r\nzz" + tapBlock("7", "hi"), kSent, "7\rhi");
        row("restart on a second STX", "\00212" + tapBlock("7", "hi"), kSent, "7\rhi");
        row("fields split by ETB", block("123\r", "0;<", '\x17') + block("Hello\r", "206"),
            ack + kSent, "123\rHello");
        // Whichever field US continues, the next block's first field is joined to it.
        row("field continued with US",
            block("123\rHel\x1f", "1?4", '\x17') + block("lo\x1f", "113", '\x17')
                + block("\r", "012"),
            ack + ack + kSent, "123\rHello");
        row("US in the last block", block("123\rHel\x1f", "1>0"), kBadFormat);
        row("refused middle block sent again",
            block("123\rA\x1f", "11<", '\x17') + block("C\r", "054") + block("B\r", "054"),
            ack + kBadCheck + kSent, "123\rAB");
    }

    void blockVerdicts()
    {
        QFETCH(QByteArray, blocks);
        QFETCH(QByteArray, replies);
        QFETCH(QByteArray, accepted);

        PagingTerminal terminal(SimConfig {}, 4);
        QCOMPARE(outcomeOf(terminal.receive("\r\x1bPG1\r")).replies, "ID=110 1.8\r" + kGoAhead);
        const Outcome outcome = outcomeOf(terminal.receive(blocks));
        QCOMPARE(outcome.replies, replies);
        QCOMPARE(outcome.pages.size(), accepted.isEmpty() ? 0 : 1);
        if (!accepted.isEmpty()) {
            const AcceptedPage& page = outcome.pages[0];
            QCOMPARE(page.pagerId + "\r" + page.text, accepted);
            QCOMPARE(page.call, 4);
            QCOMPARE(page.checksum, blocks.right(4).left(3));
        }
        // No verdict ends the call: the terminal is ready for the next block.
        QCOMPARE(outcomeOf(terminal.receive(tapBlock("55", "next"))).replies, kSent);

        // The same bytes one at a time get the same verdicts.
        PagingTerminal piecemeal(SimConfig {}, 4);
        TerminalActions byteByByte = piecemeal.receive("\r\x1bPG1\r");
        for (char byte : blocks)
            byteByByte += piecemeal.receive(QByteArrayView(&byte, 1));
        const Outcome pieces = outcomeOf(byteByByte);
        QCOMPARE(pieces.replies, "ID=110 1.8\r" + kGoAhead + replies);
        QCOMPARE(pieces.pages.size(), outcome.pages.size());
    }

    // What a terminal set up as given answers a call from its start, and the phase it is
    // left in: waiting for a log-on, logged on, or ended. Plain: no message sequences.
    void callReplies_data()
    {
        QTest::addColumn<SimConfig>("config");
        QTest::addColumn<QByteArray>("call");
        QTest::addColumn<QByteArray>("replies");
        QTest::addColumn<QString>("phase");
        const auto row = [](const char* name, const SimConfig& config, const QByteArray& call,
                             const QByteArray& replies, const char* phase) {
            QTest::newRow(name) << config << call << replies << QString(phase);
        };

        const QByteArray goAway = "\x1b\x04\r";
        const QByteArray badPassword = "ID=509 Invalid Password\r" + goAway;
        const QByteArray logOn = "\r\x1bPG1\r";
        SimConfig plain, password, crLf;
        plain.messageSequences = false;
        password.password = "abc1";
        crLf.crLfLineEnds = true;

        row("line feeds ignored", plain, "\r\n\r\n", "ID=ID=", "waiting");
        row("log-on with password", plain, "\x1bPG1abc123\r", kGoAhead, "logged on");
        row("log-on after noise", plain, "xx\x1bPG1\r", kGoAhead, "logged on");
        row("password too long", plain, "\x1bPG1abcdefg\r", "\x15\r", "waiting");
        row("other service", plain, "\x1bPG3\r", "\x15\r", "waiting");
        row("no CR yet", plain, "\x1bPG1", "", "waiting");
        row("go away", plain, "\x04\r", goAway, "ended");
        // A password taken or refused, an unknown pager ID, the page limit and deferred
        // delivery are run against the program in the send tests, each with the terminal's
        // words checked there (and a block after an abandoned one is taken in every row of
        // blockVerdicts). CR LF line ends are too, but the program reads them as it reads CR
        // alone, so only this row would see them missing.
        row("no password where one is required", password, logOn, badPassword, "ended");
        row("lines end with CR LF", crLf, logOn + tapBlock("123", "A") + "\x04\r",
            "ID=110 1.8\r\n\x06\r\n\x1b[p\r\n211 Page(s) Sent\r\n\x06\r\n115 Goodbye\r\n"
            "\x1b\x04\r\n",
            "ended");
    }

    void callReplies()
    {
        QFETCH(SimConfig, config);
        QFETCH(QByteArray, call);
        QFETCH(QByteArray, replies);
        QFETCH(QString, phase);

        PagingTerminal terminal(config, 1);
        QCOMPARE(outcomeOf(terminal.receive(call)).replies, replies);
        const char* now = terminal.ended() ? "ended"
            : terminal.loggedIn()          ? "logged on"
                                           : "waiting";
        QCOMPARE(QString(now), phase);
    }

    void logEscapesEveryByte()
    {
        QByteArray everyByte;
        for (int value = 0; value < 256; ++value)
            everyByte += static_cast<char>(value);
        AcceptedPage page { "12\"3", everyByte, "17;", 3, QDateTime::currentDateTimeUtc() };
        const QByteArray line = pageLogLine(page);
        QVERIFY(line.endsWith("}\n"));
        QCOMPARE(line.count('\n'), 1);

        QJsonParseError error {};
        const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QStringList fields { object["event"].toString(), object["pagerId"].toString(),
            QString::number(object["call"].toInt()), object["checksum"].toString() };
        QCOMPARE(fields, QStringList({ "page", "12\"3", "3", "17;" }));
        // Each \u00XX stands for one byte, so Latin-1 gives the bytes back.
        QCOMPARE(object["text"].toString().toLatin1(), everyByte);
        QVERIFY(QDateTime::fromString(object["time"].toString(), Qt::ISODateWithMs).isValid());
    }
};

QTEST_GUILESS_MAIN(TestSimTerminal)
#include "test_sim_terminal.moc"

// The paging terminal's judgement of what a caller sends, without any line: its
// check characters, the log-on, blocks good and bad, and the log file's escaping
// of bytes.

#include "PagingTerminal.h"
#include "SimLog.h"
#include "SimTestLine.h"
#include "TerminalChecksum.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace quillpost::sim;

namespace {

const QByteArray kGoAhead = "\x06\r\x1b[p\r";
const QByteArray kSent = "211 Page(s) Sent\r\x06\r";
const QByteArray kBadCheck = "514 Checksum Error\r\x15\r";
const QByteArray kBadFormat = "515 Format Error\r\x15\r";
const QByteArray kBadPagerId = "510 Illegal Pager ID\r\x15\r";
using Blocks = QList<QByteArray>;

struct Outcome
{
    QByteArray replies;
    QList<AcceptedPage> pages;
    std::optional<CallEnd> end;
};

Outcome outcomeOf(const TerminalActions& actions)
{
    Outcome outcome;
    for (const TerminalAction& action : actions) {
        if (action.kind == TerminalAction::Kind::Reply)
            outcome.replies += action.bytes;
        else if (action.kind == TerminalAction::Kind::Accept)
            outcome.pages.append(action.page);
        else
            outcome.end = action.end;
    }
    return outcome;
}

SimConfig plainConfig()
{
    SimConfig config;
    config.messageSequences = false;
    return config;
}

// A block with its check characters as the terminal computes them: fields closed
// by CR (or US when the field goes on), then ETX (the page's last block) or ETB.
QByteArray block(const QByteArray& fields, char end = '\x03')
{
    const QByteArray body = "\x02" + fields + end;
    return body + terminalChecksum(body) + "\r";
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
    void checksumOfWorkedExamples_data();
    void checksumOfWorkedExamples();
    void wakeUpAndLogOn_data();
    void wakeUpAndLogOn();
    void blockVerdicts_data();
    void blockVerdicts();
    void verdictDoesNotDependOnHowBytesArrive();
    void logEscapesEveryByte();
};

void TestSimTerminal::checksumOfWorkedExamples_data()
{
    QTest::addColumn<QByteArray>("pagerId");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("check");

    QTest::newRow("ABC") << QByteArray("123") << QByteArray("ABC") << QByteArray("17;");
    QTest::newRow("abc") << QByteArray("123") << QByteArray("abc") << QByteArray("1=;");
    QTest::newRow("empty text") << QByteArray("123") << QByteArray() << QByteArray("0;5");
    QTest::newRow("sum past 12 bits")
        << QByteArray("123") << QByteArray(255, 'z') << QByteArray(":3;");
    QTest::newRow("high byte subtracts")
        << QByteArray("123") << QByteArray("A\xa3\x43") << QByteArray("0=<");
    QTest::newRow("negative sum") << QByteArray() << QByteArray(4, '\xe9') << QByteArray("?<3");
}

void TestSimTerminal::checksumOfWorkedExamples()
{
    QFETCH(QByteArray, pagerId);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, check);

    const QByteArray stxThroughEtx = "\x02" + pagerId + "\r" + text + "\r\x03";
    QCOMPARE(terminalChecksum(stxThroughEtx), check);
    QVERIFY(checksumMatches(stxThroughEtx, check));
    QVERIFY(!checksumMatches(stxThroughEtx, altered(check, 1, static_cast<char>(check[2] ^ 1))));
    QVERIFY(!checksumMatches(stxThroughEtx, check.left(2)));
}

void TestSimTerminal::wakeUpAndLogOn_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("loggedIn");

    QTest::newRow("wake-up") << QByteArray("\r") << QByteArray("ID=") << false;
    QTest::newRow("three wake-ups") << QByteArray("\r\r\r") << QByteArray("ID=ID=ID=") << false;
    QTest::newRow("wake-up with line feed") << QByteArray("\r\n") << QByteArray("ID=") << false;
    QTest::newRow("log-on") << QByteArray("\x1bPG1\r") << kGoAhead << true;
    QTest::newRow("log-on with password") << QByteArray("\x1bPG1abc123\r") << kGoAhead << true;
    QTest::newRow("log-on after noise") << QByteArray("xx\x1bPG1\r") << kGoAhead << true;
    QTest::newRow("password too long")
        << QByteArray("\x1bPG1abcdefg\r") << QByteArray("\x15\r") << false;
    QTest::newRow("other service") << QByteArray("\x1bPG3\r") << QByteArray("\x15\r") << false;
    QTest::newRow("no CR yet") << QByteArray("\x1bPG1") << QByteArray() << false;
    QTest::newRow("go away") << QByteArray("\x04\r") << QByteArray("\x1b\x04\r") << false;
}

void TestSimTerminal::wakeUpAndLogOn()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, reply);
    QFETCH(bool, loggedIn);

    PagingTerminal terminal(plainConfig(), 1);
    QCOMPARE(outcomeOf(terminal.receive(input)).replies, reply);
    QCOMPARE(terminal.loggedIn(), loggedIn);
}

void TestSimTerminal::blockVerdicts_data()
{
    QTest::addColumn<Blocks>("blocks");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<QByteArray>("accepted"); // pager id, CR, text; empty: no page

    const QByteArray good = tapBlock("123", "ABC");
    const QByteArray ack = "\x06\r";
    QTest::newRow("good") << Blocks { good } << kSent << QByteArray("123\rABC");
    QTest::newRow("empty text") << Blocks { tapBlock("1", "") } << kSent << QByteArray("1\r");
    QTest::newRow("control and high bytes kept")
        << Blocks { tapBlock("1", "a\x01\xa3=") } << kSent << QByteArray("1\ra\x01\xa3=");
    QTest::newRow("CR inside the text kept")
        << Blocks { tapBlock("1", "two\rlines") } << kSent << QByteArray("1\rtwo\rlines");
    QTest::newRow("longest block") << Blocks { tapBlock("1234", QByteArray(244, 'x')) } << kSent
                                   << "1234\r" + QByteArray(244, 'x');
    QTest::newRow("wrong check") << Blocks { altered(good, 2, '0') } << kBadCheck << QByteArray();
    QTest::newRow("check character out of range")
        << Blocks { altered(good, 3, 'A') } << kBadCheck << QByteArray();
    QTest::newRow("check cut short")
        << Blocks { good.left(good.size() - 2) + "\r" } << kBadCheck << QByteArray();
    QTest::newRow("bytes after the check")
        << Blocks { good.chopped(1) + "junk\r" } << kBadFormat << QByteArray();
    QTest::newRow("missing message field")
        << Blocks { block("123\r") } << kBadFormat << QByteArray();
    QTest::newRow("no CR before ETX") << Blocks { block("123\rABC") } << kBadFormat << QByteArray();
    QTest::newRow("empty pager id") << Blocks { tapBlock("", "A") } << kBadPagerId << QByteArray();
    QTest::newRow("pager id too long")
        << Blocks { tapBlock(QByteArray(17, '9'), "A") } << kBadPagerId << QByteArray();
    QTest::newRow("control byte in pager id")
        << Blocks { tapBlock("12\x01", "A") } << kBadPagerId << QByteArray();
    QTest::newRow("block over 256 bytes")
        << Blocks { tapBlock("1234", QByteArray(245, 'x')) }
        << QByteArray("513 Message Too Long\r\x15\r") << QByteArray();
    QTest::newRow("runaway block not hoarded")
        << Blocks { "\x02" + QByteArray(1 << 20, 'x') + "\r\x03" + "000\r" }
        << QByteArray("513 Message Too Long\r\x15\r") << QByteArray();
    QTest::newRow("noise before STX ignored")
        << Blocks { "\r\nzz" + tapBlock("7", "hi") } << kSent << QByteArray("7\rhi");
    QTest::newRow("restart on a second STX")
        << Blocks { "\x02" + QByteArray("12") + tapBlock("7", "hi") } << kSent
        << QByteArray("7\rhi");
    QTest::newRow("fields split by ETB") << Blocks { block("123\r", '\x17'), block("Hello\r") }
                                         << ack + kSent << QByteArray("123\rHello");
    QTest::newRow("field continued with US")
        << Blocks { block("123\rHel\x1f", '\x17'), block("lo\x1f", '\x17'), block("\r") }
        << ack + ack + kSent << QByteArray("123\rHello");
    QTest::newRow("pager id continued") << Blocks { block("12\x1f", '\x17'), block("3\rHi\r") }
                                        << ack + kSent << QByteArray("123\rHi");
    QTest::newRow("US in the last block")
        << Blocks { block("123\rHel\x1f") } << kBadFormat << QByteArray();
    QTest::newRow("refused middle block sent again")
        << Blocks { block("123\rA\x1f", '\x17'), block("B\r").replace('B', 'C'), block("B\r") }
        << ack + kBadCheck + kSent << QByteArray("123\rAB");
}

void TestSimTerminal::blockVerdicts()
{
    QFETCH(Blocks, blocks);
    QFETCH(QByteArray, replies);
    QFETCH(QByteArray, accepted);

    PagingTerminal terminal(SimConfig {}, 4);
    terminal.receive("\r\x1bPG1\r");
    QVERIFY(terminal.loggedIn());
    TerminalActions actions;
    for (const QByteArray& each : blocks)
        actions += terminal.receive(each);
    const Outcome outcome = outcomeOf(actions);
    QCOMPARE(outcome.replies, replies);
    QCOMPARE(outcome.pages.size(), accepted.isEmpty() ? 0 : 1);
    if (!accepted.isEmpty()) {
        const AcceptedPage& page = outcome.pages[0];
        QCOMPARE(page.pagerId + "\r" + page.text, accepted);
        QCOMPARE(page.call, 4);
        QCOMPARE(page.checksum, blocks.last().right(4).left(3));
    }
    QVERIFY(!outcome.end);
    // A refused block leaves the terminal ready for the next one.
    QCOMPARE(outcomeOf(terminal.receive(tapBlock("55", "next"))).replies, kSent);
}

void TestSimTerminal::verdictDoesNotDependOnHowBytesArrive()
{
    const QByteArray conversation
        = QByteArray("\r\x1bPG1\r") + tapBlock("123", "ABC") + tapBlock("9", "x\xff") + "\x04\r";
    const Outcome atOnce = outcomeOf(PagingTerminal(plainConfig(), 1).receive(conversation));

    PagingTerminal piecemeal(plainConfig(), 1);
    TerminalActions byteByByte;
    for (char byte : conversation)
        byteByByte += piecemeal.receive(QByteArrayView(&byte, 1));
    const Outcome outcome = outcomeOf(byteByByte);

    QCOMPARE(outcome.replies, atOnce.replies);
    QCOMPARE(atOnce.replies, QByteArray("ID=") + kGoAhead + "\x06\r\x06\r\x1b\x04\r");
    QCOMPARE(outcome.pages.size(), 2);
    QCOMPARE(outcome.pages[1].text, QByteArray("x\xff"));
    QCOMPARE(outcome.end, std::optional<CallEnd>(CallEnd::Logout));
}

void TestSimTerminal::logEscapesEveryByte()
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
    QCOMPARE(object.value("event").toString(), QString("page"));
    QCOMPARE(object.value("pagerId").toString(), QString("12\"3"));
    QCOMPARE(object.value("call").toInt(), 3);
    QCOMPARE(object.value("checksum").toString(), QString("17;"));
    // Each \u00XX stands for one byte, so Latin-1 gives the bytes back.
    QCOMPARE(object.value("text").toString().toLatin1(), everyByte);
    QVERIFY(QDateTime::fromString(object.value("time").toString(), Qt::ISODateWithMs).isValid());

    const QJsonObject end = QJsonDocument::fromJson(
        callEndLogLine({ 3, CallEnd::DroppedByFault, QDateTime::currentDateTimeUtc() }))
                                .object();
    QCOMPARE(end.value("how").toString(), QString("dropped-by-fault"));
    QCOMPARE(end.value("call").toInt(), 3);
}

QTEST_GUILESS_MAIN(TestSimTerminal)
#include "test_sim_terminal.moc"

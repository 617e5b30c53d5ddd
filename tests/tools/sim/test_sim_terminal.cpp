// The paging terminal's judgement of what a caller sends, without any line:
// its check characters, the log-on, blocks good and bad, the faults that live in
// the terminal, and the log file's escaping of bytes.

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

QByteArray repliesOf(const TerminalActions& actions)
{
    QByteArray bytes;
    for (const TerminalAction& action : actions) {
        if (action.kind == TerminalAction::Kind::Reply)
            bytes += action.bytes;
    }
    return bytes;
}

QList<AcceptedPage> pagesOf(const TerminalActions& actions)
{
    QList<AcceptedPage> pages;
    for (const TerminalAction& action : actions) {
        if (action.kind == TerminalAction::Kind::Accept)
            pages.append(action.page);
    }
    return pages;
}

std::optional<CallEnd> endOf(const TerminalActions& actions)
{
    for (const TerminalAction& action : actions) {
        if (action.kind == TerminalAction::Kind::End)
            return action.end;
    }
    return std::nullopt;
}

SimConfig plainConfig()
{
    SimConfig config;
    config.messageSequences = false;
    return config;
}

// A terminal past the log-on, ready for blocks.
void logOn(PagingTerminal& terminal)
{
    terminal.receive("\r");
    terminal.receive("\x1bPG1\r");
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
    void pageSpanningBlocks_data();
    void pageSpanningBlocks();
    void verdictDoesNotDependOnHowBytesArrive();
    void messageSequenceLinesPrecedeControlCharacters();
    void loginRefusedTheAskedNumberOfTimes();
    void chosenBlockRefused();
    void lineDroppedAfterChosenBlock();
    void logoutEndsTheCall();
    void silentTerminalSaysNothing();
    void garbageHoldsNoPromptOrVerdict();
    void longRunHasNoLineEnd();
    void idleTimeoutSaysGoodbye();
    void runawayBlockIsRefusedNotHoarded();
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
    QTest::newRow("high byte subtracts") << QByteArray("123")
                                         << QByteArray("A\xa3"
                                                       "C")
                                         << QByteArray("0=<");
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
    QByteArray wrong = check;
    wrong[2] = static_cast<char>(wrong[2] ^ 1);
    QVERIFY(!checksumMatches(stxThroughEtx, wrong));
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
    QCOMPARE(repliesOf(terminal.receive(input)), reply);
    QCOMPARE(terminal.loggedIn(), loggedIn);
}

void TestSimTerminal::blockVerdicts_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("acceptedText");

    const QByteArray ack = "211 Page(s) Sent\r\x06\r";
    QTest::newRow("good") << tapBlock("123", "ABC") << ack << QByteArray("ABC");
    QTest::newRow("empty text") << tapBlock("123", "") << ack << QByteArray("");
    QTest::newRow("control and high bytes kept")
        << tapBlock("123", "a\x01\xa3=") << ack << QByteArray("a\x01\xa3=");
    QTest::newRow("CR inside the text kept")
        << tapBlock("123", "two\rlines") << ack << QByteArray("two\rlines");
    QTest::newRow("longest block")
        << tapBlock("1234", QByteArray(244, 'x')) << ack << QByteArray(244, 'x');

    QByteArray wrongCheck = tapBlock("123", "ABC");
    wrongCheck[wrongCheck.size() - 2] = '0';
    QTest::newRow("wrong check") << wrongCheck << QByteArray("514 Checksum Error\r\x15\r")
                                 << QByteArray();
    QByteArray badCheckCharacter = tapBlock("123", "ABC");
    badCheckCharacter[badCheckCharacter.size() - 3] = 'A';
    QTest::newRow("check character out of range")
        << badCheckCharacter << QByteArray("514 Checksum Error\r\x15\r") << QByteArray();
    QTest::newRow("check cut short") << QByteArray("\x02"
                                                   "123\rABC\r\x03"
                                                   "17\r")
                                     << QByteArray("514 Checksum Error\r\x15\r") << QByteArray();
    QByteArray trailing = tapBlock("123", "ABC");
    trailing.insert(trailing.size() - 1, "junk");
    QTest::newRow("bytes after the check")
        << trailing << QByteArray("515 Format Error\r\x15\r") << QByteArray();
    QTest::newRow("missing message field") << QByteArray("\x02"
                                                         "123\r\x03")
            + terminalChecksum("\x02"
                               "123\r\x03")
            + "\r" << QByteArray("515 Format Error\r\x15\r")
                                           << QByteArray();
    QTest::newRow("no CR before ETX") << QByteArray("\x02"
                                                    "123\rABC\x03")
            + terminalChecksum("\x02"
                               "123\rABC\x03")
            + "\r" << QByteArray("515 Format Error\r\x15\r")
                                      << QByteArray();
    QTest::newRow("empty pager id")
        << tapBlock("", "ABC") << QByteArray("510 Illegal Pager ID\r\x15\r") << QByteArray();
    QTest::newRow("pager id too long")
        << tapBlock(QByteArray(17, '9'), "ABC") << QByteArray("510 Illegal Pager ID\r\x15\r")
        << QByteArray();
    QTest::newRow("control byte in pager id")
        << tapBlock("12\x01", "ABC") << QByteArray("510 Illegal Pager ID\r\x15\r") << QByteArray();
    QTest::newRow("block over 256 bytes")
        << tapBlock("1234", QByteArray(245, 'x')) << QByteArray("513 Message Too Long\r\x15\r")
        << QByteArray();
    QTest::newRow("noise before STX ignored")
        << QByteArray("\r\nzz") + tapBlock("7", "hi") << ack << QByteArray("hi");
    QTest::newRow("restart on a second STX") << QByteArray("\x02"
                                                           "12")
            + tapBlock("7", "hi") << ack << QByteArray("hi");
}

void TestSimTerminal::blockVerdicts()
{
    QFETCH(QByteArray, block);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, acceptedText);

    PagingTerminal terminal(SimConfig {}, 4);
    logOn(terminal);
    const TerminalActions actions = terminal.receive(block);
    QCOMPARE(repliesOf(actions), reply);
    const QList<AcceptedPage> pages = pagesOf(actions);
    const bool accepted = reply.endsWith("\x06\r");
    QCOMPARE(pages.size(), accepted ? 1 : 0);
    if (accepted) {
        QCOMPARE(pages[0].text, acceptedText);
        QCOMPARE(pages[0].call, 4);
        QCOMPARE(pages[0].checksum, block.right(4).left(3));
    }
    QVERIFY(!endOf(actions));
    // A refused block leaves the terminal ready for the next one.
    QCOMPARE(repliesOf(terminal.receive(tapBlock("55", "next"))),
        QByteArray("211 Page(s) Sent\r\x06\r"));
}

// A block of a longer page: fields closed by CR (or US when the field goes on),
// then ETB (more blocks follow) or ETX (the last), then its check characters.
static QByteArray pageBlock(const QByteArray& fields, char end)
{
    const QByteArray body = "\x02" + fields + end;
    return body + terminalChecksum(body) + "\r";
}

void TestSimTerminal::pageSpanningBlocks_data()
{
    QTest::addColumn<QList<QByteArray>>("blocks");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<QByteArray>("acceptedText"); // empty: no page

    const QByteArray ack = "\x06\r";
    const QByteArray nak = "\x15\r";
    QTest::newRow("fields split by ETB")
        << QList<QByteArray> { pageBlock("123\r", '\x17'), pageBlock("Hello\r", '\x03') }
        << ack + ack << QByteArray("Hello");
    QTest::newRow("field continued with US") << QList<QByteArray> {
        pageBlock("123\rHel\x1f", '\x17'), pageBlock("lo\x1f", '\x17'), pageBlock("\r", '\x03')
    } << ack + ack + ack << QByteArray("Hello");
    QTest::newRow("pager id continued")
        << QList<QByteArray> { pageBlock("12\x1f", '\x17'), pageBlock("3\rHi\r", '\x03') }
        << ack + ack << QByteArray("Hi");
    QTest::newRow("US in the last block")
        << QList<QByteArray> { pageBlock("123\rHel\x1f", '\x03') } << nak << QByteArray();
    QTest::newRow("refused middle block sent again")
        << QList<QByteArray> { pageBlock("123\rA\x1f", '\x17'),
               pageBlock("B\r", '\x03').replace("B", "C"), pageBlock("B\r", '\x03') }
        << ack + nak + ack << QByteArray("AB");
}

void TestSimTerminal::pageSpanningBlocks()
{
    QFETCH(QList<QByteArray>, blocks);
    QFETCH(QByteArray, replies);
    QFETCH(QByteArray, acceptedText);

    PagingTerminal terminal(plainConfig(), 1);
    logOn(terminal);
    TerminalActions actions;
    for (const QByteArray& block : blocks)
        actions += terminal.receive(block);
    QCOMPARE(repliesOf(actions), replies);
    const QList<AcceptedPage> pages = pagesOf(actions);
    QCOMPARE(pages.size(), acceptedText.isEmpty() ? 0 : 1);
    if (!pages.isEmpty()) {
        QCOMPARE(pages[0].pagerId, QByteArray("123"));
        QCOMPARE(pages[0].text, acceptedText);
    }
}

void TestSimTerminal::verdictDoesNotDependOnHowBytesArrive()
{
    const QByteArray conversation
        = QByteArray("\r\x1bPG1\r") + tapBlock("123", "ABC") + tapBlock("9", "x\xff") + "\x04\r";
    PagingTerminal whole(plainConfig(), 1);
    const TerminalActions atOnce = whole.receive(conversation);

    PagingTerminal piecemeal(plainConfig(), 1);
    TerminalActions byteByByte;
    for (char byte : conversation)
        byteByByte += piecemeal.receive(QByteArrayView(&byte, 1));

    QCOMPARE(repliesOf(byteByByte), repliesOf(atOnce));
    QCOMPARE(repliesOf(atOnce), QByteArray("ID=") + kGoAhead + "\x06\r\x06\r\x1b\x04\r");
    QCOMPARE(pagesOf(byteByByte).size(), 2);
    QCOMPARE(pagesOf(byteByByte)[1].text, QByteArray("x\xff"));
    QCOMPARE(endOf(byteByByte), std::optional<CallEnd>(CallEnd::Logout));
}

void TestSimTerminal::messageSequenceLinesPrecedeControlCharacters()
{
    PagingTerminal terminal(SimConfig {}, 1);
    QCOMPARE(repliesOf(terminal.receive("\r")), QByteArray("ID="));
    QCOMPARE(repliesOf(terminal.receive("\x1bPG1\r")), QByteArray("110 1.8\r") + kGoAhead);
    QCOMPARE(repliesOf(terminal.receive("\x04\r")), QByteArray("115 Goodbye\r\x1b\x04\r"));
}

void TestSimTerminal::loginRefusedTheAskedNumberOfTimes()
{
    SimConfig config = plainConfig();
    config.faults.nakLoginTimes = 2;
    PagingTerminal terminal(config, 1);
    QCOMPARE(repliesOf(terminal.receive("\x1bPG1\r")), QByteArray("\x15\r"));
    QCOMPARE(repliesOf(terminal.receive("\x1bPG1\r")), QByteArray("\x15\r"));
    QVERIFY(!terminal.loggedIn());
    QCOMPARE(repliesOf(terminal.receive("\x1bPG1\r")), kGoAhead);
    QVERIFY(terminal.loggedIn());
}

void TestSimTerminal::chosenBlockRefused()
{
    SimConfig config = plainConfig();
    config.faults.nakBlock = 2;
    PagingTerminal terminal(config, 1);
    logOn(terminal);
    QCOMPARE(repliesOf(terminal.receive(tapBlock("1", "a"))), QByteArray("\x06\r"));
    const TerminalActions second = terminal.receive(tapBlock("2", "b"));
    QCOMPARE(repliesOf(second), QByteArray("\x15\r"));
    QVERIFY(pagesOf(second).isEmpty());
    QCOMPARE(repliesOf(terminal.receive(tapBlock("2", "b"))), QByteArray("\x06\r"));
    QCOMPARE(terminal.blocksSeen(), 3);
}

void TestSimTerminal::lineDroppedAfterChosenBlock()
{
    SimConfig config = plainConfig();
    config.faults.dropLineAfterBlock = 1;
    PagingTerminal terminal(config, 1);
    logOn(terminal);
    const TerminalActions actions = terminal.receive(tapBlock("1", "a") + tapBlock("2", "b"));
    QCOMPARE(repliesOf(actions), QByteArray("\x06\r"));
    QCOMPARE(pagesOf(actions).size(), 1);
    QCOMPARE(endOf(actions), std::optional<CallEnd>(CallEnd::DroppedByFault));
    QVERIFY(terminal.ended());
    QVERIFY(terminal.receive(tapBlock("3", "c")).isEmpty());
}

void TestSimTerminal::logoutEndsTheCall()
{
    PagingTerminal terminal(plainConfig(), 1);
    logOn(terminal);
    QVERIFY(terminal.receive("\x04").isEmpty()); // EOT waits for its CR
    const TerminalActions actions = terminal.receive("\r");
    QCOMPARE(repliesOf(actions), QByteArray("\x1b\x04\r"));
    QCOMPARE(endOf(actions), std::optional<CallEnd>(CallEnd::Logout));
}

void TestSimTerminal::silentTerminalSaysNothing()
{
    SimConfig config;
    config.faults.silentAfterConnect = true;
    config.faults.longRunWithoutLineEnd = true;
    PagingTerminal terminal(config, 1);
    QVERIFY(repliesOf(terminal.connect()).isEmpty());
    QVERIFY(repliesOf(terminal.receive(QByteArray("\r\r\x1bPG1\r") + tapBlock("1", "a") + "\x04\r"))
                .isEmpty());
}

void TestSimTerminal::garbageHoldsNoPromptOrVerdict()
{
    SimConfig config;
    config.faults.garbage = true;
    PagingTerminal terminal(config, 1);
    const QByteArray noise
        = repliesOf(terminal.receive(QByteArray("\r\r\r\x1bPG1\r") + tapBlock("1", "a")));
    QVERIFY(noise.size() > 16);
    for (char byte : noise) {
        const char low = static_cast<char>(byte & 0x7F);
        QVERIFY2(low == '\r' || low == '\n' || (low >= 0x21 && low != '=' && low != 0x7F),
            qPrintable(QString::number(static_cast<unsigned char>(byte), 16)));
    }
}

void TestSimTerminal::longRunHasNoLineEnd()
{
    SimConfig config;
    config.faults.longRunWithoutLineEnd = true;
    PagingTerminal terminal(config, 1);
    const QByteArray run = repliesOf(terminal.connect());
    QCOMPARE(run.size(), 2000);
    QVERIFY(!run.contains('\r') && !run.contains('\n') && !run.contains('='));
    QCOMPARE(repliesOf(terminal.receive("\r")), QByteArray("ID=")); // then business as usual
}

void TestSimTerminal::idleTimeoutSaysGoodbye()
{
    PagingTerminal terminal(SimConfig {}, 1);
    logOn(terminal);
    const TerminalActions actions = terminal.idleTimeout();
    QCOMPARE(repliesOf(actions), QByteArray("501 Time Out\r\x1b\x04\r"));
    QCOMPARE(endOf(actions), std::optional<CallEnd>(CallEnd::IdleTimeout));
    QVERIFY(terminal.idleTimeout().isEmpty());
}

void TestSimTerminal::runawayBlockIsRefusedNotHoarded()
{
    PagingTerminal terminal(plainConfig(), 1);
    logOn(terminal);
    QVERIFY(terminal
                .receive("\x02"
                         "1\r"
                    + QByteArray(1 << 20, 'x'))
                .isEmpty()); // no ETX yet
    QCOMPARE(repliesOf(terminal.receive("\r\x03"
                                        "000\r")),
        QByteArray("\x15\r"));
    QCOMPARE(repliesOf(terminal.receive(tapBlock("1", "ok"))), QByteArray("\x06\r"));
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

// The simulated modem over a real pseudo-terminal: AT commands, dialling and its
// faults, the data-mode session with the paging terminal, the ways a call ends,
// and the faults that show on the line.

#include "PagingSimulator.h"
#include "SimTestLine.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace quillpost::sim;

namespace {
const QByteArray kOk = "\r\nOK\r\n";
const QByteArray kConnect = "\r\nCONNECT 9600\r\n";
const QByteArray kNoCarrier = "\r\nNO CARRIER\r\n";
const QByteArray kGoAhead = "\x1b[p\r";
constexpr int kWaitMs = 5000;
} // namespace

class TestSimModem : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void echoUntilEchoIsSwitchedOff();
    void commandResults_data();
    void commandResults();
    void dialConnects_data();
    void dialConnects();
    void dialFaults_data();
    void dialFaults();
    void faultsChangeFromTheNextDial();
    void sessionWithTwoPagesAndLogout();
    void callerClosingThePortHangsUp();
    void escapeThenHangUp();
    void escapeNeedsSilenceBefore();
    void escapeThenBackOnline();
    void lineDroppedAfterBlock();
    void repliesInPiecesWithPauses();
    void slowTerminal();
    void silentTerminal();
    void longRunBeforePrompt();
    void idleCallerIsCutOff();
    void stoppingEndsTheCall();
    void linkPointsAtTheTerminal();

private:
    void startSim(const SimConfig& config = {});
    // ATE0, dial, and the terminal's prompt and go-ahead.
    void dialAndLogOn();

    std::unique_ptr<PagingSimulator> m_sim;
    SimTestLine m_line;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSimModem::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestSimModem::cleanup()
{
    m_line.close();
    m_sim.reset();
}

void TestSimModem::startSim(const SimConfig& config)
{
    m_sim = std::make_unique<PagingSimulator>(config);
    QVERIFY2(m_sim->startPty(), qPrintable(m_sim->errorString()));
    QVERIFY(m_line.openPty(m_sim->slavePath()));
}

void TestSimModem::dialAndLogOn()
{
    m_line.write("ATE0\r");
    QVERIFY(m_line.readUntil(kOk).endsWith(kOk));
    m_line.write("ATDT5551234\r");
    QCOMPARE(m_line.readUntil(kConnect), kConnect);
    m_line.write("\r");
    QCOMPARE(m_line.readUntil("ID="), QByteArray("ID="));
    m_line.write("\x1bPG1\r");
    QCOMPARE(m_line.readUntil(kGoAhead), QByteArray("110 1.8\r\x06\r") + kGoAhead);
}

void TestSimModem::echoUntilEchoIsSwitchedOff()
{
    startSim();
    m_line.write("ATZ\r");
    QCOMPARE(m_line.readUntil(kOk), QByteArray("ATZ\r") + kOk);
    m_line.write("ATE0\r");
    QCOMPARE(m_line.readUntil(kOk), QByteArray("ATE0\r") + kOk);
    m_line.write("AT\r");
    QCOMPARE(m_line.readUntil(kOk), kOk);
    m_line.write("ATE1\r");
    QCOMPARE(m_line.readUntil(kOk), kOk);
    m_line.write("AT\r");
    QCOMPARE(m_line.readUntil(kOk), QByteArray("AT\r") + kOk);
}

void TestSimModem::commandResults_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("AT") << QByteArray("AT") << kOk;
    QTest::newRow("reset") << QByteArray("ATZ") << kOk;
    QTest::newRow("factory settings") << QByteArray("AT&F") << kOk;
    QTest::newRow("several settings") << QByteArray("ATV1Q0X4&C1&D2") << kOk;
    QTest::newRow("lower case and spaces") << QByteArray("at e0 v1 x4") << kOk;
    QTest::newRow("set a register") << QByteArray("ATS0=0") << kOk;
    QTest::newRow("read a register") << QByteArray("ATS7=60S7?") << QByteArray("\r\n060\r\n") + kOk;
    QTest::newRow("hang up on hook") << QByteArray("ATH0") << kOk;
    QTest::newRow("escape sent in command mode") << QByteArray("+++ATH") << kOk;
    QTest::newRow("not a command") << QByteArray("hello\rAT") << kOk;
    QTest::newRow("identify") << QByteArray("ATI")
                              << QByteArray("\r\nQuillpost simulated modem\r\n") + kOk;
    QTest::newRow("numeric results") << QByteArray("ATV0") << QByteArray("0\r");
    QTest::newRow("unknown command") << QByteArray("ATJ") << QByteArray("\r\nERROR\r\n");
    QTest::newRow("value out of range") << QByteArray("ATX9") << QByteArray("\r\nERROR\r\n");
    QTest::newRow("register value too big")
        << QByteArray("ATS7=300") << QByteArray("\r\nERROR\r\n");
    QTest::newRow("answer with nobody calling") << QByteArray("ATA") << kNoCarrier;
    QTest::newRow("online without a call") << QByteArray("ATO") << kNoCarrier;
    QTest::newRow("line too long")
        << QByteArray("AT") + QByteArray(300, 'E') << QByteArray("\r\nERROR\r\n");
}

void TestSimModem::commandResults()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);

    startSim();
    m_line.write("ATE0\r");
    QVERIFY(m_line.readUntil(kOk).endsWith(kOk));
    m_line.write(command + "\r");
    QCOMPARE(m_line.readUntil(answer), answer);
    // Whatever the line did, the modem still answers.
    m_line.write("ATV1\r");
    QVERIFY(m_line.readUntil(kOk).endsWith(kOk));
}

void TestSimModem::dialConnects_data()
{
    QTest::addColumn<QByteArray>("dial");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("tone") << QByteArray("ATDT5551234\r") << kConnect;
    QTest::newRow("pulse") << QByteArray("ATDP5551234\r") << kConnect;
    QTest::newRow("plain") << QByteArray("ATD 555-1234\r") << kConnect;
    QTest::newRow("line feed after CR") << QByteArray("ATDT1\r\n") << kConnect;
    QTest::newRow("basic results") << QByteArray("ATX0DT1\r") << QByteArray("\r\nCONNECT\r\n");
    QTest::newRow("numeric results") << QByteArray("ATV0DT1\r") << QByteArray("12\r");
}

void TestSimModem::dialConnects()
{
    QFETCH(QByteArray, dial);
    QFETCH(QByteArray, answer);

    startSim();
    m_line.write("ATE0\r");
    QVERIFY(m_line.readUntil(kOk).endsWith(kOk));
    m_line.write(dial);
    QCOMPARE(m_line.readUntil(answer), answer);
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->callCount(), 1, kWaitMs);
    m_line.write("\r"); // data mode now: the terminal answers
    QCOMPARE(m_line.readUntil("ID="), QByteArray("ID="));
}

void TestSimModem::dialFaults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("busy") << "busy" << QByteArray("\r\nBUSY\r\n");
    QTest::newRow("no answer") << "noAnswer" << QByteArray("\r\nNO ANSWER\r\n");
    QTest::newRow("no carrier") << "noCarrier" << kNoCarrier;
}

void TestSimModem::dialFaults()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, answer);

    SimConfig config;
    config.faults.busy = fault == "busy";
    config.faults.noAnswer = fault == "noAnswer";
    config.faults.noCarrier = fault == "noCarrier";
    startSim(config);
    m_line.write("ATE0\r");
    QVERIFY(m_line.readUntil(kOk).endsWith(kOk));
    m_line.write("ATDT5551234\r");
    QCOMPARE(m_line.readUntil(answer), answer);
    // Still in command mode, with no call made.
    m_line.write("AT\r");
    QCOMPARE(m_line.readUntil(kOk), kOk);
    QCOMPARE(m_sim->callCount(), 0);
}

void TestSimModem::faultsChangeFromTheNextDial()
{
    SimConfig config;
    config.faults.busy = true;
    startSim(config);
    m_line.write("ATE0DT1\r");
    QVERIFY(m_line.readUntil("BUSY\r\n").endsWith("BUSY\r\n"));
    m_sim->setFaults({});
    m_line.write("ATDT1\r");
    QCOMPARE(m_line.readUntil(kConnect), kConnect);
}

void TestSimModem::sessionWithTwoPagesAndLogout()
{
    SimConfig config;
    config.logPath = m_dir->filePath("pages.jsonl");
    startSim(config);
    dialAndLogOn();

    m_line.write(tapBlock("5551000", "First page"));
    QCOMPARE(m_line.readUntil("\x06\r"), QByteArray("211 Page(s) Sent\r\x06\r"));
    QByteArray wrong = tapBlock("5551001", "Second page");
    wrong[wrong.size() - 2] = static_cast<char>(wrong[wrong.size() - 2] ^ 1);
    m_line.write(wrong);
    QCOMPARE(m_line.readUntil("\x15\r"), QByteArray("514 Checksum Error\r\x15\r"));
    m_line.write(tapBlock("5551001", "Second page \xe9"));
    QCOMPARE(m_line.readUntil("\x06\r"), QByteArray("211 Page(s) Sent\r\x06\r"));
    m_line.write("\x04\r");
    QCOMPARE(m_line.readUntil(kNoCarrier), QByteArray("115 Goodbye\r\x1b\x04\r") + kNoCarrier);

    QVERIFY(m_sim->waitForCallEnds(1, kWaitMs));
    const QList<AcceptedPage> pages = m_sim->pages();
    QCOMPARE(pages.size(), 2);
    QCOMPARE(pages[0].pagerId, QByteArray("5551000"));
    QCOMPARE(pages[1].text, QByteArray("Second page \xe9"));
    QCOMPARE(pages[1].checksum, tapBlock("5551001", "Second page \xe9").right(4).left(3));
    QCOMPARE(pages[1].call, 1);
    QCOMPARE(m_sim->callEnds().value(0).how, CallEnd::Logout);

    QFile log(config.logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    QCOMPARE(lines.size(), 4); // three lines and the empty rest after the last newline
    const QJsonObject second = QJsonDocument::fromJson(lines[1]).object();
    QCOMPARE(second.value("pagerId").toString(), QString("5551001"));
    QCOMPARE(second.value("text").toString(), QString::fromLatin1("Second page \xe9"));
    QCOMPARE(QJsonDocument::fromJson(lines[2]).object().value("how").toString(), QString("logout"));

    // Back in command mode.
    m_line.write("AT\r");
    QCOMPARE(m_line.readUntil(kOk), kOk);
}

void TestSimModem::callerClosingThePortHangsUp()
{
    startSim();
    dialAndLogOn();
    // Leave a reply unread: it must not greet the next caller.
    m_line.write(tapBlock("1", "unread"));
    QVERIFY(m_sim->waitForPages(1, kWaitMs));
    m_line.close();
    QVERIFY(m_sim->waitForCallEnds(1, kWaitMs));
    QCOMPARE(m_sim->callEnds().value(0).how, CallEnd::CallerHungUp);

    QVERIFY(m_line.openPty(m_sim->slavePath()));
    m_line.write("AT\r");
    QCOMPARE(m_line.readUntil(kOk), kOk); // echo stays off; nothing stale comes first
    m_line.write("ATDT1\r");
    QCOMPARE(m_line.readUntil(kConnect), kConnect);
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->callCount(), 2, kWaitMs);
}

void TestSimModem::escapeThenHangUp()
{
    SimConfig config;
    config.guardTimeMs = 200;
    startSim(config);
    dialAndLogOn();
    QThread::msleep(300);
    m_line.write("+++");
    QCOMPARE(m_line.readUntil(kOk), kOk);
    m_line.write("ATH\r");
    QCOMPARE(m_line.readUntil(kOk), kOk);
    QVERIFY(m_sim->waitForCallEnds(1, kWaitMs));
    QCOMPARE(m_sim->callEnds().value(0).how, CallEnd::CallerHungUp);
}

void TestSimModem::escapeNeedsSilenceBefore()
{
    SimConfig config;
    config.guardTimeMs = 200;
    startSim(config);
    dialAndLogOn();
    m_line.write("x+++"); // no pause before the first "+": it is data
    QVERIFY(!m_line.readFor(700).contains("OK"));
    m_line.write(tapBlock("1", "still in data mode"));
    QCOMPARE(m_line.readUntil("\x06\r"), QByteArray("211 Page(s) Sent\r\x06\r"));
}

void TestSimModem::escapeThenBackOnline()
{
    SimConfig config;
    config.guardTimeMs = 200;
    startSim(config);
    dialAndLogOn();
    QThread::msleep(300);
    m_line.write("+++");
    QCOMPARE(m_line.readUntil(kOk), kOk);
    m_line.write("ATO\r");
    QCOMPARE(m_line.readUntil(kConnect), kConnect);
    m_line.write(tapBlock("1", "after the escape"));
    QCOMPARE(m_line.readUntil("\x06\r"), QByteArray("211 Page(s) Sent\r\x06\r"));
    QCOMPARE(m_sim->pages().value(0).text, QByteArray("after the escape"));
}

void TestSimModem::lineDroppedAfterBlock()
{
    SimConfig config;
    config.faults.dropLineAfterBlock = 1;
    startSim(config);
    dialAndLogOn();
    m_line.write(tapBlock("1", "one"));
    QCOMPARE(m_line.readUntil(kNoCarrier), QByteArray("211 Page(s) Sent\r\x06\r") + kNoCarrier);
    QVERIFY(m_sim->waitForCallEnds(1, kWaitMs));
    QCOMPARE(m_sim->callEnds().value(0).how, CallEnd::DroppedByFault);
    QCOMPARE(m_sim->pageCount(), 1);
    m_line.write(tapBlock("2", "into command mode")); // the modem reads it as a (bad) command line
    m_line.write("AT\r");
    QVERIFY(m_line.readUntil(kOk).endsWith(kOk));
    QCOMPARE(m_sim->pageCount(), 1);
}

void TestSimModem::repliesInPiecesWithPauses()
{
    startSim();
    m_line.write("ATE0\r");
    QVERIFY(m_line.readUntil(kOk).endsWith(kOk));
    SimFaults faults;
    faults.chunkSize = 3;
    faults.chunkPauseMs = 400;
    m_sim->setFaults(faults);
    m_line.write("ATDT1\r");
    // The reader is waiting when the first piece is written, so it sees that piece alone.
    const QByteArray firstPiece = m_line.readSome();
    QVERIFY(!firstPiece.isEmpty());
    QVERIFY2(firstPiece.size() <= 3, firstPiece.constData());
    QCOMPARE(firstPiece + m_line.readUntil("9600\r\n", 10000), kConnect);
    m_line.write("\r");
    QCOMPARE(m_line.readUntil("ID=", 10000), QByteArray("ID="));
}

void TestSimModem::slowTerminal()
{
    SimConfig config;
    config.faults.slowReplyMs = 600;
    startSim(config);
    m_line.write("ATE0DT1\r");
    QVERIFY(m_line.readUntil(kConnect).endsWith(kConnect));
    m_line.write("\r");
    QVERIFY(m_line.readFor(200).isEmpty()); // well inside the terminal's delay
    QCOMPARE(m_line.readUntil("ID="), QByteArray("ID="));
}

void TestSimModem::silentTerminal()
{
    SimConfig config;
    config.faults.silentAfterConnect = true;
    startSim(config);
    m_line.write("ATE0DT1\r");
    QVERIFY(m_line.readUntil(kConnect).endsWith(kConnect));
    m_line.write("\r\r\x1bPG1\r" + tapBlock("1", "a") + "\x04\r");
    QCOMPARE(m_line.readFor(500), QByteArray());
    QVERIFY(m_sim->callEnds().isEmpty());
    m_line.close();
    QVERIFY(m_sim->waitForCallEnds(1, kWaitMs));
    QCOMPARE(m_sim->callEnds().value(0).how, CallEnd::CallerHungUp);
}

void TestSimModem::longRunBeforePrompt()
{
    SimConfig config;
    config.faults.longRunWithoutLineEnd = true;
    startSim(config);
    m_line.write("ATE0DT1\r");
    QVERIFY(m_line.readUntil(kConnect).endsWith(kConnect));
    m_line.write("\r");
    const QByteArray received = m_line.readUntil("ID=");
    QCOMPARE(received.size(), 2003);
    QVERIFY(!received.left(2000).contains('\r') && !received.left(2000).contains('\n'));
}

void TestSimModem::idleCallerIsCutOff()
{
    SimConfig config;
    config.idleTimeoutMs = 300;
    startSim(config);
    dialAndLogOn();
    QCOMPARE(m_line.readUntil(kNoCarrier), QByteArray("501 Time Out\r\x1b\x04\r") + kNoCarrier);
    QVERIFY(m_sim->waitForCallEnds(1, kWaitMs));
    QCOMPARE(m_sim->callEnds().value(0).how, CallEnd::IdleTimeout);
}

void TestSimModem::stoppingEndsTheCall()
{
    SimConfig config;
    config.logPath = m_dir->filePath("stopped.jsonl");
    startSim(config);
    dialAndLogOn();
    m_sim->stop();
    QVERIFY(!m_sim->isRunning());
    QCOMPARE(m_sim->callEnds().value(0).how, CallEnd::Stopped);
    QFile log(config.logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("\"how\":\"stopped\""));
    m_sim->stop(); // twice is harmless
}

void TestSimModem::linkPointsAtTheTerminal()
{
    const QString link = m_dir->filePath("modem");
    QVERIFY(QFile::link("/nonexistent", link)); // a stale link from an earlier run
    m_sim = std::make_unique<PagingSimulator>();
    QVERIFY2(m_sim->startPty(link), qPrintable(m_sim->errorString()));
    QCOMPARE(QFileInfo(link).symLinkTarget(), m_sim->slavePath());
    QVERIFY(m_line.openPty(link));
    m_line.write("AT\r");
    QVERIFY(m_line.readUntil(kOk).endsWith(kOk));
    m_line.close();
    m_sim->stop();
    QVERIFY(!QFileInfo(link).isSymLink());

    // A real file in the way is not replaced.
    QFile blocker(link);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    PagingSimulator refused;
    QVERIFY(!refused.startPty(link));
    QVERIFY(refused.errorString().contains(link));
    QVERIFY(!refused.isRunning());
}

QTEST_GUILESS_MAIN(TestSimModem)
#include "test_sim_modem.moc"

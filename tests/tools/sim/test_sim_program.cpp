// The simulator as TCP listener and as the quillpost-sim program: a session over
// TCP, the command line, and the program run for real against a pseudo-terminal.

#include "PagingSimulator.h"
#include "SimCommandLine.h"
#include "SimTestLine.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <thread>

using namespace quillpost::sim;

namespace {
constexpr int kWaitMs = 5000;
const QByteArray kAccepted = "211 Page(s) Sent\r\x06\r";

QString faultSummary(const SimFaults& f)
{
    QStringList parts;
    const QList<std::pair<bool, const char*>> switches { { f.busy, "busy" },
        { f.noAnswer, "noanswer" }, { f.noCarrier, "nocarrier" },
        { f.silentAfterConnect, "silent" }, { f.garbage, "garbage" },
        { f.longRunWithoutLineEnd, "longrun" } };
    for (const auto& [on, name] : switches) {
        if (on)
            parts.append(name);
    }
    for (int count : { f.dropLineAfterBlock, f.nakLoginTimes, f.nakBlock, f.chunkSize,
             f.chunkPauseMs, f.slowReplyMs })
        parts.append(QString::number(count));
    return parts.join(',');
}

// ctest names the folder; run by hand, the test finds it next to its own.
QString simProgram()
{
    const QString binDir = qEnvironmentVariable(
        "QUILLPOST_BIN_DIR", QCoreApplication::applicationDirPath() + "/../bin");
    return binDir + QStringLiteral("/quillpost-sim");
}
} // namespace

class TestSimProgram : public QObject
{
    Q_OBJECT

private slots:
    void tcpSessionStartsInDataMode();
    void tcpCallerHangingUp();
    void tcpCallsAreNumbered();
    void waitersOnOtherThreadsAreWoken();
    void startRefusedWithAReason();
    void commandLine_data();
    void commandLine();
    void programHelpAndBadArguments();
    void programRunsASessionOverAPseudoTerminal();
};

void TestSimProgram::tcpSessionStartsInDataMode()
{
    PagingSimulator sim;
    QVERIFY2(sim.startTcp(0), qPrintable(sim.errorString()));
    QVERIFY(sim.tcpPort() != 0);
    QVERIFY(sim.slavePath().isEmpty());

    SimTestLine line;
    QVERIFY(line.connectTcp(sim.tcpPort()));
    line.write("AT\r"); // no modem here: the terminal answers
    QCOMPARE(line.readUntil("ID="), QByteArray("ID="));
    line.write("\x1bPG1\r");
    QCOMPARE(line.readUntil("\x1b[p\r"), QByteArray("110 1.8\r\x06\r\x1b[p\r"));
    line.write(tapBlock("42", "over TCP") + tapBlock("43", "twice"));
    QCOMPARE(line.readUntil(kAccepted) + line.readUntil(kAccepted), kAccepted + kAccepted);
    line.write("\x04\r");
    QCOMPARE(line.readUntil("\x1b\x04\r"), QByteArray("115 Goodbye\r\x1b\x04\r"));
    QVERIFY(line.waitForClose());

    QVERIFY(sim.waitForCallEnds(1, kWaitMs));
    QCOMPARE(sim.callEnds().value(0).how, CallEnd::Logout);
    QCOMPARE(sim.pageCount(), 2);
    QCOMPARE(sim.pages().value(0).pagerId, QByteArray("42"));
    QVERIFY(sim.received().startsWith("AT\r\x1bPG1\r"));
}

void TestSimProgram::tcpCallerHangingUp()
{
    PagingSimulator sim;
    QVERIFY(sim.startTcp(0));
    SimTestLine line;
    QVERIFY(line.connectTcp(sim.tcpPort()));
    line.write("\r");
    QCOMPARE(line.readUntil("ID="), QByteArray("ID="));
    line.close();
    QVERIFY(sim.waitForCallEnds(1, kWaitMs));
    QCOMPARE(sim.callEnds().value(0).how, CallEnd::CallerHungUp);
}

void TestSimProgram::tcpCallsAreNumbered()
{
    SimConfig config;
    config.faults.nakBlock = 1;
    PagingSimulator sim(config);
    QVERIFY(sim.startTcp(0));
    SimTestLine first;
    SimTestLine second;
    QVERIFY(first.connectTcp(sim.tcpPort()));
    QVERIFY(second.connectTcp(sim.tcpPort()));
    for (SimTestLine* line : { &first, &second }) {
        line->write("\x1bPG1\r");
        QVERIFY(line->readUntil("\x1b[p\r").endsWith("\x1b[p\r"));
        line->write(tapBlock("1", "refused: first block of the call"));
        QVERIFY(line->readUntil("\x15\r").endsWith("\x15\r"));
        line->write(tapBlock("1", "accepted"));
        QVERIFY(line->readUntil(kAccepted).endsWith(kAccepted));
    }
    QVERIFY(sim.waitForPages(2, kWaitMs));
    QList<int> calls;
    for (const AcceptedPage& page : sim.pages())
        calls.append(page.call);
    std::sort(calls.begin(), calls.end());
    QCOMPARE(calls, QList<int>({ 1, 2 }));
    sim.stop();
    QCOMPARE(sim.callEnds().size(), 2);
}

void TestSimProgram::waitersOnOtherThreadsAreWoken()
{
    PagingSimulator sim;
    QVERIFY(sim.startTcp(0));
    QVERIFY(!sim.waitForPages(1, 50)); // nothing comes: the wait ends by itself

    std::atomic<bool> pagesSeen = false;
    std::atomic<bool> endSeen = false;
    // jthreads join even when a check below fails and returns early.
    std::jthread pageWaiter([&] { pagesSeen = sim.waitForPages(2, 20000); });
    std::jthread endWaiter([&] { endSeen = sim.waitForCallEnds(1, 20000); });
    SimTestLine line;
    QVERIFY(line.connectTcp(sim.tcpPort()));
    line.write("\x1bPG1\r" + tapBlock("1", "a") + tapBlock("2", "b") + "\x04\r");
    QVERIFY(line.waitForClose());
    pageWaiter.join();
    endWaiter.join();
    QVERIFY(pagesSeen);
    QVERIFY(endSeen);
    QCOMPARE(sim.pageCount(), 2);
}

void TestSimProgram::startRefusedWithAReason()
{
    PagingSimulator first;
    QVERIFY(first.startTcp(0));
    QVERIFY(!first.startPty()); // one line at a time
    QVERIFY(first.errorString().contains("already running"));
    QVERIFY(first.isRunning());

    PagingSimulator sameport;
    QVERIFY(!sameport.startTcp(first.tcpPort()));
    QVERIFY2(sameport.errorString().contains(QString::number(first.tcpPort())),
        qPrintable(sameport.errorString()));
    QVERIFY(!sameport.isRunning());

    SimConfig config;
    config.logPath = "/nonexistent-folder/pages.jsonl";
    PagingSimulator unloggable(config);
    QVERIFY(!unloggable.startPty());
    QVERIFY2(
        unloggable.errorString().contains(config.logPath), qPrintable(unloggable.errorString()));
    QVERIFY(!unloggable.isRunning());
}

void TestSimProgram::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>(
        "expected"); // a summary of what was understood, or part of the complaint

    QTest::newRow("defaults") << QStringList {} << true
                              << "pty ring=1000 seq=1 faults=0,0,0,0,50,0";
    QTest::newRow("pty with link and log") << QStringList { "--pty", "--link", "/tmp/m", "--log",
        "p.jsonl" } << true << "pty link=/tmp/m log=p.jsonl";
    QTest::newRow("tcp") << QStringList { "--tcp", "7777", "--no-message-sequences" } << true
                         << "tcp port=7777 seq=0";
    QTest::newRow("every fault") << QStringList { "--busy", "--no-answer", "--no-carrier",
        "--silent", "--garbage", "--long-run", "--drop-after-block", "2", "--nak-login", "3",
        "--nak-block", "4", "--chunk-size", "5", "--chunk-pause", "6", "--slow",
        "7" } << true << "faults=busy,noanswer,nocarrier,silent,garbage,longrun,2,3,4,5,6,7";
    QTest::newRow("timings") << QStringList { "--ring-delay", "10", "--guard-time", "20",
        "--idle-timeout", "30", "--max-block", "100" }
                             << true << "ring=10 guard=20 idle=30 max=100";
    QTest::newRow("both modes") << QStringList { "--pty", "--tcp", "1" } << false << "either";
    QTest::newRow("link with tcp")
        << QStringList { "--tcp", "1", "--link", "x" } << false << "--link";
    QTest::newRow("port out of range") << QStringList { "--tcp", "70000" } << false << "port";
    QTest::newRow("count not a number")
        << QStringList { "--nak-block", "two" } << false << "--nak-block";
    QTest::newRow("count too small")
        << QStringList { "--drop-after-block", "0" } << false << "at least 1";
    QTest::newRow("negative pause")
        << QStringList { "--chunk-pause", "-5" } << false << "--chunk-pause";
    QTest::newRow("unknown option") << QStringList { "--frobnicate" } << false << "frobnicate";
    QTest::newRow("stray argument") << QStringList { "extra" } << false << "extra";
}

void TestSimProgram::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, valid);
    QFETCH(QString, expected);

    SimInvocation invocation;
    const bool parsed = parseSimArguments(QStringList { "quillpost-sim" } + arguments, invocation);
    QCOMPARE(parsed, valid);
    if (!valid) {
        QVERIFY2(invocation.message.contains(expected), qPrintable(invocation.message));
        return;
    }
    const SimConfig& config = invocation.config;
    const SimFaults& f = config.faults;
    const QStringList facts {
        invocation.mode == SimInvocation::Mode::Pty ? "pty" : "tcp",
        "port=" + QString::number(invocation.tcpPort),
        "link=" + invocation.linkPath,
        "log=" + config.logPath,
        "ring=" + QString::number(config.ringDelayMs),
        "guard=" + QString::number(config.guardTimeMs),
        "idle=" + QString::number(config.idleTimeoutMs),
        "max=" + QString::number(config.maxBlockLength),
        "seq=" + QString::number(config.messageSequences),
        "faults=" + faultSummary(f),
    };
    for (const QString& fact : expected.split(' '))
        QVERIFY2(facts.contains(fact), qPrintable(fact + " not in " + facts.join(' ')));
}

void TestSimProgram::programHelpAndBadArguments()
{
    QProcess help;
    help.start(simProgram(), { "--help" });
    QVERIFY2(help.waitForFinished(kWaitMs), qPrintable(simProgram()));
    QCOMPARE(help.exitCode(), 0);
    const QByteArray text = help.readAllStandardOutput();
    for (const char* option :
        { "--pty", "--tcp", "--log", "--link", "--nak-block", "--no-message-sequences" })
        QVERIFY2(text.contains(option), option);

    QProcess wrong;
    wrong.start(simProgram(), { "--nak-block", "x" });
    QVERIFY(wrong.waitForFinished(kWaitMs));
    QCOMPARE(wrong.exitCode(), 2);
    QVERIFY(wrong.readAllStandardError().contains("--nak-block"));
}

void TestSimProgram::programRunsASessionOverAPseudoTerminal()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString logPath = dir.filePath("pages.jsonl");
    const QString link = dir.filePath("ttySIM");
    QProcess program;
    program.start(
        simProgram(), { "--pty", "--link", link, "--log", logPath, "--ring-delay", "50" });
    QVERIFY(program.waitForStarted(kWaitMs));
    QVERIFY(program.waitForReadyRead(kWaitMs));
    const QString slave = QString::fromLocal8Bit(program.readLine()).trimmed();
    QVERIFY2(slave.startsWith("/dev/"), qPrintable(slave));

    SimTestLine line;
    QVERIFY(line.openPty(link));
    line.write("ATZ\r");
    QVERIFY(line.readUntil("OK\r\n").endsWith("OK\r\n"));
    line.write("ATDT5551234\r");
    QVERIFY(line.readUntil("CONNECT 9600\r\n").endsWith("CONNECT 9600\r\n"));
    line.write("\r");
    QCOMPARE(line.readUntil("ID="), QByteArray("ID="));
    line.write("\x1bPG1\r");
    QVERIFY(line.readUntil("\x1b[p\r").endsWith("\x1b[p\r"));
    line.write(tapBlock("5551000", "one"));
    QCOMPARE(line.readUntil(kAccepted), kAccepted);
    line.write(tapBlock("5551001", "two"));
    QCOMPARE(line.readUntil(kAccepted), kAccepted);
    line.write("\x04\r");
    QVERIFY(line.readUntil("\r\nNO CARRIER\r\n").endsWith("\x1b\x04\r\r\nNO CARRIER\r\n"));
    line.close();

    program.terminate();
    QVERIFY(program.waitForFinished(kWaitMs));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    const QByteArray output = program.readAllStandardOutput();
    QVERIFY2(output.contains("call 1 ended: logout"), output.constData());
    QVERIFY(!QFile::exists(link));

    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QList<QJsonObject> entries;
    for (const QByteArray& entry : log.readAll().split('\n')) {
        if (!entry.isEmpty())
            entries.append(QJsonDocument::fromJson(entry).object());
    }
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries[0].value("text").toString(), QString("one"));
    QCOMPARE(entries[1].value("pagerId").toString(), QString("5551001"));
    QCOMPARE(entries[2].value("how").toString(), QString("logout"));
}

QTEST_GUILESS_MAIN(TestSimProgram)
#include "test_sim_program.moc"

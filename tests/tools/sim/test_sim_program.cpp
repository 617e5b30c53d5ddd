// The simulator as TCP listener and the quillpost-sim program's command line. (The
// program itself runs for real behind test_headless_dispatcher.)

#include "PagingSimulator.h"
#include "SimCommandLine.h"
#include "SimTestLine.h"

#include <QTest>
#include <atomic>
#include <thread>

using namespace quillpost::sim;

class TestSimProgram : public QObject
{
    Q_OBJECT

private slots:
    // Each connection is a call of its own, in data mode from the first byte,
    // counted and ended on its own; threads waiting on the simulator are woken.
    void tcpCallsStartInDataMode()
    {
        SimConfig config;
        config.faults.nakBlock = 1;
        PagingSimulator sim(config);
        QVERIFY2(sim.startTcp(0), qPrintable(sim.errorString()));
        QVERIFY(!sim.startPty()); // one line at a time
        QVERIFY(sim.errorString().contains("already running"));
        PagingSimulator samePort;
        QVERIFY(!samePort.startTcp(sim.tcpPort()));
        QVERIFY2(samePort.errorString().contains(QString::number(sim.tcpPort())),
            qPrintable(samePort.errorString()));
        QVERIFY(!samePort.isRunning());
        QVERIFY(!sim.waitForPages(1, 50)); // nothing comes: the wait ends by itself

        std::atomic<bool> pagesSeen = false;
        std::atomic<bool> endsSeen = false;
        // jthreads join even when a check below fails and returns early.
        std::jthread pageWaiter([&] { pagesSeen = sim.waitForPages(3, 20000); });
        std::jthread endWaiter([&] { endsSeen = sim.waitForCallEnds(2, 20000); });
        SimTestLine first;
        SimTestLine second;
        QVERIFY(first.connectTcp(sim.tcpPort()));
        QVERIFY(second.connectTcp(sim.tcpPort()));
        const QList<QByteArray> logOnAndRefusal { "\x1bPG1\r", "110 1.8\r\x06\r\x1b[p\r",
            tapBlock("1", "first block of the call"), "514 Checksum Error\r\x15\r" };
        QCOMPARE(first.talk(QList<QByteArray> { "AT\r", "ID=" } + logOnAndRefusal
                     + QList<QByteArray> { tapBlock("42", "over TCP") + tapBlock("43", "twice"),
                         kSent + kSent, "\x04\r", kGoodbye }),
            QString());
        QVERIFY(first.waitForClose());
        QCOMPARE(
            second.talk(logOnAndRefusal + QList<QByteArray> { tapBlock("44", "b"), kSent }),
            QString());
        second.close();
        pageWaiter.join();
        endWaiter.join();
        QVERIFY(pagesSeen && endsSeen);

        QCOMPARE(sim.callEnds().value(0).how, CallEnd::Logout);
        QCOMPARE(sim.callEnds().value(1).how, CallEnd::CallerHungUp);
        const QList<AcceptedPage> pages = sim.pages();
        QCOMPARE(pages.size(), 3);
        QCOMPARE(pages[0].pagerId, QByteArray("42"));
        QCOMPARE(pages[1].call, pages[0].call);
        QCOMPARE(pages[0].call + pages[2].call, 3); // one call each, numbered 1 and 2
        QVERIFY(sim.received().startsWith("AT\r\x1bPG1\r"));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("expected"); // facts understood, or part of the complaint
        const auto row = [](const char* name, const QStringList& arguments, const char* expected,
                             bool valid = true) {
            QTest::newRow(name) << arguments << valid << QString(expected);
        };

        row("defaults", {}, "pty ring=1000 guard=1000 seq=1 faults=0,0,0,0,0,0,0,0,0,50,0,0");
        row("pty with all settings",
            { "--pty", "--link", "/tmp/m", "--log", "p.jsonl", "--ring-delay", "10", "--guard-time",
                "20", "--idle-timeout", "30", "--max-block", "100" },
            "pty link=/tmp/m log=p.jsonl ring=10 guard=20 idle=30 max=100");
        row("tcp", { "--tcp", "7777", "--no-message-sequences" }, "tcp port=7777 seq=0");
        row("every fault",
            { "--busy", "--no-answer", "--no-carrier", "--drop-after-block", "2", "--nak-login",
                "3", "--nak-block", "4", "--silent", "--garbage", "--chunk-size", "5",
                "--chunk-pause", "6", "--slow", "7", "--long-run" },
            "faults=1,1,1,2,3,4,1,1,5,6,7,1");
        row("a terminal of the field",
            { "--tcp", "1", "--unknown-pager", "999", "--unknown-pager", "5", "--password", "abc1",
                "--crlf", "--deferred", "--pages-per-call", "3", "--hang-up-delay", "40" },
            "unknown=999,5 password=abc1 crlf=1 deferred=1 pages=3 hangup=40");
        row("a WCTP gateway", { "--tcp", "1", "--wctp" }, "tcp wctp=1");
        row("WCTP without tcp", { "--wctp" }, "--wctp", false);
        row("both modes", { "--pty", "--tcp", "1" }, "either", false);
        row("link with tcp", { "--tcp", "1", "--link", "x" }, "--link", false);
        row("port out of range", { "--tcp", "70000" }, "port", false);
        row("count not a number", { "--nak-block", "two" }, "--nak-block", false);
        // Every count is checked against its own least value alike (--chunk-pause's is 0).
        row("count too small", { "--drop-after-block", "0" }, "at least 1", false);
        row("unknown option", { "--frobnicate" }, "frobnicate", false);
        row("stray argument", { "extra" }, "extra", false);
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, valid);
        QFETCH(QString, expected);

        SimInvocation invocation;
        QCOMPARE(parseSimArguments(QStringList { "quillpost-sim" } + arguments, invocation), valid);
        if (!valid) {
            QVERIFY2(invocation.message.contains(expected), qPrintable(invocation.message));
            return;
        }
        const SimConfig& config = invocation.config;
        const SimFaults& f = config.faults;
        const auto n = [](int value) { return QString::number(value); };
        QStringList faults; // in the order SimFaults declares them
        for (int value : { int(f.busy), int(f.noAnswer), int(f.noCarrier), f.dropLineAfterBlock,
                 f.nakLoginTimes, f.nakBlock, int(f.silentAfterConnect), int(f.garbage),
                 f.chunkSize, f.chunkPauseMs, f.slowReplyMs, int(f.longRunWithoutLineEnd) })
            faults.append(n(value));
        const QStringList facts { invocation.mode == SimInvocation::Mode::Pty ? "pty" : "tcp",
            "port=" + n(invocation.tcpPort), "link=" + invocation.linkPath, "log=" + config.logPath,
            "ring=" + n(config.ringDelayMs), "guard=" + n(config.guardTimeMs),
            "idle=" + n(config.idleTimeoutMs), "max=" + n(config.maxBlockLength),
            "seq=" + n(config.messageSequences), "faults=" + faults.join(','),
            "unknown=" + config.unknownPagerIds.join(','), "password=" + config.password,
            "crlf=" + n(config.crLfLineEnds), "deferred=" + n(config.deferredDelivery),
            "pages=" + n(config.maxPagesPerCall), "hangup=" + n(config.hangUpDelayMs),
            "wctp=" + n(config.wctp) };
        for (const QString& fact : expected.split(' '))
            QVERIFY2(facts.contains(fact), qPrintable(fact + " not in " + facts.join(' ')));
    }
};

QTEST_GUILESS_MAIN(TestSimProgram)
#include "test_sim_program.moc"

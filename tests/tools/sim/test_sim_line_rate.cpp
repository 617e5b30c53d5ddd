// The simulator as a line of a given speed: nothing reaches the caller sooner than
// the line could carry it, the caller's own bytes hold the line first, and each
// call's end counts every byte both ways, the modem's dialogue included.

#include "PagingSimulator.h"
#include "SimTestLine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace quillpost::sim;

Q_DECLARE_METATYPE(quillpost::sim::SimConfig)

namespace {
// The time a line of `bps` needs for `bytes` bytes, ten bits each.
qint64 lineNs(qsizetype bytes, int bps)
{
    return bytes * 10 * 1'000'000'000LL / bps;
}

SimConfig atRate(int bps, const SimFaults& faults = {})
{
    SimConfig config;
    config.faults = faults;
    config.lineRateBps = bps;
    return config;
}
} // namespace

class TestSimLineRate : public QObject
{
    Q_OBJECT

private slots:
    // What the caller sends, what comes back, and the least time that can take:
    // the caller's bytes, any delay of a slow terminal, then the reply's own bytes.
    void repliesTakeTheirLineTime_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<SimConfig>("config");
        QTest::addColumn<QByteArray>("send");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<qint64>("leastNs");

        // A reply's own line time is reserved alike for the modem and for TCP (seen on the
        // modem); what TCP adds, the caller's bytes holding the line, is its own row.
        const QByteArray identity = "ATI\r\r\nQuillpost simulated modem\r\n" + kOk; // with echo
        QTest::newRow("modem echo and answer") << false << atRate(2400) << QByteArray("ATI\r")
                                               << identity << lineNs(4 + identity.size(), 2400);
        QTest::newRow("modem answer in pieces")
            << false << atRate(4800, { .chunkSize = 5, .chunkPauseMs = 10 }) << QByteArray("ATI\r")
            << identity << lineNs(4 + identity.size(), 4800);
        QTest::newRow("caller's long line first")
            << true << atRate(9600) << QByteArray(480, 'x') + "\r" << QByteArray("ID=")
            << lineNs(484, 9600);
        QTest::newRow("slow terminal in pieces")
            << true << atRate(1200, { .chunkSize = 4, .chunkPauseMs = 20, .slowReplyMs = 300 })
            << QByteArray("\x1bPG1\r") << kLoggedOn << 300'000'000 + lineNs(kLoggedOn.size(), 1200);
    }

    void repliesTakeTheirLineTime()
    {
        QFETCH(bool, tcp);
        QFETCH(SimConfig, config);
        QFETCH(QByteArray, send);
        QFETCH(QByteArray, reply);
        QFETCH(qint64, leastNs);

        PagingSimulator sim(config);
        SimTestLine line;
        QVERIFY2(tcp ? sim.startTcp() : sim.startPty(), qPrintable(sim.errorString()));
        QVERIFY(tcp ? line.connectTcp(sim.tcpPort()) : line.openPty(sim.slavePath()));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(line.talk({ send, reply }), QString());
        const qint64 tookNs = clock.nsecsElapsed();
        QVERIFY2(tookNs >= leastNs, qPrintable(QString("%1 ns < %2 ns").arg(tookNs).arg(leastNs)));
    }

    // Two calls on the modem, one ending with a logout, one with the caller hanging
    // up: each record holds the bytes since the one before, the "NO CARRIER" after a
    // logout counting for the next call; the log says the same.
    void callEndsCountTheBytes()
    {
        QTemporaryDir dir;
        SimConfig config = atRate(19200);
        config.logPath = dir.filePath("calls.jsonl");
        PagingSimulator sim(config);
        QVERIFY2(sim.startPty(), qPrintable(sim.errorString()));
        SimTestLine line;
        QVERIFY(line.openPty(sim.slavePath()));

        const QByteArrayList in { "ATE0\r", "ATDT1\r", "\r", "\x1bPG1\r", tapBlock("12", "n"),
            "\x04\r" };
        const QByteArrayList out { "ATE0\r" + kOk, kConnect, "ID=", kLoggedOn, kSent,
            kGoodbye + kNoCarrier };
        QByteArrayList script;
        for (qsizetype i = 0; i < in.size(); ++i)
            script << in[i] << out[i];
        QCOMPARE(line.talk(script + QByteArrayList { "ATDT2\r", kConnect }), QString());
        line.close();
        QVERIFY(sim.waitForCallEnds(2, 5000));

        const QList<CallRecord> ends = sim.callEnds();
        const QList<qint64> counts { ends[0].received, ends[0].sent, ends[1].received,
            ends[1].sent };
        QCOMPARE(counts,
            QList<qint64>({ in.join().size(), out.join().size() - kNoCarrier.size(), 6,
                kNoCarrier.size() + kConnect.size() }));
        QCOMPARE(ends[0].how, CallEnd::Logout);
        QCOMPARE(ends[1].how, CallEnd::CallerHungUp);

        QFile log(config.logPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().trimmed().split('\n');
        QCOMPARE(lines.size(), 3); // the page and the two ends
        for (int i = 0; i < 2; ++i) {
            const QJsonObject end = QJsonDocument::fromJson(lines[i + 1]).object();
            QCOMPARE(end["event"].toString(), QString("call-end"));
            QCOMPARE(end["received"].toInteger(), ends[i].received);
            QCOMPARE(end["sent"].toInteger(), ends[i].sent);
        }
    }
};

QTEST_GUILESS_MAIN(TestSimLineRate)
#include "test_sim_line_rate.moc"

// The simulated modem over a real pseudo-terminal: AT commands, dialling, the faults
// whose effect on the line the program's own tests would not notice missing, a whole
// session, and the ways a call ends. The faults the program is run against (busy, no
// answer, no carrier, a dropped line, refused log-ons and blocks, silence, garbage,
// replies in pieces, slow replies) are checked there, outcome by outcome.

#include "PagingSimulator.h"
#include "ReplyPacer.h"
#include "SimTestLine.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace quillpost::sim;

Q_DECLARE_METATYPE(quillpost::sim::SimConfig)

namespace {
const QList<QByteArray> kDialAndLogOn { "ATDT1\r", kConnect, "\r", "ID=", "\x1bPG1\r", kLoggedOn };
const QString kHungUp = "caller-hung-up";
constexpr int kWaitMs = 5000;
using Script = QList<QByteArray>;

// Guard time 200 ms, so SimTestLine's quiet steps are silence enough around "+++".
SimConfig withFaults(const SimFaults& faults, int idleTimeoutMs = 0)
{
    SimConfig config;
    config.faults = faults;
    config.guardTimeMs = 200;
    config.idleTimeoutMs = idleTimeoutMs;
    return config;
}
} // namespace

class TestSimModem : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        m_line.close();
        m_sim.reset();
    }

    // Commands, and each call from the dial on: what is said on the line (see
    // SimTestLine::talk), the pages taken, and how the call ended once the caller closes
    // the port (empty: no call was connected).
    void calls_data()
    {
        QTest::addColumn<SimConfig>("config");
        QTest::addColumn<Script>("script");
        QTest::addColumn<int>("pages");
        QTest::addColumn<QString>("end");

        const SimConfig none = withFaults({});
        const QByteArray block = tapBlock("1", "a");
        const auto row = [](const char* name, const SimConfig& config, const Script& script,
                             const QString& end = kHungUp, int pages = 0) {
            QTest::newRow(name) << config << script << pages << end;
        };
        const auto dial = [](const QByteArray& command, const QByteArray& answer) {
            return Script { command, answer, "\r", "ID=" };
        };
        // Whatever the line did, the modem still answers.
        const auto command = [](const QByteArray& command, const QByteArray& answer) {
            return Script { command + "\r", answer, "ATV1\r", kOk };
        };
        row("reset brings echo back", none, command("ATZ\rATE0", kOk + "ATE0\r" + kOk), {});
        row("several settings", none, command("ATV1Q0X4&C1&D2", kOk), {});
        row("lower case and spaces", none, command("at e0 v1 x4", kOk), {});
        row("read a register", none, command("ATS7=60S7?", "\r\n060\r\n" + kOk), {});
        row("escape sent in command mode", none, command("+++ATH", kOk), {});
        row("not a command", none, command("hello\rAT", kOk), {});
        row("unknown command", none, command("ATJ", kError), {});
        row("value out of range", none, command("ATX9", kError), {});
        row("register value too big", none, command("ATS7=300", kError), {});
        row("answer with nobody calling", none, command("ATA", kNoCarrier), {});
        row("online without a call", none, command("ATO", kNoCarrier), {});
        row("line too long", none, command("AT" + QByteArray(300, 'E'), kError), {});
        // Tone (ATDT) is dialled in every call below; no modifier, with spaces, stands for
        // the others.
        row("no tone or pulse, spaces", none, dial("ATD 555-1234\r", kConnect));
        row("line feed after CR", none, dial("ATDT1\r\n", kConnect));
        row("basic results", none, dial("ATX0DT1\r", "\r\nCONNECT\r\n"));
        row("numeric results", none, dial("ATV0DT1\r", "12\r"));
        row("echo back on", none, { "ATE1\r", kOk, "AT\r", "AT\r" + kOk }, {});
        // The program's run against it passes whether or not the run comes: it is seen here.
        row("long run before the prompt", withFaults({ .longRunWithoutLineEnd = true }),
            dial("ATDT1\r", kConnect + "~"));
        // Idle for seconds, so that the log-on before it is never cut off by a slow caller.
        row("idle caller cut off", withFaults({}, 3000),
            kDialAndLogOn + Script { "", "501 Time Out\r\x1b\x04\r" + kNoCarrier }, "idle-timeout");
        // "+++" counts only after a guard time of silence, and needs one after it too.
        row("escape and hang up", none,
            kDialAndLogOn + Script { "", "", "+++", kOk, "ATH\r", kOk });
        row("escape and back online", none,
            kDialAndLogOn + Script { "", "", "+++", kOk, "ATO\r", kConnect, block, kSent }, kHungUp,
            1);
        row("escape without silence before is data", none,
            kDialAndLogOn + Script { "x+++", "", block, kSent }, kHungUp, 1);
    }

    void calls()
    {
        QFETCH(SimConfig, config);
        QFETCH(Script, script);
        QFETCH(int, pages);
        QFETCH(QString, end);

        startSim(config);
        QCOMPARE(m_line.talk(script), QString());
        QCOMPARE(m_sim->pageCount(), pages);
        QCOMPARE(m_sim->callCount(), end.isEmpty() ? 0 : 1);
        m_line.close();
        if (!end.isEmpty()) {
            QVERIFY(m_sim->waitForCallEnds(1, kWaitMs));
            QCOMPARE(callEndName(m_sim->callEnds().value(0).how), end);
        }
        QCOMPARE(m_sim->callEnds().size(), end.isEmpty() ? 0 : 1);
    }

    // Replies go out in order, in pieces of the size set, and a slow terminal's not at once:
    // seen on the writer itself, where the machine's load cannot merge or split them.
    void replyPacing()
    {
        QList<QByteArray> written;
        ReplyPacer pacer([&written](QByteArrayView bytes) {
            written << bytes.toByteArray();
            return bytes.size();
        });
        pacer.setPieces(3, 5);
        pacer.send("ID=");
        pacer.send("110 1.8\r");
        QTRY_VERIFY_WITH_TIMEOUT(pacer.isIdle(), kWaitMs);
        QCOMPARE(written, QList<QByteArray>({ "ID=", "110", " 1.", "8\r" }));

        pacer.setPieces(0, 0);
        pacer.send("\x06\r", 50);
        QVERIFY(written.size() == 4 && !pacer.isIdle());
        QTRY_VERIFY_WITH_TIMEOUT(pacer.isIdle(), kWaitMs);
        QCOMPARE(written.last(), QByteArray("\x06\r"));
    }

    void callerClosingThePortHangsUpThenCallsAgain()
    {
        startSim();
        QCOMPARE(m_line.talk(kDialAndLogOn), QString());
        // Leave a reply unread: it must not greet the next caller.
        m_line.write(tapBlock("1", "unread"));
        QVERIFY(m_sim->waitForPages(1, kWaitMs));
        m_line.close();
        QVERIFY(m_sim->waitForCallEnds(1, kWaitMs));

        QVERIFY(m_line.openPty(m_sim->slavePath()));
        // Echo stays off, nothing stale comes first, and new faults count from the next dial.
        m_sim->setFaults({ .busy = true });
        QCOMPARE(m_line.talk({ "AT\r", kOk, "ATDT1\r", "\r\nBUSY\r\n" }), QString());
        m_sim->setFaults({});
        QCOMPARE(m_line.talk({ "ATDT1\r", kConnect }), QString());
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->callCount(), 2, kWaitMs);
    }

    // The simulator as the command line runs it: behind a link, stopped mid-call;
    // and refusing to start when it cannot do so properly.
    void linkThenStopDuringACall()
    {
        const QString link = m_dir.filePath("modem");
        QVERIFY(QFile::link("/nonexistent", link)); // a stale link from an earlier run
        SimConfig config;
        config.logPath = m_dir.filePath("stopped.jsonl");
        m_sim = std::make_unique<PagingSimulator>(config);
        QVERIFY2(m_sim->startPty(link), qPrintable(m_sim->errorString()));
        QVERIFY(m_line.openPty(link));
        QCOMPARE(m_line.talk(Script { "ATE0\r", "ATE0\r" + kOk } + kDialAndLogOn), QString());
        m_sim->stop();
        QVERIFY(!m_sim->isRunning());
        QCOMPARE(m_sim->callEnds().value(0).how, CallEnd::Stopped);
        QFile log(config.logPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("\"how\":\"stopped\""));
        // That the link goes with the simulator is seen as the program's tests stop it.
        m_sim->stop(); // twice is harmless

        // A real file in the way is not replaced.
        QFile blocker(link);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        PagingSimulator refused;
        QVERIFY(!refused.startPty(link));
        QVERIFY(refused.errorString().contains(link));
        QVERIFY(!refused.isRunning());
        // So is a log that cannot be written.
        config.logPath = "/nonexistent-folder/pages.jsonl";
        PagingSimulator unlogged(config);
        QVERIFY(!unlogged.startPty());
        QVERIFY2(
            unlogged.errorString().contains(config.logPath), qPrintable(unlogged.errorString()));
    }

private:
    // Starts the simulator and switches the modem's echo off, seeing it echoed.
    void startSim(const SimConfig& config = {})
    {
        m_sim = std::make_unique<PagingSimulator>(config);
        QVERIFY2(m_sim->startPty(), qPrintable(m_sim->errorString()));
        QVERIFY(m_line.openPty(m_sim->slavePath()));
        QCOMPARE(m_line.talk({ "ATE0\r", "ATE0\r" + kOk }), QString());
    }

    std::unique_ptr<PagingSimulator> m_sim;
    SimTestLine m_line;
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestSimModem)
#include "test_sim_modem.moc"

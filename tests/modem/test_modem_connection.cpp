#include "FakeTelephony.h"
#include "PresetPrompt.h"
#include "modem/ModemConnection.h"
#include "modem/ModemList.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

const QByteArray kLogin("\x1BPG1\r");

// Runs every event queued on this thread so far, and those they queue in turn, so that
// "nothing more arrived" is known without waiting on the clock.
void RunQueuedEvents()
{
    for (int round = 0; round < 5; ++round)
        QCoreApplication::sendPostedEvents();
}

void Pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Waits until done() holds, without running events: the owner's thread is busy meanwhile,
// as a window's can be.
bool WaitBusy(const std::function<bool()>& done)
{
    for (QDeadlineTimer deadline(5000); !deadline.hasExpired(); Pause(1)) {
        if (done())
            return true;
    }
    return false;
}

// Plays the sending window: writes down every message it gets, in order. A modem list
// over a fake line interface with two devices, the second one stored; the far end of
// the data handle is a socket the test reads and writes.
struct Fixture final : IModemConnectionOwner
{
    Fixture()
        : modems([] { return QStringLiteral("Bravo"); }, &telephony)
    {
        telephony.devices = { "Alpha", "Bravo" };
        int pair[2] = { -1, -1 };
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
            qFatal("no socket pair");
        farEnd = pair[1];
        programEnd = pair[0];
        telephony.makePort = [fd = pair[0]]() mutable {
            return std::make_unique<CCommPort>(std::exchange(fd, -1));
        };
        modems.Discover();
    }
    ~Fixture() override
    {
        connection.reset();
        close(farEnd);
    }

    void OnLineConnected(std::uintptr_t w) override { events << "connected " + QString::number(w); }
    void OnLineFailed(std::uintptr_t w, std::intptr_t l) override
    {
        events << QString("failed %1 %2").arg(w).arg(l);
    }
    void OnTapAccepted() override
    {
        events << "accepted";
        onAccepted();
    }
    void OnTapRefused() override { events << "refused"; }
    void OnTapTerminalLine(const QString& line) override { events << "said " + line; }

    void Dial()
    {
        connection->OpenLine(modems, modems.SelectedDevice(), this);
        connection->PlaceCall(QStringLiteral("9,555 1234"));
    }
    // Dials, lets the call connect and sends the wake-up; the block to go is pager 1, "X".
    bool Connect()
    {
        connection->Exchange().SetPagerId("1");
        connection->Exchange().SetMessageText("X");
        Dial();
        telephony.emitCallState(LINECALLSTATE_CONNECTED);
        if (!QTest::qWaitFor([&] { return events == QStringList { "connected 1" }; }, 5000))
            return false;
        connection->Exchange().SendWakeUp();
        return true;
    }
    // Everything the far end has received since the start.
    QByteArray Received()
    {
        char buffer[512];
        for (ssize_t count = 0; (count = read(farEnd, buffer, sizeof buffer)) > 0;)
            farEndLog.append(buffer, count);
        return farEndLog;
    }
    void Send(const QByteArray& bytes)
    {
        // The program may have closed its end already; that must not end the test.
        send(farEnd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
    }
    // Bytes on the line that the connection's reader has not taken yet.
    int Unread() const
    {
        int unread = -1;
        return ioctl(programEnd, FIONREAD, &unread) == 0 ? unread : -1;
    }
    // Sends the bytes and waits until the connection's reader has taken them, so that
    // they reach the exchange as one chunk of their own, however loaded the machine.
    bool SendChunk(const QByteArray& bytes)
    {
        Send(bytes);
        return WaitBusy([this] { return Unread() == 0; });
    }
    // Answers the wake-up and the log-on, up to the first block on the line.
    bool LogIn()
    {
        Send("ID=");
        if (!QTest::qWaitFor([this] { return Received().endsWith(kLogin); }, 5000))
            return false;
        Send("\x06\r\x1B[p\r");
        return QTest::qWaitFor([this] { return Received().contains('\x03'); }, 5000);
    }
    // The owner heard exactly this, and nothing more once the queued events have run.
    bool Heard(const QStringList& expected)
    {
        const bool arrived = QTest::qWaitFor([&] { return events == expected; }, 5000);
        RunQueuedEvents();
        return arrived && events == expected;
    }

    PresetPrompt prompt;
    FakeTelephony telephony;
    CModemList modems;
    QStringList events;
    std::function<void()> onAccepted = [] {};
    int farEnd = -1;
    int programEnd = -1; // the data handle's descriptor while the call is connected
    QByteArray farEndLog;
    std::unique_ptr<CModemConnection> connection = std::make_unique<CModemConnection>();
};

struct LineEvent
{
    std::uint32_t message = LINE_CALLSTATE;
    std::uint32_t param1 = 0;
    std::uint32_t handle = 102; // the call placed
    std::uint32_t param2 = 0;
};

// How the fake line interface answers: lineAnswer, and lineDeallocateCall in order.
struct LineSetup
{
    std::int32_t answerResult = 0;
    bool withPort = true; // whether the connected call has a data handle
    QList<std::int32_t> deallocateResults {};
};

void Row(const char* name, const QList<LineEvent>& events, const QStringList& heard,
    const QStringList& lineCalls, const LineSetup& setup = {})
{
    QTest::newRow(name) << events << setup << heard << lineCalls;
}

} // namespace

Q_DECLARE_METATYPE(QList<LineEvent>)
Q_DECLARE_METATYPE(LineSetup)

class TestModemConnection : public QObject
{
    Q_OBJECT

private slots:
    void callStates_data()
    {
        QTest::addColumn<QList<LineEvent>>("events");
        QTest::addColumn<LineSetup>("setup");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("lineCalls"); // calls after dialling, in order

        const LineEvent connected { LINE_CALLSTATE, LINECALLSTATE_CONNECTED };
        const LineEvent busy { LINE_CALLSTATE, LINECALLSTATE_BUSY };
        const LineEvent disconnected { LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED };
        const LineEvent offered { LINE_CALLSTATE, LINECALLSTATE_OFFERING, 77 };
        const LineEvent ringing { LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 78 };
        const LineEvent idle { LINE_CALLSTATE, LINECALLSTATE_IDLE };
        const LineEvent localFault { LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, 102,
            LINEDISCONNECTMODE_LOCALFAULT };
        const QString deallocate = QStringLiteral("lineDeallocateCall 102");
        const std::int32_t wrongState = LINEERR_INVALCALLSTATE;
        const QString getId = QStringLiteral("lineGetID 102 4 comm/datamodem");
        const QStringList failed { "failed 1 64" };

        Row("busy: one failure, no redial, no hang-up", { busy }, failed, {});
        // A call that connects is in every send test against the simulator, and one lost
        // while dialling in its NO CARRIER and NO ANSWER rows.
        Row("far end hangs up before the exchange: hung up at once", { connected, disconnected },
            { "connected 1", "failed 1 0" }, { getId, "lineDrop 102", "lineDeallocateCall 102" });
        Row("no data handle", { connected }, failed, { getId }, { .withPort = false });
        Row("this side could not place the call: the line interface says why", { localFault },
            { "failed 1 1" }, { "lineGetCallInfo 102" });
        Row("offered call answered, then ended", { offered, disconnected }, { "failed 1 0" },
            { "lineAnswer 77", "lineDrop 77", "lineDeallocateCall 77" });
        Row("ringing answered", { ringing }, {}, { "lineAnswer 78" });
        Row("refused answer leaves the call alone", { ringing, disconnected }, failed,
            { "lineAnswer 78" }, { .answerResult = LINEERR_INVALCALLHANDLE });
        Row("other line states ignored", { { LINE_LINEDEVSTATE, 0x4 }, { LINE_CALLSTATE, 0x20 } },
            {}, {});
        Row("idle call deallocated", { idle }, {}, { deallocate });
        Row("idle: wrong call state three times", { idle }, {}, QStringList(4, deallocate),
            { .deallocateResults = QList<std::int32_t>(3, wrongState) });
        Row("idle: another error is not repeated", { idle }, {}, { deallocate },
            { .deallocateResults = { LINEERR_OPERATIONFAILED, wrongState } });
        Row("idle: wrong call state for ever, given up", { idle }, {}, QStringList(10, deallocate),
            { .deallocateResults = QList<std::int32_t>(1000, wrongState) });
    }

    void callStates()
    {
        QFETCH(QList<LineEvent>, events);
        QFETCH(LineSetup, setup);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, lineCalls);

        Fixture fixture;
        fixture.telephony.answerResult = setup.answerResult;
        fixture.telephony.deallocateResults = setup.deallocateResults;
        if (!setup.withPort)
            fixture.telephony.makePort = nullptr;
        fixture.telephony.callInfo.localFault = "The modem \"Bravo\" does not answer";
        fixture.Dial();
        QCOMPARE(fixture.telephony.lastCall, CallHandle(102));
        const qsizetype dialled = fixture.telephony.calls.size();
        for (const LineEvent& event : events)
            fixture.telephony.emitEvent(event.handle, event.message, event.param1, event.param2);

        QVERIFY2(fixture.Heard(expected), qPrintable(fixture.events.join(", ")));
        QCOMPARE(fixture.connection->LocalFault(),
            expected.contains("failed 1 1") ? fixture.telephony.callInfo.localFault : QString());
        QTRY_COMPARE_WITH_TIMEOUT(fixture.telephony.calls.mid(dialled), lineCalls, 5000);
        // Once deallocated, the handle is forgotten: a hang-up neither drops nor deallocates it.
        if (lineCalls.value(lineCalls.size() - 1).startsWith("lineDeallocateCall")) {
            fixture.connection->HangUp();
            QCOMPARE(fixture.telephony.calls.mid(dialled), lineCalls);
        }
        // One data call, the number exactly as given, on a line opened for data calls with
        // owner privileges.
        QCOMPARE(fixture.telephony.calls.filter("lineMakeCall"),
            QStringList { "lineMakeCall 9,555 1234" });
        QVERIFY(fixture.telephony.calls.contains(QStringLiteral("lineOpen 1 4 16")));
    }

    // More chunks than the reader has buffers arrive whole and in order: each is a line of
    // its own, which the owner hears. Zero bytes are left out one by one.
    void chunksWrapAroundTheReadersBuffers()
    {
        Fixture fixture;
        QVERIFY(fixture.Connect());
        QStringList said { "connected 1" };
        for (int chunk = 0; chunk < 2 * CModemConnection::kReceiveBuffers + 3; ++chunk) {
            const QString line
                = QStringLiteral("%1 chunk %2 of the terminal").arg(200 + chunk).arg(chunk);
            QVERIFY(fixture.SendChunk(line.toLatin1() + '\r'));
            said << "said " + line;
        }
        QTRY_COMPARE_WITH_TIMEOUT(fixture.events, said, 5000);
        // The exchange still follows the conversation after the wrap. "I" waits there for
        // the rest of the prompt, which only the "D" between two zero bytes completes.
        QVERIFY(fixture.SendChunk("I"));
        QVERIFY(fixture.SendChunk(QByteArray("\0D\0", 3)));
        QVERIFY(fixture.SendChunk("="));
        QTRY_COMPARE_WITH_TIMEOUT(fixture.Received(), "\r" + kLogin, 5000);
    }

    void nothingPassesAfterHangUp()
    {
        Fixture fixture;
        QVERIFY(fixture.Connect());
        CModemConnection& connection = *fixture.connection;
        // A socket takes any framing and ignores it (a framing no port has is refused by
        // the port itself, in the framing tests).
        QVERIFY(connection.SetPortFraming('N', 8, 1));
        // Bytes after a zero byte are never sent.
        connection.WriteText(QByteArray("AB\0CD", 5));
        connection.WriteText("EF");
        QTRY_COMPARE_WITH_TIMEOUT(fixture.Received(), QByteArray("\rABEF"), 5000);
        // The prompt is read and queued while the owner's thread is busy; the owner
        // then hangs up before the queue is served.
        QVERIFY(fixture.SendChunk("ID="));
        connection.HangUp();
        RunQueuedEvents();
        QCOMPARE(fixture.Received(), QByteArray("\rABEF"));
        connection.CloseLine();
        connection.WriteText("GH");
        QVERIFY(!connection.SetPortFraming('N', 8, 1));
        QCOMPARE(fixture.Received(), QByteArray("\rABEF"));
    }

    // A write that falls short leaves the terminal waiting for the rest of a block, which
    // nothing may follow: the owner hears that the line failed, once, and nothing more is
    // written on the call.
    void shortWriteGivesUpTheCall()
    {
        Fixture fixture;
        QVERIFY(fixture.Connect());
        close(std::exchange(fixture.farEnd, -1));
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression("^Wrote 0 of 5 bytes to the line: .+"));
        QTest::ignoreMessage(QtWarningMsg, "The call is given up: 0 of 5 bytes went out");
        fixture.connection->WriteText("BLOCK");
        fixture.connection->WriteText("MORE");
        QVERIFY2(
            fixture.Heard({ "connected 1", "failed 1 64" }), qPrintable(fixture.events.join(", ")));
    }

    void hangUpFromInsideNotification()
    {
        Fixture fixture;
        CModemConnection& connection = *fixture.connection;
        fixture.onAccepted = [&] {
            connection.Exchange().SendLogout();
            connection.HangUp();
            connection.CloseLine();
        };
        QVERIFY(fixture.Connect());
        const QString shutdown = QStringLiteral("lineShutdown %1").arg(fixture.modems.AppHandle());
        // The modem dialog opened meanwhile runs a discovery of its own; the close still
        // ends the application the line was opened under.
        fixture.modems.Discover();
        QVERIFY(fixture.LogIn());
        // The verdict makes the owner log out, hang up and close inside the notification.
        fixture.Send("\x06\r");
        const QStringList accepted { "connected 1", "accepted" };
        QTRY_COMPARE_WITH_TIMEOUT(fixture.events, accepted, 5000);
        QVERIFY(fixture.Received().endsWith("\x04\r"));
        QVERIFY(!connection.IsConnected());
        QCOMPARE(fixture.telephony.count("lineDrop 102"), 1);
        QCOMPARE(fixture.telephony.count("lineClose"), 1);
        QCOMPARE(fixture.telephony.calls.filter("lineShutdown"), QStringList { shutdown });
        // Later bytes from the line reach nobody.
        fixture.Send("\x06\r");
        QVERIFY(fixture.Heard(accepted));
    }

    void verdictReadWithLineLossComesFirst_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("ACK") << QByteArray("\x06\r");
        QTest::newRow("ACK behind line noise") << QByteArray("\0\0\0\x06\r", 5);
    }

    // The line is lost while the owner's thread is busy, the terminal's chatter fills the
    // reader's queue to its bound and its ACK waits on the line, unread. The loss is the
    // first thing the owner's thread takes up: the ACK is still read, and the owner hears
    // the verdict before the failure.
    void verdictReadWithLineLossComesFirst()
    {
        QFETCH(QByteArray, reply);
        Fixture fixture;
        QVERIFY(fixture.Connect());
        QVERIFY(fixture.LogIn());
        fixture.telephony.emitCallState(LINECALLSTATE_DISCONNECTED);
        constexpr int kPieces = 16;
        const QByteArray chatter(CModemConnection::kMostQueuedBytes / kPieces, 'x');
        for (int piece = 0; piece < kPieces; ++piece)
            QVERIFY(fixture.SendChunk(chatter));
        QVERIFY(WaitBusy([&] {
            return fixture.connection->QueuedBytes() == CModemConnection::kMostQueuedBytes;
        }));
        fixture.Send(reply);
        QCOMPARE(fixture.Unread(), int(reply.size()));
        QVERIFY2(fixture.Heard({ "connected 1", "accepted", "failed 1 64" }),
            qPrintable(fixture.events.join(", ")));
    }

    // A terminal floods the line while the owner's thread is busy (a blocking write, a
    // database wait): what waits for that thread stays within its bound, the rest waits on
    // the line, and once the thread runs again the conversation goes on.
    void floodWhileTheOwnerIsBusy()
    {
        Fixture fixture;
        QVERIFY(fixture.Connect());
        std::atomic<bool> flooding { true };
        std::thread flood([&] {
            const QByteArray noise(4096, 'x');
            while (flooding) {
                if (send(fixture.farEnd, noise.constData(), size_t(noise.size()), MSG_NOSIGNAL)
                    < 0) {
                    pollfd room { fixture.farEnd, POLLOUT, 0 };
                    poll(&room, 1, 10);
                }
            }
        });
        std::int64_t most = 0;
        for (QDeadlineTimer busy(2000); !busy.hasExpired(); Pause(1))
            most = std::max(most, fixture.connection->QueuedBytes());
        flooding = false;
        flood.join();
        QVERIFY2(most <= CModemConnection::kMostQueuedBytes, qPrintable(QString::number(most)));
        // The reader did take its share: without the bound it would have gone on.
        QVERIFY2(most > CModemConnection::kMostQueuedBytes / 2, qPrintable(QString::number(most)));
        int unread = -1;
        QTRY_VERIFY_WITH_TIMEOUT(fixture.connection->QueuedBytes() == 0
                && ioctl(fixture.programEnd, FIONREAD, &unread) == 0 && unread == 0,
            5000);
        fixture.Send("ID=");
        QTRY_VERIFY_WITH_TIMEOUT(fixture.Received().endsWith(kLogin), 5000);
    }

    void destroyedWhileReading()
    {
        Fixture fixture;
        QVERIFY(fixture.Connect());
        // Chunks are read and queued while the owner's thread is busy; the connection
        // then goes without hanging up. The queued chunks and the reader must not touch
        // it afterwards (the sanitizer build would see it).
        std::atomic<bool> flooding { true };
        std::thread flood([&] {
            for (; flooding; Pause(5))
                fixture.Send("ID=\r");
        });
        Pause(300);
        fixture.connection.reset();
        flooding = false;
        flood.join();
        RunQueuedEvents();
        QCOMPARE(fixture.events, QStringList { "connected 1" });
        QCOMPARE(fixture.telephony.count("lineDrop 102"), 1);
        QCOMPARE(fixture.telephony.count("lineClose"), 1);
    }

    void failedDialRetriedOnce_data()
    {
        QTest::addColumn<QList<std::int32_t>>("results"); // of lineMakeCall, in order
        QTest::addColumn<QString>("cancel"); // what the owner does right after dialling
        QTest::addColumn<int>("attempts");
        const std::int32_t failed = LINEERR_OPERATIONFAILED;

        QTest::newRow("second attempt connects") << QList { failed } << QString() << 2;
        QTest::newRow("second attempt fails too: no third, the owner told")
            << QList { failed, failed } << "" << 2;
        QTest::newRow("hang-up cancels the second attempt") << QList { failed } << "hang up" << 1;
        QTest::newRow("closing cancels the second attempt") << QList { failed } << "close" << 1;
    }

    void failedDialRetriedOnce()
    {
        QFETCH(QList<std::int32_t>, results);
        QFETCH(QString, cancel);
        QFETCH(int, attempts);
        Fixture fixture;
        fixture.telephony.makeCallResults = results;
        const bool refused = results.size() == 2;
        const QString fault("The line device \"Bravo\" cannot place a call: the operation failed");
        if (refused)
            QTest::ignoreMessage(QtWarningMsg, qPrintable(fault + " (0x80000048)"));
        fixture.Dial();
        // The pause before the second attempt does not hold up the caller.
        QCOMPARE(fixture.telephony.count("lineMakeCall"), 1);
        if (cancel == "hang up")
            fixture.connection->HangUp();
        else if (cancel == "close")
            fixture.connection->CloseLine();
        QTRY_COMPARE_WITH_TIMEOUT(fixture.telephony.count("lineMakeCall"), attempts, 5000);
        // Past the time the second attempt is due, and again as long: nothing more is dialled.
        QTest::qWait(2 * CModemConnection::kRedialDelayMs);
        QCOMPARE(fixture.telephony.calls.filter("lineMakeCall"),
            QStringList(attempts, QStringLiteral("lineMakeCall 9,555 1234")));
        const bool connects = attempts == 2 && results.size() == 1;
        if (connects)
            fixture.telephony.emitCallState(LINECALLSTATE_CONNECTED);
        const QStringList heard = connects ? QStringList { "connected 1" }
            : refused                      ? QStringList { "failed 1 1" }
                                           : QStringList();
        QTRY_COMPARE_WITH_TIMEOUT(fixture.events, heard, 5000);
        QCOMPARE(fixture.connection->LocalFault(), refused ? fault : QString());
    }
};

QTEST_GUILESS_MAIN(TestModemConnection)
#include "test_modem_connection.moc"

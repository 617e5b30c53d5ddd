#include "ConnectionFixture.h"

#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

const QByteArray kLogin("\x1BPG1\r");
const QByteArray kAckGoAhead("\x06\r\x1B[p\r");
const QByteArray kAck("\x06\r");

// Lets every queued event run, so that "nothing more arrived" means something.
void Settle()
{
    QTest::qWait(100);
}

struct LineEvent
{
    std::uint32_t message = LINE_CALLSTATE;
    std::uint32_t param1 = 0;
    std::uint32_t handle = 0; // 0: the call placed
};

} // namespace

Q_DECLARE_METATYPE(QList<LineEvent>)

class TestModemConnection : public QObject
{
    Q_OBJECT

private slots:
    void callStates_data();
    void callStates();
    void disconnectedDuringExchange();
    void idleDeallocation_data();
    void idleDeallocation();
    void negativeDeviceOpensNothing();
    void failedOpenClosesLine();
    void secondAttemptAfterFailure();
    void hangUpCancelsSecondAttempt();
    void exchangeRunsOverTheReader();
    void zeroLeadingChunkDropped();
    void manyChunksWrapTheBuffers();
    void nothingReachesExchangeAfterHangUp();
    void hangUpFromInsideNotification();
    void framingAndWriting();
    void farEndVanishes();
    void closingEndsItsOwnApplication();
    void destroyedWhileReading();
};

void TestModemConnection::callStates_data()
{
    QTest::addColumn<QList<LineEvent>>("events");
    QTest::addColumn<std::int32_t>("answerResult");
    QTest::addColumn<bool>("withPort");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("lineCalls"); // calls after dialling, in order

    const LineEvent connected { LINE_CALLSTATE, LINECALLSTATE_CONNECTED };
    const LineEvent busy { LINE_CALLSTATE, LINECALLSTATE_BUSY };
    const LineEvent disconnected { LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED };

    QTest::newRow("busy: one failure, no redial, no hang-up")
        << QList<LineEvent> { busy } << 0 << true << QStringList { "failed 1 64" }
        << QStringList {};
    QTest::newRow("disconnected before connecting")
        << QList<LineEvent> { disconnected } << 0 << true << QStringList { "failed 1 64" }
        << QStringList {};
    QTest::newRow("connected") << QList<LineEvent> { connected } << 0 << true
                               << QStringList { "connected 1" }
                               << QStringList { "lineGetID 102 4 comm/datamodem" };
    QTest::newRow("far end hangs up before the exchange")
        << QList<LineEvent> { connected, disconnected } << 0 << true
        << QStringList { "connected 1", "failed 1 0" }
        << QStringList { "lineGetID 102 4 comm/datamodem", "lineDrop 102",
               "lineDeallocateCall 102" };
    QTest::newRow("no data handle")
        << QList<LineEvent> { connected } << 0 << false << QStringList { "failed 1 64" }
        << QStringList { "lineGetID 102 4 comm/datamodem" };
    QTest::newRow("offered call answered, then ended")
        << QList<LineEvent> { { LINE_CALLSTATE, LINECALLSTATE_OFFERING, 77 }, disconnected } << 0
        << true << QStringList { "failed 1 0" }
        << QStringList { "lineAnswer 77", "lineDrop 77", "lineDeallocateCall 77" };
    QTest::newRow("ringing answered")
        << QList<LineEvent> { { LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 78 } } << 0 << true
        << QStringList {} << QStringList { "lineAnswer 78" };
    QTest::newRow("refused answer leaves the call alone")
        << QList<LineEvent> { { LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 78 }, disconnected }
        << LINEERR_INVALCALLHANDLE << true << QStringList { "failed 1 64" }
        << QStringList { "lineAnswer 78" };
    QTest::newRow("other line states ignored")
        << QList<LineEvent> { { LINE_LINEDEVSTATE, 0x4, 0 }, { LINE_CALLSTATE, 0x20, 0 } } << 0
        << true << QStringList {} << QStringList {};
}

void TestModemConnection::callStates()
{
    QFETCH(QList<LineEvent>, events);
    QFETCH(std::int32_t, answerResult);
    QFETCH(bool, withPort);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, lineCalls);

    ConnectionFixture fixture;
    fixture.telephony.answerResult = answerResult;
    if (!withPort)
        fixture.telephony.makePort = nullptr;
    CModemConnection connection;
    fixture.OpenAndDial(connection);
    QCOMPARE(fixture.telephony.lastCall, CallHandle(102));
    const int dialled = fixture.telephony.calls.size();
    for (const LineEvent& event : events)
        fixture.telephony.emitEvent(
            event.handle ? event.handle : fixture.telephony.lastCall, event.message, event.param1);

    QTRY_COMPARE_WITH_TIMEOUT(fixture.owner.events, expected, 5000);
    Settle();
    QCOMPARE(fixture.owner.events, expected);
    QCOMPARE(fixture.telephony.calls.mid(dialled), lineCalls);
    QCOMPARE(fixture.telephony.count("lineMakeCall"), 1);
}

void TestModemConnection::disconnectedDuringExchange()
{
    ConnectionFixture fixture;
    CModemConnection connection;
    fixture.OpenAndDial(connection);
    fixture.owner.onFailed = [&](std::intptr_t) {
        // The owner's close hangs up, as the sending window does.
        connection.HangUp();
        connection.CloseLine();
    };
    fixture.telephony.emitCallState(LINECALLSTATE_CONNECTED);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.owner.events, QStringList { "connected 1" }, 5000);
    connection.Exchange().SendWakeUp();
    fixture.telephony.emitCallState(LINECALLSTATE_DISCONNECTED);
    QTRY_COMPARE_WITH_TIMEOUT(
        fixture.owner.events, (QStringList { "connected 1", "failed 1 64" }), 5000);
    Settle();
    // One hang-up only, the owner's.
    QCOMPARE(fixture.telephony.count("lineDrop"), 1);
    QCOMPARE(fixture.telephony.count("lineClose"), 1);
    QCOMPARE(fixture.telephony.count("lineShutdown"), 1);
    QVERIFY(!connection.IsConnected());
}

void TestModemConnection::idleDeallocation_data()
{
    QTest::addColumn<QList<std::int32_t>>("results");
    QTest::addColumn<int>("attempts");
    QTest::newRow("released at once") << QList<std::int32_t> {} << 1;
    QTest::newRow("released at the third try")
        << QList<std::int32_t> { LINEERR_INVALCALLSTATE, LINEERR_INVALCALLSTATE } << 3;
    QTest::newRow("other error ends the tries")
        << QList<std::int32_t> { LINEERR_INVALCALLHANDLE } << 1;
    QTest::newRow("never released: bounded")
        << QList<std::int32_t>(50, LINEERR_INVALCALLSTATE) << 10;
}

void TestModemConnection::idleDeallocation()
{
    QFETCH(QList<std::int32_t>, results);
    QFETCH(int, attempts);
    ConnectionFixture fixture;
    fixture.telephony.deallocateResults = results;
    CModemConnection connection;
    fixture.OpenAndDial(connection);
    fixture.telephony.emitCallState(LINECALLSTATE_IDLE);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.telephony.count("lineDeallocateCall 102"), attempts, 5000);
    Settle();
    QCOMPARE(fixture.telephony.count("lineDeallocateCall"), attempts);
    QVERIFY(fixture.owner.events.isEmpty());
}

void TestModemConnection::negativeDeviceOpensNothing()
{
    ConnectionFixture fixture;
    CModemConnection connection;
    QCOMPARE(connection.OpenLine(fixture.modems, CModemList::kNoDevice, &fixture.owner), 0);
    QCOMPARE(connection.PlaceCall(QStringLiteral("5551234")), 0);
    QVERIFY(!connection.IsLineOpen());
    // Past the second attempt's time: still nothing dialled, nothing posted.
    QTest::qWait(CModemConnection::kRedialDelayMs + 300);
    QCOMPARE(fixture.telephony.count("lineOpen"), 0);
    QCOMPARE(fixture.telephony.count("lineMakeCall"), 0);
    QVERIFY(fixture.owner.events.isEmpty());
    connection.HangUp();
    connection.CloseLine();
    QCOMPARE(fixture.telephony.count("lineDrop"), 0);
}

void TestModemConnection::failedOpenClosesLine()
{
    ConnectionFixture fixture;
    fixture.telephony.openResult = LINEERR_RESOURCEUNAVAIL;
    CModemConnection connection;
    QCOMPARE(connection.OpenLine(fixture.modems, 1, &fixture.owner), LINEERR_RESOURCEUNAVAIL);
    QCOMPARE(fixture.telephony.count("lineClose"), 1);
    QVERIFY(!connection.IsLineOpen());
    // The negotiated version went to the list, and the line was asked for data calls
    // with owner privileges.
    QVERIFY(fixture.telephony.calls.contains(QStringLiteral("lineOpen 1 4 10")));
}

void TestModemConnection::secondAttemptAfterFailure()
{
    ConnectionFixture fixture;
    fixture.telephony.makeCallResults = { LINEERR_OPERATIONFAILED, LINEERR_OPERATIONFAILED };
    CModemConnection connection;
    connection.OpenLine(fixture.modems, 1, &fixture.owner);
    QCOMPARE(connection.PlaceCall(QStringLiteral("9,555 1234")), 0);
    // The second attempt does not happen inside PlaceCall: the caller's thread goes on.
    QCOMPARE(fixture.telephony.count("lineMakeCall"), 1);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.telephony.count("lineMakeCall"), 2, 5000);
    QTest::qWait(CModemConnection::kRedialDelayMs + 300);
    QCOMPARE(fixture.telephony.count("lineMakeCall"), 2);
    // The number went out exactly as given, as a data call.
    QCOMPARE(fixture.telephony.calls.filter("lineMakeCall"),
        QStringList(2, QStringLiteral("lineMakeCall 9,555 1234 10")));
    QVERIFY(fixture.owner.events.isEmpty());
}

void TestModemConnection::hangUpCancelsSecondAttempt()
{
    ConnectionFixture fixture;
    fixture.telephony.makeCallResults = { LINEERR_OPERATIONFAILED };
    CModemConnection connection;
    fixture.OpenAndDial(connection);
    connection.HangUp();
    connection.CloseLine();
    QTest::qWait(CModemConnection::kRedialDelayMs + 300);
    QCOMPARE(fixture.telephony.count("lineMakeCall"), 1);
}

void TestModemConnection::exchangeRunsOverTheReader()
{
    ConnectionFixture fixture;
    CModemConnection connection;
    fixture.OpenAndDial(connection);
    fixture.telephony.emitCallState(LINECALLSTATE_CONNECTED);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.owner.events, QStringList { "connected 1" }, 5000);
    QCOMPARE(connection.Exchange().State(), TapState::Connected);
    connection.Exchange().SetPagerId("123");
    connection.Exchange().SetMessageText("ABC");
    connection.Exchange().SendWakeUp();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.FarEndReceived(), QByteArray("\r"), 5000);
    // The prompt split over two reads still logs in.
    fixture.FarEndSend("I");
    QTest::qWait(100);
    fixture.FarEndSend("D=");
    QTRY_COMPARE_WITH_TIMEOUT(fixture.FarEndReceived(), "\r" + kLogin, 5000);
    fixture.FarEndSend(kAckGoAhead);
    QTRY_VERIFY_WITH_TIMEOUT(fixture.FarEndReceived().endsWith("\x03"
                                                               "17;\r"),
        5000);
    fixture.FarEndSend(kAck);
    QTRY_COMPARE_WITH_TIMEOUT(
        fixture.owner.events, (QStringList { "connected 1", "accepted" }), 5000);
    connection.HangUp();
    connection.CloseLine();
}

void TestModemConnection::zeroLeadingChunkDropped()
{
    ConnectionFixture fixture;
    CModemConnection connection;
    fixture.OpenAndDial(connection);
    fixture.telephony.emitCallState(LINECALLSTATE_CONNECTED);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.owner.events, QStringList { "connected 1" }, 5000);
    connection.Exchange().SendWakeUp();
    // "I" waits in the exchange for its line end. Were the zero-led chunk passed on,
    // its zero would hide the prompt from the search and no login would follow.
    fixture.FarEndSend("I");
    QTest::qWait(200);
    fixture.FarEndSend(QByteArray("\0xyz", 4));
    QTest::qWait(200);
    fixture.FarEndSend("D=");
    QTRY_COMPARE_WITH_TIMEOUT(fixture.FarEndReceived(), "\r" + kLogin, 5000);
}

void TestModemConnection::manyChunksWrapTheBuffers()
{
    ConnectionFixture fixture;
    CModemConnection connection;
    fixture.OpenAndDial(connection);
    fixture.telephony.emitCallState(LINECALLSTATE_CONNECTED);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.owner.events, QStringList { "connected 1" }, 5000);
    connection.Exchange().SendWakeUp();
    // More chunks than receive buffers, each read on its own, then the prompt: the
    // buffers are reused in turn and nothing left over spoils the later chunks.
    for (int i = 0; i < CModemConnection::kReceiveBuffers + 8; ++i) {
        fixture.FarEndSend(QByteArray(1 + i % 7, char('a' + i % 26)) + "\r");
        QTest::qWait(30);
    }
    fixture.FarEndSend(QByteArray(CModemConnection::kMaxRead + 500, 'z'));
    QTest::qWait(100);
    fixture.FarEndSend("\rID=");
    QTRY_COMPARE_WITH_TIMEOUT(fixture.FarEndReceived(), "\r" + kLogin, 5000);
}

void TestModemConnection::nothingReachesExchangeAfterHangUp()
{
    ConnectionFixture fixture;
    CModemConnection connection;
    fixture.OpenAndDial(connection);
    fixture.telephony.emitCallState(LINECALLSTATE_CONNECTED);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.owner.events, QStringList { "connected 1" }, 5000);
    connection.Exchange().SendWakeUp();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.FarEndReceived(), QByteArray("\r"), 5000);
    // The prompt is read and queued while the owner's thread is busy; the owner
    // then hangs up before the queue is served.
    fixture.FarEndSend("ID=");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    connection.HangUp();
    Settle();
    QCOMPARE(fixture.FarEndReceived(), QByteArray("\r"));
    connection.CloseLine();
}

void TestModemConnection::hangUpFromInsideNotification()
{
    ConnectionFixture fixture;
    auto connection = std::make_unique<CModemConnection>();
    fixture.owner.onAccepted = [&] {
        connection->Exchange().SendLogout();
        connection->HangUp();
        connection->CloseLine();
    };
    fixture.OpenAndDial(*connection);
    fixture.telephony.emitCallState(LINECALLSTATE_CONNECTED);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.owner.events, QStringList { "connected 1" }, 5000);
    connection->Exchange().SetPagerId("1");
    connection->Exchange().SetMessageText("X");
    connection->Exchange().SendWakeUp();
    fixture.FarEndSend("ID=");
    QTRY_VERIFY_WITH_TIMEOUT(fixture.FarEndReceived().endsWith(kLogin), 5000);
    fixture.FarEndSend(kAckGoAhead);
    QTRY_VERIFY_WITH_TIMEOUT(fixture.FarEndReceived().contains('\x03'), 5000);
    // The verdict makes the owner log out, hang up and close inside the notification.
    fixture.FarEndSend(kAck);
    QTRY_COMPARE_WITH_TIMEOUT(
        fixture.owner.events, (QStringList { "connected 1", "accepted" }), 5000);
    QVERIFY(fixture.FarEndReceived().endsWith("\x04\r"));
    QVERIFY(!connection->IsConnected());
    QCOMPARE(fixture.telephony.count("lineDrop 102"), 1);
    QCOMPARE(fixture.telephony.count("lineClose"), 1);
    QCOMPARE(fixture.telephony.count("lineShutdown"), 1);
    // Later bytes from the line reach nobody.
    fixture.FarEndSend(kAck);
    Settle();
    QCOMPARE(fixture.owner.events, (QStringList { "connected 1", "accepted" }));
    connection.reset();
}

void TestModemConnection::framingAndWriting()
{
    ConnectionFixture fixture;
    CModemConnection connection;
    fixture.OpenAndDial(connection);
    QVERIFY(!connection.SetPortFraming('E', 7, 1));
    fixture.telephony.emitCallState(LINECALLSTATE_CONNECTED);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.owner.events, QStringList { "connected 1" }, 5000);
    // A socket takes any framing and ignores it; a framing no port has is refused.
    QVERIFY(connection.SetPortFraming('N', 8, 1));
    QVERIFY(!connection.SetPortFraming('N', 9, 1));
    // Bytes after a zero byte are never sent.
    connection.WriteText(QByteArray("AB\0CD", 5));
    connection.WriteText(QByteArray());
    connection.WriteText("EF");
    QTRY_COMPARE_WITH_TIMEOUT(fixture.FarEndReceived(), QByteArray("ABEF"), 5000);
    connection.HangUp();
    connection.CloseLine();
    connection.WriteText("GH");
    Settle();
    QCOMPARE(fixture.FarEndReceived(), QByteArray("ABEF"));
}

void TestModemConnection::farEndVanishes()
{
    ConnectionFixture fixture;
    CModemConnection connection;
    fixture.OpenAndDial(connection);
    fixture.telephony.emitCallState(LINECALLSTATE_CONNECTED);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.owner.events, QStringList { "connected 1" }, 5000);
    connection.Exchange().SendWakeUp();
    fixture.CloseFarEnd();
    Settle();
    // Writing to the vanished line neither fails loudly nor blocks; closing works.
    connection.Exchange().SendWakeUp();
    connection.HangUp();
    connection.CloseLine();
    QCOMPARE(fixture.owner.events, QStringList { "connected 1" });
}

void TestModemConnection::closingEndsItsOwnApplication()
{
    ConnectionFixture fixture;
    CModemConnection connection;
    fixture.OpenAndDial(connection);
    const QString shutdown = QStringLiteral("lineShutdown %1").arg(fixture.modems.AppHandle());
    // The modem dialog opened meanwhile runs a discovery of its own.
    fixture.modems.Discover();
    connection.HangUp();
    connection.CloseLine();
    QCOMPARE(fixture.telephony.calls.filter("lineShutdown"), QStringList { shutdown });
}

void TestModemConnection::destroyedWhileReading()
{
    ConnectionFixture fixture;
    auto connection = std::make_unique<CModemConnection>();
    fixture.OpenAndDial(*connection);
    fixture.telephony.emitCallState(LINECALLSTATE_CONNECTED);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.owner.events, QStringList { "connected 1" }, 5000);
    connection->Exchange().SendWakeUp();
    // Chunks are read and queued while the owner's thread is busy; the connection
    // then goes without hanging up. The queued chunks and the reader must not touch
    // it afterwards (the sanitizer build would see it).
    std::atomic<bool> flooding { true };
    std::thread flood([&] {
        while (flooding.load()) {
            fixture.FarEndSend("ID=\r");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    connection.reset();
    flooding = false;
    flood.join();
    Settle();
    QCOMPARE(fixture.owner.events, QStringList { "connected 1" });
    QCOMPARE(fixture.telephony.count("lineDrop 102"), 1);
    QCOMPARE(fixture.telephony.count("lineClose"), 1);
}

QTEST_GUILESS_MAIN(TestModemConnection)
#include "TestModemConnection.moc"

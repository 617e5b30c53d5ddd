// The modem connection over a fake line interface (call states, a failed dial retried, a
// write that falls short, a flooding terminal, the line lost with a verdict unread, nothing
// passing after a hang-up); modem discovery and the Select Modem dialog on top of it; the
// check of a send's line over the machine's own line devices.
#include "FakeTelephony.h"
#include "PresetPrompt.h"
#include "TempSettings.h"
#include "modem/LineProbe.h"
#include "modem/ModemConnection.h"
#include "modem/ModemList.h"
#include "modem/SelectModemDlg.h"

#include <QComboBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>
#include <QThread>
#include <atomic>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

const QByteArray kLogin("\x1BPG1\r");

// Waits until done() holds without running events: the owner's thread is busy meanwhile,
// as a window's can be.
bool WaitBusy(const std::function<bool()>& done)
{
    for (QDeadlineTimer deadline(5000); !deadline.hasExpired(); QThread::msleep(1))
        if (done())
            return true;
    return false;
}

// Plays the sending window, writing down every message it gets. A modem list over a fake
// line interface with the devices given (by default one, stored); the far end of the data
// handle is a socket the test reads and writes.
struct Fixture final : IModemConnectionOwner
{
    explicit Fixture(const QStringList& devices = { "Bravo" }, const QString& stored = "Bravo")
        : modems([stored] { return stored; }, &telephony)
    {
        telephony.devices = devices;
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
    ~Fixture() override { close(farEnd); }

    void OnLineConnected(std::uintptr_t) override { events << "connected"; }
    void OnLineFailed(std::uintptr_t, std::intptr_t l) override
    {
        events << QString("failed %1").arg(l);
    }
    void OnTapAccepted() override { events << "accepted"; }
    void OnTapRefused() override { events << "refused"; }

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
        const bool connected = Heard({ "connected" });
        connection->Exchange().SendWakeUp();
        return connected;
    }
    // Everything the far end has received since the start: peeked at, never taken.
    QByteArray Received() const
    {
        QByteArray bytes(4096, '\0');
        const ssize_t count = recv(farEnd, bytes.data(), size_t(bytes.size()), MSG_PEEK);
        return bytes.left(std::max<ssize_t>(count, 0));
    }
    // The program may have closed its end already; that must not end the test.
    void Send(const QByteArray& bytes)
    {
        send(farEnd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
    }
    // Bytes on the line that the connection's reader has not taken yet.
    int Unread() const
    {
        int unread = -1;
        return ioctl(programEnd, FIONREAD, &unread) == 0 ? unread : -1;
    }
    // Sends the bytes and waits until the reader has taken them, so that they reach the
    // exchange as one chunk of their own, however loaded the machine.
    bool SendChunk(const QByteArray& bytes)
    {
        Send(bytes);
        return WaitBusy([this] { return Unread() == 0; });
    }
    // The owner heard exactly this, and nothing more once every event queued so far (and
    // those they queue in turn) has run: known without waiting on the clock.
    bool Heard(const QStringList& expected)
    {
        const bool arrived = QTest::qWaitFor([&] { return events == expected; }, 5000);
        for (int round = 0; round < 5; ++round)
            QCoreApplication::sendPostedEvents();
        return arrived && events == expected;
    }
    // A terminal floods the line from a thread of its own while `during` runs, pausing
    // paceMs after each write, or only while the line is full.
    void Flood(const QByteArray& noise, int paceMs, const std::function<void()>& during)
    {
        std::atomic<bool> flooding { true };
        std::thread flood([&] {
            for (pollfd room { farEnd, POLLOUT, 0 }; flooding; QThread::msleep(paceMs))
                if (send(farEnd, noise.constData(), size_t(noise.size()), MSG_NOSIGNAL) < 0)
                    poll(&room, 1, 10);
        });
        during();
        flooding = false;
        flood.join();
    }

    PresetPrompt prompt;
    FakeTelephony telephony;
    CModemList modems;
    QStringList events;
    int farEnd = -1;
    int programEnd = -1; // the data handle's descriptor while the call is connected
    std::unique_ptr<CModemConnection> connection = std::make_unique<CModemConnection>();
};

// Whether a call is offered (rings, as call 78) before the placed call's states, and how
// the fake line interface answers: lineAnswer, and lineDeallocateCall in order.
struct LineSetup
{
    bool offered = false;
    std::int32_t answerResult = 0;
    bool withPort = true; // whether the connected call has a data handle
    QList<std::int32_t> deallocateResults {};
};

void Row(const char* name, const QList<std::uint32_t>& states, const QStringList& heard,
    const QStringList& lineCalls, const LineSetup& setup = {})
{
    QTest::newRow(name) << states << setup << heard << lineCalls;
}

} // namespace

Q_DECLARE_METATYPE(LineSetup)

class TestModemConnection : public QObject
{
    Q_OBJECT

private slots:
    // A call that connects is in every send test against the simulator, one lost while
    // dialling in its NO ANSWER row, a busy one in its busy row, and one this side could not
    // place in its rows of a missing device and a refused init command; a modem's other
    // verdicts are dialled in test_line_telephony.
    void callStates_data()
    {
        QTest::addColumn<QList<std::uint32_t>>("states"); // of the call placed
        QTest::addColumn<LineSetup>("setup");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("lineCalls"); // calls after dialling, in order
        const std::uint32_t connected = LINECALLSTATE_CONNECTED, idle = LINECALLSTATE_IDLE;
        const std::uint32_t disconnected = LINECALLSTATE_DISCONNECTED;
        const QString getId = QStringLiteral("lineGetID 102 4 comm/datamodem");
        Row("far end hangs up before the exchange: hung up at once", { connected, disconnected },
            { "connected", "failed 0" }, { getId, "lineDrop 102", "lineDeallocateCall 102" });
        Row("no data handle", { connected }, { "failed 64" }, { getId }, { .withPort = false });
        Row("offered call answered, then ended", { disconnected }, { "failed 0" },
            { "lineAnswer 78", "lineDrop 78", "lineDeallocateCall 78" }, { .offered = true });
        Row("refused answer leaves the call alone", { disconnected }, { "failed 64" },
            { "lineAnswer 78" }, { .offered = true, .answerResult = LINEERR_INVALCALLHANDLE });
        Row("idle: another error is not repeated", { idle }, {}, { "lineDeallocateCall 102" },
            { .deallocateResults = { LINEERR_OPERATIONFAILED, LINEERR_INVALCALLSTATE } });
        Row("idle: wrong call state for ever, given up", { idle }, {},
            QStringList(10, "lineDeallocateCall 102"),
            { .deallocateResults = QList<std::int32_t>(1000, LINEERR_INVALCALLSTATE) });
    }

    void callStates()
    {
        QFETCH(QList<std::uint32_t>, states);
        QFETCH(LineSetup, setup);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, lineCalls);
        Fixture fixture;
        fixture.telephony.answerResult = setup.answerResult;
        fixture.telephony.deallocateResults = setup.deallocateResults;
        if (!setup.withPort)
            fixture.telephony.makePort = nullptr;
        fixture.Dial();
        const qsizetype dialled = fixture.telephony.calls.size();
        if (setup.offered)
            fixture.telephony.emitEvent(78, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING);
        for (const std::uint32_t state : states)
            fixture.telephony.emitCallState(state);
        QVERIFY(fixture.Heard(expected));
        QTRY_COMPARE_WITH_TIMEOUT(fixture.telephony.calls.mid(dialled), lineCalls, 5000);
        // Once deallocated, the handle is forgotten: a hang-up neither drops nor deallocates it.
        if (lineCalls.value(lineCalls.size() - 1).startsWith("lineDeallocateCall")) {
            fixture.connection->HangUp();
            QCOMPARE(fixture.telephony.calls.mid(dialled), lineCalls);
        }
    }

    void nothingPassesAfterHangUp()
    {
        Fixture fixture;
        QVERIFY(fixture.Connect());
        // The prompt is read and queued while the owner's thread is busy; the owner
        // then hangs up before the queue is served.
        QVERIFY(fixture.SendChunk("ID="));
        fixture.connection->HangUp();
        QVERIFY(fixture.Heard({ "connected" }));
        // The modem dialog opened meanwhile runs a discovery of its own; the close still
        // ends the application the line was opened under.
        const QString shutdown = QStringLiteral("lineShutdown %1").arg(fixture.modems.AppHandle());
        fixture.modems.Discover();
        fixture.connection->CloseLine();
        QCOMPARE(fixture.telephony.calls.filter("lineShutdown"), QStringList { shutdown });
        fixture.connection->WriteText("GH");
        QVERIFY(!fixture.connection->SetPortFraming('N', 8, 1));
        QCOMPARE(fixture.Received(), QByteArray("\r")); // the wake-up alone
    }

    // A write that falls short leaves the terminal waiting for the rest of a block, which
    // nothing may follow: the owner hears that the line failed, once, and nothing more is
    // written. The peer is gone: a SIGPIPE raised would end the test program.
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
        QVERIFY(fixture.Heard({ "connected", "failed 64" }));
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
        // The wake-up and the log-on answered, up to the first block on the line.
        fixture.Send("ID=");
        QTRY_VERIFY_WITH_TIMEOUT(fixture.Received().endsWith(kLogin), 5000);
        fixture.Send("\x06\r\x1B[p\r");
        QTRY_VERIFY_WITH_TIMEOUT(fixture.Received().contains('\x03'), 5000);
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
        QVERIFY(fixture.Heard({ "connected", "accepted", "failed 64" }));
    }

    // A terminal floods the line while the owner's thread is busy (a blocking write, a
    // database wait): what waits for that thread stays within its bound, the rest waits on
    // the line, and once the thread runs again the conversation goes on. A hang-up against
    // a peer that writes faster than it reads discards a bounded amount and returns.
    void floodWhileTheOwnerIsBusy()
    {
        Fixture fixture;
        QVERIFY(fixture.Connect());
        std::int64_t most = 0;
        fixture.Flood(QByteArray(4096, 'x'), 0, [&] {
            for (QDeadlineTimer busy(2000); !busy.hasExpired(); QThread::msleep(1))
                most = std::max(most, fixture.connection->QueuedBytes());
        });
        // The reader taking its full share is shown where the verdict waits behind a full queue.
        QCOMPARE_LE(most, CModemConnection::kMostQueuedBytes);
        QTRY_VERIFY_WITH_TIMEOUT(
            fixture.connection->QueuedBytes() == 0 && fixture.Unread() == 0, 5000);
        fixture.Send("ID=");
        QTRY_VERIFY_WITH_TIMEOUT(fixture.Received().endsWith(kLogin), 5000);
        fixture.connection->SetHangUpPause(0);
        const int purged = int(CCommPort::kMostPurgedBytes); // at most, by a hang-up
        bool filled = false;
        fixture.Flood(QByteArray(16384, 'x'), 0, [&] {
            filled = WaitBusy([&] { return fixture.Unread() > 2 * purged; });
            fixture.connection->HangUp();
        });
        QVERIFY(filled);
        QCOMPARE_GT(fixture.Unread(), purged);
    }

    // Chunks are read and queued while the owner's thread is busy; the connection then
    // goes without hanging up. Neither the queued chunks nor the reader may touch it
    // afterwards (the sanitizer build would see it).
    void destroyedWhileReading()
    {
        Fixture fixture;
        QVERIFY(fixture.Connect());
        fixture.Flood("ID=\r", 5, [&] {
            QThread::msleep(300);
            fixture.connection.reset();
        });
        QVERIFY(fixture.Heard({ "connected" }));
        QCOMPARE(fixture.telephony.count("lineDrop 102"), 1);
        QCOMPARE(fixture.telephony.count("lineClose"), 1);
    }

    void failedDialRetriedOnce_data()
    {
        QTest::addColumn<QList<std::int32_t>>("results"); // of lineMakeCall, in order
        QTest::addColumn<QString>("cancel"); // what the owner does right after dialling
        QTest::addColumn<int>("attempts");
        QTest::addColumn<QString>("heard"); // once the call placed has connected
        const std::int32_t failed = LINEERR_OPERATIONFAILED;
        QTest::newRow("second attempt connects") << QList { failed } << "" << 2 << "connected";
        QTest::newRow("second attempt fails too: no third, the owner told")
            << QList { failed, failed } << "" << 2 << "failed 1";
        QTest::newRow("hang-up cancels the retry") << QList { failed } << "hang up" << 1 << "";
        QTest::newRow("closing cancels the retry") << QList { failed } << "close" << 1 << "";
    }

    void failedDialRetriedOnce()
    {
        QFETCH(QList<std::int32_t>, results);
        QFETCH(QString, cancel);
        QFETCH(int, attempts);
        QFETCH(QString, heard);
        Fixture fixture;
        fixture.telephony.makeCallResults = results;
        const QString fault("The line device \"Bravo\" cannot place a call: the operation failed");
        if (results.size() == 2)
            QTest::ignoreMessage(QtWarningMsg, qPrintable(fault + " (0x80000048)"));
        // The pause before the second attempt does not hold up the caller: the cancels come
        // before it.
        fixture.Dial();
        if (cancel == "hang up")
            fixture.connection->HangUp();
        else if (cancel == "close")
            fixture.connection->CloseLine();
        QTRY_COMPARE_WITH_TIMEOUT(fixture.telephony.count("lineMakeCall"), attempts, 5000);
        // Past the time the second attempt is due, and again as long: nothing more is dialled.
        QTest::qWait(2 * CModemConnection::kRedialDelayMs);
        QCOMPARE(fixture.telephony.count("lineMakeCall"), attempts);
        if (heard == "connected")
            fixture.telephony.emitCallState(LINECALLSTATE_CONNECTED);
        QVERIFY(fixture.Heard(heard.isEmpty() ? QStringList() : QStringList { heard }));
        QCOMPARE(fixture.connection->LocalFault(), results.size() == 2 ? fault : QString());
    }

    void discovery_data()
    {
        // The devices ("?": details cannot be read), the names listed for them, the stored
        // name, the device discovery selects (and the dialog preselects; -2: none) and the
        // dialog entry chosen before OK (-1 to leave it). Cancel is driven through the menus
        // in the main frame's tests, and so is a stored name found nowhere.
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("pick");
        QStringList thirtyOne;
        for (int i = 0; i < 31; ++i)
            thirtyOne << QStringLiteral("Modem %1").arg(i);
        const QStringList thirty = thirtyOne.mid(0, 30);
        const QStringList twins { "Twin", "Other", "Twin", "twin" };
        const QString longName(120, 'm');
        // A cut through the first of two four-byte characters must not leave half of it.
        const QString pagers = QString(98, 's') + QString::fromUcs4(U"\U0001F4DF\U0001F4DF");
        QTest::newRow("unreadable device: its placeholder never matches, yet it can be picked")
            << QStringList { "Alpha", "?" } << QStringList { "Alpha", "Unknown 1" } << "Unknown 1"
            << -2 << 1;
        QTest::newRow("two devices carry the name, a third in other case: the last wins")
            << twins << twins << "Twin" << 2 << -1;
        QTest::newRow("30 devices") << thirty << thirty << "Modem 29" << 29 << -1;
        QTest::newRow("31 devices: last left out") << thirtyOne << thirty << "Modem 30" << -2 << -1;
        QTest::newRow("names cut to 99 characters")
            << QStringList { longName, pagers, QString(99, 'x') }
            << QStringList { longName.left(99), QString(98, 's'), QString(99, 'x') }
            << longName.left(99) << 0 << -1;
    }

    // The dialog discovers the modems as it opens, lists them and preselects the stored one;
    // OK keeps the entry chosen. Past 30 devices the rest are left out, with a word.
    void discovery()
    {
        QFETCH(QStringList, devices);
        QFETCH(QStringList, names);
        QFETCH(QString, stored);
        QFETCH(int, selected);
        QFETCH(int, pick);
        Fixture fixture({}, stored);
        fixture.telephony.devices = devices; // listed once the dialog discovers them
        CSelectModemDlg dialog(fixture.modems);
        dialog.show();
        auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("modemCombo"));
        QStringList shown;
        for (int i = 0; i < combo->count(); ++i)
            shown << (combo->itemData(i).toInt() == i ? combo->itemText(i) : QString());
        QCOMPARE(shown, names);
        QCOMPARE(combo->currentIndex(), std::max(selected, -1));
        if (pick >= 0)
            combo->setCurrentIndex(pick);
        combo->lineEdit()->setText(QStringLiteral("typed")); // text typed in plays no part
        QTest::mouseClick(dialog.findChild<QPushButton*>("okButton"), Qt::LeftButton);
        QCOMPARE(dialog.m_nSelectedDevice, pick >= 0 ? pick : selected);
        QCOMPARE(
            fixture.prompt.shown.contains("There are too many modems on the system, the number "
                                          "available will be restricted"),
            devices.size() > 30);
    }

    void sendLineFault_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("type"); // of the one line configured, "Office modem"
        QTest::addColumn<QString>("device"); // "pty": a pseudo-terminal; "folder": a folder
        QTest::addColumn<QString>("answer"); // "%1": the device; empty: the line can be used
        const auto row = [](const char* name, const char* stored, const char* type,
                             const char* device, const char* answer) {
            QTest::newRow(name) << QString(stored) << QString(type) << QString(device)
                                << QString(answer);
        };
        // Names that match no line, and devices not there, are met by sends.
        row("no modem chosen", "", "hayes", "/dev/null", "No modem is chosen");
        row("modem on a terminal, its settings kept", "Office modem", "hayes", "pty", "");
        row("direct link on a folder", "Office modem", "direct", "folder",
            "The line device \"Office modem\" cannot be opened: %1: Is a directory");
    }

    // What a dispatcher learns of the stored modem's line: whether it is there and can be
    // opened now. It tells the operator nothing itself.
    void sendLineFault()
    {
        QFETCH(QString, stored);
        QFETCH(QString, type);
        QFETCH(QString, device);
        QFETCH(QString, answer);
        TempSettings settingsFolder;
        PresetPrompt prompt;
        int master = -1, slave = -1;
        char terminal[256] = {};
        QVERIFY(openpty(&master, &slave, terminal, nullptr, nullptr) == 0);
        const auto closeTerminal = qScopeGuard([&] { close(master), close(slave); });
        termios before = {}, after = {};
        QVERIFY(tcgetattr(slave, &before) == 0);
        if (device == "pty" || device == "folder")
            device = device == "pty" ? QString::fromLocal8Bit(terminal) : settingsFolder.folder();
        QSettings settings("Northmoor", "Quillpost");
        settings.setValue("Lines/size", 1);
        settings.setValue("Lines/1/name", "Office modem");
        settings.setValue("Lines/1/type", type);
        settings.setValue("Lines/1/device", device);
        CModemList modems([stored] { return stored; });
        QCOMPARE(SendLineFault(modems).value_or(QString()), answer.replace("%1", device));
        QCOMPARE(prompt.shown, QStringList());
        QVERIFY(tcgetattr(slave, &after) == 0);
        QCOMPARE(memcmp(&before, &after, sizeof before), 0);
    }
};

QTEST_MAIN(TestModemConnection)
#include "test_modem_connection.moc"

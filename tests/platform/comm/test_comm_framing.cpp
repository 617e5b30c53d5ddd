#include "platform/comm/CommPort.h"

#include <QScopeGuard>
#include <QTest>
#include <csignal>
#include <netinet/in.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A connected pair of TCP sockets over the loopback interface.
bool tcpPair(int pair[2])
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    pair[0] = socket(AF_INET, SOCK_STREAM, 0);
    const bool connected = bind(listener, generic, length) == 0 && listen(listener, 1) == 0
        && getsockname(listener, generic, &length) == 0 && connect(pair[0], generic, length) == 0
        && (pair[1] = accept(listener, nullptr, nullptr)) >= 0;
    close(listener);
    return connected;
}

} // namespace

class TestCommFraming : public QObject
{
    Q_OBJECT

private slots:
    void everyCombination_data()
    {
        QTest::addColumn<QByteArray>("mode"); // as a provider's settings make it
        QTest::addColumn<uint>("flags"); // the parity, size and stop bits the port is to get
        const std::pair<char, tcflag_t> parities[] = { { 'N', 0 }, { 'E', PARENB },
            { 'O', PARENB | PARODD }, { 'M', PARENB | PARODD | CMSPAR }, { 'S', PARENB | CMSPAR } };
        const tcflag_t sizes[] = { CS5, CS6, CS7, CS8 };
        for (const auto& [letter, parity] : parities)
            for (int data = 5; data <= 8; ++data)
                for (int stop = 1; stop <= 2; ++stop)
                    QTest::newRow(FormatCommMode(letter, data, stop).constData())
                        << FormatCommMode(letter, data, stop)
                        << uint(parity | sizes[data - 5] | (stop == 2 ? CSTOPB : 0));
    }

    void everyCombination()
    {
        QFETCH(QByteArray, mode);
        QFETCH(uint, flags);
        const std::optional<CommFraming> framing = ParseCommMode(mode);
        QVERIFY(framing);
        // A port at 1200 baud with odd parity, two stop bits and hardware flow control gets
        // the framing asked for and no flow control; the speed and everything else stay.
        termios settings = {};
        cfmakeraw(&settings);
        settings.c_cflag |= CREAD | CLOCAL | CRTSCTS | PARENB | PARODD | CSTOPB;
        cfsetspeed(&settings, B1200);
        termios expected = settings;
        expected.c_cflag &= ~(PARENB | PARODD | CMSPAR | CSIZE | CSTOPB | CRTSCTS);
        expected.c_cflag |= flags;
        QVERIFY(ApplyFraming(settings, *framing));
        const auto fields = [](const termios& t) {
            return std::tuple(
                t.c_cflag, t.c_iflag, t.c_oflag, t.c_lflag, cfgetispeed(&t), cfgetospeed(&t));
        };
        QCOMPARE(fields(settings), fields(expected));
    }

    // The text a provider's settings make, and texts no port can take.
    void modeTexts()
    {
        QCOMPARE(FormatCommMode('E', 7, 1), QByteArray("parity=E data=7 stop=1"));
        QCOMPARE(FormatCommMode('S', 5, 2), QByteArray("parity=S data=5 stop=2"));
        const QByteArrayList refused { "parity=X data=8 stop=1", FormatCommMode('\0', 8, 1),
            "parity=N data=4 stop=1", "parity=N data=9 stop=1", "parity=N data=8 stop=3",
            "parity=N data=8 stop=1.5", "parity=N baud=9600", "parity= data=8 stop=1" };
        for (const QByteArray& mode : refused)
            QVERIFY2(!ParseCommMode(mode), mode.constData());
    }

    void appliedToTerminal()
    {
        int master = -1;
        int slave = -1;
        termios start = {};
        cfmakeraw(&start);
        start.c_cflag |= CRTSCTS;
        cfsetspeed(&start, B2400);
        QVERIFY(openpty(&master, &slave, nullptr, &start, nullptr) == 0);
        const auto closeMaster = qScopeGuard([master] { close(master); });
        QVERIFY(tcgetattr(slave, &start) == 0);
        CCommPort port(slave);
        QVERIFY(port.IsTerminal());

        // A refused framing leaves the terminal as it was.
        QVERIFY(!port.SetMode(FormatCommMode('Q', 8, 1)));
        QVERIFY(!port.AppliedSettings());
        termios now = {};
        QVERIFY(tcgetattr(port.Handle(), &now) == 0);
        QCOMPARE(now.c_cflag, start.c_cflag);

        // A pseudo-terminal carries neither parity nor 7-bit characters (it ignores or
        // refuses them, by kernel), so 8 bits with 2 stop bits is what it can show;
        // every other combination is checked on the computed settings.
        QVERIFY(port.SetMode("parity=N data=8 stop=2"));
        const std::optional<termios> applied = port.AppliedSettings();
        QVERIFY(applied);
        QCOMPARE(applied->c_cflag & (PARENB | PARODD | CMSPAR | CSIZE | CSTOPB | CRTSCTS),
            tcflag_t(CS8 | CSTOPB));
        QVERIFY(tcgetattr(port.Handle(), &now) == 0);
        QCOMPARE(std::pair(now.c_cflag & (CSTOPB | CRTSCTS), cfgetospeed(&now)),
            std::pair(tcflag_t(CSTOPB), speed_t(B2400)));
    }

    void writeAfterPeerGone_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("local socket pair") << false;
        QTest::newRow("TCP over loopback") << true;
    }

    // The far end of the call's socket goes away: writing reports the shortfall, and no
    // SIGPIPE is raised. The signal is held back on this thread meanwhile, so that one
    // raised shows as pending instead of ending the test program.
    void writeAfterPeerGone()
    {
        QFETCH(bool, tcp);
        int pair[2] = { -1, -1 };
        QVERIFY(tcp ? tcpPair(pair) : socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0);
        CCommPort port(pair[0]);
        close(pair[1]);
        sigset_t pipeSignal, previous, pending;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        QVERIFY(pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous) == 0);
        // TCP learns that the peer has gone only from the answer to a first write.
        const QByteArray block(4096, 'x');
        int written = int(block.size());
        for (int attempt = 0; attempt < 50 && written == block.size(); ++attempt)
            written = port.Write(block.constData(), int(block.size()), 200);
        sigpending(&pending);
        const bool raised = sigismember(&pending, SIGPIPE) == 1;
        if (int taken = 0; raised)
            sigwait(&pipeSignal, &taken); // taken here, it cannot end the program when let through
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        QVERIFY(!raised);
        QVERIFY(written < block.size());
    }
};

QTEST_GUILESS_MAIN(TestCommFraming)
#include "test_comm_framing.moc"

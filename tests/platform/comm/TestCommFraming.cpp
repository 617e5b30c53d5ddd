#include "platform/comm/CommPort.h"

#include <QTest>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A pseudo-terminal pair; the slave end is the port under test.
struct PtyPair
{
    int master = -1;
    int slave = -1;
    PtyPair()
    {
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
            termios raw = {};
            tcgetattr(master, &raw);
            cfmakeraw(&raw);
            tcsetattr(master, TCSANOW, &raw);
            tcsetattr(slave, TCSANOW, &raw);
            fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
        }
    }
    ~PtyPair()
    {
        if (master >= 0)
            close(master);
        if (slave >= 0)
            close(slave);
    }
    int takeSlave()
    {
        const int fd = slave;
        slave = -1;
        return fd;
    }
};

termios StartingSettings()
{
    termios settings = {};
    cfmakeraw(&settings);
    settings.c_cflag |= CREAD | CLOCAL | CRTSCTS | PARENB | PARODD | CSTOPB;
    cfsetispeed(&settings, B1200);
    cfsetospeed(&settings, B1200);
    return settings;
}

} // namespace

class TestCommFraming : public QObject
{
    Q_OBJECT

private slots:
    void everyCombination_data();
    void everyCombination();
    void unusableModes_data();
    void unusableModes();
    void appliedToTerminal();
    void refusedModeLeavesTerminalAlone();
    void socketFramingDoesNothing();
    void readWaitsBriefly();
    void readReportsEndOfStream();
    void purgeDiscardsPending();
};

void TestCommFraming::everyCombination_data()
{
    QTest::addColumn<char>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<uint>("parityFlags");
    QTest::addColumn<uint>("sizeFlag");

    const struct
    {
        char letter;
        tcflag_t flags;
    } parities[] = {
        { 'N', 0 },
        { 'E', PARENB },
        { 'O', PARENB | PARODD },
        { 'M', PARENB | PARODD | CMSPAR },
        { 'S', PARENB | CMSPAR },
    };
    const tcflag_t sizes[] = { CS5, CS6, CS7, CS8 };
    for (const auto& parity : parities) {
        for (int data = 5; data <= 8; ++data) {
            for (int stop = 1; stop <= 2; ++stop) {
                const QByteArray name = FormatCommMode(parity.letter, data, stop);
                QTest::newRow(name.constData())
                    << parity.letter << data << stop << uint(parity.flags) << uint(sizes[data - 5]);
            }
        }
    }
}

void TestCommFraming::everyCombination()
{
    QFETCH(char, parity);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(uint, parityFlags);
    QFETCH(uint, sizeFlag);

    const QByteArray mode = FormatCommMode(parity, dataBits, stopBits);
    QCOMPARE(mode,
        QByteArray("parity=") + parity + " data=" + QByteArray::number(dataBits)
            + " stop=" + QByteArray::number(stopBits));
    const std::optional<CommFraming> framing = ParseCommMode(mode);
    QVERIFY(framing);

    termios settings = StartingSettings();
    const termios before = settings;
    QVERIFY(ApplyFraming(settings, *framing));
    QCOMPARE(uint(settings.c_cflag & (PARENB | PARODD | CMSPAR)), parityFlags);
    QCOMPARE(uint(settings.c_cflag & CSIZE), sizeFlag);
    QCOMPARE(bool(settings.c_cflag & CSTOPB), stopBits == 2);
    QCOMPARE(uint(settings.c_cflag & CRTSCTS), 0u);
    // The speed and everything else stay as they were.
    QCOMPARE(cfgetospeed(&settings), cfgetospeed(&before));
    QCOMPARE(cfgetispeed(&settings), cfgetispeed(&before));
    QCOMPARE(settings.c_cflag & (CREAD | CLOCAL), before.c_cflag & (CREAD | CLOCAL));
    QCOMPARE(settings.c_iflag, before.c_iflag);
    QCOMPARE(settings.c_lflag, before.c_lflag);
    QCOMPARE(settings.c_oflag, before.c_oflag);
}

void TestCommFraming::unusableModes_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::newRow("unknown parity letter") << QByteArray("parity=X data=8 stop=1");
    QTest::newRow("parity letter zero") << FormatCommMode('\0', 8, 1);
    QTest::newRow("four data bits") << QByteArray("parity=N data=4 stop=1");
    QTest::newRow("nine data bits") << QByteArray("parity=N data=9 stop=1");
    QTest::newRow("three stop bits") << QByteArray("parity=N data=8 stop=3");
    QTest::newRow("no stop bits") << QByteArray("parity=N data=8 stop=0");
    QTest::newRow("one and a half stop bits") << QByteArray("parity=N data=8 stop=1.5");
    QTest::newRow("negative data bits") << QByteArray("parity=N data=-7 stop=1");
    QTest::newRow("unknown key") << QByteArray("parity=N baud=9600");
    QTest::newRow("missing value") << QByteArray("parity= data=8 stop=1");
    QTest::newRow("no key") << QByteArray("=N");
}

void TestCommFraming::unusableModes()
{
    QFETCH(QByteArray, mode);
    QVERIFY(!ParseCommMode(mode));
}

void TestCommFraming::appliedToTerminal()
{
    PtyPair pty;
    QVERIFY(pty.slave >= 0);
    termios start = {};
    QVERIFY(tcgetattr(pty.slave, &start) == 0);
    cfmakeraw(&start);
    start.c_cflag |= CRTSCTS;
    cfsetispeed(&start, B2400);
    cfsetospeed(&start, B2400);
    QVERIFY(tcsetattr(pty.slave, TCSANOW, &start) == 0);

    CCommPort port(pty.takeSlave());
    QVERIFY(port.IsTerminal());
    // A pseudo-terminal carries neither parity nor 7-bit characters (it ignores or
    // refuses them, by kernel), so the framing written to it is 8 bits with 2 stop
    // bits; every other combination is checked on the computed settings above.
    QVERIFY(port.SetMode("parity=N data=8 stop=2"));
    const std::optional<termios> applied = port.AppliedSettings();
    QVERIFY(applied);
    QCOMPARE(uint(applied->c_cflag & (PARENB | PARODD | CMSPAR)), 0u);
    QCOMPARE(uint(applied->c_cflag & CSIZE), uint(CS8));
    QVERIFY(applied->c_cflag & CSTOPB);
    QCOMPARE(uint(applied->c_cflag & CRTSCTS), 0u);
    // Read back: two stop bits, the speed kept, no hardware flow control.
    termios now = {};
    QVERIFY(tcgetattr(port.Handle(), &now) == 0);
    QVERIFY(now.c_cflag & CSTOPB);
    QCOMPARE(cfgetospeed(&now), speed_t(B2400));
    QCOMPARE(uint(now.c_cflag & CRTSCTS), 0u);
}

void TestCommFraming::refusedModeLeavesTerminalAlone()
{
    PtyPair pty;
    QVERIFY(pty.slave >= 0);
    CCommPort port(pty.takeSlave());
    termios before = {};
    QVERIFY(tcgetattr(port.Handle(), &before) == 0);
    QVERIFY(!port.SetMode(FormatCommMode('Q', 8, 1)));
    QVERIFY(!port.AppliedSettings());
    termios after = {};
    QVERIFY(tcgetattr(port.Handle(), &after) == 0);
    QCOMPARE(after.c_cflag, before.c_cflag);
}

void TestCommFraming::socketFramingDoesNothing()
{
    int pair[2];
    QVERIFY(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair) == 0);
    CCommPort port(pair[0]);
    QVERIFY(!port.IsTerminal());
    QVERIFY(port.SetMode("parity=E data=7 stop=1"));
    QVERIFY(!port.AppliedSettings());
    QCOMPARE(port.Write("abc", 3), 3);
    char buffer[8] = {};
    QCOMPARE(read(pair[1], buffer, sizeof buffer), ssize_t(3));
    close(pair[1]);
}

void TestCommFraming::readWaitsBriefly()
{
    PtyPair pty;
    QVERIFY(pty.slave >= 0);
    CCommPort port(pty.takeSlave());
    char buffer[16];
    CCommPort::ReadResult result = port.Read(buffer, sizeof buffer, 20);
    QCOMPARE(result.status, CCommPort::ReadStatus::TimedOut);
    QCOMPARE(write(pty.master, "hello", 5), ssize_t(5));
    result = port.Read(buffer, 3, 5000);
    QCOMPARE(result.status, CCommPort::ReadStatus::Data);
    // No more than asked for; the rest waits for the next read.
    QCOMPARE(QByteArray(buffer, result.count), QByteArray("hel"));
    result = port.Read(buffer, sizeof buffer, 1000);
    QCOMPARE(QByteArray(buffer, result.count), QByteArray("lo"));
}

void TestCommFraming::readReportsEndOfStream()
{
    int pair[2];
    QVERIFY(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair) == 0);
    QList<int> observed;
    CCommPort port(pair[0], [&observed](const char*, int count) { observed << count; });
    QCOMPARE(write(pair[1], "xy", 2), ssize_t(2));
    close(pair[1]);
    char buffer[16];
    QCOMPARE(port.Read(buffer, sizeof buffer, 1000).status, CCommPort::ReadStatus::Data);
    QCOMPARE(port.Read(buffer, sizeof buffer, 1000).status, CCommPort::ReadStatus::Closed);
    QCOMPARE(port.Read(buffer, sizeof buffer, 1000).status, CCommPort::ReadStatus::Closed);
    // The end is told once; writing to the gone peer fails quietly, without a signal.
    QCOMPARE(observed, (QList<int> { 2, -1 }));
    QCOMPARE(port.Write("z", 1, 100), 0);
}

void TestCommFraming::purgeDiscardsPending()
{
    PtyPair pty;
    QVERIFY(pty.slave >= 0);
    CCommPort port(pty.takeSlave());
    QCOMPARE(write(pty.master, "stale", 5), ssize_t(5));
    char buffer[16];
    // Wait until the bytes have reached the port, then purge them.
    pollfd watch = { port.Handle(), POLLIN, 0 };
    QVERIFY(poll(&watch, 1, 5000) == 1);
    QVERIFY(port.Purge());
    QCOMPARE(port.Read(buffer, sizeof buffer, 20).status, CCommPort::ReadStatus::TimedOut);
    port.Close();
    QCOMPARE(port.Read(buffer, sizeof buffer, 20).status, CCommPort::ReadStatus::Closed);
}

QTEST_GUILESS_MAIN(TestCommFraming)
#include "TestCommFraming.moc"

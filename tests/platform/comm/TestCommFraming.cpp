#include "platform/comm/CommPort.h"

#include <QScopeGuard>
#include <QTest>
#include <pty.h>
#include <unistd.h>

class TestCommFraming : public QObject
{
    Q_OBJECT

private slots:
    void everyCombination_data();
    void everyCombination();
    void unusableModes();
    void appliedToTerminal();
};

void TestCommFraming::everyCombination_data()
{
    QTest::addColumn<char>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<uint>("parityFlags");

    const std::pair<char, tcflag_t> parities[] = { { 'N', 0 }, { 'E', PARENB },
        { 'O', PARENB | PARODD }, { 'M', PARENB | PARODD | CMSPAR }, { 'S', PARENB | CMSPAR } };
    for (const auto& [letter, flags] : parities)
        for (int data = 5; data <= 8; ++data)
            for (int stop = 1; stop <= 2; ++stop)
                QTest::newRow(FormatCommMode(letter, data, stop).constData())
                    << letter << data << stop << uint(flags);
}

void TestCommFraming::everyCombination()
{
    QFETCH(char, parity);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(uint, parityFlags);

    const QByteArray mode = FormatCommMode(parity, dataBits, stopBits);
    QCOMPARE(mode,
        QString::asprintf("parity=%c data=%d stop=%d", parity, dataBits, stopBits).toLatin1());
    const std::optional<CommFraming> framing = ParseCommMode(mode);
    QVERIFY(framing);

    // A port at 1200 baud with odd parity, two stop bits and hardware flow control.
    termios settings = {};
    cfmakeraw(&settings);
    settings.c_cflag |= CREAD | CLOCAL | CRTSCTS | PARENB | PARODD | CSTOPB;
    cfsetspeed(&settings, B1200);
    const termios before = settings;
    QVERIFY(ApplyFraming(settings, *framing));
    const tcflag_t sizes[] = { CS5, CS6, CS7, CS8 };
    QCOMPARE(uint(settings.c_cflag & (PARENB | PARODD | CMSPAR)), parityFlags);
    QCOMPARE(uint(settings.c_cflag & CSIZE), uint(sizes[dataBits - 5]));
    QCOMPARE(bool(settings.c_cflag & CSTOPB), stopBits == 2);
    QCOMPARE(uint(settings.c_cflag & CRTSCTS), 0u);
    // The speed and everything else stay as they were.
    QCOMPARE(cfgetospeed(&settings), speed_t(B1200));
    QCOMPARE(cfgetispeed(&settings), speed_t(B1200));
    QCOMPARE(settings.c_cflag & (CREAD | CLOCAL), before.c_cflag & (CREAD | CLOCAL));
    QVERIFY(settings.c_iflag == before.c_iflag && settings.c_lflag == before.c_lflag
        && settings.c_oflag == before.c_oflag);
}

void TestCommFraming::unusableModes()
{
    for (const QByteArray& mode :
        { QByteArray("parity=X data=8 stop=1"), FormatCommMode('\0', 8, 1),
            QByteArray("parity=N data=4 stop=1"), QByteArray("parity=N data=9 stop=1"),
            QByteArray("parity=N data=8 stop=3"), QByteArray("parity=N data=8 stop=1.5"),
            QByteArray("parity=N baud=9600"), QByteArray("parity= data=8 stop=1") })
        QVERIFY2(!ParseCommMode(mode), mode.constData());
}

void TestCommFraming::appliedToTerminal()
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
    QCOMPARE(uint(applied->c_cflag & (PARENB | PARODD | CMSPAR | CSIZE)), uint(CS8));
    QVERIFY(applied->c_cflag & CSTOPB);
    QCOMPARE(uint(applied->c_cflag & CRTSCTS), 0u);
    QVERIFY(tcgetattr(port.Handle(), &now) == 0);
    QVERIFY(now.c_cflag & CSTOPB);
    QCOMPARE(cfgetospeed(&now), speed_t(B2400));
    QCOMPARE(uint(now.c_cflag & CRTSCTS), 0u);
}

QTEST_GUILESS_MAIN(TestCommFraming)
#include "TestCommFraming.moc"

// The simulated modem opened through a serial-port library (QSerialPort), as
// any terminal program would, and closed and opened again between calls.
// Framing stays at 8N1: a pseudo-terminal reads back CS8 whatever is asked, and
// the library refuses settings it cannot read back.

#include "PagingSimulator.h"
#include "SimTestLine.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QTest>

using namespace quillpost::sim;

namespace {

constexpr int kWaitMs = 5000;

// Reads until `pattern` has arrived or the time is up; returns what came.
QByteArray readUntil(QSerialPort& port, const QByteArray& pattern)
{
    QByteArray received;
    QDeadlineTimer deadline(kWaitMs);
    while (!received.contains(pattern) && !deadline.hasExpired()) {
        if (port.bytesAvailable() > 0
            || port.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            received += port.readAll();
    }
    return received;
}

bool openPort(QSerialPort& port, const QString& path)
{
    port.setPortName(path);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    return port.setBaudRate(QSerialPort::Baud9600) && port.setDataBits(QSerialPort::Data8)
        && port.setParity(QSerialPort::NoParity) && port.setStopBits(QSerialPort::OneStop);
}

} // namespace

class TestSimSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void twoCallsThroughASerialPort();
};

void TestSimSerialPort::twoCallsThroughASerialPort()
{
    PagingSimulator sim;
    QVERIFY2(sim.startPty(), qPrintable(sim.errorString()));

    for (int call = 1; call <= 2; ++call) {
        QSerialPort port;
        QVERIFY2(openPort(port, sim.slavePath()), qPrintable(port.errorString()));
        port.write("ATZ\r");
        QVERIFY(readUntil(port, "OK\r\n").endsWith("ATZ\r\r\nOK\r\n"));
        port.write("ATDT5551234\r");
        QVERIFY(readUntil(port, "CONNECT 9600\r\n").endsWith("CONNECT 9600\r\n"));
        port.write("\r");
        QVERIFY(readUntil(port, "ID=").endsWith("ID="));
        port.write("\x1bPG1\r");
        QVERIFY(readUntil(port, "\x1b[p\r").endsWith("\x06\r\x1b[p\r"));
        port.write(tapBlock("555", "call " + QByteArray::number(call)));
        QVERIFY(readUntil(port, "\x06\r").endsWith("211 Page(s) Sent\r\x06\r"));
        if (call == 1) {
            port.write("\x04\r");
            QVERIFY(readUntil(port, "NO CARRIER\r\n").endsWith("\x1b\x04\r\r\nNO CARRIER\r\n"));
        }
        port.close(); // the second call ends by the caller hanging up
        QVERIFY(sim.waitForCallEnds(call, kWaitMs));
    }
    QCOMPARE(sim.pages().value(1).text, QByteArray("call 2"));
    QCOMPARE(sim.callEnds().value(0).how, CallEnd::Logout);
    QCOMPARE(sim.callEnds().value(1).how, CallEnd::CallerHungUp);
}

QTEST_GUILESS_MAIN(TestSimSerialPort)
#include "test_sim_serial_port.moc"

#include "TempSettings.h"
#include "platform/telephony/LineDevices.h"

#include <QSerialPortInfo>
#include <QSettings>
#include <QTest>

namespace {

struct ConfiguredLine
{
    QString name;
    QString type;
    QString device;
    QVariant init;
    QVariant speed;
};

void WriteLines(const QList<ConfiguredLine>& lines)
{
    QSettings settings(QStringLiteral("Northmoor"), QStringLiteral("Quillpost"));
    settings.beginWriteArray(QStringLiteral("Lines"));
    for (int i = 0; i < lines.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("name"), lines[i].name);
        settings.setValue(QStringLiteral("type"), lines[i].type);
        settings.setValue(QStringLiteral("device"), lines[i].device);
        if (lines[i].init.isValid())
            settings.setValue(QStringLiteral("init"), lines[i].init);
        if (lines[i].speed.isValid())
            settings.setValue(QStringLiteral("speed"), lines[i].speed);
    }
    settings.endArray();
    settings.sync();
}

} // namespace

class TestLineDevices : public QObject
{
    Q_OBJECT

private slots:
    void configuredLinesComeFirst();
    void badEntriesLeftOut();
    void serialPortsNotNamedTwice();
    void tcpAddresses_data();
    void tcpAddresses();
    void dialableNumbers_data();
    void dialableNumbers();
};

void TestLineDevices::configuredLinesComeFirst()
{
    TempSettings folder;
    WriteLines({
        { "Office modem", "hayes", "/dev/null", {}, {} },
        { "Encoder", "DIRECT", "/dev/zero", {}, 1200 },
        { "Provider over TCP", "tcp", "", "AT&F", {} },
        { "Fast modem", "hayes", "/dev/null", "AT&F1", 57600 },
    });
    const QList<LineDevice> lines = LoadLineDevices();
    QVERIFY(lines.size() >= 4);
    QCOMPARE(lines[0].name, QStringLiteral("Office modem"));
    QCOMPARE(lines[0].kind, LineDevice::Kind::Hayes);
    QCOMPARE(lines[0].init, QByteArray("ATZ"));
    QCOMPARE(lines[0].speed, 9600);
    QCOMPARE(lines[1].kind, LineDevice::Kind::Direct);
    QCOMPARE(lines[1].speed, 1200);
    QCOMPARE(lines[2].kind, LineDevice::Kind::Tcp);
    QCOMPARE(lines[3].init, QByteArray("AT&F1"));
    QCOMPARE(lines[3].speed, 57600);
    // Every further device is a serial port of the machine, driven as a modem.
    for (qsizetype i = 4; i < lines.size(); ++i)
        QCOMPARE(lines[i].kind, LineDevice::Kind::Hayes);
    QCOMPARE(lines.size() - 4, QSerialPortInfo::availablePorts().size());
}

void TestLineDevices::badEntriesLeftOut()
{
    TempSettings folder;
    WriteLines({
        { "", "hayes", "/dev/null", {}, {} },
        { "Pigeon", "carrier-pigeon", "/dev/null", {}, {} },
        { "Good", "hayes", "/dev/null", {}, "fast" },
    });
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Line 1 in the settings is left out.*"));
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression("Line 2 in the settings is left out.*carrier-pigeon.*"));
    const QList<LineDevice> lines = LoadLineDevices();
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines[0].name, QStringLiteral("Good"));
    // A speed that is no number cannot be set; the call on it fails rather than
    // running at a guessed speed.
    QCOMPARE(lines[0].speed, 0);
}

void TestLineDevices::serialPortsNotNamedTwice()
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty())
        QSKIP("this machine lists no serial port");
    TempSettings folder;
    WriteLines({ { "Configured", "hayes", ports.first().systemLocation(), {}, {} } });
    const QList<LineDevice> lines = LoadLineDevices();
    QCOMPARE(lines.size(), ports.size());
    QCOMPARE(lines[0].name, QStringLiteral("Configured"));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QVERIFY(lines[i].device != ports.first().systemLocation());
        QVERIFY(lines[i].name.contains(ports[i].portName()));
    }
}

void TestLineDevices::tcpAddresses_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("name and port") << "paging.example.net:444"
                                   << "paging.example.net" << 444;
    QTest::newRow("address") << " 127.0.0.1:1024 "
                             << "127.0.0.1" << 1024;
    QTest::newRow("bracketed v6") << "[::1]:5000"
                                  << "::1" << 5000;
    QTest::newRow("bare v6") << "::1:5000"
                             << "" << 0;
    QTest::newRow("no port") << "paging.example.net"
                             << "" << 0;
    QTest::newRow("empty port") << "host:"
                                << "" << 0;
    QTest::newRow("port zero") << "host:0"
                               << "" << 0;
    QTest::newRow("port too big") << "host:65536"
                                  << "" << 0;
    QTest::newRow("no host") << ":444"
                             << "" << 0;
    QTest::newRow("telephone number") << "5551234"
                                      << "" << 0;
}

void TestLineDevices::tcpAddresses()
{
    QFETCH(QString, number);
    QFETCH(QString, host);
    QFETCH(int, port);
    const std::optional<TcpAddress> address = ParseTcpAddress(number);
    QCOMPARE(bool(address), port != 0);
    if (address) {
        QCOMPARE(address->host, host);
        QCOMPARE(int(address->port), port);
    }
}

void TestLineDevices::dialableNumbers_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<bool>("dialable");
    QTest::newRow("digits") << "5551234" << true;
    QTest::newRow("pauses and wait for tone") << "9W,555-1234" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("carriage return") << "555\rATZ" << false;
    QTest::newRow("line feed") << "555\n" << false;
    QTest::newRow("non-ASCII") << QStringLiteral("555\u00e9") << false;
}

void TestLineDevices::dialableNumbers()
{
    QFETCH(QString, number);
    QFETCH(bool, dialable);
    QCOMPARE(IsDialableNumber(number), dialable);
}

QTEST_GUILESS_MAIN(TestLineDevices)
#include "TestLineDevices.moc"

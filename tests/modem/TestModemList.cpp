#include "FakeTelephony.h"
#include "PresetPrompt.h"
#include "modem/ModemList.h"

#include <QTest>

namespace {

const QString kTooMany = QStringLiteral(
    "There are too many modems on the system, the number available will be restricted");
const QString kNotFound
    = QStringLiteral("Cannot find designated modem - please set the modem name");

using DeviceNames = QList<std::optional<QString>>;

DeviceNames NamedDevices(int count)
{
    DeviceNames names;
    for (int i = 0; i < count; ++i)
        names << QStringLiteral("Modem %1").arg(i);
    return names;
}

} // namespace

class TestModemList : public QObject
{
    Q_OBJECT

private slots:
    void discovery_data();
    void discovery();
    void tooManyDevices();
    void longNamesAreCut();
    void initialiseFailureKeepsNames();
    void firstNegotiationFailureStops();
    void rediscoverySeesRenamedModem();
};

void TestModemList::discovery_data()
{
    QTest::addColumn<DeviceNames>("devices");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("messages");

    const DeviceNames three { QStringLiteral("Alpha"), QStringLiteral("Bravo"),
        QStringLiteral("Charlie") };
    QTest::newRow("stored name on device 1")
        << three << "Bravo" << 1 << QStringList { "Alpha", "Bravo", "Charlie" } << QStringList {};
    QTest::newRow("device 2 cannot be read")
        << DeviceNames { QStringLiteral("Alpha"), QStringLiteral("Bravo"), std::nullopt } << "Alpha"
        << 0 << QStringList { "Alpha", "Bravo", "Unknown 2" } << QStringList {};
    QTest::newRow("unreadable device never matches its placeholder")
        << DeviceNames { QStringLiteral("Alpha"), QStringLiteral("Bravo"), std::nullopt }
        << "Unknown 2" << -2 << QStringList { "Alpha", "Bravo", "Unknown 2" }
        << QStringList { kNotFound };
    QTest::newRow("two devices carry the name: the last wins")
        << DeviceNames { QStringLiteral("Twin"), QStringLiteral("Other"), QStringLiteral("Twin") }
        << "Twin" << 2 << QStringList { "Twin", "Other", "Twin" } << QStringList {};
    QTest::newRow("name differs only in case")
        << three << "bravo" << -2 << QStringList { "Alpha", "Bravo", "Charlie" }
        << QStringList { kNotFound };
    QTest::newRow("no stored name")
        << three << "" << -2 << QStringList { "Alpha", "Bravo", "Charlie" }
        << QStringList { kNotFound };
    QTest::newRow("no stored name and an unnamed device")
        << DeviceNames { QString() } << "" << -2 << QStringList { "" } << QStringList { kNotFound };
    QTest::newRow("no devices at all")
        << DeviceNames {} << "Alpha" << -2 << QStringList {} << QStringList { kNotFound };
    QTest::newRow("trailing space matters")
        << three << "Alpha " << -2 << QStringList { "Alpha", "Bravo", "Charlie" }
        << QStringList { kNotFound };
}

void TestModemList::discovery()
{
    QFETCH(DeviceNames, devices);
    QFETCH(QString, stored);
    QFETCH(int, selected);
    QFETCH(QStringList, names);
    QFETCH(QStringList, messages);

    PresetPrompt prompt;
    FakeTelephony telephony;
    telephony.devices = devices;
    CModemList modems([stored] { return stored; }, &telephony);

    QCOMPARE(modems.Discover(), 0);
    QCOMPARE(modems.SelectedDevice(), selected);
    QCOMPARE(modems.DeviceCount(), names.size());
    QStringList listed;
    for (int i = 0; i < modems.DeviceCount(); ++i)
        listed << modems.DeviceName(i);
    QCOMPARE(listed, names);
    QCOMPARE(prompt.shown, messages);
    // Each device's version is negotiated before its capabilities are read.
    for (int i = 0; i < devices.size(); ++i) {
        const int negotiate = telephony.calls.indexOf(
            QStringLiteral("lineNegotiateAPIVersion %1 0 ffffffff").arg(i), 1);
        QVERIFY(negotiate > 0);
        QVERIFY(negotiate < telephony.calls.indexOf(QStringLiteral("lineGetDevCaps %1").arg(i)));
    }
}

void TestModemList::tooManyDevices()
{
    PresetPrompt prompt;
    FakeTelephony telephony;
    telephony.devices = NamedDevices(31);
    // The stored name is device 30's, which is beyond the limit and never matched.
    CModemList modems([] { return QStringLiteral("Modem 30"); }, &telephony);

    QCOMPARE(modems.Discover(), 0);
    QCOMPARE(modems.DeviceCount(), 30);
    QCOMPARE(modems.DeviceName(29), QStringLiteral("Modem 29"));
    QCOMPARE(modems.DeviceName(30), QString());
    QCOMPARE(modems.SelectedDevice(), CModemList::kNoDevice);
    QCOMPARE(prompt.shown, (QStringList { kTooMany, kNotFound }));
    QCOMPARE(telephony.count("lineGetDevCaps"), 30);
}

void TestModemList::longNamesAreCut()
{
    PresetPrompt prompt;
    FakeTelephony telephony;
    const QString longName = QString(120, QLatin1Char('m'));
    QString surrogateAtCut = QString(98, QLatin1Char('s'));
    surrogateAtCut += QString::fromUcs4(U"\U0001F4DF\U0001F4DF");
    telephony.devices = { longName, surrogateAtCut, QString(99, QLatin1Char('x')) };
    CModemList modems([&] { return longName.left(99); }, &telephony);

    QCOMPARE(modems.Discover(), 0);
    QCOMPARE(modems.DeviceName(0), longName.left(99));
    // The cut never leaves half a character behind.
    QCOMPARE(modems.DeviceName(1), QString(98, QLatin1Char('s')));
    QCOMPARE(modems.DeviceName(2), QString(99, QLatin1Char('x')));
    QCOMPARE(modems.SelectedDevice(), 0);
}

void TestModemList::initialiseFailureKeepsNames()
{
    PresetPrompt prompt;
    FakeTelephony telephony;
    telephony.devices = { QStringLiteral("Alpha"), QStringLiteral("Bravo") };
    CModemList modems([] { return QStringLiteral("Bravo"); }, &telephony);
    QCOMPARE(modems.Discover(), 0);

    telephony.initializeResult = LINEERR_NODEVICE;
    QCOMPARE(modems.Discover(), LINEERR_NODEVICE);
    QCOMPARE(modems.DeviceCount(), 0);
    QCOMPARE(modems.SelectedDevice(), 1);
    QVERIFY(prompt.shown.isEmpty());
}

void TestModemList::firstNegotiationFailureStops()
{
    PresetPrompt prompt;
    FakeTelephony telephony;
    telephony.devices = { QStringLiteral("Alpha") };
    telephony.firstNegotiateResult = LINEERR_INCOMPATIBLEAPIVERSION;
    CModemList modems([] { return QStringLiteral("Alpha"); }, &telephony);

    QCOMPARE(modems.Discover(), LINEERR_INCOMPATIBLEAPIVERSION);
    QCOMPARE(telephony.count("lineGetDevCaps"), 0);
    QCOMPARE(modems.SelectedDevice(), CModemList::kNoDevice);
    QVERIFY(prompt.shown.isEmpty());
}

void TestModemList::rediscoverySeesRenamedModem()
{
    PresetPrompt prompt;
    FakeTelephony telephony;
    telephony.devices = { QStringLiteral("Alpha"), QStringLiteral("Bravo") };
    QString stored = QStringLiteral("Bravo");
    CModemList modems([&stored] { return stored; }, &telephony);
    QCOMPARE(modems.Discover(), 0);
    QCOMPARE(modems.SelectedDevice(), 1);

    telephony.devices = { QStringLiteral("Bravo"), QStringLiteral("Alpha") };
    QCOMPARE(modems.Discover(), 0);
    QCOMPARE(modems.SelectedDevice(), 0);
    stored = QStringLiteral("Gone");
    QCOMPARE(modems.Discover(), 0);
    QCOMPARE(modems.SelectedDevice(), CModemList::kNoDevice);
    QCOMPARE(prompt.shown, QStringList { kNotFound });
}

QTEST_GUILESS_MAIN(TestModemList)
#include "TestModemList.moc"

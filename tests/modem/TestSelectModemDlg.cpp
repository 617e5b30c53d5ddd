#include "FakeTelephony.h"
#include "PresetPrompt.h"
#include "modem/ModemList.h"
#include "modem/SelectModemDlg.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

using DeviceNames = QList<std::optional<QString>>;

} // namespace

class TestSelectModemDlg : public QObject
{
    Q_OBJECT

private slots:
    void choosing_data();
    void choosing();
    void cancelKeepsSelection();
    void modalRun();
};

void TestSelectModemDlg::choosing_data()
{
    QTest::addColumn<DeviceNames>("devices");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("preselected"); // combo index shown on opening
    QTest::addColumn<int>("pick"); // combo index chosen, -1 to leave it
    QTest::addColumn<int>("result"); // m_nSelectedDevice after OK
    QTest::addColumn<int>("messages");

    const DeviceNames three { QStringLiteral("Alpha"), QStringLiteral("Bravo"),
        QStringLiteral("Charlie") };
    QTest::newRow("stored modem preselected, OK keeps it") << three << "Bravo" << 1 << -1 << 1 << 0;
    QTest::newRow("another modem picked") << three << "Bravo" << 1 << 2 << 2 << 0;
    QTest::newRow("nothing matches, nothing picked") << three << "Delta" << -1 << -1 << -2 << 1;
    QTest::newRow("nothing matches, one picked") << three << "Delta" << -1 << 0 << 0 << 1;
    QTest::newRow("unreadable device listed and picked")
        << DeviceNames { QStringLiteral("Alpha"), QStringLiteral("Bravo"), std::nullopt } << "Alpha"
        << 0 << 2 << 2 << 0;
    QTest::newRow("no devices") << DeviceNames {} << "Alpha" << -1 << -1 << -2 << 1;
}

void TestSelectModemDlg::choosing()
{
    QFETCH(DeviceNames, devices);
    QFETCH(QString, stored);
    QFETCH(int, preselected);
    QFETCH(int, pick);
    QFETCH(int, result);
    QFETCH(int, messages);

    PresetPrompt prompt;
    FakeTelephony telephony;
    telephony.devices = devices;
    CModemList modems([stored] { return stored; }, &telephony);
    CSelectModemDlg dialog(modems);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Select the mdoem that you want to use"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("modemCombo"));
    QVERIFY(combo);
    QCOMPARE(combo->count(), devices.size());
    for (int i = 0; i < devices.size(); ++i) {
        QCOMPARE(
            combo->itemText(i), devices[i] ? *devices[i] : QStringLiteral("Unknown %1").arg(i));
        QCOMPARE(combo->itemData(i).toInt(), i);
    }
    QCOMPARE(combo->currentIndex(), preselected);
    QCOMPARE(prompt.shown.size(), messages);

    if (pick >= 0)
        combo->setCurrentIndex(pick);
    // Text typed into the edit field plays no part.
    combo->lineEdit()->setText(QStringLiteral("typed"));
    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("okButton"));
    QVERIFY(ok);
    QTest::mouseClick(ok, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.m_nSelectedDevice, result);
    QVERIFY(result == -2 || modems.IsValidDevice(result));
    // Discovery ran once, at opening.
    QCOMPARE(telephony.count("lineInitialize"), 1);
}

void TestSelectModemDlg::cancelKeepsSelection()
{
    PresetPrompt prompt;
    FakeTelephony telephony;
    telephony.devices = { QStringLiteral("Alpha"), QStringLiteral("Bravo") };
    CModemList modems([] { return QStringLiteral("Alpha"); }, &telephony);
    CSelectModemDlg dialog(modems);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.findChild<QComboBox*>(QStringLiteral("modemCombo"))->setCurrentIndex(1);
    QTest::mouseClick(
        dialog.findChild<QPushButton*>(QStringLiteral("cancelButton")), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.m_nSelectedDevice, 0);
}

void TestSelectModemDlg::modalRun()
{
    PresetPrompt prompt;
    FakeTelephony telephony;
    telephony.devices = { QStringLiteral("Alpha"), QStringLiteral("Bravo") };
    CModemList modems([] { return QStringLiteral("Missing"); }, &telephony);
    CSelectModemDlg dialog(modems);
    int itemsWhenShown = -1;
    QTimer::singleShot(0, &dialog, [&] {
        auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("modemCombo"));
        itemsWhenShown = combo->count();
        combo->setCurrentIndex(1);
        QTest::mouseClick(
            dialog.findChild<QPushButton*>(QStringLiteral("okButton")), Qt::LeftButton);
    });
    // Should the click go astray, the run still ends.
    QTimer::singleShot(10000, &dialog, &QDialog::reject);
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(itemsWhenShown, 2);
    QCOMPARE(dialog.m_nSelectedDevice, 1);
    // Discovery ran once, with its message about the missing modem.
    QCOMPARE(prompt.shown,
        QStringList { QStringLiteral("Cannot find designated modem - please set the modem name") });
}

QTEST_MAIN(TestSelectModemDlg)
#include "TestSelectModemDlg.moc"

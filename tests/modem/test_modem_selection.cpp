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

const QString kTooMany = QStringLiteral(
    "There are too many modems on the system, the number available will be restricted");
const QString kNotFound
    = QStringLiteral("Cannot find designated modem - please set the modem name");

QStringList Numbered(int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << QStringLiteral("Modem %1").arg(i);
    return names;
}

void Click(QDialog& dialog, const char* button)
{
    QTest::mouseClick(dialog.findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
}

} // namespace

// Modem discovery over a fake line interface, and the Select Modem dialog on top of it.
class TestModemSelection : public QObject
{
    Q_OBJECT

private slots:
    void discovery_data();
    void discovery();
};

void TestModemSelection::discovery_data()
{
    QTest::addColumn<QStringList>("devices"); // "?": details cannot be read
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("selected"); // by discovery, and preselected in the dialog
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("pick"); // dialog entry chosen, -1 to leave it
    QTest::addColumn<bool>("ok"); // OK, or else Cancel
    QTest::addColumn<int>("result"); // the dialog's m_nSelectedDevice afterwards

    const QStringList abc { "Alpha", "Bravo", "Charlie" };
    const QStringList abUnreadable { "Alpha", "Bravo", "?" };
    const QStringList abUnknown { "Alpha", "Bravo", "Unknown 2" };
    const QStringList twins { "Twin", "Other", "Twin" };
    const QString longName(120, QLatin1Char('m'));
    // A cut through the first of two four-byte characters must not leave half of it.
    const QString pagers
        = QString(98, QLatin1Char('s')) + QString::fromUcs4(U"\U0001F4DF\U0001F4DF");
    const QStringList cut { longName.left(99), QString(98, QLatin1Char('s')), QString(99, 'x') };
    const QStringList none;
    const QStringList notFound { kNotFound };

    QTest::newRow("stored name on device 1, OK keeps it")
        << abc << "Bravo" << 1 << abc << none << -1 << true << 1;
    QTest::newRow("another modem picked") << abc << "Bravo" << 1 << abc << none << 2 << true << 2;
    QTest::newRow("cancel keeps the stored modem")
        << abc << "Alpha" << 0 << abc << none << 1 << false << 0;
    QTest::newRow("device 2 cannot be read, and is picked")
        << abUnreadable << "Alpha" << 0 << abUnknown << none << 2 << true << 2;
    QTest::newRow("unreadable device never matches its placeholder")
        << abUnreadable << "Unknown 2" << -2 << abUnknown << notFound << -1 << true << -2;
    QTest::newRow("two devices carry the name: the last wins")
        << twins << "Twin" << 2 << twins << none << -1 << true << 2;
    QTest::newRow("name differs only in case, another picked")
        << abc << "bravo" << -2 << abc << notFound << 0 << true << 0;
    QTest::newRow("trailing space matters")
        << abc << "Alpha " << -2 << abc << notFound << -1 << true << -2;
    QTest::newRow("no stored name") << abc << "" << -2 << abc << notFound << -1 << true << -2;
    QTest::newRow("no devices") << none << "Alpha" << -2 << none << notFound << -1 << true << -2;
    QTest::newRow("30 devices") << Numbered(30) << "Modem 29" << 29 << Numbered(30) << none << -1
                                << true << 29;
    QTest::newRow("31 devices: the last is left out")
        << Numbered(31) << "Modem 30" << -2 << Numbered(30) << QStringList { kTooMany, kNotFound }
        << -1 << true << -2;
    QTest::newRow("names cut to 99 characters")
        << QStringList { longName, pagers, QString(99, 'x') } << longName.left(99) << 0 << cut
        << none << -1 << true << 0;
}

// The dialog discovers the modems as it opens, lists them and preselects the stored one;
// OK keeps the entry chosen, Cancel the stored modem.
void TestModemSelection::discovery()
{
    QFETCH(QStringList, devices);
    QFETCH(QString, stored);
    QFETCH(int, selected);
    QFETCH(QStringList, names);
    QFETCH(QStringList, messages);
    QFETCH(int, pick);
    QFETCH(bool, ok);
    QFETCH(int, result);

    PresetPrompt prompt;
    FakeTelephony telephony;
    telephony.devices = devices;
    CModemList modems([stored] { return stored; }, &telephony);
    CSelectModemDlg dialog(modems);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Select the mdoem that you want to use"));
    // What the dialog shows once it runs, then the choice and the button.
    QStringList shown;
    int preselected = -3;
    QTimer::singleShot(0, &dialog, [&] {
        auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("modemCombo"));
        for (int i = 0; i < combo->count(); ++i)
            shown << (combo->itemData(i).toInt() == i ? combo->itemText(i) : QString());
        preselected = combo->currentIndex();
        if (pick >= 0)
            combo->setCurrentIndex(pick);
        // Text typed into the edit field plays no part.
        combo->lineEdit()->setText(QStringLiteral("typed"));
        Click(dialog, ok ? "okButton" : "cancelButton");
    });
    // Should the click go astray, the run still ends.
    QTimer::singleShot(10000, &dialog, &QDialog::reject);
    QCOMPARE(dialog.exec(), int(ok ? QDialog::Accepted : QDialog::Rejected));
    QCOMPARE(dialog.m_nSelectedDevice, result);
    QCOMPARE(shown, names);
    QCOMPARE(preselected, std::max(selected, -1));

    // Discovery ran once, as the dialog opened, and found this.
    QCOMPARE(telephony.count("lineInitialize"), 1);
    QCOMPARE(prompt.shown, messages);
    QCOMPARE(modems.SelectedDevice(), selected);
    QStringList listed;
    for (int i = 0; i < modems.DeviceCount(); ++i)
        listed << modems.DeviceName(i);
    QCOMPARE(listed, names);
    QCOMPARE(modems.DeviceName(int(names.size())), QString());
    // Each device's version is negotiated before its capabilities are read.
    QCOMPARE(telephony.count("lineGetDevCaps"), names.size());
    for (int i = 0; i < names.size(); ++i) {
        const qsizetype negotiate = telephony.calls.indexOf(
            QStringLiteral("lineNegotiateAPIVersion %1 0 4294967295").arg(i), 1);
        QVERIFY(negotiate > 0);
        QVERIFY(negotiate < telephony.calls.indexOf(QStringLiteral("lineGetDevCaps %1").arg(i)));
    }
}

QTEST_MAIN(TestModemSelection)
#include "test_modem_selection.moc"

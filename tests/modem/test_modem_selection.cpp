#include "FakeTelephony.h"
#include "PresetPrompt.h"
#include "TempSettings.h"
#include "modem/ModemList.h"
#include "modem/SelectModemDlg.h"
#include "modem/LineProbe.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <pty.h>
#include <unistd.h>

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

// The devices, the names listed for them, the stored name, the device discovery selects
// (and the dialog preselects; -2: none), the dialog entry chosen (-1 to leave it), and OK
// or else Cancel.
void Row(const char* name, const QStringList& devices, const QStringList& names,
    const QString& stored, int selected, int pick = -1, bool ok = true)
{
    QTest::newRow(name) << devices << names << stored << selected << pick << ok;
}

} // namespace

// Modem discovery over a fake line interface, and the Select Modem dialog on top of it;
// the check of a send's line over the machine's own line devices.
class TestModemSelection : public QObject
{
    Q_OBJECT

private slots:
    void discovery_data()
    {
        QTest::addColumn<QStringList>("devices"); // "?": details cannot be read
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("pick");
        QTest::addColumn<bool>("ok");

        const QStringList abc { "Alpha", "Bravo", "Charlie" };
        const QStringList abUnreadable { "Alpha", "Bravo", "?" };
        const QStringList abUnknown { "Alpha", "Bravo", "Unknown 2" };
        const QStringList twins { "Twin", "Other", "Twin" };
        const QString longName(120, 'm');
        // A cut through the first of two four-byte characters must not leave half of it.
        const QString pagers = QString(98, 's') + QString::fromUcs4(U"\U0001F4DF\U0001F4DF");
        const QStringList cut { longName.left(99), QString(98, 's'), QString(99, 'x') };

        Row("stored name on device 1, OK keeps it", abc, abc, "Bravo", 1);
        Row("cancel keeps the stored modem", abc, abc, "Alpha", 0, 1, false);
        Row("device 2 cannot be read, and is picked", abUnreadable, abUnknown, "Alpha", 0, 2);
        Row("unreadable device never matches its placeholder", abUnreadable, abUnknown, "Unknown 2",
            -2);
        Row("two devices carry the name: the last wins", twins, twins, "Twin", 2);
        Row("name differs only in case, another picked", abc, abc, "bravo", -2, 0);
        Row("trailing space matters", abc, abc, "Alpha ", -2);
        Row("no stored name", abc, abc, "", -2);
        Row("no devices", {}, {}, "Alpha", -2);
        Row("30 devices", Numbered(30), Numbered(30), "Modem 29", 29);
        Row("31 devices: the last is left out", Numbered(31), Numbered(30), "Modem 30", -2);
        Row("names cut to 99 characters", { longName, pagers, QString(99, 'x') }, cut,
            longName.left(99), 0);
    }

    // The dialog discovers the modems as it opens, lists them and preselects the stored one;
    // OK keeps the entry chosen, Cancel the stored modem.
    void discovery()
    {
        QFETCH(QStringList, devices);
        QFETCH(QStringList, names);
        QFETCH(QString, stored);
        QFETCH(int, selected);
        QFETCH(int, pick);
        QFETCH(bool, ok);
        // Past 30 devices the rest are left out, with a word; no device found, another word.
        const QStringList messages
            = (devices.size() > 30 ? QStringList { kTooMany } : QStringList())
            + (selected < 0 ? QStringList { kNotFound } : QStringList());

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
            const QString button = ok ? "okButton" : "cancelButton";
            QTest::mouseClick(dialog.findChild<QPushButton*>(button), Qt::LeftButton);
        });
        // Should the click go astray, the run still ends.
        QTimer::singleShot(10000, &dialog, &QDialog::reject);
        QCOMPARE(dialog.exec(), int(ok ? QDialog::Accepted : QDialog::Rejected));
        QCOMPARE(dialog.m_nSelectedDevice, ok && pick >= 0 ? pick : selected);
        QCOMPARE(shown, names);
        QCOMPARE(preselected, std::max(selected, -1));

        // Discovery ran once, as the dialog opened, and found this.
        QCOMPARE(telephony.count("lineInitialize"), 1);
        QCOMPARE(prompt.shown, messages);
        QCOMPARE(modems.SelectedDevice(), selected);
        QStringList listed; // and no name past the last
        for (int i = 0; i <= modems.DeviceCount(); ++i)
            listed << modems.DeviceName(i);
        QCOMPARE(listed, names + QStringList { QString() });
        // Each device's version is negotiated before its capabilities are read.
        QCOMPARE(telephony.count("lineGetDevCaps"), names.size());
        for (int i = 0; i < names.size(); ++i) {
            const qsizetype negotiate = telephony.calls.indexOf(
                QStringLiteral("lineNegotiateAPIVersion %1 0 4294967295").arg(i), 1);
            QVERIFY(negotiate > 0);
            QVERIFY(
                negotiate < telephony.calls.indexOf(QStringLiteral("lineGetDevCaps %1").arg(i)));
        }
    }

    void sendLineFault_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("type"); // of the one line configured, "Office modem"
        QTest::addColumn<QString>("device"); // "pty": a pseudo-terminal; "gone": none there
        QTest::addColumn<QString>("answer"); // "%1": the device; empty: the line can be used

        const auto row = [](const char* name, const QString& stored, const char* type,
                             const char* device, const QString& answer) {
            QTest::newRow(name) << stored << QString(type) << QString(device) << answer;
        };
        const QString office = QStringLiteral("Office modem");
        const QString unopenable
            = QStringLiteral("The line device \"Office modem\" cannot be opened: %1: ");
        row("no modem chosen", "", "hayes", "/dev/null", "No modem is chosen");
        row("no line of the stored name", "Gone modem", "hayes", "/dev/null",
            "No line device is named \"Gone modem\"");
        row("modem on a terminal, its settings kept", office, "hayes", "pty", "");
        row("modem on a device that does not exist", office, "hayes", "gone",
            unopenable + "No such file or directory");
        row("direct link on a folder", office, "direct", "folder", unopenable + "Is a directory");
        row("TCP: nothing to open", office, "tcp", "gone", "");
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
        const auto closeTerminal = qScopeGuard([&] {
            close(master);
            close(slave);
        });
        termios before = {}, after = {};
        QVERIFY(tcgetattr(slave, &before) == 0);
        if (device == "pty")
            device = QString::fromLocal8Bit(terminal);
        else if (device == "gone")
            device = settingsFolder.folder() + "/ttyGone";
        else if (device == "folder")
            device = settingsFolder.folder();
        QSettings settings("Northmoor", "Quillpost");
        settings.beginWriteArray("Lines");
        settings.setArrayIndex(0);
        settings.setValue("name", "Office modem");
        settings.setValue("type", type);
        settings.setValue("device", device);
        settings.endArray();
        settings.sync();

        CModemList modems([stored] { return stored; });
        QCOMPARE(SendLineFault(modems).value_or(QString()), answer.replace("%1", device));
        QCOMPARE(prompt.shown, QStringList());
        QVERIFY(tcgetattr(slave, &after) == 0);
        QVERIFY(before.c_lflag == after.c_lflag && before.c_iflag == after.c_iflag
            && before.c_oflag == after.c_oflag && before.c_cflag == after.c_cflag);
    }
};

QTEST_MAIN(TestModemSelection)
#include "test_modem_selection.moc"

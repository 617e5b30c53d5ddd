// The user, group and service provider dialogs on their own: what they show for the
// members preset, and what they hand back for what the operator chose or typed.
#include "PresetPrompt.h"
#include "TempDatabase.h"
#include "ui/GroupDlg.h"
#include "ui/ServiceProviderDlg.h"
#include "ui/UserDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

namespace {

QComboBox* combo(QWidget& dlg, const char* name)
{
    return dlg.findChild<QComboBox*>(name);
}

QStringList entries(const QComboBox* box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

// "3" chooses entry 3; "-1" leaves no entry chosen; "typed:X" types X into the field;
// "1;typed:X" does one, then the other.
void choose(QComboBox* box, const QString& how)
{
    for (const QString& step : how.split(';')) {
        if (step.startsWith("typed:")) {
            box->lineEdit()->clear();
            QTest::keyClicks(box->lineEdit(), step.mid(6));
        } else {
            box->setCurrentIndex(step.toInt());
        }
    }
}

std::unique_ptr<QDialog> makeDialog(const QString& kind)
{
    if (kind == "user")
        return std::make_unique<CUserDlg>(std::vector<GroupChoice> {});
    if (kind == "group")
        return std::make_unique<CGroupDlg>();
    return std::make_unique<CServiceProviderDlg>();
}

void showAndWait(QDialog& dlg)
{
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
}

} // namespace

class TestEntityDialogs : public QObject
{
    Q_OBJECT

private slots:
    // The user dialog reads the providers from the database in the current directory.
    void init() { m_db = std::make_unique<TempDatabase>(); }
    void cleanup() { m_db.reset(); }

    void userProviders_data();
    void userProviders();
    void userGroupsToggleAndComeBackSorted();
    void providerShowsMembers_data();
    void providerShowsMembers();
    void providerReadsSelections_data();
    void providerReadsSelections();
    void textFieldsHoldAColumnsLength_data();
    void textFieldsHoldAColumnsLength();
    void enterAcceptsEscapeCancels_data();
    void enterAcceptsEscapeCancels();

private:
    std::unique_ptr<TempDatabase> m_db;
};

void TestEntityDialogs::userProviders_data()
{
    QTest::addColumn<bool>("unreadableRow");
    QTest::addColumn<int>("preferred");
    QTest::addColumn<QString>("choice"); // as for choose(); empty: untouched
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("current");
    QTest::addColumn<int>("handedBack");

    const QStringList all { "Default Provider", "Metro", "County", "Rural" };
    QTest::newRow("stored provider") << false << 7 << "" << all << "County" << 7;
    QTest::newRow("default provider") << false << 0 << "" << all << "Default Provider" << 0;
    QTest::newRow("Default Provider chosen") << false << 9 << "0" << all << "Default Provider" << 0;
    QTest::newRow("provider deleted") << false << 5 << "" << all << "" << 5;
    QTest::newRow("entry chosen, then text typed")
        << false << 9 << "1;typed:Nobody" << all << "Nobody" << 9;
    // The second provider cannot be read: the first stays offered, and no word is said.
    QTest::newRow("read fails") << true << 9 << "" << QStringList { "Default Provider", "Metro" }
                                << "" << 9;
}

void TestEntityDialogs::userProviders()
{
    QFETCH(bool, unreadableRow);
    QFETCH(int, preferred);
    QFETCH(QString, choice);
    QFETCH(QStringList, shown);
    QFETCH(QString, current);
    QFETCH(int, handedBack);
    PresetPrompt prompt;
    for (const auto& [id, name] : { std::pair(4, "Metro"), { 7, "County" }, { 9, "Rural" } })
        m_db->exec("INSERT INTO ServiceProviders (ID, ServiceName) VALUES (?, ?)", { id, name });
    if (unreadableRow)
        m_db->exec("UPDATE ServiceProviders SET BaudRate = 'fast' WHERE ID = 7");

    CUserDlg dlg({});
    dlg.m_nPreferredProvider = preferred;
    showAndWait(dlg);
    QComboBox* providers = combo(dlg, "providerCombo");
    QCOMPARE(entries(providers), shown);
    if (!choice.isEmpty())
        choose(providers, choice);
    QCOMPARE(providers->currentText(), current);
    dlg.accept();
    QCOMPARE(dlg.m_nPreferredProvider, handedBack);
    QVERIFY(prompt.shown.isEmpty());
}

// Groups are listed case-insensitively sorted; a click toggles an entry; OK hands
// back every chosen ID in list order, however many, and none of a group that is gone.
void TestEntityDialogs::userGroupsToggleAndComeBackSorted()
{
    const QStringList names { "kilo", "Alpha", "juliet", "Echo", "bravo", "Golf", "delta", "Hotel",
        "charlie", "India", "foxtrot", "Lima" };
    std::vector<GroupChoice> groups;
    for (int i = 0; i < names.size(); ++i)
        groups.push_back({ 100 + i, names[i] });
    CUserDlg dlg(groups);
    dlg.m_listGroupIds = { 103, 999, 101 }; // Echo, a deleted group, Alpha
    showAndWait(dlg);
    auto* list = dlg.findChild<QListWidget*>("groupList");
    QStringList listed;
    QStringList selected;
    for (int row = 0; row < list->count(); ++row) {
        listed << list->item(row)->text();
        if (list->item(row)->isSelected())
            selected << list->item(row)->text();
    }
    QCOMPARE(listed.join(' '),
        QString("Alpha bravo charlie delta Echo foxtrot Golf Hotel India juliet kilo Lima"));
    QCOMPARE(selected, QStringList({ "Alpha", "Echo" }));

    // Clicking every entry once turns Alpha and Echo off and all the others on; Alpha
    // and Echo are clicked once more.
    const auto click = [list](int row) {
        list->scrollToItem(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
            list->visualItemRect(list->item(row)).center());
    };
    for (int row = 0; row < list->count(); ++row)
        click(row);
    QCOMPARE(list->selectedItems().size(), 10);
    click(0);
    click(4);
    dlg.accept();
    const std::vector<std::int32_t> alphabetical { 101, 104, 108, 106, 103, 110, 105, 107, 109, 102,
        100, 111 };
    QCOMPARE(dlg.m_listGroupIds, alphabetical);
}

void TestEntityDialogs::providerShowsMembers_data()
{
    QTest::addColumn<QList<int>>("members"); // baud, stop bits, parity, data bits, default
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QList<int>>("handedBack"); // after OK with nothing changed

    QTest::newRow("new provider") << QList { 9600, 1, 0, 8, 0 }
                                  << QStringList { "9600", "1", "None", "8", "off" }
                                  << QList { 9600, 1, 0, 8, 0 };
    QTest::newRow("first entries")
        << QList { 300, 1, 1, 7, 1 } << QStringList { "300", "1", "Even", "7", "on" }
        << QList { 300, 1, 1, 7, 1 };
    QTest::newRow("last entries") << QList { 38400, 2, 2, 8, 1 }
                                  << QStringList { "38400", "2", "Odd", "8", "on" }
                                  << QList { 38400, 2, 2, 8, 1 };
    QTest::newRow("values outside the lists")
        << QList { 57600, 3, 5, 6, 2 } << QStringList { "38400", "1", "None", "8", "off" }
        << QList { 38400, 1, 0, 8, 0 };
    QTest::newRow("negative values")
        << QList { -1, -1, -1, -1, -1 } << QStringList { "38400", "1", "None", "8", "off" }
        << QList { 38400, 1, 0, 8, 0 };
}

void TestEntityDialogs::providerShowsMembers()
{
    QFETCH(QList<int>, members);
    QFETCH(QStringList, shown);
    QFETCH(QList<int>, handedBack);
    CServiceProviderDlg dlg;
    dlg.m_nBaudRate = members[0];
    dlg.m_nStopBits = members[1];
    dlg.m_nParity = members[2];
    dlg.m_nDataBits = members[3];
    dlg.m_bUseAsDefault = members[4];
    showAndWait(dlg);
    QCOMPARE(
        QStringList({ combo(dlg, "baudRateCombo")->currentText(),
            combo(dlg, "stopBitsCombo")->currentText(), combo(dlg, "parityCombo")->currentText(),
            combo(dlg, "dataBitsCombo")->currentText(),
            dlg.findChild<QCheckBox*>("useAsDefaultCheck")->isChecked() ? "on" : "off" }),
        shown);
    dlg.accept();
    QCOMPARE(QList<int>({ dlg.m_nBaudRate, dlg.m_nStopBits, dlg.m_nParity, dlg.m_nDataBits,
                 dlg.m_bUseAsDefault }),
        handedBack);
}

void TestEntityDialogs::providerReadsSelections_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("choice"); // as for choose()
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QList<int>>("handedBack"); // baud, stop bits, parity, data bits

    const auto row = [](const char* name, const char* box, const char* choice,
                         QList<int> handedBack, bool cancel = false) {
        QTest::newRow(name) << QString(box) << QString(choice) << cancel << handedBack;
    };
    // The dialog opens on 9600, 1, Even, 7.
    row("300 baud", "baudRateCombo", "0", { 300, 1, 1, 7 });
    row("19200 baud", "baudRateCombo", "6", { 19200, 1, 1, 7 });
    row("38400 baud", "baudRateCombo", "7", { 38400, 1, 1, 7 });
    row("rate typed", "baudRateCombo", "typed:57600", { 38400, 1, 1, 7 });
    row("no rate", "baudRateCombo", "-1", { 38400, 1, 1, 7 });
    row("2 stop bits", "stopBitsCombo", "1", { 9600, 2, 1, 7 });
    row("stop bits typed", "stopBitsCombo", "typed:1.5", { 9600, 2, 1, 7 });
    row("odd parity", "parityCombo", "2", { 9600, 1, 2, 7 });
    row("parity typed", "parityCombo", "typed:Mark", { 9600, 1, -1, 7 });
    row("no parity entry", "parityCombo", "-1", { 9600, 1, -1, 7 });
    row("8 data bits", "dataBitsCombo", "1", { 9600, 1, 1, 8 });
    row("data bits typed", "dataBitsCombo", "typed:6", { 9600, 1, 1, 8 });
    row("cancelled, no rate", "baudRateCombo", "-1", { 38400, 1, 1, 7 }, true);
}

void TestEntityDialogs::providerReadsSelections()
{
    QFETCH(QString, box);
    QFETCH(QString, choice);
    QFETCH(bool, cancel);
    QFETCH(QList<int>, handedBack);
    CServiceProviderDlg dlg;
    dlg.m_nBaudRate = 9600;
    dlg.m_nStopBits = 1;
    dlg.m_nParity = 1;
    dlg.m_nDataBits = 7;
    showAndWait(dlg);
    choose(combo(dlg, box.toLatin1()), choice);
    dlg.findChild<QLineEdit*>("nameEdit")->setText("Metro");
    cancel ? dlg.reject() : dlg.accept();
    QCOMPARE(QList<int>({ dlg.m_nBaudRate, dlg.m_nStopBits, dlg.m_nParity, dlg.m_nDataBits }),
        handedBack);
    QCOMPARE(dlg.m_strName, QString("Metro"));
}

void TestEntityDialogs::textFieldsHoldAColumnsLength_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("field");

    const auto row = [](const char* name, const char* dialog, const char* field) {
        QTest::newRow(name) << QString(dialog) << QString(field);
    };
    row("user name", "user", "nameEdit");
    row("telephone number", "user", "phoneEdit");
    row("group name", "group", "nameEdit");
    row("service name", "provider", "nameEdit");
    row("access number", "provider", "accessNumberEdit");
}

void TestEntityDialogs::textFieldsHoldAColumnsLength()
{
    QFETCH(QString, dialog);
    QFETCH(QString, field);
    const std::unique_ptr<QDialog> dlg = makeDialog(dialog);
    showAndWait(*dlg);
    auto* edit = dlg->findChild<QLineEdit*>(field);
    QTest::keyClicks(edit, QString(256, 'x') + "yz");
    QCOMPARE(edit->text(), QString(255, 'x'));
}

void TestEntityDialogs::enterAcceptsEscapeCancels_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("result");

    const auto row = [](const char* name, const char* dialog, const char* field, Qt::Key key,
                         QDialog::DialogCode result) {
        QTest::newRow(name) << QString(dialog) << QString(field) << int(key) << int(result);
    };
    row("user, Enter", "user", "phoneEdit", Qt::Key_Return, QDialog::Accepted);
    row("user, Escape", "user", "nameEdit", Qt::Key_Escape, QDialog::Rejected);
    row("group, Enter", "group", "nameEdit", Qt::Key_Return, QDialog::Accepted);
    row("provider, Enter in a list", "provider", "parityCombo", Qt::Key_Enter, QDialog::Accepted);
    row("provider, Escape", "provider", "accessNumberEdit", Qt::Key_Escape, QDialog::Rejected);
}

void TestEntityDialogs::enterAcceptsEscapeCancels()
{
    QFETCH(QString, dialog);
    QFETCH(QString, field);
    QFETCH(int, key);
    QFETCH(int, result);
    const std::unique_ptr<QDialog> dlg = makeDialog(dialog);
    showAndWait(*dlg);
    auto* target = dlg->findChild<QWidget*>(field);
    target->setFocus();
    QTest::keyClick(target, Qt::Key(key));
    QVERIFY(!dlg->isVisible());
    QCOMPARE(dlg->result(), result);
}

QTEST_MAIN(TestEntityDialogs)
#include "test_entity_dialogs.moc"

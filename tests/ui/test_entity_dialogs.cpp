// The user, group and service provider dialogs on their own: what they show for the
// members preset, and what they hand back for what the operator chose or typed.
#include "PresetPrompt.h"
#include "TempDatabase.h"
#include "carrier/CarrierAddress.h"
#include "platform/telephony/DialString.h"
#include "ui/ServiceProviderDlg.h"
#include "ui/UserDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
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

    void userProviders_data()
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
        QTest::newRow("Default Provider chosen")
            << false << 9 << "0" << all << "Default Provider" << 0;
        QTest::newRow("provider deleted") << false << 5 << "" << all << "" << 5;
        QTest::newRow("entry chosen, then text typed")
            << false << 9 << "1;typed:Nobody" << all << "Nobody" << 9;
        // The second provider cannot be read: the first stays offered, and no word is said.
        QTest::newRow("read fails")
            << true << 9 << "" << QStringList { "Default Provider", "Metro" } << "" << 9;
    }

    void userProviders()
    {
        QFETCH(bool, unreadableRow);
        QFETCH(int, preferred);
        QFETCH(QString, choice);
        QFETCH(QStringList, shown);
        QFETCH(QString, current);
        QFETCH(int, handedBack);
        PresetPrompt prompt;
        for (const auto& [id, name] : { std::pair(4, "Metro"), { 7, "County" }, { 9, "Rural" } })
            m_db->exec(
                "INSERT INTO ServiceProviders (ID, ServiceName) VALUES (?, ?)", { id, name });
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
        // Enter, even in a list's field, is OK.
        QTest::keyClick(providers, Qt::Key_Enter);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.m_nPreferredProvider, handedBack);
        QVERIFY(prompt.shown.isEmpty());
    }

    // Baud rate, stop bits, parity, data bits and "Use as default", in that order: the
    // numbers preset, what the lists show for them, the choice made in each list (as for
    // choose(), separated by "|"; empty: untouched), and the numbers handed back.
    void providerLineSettings_data()
    {
        QTest::addColumn<QString>("members");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("choices");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("handedBack");
        const auto row = [](const char* name, const char* members, const char* shown,
                             const char* choices, const char* handedBack, bool cancel = false) {
            QTest::newRow(name) << QString(members) << QString(shown) << QString(choices) << cancel
                                << QString(handedBack);
        };
        row("first entries", "300 1 1 7 1", "300 1 Even 7 on", "", "300 1 1 7 1");
        row("last entries", "38400 2 2 8 1", "38400 2 Odd 8 on", "", "38400 2 2 8 1");
        row("outside the lists", "57600 3 5 6 2", "38400 1 None 8 off", "", "38400 1 0 8 0");
        row("negative", "-1 -1 -1 -1 -1", "38400 1 None 8 off", "", "38400 1 0 8 0");
        row("entries chosen", "9600 1 1 7 0", "9600 1 Even 7 off", "6|1|2|1", "19200 2 2 8 0");
        row("no entries chosen", "9600 1 1 7 0", "9600 1 Even 7 off", "-1|-1|-1|-1",
            "38400 2 -1 8 0");
        row("texts typed", "9600 1 1 7 0", "9600 1 Even 7 off",
            "typed:57600|typed:1.5|typed:Mark|typed:6", "38400 2 -1 8 0");
        row("cancelled", "300 1 1 7 1", "300 1 Even 7 on", "-1|0||", "38400 1 1 7 1", true);
    }

    // What the lists show for the numbers preset, and the numbers they give back on closing,
    // whether by OK or by Cancel.
    void providerLineSettings()
    {
        QFETCH(QString, members);
        QFETCH(QString, shown);
        QFETCH(QString, choices);
        QFETCH(bool, cancel);
        QFETCH(QString, handedBack);
        CServiceProviderDlg dlg;
        const QStringList preset = members.split(' ');
        dlg.m_nBaudRate = preset[0].toInt();
        dlg.m_nStopBits = preset[1].toInt();
        dlg.m_nParity = preset[2].toInt();
        dlg.m_nDataBits = preset[3].toInt();
        dlg.m_bUseAsDefault = preset[4].toInt();
        showAndWait(dlg);
        QStringList texts;
        const char* lists[] = { "baudRateCombo", "stopBitsCombo", "parityCombo", "dataBitsCombo" };
        for (int i = 0; i < 4; ++i) {
            texts << combo(dlg, lists[i])->currentText();
            if (!choices.split('|').value(i).isEmpty())
                choose(combo(dlg, lists[i]), choices.split('|').value(i));
        }
        texts << (dlg.findChild<QCheckBox*>("useAsDefaultCheck")->isChecked() ? "on" : "off");
        QCOMPARE(texts.join(' '), shown);
        // A Text column holds 255 characters; the field takes no more.
        QTest::keyClicks(dlg.findChild<QLineEdit*>("accessNumberEdit"), QString(256, '5') + "#");
        // Enter, even in a list's field, is OK; Escape is Cancel.
        QTest::keyClick(combo(dlg, "parityCombo"), cancel ? Qt::Key_Escape : Qt::Key_Enter);
        QCOMPARE(dlg.result(), int(cancel ? QDialog::Rejected : QDialog::Accepted));
        QVERIFY(!dlg.isVisible());
        QCOMPARE(QString::asprintf("%d %d %d %d %d", dlg.m_nBaudRate, dlg.m_nStopBits,
                     dlg.m_nParity, dlg.m_nDataBits, dlg.m_bUseAsDefault),
            handedBack);
        QCOMPARE(dlg.m_strAccessNumber, QString(255, '5'));
    }

    void providerPassword_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed"); // "-" leaves the field alone
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("handedBack");
        QTest::addColumn<QString>("accessNumber");

        const QString phone = "5551234";
        const QString url = "https://wctp.example.net/wctp";
        const QString printable64
            = QString("Az9!#$%&'()*+,-./:;<=>?@[]^_`{|}~").repeated(2).left(64);
        QTest::newRow("kept as stored") << QString("abc1") << "-" << true << "abc1" << phone;
        QTest::newRow("typed") << QString("") << "Pw12" << true << "Pw12" << phone;
        QTest::newRow("cleared: no password") << QString("abc1") << "" << true << "" << phone;
        QTest::newRow("seven characters refused")
            << QString("") << "abcdefg" << false << "abcdefg" << phone;
        QTest::newRow("punctuation refused") << QString("") << "ab c!" << false << "ab c!" << phone;
        QTest::newRow("accented letter refused")
            << QString("") << "caf\u00e9" << false << "caf\u00e9" << phone;
        QTest::newRow("URL provider: 64 printable characters")
            << QString("") << printable64 << true << printable64 << url;
        QTest::newRow("URL provider: 65 refused")
            << QString("") << printable64 + "x" << false << printable64 + "x" << url;
        QTest::newRow("URL provider: space refused")
            << QString("") << "a b" << false << "a b" << url;
    }

    // The password field is masked; OK takes what a log-on can carry and keeps the dialog
    // open, with what was typed, for anything else. (Its way into the table is seen in
    // test_record_commands.)
    void providerPassword()
    {
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        QFETCH(QString, handedBack);
        QFETCH(QString, accessNumber);

        PresetPrompt prompt;
        CServiceProviderDlg dlg;
        dlg.m_strPassword = stored;
        dlg.m_strAccessNumber = accessNumber;
        showAndWait(dlg);
        auto* field = dlg.findChild<QLineEdit*>("passwordEdit");
        QCOMPARE(field->echoMode(), QLineEdit::Password);
        QCOMPARE(field->text(), stored);
        if (typed != "-") {
            field->clear();
            field->insert(typed); // as typed; keyClicks takes ASCII only
        }
        dlg.accept();
        QCOMPARE(dlg.isVisible(), !accepted);
        const QString told = IsCarrierUrl(accessNumber) ? CServiceProviderDlg::kBadUrlPassword
                                                        : CServiceProviderDlg::kBadPassword;
        QCOMPARE(prompt.shown, accepted ? QStringList() : QStringList { told });
        if (!accepted)
            dlg.reject();
        QCOMPARE(dlg.m_strPassword, handedBack);
    }

    void providerAccessNumber_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("told"); // empty: taken
        QTest::newRow("a number as people write it") << "(555) 123-4567" << QString();
        QTest::newRow("host:port, for a TCP line") << "paging.example.net:444" << QString();
        QTest::newRow("a second modem command refused")
            << "5551234;ATH" << BadAccessNumberText(";");
        QTest::newRow("a URL, for a carrier") << "snpps://LOGIN@snpp.example.net" << QString();
        QTest::newRow("a malformed URL refused")
            << "snpp://pager.example.net:0"
            << BadCarrierAddressText(ParseCarrierAddress("snpp://pager.example.net:0").refusal);
    }

    // OK takes an access number a modem can dial or a TCP line can reach, as typed, and keeps
    // the dialog open with what was typed for anything else.
    void providerAccessNumber()
    {
        QFETCH(QString, typed);
        QFETCH(QString, told);
        PresetPrompt prompt;
        CServiceProviderDlg dlg;
        showAndWait(dlg);
        dlg.findChild<QLineEdit*>("accessNumberEdit")->insert(typed);
        dlg.accept();
        QCOMPARE(dlg.isVisible(), !told.isEmpty());
        QCOMPARE(prompt.shown, told.isEmpty() ? QStringList() : QStringList { told });
        dlg.reject();
        QCOMPARE(dlg.m_strAccessNumber, typed);
    }

private:
    std::unique_ptr<TempDatabase> m_db;
};

QTEST_MAIN(TestEntityDialogs)
#include "test_entity_dialogs.moc"

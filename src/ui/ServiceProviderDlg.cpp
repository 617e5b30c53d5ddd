#include "ui/ServiceProviderDlg.h"

#include "carrier/CarrierAddress.h"
#include "platform/Prompt.h"
#include "platform/telephony/DialString.h"
#include "ui/DialogControls.h"
#include "ui/DialogUnits.h"

#include <QCheckBox>
#include <QFormLayout>
#include <algorithm>
#include <array>

namespace {

// The entries of the baud rate box, in order. The last one also stands for any rate
// that is not among the others, and for a box with no entry chosen.
constexpr std::array<std::int32_t, 8> kBaudRates { 300, 600, 1200, 2400, 4800, 9600, 19200, 38400 };

void addEntries(QComboBox* box, const QStringList& entries)
{
    box->addItems(entries);
    box->setMinimumWidth(DialogUnits(*box).width(74));
}

} // namespace

CServiceProviderDlg::CServiceProviderDlg(QWidget* parent)
    : CDialog(parent)
{
    setWindowTitle(QStringLiteral("Service Provider Details"));
    CreateControls();
}

CServiceProviderDlg::~CServiceProviderDlg() = default;

void CServiceProviderDlg::CreateControls()
{
    m_editName = NewTextField(this, QStringLiteral("nameEdit"));
    m_editAccessNumber = NewTextField(this, QStringLiteral("accessNumberEdit"));
    m_comboBaudRate = NewEditableCombo(this, QStringLiteral("baudRateCombo"));
    m_comboStopBits = NewEditableCombo(this, QStringLiteral("stopBitsCombo"));
    m_comboParity = NewEditableCombo(this, QStringLiteral("parityCombo"));
    m_comboDataBits = NewEditableCombo(this, QStringLiteral("dataBitsCombo"));
    m_editPassword = NewTextField(this, QStringLiteral("passwordEdit"));
    m_editPassword->setEchoMode(QLineEdit::Password);
    m_checkDefault = new QCheckBox(QStringLiteral("Use as default"), this);
    m_checkDefault->setObjectName(QStringLiteral("useAsDefaultCheck"));
    QPushButton* ok = NewOkButton(this);
    QPushButton* cancel = NewCancelButton(this);

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("Name"), m_editName);
    fields->addRow(QStringLiteral("Access Number"), m_editAccessNumber);
    fields->addRow(QStringLiteral("Baud Rate"), m_comboBaudRate);
    fields->addRow(QStringLiteral("Stop Bits"), m_comboStopBits);
    fields->addRow(QStringLiteral("Parity"), m_comboParity);
    fields->addRow(QStringLiteral("Data Bits"), m_comboDataBits);
    fields->addRow(QStringLiteral("Password"), m_editPassword);
    fields->addRow(QString(), m_checkDefault);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(fields, 1);
    layout->addLayout(buttons);

    QWidget* const order[] = { m_editName, m_editAccessNumber, m_comboBaudRate, m_comboStopBits,
        m_comboParity, m_comboDataBits, m_editPassword, m_checkDefault, ok, cancel };
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

bool CServiceProviderDlg::OnInitDialog()
{
    m_editName->setText(m_strName);
    m_editAccessNumber->setText(m_strAccessNumber);
    m_editPassword->setText(m_strPassword);

    QStringList rates;
    for (std::int32_t rate : kBaudRates)
        rates << QString::number(rate);
    addEntries(m_comboBaudRate, rates);
    const auto rate = std::find(kBaudRates.begin(), kBaudRates.end() - 1, m_nBaudRate);
    m_comboBaudRate->setCurrentIndex(int(rate - kBaudRates.begin()));

    addEntries(m_comboStopBits, { QStringLiteral("1"), QStringLiteral("2") });
    m_comboStopBits->setCurrentIndex(m_nStopBits == 2 ? 1 : 0);

    addEntries(m_comboDataBits, { QStringLiteral("7"), QStringLiteral("8") });
    m_comboDataBits->setCurrentIndex(m_nDataBits == 7 ? 0 : 1);

    addEntries(
        m_comboParity, { QStringLiteral("None"), QStringLiteral("Even"), QStringLiteral("Odd") });
    if (m_nParity < 0 || m_nParity > 2)
        m_nParity = 0;
    m_comboParity->setCurrentIndex(m_nParity);

    m_checkDefault->setChecked(m_bUseAsDefault == 1);
    return true;
}

bool CServiceProviderDlg::IsValidPassword(const QString& password)
{
    return password.size() <= kMaxPasswordLength
        && std::all_of(password.begin(), password.end(),
            [](QChar c) { return c.unicode() < 0x80 && c.isLetterOrNumber(); });
}

bool CServiceProviderDlg::IsValidPassword(const QString& password, const QString& accessNumber)
{
    if (!IsCarrierUrl(accessNumber))
        return IsValidPassword(password);
    // A space would end the secret in an SNPP log-in line.
    return password.size() <= kMaxUrlPasswordLength
        && std::all_of(password.begin(), password.end(),
            [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; });
}

std::optional<QString> CServiceProviderDlg::AccessNumberRefusal(const QString& accessNumber)
{
    // A modem would take a character such as ";" as the start of commands of its own; a
    // TCP line's host:port is not dialled, nor is a URL, which must be well formed.
    const CarrierAddress address = ParseCarrierAddress(accessNumber);
    if (!address.IsUsable())
        return BadCarrierAddressText(address.refusal);
    if (!address.NeedsLineDevice())
        return std::nullopt;
    if (const std::optional<QString> refused = UncallableCharacter(accessNumber))
        return BadAccessNumberText(*refused);
    return std::nullopt;
}

void CServiceProviderDlg::accept()
{
    const QString accessNumber = m_editAccessNumber->text();
    if (const std::optional<QString> refused = AccessNumberRefusal(accessNumber)) {
        Prompt::current().inform(*refused);
        m_editAccessNumber->setFocus();
        return;
    }
    if (!IsValidPassword(m_editPassword->text(), accessNumber)) {
        Prompt::current().inform(IsCarrierUrl(accessNumber) ? kBadUrlPassword : kBadPassword);
        m_editPassword->setFocus();
        return;
    }
    CDialog::accept();
}

void CServiceProviderDlg::done(int result)
{
    OnDestroy();
    QDialog::done(result);
}

void CServiceProviderDlg::OnDestroy()
{
    m_strName = m_editName->text();
    m_strAccessNumber = m_editAccessNumber->text();
    m_strPassword = m_editPassword->text();
    m_nParity = SelectedEntry(*m_comboParity);
    m_nDataBits = SelectedEntry(*m_comboDataBits) == 0 ? 7 : 8;
    m_nStopBits = SelectedEntry(*m_comboStopBits) == 0 ? 1 : 2;
    const int rate = SelectedEntry(*m_comboBaudRate);
    m_nBaudRate = rate >= 0 ? kBaudRates.at(std::size_t(rate)) : kBaudRates.back();
    m_bUseAsDefault = m_checkDefault->isChecked() ? 1 : 0;
}

#include "ui/UserDlg.h"

#include "data/Recordsets.h"
#include "platform/LogCategories.h"
#include "platform/db/DaoException.h"
#include "ui/DialogControls.h"
#include "ui/DialogUnits.h"

#include <QFormLayout>
#include <QLabel>
#include <QListWidget>

CUserDlg::CUserDlg(std::vector<RecordChoice> groups, QWidget* parent)
    : CDialog(parent)
    , m_groups(std::move(groups))
{
    setWindowTitle(QStringLiteral("Enter Information about the User"));
    CreateControls();
}

CUserDlg::~CUserDlg() = default;

void CUserDlg::CreateControls()
{
    m_editName = NewTextField(this, QStringLiteral("nameEdit"));
    m_editPhone = NewTextField(this, QStringLiteral("phoneEdit"));
    m_comboProviders = NewEditableCombo(this, QStringLiteral("providerCombo"));
    m_listGroups = NewChoiceList(this, QStringLiteral("groupList"));
    m_listGroups->setMinimumSize(DialogUnits(*this).width(172), fontMetrics().height() * 8);
    QPushButton* cancel = NewCancelButton(this);
    QPushButton* ok = NewOkButton(this);

    auto* fields = new QFormLayout;
    fields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    fields->addRow(QStringLiteral("Name:"), m_editName);
    fields->addRow(QStringLiteral("Phone Number:"), m_editPhone);
    fields->addRow(QStringLiteral("Preferred Provider:"), m_comboProviders);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(ok);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(new QLabel(QStringLiteral("Groups"), this));
    layout->addWidget(m_listGroups, 1);
    layout->addLayout(buttons);

    setTabOrder(m_editName, m_editPhone);
    setTabOrder(m_editPhone, m_comboProviders);
    setTabOrder(m_comboProviders, m_listGroups);
    setTabOrder(m_listGroups, cancel);
    setTabOrder(cancel, ok);
}

bool CUserDlg::OnInitDialog()
{
    m_editName->setText(m_strName);
    m_editPhone->setText(m_strPhone);
    FillProviders();
    FillGroups();
    return true;
}

void CUserDlg::FillProviders()
{
    m_comboProviders->addItem(QStringLiteral("Default Provider"), 0);
    int selected = m_nPreferredProvider == 0 ? 0 : -1;
    try {
        CServiceProvidersRecordset providers;
        providers.Open();
        while (!providers.IsEOF() && !providers.IsBOF()) {
            m_comboProviders->addItem(providers.m_ServiceName, providers.m_ID);
            if (providers.m_ID == m_nPreferredProvider)
                selected = m_comboProviders->count() - 1;
            providers.MoveNext();
        }
    } catch (const CDaoException& failure) {
        // The entries read so far are offered; the operator can still keep the stored
        // provider, which stays unless an entry is chosen.
        qCWarning(lcDatabase, "The service providers could not all be read: %s", failure.what());
    }
    // A provider that is gone shows as no choice at all, rather than as another one.
    m_comboProviders->setCurrentIndex(selected);
}

void CUserDlg::FillGroups()
{
    FillChoiceList(m_listGroups, m_groups, m_listGroupIds);
}

void CUserDlg::accept()
{
    OnOK();
}

void CUserDlg::OnOK()
{
    const int provider = SelectedEntry(*m_comboProviders);
    if (provider >= 0)
        m_nPreferredProvider = m_comboProviders->itemData(provider).toInt();
    m_listGroupIds = ChosenIds(*m_listGroups);
    m_strName = m_editName->text();
    m_strPhone = m_editPhone->text();
    QDialog::accept();
}

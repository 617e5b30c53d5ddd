#include "modem/SelectModemDlg.h"

#include "modem/ModemList.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QPushButton>

CSelectModemDlg::CSelectModemDlg(CModemList& modems, QWidget* parent)
    : CDialog(parent)
    , m_modems(modems)
{
    setWindowTitle(QStringLiteral("Select the mdoem that you want to use"));
    m_comboModems = new QComboBox(this);
    m_comboModems->setObjectName(QStringLiteral("modemCombo"));
    m_comboModems->setEditable(true);
    m_comboModems->setInsertPolicy(QComboBox::NoInsert);
    m_comboModems->setMinimumWidth(200);

    auto* buttons = new QDialogButtonBox(Qt::Vertical, this);
    QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CSelectModemDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSelectModemDlg::reject);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_comboModems, 1, Qt::AlignTop);
    layout->addWidget(buttons);
}

CSelectModemDlg::~CSelectModemDlg() = default;

bool CSelectModemDlg::OnInitDialog()
{
    m_modems.Discover();
    m_nSelectedDevice = m_modems.SelectedDevice();
    m_comboModems->clear();
    for (int device = 0; device < m_modems.DeviceCount(); ++device) {
        m_comboModems->addItem(m_modems.DeviceName(device), device);
        if (device == m_nSelectedDevice)
            m_comboModems->setCurrentIndex(m_comboModems->count() - 1);
    }
    if (m_nSelectedDevice == CModemList::kNoDevice)
        m_comboModems->setCurrentIndex(-1);
    return true;
}

void CSelectModemDlg::accept()
{
    OnOK();
}

void CSelectModemDlg::OnOK()
{
    const int current = m_comboModems->currentIndex();
    if (current >= 0)
        m_nSelectedDevice = m_comboModems->itemData(current).toInt();
    QDialog::accept();
}

#include "ui/GroupDlg.h"

#include "ui/EntityDlgSupport.h"

#include <QBoxLayout>

CGroupDlg::CGroupDlg(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Enter the name for the group"));
    m_editName = NewTextField(this, QStringLiteral("nameEdit"));
    m_editName->setMinimumWidth(DialogUnitsWide(*this, 105));
    QPushButton* ok = NewOkButton(this);
    QPushButton* cancel = NewCancelButton(this);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_editName, 1, Qt::AlignVCenter);
    layout->addLayout(buttons);
    setTabOrder(m_editName, ok);
    setTabOrder(ok, cancel);
}

CGroupDlg::~CGroupDlg() = default;

void CGroupDlg::setVisible(bool visible)
{
    if (visible && !m_bInitialised) {
        m_bInitialised = true;
        m_editName->setText(m_strName);
    }
    QDialog::setVisible(visible);
}

void CGroupDlg::accept()
{
    m_strName = m_editName->text();
    QDialog::accept();
}

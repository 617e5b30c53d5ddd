#include "ui/GroupDlg.h"

#include "ui/DialogControls.h"
#include "ui/DialogUnits.h"

#include <QBoxLayout>

CGroupDlg::CGroupDlg(QWidget* parent)
    : CDialog(parent)
{
    setWindowTitle(QStringLiteral("Enter the name for the group"));
    m_editName = NewTextField(this, QStringLiteral("nameEdit"));
    m_editName->setMinimumWidth(DialogUnits(*this).width(105));
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

bool CGroupDlg::OnInitDialog()
{
    m_editName->setText(m_strName);
    return true;
}

void CGroupDlg::accept()
{
    m_strName = m_editName->text();
    QDialog::accept();
}

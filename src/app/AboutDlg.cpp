#include "app/AboutDlg.h"

#include "res/CategoryImages.h"
#include "res/MenuResources.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent)
{
    setObjectName("aboutBox");
    setWindowTitle(Res::kAboutTitle);

    auto* icon = new QLabel(this);
    icon->setObjectName("aboutIcon");
    icon->setPixmap(Res::ProgramIcon().pixmap(32, 32));

    auto* version = new QLabel(Res::kAboutVersion, this);
    version->setObjectName("aboutVersion");

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("aboutOk");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(version, 1);
    row->addWidget(ok, 0, Qt::AlignTop);
    setLayout(row);
}

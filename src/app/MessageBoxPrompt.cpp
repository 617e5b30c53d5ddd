#include "app/MessageBoxPrompt.h"

#include "res/MenuResources.h"

#include <QApplication>
#include <QMessageBox>

MessageBoxPrompt::MessageBoxPrompt()
{
    Prompt::install(this);
}

MessageBoxPrompt::~MessageBoxPrompt()
{
    Prompt::install(nullptr);
}

void MessageBoxPrompt::inform(const QString& text)
{
    QMessageBox::information(QApplication::activeWindow(), Res::kAppTitle, text, QMessageBox::Ok);
}

bool MessageBoxPrompt::askYesNo(const QString& text)
{
    return QMessageBox::question(QApplication::activeWindow(), Res::kAppTitle, text,
               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
        == QMessageBox::Yes;
}

#include "app/MessageBoxPrompt.h"

#include "res/MenuResources.h"

#include <QMessageBox>

MessageBoxPrompt::MessageBoxPrompt(std::function<QWidget*()> mainWindow)
    : m_mainWindow(std::move(mainWindow))
{
    Prompt::install(this);
}

MessageBoxPrompt::~MessageBoxPrompt()
{
    Prompt::install(nullptr);
}

void MessageBoxPrompt::inform(const QString& text)
{
    QMessageBox::information(m_mainWindow(), Res::kAppTitle, text, QMessageBox::Ok);
}

bool MessageBoxPrompt::askYesNo(const QString& text)
{
    return QMessageBox::question(m_mainWindow(), Res::kAppTitle, text,
               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
        == QMessageBox::Yes;
}

#include "app/MessageBoxPrompt.h"

#include "res/MenuResources.h"

#include <QMessageBox>

namespace {

// The texts name records and pager IDs and quote database errors, none of them markup.
int runBox(QWidget* parent, QMessageBox::Icon icon, const QString& text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, Res::kAppTitle, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    return box.exec();
}

} // namespace

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
    runBox(m_mainWindow(), QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool MessageBoxPrompt::askYesNo(const QString& text)
{
    return runBox(m_mainWindow(), QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No,
               QMessageBox::Yes)
        == QMessageBox::Yes;
}

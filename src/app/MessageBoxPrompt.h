#pragma once

#include "platform/Prompt.h"

#include <functional>

class QWidget;

// The desktop program's prompt: a modal QMessageBox titled with the program's name,
// its text shown as plain text, installed for the lifetime of the object. Boxes are
// parented to the main window, never to the active one: that may be the sending
// window, which deletes itself when its send ends, possibly while the box is still
// open.
class MessageBoxPrompt final : public Prompt
{
public:
    // mainWindow is asked for the parent each time a box opens; it may give nullptr.
    explicit MessageBoxPrompt(std::function<QWidget*()> mainWindow);
    ~MessageBoxPrompt() override;

    MessageBoxPrompt(const MessageBoxPrompt&) = delete;
    MessageBoxPrompt& operator=(const MessageBoxPrompt&) = delete;

    void inform(const QString& text) override;
    bool askYesNo(const QString& text) override;

private:
    std::function<QWidget*()> m_mainWindow;
};

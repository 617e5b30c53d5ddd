#pragma once

#include "platform/Prompt.h"

// The desktop program's prompt: a modal QMessageBox over the active window, titled
// with the program's name. Installed for the lifetime of the object.
class MessageBoxPrompt final : public Prompt
{
public:
    MessageBoxPrompt();
    ~MessageBoxPrompt() override;

    MessageBoxPrompt(const MessageBoxPrompt&) = delete;
    MessageBoxPrompt& operator=(const MessageBoxPrompt&) = delete;

    void inform(const QString& text) override;
    bool askYesNo(const QString& text) override;
};

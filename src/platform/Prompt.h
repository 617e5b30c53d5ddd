#pragma once

#include <QString>

// Everything the program says to the operator in a modal box goes through here, so
// that tests can preset the answers instead of waiting on a real message box. The
// desktop program installs a QMessageBox-backed prompt at start-up; without one,
// messages go to the log and questions are answered No.
class Prompt
{
public:
    virtual ~Prompt() = default;

    // A message box with an OK button.
    virtual void inform(const QString& text) = 0;
    // A question with Yes and No buttons; true for Yes.
    virtual bool askYesNo(const QString& text) = 0;

    static Prompt& current();
    // Installs the prompt used from now on (not owned); nullptr restores the default.
    static void install(Prompt* prompt);
};

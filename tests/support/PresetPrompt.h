#pragma once

#include "platform/Prompt.h"

#include <QStringList>

// A prompt whose answers are preset and whose messages are recorded, installed for
// the lifetime of the object.
class PresetPrompt final : public Prompt
{
public:
    PresetPrompt();
    ~PresetPrompt() override;

    void inform(const QString& text) override;
    bool askYesNo(const QString& text) override;

    // Answers given to the next questions, in order; No once they run out.
    QList<bool> answers;
    // Everything shown, in order, questions included.
    QStringList shown;
};

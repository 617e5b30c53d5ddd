#pragma once

#include "platform/Prompt.h"

#include <QStringList>

// A prompt whose answers are preset and whose messages are recorded, installed for
// the lifetime of the object.
class PresetPrompt final : public Prompt
{
public:
    PresetPrompt() { Prompt::install(this); }
    ~PresetPrompt() override { Prompt::install(nullptr); }

    void inform(const QString& text) override { shown.append(text); }
    bool askYesNo(const QString& text) override
    {
        shown.append(text);
        return answers.isEmpty() ? false : answers.takeFirst();
    }

    // Answers given to the next questions, in order; No once they run out.
    QList<bool> answers;
    // Everything shown, in order, questions included.
    QStringList shown;
};

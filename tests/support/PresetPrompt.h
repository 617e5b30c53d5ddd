#pragma once

#include "platform/Prompt.h"

#include <QStringList>
#include <functional>

// A prompt whose answers are preset and whose messages are recorded, installed for
// the lifetime of the object.
class PresetPrompt final : public Prompt
{
public:
    PresetPrompt() { Prompt::install(this); }
    ~PresetPrompt() override { Prompt::install(nullptr); }

    void inform(const QString& text) override
    {
        shown.append(text);
        if (whileInforming)
            whileInforming();
    }
    bool askYesNo(const QString& text) override
    {
        shown.append(text);
        if (whileAsking)
            whileAsking();
        return answers.isEmpty() ? false : answers.takeFirst();
    }

    // Answers given to the next questions, in order; No once they run out.
    QList<bool> answers;
    // Everything shown, in order, questions included.
    QStringList shown;
    // Run inside each question before it is answered, as an operator takes their time.
    std::function<void()> whileAsking;
    // Run inside each message before it is dismissed, as a message box's own event loop.
    std::function<void()> whileInforming;
};

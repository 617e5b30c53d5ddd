#include "PresetPrompt.h"

PresetPrompt::PresetPrompt()
{
    Prompt::install(this);
}

PresetPrompt::~PresetPrompt()
{
    Prompt::install(nullptr);
}

void PresetPrompt::inform(const QString& text)
{
    shown.append(text);
}

bool PresetPrompt::askYesNo(const QString& text)
{
    shown.append(text);
    return answers.isEmpty() ? false : answers.takeFirst();
}

#include "platform/Prompt.h"

#include <QtGlobal>

namespace {

class LogPrompt final : public Prompt
{
public:
    void inform(const QString& text) override { qWarning("%s", qUtf8Printable(text)); }
    bool askYesNo(const QString& text) override
    {
        qWarning("%s (answered No)", qUtf8Printable(text));
        return false;
    }
};

LogPrompt g_logPrompt;
Prompt* g_installed = nullptr;

} // namespace

Prompt& Prompt::current()
{
    return g_installed ? *g_installed : g_logPrompt;
}

void Prompt::install(Prompt* prompt)
{
    g_installed = prompt;
}

#pragma once

#include "PagingSimulator.h"

#include <QString>
#include <QStringList>

namespace quillpost::sim {

// What the command line asks for.
struct SimInvocation
{
    enum class Mode
    {
        Pty,
        Tcp
    };
    Mode mode = Mode::Pty;
    QString linkPath;
    quint16 tcpPort = 0;
    SimConfig config;
    bool helpShown = false; // --help: the text is in `message`, nothing to run
    QString message; // the help text, or why the arguments were refused
};

// Reads the arguments (arguments[0] is the program). Returns false with a reason
// in `message` when they are wrong; true otherwise, also for --help.
bool parseSimArguments(const QStringList& arguments, SimInvocation& invocation);

} // namespace quillpost::sim

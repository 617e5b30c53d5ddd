#include "platform/StopSignals.h"

#include "platform/LogCategories.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// [0] is written by the handler, [1] read on the event loop.
int g_pipe[2] = { -1, -1 };

void onStopSignal(int signalNumber)
{
    // Only async-signal-safe work here: one byte naming the signal.
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = write(g_pipe[0], &byte, 1);
}

void handle(int signalNumber, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(signalNumber, &action, nullptr) != 0)
        qCWarning(lcSend, "Cannot set what signal %d does: %s", signalNumber, strerror(errno));
}

} // namespace

CStopSignals::CStopSignals(QObject* parent)
    : QObject(parent)
{
    Q_ASSERT(g_pipe[0] < 0);
    // Without them a stop ends the program at once, in the middle of a send too.
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0) {
        qCWarning(lcSend, "Stop signals will end the program at once: %s", strerror(errno));
        return;
    }
    // A handler that could block on a full pipe would hang the program.
    if (fcntl(g_pipe[0], F_SETFL, O_NONBLOCK) != 0)
        qCWarning(lcSend, "Cannot keep the stop signal handler from blocking: %s", strerror(errno));
    m_pNotifier = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &CStopSignals::ReadSignal);
    handle(SIGTERM, onStopSignal);
    handle(SIGINT, onStopSignal);
}

CStopSignals::~CStopSignals()
{
    handle(SIGTERM, SIG_DFL);
    handle(SIGINT, SIG_DFL);
    delete m_pNotifier;
    for (int& fd : g_pipe) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}

void CStopSignals::ReadSignal()
{
    char byte = 0;
    if (read(g_pipe[1], &byte, 1) == 1)
        emit StopRequested(int(static_cast<unsigned char>(byte)));
}

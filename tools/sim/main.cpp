// quillpost-sim: the simulated modem and paging terminal as a command-line program.

#include "PagingSimulator.h"
#include "SimCommandLine.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

using namespace quillpost::sim;

namespace {

int g_signalPipe[2] = { -1, -1 };

void forwardSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

// Ends the event loop on SIGINT or SIGTERM, outside the signal handler.
void quitOnTerminationSignals(QCoreApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action
    {
    };
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

// Tells whoever watches the console about each page and call ending as it comes.
class ProgressReport
{
public:
    explicit ProgressReport(const PagingSimulator& sim)
        : m_sim(sim)
    {
    }

    void printNews(QTextStream& out)
    {
        const QList<AcceptedPage> pages = m_sim.pages();
        for (; m_pagesShown < pages.size(); ++m_pagesShown) {
            const AcceptedPage& page = pages[m_pagesShown];
            out << "call " << page.call << ": page for " << QString::fromLatin1(page.pagerId)
                << " (" << page.text.size() << " bytes) accepted" << Qt::endl;
        }
        const QList<CallRecord> ends = m_sim.callEnds();
        for (; m_endsShown < ends.size(); ++m_endsShown)
            out << "call " << ends[m_endsShown].call
                << " ended: " << callEndName(ends[m_endsShown].how) << Qt::endl;
    }

private:
    const PagingSimulator& m_sim;
    qsizetype m_pagesShown = 0;
    qsizetype m_endsShown = 0;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillpost-sim"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    SimInvocation invocation;
    if (!parseSimArguments(QCoreApplication::arguments(), invocation)) {
        err << invocation.message << Qt::endl << "Try --help." << Qt::endl;
        return 2;
    }
    if (invocation.helpShown) {
        out << invocation.message << Qt::flush;
        return 0;
    }

    PagingSimulator sim(invocation.config);
    const bool started = invocation.mode == SimInvocation::Mode::Pty
        ? sim.startPty(invocation.linkPath)
        : sim.startTcp(invocation.tcpPort);
    if (!started) {
        err << sim.errorString() << Qt::endl;
        return 1;
    }
    if (invocation.mode == SimInvocation::Mode::Pty)
        out << sim.slavePath() << Qt::endl;
    else
        out << "listening on 127.0.0.1:" << sim.tcpPort() << Qt::endl;

    quitOnTerminationSignals(app);
    ProgressReport report(sim);
    QTimer newsTimer;
    QObject::connect(&newsTimer, &QTimer::timeout, &app, [&] { report.printNews(out); });
    newsTimer.start(200);
    const int status = app.exec();
    sim.stop();
    report.printNews(out);
    return status;
}

#include "SoakDriver.h"

#include "SimulatedLine.h"
#include "dispatch/HeadlessDispatcher.h"
#include "modem/ModemList.h"

#include <QEventLoop>
#include <QTimer>
#include <cstdio>

namespace {

constexpr int kSchedulerMs = 20;
constexpr int kProgressEveryCalls = 100;

} // namespace

SoakDriver::SoakDriver(quillpost::sim::PagingSimulator& sim, SoakFaultPicker& faults,
    std::function<int()> waitingRows, SendTiming timing, bool verbose)
    : m_sim(sim)
    , m_faults(faults)
    , m_waitingRows(std::move(waitingRows))
    , m_timing(timing)
    , m_verbose(verbose)
{
}

bool SoakDriver::Run(int timeoutMs)
{
    CModemList modems([] { return kSimulatedLineName; });
    CHeadlessDispatcher dispatcher(
        modems, [this](const QString& line) { OnLogLine(line); }, kSchedulerMs, m_timing);
    QEventLoop loop;
    QObject::connect(
        &dispatcher, &CHeadlessDispatcher::Stopped, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    m_stopDispatcher = [&dispatcher] { dispatcher.Stop(); };

    bool timedOut = false;
    QTimer::singleShot(timeoutMs, &dispatcher, [&] {
        timedOut = true;
        dispatcher.Stop();
    });
    m_sim.setFaults(m_faults.Next());
    m_clock.start();
    dispatcher.Start();
    loop.exec();
    m_stopDispatcher = nullptr;
    return !timedOut;
}

void SoakDriver::OnLogLine(const QString& line)
{
    if (m_verbose)
        std::printf("%9.3f  %s\n", double(m_clock.elapsed()) / 1000.0, qPrintable(line));
    if (line.startsWith(QLatin1String("Error: "))
        || line.endsWith(QLatin1String("(answered No)"))) {
        m_operatorMessages << line;
        std::printf("  the program said: %s\n", qPrintable(line));
    }
    if (line.endsWith(CSendSession::kTimedOut))
        ++m_timedOutCalls;
    if (line.endsWith(QLatin1String(": call ended."))) {
        // Drawn at once: the next call cannot connect before this returns.
        m_sim.setFaults(m_faults.Next());
        if (m_verbose)
            std::printf(
                "           the next call's fault: %s\n", qPrintable(m_faults.PendingKind()));
        // The database is read once the send's own stack has unwound.
        QTimer::singleShot(0, [this] { OnCallEnded(); });
    }
}

void SoakDriver::OnCallEnded()
{
    ++m_calls;
    const int waiting = m_waitingRows();
    if (m_calls % kProgressEveryCalls == 0) {
        std::printf("  %d calls, %d row(s) waiting\n", m_calls, waiting);
        std::fflush(stdout);
    }
    if (waiting == 0 && m_stopDispatcher)
        m_stopDispatcher();
}

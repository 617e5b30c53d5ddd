#include "PagingSimulator.h"

#include "SimEngine.h"

namespace quillpost::sim {

PagingSimulator::PagingSimulator(const SimConfig& config)
    : m_engine(std::make_unique<SimEngine>(config))
{
}

PagingSimulator::~PagingSimulator()
{
    stop();
}

bool PagingSimulator::startPty(const QString& linkPath)
{
    return m_engine->startPty(linkPath);
}

bool PagingSimulator::startTcp(quint16 port)
{
    return m_engine->startTcp(port);
}

void PagingSimulator::stop()
{
    m_engine->stop();
}

bool PagingSimulator::isRunning() const
{
    return m_engine->isRunning();
}

QString PagingSimulator::slavePath() const
{
    return m_engine->slavePath();
}

quint16 PagingSimulator::tcpPort() const
{
    return m_engine->tcpPort();
}

QString PagingSimulator::errorString() const
{
    return m_engine->errorString();
}

void PagingSimulator::setFaults(const SimFaults& faults)
{
    m_engine->recorder().setFaults(faults);
}

QList<AcceptedPage> PagingSimulator::pages() const
{
    return m_engine->recorder().pages();
}

int PagingSimulator::pageCount() const
{
    return m_engine->recorder().pageCount();
}

QList<CallRecord> PagingSimulator::callEnds() const
{
    return m_engine->recorder().callEnds();
}

int PagingSimulator::callCount() const
{
    return m_engine->recorder().callCount();
}

QByteArray PagingSimulator::received() const
{
    return m_engine->recorder().received();
}

bool PagingSimulator::waitForPages(int n, int timeoutMs) const
{
    return m_engine->recorder().waitForPages(n, timeoutMs);
}

bool PagingSimulator::waitForCallEnds(int n, int timeoutMs) const
{
    return m_engine->recorder().waitForCallEnds(n, timeoutMs);
}

} // namespace quillpost::sim

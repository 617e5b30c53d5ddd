#include "SimRecorder.h"

#include "SimLog.h"

#include <QDeadlineTimer>
#include <algorithm>

namespace quillpost::sim {

SimRecorder::SimRecorder(const SimFaults& faults)
    : m_faults(faults)
{
}

bool SimRecorder::openLog(const QString& path, QString& error)
{
    QMutexLocker lock(&m_mutex);
    if (m_log.isOpen())
        m_log.close();
    m_log.setFileName(path);
    if (!m_log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        error = QStringLiteral("Cannot open the log file %1: %2").arg(path, m_log.errorString());
        return false;
    }
    return true;
}

SimFaults SimRecorder::faults() const
{
    QMutexLocker lock(&m_mutex);
    return m_faults;
}

void SimRecorder::setFaults(const SimFaults& faults)
{
    QMutexLocker lock(&m_mutex);
    m_faults = faults;
}

int SimRecorder::beginCall()
{
    QMutexLocker lock(&m_mutex);
    ++m_calls;
    m_changed.wakeAll();
    return m_calls;
}

void SimRecorder::recordPage(const AcceptedPage& page)
{
    QMutexLocker lock(&m_mutex);
    m_pages.append(page);
    writeLogLine(pageLogLine(page));
    m_changed.wakeAll();
}

void SimRecorder::recordCallEnd(int call, CallEnd how)
{
    QMutexLocker lock(&m_mutex);
    const CallRecord record { call, how, QDateTime::currentDateTimeUtc(), m_receivedSinceCallEnd,
        m_sentSinceCallEnd };
    m_receivedSinceCallEnd = 0;
    m_sentSinceCallEnd = 0;
    m_callEnds.append(record);
    writeLogLine(callEndLogLine(record));
    m_changed.wakeAll();
}

void SimRecorder::recordReceived(QByteArrayView bytes)
{
    QMutexLocker lock(&m_mutex);
    m_received.append(bytes);
    m_receivedSinceCallEnd += bytes.size();
}

void SimRecorder::recordSent(qint64 byteCount)
{
    QMutexLocker lock(&m_mutex);
    // Bytes withdrawn after the call they were counted for had ended (its last words,
    // when the caller hung up before they were through) are not taken from the next.
    m_sentSinceCallEnd = std::max<qint64>(0, m_sentSinceCallEnd + byteCount);
}

QList<AcceptedPage> SimRecorder::pages() const
{
    QMutexLocker lock(&m_mutex);
    return m_pages;
}

int SimRecorder::pageCount() const
{
    QMutexLocker lock(&m_mutex);
    return static_cast<int>(m_pages.size());
}

QList<CallRecord> SimRecorder::callEnds() const
{
    QMutexLocker lock(&m_mutex);
    return m_callEnds;
}

int SimRecorder::callCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

QByteArray SimRecorder::received() const
{
    QMutexLocker lock(&m_mutex);
    return m_received;
}

bool SimRecorder::waitForPages(int n, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker lock(&m_mutex);
    while (m_pages.size() < n) {
        if (!m_changed.wait(&m_mutex, deadline))
            return m_pages.size() >= n;
    }
    return true;
}

bool SimRecorder::waitForCallEnds(int n, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker lock(&m_mutex);
    while (m_callEnds.size() < n) {
        if (!m_changed.wait(&m_mutex, deadline))
            return m_callEnds.size() >= n;
    }
    return true;
}

void SimRecorder::writeLogLine(const QByteArray& line)
{
    if (!m_log.isOpen())
        return;
    m_log.write(line);
    m_log.flush();
}

} // namespace quillpost::sim

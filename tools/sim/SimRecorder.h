#pragma once

#include "PagingSimulator.h"

#include <QFile>
#include <QMutex>
#include <QWaitCondition>

namespace quillpost::sim {

// What the simulator has seen, shared between its own thread (which records) and
// any thread that asks; also writes the log file as things happen.
class SimRecorder
{
public:
    explicit SimRecorder(const SimFaults& faults);

    bool openLog(const QString& path, QString& error);

    SimFaults faults() const;
    void setFaults(const SimFaults& faults);

    int beginCall(); // the new call's number
    void recordPage(const AcceptedPage& page);
    void recordCallEnd(int call, CallEnd how);
    void recordReceived(QByteArrayView bytes);
    // Bytes given to the line for the caller, or (negative) withdrawn unsent.
    void recordSent(qint64 byteCount);

    QList<AcceptedPage> pages() const;
    int pageCount() const;
    QList<CallRecord> callEnds() const;
    int callCount() const;
    QByteArray received() const;

    bool waitForPages(int n, int timeoutMs) const;
    bool waitForCallEnds(int n, int timeoutMs) const;

private:
    void writeLogLine(const QByteArray& line);

    mutable QMutex m_mutex;
    mutable QWaitCondition m_changed;
    SimFaults m_faults;
    QList<AcceptedPage> m_pages;
    QList<CallRecord> m_callEnds;
    int m_calls = 0;
    QByteArray m_received;
    // Since the last call ended, for its successor's record.
    qint64 m_receivedSinceCallEnd = 0;
    qint64 m_sentSinceCallEnd = 0;
    QFile m_log;
};

} // namespace quillpost::sim

#pragma once

#include "PagingSimulator.h"
#include "SoakFaults.h"
#include "dispatch/SendSession.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <functional>

// Runs the headless dispatcher against the simulated terminal until no row of the
// database waits any more, or until a time-out. After every call it draws the next
// call's faults, which the terminal applies from its next connection on: the next call
// starts only at a later scheduler run, so each call gets the faults drawn for it.
class SoakDriver
{
public:
    // `waitingRows` counts the rows still to be sent; it is asked after every call.
    SoakDriver(quillpost::sim::PagingSimulator& sim, SoakFaultPicker& faults,
        std::function<int()> waitingRows, SendTiming timing, bool verbose);

    // True when every row was final before `timeoutMs` passed.
    bool Run(int timeoutMs);

    int Calls() const { return m_calls; }
    int TimedOutCalls() const { return m_timedOutCalls; }
    // What the program would have shown the operator; none is expected.
    const QStringList& OperatorMessages() const { return m_operatorMessages; }

private:
    void OnLogLine(const QString& line);
    void OnCallEnded();

    quillpost::sim::PagingSimulator& m_sim;
    SoakFaultPicker& m_faults;
    std::function<int()> m_waitingRows;
    SendTiming m_timing;
    bool m_verbose;
    QElapsedTimer m_clock; // since the dispatcher started, for the log printed
    std::function<void()> m_stopDispatcher;
    int m_calls = 0;
    int m_timedOutCalls = 0;
    QStringList m_operatorMessages;
};

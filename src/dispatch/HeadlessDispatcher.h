#pragma once

#include "data/QuillpostDoc.h"
#include "dispatch/DispatchCounters.h"
#include "dispatch/SendScheduler.h"
#include "dispatch/SendSession.h"
#include "platform/Prompt.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

class CModemList;

// The scheduler and its sends without a window, for a machine that only dispatches.
// It runs the same scheduler, the same sends and the same recording of results as the
// desktop program, at the same periods, and says what happens in one line per step and
// per outcome, each naming its message. Messages other programs queue are seen at the
// next scheduler run. It sends only while it holds the database's dispatcher lock;
// while another program holds it, it says so once and tries again at every run.
class CHeadlessDispatcher final : public QObject, private ISchedulerHost, private Prompt
{
    Q_OBJECT

public:
    using LogLine = std::function<void(const QString&)>;
    using CapacityReader = std::function<SendCapacity()>;

    // `capacity` is asked at every scheduler run; without it the stored modem name
    // alone sends, with the default number of network calls.
    CHeadlessDispatcher(CModemList& modems, LogLine log,
        int schedulerIntervalMs = CSendScheduler::kIntervalMs, SendTiming timing = {},
        CapacityReader capacity = {});
    ~CHeadlessDispatcher() override;

    // Loads the database and starts the scheduler, whose first run comes at once.
    void Start();
    // Ends every call in progress: each hangs up, and what was already accepted stays
    // recorded. Stopped follows once nothing is left running.
    void Stop();

    bool IsSending() const { return !m_sends.empty(); }
    const DispatchCounters& Counters() const { return m_counters; }

signals:
    void Stopped();

private:
    class Send;

    void RunScheduler();

    CQuillpostDoc* SchedulerDocument() override { return &m_doc; }
    CModemList& ModemList() override { return m_modems; }
    SendCapacity Capacity() override;
    void OutcomeRecorded(std::int32_t messageId) override;
    void DispatcherLockChanged(bool held, const QString& refusal) override;
    void StartSend(SendOrder order) override;

    void ShowSendStatus(const Send& send, const QString& text);
    void SendResultRecorded(const Send& send);
    // Counts the Status an attempt's outcome wrote.
    void CountOutcome(std::int32_t written);
    void SendClosed(Send& send);
    void StopIfIdle();

    void inform(const QString& text) override;
    bool askYesNo(const QString& text) override;

    CModemList& m_modems;
    LogLine m_log;
    SendTiming m_timing;
    CapacityReader m_capacity;
    CQuillpostDoc m_doc;
    CSendScheduler m_scheduler;
    QTimer m_timer;
    // By the scheduler's send number.
    std::map<std::uint64_t, std::unique_ptr<Send>> m_sends;
    DispatchCounters m_counters;
    bool m_bStopping = false;
};

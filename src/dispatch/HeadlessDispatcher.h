#pragma once

#include "data/QuillpostDoc.h"
#include "dispatch/DispatchCounters.h"
#include "dispatch/SendScheduler.h"
#include "dispatch/SendSession.h"
#include "platform/Prompt.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class CModemList;

// The scheduler and its sends without a window, for a machine that only dispatches.
// It runs the same scheduler, the same send and the same recording of results as the
// desktop program, at the same periods, and says what happens in one line per step and
// per outcome. Messages other programs queue are seen at the next scheduler run. It
// sends only while it holds the database's dispatcher lock; while another program
// holds it, it says so once and tries again at every run.
class CHeadlessDispatcher final : public QObject,
                                  private ISendHost,
                                  private ISchedulerHost,
                                  private Prompt
{
    Q_OBJECT

public:
    using LogLine = std::function<void(const QString&)>;

    CHeadlessDispatcher(CModemList& modems, LogLine log,
        int schedulerIntervalMs = CSendScheduler::kIntervalMs, SendTiming timing = {});
    ~CHeadlessDispatcher() override;

    // Loads the database and starts the scheduler, whose first run comes at once.
    void Start();
    // Ends the call in progress, if any: it hangs up, and what was already accepted
    // stays recorded. Stopped follows once nothing is left running.
    void Stop();

    bool IsSending() const { return m_session != nullptr; }
    const DispatchCounters& Counters() const { return m_counters; }

signals:
    void Stopped();

private:
    void RunScheduler();

    CQuillpostDoc* SchedulerDocument() override { return &m_doc; }
    bool IsSendInProgress() const override { return IsSending(); }
    CModemList& ModemList() override { return m_modems; }
    void OutcomeRecorded(std::int32_t messageId) override;
    void DispatcherLockChanged(bool held, const QString& refusal) override;
    void StartSend(SendOrder order) override;

    void ShowSendStatus(const QString& text) override;
    void ShowTerminalLine(const QString& line) override;
    void SendResultRecorded() override;
    // Counts the Status an attempt's outcome wrote.
    void CountOutcome(std::int32_t written);
    void SendClosed() override;

    void inform(const QString& text) override;
    bool askYesNo(const QString& text) override;

    CModemList& m_modems;
    LogLine m_log;
    SendTiming m_timing;
    CQuillpostDoc m_doc;
    CSendScheduler m_scheduler;
    QTimer m_timer;
    std::unique_ptr<CSendSession> m_session;
    DispatchCounters m_counters;
    std::int32_t m_nMessageId = 0;
    bool m_bStopping = false;
};

#pragma once

#include "carrier/PageCall.h"
#include "dispatch/SendOrder.h"
#include "dispatch/SendResult.h"
#include "modem/ModemConnection.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

class CModemList;

// Who shows a send and answers for what it changes: the sending window in the desktop
// program, a log in a dispatcher without a window.
class ISendHost
{
public:
    virtual ~ISendHost() = default;
    // The status line changed; it is to be shown at once.
    virtual void ShowSendStatus(const QString& text) = 0;
    // A result was written to the database: the document reloads, the tree is rebuilt.
    virtual void SendResultRecorded() = 0;
    // The send has closed (hung up, line closed); called once, last. The send in
    // progress is over, so the scheduler may start the next one. The host must not
    // destroy the session synchronously from here (deleteLater is fine).
    virtual void SendClosed() = 0;
    // The terminal said a new message-sequence line ("211 Page Sent"); it is shown
    // under the status line. The host may only show it: the send goes on.
    virtual void ShowTerminalLine(const QString& /*line*/) { }
};

// The periods of a send; tests shorten them, the counts stay as they are.
struct SendTiming
{
    int tickMs = 100; // the period of the send's timer
    int closePauseMs = 200; // each of the two pauses while closing a modem's call
    int hangUpPauseMs = CModemConnection::kHangUpPauseMs; // after dropping the call
    // The send gives up once this much time has passed since it started, even when a
    // busy thread has let fewer ticks than kTimeoutTicks pass.
    int timeoutMs = 120000;
};

// One send: one call to one service provider, delivering one message to every
// recipient of the order in turn. It places the call (an IPageCall chosen by the
// provider's access number), logs in and sends one page per recipient, records each
// recipient's outcome as it comes (a recipient refused while the call goes on has a
// failed attempt and the next one's page follows), gives up after 1200 ticks or
// SendTiming::timeoutMs, whichever ends first, and on closing hangs up and closes the
// line. It runs on the thread that created it.
//
// Every recipient gets at most one verdict, and once the send has begun to close it
// acts on nothing more: a line event, tick or verdict that arrives after that is
// ignored, whatever order the events come in.
class CSendSession final : public QObject, private IModemConnectionOwner
{
public:
    static constexpr std::int32_t kTimeoutTicks = 1200;

    static inline const QString kCalling = QStringLiteral("Calling Service Provider");
    static inline const QString kConnected = QStringLiteral("Connected - Sending Message");
    static inline const QString kSent = QStringLiteral("Message sent successfully");
    static inline const QString kRefused
        = QStringLiteral("Message send failed - closing connection");
    static inline const QString kLineFailed
        = QStringLiteral("Failed to connect to service provider");
    static inline const QString kTimedOut = QStringLiteral("Timed out - closing");
    static inline const QString kCancelled
        = QStringLiteral("Cancelled by user - closing connection");
    static inline const QString kTerminalEnded
        = QStringLiteral("Service provider ended the call - closing connection");
    static inline const QString kLocalFault
        = QStringLiteral("Cannot use the modem - nothing was sent");
    // The same for a provider reached by URL, where no modem takes part.
    static inline const QString kCarrierLocalFault
        = QStringLiteral("Cannot reach the service provider - nothing was sent");
    static inline const QString kPageRefused
        = QStringLiteral("Page refused by the service provider");

    // The call goes through the chosen line device, or through the carrier a URL names.
    CSendSession(SendOrder order, CModemList& modems, ISendHost& host, SendTiming timing = {});
    // The call is the one `calls` makes for the order's access number.
    CSendSession(
        SendOrder order, const PageCallFactory& calls, ISendHost& host, SendTiming timing = {});
    ~CSendSession() override;
    CSendSession(const CSendSession&) = delete;
    CSendSession& operator=(const CSendSession&) = delete;

    // Takes the first recipient, places the call (for a line device: finds the modem and
    // opens its line) and starts the timer. An order without recipients closes at once,
    // and so does a send whose line this side cannot use (see LocalFault).
    void Start();
    // One tick: the exchange's wake-up repetition, then the time-out (the 1201st tick, or
    // the first one past SendTiming::timeoutMs).
    void OnTimer();
    // The operator's Cancel (after the question was answered): closes, recording
    // nothing.
    void Cancel();

    bool IsClosing() const { return m_bClosing; }
    std::int32_t CurrentRecipient() const { return m_nCurrentRecipient; }
    // The message being sent; 0 once the send has closed.
    std::int32_t MessageId() const { return m_pJob ? m_pJob->m_messageId : 0; }
    std::int32_t TickCount() const { return m_nTickCount; }
    std::int32_t ResultCode() const { return StatusValue(m_nResultCode); }
    const QString& StatusText() const { return m_strStatus; }
    // The terminal's last message-sequence line in this send; empty before it said one.
    const QString& TerminalLine() const { return m_strTerminalLine; }
    // Empty unless the send ended because this side could not use its line (no line
    // device of the stored name, one that cannot be opened or set up, a modem that does
    // not answer its commands) or could not dial the provider's access number; then why,
    // naming the line device or the provider. Such a send records nothing for anybody.
    // Set before the host hears SendClosed.
    const QString& LocalFault() const { return m_strLocalFault; }

private:
    void OnLineConnected(std::uintptr_t wParam) override;
    void OnLineFailed(std::uintptr_t wParam, std::intptr_t lParam) override;
    void OnTapAccepted() override;
    void OnTapRefused() override;
    void OnPageRefused() override;
    void OnTapEnded(bool acceptedFirst) override;
    void OnTapTerminalLine(const QString& line) override;

    void SetStatus(const QString& text);
    // After a recipient's verdict: the next recipient's page, or the logout and closing.
    void SendNextOrFinish();
    // Closes at once recording nothing: the line failed on this side, for the reason given.
    void CloseAfterLocalFault(const QString& reason);
    bool TakeNextRecipient();
    void RecordResult();
    void KeepUnrecorded(const SendAttempt& attempt, const QString& reason);
    void ReportUnrecorded(const QString& reason, bool kept) const;
    void CloseAfterFailure(const QString& status);
    void Close();

    std::int32_t m_nCurrentRecipient = 0;
    std::int32_t m_nTickCount = 0;
    std::unique_ptr<CSendJob> m_pJob;
    MessageStatus m_nResultCode = MessageStatus::Waiting;
    std::deque<std::int32_t> m_listRecipients;
    std::deque<QString> m_listPagerIds;
    QString m_strPagerId;
    QString m_strStatus;
    QString m_strTerminalLine;
    QString m_strLocalFault;
    QString m_strProvider;
    COutcomeJournal* m_pJournal = nullptr;

    ISendHost& m_host;
    SendTiming m_timing;
    std::unique_ptr<IPageCall> m_pCall;
    QTimer m_timer;
    // Qt does not make up ticks a busy thread missed: the time-out also counts real time.
    QDeadlineTimer m_timeout { QDeadlineTimer::Forever };
    bool m_bClosing = false;
    // Set once the call has connected: from then on a time-out is the recipient's
    // failed attempt.
    bool m_bConnected = false;
    // Set once the current recipient's outcome has been decided.
    bool m_bCurrentJudged = false;
    // The provider is reached by URL rather than through the line device.
    bool m_bByUrl = false;
};

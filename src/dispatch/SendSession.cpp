#include "dispatch/SendSession.h"

#include "dispatch/ModemPageCall.h"
#include "dispatch/OutcomeJournal.h"
#include "platform/LogCategories.h"
#include "platform/Prompt.h"
#include "platform/db/DaoException.h"

#include <QThread>

namespace {

// The order's job has moved into the session by now, so its message ID comes apart.
PageCallRequest CallRequest(
    const SendOrder& order, const SendTiming& timing, std::int32_t messageId)
{
    return { order.accessNumber, ParseCarrierAddress(order.accessNumber), order.providerName,
        order.password, order.text, order.parity, order.dataBits, order.stopBits,
        timing.hangUpPauseMs, messageId, timing.timeoutMs, order.lineName };
}

} // namespace

CSendSession::CSendSession(SendOrder order, CModemList& modems, ISendHost& host, SendTiming timing)
    : CSendSession(std::move(order), SendPageCalls(modems), host, timing)
{
}

CSendSession::CSendSession(
    SendOrder order, const PageCallFactory& calls, ISendHost& host, SendTiming timing)
    : m_pJob(std::move(order.job))
    , m_listRecipients(order.recipients.begin(), order.recipients.end())
    , m_listPagerIds(order.pagerIds.begin(), order.pagerIds.end())
    , m_strProvider(order.providerName)
    , m_pJournal(order.journal)
    , m_host(host)
    , m_timing(timing)
    , m_pCall(calls(CallRequest(order, timing, m_pJob ? m_pJob->m_messageId : 0)))
    , m_bByUrl(IsCarrierUrl(order.accessNumber))
{
    m_timer.setInterval(m_timing.tickMs);
    connect(&m_timer, &QTimer::timeout, this, &CSendSession::OnTimer);
}

CSendSession::~CSendSession() = default;

void CSendSession::Start()
{
    m_nResultCode = MessageStatus::Waiting;
    if (!TakeNextRecipient()) {
        Close();
        return;
    }
    // Without a way to the provider nothing goes out: the fault is this machine's (or
    // the stored access number's), not the recipient's, so the send closes at once and
    // counts no attempt.
    if (const std::optional<QString> fault = m_pCall->Place(*this)) {
        CloseAfterLocalFault(*fault);
        return;
    }
    m_nTickCount = 0;
    m_timer.start();
    m_timeout.setRemainingTime(m_timing.timeoutMs, Qt::PreciseTimer);
    SetStatus(kCalling);
}

bool CSendSession::TakeNextRecipient()
{
    if (m_listRecipients.empty() || m_listPagerIds.empty())
        return false;
    m_nCurrentRecipient = m_listRecipients.front();
    m_listRecipients.pop_front();
    m_strPagerId = m_listPagerIds.front();
    m_listPagerIds.pop_front();
    m_bCurrentJudged = false;
    m_pCall->SetPager(m_strPagerId);
    return true;
}

void CSendSession::OnTimer()
{
    if (m_bClosing)
        return;
    m_pCall->OnTick();
    if (++m_nTickCount <= kTimeoutTicks && !m_timeout.hasExpired())
        return;
    // A terminal that answered the call and then fell silent has failed this recipient
    // as a lost line would; only a call that never connected leaves no attempt.
    if (m_bConnected) {
        CloseAfterFailure(kTimedOut);
        return;
    }
    SetStatus(kTimedOut);
    Close();
}

void CSendSession::Cancel()
{
    if (m_bClosing)
        return;
    SetStatus(kCancelled);
    Close();
}

void CSendSession::OnLineConnected(std::uintptr_t)
{
    if (m_bClosing)
        return;
    m_bConnected = true;
    SetStatus(kConnected);
    m_pCall->Begin();
}

void CSendSession::OnTapAccepted()
{
    if (m_bClosing)
        return;
    m_nResultCode = MessageStatus::Sent;
    SetStatus(kSent);
    RecordResult();
    SendNextOrFinish();
}

void CSendSession::OnTapRefused()
{
    CloseAfterFailure(kRefused);
}

void CSendSession::OnPageRefused()
{
    if (m_bClosing)
        return;
    m_nResultCode = MessageStatus::Waiting;
    SetStatus(kPageRefused);
    RecordResult();
    SendNextOrFinish();
}

void CSendSession::SendNextOrFinish()
{
    // Recording reloads the document, which may show a message box whose event loop
    // let the line close this send meanwhile.
    if (m_bClosing)
        return;
    if (TakeNextRecipient()) {
        m_pCall->SendPage();
        return;
    }
    m_pCall->Finish();
    Close();
}

void CSendSession::OnTapEnded(bool acceptedFirst)
{
    if (m_bClosing)
        return;
    if (!acceptedFirst) {
        CloseAfterFailure(kTerminalEnded);
        return;
    }
    // The block was accepted just before the terminal hung up: it is delivered, and
    // the recipients after it wait for another call.
    m_nResultCode = MessageStatus::Sent;
    SetStatus(m_listRecipients.empty() ? kSent : kTerminalEnded);
    RecordResult();
    Close();
}

void CSendSession::OnTapTerminalLine(const QString& line)
{
    m_strTerminalLine = line;
    m_host.ShowTerminalLine(line);
}

void CSendSession::OnLineFailed(std::uintptr_t, std::intptr_t lParam)
{
    if (lParam == kLineFailedLocalFault)
        CloseAfterLocalFault(m_pCall->LocalFault());
    else
        CloseAfterFailure(kLineFailed);
}

void CSendSession::CloseAfterLocalFault(const QString& reason)
{
    if (m_bClosing)
        return;
    // Set before closing, so that the host reads it when it hears the send has closed.
    m_strLocalFault = reason;
    qCWarning(
        lcSend, "Nothing was sent for message %d: %s", int(MessageId()), qUtf8Printable(reason));
    SetStatus(m_bByUrl ? kCarrierLocalFault : kLocalFault);
    Close();
}

void CSendSession::CloseAfterFailure(const QString& status)
{
    if (m_bClosing)
        return;
    SetStatus(status);
    m_nResultCode = MessageStatus::Waiting;
    RecordResult();
    if (!m_bClosing)
        Close();
}

void CSendSession::RecordResult()
{
    // One verdict per recipient: a failure reported after the recipient's block was
    // accepted (the line dropping right after the ACK) changes nothing.
    if (m_bCurrentJudged || !m_pJob)
        return;
    m_bCurrentJudged = true;
    const SendAttempt attempt { m_pJob->m_messageId, m_nCurrentRecipient, m_nResultCode,
        m_strPagerId, m_strProvider, m_pCall->TerminalLine(), COleDateTime::GetCurrentTime() };
    try {
        if (const std::optional<MessageStatus> written = RecordAttemptResult(attempt))
            m_nResultCode = *written;
    } catch (const CDaoException& failure) {
        KeepUnrecorded(attempt, failure.reason());
        return;
    }
    m_host.SendResultRecorded();
}

void CSendSession::KeepUnrecorded(const SendAttempt& attempt, const QString& reason)
{
    // An accepted page must never go out again: it is kept until the database takes its
    // outcome, and the operator hears of it once per message. A failure that is not
    // stored only costs the recipient an attempt less.
    const bool kept = m_nResultCode == MessageStatus::Sent && m_pJournal;
    if (!kept || m_pJournal->Keep(attempt))
        ReportUnrecorded(reason, kept);
    else
        qCWarning(lcSend, "The outcome of message %d to user %d is kept until it can be stored: %s",
            attempt.messageId, attempt.recipient, qUtf8Printable(reason));
}

void CSendSession::ReportUnrecorded(const QString& reason, bool kept) const
{
    const QString outcome = m_nResultCode == MessageStatus::Sent
        ? QStringLiteral("The page to %1 was accepted by the service provider")
        : QStringLiteral("The page to %1 failed");
    Prompt::current().inform(
        (outcome + QStringLiteral(", but this could not be stored for message %2: %3")
            + (kept ? QStringLiteral("\n\nIt will not be sent again; its outcome is kept and "
                                     "stored as soon as the database takes it.")
                    : QString()))
            .arg(m_strPagerId.isEmpty() ? QStringLiteral("user %1").arg(m_nCurrentRecipient)
                                        : m_strPagerId)
            .arg(m_pJob->m_messageId)
            .arg(reason));
}

void CSendSession::SetStatus(const QString& text)
{
    m_strStatus = text;
    m_host.ShowSendStatus(text);
}

void CSendSession::Close()
{
    if (m_bClosing)
        return;
    m_bClosing = true;
    m_timer.stop();
    // The pauses give a modem time to settle between hanging up and closing its line; a
    // call by URL has no line to settle, and a desk sending many pages would wait for them.
    const auto pause = static_cast<unsigned long>(m_bByUrl ? 0 : m_timing.closePauseMs);
    m_pCall->HangUp();
    QThread::msleep(pause);
    m_pCall->Close();
    QThread::msleep(pause);
    m_listPagerIds.clear();
    m_listRecipients.clear();
    m_host.SendClosed();
    m_pJob.reset();
}

#include "dispatch/HeadlessDispatcher.h"

#include "data/SendHistory.h"
#include "dispatch/SendOrder.h"
#include "modem/ModemList.h"
#include "platform/Clock.h"

CHeadlessDispatcher::CHeadlessDispatcher(
    CModemList& modems, LogLine log, int schedulerIntervalMs, SendTiming timing)
    : m_modems(modems)
    , m_log(std::move(log))
    , m_timing(timing)
    , m_scheduler(*this, QStringLiteral("quillpost --headless"))
{
    m_timer.setInterval(schedulerIntervalMs);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CHeadlessDispatcher::RunScheduler);
    // Whatever the loading and sending code would put in a message box goes to the log.
    Prompt::install(this);
}

CHeadlessDispatcher::~CHeadlessDispatcher()
{
    m_timer.stop();
    m_session.reset();
    Prompt::install(nullptr);
}

void CHeadlessDispatcher::Start()
{
    // The first run loads the document.
    QTimer::singleShot(0, this, &CHeadlessDispatcher::RunScheduler);
}

void CHeadlessDispatcher::Stop()
{
    if (m_bStopping)
        return;
    m_bStopping = true;
    m_timer.stop();
    if (!m_session) {
        m_log(QStringLiteral("Stopped."));
        emit Stopped();
        return;
    }
    m_log(QStringLiteral("Stopping: ending the call for message %1.").arg(m_nMessageId));
    m_session->Cancel();
}

void CHeadlessDispatcher::RunScheduler()
{
    if (m_bStopping)
        return;
    m_scheduler.Run();
    // Runs never overlap: the next one is timed from the end of this one.
    if (!m_bStopping)
        m_timer.start();
}

void CHeadlessDispatcher::OutcomeRecorded(std::int32_t messageId)
{
    m_doc.CatchUpWithMessage(messageId);
    m_log(QStringLiteral("Message %1: the outcome kept while the database would not take it "
                         "is stored now.")
              .arg(messageId));
}

void CHeadlessDispatcher::DispatcherLockChanged(bool held, const QString& refusal)
{
    m_counters.lockHeld = held;
    if (held)
        m_log(QStringLiteral("Holding the dispatcher lock: this program sends from now on."));
    else if (refusal.isEmpty())
        m_log(QStringLiteral("Letting the dispatcher lock go: this program cannot send now."));
    else
        m_log(QStringLiteral("Not sending: another dispatcher is sending from this database: %1. "
                             "Trying again at every scheduler run.")
                  .arg(refusal));
}

void CHeadlessDispatcher::StartSend(SendOrder order)
{
    m_nMessageId = order.job ? order.job->m_messageId : 0;
    m_log(QStringLiteral("Message %1: %2 recipient(s) through %3.")
              .arg(m_nMessageId)
              .arg(order.recipients.size())
              .arg(order.accessNumber));
    m_session = std::make_unique<CSendSession>(
        std::move(order), m_modems, static_cast<ISendHost&>(*this), m_timing);
    m_session->Start();
}

void CHeadlessDispatcher::ShowSendStatus(const QString& text)
{
    // A send says each of these once: on placing its call, and on giving up waiting.
    if (text == CSendSession::kCalling)
        ++m_counters.calls;
    else if (text == CSendSession::kTimedOut)
        ++m_counters.timeouts;
    m_log(QStringLiteral("Message %1: %2").arg(m_nMessageId).arg(text));
}

void CHeadlessDispatcher::ShowTerminalLine(const QString& line)
{
    m_log(QStringLiteral("Message %1: the terminal said \"%2\"").arg(m_nMessageId).arg(line));
}

void CHeadlessDispatcher::SendResultRecorded()
{
    // The copy of the message must show the outcome before the next run chooses.
    m_doc.CatchUpWithMessage(m_nMessageId);
    CountOutcome(m_session->ResultCode());
    const std::int32_t recipient = m_session->CurrentRecipient();
    m_log(QStringLiteral("Message %1 to %2 (user %3): %4")
              .arg(m_nMessageId)
              .arg(RecipientName(m_doc, recipient))
              .arg(recipient)
              .arg(OutcomeName(m_session->ResultCode())));
}

void CHeadlessDispatcher::CountOutcome(std::int32_t written)
{
    if (written == MessageStatus::Sent) {
        ++m_counters.pagesSent;
        m_counters.lastAcceptedPage = Clock::current().SecondsSinceEpoch();
        return;
    }
    ++m_counters.pagesFailed;
    if (written == MessageStatus::Failed)
        ++m_counters.pagesGivenUp;
}

void CHeadlessDispatcher::SendClosed()
{
    m_log(QStringLiteral("Message %1: call ended.").arg(m_nMessageId));
    m_scheduler.SendEnded(m_session->LocalFault());
    // The session is still on the stack that called here; it goes once that unwinds.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_session.reset();
            if (m_bStopping) {
                m_log(QStringLiteral("Stopped."));
                emit Stopped();
            }
        },
        Qt::QueuedConnection);
}

void CHeadlessDispatcher::inform(const QString& text)
{
    // One line per step: a message box's paragraphs run on in the log.
    m_log(QStringLiteral("Error: %1").arg(text.simplified()));
}

bool CHeadlessDispatcher::askYesNo(const QString& text)
{
    m_log(QStringLiteral("%1 (answered No)").arg(text));
    return false;
}

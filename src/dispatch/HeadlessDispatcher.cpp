#include "dispatch/HeadlessDispatcher.h"

#include "data/SendHistory.h"
#include "dispatch/SendOrder.h"
#include "modem/ModemList.h"
#include "platform/Clock.h"

// One send in progress, with the log's view of it: every line names its message.
class CHeadlessDispatcher::Send final : public ISendHost
{
public:
    Send(CHeadlessDispatcher& owner, SendOrder order)
        : m_owner(owner)
        , m_number(order.sendNumber)
        , m_messageId(order.job ? order.job->m_messageId : 0)
        , m_session(std::move(order), owner.m_modems, *this, owner.m_timing)
    {
    }

    std::uint64_t Number() const { return m_number; }
    std::int32_t MessageId() const { return m_messageId; }
    CSendSession& Session() { return m_session; }
    const CSendSession& Session() const { return m_session; }
    QString Say(const QString& text) const
    {
        return QStringLiteral("Message %1: %2").arg(m_messageId).arg(text);
    }

private:
    void ShowSendStatus(const QString& text) override { m_owner.ShowSendStatus(*this, text); }
    void ShowTerminalLine(const QString& line) override
    {
        m_owner.m_log(Say(QStringLiteral("the terminal said \"%1\"").arg(line)));
    }
    void SendResultRecorded() override { m_owner.SendResultRecorded(*this); }
    void SendClosed() override { m_owner.SendClosed(*this); }

    CHeadlessDispatcher& m_owner;
    std::uint64_t m_number;
    std::int32_t m_messageId;
    CSendSession m_session;
};

CHeadlessDispatcher::CHeadlessDispatcher(CModemList& modems, LogLine log,
    int schedulerIntervalMs, SendTiming timing, CapacityReader capacity)
    : m_modems(modems)
    , m_log(std::move(log))
    , m_timing(timing)
    , m_capacity(std::move(capacity))
    , m_scheduler(*this, QStringLiteral("quillpost --headless"))
{
    m_timer.setInterval(schedulerIntervalMs);
    m_scheduler.SetRunIntervalMs(schedulerIntervalMs);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CHeadlessDispatcher::RunScheduler);
    // A message queued at a desk on the same server goes out without waiting a whole
    // interval.
    m_doc.SetChangeToldHandler([this] { CSendScheduler::BringRunForward(m_timer); });
    // Whatever the loading and sending code would put in a message box goes to the log.
    Prompt::install(this);
}

CHeadlessDispatcher::~CHeadlessDispatcher()
{
    m_timer.stop();
    m_sends.clear();
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
    if (m_sends.empty()) {
        StopIfIdle();
        return;
    }
    // Cancelling may close a send at once, which takes it out of the map.
    std::vector<std::uint64_t> numbers;
    for (const auto& [number, send] : m_sends) {
        numbers.push_back(number);
        m_log(QStringLiteral("Stopping: ending the call for message %1.").arg(send->MessageId()));
    }
    for (const std::uint64_t number : numbers) {
        if (const auto running = m_sends.find(number); running != m_sends.end())
            running->second->Session().Cancel();
    }
}

SendCapacity CHeadlessDispatcher::Capacity()
{
    return m_capacity ? m_capacity() : SendCapacity {};
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
    const std::int32_t messageId = order.job ? order.job->m_messageId : 0;
    const QString through = order.lineName.isEmpty()
        ? order.accessNumber
        : QStringLiteral("%1 on %2").arg(order.accessNumber, order.lineName);
    m_log(QStringLiteral("Message %1: %2 recipient(s) through %3.")
              .arg(messageId)
              .arg(order.recipients.size())
              .arg(through));
    const std::uint64_t number = order.sendNumber;
    Send& send = *m_sends.emplace(number, std::make_unique<Send>(*this, std::move(order)))
                      .first->second;
    send.Session().Start();
}

void CHeadlessDispatcher::ShowSendStatus(const Send& send, const QString& text)
{
    // A send says each of these once: on placing its call, and on giving up waiting.
    if (text == CSendSession::kCalling)
        ++m_counters.calls;
    else if (text == CSendSession::kTimedOut)
        ++m_counters.timeouts;
    m_log(send.Say(text));
}

void CHeadlessDispatcher::SendResultRecorded(const Send& send)
{
    // The copy of the message must show the outcome before the next run chooses.
    m_doc.CatchUpWithMessage(send.MessageId());
    const CSendSession& session = send.Session();
    CountOutcome(session.ResultCode());
    const std::int32_t recipient = session.CurrentRecipient();
    m_log(QStringLiteral("Message %1 to %2 (user %3): %4")
              .arg(send.MessageId())
              .arg(RecipientName(m_doc, recipient))
              .arg(recipient)
              .arg(OutcomeName(session.ResultCode())));
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

void CHeadlessDispatcher::SendClosed(Send& send)
{
    m_log(send.Say(QStringLiteral("call ended.")));
    const std::uint64_t number = send.Number();
    m_scheduler.SendEnded(number, send.Session().LocalFault());
    // The session is still on the stack that called here; it goes once that unwinds.
    QMetaObject::invokeMethod(
        this,
        [this, number] {
            m_sends.erase(number);
            StopIfIdle();
        },
        Qt::QueuedConnection);
}

void CHeadlessDispatcher::StopIfIdle()
{
    if (!m_bStopping || !m_sends.empty())
        return;
    m_log(QStringLiteral("Stopped."));
    emit Stopped();
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

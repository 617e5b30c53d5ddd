#include "dispatch/SendScheduler.h"

#include "carrier/CarrierAddress.h"
#include "data/QuillpostDoc.h"
#include "dispatch/SendResult.h"
#include "modem/LineProbe.h"
#include "modem/ModemList.h"
#include "platform/LogCategories.h"
#include "platform/Prompt.h"
#include "platform/db/DaoRecordset.h"
#include "platform/db/DatabaseLocation.h"
#include "platform/telephony/DialString.h"

#include <QTimer>
#include <algorithm>

CSendScheduler::CSendScheduler(ISchedulerHost& host, QString holderName)
    : m_host(host)
    , m_lock(std::move(holderName))
    , m_claims(kClaimGraceRuns * kIntervalMs)
{
}

void CSendScheduler::SetRunIntervalMs(int intervalMs)
{
    m_claims.SetGraceMs(kClaimGraceRuns * intervalMs);
}

void CSendScheduler::Run()
{
    CQuillpostDoc* doc = m_host.SchedulerDocument();
    if (!doc)
        return;
    // The database is read after the lock is taken, so that nothing another dispatcher
    // recorded before letting it go is missed. Sends in progress record their own
    // results; what other programs change is read here, while they run.
    // The settings are read once a run: whether this program can send, and through what.
    const SendCapacity capacity = m_host.Capacity();
    const bool couldSend = CouldSend(capacity);
    const bool holding = HoldDispatcherLock(couldSend);
    if (holding) {
        m_claims.Keep();
        ReplayKeptOutcomes();
    }
    if (doc->ReloadIfChanged())
        m_host.DocumentReloaded();
    // While the server is away the document said so; no send starts whose outcome could
    // not be stored.
    if (holding && couldSend && doc->ServerFault().isEmpty())
        StartDueSends(*doc, capacity);
}

void CSendScheduler::BringRunForward(QTimer& timer)
{
    if (timer.isActive() && timer.remainingTime() > kToldChangeDelayMs)
        timer.start(kToldChangeDelayMs);
}

void CSendScheduler::StartDueSends(CQuillpostDoc& doc, const SendCapacity& capacity)
{
    QStringList freeLines = FreeLines(capacity);
    const auto byUrl = std::count_if(m_running.begin(), m_running.end(),
        [](const auto& running) { return running.second.line.isEmpty(); });
    int freeCalls = std::max(0, capacity.networkCalls - int(byUrl));
    m_rules.settled = m_journal.Recipients();
    m_rules.passedOver.clear();
    PassOverBusyProviders(capacity);
    while (std::optional<SendOrder> order = ChooseCallableSend(doc)) {
        const bool needsLine = ParseCarrierAddress(order->accessNumber).NeedsLineDevice();
        if (needsLine ? freeLines.isEmpty() : freeCalls == 0) {
            m_rules.passedOver.insert(order->providerId);
            continue;
        }
        if (!DatabaseTakesOutcome(*order))
            return;
        order = ClaimGroup(doc, std::move(*order));
        if (!order)
            continue;
        order->lineName = needsLine ? freeLines.takeFirst() : QString();
        if (!needsLine)
            --freeCalls;
        order->sendNumber = ++m_nCalls;
        order->journal = &m_journal;
        const std::pair<std::int32_t, std::int32_t> group { order->job->m_messageId,
            order->providerId };
        m_rules.lastCall[order->providerId] = order->sendNumber;
        m_rules.inFlight.insert(group);
        m_running[order->sendNumber]
            = RunningSend { order->lineName, order->providerId, order->providerName, group };
        PassOverBusyProviders(capacity);
        const std::int32_t provider = order->providerId;
        const std::uint64_t number = order->sendNumber;
        m_host.StartSend(std::move(*order));
        // A send that closed at once failed on this side: its provider is not tried
        // again through another line or call in this run.
        if (!m_running.contains(number))
            m_rules.passedOver.insert(provider);
    }
}

std::optional<SendOrder> CSendScheduler::ClaimGroup(CQuillpostDoc& doc, SendOrder order)
{
    if (!IsPostgresUri(CDaoRecordset::DefaultDatabasePath()))
        return order;
    const std::int32_t messageId = order.job->m_messageId;
    const bool heldForKept = m_claimsForKept.contains({ messageId, order.providerId });
    if (!heldForKept && !m_claims.TryClaim(messageId, order.providerId)) {
        m_rules.passedOver.insert(order.providerId);
        return std::nullopt;
    }
    // Another dispatcher may have sent the group between this program's reading and
    // its claim: what is sent is what the rows say now.
    doc.CatchUpWithMessage(messageId);
    std::optional<SendOrder> fresh = ChooseDueSend(doc, m_rules);
    if (fresh && fresh->job->m_messageId == messageId && fresh->providerId == order.providerId)
        return fresh;
    if (!heldForKept)
        m_claims.Release(messageId, order.providerId);
    return std::nullopt;
}

int SendCapacity::CallsOf(const QString& providerName) const
{
    const auto allowed = providerCalls.find(providerName);
    return allowed == providerCalls.end() ? 1 : std::max(1, allowed->second);
}

void CSendScheduler::PassOverBusyProviders(const SendCapacity& capacity)
{
    std::map<std::int32_t, int> calls;
    for (const auto& [number, running] : m_running) {
        if (++calls[running.providerId] >= capacity.CallsOf(running.providerName))
            m_rules.passedOver.insert(running.providerId);
    }
}

QStringList CSendScheduler::FreeLines(const SendCapacity& capacity)
{
    QStringList lines = capacity.lines;
    const QString stored = m_host.ModemList().StoredModemName();
    if (lines.isEmpty() && !stored.isEmpty())
        lines.append(stored);
    lines.removeDuplicates();
    QStringList free;
    for (const QString& line : std::as_const(lines)) {
        const bool busy = std::any_of(m_running.begin(), m_running.end(),
            [&](const auto& running) { return running.second.line == line; });
        if (!line.isEmpty() && !busy && LineUsable(line))
            free.append(line);
    }
    return free;
}

// A provider whose stored access number cannot be called (a character such as ";" would
// give a modem commands of its own, a URL may be malformed) is passed over, its messages
// waiting untouched until the number is corrected, so that it costs nobody an attempt and
// holds up no other provider. The operator is told once.
std::optional<SendOrder> CSendScheduler::ChooseCallableSend(const CQuillpostDoc& doc)
{
    while (std::optional<SendOrder> order = ChooseDueSend(doc, m_rules)) {
        const std::optional<QString> fault = AccessNumberRefusal(*order);
        if (!fault)
            return order;
        TellOnce(m_strLastNumberFault,
            QStringLiteral("%1. Its messages wait until the access number is corrected in "
                           "the service provider's properties.")
                .arg(*fault));
        m_rules.passedOver.insert(order->providerId);
    }
    return std::nullopt;
}

std::optional<QString> CSendScheduler::AccessNumberRefusal(const SendOrder& order)
{
    const CarrierAddress address = ParseCarrierAddress(order.accessNumber);
    if (!address.IsUsable())
        return CarrierAddressFault(order.providerName, address.refusal);
    if (!address.NeedsLineDevice())
        return std::nullopt;
    if (const std::optional<QString> refused = UncallableCharacter(order.accessNumber))
        return AccessNumberFault(order.providerName, DialString { {}, *refused });
    return std::nullopt;
}

// A program with no modem chosen can still send to providers reached by URL.
bool CSendScheduler::CouldSend(const SendCapacity& capacity) const
{
    if (m_host.IsSendingDisabled())
        return false;
    if (!m_host.ModemList().StoredModemName().isEmpty() || !capacity.lines.isEmpty())
        return true;
    CQuillpostDoc* const doc = m_host.SchedulerDocument();
    return doc
        && std::any_of(doc->m_providers.begin(), doc->m_providers.end(),
            [](const auto& provider) { return IsCarrierUrl(provider->m_accessNumber); });
}

// The host hears of the lock only when its state changes, so that a log says it once.
bool CSendScheduler::HoldDispatcherLock()
{
    return HoldDispatcherLock(CouldSend(m_host.Capacity()));
}

bool CSendScheduler::HoldDispatcherLock(bool couldSend)
{
    // Sends still running keep the lock, so that no other dispatcher takes up their
    // groups while their pages are out; no new send starts meanwhile.
    if (!couldSend && !m_running.empty())
        return m_lock.IsHeld();
    if (!couldSend) {
        const bool wasHeld = m_lock.IsHeld();
        m_lock.Release();
        if (wasHeld || m_bToldHeld || !m_strLastRefusal.isEmpty())
            m_host.DispatcherLockChanged(false, QString());
        m_bToldHeld = false;
        m_strLastRefusal.clear();
        return false;
    }
    if (m_lock.TryAcquire()) {
        if (!m_bToldHeld)
            m_host.DispatcherLockChanged(true, QString());
        m_bToldHeld = true;
        m_strLastRefusal.clear();
        // The outcomes an earlier run of this program kept stand beside the database.
        m_journal.Load(CDaoRecordset::DefaultDatabasePath());
        return true;
    }
    if (m_bToldHeld || m_lock.RefusalReason() != m_strLastRefusal) {
        m_strLastRefusal = m_lock.RefusalReason();
        m_host.DispatcherLockChanged(false, m_strLastRefusal);
    }
    m_bToldHeld = false;
    return false;
}

void CSendScheduler::ReplayKeptOutcomes()
{
    if (m_journal.IsEmpty())
        return;
    for (const std::int32_t messageId : m_journal.Replay()) {
        qCInfo(lcSend, "The kept outcome of message %d is stored now", messageId);
        m_host.OutcomeRecorded(messageId);
    }
    std::erase_if(m_claimsForKept, [this](const auto& group) {
        if (KeepsOutcomeOf(group.first))
            return false;
        m_claims.Release(group.first, group.second);
        return true;
    });
}

bool CSendScheduler::KeepsOutcomeOf(std::int32_t messageId) const
{
    const auto kept = m_journal.Recipients();
    return std::any_of(kept.begin(), kept.end(),
        [messageId](const auto& recipient) { return recipient.first == messageId; });
}

void CSendScheduler::SendEnded(std::uint64_t sendNumber, const QString& lineFault)
{
    const auto ended = m_running.find(sendNumber);
    if (ended == m_running.end())
        return;
    const RunningSend send = ended->second;
    m_running.erase(ended);
    m_rules.inFlight.erase(send.group);
    // Another dispatcher would page a kept recipient again, as only this one knows of it.
    if (m_claimsForKept.contains(send.group) || KeepsOutcomeOf(send.group.first))
        m_claimsForKept.insert(send.group);
    else
        m_claims.Release(send.group.first, send.group.second);
    if (send.line.isEmpty())
        CarrierFaultEnded(send, lineFault);
    else
        LineFaultEnded(send.line, lineFault);
}

void CSendScheduler::LineFaultEnded(const QString& line, const QString& fault)
{
    if (fault.isEmpty()) {
        m_lineFaultsTold.erase(line);
        return;
    }
    m_lineFaults[line] = fault;
    TellOnce(m_lineFaultsTold[line],
        QStringLiteral("%1\n\nNothing was sent and no recipient lost an attempt. Sending "
                       "resumes by itself once the line can be used.")
            .arg(fault));
}

// A carrier's fault on this side holds up no other provider and probes no line: the
// provider is called again in its turn, and the operator is told once per provider
// until a call of it gets through. The fault (a certificates file, TLS missing) may
// not say which provider it stopped, so the text names it.
void CSendScheduler::CarrierFaultEnded(const RunningSend& send, const QString& fault)
{
    if (fault.isEmpty()) {
        m_carrierFaultsTold.erase(send.providerId);
        return;
    }
    TellOnce(m_carrierFaultsTold[send.providerId],
        QStringLiteral("Cannot reach the service provider %1: %2\n\nNothing was sent and no "
                       "recipient lost an attempt; %1 is called again in its turn.")
            .arg(send.providerName, fault));
}

// After a send failed on this side of its line device, no send through that line starts
// until it can be used again; the operator was told once, when it failed.
bool CSendScheduler::LineUsable(const QString& line)
{
    const auto failed = m_lineFaults.find(line);
    if (failed == m_lineFaults.end())
        return true;
    if (const std::optional<QString> fault = SendLineFault(m_host.ModemList(), line)) {
        qCDebug(lcLine, "The line %s is still unusable: %s", qUtf8Printable(line),
            qUtf8Printable(*fault));
        return false;
    }
    qCInfo(lcLine, "The line %s can be used again", qUtf8Printable(line));
    m_lineFaults.erase(failed);
    return true;
}

// Dialling is pointless when the outcome could not be stored: the page would be sent
// and then kept, at best. The operator is told once until the reason changes.
bool CSendScheduler::DatabaseTakesOutcome(const SendOrder& order)
{
    const std::optional<QString> refusal = order.job && !order.recipients.empty()
        ? OutcomeWriteRefusal(order.job->m_messageId, order.recipients.front())
        : std::nullopt;
    if (!refusal) {
        m_strLastWriteRefusal.clear();
        return true;
    }
    TellOnce(m_strLastWriteRefusal,
        QStringLiteral("Nothing is being sent: the database will not take the outcome of a "
                       "page. %1\n\nSending resumes by itself once it does.")
            .arg(*refusal));
    return false;
}

void CSendScheduler::TellOnce(QString& lastTold, const QString& text)
{
    if (text == lastTold)
        return;
    lastTold = text;
    Prompt::current().inform(text);
}

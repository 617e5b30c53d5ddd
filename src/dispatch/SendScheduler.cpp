#include "dispatch/SendScheduler.h"

#include "carrier/CarrierAddress.h"
#include "data/QuillpostDoc.h"
#include "dispatch/SendResult.h"
#include "modem/LineProbe.h"
#include "modem/ModemList.h"
#include "platform/LogCategories.h"
#include "platform/Prompt.h"
#include "platform/db/DaoRecordset.h"
#include "platform/telephony/DialString.h"

#include <algorithm>

CSendScheduler::CSendScheduler(ISchedulerHost& host, QString holderName)
    : m_host(host)
    , m_lock(std::move(holderName))
{
}

void CSendScheduler::Run()
{
    CQuillpostDoc* doc = m_host.SchedulerDocument();
    if (!doc)
        return;
    // A send in progress reloads after each result it records; another program's
    // changes are seen once it has closed. The database is read after the lock is
    // taken, so that nothing another dispatcher recorded before letting it go is missed.
    const bool holding = HoldDispatcherLock();
    if (holding)
        ReplayKeptOutcomes();
    if (m_host.IsSendInProgress())
        return;
    if (doc->ReloadIfChanged())
        m_host.DocumentReloaded();
    if (!holding)
        return;
    const bool lineUsable = LineUsable();
    m_rules.settled = m_journal.Recipients();
    std::optional<SendOrder> order = ChooseCallableSend(*doc, lineUsable);
    if (!order || !DatabaseTakesOutcome(*order))
        return;
    m_rules.lastCall[order->providerId] = ++m_nCalls;
    m_nLastProvider = order->providerId;
    m_strLastProviderName = order->providerName;
    m_bLastSendUsedLine = ParseCarrierAddress(order->accessNumber).NeedsLineDevice();
    order->journal = &m_journal;
    m_host.StartSend(std::move(*order));
}

// A provider whose stored access number cannot be called (a character such as ";" would
// give a modem commands of its own, a URL may be malformed) is passed over, its messages
// waiting untouched until the number is corrected, so that it costs nobody an attempt and
// holds up no other provider. The operator is told once. A provider reached through the
// line device waits quietly while no modem is chosen or the line cannot be used; one
// reached by URL needs neither.
std::optional<SendOrder> CSendScheduler::ChooseCallableSend(
    const CQuillpostDoc& doc, bool lineUsable)
{
    m_rules.passedOver.clear();
    const bool modemChosen = !m_host.ModemList().StoredModemName().isEmpty();
    while (std::optional<SendOrder> order = ChooseDueSend(doc, m_rules)) {
        const std::optional<QString> fault = AccessNumberRefusal(*order);
        if (!fault) {
            if (!ParseCarrierAddress(order->accessNumber).NeedsLineDevice()
                || (modemChosen && lineUsable))
                return order;
        } else {
            TellOnce(m_strLastNumberFault,
                QStringLiteral("%1. Its messages wait until the access number is corrected in "
                               "the service provider's properties.")
                    .arg(*fault));
        }
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
bool CSendScheduler::CouldSend() const
{
    if (m_host.IsSendingDisabled())
        return false;
    if (!m_host.ModemList().StoredModemName().isEmpty())
        return true;
    CQuillpostDoc* const doc = m_host.SchedulerDocument();
    return doc
        && std::any_of(doc->m_providers.begin(), doc->m_providers.end(),
            [](const auto& provider) { return IsCarrierUrl(provider->m_accessNumber); });
}

// The host hears of the lock only when its state changes, so that a log says it once.
bool CSendScheduler::HoldDispatcherLock()
{
    if (!CouldSend()) {
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
}

void CSendScheduler::SendEnded(const QString& lineFault)
{
    if (!m_bLastSendUsedLine) {
        CarrierFaultEnded(lineFault);
        return;
    }
    if (lineFault.isEmpty()) {
        m_strLastLineFaultTold.clear();
        return;
    }
    m_strLineFault = lineFault;
    TellOnce(m_strLastLineFaultTold,
        QStringLiteral("%1\n\nNothing was sent and no recipient lost an attempt. Sending "
                       "resumes by itself once the line can be used.")
            .arg(lineFault));
}

// A carrier's fault on this side holds up no other provider and probes no line: the
// provider is called again in its turn, and the operator is told once per provider
// until a call of it gets through. The fault (a certificates file, TLS missing) may
// not say which provider it stopped, so the text names it.
void CSendScheduler::CarrierFaultEnded(const QString& fault)
{
    if (fault.isEmpty()) {
        m_carrierFaultsTold.erase(m_nLastProvider);
        return;
    }
    TellOnce(m_carrierFaultsTold[m_nLastProvider],
        QStringLiteral("Cannot reach the service provider %1: %2\n\nNothing was sent and no "
                       "recipient lost an attempt; %1 is called again in its turn.")
            .arg(m_strLastProviderName, fault));
}

// After a send failed on this side of its line device, no send through the line starts
// until it can be used again; the operator was told once, when it failed.
bool CSendScheduler::LineUsable()
{
    if (m_strLineFault.isEmpty())
        return true;
    if (const std::optional<QString> fault = SendLineFault(m_host.ModemList())) {
        qCDebug(lcLine, "The line is still unusable: %s", qUtf8Printable(*fault));
        return false;
    }
    qCInfo(lcLine, "The line can be used again");
    m_strLineFault.clear();
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

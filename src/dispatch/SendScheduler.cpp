#include "dispatch/SendScheduler.h"

#include "data/QuillpostDoc.h"

CSendScheduler::CSendScheduler(ISchedulerHost& host, QString holderName)
    : m_host(host)
    , m_lock(std::move(holderName))
{
}

void CSendScheduler::Run()
{
    CQuillpostDoc* doc = m_host.SchedulerDocument();
    // A send in progress reloads after each result it records; another program's
    // changes are seen once it has closed.
    if (!doc || m_host.IsSendInProgress())
        return;
    if (doc->ReloadIfChanged())
        m_host.DocumentReloaded();
    if (!HoldDispatcherLock() || m_host.IsSendingDisabled())
        return;
    if (std::optional<SendOrder> order = ChooseDueSend(*doc))
        m_host.StartSend(std::move(*order));
}

// The host hears of the lock only when its state changes, so that a log says it once.
bool CSendScheduler::HoldDispatcherLock()
{
    if (m_lock.TryAcquire()) {
        if (!m_bToldHeld)
            m_host.DispatcherLockChanged(QString());
        m_bToldHeld = true;
        m_strLastRefusal.clear();
        return true;
    }
    if (m_bToldHeld || m_lock.RefusalReason() != m_strLastRefusal) {
        m_strLastRefusal = m_lock.RefusalReason();
        m_host.DispatcherLockChanged(m_strLastRefusal);
    }
    m_bToldHeld = false;
    return false;
}

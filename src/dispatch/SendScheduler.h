#pragma once

#include "dispatch/DispatcherLock.h"
#include "dispatch/SendOrder.h"

#include <QString>

class CQuillpostDoc;

// What a scheduler run asks of the program it runs in: the desktop program answers
// with its document, its sending window and its status bar, the dispatcher without a
// window with its own document and its log.
class ISchedulerHost
{
public:
    virtual ~ISchedulerHost() = default;
    // The document to choose from; null while there is none, and the run does nothing.
    virtual CQuillpostDoc* SchedulerDocument() = 0;
    // True while a send started by this program has not yet closed.
    virtual bool IsSendInProgress() const = 0;
    // True once the operator has switched sending off for this session.
    virtual bool IsSendingDisabled() const { return false; }
    // The document was read again because another program changed the database.
    virtual void DocumentReloaded() { }
    // The dispatcher lock changed hands: an empty refusal means this program holds it
    // now; otherwise it says who holds it, or why it cannot be taken.
    virtual void DispatcherLockChanged(const QString& refusal) = 0;
    // Starts the send of what the run chose; the host owns it until it closes.
    virtual void StartSend(SendOrder order) = 0;
};

// The one scheduler of both programs. A run reads the database again when another
// program changed it, holds the database's dispatcher lock, and starts a send of the
// first due message unless a send is already running, sending is switched off, or
// another program holds the lock. Its host calls Run every kIntervalMs, timed from the
// end of the run before, so that runs never overlap.
class CSendScheduler
{
public:
    static constexpr int kIntervalMs = 5000;

    // `holderName` tells other programs who holds the lock, e.g. "quillpost --headless".
    CSendScheduler(ISchedulerHost& host, QString holderName);

    void Run();
    // Takes the lock unless it is held; the host hears whenever that changes. A run
    // does this itself; a program calls it at start to show at once who sends.
    bool HoldDispatcherLock();
    bool HoldsDispatcherLock() const { return m_lock.IsHeld(); }

private:

    ISchedulerHost& m_host;
    CDispatcherLock m_lock;
    QString m_strLastRefusal;
    bool m_bToldHeld = false;
};

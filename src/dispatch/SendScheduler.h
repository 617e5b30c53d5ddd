#pragma once

#include "dispatch/DispatcherLock.h"
#include "dispatch/OutcomeJournal.h"
#include "dispatch/SendOrder.h"

#include <QString>
#include <cstdint>
#include <map>
#include <optional>

class CModemList;
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
    // The line devices the host's sends go through, with the modem name chosen.
    virtual CModemList& ModemList() = 0;
    // The document was read again because another program changed the database.
    virtual void DocumentReloaded() { }
    // A message's outcome, kept while the database would not take it, is stored now.
    virtual void OutcomeRecorded(std::int32_t messageId) = 0;
    // The dispatcher lock changed hands: `held` when this program holds it now;
    // otherwise `refusal` says who holds it or why it cannot be taken, and is empty
    // when this program let it go because it cannot send.
    virtual void DispatcherLockChanged(bool held, const QString& refusal) = 0;
    // Starts the send of what the run chose; the host owns it until it closes, and then
    // calls SendEnded.
    virtual void StartSend(SendOrder order) = 0;
};

// The one scheduler of both programs. A run holds the database's dispatcher lock while
// this program could send (sending is on, and a line device is chosen or a provider is
// reached by URL) and lets it go otherwise, stores the outcomes kept earlier, reads the
// database again when another program changed it, and starts a send of what is due
// unless a send is already running, another program holds the lock, or the database
// would not take the outcome. A provider reached through the line device waits while
// no modem is chosen, or the line failed on this side and is still unusable. Its host
// calls Run every kIntervalMs, timed from the end of the run before, so that runs never
// overlap.
class CSendScheduler
{
public:
    static constexpr int kIntervalMs = 5000;

    // `holderName` tells other programs who holds the lock, e.g. "quillpost --headless".
    CSendScheduler(ISchedulerHost& host, QString holderName);

    void Run();
    // Takes the lock unless it is held, or lets it go when this program cannot send;
    // the host hears whenever that changes. A program calls it at start to show at once
    // who sends.
    bool HoldDispatcherLock();
    bool HoldsDispatcherLock() const { return m_lock.IsHeld(); }
    // The host's send has closed; `lineFault` says why when it failed on this side
    // before any call was made.
    void SendEnded(const QString& lineFault);

private:
    bool CouldSend() const;
    void ReplayKeptOutcomes();
    bool LineUsable();
    bool DatabaseTakesOutcome(const SendOrder& order);
    std::optional<SendOrder> ChooseCallableSend(const CQuillpostDoc& doc, bool lineUsable);
    // Why the order's access number cannot be called, naming the provider; or nothing.
    static std::optional<QString> AccessNumberRefusal(const SendOrder& order);
    void CarrierFaultEnded(const QString& fault);
    void TellOnce(QString& lastTold, const QString& text);

    ISchedulerHost& m_host;
    CDispatcherLock m_lock;
    COutcomeJournal m_journal;
    // The settled recipients are the journal's, taken afresh at every run.
    SendChoiceRules m_rules;
    std::uint64_t m_nCalls = 0;
    QString m_strLastRefusal;
    QString m_strLineFault;
    QString m_strLastNumberFault;
    QString m_strLastLineFaultTold;
    QString m_strLastWriteRefusal;
    // The fault last told of each provider reached by URL whose last call failed on
    // this side.
    std::map<std::int32_t, QString> m_carrierFaultsTold;
    std::int32_t m_nLastProvider = 0;
    QString m_strLastProviderName;
    bool m_bLastSendUsedLine = true;
    bool m_bToldHeld = false;
};

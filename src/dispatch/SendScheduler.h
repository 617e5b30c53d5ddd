#pragma once

#include "dispatch/DispatcherLock.h"
#include "dispatch/GroupClaims.h"
#include "dispatch/OutcomeJournal.h"
#include "dispatch/SendOrder.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <set>
#include <optional>

class CModemList;
class CQuillpostDoc;
class QTimer;

// How many sends may run at once, and through what.
struct SendCapacity
{
    // The line devices that may send, one call each; empty: the stored modem name alone.
    QStringList lines;
    // Calls to providers reached by URL at once, which need no line.
    int networkCalls = 4;
    // Providers allowed more than one call at once, by name; every other has one.
    std::map<QString, int> providerCalls;

    int CallsOf(const QString& providerName) const;
};

// What a scheduler run asks of the program it runs in: the desktop program answers
// with its document, its sending window and its status bar, the dispatcher without a
// window with its own document and its log.
class ISchedulerHost
{
public:
    virtual ~ISchedulerHost() = default;
    // The document to choose from; null while there is none, and the run does nothing.
    virtual CQuillpostDoc* SchedulerDocument() = 0;
    // True once the operator has switched sending off for this session.
    virtual bool IsSendingDisabled() const { return false; }
    // The line devices the host's sends go through, with the modem name chosen.
    virtual CModemList& ModemList() = 0;
    // The lines and calls the sends may use, read at every run.
    virtual SendCapacity Capacity() { return {}; }
    // The document was read again because another program changed the database.
    virtual void DocumentReloaded() { }
    // A message's outcome, kept while the database would not take it, is stored now.
    virtual void OutcomeRecorded(std::int32_t messageId) = 0;
    // The dispatcher lock changed hands: `held` when this program holds it now;
    // otherwise `refusal` says who holds it or why it cannot be taken, and is empty
    // when this program let it go because it cannot send.
    virtual void DispatcherLockChanged(bool held, const QString& refusal) = 0;
    // Starts the send of what the run chose, through the order's line (lineName) when
    // it needs one; the host owns it until it closes, and then calls SendEnded with the
    // order's sendNumber. Several sends may run at once.
    virtual void StartSend(SendOrder order) = 0;
};

// The one scheduler of both programs. A run holds the database's dispatcher lock while
// this program could send (sending is on, and a line device is chosen or a provider is
// reached by URL) and lets it go otherwise, stores the outcomes kept earlier, reads the
// database again when another program changed it, and starts a send of what is due on
// every free line, and up to the capacity's network calls for providers reached by URL,
// unless another program holds the lock or the database would not take the outcome.
// A (message, provider) group being sent is never chosen again until its send has
// closed, and a provider has at most its allowed calls at once. A provider reached
// through a line device waits while no line is free, no modem is chosen, or the lines
// failed on this side and are still unusable. Its host calls Run every kIntervalMs,
// timed from the end of the run before, so that runs never overlap.
class CSendScheduler
{
public:
    static constexpr int kIntervalMs = 5000;
    // How soon a run follows a change a database server told of: changes told close
    // together are read once, and an operator at another desk sees them within a second.
    static constexpr int kToldChangeDelayMs = 500;

    // Brings the run the single-shot timer waits for forward to kToldChangeDelayMs; a
    // timer not running means a run is under way, which reads the change.
    static void BringRunForward(QTimer& timer);

    // `holderName` tells other programs who holds the lock, e.g. "quillpost --headless".
    CSendScheduler(ISchedulerHost& host, QString holderName);

    void Run();
    // The host's interval between runs, when it is not kIntervalMs.
    void SetRunIntervalMs(int intervalMs);
    // Takes the lock unless it is held, or lets it go when this program cannot send and
    // no send of its own is running; the host hears whenever that changes. A program
    // calls it at start to show at once who sends.
    bool HoldDispatcherLock();
    bool HoldsDispatcherLock() const { return m_lock.IsHeld(); }
    // The host's send numbered `sendNumber` has closed; `lineFault` says why when it
    // failed on this side before any call was made.
    void SendEnded(std::uint64_t sendNumber, const QString& lineFault);
    // Sends started and not yet ended.
    int SendsInProgress() const { return int(m_running.size()); }

private:
    // A send started and not yet ended.
    struct RunningSend
    {
        QString line; // empty for a provider reached by URL
        std::int32_t providerId = 0;
        QString providerName;
        std::pair<std::int32_t, std::int32_t> group; // (message ID, provider ID)
    };

    // A dispatcher on a server takes back its claims at its first run after the server
    // restarted; no dispatcher claims anything new until this many runs have passed.
    static constexpr int kClaimGraceRuns = 3;

    bool CouldSend(const SendCapacity& capacity) const;
    bool HoldDispatcherLock(bool couldSend);
    void ReplayKeptOutcomes();
    bool KeepsOutcomeOf(std::int32_t messageId) const;
    void StartDueSends(CQuillpostDoc& doc, const SendCapacity& capacity);
    // On a server: claims the order's group and reads its rows again; the order as it
    // stands now, or nothing when another dispatcher has it or its rows are done.
    std::optional<SendOrder> ClaimGroup(CQuillpostDoc& doc, SendOrder order);
    // The lines no send uses now that can be used, in the capacity's order.
    QStringList FreeLines(const SendCapacity& capacity);
    bool LineUsable(const QString& line);
    bool DatabaseTakesOutcome(const SendOrder& order);
    // Passes over providers that have all the calls they may have.
    void PassOverBusyProviders(const SendCapacity& capacity);
    std::optional<SendOrder> ChooseCallableSend(const CQuillpostDoc& doc);
    // Why the order's access number cannot be called, naming the provider; or nothing.
    static std::optional<QString> AccessNumberRefusal(const SendOrder& order);
    void LineFaultEnded(const QString& line, const QString& fault);
    void CarrierFaultEnded(const RunningSend& send, const QString& fault);
    void TellOnce(QString& lastTold, const QString& text);

    ISchedulerHost& m_host;
    CDispatcherLock m_lock;
    CGroupClaims m_claims;
    // Groups whose send ended with outcomes kept in the journal: claimed until stored.
    std::set<std::pair<std::int32_t, std::int32_t>> m_claimsForKept;
    COutcomeJournal m_journal;
    // The settled recipients are the journal's, taken afresh at every run.
    SendChoiceRules m_rules;
    std::uint64_t m_nCalls = 0;
    std::map<std::uint64_t, RunningSend> m_running;
    QString m_strLastRefusal;
    // Why each line failed on this side, until it can be used again.
    std::map<QString, QString> m_lineFaults;
    QString m_strLastNumberFault;
    // The fault last told of each line, until a send through it gets past it.
    std::map<QString, QString> m_lineFaultsTold;
    QString m_strLastWriteRefusal;
    // The fault last told of each provider reached by URL whose last call failed on
    // this side.
    std::map<std::int32_t, QString> m_carrierFaultsTold;
    bool m_bToldHeld = false;
};

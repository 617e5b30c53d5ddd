#pragma once

#include "app/MainFrame.h"
#include "dispatch/SendScheduler.h"
#include "dispatch/SendingDlg.h"
#include "dispatch/SendSession.h"
#include "modem/ModemList.h"
#include "modem/SendLineChoice.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class CQuillpostDoc;
class CQuillpostTreeView;

// The one application object: start-up, the operator's stored modem name, and the
// state that the scheduler and the sending window share. Created once by main() after
// the QApplication. The scheduler and the sending window ask it through their
// interfaces; nothing outside the application reaches into this object.
class CQuillpostApp : public QObject, private ISchedulerHost, private ISendingWindowOwner
{
    Q_OBJECT

public:
    explicit CQuillpostApp(QObject* parent = nullptr);
    ~CQuillpostApp() override;

    CQuillpostApp(const CQuillpostApp&) = delete;
    CQuillpostApp& operator=(const CQuillpostApp&) = delete;

    // The application object alive now, or nullptr.
    static CQuillpostApp* instance();

    // Shortens the scheduler's period and the send's timings; before InitInstance.
    void SetPeriods(int schedulerIntervalMs, SendTiming sendTiming);

    // Creates the document, the main frame with its view and timer, loads the
    // database, shows the window, fills the tree and reads the stored modem name.
    // False when the main window could not be made.
    bool InitInstance();

    // One scheduler run; called only from the main frame's timer. Reloads the document
    // when another program changed the database. Opens a sending window for each send
    // the scheduler starts (one per free send line, and calls to providers reached by
    // URL), unless sending is switched off, there is no document, or another program
    // holds the dispatcher lock.
    void RunScheduler();

    CMainFrame* MainFrame() const { return m_pMainWnd.get(); }
    // The document once start-up has ended; null again when the document is closed.
    CQuillpostDoc* Document() const { return m_pDoc; }
    CQuillpostTreeView* TreeView() const { return m_pTreeView; }
    bool IsSendInProgress() const { return !SendingWindows().isEmpty(); }
    // The sending windows of the sends in progress, oldest first.
    QList<CSendingDlg*> SendingWindows() const;
    bool IsSendingDisabled() const override { return m_bSendingDisabled; }
    // Switches sending off until the program ends.
    void DisableSending() override { m_bSendingDisabled = true; }

    // The line devices, matched against the stored modem name at every discovery.
    CModemList& ModemList() override { return m_modemList; }
    const QString& ModemName() const { return m_strModemName; }
    // Keeps the name and stores it; the operator is told when it cannot be stored.
    void SetModemName(const QString& name);
    // The line devices found now, each with whether it is a send line. Discovery runs
    // quietly: a modem not found is the business of Select Modem, not of a menu.
    std::vector<SendLineEntry> SendLineChoices();
    // Adds the line to the stored send lines or takes it away; with none left, the modem
    // name alone sends. The operator is told when the list cannot be stored.
    void SetSendLine(const QString& line, bool chosen);

private:
    CQuillpostDoc* SchedulerDocument() override { return m_pDoc; }
    void DocumentReloaded() override;
    void OutcomeRecorded(std::int32_t messageId) override { SendResultRecorded(messageId); }
    void DispatcherLockChanged(bool held, const QString& refusal) override;
    void StartSend(SendOrder order) override;
    // After a send recorded a result: the document and the tree catch up with it.
    void SendResultRecorded(std::int32_t messageId) override;
    void SendingWindowClosed(std::uint64_t sendNumber, const QString& lineFault) override;
    SendCapacity Capacity() override;
    // Moves a new sending window clear of the ones already shown.
    void PlaceSendingWindow(CSendingDlg& window) const;

    bool m_bSendingDisabled = false;
    CQuillpostTreeView* m_pTreeView = nullptr;
    // The open sending windows; they refer to this object and its modem list.
    QList<QPointer<CSendingDlg>> m_sendingDlgs;
    CModemList m_modemList;
    QString m_strModemName;
    CQuillpostDoc* m_pDoc = nullptr;
    int m_nSchedulerIntervalMs = CSendScheduler::kIntervalMs;
    SendTiming m_sendTiming;
    CSendScheduler m_scheduler { *this, QStringLiteral("the Quillpost desktop program") };
    std::unique_ptr<CQuillpostDoc> m_document;
    std::unique_ptr<CMainFrame> m_pMainWnd;
};

// The application object; only valid while one exists.
CQuillpostApp& theApp();

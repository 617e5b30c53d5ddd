#pragma once

#include "app/MainFrame.h"
#include "dispatch/DispatcherLock.h"
#include "dispatch/SendSession.h"
#include "modem/ModemList.h"

#include <QObject>
#include <QString>
#include <memory>

class CQuillpostDoc;
class CQuillpostTreeView;

// The one application object: start-up, the operator's stored modem name, and the
// state that the scheduler and the sending window share. Created once by main()
// after the QApplication; theApp() reaches it from anywhere on the window thread.
class CQuillpostApp : public QObject
{
    Q_OBJECT

public:
    explicit CQuillpostApp(QObject* parent = nullptr);
    ~CQuillpostApp() override;

    CQuillpostApp(const CQuillpostApp&) = delete;
    CQuillpostApp& operator=(const CQuillpostApp&) = delete;

    // The application object alive now, or nullptr.
    static CQuillpostApp* instance();

    // Creates the document, the main frame with its view and timer, loads the
    // database, shows the window, fills the tree and reads the stored modem name.
    // False when the main window could not be made.
    bool InitInstance();

    // Writes m_strModemName as the stored modem name.
    void SaveModemName();

    // One scheduler run; called only from the main frame's timer. Reloads the document
    // when another program changed the database. Opens a sending window for the first
    // due message that can be sent, unless a send is in progress, sending is switched
    // off, there is no document, or another program holds the dispatcher lock.
    void RunScheduler();

    CMainFrame* MainFrame() const { return m_pMainWnd.get(); }

    // Set once the operator chose to stop sending until the program ends.
    bool m_bSendingDisabled = false;
    // True while a sending window is open.
    bool m_bSendInProgress = false;
    // The navigation tree; the view stores itself here.
    CQuillpostTreeView* m_pTreeView = nullptr;
    // The line devices, matched against m_strModemName at every discovery.
    CModemList m_modemList;
    QString m_strModemName;
    // The document once start-up has ended; null again when the document is closed.
    CQuillpostDoc* m_pDoc = nullptr;
    // The scheduler's period and the send's timings; tests shorten them before
    // InitInstance.
    int m_nSchedulerIntervalMs = CMainFrame::kSchedulerIntervalMs;
    SendTiming m_sendTiming;

private:
    // Takes the dispatcher lock unless it is held, and shows who holds it otherwise.
    bool HoldDispatcherLock();

    CDispatcherLock m_dispatcherLock { QStringLiteral("the Quillpost desktop program") };
    std::unique_ptr<CQuillpostDoc> m_document;
    std::unique_ptr<CMainFrame> m_pMainWnd;
};

// The application object; only valid while one exists.
CQuillpostApp& theApp();

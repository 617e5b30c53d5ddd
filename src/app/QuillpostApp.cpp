#include "app/QuillpostApp.h"

#include "app/AppSettings.h"
#include "app/MainFrame.h"
#include "data/QuillpostDoc.h"
#include "platform/Prompt.h"
#include "ui/QuillpostTreeView.h"

#include <QtGlobal>

namespace {

CQuillpostApp* g_app = nullptr;

} // namespace

CQuillpostApp::CQuillpostApp(QObject* parent)
    : QObject(parent)
    , m_modemList([this] { return m_strModemName; })
{
    Q_ASSERT(g_app == nullptr);
    g_app = this;
}

CQuillpostApp::~CQuillpostApp()
{
    // A sending window still open goes first: it refers to this object. Then the frame
    // and its view: the view refers to the document.
    delete m_pSendingDlg;
    m_pMainWnd.reset();
    m_document.reset();
    if (g_app == this)
        g_app = nullptr;
}

CQuillpostApp* CQuillpostApp::instance()
{
    return g_app;
}

CQuillpostApp& theApp()
{
    Q_ASSERT(g_app != nullptr);
    return *g_app;
}

void CQuillpostApp::SetPeriods(int schedulerIntervalMs, SendTiming sendTiming)
{
    m_nSchedulerIntervalMs = schedulerIntervalMs;
    m_sendTiming = sendTiming;
}

bool CQuillpostApp::InitInstance()
{
    m_document = std::make_unique<CQuillpostDoc>();
    m_document->SetContentsDeletedHandler([this] { m_pDoc = nullptr; });

    // The frame starts the scheduler timer and makes the view; the scheduler does
    // nothing until m_pDoc is set below.
    m_pMainWnd = std::make_unique<CMainFrame>(
        *m_document, [this] { RunScheduler(); }, m_nSchedulerIntervalMs);
    m_pTreeView = m_pMainWnd->View();
    if (!m_document->OnNewDocument())
        return false;

    m_pMainWnd->show();
    m_pTreeView->EnsureFilled();
    m_pDoc = m_document.get();

    m_strModemName = AppSettings::ReadModemName();
    m_bSendInProgress = false;
    m_scheduler.HoldDispatcherLock();
    return true;
}

void CQuillpostApp::SetModemName(const QString& name)
{
    m_strModemName = name;
    // A line chosen now may be usable where the last one was not; the lock follows.
    m_scheduler.HoldDispatcherLock();
    // The choice would otherwise be lost silently and only show at the next send.
    if (!AppSettings::WriteModemName(m_strModemName))
        Prompt::current().inform(QStringLiteral("Unable to save the modem name"));
}

void CQuillpostApp::RunScheduler()
{
    m_scheduler.Run();
}

void CQuillpostApp::DispatcherLockChanged(bool held, const QString& refusal)
{
    if (m_pMainWnd)
        m_pMainWnd->ShowOtherDispatcher(held ? QString() : refusal);
}

void CQuillpostApp::SendingWindowClosed(const QString& lineFault)
{
    m_bSendInProgress = false;
    m_scheduler.SendEnded(lineFault);
}

// Another program changed the database (a message queued by quillpost-send, an address
// book edited at another desk): the tree shows the document as now read.
void CQuillpostApp::DocumentReloaded()
{
    if (m_pTreeView)
        m_pTreeView->RefreshTree();
}

void CQuillpostApp::StartSend(SendOrder order)
{
    m_bSendInProgress = true;
    // The window has no parent and deletes itself when its send has closed.
    m_pSendingDlg = new CSendingDlg(std::move(order), m_modemList, *this, m_sendTiming);
    if (m_pSendingDlg->OnInitDialog())
        m_pSendingDlg->show();
}

void CQuillpostApp::SendResultRecorded(std::int32_t messageId)
{
    if (!m_pDoc)
        return;
    // A result changes one row's Status, Retries and time, none of which the tree
    // shows: re-reading that message keeps the document current at the cost of a few
    // rows, where reading every table and rebuilding the tree after each page would
    // hold up a long send on a large database by seconds a page.
    if (m_pDoc->CatchUpWithMessage(messageId) && m_pTreeView)
        m_pTreeView->RefreshTree();
}

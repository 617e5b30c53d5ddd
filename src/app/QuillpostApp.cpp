#include "app/QuillpostApp.h"

#include "app/AppSettings.h"
#include "app/MainFrame.h"
#include "data/QuillpostDoc.h"
#include "dispatch/SendingDlg.h"
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
    // The frame and its view go first: the view refers to the document.
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

bool CQuillpostApp::InitInstance()
{
    m_document = std::make_unique<CQuillpostDoc>();
    m_document->SetContentsDeletedHandler([this] { m_pDoc = nullptr; });

    // The frame starts the scheduler timer and makes the view, which registers itself
    // in m_pTreeView; the scheduler does nothing until m_pDoc is set below.
    m_pMainWnd = std::make_unique<CMainFrame>(
        *m_document, [this] { RunScheduler(); }, m_nSchedulerIntervalMs);
    if (!m_document->OnNewDocument())
        return false;

    m_pMainWnd->show();

    if (m_pTreeView) {
        m_pTreeView->EnsureFilled();
        m_pDoc = m_pTreeView->GetDocument();
    }

    m_strModemName = AppSettings::ReadModemName();
    m_bSendInProgress = false;
    HoldDispatcherLock();
    return true;
}

void CQuillpostApp::SaveModemName()
{
    // The choice would otherwise be lost silently and only show at the next send.
    if (!AppSettings::WriteModemName(m_strModemName))
        Prompt::current().inform(QStringLiteral("Unable to save the modem name"));
}

bool CQuillpostApp::HoldDispatcherLock()
{
    const bool held = m_dispatcherLock.TryAcquire();
    if (m_pMainWnd)
        m_pMainWnd->ShowOtherDispatcher(held ? QString() : m_dispatcherLock.RefusalReason());
    return held;
}

void CQuillpostApp::RunScheduler()
{
    if (!m_pDoc)
        return;
    // Messages queued by a command-line sender, and results recorded by a dispatcher
    // elsewhere, show in the tree within one period. A send in progress reloads after
    // each result it records.
    if (!m_bSendInProgress && m_pDoc->ReloadIfChanged() && m_pTreeView)
        m_pTreeView->RefreshTree();
    if (!HoldDispatcherLock())
        return;
    if (m_pDoc->m_messages.empty() || m_bSendInProgress || m_bSendingDisabled)
        return;
    std::optional<SendOrder> order = ChooseDueSend(*m_pDoc);
    if (!order)
        return;
    m_bSendInProgress = true;
    // The window has no parent and deletes itself when its send has closed.
    auto* sendingDlg = new CSendingDlg(std::move(*order), m_modemList, m_sendTiming);
    if (sendingDlg->OnInitDialog())
        sendingDlg->show();
}

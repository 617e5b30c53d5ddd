#include "app/QuillpostApp.h"

#include "app/AppSettings.h"
#include "app/MainFrame.h"
#include "data/QuillpostDoc.h"
#include "platform/Prompt.h"
#include "ui/QuillpostTreeView.h"

#include <QScreen>
#include <algorithm>
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
    // Sending windows still open go first: they refer to this object. Then the frame
    // and its view: the view refers to the document.
    qDeleteAll(SendingWindows());
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
    m_scheduler.SetRunIntervalMs(schedulerIntervalMs);
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
    m_document->SetChangeToldHandler([this] {
        if (m_pMainWnd)
            m_pMainWnd->BringSchedulerRunForward();
    });
    if (!m_document->OnNewDocument())
        return false;

    m_pMainWnd->show();
    m_pTreeView->EnsureFilled();
    m_pDoc = m_document.get();

    m_strModemName = AppSettings::ReadModemName();
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

std::vector<SendLineEntry> CQuillpostApp::SendLineChoices()
{
    m_modemList.DiscoverQuietly();
    return SendLineEntries(m_modemList, AppSettings::ReadSendLines());
}

void CQuillpostApp::SetSendLine(const QString& line, bool chosen)
{
    // Read afresh: the list may have been edited by hand since the menu opened.
    const bool stored
        = AppSettings::WriteSendLines(ChangeSendLine(AppSettings::ReadSendLines(), line, chosen));
    // The scheduler reads the lines at every run, but whether this program can send at
    // all, and so holds the dispatcher lock, may change now.
    m_scheduler.HoldDispatcherLock();
    if (!stored)
        Prompt::current().inform(QStringLiteral("Unable to save the send lines"));
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

void CQuillpostApp::SendingWindowClosed(std::uint64_t sendNumber, const QString& lineFault)
{
    m_scheduler.SendEnded(sendNumber, lineFault);
}

SendCapacity CQuillpostApp::Capacity()
{
    return AppSettings::ReadSendCapacity();
}

QList<CSendingDlg*> CQuillpostApp::SendingWindows() const
{
    QList<CSendingDlg*> open;
    for (const QPointer<CSendingDlg>& window : m_sendingDlgs) {
        if (window && !window->IsSendClosed())
            open.append(window);
    }
    return open;
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
    m_sendingDlgs.removeAll(nullptr);
    // The window has no parent and deletes itself when its send has closed.
    QPointer<CSendingDlg> window = new CSendingDlg(std::move(order), m_modemList, *this, m_sendTiming);
    m_sendingDlgs.append(window);
    if (!window->OnInitDialog() || !window)
        return;
    window->show();
    PlaceSendingWindow(*window);
}

// A new window takes the first place, in columns from the first window down, where it
// overlaps no window shown, so that no send's status hides another's.
void CQuillpostApp::PlaceSendingWindow(CSendingDlg& window) const
{
    QList<CSendingDlg*> shown = SendingWindows();
    shown.removeAll(&window);
    if (shown.isEmpty())
        return;
    constexpr int kGap = 8;
    const QRect first = shown.first()->frameGeometry();
    const QSize size = window.frameGeometry().size();
    const QRect screen = window.screen() ? window.screen()->availableGeometry() : QRect();
    const int rows = screen.isValid()
        ? std::max(1, (screen.bottom() - first.top()) / (size.height() + kGap))
        : int(shown.size()) + 1;
    const auto overlapsShown = [&](const QRect& place) {
        return std::any_of(shown.begin(), shown.end(),
            [&](const CSendingDlg* other) { return other->frameGeometry().intersects(place); });
    };
    for (int place = 0; place <= int(shown.size()); ++place) {
        const QRect candidate(first.topLeft()
                + QPoint((place / rows) * (size.width() + kGap),
                    (place % rows) * (size.height() + kGap)),
            size);
        if (!overlapsShown(candidate)) {
            window.move(candidate.topLeft());
            return;
        }
    }
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

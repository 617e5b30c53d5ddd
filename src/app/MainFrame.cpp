#include "app/MainFrame.h"

#include "app/AboutDlg.h"
#include "app/CommandIds.h"
#include "app/QuillpostApp.h"
#include "data/QuillpostDoc.h"
#include "modem/SelectModemDlg.h"
#include "res/CategoryImages.h"
#include "res/MenuResources.h"
#include "res/ToolbarImages.h"
#include "ui/PlainText.h"
#include "ui/QuillpostTreeView.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <algorithm>

namespace {

QString objectNameFor(int commandId)
{
    return QStringLiteral("command%1").arg(commandId);
}

// Theme pictures where the desktop has them, the style's own otherwise.
QIcon toolbarIcon(int commandId, const QStyle* style)
{
    switch (commandId) {
    case ID_FILE_NEW:
        return QIcon::fromTheme("document-new", style->standardIcon(QStyle::SP_FileIcon));
    case ID_FILE_OPEN:
        return QIcon::fromTheme("document-open", style->standardIcon(QStyle::SP_DialogOpenButton));
    case ID_FILE_SAVE:
        return QIcon::fromTheme("document-save", style->standardIcon(QStyle::SP_DialogSaveButton));
    case ID_EDIT_CUT:
        return QIcon::fromTheme("edit-cut", Res::CutImage());
    case ID_EDIT_COPY:
        return QIcon::fromTheme("edit-copy", Res::CopyImage());
    case ID_EDIT_PASTE:
        return QIcon::fromTheme("edit-paste", Res::PasteImage());
    case ID_FILE_PRINT:
        return QIcon::fromTheme("document-print", Res::PrintImage());
    case ID_APP_ABOUT:
        return QIcon::fromTheme(
            "help-about", style->standardIcon(QStyle::SP_MessageBoxInformation));
    default:
        return QIcon();
    }
}

// A checkable entry of System, Send Lines; choosing it adds the line or takes it away.
void addSendLineChoice(QMenu& menu, const SendLineEntry& entry)
{
    QString text = entry.line;
    text.replace(QLatin1Char('&'), QStringLiteral("&&")); // a name has no shortcut key
    QAction* choice
        = menu.addAction(entry.found ? text : QStringLiteral("%1 (not found)").arg(text));
    choice->setData(entry.line);
    choice->setCheckable(true);
    choice->setChecked(entry.chosen);
    QObject::connect(choice, &QAction::triggered, [line = entry.line](bool chosen) {
        if (CQuillpostApp* app = CQuillpostApp::instance())
            app->SetSendLine(line, chosen);
    });
}

} // namespace

CMainFrame::CMainFrame(CQuillpostDoc& doc, std::function<void()> runScheduler,
    int schedulerIntervalMs, QWidget* parent)
    : QMainWindow(parent)
    , m_doc(doc)
    , m_runScheduler(std::move(runScheduler))
    , m_nSchedulerIntervalMs(schedulerIntervalMs)
{
    setWindowTitle(Res::kAppTitle);
    setWindowIcon(Res::ProgramIcon());
    OnCreate();
    // Room for the whole menu bar and a useful part of the tree on a first start.
    resize(kDefaultWidth, kDefaultHeight);
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::OnCreate()
{
    m_pView = new CQuillpostTreeView(m_doc, this);
    setCentralWidget(m_pView);

    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();

    m_pSchedulerTimer = new QTimer(this);
    m_pSchedulerTimer->setObjectName("schedulerTimer");
    connect(m_pSchedulerTimer, &QTimer::timeout, this, &CMainFrame::OnTimer);
    m_pSchedulerTimer->start(m_nSchedulerIntervalMs);
}

QAction* CMainFrame::AddAction(int commandId, const QString& text)
{
    auto* action = new QAction(text, this);
    action->setData(commandId);
    action->setObjectName(objectNameFor(commandId));
    action->setEnabled(false);
    m_actions[commandId] = action;
    return action;
}

void CMainFrame::CreateActions()
{
    for (const Res::MenuItem& item : Res::MainMenu()) {
        if (item.text)
            AddAction(item.id, QString::fromLatin1(item.text));
    }
    for (const Res::CommandText& command : Res::ExtraCommands()) {
        QAction* action = AddAction(command.id, QString::fromLatin1(command.text));
        action->setToolTip(QString::fromLatin1(command.tip));
        // Reachable only through the toolbar and the keyboard.
        addAction(action);
    }
    m_actions[ID_FILE_NEW]->setToolTip("New");
    m_actions[ID_FILE_OPEN]->setToolTip("Open");
    m_actions[ID_APP_ABOUT]->setToolTip("About");

    for (const Res::Accelerator& accelerator : Res::MainAccelerators()) {
        QAction* action = m_actions.at(accelerator.id);
        QList<QKeySequence> keys = action->shortcuts();
        keys.append(QKeySequence(QString::fromLatin1(accelerator.keys)));
        action->setShortcuts(keys);
    }

    for (auto& [commandId, action] : m_actions)
        RouteCommand(action, commandId);
}

// Connects an action to its handler and enables it; a command without a handler stays
// disabled, so its menu entry, button and accelerator do nothing.
void CMainFrame::RouteCommand(QAction* action, int commandId)
{
    switch (commandId) {
    case ID_APP_EXIT:
        connect(action, &QAction::triggered, this, &QWidget::close);
        break;
    case ID_APP_ABOUT:
        connect(action, &QAction::triggered, this, &CMainFrame::OnAppAbout);
        break;
    case ID_SYSTEM_SELECTMODEM:
        connect(action, &QAction::triggered, this, &CMainFrame::OnSelectModem);
        break;
    case ID_SYSTEM_SENDLINES:
        m_pSendLinesMenu = new QMenu(this);
        m_pSendLinesMenu->setObjectName(QStringLiteral("sendLinesMenu"));
        action->setMenu(m_pSendLinesMenu);
        connect(m_pSendLinesMenu, &QMenu::aboutToShow, this, &CMainFrame::OnSendLinesMenu);
        break;
    case ID_VIEW_TOOLBAR:
    case ID_VIEW_STATUS_BAR:
        action->setCheckable(true);
        action->setChecked(true);
        break;
    case ID_OPERATIONS_NEWUSER:
    case ID_OPERATIONS_NEWGROUP:
    case ID_OPERATIONS_NEWSERVICEPROVIDER:
    case ID_OPERATIONS_NEWMESSAGE:
        connect(action, &QAction::triggered, m_pView,
            [view = m_pView, commandId] { view->OnCommand(commandId); });
        action->setEnabled(CQuillpostTreeView::HasCommandHandler(commandId));
        return;
    default:
        // New, Open, Save, Print Setup, the recent-file entry and the editing and
        // printing commands have nothing behind them in this program.
        return;
    }
    action->setEnabled(true);
}

QAction* CMainFrame::CommandAction(int commandId) const
{
    auto found = m_actions.find(commandId);
    return found == m_actions.end() ? nullptr : found->second;
}

void CMainFrame::CreateMenus()
{
    QMenu* popup = nullptr;
    QString popupTitle;
    for (const Res::MenuItem& item : Res::MainMenu()) {
        if (!popup || popupTitle != QLatin1String(item.popup)) {
            popupTitle = QString::fromLatin1(item.popup);
            popup = menuBar()->addMenu(popupTitle);
        }
        if (item.text)
            popup->addAction(m_actions.at(item.id));
        else
            popup->addSeparator();
    }
}

void CMainFrame::CreateToolBar()
{
    m_wndToolBar = new QToolBar(this);
    m_wndToolBar->setObjectName("mainToolBar");
    m_wndToolBar->setMovable(true);
    m_wndToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_wndToolBar->setIconSize(QSize(16, 15));
    for (int commandId : Res::MainToolbar()) {
        if (commandId == ID_SEPARATOR) {
            m_wndToolBar->addSeparator();
            continue;
        }
        QAction* action = m_actions.at(commandId);
        action->setIcon(toolbarIcon(commandId, style()));
        action->setIconVisibleInMenu(false);
        m_wndToolBar->addAction(action);
    }
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);

    QAction* toggle = m_actions.at(ID_VIEW_TOOLBAR);
    connect(toggle, &QAction::triggered, m_wndToolBar, &QWidget::setVisible);
    connect(m_wndToolBar, &QToolBar::visibilityChanged, toggle, [this, toggle](bool visible) {
        // Hiding the whole window also hides the toolbar; only follow the operator's
        // own choice.
        if (isVisible())
            toggle->setChecked(visible);
    });
}

void CMainFrame::CreateStatusBar()
{
    m_wndStatusBar = statusBar();
    m_wndStatusBar->setObjectName("statusBar");
    // The message pane falls back to the idle text whenever a tip goes away.
    connect(m_wndStatusBar, &QStatusBar::messageChanged, m_wndStatusBar,
        [bar = m_wndStatusBar](const QString& message) {
            if (message.isEmpty())
                bar->showMessage(Res::kIdleMessage);
        });
    m_wndStatusBar->showMessage(Res::kIdleMessage);

    // Qt does not report the state of the lock keys, so the indicators keep their
    // texts, drawn greyed.
    for (const Res::Indicator& indicator : Res::StatusIndicators()) {
        auto* pane = new QLabel(QString::fromLatin1(indicator.text), m_wndStatusBar);
        pane->setObjectName(QStringLiteral("indicator%1").arg(indicator.id));
        pane->setEnabled(false);
        pane->setFrameShape(QFrame::Panel);
        pane->setFrameShadow(QFrame::Sunken);
        m_wndStatusBar->addPermanentWidget(pane);
    }

    // Stands before the indicators; shown only while another program is sending.
    m_pDispatcherPane = NewPlainLabel(m_wndStatusBar, QStringLiteral("dispatcherStatus"));
    m_pDispatcherPane->hide();
    m_wndStatusBar->insertPermanentWidget(0, m_pDispatcherPane);

    QAction* toggle = m_actions.at(ID_VIEW_STATUS_BAR);
    connect(toggle, &QAction::triggered, m_wndStatusBar, &QWidget::setVisible);
}

void CMainFrame::ShowOtherDispatcher(const QString& holder)
{
    m_pDispatcherPane->setText(
        holder.isEmpty() ? QString() : QStringLiteral("Another dispatcher is sending: %1").arg(holder));
    m_pDispatcherPane->setToolTip(PlainToolTip(m_pDispatcherPane->text()));
    m_pDispatcherPane->setVisible(!holder.isEmpty());
}

void CMainFrame::OnTimer()
{
    m_pSchedulerTimer->stop();
    QPointer<CMainFrame> alive(this);
    if (m_runScheduler)
        m_runScheduler();
    // The scheduler may have let the window close or go away in a nested event loop.
    if (!alive || m_bClosed)
        return;
    m_pSchedulerTimer->start(m_nSchedulerIntervalMs);
}

void CMainFrame::BringSchedulerRunForward()
{
    if (m_pSchedulerTimer && !m_bClosed)
        CSendScheduler::BringRunForward(*m_pSchedulerTimer);
}

void CMainFrame::OnSelectModem()
{
    CQuillpostApp* app = CQuillpostApp::instance();
    if (!app)
        return;
    CSelectModemDlg dlg(app->ModemList(), this);
    if (dlg.exec() != QDialog::Accepted)
        return;
    if (!app->ModemList().IsValidDevice(dlg.m_nSelectedDevice))
        return;
    app->SetModemName(app->ModemList().DeviceName(dlg.m_nSelectedDevice));
}

void CMainFrame::OnSendLinesMenu()
{
    m_pSendLinesMenu->clear();
    CQuillpostApp* app = CQuillpostApp::instance();
    const std::vector<SendLineEntry> entries
        = app ? app->SendLineChoices() : std::vector<SendLineEntry>();
    for (const SendLineEntry& entry : entries)
        addSendLineChoice(*m_pSendLinesMenu, entry);
    const bool anyChosen = std::any_of(
        entries.begin(), entries.end(), [](const SendLineEntry& entry) { return entry.chosen; });
    if (anyChosen)
        return;
    if (!entries.empty())
        m_pSendLinesMenu->addSeparator();
    m_pSendLinesMenu
        ->addAction(entries.empty()
                ? QStringLiteral("No line devices found")
                : QStringLiteral("None checked: the modem chosen with Select Modem sends alone"))
        ->setEnabled(false);
}

void CMainFrame::OnAppAbout()
{
    CAboutDlg aboutDlg(this);
    aboutDlg.exec();
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // Closing the window closes the document: the scheduler sees no document from now.
    m_bClosed = true;
    m_pSchedulerTimer->stop();
    m_doc.DeleteContents();
    QMainWindow::closeEvent(event);
}

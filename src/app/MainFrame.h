#pragma once

#include "dispatch/SendScheduler.h"

#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <map>

class CQuillpostDoc;
class CQuillpostTreeView;
class QLabel;
class QMenu;
class QStatusBar;
class QToolBar;

// The main window: menu bar, toolbar, status bar around the navigation tree, and the
// timer that drives the scheduler.
class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int kDefaultWidth = 640;
    static constexpr int kDefaultHeight = 480;

    // runScheduler is called on every tick of the scheduler timer, which starts here.
    CMainFrame(CQuillpostDoc& doc, std::function<void()> runScheduler,
        int schedulerIntervalMs = CSendScheduler::kIntervalMs, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CQuillpostTreeView* View() const { return m_pView; }
    // The action of a command, or nullptr.
    QAction* CommandAction(int commandId) const;

    // One tick: the timer stops, the scheduler runs, the timer starts again, so runs
    // never overlap and the interval counts from the end of a run.
    void OnTimer();
    // A change another desk made is shown within a second (CSendScheduler::BringRunForward).
    void BringSchedulerRunForward();
    void OnSelectModem();
    // Fills System, Send Lines as it opens: every line device found now, checked when
    // it is a send line; choosing one adds it or takes it away.
    void OnSendLinesMenu();
    // Says in the status bar that another program holds the database's dispatcher
    // lock and who it is; an empty holder takes the notice away.
    void ShowOtherDispatcher(const QString& holder);
    void OnAppAbout();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void OnCreate();
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void RouteCommand(QAction* action, int commandId);
    QAction* AddAction(int commandId, const QString& text);

    CQuillpostDoc& m_doc;
    std::function<void()> m_runScheduler;
    int m_nSchedulerIntervalMs;
    QStatusBar* m_wndStatusBar = nullptr;
    QLabel* m_pDispatcherPane = nullptr;
    QToolBar* m_wndToolBar = nullptr;
    QTimer* m_pSchedulerTimer = nullptr;
    QMenu* m_pSendLinesMenu = nullptr;
    CQuillpostTreeView* m_pView = nullptr;
    std::map<int, QAction*> m_actions;
    bool m_bClosed = false;
};

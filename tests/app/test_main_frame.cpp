#include "ModalWatcher.h"
#include "TempSettings.h"
#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "data/QuillpostDoc.h"
#include "platform/Prompt.h"

#include <QAction>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <memory>

namespace {

// Actions of one popup of the menu bar, separators left out.
QList<QAction*> popupEntries(QMainWindow& frame, const QString& popupTitle)
{
    for (QAction* top : frame.menuBar()->actions()) {
        if (top->text() == popupTitle && top->menu()) {
            QList<QAction*> entries;
            for (QAction* action : top->menu()->actions()) {
                if (!action->isSeparator())
                    entries.append(action);
            }
            return entries;
        }
    }
    return {};
}

// A prompt that behaves like a modal message box: it keeps the event loop running
// until it is dismissed.
class NestedLoopPrompt final : public Prompt
{
public:
    NestedLoopPrompt() { Prompt::install(this); }
    ~NestedLoopPrompt() override { Prompt::install(nullptr); }
    void inform(const QString&) override
    {
        QEventLoop loop;
        QTimer::singleShot(60, &loop, &QEventLoop::quit);
        loop.exec();
    }
    bool askYesNo(const QString& text) override
    {
        inform(text);
        return false;
    }
};

} // namespace

class TestMainFrame : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void menuEntries_data();
    void menuEntries();
    void menuBarTitles();
    void toolbarOrderAndStates();
    void accelerators_data();
    void accelerators();
    void statusBarPanes();
    void viewTogglesShowAndHide();
    void aboutBox();
    void titleAndTimer();
    void timerNeverReentersScheduler_data();
    void timerNeverReentersScheduler();
    void closingDuringRunLeavesTimerStopped();
    void exitClosesDocument();

private:
    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<CQuillpostDoc> m_doc;
    std::unique_ptr<CMainFrame> m_frame;
};

void TestMainFrame::initTestCase()
{
    m_settings = std::make_unique<TempSettings>();
}

void TestMainFrame::init()
{
    m_doc = std::make_unique<CQuillpostDoc>();
    m_frame = std::make_unique<CMainFrame>(*m_doc, [] {});
    m_frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
}

void TestMainFrame::cleanup()
{
    m_frame.reset();
    m_doc.reset();
}

void TestMainFrame::menuEntries_data()
{
    QTest::addColumn<QString>("popup");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("id");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("File New") << "&File" << 0 << "&New\tCtrl+N" << 57600 << false;
    QTest::newRow("File Open") << "&File" << 1 << "&Open...\tCtrl+O" << 57601 << false;
    // No printing support is linked in, so there is no printer set-up to offer.
    QTest::newRow("File Print Setup") << "&File" << 2 << "P&rint Setup..." << 57606 << false;
    QTest::newRow("File Recent File") << "&File" << 3 << "Recent File" << 57616 << false;
    QTest::newRow("File Exit") << "&File" << 4 << "E&xit" << 57665 << true;
    QTest::newRow("View Toolbar") << "&View" << 0 << "&Toolbar" << 59392 << true;
    QTest::newRow("View Status Bar") << "&View" << 1 << "&Status Bar" << 59393 << true;
    QTest::newRow("Operations New User") << "&Operations" << 0 << "New &User" << 32773 << false;
    QTest::newRow("Operations New Group") << "&Operations" << 1 << "New &Group" << 32774 << false;
    QTest::newRow("Operations New Service Provider")
        << "&Operations" << 2 << "New &Service Provider" << 32775 << false;
    QTest::newRow("Operations New Message")
        << "&Operations" << 3 << "New &Message" << 32771 << false;
    QTest::newRow("System Select Modem") << "&System" << 0 << "Select &Modem" << 32788 << true;
    QTest::newRow("Help About") << "&Help" << 0 << "&About Quillpost..." << 57664 << true;
}

void TestMainFrame::menuEntries()
{
    QFETCH(QString, popup);
    QFETCH(int, position);
    QFETCH(QString, text);
    QFETCH(int, id);
    QFETCH(bool, enabled);

    const QList<QAction*> entries = popupEntries(*m_frame, popup);
    QVERIFY2(position < entries.size(), qPrintable(popup));
    QAction* action = entries.at(position);
    QCOMPARE(action->text(), text);
    QCOMPARE(action->data().toInt(), id);
    QCOMPARE(action->isEnabled(), enabled);
    QCOMPARE(m_frame->CommandAction(id), action);
}

void TestMainFrame::menuBarTitles()
{
    QStringList titles;
    for (QAction* top : m_frame->menuBar()->actions())
        titles << top->text();
    QCOMPARE(titles, QStringList({ "&File", "&View", "&Operations", "&System", "&Help" }));
    QCOMPARE(popupEntries(*m_frame, "&File").size(), 5);
    QCOMPARE(popupEntries(*m_frame, "&View").size(), 2);
    QCOMPARE(popupEntries(*m_frame, "&Operations").size(), 4);
    QCOMPARE(popupEntries(*m_frame, "&System").size(), 1);
    QCOMPARE(popupEntries(*m_frame, "&Help").size(), 1);
}

void TestMainFrame::toolbarOrderAndStates()
{
    auto* toolbar = m_frame->findChild<QToolBar*>("mainToolBar");
    QVERIFY(toolbar);
    QVERIFY(toolbar->isVisible());

    struct Button
    {
        int id;
        bool enabled;
    };
    // 0 marks a separator.
    const QList<Button> expected = { { 57600, false }, { 57601, false }, { 57603, false },
        { 0, false }, { 57635, false }, { 57634, false }, { 57637, false }, { 0, false },
        { 57607, false }, { 0, false }, { 57664, true } };

    const QList<QAction*> actions = toolbar->actions();
    QCOMPARE(actions.size(), expected.size());
    for (qsizetype i = 0; i < actions.size(); ++i) {
        const QString where = QStringLiteral("button %1").arg(i);
        if (expected[i].id == 0) {
            QVERIFY2(actions[i]->isSeparator(), qPrintable(where));
            continue;
        }
        QCOMPARE(actions[i]->data().toInt(), expected[i].id);
        QCOMPARE(actions[i]->isEnabled(), expected[i].enabled);
        auto* button = qobject_cast<QToolButton*>(toolbar->widgetForAction(actions[i]));
        QVERIFY2(button, qPrintable(where));
        QCOMPARE(button->isEnabled(), expected[i].enabled);
    }
}

void TestMainFrame::accelerators_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("id");

    QTest::newRow("Ctrl+N") << "Ctrl+N" << 57600;
    QTest::newRow("Ctrl+O") << "Ctrl+O" << 57601;
    QTest::newRow("Ctrl+S") << "Ctrl+S" << 57603;
    QTest::newRow("Ctrl+P") << "Ctrl+P" << 57607;
    QTest::newRow("Ctrl+Z") << "Ctrl+Z" << 57643;
    QTest::newRow("Alt+Backspace") << "Alt+Backspace" << 57643;
    QTest::newRow("Ctrl+X") << "Ctrl+X" << 57635;
    QTest::newRow("Shift+Del") << "Shift+Del" << 57635;
    QTest::newRow("Ctrl+C") << "Ctrl+C" << 57634;
    QTest::newRow("Ctrl+Ins") << "Ctrl+Ins" << 57634;
    QTest::newRow("Ctrl+V") << "Ctrl+V" << 57637;
    QTest::newRow("Shift+Ins") << "Shift+Ins" << 57637;
    QTest::newRow("F6") << "F6" << 57680;
    QTest::newRow("Shift+F6") << "Shift+F6" << 57681;
}

void TestMainFrame::accelerators()
{
    QFETCH(QString, keys);
    QFETCH(int, id);

    const QKeySequence sequence(keys);
    QList<QAction*> bound;
    for (QAction* action : m_frame->findChildren<QAction*>()) {
        if (action->shortcuts().contains(sequence))
            bound.append(action);
    }
    QCOMPARE(bound.size(), 1);
    QCOMPARE(bound.first()->data().toInt(), id);
    // None of these commands has a handler in this program, so none may act.
    QVERIFY(!bound.first()->isEnabled());
}

void TestMainFrame::statusBarPanes()
{
    QStatusBar* bar = m_frame->statusBar();
    QCOMPARE(bar->currentMessage(), QString("Ready"));

    // A passing tip replaces the idle text, which comes back when the tip goes.
    bar->showMessage("Save");
    QCOMPARE(bar->currentMessage(), QString("Save"));
    bar->clearMessage();
    QCOMPARE(bar->currentMessage(), QString("Ready"));

    const QList<QPair<int, QString>> panes
        = { { 59137, "CAP" }, { 59138, "NUM" }, { 59139, "SCRL" } };
    int previousX = -1;
    for (const auto& [id, text] : panes) {
        auto* pane = bar->findChild<QLabel*>(QStringLiteral("indicator%1").arg(id));
        QVERIFY2(pane, qPrintable(text));
        QCOMPARE(pane->text(), text);
        QVERIFY(pane->isVisible());
        QVERIFY2(pane->x() > previousX, "panes out of order");
        previousX = pane->x();
    }
}

void TestMainFrame::viewTogglesShowAndHide()
{
    auto* toolbar = m_frame->findChild<QToolBar*>("mainToolBar");
    QAction* toolbarToggle = m_frame->CommandAction(ID_VIEW_TOOLBAR);
    QAction* statusToggle = m_frame->CommandAction(ID_VIEW_STATUS_BAR);
    QVERIFY(toolbarToggle->isChecked());
    QVERIFY(statusToggle->isChecked());

    toolbarToggle->trigger();
    QVERIFY(!toolbar->isVisible());
    QVERIFY(!toolbarToggle->isChecked());
    toolbarToggle->trigger();
    QVERIFY(toolbar->isVisible());
    QVERIFY(toolbarToggle->isChecked());

    statusToggle->trigger();
    QVERIFY(!m_frame->statusBar()->isVisible());
    statusToggle->trigger();
    QVERIFY(m_frame->statusBar()->isVisible());
    QVERIFY(statusToggle->isChecked());
}

void TestMainFrame::aboutBox()
{
    QString title;
    QStringList labels;
    ModalWatcher watcher(ModalWatcher::Kind::Dialog, [&](QWidget* dialog) {
        title = dialog->windowTitle();
        for (QLabel* label : dialog->findChildren<QLabel*>()) {
            if (!label->text().isEmpty())
                labels << label->text();
        }
        auto* ok = dialog->findChild<QPushButton*>("aboutOk");
        QVERIFY(ok);
        QCOMPARE(ok->text(), QString("OK"));
        ok->click();
    });
    m_frame->CommandAction(ID_APP_ABOUT)->trigger();

    QVERIFY(watcher.seen());
    QCOMPARE(title, QString("About Quillpost"));
    QCOMPARE(labels, QStringList("Quillpost Version 1.0"));
}

void TestMainFrame::titleAndTimer()
{
    QCOMPARE(m_frame->windowTitle(), QString("Quillpost"));
    auto* timer = m_frame->findChild<QTimer*>("schedulerTimer");
    QVERIFY(timer);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 5000);
}

void TestMainFrame::timerNeverReentersScheduler_data()
{
    QTest::addColumn<QString>("wait");
    QTest::newRow("nested event loop") << "loop";
    QTest::newRow("modal dialog") << "dialog";
    QTest::newRow("modal prompt") << "prompt";
}

// A scheduler run that keeps the event loop busy (as a modal box or dialog does) must
// not be entered again by the next tick; the timer is stopped during the run and
// running again after it.
void TestMainFrame::timerNeverReentersScheduler()
{
    QFETCH(QString, wait);

    CQuillpostDoc doc;
    CMainFrame* framePointer = nullptr;
    int runs = 0;
    bool inside = false;
    bool reentered = false;
    bool timerRanDuringRun = false;
    NestedLoopPrompt prompt;

    auto run = [&] {
        if (inside)
            reentered = true;
        inside = true;
        ++runs;
        if (framePointer->findChild<QTimer*>("schedulerTimer")->isActive())
            timerRanDuringRun = true;
        if (wait == "loop") {
            QEventLoop loop;
            QTimer::singleShot(60, &loop, &QEventLoop::quit);
            loop.exec();
        } else if (wait == "dialog") {
            QDialog dialog(framePointer);
            QTimer::singleShot(60, &dialog, &QDialog::accept);
            dialog.exec();
        } else {
            Prompt::current().inform("busy");
        }
        inside = false;
    };
    CMainFrame frame(doc, run, 5);
    framePointer = &frame;

    QTRY_VERIFY_WITH_TIMEOUT(runs >= 3, 10000);
    QVERIFY(!reentered);
    QVERIFY(!timerRanDuringRun);
    auto* timer = frame.findChild<QTimer*>("schedulerTimer");
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 5);
}

void TestMainFrame::closingDuringRunLeavesTimerStopped()
{
    CQuillpostDoc doc;
    CMainFrame* framePointer = nullptr;
    int runs = 0;
    CMainFrame frame(
        doc,
        [&] {
            ++runs;
            framePointer->close();
        },
        5);
    framePointer = &frame;
    frame.show();

    QTRY_COMPARE_WITH_TIMEOUT(runs, 1, 5000);
    QVERIFY(!frame.findChild<QTimer*>("schedulerTimer")->isActive());
}

void TestMainFrame::exitClosesDocument()
{
    int deleted = 0;
    m_doc->SetContentsDeletedHandler([&] { ++deleted; });
    auto user = std::make_unique<CUser>();
    user->m_name = "Ann";
    m_doc->m_users.push_back(std::move(user));

    m_frame->CommandAction(ID_APP_EXIT)->trigger();

    QVERIFY(!m_frame->isVisible());
    QCOMPARE(deleted, 1);
    QVERIFY(m_doc->m_users.empty());
    QVERIFY(!m_frame->findChild<QTimer*>("schedulerTimer")->isActive());
}

QTEST_MAIN(TestMainFrame)
#include "test_main_frame.moc"

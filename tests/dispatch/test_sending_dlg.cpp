#include "FakeClock.h"
#include "PresetPrompt.h"
#include "SimulatedLine.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "app/QuillpostApp.h"
#include "dispatch/DispatcherLock.h"
#include "dispatch/SendingDlg.h"

#include <QApplication>
#include <QDebug>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <memory>

using quillpost::sim::PagingSimulator;
using quillpost::sim::SimConfig;

namespace {

const QString kDue = QStringLiteral("2026-01-01 12:00:00");
constexpr int kWaitMs = 30000;

// The sending windows open now.
QList<CSendingDlg*> SendingWindows()
{
    QList<CSendingDlg*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dlg = qobject_cast<CSendingDlg*>(widget))
            windows << dlg;
    return windows;
}

// The window on screen sending the message, or nullptr.
CSendingDlg* WindowOf(int message)
{
    for (CSendingDlg* window : SendingWindows())
        if (window->isVisible() && window->Session().MessageId() == message)
            return window;
    return nullptr;
}

} // namespace

// The desktop program with the simulator as its one line device and a database of two
// due messages, M1 (first in table order) and M2, to one user each.
class TestSendingDlg : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_settings = std::make_unique<TempSettings>();
        m_db = std::make_unique<TempDatabase>();
    }

    void cleanup()
    {
        // A window still sending is closed by the time-out at the latest; wait for it, so
        // that nothing outlives the database and the simulator.
        QTRY_VERIFY_WITH_TIMEOUT(SendingWindows().isEmpty(), kWaitMs);
        m_app.reset();
        m_sim.reset();
        m_sim2.reset();
        m_db.reset();
        m_settings.reset();
    }

    // Messages go in table order, one window at a time; a tick during a send opens nothing.
    void scheduledSendsOneWindowAtATime()
    {
        PresetPrompt prompt;
        // Slow replies keep each call open for seconds, so that its window is there to be
        // seen whatever the load.
        SimConfig slow;
        slow.faults.slowReplyMs = 1000;
        Start(slow);
        QTRY_COMPARE_WITH_TIMEOUT(SendingWindows().size(), 1, kWaitMs);
        QVERIFY(m_app->IsSendInProgress());
        m_app->RunScheduler();
        QCOMPARE(SendingWindows().size(), 1);

        QTRY_COMPARE_WITH_TIMEOUT(Status(m_m2), 1, kWaitMs);
        QCOMPARE(Status(m_m1), 1);
        QCOMPARE(m_sim->pages().first().text + ' ' + m_sim->pages().last().text, "First Second");
        QCOMPARE(m_sim->callCount(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!m_app->IsSendInProgress(), kWaitMs);
        QCOMPARE(prompt.shown, QStringList());
    }

    void cancel_data()
    {
        QTest::addColumn<bool>("disable");
        QTest::newRow("No: sending goes on") << false;
        QTest::newRow("Yes: sending stops until the program starts again") << true;
    }

    // The operator cancels a call the terminal never answers: nothing is recorded, and
    // only Yes keeps the scheduler from starting further sends.
    void cancel()
    {
        QFETCH(bool, disable);
        PresetPrompt prompt;
        prompt.answers = { disable };
        SimConfig config;
        config.faults.silentAfterConnect = true;
        Start(config);
        QTRY_COMPARE_WITH_TIMEOUT(SendingWindows().size(), 1, kWaitMs);
        QPointer<CSendingDlg> window = SendingWindows().first();
        QTRY_COMPARE_WITH_TIMEOUT(window->findChild<QLabel*>("statusText")->text(),
            QStringLiteral("Connected - Sending Message"), kWaitMs);
        // The status and the terminal's words are shown as they came, never as markup.
        for (const char* line : { "statusText", "terminalLine" })
            QCOMPARE(window->findChild<QLabel*>(line)->textFormat(), Qt::PlainText);

        QTest::keyClick(window, Qt::Key_Escape);
        QCOMPARE(prompt.shown, QStringList { CSendingDlg::kDisableQuestion });
        QTRY_VERIFY_WITH_TIMEOUT(!window, kWaitMs);
        QCOMPARE(m_app->IsSendingDisabled(), disable);
        QCOMPARE(m_db->scalar("SELECT sum(Retries) + sum(Status) FROM Messages").toInt(), 0);

        if (disable) {
            QVERIFY(!m_app->IsSendInProgress());
            // Several scheduler runs pass without a new call.
            int runs = 0;
            QObject counting; // ends the count with this scope
            QObject::connect(m_app->MainFrame()->findChild<QTimer*>("schedulerTimer"),
                &QTimer::timeout, &counting, [&runs] { ++runs; });
            QTRY_VERIFY_WITH_TIMEOUT(runs >= 5, kWaitMs);
            QCOMPARE(m_sim->callCount(), 1);
            QVERIFY(SendingWindows().isEmpty());
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(m_sim->callCount(), 2, kWaitMs);
            prompt.answers = { true };
            QTRY_COMPARE_WITH_TIMEOUT(SendingWindows().size(), 1, kWaitMs);
            SendingWindows().first()->OnCancel();
        }
    }

    // The terminal accepts the last block while the Cancel question is still open: the
    // page is recorded as sent, the window goes, and the Yes still switches sending off.
    void lastBlockAcceptedWhileCancelQuestionIsOpen()
    {
        QPointer<CSendingDlg> window;
        PresetPrompt prompt;
        prompt.answers = { true };
        prompt.whileAsking = [&window] { QTRY_VERIFY_WITH_TIMEOUT(!window, kWaitMs); };
        SimConfig config;
        config.faults.slowReplyMs = 1500;
        // With nothing else due, no send starts while the question is open.
        Start(config, false);
        QTRY_COMPARE_WITH_TIMEOUT(SendingWindows().size(), 1, kWaitMs);
        window = SendingWindows().first();
        // The block is on its way when the operator presses Cancel.
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->received().contains('\x03'), kWaitMs);
        window->OnCancel();

        QVERIFY(!window);
        QCOMPARE(Status(m_m1), 1);
        QVERIFY(m_app->IsSendingDisabled());
        QVERIFY(!m_app->IsSendInProgress());
        QCOMPARE(prompt.shown, QStringList { CSendingDlg::kDisableQuestion });
    }

    // Two send lines, two messages due to two providers: both sends start in one run, each
    // with a window of its own, side by side, and each page goes through a line of its own.
    void twoLinesSendAtOnce()
    {
        PresetPrompt prompt;
        SimConfig slow;
        slow.faults.slowReplyMs = 1000;
        StartTwoLines(slow, slow);
        QTRY_COMPARE_WITH_TIMEOUT(SendingWindows().size(), 2, kWaitMs);
        const QList<CSendingDlg*> windows = SendingWindows();
        QVERIFY(windows[0]->isVisible() && windows[1]->isVisible());
        const QRect first = windows[0]->frameGeometry(), second = windows[1]->frameGeometry();
        QString frames;
        QDebug(&frames) << first << second;
        QVERIFY2(!first.intersects(second), qPrintable(frames));

        QTRY_VERIFY_WITH_TIMEOUT(Outcome(m_m1) == "1/0" && Outcome(m_m2) == "1/0", kWaitMs);
        QCOMPARE(m_sim->pageCount(), 1);
        QCOMPARE(m_sim2->pageCount(), 1);
        QCOMPARE(prompt.shown, QStringList());
    }

    // Cancel on one of two sends, answered No, ends that send alone: its recipient keeps
    // every attempt and is called again, while the other send goes on. Yes at the next
    // Cancel starts no send again, yet the other send still records its page.
    void cancelOneOfTwoSends()
    {
        PresetPrompt prompt;
        prompt.answers = { false };
        SimConfig silent, slow;
        silent.faults.silentAfterConnect = true;
        // Several replies of 1.5 s each: the send lasts long past both Cancels.
        slow.faults.slowReplyMs = 1500;
        // M1, first in table order, takes the first line.
        StartTwoLines(silent, slow);
        QTRY_VERIFY_WITH_TIMEOUT(WindowOf(m_m1) && WindowOf(m_m2), kWaitMs);
        QPointer<CSendingDlg> cancelled = WindowOf(m_m1);
        QTRY_COMPARE_WITH_TIMEOUT(
            cancelled->findChild<QLabel*>("statusText")->text(), CSendSession::kConnected, kWaitMs);
        QVERIFY2(WindowOf(m_m2) && Outcome(m_m2) == "0/0", "the other send ended too soon");
        QTest::mouseClick(cancelled->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!cancelled, kWaitMs);
        QCOMPARE(Outcome(m_m1), "0/0");
        QVERIFY(WindowOf(m_m2));

        QTRY_COMPARE_WITH_TIMEOUT(m_sim->callCount(), 2, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT((cancelled = WindowOf(m_m1)), kWaitMs);
        prompt.answers = { true };
        cancelled->OnCancel();
        QTRY_VERIFY_WITH_TIMEOUT(!cancelled, kWaitMs);
        QCOMPARE(Outcome(m_m1), "0/0");
        // Sending is off, but the send still running keeps the dispatcher lock: no other
        // dispatcher may take up its group while its page is out.
        QVERIFY2(WindowOf(m_m2), "the other send ended too soon");
        m_app->RunScheduler();
        QVERIFY(!CDispatcherLock(QStringLiteral("another dispatcher")).TryAcquire());

        QTRY_COMPARE_WITH_TIMEOUT(Outcome(m_m2), "1/0", kWaitMs);
        QCOMPARE(m_sim2->pages().value(0).text, "Second");
        QTRY_VERIFY_WITH_TIMEOUT(SendingWindows().isEmpty(), kWaitMs);
        m_app->RunScheduler();
        QVERIFY(SendingWindows().isEmpty());
        QCOMPARE(m_sim->callCount(), 2);
        QCOMPARE(m_sim->pageCount(), 0);
        QCOMPARE(prompt.shown,
            QStringList({ CSendingDlg::kDisableQuestion, CSendingDlg::kDisableQuestion }));
    }

private:
    // Modem 1 on the first simulator and Modem 2 on the second, both send lines; M1 to
    // Ann of P1 and M2 to Bob of P2, both due.
    void StartTwoLines(const SimConfig& first, const SimConfig& second)
    {
        m_sim = std::make_unique<PagingSimulator>(first);
        m_sim2 = std::make_unique<PagingSimulator>(second);
        StartSimulatedModems({ m_sim.get(), m_sim2.get() });
        m_m1 = m_db->addMessageRow(
            m_db->addUser("Ann", "1001", m_db->addProvider("P1", "5551001", 1)), 0, "First", 0,
            kDue);
        m_m2 = m_db->addMessageRow(
            m_db->addUser("Bob", "1002", m_db->addProvider("P2", "5551002", 1)), 0, "Second", 0,
            kDue);
        m_db->exec("UPDATE Messages SET MessageId = ID");
        StartApp();
    }
    // M2 is due as well, or only next year.
    void Start(const SimConfig& config = {}, bool secondDue = true)
    {
        m_sim = std::make_unique<PagingSimulator>(config);
        const int provider = m_db->addProvider("P1", StartSimulatedLine(*m_sim, true), 1);
        m_m1 = m_db->addMessageRow(m_db->addUser("Ann", "1001", provider), 0, "First", 0, kDue);
        m_m2 = m_db->addMessageRow(m_db->addUser("Bob", "1002", provider), 0, "Second", 0,
            secondDue ? kDue : "2027-12-31 23:00:00");
        m_db->exec("UPDATE Messages SET MessageId = ID");
        StartApp();
    }
    void StartApp()
    {
        m_app = std::make_unique<CQuillpostApp>();
        m_app->SetPeriods(20, { 20, 0 });
        QVERIFY(m_app->InitInstance());
    }
    int Status(int row) const
    {
        return m_db->scalar("SELECT Status FROM Messages WHERE ID = ?", { row }).toInt();
    }
    // "Status/Retries"
    QString Outcome(int row) const
    {
        return m_db->scalar("SELECT Status || '/' || Retries FROM Messages WHERE ID = ?", { row })
            .toString();
    }

    FakeClock m_clock; // 10 March 2026
    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<TempDatabase> m_db;
    std::unique_ptr<PagingSimulator> m_sim;
    std::unique_ptr<PagingSimulator> m_sim2; // the second line's
    std::unique_ptr<CQuillpostApp> m_app;
    int m_m1 = 0;
    int m_m2 = 0;
};

QTEST_MAIN(TestSendingDlg)
#include "test_sending_dlg.moc"

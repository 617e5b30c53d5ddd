#include "FakeClock.h"
#include "PresetPrompt.h"
#include "SimulatedLine.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "app/QuillpostApp.h"
#include "dispatch/SendingDlg.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
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

private:
    // M2 is due as well, or only next year.
    void Start(const SimConfig& config = {}, bool secondDue = true)
    {
        m_sim = std::make_unique<PagingSimulator>(config);
        const int provider = m_db->addProvider("P1", StartSimulatedLine(*m_sim, true), 1);
        m_m1 = m_db->addMessageRow(m_db->addUser("Ann", "1001", provider), 0, "First", 0, kDue);
        m_m2 = m_db->addMessageRow(m_db->addUser("Bob", "1002", provider), 0, "Second", 0,
            secondDue ? kDue : "2027-12-31 23:00:00");
        m_db->exec("UPDATE Messages SET MessageId = ID");

        m_app = std::make_unique<CQuillpostApp>();
        m_app->SetPeriods(20, { 20, 0 });
        QVERIFY(m_app->InitInstance());
    }
    int Status(int row) const
    {
        return m_db->scalar("SELECT Status FROM Messages WHERE ID = ?", { row }).toInt();
    }

    FakeClock m_clock; // 10 March 2026
    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<TempDatabase> m_db;
    std::unique_ptr<PagingSimulator> m_sim;
    std::unique_ptr<CQuillpostApp> m_app;
    int m_m1 = 0;
    int m_m2 = 0;
};

QTEST_MAIN(TestSendingDlg)
#include "test_sending_dlg.moc"

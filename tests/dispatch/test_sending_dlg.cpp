#include "FakeClock.h"
#include "PresetPrompt.h"
#include "SimulatedLine.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "app/QuillpostApp.h"
#include "dispatch/DispatcherLock.h"
#include "dispatch/SendingDlg.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <memory>

using quillpost::sim::PagingSimulator;
using quillpost::sim::SimFaults;

namespace {

const QString kDue = QStringLiteral("2026-01-01 12:00:00");
constexpr int kWaitMs = 30000;

// The sending window on screen for the message; with none given, any sending window left.
CSendingDlg* SendingWindow(int message = 0)
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* window = qobject_cast<CSendingDlg*>(widget);
        if (window
            && (!message || (window->isVisible() && window->Session().MessageId() == message)))
            return window;
    }
    return nullptr;
}

} // namespace

// The desktop program with two simulated modems as its send lines and a database of two
// messages, M1 (first in table order) and M2, to one user each.
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
        QTRY_VERIFY_WITH_TIMEOUT(!SendingWindow(), kWaitMs);
        m_app.reset();
        m_sim.reset();
        m_sim2.reset();
        m_db.reset();
        m_settings.reset();
    }

    // The terminal accepts the last block while the Cancel question is still open: the
    // page is recorded as sent, the window goes, and the Yes still switches sending off.
    void lastBlockAcceptedWhileCancelQuestionIsOpen()
    {
        QPointer<CSendingDlg> window;
        PresetPrompt prompt;
        prompt.answers = { true };
        prompt.whileAsking = [&window] { QTRY_VERIFY_WITH_TIMEOUT(!window, kWaitMs); };
        // With nothing else due, no send starts while the question is open.
        Start({ .slowReplyMs = 1500 }, {}, "2027-12-31 23:00:00");
        QTRY_VERIFY_WITH_TIMEOUT((window = SendingWindow(m_m1)), kWaitMs);
        // The block is on its way when the operator presses Cancel.
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->received().contains('\x03'), kWaitMs);
        window->OnCancel();

        QVERIFY(!window);
        QCOMPARE(Outcome(m_m1), "1/0");
        QVERIFY(m_app->IsSendingDisabled());
        QVERIFY(!m_app->IsSendInProgress());
        QCOMPARE(prompt.shown, QStringList { CSendingDlg::kDisableQuestion });
    }

    // Two send lines, two messages due to two providers: both sends start in one run, each
    // with a window of its own, side by side, and each page goes through a line of its own.
    // Cancel on one of them, answered No, ends that send alone: its recipient keeps every
    // attempt and is called again, while the other send goes on. Yes at the next Cancel
    // (the Escape key) starts no send again, yet the other send still records its page.
    void twoLinesSendAtOnceAndOneIsCancelled()
    {
        PresetPrompt prompt;
        prompt.answers = { false };
        // M1, first in table order, takes the first line, whose terminal falls silent. M2's
        // several replies of 1.5 s each last long past both Cancels.
        Start({ .silentAfterConnect = true }, { .slowReplyMs = 1500 });
        QTRY_VERIFY_WITH_TIMEOUT(SendingWindow(m_m1) && SendingWindow(m_m2), kWaitMs);
        QPointer<CSendingDlg> cancelled = SendingWindow(m_m1);
        QVERIFY(!cancelled->frameGeometry().intersects(SendingWindow(m_m2)->frameGeometry()));
        QTRY_COMPARE_WITH_TIMEOUT(
            cancelled->findChild<QLabel*>("statusText")->text(), CSendSession::kConnected, kWaitMs);
        // The status and the terminal's words are shown as they came, never as markup.
        for (const char* label : { "statusText", "terminalLine" })
            QCOMPARE(cancelled->findChild<QLabel*>(label)->textFormat(), Qt::PlainText);
        QTest::mouseClick(cancelled->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!cancelled, kWaitMs);
        QCOMPARE(Outcome(m_m1), "0/0");
        QVERIFY(SendingWindow(m_m2));

        QTRY_COMPARE_WITH_TIMEOUT(m_sim->callCount(), 2, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT((cancelled = SendingWindow(m_m1)), kWaitMs);
        prompt.answers = { true };
        QTest::keyClick(cancelled, Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!cancelled, kWaitMs);
        QCOMPARE(Outcome(m_m1), "0/0");
        // Sending is off, but the send still running keeps the dispatcher lock: no other
        // dispatcher may take up its group while its page is out.
        QVERIFY(SendingWindow(m_m2));
        m_app->RunScheduler();
        QVERIFY(!CDispatcherLock(QStringLiteral("another dispatcher")).TryAcquire());

        QTRY_COMPARE_WITH_TIMEOUT(Outcome(m_m2), "1/0", kWaitMs);
        QCOMPARE(m_sim2->pages().value(0).text, "Second");
        QTRY_VERIFY_WITH_TIMEOUT(!SendingWindow(), kWaitMs);
        m_app->RunScheduler();
        QVERIFY(!SendingWindow());
        QCOMPARE(m_sim->callCount(), 2);
        QCOMPARE(prompt.shown,
            QStringList({ CSendingDlg::kDisableQuestion, CSendingDlg::kDisableQuestion }));
    }

private:
    // M1 to Ann of P1, due now, through Modem 1 on the first terminal; M2 to Bob of P2,
    // due now or when given, through Modem 2 on the second. Both modems are send lines.
    void Start(const SimFaults& first, const SimFaults& second, const QString& secondDue = kDue)
    {
        m_sim = std::make_unique<PagingSimulator>();
        m_sim2 = std::make_unique<PagingSimulator>();
        m_sim->setFaults(first);
        m_sim2->setFaults(second);
        StartSimulatedModems({ m_sim.get(), m_sim2.get() });
        const int ann = m_db->addUser("Ann", "1001", m_db->addProvider("P1", "5551001", 1));
        const int bob = m_db->addUser("Bob", "1002", m_db->addProvider("P2", "5551002", 1));
        m_m1 = m_db->addMessageRow(ann, 0, "First", 0, kDue);
        m_m2 = m_db->addMessageRow(bob, 0, "Second", 0, secondDue);
        m_db->exec("UPDATE Messages SET MessageId = ID");
        m_app = std::make_unique<CQuillpostApp>();
        m_app->SetPeriods(20, { 20, 0 });
        QVERIFY(m_app->InitInstance());
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

// The one scheduler with real sends against simulated providers on TCP, each run
// driven by hand and its send awaited: what a desk meets when the database or a
// provider fails.
#include "PresetPrompt.h"
#include "SimulatedProviders.h"
#include "data/QuillpostDoc.h"
#include "dispatch/OutcomeJournal.h"
#include "dispatch/SendScheduler.h"
#include "dispatch/SendSession.h"
#include "modem/ModemList.h"

#include <QEventLoop>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <memory>

using quillpost::sim::PagingSimulator;
using quillpost::sim::SimConfig;

namespace {

constexpr int kWaitMs = 60000;

// A program around the scheduler, as small as a host can be: it keeps the document,
// starts each send and tells the scheduler when it closed.
class Desk final : public ISchedulerHost, public ISendHost
{
public:
    Desk()
        : modems(AppSettingsModemName)
    {
        doc.ReloadAll();
    }

    // One scheduler run, and the send it started to its end. False when none started.
    bool Run()
    {
        scheduler.Run();
        if (!session)
            return false;
        // An event loop of its own, not QTest::qWaitFor: that sleeps between looks, and
        // the send's short ticks would then come at its pace.
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &waiting, &QEventLoop::quit);
        deadline.start(kWaitMs);
        if (!closed)
            waiting.exec();
        if (!closed)
            qFatal("A send did not close by its time-out");
        scheduler.SendEnded(sendNumber, session->LocalFault());
        session.reset();
        return true;
    }

    CQuillpostDoc* SchedulerDocument() override { return &doc; }
    CModemList& ModemList() override { return modems; }
    // One send at a time, which Run follows to its end.
    SendCapacity Capacity() override { return { {}, 1, {} }; }
    void OutcomeRecorded(std::int32_t messageId) override { doc.ReloadMessage(messageId); }
    void DispatcherLockChanged(bool, const QString&) override { }
    void StartSend(SendOrder order) override
    {
        closed = false;
        sendNumber = order.sendNumber;
        session = std::make_unique<CSendSession>(
            std::move(order), modems, *this, SendTiming { 2, 0, 0 });
        session->Start();
    }

    void ShowSendStatus(const QString&) override { }
    void SendResultRecorded() override { doc.ReloadMessage(session->MessageId()); }
    void SendClosed() override
    {
        closed = true;
        waiting.quit();
    }

    static QString AppSettingsModemName() { return kSimulatedLineName; }

    std::uint64_t sendNumber = 0;
    CQuillpostDoc doc;
    CModemList modems;
    CSendScheduler scheduler { *this, QStringLiteral("the scheduler test") };
    std::unique_ptr<CSendSession> session;
    bool closed = true;
    QEventLoop waiting;
};

} // namespace

class TestSendScheduler : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_env = std::make_unique<SimulatedProviders>(); }
    void cleanup() { m_env.reset(); }

    // A page the terminal accepted is never paged again while its outcome cannot be
    // stored, however many runs pass; the operator hears of it once, and the outcome
    // kept beside the database is stored by the first run after a restart.
    void acceptedPageIsKeptUntilItCanBeStored()
    {
        PresetPrompt prompt;
        const int row = m_env->Queue(m_env->Provider(), "Ann", "Kept");
        // Only a changed Status is refused: the check before dialling still passes.
        m_env->db.exec(
            "CREATE TRIGGER refuse BEFORE UPDATE ON Messages WHEN NEW.Status <> OLD.Status "
            "BEGIN SELECT RAISE(ABORT, 'the disk is full'); END");
        {
            Desk desk;
            QVERIFY(desk.Run());
            QVERIFY(!desk.Run());
            QVERIFY(!desk.Run());
            QCOMPARE(m_env->sims[0]->pageCount(), 1);
            QCOMPARE(prompt.shown.size(), 1);
            QVERIFY2(prompt.shown[0].contains("could not be stored for message")
                    && prompt.shown[0].contains("It will not be sent again"),
                qPrintable(prompt.shown[0]));
            QVERIFY(QFile::exists(COutcomeJournal::JournalPath(m_env->db.filePath())));
        }
        m_env->db.exec("DROP TRIGGER refuse");
        Desk restarted;
        QVERIFY(!restarted.Run());
        QCOMPARE(m_env->Status(row), "1/0");
        QCOMPARE(m_env->sims[0]->pageCount(), 1);
        QVERIFY(!QFile::exists(COutcomeJournal::JournalPath(m_env->db.filePath())));
    }

    // While the database refuses every write, nothing is dialled and the operator is
    // told once; once it takes writes again the page goes out.
    void nothingIsDialledWhileTheDatabaseRefusesWrites()
    {
        PresetPrompt prompt;
        const int row = m_env->Queue(m_env->Provider(), "Ann", "Later");
        m_env->db.exec("CREATE TRIGGER refuse BEFORE UPDATE ON Messages "
                       "BEGIN SELECT RAISE(ABORT, 'the disk is full'); END");
        Desk desk;
        QVERIFY(!desk.Run());
        QVERIFY(!desk.Run());
        QCOMPARE(m_env->sims[0]->callCount(), 0);
        QCOMPARE(prompt.shown.size(), 1);
        QVERIFY2(prompt.shown[0].contains("the disk is full"), qPrintable(prompt.shown[0]));
        m_env->db.exec("DROP TRIGGER refuse");
        QVERIFY(desk.Run());
        QCOMPARE(m_env->Status(row), "1/0");
    }

    // A terminal that answers the call and then falls silent costs its recipient an
    // attempt at each time-out, and the fourth gives the page up; meanwhile the other
    // provider's page, queued later, goes out after the first time-out.
    void silentProviderHoldsUpNoOther()
    {
        PresetPrompt prompt;
        SimConfig silent;
        silent.faults.silentAfterConnect = true;
        const int stuck = m_env->Queue(m_env->Provider(silent), "Ann", "Stuck");
        const int other = m_env->Queue(m_env->Provider(), "Bob", "Other");
        Desk desk;
        QVERIFY(desk.Run());
        QCOMPARE(m_env->Status(stuck), "0/1");
        QVERIFY(desk.Run());
        QCOMPARE(m_env->Status(other), "1/0");
        for (int run = 0; run < 3; ++run)
            QVERIFY(desk.Run());
        QCOMPARE(m_env->Status(stuck), "2/4");
        QVERIFY(!desk.Run());
        QCOMPARE(prompt.shown, QStringList());
    }

    // A send that fails on this side (no line device of the chosen name) costs nobody
    // an attempt; the operator is told once, and no send starts until the line is there.
    void missingLineCostsNoAttempt()
    {
        PresetPrompt prompt;
        const int row = m_env->Queue(m_env->Provider(), "Ann", "Wait for the modem");
        QSettings("Northmoor", "Quillpost").setValue("Lines/1/name", "Elsewhere");
        Desk desk;
        QVERIFY(desk.Run());
        QVERIFY(!desk.Run());
        QCOMPARE(m_env->Status(row), "0/0");
        QCOMPARE(prompt.shown.size(), 1);
        QVERIFY2(prompt.shown[0].contains(kSimulatedLineName), qPrintable(prompt.shown[0]));
        QSettings("Northmoor", "Quillpost").setValue("Lines/1/name", kSimulatedLineName);
        QVERIFY(desk.Run());
        QCOMPARE(m_env->Status(row), "1/0");
    }

    // A provider whose stored number would give the modem commands of its own is passed
    // over: nothing is dialled, nobody loses an attempt, the other provider's page goes
    // out, the operator hears once why, and the corrected number is called.
    void uncallableNumberWaitsForItsCorrection()
    {
        PresetPrompt prompt;
        const int bad = m_env->db.addProvider(QStringLiteral("Hostile"), "5551234;ATH", 1);
        const int held = m_env->Queue(bad, "Ann", "Held");
        const int other = m_env->Queue(m_env->Provider(), "Bob", "Other");
        Desk desk;
        QVERIFY(desk.Run());
        QVERIFY(!desk.Run());
        QCOMPARE(m_env->Status(other), "1/0");
        QCOMPARE(m_env->Status(held), "0/0");
        QCOMPARE(prompt.shown.size(), 1);
        QVERIFY2(prompt.shown[0].contains("Hostile") && prompt.shown[0].contains("\";\""),
            qPrintable(prompt.shown[0]));
        m_env->db.exec("UPDATE ServiceProviders SET AccessNumber = "
                       "(SELECT AccessNumber FROM ServiceProviders WHERE ID <> ?) WHERE ID = ?",
            { bad, bad });
        QVERIFY(desk.Run());
        QCOMPARE(m_env->Status(held), "1/0");
    }

private:
    std::unique_ptr<SimulatedProviders> m_env;
};

QTEST_GUILESS_MAIN(TestSendScheduler)
#include "test_send_scheduler.moc"

// The one scheduler with real sends against simulated providers on TCP, each run
// driven by hand and its send awaited: what a desk meets when the database or a
// provider fails.
#include "PresetPrompt.h"
#include "SimulatedProviders.h"
#include "data/QuillpostDoc.h"
#include "dispatch/SendScheduler.h"
#include "dispatch/SendSession.h"
#include "modem/ModemList.h"

#include <QEventLoop>
#include <QFile>
#include <QTest>

using quillpost::sim::SimConfig;

namespace {

// A program around the scheduler, as small as a host can be: it keeps the document,
// starts each send and tells the scheduler when it closed.
class Desk final : public ISchedulerHost, public ISendHost
{
public:
    Desk() { doc.ReloadAll(); }

    // One scheduler run, and the send it started to its end. False when none started.
    bool Run()
    {
        scheduler.Run();
        if (!session)
            return false;
        // An event loop of its own, not QTest::qWaitFor: that sleeps between looks, and
        // the send's short ticks would then come at its pace.
        QTimer deadline;
        deadline.callOnTimeout([this] { waiting.exit(1); });
        deadline.start(60000);
        if (!closed && waiting.exec() != 0)
            qFatal("A send did not close by its time-out");
        scheduler.SendEnded(sendNumber, session->LocalFault());
        session.reset();
        return true;
    }

    CQuillpostDoc* SchedulerDocument() override { return &doc; }
    CModemList& ModemList() override { return modems; }
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

    std::uint64_t sendNumber = 0;
    CQuillpostDoc doc;
    CModemList modems { [] { return kSimulatedLineName; } };
    CSendScheduler scheduler { *this, QStringLiteral("the scheduler test") };
    std::unique_ptr<CSendSession> session;
    bool closed = true;
    QEventLoop waiting;
};

// A trigger refusing the updates of Messages that its condition (%1) names.
const QString kRefuseUpdates = QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON Messages %1 "
                                              "BEGIN SELECT RAISE(ABORT, 'the disk is full'); END");

} // namespace

class TestSendScheduler : public QObject
{
    Q_OBJECT

private slots:
    // A page the terminal accepted is never paged again while its outcome cannot be
    // stored, however many runs pass; the operator hears of it once, and the outcome
    // kept beside the database is stored by the first run after a restart.
    void acceptedPageIsKeptUntilItCanBeStored()
    {
        SimulatedProviders env;
        PresetPrompt prompt;
        const int row = env.Queue(env.Provider(), "Ann", "Kept");
        const QString journal = COutcomeJournal::JournalPath(env.db.filePath());
        // Only a changed Status is refused: the check before dialling still passes.
        env.db.exec(kRefuseUpdates.arg("WHEN NEW.Status <> OLD.Status"));
        {
            Desk desk;
            QVERIFY(desk.Run());
            QVERIFY(!desk.Run());
            QCOMPARE(prompt.shown.size(), 1);
            QVERIFY(prompt.shown[0].contains("could not be stored for message")
                && prompt.shown[0].contains("It will not be sent again"));
        }
        env.db.exec("DROP TRIGGER refuse");
        QVERIFY(!Desk().Run());
        QCOMPARE(env.Status(row), "1/0");
        QCOMPARE(env.sims[0]->pageCount(), 1);
        QVERIFY(!QFile::exists(journal));
    }

    // A fault on this side costs nobody an attempt: the operator hears once why, and no
    // send starts while it lasts (one whose number is unsafe holds up its provider
    // alone); once it is mended the page goes out.
    void heldUntilMended_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("told");
        QTest::newRow("every write refused") << QString("database") << QString("the disk is full");
        QTest::newRow("no line device of the modem's name")
            << QString("line") << "No line device is named \"" + kSimulatedLineName + "\"";
        QTest::newRow("a number giving the modem commands")
            << QString("number") << QString("The access number of P1 holds \";\"");
    }

    void heldUntilMended()
    {
        QFETCH(QString, fault);
        QFETCH(QString, told);
        SimulatedProviders env;
        PresetPrompt prompt;
        const int provider = env.Provider();
        const int held = env.Queue(provider, "Ann", "Held");
        const int other = env.Queue(env.Provider(), "Bob", "Other");
        const QVariant number = env.db.scalar(
            "SELECT AccessNumber FROM ServiceProviders WHERE ID = ?", { provider });
        const auto breakOrMend = [&](bool broken) {
            if (fault == "database")
                env.db.exec(broken ? kRefuseUpdates.arg("") : "DROP TRIGGER refuse");
            else if (fault == "line")
                QSettings("Northmoor", "Quillpost")
                    .setValue("Lines/1/name", broken ? "Elsewhere" : kSimulatedLineName);
            else
                env.db.exec("UPDATE ServiceProviders SET AccessNumber = ? WHERE ID = ?",
                    { broken ? QVariant("5551234;ATH") : number, provider });
        };
        breakOrMend(true);
        Desk desk;
        // A refused write stops the run before it starts a send; the others start one,
        // which fails at once on this side, or go on to the other provider's page.
        QCOMPARE(desk.Run(), fault != "database");
        QVERIFY(!desk.Run());
        QCOMPARE(env.Status(other), fault == "number" ? "1/0" : "0/0");
        QCOMPARE(env.sims[0]->callCount(), 0);
        QCOMPARE(prompt.shown.size(), 1);
        QVERIFY(prompt.shown[0].contains(told));
        breakOrMend(false);
        QVERIFY(desk.Run());
        desk.Run();
        QCOMPARE(env.Status(held), "1/0");
        QCOMPARE(env.Status(other), "1/0");
    }

    // A terminal that answers the call and then falls silent costs its recipient an
    // attempt at each time-out, and the fourth gives the page up; meanwhile the other
    // provider's page, queued later, goes out after the first time-out.
    void silentProviderHoldsUpNoOther()
    {
        SimulatedProviders env;
        PresetPrompt prompt;
        SimConfig silent;
        silent.faults.silentAfterConnect = true;
        const int stuck = env.Queue(env.Provider(silent), "Ann", "Stuck");
        const int other = env.Queue(env.Provider(), "Bob", "Other");
        Desk desk;
        QVERIFY(desk.Run());
        QVERIFY(desk.Run());
        QCOMPARE(env.Status(other), "1/0");
        for (int run = 0; run < 3; ++run)
            QVERIFY(desk.Run());
        QCOMPARE(env.Status(stuck), "2/4");
        QVERIFY(!desk.Run());
        QCOMPARE(prompt.shown, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestSendScheduler)
#include "test_send_scheduler.moc"

// The send and the scheduler over the call seam: a carrier that refuses one recipient
// and goes on, and providers reached by URL, which need no modem.
#include "FakeTelephony.h"
#include "OneSend.h"
#include "PresetPrompt.h"
#include "TempSettings.h"
#include "dispatch/SendScheduler.h"

#include <QTest>
#include <functional>

namespace {

const QString kLogEntry = QStringLiteral("PagerId || ',' || ifnull(TerminalLine, '')");

// What the fake carrier is told to do, and what it saw.
struct CallScript
{
    QStringList refusedPagers; // refused with the call going on; the rest are accepted
    int calls = 0;
    QStringList pages; // the pager IDs paged, in order
    bool finished = false;
};

// A carrier whose replies come from the event loop, as a network carrier's would.
class FakeCall final : public IPageCall
{
public:
    explicit FakeCall(CallScript& script)
        : m_script(script)
    {
        ++m_script.calls;
    }
    std::optional<QString> Place(IPageCallOwner& owner) override
    {
        m_owner = &owner;
        Post([this] { m_owner->OnLineConnected(0); });
        return std::nullopt;
    }
    void SetPager(const QString& pagerId) override { m_pager = pagerId; }
    void Begin() override { SendPage(); }
    void SendPage() override
    {
        m_script.pages << m_pager;
        const bool refused = m_script.refusedPagers.contains(m_pager);
        m_line = (refused ? "554 Refused " : "250 Accepted ") + m_pager;
        Post([this, refused] {
            m_owner->OnTapTerminalLine(m_line);
            if (refused)
                m_owner->OnPageRefused();
            else
                m_owner->OnTapAccepted();
        });
    }
    void Finish() override { m_script.finished = true; }
    void OnTick() override { }
    QString TerminalLine() const override { return m_line; }
    QString LocalFault() const override { return {}; }
    void HangUp() override { m_owner = nullptr; }
    void Close() override { m_owner = nullptr; }

private:
    void Post(std::function<void()> event)
    {
        QMetaObject::invokeMethod(
            &m_context,
            [this, event] {
                if (m_owner)
                    event();
            },
            Qt::QueuedConnection);
    }

    CallScript& m_script;
    IPageCallOwner* m_owner = nullptr;
    QString m_pager;
    QString m_line;
    QObject m_context;
};

// A program around the scheduler with no modem chosen, whose line interface logs every
// use; each send is started as the programs start theirs.
class Desk final : public ISchedulerHost, public ISendHost
{
public:
    Desk() { doc.ReloadAll(); }

    CQuillpostDoc* SchedulerDocument() override { return &doc; }
    CModemList& ModemList() override { return modems; }
    SendCapacity Capacity() override { return { {}, 1, {} }; }
    void OutcomeRecorded(std::int32_t) override { }
    void DispatcherLockChanged(bool, const QString&) override { }
    void StartSend(SendOrder order) override
    {
        ++started;
        sendNumber = order.sendNumber;
        session = std::make_unique<CSendSession>(
            std::move(order), modems, *this, SendTiming { 2, 0, 0 });
        session->Start();
    }
    void ShowSendStatus(const QString&) override { }
    void SendResultRecorded() override { }
    void SendClosed() override { scheduler.SendEnded(sendNumber, session->LocalFault()); }

    FakeTelephony telephony;
    CModemList modems { [] { return QString(); }, &telephony };
    CQuillpostDoc doc;
    CSendScheduler scheduler { *this, QStringLiteral("the page call test") };
    std::unique_ptr<CSendSession> session;
    std::uint64_t sendNumber = 0;
    int started = 0;
};

} // namespace

class TestPageCalls : public QObject, public ISendHost
{
    Q_OBJECT

private slots:
    void refusalGoesOn_data()
    {
        QTest::addColumn<QStringList>("refused");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("lastStatus");
        QTest::newRow("first of two refused")
            << QStringList { "1001" } << QStringList { "0,1", "1,0" } << CSendSession::kSent;
        QTest::newRow("last of two refused")
            << QStringList { "1002" } << QStringList { "1,0", "0,1" } << CSendSession::kPageRefused;
        QTest::newRow("both refused") << QStringList { "1001", "1002" }
                                      << QStringList { "0,1", "0,1" } << CSendSession::kPageRefused;
    }

    // A carrier's refusal of one recipient is that recipient's failed attempt; the next
    // one is paged on the same call, which then logs out once.
    void refusalGoesOn()
    {
        QFETCH(QStringList, refused);
        QFETCH(QStringList, rows);
        QFETCH(QString, lastStatus);
        TempDatabase db;
        QueueMessage(db, "snpp://pager.example.net", { 0, 0 }, "Two pagers", "2026-01-01 12:00:00");
        CQuillpostDoc doc;
        doc.ReloadAll();
        std::optional<SendOrder> order = ChooseDueSend(doc);
        QVERIFY(order);
        CallScript script;
        script.refusedPagers = refused;
        CSendSession session(
            std::move(*order),
            [&script](const PageCallRequest&) { return std::make_unique<FakeCall>(script); }, *this,
            SendTiming { 2, 0, 0 });
        m_closed = false;
        session.Start();
        QVERIFY(QTest::qWaitFor([this] { return m_closed; }, 5000));
        QCOMPARE(script.calls, 1);
        QCOMPARE(script.pages, QStringList({ "1001", "1002" }));
        QVERIFY(script.finished);
        QCOMPARE(session.StatusText(), lastStatus);
        QCOMPARE(db.rows("Messages", kStatusRetries), rows);
        QStringList log;
        for (const QString& pager : script.pages)
            log << pager + (refused.contains(pager) ? ",554 Refused " : ",250 Accepted ") + pager;
        QCOMPARE(db.rows("SendLog", kLogEntry), log);
    }

    // With no modem chosen the scheduler still sends to a provider reached by URL, and
    // the line interface is never touched; a provider that is dialled waits quietly, one
    // whose URL is malformed waits and the operator hears why once. A carrier that fails
    // on this side (its extra certificates missing) costs no attempt and blocks nothing:
    // it is tried again next run.
    void urlProviderNeedsNoModem()
    {
        TempSettings settings;
        TempDatabase db;
        PresetPrompt prompt;
        QSettings(QStringLiteral("Northmoor"), QStringLiteral("Quillpost"))
            .setValue(QStringLiteral("Network/caCertificates"), settings.folder() + "/none.pem");
        const int url = db.addProvider("Carrier", "snpps://pager.example.net");
        const int dialled = db.addProvider("Dialled", "5551234");
        const int malformed = db.addProvider("Broken", "snpp://pager.example.net:0");
        for (const int provider : { url, dialled, malformed })
            db.addMessageRow(db.addUser(QString::number(provider), "1001", provider), 0, "Hi");
        db.exec("UPDATE Messages SET MessageId = ID");
        Desk desk;
        desk.scheduler.Run();
        desk.scheduler.Run();
        QCOMPARE(desk.started, 2);
        QVERIFY(desk.scheduler.HoldsDispatcherLock());
        QVERIFY2(desk.session->LocalFault().contains("none.pem"),
            qPrintable(desk.session->LocalFault()));
        QCOMPARE(desk.session->StatusText(), CSendSession::kCarrierLocalFault);
        QCOMPARE(desk.telephony.calls, QStringList());
        QCOMPARE(db.rows("Messages", kStatusRetries), QStringList({ "0,0", "0,0", "0,0" }));
        QCOMPARE(prompt.shown.size(), 2);
        QVERIFY2(prompt.shown.join('\n').contains(
                     CarrierAddressFault("Broken", ParseCarrierAddress("snpp://h:0").refusal)),
            qPrintable(prompt.shown.join('\n')));
        // The certificates file's fault does not name the provider it stopped; the text does.
        QVERIFY2(prompt.shown.join('\n').contains(
                     "Cannot reach the service provider Carrier: " + desk.session->LocalFault()),
            qPrintable(prompt.shown.join('\n')));
    }

private:
    void ShowSendStatus(const QString&) override { }
    void SendResultRecorded() override { }
    void SendClosed() override { m_closed = true; }

    bool m_closed = false;
};

QTEST_MAIN(TestPageCalls)
#include "test_page_calls.moc"

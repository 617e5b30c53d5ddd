// Several sends at once through the dispatcher without a window: each line device a
// simulated modem of its own, as the program sends through them, seen from the
// simulators' records and the dispatcher's log.
#include "PagingSimulator.h"
#include "SimulatedLine.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "dispatch/HeadlessDispatcher.h"
#include "modem/ModemList.h"

#include <QTest>
#include <memory>

using quillpost::sim::AcceptedPage;
using quillpost::sim::CallRecord;
using quillpost::sim::PagingSimulator;
using quillpost::sim::SimConfig;

namespace {

constexpr int kWaitMs = 60000;
// Long enough that a loaded machine never times a call out, short enough for the tests.
const SendTiming kTiming { 20, 0, 0 };

// A desk with `modems` simulated modems as its send lines (answering each reply after
// `slowMs`), `providers` providers and the dispatcher over them.
struct Lines
{
    Lines(int modemCount, int slowMs)
    {
        SimConfig config;
        config.faults.slowReplyMs = slowMs;
        std::vector<PagingSimulator*> started;
        for (int i = 0; i < modemCount; ++i) {
            sims.push_back(std::make_unique<PagingSimulator>(config));
            started.push_back(sims.back().get());
        }
        names = StartSimulatedModems(started);
    }

    int Provider(const QString& name) { return db.addProvider(name, QStringLiteral("5551234"), 1); }
    // One message with a row per pager ID given, all to users of `provider`; its first row.
    int Queue(int provider, const QStringList& pagers)
    {
        int first = 0;
        for (const QString& pager : pagers) {
            const int row
                = db.addMessageRow(db.addUser(QStringLiteral("User ") + pager, pager, provider), 0,
                    QStringLiteral("Text"));
            first = first ? first : row;
            db.exec("UPDATE Messages SET MessageId = ? WHERE ID = ?", { first, row });
        }
        return first;
    }
    void Start(QStringList lines, std::map<QString, int> providerCalls = {})
    {
        dispatcher = std::make_unique<CHeadlessDispatcher>(
            modems, [this](const QString& line) { log << line; }, 20, kTiming,
            [lines, providerCalls] { return SendCapacity { lines, 4, providerCalls }; });
        dispatcher->Start();
    }
    QStringList Rows() const { return db.rows("Messages", "Status || '/' || Retries"); }
    QList<AcceptedPage> Pages() const
    {
        QList<AcceptedPage> pages;
        for (const auto& sim : sims)
            pages += sim->pages();
        return pages;
    }
    // Where the log says `what` first, -1 when it does not.
    qsizetype LogLine(const QString& what) const
    {
        for (qsizetype i = 0; i < log.size(); ++i) {
            if (log[i].contains(what))
                return i;
        }
        return -1;
    }

    TempSettings settings;
    TempDatabase db;
    std::vector<std::unique_ptr<PagingSimulator>> sims;
    QStringList names;
    CModemList modems { [this] { return names.value(0); } };
    QStringList log;
    std::unique_ptr<CHeadlessDispatcher> dispatcher;
};

// The simulator's one call, from its first accepted page to its end; an empty span
// when it took no page or more than one call.
std::pair<QDateTime, QDateTime> OnlyCall(const PagingSimulator& sim)
{
    const QList<AcceptedPage> pages = sim.pages();
    const QList<CallRecord> ends = sim.callEnds();
    if (pages.isEmpty() || ends.size() != 1)
        return {};
    return { pages.first().time, ends.first().time };
}

} // namespace

class TestSendLines : public QObject
{
    Q_OBJECT

private slots:
    // Two lines and two due groups: both calls are on at once, and every row is recorded.
    void twoLinesCallAtOnce()
    {
        // Three slow pages a call: each call lasts seconds past the other's first page,
        // however late a loaded machine starts one of them.
        Lines desk(2, 600);
        desk.Queue(desk.Provider("P1"), { "101", "102", "103" });
        desk.Queue(desk.Provider("P2"), { "201", "202", "203" });
        desk.Start(desk.names);
        QTRY_COMPARE_WITH_TIMEOUT(desk.Rows(), QStringList(6, "1/0"), kWaitMs);
        const auto [firstPage, firstEnd] = OnlyCall(*desk.sims[0]);
        const auto [secondPage, secondEnd] = OnlyCall(*desk.sims[1]);
        QVERIFY2(firstPage.isValid() && secondPage.isValid() && firstPage < secondEnd
                && secondPage < firstEnd,
            qPrintable(desk.log.join('\n')));
        QCOMPARE(desk.Pages().size(), 6);
        QCOMPARE(desk.log.filter(QStringLiteral("Error:")), QStringList());
    }

    // Two messages to one provider, with a line free for each: the provider has one call
    // at a time, so the second group's call starts after the first has ended, unless its
    // settings allow it two.
    void callsPerProvider_data()
    {
        QTest::addColumn<int>("allowed");
        QTest::addColumn<bool>("overlap");
        QTest::newRow("one call") << 1 << false;
        QTest::newRow("two allowed") << 2 << true;
    }
    void callsPerProvider()
    {
        QFETCH(int, allowed);
        QFETCH(bool, overlap);
        Lines desk(2, 400);
        const int provider = desk.Provider("P1");
        desk.Queue(provider, { "101" });
        desk.Queue(provider, { "102" });
        desk.Start(desk.names, { { QStringLiteral("P1"), allowed } });
        QTRY_COMPARE_WITH_TIMEOUT(desk.Rows(), QStringList({ "1/0", "1/0" }), kWaitMs);
        const qsizetype firstEnded = desk.LogLine(QStringLiteral("Message 1: call ended."));
        const qsizetype secondCalled = desk.LogLine(QStringLiteral("Message 2: Calling"));
        QVERIFY2(firstEnded >= 0 && secondCalled >= 0, qPrintable(desk.log.join('\n')));
        QCOMPARE(secondCalled < firstEnded, overlap);
        QCOMPARE(desk.Pages().size(), 2);
    }

    // A send line that cannot be used costs nobody an attempt and holds up no provider:
    // everything goes out through the other line, and the operator is told once.
    void failedLineHoldsUpNoOther()
    {
        Lines desk(1, 0);
        desk.Queue(desk.Provider("P1"), { "101" });
        desk.Queue(desk.Provider("P2"), { "201" });
        desk.Queue(desk.Provider("P3"), { "301" });
        desk.Start({ QStringLiteral("No such modem"), desk.names[0] });
        QTRY_COMPARE_WITH_TIMEOUT(desk.Rows(), QStringList({ "1/0", "1/0", "1/0" }), kWaitMs);
        QCOMPARE(desk.log.filter(QStringLiteral("No line device is named \"No such modem\"")).size(),
            1);
        QCOMPARE(desk.Pages().size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestSendLines)
#include "test_send_lines.moc"

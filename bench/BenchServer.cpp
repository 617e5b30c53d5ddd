#include "BenchServer.h"

#include "BenchReport.h"
#include "BenchSqlite.h"
#include "PagingSimulator.h"
#include "PostgresCluster.h"
#include "data/MessageStatus.h"
#include "data/QuillpostDoc.h"
#include "dispatch/HeadlessDispatcher.h"
#include "modem/ModemList.h"
#include "platform/db/DaoRecordset.h"
#include "platform/db/DaoException.h"
#include "platform/db/DatabaseSchema.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSet>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

using quillpost::sim::PagingSimulator;

namespace {

constexpr int kDispatchProviders = 6;
constexpr int kDispatchPages = 60;
constexpr int kManyDispatchers = 3;
constexpr double kTargetSpeedUp = 2.5;
constexpr int kFirstPager = 8000001;
constexpr int kPollMs = 50;
constexpr int kStopMs = 30000;
// A dispatcher claims nothing new until the server has been up for a few of its runs
// (three), so that after a restart the living dispatchers take back their own calls
// first. A site's server has long been up: the dispatchers start once this one has.
constexpr qint64 kServerSettledMs = 4 * CSendScheduler::kIntervalMs;
// Far more than a call, its hang-up and the next scheduler run take: a run that needs
// this much per call of each dispatcher has hung.
constexpr qint64 kGuardMsPerCall = 20000;
// The dispatchers' last lines, to say why a run failed.
constexpr std::size_t kLogLinesKept = 20;

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

// A bare connection of the benchmark's own to a database of the cluster, over the QPSQL
// driver as the program's are, with none of the program's layer in between.
class ServerSession
{
public:
    ServerSession(const PostgresCluster& cluster, const QString& database)
        : m_name(QStringLiteral("quillpost-bench-server-%1").arg(++s_opened))
    {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
        m_db.setHostName(cluster.SocketFolder());
        m_db.setUserName(QStringLiteral("quillpost"));
        m_db.setDatabaseName(database);
        if (!m_db.open())
            BenchFail(QStringLiteral("Cannot reach %1 on the server: %2")
                         .arg(database, m_db.lastError().text()));
    }
    ~ServerSession()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    QSqlDatabase& database() { return m_db; }
    void execute(const QString& sql)
    {
        QSqlQuery query(m_db);
        if (!query.exec(sql))
            BenchFail(QStringLiteral("%1: %2").arg(sql.left(80), query.lastError().text()));
    }
    // The first column of the first row as a number; -1 when it cannot be read (the
    // poll during a run must not throw through the event loop).
    long long number(const QString& sql)
    {
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        return query.exec(sql) && query.next() ? query.value(0).toLongLong() : -1;
    }

private:
    static inline int s_opened = 0;
    QString m_name;
    QSqlDatabase m_db;
};

// A new database in the cluster with Quillpost's tables, named by its URI.
QString makeServerDatabase(PostgresCluster& cluster, const QString& name)
{
    if (!cluster.CreateDatabase(name))
        BenchFail(QStringLiteral("Cannot create the database %1: %2").arg(name, cluster.Error()));
    const QString uri = cluster.Url(name);
    try {
        CreateQuillpostDatabase(uri);
    } catch (const CDaoException& failure) {
        BenchFail(failure.reason());
    }
    return uri;
}

// The large database of the SQLite figures, the same rows to the value, made on the
// server: one INSERT ... SELECT FROM generate_series per table.
void fillLargeDatabase(ServerSession& session, const BenchScale& scale)
{
    session.execute(QStringLiteral("INSERT INTO Groups (ID, GroupName) "
                                   "SELECT g, 'Ward rota ' || g FROM generate_series(1, %1) AS g")
                        .arg(scale.groups));
    session.execute(
        QStringLiteral("INSERT INTO ServiceProviders (ID, ServiceName, AccessNumber, BaudRate, "
                       "StopBits, Parity, DataBits, TAPType, UseAsDefault, Password) "
                       "SELECT g, 'Regional Paging ' || g, '555' || lpad(g::text, 4, '0'), 1200, "
                       "1, 1, 7, 1, CASE WHEN g = 1 THEN 1 ELSE 0 END, '' "
                       "FROM generate_series(1, %1) AS g")
            .arg(scale.providers));
    session.execute(
        QStringLiteral("INSERT INTO Users (ID, Name, TelephoneNumber, PreferredProvider, Group1, "
                       "Group2, Group3, Group4, Group5, Group6, Group7, Group8, Group9, Group10) "
                       "SELECT g, 'Duty doctor ' || g, (7000000 + g)::text, "
                       "CASE WHEN g % 50 = 0 THEN 0 ELSE g % %1 + 1 END, g % %2 + 1, "
                       "(g * 7) % %2 + 1, 0, 0, 0, 0, 0, 0, 0, 0 FROM generate_series(1, %3) AS g")
            .arg(scale.providers)
            .arg(scale.groups)
            .arg(scale.users));
    // Row g is recipient r of message m; every 25th row was given up after four failures.
    session.execute(
        QStringLiteral(
            "INSERT INTO Messages (ID, Recipient, MessageCount, MessageId, Text, Status, "
            "SendTime, RequestTime, RequiredSendTime, Retries) "
            "SELECT g, (m * 13 + r * 101) % %1 + 1, %2, m * %2 + 1, "
            "'Bed ' || (m % 400 + 1) || ' needs review before the ward round: call extension ' "
            "|| (2000 + m % 7000) || ': Sent using Quillpost', "
            "CASE WHEN g % 25 = 0 THEN %3 ELSE %4 END, "
            "make_timestamp(2026, m % 12 + 1, m % 28 + 1, 9, 10 + r, 0), "
            "make_timestamp(2026, m % 12 + 1, m % 28 + 1, 9, 0, 0), "
            "make_timestamp(2026, m % 12 + 1, m % 28 + 1, 9, 0, 0), "
            "CASE WHEN g % 25 = 0 THEN 4 ELSE 0 END "
            "FROM (SELECT g, (g - 1) / %2 AS m, (g - 1) % %2 AS r "
            "FROM generate_series(1, %5) AS g) AS rows")
            .arg(scale.users)
            .arg(scale.rowsPerMessage)
            .arg(StatusValue(MessageStatus::Failed))
            .arg(StatusValue(MessageStatus::Sent))
            .arg(scale.messageRows()));
    // Settles the new rows' visibility once, so that no timed read pays for it.
    session.execute(QStringLiteral("VACUUM ANALYZE"));
}

// The four tables in the order and row order ReloadAll reads them, each column of each
// row read into a QVariant: the least any reading of them through the driver costs.
TableWalk walkEveryRow(QSqlDatabase& db)
{
    TableWalk walk;
    std::int64_t sum = 0;
    for (const char* table : { "Users", "Groups", "Messages", "ServiceProviders" }) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral("SELECT * FROM %1 ORDER BY ID").arg(QLatin1String(table))))
            BenchFail(QStringLiteral("The floor cannot read %1: %2")
                         .arg(QLatin1String(table), query.lastError().text()));
        const int columns = query.record().count();
        while (query.next()) {
            ++walk.rows;
            for (int c = 0; c < columns; ++c) {
                const QVariant value = query.value(c);
                sum += value.typeId() == QMetaType::QString ? value.toString().size() : value.typeId();
            }
            walk.cells += columns;
        }
        if (query.lastError().isValid())
            BenchFail(QStringLiteral("The floor stopped in %1: %2")
                         .arg(QLatin1String(table), query.lastError().text()));
    }
    // The sum is used, so that no read can be left out.
    if (sum == -1)
        walk.rows = 0;
    return walk;
}


void measureReload(BenchReport& report, PostgresCluster& cluster, int runs)
{
    const BenchScale scale;
    const QString name = QStringLiteral("reload");
    const QString uri = makeServerDatabase(cluster, name);
    ServerSession session(cluster, name);
    QElapsedTimer filling;
    filling.start();
    fillLargeDatabase(session, scale);
    out() << QStringLiteral("   The large database made on the server in %1 s: %2 message rows, "
                            "%3 MB; median of %4 runs\n")
                 .arg(filling.nsecsElapsed() / 1e9, 0, 'f', 1)
                 .arg(scale.messageRows())
                 .arg(session.number(QStringLiteral("SELECT pg_database_size(current_database())"))
                     / 1048576)
                 .arg(runs);
    out().flush();

    TableWalk walk;
    CDaoRecordset::SetDefaultDatabaseName(uri);
    CQuillpostDoc doc;
    // Taken in turns, so that a change in the machine's load while the figure runs
    // weighs on both sides alike.
    std::vector<double> floorTimes, reloadTimes;
    for (int i = 0; i < runs; ++i) {
        floorTimes.push_back(MedianMs(1, [&] { walk = walkEveryRow(session.database()); }, [&] {
            if (walk.rows != scale.users + scale.groups + scale.providers + scale.messageRows())
                BenchFail(QStringLiteral("The floor walked %1 rows on the server").arg(walk.rows));
        }));
        reloadTimes.push_back(
            MedianMs(1, [&] { doc.ReloadAll(); }, [&] { CheckBenchDocument(doc, scale, QStringLiteral("the server")); }));
    }
    const auto median = [](std::vector<double>& times) {
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    const double floorMs = median(floorTimes);
    const double reloadMs = median(reloadTimes);
    report.add({ QStringLiteral("10a. ReloadAll, PostgreSQL server"), reloadMs, floorMs, 2,
        QStringLiteral("bare forward-only QSqlQuery walk over QPSQL") });
}

// Six providers, a user (pager) of its own for each message, and the waiting
// one-recipient messages in turn to each provider, so that every dispatcher finds a
// provider no other is calling.
void fillDispatchDatabase(ServerSession& session)
{
    session.execute(
        QStringLiteral("INSERT INTO ServiceProviders (ID, ServiceName, AccessNumber, BaudRate, "
                       "StopBits, Parity, DataBits, TAPType, UseAsDefault, Password) "
                       "SELECT g, 'Bench Paging ' || g, '555100' || g, 9600, 1, 0, 8, 1, 0, '' "
                       "FROM generate_series(1, %1) AS g")
            .arg(kDispatchProviders));
    session.execute(
        QStringLiteral("INSERT INTO Users (ID, Name, TelephoneNumber, PreferredProvider, Group1, "
                       "Group2, Group3, Group4, Group5, Group6, Group7, Group8, Group9, Group10) "
                       "SELECT g, 'On call ' || g, (%1 + g - 1)::text, (g - 1) % %2 + 1, "
                       "0, 0, 0, 0, 0, 0, 0, 0, 0, 0 FROM generate_series(1, %3) AS g")
            .arg(kFirstPager)
            .arg(kDispatchProviders)
            .arg(kDispatchPages));
    session.execute(
        QStringLiteral("INSERT INTO Messages (ID, Recipient, MessageCount, MessageId, Text, Status, "
                       "SendTime, RequestTime, RequiredSendTime, Retries) "
                       "SELECT g, g, 1, g, 'Theatre ' || g || ' ready for the next case, please "
                       "come now', %1, TIMESTAMP '2026-01-01 00:00:00', "
                       "TIMESTAMP '2026-01-01 00:00:00', TIMESTAMP '2026-01-01 00:00:00', 0 "
                       "FROM generate_series(1, %2) AS g")
            .arg(StatusValue(MessageStatus::Waiting))
            .arg(kDispatchPages));
}

// Runs the event loop, looking every kPollMs, until `done` says so (true) or `guardMs`
// have passed (false).
bool runUntil(const std::function<bool()>& done, qint64 guardMs)
{
    QElapsedTimer waited;
    waited.start();
    bool reached = false;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        reached = done();
        if (reached || waited.elapsed() > guardMs)
            loop.quit();
    });
    poll.start(kPollMs);
    loop.exec();
    return reached;
}

// Each simulator a Hayes modem line of its own, named in the settings the program reads.
QStringList startLines(const std::vector<std::unique_ptr<PagingSimulator>>& sims)
{
    QSettings settings(QStringLiteral("Northmoor"), QStringLiteral("Quillpost"));
    QStringList names;
    settings.beginWriteArray(QStringLiteral("Lines"));
    for (std::size_t i = 0; i < sims.size(); ++i) {
        if (!sims[i]->startPty())
            BenchFail(QStringLiteral("The simulated modem did not start: %1").arg(sims[i]->errorString()));
        names << QStringLiteral("Server line %1").arg(i + 1);
        settings.setArrayIndex(int(i));
        settings.setValue(QStringLiteral("name"), names.last());
        settings.setValue(QStringLiteral("type"), QStringLiteral("hayes"));
        settings.setValue(QStringLiteral("device"), sims[i]->slavePath());
    }
    settings.endArray();
    return names;
}

struct DispatchRun
{
    double ms = 0; // from the dispatchers' start to the last row recorded as sent
    QList<int> pagesPerLine;
};

// The last lines the dispatchers logged, each named by its dispatcher.
class RecentLog
{
public:
    CHeadlessDispatcher::LogLine For(int dispatcher)
    {
        return [this, dispatcher](const QString& line) {
            m_lines.push_back(QStringLiteral("[%1] %2").arg(dispatcher).arg(line));
            if (m_lines.size() > kLogLinesKept)
                m_lines.pop_front();
        };
    }
    QString Text() const { return QStringList(m_lines.begin(), m_lines.end()).join('\n'); }

private:
    std::deque<QString> m_lines;
};

// Every row was sent exactly once: all say sent, and the simulators together took one
// page for each row's pager and nothing else.
void checkPaged(const std::vector<std::unique_ptr<PagingSimulator>>& sims, DispatchRun& run)
{
    QSet<QByteArray> unpaged;
    for (int i = 0; i < kDispatchPages; ++i)
        unpaged.insert(QByteArray::number(kFirstPager + i));
    int taken = 0;
    for (const auto& sim : sims) {
        const QList<quillpost::sim::AcceptedPage> pages = sim->pages();
        run.pagesPerLine.append(int(pages.size()));
        taken += int(pages.size());
        for (const auto& page : pages)
            if (!unpaged.remove(page.pagerId))
                BenchFail(QStringLiteral("Pager %1 was paged twice, or for no row")
                             .arg(QString::fromLatin1(page.pagerId)));
    }
    if (taken != kDispatchPages || !unpaged.isEmpty())
        BenchFail(QStringLiteral("The simulators took %1 pages for %2 rows; %3 rows got none")
                     .arg(taken)
                     .arg(kDispatchPages)
                     .arg(unpaged.size()));
}

// The messages of a fresh database sent by `count` dispatchers at once, timed until
// every row is recorded as sent; then the dispatchers are stopped and the pages checked.
DispatchRun dispatchOnServer(PostgresCluster& cluster, const QString& name, int count)
{
    const QString uri = makeServerDatabase(cluster, name);
    ServerSession session(cluster, name);
    fillDispatchDatabase(session);
    CDaoRecordset::SetDefaultDatabaseName(uri);

    std::vector<std::unique_ptr<PagingSimulator>> sims;
    for (int i = 0; i < count; ++i)
        sims.push_back(std::make_unique<PagingSimulator>());
    const QStringList lines = startLines(sims);
    RecentLog log;
    std::vector<std::unique_ptr<CModemList>> modems;
    std::vector<std::unique_ptr<CHeadlessDispatcher>> dispatchers;
    // The program's periods, but for the pauses while a call closes: they are sleeps on
    // the sending thread, which the dispatchers here share, and would hold up every
    // other dispatcher's call as they never do from machines of their own.
    SendTiming timing;
    timing.closePauseMs = 0;
    timing.hangUpPauseMs = 0;
    for (const QString& line : lines) {
        modems.push_back(std::make_unique<CModemList>([line] { return line; }));
        dispatchers.push_back(std::make_unique<CHeadlessDispatcher>(*modems.back(),
            log.For(int(dispatchers.size()) + 1), CSendScheduler::kIntervalMs, timing,
            [line] { return SendCapacity { { line }, 0, {} }; }));
    }

    const QString sentCount = QStringLiteral("SELECT COUNT(*) FROM Messages WHERE Status = %1")
                                  .arg(StatusValue(MessageStatus::Sent));
    DispatchRun run;
    long long sent = 0;
    QElapsedTimer timer;
    timer.start();
    for (const auto& dispatcher : dispatchers)
        dispatcher->Start();
    const bool allSent = runUntil([&] { return (sent = session.number(sentCount)) == kDispatchPages; },
        kGuardMsPerCall * ((kDispatchPages + count - 1) / count));
    run.ms = timer.nsecsElapsed() / 1e6;
    if (!allSent)
        BenchFail(QStringLiteral("%1 of %2 rows sent by %3 dispatcher(s) after %4 s:\n%5")
                     .arg(sent)
                     .arg(kDispatchPages)
                     .arg(count)
                     .arg(run.ms / 1000, 0, 'f', 0)
                     .arg(log.Text()));

    // Each ends its calls (hangs up) as the program does when told to stop.
    int stopped = 0;
    for (const auto& dispatcher : dispatchers) {
        QObject::connect(dispatcher.get(), &CHeadlessDispatcher::Stopped, [&stopped] { ++stopped; });
        dispatcher->Stop();
    }
    if (!runUntil([&] { return stopped == count; }, kStopMs))
        BenchFail(QStringLiteral("%1 of %2 dispatchers stopped:\n%3")
                     .arg(stopped)
                     .arg(count)
                     .arg(log.Text()));
    dispatchers.clear();
    modems.clear();
    for (const auto& sim : sims)
        sim->stop();
    checkPaged(sims, run);
    return run;
}

double pagesPerMinute(const DispatchRun& run)
{
    return kDispatchPages * 60000.0 / run.ms;
}

QString pagesEach(const DispatchRun& run)
{
    QStringList counts;
    for (const int pages : run.pagesPerLine)
        counts.append(QString::number(pages));
    return counts.join(QStringLiteral(", "));
}

// Waits until the server has been up for kServerSettledMs.
void waitForSettledServer(PostgresCluster& cluster)
{
    ServerSession session(cluster, QStringLiteral("quillpost"));
    const QString upMs = QStringLiteral(
        "SELECT CAST(EXTRACT(EPOCH FROM now() - pg_postmaster_start_time()) * 1000 AS bigint)");
    const long long up = session.number(upMs);
    if (up < 0)
        BenchFail(QStringLiteral("Cannot ask the server how long it has been up"));
    if (up >= kServerSettledMs)
        return;
    out() << QStringLiteral("   waiting %1 s, until the server has been up for %2 s: dispatchers "
                            "claim nothing new in its first scheduler runs...\n")
                 .arg((kServerSettledMs - up) / 1000.0, 0, 'f', 1)
                 .arg(kServerSettledMs / 1000);
    out().flush();
    if (!runUntil([&] { return session.number(upMs) >= kServerSettledMs; }, kServerSettledMs + kStopMs))
        BenchFail(QStringLiteral("The server never said it had been up %1 s").arg(kServerSettledMs / 1000));
}

void measureDispatchers(BenchReport& report, PostgresCluster& cluster)
{
    out() << "10b. " << kDispatchPages << " one-recipient messages to " << kDispatchProviders
          << " providers on the server, the simulator's default answers, the program's periods "
             "without the closing pauses; one dispatcher, then "
          << kManyDispatchers << "...\n";
    out().flush();
    waitForSettledServer(cluster);
    const DispatchRun one = dispatchOnServer(cluster, QStringLiteral("one_dispatcher"), 1);
    out() << QStringLiteral("   one dispatcher: %1 s; now %2 dispatchers...\n")
                 .arg(one.ms / 1000, 0, 'f', 1)
                 .arg(kManyDispatchers);
    out().flush();
    const DispatchRun many
        = dispatchOnServer(cluster, QStringLiteral("three_dispatchers"), kManyDispatchers);

    const double speedUp = one.ms / many.ms;
    report.add({ QStringLiteral("10b. 60 messages, three dispatchers, server"), many.ms, one.ms,
        1.0 / kTargetSpeedUp, QStringLiteral("one dispatcher") });
    report.note(QStringLiteral("   One dispatcher: %1 pages in %2 s, %3 pages/min. Three "
                               "dispatchers: %1 pages in %4 s, %5 pages/min (%6 pages each). "
                               "Speed-up %7 (target at least %8): %9.")
                    .arg(kDispatchPages)
                    .arg(one.ms / 1000, 0, 'f', 1)
                    .arg(pagesPerMinute(one), 0, 'f', 1)
                    .arg(many.ms / 1000, 0, 'f', 1)
                    .arg(pagesPerMinute(many), 0, 'f', 1)
                    .arg(pagesEach(many))
                    .arg(speedUp, 0, 'f', 2)
                    .arg(kTargetSpeedUp, 0, 'f', 1)
                    .arg(speedUp >= kTargetSpeedUp ? QStringLiteral("met") : QStringLiteral("MISSED")));
}

// The database the record sets name when the figure began, named again when it ends,
// however it ends.
class DefaultDatabaseKept
{
public:
    DefaultDatabaseKept()
        : m_path(CDaoRecordset::DefaultDatabasePath())
    {
    }
    ~DefaultDatabaseKept() { CDaoRecordset::SetDefaultDatabaseName(m_path); }
    DefaultDatabaseKept(const DefaultDatabaseKept&) = delete;
    DefaultDatabaseKept& operator=(const DefaultDatabaseKept&) = delete;

private:
    QString m_path;
};

} // namespace

void MeasureServer(BenchReport& report, int runs, bool withDispatch)
{
    out() << "10. Quillpost on a PostgreSQL server: starting a cluster of the benchmark's own...\n";
    out().flush();
    // Made first, so that it outlives every connection to it and is stopped last.
    PostgresCluster cluster;
    if (!cluster.Start())
        BenchFail(QStringLiteral("10. PostgreSQL server: %1").arg(cluster.Error()));
    const DefaultDatabaseKept kept;
    measureReload(report, cluster, runs);
    if (withDispatch)
        measureDispatchers(report, cluster);
    cluster.Stop();
}

#include "gateway/MetricsPage.h"

#include "data/QuillTime.h"
#include "platform/Clock.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoRecordset.h"

#include <initializer_list>

namespace {

struct Metric
{
    const char* name;
    const char* type; // "gauge" or "counter"
    const char* help;
    qint64 value;
};

void AppendMetrics(QByteArray& page, std::initializer_list<Metric> metrics)
{
    for (const Metric& metric : metrics) {
        page += QByteArray("# HELP ") + metric.name + ' ' + metric.help + '\n';
        page += QByteArray("# TYPE ") + metric.name + ' ' + metric.type + '\n';
        page += QByteArray(metric.name) + ' ' + QByteArray::number(metric.value) + '\n';
    }
}

// Counts past what a signed 64-bit value holds would take millennia; clamped all the same.
qint64 Count(std::uint64_t value)
{
    return value > std::uint64_t(INT64_MAX) ? INT64_MAX : qint64(value);
}

} // namespace

std::optional<QueueFigures> ReadQueueFigures(std::int64_t now)
{
    // A reader of its own: in write-ahead-log mode it never waits for a send's writes.
    try {
        DaoConnection connection(CDaoRecordset::DefaultDatabasePath());
        // As the table holds due times: local, as text.
        const QString dueBy = FromQuillTime(QuillTime(now)).ToText();
        QSqlQuery query = connection.Execute(
            QStringLiteral("SELECT COUNT(*), COUNT(CASE WHEN RequiredSendTime <= ? THEN 1 END), "
                           "MIN(CASE WHEN RequiredSendTime <= ? THEN RequiredSendTime END) "
                           "FROM Messages WHERE Status = 0"),
            { dueBy, dueBy }, QStringLiteral("Counting the queue for the metrics page"));
        if (!query.next())
            return std::nullopt;
        QueueFigures figures;
        figures.rowsWaiting = query.value(0).toULongLong();
        figures.rowsDue = query.value(1).toULongLong();
        const std::optional<COleDateTime> oldest
            = COleDateTime::FromText(query.value(2).toString());
        if (oldest)
            figures.oldestDueAgeSeconds = qMax<std::int64_t>(0, now - ToQuillTime(*oldest));
        return figures;
    } catch (const CDaoException&) {
        return std::nullopt;
    }
}

DispatchFigures CollectDispatchFigures(const DispatchCounters& counters)
{
    return { counters, ReadQueueFigures(Clock::current().SecondsSinceEpoch()) };
}

QByteArray RenderMetricsPage(const DispatchFigures& figures, const GatewayCounters& gateway)
{
    QByteArray page;
    AppendMetrics(page,
        { { "quillpost_database_readable", "gauge",
            "1 when the queue could be counted in the database for this scrape, else 0",
            figures.queue ? 1 : 0 } });
    if (const std::optional<QueueFigures>& queue = figures.queue)
        AppendMetrics(page,
            { { "quillpost_rows_waiting", "gauge",
                  "Messages rows waiting to be sent (Status 0), due or not",
                  Count(queue->rowsWaiting) },
                { "quillpost_rows_due", "gauge",
                    "Messages rows waiting whose required send time has come",
                    Count(queue->rowsDue) },
                { "quillpost_oldest_due_age_seconds", "gauge",
                    "Seconds the longest-due waiting row has been due; 0 when none is due",
                    queue->oldestDueAgeSeconds } });
    const DispatchCounters& counts = figures.counters;
    AppendMetrics(page,
        { { "quillpost_pages_sent_total", "counter",
              "Pages the service provider accepted, as stored since this program started",
              Count(counts.pagesSent) },
            { "quillpost_pages_failed_total", "counter",
                "Failed attempts stored since this program started, the ones that gave up included",
                Count(counts.pagesFailed) },
            { "quillpost_pages_given_up_total", "counter",
                "Failed attempts that gave their recipient up (Status 2) since this program "
                "started",
                Count(counts.pagesGivenUp) },
            { "quillpost_calls_total", "counter",
                "Calls placed to service providers since this program started",
                Count(counts.calls) },
            { "quillpost_send_timeouts_total", "counter",
                "Sends that ended at their time-out since this program started",
                Count(counts.timeouts) },
            { "quillpost_last_accepted_page_timestamp_seconds", "gauge",
                "When the last accepted page was stored, in seconds since 1970 (UTC); 0 before the "
                "first",
                counts.lastAcceptedPage },
            { "quillpost_dispatcher_lock_held", "gauge",
                "1 while this program holds the database's dispatcher lock and may send, else 0",
                counts.lockHeld ? 1 : 0 },
            { "quillpost_snpp_connections_total", "counter",
                "SNPP connections accepted since this program started",
                Count(gateway.snppConnections) },
            { "quillpost_snpp_submissions_total", "counter",
                "Messages queued through SNPP since this program started",
                Count(gateway.snppSubmissions) } });
    return page;
}

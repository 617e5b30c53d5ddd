#pragma once

#include "dispatch/DispatchCounters.h"
#include "gateway/GatewayCounters.h"

#include <QByteArray>
#include <cstdint>
#include <optional>

// What the queue in the database holds at one moment.
struct QueueFigures
{
    std::uint64_t rowsWaiting = 0; // Status 0: due or not, to be sent
    std::uint64_t rowsDue = 0; // of those, the ones whose RequiredSendTime has come
    std::int64_t oldestDueAgeSeconds = 0; // how long the longest-due of them has waited; 0: none
};

// Everything the metrics page shows but the gateway's own counts.
struct DispatchFigures
{
    DispatchCounters counters;
    std::optional<QueueFigures> queue; // none when the database could not be read
};

// Counts the queue of the database every program opens (CDaoRecordset's default), at
// `now` (seconds since 1970, UTC). Nothing when the database cannot be read.
std::optional<QueueFigures> ReadQueueFigures(std::int64_t now);

// The dispatcher's counts with the queue as it stands now by the program's clock.
DispatchFigures CollectDispatchFigures(const DispatchCounters& counters);

// The page in the Prometheus text format (version 0.0.4): HELP and TYPE for every
// metric, then its value. The queue's figures are left out when there are none.
QByteArray RenderMetricsPage(const DispatchFigures& figures, const GatewayCounters& gateway);

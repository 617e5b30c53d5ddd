#pragma once

#include <cstdint>

// What the gateway's servers count since the program started, read by the metrics page.
// Every server runs on the dispatcher's thread, so plain counts do.
struct GatewayCounters
{
    std::uint64_t snppConnections = 0; // connections accepted
    std::uint64_t snppSubmissions = 0; // messages queued (one SEND that committed)
};

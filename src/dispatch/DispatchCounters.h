#pragma once

#include <cstdint>

// What a dispatcher without a window has done since it started, for the metrics page.
// The dispatcher's thread alone writes and reads them.
struct DispatchCounters
{
    std::uint64_t pagesSent = 0; // outcomes stored as accepted by the terminal
    std::uint64_t pagesFailed = 0; // failed attempts stored, the ones that give up included
    std::uint64_t pagesGivenUp = 0; // failed attempts that gave their recipient up
    std::uint64_t calls = 0; // sends that placed a call
    std::uint64_t timeouts = 0; // sends that ended at their time-out
    std::int64_t lastAcceptedPage = 0; // seconds since 1970 (UTC); 0 before the first
    bool lockHeld = false; // this program holds the database's dispatcher lock
};

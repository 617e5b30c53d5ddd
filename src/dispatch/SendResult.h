#pragma once

#include <cstdint>
#include <optional>

// Messages.Status codes.
inline constexpr std::int32_t kStatusWaiting = 0;
inline constexpr std::int32_t kStatusSent = 1;
inline constexpr std::int32_t kStatusFailed = 2;
// The failed attempt that gives a recipient up.
inline constexpr std::int32_t kMaxAttempts = 4;

// Writes the outcome of one attempt into the row of one recipient of one message:
// kStatusSent, or a failed attempt (kStatusWaiting), which adds 1 to Retries and
// becomes kStatusFailed from the fourth failure on. SendTime becomes the time of the
// attempt. Returns the Status written, or nothing when the message has no row for the
// recipient (deleted meanwhile). While another program holds the database longer than
// the busy time-out the write is tried again, up to kRecordAttempts times in all;
// after that, or on any other failure, CDaoException is thrown and nothing was written.
inline constexpr int kRecordAttempts = 2;
std::optional<std::int32_t> RecordAttemptResult(
    std::int32_t messageId, std::int32_t recipient, std::int32_t resultCode);

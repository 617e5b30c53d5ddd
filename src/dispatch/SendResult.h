#pragma once

#include <QString>
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

// One attempt as the send log keeps it, besides the outcome written to the row.
struct SendAttempt
{
    std::int32_t messageId = 0;
    std::int32_t recipient = 0;
    std::int32_t resultCode = kStatusWaiting;
    QString pagerId;
    QString provider; // the service provider's name at the time
    QString terminalLine; // the terminal's last message-sequence line; empty: none
};

// As above, and in the same transaction one row of the send log with the attempt's
// time, the Status written and the rest of `attempt`: the row and its log entry are
// written together or not at all. A database without the send log gets it here. Should
// the log refuse its entry for any reason but a lock, the row is written alone and the
// operator is told, so that a damaged log never makes a page go out twice.
// The three-argument form records an attempt with no pager ID, provider or line.
std::optional<std::int32_t> RecordAttemptResult(const SendAttempt& attempt);

#pragma once

#include "data/MessageStatus.h"
#include "platform/db/OleDateTime.h"

#include <QString>
#include <cstdint>
#include <optional>

// One attempt to page one recipient of one message.
struct SendAttempt
{
    std::int32_t messageId = 0;
    std::int32_t recipient = 0;
    // Sent, or Waiting for a failed attempt.
    MessageStatus resultCode = MessageStatus::Waiting;
    QString pagerId;
    QString provider; // the service provider's name at the time
    QString terminalLine; // the terminal's last message-sequence line; empty: none
    std::optional<COleDateTime> time; // when the terminal answered; none: now
};

// Writes the outcome of one attempt into the recipient's row: Sent, or a failed
// attempt, which adds 1 to Retries and stays Waiting until the kMaxAttempts-th failure
// makes it Failed. SendTime becomes the time of the attempt. In the same transaction
// one row of the send log gets the attempt's time, the Status written and the rest of
// `attempt`: the row and its log entry are written together or not at all. A database
// without the send log gets it here. Should the log refuse its entry for any reason
// but a lock, the row is written alone and the operator is told, so that a damaged log
// never makes a page go out twice.
// Returns the Status written, or nothing when the message has no row for the recipient
// (deleted meanwhile). While another program holds the database longer than the busy
// time-out the write is tried again, up to kRecordAttempts times in all; after that,
// or on any other failure, CDaoException is thrown and nothing was written.
inline constexpr int kRecordAttempts = 2;
std::optional<MessageStatus> RecordAttemptResult(const SendAttempt& attempt);

// Why the database would not take the outcome of a page to this recipient now, or
// nothing when it would. It takes the write lock and changes the row to what it is,
// so that whatever would refuse the real write (a read-only file, a full disk, a
// trigger, another program holding the file past the busy time-out) refuses this one,
// and then rolls back: no row changes.
std::optional<QString> OutcomeWriteRefusal(std::int32_t messageId, std::int32_t recipient);

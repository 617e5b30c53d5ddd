#pragma once

#include "platform/db/OleDateTime.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

// What the operator composes becomes a message in the Messages table: one row per
// recipient, all sharing the text, the time it is due and the message identifier,
// which is the ID of the message's first row.

// The longest text the operator can compose.
inline constexpr int kMaxComposedLength = 240;
// The longest composed text that is queued whole; the rest of a longer text is cut.
inline constexpr int kQueuedTextLength = 129;
// Added to every queued text.
inline const QString kQueuedTextSuffix = QStringLiteral(": Sent using Quillpost");

// A page is one line: every line break becomes a space.
QString JoinedLines(QString text);

// The text as it is queued: cut to kQueuedTextLength characters, then the suffix.
QString QueuedText(const QString& composed);

// The date part of `date` with the time of day of `time`.
COleDateTime CombineDateAndTime(const COleDateTime& date, const COleDateTime& time);

// Writes one waiting row per recipient, in the order given, with the queued form of
// `composed`. All rows are written in one transaction: the message is queued whole or,
// when CDaoException is thrown, not at all. Returns the new message's identifier, or
// nothing (and writes nothing) when there is no recipient.
std::optional<std::int32_t> QueueMessage(const QString& composed,
    const COleDateTime& requiredSendTime, const std::vector<std::int32_t>& recipients);

// A message from outside the dialog (a script, a network client), as it was queued.
struct SubmittedMessage
{
    std::int32_t messageId = 0; // 0: nothing queued, as there was no recipient
    qsizetype composedLength = 0; // of the text after its lines were joined
    QString cutOff; // what went past kMaxComposedLength, where the dialog stops typing
};

// Queues a text from outside the dialog as the dialog would have taken it: line breaks
// become spaces, the ends are trimmed, and a longer text is cut to kMaxComposedLength
// rather than refused, so that no alert is lost; then QueueMessage. Throws CDaoException.
SubmittedMessage QueueSubmittedText(const QString& text, const COleDateTime& requiredSendTime,
    const std::vector<std::int32_t>& recipients);

// A stored message as the operator may send it again.
struct StoredMessage
{
    QString text;
    std::vector<std::int32_t> recipients; // in table order, whatever their Status
};

// Reads the rows of one message; nothing when it has none. Throws CDaoException.
std::optional<StoredMessage> ReadStoredMessage(std::int32_t messageId);

// Deletes every row of one message, whatever its Status, in one transaction: all of
// them or, when CDaoException is thrown, none. Returns how many rows went.
int DeleteMessageRows(std::int32_t messageId);

#pragma once

#include "data/Records.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

class CQuillpostDoc;

// What the program knows about the delivery of a message: each recipient's state in
// its Messages row, and every attempt in the send log.

// One attempt, as the send log keeps it.
struct SendLogEntry
{
    QString time; // local, "YYYY-MM-DD HH:MM:SS"
    std::int32_t messageId = 0;
    std::int32_t recipient = 0;
    QString pagerId;
    QString provider;
    std::int32_t outcome = 0; // the Status the attempt left (a MessageStatus)
    QString terminalLine;
};

// The send log, oldest attempt first; only the message's attempts when a message ID is
// given. Empty when the database has no send log yet. Throws CDaoException when the
// database cannot be read.
std::vector<SendLogEntry> ReadSendLog(std::optional<std::int32_t> messageId = std::nullopt);

// An attempt's outcome in words: "sent", "failed" or "failed for good".
QString OutcomeName(std::int32_t outcome);

// One recipient's row of a message.
struct RecipientState
{
    std::int32_t recipient = 0;
    std::int32_t status = 0; // a MessageStatus, as stored
    std::int32_t retries = 0;
    QuillTime sendTime = 0; // the last attempt, when there was one
    QuillTime requiredSendTime = 0;
};

// The message's rows in table order, read from the database (CDaoException on failure).
std::vector<RecipientState> ReadRecipientStates(std::int32_t messageId);
// The same from the document's copy; empty when it holds no such message.
std::vector<RecipientState> RecipientStatesOf(const CQuillpostDoc& doc, std::int32_t messageId);

// "sent 2026-03-10 09:00:00", "waiting, due 2026-03-10 09:00:00, 2 failed attempts",
// "failed for good after 4 attempts, the last 2026-03-10 09:00:00".
QString DescribeRecipientState(const RecipientState& state);
// The recipient's name in the document, or "user N" when it has none.
QString RecipientName(const CQuillpostDoc& doc, std::int32_t recipient);
// One line per recipient, "name: state", as the message's tooltip in the tree.
QString DescribeMessage(const CQuillpostDoc& doc, std::int32_t messageId);

#include "dispatch/SendResult.h"

#include "data/Recordsets.h"
#include "platform/Prompt.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoException.h"
#include "platform/db/DaoWorkspace.h"
#include "platform/db/DatabaseSchema.h"

#include <QDir>

namespace {

// Inside the caller's transaction: the row's new Status, Retries and SendTime;
// nothing when the message has no row for the recipient.
std::optional<std::int32_t> writeRow(const SendAttempt& attempt, const COleDateTime& now)
{
    CMessagesRecordset rs;
    rs.m_strFilter = QStringLiteral("MessageId = %1 AND Recipient = %2")
                         .arg(attempt.messageId)
                         .arg(attempt.recipient);
    rs.Open();
    if (rs.IsEOF())
        return std::nullopt;
    std::int32_t resultCode = attempt.resultCode;
    rs.Edit();
    if (resultCode == kStatusWaiting) {
        ++rs.m_Retries;
        if (rs.m_Retries >= kMaxAttempts)
            resultCode = kStatusFailed;
    }
    rs.m_SendTime = now;
    rs.m_Status = resultCode;
    rs.Update();
    rs.Close();
    return resultCode;
}

// Inside the caller's transaction: the attempt's entry in the send log.
void writeLogEntry(const SendAttempt& attempt, std::int32_t outcome, const COleDateTime& now)
{
    const QString path = QDir::current().absoluteFilePath(CDaoRecordset::DefaultDatabaseName());
    EnsureSendLogTable(*CDaoWorkspace::Default().ConnectionFor(path));
    CSendLogRecordset log;
    // Only the new row is needed; IDs start at 1.
    log.m_strFilter = QStringLiteral("ID = 0");
    log.Open();
    log.AddNew();
    log.m_AttemptTime = now;
    log.m_MessageId = attempt.messageId;
    log.m_Recipient = attempt.recipient;
    log.m_PagerId = attempt.pagerId.left(255);
    log.m_Provider = attempt.provider.left(255);
    log.m_Outcome = outcome;
    log.m_TerminalLine = attempt.terminalLine.left(255);
    log.Update();
    log.Close();
}

// The send log could not take the attempt's entry.
struct LogEntryRefused
{
    CDaoException failure;
};

// The row and the log entry in one transaction. Without `withLog` only the row.
std::optional<std::int32_t> writeResult(const SendAttempt& attempt, bool withLog)
{
    CDaoTransaction transaction;
    const COleDateTime now = COleDateTime::GetCurrentTime();
    const std::optional<std::int32_t> written = writeRow(attempt, now);
    if (!written)
        return std::nullopt;
    if (withLog) {
        try {
            writeLogEntry(attempt, *written, now);
        } catch (const CDaoException& failure) {
            if (failure.kind() == CDaoException::Kind::Locked)
                throw;
            throw LogEntryRefused { failure };
        }
    }
    transaction.Commit();
    return written;
}

// A damaged send log must not keep an outcome from being recorded: the page would be
// sent again at the next scheduler run, and again, for as long as the log stays broken.
std::optional<std::int32_t> writeResultWithoutLog(
    const SendAttempt& attempt, const CDaoException& logFailure)
{
    const std::optional<std::int32_t> written = writeResult(attempt, false);
    Prompt::current().inform(
        QStringLiteral("The send log could not be written: %1\n\nThe outcome of the page to %2 "
                       "was recorded without it.")
            .arg(logFailure.reason(),
                attempt.pagerId.isEmpty() ? QStringLiteral("user %1").arg(attempt.recipient)
                                          : attempt.pagerId));
    return written;
}

} // namespace

std::optional<std::int32_t> RecordAttemptResult(
    std::int32_t messageId, std::int32_t recipient, std::int32_t resultCode)
{
    return RecordAttemptResult(SendAttempt { messageId, recipient, resultCode, {}, {}, {} });
}

std::optional<std::int32_t> RecordAttemptResult(const SendAttempt& attempt)
{
    for (int attemptNumber = 1;; ++attemptNumber) {
        try {
            try {
                return writeResult(attempt, true);
            } catch (const LogEntryRefused& refused) {
                return writeResultWithoutLog(attempt, refused.failure);
            }
        } catch (const CDaoException& failure) {
            if (failure.kind() != CDaoException::Kind::Locked || attemptNumber >= kRecordAttempts)
                throw;
        }
    }
}

#include "dispatch/SendResult.h"

#include "data/Recordsets.h"
#include "platform/LogCategories.h"
#include "platform/Prompt.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoException.h"
#include "platform/db/DaoWorkspace.h"
#include "platform/db/DatabaseSchema.h"

namespace {

// Inside the caller's transaction: the row's new Status, Retries and SendTime;
// nothing when the message has no row for the recipient.
std::optional<MessageStatus> writeRow(const SendAttempt& attempt, const COleDateTime& now)
{
    CMessagesRecordset rs;
    rs.m_strFilter = QStringLiteral("MessageId = %1 AND Recipient = %2")
                         .arg(attempt.messageId)
                         .arg(attempt.recipient);
    rs.Open();
    if (rs.IsEOF())
        return std::nullopt;
    MessageStatus resultCode = attempt.resultCode;
    rs.Edit();
    if (resultCode == MessageStatus::Waiting) {
        ++rs.m_Retries;
        if (rs.m_Retries >= kMaxAttempts)
            resultCode = MessageStatus::Failed;
    }
    rs.m_SendTime = now;
    rs.m_Status = StatusValue(resultCode);
    rs.Update();
    rs.Close();
    return resultCode;
}

// Inside the caller's transaction: the attempt's entry in the send log.
void writeLogEntry(const SendAttempt& attempt, MessageStatus outcome, const COleDateTime& now)
{
    EnsureSendLogTable(
        *CDaoWorkspace::Default().ConnectionFor(CDaoRecordset::DefaultDatabasePath()));
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
    log.m_Outcome = StatusValue(outcome);
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
std::optional<MessageStatus> writeResult(const SendAttempt& attempt, bool withLog)
{
    CDaoTransaction transaction;
    const COleDateTime now = attempt.time.value_or(COleDateTime::GetCurrentTime());
    const std::optional<MessageStatus> written = writeRow(attempt, now);
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
std::optional<MessageStatus> writeResultWithoutLog(
    const SendAttempt& attempt, const CDaoException& logFailure)
{
    const std::optional<MessageStatus> written = writeResult(attempt, false);
    Prompt::current().inform(
        QStringLiteral("The send log could not be written: %1\n\nThe outcome of the page to %2 "
                       "was recorded without it.")
            .arg(logFailure.reason(),
                attempt.pagerId.isEmpty() ? QStringLiteral("user %1").arg(attempt.recipient)
                                          : attempt.pagerId));
    return written;
}

} // namespace

std::optional<MessageStatus> RecordAttemptResult(const SendAttempt& attempt)
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

std::optional<QString> OutcomeWriteRefusal(std::int32_t messageId, std::int32_t recipient)
{
    try {
        CDaoTransaction transaction;
        CDaoWorkspace::Default()
            .ConnectionFor(CDaoRecordset::DefaultDatabasePath())
            ->Execute(QStringLiteral("UPDATE Messages SET Status = Status "
                                     "WHERE MessageId = ? AND Recipient = ?"),
                { messageId, recipient }, QStringLiteral("The database refuses to be written"));
        return std::nullopt;
    } catch (const CDaoException& failure) {
        qCDebug(lcDatabase, "A page's outcome could not be stored now: %s",
            qUtf8Printable(failure.reason()));
        return failure.reason();
    }
}

#include "dispatch/SendResult.h"

#include "data/Recordsets.h"
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

std::optional<std::int32_t> writeResult(const SendAttempt& attempt)
{
    CDaoTransaction transaction;
    const COleDateTime now = COleDateTime::GetCurrentTime();
    const std::optional<std::int32_t> written = writeRow(attempt, now);
    if (!written)
        return std::nullopt;
    writeLogEntry(attempt, *written, now);
    transaction.Commit();
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
            return writeResult(attempt);
        } catch (const CDaoException& failure) {
            if (failure.kind() != CDaoException::Kind::Locked || attemptNumber >= kRecordAttempts)
                throw;
        }
    }
}

#include "dispatch/SendResult.h"

#include "data/Recordsets.h"
#include "platform/db/DaoException.h"

namespace {

std::optional<std::int32_t> writeResult(
    std::int32_t messageId, std::int32_t recipient, std::int32_t resultCode)
{
    CMessagesRecordset rs;
    rs.m_strFilter = QStringLiteral("MessageId = %1 AND Recipient = %2").arg(messageId).arg(recipient);
    rs.Open();
    if (rs.IsEOF())
        return std::nullopt;
    rs.Edit();
    if (resultCode == kStatusWaiting) {
        ++rs.m_Retries;
        if (rs.m_Retries >= kMaxAttempts)
            resultCode = kStatusFailed;
    }
    rs.m_SendTime = COleDateTime::GetCurrentTime();
    rs.m_Status = resultCode;
    rs.Update();
    rs.Close();
    return resultCode;
}

} // namespace

std::optional<std::int32_t> RecordAttemptResult(
    std::int32_t messageId, std::int32_t recipient, std::int32_t resultCode)
{
    for (int attempt = 1;; ++attempt) {
        try {
            return writeResult(messageId, recipient, resultCode);
        } catch (const CDaoException& failure) {
            if (failure.kind() != CDaoException::Kind::Locked || attempt >= kRecordAttempts)
                throw;
        }
    }
}

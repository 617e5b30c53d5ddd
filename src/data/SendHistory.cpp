#include "data/SendHistory.h"

#include "data/QuillTime.h"
#include "data/QuillpostDoc.h"
#include "data/Recordsets.h"
#include "platform/db/DaoException.h"

#include <QStringList>

namespace {

QString TimeText(QuillTime time)
{
    return FromQuillTime(time).ToText();
}

QString Attempts(std::int32_t count)
{
    return count == 1 ? QStringLiteral("1 failed attempt")
                      : QStringLiteral("%1 failed attempts").arg(count);
}

} // namespace

std::vector<SendLogEntry> ReadSendLog(std::optional<std::int32_t> messageId)
{
    std::vector<SendLogEntry> entries;
    CSendLogRecordset log;
    if (messageId)
        log.m_strFilter = QStringLiteral("MessageId = %1").arg(*messageId);
    try {
        log.Open();
    } catch (const CDaoException& failure) {
        if (failure.kind() == CDaoException::Kind::MissingTableOrColumn)
            return entries; // no attempt recorded in this database yet
        throw;
    }
    for (; !log.IsEOF(); log.MoveNext())
        entries.push_back({ log.m_AttemptTime.ToText(), log.m_MessageId, log.m_Recipient,
            log.m_PagerId, log.m_Provider, log.m_Outcome, log.m_TerminalLine });
    log.Close();
    return entries;
}

QString OutcomeName(std::int32_t outcome)
{
    switch (MessageStatus(outcome)) {
    case MessageStatus::Sent:
        return QStringLiteral("sent");
    case MessageStatus::Failed:
        return QStringLiteral("failed for good");
    default:
        return QStringLiteral("failed");
    }
}

std::vector<RecipientState> ReadRecipientStates(std::int32_t messageId)
{
    std::vector<RecipientState> states;
    CMessagesRecordset rows;
    rows.m_strFilter = QStringLiteral("MessageId = %1").arg(messageId);
    rows.Open();
    for (; !rows.IsEOF(); rows.MoveNext())
        states.push_back({ rows.m_Recipient, rows.m_Status, rows.m_Retries,
            ToQuillTime(rows.m_SendTime), ToQuillTime(rows.m_RequiredSendTime) });
    rows.Close();
    return states;
}

std::vector<RecipientState> RecipientStatesOf(const CQuillpostDoc& doc, std::int32_t messageId)
{
    std::vector<RecipientState> states;
    for (const auto& message : doc.m_messages) {
        if (message->m_messageId != messageId)
            continue;
        for (const auto& entry : message->m_recipients)
            states.push_back({ entry->m_recipient, entry->m_status, entry->m_retries,
                entry->m_sendTime, message->m_requiredSendTime });
    }
    return states;
}

QString DescribeRecipientState(const RecipientState& state)
{
    switch (MessageStatus(state.status)) {
    case MessageStatus::Sent:
        return QStringLiteral("sent %1").arg(TimeText(state.sendTime));
    case MessageStatus::Failed:
        return QStringLiteral("failed for good after %1, the last %2")
            .arg(Attempts(state.retries), TimeText(state.sendTime));
    default:
        break;
    }
    QString text = QStringLiteral("waiting, due %1").arg(TimeText(state.requiredSendTime));
    if (state.retries > 0)
        text += QStringLiteral(", %1, the last %2")
                    .arg(Attempts(state.retries), TimeText(state.sendTime));
    return text;
}

QString RecipientName(const CQuillpostDoc& doc, std::int32_t recipient)
{
    for (const auto& user : doc.m_users) {
        if (user->m_id == recipient)
            return user->m_name;
    }
    return QStringLiteral("user %1").arg(recipient);
}

QString DescribeMessage(const CQuillpostDoc& doc, std::int32_t messageId)
{
    QStringList lines;
    for (const RecipientState& state : RecipientStatesOf(doc, messageId))
        lines << RecipientName(doc, state.recipient) + QStringLiteral(": ")
                + DescribeRecipientState(state);
    return lines.join(QLatin1Char('\n'));
}

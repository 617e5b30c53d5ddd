#include "dispatch/MessageQueue.h"

#include "data/MessageStatus.h"
#include "data/Recordsets.h"
#include "platform/db/DaoWorkspace.h"

#include <QRegularExpression>

namespace {

QString messageCriteria(std::int32_t messageId)
{
    return QStringLiteral("MessageId = %1").arg(messageId);
}

} // namespace

QString JoinedLines(QString text)
{
    static const QRegularExpression lineBreaks(QStringLiteral("\r\n|[\r\n\u2028\u2029]"));
    return text.replace(lineBreaks, QStringLiteral(" "));
}

QString QueuedText(const QString& composed)
{
    return composed.left(kQueuedTextLength) + kQueuedTextSuffix;
}

COleDateTime CombineDateAndTime(const COleDateTime& date, const COleDateTime& time)
{
    return COleDateTime(date.GetYear(), date.GetMonth(), date.GetDay(), time.GetHour(),
        time.GetMinute(), time.GetSecond());
}

std::optional<std::int32_t> QueueMessage(const QString& composed,
    const COleDateTime& requiredSendTime, const std::vector<std::int32_t>& recipients)
{
    if (recipients.empty())
        return std::nullopt;

    const QString text = QueuedText(composed);
    const COleDateTime now = COleDateTime::GetCurrentTime();
    std::int32_t messageId = 0;

    CDaoTransaction transaction;
    CMessagesRecordset rs;
    // Adding rows needs none of those already queued; IDs start at 1.
    rs.m_strFilter = QStringLiteral("ID = 0");
    rs.Open();
    for (const std::int32_t recipient : recipients) {
        rs.AddNew();
        rs.m_MessageCount = static_cast<std::int32_t>(recipients.size());
        rs.m_MessageId = messageId;
        rs.m_Recipient = recipient;
        rs.m_RequestTime = now;
        rs.m_SendTime = now;
        rs.m_Retries = 0;
        rs.m_RequiredSendTime = requiredSendTime;
        rs.m_Status = StatusValue(MessageStatus::Waiting);
        rs.m_Text = text;
        rs.Update();
        // The message is known by the ID of its first row, which that row carries too.
        if (messageId == 0) {
            messageId = rs.GetLastAddedID();
            rs.MoveLast();
            rs.Edit();
            rs.m_MessageId = messageId;
            rs.Update();
        }
    }
    rs.Close();
    transaction.Commit();
    return messageId;
}

SubmittedMessage QueueSubmittedText(const QString& text, const COleDateTime& requiredSendTime,
    const std::vector<std::int32_t>& recipients)
{
    SubmittedMessage submitted;
    QString composed = JoinedLines(text).trimmed();
    submitted.composedLength = composed.size();
    if (composed.size() > kMaxComposedLength) {
        submitted.cutOff = composed.mid(kMaxComposedLength);
        composed.truncate(kMaxComposedLength);
    }
    submitted.messageId = QueueMessage(composed, requiredSendTime, recipients).value_or(0);
    return submitted;
}

std::optional<StoredMessage> ReadStoredMessage(std::int32_t messageId)
{
    CMessagesRecordset rs;
    rs.m_strFilter = messageCriteria(messageId);
    rs.Open();
    if (rs.IsEOF())
        return std::nullopt;
    StoredMessage message;
    message.text = rs.m_Text;
    for (; !rs.IsEOF(); rs.MoveNext())
        message.recipients.push_back(rs.m_Recipient);
    return message;
}

int DeleteMessageRows(std::int32_t messageId)
{
    CDaoTransaction transaction;
    CMessagesRecordset rs;
    rs.m_strFilter = messageCriteria(messageId);
    rs.Open();
    int deleted = 0;
    for (; !rs.IsEOF(); rs.MoveNext()) {
        rs.Delete();
        ++deleted;
    }
    rs.Close();
    transaction.Commit();
    return deleted;
}

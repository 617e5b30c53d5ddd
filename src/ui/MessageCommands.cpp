#include "ui/QuillpostTreeView.h"

#include "data/QuillpostDoc.h"
#include "dispatch/MessageQueue.h"
#include "platform/Prompt.h"
#include "ui/CommandSteps.h"
#include "ui/SendMessageDlg.h"

// The message commands: compose a new message, send a stored one again as a new
// message, delete every row of one message.

namespace {

const QString kDeleteQuestion = QStringLiteral("Are you sure you want to delete this message");

// The rows of the message, read quietly before any dialog or question.
std::optional<StoredMessage> readMessage(std::optional<std::int32_t> messageId)
{
    if (!messageId)
        return std::nullopt;
    return ReadQuietly([&] { return ReadStoredMessage(*messageId); });
}

} // namespace

void CQuillpostTreeView::OnNewMessage()
{
    CSendMessageDlg dlg(window());
    dlg.FillChoices(m_doc);
    QueueComposedMessage(dlg);
}

void CQuillpostTreeView::OnResendMessage()
{
    const std::optional<StoredMessage> stored = readMessage(ContextRecordId());
    if (!stored)
        return;
    CSendMessageDlg dlg(window());
    dlg.m_listRecipients = stored->recipients;
    dlg.m_strMessage = stored->text;
    dlg.FillChoices(m_doc);
    QueueComposedMessage(dlg);
}

void CQuillpostTreeView::OnDeleteMessage()
{
    const std::optional<std::int32_t> messageId = ContextRecordId();
    if (!readMessage(messageId) || !Prompt::current().askYesNo(kDeleteQuestion))
        return;
    DeleteMessageRows(*messageId);
    ReloadAndRefresh();
}

void CQuillpostTreeView::QueueComposedMessage(CSendMessageDlg& dlg)
{
    const bool tried = ExecUntilSaved(dlg, QStringLiteral("The message could not be queued"), [&] {
        QueueMessage(dlg.m_strMessage, CombineDateAndTime(dlg.m_dateSend, dlg.m_timeSend),
            dlg.m_listRecipients);
    });
    if (tried)
        ReloadAndRefresh();
}

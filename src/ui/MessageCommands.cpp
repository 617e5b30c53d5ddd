#include "ui/QuillpostTreeView.h"

#include "data/QuillpostDoc.h"
#include "dispatch/MessageQueue.h"
#include "platform/Prompt.h"
#include "platform/db/DaoException.h"
#include "ui/SendMessageDlg.h"

// The message commands: compose a new message, send a stored one again as a new
// message, delete every row of one message.

namespace {

const QString kDeleteQuestion = QStringLiteral("Are you sure you want to delete this message");

QString notQueuedMessage(const QString& reason)
{
    return QStringLiteral("The message could not be queued: %1\n\n"
                          "Nothing of it was queued. The message is shown again so that "
                          "you can try once more.")
        .arg(reason);
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
    const std::optional<std::int32_t> messageId = ContextRecordId();
    if (!messageId)
        return;
    std::optional<StoredMessage> stored;
    try {
        stored = ReadStoredMessage(*messageId);
    } catch (const CDaoException&) {
        return;
    }
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
    if (!messageId)
        return;
    try {
        if (!ReadStoredMessage(*messageId))
            return;
    } catch (const CDaoException&) {
        return;
    }
    if (!Prompt::current().askYesNo(kDeleteQuestion))
        return;
    DeleteMessageRows(*messageId);
    ReloadAndRefresh();
}

void CQuillpostTreeView::QueueComposedMessage(CSendMessageDlg& dlg)
{
    // A message that cannot be queued (the file locked by another program past the
    // busy time-out, the disk full) is offered again as the operator left it, rather
    // than lost with the dialog.
    while (dlg.exec() == QDialog::Accepted) {
        try {
            if (QueueMessage(dlg.m_strMessage, CombineDateAndTime(dlg.m_dateSend, dlg.m_timeSend),
                    dlg.m_listRecipients))
                ReloadAndRefresh();
            return;
        } catch (const CDaoException& failure) {
            Prompt::current().inform(notQueuedMessage(failure.reason()));
        }
    }
}

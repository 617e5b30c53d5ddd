#include "data/SendHistory.h"
#include "ui/MessageHistoryDlg.h"
#include "ui/PlainText.h"
#include "ui/QuillpostTreeView.h"

#include <QHelpEvent>
#include <QToolTip>

// What the operator learns about a message's delivery from its tree item: a tooltip
// and the history window.

CTreeItemRecord* CQuillpostTreeView::FindMessageRecord(const QTreeWidgetItem* item) const
{
    if (!item)
        return nullptr;
    for (const auto& record : m_messageRecords) {
        if (record->m_hItem == item)
            return record.get();
    }
    return nullptr;
}

void CQuillpostTreeView::OnMessageHistory()
{
    if (const std::optional<std::int32_t> id = ContextRecordId())
        ShowMessageHistory(*id);
}

void CQuillpostTreeView::ShowMessageHistory(std::int32_t messageId)
{
    // The window belongs to the view, which holds the document it names recipients from.
    for (CMessageHistoryDlg* open : findChildren<CMessageHistoryDlg*>()) {
        if (open->MessageId() == messageId) {
            open->OnRefresh();
            open->raise();
            open->activateWindow();
            return;
        }
    }
    auto* dlg = new CMessageHistoryDlg(m_doc, messageId, this);
    dlg->show();
}

bool CQuillpostTreeView::viewportEvent(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QTreeWidget::viewportEvent(event);
    auto* help = static_cast<QHelpEvent*>(event);
    const CTreeItemRecord* message = FindMessageRecord(itemAt(help->pos()));
    const QString text = message ? DescribeMessage(m_doc, message->m_id) : QString();
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(
            help->globalPos(), PlainToolTip(text), viewport(), visualItemRect(message->m_hItem));
    return true;
}

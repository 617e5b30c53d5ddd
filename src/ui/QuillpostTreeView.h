#pragma once

#include "ui/TreeItemRecord.h"

#include <QIcon>
#include <QTreeWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class CQuillpostDoc;
class CSendMessageDlg;
class QMenu;

// The program's one view: the four categories "Users", "Groups", "Service Providers"
// and "Messages", each with one item per record of the document. A right click (or
// the keyboard's context-menu request) opens the category's menu for the item under
// the mouse; the commands act on that item's record, never on the selection.
class CQuillpostTreeView : public QTreeWidget
{
    Q_OBJECT

public:
    using RecordList = std::vector<std::unique_ptr<CTreeItemRecord>>;

    explicit CQuillpostTreeView(CQuillpostDoc& doc, QWidget* parent = nullptr);
    ~CQuillpostTreeView() override;

    CQuillpostDoc* GetDocument() const { return &m_doc; }

    // Fills the tree the first time it is called.
    void EnsureFilled();
    // Builds the four categories and their children from the document.
    void FillTree();
    // Frees every record; the context record goes with them.
    void ClearItemRecords();
    // Rebuilds the whole tree from the (reloaded) document, categories closed.
    void RefreshTree();

    // The record of the item last right-clicked; null when that was a category item.
    CTreeItemRecord* ContextRecord() const { return m_pContextRecord; }
    const RecordList& UserRecords() const { return m_userRecords; }
    const RecordList& GroupRecords() const { return m_groupRecords; }
    const RecordList& ProviderRecords() const { return m_providerRecords; }
    const RecordList& MessageRecords() const { return m_messageRecords; }
    // The category items in display order (null before the first fill).
    QTreeWidgetItem* CategoryItem(int index) const { return m_hCategories.at(index); }

    // Opens the context menu for the item at the screen point, if there is one.
    void OnContextMenu(QWidget* window, QPoint screenPoint);
    // The context menu of a category (resource 139 to 142) as it is shown; entries at
    // positions 1 and 2 are disabled on a category item. Nullptr for another number.
    std::unique_ptr<QMenu> CreateContextMenu(int menuId, bool onCategory);

    // Whether a tree command (context menu or Operations menu) has a handler to run.
    static bool HasCommandHandler(int commandId);
    // Runs the handler of a tree command, if it has one.
    void OnCommand(int commandId);

    void OnNewUser();
    void OnEditUser();
    void OnDeleteUser();
    void OnNewGroup();
    void OnEditGroup();
    void OnDeleteGroup();
    void OnNewServiceProvider();
    void OnEditServiceProvider();
    void OnDeleteServiceProvider();
    void OnNewMessage();
    void OnResendMessage();
    void OnDeleteMessage();
    // The history window of the context record's message (also a double click on it).
    void OnMessageHistory();
    // Opens the history window of a message, or raises the one already open.
    void ShowMessageHistory(std::int32_t messageId);

protected:
    // A message's tooltip tells each recipient's state; it is made when asked for.
    bool viewportEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    static bool SwallowRightButton(QMouseEvent* event);
    struct ContextTarget
    {
        int menuId = 0;
        CTreeItemRecord* record = nullptr;
        bool onCategory = false;
    };
    ContextTarget FindContextTarget(const QTreeWidgetItem* item) const;
    // The message record of the item; null for any other item.
    CTreeItemRecord* FindMessageRecord(const QTreeWidgetItem* item) const;
    // The identifier of the context record, copied: a reload during a dialog or a
    // question frees the record itself.
    std::optional<std::int32_t> ContextRecordId() const;
    // After a command changed a table: the document reads every table again and the
    // tree is rebuilt from it.
    void ReloadAndRefresh();
    // Runs the composition dialog and queues what it hands back, as one message.
    void QueueComposedMessage(CSendMessageDlg& dlg);
    QTreeWidgetItem* AddCategory(int imageIndex, const QString& text);

    CQuillpostDoc& m_doc;
    CTreeItemRecord* m_pContextRecord = nullptr;
    RecordList m_userRecords;
    RecordList m_groupRecords;
    RecordList m_providerRecords;
    RecordList m_messageRecords;
    std::vector<QIcon> m_imageList;
    bool m_bFilled = false;
    std::array<QTreeWidgetItem*, 4> m_hCategories {};
};

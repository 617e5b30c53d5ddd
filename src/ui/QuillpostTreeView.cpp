#include "ui/QuillpostTreeView.h"

#include "app/CommandIds.h"
#include "ui/TreeRules.h"
#include "data/QuillpostDoc.h"
#include "res/CategoryImages.h"
#include "res/MenuResources.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

namespace {

enum CategoryIndex : int
{
    kUsers = 0,
    kGroups = 1,
    kProviders = 2,
    kMessages = 3
};

constexpr int kCategoryMenus[]
    = { IDR_USERS_MENU, IDR_GROUPS_MENU, IDR_PROVIDERS_MENU, IDR_MESSAGES_MENU };

// A record's item. It shows its category's icon without keeping a copy of it: storing
// the icon in each of tens of thousands of items was a third of what filling the tree
// cost.
class RecordItem : public QTreeWidgetItem
{
public:
    RecordItem(const QString& text, const QIcon& icon)
        : QTreeWidgetItem(QStringList(text))
        , m_icon(icon)
    {
    }

    QVariant data(int column, int role) const override
    {
        if (column == 0 && role == Qt::DecorationRole)
            return m_icon;
        return QTreeWidgetItem::data(column, role);
    }

private:
    const QIcon& m_icon; // the view's own, which outlives its items
};

// Makes one child item per row and its record, ready to be added in one go.
template <typename Rows, typename TextOf>
QList<QTreeWidgetItem*> makeChildren(
    const Rows& rows, const QIcon& icon, TextOf textOf, CQuillpostTreeView::RecordList& records)
{
    QList<QTreeWidgetItem*> children;
    children.reserve(static_cast<qsizetype>(rows.size()));
    records.reserve(records.size() + rows.size());
    for (const auto& row : rows) {
        auto* item = new RecordItem(textOf(*row), icon);
        children.append(item);
        records.push_back(std::make_unique<CTreeItemRecord>(item, row->m_id));
    }
    return children;
}

} // namespace

CQuillpostTreeView::CQuillpostTreeView(CQuillpostDoc& doc, QWidget* parent)
    : QTreeWidget(parent)
    , m_doc(doc)
{
    setObjectName("treeView");
    setColumnCount(1);
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Every row has the same height: lets the view lay out tens of thousands of rows
    // without measuring each one.
    setUniformRowHeights(true);
    setIconSize(QSize(Res::kTreeImageSize, Res::kTreeImageSize));
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);

    m_imageList.reserve(Res::kTreeImageCount);
    for (int index = 0; index < Res::kTreeImageCount; ++index)
        m_imageList.emplace_back(Res::TreeImagePixmap(index));
}

CQuillpostTreeView::~CQuillpostTreeView()
{
    ClearItemRecords();
    // The items refer to the icons in m_imageList, which go before the tree would
    // delete its items.
    clear();
}

void CQuillpostTreeView::EnsureFilled()
{
    if (!m_bFilled)
        FillTree();
    m_bFilled = true;
}

QTreeWidgetItem* CQuillpostTreeView::AddCategory(int imageIndex, const QString& text)
{
    auto* item = new QTreeWidgetItem(QStringList(text));
    item->setIcon(0, m_imageList.at(imageIndex));
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    return item;
}

void CQuillpostTreeView::FillTree()
{
    ClearItemRecords();
    setRootIsDecorated(true);
    setItemsExpandable(true);

    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);

    const QIcon& usersIcon = m_imageList.at(Res::kUsersImage);
    const QIcon& groupsIcon = m_imageList.at(Res::kGroupsImage);
    const QIcon& providersIcon = m_imageList.at(Res::kProvidersImage);
    const QIcon& messagesIcon = m_imageList.at(Res::kMessagesImage);

    m_hCategories[kUsers] = AddCategory(Res::kUsersImage, "Users");
    m_hCategories[kUsers]->addChildren(makeChildren(
        m_doc.m_users, usersIcon, [](const CUser& user) { return user.m_name; }, m_userRecords));

    m_hCategories[kGroups] = AddCategory(Res::kGroupsImage, "Groups");
    m_hCategories[kGroups]->addChildren(makeChildren(
        m_doc.m_groups, groupsIcon, [](const CGroup& group) { return group.m_name; },
        m_groupRecords));

    m_hCategories[kProviders] = AddCategory(Res::kProvidersImage, "Service Providers");
    m_hCategories[kProviders]->addChildren(makeChildren(
        m_doc.m_providers, providersIcon,
        [](const CServiceProvider& provider) { return provider.m_serviceName; },
        m_providerRecords));

    m_hCategories[kMessages] = AddCategory(Res::kMessagesImage, "Messages");
    m_hCategories[kMessages]->addChildren(makeChildren(
        m_doc.m_messages, messagesIcon,
        [](const CSendJob& message) { return TreeRules::ShortMessageText(message.m_text); },
        m_messageRecords));

    insertTopLevelItems(0,
        { m_hCategories[kUsers], m_hCategories[kGroups], m_hCategories[kProviders],
            m_hCategories[kMessages] });

    setUpdatesEnabled(updates);
}

void CQuillpostTreeView::ClearItemRecords()
{
    m_pContextRecord = nullptr;
    m_userRecords.clear();
    m_groupRecords.clear();
    m_providerRecords.clear();
    m_messageRecords.clear();
}

void CQuillpostTreeView::RefreshTree()
{
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);
    ClearItemRecords();
    m_hCategories.fill(nullptr);
    clear();
    FillTree();
    setUpdatesEnabled(updates);
}

CQuillpostTreeView::ContextTarget CQuillpostTreeView::FindContextTarget(
    const QTreeWidgetItem* item) const
{
    const std::array<const RecordList*, 4> lists
        = { &m_userRecords, &m_groupRecords, &m_providerRecords, &m_messageRecords };
    ContextTarget target;
    for (int category = 0; category < 4 && target.menuId == 0; ++category) {
        for (const auto& record : *lists[category]) {
            if (record->m_hItem == item) {
                target.record = record.get();
                target.menuId = kCategoryMenus[category];
                break;
            }
        }
    }
    for (int category = 0; category < 4; ++category) {
        if (item == m_hCategories[category]) {
            target.menuId = kCategoryMenus[category];
            target.onCategory = true;
        }
    }
    return target;
}

std::unique_ptr<QMenu> CQuillpostTreeView::CreateContextMenu(int menuId, bool onCategory)
{
    const Res::ContextMenu* resource = Res::FindTreeContextMenu(menuId);
    if (!resource)
        return nullptr;
    auto menu = std::make_unique<QMenu>(this);
    menu->setObjectName(QStringLiteral("contextMenu%1").arg(menuId));
    for (int position = 0; position < static_cast<int>(resource->entries.size()); ++position) {
        const Res::MenuItem& entry = resource->entries[position];
        QAction* action = menu->addAction(QString::fromLatin1(entry.text));
        action->setData(entry.id);
        action->setObjectName(QStringLiteral("command%1").arg(entry.id));
        action->setEnabled(
            TreeRules::ContextEntryEnabled(position, onCategory, HasCommandHandler(entry.id)));
    }
    return menu;
}

void CQuillpostTreeView::OnContextMenu(QWidget* /*window*/, QPoint screenPoint)
{
    // A keyboard request with the mouse outside the tree has no item to act on.
    const QPoint viewportPoint = viewport()->mapFromGlobal(screenPoint);
    QTreeWidgetItem* item
        = viewport()->rect().contains(viewportPoint) ? itemAt(viewportPoint) : nullptr;
    if (!item)
        return;

    m_pContextRecord = nullptr;
    const ContextTarget target = FindContextTarget(item);
    if (target.menuId == 0)
        return;
    m_pContextRecord = target.record;

    std::unique_ptr<QMenu> menu = CreateContextMenu(target.menuId, target.onCategory);
    const QAction* chosen = menu->exec(screenPoint);
    const int commandId = chosen ? chosen->data().toInt() : 0;
    // The menu goes before the command runs: a command rebuilds the tree.
    menu.reset();
    if (commandId != 0)
        OnCommand(commandId);
}

void CQuillpostTreeView::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    // A request from the keyboard (the menu key) acts on the item under the mouse,
    // not on the selected one, as a right click does.
    const QPoint screenPoint = event->reason() == QContextMenuEvent::Keyboard
        ? QCursor::pos(screen())
        : event->globalPos();
    OnContextMenu(this, screenPoint);
}

void CQuillpostTreeView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        event->accept();
        OnContextMenu(this, QCursor::pos(screen()));
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

// The right button never selects: its commands act on the item clicked, so the view
// swallows its presses, releases and double clicks before the tree sees them.
bool CQuillpostTreeView::SwallowRightButton(QMouseEvent* event)
{
    if (event->button() != Qt::RightButton)
        return false;
    event->accept();
    return true;
}

void CQuillpostTreeView::mousePressEvent(QMouseEvent* event)
{
    if (!SwallowRightButton(event))
        QTreeWidget::mousePressEvent(event);
}

void CQuillpostTreeView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!SwallowRightButton(event))
        QTreeWidget::mouseReleaseEvent(event);
}

void CQuillpostTreeView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (SwallowRightButton(event))
        return;
    if (const CTreeItemRecord* message = FindMessageRecord(itemAt(event->position().toPoint()));
        message && event->button() == Qt::LeftButton) {
        event->accept();
        ShowMessageHistory(message->m_id);
        return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

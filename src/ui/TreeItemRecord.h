#pragma once

#include <cstdint>

class QTreeWidgetItem;

// Ties a child item of the navigation tree to the database row it shows. Tree items
// carry no data of their own: these records are the only link back to a row.
class CTreeItemRecord
{
public:
    CTreeItemRecord(QTreeWidgetItem* item, std::int32_t id)
        : m_hItem(item)
        , m_id(id)
    {
    }

    QTreeWidgetItem* m_hItem; // not owned: the tree owns its items
    // Users.ID, Groups.ID, ServiceProviders.ID, or for a message the ID of its first
    // row, which its rows share as MessageId.
    std::int32_t m_id;
};

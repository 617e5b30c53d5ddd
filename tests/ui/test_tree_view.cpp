#include "TreeMenus.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QWindow>

namespace {

constexpr int Users = 0, Groups = 1, Providers = 2, Messages = 3;

// Each category's context menu: its entries' texts and command IDs.
const QStringList kMenus[] = {
    { "&New User ... 32779", "&Edit User ... 32780", "&Delete User 32781" },
    { "&New Group ... 32782", "&Edit Group ... 32783", "&Delete Group 32784" },
    { "&New Service Provider ... 32785", "&Edit Service Provider ... 32786",
        "&Delete Service Provider 32787" },
    { "&New Message ... 32776", "&Resend Message ... 32777", "&Delete Message 32778",
        "&History ... 32789" },
};

template <typename Record>
Record& append(std::vector<std::unique_ptr<Record>>& list, std::int32_t id)
{
    list.push_back(std::make_unique<Record>());
    list.back()->m_id = id;
    return *list.back();
}

// The popup menu that opens while `open` runs: its name, then "text ID on|off" for each
// entry. It is closed again; nothing is listed when no menu opens.
template <typename Open> QStringList captureMenu(Open open)
{
    QStringList menu;
    MenuWatcher watcher([&](QMenu* popup) {
        menu << popup->objectName();
        for (QAction* action : popup->actions())
            menu << QStringLiteral("%1 %2 %3")
                        .arg(action->text())
                        .arg(action->data().toInt())
                        .arg(action->isEnabled() ? "on" : "off");
    });
    open();
    return menu;
}

} // namespace

class TestTreeView : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_view.reset();
        m_doc = std::make_unique<CQuillpostDoc>();
        m_view = std::make_unique<CQuillpostTreeView>(*m_doc);
        m_view->resize(400, 700);
    }

    void filledThenRefreshedAfterReload()
    {
        fillKnownRows();
        // Each item has its own record, in list order: the two "Ann Lee" items stay apart.
        QCOMPARE(tree(),
            QStringList({ "Users", "- Ann Lee #11", "- Bob Ray #12", "- Ann Lee #13", "Groups",
                "Service Providers", "- Metro Paging #21", "- County Pagers #22", "Messages",
                "- Fire drill at 3 pm, all staff #31", "- Fire drill at 3 pm, all sta... #35",
                "- " + QString(26, 'a') + "... #36" }));
        QVERIFY(m_view->selectedItems().isEmpty());

        // A second EnsureFilled leaves the tree as it is.
        append(m_doc->m_users, 14).m_name = "Cy Moss";
        m_view->EnsureFilled();
        QCOMPARE(item(Users)->childCount(), 3);

        // Refreshed, it shows the document as it is now (as after a reload), every category
        // closed, nothing selected and no context record.
        m_view->expandAll();
        m_view->setCurrentItem(item(Users, 0));
        QVERIFY(!rightClick(item(Users, 0)).isEmpty());
        QCOMPARE(m_view->ContextRecord()->m_id, 11);
        m_doc->m_users.erase(m_doc->m_users.begin());
        m_doc->m_messages.clear();
        append(m_doc->m_groups, 41).m_name = "Night shift";
        m_view->RefreshTree();
        QCOMPARE(tree(),
            QStringList({ "Users", "- Bob Ray #12", "- Ann Lee #13", "- Cy Moss #14", "Groups",
                "- Night shift #41", "Service Providers", "- Metro Paging #21",
                "- County Pagers #22", "Messages" }));
        QVERIFY(m_view->selectedItems().isEmpty());
        QVERIFY(!m_view->ContextRecord());
    }

    void contextMenu_data()
    {
        QTest::addColumn<int>("category"); // -1: empty space below the rows
        QTest::addColumn<int>("child");
        QTest::addColumn<int>("recordId");
        QTest::addColumn<QString>("enabled"); // of the menu's entries, in order

        // On a category only New can be chosen.
        QTest::newRow("empty Groups category") << Groups << -1 << -1 << "on off off";
        QTest::newRow("Messages category") << Messages << -1 << -1 << "on off off off";
        QTest::newRow("third user") << Users << 2 << 13 << "on on on";
        QTest::newRow("second provider") << Providers << 1 << 22 << "on on on";
        QTest::newRow("first message") << Messages << 0 << 31 << "on on on on";
        // Nothing happens at all: the record of the last menu stays the context record.
        QTest::newRow("empty space") << -1 << -1 << 11 << "";
    }

    // A right click opens the menu of the item under it and leaves the selection alone.
    void contextMenu()
    {
        QFETCH(int, category);
        QFETCH(int, child);
        QFETCH(int, recordId);
        QFETCH(QString, enabled);

        fillKnownRows();
        m_view->expandAll();
        QTreeWidgetItem* selected = item(Users, 1);
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, Qt::NoModifier,
            m_view->visualItemRect(selected).center());
        QCOMPARE(m_view->selectedItems(), QList<QTreeWidgetItem*>({ selected }));
        // A record clicked before must not linger as the context record of a category.
        QVERIFY(!rightClick(item(Users, 0)).isEmpty());

        QStringList expected;
        QTreeWidgetItem* target = item(Users, 0);
        if (category < 0) {
            const QRect lastRow = m_view->visualItemRect(item(Messages, 2));
            const QPoint below(lastRow.center().x(), lastRow.bottom() + 40);
            QVERIFY(m_view->viewport()->rect().contains(below) && !m_view->itemAt(below));
            QCOMPARE(captureMenu([&] { rightClickAt(below); }), expected);
        } else {
            expected << QStringLiteral("contextMenu%1").arg(139 + category);
            for (int position = 0; position < kMenus[category].size(); ++position)
                expected << kMenus[category][position] + ' ' + enabled.split(' ').value(position);
            target = child < 0 ? nullptr : item(category, child);
            QCOMPARE(rightClick(item(category, child)), expected);
        }
        const CTreeItemRecord* record = m_view->ContextRecord();
        QCOMPARE(record ? record->m_id : -1, recordId);
        QCOMPARE(record ? record->m_hItem : nullptr, target);
        QCOMPARE(m_view->selectedItems(), QList<QTreeWidgetItem*>({ selected }));
        QCOMPARE(m_view->currentItem(), selected);
    }

    void keyboardRequestUsesMousePosition_data()
    {
        QTest::addColumn<int>("category"); // of the item under the mouse; -1: mouse outside
        QTest::addColumn<int>("child");
        QTest::addColumn<int>("recordId"); // of the menu's context record; -1: no menu
        QTest::newRow("over a provider") << Providers << 1 << 22;
        QTest::newRow("below the tree") << -1 << -1 << -1;
    }

    // The keyboard's request, by Shift+F10 or the menu key, opens the menu of the item under
    // the mouse, not of the selected item; with the mouse outside the tree it opens nothing.
    void keyboardRequestUsesMousePosition()
    {
        QFETCH(int, category);
        QFETCH(int, child);
        QFETCH(int, recordId);
        fillKnownRows();
        m_view->expandAll();
        QTreeWidgetItem* selected = item(Users, 0);
        m_view->setCurrentItem(selected);
        m_view->setFocus();
        QPoint inViewport;
        if (category >= 0) {
            inViewport = m_view->visualItemRect(item(category, child)).center();
        } else {
            // A tree too short for its rows: just below it lies a row scrolled out of sight,
            // which must not count as the item under the mouse.
            m_view->resize(400, 150);
            inViewport = QPoint(100, m_view->viewport()->height() + 15);
            QVERIFY(m_view->itemAt(inViewport));
            QVERIFY(!m_view->rect().contains(m_view->viewport()->mapTo(m_view.get(), inViewport)));
        }
        const QPoint mouse = m_view->viewport()->mapToGlobal(inViewport);
        QCursor::setPos(m_view->screen(), mouse);
        if (QCursor::pos(m_view->screen()) != mouse)
            QSKIP("this platform cannot move the mouse pointer");

        for (const bool menuKey : { false, true }) {
            const QStringList shown = captureMenu([&] {
                if (!menuKey) {
                    QTest::keyClick(m_view.get(), Qt::Key_F10, Qt::ShiftModifier);
                    return;
                }
                // The menu key arrives as a keyboard request at the focused (selected) item.
                const QPoint at = m_view->visualItemRect(selected).center();
                QContextMenuEvent event(
                    QContextMenuEvent::Keyboard, at, m_view->viewport()->mapToGlobal(at));
                QApplication::sendEvent(m_view.get(), &event);
            });
            QCOMPARE(shown.value(0),
                category < 0 ? QString() : QStringLiteral("contextMenu%1").arg(139 + category));
            QCOMPARE(m_view->ContextRecord() ? m_view->ContextRecord()->m_id : -1, recordId);
            QCOMPARE(m_view->currentItem(), selected);
        }
    }

private:
    // Two users share a name; the groups table is empty; message texts of 29 and 30
    // characters, the last with a two-unit character where it would be cut.
    void fillKnownRows()
    {
        append(m_doc->m_users, 11).m_name = "Ann Lee";
        append(m_doc->m_users, 12).m_name = "Bob Ray";
        append(m_doc->m_users, 13).m_name = "Ann Lee";
        append(m_doc->m_providers, 21).m_serviceName = "Metro Paging";
        append(m_doc->m_providers, 22).m_serviceName = "County Pagers";
        append(m_doc->m_messages, 31).m_text = "Fire drill at 3 pm, all staff";
        append(m_doc->m_messages, 35).m_text = "Fire drill at 3 pm, all staff!";
        // A character outside the basic plane takes two UTF-16 units; it is never halved.
        append(m_doc->m_messages, 36).m_text
            = QString(26, 'a') + QString::fromUtf8("\xF0\x9F\x98\x80") + "bc";
        m_view->EnsureFilled();
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }
    QTreeWidgetItem* item(int category, int child = -1) const
    {
        QTreeWidgetItem* top = m_view->topLevelItem(category);
        return child < 0 ? top : top->child(child);
    }
    // Each category's text (marked when open, without an icon, or not the view's own
    // category item), then each child's as "- text #ID" with its record's identifier; "?"
    // marks a child whose record is not the one at its own position in the category's list.
    QStringList tree() const
    {
        const CQuillpostTreeView::RecordList* lists[] = { &m_view->UserRecords(),
            &m_view->GroupRecords(), &m_view->ProviderRecords(), &m_view->MessageRecords() };
        QStringList rows;
        for (int category = 0; category < m_view->topLevelItemCount(); ++category) {
            QTreeWidgetItem* top = item(category);
            rows << top->text(0) + (top->isExpanded() ? " (open)" : "")
                    + (top->icon(0).isNull() ? " (no icon)" : "")
                    + (m_view->CategoryItem(category) == top ? "" : " (not the category item)");
            const CQuillpostTreeView::RecordList& records = *lists[category];
            for (int i = 0; i < top->childCount(); ++i) {
                const bool tied
                    = std::size_t(i) < records.size() && records[i]->m_hItem == top->child(i);
                rows << "- " + top->child(i)->text(0)
                        + (tied ? QStringLiteral(" #%1").arg(records[i]->m_id) : " ?");
            }
            if (records.size() > std::size_t(top->childCount()))
                rows << "more records than items";
        }
        return rows;
    }
    // A right button click as the window system delivers it, through the window, so that
    // the press turns into a context-menu request as it does for the operator.
    void rightClickAt(QPoint viewportPoint)
    {
        QWidget* top = m_view->window();
        QTest::mouseClick(top->windowHandle(), Qt::RightButton, Qt::NoModifier,
            m_view->viewport()->mapTo(top, viewportPoint));
    }
    QStringList rightClick(QTreeWidgetItem* target)
    {
        return captureMenu([&] { rightClickAt(m_view->visualItemRect(target).center()); });
    }

    std::unique_ptr<CQuillpostDoc> m_doc;
    std::unique_ptr<CQuillpostTreeView> m_view;
};

QTEST_MAIN(TestTreeView)
#include "test_tree_view.moc"

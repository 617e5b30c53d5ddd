#pragma once

#include "data/QuillpostDoc.h"
#include "ui/QuillpostTreeView.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

// The document read from the database and shown in a tree with every category open,
// as the operator finds it; nullptr when the window never appeared.
inline std::unique_ptr<CQuillpostTreeView> ShowLoadedTree(CQuillpostDoc& doc)
{
    doc.ReloadAll();
    auto view = std::make_unique<CQuillpostTreeView>(doc);
    view->resize(400, 600);
    view->EnsureFilled();
    view->show();
    if (!QTest::qWaitForWindowExposed(view.get()))
        return nullptr;
    view->expandAll();
    return view;
}

// While the code under test waits in a popup menu (QMenu::exec), hands the menu to `act`
// and then closes it if it is still open, so that the wait ends. Only the first menu
// that opens while the object lives, within five seconds, is handled.
class MenuWatcher
{
public:
    explicit MenuWatcher(std::function<void(QMenu*)> act)
    {
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout,
            [this, act = std::move(act), deadline = QDeadlineTimer(5000)] {
                const QPointer<QMenu> menu
                    = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                if (menu || deadline.hasExpired())
                    m_poll.stop();
                if (!menu)
                    return;
                act(menu);
                if (menu && menu->isVisible())
                    menu->close();
            });
        m_poll.start();
    }

private:
    QTimer m_poll;
};

// Right-clicks the item of the tree and chooses the entry of the command from the menu
// that opens, with the keyboard, as the operator does; the command then runs before
// this returns. The entry must be there and enabled.
inline void ChooseFromContextMenu(CQuillpostTreeView& view, QTreeWidgetItem* item, int commandId)
{
    MenuWatcher chooser([commandId](QMenu* menu) {
        QAction* entry = menu->findChild<QAction*>(QStringLiteral("command%1").arg(commandId));
        QVERIFY(entry && entry->isEnabled());
        menu->setActiveAction(entry);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    view.OnContextMenu(&view, view.viewport()->mapToGlobal(view.visualItemRect(item).center()));
}

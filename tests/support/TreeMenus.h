#pragma once

#include "data/QuillpostDoc.h"
#include "ui/QuillpostTreeView.h"

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>
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

// Right-clicks the item of the tree and chooses the entry of the command from the menu
// that opens, with the keyboard, as the operator does; the command then runs before
// this returns. The entry must be there and enabled.
inline void ChooseFromContextMenu(CQuillpostTreeView& view, QTreeWidgetItem* item, int commandId)
{
    QTimer picker;
    picker.setInterval(5);
    QObject::connect(&picker, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        picker.stop();
        QAction* entry = menu->findChild<QAction*>(QStringLiteral("command%1").arg(commandId));
        QVERIFY(entry && entry->isEnabled());
        menu->setActiveAction(entry);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    picker.start();
    view.OnContextMenu(&view, view.viewport()->mapToGlobal(view.visualItemRect(item).center()));
}

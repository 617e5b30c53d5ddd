#include "ModalWatcher.h"
#include "PresetPrompt.h"
#include "TempDatabase.h"
#include "app/CommandIds.h"
#include "data/QuillpostDoc.h"
#include "ui/QuillpostTreeView.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QMenu>
#include <QTest>
#include <QWindow>
#include <memory>

namespace {

constexpr int kUsers = 0;
constexpr int kGroups = 1;
constexpr int kProviders = 2;
constexpr int kMessages = 3;

template <typename Record>
Record& append(std::vector<std::unique_ptr<Record>>& list, std::int32_t id)
{
    list.push_back(std::make_unique<Record>());
    list.back()->m_id = id;
    return *list.back();
}

void addUser(CQuillpostDoc& doc, std::int32_t id, const QString& name)
{
    append(doc.m_users, id).m_name = name;
}

void addMessage(CQuillpostDoc& doc, std::int32_t id, const QString& text)
{
    CSendJob& job = append(doc.m_messages, id);
    job.m_messageId = id;
    job.m_text = text;
    auto entry = std::make_unique<CRecipientEntry>();
    entry->m_messageId = id;
    job.m_recipients.push_back(std::move(entry));
}

QStringList childTexts(const QTreeWidgetItem* category)
{
    QStringList texts;
    for (int i = 0; i < category->childCount(); ++i)
        texts << category->child(i)->text(0);
    return texts;
}

QList<std::int32_t> recordIds(const CQuillpostTreeView::RecordList& records)
{
    QList<std::int32_t> ids;
    for (const auto& record : records)
        ids << record->m_id;
    return ids;
}

struct ShownMenu
{
    bool shown = false;
    QString name;
    QStringList texts;
    QList<int> ids;
    QList<bool> enabled;
};

// Records the popup menu that opens while `open` runs, and closes it.
template <typename Open> ShownMenu captureMenu(Open open)
{
    ShownMenu menu;
    ModalWatcher watcher(ModalWatcher::Kind::Popup, [&](QWidget* popup) {
        menu.name = popup->objectName();
        for (QAction* action : popup->actions()) {
            menu.texts << action->text();
            menu.ids << action->data().toInt();
            menu.enabled << action->isEnabled();
        }
    });
    open();
    menu.shown = watcher.seen();
    return menu;
}

// A right button click as the window system delivers it, through the window, so that
// the press turns into a context-menu request as it does for the operator.
void rightClickAt(CQuillpostTreeView& view, QPoint viewportPoint)
{
    QWidget* top = view.window();
    const QPoint inWindow = view.viewport()->mapTo(top, viewportPoint);
    QTest::mouseClick(top->windowHandle(), Qt::RightButton, Qt::NoModifier, inWindow);
}

void rightClick(CQuillpostTreeView& view, QTreeWidgetItem* item)
{
    rightClickAt(view, view.visualItemRect(item).center());
}

// A right click whose menu is closed again without choosing anything.
bool rightClickAndDismiss(CQuillpostTreeView& view, QTreeWidgetItem* item)
{
    return captureMenu([&] { rightClick(view, item); }).shown;
}

} // namespace

class TestTreeView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void categoriesAndChildren();
    void messageTexts_data();
    void messageTexts();
    void categoryImages();
    void filledTreeIsClosedAndUnselected();
    void ensureFilledFillsOnce();
    void contextMenu_data();
    void contextMenu();
    void rightClickKeepsSelection();
    void emptySpaceOpensNothing();
    void keyboardRequestUsesMousePosition_data();
    void keyboardRequestUsesMousePosition();
    void refreshAfterReload();

private:
    void fillKnownRows();
    QTreeWidgetItem* target(int category, int child) const;

    std::unique_ptr<CQuillpostDoc> m_doc;
    std::unique_ptr<CQuillpostTreeView> m_view;
};

void TestTreeView::init()
{
    m_doc = std::make_unique<CQuillpostDoc>();
    m_view = std::make_unique<CQuillpostTreeView>(*m_doc);
    m_view->resize(400, 700);
}

void TestTreeView::cleanup()
{
    m_view.reset();
    m_doc.reset();
}

// Two users share a name; the groups table is empty.
void TestTreeView::fillKnownRows()
{
    addUser(*m_doc, 11, "Ann Lee");
    addUser(*m_doc, 12, "Bob Ray");
    addUser(*m_doc, 13, "Ann Lee");
    CServiceProvider& provider = append(m_doc->m_providers, 21);
    provider.m_serviceName = "Metro Paging";
    append(m_doc->m_providers, 22).m_serviceName = "County Pagers";
    addMessage(*m_doc, 31, "Meet at six");
    addMessage(*m_doc, 35, "Server room temperature alarm, check now");
    m_view->EnsureFilled();
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

QTreeWidgetItem* TestTreeView::target(int category, int child) const
{
    QTreeWidgetItem* item = m_view->topLevelItem(category);
    return child < 0 ? item : item->child(child);
}

void TestTreeView::categoriesAndChildren()
{
    fillKnownRows();

    QCOMPARE(m_view->topLevelItemCount(), 4);
    QStringList categories;
    for (int i = 0; i < 4; ++i) {
        categories << m_view->topLevelItem(i)->text(0);
        QCOMPARE(m_view->CategoryItem(i), m_view->topLevelItem(i));
    }
    QCOMPARE(categories, QStringList({ "Users", "Groups", "Service Providers", "Messages" }));

    QCOMPARE(childTexts(target(kUsers, -1)), QStringList({ "Ann Lee", "Bob Ray", "Ann Lee" }));
    QCOMPARE(childTexts(target(kGroups, -1)), QStringList());
    QCOMPARE(childTexts(target(kProviders, -1)), QStringList({ "Metro Paging", "County Pagers" }));
    QCOMPARE(childTexts(target(kMessages, -1)),
        QStringList({ "Meet at six", "Server room temperature ala..." }));

    // Each item has its own record, in list order: the two "Ann Lee" items stay apart.
    QCOMPARE(recordIds(m_view->UserRecords()), QList<std::int32_t>({ 11, 12, 13 }));
    QCOMPARE(m_view->UserRecords()[0]->m_hItem, target(kUsers, 0));
    QCOMPARE(m_view->UserRecords()[2]->m_hItem, target(kUsers, 2));
    QVERIFY(m_view->GroupRecords().empty());
    QCOMPARE(recordIds(m_view->ProviderRecords()), QList<std::int32_t>({ 21, 22 }));
    QCOMPARE(recordIds(m_view->MessageRecords()), QList<std::int32_t>({ 31, 35 }));
    QCOMPARE(m_view->MessageRecords()[1]->m_hItem, target(kMessages, 1));
}

void TestTreeView::messageTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("29 characters") << "Fire drill at 3 pm, all staff"
                                   << "Fire drill at 3 pm, all staff";
    QTest::newRow("30 characters") << "Fire drill at 3 pm, all staff!"
                                   << "Fire drill at 3 pm, all sta...";
    QTest::newRow("empty") << ""
                           << "";
}

void TestTreeView::messageTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    addMessage(*m_doc, 7, text);
    m_view->EnsureFilled();
    QCOMPARE(childTexts(target(kMessages, -1)), QStringList(shown));
}

void TestTreeView::categoryImages()
{
    fillKnownRows();
    QCOMPARE(m_view->iconSize(), QSize(25, 25));
    QSet<qint64> distinct;
    for (int category : { kUsers, kProviders, kMessages }) {
        const QIcon icon = target(category, -1)->icon(0);
        QVERIFY(!icon.isNull());
        const QImage picture = icon.pixmap(25, 25).toImage();
        QCOMPARE(picture.size(), QSize(25, 25));
        distinct.insert(picture.cacheKey());
        // The children show their category's picture.
        for (int i = 0; i < target(category, -1)->childCount(); ++i)
            QCOMPARE(target(category, i)->icon(0).cacheKey(), icon.cacheKey());
    }
    QVERIFY(!target(kGroups, -1)->icon(0).isNull());
    QCOMPARE(distinct.size(), 3);
}

void TestTreeView::filledTreeIsClosedAndUnselected()
{
    fillKnownRows();
    for (int i = 0; i < 4; ++i)
        QVERIFY(!target(i, -1)->isExpanded());
    QVERIFY(m_view->selectedItems().isEmpty());
    QVERIFY(!m_view->ContextRecord());
}

void TestTreeView::ensureFilledFillsOnce()
{
    fillKnownRows();
    addUser(*m_doc, 14, "Cy Moss");
    m_view->EnsureFilled();
    QCOMPARE(m_view->topLevelItemCount(), 4);
    QCOMPARE(target(kUsers, -1)->childCount(), 3);
}

void TestTreeView::contextMenu_data()
{
    QTest::addColumn<int>("category");
    QTest::addColumn<int>("child");
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<int>>("ids");
    QTest::addColumn<int>("recordId");

    const QStringList users = { "&New User ...", "&Edit User ...", "&Delete User" };
    const QList<int> userIds = { 32779, 32780, 32781 };
    const QStringList groups = { "&New Group ...", "&Edit Group ...", "&Delete Group" };
    const QList<int> groupIds = { 32782, 32783, 32784 };
    const QStringList providers
        = { "&New Service Provider ...", "&Edit Service Provider ...", "&Delete Service Provider" };
    const QList<int> providerIds = { 32785, 32786, 32787 };
    const QStringList messages = { "&New Message ...", "&Resend Message ...", "&Delete Message" };
    const QList<int> messageIds = { 32776, 32777, 32778 };

    QTest::newRow("Users category") << kUsers << -1 << "contextMenu139" << users << userIds << -1;
    QTest::newRow("third user") << kUsers << 2 << "contextMenu139" << users << userIds << 13;
    QTest::newRow("empty Groups category")
        << kGroups << -1 << "contextMenu140" << groups << groupIds << -1;
    QTest::newRow("Service Providers category")
        << kProviders << -1 << "contextMenu141" << providers << providerIds << -1;
    QTest::newRow("second provider")
        << kProviders << 1 << "contextMenu141" << providers << providerIds << 22;
    QTest::newRow("Messages category")
        << kMessages << -1 << "contextMenu142" << messages << messageIds << -1;
    QTest::newRow("first message")
        << kMessages << 0 << "contextMenu142" << messages << messageIds << 31;
}

void TestTreeView::contextMenu()
{
    QFETCH(int, category);
    QFETCH(int, child);
    QFETCH(QString, menu);
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, ids);
    QFETCH(int, recordId);

    fillKnownRows();
    m_view->expandAll();
    // A record clicked before must not linger as the context record of a category.
    QVERIFY(rightClickAndDismiss(*m_view, target(kUsers, 0)));
    QVERIFY(m_view->ContextRecord());

    const ShownMenu shown = captureMenu([&] { rightClick(*m_view, target(category, child)); });

    QVERIFY(shown.shown);
    QCOMPARE(shown.name, menu);
    QCOMPARE(shown.texts, texts);
    QCOMPARE(shown.ids, ids);
    const bool onCategory = child < 0;
    for (int position = 0; position < 3; ++position) {
        const bool handler = CQuillpostTreeView::HasCommandHandler(ids[position]);
        // On a category only New can be chosen; otherwise what has a handler can.
        const bool expected = handler && (!onCategory || position == 0);
        QCOMPARE(shown.enabled[position], expected);
    }
    if (onCategory) {
        QVERIFY(!shown.enabled[1]);
        QVERIFY(!shown.enabled[2]);
        QVERIFY(!m_view->ContextRecord());
    } else {
        QVERIFY(m_view->ContextRecord());
        QCOMPARE(m_view->ContextRecord()->m_id, recordId);
        QCOMPARE(m_view->ContextRecord()->m_hItem, target(category, child));
    }
}

void TestTreeView::rightClickKeepsSelection()
{
    fillKnownRows();
    m_view->expandAll();
    QTreeWidgetItem* selected = target(kUsers, 1);
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, Qt::NoModifier,
        m_view->visualItemRect(selected).center());
    QCOMPARE(m_view->selectedItems(), QList<QTreeWidgetItem*>({ selected }));

    const ShownMenu shown = captureMenu([&] { rightClick(*m_view, target(kMessages, 1)); });

    QVERIFY(shown.shown);
    QCOMPARE(shown.name, QString("contextMenu142"));
    QCOMPARE(m_view->selectedItems(), QList<QTreeWidgetItem*>({ selected }));
    QCOMPARE(m_view->currentItem(), selected);
    QCOMPARE(m_view->ContextRecord()->m_id, 35);
}

void TestTreeView::emptySpaceOpensNothing()
{
    fillKnownRows();
    m_view->expandAll();
    QVERIFY(rightClickAndDismiss(*m_view, target(kProviders, 0)));
    QVERIFY(m_view->ContextRecord());
    QTreeWidgetItem* messages = target(kMessages, -1);
    const QRect lastRow = m_view->visualItemRect(messages->child(messages->childCount() - 1));
    const QPoint below(lastRow.center().x(), lastRow.bottom() + 40);
    QVERIFY(m_view->viewport()->rect().contains(below));
    QVERIFY(!m_view->itemAt(below));

    // The menu would open inside the click; once the click is back, nothing may have.
    const ShownMenu shown = captureMenu([&] { rightClickAt(*m_view, below); });
    QVERIFY(!shown.shown);
    // Nothing happens at all: the record of the last menu stays the context record.
    QVERIFY(m_view->ContextRecord());
    QCOMPARE(m_view->ContextRecord()->m_id, 21);
    QVERIFY(m_view->selectedItems().isEmpty());

    // A keyboard request while the mouse is just below the tree opens nothing either,
    // although rows scrolled out of sight lie at that point.
    m_view->resize(400, 90);
    QApplication::processEvents();
    const QPoint belowLocal(20, m_view->viewport()->height() + 8);
    QVERIFY(m_view->itemAt(belowLocal));
    const QPoint outside = m_view->viewport()->mapToGlobal(belowLocal);
    QCursor::setPos(m_view->screen(), outside);
    QCOMPARE(QCursor::pos(m_view->screen()), outside);
    m_view->setFocus();
    const ShownMenu keyboard
        = captureMenu([&] { QTest::keyClick(m_view.get(), Qt::Key_F10, Qt::ShiftModifier); });
    QVERIFY(!keyboard.shown);
}

void TestTreeView::keyboardRequestUsesMousePosition_data()
{
    QTest::addColumn<QString>("request");
    QTest::newRow("Shift+F10") << "shift-f10";
    QTest::newRow("menu key") << "menu-key";
}

// The keyboard's request opens the menu of the item under the mouse, not of the
// selected item.
void TestTreeView::keyboardRequestUsesMousePosition()
{
    QFETCH(QString, request);
    fillKnownRows();
    m_view->expandAll();
    QTreeWidgetItem* selected = target(kUsers, 0);
    m_view->setCurrentItem(selected);
    m_view->setFocus();

    QTreeWidgetItem* underMouse = target(kProviders, 1);
    const QPoint mouse
        = m_view->viewport()->mapToGlobal(m_view->visualItemRect(underMouse).center());
    QCursor::setPos(m_view->screen(), mouse);
    if (QCursor::pos(m_view->screen()) != mouse)
        QSKIP("this platform cannot move the mouse pointer");

    const ShownMenu shown = captureMenu([&] {
        if (request == "shift-f10") {
            QTest::keyClick(m_view.get(), Qt::Key_F10, Qt::ShiftModifier);
        } else {
            // What the window system delivers for the menu key: a keyboard request whose
            // position is that of the focused (selected) item.
            const QPoint selectedPoint = m_view->visualItemRect(selected).center();
            QContextMenuEvent event(QContextMenuEvent::Keyboard, selectedPoint,
                m_view->viewport()->mapToGlobal(selectedPoint));
            QApplication::sendEvent(m_view.get(), &event);
        }
    });

    QVERIFY(shown.shown);
    QCOMPARE(shown.name, QString("contextMenu141"));
    QVERIFY(m_view->ContextRecord());
    QCOMPARE(m_view->ContextRecord()->m_id, 22);
    QCOMPARE(m_view->currentItem(), selected);
}

void TestTreeView::refreshAfterReload()
{
    TempDatabase db;
    PresetPrompt prompt;
    const std::int32_t ann = db.addUser("Ann Lee", "555 0101");
    m_doc->ReloadAll();
    m_view->EnsureFilled();
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    m_view->expandAll();
    m_view->setCurrentItem(target(kUsers, 0));
    QVERIFY(rightClickAndDismiss(*m_view, target(kUsers, 0)));
    QCOMPARE(m_view->ContextRecord()->m_id, ann);

    const std::int32_t bob = db.addUser("Bob Ray", "555 0102");
    const std::int32_t group = db.addGroup("Night shift");
    const std::int32_t provider = db.addProvider("Metro Paging", "5550199", 1);
    const std::int32_t message = db.addMessageRow(bob, 0, "Back at noon");
    db.exec("UPDATE Messages SET MessageId = ID WHERE ID = ?", { message });
    m_doc->ReloadAll();
    m_view->RefreshTree();

    QVERIFY(prompt.shown.isEmpty());
    QCOMPARE(m_view->topLevelItemCount(), 4);
    QCOMPARE(childTexts(target(kUsers, -1)), QStringList({ "Ann Lee", "Bob Ray" }));
    QCOMPARE(childTexts(target(kGroups, -1)), QStringList("Night shift"));
    QCOMPARE(childTexts(target(kProviders, -1)), QStringList("Metro Paging"));
    QCOMPARE(childTexts(target(kMessages, -1)), QStringList("Back at noon"));
    QCOMPARE(recordIds(m_view->UserRecords()), QList<std::int32_t>({ ann, bob }));
    QCOMPARE(recordIds(m_view->GroupRecords()), QList<std::int32_t>({ group }));
    QCOMPARE(recordIds(m_view->ProviderRecords()), QList<std::int32_t>({ provider }));
    QCOMPARE(recordIds(m_view->MessageRecords()), QList<std::int32_t>({ message }));
    for (int i = 0; i < 4; ++i) {
        QVERIFY(!target(i, -1)->isExpanded());
        QCOMPARE(m_view->CategoryItem(i), target(i, -1));
    }
    QVERIFY(m_view->selectedItems().isEmpty());
    QVERIFY(!m_view->ContextRecord());

    // The rebuilt items answer right clicks with their new records.
    m_view->expandAll();
    const ShownMenu shown = captureMenu([&] { rightClick(*m_view, target(kUsers, 1)); });
    QVERIFY(shown.shown);
    QCOMPARE(m_view->ContextRecord()->m_id, bob);
}

QTEST_MAIN(TestTreeView)
#include "test_tree_view.moc"

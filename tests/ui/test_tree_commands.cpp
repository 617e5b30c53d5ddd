// The tree of the document's records and the context menus that a right click and the
// keyboard's request open on it; the commands of those menus and of the Operations menu,
// chosen as the operator does, against a temporary database: the rows they leave, what the
// operator is told, and whether the tree was rebuilt. Then the user, service provider and
// "Send a message" dialogs on their own: what they show for the members preset, what they
// hand back, and what OK refuses.
#include "DialogScript.h"
#include "FakeClock.h"
#include "PresetPrompt.h"
#include "TempDatabase.h"
#include "TreeMenus.h"
#include "app/CommandIds.h"
#include "carrier/CarrierAddress.h"
#include "dispatch/SendResult.h"
#include "platform/telephony/DialString.h"
#include "ui/MessageHistoryDlg.h"
#include "ui/SendMessageDlg.h"
#include "ui/ServiceProviderDlg.h"
#include "ui/UserDlg.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDateEdit>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QWindow>

namespace {

const QString Drill = QStringLiteral("Fire drill: Sent using Quillpost");
const QString Suffix = QStringLiteral(": Sent using Quillpost");
// What follows the reason when a save fails and its dialog is offered again.
const QString OfferedAgain = QStringLiteral(
    "\n\nNothing of it was written. It is shown again so that you can try once more.");

// What the dialog's name or message field holds, once `typed` is typed over it.
QString text(QDialog* dlg, const QString& typed = {})
{
    auto* name = dlg->findChild<QLineEdit*>("nameEdit");
    auto* message = dlg->findChild<QPlainTextEdit*>("messageEdit");
    if (!typed.isEmpty()) {
        name ? name->clear() : message->clear();
        QTest::keyClicks(name ? static_cast<QWidget*>(name) : message, typed);
    }
    return name ? name->text() : message->toPlainText();
}

// Clicks the entry of the dialog's list, as the operator toggles it.
void click(QDialog* dlg, const char* listName, const QString& entryName)
{
    auto* list = dlg->findChild<QListWidget*>(listName);
    QListWidgetItem* entry = list->findItems(entryName, Qt::MatchExactly).value(0);
    list->scrollToItem(entry);
    QTest::mouseClick(
        list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(entry).center());
}

// The popup menu that opens while `open` runs: its name, then "on" or "off" for each
// entry. It is closed again; empty when no menu opens.
template <typename Open> QString captureMenu(Open open)
{
    QStringList menu;
    MenuWatcher watcher([&](QMenu* popup) {
        menu << popup->objectName();
        for (QAction* action : popup->actions())
            menu << (action->isEnabled() ? "on" : "off");
    });
    open();
    return menu.join(' ');
}

// A delete command chosen on an item, the operator's answer, the question asked after
// "Are you sure you want to delete " (empty: none), what is left (Ann's references to
// Metro and Wards, then the row counts of Messages, Users, Groups and ServiceProviders),
// a table whose trigger refuses the delete, and a statement another program runs once
// the tree is shown.
struct Deletion
{
    int command;
    QString item;
    bool yes;
    QString asked, left, refusing = {}, before = {};
};

// A command whose write a trigger refuses (from the Operations menu when there is no
// item), what the operator is told before the trigger's words, a query whose answer must
// not change, and its answer once OK is pressed again without the trigger (empty: Cancel).
struct FailedWrite
{
    int command;
    QString item, trigger, told, query, saved = {};
};

// Rural's BaudRate, StopBits, Parity and DataBits, what the provider dialog's lists show
// for them, the entries then chosen ("-1": none; empty: as they are), and what OK saves.
struct Lists
{
    QString stored, shown, chosen, saved;
};

// The preferred provider preset, the text then shown and the provider handed back.
struct ProviderChoice
{
    bool unreadableRow;
    int preferred;
    QString current;
    int handedBack;
};

// A field of the provider dialog, the access number preset (with the password "abc1"),
// what is typed over the field and what OK says (empty: it takes it).
struct Field
{
    bool password;
    QString accessNumber, typed, told;
};

// The text in the dialog (characters selected at its end), what is typed and pasted over
// it, what it then holds, and OK's refusal (empty: none, with a recipient chosen).
struct Text
{
    QString before;
    int selectFromEnd;
    QString typed, pasted, after, refusal = {};
};

} // namespace

class TestTreeCommands : public QObject
{
    Q_OBJECT

private slots:
    // Metro and County are both marked default, every provider has TAPType 3 and a
    // password. Ann prefers Metro and is in Wards, Cai too; message 1 went to all three
    // users (sent, failed for good, waiting), message 4 to Ben.
    void init()
    {
        m_db = std::make_unique<TempDatabase>();
        m_prompt = std::make_unique<PresetPrompt>();
        m_metro = m_db->addProvider("Metro", "5550101", 1);
        m_db->addProvider("County", "5550102", 1);
        m_db->addProvider("Rural", "5550103");
        m_db->exec("UPDATE ServiceProviders SET TAPType = 3, Password = 'secret'");
        m_wards = m_db->addGroup("Wards");
        m_db->addGroup("Theatre");
        m_db->addUser("Ann", "100", m_metro, { m_wards });
        m_db->addUser("Ben", "200");
        m_db->addUser("Cai", "300", 0, { 0, m_wards });
        m_db->addMessageRow(1, 1, Drill, StatusValue(MessageStatus::Sent));
        m_db->addMessageRow(2, 1, Drill, StatusValue(MessageStatus::Failed));
        m_db->addMessageRow(3, 1, Drill, StatusValue(MessageStatus::Waiting));
        m_db->addMessageRow(2, 4, "Lunch", StatusValue(MessageStatus::Sent));
        m_doc = std::make_unique<CQuillpostDoc>();
        m_send = std::make_unique<CSendMessageDlg>();
    }

    void cleanup()
    {
        m_send.reset();
        m_view.reset();
        m_doc.reset();
        m_prompt.reset();
        m_db.reset();
    }

    // Each item has its own record, in list order: the two "Ann" items stay apart. A long
    // text is cut, never inside a character. A second EnsureFilled leaves the tree as it
    // is. Refreshed, it shows the document as it is now (as after a reload), every category
    // closed and no context record.
    void treeFilledThenRefreshed()
    {
        m_db->addUser("Ann", "400");
        m_db->addMessageRow(1, 5, QString(29, 'a'));
        m_db->addMessageRow(1, 6, QString(26, 'b') + QString::fromUtf8("\xF0\x9F\x98\x80") + "bc");
        QVERIFY((m_view = ShowLoadedTree(*m_doc)));
        m_view->EnsureFilled();
        QCOMPARE(m_view->topLevelItemCount(), 4);

        rightClick(center(item("Ben")));
        m_db->exec("DELETE FROM Users WHERE ID = 2");
        m_doc->ReloadAll();
        m_view->RefreshTree();
        // Each category's text (marked when open or without an icon), then each child's as
        // "- text #ID" with the ID of the record at its position in the category's list, or
        // "?" when that record is not the child's own; a record without an item is "- none".
        const CQuillpostTreeView::RecordList* lists[] = { &m_view->UserRecords(),
            &m_view->GroupRecords(), &m_view->ProviderRecords(), &m_view->MessageRecords() };
        QStringList rows;
        for (int category = 0; category < m_view->topLevelItemCount(); ++category) {
            QTreeWidgetItem* top = m_view->topLevelItem(category);
            rows << top->text(0) + (top->isExpanded() ? " (open)" : "")
                    + (top->icon(0).isNull() ? " (no icon)" : "");
            const CQuillpostTreeView::RecordList& records = *lists[category];
            for (int i = 0; i < std::max(top->childCount(), int(records.size())); ++i) {
                const bool tied = i < int(records.size()) && records[i]->m_hItem == top->child(i);
                rows << "- " + (top->child(i) ? top->child(i)->text(0) : "none")
                        + (tied ? QStringLiteral(" #%1").arg(records[i]->m_id) : " ?");
            }
        }
        QCOMPARE(rows,
            QStringList({ "Users", "- Ann #1", "- Cai #3", "- Ann #4", "Groups", "- Wards #1",
                "- Theatre #2", "Service Providers", "- Metro #1", "- County #2", "- Rural #3",
                "Messages", "- Fire drill: Sent using Quil... #1", "- Lunch #4",
                "- " + QString(29, 'a') + " #5", "- " + QString(26, 'b') + "... #6" }));
        QVERIFY(!m_view->ContextRecord());
    }

    // A request opens the menu of the item under the mouse: on a record with its record as
    // the context record, on a category with only New to choose and no context record.
    // The keyboard's request goes by the mouse, not by the selected item; a row scrolled
    // out of sight under the mouse does not count: nothing happens and the last context
    // record stays. No request changes the selection.
    void contextMenu()
    {
        QVERIFY((m_view = ShowLoadedTree(*m_doc)));
        QTreeWidgetItem* selected = item("Ben");
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, Qt::NoModifier, center(selected));
        QCOMPARE(rightClick(center(item("Cai"))), "contextMenu139 on on on");
        QCOMPARE(m_view->ContextRecord()->m_id, 3);
        QCOMPARE(rightClick(center(item("Groups"))), "contextMenu140 on off off");
        QVERIFY(!m_view->ContextRecord());
        if (!pointAt(center(item("County"))))
            QSKIP("this platform cannot move the mouse pointer");
        QCOMPARE(shiftF10(), "contextMenu141 on on on");
        QCOMPARE(m_view->ContextRecord()->m_id, 2);
        // The menu key arrives at the focused (selected) item.
        pointAt(center(item("Fire")));
        const QPoint focused = m_view->viewport()->mapToGlobal(center(selected));
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, center(selected), focused);
        QCOMPARE(captureMenu([&] { QApplication::sendEvent(m_view.get(), &menuKey); }),
            "contextMenu142 on on on on");
        QCOMPARE(m_view->ContextRecord()->m_id, 1);
        // Too short for its rows: just below the tree lies a row scrolled out of sight.
        m_view->resize(400, 150);
        const QPoint below(100, m_view->viewport()->height() + 15);
        QVERIFY(m_view->itemAt(below));
        pointAt(below);
        QCOMPARE(shiftF10(), "");
        QCOMPARE(m_view->ContextRecord()->m_id, 1);
        QCOMPARE(m_view->selectedItems(), QList<QTreeWidgetItem*>({ selected }));
    }

    void providerLists_data()
    {
        QTest::addColumn<Lists>("lists");
        QTest::newRow("first and last entries, then others chosen")
            << Lists { "300, 2, 2, 7", "300 2 Odd 7", "6 0 1 1", "19200 1 1 8" };
        QTest::newRow("outside the lists")
            << Lists { "57600, 3, 5, 6", "38400 1 None 8", "", "38400 1 0 8" };
        QTest::newRow("negative, none chosen")
            << Lists { "-1, -1, -1, -1", "38400 1 None 8", "-1 -1 -1 -1", "38400 2 -1 8" };
    }

    void providerLists()
    {
        QFETCH(Lists, lists);
        m_db->exec("UPDATE ServiceProviders SET (BaudRate, StopBits, Parity, DataBits) = ("
            + lists.stored + ") WHERE ID = 3");
        QVERIFY(run(ID_SERVICEPROVIDERS_EDITSERVICEPROVIDER, "Rural", { [&](QDialog* dlg) {
            QStringList texts, chosen = lists.chosen.split(' ', Qt::SkipEmptyParts);
            for (const char* name :
                { "baudRateCombo", "stopBitsCombo", "parityCombo", "dataBitsCombo" }) {
                auto* box = dlg->findChild<QComboBox*>(name);
                texts << box->currentText();
                if (!chosen.isEmpty())
                    box->setCurrentIndex(chosen.takeFirst().toInt());
            }
            QCOMPARE(texts.join(' '), lists.shown);
            dlg->accept();
        } }));
        QCOMPARE(query("SELECT printf('%d %d %d %d', BaudRate, StopBits, Parity, DataBits) FROM "
                       "ServiceProviders WHERE ID = 3"),
            lists.saved);
    }

    void saveProvider_data()
    {
        QTest::addColumn<QString>("provider"); // empty: a new one
        QTest::addColumn<int>("tick"); // -1: Cancel
        QTest::addColumn<QString>("defaults"); // the provider saved is named Coastal

        QTest::newRow("new default clears two") << "" << 1 << "Coastal";
        QTest::newRow("default turned off") << "Metro" << 0 << "County";
        QTest::newRow("cancelled") << "Rural" << -1 << "Metro,County";
    }

    // A provider saved as the default is the only one; saved without the flag it changes
    // no other row. It gets TAPType 1 and keeps its password and line settings; a new one
    // has a new provider's settings.
    void saveProvider()
    {
        QFETCH(QString, provider);
        QFETCH(int, tick);
        QFETCH(QString, defaults);
        const bool isNew = provider.isEmpty();
        const int command
            = isNew ? ID_OPERATIONS_NEWSERVICEPROVIDER : ID_SERVICEPROVIDERS_EDITSERVICEPROVIDER;
        QVERIFY(run(command, provider, { [&](QDialog* dlg) {
            auto* box = dlg->findChild<QCheckBox*>("useAsDefaultCheck");
            QCOMPARE(text(dlg) + (box->isChecked() ? " on" : " off"),
                provider + (provider == "Metro" ? " on" : " off"));
            text(dlg, "Coastal");
            if (tick >= 0) {
                box->setChecked(tick == 1);
                dlg->accept();
            }
        } }));
        QCOMPARE(query("SELECT group_concat(ServiceName, ',') FROM (SELECT ServiceName FROM "
                       "ServiceProviders WHERE UseAsDefault = 1 ORDER BY ID)"),
            defaults);
        QCOMPARE(query("SELECT printf('%d %d %d %d %d %s', BaudRate, StopBits, Parity, DataBits, "
                       "TAPType, ifnull(Password, 'none')) FROM ServiceProviders WHERE "
                       "ServiceName = 'Coastal'"),
            tick < 0 ? "" : (isNew ? "9600 1 0 8 1 none" : "1200 1 1 7 1 secret"));
        QCOMPARE(treeRebuilt(), tick >= 0);
    }

    // The user dialog shows the stored groups chosen and toggles an entry per click; the row
    // keeps the first ten chosen in list order (sorted, any case), without gaps or groups
    // deleted. A send that reloads the document meanwhile changes none of that.
    void userGroups()
    {
        QHash<std::int32_t, QString> names;
        for (const char* name : { "kilo", "alarms", "juliet", "Echo", "bravo", "Golf", "delta",
                 "Hotel", "charlie", "India", "foxtrot" })
            names[m_db->addGroup(name)] = name;
        m_db->addUser("Dee", "400", 0, { 0, m_wards, 0, 99, 0, names.key("alarms") });
        QVERIFY(run(ID_USERS_EDITUSER, "Dee", { [&](QDialog* dlg) {
            m_doc->ReloadAll();
            m_view->RefreshTree();
            for (const char* name : { "kilo", "Echo", "bravo", "Golf", "delta", "Hotel", "charlie",
                     "India", "foxtrot", "juliet" })
                click(dlg, "groupList", name);
            dlg->accept();
        } }));
        QStringList row; // Dee's groups by name
        for (const QString& id : query("SELECT printf('%d %d %d %d %d %d %d %d %d %d', Group1, "
                                       "Group2, Group3, Group4, Group5, Group6, Group7, Group8, "
                                       "Group9, Group10) FROM Users WHERE Name = 'Dee'")
                                     .split(' '))
            row << names.value(id.toInt(), id);
        QCOMPARE(row.join(' '), "alarms bravo charlie delta Echo foxtrot Golf Hotel India juliet");
    }

    void deleteItem_data()
    {
        QTest::addColumn<Deletion>("deletion");
        const int user = ID_USERS_DELETEUSER, group = ID_GROUPS_DELETEGROUP,
                  provider = ID_SERVICEPROVIDERS_DELETESERVICEPROVIDER,
                  message = ID_MESSAGES_DELETEMESSAGE;
        // Yes deletes that row only: Ann keeps her references, her messages stay, and all the
        // rows of a message go, whatever their status. A message gone already asks nothing.
        QTest::newRow("user, Yes") << Deletion { user, "Ann", true, "user Ann", " 4223" };
        QTest::newRow("user, No") << Deletion { user, "Ann", false, "user Ann", "1 1 4323" };
        QTest::newRow("group, Yes") << Deletion { group, "Wards", true, "group Wards", "1 1 4313" };
        QTest::newRow("group, refused")
            << Deletion { group, "Wards", true, "group Wards", "1 1 4323", "Groups" };
        QTest::newRow("provider, Yes")
            << Deletion { provider, "Metro", true, "service provider Metro", "1 1 4322" };
        QTest::newRow("message, Yes")
            << Deletion { message, "Fire", true, "this message", "1 1 1323" };
        QTest::newRow("message, No")
            << Deletion { message, "Fire", false, "this message", "1 1 4323" };
        QTest::newRow("message gone") << Deletion { message, "Fire", true, "", "1 1 1323", "",
            "DELETE FROM Messages WHERE MessageId = 1" };
    }

    // A delete removes that item's rows only, once the operator said Yes; a refused delete
    // is reported. The tree is rebuilt after a delete.
    void deleteItem()
    {
        QFETCH(Deletion, deletion);
        const auto& [command, name, yes, asked, left, refusing, before] = deletion;
        if (!refusing.isEmpty())
            m_db->exec("CREATE TRIGGER f BEFORE DELETE ON " + refusing
                + " BEGIN SELECT RAISE(ABORT, 'disk is full'); END");
        m_prompt->answers = { yes };
        QVERIFY(!run(command, name, {}, before));
        QCOMPARE(query("SELECT ifnull((SELECT (PreferredProvider = ?) || ' ' || (Group1 = ?) FROM "
                       "Users WHERE Name = 'Ann'), '') || ' ' || (SELECT count(*) FROM Messages) "
                       "|| (SELECT count(*) FROM Users) || (SELECT count(*) FROM Groups) || "
                       "(SELECT count(*) FROM ServiceProviders)",
                     { m_metro, m_wards }),
            left);
        QCOMPARE(m_prompt->shown.value(0),
            asked.isEmpty() ? QString() : "Are you sure you want to delete " + asked);
        QCOMPARE(m_prompt->shown.value(1),
            refusing.isEmpty() ? "" : "Cannot delete row 1 of table Groups: disk is full");
        QCOMPARE(treeRebuilt(), yes && refusing.isEmpty() && !asked.isEmpty());
    }

    void failedWriteIsReported_data()
    {
        QTest::addColumn<FailedWrite>("write");
        QTest::newRow("new default provider, clearing County fails")
            << FailedWrite { ID_OPERATIONS_NEWSERVICEPROVIDER, "",
                   "BEFORE UPDATE ON ServiceProviders WHEN NEW.ServiceName = 'County'",
                   "The service provider could not be saved: Cannot change row 2 of table "
                   "ServiceProviders",
                   "SELECT group_concat(ServiceName || UseAsDefault) FROM ServiceProviders" };
        QTest::newRow("new user") << FailedWrite { ID_USERS_NEWUSER, "Users",
            "BEFORE INSERT ON Users",
            "The user could not be saved: Cannot add a row to table Users",
            "SELECT group_concat(Name || TelephoneNumber) FROM Users" };
        QTest::newRow("new message for a group, Cai's row fails")
            << FailedWrite { ID_MESSAGES_NEWMESSAGE, "Messages",
                   "BEFORE INSERT ON Messages WHEN NEW.Recipient = 3",
                   "The message could not be queued: Cannot add a row to table Messages",
                   "SELECT group_concat(MessageId || ' ' || Recipient || ' ' || Status || ' ' || "
                   "Text) FROM Messages WHERE Text LIKE 'Changed%'",
                   "5 1 0 Changed" + Suffix + ",5 3 0 Changed" + Suffix };
    }

    // A write the database refuses is told to the operator with its reason, leaves
    // nothing of itself behind, and the tree shows what the tables hold. Nothing typed or
    // chosen is lost: the dialog is offered again as the operator left it. The members of
    // a group chosen get a row each.
    void failedWriteIsReported()
    {
        QFETCH(FailedWrite, write);
        const auto& [command, name, trigger, told, unchanged, saved] = write;
        m_db->exec(
            "CREATE TRIGGER f " + trigger + " BEGIN SELECT RAISE(ABORT, 'disk is full'); END");
        const QString before = query(unchanged);
        const auto fill = [](QDialog* dlg) {
            text(dlg, "Changed");
            if (auto* box = dlg->findChild<QCheckBox*>("useAsDefaultCheck"))
                box->setChecked(true);
            if (auto* add = dlg->findChild<QPushButton*>("addGroupMembersButton")) {
                click(dlg, "groupList", "Wards");
                add->click();
            }
            dlg->accept();
        };
        const auto offeredAgain = [&](QDialog* dlg) {
            QCOMPARE(text(dlg), QStringLiteral("Changed"));
            m_db->exec("DROP TRIGGER f");
            if (!saved.isEmpty())
                dlg->accept();
        };
        QCOMPARE(run(command, name, { fill, offeredAgain }), 2);
        QCOMPARE(m_prompt->shown, QStringList { told + ": disk is full" + OfferedAgain });
        QCOMPARE(query(unchanged), saved.isEmpty() ? before : saved);
        QVERIFY(treeRebuilt());
        QCOMPARE(item("Changed") != nullptr, !saved.isEmpty());
    }

    // A row another program removed, or one that cannot be read, opens no dialog and
    // says nothing: nothing has been written.
    void unreadableRecordOpensNothing()
    {
        QVERIFY(!run(ID_USERS_EDITUSER, "Ann", {}, "UPDATE Users SET Group3 = 'abc'"));
        QVERIFY(!run(ID_GROUPS_EDITGROUP, "Wards", {}, "DELETE FROM Groups"));
        QVERIFY(m_prompt->shown.isEmpty());
        QVERIFY(!treeRebuilt());
    }

    // The copy goes to every recipient still there, with the text shown (as the rows
    // written tell). A send that records its result while the dialog is open changes none
    // of that, though the sending window then makes the document and the tree, context
    // record included, anew.
    void resendQueuesCopyToEveryRecipient()
    {
        // Ben has left since; the copy can only go to the others.
        m_db->exec("DELETE FROM Users WHERE ID = 2");
        QVERIFY(run(ID_MESSAGES_RESENDMESSAGE, "Fire", { [this](QDialog* dlg) {
            RecordAttemptResult(
                { 1, 3, MessageStatus::Sent, "300", "Metro", "211 Page(s) Sent", std::nullopt });
            m_doc->ReloadAll();
            m_view->RefreshTree();
            dlg->accept();
        } }));
        QCOMPARE(m_db->rows("Messages",
                     "CASE WHEN MessageId = 5 THEN Recipient || ' ' || Status || ' ' || Text END"),
            QStringList({ "1 0 " + Drill + Suffix, "3 0 " + Drill + Suffix }));
    }

    // The history window of a message tells each recipient's state and every attempt with
    // the terminal's words. The context menu and a double click open it; one window serves
    // however often it is asked for. (The tooltip's lines are seen in test_main_frame.)
    void historyOfAMessage()
    {
        FakeClock clock;
        RecordAttemptResult(
            { 1, 3, MessageStatus::Waiting, "300", "Metro", "511 Invalid Pager ID", std::nullopt });
        QVERIFY((m_view = ShowLoadedTree(*m_doc)));
        const QPoint at = center(item("Fire"));
        ChooseFromContextMenu(*m_view, item("Fire"), ID_MESSAGES_HISTORY);
        QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        const auto windows = m_view->findChildren<CMessageHistoryDlg*>();
        QCOMPARE(windows.size(), 1);
        QTRY_VERIFY(windows.first()->isVisible());
        QStringList cells; // the recipients' table then the attempts', row after row
        for (const char* name : { "recipientTable", "attemptTable" }) {
            const auto* table = windows.first()->findChild<QTableWidget*>(name);
            for (int row = 0; row < table->rowCount(); ++row)
                for (int column = 0; column < table->columnCount(); ++column)
                    cells << table->item(row, column)->text();
        }
        QCOMPARE(cells.join('|'),
            "Ann|sent 2026-01-01 12:00:00|"
            "Ben|failed for good after 0 failed attempts, the last 2026-01-01 12:00:00|"
            "Cai|waiting, due 2026-01-01 12:00:00, 1 failed attempt, the last 2026-03-10 09:00:00|"
            "2026-03-10 09:00:00|Cai|300|Metro|failed|511 Invalid Pager ID");
        windows.first()->close();
        QTRY_VERIFY(m_view->findChildren<CMessageHistoryDlg*>().isEmpty());
        QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QCOMPARE(m_view->findChildren<CMessageHistoryDlg*>().size(), 1);
    }

    void userProviders_data()
    {
        QTest::addColumn<ProviderChoice>("c");
        QTest::newRow("stored provider") << ProviderChoice { false, 2, "County", 2 };
        QTest::newRow("default provider") << ProviderChoice { false, 0, "Default Provider", 0 };
        QTest::newRow("provider deleted") << ProviderChoice { false, 5, "", 5 };
        // County cannot be read: those before stay offered, and no word is said.
        QTest::newRow("read fails") << ProviderChoice { true, 3, "", 3 };
    }

    // An entry chosen hands back its provider; no entry keeps the one preset.
    void userProviders()
    {
        QFETCH(ProviderChoice, c);
        if (c.unreadableRow)
            m_db->exec("UPDATE ServiceProviders SET BaudRate = 'fast' WHERE ID = 2");
        CUserDlg dlg({});
        dlg.m_nPreferredProvider = c.preferred;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* providers = dlg.findChild<QComboBox*>("providerCombo");
        QCOMPARE(providers->count(), c.unreadableRow ? 2 : 4);
        QCOMPARE(providers->currentText(), c.current);
        // Enter, even in a list's field, is OK.
        QTest::keyClick(providers, Qt::Key_Enter);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.m_nPreferredProvider, c.handedBack);
        QVERIFY(m_prompt->shown.isEmpty());
    }

    void providerFieldRefusals_data()
    {
        QTest::addColumn<Field>("c");
        const QString phone = "5551234", url = "https://wctp.example.net/wctp";
        const QString printable64
            = QString("Az9!#$%&'()*+,-./:;<=>?@[]^_`{|}~").repeated(2).left(64);
        const QString badPassword = CServiceProviderDlg::kBadPassword;
        const QString badUrlPassword = CServiceProviderDlg::kBadUrlPassword;
        QTest::newRow("password of six") << Field { true, phone, "Pw1234", "" };
        QTest::newRow("password of seven") << Field { true, phone, "abcdefg", badPassword };
        QTest::newRow("password with punctuation") << Field { true, phone, "ab c!", badPassword };
        QTest::newRow("password with accent") << Field { true, phone, "caf\u00e9", badPassword };
        QTest::newRow("URL password of 64 printable") << Field { true, url, printable64, "" };
        QTest::newRow("URL password of 65")
            << Field { true, url, printable64 + "x", badUrlPassword };
        QTest::newRow("URL password with space") << Field { true, url, "a b", badUrlPassword };
        // A Text column holds 255 characters; the field takes no more.
        QTest::newRow("number of 256") << Field { false, "", QString(256, '5'), "" };
        QTest::newRow("host:port, for a TCP line")
            << Field { false, "", "paging.example.net:444", "" };
        QTest::newRow("second modem command")
            << Field { false, "", "5551234;ATH", BadAccessNumberText(";") };
        QTest::newRow("malformed URL") << Field { false, "", "snpp://pager.example.net:0",
            BadCarrierAddressText(ParseCarrierAddress("snpp://pager.example.net:0").refusal) };
    }

    // The password field is masked. OK takes a password a log-on can carry and an access
    // number a modem can dial or a TCP line can reach, as typed; for anything else it says
    // why and keeps the dialog open with what was typed.
    void providerFieldRefusals()
    {
        QFETCH(Field, c);
        CServiceProviderDlg dlg;
        dlg.m_strPassword = "abc1";
        dlg.m_strAccessNumber = c.accessNumber;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* field = dlg.findChild<QLineEdit*>(c.password ? "passwordEdit" : "accessNumberEdit");
        QCOMPARE(dlg.findChild<QLineEdit*>("passwordEdit")->echoMode(), QLineEdit::Password);
        QCOMPARE(field->text(), c.password ? "abc1" : c.accessNumber);
        field->setText(c.typed); // keyClicks takes ASCII only
        dlg.accept();
        QCOMPARE(dlg.isVisible(), !c.told.isEmpty());
        QCOMPARE(m_prompt->shown, c.told.isEmpty() ? QStringList() : QStringList { c.told });
        dlg.reject();
        QCOMPARE(c.password ? dlg.m_strPassword : dlg.m_strAccessNumber, c.typed.left(255));
    }

    // The users handed in are chosen, an ID no longer known left out. "<<" picks the members
    // of the groups chosen (Ann and Cai), takes no one back and leaves no group chosen. OK
    // hands back the users chosen.
    void sendListsAndOk()
    {
        m_send->m_listRecipients = { 99, 2 };
        openSend();
        click(m_send.get(), "groupList", "Wards");
        m_send->findChild<QPushButton*>("addGroupMembersButton")->click();
        QVERIFY(m_send->findChild<QListWidget*>("groupList")->selectedItems().isEmpty());
        click(m_send.get(), "userList", "Ann");
        QTest::keyClicks(edit(), "Lift 3 stuck");
        pressEnter();
        QCOMPARE(m_send->result(), int(QDialog::Accepted));
        QCOMPARE(m_send->m_listRecipients, std::vector<std::int32_t>({ 2, 3 }));
    }

    void sendTextAndOk_data()
    {
        QTest::addColumn<Text>("text");
        const QString t239(239, 't');
        QTest::newRow("typing stops at 240") << Text { "", 0, t239 + "xyz", "", t239 + "x" };
        QTest::newRow("paste replaces the selection")
            << Text { t239, 4, "", "0123456789", QString(235, 't') + "01234" };
        // Line breaks pasted become spaces.
        QTest::newRow("line breaks pasted") << Text { "A", 0, "", "b\r\nc\nd\re", "Ab c d e" };
        QTest::newRow("empty text, no recipient")
            << Text { "", 0, "", "", "", CSendMessageDlg::kNoTextMessage };
        QTest::newRow("no recipient")
            << Text { "Hi", 0, "", "", "Hi", CSendMessageDlg::kNoRecipientMessage };
        QTest::newRow("blanks only accepted") << Text { "   ", 0, "", "", "   " };
    }

    // The text holds at most 240 characters, however they come. Enter in the text is OK,
    // which refuses an empty text before a missing recipient and keeps everything as the
    // operator left it.
    void sendTextAndOk()
    {
        QFETCH(Text, text);
        const auto& [before, selectFromEnd, typed, pasted, after, refusal] = text;
        m_send->m_strMessage = before;
        openSend();
        for (int i = 0; i < selectFromEnd; ++i)
            QTest::keyClick(edit(), Qt::Key_Left, Qt::ShiftModifier);
        QTest::keyClicks(edit(), typed);
        QGuiApplication::clipboard()->setText(pasted);
        QTest::keySequence(edit(), QKeySequence::Paste);
        if (refusal.isEmpty())
            click(m_send.get(), "userList", "Ann");
        pressEnter();
        QCOMPARE(m_prompt->shown, refusal.isEmpty() ? QStringList() : QStringList { refusal });
        QCOMPARE(m_send->isVisible(), !refusal.isEmpty());
        QCOMPARE(refusal.isEmpty() ? m_send->m_strMessage : edit()->toPlainText(), after);
    }

    // The dialog opens at the clock's now, whatever was preset, and keeps that time of day
    // for the date chosen. OK refuses a time before the first second the program holds (in
    // any zone), keeping the dialog open as the operator left it.
    void sendOpensAtNowWhateverWasPreset()
    {
        FakeClock clock(QDateTime(QDate(2026, 7, 1), QTime(23, 59, 58)));
        m_send->m_dateSend = m_send->m_timeSend = COleDateTime(2020, 1, 2, 3, 4, 5);
        m_send->m_listRecipients = { 1 };
        m_send->m_strMessage = "Now";
        openSend();
        auto* dateEdit = m_send->findChild<QDateEdit*>("dateSend");
        QCOMPARE(dateEdit->date(), QDate(2026, 7, 1));
        clock.advance(3600);
        dateEdit->setDate(QDate(1901, 12, 12));
        pressEnter();
        QCOMPARE(m_send->m_dateSend.ToText(), QStringLiteral("1901-12-12 00:00:00"));
        QCOMPARE(m_send->m_timeSend.ToText().mid(11), QStringLiteral("23:59:58"));
        QVERIFY(m_send->isVisible());
        QCOMPARE(m_prompt->shown.size(), 1);
        QVERIFY(m_prompt->shown[0].contains("the earliest time Quillpost can hold"));
    }

private:
    // The first item whose text starts with `text`: a category or a record.
    QTreeWidgetItem* item(const QString& text) const
    {
        return m_view->findItems(text, Qt::MatchStartsWith | Qt::MatchRecursive).value(0);
    }
    // Shows the tree if not yet shown, runs `meanwhile` as another program would, then runs
    // the command from the context menu of the item named (or from the Operations menu
    // when `name` is empty); the steps drive the dialogs it shows (accept() is what their
    // OK button does). Returns how many dialogs were shown.
    int run(int commandId, const QString& name, const QList<DialogScript::Step>& steps,
        const QString& meanwhile = {})
    {
        if (!m_view)
            m_view = ShowLoadedTree(*m_doc);
        if (!meanwhile.isEmpty())
            m_db->exec(meanwhile);
        DialogScript dialog(steps);
        if (name.isEmpty())
            m_view->OnCommand(commandId);
        else
            ChooseFromContextMenu(*m_view, item(name), commandId);
        return dialog.played();
    }
    QPoint center(QTreeWidgetItem* target) const { return m_view->visualItemRect(target).center(); }
    // A right button click as the window system delivers it, through the window, so that
    // the press turns into a context-menu request as it does for the operator.
    QString rightClick(QPoint at)
    {
        QWidget* top = m_view->window();
        const QPoint inWindow = m_view->viewport()->mapTo(top, at);
        return captureMenu([&] {
            QTest::mouseClick(top->windowHandle(), Qt::RightButton, Qt::NoModifier, inWindow);
        });
    }
    QString shiftF10()
    {
        return captureMenu([&] { QTest::keyClick(m_view.get(), Qt::Key_F10, Qt::ShiftModifier); });
    }
    // Moves the mouse pointer over the point of the tree; false where the platform cannot.
    bool pointAt(QPoint at) const
    {
        const QPoint mouse = m_view->viewport()->mapToGlobal(at);
        QCursor::setPos(m_view->screen(), mouse);
        return QCursor::pos(m_view->screen()) == mouse;
    }
    QString query(const QString& sql, const QVariantList& values = {}) const
    {
        return m_db->scalar(sql, values).toString();
    }
    // A rebuilt tree has its categories closed.
    bool treeRebuilt() const { return !m_view->topLevelItem(0)->isExpanded(); }

    void openSend()
    {
        m_doc->ReloadAll();
        m_send->FillChoices(*m_doc);
        m_send->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_send.get()));
    }
    QPlainTextEdit* edit() const { return m_send->findChild<QPlainTextEdit*>("messageEdit"); }
    // Enter in the text field, which takes no line breaks: it presses OK.
    void pressEnter() const { QTest::keyClick(edit(), Qt::Key_Return); }

    std::unique_ptr<TempDatabase> m_db;
    std::unique_ptr<PresetPrompt> m_prompt;
    std::unique_ptr<CQuillpostDoc> m_doc;
    std::unique_ptr<CQuillpostTreeView> m_view;
    std::unique_ptr<CSendMessageDlg> m_send;
    std::int32_t m_wards = 0, m_metro = 0;
};

QTEST_MAIN(TestTreeCommands)
#include "test_tree_commands.moc"

// New, Edit and Delete for users, groups and service providers, chosen from the tree's
// menus and the Operations menu against a temporary database: the rows they leave,
// what the operator is told, and whether the tree was rebuilt.
#include "DialogScript.h"
#include "PresetPrompt.h"
#include "TempDatabase.h"
#include "TreeMenus.h"
#include "app/CommandIds.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace {

constexpr int Operations = -1, Users = 0, Groups = 1, Providers = 2;

void type(QWidget* dlg, const char* field, const QString& text)
{
    auto* edit = dlg->findChild<QLineEdit*>(field);
    edit->clear();
    QTest::keyClicks(edit, text);
}

void tick(QWidget* dlg, bool on)
{
    if (auto* box = dlg->findChild<QCheckBox*>("useAsDefaultCheck"))
        box->setChecked(on);
}

void ok(QWidget* dlg)
{
    dlg->findChild<QPushButton*>("okButton")->click();
}

// A command that deletes an item, what the operator answers, the question asked after
// "Are you sure you want to delete ", what is left (Ann's references, then the rows of
// Messages, Users, Groups, Providers), and a table whose trigger refuses the delete.
struct Deletion
{
    int command;
    QString item;
    bool yes;
    QString question, left, refusing = {};
};

// A command whose write a trigger refuses (from the Operations menu when there is no
// item), the record it is told of, and a query whose answer must stay as it was.
struct FailedWrite
{
    int command;
    QString item, trigger, what, unchanged;
};

} // namespace

class TestRecordCommands : public QObject
{
    Q_OBJECT

private slots:
    // Ann prefers Metro and belongs to Wards; Metro and County are both marked default;
    // every provider has TAPType 3 and a password.
    void init()
    {
        m_db = std::make_unique<TempDatabase>();
        m_prompt = std::make_unique<PresetPrompt>();
        m_metro = m_db->addProvider("Metro", "5550101", 1);
        m_db->addProvider("County", "5550102", 1);
        m_db->addProvider("Rural", "5550103");
        m_db->exec("UPDATE ServiceProviders SET TAPType = 3, Password = 'secret'");
        m_wards = m_db->addGroup("Wards");
        m_db->addMessageRow(m_db->addUser("Ann", "100", m_metro, { m_wards }), 1, "Fire drill");
        m_doc = std::make_unique<CQuillpostDoc>();
    }

    void cleanup()
    {
        m_view.reset();
        m_doc.reset();
        m_prompt.reset();
        m_db.reset();
    }

    void saveProvider_data()
    {
        QTest::addColumn<QString>("provider"); // empty: a new one, Coastal
        QTest::addColumn<bool>("only"); // the provider edited is the only default at first
        QTest::addColumn<int>("tick"); // -1: Cancel
        QTest::addColumn<QString>("defaults"); // the provider saved is named Coastal

        QTest::newRow("new default clears two") << "" << false << 1 << "Coastal";
        QTest::newRow("only default turned off") << "Metro" << true << 0 << "";
        QTest::newRow("default kept") << "County" << false << 1 << "Coastal";
        QTest::newRow("saved without the flag") << "Rural" << false << 0 << "Metro,County";
        QTest::newRow("cancelled") << "Rural" << false << -1 << "Metro,County";
    }

    // A provider saved as the default is the only one; saved without the flag it changes
    // no other row. It gets TAPType 1 and keeps its password; a new one opens with a new
    // provider's settings.
    void saveProvider()
    {
        QFETCH(QString, provider);
        QFETCH(bool, only);
        QFETCH(int, tick);
        QFETCH(QString, defaults);
        if (only)
            m_db->exec(
                "UPDATE ServiceProviders SET UseAsDefault = (ServiceName = ?)", { provider });
        start();
        const bool isNew = provider.isEmpty();
        QVERIFY(
            run(isNew ? ID_OPERATIONS_NEWSERVICEPROVIDER : ID_SERVICEPROVIDERS_EDITSERVICEPROVIDER,
                isNew ? Operations : Providers, provider, { [&](QDialog* dlg) {
                    QStringList shown { dlg->findChild<QLineEdit*>("nameEdit")->text() };
                    for (const char* box : { "baudRateCombo", "stopBitsCombo", "parityCombo" })
                        shown << dlg->findChild<QComboBox*>(box)->currentText();
                    QCOMPARE(shown.join(' '),
                        isNew ? QString(" 9600 1 None") : provider + " 1200 1 Even");
                    type(dlg, "nameEdit", "Coastal");
                    dlg->findChild<QComboBox*>("baudRateCombo")->setCurrentIndex(0);
                    if (tick >= 0) {
                        ::tick(dlg, tick == 1);
                        ok(dlg);
                    }
                } }));
        QCOMPARE(query("SELECT group_concat(ServiceName, ',') FROM (SELECT ServiceName FROM "
                       "ServiceProviders WHERE UseAsDefault = 1 ORDER BY ID)"),
            defaults);
        const QString saved = query("SELECT BaudRate || ' ' || TAPType || ' ' || ifnull(Password, "
                                    "'none') FROM ServiceProviders WHERE ServiceName = 'Coastal'");
        QCOMPARE(saved, QString(tick < 0 ? "" : isNew ? "300 1 none" : "300 1 secret"));
        QCOMPARE(treeRebuilt(), tick >= 0);
    }

    void userGroups_data()
    {
        QTest::addColumn<bool>("newUser");
        QTest::addColumn<QString>("stored"); // Group1 to Group10 by name; "gone" a deleted group
        QTest::addColumn<QString>("clicked");
        QTest::addColumn<QString>("saved");

        const auto row = [](const char* name, bool newUser, const char* stored, const char* clicked,
                             const char* saved) {
            QTest::newRow(name) << newUser << QString(stored) << QString(clicked) << QString(saved);
        };
        row("gaps closed, list order", false, "0 Wards 0 gone 0 alarms", "",
            "alarms Wards 0 0 0 0 0 0 0 0");
        row("twelve chosen, ten kept", false, "",
            "alarms kilo Echo bravo Golf delta Hotel charlie India foxtrot Lima juliet",
            "alarms bravo charlie delta Echo foxtrot Golf Hotel India juliet");
        row("one taken out", false, "Wards alarms", "Wards", "alarms 0 0 0 0 0 0 0 0 0");
        row("new user, no groups", true, "", "", "0 0 0 0 0 0 0 0 0 0");
    }

    // The user dialog lists the groups sorted, shows the stored ones chosen, toggles an
    // entry per click, and the row keeps the first ten chosen in list order. A send that
    // reloads the document meanwhile changes none of that.
    void userGroups()
    {
        QFETCH(bool, newUser);
        QFETCH(QString, stored);
        QFETCH(QString, clicked);
        QFETCH(QString, saved);
        QHash<QString, int> ids { { "0", 0 }, { "gone", 99 }, { "Wards", m_wards } };
        for (const char* name : { "kilo", "alarms", "juliet", "Echo", "bravo", "Golf", "delta",
                 "Hotel", "charlie", "India", "foxtrot", "Lima" })
            ids[name] = m_db->addGroup(name);
        std::array<std::int32_t, 10> columns {};
        const QStringList storedNames = stored.split(' ', Qt::SkipEmptyParts);
        for (int i = 0; i < storedNames.size(); ++i)
            columns[i] = ids.value(storedNames[i]);
        const std::int32_t ben = m_db->addUser("Ben", "200", 0, columns);
        start();

        QVERIFY(run(newUser ? ID_USERS_NEWUSER : ID_USERS_EDITUSER, Users, newUser ? "" : "Ben",
            { [&](QDialog* dlg) {
                m_doc->ReloadAll();
                m_view->RefreshTree();
                auto* list = dlg->findChild<QListWidget*>("groupList");
                QCOMPARE(
                    list->item(0)->text() + ' ' + list->item(12)->text(), QString("alarms Wards"));
                for (const QString& name : clicked.split(' ', Qt::SkipEmptyParts)) {
                    QListWidgetItem* entry = list->findItems(name, Qt::MatchExactly).value(0);
                    list->scrollToItem(entry);
                    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                        list->visualItemRect(entry).center());
                }
                if (newUser)
                    type(dlg, "nameEdit", "Cy");
                ok(dlg);
            } }));
        const QVariantList row { newUser ? m_db->scalar("SELECT max(ID) FROM Users") : ben };
        QStringList savedNames;
        for (int slot = 1; slot <= 10; ++slot)
            savedNames << ids.key(
                query(QStringLiteral("SELECT Group%1 FROM Users WHERE ID = ?").arg(slot), row)
                    .toInt());
        QCOMPARE(savedNames.join(' '), saved);
    }

    void deleteRecord_data()
    {
        QTest::addColumn<Deletion>("deletion");
        const int user = ID_USERS_DELETEUSER, group = ID_GROUPS_DELETEGROUP,
                  provider = ID_SERVICEPROVIDERS_DELETESERVICEPROVIDER;
        QTest::newRow("user, Yes") << Deletion { user, "Ann", true, "user Ann", " 1013" };
        QTest::newRow("user, No") << Deletion { user, "Ann", false, "user Ann", "1 1 1113" };
        QTest::newRow("group, Yes") << Deletion { group, "Wards", true, "group Wards", "1 1 1103" };
        QTest::newRow("group, refused")
            << Deletion { group, "Wards", true, "group Wards", "1 1 1113", "Groups" };
        QTest::newRow("provider, Yes")
            << Deletion { provider, "Metro", true, "service provider Metro", "1 1 1112" };
    }

    // A delete removes that row only: Ann keeps a deleted group or provider in her row,
    // and her messages stay when she goes. A refused delete is reported.
    void deleteRecord()
    {
        QFETCH(Deletion, deletion);
        const auto& [command, name, yes, question, left, refusing] = deletion;
        if (!refusing.isEmpty())
            m_db->exec("CREATE TRIGGER f BEFORE DELETE ON " + refusing
                + " BEGIN SELECT RAISE(ABORT, 'disk is full'); END");
        start();
        m_prompt->answers = { yes };
        QVERIFY(!run(command, Users, name));
        QCOMPARE(query("SELECT ifnull((SELECT (PreferredProvider = ?) || ' ' || (Group1 = ?) FROM "
                       "Users WHERE Name = 'Ann'), '') || ' ' || (SELECT count(*) FROM Messages) "
                       "|| (SELECT count(*) FROM Users) || (SELECT count(*) FROM Groups) || "
                       "(SELECT count(*) FROM ServiceProviders)",
                     { m_metro, m_wards }),
            left);
        QCOMPARE(m_prompt->shown.value(0), "Are you sure you want to delete " + question);
        QCOMPARE(m_prompt->shown.value(1).contains("disk is full"), !refusing.isEmpty());
        QCOMPARE(treeRebuilt(), yes && refusing.isEmpty());
    }

    void failedWriteIsReported_data()
    {
        QTest::addColumn<FailedWrite>("write");
        QTest::newRow("new default provider, clearing County fails")
            << FailedWrite { ID_OPERATIONS_NEWSERVICEPROVIDER, "",
                   "BEFORE UPDATE ON ServiceProviders WHEN NEW.ServiceName = 'County'",
                   "service provider",
                   "SELECT group_concat(ServiceName || UseAsDefault) FROM ServiceProviders" };
        QTest::newRow("edited user")
            << FailedWrite { ID_USERS_EDITUSER, "Ann", "BEFORE UPDATE ON Users", "user",
                   "SELECT group_concat(Name || TelephoneNumber) FROM Users" };
    }

    // A write the database refuses is told to the operator with its reason, leaves
    // nothing of itself behind, and the tree still shows what the tables hold.
    void failedWriteIsReported()
    {
        QFETCH(FailedWrite, write);
        const auto& [command, item, trigger, what, unchanged] = write;
        m_db->exec(
            "CREATE TRIGGER f " + trigger + " BEGIN SELECT RAISE(ABORT, 'disk is full'); END");
        const QString before = query(unchanged);
        start();
        QString offeredAgain;
        QVERIFY(run(command, item.isEmpty() ? Operations : Users, item,
            { [](QDialog* dlg) {
                 type(dlg, "nameEdit", "Changed");
                 tick(dlg, true);
                 ok(dlg);
             },
                [&](QDialog* dlg) {
                    offeredAgain = dlg->findChild<QLineEdit*>("nameEdit")->text();
                } }));
        // Nothing typed is lost: the dialog is offered again as the operator left it.
        QCOMPARE(offeredAgain, QStringLiteral("Changed"));
        QCOMPARE(query(unchanged), before);
        QCOMPARE(m_prompt->shown.size(), 1);
        QVERIFY2(m_prompt->shown[0].startsWith(QString("The %1 could not be saved: ").arg(what))
                && m_prompt->shown[0].contains("disk is full"),
            qPrintable(m_prompt->shown[0]));
        QVERIFY(treeRebuilt());
    }

    // A row another program removed, or one that cannot be read, opens no dialog and
    // says nothing: nothing has been written.
    void unreadableRecordOpensNothing()
    {
        start();
        m_db->exec("UPDATE Users SET Group3 = 'abc'");
        m_db->exec("DELETE FROM Groups");
        QVERIFY(!run(ID_USERS_EDITUSER, Users, "Ann"));
        QVERIFY(!run(ID_GROUPS_EDITGROUP, Groups, "Wards"));
        QVERIFY(m_prompt->shown.isEmpty());
        QVERIFY(!treeRebuilt());
    }

private:
    void start()
    {
        m_view = ShowLoadedTree(*m_doc);
        QVERIFY(m_view);
    }
    // Runs the command from the context menu of the named item (of the category when
    // `name` is empty), or from the Operations menu; the steps drive the dialogs it shows.
    // False when no dialog opened.
    bool run(int commandId, int category, const QString& name,
        const QList<DialogScript::Step>& steps = {})
    {
        DialogScript dialog(steps);
        if (category < 0)
            m_view->OnCommand(commandId);
        else
            ChooseFromContextMenu(*m_view,
                name.isEmpty()
                    ? m_view->topLevelItem(category)
                    : m_view->findItems(name, Qt::MatchExactly | Qt::MatchRecursive).value(0),
                commandId);
        return dialog.played() > 0;
    }
    QString query(const QString& sql, const QVariantList& values = {}) const
    {
        return m_db->scalar(sql, values).toString();
    }
    // A rebuilt tree has its categories closed.
    bool treeRebuilt() const { return !m_view->topLevelItem(Users)->isExpanded(); }

    std::unique_ptr<TempDatabase> m_db;
    std::unique_ptr<PresetPrompt> m_prompt;
    std::unique_ptr<CQuillpostDoc> m_doc;
    std::unique_ptr<CQuillpostTreeView> m_view;
    std::int32_t m_wards = 0, m_metro = 0;
};

QTEST_MAIN(TestRecordCommands)
#include "test_record_commands.moc"

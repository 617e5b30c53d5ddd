// New, Resend and Delete Message chosen from the tree's menus as the operator does,
// against a temporary database: the rows they leave in Messages and the tree after them.
#include "DialogScript.h"
#include "FakeClock.h"
#include "PresetPrompt.h"
#include "ShownText.h"
#include "TempDatabase.h"
#include "TreeMenus.h"
#include "app/CommandIds.h"
#include "dispatch/SendResult.h"
#include "ui/MessageHistoryDlg.h"

#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QToolTip>

namespace {

constexpr int MessagesCategory = 3;
const QString Suffix = QStringLiteral(": Sent using Quillpost");

QStringList selectedNames(QDialog* dlg)
{
    QStringList names;
    for (QListWidgetItem* entry : dlg->findChild<QListWidget*>("userList")->selectedItems())
        names << entry->text();
    names.sort();
    return names;
}

void compose(QDialog* dlg, const QString& text, const QString& group)
{
    auto* edit = dlg->findChild<QPlainTextEdit*>("messageEdit");
    edit->selectAll();
    QTest::keyClicks(edit, text);
    if (!group.isEmpty()) {
        auto* groups = dlg->findChild<QListWidget*>("groupList");
        groups->findItems(group, Qt::MatchExactly).first()->setSelected(true);
        dlg->findChild<QPushButton*>("addGroupMembersButton")->click();
    }
    dlg->findChild<QPushButton*>("okButton")->click();
}

QStringList tableRows(const QDialog* dlg, const char* name)
{
    const auto* table = dlg->findChild<QTableWidget*>(name);
    QStringList rows;
    for (int row = 0; row < table->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < table->columnCount(); ++column)
            cells << table->item(row, column)->text();
        rows << cells.join('|');
    }
    return rows;
}

} // namespace

class TestMessageCommands : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_db = std::make_unique<TempDatabase>();
        m_prompt = std::make_unique<PresetPrompt>();
        m_clock = std::make_unique<FakeClock>();
        const std::int32_t ward = m_db->addGroup("Ward 4");
        m_db->addGroup("Theatre");
        m_db->addUser("Ann", "100", 0, { ward });
        m_db->addUser("Ben", "200");
        m_db->addUser("Cai", "300", 0, { 0, ward });
        // Message 1 went to all three: sent, failed for good, still waiting.
        m_db->addMessageRow(1, 1, "Fire drill" + Suffix, StatusValue(MessageStatus::Sent));
        m_db->addMessageRow(2, 1, "Fire drill" + Suffix, StatusValue(MessageStatus::Failed));
        m_db->addMessageRow(3, 1, "Fire drill" + Suffix, StatusValue(MessageStatus::Waiting));
        m_db->addMessageRow(2, 4, "Lunch", StatusValue(MessageStatus::Sent));

        m_doc = std::make_unique<CQuillpostDoc>();
        m_view = ShowLoadedTree(*m_doc);
        QVERIFY(m_view);
    }

    void cleanup()
    {
        m_view.reset();
        m_doc.reset();
        m_clock.reset();
        m_prompt.reset();
        m_db.reset();
    }

    // The copy goes to every recipient still there, with the text shown. A send that
    // records its result while the dialog is open changes none of that, though the
    // sending window then makes the document and the tree, context record included, anew.
    void resendQueuesCopyToEveryRecipient()
    {
        QStringList expected = rows();
        // Ben has left since; the copy can only go to the others.
        m_db->exec("DELETE FROM Users WHERE ID = 2");
        m_doc->ReloadAll();
        m_view->RefreshTree();
        m_view->expandAll();

        DialogScript script({ [this](QDialog* dlg) {
            QCOMPARE(selectedNames(dlg), QStringList({ "Ann", "Cai" }));
            QCOMPARE(dlg->findChild<QPlainTextEdit*>("messageEdit")->toPlainText(),
                "Fire drill" + Suffix);
            RecordAttemptResult(
                { 1, 3, MessageStatus::Sent, "300", "Metro", "211 Page(s) Sent", std::nullopt });
            m_doc->ReloadAll();
            m_view->RefreshTree();
            QCOMPARE(m_view->ContextRecord(), nullptr);
            dlg->findChild<QPushButton*>("okButton")->click();
        } });
        ChooseFromContextMenu(*m_view, messageItem(0), ID_MESSAGES_RESENDMESSAGE);

        QCOMPARE(script.played(), 1);
        const QString text = "Fire drill" + Suffix + Suffix;
        expected[2] = "1 3 1 Fire drill" + Suffix;
        QCOMPARE(rows(), expected + QStringList({ "5 1 0 " + text, "5 3 0 " + text }));
    }

    void deleteMessage_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("goneMeanwhile");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<int>("rowsLeft");

        const QString question = QStringLiteral("Are you sure you want to delete this message");
        QTest::newRow("Yes removes every row, whatever its status")
            << true << false << QStringList { question } << 1;
        QTest::newRow("No changes nothing") << false << false << QStringList { question } << 4;
        QTest::newRow("deleted elsewhere: no question") << true << true << QStringList() << 1;
    }

    void deleteMessage()
    {
        QFETCH(bool, answer);
        QFETCH(bool, goneMeanwhile);
        QFETCH(QStringList, shown);
        QFETCH(int, rowsLeft);

        if (goneMeanwhile)
            m_db->exec("DELETE FROM Messages WHERE MessageId = 1");
        m_prompt->answers = { answer };
        ChooseFromContextMenu(*m_view, messageItem(0), ID_MESSAGES_DELETEMESSAGE);

        QCOMPARE(m_prompt->shown, shown);
        QCOMPARE(rows().size(), rowsLeft);
        QCOMPARE(rows().last(), QStringLiteral("4 2 1 Lunch"));
        // The tree shows what the table holds once something was deleted.
        QCOMPARE(messageItems().size(), answer && !goneMeanwhile ? 1 : 2);
    }

    // The members of the group chosen get a row each; a refused queueing is told with its
    // reason, and the dialog offered again as the operator left it.
    void newMessageForGroup()
    {
        m_db->exec("CREATE TRIGGER locked BEFORE INSERT ON Messages WHEN NEW.Recipient = 3 "
                   "BEGIN SELECT RAISE(ABORT, 'database is locked'); END");

        DialogScript script({ [](QDialog* dlg) {
                                 QCOMPARE(selectedNames(dlg), QStringList());
                                 compose(dlg, "Theatre 2 ready", "Ward 4");
                             },
            [this](QDialog* dlg) {
                QCOMPARE(dlg->findChild<QPlainTextEdit*>("messageEdit")->toPlainText(),
                    QStringLiteral("Theatre 2 ready"));
                QCOMPARE(selectedNames(dlg), QStringList({ "Ann", "Cai" }));
                QCOMPARE(rows().size(), 4);
                m_db->exec("DROP TRIGGER locked");
                dlg->findChild<QPushButton*>("okButton")->click();
            } });
        ChooseFromContextMenu(
            *m_view, m_view->topLevelItem(MessagesCategory), ID_MESSAGES_NEWMESSAGE);

        QCOMPARE(script.played(), 2);
        QCOMPARE(m_prompt->shown.size(), 1);
        QVERIFY2(m_prompt->shown.first().startsWith("The message could not be queued: ")
                && m_prompt->shown.first().contains("locked"),
            qPrintable(m_prompt->shown.first()));
        const QString text = "Theatre 2 ready" + Suffix;
        QCOMPARE(rows().mid(4), QStringList({ "5 1 0 " + text, "5 3 0 " + text }));
        QCOMPARE(messageItems().size(), 3);
        QVERIFY(!m_view->topLevelItem(MessagesCategory)->isExpanded());
    }

    void historyOfAMessage_data()
    {
        QTest::addColumn<bool>("byDoubleClick");
        QTest::newRow("from the context menu") << false;
        QTest::newRow("by double click") << true;
    }

    // The tooltip and the history window of a message tell each recipient's state and every
    // attempt with the terminal's words; the tree's texts stay as they were.
    void historyOfAMessage()
    {
        QFETCH(bool, byDoubleClick);
        const QStringList texts = messageItems();
        RecordAttemptResult(
            { 1, 3, MessageStatus::Waiting, "300", "Metro", "511 Invalid Pager ID", std::nullopt });
        m_doc->ReloadAll();
        m_view->RefreshTree();
        m_view->expandAll();
        QCOMPARE(messageItems(), texts);

        const QPoint at = m_view->visualItemRect(messageItem(0)).center();
        QHelpEvent help(QEvent::ToolTip, at, m_view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(m_view->viewport(), &help);
        const QString states
            = "Ann: sent 2026-01-01 12:00:00\nBen: failed for good after 0 "
              "failed attempts, the last 2026-01-01 12:00:00\nCai: waiting, due "
              "2026-01-01 12:00:00, 1 failed attempt, the last 2026-03-10 09:00:00";
        QTRY_COMPARE(ShownText(QToolTip::text()), states);

        for (int opened = 0; opened < 2; ++opened) {
            if (byDoubleClick)
                QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
            else
                ChooseFromContextMenu(*m_view, messageItem(0), ID_MESSAGES_HISTORY);
        }
        const auto windows = m_view->findChildren<CMessageHistoryDlg*>();
        QCOMPARE(windows.size(), 1);
        QTRY_VERIFY(windows.first()->isVisible());
        QCOMPARE(tableRows(windows.first(), "recipientTable").join('\n'),
            QString(states).replace(": ", "|"));
        QCOMPARE(tableRows(windows.first(), "attemptTable"),
            QStringList { "2026-03-10 09:00:00|Cai|300|Metro|failed|511 Invalid Pager ID" });
        windows.first()->close();
        QTRY_VERIFY(m_view->findChildren<CMessageHistoryDlg*>().isEmpty());
    }

private:
    // Messages rows as "MessageId Recipient Status Text", in ID order.
    QStringList rows() const
    {
        return m_db->rows(
            "Messages", "MessageId || ' ' || Recipient || ' ' || Status || ' ' || Text");
    }
    QStringList messageItems() const
    {
        QStringList texts;
        for (int i = 0; i < m_view->topLevelItem(MessagesCategory)->childCount(); ++i)
            texts << messageItem(i)->text(0);
        return texts;
    }
    QTreeWidgetItem* messageItem(int index) const
    {
        return m_view->topLevelItem(MessagesCategory)->child(index);
    }

    std::unique_ptr<TempDatabase> m_db;
    std::unique_ptr<PresetPrompt> m_prompt;
    std::unique_ptr<FakeClock> m_clock;
    std::unique_ptr<CQuillpostDoc> m_doc;
    std::unique_ptr<CQuillpostTreeView> m_view;
};

QTEST_MAIN(TestMessageCommands)
#include "test_message_commands.moc"

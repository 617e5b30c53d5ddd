// The "Send a message" dialog driven as the operator does: typing and pasting into the
// text, clicking entries of the lists, "<<", OK, Enter and Escape.
#include "FakeClock.h"
#include "PresetPrompt.h"
#include "TempDatabase.h"
#include "data/QuillpostDoc.h"
#include "ui/SendMessageDlg.h"

#include <QClipboard>
#include <QDateEdit>
#include <QGuiApplication>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimeEdit>
#include <memory>

namespace {

using Ids = std::vector<std::int32_t>;

// Users 1 to 5 and groups 1 to 3 of every test; group 2 has no members.
constexpr std::int32_t Bob = 1, Alice = 2, Carol = 3, AliceToo = 4, Dave = 5;
constexpr std::int32_t Night = 1, Empty = 2, Day = 3;

// The text in the dialog (characters selected at its end), what is typed and pasted over
// it, what it then holds, whether a recipient is chosen, and OK's refusal (empty: none).
struct Text
{
    QString before;
    int selectFromEnd;
    QString typed, pasted, after;
    bool recipient = true;
    QString refusal = {};
};

} // namespace

class TestSendMessageDlg : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_db = std::make_unique<TempDatabase>();
        m_prompt = std::make_unique<PresetPrompt>();
        m_db->addGroup("night shift");
        m_db->addGroup("Empty");
        m_db->addGroup("Day shift");
        m_db->addUser("bob", "1", 0, { Night });
        m_db->addUser("Alice", "2", 0, { 0, Day, 0, Night });
        m_db->addUser("carol", "3", 0, { 0, 0, 0, 0, 0, 0, 0, 0, 0, Day });
        m_db->addUser("Alice", "4");
        m_db->addUser("Dave", "5");
        m_dlg = std::make_unique<CSendMessageDlg>();
    }

    void cleanup()
    {
        m_dlg.reset();
        m_prompt.reset();
        m_db.reset();
    }

    // Escape cancels and keeps the list handed in; Enter presses OK, which hands back the
    // users chosen in list order, one preselected but no longer known left out.
    void listsSortedEscapeCancelsEnterAccepts()
    {
        m_dlg->m_listRecipients = { 99, Carol };
        open();
        QCOMPARE(entries("userList"), QStringList({ "Alice", "Alice", "bob", "carol", "Dave" }));
        QCOMPARE(entries("groupList"), QStringList({ "Day shift", "Empty", "night shift" }));
        QCOMPARE(selectedUsers(), QStringList({ "carol#3" }));
        QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
        QCOMPARE(m_dlg->result(), int(QDialog::Rejected));
        QCOMPARE(m_dlg->m_listRecipients, Ids({ 99, Carol }));

        m_dlg->show();
        // Clicked in the order Dave, bob, the second Alice, then bob again (off).
        for (int row : { 4, 2, 1, 2 })
            click("userList", row);
        QTest::keyClicks(edit(), "Lift 3 stuck");
        QTest::keyClick(edit(), Qt::Key_Return);
        QCOMPARE(m_dlg->result(), int(QDialog::Accepted));
        QVERIFY(!m_dlg->isVisible());
        QCOMPARE(m_dlg->m_listRecipients, Ids({ AliceToo, Carol, Dave }));
        QCOMPARE(m_dlg->m_strMessage, QStringLiteral("Lift 3 stuck"));
    }

    void textAndOk_data()
    {
        QTest::addColumn<Text>("text");
        const QString t239(239, 't');
        QTest::newRow("typing stops at 240") << Text { "", 0, t239 + "xyz", "", t239 + "x" };
        QTest::newRow("paste cut to fit") << Text { t239, 0, "", "pasted", t239 + "p" };
        QTest::newRow("paste replaces the selection")
            << Text { t239, 4, "", "0123456789", QString(235, 't') + "01234" };
        QTest::newRow("line breaks pasted become spaces")
            << Text { "A", 0, "", "b\r\nc\nd\re", "Ab c d e" };
        QTest::newRow("typing over a selection at the limit")
            << Text { QString(240, 'u'), 1, "v", "", QString(239, 'u') + "v" };
        QTest::newRow("empty text, no recipient")
            << Text { "", 0, "", "", "", false, CSendMessageDlg::kNoTextMessage };
        QTest::newRow("no recipient")
            << Text { "Hi", 0, "", "", "Hi", false, CSendMessageDlg::kNoRecipientMessage };
        QTest::newRow("blanks only accepted") << Text { "   ", 0, "", "", "   " };
    }

    // The text holds at most 240 characters, however they come. OK refuses an empty text
    // before a missing recipient, and keeps everything as the operator left it.
    void textAndOk()
    {
        QFETCH(Text, text);
        const auto& [before, selectFromEnd, typed, pasted, after, recipient, refusal] = text;

        m_dlg->m_strMessage = before;
        open();
        QTextCursor cursor = edit()->textCursor();
        cursor.movePosition(QTextCursor::End);
        cursor.movePosition(QTextCursor::Left, QTextCursor::KeepAnchor, selectFromEnd);
        edit()->setTextCursor(cursor);
        if (!typed.isEmpty())
            QTest::keyClicks(edit(), typed);
        if (!pasted.isEmpty()) {
            QGuiApplication::clipboard()->setText(pasted);
            QTest::keySequence(edit(), QKeySequence::Paste);
        }
        QCOMPARE(edit()->toPlainText(), after);

        if (recipient)
            click("userList", 0);
        pressOk();
        QCOMPARE(m_prompt->shown, refusal.isEmpty() ? QStringList() : QStringList { refusal });
        QCOMPARE(m_dlg->isVisible(), !refusal.isEmpty());
        QCOMPARE(refusal.isEmpty() ? m_dlg->m_strMessage : edit()->toPlainText(), after);
    }

    void groupMembersSelected_data()
    {
        QTest::addColumn<Ids>("preselected");
        QTest::addColumn<QList<int>>("groupRows"); // rows of the group list clicked
        QTest::addColumn<QStringList>("selected");

        // Group list rows: 0 "Day shift", 1 "Empty", 2 "night shift".
        QTest::newRow("group without members")
            << Ids { Dave } << QList<int> { 1 } << QStringList { "Dave#5" };
        QTest::newRow("member of both groups, already selected, once")
            << Ids { Alice } << QList<int> { 0, 2 }
            << QStringList { "Alice#2", "bob#1", "carol#3" };
    }

    void groupMembersSelected()
    {
        QFETCH(Ids, preselected);
        QFETCH(QList<int>, groupRows);
        QFETCH(QStringList, selected);

        m_dlg->m_listRecipients = preselected;
        open();
        // A member added after the document was read is in no list: it selects nothing.
        m_db->addUser("Zed", "6", 0, { Night, Day, Empty });
        for (int row : groupRows)
            click("groupList", row);
        m_dlg->findChild<QPushButton*>("addGroupMembersButton")->click();

        QCOMPARE(selectedUsers(), selected);
        QVERIFY(list("groupList")->selectedItems().isEmpty());
    }

    void opensAtNowWhateverWasPreset_data()
    {
        QTest::addColumn<QDate>("date"); // chosen, at the time of day it opened with
        QTest::addColumn<QString>("refusal"); // part of what OK says; empty: accepted
        QTest::newRow("next year") << QDate(2027, 2, 28) << "";
        // In any zone: after the last second the program holds, before the first.
        QTest::newRow("after 2038") << QDate(2038, 1, 20) << "the latest time Quillpost can hold";
        QTest::newRow("before 1901")
            << QDate(1901, 12, 12) << "the earliest time Quillpost can hold";
    }

    void opensAtNowWhateverWasPreset()
    {
        QFETCH(QDate, date);
        QFETCH(QString, refusal);
        FakeClock clock(QDateTime(QDate(2026, 7, 1), QTime(23, 59, 58)));
        m_dlg->m_dateSend = COleDateTime(2020, 1, 2, 3, 4, 5);
        m_dlg->m_timeSend = COleDateTime(2020, 1, 2, 3, 4, 5);
        m_dlg->m_listRecipients = { Bob };
        m_dlg->m_strMessage = "Now";
        open();
        QCOMPARE(m_dlg->findChild<QDateEdit*>("dateSend")->date(), QDate(2026, 7, 1));
        QCOMPARE(m_dlg->findChild<QTimeEdit*>("timeSend")->time(), QTime(23, 59, 58));

        m_dlg->findChild<QDateEdit*>("dateSend")->setDate(date);
        clock.advance(3600);
        pressOk();
        QCOMPARE(m_dlg->m_dateSend.ToText().left(10), date.toString(Qt::ISODate));
        QCOMPARE(m_dlg->m_timeSend.ToText().mid(11), QStringLiteral("23:59:58"));
        QCOMPARE(m_prompt->shown.size(), refusal.isEmpty() ? 0 : 1);
        QVERIFY2(m_prompt->shown.join("").contains(refusal), qPrintable(m_prompt->shown.join("")));
        QCOMPARE(m_dlg->isVisible(), !refusal.isEmpty()); // open, as the operator left it
    }

private:
    void open()
    {
        CQuillpostDoc doc;
        doc.ReloadAll();
        m_dlg->FillChoices(doc);
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    }
    QListWidget* list(const char* name) const { return m_dlg->findChild<QListWidget*>(name); }
    QPlainTextEdit* edit() const { return m_dlg->findChild<QPlainTextEdit*>("messageEdit"); }
    // Clicks the entry of the list, as the operator toggles it.
    void click(const char* listName, int row) const
    {
        QListWidget* target = list(listName);
        QTest::mouseClick(target->viewport(), Qt::LeftButton, Qt::NoModifier,
            target->visualItemRect(target->item(row)).center());
    }
    // The entries of the list (only the selected ones, as "name#ID", when `selected`).
    QStringList entries(const char* listName, bool selected = false) const
    {
        QStringList names;
        for (int row = 0; row < list(listName)->count(); ++row) {
            QListWidgetItem* entry = list(listName)->item(row);
            if (!selected)
                names << entry->text();
            else if (entry->isSelected())
                names << QStringLiteral("%1#%2")
                             .arg(entry->text())
                             .arg(entry->data(Qt::UserRole).toInt());
        }
        return names;
    }
    QStringList selectedUsers() const { return entries("userList", true); }
    void pressOk() const { m_dlg->findChild<QPushButton*>("okButton")->click(); }

    std::unique_ptr<TempDatabase> m_db;
    std::unique_ptr<PresetPrompt> m_prompt;
    std::unique_ptr<CSendMessageDlg> m_dlg;
};

QTEST_MAIN(TestSendMessageDlg)
#include "test_send_message_dlg.moc"

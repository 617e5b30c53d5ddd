#include "DialogScript.h"
#include "PresetPrompt.h"
#include "ShownText.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "TreeMenus.h"
#include "app/AppSettings.h"
#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/MessageBoxPrompt.h"
#include "app/QuillpostApp.h"
#include "data/QuillpostDoc.h"
#include "dispatch/DispatcherLock.h"
#include "ui/QuillpostTreeView.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTest>
#include <QToolTip>
#include <memory>

class TestMainFrame : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_frame.reset();
        m_settings.reset();
        m_settings = std::make_unique<TempSettings>();
        m_doc = std::make_unique<CQuillpostDoc>();
        m_frame = std::make_unique<CMainFrame>(*m_doc, [] {});
    }

    // Each entry is its own command's action; one with nothing behind it is disabled. (The
    // toolbar holds the same actions, more of them with nothing behind them.)
    void menus()
    {
        QStringList entries;
        for (QAction* top : m_frame->menuBar()->actions()) {
            for (QAction* action : top->menu()->actions()) {
                if (!action->isSeparator()) // "menu text ID on|off"
                    entries << QStringLiteral("%1 %2 %3 %4")
                                   .arg(top->text(), action->text())
                                   .arg(action->data().toInt())
                                   .arg(action->isEnabled() ? "on" : "off");
                QVERIFY(action->isSeparator()
                    || m_frame->CommandAction(action->data().toInt()) == action);
            }
        }
        // No printing support is linked in, so there is no printer set-up to offer.
        QCOMPARE(entries,
            QStringList({ "&File &New\tCtrl+N 57600 off", "&File &Open...\tCtrl+O 57601 off",
                "&File P&rint Setup... 57606 off", "&File Recent File 57616 off",
                "&File E&xit 57665 on", "&View &Toolbar 59392 on", "&View &Status Bar 59393 on",
                "&Operations New &User 32773 on", "&Operations New &Group 32774 on",
                "&Operations New &Service Provider 32775 on", "&Operations New &Message 32771 on",
                "&System Select &Modem 32788 on", "&System Send &Lines 32790 on",
                "&Help &About Quillpost... 57664 on" }));
    }

    // A scheduler run that keeps the event loop busy (as a modal box or dialog does) must
    // not be entered again by the next tick: the timer is stopped during each run and
    // started again after it, unless the window was closed during the run.
    void timerNeverReentersScheduler()
    {
        QCOMPARE(m_frame->findChild<QTimer*>("schedulerTimer")->interval(), 5000);
        QVERIFY(m_frame->findChild<QTimer*>("schedulerTimer")->isActive());

        CMainFrame* frame = nullptr;
        int runs = 0;
        bool inside = false, reentered = false, timerRanDuringRun = false;
        const auto run = [&] {
            reentered = reentered || inside;
            inside = true;
            timerRanDuringRun
                = timerRanDuringRun || frame->findChild<QTimer*>("schedulerTimer")->isActive();
            QDialog dialog(frame);
            QTimer::singleShot(60, &dialog, &QDialog::accept);
            dialog.exec();
            if (++runs == 3)
                frame->close();
            inside = false;
        };
        CMainFrame fastFrame(*m_doc, run, 5);
        frame = &fastFrame;
        fastFrame.show();
        QTRY_COMPARE_WITH_TIMEOUT(runs, 3, 10000);
        QVERIFY(!reentered);
        QVERIFY(!timerRanDuringRun);
        QVERIFY(!fastFrame.findChild<QTimer*>("schedulerTimer")->isActive());
    }

    // The program shows the database's rows. Closing the window forgets the document; the
    // scheduler then does nothing, not even with a message queued meanwhile. (Starting
    // without a file, or on one it cannot read, is seen in test_bad_database_files.)
    void startsOnTheDatabase()
    {
        TempDatabase db;
        PresetPrompt prompt;
        CQuillpostApp app;
        const std::int32_t ann = db.addUser("Ann Lee", "555 0101");
        db.addUser("Bob Ray", "555 0102");
        db.addGroup("Night shift");
        db.addProvider("Metro Paging", "5550199", 1);
        queue(db, ann, "Call the office");
        QVERIFY(app.InitInstance());

        QVERIFY(!app.IsSendingDisabled() && app.MainFrame()->isVisible());
        QList<int> counts;
        for (int i = 0; i < app.TreeView()->topLevelItemCount(); ++i)
            counts << app.TreeView()->topLevelItem(i)->childCount();
        QCOMPARE(counts, QList<int>({ 2, 1, 1, 1 }));

        app.MainFrame()->close();
        QVERIFY(!app.Document());
        queue(db, 1, "Now");
        app.RunScheduler();
        QVERIFY(!app.IsSendInProgress());
        QCOMPARE(prompt.shown, QStringList());
    }

    void selectModem_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("picked"); // the dialog's entry chosen; empty: none
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("writable"); // the settings
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QStringList>("told");

        const QString accura = kLines[1], etendu = kLines[2], gone = "Gone modem";
        const QStringList none;
        QTest::newRow("punctuation kept") << etendu << accura << true << true << accura << none;
        QTest::newRow("Cancel keeps the stored name")
            << "Office" << etendu << false << true << "Office" << none;
        QTest::newRow("no entry chosen: the stored name stays")
            << gone << "" << true << true << gone
            << QStringList { "Cannot find designated modem - please set the modem name" };
        QTest::newRow("settings that cannot be written: the operator is told")
            << "Office" << accura << true << false << "Office"
            << QStringList { "Unable to save the modem name" };
    }

    // System, Select Modem over the lines configured: what the choice leaves stored, as the
    // next start reads it.
    void selectModem()
    {
        QFETCH(QString, stored);
        QFETCH(QString, picked);
        QFETCH(bool, ok);
        QFETCH(bool, writable);
        QFETCH(QString, saved);
        QFETCH(QStringList, told);
        ConfigureLines();
        QVERIFY(AppSettings::WriteModemName(stored));
        TempDatabase db;
        PresetPrompt prompt;
        CQuillpostApp app;
        QVERIFY(app.InitInstance());

        DialogScript script({ [&](QDialog* dlg) {
            auto* combo = dlg->findChild<QComboBox*>("modemCombo");
            combo->setCurrentIndex(picked.isEmpty() ? -1 : combo->findText(picked));
            if (!writable)
                m_settings->makeUnwritable();
            ok ? dlg->accept() : dlg->reject();
        } });
        app.MainFrame()->CommandAction(ID_SYSTEM_SELECTMODEM)->trigger();
        QCOMPARE(script.played(), 1);
        QCOMPARE(prompt.shown, told);
        QCOMPARE(
            QSettings(m_settings->filePath(), QSettings::IniFormat).value("Quillpost/Modem Name"),
            QVariant(saved));
        QVERIFY(!writable || AppSettings::ReadModemName() == saved);
    }

    void sendLines_data()
    {
        QTest::addColumn<QStringList>("stored"); // the send lines before
        QTest::addColumn<QString>("chosen"); // the entry's text
        QTest::addColumn<bool>("writable"); // the settings
        QTest::addColumn<QStringList>("shown"); // checkable entries "text on|off", then notes
        QTest::addColumn<QStringList>("saved"); // the send lines the file holds after

        const QString office = kLines[0], accura = kLines[1], etendu = kLines[2];
        const QString gone = "Gone & lost";
        const QString none = "None checked: the modem chosen with Select Modem sends alone";
        const auto entries = [&](const QStringList& on) {
            QStringList shown;
            for (const QString& line : kLines)
                shown << line + (on.contains(line) ? " on" : " off");
            return shown;
        };
        QTest::newRow("none stored: all listed, the note says who sends")
            << QStringList() << accura << true << entries({}) + QStringList { none }
            << QStringList { accura };
        QTest::newRow("a line added goes after the stored ones")
            << QStringList { etendu } << office << true << entries({ etendu })
            << QStringList { etendu, office };
        QTest::newRow("the last line taken away: the modem name alone sends")
            << QStringList { accura } << accura << true << entries({ accura }) << QStringList();
        QTest::newRow("a stored line no longer found can be taken away")
            << QStringList { gone, office } << "Gone && lost (not found)" << true
            << entries({ office }) + QStringList { "Gone && lost (not found) on" }
            << QStringList { office };
        QTest::newRow("settings that cannot be written: the operator is told")
            << QStringList { office } << accura << false << entries({ office })
            << QStringList { office };
    }

    // System, Send Lines lists every line device found, and a stored line no longer
    // found, checked when it is a send line; choosing an entry stores the list the next
    // start reads, quietly (no word of a modem name never chosen), and the program takes
    // the dispatcher lock while it has a line to send through.
    void sendLines()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, chosen);
        QFETCH(bool, writable);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, saved);
        ConfigureLines();
        QVERIFY(AppSettings::WriteSendLines(stored));
        TempDatabase db;
        PresetPrompt prompt;
        CQuillpostApp app;
        QVERIFY(app.InitInstance());

        QMenu* menu = app.MainFrame()->CommandAction(ID_SYSTEM_SENDLINES)->menu();
        QVERIFY(menu);
        menu->popup(app.MainFrame()->geometry().center());
        QStringList entries; // the machine's own serial ports left out
        QAction* entry = nullptr;
        for (QAction* action : menu->actions()) {
            if (action->text() == chosen)
                entry = action;
            if (!action->isCheckable() && !action->isSeparator())
                entries << action->text() + (action->isEnabled() ? " (enabled)" : "");
            else if (kLines.contains(action->data().toString())
                || stored.contains(action->data().toString()))
                entries << action->text() + (action->isChecked() ? " on" : " off");
        }
        QCOMPARE(entries, shown);
        QVERIFY(entry);
        if (!writable)
            m_settings->makeUnwritable();
        menu->setActiveAction(entry);
        QTest::keyClick(menu, Qt::Key_Return);

        QCOMPARE(prompt.shown,
            writable ? QStringList() : QStringList { "Unable to save the send lines" });
        const QSettings file(m_settings->filePath(), QSettings::IniFormat);
        QCOMPARE(file.contains("Quillpost/Send Lines"), !saved.isEmpty());
        QCOMPARE(file.value("Quillpost/Send Lines").toStringList(), saved);
        CDispatcherLock probe(QStringLiteral("probe"));
        QCOMPARE(probe.TryAcquire(), !writable || saved.isEmpty());
    }

    // While another program holds the dispatcher lock the window says who it is and sends
    // nothing, but shows what other programs queue; once the lock is free it takes over,
    // and lets it go again once sending is switched off, for a dispatcher that can send.
    void sharesTheDatabaseWithAnotherDispatcher()
    {
        TempDatabase db;
        PresetPrompt prompt;
        QVERIFY(AppSettings::WriteModemName("Office"));
        CQuillpostApp app;
        const std::int32_t ann = db.addUser("Ann Lee", "555 0101");
        db.addProvider("Metro Paging", "5550199", 1);
        CDispatcherLock other(QStringLiteral("quillpost --headless"));
        QVERIFY(other.TryAcquire());
        QVERIFY(app.InitInstance());
        const auto* pane = app.MainFrame()->findChild<QLabel*>("dispatcherStatus");
        QVERIFY(pane && pane->isVisible());
        QVERIFY2(
            pane->text().startsWith("Another dispatcher is sending: quillpost --headless (process "
                + QString::number(QCoreApplication::applicationPid())),
            qPrintable(pane->text()));

        queue(db, ann, "Call the office");
        app.RunScheduler();
        QCOMPARE(app.TreeView()->topLevelItem(3)->childCount(), 1);
        QVERIFY(!app.IsSendInProgress());
        QVERIFY(pane->isVisible());

        db.exec("UPDATE Messages SET Status = 1"); // nothing to send: only the lock is wanted
        other.Release();
        app.RunScheduler();
        QVERIFY(!pane->isVisible());
        CDispatcherLock probe(QStringLiteral("probe"));
        QVERIFY(!probe.TryAcquire());
        QVERIFY2(probe.RefusalReason().startsWith("the Quillpost desktop program"),
            qPrintable(probe.RefusalReason()));

        app.DisableSending();
        app.RunScheduler();
        QVERIFY(probe.TryAcquire());
        QVERIFY(!pane->isVisible());
        QVERIFY(prompt.shown.isEmpty());
    }

    void storedTextShownAsItIs_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("heading") << R"(<h1 style="color:red">BIG</h1>)";
        // A path that does not exist: a regression must fail, not read a device for good.
        QTest::newRow("picture") << R"(<img src="/nonexistent/quillpost.png">)";
        QTest::newRow("entities and two spaces") << "Tom &lt;3  &amp; Jerry";
    }

    // A user named in markup is shown character for character: in the tooltip of a
    // message to them and Bob (one line each), in the delete question (in a real message
    // box), and as the holder of the dispatcher lock in the status bar and its tooltip.
    void storedTextShownAsItIs()
    {
        QFETCH(QString, name);
        TempDatabase db;
        MessageBoxPrompt prompt([] { return nullptr; });
        CQuillpostApp app;
        db.addMessageRow(db.addUser(name, "555 0101"), 1, "Call", 1);
        db.addMessageRow(db.addUser("Bob Ray", "555 0102"), 1, "Call", 1);
        QVERIFY(app.InitInstance());
        CQuillpostTreeView& view = *app.TreeView();
        view.expandAll();

        const QPoint at = view.visualItemRect(view.topLevelItem(3)->child(0)).center();
        QHelpEvent help(QEvent::ToolTip, at, view.viewport()->mapToGlobal(at));
        QApplication::sendEvent(view.viewport(), &help);
        QCOMPARE(ShownText(QToolTip::text()),
            name + ": sent 2026-01-01 12:00:00\nBob Ray: sent 2026-01-01 12:00:00");
        QToolTip::hideText();

        QString asked;
        DialogScript script({ [&asked](QDialog* dlg) {
            auto* box = qobject_cast<QMessageBox*>(dlg);
            QVERIFY(box);
            asked = ShownText(box->text(), box->textFormat());
            box->button(QMessageBox::No)->click();
        } });
        ChooseFromContextMenu(view, view.topLevelItem(0)->child(0), ID_USERS_DELETEUSER);
        QCOMPARE(asked, "Are you sure you want to delete user " + name);

        app.MainFrame()->ShowOtherDispatcher(name);
        const auto* pane = app.MainFrame()->findChild<QLabel*>("dispatcherStatus");
        const QString notice = "Another dispatcher is sending: " + name;
        QCOMPARE(ShownText(pane->text(), pane->textFormat()), notice);
        QCOMPARE(ShownText(pane->toolTip()), notice);
    }

private:
    // The lines of kLines, configured for the machine.
    void ConfigureLines() const
    {
        QSettings settings("Northmoor", "Quillpost");
        settings.beginWriteArray("Lines");
        for (int i = 0; i < kLines.size(); ++i) {
            settings.setArrayIndex(i);
            settings.setValue("name", kLines[i]);
            settings.setValue("device", "/dev/null");
        }
        settings.endArray();
    }

    // A message of its own for the user, due at once.
    static void queue(const TempDatabase& db, std::int32_t user, const QString& text)
    {
        db.exec(
            "UPDATE Messages SET MessageId = ID WHERE ID = ?", { db.addMessageRow(user, 0, text) });
    }

    // The lines configured for Select Modem, names with punctuation and beyond ASCII.
    const QStringList kLines { "Office", "Hayes = \"Accura\"; #2 [COM3]",
        QString::fromUtf8("Modem \xc3\xa9tendu \xe2\x84\x96 5") };
    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<CQuillpostDoc> m_doc;
    std::unique_ptr<CMainFrame> m_frame;
};

QTEST_MAIN(TestMainFrame)
#include "test_main_frame.moc"

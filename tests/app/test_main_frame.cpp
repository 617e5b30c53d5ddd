#include "DialogScript.h"
#include "PostgresCluster.h"
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
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoRecordset.h"
#include "platform/db/DatabaseSchema.h"
#include "ui/QuillpostTreeView.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTest>
#include <QToolTip>
#include <memory>

class TestMainFrame : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_settings = std::make_unique<TempSettings>();
        // Lines named with punctuation and beyond ASCII, for Select Modem and Send Lines.
        QSettings settings("Northmoor", "Quillpost");
        settings.setValue("Lines/size", kLines.size());
        for (int i = 0; i < kLines.size(); ++i) {
            settings.setValue(QString("Lines/%1/name").arg(i + 1), kLines[i]);
            settings.setValue(QString("Lines/%1/device").arg(i + 1), "/dev/null");
        }
    }
    void cleanup() { m_settings.reset(); }

    // A scheduler run that keeps the event loop busy (as a modal box or dialog does) must
    // not be entered again by the next tick: the timer is stopped during each run and
    // started again after it, unless the window was closed during the run.
    void timerNeverReentersScheduler()
    {
        CQuillpostDoc doc;
        CMainFrame* frame = nullptr;
        int runs = 0;
        bool inside = false, reentered = false;
        const auto run = [&] {
            reentered = reentered || inside;
            inside = true;
            QDialog dialog(frame);
            QTimer::singleShot(60, &dialog, &QDialog::accept);
            dialog.exec();
            if (++runs == 3)
                frame->close();
            inside = false;
        };
        CMainFrame fastFrame(doc, run, 5);
        frame = &fastFrame;
        fastFrame.show();
        QTRY_COMPARE_WITH_TIMEOUT(runs, 3, 10000);
        QVERIFY(!reentered && !fastFrame.findChild<QTimer*>("schedulerTimer")->isActive());
    }

    // The scheduler runs every five seconds until the window closes, which forgets the
    // document; it then does nothing, though a message is due.
    void closedWindowStopsTheScheduler()
    {
        QVERIFY(AppSettings::WriteModemName("Office"));
        TempDatabase db;
        PresetPrompt prompt;
        CQuillpostApp app;
        db.addMessageRow(db.addUser("Ann Lee", "555 0101"), 1, "Call the office");
        db.addProvider("Metro Paging", "5550199", 1);
        QVERIFY(app.InitInstance());
        QCOMPARE(app.MainFrame()->findChild<QTimer*>("schedulerTimer")->interval(), 5000);

        app.MainFrame()->close();
        app.RunScheduler();
        QVERIFY(!app.IsSendInProgress() && prompt.shown.isEmpty());
    }

    void selectModem_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("picked"); // the dialog's entry chosen; empty: none
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("writable"); // the settings
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("told"); // empty: nothing
        const auto row = [](const char* name, const QString& stored, const QString& picked, bool ok,
                             bool writable, const QString& saved, const QString& told) {
            QTest::newRow(name) << stored << picked << ok << writable << saved << told;
        };
        row("punctuation kept", kLines[2], kLines[1], true, true, kLines[1], "");
        row("Cancel", "Office", kLines[2], false, true, "Office", "");
        row("no entry chosen", "Gone", "", true, true, "Gone",
            "Cannot find designated modem - please set the modem name");
        row("settings that cannot be written", "Office", kLines[1], true, false, "Office",
            "Unable to save the modem name");
    }

    // System, Select Modem: what the choice leaves stored, as the next start reads it.
    void selectModem()
    {
        QFETCH(QString, stored);
        QFETCH(QString, picked);
        QFETCH(bool, ok);
        QFETCH(bool, writable);
        QFETCH(QString, saved);
        QFETCH(QString, told);
        QVERIFY(AppSettings::WriteModemName(stored));
        TempDatabase db;
        PresetPrompt prompt;
        CQuillpostApp app;
        QVERIFY(app.InitInstance());

        DialogScript script({ [&](QDialog* dlg) {
            QCOMPARE(dlg->windowTitle(), "Select the mdoem that you want to use");
            auto* combo = dlg->findChild<QComboBox*>("modemCombo");
            combo->setCurrentIndex(picked.isEmpty() ? -1 : combo->findText(picked));
            if (!writable)
                m_settings->makeUnwritable();
            ok ? dlg->accept() : dlg->reject();
        } });
        app.MainFrame()->CommandAction(ID_SYSTEM_SELECTMODEM)->trigger();
        QCOMPARE(prompt.shown, told.isEmpty() ? QStringList() : QStringList { told });
        QCOMPARE(storedSetting("Modem Name"), QVariant(saved));
    }

    void sendLines_data()
    {
        QTest::addColumn<QStringList>("stored"); // the send lines before
        QTest::addColumn<QString>("chosen"); // the entry's text
        QTest::addColumn<bool>("writable"); // the settings
        QTest::addColumn<QStringList>("after"); // the entries after those of the line devices
        QTest::addColumn<QStringList>("saved"); // the send lines the file holds after
        const QString office = kLines[0], accura = kLines[1], etendu = kLines[2];
        const auto row = [](const char* name, const QStringList& stored, const QString& chosen,
                             bool writable, const QStringList& after, const QStringList& saved) {
            QTest::newRow(name) << stored << chosen << writable << after << saved;
        };
        row("none stored: all listed, the note says who sends", {}, accura, true,
            { "None checked: the modem chosen with Select Modem sends alone" }, { accura });
        row("a line added goes after the stored ones", { etendu }, office, true, {},
            { etendu, office });
        // The modem name alone sends then: the setting goes, and the lock with it.
        row("the last line, no longer found, taken away", { "Gone & lost" },
            "Gone && lost (not found)", true, { "Gone && lost (not found) on" }, {});
        row("settings that cannot be written", { office }, accura, false, {}, { office });
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
        QFETCH(QStringList, after);
        QFETCH(QStringList, saved);
        QVERIFY(AppSettings::WriteSendLines(stored));
        TempDatabase db;
        PresetPrompt prompt;
        CQuillpostApp app;
        QVERIFY(app.InitInstance());

        QMenu* menu = app.MainFrame()->CommandAction(ID_SYSTEM_SENDLINES)->menu();
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
        QStringList shown; // every line device, checked when it is a send line
        for (const QString& line : kLines)
            shown << line + (stored.contains(line) ? " on" : " off");
        QCOMPARE(entries, shown + after);
        if (!writable)
            m_settings->makeUnwritable();
        menu->setActiveAction(entry);
        QTest::keyClick(menu, Qt::Key_Return);

        QCOMPARE(prompt.shown,
            writable ? QStringList() : QStringList { "Unable to save the send lines" });
        QCOMPARE(storedSetting("Send Lines").isValid(), !saved.isEmpty()); // none: the key goes
        QCOMPARE(storedSetting("Send Lines").toStringList(), saved);
        CDispatcherLock probe(QStringLiteral("probe"));
        QCOMPARE(probe.TryAcquire(), !writable || saved.isEmpty());
    }

    // While another program holds the dispatcher lock the window says who it is and sends
    // nothing, but shows what other programs queue; once the lock is free it takes over,
    // and lets it go again once sending is switched off, for a dispatcher that can send.
    void sharesTheDatabaseWithAnotherDispatcher()
    {
        QVERIFY(AppSettings::WriteModemName("Office"));
        TempDatabase db;
        PresetPrompt prompt;
        CQuillpostApp app;
        const std::int32_t ann = db.addUser("Ann Lee", "555 0101");
        db.addProvider("Metro Paging", "5550199", 1);
        CDispatcherLock other(QStringLiteral("<b>quillpost</b> --headless"));
        QVERIFY(other.TryAcquire());
        QVERIFY(app.InitInstance());
        const auto* pane = app.MainFrame()->findChild<QLabel*>("dispatcherStatus");
        // The holder is shown as it named itself, markup and all, in the tooltip too.
        const QString notice = "Another dispatcher is sending: <b>quillpost</b> --headless (";
        QVERIFY(ShownText(pane->text(), pane->textFormat()).startsWith(notice));
        QVERIFY(ShownText(pane->toolTip()).startsWith(notice));

        db.addMessageRow(ann, 1, "Call the office");
        app.RunScheduler();
        QCOMPARE(app.TreeView()->topLevelItem(3)->childCount(), 1);
        QVERIFY(!app.IsSendInProgress() && pane->isVisible());

        db.exec("UPDATE Messages SET Status = 1"); // nothing to send: only the lock is wanted
        other.Release();
        app.RunScheduler();
        CDispatcherLock probe(QStringLiteral("probe"));
        QVERIFY(!probe.TryAcquire());
        QVERIFY(probe.RefusalReason().startsWith("the Quillpost desktop program"));

        app.DisableSending();
        app.RunScheduler();
        QVERIFY(probe.TryAcquire() && !pane->isVisible());
        QVERIFY(prompt.shown.isEmpty());
    }

    void storedTextShownAsItIs_data()
    {
        QTest::addColumn<QString>("name");
        // A path that does not exist: a regression must fail, not read a device for good.
        QTest::newRow("markup")
            << R"(<h1 style="color:red">BIG</h1><img src="/nonexistent/q.png">)";
        QTest::newRow("entities and two spaces") << "Tom &lt;3  &amp; Jerry";
    }

    // A user named in markup is shown character for character: in the tooltip of a
    // message to them and Bob (one line each), and in the delete question (in a real
    // message box).
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
            asked = ShownText(box->text(), box->textFormat());
            box->button(QMessageBox::No)->click();
        } });
        ChooseFromContextMenu(view, view.topLevelItem(0)->child(0), ID_USERS_DELETEUSER);
        QCOMPARE(asked, "Are you sure you want to delete user " + name);
    }

    // Desks on one database on a PostgreSQL server (a throwaway cluster of the test's
    // own): what another desk queues is read at the run the change brings forward, long
    // before the interval of ten minutes; a server that goes away is told once, keeps the
    // lists as read, and is read again when it is back.
    void deskOnADatabaseServer()
    {
        PostgresCluster cluster;
        QVERIFY2(cluster.Start(), qPrintable(cluster.Error()));
        CreateQuillpostDatabase(cluster.Url());
        CDaoRecordset::SetDefaultDatabaseName(cluster.Url());
        const auto restore
            = qScopeGuard([] { CDaoRecordset::SetDefaultDatabaseName("Quillpost.mdb"); });
        // A message queued as another desk does: a row written on a connection of its own.
        const QString queue
            = "INSERT INTO Messages (Recipient, MessageCount, MessageId, Text, "
              "SendTime, RequestTime, RequiredSendTime) VALUES (1, 1, ?, ?, "
              "'2026-01-01 12:00:00', '2026-01-01 12:00:00', '2026-01-01 12:00:00')";
        PresetPrompt prompt;
        CQuillpostApp app;
        app.SetPeriods(600000, {});
        QVERIFY(app.InitInstance());
        CQuillpostDoc& doc = *app.Document();
        DaoConnection(cluster.Url()).Execute(queue, { 1, "Theatre 2 ready" }, "queue");
        QTRY_COMPARE_WITH_TIMEOUT(doc.m_messages.size(), std::size_t(1), 20000);

        cluster.Stop();
        QTRY_VERIFY_WITH_TIMEOUT((doc.ReloadIfChanged(), !prompt.shown.isEmpty()), 20000);
        QVERIFY(!doc.ReloadIfChanged());
        QVERIFY(prompt.shown.front().startsWith("The database server cannot be reached just now"));
        QCOMPARE(doc.m_messages.size(), std::size_t(1));
        QVERIFY(!doc.ServerFault().isEmpty()); // which holds the scheduler back

        QVERIFY2(cluster.Start(), qPrintable(cluster.Error()));
        DaoConnection(cluster.Url())
            .Execute(queue, { 2, "Queued while the desk was cut off" }, "queue");
        QTRY_COMPARE_WITH_TIMEOUT(
            (doc.ReloadIfChanged(), doc.m_messages.size()), std::size_t(2), 20000);
        QCOMPARE(prompt.shown.size(), 1);
    }

private:
    QVariant storedSetting(const QString& key) const
    {
        return QSettings(m_settings->filePath(), QSettings::IniFormat).value("Quillpost/" + key);
    }

    const QStringList kLines { "Office", "Hayes = \"Accura\"; #2 [COM3]",
        QString::fromUtf8("Modem \xc3\xa9tendu \xe2\x84\x96 5") };
    std::unique_ptr<TempSettings> m_settings;
};

QTEST_MAIN(TestMainFrame)
#include "test_main_frame.moc"

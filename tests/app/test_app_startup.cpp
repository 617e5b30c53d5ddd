#include "ModalWatcher.h"
#include "PresetPrompt.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/QuillpostApp.h"
#include "data/QuillpostDoc.h"
#include "ui/QuillpostTreeView.h"

#include <QComboBox>
#include <QDialog>
#include <QSettings>
#include <QTest>
#include <memory>

namespace {

const QString kLoadFailed
    = "Unable to open database properly - check database is in working directory";

QStringList childTexts(const QTreeWidgetItem* category)
{
    QStringList texts;
    for (int i = 0; i < category->childCount(); ++i)
        texts << category->child(i)->text(0);
    return texts;
}

} // namespace

class TestAppStartup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsWithEmptyModemName();
    void modemNameRoundTrip_data();
    void modemNameRoundTrip();
    void modemNameStoredWhereExpected();
    void failedSaveIsReported();
    void startsWithoutDatabase();
    void startsWithDatabaseRows();
    void closingWindowForgetsDocument();
    void selectModemStoresChosenName();

private:
    std::unique_ptr<TempSettings> m_settings;
};

void TestAppStartup::init()
{
    m_settings = std::make_unique<TempSettings>();
}

void TestAppStartup::cleanup()
{
    m_settings.reset();
}

void TestAppStartup::startsWithEmptyModemName()
{
    TempDatabase db;
    PresetPrompt prompt;
    CQuillpostApp app;
    QVERIFY(app.InitInstance());

    QVERIFY(app.m_strModemName.isEmpty());
    QVERIFY(!app.m_bSendInProgress);
    QVERIFY(!app.m_bSendingDisabled);
    QVERIFY(app.m_pTreeView);
    QVERIFY(app.m_pDoc);
    QCOMPARE(app.m_pDoc, app.m_pTreeView->GetDocument());
    QVERIFY(app.MainFrame()->isVisible());
    QCOMPARE(app.MainFrame()->View(), app.m_pTreeView);
    QVERIFY(prompt.shown.isEmpty());
}

void TestAppStartup::modemNameRoundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "Standard 56000 bps Modem";
    QTest::newRow("punctuation") << "Hayes = \"Accura\"; #2 [COM3]";
    QTest::newRow("non-ASCII") << QString::fromUtf8("Modem \xc3\xa9tendu \xe2\x84\x96 5");
    QTest::newRow("path-like") << "/dev/ttyUSB0 \\ line";
}

void TestAppStartup::modemNameRoundTrip()
{
    QFETCH(QString, name);
    TempDatabase db;
    PresetPrompt prompt;
    {
        CQuillpostApp app;
        QVERIFY(app.InitInstance());
        app.m_strModemName = name;
        app.SaveModemName();
    }
    CQuillpostApp app;
    QVERIFY(app.InitInstance());
    QCOMPARE(app.m_strModemName, name);
    QVERIFY(prompt.shown.isEmpty());
}

void TestAppStartup::modemNameStoredWhereExpected()
{
    TempDatabase db;
    PresetPrompt prompt;
    CQuillpostApp app;
    QVERIFY(app.InitInstance());
    app.m_strModemName = "Line 7";
    app.SaveModemName();

    QVERIFY(QFile::exists(m_settings->filePath()));
    QSettings stored(m_settings->filePath(), QSettings::IniFormat);
    QCOMPARE(stored.value("Quillpost/Modem Name").toString(), QString("Line 7"));
}

void TestAppStartup::failedSaveIsReported()
{
    TempDatabase db;
    PresetPrompt prompt;
    CQuillpostApp app;
    QVERIFY(app.InitInstance());
    m_settings->makeUnwritable();
    app.m_strModemName = "Line 7";
    app.SaveModemName();
    QCOMPARE(prompt.shown, QStringList("Unable to save the modem name"));
}

void TestAppStartup::startsWithoutDatabase()
{
    TempDatabase db(TempDatabase::Content::NoFile);
    PresetPrompt prompt;
    CQuillpostApp app;
    QVERIFY(app.InitInstance());

    QCOMPARE(prompt.shown, QStringList(kLoadFailed));
    QVERIFY(!QFile::exists(db.filePath()));
    QVERIFY(app.m_pDoc);
    QVERIFY(app.m_pDoc->m_users.empty());
    QVERIFY(app.m_pDoc->m_messages.empty());

    CQuillpostTreeView* view = app.m_pTreeView;
    QCOMPARE(view->topLevelItemCount(), 4);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(view->topLevelItem(i)->childCount(), 0);
    QVERIFY(app.MainFrame()->isVisible());

    // The program runs on: a scheduler tick on the empty document is harmless.
    app.RunScheduler();
    QCOMPARE(prompt.shown.size(), 1);
}

void TestAppStartup::startsWithDatabaseRows()
{
    TempDatabase db;
    const std::int32_t ann = db.addUser("Ann Lee", "555 0101");
    const std::int32_t bob = db.addUser("Bob Ray", "555 0102");
    db.addGroup("Night shift");
    db.addProvider("Metro Paging", "5550199", 1);
    const std::int32_t first = db.addMessageRow(ann, 0, "Call the office");
    db.exec("UPDATE Messages SET MessageId = ID WHERE ID = ?", { first });
    db.addMessageRow(bob, first, "Call the office");

    PresetPrompt prompt;
    CQuillpostApp app;
    QVERIFY(app.InitInstance());
    QVERIFY(prompt.shown.isEmpty());

    CQuillpostTreeView* view = app.m_pTreeView;
    QCOMPARE(view->topLevelItemCount(), 4);
    QCOMPARE(childTexts(view->topLevelItem(0)), QStringList({ "Ann Lee", "Bob Ray" }));
    QCOMPARE(childTexts(view->topLevelItem(1)), QStringList("Night shift"));
    QCOMPARE(childTexts(view->topLevelItem(2)), QStringList("Metro Paging"));
    QCOMPARE(childTexts(view->topLevelItem(3)), QStringList("Call the office"));
    QCOMPARE(view->MessageRecords().front()->m_id, first);
}

void TestAppStartup::closingWindowForgetsDocument()
{
    TempDatabase db;
    PresetPrompt prompt;
    CQuillpostApp app;
    QVERIFY(app.InitInstance());
    QVERIFY(app.m_pDoc);

    app.MainFrame()->close();
    QVERIFY(!app.m_pDoc);
    // With no document the scheduler does nothing.
    app.RunScheduler();
    QVERIFY(!app.m_bSendInProgress);
}

void TestAppStartup::selectModemStoresChosenName()
{
    TempDatabase db;
    PresetPrompt prompt;
    CQuillpostApp app;
    QVERIFY(app.InitInstance());

    int listed = -1;
    QString chosen;
    ModalWatcher watcher(ModalWatcher::Kind::Dialog, [&](QWidget* widget) {
        auto* dialog = qobject_cast<QDialog*>(widget);
        auto* combo = widget->findChild<QComboBox*>();
        if (!dialog || !combo)
            return;
        listed = combo->count();
        if (listed > 0) {
            combo->setCurrentIndex(listed - 1);
            chosen = combo->currentText();
            dialog->accept();
        }
    });
    app.MainFrame()->CommandAction(ID_SYSTEM_SELECTMODEM)->trigger();
    QVERIFY(watcher.seen());
    if (listed <= 0)
        QSKIP("this machine lists no line devices");

    QCOMPARE(app.m_strModemName, chosen);
    QSettings stored(m_settings->filePath(), QSettings::IniFormat);
    QCOMPARE(stored.value("Quillpost/Modem Name").toString(), chosen);
}

QTEST_MAIN(TestAppStartup)
#include "test_app_startup.moc"

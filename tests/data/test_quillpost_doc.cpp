// The document: loading all four tables, splitting message rows into messages,
// partial loads after a failure, the provider lookups and deep copies of a message.
#include "PresetPrompt.h"
#include "TempDatabase.h"
#include "data/QuillTime.h"
#include "data/QuillpostDoc.h"

#include <QTest>

namespace {

const QString LoadFailed = QStringLiteral("Unable to open database properly - check database is in working directory");

} // namespace

class TestQuillpostDoc : public QObject
{
    Q_OBJECT

private slots:
    void emptyDatabaseGivesFourEmptyLists();
    void everyColumnReachesItsField();
    void messagesAreRunsOfEqualMessageIds_data();
    void messagesAreRunsOfEqualMessageIds();
    void messageTakesTheFirstRowsStatus();
    void reloadReplacesEveryObject();
    void missingTableKeepsWhatWasLoadedBefore_data();
    void missingTableKeepsWhatWasLoadedBefore();
    void missingFileIsReportedOnEveryLoadAndNotCreated();
    void findProvider_data();
    void findProvider();
    void providerOfAUser_data();
    void providerOfAUser();
    void telephoneNumberOfUnknownUserIsEmpty();
    void copyOfAMessageSharesNothing();
    void deleteContentsForgetsTheDocumentAndEmptiesIt();
    void newDocumentLoadsEvenAfterAFailure();
};

void TestQuillpostDoc::emptyDatabaseGivesFourEmptyLists()
{
    TempDatabase db;
    PresetPrompt prompt;
    CQuillpostDoc doc;
    doc.ReloadAll();
    QVERIFY(doc.m_users.empty() && doc.m_groups.empty() && doc.m_messages.empty() && doc.m_providers.empty());
    QVERIFY(prompt.shown.isEmpty());
    QCOMPARE(doc.FindProvider(0), nullptr);
    QCOMPARE(doc.FindProviderForUser(1), nullptr);
}

void TestQuillpostDoc::everyColumnReachesItsField()
{
    TempDatabase db;
    const int user = db.addUser(QStringLiteral("Ann Hale"), QStringLiteral("07700900123"), 4, { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 });
    const int group = db.addGroup(QStringLiteral("Wardens"));
    db.exec(QStringLiteral("INSERT INTO ServiceProviders (ServiceName, AccessNumber, BaudRate, StopBits, Parity, "
                           "DataBits, TAPType, UseAsDefault, Password) VALUES ('North', '01632960100', 2400, 2, 2, 8, 1, 1, 'secret')"));
    db.exec(QStringLiteral("INSERT INTO Messages (Recipient, MessageCount, MessageId, Text, Status, SendTime, RequestTime, "
                           "RequiredSendTime, Retries) VALUES (?, 1, 1, 'Gate code changed', 2, '2026-03-01 08:00:05', "
                           "'2026-03-01 08:00:00', '2026-03-02 07:30:00', 4)"),
            { user });
    PresetPrompt prompt;
    CQuillpostDoc doc;
    doc.ReloadAll();
    QVERIFY(prompt.shown.isEmpty());

    QCOMPARE(doc.m_users.size(), 1u);
    const CUser& u = *doc.m_users.front();
    QCOMPARE(u.m_id, user);
    QCOMPARE(u.m_name, QStringLiteral("Ann Hale"));
    QCOMPARE(u.m_telephoneNumber, QStringLiteral("07700900123"));
    QCOMPARE(u.m_preferredProvider, 4);
    QCOMPARE(u.m_groupIds, (std::array<std::int32_t, 10> { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 }));

    QCOMPARE(doc.m_groups.front()->m_id, group);
    QCOMPARE(doc.m_groups.front()->m_name, QStringLiteral("Wardens"));

    const CServiceProvider& p = *doc.m_providers.front();
    QCOMPARE(p.m_serviceName, QStringLiteral("North"));
    QCOMPARE(p.m_accessNumber, QStringLiteral("01632960100"));
    QCOMPARE((QList<int> { p.m_baudRate, p.m_stopBits, p.m_parity, p.m_dataBits, p.m_tapType }), (QList<int> { 2400, 2, 2, 8, 1 }));
    QVERIFY(p.m_useAsDefault);

    const CSendJob& job = *doc.m_messages.front();
    QCOMPARE(job.m_text, QStringLiteral("Gate code changed"));
    QCOMPARE(job.m_status, 2);
    QCOMPARE(job.m_messageId, 1);
    QCOMPARE(job.m_requestTime, ToQuillTime(COleDateTime(2026, 3, 1, 8, 0, 0)));
    QCOMPARE(job.m_requiredSendTime, ToQuillTime(COleDateTime(2026, 3, 2, 7, 30, 0)));
    QCOMPARE(job.m_recipients.front()->m_recipient, user);
    QCOMPARE(job.m_recipients.front()->m_sendTime, ToQuillTime(COleDateTime(2026, 3, 1, 8, 0, 5)));
}

void TestQuillpostDoc::messagesAreRunsOfEqualMessageIds_data()
{
    QTest::addColumn<QList<int>>("messageIds"); // of the rows, in table order
    QTest::addColumn<QList<int>>("entriesPerMessage");
    QTest::newRow("5 5 7 5") << QList<int> { 5, 5, 7, 5 } << QList<int> { 2, 1, 1 };
    QTest::newRow("one message") << QList<int> { 9, 9, 9 } << QList<int> { 3 };
    QTest::newRow("alternating") << QList<int> { 1, 2, 1, 2 } << QList<int> { 1, 1, 1, 1 };
    // -1 is where the previous MessageId starts; the first row still makes a message.
    QTest::newRow("minus one first") << QList<int> { -1, -1, 0 } << QList<int> { 2, 1 };
}

void TestQuillpostDoc::messagesAreRunsOfEqualMessageIds()
{
    QFETCH(QList<int>, messageIds);
    QFETCH(QList<int>, entriesPerMessage);
    TempDatabase db;
    QList<int> rowIds;
    for (int i = 0; i < messageIds.size(); ++i)
        rowIds.append(db.addMessageRow(100 + i, messageIds[i], QStringLiteral("text %1").arg(messageIds[i])));

    PresetPrompt prompt;
    CQuillpostDoc doc;
    doc.ReloadAll();

    QList<int> entries;
    int row = 0;
    for (const auto& job : doc.m_messages) {
        entries.append(int(job->m_recipients.size()));
        QCOMPARE(job->m_id, rowIds[row]);
        QCOMPARE(job->m_messageId, messageIds[row]);
        for (const auto& entry : job->m_recipients) {
            QCOMPARE(entry->m_recipient, 100 + row);
            QCOMPARE(entry->m_messageId, messageIds[row]);
            ++row;
        }
    }
    QCOMPARE(entries, entriesPerMessage);
    QCOMPARE(row, messageIds.size());
}

void TestQuillpostDoc::messageTakesTheFirstRowsStatus()
{
    TempDatabase db;
    db.addMessageRow(1, 5, QStringLiteral("first"), 1, QStringLiteral("2026-05-01 10:00:00"));
    db.addMessageRow(2, 5, QStringLiteral("second"), 0, QStringLiteral("2026-06-01 10:00:00"));
    PresetPrompt prompt;
    CQuillpostDoc doc;
    doc.ReloadAll();
    QCOMPARE(doc.m_messages.size(), 1u);
    const CSendJob& job = *doc.m_messages.front();
    QCOMPARE(job.m_status, 1);
    QCOMPARE(job.m_text, QStringLiteral("first"));
    QCOMPARE(job.m_requiredSendTime, ToQuillTime(COleDateTime(2026, 5, 1, 10, 0, 0)));
    QCOMPARE(job.m_recipients[0]->m_status, 1);
    QCOMPARE(job.m_recipients[1]->m_status, 0);
}

void TestQuillpostDoc::reloadReplacesEveryObject()
{
    TempDatabase db;
    db.addUser(QStringLiteral("Ann"), QStringLiteral("1"));
    db.addMessageRow(1, 1, QStringLiteral("a"));
    PresetPrompt prompt;
    CQuillpostDoc doc;
    doc.ReloadAll();
    db.addUser(QStringLiteral("Bob"), QStringLiteral("2"));
    db.addMessageRow(2, 1, QStringLiteral("a"));
    doc.ReloadAll();
    QCOMPARE(doc.m_users.size(), 2u);
    QCOMPARE(doc.m_users[1]->m_name, QStringLiteral("Bob"));
    QCOMPARE(doc.m_messages.size(), 1u);
    QCOMPARE(doc.m_messages.front()->m_recipients.size(), 2u);
    QVERIFY(prompt.shown.isEmpty());
}

void TestQuillpostDoc::missingTableKeepsWhatWasLoadedBefore_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QList<int>>("sizes"); // users, groups, messages, providers
    QTest::newRow("Messages missing") << "DROP TABLE Messages" << QList<int> { 2, 1, 0, 0 };
    QTest::newRow("Users missing") << "DROP TABLE Users" << QList<int> { 0, 0, 0, 0 };
    QTest::newRow("Password column missing") << "ALTER TABLE ServiceProviders DROP COLUMN Password" << QList<int> { 2, 1, 2, 0 };
    QTest::newRow("unreadable date in last row") << "UPDATE Messages SET RequestTime = 'soon' WHERE ID = 2" << QList<int> { 2, 1, 1, 0 };
}

void TestQuillpostDoc::missingTableKeepsWhatWasLoadedBefore()
{
    QFETCH(QString, damage);
    QFETCH(QList<int>, sizes);
    TempDatabase db;
    db.addUser(QStringLiteral("Ann"), QStringLiteral("1"));
    db.addUser(QStringLiteral("Bob"), QStringLiteral("2"));
    db.addGroup(QStringLiteral("Wardens"));
    db.addMessageRow(1, 1, QStringLiteral("a"));
    db.addMessageRow(2, 2, QStringLiteral("b"));
    db.addProvider(QStringLiteral("North"), QStringLiteral("1"), 1);
    db.exec(damage);

    PresetPrompt prompt;
    CQuillpostDoc doc;
    doc.ReloadAll();
    QCOMPARE(prompt.shown, QStringList { LoadFailed });
    const QList<int> loaded { int(doc.m_users.size()), int(doc.m_groups.size()), int(doc.m_messages.size()),
                              int(doc.m_providers.size()) };
    QCOMPARE(loaded, sizes);
}

void TestQuillpostDoc::missingFileIsReportedOnEveryLoadAndNotCreated()
{
    TempDatabase folder(TempDatabase::Content::NoFile);
    PresetPrompt prompt;
    CQuillpostDoc doc;
    doc.ReloadAll();
    QCOMPARE(prompt.shown, QStringList { LoadFailed });
    doc.ReloadAll();
    QCOMPARE(prompt.shown, (QStringList { LoadFailed, LoadFailed }));
    QVERIFY(doc.m_users.empty() && doc.m_groups.empty() && doc.m_messages.empty() && doc.m_providers.empty());
    QVERIFY(!QFile::exists(folder.filePath()));
}

void TestQuillpostDoc::findProvider_data()
{
    QTest::addColumn<QList<int>>("flags"); // UseAsDefault of the providers, in list order
    QTest::addColumn<int>("lookup"); // 0, or the index + 1 of a provider, or -1 for an unknown ID
    QTest::addColumn<int>("expected"); // index of the provider found, -1 for none
    QTest::newRow("first flagged of two") << QList<int> { 0, 1, 1 } << 0 << 1;
    QTest::newRow("none flagged: the first") << QList<int> { 0, 0, 0 } << 0 << 0;
    QTest::newRow("2 is not the flag") << QList<int> { 0, 2, 1 } << 0 << 2;
    QTest::newRow("only 2: the first") << QList<int> { 2, 2 } << 0 << 0;
    QTest::newRow("by ID") << QList<int> { 1, 0, 0 } << 3 << 2;
    QTest::newRow("unknown ID, default exists") << QList<int> { 1, 0 } << -1 << -1;
    QTest::newRow("no providers") << QList<int> {} << 0 << -1;
    QTest::newRow("no providers, by ID") << QList<int> {} << -1 << -1;
}

void TestQuillpostDoc::findProvider()
{
    QFETCH(QList<int>, flags);
    QFETCH(int, lookup);
    QFETCH(int, expected);
    TempDatabase db;
    QList<int> ids;
    for (int i = 0; i < flags.size(); ++i)
        ids.append(db.addProvider(QStringLiteral("P%1").arg(i + 1), QString::number(i), flags[i]));
    PresetPrompt prompt;
    CQuillpostDoc doc;
    doc.ReloadAll();

    const int id = lookup > 0 ? ids[lookup - 1] : lookup == 0 ? 0 : 4242;
    const CServiceProvider* found = doc.FindProvider(id);
    if (expected < 0)
        QCOMPARE(found, nullptr);
    else
        QCOMPARE(found, doc.m_providers[expected].get());
}

void TestQuillpostDoc::providerOfAUser_data()
{
    QTest::addColumn<int>("preferred"); // 0 default, 1 the second provider, -1 a deleted one
    QTest::addColumn<int>("expected"); // index of the provider, -1 for none
    QTest::newRow("default") << 0 << 0;
    QTest::newRow("named") << 1 << 1;
    QTest::newRow("deleted provider, even with a default") << -1 << -1;
}

void TestQuillpostDoc::providerOfAUser()
{
    QFETCH(int, preferred);
    QFETCH(int, expected);
    TempDatabase db;
    const QList<int> providers { db.addProvider(QStringLiteral("Default"), QStringLiteral("1"), 1),
                                 db.addProvider(QStringLiteral("Other"), QStringLiteral("2"), 0) };
    const int preferredId = preferred == 0 ? 0 : preferred == 1 ? providers[1] : providers[1] + 10;
    const int user = db.addUser(QStringLiteral("Ann"), QStringLiteral("07700900001"), preferredId);
    PresetPrompt prompt;
    CQuillpostDoc doc;
    doc.ReloadAll();
    const CServiceProvider* found = doc.FindProviderForUser(user);
    QCOMPARE(found, expected < 0 ? nullptr : doc.m_providers[expected].get());
    QCOMPARE(doc.FindProviderForUser(user + 1), nullptr);
    QCOMPARE(doc.GetTelephoneNumber(user), QStringLiteral("07700900001"));
}

void TestQuillpostDoc::telephoneNumberOfUnknownUserIsEmpty()
{
    TempDatabase db;
    const int user = db.addUser(QStringLiteral("Ann"), QStringLiteral("07700900001"));
    PresetPrompt prompt;
    CQuillpostDoc doc;
    doc.ReloadAll();
    QCOMPARE(doc.GetTelephoneNumber(user + 1), QString());
    QVERIFY(doc.GetTelephoneNumber(user + 1).isEmpty());
}

void TestQuillpostDoc::copyOfAMessageSharesNothing()
{
    auto source = std::make_unique<CSendJob>();
    source->m_id = 11;
    source->m_messageId = 11;
    source->m_text = QStringLiteral("Meet at the gate");
    source->m_status = 0;
    source->m_requestTime = 1000;
    source->m_requiredSendTime = 2000;
    for (int recipient : { 3, 4 }) {
        auto entry = std::make_unique<CRecipientEntry>();
        entry->m_recipient = recipient;
        entry->m_messageId = 11;
        entry->m_sendTime = 1500 + recipient;
        source->m_recipients.push_back(std::move(entry));
    }
    CSendJob copy;
    copy.CopyFrom(*source);
    source->m_text[0] = QLatin1Char('X');
    source->m_recipients[0]->m_recipient = 99;
    source.reset(); // the copy must outlive its source, as it outlives every reload

    QCOMPARE(copy.m_text, QStringLiteral("Meet at the gate"));
    QCOMPARE((QList<int> { copy.m_id, copy.m_messageId, copy.m_status, copy.m_requestTime, copy.m_requiredSendTime }),
             (QList<int> { 11, 11, 0, 1000, 2000 }));
    QCOMPARE(copy.m_recipients.size(), 2u);
    QCOMPARE(copy.m_recipients[0]->m_recipient, 3);
    QCOMPARE(copy.m_recipients[1]->m_recipient, 4);
    QCOMPARE(copy.m_recipients[1]->m_sendTime, 1504);
}

void TestQuillpostDoc::deleteContentsForgetsTheDocumentAndEmptiesIt()
{
    TempDatabase db;
    db.addUser(QStringLiteral("Ann"), QStringLiteral("1"));
    db.addMessageRow(1, 1, QStringLiteral("a"));
    PresetPrompt prompt;
    CQuillpostDoc doc;
    doc.ReloadAll();
    CQuillpostDoc* appDocument = &doc;
    doc.SetContentsDeletedHandler([&appDocument] { appDocument = nullptr; });
    doc.DeleteContents();
    QCOMPARE(appDocument, nullptr);
    QVERIFY(doc.m_users.empty() && doc.m_messages.empty());
}

void TestQuillpostDoc::newDocumentLoadsEvenAfterAFailure()
{
    TempDatabase db;
    db.addGroup(QStringLiteral("Wardens"));
    db.exec(QStringLiteral("DROP TABLE ServiceProviders"));
    PresetPrompt prompt;
    CQuillpostDoc doc;
    int contentsDeleted = 0;
    doc.SetContentsDeletedHandler([&contentsDeleted] { ++contentsDeleted; });
    QVERIFY(doc.OnNewDocument());
    QCOMPARE(contentsDeleted, 1);
    QCOMPARE(doc.m_groups.size(), 1u);
    QCOMPARE(prompt.shown, QStringList { LoadFailed });
}

QTEST_GUILESS_MAIN(TestQuillpostDoc)
#include "test_quillpost_doc.moc"

// Desks on one database on a PostgreSQL server (a throwaway cluster of the test's own):
// what one queues shows in another's tree without waiting for the scheduler's interval,
// and a server that goes away is told once, keeps the lists shown, and is read again
// when it is back.
#include "PostgresCluster.h"
#include "PresetPrompt.h"
#include "app/MainFrame.h"
#include "data/QuillpostDoc.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoRecordset.h"
#include "platform/db/DatabaseSchema.h"
#include "ui/QuillpostTreeView.h"

#include <QTest>

namespace {

constexpr int kWaitMs = 20000;
// Far longer than any wait: only a change told by the server can bring a run this soon.
constexpr int kLongIntervalMs = 600000;

QStringList MessageTexts(const CQuillpostDoc& doc)
{
    QStringList texts;
    for (const auto& message : doc.m_messages)
        texts.append(message->m_text);
    return texts;
}

} // namespace

class TestServerDesks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_cluster.Start(), qPrintable(m_cluster.Error()));
        CreateQuillpostDatabase(m_cluster.Url());
        CDaoRecordset::SetDefaultDatabaseName(m_cluster.Url());
        Queue("Ward 7 needs a porter");
    }
    void cleanupTestCase() { CDaoRecordset::SetDefaultDatabaseName(QStringLiteral("Quillpost.mdb")); }

    // Another desk queues a message: this desk's tree shows it at the run the change
    // brought forward, long before its interval.
    void queuedAtOneDeskShowsAtAnother()
    {
        PresetPrompt prompt;
        CQuillpostDoc doc;
        CMainFrame* frame = nullptr;
        auto run = [&] {
            if (doc.ReloadIfChanged() && frame)
                frame->View()->RefreshTree();
        };
        CMainFrame window(doc, run, kLongIntervalMs);
        frame = &window;
        doc.SetChangeToldHandler([&] { window.BringSchedulerRunForward(); });
        window.OnTimer(); // the first run listens and loads
        window.View()->EnsureFilled();
        QVERIFY(MessageTexts(doc).contains("Ward 7 needs a porter"));

        Queue("Theatre 2 ready");
        QTRY_VERIFY_WITH_TIMEOUT(!window.View()->findItems("Theatre 2 ready", Qt::MatchRecursive | Qt::MatchStartsWith).isEmpty(), kWaitMs);
        QVERIFY(prompt.shown.isEmpty());
    }

    // The server stops: the operator is told once, and the lists stay as read. It
    // starts again: what was queued meanwhile is read without a restart.
    void serverAwayAndBack()
    {
        PresetPrompt prompt;
        CQuillpostDoc doc;
        QVERIFY(doc.ReloadIfChanged());
        const int held = int(doc.m_messages.size());
        QVERIFY(held > 0);

        m_cluster.Stop();
        QTRY_VERIFY_WITH_TIMEOUT((doc.ReloadIfChanged(), !prompt.shown.isEmpty()), kWaitMs);
        for (int look = 0; look < 3; ++look)
            QVERIFY(!doc.ReloadIfChanged());
        QCOMPARE(prompt.shown.size(), 1);
        QVERIFY2(prompt.shown.front().startsWith("The database server cannot be reached just now"),
            qPrintable(prompt.shown.front()));
        QCOMPARE(int(doc.m_messages.size()), held);
        QVERIFY(!doc.ServerFault().isEmpty());

        QVERIFY2(m_cluster.Start(), qPrintable(m_cluster.Error()));
        Queue("Queued while the desk was cut off");
        QTRY_VERIFY_WITH_TIMEOUT(
            (doc.ReloadIfChanged(), MessageTexts(doc).contains("Queued while the desk was cut off")), kWaitMs);
        QVERIFY(doc.ServerFault().isEmpty());
        QCOMPARE(prompt.shown.size(), 1);
    }

private:
    // A message queued as another desk does: rows written on a connection of its own.
    void Queue(const QString& text)
    {
        DaoConnection db(m_cluster.Url());
        QSqlQuery id = db.Execute("SELECT COALESCE(MAX(MessageId), 0) + 1 FROM Messages", {}, "id");
        QVERIFY(id.next());
        db.Execute("INSERT INTO Messages (Recipient, MessageCount, MessageId, Text, Status, SendTime, "
                   "RequestTime, RequiredSendTime, Retries) VALUES (1, 1, ?, ?, 0, '2026-01-01 12:00:00', "
                   "'2026-01-01 12:00:00', '2026-01-01 12:00:00', 0)",
            { id.value(0), text }, "queue");
    }

    PostgresCluster m_cluster;
};

QTEST_MAIN(TestServerDesks)
#include "test_server_desks.moc"

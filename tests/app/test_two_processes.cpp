// quillpost-send queues in a loop while quillpost --headless reloads, sends and
// records, and this test reads the document over and over besides: every message
// arrives once, nobody reads a message half written, and no one sees a lock error
// that the busy time-out should have absorbed.
#include "PagingSimulator.h"
#include "PresetPrompt.h"
#include "ReliabilityFigures.h"
#include "RunningProgram.h"
#include "SimulatedLine.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "data/QuillpostDoc.h"

#include <QTest>
#include <QTimer>

using quillpost::sim::AcceptedPage;
using quillpost::sim::PagingSimulator;

namespace {

constexpr int kMessages = 30;
constexpr int kRecipients = 2;
constexpr int kWaitMs = 120000;

// Reloads a document of its own every few milliseconds and counts messages read with
// fewer or more rows than they were queued with.
class Reader
{
public:
    Reader()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { readOnce(); });
        m_timer.start(5);
    }
    int reloads = 0;
    int halfRead = 0;

private:
    void readOnce()
    {
        m_doc.ReloadAll();
        ++reloads;
        for (const auto& message : m_doc.m_messages)
            halfRead += message->m_recipients.size() == kRecipients ? 0 : 1;
    }

    CQuillpostDoc m_doc;
    QTimer m_timer;
};

} // namespace

class TestTwoProcesses : public QObject
{
    Q_OBJECT

private slots:
    void queueingWhileTheDispatcherSends();
};

void TestTwoProcesses::queueingWhileTheDispatcherSends()
{
    TempSettings settings;
    TempDatabase db;
    PagingSimulator sim;
    db.addProvider(QStringLiteral("North"), StartSimulatedLine(sim, true), 1);
    for (int user = 1; user <= 4; ++user)
        db.addUser(QStringLiteral("User %1").arg(user), QStringLiteral("200%1").arg(user));
    PresetPrompt prompt;

    RunningProgram dispatcher(QStringLiteral("quillpost"),
        { QStringLiteral("--headless"), QStringLiteral("--db"), db.filePath() },
        QStringLiteral("20,5,0,0"));
    Reader reader;
    for (int i = 0; i < kMessages; ++i) {
        RunningProgram send(QStringLiteral("quillpost-send"),
            { QStringLiteral("--db"), db.filePath(), QStringLiteral("--to"),
                QStringLiteral("#%1").arg(1 + i % 4), QStringLiteral("--to"),
                QStringLiteral("#%1").arg(1 + (i + 1) % 4), QStringLiteral("Two at once %1").arg(i) });
        QVERIFY(QTest::qWaitFor([&] { return send.hasEnded(); }, kWaitMs));
        QVERIFY2(send.finish() == 0, qPrintable(send.output()));
    }
    const QString unsent = QStringLiteral("SELECT count(*) FROM Messages WHERE Status != 1");
    QVERIFY(QTest::qWaitFor([&] { return db.scalar(unsent).toInt() == 0; }, kWaitMs));

    // Each row's page reached the terminal exactly once.
    const int rows = db.scalar(QStringLiteral("SELECT count(*) FROM Messages")).toInt();
    QCOMPARE(rows, kMessages * kRecipients);
    QSet<QString> delivered;
    for (const AcceptedPage& page : sim.pages())
        delivered.insert(QString::fromLatin1(page.pagerId + ' ' + page.text));
    QCOMPARE(sim.pageCount(), rows);
    QCOMPARE(delivered.size(), rows);
    RecordReliabilityFigures({ { QStringLiteral("rows"), rows },
        { QStringLiteral("lost"), rows - int(delivered.size()) } });

    QVERIFY(reader.reloads > kMessages);
    QCOMPARE(reader.halfRead, 0);
    QCOMPARE(prompt.shown, QStringList());
    dispatcher.signal(SIGTERM);
    QCOMPARE(dispatcher.finish(), 0);
    QVERIFY2(!dispatcher.output().contains(QLatin1String("Error:")), qPrintable(dispatcher.output()));
}

QTEST_GUILESS_MAIN(TestTwoProcesses)
#include "test_two_processes.moc"

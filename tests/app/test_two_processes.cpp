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

constexpr int kMessages = 30, kRecipients = 2, kWaitMs = 120000;

class TestTwoProcesses : public QObject
{
    Q_OBJECT

private slots:
    void queueingWhileTheDispatcherSends()
    {
        TempSettings settings;
        TempDatabase db;
        quillpost::sim::PagingSimulator sim;
        db.addProvider("North", StartSimulatedLine(sim, true), 1);
        for (int user = 1; user <= 4; ++user)
            db.addUser(QStringLiteral("User %1").arg(user), QStringLiteral("200%1").arg(user));
        PresetPrompt prompt;

        RunningProgram dispatcher("quillpost", { "--headless", "--db", db.filePath() }, "20,5,0,0");
        // A document of its own reloaded every few milliseconds meanwhile; a message read
        // with fewer or more rows than it was queued with is half read.
        CQuillpostDoc readerDoc;
        int reloads = 0, halfRead = 0;
        QTimer reader;
        QObject::connect(&reader, &QTimer::timeout, [&] {
            readerDoc.ReloadAll();
            ++reloads;
            for (const auto& message : readerDoc.m_messages)
                halfRead += message->m_recipients.size() == kRecipients ? 0 : 1;
        });
        reader.start(5);
        for (int i = 0; i < kMessages; ++i) {
            RunningProgram send("quillpost-send",
                { "--db", db.filePath(), "--to", QStringLiteral("#%1").arg(1 + i % 4), "--to",
                    QStringLiteral("#%1").arg(1 + (i + 1) % 4),
                    QStringLiteral("Two at once %1").arg(i) });
            QVERIFY(QTest::qWaitFor([&] { return send.hasEnded(); }, kWaitMs));
            QVERIFY2(send.finish() == 0, qPrintable(send.output()));
        }
        const QString unsent = "SELECT count(*) FROM Messages WHERE Status != 1";
        QVERIFY(QTest::qWaitFor([&] { return db.scalar(unsent).toInt() == 0; }, kWaitMs));

        // Each row's page reached the terminal exactly once.
        const int rows = db.scalar("SELECT count(*) FROM Messages").toInt();
        QCOMPARE(rows, kMessages * kRecipients);
        QSet<QString> delivered;
        for (const quillpost::sim::AcceptedPage& page : sim.pages())
            delivered.insert(QString::fromLatin1(page.pagerId + ' ' + page.text));
        // Recorded before the checks, so that a run that loses a page says how many.
        RecordReliabilityFigures({ { "rows", rows }, { "lost", rows - int(delivered.size()) } });
        QCOMPARE(sim.pageCount(), rows);
        QCOMPARE(delivered.size(), rows);

        QVERIFY(reloads > kMessages);
        QCOMPARE(halfRead, 0);
        QCOMPARE(prompt.shown, QStringList());
        dispatcher.signal(SIGTERM);
        QCOMPARE(dispatcher.finish(), 0);
        QVERIFY2(!dispatcher.output().contains("Error:"), qPrintable(dispatcher.output()));
    }
};

QTEST_GUILESS_MAIN(TestTwoProcesses)
#include "test_two_processes.moc"

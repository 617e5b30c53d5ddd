// quillpost --headless as a program, end to end against the simulated provider, with
// quillpost-send queuing: a clean stop on SIGTERM in the middle of a call, one dispatcher
// per database, the second delivering once it takes over, and queuing, sending and reading
// one database from several programs at once. (Its command line and refusals:
// test_command_line.)
#include "PagingSimulator.h"
#include "PresetPrompt.h"
#include "ReliabilityFigures.h"
#include "RunningProgram.h"
#include "SimulatedLine.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "data/QuillpostDoc.h"

#include <QSet>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <memory>

constexpr int kWaitMs = RunningProgram::kProgramMs;

class TestHeadlessDispatcher : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_settings = std::make_unique<TempSettings>();
        m_db = std::make_unique<TempDatabase>();
        m_db->addProvider("Simulated", "5551234", 1);
        m_db->addUser("Alice Marsh", "101");
        m_db->addUser("Ben Okafor", "102");
    }

    void cleanup()
    {
        m_db.reset();
        m_settings.reset();
    }

    // Terminals that never answer keep two calls open, one on each send line; SIGTERM
    // ends both at once, and the pages nobody accepted stay waiting with no attempt
    // counted against them.
    void stopsCleanlyInTheMiddleOfTwoCalls()
    {
        quillpost::sim::SimConfig silent;
        silent.faults.silentAfterConnect = true;
        quillpost::sim::PagingSimulator one(silent), two(silent);
        StartSimulatedModems({ &one, &two });
        m_db->exec("UPDATE Users SET PreferredProvider = ? WHERE ID = 2",
            { m_db->addProvider("Second", "5559876", 0) });
        const auto dispatcher = startDispatcher({ "--modem", "Modem 1", "--modem", "Modem 2" });
        m_db->addMessageRow(1, 1, "x"); // one statement each: never seen half-made
        m_db->addMessageRow(2, 2, "y");
        QTRY_COMPARE_WITH_TIMEOUT(
            dispatcher->output().count("Connected - Sending Message"), 2, kWaitMs);

        dispatcher->signal(SIGTERM);
        QCOMPARE(dispatcher->finish(), 0);
        for (const char* line : { "Stopping: ending the call for message 1.",
                 "Stopping: ending the call for message 2.", "Stopped.\n" })
            QVERIFY2(dispatcher->said(line), qPrintable(dispatcher->output()));
        QCOMPARE(m_db->rows("Messages", "Status || '/' || Retries"), QStringList({ "0/0", "0/0" }));
    }

    // Two dispatchers on one file would call twice for a page: the second waits, says who
    // holds the database, takes over once the first is killed outright, delivers what
    // quillpost-send queues and logs what the terminal said. It serves its metrics page
    // meanwhile.
    void secondDispatcherWaitsForTheFirstToEnd()
    {
        quillpost::sim::PagingSimulator sim;
        StartSimulatedModems({ &sim });
        const auto first = startDispatcher();
        QTRY_VERIFY_WITH_TIMEOUT(first->said("Holding the dispatcher lock"), kWaitMs);
        QTcpServer probe; // a free port
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        const auto second = startDispatcher({ "--metrics-listen", QString::number(port) });
        const QString holder = "another dispatcher is sending from this database: quillpost "
                               "--headless (process %1";
        QTRY_VERIFY_WITH_TIMEOUT(second->said(holder.arg(first->pid())), kWaitMs);

        first->signal(SIGKILL);
        RunningProgram send("quillpost-send",
            { "--db", m_db->filePath(), "--wait=50", "--to", "alice marsh", "--to", "#2", "x" });
        QVERIFY2(send.finish() == 0, qPrintable(second->output())); // every page sent
        QVERIFY(second->said("Message 1: the terminal said \"211"));
        QVERIFY(second->said(
            QString("Serving the metrics page at http://127.0.0.1:%1/metrics").arg(port)));
    }

    // Two dispatchers started together on due messages: each page goes out once.
    void twoDispatchersStartedTogetherSendEachPageOnce()
    {
        quillpost::sim::PagingSimulator sim;
        StartSimulatedModems({ &sim });
        for (int user : { 1, 2 })
            m_db->addMessageRow(user, user, QStringLiteral("Together %1").arg(user));
        const auto dispatchers = { startDispatcher(), startDispatcher() };
        QTRY_COMPARE_WITH_TIMEOUT(m_db->rows("Messages", "Status"), QStringList(2, "1"), kWaitMs);
        QCOMPARE(sim.pageCount(), 2);
    }

    // quillpost-send queues in a loop while the dispatcher reloads, sends and records, and
    // this test reads the document over and over besides: every message arrives once,
    // nobody reads a message half written, and no one sees a lock error that the busy
    // time-out should have absorbed.
    void queueingWhileTheDispatcherSends()
    {
        constexpr int kMessages = 30;
        quillpost::sim::PagingSimulator sim;
        m_db->exec(
            "UPDATE ServiceProviders SET AccessNumber = ?", { StartSimulatedLine(sim, true) });
        PresetPrompt prompt;
        RunningProgram dispatcher(
            "quillpost", { "--headless", "--db", m_db->filePath() }, "20,5,0,0");
        // A document of its own reloaded every few milliseconds meanwhile; a message read
        // with fewer or more rows than it was queued with (two) is half read.
        CQuillpostDoc readerDoc;
        int reloads = 0, halfRead = 0;
        QTimer reader;
        QObject::connect(&reader, &QTimer::timeout, [&] {
            readerDoc.ReloadAll();
            ++reloads;
            for (const auto& message : readerDoc.m_messages)
                halfRead += message->m_recipients.size() == 2 ? 0 : 1;
        });
        reader.start(5);
        for (int i = 0; i < kMessages; ++i) {
            RunningProgram send("quillpost-send",
                { "--db", m_db->filePath(), "--to", "#1", "--to", "#2",
                    QString("Two at once %1").arg(i) });
            QVERIFY(QTest::qWaitFor([&] { return send.hasEnded(); }, kWaitMs));
            QVERIFY2(send.finish() == 0, qPrintable(send.output()));
        }
        const int rows = 2 * kMessages;
        QTRY_COMPARE_WITH_TIMEOUT(
            m_db->rows("Messages", "Status"), QStringList(rows, "1"), 2 * kWaitMs);

        // Each row's page reached the terminal exactly once.
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
        QVERIFY2(!dispatcher.said("Error:"), qPrintable(dispatcher.output()));
    }

private:
    std::shared_ptr<RunningProgram> startDispatcher(const QStringList& more = {})
    {
        return std::make_shared<RunningProgram>(
            "quillpost", QStringList { "--headless", "--db", m_db->filePath() } + more);
    }

    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<TempDatabase> m_db;
};

QTEST_GUILESS_MAIN(TestHeadlessDispatcher)
#include "test_headless_dispatcher.moc"

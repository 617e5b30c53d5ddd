// quillpost --headless as a program, end to end against the simulated provider on a
// pseudo-terminal, with quillpost-send queuing: a clean stop on SIGTERM in the middle
// of a call, and one dispatcher per database, the second delivering once it takes over.
#include "RunningProgram.h"
#include "TempDatabase.h"
#include "TempSettings.h"

#include <QFile>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <csignal>
#include <memory>
#include <vector>

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
        // The simulator program ends cleanly when told to, and takes its link with it.
        for (std::size_t i = 0; i < m_sims.size(); ++i) {
            m_sims[i]->signal(SIGTERM);
            QCOMPARE(m_sims[i]->finish(), 0);
            QVERIFY(!QFile::exists(file(modemLink(i))));
        }
        m_sims.clear();
        m_db.reset();
        m_settings.reset();
    }

    // Terminals that never answer keep two calls open, one on each send line; SIGTERM
    // ends both at once, and the pages nobody accepted stay waiting with no attempt
    // counted against them.
    void stopsCleanlyInTheMiddleOfTwoCalls()
    {
        startSimulator({ "--silent" }, 2);
        const int second = m_db->addProvider("Second", "5559876", 0);
        m_db->exec("UPDATE Users SET PreferredProvider = ? WHERE ID = 2", { second });
        std::unique_ptr<RunningProgram> dispatcher
            = startDispatcher({ "--modem", "Simulated modem", "--modem", "Simulated modem 2" });
        // One statement each: never seen half-made.
        QCOMPARE(m_db->addMessageRow(1, 1, "x"), 1);
        QCOMPARE(m_db->addMessageRow(2, 2, "y"), 2);
        QTRY_COMPARE_WITH_TIMEOUT(
            dispatcher->output().count("Connected - Sending Message"), 2, RunningProgram::kProgramMs);

        dispatcher->signal(SIGTERM);
        QCOMPARE(dispatcher->finish(), 0);
        QVERIFY2(dispatcher->said("Stopping: ending the call for message 1.")
                && dispatcher->said("Stopping: ending the call for message 2.")
                && dispatcher->output().endsWith("Stopped.\n"),
            qPrintable(dispatcher->output()));
        QCOMPARE(m_db->rows("Messages", "Status || '/' || Retries"), QStringList({ "0/0", "0/0" }));
        QCOMPARE(pagesLogged(), 0);
    }

    // Two dispatchers on one file would call twice for a page: the second waits, says who
    // holds the database, takes over once the first is killed outright, delivers what
    // quillpost-send queues, logs each outcome and stops cleanly on SIGTERM. Its metrics
    // page shows whether it holds the lock, and what it sent.
    void secondDispatcherWaitsForTheFirstToEnd()
    {
        startSimulator();
        std::unique_ptr<RunningProgram> first = startDispatcher();
        QTRY_VERIFY_WITH_TIMEOUT(
            first->said("Holding the dispatcher lock"), RunningProgram::kProgramMs);
        const quint16 port = freePort();
        std::unique_ptr<RunningProgram> second
            = startDispatcher({ "--metrics-listen", QString::number(port) });
        const QString holder = QStringLiteral(
            "another dispatcher is sending from this database: quillpost --headless (process %1")
                                   .arg(first->pid());
        QTRY_VERIFY2_WITH_TIMEOUT(
            second->said(holder), qPrintable(second->output()), RunningProgram::kProgramMs);
        QCOMPARE(metric(port, "quillpost_dispatcher_lock_held"), 0);

        first->signal(SIGKILL);
        QCOMPARE(first->finish(), -1);
        QVERIFY2(queueAndWait("failover") == 0, qPrintable(second->output()));
        QCOMPARE(pagesLogged(), 2);
        QCOMPARE(m_db->scalar("SELECT COUNT(*) FROM Messages WHERE Status = 1").toInt(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(
            metric(port, "quillpost_pages_sent_total"), 2, RunningProgram::kProgramMs);
        QCOMPARE(metric(port, "quillpost_dispatcher_lock_held"), 1);

        second->signal(SIGTERM);
        QCOMPARE(second->finish(), 0);
        for (const char* line : { "Holding the dispatcher lock", "to Alice Marsh (user 1): sent",
                 "Message 1: the terminal said \"211", "Stopped." })
            QVERIFY2(second->said(line), qPrintable(second->output()));
    }

    // Two dispatchers started together on due messages: each page goes out once.
    void twoDispatchersStartedTogetherSendEachPageOnce()
    {
        startSimulator();
        for (int user : { 1, 2 })
            m_db->exec("UPDATE Messages SET MessageId = ID WHERE ID = ?",
                { m_db->addMessageRow(user, 0, QStringLiteral("Together %1").arg(user)) });
        std::unique_ptr<RunningProgram> first = startDispatcher();
        std::unique_ptr<RunningProgram> second = startDispatcher();
        QTRY_COMPARE_WITH_TIMEOUT(
            m_db->scalar("SELECT COUNT(*) FROM Messages WHERE Status = 1").toInt(), 2,
            RunningProgram::kProgramMs);
        for (RunningProgram* dispatcher : { first.get(), second.get() }) {
            dispatcher->signal(SIGTERM);
            QCOMPARE(dispatcher->finish(), 0);
        }
        QCOMPARE(pagesLogged(), 2);
    }

    void commandLines_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("help") << QStringList { "--help" } << 0
                              << "quillpost --headless [--db FILE]";
        QTest::newRow("--db without a file")
            << QStringList { "--headless", "--db" } << 2 << "--db needs a value.";
        QTest::newRow("unknown argument")
            << QStringList { "--headless", "--verbose" } << 2 << "Unknown argument: --verbose";
        QTest::newRow("--modem is for --headless")
            << QStringList { "--modem=x" } << 2 << "--modem is for";
        QTest::newRow("--metrics-listen without a port")
            << QStringList { "--headless", "--metrics-listen=127.0.0.1:" } << 2 << "has no port";
        QTest::newRow("--metrics-listen is for --headless")
            << QStringList { "--metrics-listen=9100" } << 2 << "--metrics-listen is for --headless";
        QTest::newRow("--snpp-listen is for --headless")
            << QStringList { "--snpp-listen=2444" } << 2 << "--snpp-listen is for --headless";
        // An address of no interface here: nothing is sent, the bind alone fails.
        QTest::newRow("an SNPP gateway that cannot listen stops the start")
            << QStringList { "--headless", "--snpp-listen=192.0.2.1:2444" } << 1
            << "no SNPP gateway: cannot listen on 192.0.2.1 port 2444";
        QTest::newRow("no database")
            << QStringList { "--headless", "--db=absent.mdb" } << 1 << "there is no database at";
    }

    void commandLines()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        RunningProgram quillpost("quillpost", arguments);
        QCOMPARE(quillpost.finish(), status);
        QVERIFY2(quillpost.said(said), qPrintable(quillpost.output()));
    }

private:
    // The simulated provider behind `count` modems on pseudo-terminals of their own, line
    // devices "Simulated modem", "Simulated modem 2" ...; the first is set as the modem.
    void startSimulator(const QStringList& faults = {}, std::size_t count = 1)
    {
        QSettings settings("Northmoor", "Quillpost");
        settings.beginWriteArray("Lines");
        for (std::size_t i = 0; i < count; ++i) {
            m_sims.push_back(std::make_unique<RunningProgram>("quillpost-sim",
                QStringList { "--pty", "--link", file(modemLink(i)), "--log",
                    file("pages.jsonl"), "--ring-delay", "50" }
                    + faults));
            QTRY_VERIFY_WITH_TIMEOUT(
                QFile::exists(file(modemLink(i))), RunningProgram::kProgramMs);
            settings.setArrayIndex(int(i));
            settings.setValue(
                "name", i == 0 ? QString("Simulated modem") : QString("Simulated modem %1").arg(i + 1));
            settings.setValue("type", "hayes");
            settings.setValue("device", file(modemLink(i)));
        }
        settings.endArray();
        settings.setValue("Quillpost/Modem Name", "Simulated modem");
    }
    static QString modemLink(std::size_t i) { return i == 0 ? "modem" : QString("modem%1").arg(i + 1); }
    std::unique_ptr<RunningProgram> startDispatcher(const QStringList& more = {})
    {
        return std::make_unique<RunningProgram>(
            "quillpost", QStringList { "--headless", "--db", m_db->filePath() } + more);
    }
    static quint16 freePort()
    {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
    }
    // The sample of the metric on the program's page; -1 when the page or the metric is missing.
    static qint64 metric(quint16 port, const QByteArray& name)
    {
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, port);
        if (!client.waitForConnected(RunningProgram::kProgramMs))
            return -1;
        client.write("GET /metrics HTTP/1.1\r\n\r\n");
        while (client.state() == QAbstractSocket::ConnectedState
            && client.waitForReadyRead(RunningProgram::kProgramMs))
            ;
        for (const QByteArray& line : client.readAll().split('\n'))
            if (line.startsWith(name + ' '))
                return line.mid(name.size() + 1).toLongLong();
        return -1;
    }
    int queueAndWait(const QString& text)
    {
        return RunningProgram("quillpost-send",
            { "--db", m_db->filePath(), "--wait=50", "--to", "alice marsh", "--to", "#2", text })
            .finish();
    }
    int pagesLogged() const
    {
        QFile log(file("pages.jsonl"));
        return log.open(QIODevice::ReadOnly) ? int(log.readAll().count("\"event\":\"page\"")) : 0;
    }
    QString file(const QString& name) const { return QDir(m_settings->folder()).filePath(name); }

    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<TempDatabase> m_db;
    std::vector<std::unique_ptr<RunningProgram>> m_sims;
};

QTEST_GUILESS_MAIN(TestHeadlessDispatcher)
#include "test_headless_dispatcher.moc"

// The SNPP gateway against the real server in-process, with QTcpSocket clients: the
// replies to client scripts and what lands in the database and the log, every limit (the
// offender is disconnected, a client beside it is not disturbed), logins against a file
// made by quillpost-db hash-password, silent clients during a real send and the 421 of a
// shutdown, and the settings.
#include "DbTool.h"
#include "SimulatedLine.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "dispatch/HeadlessDispatcher.h"
#include "gateway/GatewayCounters.h"
#include "gateway/SnppSession.h"
#include "gateway/SnppSettings.h"
#include "modem/ModemList.h"

#include <QFile>
#include <QSettings>
#include <QTcpSocket>
#include <QTest>
#include <ctime>
#include <memory>

namespace {

constexpr int kWaitMs = 30000;

// A client that reads one reply line at a time while the server runs on this thread.
struct Client
{
    explicit Client(quint16 port) { socket.connectToHost(QHostAddress::LocalHost, port); }

    // The greeting's code if not read yet, then the codes of the replies to `lines`, each
    // sent and answered in turn (none for DATA's text); with `untilClosed`, then every code
    // until the server closes (at most ten lines).
    QString Say(const QByteArrayList& lines, bool untilClosed = false)
    {
        QStringList codes;
        if (!greeted)
            codes << NextCode();
        bool inData = false;
        for (const QByteArray& line : lines) {
            socket.write(line + "\r\n");
            if (inData && line != ".")
                continue;
            codes << NextCode();
            inData = codes.last() == "354";
        }
        while (untilClosed && codes.size() < 10 && codes.value(codes.size() - 1) != "closed")
            codes << NextCode();
        return codes.join(' ');
    }

    // The next reply line's code (all of it without CRLF); "closed" once the server closed.
    QString NextCode()
    {
        const auto closed = [this] { return socket.state() == QAbstractSocket::UnconnectedState; };
        (void)QTest::qWaitFor([&] { return socket.canReadLine() || closed(); }, kWaitMs);
        if (!socket.canReadLine())
            return closed() ? "closed" : "no reply";
        greeted = true;
        const QByteArray line = socket.readLine();
        return QString::fromLatin1(line.endsWith("\r\n") ? line.left(3) : line);
    }

    QTcpSocket socket;
    bool greeted = false;
};

} // namespace

class TestSnppServer : public QObject
{
    Q_OBJECT

private slots:
    // HOLD's difference from UTC is turned into local time: the test's local time is UTC.
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
    }

    // Users 1 Alice Marsh (pager 101), 2 Ben Okafor (102), 3 Nowhere (104), whose rows
    // cannot be written, as on a full disk; group 1 Night Shift holds Alice and Ben, group
    // 2 is empty.
    void init()
    {
        m_settings = std::make_unique<TempSettings>();
        m_db = std::make_unique<TempDatabase>();
        m_db->addUser("Alice Marsh", "101", 0, { 1 });
        m_db->addUser("Ben Okafor", " 102 ", 0, { 1 });
        m_db->addUser("Nowhere", "104");
        m_db->exec("CREATE TRIGGER Full BEFORE INSERT ON Messages WHEN NEW.Recipient = 3 "
                   "BEGIN SELECT RAISE(ABORT, 'disk full'); END");
        m_db->addGroup("Night Shift");
        m_db->addGroup("Empty");
        m_log.clear();
        m_counters = {};
    }
    void cleanup()
    {
        m_server.reset();
        m_db.reset();
        m_settings.reset();
    }

    void conversations_data()
    {
        QTest::addColumn<QByteArrayList>("lines"); // after "LOGI ops"
        QTest::addColumn<QString>("codes"); // of the replies, "closed" once the server closed
        QTest::addColumn<QStringList>("rows"); // Recipient, text length, a due time after 2030
        QTest::addColumn<QString>("logged"); // without the client's address
        const auto row = [](const char* name, const QByteArrayList& lines, const QString& codes,
                             const QStringList& rows = {}, const char* logged = "") {
            QTest::newRow(name) << lines << codes << rows << QString(logged);
        };
        row("pager number, #ID and group:#ID, each user once; unknown pager; long verbs, any case",
            { "pager 102 secret", "PAGE 999", "Page #1", "page group:#1", "MESSage x", "SEND",
                "PAGE 101", "SEND", "MESS y" },
            "250 550 250 250 250 250 250 503 250", { "2 23", "1 23" },
            "login \"ops\": queued message 1 for Ben Okafor (#2), Alice Marsh (#1)");
        row("DATA: a doubled leading dot undone, ended by a lone dot; HOLD's two or four-digit "
            "year; QUIT ends the connection",
            { "HOLD 301224183000", "PAGE 101", "DATA", "line one", "..dot", "", ".", "SEND",
                "HOLD 20310102030405", "PAGE 101", "MESS disk full", "SEND", "QUIT", "PAGE 101" },
            "250 250 354 250 250 250 250 250 250 221 closed",
            { "1 35 2030-12-24 18:30:00", "1 31 2031-01-02 03:04:05" },
            "login \"ops\": queued message 1 for Alice Marsh (#1), due 2030-12-24 18:30:00\n"
            "login \"ops\": queued message 2 for Alice Marsh (#1), due 2031-01-02 03:04:05");
        row("RESE forgets the message, not the login; HOLD from UTC, SUBJ, CALL and LEVE",
            { "PAGE 101", "MESS a", "HOLD 301224183000", "SUBJ Old", "RESE", "SEND",
                "HOLD 301224183000 -0500", "SUBJ Disk", "CALL 555", "LEVE 1", "PAGE 102", "MESS b",
                "SEND" },
            "250 250 250 250 250 503 250 250 250 250 250 250 250", { "2 23 2030-12-24 23:30:00" },
            "login \"ops\": queued message 1 for Ben Okafor (#2), due 2030-12-24 23:30:00, "
            "subject \"Disk\", caller 555");
        row("out of order, an empty group, HOLD that is no time, unknown commands, HELP",
            { "SEND", "PAGE group:#2", "MESS a", "MESS b", "DATA", "SEND", "PAGE", "MESS",
                "HOLD 301332000000", "HOLD tomorrow", "HOLD 3012241830", "PING 1", "", "HELP" },
            "503 550 250 503 503 503 550 503 550 550 550 500 500 214");
        // Refused by the queue, then failed in it: each message forgotten.
        row("a due time the program cannot hold: 550; the queue fails: 554",
            { "HOLD 20400101000000", "PAGE 101", "MESS x", "SEND", "SEND", "PAGE 104", "MESS m",
                "SEND", "SEND" },
            "250 250 250 550 503 250 250 554 503", {},
            "login \"ops\": nothing queued for 101: The due time 2040-01-01 00:00:00 is after "
            "2038-01-19 03:14:07, the latest time Quillpost can hold.\n"
            "login \"ops\": nothing queued for 104: Cannot add a row to table Messages: disk full");
        QByteArrayList data { "PAGE 101", "DATA" };
        data += QByteArrayList(64, QByteArray(1023, 'd'));
        row("DATA of 64 KiB less one byte is taken, and cut", data + QByteArrayList { ".", "SEND" },
            "250 354 250 250", { "1 151" }, "login \"ops\": queued message 1 for Alice Marsh (#1)");
        row("DATA over 64 KiB ends the connection", data + QByteArrayList { "d", ".", "SEND" },
            "250 354 554 closed");
        row("too many pagers", QByteArrayList(CSnppSession::kMostPagers + 1, "PAGE 101"),
            QStringLiteral("250 ").repeated(CSnppSession::kMostPagers) + "552");
    }

    // Each queued message is in the database once SEND is answered, logged with the
    // client's address, login, recipients and message ID, and counted; what could not be
    // queued is logged with the reason.
    void conversations()
    {
        QFETCH(QByteArrayList, lines);
        QFETCH(QString, codes);
        QFETCH(QStringList, rows);
        QFETCH(QString, logged);
        QCOMPARE(Start({}), QString());
        Client client(m_server->Port());
        QCOMPARE(client.Say(QByteArrayList { "LOGI ops" } + lines), "220 250 " + codes);
        const QString row = "Recipient || ' ' || length(Text) || CASE WHEN RequiredSendTime > "
                            "'2030-01-01' THEN ' ' || RequiredSendTime ELSE '' END";
        QCOMPARE(m_db->rows("Messages", row), rows);
        QCOMPARE(m_counters.snppSubmissions, uint(logged.count("queued message")));
        QCOMPARE(m_counters.snppConnections, 1u);
        m_log.replaceInStrings(QRegularExpression("^SNPP 127\\.0\\.0\\.1:\\d+, "), QString());
        QCOMPARE(m_log.join('\n'), logged);
    }

    void limits_data()
    {
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QByteArray>("offence");
        QTest::addColumn<QString>("replies");
        QTest::newRow("silent past the idle time") << "idle" << QByteArray() << "220 421 closed";
        QTest::newRow("a line over 1 KiB") << "" << QByteArray(4000, 'x') << "220 500 closed";
        QTest::newRow("past the connection limit") << "connections" << QByteArray() << "421 closed";
        QTest::newRow("a network not allowed") << "network" << QByteArray() << "421 closed";
    }

    // The offender gets its reply and is disconnected; a client connected before it is
    // served as if nothing happened (the idle limit would end that one too).
    void limits()
    {
        QFETCH(QString, limit);
        QFETCH(QByteArray, offence);
        QFETCH(QString, replies);
        SnppServerConfig config;
        config.idleMs = limit == "idle" ? 300 : kWaitMs;
        config.maxConnections = limit == "connections" ? 1 : 2;
        if (limit == "network")
            config.allowedNetworks = { QHostAddress::parseSubnet("192.0.2.0/24") };
        QCOMPARE(Start(config), QString());
        std::unique_ptr<Client> bystander;
        if (limit != "network" && limit != "idle") {
            bystander = std::make_unique<Client>(m_server->Port());
            QCOMPARE(bystander->Say({}), "220");
        }
        Client offender(m_server->Port());
        offender.socket.write(offence);
        QCOMPARE(offender.Say({}, true), replies);
        if (bystander)
            QCOMPARE(bystander->Say({ "PAGE 101", "MESS undisturbed", "SEND" }), "250 250 250");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->Connections(), bystander ? 1 : 0, kWaitMs);
    }

    // A credentials file made by quillpost-db hash-password, with a comment: PAGE needs a
    // login, a wrong password or name is refused (and logged) and leaves the client without
    // one, the right one is taken; a file that cannot be read stops the start.
    void loginAgainstTheCredentialsFile()
    {
        SnppServerConfig config;
        config.credentialsFile = QDir(m_settings->folder()).filePath("logins");
        QFile credentials(config.credentialsFile);
        QVERIFY(credentials.open(QIODevice::WriteOnly));
        QTextStream out(&credentials);
        QTextStream in(QByteArray("s3cret word\n"));
        out << "# operators\n\n";
        QCOMPARE(RunDbTool({ "hash-password", "ops" }, out, out, &in), 0); // and flushed

        QCOMPARE(Start(config), QString());
        QCOMPARE(Client(m_server->Port())
                     .Say({ "PAGE 101", "LOGI ops s3cret", "PAGE 101", "LOGI other s3cret word",
                         "LOGI ops s3cret word", "PAGE 101" }),
            "220 503 550 503 550 250 250");
        QVERIFY(m_log.join('\n').contains("login \"ops\" refused"));
        config.credentialsFile += ".absent";
        QVERIFY(Start(config).contains("cannot read"));
    }

    // A client that connects and says nothing, and one that stops in the middle of a
    // line, hold up neither the gateway nor the dispatcher: a message queued over SNPP
    // meanwhile is sent at once. Shutting down then tells every client 421, also one in
    // the middle of DATA, and takes no new connection.
    void silentClientsHoldUpNoSendAndShutdownSays421()
    {
        quillpost::sim::PagingSimulator sim;
        m_db->addProvider("Simulated", StartSimulatedLine(sim, true), 1);
        CModemList modems([] { return kSimulatedLineName; });
        CHeadlessDispatcher dispatcher(
            modems, [](const QString&) {}, 20, SendTiming { 2, 0, 0 });
        QCOMPARE(Start({}), QString());
        const quint16 port = m_server->Port();
        Client silent(port);
        Client halfLine(port);
        halfLine.socket.write("PAGE 10");
        dispatcher.Start();
        Client client(port);
        QCOMPARE(client.Say({ "PAGE #1", "MESS m", "SEND" }), "220 250 250 250");
        QTRY_COMPARE_WITH_TIMEOUT(m_db->rows("Messages", "Status"), QStringList { "1" }, kWaitMs);
        QCOMPARE(m_server->Connections(), 3);
        QCOMPARE(halfLine.Say({ "1", "DATA", "half a message" }), "220 250 354");

        m_server->Shutdown();
        QCOMPARE(silent.Say({}, true), "220 421 closed");
        QCOMPARE(halfLine.Say({}, true), "421 closed");
        QCOMPARE(Client(port).Say({}), "closed");
    }

    void settings_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QVariantMap>("stored");
        // ADDR PORT NETWORKS CONNECTIONS IDLE_MS, or an error
        QTest::addColumn<QString>("expected");
        // The command line wins over the setting; loopback only by default.
        QTest::newRow("defaults") << "2444" << QVariantMap { { "SNPP Listen", "0.0.0.0:444" } }
                                  << "127.0.0.1 2444 127.0.0.0/8 ::1/128 32 120000";
        QTest::newRow("settings") << ""
                                  << QVariantMap { { "SNPP Listen", "[::1]:444" },
                                         { "SNPP Allowed Networks", "192.0.2.0/24, 10.1.0.0/16" },
                                         { "SNPP Connections", 4 }, { "SNPP Idle Seconds", 9 } }
                                  << "::1 444 192.0.2.0/24 10.1.0.0/16 4 9000";
        QTest::newRow("a network that is none")
            << "2444" << QVariantMap { { "SNPP Allowed Networks", "everyone" } }
            << "\"everyone\" in Gateway/SNPP Allowed Networks is not a network";
        QTest::newRow("no connections")
            << "2444" << QVariantMap { { "SNPP Connections", 0 } }
            << "the setting Gateway/SNPP Connections must be a whole number above 0";
    }

    void settings()
    {
        QFETCH(QString, commandLine);
        QFETCH(QVariantMap, stored);
        QFETCH(QString, expected);
        QSettings settings("Northmoor", "Quillpost");
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            settings.setValue("Gateway/" + it.key(), it.value());
        const SnppSettings read = ReadSnppSettings(commandLine);
        QString got = read.error;
        if (const std::optional<SnppServerConfig>& config = read.config) {
            got = config->address.toString() + ' ' + QString::number(config->port);
            for (const auto& [address, bits] : config->allowedNetworks)
                got += ' ' + address.toString() + '/' + QString::number(bits);
            got += QStringLiteral(" %1 %2").arg(config->maxConnections).arg(config->idleMs);
        }
        QVERIFY2(got.contains(expected), qPrintable(got));
    }

private:
    // Why the server does not listen; empty when it does.
    QString Start(const SnppServerConfig& config)
    {
        m_server = std::make_unique<CSnppServer>(
            config, m_counters, [this](const QString& line) { m_log << line; });
        return m_server->Listen();
    }

    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<TempDatabase> m_db;
    GatewayCounters m_counters;
    QStringList m_log;
    std::unique_ptr<CSnppServer> m_server;
};

QTEST_GUILESS_MAIN(TestSnppServer)
#include "test_snpp_server.moc"

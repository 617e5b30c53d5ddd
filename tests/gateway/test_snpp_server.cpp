// The SNPP gateway against the real server in-process, with QTcpSocket clients: what
// lands in the database, every limit (the offender is disconnected, a client beside it
// is not disturbed), logins against a file made by quillpost-db hash-password, the 421
// of a shutdown, a silent client during a real send, and the settings.
#include "DbTool.h"
#include "SimulatedLine.h"
#include "TempDatabase.h"
#include "TempSettings.h"
#include "dispatch/HeadlessDispatcher.h"
#include "gateway/GatewayCounters.h"
#include "gateway/SnppSettings.h"
#include "modem/ModemList.h"

#include <QFile>
#include <QSettings>
#include <QTcpSocket>
#include <QTest>
#include <memory>

namespace {

constexpr int kWaitMs = 30000;

// A client that reads one reply line at a time while the server runs on this thread.
class Client
{
public:
    explicit Client(quint16 port) { m_socket.connectToHost(QHostAddress::LocalHost, port); }

    // The next line without its line end; "closed" once the server has closed.
    QByteArray Line()
    {
        (void)QTest::qWaitFor(
            [this] {
                return m_socket.canReadLine()
                    || m_socket.state() == QAbstractSocket::UnconnectedState;
            },
            kWaitMs);
        if (!m_socket.canReadLine())
            return m_socket.state() == QAbstractSocket::UnconnectedState ? "closed" : "no reply";
        return m_socket.readLine().trimmed();
    }
    // The reply codes to `lines`, each sent and answered in turn (none for DATA's text);
    // a HELP's lines count once.
    QString Say(const QByteArrayList& lines)
    {
        QStringList codes;
        bool inData = false;
        for (const QByteArray& line : lines) {
            m_socket.write(line + "\r\n");
            if (inData && line != ".")
                continue;
            QByteArray reply = Line();
            codes << QString::fromLatin1(reply.left(3));
            while (reply.startsWith("214"))
                reply = Line();
            inData = reply.startsWith("354");
        }
        return codes.join(' ');
    }
    // Every reply code until the server closes (at most ten lines).
    QString Replies()
    {
        QStringList codes;
        while (codes.size() < 10 && (codes.isEmpty() || codes.back() != "closed")) {
            const QByteArray reply = Line();
            codes << QString::fromLatin1(reply == "closed" ? reply : reply.left(3));
        }
        return codes.join(' ');
    }
    void Write(const QByteArray& bytes) { m_socket.write(bytes); }

private:
    QTcpSocket m_socket;
};

QByteArrayList Submission(const QByteArray& pager = "101")
{
    return { "PAGE " + pager, "MESS undisturbed", "SEND" };
}

} // namespace

class TestSnppServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qunsetenv("QUILLPOST_DB"); }

    // Users 1 Alice Marsh (pager 101), 2 Ben Okafor (102), 3 Pat (103); group 1 Night
    // Shift holds Alice and Ben.
    void init()
    {
        m_settings = std::make_unique<TempSettings>();
        m_db = std::make_unique<TempDatabase>();
        m_db->addUser("Alice Marsh", "101", 0, { 1 });
        m_db->addUser("Ben Okafor", " 102 ", 0, { 1 });
        m_db->addUser("Pat", "103");
        m_db->addGroup("Night Shift");
        m_log.clear();
        m_counters = {};
    }
    void cleanup()
    {
        m_server.reset();
        m_db.reset();
        m_settings.reset();
    }

    void submissions_data()
    {
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<QString>("codes");
        QTest::addColumn<QStringList>("rows"); // Recipient, text length, a due time after 2030
        QTest::newRow("pager number, #ID and group:#ID make one message, each user once")
            << QByteArrayList { "PAGE 102", "PAGE #1", "PAGE group:#1", "MESS x", "SEND" }
            << "250 250 250 250 250" << QStringList { "2 23", "1 23" };
        QTest::newRow("user: name; a long text cut as the dialog cuts it")
            << QByteArrayList { "PAGE user:pat", "MESS " + QByteArray(300, 'a'), "SEND" }
            << "250 250 250" << QStringList { "3 151" };
        QTest::newRow("HOLD in the future is the due time")
            << QByteArrayList { "HOLD 301224183000", "PAGE 101", "DATA", "a", "b", ".", "SEND" }
            << "250 250 354 250 250" << QStringList { "1 25 2030-12-24 18:30:00" };
        QTest::newRow("a due time the program cannot hold: nothing queued")
            << QByteArrayList { "HOLD 20400101000000", "PAGE 101", "MESS x", "SEND" }
            << "250 250 250 550" << QStringList {};
        QTest::newRow("unknown pager and empty group refused")
            << QByteArrayList { "PAGE 999", "PAGE group:#2", "MESS x", "SEND" } << "550 550 250 503"
            << QStringList {};
    }

    // Each queued message is in the database once SEND is answered, logged with the
    // client's address, login, recipients and message ID, and counted.
    void submissions()
    {
        QFETCH(QByteArrayList, lines);
        QFETCH(QString, codes);
        QFETCH(QStringList, rows);
        m_db->addGroup("Empty");
        QVERIFY(Start({}));
        Client client(m_server->Port());
        QCOMPARE(client.Line().left(4), "220 ");
        QCOMPARE(client.Say(QByteArrayList { "LOGI ops" } + lines), "250 " + codes);
        QCOMPARE(
            m_db->rows("Messages",
                "Recipient || ' ' || length(Text) || CASE WHEN RequiredSendTime > '2030-01-01' "
                "THEN ' ' || RequiredSendTime ELSE '' END"),
            rows);
        QCOMPARE(m_db->scalar("SELECT COUNT(DISTINCT MessageId) FROM Messages").toInt(),
            int(m_counters.snppSubmissions));
        QCOMPARE(m_counters.snppConnections, 1u);
        if (!rows.isEmpty())
            QVERIFY2(m_log.join('\n').contains(QRegularExpression(
                         "SNPP 127\\.0\\.0\\.1:\\d+, login \"ops\": queued message 1 for \\w")),
                qPrintable(m_log.join('\n')));
    }

    void limits_data()
    {
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QByteArray>("offence");
        QTest::addColumn<QString>("replies");
        QByteArray data = "PAGE 101\r\nDATA\r\n";
        for (int i = 0; i < 65; ++i)
            data += QByteArray(1023, 'd') + "\r\n";
        QTest::newRow("silent past the idle time") << "idle" << QByteArray() << "220 421 closed";
        QTest::newRow("a line over 1 KiB, never ended")
            << "" << QByteArray(4000, 'x') << "220 500 closed";
        QTest::newRow("DATA over 64 KiB") << "" << data << "220 250 354 554 closed";
        QTest::newRow("one connection past the limit")
            << "connections" << QByteArray() << "421 closed";
        QTest::newRow("a network not allowed") << "network" << QByteArray() << "421 closed";
    }

    // The offender gets its reply and is disconnected; a client connected before it is
    // served as if nothing happened.
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
        QVERIFY(Start(config));
        // Beside the offender; the idle limit would end it too, so a client comes after.
        std::unique_ptr<Client> bystander;
        if (limit != "network" && limit != "idle") {
            bystander = std::make_unique<Client>(m_server->Port());
            QCOMPARE(bystander->Line().left(3), "220");
        }
        Client offender(m_server->Port());
        offender.Write(offence);
        QCOMPARE(offender.Replies(), replies);
        if (bystander)
            QCOMPARE(bystander->Say(Submission()), "250 250 250");
        if (limit == "idle") {
            Client after(m_server->Port());
            QCOMPARE(after.Line().left(3), "220");
            QCOMPARE(after.Say(Submission()), "250 250 250");
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_server->Connections(), bystander ? 1 : 0, kWaitMs);
    }

    // A credentials file made by quillpost-db hash-password: PAGE needs a login, a wrong
    // password is refused and logged, the right one is taken.
    void loginAgainstTheCredentialsFile()
    {
        QString line;
        QTextStream out(&line);
        QString errors;
        QTextStream err(&errors);
        QString password = "s3cret word\n";
        QTextStream in(&password);
        QCOMPARE(RunDbTool({ "hash-password", "ops" }, out, err, &in), 0);
        QVERIFY2(line.startsWith("ops:pbkdf2-sha256$100000$") && !line.contains("s3cret"),
            qPrintable(line));
        const QString file = QDir(m_settings->folder()).filePath("logins");
        QFile credentials(file);
        QVERIFY(credentials.open(QIODevice::WriteOnly));
        credentials.write("# operators\n\n" + line.toUtf8());
        credentials.close();

        SnppServerConfig config;
        config.credentialsFile = file;
        QVERIFY(Start(config));
        Client client(m_server->Port());
        QCOMPARE(client.Line().left(3), "220");
        QCOMPARE(client.Say({ "PAGE 101", "LOGI ops s3cret", "LOGI other s3cret word",
                     "LOGI ops s3cret word", "PAGE 101", "MESS m", "SEND" }),
            "503 550 550 250 250 250 250");
        QVERIFY(m_log.join('\n').contains("login \"ops\" refused"));

        config.credentialsFile = QDir(m_settings->folder()).filePath("absent");
        CSnppServer unusable(config, m_counters, [](const QString&) {});
        QVERIFY(unusable.Listen().contains("cannot read"));
    }

    // Shutting down tells every client 421, also one in the middle of DATA, and takes no
    // new connection.
    void shutdownSays421()
    {
        QVERIFY(Start({}));
        const quint16 port = m_server->Port();
        Client idle(port);
        Client writing(port);
        QCOMPARE(idle.Line().left(3), "220");
        QCOMPARE(writing.Line().left(3), "220");
        QCOMPARE(writing.Say({ "PAGE 101", "DATA", "half a message" }), "250 354");
        m_server->Shutdown();
        for (Client* client : { &idle, &writing }) {
            QCOMPARE(client->Line().left(3), "421");
            QCOMPARE(client->Line(), "closed");
        }
        QCOMPARE(Client(port).Line(), "closed");
        QCOMPARE(m_db->scalar("SELECT COUNT(*) FROM Messages").toInt(), 0);
    }

    // A client that connects and says nothing, and one that stops in the middle of a
    // line, hold up neither the gateway nor the dispatcher: a message queued over SNPP
    // meanwhile is sent at once.
    void silentClientsHoldUpNoSend()
    {
        quillpost::sim::PagingSimulator sim;
        m_db->addProvider("Simulated", StartSimulatedLine(sim, true), 1);
        CModemList modems([] { return kSimulatedLineName; });
        CHeadlessDispatcher dispatcher(
            modems, [](const QString&) {}, 20, SendTiming { 2, 0, 0 });
        QVERIFY(Start({}));
        Client silent(m_server->Port());
        Client halfLine(m_server->Port());
        halfLine.Write("PAGE 10");
        dispatcher.Start();
        Client client(m_server->Port());
        QCOMPARE(client.Line().left(3), "220");
        QCOMPARE(client.Say(Submission("#3")), "250 250 250");
        QTRY_COMPARE_WITH_TIMEOUT(
            m_db->scalar("SELECT Status FROM Messages WHERE Recipient = 3").toInt(), 1, kWaitMs);
        QCOMPARE(sim.pageCount(), 1);
        QCOMPARE(m_server->Connections(), 3);
        QCOMPARE(halfLine.Line().left(3), "220");
        QCOMPARE(halfLine.Say({ "1", "QUIT" }), "250 221");
    }

    void settings_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QString>(
            "expected"); // ADDR PORT NETWORKS CONNECTIONS IDLE_MS, or an error
        QTest::newRow("off by default") << "" << QVariantMap {} << "off";
        QTest::newRow("a port alone: loopback, defaults")
            << "2444" << QVariantMap {} << "127.0.0.1 2444 127.0.0.0/8,::1/128 32 120000";
        QTest::newRow("the command line wins over the setting")
            << "[::1]:2445" << QVariantMap { { "SNPP Listen", "2444" } } << "::1 2445";
        QTest::newRow("settings") << ""
                                  << QVariantMap { { "SNPP Listen", "0.0.0.0:444" },
                                         { "SNPP Allowed Networks", "192.0.2.0/24, 10.1.0.0/16" },
                                         { "SNPP Connections", 4 }, { "SNPP Idle Seconds", 9 } }
                                  << "0.0.0.0 444 192.0.2.0/24,10.1.0.0/16 4 9000";
        QTest::newRow("a network that is none")
            << "2444" << QVariantMap { { "SNPP Allowed Networks", "everyone" } }
            << "\"everyone\" in Gateway/SNPP Allowed Networks is not a network";
        QTest::newRow("no connections")
            << "2444" << QVariantMap { { "SNPP Connections", 0 } } << "must be a whole number";
        QTest::newRow("a port that is none") << "70000" << QVariantMap {} << "70000";
    }

    void settings()
    {
        QFETCH(QString, commandLine);
        QFETCH(QVariantMap, stored);
        QFETCH(QString, expected);
        {
            QSettings settings("Northmoor", "Quillpost");
            for (auto it = stored.cbegin(); it != stored.cend(); ++it)
                settings.setValue("Gateway/" + it.key(), it.value());
        }
        const SnppSettings read = ReadSnppSettings(commandLine);
        QString got = read.error;
        if (read.config) {
            QStringList networks;
            for (const auto& network : read.config->allowedNetworks)
                networks
                    << QStringLiteral("%1/%2").arg(network.first.toString()).arg(network.second);
            got = QStringLiteral("%1 %2 %3 %4 %5")
                      .arg(read.config->address.toString())
                      .arg(read.config->port)
                      .arg(networks.join(','))
                      .arg(read.config->maxConnections)
                      .arg(read.config->idleMs);
        } else if (got.isEmpty()) {
            got = "off";
        }
        QVERIFY2(
            got.startsWith(expected) || (!read.config && got.contains(expected)), qPrintable(got));
    }

private:
    bool Start(const SnppServerConfig& config)
    {
        m_server = std::make_unique<CSnppServer>(
            config, m_counters, [this](const QString& line) { m_log << line; });
        const QString error = m_server->Listen();
        return error.isEmpty() || (qWarning("%s", qPrintable(error)), false);
    }

    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<TempDatabase> m_db;
    GatewayCounters m_counters;
    QStringList m_log;
    std::unique_ptr<CSnppServer> m_server;
};

QTEST_GUILESS_MAIN(TestSnppServer)
#include "test_snpp_server.moc"

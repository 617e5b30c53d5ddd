// quillpost --headless as several programs on one PostgreSQL server (a throwaway cluster
// of the test's own), each dispatcher with a quillpost-sim of its own behind a modem on
// a pseudo-terminal: every page is accounted for through misbehaving terminals, no
// (message, provider) group is in two calls at once, a group whose dispatcher is killed
// in its call goes out through another, and a dispatcher rides out a server restart.
#include "PostgresCluster.h"
#include "RunningProgram.h"
#include "TempSettings.h"
#include "platform/db/DaoConnection.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSqlQuery>
#include <QTest>
#include <csignal>
#include <map>
#include <memory>
#include <set>
#include <vector>

// Generous: each scene's programs run under ASan on a loaded two-core machine.
constexpr int kWaitMs = 120000;
const char* const kPending = "SELECT count(*) FROM Messages WHERE Status = 0";
const char* const kOutcomes = "SELECT Status || '/' || Retries FROM Messages ORDER BY Recipient";

class TestServerProcesses : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_cluster.Start(), qPrintable(m_cluster.Error())); }

    void init()
    {
        m_settings = std::make_unique<TempSettings>();
        const QString name = QStringLiteral("scene_%1").arg(++m_scene);
        QVERIFY(m_cluster.CreateDatabase(name));
        m_uri = m_cluster.Url(name);
        RunningProgram init("quillpost-db", { "init", m_uri });
        QVERIFY2(init.finish() == 0, qPrintable(init.output()));
        m_db = std::make_unique<DaoConnection>(m_uri);
    }

    void cleanup()
    {
        m_dispatchers.clear();
        m_sims.clear();
        m_db.reset();
        m_settings.reset();
    }

    // 300 pages (100 messages, each to three users of one of four providers) through
    // three dispatchers whose terminals drop the line at a byte count or after a block
    // (taking a page the caller never hears of), refuse pagers, NAK blocks and break
    // their replies into pieces.
    void threeDispatchersAccountForEveryPage()
    {
        seed(13, "1 + n % 4");
        // Users m, m + 4 and m + 8 share a provider.
        for (int message = 1; message <= 100; ++message) {
            const QString text(message * 7 % 60, QChar('a' + message % 26));
            for (int user :
                { message % 12, (message + 4) % 12, message % 25 ? (message + 8) % 12 : 12 })
                addRow(user + 1, message, QString("Page %1 %2").arg(message).arg(text), 3);
        }
        for (const QStringList& faults : { QStringList { "--drop-at-byte", "170" },
                 { "--nak-block", "2", "--unknown-pager", "7005" },
                 { "--drop-after-block", "2", "--chunk-size", "4", "--chunk-pause", "2" } })
            startDispatcher(startSim(faults + QStringList { "--unknown-pager", "7013" }));
        QTRY_COMPARE_WITH_TIMEOUT(count(kPending), 0, 2 * kWaitMs);
        stopAll();

        // Every attempt is logged, and a page is sent before its fourth attempt fails (the
        // pager 7013's pages fail four times, and stop).
        QCOMPARE(count("SELECT count(*) FROM Messages m WHERE (SELECT count(*) FROM SendLog l "
                       "WHERE l.MessageId = m.MessageId AND l.Recipient = m.Recipient) <> "
                       "m.Retries + (m.Status = 1)::int OR NOT (m.Status = 1 AND m.Retries < 4 "
                       "OR m.Status = 2 AND m.Retries = 4)"),
            0);
        // Each page by "pager text": its group, and how often terminals may have taken it.
        struct Row
        {
            std::pair<int, int> group; // (message, provider)
            int sent = 0, attempts = 0, paged = 0;
        };
        std::map<QString, Row> rows;
        QSqlQuery query = m_db->Execute("SELECT u.TelephoneNumber || ' ' || m.Text, m.MessageId, "
                                        "u.PreferredProvider, m.Status = 1, m.Retries FROM "
                                        "Messages m JOIN Users u ON u.ID = m.Recipient",
            {}, "rows");
        while (query.next())
            rows[query.value(0).toString()] = { { query.value(1).toInt(), query.value(2).toInt() },
                query.value(3).toBool(), query.value(4).toInt() + query.value(3).toBool() };

        // One call a simulator logged: when its first page was accepted, when it ended.
        struct Call
        {
            QDateTime firstPage, end;
            std::set<std::pair<int, int>> groups;
        };
        std::map<std::pair<std::size_t, int>, Call> calls; // by simulator and call number
        for (std::size_t sim = 0; sim < m_sims.size(); ++sim)
            for (const QJsonObject& event : simLog(sim)) {
                Call& call = calls[{ sim, event["call"].toInt() }];
                const auto at = QDateTime::fromString(event["time"].toString(), Qt::ISODateWithMs);
                if (event["event"] == "call-end") {
                    call.end = at;
                    continue;
                }
                const auto row
                    = rows.find(event["pagerId"].toString() + ' ' + event["text"].toString());
                QVERIFY(row != rows.end());
                ++row->second.paged;
                call.groups.insert(row->second.group);
                if (!call.firstPage.isValid())
                    call.firstPage = at;
            }
        // A page reached a terminal at most once an attempt, a sent one at least once.
        for (const auto& [key, row] : rows)
            QVERIFY2(row.paged >= row.sent && row.paged <= row.attempts, qPrintable(key));
        // The log has no record of a call's start: a call is known from its first
        // accepted page to its end, and one that carried no page cannot be checked. Each
        // carries one group, and no other call of that group overlaps it.
        for (auto a = calls.begin(); a != calls.end(); ++a) {
            const Call& one = a->second;
            if (!one.firstPage.isValid())
                continue;
            QVERIFY(one.groups.size() == 1 && one.end.isValid());
            for (auto b = std::next(a); b != calls.end(); ++b)
                QVERIFY(one.groups != b->second.groups || one.end < b->second.firstPage
                    || b->second.end < one.firstPage);
        }
    }

    // A dispatcher killed in its call (its terminal never answers) holds its group no
    // longer: the second dispatcher, which passed it over meanwhile, sends it.
    void killedDispatchersGroupGoesToAnother()
    {
        seed(2, "n");
        addRow(1, 1, "Held by the first");
        RunningProgram& first = startDispatcher(startSim({ "--silent" }), "300,100,0");
        QTRY_VERIFY_WITH_TIMEOUT(first.said("Message 1: Connected - Sending Message"), kWaitMs);
        addRow(2, 2, "Sent by the second");
        startDispatcher(startSim({}), "300,100,0");
        QTRY_COMPARE_WITH_TIMEOUT(values(kOutcomes), QStringList({ "0/0", "1/0" }), kWaitMs);

        first.signal(SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(count(kPending), 0, kWaitMs);
        stopAll();
        QCOMPARE(values(kOutcomes), QStringList({ "1/0", "1/0" }));
        QCOMPARE(pages(), QStringList({ "7002 Sent by the second", "7001 Held by the first" }));
    }

    // The server stopped in the middle of a call and started again: the dispatcher,
    // never restarted, says it cannot reach the database, and then records every page as
    // the terminal answered it: delivered, or refused on its last attempt.
    void dispatcherRidesOutAServerRestart()
    {
        seed(4, "1");
        addRow(1, 1, "Restart 1", 2);
        addRow(2, 1, "Restart 1", 2);
        addRow(3, 2, "Restart 2", 2);
        addRow(4, 2, "Restart 2", 2, 3);
        RunningProgram& dispatcher
            = startDispatcher(startSim({ "--slow", "400", "--unknown-pager", "7004" }));
        QTRY_VERIFY_WITH_TIMEOUT(dispatcher.said("Connected - Sending Message"), kWaitMs);
        m_db.reset();
        m_cluster.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(
            dispatcher.said("Error: The database server cannot be reached just now"), kWaitMs);
        // Both pages of the call go out while the server is away.
        QTRY_COMPARE_WITH_TIMEOUT(pages().size(), qsizetype(2), kWaitMs);
        QVERIFY2(m_cluster.Start(), qPrintable(m_cluster.Error()));
        m_db = std::make_unique<DaoConnection>(m_uri);
        QTRY_COMPARE_WITH_TIMEOUT(count(kPending), 0, kWaitMs);
        QVERIFY(!dispatcher.hasEnded());
        stopAll();
        QCOMPARE(values(kOutcomes), QStringList({ "1/0", "1/0", "1/0", "2/4" }));
        QCOMPARE(pages(), QStringList({ "7001 Restart 1", "7002 Restart 1", "7003 Restart 2" }));
    }

private:
    QString file(const QString& name) const { return QDir(m_settings->folder()).filePath(name); }
    // The first column of every row the query gives.
    QStringList values(const QString& sql)
    {
        QStringList values;
        for (QSqlQuery query = m_db->Execute(sql, {}, sql); query.next();)
            values << query.value(0).toString();
        return values;
    }
    int count(const QString& sql) { return values(sql).value(0).toInt(); }
    // Providers "P1" to "P4" and users "User 1" ..., user n's pager 7000 + n and their
    // provider what the SQL expression of n `provider` gives.
    void seed(int users, const QString& provider)
    {
        const QString sql
            = "INSERT INTO ServiceProviders (ServiceName, AccessNumber, UseAsDefault) "
              "SELECT 'P' || n, '5551234', 0 FROM generate_series(1, 4) n; "
              "INSERT INTO Users (Name, TelephoneNumber, PreferredProvider) "
              "SELECT 'User ' || n, (7000 + n)::text, %1 FROM generate_series(1, %2) n";
        m_db->Execute(sql.arg(provider, QString::number(users)), {}, "seed");
    }
    void addRow(int user, int message, const QString& text, int recipients = 1, int retries = 0)
    {
        m_db->Execute("INSERT INTO Messages (Recipient, MessageCount, MessageId, Text, Status, "
                      "SendTime, RequestTime, RequiredSendTime, Retries) VALUES (?, ?, ?, ?, 0, "
                      "'2026-01-01 12:00:00', '2026-01-01 12:00:00', '2026-01-01 12:00:00', ?)",
            { user, recipients, message, text, retries }, "add");
    }
    // A simulator behind a modem on a pseudo-terminal of its own, stored as the line
    // "Modem N"; gives the line's name.
    QString startSim(const QStringList& faults)
    {
        const int n = int(m_sims.size()) + 1;
        const QString link = file(QString("modem%1").arg(n)), name = QString("Modem %1").arg(n);
        m_sims.push_back(std::make_unique<RunningProgram>("quillpost-sim",
            QStringList { "--pty", "--link", link, "--log", file(QString("sim%1.jsonl").arg(n)),
                "--ring-delay", "250" }
                + faults));
        if (!QTest::qWaitFor([&] { return QFile::exists(link); }, kWaitMs))
            qFatal("quillpost-sim did not start: %s", qPrintable(m_sims.back()->output()));
        QSettings settings("Northmoor", "Quillpost");
        settings.setValue("Lines/size", n);
        settings.setValue(QString("Lines/%1/name").arg(n), name);
        settings.setValue(QString("Lines/%1/device").arg(n), link);
        return name;
    }
    RunningProgram& startDispatcher(const QString& line, const QString& periods = "20,10,0,0")
    {
        m_dispatchers.push_back(std::make_unique<RunningProgram>(
            "quillpost", QStringList { "--headless", "--db", m_uri, "--modem", line }, periods));
        return *m_dispatchers.back();
    }
    // Ends the dispatchers still running, then the simulators, each cleanly, so that
    // every call's end is in the logs.
    void stopAll()
    {
        for (auto* programs : { &m_dispatchers, &m_sims })
            for (const auto& program : *programs)
                if (!program->hasEnded()) {
                    program->signal(SIGTERM);
                    QVERIFY2(program->finish() == 0, qPrintable(program->output()));
                }
    }
    QList<QJsonObject> simLog(std::size_t sim) const
    {
        QFile log(file(QString("sim%1.jsonl").arg(sim + 1)));
        QList<QJsonObject> events;
        for (const QByteArray& line :
            log.open(QIODevice::ReadOnly) ? log.readAll().split('\n') : QByteArrayList())
            if (!line.isEmpty())
                events << QJsonDocument::fromJson(line).object();
        return events;
    }
    // The pages the simulators accepted, as "pager text".
    QStringList pages() const
    {
        QStringList pages;
        for (std::size_t sim = 0; sim < m_sims.size(); ++sim)
            for (const QJsonObject& event : simLog(sim))
                if (event["event"] == "page")
                    pages << event["pagerId"].toString() + ' ' + event["text"].toString();
        return pages;
    }

    PostgresCluster m_cluster;
    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<DaoConnection> m_db;
    std::vector<std::unique_ptr<RunningProgram>> m_sims, m_dispatchers;
    QString m_uri;
    int m_scene = 0;
};

QTEST_GUILESS_MAIN(TestServerProcesses)
#include "test_server_processes.moc"

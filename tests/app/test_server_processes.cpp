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
#include <QRegularExpression>
#include <QSettings>
#include <QSqlQuery>
#include <QTest>
#include <csignal>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace {

// Generous: each scene's programs run under ASan on a loaded two-core machine.
constexpr int kWaitMs = 120000;
const char* const kPending = "SELECT count(*) FROM Messages WHERE Status = 0";

// A page as a row of the database knows it, found again in a simulator's log by its
// pager ID and text.
struct Row
{
    int message = 0, provider = 0, status = 0, retries = 0, attempts = 0;
};
using PageKey = std::pair<QString, QString>; // pager ID, text

// One call a simulator logged: when its first page was accepted, when it ended.
struct SimCall
{
    QDateTime firstPage, end;
    std::set<std::pair<int, int>> groups; // (message, provider) of its pages
};

} // namespace

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
        for (int provider = 1; provider <= 4; ++provider)
            addProvider(provider);
        for (int user = 1; user <= 13; ++user)
            addUser(user, 1 + user % 4);
        // Users m, m + 4 and m + 8 share a provider.
        for (int message = 1; message <= 100; ++message)
            for (int user :
                { message % 12, (message + 4) % 12, message % 25 ? (message + 8) % 12 : 12 })
                addRow(user + 1, message,
                    QString("Page %1 ").arg(message)
                        + QString(message * 7 % 60, QChar('a' + message % 26)),
                    3);
        for (const QStringList& faults :
            { QStringList { "--drop-at-byte", "170", "--unknown-pager", "7013" },
                QStringList {
                    "--nak-block", "2", "--unknown-pager", "7005", "--unknown-pager", "7013" },
                QStringList { "--drop-after-block", "2", "--chunk-size", "4", "--chunk-pause", "2",
                    "--unknown-pager", "7013" } })
            startDispatcher(startSim(faults), "20,10,0,0");
        QTRY_COMPARE_WITH_TIMEOUT(count(kPending), 0, 2 * kWaitMs);
        stopAll();

        const std::map<PageKey, Row> rows = readRows();
        QCOMPARE(int(rows.size()), 300);
        std::map<PageKey, int> paged;
        std::vector<SimCall> calls;
        for (std::size_t sim = 0; sim < m_sims.size(); ++sim) {
            std::map<int, SimCall> ofSim;
            for (const QJsonObject& event : simLog(sim)) {
                SimCall& call = ofSim[event["call"].toInt()];
                const QDateTime time
                    = QDateTime::fromString(event["time"].toString(), Qt::ISODateWithMs);
                if (event["event"] == "call-end") {
                    call.end = time;
                    continue;
                }
                const PageKey key { event["pagerId"].toString(), event["text"].toString() };
                QVERIFY2(rows.count(key), qPrintable(key.first + ": " + key.second));
                ++paged[key];
                call.groups.insert({ rows.at(key).message, rows.at(key).provider });
                if (!call.firstPage.isValid())
                    call.firstPage = time;
            }
            QVERIFY2(!pages(sim).isEmpty(), "a simulator took no page");
            for (const auto& [number, call] : ofSim)
                if (call.firstPage.isValid())
                    calls.push_back(call);
        }
        // Every attempt is counted and logged, a page goes out at most once an attempt,
        // and no terminal takes the pager 7013: its pages fail four times and stop.
        for (const auto& [key, row] : rows) {
            const int sent = row.status == 1, times = paged[key];
            const bool failed = row.status == 2 && row.retries == 4 && times <= 4;
            QVERIFY2(row.attempts == row.retries + sent
                    && (sent ? row.retries < 4 && times >= 1 && times <= row.retries + 1 : failed)
                    && (key.first != "7013" || (failed && times == 0)),
                qPrintable(QString::asprintf(
                    "%s \"%s\": status %d, %d retries, %d logged, paged %d", qPrintable(key.first),
                    qPrintable(key.second), row.status, row.retries, row.attempts, times)));
        }
        // The log has no record of a call's start: a call is known from its first
        // accepted page to its end, and one that carried no page cannot be checked.
        for (const SimCall& call : calls)
            QVERIFY2(call.groups.size() == 1 && call.end.isValid(), "a call of groups, or unended");
        for (std::size_t a = 0; a < calls.size(); ++a)
            for (std::size_t b = a + 1; b < calls.size(); ++b)
                QVERIFY2(calls[a].groups != calls[b].groups || calls[a].end < calls[b].firstPage
                        || calls[b].end < calls[a].firstPage,
                    qPrintable(QString::asprintf("message %d through provider %d in two calls",
                        calls[a].groups.begin()->first, calls[a].groups.begin()->second)));
    }

    // A dispatcher killed in its call (its terminal never answers) holds its group no
    // longer: the second dispatcher, which passed it over meanwhile, sends it.
    void killedDispatchersGroupGoesToAnother()
    {
        for (int provider : { 1, 2 }) {
            addProvider(provider);
            addUser(provider, provider);
        }
        addRow(1, 1, "Held by the first");
        RunningProgram& first = startDispatcher(startSim({ "--silent" }));
        QTRY_VERIFY2_WITH_TIMEOUT(first.said("Message 1: Connected - Sending Message"),
            qPrintable(first.output()), kWaitMs);
        addRow(2, 2, "Sent by the second");
        RunningProgram& second = startDispatcher(startSim({}));
        QTRY_COMPARE_WITH_TIMEOUT(
            count("SELECT count(*) FROM Messages WHERE Status = 1"), 1, kWaitMs);
        QCOMPARE(count("SELECT count(*) FROM Messages WHERE MessageId = 1 AND Status = 0"), 1);

        first.signal(SIGKILL);
        QCOMPARE(first.finish(), -1);
        QTRY_VERIFY2_WITH_TIMEOUT(count(kPending) == 0, qPrintable(second.output()), kWaitMs);
        stopAll();
        QCOMPARE(outcomes(), QStringList({ "7001 1/0 paged 1", "7002 1/0 paged 1" }));
        QCOMPARE(pages(1), QStringList({ "7002 Sent by the second", "7001 Held by the first" }));
    }

    // The server stopped in the middle of a call and started again: the dispatcher,
    // never restarted, says it cannot reach the database, and then records every page as
    // the terminal answered it: delivered, or refused on its last attempt.
    void dispatcherRidesOutAServerRestart()
    {
        addProvider(1);
        for (int user = 1; user <= 4; ++user)
            addUser(user, 1);
        addRow(1, 1, "Restart 1", 2);
        addRow(2, 1, "Restart 1", 2);
        addRow(3, 2, "Restart 2", 2);
        addRow(4, 2, "Restart 2", 2, 3);
        RunningProgram& dispatcher = startDispatcher(
            startSim({ "--slow", "400", "--unknown-pager", "7004" }), "20,10,0,0");
        QTRY_VERIFY2_WITH_TIMEOUT(dispatcher.said("Connected - Sending Message"),
            qPrintable(dispatcher.output()), kWaitMs);
        m_db.reset();
        m_cluster.Stop();
        const QRegularExpression unreachable("(cannot|could not|can't) reach the database"
                                             "|database( server)? (cannot|could not) be reached",
            QRegularExpression::CaseInsensitiveOption);
        QTRY_VERIFY2_WITH_TIMEOUT(
            dispatcher.output().contains(unreachable), qPrintable(dispatcher.output()), kWaitMs);
        // Both pages of the call go out while the server is away.
        QTRY_COMPARE_WITH_TIMEOUT(pages(0).size(), qsizetype(2), kWaitMs);
        QVERIFY2(m_cluster.Start(), qPrintable(m_cluster.Error()));
        m_db = std::make_unique<DaoConnection>(m_uri);
        QTRY_VERIFY2_WITH_TIMEOUT(count(kPending) == 0, qPrintable(dispatcher.output()), kWaitMs);
        QVERIFY2(!dispatcher.hasEnded(), qPrintable(dispatcher.output()));
        stopAll();
        QCOMPARE(outcomes(),
            QStringList({ "7001 1/0 paged 1", "7002 1/0 paged 1", "7003 1/0 paged 1",
                "7004 2/4 paged 0" }));
    }

private:
    QString file(const QString& name) const { return QDir(m_settings->folder()).filePath(name); }
    void exec(const QString& sql, const QVariantList& values) { m_db->Execute(sql, values, sql); }
    int count(const QString& sql)
    {
        QSqlQuery query = m_db->Execute(sql, {}, sql);
        return query.next() ? query.value(0).toInt() : -1;
    }
    void addProvider(int n)
    {
        exec("INSERT INTO ServiceProviders (ServiceName, AccessNumber, UseAsDefault) "
             "VALUES (?, '5551234', 0)",
            { QString("P%1").arg(n) });
    }
    // User n's pager is 7000 + n.
    void addUser(int n, int provider)
    {
        exec("INSERT INTO Users (Name, TelephoneNumber, PreferredProvider) VALUES (?, ?, ?)",
            { QString("User %1").arg(n), QString::number(7000 + n), provider });
    }
    void addRow(int user, int message, const QString& text, int recipients = 1, int retries = 0)
    {
        exec(
            "INSERT INTO Messages (Recipient, MessageCount, MessageId, Text, Status, SendTime, "
            "RequestTime, RequiredSendTime, Retries) VALUES (?, ?, ?, ?, 0, '2026-01-01 12:00:00', "
            "'2026-01-01 12:00:00', '2026-01-01 12:00:00', ?)",
            { user, recipients, message, text, retries });
    }
    // Every row by its page, with the attempts the send log holds for it.
    std::map<PageKey, Row> readRows()
    {
        std::map<PageKey, Row> rows;
        QSqlQuery query = m_db->Execute("SELECT u.TelephoneNumber, m.Text, m.MessageId, "
                                        "u.PreferredProvider, m.Status, m.Retries, "
                                        "(SELECT count(*) FROM SendLog l WHERE l.MessageId = "
                                        "m.MessageId AND l.Recipient = m.Recipient) "
                                        "FROM Messages m JOIN Users u ON u.ID = m.Recipient",
            {}, "rows");
        while (query.next())
            rows[{ query.value(0).toString(), query.value(1).toString() }]
                = Row { query.value(2).toInt(), query.value(3).toInt(), query.value(4).toInt(),
                      query.value(5).toInt(), query.value(6).toInt() };
        return rows;
    }
    // A simulator behind a modem on a pseudo-terminal of its own, stored as the line
    // "Modem N"; gives the line's name.
    QString startSim(const QStringList& faults)
    {
        const int n = int(m_sims.size()) + 1;
        const QString link = file(QString("modem%1").arg(n));
        m_sims.push_back(std::make_unique<RunningProgram>("quillpost-sim",
            QStringList { "--pty", "--link", link, "--log", file(QString("sim%1.jsonl").arg(n)),
                "--ring-delay", "250" }
                + faults));
        if (!QTest::qWaitFor([&] { return QFile::exists(link); }, kWaitMs))
            qFatal("quillpost-sim did not start: %s", qPrintable(m_sims.back()->output()));
        QSettings settings("Northmoor", "Quillpost");
        settings.beginWriteArray("Lines");
        settings.setArrayIndex(n - 1);
        settings.setValue("name", QString("Modem %1").arg(n));
        settings.setValue("type", "hayes");
        settings.setValue("device", link);
        settings.endArray();
        return QString("Modem %1").arg(n);
    }
    RunningProgram& startDispatcher(const QString& line, const QString& periods = "300,100,0")
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
        if (log.open(QIODevice::ReadOnly))
            for (const QByteArray& line : log.readAll().split('\n'))
                if (!line.isEmpty())
                    events << QJsonDocument::fromJson(line).object();
        return events;
    }
    // Each row as "pager status/retries paged N", N the times the simulators took it.
    QStringList outcomes()
    {
        QStringList paged, outcomes;
        for (std::size_t sim = 0; sim < m_sims.size(); ++sim)
            paged += pages(sim);
        for (const auto& [key, row] : readRows())
            outcomes << QString::asprintf("%s %d/%d paged %d", qPrintable(key.first), row.status,
                row.retries, int(paged.count(key.first + ' ' + key.second)));
        return outcomes;
    }
    // The pages a simulator accepted, as "pager text".
    QStringList pages(std::size_t sim) const
    {
        QStringList pages;
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

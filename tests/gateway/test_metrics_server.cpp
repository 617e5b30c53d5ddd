// The metrics page against the real server in-process: its figures after real sends
// through the dispatcher without a window, what it answers to requests it does not
// serve, and clients that would hold it up.
#include "SimulatedProviders.h"
#include "data/QuillTime.h"
#include "data/SendHistory.h"
#include "dispatch/HeadlessDispatcher.h"
#include "gateway/MetricsPage.h"
#include "gateway/MetricsServer.h"
#include "modem/ModemList.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <memory>
#include <vector>

using quillpost::sim::PagingSimulator;
using quillpost::sim::SimConfig;

namespace {

constexpr int kWaitMs = 60000;

// Sends `request` on a connection of its own; all the server said before it closed.
QByteArray Exchange(quint16 port, const QByteArray& request)
{
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    QSignalSpy closed(&client, &QTcpSocket::disconnected);
    if (!client.waitForConnected(kWaitMs))
        return {};
    client.write(request);
    if (!closed.wait(kWaitMs))
        return {};
    return client.readAll();
}

QByteArray StatusLine(const QByteArray& reply)
{
    return reply.left(reply.indexOf("\r\n"));
}

// The samples of a page; `misplaced` gets every line that does not follow the HELP and
// TYPE lines of its metric.
QMap<QByteArray, qint64> ParsePage(const QByteArray& page, QByteArrayList& misplaced)
{
    QMap<QByteArray, qint64> samples;
    QByteArray described;
    for (const QByteArray& line : page.split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        bool fits = true;
        if (line.startsWith("# HELP ")) {
            described = words.value(2);
        } else if (line.startsWith("# TYPE ")) {
            fits = words.size() == 4 && words[2] == described
                && (words[3] == "gauge" || words[3] == "counter");
        } else if (!line.isEmpty()) {
            fits = words.size() == 2 && words[0] == described && !samples.contains(words[0]);
            samples.insert(words[0], words.value(1).toLongLong());
        }
        if (!fits)
            misplaced += line;
    }
    return samples;
}

qint64 EpochOf(const QString& localText)
{
    return ToQuillTime(*COleDateTime::FromText(localText));
}

} // namespace

class TestMetricsServer : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_env = std::make_unique<SimulatedProviders>(); }
    void cleanup() { m_env.reset(); }

    // After pages accepted, refused until given up and timed out, every figure agrees
    // with the send log and the rows; rows nobody can send yet are counted as waiting.
    void figuresAgreeWithTheDatabaseAfterSends()
    {
        SimConfig refusing;
        refusing.faults.nakBlock = 1;
        SimConfig silent;
        silent.faults.silentAfterConnect = true;
        const int good = m_env->Provider();
        m_env->Queue(good, "Ann");
        m_env->Queue(good, "Bob");
        m_env->Queue(m_env->Provider(refusing), "Cy", {}, 2); // two attempts, the second gives up
        m_env->Queue(m_env->Provider(silent), "Di", {}, 3); // one time-out, which gives up
        const QString now = COleDateTime::GetCurrentTime().ToText();
        const QString hourAgo = QDateTime::fromString(now, "yyyy-MM-dd HH:mm:ss")
                                    .addSecs(-3600)
                                    .toString("yyyy-MM-dd HH:mm:ss");
        m_env->db.addMessageRow(999, 90, "Nobody to send to", 0, hourAgo);
        m_env->db.addMessageRow(1, 91, "Tomorrow", 0, "2099-01-01 00:00:00");

        CModemList modems([] { return kSimulatedLineName; });
        CHeadlessDispatcher dispatcher(
            modems, [](const QString&) {}, 20, SendTiming { 2, 0, 0, 500 });
        const GatewayCounters gateway { 3, 2 };
        CMetricsServer server([&] {
            return RenderMetricsPage(CollectDispatchFigures(dispatcher.Counters()), gateway);
        });
        QVERIFY(server.Listen({ QHostAddress::LocalHost, 0 }));
        dispatcher.Start();
        QTRY_VERIFY_WITH_TIMEOUT(ReadSendLog().size() == 5 && !dispatcher.IsSending(), kWaitMs);

        const QByteArray reply
            = Exchange(server.Port(), "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n");
        QCOMPARE(StatusLine(reply), "HTTP/1.1 200 OK");
        QVERIFY(reply.contains("\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"));
        QByteArrayList misplaced;
        const QMap<QByteArray, qint64> m
            = ParsePage(reply.mid(reply.indexOf("\r\n\r\n") + 4), misplaced);
        QCOMPARE(misplaced, QByteArrayList());
        QCOMPARE(m.size(), 13);
        int sent = 0, failed = 0, givenUp = 0, calls = 0;
        for (const SendLogEntry& entry : ReadSendLog()) {
            sent += entry.outcome == MessageStatus::Sent;
            failed += entry.outcome != MessageStatus::Sent;
            givenUp += entry.outcome == MessageStatus::Failed;
        }
        for (const auto& sim : m_env->sims)
            calls += sim->callCount();
        QCOMPARE(m["quillpost_pages_sent_total"], sent);
        QCOMPARE(m["quillpost_pages_failed_total"], failed);
        QCOMPARE(m["quillpost_pages_given_up_total"], givenUp);
        QCOMPARE(givenUp, 2);
        QCOMPARE(m["quillpost_calls_total"], calls);
        QCOMPARE(m["quillpost_send_timeouts_total"], 1);
        QCOMPARE(m["quillpost_rows_waiting"],
            m_env->db.scalar("SELECT COUNT(*) FROM Messages WHERE Status = 0").toLongLong());
        QCOMPARE(m["quillpost_rows_waiting"], 2);
        QCOMPARE(m["quillpost_rows_due"], 1);
        QVERIFY(qAbs(m["quillpost_oldest_due_age_seconds"] - 3600) <= 5);
        const qint64 lastSent = EpochOf(
            m_env->db.scalar("SELECT MAX(SendTime) FROM Messages WHERE Status = 1").toString());
        QVERIFY(qAbs(m["quillpost_last_accepted_page_timestamp_seconds"] - lastSent) <= 2);
        QCOMPARE(m["quillpost_dispatcher_lock_held"], 1);
        QCOMPARE(m["quillpost_database_readable"], 1);
        QCOMPARE(m["quillpost_snpp_connections_total"], 3);
        QCOMPARE(m["quillpost_snpp_submissions_total"], 2);
    }

    void requestsNotServed_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("status");
        QTest::newRow("other path")
            << QByteArray("GET /metricsx HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 404 Not Found");
        QTest::newRow("other method") << QByteArray("POST /metrics HTTP/1.1\r\n\r\n")
                                      << QByteArray("HTTP/1.1 405 Method Not Allowed");
        QTest::newRow("not HTTP") << QByteArray("hello\n\n")
                                  << QByteArray("HTTP/1.1 400 Bad Request");
        // Exactly the server's buffer: nothing is left unread when it closes.
        QTest::newRow("oversized head")
            << QByteArray("GET /metrics HTTP/1.1\r\nX: ").leftJustified(kMaxRequest + 1, 'a')
            << QByteArray("HTTP/1.1 431 Request Header Fields Too Large");
        QTest::newRow("query and bare line feeds")
            << QByteArray("HEAD /metrics?x=1 HTTP/1.0\n\n") << QByteArray("HTTP/1.1 200 OK");
    }

    // Each gets its status line, the page is never made for it, and the connection closes.
    void requestsNotServed()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, status);
        int pagesMade = 0;
        CMetricsServer server(
            [&] {
                ++pagesMade;
                return QByteArray("quillpost_up 1\n");
            },
            { 8, kWaitMs, kMaxRequest });
        QVERIFY(server.Listen({ QHostAddress::LocalHost, 0 }));
        const QByteArray reply = Exchange(server.Port(), request);
        QCOMPARE(StatusLine(reply), status);
        // A HEAD is answered with the page's length but without it.
        QCOMPARE(pagesMade, status.endsWith("200 OK") ? 1 : 0);
        QVERIFY(!reply.contains("quillpost_up"));
    }

    // Clients that connect and say nothing take a slot each until their time is up; one
    // past the limit is turned away at once, and scrapes are served all the while.
    void silentClientsHoldUpNoScrape()
    {
        CMetricsServer server([] { return QByteArray("page\n"); }, { 2, 1000, kMaxRequest });
        QVERIFY(server.Listen({ QHostAddress::LocalHost, 0 }));
        QTcpSocket silent;
        QSignalSpy silentClosed(&silent, &QTcpSocket::disconnected);
        silent.connectToHost(QHostAddress::LocalHost, server.Port());
        QVERIFY(silent.waitForConnected(kWaitMs));
        QCOMPARE(StatusLine(Exchange(server.Port(), "GET /metrics HTTP/1.1\r\n\r\n")),
            "HTTP/1.1 200 OK");

        QTcpSocket second;
        second.connectToHost(QHostAddress::LocalHost, server.Port());
        QVERIFY(second.waitForConnected(kWaitMs));
        QCOMPARE(StatusLine(Exchange(server.Port(), "GET /metrics HTTP/1.1\r\n\r\n")),
            "HTTP/1.1 503 Service Unavailable");
        QCOMPARE(second.state(), QAbstractSocket::ConnectedState);

        QElapsedTimer waited;
        waited.start();
        QVERIFY(silentClosed.wait(kWaitMs));
        QVERIFY(waited.elapsed() < 5000);
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QAbstractSocket::UnconnectedState, kWaitMs);
        QCOMPARE(StatusLine(Exchange(server.Port(), "GET /metrics HTTP/1.1\r\n\r\n")),
            "HTTP/1.1 200 OK");
    }

private:
    static constexpr int kMaxRequest = 1024;

    std::unique_ptr<SimulatedProviders> m_env;
};

QTEST_GUILESS_MAIN(TestMetricsServer)
#include "test_metrics_server.moc"

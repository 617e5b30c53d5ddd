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
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

class TestMetricsServer : public QObject
{
    Q_OBJECT

private slots:
    // After pages accepted, refused until given up and timed out, the page holds every
    // figure, each after its HELP and TYPE lines; rows nobody can send yet are waiting.
    void figuresAfterSends()
    {
        SimulatedProviders env;
        quillpost::sim::SimConfig refusing, silent;
        refusing.faults.nakBlock = 1;
        silent.faults.silentAfterConnect = true;
        const int good = env.Provider();
        env.Queue(good, "Ann");
        env.Queue(good, "Bob");
        env.Queue(env.Provider(refusing), "Cy", {}, 2); // two attempts, the second gives up
        env.Queue(env.Provider(silent), "Di", {}, 3); // one time-out, which gives up
        env.db.addMessageRow(999, 90, "Nobody to send to", 0,
            QDateTime::currentDateTime().addSecs(-3600).toString("yyyy-MM-dd HH:mm:ss"));
        env.db.addMessageRow(1, 91, "Tomorrow", 0, "2099-01-01 00:00:00");

        CModemList modems([] { return kSimulatedLineName; });
        CHeadlessDispatcher dispatcher(
            modems, [](const QString&) {}, 20, SendTiming { 2, 0, 0, 500 });
        // The gateway's figures as an SNPP gateway keeps them: 3 connections, 2 submissions.
        CMetricsServer server([&] {
            return RenderMetricsPage(CollectDispatchFigures(dispatcher.Counters()), { 3, 2 });
        });
        QVERIFY(server.Listen({ QHostAddress::LocalHost, 0 }));
        dispatcher.Start();
        QTRY_VERIFY_WITH_TIMEOUT(ReadSendLog().size() == 5 && !dispatcher.IsSending(), kWaitMs);

        const QByteArray reply = Exchange(server.Port());
        QVERIFY(reply.contains("\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"));
        int calls = 0;
        for (const auto& sim : env.sims)
            calls += sim->callCount();
        const qint64 lastSent = ToQuillTime(*COleDateTime::FromText(
            env.db.scalar("SELECT MAX(SendTime) FROM Messages WHERE Status = 1").toString()));
        // Name, type, value and the margin of the figures that follow the clock.
        const std::tuple<const char*, const char*, qint64, qint64> expected[] = {
            { "quillpost_database_readable", "gauge", 1, 0 },
            { "quillpost_rows_waiting", "gauge", 2, 0 },
            { "quillpost_rows_due", "gauge", 1, 0 },
            { "quillpost_oldest_due_age_seconds", "gauge", 3600, 5 },
            { "quillpost_pages_sent_total", "counter", 2, 0 },
            { "quillpost_pages_failed_total", "counter", 3, 0 },
            { "quillpost_pages_given_up_total", "counter", 2, 0 },
            { "quillpost_calls_total", "counter", calls, 0 },
            { "quillpost_send_timeouts_total", "counter", 1, 0 },
            { "quillpost_last_accepted_page_timestamp_seconds", "gauge", lastSent, 2 },
            { "quillpost_dispatcher_lock_held", "gauge", 1, 0 },
            { "quillpost_snpp_connections_total", "counter", 3, 0 },
            { "quillpost_snpp_submissions_total", "counter", 2, 0 },
        };
        // Three lines a figure, the last ended too.
        const QByteArrayList lines = reply.mid(reply.indexOf("\r\n\r\n") + 4).split('\n');
        QCOMPARE(lines.size(), 3 * std::size(expected) + 1);
        qsizetype at = 0;
        for (const auto& [name, type, value, margin] : expected) {
            QVERIFY(lines[at++].startsWith("# HELP " + QByteArray(name) + ' '));
            QCOMPARE(lines[at++], "# TYPE " + QByteArray(name) + ' ' + type);
            const QByteArrayList sample = lines[at++].split(' ');
            QCOMPARE(sample.value(0), name);
            QCOMPARE_LE(qAbs(sample.value(1).toLongLong() - value), margin);
        }
    }

    void requestsNotServed_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("status");
        const auto row = [](const char* name, const QByteArray& request, const char* status) {
            QTest::newRow(name) << request << QByteArray("HTTP/1.1 ") + status;
        };
        row("other path", "GET /metricsx HTTP/1.1\r\n\r\n", "404 Not Found");
        row("other method", "POST /metrics HTTP/1.1\r\n\r\n", "405 Method Not Allowed");
        row("not HTTP", "hello\n\n", "400 Bad Request");
        // Exactly the server's buffer: nothing is left unread when it closes.
        row("oversized head",
            QByteArray("GET /metrics HTTP/1.1\r\nX: ").leftJustified(kMaxRequest + 1, 'a'),
            "431 Request Header Fields Too Large");
        row("HEAD, a query and bare line feeds", "HEAD /metrics?x=1 HTTP/1.0\n\n", "200 OK");
    }

    // Each gets its status line and no page, and the connection closes; a HEAD is
    // answered with the page's length, so the page is made for it alone.
    void requestsNotServed()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, status);
        int pagesMade = 0;
        CMetricsServer server([&] { return "quillpost_up " + QByteArray::number(++pagesMade); },
            { 8, kWaitMs, kMaxRequest });
        QVERIFY(server.Listen({ QHostAddress::LocalHost, 0 }));
        const QByteArray reply = Exchange(server.Port(), request);
        QCOMPARE(StatusLine(reply), status);
        QCOMPARE(pagesMade, status.endsWith("200 OK") ? 1 : 0);
        QVERIFY(!reply.contains("quillpost_up"));
    }

    // Clients that connect and say nothing take a slot each until their time is up; one
    // past the limit is turned away at once, and scrapes are served all the while. A client
    // as silent on a server whose time limit no run reaches is still connected at the end:
    // the limit, not the time passed, closed the others.
    void silentClientsHoldUpNoScrape()
    {
        CMetricsServer server([] { return QByteArray("page\n"); }, { 2, 3000, kMaxRequest });
        CMetricsServer patient([] { return QByteArray(); }, { 1, 10 * kWaitMs, kMaxRequest });
        QVERIFY(server.Listen({ QHostAddress::LocalHost, 0 }));
        QVERIFY(patient.Listen({ QHostAddress::LocalHost, 0 }));
        QTcpSocket waiting, silent, second;
        waiting.connectToHost(QHostAddress::LocalHost, patient.Port());
        silent.connectToHost(QHostAddress::LocalHost, server.Port());
        QVERIFY(waiting.waitForConnected(kWaitMs) && silent.waitForConnected(kWaitMs));
        QCOMPARE(StatusLine(Exchange(server.Port())), "HTTP/1.1 200 OK");
        second.connectToHost(QHostAddress::LocalHost, server.Port());
        QVERIFY(second.waitForConnected(kWaitMs));
        QCOMPARE(StatusLine(Exchange(server.Port())), "HTTP/1.1 503 Service Unavailable");

        QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QAbstractSocket::UnconnectedState, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QAbstractSocket::UnconnectedState, kWaitMs);
        QCOMPARE(StatusLine(Exchange(server.Port())), "HTTP/1.1 200 OK");
        QCOMPARE(waiting.state(), QAbstractSocket::ConnectedState);
    }

private:
    static constexpr int kWaitMs = 60000;
    static constexpr int kMaxRequest = 1024;

    // Sends `request` on a connection of its own; all the server said before it closed.
    static QByteArray Exchange(
        quint16 port, const QByteArray& request = "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n")
    {
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, port);
        QSignalSpy closed(&client, &QTcpSocket::disconnected);
        client.waitForConnected(kWaitMs);
        client.write(request);
        return closed.wait(kWaitMs) ? client.readAll() : QByteArray();
    }
    QByteArray StatusLine(const QByteArray& reply) { return reply.left(reply.indexOf('\r')); }
};

QTEST_GUILESS_MAIN(TestMetricsServer)
#include "test_metrics_server.moc"

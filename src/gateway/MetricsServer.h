#pragma once

#include "gateway/ListenAddress.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QTcpServer>
#include <functional>

class QTcpSocket;

// What one client may cost the metrics server.
struct MetricsLimits
{
    int maxConnections = 8; // one more is answered 503 and closed
    // From accepting a connection to closing it: the client sends its request and takes
    // the answer within this, or is cut off.
    int connectionMs = 10000;
    int maxRequestBytes = 8192; // the request line and headers; more is answered 431
};

// The metrics page over HTTP/1.1: GET or HEAD of /metrics, one request per connection.
// It runs on the thread that made it, in that thread's event loop, and never waits for a
// client: a client that sends slowly, sends nothing or never reads costs one connection
// slot until its time is up, and the dispatcher sharing the thread goes on sending.
class CMetricsServer final : public QObject
{
public:
    // Makes the page body; called once per scrape of /metrics.
    using PageSource = std::function<QByteArray()>;

    explicit CMetricsServer(PageSource page, MetricsLimits limits = {});
    ~CMetricsServer() override;

    // False, with ErrorString set, when the address cannot be listened on.
    bool Listen(const ListenAddress& where);
    QString ErrorString() const { return m_server.errorString(); }
    quint16 Port() const { return m_server.serverPort(); }

private:
    void Accept();
    void Read(QTcpSocket& socket);
    // The answer to one complete request head.
    void Answer(QTcpSocket& socket, const QByteArray& head);
    void Reply(QTcpSocket& socket, const QByteArray& status, const QByteArray& body,
        const QByteArray& contentType = "text/plain; charset=utf-8",
        const QByteArray& extraHeaders = {}, bool withBody = true);

    PageSource m_page;
    MetricsLimits m_limits;
    // The connections holding a slot: each leaves once it has closed or is gone.
    QSet<QObject*> m_open;
    // Last, so that its connections go (and count themselves out) while the rest is here.
    QTcpServer m_server;
};

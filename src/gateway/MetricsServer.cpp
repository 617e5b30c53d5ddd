#include "gateway/MetricsServer.h"

#include <QTcpSocket>
#include <QTimer>

namespace {

const QByteArray kPageType = "text/plain; version=0.0.4; charset=utf-8";

// Where the request head ends, past its blank line; -1 while it has not ended.
qsizetype HeadEnd(const QByteArray& data)
{
    const qsizetype crlf = data.indexOf("\r\n\r\n");
    const qsizetype lf = data.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf))
        return crlf + 4;
    return lf >= 0 ? lf + 2 : -1;
}

} // namespace

CMetricsServer::CMetricsServer(PageSource page, MetricsLimits limits)
    : m_page(std::move(page))
    , m_limits(limits)
{
    connect(&m_server, &QTcpServer::newConnection, this, &CMetricsServer::Accept);
}

CMetricsServer::~CMetricsServer() = default;

bool CMetricsServer::Listen(const ListenAddress& where)
{
    return m_server.listen(where.address, where.port);
}

void CMetricsServer::Accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // A client sending without end fills this and no more of the program's memory.
        socket->setReadBufferSize(m_limits.maxRequestBytes + 1);
        // A client gets its time and no more, whatever it does or leaves undone.
        QTimer::singleShot(m_limits.connectionMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        if (m_open.size() >= m_limits.maxConnections) {
            Reply(*socket, "503 Service Unavailable", "Too many connections\n");
            continue;
        }
        m_open.insert(socket);
        // A closed connection frees its slot at once, before it is deleted.
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { m_open.remove(socket); });
        connect(socket, &QObject::destroyed, this, [this](QObject* gone) { m_open.remove(gone); });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(*socket); });
    }
}

void CMetricsServer::Read(QTcpSocket& socket)
{
    // The head stays in the socket's buffer until it is complete; nothing past the limit
    // is ever looked at.
    const QByteArray data = socket.peek(m_limits.maxRequestBytes + 1);
    const qsizetype end = HeadEnd(data);
    if (end >= 0 && end <= m_limits.maxRequestBytes)
        Answer(socket, data.left(end));
    else if (data.size() > m_limits.maxRequestBytes)
        Reply(socket, "431 Request Header Fields Too Large", "Request too large\n");
}

void CMetricsServer::Answer(QTcpSocket& socket, const QByteArray& head)
{
    const QList<QByteArray> parts = head.left(head.indexOf('\n')).trimmed().split(' ');
    if (parts.size() != 3 || !parts[1].startsWith('/') || !parts[2].startsWith("HTTP/1.")) {
        Reply(socket, "400 Bad Request", "Bad request\n");
        return;
    }
    const QByteArray& method = parts[0];
    const bool headOnly = method == "HEAD";
    if (method != "GET" && !headOnly) {
        Reply(socket, "405 Method Not Allowed", "Only GET and HEAD are served\n",
            "text/plain; charset=utf-8", "Allow: GET, HEAD\r\n");
        return;
    }
    const QByteArray path = parts[1].split('?').first();
    if (path != "/metrics") {
        Reply(socket, "404 Not Found", "Not found: the page is /metrics\n",
            "text/plain; charset=utf-8", {}, !headOnly);
        return;
    }
    Reply(socket, "200 OK", m_page(), kPageType, {}, !headOnly);
}

void CMetricsServer::Reply(QTcpSocket& socket, const QByteArray& status, const QByteArray& body,
    const QByteArray& contentType, const QByteArray& extraHeaders, bool withBody)
{
    // One answer per connection: whatever the client sends after the request is ignored.
    disconnect(&socket, &QTcpSocket::readyRead, this, nullptr);
    QByteArray reply = "HTTP/1.1 " + status + "\r\nContent-Type: " + contentType
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n"
        + extraHeaders + "\r\n";
    if (withBody)
        reply += body;
    socket.write(reply);
    // Closes once the answer is written; the connection's time limit still stands.
    socket.disconnectFromHost();
}

#include "gateway/SnppServer.h"

#include "gateway/GatewayCounters.h"
#include "gateway/SnppCredentials.h"

#include <QTcpSocket>
#include <QTimer>

namespace {

// How long a refused client has to take its 421 before the socket is dropped.
constexpr int kRefusedMs = 5000;

// An IPv4 client of a socket listening on IPv6 comes as ::ffff:a.b.c.d.
QHostAddress plain(const QHostAddress& address)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4) : address;
}

} // namespace

CSnppServer::CSnppServer(
    SnppServerConfig config, GatewayCounters& counters, LogLine log, QObject* parent)
    : QObject(parent)
    , m_config(std::move(config))
{
    m_context.counters = &counters;
    m_context.log = std::move(log);
    m_context.idleMs = m_config.idleMs;
    connect(&m_server, &QTcpServer::newConnection, this, &CSnppServer::Accept);
}

QString CSnppServer::Listen()
{
    if (!m_config.credentialsFile.isEmpty()) {
        auto credentials = std::make_shared<CSnppCredentials>();
        if (const QString error = credentials->Load(m_config.credentialsFile); !error.isEmpty())
            return error;
        m_context.credentials = std::move(credentials);
    }
    if (!m_server.listen(m_config.address, m_config.port))
        return QStringLiteral("cannot listen on %1 port %2: %3")
            .arg(m_config.address.toString())
            .arg(m_config.port)
            .arg(m_server.errorString());
    return {};
}

void CSnppServer::Shutdown()
{
    m_server.close();
    for (CSnppConnection* connection : findChildren<CSnppConnection*>(Qt::FindDirectChildrenOnly))
        connection->Shutdown();
}

void CSnppServer::Accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        const QHostAddress peer = plain(socket->peerAddress());
        if (!Allowed(peer)) {
            Refuse(socket, "421 Access denied: your network may not page here\r\n",
                QStringLiteral("its network is not among the allowed ones"));
            continue;
        }
        if (m_connections >= m_config.maxConnections) {
            Refuse(socket, "421 Too many connections, try again later\r\n",
                QStringLiteral("%1 connections are open").arg(m_connections));
            continue;
        }
        ++m_connections;
        ++m_context.counters->snppConnections;
        auto* connection = new CSnppConnection(socket, m_context, this);
        connect(connection, &CSnppConnection::Closed, this, [this] { --m_connections; });
    }
}

bool CSnppServer::Allowed(const QHostAddress& peer) const
{
    for (const QPair<QHostAddress, int>& network : m_config.allowedNetworks)
        if (peer.isInSubnet(network))
            return true;
    return false;
}

void CSnppServer::Refuse(QTcpSocket* socket, const char* reply, const QString& why)
{
    m_context.log(
        QStringLiteral("SNPP %1: refused, %2.").arg(socket->peerAddress().toString(), why));
    socket->setParent(this);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kRefusedMs, socket, &QTcpSocket::abort);
    socket->write(reply);
    socket->flush();
    socket->disconnectFromHost();
}

#pragma once

#include "gateway/SnppConnection.h"

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QTcpServer>
#include <functional>

struct GatewayCounters;

// How the SNPP gateway listens and whom it serves.
struct SnppServerConfig
{
    static constexpr int kDefaultConnections = 32;
    static constexpr int kDefaultIdleSeconds = 120;

    QHostAddress address { QHostAddress::LocalHost };
    quint16 port = 0; // 0: any free port
    // Clients outside every one of these are refused; by default loopback only.
    QList<QPair<QHostAddress, int>> allowedNetworks { QHostAddress::parseSubnet("127.0.0.0/8"),
        QHostAddress::parseSubnet("::1/128") };
    QString credentialsFile; // empty: LOGI takes any name
    int maxConnections = kDefaultConnections;
    int idleMs = kDefaultIdleSeconds * 1000;
};

// The SNPP gateway: accepts connections on the dispatcher's thread, without ever
// waiting on one, and serves each with a CSnppConnection. A client from a network not
// allowed, or one past the connection limit, is told 421 and disconnected.
class CSnppServer final : public QObject
{
public:
    using LogLine = std::function<void(const QString&)>;

    CSnppServer(
        SnppServerConfig config, GatewayCounters& counters, LogLine log, QObject* parent = nullptr);

    // Reads the credentials, if any, and listens; why it cannot, empty when it does.
    QString Listen();
    quint16 Port() const { return m_server.serverPort(); }
    int Connections() const { return m_connections; }
    // Stops listening and tells every client 421 before closing its connection.
    void Shutdown();

private:
    void Accept();
    bool Allowed(const QHostAddress& peer) const;
    void Refuse(QTcpSocket* socket, const char* reply, const QString& why);

    SnppServerConfig m_config;
    SnppConnectionContext m_context;
    QTcpServer m_server;
    int m_connections = 0;
};

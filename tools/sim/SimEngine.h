#pragma once

#include "PagingSimulator.h"
#include "SimRecorder.h"

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <functional>

class QTcpServer;

namespace quillpost::sim {

class ModemSession;
class NetworkSession;
class PtyLink;
class TcpCall;

// Lives on the simulator's thread and owns everything that touches the line.
class SimWorker : public QObject
{
    Q_OBJECT

public:
    SimWorker(const SimConfig& config, SimRecorder& recorder);

    bool openPty(const QString& linkPath, QString& slavePath, QString& error);
    bool listenTcp(quint16 port, quint16& chosenPort, QString& error);
    void shutDown();

private:
    void acceptCalls();
    void startSession(NetworkSession* session);
    // The listener for --tcp: plain, or TLS with the configured certificate.
    QTcpServer* makeServer(QString& error);

    SimConfig m_config;
    SimRecorder& m_recorder;
    PtyLink* m_link = nullptr;
    ModemSession* m_modem = nullptr;
    QTcpServer* m_server = nullptr;
    QList<QPointer<TcpCall>> m_tcpCalls;
    QList<QPointer<NetworkSession>> m_sessions; // SNPP or WCTP calls
    QString m_linkPath;
};

// The thread, the worker on it and the shared record, behind PagingSimulator.
// Start and stop belong to the thread that owns the simulator; the queries may
// come from any thread.
class SimEngine
{
public:
    explicit SimEngine(const SimConfig& config);
    ~SimEngine();

    bool startPty(const QString& linkPath);
    bool startTcp(quint16 port);
    void stop();

    SimRecorder& recorder() { return m_recorder; }
    bool isRunning() const;
    QString slavePath() const;
    quint16 tcpPort() const;
    QString errorString() const;

private:
    struct Endpoint
    {
        QString slavePath;
        quint16 tcpPort = 0;
    };
    using Opener = std::function<bool(SimWorker&, Endpoint&, QString& error)>;

    bool launch(const Opener& open);
    void shutDownThread();
    void setError(const QString& error);
    void setOutcome(const Endpoint& endpoint, const QString& error, bool running);

    SimConfig m_config;
    SimRecorder m_recorder;
    QThread m_thread;
    SimWorker* m_worker = nullptr;

    mutable QMutex m_stateMutex;
    bool m_running = false;
    Endpoint m_endpoint;
    QString m_error;
};

} // namespace quillpost::sim

#pragma once

#include "PagingSimulator.h"
#include "SimRecorder.h"

#include <QObject>
#include <QPointer>
#include <QThread>

class QTcpServer;

namespace quillpost::sim {

class ModemSession;
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

    SimConfig m_config;
    SimRecorder& m_recorder;
    PtyLink* m_link = nullptr;
    ModemSession* m_modem = nullptr;
    QTcpServer* m_server = nullptr;
    QList<QPointer<TcpCall>> m_tcpCalls;
    QString m_linkPath;
};

// The thread, the worker on it and the shared record, behind PagingSimulator.
class SimEngine
{
public:
    explicit SimEngine(const SimConfig& config);
    ~SimEngine();

    bool startPty(const QString& linkPath);
    bool startTcp(quint16 port);
    void stop();

    SimRecorder& recorder() { return m_recorder; }
    bool isRunning() const { return m_running; }
    QString slavePath() const { return m_slavePath; }
    quint16 tcpPort() const { return m_tcpPort; }
    QString errorString() const { return m_error; }

private:
    bool launch(const std::function<bool(SimWorker&)>& open);

    SimConfig m_config;
    SimRecorder m_recorder;
    QThread m_thread;
    SimWorker* m_worker = nullptr;
    bool m_running = false;
    QString m_slavePath;
    quint16 m_tcpPort = 0;
    QString m_error;
};

} // namespace quillpost::sim

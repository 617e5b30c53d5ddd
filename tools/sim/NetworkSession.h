#pragma once

#include "PagingSimulator.h"

#include <QObject>

class QTcpSocket;

namespace quillpost::sim {

class SimRecorder;

// One TCP (or TLS) connection to a simulated network paging service (SNPP, WCTP):
// the connection is the call. It records the call's bytes and its one ending, and
// leaves the protocol to the subclass.
class NetworkSession : public QObject
{
    Q_OBJECT

public:
    NetworkSession(const SimConfig& config, QTcpSocket* socket, SimRecorder& recorder,
        QObject* parent = nullptr);

    void start();
    void shutDown();

protected:
    virtual void greet() { }
    // Bytes the caller sent, already recorded.
    virtual void received(const QByteArray& bytes) = 0;
    // Records how the call ended; false when it had already ended.
    bool recordEnd(CallEnd how);
    bool ended() const { return m_ended; }
    int call() const { return m_call; }

    SimConfig m_config;
    QTcpSocket* m_socket;
    SimRecorder& m_recorder;

private:
    void readAvailable();
    void callerHungUp();

    int m_call = 0;
    bool m_ended = false;
};

} // namespace quillpost::sim

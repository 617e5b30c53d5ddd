#pragma once

#include "PagingSimulator.h"

#include <QObject>

class QTcpSocket;

namespace quillpost::sim {

class ReplyPacer;
class SimRecorder;
class TerminalSession;

// One TCP connection: a call that starts in data mode, with no modem in front of
// the paging terminal. The terminal ending the call closes the connection once
// its last replies are out; the caller closing it is the hang-up.
class TcpCall : public QObject
{
    Q_OBJECT

public:
    TcpCall(const SimConfig& config, QTcpSocket* socket, SimRecorder& recorder,
        QObject* parent = nullptr);

    void start();
    void shutDown();

private:
    void readAvailable();
    void terminalEndedCall();
    void callerHungUp();

    QTcpSocket* m_socket;
    SimRecorder& m_recorder;
    ReplyPacer* m_pacer;
    TerminalSession* m_session;
    bool m_closing = false;
    int m_hangUpDelayMs = 0;
};

} // namespace quillpost::sim

#include "NetworkSession.h"

#include "SimRecorder.h"

#include <QTcpSocket>

namespace quillpost::sim {

NetworkSession::NetworkSession(
    const SimConfig& config, QTcpSocket* socket, SimRecorder& recorder, QObject* parent)
    : QObject(parent)
    , m_config(config)
    , m_socket(socket)
    , m_recorder(recorder)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &NetworkSession::readAvailable);
    connect(m_socket, &QTcpSocket::disconnected, this, &NetworkSession::callerHungUp);
}

void NetworkSession::start()
{
    m_call = m_recorder.beginCall();
    greet();
}

void NetworkSession::shutDown()
{
    recordEnd(CallEnd::Stopped);
    m_socket->abort();
}

bool NetworkSession::recordEnd(CallEnd how)
{
    if (m_ended)
        return false;
    m_ended = true;
    m_recorder.recordCallEnd(m_call, how);
    return true;
}

void NetworkSession::readAvailable()
{
    const QByteArray bytes = m_socket->readAll();
    m_recorder.recordReceived(bytes);
    received(bytes);
}

void NetworkSession::callerHungUp()
{
    recordEnd(CallEnd::CallerHungUp);
    deleteLater();
}

} // namespace quillpost::sim

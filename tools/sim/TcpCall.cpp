#include "TcpCall.h"

#include "ReplyPacer.h"
#include "SimRecorder.h"
#include "TerminalSession.h"

#include <QTcpSocket>
#include <QTimer>

namespace quillpost::sim {

TcpCall::TcpCall(
    const SimConfig& config, QTcpSocket* socket, SimRecorder& recorder, QObject* parent)
    : QObject(parent)
    , m_socket(socket)
    , m_recorder(recorder)
    , m_hangUpDelayMs(config.hangUpDelayMs)
{
    m_socket->setParent(this);
    m_pacer = new ReplyPacer(
        [this](QByteArrayView bytes) -> qint64 {
            if (m_socket->state() != QAbstractSocket::ConnectedState)
                return -1;
            return m_socket->write(bytes.data(), bytes.size());
        },
        this);
    m_pacer->setPieces(config.faults.chunkSize, config.faults.chunkPauseMs);
    m_pacer->setLineRate(config.lineRateBps);
    m_pacer->setCounter([&recorder](qint64 byteCount) { recorder.recordSent(byteCount); });
    m_session = new TerminalSession(config, recorder, *m_pacer, this);
    connect(m_session, &TerminalSession::terminalEndedCall, this, &TcpCall::terminalEndedCall);
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpCall::readAvailable);
    connect(m_socket, &QTcpSocket::disconnected, this, &TcpCall::callerHungUp);
}

void TcpCall::start()
{
    m_session->start();
}

void TcpCall::shutDown()
{
    m_pacer->clear();
    m_session->finish(CallEnd::Stopped);
    m_socket->abort();
}

void TcpCall::readAvailable()
{
    const QByteArray bytes = m_socket->readAll();
    m_recorder.recordReceived(bytes);
    m_pacer->lineCarriedIncoming(bytes.size());
    m_session->receive(bytes);
}

void TcpCall::terminalEndedCall()
{
    if (m_closing)
        return;
    m_closing = true;
    auto close = [this] {
        if (m_hangUpDelayMs > 0)
            QTimer::singleShot(m_hangUpDelayMs, this, [this] { m_socket->disconnectFromHost(); });
        else
            m_socket->disconnectFromHost();
    };
    if (m_pacer->isIdle())
        close();
    else
        connect(m_pacer, &ReplyPacer::drained, this, close);
}

void TcpCall::callerHungUp()
{
    m_pacer->clear();
    m_session->finish(CallEnd::CallerHungUp);
    deleteLater();
}

} // namespace quillpost::sim

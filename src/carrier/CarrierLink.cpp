#include "carrier/CarrierLink.h"

#include "carrier/CarrierTls.h"
#include "carrier/PageCall.h"

#include <QSslSocket>
#include <algorithm>

namespace {

// How long a hang-up waits for the last command (the logout) to leave.
constexpr int kFlushMs = 500;

} // namespace

CCarrierLink::CCarrierLink(const CarrierAddress& address, ICarrierLinkOwner& owner, int timeoutMs)
    : m_address(address)
    , m_owner(owner)
{
    m_connectTimer.setSingleShot(true);
    m_connectTimer.setInterval(
        timeoutMs > 0 ? std::min(timeoutMs, kConnectTimeoutMs) : kConnectTimeoutMs);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        Lose(QStringLiteral("No connection to %1:%2 within %3 s")
                 .arg(m_address.host)
                 .arg(m_address.port)
                 .arg(m_connectTimer.interval() / 1000.0));
    });
}

CCarrierLink::~CCarrierLink()
{
    Close();
}

std::optional<QString> CCarrierLink::Open()
{
    if (!m_address.tls) {
        m_socket = new QTcpSocket(this);
    } else {
        if (!QSslSocket::supportsSsl())
            return QStringLiteral("TLS is not available on this system (%1)")
                .arg(QSslSocket::activeBackend());
        auto* socket = new QSslSocket(this);
        m_socket = socket;
        if (const QString fault = PrepareTlsSocket(*socket); !fault.isEmpty())
            return fault;
        connect(socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
            m_strCertificateFault = CertificateFaultText(m_address.host, errors);
        });
        connect(socket, &QSslSocket::encrypted, this, &CCarrierLink::OnConnected);
    }
    if (!m_address.tls)
        connect(m_socket, &QTcpSocket::connected, this, &CCarrierLink::OnConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &CCarrierLink::OnReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &CCarrierLink::OnSocketError);
    connect(m_socket, &QTcpSocket::disconnected, this, &CCarrierLink::OnDisconnected);
    m_connectTimer.start();
    if (auto* socket = qobject_cast<QSslSocket*>(m_socket.data()))
        socket->connectToHostEncrypted(m_address.host, m_address.port);
    else
        m_socket->connectToHost(m_address.host, m_address.port);
    return std::nullopt;
}

void CCarrierLink::Write(const QByteArray& bytes)
{
    if (m_socket && m_bConnected && !m_bSilent)
        m_socket->write(bytes);
}

void CCarrierLink::HangUp()
{
    if (m_bSilent)
        return;
    m_bSilent = true;
    m_connectTimer.stop();
    if (!m_socket)
        return;
    if (!m_bLost && m_socket->state() == QAbstractSocket::ConnectedState
        && m_socket->bytesToWrite() > 0)
        m_socket->waitForBytesWritten(kFlushMs);
    m_socket->disconnectFromHost();
}

void CCarrierLink::Close()
{
    HangUp();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        // Close may come from inside one of the socket's own signals.
        m_socket->deleteLater();
        m_socket = nullptr;
    }
}

void CCarrierLink::OnConnected()
{
    if (m_bSilent)
        return;
    m_connectTimer.stop();
    m_bConnected = true;
    m_owner.OnLinkConnected();
}

void CCarrierLink::OnReadyRead()
{
    if (m_bSilent || !m_socket)
        return;
    QByteArray bytes = m_socket->readAll();
    // Some terminals pad their replies with NUL bytes, which no reply ever means.
    bytes.removeIf([](char byte) { return byte == '\0'; });
    if (!bytes.isEmpty())
        m_owner.OnLinkData(bytes);
}

void CCarrierLink::OnSocketError()
{
    if (!m_socket)
        return;
    if (!m_strCertificateFault.isEmpty())
        Lose(m_strCertificateFault);
    else if (m_socket->error() == QAbstractSocket::RemoteHostClosedError)
        OnDisconnected();
    else
        Lose(QStringLiteral("%1:%2: %3")
                 .arg(m_address.host)
                 .arg(m_address.port)
                 .arg(m_socket->errorString()));
}

void CCarrierLink::OnDisconnected()
{
    // What the carrier said last is read before the loss is reported, so a reply that
    // came with the close still counts.
    OnReadyRead();
    Lose(m_bConnected ? QStringLiteral("%1 closed the connection").arg(m_address.host)
                      : QStringLiteral("%1:%2 closed the connection before it was ready")
                            .arg(m_address.host)
                            .arg(m_address.port));
}

void CCarrierLink::Lose(const QString& reason)
{
    if (m_bSilent)
        return;
    const bool connected = m_bConnected;
    m_bLost = true;
    HangUp();
    m_owner.OnLinkLost(reason, connected);
}

void TellLineLost(IPageCallOwner* const& owner, const QString& reason, bool connected)
{
    if (owner && !connected)
        owner->OnTapTerminalLine(reason);
    if (owner)
        owner->OnLineFailed(0, kLineFailedBusyOrDropped);
}

#pragma once

#include "carrier/CarrierAddress.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <optional>

class QTcpSocket;
class IPageCallOwner;

// Who hears what happens on a carrier's connection, always later, from the event loop.
class ICarrierLinkOwner
{
public:
    virtual ~ICarrierLinkOwner() = default;
    // Connected, and for TLS the certificate verified.
    virtual void OnLinkConnected() = 0;
    // Received bytes, NUL bytes already removed.
    virtual void OnLinkData(const QByteArray& bytes) = 0;
    // The connection could not be made or ended; `reason` says why in the carrier's
    // terms (a refused certificate names it); `connected`: it had been connected.
    virtual void OnLinkLost(const QString& reason, bool connected) = 0;
};

// One TCP or TLS connection to a carrier's host and port. Nothing reaches the owner
// after HangUp.
class CCarrierLink final : public QObject
{
    Q_OBJECT

public:
    // `timeoutMs`: the send's own time-out, which the connect wait never outlasts.
    CCarrierLink(const CarrierAddress& address, ICarrierLinkOwner& owner, int timeoutMs);
    ~CCarrierLink() override;

    // Starts connecting; why this side cannot (nothing went out), or nothing.
    std::optional<QString> Open();
    void Write(const QByteArray& bytes);
    // Sends what is queued, then closes; the owner hears nothing more.
    void HangUp();
    void Close();

    // Longest wait for the connection and TLS handshake.
    static constexpr int kConnectTimeoutMs = 30000;

private:
    void OnConnected();
    void OnReadyRead();
    void OnSocketError();
    void OnDisconnected();
    void Lose(const QString& reason);

    CarrierAddress m_address;
    ICarrierLinkOwner& m_owner;
    QPointer<QTcpSocket> m_socket;
    QTimer m_connectTimer;
    QString m_strCertificateFault;
    bool m_bConnected = false;
    bool m_bSilent = false;
    bool m_bLost = false; // the socket failed or closed: nothing more can leave
};

// Tells the owner of a call that its line is lost. A connection that never came up
// (refused, unreachable, a certificate not trusted) is explained by this side's
// reason, shown as the terminal's line; a dropped one keeps the far end's last reply.
// `owner` is read again after each call, which may have ended the send.
void TellLineLost(IPageCallOwner* const& owner, const QString& reason, bool connected);

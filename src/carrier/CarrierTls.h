#pragma once

#include <QList>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>

class QSslSocket;

// The TLS every carrier call uses (taps, snpps, https): the system's trusted
// certificates, plus the PEM certificates of the settings' entry [Network]
// caCertificates (an absolute file name) for a provider with a private authority.
// The peer's certificate and host name are always verified; a failure ends the call.
struct CarrierTls
{
    QSslConfiguration configuration;
    // Why the extra certificates cannot be used (nothing should go out then); empty: fine.
    QString fault;
};

// Reads the settings (QSettings("Northmoor", "Quillpost")) afresh on every call, so a
// changed entry takes effect with the next send.
CarrierTls LoadCarrierTls();

// The reason a handshake failed on certificate errors, naming each certificate
// (subject CN, issuer CN) and what was wrong with it, for the sending window and log.
QString CertificateFaultText(const QString& host, const QList<QSslError>& errors);

// Sets up a socket for a verified client handshake; returns the fault of
// LoadCarrierTls, or empty when the socket is ready for connectToHostEncrypted.
QString PrepareTlsSocket(QSslSocket& socket);

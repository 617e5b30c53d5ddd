#include "carrier/CarrierTls.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QSslCertificate>
#include <QSslSocket>
#include <QStringList>

namespace {

QString CaFileFault(const QString& file, const QString& why)
{
    return QStringLiteral("The certificates file \"%1\" (setting Network/caCertificates) %2")
        .arg(file, why);
}

QString CommonName(const QStringList& names)
{
    return names.isEmpty() ? QStringLiteral("(no CN)") : names.join(QLatin1Char('/'));
}

QString DescribeCertificate(const QSslCertificate& cert)
{
    if (cert.isNull())
        return QStringLiteral("the certificate");
    return QStringLiteral("certificate CN=%1 issued by CN=%2")
        .arg(CommonName(cert.subjectInfo(QSslCertificate::CommonName)),
            CommonName(cert.issuerInfo(QSslCertificate::CommonName)));
}

} // namespace

CarrierTls LoadCarrierTls()
{
    CarrierTls tls;
    tls.configuration = QSslConfiguration::defaultConfiguration();
    tls.configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    const QSettings settings(QStringLiteral("Northmoor"), QStringLiteral("Quillpost"));
    const QString file = settings.value(QStringLiteral("Network/caCertificates")).toString();
    if (file.isEmpty())
        return tls;
    if (!QFileInfo(file).isAbsolute()) {
        tls.fault = CaFileFault(file, QStringLiteral("is not an absolute file name"));
        return tls;
    }
    if (!QFileInfo(file).isReadable()) {
        tls.fault = CaFileFault(file, QStringLiteral("cannot be read"));
        return tls;
    }
    const QList<QSslCertificate> extra = QSslCertificate::fromPath(file, QSsl::Pem);
    if (extra.isEmpty()) {
        tls.fault = CaFileFault(file, QStringLiteral("holds no PEM certificate"));
        return tls;
    }
    // Added to the system's authorities, never in place of them.
    tls.configuration.addCaCertificates(extra);
    return tls;
}

QString CertificateFaultText(const QString& host, const QList<QSslError>& errors)
{
    QStringList reasons;
    for (const QSslError& error : errors)
        reasons << QStringLiteral("%1: %2").arg(
            DescribeCertificate(error.certificate()), error.errorString());
    reasons.removeDuplicates();
    return QStringLiteral("TLS certificate of %1 refused: %2")
        .arg(host, reasons.join(QStringLiteral("; ")));
}

QString PrepareTlsSocket(QSslSocket& socket)
{
    CarrierTls tls = LoadCarrierTls();
    if (!tls.fault.isEmpty())
        return tls.fault;
    socket.setSslConfiguration(tls.configuration);
    socket.setPeerVerifyMode(QSslSocket::VerifyPeer);
    return {};
}

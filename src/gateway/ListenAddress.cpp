#include "gateway/ListenAddress.h"

QString ListenAddress::ToText() const
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(address.toString())
        : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

std::optional<ListenAddress> ParseListenAddress(const QString& text, QString& error)
{
    ListenAddress listen;
    QString host;
    QString port = text.trimmed();
    const qsizetype colon = port.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        host = port.left(colon);
        port = port.mid(colon + 1);
        // An IPv6 address stands in brackets, so that its own colons are not the port's.
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        if (host.isEmpty() || !listen.address.setAddress(host)) {
            error = QStringLiteral("\"%1\" is not an address to listen on: give [ADDR:]PORT, "
                                   "ADDR a numeric IPv4 or [IPv6] address.")
                        .arg(text);
            return std::nullopt;
        }
    }
    bool ok = false;
    const uint number = port.toUInt(&ok);
    if (!ok || number == 0 || number > 65535) {
        error = QStringLiteral("\"%1\" has no port from 1 to 65535.").arg(text);
        return std::nullopt;
    }
    listen.port = quint16(number);
    return listen;
}

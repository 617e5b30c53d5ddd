#include "gateway/ListenAddress.h"

#include "platform/telephony/LineDevices.h"

QString ListenAddress::ToText() const
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(address.toString())
        : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

std::optional<ListenAddress> ParseListenAddress(const QString& text, QString& error)
{
    const QString given = text.trimmed();
    bool ok = false;
    const uint port = given.section(QLatin1Char(':'), -1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        error = QStringLiteral("\"%1\" has no port from 1 to 65535.").arg(text);
        return std::nullopt;
    }
    ListenAddress listen;
    listen.port = quint16(port);
    if (!given.contains(QLatin1Char(':')))
        return listen;
    // ADDR:PORT reads as a TCP line's host:port does, an IPv6 address in brackets.
    const std::optional<TcpAddress> named = ParseTcpAddress(given);
    if (!named || !listen.address.setAddress(named->host)) {
        error = QStringLiteral("\"%1\" is not an address to listen on: give [ADDR:]PORT, "
                               "ADDR a numeric IPv4 or [IPv6] address.")
                    .arg(text);
        return std::nullopt;
    }
    return listen;
}

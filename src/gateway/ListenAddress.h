#pragma once

#include <QHostAddress>
#include <QString>
#include <optional>

// Where a server of the gateway listens, as "[ADDR:]PORT" names it on the command line
// and in the settings: "9100", "0.0.0.0:9100", "[::1]:9100". Without an address only
// this machine may connect (127.0.0.1): a server reaches the network only when asked to.
struct ListenAddress
{
    QHostAddress address { QHostAddress::LocalHost };
    quint16 port = 0;

    QString ToText() const;
};

// The address `text` names, or nothing with `error` set to why it names none.
std::optional<ListenAddress> ParseListenAddress(const QString& text, QString& error);

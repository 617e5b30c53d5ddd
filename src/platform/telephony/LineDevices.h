#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// One line device as the line interface offers it.
struct LineDevice
{
    enum class Kind
    {
        Hayes,
        Direct,
        Tcp
    };
    QString name;
    Kind kind = Kind::Hayes;
    QString device; // a serial port or any terminal path; unused for TCP
    QByteArray init = "ATZ"; // the modem's initialisation command
    int speed = 9600;
    int dialTimeoutMs = 60000; // from dialling to the modem's verdict
};

// The lines configured in the settings (array "Lines": name, type hayes|direct|tcp,
// device, init, speed, dialTimeout in seconds), then every serial port that no
// configured line names, as a Hayes modem. Entries without a name or with an unknown
// type are left out with a warning.
QList<LineDevice> LoadLineDevices();

struct TcpAddress
{
    QString host;
    quint16 port = 0;
};
// "host:port" (a bracketed IPv6 host allowed); nothing when it is not one.
std::optional<TcpAddress> ParseTcpAddress(const QString& accessNumber);

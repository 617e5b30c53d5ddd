#include "platform/telephony/LineDevices.h"

#include "platform/LogCategories.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSet>
#include <QSettings>
#include <QtGlobal>

namespace {

std::optional<LineDevice::Kind> ParseKind(const QString& type)
{
    const QString lowered = type.trimmed().toLower();
    if (lowered == QLatin1String("hayes"))
        return LineDevice::Kind::Hayes;
    if (lowered == QLatin1String("direct"))
        return LineDevice::Kind::Direct;
    if (lowered == QLatin1String("tcp"))
        return LineDevice::Kind::Tcp;
    return std::nullopt;
}

// The same device reached by another path (a symbolic link, say) is the same port.
QString CanonicalDevice(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

QList<LineDevice> ConfiguredLines()
{
    QList<LineDevice> lines;
    QSettings settings(QStringLiteral("Northmoor"), QStringLiteral("Quillpost"));
    const int count = settings.beginReadArray(QStringLiteral("Lines"));
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        LineDevice line;
        line.name = settings.value(QStringLiteral("name")).toString();
        const QString type
            = settings.value(QStringLiteral("type"), QStringLiteral("hayes")).toString();
        const std::optional<LineDevice::Kind> kind = ParseKind(type);
        if (line.name.isEmpty() || !kind) {
            qCWarning(lcLine,
                "Line %d in the settings is left out: it needs a name and a type of "
                "hayes, direct or tcp (it has name \"%s\", type \"%s\")",
                i + 1, qUtf8Printable(line.name), qUtf8Printable(type));
            continue;
        }
        line.kind = *kind;
        line.device = settings.value(QStringLiteral("device")).toString();
        line.init
            = settings.value(QStringLiteral("init"), QStringLiteral("ATZ")).toString().toLatin1();
        bool ok = false;
        const int speed = settings.value(QStringLiteral("speed"), 9600).toInt(&ok);
        line.speed = ok ? speed : 0;
        const int dialSeconds = settings.value(QStringLiteral("dialTimeout"), 60).toInt(&ok);
        if (ok && dialSeconds > 0 && dialSeconds <= 600)
            line.dialTimeoutMs = dialSeconds * 1000;
        lines.append(line);
    }
    settings.endArray();
    return lines;
}

QString SerialLineName(const QSerialPortInfo& port)
{
    const QString description = port.description().trimmed();
    if (description.isEmpty())
        return port.portName();
    return QStringLiteral("%1 (%2)").arg(description, port.portName());
}

} // namespace

QList<LineDevice> LoadLineDevices()
{
    QList<LineDevice> lines = ConfiguredLines();
    QSet<QString> named;
    for (const LineDevice& line : lines) {
        if (line.kind != LineDevice::Kind::Tcp && !line.device.isEmpty())
            named.insert(CanonicalDevice(line.device));
    }
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& port : ports) {
        if (named.contains(CanonicalDevice(port.systemLocation())))
            continue;
        LineDevice line;
        line.name = SerialLineName(port);
        line.kind = LineDevice::Kind::Hayes;
        line.device = port.systemLocation();
        lines.append(line);
    }
    return lines;
}

std::optional<TcpAddress> ParseTcpAddress(const QString& accessNumber)
{
    const QString text = accessNumber.trimmed();
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return std::nullopt;
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (host.isEmpty() || !ok || port == 0 || port > 65535)
        return std::nullopt;
    return TcpAddress { host, static_cast<quint16>(port) };
}

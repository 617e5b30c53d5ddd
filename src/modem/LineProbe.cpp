#include "modem/LineProbe.h"

#include "modem/ModemList.h"
#include "platform/telephony/LineFaults.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

std::optional<QString> NamedLineFault(CModemList& modems, const QString& lineName, int& device)
{
    const std::int32_t discovered = modems.DiscoverQuietly();
    if (discovered < 0)
        return QStringLiteral("The line devices cannot be listed: %1")
            .arg(QString::fromLatin1(LineErrorName(discovered)));
    const QString name = lineName.isEmpty() ? modems.StoredModemName() : lineName;
    device = modems.DeviceNamed(name);
    if (device >= 0)
        return std::nullopt;
    if (name.isEmpty())
        return QStringLiteral("No modem is chosen");
    return QStringLiteral("No line device is named \"%1\"").arg(name);
}

std::optional<QString> SendLineFault(CModemList& modems, const QString& lineName)
{
    int found = CModemList::kNoDevice;
    if (std::optional<QString> fault = NamedLineFault(modems, lineName, found))
        return fault;
    const auto device = static_cast<std::uint32_t>(found);
    modems.NegotiateVersion(device);
    LineDevCaps caps;
    const std::int32_t read = modems.Telephony().lineGetDevCaps(
        modems.AppHandle(), device, modems.ApiVersion(), 0, &caps);
    if (read < 0)
        return LineOpenFault(
            modems.DeviceName(int(device)), QString::fromLatin1(LineErrorName(read)));
    if (caps.devicePath.isEmpty())
        return std::nullopt;
    const QByteArray path = caps.devicePath.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return LineOpenFault(
            caps.lineName, caps.devicePath + ": " + QString::fromLocal8Bit(strerror(errno)));
    ::close(fd);
    return std::nullopt;
}

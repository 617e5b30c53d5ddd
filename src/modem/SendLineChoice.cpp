#include "modem/SendLineChoice.h"

#include "modem/ModemList.h"

#include <algorithm>

std::vector<SendLineEntry> SendLineEntries(const CModemList& modems, const QStringList& sendLines)
{
    std::vector<SendLineEntry> entries;
    const auto listed = [&entries](const QString& line) {
        return std::any_of(entries.begin(), entries.end(),
            [&line](const SendLineEntry& entry) { return entry.line == line; });
    };
    for (int device = 0; device < modems.DeviceCount(); ++device) {
        const QString name = modems.DeviceName(device);
        if (!name.isEmpty() && !listed(name))
            entries.push_back({ name, sendLines.contains(name), true });
    }
    for (const QString& line : sendLines) {
        if (!listed(line))
            entries.push_back({ line, true, false });
    }
    return entries;
}

QStringList ChangeSendLine(QStringList sendLines, const QString& line, bool chosen)
{
    if (!chosen)
        sendLines.removeAll(line);
    else if (!line.isEmpty() && !sendLines.contains(line))
        sendLines.append(line);
    return sendLines;
}

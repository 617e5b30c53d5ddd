#include "app/AppSettings.h"

#include "dispatch/SendScheduler.h"

#include <QSettings>

namespace AppSettings {

namespace {

constexpr const char* kCompany = "Northmoor";
constexpr const char* kApplication = "Quillpost";
constexpr const char* kSection = "Quillpost";
constexpr const char* kModemName = "Modem Name";
constexpr const char* kSendLines = "Send Lines";
constexpr const char* kNetworkCalls = "Network Calls";
constexpr const char* kProviderCalls = "Provider Calls";

} // namespace

QString ReadModemName()
{
    QSettings settings(kCompany, kApplication);
    settings.beginGroup(kSection);
    return settings.value(kModemName, QString()).toString();
}

bool WriteModemName(const QString& name)
{
    QSettings settings(kCompany, kApplication);
    settings.beginGroup(kSection);
    settings.setValue(kModemName, name);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QStringList ReadSendLines()
{
    QSettings settings(kCompany, kApplication);
    settings.beginGroup(kSection);
    QStringList lines = settings.value(kSendLines).toStringList();
    for (QString& line : lines)
        line = line.trimmed();
    lines.removeAll(QString());
    lines.removeDuplicates();
    return lines;
}

bool WriteSendLines(const QStringList& lines)
{
    QSettings settings(kCompany, kApplication);
    settings.beginGroup(kSection);
    if (lines.isEmpty())
        settings.remove(kSendLines);
    else
        settings.setValue(kSendLines, lines);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

SendCapacity ReadSendCapacity()
{
    SendCapacity capacity;
    capacity.lines = ReadSendLines();
    QSettings settings(kCompany, kApplication);
    bool number = false;
    const int calls = settings.value(QStringLiteral("%1/%2").arg(kSection, kNetworkCalls)).toInt(&number);
    if (number && calls >= 0)
        capacity.networkCalls = calls;
    settings.beginGroup(kProviderCalls);
    for (const QString& provider : settings.childKeys()) {
        const int allowed = settings.value(provider).toInt(&number);
        if (number && allowed > 1)
            capacity.providerCalls[provider] = allowed;
    }
    return capacity;
}

} // namespace AppSettings

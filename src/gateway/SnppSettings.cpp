#include "gateway/SnppSettings.h"

#include "gateway/ListenAddress.h"

#include <QSettings>

namespace {

constexpr const char* kGroup = "Gateway";

// A list setting written by hand comes as one string with commas, or as a list.
QStringList listValue(const QVariant& value)
{
    QStringList items;
    for (const QString& item : value.toStringList())
        for (const QString& part : item.split(QLatin1Char(','), Qt::SkipEmptyParts))
            if (!part.trimmed().isEmpty())
                items << part.trimmed();
    return items;
}

// A whole number of at least 1 from the setting `key`, or `fallback` when absent.
bool positiveValue(
    const QSettings& settings, const char* key, int fallback, int& value, QString& error)
{
    bool ok = true;
    value = settings.contains(key) ? settings.value(key).toInt(&ok) : fallback;
    if (ok && value >= 1)
        return true;
    error = QStringLiteral("the setting %1/%2 must be a whole number above 0").arg(kGroup, key);
    return false;
}

} // namespace

SnppSettings ReadSnppSettings(const QString& listen)
{
    QSettings stored(QStringLiteral("Northmoor"), QStringLiteral("Quillpost"));
    stored.beginGroup(kGroup);
    const QString where = listen.isEmpty() ? stored.value("SNPP Listen").toString() : listen;
    SnppSettings result;
    if (where.trimmed().isEmpty())
        return result;
    const std::optional<ListenAddress> listenAt = ParseListenAddress(where, result.error);
    if (!listenAt)
        return result;
    SnppServerConfig config;
    config.address = listenAt->address;
    config.port = listenAt->port;
    if (stored.contains("SNPP Allowed Networks")) {
        config.allowedNetworks.clear();
        for (const QString& network : listValue(stored.value("SNPP Allowed Networks"))) {
            const QPair<QHostAddress, int> subnet = QHostAddress::parseSubnet(network);
            if (subnet.first.isNull()) {
                result.error = QStringLiteral("\"%1\" in %2/SNPP Allowed Networks is not a "
                                              "network such as 192.0.2.0/24")
                                   .arg(network, kGroup);
                return result;
            }
            config.allowedNetworks << subnet;
        }
    }
    config.credentialsFile = stored.value("SNPP Credentials").toString().trimmed();
    int idleSeconds = 0;
    if (!positiveValue(stored, "SNPP Connections", SnppServerConfig::kDefaultConnections,
            config.maxConnections, result.error)
        || !positiveValue(stored, "SNPP Idle Seconds", SnppServerConfig::kDefaultIdleSeconds,
            idleSeconds, result.error))
        return result;
    config.idleMs = int(qMin(qint64(idleSeconds) * 1000, qint64(24 * 3600 * 1000)));
    result.config = config;
    return result;
}

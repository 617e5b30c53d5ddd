#include "app/AppSettings.h"

#include <QSettings>

namespace AppSettings {

namespace {

constexpr const char* kCompany = "Northmoor";
constexpr const char* kApplication = "Quillpost";
constexpr const char* kSection = "Quillpost";
constexpr const char* kModemName = "Modem Name";

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

} // namespace AppSettings

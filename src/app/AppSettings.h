#pragma once

#include <QString>

// The operator's settings: QSettings("Northmoor", "Quillpost"), section "Quillpost".
// Its entry "Database" is read below the window, by every program alike:
// CDaoRecordset::ChooseDatabaseName.
namespace AppSettings {

// The stored modem name; empty when none has been stored.
QString ReadModemName();
// False when the settings file could not be written.
bool WriteModemName(const QString& name);

} // namespace AppSettings

#pragma once

#include <QString>
#include <QStringList>

struct SendCapacity;

// The operator's settings: QSettings("Northmoor", "Quillpost"), section "Quillpost".
// Its entry "Database" is read below the window, by every program alike:
// CDaoRecordset::ChooseDatabaseName.
namespace AppSettings {

// The stored modem name; empty when none has been stored.
QString ReadModemName();
// False when the settings file could not be written.
bool WriteModemName(const QString& name);

// The line devices that may send at once (Send Lines); empty when none are stored, and
// the stored modem name alone sends.
QStringList ReadSendLines();
bool WriteSendLines(const QStringList& lines);
// What may send at once: the send lines, Network Calls in the same section (default 4),
// and the group Provider Calls, which allows the providers it names (by their service
// name) that many calls at once.
SendCapacity ReadSendCapacity();

} // namespace AppSettings

#pragma once

#include <QString>
#include <optional>

class CModemList;

// Whether a send can use its line, answered in the words the operator reads: nothing
// when it can, else what keeps it from the line, naming the line device and the cause.
// Both discover the line devices afresh, telling the operator nothing themselves.

// Nothing when `lineName` (empty: the stored modem name) names a listed line device,
// which is then `device`.
std::optional<QString> NamedLineFault(CModemList& modems, const QString& lineName, int& device);

// The cheap check made while a send's line is known to be out of use, to learn when it
// is back: `lineName` (as for NamedLineFault) names a device, and the serial device that
// a modem or direct link of that name uses can be opened now. It is opened and closed at
// once, with no setting changed; a TCP line opens nothing. A modem that does not answer
// its commands passes: only a call finds that out.
std::optional<QString> SendLineFault(CModemList& modems, const QString& lineName = {});

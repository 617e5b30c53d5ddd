#pragma once

#include "PagingSimulator.h"

#include <QByteArray>
#include <QByteArrayView>

namespace quillpost::sim {

// A JSON string literal (with its quotes) that gives back every byte: printable
// ASCII stays as it is, everything else becomes \u00XX of the byte's value.
QByteArray jsonBytes(QByteArrayView bytes);

// One line of the log file (with its newline) for an accepted page and for the
// end of a call.
QByteArray pageLogLine(const AcceptedPage& page);
QByteArray callEndLogLine(const CallRecord& record);

} // namespace quillpost::sim

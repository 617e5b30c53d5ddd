#pragma once

#include <QLoggingCategory>

// Where the program's own diagnostics go: Qt's message handler (standard error), by
// area, so that QT_LOGGING_RULES can turn an area's detail on ("quillpost.line.debug=true")
// or its warnings off. The exchange with the paging terminal has its own category beside
// the protocol code (tap/TapLog.h). Debug messages are off unless a rule turns them on.
Q_DECLARE_LOGGING_CATEGORY(lcDatabase) // quillpost.database: the database file and its tables
Q_DECLARE_LOGGING_CATEGORY(lcLine) // quillpost.line: line devices, serial ports and sockets
Q_DECLARE_LOGGING_CATEGORY(lcSend) // quillpost.send: one send and what it records
Q_DECLARE_LOGGING_CATEGORY(lcLock) // quillpost.lock: the one-dispatcher-per-database lock

#pragma once

#include <QString>

class QSqlDatabase;

// Forward-only reads step statements with the SQLite library this program links, on a
// handle that Qt's SQLite driver opened (DaoStatement.h). That is sound only when the
// driver runs on that same library, as it does where the driver links the system's
// SQLite; a Qt that carries a copy of its own hands out handles the program's library
// must not touch.

// Whether two SQLite source ids, the program's (sqlite3_sourceid()) and the driver's
// (sqlite_source_id()), name one library. An id the driver could not give names none.
bool SameSqliteLibrary(const QString& linkedSourceId, const QString& driverSourceId);

// Whether the driver behind `database`, an open connection, runs on the program's
// SQLite. Judged on the first call and kept for the process; a mismatch is logged then.
bool DriverSharesLinkedSqlite(const QSqlDatabase& database);

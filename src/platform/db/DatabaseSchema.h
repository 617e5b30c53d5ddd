#pragma once

#include "platform/db/DaoFieldExchange.h"

#include <QString>
#include <QStringList>
#include <vector>

// The four tables of Quillpost.mdb and their columns, in table order. The program
// itself never creates the file; the database tool and the tests do, through here.
struct SchemaColumn
{
    QString name;
    DaoColumnType type;
};

struct SchemaTable
{
    QString name;
    std::vector<SchemaColumn> columns;
};

const std::vector<SchemaTable>& QuillpostSchema();

// The channel a PostgreSQL server's database tells its changes on, naming the table.
inline constexpr const char* kChangeChannel = "quillpost_changed";

// The send log: one row per attempt to deliver a page. It is not one of the four
// tables a database must have: a file made before the log existed is still usable and
// gets the table on the first attempt recorded (EnsureSendLogTable).
const SchemaTable& SendLogSchema();

class DaoConnection;
// Creates the send log table on the connection unless it is there already; inside a
// transaction it is created as part of it.
void EnsureSendLogTable(DaoConnection& connection);

// Creates a new database file with the four empty tables and the empty send log. Never touches an
// existing file: if `path` exists, throws CDaoException and leaves it as it is.
void CreateQuillpostDatabase(const QString& path);

// Whether the connection's file has the four tables with all their columns: a file
// the program understands, and the only kind it ever writes to.
bool HoldsQuillpostTables(DaoConnection& connection);

// Whether the database has the send log table yet.
bool HoldsSendLog(DaoConnection& connection);

// Adds the index that finds a message's rows by MessageId to a file made without it.
// Best effort: a file that cannot take it now (locked, read-only) is left as it is.
void EnsureQuillpostIndexes(DaoConnection& connection);

// What keeps the file at `path` from being a usable Quillpost database, one readable
// line per fault; empty when it is usable.
QStringList FindDatabaseProblems(const QString& path);

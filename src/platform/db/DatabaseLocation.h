#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Where the database is: an SQLite file by its path, or a PostgreSQL database named by a
// connection URI as libpq reads one:
//   postgresql://[user[:password]@][host][:port][/dbname][?param=value&...]
// (the scheme "postgres://" too). A Unix socket folder goes as ?host=/path (or as a
// percent-encoded host). What the URI leaves out, libpq takes from its environment
// (PGHOST, PGUSER, PGPASSWORD ...) and ~/.pgpass, so nothing here supplies defaults.
struct DatabaseLocation
{
    enum class Kind
    {
        SqliteFile,
        Postgres
    };

    Kind kind = Kind::SqliteFile;
    QString path; // the SQLite file
    // PostgreSQL: each empty (or 0) when the URI does not give it.
    QString host; // a name, an address, or a socket folder (starting with "/")
    int port = 0;
    QString user;
    QString password;
    QString database;
    // The URI's other parameters (sslmode=require ...), as "name=value" for the driver.
    QStringList options;

    bool IsPostgres() const { return kind == Kind::Postgres; }
    // The location as the operator reads it: the file, or the URI without its password.
    QString Display() const;
};

// True when the text is a PostgreSQL URI rather than a file name.
bool IsPostgresUri(const QString& text);

// A database name as messages show it: a server's URI without its password.
QString DisplayDatabaseName(const QString& text);

// A database name as the layer keeps it: a URI as it is, a file by its absolute path
// (relative to the working directory).
QString AbsoluteDatabaseName(const QString& name);

// Reads a database name as the programs take it (--db, QUILLPOST_DB, the Database
// setting): a PostgreSQL URI, else an SQLite file's path. Nothing, with `error` saying
// what is wrong, for a malformed URI.
std::optional<DatabaseLocation> ReadDatabaseLocation(const QString& text, QString& error);

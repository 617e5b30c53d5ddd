#pragma once

#include "platform/db/DaoException.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <unordered_map>

class QSqlError;

// What the first bytes of a file say it is.
enum class DatabaseFileKind
{
    Missing,
    Unreadable,
    Empty,
    SQLite,
    JetOrAccess,
    Other
};

// Opens and closes the file, which drops every POSIX lock this process holds on it: never
// for a file the process has SQLite connections on (DaoConnection asks SQLite instead).
DatabaseFileKind ClassifyDatabaseFile(const QString& path);

// A reason the operator can read for a file that is not an SQLite database at all;
// empty for DatabaseFileKind::SQLite.
QString DescribeDatabaseFileKind(DatabaseFileKind kind, const QString& path);

// The exception for a failed SQL statement, its kind taken from the SQLite result code
// (busy, read-only, full, not a database, missing table or column).
CDaoException DaoExceptionFromSqlError(const QSqlError& error, const QString& context);

// One connection of its own to an existing database file, or to a database on a
// PostgreSQL server named by a postgresql:// URI (DatabaseLocation.h), removed again when
// the object goes. Opening never creates the file: a missing file, or one that is not an
// SQLite database, throws CDaoException. A file with Quillpost's tables is switched to
// write-ahead logging, so that readers (the program's lists, the database tool) and
// one writer at a time (a command, the sending window, a command-line sender) work on
// it at once. A statement waits for another connection's lock for BusyTimeoutMs
// before it fails.
class DaoConnection
{
public:
    static constexpr int BusyTimeoutMs = 3000;

    enum class Mode
    {
        OpenExisting,
        CreateNew
    };

    explicit DaoConnection(const QString& path, Mode mode = Mode::OpenExisting);
    ~DaoConnection();

    DaoConnection(const DaoConnection&) = delete;
    DaoConnection& operator=(const DaoConnection&) = delete;

    QSqlDatabase& database() { return m_database; }

    // Runs one statement with its values bound in order and returns it, ready to be
    // read forward; a failure throws CDaoException with failureContext as its reason.
    QSqlQuery Execute(
        const QString& sql, const QVariantList& values, const QString& failureContext);
    // The same for a statement run again and again on this connection (each row added):
    // it is prepared once and kept. The query returned is the kept one, valid until the
    // next run of the same text; read what is needed from it at once.
    QSqlQuery& ExecuteRepeated(
        const QString& sql, const QVariantList& values, const QString& failureContext);
    const QString& path() const { return m_path; }
    // The database as messages name it: a server's address never shows its password.
    const QString& DisplayName() const { return m_strDisplayName; }
    // Whether statements may be stepped with the program's own SQLite on this
    // connection's handle (SqliteLibrary.h).
    bool SharesLinkedSqlite() const { return m_bSharesLinkedSqlite; }
    // The database is on a PostgreSQL server rather than in an SQLite file.
    bool IsOnServer() const { return m_bOnServer; }
    // Whether the workspace's transaction is open on this connection.
    bool InTransaction() const { return m_bInTransaction; }
    void SetInTransaction(bool open) { m_bInTransaction = open; }
    // Throws CDaoException unless the file has the four tables with all their columns;
    // every write asks first, so that a file the program does not understand is never
    // changed. Checked once per connection.
    void RequireQuillpostTables();

private:
    void OpenServer(const QString& uri);
    QString Dialect(const QString& sql) const;
    void UseWriteAheadLog();
    void Forget();
    void RequireDatabase(const QSqlError& error) const;

    QString m_path;
    QString m_connectionName;
    QString m_strDisplayName;
    QSqlDatabase m_database;
    std::unordered_map<QString, QSqlQuery> m_repeated;
    bool m_bTablesChecked = false;
    bool m_bSharesLinkedSqlite = false;
    bool m_bOnServer = false;
    bool m_bInTransaction = false;
};

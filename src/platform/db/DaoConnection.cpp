#include "platform/db/DaoConnection.h"

#include "platform/LogCategories.h"
#include "platform/db/DatabaseLocation.h"
#include "platform/db/DatabaseSchema.h"
#include "platform/db/SqliteLibrary.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QUrl>
#include <atomic>
#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// SQLite's primary result codes that the layer tells apart.
constexpr int SqliteBusy = 5;
constexpr int SqliteLocked = 6;
constexpr int SqliteReadOnly = 8;
constexpr int SqliteFull = 13;
constexpr int SqliteNotADatabase = 26;

QString nextConnectionName()
{
    static std::atomic<unsigned long long> counter { 0 };
    return QStringLiteral("quillpost-dao-%1").arg(++counter);
}

// What the file's status alone says: missing, unreadable or empty, else SQLite for "SQLite
// is to tell". A descriptor of this program's own on the file, closed again, would drop
// the locks that the process's other connections hold on it (POSIX locks belong to the
// process, not to the descriptor), and another program would then fold and remove the
// write-ahead log from under them.
DatabaseFileKind classifyByStatus(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status {};
    if (::stat(name.constData(), &status) != 0)
        return errno == ENOENT ? DatabaseFileKind::Missing : DatabaseFileKind::Unreadable;
    if (!S_ISREG(status.st_mode) || ::access(name.constData(), R_OK) != 0)
        return DatabaseFileKind::Unreadable;
    return status.st_size == 0 ? DatabaseFileKind::Empty : DatabaseFileKind::SQLite;
}

} // namespace

DatabaseFileKind ClassifyDatabaseFile(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return DatabaseFileKind::Missing;
    if (!file.open(QIODevice::ReadOnly))
        return DatabaseFileKind::Unreadable;
    const QByteArray header = file.read(100);
    if (header.isEmpty())
        return DatabaseFileKind::Empty;
    if (header.startsWith(QByteArray("SQLite format 3", 16)))
        return DatabaseFileKind::SQLite;
    const QByteArray signature = header.mid(4, 15);
    if (signature == "Standard Jet DB" || signature == "Standard ACE DB")
        return DatabaseFileKind::JetOrAccess;
    return DatabaseFileKind::Other;
}

QString DescribeDatabaseFileKind(DatabaseFileKind kind, const QString& path)
{
    switch (kind) {
    case DatabaseFileKind::Missing:
        return QStringLiteral("The database %1 does not exist.").arg(path);
    case DatabaseFileKind::Unreadable:
        return QStringLiteral("The database %1 cannot be read.").arg(path);
    case DatabaseFileKind::Empty:
        return QStringLiteral("The database %1 is an empty file, not a Quillpost database.")
            .arg(path);
    case DatabaseFileKind::JetOrAccess:
        return QStringLiteral("%1 is a Jet/Access database; Quillpost needs an SQLite database "
                              "(create one with quillpost-db init).")
            .arg(path);
    case DatabaseFileKind::Other:
        return QStringLiteral("%1 is not an SQLite database.").arg(path);
    case DatabaseFileKind::SQLite:
        break;
    }
    return {};
}

namespace {

// A PostgreSQL server's SQLSTATE, five characters, sorted into the kinds the layer tells
// apart.
CDaoException::Kind KindOfSqlState(const QString& state)
{
    using Kind = CDaoException::Kind;
    if (state == QLatin1String("42P01") || state == QLatin1String("42703"))
        return Kind::MissingTableOrColumn;
    if (state == QLatin1String("53100"))
        return Kind::DiskFull;
    if (state == QLatin1String("25006"))
        return Kind::ReadOnly;
    if (state == QLatin1String("55P03") || state == QLatin1String("40P01")
        || state == QLatin1String("40001"))
        return Kind::Locked;
    if (state == QLatin1String("22001"))
        return Kind::ValueTooLong;
    return Kind::Other;
}

} // namespace

CDaoException DaoExceptionFromSqlError(const QSqlError& error, const QString& context)
{
    const QString detail = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    const QString reason = QStringLiteral("%1: %2").arg(context, detail.trimmed());
    // SQLite's codes are numbers of at most four digits; a server's SQLSTATE has five.
    if (error.nativeErrorCode().size() == 5)
        return CDaoException(KindOfSqlState(error.nativeErrorCode()), reason);
    const int code = error.nativeErrorCode().toInt() & 0xff;
    using Kind = CDaoException::Kind;
    switch (code) {
    case SqliteBusy:
    case SqliteLocked:
        return CDaoException(Kind::Locked, reason);
    case SqliteReadOnly:
        return CDaoException(Kind::ReadOnly, reason);
    case SqliteFull:
        return CDaoException(Kind::DiskFull, reason);
    case SqliteNotADatabase:
        return CDaoException(Kind::NotADatabase, reason);
    default:
        break;
    }
    if (detail.contains(QLatin1String("no such table"))
        || detail.contains(QLatin1String("no such column")))
        return CDaoException(Kind::MissingTableOrColumn, reason);
    return CDaoException(Kind::Other, reason);
}

DaoConnection::DaoConnection(const QString& path, Mode mode)
    : m_path(AbsoluteDatabaseName(path))
    , m_connectionName(nextConnectionName())
    , m_strDisplayName(m_path)
{
    if (IsPostgresUri(path)) {
        OpenServer(path);
        return;
    }
    if (mode == Mode::OpenExisting) {
        const DatabaseFileKind kind = classifyByStatus(m_path);
        if (kind == DatabaseFileKind::Missing)
            throw CDaoException(
                CDaoException::Kind::FileMissing, DescribeDatabaseFileKind(kind, m_path));
        if (kind != DatabaseFileKind::SQLite)
            throw CDaoException(
                CDaoException::Kind::NotADatabase, DescribeDatabaseFileKind(kind, m_path));
    }

    // A URI with mode=rw makes SQLite itself refuse to create a file that vanished
    // after the check above; mode=rwc is only for a new database.
    QUrl uri = QUrl::fromLocalFile(m_path);
    uri.setQuery(
        mode == Mode::OpenExisting ? QStringLiteral("mode=rw") : QStringLiteral("mode=rwc"));

    m_database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_database.setDatabaseName(uri.toString(QUrl::FullyEncoded));
    m_database.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
    if (!m_database.open()) {
        const CDaoException failure = DaoExceptionFromSqlError(
            m_database.lastError(), QStringLiteral("Cannot open %1").arg(m_path));
        Forget();
        throw failure;
    }
    m_bSharesLinkedSqlite = DriverSharesLinkedSqlite(m_database);
    try {
        UseWriteAheadLog();
    } catch (...) {
        Forget();
        throw;
    }
}

// A database on a PostgreSQL server: what the URI leaves out, libpq takes from its
// environment and ~/.pgpass. The location as messages show it never holds the password.
void DaoConnection::OpenServer(const QString& uri)
{
    QString error;
    const std::optional<DatabaseLocation> location = ReadDatabaseLocation(uri, error);
    if (!location)
        throw CDaoException(CDaoException::Kind::NotADatabase, error);
    m_bOnServer = true;
    m_strDisplayName = location->Display();
    m_database = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connectionName);
    m_database.setHostName(location->host);
    if (location->port)
        m_database.setPort(location->port);
    m_database.setUserName(location->user);
    m_database.setPassword(location->password);
    m_database.setDatabaseName(location->database);
    m_database.setConnectOptions(location->options.join(QLatin1Char(';')));
    if (!m_database.open()) {
        const CDaoException failure = DaoExceptionFromSqlError(m_database.lastError(),
            QStringLiteral("Cannot reach the database %1").arg(location->Display()));
        Forget();
        throw failure;
    }
}

// A connection name Qt still knows would keep the file open after this object is gone.
void DaoConnection::Forget()
{
    m_repeated.clear();
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

// Only a file SQLite refuses is read by hand, for the reason to give: none of the
// process's connections holds a lock on it.
void DaoConnection::RequireDatabase(const QSqlError& error) const
{
    if ((error.nativeErrorCode().toInt() & 0xff) != SqliteNotADatabase)
        return;
    const DatabaseFileKind kind = ClassifyDatabaseFile(m_path);
    throw CDaoException(CDaoException::Kind::NotADatabase,
        DescribeDatabaseFileKind(
            kind == DatabaseFileKind::SQLite ? DatabaseFileKind::Other : kind, m_path));
}

void DaoConnection::UseWriteAheadLog()
{
    QSqlQuery query(m_database);
    const bool read = query.exec(QStringLiteral("PRAGMA journal_mode"));
    if (!read)
        RequireDatabase(query.lastError());
    if (read && query.next()
        && query.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0)
        return;
    query.finish();
    // Switching writes into the file; one without Quillpost's tables may be another
    // program's database, or a damaged one, and is left exactly as it is.
    if (!HoldsQuillpostTables(*this))
        return;
    m_bTablesChecked = true;
    // A file on a read-only medium, or one another program holds open just now, keeps
    // its journal for the moment; it can still be read, and a later open tries again.
    if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL")))
        qCInfo(lcDatabase, "The database %s stays in its journal mode: %s", qUtf8Printable(m_path),
            qUtf8Printable(query.lastError().text()));
}

void DaoConnection::RequireQuillpostTables()
{
    if (m_bTablesChecked)
        return;
    if (!HoldsQuillpostTables(*this))
        throw CDaoException(CDaoException::Kind::MissingTableOrColumn,
            QStringLiteral("%1 lacks some of Quillpost's tables or columns, so Quillpost does not "
                           "write to it (quillpost-db check lists what is missing).")
                .arg(m_strDisplayName));
    // Written only to a file that is about to be written to anyway.
    EnsureQuillpostIndexes(*this);
    m_bTablesChecked = true;
}

DaoConnection::~DaoConnection()
{
    Forget();
}

// The layer names tables and columns as [Name], which SQLite takes; a server takes the
// plain name, in any case, as its tables were made with unquoted names.
QString DaoConnection::Dialect(const QString& sql) const
{
    if (!m_bOnServer)
        return sql;
    static const QRegularExpression bracketed(QStringLiteral("\\[([A-Za-z_][A-Za-z0-9_]*)\\]"));
    QString plain = sql;
    return plain.replace(bracketed, QStringLiteral("\\1"));
}

QSqlQuery& DaoConnection::ExecuteRepeated(
    const QString& text, const QVariantList& values, const QString& failureContext)
{
    const QString sql = Dialect(text);
    if (m_bOnServer && values.isEmpty()) {
        // Not preparable there (see Execute); kept all the same, as callers expect.
        QSqlQuery& kept = m_repeated[sql];
        kept = Execute(sql, {}, failureContext);
        return kept;
    }
    auto kept = m_repeated.find(sql);
    if (kept == m_repeated.end()) {
        QSqlQuery query(m_database);
        query.setForwardOnly(true);
        if (!query.prepare(sql))
            throw DaoExceptionFromSqlError(query.lastError(), failureContext);
        kept = m_repeated.emplace(sql, std::move(query)).first;
    }
    QSqlQuery& query = kept->second;
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values[i]);
    if (!query.exec())
        throw DaoExceptionFromSqlError(query.lastError(), failureContext);
    return query;
}

QSqlQuery DaoConnection::Execute(
    const QString& text, const QVariantList& values, const QString& failureContext)
{
    const QString sql = Dialect(text);
    QSqlQuery query(m_database);
    query.setForwardOnly(true);
    // A server prepares statements as its own PREPARE, which takes no table definition:
    // one without values runs as it is.
    if (m_bOnServer && values.isEmpty()) {
        if (!query.exec(sql))
            throw DaoExceptionFromSqlError(query.lastError(), failureContext);
        return query;
    }
    // SQLite reports a missing table or column, a lock or a damaged file as early as
    // the prepare, so its error is the one to keep.
    if (!query.prepare(sql))
        throw DaoExceptionFromSqlError(query.lastError(), failureContext);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec())
        throw DaoExceptionFromSqlError(query.lastError(), failureContext);
    return query;
}

#include "platform/db/DatabaseSchema.h"

#include "platform/LogCategories.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoException.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

namespace {

std::vector<SchemaColumn> usersColumns()
{
    std::vector<SchemaColumn> columns { { QStringLiteral("ID"), DaoColumnType::Counter },
        { QStringLiteral("Name"), DaoColumnType::Text },
        { QStringLiteral("TelephoneNumber"), DaoColumnType::Text },
        { QStringLiteral("PreferredProvider"), DaoColumnType::Long } };
    for (int group = 1; group <= 10; ++group)
        columns.push_back({ QStringLiteral("Group%1").arg(group), DaoColumnType::Long });
    return columns;
}

QString columnDefinition(const SchemaColumn& column)
{
    const QString name = QLatin1Char('"') + column.name + QLatin1Char('"');
    switch (column.type) {
    case DaoColumnType::Counter:
        return name + QStringLiteral(" INTEGER PRIMARY KEY AUTOINCREMENT");
    case DaoColumnType::Long:
        return name + QStringLiteral(" INTEGER DEFAULT 0");
    case DaoColumnType::Text:
        return name + QStringLiteral(" TEXT CHECK (length(%1) <= 255)").arg(name);
    case DaoColumnType::DateTime:
        return name + QStringLiteral(" DATETIME");
    }
    return name;
}

void execute(QSqlQuery& query, const QString& sql, const QString& path)
{
    if (!query.exec(sql))
        throw DaoExceptionFromSqlError(
            query.lastError(), QStringLiteral("Cannot create %1").arg(path));
}

QString createStatement(const SchemaTable& table, bool ifMissing)
{
    QStringList definitions;
    for (const SchemaColumn& column : table.columns)
        definitions.append(columnDefinition(column));
    return QStringLiteral("CREATE TABLE %1\"%2\" (%3)")
        .arg(ifMissing ? QStringLiteral("IF NOT EXISTS ") : QString(), table.name,
            definitions.join(QLatin1String(", ")));
}

// A message's rows are looked up by MessageId after every recorded result; without
// an index each lookup reads the whole Messages table.
QString messagesByMessageIdStatement()
{
    return QStringLiteral("CREATE INDEX IF NOT EXISTS [MessagesByMessageId] ON [Messages] ([MessageId])");
}

void createTables(const QString& path)
{
    DaoConnection connection(path, DaoConnection::Mode::CreateNew);
    QSqlQuery query(connection.database());
    execute(query, QStringLiteral("BEGIN"), path);
    for (const SchemaTable& table : QuillpostSchema())
        execute(query, createStatement(table, false), path);
    execute(query, createStatement(SendLogSchema(), false), path);
    execute(query, messagesByMessageIdStatement(), path);
    execute(query, QStringLiteral("COMMIT"), path);
    // Opening switches only a file that already has the tables; a new one is switched
    // here, once they are there.
    execute(query, QStringLiteral("PRAGMA journal_mode=WAL"), path);
}

bool hasIntegerAffinity(const QString& declaredType)
{
    return declaredType.contains(QLatin1String("INT"), Qt::CaseInsensitive);
}

// Without AUTOINCREMENT SQLite hands the highest deleted ID to the next new row, so a
// result recorded for a message deleted during its send could land in a newer one.
bool numbersWithoutReuse(DaoConnection& connection, const QString& table)
{
    QSqlQuery query = connection.Execute(
        QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ? "
                       "COLLATE NOCASE"),
        { table }, QStringLiteral("Cannot read the definition of table %1").arg(table));
    return query.next()
        && query.value(0).toString().contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);
}

bool tableExists(DaoConnection& connection, const QString& table)
{
    return connection
        .Execute(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ? "
                                "COLLATE NOCASE"),
            { table }, QStringLiteral("Cannot read the tables of %1").arg(connection.path()))
        .next();
}

QStringList tableProblems(DaoConnection& connection, const SchemaTable& table)
{
    QSqlQuery query(connection.database());
    if (!query.exec(QStringLiteral("PRAGMA table_info(\"%1\")").arg(table.name)))
        throw DaoExceptionFromSqlError(
            query.lastError(), QStringLiteral("Cannot read table %1").arg(table.name));
    struct Found
    {
        QString type;
        bool primaryKey;
    };
    QHash<QString, Found> found;
    while (query.next())
        found.insert(query.value(1).toString().toLower(),
            { query.value(2).toString(), query.value(5).toInt() == 1 });
    if (found.isEmpty())
        return { QStringLiteral("The table %1 is missing.").arg(table.name) };

    QStringList problems;
    for (const SchemaColumn& column : table.columns) {
        const auto it = found.constFind(column.name.toLower());
        if (it == found.constEnd()) {
            problems.append(
                QStringLiteral("The table %1 has no column %2.").arg(table.name, column.name));
            continue;
        }
        const bool numeric
            = column.type == DaoColumnType::Counter || column.type == DaoColumnType::Long;
        if (numeric && !hasIntegerAffinity(it->type))
            problems.append(
                QStringLiteral("The column %1 of table %2 is declared %3, not as a whole number.")
                    .arg(column.name, table.name,
                        it->type.isEmpty() ? QStringLiteral("without a type") : it->type));
        if (column.type == DaoColumnType::Counter
            && !(it->primaryKey
                && it->type.compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) == 0))
            problems.append(
                QStringLiteral("The column %1 of table %2 is not numbered automatically "
                               "(it must be INTEGER PRIMARY KEY).")
                    .arg(column.name, table.name));
        else if (column.type == DaoColumnType::Counter
            && !numbersWithoutReuse(connection, table.name))
            problems.append(
                QStringLiteral("The column %1 of table %2 is not declared AUTOINCREMENT, so the "
                               "ID of a deleted row would be given to the next new row.")
                    .arg(column.name, table.name));
    }
    return problems;
}

} // namespace

const std::vector<SchemaTable>& QuillpostSchema()
{
    static const std::vector<SchemaTable> schema {
        { QStringLiteral("Users"), usersColumns() },
        { QStringLiteral("Groups"),
            { { QStringLiteral("ID"), DaoColumnType::Counter },
                { QStringLiteral("GroupName"), DaoColumnType::Text } } },
        { QStringLiteral("ServiceProviders"),
            { { QStringLiteral("ID"), DaoColumnType::Counter },
                { QStringLiteral("ServiceName"), DaoColumnType::Text },
                { QStringLiteral("AccessNumber"), DaoColumnType::Text },
                { QStringLiteral("BaudRate"), DaoColumnType::Long },
                { QStringLiteral("StopBits"), DaoColumnType::Long },
                { QStringLiteral("Parity"), DaoColumnType::Long },
                { QStringLiteral("DataBits"), DaoColumnType::Long },
                { QStringLiteral("TAPType"), DaoColumnType::Long },
                { QStringLiteral("UseAsDefault"), DaoColumnType::Long },
                { QStringLiteral("Password"), DaoColumnType::Text } } },
        { QStringLiteral("Messages"),
            { { QStringLiteral("ID"), DaoColumnType::Counter },
                { QStringLiteral("Recipient"), DaoColumnType::Long },
                { QStringLiteral("MessageCount"), DaoColumnType::Long },
                { QStringLiteral("MessageId"), DaoColumnType::Long },
                { QStringLiteral("Text"), DaoColumnType::Text },
                { QStringLiteral("Status"), DaoColumnType::Long },
                { QStringLiteral("SendTime"), DaoColumnType::DateTime },
                { QStringLiteral("RequestTime"), DaoColumnType::DateTime },
                { QStringLiteral("RequiredSendTime"), DaoColumnType::DateTime },
                { QStringLiteral("Retries"), DaoColumnType::Long } } },
    };
    return schema;
}

const SchemaTable& SendLogSchema()
{
    static const SchemaTable table { QStringLiteral("SendLog"),
        { { QStringLiteral("ID"), DaoColumnType::Counter },
            { QStringLiteral("AttemptTime"), DaoColumnType::DateTime },
            { QStringLiteral("MessageId"), DaoColumnType::Long },
            { QStringLiteral("Recipient"), DaoColumnType::Long },
            { QStringLiteral("PagerId"), DaoColumnType::Text },
            { QStringLiteral("Provider"), DaoColumnType::Text },
            { QStringLiteral("Outcome"), DaoColumnType::Long },
            { QStringLiteral("TerminalLine"), DaoColumnType::Text } } };
    return table;
}

void EnsureSendLogTable(DaoConnection& connection)
{
    connection.Execute(createStatement(SendLogSchema(), true), {},
        QStringLiteral("Cannot create the send log in %1").arg(connection.path()));
}

void CreateQuillpostDatabase(const QString& path)
{
    // Creating the file exclusively is what guarantees an existing one is never
    // overwritten, even if it appears between a check and the creation.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (file.exists())
            throw CDaoException(CDaoException::Kind::Other,
                QStringLiteral("%1 already exists; it was left as it is.").arg(path));
        throw CDaoException(CDaoException::Kind::Other,
            QStringLiteral("Cannot create %1: %2").arg(path, file.errorString()));
    }
    file.close();
    // Whatever stops the creation (out of memory too), the half-made file goes and the
    // failure goes on to the caller.
    try {
        createTables(path);
    } catch (...) {
        if (!file.remove())
            qCWarning(lcDatabase, "The half-made database %s stays: %s", qUtf8Printable(path),
                qUtf8Printable(file.errorString()));
        throw;
    }
}

void EnsureQuillpostIndexes(DaoConnection& connection)
{
    QSqlQuery query(connection.database());
    if (!query.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'index' AND "
                                   "name = 'MessagesByMessageId'"))) {
        qCInfo(lcDatabase, "Cannot look for the index of messages in %s: %s",
            qUtf8Printable(connection.path()), qUtf8Printable(query.lastError().text()));
        return;
    }
    if (query.next())
        return;
    query.finish();
    // Only a matter of speed: a file that is locked or read-only just goes without.
    if (!query.exec(messagesByMessageIdStatement()))
        qCInfo(lcDatabase, "The database %s goes without its index of messages for now: %s",
            qUtf8Printable(connection.path()), qUtf8Printable(query.lastError().text()));
}

bool HoldsQuillpostTables(DaoConnection& connection)
{
    QSqlQuery query(connection.database());
    for (const SchemaTable& table : QuillpostSchema()) {
        // Taken as lacking the table; the reason (a lock, a damaged file) is worth keeping.
        // A failed prepare leaves its own error, not the one of the exec after it.
        bool read = query.prepare(QStringLiteral("SELECT lower(name) FROM pragma_table_info(?)"));
        if (read) {
            query.addBindValue(table.name);
            read = query.exec();
        }
        if (!read) {
            qCWarning(lcDatabase, "Cannot read the columns of %s in %s: %s",
                qUtf8Printable(table.name), qUtf8Printable(connection.path()),
                qUtf8Printable(query.lastError().text()));
            return false;
        }
        QSet<QString> names;
        while (query.next())
            names.insert(query.value(0).toString());
        for (const SchemaColumn& column : table.columns) {
            if (!names.contains(column.name.toLower()))
                return false;
        }
    }
    return true;
}

QStringList FindDatabaseProblems(const QString& path)
{
    const DatabaseFileKind kind = ClassifyDatabaseFile(path);
    if (kind != DatabaseFileKind::SQLite)
        return { DescribeDatabaseFileKind(kind, path) };
    try {
        DaoConnection connection(path);
        QSqlQuery integrity(connection.database());
        if (!integrity.exec(QStringLiteral("PRAGMA quick_check")))
            throw DaoExceptionFromSqlError(
                integrity.lastError(), QStringLiteral("Cannot read %1").arg(path));
        if (integrity.next() && integrity.value(0).toString() != QLatin1String("ok"))
            return { QStringLiteral("%1 is damaged: %2").arg(path, integrity.value(0).toString()) };
        integrity.finish();

        QStringList problems;
        for (const SchemaTable& table : QuillpostSchema())
            problems += tableProblems(connection, table);
        // A missing send log is made when first needed; one that is there must be
        // writable, or no attempt could be recorded at all.
        if (tableExists(connection, SendLogSchema().name))
            problems += tableProblems(connection, SendLogSchema());
        return problems;
    } catch (const CDaoException& failure) {
        return { failure.reason() };
    }
}

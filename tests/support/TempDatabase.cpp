#include "TempDatabase.h"

#include "platform/db/DaoConnection.h"
#include "platform/db/DatabaseSchema.h"

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>

TempDatabase::TempDatabase(Content content)
    : m_previousCurrent(QDir::currentPath())
{
    if (content == Content::Schema)
        CreateQuillpostDatabase(filePath());
    QDir::setCurrent(m_dir.path());
}

TempDatabase::~TempDatabase()
{
    QDir::setCurrent(m_previousCurrent);
}

QVariant TempDatabase::scalar(const QString& sql, const QVariantList& values) const
{
    DaoConnection connection(filePath());
    QSqlQuery query
        = connection.Execute(sql, values, QStringLiteral("Test statement \"%1\" failed").arg(sql));
    const QVariant insertedId = query.lastInsertId();
    return query.next() ? query.value(0) : insertedId;
}

QStringList TempDatabase::rows(const QString& table, const QString& expression) const
{
    const QString joined = scalar(QStringLiteral("SELECT group_concat(%1, char(10)) FROM (SELECT "
                                                 "* FROM %2 ORDER BY ID)")
                                      .arg(expression, table))
                               .toString();
    return joined.isEmpty() ? QStringList() : joined.split(QLatin1Char('\n'));
}

QString TempDatabase::journalMode(const QString& change) const
{
    // Not through DaoConnection, which switches every file it opens to write-ahead logging.
    const QString name = QStringLiteral("temp-database-journal-mode");
    QString mode;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        database.setDatabaseName(filePath());
        if (database.open()) {
            QSqlQuery query(database);
            if (query.exec(QStringLiteral("PRAGMA journal_mode")
                    + (change.isEmpty() ? QString() : QLatin1Char('=') + change))
                && query.next())
                mode = query.value(0).toString().toLower();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return mode;
}

std::int32_t TempDatabase::insert(const QString& table, const QVariantList& values) const
{
    QStringList columns;
    for (const SchemaTable& candidate : QuillpostSchema()) {
        for (qsizetype i = 1; candidate.name == table && i <= values.size(); ++i)
            columns.append(candidate.columns.at(std::size_t(i)).name);
    }
    const QString marks = QStringList(values.size(), QStringLiteral("?")).join(QLatin1Char(','));
    return scalar(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                      .arg(table, columns.join(QLatin1Char(',')), marks),
        values)
        .toInt();
}

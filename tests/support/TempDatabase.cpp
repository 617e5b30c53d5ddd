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
    QSqlQuery query(connection.database());
    query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec())
        throw DaoExceptionFromSqlError(query.lastError(), QStringLiteral("Test statement \"%1\" failed").arg(sql));
    const QVariant insertedId = query.lastInsertId();
    return query.next() ? query.value(0) : insertedId;
}

std::int32_t TempDatabase::insert(const QString& table, const QVariantList& values) const
{
    // The values fill the columns after ID, in table order.
    QStringList columns;
    for (const SchemaTable& candidate : QuillpostSchema()) {
        for (qsizetype i = 1; candidate.name == table && i <= values.size(); ++i)
            columns.append(candidate.columns.at(std::size_t(i)).name);
    }
    const QString marks = QStringList(values.size(), QStringLiteral("?")).join(QLatin1Char(','));
    return scalar(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(table, columns.join(QLatin1Char(',')), marks), values).toInt();
}

std::int32_t TempDatabase::addUser(const QString& name, const QString& telephoneNumber,
                                   std::int32_t preferredProvider, const std::array<std::int32_t, 10>& groups) const
{
    QVariantList values { name, telephoneNumber, preferredProvider };
    for (std::int32_t group : groups)
        values.append(group);
    return insert(QStringLiteral("Users"), values);
}

std::int32_t TempDatabase::addGroup(const QString& name) const
{
    return insert(QStringLiteral("Groups"), { name });
}

std::int32_t TempDatabase::addProvider(const QString& name, const QString& accessNumber, std::int32_t useAsDefault) const
{
    // BaudRate, StopBits, Parity (even), DataBits, TAPType, UseAsDefault
    return insert(QStringLiteral("ServiceProviders"), { name, accessNumber, 1200, 1, 1, 7, 1, useAsDefault });
}

std::int32_t TempDatabase::addMessageRow(std::int32_t recipient, std::int32_t messageId, const QString& text,
                                         std::int32_t status, const QString& requiredSendTime) const
{
    // MessageCount 1; SendTime, RequestTime and RequiredSendTime alike; Retries 0
    return insert(QStringLiteral("Messages"),
                  { recipient, 1, messageId, text, status, requiredSendTime, requiredSendTime, requiredSendTime, 0 });
}

#include "TempDatabase.h"

#include "platform/db/DaoConnection.h"
#include "platform/db/DatabaseSchema.h"

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>

namespace {

QSqlQuery run(DaoConnection& connection, const QString& sql, const QVariantList& values)
{
    QSqlQuery query(connection.database());
    query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec())
        throw DaoExceptionFromSqlError(query.lastError(), QStringLiteral("Test statement \"%1\" failed").arg(sql));
    return query;
}

} // namespace

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

QString TempDatabase::folder() const
{
    return m_dir.path();
}

QString TempDatabase::filePath() const
{
    return m_dir.filePath(QStringLiteral("Quillpost.mdb"));
}

void TempDatabase::exec(const QString& sql, const QVariantList& values) const
{
    DaoConnection connection(filePath());
    run(connection, sql, values);
}

QVariant TempDatabase::scalar(const QString& sql, const QVariantList& values) const
{
    DaoConnection connection(filePath());
    QSqlQuery query = run(connection, sql, values);
    return query.next() ? query.value(0) : QVariant();
}

std::int32_t TempDatabase::addUser(const QString& name, const QString& telephoneNumber,
                                   std::int32_t preferredProvider, const std::array<std::int32_t, 10>& groups) const
{
    QVariantList values { name, telephoneNumber, preferredProvider };
    for (std::int32_t group : groups)
        values.append(group);
    exec(QStringLiteral("INSERT INTO Users (Name, TelephoneNumber, PreferredProvider, Group1, Group2, Group3, "
                        "Group4, Group5, Group6, Group7, Group8, Group9, Group10) "
                        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
         values);
    return scalar(QStringLiteral("SELECT max(ID) FROM Users")).toInt();
}

std::int32_t TempDatabase::addGroup(const QString& name) const
{
    exec(QStringLiteral("INSERT INTO Groups (GroupName) VALUES (?)"), { name });
    return scalar(QStringLiteral("SELECT max(ID) FROM Groups")).toInt();
}

std::int32_t TempDatabase::addProvider(const QString& name, const QString& accessNumber,
                                       std::int32_t useAsDefault) const
{
    exec(QStringLiteral("INSERT INTO ServiceProviders (ServiceName, AccessNumber, BaudRate, StopBits, Parity, "
                        "DataBits, TAPType, UseAsDefault) VALUES (?, ?, 1200, 1, 1, 7, 1, ?)"),
         { name, accessNumber, useAsDefault });
    return scalar(QStringLiteral("SELECT max(ID) FROM ServiceProviders")).toInt();
}

std::int32_t TempDatabase::addMessageRow(std::int32_t recipient, std::int32_t messageId, const QString& text,
                                         std::int32_t status, const QString& requiredSendTime) const
{
    exec(QStringLiteral("INSERT INTO Messages (Recipient, MessageCount, MessageId, Text, Status, SendTime, "
                        "RequestTime, RequiredSendTime, Retries) VALUES (?, 1, ?, ?, ?, ?, ?, ?, 0)"),
         { recipient, messageId, text, status, requiredSendTime, requiredSendTime, requiredSendTime });
    return scalar(QStringLiteral("SELECT max(ID) FROM Messages")).toInt();
}

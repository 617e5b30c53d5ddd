#include "platform/db/DaoStatement.h"

#include "platform/db/DaoConnection.h"
#include "platform/db/DaoException.h"
#include "platform/db/DaoValues.h"

#include <QSqlDriver>
#include <QSqlError>
#include <sqlite3.h>

namespace {

// The connection's SQLite handle; the SQLite driver is the only one the program uses.
sqlite3* handleOf(DaoConnection& connection, const QString& context)
{
    const QVariant handle = connection.database().driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0
        || *static_cast<sqlite3* const*>(handle.constData()) == nullptr)
        throw CDaoException(CDaoException::Kind::Other,
            QStringLiteral("%1: the database connection is not an SQLite one").arg(context));
    return *static_cast<sqlite3* const*>(handle.constData());
}

} // namespace

DaoStatement::DaoStatement(DaoConnection& connection, const QString& sql,
    const QVariantList& values, const QString& failureContext)
    : m_context(failureContext)
{
    if (!connection.SharesLinkedSqlite()) {
        m_driverQuery = connection.Execute(sql, values, failureContext);
        return;
    }
    m_db = handleOf(connection, failureContext);
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &m_statement, nullptr)
        != SQLITE_OK)
        fail();
    for (int i = 0; i < values.size(); ++i)
        bind(i + 1, values[i]);
}

DaoStatement::~DaoStatement()
{
    sqlite3_finalize(m_statement);
}

void DaoStatement::bind(int index, const QVariant& value)
{
    int result = SQLITE_OK;
    switch (value.isNull() ? QMetaType::UnknownType : value.typeId()) {
    case QMetaType::UnknownType:
        result = sqlite3_bind_null(m_statement, index);
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::Bool:
        result = sqlite3_bind_int64(m_statement, index, value.toLongLong());
        break;
    case QMetaType::Double:
        result = sqlite3_bind_double(m_statement, index, value.toDouble());
        break;
    default: {
        const QByteArray text = value.toString().toUtf8();
        result = sqlite3_bind_text(m_statement, index, text.constData(), int(text.size()),
            SQLITE_TRANSIENT);
        break;
    }
    }
    if (result != SQLITE_OK)
        fail();
}

bool DaoStatement::next()
{
    if (m_driverQuery) {
        if (m_driverQuery->next())
            return true;
        if (m_driverQuery->lastError().isValid())
            throw DaoExceptionFromSqlError(m_driverQuery->lastError(), m_context);
        return false;
    }
    const int result = sqlite3_step(m_statement);
    if (result == SQLITE_ROW)
        return true;
    if (result != SQLITE_DONE)
        fail();
    return false;
}

QVariant DaoStatement::value(int column) const
{
    if (m_driverQuery)
        return m_driverQuery->value(column);
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(m_statement, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_statement, column));
    case SQLITE_TEXT:
        return QVariant(QString::fromUtf8(
            reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column)),
            sqlite3_column_bytes(m_statement, column)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(m_statement, column)),
            sqlite3_column_bytes(m_statement, column)));
    default:
        return QVariant();
    }
}

DaoFieldValue DaoStatement::fieldValue(
    int column, const DaoColumn& type, const QString& table, std::int32_t rowId) const
{
    if (m_driverQuery)
        return DaoValueFromSql(m_driverQuery->value(column), type, table, rowId);
    const int stored = sqlite3_column_type(m_statement, column);
    switch (type.type) {
    case DaoColumnType::Counter:
    case DaoColumnType::Long:
        if (stored == SQLITE_INTEGER) {
            const sqlite3_int64 number = sqlite3_column_int64(m_statement, column);
            if (number == std::int32_t(number))
                return std::int32_t(number);
        }
        break;
    case DaoColumnType::Text:
        if (stored == SQLITE_TEXT)
            return QString::fromUtf8(
                reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column)),
                sqlite3_column_bytes(m_statement, column));
        break;
    case DaoColumnType::DateTime:
        if (stored == SQLITE_TEXT) {
            const std::optional<COleDateTime> dateTime = COleDateTime::FromText(QString::fromUtf8(
                reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column)),
                sqlite3_column_bytes(m_statement, column)));
            if (dateTime)
                return *dateTime;
        }
        break;
    }
    return DaoValueFromSql(value(column), type, table, rowId);
}

void DaoStatement::fail() const
{
    // The same error the driver would have reported, so that a lock, a full disk or a
    // missing table is told apart as everywhere else.
    throw DaoExceptionFromSqlError(QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(m_db)),
                                       QSqlError::StatementError,
                                       QString::number(sqlite3_extended_errcode(m_db))),
        m_context);
}

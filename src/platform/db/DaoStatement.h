#pragma once

#include "platform/db/DaoFieldExchange.h"

#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <optional>

class DaoConnection;
struct sqlite3;
struct sqlite3_stmt;

// A query stepped with SQLite's own interface on a connection's handle, one row at a
// time. Reading a whole table this way costs a fraction of QSqlQuery, which turns every
// text into UTF-16 inside SQLite and copies each row into a cache first. Values come as
// QSqlQuery gives them (a qint64, a double, a QString, a QByteArray, or null), so that
// one conversion serves both. Every failure throws CDaoException, as the connection's
// own Execute does.
// When Qt's driver runs on another SQLite than the program's (SqliteLibrary.h), the
// statement is the driver's own forward-only query instead, read as a snapshot reads.
class DaoStatement
{
public:
    DaoStatement(DaoConnection& connection, const QString& sql, const QVariantList& values,
        const QString& failureContext);
    ~DaoStatement();

    DaoStatement(const DaoStatement&) = delete;
    DaoStatement& operator=(const DaoStatement&) = delete;

    // Steps to the next row; false after the last one.
    bool next();
    QVariant value(int column) const;
    // The column's value as a record set member of its type holds it. Values stored as
    // the column's type are taken directly; anything else goes through DaoValueFromSql,
    // which converts or refuses it, naming the table and row.
    DaoFieldValue fieldValue(
        int column, const DaoColumn& type, const QString& table, std::int32_t rowId) const;

private:
    void bind(int index, const QVariant& value);
    [[noreturn]] void fail() const;

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_statement = nullptr;
    std::optional<QSqlQuery> m_driverQuery; // instead of m_statement
    QString m_context;
};

#pragma once

#include "platform/db/DaoFieldExchange.h"

#include <QString>
#include <QVariant>

// How the record sets move values between SQLite and their members.

// Text columns hold at most this many characters, as a Jet Text column does.
constexpr int DaoMaxTextLength = 255;

// Brackets, not double quotes: SQLite reads a double-quoted name that matches no
// column as a string literal, which would hide a missing column.
QString QuotedIdentifier(const QString& identifier);

// Throws CDaoException, naming the table, row and column, for a stored value the
// column's type cannot hold (text in a number column, a date that does not exist).
DaoFieldValue DaoValueFromSql(
    const QVariant& value, const DaoColumn& column, const QString& table, std::int32_t rowId);
QVariant DaoValueToSql(const DaoFieldValue& value);

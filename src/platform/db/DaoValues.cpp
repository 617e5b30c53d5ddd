#include "platform/db/DaoValues.h"

#include "platform/db/DaoException.h"

#include <limits>

// Brackets, not double quotes: SQLite reads a double-quoted name that matches no
// column as a string literal, which would hide a missing column.
QString QuotedIdentifier(const QString& identifier)
{
    return QLatin1Char('[') + identifier + QLatin1Char(']');
}

DaoFieldValue DaoValueFromSql(
    const QVariant& value, const DaoColumn& column, const QString& table, std::int32_t rowId)
{
    auto unusable = [&](const QString& what) {
        return CDaoException(CDaoException::Kind::Other,
            QStringLiteral("Column %1 of row %2 in table %3 holds %4.")
                .arg(column.name)
                .arg(rowId)
                .arg(table, what));
    };
    switch (column.type) {
    case DaoColumnType::Counter:
    case DaoColumnType::Long: {
        if (value.isNull())
            return std::int32_t { 0 };
        bool ok = false;
        const qlonglong number = value.toLongLong(&ok);
        if (!ok)
            throw unusable(
                QStringLiteral("\"%1\", which is not a whole number").arg(value.toString()));
        if (number < std::numeric_limits<std::int32_t>::min()
            || number > std::numeric_limits<std::int32_t>::max())
            throw unusable(QStringLiteral("%1, which is out of range").arg(number));
        return static_cast<std::int32_t>(number);
    }
    case DaoColumnType::Text:
        return value.isNull() ? QString() : value.toString();
    case DaoColumnType::DateTime: {
        if (value.isNull())
            return COleDateTime();
        // Both databases hand dates over as text (a server's are selected as text).
        const std::optional<COleDateTime> dateTime = COleDateTime::FromText(value.toString());
        if (!dateTime)
            throw unusable(
                QStringLiteral("\"%1\", which is not a date and time").arg(value.toString()));
        return *dateTime;
    }
    }
    return std::int32_t { 0 };
}

QVariant DaoValueToSql(const DaoFieldValue& value)
{
    if (const auto* number = std::get_if<std::int32_t>(&value))
        return QVariant(static_cast<int>(*number));
    if (const auto* text = std::get_if<QString>(&value))
        return QVariant(*text);
    return QVariant(std::get<COleDateTime>(value).ToText());
}

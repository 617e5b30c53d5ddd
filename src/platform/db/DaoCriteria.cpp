#include "platform/db/DaoCriteria.h"

#include "platform/db/DaoException.h"

#include <QRegularExpression>
#include <limits>

namespace {

[[noreturn]] void refuse(const QString& criteria, const QString& why)
{
    throw CDaoException(CDaoException::Kind::BadCriteria,
        QStringLiteral("The search \"%1\" cannot be used: %2.").arg(criteria, why));
}

const DaoColumn* findColumn(const std::vector<DaoColumn>& columns, const QString& name)
{
    for (const DaoColumn& column : columns) {
        if (column.name.compare(name, Qt::CaseInsensitive) == 0)
            return &column;
    }
    return nullptr;
}

} // namespace

DaoCriteria ParseDaoCriteria(const QString& criteria, const std::vector<DaoColumn>& columns)
{
    // One comparison, anchored where the previous one ended: a column name (bare or in
    // brackets), "=", a decimal whole number, then either the end or AND / OR.
    static const QRegularExpression comparison(
        QStringLiteral(R"(\G\s*(?:\[([A-Za-z_][A-Za-z0-9_]*)\]|([A-Za-z_][A-Za-z0-9_]*))\s*=\s*)"
                       R"(([+-]?\d{1,11})\s*(?:(AND|OR)(?=\s)|\z))"),
        QRegularExpression::CaseInsensitiveOption);

    DaoCriteria result;
    qsizetype position = 0;
    bool expectMore = true;
    while (expectMore) {
        const QRegularExpressionMatch match = comparison.match(criteria, position);
        if (!match.hasMatch())
            refuse(criteria,
                QStringLiteral("only comparisons of a column with a whole number, "
                               "joined by AND or OR, are understood"));
        const QString name = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
        const DaoColumn* column = findColumn(columns, name);
        if (!column)
            refuse(criteria, QStringLiteral("there is no column %1").arg(name));
        if (column->type != DaoColumnType::Counter && column->type != DaoColumnType::Long)
            refuse(criteria, QStringLiteral("%1 is not a number column").arg(column->name));

        bool ok = false;
        const qlonglong number = match.captured(3).toLongLong(&ok);
        if (!ok || number < std::numeric_limits<std::int32_t>::min()
            || number > std::numeric_limits<std::int32_t>::max())
            refuse(criteria, QStringLiteral("%1 is out of range").arg(match.captured(3)));

        result.condition += QStringLiteral("[%1] = ?").arg(column->name);
        result.values.append(static_cast<int>(number));

        const QString connective = match.captured(4).toUpper();
        expectMore = !connective.isEmpty();
        if (expectMore)
            result.condition += QLatin1Char(' ') + connective + QLatin1Char(' ');
        position = match.capturedEnd(0);
    }
    return result;
}

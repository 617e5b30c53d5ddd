#pragma once

#include "platform/db/DaoFieldExchange.h"

#include <QString>
#include <QVariantList>

// A criteria string turned into a parameterised SQL condition. Only comparisons of a
// bound column with a whole number, joined by AND or OR, are understood
// ("ID = 12", "MessageId = 5 AND Recipient = 3", "Group1 = 7 OR Group2 = 7 ...");
// anything else is refused, so nothing but those comparisons ever reaches the
// database.
struct DaoCriteria
{
    QString condition; // e.g. "[MessageId] = ? AND [Recipient] = ?"
    QVariantList values;
};

// Throws CDaoException (BadCriteria) for anything it does not understand.
DaoCriteria ParseDaoCriteria(const QString& criteria, const std::vector<DaoColumn>& columns);

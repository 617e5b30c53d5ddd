#pragma once

#include "platform/db/DaoRecordset.h"

#include <QVariantList>

// Values are converted from what the database holds when the row is first used, so
// that a row holding something unreadable fails only when it is reached, as a walk
// through the table would meet it.
struct CDaoRecordset::Row
{
    std::int32_t id = 0;
    QVariantList stored;
    std::vector<DaoFieldValue> values;
    bool converted = false;
    bool deleted = false;
};

#pragma once

#include "platform/db/DaoException.h"

#include <QString>

// What the action threw: the failure's kind as a number, ": " and its reason; "" if it
// threw nothing. Any other exception passes through to fail the test with its own reason.
template <typename Action> QString DaoFailureOf(Action action)
{
    try {
        action();
    } catch (const CDaoException& failure) {
        return QString::number(int(failure.kind())) + ": " + failure.reason();
    }
    return {};
}

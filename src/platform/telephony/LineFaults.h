#pragma once

#include <QString>

// What keeps this side from placing a call, in the words the operator reads: the line
// device by the name the operator chose it by, then the cause. The line interface says
// them of a call it could not place (lineGetCallInfo), the program of a line it could
// not find or open.

inline QString LineOpenFault(const QString& lineName, const QString& cause)
{
    return QStringLiteral("The line device \"%1\" cannot be opened: %2").arg(lineName, cause);
}

inline QString LineSetUpFault(const QString& lineName, const QString& cause)
{
    return QStringLiteral("The line device \"%1\" cannot be set up: %2").arg(lineName, cause);
}

inline QString LineCallFault(const QString& lineName, const QString& cause)
{
    return QStringLiteral("The line device \"%1\" cannot place a call: %2").arg(lineName, cause);
}

inline QString ModemCommandFault(const QString& lineName, const QString& cause)
{
    return QStringLiteral("The modem \"%1\" does not answer its commands: %2").arg(lineName, cause);
}

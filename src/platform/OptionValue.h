#pragma once

#include <QString>
#include <QStringList>

// Reads the value of a command-line option at arguments[index], given as "--name=VALUE"
// or as "--name VALUE" (the short name, if any, only in the second form). False when
// the argument is not this option. Otherwise true, with `index` past what was read and
// `error` set when the value is missing or empty.
bool TakeOptionValue(const QStringList& arguments, qsizetype& index, const QString& name,
    const QString& shortName, QString& value, QString& error);

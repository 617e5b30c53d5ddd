#include "platform/OptionValue.h"

bool TakeOptionValue(const QStringList& arguments, qsizetype& index, const QString& name,
    const QString& shortName, QString& value, QString& error)
{
    const QString& argument = arguments.at(index);
    const QString withEquals = name + QLatin1Char('=');
    if (argument.startsWith(withEquals)) {
        value = argument.mid(withEquals.size());
    } else if (argument == name || (!shortName.isEmpty() && argument == shortName)) {
        if (index + 1 >= arguments.size()) {
            error = QStringLiteral("%1 needs a value.").arg(argument);
            return true;
        }
        value = arguments.at(++index);
    } else {
        return false;
    }
    if (value.isEmpty())
        error = QStringLiteral("%1 needs a value.").arg(name);
    return true;
}

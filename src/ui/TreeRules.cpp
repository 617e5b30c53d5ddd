#include "ui/TreeRules.h"

namespace TreeRules {

namespace {

constexpr qsizetype kLongestWholeText = 29;
constexpr qsizetype kShortenedPrefix = 27;

} // namespace

QString ShortMessageText(const QString& text)
{
    if (text.size() <= kLongestWholeText)
        return text;
    // Never cut a character that takes two UTF-16 units in half.
    qsizetype prefix = kShortenedPrefix;
    if (text.at(prefix - 1).isHighSurrogate())
        --prefix;
    return text.left(prefix) + QStringLiteral("...");
}

bool ContextEntryEnabled(int position, bool onCategory, bool handlerAvailable)
{
    if (!handlerAvailable)
        return false;
    return !onCategory || position == 0;
}

} // namespace TreeRules

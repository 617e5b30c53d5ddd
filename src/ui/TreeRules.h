#pragma once

#include <QString>

// The navigation tree's rules that need no window.
namespace TreeRules {

// A message text as the tree shows it: whole when shorter than 30 characters,
// otherwise its first 27 characters and "..." (30 in all).
QString ShortMessageText(const QString& text);

// Whether the context menu entry at position 0, 1 or 2 can be chosen. On a category
// item only the first entry (New) can be; any entry needs a command handler.
bool ContextEntryEnabled(int position, bool onCategory, bool handlerAvailable);

} // namespace TreeRules

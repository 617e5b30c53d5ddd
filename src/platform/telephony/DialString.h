#pragma once

#include <QString>
#include <optional>

// What a Hayes modem is given to dial for an access number. A dial command takes digits
// and the dial modifiers * # , W P T ! @ (w p t are upper-cased); the separators people
// type (space - ( ) .) are left out. Anything else could end the dial command and start
// another (";ATH", a CR), so such a number is refused whole, never cleaned up.
struct DialString
{
    QString dialled; // what follows ATDT; empty when refused
    QString refused; // the first character that cannot be dialled; empty when none
};

DialString ReadDialString(const QString& accessNumber);

// The character that keeps an access number from being called on any line: one that a
// modem cannot dial, in a number that is not a TCP line's host:port either. Nothing when
// the number can be called.
std::optional<QString> UncallableCharacter(const QString& accessNumber);

// The refused character as the operator reads it: ";" in quotes, or U+000D for a
// character that does not show.
QString DialCharacterName(const QString& character);

// Why a send dials nothing: the access number of the provider holds a character that
// cannot be dialled, or leaves nothing to dial.
QString AccessNumberFault(const QString& provider, const DialString& dial);

// What the provider dialog says of an access number holding such a character.
QString BadAccessNumberText(const QString& character);

#pragma once

#include <QByteArray>
#include <QString>

// A text as it can go on a TAP line, which carries 7-bit characters only: a character
// outside printable ASCII would reach the terminal with bit 7 stripped, so its checksum
// would never agree and the block would be refused on every attempt. Accented Latin
// letters lose their accents ("é" becomes "e", "ß" becomes "ss"); every other character
// outside printable ASCII, line breaks included, becomes "?".
QByteArray ToTapText(const QString& text);

#include "tap/TapText.h"

#include <QList>
#include <QStringView>

namespace {

bool isPrintableAscii(char32_t c)
{
    return c >= 0x20 && c <= 0x7E;
}

// Latin letters that Unicode does not decompose into a base letter and an accent.
const char* latinWithoutDecomposition(char32_t c)
{
    switch (c) {
    case U'ß': return "ss";
    case U'æ': return "ae";
    case U'Æ': return "AE";
    case U'œ': return "oe";
    case U'Œ': return "OE";
    case U'ø': return "o";
    case U'Ø': return "O";
    case U'ł': return "l";
    case U'Ł': return "L";
    case U'đ': return "d";
    case U'Đ': return "D";
    case U'ð': return "d";
    case U'Ð': return "D";
    case U'þ': return "th";
    case U'Þ': return "TH";
    case U'ı': return "i";
    default: return nullptr;
    }
}

// The base letter of an accented Latin letter, or 0 when the character is not one.
char baseLetter(char32_t c)
{
    const QString decomposed = QString::fromUcs4(&c, 1).normalized(QString::NormalizationForm_D);
    if (decomposed.size() < 2)
        return 0;
    const char32_t base = decomposed.at(0).unicode();
    if (!((base >= U'A' && base <= U'Z') || (base >= U'a' && base <= U'z')))
        return 0;
    for (qsizetype i = 1; i < decomposed.size(); ++i) {
        if (decomposed.at(i).category() != QChar::Mark_NonSpacing)
            return 0;
    }
    return static_cast<char>(base);
}

} // namespace

QByteArray ToTapText(const QString& text)
{
    QByteArray line;
    line.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        if (QChar::category(c) == QChar::Mark_NonSpacing) {
            // An accent written as a character of its own, after its letter.
            continue;
        }
        if (isPrintableAscii(c)) {
            line.append(static_cast<char>(c));
        } else if (const char* spelled = latinWithoutDecomposition(c)) {
            line.append(spelled);
        } else if (const char base = baseLetter(c)) {
            line.append(base);
        } else {
            line.append('?');
        }
    }
    return line;
}

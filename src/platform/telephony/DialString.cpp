#include "platform/telephony/DialString.h"

#include "platform/telephony/LineDevices.h"

#include <QList>
#include <string_view>

namespace {

bool IsSeparator(char32_t c)
{
    return std::u32string_view(U" -().").find(c) != std::u32string_view::npos;
}

bool IsDialled(char32_t c)
{
    return (c >= U'0' && c <= U'9')
        || std::u32string_view(U"*#,WPT!@").find(c) != std::u32string_view::npos;
}

char32_t UpperModifier(char32_t c)
{
    return c == U'w' || c == U'p' || c == U't' ? c - U'a' + U'A' : c;
}

} // namespace

DialString ReadDialString(const QString& accessNumber)
{
    DialString dial;
    for (const char32_t typed : accessNumber.toUcs4()) {
        const char32_t c = UpperModifier(typed);
        if (IsSeparator(c))
            continue;
        if (!IsDialled(c))
            return { QString(), QString::fromUcs4(&typed, 1) };
        dial.dialled += QChar(char16_t(c)); // ASCII only, so one QChar holds it
    }
    return dial;
}

std::optional<QString> UncallableCharacter(const QString& accessNumber)
{
    const DialString dial = ReadDialString(accessNumber);
    if (dial.refused.isEmpty() || ParseTcpAddress(accessNumber))
        return std::nullopt;
    return dial.refused;
}

QString DialCharacterName(const QString& character)
{
    const char32_t c = character.toUcs4().value(0);
    if (QChar::isPrint(c))
        return QStringLiteral("\"%1\"").arg(character);
    return QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
}

QString AccessNumberFault(const QString& provider, const DialString& dial)
{
    if (dial.refused.isEmpty())
        return QStringLiteral("The access number of %1 is empty: there is nothing to dial")
            .arg(provider);
    return QStringLiteral("The access number of %1 holds %2, which cannot be dialled")
        .arg(provider, DialCharacterName(dial.refused));
}

QString BadAccessNumberText(const QString& character)
{
    return QStringLiteral("The access number holds %1, which a modem cannot dial. A modem dials "
                          "digits and * # , W P T ! @ (spaces, dashes, brackets and dots are "
                          "left out); a TCP line takes host:port.")
        .arg(DialCharacterName(character));
}

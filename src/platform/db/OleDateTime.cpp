#include "platform/db/OleDateTime.h"

#include "platform/Clock.h"

#include <QRegularExpression>
#include <ctime>
#include <algorithm>

namespace {

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static constexpr int days[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

} // namespace

COleDateTime::COleDateTime(int year, int month, int day, int hour, int minute, int second)
    : m_year(year)
    , m_month(month)
    , m_day(day)
    , m_hour(hour)
    , m_minute(minute)
    , m_second(second)
{
}

bool COleDateTime::IsValidDateTime(int year, int month, int day, int hour, int minute, int second)
{
    // The years a Jet Date/Time column can hold.
    if (year < 100 || year > 9999 || month < 1 || month > 12)
        return false;
    if (day < 1 || day > daysInMonth(year, month))
        return false;
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

COleDateTime COleDateTime::GetCurrentTime()
{
    const std::time_t now = static_cast<std::time_t>(Clock::current().SecondsSinceEpoch());
    std::tm local {};
    localtime_r(&now, &local);
    return COleDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
        local.tm_min, local.tm_sec);
}

namespace {

// The stored form "YYYY-MM-DD HH:MM:SS" read digit by digit: every load reads three
// of these per message row, so the common case avoids the general pattern.
std::optional<COleDateTime> parseStoredForm(const QString& text)
{
    if (text.size() != 19 || text[4] != QLatin1Char('-') || text[7] != QLatin1Char('-')
        || text[10] != QLatin1Char(' ') || text[13] != QLatin1Char(':')
        || text[16] != QLatin1Char(':'))
        return std::nullopt;
    auto number = [&text](int from, int length) {
        int value = 0;
        for (int i = from; i < from + length; ++i) {
            const char16_t digit = text[i].unicode();
            if (digit < u'0' || digit > u'9')
                return -1;
            value = value * 10 + (digit - u'0');
        }
        return value;
    };
    const COleDateTime value(
        number(0, 4), number(5, 2), number(8, 2), number(11, 2), number(14, 2), number(17, 2));
    if (!COleDateTime::IsValidDateTime(value.GetYear(), value.GetMonth(), value.GetDay(),
            value.GetHour(), value.GetMinute(), value.GetSecond()))
        return std::nullopt;
    return value;
}

} // namespace

std::optional<COleDateTime> COleDateTime::FromText(const QString& text)
{
    if (const std::optional<COleDateTime> stored = parseStoredForm(text))
        return stored;
    static const QRegularExpression pattern(QStringLiteral(
        R"(^\s*(\d{4})-(\d{1,2})-(\d{1,2})(?:[ T](\d{1,2}):(\d{2})(?::(\d{2}))?)?\s*$)"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    auto number = [&match](int group) { return match.captured(group).toInt(); };
    const COleDateTime value(number(1), number(2), number(3), number(4), number(5), number(6));
    if (!IsValidDateTime(
            value.m_year, value.m_month, value.m_day, value.m_hour, value.m_minute, value.m_second))
        return std::nullopt;
    return value;
}

QString COleDateTime::ToText() const
{
    const int fields[] = { m_year, m_month, m_day, m_hour, m_minute, m_second };
    const bool usual = m_year >= 0 && m_year <= 9999
        && std::all_of(fields + 1, fields + 6, [](int field) { return field >= 0 && field <= 99; });
    if (!usual)
        return QString::asprintf(
            "%04d-%02d-%02d %02d:%02d:%02d", m_year, m_month, m_day, m_hour, m_minute, m_second);
    // Written digit by digit: every row written carries up to three of these.
    char16_t text[19] = { u'0', u'0', u'0', u'0', u'-', u'0', u'0', u'-', u'0', u'0', u' ', u'0',
        u'0', u':', u'0', u'0', u':', u'0', u'0' };
    auto put = [&text](int at, int width, int value) {
        for (int i = at + width - 1; i >= at; --i, value /= 10)
            text[i] = char16_t(u'0' + value % 10);
    };
    put(0, 4, m_year);
    put(5, 2, m_month);
    put(8, 2, m_day);
    put(11, 2, m_hour);
    put(14, 2, m_minute);
    put(17, 2, m_second);
    return QString(reinterpret_cast<const QChar*>(text), 19);
}

#pragma once

#include <QString>
#include <compare>
#include <optional>

// A Date/Time column value: a local calendar date and wall-clock time to the second,
// stored in the database as the text "YYYY-MM-DD HH:MM:SS". The zero value is
// 30 December 1899 00:00:00, the value a record set member holds before it is set.
class COleDateTime
{
public:
    COleDateTime() = default;
    COleDateTime(int year, int month, int day, int hour, int minute, int second);

    // The local date and time now by the program's clock, to the second.
    static COleDateTime GetCurrentTime();

    // Parses "YYYY-MM-DD HH:MM:SS" (also with "T" between date and time, without
    // seconds, or a date alone); nothing for text that is not a valid date and time.
    static std::optional<COleDateTime> FromText(const QString& text);
    QString ToText() const;

    int GetYear() const { return m_year; }
    int GetMonth() const { return m_month; }
    int GetDay() const { return m_day; }
    int GetHour() const { return m_hour; }
    int GetMinute() const { return m_minute; }
    int GetSecond() const { return m_second; }

    bool IsZero() const { return *this == COleDateTime(); }
    static bool IsValidDateTime(int year, int month, int day, int hour, int minute, int second);

    auto operator<=>(const COleDateTime&) const = default;

private:
    int m_year = 1899;
    int m_month = 12;
    int m_day = 30;
    int m_hour = 0;
    int m_minute = 0;
    int m_second = 0;
};

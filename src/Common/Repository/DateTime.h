#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <compare>

// A point in local time as a day count since 1899-12-30 with the time of day
// as the fraction (0.5 is noon). 0 stands for that epoch and means "never"
// wherever a date is optional. For values below zero the fraction still
// counts forward from midnight of the day that the whole part names.
class TDateTime {
public:
    static constexpr qint64 MSecsPerDay = 86400000;

    constexpr TDateTime() = default;
    constexpr explicit TDateTime(double value) : FValue(value) {}

    constexpr double Value() const { return FValue; }
    constexpr bool IsZero() const { return FValue == 0; }

    static TDateTime Now();
    static TDateTime Today();
    // An invalid date gives 0; an invalid time counts as midnight.
    static TDateTime FromDateTime(const QDateTime& value);
    static TDateTime EncodeDate(int year, int month, int day);
    // The time of day alone (a fraction below 1).
    static TDateTime EncodeTime(int hour, int minute, int second, int msec = 0);
    static TDateTime FromDateAndTime(const QDate& date, const QTime& time);

    // The day that the whole part names and the time of day of the fraction,
    // to the millisecond (rounded; a fraction that rounds to a whole day
    // moves to the next day).
    QDate Date() const;
    QTime Time() const;
    QDateTime ToDateTime() const;
    // Milliseconds since midnight of the time of day, rounded.
    qint64 TimeOfDayMSecs() const;

    friend constexpr bool operator==(TDateTime a, TDateTime b) { return a.FValue == b.FValue; }
    friend constexpr auto operator<=>(TDateTime a, TDateTime b) { return a.FValue <=> b.FValue; }

private:
    // Whole days and milliseconds of the day after rounding.
    void Split(qint64& days, qint64& msecs) const;

    double FValue = 0;
};

#include "Common/Repository/DateTime.h"

#include <cmath>

namespace {

const QDate kEpoch(1899, 12, 30);

} // namespace

TDateTime TDateTime::Now() {
    return FromDateTime(QDateTime::currentDateTime());
}

TDateTime TDateTime::Today() {
    return FromDateAndTime(QDate::currentDate(), QTime(0, 0));
}

TDateTime TDateTime::FromDateTime(const QDateTime& value) {
    const QDateTime local = value.toLocalTime();
    return FromDateAndTime(local.date(), local.time());
}

TDateTime TDateTime::EncodeDate(int year, int month, int day) {
    return FromDateAndTime(QDate(year, month, day), QTime(0, 0));
}

TDateTime TDateTime::EncodeTime(int hour, int minute, int second, int msec) {
    const QTime t(hour, minute, second, msec);
    return TDateTime(t.isValid() ? double(t.msecsSinceStartOfDay()) / MSecsPerDay : 0.0);
}

TDateTime TDateTime::FromDateAndTime(const QDate& date, const QTime& time) {
    if (!date.isValid())
        return TDateTime();
    const qint64 days = kEpoch.daysTo(date);
    const double fraction =
        time.isValid() ? double(time.msecsSinceStartOfDay()) / MSecsPerDay : 0.0;
    return TDateTime(days >= 0 ? double(days) + fraction : double(days) - fraction);
}

void TDateTime::Split(qint64& days, qint64& msecs) const {
    const double whole = std::trunc(FValue);
    days = qint64(whole);
    msecs = qint64(std::llround(std::fabs(FValue - whole) * MSecsPerDay));
    if (msecs >= MSecsPerDay) {
        msecs -= MSecsPerDay;
        days += FValue < 0 ? -1 : 1;
    }
}

QDate TDateTime::Date() const {
    qint64 days = 0;
    qint64 msecs = 0;
    Split(days, msecs);
    return kEpoch.addDays(days);
}

QTime TDateTime::Time() const {
    return QTime::fromMSecsSinceStartOfDay(int(TimeOfDayMSecs()));
}

qint64 TDateTime::TimeOfDayMSecs() const {
    qint64 days = 0;
    qint64 msecs = 0;
    Split(days, msecs);
    return msecs;
}

QDateTime TDateTime::ToDateTime() const {
    return QDateTime(Date(), Time());
}

#include "Common/Repository/ValueText.h"

#include "Common/Repository/PersistMeta.h"
#include "Platform/Runtime/Exception.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace ValueText {

namespace {

[[noreturn]] void RaiseDateTime(const QString& text) {
    throw EConvertError(QStringLiteral("'%1' is not a valid date and time").arg(text));
}
[[noreturn]] void RaiseDate(const QString& text) {
    throw EConvertError(QStringLiteral("'%1' is not a valid date").arg(text));
}
[[noreturn]] void RaiseTime(const QString& text) {
    throw EConvertError(QStringLiteral("'%1' is not a valid time").arg(text));
}

int ExpandYear(const QString& digits) {
    int year = digits.toInt();
    if (digits.size() <= 2) {
        // Two-digit years fall within fifty years before today.
        const int current = QDate::currentDate().year();
        year += current / 100 * 100;
        if (year < current - 50)
            year += 100;
    }
    return year;
}

// Month/day/year; false when the text is not such a date.
bool ParseUsDate(const QString& text, QDate& date) {
    static const QRegularExpression re(QStringLiteral("^(\\d{1,2})/(\\d{1,2})/(\\d{1,4})$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return false;
    date = QDate(ExpandYear(m.captured(3)), m.captured(1).toInt(), m.captured(2).toInt());
    return date.isValid();
}

// Hours:minutes[:seconds[.milliseconds]] with an optional AM or PM.
bool ParseUsTime(const QString& text, QTime& time) {
    static const QRegularExpression re(
        QStringLiteral("^(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2})(?:\\.(\\d{1,3}))?)?\\s*(AM|PM)?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return false;
    int hour = m.captured(1).toInt();
    const int minute = m.captured(2).toInt();
    const int second = m.captured(3).isEmpty() ? 0 : m.captured(3).toInt();
    const int msec = m.captured(4).isEmpty() ? 0 : m.captured(4).leftJustified(3, u'0').toInt();
    const QString half = m.captured(5).toUpper();
    if (!half.isEmpty()) {
        if (hour < 1 || hour > 12)
            return false;
        if (half == QLatin1String("AM"))
            hour = hour == 12 ? 0 : hour;
        else
            hour = hour == 12 ? 12 : hour + 12;
    }
    time = QTime(hour, minute, second, msec);
    return time.isValid();
}

QString UsTime(const QTime& t) {
    const int h12 = t.hour() % 12 == 0 ? 12 : t.hour() % 12;
    return QStringLiteral("%1:%2:%3 %4")
        .arg(h12)
        .arg(t.minute(), 2, 10, QLatin1Char('0'))
        .arg(t.second(), 2, 10, QLatin1Char('0'))
        .arg(t.hour() < 12 ? QLatin1String("AM") : QLatin1String("PM"));
}

QString UsDate(const QDate& d) {
    return QStringLiteral("%1/%2/%3")
        .arg(d.month())
        .arg(d.day())
        .arg(d.year(), 4, 10, QLatin1Char('0'));
}

// The locale's time format without the time-zone part.
QString TimeFormat(const QLocale& locale, QLocale::FormatType type) {
    QStringList parts = locale.timeFormat(type).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    parts.removeIf([](const QString& p) {
        static const QRegularExpression zone(QStringLiteral("^t+$"));
        return zone.match(p).hasMatch();
    });
    return parts.join(QLatin1Char(' '));
}

QString DisplayDate(TDateTime value, const QLocale& locale, TFloatType type) {
    if (value.Value() <= 0)
        return {};
    const QString timeFormat = TimeFormat(locale, QLocale::LongFormat);
    switch (type) {
    case TFloatType::ftDate:
        return locale.toString(value.Date(), QLocale::ShortFormat);
    case TFloatType::ftTime:
        return locale.toString(value.Time(), timeFormat);
    default:
        if (value.TimeOfDayMSecs() == 0)
            return locale.toString(value.Date(), QLocale::ShortFormat);
        return locale.toString(value.Date(), QLocale::ShortFormat) + QLatin1Char(' ') +
               locale.toString(value.Time(), timeFormat);
    }
}

TDateTime ParseDisplayDate(const QString& input, const QLocale& locale, TFloatType type) {
    const QString text = input.trimmed();
    if (text.isEmpty())
        return TDateTime();
    const QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
    const QStringList timeFormats = {TimeFormat(locale, QLocale::LongFormat),
                                     TimeFormat(locale, QLocale::ShortFormat)};
    if (type != TFloatType::ftDate) {
        for (const QString& tf : timeFormats) {
            if (type == TFloatType::ftTime) {
                const QTime t = locale.toTime(text, tf);
                if (t.isValid())
                    return TDateTime::EncodeTime(t.hour(), t.minute(), t.second(), t.msec());
            } else {
                const QDateTime dt = locale.toDateTime(text, dateFormat + QLatin1Char(' ') + tf);
                if (dt.isValid())
                    return TDateTime::FromDateAndTime(dt.date(), dt.time());
            }
        }
    }
    if (type != TFloatType::ftTime) {
        const QDate d = locale.toDate(text, dateFormat);
        if (d.isValid())
            return TDateTime::FromDateAndTime(d, QTime(0, 0));
    }
    switch (type) {
    case TFloatType::ftDate:
        RaiseDate(input);
    case TFloatType::ftTime:
        RaiseTime(input);
    default:
        RaiseDateTime(input);
    }
}

int CheckInteger(const TPersistMember& member, qint64 value, const QString& text) {
    const bool word = member.IntegerType == TIntegerType::itWord;
    const qint64 low = word ? 0 : std::numeric_limits<qint32>::min();
    const qint64 high = word ? 65535 : std::numeric_limits<qint32>::max();
    if (value < low || value > high)
        throw EConvertError(QStringLiteral("'%1' is not a valid value of %2 (%3 to %4)")
                                .arg(text, member.Name)
                                .arg(low)
                                .arg(high));
    return int(value);
}

int EnumOrdinal(const TPersistMember& member, const QString& text) {
    TV_ASSERT(member.EnumType != nullptr);
    const int ordinal = member.EnumType->IndexOf(text.trimmed());
    if (ordinal < 0)
        throw EConvertError(QStringLiteral("'%1' is not a valid %2 value of %3")
                                .arg(text, member.EnumType->Name, member.Name));
    return ordinal;
}

QString EnumName(const TPersistMember& member, const QVariant& value) {
    TV_ASSERT(member.EnumType != nullptr);
    const int ordinal = value.toInt();
    TV_ASSERT(ordinal >= 0 && ordinal < member.EnumType->Names.size());
    return member.EnumType->Names.at(ordinal);
}

} // namespace

bool IsXmlText(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == 0x9 || c == 0xA || c == 0xD)
            continue;
        if (c < 0x20 || c == 0xFFFE || c == 0xFFFF)
            return false;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 >= text.size() || !QChar::isLowSurrogate(text.at(i + 1).unicode()))
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(c)) {
            return false;
        }
    }
    return true;
}

QString DateTimeToText(TDateTime value) {
    if (value.Value() <= 0)
        return {};
    if (value.TimeOfDayMSecs() == 0)
        return UsDate(value.Date());
    return UsDate(value.Date()) + QLatin1Char(' ') + UsTime(value.Time());
}

QString DateToText(TDateTime value) {
    return value.Value() <= 0 ? QString() : UsDate(value.Date());
}

QString TimeToText(TDateTime value) {
    return value.Value() <= 0 ? QString() : UsTime(value.Time());
}

TDateTime TextToDateTime(const QString& input) {
    const QString text = input.trimmed();
    if (text.isEmpty())
        return TDateTime();
    const qsizetype space = text.indexOf(QLatin1Char(' '));
    QDate date;
    QTime time(0, 0);
    if (space < 0) {
        if (!ParseUsDate(text, date)) {
            // A time alone is a time on the first day.
            if (!ParseUsTime(text, time))
                RaiseDateTime(input);
            return TDateTime::EncodeTime(time.hour(), time.minute(), time.second(), time.msec());
        }
    } else if (!ParseUsDate(text.left(space), date) ||
               !ParseUsTime(text.mid(space + 1).trimmed(), time)) {
        RaiseDateTime(input);
    }
    return TDateTime::FromDateAndTime(date, time);
}

TDateTime TextToDate(const QString& input) {
    const QString text = input.trimmed();
    if (text.isEmpty())
        return TDateTime();
    QDate date;
    if (!ParseUsDate(text, date))
        RaiseDate(input);
    return TDateTime::FromDateAndTime(date, QTime(0, 0));
}

TDateTime TextToTime(const QString& input) {
    const QString text = input.trimmed();
    if (text.isEmpty())
        return TDateTime();
    QTime time;
    if (!ParseUsTime(text, time))
        RaiseTime(input);
    return TDateTime::EncodeTime(time.hour(), time.minute(), time.second(), time.msec());
}

QString FloatToText(double value) {
    return QLocale::c().toString(value, 'g', 15);
}

double TextToFloat(const QString& input) {
    const QString text = input.trimmed();
    if (text.isEmpty())
        return 0;
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(input));
    return value;
}

int TextToInt(const QString& input) {
    bool ok = false;
    const QString text = input.trimmed();
    const qint64 value = text.toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<qint32>::min() ||
        value > std::numeric_limits<qint32>::max())
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(input));
    return int(value);
}

QString ToXmlText(const TPersistMember& member, const QVariant& value) {
    switch (member.Kind) {
    case TTypeKind::tkInteger:
        return QString::number(value.toInt());
    case TTypeKind::tkString: {
        QString text = value.toString();
        if (!IsXmlText(text))
            throw EConvertError(
                QStringLiteral("The text of %1 holds a character that cannot be stored")
                    .arg(member.Name));
        return text;
    }
    case TTypeKind::tkEnumeration:
        return EnumName(member, value);
    case TTypeKind::tkFloat: {
        const TDateTime dt(value.toDouble());
        switch (member.FloatType) {
        case TFloatType::ftDateTime:
            return DateTimeToText(dt);
        case TFloatType::ftDate:
            return DateToText(dt);
        case TFloatType::ftTime:
            return TimeToText(dt);
        case TFloatType::ftGeneral:
            return FloatToText(value.toDouble());
        }
        break;
    }
    case TTypeKind::tkClass:
        break;
    }
    TV_ASSERT(!"value kind without a text form");
    return {};
}

QVariant FromXmlText(const TPersistMember& member, const QString& text) {
    switch (member.Kind) {
    case TTypeKind::tkInteger: {
        const int value = TextToInt(text);
        return CheckInteger(member, value, text);
    }
    case TTypeKind::tkString:
        return text;
    case TTypeKind::tkEnumeration:
        return EnumOrdinal(member, text);
    case TTypeKind::tkFloat:
        switch (member.FloatType) {
        case TFloatType::ftDateTime:
            return TextToDateTime(text).Value();
        case TFloatType::ftDate:
            return TextToDate(text).Value();
        case TFloatType::ftTime:
            return TextToTime(text).Value();
        case TFloatType::ftGeneral:
            return TextToFloat(text);
        }
        break;
    case TTypeKind::tkClass:
        break;
    }
    TV_ASSERT(!"value kind without a text form");
    return {};
}

QString ToDisplayText(const TPersistMember& member, const QVariant& value, const QLocale& locale) {
    switch (member.Kind) {
    case TTypeKind::tkInteger:
        return QString::number(value.toInt());
    case TTypeKind::tkString:
        return value.toString();
    case TTypeKind::tkEnumeration:
        return EnumName(member, value);
    case TTypeKind::tkFloat:
        if (member.FloatType == TFloatType::ftGeneral)
            return locale.toString(value.toDouble(), 'g', 15);
        return DisplayDate(TDateTime(value.toDouble()), locale, member.FloatType);
    case TTypeKind::tkClass:
        break;
    }
    TV_ASSERT(!"value kind without a display form");
    return {};
}

QVariant FromDisplayText(const TPersistMember& member, const QString& text, const QLocale& locale) {
    switch (member.Kind) {
    case TTypeKind::tkInteger:
        return CheckInteger(member, TextToInt(text), text);
    case TTypeKind::tkString:
        return text;
    case TTypeKind::tkEnumeration:
        return EnumOrdinal(member, text);
    case TTypeKind::tkFloat:
        if (member.FloatType == TFloatType::ftGeneral) {
            if (text.trimmed().isEmpty())
                return 0.0;
            bool ok = false;
            const double value = locale.toDouble(text.trimmed(), &ok);
            if (!ok)
                throw EConvertError(
                    QStringLiteral("'%1' is not a valid floating point value").arg(text));
            return value;
        }
        return ParseDisplayDate(text, locale, member.FloatType).Value();
    case TTypeKind::tkClass:
        break;
    }
    TV_ASSERT(!"value kind without a display form");
    return {};
}

} // namespace ValueText

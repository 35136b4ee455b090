#pragma once

// Text forms of persisted values: the fixed "en-US" forms of the XML files,
// the same on every computer, and the display forms, which follow the user's
// own regional settings.

#include "Common/Repository/DateTime.h"

#include <QLocale>
#include <QString>
#include <QVariant>

class TPersistMember;

namespace ValueText {

// The file form of a member's value. Raises EConvertError for a text that
// holds a character an XML document cannot carry.
QString ToXmlText(const TPersistMember& member, const QVariant& value);
// The value of a file text; raises EConvertError when the text does not fit
// the member's kind (an integer out of the member's range and an enumeration
// text that names no enumerator included).
QVariant FromXmlText(const TPersistMember& member, const QString& text);

QString ToDisplayText(const TPersistMember& member, const QVariant& value, const QLocale& locale);
QVariant FromDisplayText(const TPersistMember& member, const QString& text, const QLocale& locale);

// "3/7/2012 2:05:09 PM"; "3/7/2012" at midnight; empty for zero or less.
QString DateTimeToText(TDateTime value);
// "3/7/2012"; empty for zero or less.
QString DateToText(TDateTime value);
// "2:05:09 PM"; empty for zero or less.
QString TimeToText(TDateTime value);
// The inverses; an empty (or blank) text gives 0, anything unreadable raises EConvertError.
TDateTime TextToDateTime(const QString& text);
TDateTime TextToDate(const QString& text);
TDateTime TextToTime(const QString& text);
// General form with at most 15 significant digits and a full stop.
QString FloatToText(double value);
double TextToFloat(const QString& text);
int TextToInt(const QString& text);

// True when every character of the text may appear in an XML 1.0 document.
bool IsXmlText(const QString& text);

} // namespace ValueText

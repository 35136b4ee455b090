#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantList>

class QIODevice;

// Replaces every article marker "A(z)" by "a" or "az" after the next word's
// first letter (vowel: "az"), keeping the marker's capital letter.
QString FixArticle(const QString& text);

// Version order: a longer text is greater; equal lengths compare as text with
// the letters a-z folded. Only the sign of the answer counts.
int CompareVersions(const QString& a, const QString& b);

// Human-readable byte count: "1 023 bájt", "1 KB", "1,5 MB" (at most two
// decimals, space as thousands separator, the locale's decimal separator).
QString SizeToText(qint64 size, bool forceBytes = false);

// Base64 with lines of 76 characters separated by CR LF (no break after the
// last line); decoding skips every character outside the alphabet.
void Base64Encode(QIODevice& input, QIODevice& output);
void Base64Decode(QIODevice& input, QIODevice& output);
QByteArray Base64EncodeBytes(const QByteArray& data);
QByteArray Base64DecodeBytes(const QByteArray& text);

// Two upper-case hexadecimal digits per byte, no separators.
QString BytesToHex(const QByteArray& bytes);
// Every two characters form one byte; an odd last character is ignored; a
// pair that is not hexadecimal raises EConvertError.
QByteArray HexToBytes(const QString& text);

// "YYYY.MM.DD HH:NN:SS:ZZZ" in local time, the form of times in errors and tickets.
class QDateTime;
QString FormatErrorTime(const QDateTime& time);

// Fills a message format in the program's form: "%s" takes a text, "%d" and
// "%u" an integer, "%x" an integer in hexadecimal, "%.2d" an integer with at
// least two digits, "%%" a percent sign; arguments are used in order.
QString Format(const QString& format, const QVariantList& args);

#include "Common/Util/StrUtilsEx.h"

#include "Platform/Runtime/Exception.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <cmath>

namespace {

const QString kVowels = QStringLiteral("AÁEÉIÍOÓÖŐUÚÜŰ");

bool IsSeparator(QChar c) {
    return c == QLatin1Char(' ') || c == QChar(0x00A0) || c.category() == QChar::Separator_Space;
}

QString GroupThousands(qint64 value) {
    QString digits = QString::number(value < 0 ? -value : value);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(' '));
    return value < 0 ? QLatin1Char('-') + digits : digits;
}

// "#,##0.##": grouped integer part, up to two decimals without trailing zeros.
QString FormatTwoDecimals(double value) {
    const auto hundredths = static_cast<qint64>(std::llround(value * 100.0));
    const qint64 whole = hundredths / 100;
    qint64 frac = hundredths % 100;
    QString text = GroupThousands(whole);
    if (frac != 0) {
        QString fracText = QStringLiteral("%1").arg(frac, 2, 10, QLatin1Char('0'));
        while (fracText.endsWith(QLatin1Char('0')))
            fracText.chop(1);
        text += QLocale().decimalPoint() + fracText;
    }
    return text;
}

} // namespace

QString FixArticle(const QString& text) {
    QString result = text;
    qsizetype from = 0;
    for (;;) {
        const qsizetype pos = result.indexOf(QLatin1String("A(z)"), from, Qt::CaseInsensitive);
        if (pos < 0)
            return result;
        qsizetype next = pos + 4;
        while (next < result.size() && IsSeparator(result.at(next)))
            ++next;
        if (next >= result.size())
            return result; // nothing follows: this and later markers stay
        const bool vowel = kVowels.contains(result.at(next).toUpper());
        QString article = vowel ? QStringLiteral("az") : QStringLiteral("a");
        if (result.at(pos).isUpper())
            article[0] = article.at(0).toUpper();
        result.replace(pos, 4, article);
        from = pos + article.size();
    }
}

int CompareVersions(const QString& a, const QString& b) {
    if (a.size() > b.size())
        return 1;
    if (a.size() < b.size())
        return -1;
    auto fold = [](QChar c) -> int {
        const ushort u = c.unicode();
        return (u >= 'a' && u <= 'z') ? u - ('a' - 'A') : u;
    };
    for (qsizetype i = 0; i < a.size(); ++i) {
        const int d = fold(a.at(i)) - fold(b.at(i));
        if (d != 0)
            return d;
    }
    return 0;
}

QString SizeToText(qint64 size, bool forceBytes) {
    if (size < 0)
        return GroupThousands(size);
    constexpr qint64 KB = 1024;
    constexpr qint64 MB = KB * 1024;
    constexpr qint64 GB = MB * 1024;
    if (forceBytes || size < KB)
        return GroupThousands(size) + QLatin1Char(' ') +
               QCoreApplication::translate("SizeToText", "bájt");
    if (size < MB)
        return FormatTwoDecimals(double(size) / KB) + QLatin1Char(' ') +
               QCoreApplication::translate("SizeToText", "KB");
    if (size < GB)
        return FormatTwoDecimals(double(size) / MB) + QLatin1Char(' ') +
               QCoreApplication::translate("SizeToText", "MB");
    return FormatTwoDecimals(double(size) / GB) + QLatin1Char(' ') +
           QCoreApplication::translate("SizeToText", "GB");
}

void Base64Encode(QIODevice& input, QIODevice& output) {
    bool first = true;
    for (;;) {
        // 57 input bytes make one line of 76 characters.
        QByteArray block = input.read(57);
        if (block.isEmpty())
            break;
        while (block.size() < 57 && !input.atEnd()) {
            const QByteArray more = input.read(57 - block.size());
            if (more.isEmpty())
                break;
            block += more;
        }
        if (!first)
            output.write("\r\n", 2);
        output.write(block.toBase64());
        first = false;
    }
}

void Base64Decode(QIODevice& input, QIODevice& output) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= 'a' && c <= 'z')
            return c - 'a' + 26;
        if (c >= '0' && c <= '9')
            return c - '0' + 52;
        if (c == '+')
            return 62;
        if (c == '/')
            return 63;
        return -1;
    };
    quint32 acc = 0;
    int count = 0;
    QByteArray out;
    while (!input.atEnd()) {
        const QByteArray chunk = input.read(64 * 1024);
        if (chunk.isEmpty())
            break;
        for (char c : chunk) {
            const int v = value(c);
            if (v < 0)
                continue;
            acc = (acc << 6) | quint32(v);
            if (++count == 4) {
                out.append(char((acc >> 16) & 0xFF));
                out.append(char((acc >> 8) & 0xFF));
                out.append(char(acc & 0xFF));
                acc = 0;
                count = 0;
            }
        }
        output.write(out);
        out.clear();
    }
    if (count == 3) {
        acc <<= 6;
        out.append(char((acc >> 16) & 0xFF));
        out.append(char((acc >> 8) & 0xFF));
    } else if (count == 2) {
        acc <<= 12;
        out.append(char((acc >> 16) & 0xFF));
    }
    output.write(out);
}

namespace {

// Runs a stream-to-stream conversion over bytes in memory.
QByteArray ConvertInMemory(const QByteArray& data, void (*convert)(QIODevice&, QIODevice&)) {
    QByteArray in = data;
    QBuffer src(&in);
    src.open(QIODevice::ReadOnly);
    QByteArray result;
    QBuffer dst(&result);
    dst.open(QIODevice::WriteOnly);
    convert(src, dst);
    return result;
}

} // namespace

QByteArray Base64EncodeBytes(const QByteArray& data) {
    return ConvertInMemory(data, &Base64Encode);
}

QByteArray Base64DecodeBytes(const QByteArray& text) {
    return ConvertInMemory(text, &Base64Decode);
}

QString BytesToHex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex().toUpper());
}

QByteArray HexToBytes(const QString& text) {
    auto digit = [](QChar c) -> int {
        const ushort u = c.unicode();
        if (u >= '0' && u <= '9')
            return u - '0';
        if (u >= 'a' && u <= 'f')
            return u - 'a' + 10;
        if (u >= 'A' && u <= 'F')
            return u - 'A' + 10;
        return -1;
    };
    QByteArray result;
    result.reserve(text.size() / 2);
    for (qsizetype i = 0; i + 1 < text.size(); i += 2) {
        const int hi = digit(text.at(i));
        const int lo = digit(text.at(i + 1));
        if (hi < 0 || lo < 0)
            throw EConvertError(
                QStringLiteral("'%1' is not a valid hexadecimal value").arg(text.mid(i, 2)));
        result.append(char(hi * 16 + lo));
    }
    return result;
}

QString FormatErrorTime(const QDateTime& time) {
    return time.toLocalTime().toString(QStringLiteral("yyyy.MM.dd HH:mm:ss:zzz"));
}

QString Format(const QString& format, const QVariantList& args) {
    QString result;
    result.reserve(format.size() + 16);
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c != QLatin1Char('%') || i + 1 >= format.size()) {
            result += c;
            continue;
        }
        qsizetype j = i + 1;
        if (format.at(j) == QLatin1Char('%')) {
            result += QLatin1Char('%');
            i = j;
            continue;
        }
        int precision = -1;
        if (format.at(j) == QLatin1Char('.')) {
            qsizetype k = j + 1;
            int p = 0;
            while (k < format.size() && format.at(k).isDigit())
                p = p * 10 + format.at(k++).digitValue();
            precision = p;
            j = k;
        }
        if (j >= format.size()) {
            result += format.mid(i);
            break;
        }
        const QChar kind = format.at(j).toLower();
        if (kind != QLatin1Char('s') && kind != QLatin1Char('d') && kind != QLatin1Char('u') &&
            kind != QLatin1Char('x')) {
            result += c;
            continue;
        }
        if (next >= args.size()) {
            // More placeholders than arguments (a text from outside used as a
            // format): keep the placeholder as written.
            result += format.mid(i, j - i + 1);
            i = j;
            continue;
        }
        const QVariant& arg = args.at(next++);
        QString text;
        if (kind == QLatin1Char('s')) {
            text = arg.toString();
        } else if (kind == QLatin1Char('x')) {
            text = QString::number(arg.toULongLong(), 16).toUpper();
        } else if (kind == QLatin1Char('u')) {
            text = QString::number(arg.toULongLong());
        } else {
            text = QString::number(arg.toLongLong());
        }
        if (kind != QLatin1Char('s') && precision > 0) {
            const bool negative = text.startsWith(QLatin1Char('-'));
            QString digits = negative ? text.mid(1) : text;
            while (digits.size() < precision)
                digits.prepend(QLatin1Char('0'));
            text = negative ? QLatin1Char('-') + digits : digits;
        }
        result += text;
        i = j;
    }
    return result;
}

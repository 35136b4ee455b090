#include "Platform/DataSnap/DSProtocol.h"

#include <QJsonDocument>

namespace DSProtocol {

namespace {
const char* const TypeNames[] = {"text", "int64", "boolean", "datetime", "stream", "json"};
const char* const DirectionNames[] = {"in", "out", "result"};
} // namespace

const char* TypeName(TParamType type) {
    return TypeNames[type];
}

const char* DirectionName(TParamDirection direction) {
    return DirectionNames[direction];
}

bool ParseType(const QString& text, TParamType& type) {
    for (int i = 0; i <= ptJson; ++i) {
        if (text == QLatin1String(TypeNames[i])) {
            type = TParamType(i);
            return true;
        }
    }
    return false;
}

bool ParseDirection(const QString& text, TParamDirection& direction) {
    for (int i = 0; i <= pdResult; ++i) {
        if (text == QLatin1String(DirectionNames[i])) {
            direction = TParamDirection(i);
            return true;
        }
    }
    return false;
}

QByteArray EncodeHeaderArray(const QJsonArray& values) {
    return QJsonDocument(values).toJson(QJsonDocument::Compact).toPercentEncoding();
}

bool DecodeHeaderArray(const QByteArray& text, QJsonArray& values) {
    QJsonParseError error{};
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromPercentEncoding(text), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return false;
    values = doc.array();
    return true;
}

QByteArray BasicAuthorization(const QString& user, const QString& password) {
    return "Basic " + (user + QLatin1Char(':') + password).toUtf8().toBase64();
}

bool ParseBasicAuthorization(const QByteArray& header, QString& user, QString& password) {
    if (!header.startsWith("Basic "))
        return false;
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(header.mid(6).trimmed());
    if (!decoded)
        return false;
    const QString text = QString::fromUtf8(*decoded);
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    user = text.left(colon);
    password = text.mid(colon + 1);
    return true;
}

} // namespace DSProtocol

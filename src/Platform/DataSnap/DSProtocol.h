#pragma once

// The wire format of the remote-method calls, shared by the client library
// and the reference application server (refenv/appserver/PROTOCOL.md).

#include <QByteArray>
#include <QJsonArray>
#include <QString>

namespace DSProtocol {

inline constexpr const char* Context = "/datasnap/";
inline constexpr const char* ConnectPath = "/datasnap/connect";
inline constexpr const char* DisconnectPath = "/datasnap/disconnect";
inline constexpr const char* RestPrefix = "/datasnap/rest/";
inline constexpr const char* DescribePrefix = "/datasnap/describe/";
inline constexpr const char* ResourcesPath = "/datasnap/admin/resources";

inline constexpr const char* SessionHeader = "X-DataSnap-Session";
inline constexpr const char* ParamsHeader = "X-DataSnap-Params";
inline constexpr const char* ResultHeader = "X-DataSnap-Result";
inline constexpr const char* JsonType = "application/json";
inline constexpr const char* StreamType = "application/octet-stream";

// Parameter kinds and directions as the method descriptions name them.
enum TParamType { ptText, ptInt64, ptBoolean, ptDateTime, ptStream, ptJson };
enum TParamDirection { pdIn, pdOut, pdResult };
const char* TypeName(TParamType type);
const char* DirectionName(TParamDirection direction);
bool ParseType(const QString& text, TParamType& type);
bool ParseDirection(const QString& text, TParamDirection& direction);

// A JSON array as it travels in a header: compact UTF-8 JSON, percent-encoded.
QByteArray EncodeHeaderArray(const QJsonArray& values);
bool DecodeHeaderArray(const QByteArray& text, QJsonArray& values);

// "Basic " + base64(user ":" password), UTF-8.
QByteArray BasicAuthorization(const QString& user, const QString& password);
bool ParseBasicAuthorization(const QByteArray& header, QString& user, QString& password);

} // namespace DSProtocol

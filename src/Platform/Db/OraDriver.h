#pragma once

// The database access layer: sessions with transactions, queries with
// positional parameters, typed result sets and stored-procedure calls whose
// parameters the driver describes. Errors are EOraError with Oracle-style
// codes and messages. This implementation speaks PostgreSQL through the
// client library (libpq), which is loaded at run time from the database
// client folder (SetOraClientHome), or from the system when that folder has
// none.

#include "Platform/Db/OraError.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

struct TPqApi;

// The database client folder the library is loaded from (empty: the system's).
void SetOraClientHome(const QString& folder);
QString OraClientHome();
// Unloads the client library when no session uses it any more.
void ReleaseOraClientLibrary();
// Whether the client library is loaded, and the file it was loaded from.
bool OraClientLibraryLoaded();
QString OraClientLibraryFile();

enum class TOraFieldType {
    ftUnknown,
    ftString,
    ftMemo,
    ftInteger,
    ftLargeint,
    ftFloat,
    ftBoolean,
    ftDate,
    ftDateTime
};

class TOraField {
public:
    TOraField(QString name, TOraFieldType type) : FName(std::move(name)), FDataType(type) {}
    const QString& FieldName() const { return FName; }
    TOraFieldType DataType() const { return FDataType; }
    bool IsNull() const { return FValue.isNull(); }
    QString AsString() const;
    int AsInteger() const;
    qint64 AsLargeInt() const;
    double AsFloat() const;
    bool AsBoolean() const;
    QDateTime AsDateTime() const;
    const QVariant& Value() const { return FValue; }
    void SetValue(const QVariant& value) { FValue = value; }

private:
    QString FName;
    TOraFieldType FDataType;
    QVariant FValue;
};

// An opened result set: every row is fetched at open; the cursor starts on
// the first row.
class TOraDataSet {
public:
    TOraDataSet(std::vector<TOraField> fields, std::vector<std::vector<QVariant>> rows);
    int FieldCount() const { return static_cast<int>(FFields.size()); }
    TOraField& Fields(int index);
    // Field names are in upper case; looked up without regard to case.
    TOraField* FindField(const QString& name);
    TOraField& FieldByName(const QString& name);
    int RecordCount() const { return static_cast<int>(FRows.size()); }
    bool IsEmpty() const { return FRows.empty(); }
    bool Eof() const { return FRow >= FRows.size(); }
    void First();
    void Next();

private:
    void Load();
    std::vector<TOraField> FFields;
    std::vector<std::vector<QVariant>> FRows;
    std::size_t FRow = 0;
};

enum class TParamDirection { pdInput, pdOutput, pdInputOutput, pdResult };

struct TOraParam {
    QString Name;
    TParamDirection Direction = TParamDirection::pdInput;
    QString DataType; // the database's type name ("integer", "text")
    QVariant Value;
};

class TOraSession {
public:
    TOraSession();
    ~TOraSession();
    TOraSession(const TOraSession&) = delete;
    TOraSession& operator=(const TOraSession&) = delete;

    void SetUsername(const QString& user) { FUsername = user; }
    void SetPassword(const QString& password) { FPassword = password; }
    // The connect descriptor: HOST, PORT and SERVICE_NAME (or SID) are read.
    void SetServer(const QString& descriptor) { FServer = descriptor; }
    const QString& Username() const { return FUsername; }
    const QString& Server() const { return FServer; }
    // Seconds allowed for the connect.
    void SetConnectTimeout(int seconds) { FConnectTimeout = seconds; }

    // Runs when a connection in use is lost (not after Disconnect); on the
    // thread that noticed it.
    std::function<void()> OnAfterDisconnect;

    void Connect();
    void Disconnect();
    bool Connected() const;
    bool InTransaction() const;
    void StartTransaction();
    void Commit();
    void Rollback();

    // Runs a statement; parameters are written :NAME (or ?) and take the
    // values by position. Anonymous blocks ("begin ...; end;") call the
    // procedures they name.
    void ExecSQL(const QString& sql, const QVariantList& params = {});
    // Runs a query and answers its opened result set.
    std::unique_ptr<TOraDataSet> OpenQuery(const QString& sql, const QVariantList& params = {});
    // Number of parameters of a statement text.
    static int ParamCount(const QString& sql);

    // Stored procedures: the parameter list as the database describes it (for
    // a function with a value, the last one, "RESULT", has pdResult), and the
    // call with those parameters; output values are written back.
    std::vector<TOraParam> DescribeProc(const QString& procName);
    void ExecProc(const QString& procName, std::vector<TOraParam>& params);

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
    QString FUsername;
    QString FPassword;
    QString FServer;
    int FConnectTimeout = 30;
};

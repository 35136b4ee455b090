#include "Platform/Db/OraDriver.h"

#include <libpq-fe.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <dlfcn.h>
#include <map>
#include <mutex>

// ---- the client library, loaded at run time

struct TPqApi {
    void* Handle = nullptr;
    QString File;
    decltype(&PQconnectdbParams) ConnectdbParams = nullptr;
    decltype(&PQstatus) Status = nullptr;
    decltype(&PQerrorMessage) ErrorMessage = nullptr;
    decltype(&PQfinish) Finish = nullptr;
    decltype(&PQexecParams) ExecParams = nullptr;
    decltype(&PQresultStatus) ResultStatus = nullptr;
    decltype(&PQresultErrorField) ResultErrorField = nullptr;
    decltype(&PQresultErrorMessage) ResultErrorMessage = nullptr;
    decltype(&PQntuples) Ntuples = nullptr;
    decltype(&PQnfields) Nfields = nullptr;
    decltype(&PQfname) Fname = nullptr;
    decltype(&PQftype) Ftype = nullptr;
    decltype(&PQgetvalue) Getvalue = nullptr;
    decltype(&PQgetisnull) Getisnull = nullptr;
    decltype(&PQclear) Clear = nullptr;
    decltype(&PQtransactionStatus) TransactionStatus = nullptr;

    ~TPqApi() {
        if (Handle != nullptr)
            dlclose(Handle);
    }
};

namespace {
std::mutex LibraryLock;
QString ClientHome;
std::shared_ptr<TPqApi> Library;

template <class F> void Bind(TPqApi& api, F& target, const char* name) {
    target = reinterpret_cast<F>(dlsym(api.Handle, name));
    if (target == nullptr)
        throw EOraError(12560,
                        QStringLiteral("ORA-12560: TNS:protocol adapter error (%1 is missing "
                                       "from %2)")
                            .arg(QLatin1String(name), api.File));
}

std::shared_ptr<TPqApi> AcquireLibrary() {
    std::lock_guard<std::mutex> guard(LibraryLock);
    if (Library)
        return Library;
    QStringList candidates;
    if (!ClientHome.isEmpty()) {
        const QDir home(ClientHome);
        candidates << home.filePath(QStringLiteral("libpq.so.5"))
                   << home.filePath(QStringLiteral("lib/libpq.so.5"))
                   << home.filePath(QStringLiteral("libpq.so"))
                   << home.filePath(QStringLiteral("lib/libpq.so"));
    }
    auto api = std::make_shared<TPqApi>();
    for (const QString& file : candidates) {
        if (!QFileInfo::exists(file))
            continue;
        api->Handle = dlopen(QFile::encodeName(file).constData(), RTLD_NOW | RTLD_LOCAL);
        if (api->Handle != nullptr) {
            api->File = file;
            break;
        }
    }
    if (api->Handle == nullptr) {
        api->Handle = dlopen("libpq.so.5", RTLD_NOW | RTLD_LOCAL);
        api->File = QStringLiteral("libpq.so.5");
    }
    if (api->Handle == nullptr)
        throw EOraError(12560, QStringLiteral("ORA-12560: TNS:protocol adapter error (the database "
                                              "client library cannot be loaded: %1)")
                                   .arg(QString::fromLocal8Bit(dlerror())));
    Bind(*api, api->ConnectdbParams, "PQconnectdbParams");
    Bind(*api, api->Status, "PQstatus");
    Bind(*api, api->ErrorMessage, "PQerrorMessage");
    Bind(*api, api->Finish, "PQfinish");
    Bind(*api, api->ExecParams, "PQexecParams");
    Bind(*api, api->ResultStatus, "PQresultStatus");
    Bind(*api, api->ResultErrorField, "PQresultErrorField");
    Bind(*api, api->ResultErrorMessage, "PQresultErrorMessage");
    Bind(*api, api->Ntuples, "PQntuples");
    Bind(*api, api->Nfields, "PQnfields");
    Bind(*api, api->Fname, "PQfname");
    Bind(*api, api->Ftype, "PQftype");
    Bind(*api, api->Getvalue, "PQgetvalue");
    Bind(*api, api->Getisnull, "PQgetisnull");
    Bind(*api, api->Clear, "PQclear");
    Bind(*api, api->TransactionStatus, "PQtransactionStatus");
    Library = api;
    return api;
}
} // namespace

void SetOraClientHome(const QString& folder) {
    std::lock_guard<std::mutex> guard(LibraryLock);
    ClientHome = folder;
}

QString OraClientHome() {
    std::lock_guard<std::mutex> guard(LibraryLock);
    return ClientHome;
}

void ReleaseOraClientLibrary() {
    std::lock_guard<std::mutex> guard(LibraryLock);
    if (Library && Library.use_count() == 1)
        Library.reset();
}

bool OraClientLibraryLoaded() {
    std::lock_guard<std::mutex> guard(LibraryLock);
    return static_cast<bool>(Library);
}

QString OraClientLibraryFile() {
    std::lock_guard<std::mutex> guard(LibraryLock);
    return Library ? Library->File : QString();
}

// ---- fields and result sets

QString TOraField::AsString() const {
    if (FValue.isNull())
        return QString();
    if (FValue.typeId() == QMetaType::Double)
        return QString::number(FValue.toDouble(), 'g', 15);
    return FValue.toString();
}

int TOraField::AsInteger() const {
    return static_cast<int>(AsLargeInt());
}

qint64 TOraField::AsLargeInt() const {
    if (FValue.isNull())
        return 0;
    bool ok = false;
    const qint64 value = FValue.typeId() == QMetaType::Double
                             ? static_cast<qint64>(FValue.toDouble(&ok))
                             : FValue.toString().trimmed().toLongLong(&ok);
    if (!ok) {
        const double d = FValue.toString().trimmed().toDouble(&ok);
        if (ok)
            return static_cast<qint64>(d);
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(AsString()));
    }
    return value;
}

double TOraField::AsFloat() const {
    if (FValue.isNull())
        return 0;
    bool ok = false;
    const double value = FValue.toString().trimmed().toDouble(&ok);
    if (!ok && FValue.typeId() != QMetaType::Double)
        throw EConvertError(
            QStringLiteral("'%1' is not a valid floating point value").arg(AsString()));
    return ok ? value : FValue.toDouble();
}

bool TOraField::AsBoolean() const {
    if (FValue.isNull())
        return false;
    if (FValue.typeId() == QMetaType::Bool)
        return FValue.toBool();
    const QString text = FValue.toString().trimmed();
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double number = text.toDouble(&ok);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid boolean value").arg(text));
    return number != 0;
}

QDateTime TOraField::AsDateTime() const {
    if (FValue.isNull())
        return QDateTime();
    return FValue.toDateTime();
}

TOraDataSet::TOraDataSet(std::vector<TOraField> fields, std::vector<std::vector<QVariant>> rows)
    : FFields(std::move(fields)), FRows(std::move(rows)) {
    Load();
}

TOraField& TOraDataSet::Fields(int index) {
    TV_ASSERT(index >= 0 && index < FieldCount());
    return FFields[static_cast<std::size_t>(index)];
}

TOraField* TOraDataSet::FindField(const QString& name) {
    for (TOraField& field : FFields) {
        if (field.FieldName().compare(name, Qt::CaseInsensitive) == 0)
            return &field;
    }
    return nullptr;
}

TOraField& TOraDataSet::FieldByName(const QString& name) {
    TOraField* field = FindField(name);
    if (field == nullptr)
        throw EOraError(904, QStringLiteral("ORA-00904: \"%1\": invalid identifier").arg(name));
    return *field;
}

void TOraDataSet::First() {
    FRow = 0;
    Load();
}

void TOraDataSet::Next() {
    if (FRow < FRows.size())
        ++FRow;
    Load();
}

void TOraDataSet::Load() {
    for (std::size_t i = 0; i < FFields.size(); ++i)
        FFields[i].SetValue(FRow < FRows.size() ? FRows[FRow][i] : QVariant());
}

// ---- errors

namespace {
const QString LostConnectionText =
    QStringLiteral("ORA-03113: end-of-file on communication channel");
const QString NotConnectedText = QStringLiteral("ORA-03114: not connected to ORACLE");

// Oracle codes of the database's error classes (SQLSTATE).
int CodeOfState(const QString& state) {
    static const std::pair<const char*, int> table[] = {
        {"42P01", 942},  {"42703", 904},  {"42601", 900},  {"42501", 1031},  {"23505", 1},
        {"23503", 2291}, {"23502", 1400}, {"22012", 1476}, {"22P02", 1722},  {"42883", 6550},
        {"25006", 1456}, {"40001", 8177}, {"57014", 1013}, {"22001", 12899},
    };
    for (const auto& [s, code] : table) {
        if (state == QLatin1String(s))
            return code;
    }
    return 600;
}

[[noreturn]] void RaiseResultError(const TPqApi& api, const PGresult* result) {
    const QString primary =
        QString::fromUtf8(api.ResultErrorField(result, PG_DIAG_MESSAGE_PRIMARY));
    const QString state = QString::fromUtf8(api.ResultErrorField(result, PG_DIAG_SQLSTATE));
    // Application errors carry their own code: "ORA-20101: text".
    static const QRegularExpression own(QStringLiteral("^ORA-(\\d{5}): "));
    const auto match = own.match(primary);
    if (match.hasMatch())
        throw EOraError(match.captured(1).toInt(), primary);
    const int code = CodeOfState(state);
    throw EOraError(code,
                    QStringLiteral("ORA-%1: %2").arg(code, 5, 10, QLatin1Char('0')).arg(primary));
}

[[noreturn]] void RaiseConnectError(const QString& text) {
    if (text.contains(QLatin1String("Connection refused")))
        throw EOraError(12541, QStringLiteral("ORA-12541: TNS:no listener"));
    if (text.contains(QLatin1String("password authentication failed")) ||
        text.contains(QLatin1String("no password supplied")) ||
        (text.contains(QLatin1String("role \"")) && text.contains(QLatin1String("does not exist"))))
        throw EOraError(1017, QStringLiteral("ORA-01017: invalid username/password; logon denied"));
    if (text.contains(QLatin1String("database \"")) &&
        text.contains(QLatin1String("does not exist")))
        throw EOraError(12514, QStringLiteral("ORA-12514: TNS:listener does not currently know of "
                                              "service requested in connect descriptor"));
    if (text.contains(QLatin1String("timeout")))
        throw EOraError(12170, QStringLiteral("ORA-12170: TNS:Connect timeout occurred"));
    if (text.contains(QLatin1String("could not translate host name")))
        throw EOraError(12545, QStringLiteral("ORA-12545: Connect failed because target host or "
                                              "object does not exist"));
    if (text.contains(QLatin1String("server closed the connection")))
        throw EOraError(12537, QStringLiteral("ORA-12537: TNS:connection closed"));
    throw EOraError(
        12560, QStringLiteral("ORA-12560: TNS:protocol adapter error (%1)").arg(text.trimmed()));
}

QString DescriptorValue(const QString& descriptor, const QString& key) {
    const QRegularExpression re(QStringLiteral("\\(\\s*%1\\s*=\\s*([^)]*)\\)").arg(key),
                                QRegularExpression::CaseInsensitiveOption);
    const auto match = re.match(descriptor);
    return match.hasMatch() ? match.captured(1).trimmed() : QString();
}

// Turns :NAME and ? parameters outside literals and quoted names into $n.
QString ToNumbered(const QString& sql, int* count) {
    QString out;
    int n = 0;
    QChar quote;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (!quote.isNull()) {
            out += c;
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
            out += c;
        } else if (c == QLatin1Char('?')) {
            out += QStringLiteral("$%1").arg(++n);
        } else if (c == QLatin1Char(':') && i + 1 < sql.size() &&
                   (sql[i + 1].isLetter() || sql[i + 1] == QLatin1Char('_')) &&
                   (i == 0 || sql[i - 1] != QLatin1Char(':'))) {
            qsizetype j = i + 1;
            while (j < sql.size() && (sql[j].isLetterOrNumber() || sql[j] == QLatin1Char('_')))
                ++j;
            out += QStringLiteral("$%1").arg(++n);
            i = j - 1;
        } else {
            out += c;
        }
    }
    if (count != nullptr)
        *count = n;
    return out;
}

QByteArray ParamText(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? "true" : "false";
    case QMetaType::Double:
    case QMetaType::Float:
        return QByteArray::number(value.toDouble(), 'g', 17);
    case QMetaType::QDateTime:
        return value.toDateTime().toString(Qt::ISODateWithMs).toUtf8();
    case QMetaType::QDate:
        return value.toDate().toString(Qt::ISODate).toUtf8();
    default:
        return value.toString().toUtf8();
    }
}

TOraFieldType FieldTypeOf(Oid type) {
    switch (type) {
    case 16:
        return TOraFieldType::ftBoolean;
    case 20:
        return TOraFieldType::ftLargeint;
    case 21:
    case 23:
        return TOraFieldType::ftInteger;
    case 700:
    case 701:
    case 1700:
        return TOraFieldType::ftFloat;
    case 1082:
        return TOraFieldType::ftDate;
    case 1114:
    case 1184:
        return TOraFieldType::ftDateTime;
    case 25:
        return TOraFieldType::ftMemo;
    case 18:
    case 19:
    case 1042:
    case 1043:
        return TOraFieldType::ftString;
    default:
        return TOraFieldType::ftUnknown;
    }
}

QVariant FieldValue(TOraFieldType type, const char* text) {
    const QString s = QString::fromUtf8(text);
    switch (type) {
    case TOraFieldType::ftBoolean:
        return QVariant(s == QLatin1String("t"));
    case TOraFieldType::ftInteger:
    case TOraFieldType::ftLargeint:
        return QVariant(s.toLongLong());
    case TOraFieldType::ftFloat:
        return QVariant(s.toDouble());
    case TOraFieldType::ftDate:
        return QVariant(QDate::fromString(s, Qt::ISODate));
    case TOraFieldType::ftDateTime: {
        QDateTime dt = QDateTime::fromString(s, Qt::ISODateWithMs);
        if (!dt.isValid())
            dt = QDateTime::fromString(s.left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        return QVariant(dt);
    }
    default:
        return QVariant(s);
    }
}

QString QuoteIdent(const QString& name) {
    QString out = name;
    out.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}
} // namespace

// ---- the session

struct TOraSession::TImpl {
    struct TProcTarget {
        QString Name;
        bool Procedure = false;
    };
    std::shared_ptr<TPqApi> Api;
    PGconn* Conn = nullptr;
    std::map<QString, TProcTarget> Procs;

    void Close() {
        if (Conn != nullptr)
            Api->Finish(Conn);
        Conn = nullptr;
        Api.reset();
        Procs.clear();
    }
};

TOraSession::TOraSession() : FImpl(std::make_unique<TImpl>()) {}

TOraSession::~TOraSession() {
    FImpl->Close();
}

void TOraSession::Connect() {
    Disconnect();
    const QString host = DescriptorValue(FServer, QStringLiteral("HOST"));
    const QString port = DescriptorValue(FServer, QStringLiteral("PORT"));
    QString service = DescriptorValue(FServer, QStringLiteral("SERVICE_NAME"));
    if (service.isEmpty())
        service = DescriptorValue(FServer, QStringLiteral("SID"));
    if (host.isEmpty() || service.isEmpty())
        throw EOraError(12154, QStringLiteral("ORA-12154: TNS:could not resolve the connect "
                                              "identifier specified"));
    FImpl->Api = AcquireLibrary();
    // Database, user and service names are not case-sensitive; the
    // database keeps them in lower case.
    const QByteArray hostText = host.toLower().toUtf8();
    const QByteArray portText = port.isEmpty() ? QByteArray("1521") : port.toUtf8();
    const QByteArray dbText = service.toLower().toUtf8();
    const QByteArray userText = FUsername.toLower().toUtf8();
    const QByteArray passwordText = FPassword.toUtf8();
    const QByteArray timeoutText = QByteArray::number(FConnectTimeout);
    const char* keys[] = {"host",
                          "port",
                          "dbname",
                          "user",
                          "password",
                          "connect_timeout",
                          "client_encoding",
                          "application_name",
                          nullptr};
    const char* values[] = {hostText.constData(),
                            portText.constData(),
                            dbText.constData(),
                            userText.constData(),
                            passwordText.constData(),
                            timeoutText.constData(),
                            "UTF8",
                            "Tarvolin",
                            nullptr};
    PGconn* conn = FImpl->Api->ConnectdbParams(keys, values, 0);
    if (conn == nullptr || FImpl->Api->Status(conn) != CONNECTION_OK) {
        const QString text =
            conn != nullptr ? QString::fromUtf8(FImpl->Api->ErrorMessage(conn)) : QString();
        if (conn != nullptr)
            FImpl->Api->Finish(conn);
        FImpl->Api.reset();
        RaiseConnectError(text);
    }
    FImpl->Conn = conn;
}

void TOraSession::Disconnect() {
    FImpl->Close();
}

bool TOraSession::Connected() const {
    return FImpl->Conn != nullptr && FImpl->Api->Status(FImpl->Conn) == CONNECTION_OK;
}

bool TOraSession::InTransaction() const {
    if (!Connected())
        return false;
    const auto status = FImpl->Api->TransactionStatus(FImpl->Conn);
    return status == PQTRANS_INTRANS || status == PQTRANS_INERROR || status == PQTRANS_ACTIVE;
}

namespace {
// One result of the connection, cleared on every path.
struct TResult {
    const TPqApi* Api;
    PGresult* Result;
    ~TResult() {
        if (Result != nullptr)
            Api->Clear(Result);
    }
};
} // namespace

static std::unique_ptr<TOraDataSet> RunStatement(TOraSession& session, const TPqApi& api,
                                                 PGconn* conn, const QString& sql,
                                                 const QVariantList& params,
                                                 const std::function<void()>& lost) {
    int count = 0;
    const QByteArray text = ToNumbered(sql, &count).toUtf8();
    TV_ASSERT(params.size() <= count);
    Q_UNUSED(session);
    std::vector<QByteArray> storage;
    std::vector<const char*> values;
    storage.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (i < params.size() && !params[i].isNull()) {
            storage.push_back(ParamText(params[i]));
            values.push_back(storage.back().constData());
        } else {
            values.push_back(nullptr);
        }
    }
    TResult result{&api,
                   api.ExecParams(conn, text.constData(), count, nullptr,
                                  values.empty() ? nullptr : values.data(), nullptr, nullptr, 0)};
    const auto status =
        result.Result != nullptr ? api.ResultStatus(result.Result) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_EMPTY_QUERY)
        return nullptr;
    if (status != PGRES_TUPLES_OK) {
        if (api.Status(conn) != CONNECTION_OK) {
            lost();
            throw EOraError(3113, LostConnectionText);
        }
        RaiseResultError(api, result.Result);
    }
    const int columns = api.Nfields(result.Result);
    const int rows = api.Ntuples(result.Result);
    std::vector<TOraField> fields;
    for (int c = 0; c < columns; ++c)
        fields.emplace_back(QString::fromUtf8(api.Fname(result.Result, c)).toUpper(),
                            FieldTypeOf(api.Ftype(result.Result, c)));
    std::vector<std::vector<QVariant>> data(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        auto& row = data[static_cast<std::size_t>(r)];
        row.reserve(static_cast<std::size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            if (api.Getisnull(result.Result, r, c))
                row.emplace_back();
            else
                row.push_back(FieldValue(fields[static_cast<std::size_t>(c)].DataType(),
                                         api.Getvalue(result.Result, r, c)));
        }
    }
    return std::make_unique<TOraDataSet>(std::move(fields), std::move(data));
}

std::unique_ptr<TOraDataSet> TOraSession::OpenQuery(const QString& sql,
                                                    const QVariantList& params) {
    if (FImpl->Conn == nullptr)
        throw EOraError(3114, NotConnectedText);
    auto lost = [this] {
        FImpl->Close();
        if (OnAfterDisconnect)
            OnAfterDisconnect();
    };
    auto api = FImpl->Api; // kept while the call runs, even when the connection is lost
    auto result = RunStatement(*this, *api, FImpl->Conn, sql, params, lost);
    if (!result)
        result = std::make_unique<TOraDataSet>(std::vector<TOraField>{},
                                               std::vector<std::vector<QVariant>>{});
    return result;
}

int TOraSession::ParamCount(const QString& sql) {
    int count = 0;
    ToNumbered(sql, &count);
    return count;
}

void TOraSession::ExecSQL(const QString& sql, const QVariantList& params) {
    // An anonymous block calls the procedures it names, one after the other.
    static const QRegularExpression block(QStringLiteral("^\\s*begin\\s+(.*)\\bend\\s*;?\\s*$"),
                                          QRegularExpression::CaseInsensitiveOption |
                                              QRegularExpression::DotMatchesEverythingOption);
    const auto match = block.match(sql);
    if (!match.hasMatch()) {
        OpenQuery(sql, params);
        return;
    }
    const QStringList statements = match.captured(1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString statement : statements) {
        statement = statement.trimmed();
        if (statement.isEmpty())
            continue;
        if (statement.compare(QLatin1String("dbms_transaction.read_only"), Qt::CaseInsensitive) ==
            0) {
            OpenQuery(QStringLiteral("SET TRANSACTION READ ONLY"));
            continue;
        }
        if (!statement.contains(QLatin1Char('(')))
            statement += QStringLiteral("()");
        OpenQuery(QStringLiteral("CALL ") + statement, params);
    }
}

void TOraSession::StartTransaction() {
    ExecSQL(QStringLiteral("BEGIN"));
}

void TOraSession::Commit() {
    ExecSQL(QStringLiteral("COMMIT"));
}

void TOraSession::Rollback() {
    ExecSQL(QStringLiteral("ROLLBACK"));
}

std::vector<TOraParam> TOraSession::DescribeProc(const QString& procName) {
    const QString name = procName.trimmed();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString schema = dot >= 0 ? name.left(dot) : QString();
    const QString object = dot >= 0 ? name.mid(dot + 1) : name;
    auto found = OpenQuery(
        QStringLiteral("SELECT p.oid::bigint, p.prokind::text, format_type(p.prorettype, NULL) "
                       "FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace "
                       "WHERE lower(p.proname) = lower(?::text) AND (lower(n.nspname) = lower(?::text) OR "
                       "(?::text = '' AND pg_function_is_visible(p.oid))) ORDER BY p.oid LIMIT 1"),
        {object, schema, schema});
    if (found->IsEmpty())
        throw EOraError(
            6550,
            QStringLiteral("ORA-06550: identifier '%1' must be declared").arg(procName.toUpper()));
    const qint64 oid = found->Fields(0).AsLargeInt();
    const QString kind = found->Fields(1).AsString();
    const QString returns = found->Fields(2).AsString();
    auto args =
        OpenQuery(QStringLiteral(
                      "SELECT coalesce(p.proargnames[a.ord], ''), "
                      "coalesce(p.proargmodes[a.ord]::text, 'i'), format_type(a.typ, NULL) "
                      "FROM pg_proc p, unnest(coalesce(p.proallargtypes, p.proargtypes::oid[])) "
                      "WITH ORDINALITY AS a(typ, ord) WHERE p.oid = ?::bigint::oid ORDER BY a.ord"),
                  {oid});
    std::vector<TOraParam> params;
    bool hasOut = false;
    for (; !args->Eof(); args->Next()) {
        TOraParam param;
        param.Name = args->Fields(0).AsString().toUpper();
        const QString mode = args->Fields(1).AsString();
        param.DataType = args->Fields(2).AsString();
        if (mode == QLatin1String("o") || mode == QLatin1String("t"))
            param.Direction = TParamDirection::pdOutput;
        else if (mode == QLatin1String("b"))
            param.Direction = TParamDirection::pdInputOutput;
        else
            param.Direction = TParamDirection::pdInput;
        hasOut = hasOut || param.Direction != TParamDirection::pdInput;
        params.push_back(param);
    }
    if (kind == QLatin1String("f") && !hasOut && returns != QLatin1String("void")) {
        TOraParam result;
        result.Name = QStringLiteral("RESULT");
        result.Direction = TParamDirection::pdResult;
        result.DataType = returns;
        params.push_back(result);
    }
    // The qualified name the call uses.
    auto qualified =
        OpenQuery(QStringLiteral("SELECT n.nspname::text, p.proname::text FROM pg_proc p "
                                 "JOIN pg_namespace n ON n.oid = p.pronamespace "
                                 "WHERE p.oid = ?::bigint::oid"),
                  {oid});
    TImpl::TProcTarget target;
    target.Name = QuoteIdent(qualified->Fields(0).AsString()) + QLatin1Char('.') +
                  QuoteIdent(qualified->Fields(1).AsString());
    target.Procedure = kind == QLatin1String("p");
    FImpl->Procs[name.toUpper()] = target;
    return params;
}

void TOraSession::ExecProc(const QString& procName, std::vector<TOraParam>& params) {
    auto found = FImpl->Procs.find(procName.trimmed().toUpper());
    if (found == FImpl->Procs.end()) {
        DescribeProc(procName);
        found = FImpl->Procs.find(procName.trimmed().toUpper());
    }
    const QString target = found->second.Name;
    const bool procedure = found->second.Procedure;
    QStringList args;
    QVariantList values;
    for (std::size_t i = 0; i < params.size(); ++i) {
        const TOraParam& p = params[i];
        if (p.Direction == TParamDirection::pdResult)
            continue;
        if (p.Direction == TParamDirection::pdOutput) {
            if (procedure)
                args << QStringLiteral("NULL::%1").arg(p.DataType);
            continue;
        }
        args << QStringLiteral("?::%1").arg(p.DataType);
        values << p.Value;
    }
    const QString sql =
        procedure
            ? QStringLiteral("CALL %1(%2)").arg(target, args.join(QLatin1String(", ")))
            : QStringLiteral("SELECT * FROM %1(%2)").arg(target, args.join(QLatin1String(", ")));
    auto result = OpenQuery(sql, values);
    if (result->IsEmpty())
        return;
    int column = 0;
    for (std::size_t i = 0; i < params.size() && column < result->FieldCount(); ++i) {
        TOraParam& p = params[i];
        if (p.Direction == TParamDirection::pdInput)
            continue;
        p.Value = result->Fields(column++).Value();
    }
}

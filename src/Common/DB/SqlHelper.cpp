#include "Common/DB/SqlHelper.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cmath>
#include <cstdlib>

TSqlHelper::ENoConnection::ENoConnection()
    : ECustom(QStringLiteral("Nincsen adatbázis kapcsolat megadva."),
              QStringLiteral("Nincsen adatbázis kapcsolat megadva, ezért nem lehet SQL parancsokat "
                             "kiadni.")) {}

TSqlHelper::ENotConnected::ENotConnected()
    : ECustom(QStringLiteral("Nincsen az adatbázishoz kapcsolódva."),
              QStringLiteral("Nincsen az adatbázishoz kapcsolódva, ezért nem lehet SQL parancsot "
                             "kiadni.")) {}

QString& TSqlHelper::CurrentSchema() {
    static QString schema;
    return schema;
}

QStringList& TSqlHelper::ViewBaseNames() {
    static QStringList names;
    return names;
}

QStringList& TSqlHelper::ViewFullNames() {
    static QStringList names;
    return names;
}

void TSqlHelper::CheckConnection() const {
    if (FOraSession == nullptr)
        throw ENoConnection();
    if (!FOraSession->Connected())
        throw ENotConnected();
}

namespace {
// Upper case of the letters a to z only.
QString AsciiUpper(const QString& text) {
    QString out = text;
    for (QChar& c : out) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    }
    return out;
}

// Upper case of every letter, one character for one (so "ß" stays "ß").
QString FullUpper(const QString& text) {
    QString out = text;
    for (QChar& c : out)
        c = c.toUpper();
    return out;
}
} // namespace

QString TSqlHelper::LoadResSql(const QString& sql) {
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_]+$"));
    if (!name.match(sql).hasMatch())
        return sql;
    QFile resource(QStringLiteral(":/sql/") + sql);
    if (!resource.exists() || !resource.open(QIODevice::ReadOnly))
        return sql;
    return AsciiUpper(QString::fromLatin1(resource.readAll()));
}

QString TSqlHelper::PrepareSQL(const QString& sql) {
    const QString loaded = LoadResSql(sql);
    // 1. Upper case outside the string literals.
    const QStringList pieces = loaded.split(QLatin1Char('\''));
    QString text;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            text += QLatin1Char('\'');
        text += i % 2 == 0 ? FullUpper(pieces[i]) : pieces[i];
    }
    // 2. Placeholders: ßXX.name# becomes the schema and the chosen view.
    QString out;
    for (;;) {
        const qsizetype open = text.indexOf(QChar(0x00DF));
        if (open < 0)
            break;
        const qsizetype close = text.indexOf(QLatin1Char('#'), open + 1);
        if (close < 0)
            break;
        out += text.left(open) + CurrentSchema() + QLatin1Char('.');
        QString name = text.mid(open + 1, close - open - 1);
        text = text.mid(close + 1);
        const qsizetype dot = name.indexOf(QLatin1Char('.'));
        if (dot >= 0)
            name = name.mid(dot + 1);
        name = name.trimmed();
        qsizetype index = -1;
        for (qsizetype i = 0; i < ViewBaseNames().size(); ++i) {
            if (ViewBaseNames()[i].compare(name, Qt::CaseInsensitive) == 0) {
                index = i;
                break;
            }
        }
        out += index >= 0 && index < ViewFullNames().size() ? ViewFullNames()[index] : name;
    }
    out += text;
    // 3. Blanks: trimmed, line breaks and tabs made blanks, runs collapsed.
    out = out.trimmed();
    for (QChar& c : out) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            c = QLatin1Char(' ');
    }
    while (out.contains(QLatin1String("  ")))
        out.replace(QLatin1String("  "), QLatin1String(" "));
    return out;
}

std::unique_ptr<TOraDataSet> TSqlHelper::QueryData(const QString& sql, const QVariantList& params) {
    CheckConnection();
    const QString prepared = PrepareSQL(sql);
    TV_ASSERT(TOraSession::ParamCount(prepared) >= params.size());
    return FOraSession->OpenQuery(prepared, params);
}

template <class T, class Reader>
T TSqlHelper::QuerySingle(const QString& sql, const QVariantList& params, Reader reader) {
    auto data = QueryData(sql, params);
    TV_ASSERT(data->FieldCount() > 0);
    if (data->IsEmpty())
        RaiseSqlError(QStringLiteral("A lekérdezésnek nincsen eredménye."),
                      QStringLiteral("A lekérdezésnek egyetlen sor eredménye sem volt."));
    return reader(data->Fields(0));
}

int TSqlHelper::QueryInt(const QString& sql, const QVariantList& params) {
    return QuerySingle<int>(sql, params, [](const TOraField& f) { return f.AsInteger(); });
}

long double TSqlHelper::QueryExt(const QString& sql) {
    return QuerySingle<long double>(
        sql, {}, [](const TOraField& f) { return static_cast<long double>(f.AsFloat()); });
}

double TSqlHelper::QueryNum(const QString& sql) {
    return QuerySingle<double>(sql, {}, [](const TOraField& f) { return f.AsFloat(); });
}

QString TSqlHelper::QueryStr(const QString& sql) {
    return QuerySingle<QString>(sql, {}, [](const TOraField& f) { return f.AsString(); });
}

bool TSqlHelper::QueryBool(const QString& sql) {
    return QuerySingle<bool>(sql, {}, [](const TOraField& f) {
        switch (f.DataType()) {
        case TOraFieldType::ftString:
        case TOraFieldType::ftMemo:
            return f.AsBoolean(); // "True", "False" or a number
        case TOraFieldType::ftInteger:
        case TOraFieldType::ftLargeint:
            return f.AsLargeInt() == 1;
        case TOraFieldType::ftFloat:
            return std::llround(f.AsFloat()) == 1;
        default:
            return f.AsBoolean();
        }
    });
}

QStringList TSqlHelper::QueryStrings(const QString& sql, const QVariantList& params) {
    auto data = QueryData(sql, params);
    TV_ASSERT(data->FieldCount() > 0);
    QStringList list;
    for (; !data->Eof(); data->Next())
        list << data->Fields(0).AsString();
    return list;
}

QVariant TSqlHelper::ExecFunc(const QString& procName, const QVariantList& params) {
    CheckConnection();
    std::vector<TOraParam> described = FOraSession->DescribeProc(procName);
    TV_ASSERT(described.size() >= static_cast<std::size_t>(params.size()));
    for (qsizetype i = 0; i < params.size(); ++i)
        described[static_cast<std::size_t>(i)].Value = params[i];
    FOraSession->ExecProc(procName, described);
    for (const TOraParam& p : described) {
        if (p.Direction == TParamDirection::pdOutput || p.Direction == TParamDirection::pdResult)
            return p.Value;
    }
    return QVariant();
}

void TSqlHelper::ExecProc(const QString& procName, const QVariantList& params) {
    ExecFunc(procName, params);
}

void TSqlHelper::StartTransaction() {
    CheckConnection();
    if (FOraSession->InTransaction())
        RaiseSqlError(QStringLiteral("Van megkezdett tranzakció."),
                      QStringLiteral("Van már egy megkezdett adatbázis tranzakció, új indítása "
                                     "előtt le kell zárni a jelenlegit."));
    FOraSession->StartTransaction();
}

void TSqlHelper::StartReadOnlyTransaction() {
    StartTransaction();
    FOraSession->ExecSQL(QStringLiteral("begin dbms_transaction.read_only; end;"));
}

namespace {
[[noreturn]] void RaiseNoTransaction() {
    TSqlHelper::RaiseSqlError(QStringLiteral("Nincsen megkezdett tranzakció."),
                              QStringLiteral("Nincsen megkezdett adatbázis tranzakció indítva amit "
                                             "le lehetne zárni."));
}
} // namespace

void TSqlHelper::Commit() {
    CheckConnection();
    if (!FOraSession->InTransaction())
        RaiseNoTransaction();
    FOraSession->Commit();
}

void TSqlHelper::Rollback() {
    CheckConnection();
    if (!FOraSession->InTransaction())
        RaiseNoTransaction();
    FOraSession->Rollback();
}

void TSqlHelper::RaiseSqlError(const QString& caption, const QString& message) {
    throw ESql(caption, message);
}

QString TSqlHelper::GetOraConnStr(const QString& host, const QString& port, const QString& service,
                                  const QString& sid) {
    QString text = QStringLiteral("(DESCRIPTION=(ADDRESS=(PROTOCOL=TCP)(HOST=%1)(PORT=%2))"
                                  "(CONNECT_DATA=")
                       .arg(host, port);
    if (!service.isEmpty())
        text += QStringLiteral("(SERVICE_NAME=%1)").arg(service);
    if (!sid.isEmpty())
        text += QStringLiteral("(SID=%1)").arg(sid);
    text += QStringLiteral("))");
    return AsciiUpper(text);
}

void TSqlHelper::SetupOracleEnvironments() {
    if (::setenv("NLS_LANG", "HUNGARIAN_HUNGARY.EE8MSWIN1250", 1) != 0)
        RaiseLastOSError();
    if (qEnvironmentVariableIsSet("ORACLE_HOME") && ::unsetenv("ORACLE_HOME") != 0)
        RaiseLastOSError();
}

void TSqlHelper::SetupOraclePath(const QString& path) {
    const QChar separator = QDir::listSeparator();
    const QStringList entries = qEnvironmentVariable("PATH").split(separator, Qt::SkipEmptyParts);
    QStringList kept;
    for (const QString& entry : entries) {
        if (!entry.contains(QLatin1String("oracle"), Qt::CaseInsensitive))
            kept << entry;
    }
    if (!kept.contains(path, Qt::CaseInsensitive))
        kept.prepend(path);
    if (::setenv("PATH", QFile::encodeName(kept.join(separator)).constData(), 1) != 0)
        RaiseLastOSError();
}

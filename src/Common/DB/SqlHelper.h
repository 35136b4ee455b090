#pragma once

// The one way the program talks SQL to the database of the current
// environment: checks the session, prepares the SQL texts (upper case outside
// literals, schema and view names put in place of the placeholders, blanks
// collapsed), runs queries and stored procedures with positional values,
// guards transactions, builds the connect descriptor and prepares the process
// environment for the database client.

#include "Common/Error/CustomException.h"
#include "Platform/Db/OraDriver.h"

#include <QStringList>
#include <QVariant>

#include <memory>

class TSqlHelper {
public:
    class ESql : public ECustom {
    public:
        using ECustom::ECustom;
        TV_EXCEPTION_RAISE(ESql)
    };
    class ENoConnection : public ECustom {
    public:
        ENoConnection();
        TV_EXCEPTION_RAISE(ENoConnection)
    };
    class ENotConnected : public ECustom {
    public:
        ENotConnected();
        TV_EXCEPTION_RAISE(ENotConnected)
    };

    explicit TSqlHelper(TOraSession* session = nullptr) : FOraSession(session) {}

    // The session worked on; its owner clears it before destroying the session.
    TOraSession* OraSession() const { return FOraSession; }
    void SetOraSession(TOraSession* session) { FOraSession = session; }

    // No session: ENoConnection; a closed one: ENotConnected.
    void CheckConnection() const;

    // An SQL text resource (":/sql/NAME") in upper case, or the text itself.
    static QString LoadResSql(const QString& sql);
    static QString PrepareSQL(const QString& sql);

    // The opened result set; the caller owns it.
    std::unique_ptr<TOraDataSet> QueryData(const QString& sql, const QVariantList& params = {});
    int QueryInt(const QString& sql, const QVariantList& params = {});
    long double QueryExt(const QString& sql);
    double QueryNum(const QString& sql);
    QString QueryStr(const QString& sql);
    bool QueryBool(const QString& sql);
    // The first column of every row, in row order.
    QStringList QueryStrings(const QString& sql, const QVariantList& params = {});

    // Calls a stored procedure or function; answers the first output or
    // function-result value (invalid when there is none).
    QVariant ExecFunc(const QString& procName, const QVariantList& params = {});
    void ExecProc(const QString& procName, const QVariantList& params = {});

    void StartTransaction();
    void StartReadOnlyTransaction();
    void Commit();
    void Rollback();

    [[noreturn]] static void RaiseSqlError(const QString& caption, const QString& message);
    template <class... Args>
    [[noreturn]] static void RaiseSqlErrorFmt(const QString& caption, const QString& format,
                                              const Args&... args) {
        RaiseSqlError(caption, FixArticle(Format(format, {QVariant(args)...})));
    }

    // The Oracle connect descriptor.
    static QString GetOraConnStr(const QString& host, const QString& port, const QString& service,
                                 const QString& sid);
    // NLS_LANG for the client; ORACLE_HOME removed.
    static void SetupOracleEnvironments();
    // Makes the given folder the only database client folder in PATH.
    static void SetupOraclePath(const QString& path);

    // Program-wide: the schema that owns the application's objects (upper
    // case) and the views chosen for the logical view names.
    static QString& CurrentSchema();
    static QStringList& ViewBaseNames();
    static QStringList& ViewFullNames();

private:
    // Runs a single-value query and hands its first field to the reader.
    template <class T, class Reader>
    T QuerySingle(const QString& sql, const QVariantList& params, Reader reader);

    TOraSession* FOraSession = nullptr;
};

#include "Client/Common/Database/OraClientModule.h"

#include "Common/Error/CustomException.h"

#include <QDir>
#include <QFile>

TOraClientModule::TOraClientModule(QObject* owner)
    : TClientModule(owner), FOraClient(std::make_unique<TOraSession>()),
      FSqlHelper(std::make_unique<TSqlHelper>(FOraClient.get())) {}

TOraClientModule::~TOraClientModule() {
    Destroying();
    FSqlHelper->SetOraSession(nullptr);
}

bool TOraClientModule::Connected() const {
    return FOraClient->Connected();
}

void TOraClientModule::SetupOracleEnvironments(const QString& installPath) {
    SetOraClientHome(installPath);
    TSqlHelper::SetupOracleEnvironments();
    TSqlHelper::SetupOraclePath(installPath);
}

void TOraClientModule::ReleaseOracleClient() {
    ReleaseOraClientLibrary();
    const QString home = OraClientHome();
    if (home.isEmpty() || OraClientLibraryLoaded())
        return;
    const QChar separator = QDir::listSeparator();
    QStringList entries = qEnvironmentVariable("PATH").split(separator, Qt::SkipEmptyParts);
    entries.removeIf(
        [&](const QString& entry) { return entry.compare(home, Qt::CaseInsensitive) == 0; });
    qputenv("PATH", QFile::encodeName(entries.join(separator)));
}

void TOraClientModule::DoConnect(const QString& user, const QString& password,
                                 const TEnvironment& env) {
    QString address = env.UseSSHTunnels() ? QStringLiteral("localhost") : env.DBAddress();
    uint16_t port = env.DBPort();
    if (OnGetOracleAddress)
        OnGetOracleAddress(address, port);
    FOraClient->SetUsername(user);
    FOraClient->SetPassword(password);
    FOraClient->SetServer(
        TSqlHelper::GetOraConnStr(address, QString::number(port), env.DBService(), env.SID()));
    FOraClient->Connect();
}

void TOraClientModule::DoDisconnect() {
    try {
        FOraClient->Disconnect();
    } catch (const EOraError&) {
    } catch (...) {
        ShowCurrentException(QStringLiteral("Hiba történt"));
    }
}

TOraConnectTask::TOraConnectTask(TOraClientModule* module, const QString& userName,
                                 const QString& password, const TEnvironment* env)
    : TModuleConnectTask(module, QStringLiteral("Csatlakozás az adatbázishoz."), userName, password,
                         env) {}

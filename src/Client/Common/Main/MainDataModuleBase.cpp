#include "Client/Common/Main/MainDataModuleBase.h"

#include "Client/Common/DataSnap/DataSnapClientModule.h"
#include "Client/Common/Database/OraClientModule.h"
#include "Client/Common/Packages/PackagesClientService.h"
#include "Client/Common/SSH/SSHClientModule.h"
#include "Common/Config/Config.h"
#include "Common/DB/SqlHelper.h"
#include "Common/Environments/Environments.h"
#include "Common/Error/CustomException.h"
#include "Common/Packages/PackageDeployer.h"
#include "Common/Repository/ObjXmlPersist.h"
#include "Common/Rights/Rights.h"
#include "Common/Session/DefaultPrompt.h"
#include "Common/Session/Sessions.h"
#include "Common/Util/MessageDialogs.h"
#include "Common/Util/SysUtilsEx.h"
#include "Platform/Db/OraError.h"
#include "Platform/Runtime/MainThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>

namespace {

ILoginPrompt* GLoginPrompt = nullptr;
TMainDataModuleBase::TConnectTasksFactory GConnectTasksFactory;
// The live module that receives the application's unhandled exceptions.
QPointer<TMainDataModuleBase> GInstance;

QString Tr(const char* text) {
    return QCoreApplication::translate("TMainDataModuleBase", text);
}

// Any kind of socket failure of the three connections.
bool IsSocketError(const std::exception& error) {
    return dynamic_cast<const ESshSocketError*>(&error) != nullptr ||
           dynamic_cast<const EDSSocketError*>(&error) != nullptr;
}

bool IsOracleNetworkFailure(const std::exception& error) {
    const auto* ora = dynamic_cast<const EOraError*>(&error);
    return ora != nullptr && IsOracleNetworkError(ora->Message());
}

} // namespace

TMainDataModuleBase::TMainDataModuleBase(QObject* owner)
    : QObject(owner), FRights(std::make_unique<TRights>()) {
    setObjectName(QStringLiteral("MainModule"));
    auto action = [this](const char* name, const char* caption, int image = -1) {
        auto* a = new QAction(Tr(caption), this);
        a->setObjectName(QLatin1String(name));
        a->setProperty("ImageIndex", image);
        return a;
    };
    ActionHelp = action("ActionHelp", "Súgó", 10);
    ActionConnect = action("ActionConnect", "Bejelentkezés", 15);
    ActionDisconnect = action("ActionDisconnect", "Kijelentkezés", 16);
    ActionDisconnect->setEnabled(false);
    ActionResetEnvironments =
        action("ActionResetEnvironments", "Környezetei információk alaphelyzetbe állítása");
    ActionResetSessions = action("ActionResetSessions", "Tárolt nevek törlése");
    ActionResetPackages = action("ActionResetPackages", "Minden letöltött modul újratelepítése");
    ActionResetSelf = action("ActionResetSelf", "Saját beállítások törlése");
    // Help needs the shared help window, which this program does not have yet.
    ActionHelp->setEnabled(false);
    connect(ActionConnect, &QAction::triggered, this, [this] { ConnectWithRetryExecute(); });
    connect(ActionDisconnect, &QAction::triggered, this, [this] { Disconnect(); });
    connect(ActionResetEnvironments, &QAction::triggered, this,
            [this] { ResetEnvironmentsExecute(); });
    connect(ActionResetSessions, &QAction::triggered, this, [this] { ResetSessionsExecute(); });
    connect(ActionResetPackages, &QAction::triggered, this, [this] { ResetPackagesExecute(); });
    connect(ActionResetSelf, &QAction::triggered, this, [this] { ResetSelfExecute(); });

    Environments = TItem::Create<TEnvironments>(this);
    Environments->setObjectName(QStringLiteral("Environments"));
    Sessions = TItem::Create<TSessions>(this);
    Sessions->setObjectName(QStringLiteral("Sessions"));
    Sessions->SetPrompt(DefaultPasswordPrompt());
    PackageManager = TItem::Create<TClientPackageManager>(this);
    PackageManager->setObjectName(QStringLiteral("PackageManager"));

    FDataSnapClientModule = new TDataSnapClientModule(this);
    FSSHClientModule = new TSSHClientModule(this);
    FOraClientModule = new TOraClientModule(this);
    SetPackagesClient(*PackageManager, FDataSnapClientModule->PackagesClient());

    FSSHClientModule->SSHClient().OnAfterDisconnect = [this] {
        PassiveDisconnect(FSSHClientModule);
    };
    FDataSnapClientModule->SrvConn().OnAfterDisconnect = [this] {
        PassiveDisconnect(FDataSnapClientModule);
    };
    FOraClientModule->OraClient().OnAfterDisconnect = [this] {
        PassiveDisconnect(FOraClientModule);
    };
    // Through the tunnels the connections go to the local ends.
    FDataSnapClientModule->OnGetDataSnapAddress = [this](QString&, uint16_t& port) {
        if (FSSHClientModule->UseSSHTunnels())
            port = FSSHClientModule->DataSnapTunnelPort();
    };
    FOraClientModule->OnGetOracleAddress = [this](QString&, uint16_t& port) {
        if (FSSHClientModule->UseSSHTunnels())
            port = FSSHClientModule->OracleTunnelPort();
    };
    // What the connections cannot close cleanly goes to this module's handler,
    // so that a failure while a disconnect runs is not shown again.
    TClientModule::SetCentralExceptionHandler([] { HandleCurrentException(); });
    GInstance = this;
}

TMainDataModuleBase::~TMainDataModuleBase() {
    try {
        Disconnect();
    } catch (...) {
        // Disconnect shows its own failures; nothing may escape a destructor.
    }
    FSSHClientModule->SSHClient().OnAfterDisconnect = nullptr;
    FDataSnapClientModule->SrvConn().OnAfterDisconnect = nullptr;
    FOraClientModule->OraClient().OnAfterDisconnect = nullptr;
    if (GInstance == this)
        GInstance = nullptr;
}

void TMainDataModuleBase::Loaded() {
    Load();
}

ILoginPrompt* TMainDataModuleBase::SetLoginPrompt(ILoginPrompt* prompt) {
    ILoginPrompt* previous = GLoginPrompt;
    GLoginPrompt = prompt;
    return previous;
}

void TMainDataModuleBase::SetConnectTasksFactory(TConnectTasksFactory factory) {
    GConnectTasksFactory = std::move(factory);
}

const TPersistClass& TMainDataModuleBase::StaticClass() {
    static const TPersistClass& cls =
        TClassBuilder<TMainDataModuleBase>(QStringLiteral("TMainDataModuleBase"), nullptr)
            .Register();
    return cls;
}

bool TMainDataModuleBase::Connected() const {
    return FSSHClientModule->Connected() && FDataSnapClientModule->Connected() &&
           FOraClientModule->Connected();
}

void TMainDataModuleBase::UpdateActions() {
    const bool connected = Connected();
    ActionConnect->setEnabled(!connected);
    ActionDisconnect->setEnabled(connected);
}

// ---- login

bool TMainDataModuleBase::ConnectWithRetry(bool forceReLoading) {
    int attempts = 0;
    for (;;) {
        try {
            return Connect(forceReLoading);
        } catch (const EAuthFailed&) {
            ++attempts;
            if (attempts >= LoginAttempts)
                throw EAuthFailed(
                    Tr("A bejelentkezés sikertelen."),
                    Tr("A bejelentkezés háromszor sikertelen volt, az alkalmazás most kilép. "
                       "Amennyiben elfelejtette a jelszavát, lépjen kapcsolatba az "
                       "üzemeltetéssel, akik új jelszót tudnak adni Önnek."));
            ShowErrorMessage(Tr("A bejelentkezés sikertelen."), Tr("A bejelentkezés sikertelen."),
                             Tr("A bejelentkezés sikertelen, mert a felhasználó név vagy jelszó "
                                "hibás. Még %1 próbálkozása maradt, utána a program kilép.")
                                 .arg(LoginAttempts - attempts));
        }
    }
}

void TMainDataModuleBase::ConnectWithRetryExecute() {
    try {
        ConnectWithRetry(false);
    } catch (...) {
        HandleCurrentException();
    }
}

bool TMainDataModuleBase::GetLoginData(QString& userName, QString& password, bool,
                                       QString& envName) {
    if (TSession* current = Sessions->Current()) {
        envName = current->EnvName();
        userName = current->UserName();
        password = Sessions->StorePasswords() ? current->Password() : QString();
    }
    if (GLoginPrompt == nullptr)
        return false;
    return GLoginPrompt->Login(userName, password, Sessions->Sessions(),
                               Environments->Environments(), envName);
}

bool TMainDataModuleBase::Connect(bool forceReLoading) {
    QString userName;
    QString password;
    QString envName;
    if (!GetLoginData(userName, password, forceReLoading, envName))
        return false;
    TV_ASSERT(!envName.isEmpty() && !userName.isEmpty() && !password.isEmpty());
    try {
        Disconnect();
        Sessions->ActivateSession(envName, userName, password);
        Sessions->Save();
        const QString caption = Tr("Kapcsolatok kiépítése.");
        FStartupTasks = GConnectTasksFactory ? GConnectTasksFactory(caption)
                                             : std::make_unique<TQuietConnectTasks>();
        struct TTasksRelease {
            TMainDataModuleBase* Module;
            ~TTasksRelease() {
                Module->PackageManager->OnProgress = nullptr;
                Module->FStartupTasks.reset();
            }
        } release{this};
        AddConnectTasks(*FStartupTasks);
        PackageManager->OnProgress = [this](const QString& message, int min, int max,
                                            int position) {
            if (FStartupTasks == nullptr)
                return;
            if (auto* task = dynamic_cast<TStartupTask*>(FStartupTasks->Current()))
                task->DoProgress(message, min, max, position);
        };
        FStartupTasks->Execute();
    } catch (...) {
        Disconnect();
        throw;
    }
    UpdateActions();
    return Connected();
}

TEnvironment* TMainDataModuleBase::SessionEnvironment() const {
    TSession* session = Sessions->Current();
    TV_ASSERT(session != nullptr);
    TEnvironment* env = Environments->FindEnvironment(session->EnvName());
    if (env == nullptr)
        throw ECustom(Tr("A környezet nem található."),
                      Tr("A(z) \"%1\" környezet nem található.").arg(session->EnvName()));
    return env;
}

ISubProgress* TMainDataModuleBase::SubProgressOf(TTasks& tasks) {
    if (auto* owner = dynamic_cast<ISubProgress*>(&tasks))
        return owner;
    static TQuietConnectTasks quiet;
    return &quiet;
}

void TMainDataModuleBase::AddConnectTasks(TTasks& tasks) {
    TSession* session = Sessions->Current();
    TV_ASSERT(session != nullptr);
    TEnvironment* env = SessionEnvironment();
    PackageManager->Load();
    const QString user = session->UserName();
    const QString password = session->Password();
    ISubProgress* owner = SubProgressOf(tasks);
    tasks.AddNew<TSSHConnectTask>(FSSHClientModule, user, password, env);
    tasks.AddNew<TDataSnapConnectTask>(FDataSnapClientModule, user, password, env);
    AddUpdateTasks(tasks);
    tasks.AddNew<TOraConnectTask>(FOraClientModule, user, password, env);
    tasks.AddNew<TStartupTask>(owner, Tr("Kliens inicializálása."), [this] { InitializeClient(); });
    tasks.AddNew<TStartupTask>(owner, Tr("Felhasználó által látható táblák betöltése."),
                               [this] { LoadVisibleViews(); });
    tasks.AddNew<TStartupTask>(owner, Tr("Felhasználói jogosultságok betöltése."),
                               [this] { LoadRights(); });
}

void TMainDataModuleBase::AddUpdateTasks(TTasks& tasks) {
    ISubProgress* owner = SubProgressOf(tasks);
    tasks.AddNew<TStartupTask>(owner, Tr("A program frissítése."), [this] { UpdateSelf(); });
    tasks.AddNew<TStartupTask>(owner, Tr("A tömörített fájlok kezelését végző csomago frissítése."),
                               [this] { UpdateCompressionPackage(); });
    tasks.AddNew<TStartupTask>(owner, Tr("Az adatbáziskezelő kliens frissítése."),
                               [this] { UpdateOracleClient(); });
}

void TMainDataModuleBase::UpdateCompressionPackage() {
    const QString name = QStringLiteral("7Zip");
    PackageManager->UpdateClientPackage(name);
    // The compression program is looked for there first.
    PrependToPath(PackageManager->GetPackageFolder(name));
}

void TMainDataModuleBase::UpdateOracleClient() {
    const QString name = QStringLiteral("Oracle");
    PackageManager->UpdateClientPackage(name);
    QString home = Config().GetValue(TConfig::ctOraclePath);
    if (home.isEmpty())
        home = PackageManager->GetPackageFolder(name);
    FOraClientModule->SetupOracleEnvironments(home);
}

void TMainDataModuleBase::InitializeClient() {
    TSession* session = Sessions->Current();
    TV_ASSERT(session != nullptr);
    TEnvironment* env = SessionEnvironment();
    TSessionInfoClient* info = FDataSnapClientModule->SessionInfoClient();
    info->InitializeClient2(FSSHClientModule->SessionId());
    info->SetApplication(QCoreApplication::applicationName(), GetExecutableVersion());
    info->SetDocumentPath(session->UserName(), session->Password(), env->DBSchema());
    TSqlHelper::CurrentSchema() = env->DBSchema().toUpper();
}

void TMainDataModuleBase::LoadVisibleViews() {
    const QString s = TSqlHelper::CurrentSchema();
    const QString sql =
        QStringLiteral("select view_name  from all_views av where owner = '") + s +
        QStringLiteral("'") + QStringLiteral("   and (view_name like '%#_S#__' escape '#')") +
        QStringLiteral("   and exists (select 1") + QStringLiteral("          from dba_tab_privs") +
        QStringLiteral("         where owner = '") + s + QStringLiteral("'") +
        QStringLiteral("           and table_name = av.view_name") +
        QStringLiteral("           and privilege = 'SELECT'") +
        QStringLiteral("           and grantee in (select granted_role from dba_role_privs "
                       "where grantee = user))") +
        QStringLiteral("union ") + QStringLiteral("select view_name") +
        QStringLiteral("  from all_views av") + QStringLiteral(" where owner = '") + s +
        QStringLiteral("'") + QStringLiteral("   and (view_name like '%#_U#__' escape '#')") +
        QStringLiteral("   and exists (select 1") + QStringLiteral("          from dba_tab_privs") +
        QStringLiteral("         where owner = '") + s + QStringLiteral("'") +
        QStringLiteral("           and table_name = av.view_name") +
        QStringLiteral("           and privilege in ('UPDATE', 'INSERT', 'DELETE')") +
        QStringLiteral("           and grantee in (select granted_role from dba_role_privs "
                       "where grantee = user))") +
        QStringLiteral(" order by 1");
    std::unique_ptr<TOraDataSet> data = FOraClientModule->SqlHelper().QueryData(sql);
    QStringList& baseNames = TSqlHelper::ViewBaseNames();
    QStringList& fullNames = TSqlHelper::ViewFullNames();
    baseNames.clear();
    fullNames.clear();
    QString previous = QStringLiteral("x");
    for (; !data->Eof(); data->Next()) {
        const QString name = data->FieldByName(QStringLiteral("VIEW_NAME")).AsString();
        if (name.size() <= 2)
            continue;
        const QString base = name.left(name.size() - 2);
        if (base != previous) {
            baseNames.append(base);
            fullNames.append(name);
            previous = base;
        }
    }
}

void TMainDataModuleBase::LoadRights() {
    FRights->Clear();
    const QString rights = FOraClientModule->SqlHelper().QueryStr(
        QStringLiteral("select rights from ßXX.user_details_s# where username = user"));
    FRights->AssignFromString(rights);
}

// ---- disconnect

void TMainDataModuleBase::Disconnect() {
    TBooleanLockGuard guard(FDisconnecting);
    if (!guard.Acquired())
        return;
    struct TReset {
        TMainDataModuleBase* Module;
        ~TReset() {
            Module->FPassiveDisconnected = false;
            Module->FDisconnectError = nullptr;
        }
    } reset{this};
    ShowDisconnectReason();
    FOraClientModule->Disconnect();
    FDataSnapClientModule->Disconnect();
    FSSHClientModule->Disconnect();
    // The compression program runs as its own process: nothing stays loaded.
    TOraClientModule::ReleaseOracleClient();
    UpdateActions();
    AfterDisconnect();
}

void TMainDataModuleBase::ShowDisconnectReason() {
    if (!FDisconnectError) {
        if (FPassiveDisconnected)
            ShowErrorMessage(
                Tr("Megszakadt a kapcsolat."), Tr("Megszakadt a hálózati kapcsolat a szerverrel."),
                Tr("A szerverrel megszakadt a hálózati kapcsolat. Lépjen be újra az alklmazásba."));
        return;
    }
    try {
        std::rethrow_exception(FDisconnectError);
    } catch (const std::exception& e) {
        if (IsSocketError(e) || IsOracleNetworkFailure(e))
            ShowException(e, Tr("Hálózati hiba történt"),
                          Tr("A műveletet hálózati hiba miatt nem sikerült végrehajtani."),
                          Tr("A művelet végerhajtása közben hálózati hiba történt. Ellenőrizze, "
                             "hogy a hálózat aktív-e, és csatlakozik-e az internethez.\r\nA "
                             "\"%s\" hálózati hiba történt."));
        else if (dynamic_cast<const EDSConnClosedGracefully*>(&e) != nullptr)
            ShowException(e, Tr("A szerver bezárta a kapcsolatot."),
                          Tr("A kívánt műveletet nem lehetett végrehajtani, mert megszakadt a "
                             "hálózati kapcsolat."),
                          Tr("A kívánt műveletet nem lehet végrehajtani, mert a szerver "
                             "megszakította a hálózati kapcsolatot a kliensel.\r\nLépjen be újra "
                             "az alkalmazásba, és próbálja újra végrehajtani a műveletet."));
        else
            ShowException(e);
    } catch (...) {
    }
}

void TMainDataModuleBase::PassiveDisconnect(QObject*) {
    // May run on a connection library's thread: a flag and a deferred call.
    FPassiveDisconnected = true;
    QPointer<TMainDataModuleBase> self(this);
    PostToMainThread([self] {
        if (self)
            self->DeferredPassiveDisconnect();
    });
}

void TMainDataModuleBase::DeferredPassiveDisconnect() {
    // A disconnect that ran meanwhile has already dealt with the break.
    if (IsDisconnecting() || !FPassiveDisconnected)
        return;
    try {
        Disconnect();
    } catch (...) {
        HandleCurrentException();
    }
}

// ---- the application-wide exception handler

bool TMainDataModuleBase::IsNetworkError(const std::exception& error) {
    if (IsSocketError(error) || IsOracleNetworkFailure(error) ||
        dynamic_cast<const EDSConnClosedGracefully*>(&error) != nullptr)
        return true;
    const auto* ssh = dynamic_cast<const ESshError*>(&error);
    return ssh != nullptr && IsSSHNetworkError(ssh->Message());
}

void TMainDataModuleBase::HandleException(std::exception_ptr error) {
    if (!error)
        return;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        if (IsNetworkError(e)) {
            // One disconnect for one broken link; what fails while it runs is not shown.
            if (IsDisconnecting())
                return;
            FDisconnectError = error;
            // Also when the action is disabled (logged out or still
            // connecting): the recorded error must not outlive this call.
            Disconnect();
            return;
        }
        ShowException(e);
        if (dynamic_cast<const EAuthFailed*>(&e) != nullptr)
            TerminateApplication();
    } catch (...) {
        ShowErrorMessage(Tr("Hiba történt"), Tr("Ismeretlen hiba történt."),
                         Tr("Egy ismeretlen típusú hiba történt a program futása során."));
    }
}

void TMainDataModuleBase::HandleCurrentException() {
    const std::exception_ptr current = std::current_exception();
    if (GInstance) {
        GInstance->HandleException(current);
        return;
    }
    if (current)
        ShowCurrentException();
}

void TMainDataModuleBase::TerminateApplication() {
    QCoreApplication::quit();
}

// ---- reset actions

void TMainDataModuleBase::ResetEnvironmentsExecute() {
    if (!AskYesNo(Tr("Valóban törölni szeretné a környezeti beállításokat?"),
                  Tr("Biztonsan törli a környezeti beállításokat? A törlés után az alapértelmezett "
                     "környezetek lesznek csak elérhetőek. A törlés előtt a program ki for "
                     "jelentkezni. Ez a művelet nem vonható vissza.")))
        return;
    Disconnect();
    Environments->Reset();
}

void TMainDataModuleBase::ResetSessionsExecute() {
    if (!AskYesNo(Tr("Valóban törölni szeretné a mentett felhasználói neveket?"),
                  Tr("Biztonsan törli az összes elmentett felhasználó nevet? A törlés előtt a "
                     "program ki for jelentkezni. Ez a művelet nem vonható vissza.")))
        return;
    Disconnect();
    Sessions->Reset();
}

void TMainDataModuleBase::ResetPackagesExecute() {
    if (!AskYesNo(Tr("Valóban törölni szeretné a letöltött csomagokat?"),
                  Tr("Biztonsan törli a az összes letöltött csomagot? A törlés után a rendszer a "
                     "következő indításkor minden csomagot újra le fog tölteni, a rendszer nem "
                     "lesz használható addig, amíg ez meg nem történik. A törlés előtt a program "
                     "ki for jelentkezni. Ez a művelet nem vonható vissza.")))
        return;
    Disconnect();
    PackageManager->Reset();
}

void TMainDataModuleBase::ResetSelfExecute() {
    if (!AskYesNo(Tr("Valóban törölni szeretné a mentett beállításokat?"),
                  Tr("Biztonsan törli a mentett beállításokat? A törlés után az alapértelmezett "
                     "beállítások lesznek éérvényben. Ez a művelet nem vonható vissza.")))
        return;
    Reset();
}

// ---- settings

QString TMainDataModuleBase::GetSettingsFileName() const {
    return QDir(PathHelper().GetPath(TPathHelper::piLocalAppData))
        .filePath(QFileInfo(GetModuleFileName()).completeBaseName() + QStringLiteral(".xml"));
}

void TMainDataModuleBase::SaveSettings() {
    TObjPersist::Save(*this, GetSettingsFileName());
}

void TMainDataModuleBase::LoadSettings() {
    const QString fileName = GetSettingsFileName();
    if (QFileInfo::exists(fileName))
        TObjPersist::Load(*this, fileName);
}

void TMainDataModuleBase::ResetSettings() {
    SetDefaults();
    Save();
}

void TMainDataModuleBase::Load() {
    TBooleanLockGuard guard(FLoading);
    if (!guard.Acquired())
        return;
    SetDefaults();
    LoadSettings();
}

void TMainDataModuleBase::Save() {
    if (!FLoading.Locked())
        SaveSettings();
}

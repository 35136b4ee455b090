#include "Common/Environments/Environments.h"

#include "Common/Util/StrUtilsEx.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

static void InitDeploymentResource() {
    Q_INIT_RESOURCE(deployment);
}

namespace {

const QString kDeploymentFile = QStringLiteral(":/deploy/deployment.json");

void RegisterDisplayNames() {
    NamedProperties().CreateNamedPropertiesForClass(
        TEnvironment::StaticClass(), QStringLiteral("Id=Azonosító\r\n"
                                                    "Description=Elnevezés\r\n"
                                                    "SSHAddress=SSH szerver címe\r\n"
                                                    "SSHPort=SSH szerver portja\r\n"
                                                    "DBAddress=Adatbázis címe\r\n"
                                                    "DBPort=Adatbázis portja\r\n"
                                                    "DataSnapAddress=Alkalmazás szerver címe\r\n"
                                                    "DataSnapPort=Alkalmazás szerver portja\r\n"
                                                    "SID=Adatbázis SID azonosító\r\n"
                                                    "DBService=Adatbázis SERVICE azonosító\r\n"
                                                    "DBSchema=Adatbázis tulajdonos neve\r\n"
                                                    "SystemType=Rendszer típusa\r\n"
                                                    "UseSSHTunnels=SSH csatornák használata?"));
}

// The display names are registered when the program starts.
[[maybe_unused]] const bool kDisplayNamesRegistered = (RegisterDisplayNames(), true);

[[noreturn]] void RaiseDeployment(const QString& detail) {
    throw ECustom(QStringLiteral("Hibás telepítési adatok"),
                  QStringLiteral("A beépített környezet adatai nem olvashatók: %1.").arg(detail));
}

void ReadText(const QJsonObject& o, const char* key, QString& value) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return;
    if (!v.isString())
        RaiseDeployment(QStringLiteral("a(z) \"%1\" érték nem szöveg").arg(QLatin1String(key)));
    value = v.toString();
}

void ReadPort(const QJsonObject& o, const char* key, quint16& value) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return;
    const double d = v.toDouble(-1);
    if (!v.isDouble() || d < 1 || d > 65535 || d != double(qint64(d)))
        RaiseDeployment(QStringLiteral("a(z) \"%1\" érték nem port szám").arg(QLatin1String(key)));
    value = quint16(d);
}

void ReadBool(const QJsonObject& o, const char* key, bool& value) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return;
    if (!v.isBool())
        RaiseDeployment(QStringLiteral("a(z) \"%1\" érték nem logikai").arg(QLatin1String(key)));
    value = v.toBool();
}

} // namespace

// ---- system types

const TEnumTypeInfo& EnumTypeInfoOf(TSystemType) {
    static const TEnumTypeInfo info{
        QStringLiteral("TSystemType"),
        {QStringLiteral("stDeveloper"), QStringLiteral("stTest"), QStringLiteral("stProduction")}};
    return info;
}

const QStringList& SystemTypeNames() {
    static const QStringList names = {QStringLiteral("stDeveloper=Fejlesztői"),
                                      QStringLiteral("stTest=Teszt"),
                                      QStringLiteral("stProduction=Éles")};
    return names;
}

QString SystemTypeDisplayName(TSystemType type) {
    return NameValueLookup(SystemTypeNames(), EnumTypeInfoOf(type).Names.value(int(type)));
}

// ---- TEnvironment

const TPersistClass& TEnvironment::StaticClass() {
    using E = TEnvironment;
    const PersistMember persist;
    const StringNamedValue named;
    static const TPersistClass& cls =
        TClassBuilder<E>(QStringLiteral("TEnvironment"), &TItem::StaticClass())
            .Mark(PersistVersion{QStringLiteral("1.0")})
            .Property(QStringLiteral("Id"), &E::Id, &E::SetId, persist, named)
            .Property(QStringLiteral("Description"), &E::Description, &E::SetDescription, persist,
                      named)
            .Property(QStringLiteral("SSHAddress"), &E::SSHAddress, &E::SetSSHAddress, persist,
                      named)
            .Property(QStringLiteral("SSHPort"), &E::SSHPort, &E::SetSSHPort, persist, named)
            .Property(QStringLiteral("DBAddress"), &E::DBAddress, &E::SetDBAddress, persist, named)
            .Property(QStringLiteral("DBPort"), &E::DBPort, &E::SetDBPort, persist, named)
            .Property(QStringLiteral("DataSnapAddress"), &E::DataSnapAddress,
                      &E::SetDataSnapAddress, persist, named)
            .Property(QStringLiteral("DataSnapPort"), &E::DataSnapPort, &E::SetDataSnapPort,
                      persist, named)
            .Property(QStringLiteral("SID"), &E::SID, &E::SetSID, persist, named)
            .Property(QStringLiteral("DBService"), &E::DBService, &E::SetDBService, persist, named)
            .Property(QStringLiteral("DBSchema"), &E::DBSchema, &E::SetDBSchema, persist, named)
            .Property(QStringLiteral("SystemType"), &E::SystemType, &E::SetSystemType, persist,
                      named)
            .Property(QStringLiteral("UseSSHTunnels"), &E::UseSSHTunnels, &E::SetUseSSHTunnels,
                      persist, named)
            .Register();
    return cls;
}

void TEnvironment::Construct(QObject* owner) {
    TItem::Construct(owner);
    int count = 0;
    if (owner != nullptr) {
        const auto* list = dynamic_cast<const TItemList*>(owner);
        if (list == nullptr)
            throw EInvalidCast(QStringLiteral("Invalid class typecast"));
        count = list->Count();
    }
    SetId(Format(QStringLiteral("Env%d"), {count}));
    SetDescription(Format(QStringLiteral("Környezet %d"), {count}));
}

QString TEnvironment::GetDisplayName() const {
    return QStringLiteral("környezet");
}

template <class V> void TEnvironment::Assign(V& field, const V& value) {
    if (field == value)
        return;
    field = value;
    Changed();
}

void TEnvironment::SetSSHAddress(const QString& value) {
    Assign(FSSHAddress, value);
}
void TEnvironment::SetSSHPort(quint16 value) {
    Assign(FSSHPort, value);
}
void TEnvironment::SetDBAddress(const QString& value) {
    Assign(FDBAddress, value);
}
void TEnvironment::SetDBPort(quint16 value) {
    Assign(FDBPort, value);
}
void TEnvironment::SetDataSnapAddress(const QString& value) {
    Assign(FDataSnapAddress, value);
}
void TEnvironment::SetDataSnapPort(quint16 value) {
    Assign(FDataSnapPort, value);
}
void TEnvironment::SetSID(const QString& value) {
    Assign(FSID, value);
}
void TEnvironment::SetDBService(const QString& value) {
    Assign(FDBService, value);
}
void TEnvironment::SetDBSchema(const QString& value) {
    Assign(FDBSchema, value);
}
void TEnvironment::SetSystemType(TSystemType value) {
    TV_ASSERT(value >= stDeveloper && value <= stProduction);
    Assign(FSystemType, value);
}
void TEnvironment::SetUseSSHTunnels(bool value) {
    Assign(FUseSSHTunnels, value);
}

TEnvironment* TEnvironmentEnumerator::Current() const {
    return static_cast<TEnvironment*>(TItemEnumerator::Current());
}

// ---- built-in environment

TBuiltInEnvironment TBuiltInEnvironment::FromJson(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (doc.isNull())
        RaiseDeployment(error.errorString());
    if (!doc.isObject())
        RaiseDeployment(QStringLiteral("nem JSON objektum"));
    TBuiltInEnvironment result;
    const QJsonValue envValue = doc.object().value(QStringLiteral("environment"));
    if (envValue.isUndefined())
        return result;
    if (!envValue.isObject())
        RaiseDeployment(QStringLiteral("az \"environment\" érték nem objektum"));
    const QJsonObject env = envValue.toObject();
    ReadText(env, "id", result.Id);
    ReadText(env, "description", result.Description);
    ReadText(env, "sshHost", result.SSHAddress);
    ReadPort(env, "sshPort", result.SSHPort);
    ReadText(env, "dbHost", result.DBAddress);
    ReadPort(env, "dbPort", result.DBPort);
    ReadText(env, "dbSid", result.SID);
    ReadText(env, "dbServiceName", result.DBService);
    ReadText(env, "dbSchema", result.DBSchema);
    ReadText(env, "dataSnapHost", result.DataSnapAddress);
    ReadPort(env, "dataSnapPort", result.DataSnapPort);
    ReadBool(env, "useSSHTunnels", result.UseSSHTunnels);
    QString systemType = EnumTypeInfoOf(result.SystemType).Names.at(result.SystemType);
    ReadText(env, "systemType", systemType);
    const int ordinal = EnumTypeInfoOf(stProduction).IndexOf(systemType);
    if (ordinal < 0)
        RaiseDeployment(QStringLiteral("ismeretlen rendszer típus: \"%1\"").arg(systemType));
    result.SystemType = TSystemType(ordinal);
    if (result.Id.isEmpty())
        RaiseDeployment(QStringLiteral("üres azonosító"));
    return result;
}

const TBuiltInEnvironment& BuiltInEnvironment() {
    static const TBuiltInEnvironment value = [] {
        InitDeploymentResource();
        QFile file(kDeploymentFile);
        if (!file.open(QIODevice::ReadOnly))
            RaiseDeployment(file.errorString());
        return TBuiltInEnvironment::FromJson(file.readAll());
    }();
    return value;
}

// ---- TEnvironments

const TPersistClass& TEnvironments::StaticClass() {
    static const TPersistClass& cls =
        TClassBuilder<TEnvironments>(QStringLiteral("TEnvironments"), &TRepository::StaticClass())
            .Mark(PersistEnumerator{})
            .Mark(PersistVersion{QStringLiteral("1.0")})
            .List(QStringLiteral("TEnvironmentEnumerator"), &TEnvironment::StaticClass,
                  &TEnvironments::GetEnumerator, &TEnvironments::GetFactory)
            .Register();
    return cls;
}

const TItemClass& TEnvironments::GetItemClass() const {
    return ClassOf<TEnvironment>();
}

QString TEnvironments::GetFileName() const {
    return TRepository::GetFileName() + QStringLiteral("Environments.xml");
}

QString TEnvironments::GetPluralDisplayName() const {
    return QStringLiteral("környezetek");
}

std::unique_ptr<TEnvironmentEnumerator> TEnvironments::GetEnumerator() const {
    return std::make_unique<TEnvironmentEnumerator>(*this);
}

TEnvironment* TEnvironments::FindEnvironment(const QString& id) const {
    return static_cast<TEnvironment*>(Find(id));
}

QList<TEnvironment*> TEnvironments::Environments() const {
    QList<TEnvironment*> result;
    for (TItem* item : *this)
        result.append(static_cast<TEnvironment*>(item));
    return result;
}

void TEnvironments::CreateDefault() {
    const TBuiltInEnvironment& values = BuiltInEnvironment();
    TEnvironment* env = Create<TEnvironment>(this);
    try {
        env->SetId(values.Id);
        env->SetDescription(values.Description);
        env->SetSSHAddress(values.SSHAddress);
        env->SetSSHPort(values.SSHPort);
        env->SetDBAddress(values.DBAddress);
        env->SetDBPort(values.DBPort);
        env->SetSID(values.SID);
        env->SetDBService(values.DBService);
        env->SetDBSchema(values.DBSchema);
        env->SetSystemType(values.SystemType);
        env->SetDataSnapAddress(values.DataSnapAddress);
        env->SetDataSnapPort(values.DataSnapPort);
        env->SetUseSSHTunnels(values.UseSSHTunnels);
    } catch (...) {
        DestroyHalfMade(env);
        throw;
    }
}

QString TEnvironments::LoadOrCreateDefault() {
    QString error;
    try {
        Load();
    } catch (const std::exception& e) {
        error = ExceptionMessage(e);
        Clear();
    }
    if (Count() == 0)
        CreateDefault();
    return error;
}

void TEnvironments::DoReset() {
    Clear();
    CreateDefault();
    Save();
}

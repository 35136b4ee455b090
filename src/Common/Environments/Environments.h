#pragma once

// Environments: installations of the server side that the starter can log in
// to (SSH gateway, database, application server). The list is saved as
// "Environments.xml" in the repository folder; when it is empty after
// start-up, or when the user resets it, one built-in environment is created
// from the deployment data compiled into the program.

#include "Common/Repository/Repository.h"

#include <QStringList>

enum TSystemType { stDeveloper, stTest, stProduction };
const TEnumTypeInfo& EnumTypeInfoOf(TSystemType);
// "stDeveloper=Fejlesztői", "stTest=Teszt", "stProduction=Éles".
const QStringList& SystemTypeNames();
QString SystemTypeDisplayName(TSystemType type);

class TEnvironment : public TItem {
public:
    QString GetDisplayName() const override;

    const QString& SSHAddress() const { return FSSHAddress; }
    void SetSSHAddress(const QString& value);
    quint16 SSHPort() const { return FSSHPort; }
    void SetSSHPort(quint16 value);
    const QString& DBAddress() const { return FDBAddress; }
    void SetDBAddress(const QString& value);
    quint16 DBPort() const { return FDBPort; }
    void SetDBPort(quint16 value);
    const QString& DataSnapAddress() const { return FDataSnapAddress; }
    void SetDataSnapAddress(const QString& value);
    quint16 DataSnapPort() const { return FDataSnapPort; }
    void SetDataSnapPort(quint16 value);
    const QString& SID() const { return FSID; }
    void SetSID(const QString& value);
    const QString& DBService() const { return FDBService; }
    void SetDBService(const QString& value);
    const QString& DBSchema() const { return FDBSchema; }
    void SetDBSchema(const QString& value);
    TSystemType SystemType() const { return FSystemType; }
    void SetSystemType(TSystemType value);
    bool UseSSHTunnels() const { return FUseSSHTunnels; }
    void SetUseSSHTunnels(bool value);

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TEnvironment() = default;
    // Joins the owner (which must be a list or null), then takes "Env%d" and
    // "Környezet %d" with the number of environments in the list.
    void Construct(QObject* owner) override;

private:
    template <class V> void Assign(V& field, const V& value);

    QString FSSHAddress;
    quint16 FSSHPort = 22;
    QString FDBAddress;
    quint16 FDBPort = 1521;
    QString FDataSnapAddress;
    quint16 FDataSnapPort = 211;
    QString FSID;
    QString FDBService;
    QString FDBSchema;
    TSystemType FSystemType = stProduction;
    bool FUseSSHTunnels = true;
};

class TEnvironmentEnumerator : public TItemEnumerator {
public:
    using TItemEnumerator::TItemEnumerator;
    TEnvironment* Current() const;
};

// The values of the built-in environment, from the deployment data compiled
// into the program (":/deploy/deployment.json", its "environment" object).
struct TBuiltInEnvironment {
    QString Id = QStringLiteral("Production");
    QString Description = QStringLiteral("Tarvolin");
    QString SSHAddress;
    quint16 SSHPort = 471;
    QString DBAddress;
    quint16 DBPort = 1521;
    QString SID = QStringLiteral("TARVOLIN");
    QString DBService = QStringLiteral("TARVOLIN");
    QString DBSchema = QStringLiteral("VELMAR_PROD");
    TSystemType SystemType = stProduction;
    QString DataSnapAddress = QStringLiteral("localhost");
    quint16 DataSnapPort = 211;
    bool UseSSHTunnels = true;

    // Keys that the data lacks keep the values above; a value of the wrong
    // type or out of range raises ECustom.
    static TBuiltInEnvironment FromJson(const QByteArray& json);
};
// Read once from the compiled-in deployment data.
const TBuiltInEnvironment& BuiltInEnvironment();

class TEnvironments : public TRepository {
public:
    const TItemClass& GetItemClass() const override;
    // The repository folder followed by "Environments.xml".
    QString GetFileName() const override;
    QString GetPluralDisplayName() const override;

    // Adds the built-in environment. When a step raises, the half-made
    // environment is destroyed and the error propagates.
    void CreateDefault();
    // The start-up load: read the file; when that raises, empty the list;
    // when the list is then empty, create the built-in environment (which
    // rewrites the file). Answers the load error's text, empty when the file
    // was read.
    QString LoadOrCreateDefault();

    std::unique_ptr<TEnvironmentEnumerator> GetEnumerator() const;
    using TItemList::Find;
    // Raises the not-found error when absent.
    TEnvironment* FindEnvironment(const QString& id) const;
    QList<TEnvironment*> Environments() const;

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TEnvironments() = default;
    // Empties the list, creates the built-in environment, then saves.
    void DoReset() override;
};

// ctest-label: unit
#include "Common/Environments/Environments.h"
#include "Common/Repository/ObjXmlPersist.h"
#include "Support/TempAppData.h"
#include "Support/TestSupport.h"

#include <QFile>
#include <QLocale>
#include <QTest>

namespace {

// The document without the indentation of its lines.
QByteArray WithoutIndentation(const QByteArray& doc) {
    QByteArrayList lines = doc.split('\n');
    for (QByteArray& line : lines)
        line = line.trimmed();
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines.join('\n');
}

QByteArray EnvironmentsFile(const QByteArray& items) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TEnvironments "
           "version=\"1.0\"><TEnvironmentEnumerator>" +
           items + "</TEnvironmentEnumerator></TEnvironments>\n";
}

void CheckBuiltIn(const TEnvironment& env, const TBuiltInEnvironment& expected) {
    QCOMPARE(env.Id(), expected.Id);
    QCOMPARE(env.Description(), expected.Description);
    QCOMPARE(env.SSHAddress(), expected.SSHAddress);
    QCOMPARE(env.SSHPort(), expected.SSHPort);
    QCOMPARE(env.DBAddress(), expected.DBAddress);
    QCOMPARE(env.DBPort(), expected.DBPort);
    QCOMPARE(env.SID(), expected.SID);
    QCOMPARE(env.DBService(), expected.DBService);
    QCOMPARE(env.DBSchema(), expected.DBSchema);
    QCOMPARE(env.SystemType(), expected.SystemType);
    QCOMPARE(env.DataSnapAddress(), expected.DataSnapAddress);
    QCOMPARE(env.DataSnapPort(), expected.DataSnapPort);
    QCOMPARE(env.UseSSHTunnels(), expected.UseSSHTunnels);
}

} // namespace

class TestEnvironments : public QObject {
    Q_OBJECT

    int FSaves = 0;
    std::unique_ptr<TSaveCountingAppData> FData;

    QString FileName() const { return FData->FilePath(QStringLiteral("Environments.xml")); }

private slots:
    void init() {
        FSaves = 0;
        FData = std::make_unique<TSaveCountingAppData>(FSaves);
        QVERIFY(FData->IsValid());
    }
    void cleanup() { FData.reset(); }

    void goldenFileRoundTrip() {
        const QByteArray golden = ReadWholeFile(TestDataPath(QStringLiteral("Environments.xml")));
        QVERIFY(!golden.isEmpty());
        WriteWholeFile(FileName(), golden);
        auto envs = TItem::Create<TEnvironments>();
        envs->Load();
        QCOMPARE(envs->Count(), 2);
        const TEnvironment* prod = envs->FindEnvironment(QStringLiteral("Production"));
        QCOMPARE(prod->Description(), QStringLiteral("Tarvolin"));
        QCOMPARE(prod->SSHPort(), quint16(471));
        QCOMPARE(prod->DataSnapAddress(), QStringLiteral("localhost"));
        QCOMPARE(prod->SystemType(), stProduction);
        QVERIFY(prod->UseSSHTunnels());
        const TEnvironment* env2 = envs->FindEnvironment(QStringLiteral("Env2"));
        QCOMPARE(env2->Description(), QStringLiteral("Környezet 2"));
        QCOMPARE(env2->SSHAddress(), QString());
        QCOMPARE(env2->SystemType(), stTest);
        QVERIFY(!env2->UseSSHTunnels());
        QCOMPARE(FSaves, 0);
        envs->Save();
        QCOMPARE(WithoutIndentation(ReadWholeFile(FileName())), WithoutIndentation(golden));
    }

    void goldenFileFromScratch() {
        auto envs = TItem::Create<TEnvironments>();
        TEnvironment* prod = TItem::Create<TEnvironment>(envs.get());
        prod->SetId(QStringLiteral("Production"));
        prod->SetDescription(QStringLiteral("Tarvolin"));
        prod->SetSSHPort(471);
        prod->SetSID(QStringLiteral("TARVOLIN"));
        prod->SetDBService(QStringLiteral("TARVOLIN"));
        prod->SetDBSchema(QStringLiteral("VELMAR_PROD"));
        prod->SetDataSnapAddress(QStringLiteral("localhost"));
        TEnvironment* env2 = TItem::Create<TEnvironment>(envs.get());
        env2->SetSystemType(stTest);
        env2->SetUseSSHTunnels(false);
        // Every change was saved at once.
        const QByteArray golden = ReadWholeFile(TestDataPath(QStringLiteral("Environments.xml")));
        QCOMPARE(WithoutIndentation(ReadWholeFile(FileName())), WithoutIndentation(golden));
    }

    void newEnvironmentDefaults() {
        auto envs = TItem::Create<TEnvironments>();
        envs->SetAutoSave(false);
        TEnvironment* first = TItem::Create<TEnvironment>(envs.get());
        QCOMPARE(first->Id(), QStringLiteral("Env1"));
        QCOMPARE(first->Description(), QStringLiteral("Környezet 1"));
        QCOMPARE(first->SSHPort(), quint16(22));
        QCOMPARE(first->DBPort(), quint16(1521));
        QCOMPARE(first->DataSnapPort(), quint16(211));
        QCOMPARE(first->SystemType(), stProduction);
        QVERIFY(first->UseSSHTunnels());
        QCOMPARE(first->SSHAddress(), QString());
        QCOMPARE(first->GetDisplayName(), QStringLiteral("környezet"));
        TItem::Create<TEnvironment>(envs.get());
        TEnvironment* third = TItem::Create<TEnvironment>(envs.get());
        QCOMPARE(third->Id(), QStringLiteral("Env3"));
        QCOMPARE(third->Description(), QStringLiteral("Környezet 3"));
        auto loose = TItem::Create<TEnvironment>();
        QCOMPARE(loose->Id(), QStringLiteral("Env0"));
        QCOMPARE(loose->Description(), QStringLiteral("Környezet 0"));
        QObject notAList;
        QVERIFY_THROWS_EXCEPTION(EInvalidCast, TItem::Create<TEnvironment>(&notAList));
        QVERIFY(notAList.children().isEmpty());
        QCOMPARE(envs->GetFileName(), FileName());
        QCOMPARE(envs->GetPluralDisplayName(), QStringLiteral("környezetek"));
    }

    void generatedIdentityTaken() {
        auto envs = TItem::Create<TEnvironments>();
        TItem::Create<TEnvironment>(envs.get())->SetId(QStringLiteral("Env2"));
        try {
            TItem::Create<TEnvironment>(envs.get());
            QFAIL("the second environment was created");
        } catch (const ERepository& e) {
            QCOMPARE(e.Title(), QStringLiteral("A környezet neve nem egyedi."));
            QCOMPARE(e.Message(), QStringLiteral("A környezet elnevezése egyedi kell legyen, "
                                                 "\"Env2\" nevű elem már létezik."));
        }
        QCOMPARE(envs->Count(), 1);
        QCOMPARE(envs->children().size(), 1);
        envs->Load();
        QCOMPARE(envs->Count(), 1);
        QCOMPARE(envs->AsArray().first()->Id(), QStringLiteral("Env2"));
    }

    void createDefault() {
        auto envs = TItem::Create<TEnvironments>();
        envs->CreateDefault();
        QCOMPARE(envs->Count(), 1);
        CheckBuiltIn(*envs->FindEnvironment(BuiltInEnvironment().Id), BuiltInEnvironment());
        // The last of the automatic saves holds the complete environment.
        QVERIFY(FSaves >= 13);
        auto reread = TItem::Create<TEnvironments>();
        reread->Load();
        QCOMPARE(reread->Count(), 1);
        CheckBuiltIn(*reread->Environments().first(), BuiltInEnvironment());

        // A failing step destroys the half-made environment.
        QVERIFY_THROWS_EXCEPTION(ERepository, envs->CreateDefault());
        QCOMPARE(envs->Count(), 1);
        QCOMPARE(envs->children().size(), 1);
        // ... and leaves no trace in the file.
        reread->Load();
        QCOMPARE(reread->Count(), 1);
    }

    void builtInComesFromTheDeploymentData() {
        QFile resource(QStringLiteral(":/deploy/deployment.json"));
        QVERIFY(resource.open(QIODevice::ReadOnly));
        const TBuiltInEnvironment fromFile = TBuiltInEnvironment::FromJson(resource.readAll());
        const TBuiltInEnvironment& used = BuiltInEnvironment();
        QCOMPARE(used.SSHAddress, fromFile.SSHAddress);
        QCOMPARE(used.SSHPort, fromFile.SSHPort);
        QCOMPARE(used.DBAddress, fromFile.DBAddress);
        QCOMPARE(used.DBPort, fromFile.DBPort);
        QCOMPARE(used.DBService, fromFile.DBService);
        QCOMPARE(used.DBSchema, fromFile.DBSchema);
        QCOMPARE(used.Id, QStringLiteral("Production"));

        // The reference deployment points at the reference environment.
        const TBuiltInEnvironment reference = TBuiltInEnvironment::FromJson(
            ReadWholeFile(QStringLiteral(TV_SOURCE_DIR "/deploy/reference.json")));
        QCOMPARE(reference.SSHAddress, QStringLiteral("127.0.0.1"));
        QCOMPARE(reference.SSHPort, quint16(22022));
        QCOMPARE(reference.DBPort, quint16(25432));
        QCOMPARE(reference.DBSchema, QStringLiteral("VELMAR_PROD"));
    }

    void deploymentDataDefaultsAndErrors() {
        const TBuiltInEnvironment empty = TBuiltInEnvironment::FromJson("{}");
        QCOMPARE(empty.Id, QStringLiteral("Production"));
        QCOMPARE(empty.Description, QStringLiteral("Tarvolin"));
        QCOMPARE(empty.SSHAddress, QString());
        QCOMPARE(empty.SSHPort, quint16(471));
        QCOMPARE(empty.DBAddress, QString());
        QCOMPARE(empty.DBPort, quint16(1521));
        QCOMPARE(empty.SID, QStringLiteral("TARVOLIN"));
        QCOMPARE(empty.DBService, QStringLiteral("TARVOLIN"));
        QCOMPARE(empty.DBSchema, QStringLiteral("VELMAR_PROD"));
        QCOMPARE(empty.SystemType, stProduction);
        QCOMPARE(empty.DataSnapAddress, QStringLiteral("localhost"));
        QCOMPARE(empty.DataSnapPort, quint16(211));
        QVERIFY(empty.UseSSHTunnels);
        const TBuiltInEnvironment test = TBuiltInEnvironment::FromJson(
            R"({"environment":{"systemType":"sttest","useSSHTunnels":false,"sshHost":"gw"}})");
        QCOMPARE(test.SystemType, stTest);
        QVERIFY(!test.UseSSHTunnels);
        QCOMPARE(test.SSHAddress, QStringLiteral("gw"));
        for (const QByteArray& bad :
             {QByteArray("not json"), QByteArray(R"({"environment":{"sshPort":70000}})"),
              QByteArray(R"({"environment":{"sshPort":"22"}})"),
              QByteArray(R"({"environment":{"dbPort":1.5}})"),
              QByteArray(R"({"environment":{"systemType":"stMars"}})"),
              QByteArray(R"({"environment":{"id":""}})"), QByteArray(R"({"environment":[]})")}) {
            QVERIFY_THROWS_EXCEPTION(ECustom, TBuiltInEnvironment::FromJson(bad));
        }
    }

    void startUpFallback_data() {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("no file") << false << QByteArray();
        QTest::newRow("empty file") << true << QByteArray();
        QTest::newRow("not XML") << true << QByteArray("\x00\x01garbage", 9);
        QTest::newRow("truncated") << true << EnvironmentsFile("<TEnvironment><Id>A</Id>").left(90);
        QTest::newRow("empty list") << true << EnvironmentsFile("");
        QTest::newRow("foreign root") << true << QByteArray("<TSessions/>");
        QTest::newRow("bad value") << true
                                   << EnvironmentsFile("<TEnvironment><Id>A</Id></TEnvironment>"
                                                       "<TEnvironment><SSHPort/></TEnvironment>");
    }
    void startUpFallback() {
        QFETCH(bool, exists);
        QFETCH(QByteArray, content);
        if (exists)
            WriteWholeFile(FileName(), content);
        auto envs = TItem::Create<TEnvironments>();
        envs->LoadOrCreateDefault();
        QCOMPARE(envs->Count(), 1);
        CheckBuiltIn(*envs->Environments().first(), BuiltInEnvironment());
        // The file is rewritten with exactly the built-in environment.
        auto reread = TItem::Create<TEnvironments>();
        reread->Load();
        QCOMPARE(reread->Count(), 1);
        CheckBuiltIn(*reread->Environments().first(), BuiltInEnvironment());
    }

    void startUpKeepsAGoodFile() {
        WriteWholeFile(FileName(), ReadWholeFile(TestDataPath(QStringLiteral("Environments.xml"))));
        auto envs = TItem::Create<TEnvironments>();
        QCOMPARE(envs->LoadOrCreateDefault(), QString());
        QCOMPARE(envs->Count(), 2);
        QCOMPARE(FSaves, 0);
    }

    void resetLeavesOnlyTheBuiltIn() {
        auto envs = TItem::Create<TEnvironments>();
        for (int i = 0; i < 3; ++i)
            TItem::Create<TEnvironment>(envs.get());
        QCOMPARE(envs->Count(), 3);
        envs->Reset();
        QCOMPARE(envs->Count(), 1);
        QCOMPARE(envs->AsArray().first()->Id(), QStringLiteral("Production"));
        auto reread = TItem::Create<TEnvironments>();
        reread->Load();
        QCOMPARE(reread->Count(), 1);
        QCOMPARE(reread->AsArray().first()->Id(), QStringLiteral("Production"));
    }

    void equalValuesDoNotSave() {
        auto envs = TItem::Create<TEnvironments>();
        TEnvironment* env = TItem::Create<TEnvironment>(envs.get());
        FSaves = 0;
        env->SetSSHPort(env->SSHPort());
        env->SetSSHAddress(env->SSHAddress());
        env->SetSystemType(env->SystemType());
        env->SetUseSSHTunnels(env->UseSSHTunnels());
        QCOMPARE(FSaves, 0);
        env->SetSSHPort(2222);
        QCOMPARE(FSaves, 1);
        env->SetUseSSHTunnels(false);
        QCOMPARE(FSaves, 2);
    }

    void missingMembersKeepDefaults() {
        WriteWholeFile(FileName(), EnvironmentsFile("<TEnvironment version=\"1.0\"><Id>A</Id>"
                                                    "<DBPort>1600</DBPort></TEnvironment>"));
        auto envs = TItem::Create<TEnvironments>();
        envs->Load();
        const TEnvironment* env = envs->FindEnvironment(QStringLiteral("A"));
        QVERIFY(env->UseSSHTunnels());
        QCOMPARE(env->SSHPort(), quint16(22));
        QCOMPARE(env->DBPort(), quint16(1600));
        QCOMPARE(env->Description(), QStringLiteral("Környezet 1"));
    }

    void emptyPortFailsTheLoad() {
        WriteWholeFile(FileName(), EnvironmentsFile("<TEnvironment><Id>A</Id></TEnvironment>"
                                                    "<TEnvironment><Id>B</Id><SSHPort></SSHPort>"
                                                    "</TEnvironment>"));
        auto envs = TItem::Create<TEnvironments>();
        QVERIFY_THROWS_EXCEPTION(EConvertError, envs->Load());
        QCOMPARE(envs->Count(), 1);
    }

    void displayNames_data() {
        QTest::addColumn<QString>("member");
        QTest::addColumn<QString>("name");
        QTest::newRow("Id") << "Id"
                            << "Azonosító";
        QTest::newRow("Description") << "Description"
                                     << "Elnevezés";
        QTest::newRow("SSHAddress") << "SSHAddress"
                                    << "SSH szerver címe";
        QTest::newRow("SSHPort") << "SSHPort"
                                 << "SSH szerver portja";
        QTest::newRow("DBAddress") << "DBAddress"
                                   << "Adatbázis címe";
        QTest::newRow("DBPort") << "DBPort"
                                << "Adatbázis portja";
        QTest::newRow("DataSnapAddress") << "DataSnapAddress"
                                         << "Alkalmazás szerver címe";
        QTest::newRow("DataSnapPort") << "DataSnapPort"
                                      << "Alkalmazás szerver portja";
        QTest::newRow("SID") << "SID"
                             << "Adatbázis SID azonosító";
        QTest::newRow("DBService") << "DBService"
                                   << "Adatbázis SERVICE azonosító";
        QTest::newRow("DBSchema") << "DBSchema"
                                  << "Adatbázis tulajdonos neve";
        QTest::newRow("SystemType") << "SystemType"
                                    << "Rendszer típusa";
        QTest::newRow("UseSSHTunnels") << "UseSSHTunnels"
                                       << "SSH csatornák használata?";
    }
    void displayNames() {
        QFETCH(QString, member);
        QFETCH(QString, name);
        const TPersistMember* m = TEnvironment::StaticClass().FindMember(member);
        QVERIFY(m != nullptr);
        QVERIFY(m->HasStringNamedValue);
        QCOMPARE(StringNamedValue::GetName(*m), name);
        QCOMPARE(NamedProperties().GetName(*m), name);
    }

    void persistedOrder() {
        QStringList names;
        for (const TPersistMember* m : TEnvironment::StaticClass().AllMembers()) {
            if (m->SavesValue())
                names << m->Name;
        }
        QCOMPARE(names, (QStringList{"Id", "Description", "SSHAddress", "SSHPort", "DBAddress",
                                     "DBPort", "DataSnapAddress", "DataSnapPort", "SID",
                                     "DBService", "DBSchema", "SystemType", "UseSSHTunnels"}));
    }

    void systemTypeNames() {
        QCOMPARE(SystemTypeDisplayName(stDeveloper), QStringLiteral("Fejlesztői"));
        QCOMPARE(SystemTypeDisplayName(stTest), QStringLiteral("Teszt"));
        QCOMPARE(SystemTypeDisplayName(stProduction), QStringLiteral("Éles"));
    }

    void stringValues() {
        auto envs = TItem::Create<TEnvironments>();
        envs->SetAutoSave(false);
        TEnvironment* env = TItem::Create<TEnvironment>(envs.get());
        const TPersistClass& cls = TEnvironment::StaticClass();
        const TPersistMember& port = *cls.FindMember(QStringLiteral("SSHPort"));
        const TPersistMember& type = *cls.FindMember(QStringLiteral("SystemType"));
        const TPersistMember& tunnels = *cls.FindMember(QStringLiteral("UseSSHTunnels"));
        QCOMPARE(StringValue::GetValue(port, *env), QStringLiteral("22"));
        StringValue::SetValue(port, *env, QStringLiteral("2200"));
        QCOMPARE(env->SSHPort(), quint16(2200));
        QVERIFY_THROWS_EXCEPTION(EConvertError,
                                 StringValue::SetValue(port, *env, QStringLiteral("70000")));
        QVERIFY_THROWS_EXCEPTION(EConvertError, StringValue::SetValue(port, *env, QString()));
        QCOMPARE(env->SSHPort(), quint16(2200));
        QCOMPARE(StringValue::GetValue(type, *env), QStringLiteral("stProduction"));
        StringValue::SetValue(type, *env, QStringLiteral("stdeveloper"));
        QCOMPARE(env->SystemType(), stDeveloper);
        QVERIFY_THROWS_EXCEPTION(EConvertError,
                                 StringValue::SetValue(type, *env, QStringLiteral("stMars")));
        QCOMPARE(StringValue::GetValue(tunnels, *env), QStringLiteral("True"));
        StringValue::SetValue(tunnels, *env, QStringLiteral("false"));
        QVERIFY(!env->UseSSHTunnels());
    }
};

QTEST_GUILESS_MAIN(TestEnvironments)
#include "tst_Environments.moc"

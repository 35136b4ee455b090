// ctest-label: unit
#include "Client/Common/SSH/SSHClientModule.h"
#include "Common/SSH/SSHUtils.h"

#include <QFile>
#include <QTest>

class TestSSHUtils : public QObject {
    Q_OBJECT

private:
    static QByteArray KeyFile(const char* name) {
        QFile file(QStringLiteral(TV_SOURCE_DIR "/refenv/keys/") + QLatin1String(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
    }

private slots:
    void KeyComparison_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QByteArray>("offered");
        QTest::addColumn<bool>("equal");
        QTest::newRow("same") << QByteArray("ssh-rsa AAAAB3 ") << QByteArray("ssh-rsa AAAAB3")
                              << true;
        QTest::newRow("comment ignored")
            << QByteArray("ssh-rsa AAAAB3 gateway") << QByteArray("ssh-rsa AAAAB3 x@y") << true;
        QTest::newRow("other data")
            << QByteArray("ssh-rsa AAAAB3") << QByteArray("ssh-rsa AAAAB4") << false;
        QTest::newRow("other type")
            << QByteArray("ssh-rsa AAAAB3") << QByteArray("ssh-ed25519 AAAAB3") << false;
        QTest::newRow("empty store trusts nothing") << QByteArray() << QByteArray("") << false;
    }
    void KeyComparison() {
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, offered);
        QFETCH(bool, equal);
        TSshKey key(QStringLiteral("k"));
        key.LoadPublicKey(stored);
        QCOMPARE(key.Equals(offered), equal);
    }

    void StoreFindsNamesWithoutRegardToCase() {
        TVirtualStorage storage;
        QVERIFY(storage.FindKey(QStringLiteral("TarvolinService")) == nullptr);
        TSshKey* key = storage.AddKey(QStringLiteral("TarvolinService"));
        QCOMPARE(storage.FindKey(QStringLiteral("TARVOLINSERVICE")), key);
        QCOMPARE(key->KeyName(), QStringLiteral("TarvolinService"));
    }

    void LoadKeyFromResource() {
        TSshKey key(QStringLiteral("TarvolinService"));
        TSSHUtils::LoadKeyFromResource(&key);
        QVERIFY(key.Equals(KeyFile("gateway_host_key.pub")));
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, TSSHUtils::LoadKeyFromResource(nullptr));
        TSshKey unnamed;
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, TSSHUtils::LoadKeyFromResource(&unnamed));
    }

    // The trusted key is loaded into the store at the first check and kept.
    void HostKeyCheck() {
        TSSHClientModule module;
        bool accept = true;
        module.SSHClientServerKeyValidate(KeyFile("foreign_host_key.pub"), accept);
        QVERIFY(!accept);
        QCOMPARE(module.VirtualStorage().Count(), 1);
        TSshKey* stored = module.VirtualStorage().FindKey(QStringLiteral("TarvolinService"));
        QVERIFY(stored != nullptr);
        module.SSHClientServerKeyValidate(KeyFile("gateway_host_key.pub"), accept);
        QVERIFY(accept);
        QCOMPARE(module.VirtualStorage().FindKey(QStringLiteral("TarvolinService")), stored);
    }

    void NotConnectedModule() {
        TSSHClientModule module;
        QVERIFY(!module.Connected());
        QCOMPARE(module.OracleTunnelPort(), uint16_t(0));
        QCOMPARE(module.DataSnapTunnelPort(), uint16_t(0));
        QVERIFY(module.SessionId().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSSHUtils)
#include "tst_SSHUtils.moc"

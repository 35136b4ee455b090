// ctest-label: unit
#include "Client/Common/Packages/PackagesClientService.h"
#include "Support/TempAppData.h"

#include <QTest>

class TestPackagesClientService : public QObject {
    Q_OBJECT

private slots:
    void bindingFollowsTheProxy() {
        TTempAppData data;
        auto manager = TItem::Create<TClientPackageManager>();
        auto proxy = std::make_unique<TPackagesClient>();
        SetPackagesClient(*manager, proxy.get());
        TPackagesService* adapter = manager->Client();
        QVERIFY(adapter != nullptr);
        QCOMPARE(adapter->parent(), manager.get());
        // The same proxy again keeps the adapter.
        SetPackagesClient(*manager, proxy.get());
        QCOMPARE(manager->Client(), adapter);
        // An unbound proxy is a closed connection: nothing happens.
        QVERIFY(!manager->IsClientOpen());
        manager->UpdateClientPackage(QStringLiteral("7Zip"));
        QCOMPARE(manager->Count(), 0);
        // A destroyed proxy is forgotten.
        proxy.reset();
        QVERIFY(!manager->IsClientOpen());
        manager->UpdateClientPackage(QStringLiteral("7Zip"));
        SetPackagesClient(*manager, nullptr);
        QVERIFY(manager->Client() == nullptr);
        QVERIFY(manager->findChildren<TPackagesService*>().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPackagesClientService)
#include "tst_PackagesClientService.moc"

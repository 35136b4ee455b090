// ctest-label: unit
#include "Client/Common/DataSnap/DSClientProxy.h"
#include "Common/Files/FileUtils.h"
#include "Common/Network/ServerClients.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <atomic>
#include <thread>

namespace {

QJsonObject Element(const QJsonObject& fields) {
    return QJsonObject{{"type", "ServerClasses.TClient"}, {"id", 1}, {"fields", fields}};
}

QJsonObject GoodFields() {
    return QJsonObject{{"FId", "{11111111-2222-3333-4444-555555555555}"},
                       {"FPort", 40312},
                       {"FAddress", "10.0.0.7"},
                       {"FUserName", "tvdemo"},
                       {"FVersion", "1.0.0.1"},
                       {"FStarted", "2012.03.15 14:05:09:037"},
                       {"FApplication", "Tarvolin"},
                       {"FLoginTries", 2}};
}

} // namespace

class TestDSClientProxy : public QObject {
    Q_OBJECT
private slots:
    void clientsFromJson() {
        auto list = TServerInfoClient::ClientsFromJson(QJsonArray{Element(GoodFields())});
        QCOMPARE(list.size(), size_t(1));
        const TClient& c = *list[0];
        QCOMPARE(c.Id(), QStringLiteral("{11111111-2222-3333-4444-555555555555}"));
        QCOMPARE(c.Port(), quint16(40312));
        QCOMPARE(c.Address(), QStringLiteral("10.0.0.7"));
        QCOMPARE(c.UserName(), QStringLiteral("tvdemo"));
        QCOMPARE(c.Version(), QStringLiteral("1.0.0.1"));
        QCOMPARE(c.Application(), QStringLiteral("Tarvolin"));
        QCOMPARE(c.LoginTries(), 2);
        QCOMPARE(c.Started().ToDateTime(), QDateTime(QDate(2012, 3, 15), QTime(14, 5, 9, 37)));
    }

    void notAnArrayIsEmpty_data() {
        QTest::addColumn<QJsonValue>("value");
        QTest::newRow("empty array") << QJsonValue(QJsonArray());
        QTest::newRow("object") << QJsonValue(QJsonObject{{"clients", 3}});
        QTest::newRow("null") << QJsonValue();
        QTest::newRow("text") << QJsonValue(QStringLiteral("[]"));
    }
    void notAnArrayIsEmpty() {
        QFETCH(QJsonValue, value);
        QVERIFY(TServerInfoClient::ClientsFromJson(value).empty());
    }

    void badElementsRaise_data() {
        QTest::addColumn<QJsonValue>("element");
        QJsonObject badTime = GoodFields();
        badTime["FStarted"] = "tegnap";
        QJsonObject badPort = GoodFields();
        badPort["FPort"] = 70000;
        QJsonObject noId = GoodFields();
        noId.remove("FId");
        QJsonObject portText = GoodFields();
        portText["FUserName"] = 12;
        QTest::newRow("time") << QJsonValue(Element(badTime));
        QTest::newRow("port out of range") << QJsonValue(Element(badPort));
        QTest::newRow("no identity") << QJsonValue(Element(noId));
        QTest::newRow("number for text") << QJsonValue(Element(portText));
        QTest::newRow("not an object") << QJsonValue(42);
    }
    void badElementsRaise() {
        QFETCH(QJsonValue, element);
        QVERIFY_THROWS_EXCEPTION(EConvertError,
                                 TServerInfoClient::ClientsFromJson(QJsonArray{element}));
    }

    void clientList() {
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, TClient{QString()});
        TClients clients;
        TClient* a = clients.NewClient();
        TClient* b = clients.NewClient();
        QCOMPARE(a->Id().size(), 38);
        QVERIFY(a->Id() != b->Id());
        QCOMPARE(a->LoginTries(), 0);
        QVERIFY(a->Started().Value() > 0);
        clients.Remove(a->Id());
        QCOMPARE(clients.Count(), 1);
        QCOMPARE(clients.Item(0), b);
        clients.Remove(QStringLiteral("nincs"));
        QCOMPARE(clients.Count(), 1);
        std::vector<std::unique_ptr<TClient>> list;
        list.push_back(std::make_unique<TClient>(QStringLiteral("x")));
        list.push_back(std::make_unique<TClient>(QStringLiteral("y")));
        clients.LoadFrom(std::move(list));
        QCOMPARE(clients.Count(), 2);
        QCOMPARE(clients.Item(1)->Id(), QStringLiteral("y"));
    }

    // An enumerator holds the list's lock for its whole life.
    void enumeratorHoldsTheLock() {
        TClients clients;
        clients.NewClient();
        std::atomic<bool> added{false};
        std::thread other;
        {
            TClientsEnumerator e = clients.GetEnumerator();
            other = std::thread([&] {
                clients.NewClient();
                added = true;
            });
            QTest::qWait(100);
            QVERIFY(!added);
            int n = 0;
            while (e.MoveNext())
                ++n;
            QCOMPARE(n, 1);
        }
        other.join();
        QVERIFY(added);
        QCOMPARE(clients.Count(), 2);
    }

    void unboundProxy() {
        TPackagesClient proxy;
        QVERIFY(!proxy.IsOpen());
        QVERIFY(!proxy.ClearServerResources());
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, proxy.GetPackageVersion("Tarvolin"));
        // A closed connection: no remote call, false.
        TDSConnection closed;
        proxy.SetConnection(&closed);
        QVERIFY(!proxy.ClearServerResources());
        proxy.SetConnection(nullptr);
    }

    void ticketNameWithBadCharacters() {
        TErrorRiportClient proxy;
        TDSConnection closed;
        proxy.SetConnection(&closed);
        QVERIFY_THROWS_EXCEPTION(EArgumentException,
                                 proxy.UpLoadFile(QStringLiteral("a|b.xml"), nullptr));
        proxy.SetConnection(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestDSClientProxy)
#include "tst_DSClientProxy.moc"

// ctest-label: integration
// ctest-timeout: 180
#include "Platform/Db/OraDriver.h"
#include "Platform/SSH/SshClient.h"
#include "Support/RefEnv.h"

#include <QProcess>
#include <QTcpSocket>
#include <QTest>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

class TestSshClient : public QObject {
    Q_OBJECT

private:
    TRefEnv Env;

    void Setup(TSshClient& client, const QString& password, const QByteArray& trusted,
               quint16 port = 0) {
        client.SetHost(Env.Value(QStringLiteral("TV_SSH_HOST")));
        client.SetPort(port != 0 ? port : Env.Port(QStringLiteral("TV_SSH_PORT")));
        client.SetUser(Env.Value(QStringLiteral("TV_DEMO_USER")));
        client.SetPassword(password);
        client.OnServerKeyValidate = [trusted](const QByteArray& key) { return key == trusted; };
    }
    QString Password() const { return Env.Value(QStringLiteral("TV_DEMO_PASSWORD")); }

    static QByteArray Utf16(const QString& text) {
        return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    }

    QString SessionId(TSshClient& client) {
        const QByteArray answer =
            client.Exchange(QStringLiteral("localhost"), Env.Port(QStringLiteral("TV_SSH_PORT")),
                            Utf16(QStringLiteral("RequestSessionId")), 76, 15000);
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(answer.constData()),
                                  answer.size() / 2);
    }

    QString DbDescriptor(quint16 port) const {
        return QStringLiteral("(DESCRIPTION=(ADDRESS=(PROTOCOL=TCP)(HOST=LOCALHOST)(PORT=%1))"
                              "(CONNECT_DATA=(SERVICE_NAME=%2)))")
            .arg(port)
            .arg(Env.Value(QStringLiteral("TV_DB_SERVICE")));
    }

private slots:
    void initTestCase() { QVERIFY2(Env.Load(), qPrintable(Env.Error())); }

    void LoginAndSessionIdentity() {
        TSshClient client;
        Setup(client, Password(), Env.GatewayKey());
        client.Connect();
        QVERIFY(client.Connected());
        const QString first = SessionId(client);
        QCOMPARE(first.size(), 38);
        QVERIFY(first.startsWith(QLatin1Char('{')) && first.endsWith(QLatin1Char('}')));
        QVERIFY(SessionId(client) != first); // every request gets a new identity
        client.Disconnect();
        QVERIFY(!client.Connected());
    }

    void WrongPasswordIsAuthenticationFailed() {
        TSshClient client;
        Setup(client, QStringLiteral("nem-jo"), Env.GatewayKey());
        try {
            client.Connect();
            QFAIL("a wrong password was accepted");
        } catch (const ESshError& e) {
            QCOMPARE(e.Message(), QStringLiteral("Authentication failed"));
        }
        QVERIFY(!client.Connected());
    }

    void ForeignHostKeyIsRefused() {
        TSshClient client;
        Setup(client, Password(), Env.ForeignKey());
        try {
            client.Connect();
            QFAIL("an untrusted host key was accepted");
        } catch (const ESshError& e) {
            QVERIFY(e.Message() != QStringLiteral("Authentication failed"));
            QVERIFY(e.Message().contains(QStringLiteral("Host key")));
        }
        QVERIFY(!client.Connected());
    }

    void GatewayRefusesConnectionWithoutKeyCheckHandler() {
        TSshClient client;
        Setup(client, Password(), Env.GatewayKey());
        client.OnServerKeyValidate = nullptr;
        QVERIFY_THROWS_EXCEPTION(ESshError, client.Connect());
    }

    void UnreachableGatewayIsNetworkError() {
        TSshClient client;
        Setup(client, Password(), Env.GatewayKey(), 1); // nothing listens on port 1
        client.SetTimeout(5);
        QVERIFY_THROWS_EXCEPTION(ESshSocketError, client.Connect());
    }

    // Several database sessions at once through one forwarded port.
    void ForwardServesManyChannels() {
        TSshClient client;
        Setup(client, Password(), Env.GatewayKey());
        client.Connect();
        const quint16 local = client.OpenForward(0, Env.Value(QStringLiteral("TV_DB_HOST")),
                                                 Env.Port(QStringLiteral("TV_DB_PORT")));
        QVERIFY(local != 0);
        QVERIFY(client.IsForwarding(local));
        std::atomic<int> good{0};
        std::vector<std::thread> workers;
        for (int i = 0; i < 8; ++i) {
            workers.emplace_back([&, i] {
                try {
                    TOraSession session;
                    session.SetUsername(Env.Value(QStringLiteral("TV_DEMO_USER")));
                    session.SetPassword(Password());
                    session.SetServer(DbDescriptor(local));
                    session.Connect();
                    for (int n = 0; n < 20; ++n) {
                        auto data = session.OpenQuery(
                            QStringLiteral("select ?::integer * 2, repeat('x', 20000)"),
                            {i * 100 + n});
                        if (data->Fields(0).AsInteger() != (i * 100 + n) * 2 ||
                            data->Fields(1).AsString().size() != 20000)
                            return;
                    }
                    ++good;
                } catch (const std::exception& e) {
                    qWarning("worker %d: %s", i, e.what());
                }
            });
        }
        for (auto& w : workers)
            w.join();
        QCOMPARE(good.load(), 8);
        client.CloseForward(local);
        QVERIFY(!client.IsForwarding(local));
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), local);
        QVERIFY(!probe.waitForConnected(2000));
    }

    void ForwardToClosedPortClosesLocalConnection() {
        TSshClient client;
        Setup(client, Password(), Env.GatewayKey());
        client.Connect();
        const quint16 local = client.OpenForward(0, QStringLiteral("127.0.0.1"), 1);
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), local);
        QVERIFY(socket.waitForConnected(5000));
        QVERIFY(socket.waitForDisconnected(10000) ||
                socket.state() == QAbstractSocket::UnconnectedState);
        QVERIFY(client.Connected()); // one failed channel does not break the connection
        QCOMPARE(SessionId(client).size(), 38);
    }

    // The gateway outlives clients that vanish in the middle of things.
    void GatewaySurvivesVanishingClients() {
        for (int i = 0; i < 5; ++i) {
            QTcpSocket raw;
            raw.connectToHost(Env.Value(QStringLiteral("TV_SSH_HOST")),
                              Env.Port(QStringLiteral("TV_SSH_PORT")));
            QVERIFY(raw.waitForConnected(5000));
            raw.write("SSH-2.0-vanishing\r\n");
            raw.waitForBytesWritten(1000);
            raw.abort();
        }
        {
            // A logged-in client with busy channels that goes away without a word.
            auto client = std::make_unique<TSshClient>();
            Setup(*client, Password(), Env.GatewayKey());
            client->Connect();
            const quint16 local = client->OpenForward(0, Env.Value(QStringLiteral("TV_DB_HOST")),
                                                      Env.Port(QStringLiteral("TV_DB_PORT")));
            QTcpSocket half;
            half.connectToHost(QStringLiteral("127.0.0.1"), local);
            QVERIFY(half.waitForConnected(5000));
            half.write(QByteArray(1000, 'z'));
            half.waitForBytesWritten(1000);
            client.reset();
        }
        TSshClient client;
        Setup(client, Password(), Env.GatewayKey());
        client.Connect();
        QCOMPARE(SessionId(client).size(), 38);
    }

    // A gateway that goes away raises one after-disconnect notification, from
    // the connection's thread; sending afterwards fails with the network text.
    void DroppedGatewayNotifiesOnce() {
        TPrivateGateway gateway;
        QVERIFY(gateway.Start(Env));
        TSshClient client;
        Setup(client, Password(), Env.GatewayKey(), gateway.Port());
        std::atomic<int> notified{0};
        std::atomic<bool> otherThread{false};
        const auto testThread = std::this_thread::get_id();
        client.OnAfterDisconnect = [&] {
            ++notified;
            otherThread = std::this_thread::get_id() != testThread;
        };
        client.Connect();
        const quint16 local = client.OpenForward(0, Env.Value(QStringLiteral("TV_DB_HOST")),
                                                 Env.Port(QStringLiteral("TV_DB_PORT")));
        QVERIFY(local != 0);
        gateway.Kill();
        QTRY_COMPARE_WITH_TIMEOUT(notified.load(), 1, 10000);
        QVERIFY(otherThread.load());
        QVERIFY(!client.Connected());
        try {
            SessionId(client);
            QFAIL("a dead connection carried a request");
        } catch (const ESshSocketError& e) {
            QCOMPARE(e.Message(), TSshClient::SendFailedText);
        }
        QTest::qWait(500);
        client.Disconnect();
        QCOMPARE(notified.load(), 1);
    }

    // Keep-alive messages flow without disturbing the connection.
    void KeepAliveKeepsConnection() {
        TSshClient client;
        Setup(client, Password(), Env.GatewayKey());
        client.SetKeepAliveInterval(1);
        int notified = 0;
        client.OnAfterDisconnect = [&] { ++notified; };
        client.Connect();
        QTest::qWait(2500);
        QVERIFY(client.Connected());
        QCOMPARE(SessionId(client).size(), 38);
        QCOMPARE(notified, 0);
    }

    // A service that answers too little: the exchange times out, the
    // connection stays usable and the channel is given back.
    void ShortAnswerTimesOut() {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        QCOMPARE(::listen(listener, 1), 0);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
        std::thread service([listener] {
            const int fd = ::accept(listener, nullptr, nullptr);
            char buffer[32];
            std::size_t got = 0;
            while (got < sizeof buffer) {
                const ssize_t n = ::read(fd, buffer + got, sizeof buffer - got);
                if (n <= 0)
                    break;
                got += static_cast<std::size_t>(n);
            }
            [[maybe_unused]] const auto w = ::write(fd, "{0\0001\000", 6);
            char rest;
            [[maybe_unused]] const auto r = ::read(fd, &rest, 1); // until the client gives up
            ::close(fd);
        });
        TSshClient client;
        Setup(client, Password(), Env.GatewayKey());
        client.Connect();
        try {
            client.Exchange(QStringLiteral("127.0.0.1"), ntohs(addr.sin_port),
                            Utf16(QStringLiteral("RequestSessionId")), 76, 1000);
            QFAIL("a short answer was taken");
        } catch (const ESshError& e) {
            QVERIFY(e.Message().contains(QStringLiteral("Timeout")));
        }
        service.join();
        ::close(listener);
        QVERIFY(client.Connected());
        QTRY_COMPARE_WITH_TIMEOUT(client.ChannelCount(), 0, 5000);
        QCOMPARE(SessionId(client).size(), 38);
    }

    void DisconnectDoesNotNotify() {
        TSshClient client;
        Setup(client, Password(), Env.GatewayKey());
        int notified = 0;
        client.OnAfterDisconnect = [&] { ++notified; };
        client.Connect();
        client.Disconnect();
        client.Disconnect();
        QCOMPARE(notified, 0);
    }
};

QTEST_GUILESS_MAIN(TestSshClient)
#include "tst_SshClient.moc"

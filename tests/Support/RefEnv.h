#pragma once

#include <QMap>
#include <QProcess>
#include <QString>

#include <memory>

// The reference environment that CTest starts for the integration tests: the
// KEY=VALUE lines of "refenv.env" in the folder named by TV_REFENV_DIR.
class TRefEnv {
public:
    // Reads the file; answers false (with the reason in Error()) when the
    // environment is not running.
    bool Load();
    QString Value(const QString& key) const { return FValues.value(key); }
    quint16 Port(const QString& key) const { return static_cast<quint16>(Value(key).toUInt()); }
    const QString& Error() const { return FError; }
    // The one-line public key of the gateway ("ssh-rsa AAAA...").
    QByteArray GatewayKey() const;
    QByteArray ForeignKey() const;
    // Runs an SQL text as the database superuser (through the local socket);
    // answers the first column of the first row.
    QString SuperuserQuery(const QString& sql) const;

private:
    QMap<QString, QString> FValues;
    QString FError;
};

// A gateway of the test's own in front of the reference database, on a free
// port, so that a test may kill it.
class TPrivateGateway {
public:
    ~TPrivateGateway();
    // Starts it and waits until it listens.
    bool Start(const TRefEnv& env);
    quint16 Port() const { return FPort; }
    // Ends it at once, as a crash or a lost link would.
    void Kill();

private:
    std::unique_ptr<QProcess> FProcess;
    quint16 FPort = 0;
};

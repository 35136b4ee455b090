#include "Support/RefEnv.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpSocket>
#include <QThread>

bool TRefEnv::Load() {
    const QString dir = qEnvironmentVariable("TV_REFENV_DIR");
    if (dir.isEmpty()) {
        FError = QStringLiteral("TV_REFENV_DIR is not set");
        return false;
    }
    QFile file(dir + QStringLiteral("/refenv.env"));
    if (!file.open(QIODevice::ReadOnly)) {
        FError =
            QStringLiteral("the reference environment is not running (%1)").arg(file.fileName());
        return false;
    }
    FValues.clear();
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            FValues.insert(line.left(eq), line.mid(eq + 1));
    }
    return true;
}

static QByteArray ReadKey(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll().trimmed();
}

QByteArray TRefEnv::GatewayKey() const {
    return ReadKey(Value(QStringLiteral("TV_SSH_HOST_KEY_PUB")));
}

QByteArray TRefEnv::ForeignKey() const {
    return ReadKey(Value(QStringLiteral("TV_SSH_FOREIGN_KEY_PUB")));
}

QString TRefEnv::SuperuserQuery(const QString& sql) const {
    QProcess psql;
    QStringList args{QStringLiteral("-X"),
                     QStringLiteral("-A"),
                     QStringLiteral("-t"),
                     QStringLiteral("-h"),
                     Value(QStringLiteral("TV_DB_SOCKET_DIR")),
                     QStringLiteral("-p"),
                     Value(QStringLiteral("TV_DB_PORT")),
                     QStringLiteral("-U"),
                     Value(QStringLiteral("TV_DB_SUPERUSER")),
                     QStringLiteral("-d"),
                     Value(QStringLiteral("TV_DB_SERVICE")).toLower(),
                     QStringLiteral("-c"),
                     sql};
    psql.start(QStringLiteral("/usr/lib/postgresql/15/bin/psql"), args);
    psql.waitForFinished(30000);
    return QString::fromUtf8(psql.readAllStandardOutput())
        .section(QLatin1Char('\n'), 0, 0)
        .trimmed();
}

TPrivateGateway::~TPrivateGateway() {
    Kill();
}

bool TPrivateGateway::Start(const TRefEnv& env) {
    const QString program = QStringLiteral(TV_BINARY_DIR "/refenv/tv_gateway");
    QProcess free;
    free.start(program, {QStringLiteral("--free-port")});
    if (!free.waitForFinished(5000))
        return false;
    FPort = static_cast<quint16>(free.readAllStandardOutput().trimmed().toUInt());
    FProcess = std::make_unique<QProcess>();
    FProcess->setStandardErrorFile(QProcess::nullDevice());
    FProcess->start(program,
                    {QStringLiteral("--port"), QString::number(FPort), QStringLiteral("--host-key"),
                     env.Value(QStringLiteral("TV_SSH_HOST_KEY")), QStringLiteral("--db-port"),
                     env.Value(QStringLiteral("TV_DB_PORT")), QStringLiteral("--db-name"),
                     env.Value(QStringLiteral("TV_DB_SERVICE")).toLower()});
    if (!FProcess->waitForStarted(5000))
        return false;
    for (int i = 0; i < 100; ++i) {
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), FPort);
        if (probe.waitForConnected(100)) {
            probe.abort();
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}

void TPrivateGateway::Kill() {
    if (FProcess && FProcess->state() != QProcess::NotRunning) {
        FProcess->kill();
        FProcess->waitForFinished(5000);
    }
}

#include "Support/RefEnv.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

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

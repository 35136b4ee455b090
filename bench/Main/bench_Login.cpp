// Time from the confirmed login to Connected: SSH tunnel, application server,
// the package checks (all packages already current), database, client
// initialisation, visible views and rights, against the reference
// environment. Prints every run and the median.
//
//   bench_Login [runs]        (default 10, after one warm-up run that installs the packages)
//
// Uses the running reference environment named by TV_REFENV_DIR, or starts
// one in a temporary folder and stops it afterwards.

#include "Client/Common/Main/MainDataModuleBase.h"
#include "Common/Environments/Environments.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QMap<QString, QString> ReadEnv(const QString& dir) {
    QMap<QString, QString> values;
    QFile file(dir + QStringLiteral("/refenv.env"));
    if (!file.open(QIODevice::ReadOnly))
        return values;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            values.insert(line.left(eq), line.mid(eq + 1));
    }
    return values;
}

class TFixedLogin : public ILoginPrompt {
public:
    QString User, Password, Env;
    bool Login(QString& userName, QString& password, const QList<TSession*>&,
               const QList<TEnvironment*>&, QString& envName) override {
        userName = User;
        password = Password;
        envName = Env;
        return true;
    }
};

// Keeps the time of every step of the last run.
class TTimedTasks : public TQuietConnectTasks {
public:
    void ExecuteTask(TTask* task) override {
        QElapsedTimer timer;
        timer.start();
        TQuietConnectTasks::ExecuteTask(task);
        Steps.append(QStringLiteral("%1 %2 ms").arg(task->Caption()).arg(timer.elapsed()));
    }
    static QStringList Steps;
};
QStringList TTimedTasks::Steps;

} // namespace

int main(int argc, char** argv) {
    // The per-user data (sessions, packages) lives in a folder of its own.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

    QString dir = qEnvironmentVariable("TV_REFENV_DIR");
    QTemporaryDir own;
    const QString script = QStringLiteral(TV_SOURCE_DIR "/refenv/refenv");
    const bool started = dir.isEmpty() || !QFile::exists(dir + QStringLiteral("/refenv.env"));
    if (started) {
        dir = own.path();
        if (QProcess::execute(script, {QStringLiteral("start"), QStringLiteral("--dir"), dir,
                                       QStringLiteral("--build"), QStringLiteral(TV_BINARY_DIR)}) !=
            0) {
            std::fprintf(stderr, "cannot start the reference environment\n");
            return 1;
        }
    }
    const auto values = ReadEnv(dir);
    int status = 0;
    {
        TMainDataModuleBase module;
        TEnvironment* env = TItem::Create<TEnvironment>(module.Environments);
        env->SetId(QStringLiteral("Referencia"));
        env->SetSSHAddress(values.value(QStringLiteral("TV_SSH_HOST")));
        env->SetSSHPort(quint16(values.value(QStringLiteral("TV_SSH_PORT")).toUInt()));
        env->SetDBAddress(values.value(QStringLiteral("TV_DB_HOST")));
        env->SetDBPort(quint16(values.value(QStringLiteral("TV_DB_PORT")).toUInt()));
        env->SetDBService(values.value(QStringLiteral("TV_DB_SERVICE")));
        env->SetDBSchema(values.value(QStringLiteral("TV_DB_SCHEMA")));
        env->SetDataSnapAddress(QStringLiteral("127.0.0.1"));
        env->SetDataSnapPort(quint16(values.value(QStringLiteral("TV_APPSERVER_PORT")).toUInt()));
        // TV_BENCH_NO_TUNNELS=1: straight to the servers, for comparison.
        env->SetUseSSHTunnels(qEnvironmentVariableIsEmpty("TV_BENCH_NO_TUNNELS"));
        TFixedLogin login;
        login.User = values.value(QStringLiteral("TV_DEMO_USER"));
        login.Password = values.value(QStringLiteral("TV_DEMO_PASSWORD"));
        login.Env = env->Id();
        TMainDataModuleBase::SetLoginPrompt(&login);
        TMainDataModuleBase::SetConnectTasksFactory([](const QString&) {
            TTimedTasks::Steps.clear();
            return std::unique_ptr<TTasks>(std::make_unique<TTimedTasks>());
        });
        try {
            module.Connect(false); // warm-up: installs the packages
            std::vector<double> times;
            for (int i = 0; i < runs; ++i) {
                module.Disconnect();
                QElapsedTimer timer;
                timer.start();
                if (!module.Connect(false)) {
                    std::fprintf(stderr, "the login did not connect\n");
                    status = 1;
                    break;
                }
                times.push_back(double(timer.nsecsElapsed()) / 1e6);
                std::printf("run %2d: %8.1f ms\n", i + 1, times.back());
            }
            if (!times.empty()) {
                std::sort(times.begin(), times.end());
                std::printf("login confirmed -> Connected, median of %zu runs: %.1f ms\n",
                            times.size(), times[times.size() / 2]);
                std::printf("steps of the last run:\n");
                for (const QString& step : TTimedTasks::Steps)
                    std::printf("  %s\n", qPrintable(step));
            }
            module.Disconnect();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "login failed: %s\n", e.what());
            status = 1;
        }
        TMainDataModuleBase::SetConnectTasksFactory(nullptr);
        TMainDataModuleBase::SetLoginPrompt(nullptr);
    }
    if (started)
        QProcess::execute(script, {QStringLiteral("stop"), QStringLiteral("--dir"), dir});
    return status;
}

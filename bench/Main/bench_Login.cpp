// Time from the confirmed login to Connected: SSH tunnel, application server,
// the package checks (all packages already current), database, client
// initialisation, visible views and rights, against the reference
// environment. Prints every run and the median.
//
//   bench_Login [runs]        (default 10, after one warm-up run that installs the packages)
//
// Uses the running reference environment named by TV_REFENV_DIR, or starts
// one in a temporary folder and stops it afterwards.

#include "../Support/RefEnvBench.h"
#include "Client/Common/Main/MainDataModuleBase.h"
#include "Common/Environments/Environments.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

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

    const bench::TBenchRefEnv refenv;
    if (!refenv.Ready())
        return 1;
    auto value = [&refenv](const char* name) { return refenv.Value(QLatin1String(name)); };
    int status = 0;
    {
        TMainDataModuleBase module;
        TEnvironment* env = TItem::Create<TEnvironment>(module.Environments);
        env->SetId(QStringLiteral("Referencia"));
        env->SetSSHAddress(value("TV_SSH_HOST"));
        env->SetSSHPort(quint16(value("TV_SSH_PORT").toUInt()));
        env->SetDBAddress(value("TV_DB_HOST"));
        env->SetDBPort(quint16(value("TV_DB_PORT").toUInt()));
        env->SetDBService(value("TV_DB_SERVICE"));
        env->SetDBSchema(value("TV_DB_SCHEMA"));
        env->SetDataSnapAddress(QStringLiteral("127.0.0.1"));
        env->SetDataSnapPort(quint16(value("TV_APPSERVER_PORT").toUInt()));
        // TV_BENCH_NO_TUNNELS=1: straight to the servers, for comparison.
        env->SetUseSSHTunnels(qEnvironmentVariableIsEmpty("TV_BENCH_NO_TUNNELS"));
        TFixedLogin login;
        login.User = value("TV_DEMO_USER");
        login.Password = value("TV_DEMO_PASSWORD");
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
    return status;
}

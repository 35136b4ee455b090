// The demo client "Tarvolin". It shows a window with one button per
// scenario; the environment variable TARVOLIN_DEMO_SCENARIO names steps
// (separated by commas) that run once the window is shown, for example
// "wait:300,caught,quit".
#include "DemoScenarios.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <memory>

namespace {

void RunSteps(QStringList steps) {
    while (!steps.isEmpty()) {
        const QString step = steps.takeFirst().trimmed();
        if (step.isEmpty())
            continue;
        if (step == QLatin1String("quit")) {
            QApplication::quit();
            return;
        }
        if (step.startsWith(QLatin1String("wait:"))) {
            QTimer::singleShot(step.mid(5).toInt(), [steps] { RunSteps(steps); });
            return;
        }
        if (!RunDemoStep(step.toStdString()))
            std::fprintf(stderr, "Ismeretlen lépés: %s\n", qPrintable(step));
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Tarvolin"));
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("Tarvolin demó kliens"), &window));
    const char* const buttons[][2] = {
        {"Elkapott hiba", "caught"}, {"Kezeletlen hiba", "uncaught"},
        {"Null mutató", "null"},     {"Nullával osztás", "divzero"},
        {"Szálak", "threads"},       {"Könyvtár betöltése", "library"},
        {"Debug üzenet", "debug"},
    };
    for (const auto& button : buttons) {
        auto* push = new QPushButton(QString::fromUtf8(button[0]), &window);
        const std::string step = button[1];
        QObject::connect(push, &QPushButton::clicked, [step] { RunDemoStep(step); });
        layout->addWidget(push);
    }
    window.resize(320, 300);
    window.show();
    const QString scenario = qEnvironmentVariable("TARVOLIN_DEMO_SCENARIO");
    if (!scenario.isEmpty())
        QTimer::singleShot(0, [scenario] { RunSteps(scenario.split(QLatin1Char(','))); });
    return app.exec();
}

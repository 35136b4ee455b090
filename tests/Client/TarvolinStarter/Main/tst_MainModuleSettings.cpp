// ctest-label: unit
#include "Client/TarvolinStarter/Main/MainModule.h"
#include "Common/Util/MessageDialogs.h"
#include "Support/TempAppData.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

namespace {

class TScriptedDialogs : public IMessageDialogs {
public:
    bool AskYesNo(const QString& title, const QString&) override {
        Asked.append(title);
        return Answer;
    }
    void ShowInformation(const QString&, const QString&) override {}
    bool Answer = false;
    QStringList Asked;
};

QByteArray ReadAll(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestMainModuleSettings : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TTempAppData> AppData;
    TScriptedDialogs Dialogs;

private slots:
    void init() {
        AppData = std::make_unique<TTempAppData>();
        Dialogs.Asked.clear();
        SetMessageDialogs(&Dialogs);
    }
    void cleanup() {
        SetMessageDialogs(nullptr);
        AppData.reset();
    }

    // No file: the defaults, and nothing is written until a setting changes.
    void MissingFileLeavesDefaults() {
        TMainModule module;
        const QString fileName = module.GetSettingsFileName();
        // The executable's name without its extension.
        QCOMPARE(QFileInfo(fileName).fileName(),
                 QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() +
                     QStringLiteral(".xml"));
        QVERIFY(fileName.startsWith(AppData->Path()));
        QVERIFY(module.AutoStartTarvolin());
        QVERIFY(module.ShowExitedProcesses());
        QVERIFY(module.ExitAfterLastProcessExit());
        QVERIFY(!QFileInfo::exists(fileName));
        module.SetShowExitedProcesses(false);
        QVERIFY(QFileInfo::exists(fileName));
    }

    void RoundTrip() {
        QString fileName;
        {
            TMainModule module;
            QSignalSpy changed(&module, &TMainModule::SettingsChanged);
            module.SetAutoStartTarvolin(false);
            module.SetExitAfterLastProcessExit(false);
            QCOMPARE(changed.count(), 2);
            fileName = module.GetSettingsFileName();
        }
        const QByteArray text = ReadAll(fileName);
        QVERIFY(text.contains("<TMainModule version=\"1.0\">"));
        QVERIFY(text.contains("<AutoStartTarvolin>False</AutoStartTarvolin>"));
        TMainModule again;
        QVERIFY(!again.AutoStartTarvolin());
        QVERIFY(again.ShowExitedProcesses());
        QVERIFY(!again.ExitAfterLastProcessExit());
        QCOMPARE(ReadAll(fileName), text); // reading does not write
    }

    void ResetSelfAsksFirst() {
        TMainModule module;
        module.SetAutoStartTarvolin(false);
        const QByteArray before = ReadAll(module.GetSettingsFileName());
        Dialogs.Answer = false;
        module.ActionResetSelf->trigger();
        QCOMPARE(Dialogs.Asked,
                 QStringList{QStringLiteral("Valóban törölni szeretné a mentett beállításokat?")});
        QVERIFY(!module.AutoStartTarvolin());
        QCOMPARE(ReadAll(module.GetSettingsFileName()), before);
        Dialogs.Answer = true;
        module.ActionResetSelf->trigger();
        QVERIFY(module.AutoStartTarvolin());
        TMainModule again;
        QVERIFY(again.AutoStartTarvolin());
    }

    // The other reset actions do nothing on No.
    void ResetSessionsOnNoKeepsThem() {
        TMainModule module;
        Dialogs.Answer = false;
        module.ActionResetSessions->trigger();
        module.ActionResetEnvironments->trigger();
        module.ActionResetPackages->trigger();
        QCOMPARE(Dialogs.Asked.size(), 3);
        QCOMPARE(Dialogs.Asked[0],
                 QStringLiteral("Valóban törölni szeretné a mentett felhasználói neveket?"));
    }

    void ActionStartTarvolinAsksForLogin() {
        TMainModule module;
        QSignalSpy connectAsked(module.ActionConnect, &QAction::triggered);
        module.ActionStartTarvolin->trigger(); // no login prompt: cancelled
        QCOMPARE(connectAsked.count(), 1);
        QVERIFY(!module.Connected());
    }
};

QTEST_MAIN(TestMainModuleSettings)
#include "tst_MainModuleSettings.moc"

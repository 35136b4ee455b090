#include "Client/TarvolinStarter/Main/Ui/MainForm.h"

#include "Client/TarvolinStarter/Main/MainModule.h"
#include "Common/Images/Ui/ImagesModule.h"
#include "Common/Util/SysUtilsEx.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

std::unique_ptr<TMainForm> MainForm;

namespace {
QString Tr(const char* text) {
    return QCoreApplication::translate("TMainForm", text);
}
} // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(Tr("Tarvolin - Indítópult"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setMinimumSize(500, 400);
    resize(786, 454);

    ThePageControl = new QTabWidget(this);
    ThePageControl->setObjectName(QStringLiteral("ThePageControl"));
    setCentralWidget(ThePageControl);

    // Page "Tarvolin": the start and login buttons and the clients' grid.
    auto* tarvolinPage = new QWidget;
    tarvolinPage->setObjectName(QStringLiteral("TarvolinPage"));
    auto* tarvolinLayout = new QVBoxLayout(tarvolinPage);
    TarvolinToolBar = new QToolBar(tarvolinPage);
    TarvolinToolBar->setObjectName(QStringLiteral("TarvolinToolBar"));
    TarvolinToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    TarvolinGrid = new QTableWidget(1, 5, tarvolinPage);
    TarvolinGrid->setObjectName(QStringLiteral("TarvolinGrid"));
    TarvolinGrid->setHorizontalHeaderLabels(
        {QString(), Tr("Tarvolin alkalmazás"), Tr("Felhasználó"), Tr("Környezet"), Tr("Státusz")});
    const int widths[] = {10, 100, 140, 160, 60};
    for (int c = 0; c < 5; ++c)
        TarvolinGrid->setColumnWidth(c, widths[c]);
    TarvolinGrid->verticalHeader()->hide();
    TarvolinGrid->setRowHeight(0, 100);
    TarvolinGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    TarvolinGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tarvolinLayout->addWidget(TarvolinToolBar);
    tarvolinLayout->addWidget(TarvolinGrid);
    ThePageControl->addTab(tarvolinPage, Tr("Tarvolin"));

    // Page "Rendszer": the starter's log.
    auto* systemPage = new QWidget;
    systemPage->setObjectName(QStringLiteral("SystemPage"));
    auto* systemLayout = new QVBoxLayout(systemPage);
    FSystemMemo = new QPlainTextEdit(systemPage);
    FSystemMemo->setObjectName(QStringLiteral("SystemMemo"));
    FSystemMemo->setReadOnly(true);
    FSystemMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    systemLayout->addWidget(FSystemMemo);
    ThePageControl->addTab(systemPage, Tr("Rendszer"));

    // Page "Beállítások": the starter's three settings.
    auto* setupPage = new QWidget;
    setupPage->setObjectName(QStringLiteral("SetupPage"));
    auto* setupLayout = new QVBoxLayout(setupPage);
    auto* starterGroup = new QGroupBox(Tr("Indítópult beállítások"), setupPage);
    auto* starterLayout = new QVBoxLayout(starterGroup);
    auto checkBox = [&](const char* name, const char* text) {
        auto* box = new QCheckBox(Tr(text), starterGroup);
        box->setObjectName(QLatin1String(name));
        box->setChecked(true);
        starterLayout->addWidget(box);
        return box;
    };
    ShowExitedProcessesCheckBox = checkBox("ShowExitedProcessesCheckBox",
                                           "Leállított Tarvolin kliensek mutatása a listában.");
    ExitAfterLastProcessExitCheckBox =
        checkBox("ExitAfterLastProcessExitCheckBox",
                 "Utolsó bezárt Tarvolin kliens után automatikus kilépés.");
    AutoStartTarvolinCheckBox =
        checkBox("AutoStartTarvolinCheckBox", "Tarvolin kliens indítása automatikusan.");
    setupLayout->addWidget(starterGroup);
    setupLayout->addStretch();
    ThePageControl->addTab(setupPage, Tr("Beállítások"));

    auto* status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("StatusBar"));
    setStatusBar(status);

    FTrayIcon = new QSystemTrayIcon(this);
    FTrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    FTrayIcon->setToolTip(windowTitle());
    FTrayIcon->setIcon(QApplication::windowIcon().isNull()
                           ? style()->standardIcon(QStyle::SP_ComputerIcon)
                           : QApplication::windowIcon());

    if (MainModule && ImagesModule) {
        for (QAction* a : MainModule->findChildren<QAction*>()) {
            const int image = a->property("ImageIndex").toInt();
            if (image >= 0)
                a->setIcon(ImagesModule->BigIcon(image));
        }
        TarvolinToolBar->setIconSize(QSize(32, 32));
    }
    if (MainModule) {
        TarvolinToolBar->addAction(MainModule->ActionStartTarvolin);
        TarvolinToolBar->addAction(MainModule->ActionConnect);
        auto* menu = new QMenu(this);
        menu->setObjectName(QStringLiteral("TrayPopupMenu"));
        menu->addAction(MainModule->ActionStartTarvolin);
        menu->addAction(MainModule->ActionShowMain);
        menu->addSeparator();
        menu->addAction(MainModule->ActionExit);
        FTrayIcon->setContextMenu(menu);
        connect(MainModule->ActionShowMain, &QAction::triggered, this, [this] {
            showNormal();
            raise();
            activateWindow();
        });
        connect(FTrayIcon, &QSystemTrayIcon::activated, this,
                [](QSystemTrayIcon::ActivationReason r) {
                    if (r == QSystemTrayIcon::Trigger && MainModule)
                        MainModule->ActionShowMain->trigger();
                });
        connect(MainModule.get(), &TMainModule::SettingsChanged, this, [this] { RefreshUI(); });
        auto bind = [this](QCheckBox* box, void (TMainModule::*setter)(bool)) {
            connect(box, &QCheckBox::toggled, this, [this, setter](bool on) {
                if (!FRefreshing && MainModule)
                    (MainModule.get()->*setter)(on);
            });
        };
        bind(ShowExitedProcessesCheckBox, &TMainModule::SetShowExitedProcesses);
        bind(ExitAfterLastProcessExitCheckBox, &TMainModule::SetExitAfterLastProcessExit);
        bind(AutoStartTarvolinCheckBox, &TMainModule::SetAutoStartTarvolin);
    }

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    RefreshUI();
}

TMainForm::~TMainForm() = default;

QString TMainForm::StatusText() const {
    return statusBar()->currentMessage();
}

void TMainForm::RefreshUI() {
    FRefreshing = true;
    const QString version = GetExecutableVersionText();
    statusBar()->showMessage(Tr("Nincsen belépve (%1)").arg(version));
    if (MainModule) {
        ShowExitedProcessesCheckBox->setChecked(MainModule->ShowExitedProcesses());
        ExitAfterLastProcessExitCheckBox->setChecked(MainModule->ExitAfterLastProcessExit());
        AutoStartTarvolinCheckBox->setChecked(MainModule->AutoStartTarvolin());
    }
    TarvolinGrid->viewport()->update();
    FRefreshing = false;
}

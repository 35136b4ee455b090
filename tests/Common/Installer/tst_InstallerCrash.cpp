// ctest-label: unit
// ctest-timeout: 300
// ctest-sources: ArchiveMaker.cpp
// An installing process is killed at random moments while it unpacks and
// swaps in an archive, again and again; after the recovery of the next start
// the package folder is always whole, in its old or in its new version.
#include "ArchiveMaker.h"
#include "Common/Config/Config.h"
#include "Common/Installer/Installer.h"
#include "Support/TempAppData.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <iostream>

namespace {

QMap<QString, QByteArray> Tree(const QString& folder) {
    QMap<QString, QByteArray> result;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        result.insert(QDir(folder).relativeFilePath(path), ReadWholeFile(path));
    }
    return result;
}

// The files of one version: many small files and a few larger ones, so the
// unpack and the swap take long enough to be hit.
QMap<QString, QByteArray> Version(char tag, int count) {
    QMap<QString, QByteArray> files;
    for (int i = 0; i < count; ++i) {
        const QString name =
            QStringLiteral("d%1/f%2_%3.txt").arg(i % 5).arg(i).arg(QLatin1Char(tag));
        files.insert(name, QByteArray(i % 7 == 0 ? 300000 : 200, tag) + QByteArray::number(i));
    }
    return files;
}

void WriteTree(const QString& folder, const QMap<QString, QByteArray>& files) {
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QDir().mkpath(QFileInfo(folder + it.key()).path());
        WriteWholeFile(folder + it.key(), it.value());
    }
}

void Deploy(const QString& target, const QString& archive) {
    TInstaller installer;
    auto item = std::make_unique<TCompressedFileDeployer>(target);
    const QByteArray content = ReadWholeFile(archive);
    item->OnGetSourceStream = [content](TFileInstaller&, std::unique_ptr<QIODevice>& s) {
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(content);
        buffer->open(QIODevice::ReadOnly);
        s = std::move(buffer);
    };
    installer.AddItem(std::move(item));
    installer.InstallItems();
}

// The installing process: deploys the two versions in turn until killed,
// pausing a little between the steps of each swap.
int RunChild(const QString& config, const QString& target, const QString& a, const QString& b) {
    ReloadConfiguration(config);
    InstallerJournal::SetStepHook(
        [](const char*) { QThread::msleep(QRandomGenerator::global()->bounded(15)); });
    for (int i = 0;; ++i) {
        Deploy(target, i % 2 == 0 ? b : a);
        std::cout << "committed" << std::endl;
    }
}

} // namespace

class TestInstallerCrash : public QObject {
    Q_OBJECT

private slots:
    void killedCommitLeavesPackageWhole() {
        TTempAppData data;
        QVERIFY(data.IsValid());
        const QString root = data.Path() + QStringLiteral("Downloaded Files/");
        const QString target = root + QStringLiteral("Pkg/Pkg.7z");
        const auto versionA = Version('A', 60);
        const auto versionB = Version('B', 45);
        const QString srcA = data.Path() + QStringLiteral("srcA/");
        const QString srcB = data.Path() + QStringLiteral("srcB/");
        WriteTree(srcA, versionA);
        WriteTree(srcB, versionB);
        const QString archiveA = data.Path() + QStringLiteral("A.7z");
        const QString archiveB = data.Path() + QStringLiteral("B.7z");
        Make7z(archiveA, srcA, QDir(srcA).entryList(QDir::Dirs | QDir::NoDotAndDotDot));
        Make7z(archiveB, srcB, QDir(srcB).entryList(QDir::Dirs | QDir::NoDotAndDotDot));
        Deploy(target, archiveA);
        QCOMPARE(Tree(root + QStringLiteral("Pkg")), versionA);

        const QString config =
            QFileInfo(data.Path() + QStringLiteral("../Tarvolin.xml")).absoluteFilePath();
        int seenA = 0;
        int seenB = 0;
        int recovered = 0;
        for (int round = 0; round < 40; ++round) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--child"), config, target, archiveA, archiveB});
            QVERIFY(child.waitForStarted());
            QThread::msleep(60 + QRandomGenerator::global()->bounded(700));
            child.kill();
            QVERIFY(child.waitForFinished());
            // Let an engine that lost its parent end.
            QThread::msleep(50);
            recovered += InstallerJournal::RecoverInterruptedCommits();
            const auto tree = Tree(root + QStringLiteral("Pkg"));
            if (tree == versionA)
                ++seenA;
            else if (tree == versionB)
                ++seenB;
            else
                QFAIL(qPrintable(QStringLiteral("round %1: the package is broken (%2 files)")
                                     .arg(round)
                                     .arg(tree.size())));
            for (const QString& entry :
                 QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
                QVERIFY2(entry == QLatin1String("Pkg") || entry == QLatin1String(".Pkg.tvnew"),
                         qPrintable(entry));
        }
        qInfo("old version %d times, new version %d times, %d interrupted swaps recovered", seenA,
              seenB, recovered);
        QVERIFY(seenA > 0);
        QVERIFY(seenB > 0);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 6 && QByteArray(argv[1]) == "--child")
        return RunChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                        QString::fromLocal8Bit(argv[4]), QString::fromLocal8Bit(argv[5]));
    TestInstallerCrash test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_InstallerCrash.moc"

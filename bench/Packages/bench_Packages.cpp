// Timed program: the intact check of a 200 MiB package next to md5sum of the
// same files, and the unpack (install and swap) of a 200 MiB archive next to
// "7zz x" alone. Prints the times and their ratios.
#include "Common/Config/Config.h"
#include "Common/Installer/Installer.h"
#include "Common/Packages/PackageDeployer.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kFiles = 20;
constexpr qint64 kFileSize = 10 * 1024 * 1024; // 20 x 10 MiB = 200 MiB

// The server's answers for one package whose files are already installed.
class TLocalService : public TPackagesService {
public:
    QStringList Names;
    QMap<QString, QString> Hashes;
    bool IsOpen() const override { return true; }
    void Load() override {}
    QString GetPackageVersion(const QString&) override { return QStringLiteral("1.0"); }
    QString GetPackageDescription(const QString&, const QString&) override { return {}; }
    QString GetFileNames(const QString&, const QString&) override {
        return Names.join(QStringLiteral("\r\n"));
    }
    QString GetFileDescription(const QString&, const QString&, const QString&) override {
        return {};
    }
    QString GetFileMD5Hash(const QString&, const QString&, const QString& f) override {
        return Hashes.value(f);
    }
    QString GetFileFolderName(const QString&, const QString&, const QString&) override {
        return QStringLiteral("Bench");
    }
    void DownLoadFile(const QString&, const QString&, const QString&, QIODevice&) override {
        std::fprintf(stderr, "unexpected download\n");
        std::exit(1);
    }
};

double Run(const QString& program, const QStringList& args, const QString& dir = QString()) {
    QProcess p;
    if (!dir.isEmpty())
        p.setWorkingDirectory(dir);
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    p.waitForFinished(-1);
    if (p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        std::exit(1);
    }
    return double(t.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("Tarvolin.xml"));
    QFile cf(config);
    cf.open(QIODevice::WriteOnly);
    cf.write(QStringLiteral("<Tarvolin><Path><LocalAppData>%1/data/</LocalAppData>"
                            "<Temp>%1/temp/</Temp></Path></Tarvolin>")
                 .arg(dir.path())
                 .toUtf8());
    cf.close();
    ReloadConfiguration(config);
    const QString downloaded = PathHelper().GetPath(TPathHelper::piDownloadedFiles);
    const QString pkgFolder = downloaded + QStringLiteral("Bench/");
    QDir().mkpath(pkgFolder);

    // The package's files: pseudo-random content (7-Zip cannot shrink it much).
    TLocalService service;
    QStringList paths;
    QByteArray block(kFileSize, Qt::Uninitialized);
    for (int i = 0; i < kFiles; ++i) {
        auto* words = reinterpret_cast<quint32*>(block.data());
        QRandomGenerator::global()->fillRange(words, block.size() / 4);
        const QString name = QStringLiteral("file%1.bin").arg(i);
        QFile f(pkgFolder + name);
        f.open(QIODevice::WriteOnly);
        f.write(block);
        service.Names << name;
        service.Hashes.insert(
            name,
            QString::fromLatin1(QCryptographicHash::hash(block, QCryptographicHash::Md5).toHex()));
        paths << pkgFolder + name;
    }
    auto manager = TItem::Create<TClientPackageManager>();
    manager->SetClient(&service);
    TPackage* pkg = manager->Add(QStringLiteral("Bench"), QStringLiteral("1.0"), {}, {}, {});
    for (const QString& name : service.Names)
        pkg->Add(name, {}, service.Hashes.value(name), QStringLiteral("Bench"));
    // Every measured run reads the files from the page cache.
    Run(QStringLiteral("md5sum"), paths);

    const int rounds = 3;
    double md5sum = 1e9, intact = 1e9;
    for (int r = 0; r < rounds; ++r) {
        md5sum = qMin(md5sum, Run(QStringLiteral("md5sum"), paths));
        QElapsedTimer t;
        t.start();
        manager->UpdateClientPackage(QStringLiteral("Bench")); // intact: nothing happens
        intact = qMin(intact, double(t.nsecsElapsed()) / 1e9);
    }

    // The archive of the same files.
    const QString archive = dir.filePath(QStringLiteral("Bench.7z"));
    Run(QStringLiteral("7zz"),
        QStringList{QStringLiteral("a"), QStringLiteral("-mx1"), archive} + service.Names,
        pkgFolder);
    const QByteArray archiveData = [&] {
        QFile f(archive);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    double sevenZip = 1e9, unpack = 1e9;
    for (int r = 0; r < rounds; ++r) {
        const QString out = dir.filePath(QStringLiteral("x%1").arg(r));
        sevenZip =
            qMin(sevenZip, Run(QStringLiteral("7zz"), {QStringLiteral("x"), QStringLiteral("-y"),
                                                       QStringLiteral("-o") + out, archive}));
        QDir(out).removeRecursively();
        TInstaller installer;
        auto item = std::make_unique<TCompressedFileDeployer>(downloaded +
                                                              QStringLiteral("Unpacked/Bench.7z"));
        item->OnGetSourceStream = [&](TFileInstaller&, std::unique_ptr<QIODevice>& s) {
            auto b = std::make_unique<QBuffer>();
            b->setData(archiveData);
            b->open(QIODevice::ReadOnly);
            s = std::move(b);
        };
        installer.AddItem(std::move(item));
        QElapsedTimer t;
        t.start();
        installer.InstallItems();
        unpack = qMin(unpack, double(t.nsecsElapsed()) / 1e9);
    }

    std::printf("intact check of a 200 MiB package: %.3f s, md5sum of the same files: %.3f s, "
                "ratio %.2f\n",
                intact, md5sum, intact / md5sum);
    std::printf("unpack and swap of a 200 MiB archive: %.3f s, 7zz x alone: %.3f s, ratio %.2f\n",
                unpack, sevenZip, unpack / sevenZip);
    return 0;
}

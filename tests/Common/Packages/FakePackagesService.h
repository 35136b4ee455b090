#pragma once

#include "Common/Packages/PackageDeployer.h"

#include <QCryptographicHash>
#include <QMap>

// An in-memory package catalogue standing in for the application server.
class TFakePackagesService : public TPackagesService {
public:
    struct TFile {
        QByteArray Content;
        QString Folder;
        QString Description;
        QString MD5; // the announced hash; "auto" = computed
    };
    struct TPkg {
        QString Version;
        QString Description;
        QList<QPair<QString, TFile>> Files;
    };

    bool Open = true;
    // Every published version by name and version; the current version by name.
    QMap<QString, QMap<QString, TPkg>> Packages;
    QMap<QString, QString> Current;
    int Downloads = 0;
    int Loads = 0;
    QString FailDownloadOf; // a file whose download raises

    void Publish(const QString& name, const QString& version,
                 const QList<QPair<QString, TFile>>& files) {
        TPkg pkg{version, name + QStringLiteral(" csomag"), files};
        for (auto& f : pkg.Files)
            if (f.second.MD5 == QLatin1String("auto"))
                f.second.MD5 = QString::fromLatin1(
                    QCryptographicHash::hash(f.second.Content, QCryptographicHash::Md5).toHex());
        Packages[name].insert(version, pkg);
        Current.insert(name, version);
    }

    bool IsOpen() const override { return Open; }
    void Load() override { ++Loads; }
    QString GetPackageVersion(const QString& name) override { return Current.value(name); }
    QString GetPackageDescription(const QString& name, const QString& version) override {
        return Packages.value(name).value(version).Description;
    }
    QString GetFileNames(const QString& name, const QString& version) override {
        QString text;
        for (const auto& f : Packages.value(name).value(version).Files)
            text += f.first + QStringLiteral("\r\n");
        return text;
    }
    QString GetFileDescription(const QString& n, const QString& v, const QString& f) override {
        return File(n, v, f).Description;
    }
    QString GetFileMD5Hash(const QString& n, const QString& v, const QString& f) override {
        return File(n, v, f).MD5;
    }
    QString GetFileFolderName(const QString& n, const QString& v, const QString& f) override {
        return File(n, v, f).Folder;
    }
    void DownLoadFile(const QString& n, const QString& v, const QString& f,
                      QIODevice& dest) override {
        ++Downloads;
        if (f == FailDownloadOf)
            throw ECustom(QStringLiteral("Szerver hiba"), QStringLiteral("A letöltés megszakadt."));
        dest.write(File(n, v, f).Content);
    }

private:
    TFile File(const QString& n, const QString& v, const QString& f) const {
        for (const auto& file : Packages.value(n).value(v).Files)
            if (file.first == f)
                return file.second;
        return {};
    }
};

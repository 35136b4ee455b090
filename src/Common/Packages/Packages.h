#pragma once

// The catalogue of the packages downloaded from the application server: per
// package the installed version and its dates, per file the folder it lands
// in and the MD5 checksum the server announced. Deploying and talking to the
// server are added by subclasses; the catalogue saves only when asked to.

#include "Common/Config/Config.h"
#include "Common/Repository/Repository.h"

#include <QIODevice>
#include <QList>

// A virtual operation that the class leaves to its subclasses.
TV_DECLARE_EXCEPTION(EAbstractError, Exception);

// Joins two path parts: backslashes count as "/" (the server's folder names
// use them), an empty part gives the other one, a rooted second part
// (leading "/") replaces the first, otherwise they are joined with
// exactly one "/". A part holding a character that paths cannot hold raises
// EArgumentException "Invalid characters in path".
QString CombinePath(const QString& first, const QString& second);

class TPackage;

class TPackageFile : public TItem {
public:
    // The file's name with extension, without folder; it is the identity.
    const QString& FileName() const { return Id(); }
    void SetFileName(const QString& value) { SetId(value); }
    // Folder below the base folder; may hold several levels.
    const QString& FolderName() const { return FFolderName; }
    void SetFolderName(const QString& value);
    TPathHelper::TPathType BaseFolder() const { return FBaseFolder; }
    void SetBaseFolder(TPathHelper::TPathType value);
    // The checksum the server announced, hexadecimal; empty: not checked.
    const QString& MD5Hash() const { return FMD5Hash; }
    void SetMD5Hash(const QString& value);
    // Full local path: base folder, folder name, file name.
    QString Path() const;

    // The package that holds the file, or null.
    TPackage* Package() const;

    // The file's content store.
    virtual void CreateFileFromStream(QIODevice& source);
    virtual void SaveFileToStream(QIODevice& dest);

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TPackageFile() = default;
    void Construct(QObject* owner) override;

private:
    QString FFolderName;
    TPathHelper::TPathType FBaseFolder = TPathHelper::piNone;
    QString FMD5Hash;
};

class TPackageFileEnumerator : public TItemEnumerator {
public:
    using TItemEnumerator::TItemEnumerator;
    TPackageFile* Current() const;
};

class TPackage : public TItemList {
public:
    const QString& PkgName() const { return FPkgName; }
    void SetPkgName(const QString& value);
    const QString& Version() const { return FVersion; }
    void SetVersion(const QString& value);
    TDateTime DeployDate() const { return FDeployDate; }
    void SetDeployDate(TDateTime value);
    TDateTime UpdateDate() const { return FUpdateDate; }
    void SetUpdateDate(TDateTime value);

    QString GetDisplayName() const override;
    const TItemClass& GetItemClass() const override;

    // A new file of the package's item class; when a step raises, the file
    // is destroyed again and the package is as it was.
    TPackageFile* Add(const QString& fileName, const QString& description, const QString& md5Hash,
                      const QString& folderName);
    std::unique_ptr<TPackageFileEnumerator> GetEnumerator() const;
    // The files in enumeration order.
    QList<TPackageFile*> Files() const;

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    friend class TPackageManager;
    TPackage() = default;
    void Construct(QObject* owner) override;

private:
    QString FPkgName;
    QString FVersion;
    TDateTime FDeployDate;
    TDateTime FUpdateDate;
};

class TPackageEnumerator : public TItemEnumerator {
public:
    using TItemEnumerator::TItemEnumerator;
    TPackage* Current() const;
};

class TPackageManager : public TRepository {
public:
    const TItemClass& GetItemClass() const override;
    QString GetPluralDisplayName() const override;
    // The repository folder followed by "Packages.xml".
    QString GetFileName() const override;

    // A new package of the manager's item class; when a step raises, the
    // package is destroyed again and the catalogue is as it was.
    TPackage* Add(const QString& pkgName, const QString& version, const QString& description,
                  TDateTime deployDate, TDateTime updateDate);
    // Every package of exactly that name (letter case counts), in enumeration order.
    QList<TPackage*> FindByName(const QString& pkgName) const;
    // The package of that name with the greatest version; ties keep the
    // earlier one; raises the not-found error when there is none.
    TPackage* FindLatestByName(const QString& pkgName) const;
    std::unique_ptr<TPackageEnumerator> GetEnumerator() const;
    QList<TPackage*> Packages() const;

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TPackageManager() = default;
    // Automatic saving is off: callers save after each change they make.
    void Construct(QObject* owner) override;
};

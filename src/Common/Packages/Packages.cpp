#include "Common/Packages/Packages.h"

#include "Common/Files/FileUtils.h"
#include "Common/Util/StrUtilsEx.h"

QString CombinePath(const QString& firstPart, const QString& secondPart) {
    if (firstPart.contains(QChar(u'\0')) || secondPart.contains(QChar(u'\0')))
        throw EArgumentException(QStringLiteral("Invalid characters in path"));
    // The server's folder names separate their levels with backslashes.
    const QString first = QString(firstPart).replace(u'\\', u'/');
    const QString second = QString(secondPart).replace(u'\\', u'/');
    if (second.isEmpty())
        return first;
    if (first.isEmpty() || second.startsWith(u'/'))
        return second;
    if (first.endsWith(u'/'))
        return first + second;
    return first + u'/' + second;
}

// ---- TPackageFile

const TPersistClass& TPackageFile::StaticClass() {
    static const TPersistClass& cls =
        TClassBuilder<TPackageFile>(QStringLiteral("TPackageFile"), &TItem::StaticClass())
            .Register();
    return cls;
}

void TPackageFile::Construct(QObject* owner) {
    TItem::Construct(owner);
    FFolderName.clear();
    FMD5Hash.clear();
    FBaseFolder = TPathHelper::piNone;
}

void TPackageFile::SetFolderName(const QString& value) {
    if (value == FFolderName)
        return;
    FFolderName = value;
    Changed();
}

void TPackageFile::SetBaseFolder(TPathHelper::TPathType value) {
    if (value == FBaseFolder)
        return;
    FBaseFolder = value;
    Changed();
}

void TPackageFile::SetMD5Hash(const QString& value) {
    if (value == FMD5Hash)
        return;
    FMD5Hash = value;
    Changed();
}

QString TPackageFile::Path() const {
    const QString base =
        FBaseFolder == TPathHelper::piNone ? QString() : PathHelper().GetPath(FBaseFolder);
    return CombinePath(CombinePath(base, FFolderName), FileName());
}

TPackage* TPackageFile::Package() const {
    return dynamic_cast<TPackage*>(ItemOwner());
}

void TPackageFile::CreateFileFromStream(QIODevice&) {
    throw EAbstractError(QStringLiteral("Abstract Error"));
}

void TPackageFile::SaveFileToStream(QIODevice&) {
    throw EAbstractError(QStringLiteral("Abstract Error"));
}

TPackageFile* TPackageFileEnumerator::Current() const {
    return static_cast<TPackageFile*>(TItemEnumerator::Current());
}

// ---- TPackage

const TPersistClass& TPackage::StaticClass() {
    static const TPersistClass& cls =
        TClassBuilder<TPackage>(QStringLiteral("TPackage"), &TItemList::StaticClass()).Register();
    return cls;
}

void TPackage::Construct(QObject* owner) {
    TItemList::Construct(owner);
    FPkgName = QStringLiteral("Új csomag");
    SetVersion(QStringLiteral("1.0"));
    FDeployDate = TDateTime();
    FUpdateDate = TDateTime();
}

void TPackage::SetPkgName(const QString& value) {
    if (value == FPkgName)
        return;
    // The identity moves first: a clash leaves name, version and identity as they were.
    try {
        SetId(value + FVersion);
    } catch (const ERepository&) {
        // A catalogue file is read name first, so a package whose version is
        // still the default can meet another version of the same name; it
        // takes a provisional identity until its version is read.
        const auto* repository = dynamic_cast<const TRepository*>(ItemOwner());
        if (repository == nullptr || !repository->Loading())
            throw;
        SetId(value + FVersion + QChar(0x01) +
              QString::number(reinterpret_cast<quintptr>(this), 16));
    }
    FPkgName = value;
    Changed();
}

void TPackage::SetVersion(const QString& value) {
    if (value == FVersion) {
        if (Id() != FPkgName + FVersion)
            SetId(FPkgName + FVersion);
        return;
    }
    SetId(FPkgName + value);
    FVersion = value;
    Changed();
}

void TPackage::SetDeployDate(TDateTime value) {
    if (value == FDeployDate)
        return;
    FDeployDate = value;
    Changed();
}

void TPackage::SetUpdateDate(TDateTime value) {
    if (value == FUpdateDate)
        return;
    FUpdateDate = value;
    Changed();
}

QString TPackage::GetDisplayName() const {
    return QStringLiteral("csomag");
}

const TItemClass& TPackage::GetItemClass() const {
    return ClassOf<TPackageFile>();
}

TPackageFile* TPackage::Add(const QString& fileName, const QString& description,
                            const QString& md5Hash, const QString& folderName) {
    auto* file = dynamic_cast<TPackageFile*>(GetItemClass().Create(this));
    TV_ASSERT(file != nullptr);
    try {
        file->SetFileName(fileName);
        file->SetDescription(description);
        file->SetMD5Hash(md5Hash);
        file->SetFolderName(folderName);
    } catch (...) {
        DestroyHalfMade(file);
        throw;
    }
    return file;
}

std::unique_ptr<TPackageFileEnumerator> TPackage::GetEnumerator() const {
    return std::make_unique<TPackageFileEnumerator>(*this);
}

QList<TPackageFile*> TPackage::Files() const {
    QList<TPackageFile*> result;
    for (TItem* item : *this)
        result.append(static_cast<TPackageFile*>(item));
    return result;
}

TPackage* TPackageEnumerator::Current() const {
    return static_cast<TPackage*>(TItemEnumerator::Current());
}

// ---- TPackageManager

const TPersistClass& TPackageManager::StaticClass() {
    static const TPersistClass& cls =
        TClassBuilder<TPackageManager>(QStringLiteral("TPackageManager"),
                                       &TRepository::StaticClass())
            .Register();
    return cls;
}

void TPackageManager::Construct(QObject* owner) {
    TRepository::Construct(owner);
    SetAutoSave(false);
}

const TItemClass& TPackageManager::GetItemClass() const {
    return ClassOf<TPackage>();
}

QString TPackageManager::GetPluralDisplayName() const {
    return QStringLiteral("csomagok");
}

QString TPackageManager::GetFileName() const {
    return TRepository::GetFileName() + QStringLiteral("Packages.xml");
}

TPackage* TPackageManager::Add(const QString& pkgName, const QString& version,
                               const QString& description, TDateTime deployDate,
                               TDateTime updateDate) {
    auto* package = dynamic_cast<TPackage*>(GetItemClass().Create(this));
    TV_ASSERT(package != nullptr);
    try {
        package->SetId(pkgName + version);
        package->FPkgName = pkgName;
        package->FVersion = version;
        package->SetDescription(description);
        package->SetDeployDate(deployDate);
        package->SetUpdateDate(updateDate);
    } catch (...) {
        DestroyHalfMade(package);
        throw;
    }
    return package;
}

QList<TPackage*> TPackageManager::FindByName(const QString& pkgName) const {
    QList<TPackage*> result;
    for (TItem* item : *this) {
        auto* package = static_cast<TPackage*>(item);
        if (package->PkgName() == pkgName)
            result.append(package);
    }
    return result;
}

TPackage* TPackageManager::FindLatestByName(const QString& pkgName) const {
    TPackage* best = nullptr;
    QString bestVersion;
    for (TPackage* package : FindByName(pkgName)) {
        if (CompareVersions(bestVersion, package->Version()) < 0) {
            best = package;
            bestVersion = package->Version();
        }
    }
    if (best == nullptr)
        throw ERepository(
            FixArticle(Format(QStringLiteral("A(z) %s nem található."), {GetDisplayName()})),
            FixArticle(Format(QStringLiteral("A(z) %s nem található, nincsen \"%s\" nevű elem "
                                             "a listában."),
                              {GetDisplayName(), pkgName})));
    return best;
}

std::unique_ptr<TPackageEnumerator> TPackageManager::GetEnumerator() const {
    return std::make_unique<TPackageEnumerator>(*this);
}

QList<TPackage*> TPackageManager::Packages() const {
    QList<TPackage*> result;
    for (TItem* item : *this)
        result.append(static_cast<TPackage*>(item));
    return result;
}

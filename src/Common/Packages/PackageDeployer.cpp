#include "Common/Packages/PackageDeployer.h"

#include "Common/Environments/Environments.h"
#include "Common/Error/CustomException.h"
#include "Common/Files/FileStreams.h"
#include "Common/Files/FileUtils.h"
#include "Common/Util/StrUtilsEx.h"
#include "Platform/Archive/SevenZip.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

void RegisterDisplayNames() {
    NamedProperties().CreateNamedPropertiesForClass(
        TClientPackageFile::StaticClass(),
        QStringLiteral("Path=Teljes útvonal\r\n"
                       "Description=Leírás\r\n"
                       "FileName=Fájl neve\r\n"
                       "MD5Hash=Ellenőrző kód\r\n"
                       "LocalFilePath=Forrás fájl helyi útvonala\r\n"
                       "FolderName=Mappa neve"));
    NamedProperties().CreateNamedPropertiesForClass(
        TClientPackage::StaticClass(), QStringLiteral("PkgName=Név\r\n"
                                                      "Version=Verzió\r\n"
                                                      "NewVersion=Új verzió\r\n"
                                                      "Description=Leírás\r\n"
                                                      "DeployDate=Telepítés dátuma\r\n"
                                                      "ServerSpecific=Szerverenként különböző\r\n"
                                                      "UpdateDate=Utolsó frissítés dátuma"));
}

// The display names are registered when the program starts.
[[maybe_unused]] const bool kDisplayNamesRegistered = (RegisterDisplayNames(), true);

[[noreturn]] void RaisePackage(const QString& title, const QString& message,
                               const QVariantList& args) {
    throw ECustom(FixArticle(Format(title, args)), FixArticle(Format(message, args)));
}

QStringList Lines(const QString& text) {
    QStringList result;
    for (QString line : text.split(QLatin1Char('\n'))) {
        line.remove(QLatin1Char('\r'));
        if (!line.isEmpty())
            result.append(line);
    }
    return result;
}

// Runs the body between the repository's BeginUpdate and EndUpdate.
template <class F>
void WithinUpdate(F&& body, const std::function<void()>& begin, const std::function<void()>& end) {
    begin();
    try {
        body();
    } catch (...) {
        end();
        throw;
    }
    end();
}

} // namespace

// ---- TPackageFileDeployer

const TPersistClass& TPackageFileDeployer::StaticClass() {
    static const TPersistClass& cls =
        TClassBuilder<TPackageFileDeployer>(QStringLiteral("TPackageFileDeployer"),
                                            &TPackageFile::StaticClass())
            .Register();
    return cls;
}

void TPackageFileDeployer::SaveFileToStream(QIODevice& dest) {
    TMeasuredFileStream source(Path(), fmOpenRead | fmShareDenyWrite);
    CopyStream(&source, &dest, 32768);
}

void TPackageFileDeployer::CreateFileFromStream(QIODevice& source) {
    TFileUtils::CreateDirectory(Path());
    TMeasuredFileStream dest(Path(), fmCreate);
    CopyStream(&source, &dest, 32768);
}

// ---- TPackageDeployer

const TPersistClass& TPackageDeployer::StaticClass() {
    static const TPersistClass& cls =
        TClassBuilder<TPackageDeployer>(QStringLiteral("TPackageDeployer"),
                                        &TPackage::StaticClass())
            .Register();
    return cls;
}

const TItemClass& TPackageDeployer::GetItemClass() const {
    return ClassOf<TPackageFileDeployer>();
}

void TPackageDeployer::DoProgress(const QString& message, int min, int max, int position) {
    if (auto* manager = dynamic_cast<TPackageManagerDeployer*>(ItemOwner()))
        if (manager->OnProgress)
            manager->OnProgress(message, min, max, position);
}

void TPackageDeployer::CheckFiles(bool forInstall) const {
    if (Count() == 0)
        RaisePackage(QStringLiteral("A(z) %s csomag üres."),
                     QStringLiteral("A(z) %s csomag nem tartalmaz egyetlen fájlt sem, nem lehet "
                                    "telepíteni."),
                     {PkgName()});
    if (!forInstall)
        return;
    // An archive replaces its whole folder: two archives of one folder
    // would overwrite each other.
    QSet<QString> archiveFolders;
    for (TPackageFile* file : Files()) {
        if (!TSevenZipArchive::IsCompressedFileName(file->FileName()))
            continue;
        const QString folder = QFileInfo(file->Path()).path();
        if (archiveFolders.contains(folder))
            RaisePackage(QStringLiteral("A(z) %s csomag hibás."),
                         QStringLiteral("A(z) %s csomag több tömörített fájlja is ugyanabba a "
                                        "mappába kerülne."),
                         {PkgName()});
        archiveFolders.insert(folder);
    }
}

std::unique_ptr<TFileDeployer> TPackageDeployer::CreateFileDeployer(TPackageFile& file) {
    if (TSevenZipArchive::IsCompressedFileName(file.Path())) {
        if (file.FolderName().isEmpty())
            RaisePackage(QStringLiteral("A(z) %s csomag hibás."),
                         QStringLiteral("A(z) %s csomag %s tömörített fájlja nem saját mappába "
                                        "kerülne, ezért nem bontható ki."),
                         {PkgName(), file.FileName()});
        return std::make_unique<TCompressedFileDeployer>(file.Path());
    }
    return std::make_unique<TFileDeployer>(file.Path());
}

std::unique_ptr<TFileRemover> TPackageDeployer::CreateFileRemover(TPackageFile& file) {
    if (TSevenZipArchive::IsCompressedFileName(file.Path())) {
        if (file.FolderName().isEmpty())
            RaisePackage(QStringLiteral("A(z) %s csomag hibás."),
                         QStringLiteral("A(z) %s csomag %s tömörített fájlja nem saját mappában "
                                        "van, ezért nem távolítható el."),
                         {PkgName(), file.FileName()});
        return std::make_unique<TCompressedFileRemover>(file.Path());
    }
    return std::make_unique<TFileRemover>(file.Path());
}

void TPackageDeployer::GetFileStream(TFileInstaller& sender, std::unique_ptr<QIODevice>& stream) {
    auto* file = dynamic_cast<TPackageFile*>(static_cast<TInstallItem&>(sender).Data());
    TV_ASSERT(file != nullptr);
    const QString fileName = QFileInfo(file->Path()).fileName();
    const QString downloadFile =
        PathHelper().GetPath(TPathHelper::piTempData) + fileName + QStringLiteral(".tmp");
    std::unique_ptr<QIODevice> result;
    try {
        auto* manager = dynamic_cast<TPackageManagerDeployer*>(ItemOwner());
        if (manager != nullptr && manager->OnProgress) {
            auto measured = std::make_unique<TMeasuredFileStream>(downloadFile, fmCreate);
            const QString message = FixArticle(
                Format(QStringLiteral("A(z) %s fájl letöltése a szerverről"), {fileName}));
            measured->OnWrite = [this, message](TMeasuredFileStream& s, qint64) {
                DoProgress(message, 0, int(quint32(s.WriteProgress().TotalBytes())),
                           int(quint32(s.WriteProgress().BytesTransfered())));
            };
            result = std::move(measured);
        } else {
            auto plain = std::make_unique<QFile>(downloadFile);
            if (!plain->open(QIODevice::ReadWrite | QIODevice::Truncate))
                RaiseLastOSError(downloadFile);
            result = std::move(plain);
        }
        file->SaveFileToStream(*result);
    } catch (...) {
        result.reset();
        if (QFile::exists(downloadFile))
            QFile::remove(downloadFile);
        throw;
    }
    stream = std::move(result);
}

void TPackageDeployer::Install() {
    CheckFiles(true);
    TFileUtils::CreateDirectory(PathHelper().GetPath(TPathHelper::piTempData));
    TInstaller installer;
    for (TPackageFile* file : Files()) {
        std::unique_ptr<TFileDeployer> item = CreateFileDeployer(*file);
        item->SetData(file);
        item->OnGetSourceStream = [this](TFileInstaller& sender, std::unique_ptr<QIODevice>& s) {
            GetFileStream(sender, s);
        };
        item->OnProgress = [this](TFileInstaller&, const QString& m, int min, int max, int pos) {
            DoProgress(m, min, max, pos);
        };
        installer.AddItem(std::move(item));
    }
    installer.InstallItems();
}

void TPackageDeployer::Remove() {
    TInstaller installer;
    for (TPackageFile* file : Files()) {
        std::unique_ptr<TFileRemover> item = CreateFileRemover(*file);
        item->SetData(file);
        item->OnProgress = [this](TFileInstaller&, const QString& m, int min, int max, int pos) {
            DoProgress(m, min, max, pos);
        };
        installer.AddItem(std::move(item));
    }
    installer.RemoveItems();
}

// ---- TPackageManagerDeployer

const TPersistClass& TPackageManagerDeployer::StaticClass() {
    static const TPersistClass& cls =
        TClassBuilder<TPackageManagerDeployer>(QStringLiteral("TPackageManagerDeployer"),
                                               &TPackageManager::StaticClass())
            .Register();
    return cls;
}

const TItemClass& TPackageManagerDeployer::GetItemClass() const {
    return ClassOf<TPackageDeployer>();
}

void TPackageManagerDeployer::DoLoad() {
    // A folder that cannot be put right is reported; the catalogue is read
    // all the same (the next synchronisation installs what is missing).
    try {
        InstallerJournal::RecoverInterruptedCommits();
    } catch (const std::exception& e) {
        ShowException(e);
    }
    TPackageManager::DoLoad();
}

TPackageDeployer* TPackageManagerDeployer::FindPackage(const QString& name,
                                                       const QString& version) const {
    auto* package = dynamic_cast<TPackageDeployer*>(Find(name + version));
    TV_ASSERT(package != nullptr);
    return package;
}

void TPackageManagerDeployer::Install(const QString& name, const QString& version) {
    WithinUpdate(
        [&] {
            TPackageDeployer* package = FindPackage(name, version);
            package->Install();
            package->SetUpdateDate(TDateTime::Now());
            package->SetDeployDate(TDateTime::Now());
            Save();
        },
        [this] { BeginUpdate(); }, [this] { EndUpdate(); });
}

void TPackageManagerDeployer::Remove(const QString& name, const QString& version) {
    WithinUpdate(
        [&] {
            TPackageDeployer* package = FindPackage(name, version);
            package->Remove();
            delete package;
            Save();
        },
        [this] { BeginUpdate(); }, [this] { EndUpdate(); });
}

void TPackageManagerDeployer::Update(const QString& name, const QString& oldVersion,
                                     const QString& newVersion) {
    WithinUpdate(
        [&] {
            TPackageDeployer* oldPackage = FindPackage(name, oldVersion);
            oldPackage->Remove();
            delete oldPackage;
            TPackageDeployer* newPackage = FindPackage(name, newVersion);
            newPackage->Install();
            newPackage->SetUpdateDate(TDateTime::Now());
            Save();
        },
        [this] { BeginUpdate(); }, [this] { EndUpdate(); });
}

// ---- TRemotePackageFile

const TPersistClass& TRemotePackageFile::StaticClass() {
    static const TPersistClass& cls =
        TClassBuilder<TRemotePackageFile>(QStringLiteral("TRemotePackageFile"),
                                          &TPackageFileDeployer::StaticClass())
            .Register();
    return cls;
}

void TRemotePackageFile::Construct(QObject* owner) {
    TPackageFileDeployer::Construct(owner);
    SetBaseFolder(TPathHelper::piDownloadedFiles);
}

void TRemotePackageFile::SaveFileToStream(QIODevice& dest) {
    TPackage* package = Package();
    if (package == nullptr)
        return;
    if (auto* manager = dynamic_cast<TRemotePackageManager*>(package->ItemOwner()))
        manager->RemoteDownLoadFile(package->PkgName(), package->Version(), FileName(), dest);
}

void TRemotePackageFile::CreateFileFromStream(QIODevice& source) {
    TPackage* package = Package();
    if (package == nullptr)
        return;
    if (auto* manager = dynamic_cast<TRemotePackageManager*>(package->ItemOwner()))
        manager->RemoteUploadFile(package->PkgName(), package->Version(), FileName(), source);
}

// ---- TRemotePackage

const TPersistClass& TRemotePackage::StaticClass() {
    static const TPersistClass& cls =
        TClassBuilder<TRemotePackage>(QStringLiteral("TRemotePackage"),
                                      &TPackageDeployer::StaticClass())
            .Register();
    return cls;
}

const TItemClass& TRemotePackage::GetItemClass() const {
    return ClassOf<TRemotePackageFile>();
}

// ---- TRemotePackageManager

const TPersistClass& TRemotePackageManager::StaticClass() {
    static const TPersistClass& cls =
        TClassBuilder<TRemotePackageManager>(QStringLiteral("TRemotePackageManager"),
                                             &TPackageManagerDeployer::StaticClass())
            .Register();
    return cls;
}

const TItemClass& TRemotePackageManager::GetItemClass() const {
    return ClassOf<TRemotePackage>();
}

bool TRemotePackageManager::IsClientOpen() const {
    return FClient != nullptr && FClient->IsOpen();
}

QString TRemotePackageManager::GetRemotePackageVersion(const QString& name) {
    return IsClientOpen() ? FClient->GetPackageVersion(name) : QString();
}

QString TRemotePackageManager::GetRemotePackageDescription(const QString& name,
                                                           const QString& version) {
    return IsClientOpen() ? FClient->GetPackageDescription(name, version) : QString();
}

void TRemotePackageManager::RemoteLoad() {
    if (IsClientOpen())
        FClient->Load();
}

void TRemotePackageManager::LoadRemoteFiles(TPackage& package) {
    if (!IsClientOpen())
        return;
    package.Clear();
    const QString name = package.PkgName();
    const QString version = package.Version();
    for (const QString& fileName : Lines(FClient->GetFileNames(name, version))) {
        const QString description = FClient->GetFileDescription(name, version, fileName);
        const QString md5 = FClient->GetFileMD5Hash(name, version, fileName);
        const QString folder = FClient->GetFileFolderName(name, version, fileName);
        package.Add(fileName, description, md5, folder);
    }
}

void TRemotePackageManager::RemoteDownLoadFile(const QString& name, const QString& version,
                                               const QString& fileName, QIODevice& dest) {
    if (IsClientOpen())
        FClient->DownLoadFile(name, version, fileName, dest);
}

void TRemotePackageManager::RemoteUploadFile(const QString&, const QString&, const QString&,
                                             QIODevice&) {
    throw ECustom(QStringLiteral("Nem támogatott művelet."),
                  QStringLiteral("A csomagok feltöltése a csomagszerkesztő feladata."));
}

// ---- client layer

const TPersistClass& TClientPackageFile::StaticClass() {
    using F = TClientPackageFile;
    const PersistMember persist;
    const StringNamedValue named;
    static const TPersistClass& cls =
        TClassBuilder<F>(QStringLiteral("TClientPackageFile"), &TRemotePackageFile::StaticClass())
            .Mark(PersistVersion{QStringLiteral("1.0")})
            .Property(QStringLiteral("MD5Hash"), &F::MD5Hash, &F::SetMD5Hash, persist, named)
            .Property(QStringLiteral("FileName"), &F::FileName, &F::SetFileName, persist, named)
            .Property(QStringLiteral("FolderName"), &F::FolderName, &F::SetFolderName, persist,
                      named)
            .Property(QStringLiteral("Description"), &F::Description, &F::SetDescription, persist,
                      named)
            .ReadOnlyProperty(QStringLiteral("Path"), &F::Path, named)
            .Register();
    return cls;
}

TClientPackageFile* TClientPackageFileEnumerator::Current() const {
    return static_cast<TClientPackageFile*>(TItemEnumerator::Current());
}

const TPersistClass& TClientPackage::StaticClass() {
    using P = TClientPackage;
    const PersistMember persist;
    const StringNamedValue named;
    static const TPersistClass& cls =
        TClassBuilder<P>(QStringLiteral("TClientPackage"), &TRemotePackage::StaticClass())
            .Mark(PersistEnumerator{})
            .Mark(PersistVersion{QStringLiteral("1.0")})
            .Property(QStringLiteral("PkgName"), &P::PkgName, &P::SetPkgName, persist, named)
            .Property(QStringLiteral("Version"), &P::Version, &P::SetVersion, persist, named)
            .Property(QStringLiteral("DeployDate"), &P::DeployDate, &P::SetDeployDate, persist,
                      named)
            .Property(QStringLiteral("UpdateDate"), &P::UpdateDate, &P::SetUpdateDate, persist,
                      named)
            .Property(QStringLiteral("Description"), &P::Description, &P::SetDescription, persist,
                      named)
            .List(QStringLiteral("TClientPackageFileEnumerator"), &TClientPackageFile::StaticClass,
                  &P::GetEnumerator, &P::GetFactory)
            .Register();
    return cls;
}

const TItemClass& TClientPackage::GetItemClass() const {
    return ClassOf<TClientPackageFile>();
}

std::unique_ptr<TClientPackageFileEnumerator> TClientPackage::GetEnumerator() const {
    return std::make_unique<TClientPackageFileEnumerator>(*this);
}

TClientPackage* TClientPackageEnumerator::Current() const {
    return static_cast<TClientPackage*>(TItemEnumerator::Current());
}

const TPersistClass& TClientPackageManager::StaticClass() {
    using M = TClientPackageManager;
    static const TPersistClass& cls =
        TClassBuilder<M>(QStringLiteral("TClientPackageManager"),
                         &TRemotePackageManager::StaticClass())
            .Mark(PersistEnumerator{})
            .Mark(PersistVersion{QStringLiteral("1.0")})
            .List(QStringLiteral("TClientPackageEnumerator"), &TClientPackage::StaticClass,
                  &M::GetEnumerator, &M::GetFactory)
            .Register();
    return cls;
}

const TItemClass& TClientPackageManager::GetItemClass() const {
    return ClassOf<TClientPackage>();
}

std::unique_ptr<TClientPackageEnumerator> TClientPackageManager::GetEnumerator() const {
    return std::make_unique<TClientPackageEnumerator>(*this);
}

QString TClientPackageManager::ServerSpecificPkgName(const QString& pkgName,
                                                     const TEnvironment& environment) {
    return CombinePath(CombinePath(environment.SSHAddress(), environment.DBSchema()), pkgName);
}

QString TClientPackageManager::GetPackageFolder(const QString& pkgName) const {
    TPackage* package = FindLatestByName(pkgName);
    const QList<TPackageFile*> files = package->Files();
    if (files.isEmpty())
        RaisePackage(QStringLiteral("A(z) %s csomag üres."),
                     QStringLiteral("A(z) %s csomag nem tartalmaz egyetlen fájlt sem."), {pkgName});
    return QFileInfo(files.first()->Path()).path();
}

int TClientPackageManager::CompareWithServer(const QString& pkgName, QString& localVersion,
                                             QString& serverVersion) {
    serverVersion = GetRemotePackageVersion(pkgName);
    localVersion.clear();
    if (!FindByName(pkgName).isEmpty())
        localVersion = FindLatestByName(pkgName)->Version();
    return CompareVersions(localVersion, serverVersion);
}

bool TClientPackageManager::IsInstalledIntact(const QString& pkgName) {
    TPackage* package = FindLatestByName(pkgName);
    const QString version = package->Version();
    for (const QString& fileName : Lines(Client()->GetFileNames(pkgName, version))) {
        const QString hash = Client()->GetFileMD5Hash(pkgName, version, fileName).toUpper();
        if (hash.isEmpty())
            continue;
        TItem* item = nullptr;
        if (!package->Find(fileName, item))
            return false;
        auto* file = static_cast<TPackageFile*>(item);
        // An unpacked archive is not kept on disk, so it cannot be checked.
        if (TSevenZipArchive::IsCompressedFileName(file->Path()))
            continue;
        const QString path = file->Path();
        if (!QFileInfo(path).isFile() || TFileUtils::GetMD5Checksum(path).toUpper() != hash)
            return false;
    }
    return true;
}

TPackage* TClientPackageManager::AddServerPackage(const QString& pkgName, const QString&,
                                                  const QString& serverVersion) {
    const QString description = GetRemotePackageDescription(pkgName, serverVersion);
    TPackage* package =
        Add(pkgName, serverVersion, description, TDateTime::Now(), TDateTime::Now());
    LoadRemoteFiles(*package);
    return package;
}

void TClientPackageManager::UpdateClientPackage(const QString& pkgName) {
    if (!IsClientOpen())
        return;
    RemoteLoad();
    QString localVersion;
    QString serverVersion;
    const int comparison = CompareWithServer(pkgName, localVersion, serverVersion);
    if (comparison >= 0 && IsInstalledIntact(pkgName))
        return;
    // The records of the name are dropped (their files stay: the install
    // overwrites what the new version still has), so the catalogue ends up
    // with exactly one record of the name.
    for (TPackage* package : FindByName(pkgName))
        delete package;
    localVersion.clear();
    AddServerPackage(pkgName, localVersion, serverVersion);
    Install(pkgName, serverVersion);
}

void TClientPackageManager::DoReset() {
    for (TPackage* package : Packages()) {
        try {
            static_cast<TPackageDeployer*>(package)->Remove();
        } catch (const std::exception& e) {
            if (OnResetError)
                OnResetError(e);
            else
                ShowException(e);
        }
    }
    Clear();
    Save();
}

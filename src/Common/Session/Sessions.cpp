#include "Common/Session/Sessions.h"

#include "Common/Files/FileUtils.h"

#include "Common/Util/StrUtilsEx.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>

namespace {

constexpr int kMasterKeyBits = 1024;

void RegisterDisplayNames() {
    NamedProperties().CreateNamedPropertiesForClass(TSession::StaticClass(),
                                                    QStringLiteral("UserName=Felhasználó\r\n"
                                                                   "Password=Jelszó\r\n"
                                                                   "LastUsed=Utoljára használt\r\n"
                                                                   "EnvName=Környezet neve"));
}

// The display names are registered when the program starts.
[[maybe_unused]] const bool kDisplayNamesRegistered = (RegisterDisplayNames(), true);

QByteArray Utf16LittleEndian(const QString& text) {
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        qToLittleEndian<quint16>(text.at(i).unicode(), bytes.data() + 2 * i);
    return bytes;
}

QString FromUtf16LittleEndian(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        text.append(QChar(qFromLittleEndian<quint16>(bytes.constData() + i)));
    return text;
}

// Writes the key file in one piece, readable by its owner only.
void WriteKeyFile(const QString& fileName, const QByteArray& pem) {
    TFileUtils::ForceFileFolder(fileName);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(pem) != pem.size() || !file.commit())
        throw EOSError(QStringLiteral("%1: %2").arg(fileName, file.errorString()));
}

void DeleteKeyFile(const QString& fileName) {
    QFile file(fileName);
    if (file.exists() && !file.remove())
        throw EOSError(QStringLiteral("%1: %2").arg(fileName, file.errorString()));
}

} // namespace

// ---- TSession

const TPersistClass& TSession::StaticClass() {
    using S = TSession;
    const PersistMember persist;
    static const TPersistClass& cls =
        TClassBuilder<S>(QStringLiteral("TSession"), &TItem::StaticClass())
            .Mark(PersistVersion{QStringLiteral("1.1")})
            .Property(QStringLiteral("Id"), &S::Id, &S::SetId, persist, KeyField{})
            .Property(QStringLiteral("UserName"), &S::UserName, &S::SetUserName, persist,
                      StringValue{})
            .Property(QStringLiteral("Password"), &S::Password, &S::SetPassword, StringValue{})
            .Property(QStringLiteral("StoredPassword"), &S::StoredPassword, &S::SetStoredPassword,
                      persist)
            .Property(QStringLiteral("EnvName"), &S::EnvName, &S::SetEnvName, persist,
                      StringValue{})
            .Property(QStringLiteral("LastUsed"), &S::LastUsed, &S::SetLastUsed, persist,
                      StringValue{})
            .Register();
    return cls;
}

QString TSession::GetDisplayName() const {
    return QStringLiteral("munkafázis");
}

QString TSession::GenerateId(const QString& userName, const QString& envName) {
    const QString text = envName + userName;
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= u'a' && u <= u'z')
            bytes.append(char(u - u'a' + 'A'));
        else
            bytes.append(u < 0x80 ? char(u) : '?');
    }
    return QString::fromLatin1(
        QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toUpper());
}

TSessions* TSession::Sessions() const {
    return dynamic_cast<TSessions*>(ItemOwner());
}

void TSession::SetUserName(const QString& value) {
    if (value == FUserName)
        return;
    SetId(GenerateId(value, FEnvName));
    FUserName = value;
}

void TSession::SetEnvName(const QString& value) {
    if (value == FEnvName)
        return;
    SetId(GenerateId(FUserName, value));
    FEnvName = value;
}

void TSession::SetPassword(const QString& value) {
    if (value == FPassword)
        return;
    FPassword = value;
    Changed();
}

void TSession::SetLastUsed(TDateTime value) {
    if (value == FLastUsed)
        return;
    FLastUsed = value;
    Changed();
}

QString TSession::StoredPassword() const {
    const TSessions* owner = Sessions();
    if (owner == nullptr || !owner->StorePasswords())
        return {};
    TV_ASSERT(owner->MasterKeyReady());
    if (FPassword.isEmpty())
        return {};
    try {
        return BytesToHex(owner->MasterKey().Encrypt(Utf16LittleEndian(FPassword)));
    } catch (const ECryptoError&) {
        // A password the key cannot take is simply not stored.
        return {};
    }
}

void TSession::SetStoredPassword(const QString& value) {
    const TSessions* owner = Sessions();
    if (owner == nullptr || !owner->StorePasswords())
        return;
    TV_ASSERT(owner->MasterKeyReady());
    if (value.isEmpty()) {
        FPassword.clear();
        return;
    }
    const QByteArray cipher = HexToBytes(value);
    try {
        FPassword = FromUtf16LittleEndian(owner->MasterKey().Decrypt(cipher));
    } catch (const ECryptoError&) {
        // Made with another key: the password is forgotten.
        FPassword.clear();
    }
}

TSession* TSessionEnumerator::Current() const {
    return static_cast<TSession*>(TItemEnumerator::Current());
}

int TSessionsComparer::Compare(const TSession* left, const TSession* right) {
    if (right->LastUsed() > left->LastUsed())
        return 1;
    if (right->LastUsed() < left->LastUsed())
        return -1;
    return 0;
}

// ---- TSessions

const TPersistClass& TSessions::StaticClass() {
    static const TPersistClass& cls =
        TClassBuilder<TSessions>(QStringLiteral("TSessions"), &TRepository::StaticClass())
            .Mark(PersistEnumerator{})
            .Mark(PersistVersion{QStringLiteral("1.1")})
            .Property(QStringLiteral("StorePasswords"), &TSessions::StorePasswords,
                      &TSessions::SetStorePasswords, PersistMember{})
            .Property(QStringLiteral("Max"), &TSessions::Max, &TSessions::SetMax, PersistMember{})
            .List(QStringLiteral("TSessionEnumerator"), &TSession::StaticClass,
                  &TSessions::GetEnumerator, &TSessions::GetFactory)
            .Register();
    return cls;
}

const TItemClass& TSessions::GetItemClass() const {
    return ClassOf<TSession>();
}

QString TSessions::GetFileName() const {
    return TRepository::GetFileName() + QStringLiteral("Sessions.xml");
}

QString TSessions::GetPluralDisplayName() const {
    return QStringLiteral("munkafázisok");
}

QString TSessions::KeyFileName() {
    return PathHelper().GetPath(TPathHelper::piLocalAppData) + QStringLiteral("Sessions.key");
}

std::unique_ptr<TSessionEnumerator> TSessions::GetEnumerator() const {
    return std::make_unique<TSessionEnumerator>(*this);
}

QList<TSession*> TSessions::Sessions() const {
    QList<TSession*> result;
    for (TItem* item : *this)
        result.append(static_cast<TSession*>(item));
    return result;
}

QString TSessions::LoadOrClear() {
    try {
        Load();
    } catch (const std::exception& e) {
        Clear();
        FCurrent.clear();
        return ExceptionMessage(e);
    }
    return {};
}

TSession* TSessions::Current() const {
    TItem* item = nullptr;
    if (FCurrent.isEmpty() || !Find(FCurrent, item))
        return nullptr;
    return static_cast<TSession*>(item);
}

TSession* TSessions::ActivateSession(const QString& envName, const QString& userName,
                                     const QString& password) {
    TItem* found = nullptr;
    TSession* session = nullptr;
    if (Find(TSession::GenerateId(userName, envName), found)) {
        session = static_cast<TSession*>(found);
    } else {
        session = Create<TSession>(this);
        try {
            session->SetUserName(userName);
            session->SetEnvName(envName);
        } catch (...) {
            DestroyHalfMade(session);
            throw;
        }
    }
    FCurrent = session->Id();
    session->SetPassword(password);
    session->SetLastUsed(TDateTime::Now());
    return session;
}

void TSessions::SetMax(int value) {
    if (value == FMax || value < 0)
        return;
    FMax = value;
    QList<TSession*> sessions = Sessions();
    std::stable_sort(sessions.begin(), sessions.end(), [](const TSession* l, const TSession* r) {
        return TSessionsComparer::Compare(l, r) < 0;
    });
    for (qsizetype i = value; i < sessions.size(); ++i)
        delete sessions.at(i);
}

void TSessions::SetStorePasswords(bool value) {
    if (value == FStorePasswords)
        return;
    if (value) {
        UnlockOrCreateMasterKey();
        FStorePasswords = FMasterKey.Ready();
    } else {
        FMasterKey.Clear();
        DeleteKeyFile(KeyFileName());
        FMasterPassword.clear();
        FStorePasswords = false;
    }
    Save();
}

bool TSessions::Ask(QString& password, const QString& caption) {
    return FPrompt != nullptr && FPrompt->AskForPassword(password, caption, false);
}

bool TSessions::AskNew(QString& password, const QString& caption) {
    return FPrompt != nullptr && FPrompt->AskForNewPassword(password, caption, false);
}

void TSessions::UnlockOrCreateMasterKey() {
    if (FMasterKey.Ready())
        return;
    const QString keyFile = KeyFileName();
    QFile file(keyFile);
    if (!file.exists()) {
        QString password;
        if (!AskNew(password, QStringLiteral("Új mester jelszó létrehozása.")) ||
            password.isEmpty())
            return;
        FMasterKey.Generate(kMasterKeyBits);
        try {
            WriteKeyFile(keyFile, FMasterKey.ExportPrivateKey(password));
        } catch (...) {
            FMasterKey.Clear();
            throw;
        }
        FMasterPassword = password;
        return;
    }
    if (!file.open(QIODevice::ReadOnly))
        throw EOSError(QStringLiteral("%1: %2").arg(keyFile, file.errorString()));
    const QByteArray pem = file.readAll();
    file.close();
    for (int attempt = 1;; ++attempt) {
        if (FMasterPassword.isEmpty() && attempt == 1 && FOnGetMasterPassword)
            FOnGetMasterPassword(FMasterPassword);
        if (FMasterPassword.isEmpty()) {
            // A cancelled question gives up the unlock.
            QString typed;
            if (!Ask(typed, QStringLiteral("Mester jelszó megadása.")))
                return;
            FMasterPassword = typed;
        }
        if (FMasterPassword.isEmpty())
            return;
        try {
            FMasterKey.ImportPrivateKey(pem, FMasterPassword);
            return;
        } catch (const ECryptoError&) {
            FMasterPassword.clear();
            if (attempt >= MasterPasswordAttempts)
                throw EMasterPassword(
                    QStringLiteral("Hibás mester jelszó"),
                    FixArticle(Format(QStringLiteral("A(z) %s kulcs fájl nem nyitható meg a "
                                                     "megadott mester jelszóval."),
                                      {keyFile})));
        }
    }
}

void TSessions::DoLoad() {
    FCurrent.clear();
    try {
        TRepository::DoLoad();
    } catch (...) {
        FSaveBlocked = true;
        throw;
    }
    FSaveBlocked = false;
    const TSession* newest = nullptr;
    for (TSession* session : Sessions()) {
        if (newest == nullptr || TSessionsComparer::Compare(newest, session) > 0)
            newest = session;
    }
    FCurrent = newest != nullptr ? newest->Id() : QString();
}

void TSessions::DoSave() {
    if (FSaveBlocked)
        return;
    TRepository::DoSave();
}

void TSessions::DoReset() {
    FSaveBlocked = false;
    Clear();
    FCurrent.clear();
    FMax = DefaultMax;
    SetStorePasswords(false);
    // Also when storing was off already: a key file left from an earlier run
    // (one whose master password is forgotten) must not lock the next start.
    FMasterKey.Clear();
    FMasterPassword.clear();
    DeleteKeyFile(KeyFileName());
    Save();
}

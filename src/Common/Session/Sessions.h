#pragma once

// Stored logins ("munkafázis"): environment, user name and time of last use,
// saved as "Sessions.xml". Optionally each user's password is stored too,
// encrypted with an RSA key pair kept in "Sessions.key" under a master
// password (see Platform/Crypto/RsaKey.h for both formats).
//
// A load that fails (for example after three wrong master passwords) does
// not let the repository rewrite "Sessions.xml": the file on disk stays as
// it was until a later load succeeds or the list is reset.

#include "Common/Repository/Repository.h"
#include "Platform/Crypto/RsaKey.h"

#include <functional>
#include <memory>

// Asks the user for passwords; the starter shows the two password dialogs,
// tests answer from a script.
class IPasswordPrompt {
public:
    virtual ~IPasswordPrompt() = default;
    // "Jelszó megadása": true when the user confirmed; `password` receives the
    // typed text in both cases.
    virtual bool AskForPassword(QString& password, const QString& caption, bool allowEmpty) = 0;
    // "Új jelszó létrehozása": the same for a new password typed twice.
    virtual bool AskForNewPassword(QString& newPassword, const QString& caption,
                                   bool allowEmpty) = 0;
};

// The master password could not open the key file.
class EMasterPassword : public ECustom {
public:
    using ECustom::ECustom;
    TV_EXCEPTION_RAISE(EMasterPassword)
};

class TSessions;

class TSession : public TItem {
public:
    QString GetDisplayName() const override;

    // Upper-case hexadecimal MD5 of environment followed by user name, with
    // a-z in capitals and every character outside 7-bit ASCII as '?'.
    static QString GenerateId(const QString& userName, const QString& envName);

    const QString& UserName() const { return FUserName; }
    // Recomputes the identity (which may raise the not-unique error) first.
    void SetUserName(const QString& value);
    const QString& EnvName() const { return FEnvName; }
    void SetEnvName(const QString& value);
    const QString& Password() const { return FPassword; }
    void SetPassword(const QString& value);
    TDateTime LastUsed() const { return FLastUsed; }
    void SetLastUsed(TDateTime value);

    // The password encrypted with the owner's master key as upper-case
    // hexadecimal text; empty when passwords are not stored.
    QString StoredPassword() const;
    void SetStoredPassword(const QString& value);

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TSession() = default;

private:
    TSessions* Sessions() const;

    QString FUserName;
    QString FPassword;
    QString FEnvName;
    TDateTime FLastUsed;
};

class TSessionEnumerator : public TItemEnumerator {
public:
    using TItemEnumerator::TItemEnumerator;
    TSession* Current() const;
};

// Orders sessions newest first.
struct TSessionsComparer {
    // 1 when the right session is newer, -1 when it is older, 0 when equal.
    static int Compare(const TSession* left, const TSession* right);
};

using TGetPasswordEvent = std::function<void(QString& password)>;

class TSessions : public TRepository {
public:
    static constexpr int DefaultMax = 10;
    // Wrong master passwords accepted before a load gives up.
    static constexpr int MasterPasswordAttempts = 3;

    const TItemClass& GetItemClass() const override;
    // The repository folder followed by "Sessions.xml".
    QString GetFileName() const override;
    QString GetPluralDisplayName() const override;
    // Always the per-user data folder followed by "Sessions.key".
    static QString KeyFileName();

    // The start-up load: read the file; when that raises, empty the list
    // (the file on disk stays as it was). Answers the load error's text,
    // empty when the file was read.
    QString LoadOrClear();

    // Records a login: finds or creates the session of the environment and
    // user, makes it current, sets its password and its time of last use.
    TSession* ActivateSession(const QString& envName, const QString& userName,
                              const QString& password);
    // The session whose identity is the current one, or null.
    TSession* Current() const;
    const QString& CurrentId() const { return FCurrent; }

    bool StorePasswords() const { return FStorePasswords; }
    // On: unlocks or creates the master key (asking the user) and stays off
    // when that does not succeed. Off: forgets the key, deletes the key file
    // and the master password. Both save the list.
    void SetStorePasswords(bool value);
    int Max() const { return FMax; }
    // Keeps the newest `value` sessions (nothing is saved); a negative value
    // is ignored.
    void SetMax(int value);

    const QString& MasterPassword() const { return FMasterPassword; }
    bool MasterKeyReady() const { return FMasterKey.Ready(); }
    const TRsaKey& MasterKey() const { return FMasterKey; }

    const TGetPasswordEvent& OnGetMasterPassword() const { return FOnGetMasterPassword; }
    void SetOnGetMasterPassword(TGetPasswordEvent handler) {
        FOnGetMasterPassword = std::move(handler);
    }
    // The prompt (not owned) through which the user is asked; none: every
    // question counts as cancelled.
    void SetPrompt(IPasswordPrompt* prompt) { FPrompt = prompt; }

    // True after a failed load: saves leave the file on disk alone until a
    // load succeeds or the list is reset.
    bool SaveBlocked() const { return FSaveBlocked; }

    std::unique_ptr<TSessionEnumerator> GetEnumerator() const;
    QList<TSession*> Sessions() const;

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TSessions() = default;
    // The repository load, then the newest session becomes current.
    void DoLoad() override;
    void DoSave() override;
    // Empties the list, forgets the current session, Max back to 10,
    // password storing off (the key file is deleted), then saves.
    void DoReset() override;

private:
    // Unlocks the master key from the key file (asking for the master
    // password, up to three times) or creates a new key file.
    void UnlockOrCreateMasterKey();
    bool Ask(QString& password, const QString& caption);
    bool AskNew(QString& password, const QString& caption);

    QString FCurrent;
    bool FStorePasswords = false;
    int FMax = DefaultMax;
    QString FMasterPassword;
    TRsaKey FMasterKey;
    TGetPasswordEvent FOnGetMasterPassword;
    IPasswordPrompt* FPrompt = nullptr;
    bool FSaveBlocked = false;
};

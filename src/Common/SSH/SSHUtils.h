#pragma once

// SSH keys kept by name, and the trusted host key built into the program.

#include "Platform/Runtime/Exception.h"

#include <QByteArray>
#include <QString>
#include <map>

#include <memory>

// A resource that the program does not carry.
TV_DECLARE_EXCEPTION(EResNotFound, Exception);

// A public key in the one-line OpenSSH form ("ssh-rsa AAAA...").
class TSshKey {
public:
    explicit TSshKey(const QString& name = QString()) : FName(name) {}
    const QString& KeyName() const { return FName; }
    void SetKeyName(const QString& name) { FName = name; }
    const QByteArray& PublicKey() const { return FPublicKey; }
    // Keeps the key type and its data; a comment after them is dropped.
    void LoadPublicKey(const QByteArray& line);
    bool Loaded() const { return !FPublicKey.isEmpty(); }
    // Whether the other key is the same key (type and data).
    bool Equals(const QByteArray& line) const;

private:
    QString FName;
    QByteArray FPublicKey;
};

// An in-memory key store: keys by name (names compared without regard to case).
class TVirtualStorage {
public:
    TSshKey* FindKey(const QString& name) const;
    // Adds a new, empty key under the name (replacing one of that name).
    TSshKey* AddKey(const QString& name);
    void Clear() { FKeys.clear(); }
    int Count() const { return static_cast<int>(FKeys.size()); }

private:
    std::map<QString, std::unique_ptr<TSshKey>> FKeys;
};

class TSSHUtils {
public:
    // Loads the key resource named after the key's name in upper case
    // ("TarvolinService": the resource "TARVOLINSERVICE").
    static void LoadKeyFromResource(TSshKey* key);
};

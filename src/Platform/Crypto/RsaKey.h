#pragma once

// RSA key pairs over OpenSSL 3: generation, a password-protected key file,
// and encryption of short secrets.
//
// Key file format: PEM "ENCRYPTED PRIVATE KEY", i.e. PKCS#8
// EncryptedPrivateKeyInfo whose scheme is PBES2 with scrypt as key
// derivation (N = 16384, r = 8, p = 5, a random 16-byte salt) and AES-256-CBC
// as cipher; the password enters the derivation as its UTF-8 bytes. The
// private key inside carries the public part as well.
//
// Encryption: RSA-OAEP with SHA-256 for the label hash and for MGF1, so one
// block of a 1024-bit key holds at most 62 bytes of plain text and the cipher
// text is always as long as the modulus (128 bytes for 1024 bits).

#include "Platform/Runtime/Exception.h"

#include <QByteArray>
#include <QString>

#include <memory>

// An error of the cryptographic library; the message is the library's own.
TV_DECLARE_EXCEPTION(ECryptoError, Exception);

struct evp_pkey_st;

class TRsaKey {
public:
    TRsaKey();
    ~TRsaKey();
    TRsaKey(const TRsaKey&) = delete;
    TRsaKey& operator=(const TRsaKey&) = delete;

    // True once a key pair was generated or imported.
    bool Ready() const { return FKey != nullptr; }
    // Forgets the key pair.
    void Clear();
    int Bits() const;

    void Generate(int bits);
    // The private key (with its public part) as the encrypted PEM text above.
    QByteArray ExportPrivateKey(const QString& password) const;
    // Replaces the key pair by the one in the PEM text; a wrong password or a
    // damaged text raises ECryptoError and leaves the key as it was.
    void ImportPrivateKey(const QByteArray& pem, const QString& password);

    // Encrypts with the public part; raises ECryptoError (for a text too long
    // for one block, too).
    QByteArray Encrypt(const QByteArray& plain) const;
    // Decrypts with the private part; raises ECryptoError for a cipher text
    // that this key did not make.
    QByteArray Decrypt(const QByteArray& cipher) const;

private:
    struct TKeyFree {
        void operator()(evp_pkey_st* key) const;
    };
    std::unique_ptr<evp_pkey_st, TKeyFree> FKey;
};

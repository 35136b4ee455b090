#include "Platform/Crypto/RsaKey.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <QStringList>

#include <cstring>

namespace {

constexpr uint64_t kScryptN = 16384;
constexpr uint64_t kScryptR = 8;
constexpr uint64_t kScryptP = 5;

// The library's queued errors as one text (the queue is emptied).
[[noreturn]] void RaiseCryptoError(const char* what) {
    QString text = QString::fromLatin1(what);
    unsigned long code = 0;
    QStringList details;
    while ((code = ERR_get_error()) != 0) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        details << QString::fromLatin1(buffer);
    }
    if (!details.isEmpty())
        text += QStringLiteral(": ") + details.join(QStringLiteral("; "));
    throw ECryptoError(text);
}

struct TBioFree {
    void operator()(BIO* p) const { BIO_free(p); }
};
struct TCtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct TP8Free {
    void operator()(PKCS8_PRIV_KEY_INFO* p) const { PKCS8_PRIV_KEY_INFO_free(p); }
};
struct TSigFree {
    void operator()(X509_SIG* p) const { X509_SIG_free(p); }
};
struct TAlgorFree {
    void operator()(X509_ALGOR* p) const { X509_ALGOR_free(p); }
};

using TBioPtr = std::unique_ptr<BIO, TBioFree>;
using TCtxPtr = std::unique_ptr<EVP_PKEY_CTX, TCtxFree>;

// Hands the password to the PEM reader with its length (it may hold any byte).
int PasswordCallback(char* buffer, int size, int, void* user) {
    const auto* password = static_cast<const QByteArray*>(user);
    if (password->size() > size)
        return -1;
    std::memcpy(buffer, password->constData(), size_t(password->size()));
    return int(password->size());
}

TCtxPtr OaepContext(EVP_PKEY* key, bool encrypt) {
    TCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!ctx)
        RaiseCryptoError("EVP_PKEY_CTX_new_from_pkey");
    if ((encrypt ? EVP_PKEY_encrypt_init(ctx.get()) : EVP_PKEY_decrypt_init(ctx.get())) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) <= 0 ||
        EVP_PKEY_CTX_set_rsa_oaep_md(ctx.get(), EVP_sha256()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_mgf1_md(ctx.get(), EVP_sha256()) <= 0)
        RaiseCryptoError("RSA-OAEP set-up");
    return ctx;
}

} // namespace

void TRsaKey::TKeyFree::operator()(evp_pkey_st* key) const {
    EVP_PKEY_free(key);
}

TRsaKey::TRsaKey() = default;
TRsaKey::~TRsaKey() = default;

void TRsaKey::Clear() {
    FKey.reset();
}

int TRsaKey::Bits() const {
    return FKey ? EVP_PKEY_get_bits(FKey.get()) : 0;
}

void TRsaKey::Generate(int bits) {
    EVP_PKEY* key = EVP_RSA_gen(static_cast<unsigned int>(bits));
    if (key == nullptr)
        RaiseCryptoError("EVP_RSA_gen");
    FKey.reset(key);
}

QByteArray TRsaKey::ExportPrivateKey(const QString& password) const {
    TV_ASSERT(Ready());
    const QByteArray pass = password.toUtf8();
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, TP8Free> p8(EVP_PKEY2PKCS8(FKey.get()));
    if (!p8)
        RaiseCryptoError("EVP_PKEY2PKCS8");
    std::unique_ptr<X509_ALGOR, TAlgorFree> scheme(PKCS5_pbe2_set_scrypt(
        EVP_aes_256_cbc(), nullptr, 0, nullptr, kScryptN, kScryptR, kScryptP));
    if (!scheme)
        RaiseCryptoError("PKCS5_pbe2_set_scrypt");
    std::unique_ptr<X509_SIG, TSigFree> sig(
        PKCS8_set0_pbe(pass.constData(), int(pass.size()), p8.get(), scheme.get()));
    if (!sig)
        RaiseCryptoError("PKCS8_set0_pbe");
    (void)scheme.release(); // now part of the encrypted key info
    TBioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PKCS8(bio.get(), sig.get()) != 1)
        RaiseCryptoError("PEM_write_bio_PKCS8");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, qsizetype(size));
}

void TRsaKey::ImportPrivateKey(const QByteArray& pem, const QString& password) {
    QByteArray pass = password.toUtf8();
    TBioPtr bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    if (!bio)
        RaiseCryptoError("BIO_new_mem_buf");
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio.get(), nullptr, PasswordCallback, &pass);
    if (key == nullptr)
        RaiseCryptoError("PEM_read_bio_PrivateKey");
    std::unique_ptr<evp_pkey_st, TKeyFree> holder(key);
    if (!EVP_PKEY_is_a(key, "RSA"))
        throw ECryptoError(QStringLiteral("The key is not an RSA key"));
    FKey = std::move(holder);
}

QByteArray TRsaKey::Encrypt(const QByteArray& plain) const {
    TV_ASSERT(Ready());
    TCtxPtr ctx = OaepContext(FKey.get(), true);
    const auto* in = reinterpret_cast<const unsigned char*>(plain.constData());
    size_t size = 0;
    if (EVP_PKEY_encrypt(ctx.get(), nullptr, &size, in, size_t(plain.size())) <= 0)
        RaiseCryptoError("EVP_PKEY_encrypt");
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    if (EVP_PKEY_encrypt(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &size, in,
                         size_t(plain.size())) <= 0)
        RaiseCryptoError("EVP_PKEY_encrypt");
    out.truncate(qsizetype(size));
    return out;
}

QByteArray TRsaKey::Decrypt(const QByteArray& cipher) const {
    TV_ASSERT(Ready());
    TCtxPtr ctx = OaepContext(FKey.get(), false);
    const auto* in = reinterpret_cast<const unsigned char*>(cipher.constData());
    size_t size = 0;
    if (EVP_PKEY_decrypt(ctx.get(), nullptr, &size, in, size_t(cipher.size())) <= 0)
        RaiseCryptoError("EVP_PKEY_decrypt");
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    if (EVP_PKEY_decrypt(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &size, in,
                         size_t(cipher.size())) <= 0)
        RaiseCryptoError("EVP_PKEY_decrypt");
    out.truncate(qsizetype(size));
    return out;
}

#include "Common/SSH/SSHUtils.h"

#include <QFile>

static void InitTrustedKeyResource() {
    Q_INIT_RESOURCE(deployment);
}

void TSshKey::LoadPublicKey(const QByteArray& line) {
    const QList<QByteArray> parts = line.simplified().split(' ');
    FPublicKey = parts.size() >= 2 ? parts[0] + ' ' + parts[1] : QByteArray();
}

bool TSshKey::Equals(const QByteArray& line) const {
    if (FPublicKey.isEmpty())
        return false;
    TSshKey other;
    other.LoadPublicKey(line);
    return other.FPublicKey == FPublicKey;
}

TSshKey* TVirtualStorage::FindKey(const QString& name) const {
    auto it = FKeys.find(name.toUpper());
    return it == FKeys.end() ? nullptr : it->second.get();
}

TSshKey* TVirtualStorage::AddKey(const QString& name) {
    auto& slot = FKeys[name.toUpper()];
    slot = std::make_unique<TSshKey>(name);
    return slot.get();
}

void TSSHUtils::LoadKeyFromResource(TSshKey* key) {
    TV_ASSERT(key != nullptr);
    TV_ASSERT(!key->KeyName().isEmpty());
    InitTrustedKeyResource();
    const QString name = key->KeyName().toUpper();
    // Keys are resources ":/SSHKEY/<NAME>"; the gateway's key that the build
    // names is ":/deploy/SSHKEY".
    QString path = QStringLiteral(":/SSHKEY/") + name;
    if (!QFile::exists(path) && name == QLatin1String("TARVOLINSERVICE"))
        path = QStringLiteral(":/deploy/SSHKEY");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EResNotFound(QStringLiteral("Resource %1 not found").arg(name));
    const QByteArray content = file.readAll().trimmed();
    if (content.isEmpty())
        throw EResNotFound(QStringLiteral("Resource %1 not found").arg(name));
    key->LoadPublicKey(content);
}

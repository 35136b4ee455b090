#include "Support/TempAppData.h"

#include "Common/Config/Config.h"
#include "Common/Repository/ObjXmlPersist.h"

#include <QDir>
#include <QFile>
#include <QtTest>

TTempAppData::TTempAppData() {
    if (!FDir.isValid())
        return;
    QDir().mkpath(FDir.filePath(QStringLiteral("data")));
    QDir().mkpath(FDir.filePath(QStringLiteral("shared")));
    QDir().mkpath(FDir.filePath(QStringLiteral("temp")));
    const QString config = FDir.filePath(QStringLiteral("Tarvolin.xml"));
    WriteWholeFile(config,
                   QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                  "<Tarvolin><Path><LocalAppData>%1</LocalAppData>"
                                  "<AppData>%2</AppData><Temp>%3</Temp></Path></Tarvolin>\n")
                       .arg(Path(), AppDataPath(), TempPath())
                       .toUtf8());
    ReloadConfiguration(config);
}

TTempAppData::~TTempAppData() {
    ReloadConfiguration();
}

TSaveCountingAppData::TSaveCountingAppData(int& saves) {
    TObjPersist::SetBeforeCommitHook([&saves](const QString&) { ++saves; });
}

TSaveCountingAppData::~TSaveCountingAppData() {
    TObjPersist::SetBeforeCommitHook({});
}

QString TTempAppData::Path() const {
    return FDir.filePath(QStringLiteral("data")) + u'/';
}

QString TTempAppData::TempPath() const {
    return FDir.filePath(QStringLiteral("temp")) + u'/';
}

QString TTempAppData::AppDataPath() const {
    return FDir.filePath(QStringLiteral("shared")) + u'/';
}

QByteArray ReadWholeFile(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void WriteWholeFile(const QString& fileName, const QByteArray& data) {
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(fileName));
    file.write(data);
}

#include "Common/Config/Config.h"

#include "Common/Error/CustomException.h"
#include "Common/Util/SysUtilsEx.h"
#include "Platform/Runtime/Exception.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <memory>

namespace {

const QString kDisplayNames = QStringLiteral("piNone=\n"
                                             "piRuntime=Program\n"
                                             "piCurrent=Aktuális\n"
                                             "piAppData=Globális program adatok\n"
                                             "piLocalAppData=Helyi program adatok\n"
                                             "piTempData=Ideiglenes\n"
                                             "piLocalDesktop=Helyi asztal\n"
                                             "piLocalStartMenu=Helyi Start menü\n"
                                             "piTarvolinStarter=Tarvolin indítópult\n"
                                             "piPackageFiles=Szerver csomagok\n"
                                             "piDownloadedFiles=Letöltött csomagok\n"
                                             "piClientErrorRiports=Kliens hibajegyek\n"
                                             "piServerErrorRiports=Szerver hibajegyek");

const char* const kPathNames[] = {"piNone",
                                  "piRuntime",
                                  "piCurrent",
                                  "piAppData",
                                  "piLocalAppData",
                                  "piTempData",
                                  "piLocalDesktop",
                                  "piLocalStartMenu",
                                  "piTarvolinStarter",
                                  "piPackageFiles",
                                  "piDownloadedFiles",
                                  "piClientErrorRiports",
                                  "piServerErrorRiports"};

QString ElementText(const QDomElement& e, const QString& fileName) {
    for (QDomNode n = e.firstChild(); !n.isNull(); n = n.nextSibling()) {
        if (n.isElement())
            throw ECustom(QStringLiteral("Hibás konfigurációs fájl"),
                          QStringLiteral("A(z) %1 fájl \"%2\" eleme nem szöveget tartalmaz.")
                              .arg(fileName, e.tagName()));
    }
    return e.text();
}

QString ExecutableFolder() {
    return QFileInfo(GetModuleFileName()).absolutePath();
}

std::unique_ptr<TConfig>& ConfigHolder() {
    static std::unique_ptr<TConfig> holder;
    return holder;
}

std::unique_ptr<TPathHelper>& PathHolder() {
    static std::unique_ptr<TPathHelper> holder;
    return holder;
}

} // namespace

QString IncludeTrailingPathDelimiter(const QString& path) {
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

void TConfig::GetValue(TConfigType type, QString& value) const {
    if (FValidValue[type])
        value = FValue[type];
}

void TConfig::SetValue(TConfigType type, const QString& value) {
    FValue[type] = value;
    FValidValue[type] = !value.isEmpty();
}

QString TConfig::DefaultFileName() {
    return ExecutableFolder() + QStringLiteral("/Tarvolin.xml");
}

void TConfig::LoadFromFile(const QString& fileName) {
    for (int i = 0; i < TypeCount; ++i)
        SetValue(TConfigType(i), QString());
    const QString name = fileName.isEmpty() ? DefaultFileName() : fileName;
    QFile file(name);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly))
        throw ECustom(
            QStringLiteral("Hibás konfigurációs fájl"),
            FixArticle(
                QStringLiteral("A(z) %1 fájl nem olvasható: %2.").arg(name, file.errorString())));
    QDomDocument doc;
    QString error;
    int line = 0;
    int column = 0;
    if (!doc.setContent(&file, &error, &line, &column))
        throw ECustom(
            QStringLiteral("Hibás konfigurációs fájl"),
            FixArticle(QStringLiteral("A(z) %1 fájl nem olvasható: %2 (%3. sor, %4. oszlop).")
                           .arg(name, error)
                           .arg(line)
                           .arg(column)));
    QDomElement root;
    for (QDomNode n = doc.firstChild(); !n.isNull(); n = n.nextSibling()) {
        if (n.isElement() && n.toElement().tagName() == QLatin1String("Tarvolin")) {
            root = n.toElement();
            break;
        }
    }
    if (root.isNull())
        return;
    const QDomElement path = root.firstChildElement(QStringLiteral("Path"));
    if (!path.isNull()) {
        const std::pair<const char*, TConfigType> items[] = {{"AppData", ctAppDataPath},
                                                             {"LocalAppData", ctLocalAppDataPath},
                                                             {"Oracle", ctOraclePath},
                                                             {"Temp", ctTempPath}};
        for (const auto& [tag, type] : items) {
            const QDomElement e = path.firstChildElement(QLatin1String(tag));
            if (!e.isNull())
                SetValue(type, ElementText(e, name));
        }
    }
    const QDomElement log = root.firstChildElement(QStringLiteral("Log4D"));
    if (!log.isNull()) {
        QString text;
        for (QDomElement e = log.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
            text += e.tagName() + QLatin1Char('=') + ElementText(e, name) + QStringLiteral("\r\n");
        SetValue(ctLog4D, text);
    }
    const QDomElement debug = root.firstChildElement(QStringLiteral("Debug"));
    if (!debug.isNull()) {
        const QDomElement e = debug.firstChildElement(QStringLiteral("IgnoreServerVersions"));
        if (!e.isNull())
            SetValue(ctIgnoreServerVersions, ElementText(e, name));
    }
}

TPathHelper::TPathHelper(const TConfig& config) : FConfig(config) {
    LoadPaths();
}

void TPathHelper::LoadPaths() {
    auto withTarvolin = [](const QString& systemFolder) {
        if (systemFolder.isEmpty())
            return QStringLiteral("Tarvolin/");
        return IncludeTrailingPathDelimiter(systemFolder) + QStringLiteral("Tarvolin/");
    };
    auto configured = [this](TConfig::TConfigType type, const QString& fallback) {
        return FConfig.IsSet(type) ? FConfig.GetValue(type) : fallback;
    };
    FPathList.fill(QString());
    FPathList[piRuntime] = IncludeTrailingPathDelimiter(ExecutableFolder());
    FPathList[piAppData] =
        configured(TConfig::ctAppDataPath, withTarvolin(QStringLiteral("/var/lib")));
    FPathList[piLocalAppData] = configured(
        TConfig::ctLocalAppDataPath,
        withTarvolin(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)));
    QString temp = QDir::tempPath();
    const QString longTemp = QFileInfo(temp).canonicalFilePath();
    if (longTemp.isEmpty())
        RaiseLastOSError(temp);
    FPathList[piTempData] = configured(TConfig::ctTempPath, withTarvolin(longTemp));
    FPathList[piLocalDesktop] = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    FPathList[piLocalStartMenu] =
        QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    FPathList[piTarvolinStarter] = QStringLiteral("/opt/Tarvolin");
    FPathList[piPackageFiles] =
        IncludeTrailingPathDelimiter(FPathList[piAppData]) + QStringLiteral("Package Files");
    FPathList[piDownloadedFiles] = IncludeTrailingPathDelimiter(FPathList[piLocalAppData]) +
                                   QStringLiteral("Downloaded Files");
    FPathList[piClientErrorRiports] =
        IncludeTrailingPathDelimiter(FPathList[piLocalAppData]) + QStringLiteral("Errors");
    FPathList[piServerErrorRiports] =
        IncludeTrailingPathDelimiter(FPathList[piAppData]) + QStringLiteral("Errors");
}

QString TPathHelper::GetPath(TPathType type) const {
    if (type == piCurrent)
        return IncludeTrailingPathDelimiter(QDir::currentPath());
    return IncludeTrailingPathDelimiter(FPathList[type]);
}

QString TPathHelper::EnumeratorName(TPathType type) {
    return QLatin1String(kPathNames[type]);
}

QString TPathHelper::GetPathDisplayName(TPathType type) const {
    const QString key = EnumeratorName(type);
    const QStringList lines =
        QCoreApplication::translate("TPathHelper", kDisplayNames.toUtf8().constData())
            .split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.left(eq).compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1);
    }
    return {};
}

TConfig& Config() {
    auto& holder = ConfigHolder();
    if (!holder) {
        auto config = std::make_unique<TConfig>();
        config->LoadFromFile();
        holder = std::move(config);
    }
    return *holder;
}

TPathHelper& PathHelper() {
    auto& holder = PathHolder();
    if (!holder)
        holder = std::make_unique<TPathHelper>(Config());
    return *holder;
}

void ReloadConfiguration(const QString& configFile) {
    auto config = std::make_unique<TConfig>();
    config->LoadFromFile(configFile);
    PathHolder().reset();
    ConfigHolder() = std::move(config);
    PathHolder() = std::make_unique<TPathHelper>(*ConfigHolder());
}

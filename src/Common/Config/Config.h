#pragma once

#include <QString>
#include <array>

// Optional machine overrides read once from "Tarvolin.xml" next to the executable.
class TConfig {
public:
    enum TConfigType {
        ctAppDataPath,
        ctLocalAppDataPath,
        ctOraclePath,
        ctTempPath,
        ctLog4D,
        ctIgnoreServerVersions
    };
    static constexpr int TypeCount = ctIgnoreServerVersions + 1;

    TConfig() = default;

    bool IsSet(TConfigType type) const { return FValidValue[type]; }
    // The value when set; when not set the caller's variable is left as it was.
    void GetValue(TConfigType type, QString& value) const;
    QString GetValue(TConfigType type) const { return FValue[type]; }
    void SetValue(TConfigType type, const QString& value);

    // Reads the given file ("Tarvolin.xml" next to the executable when empty).
    // A missing file, root or section is no error; a file that is not
    // well-formed raises ECustom naming the file and the parse error.
    void LoadFromFile(const QString& fileName = QString());
    static QString DefaultFileName();

private:
    std::array<QString, TypeCount> FValue;
    std::array<bool, TypeCount> FValidValue{};
};

// Every folder the program works with, resolved once with the overrides.
class TPathHelper {
public:
    enum TPathType {
        piNone,
        piRuntime,
        piCurrent,
        piAppData,
        piLocalAppData,
        piTempData,
        piLocalDesktop,
        piLocalStartMenu,
        piTarvolinStarter,
        piPackageFiles,
        piDownloadedFiles,
        piClientErrorRiports,
        piServerErrorRiports
    };
    static constexpr int TypeCount = piServerErrorRiports + 1;

    explicit TPathHelper(const TConfig& config);

    // The folder with a trailing "/".
    QString GetPath(TPathType type) const;
    QString GetPathDisplayName(TPathType type) const;
    static QString EnumeratorName(TPathType type);
    void LoadPaths();

private:
    const TConfig& FConfig;
    std::array<QString, TypeCount> FPathList;
};

// The process-wide configuration and path resolver. Created on first use;
// the program touches both before anything else runs.
TConfig& Config();
TPathHelper& PathHelper();
// Re-reads the configuration and the folders (tests change the environment).
void ReloadConfiguration(const QString& configFile = QString());

QString IncludeTrailingPathDelimiter(const QString& path);

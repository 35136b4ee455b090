#include "Common/Util/SysUtilsEx.h"

#include "Platform/Runtime/VersionNote.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#include <vector>

QString GetModuleFileName() {
    if (QCoreApplication::instance() != nullptr)
        return QCoreApplication::applicationFilePath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

QString GetExecutableVersion() {
    return ReadFileVersionNote(GetModuleFileName());
}

QString GetExecutableVersionText() {
    return QCoreApplication::translate("SysUtilsEx", "Verzió: %1").arg(GetExecutableVersion());
}

bool IsUserAdmin() {
    if (geteuid() == 0)
        return true;
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? size_t(count) : 0U);
    if (count > 0 && getgroups(count, groups.data()) < 0)
        groups.clear();
    groups.push_back(getegid());
    for (gid_t gid : groups) {
        if (const group* g = getgrgid(gid)) {
            const QByteArray name(g->gr_name);
            if (name == "sudo" || name == "wheel" || name == "admin")
                return true;
        }
    }
    return false;
}

bool EnvironmentVariableExists(const QString& name) {
    return qEnvironmentVariableIsSet(name.toLocal8Bit().constData());
}

QString GetEnvironmentVariable(const QString& name) {
    return qEnvironmentVariable(name.toLocal8Bit().constData());
}

void SetEnvironmentVariable(const QString& name, const QString& value) {
    if (value.isEmpty())
        ClearEnvironmentVariable(name);
    else
        qputenv(name.toLocal8Bit().constData(), value.toLocal8Bit());
}

void ClearEnvironmentVariable(const QString& name) {
    qunsetenv(name.toLocal8Bit().constData());
}

void PrependToPath(const QString& folder) {
    QStringList entries =
        GetEnvironmentVariable(QStringLiteral("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (!entries.contains(folder))
        entries.prepend(folder);
    entries.removeAll(QString());
    SetEnvironmentVariable(QStringLiteral("PATH"), entries.join(QLatin1Char(':')));
}

QString BuildMailToUrl(const QString& address, const QString& subject, const QString& body) {
    return QStringLiteral("mailto:%1?subject=%2&body=%3")
        .arg(QString::fromUtf8(QUrl::toPercentEncoding(address, "@")),
             QString::fromUtf8(QUrl::toPercentEncoding(subject)),
             QString::fromUtf8(QUrl::toPercentEncoding(body)));
}

bool ComposeMail(const QString& address, const QString& subject, const QString& body) {
    return QDesktopServices::openUrl(QUrl(BuildMailToUrl(address, subject, body)));
}

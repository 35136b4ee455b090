#include "Platform/Archive/SevenZip.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>

#include <csignal>
#include <sys/prctl.h>

namespace {

struct TFormat {
    const char* Name;
    QStringList Extensions;
};

// The unpack formats and their name patterns ("*.ext"), in the engine's order.
const QList<TFormat>& Formats() {
    static const QList<TFormat> formats = {
        {"PE", {"exe", "dll", "sys", "bpl"}},
        {"zip", {"zip", "jar", "xpi"}},
        {"bzip2", {"bz2", "bzip2", "tbz2", "tbz"}},
        {"rar", {"rar", "r00"}},
        {"arj", {"arj"}},
        {"Z", {"z", "taz"}},
        {"lzh", {"lzh", "lha"}},
        {"7z", {"7z"}},
        {"cab", {"cab"}},
        {"nsis", {"nsis"}},
        {"lzma", {"lzma"}},
        {"lzma86", {"lzma86"}},
        {"iso", {"iso"}},
        {"xar", {"xar"}},
        {"hfs", {"hfs"}},
        {"dmg", {"dmg"}},
        {"Compound", {"msi", "msp", "doc", "xls", "ppt"}},
        {"wim", {"wim", "swm"}},
        {"chm", {"chm", "chi", "chq", "chw", "hxs", "hxi", "hxr", "hxq", "hxw", "lit"}},
        {"Split", {"001"}},
        {"rpm", {"rpm"}},
        {"deb", {"deb"}},
        {"cpio", {"cpio"}},
        {"tar", {"tar"}},
        {"gzip", {"gz", "gzip", "tgz", "tpz"}},
        {"xz", {"xz", "txz"}},
        {"ntfs", {"ntfs", "img"}},
        {"fat", {"fat"}},
        {"mbr", {"mbr"}},
        {"vhd", {"vhd"}},
        {"flv", {"flv"}},
        {"swf", {"swf"}},
    };
    return formats;
}

QString Tail(const QByteArray& text) {
    QStringList lines;
    for (const QByteArray& line : text.split('\n')) {
        const QString l = QString::fromUtf8(line).trimmed();
        if (!l.isEmpty())
            lines.append(l);
    }
    while (lines.size() > 6)
        lines.removeFirst();
    return lines.join(QLatin1Char(' '));
}

QProcessEnvironment EngineEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    return env;
}

// The engine ends with the process that started it, so that a killed
// installer does not leave it writing into a folder.
void PrepareEngine(QProcess& process) {
    process.setProcessEnvironment(EngineEnvironment());
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

bool IsLinkMode(const QString& mode) {
    // "A lrwxrwxrwx" (7z, zip) or "lrwxrwxrwx" (tar).
    for (const QString& part : mode.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        if (part.size() == 10 && part.startsWith(QLatin1Char('l')))
            return true;
    return false;
}

bool HasParentPart(const QString& path) {
    for (const QString& part : path.split(QLatin1Char('/')))
        if (part == QLatin1String(".."))
            return true;
    return false;
}

[[noreturn]] void RaiseUnsafe(const QString& archive, const QString& entry, const QString& why) {
    throw EArchiveError(QStringLiteral("A(z) %1 tömörített fájl nem biztonságos bejegyzést "
                                       "tartalmaz: \"%2\" (%3). A fájl nem lett kibontva.")
                            .arg(archive, entry, why));
}

} // namespace

QString TSevenZipArchive::EngineName() {
    return QStringLiteral("7zz");
}

QString TSevenZipArchive::FindEngine() {
    const QString path = QStandardPaths::findExecutable(EngineName());
    if (path.isEmpty())
        throw EArchiveError(QStringLiteral("A 7-Zip tömörítő program (%1) nem található a "
                                           "keresési útvonalon.")
                                .arg(EngineName()));
    return path;
}

QString TSevenZipArchive::FindFormat(const QString& fileName) {
    const QString name = QFileInfo(fileName).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return {};
    const QString ext = name.mid(dot + 1);
    for (const TFormat& format : Formats())
        for (const QString& e : format.Extensions)
            if (ext.compare(e, Qt::CaseInsensitive) == 0)
                return QLatin1String(format.Name);
    return {};
}

bool TSevenZipArchive::IsCompressedFileName(const QString& fileName) {
    const QString format = FindFormat(fileName);
    return !format.isEmpty() && format != QLatin1String("PE");
}

TSevenZipArchive::TSevenZipArchive(const QString& archiveFile) : FArchiveFile(archiveFile) {}

QByteArray TSevenZipArchive::Run(const QStringList& arguments) const {
    const QString engine = FindEngine();
    QProcess process;
    PrepareEngine(process);
    process.start(engine, arguments);
    if (!process.waitForStarted(-1))
        throw EArchiveError(QStringLiteral("A 7-Zip tömörítő program (%1) nem indítható: %2.")
                                .arg(engine, process.errorString()));
    process.waitForFinished(-1);
    const QByteArray out = process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw EArchiveError(QStringLiteral("A(z) %1 tömörített fájl nem olvasható: %2")
                                .arg(QFileInfo(FArchiveFile).fileName(),
                                     Tail(process.readAllStandardError() + '\n' + out)));
    return out;
}

QList<TArchiveEntry> TSevenZipArchive::List() const {
    const QByteArray out =
        Run({QStringLiteral("l"), QStringLiteral("-slt"), QStringLiteral("--"), FArchiveFile});
    QList<TArchiveEntry> entries;
    bool inEntries = false;
    TArchiveEntry current;
    bool have = false;
    auto flush = [&] {
        if (have)
            entries.append(current);
        current = TArchiveEntry();
        have = false;
    };
    for (const QByteArray& raw : out.split('\n')) {
        const QString line = QString::fromUtf8(raw).remove(QLatin1Char('\r'));
        if (!inEntries) {
            if (line.startsWith(QLatin1String("----------")))
                inEntries = true;
            continue;
        }
        if (line.isEmpty()) {
            flush();
            continue;
        }
        const int eq = line.indexOf(QLatin1String(" ="));
        if (eq < 0)
            continue;
        const QString key = line.left(eq);
        QString value = line.mid(eq + 2);
        if (value.startsWith(QLatin1Char(' ')))
            value.remove(0, 1);
        if (key == QLatin1String("Path")) {
            flush();
            current.Path = value;
            have = true;
        } else if (key == QLatin1String("Folder")) {
            current.IsFolder = value == QLatin1String("+");
        } else if (key == QLatin1String("Size")) {
            current.Size = value.toLongLong();
        } else if (key == QLatin1String("Attributes") || key == QLatin1String("Mode")) {
            if (value.startsWith(QLatin1Char('D')) || value.startsWith(QLatin1Char('d')))
                current.IsFolder = true;
            if (IsLinkMode(value))
                current.IsSymLink = true;
        } else if (key == QLatin1String("Symbolic Link")) {
            if (!value.isEmpty()) {
                current.IsSymLink = true;
                current.LinkTarget = value;
            }
        } else if (key == QLatin1String("Hard Link")) {
            if (!value.isEmpty()) {
                current.IsHardLink = true;
                current.LinkTarget = value;
            }
        }
    }
    flush();
    ReadLinkTargets(entries);
    return entries;
}

void TSevenZipArchive::ReadLinkTargets(QList<TArchiveEntry>& entries) const {
    for (TArchiveEntry& entry : entries) {
        if (!entry.IsSymLink || !entry.LinkTarget.isEmpty())
            continue;
        entry.LinkTarget = QString::fromUtf8(
            Run({QStringLiteral("e"), QStringLiteral("-so"), QStringLiteral("-spd"),
                 QStringLiteral("-bd"), QStringLiteral("--"), FArchiveFile, entry.Path}));
        if (entry.LinkTarget.isEmpty())
            RaiseUnsafe(QFileInfo(FArchiveFile).fileName(), entry.Path,
                        QStringLiteral("a hivatkozás célja nem olvasható"));
    }
}

void TSevenZipArchive::CheckEntries(const QList<TArchiveEntry>& entries) {
    // The archive's name is not known here; the caller's error names it.
    const QString archive = QStringLiteral("kibontandó");
    for (const TArchiveEntry& entry : entries) {
        const QString path = entry.Path;
        if (path.isEmpty())
            RaiseUnsafe(archive, path, QStringLiteral("üres név"));
        if (path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\')) ||
            (path.size() > 1 && path.at(1) == QLatin1Char(':')))
            RaiseUnsafe(archive, path, QStringLiteral("abszolút útvonal"));
        if (HasParentPart(QString(path).replace(QLatin1Char('\\'), QLatin1Char('/'))))
            RaiseUnsafe(archive, path, QStringLiteral("\"..\" az útvonalban"));
        if (entry.IsSymLink || entry.IsHardLink) {
            const QString target = entry.LinkTarget;
            if (target.startsWith(QLatin1Char('/')))
                RaiseUnsafe(archive, path, QStringLiteral("abszolút hivatkozás"));
            // A symbolic link is resolved from its own folder, a hard link from the root.
            const QString base = entry.IsSymLink ? QFileInfo(QStringLiteral("/root/") + path).path()
                                                 : QStringLiteral("/root");
            const QString resolved = QDir::cleanPath(base + QLatin1Char('/') + target);
            if (resolved != QLatin1String("/root") && !resolved.startsWith(QLatin1String("/root/")))
                RaiseUnsafe(archive, path, QStringLiteral("a célmappán kívülre mutató hivatkozás"));
        }
    }
}

void TSevenZipArchive::Extract(const QString& destFolder, const TProgress& progress) const {
    const QList<TArchiveEntry> entries = List();
    try {
        CheckEntries(entries);
    } catch (const EArchiveError& e) {
        throw EArchiveError(
            QString(e.Message())
                .replace(QStringLiteral("kibontandó"), QFileInfo(FArchiveFile).fileName()));
    }
    const QString engine = FindEngine();
    QProcess process;
    PrepareEngine(process);
    process.start(engine, {QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-bsp1"),
                           QStringLiteral("-bso0"), QStringLiteral("-spd"),
                           QStringLiteral("-o") + destFolder, QStringLiteral("--"), FArchiveFile});
    if (!process.waitForStarted(-1))
        throw EArchiveError(QStringLiteral("A 7-Zip tömörítő program (%1) nem indítható: %2.")
                                .arg(engine, process.errorString()));
    static const QRegularExpression percent(QStringLiteral("(\\d+)%"));
    qint64 last = -1;
    QByteArray pending;
    auto consume = [&](const QByteArray& chunk) {
        pending += chunk;
        // Progress lines are rewritten in place with backspaces.
        const QString text = QString::fromUtf8(pending);
        auto it = percent.globalMatch(text);
        while (it.hasNext()) {
            const qint64 value = it.next().captured(1).toLongLong();
            if (value != last && value <= 100) {
                last = value;
                if (progress)
                    progress(value, 100);
            }
        }
        const int cut = qMax(pending.lastIndexOf('\b'), pending.lastIndexOf('\n'));
        if (cut >= 0)
            pending = pending.mid(cut + 1);
    };
    while (!process.waitForFinished(100))
        consume(process.readAllStandardOutput());
    consume(process.readAllStandardOutput());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw EArchiveError(
            QStringLiteral("A(z) %1 tömörített fájl nem bontható ki: %2")
                .arg(QFileInfo(FArchiveFile).fileName(), Tail(process.readAllStandardError())));
    if (progress && last != 100)
        progress(100, 100);
}

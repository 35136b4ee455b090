#include "Platform/Runtime/VersionNote.h"

#include <QFile>
#include <cstring>
#include <elf.h>

namespace {

template <class T> bool ReadAt(QFile& f, qint64 offset, T& out) {
    return f.seek(offset) && f.read(reinterpret_cast<char*>(&out), sizeof(T)) == sizeof(T);
}

QString ScanNotes(const QByteArray& data) {
    qsizetype pos = 0;
    auto align4 = [](quint32 v) { return (v + 3U) & ~3U; };
    while (pos + qsizetype(sizeof(Elf64_Nhdr)) <= data.size()) {
        Elf64_Nhdr hdr;
        std::memcpy(&hdr, data.constData() + pos, sizeof hdr);
        pos += sizeof hdr;
        const qsizetype nameEnd = pos + align4(hdr.n_namesz);
        const qsizetype descEnd = nameEnd + align4(hdr.n_descsz);
        if (descEnd > data.size() || hdr.n_descsz > data.size())
            return {};
        const QByteArray name = data.mid(pos, hdr.n_namesz);
        if (hdr.n_type == 1 && name == QByteArray("Tarvolin", 9)) {
            QByteArray desc = data.mid(nameEnd, hdr.n_descsz);
            const qsizetype zero = desc.indexOf('\0');
            if (zero >= 0)
                desc.truncate(zero);
            return QString::fromLatin1(desc);
        }
        pos = descEnd;
    }
    return {};
}

} // namespace

QString ReadFileVersionNote(const QString& fileName) {
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    Elf64_Ehdr eh;
    if (!ReadAt(f, 0, eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 ||
        eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_shentsize != sizeof(Elf64_Shdr) ||
        eh.e_shnum == 0 || eh.e_shnum > 4096)
        return {};
    for (int i = 0; i < eh.e_shnum; ++i) {
        Elf64_Shdr sh;
        if (!ReadAt(f, qint64(eh.e_shoff) + qint64(i) * qint64(sizeof sh), sh))
            return {};
        if (sh.sh_type != SHT_NOTE || sh.sh_size > 1024 * 1024)
            continue;
        if (!f.seek(qint64(sh.sh_offset)))
            continue;
        QString version = ScanNotes(f.read(qint64(sh.sh_size)));
        if (!version.isEmpty())
            return version;
    }
    return {};
}

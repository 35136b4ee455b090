#include "Platform/Debug/MapFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cxxabi.h>
#include <elfutils/libdw.h>
#include <fcntl.h>
#include <gelf.h>
#include <memory>
#include <unistd.h>

namespace {

// "CMakeFiles/Tarvolin.dir/TarvolinDemo.cpp.o" -> "TarvolinDemo";
// "libfoo.a(bar.o)" -> "bar".
QString UnitOf(QString object) {
    object = object.trimmed();
    const int open = object.lastIndexOf(QLatin1Char('('));
    if (open >= 0 && object.endsWith(QLatin1Char(')')))
        object = object.mid(open + 1, object.size() - open - 2);
    return QFileInfo(object).baseName();
}

QString Demangle(const QByteArray& mangled) {
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> text(
        abi::__cxa_demangle(mangled.constData(), nullptr, nullptr, &status), &std::free);
    if (status != 0 || !text)
        return QString::fromUtf8(mangled);
    return QString::fromUtf8(text.get());
}

// The function a ".text.<name>" input section holds, demangled.
QString FunctionOfSection(const QByteArray& section) {
    static const char* const prefixes[] = {".text.startup.", ".text.unlikely.", ".text.hot.",
                                           ".text.exit.", ".text."};
    for (const char* prefix : prefixes) {
        if (section.startsWith(prefix)) {
            const QByteArray name = section.mid(static_cast<int>(std::strlen(prefix)));
            return name.isEmpty() ? QString() : Demangle(name);
        }
    }
    return QString();
}

} // namespace

struct TMapFile::TLines {
    int FFd = -1;
    Dwarf* FDwarf = nullptr;
    ~TLines() {
        if (FDwarf != nullptr)
            dwarf_end(FDwarf);
        if (FFd >= 0)
            ::close(FFd);
    }
};

TMapFile::TMapFile(const QString& mapFileName, const QString& executable) {
    QFile file(mapFileName);
    if (file.open(QIODevice::ReadOnly))
        Parse(file.readAll());
    if (executable.isEmpty())
        return;
    auto lines = std::make_unique<TLines>();
    lines->FFd = ::open(QFile::encodeName(executable).constData(), O_RDONLY | O_CLOEXEC);
    if (lines->FFd < 0)
        return;
    elf_version(EV_CURRENT);
    if (Elf* elf = elf_begin(lines->FFd, ELF_C_READ, nullptr)) {
        GElf_Ehdr ehdr;
        if (gelf_getehdr(elf, &ehdr) != nullptr && ehdr.e_type == ET_EXEC) {
            size_t count = 0;
            elf_getphdrnum(elf, &count);
            uint64_t lowest = UINT64_MAX;
            for (size_t i = 0; i < count; ++i) {
                GElf_Phdr phdr;
                if (gelf_getphdr(elf, static_cast<int>(i), &phdr) != nullptr &&
                    phdr.p_type == PT_LOAD)
                    lowest = std::min<uint64_t>(lowest, phdr.p_vaddr & ~uint64_t(0xfff));
            }
            if (lowest != UINT64_MAX)
                FLinkBase = lowest;
        }
        elf_end(elf);
    }
    lines->FDwarf = dwarf_begin(lines->FFd, DWARF_C_READ);
    if (lines->FDwarf != nullptr)
        FLines = std::move(lines);
}

TMapFile::~TMapFile() = default;

void TMapFile::Parse(const QByteArray& text) {
    const QList<QByteArray> lines = text.split('\n');
    static const QRegularExpression sectionLine(
        QStringLiteral("^ (\\.text\\S*)\\s+0x([0-9a-fA-F]+)\\s+0x([0-9a-fA-F]+)\\s+(\\S.*)$"));
    static const QRegularExpression sectionName(QStringLiteral("^ (\\.text\\S*)\\s*$"));
    static const QRegularExpression continuation(
        QStringLiteral("^\\s+0x([0-9a-fA-F]+)\\s+0x([0-9a-fA-F]+)\\s+(\\S.*)$"));
    static const QRegularExpression symbolLine(
        QStringLiteral("^\\s{8,}0x([0-9a-fA-F]+)\\s{2,}(\\S.*)$"));

    bool inMap = false;
    QByteArray pendingName;
    TSection* current = nullptr;
    const auto addSection = [&](const QByteArray& name, uint64_t start, uint64_t size,
                                const QString& object) {
        current = nullptr;
        if (size == 0 || start == 0)
            return;
        FSections.append(TSection{start, size, UnitOf(object), FunctionOfSection(name), {}});
        current = &FSections.last();
    };
    for (const QByteArray& raw : lines) {
        QByteArray line = raw;
        if (line.endsWith('\r'))
            line.chop(1);
        if (!inMap) {
            if (line.startsWith("Linker script and memory map"))
                inMap = true;
            continue;
        }
        const QString s = QString::fromUtf8(line);
        if (!pendingName.isEmpty()) {
            const auto m = continuation.match(s);
            if (m.hasMatch())
                addSection(pendingName, m.captured(1).toULongLong(nullptr, 16),
                           m.captured(2).toULongLong(nullptr, 16), m.captured(3));
            else
                current = nullptr;
            pendingName.clear();
            continue;
        }
        if (auto m = sectionLine.match(s); m.hasMatch()) {
            addSection(m.captured(1).toUtf8(), m.captured(2).toULongLong(nullptr, 16),
                       m.captured(3).toULongLong(nullptr, 16), m.captured(4));
            continue;
        }
        if (auto m = sectionName.match(s); m.hasMatch()) {
            pendingName = m.captured(1).toUtf8();
            continue;
        }
        if (auto m = symbolLine.match(s); m.hasMatch()) {
            if (current == nullptr)
                continue;
            const QString name = m.captured(2).trimmed();
            if (name.contains(QLatin1String(" = ")) || name.startsWith(QLatin1String("PROVIDE")) ||
                name.startsWith(QLatin1Char('[')))
                continue;
            const uint64_t address = m.captured(1).toULongLong(nullptr, 16);
            if (address < current->FStart || address >= current->FStart + current->FSize)
                continue;
            current->FSymbols.append(TSymbol{address, name});
            continue;
        }
        // Any other line (another section, a pattern, an assignment) ends
        // the symbols of the current input section.
        current = nullptr;
    }
    std::sort(FSections.begin(), FSections.end(),
              [](const TSection& a, const TSection& b) { return a.FStart < b.FStart; });
}

const TMapFile::TSection* TMapFile::SectionAt(uint64_t linkAddress) const {
    auto it = std::upper_bound(FSections.cbegin(), FSections.cend(), linkAddress,
                               [](uint64_t a, const TSection& s) { return a < s.FStart; });
    if (it == FSections.cbegin())
        return nullptr;
    --it;
    if (linkAddress >= it->FStart + it->FSize)
        return nullptr;
    return &*it;
}

QString TMapFile::UnitName(uint64_t address) const {
    const TSection* section = SectionAt(address + FLinkBase);
    return section != nullptr ? section->FUnit : QString();
}

bool TMapFile::ProcedureName(uint64_t address, QString& name, int& offset) const {
    const uint64_t link = address + FLinkBase;
    const TSection* section = SectionAt(link);
    name.clear();
    offset = -1;
    if (section == nullptr)
        return false;
    // The nearest start at or below the address: a symbol of the section, or
    // the section itself when it names its function (static functions have
    // no symbol line).
    uint64_t start = section->FStart;
    name = section->FName;
    for (const TSymbol& symbol : section->FSymbols) {
        if (symbol.FAddress <= link && (symbol.FAddress > start || name.isEmpty())) {
            start = symbol.FAddress;
            name = symbol.FName;
        }
    }
    if (name.isEmpty())
        return false;
    offset = static_cast<int>(link - start);
    return true;
}

bool TMapFile::LineNumber(uint64_t address, int& line, int& offset) const {
    line = 0;
    offset = -1;
    if (!FLines)
        return false;
    const uint64_t link = address + FLinkBase;
    Dwarf_Die cu;
    if (dwarf_addrdie(FLines->FDwarf, link, &cu) == nullptr)
        return false;
    Dwarf_Line* record = dwarf_getsrc_die(&cu, link);
    if (record == nullptr)
        return false;
    int number = 0;
    Dwarf_Addr at = 0;
    if (dwarf_lineno(record, &number) != 0 || dwarf_lineaddr(record, &at) != 0)
        return false;
    line = number;
    offset = static_cast<int>(link - at);
    return true;
}

QString TMapFile::SourceName(uint64_t address) const {
    if (!FLines)
        return QString();
    const uint64_t link = address + FLinkBase;
    Dwarf_Die cu;
    if (dwarf_addrdie(FLines->FDwarf, link, &cu) == nullptr)
        return QString();
    Dwarf_Line* record = dwarf_getsrc_die(&cu, link);
    if (record == nullptr)
        return QString();
    const char* file = dwarf_linesrc(record, nullptr, nullptr);
    return file != nullptr ? QFileInfo(QString::fromUtf8(file)).fileName() : QString();
}

bool TMapFile::Lookup(uint64_t address, TMapLocation& location) const {
    location = TMapLocation();
    location.UnitName = UnitName(address);
    if (location.UnitName.isEmpty())
        return false;
    ProcedureName(address, location.ProcedureName, location.OffsetFromProcName);
    LineNumber(address, location.LineNumber, location.OffsetFromLineNumber);
    location.SourceName = SourceName(address);
    return true;
}

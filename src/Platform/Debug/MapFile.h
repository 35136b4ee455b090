#pragma once

// Location lookups for a client program: the GNU ld map file beside the
// executable ("-Wl,-Map=NAME.map") gives the unit (object file) and the
// procedure of an address; the executable's DWARF line table, when it has
// one, gives the source file and line. Addresses are relative to the
// program's load base.

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

struct TMapLocation {
    QString UnitName;
    QString ProcedureName;
    int OffsetFromProcName = -1;
    int LineNumber = 0;
    int OffsetFromLineNumber = -1;
    QString SourceName;
};

class TMapFile {
public:
    // Reads the map file; a missing or unreadable file gives a source that
    // finds nothing. The executable (when given) supplies line numbers and
    // the link-time base of a position-dependent program.
    explicit TMapFile(const QString& mapFileName, const QString& executable = QString());
    ~TMapFile();
    TMapFile(const TMapFile&) = delete;
    TMapFile& operator=(const TMapFile&) = delete;

    bool IsLoaded() const { return !FSections.isEmpty(); }
    // Lookups of an address relative to the load base.
    QString UnitName(uint64_t address) const;
    bool ProcedureName(uint64_t address, QString& name, int& offset) const;
    bool LineNumber(uint64_t address, int& line, int& offset) const;
    QString SourceName(uint64_t address) const;
    // All four at once.
    bool Lookup(uint64_t address, TMapLocation& location) const;

private:
    struct TSymbol {
        uint64_t FAddress;
        QString FName;
    };
    struct TSection {
        uint64_t FStart;
        uint64_t FSize;
        QString FUnit;
        QString FName; // the function named by the section, if any
        QList<TSymbol> FSymbols;
    };
    const TSection* SectionAt(uint64_t linkAddress) const;
    void Parse(const QByteArray& text);
    struct TLines;

    QList<TSection> FSections; // sorted by start
    uint64_t FLinkBase = 0;
    std::unique_ptr<TLines> FLines;
};

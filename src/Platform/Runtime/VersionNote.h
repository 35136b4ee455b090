#pragma once

#include <QString>

// Reads the file version that our executables carry in their ELF note
// ".note.tarvolin.version" (owner "Tarvolin", type 1). A file without the
// note, or that is no ELF file, has no version: the empty text.
QString ReadFileVersionNote(const QString& fileName);

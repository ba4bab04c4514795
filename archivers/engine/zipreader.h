// A walk of a plain ZIP archive by the engine alone, without libarchive.
#pragma once

// Most ZIP archives hold only stored and Deflate entries, unencrypted, laid
// out as their central directory says. For those, loading libarchive and
// letting it walk the entries costs more than decoding them: the engine reads
// the directory and local headers itself and gives the sink what libarchive's
// walk gives it (ZipDirectData decodes the data either way). Anything else is
// left to libarchive before the sink sees a thing.

#include "entrysink.h"

#include <cstdint>
#include <string>

namespace tenvo::engine {

// Whether plain archives are read here (the default) or all through
// libarchive, and how many archives were read here in this process: for
// tests, the fuzz target and the benchmark, which compare the two paths.
void setZipOwnReading(bool on);
bool zipOwnReading();
uint64_t zipArchivesReadHere();

// Reads the ZIP archive at path into the sink when every entry is plain
// (stored or Deflate, not encrypted, a file, folder or link whose local
// header agrees with its directory record) and result is then the outcome
// of the walk. False, with nothing given to the sink, when the archive is
// left to libarchive. Only the central directory and the local headers are
// read before deciding.
bool decodeZipHere(const std::string &path, EntrySink &sink, std::string &message,
                   TenvoResult &result);

// Whether the walk above would take the archive: its central directory and
// local headers read cleanly, as libarchive would find them. Reads no data.
bool checkZipHere(const std::string &path);

} // namespace tenvo::engine

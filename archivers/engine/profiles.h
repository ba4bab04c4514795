// What each of the six archiver libraries accepts: formats and switches.
#pragma once

#include "archiver.h"

namespace tenvo::engine {

// unlha32: LZH; "x" restores folders, "e" flattens.
const LibraryProfile &unlhaProfile();
// cab32: CAB; "-x" restores folders, "-x -j" flattens.
const LibraryProfile &cabProfile();
// unzip32: ZIP; "-x" restores folders, "-x -j" flattens; "-p<password>".
const LibraryProfile &unzipProfile();
// 7-zip32: ZIP and 7z; "x" restores folders, "e" flattens; "-p<password>" for ZIP.
const LibraryProfile &sevenZipProfile();
// unrar32: RAR 4 and RAR 5; "-x" only, which always restores folders.
const LibraryProfile &unrarProfile();

// tar32: tar archives, bare or compressed, and single compressed files; "x"
// restores folders, "e" flattens.
const LibraryProfile &tarProfile();

// The profile of the library of that name ("unlha32", ...), or null.
const LibraryProfile *profileByName(const std::string &name);

} // namespace tenvo::engine

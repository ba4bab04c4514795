// Every format decoder the engine can route an archive to.
#pragma once

#include "entrysink.h"

#include <string>

namespace tenvo::engine {

// RAR 1.5 to 4 (solid ones included), through unarr. Names come from the
// stored header bytes, so names that are not Unicode keep their code page.
TenvoResult decodeRar4(const std::string &archivePath, EntrySink &sink, std::string &message);
bool checkRar4(const std::string &archivePath);

// A whole ZIP archive through unarr (Deflate64 and the usual methods), for
// archives in which checkZipEntriesApart finds Deflate64 entries or padded
// extra areas.
TenvoResult decodeZipWithUnarr(const std::string &archivePath, EntrySink &sink,
                               std::string &message);

// Microsoft cabinet files, through libmspack.
TenvoResult decodeCab(const std::string &archivePath, EntrySink &sink, std::string &message);
bool checkCab(const std::string &archivePath);

} // namespace tenvo::engine

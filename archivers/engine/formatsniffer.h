// Tells an archive's format from its first bytes, never from its name.
#pragma once

#include "result.h"

#include <cstddef>
#include <string>

namespace tenvo::engine {

enum class ArchiveFormat : unsigned {
    Unknown = 0,
    Lzh = 1u << 0,
    Cab = 1u << 1,
    Zip = 1u << 2,
    SevenZip = 1u << 3,
    Rar4 = 1u << 4,
    Rar5 = 1u << 5,
    // A tar archive, bare or compressed, or a single compressed file.
    Tar = 1u << 6,
};

// How many leading bytes sniffFormat() needs at most (a tar header's
// "ustar" mark lies at 257).
inline constexpr std::size_t kSniffBytes = 512;

// The format whose signature starts head: CAB "MSCF", ZIP "PK\3\4" (or the
// "PK\5\6" of an empty one), 7z, RAR 4 and 5 marks, LZH method id "-lh?-",
// "-lz?-" at offset 2; a tar header ("ustar" at 257, or a V7 header whose
// checksum adds up) or the gzip, bzip2, xz and zstd marks as Tar.
ArchiveFormat sniffFormat(const unsigned char *head, std::size_t size);

// The format of an archive that something stands in front of (a
// self-extractor's program, a spanning mark, other bytes): ZIP when the file
// ends in a ZIP end-of-central-directory record that leads to its
// directory, LZH when a well-formed LZH header lies within the first 64 KiB.
ArchiveFormat sniffBehindStub(const std::string &path);

// Reads the start of the file at path and sniffs it, looking behind a stub
// when the start tells nothing. TENVO_ERR_OPEN with a message when the file
// cannot be opened or read.
TenvoResult sniffFile(const std::string &path, ArchiveFormat &format, std::string &message);

// True for a RAR 4 or RAR 5 archive whose main header, read by hand at the
// start of the file, marks it neither solid nor a volume of a set (and whose
// headers are not encrypted): each of its files then decodes on its own, and
// a reader skips the others without decoding them. False for anything else.
bool rarFilesIndependent(const std::string &path);

// How many folders the cabinet's fixed header lists (0 when it is no
// cabinet), read by hand like the above.
std::size_t cabFolderCount(const std::string &archivePath);

const char *formatName(ArchiveFormat format);

} // namespace tenvo::engine

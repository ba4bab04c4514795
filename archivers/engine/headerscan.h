// Reads what libarchive 3.6 does not hand over from LZH and RAR 5 headers:
// the raw bytes and Unix file types of LZH names, RAR 5 encryption marks and
// data CRCs.
#pragma once

#include "entrysink.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tenvo::engine {

struct NameEncoding;

// One entry's name as its header stores it.
struct StoredName {
    // Folder and file name as stored. In LZH headers 0xFF between folders of
    // the folder extension becomes "/"; every other byte (a "\" included)
    // stays.
    std::string rawName;
    bool nameIsUtf8 = false; // LZH code-page extension 65001, CAB name flag
    bool nameIsUnicode = false; // taken from the Unicode name extensions
    // The Unix mode, file-type bits included, from the LZH Unix extension
    // (level 0) or permission extension 0x50; 0 when there is none.
    uint16_t unixMode = 0;
    // The unpacked size, when the header scan that found the name has it.
    int64_t size = -1;
    // Permission bits to give the entry instead of libarchive's; -1 keeps
    // libarchive's.
    int32_t permissions = -1;
    // The LZH method id ("-lh5-", "-pm0-", ...).
    std::string method;
};

// Gives the entry at index its name as stored (and the kind, permissions and
// link target the stored header tells) when names holds an entry there of
// the same size; false when it does not, and info is left as it was.
bool applyStoredName(const std::vector<StoredName> &names, std::size_t index, EntryInfo &info);

// How far into a file the first LZH header may lie: a self-extracting
// archive's program, or other bytes put in front, take at most this much.
inline constexpr uint64_t kLzhSearchLimit = 64 * 1024;

// Where the LZH archive in the file begins: 0 for a file that starts with
// an LZH method id, further on when something stands in front of it. Then
// the first offset below kLzhSearchLimit that holds a whole, well-formed
// header (method id, level, checksum or extension chain) wins; -1 when
// there is none.
int64_t findLzhStart(const std::string &archivePath);

// The entries of an LZH archive in order (levels 0 to 3), from its first
// header at start. Stops at the end marker, at the end of the file or at the
// first header it cannot read; the caller matches entries by position and
// checks the count. A name stored in part as bytes and in part in the
// Unicode extensions has the bytes read in encoding (null: automatically).
// wholeWalk, when given, tells whether the walk ended at the end marker or
// the end of the file, rather than at a header it cannot read or with the
// last member's data running past the end.
std::vector<StoredName> scanLzhNames(const std::string &archivePath, int64_t start = 0,
                                     const NameEncoding *encoding = nullptr, bool *wholeWalk = nullptr);

// One RAR 5 file header (service headers are left out, as libarchive does).
struct Rar5FileHeader {
    std::string name; // UTF-8, as stored
    bool encrypted = false; // has a file-encryption record
    bool hasCrc = false;
    uint32_t crc = 0;       // CRC32 of the unpacked data, when hasCrc
    bool split = false;     // continues from or into another volume
    bool continued = false; // continues from the volume before
};

struct Rar5Scan {
    bool headersEncrypted = false; // an archive-encryption header
    bool volume = false;           // a volume of a multi-volume set
    bool solid = false;            // files decoded as one stream
    uint64_t volumeNumber = 0;     // 0 for the first volume
    bool moreVolumes = false;      // another volume follows this one
    bool endsInsideFile = false;   // its last file goes on in the next volume
    std::vector<Rar5FileHeader> files;
};

// Walks the block headers of a RAR 5 archive (no data is read).
Rar5Scan scanRar5(const std::string &archivePath);

} // namespace tenvo::engine

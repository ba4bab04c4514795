// Writes LZH archives (header levels 0 to 3, data stored or packed literal-only) for test fixtures.
#pragma once

#include "archivemaker.h"

namespace tenvo::fixture {

struct LzhOptions
{
    // Header level: 0 to 3 (3 is level 2 with 4-byte size fields).
    int level = 2;
    // The OS id: 'M' (MS-DOS, Windows) or 'U' (Unix). 'U' adds the Unix
    // permission extension (level 0: the 12-byte Unix extension instead), and
    // only 'U' can store symbolic links.
    char os = 'M';
    // Level 0 always, level 1 when pathInName: the byte written between path
    // components inside the name field.
    char nameSeparator = '\\';
    // Level 1: the whole path in the name field instead of a directory
    // extension (level 2 always uses the directory extension).
    bool pathInName = false;
    // Levels 1 and 2: nonzero adds the code-page extension (932, 65001 for UTF-8).
    uint32_t codePage = 0;
    // Levels 1 and 2: names (UTF-8) also stored in the Unicode file-name
    // (0x44) and folder-name (0x45) extensions as UTF-16LE, 0xFFFF between
    // folders; the single-byte name then keeps '?' for each other character.
    bool unicodeNames = false;
    // Index of an entry whose data CRC-16 is stored wrong.
    std::optional<std::size_t> badDataCrcEntry;
    // Index of an entry whose header check fails: the header CRC at level 2,
    // the header checksum byte at levels 0 and 1.
    std::optional<std::size_t> badHeaderCheckEntry;
    // Cuts the archive in the middle of the data of the last entry holding data.
    bool truncateInLastData = false;
    // Keeps only this many leading bytes (at least 1; applied last).
    std::optional<std::size_t> truncateTo;
    // Leaves out the 0 byte that ends the archive.
    bool omitEndMarker = false;
    // The method id in each file's header. The data is stored for "-lh0-",
    // "-lz4-" and "-pm0-", and packed as the method says, every byte a
    // literal, for "-lh1-", "-lh4-" to "-lh7-", "-lzs-" and "-lz5-"; under any
    // other id it goes in as it is. Headers and CRCs stay sound.
    std::string method = "-lh0-";
};

// The archive's bytes. Names are stored as raw bytes (a CP932 name whose
// second byte is 0x5C stays intact at every level). Empty on failure (a name
// too long for its header level, a level other than 0 to 3, a symbolic link
// without os 'U', a cut with no data to cut), with the reason in *error when given.
std::string makeLzh(const FixtureEntries &entries, const LzhOptions &options = {},
                    std::string *error = nullptr);
bool writeLzh(const QString &path, const FixtureEntries &entries, const LzhOptions &options = {},
              std::string *error = nullptr);

// The CRC-16 that LZH headers hold (polynomial 0xA001, reflected, starting at 0).
uint16_t lzhCrc16(const std::string &bytes, uint16_t crc = 0);

} // namespace tenvo::fixture

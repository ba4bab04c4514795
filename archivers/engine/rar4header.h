// Reads the block headers of RAR 1.5 to 4 archives as stored.
#pragma once

// unarr converts names that are not Unicode from a DOS code page and passes
// over directories, so the decoder reads the stored headers itself.

#include "decoderutil.h"
#include "result.h"

#include <cstdint>
#include <string>

namespace tenvo::engine {

// Flags of a RAR 4 file header.
enum : uint16_t {
    kRar4FileSplitBefore = 0x0001,
    kRar4FileSplitAfter = 0x0002,
    kRar4FileEncrypted = 0x0004,
    kRar4FileSolid = 0x0010,
    kRar4FileDirectoryMask = 0x00E0,
    kRar4FileLarge = 0x0100,
    kRar4FileUnicodeName = 0x0200,
};

// Flags of the main archive header.
enum : uint16_t {
    kRar4MainVolume = 0x0001,
    kRar4MainSolid = 0x0008,
    kRar4MainNewNumbering = 0x0010, // volumes named "name.partN.rar"
    kRar4MainEncryptedHeaders = 0x0080,
    kRar4MainFirstVolume = 0x0100,
};

enum : uint8_t { kRar4HostUnix = 3 };

// One file header as stored.
struct Rar4FileHeader {
    uint64_t offset = 0;     // of the block, which is where unarr's entry offset points
    uint16_t headerSize = 0; // of the block's header; the packed data follows it
    uint64_t packedSize = 0;
    uint32_t fileCrc = 0;    // of the unpacked data (of this part's packed data for a
                             // part of a split file other than the last)
    uint16_t flags = 0;
    uint8_t hostOs = 0;
    uint32_t dosTime = 0;    // MS-DOS time in the low half, date in the high half
    uint32_t attributes = 0;
    uint64_t unpackedSize = 0;
    std::string nameField;   // the whole stored name field
    bool dataTruncated = false; // the file ends inside this entry's packed data

    bool isDirectory() const { return (flags & kRar4FileDirectoryMask) == kRar4FileDirectoryMask; }
};

// Reads the blocks of one archive in order, one file header at a time, so
// memory stays bounded whatever the entry count.
class Rar4HeaderReader {
public:
    enum class Step { File, End, Failed };

    // Opens the archive and reads its marker and main header. On failure
    // returns the cause (TENVO_ERR_OPEN, _FORMAT, _DAMAGED, _ENCRYPTED for
    // encrypted headers) and a message; TENVO_OK otherwise.
    TenvoResult open(const std::string &path, std::string &message);

    uint16_t mainFlags() const { return m_mainFlags; }
    // After End: whether the archive is a volume that another volume follows
    // (its end block says so, or its last file goes on in the next one).
    bool moreVolumes() const { return m_moreVolumes; }

    // Reads up to the next file header. End at the end-of-archive block or
    // at a clean end of file; Failed with result() and message() when a
    // header is damaged or cut short. A header whose data is cut short is
    // still returned (with dataTruncated set); the next call then fails.
    Step next(Rar4FileHeader &header);

    TenvoResult result() const { return m_result; }
    const std::string &message() const { return m_message; }

private:
    Step fail(TenvoResult result, std::string message);

    FileReader m_file;
    uint64_t m_offset = 0;
    uint16_t m_mainFlags = 0;
    bool m_moreVolumes = false;
    TenvoResult m_result = TENVO_OK;
    std::string m_message;
    bool m_done = false;
};

// The name of a file header as the sink wants it: for a Unicode name the
// UTF-8 text (isUtf8 true); otherwise the stored bytes.
struct Rar4Name {
    std::string bytes;
    bool isUtf8 = false;
};
Rar4Name rar4EntryName(const Rar4FileHeader &header);

} // namespace tenvo::engine

// A bounded reader of a ZIP file's end records and central directory.
#pragma once

// Used to route Deflate64 archives to unarr, to give unarr's entries their
// stored names, kinds and permissions, and to turn away archives whose
// entries overlap.

#include "decoderutil.h"
#include "namecodec.h"
#include "result.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tenvo::engine {

enum : uint16_t {
    kZipFlagEncrypted = 0x0001,
    kZipFlagStrongEncryption = 0x0040,
    kZipFlagUtf8 = 0x0800,
};

enum : uint16_t { kZipMethodDeflate64 = 9 };
enum : uint8_t { kZipHostUnix = 3 };

// One central directory record.
struct ZipCentralEntry {
    uint64_t recordOffset = 0; // where unarr's entry offset points
    uint8_t hostOs = 0;        // high byte of "version made by"
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint32_t externalAttributes = 0;
    uint64_t localHeaderOffset = 0;
    std::string name;               // raw bytes as stored
    int64_t unixMtime = INT64_MIN;  // from the extended time stamp field, when present
    bool extraRunsOver = false;     // a field of the extra area passes its end (padding)
    // The extra area holds a field that changes how readers see the entry
    // (ZIP64 sizes, other time stamps, a Unicode path, attributes, AES).
    bool unusualExtra = false;

    // The Unix mode (file-type bits included) when a Unix host made the
    // entry, else 0.
    uint32_t unixMode() const { return hostOs == kZipHostUnix ? externalAttributes >> 16 : 0; }
};

// Walks the central directory one record at a time. The walk never reads
// outside the file, stops at the directory's declared end and gives up after
// kMaxEntries records, so hostile input costs bounded time and memory.
class ZipCentralDirectory {
public:
    static constexpr uint64_t kMaxEntries = 1u << 20;

    // Opens the file and finds its central directory through the
    // end-of-central-directory record (and the ZIP64 one when present).
    // Returns TENVO_OK, or TENVO_ERR_OPEN / _FORMAT / _DAMAGED with a message.
    TenvoResult open(const std::string &path, std::string &message);

    // Reads the next record. False at the end of the directory or on
    // damage; failed() then tells the two apart.
    bool next(ZipCentralEntry &entry);
    bool failed() const { return m_failed; }
    // The layout every reader agrees on: one end record, not ZIP64, whose
    // comment runs to the end of the file, and a directory that starts where
    // it says and ends right before that record.
    bool plainLayout() const { return m_plainLayout; }
    const std::string &message() const { return m_message; }

private:
    // A directory up to this size is read into memory at open.
    static constexpr uint64_t kHeldDirectoryLimit = 16u << 20;

    bool fail(std::string message);
    bool readDirectory(uint64_t offset, unsigned char *out, std::size_t size);

    FileReader m_file;
    std::vector<unsigned char> m_held; // the directory's bytes, ending at m_end
    uint64_t m_offset = 0;
    uint64_t m_end = 0;
    uint64_t m_count = 0;
    bool m_failed = false;
    bool m_plainLayout = false;
    std::string m_message;
};

// Checks that no two entries of a ZIP archive share bytes: each local header
// and its data end before the next entry's begins. Entries overlap only in
// archives made to multiply their output (a ZIP bomb); those give
// TENVO_ERR_DAMAGED with a message. A directory that cannot be read gives
// TENVO_OK: the decoder reports it. In the same walk, readByUnarr tells
// whether an entry is packed with Deflate64 (method 9), or has an extra area
// padded with bytes that do not read as fields, which only unarr takes.
TenvoResult checkZipEntriesApart(const std::string &path, std::string &message, bool &readByUnarr);

// What a ZIP archive's directory alone says of its password: encrypted
// tells whether any entry is (false when the directory cannot be read; the
// decoder reports that). TENVO_ERR_ENCRYPTED, with a message, when one is
// and no password is given, or when one uses the strong encryption nothing
// here decrypts; otherwise TENVO_OK, and a given password remains to be
// tried on the data.
TenvoResult checkZipEncryption(const std::string &path, const std::string *password, bool &encrypted,
                               std::string &message);

// How the names of one ZIP archive are read, decided for the whole archive
// from all its central directory records.
struct ZipNameRule {
    // A name is not valid UTF-8: the archive was written in CP932.
    bool cp932 = false;
    // One of those names carries the UTF-8 flag, so the writer set the flag
    // without cause: it is believed for no name of the archive.
    bool flagLies = false;

    void add(const ZipCentralEntry &entry);

    // Gives an entry its name under this rule: the stored bytes, marked as
    // UTF-8 when the flag is believed; only a name that is UTF-8 by chance
    // (not ASCII, unflagged, in a CP932 archive) comes already read as CP932
    // and marked as UTF-8. With an encoding chosen in names, every name is
    // its stored bytes, for the chosen encoding to read.
    void name(const std::string &raw, uint16_t flags, NameDecoder &names, std::string &name,
              bool &isUtf8) const;
};

// The rule for the ZIP archive at path; the default (names as flagged) when
// its central directory cannot be read.
ZipNameRule zipNameRule(const std::string &path);

} // namespace tenvo::engine

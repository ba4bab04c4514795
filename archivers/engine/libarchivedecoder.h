// The formats the engine reads through libarchive: ZIP, 7z, RAR 5, LZH, and
// tar archives (bare or compressed with gzip, bzip2, xz or zstd) and single
// compressed files.
#pragma once

#include "entrysink.h"
#include "headerscan.h"

#include <cstdint>
#include <memory>
#include <string>

struct archive;

namespace tenvo::engine {

// Only the one reader named here is enabled for an archive.
enum class LibarchiveFormat { Zip, SevenZip, Rar5, Lha, Tar };

// The name a single compressed file lands under: its own file name without
// the compressor's suffix ("x.gz" gives "x", "x.tgz" gives "x.tar"), or with
// ".out" added when it has none of them.
std::string singleFileName(const std::string &archivePath);

// Walks every entry of the archive and streams its data into the sink (see
// DecodeFunction). Names are the stored bytes where the format stores bytes
// (ZIP without the UTF-8 flag, LZH) and UTF-8 where it stores Unicode,
// whatever the process locale is. Truncation, CRC and other data errors give
// TENVO_ERR_DAMAGED, encryption TENVO_ERR_ENCRYPTED; the message is
// libarchive's, or the engine's for the gzip layer (see setGzipOwnReading).
TenvoResult decodeWithLibarchive(LibarchiveFormat format, const std::string &archivePath,
                                 EntrySink &sink, std::string &message,
                                 const std::string *password = nullptr);

// Before a ZIP archive is written out: encrypted tells whether an entry is
// encrypted. If so, TENVO_OK only when password is given and decrypts the
// first encrypted entry whole, its check included (traditional PKWARE or AES
// encryption, decoded and dropped); otherwise TENVO_ERR_ENCRYPTED with a
// message that never holds the password. TENVO_OK too when the directory
// cannot be read: the decoder reports that.
TenvoResult checkZipPassword(const std::string &archivePath, const std::string *password,
                             bool &encrypted, std::string &message);

// An archive made up by the engine, read at any offset (a 7z archive whose
// encryption the engine takes out on the way).
class ArchiveBytes {
public:
    virtual ~ArchiveBytes() = default;
    virtual uint64_t size() const = 0;
    // Reads exactly size bytes at offset; false (with a message) when it
    // cannot.
    virtual bool readAt(uint64_t offset, unsigned char *buffer, std::size_t size,
                        std::string &message) = 0;
};

// The 7z archive bytes holds, decoded into the sink as decodeWithLibarchive
// does.
TenvoResult decodeSevenZipBytes(std::unique_ptr<ArchiveBytes> bytes, EntrySink &sink,
                                std::string &message);

// Walks the 7z archive bytes holds to its entry with data numbered
// dataEntry (from 0, counting only files that hold data) and decodes that
// entry whole, its CRC checked (or its first limit bytes only), writing
// nothing. TENVO_OK when it decodes, or when there is no such entry;
// otherwise the cause and libarchive's message.
TenvoResult readSevenZipEntry(std::unique_ptr<ArchiveBytes> bytes, std::size_t dataEntry,
                              uint64_t limit, std::string &message);

// A tar archive or single file compressed with gzip has its gzip layer
// decoded by the engine (ISA-L, every member's CRC and length checked) and
// only the rest read by libarchive; off, libarchive reads it all. On by
// default; tests compare the two.
void setGzipOwnReading(bool on);

// True when every header of the archive reads cleanly as the given format
// (data is skipped, not checked). Never writes anything.
bool checkWithLibarchive(LibarchiveFormat format, const std::string &archivePath);

// Loads, once per process, what every call above needs from glibc (the UTF-8
// locale, the Latin-1 converter), so that decoder processes forked later do
// not each load it again.
void preloadLibarchiveSupport();

} // namespace tenvo::engine

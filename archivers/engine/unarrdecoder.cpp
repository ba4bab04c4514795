// RAR 4 and Deflate64 ZIP archives through unarr.
#include "decoders.h"
#include "namecodec.h"
#include "rar4header.h"
#include "zipscan.h"

#include <unarr.h>

#include <algorithm>
#include <memory>
#include <sys/stat.h>
#include <vector>

// unarr decodes the data. Names, kinds and permissions come from the stored
// headers, read here, so that names which are not Unicode keep their code page.

namespace tenvo::engine {

namespace {

constexpr std::size_t kChunkSize = 256 * 1024;
// A link target longer than any path the system accepts is not a link.
constexpr uint64_t kMaxLinkTargetSize = 4096;

struct StreamCloser {
    void operator()(ar_stream *stream) const { ar_close(stream); }
};
struct ArchiveCloser {
    void operator()(ar_archive *archive) const { ar_close_archive(archive); }
};
using StreamPtr = std::unique_ptr<ar_stream, StreamCloser>;
using ArchivePtr = std::unique_ptr<ar_archive, ArchiveCloser>;

// One opened archive; the archive is released before the stream it reads.
struct UnarrArchive {
    StreamPtr stream;
    ArchivePtr archive;
};

int64_t declaredSize(uint64_t size)
{
    return size > uint64_t(INT64_MAX) ? -1 : int64_t(size);
}

void endWith(EntrySink &sink, const EntryInfo &info, TenvoResult outcome, const std::string &message)
{
    sink.beginEntry(info);
    sink.endEntry(outcome, message);
}

// Pulls the current unarr entry's data in bounded chunks. Data goes to the
// sink while it accepts it; with keepDecoding the rest is decoded and dropped
// after a refusal, so that a solid stream stays in step for later entries.
TenvoResult pumpData(ar_archive *ar, std::size_t size, EntrySink *sink, bool keepDecoding,
                     std::string &message)
{
    std::vector<unsigned char> buffer(std::min(size, kChunkSize));
    bool refused = false;
    std::size_t left = size;
    while (left > 0) {
        const std::size_t count = std::min(left, kChunkSize);
        if (!ar_entry_uncompress(ar, buffer.data(), count)) {
            if (refused)
                break;
            message = "the data is damaged or fails its check";
            return TENVO_ERR_DAMAGED;
        }
        left -= count;
        if (sink && !refused && !sink->entryData(buffer.data(), count)) {
            refused = true;
            if (!keepDecoding)
                break;
        }
    }
    if (refused) {
        message = "the data could not be stored";
        return TENVO_ERR_WRITE;
    }
    return TENVO_OK;
}

// Decodes a small entry whole, for link targets.
TenvoResult readSmallEntry(ar_archive *ar, std::size_t size, std::string &data, std::string &message)
{
    data.resize(size);
    if (size > 0 && !ar_entry_uncompress(ar, data.data(), size)) {
        data.clear();
        message = "the data is damaged or fails its check";
        return TENVO_ERR_DAMAGED;
    }
    return TENVO_OK;
}

// Hands the entry unarr stands on to the sink: a link with its target read
// whole, anything else with its data streamed. In a solid stream a refused
// entry is decoded all the same, so that the entries after it decode without
// a restart.
void deliverEntry(ar_archive *ar, std::size_t size, EntryInfo &info, bool solid, EntrySink &sink)
{
    std::string message;
    if (info.kind == EntryKind::Symlink) {
        if (size > kMaxLinkTargetSize)
            return endWith(sink, info, TENVO_ERR_DAMAGED, "the link target is too long");
        const TenvoResult result = readSmallEntry(ar, size, info.linkTarget, message);
        info.linkTargetIsUtf8 = info.nameIsUtf8;
        return endWith(sink, info, result, message);
    }
    if (!sink.beginEntry(info)) {
        const TenvoResult result = solid ? pumpData(ar, size, nullptr, true, message) : TENVO_OK;
        sink.endEntry(result, message);
        return;
    }
    sink.endEntry(pumpData(ar, size, &sink, solid, message), message);
}

// unarr walks the same blocks as Rar4HeaderReader but skips directories and
// other blocks on its own. Steps it forward to the header at target, which
// keeps solid decoding in order; jumps there directly only as a last resort.
bool moveUnarrTo(ar_archive *ar, uint64_t target, bool &positioned)
{
    while (!positioned || uint64_t(ar_entry_get_offset(ar)) < target) {
        const off64_t before = positioned ? ar_entry_get_offset(ar) : -1;
        if (!ar_parse_entry(ar))
            break;
        positioned = true;
        if (ar_entry_get_offset(ar) <= before)
            break;
    }
    if (positioned && uint64_t(ar_entry_get_offset(ar)) == target)
        return true;
    positioned = ar_parse_entry_at(ar, off64_t(target));
    return positioned && uint64_t(ar_entry_get_offset(ar)) == target;
}

EntryInfo rar4EntryInfo(const Rar4FileHeader &header)
{
    EntryInfo info;
    const Rar4Name name = rar4EntryName(header);
    info.rawName = name.bytes;
    info.nameIsUtf8 = name.isUtf8;
    info.nameIsUnicode = name.isUtf8;
    const bool unixHost = header.hostOs == kRar4HostUnix;
    info.mode = unixHost ? (header.attributes & 07777) : 0;
    info.mtime = localTimeFromDos(uint16_t(header.dosTime >> 16), uint16_t(header.dosTime & 0xFFFF));
    info.encrypted = header.flags & kRar4FileEncrypted;
    if (header.isDirectory()) {
        info.kind = EntryKind::Directory;
        info.size = 0;
    } else {
        info.kind = unixHost && S_ISLNK(header.attributes) ? EntryKind::Symlink : EntryKind::File;
        info.size = declaredSize(header.unpackedSize);
    }
    return info;
}

void decodeRar4Entry(ar_archive *ar, bool &positioned, const Rar4FileHeader &header, bool solid,
                     EntrySink &sink)
{
    EntryInfo info = rar4EntryInfo(header);
    if (info.kind == EntryKind::Directory)
        return endWith(sink, info, TENVO_OK, {});
    if (info.encrypted)
        return endWith(sink, info, TENVO_ERR_ENCRYPTED, "the entry is encrypted");
    if (header.flags & (kRar4FileSplitBefore | kRar4FileSplitAfter))
        return endWith(sink, info, TENVO_ERR_DAMAGED,
                       "the entry continues in another volume of a multi-volume archive");
    if (header.dataTruncated)
        return endWith(sink, info, TENVO_ERR_DAMAGED, "the entry's data is cut short");
    if (!moveUnarrTo(ar, header.offset, positioned)) {
        positioned = false;
        return endWith(sink, info, TENVO_ERR_DAMAGED, "the entry's data cannot be located");
    }
    deliverEntry(ar, ar_entry_get_size(ar), info, solid, sink);
}

bool zipDirectory(const ZipCentralEntry &entry, uint32_t unixMode)
{
    if (!entry.name.empty() && entry.name.back() == '/')
        return true;
    if (entry.hostOs == kZipHostUnix)
        return S_ISDIR(unixMode);
    // MS-DOS, NTFS and VFAT hosts keep the FAT attribute byte.
    const bool fatHost = entry.hostOs == 0 || entry.hostOs == 11 || entry.hostOs == 14;
    return fatHost && (entry.externalAttributes & 0x10) && entry.uncompressedSize == 0;
}

bool unarrZipMethod(uint16_t method)
{
    // What this build of unarr decodes (it is linked without liblzma, so no XZ).
    switch (method) {
    case 0: case 8: case 9: case 12: case 14: case 98:
        return true;
    default:
        return false;
    }
}

EntryInfo zipEntryInfo(const ZipCentralEntry &entry, NameDecoder &names, const ZipNameRule &rule)
{
    EntryInfo info;
    rule.name(entry.name, entry.flags, names, info.rawName, info.nameIsUtf8);
    const uint32_t unixMode = entry.unixMode();
    info.mode = unixMode & 07777;
    info.mtime = entry.unixMtime != INT64_MIN ? entry.unixMtime
                                              : localTimeFromDos(entry.dosDate, entry.dosTime);
    info.encrypted = entry.flags & (kZipFlagEncrypted | kZipFlagStrongEncryption);
    if (zipDirectory(entry, unixMode)) {
        info.kind = EntryKind::Directory;
        info.size = 0;
    } else {
        info.kind = S_ISLNK(unixMode) ? EntryKind::Symlink : EntryKind::File;
        info.size = declaredSize(entry.uncompressedSize);
    }
    return info;
}

void decodeZipEntry(ar_archive *ar, const ZipCentralEntry &entry, NameDecoder &names,
                    const ZipNameRule &rule, EntrySink &sink)
{
    EntryInfo info = zipEntryInfo(entry, names, rule);
    if (info.kind == EntryKind::Directory)
        return endWith(sink, info, TENVO_OK, {});
    if (info.encrypted)
        return endWith(sink, info, TENVO_ERR_ENCRYPTED, "the entry is encrypted");
    if (!unarrZipMethod(entry.method))
        return endWith(sink, info, TENVO_ERR_DAMAGED,
                       "the entry is packed with compression method " + std::to_string(entry.method)
                           + ", which cannot be decoded");
    if (entry.uncompressedSize == 0 && info.kind == EntryKind::File) {
        // unarr passes over empty entries it takes for folders; the CRC of
        // no data is zero, which is all there is to check.
        return endWith(sink, info, entry.crc == 0 ? TENVO_OK : TENVO_ERR_DAMAGED,
                       entry.crc == 0 ? std::string() : "the entry fails its check");
    }
    // Entries of a ZIP archive are independent, so a direct jump is exact.
    if (!ar_parse_entry_at(ar, off64_t(entry.recordOffset))
        || uint64_t(ar_entry_get_offset(ar)) != entry.recordOffset)
        return endWith(sink, info, TENVO_ERR_DAMAGED, "the entry's data cannot be located");
    const std::size_t size = ar_entry_get_size(ar);
    if (size != entry.uncompressedSize)
        return endWith(sink, info, TENVO_ERR_DAMAGED, "the entry's sizes disagree");
    deliverEntry(ar, size, info, false, sink);
}

} // namespace

TenvoResult decodeRar4(const std::string &archivePath, EntrySink &sink, std::string &message)
{
    Rar4HeaderReader headers;
    if (TenvoResult result = headers.open(archivePath, message); result != TENVO_OK)
        return result;
    if (headers.mainFlags() & kRar4MainVolume)
        return decodeRar4Volumes(archivePath, sink, message);
    return decodeRar4Archive(archivePath, sink, message);
}

TenvoResult decodeRar4Archive(const std::string &archivePath, EntrySink &sink, std::string &message)
{
    Rar4HeaderReader headers;
    if (TenvoResult result = headers.open(archivePath, message); result != TENVO_OK)
        return result;
    UnarrArchive unarr;
    unarr.stream.reset(ar_open_file(archivePath.c_str()));
    if (!unarr.stream) {
        message = "cannot open the archive";
        return TENVO_ERR_OPEN;
    }
    unarr.archive.reset(ar_open_rar_archive(unarr.stream.get()));
    if (!unarr.archive) {
        message = "not a RAR 4 archive";
        return TENVO_ERR_FORMAT;
    }
    const bool solid = headers.mainFlags() & kRar4MainSolid;
    bool positioned = false;
    Rar4FileHeader header;
    for (;;) {
        switch (headers.next(header)) {
        case Rar4HeaderReader::Step::File:
            decodeRar4Entry(unarr.archive.get(), positioned, header, solid, sink);
            break;
        case Rar4HeaderReader::Step::End:
            return TENVO_OK;
        case Rar4HeaderReader::Step::Failed:
            message = headers.message();
            return headers.result();
        }
    }
}

bool checkRar4(const std::string &archivePath)
{
    Rar4HeaderReader headers;
    std::string message;
    if (headers.open(archivePath, message) != TENVO_OK)
        return false;
    Rar4FileHeader header;
    for (;;) {
        switch (headers.next(header)) {
        case Rar4HeaderReader::Step::File:
            break;
        case Rar4HeaderReader::Step::End:
            return true;
        case Rar4HeaderReader::Step::Failed:
            return false;
        }
    }
}

TenvoResult decodeZipWithUnarr(const std::string &archivePath, EntrySink &sink,
                               std::string &message)
{
    ZipCentralDirectory directory;
    if (TenvoResult result = directory.open(archivePath, message); result != TENVO_OK)
        return result;
    UnarrArchive unarr;
    unarr.stream.reset(ar_open_file(archivePath.c_str()));
    if (!unarr.stream) {
        message = "cannot open the archive";
        return TENVO_ERR_OPEN;
    }
    unarr.archive.reset(ar_open_zip_archive(unarr.stream.get(), false));
    if (!unarr.archive) {
        message = "the archive's central directory cannot be read";
        return TENVO_ERR_DAMAGED;
    }
    const ZipNameRule rule = zipNameRule(archivePath);
    NameDecoder names(sink.nameEncoding());
    ZipCentralEntry entry;
    while (directory.next(entry))
        decodeZipEntry(unarr.archive.get(), entry, names, rule, sink);
    if (directory.failed()) {
        message = directory.message();
        return TENVO_ERR_DAMAGED;
    }
    return TENVO_OK;
}

} // namespace tenvo::engine

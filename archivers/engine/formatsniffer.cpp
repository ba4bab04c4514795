// Tells an archive's format from its first bytes, never from its name.
#include "formatsniffer.h"

#include "decoderutil.h"
#include "headerscan.h"
#include "namecodec.h"
#include "zipscan.h"

#include <algorithm>
#include <cstring>

namespace tenvo::engine {

namespace {

bool startsWith(const unsigned char *head, std::size_t size, const char *mark, std::size_t length)
{
    return size >= length && std::memcmp(head, mark, length) == 0;
}

// A tar header block: its checksum field matches the sum of its bytes (the
// field itself counted as blanks), as every tar writer since V7 leaves it.
bool isTarHeader(const unsigned char *head, std::size_t size)
{
    if (size < 512 || head[0] == 0)
        return false;
    unsigned stored = 0;
    std::size_t at = 148;
    while (at < 156 && head[at] == ' ')
        ++at;
    bool digits = false;
    for (; at < 156 && head[at] >= '0' && head[at] <= '7'; ++at) {
        stored = stored * 8 + unsigned(head[at] - '0');
        digits = true;
    }
    if (!digits)
        return false;
    unsigned sum = 0;
    for (std::size_t i = 0; i < 512; ++i)
        sum += (i >= 148 && i < 156) ? unsigned(' ') : head[i];
    return sum == stored;
}

} // namespace

ArchiveFormat sniffFormat(const unsigned char *head, std::size_t size)
{
    if (startsWith(head, size, "MSCF", 4))
        return ArchiveFormat::Cab;
    // A split ZIP's first part opens with a spanning mark.
    if (startsWith(head, size, "PK\3\4", 4) || startsWith(head, size, "PK\5\6", 4)
        || startsWith(head, size, "PK\7\10PK\3\4", 8))
        return ArchiveFormat::Zip;
    if (startsWith(head, size, "7z\xBC\xAF\x27\x1C", 6))
        return ArchiveFormat::SevenZip;
    if (startsWith(head, size, "Rar!\x1A\x07\x00", 7))
        return ArchiveFormat::Rar4;
    if (startsWith(head, size, "Rar!\x1A\x07\x01\x00", 8))
        return ArchiveFormat::Rar5;
    // LHA: header size, checksum, then the method id such as "-lh5-" (PMarc
    // writes "-pm0-" and the like in the same headers).
    if (size >= 7 && head[2] == '-' && head[6] == '-'
        && ((head[3] == 'l' && (head[4] == 'h' || head[4] == 'z')) || (head[3] == 'p' && head[4] == 'm')))
        return ArchiveFormat::Lzh;
    // gzip, bzip2 (with its block size digit), xz and zstd streams, and tar.
    if (startsWith(head, size, "\x1F\x8B\x08", 3)
        || (startsWith(head, size, "BZh", 3) && size >= 4 && head[3] >= '1' && head[3] <= '9')
        || startsWith(head, size, "\xFD" "7zXZ\x00", 6) || startsWith(head, size, "\x28\xB5\x2F\xFD", 4))
        return ArchiveFormat::Tar;
    if ((size >= 262 && std::memcmp(head + 257, "ustar", 5) == 0) || isTarHeader(head, size))
        return ArchiveFormat::Tar;
    return ArchiveFormat::Unknown;
}

ArchiveFormat sniffBehindStub(const std::string &path)
{
    // A ZIP archive is read from its end, so whatever stands in front of it
    // (a program, a spanning mark, any bytes) does not matter.
    ZipCentralDirectory zip;
    std::string message;
    if (zip.open(path, message) == TENVO_OK)
        return ArchiveFormat::Zip;
    if (findLzhStart(path) > 0)
        return ArchiveFormat::Lzh;
    return ArchiveFormat::Unknown;
}

TenvoResult sniffFile(const std::string &path, ArchiveFormat &format, std::string &message)
{
    format = ArchiveFormat::Unknown;
    // A FIFO or device named like an archive is never opened for reading in
    // a way that could block: the reader takes regular files only.
    FileReader reader;
    if (!reader.open(path)) {
        message = "cannot open \"" + escapeForMessage(path) + "\": "
            + (reader.openError() ? std::strerror(reader.openError()) : "not a regular file");
        return TENVO_ERR_OPEN;
    }
    unsigned char head[kSniffBytes];
    const auto got = static_cast<std::size_t>(std::min<uint64_t>(reader.size(), sizeof head));
    if (!reader.readAt(0, head, got)) {
        message = "cannot read \"" + escapeForMessage(path) + "\"";
        return TENVO_ERR_OPEN;
    }
    format = sniffFormat(head, got);
    if (format == ArchiveFormat::Unknown)
        format = sniffBehindStub(path);
    return TENVO_OK;
}

bool rarFilesIndependent(const std::string &path)
{
    FileReader reader;
    unsigned char head[64] = {};
    if (!reader.open(path))
        return false;
    const auto got = static_cast<std::size_t>(std::min<uint64_t>(reader.size(), sizeof head));
    if (!reader.readAt(0, head, got))
        return false;
    const ArchiveFormat format = sniffFormat(head, got);
    if (format == ArchiveFormat::Rar4) {
        // Marker block, then the main header: CRC, type 0x73, flags.
        if (got < 12 || head[9] != 0x73)
            return false;
        const unsigned flags = head[10] | unsigned(head[11]) << 8;
        return (flags & (0x0001 | 0x0008 | 0x0080)) == 0; // volume, solid, encrypted headers
    }
    if (format != ArchiveFormat::Rar5)
        return false;
    // Signature, then the first header: CRC32, then variable-length numbers
    // (size, type, flags, [extra size], [data size], archive flags). Type 1 is
    // the main header; an encryption header (type 4) comes first when the
    // headers are encrypted.
    std::size_t at = 12;
    auto number = [&](uint64_t &value) {
        value = 0;
        for (int shift = 0; at < got && shift < 64; shift += 7) {
            const unsigned char byte = head[at++];
            value |= uint64_t(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                return true;
        }
        return false;
    };
    uint64_t size = 0, type = 0, flags = 0, skipped = 0, archiveFlags = 0;
    if (!number(size) || !number(type) || type != 1 || !number(flags))
        return false;
    if ((flags & 0x0001) && !number(skipped))
        return false;
    if ((flags & 0x0002) && !number(skipped))
        return false;
    if (!number(archiveFlags))
        return false;
    return (archiveFlags & (0x0001 | 0x0004)) == 0; // volume, solid
}

const char *formatName(ArchiveFormat format)
{
    switch (format) {
    case ArchiveFormat::Lzh:
        return "LZH";
    case ArchiveFormat::Cab:
        return "CAB";
    case ArchiveFormat::Zip:
        return "ZIP";
    case ArchiveFormat::SevenZip:
        return "7z";
    case ArchiveFormat::Rar4:
        return "RAR 4";
    case ArchiveFormat::Rar5:
        return "RAR 5";
    case ArchiveFormat::Tar:
        return "tar";
    default:
        return "unknown";
    }
}

std::size_t cabFolderCount(const std::string &archivePath)
{
    // Read from the fixed header by hand: the caller may be a process that
    // must not run a decoder on untrusted bytes.
    FileReader reader;
    unsigned char header[28];
    if (!reader.open(archivePath) || !reader.readAt(0, header, sizeof header)
        || std::memcmp(header, "MSCF", 4) != 0)
        return 0;
    return std::size_t(header[26]) | std::size_t(header[27]) << 8;
}

} // namespace tenvo::engine

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

} // namespace

ArchiveFormat sniffFormat(const unsigned char *head, std::size_t size)
{
    if (startsWith(head, size, "MSCF", 4))
        return ArchiveFormat::Cab;
    if (startsWith(head, size, "PK\3\4", 4) || startsWith(head, size, "PK\5\6", 4))
        return ArchiveFormat::Zip;
    if (startsWith(head, size, "7z\xBC\xAF\x27\x1C", 6))
        return ArchiveFormat::SevenZip;
    if (startsWith(head, size, "Rar!\x1A\x07\x00", 7))
        return ArchiveFormat::Rar4;
    if (startsWith(head, size, "Rar!\x1A\x07\x01\x00", 8))
        return ArchiveFormat::Rar5;
    // LHA: header size, checksum, then the method id such as "-lh5-".
    if (size >= 7 && head[2] == '-' && head[3] == 'l' && (head[4] == 'h' || head[4] == 'z')
        && head[6] == '-')
        return ArchiveFormat::Lzh;
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
    default:
        return "unknown";
    }
}

} // namespace tenvo::engine

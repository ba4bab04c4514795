// Reads what libarchive 3.6 does not hand over from LZH and RAR 5 headers:
// the raw bytes and Unix file types of LZH names, RAR 5 encryption marks and
// data CRCs.
#include "headerscan.h"

#include "decoderutil.h"
#include "namecodec.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <sys/stat.h>

namespace tenvo::engine {

namespace {

// Reads length bytes at offset into out; false when they do not lie wholly
// inside the file.
bool readString(FileReader &file, int64_t offset, std::size_t length, std::string &out)
{
    // A size a crafted header claims is never allocated beyond the file.
    if (offset < 0 || static_cast<uint64_t>(offset) > file.size()
        || length > file.size() - static_cast<uint64_t>(offset))
        return false;
    out.resize(length);
    return file.readAt(static_cast<uint64_t>(offset), out.data(), length);
}

int64_t sizeOf(const FileReader &file)
{
    return static_cast<int64_t>(file.size());
}

uint32_t le16(const std::string &b, std::size_t at)
{
    return engine::le16(reinterpret_cast<const unsigned char *>(b.data()) + at);
}

uint32_t le32(const std::string &b, std::size_t at)
{
    return engine::le32(reinterpret_cast<const unsigned char *>(b.data()) + at);
}

// UTF-16LE as the Unicode name extensions store it, in UTF-8; 0xFFFF
// (between folders) becomes "/", a lone surrogate U+FFFD.
std::string utf8FromUtf16(const std::string &field)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < field.size(); i += 2) {
        char32_t unit = le16(field, i);
        if (unit == 0xFFFF) {
            out += '/';
            continue;
        }
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < field.size()) {
            const char32_t low = le16(field, i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (unit >= 0xD800 && unit < 0xE000)
            unit = 0xFFFD;
        if (unit == 0)
            break;
        appendUtf8(out, unit);
    }
    return out;
}

// The names an LZH header stores: as bytes (0x01, 0x02) and, where the
// archiver also wrote them, as Unicode (0x44, 0x45, now in UTF-8).
struct LzhNameFields {
    std::string directory;
    std::string fileName;
    std::string unicodeDirectory;
    std::string unicodeFileName;
    bool hasUnicode = false;
};

// The extension headers of one LZH header, starting with the first size
// field at offset; adds what they say to entry. Returns the total length
// walked (size fields included), or -1 when they run past the file.
int64_t walkLzhExtensions(FileReader &file, int64_t offset, std::size_t fieldLength,
                          LzhNameFields &names, StoredName &entry)
{
    std::string &directory = names.directory;
    std::string &fileName = names.fileName;
    int64_t total = 0;
    std::string field;
    for (int guard = 0; guard < 4096; ++guard) {
        if (!readString(file, offset + total, fieldLength, field))
            return -1;
        const uint32_t size = fieldLength == 2 ? le16(field, 0) : le32(field, 0);
        if (size == 0)
            return total + static_cast<int64_t>(fieldLength);
        if (size <= fieldLength)
            return -1;
        // Names and modes are short; a larger field (a comment) is passed over
        // unread.
        constexpr uint32_t largestNameField = 64 * 1024;
        if (size > largestNameField) {
            if (offset + total + static_cast<int64_t>(size) > sizeOf(file))
                return -1;
            total += size;
            continue;
        }
        std::string ext;
        if (!readString(file, offset + total, size, ext))
            return -1;
        const auto type = static_cast<unsigned char>(ext[fieldLength]);
        const std::string data = ext.substr(fieldLength + 1);
        if (type == 0x01) {
            fileName = data;
        } else if (type == 0x02) {
            directory = data;
            for (char &c : directory) {
                if (static_cast<unsigned char>(c) == 0xFF)
                    c = '/';
            }
        } else if (type == 0x44) {
            names.unicodeFileName = utf8FromUtf16(data);
            names.hasUnicode = true;
        } else if (type == 0x45) {
            names.unicodeDirectory = utf8FromUtf16(data);
            if (!names.unicodeDirectory.empty() && names.unicodeDirectory.back() != '/')
                names.unicodeDirectory += '/';
            names.hasUnicode = true;
        } else if (type == 0x46 && data.size() == 4) {
            entry.nameIsUtf8 = le32(data, 0) == 65001;
        } else if (type == 0x50 && data.size() >= 2) {
            entry.unixMode = static_cast<uint16_t>(le16(data, 0));
        }
        total += size;
    }
    return -1;
}

// Reads an unsigned RAR 5 variable-length integer at pos; false when cut.
bool readVint(const std::string &b, std::size_t &pos, uint64_t &value)
{
    value = 0;
    for (int shift = 0; shift < 64 && pos < b.size(); shift += 7) {
        const auto byte = static_cast<unsigned char>(b[pos++]);
        value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0)
            return true;
    }
    return false;
}

// Parses the type-specific part and extra area of a RAR 5 file header.
bool parseRar5File(const std::string &h, std::size_t pos, std::size_t extraStart,
                   Rar5FileHeader &file)
{
    uint64_t fileFlags, unpackedSize, attributes, compression, hostOs, nameLength;
    if (!readVint(h, pos, fileFlags) || !readVint(h, pos, unpackedSize)
        || !readVint(h, pos, attributes))
        return false;
    if (fileFlags & 0x0002)
        pos += 4; // modification time
    if (fileFlags & 0x0004) {
        if (pos + 4 > h.size())
            return false;
        file.hasCrc = true;
        file.crc = le32(h, pos);
        pos += 4;
    }
    if (!readVint(h, pos, compression) || !readVint(h, pos, hostOs)
        || !readVint(h, pos, nameLength) || pos + nameLength > h.size())
        return false;
    file.name = h.substr(pos, nameLength);

    // Extra area records: size, type, data. Type 1 is file encryption.
    std::size_t at = extraStart;
    while (at < h.size()) {
        uint64_t recordSize, recordType;
        std::size_t p = at;
        if (!readVint(h, p, recordSize))
            return false;
        const std::size_t next = p + recordSize;
        if (recordSize == 0 || next > h.size() || !readVint(h, p, recordType))
            return false;
        if (recordType == 1)
            file.encrypted = true;
        at = next;
    }
    return true;
}

// A method id that LZH archivers write: "-lh0-" to "-lh7-", "-lhd-" (a
// folder), "-lhs-", LArc's "-lz4-", "-lz5-", "-lzs-", and PMarc's "-pm0-" to
// "-pm2-" with "-pmd-".
bool knownLzhMethod(const unsigned char *id)
{
    const std::string_view method(reinterpret_cast<const char *>(id), 5);
    if (method[0] != '-' || method[4] != '-')
        return false;
    const std::string_view kind = method.substr(1, 2);
    const char variant = method[3];
    if (kind == "lh")
        return std::string_view("01234567ds").find(variant) != std::string_view::npos;
    if (kind == "lz")
        return std::string_view("45s").find(variant) != std::string_view::npos;
    return kind == "pm" && std::string_view("012d").find(variant) != std::string_view::npos;
}

// True when a whole LZH header that checks out starts at offset.
bool lzhHeaderAt(const unsigned char *b, std::size_t available)
{
    if (available < 26 || b[2] != '-' || b[6] != '-')
        return false;
    if (!knownLzhMethod(b + 2))
        return false;
    const int level = b[20];
    if (level == 0 || level == 1) {
        // The header size counts from the method id; the checksum byte is
        // the sum of those bytes.
        const std::size_t size = b[0];
        if (size < 22 || size + 2 > available)
            return false;
        unsigned sum = 0;
        for (std::size_t i = 2; i < size + 2; ++i)
            sum += b[i];
        return (sum & 0xFF) == b[1];
    }
    if (level == 2) {
        // The extension chain must end exactly where the header does.
        const std::size_t size = engine::le16(b);
        if (size < 26 || size > available)
            return false;
        std::size_t at = 24;
        for (int guard = 0; guard < 1024 && at + 2 <= size; ++guard) {
            const std::size_t next = engine::le16(b + at);
            if (next == 0)
                return at + 2 == size;
            if (next < 3)
                return false;
            at += next;
        }
        return false;
    }
    // Level 3 counts in 32-bit words.
    return level == 3 && engine::le16(b) == 4 && engine::le32(b + 24) >= 32;
}

} // namespace

int64_t findLzhStart(const std::string &archivePath)
{
    FileReader file;
    if (!file.open(archivePath))
        return -1;
    // A header is at most 64 KiB long (level 2), but one of level 0 or 1,
    // or the start of a longer one, is enough to tell.
    constexpr std::size_t kWindow = 1024;
    const uint64_t size = file.size();
    // An archive that starts like one starts there, whatever its first
    // header holds.
    unsigned char head[7];
    if (file.readAt(0, head, sizeof head) && head[2] == '-' && head[6] == '-'
        && (head[3] == 'l' || (head[3] == 'p' && head[4] == 'm')))
        return 0;
    std::vector<unsigned char> buffer;
    uint64_t bufferStart = 0;
    for (uint64_t offset = 0; offset < kLzhSearchLimit && offset + 26 <= size; ++offset) {
        if (buffer.empty() || offset + 26 > bufferStart + buffer.size()) {
            bufferStart = offset;
            buffer.resize(std::size_t(std::min<uint64_t>(size - offset, kLzhSearchLimit + kWindow)));
            if (!file.readAt(offset, buffer.data(), buffer.size()))
                return -1;
        }
        const unsigned char *b = buffer.data() + (offset - bufferStart);
        const std::size_t available = buffer.size() - std::size_t(offset - bufferStart);
        if (b[2] != '-' || b[6] != '-')
            continue;
        if (lzhHeaderAt(b, available))
            return int64_t(offset);
        // A level 2 header longer than what is in hand: read it whole.
        if (b[20] == 2 && engine::le16(b) > available) {
            std::vector<unsigned char> header(engine::le16(b));
            if (file.readAt(offset, header.data(), header.size())
                && lzhHeaderAt(header.data(), header.size()))
                return int64_t(offset);
        }
    }
    return -1;
}

std::vector<StoredName> scanLzhNames(const std::string &archivePath, int64_t start,
                                     const NameEncoding *encoding, bool *wholeWalk)
{
    std::vector<StoredName> entries;
    bool whole = false;
    FileReader file;
    if (wholeWalk)
        *wholeWalk = false;
    if (!file.open(archivePath))
        return entries;

    int64_t offset = start;
    std::unique_ptr<NameDecoder> decoder;
    std::string head;
    for (;;) {
        // The data of the member before runs past the end of the file.
        if (offset > sizeOf(file))
            break;
        if (offset == sizeOf(file) || (readString(file, offset, 1, head) && head[0] == '\0')) {
            whole = true;
            break;
        }
        if (!readString(file, offset, 22, head) || head[2] != '-' || head[6] != '-')
            break;
        const int level = static_cast<unsigned char>(head[20]);
        const uint32_t packedSize = le32(head, 7);
        StoredName entry;
        entry.method = head.substr(2, 5);
        LzhNameFields names;
        std::string &directory = names.directory;
        std::string &fileName = names.fileName;
        int64_t headerSize = 0;
        if (level == 0 || level == 1) {
            headerSize = static_cast<unsigned char>(head[0]) + 2;
            const std::size_t nameLength = static_cast<unsigned char>(head[21]);
            std::string whole;
            if (!readString(file, offset, 22 + nameLength, whole))
                break;
            fileName = whole.substr(22, nameLength);
            // Some writers separate folders here with 0xFF, as the directory
            // extension does; no CP932 character holds that byte.
            for (char &c : fileName) {
                if (static_cast<unsigned char>(c) == 0xFF)
                    c = '/';
            }
            // Level 0 keeps the Unix extension after the data CRC: 'U', a
            // minor version, the time, then the mode.
            std::string unixExtension;
            const int64_t extensionAt = offset + 24 + static_cast<int64_t>(nameLength);
            if (level == 0 && headerSize >= static_cast<int64_t>(32 + nameLength)
                && readString(file, extensionAt, 8, unixExtension) && unixExtension[0] == 'U')
                entry.unixMode = static_cast<uint16_t>(le16(unixExtension, 6));
            if (level == 1 && walkLzhExtensions(file, offset + headerSize - 2, 2, names, entry) < 0)
                break;
        } else if (level == 2) {
            headerSize = le16(head, 0);
            if (walkLzhExtensions(file, offset + 24, 2, names, entry) < 0)
                break;
        } else if (level == 3) {
            std::string size;
            if (!readString(file, offset + 24, 4, size))
                break;
            headerSize = le32(size, 0);
            if (walkLzhExtensions(file, offset + 28, 4, names, entry) < 0)
                break;
        } else {
            break;
        }
        if (headerSize <= 0)
            break;
        if (names.hasUnicode) {
            // A part stored only as bytes joins the Unicode one decoded.
            if (!decoder)
                decoder = std::make_unique<NameDecoder>(encoding);
            entry.rawName = (names.unicodeDirectory.empty() ? decoder->decode(directory, entry.nameIsUtf8)
                                                            : names.unicodeDirectory)
                + (names.unicodeFileName.empty() ? decoder->decode(fileName, entry.nameIsUtf8)
                                                 : names.unicodeFileName);
            entry.nameIsUtf8 = true;
            entry.nameIsUnicode = true;
        } else {
            entry.rawName = directory + fileName;
        }
        entries.push_back(std::move(entry));
        // Level 1 counts its extensions in the packed size.
        offset += headerSize + static_cast<int64_t>(packedSize);
    }
    if (wholeWalk)
        *wholeWalk = whole;
    return entries;
}

bool applyStoredName(const std::vector<StoredName> &names, std::size_t index, EntryInfo &info)
{
    if (index >= names.size() || (names[index].size >= 0 && names[index].size != info.size))
        return false;
    const StoredName &stored = names[index];
    info.rawName = stored.rawName;
    info.nameIsUtf8 = stored.nameIsUtf8;
    info.nameIsUnicode = stored.nameIsUnicode;
    if (stored.permissions >= 0)
        info.mode = static_cast<uint32_t>(stored.permissions);
    const uint32_t type = stored.unixMode & S_IFMT;
    if (info.kind == EntryKind::File
        && (type == S_IFIFO || type == S_IFCHR || type == S_IFBLK || type == S_IFSOCK))
        info.kind = EntryKind::Other;
    if (info.kind == EntryKind::Symlink) {
        // LHA for UNIX stores a link as "name|target".
        const std::size_t bar = info.rawName.find('|');
        if (bar != std::string::npos) {
            info.linkTarget = info.rawName.substr(bar + 1);
            info.linkTargetIsUtf8 = info.nameIsUtf8;
            info.rawName.resize(bar);
        }
    }
    return true;
}

Rar5Scan scanRar5(const std::string &archivePath)
{
    Rar5Scan scan;
    FileReader file;
    file.open(archivePath);
    std::string block;
    if (!file.isOpen() || !readString(file, 0, 8, block) || block != std::string("Rar!\x1A\x07\x01\x00", 8))
        return scan;

    int64_t offset = 8;
    while (offset < sizeOf(file)) {
        // CRC32, then the header size as a variable-length integer.
        std::string start;
        const std::size_t available =
            static_cast<std::size_t>(std::min<int64_t>(16, sizeOf(file) - offset));
        if (!readString(file, offset, available, start) || available < 5)
            break;
        std::size_t pos = 4;
        uint64_t headerSize;
        if (!readVint(start, pos, headerSize) || headerSize == 0 || headerSize > (1u << 21))
            break;
        std::string header;
        if (!readString(file, offset + static_cast<int64_t>(pos), headerSize, header))
            break;
        std::size_t p = 0;
        uint64_t type, flags, extraSize = 0, dataSize = 0;
        if (!readVint(header, p, type) || !readVint(header, p, flags))
            break;
        if ((flags & 0x0001) && !readVint(header, p, extraSize))
            break;
        if ((flags & 0x0002) && !readVint(header, p, dataSize))
            break;
        if (extraSize > header.size())
            break;

        if (type == 4) {
            scan.headersEncrypted = true;
            return scan;
        }
        if (type == 1) {
            uint64_t archiveFlags = 0;
            if (readVint(header, p, archiveFlags)) {
                scan.volume = archiveFlags & 0x0001;
                scan.solid = archiveFlags & 0x0004;
                if (archiveFlags & 0x0002)
                    readVint(header, p, scan.volumeNumber);
            }
        }
        if (type == 5) {
            // The end-of-archive header: another volume follows when its
            // flags say so.
            uint64_t endFlags = 0;
            scan.moreVolumes = readVint(header, p, endFlags) && (endFlags & 0x0001);
            return scan;
        }
        if (type == 2) {
            Rar5FileHeader entry;
            entry.split = (flags & 0x0018) != 0;
            entry.continued = (flags & 0x0008) != 0;
            scan.endsInsideFile = (flags & 0x0010) != 0;
            scan.moreVolumes = scan.endsInsideFile;
            if (!parseRar5File(header, p, header.size() - extraSize, entry))
                break;
            scan.files.push_back(std::move(entry));
        }
        offset += static_cast<int64_t>(pos + headerSize + dataSize);
    }
    return scan;
}

} // namespace tenvo::engine

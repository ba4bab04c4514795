// Bounded reading of a ZIP file's end records and central directory.
#include "zipscan.h"

#include "namecodec.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tenvo::engine {

namespace {

constexpr std::size_t kEocdSize = 22;
constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EocdSize = 56;
constexpr std::size_t kCentralFixedSize = 46;
// Room for a local header's extra area beyond its name: most writers put a
// few dozen bytes there.
constexpr std::size_t kLocalExtraGuess = 256;

bool hasSignature(const unsigned char *p, uint8_t third, uint8_t fourth)
{
    return p[0] == 'P' && p[1] == 'K' && p[2] == third && p[3] == fourth;
}

// Applies the ZIP64 extended information field: each 64-bit value is present
// only where the 32-bit field holds its all-ones marker, in a fixed order.
void applyZip64Extra(ZipCentralEntry &entry, const unsigned char *p, std::size_t size,
                     bool uncompressedMarked, bool compressedMarked, bool offsetMarked)
{
    std::size_t pos = 0;
    if (uncompressedMarked && pos + 8 <= size) {
        entry.uncompressedSize = le64(p + pos);
        pos += 8;
    }
    if (compressedMarked && pos + 8 <= size) {
        entry.compressedSize = le64(p + pos);
        pos += 8;
    }
    if (offsetMarked && pos + 8 <= size)
        entry.localHeaderOffset = le64(p + pos);
}

void applyExtraFields(ZipCentralEntry &entry, const unsigned char *p, std::size_t size,
                      bool uncompressedMarked, bool compressedMarked, bool offsetMarked)
{
    std::size_t pos = 0;
    while (pos + 4 <= size) {
        const uint16_t id = le16(p + pos);
        const uint16_t length = le16(p + pos + 2);
        pos += 4;
        if (length > size - pos) {
            entry.extraRunsOver = true;
            break;
        }
        const unsigned char *field = p + pos;
        if (id == 0x0001) {
            applyZip64Extra(entry, field, length, uncompressedMarked, compressedMarked,
                            offsetMarked);
        } else if (id == 0x5455 && length >= 5 && (field[0] & 1)) {
            // Extended time stamp: the modification time in UTC seconds.
            entry.unixMtime = int64_t(int32_t(le32(field + 1)));
        }
        switch (id) {
        case 0x0001: case 0x000a: case 0x000d: case 0x5855: case 0x6c78: case 0x7075: case 0x9901:
            entry.unusualExtra = true;
            break;
        default:
            break;
        }
        pos += length;
    }
}

} // namespace

TenvoResult ZipCentralDirectory::open(const std::string &path, std::string &message)
{
    m_failed = false;
    m_plainLayout = false;
    m_message.clear();
    m_count = 0;
    m_offset = m_end = 0;
    if (!m_file.open(path)) {
        message = "cannot open the archive";
        return TENVO_ERR_OPEN;
    }
    const uint64_t size = m_file.size();
    if (size < kEocdSize) {
        message = "not a ZIP archive";
        return TENVO_ERR_FORMAT;
    }

    // The end record sits at the very end, followed only by a comment.
    const std::size_t tailSize = std::size_t(std::min<uint64_t>(size, kEocdSize + kMaxCommentSize));
    std::vector<unsigned char> tail(tailSize);
    const uint64_t tailStart = size - tailSize;
    if (!m_file.readAt(tailStart, tail.data(), tailSize)) {
        message = "cannot read the archive";
        return TENVO_ERR_OPEN;
    }
    std::size_t found = std::string::npos;
    for (std::size_t i = tailSize - kEocdSize + 1; i-- > 0;) {
        if (hasSignature(&tail[i], 5, 6) && i + kEocdSize + le16(&tail[i + 20]) <= tailSize) {
            found = i;
            break;
        }
    }
    if (found == std::string::npos) {
        // A file that starts like a ZIP archive but has lost its end.
        unsigned char start[4];
        if (m_file.readAt(0, start, sizeof(start)) && hasSignature(start, 3, 4)) {
            message = "the archive is cut short (its central directory is missing)";
            return TENVO_ERR_DAMAGED;
        }
        message = "not a ZIP archive";
        return TENVO_ERR_FORMAT;
    }
    const unsigned char *eocd = &tail[found];
    const uint64_t eocdOffset = tailStart + found;
    const uint16_t diskNumber = le16(eocd + 4);
    const uint16_t directoryDisk = le16(eocd + 6);
    uint64_t directorySize = le32(eocd + 12);
    uint64_t directoryOffset = le32(eocd + 16);
    uint64_t limit = eocdOffset;
    bool zip64 = false;

    if (eocdOffset >= kZip64LocatorSize) {
        unsigned char locator[kZip64LocatorSize];
        if (m_file.readAt(eocdOffset - kZip64LocatorSize, locator, sizeof(locator))
            && hasSignature(locator, 6, 7)) {
            const uint64_t recordOffset = le64(locator + 8);
            unsigned char record[kZip64EocdSize];
            if (recordOffset <= eocdOffset - kZip64LocatorSize
                && eocdOffset - kZip64LocatorSize - recordOffset >= kZip64EocdSize
                && m_file.readAt(recordOffset, record, sizeof(record)) && hasSignature(record, 6, 6)) {
                zip64 = true;
                directorySize = le64(record + 40);
                directoryOffset = le64(record + 48);
                limit = recordOffset;
            } else if (directoryOffset == 0xFFFFFFFFu || directorySize == 0xFFFFFFFFu) {
                message = "the ZIP64 end record is damaged";
                return TENVO_ERR_DAMAGED;
            }
        }
    }
    if (!zip64 && (diskNumber != 0 || directoryDisk != 0)) {
        message = "the archive is split across several files";
        return TENVO_ERR_DAMAGED;
    }

    auto directoryStartsAt = [this](uint64_t offset) {
        unsigned char sig[4];
        return m_file.readAt(offset, sig, sizeof(sig)) && hasSignature(sig, 1, 2);
    };
    const bool fits = directoryOffset <= limit && directorySize <= limit - directoryOffset;
    if (directorySize > 0 && (!fits || !directoryStartsAt(directoryOffset))) {
        // Self-extracting archives put a program in front and keep offsets
        // relative to the archive; the directory still ends at the end record.
        if (directorySize <= limit && directoryStartsAt(limit - directorySize)) {
            directoryOffset = limit - directorySize;
        } else {
            message = "the central directory is damaged";
            return TENVO_ERR_DAMAGED;
        }
    }
    m_plainLayout = !zip64 && found + kEocdSize + le16(eocd + 20) == tailSize
        && le16(eocd + 8) == le16(eocd + 10) && directoryOffset == le32(eocd + 16)
        && directoryOffset + directorySize == eocdOffset;
    m_offset = directoryOffset;
    m_end = directoryOffset + directorySize;
    // One read for the whole directory rather than two per record: several
    // walks of it come before an archive is extracted.
    m_held.clear();
    if (directorySize <= kHeldDirectoryLimit) {
        m_held.resize(std::size_t(directorySize));
        if (!m_file.readAt(directoryOffset, m_held.data(), m_held.size()))
            m_held.clear();
    }
    return TENVO_OK;
}

bool ZipCentralDirectory::readDirectory(uint64_t offset, unsigned char *out, std::size_t size)
{
    if (m_held.empty() || offset < m_end - m_held.size())
        return m_file.readAt(offset, out, size);
    const uint64_t at = offset - (m_end - m_held.size());
    if (at > m_held.size() || size > m_held.size() - at)
        return false;
    std::memcpy(out, m_held.data() + at, size);
    return true;
}

bool ZipCentralDirectory::fail(std::string message)
{
    m_failed = true;
    m_message = std::move(message);
    return false;
}

bool ZipCentralDirectory::next(ZipCentralEntry &entry)
{
    if (m_failed || m_offset >= m_end)
        return false;
    if (++m_count > kMaxEntries)
        return fail("the central directory lists too many entries");
    unsigned char fixed[kCentralFixedSize];
    if (m_end - m_offset < kCentralFixedSize || !readDirectory(m_offset, fixed, sizeof(fixed))
        || !hasSignature(fixed, 1, 2))
        return fail("the central directory is damaged");
    const uint16_t nameSize = le16(fixed + 28);
    const uint16_t extraSize = le16(fixed + 30);
    const uint16_t commentSize = le16(fixed + 32);
    const uint64_t recordSize = kCentralFixedSize + uint64_t(nameSize) + extraSize + commentSize;
    if (recordSize > m_end - m_offset)
        return fail("the central directory is damaged");

    std::vector<unsigned char> variable(std::size_t(nameSize) + extraSize);
    if (!variable.empty() && !readDirectory(m_offset + kCentralFixedSize, variable.data(), variable.size()))
        return fail("the central directory is damaged");

    entry = ZipCentralEntry {};
    entry.recordOffset = m_offset;
    entry.hostOs = fixed[5];
    entry.flags = le16(fixed + 8);
    entry.method = le16(fixed + 10);
    entry.dosTime = le16(fixed + 12);
    entry.dosDate = le16(fixed + 14);
    entry.crc = le32(fixed + 16);
    entry.compressedSize = le32(fixed + 20);
    entry.uncompressedSize = le32(fixed + 24);
    entry.externalAttributes = le32(fixed + 38);
    entry.localHeaderOffset = le32(fixed + 42);
    entry.name.assign(reinterpret_cast<const char *>(variable.data()), nameSize);
    applyExtraFields(entry, variable.data() + nameSize, extraSize,
                     entry.uncompressedSize == 0xFFFFFFFFu, entry.compressedSize == 0xFFFFFFFFu,
                     entry.localHeaderOffset == 0xFFFFFFFFu);
    m_offset += recordSize;
    return true;
}

namespace {

// The bytes one entry occupies: its local header and its stored data.
struct ZipSpan {
    uint64_t start = 0;
    uint64_t end = 0;
    std::string name;
};

uint64_t saturatingAdd(uint64_t a, uint64_t b)
{
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// True when a field of the extra area declares more bytes than the area
// holds, as padding of arbitrary bytes does. Zero bytes, and a tail too short
// for a field, are harmless.
bool extraRunsOver(const std::vector<unsigned char> &extra)
{
    std::size_t pos = 0;
    while (extra.size() - pos >= 4) {
        const std::size_t length = le16(extra.data() + pos + 2);
        pos += 4;
        if (length > extra.size() - pos)
            return true;
        pos += length;
    }
    return false;
}

} // namespace

TenvoResult checkZipEntriesApart(const std::string &path, std::string &message, bool &readByUnarr)
{
    readByUnarr = false;
    ZipCentralDirectory directory;
    std::string ignored;
    FileReader file;
    if (directory.open(path, ignored) != TENVO_OK || !file.open(path))
        return TENVO_OK;
    std::vector<ZipSpan> spans;
    std::vector<unsigned char> local, extra;
    ZipCentralEntry entry;
    while (directory.next(entry)) {
        readByUnarr = readByUnarr || entry.method == kZipMethodDeflate64 || entry.extraRunsOver;
        // The local header's own name and extra lengths when it can be read
        // there (a self-extracting archive shifts every offset alike), else
        // only the part every local header has.
        // One read takes the header with the name and extra area the
        // directory record suggests; the extra area is read again only when
        // the local one is longer.
        uint64_t headerSize = 30;
        local.resize(std::size_t(std::min<uint64_t>(
            30 + entry.name.size() + kLocalExtraGuess,
            file.size() - std::min(file.size(), entry.localHeaderOffset))));
        if (local.size() >= 30 && file.readAt(entry.localHeaderOffset, local.data(), local.size())
            && hasSignature(local.data(), 3, 4)) {
            const std::size_t extraAt = 30 + le16(local.data() + 26);
            const std::size_t extraSize = le16(local.data() + 28);
            headerSize += uint64_t(extraAt - 30) + extraSize;
            if (!readByUnarr) {
                if (extraAt + extraSize <= local.size()) {
                    extra.assign(local.begin() + std::ptrdiff_t(extraAt),
                                 local.begin() + std::ptrdiff_t(extraAt + extraSize));
                    readByUnarr = extraRunsOver(extra);
                } else {
                    extra.resize(extraSize);
                    if (file.readAt(entry.localHeaderOffset + extraAt, extra.data(), extra.size()))
                        readByUnarr = extraRunsOver(extra);
                }
            }
        }
        spans.push_back({entry.localHeaderOffset,
                         saturatingAdd(saturatingAdd(entry.localHeaderOffset, headerSize), entry.compressedSize),
                         std::move(entry.name)});
    }
    std::sort(spans.begin(), spans.end(),
              [](const ZipSpan &a, const ZipSpan &b) { return a.start < b.start; });
    NameDecoder names;
    for (std::size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].start < spans[i - 1].end) {
            message = "the archive's entries overlap, as in a ZIP bomb: \""
                + escapeForMessage(names.decode(spans[i].name, false)) + "\" lies inside \""
                + escapeForMessage(names.decode(spans[i - 1].name, false)) + "\"";
            return TENVO_ERR_DAMAGED;
        }
    }
    return TENVO_OK;
}

void ZipNameRule::add(const ZipCentralEntry &entry)
{
    if (isValidUtf8(entry.name))
        return;
    cp932 = true;
    flagLies = flagLies || (entry.flags & kZipFlagUtf8);
}

void ZipNameRule::name(const std::string &raw, uint16_t flags, NameDecoder &names, std::string &name,
                       bool &isUtf8) const
{
    if (names.chosen()) {
        name = raw;
        isUtf8 = false;
        return;
    }
    const bool flagged = !flagLies && (flags & kZipFlagUtf8);
    const bool ascii = std::all_of(raw.begin(), raw.end(), [](char c) { return (c & 0x80) == 0; });
    if (cp932 && !flagged && !ascii && isValidUtf8(raw)) {
        name = names.decodeAsCp932(raw);
        isUtf8 = true;
    } else {
        name = raw;
        isUtf8 = flagged;
    }
}

ZipNameRule zipNameRule(const std::string &path)
{
    ZipNameRule rule;
    ZipCentralDirectory directory;
    std::string ignored;
    if (directory.open(path, ignored) != TENVO_OK)
        return rule;
    ZipCentralEntry entry;
    while (directory.next(entry))
        rule.add(entry);
    return rule;
}

TenvoResult checkZipEncryption(const std::string &path, const std::string *password, bool &encrypted,
                               std::string &message)
{
    encrypted = false;
    bool strong = false;
    ZipCentralDirectory directory;
    std::string ignored;
    if (directory.open(path, ignored) != TENVO_OK)
        return TENVO_OK;
    ZipCentralEntry entry;
    while (directory.next(entry)) {
        encrypted = encrypted || (entry.flags & kZipFlagEncrypted);
        strong = strong || (entry.flags & kZipFlagStrongEncryption);
    }
    if (encrypted && !password) {
        message = "the archive is password-protected";
        return TENVO_ERR_ENCRYPTED;
    }
    if (encrypted && strong) {
        message = "the archive uses strong encryption, which cannot be decrypted";
        return TENVO_ERR_ENCRYPTED;
    }
    return TENVO_OK;
}

} // namespace tenvo::engine

// A walk of a plain ZIP archive by the engine alone, without libarchive.
#include "zipreader.h"

#include "decoderutil.h"
#include "namecodec.h"
#include "volumeset.h"
#include "zipdirect.h"
#include "zipscan.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <unordered_map>
#include <vector>

namespace tenvo::engine {

namespace {

constexpr std::size_t kLocalFixedSize = 30;
// Read with a local header, so that its extra area (and a link's target)
// come in the same read.
constexpr std::size_t kLocalSlack = 512;
// libarchive gives up on the whole archive at a longer link.
constexpr uint64_t kMaxLinkSize = 64 * 1024;
enum : uint16_t { kMethodStored = 0, kMethodDeflate = 8 };
enum : uint16_t { kFlagDirectoryEncrypted = 0x2000 };
enum : uint8_t { kHostFat = 0 };

std::atomic<bool> ownReading{true};
std::atomic<uint64_t> readHere{0};

// One entry as its directory record and local header describe it.
struct Planned {
    ZipCentralEntry central;
    EntryKind kind = EntryKind::File;
    uint32_t mode = 0;
    int64_t mtime = INT64_MIN;
    std::string linkTarget;
    uint64_t dataStart = 0;
};

// A DOS time read as libarchive reads it: local time through mktime, which
// also carries fields out of range over. mktime looks at the time zone file
// on every call; an hour of one day has one offset, so one call per hour.
class DosClock {
public:
    int64_t toUnix(uint16_t date, uint16_t time)
    {
        std::tm fields {};
        fields.tm_year = ((date >> 9) & 0x7F) + 80;
        fields.tm_mon = ((date >> 5) & 0x0F) - 1;
        fields.tm_mday = date & 0x1F;
        fields.tm_hour = (time >> 11) & 0x1F;
        fields.tm_isdst = -1;
        const int minute = (time >> 5) & 0x3F;
        const int second = (time << 1) & 0x3E;
        if (fields.tm_hour > 23 || minute > 59 || second > 59 || fields.tm_mon < 0
            || fields.tm_mon > 11 || fields.tm_mday == 0) {
            fields.tm_min = minute;
            fields.tm_sec = second;
            return int64_t(std::mktime(&fields));
        }
        const uint32_t key = (uint32_t(date) << 5) | uint32_t(fields.tm_hour);
        auto hour = m_hours.find(key);
        if (hour == m_hours.end())
            hour = m_hours.emplace(key, int64_t(std::mktime(&fields))).first;
        return hour->second + minute * 60 + second;
    }

private:
    std::unordered_map<uint32_t, int64_t> m_hours;
};

// Whether libarchive may turn the name's backslashes into slashes, as it
// does (in some versions) for a name that reads as text in the locale and
// holds no slash. A CP932 name's 0x5C trail bytes are never turned.
bool backslashesTurned(const std::string &name)
{
    return name.find('\\') != std::string::npos && name.find('/') == std::string::npos
        && isValidUtf8(name);
}

// A record this walk reads as libarchive would; the rest goes to libarchive.
bool plainRecord(const ZipCentralEntry &entry)
{
    return (entry.flags & (kZipFlagEncrypted | kZipFlagStrongEncryption | kFlagDirectoryEncrypted)) == 0
        && (entry.method == kMethodStored || entry.method == kMethodDeflate) && !entry.extraRunsOver
        && !entry.unusualExtra && (entry.hostOs == kHostFat || entry.hostOs == kZipHostUnix)
        && !entry.name.empty() && entry.name.find('\0') == std::string::npos
        && !backslashesTurned(entry.name) && entry.compressedSize < 0xFFFFFFFFu
        && entry.uncompressedSize < 0xFFFFFFFFu && entry.localHeaderOffset < 0xFFFFFFFFu
        && ((entry.flags & kZipFlagUtf8) == 0 || isValidUtf8(entry.name));
}

// The local extra area: its modification time (INT64_MIN when it holds
// none), or false when it holds what this walk leaves to libarchive.
bool readLocalExtra(const unsigned char *p, std::size_t size, int64_t &mtime)
{
    mtime = INT64_MIN;
    if (size < 4)
        return std::all_of(p, p + size, [](unsigned char c) { return c == 0; });
    for (std::size_t pos = 0; pos + 4 <= size;) {
        const uint16_t id = le16(p + pos);
        const uint16_t length = le16(p + pos + 2);
        pos += 4;
        if (length > size - pos)
            return false;
        switch (id) {
        case 0x5455:
            if (length == 0)
                return false;
            if (p[pos] & 1) {
                // libarchive versions differ on times before 1970.
                if (length < 5 || int32_t(le32(p + pos + 1)) < 0)
                    return false;
                mtime = int32_t(le32(p + pos + 1));
            }
            break;
        case 0x0001: case 0x000a: case 0x000d: case 0x5855: case 0x6c78: case 0x7075: case 0x9901:
            return false;
        default:
            break;
        }
        pos += length;
    }
    return true;
}

// Reads the entry's local header and works out what libarchive makes of the
// two. False when they disagree or the entry is not a plain one.
bool readLocal(FileReader &file, Planned &planned, std::vector<unsigned char> &header, DosClock &clock)
{
    const ZipCentralEntry &central = planned.central;
    const uint64_t at = central.localHeaderOffset;
    const uint64_t size = file.size();
    const std::size_t nameSize = central.name.size();
    if (at >= size || size - at < kLocalFixedSize + nameSize)
        return false;
    header.resize(std::size_t(std::min<uint64_t>(kLocalFixedSize + nameSize + kLocalSlack, size - at)));
    if (!file.readAt(at, header.data(), header.size()))
        return false;
    const unsigned char *p = header.data();
    const uint32_t crc = le32(p + 14);
    const uint32_t compressed = le32(p + 18);
    const uint32_t uncompressed = le32(p + 22);
    const uint16_t dosTime = le16(p + 10);
    const uint16_t dosDate = le16(p + 12);
    const std::size_t extraAt = kLocalFixedSize + nameSize;
    const uint16_t extraSize = le16(p + 28);
    if (le32(p) != 0x04034b50u || le16(p + 6) != central.flags || le16(p + 8) != central.method
        || le16(p + 26) != nameSize || std::memcmp(p + kLocalFixedSize, central.name.data(), nameSize) != 0
        || (crc != 0 && crc != central.crc) || (compressed != 0 && compressed != central.compressedSize)
        || (uncompressed != 0 && uncompressed != central.uncompressedSize))
        return false;
    if (extraAt + extraSize > header.size()) {
        if (size - at < extraAt + extraSize)
            return false;
        const std::size_t had = header.size();
        header.resize(extraAt + extraSize);
        if (!file.readAt(at + had, header.data() + had, header.size() - had))
            return false;
    }
    int64_t mtime = INT64_MIN;
    if (!readLocalExtra(header.data() + extraAt, extraSize, mtime))
        return false;
    if (mtime == INT64_MIN) {
        // libarchive versions differ on a time stamp in the directory alone.
        if (central.unixMtime != INT64_MIN)
            return false;
        mtime = clock.toUnix(dosDate, dosTime);
    }
    planned.mtime = mtime;
    planned.dataStart = at + extraAt + extraSize;

    uint32_t mode = 0;
    if (central.hostOs == kZipHostUnix) {
        mode = central.unixMode();
    } else {
        mode = (central.externalAttributes & 0x10) ? S_IFDIR | 0775 : S_IFREG | 0664;
        if (central.externalAttributes & 0x01)
            mode &= 0555; // read-only; the file type goes too, as in libarchive
    }
    // No mode at all: libarchive versions differ on the default.
    if (mode == 0)
        return false;
    const bool slash = central.name.back() == '/';
    if ((mode & S_IFMT) != S_IFDIR) {
        if (slash)
            mode = (mode & ~uint32_t(S_IFMT)) | S_IFDIR | 0111;
        else if ((mode & S_IFMT) == 0)
            mode |= S_IFREG;
    }
    planned.mode = mode & 07777;
    switch (mode & S_IFMT) {
    case S_IFREG:
        planned.kind = EntryKind::File;
        return central.method == kMethodDeflate || central.compressedSize == central.uncompressedSize;
    case S_IFDIR:
        // libarchive would add the slash to the name.
        planned.kind = EntryKind::Directory;
        return slash && central.compressedSize == 0 && central.uncompressedSize == 0;
    case S_IFLNK: {
        planned.kind = EntryKind::Symlink;
        if (central.method != kMethodStored || central.compressedSize != central.uncompressedSize
            || central.compressedSize > kMaxLinkSize || planned.dataStart > size
            || central.compressedSize > size - planned.dataStart)
            return false;
        const auto linkSize = std::size_t(central.compressedSize);
        const std::size_t linkAt = extraAt + extraSize;
        if (linkAt + linkSize <= header.size()) {
            planned.linkTarget.assign(reinterpret_cast<const char *>(header.data() + linkAt), linkSize);
        } else {
            planned.linkTarget.resize(linkSize);
            if (!file.readAt(planned.dataStart, planned.linkTarget.data(), linkSize))
                return false;
        }
        return planned.linkTarget.find('\0') == std::string::npos
            && ((central.flags & kZipFlagUtf8) == 0 || isValidUtf8(planned.linkTarget));
    }
    default:
        // FIFOs and devices: libarchive and its callers make them files first.
        return false;
    }
}

// What the walk decides on, read from the central directory and the local
// headers before the sink sees anything: the entries in libarchive's order.
// False when the archive is left to libarchive.
bool planWalk(const std::string &path, ZipDirectData &data, std::vector<Planned> &entries,
              ZipNameRule &rule)
{
    // Numbered and split parts: libarchive reads those front to back.
    if (!ownReading || numberedPartNumber(path) != 0)
        return false;
    if (const NumberedParts split = splitZipParts(path); !split.paths.empty() || !split.missing.empty())
        return false;

    ZipCentralDirectory directory;
    std::string ignored;
    if (directory.open(path, ignored) != TENVO_OK || !directory.plainLayout())
        return false;
    ZipCentralEntry record;
    while (directory.next(record)) {
        if (!plainRecord(record))
            return false;
        rule.add(record);
        entries.push_back(Planned {std::move(record), EntryKind::File, 0, INT64_MIN, {}, 0});
    }
    if (directory.failed() || entries.empty())
        return false;
    // libarchive's order, by local header offset; it would drop a second
    // record of one offset.
    std::stable_sort(entries.begin(), entries.end(), [](const Planned &a, const Planned &b) {
        return a.central.localHeaderOffset < b.central.localHeaderOffset;
    });
    for (std::size_t i = 1; i < entries.size(); ++i) {
        if (entries[i].central.localHeaderOffset == entries[i - 1].central.localHeaderOffset)
            return false;
    }

    if (!data.openFile(path))
        return false;
    FileReader &file = data.file();
    // A file that starts with an end record is an empty archive to libarchive.
    if (entries.front().central.localHeaderOffset != 0) {
        unsigned char start[4];
        if (!file.readAt(0, start, sizeof start) || std::memcmp(start, "PK\5\6", 4) == 0)
            return false;
    }
    std::vector<unsigned char> header;
    DosClock clock;
    for (Planned &planned : entries) {
        if (!readLocal(file, planned, header, clock))
            return false;
    }
    return true;
}

} // namespace

void setZipOwnReading(bool on) { ownReading = on; }
bool zipOwnReading() { return ownReading; }
uint64_t zipArchivesReadHere() { return readHere; }

bool checkZipHere(const std::string &path)
{
    ZipDirectData data;
    std::vector<Planned> entries;
    ZipNameRule rule;
    return planWalk(path, data, entries, rule);
}

bool decodeZipHere(const std::string &path, EntrySink &sink, std::string &message,
                   TenvoResult &result)
{
    // The walk decodes through ZipDirectData, so it stands aside with it.
    ZipDirectData data;
    std::vector<Planned> entries;
    ZipNameRule rule;
    if (!zipDirectDecoding() || !planWalk(path, data, entries, rule))
        return false;

    ++readHere;
    NameDecoder names(sink.nameEncoding());
    for (const Planned &planned : entries) {
        EntryInfo info;
        rule.name(planned.central.name, planned.central.flags, names, info.rawName, info.nameIsUtf8);
        info.kind = planned.kind;
        info.linkTarget = planned.linkTarget;
        info.mode = planned.mode;
        info.size = planned.kind == EntryKind::File ? int64_t(planned.central.uncompressedSize) : 0;
        info.mtime = planned.mtime;
        const std::size_t index = data.add(planned.central, planned.dataStart);

        std::string entryMessage;
        TenvoResult outcome = TENVO_OK;
        bool fatal = false;
        if (sink.beginEntry(info) && planned.kind == EntryKind::File)
            outcome = data.decode(index, sink, entryMessage, fatal);
        sink.endEntry(outcome, entryMessage);
        if (fatal) {
            message = entryMessage;
            result = outcome;
            return true;
        }
    }
    result = TENVO_OK;
    return true;
}

} // namespace tenvo::engine

// Multi-volume RAR 4 sets: the volumes joined into one archive for unarr.
#include "decoders.h"
#include "rar4header.h"
#include "volumeset.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

// unarr reads one file only. The data of a set's files, each split over as
// many volumes as it needs, is copied into one unnamed scratch file laid out
// as a single-volume archive (one header per file, its parts' data joined),
// which the single-archive decoder then reads like any other.

namespace tenvo::engine {

namespace {

constexpr unsigned char kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    Descriptor(Descriptor &&other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    int get() const { return m_fd; }

private:
    int m_fd;
};

struct Part {
    std::size_t volume = 0;
    Rar4FileHeader header;
};

// One file of the set: its parts in order.
struct SetEntry {
    std::vector<Part> parts;
    bool whole = false; // its last part (without the split-after flag) was found
    bool cut = false;   // a volume it goes on in is missing
};

// How many missing volumes in a row are looked past for the ones after them.
constexpr std::size_t kMissingLookAhead = 8;

void setLe16(unsigned char *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void setLe32(unsigned char *p, uint32_t v)
{
    setLe16(p, v & 0xFFFF);
    setLe16(p + 2, v >> 16);
}

// Writes all of data; false on failure.
bool writeAll(int fd, const void *data, std::size_t size)
{
    auto *bytes = static_cast<const unsigned char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= std::size_t(n);
    }
    return true;
}

// Copies size bytes at offset of from to the end of to, in the kernel where
// it can.
bool copyRange(int from, uint64_t offset, uint64_t size, int to)
{
    auto position = off64_t(offset);
    while (size > 0) {
        const ssize_t n = ::copy_file_range(from, &position, to, nullptr, std::size_t(std::min<uint64_t>(size, 1u << 30)), 0);
        if (n > 0) {
            size -= uint64_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            return false; // the volume is shorter than its headers say
        // No copy in the kernel across these files: through a buffer.
        std::vector<char> buffer(1 << 20);
        while (size > 0) {
            const ssize_t got = ::pread(from, buffer.data(), std::size_t(std::min<uint64_t>(size, buffer.size())), position);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0 || !writeAll(to, buffer.data(), std::size_t(got)))
                return false;
            position += got;
            size -= uint64_t(got);
        }
    }
    return true;
}

// An unnamed file to build the joined archive in: beside the extracted
// files when the destination's file system allows, else in the temporary
// folder. Gone as soon as it is closed.
Descriptor scratchFile(int folder)
{
    for (const int where : {folder, -2}) {
        if (where == -1)
            continue;
        const int base = where == -2 ? AT_FDCWD : where;
        const char *name = where == -2 ? "/tmp" : ".";
        int fd = ::openat(base, name, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0)
            return Descriptor(fd);
        const std::string named = std::string(where == -2 ? "/tmp/" : "") + ".tenvo-"
            + std::to_string(::getpid()) + "-volumes.tmp";
        fd = ::openat(base, named.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            ::unlinkat(base, named.c_str(), 0);
            return Descriptor(fd);
        }
    }
    return Descriptor();
}

// The block of a whole file made from its parts: the first part's header
// with the split flags cleared, the joined packed size, the last part's CRC
// (that of the unpacked data) and a new header CRC.
bool joinedHeader(int volume, const SetEntry &entry, uint64_t packedTotal, std::vector<unsigned char> &block)
{
    const Rar4FileHeader &first = entry.parts.front().header;
    block.resize(first.headerSize);
    if (::pread(volume, block.data(), block.size(), off_t(first.offset)) != ssize_t(block.size()))
        return false;
    uint16_t flags = le16(block.data() + 3);
    flags &= uint16_t(~(kRar4FileSplitBefore | kRar4FileSplitAfter));
    setLe16(block.data() + 3, flags);
    if (!(flags & kRar4FileLarge) && packedTotal > 0xFFFFFFFFu)
        return false;
    setLe32(block.data() + 7, uint32_t(packedTotal));
    if (flags & kRar4FileLarge)
        setLe32(block.data() + 32, uint32_t(packedTotal >> 32));
    setLe32(block.data() + 16, entry.parts.back().header.fileCrc);
    setLe16(block.data(), crc32Update(0, block.data() + 2, block.size() - 2) & 0xFFFF);
    return true;
}

std::vector<unsigned char> simpleBlock(uint8_t type, uint16_t flags, std::size_t reserved)
{
    std::vector<unsigned char> block(7 + reserved, 0);
    block[2] = type;
    setLe16(block.data() + 3, flags);
    setLe16(block.data() + 5, uint32_t(block.size()));
    setLe16(block.data(), crc32Update(0, block.data() + 2, block.size() - 2) & 0xFFFF);
    return block;
}

EntryInfo brokenInfo(const Rar4FileHeader &header)
{
    EntryInfo info;
    const Rar4Name name = rar4EntryName(header);
    info.rawName = name.bytes;
    info.nameIsUtf8 = name.isUtf8;
    info.nameIsUnicode = name.isUtf8;
    info.kind = EntryKind::File;
    info.size = 0;
    return info;
}

} // namespace

TenvoResult decodeRar4Volumes(const std::string &firstPath, EntrySink &sink, std::string &message)
{
    std::vector<std::string> paths{firstPath};
    std::vector<Descriptor> files;
    std::vector<SetEntry> entries;
    uint16_t mainFlags = 0;
    std::string missing; // the first volume looked for and not found
    std::string damaged; // a volume whose headers break off
    // v counts the volumes found, number the names tried (v + the volumes
    // missing so far).
    for (std::size_t v = 0, number = 0;; ++v, ++number) {
        Rar4HeaderReader reader;
        std::string openMessage;
        const TenvoResult opened = reader.open(paths[v], openMessage);
        if (opened != TENVO_OK) {
            if (v == 0) {
                message = openMessage;
                return opened;
            }
            damaged = paths[v];
            paths.pop_back();
            break;
        }
        if (v == 0) {
            mainFlags = reader.mainFlags();
            if (!(mainFlags & kRar4MainFirstVolume)
                && ((mainFlags & kRar4MainNewNumbering) || isLaterRarVolumeName(firstPath))) {
                message = "this is not the first volume of a multi-volume archive";
                return TENVO_ERR_VOLUME;
            }
        }
        files.emplace_back(::open(paths[v].c_str(), O_RDONLY | O_CLOEXEC));
        Rar4FileHeader header;
        bool walking = true;
        bool brokenOff = false;
        while (walking) {
            switch (reader.next(header)) {
            case Rar4HeaderReader::Step::File:
                if (header.dataTruncated) {
                    brokenOff = true;
                    walking = false;
                    break;
                }
                if (header.flags & kRar4FileSplitBefore) {
                    if (entries.empty() || entries.back().whole || entries.back().cut
                        || entries.back().parts.back().header.nameField != header.nameField) {
                        if (v == 0) {
                            message = "this is not the first volume of a multi-volume archive";
                            return TENVO_ERR_VOLUME;
                        }
                        continue; // a part of nothing known
                    }
                } else {
                    entries.emplace_back();
                }
                entries.back().parts.push_back({v, header});
                entries.back().whole = !(header.flags & kRar4FileSplitAfter);
                break;
            case Rar4HeaderReader::Step::End:
                walking = false;
                break;
            case Rar4HeaderReader::Step::Failed:
                brokenOff = true;
                walking = false;
                break;
            }
        }
        if (brokenOff) {
            // What follows in a damaged volume, and in the volumes after
            // it, cannot be found.
            damaged = paths[v];
            break;
        }
        if (!reader.moreVolumes())
            break;
        const bool newNumbering = mainFlags & kRar4MainNewNumbering;
        std::string next = rarVolumeName(firstPath, number + 1, newNumbering);
        if (next.empty()) {
            missing = "the next volume";
            break;
        }
        if (!volumeExists(next)) {
            if (missing.empty())
                missing = next;
            if (!entries.empty() && !entries.back().whole)
                entries.back().cut = true;
            // Past a gap the files held whole in the volumes after it can
            // still be read, unless they belong to one solid stream.
            std::string later;
            for (std::size_t skip = 2; later.empty() && !(mainFlags & kRar4MainSolid)
                 && skip <= kMissingLookAhead + 1; ++skip) {
                const std::string name = rarVolumeName(firstPath, number + skip, newNumbering);
                if (volumeExists(name)) {
                    later = name;
                    number += skip - 1;
                }
            }
            if (later.empty())
                break;
            next = later;
        }
        paths.push_back(next);
    }

    const Descriptor joined = scratchFile(sink.scratchFolder());
    if (joined.get() < 0) {
        message = "no room for joining the volumes";
        return TENVO_ERR_WRITE;
    }
    bool written = writeAll(joined.get(), kMarker, sizeof kMarker);
    const auto main = simpleBlock(0x73, mainFlags & kRar4MainSolid, 6);
    written = written && writeAll(joined.get(), main.data(), main.size());
    std::vector<const SetEntry *> broken;
    std::vector<unsigned char> block;
    for (const SetEntry &entry : entries) {
        uint64_t packed = 0;
        for (const Part &part : entry.parts)
            packed += part.header.packedSize;
        if (!entry.whole || entry.cut || files[entry.parts.front().volume].get() < 0
            || !joinedHeader(files[entry.parts.front().volume].get(), entry, packed, block)) {
            broken.push_back(&entry);
            continue;
        }
        written = written && writeAll(joined.get(), block.data(), block.size());
        for (const Part &part : entry.parts) {
            written = written
                && copyRange(files[part.volume].get(), part.header.offset + part.header.headerSize,
                             part.header.packedSize, joined.get());
        }
    }
    const auto end = simpleBlock(0x7B, 0x4000, 0);
    written = written && writeAll(joined.get(), end.data(), end.size());
    if (!written) {
        message = "the volumes cannot be joined (" + std::string(std::strerror(errno)) + ")";
        return TENVO_ERR_WRITE;
    }

    const TenvoResult decoded =
        decodeRar4Archive("/proc/self/fd/" + std::to_string(joined.get()), sink, message);
    for (const SetEntry *entry : broken) {
        sink.beginEntry(brokenInfo(entry->parts.front().header));
        sink.endEntry(TENVO_ERR_VOLUME, "the entry goes on in a volume that is missing");
    }
    if (decoded != TENVO_OK)
        return decoded;
    if (!damaged.empty()) {
        message = "a volume of the set is damaged: " + damaged;
        return TENVO_ERR_DAMAGED;
    }
    if (!missing.empty()) {
        message = "a volume of the set is missing: " + missing;
        return TENVO_ERR_VOLUME;
    }
    return TENVO_OK;
}

} // namespace tenvo::engine

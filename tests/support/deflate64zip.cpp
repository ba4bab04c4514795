// Writes ZIP archives whose entries are packed with Deflate64 (method 9), for test fixtures.
#include "deflate64zip.h"

#include <algorithm>
#include <array>

namespace tenvo::fixture {

namespace {

constexpr uint16_t methodStored = 0;
constexpr uint16_t methodDeflate64 = 9;
constexpr uint16_t flagEncrypted = 0x0001;
constexpr uint16_t flagUtf8 = 0x0800;

void putU16(std::string &out, uint16_t value)
{
    out.push_back(char(value & 0xFF));
    out.push_back(char(value >> 8));
}

void putU32(std::string &out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(char((value >> shift) & 0xFF));
}

void putU64(std::string &out, uint64_t value)
{
    putU32(out, uint32_t(value));
    putU32(out, uint32_t(value >> 32));
}

// A Deflate64 stream of stored blocks: each block is a header byte (BFINAL in
// bit 0, BTYPE 00), then LEN and its complement NLEN, then LEN bytes.
std::string storedDeflateStream(const std::string &data, std::size_t blockSize)
{
    std::string out;
    std::size_t pos = 0;
    do {
        const std::size_t length = std::min(blockSize, data.size() - pos);
        const bool last = pos + length == data.size();
        out.push_back(char(last ? 1 : 0));
        putU16(out, uint16_t(length));
        putU16(out, uint16_t(~length));
        out.append(data, pos, length);
        pos += length;
    } while (pos < data.size());
    return out;
}

bool isAscii(const std::string &s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

std::string makeDeflate64Zip(const FixtureEntries &entries, const Deflate64ZipOptions &options,
                             std::string *error)
{
    auto fail = [error](const std::string &why) {
        if (error)
            *error = why;
        return std::string();
    };
    if (options.blockSize < 1 || options.blockSize > 0xFFFF)
        return fail("the block size must lie between 1 and 65535");
    const bool unixHost = options.host == Deflate64ZipOptions::Host::Unix;

    std::string out;
    std::string central;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FixtureEntry &entry = entries[i];
        if (entry.kind == FixtureEntry::Symlink && !unixHost)
            return fail("a symbolic link needs a Unix host");
        std::string name = entry.name;
        const bool directory = entry.kind == FixtureEntry::Directory;
        if (directory && (name.empty() || name.back() != '/'))
            name += '/';
        const std::string data = entry.kind == FixtureEntry::File      ? entry.data
                               : entry.kind == FixtureEntry::Symlink ? entry.linkTarget
                                                                     : std::string();
        const bool stored =
            directory || std::find(options.storedEntries.begin(), options.storedEntries.end(), i)
                != options.storedEntries.end();
        const uint16_t method = stored ? methodStored : methodDeflate64;
        const std::string packed = stored ? data : storedDeflateStream(data, options.blockSize);
        uint32_t crc = fixtureCrc32(data);
        if (options.badCrcEntry == i)
            crc ^= 0x5A5A5A5Au;
        uint16_t flags = 0;
        if (options.names == Deflate64ZipOptions::Names::Utf8 && !isAscii(name))
            flags |= flagUtf8;
        if (options.encryptedEntry == i)
            flags |= flagEncrypted;
        const uint32_t dos = dosDateTime(entry.mtime);
        const uint16_t needed = stored ? 10 : 21;
        uint32_t external = 0;
        if (unixHost) {
            const uint32_t type = directory ? 0040000
                : entry.kind == FixtureEntry::Symlink ? 0120000
                                                      : 0100000;
            external = (type | (entry.mode & 07777)) << 16;
            if (directory)
                external |= 0x10;
        } else {
            external = directory ? 0x10 : 0x20;
        }

        const uint32_t localOffset = uint32_t(out.size());
        out += std::string("PK\x03\x04", 4);
        putU16(out, needed);
        putU16(out, flags);
        putU16(out, method);
        putU16(out, uint16_t(dos & 0xFFFF));
        putU16(out, uint16_t(dos >> 16));
        putU32(out, crc);
        putU32(out, uint32_t(packed.size()));
        putU32(out, uint32_t(data.size()));
        putU16(out, uint16_t(name.size()));
        putU16(out, 0);
        out += name;
        out += packed;

        central += std::string("PK\x01\x02", 4);
        putU16(central, uint16_t(unixHost ? (3 << 8) | 30 : 20));
        putU16(central, needed);
        putU16(central, flags);
        putU16(central, method);
        putU16(central, uint16_t(dos & 0xFFFF));
        putU16(central, uint16_t(dos >> 16));
        putU32(central, crc);
        putU32(central, uint32_t(packed.size()));
        putU32(central, uint32_t(data.size()));
        putU16(central, uint16_t(name.size()));
        putU16(central, 0); // extra
        putU16(central, 0); // comment
        putU16(central, 0); // disk
        putU16(central, 0); // internal attributes
        putU32(central, external);
        putU32(central, localOffset);
        central += name;
    }

    const uint64_t centralOffset = out.size();
    out += central;
    const uint64_t count = entries.size();
    if (options.zip64EndRecords) {
        const uint64_t recordOffset = out.size();
        out += std::string("PK\x06\x06", 4);
        putU64(out, 44); // size of the rest of the record
        putU16(out, uint16_t(unixHost ? (3 << 8) | 45 : 45));
        putU16(out, 45);
        putU32(out, 0);
        putU32(out, 0);
        putU64(out, count);
        putU64(out, count);
        putU64(out, central.size());
        putU64(out, centralOffset);
        out += std::string("PK\x06\x07", 4);
        putU32(out, 0);
        putU64(out, recordOffset);
        putU32(out, 1);
    }
    out += std::string("PK\x05\x06", 4);
    putU16(out, 0);
    putU16(out, 0);
    const uint16_t shownCount = options.zip64EndRecords ? 0xFFFF : uint16_t(count);
    putU16(out, shownCount);
    putU16(out, shownCount);
    putU32(out, options.zip64EndRecords ? 0xFFFFFFFFu : uint32_t(central.size()));
    putU32(out, options.zip64EndRecords ? 0xFFFFFFFFu : uint32_t(centralOffset));
    putU16(out, 0);

    if (options.truncateTo && *options.truncateTo < out.size())
        out.resize(*options.truncateTo);
    return out;
}

bool writeDeflate64Zip(const QString &path, const FixtureEntries &entries,
                       const Deflate64ZipOptions &options, std::string *error)
{
    return writeArchiveBytes(path, makeDeflate64Zip(entries, options, error), error);
}

} // namespace tenvo::fixture

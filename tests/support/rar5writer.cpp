// Writes stored (method 0) RAR 5 archives for test fixtures.
#include "rar5writer.h"

#include <algorithm>
#include <array>

namespace tenvo::fixture {

namespace {

constexpr char signature[] = "Rar!\x1A\x07\x01\x00";

enum HeaderType : uint8_t { mainHeader = 1, fileHeader = 2, encryptionHeader = 4, endHeader = 5 };
enum HeaderFlag : uint8_t {
    hasExtraArea = 0x01,
    hasDataArea = 0x02,
    splitBefore = 0x08,
    splitAfter = 0x10,
};
enum FileFlag : uint8_t { isDirectory = 0x01, hasMtime = 0x02, hasCrc = 0x04 };
enum ExtraRecord : uint8_t { encryptionRecord = 1, redirectionRecord = 5 };
enum HostOs : uint8_t { windowsHost = 0, unixHost = 1 };
enum Redirection : uint8_t { unixSymlink = 1, windowsSymlink = 2, hardLink = 4 };

void putVint(std::string &out, uint64_t value)
{
    do {
        uint8_t byte = value & 0x7F;
        value >>= 7;
        if (value != 0)
            byte |= 0x80;
        out.push_back(char(byte));
    } while (value != 0);
}

void putU32(std::string &out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(char((value >> shift) & 0xFF));
}

// A whole header block from its fields (type onward): CRC32 of the size and
// fields, then the size, then the fields.
std::string block(const std::string &fields, bool badCrc = false)
{
    std::string sized;
    putVint(sized, fields.size());
    sized += fields;
    std::string out;
    putU32(out, fixtureCrc32(sized) ^ (badCrc ? 0x00010000u : 0));
    return out + sized;
}

// An extra-area record: its size, then its type and data.
std::string record(uint8_t type, const std::string &data)
{
    std::string body(1, char(type));
    body += data;
    std::string out;
    putVint(out, body.size());
    return out + body;
}

std::string redirection(const FixtureEntry &entry, Rar5Options::Host host, bool hard)
{
    std::string data;
    putVint(data, hard ? hardLink : host == Rar5Options::Host::Unix ? unixSymlink : windowsSymlink);
    putVint(data, 0); // flags: the target is not a directory
    putVint(data, entry.linkTarget.size());
    data += entry.linkTarget;
    return record(redirectionRecord, data);
}

// AES-256 parameters: cipher version 0, no password check value, 2^15 key
// derivation rounds, a fixed salt (and for files, IV). Nothing decrypts with them.
std::string cipherParameters(bool withIv)
{
    std::string data;
    putVint(data, 0);
    putVint(data, 0);
    data.push_back(15);
    for (int i = 0; i < (withIv ? 32 : 16); ++i)
        data.push_back(char(0x40 + i));
    return data;
}

std::string encryption()
{
    return record(encryptionRecord, cipherParameters(true));
}

std::string scrambled(const std::string &data)
{
    std::string out = data;
    out.resize((data.size() + 15) / 16 * 16, '\0');
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = char(uint8_t(out[i]) ^ uint8_t(0xA5 + 7 * i));
    return out;
}

uint64_t attributes(const FixtureEntry &entry, Rar5Options::Host host, bool hard)
{
    const bool symlink = entry.kind == FixtureEntry::Symlink && !hard;
    if (host == Rar5Options::Host::Unix) {
        if (entry.unixType != 0)
            return (entry.unixType & 0170000) | (entry.mode & 07777);
        const uint64_t type = entry.kind == FixtureEntry::Directory ? 0040000
            : symlink                                              ? 0120000
                                                                    : 0100000;
        return type | ((hard ? 0644 : entry.mode) & 07777);
    }
    uint64_t attr = entry.kind == FixtureEntry::Directory ? 0x10 : 0x20;
    if (symlink)
        attr |= 0x400; // reparse point
    if ((entry.mode & 0200) == 0)
        attr |= 0x01; // read-only
    return attr;
}

std::string storedName(const FixtureEntry &entry)
{
    std::string name = entry.name;
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    return name;
}

struct FileBlock
{
    std::string header;
    std::string data;
};

bool listed(const std::vector<std::size_t> &indexes, std::size_t index)
{
    return std::find(indexes.begin(), indexes.end(), index) != indexes.end();
}

FileBlock fileBlock(const FixtureEntry &entry, std::size_t index, const Rar5Options &options)
{
    const bool badDataCrc = options.badDataCrcEntry == index;
    const bool badHeaderCrc = options.badHeaderCrcEntry == index;
    const bool encrypted = options.encryptedEntry == index;
    const bool hard = entry.kind == FixtureEntry::Symlink && listed(options.hardLinkEntries, index);
    const auto declared = options.declaredSizes.find(index);
    const bool isFile = entry.kind == FixtureEntry::File;
    const std::string plain = isFile ? entry.data : std::string();
    const std::string stored = encrypted ? scrambled(plain) : plain;

    std::string extra;
    if (encrypted)
        extra += encryption();
    if (entry.kind == FixtureEntry::Symlink)
        extra += redirection(entry, options.host, hard);

    const bool isDir = entry.kind == FixtureEntry::Directory;
    std::string f;
    putVint(f, fileHeader);
    // Every file header carries a data area, a directory's empty: readers
    // (libarchive among them) refuse file headers without one.
    putVint(f, (extra.empty() ? 0 : hasExtraArea) | hasDataArea);
    if (!extra.empty())
        putVint(f, extra.size());
    putVint(f, stored.size());
    putVint(f, (isDir ? isDirectory : 0) | hasMtime | (isDir ? 0 : hasCrc));
    putVint(f, declared != options.declaredSizes.end() ? declared->second : plain.size());
    putVint(f, attributes(entry, options.host, hard));
    putU32(f, uint32_t(entry.mtime));
    if (!isDir)
        putU32(f, fixtureCrc32(plain) ^ (badDataCrc ? 0x80000001u : 0));
    putVint(f, 0); // compression: format version 0, method 0 (stored), no dictionary
    putVint(f, options.host == Rar5Options::Host::Unix ? unixHost : windowsHost);
    const std::string name = storedName(entry);
    putVint(f, name.size());
    f += name;
    f += extra;
    return {block(f, badHeaderCrc), stored};
}

// One part of a file split across volumes: header and data.
std::string splitFileBlock(const FixtureEntry &entry, std::size_t index, const Rar5Options &options,
                           const std::string &part, const std::string &whole, bool before, bool after)
{
    std::string f;
    putVint(f, fileHeader);
    putVint(f, hasDataArea | (before ? splitBefore : 0) | (after ? splitAfter : 0));
    putVint(f, part.size());
    putVint(f, hasMtime | hasCrc);
    putVint(f, whole.size());
    putVint(f, attributes(entry, options.host, false));
    putU32(f, uint32_t(entry.mtime));
    putU32(f, fixtureCrc32(after ? part : whole));
    putVint(f, 0);
    putVint(f, options.host == Rar5Options::Host::Unix ? unixHost : windowsHost);
    const std::string name = storedName(entry);
    putVint(f, name.size());
    f += name;
    (void)index;
    return block(f) + part;
}

} // namespace

std::string makeRar5(const FixtureEntries &entries, const Rar5Options &options, std::string *error)
{
    std::string archive(signature, sizeof signature - 1);
    std::size_t encryptedFrom = std::string::npos;
    if (options.encryptHeaders) {
        std::string cryptFields;
        putVint(cryptFields, encryptionHeader);
        putVint(cryptFields, 0); // header flags
        cryptFields += cipherParameters(false);
        archive += block(cryptFields);
        encryptedFrom = archive.size();
    }

    std::string mainFields;
    putVint(mainFields, mainHeader);
    putVint(mainFields, 0); // header flags
    putVint(mainFields, 0); // archive flags: one volume, not solid
    archive += block(mainFields);

    std::size_t lastDataStart = 0;
    std::size_t lastDataSize = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FileBlock b = fileBlock(entries[i], i, options);
        archive += b.header;
        if (!b.data.empty()) {
            lastDataStart = archive.size();
            lastDataSize = b.data.size();
        }
        archive += b.data;
    }

    if (!options.omitEndHeader) {
        std::string endFields;
        putVint(endFields, endHeader);
        putVint(endFields, 0); // header flags
        putVint(endFields, 0); // end flags: last volume
        archive += block(endFields);
    }

    if (encryptedFrom != std::string::npos) {
        // Everything after the encryption header would be ciphertext.
        const std::string rest = scrambled(archive.substr(encryptedFrom));
        archive.replace(encryptedFrom, std::string::npos, rest);
    }

    if (options.truncateInLastData) {
        if (lastDataSize == 0) {
            if (error)
                *error = "no entry holds data to cut";
            return {};
        }
        archive.resize(lastDataStart + lastDataSize / 2);
    }
    if (options.truncateTo && *options.truncateTo < archive.size())
        archive.resize(*options.truncateTo);
    return archive;
}

std::vector<std::string> makeRar5Volumes(const FixtureEntries &entries, std::size_t volumeData,
                                         const Rar5Options &options)
{
    std::vector<std::string> volumes;
    std::size_t room = 0;
    auto startVolume = [&] {
        if (!volumes.empty()) {
            std::string endFields;
            putVint(endFields, endHeader);
            putVint(endFields, 0);
            putVint(endFields, 0x0001); // another volume follows
            volumes.back() += block(endFields);
        }
        std::string volume(signature, sizeof signature - 1);
        std::string mainFields;
        putVint(mainFields, mainHeader);
        putVint(mainFields, 0);
        // A volume; every one but the first gives its number (from 0).
        putVint(mainFields, volumes.empty() ? 0x0001 : 0x0003);
        if (!volumes.empty())
            putVint(mainFields, volumes.size());
        volume += block(mainFields);
        volumes.push_back(volume);
        room = volumeData;
    };
    startVolume();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FileBlock whole = fileBlock(entries[i], i, options);
        const std::string &data = whole.data;
        std::size_t done = 0;
        do {
            if (room == 0 && done < data.size())
                startVolume();
            const std::size_t chunk = std::min(room, data.size() - done);
            const bool more = done + chunk < data.size();
            if (done == 0 && !more) {
                volumes.back() += whole.header + data;
            } else {
                // The same header with this part's data size and split
                // flags; a part before the last carries the CRC32 of its own data.
                const std::string part = data.substr(done, chunk);
                volumes.back() += splitFileBlock(entries[i], i, options, part, data, done > 0, more);
            }
            done += chunk;
            room -= chunk;
        } while (done < data.size());
    }
    std::string endFields;
    putVint(endFields, endHeader);
    putVint(endFields, 0);
    putVint(endFields, 0);
    volumes.back() += block(endFields);
    return volumes;
}

bool writeRar5(const QString &path, const FixtureEntries &entries, const Rar5Options &options,
               std::string *error)
{
    return writeArchiveBytes(path, makeRar5(entries, options, error), error);
}

} // namespace tenvo::fixture

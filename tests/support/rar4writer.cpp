// Writes stored (method 0x30) RAR 4 archives for test fixtures.
#include "rar4writer.h"

#include <algorithm>
#include <array>

namespace tenvo::fixture {

namespace {

constexpr char marker[] = "Rar!\x1A\x07\x00";

enum BlockType : uint8_t { mainBlock = 0x73, fileBlock = 0x74, endBlock = 0x7B };
enum MainFlag : uint16_t {
    mainVolume = 0x0001,
    mainSolid = 0x0008,
    mainNewNumbering = 0x0010,
    mainEncryptedHeaders = 0x0080,
    mainFirstVolume = 0x0100,
};
enum FileFlag : uint16_t {
    fileSplitBefore = 0x0001,
    fileSplitAfter = 0x0002,
    fileEncrypted = 0x0004,
    fileSolid = 0x0010,
    fileDirectory = 0x00E0,
    fileUnicodeName = 0x0200,
    longBlock = 0x8000,
};
enum HostOs : uint8_t { win32Host = 2, unixHost = 3 };
constexpr uint8_t storedMethod = 0x30;
constexpr uint8_t unpackVersion = 29;

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

// A whole block from its fields after HEAD_SIZE: CRC, type, flags and size
// in front, the CRC taken over everything from the type on.
std::string block(uint8_t type, uint16_t flags, const std::string &fields, bool badCrc = false)
{
    std::string body(1, char(type));
    putU16(body, flags);
    putU16(body, uint16_t(7 + fields.size()));
    body += fields;
    std::string out;
    putU16(out, uint16_t((fixtureCrc32(body) & 0xFFFF) ^ (badCrc ? 0x0101 : 0)));
    return out + body;
}

bool listed(const std::vector<std::size_t> &indices, std::size_t index)
{
    return std::find(indices.begin(), indices.end(), index) != indices.end();
}

bool utf8ToUtf16(const std::string &in, std::u16string &out)
{
    out.clear();
    for (std::size_t i = 0; i < in.size();) {
        const auto b = static_cast<unsigned char>(in[i]);
        uint32_t cp = 0;
        int extra = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07;
            extra = 3;
        } else {
            return false;
        }
        if (i + std::size_t(extra) >= in.size() && extra > 0)
            return false;
        for (int k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(in[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        i += std::size_t(extra) + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return true;
}

// RAR's compact Unicode name: the single-byte name, a zero byte, then a
// shared high byte and 2-bit codes per character (0: low byte only,
// 1: low byte under the shared high byte, 2: both bytes, 3: a run copied
// from the single-byte name).
bool encodeUnicodeName(const std::string &utf8, std::string &field)
{
    std::u16string units;
    if (!utf8ToUtf16(utf8, units) || units.empty())
        return false;
    std::string plain;
    for (char16_t u : units)
        plain.push_back(u < 0x80 ? char(u) : '?');

    uint8_t high = 0;
    for (char16_t u : units) {
        if (u >= 0x100) {
            high = uint8_t(u >> 8);
            break;
        }
    }
    std::string encoded(1, char(high));
    std::string pending; // the data bytes behind the current flag byte
    uint8_t flags = 0;
    int codes = 0;
    auto addCode = [&](uint8_t code, const std::string &data) {
        flags = uint8_t(flags | (code << (6 - 2 * codes)));
        pending += data;
        if (++codes == 4) {
            encoded.push_back(char(flags));
            encoded += pending;
            flags = 0;
            codes = 0;
            pending.clear();
        }
    };
    for (std::size_t i = 0; i < units.size();) {
        std::size_t run = 0;
        while (i + run < units.size() && units[i + run] < 0x80 && run < 129)
            ++run;
        if (run >= 2) {
            addCode(3, std::string(1, char(run - 2)));
            i += run;
            continue;
        }
        const char16_t u = units[i++];
        if (u < 0x100)
            addCode(0, std::string(1, char(u)));
        else if ((u >> 8) == high)
            addCode(1, std::string(1, char(u & 0xFF)));
        else
            addCode(2, std::string{char(u & 0xFF), char(u >> 8)});
    }
    if (codes > 0) {
        encoded.push_back(char(flags));
        encoded += pending;
    }
    field = plain + '\0' + encoded;
    return true;
}

std::string storedName(const FixtureEntry &entry, Rar4Options::Host host)
{
    std::string name = entry.name;
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    if (host == Rar4Options::Host::Windows)
        std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

uint32_t attributes(const FixtureEntry &entry, Rar4Options::Host host)
{
    if (host == Rar4Options::Host::Unix) {
        const uint32_t type = entry.kind == FixtureEntry::Directory ? 0040000
            : entry.kind == FixtureEntry::Symlink                  ? 0120000
                                                                    : 0100000;
        return type | (entry.mode & 07777);
    }
    uint32_t attr = entry.kind == FixtureEntry::Directory ? 0x10 : 0x20;
    if (!(entry.mode & 0200))
        attr |= 0x01; // read-only
    return attr;
}

} // namespace

std::string makeRar4(const FixtureEntries &entries, const Rar4Options &options, std::string *error)
{
    auto fail = [error](const std::string &why) {
        if (error)
            *error = why;
        return std::string();
    };

    std::string out(marker, 7);
    uint16_t mainFlags = 0;
    if (options.solid)
        mainFlags |= mainSolid;
    if (options.encryptedHeaders)
        mainFlags |= mainEncryptedHeaders;
    out += block(mainBlock, mainFlags, std::string(6, '\0'));

    std::size_t lastDataStart = std::string::npos;
    std::size_t lastDataSize = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FixtureEntry &entry = entries[i];
        if (entry.kind == FixtureEntry::Symlink && options.host != Rar4Options::Host::Unix)
            return fail("a symbolic link needs a Unix host");

        std::string data = entry.kind == FixtureEntry::File      ? entry.data
                         : entry.kind == FixtureEntry::Symlink ? entry.linkTarget
                                                               : std::string();
        uint32_t dataCrc = fixtureCrc32(data);
        if (options.badDataCrcEntry == i)
            dataCrc ^= 0x5A5A5A5Au;

        uint16_t flags = longBlock;
        if (entry.kind == FixtureEntry::Directory)
            flags |= fileDirectory;
        if (options.solid && options.solidEntryFlags && i > 0)
            flags |= fileSolid;
        if (options.encryptedEntry == i) {
            flags |= fileEncrypted;
            for (char &c : data)
                c = char(c ^ 0xA5);
        }

        std::string name = storedName(entry, options.host);
        if (listed(options.unicodeNameEntries, i)) {
            std::string field;
            if (!encodeUnicodeName(name, field))
                return fail("the name of entry " + std::to_string(i) + " is not UTF-8");
            name = field;
            flags |= fileUnicodeName;
        } else if (listed(options.utf8NameEntries, i)) {
            flags |= fileUnicodeName;
        }
        if (name.size() > 0xFFFF - 32)
            return fail("a name is too long");

        std::string fields;
        putU32(fields, uint32_t(data.size())); // PACK_SIZE
        putU32(fields, uint32_t(data.size())); // UNP_SIZE
        fields.push_back(char(options.host == Rar4Options::Host::Unix ? unixHost : win32Host));
        putU32(fields, dataCrc);
        putU32(fields, dosDateTime(entry.mtime));
        fields.push_back(char(unpackVersion));
        fields.push_back(char(storedMethod));
        putU16(fields, uint16_t(name.size()));
        putU32(fields, attributes(entry, options.host));
        fields += name;
        out += block(fileBlock, flags, fields, options.badHeaderCrcEntry == i);
        if (!data.empty()) {
            lastDataStart = out.size();
            lastDataSize = data.size();
        }
        out += data;
    }
    if (!options.omitEndBlock)
        out += block(endBlock, 0x4000, std::string());

    if (options.truncateInLastData) {
        if (lastDataStart == std::string::npos)
            return fail("no entry holds data to cut");
        out.resize(lastDataStart + lastDataSize / 2);
    }
    if (options.truncateTo && *options.truncateTo < out.size())
        out.resize(*options.truncateTo);
    return out;
}

std::vector<std::string> makeRar4Volumes(const FixtureEntries &entries, std::size_t volumeData,
                                         const Rar4Options &options, bool newNumbering)
{
    std::vector<std::string> volumes;
    std::size_t room = 0;
    auto startVolume = [&] {
        if (!volumes.empty())
            volumes.back() += block(endBlock, 0x4001, std::string()); // another volume follows
        std::string volume(marker, 7);
        uint16_t flags = mainVolume;
        if (newNumbering)
            flags |= mainNewNumbering;
        if (volumes.empty())
            flags |= mainFirstVolume;
        if (options.solid)
            flags |= mainSolid;
        volume += block(mainBlock, flags, std::string(6, '\0'));
        volumes.push_back(volume);
        room = volumeData;
    };
    startVolume();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FixtureEntry &entry = entries[i];
        const std::string data = entry.kind == FixtureEntry::File ? entry.data : std::string();
        const std::string name = storedName(entry, options.host);
        std::size_t done = 0;
        do {
            if (room == 0 && done < data.size())
                startVolume();
            const std::size_t chunk = std::min(room, data.size() - done);
            const bool more = done + chunk < data.size();
            uint16_t flags = longBlock;
            if (entry.kind == FixtureEntry::Directory)
                flags |= fileDirectory;
            if (options.solid && options.solidEntryFlags && i > 0)
                flags |= fileSolid;
            if (done > 0)
                flags |= fileSplitBefore;
            if (more)
                flags |= fileSplitAfter;
            // A part before the last holds the CRC of its own packed data,
            // the last one that of the whole file.
            const std::string part = data.substr(done, chunk);
            std::string fields;
            putU32(fields, uint32_t(chunk));       // PACK_SIZE
            putU32(fields, uint32_t(data.size())); // UNP_SIZE
            fields.push_back(char(options.host == Rar4Options::Host::Unix ? unixHost : win32Host));
            putU32(fields, more ? fixtureCrc32(part) : fixtureCrc32(data));
            putU32(fields, dosDateTime(entry.mtime));
            fields.push_back(char(unpackVersion));
            fields.push_back(char(storedMethod));
            putU16(fields, uint16_t(name.size()));
            putU32(fields, attributes(entry, options.host));
            fields += name;
            volumes.back() += block(fileBlock, flags, fields) + part;
            done += chunk;
            room -= chunk;
        } while (done < data.size());
    }
    volumes.back() += block(endBlock, 0x4000, std::string());
    return volumes;
}

bool writeRar4(const QString &path, const FixtureEntries &entries, const Rar4Options &options,
               std::string *error)
{
    return writeArchiveBytes(path, makeRar4(entries, options, error), error);
}

} // namespace tenvo::fixture

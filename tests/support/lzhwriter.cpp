// Writes LZH archives (header levels 0 to 3, data stored or packed literal-only) for test fixtures.
#include "lzhwriter.h"

#include <QString>

#include <array>

namespace tenvo::fixture {

namespace {

constexpr uint16_t unixRegular = 0100000;
constexpr uint16_t unixDirectory = 0040000;
constexpr uint16_t unixSymlink = 0120000;

void putU16(std::string &out, uint32_t value)
{
    out.push_back(char(value & 0xFF));
    out.push_back(char((value >> 8) & 0xFF));
}

void putU32(std::string &out, uint32_t value)
{
    putU16(out, value & 0xFFFF);
    putU16(out, value >> 16);
}

void setU16(std::string &out, std::size_t at, uint32_t value)
{
    out[at] = char(value & 0xFF);
    out[at + 1] = char((value >> 8) & 0xFF);
}

std::string replaceAll(std::string text, char from, char to)
{
    for (char &c : text) {
        if (c == from)
            c = to;
    }
    return text;
}

// An entry's path as LZH headers hold it: the folders (each followed by '/')
// and the last component. A symbolic link is "path|target", split at its last
// '/' even when that lies in the target, as LHa for UNIX splits it.
struct SplitPath
{
    std::string folders;
    std::string base;
};

SplitPath splitPath(const FixtureEntry &entry)
{
    std::string path = entry.name;
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    if (entry.kind == FixtureEntry::Directory)
        return {path.empty() ? std::string() : path + '/', std::string()};
    if (entry.kind == FixtureEntry::Symlink)
        path += '|' + entry.linkTarget;
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {std::string(), path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

uint16_t unixMode(const FixtureEntry &entry)
{
    if (entry.unixType != 0)
        return uint16_t((entry.unixType & 0170000) | (entry.mode & 07777));
    switch (entry.kind) {
    case FixtureEntry::Directory:
        return uint16_t(unixDirectory | (entry.mode & 07777));
    case FixtureEntry::Symlink:
        return uint16_t(unixSymlink | (entry.mode & 07777));
    case FixtureEntry::File:
        break;
    }
    return uint16_t(unixRegular | (entry.mode & 07777));
}

uint8_t dosAttributes(const FixtureEntry &entry)
{
    uint8_t attributes = entry.kind == FixtureEntry::Directory ? 0x10 : 0x20;
    if ((entry.mode & 0200) == 0)
        attributes |= 0x01; // read-only
    return attributes;
}

// Level 3 gives every extension a 4-byte size, the others a 2-byte one.
void putExtension(std::string &out, uint8_t type, const std::string &data, int level = 2)
{
    if (level == 3)
        putU32(out, uint32_t(5 + data.size()));
    else
        putU16(out, uint32_t(3 + data.size()));
    out.push_back(char(type));
    out += data;
}

std::string u16Bytes(uint32_t value)
{
    std::string bytes;
    putU16(bytes, value);
    return bytes;
}

std::string u32Bytes(uint32_t value)
{
    std::string bytes;
    putU32(bytes, value);
    return bytes;
}

// The name with '?' for every character outside ASCII, as a tool that also
// stores the Unicode name writes the single-byte one.
std::string asciiOnly(const std::string &utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80)
            out.push_back(char(c));
        else if ((c & 0xC0) != 0x80)
            out.push_back('?');
    }
    return out;
}

// UTF-16LE of a UTF-8 text, '/' becoming 0xFFFF as between folders.
std::string utf16Field(const std::string &utf8)
{
    std::string out;
    for (char16_t unit : QString::fromUtf8(utf8.data(), qsizetype(utf8.size())).toStdU16String())
        putU16(out, unit == u'/' ? 0xFFFF : unit);
    return out;
}

// With unicodeNames, the stored single-byte name keeps only ASCII; unicode
// gets the whole name for the Unicode extensions.
SplitPath storedPath(const FixtureEntry &entry, const LzhOptions &options, SplitPath &unicode)
{
    SplitPath path = splitPath(entry);
    unicode = path;
    if (options.unicodeNames)
        path = {asciiOnly(path.folders), asciiOnly(path.base)};
    return path;
}

// The extensions that follow the name at levels 1 and 2, CRC extension excluded.
std::string extensions(const FixtureEntry &entry, const LzhOptions &options,
                       const std::string &directoryField, const SplitPath &unicode)
{
    std::string out;
    if (!directoryField.empty())
        putExtension(out, 0x02, directoryField, options.level);
    if (options.unicodeNames) {
        if (!unicode.base.empty())
            putExtension(out, 0x44, utf16Field(unicode.base), options.level);
        if (!unicode.folders.empty())
            putExtension(out, 0x45, utf16Field(unicode.folders), options.level);
    }
    if (options.codePage != 0)
        putExtension(out, 0x46, u32Bytes(options.codePage), options.level);
    if (options.os == 'U') {
        putExtension(out, 0x50, u16Bytes(unixMode(entry)), options.level);
        putExtension(out, 0x51, u16Bytes(0) + u16Bytes(0), options.level); // gid, uid
        if (options.level == 1)
            putExtension(out, 0x54, u32Bytes(uint32_t(entry.mtime)), options.level);
    } else {
        putExtension(out, 0x40, u16Bytes(dosAttributes(entry)), options.level);
    }
    return out;
}

std::string method(const FixtureEntry &entry, const LzhOptions &options)
{
    return entry.kind == FixtureEntry::File ? options.method : "-lhd-";
}

// Bits written from the most significant one down, as LZH decoders read them.
class BitWriter
{
public:
    void put(uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            m_byte = uint8_t((m_byte << 1) | ((value >> i) & 1));
            if (++m_count == 8) {
                m_out.push_back(char(m_byte));
                m_byte = 0;
                m_count = 0;
            }
        }
    }
    std::string finish()
    {
        if (m_count != 0)
            m_out.push_back(char(m_byte << (8 - m_count)));
        m_count = 0;
        return m_out;
    }

private:
    std::string m_out;
    uint8_t m_byte = 0;
    int m_count = 0;
};

// LHarc's adaptive Huffman coder of -lh1- (314 symbols: 256 bytes and the
// match lengths), used here for bytes only.
class AdaptiveHuffman
{
public:
    AdaptiveHuffman()
    {
        for (int i = 0; i < kSymbols; ++i) {
            m_freq[i] = 1;
            m_son[i] = i + kTable;
            m_parent[i + kTable] = i;
        }
        for (int i = 0, j = kSymbols; j <= kRoot; i += 2, ++j) {
            m_freq[j] = m_freq[i] + m_freq[i + 1];
            m_son[j] = i;
            m_parent[i] = m_parent[i + 1] = j;
        }
        m_freq[kTable] = 0xFFFF;
        m_parent[kRoot] = 0;
    }

    void encode(BitWriter &bits, int symbol)
    {
        // An odd position is the second child: its bit is 1. The path is
        // found from the leaf up and written from the root down.
        std::string path;
        for (int k = m_parent[symbol + kTable]; k != kRoot; k = m_parent[k])
            path.push_back(char(k & 1));
        for (auto it = path.rbegin(); it != path.rend(); ++it)
            bits.put(uint32_t(*it), 1);
        update(symbol);
    }

private:
    static constexpr int kSymbols = 314;
    static constexpr int kTable = kSymbols * 2 - 1;
    static constexpr int kRoot = kTable - 1;
    static constexpr uint32_t kMaxFrequency = 0x8000;

    void rebuild()
    {
        int j = 0;
        for (int i = 0; i < kTable; ++i) {
            if (m_son[i] >= kTable) {
                m_freq[j] = (m_freq[i] + 1) / 2;
                m_son[j] = m_son[i];
                ++j;
            }
        }
        for (int i = 0, k = kSymbols; k < kTable; i += 2, ++k) {
            const uint32_t f = m_freq[i] + m_freq[i + 1];
            m_freq[k] = f;
            int l = k - 1;
            while (f < m_freq[l])
                --l;
            ++l;
            for (int m = k; m > l; --m) {
                m_freq[m] = m_freq[m - 1];
                m_son[m] = m_son[m - 1];
            }
            m_freq[l] = f;
            m_son[l] = i;
        }
        for (int i = 0; i < kTable; ++i) {
            const int k = m_son[i];
            m_parent[k] = i;
            if (k < kTable)
                m_parent[k + 1] = i;
        }
    }

    void update(int symbol)
    {
        if (m_freq[kRoot] == kMaxFrequency)
            rebuild();
        int c = m_parent[symbol + kTable];
        do {
            const uint32_t k = ++m_freq[c];
            int l = c + 1;
            if (k > m_freq[l]) {
                while (k > m_freq[++l]) {
                }
                --l;
                m_freq[c] = m_freq[l];
                m_freq[l] = k;
                const int i = m_son[c];
                m_parent[i] = l;
                if (i < kTable)
                    m_parent[i + 1] = l;
                const int j = m_son[l];
                m_son[l] = i;
                m_parent[j] = c;
                if (j < kTable)
                    m_parent[j + 1] = c;
                m_son[c] = j;
                c = l;
            }
        } while ((c = m_parent[c]) != 0);
    }

    std::array<uint32_t, kTable + 1> m_freq{};
    std::array<int, kTable + kSymbols> m_parent{};
    std::array<int, kTable> m_son{};
};

// The data as the method packs it, every byte a literal; nullopt for a
// method this writer does not pack (the data then goes in as it is).
std::optional<std::string> packed(const std::string &data, const std::string &method)
{
    if (method == "-lh0-" || method == "-lz4-" || method == "-pm0-")
        return data;
    BitWriter bits;
    if (method == "-lzs-") {
        // A set flag bit, then the byte.
        for (unsigned char c : data) {
            bits.put(1, 1);
            bits.put(c, 8);
        }
        return bits.finish();
    }
    if (method == "-lz5-") {
        // A flag byte for each eight items, a set bit (lowest first) for a byte.
        std::string out;
        for (std::size_t i = 0; i < data.size(); i += 8) {
            out.push_back('\xFF');
            out += data.substr(i, 8);
        }
        return out;
    }
    if (method == "-lh1-") {
        AdaptiveHuffman coder;
        for (unsigned char c : data)
            coder.encode(bits, c);
        return bits.finish();
    }
    if (method == "-lh4-" || method == "-lh5-" || method == "-lh6-" || method == "-lh7-") {
        // Blocks in which every byte value has an 8-bit code, so byte b is
        // written as b: the length table comes through a one-symbol tree
        // (length 8, symbol 10), and the unused offset tree has one symbol.
        const int offsetBits = method == "-lh4-" || method == "-lh5-" ? 4 : 5;
        for (std::size_t at = 0; at < data.size(); at += 0x8000) {
            const std::string block = data.substr(at, 0x8000);
            bits.put(uint32_t(block.size()), 16);
            bits.put(0, 5);
            bits.put(10, 5);
            bits.put(256, 9);
            bits.put(0, offsetBits);
            bits.put(0, offsetBits);
            for (unsigned char c : block)
                bits.put(c, 8);
        }
        return bits.finish();
    }
    return std::nullopt;
}

// Header byte sum of levels 0 and 1: the bytes after the two leading ones.
uint8_t headerSum(const std::string &header)
{
    uint8_t sum = 0;
    for (std::size_t i = 2; i < header.size(); ++i)
        sum = uint8_t(sum + uint8_t(header[i]));
    return sum;
}

struct Header
{
    std::string bytes;
    std::string error;
};

Header header0(const FixtureEntry &entry, const LzhOptions &options, std::size_t packedSize,
               uint16_t dataCrc, bool badCheck)
{
    const SplitPath path = splitPath(entry);
    const std::string name = replaceAll(path.folders + path.base, '/', options.nameSeparator);
    // 221 is the most a level-0 header leaves for the name.
    if (name.size() > 221)
        return {{}, "name too long for a level-0 header: " + entry.name};

    std::string h(2, '\0');
    h += method(entry, options);
    putU32(h, uint32_t(packedSize));
    putU32(h, uint32_t(entry.data.size()));
    putU32(h, dosDateTime(entry.mtime));
    h.push_back(char(dosAttributes(entry)));
    h.push_back(0); // level
    h.push_back(char(name.size()));
    h += name;
    putU16(h, dataCrc);
    if (options.os == 'U') {
        // The fixed Unix extension: 'U', minor version, mtime, mode, uid, gid.
        h.push_back('U');
        h.push_back(0);
        putU32(h, uint32_t(entry.mtime));
        putU16(h, unixMode(entry));
        putU16(h, 0);
        putU16(h, 0);
    }
    h[0] = char(h.size() - 2);
    h[1] = char(headerSum(h) + (badCheck ? 1 : 0));
    return {h, {}};
}

Header header1(const FixtureEntry &entry, const LzhOptions &options, std::size_t packedSize,
               uint16_t dataCrc, bool badCheck)
{
    SplitPath unicode;
    const SplitPath path = storedPath(entry, options, unicode);
    std::string name;
    std::string directoryField;
    if (options.pathInName) {
        name = replaceAll(path.folders + path.base, '/', options.nameSeparator);
    } else {
        name = path.base;
        directoryField = replaceAll(path.folders, '/', '\xFF');
    }
    // 230 is the most a level-1 header leaves for the name.
    if (name.size() > 230)
        return {{}, "name too long for a level-1 header: " + entry.name};

    const std::string ext = extensions(entry, options, directoryField, unicode);
    std::string h(2, '\0');
    h += method(entry, options);
    // The skip size covers the extensions after the base header as well.
    putU32(h, uint32_t(packedSize + ext.size()));
    putU32(h, uint32_t(entry.data.size()));
    putU32(h, dosDateTime(entry.mtime));
    // Levels 1 and 2 keep 0x20 here, which readers check; the attributes
    // themselves go in an extension.
    h.push_back(0x20);
    h.push_back(1); // level
    h.push_back(char(name.size()));
    h += name;
    putU16(h, dataCrc);
    h.push_back(options.os);
    // The base header ends with the size of the first extension, 0 when none.
    const std::size_t baseSize = h.size() + 2;
    h += ext;
    putU16(h, 0);
    h[0] = char(baseSize - 2);
    h[1] = char(headerSum(h.substr(0, baseSize)) + (badCheck ? 1 : 0));
    return {h, {}};
}

Header header2(const FixtureEntry &entry, const LzhOptions &options, std::size_t packedSize,
               uint16_t dataCrc, bool badCheck)
{
    SplitPath unicode;
    const SplitPath path = storedPath(entry, options, unicode);
    // Level 3 starts with the size of its size fields (4) where level 2
    // has the header size, which follows the fixed fields instead.
    const bool wide = options.level == 3;
    std::string h(2, '\0');
    if (wide)
        setU16(h, 0, 4);
    h += method(entry, options);
    putU32(h, uint32_t(packedSize));
    putU32(h, uint32_t(entry.data.size()));
    putU32(h, uint32_t(entry.mtime));
    h.push_back(0x20);
    h.push_back(char(options.level));
    putU16(h, dataCrc);
    h.push_back(options.os);
    const std::size_t sizeAt = h.size();
    if (wide)
        putU32(h, 0);

    const std::size_t headerCrcAt = h.size() + (wide ? 5 : 3);
    putExtension(h, 0x00, std::string(2, '\0'), options.level);
    if (entry.kind != FixtureEntry::Directory)
        putExtension(h, 0x01, path.base, options.level);
    h += extensions(entry, options, replaceAll(path.folders, '/', '\xFF'), unicode);
    if (wide) {
        putU32(h, 0);
        setU16(h, sizeAt, uint32_t(h.size()) & 0xFFFF);
        setU16(h, sizeAt + 2, uint32_t(h.size()) >> 16);
    } else {
        putU16(h, 0);
        // A header whose size has a zero low byte would read as the end marker.
        if ((h.size() & 0xFF) == 0)
            h.push_back(0);
        if (h.size() > 0xFFFF)
            return {{}, "header too long for level 2: " + entry.name};
        setU16(h, 0, uint32_t(h.size()));
    }
    setU16(h, headerCrcAt, lzhCrc16(h) ^ (badCheck ? 0x0001 : 0));
    return {h, {}};
}

} // namespace

uint16_t lzhCrc16(const std::string &bytes, uint16_t crc)
{
    static const std::array<uint16_t, 256> table = [] {
        std::array<uint16_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
            t[i] = uint16_t(c);
        }
        return t;
    }();
    for (unsigned char byte : bytes)
        crc = uint16_t(table[(crc ^ byte) & 0xFF] ^ (crc >> 8));
    return crc;
}

std::string makeLzh(const FixtureEntries &entries, const LzhOptions &options, std::string *error)
{
    auto fail = [error](const std::string &why) {
        if (error)
            *error = why;
        return std::string();
    };
    if (options.level < 0 || options.level > 3)
        return fail("LZH header level must be 0 to 3");
    if (options.os != 'M' && options.os != 'U')
        return fail("LZH OS id must be 'M' or 'U'");

    std::string archive;
    std::size_t lastDataStart = 0;
    std::size_t lastDataSize = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        FixtureEntry entry = entries[i];
        if (entry.kind == FixtureEntry::Symlink && options.os != 'U')
            return fail("only OS id 'U' stores symbolic links: " + entry.name);
        if (entry.kind != FixtureEntry::File)
            entry.data.clear();
        const std::string data = packed(entry.data, method(entry, options)).value_or(entry.data);
        uint16_t crc = lzhCrc16(entry.data);
        if (options.badDataCrcEntry == i)
            crc ^= 0x5555;
        const bool badCheck = options.badHeaderCheckEntry == i;
        Header header;
        switch (options.level) {
        case 0:
            header = header0(entry, options, data.size(), crc, badCheck);
            break;
        case 1:
            header = header1(entry, options, data.size(), crc, badCheck);
            break;
        default:
            header = header2(entry, options, data.size(), crc, badCheck);
            break;
        }
        if (!header.error.empty())
            return fail(header.error);
        archive += header.bytes;
        if (!data.empty()) {
            lastDataStart = archive.size();
            lastDataSize = data.size();
        }
        archive += data;
    }
    if (!options.omitEndMarker)
        archive.push_back(0);

    if (options.truncateInLastData) {
        if (lastDataSize == 0)
            return fail("no entry holds data to cut");
        archive.resize(lastDataStart + lastDataSize / 2);
    }
    if (options.truncateTo && *options.truncateTo < archive.size())
        archive.resize(*options.truncateTo);
    return archive;
}

bool writeLzh(const QString &path, const FixtureEntries &entries, const LzhOptions &options,
              std::string *error)
{
    return writeArchiveBytes(path, makeLzh(entries, options, error), error);
}

} // namespace tenvo::fixture

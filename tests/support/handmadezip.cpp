// Writes ZIP archives byte by byte: decompression bombs and overlapping entries.
#include "handmadezip.h"

#include <algorithm>
#include <array>
#include <vector>

namespace tenvo::fixture {

namespace {

constexpr uint32_t kCrcPolynomial = 0xEDB88320u;
constexpr uint64_t kFourGiB = uint64_t(1) << 32;
// 2021-06-15 12:00:00 as MS-DOS date and time.
constexpr uint16_t kDosDate = ((2021 - 1980) << 9) | (6 << 5) | 15;
constexpr uint16_t kDosTime = 12 << 11;

const std::array<uint32_t, 256> &crcTable()
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ kCrcPolynomial : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

// The CRC register (not inverted) after the bytes.
uint32_t crcFeed(uint32_t reg, const std::string &bytes)
{
    const auto &table = crcTable();
    for (unsigned char byte : bytes)
        reg = table[(reg ^ byte) & 0xFF] ^ (reg >> 8);
    return reg;
}

// One zero byte changes the CRC register linearly, so n of them are one
// 32x32 bit matrix (column i: the image of bit i), raised to the n-th power.
using BitMatrix = std::array<uint32_t, 32>;

uint32_t apply(const BitMatrix &m, uint32_t v)
{
    uint32_t out = 0;
    for (int i = 0; i < 32; ++i) {
        if ((v >> i) & 1)
            out ^= m[i];
    }
    return out;
}

BitMatrix compose(const BitMatrix &a, const BitMatrix &b)
{
    BitMatrix out{};
    for (int i = 0; i < 32; ++i)
        out[i] = apply(a, b[i]);
    return out;
}

uint32_t crcFeedZeros(uint32_t reg, uint64_t count)
{
    const auto &table = crcTable();
    BitMatrix power{};
    for (int i = 0; i < 32; ++i) {
        const uint32_t bit = uint32_t(1) << i;
        power[i] = table[bit & 0xFF] ^ (bit >> 8);
    }
    for (; count > 0; count >>= 1) {
        if (count & 1)
            reg = apply(power, reg);
        power = compose(power, power);
    }
    return reg;
}

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

// Deflate packs bits from the least significant end of each byte; Huffman
// codes go in from their most significant bit.
class BitWriter
{
public:
    void bits(uint32_t value, int count)
    {
        m_pending |= uint64_t(value) << m_count;
        m_count += count;
        while (m_count >= 8) {
            m_out.push_back(char(m_pending & 0xFF));
            m_pending >>= 8;
            m_count -= 8;
        }
    }

    void code(uint32_t code, int length)
    {
        uint32_t reversed = 0;
        for (int i = 0; i < length; ++i)
            reversed |= ((code >> i) & 1) << (length - 1 - i);
        bits(reversed, length);
    }

    std::string finish()
    {
        if (m_count > 0)
            m_out.push_back(char(m_pending & 0xFF));
        m_pending = 0;
        m_count = 0;
        return std::move(m_out);
    }

private:
    std::string m_out;
    uint64_t m_pending = 0;
    int m_count = 0;
};

struct ZipFile
{
    std::string name;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint64_t offset = 0;
};

std::string localHeader(const ZipFile &file)
{
    std::string h;
    putU32(h, 0x04034b50);
    putU16(h, 20); // version needed
    putU16(h, 0);  // flags
    putU16(h, 8);  // deflate
    putU16(h, kDosTime);
    putU16(h, kDosDate);
    putU32(h, file.crc);
    putU32(h, uint32_t(file.compressedSize));
    putU32(h, uint32_t(file.uncompressedSize));
    putU16(h, uint32_t(file.name.size()));
    putU16(h, 0); // extra field length
    return h + file.name;
}

std::string centralDirectory(const std::vector<ZipFile> &files, uint64_t directoryOffset)
{
    std::string directory;
    for (const ZipFile &file : files) {
        putU32(directory, 0x02014b50);
        putU16(directory, (3 << 8) | 20); // made by Unix
        putU16(directory, 20);
        putU16(directory, 0);
        putU16(directory, 8);
        putU16(directory, kDosTime);
        putU16(directory, kDosDate);
        putU32(directory, file.crc);
        putU32(directory, uint32_t(file.compressedSize));
        putU32(directory, uint32_t(file.uncompressedSize));
        putU16(directory, uint32_t(file.name.size()));
        putU16(directory, 0); // extra field length
        putU16(directory, 0); // comment length
        putU16(directory, 0); // disk
        putU16(directory, 0); // internal attributes
        putU32(directory, uint32_t(0100644) << 16);
        putU32(directory, uint32_t(file.offset));
        directory += file.name;
    }
    std::string end;
    putU32(end, 0x06054b50);
    putU16(end, 0);
    putU16(end, 0);
    putU16(end, uint32_t(files.size()));
    putU16(end, uint32_t(files.size()));
    putU32(end, uint32_t(directory.size()));
    putU32(end, uint32_t(directoryOffset));
    putU16(end, 0); // comment length
    return directory + end;
}

// A copy of length bytes (3 to 258) at distance 1, in fixed Huffman codes.
void putCopy(BitWriter &out, uint32_t length)
{
    // Length codes 257 to 284: the shortest length of each, and its extra bits.
    static const uint16_t base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23,
                                    27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227};
    static const uint8_t extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                    2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
    uint32_t symbol = 285;
    uint32_t index = 0;
    if (length < 258) {
        while (index + 1 < sizeof base / sizeof base[0] && base[index + 1] <= length)
            ++index;
        symbol = 257 + index;
    }
    if (symbol < 280)
        out.code(symbol - 256, 7);
    else
        out.code(0xC0 + (symbol - 280), 8);
    if (symbol < 285 && extra[index] > 0)
        out.bits(length - base[index], extra[index]);
    out.code(0, 5); // distance 1 (code 0)
}

} // namespace

std::string deflateZeros(uint64_t count)
{
    BitWriter out;
    out.bits(1, 1); // last block
    out.bits(1, 2); // fixed Huffman codes
    if (count > 0) {
        out.code(0x30, 8); // literal 0
        --count;
        for (; count >= 258; count -= 258)
            putCopy(out, 258);
        if (count >= 3)
            putCopy(out, uint32_t(count));
        else
            for (; count > 0; --count)
                out.code(0x30, 8);
    }
    out.code(0, 7); // end of block (code 256)
    return out.finish();
}

uint32_t crc32OfZeros(uint64_t count)
{
    return ~crcFeedZeros(0xFFFFFFFFu, count);
}

std::string makeDeflateBombZip(uint64_t zeros, uint64_t declaredSize, const std::string &name)
{
    if (zeros >= kFourGiB || declaredSize >= kFourGiB)
        return {};
    const std::string stream = deflateZeros(zeros);
    ZipFile file;
    file.name = name;
    file.crc = crc32OfZeros(zeros);
    file.compressedSize = stream.size();
    file.uncompressedSize = declaredSize;
    std::string zip = localHeader(file) + stream;
    return zip + centralDirectory({file}, zip.size());
}

std::string makeOverlappingZip(std::size_t entries, uint64_t zerosPerEntry)
{
    if (entries == 0 || entries > 0xFFFF)
        return {};
    const std::string kernel = deflateZeros(zerosPerEntry);
    std::vector<ZipFile> files(entries);
    std::vector<std::string> headers(entries);
    // From the last entry back: each one's data is a quote of the next
    // local header followed by the next entry's data.
    std::string quotedAfter; // the local headers after entry i, in order
    for (std::size_t i = entries; i-- > 0;) {
        ZipFile &file = files[i];
        file.name = std::to_string(i) + ".bin";
        if (i + 1 == entries) {
            file.compressedSize = kernel.size();
            file.uncompressedSize = zerosPerEntry;
        } else {
            file.compressedSize = 5 + headers[i + 1].size() + files[i + 1].compressedSize;
            file.uncompressedSize = headers[i + 1].size() + files[i + 1].uncompressedSize;
            quotedAfter.insert(0, headers[i + 1]);
        }
        if (file.compressedSize >= kFourGiB || file.uncompressedSize >= kFourGiB)
            return {};
        file.crc = ~crcFeedZeros(crcFeed(0xFFFFFFFFu, quotedAfter), zerosPerEntry);
        headers[i] = localHeader(file);
    }

    std::string zip;
    for (std::size_t i = 0; i < entries; ++i) {
        files[i].offset = zip.size();
        zip += headers[i];
        if (i + 1 < entries) {
            // A stored block that is not the last: header bits, then LEN and NLEN.
            const uint32_t length = uint32_t(headers[i + 1].size());
            zip.push_back('\0');
            putU16(zip, length);
            putU16(zip, ~length & 0xFFFF);
        }
    }
    zip += kernel;
    if (zip.size() >= kFourGiB)
        return {};
    return zip + centralDirectory(files, zip.size());
}

} // namespace tenvo::fixture

namespace tenvo::fixture {

namespace {

uint32_t getU16(const std::string &b, std::size_t at)
{
    return uint32_t(uint8_t(b[at])) | (uint32_t(uint8_t(b[at + 1])) << 8);
}

uint32_t getU32(const std::string &b, std::size_t at) { return getU16(b, at) | (getU16(b, at + 2) << 16); }

void setU16(std::string &b, std::size_t at, uint32_t value)
{
    b[at] = char(value & 0xFF);
    b[at + 1] = char((value >> 8) & 0xFF);
}

void setU32(std::string &b, std::size_t at, uint32_t value)
{
    setU16(b, at, value & 0xFFFF);
    setU16(b, at + 2, value >> 16);
}

} // namespace

std::string padZip(const std::string &zip, const ZipPadding &padding)
{
    const std::size_t eocd = zip.rfind("PK\5\6");
    if (eocd == std::string::npos || eocd + 22 > zip.size())
        return {};
    const std::size_t directorySize = getU32(zip, eocd + 12);
    const std::size_t directoryOffset = getU32(zip, eocd + 16);
    if (directoryOffset + directorySize > eocd)
        return {};
    // Each entry's span runs from its local header to the next one (or the
    // directory), data descriptor included.
    std::vector<std::pair<std::size_t, std::string>> records; // local offset, central record
    for (std::size_t at = directoryOffset; at < directoryOffset + directorySize;) {
        if (at + 46 > zip.size() || zip.compare(at, 4, "PK\1\2") != 0)
            return {};
        const std::size_t recordSize = 46 + getU16(zip, at + 28) + getU16(zip, at + 30) + getU16(zip, at + 32);
        records.emplace_back(getU32(zip, at + 42), zip.substr(at, recordSize));
        at += recordSize;
    }
    std::vector<std::size_t> starts;
    for (const auto &record : records)
        starts.push_back(record.first);
    std::sort(starts.begin(), starts.end());
    std::string out;
    std::string directory;
    for (auto &[local, record] : records) {
        const auto next = std::upper_bound(starts.begin(), starts.end(), local);
        const std::size_t spanEnd = next == starts.end() ? directoryOffset : *next;
        if (local + 30 > spanEnd || zip.compare(local, 4, "PK\3\4") != 0)
            return {};
        const std::size_t headerSize = 30 + getU16(zip, local + 26) + getU16(zip, local + 28);
        std::string header = zip.substr(local, headerSize);
        header.append(padding.extraPadding, padding.extraByte);
        header += padding.extraBlocks;
        setU16(header, 28, uint32_t(getU16(zip, local + 28) + padding.extraPadding + padding.extraBlocks.size()));
        const std::size_t centralExtra = getU16(record, 30);
        record.insert(46 + getU16(record, 28) + centralExtra, padding.extraBlocks);
        setU16(record, 30, uint32_t(centralExtra + padding.extraBlocks.size()));
        setU32(record, 42, uint32_t(out.size()));
        out += header;
        out += zip.substr(local + headerSize, spanEnd - local - headerSize);
        out.append(padding.between, '\0');
        directory += record;
    }
    std::string end = zip.substr(eocd, 22);
    setU32(end, 12, uint32_t(directory.size()));
    setU32(end, 16, uint32_t(out.size()));
    out += directory;
    out += end;
    out.append(padding.after, '\0');
    return out;
}

} // namespace tenvo::fixture

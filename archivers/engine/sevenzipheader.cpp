// Reads a 7z archive's headers far enough to take the encryption out of
// them, and writes the unencrypted header libarchive is then given.
#include "sevenzipheader.h"

#include "decoderutil.h"
#include "namecodec.h"
#include "sevenzipcrypt.h"

#include <archive.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace tenvo::engine {

namespace {

enum : unsigned char {
    kEnd = 0x00,
    kHeader = 0x01,
    kArchiveProperties = 0x02,
    kAdditionalStreamsInfo = 0x03,
    kMainStreamsInfo = 0x04,
    kPackInfo = 0x06,
    kUnpackInfo = 0x07,
    kSubStreamsInfo = 0x08,
    kSize = 0x09,
    kCrc = 0x0A,
    kFolder = 0x0B,
    kCodersUnpackSize = 0x0C,
    kNumUnpackStream = 0x0D,
    kFilesInfo = 0x05,
    kEmptyStream = 0x0E,
    kEmptyFile = 0x0F,
    kAnti = 0x10,
    kName = 0x11,
    kMTime = 0x14,
    kWinAttributes = 0x15,
    kEncodedHeader = 0x17,
};

constexpr char kSignature[] = "7z\xBC\xAF\x27\x1C";
constexpr char kLzmaId[] = "\x03\x01\x01";
// A decoded header larger than this is taken for a hostile one.
constexpr uint64_t kMaxHeaderSize = uint64_t(1) << 30;
// Coders and streams of one folder: 7-Zip writes at most four.
constexpr uint64_t kMaxFolderStreams = 32;

// What a malformed header throws inside this file; never leaves it.
struct Malformed {
    const char *what;
};
// An encrypted header that does not decode: the password is wrong.
struct WrongKey {
};

class Cursor {
public:
    Cursor(const std::string &bytes, std::size_t at = 0)
        : m_bytes(bytes)
        , m_at(at)
    {
    }
    std::size_t position() const { return m_at; }
    std::size_t left() const { return m_bytes.size() - m_at; }
    unsigned char byte()
    {
        if (m_at >= m_bytes.size())
            throw Malformed{"the archive's header ends early"};
        return static_cast<unsigned char>(m_bytes[m_at++]);
    }
    uint64_t number()
    {
        const unsigned char first = byte();
        unsigned char mask = 0x80;
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            if ((first & mask) == 0)
                return value + (uint64_t(first & (mask - 1)) << (8 * i));
            value |= uint64_t(byte()) << (8 * i);
            mask >>= 1;
        }
        return value;
    }
    // A count of things each at least minimum bytes long still to come.
    uint64_t count(std::size_t minimum = 1)
    {
        const uint64_t n = number();
        if (n > left() / std::max<std::size_t>(minimum, 1) + 1)
            throw Malformed{"the archive's header counts more than it holds"};
        return n;
    }
    std::string bytes(uint64_t size)
    {
        if (size > left())
            throw Malformed{"the archive's header ends early"};
        std::string out = m_bytes.substr(m_at, size);
        m_at += size;
        return out;
    }
    uint32_t le32()
    {
        const std::string four = bytes(4);
        return tenvo::engine::le32(reinterpret_cast<const unsigned char *>(four.data()));
    }
    std::string bytesBetween(std::size_t from, std::size_t to) const
    {
        return m_bytes.substr(from, to - from);
    }
    void expect(unsigned char id)
    {
        if (byte() != id)
            throw Malformed{"the archive's header is not as expected"};
    }

private:
    const std::string &m_bytes;
    std::size_t m_at;
};

void putNumber(std::string &out, uint64_t value)
{
    int extra = 0;
    while (extra < 8 && value >= (uint64_t(1) << (7 * (extra + 1))))
        ++extra;
    const auto first = static_cast<unsigned char>((0xFF00 >> extra) & 0xFF);
    out += static_cast<char>(extra == 8 ? 0xFF : first | (value >> (8 * extra)));
    for (int i = 0; i < extra; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void putLe32(std::string &out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A set of digests: which items have one, and the digests themselves.
std::vector<std::pair<bool, uint32_t>> readDigests(Cursor &in, uint64_t items)
{
    if (items > in.left() * 8 + 8)
        throw Malformed{"the archive's header counts more than it holds"};
    std::vector<std::pair<bool, uint32_t>> digests(items, {true, 0});
    if (in.byte() == 0) {
        unsigned char bits = 0;
        for (uint64_t i = 0; i < items; ++i) {
            if (i % 8 == 0)
                bits = in.byte();
            digests[i].first = (bits & (0x80 >> (i % 8))) != 0;
        }
    }
    for (auto &digest : digests) {
        if (digest.first)
            digest.second = in.le32();
    }
    return digests;
}

SevenZipFolder readFolder(Cursor &in)
{
    SevenZipFolder folder;
    const uint64_t coders = in.count(2);
    if (coders == 0 || coders > kMaxFolderStreams)
        throw Malformed{"a folder of the archive has too many coders"};
    uint64_t inTotal = 0;
    uint64_t outTotal = 0;
    for (uint64_t i = 0; i < coders; ++i) {
        const unsigned char flags = in.byte();
        if (flags & 0x80)
            throw Malformed{"the archive uses alternative coders"};
        SevenZipCoder coder;
        coder.id = in.bytes(flags & 0x0F);
        if (flags & 0x10) {
            coder.inStreams = in.number();
            coder.outStreams = in.number();
        }
        if (flags & 0x20)
            coder.properties = in.bytes(in.count());
        inTotal += coder.inStreams;
        outTotal += coder.outStreams;
        if (coder.inStreams > kMaxFolderStreams || coder.outStreams > kMaxFolderStreams
            || inTotal > kMaxFolderStreams || outTotal > kMaxFolderStreams)
            throw Malformed{"a folder of the archive has too many streams"};
        folder.coders.push_back(std::move(coder));
    }
    if (outTotal == 0 || inTotal < outTotal - 1)
        throw Malformed{"a folder of the archive is not bound together"};
    for (uint64_t i = 0; i + 1 < outTotal; ++i) {
        const uint64_t inIndex = in.number();
        const uint64_t outIndex = in.number();
        if (inIndex >= inTotal || outIndex >= outTotal)
            throw Malformed{"a folder of the archive is not bound together"};
        folder.bindPairs.emplace_back(inIndex, outIndex);
    }
    const uint64_t packed = inTotal - (outTotal - 1);
    if (packed == 1) {
        for (uint64_t i = 0; i < inTotal; ++i) {
            if (std::none_of(folder.bindPairs.begin(), folder.bindPairs.end(),
                             [i](const auto &pair) { return pair.first == i; })) {
                folder.packedStreams.push_back(i);
                break;
            }
        }
        if (folder.packedStreams.empty())
            throw Malformed{"a folder of the archive is not bound together"};
    } else {
        for (uint64_t i = 0; i < packed; ++i) {
            const uint64_t index = in.number();
            if (index >= inTotal)
                throw Malformed{"a folder of the archive is not bound together"};
            folder.packedStreams.push_back(index);
        }
    }
    return folder;
}

void readStreams(Cursor &in, SevenZipStreams &streams)
{
    unsigned char id = in.byte();
    if (id == kPackInfo) {
        streams.packPos = in.number();
        const uint64_t count = in.count();
        streams.packSizes.assign(count, 0);
        for (id = in.byte(); id != kEnd; id = in.byte()) {
            if (id == kSize) {
                for (uint64_t &size : streams.packSizes)
                    size = in.number();
            } else if (id == kCrc) {
                readDigests(in, count);
            } else {
                throw Malformed{"the archive's header is not as expected"};
            }
        }
        id = in.byte();
    }
    if (id == kUnpackInfo) {
        in.expect(kFolder);
        const uint64_t count = in.count(2);
        if (in.byte() != 0)
            throw Malformed{"the archive keeps its folders apart"};
        for (uint64_t i = 0; i < count; ++i)
            streams.folders.push_back(readFolder(in));
        in.expect(kCodersUnpackSize);
        for (SevenZipFolder &folder : streams.folders) {
            folder.unpackSizes.resize(folder.outStreamCount());
            for (uint64_t &size : folder.unpackSizes)
                size = in.number();
        }
        for (id = in.byte(); id != kEnd; id = in.byte()) {
            if (id != kCrc)
                throw Malformed{"the archive's header is not as expected"};
            const auto digests = readDigests(in, count);
            for (std::size_t i = 0; i < digests.size(); ++i) {
                streams.folders[i].hasCrc = digests[i].first;
                streams.folders[i].crc = digests[i].second;
            }
        }
        id = in.byte();
    }
    streams.unpackStreams.assign(streams.folders.size(), 1);
    if (id == kSubStreamsInfo) {
        const std::size_t start = in.position() - 1;
        id = in.byte();
        if (id == kNumUnpackStream) {
            for (uint64_t &count : streams.unpackStreams)
                count = in.number();
            id = in.byte();
        }
        uint64_t total = 0;
        for (uint64_t count : streams.unpackStreams) {
            total += count;
            if (count > in.left() * 8 + streams.folders.size() || total > in.left() * 8 + streams.folders.size())
                throw Malformed{"the archive's header counts more than it holds"};
        }
        const bool sized = id == kSize;
        for (std::size_t f = 0; f < streams.folders.size(); ++f) {
            const uint64_t count = streams.unpackStreams[f];
            uint64_t left = streams.folders[f].unpackSize();
            for (uint64_t i = 0; i < count; ++i) {
                const uint64_t size = i + 1 == count ? left : sized ? in.number() : 0;
                if (size > left)
                    throw Malformed{"the archive's files are larger than their folder"};
                left -= size;
                streams.streamSizes.push_back(size);
            }
        }
        if (sized)
            id = in.byte();
        for (; id != kEnd; id = in.byte()) {
            if (id != kCrc)
                throw Malformed{"the archive's header is not as expected"};
            uint64_t digests = 0;
            for (std::size_t i = 0; i < streams.folders.size(); ++i) {
                if (streams.unpackStreams[i] != 1 || !streams.folders[i].hasCrc)
                    digests += streams.unpackStreams[i];
            }
            const auto read = readDigests(in, digests);
            std::size_t next = 0;
            for (std::size_t i = 0; i < streams.folders.size(); ++i) {
                for (uint64_t k = 0; k < streams.unpackStreams[i]; ++k) {
                    if (streams.unpackStreams[i] == 1 && streams.folders[i].hasCrc)
                        streams.streamCrcs.emplace_back(true, streams.folders[i].crc);
                    else
                        streams.streamCrcs.push_back(read[next++]);
                }
            }
        }
        streams.subStreams = in.bytesBetween(start, in.position());
        id = in.byte();
    } else {
        for (const SevenZipFolder &folder : streams.folders)
            streams.streamSizes.push_back(folder.unpackSize());
    }
    if (streams.streamCrcs.empty()) {
        for (std::size_t i = 0; i < streams.folders.size(); ++i) {
            for (uint64_t k = 0; k < streams.unpackStreams[i]; ++k)
                streams.streamCrcs.emplace_back(streams.unpackStreams[i] == 1 && streams.folders[i].hasCrc,
                                                streams.folders[i].crc);
        }
    }
    if (id != kEnd)
        throw Malformed{"the archive's header is not as expected"};

    // Each folder takes its pack streams in order.
    std::size_t next = 0;
    for (const SevenZipFolder &folder : streams.folders) {
        streams.firstPackStream.push_back(next);
        next += folder.packedStreams.size();
    }
    if (next > streams.packSizes.size())
        throw Malformed{"the archive's folders need more data than it holds"};
}

} // namespace

uint64_t SevenZipFolder::inStreamCount() const
{
    uint64_t total = 0;
    for (const SevenZipCoder &coder : coders)
        total += coder.inStreams;
    return total;
}

uint64_t SevenZipFolder::outStreamCount() const
{
    uint64_t total = 0;
    for (const SevenZipCoder &coder : coders)
        total += coder.outStreams;
    return total;
}

uint64_t SevenZipFolder::mainOutStream() const
{
    const uint64_t total = outStreamCount();
    for (uint64_t i = 0; i < total; ++i) {
        if (std::none_of(bindPairs.begin(), bindPairs.end(),
                         [i](const auto &pair) { return pair.second == i; }))
            return i;
    }
    return 0;
}

bool hasEncryptedFolder(const SevenZipStreams &streams)
{
    for (const SevenZipFolder &folder : streams.folders) {
        for (const SevenZipCoder &coder : folder.coders) {
            if (coder.id == std::string(kSevenZipAesId, 4))
                return true;
        }
    }
    return false;
}

namespace {

struct ReadFree {
    void operator()(archive *a) const { archive_read_free(a); }
};

// Raw LZMA data with its five property bytes, decoded through libarchive as
// an ".lzma" file made up around it. False when it does not decode to
// exactly size bytes.
bool decodeLzma(const std::string &properties, const std::string &packed, uint64_t size,
                std::string &out)
{
    if (properties.size() != 5 || size > kMaxHeaderSize)
        return false;
    // libarchive recognizes the file only by a dictionary of a power of
    // two; one as large as the output decodes any stream.
    uint32_t dictionary = 4096;
    const uint32_t stored = le32(reinterpret_cast<const unsigned char *>(properties.data() + 1));
    while (dictionary < std::min<uint64_t>(std::max<uint64_t>(stored, 1), std::max<uint64_t>(size, 1))
           && dictionary < 0x08000000)
        dictionary <<= 1;
    std::string file;
    file.reserve(13 + packed.size());
    file += properties[0];
    putLe32(file, dictionary);
    for (int i = 0; i < 8; ++i)
        file += static_cast<char>((size >> (8 * i)) & 0xFF);
    file += packed;

    std::unique_ptr<archive, ReadFree> reader(archive_read_new());
    if (!reader)
        return false;
    archive_read_support_filter_lzma(reader.get());
    archive_read_support_format_raw(reader.get());
    archive_entry *entry = nullptr;
    if (archive_read_open_memory(reader.get(), file.data(), file.size()) != ARCHIVE_OK
        || archive_read_next_header(reader.get(), &entry) != ARCHIVE_OK
        || archive_filter_code(reader.get(), 0) != ARCHIVE_FILTER_LZMA)
        return false;
    out.clear();
    char block[64 * 1024];
    for (;;) {
        const la_ssize_t n = archive_read_data(reader.get(), block, sizeof block);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (out.size() + std::size_t(n) > size)
            return false;
        out.append(block, std::size_t(n));
    }
    return out.size() == size;
}

// The one folder of an encoded header, decoded: a chain of coders from its
// pack stream to its output, each AES, LZMA or a plain copy.
std::string decodeHeaderFolder(FileReader &file, const SevenZipStreams &streams,
                               const std::string *password, bool &encrypted)
{
    if (streams.folders.size() != 1 || streams.packSizes.empty())
        throw Malformed{"the archive's encoded header is not as expected"};
    const SevenZipFolder &folder = streams.folders.front();
    if (folder.packedStreams.size() != 1)
        throw Malformed{"the archive's encoded header is not as expected"};
    const uint64_t packSize = streams.packSizes.front();
    const uint64_t at = 32 + streams.packPos;
    if (streams.packPos > file.size() || packSize > file.size() || at + packSize > file.size())
        throw Malformed{"the archive is truncated"};
    std::string data(packSize, '\0');
    if (!file.readAt(at, data.data(), data.size()))
        throw Malformed{"the archive cannot be read"};

    const std::string aesId(kSevenZipAesId, 4);
    uint64_t stream = folder.packedStreams.front();
    for (std::size_t step = 0; step <= folder.coders.size(); ++step) {
        // The coder whose in stream this is.
        std::size_t index = 0;
        uint64_t firstIn = 0;
        uint64_t firstOut = 0;
        for (; index < folder.coders.size(); ++index) {
            if (stream < firstIn + folder.coders[index].inStreams)
                break;
            firstIn += folder.coders[index].inStreams;
            firstOut += folder.coders[index].outStreams;
        }
        if (index == folder.coders.size())
            throw Malformed{"the archive's encoded header is not as expected"};
        const SevenZipCoder &coder = folder.coders[index];
        if (coder.inStreams != 1 || coder.outStreams != 1)
            throw Malformed{"the archive's header is packed with a method not read here"};
        const uint64_t size = folder.unpackSizes[firstOut];
        if (coder.id == aesId) {
            encrypted = true;
            if (!password)
                throw WrongKey{};
            SevenZipAesProperties properties;
            SevenZipKey key;
            if (!properties.parse(coder.properties) || data.size() % 16 != 0 || size > data.size())
                throw Malformed{"the archive's encryption is not as expected"};
            if (!key.derive(*password, properties.salt, properties.cyclesPower))
                throw WrongKey{};
            AesCbcDecryptor(key, properties.iv)
                .decrypt(reinterpret_cast<unsigned char *>(data.data()), data.size(), nullptr);
            data.resize(size);
        } else if (coder.id == std::string(kLzmaId, 3)) {
            std::string out;
            if (!decodeLzma(coder.properties, data, size, out)) {
                if (encrypted)
                    throw WrongKey{};
                throw Malformed{"the archive's header does not decode"};
            }
            data.swap(out);
        } else if (coder.id != std::string(1, '\0')) {
            throw Malformed{"the archive's header is packed with a method not read here"};
        } else if (size != data.size()) {
            throw Malformed{"the archive's header is not as expected"};
        }
        if (firstOut == folder.mainOutStream()) {
            if (folder.hasCrc && crc32Update(0, data.data(), data.size()) != folder.crc) {
                if (encrypted)
                    throw WrongKey{};
                throw Malformed{"the archive's header fails its CRC check"};
            }
            return data;
        }
        const auto pair = std::find_if(folder.bindPairs.begin(), folder.bindPairs.end(),
                                       [&](const auto &p) { return p.second == firstOut; });
        if (pair == folder.bindPairs.end())
            throw Malformed{"the archive's encoded header is not as expected"};
        stream = pair->first;
    }
    throw Malformed{"the archive's encoded header is not as expected"};
}

} // namespace

namespace {

std::vector<bool> readBits(Cursor &in, std::size_t items)
{
    std::vector<bool> bits(items);
    unsigned char byte = 0;
    for (std::size_t i = 0; i < items; ++i) {
        if (i % 8 == 0)
            byte = in.byte();
        bits[i] = (byte & (0x80 >> (i % 8))) != 0;
    }
    return bits;
}

// Which items a property gives a value: all, or those of a bit vector.
std::vector<bool> readDefined(Cursor &in, std::size_t items)
{
    if (in.byte() != 0)
        return std::vector<bool>(items, true);
    return readBits(in, items);
}

} // namespace

bool readSevenZipFiles(const SevenZipHeaders &headers, std::vector<SevenZipFile> &files)
{
    files.clear();
    try {
        Cursor in(headers.tail);
        unsigned char id = in.byte();
        if (id == kEnd)
            return true;
        if (id != kFilesInfo)
            return false;
        files.resize(in.count());
        std::vector<bool> emptyFile;
        std::vector<bool> anti;
        std::size_t empties = 0;
        for (unsigned char type = in.byte(); type != kEnd; type = in.byte()) {
            const std::string data = in.bytes(in.count());
            Cursor property(data);
            switch (type) {
            case kEmptyStream: {
                const std::vector<bool> empty = readBits(property, files.size());
                empties = 0;
                for (std::size_t i = 0; i < files.size(); ++i) {
                    files[i].hasStream = !empty[i];
                    empties += empty[i];
                }
                break;
            }
            case kEmptyFile:
                emptyFile = readBits(property, empties);
                break;
            case kAnti:
                anti = readBits(property, empties);
                break;
            case kName:
                if (property.byte() != 0)
                    return false;
                for (SevenZipFile &file : files) {
                    for (;;) {
                        char32_t unit = property.byte();
                        unit |= char32_t(property.byte()) << 8;
                        if (unit == 0)
                            break;
                        if (unit >= 0xD800 && unit < 0xDC00 && property.left() >= 2) {
                            char32_t low = property.byte();
                            low |= char32_t(property.byte()) << 8;
                            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                        }
                        appendUtf8(file.name, unit);
                    }
                }
                break;
            case kMTime:
            case kWinAttributes: {
                const std::vector<bool> defined = readDefined(property, files.size());
                if (property.byte() != 0)
                    return false;
                for (std::size_t i = 0; i < files.size(); ++i) {
                    if (!defined[i])
                        continue;
                    if (type == kWinAttributes) {
                        files[i].hasAttributes = true;
                        files[i].attributes = property.le32();
                    } else {
                        const uint64_t low = property.le32();
                        const uint64_t ticks = low | (uint64_t(property.le32()) << 32);
                        // 100 ns steps since 1601.
                        files[i].mtime = int64_t(ticks / 10000000) - 11644473600LL;
                    }
                }
                break;
            }
            default:
                break;
            }
        }
        std::size_t empty = 0;
        for (SevenZipFile &file : files) {
            if (file.hasStream)
                continue;
            const bool isFile = empty < emptyFile.size() && emptyFile[empty];
            file.isAnti = empty < anti.size() && anti[empty];
            file.isDirectory = !isFile;
            ++empty;
        }
        for (SevenZipFile &file : files) {
            if (file.hasAttributes && (file.attributes & 0x10))
                file.isDirectory = true;
        }
        return true;
    } catch (const Malformed &) {
        return false;
    }
}

TenvoResult readSevenZipHeaders(FileReader &file, const std::string *password,
                                SevenZipHeaders &headers, std::string &message)
{
    headers = SevenZipHeaders();
    headers.fileSize = file.size();
    unsigned char start[32];
    if (!file.readAt(0, start, sizeof start) || std::memcmp(start, kSignature, 6) != 0) {
        message = "not a 7z archive";
        return TENVO_ERR_FORMAT;
    }
    const uint64_t offset = le64(start + 12);
    const uint64_t size = le64(start + 20);
    if (crc32Update(0, start + 12, 20) != le32(start + 8) || offset > file.size()
        || size > file.size() || 32 + offset + size > file.size()) {
        message = "the archive's signature header is damaged or the archive is truncated";
        return TENVO_ERR_DAMAGED;
    }
    std::string header(size, '\0');
    if (!file.readAt(32 + offset, header.data(), header.size())
        || crc32Update(0, header.data(), header.size()) != le32(start + 28)) {
        message = "the archive's header fails its CRC check";
        return TENVO_ERR_DAMAGED;
    }
    try {
        // An encoded header holds the header; 7-Zip encodes it once.
        for (int round = 0; round < 4 && !header.empty() && header[0] == char(kEncodedHeader); ++round) {
            Cursor in(header, 1);
            SevenZipStreams streams;
            readStreams(in, streams);
            headers.headerEncoded = true;
            header = decodeHeaderFolder(file, streams, password, headers.headerEncrypted);
        }
        Cursor in(header);
        in.expect(kHeader);
        unsigned char id = in.byte();
        if (id == kArchiveProperties) {
            const std::size_t from = in.position() - 1;
            while (in.byte() != 0)
                in.bytes(in.count());
            headers.archiveProperties = in.bytesBetween(from, in.position());
            id = in.byte();
        }
        if (id == kAdditionalStreamsInfo)
            throw Malformed{"the archive keeps additional streams, not read here"};
        if (id == kMainStreamsInfo) {
            readStreams(in, headers.main);
            headers.hasMainStreams = true;
            id = in.byte();
        }
        headers.tail = in.bytesBetween(in.position() - 1, header.size());
    } catch (const Malformed &malformed) {
        message = malformed.what;
        return TENVO_ERR_DAMAGED;
    } catch (const WrongKey &) {
        message = password ? "the password does not open the archive"
                           : "the archive is password-protected";
        return TENVO_ERR_ENCRYPTED;
    }
    return TENVO_OK;
}

namespace {

// Takes coder index out of the folder: the stream it fed (the folder's
// output, when it fed none) is fed by what fed it. False when the coder
// is no 1-to-1 coder fed by a pack stream or another coder's output.
bool dropCoder(SevenZipFolder &folder, std::size_t index)
{
    const SevenZipCoder &coder = folder.coders[index];
    if (coder.inStreams != 1 || coder.outStreams != 1)
        return false;
    uint64_t in = 0;
    uint64_t out = 0;
    for (std::size_t k = 0; k < index; ++k) {
        in += folder.coders[k].inStreams;
        out += folder.coders[k].outStreams;
    }
    const auto feeds = std::find_if(folder.bindPairs.begin(), folder.bindPairs.end(),
                                    [&](const auto &p) { return p.second == out; });
    const auto fedBy = std::find_if(folder.bindPairs.begin(), folder.bindPairs.end(),
                                    [&](const auto &p) { return p.first == in; });
    const auto packed = std::find(folder.packedStreams.begin(), folder.packedStreams.end(), in);
    if (feeds != folder.bindPairs.end() && packed != folder.packedStreams.end()) {
        // Fed by a pack stream, feeding another coder: that coder takes the
        // pack stream.
        *packed = feeds->first;
        folder.bindPairs.erase(feeds);
    } else if (feeds == folder.bindPairs.end() && fedBy != folder.bindPairs.end()) {
        // The folder's output, fed by another coder: that coder's output
        // is the folder's now.
        folder.bindPairs.erase(fedBy);
    } else if (feeds == folder.bindPairs.end() && packed != folder.packedStreams.end()) {
        // Alone between its pack stream and the output: a plain copy.
        folder.coders[index] = SevenZipCoder{std::string(1, '\0'), 1, 1, {}};
        return true;
    } else {
        return false;
    }
    folder.unpackSizes.erase(folder.unpackSizes.begin() + std::ptrdiff_t(out));
    folder.coders.erase(folder.coders.begin() + std::ptrdiff_t(index));
    auto shiftIn = [in](uint64_t &i) { if (i > in) --i; };
    auto shiftOut = [out](uint64_t &o) { if (o > out) --o; };
    for (auto &[i, o] : folder.bindPairs) {
        shiftIn(i);
        shiftOut(o);
    }
    for (uint64_t &p : folder.packedStreams)
        shiftIn(p);
    return true;
}

} // namespace

bool plainSevenZipFolder(SevenZipFolder &folder, bool dropLastCoder)
{
    const std::string aesId(kSevenZipAesId, 4);
    if (dropLastCoder) {
        // The coder whose output is the folder's.
        const uint64_t main = folder.mainOutStream();
        uint64_t out = 0;
        std::size_t index = 0;
        for (; index < folder.coders.size(); ++index) {
            if (main >= out && main < out + folder.coders[index].outStreams)
                break;
            out += folder.coders[index].outStreams;
        }
        if (index == folder.coders.size() || !dropCoder(folder, index))
            return false;
        folder.hasCrc = false;
    }
    for (std::size_t index = 0; index < folder.coders.size();) {
        if (folder.coders[index].id != aesId) {
            ++index;
            continue;
        }
        const std::size_t before = folder.coders.size();
        if (!dropCoder(folder, index))
            return false;
        if (folder.coders.size() == before)
            ++index;
    }
    return true;
}

std::string writeSevenZipHeader(const SevenZipHeaders &headers,
                                const std::vector<uint64_t> &servedSizes,
                                const SevenZipRewrite &rewrite)
{
    std::string out;
    out += char(kHeader);
    out += headers.archiveProperties;
    if (headers.hasMainStreams) {
        const SevenZipStreams &streams = headers.main;
        std::vector<SevenZipFolder> folders = streams.folders;
        for (std::size_t f = 0; f < folders.size(); ++f) {
            const bool drop = f < rewrite.dropLastCoder.size() && rewrite.dropLastCoder[f];
            plainSevenZipFolder(folders[f], drop);
            // A copy gives what its pack stream holds as served.
            uint64_t in = 0;
            uint64_t out = 0;
            for (const SevenZipCoder &coder : folders[f].coders) {
                const auto packed = std::find(folders[f].packedStreams.begin(), folders[f].packedStreams.end(), in);
                const std::size_t stream = streams.firstPackStream[f]
                    + std::size_t(packed - folders[f].packedStreams.begin());
                if (coder.id == std::string(1, '\0') && packed != folders[f].packedStreams.end()
                    && stream < servedSizes.size())
                    folders[f].unpackSizes[out] = servedSizes[stream];
                in += coder.inStreams;
                out += coder.outStreams;
            }
        }
        out += char(kMainStreamsInfo);
        if (!servedSizes.empty()) {
            out += char(kPackInfo);
            putNumber(out, 0);
            putNumber(out, servedSizes.size());
            out += char(kSize);
            for (uint64_t size : servedSizes)
                putNumber(out, size);
            out += char(kEnd);
        }
        if (!folders.empty()) {
            out += char(kUnpackInfo);
            out += char(kFolder);
            putNumber(out, folders.size());
            out += char(0);
            for (const SevenZipFolder &folder : folders) {
                putNumber(out, folder.coders.size());
                for (const SevenZipCoder &coder : folder.coders) {
                    const bool complex = coder.inStreams != 1 || coder.outStreams != 1;
                    out += static_cast<char>(coder.id.size() | (complex ? 0x10 : 0)
                                             | (coder.properties.empty() ? 0 : 0x20));
                    out += coder.id;
                    if (complex) {
                        putNumber(out, coder.inStreams);
                        putNumber(out, coder.outStreams);
                    }
                    if (!coder.properties.empty()) {
                        putNumber(out, coder.properties.size());
                        out += coder.properties;
                    }
                }
                for (const auto &[i, o] : folder.bindPairs) {
                    putNumber(out, i);
                    putNumber(out, o);
                }
                if (folder.packedStreams.size() > 1) {
                    for (uint64_t packed : folder.packedStreams)
                        putNumber(out, packed);
                }
            }
            out += char(kCodersUnpackSize);
            for (const SevenZipFolder &folder : folders) {
                for (uint64_t size : folder.unpackSizes)
                    putNumber(out, size);
            }
            if (std::any_of(folders.begin(), folders.end(), [](const SevenZipFolder &f) { return f.hasCrc; })) {
                out += char(kCrc);
                out += char(0);
                std::string bits((folders.size() + 7) / 8, '\0');
                std::string digests;
                for (std::size_t i = 0; i < folders.size(); ++i) {
                    if (folders[i].hasCrc) {
                        bits[i / 8] = static_cast<char>(bits[i / 8] | (0x80 >> (i % 8)));
                        putLe32(digests, folders[i].crc);
                    }
                }
                out += bits;
                out += digests;
            }
            out += char(kEnd);
        }
        // libarchive counts the files of the folders only from this.
        if (!rewrite.folderFiles)
            out += streams.subStreams;
        else if (!folders.empty())
            out += std::string{char(kSubStreamsInfo), char(kEnd)};
        out += char(kEnd);
    }
    if (!rewrite.folderFiles) {
        out += headers.tail;
        return out;
    }
    // One file per folder, named by its number.
    out += char(kFilesInfo);
    putNumber(out, headers.main.folders.size());
    std::string names(1, '\0');
    for (std::size_t f = 0; f < headers.main.folders.size(); ++f) {
        for (char c : std::to_string(f)) {
            names += c;
            names += '\0';
        }
        names += std::string(2, '\0');
    }
    out += char(kName);
    putNumber(out, names.size());
    out += names;
    out += char(kEnd);
    out += char(kEnd);
    return out;
}

std::string sevenZipSignatureHeader(uint64_t headerOffset, const std::string &header)
{
    std::string start(kSignature, 6);
    start += char(0);
    start += char(4);
    std::string fields;
    for (int i = 0; i < 8; ++i)
        fields += static_cast<char>((headerOffset >> (8 * i)) & 0xFF);
    for (int i = 0; i < 8; ++i)
        fields += static_cast<char>((uint64_t(header.size()) >> (8 * i)) & 0xFF);
    putLe32(fields, crc32Update(0, header.data(), header.size()));
    putLe32(start, crc32Update(0, fields.data(), fields.size()));
    return start + fields;
}

} // namespace tenvo::engine

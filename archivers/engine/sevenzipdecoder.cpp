// 7z archives whose folders or header are encrypted, or whose folders end in
// a filter libarchive lacks: libarchive is given the same archive with the
// encryption (and those filters) taken out, its pack streams decrypted as
// it reads them, so no decrypted copy is ever kept on disk or whole in
// memory; the filters are undone here over each folder's output, which is
// then cut into the archive's files.
#include "decoders.h"

#include "decoderutil.h"
#include "libarchivedecoder.h"
#include "lzmadecoder.h"
#include "sevenzipcrypt.h"
#include "sevenzipfilter.h"
#include "sevenzipheader.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <sched.h>
#include <sys/stat.h>
#include <thread>

#include <unarr.h>

namespace tenvo::engine {

namespace {

constexpr std::size_t kBlock = 256 * 1024;
// How much of a file packed with LZMA or LZMA2 is decoded to try a password.
constexpr uint64_t kLzmaCheckBytes = 4 * 1024 * 1024;

std::atomic<bool> lzmaDecoding{true};
// A folder smaller than this is not worth a thread of its own.
constexpr uint64_t kAheadMinBytes = 4 * 1024 * 1024;

const std::string kDeflate64Id("\x04\x01\x09", 3);

// CRC-32 arithmetic modulo its polynomial (bit-reflected), to join the
// CRCs of a folder's files into the CRC of the whole folder.
uint32_t multiplyModP(uint32_t a, uint32_t b)
{
    uint32_t m = 1u << 31;
    uint32_t p = 0;
    for (;;) {
        if (a & m) {
            p ^= b;
            if ((a & (m - 1)) == 0)
                break;
        }
        m >>= 1;
        b = b & 1 ? (b >> 1) ^ 0xEDB88320u : b >> 1;
    }
    return p;
}

// The CRC of A then B from the CRCs of A and B and the size of B.
uint32_t crc32Join(uint32_t first, uint32_t second, uint64_t secondSize)
{
    // x^(8 * secondSize), built from x^(2^k) by squaring.
    uint32_t power = 1u << 30; // x^1
    uint32_t factor = 1u << 31; // x^0
    for (uint64_t n = secondSize * 8; n; n >>= 1) {
        if (n & 1)
            factor = multiplyModP(power, factor);
        power = multiplyModP(power, power);
    }
    return multiplyModP(factor, first) ^ second;
}

// A folder's Deflate64 stream, inflated by unarr from a ZIP archive of one
// entry made up around it; out is given the output in order.
bool inflate64(const std::string &packed, uint64_t size, uint32_t crc,
               const std::function<bool(const unsigned char *, std::size_t)> &out, std::string &message)
{
    if (packed.size() >= 0xFFFFFFFFu || size >= 0xFFFFFFFFu) {
        message = "a Deflate64 folder of 4 GiB or more is not read here";
        return false;
    }
    std::string zip;
    auto put16 = [&zip](uint32_t v) { zip += char(v & 0xFF); zip += char((v >> 8) & 0xFF); };
    auto put32 = [&](uint32_t v) { put16(v & 0xFFFF); put16(v >> 16); };
    const auto fields = [&](bool central) {
        put16(21); // version needed
        put16(0);  // flags
        put16(9);  // Deflate64
        put32(0);  // time and date
        put32(crc);
        put32(uint32_t(packed.size()));
        put32(uint32_t(size));
        put16(1); // name length
        put16(0); // extra length
        if (central) {
            put16(0);
            put16(0);
            put16(0);
            put32(0);
            put32(0); // local header at 0
        }
        zip += 'x';
    };
    zip.reserve(packed.size() + 128);
    put32(0x04034b50);
    fields(false);
    zip += packed;
    const auto central = uint32_t(zip.size());
    put32(0x02014b50);
    put16(21); // version made by
    fields(true);
    const auto centralSize = uint32_t(zip.size() - central);
    put32(0x06054b50);
    put16(0);
    put16(0);
    put16(1);
    put16(1);
    put32(centralSize);
    put32(central);
    put16(0);

    ar_stream *stream = ar_open_memory(zip.data(), zip.size());
    ar_archive *archive = stream ? ar_open_zip_archive(stream, false) : nullptr;
    bool ok = archive && ar_parse_entry(archive) && ar_entry_get_size(archive) == size;
    std::vector<unsigned char> buffer(256 * 1024);
    for (uint64_t left = size; ok && left > 0;) {
        const auto n = std::size_t(std::min<uint64_t>(left, buffer.size()));
        ok = ar_entry_uncompress(archive, buffer.data(), n) && out(buffer.data(), n);
        left -= n;
    }
    if (archive)
        ar_close_archive(archive);
    if (stream)
        ar_close(stream);
    if (!ok)
        message = "the folder's Deflate64 data does not decode";
    return ok;
}

class DecryptedSevenZip : public ArchiveBytes {
public:
    // Reads the headers and makes the keys. encrypted tells whether there
    // was anything to decrypt; when neither that nor a filter to undo,
    // this archive serves nothing (needed() is false).
    TenvoResult open(const std::string &path, const std::string *password, bool &encrypted,
                     std::string &message);
    bool needed() const { return m_needed; }
    // Every folder is LZMA or LZMA2 (after AES, before a filter undone
    // here perhaps), decoded here rather than by libarchive.
    bool decodedHere() const { return m_decodedHere; }
    // Decodes the folder's LZMA or LZMA2 stream (decodedHere() only).
    TenvoResult decodeFolder(std::size_t folder, const DecodedWriter &write, std::string &message);
    // The folders that end in a filter undone here (each folder is then a
    // file of the archive served), null for the others; empty when none.
    const std::vector<std::unique_ptr<BranchFilter>> &filters() const { return m_filters; }
    BranchFilter *filter(std::size_t folder) const
    {
        return folder < m_filters.size() ? m_filters[folder].get() : nullptr;
    }
    // Per folder (when filters() is not empty): its stream is Deflate64,
    // served as it is stored.
    bool inflated(std::size_t folder) const { return folder < m_inflated.size() && m_inflated[folder]; }
    const SevenZipStreams &streams() const { return m_headers.main; }
    const std::vector<SevenZipFile> &files() const { return m_files; }
    // Among the files holding data, the number of the first one in an
    // encrypted folder (none when only the header was encrypted), and how
    // much of it to decode to know the password is right.
    bool firstEncryptedEntry(std::size_t &entry, uint64_t &enough) const;

    uint64_t size() const override { return m_dataEnd + m_header.size(); }
    bool readAt(uint64_t offset, unsigned char *buffer, std::size_t size,
                std::string &message) override;

private:
    struct Stream {
        uint64_t fileOffset = 0;
        uint64_t storedSize = 0;
        uint64_t servedStart = 0;
        uint64_t servedSize = 0;
        const AesCbcDecryptor *cipher = nullptr;
    };
    bool readStream(const Stream &stream, uint64_t at, unsigned char *out, std::size_t size);
    struct LzmaFolder;
    bool lzmaChain(const SevenZipFolder &folder, LzmaFolder &lzma) const;

    FileReader m_file;
    SevenZipHeaders m_headers;
    std::string m_start;
    std::string m_header;
    uint64_t m_dataEnd = 32;
    std::vector<Stream> m_streams;
    std::vector<std::unique_ptr<SevenZipKey>> m_keys;
    std::vector<std::pair<std::string, unsigned>> m_keyKinds;
    std::vector<std::unique_ptr<AesCbcDecryptor>> m_ciphers;
    std::unique_ptr<unsigned char[]> m_scratch;
    bool m_needed = false;
    bool m_decodedHere = false;
    // Per folder when decodedHere(): its method and the coder's properties
    // and output size.
    struct LzmaFolder {
        LzmaMethod method = LzmaMethod::Lzma;
        const SevenZipCoder *coder = nullptr;
        uint64_t size = 0;
    };
    std::vector<LzmaFolder> m_lzma;
    std::vector<std::unique_ptr<BranchFilter>> m_filters;
    std::vector<bool> m_inflated;
    std::vector<SevenZipFile> m_files;
};

TenvoResult DecryptedSevenZip::open(const std::string &path, const std::string *password,
                                    bool &encrypted, std::string &message)
{
    encrypted = false;
    if (!m_file.open(path)) {
        message = "cannot open the archive";
        return TENVO_ERR_OPEN;
    }
    if (const TenvoResult read = readSevenZipHeaders(m_file, password, m_headers, message);
        read != TENVO_OK) {
        encrypted = read == TENVO_ERR_ENCRYPTED;
        return read;
    }
    const SevenZipStreams &streams = m_headers.main;
    encrypted = m_headers.headerEncrypted || hasEncryptedFolder(streams);
    SevenZipRewrite rewrite;
    for (const SevenZipFolder &folder : streams.folders) {
        // The coder that gives the folder's output.
        const uint64_t main = folder.mainOutStream();
        uint64_t out = 0;
        const SevenZipCoder *last = nullptr;
        for (const SevenZipCoder &coder : folder.coders) {
            if (main >= out && main < out + coder.outStreams)
                last = &coder;
            out += coder.outStreams;
        }
        const bool filtered = last && BranchFilter::recognizes(last->id);
        // Deflate64 alone (under AES perhaps): libarchive copies the
        // stream out, unarr inflates it.
        const bool inflated = last && last->id == kDeflate64Id;
        rewrite.dropLastCoder.push_back(filtered || inflated);
        m_filters.push_back(filtered ? std::make_unique<BranchFilter>(last->id, last->properties) : nullptr);
        m_inflated.push_back(inflated);
        if (filtered || inflated) {
            SevenZipFolder plain = folder;
            if (!plainSevenZipFolder(plain, true)
                || (inflated && (plain.coders.size() != 1 || plain.coders.front().id != std::string(1, '\0')))) {
                message = "the archive's methods are set up in a way not read here";
                return TENVO_ERR_METHOD;
            }
        }
    }
    rewrite.folderFiles = std::any_of(rewrite.dropLastCoder.begin(), rewrite.dropLastCoder.end(),
                                      [](bool dropped) { return dropped; });
    if (!rewrite.folderFiles) {
        m_filters.clear();
        m_inflated.clear();
    }
    m_decodedHere = lzmaDecoding && !streams.folders.empty();
    for (const SevenZipFolder &folder : streams.folders) {
        LzmaFolder lzma;
        m_decodedHere = m_decodedHere && lzmaChain(folder, lzma);
        m_lzma.push_back(lzma);
    }
    if (m_decodedHere && !rewrite.folderFiles && !readSevenZipFiles(m_headers, m_files))
        m_decodedHere = false; // libarchive says what is wrong with it
    m_needed = encrypted || rewrite.folderFiles || m_decodedHere;
    if (!m_needed)
        return TENVO_OK;
    if (rewrite.folderFiles && !readSevenZipFiles(m_headers, m_files)) {
        message = "the archive's list of files is damaged";
        return TENVO_ERR_DAMAGED;
    }
    if (encrypted && !password) {
        message = "the archive is password-protected";
        return TENVO_ERR_ENCRYPTED;
    }

    uint64_t at = 32 + streams.packPos;
    if (streams.packPos > m_file.size()) {
        message = "the archive is truncated";
        return TENVO_ERR_DAMAGED;
    }
    for (uint64_t size : streams.packSizes) {
        if (size > m_file.size() || at + size > m_file.size()) {
            message = "the archive is truncated";
            return TENVO_ERR_DAMAGED;
        }
        Stream stream;
        stream.fileOffset = at;
        stream.storedSize = size;
        stream.servedSize = size;
        m_streams.push_back(stream);
        at += size;
    }

    const std::string aesId(kSevenZipAesId, 4);
    for (std::size_t f = 0; f < streams.folders.size(); ++f) {
        const SevenZipFolder &folder = streams.folders[f];
        uint64_t in = 0;
        uint64_t out = 0;
        for (const SevenZipCoder &coder : folder.coders) {
            if (coder.id == aesId) {
                const auto packed = std::find(folder.packedStreams.begin(), folder.packedStreams.end(), in);
                SevenZipAesProperties properties;
                if (packed == folder.packedStreams.end() || coder.inStreams != 1 || coder.outStreams != 1) {
                    message = "the archive's encryption is set up in a way not read here";
                    return TENVO_ERR_METHOD;
                }
                Stream &stream = m_streams[streams.firstPackStream[f] + std::size_t(packed - folder.packedStreams.begin())];
                if (!properties.parse(coder.properties) || stream.cipher
                    || stream.storedSize % 16 != 0 || folder.unpackSizes[out] > stream.storedSize) {
                    message = "the archive's encryption is not as expected";
                    return TENVO_ERR_DAMAGED;
                }
                // One key per salt and count of rounds: 7-Zip uses one for all.
                std::size_t key = 0;
                while (key < m_keyKinds.size()
                       && m_keyKinds[key] != std::make_pair(properties.salt, properties.cyclesPower))
                    ++key;
                if (key == m_keys.size()) {
                    auto made = std::make_unique<SevenZipKey>();
                    if (!made->derive(*password, properties.salt, properties.cyclesPower)) {
                        message = "the password does not open the archive";
                        return TENVO_ERR_ENCRYPTED;
                    }
                    m_keys.push_back(std::move(made));
                    m_keyKinds.emplace_back(properties.salt, properties.cyclesPower);
                }
                m_ciphers.push_back(std::make_unique<AesCbcDecryptor>(*m_keys[key], properties.iv));
                stream.cipher = m_ciphers.back().get();
                stream.servedSize = folder.unpackSizes[out];
            }
            in += coder.inStreams;
            out += coder.outStreams;
        }
    }
    // Keys live on in the ciphers' expanded keys only.
    m_keys.clear();

    std::vector<uint64_t> served;
    for (Stream &stream : m_streams) {
        stream.servedStart = m_dataEnd;
        m_dataEnd += stream.servedSize;
        served.push_back(stream.servedSize);
    }
    m_header = writeSevenZipHeader(m_headers, served, rewrite);
    m_start = sevenZipSignatureHeader(m_dataEnd - 32, m_header);
    m_scratch = std::make_unique_for_overwrite<unsigned char[]>(kBlock + 32);
    return TENVO_OK;
}

bool DecryptedSevenZip::lzmaChain(const SevenZipFolder &folder, LzmaFolder &lzma) const
{
    // From the folder's output back to its one pack stream: a filter undone
    // here perhaps, then LZMA or LZMA2, then AES perhaps.
    const auto coderOf = [&folder](uint64_t out) -> std::size_t {
        uint64_t first = 0;
        for (std::size_t c = 0; c < folder.coders.size(); ++c) {
            if (out >= first && out < first + folder.coders[c].outStreams)
                return c;
            first += folder.coders[c].outStreams;
        }
        return SIZE_MAX;
    };
    // The out stream that feeds coder c's one in stream, or UINT64_MAX when
    // a pack stream does.
    const auto feeding = [&folder](std::size_t c) -> uint64_t {
        uint64_t in = 0;
        for (std::size_t k = 0; k < c; ++k)
            in += folder.coders[k].inStreams;
        const auto pair = std::find_if(folder.bindPairs.begin(), folder.bindPairs.end(),
                                       [in](const auto &p) { return p.first == in; });
        return pair == folder.bindPairs.end() ? UINT64_MAX : pair->second;
    };
    for (const SevenZipCoder &coder : folder.coders) {
        if (coder.inStreams != 1 || coder.outStreams != 1)
            return false;
    }
    if (folder.packedStreams.size() != 1 || folder.unpackSizes.size() != folder.coders.size())
        return false;
    uint64_t out = folder.mainOutStream();
    std::size_t c = coderOf(out);
    std::size_t used = 1;
    if (c != SIZE_MAX && BranchFilter::recognizes(folder.coders[c].id)) {
        out = feeding(c);
        c = out == UINT64_MAX ? SIZE_MAX : coderOf(out);
        ++used;
    }
    if (c == SIZE_MAX)
        return false;
    const SevenZipCoder &coder = folder.coders[c];
    if (coder.id == std::string("\x03\x01\x01", 3))
        lzma.method = LzmaMethod::Lzma;
    else if (coder.id == std::string(1, '\x21'))
        lzma.method = LzmaMethod::Lzma2;
    else
        return false;
    lzma.coder = &coder;
    lzma.size = folder.unpackSizes[out];
    const uint64_t fed = feeding(c);
    if (fed != UINT64_MAX) {
        const std::size_t aes = coderOf(fed);
        if (aes == SIZE_MAX || folder.coders[aes].id != std::string(kSevenZipAesId, 4)
            || feeding(aes) != UINT64_MAX)
            return false;
        ++used;
    }
    return used == folder.coders.size() && lzmaDecodable(lzma.method, coder.properties, lzma.size);
}

TenvoResult DecryptedSevenZip::decodeFolder(std::size_t folder, const DecodedWriter &write,
                                            std::string &message)
{
    const LzmaFolder &lzma = m_lzma[folder];
    const Stream &stream = m_streams[m_headers.main.firstPackStream[folder]];
    uint64_t at = 0;
    const PackedReader read = [&](unsigned char *buffer, std::size_t size) -> std::ptrdiff_t {
        const auto n = std::size_t(std::min<uint64_t>({size, stream.servedSize - at, kBlock}));
        if (n > 0 && !readStream(stream, at, buffer, n))
            return -1;
        at += n;
        return std::ptrdiff_t(n);
    };
    return decodeLzma(lzma.method, lzma.coder->properties, lzma.size, read, write, message);
}

bool DecryptedSevenZip::firstEncryptedEntry(std::size_t &entry, uint64_t &enough) const
{
    const SevenZipStreams &streams = m_headers.main;
    const std::string aesId(kSevenZipAesId, 4);
    entry = 0;
    enough = UINT64_MAX;
    for (std::size_t f = 0; f < streams.folders.size(); ++f) {
        const SevenZipFolder &folder = streams.folders[f];
        uint64_t out = 0;
        for (const SevenZipCoder &coder : folder.coders) {
            if (coder.id == aesId) {
                // What the decrypted stream feeds. Data that LZMA or LZMA2
                // decode from a wrong key fails within its first chunk (2 MiB
                // of output at most); the file's CRC is still checked as it
                // lands, so a file that decoded from a wrong key never lands.
                // Other methods (PPMd, stored) decode anything: only the
                // whole file's CRC tells.
                const auto pair = std::find_if(folder.bindPairs.begin(), folder.bindPairs.end(),
                                               [&](const auto &p) { return p.second == out; });
                if (pair != folder.bindPairs.end()) {
                    uint64_t in = 0;
                    for (const SevenZipCoder &fed : folder.coders) {
                        if (pair->first >= in && pair->first < in + fed.inStreams
                            && (fed.id == std::string("\x03\x01\x01", 3) || fed.id == std::string(1, '\x21')))
                            enough = kLzmaCheckBytes;
                        in += fed.inStreams;
                    }
                }
                return true;
            }
            out += coder.outStreams;
        }
        entry += std::size_t(streams.unpackStreams[f]);
    }
    return false;
}

bool DecryptedSevenZip::readStream(const Stream &stream, uint64_t at, unsigned char *out,
                                   std::size_t size)
{
    if (!stream.cipher)
        return m_file.readAt(stream.fileOffset + at, out, size);
    // Whole cipher blocks, with the one before them to chain from.
    const uint64_t first = at - at % 16;
    const uint64_t end = std::min<uint64_t>((at + size + 15) / 16 * 16, stream.storedSize);
    const std::size_t chain = first > 0 ? 16 : 0;
    unsigned char *scratch = m_scratch.get();
    if (!m_file.readAt(stream.fileOffset + first - chain, scratch, std::size_t(end - first) + chain))
        return false;
    stream.cipher->decrypt(scratch + chain, std::size_t(end - first), chain ? scratch : nullptr);
    std::memcpy(out, scratch + chain + (at - first), size);
    return true;
}

bool DecryptedSevenZip::readAt(uint64_t offset, unsigned char *buffer, std::size_t size,
                               std::string &message)
{
    while (size > 0) {
        std::size_t n = 0;
        if (offset < 32) {
            n = std::min<std::size_t>(size, std::size_t(32 - offset));
            std::memcpy(buffer, m_start.data() + offset, n);
        } else if (offset < m_dataEnd) {
            const auto stream = std::upper_bound(
                m_streams.begin(), m_streams.end(), offset,
                [](uint64_t at, const Stream &s) { return at < s.servedStart + s.servedSize; });
            if (stream == m_streams.end())
                return false;
            const uint64_t at = offset - stream->servedStart;
            n = std::size_t(std::min<uint64_t>({size, stream->servedSize - at, kBlock}));
            if (!readStream(*stream, at, buffer, n)) {
                message = "cannot read the archive";
                return false;
            }
        } else if (offset - m_dataEnd < m_header.size()) {
            n = std::min<std::size_t>(size, std::size_t(m_header.size() - (offset - m_dataEnd)));
            std::memcpy(buffer, m_header.data() + (offset - m_dataEnd), n);
        } else {
            message = "read past the archive's end";
            return false;
        }
        buffer += n;
        offset += n;
        size -= n;
    }
    return true;
}

// The archive served, kept by the caller while libarchive reads it.
class BorrowedBytes : public ArchiveBytes {
public:
    explicit BorrowedBytes(ArchiveBytes &bytes)
        : m_bytes(bytes)
    {
    }
    uint64_t size() const override { return m_bytes.size(); }
    bool readAt(uint64_t offset, unsigned char *buffer, std::size_t size, std::string &message) override
    {
        return m_bytes.readAt(offset, buffer, size, message);
    }

private:
    ArchiveBytes &m_bytes;
};

// Cuts the folders libarchive reads from the archive served (one file
// each) into the archive's own files, undoing a folder's filter first, and
// hands them, with the files that hold no data, to the sink in the
// archive's order; each file's CRC is checked here.
class FolderSplitter : public EntrySink {
public:
    FolderSplitter(EntrySink &sink, const DecryptedSevenZip &archive)
        : m_sink(sink)
        , m_archive(archive)
    {
    }

    bool beginEntry(const EntryInfo &entry) override
    {
        m_folder = SIZE_MAX;
        if (entry.rawName.empty() || entry.rawName.find_first_not_of("0123456789") != std::string::npos)
            return false;
        const std::size_t folder = std::stoul(entry.rawName);
        if (folder >= m_archive.streams().folders.size() || folder != m_nextFolder)
            return false;
        m_folder = folder;
        ++m_nextFolder;
        m_left = m_archive.streams().unpackStreams[folder];
        m_filter = m_archive.filter(folder);
        m_packed.clear();
        return true;
    }

    bool entryData(const void *data, std::size_t size) override
    {
        if (m_folder == SIZE_MAX)
            return true;
        if (m_archive.inflated(m_folder)) {
            m_packed.append(static_cast<const char *>(data), size);
            return true;
        }
        const auto deliver = [this](const unsigned char *p, std::size_t n) { return this->deliver(p, n); };
        return m_filter ? m_filter->feed(data, size, deliver)
                        : deliver(static_cast<const unsigned char *>(data), size);
    }

    void endEntry(TenvoResult outcome, const std::string &message) override
    {
        if (m_folder == SIZE_MAX)
            return;
        if (outcome == TENVO_OK && m_filter)
            m_filter->finish([this](const unsigned char *p, std::size_t n) { return deliver(p, n); });
        std::string inflateMessage;
        if (outcome == TENVO_OK && m_archive.inflated(m_folder)) {
            const auto deliver = [this](const unsigned char *p, std::size_t n) { return this->deliver(p, n); };
            if (!inflateFolder(deliver, inflateMessage))
                outcome = TENVO_ERR_DAMAGED;
            m_packed.clear();
            m_packed.shrink_to_fit();
        }
        // Whatever is left of the folder: empty files, or files the folder
        // failed in.
        while (m_open || m_left > 0) {
            if (!m_open && !startFile())
                break;
            if (outcome != TENVO_OK)
                endFile(outcome, inflateMessage.empty() ? message : inflateMessage);
            else
                endFile(m_remaining == 0 ? TENVO_OK : TENVO_ERR_DAMAGED, "the folder ends before the file");
        }
        m_folder = SIZE_MAX;
    }

    int scratchFolder() const override { return m_sink.scratchFolder(); }
    const NameEncoding *nameEncoding() const override { return m_sink.nameEncoding(); }

    // The files after the last folder's, which hold no data.
    void finish()
    {
        emitEmptyFiles();
    }

private:
    // The folder's CRC, joined from its files'; false when a file has none.
    bool inflateFolder(const std::function<bool(const unsigned char *, std::size_t)> &deliver,
                       std::string &message)
    {
        const SevenZipStreams &streams = m_archive.streams();
        std::size_t first = 0;
        for (std::size_t f = 0; f < m_folder; ++f)
            first += std::size_t(streams.unpackStreams[f]);
        uint32_t crc = 0;
        for (std::size_t k = first; k < first + streams.unpackStreams[m_folder]; ++k) {
            if (k >= streams.streamCrcs.size() || !streams.streamCrcs[k].first) {
                message = "a Deflate64 folder without CRCs is not read here";
                return false;
            }
            crc = crc32Join(crc, streams.streamCrcs[k].second, streams.streamSizes[k]);
        }
        return inflate64(m_packed, streams.folders[m_folder].unpackSize(), crc, deliver, message);
    }

    EntryInfo describe(const SevenZipFile &file, uint64_t size) const
    {
        EntryInfo info;
        info.rawName = file.name;
        info.nameIsUtf8 = true;
        info.nameIsUnicode = true;
        info.kind = file.isDirectory ? EntryKind::Directory : EntryKind::File;
        info.mode = file.isDirectory ? 0755 : 0644;
        if (file.hasAttributes && (file.attributes & 0x8000)) {
            // The Unix mode in the attributes' high half.
            const uint32_t mode = file.attributes >> 16;
            if (S_ISDIR(mode))
                info.kind = EntryKind::Directory;
            else if (S_ISLNK(mode))
                info.kind = EntryKind::Symlink;
            else if (!S_ISREG(mode) && (mode & S_IFMT) != 0)
                info.kind = EntryKind::Other;
            info.mode = mode & 07777;
        } else if (file.hasAttributes && (file.attributes & 1)) {
            info.mode &= ~0222u;
        }
        // Named as libarchive names folders.
        if (info.kind == EntryKind::Directory && !info.rawName.empty() && info.rawName.back() != '/')
            info.rawName += '/';
        info.size = info.kind == EntryKind::Directory ? 0 : int64_t(size);
        info.mtime = file.mtime;
        return info;
    }

    // Hands on the files that hold no data up to the next one that does.
    void emitEmptyFiles()
    {
        const auto &files = m_archive.files();
        while (m_nextFile < files.size() && !files[m_nextFile].hasStream) {
            const SevenZipFile &file = files[m_nextFile++];
            if (file.isAnti)
                continue;
            m_sink.beginEntry(describe(file, 0));
            m_sink.endEntry(TENVO_OK, std::string());
        }
    }

    bool startFile()
    {
        emitEmptyFiles();
        const auto &files = m_archive.files();
        if (m_left == 0 || m_nextFile >= files.size())
            return false;
        const SevenZipFile &file = files[m_nextFile++];
        const auto &streams = m_archive.streams();
        m_remaining = m_stream < streams.streamSizes.size() ? streams.streamSizes[m_stream] : 0;
        m_crc = m_stream < streams.streamCrcs.size() ? streams.streamCrcs[m_stream] : std::make_pair(false, 0u);
        ++m_stream;
        --m_left;
        m_info = describe(file, m_remaining);
        m_link.clear();
        m_computed = 0;
        m_open = true;
        m_wanted = m_info.kind != EntryKind::Symlink && m_sink.beginEntry(m_info);
        m_refused = false;
        return true;
    }

    void endFile(TenvoResult outcome, const std::string &message)
    {
        if (outcome == TENVO_OK && m_crc.first && m_computed != m_crc.second) {
            outcome = TENVO_ERR_DAMAGED;
            m_message = "CRC error in the entry's data";
        } else if (m_refused && outcome == TENVO_OK) {
            outcome = TENVO_ERR_WRITE;
            m_message = "the data could not be stored";
        } else {
            m_message = message;
        }
        if (m_info.kind == EntryKind::Symlink) {
            m_info.linkTarget = m_link;
            m_info.linkTargetIsUtf8 = true;
            m_sink.beginEntry(m_info);
        }
        m_sink.endEntry(outcome, m_message);
        m_open = false;
    }

    bool deliver(const unsigned char *data, std::size_t size)
    {
        while (size > 0) {
            if (!m_open && !startFile())
                return true; // more data than the files hold: the CRCs tell
            const std::size_t n = std::size_t(std::min<uint64_t>(size, m_remaining));
            if (n > 0) {
                m_computed = crc32Update(m_computed, data, n);
                if (m_info.kind == EntryKind::Symlink) {
                    if (m_link.size() + n <= 64 * 1024)
                        m_link.append(reinterpret_cast<const char *>(data), n);
                } else if (m_wanted && !m_refused && !m_sink.entryData(data, n)) {
                    m_refused = true;
                }
                m_remaining -= n;
                data += n;
                size -= n;
            }
            if (m_remaining == 0)
                endFile(TENVO_OK, std::string());
        }
        return true;
    }

    EntrySink &m_sink;
    const DecryptedSevenZip &m_archive;
    std::size_t m_folder = SIZE_MAX;
    std::size_t m_nextFolder = 0;
    std::size_t m_nextFile = 0;
    std::size_t m_stream = 0;
    uint64_t m_left = 0;
    BranchFilter *m_filter = nullptr;
    bool m_open = false;
    bool m_wanted = false;
    bool m_refused = false;
    uint64_t m_remaining = 0;
    std::pair<bool, uint32_t> m_crc;
    uint32_t m_computed = 0;
    EntryInfo m_info;
    std::string m_link;
    std::string m_message;
    std::string m_packed;
};

// Takes the data of one file (numbered among the files that hold data)
// and ends the walk with its outcome as soon as it is known.
class PasswordCheckSink : public EntrySink {
public:
    struct Done {
        TenvoResult outcome;
    };
    explicit PasswordCheckSink(std::size_t target)
        : m_target(target)
    {
    }
    bool beginEntry(const EntryInfo &entry) override
    {
        m_inTarget = entry.kind != EntryKind::Directory && entry.size > 0 && m_seen++ == m_target;
        return m_inTarget;
    }
    bool entryData(const void *, std::size_t) override { return true; }
    void endEntry(TenvoResult outcome, const std::string &) override
    {
        // Thrown through the walk's own frames only, never libarchive's.
        if (m_inTarget)
            throw Done{outcome};
    }

private:
    std::size_t m_target;
    std::size_t m_seen = 0;
    bool m_inTarget = false;
};

// Whether a second core can decode while this thread checks and writes.
bool secondCore()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) >= 2;
}

// Decodes the folder in a thread of its own, handing its output to deliver
// on this thread through a few blocks, so that the CRCs and the writing
// overlap the decoding.
TenvoResult decodeFolderAhead(DecryptedSevenZip &archive, std::size_t folder, const DecodedWriter &deliver,
                              std::string &message)
{
    constexpr std::size_t kBlocks = 4;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::vector<unsigned char>> full;
    std::vector<std::vector<unsigned char>> spare;
    std::size_t made = 0;
    bool done = false;
    bool stop = false;
    TenvoResult decoded = TENVO_OK;
    std::string decodeMessage;

    std::thread worker([&] {
        const DecodedWriter hand = [&](const unsigned char *data, std::size_t size) {
            std::vector<unsigned char> block;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || !spare.empty() || made < kBlocks; });
                if (stop)
                    return false;
                if (spare.empty()) {
                    ++made;
                } else {
                    block = std::move(spare.back());
                    spare.pop_back();
                }
            }
            block.assign(data, data + size);
            {
                const std::lock_guard lock(mutex);
                full.push_back(std::move(block));
            }
            changed.notify_all();
            return true;
        };
        try {
            decoded = archive.decodeFolder(folder, hand, decodeMessage);
        } catch (const std::bad_alloc &) {
            decoded = TENVO_ERR_WRITE;
            decodeMessage = "out of memory";
        }
        {
            const std::lock_guard lock(mutex);
            done = true;
        }
        changed.notify_all();
    });
    // The worker is stopped and joined however this thread leaves.
    struct Joiner {
        std::thread &worker;
        std::mutex &mutex;
        bool &stop;
        std::condition_variable &changed;
        ~Joiner()
        {
            {
                const std::lock_guard lock(mutex);
                stop = true;
            }
            changed.notify_all();
            worker.join();
        }
    } joiner{worker, mutex, stop, changed};

    for (bool refused = false;;) {
        std::vector<unsigned char> block;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return done || !full.empty(); });
            if (full.empty())
                break;
            block = std::move(full.front());
            full.pop_front();
        }
        refused = refused || !deliver(block.data(), block.size());
        {
            const std::lock_guard lock(mutex);
            stop = stop || refused;
            spare.push_back(std::move(block));
        }
        changed.notify_all();
    }
    message = decodeMessage;
    return decoded;
}

// Each folder decoded here, cut into its files; a folder that fails fails
// its own files only, as libarchive's walk goes on past a damaged entry.
TenvoResult decodeFoldersHere(DecryptedSevenZip &archive, EntrySink &sink, std::string &message)
{
    FolderSplitter splitter(sink, archive);
    const bool ahead = secondCore();
    for (std::size_t folder = 0; folder < archive.streams().folders.size(); ++folder) {
        EntryInfo entry;
        entry.rawName = std::to_string(folder);
        splitter.beginEntry(entry);
        std::string folderMessage;
        const DecodedWriter deliver = [&splitter](const unsigned char *data, std::size_t size) {
            return splitter.entryData(data, size);
        };
        const TenvoResult decoded
            = ahead && archive.streams().folders[folder].unpackSize() >= kAheadMinBytes
            ? decodeFolderAhead(archive, folder, deliver, folderMessage)
            : archive.decodeFolder(folder, deliver, folderMessage);
        splitter.endEntry(decoded, folderMessage);
        if (decoded == TENVO_ERR_OPEN) {
            message = folderMessage;
            return decoded;
        }
    }
    splitter.finish();
    return TENVO_OK;
}

} // namespace

TenvoResult decodeSevenZip(const std::string &archivePath, EntrySink &sink, std::string &message,
                           const std::string *password)
{
    auto bytes = std::make_unique<DecryptedSevenZip>();
    bool encrypted = false;
    const TenvoResult opened = bytes->open(archivePath, password, encrypted, message);
    // What is not encrypted, or not read by the layer above, is libarchive's
    // own to read and report.
    if (!encrypted && (opened != TENVO_OK || !bytes->needed()))
        return decodeWithLibarchive(LibarchiveFormat::SevenZip, archivePath, sink, message);
    forgetSevenZipKeys();
    if (opened != TENVO_OK)
        return opened;
    if (bytes->decodedHere())
        return decodeFoldersHere(*bytes, sink, message);
    if (bytes->filters().empty())
        return decodeSevenZipBytes(std::move(bytes), sink, message);
    FolderSplitter splitter(sink, *bytes);
    const TenvoResult walked = decodeSevenZipBytes(std::make_unique<BorrowedBytes>(*bytes), splitter, message);
    if (walked == TENVO_OK)
        splitter.finish();
    return walked;
}

TenvoResult checkSevenZipPassword(const std::string &archivePath, const std::string *password,
                                  bool &encrypted, std::string &message)
{
    auto bytes = std::make_unique<DecryptedSevenZip>();
    const TenvoResult opened = bytes->open(archivePath, password, encrypted, message);
    if (!encrypted)
        return TENVO_OK;
    if (opened != TENVO_OK) {
        forgetSevenZipKeys();
        return opened == TENVO_ERR_ENCRYPTED ? opened : TENVO_OK;
    }
    std::size_t entry = 0;
    uint64_t enough = 0;
    if (!bytes->firstEncryptedEntry(entry, enough))
        return TENVO_OK;
    std::string ignored;
    TenvoResult read = TENVO_OK;
    if (bytes->decodedHere()) {
        // The entry is the first of the first encrypted folder: that much
        // of the folder is decoded, then the decoding is stopped.
        const auto &folders = bytes->streams().folders;
        const auto encryptedFolder = std::find_if(folders.begin(), folders.end(), [](const SevenZipFolder &f) {
            return std::any_of(f.coders.begin(), f.coders.end(),
                               [](const SevenZipCoder &c) { return c.id == std::string(kSevenZipAesId, 4); });
        });
        const auto folder = std::size_t(encryptedFolder - folders.begin());
        uint64_t decoded = 0;
        read = bytes->decodeFolder(
            folder,
            [&decoded, enough](const unsigned char *, std::size_t size) {
                decoded += size;
                return decoded < enough;
            },
            ignored);
        if (read == TENVO_ERR_WRITE && decoded >= enough)
            read = TENVO_OK;
    } else if (bytes->filters().empty()) {
        read = readSevenZipEntry(std::move(bytes), entry, enough, ignored);
    } else {
        // Folders whose filter or Deflate64 is undone here carry no CRC
        // libarchive could check: the file is cut out and checked here.
        PasswordCheckSink check(entry);
        FolderSplitter splitter(check, *bytes);
        try {
            decodeSevenZipBytes(std::make_unique<BorrowedBytes>(*bytes), splitter, ignored);
        } catch (const PasswordCheckSink::Done &done) {
            read = done.outcome;
        }
    }
    if (read == TENVO_OK || read == TENVO_ERR_METHOD)
        return TENVO_OK;
    forgetSevenZipKeys();
    message = "the password does not open the archive";
    return TENVO_ERR_ENCRYPTED;
}

bool checkSevenZip(const std::string &archivePath)
{
    if (checkWithLibarchive(LibarchiveFormat::SevenZip, archivePath))
        return true;
    // Encrypted names cannot be read without the password; the archive is
    // one all the same.
    FileReader file;
    SevenZipHeaders headers;
    std::string message;
    return file.open(archivePath)
        && readSevenZipHeaders(file, nullptr, headers, message) == TENVO_ERR_ENCRYPTED;
}

void setSevenZipLzmaDecoding(bool on) { lzmaDecoding = on; }

} // namespace tenvo::engine

// 7z archives whose folders or header are encrypted: libarchive is given the
// same archive with the encryption taken out, its pack streams decrypted as
// it reads them, so no decrypted copy is ever kept on disk or whole in memory.
#include "decoders.h"

#include "decoderutil.h"
#include "libarchivedecoder.h"
#include "sevenzipcrypt.h"
#include "sevenzipheader.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace tenvo::engine {

namespace {

constexpr std::size_t kBlock = 256 * 1024;
// How much of a file packed with LZMA or LZMA2 is decoded to try a password.
constexpr uint64_t kLzmaCheckBytes = 4 * 1024 * 1024;

class DecryptedSevenZip : public ArchiveBytes {
public:
    // Reads the headers and makes the keys. encrypted tells whether there
    // was anything to decrypt; when not, this archive serves nothing.
    TenvoResult open(const std::string &path, const std::string *password, bool &encrypted,
                     std::string &message);
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
    if (!encrypted)
        return TENVO_OK;
    if (!password) {
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
    m_header = writeSevenZipHeader(m_headers, served);
    m_start = sevenZipSignatureHeader(m_dataEnd - 32, m_header);
    m_scratch = std::make_unique_for_overwrite<unsigned char[]>(kBlock + 32);
    return TENVO_OK;
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

} // namespace

TenvoResult decodeSevenZip(const std::string &archivePath, EntrySink &sink, std::string &message,
                           const std::string *password)
{
    auto bytes = std::make_unique<DecryptedSevenZip>();
    bool encrypted = false;
    const TenvoResult opened = bytes->open(archivePath, password, encrypted, message);
    // What is not encrypted, or not read by the layer above, is libarchive's
    // own to read and report.
    if (!encrypted)
        return decodeWithLibarchive(LibarchiveFormat::SevenZip, archivePath, sink, message);
    forgetSevenZipKeys();
    if (opened != TENVO_OK)
        return opened;
    return decodeSevenZipBytes(std::move(bytes), sink, message);
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
    const TenvoResult read = readSevenZipEntry(std::move(bytes), entry, enough, ignored);
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

} // namespace tenvo::engine

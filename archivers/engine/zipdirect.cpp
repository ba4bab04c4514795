// Decoding of a ZIP archive's stored and Deflate entries straight from the file.
#include "zipdirect.h"

#include "zipscan.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace tenvo::engine {

namespace {

constexpr std::size_t kChunk = 256 * 1024;
// As large as the safe writer's buffer: a piece this size, or one that ends
// its file, is written without being copied there first.
constexpr std::size_t kOutChunk = 1024 * 1024;
constexpr std::size_t kLocalFixedSize = 30;
enum : uint16_t { kMethodStored = 0, kMethodDeflate = 8 };

std::atomic<bool> directDecoding{true};
std::atomic<uint64_t> decodedDirectly{0};

TenvoResult damaged(std::string &message, const char *text)
{
    message = text;
    return TENVO_ERR_DAMAGED;
}

TenvoResult refused(std::string &message)
{
    message = "the data could not be stored";
    return TENVO_ERR_WRITE;
}

} // namespace

void setZipDirectDecoding(bool on) { directDecoding = on; }
bool zipDirectDecoding() { return directDecoding; }
uint64_t zipEntriesDecodedDirectly() { return decodedDirectly; }

ZipDirectData::ZipDirectData() = default;
ZipDirectData::~ZipDirectData() = default;

bool ZipDirectData::open(const std::string &path)
{
    m_entries.clear();
    ZipCentralDirectory directory;
    std::string message;
    if (directory.open(path, message) != TENVO_OK || !m_file.open(path))
        return false;
    m_allPlain = true;
    ZipCentralEntry entry;
    while (directory.next(entry)) {
        m_allPlain = m_allPlain && (entry.method == kMethodStored || entry.method == kMethodDeflate)
            && (entry.flags & (kZipFlagEncrypted | kZipFlagStrongEncryption)) == 0;
        m_entries.push_back({entry.localHeaderOffset, entry.compressedSize, entry.uncompressedSize,
                             entry.crc, entry.method, entry.flags, std::move(entry.name)});
    }
    if (directory.failed()) {
        m_entries.clear();
        m_allPlain = false;
        return false;
    }
    // libarchive's order: by local header offset, the first record of an
    // offset standing for it.
    std::stable_sort(m_entries.begin(), m_entries.end(), [](const Entry &a, const Entry &b) {
        return a.localHeaderOffset < b.localHeaderOffset;
    });
    m_entries.erase(std::unique(m_entries.begin(), m_entries.end(),
                                [](const Entry &a, const Entry &b) {
                                    return a.localHeaderOffset == b.localHeaderOffset;
                                }),
                    m_entries.end());
    m_dataStart.assign(m_entries.size(), 0);
    return true;
}

bool ZipDirectData::openFile(const std::string &path)
{
    m_entries.clear();
    m_dataStart.clear();
    m_allPlain = false;
    return m_file.open(path);
}

std::size_t ZipDirectData::add(const ZipCentralEntry &entry, uint64_t dataStart)
{
    m_entries.push_back({entry.localHeaderOffset, entry.compressedSize, entry.uncompressedSize,
                         entry.crc, entry.method, entry.flags, entry.name});
    m_dataStart.push_back(dataStart);
    return m_entries.size() - 1;
}

bool ZipDirectData::takes(std::size_t index, const EntryInfo &info, const std::string &libarchiveName)
{
    if (index >= m_entries.size() || info.kind != EntryKind::File || info.encrypted)
        return false;
    const Entry &entry = m_entries[index];
    if ((entry.flags & (kZipFlagEncrypted | kZipFlagStrongEncryption)) != 0
        || (entry.method != kMethodStored && entry.method != kMethodDeflate)
        || libarchiveName.empty() || libarchiveName != entry.name || info.size < 0
        || uint64_t(info.size) != entry.uncompressedSize)
        return false;
    if (entry.method == kMethodStored && entry.compressedSize != entry.uncompressedSize)
        return false;

    // The local header and its name, in one read.
    m_header.resize(kLocalFixedSize + entry.name.size());
    const unsigned char *local = m_header.data();
    if (!m_file.readAt(entry.localHeaderOffset, m_header.data(), m_header.size())
        || le32(local) != 0x04034b50u)
        return false;
    const uint16_t nameSize = le16(local + 26);
    const uint16_t extraSize = le16(local + 28);
    if (nameSize != entry.name.size() || le16(local + 8) != entry.method
        || std::memcmp(local + kLocalFixedSize, entry.name.data(), nameSize) != 0)
        return false;
    m_dataStart[index] = entry.localHeaderOffset + kLocalFixedSize + nameSize + extraSize;
    return true;
}

TenvoResult ZipDirectData::decode(std::size_t index, EntrySink &sink, std::string &message, bool &fatal)
{
    fatal = false;
    const Entry &entry = m_entries.at(index);
    const uint64_t start = m_dataStart.at(index);
    // The data runs past the end of the file: as libarchive, nothing after
    // it can be trusted.
    if (start == 0 || start > m_file.size() || entry.compressedSize > m_file.size() - start) {
        fatal = true;
        return damaged(message, "the entry's data runs past the end of the archive");
    }
    ++decodedDirectly;
    if (!m_in) {
        m_in = std::make_unique_for_overwrite<unsigned char[]>(kChunk);
        m_out = std::make_unique_for_overwrite<unsigned char[]>(kOutChunk);
    }
    return entry.method == kMethodStored ? copy(entry, start, sink, message, fatal)
                                         : inflate(entry, start, sink, message, fatal);
}

TenvoResult ZipDirectData::copy(const Entry &entry, uint64_t start, EntrySink &sink,
                                std::string &message, bool &fatal)
{
    uint32_t crc = 0;
    for (uint64_t done = 0; done < entry.compressedSize;) {
        const auto n = std::size_t(std::min<uint64_t>(kOutChunk, entry.compressedSize - done));
        if (!m_file.readAt(start + done, m_out.get(), n)) {
            fatal = true;
            return damaged(message, "cannot read the entry's data");
        }
        crc = crc32Update(crc, m_out.get(), n);
        if (!sink.entryData(m_out.get(), n))
            return refused(message);
        done += n;
    }
    if (crc != entry.crc)
        return damaged(message, "CRC error in the entry's data");
    return TENVO_OK;
}

TenvoResult ZipDirectData::inflate(const Entry &entry, uint64_t start, EntrySink &sink,
                                   std::string &message, bool &fatal)
{
    auto state = std::make_unique<inflate_state>();
    isal_inflate_init(state.get());
    state->crc_flag = ISAL_GZIP_NO_HDR; // raw Deflate, with the CRC-32 of what comes out
    uint64_t read = 0;
    uint64_t written = 0;
    for (;;) {
        if (state->avail_in == 0 && read < entry.compressedSize) {
            const auto n = std::size_t(std::min<uint64_t>(kChunk, entry.compressedSize - read));
            if (!m_file.readAt(start + read, m_in.get(), n)) {
                fatal = true;
                return damaged(message, "cannot read the entry's data");
            }
            read += n;
            state->next_in = m_in.get();
            state->avail_in = uint32_t(n);
        }
        const uint32_t inBefore = state->avail_in;
        state->next_out = m_out.get();
        state->avail_out = uint32_t(kOutChunk);
        if (isal_inflate(state.get()) < 0) {
            // libarchive gives up on the archive at a broken Deflate stream.
            fatal = true;
            return damaged(message, "the entry's compressed data is damaged");
        }
        // The sink sees data past the declared size first and names that
        // cause itself; a sink that takes it ends the entry here.
        const std::size_t got = kOutChunk - state->avail_out;
        if (got > 0 && !sink.entryData(m_out.get(), got))
            return refused(message);
        written += got;
        if (written > entry.uncompressedSize)
            return damaged(message, "the entry holds more data than its header says");
        if (state->block_state == ISAL_BLOCK_FINISH)
            break;
        if (got == 0 && state->avail_in == inBefore) {
            fatal = true;
            return damaged(message, "the entry's compressed data ends early");
        }
    }
    if (written != entry.uncompressedSize)
        return damaged(message, "the entry holds less data than its header says");
    if (state->crc != entry.crc)
        return damaged(message, "CRC error in the entry's data");
    return TENVO_OK;
}

} // namespace tenvo::engine

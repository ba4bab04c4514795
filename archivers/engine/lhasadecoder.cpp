// LZH archives: headers walked by liblhasa, -lh4- to -lh7- members decoded
// by the engine's own decoder and stored ones copied straight from the file,
// older tools' methods decoded by liblhasa.
#include "decoders.h"

#include "decoderutil.h"
#include "headerscan.h"
#include "libarchivedecoder.h"
#include "lzhhuffman.h"

#include <endian.h>
#include <lhasa.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace tenvo::engine {

namespace {

constexpr std::size_t kReadBlock = 64 * 1024;

// The methods libarchive 3.6 decodes. It refuses PMarc headers outright and
// fails the whole archive on them, so an archive with one member it cannot
// read is checked through liblhasa.
bool libarchiveDecodes(const std::string &method)
{
    return method == "-lh0-" || method == "-lh5-" || method == "-lh6-" || method == "-lh7-"
        || method == "-lhd-";
}

bool isStored(const char *method)
{
    return std::strcmp(method, "-lh0-") == 0 || std::strcmp(method, "-lz4-") == 0
        || std::strcmp(method, "-pm0-") == 0;
}

bool needsLhasa(const std::vector<StoredName> &names)
{
    return std::any_of(names.begin(), names.end(),
                       [](const StoredName &name) { return !libarchiveDecodes(name.method); });
}

// The CRC-16 that LZH headers hold for the data (polynomial 0xA001,
// reflected), eight bytes a step.
uint16_t crc16Update(uint16_t crc, const unsigned char *data, std::size_t size)
{
    static const auto tables = [] {
        std::array<std::array<uint16_t, 256>, 8> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
            t[0][i] = uint16_t(c);
        }
        for (std::size_t k = 1; k < 8; ++k)
            for (std::size_t i = 0; i < 256; ++i)
                t[k][i] = uint16_t((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]);
        return t;
    }();
    for (; size >= 8; size -= 8, data += 8) {
        uint64_t v;
        std::memcpy(&v, data, 8);
        v = le64toh(v) ^ crc;
        crc = uint16_t(tables[7][v & 0xFF] ^ tables[6][(v >> 8) & 0xFF] ^ tables[5][(v >> 16) & 0xFF]
                       ^ tables[4][(v >> 24) & 0xFF] ^ tables[3][(v >> 32) & 0xFF]
                       ^ tables[2][(v >> 40) & 0xFF] ^ tables[1][(v >> 48) & 0xFF] ^ tables[0][v >> 56]);
    }
    for (; size > 0; --size, ++data)
        crc = uint16_t(tables[0][(crc ^ *data) & 0xFF] ^ (crc >> 8));
    return crc;
}

// The archive file from its first header on, as liblhasa reads it: a few
// bytes at a time for headers and bit streams, so it is served from a
// buffer rather than a read per call.
class LzhInput {
public:
    bool open(const std::string &path, int64_t start)
    {
        m_position = uint64_t(start);
        m_buffer = std::make_unique_for_overwrite<unsigned char[]>(kReadBlock);
        return m_file.open(path) && m_position <= m_file.size();
    }
    int openError() const { return m_file.openError(); }
    // Where the next byte liblhasa reads lies in the file.
    uint64_t tell() const { return m_position - (m_end - m_next); }
    FileReader &file() { return m_file; }

    static int read(void *handle, void *buffer, size_t length)
    {
        auto *input = static_cast<LzhInput *>(handle);
        auto *out = static_cast<unsigned char *>(buffer);
        std::size_t done = 0;
        while (done < length) {
            if (input->m_next == input->m_end && !input->fill())
                return done > 0 ? int(done) : input->m_failed ? -1 : 0;
            const std::size_t n = std::min(length - done, input->m_end - input->m_next);
            std::memcpy(out + done, input->m_buffer.get() + input->m_next, n);
            input->m_next += n;
            done += n;
        }
        return int(done);
    }
    static int skip(void *handle, size_t length)
    {
        auto *input = static_cast<LzhInput *>(handle);
        const std::size_t buffered = input->m_end - input->m_next;
        if (length <= buffered) {
            input->m_next += length;
            return 1;
        }
        const uint64_t beyond = length - buffered;
        if (beyond > input->m_file.size() - input->m_position)
            return 0;
        input->m_position += beyond;
        input->m_next = input->m_end = 0;
        return 1;
    }
    static void close(void *) {}

private:
    bool fill()
    {
        const std::size_t n = std::size_t(std::min<uint64_t>(kReadBlock, m_file.size() - m_position));
        if (n == 0)
            return false;
        if (!m_file.readAt(m_position, m_buffer.get(), n)) {
            m_failed = true;
            return false;
        }
        m_position += n;
        m_next = 0;
        m_end = n;
        return true;
    }

    FileReader m_file;
    // The file offset after the buffered bytes.
    uint64_t m_position = 0;
    std::unique_ptr<unsigned char[]> m_buffer;
    std::size_t m_next = 0;
    std::size_t m_end = 0;
    bool m_failed = false;
};

const LHAInputStreamType kInputType = {LzhInput::read, LzhInput::skip, LzhInput::close};

struct LhasaReader {
    LHAInputStream *stream = nullptr;
    LHAReader *reader = nullptr;
    ~LhasaReader()
    {
        if (reader)
            lha_reader_free(reader);
        if (stream)
            lha_input_stream_free(stream);
    }
    bool open(LzhInput &input)
    {
        stream = lha_input_stream_new(&kInputType, &input);
        reader = stream ? lha_reader_new(stream) : nullptr;
        if (!reader)
            return false;
        // Each folder header as it comes, like every other entry.
        lha_reader_set_dir_policy(reader, LHA_READER_DIR_PLAIN);
        return true;
    }
};

EntryInfo describe(const LHAFileHeader &header)
{
    EntryInfo info;
    info.rawName = std::string(header.path ? header.path : "") + (header.filename ? header.filename : "");
    // A symbolic link is stored as a folder whose name holds "|target".
    if (header.symlink_target) {
        info.kind = EntryKind::Symlink;
        info.linkTarget = header.symlink_target;
    } else if (std::strcmp(header.compress_method, "-lhd-") == 0
               || std::strcmp(header.compress_method, "-pmd-") == 0) {
        info.kind = EntryKind::Directory;
    }
    if (LHA_FILE_HAVE_EXTRA(&header, LHA_FILE_UNIX_PERMS))
        info.mode = header.unix_perms & 07777;
    info.size = info.kind == EntryKind::File ? int64_t(header.length) : 0;
    if (header.timestamp != 0)
        info.mtime = header.timestamp;
    return info;
}

// Decodes the current member into the sink and checks its length and CRC.
// The static-Huffman methods are decoded here from the file, the others by
// liblhasa; either way liblhasa moves on past the member's data itself.
TenvoResult streamMember(LHAReader *reader, LzhInput &input, const LHAFileHeader &header,
                         EntrySink &sink, std::string &message)
{
    char method[sizeof header.compress_method + 1] = {};
    std::memcpy(method, header.compress_method, sizeof header.compress_method);
    uint16_t crc = 0;
    uint64_t total = 0;
    const DecodedWriter write = [&](const unsigned char *data, std::size_t size) {
        total += size;
        crc = crc16Update(crc, data, size);
        return sink.entryData(data, size);
    };
    uint64_t at = input.tell();
    const uint64_t end = std::min<uint64_t>(at + header.compressed_length, input.file().size());
    const PackedReader read = [&](unsigned char *buffer, std::size_t size) -> std::ptrdiff_t {
        const std::size_t n = std::size_t(std::min<uint64_t>(size, end - at));
        if (n > 0 && !input.file().readAt(at, buffer, n))
            return -1;
        at += n;
        return std::ptrdiff_t(n);
    };
    if (const int dictionaryBits = lzhDictionaryBits(method)) {
        if (const TenvoResult decoded = decodeLzhHuffman(dictionaryBits, header.length, read, write, message);
            decoded != TENVO_OK)
            return decoded;
    } else if (isStored(method)) {
        auto buffer = std::make_unique_for_overwrite<unsigned char[]>(kReadBlock);
        for (;;) {
            const std::ptrdiff_t n = read(buffer.get(), std::size_t(std::min<uint64_t>(kReadBlock, header.length - total)));
            if (n < 0) {
                message = "the archive cannot be read";
                return TENVO_ERR_OPEN;
            }
            if (n == 0)
                break;
            if (!write(buffer.get(), std::size_t(n))) {
                message = "the data could not be stored";
                return TENVO_ERR_WRITE;
            }
        }
    } else {
        if (!lha_decoder_for_name(method)) {
            message = std::string("the entry is packed with ") + method + ", which no decoder here reads";
            return TENVO_ERR_METHOD;
        }
        auto buffer = std::make_unique_for_overwrite<unsigned char[]>(kReadBlock);
        for (;;) {
            const std::size_t n = lha_reader_read(reader, buffer.get(), kReadBlock);
            if (n == 0 || total + n > header.length)
                break;
            if (!write(buffer.get(), n)) {
                message = "the data could not be stored";
                return TENVO_ERR_WRITE;
            }
        }
    }
    if (total != header.length) {
        message = "the entry's data is cut short or does not decode";
        return TENVO_ERR_DAMAGED;
    }
    if (crc != header.crc) {
        message = "CRC error in the entry's data";
        return TENVO_ERR_DAMAGED;
    }
    return TENVO_OK;
}

TenvoResult decodeWithLhasa(const std::string &archivePath, int64_t start,
                            const std::vector<StoredName> &names, bool wholeWalk, EntrySink &sink,
                            std::string &message)
{
    LzhInput input;
    if (!input.open(archivePath, start)) {
        message = "cannot open the archive";
        return input.openError() ? TENVO_ERR_OPEN : TENVO_ERR_DAMAGED;
    }
    LhasaReader lhasa;
    if (!lhasa.open(input)) {
        message = "out of memory";
        return TENVO_ERR_WRITE;
    }
    std::size_t index = 0;
    while (const LHAFileHeader *header = lha_reader_next_file(lhasa.reader)) {
        EntryInfo info = describe(*header);
        applyStoredName(names, index++, info);
        std::string entryMessage;
        TenvoResult outcome = TENVO_OK;
        if (sink.beginEntry(info) && info.kind == EntryKind::File)
            outcome = streamMember(lhasa.reader, input, *header, sink, entryMessage);
        sink.endEntry(outcome, entryMessage);
    }
    // liblhasa ends at a header it cannot read as it ends at the last one.
    if (!wholeWalk || index < names.size()) {
        message = "damaged archive headers";
        return TENVO_ERR_DAMAGED;
    }
    return TENVO_OK;
}

int64_t lzhStart(const std::string &archivePath)
{
    return std::max<int64_t>(findLzhStart(archivePath), 0);
}

} // namespace

TenvoResult decodeLzh(const std::string &archivePath, EntrySink &sink, std::string &message)
{
    const int64_t start = lzhStart(archivePath);
    bool wholeWalk = false;
    std::vector<StoredName> names = scanLzhNames(archivePath, start, sink.nameEncoding(), &wholeWalk);
    return decodeWithLhasa(archivePath, start, names, wholeWalk, sink, message);
}

bool checkLzh(const std::string &archivePath)
{
    const int64_t start = lzhStart(archivePath);
    bool wholeWalk = false;
    const std::vector<StoredName> names = scanLzhNames(archivePath, start, nullptr, &wholeWalk);
    if (!needsLhasa(names))
        return checkWithLibarchive(LibarchiveFormat::Lha, archivePath);
    LzhInput input;
    LhasaReader lhasa;
    if (!wholeWalk || !input.open(archivePath, start) || !lhasa.open(input))
        return false;
    std::size_t count = 0;
    while (lha_reader_next_file(lhasa.reader))
        ++count;
    return count == names.size();
}

} // namespace tenvo::engine

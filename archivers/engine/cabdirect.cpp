// Decoding of a single cabinet's MSZIP and stored folders straight from the file.
#include "cabdirect.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace tenvo::engine {

namespace {

constexpr std::size_t kChunk = 256 * 1024;
constexpr std::size_t kHeaderSize = 36;
constexpr std::size_t kFolderSize = 8;
constexpr std::size_t kBlockHeaderSize = 8;
constexpr uint16_t kFlagPrevious = 0x0001, kFlagNext = 0x0002, kFlagReserve = 0x0004;
enum : unsigned { kMethodStored = 0, kMethodMszip = 1 };
// The format's bounds, as libmspack holds cabinets to them.
constexpr std::size_t kFrameSize = 32768;
constexpr std::size_t kMaxBlockData = kFrameSize + 6144;
constexpr uint64_t kMaxLength = uint64_t(kFrameSize) * 65535;
// As large as the safe writer's buffer: a piece this size, or one that ends
// its file, is written without being copied there first. One byte more, as
// each frame is decoded with a byte of room beyond its 32 KiB.
constexpr std::size_t kOutputSize = 1024 * 1024 + 1;

// libmspack's causes, in the words its path gives them.
constexpr const char *kCutShort = "the cabinet is cut short";
constexpr const char *kCannotRead = "cannot read the cabinet";
constexpr const char *kBadChecksum = "a data block fails its checksum";
constexpr const char *kBadFormat = "the cabinet is damaged or its set is incomplete";
constexpr const char *kBadData = "the data is damaged";

std::atomic<bool> directDecoding{true};
std::atomic<uint64_t> decodedDirectly{0};

// The cabinet checksum: the data as little-endian 32-bit words XORed
// together, a last partial word taken with its first byte highest.
uint32_t blockChecksum(const unsigned char *data, std::size_t size, uint32_t sum)
{
    uint64_t wide = 0;
    std::size_t at = 0;
    for (; at + 8 <= size; at += 8)
        wide ^= le64(data + at);
    sum ^= uint32_t(wide) ^ uint32_t(wide >> 32);
    for (; at + 4 <= size; at += 4)
        sum ^= le32(data + at);
    uint32_t tail = 0;
    for (; at < size; ++at)
        tail = tail << 8 | data[at];
    return sum ^ tail;
}

} // namespace

void setCabDirectDecoding(bool on) { directDecoding = on; }
bool cabDirectDecoding() { return directDecoding; }
uint64_t cabFilesDecodedDirectly() { return decodedDirectly; }

CabDirectFolders::CabDirectFolders() = default;
CabDirectFolders::~CabDirectFolders() = default;

bool CabDirectFolders::open(const std::string &path, const std::vector<CabFolderRecord> &folders)
{
    m_folders.clear();
    m_current = SIZE_MAX;
    unsigned char header[kHeaderSize + 4];
    if (!m_file.open(path) || !m_file.readAt(0, header, kHeaderSize) || std::memcmp(header, "MSCF", 4) != 0)
        return false;
    const uint16_t flags = le16(header + 30);
    const std::size_t folderCount = le16(header + 26);
    if ((flags & (kFlagPrevious | kFlagNext)) || folderCount != folders.size() || folderCount == 0)
        return false;
    uint64_t at = kHeaderSize;
    std::size_t folderReserve = 0;
    m_blockReserve = 0;
    if (flags & kFlagReserve) {
        if (!m_file.readAt(at, header + kHeaderSize, 4))
            return false;
        folderReserve = header[kHeaderSize + 2];
        m_blockReserve = header[kHeaderSize + 3];
        at += 4 + le16(header + kHeaderSize);
    }
    const std::size_t recordSize = kFolderSize + folderReserve;
    std::vector<unsigned char> table(folderCount * recordSize);
    if (!m_file.readAt(at, table.data(), table.size()))
        return false;
    bool any = false;
    for (std::size_t i = 0; i < folderCount; ++i) {
        const unsigned char *record = table.data() + i * recordSize;
        Folder folder;
        folder.dataAt = le32(record);
        folder.blocks = le16(record + 4);
        const unsigned compType = le16(record + 6);
        const unsigned method = compType & 0x0F;
        folder.mszip = method == kMethodMszip;
        folder.taken = (method == kMethodStored || method == kMethodMszip)
            && compType == folders[i].compType && folder.blocks == folders[i].blocks;
        any = any || folder.taken;
        m_folders.push_back(folder);
    }
    if (!any) {
        m_folders.clear();
        return false;
    }
    if (!m_buffer)
        m_buffer = std::make_unique_for_overwrite<unsigned char[]>(kChunk);
    m_bufferSize = 0;
    return true;
}

bool CabDirectFolders::takes(std::size_t folder) const
{
    return folder < m_folders.size() && m_folders[folder].taken;
}

TenvoResult CabDirectFolders::extract(std::size_t folder, uint64_t offset, uint64_t length,
                                      EntrySink &sink, std::string &message)
{
    if (!takes(folder)) {
        message = kBadFormat;
        return TENVO_ERR_DAMAGED;
    }
    // libmspack's bounds: a file must lie within what the folder's blocks
    // can hold.
    if (offset > kMaxLength || length > kMaxLength || offset + length > kMaxLength) {
        message = kBadFormat;
        return TENVO_ERR_DAMAGED;
    }
    if (offset + length > uint64_t(m_folders[folder].blocks) * kFrameSize) {
        message = kBadData;
        return TENVO_ERR_DAMAGED;
    }
    if (m_current != folder || m_position > offset)
        restart(folder);
    if (length == 0)
        return TENVO_OK;
    ++decodedDirectly;
    bool refused = false;
    const bool decoded = produce(offset - m_position, nullptr, refused) && produce(length, &sink, refused);
    if (refused) {
        message = "the data could not be stored";
        return TENVO_ERR_WRITE;
    }
    if (!decoded) {
        message = m_errorMessage;
        return m_error;
    }
    return TENVO_OK;
}

void CabDirectFolders::restart(std::size_t folder)
{
    m_current = folder;
    m_position = 0;
    m_block = 0;
    m_blockAt = m_folders[folder].dataAt;
    m_in = nullptr;
    m_inSize = 0;
    m_out = nullptr;
    m_outSize = 0;
    m_history = nullptr;
    m_error = TENVO_OK;
    m_errorMessage.clear();
    if (m_folders[folder].mszip && !m_inflate) {
        m_inflate = std::make_unique<inflate_state>();
        m_output = std::make_unique_for_overwrite<unsigned char[]>(kOutputSize);
        m_window = std::make_unique<unsigned char[]>(kFrameSize);
    }
}

bool CabDirectFolders::produce(uint64_t size, EntrySink *sink, bool &refused)
{
    while (size > 0) {
        // An error stands once the data decoded before it is used up.
        if (m_outSize == 0 && (m_error != TENVO_OK || !fill()))
            return false;
        const auto piece = std::size_t(std::min<uint64_t>(size, m_outSize));
        if (sink && !refused && !sink->entryData(m_out, piece))
            refused = true;
        m_out += piece;
        m_outSize -= piece;
        m_position += piece;
        size -= piece;
    }
    return true;
}

bool CabDirectFolders::fill()
{
    const Folder &folder = m_folders[m_current];
    if (folder.mszip) {
        // The buffer is decoded over from its start: the history must not
        // be in it.
        if (m_history && m_history != m_window.get()) {
            std::memcpy(m_window.get(), m_history, kFrameSize);
            m_history = m_window.get();
        }
        std::size_t used = 0;
        while (kOutputSize - used >= kFrameSize + 1 && (m_inSize > 0 || m_block < folder.blocks)) {
            std::size_t size = 0;
            if (!nextFrame(m_output.get() + used, size))
                break;
            used += size;
        }
        m_out = m_output.get();
        m_outSize = used;
        if (used > 0)
            return true;
        // Data wanted past the folder's last frame.
        return m_error == TENVO_OK ? fail(TENVO_ERR_DAMAGED, kBadFormat) : false;
    }
    // A stored folder is its blocks' data in a row.
    if (!nextBlock())
        return false;
    m_out = m_in;
    m_outSize = m_inSize;
    m_inSize = 0;
    return true;
}

bool CabDirectFolders::fail(TenvoResult result, const char *text)
{
    m_error = result;
    m_errorMessage = text;
    return false;
}

const unsigned char *CabDirectFolders::bytesAt(uint64_t offset, std::size_t size)
{
    if (offset >= m_bufferAt && offset - m_bufferAt <= m_bufferSize
        && size <= m_bufferSize - (offset - m_bufferAt))
        return m_buffer.get() + (offset - m_bufferAt);
    if (offset > m_file.size() || size > m_file.size() - offset)
        return nullptr;
    const auto n = std::size_t(std::min<uint64_t>(std::max(size, kChunk), m_file.size() - offset));
    m_bufferSize = 0;
    if (!m_file.readAt(offset, m_buffer.get(), n))
        return nullptr;
    m_bufferAt = offset;
    m_bufferSize = n;
    return m_buffer.get();
}

bool CabDirectFolders::nextBlock()
{
    if (m_block >= m_folders[m_current].blocks)
        return fail(TENVO_ERR_DAMAGED, kBadFormat);
    const std::size_t headerSize = kBlockHeaderSize + m_blockReserve;
    const unsigned char *header = bytesAt(m_blockAt, headerSize);
    if (!header)
        return m_file.ioFailed() ? fail(TENVO_ERR_OPEN, kCannotRead) : fail(TENVO_ERR_DAMAGED, kCutShort);
    const uint32_t stored = le32(header);
    const uint32_t sizes = le32(header + 4);
    const std::size_t dataSize = le16(header + 4);
    const std::size_t frameSize = le16(header + 6);
    if (dataSize > kMaxBlockData || frameSize > kFrameSize)
        return fail(TENVO_ERR_DAMAGED, kBadFormat);
    const unsigned char *data = bytesAt(m_blockAt + headerSize, dataSize);
    if (!data)
        return m_file.ioFailed() ? fail(TENVO_ERR_OPEN, kCannotRead) : fail(TENVO_ERR_DAMAGED, kCutShort);
    // The sizes count into the checksum as one more word after the data.
    if (stored != 0 && (blockChecksum(data, dataSize, 0) ^ sizes) != stored)
        return fail(TENVO_ERR_DAMAGED, kBadChecksum);
    // A block continued in a next cabinet, which a cabinet alone lacks.
    if (frameSize == 0)
        return fail(TENVO_ERR_DAMAGED, kBadFormat);
    ++m_block;
    m_blockAt += headerSize + dataSize;
    m_in = data;
    m_inSize = dataSize;
    return true;
}

bool CabDirectFolders::nextFrame(unsigned char *out, std::size_t &size)
{
    // Every frame opens with "CK" on a byte boundary; as libmspack, bytes
    // before it are passed over.
    for (bool sawC = false;;) {
        // A block may hold no data at all.
        while (m_inSize == 0) {
            if (!nextBlock())
                return false;
        }
        const unsigned char byte = *m_in++;
        --m_inSize;
        if (sawC && byte == 'K')
            break;
        sawC = byte == 'C';
    }
    inflate_state &state = *m_inflate;
    isal_inflate_reset(&state);
    state.crc_flag = ISAL_DEFLATE;
    if (m_history
        && isal_inflate_set_dict(&state, const_cast<unsigned char *>(m_history), kFrameSize) != COMP_OK)
        return fail(TENVO_ERR_DAMAGED, kBadData);
    // One byte of room beyond the frame, so that a whole frame reaches its
    // end and a longer one shows.
    state.next_out = out;
    state.avail_out = kFrameSize + 1;
    for (;;) {
        if (m_inSize == 0 && !nextBlock())
            return false;
        state.next_in = const_cast<unsigned char *>(m_in);
        state.avail_in = uint32_t(m_inSize);
        if (isal_inflate(&state) < 0)
            return fail(TENVO_ERR_DAMAGED, kBadData);
        m_in = state.next_in;
        m_inSize = state.avail_in;
        // A frame holds at most 32 KiB.
        if (state.avail_out == 0)
            return fail(TENVO_ERR_DAMAGED, kBadData);
        if (state.block_state == ISAL_BLOCK_FINISH)
            break;
        if (m_inSize != 0)
            return fail(TENVO_ERR_DAMAGED, kBadData);
    }
    size = kFrameSize + 1 - state.avail_out;
    if (size == kFrameSize) {
        m_history = out;
    } else {
        if (!m_history)
            std::memset(m_window.get(), 0, kFrameSize);
        else if (m_history != m_window.get())
            std::memcpy(m_window.get(), m_history, kFrameSize);
        std::memcpy(m_window.get(), out, size);
        m_history = m_window.get();
    }
    return true;
}

} // namespace tenvo::engine

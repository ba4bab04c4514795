// RAR 1.5 to 4 block walker and file-name decoding.
#include "rar4header.h"

#include "namecodec.h"

#include <cstring>
#include <vector>

namespace tenvo::engine {

namespace {

constexpr unsigned char kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
constexpr std::size_t kBaseSize = 7;       // HEAD_CRC, HEAD_TYPE, HEAD_FLAGS, HEAD_SIZE
constexpr std::size_t kFileFixedSize = 32; // up to and including ATTR
constexpr uint16_t kLongBlock = 0x8000;

enum : uint8_t {
    kTypeMain = 0x73,
    kTypeFile = 0x74,
    kTypeNewSub = 0x7A,
    kTypeEnd = 0x7B,
};

std::string utf16ToUtf8(const std::u16string &units)
{
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        uint32_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00
            && units[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            appendUtf8(out, 0xFFFD); // a lone surrogate has no UTF-8 form
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

// RAR's compact UTF-16 name encoding: a high byte shared by many characters,
// then flag bytes whose 2-bit codes say how each character is stored, and
// runs copied from the single-byte name that precedes the encoded part.
std::u16string decodeRarUnicode(const std::string &plain, const unsigned char *enc, std::size_t size)
{
    std::u16string out;
    if (size == 0)
        return out;
    std::size_t pos = 0;
    const uint16_t high = uint16_t(enc[pos++]) << 8;
    unsigned flags = 0;
    int flagBits = 0;
    // A stored name never decodes to more characters than it has bytes.
    const std::size_t limit = plain.size() + size;
    while (pos < size && out.size() < limit) {
        if (flagBits == 0) {
            flags = enc[pos++];
            flagBits = 8;
        }
        flagBits -= 2;
        switch ((flags >> flagBits) & 3) {
        case 0:
            if (pos >= size)
                return out;
            out += char16_t(enc[pos++]);
            break;
        case 1:
            if (pos >= size)
                return out;
            out += char16_t(high | enc[pos++]);
            break;
        case 2:
            if (pos + 1 >= size)
                return out;
            out += char16_t(enc[pos] | (uint16_t(enc[pos + 1]) << 8));
            pos += 2;
            break;
        case 3: {
            if (pos >= size)
                return out;
            unsigned length = enc[pos++];
            if (length & 0x80) {
                if (pos >= size)
                    return out;
                const unsigned char correction = enc[pos++];
                for (length = (length & 0x7F) + 2; length > 0; --length) {
                    if (out.size() >= plain.size())
                        return out;
                    const auto c = uint8_t(uint8_t(plain[out.size()]) + correction);
                    out += char16_t(high | c);
                }
            } else {
                for (length += 2; length > 0; --length) {
                    if (out.size() >= plain.size())
                        return out;
                    out += char16_t(uint8_t(plain[out.size()]));
                }
            }
            break;
        }
        }
    }
    return out;
}

} // namespace

TenvoResult Rar4HeaderReader::open(const std::string &path, std::string &message)
{
    m_result = TENVO_OK;
    m_message.clear();
    m_done = false;
    m_moreVolumes = false;
    if (!m_file.open(path)) {
        message = "cannot open the archive";
        return TENVO_ERR_OPEN;
    }
    unsigned char marker[sizeof(kMarker)];
    if (!m_file.readAt(0, marker, sizeof(marker)) || std::memcmp(marker, kMarker, sizeof(marker)) != 0) {
        message = m_file.ioFailed() ? "cannot read the archive" : "not a RAR 4 archive";
        return m_file.ioFailed() ? TENVO_ERR_OPEN : TENVO_ERR_FORMAT;
    }
    unsigned char base[kBaseSize];
    if (!m_file.readAt(sizeof(kMarker), base, sizeof(base))) {
        message = "the archive header is cut short";
        return TENVO_ERR_DAMAGED;
    }
    const uint16_t headSize = le16(base + 5);
    if (base[2] != kTypeMain || headSize < kBaseSize + 6
        || uint64_t(headSize) > m_file.size() - sizeof(kMarker)) {
        message = "the archive header is damaged";
        return TENVO_ERR_DAMAGED;
    }
    m_mainFlags = le16(base + 3);
    if (m_mainFlags & kRar4MainEncryptedHeaders) {
        message = "the archive's headers are encrypted";
        return TENVO_ERR_ENCRYPTED;
    }
    m_offset = sizeof(kMarker) + headSize;
    return TENVO_OK;
}

Rar4HeaderReader::Step Rar4HeaderReader::fail(TenvoResult result, std::string message)
{
    m_done = true;
    m_result = result;
    m_message = std::move(message);
    return Step::Failed;
}

Rar4HeaderReader::Step Rar4HeaderReader::next(Rar4FileHeader &header)
{
    if (m_done)
        return m_result == TENVO_OK ? Step::End : Step::Failed;
    if (!m_file.isOpen())
        return fail(TENVO_ERR_OPEN, "the archive is not open");

    std::vector<unsigned char> block;
    // Every block is at least kBaseSize long, so the walk always advances.
    for (;;) {
        const uint64_t size = m_file.size();
        if (m_offset == size) {
            // Archives written before the end-of-archive block existed end here.
            m_done = true;
            return Step::End;
        }
        unsigned char base[kBaseSize];
        if (!m_file.readAt(m_offset, base, sizeof(base)))
            return m_file.ioFailed() ? fail(TENVO_ERR_OPEN, "cannot read the archive")
                                     : fail(TENVO_ERR_DAMAGED, "the archive is cut short");
        const uint16_t headCrc = le16(base);
        const uint8_t type = base[2];
        const uint16_t flags = le16(base + 3);
        const uint16_t headSize = le16(base + 5);
        if (headSize < kBaseSize)
            return fail(TENVO_ERR_DAMAGED, "a block header is damaged");
        if (headSize > size - m_offset)
            return fail(TENVO_ERR_DAMAGED, "the archive is cut short");
        block.resize(headSize);
        if (!m_file.readAt(m_offset, block.data(), headSize))
            return fail(TENVO_ERR_OPEN, "cannot read the archive");
        const unsigned char *h = block.data();

        if (type == kTypeEnd) {
            m_done = true;
            if (flags & 0x0001) // another volume follows
                m_moreVolumes = true;
            return Step::End;
        }

        uint64_t dataSize = 0;
        const bool fileLike = type == kTypeFile || type == kTypeNewSub;
        if (fileLike) {
            const std::size_t fixed = kFileFixedSize + ((flags & kRar4FileLarge) ? 8 : 0);
            if (headSize < fixed || headSize < fixed + le16(h + 26))
                return fail(TENVO_ERR_DAMAGED, "a file header is damaged");
            dataSize = le32(h + 7);
            if (flags & kRar4FileLarge)
                dataSize |= uint64_t(le32(h + 32)) << 32;
        } else if (flags & kLongBlock) {
            if (headSize < kBaseSize + 4)
                return fail(TENVO_ERR_DAMAGED, "a block header is damaged");
            dataSize = le32(h + 7);
        }
        const uint64_t dataOffset = m_offset + headSize;
        const bool truncated = dataSize > size - dataOffset;

        if (type == kTypeFile) {
            if ((crc32Update(0, h + 2, headSize - 2) & 0xFFFF) != headCrc)
                return fail(TENVO_ERR_DAMAGED, "a file header fails its check");
            header = Rar4FileHeader {};
            header.offset = m_offset;
            header.headerSize = headSize;
            header.packedSize = dataSize;
            header.fileCrc = le32(h + 16);
            header.flags = flags;
            m_moreVolumes = (flags & kRar4FileSplitAfter) != 0;
            header.unpackedSize = le32(h + 11);
            header.hostOs = h[15];
            header.dosTime = le32(h + 20);
            const uint16_t nameSize = le16(h + 26);
            header.attributes = le32(h + 28);
            std::size_t nameStart = kFileFixedSize;
            if (flags & kRar4FileLarge) {
                header.unpackedSize |= uint64_t(le32(h + 36)) << 32;
                nameStart += 8;
            }
            header.nameField.assign(reinterpret_cast<const char *>(h + nameStart), nameSize);
            header.dataTruncated = truncated;
            if (truncated) {
                m_done = true;
                m_result = TENVO_ERR_DAMAGED;
                m_message = "the archive is cut short";
            } else {
                m_offset = dataOffset + dataSize;
            }
            return Step::File;
        }
        if (truncated)
            return fail(TENVO_ERR_DAMAGED, "the archive is cut short");
        m_offset = dataOffset + dataSize;
    }
}

Rar4Name rar4EntryName(const Rar4FileHeader &header)
{
    const std::string &field = header.nameField;
    if (!(header.flags & kRar4FileUnicodeName))
        return {field, false};
    const std::size_t zero = field.find('\0');
    // With the Unicode flag and no separator the whole field is UTF-8.
    if (zero == std::string::npos)
        return {field, true};
    const std::string plain = field.substr(0, zero);
    const auto *enc = reinterpret_cast<const unsigned char *>(field.data()) + zero + 1;
    std::u16string units = decodeRarUnicode(plain, enc, field.size() - zero - 1);
    const std::size_t end = units.find(u'\0');
    if (end != std::u16string::npos)
        units.resize(end);
    if (units.empty())
        return {plain, false};
    return {utf16ToUtf8(units), true};
}

} // namespace tenvo::engine

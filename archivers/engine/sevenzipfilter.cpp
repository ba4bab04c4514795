// ARM64 and RISC-V branch conversion undone, as 7-Zip and xz define the
// two filters: absolute branch targets written back as relative ones.
#include "sevenzipfilter.h"

#include "decoderutil.h"

namespace tenvo::engine {

namespace {

void putLe32(unsigned char *p, uint32_t value)
{
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
    p[2] = static_cast<unsigned char>(value >> 16);
    p[3] = static_cast<unsigned char>(value >> 24);
}

uint32_t be32(const unsigned char *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// BL and ADRP at each aligned word; returns the bytes done.
std::size_t arm64(unsigned char *data, std::size_t size, uint32_t position)
{
    std::size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        uint32_t instruction = le32(data + i);
        const uint32_t pc = position + uint32_t(i);
        if ((instruction >> 26) == 0x25) {
            // BL: a 26-bit word offset.
            const uint32_t target = instruction - (pc >> 2);
            putLe32(data + i, 0x94000000 | (target & 0x03FFFFFF));
        } else if ((instruction & 0x9F000000) == 0x90000000) {
            // ADRP: a 21-bit page offset, converted only within +-512 MiB.
            const uint32_t source = ((instruction >> 29) & 3) | ((instruction >> 3) & 0x001FFFFC);
            if ((source + 0x00020000) & 0x001C0000)
                continue;
            const uint32_t target = source - (pc >> 12);
            instruction &= 0x9000001F;
            instruction |= (target & 3) << 29;
            instruction |= (target & 0x0003FFFC) << 3;
            instruction |= (0U - (target & 0x00020000)) & 0x00E00000;
            putLe32(data + i, instruction);
        }
    }
    return i;
}

// JAL, and AUIPC with the instruction after it, at each halfword; returns
// the bytes done (the last 8 wait for more).
std::size_t riscV(unsigned char *data, std::size_t size, uint32_t position)
{
    if (size < 8)
        return 0;
    const std::size_t last = size - 8;
    std::size_t i = 0;
    for (; i <= last; i += 2) {
        uint32_t instruction = data[i];
        const uint32_t pc = position + uint32_t(i);
        if (instruction == 0xEF) {
            // JAL with rd x1 or x5: the target was stored absolute.
            const uint32_t b1 = data[i + 1];
            if ((b1 & 0x0D) != 0)
                continue;
            const uint32_t b2 = data[i + 2];
            const uint32_t b3 = data[i + 3];
            uint32_t address = ((b1 & 0xF0) << 13) | (b2 << 9) | (b3 << 1);
            address -= pc;
            data[i + 1] = static_cast<unsigned char>((b1 & 0x0F) | ((address >> 8) & 0xF0));
            data[i + 2] = static_cast<unsigned char>(((address >> 16) & 0x0F) | ((address >> 7) & 0x10)
                                                     | ((address << 4) & 0xE0));
            data[i + 3] = static_cast<unsigned char>(((address >> 4) & 0x7F) | ((address >> 13) & 0x80));
            i += 2;
        } else if ((instruction & 0x7F) == 0x17) {
            // AUIPC.
            instruction |= uint32_t(data[i + 1]) << 8;
            instruction |= uint32_t(data[i + 2]) << 16;
            instruction |= uint32_t(data[i + 3]) << 24;
            uint32_t second = 0;
            if (instruction & 0xE80) {
                // rd is neither x0 nor x2: a pair the encoder left alone
                // but for swapping fields, or no pair at all.
                second = le32(data + i + 4);
                if (((instruction << 8) ^ (second - 3)) & 0xF8003) {
                    i += 4;
                    continue;
                }
                uint32_t address = instruction & 0xFFFFF000;
                address += second >> 20;
                instruction = 0x17 | (2 << 7) | (second << 12);
                second = address;
            } else {
                // rd x0 or x2 marks a converted pair: the address follows,
                // absolute and big-endian.
                const uint32_t secondRs1 = instruction >> 27;
                if (uint32_t((instruction - 0x3117) << 18) >= (secondRs1 & 0x1D)) {
                    i += 2;
                    continue;
                }
                uint32_t address = be32(data + i + 4);
                address -= pc;
                second = (instruction >> 12) | (address << 20);
                instruction = 0x17 | (secondRs1 << 7) | ((address + 0x800) & 0xFFFFF000);
            }
            putLe32(data + i, instruction);
            putLe32(data + i + 4, second);
            i += 6;
        }
    }
    return i;
}

} // namespace

bool BranchFilter::recognizes(const std::string &coderId)
{
    return coderId == std::string(1, '\x0A') || coderId == std::string(1, '\x0B');
}

BranchFilter::BranchFilter(const std::string &coderId, const std::string &properties)
    : m_kind(coderId == std::string(1, '\x0A') ? Kind::Arm64 : Kind::RiscV)
{
    if (properties.size() == 4)
        m_position = le32(reinterpret_cast<const unsigned char *>(properties.data()));
}

std::size_t BranchFilter::convert(unsigned char *data, std::size_t size)
{
    return m_kind == Kind::Arm64 ? arm64(data, size, m_position) : riscV(data, size, m_position);
}

bool BranchFilter::feed(const void *data, std::size_t size, const Output &out)
{
    const auto *bytes = static_cast<const unsigned char *>(data);
    m_pending.insert(m_pending.end(), bytes, bytes + size);
    const std::size_t done = convert(m_pending.data(), m_pending.size());
    if (done == 0)
        return true;
    const bool kept = out(m_pending.data(), done);
    m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(done));
    m_position += uint32_t(done);
    return kept;
}

bool BranchFilter::finish(const Output &out)
{
    const bool kept = m_pending.empty() || out(m_pending.data(), m_pending.size());
    m_position += uint32_t(m_pending.size());
    m_pending.clear();
    return kept;
}

} // namespace tenvo::engine

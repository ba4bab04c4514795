// Decodes LZH members packed with -lh4- to -lh7-: blocks of static Huffman
// codes for literals and match lengths, and for match distances, over a
// dictionary of up to 64 KiB.
#include "lzhhuffman.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace tenvo::engine {

namespace {

constexpr int kMaxCodeBits = 16;
// Literals 0 to 255 and match lengths 3 to 256.
constexpr int kCodeSymbols = 510;
constexpr int kMinMatch = 3;
// The code-length code's symbols: lengths 0 to 16 plus three run codes.
constexpr int kLengthSymbols = 19;
constexpr std::size_t kInputBlock = 64 * 1024;
// Room for the largest dictionary behind the output not yet handed on.
constexpr std::size_t kDictionary = 64 * 1024;
constexpr std::size_t kOutputBlock = 1024 * 1024;
// The longest match, and the 8-byte steps that copy it.
constexpr std::size_t kMaxMatch = 256 + 8;

constexpr uint32_t kSubtable = 1u << 31;

// A decoding table as the inner loop reads it.
struct TableView {
    const uint32_t *primary;
    const uint32_t *sub;
    int primaryBits;
};

// The bit buffer and the unread input, kept in locals by the inner loop.
struct BitState {
    uint64_t bits;
    int count;
    const unsigned char *next;
    const unsigned char *end;

    // Tops the buffer up from the input when 8 bytes are at hand; false when
    // they are not and fewer bits than a literal-or-match needs are left.
    bool refill()
    {
        if (end - next < 8)
            return count >= 48;
        uint64_t word;
        std::memcpy(&word, next, 8);
        bits |= __builtin_bswap64(word) >> count;
        next += std::size_t(63 - count) >> 3;
        count |= 56;
        return true;
    }
    int decode(const TableView &table)
    {
        const uint32_t peek = uint32_t(bits >> 48);
        uint32_t entry = table.primary[peek >> (16 - table.primaryBits)];
        if (entry & kSubtable)
            entry = table.sub[((entry & ~kSubtable) >> 5) + (peek & ((1u << (16 - table.primaryBits)) - 1))];
        const int length = int(entry & 31);
        bits <<= length;
        count -= length;
        return int(entry >> 5);
    }
    uint32_t take(int n)
    {
        const uint32_t value = uint32_t(bits >> (64 - n));
        bits <<= n;
        count -= n;
        return value;
    }
};

// A prefix code decoded by a table indexed with the next primaryBits bits;
// codes longer than that go on through a second table per prefix. An entry
// holds the symbol above 5 bits of code length, or kSubtable and the second
// table's offset.
class HuffmanTable {
public:
    explicit HuffmanTable(int primaryBits)
        : m_primaryBits(primaryBits)
        , m_primary(std::size_t(1) << primaryBits)
    {
    }

    // Every symbol decodes as the one symbol given.
    void setSingle(int symbol)
    {
        std::fill(m_primary.begin(), m_primary.end(), uint32_t(symbol) << 5);
        m_sub.clear();
    }

    // False when the lengths do not make a complete prefix code.
    bool build(const uint8_t *lengths, int count)
    {
        std::array<uint32_t, kMaxCodeBits + 1> perLength{};
        for (int i = 0; i < count; ++i)
            ++perLength[lengths[i]];
        perLength[0] = 0;
        uint32_t filled = 0;
        for (int bits = 1; bits <= kMaxCodeBits; ++bits)
            filled += perLength[bits] << (kMaxCodeBits - bits);
        if (filled != (1u << kMaxCodeBits))
            return false;
        std::array<uint32_t, kMaxCodeBits + 2> next{};
        uint32_t code = 0;
        for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
            code = (code + perLength[bits - 1]) << 1;
            next[bits] = code;
        }
        std::fill(m_primary.begin(), m_primary.end(), 0);
        m_sub.clear();
        const int subBits = kMaxCodeBits - m_primaryBits;
        for (int symbol = 0; symbol < count; ++symbol) {
            const int bits = lengths[symbol];
            if (bits == 0)
                continue;
            const uint32_t symbolCode = next[bits]++;
            const uint32_t entry = uint32_t(symbol) << 5 | uint32_t(bits);
            if (bits <= m_primaryBits) {
                const uint32_t first = symbolCode << (m_primaryBits - bits);
                std::fill_n(m_primary.begin() + first, std::size_t(1) << (m_primaryBits - bits), entry);
                continue;
            }
            uint32_t &slot = m_primary[symbolCode >> (bits - m_primaryBits)];
            if (!(slot & kSubtable)) {
                slot = kSubtable | uint32_t(m_sub.size()) << 5;
                m_sub.resize(m_sub.size() + (std::size_t(1) << subBits));
            }
            const uint32_t rest = symbolCode & ((1u << (bits - m_primaryBits)) - 1);
            const uint32_t first = ((slot & ~kSubtable) >> 5) + (rest << (kMaxCodeBits - bits));
            std::fill_n(m_sub.begin() + first, std::size_t(1) << (kMaxCodeBits - bits), entry);
        }
        return true;
    }

    // peek holds the next 16 bits of the stream; gives the symbol and its
    // code length.
    int decode(uint32_t peek, int &bits) const
    {
        uint32_t entry = m_primary[peek >> (kMaxCodeBits - m_primaryBits)];
        if (entry & kSubtable)
            entry = m_sub[((entry & ~kSubtable) >> 5) + (peek & ((1u << (kMaxCodeBits - m_primaryBits)) - 1))];
        bits = int(entry & 31);
        return int(entry >> 5);
    }

    TableView view() const { return {m_primary.data(), m_sub.data(), m_primaryBits}; }

private:
    int m_primaryBits;
    std::vector<uint32_t> m_primary;
    std::vector<uint32_t> m_sub;
};

// Most significant bit first, as LZH packers write; past the end of the data
// it gives zero bits and counts them, so that a stream that needs them can be
// told from a whole one.
class BitReader {
public:
    explicit BitReader(const PackedReader &read)
        : m_read(read)
        , m_input(std::make_unique_for_overwrite<unsigned char[]>(kInputBlock))
    {
    }

    // At least 57 bits are available after this.
    void refill()
    {
        if (m_end - m_next >= 8) {
            uint64_t word;
            std::memcpy(&word, m_input.get() + m_next, 8);
            word = __builtin_bswap64(word);
            m_bits |= word >> m_count;
            m_next += std::size_t(63 - m_count) >> 3;
            m_count |= 56;
            return;
        }
        while (m_count <= 56) {
            if (m_next == m_end && !fetch()) {
                m_count += 8;
                m_padding += 8;
                continue;
            }
            m_bits |= uint64_t(m_input[m_next++]) << (56 - m_count);
            m_count += 8;
        }
    }
    uint32_t peek16() const { return uint32_t(m_bits >> 48); }
    void consume(int bits)
    {
        m_bits <<= bits;
        m_count -= bits;
    }
    uint32_t take(int bits)
    {
        if (bits == 0)
            return 0;
        refill();
        const uint32_t value = uint32_t(m_bits >> (64 - bits));
        consume(bits);
        return value;
    }
    BitState state() const { return {m_bits, m_count, m_input.get() + m_next, m_input.get() + m_end}; }
    void setState(const BitState &state)
    {
        m_bits = state.bits;
        m_count = state.count;
        m_next = std::size_t(state.next - m_input.get());
    }

    // True when bits beyond the packed data were used.
    bool overran() const { return m_padding > m_count; }
    bool failed() const { return m_failed; }

private:
    bool fetch()
    {
        if (m_atEnd)
            return false;
        const std::ptrdiff_t n = m_read(m_input.get(), kInputBlock);
        if (n <= 0) {
            m_atEnd = true;
            m_failed = n < 0;
            return false;
        }
        m_next = 0;
        m_end = std::size_t(n);
        return true;
    }

    const PackedReader &m_read;
    std::unique_ptr<unsigned char[]> m_input;
    std::size_t m_next = 0;
    std::size_t m_end = 0;
    uint64_t m_bits = 0;
    int m_count = 0;
    int m_padding = 0;
    bool m_atEnd = false;
    bool m_failed = false;
};

class Decoder {
public:
    Decoder(int dictionaryBits, const PackedReader &read)
        : m_in(read)
        , m_distanceSymbols(dictionaryBits <= 13 ? 14 : dictionaryBits == 16 ? 17 : 16)
        , m_distanceCountBits(dictionaryBits <= 13 ? 4 : 5)
    {
    }

    TenvoResult run(uint64_t size, const DecodedWriter &write, std::string &message)
    {
        // The dictionary starts out as blanks, as the packers assume.
        auto window = std::make_unique_for_overwrite<unsigned char[]>(kDictionary + kOutputBlock + kMaxMatch);
        unsigned char *const base = window.get();
        unsigned char *const flushAt = base + kDictionary + kOutputBlock;
        std::memset(base, ' ', kDictionary);
        unsigned char *out = base + kDictionary;
        uint64_t left = size;
        uint32_t codesLeft = 0;
        while (left > 0) {
            if (codesLeft == 0) {
                codesLeft = m_in.take(16);
                if (codesLeft == 0 || !readTables())
                    return damaged(message);
            }
            // The bit buffer and tables in locals: stores into the window
            // could otherwise alias them and force reloads on every code.
            BitState state = m_in.state();
            const TableView codes = m_codes.view();
            const TableView distances = m_distances.view();
            while (codesLeft > 0 && left > 0 && out < flushAt) {
                if (!state.refill()) {
                    m_in.setState(state);
                    m_in.refill();
                    state = m_in.state();
                }
                --codesLeft;
                const int symbol = state.decode(codes);
                if (symbol < 256) {
                    *out++ = uint8_t(symbol);
                    --left;
                    continue;
                }
                // A match may run past flushAt into the slack behind it.
                const std::size_t length = std::size_t(std::min<uint64_t>(symbol - 256 + kMinMatch, left));
                const int distanceBits = state.decode(distances);
                std::size_t distance = std::size_t(distanceBits);
                if (distanceBits > 1)
                    distance = (std::size_t(1) << (distanceBits - 1)) + state.take(distanceBits - 1);
                const unsigned char *from = out - distance - 1;
                if (distance + 1 >= length) {
                    std::memcpy(out, from, length);
                } else if (distance + 1 >= 8) {
                    for (std::size_t i = 0; i < length; i += 8)
                        std::memcpy(out + i, from + i, 8);
                } else {
                    for (std::size_t i = 0; i < length; ++i)
                        out[i] = from[i];
                }
                out += length;
                left -= length;
            }
            m_in.setState(state);
            if (out >= flushAt) {
                if (!write(base + kDictionary, std::size_t(out - base) - kDictionary))
                    return refused(message);
                std::memmove(base, out - kDictionary, kDictionary);
                out = base + kDictionary;
            }
        }
        if (m_in.failed()) {
            message = "the archive cannot be read";
            return TENVO_ERR_OPEN;
        }
        if (m_in.overran())
            return damaged(message);
        if (out > base + kDictionary && !write(base + kDictionary, std::size_t(out - base) - kDictionary))
            return refused(message);
        return TENVO_OK;
    }

private:
    static TenvoResult damaged(std::string &message)
    {
        message = "the entry's data is cut short or does not decode";
        return TENVO_ERR_DAMAGED;
    }
    static TenvoResult refused(std::string &message)
    {
        message = "the data could not be stored";
        return TENVO_ERR_WRITE;
    }

    // The three tables that begin each block.
    bool readTables()
    {
        return readLengthCode(kLengthSymbols, 5, 3, m_lengthCode) && readCodeLengths()
            && readLengthCode(m_distanceSymbols, m_distanceCountBits, -1, m_distances);
    }

    // Code lengths stored as 3-bit numbers, 7 and up continued in unary; after
    // the symbol at skipAfter a 2-bit count of zero lengths follows.
    bool readLengthCode(int symbols, int countBits, int skipAfter, HuffmanTable &table)
    {
        const int count = int(m_in.take(countBits));
        if (count == 0) {
            const int only = int(m_in.take(countBits));
            if (only >= symbols)
                return false;
            table.setSingle(only);
            return true;
        }
        if (count > symbols)
            return false;
        std::array<uint8_t, kLengthSymbols> lengths{};
        int i = 0;
        while (i < count) {
            m_in.refill();
            const uint32_t peek = m_in.peek16();
            int length = int(peek >> 13);
            if (length == 7) {
                for (uint32_t mask = 1u << 12; peek & mask; mask >>= 1) {
                    if (++length > kMaxCodeBits)
                        return false;
                }
                m_in.consume(length - 3);
            } else {
                m_in.consume(3);
            }
            lengths[i++] = uint8_t(length);
            if (i == skipAfter) {
                for (int zeros = int(m_in.take(2)); zeros > 0 && i < symbols; --zeros)
                    lengths[i++] = 0;
            }
        }
        return table.build(lengths.data(), symbols);
    }

    bool readCodeLengths()
    {
        const int count = int(m_in.take(9));
        if (count == 0) {
            const int only = int(m_in.take(9));
            if (only >= kCodeSymbols)
                return false;
            m_codes.setSingle(only);
            return true;
        }
        if (count > kCodeSymbols)
            return false;
        std::array<uint8_t, kCodeSymbols> lengths{};
        int i = 0;
        while (i < count) {
            m_in.refill();
            int bits = 0;
            const int symbol = m_lengthCode.decode(m_in.peek16(), bits);
            m_in.consume(bits);
            if (symbol > 2) {
                lengths[i++] = uint8_t(symbol - 2);
                continue;
            }
            const int zeros = symbol == 0 ? 1 : symbol == 1 ? int(m_in.take(4)) + 3 : int(m_in.take(9)) + 20;
            if (zeros > count - i)
                return false;
            i += zeros;
        }
        return m_codes.build(lengths.data(), kCodeSymbols);
    }

    BitReader m_in;
    const int m_distanceSymbols;
    const int m_distanceCountBits;
    HuffmanTable m_lengthCode{8};
    HuffmanTable m_codes{12};
    HuffmanTable m_distances{8};
};

} // namespace

int lzhDictionaryBits(const std::string &method)
{
    if (method == "-lh4-")
        return 12;
    if (method == "-lh5-")
        return 13;
    if (method == "-lh6-")
        return 15;
    if (method == "-lh7-")
        return 16;
    return 0;
}

TenvoResult decodeLzhHuffman(int dictionaryBits, uint64_t size, const PackedReader &read,
                             const DecodedWriter &write, std::string &message)
{
    Decoder decoder(dictionaryBits, read);
    return decoder.run(size, write, message);
}

} // namespace tenvo::engine

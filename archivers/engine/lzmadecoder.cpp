// The engine's own LZMA and LZMA2 decoder: a range decoder kept in locals in
// one hot loop, literal and tree bits decoded without branches, every
// probability in one array, matches copied 16 bytes at a time where the
// distance allows.
#include "lzmadecoder.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace tenvo::engine {

namespace {

// Copies len bytes forward Step at a time, so the last step may write up to
// Step - 1 bytes past the end: only for a source at least Step bytes behind
// the destination, with room after it.
template <std::size_t Step>
inline void copyInSteps(unsigned char *d, const unsigned char *s, std::size_t len)
{
    unsigned char *const e = d + len;
    do {
        std::memcpy(d, s, Step);
        d += Step;
        s += Step;
    } while (d < e);
}

// Output is handed on at least this often, so writing overlaps decoding.
constexpr std::size_t kOutputBlock = 1 << 20;
// No symbol takes more input than this: the hot loop checks the input once
// per symbol, and the buffer holds this much beyond what it checks.
constexpr std::size_t kSymbolInput = 64;
constexpr std::size_t kInputBlock = 256 * 1024;
// Room behind the window for the copies that overshoot a match's end, and
// history beyond the dictionary so that overshoot never reaches it.
constexpr std::size_t kWindowSlack = 128;

constexpr unsigned kStates = 12;
constexpr unsigned kPosStatesMax = 16;
constexpr unsigned kLenProbs = 2 + 2 * kPosStatesMax * 8 + 256;
constexpr unsigned kIsMatch = 0;
constexpr unsigned kIsRep = kIsMatch + kStates * kPosStatesMax;
constexpr unsigned kIsRepG0 = kIsRep + kStates;
constexpr unsigned kIsRepG1 = kIsRepG0 + kStates;
constexpr unsigned kIsRepG2 = kIsRepG1 + kStates;
constexpr unsigned kIsRep0Long = kIsRepG2 + kStates;
constexpr unsigned kPosSlot = kIsRep0Long + kStates * kPosStatesMax;
constexpr unsigned kSpecPos = kPosSlot + 4 * 64;
constexpr unsigned kAlign = kSpecPos + 128;
constexpr unsigned kLenMatch = kAlign + 16;
constexpr unsigned kLenRep = kLenMatch + kLenProbs;
constexpr unsigned kLiteral = kLenRep + kLenProbs;

constexpr uint32_t kTop = 1u << 24;

struct Properties {
    unsigned lc = 0;
    unsigned lp = 0;
    unsigned pb = 0;
    uint32_t dictionary = 0;
};

bool parseLcLpPb(unsigned byte, Properties &p)
{
    if (byte >= 9 * 5 * 5)
        return false;
    p.lc = byte % 9;
    p.lp = byte / 9 % 5;
    p.pb = byte / 45;
    return true;
}

bool parseProperties(LzmaMethod method, const std::string &bytes, Properties &p)
{
    if (method == LzmaMethod::Lzma) {
        if (bytes.size() < 5 || !parseLcLpPb(static_cast<unsigned char>(bytes[0]), p))
            return false;
        p.dictionary = 0;
        for (int i = 4; i >= 1; --i)
            p.dictionary = (p.dictionary << 8) | static_cast<unsigned char>(bytes[std::size_t(i)]);
        p.dictionary = std::max<uint32_t>(p.dictionary, 4096);
        return true;
    }
    if (bytes.size() < 1)
        return false;
    const unsigned bits = static_cast<unsigned char>(bytes[0]);
    if (bits > 40)
        return false;
    p.dictionary = bits == 40 ? 0xFFFFFFFFu : (2u | (bits & 1)) << (bits / 2 + 11);
    return true;
}

uint64_t windowFor(uint32_t dictionary, uint64_t size)
{
    return (std::min<uint64_t>(dictionary, std::max<uint64_t>(size, 1)) + 63) / 64 * 64 + kWindowSlack;
}

// The packed bytes, read in blocks; kSymbolInput readable bytes always lie
// past the end of what was read.
class PackedInput {
public:
    explicit PackedInput(const PackedReader &read)
        : m_read(read)
        , m_buffer(std::make_unique<unsigned char[]>(kInputBlock + 2 * kSymbolInput))
        , m_cur(m_buffer.get())
        , m_end(m_buffer.get())
    {
    }
    const unsigned char *cur() const { return m_cur; }
    const unsigned char *end() const { return m_end; }
    void setCur(const unsigned char *cur) { m_cur = cur; }
    bool atEnd() const { return m_eof; }
    bool failed() const { return m_failed; }
    // Makes at least need bytes (need <= kInputBlock) readable from cur();
    // false when the stream ends first or cannot be read.
    bool fill(std::size_t need)
    {
        if (std::size_t(m_end - m_cur) >= need)
            return true;
        const std::size_t kept = std::size_t(m_end - m_cur);
        std::memmove(m_buffer.get(), m_cur, kept);
        m_cur = m_buffer.get();
        m_end = m_cur + kept;
        while (!m_eof && std::size_t(m_end - m_cur) < need) {
            const std::ptrdiff_t n = m_read(const_cast<unsigned char *>(m_end),
                                            kInputBlock - std::size_t(m_end - m_cur));
            if (n < 0) {
                m_failed = true;
                m_eof = true;
            } else if (n == 0) {
                m_eof = true;
            } else {
                m_end += n;
            }
        }
        // What a damaged stream reads past its end is zeros.
        std::memset(const_cast<unsigned char *>(m_end), 0, kSymbolInput);
        return std::size_t(m_end - m_cur) >= need;
    }
    bool byte(unsigned &value)
    {
        if (!fill(1))
            return false;
        value = *m_cur++;
        return true;
    }

private:
    const PackedReader &m_read;
    std::unique_ptr<unsigned char[]> m_buffer;
    const unsigned char *m_cur;
    const unsigned char *m_end;
    bool m_eof = false;
    bool m_failed = false;
};

// The window, in pages of its own. Matches reach back anywhere in it, so a
// large one is asked for in huge pages where the system gives them: with
// small pages most far matches also miss the TLB.
//
// Built with AddressSanitizer, it is a plain allocation instead, so that a
// read or write past its end is caught.
#if defined(__SANITIZE_ADDRESS__)
#define TENVO_WINDOW_ON_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TENVO_WINDOW_ON_HEAP 1
#endif
#endif
#ifdef TENVO_WINDOW_ON_HEAP
class Window {
public:
    explicit Window(std::size_t size)
        : m_data(std::make_unique<unsigned char[]>(size))
    {
    }
    unsigned char *get() const { return m_data.get(); }

private:
    std::unique_ptr<unsigned char[]> m_data;
};
#else
class Window {
public:
    explicit Window(std::size_t size)
    {
        constexpr std::size_t kHugePage = std::size_t(2) << 20;
        const bool huge = size >= kHugePage;
        m_size = huge ? (size + kHugePage - 1) / kHugePage * kHugePage : size;
        const std::size_t mapped = huge ? m_size + kHugePage : m_size;
        void *const memory = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED)
            throw std::bad_alloc();
        auto *const start = static_cast<unsigned char *>(memory);
        m_data = start;
        if (huge) {
            // Aligned to a huge page; what lies around it is given back.
            const auto address = reinterpret_cast<std::uintptr_t>(start);
            m_data = start + ((kHugePage - address % kHugePage) % kHugePage);
            if (m_data > start)
                ::munmap(start, std::size_t(m_data - start));
            if (start + mapped > m_data + m_size)
                ::munmap(m_data + m_size, std::size_t(start + mapped - (m_data + m_size)));
            ::madvise(m_data, m_size, MADV_HUGEPAGE);
        }
    }
    ~Window() { ::munmap(m_data, m_size); }
    Window(const Window &) = delete;
    Window &operator=(const Window &) = delete;
    unsigned char *get() const { return m_data; }

private:
    unsigned char *m_data = nullptr;
    std::size_t m_size = 0;
};
#endif

class Decoder {
public:
    enum class Status { Ok, Damaged, EndMark };

    Decoder(uint64_t windowSize, uint32_t dictionary, const DecodedWriter &write)
        : m_window(std::size_t(windowSize) + kWindowSlack)
        , m_windowSize(std::size_t(windowSize))
        , m_dictLimit(uint32_t(std::min<uint64_t>(dictionary, windowSize - kWindowSlack)))
        , m_probs(kLiteral + (0x300u << 4))
        , m_write(write)
    {
    }

    void setProperties(const Properties &p)
    {
        m_lc = p.lc;
        m_lpMask = (1u << p.lp) - 1;
        m_pbMask = (1u << p.pb) - 1;
        m_literals = 0x300u << (p.lc + p.lp);
        if (m_probs.size() < kLiteral + m_literals)
            m_probs.resize(kLiteral + m_literals);
    }
    void resetState()
    {
        std::fill(m_probs.begin(), m_probs.begin() + kLiteral + m_literals, uint16_t(1024));
        m_state = 0;
        m_rep0 = m_rep1 = m_rep2 = m_rep3 = 0;
        m_pending = 0;
    }
    // The history is forgotten; positions count from here again.
    bool resetDictionary()
    {
        if (!flush())
            return false;
        m_pos = 0;
        m_flushed = 0;
        m_full = false;
        return true;
    }
    // Starts the range decoder on the five bytes at in.
    bool startRange(const unsigned char *in)
    {
        m_in = in + 5;
        m_range = 0xFFFFFFFFu;
        m_code = uint32_t(in[1]) << 24 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 8 | in[4];
        return in[0] == 0 && m_code != 0xFFFFFFFFu;
    }
    const unsigned char *in() const { return m_in; }
    void setIn(const unsigned char *in) { m_in = in; }
    bool matchPending() const { return m_pending != 0; }

    // How far the next run may go at most: the window's end or the next block.
    std::size_t room() const { return std::min(m_windowSize, m_flushed + kOutputBlock) - m_pos; }
    // Hands on a full block or a full window.
    bool flushIfDue()
    {
        if (m_pos < m_flushed + kOutputBlock && m_pos < m_windowSize)
            return true;
        if (!flush())
            return false;
        if (m_pos == m_windowSize) {
            m_pos = 0;
            m_flushed = 0;
            m_full = true;
        }
        return true;
    }
    bool flush()
    {
        if (m_pos > m_flushed && !m_write(m_window.get() + m_flushed, m_pos - m_flushed))
            return false;
        m_flushed = m_pos;
        return true;
    }
    // Stored bytes (at most room()) taken into the window as they are.
    void putStored(const unsigned char *data, std::size_t size)
    {
        std::memcpy(m_window.get() + m_pos, data, size);
        m_pos += size;
    }

    // Decodes up to count bytes (at most room()), stopping early when the
    // input passes inLimit. Adds what it produced to done.
    Status run(std::size_t count, const unsigned char *inLimit, std::size_t &done);

private:
    Window m_window;
    std::size_t m_windowSize;
    uint32_t m_dictLimit;
    std::vector<uint16_t> m_probs;
    const DecodedWriter &m_write;
    unsigned m_lc = 0;
    unsigned m_lpMask = 0;
    unsigned m_pbMask = 0;
    unsigned m_literals = 0x300;
    std::size_t m_pos = 0;
    std::size_t m_flushed = 0;
    bool m_full = false;
    unsigned m_state = 0;
    uint32_t m_rep0 = 0, m_rep1 = 0, m_rep2 = 0, m_rep3 = 0;
    // What is left to copy of a match that reached the end of a run.
    uint32_t m_pending = 0;
    const unsigned char *m_in = nullptr;
    uint32_t m_range = 0;
    uint32_t m_code = 0;
};

Decoder::Status Decoder::run(std::size_t count, const unsigned char *inLimit, std::size_t &done)
{
    unsigned char *const w = m_window.get();
    const std::size_t windowSize = m_windowSize;
    std::size_t pos = m_pos;
    const std::size_t start = pos;
    const std::size_t limit = pos + count;
    uint32_t rep0 = m_rep0;

    // The rest of a match cut by the last run's end.
    while (m_pending > 0 && pos < limit) {
        const std::size_t src = pos > rep0 ? pos - rep0 - 1 : pos + windowSize - rep0 - 1;
        w[pos++] = w[src];
        --m_pending;
    }

    const unsigned char *in = m_in;
    uint32_t range = m_range;
    uint32_t code = m_code;
    unsigned state = m_state;
    uint32_t rep1 = m_rep1, rep2 = m_rep2, rep3 = m_rep3;
    bool full = m_full;
    uint16_t *const probs = m_probs.data();
    const unsigned lc = m_lc;
    const unsigned lpMask = m_lpMask;
    const unsigned pbMask = m_pbMask;
    const uint32_t dictLimit = m_dictLimit;
    Status status = Status::Ok;

    const auto bit = [&](uint16_t &prob) __attribute__((always_inline)) -> unsigned {
        const uint32_t p = prob;
        const uint32_t bound = (range >> 11) * p;
        unsigned result;
        if (code < bound) {
            range = bound;
            prob = uint16_t(p + ((2048 - p) >> 5));
            result = 0;
        } else {
            range -= bound;
            code -= bound;
            prob = uint16_t(p - (p >> 5));
            result = 1;
        }
        if (range < kTop) {
            range <<= 8;
            code = (code << 8) | *in++;
        }
        return result;
    };
    // The same bit decoded without a branch on its value: for the bits of
    // literals and trees, which a branch predictor cannot guess.
    const auto bitWithoutBranch = [&](uint16_t &prob) __attribute__((always_inline)) -> unsigned {
        const uint32_t p = prob;
        const uint32_t bound = (range >> 11) * p;
        const unsigned result = code >= bound;
        const uint32_t mask = 0u - result;
        range = ((range - bound) & mask) | (bound & ~mask);
        code -= bound & mask;
        prob = uint16_t(p + (((2048 - p) >> 5) & ~mask) - ((p >> 5) & mask));
        if (range < kTop) {
            range <<= 8;
            code = (code << 8) | *in++;
        }
        return result;
    };
    const auto tree = [&](uint16_t *p, unsigned bits) __attribute__((always_inline)) -> unsigned {
        unsigned m = 1;
        for (unsigned i = 0; i < bits; ++i)
            m = (m << 1) | bitWithoutBranch(p[m]);
        return m - (1u << bits);
    };
    const auto reverseTree = [&](uint16_t *p, unsigned bits) __attribute__((always_inline)) -> unsigned {
        unsigned m = 1;
        unsigned symbol = 0;
        for (unsigned i = 0; i < bits; ++i) {
            const unsigned b = bitWithoutBranch(p[m]);
            m = (m << 1) | b;
            symbol |= b << i;
        }
        return symbol;
    };
    const auto length = [&](uint16_t *p, unsigned posState) __attribute__((always_inline)) -> unsigned {
        if (!bit(p[0]))
            return tree(p + 2 + posState * 8, 3);
        if (!bit(p[1]))
            return 8 + tree(p + 2 + kPosStatesMax * 8 + posState * 8, 3);
        return 16 + tree(p + 2 + 2 * kPosStatesMax * 8, 8);
    };

    while (pos < limit && in <= inLimit) {
        const unsigned posState = unsigned(pos) & pbMask;
        if (!bit(probs[kIsMatch + state * kPosStatesMax + posState])) {
            const unsigned prev = pos > 0 ? w[pos - 1] : full ? w[windowSize - 1] : 0;
            uint16_t *const lit = probs + kLiteral
                + 0x300 * (((unsigned(pos) & lpMask) << lc) + (prev >> (8 - lc)));
            unsigned symbol = 1;
            if (state < 7) {
                do
                    symbol = (symbol << 1) | bitWithoutBranch(lit[symbol]);
                while (symbol < 0x100);
                state = state < 4 ? 0 : state - 3;
            } else {
                unsigned matchByte = w[pos > rep0 ? pos - rep0 - 1 : pos + windowSize - rep0 - 1];
                // offs stays 0x100 while the bits agree with the match byte's.
                unsigned offs = 0x100;
                do {
                    matchByte <<= 1;
                    const unsigned b = bitWithoutBranch(lit[offs + (offs & matchByte) + symbol]);
                    symbol = (symbol << 1) | b;
                    offs &= matchByte ^ (b - 1);
                } while (symbol < 0x100);
                state = state < 10 ? state - 3 : state - 6;
            }
            w[pos++] = uint8_t(symbol);
            continue;
        }

        unsigned len;
        if (!bit(probs[kIsRep + state])) {
            len = length(probs + kLenMatch, posState);
            state = state < 7 ? 7 : 10;
            const unsigned slot = tree(probs + kPosSlot + (std::min(len, 3u) << 6), 6);
            uint32_t dist;
            if (slot < 4) {
                dist = slot;
            } else {
                const unsigned direct = (slot >> 1) - 1;
                dist = (2 | (slot & 1)) << direct;
                if (slot < 14) {
                    dist += reverseTree(probs + kSpecPos + dist - slot, direct);
                } else {
                    uint32_t high = 0;
                    for (unsigned i = direct - 4; i > 0; --i) {
                        range >>= 1;
                        const uint32_t b = code >= range;
                        code -= range & (0u - b);
                        high = (high << 1) | b;
                        if (range < kTop) {
                            range <<= 8;
                            code = (code << 8) | *in++;
                        }
                    }
                    dist += high << 4;
                    dist += reverseTree(probs + kAlign, 4);
                }
            }
            rep3 = rep2;
            rep2 = rep1;
            rep1 = rep0;
            rep0 = dist;
            if (dist >= dictLimit || (!full && dist >= pos)) {
                status = dist == 0xFFFFFFFFu ? Status::EndMark : Status::Damaged;
                break;
            }
        } else {
            if (!full && pos == 0) {
                status = Status::Damaged;
                break;
            }
            if (!bit(probs[kIsRepG0 + state])) {
                if (!bit(probs[kIsRep0Long + state * kPosStatesMax + posState])) {
                    state = state < 7 ? 9 : 11;
                    w[pos] = w[pos > rep0 ? pos - rep0 - 1 : pos + windowSize - rep0 - 1];
                    ++pos;
                    continue;
                }
            } else {
                uint32_t dist;
                if (!bit(probs[kIsRepG1 + state])) {
                    dist = rep1;
                } else {
                    if (!bit(probs[kIsRepG2 + state])) {
                        dist = rep2;
                    } else {
                        dist = rep3;
                        rep3 = rep2;
                    }
                    rep2 = rep1;
                }
                rep1 = rep0;
                rep0 = dist;
            }
            len = length(probs + kLenRep, posState);
            state = state < 7 ? 8 : 11;
        }

        len += 2;
        if (len > limit - pos) {
            m_pending = uint32_t(len - (limit - pos));
            len = unsigned(limit - pos);
        }
        const std::size_t src = pos > rep0 ? pos - rep0 - 1 : pos + windowSize - rep0 - 1;
        if (src + len <= windowSize && rep0 >= 15) {
            // Overshoot lands behind the match, on history older than the
            // dictionary, or in the slack behind the window.
            copyInSteps<16>(w + pos, w + src, len);
        } else if (src + len <= windowSize && rep0 >= 7) {
            copyInSteps<8>(w + pos, w + src, len);
        } else if (rep0 == 0 && pos > 0) {
            std::memset(w + pos, w[pos - 1], len);
        } else {
            std::size_t s = src;
            for (unsigned i = 0; i < len; ++i) {
                w[pos + i] = w[s];
                if (++s == windowSize)
                    s = 0;
            }
        }
        pos += len;
    }

    done += pos - start;
    m_pos = pos;
    m_in = in;
    m_range = range;
    m_code = code;
    m_state = state;
    m_rep0 = rep0;
    m_rep1 = rep1;
    m_rep2 = rep2;
    m_rep3 = rep3;
    return status;
}

TenvoResult damaged(std::string &message, const char *text = "the LZMA data is damaged")
{
    message = text;
    return TENVO_ERR_DAMAGED;
}

TenvoResult inputEnded(const PackedInput &input, std::string &message)
{
    if (input.failed()) {
        message = "cannot read the archive";
        return TENVO_ERR_OPEN;
    }
    return damaged(message, "the LZMA data is cut short");
}

TenvoResult refused(std::string &message)
{
    message = "the data could not be stored";
    return TENVO_ERR_WRITE;
}

TenvoResult decodeLzma1(Decoder &decoder, const Properties &props, uint64_t size, PackedInput &input,
                        std::string &message)
{
    decoder.setProperties(props);
    decoder.resetState();
    if (!input.fill(5) || !decoder.startRange(input.cur()))
        return input.fill(5) ? damaged(message) : inputEnded(input, message);
    input.setCur(decoder.in());
    uint64_t left = size;
    while (left > 0) {
        if (!input.atEnd() && std::size_t(input.end() - input.cur()) < kSymbolInput) {
            input.fill(kInputBlock / 2);
            decoder.setIn(input.cur());
        }
        const unsigned char *const inLimit = input.atEnd() ? input.end() : input.end() - kSymbolInput;
        std::size_t done = 0;
        const auto status = decoder.run(std::size_t(std::min<uint64_t>(left, decoder.room())), inLimit, done);
        input.setCur(decoder.in());
        left -= done;
        if (input.cur() > input.end())
            return inputEnded(input, message);
        if (status != Decoder::Status::Ok)
            return status == Decoder::Status::EndMark ? damaged(message, "the LZMA data ends early")
                                                      : damaged(message);
        if (!decoder.flushIfDue())
            return refused(message);
    }
    return decoder.flush() ? TENVO_OK : refused(message);
}

TenvoResult decodeLzma2(Decoder &decoder, uint64_t size, PackedInput &input, std::string &message)
{
    bool needDictionary = true;
    bool needProperties = true;
    uint64_t produced = 0;
    for (;;) {
        unsigned control = 0;
        if (!input.byte(control))
            return inputEnded(input, message);
        if (control == 0)
            break;
        if (control >= 3 && control < 0x80)
            return damaged(message);
        unsigned char head[5] = {};
        const std::size_t headSize = control < 0x80 ? 2 : (control >> 5) >= 6 ? 5 : 4;
        if (!input.fill(headSize))
            return inputEnded(input, message);
        std::memcpy(head, input.cur(), headSize);
        input.setCur(input.cur() + headSize);

        const bool resetDictionary = control == 1 || control >= 0xE0;
        if (resetDictionary) {
            if (!decoder.resetDictionary())
                return refused(message);
            needDictionary = false;
        } else if (needDictionary) {
            return damaged(message);
        }
        if (control < 0x80) {
            std::size_t left = (std::size_t(head[0]) << 8 | head[1]) + 1;
            if (left > size - produced)
                return damaged(message, "the LZMA data is longer than its file");
            produced += left;
            while (left > 0) {
                if (!input.fill(1))
                    return inputEnded(input, message);
                const std::size_t n = std::min({left, std::size_t(input.end() - input.cur()), decoder.room()});
                decoder.putStored(input.cur(), n);
                input.setCur(input.cur() + n);
                left -= n;
                if (!decoder.flushIfDue())
                    return refused(message);
            }
            continue;
        }

        std::size_t unpacked = ((std::size_t(control) & 0x1F) << 16 | std::size_t(head[0]) << 8 | head[1]) + 1;
        const std::size_t packed = (std::size_t(head[2]) << 8 | head[3]) + 1;
        const unsigned mode = (control >> 5) & 3;
        if (mode >= 2) {
            Properties props;
            if (!parseLcLpPb(head[4], props) || props.lc + props.lp > 4)
                return damaged(message);
            decoder.setProperties(props);
            needProperties = false;
        } else if (needProperties) {
            return damaged(message);
        }
        if (mode >= 1)
            decoder.resetState();
        if (unpacked > size - produced)
            return damaged(message, "the LZMA data is longer than its file");
        produced += unpacked;
        if (packed < 5 || !input.fill(packed))
            return packed < 5 ? damaged(message) : inputEnded(input, message);
        const unsigned char *const chunkEnd = input.cur() + packed;
        if (!decoder.startRange(input.cur()))
            return damaged(message);
        while (unpacked > 0) {
            std::size_t done = 0;
            const auto status = decoder.run(std::min(unpacked, decoder.room()), chunkEnd, done);
            unpacked -= done;
            if (status != Decoder::Status::Ok || decoder.in() > chunkEnd)
                return damaged(message);
            if (!decoder.flushIfDue())
                return refused(message);
        }
        if (decoder.matchPending())
            return damaged(message);
        input.setCur(chunkEnd);
    }
    if (produced != size)
        return damaged(message, "the LZMA data ends early");
    return decoder.flush() ? TENVO_OK : refused(message);
}

} // namespace

bool lzmaDecodable(LzmaMethod method, const std::string &properties, uint64_t size)
{
    Properties props;
    return parseProperties(method, properties, props) && windowFor(props.dictionary, size) <= kLzmaMaxWindow;
}

TenvoResult decodeLzma(LzmaMethod method, const std::string &properties, uint64_t size,
                       const PackedReader &read, const DecodedWriter &write, std::string &message)
{
    Properties props;
    if (!parseProperties(method, properties, props)) {
        message = "the LZMA properties are not ones read here";
        return TENVO_ERR_METHOD;
    }
    const uint64_t window = windowFor(props.dictionary, size);
    if (window > kLzmaMaxWindow) {
        message = "the LZMA dictionary is too large";
        return TENVO_ERR_METHOD;
    }
    std::unique_ptr<Decoder> decoder;
    try {
        decoder = std::make_unique<Decoder>(window, props.dictionary, write);
    } catch (const std::bad_alloc &) {
        message = "out of memory";
        return TENVO_ERR_WRITE;
    }
    PackedInput input(read);
    return method == LzmaMethod::Lzma ? decodeLzma1(*decoder, props, size, input, message)
                                      : decodeLzma2(*decoder, size, input, message);
}

} // namespace tenvo::engine

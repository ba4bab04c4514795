// Bounded file reads, CRC-32 and MS-DOS time stamps for the decoders.
#include "decoderutil.h"
#include "volumeset.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tenvo::engine {

FileReader::~FileReader() { closeAll(); }

void FileReader::closeAll()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    for (const Piece &piece : m_pieces)
        ::close(piece.fd);
    m_pieces.clear();
}

namespace {

// A regular file opened for reading, never blocking (a FIFO given as an
// archive would block the open); -1 with errno, or 0 in error for another kind.
int openRegular(const std::string &path, uint64_t &size, int &error)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = S_ISREG(st.st_mode) ? errno : 0;
        ::close(fd);
        return -1;
    }
    size = uint64_t(st.st_size);
    return fd;
}

} // namespace

bool FileReader::open(const std::string &path)
{
    closeAll();
    m_ioFailed = false;
    m_openError = 0;
    m_fd = openRegular(path, m_size, m_openError);
    if (m_fd < 0)
        return false;
    const NumberedParts parts = joinedParts(path);
    if (!parts.paths.empty() && parts.paths.front() != path) {
        // A split ZIP begins in its ".z01".
        uint64_t size = 0;
        int error = 0;
        const int first = openRegular(parts.paths.front(), size, error);
        if (first >= 0) {
            ::close(m_fd);
            m_fd = first;
            m_size = size;
        }
    }
    m_firstSize = m_size;
    for (std::size_t i = 1; i < parts.paths.size() && m_firstSize != 0; ++i) {
        uint64_t size = 0;
        int error = 0;
        const int fd = openRegular(parts.paths[i], size, error);
        // A part that cannot be read ends the joined stream there, as a
        // missing one does.
        if (fd < 0)
            break;
        m_pieces.push_back({fd, m_size, size});
        m_size += size;
    }
    return true;
}

bool FileReader::readPiece(int fd, uint64_t offset, unsigned char *out, std::size_t size)
{
    while (size > 0) {
        ssize_t n = ::pread(fd, out, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // The file shrank under us or the device failed.
            m_ioFailed = n < 0;
            return false;
        }
        out += n;
        offset += uint64_t(n);
        size -= std::size_t(n);
    }
    return true;
}

bool FileReader::readAt(uint64_t offset, void *buffer, std::size_t size)
{
    if (m_fd < 0 || offset > m_size || size > m_size - offset)
        return false;
    auto *out = static_cast<unsigned char *>(buffer);
    if (offset < m_firstSize) {
        const auto n = std::size_t(std::min<uint64_t>(size, m_firstSize - offset));
        if (!readPiece(m_fd, offset, out, n))
            return false;
        out += n;
        offset += n;
        size -= n;
    }
    for (const Piece &piece : m_pieces) {
        if (size == 0)
            break;
        if (offset >= piece.start + piece.size)
            continue;
        const auto n = std::size_t(std::min<uint64_t>(size, piece.start + piece.size - offset));
        if (!readPiece(piece.fd, offset - piece.start, out, n))
            return false;
        out += n;
        offset += n;
        size -= n;
    }
    return size == 0;
}

namespace {

// Eight tables let the loop take eight bytes per step (slice-by-8); the
// stored-entry checks of RAR archives spend most of their time here.
constexpr std::array<std::array<uint32_t, 256>, 8> makeCrcTables()
{
    std::array<std::array<uint32_t, 256>, 8> tables {};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i) {
        for (std::size_t t = 1; t < 8; ++t)
            tables[t][i] = (tables[t - 1][i] >> 8) ^ tables[0][tables[t - 1][i] & 0xFF];
    }
    return tables;
}

constexpr auto kCrcTables = makeCrcTables();

} // namespace

namespace {

// The register form: crc is the running value before the final inversion.
uint32_t crc32Tables(uint32_t crc, const unsigned char *p, std::size_t size)
{
    const auto &t = kCrcTables;
    for (; size >= 8; size -= 8, p += 8) {
        const uint32_t low = crc ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16
                                    | uint32_t(p[3]) << 24);
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24]
            ^ t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; size > 0; --size, ++p)
        crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc;
}

#if defined(__x86_64__)

#define TENVO_FOLDING __attribute__((target("pclmul,sse4.1")))

TENVO_FOLDING inline __m128i load(const unsigned char *at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
}

// x carried 128 bits further on (by the distance k stands for), plus next.
TENVO_FOLDING inline __m128i fold(__m128i x, __m128i k, __m128i next)
{
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)),
                         next);
}

// Carry-less multiplication folding (Intel's "Fast CRC Computation for
// Generic Polynomials Using PCLMULQDQ", bit-reflected form). Takes a multiple
// of 16 bytes, at least 64; crc in register form.
TENVO_FOLDING uint32_t crc32Folded(uint32_t crc, const unsigned char *p, std::size_t size)
{
    // x^(4*128+32), x^(4*128-32), x^(128+32), x^(128-32) and x^64 modulo the
    // polynomial, the reflected polynomial itself and its Barrett constant.
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);

    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(int(crc)));
    __m128i x2 = load(p + 16);
    __m128i x3 = load(p + 32);
    __m128i x4 = load(p + 48);
    p += 64;
    size -= 64;
    for (; size >= 64; p += 64, size -= 64) {
        x1 = fold(x1, k1k2, load(p));
        x2 = fold(x2, k1k2, load(p + 16));
        x3 = fold(x3, k1k2, load(p + 32));
        x4 = fold(x4, k1k2, load(p + 48));
    }
    x1 = fold(x1, k3k4, x2);
    x1 = fold(x1, k3k4, x3);
    x1 = fold(x1, k3k4, x4);
    for (; size >= 16; p += 16, size -= 16)
        x1 = fold(x1, k3k4, load(p));

    // 128 bits to 64, then Barrett reduction to 32.
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 4), _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00));
    __m128i quotient = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    quotient = _mm_clmulepi64_si128(_mm_and_si128(quotient, low32), poly, 0x00);
    x1 = _mm_xor_si128(x1, quotient);
    return uint32_t(_mm_extract_epi32(x1, 1));
}

bool canFold()
{
    static const bool supported = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return supported;
}

#endif

} // namespace

uint32_t crc32Update(uint32_t crc, const void *data, std::size_t size)
{
    const auto *p = static_cast<const unsigned char *>(data);
    crc = ~crc;
#if defined(__x86_64__)
    if (size >= 64 && canFold()) {
        const std::size_t folded = size & ~std::size_t(15);
        crc = crc32Folded(crc, p, folded);
        p += folded;
        size -= folded;
    }
#endif
    return ~crc32Tables(crc, p, size);
}

int64_t localTimeFromFields(int year, int month, int day, int hour, int minute, int second)
{
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0
        || minute > 59 || second < 0 || second > 59)
        return INT64_MIN;
    struct tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    // Archives made on Windows store wall-clock time; let the C library
    // decide whether daylight saving applied on that date.
    tm.tm_isdst = -1;
    time_t t = mktime(&tm);
    if (t == time_t(-1))
        return INT64_MIN;
    return int64_t(t);
}

int64_t localTimeFromDos(uint16_t dosDate, uint16_t dosTime)
{
    return localTimeFromFields(1980 + (dosDate >> 9), (dosDate >> 5) & 0x0F, dosDate & 0x1F,
                               dosTime >> 11, (dosTime >> 5) & 0x3F, (dosTime & 0x1F) * 2);
}

} // namespace tenvo::engine

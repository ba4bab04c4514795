// Bounded file reads, CRC-32 and MS-DOS time stamps for the decoders.
#include "decoderutil.h"

#include <array>
#include <cerrno>
#include <climits>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tenvo::engine {

FileReader::~FileReader()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FileReader::open(const std::string &path)
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_ioFailed = false;
    // O_NONBLOCK keeps a FIFO given as an archive from blocking the open.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_size = uint64_t(st.st_size);
    return true;
}

bool FileReader::readAt(uint64_t offset, void *buffer, std::size_t size)
{
    if (m_fd < 0 || offset > m_size || size > m_size - offset)
        return false;
    auto *out = static_cast<unsigned char *>(buffer);
    while (size > 0) {
        ssize_t n = ::pread(m_fd, out, size, off_t(offset));
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

uint32_t crc32Update(uint32_t crc, const void *data, std::size_t size)
{
    const auto *p = static_cast<const unsigned char *>(data);
    const auto &t = kCrcTables;
    crc = ~crc;
    for (; size >= 8; size -= 8, p += 8) {
        const uint32_t low = crc ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16
                                    | uint32_t(p[3]) << 24);
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24]
            ^ t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; size > 0; --size, ++p)
        crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return ~crc;
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

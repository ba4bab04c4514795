// Bounded file reads, CRC-32, MS-DOS times and little-endian fields for the decoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tenvo::engine {

// Reads byte ranges of one regular file. Every read is checked against the
// size seen at open, so a hostile length never reads outside the file. The
// first of an archive's numbered parts ("x.zip.001") reads as the parts
// present in a row joined, so every decoder and scan sees the whole archive
// without a joined copy being written.
class FileReader {
public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader &) = delete;
    FileReader &operator=(const FileReader &) = delete;

    // Opens path for reading, never blocking. False when it cannot be opened
    // (openError() gives the errno) or is not a regular file (openError() 0).
    bool open(const std::string &path);
    int openError() const { return m_openError; }
    bool isOpen() const { return m_fd >= 0; }
    uint64_t size() const { return m_size; }

    // Reads exactly size bytes at offset. False when the range does not lie
    // wholly inside the file or the read fails (ioFailed() tells which).
    bool readAt(uint64_t offset, void *buffer, std::size_t size);
    // True when a read failed for a reason other than the range.
    bool ioFailed() const { return m_ioFailed; }

private:
    int m_fd = -1;
    uint64_t m_size = 0;
    bool m_ioFailed = false;
    int m_openError = 0;
    // The parts after the first of a numbered set, each with where it
    // starts in the joined stream.
    struct Piece {
        int fd;
        uint64_t start;
        uint64_t size;
    };
    std::vector<Piece> m_pieces;
    uint64_t m_firstSize = 0;
    void closeAll();
    bool readPiece(int fd, uint64_t offset, unsigned char *out, std::size_t size);
};

// CRC-32 (the polynomial of ZIP and RAR) of data, continuing from crc.
uint32_t crc32Update(uint32_t crc, const void *data, std::size_t size);

// Seconds since 1970 for an MS-DOS date and time read as local time;
// INT64_MIN when a field is out of range.
int64_t localTimeFromDos(uint16_t dosDate, uint16_t dosTime);
// The same from broken-down fields (month 1-12, full year).
int64_t localTimeFromFields(int year, int month, int day, int hour, int minute, int second);

inline uint16_t le16(const unsigned char *p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t le32(const unsigned char *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t le64(const unsigned char *p) { return le32(p) | (uint64_t(le32(p + 4)) << 32); }

} // namespace tenvo::engine

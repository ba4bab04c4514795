// Writes ZIP archives byte by byte whose layout no ordinary packer makes:
// decompression bombs, with honest or lying sizes, entries sharing data, and
// archives padded between records and inside extra fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tenvo::fixture {

// A raw deflate stream (one block of fixed Huffman codes) that inflates to
// count zero bytes: one literal, then copies of 258 bytes at distance 1.
// About 13 bits of stream per 258 bytes of output.
std::string deflateZeros(uint64_t count);

// The CRC-32 of count zero bytes, computed without walking them.
uint32_t crc32OfZeros(uint64_t count);

// A ZIP archive of one deflated entry `name` that inflates to `zeros` zero
// bytes while its headers declare `declaredSize` (the CRC-32 is that of the
// real data). Sizes must stay below 4 GiB. Empty when they do not.
std::string makeDeflateBombZip(uint64_t zeros, uint64_t declaredSize,
                               const std::string &name = "zeros.bin");

// A ZIP archive of `entries` deflated files ("0.bin", "1.bin", ...) that
// overlap: each entry's data is a stored deflate block quoting the next
// entry's local header, followed by that entry's data, down to one shared
// stream of `zerosPerEntry` zeros. Each file inflates to a little over
// zerosPerEntry bytes and checks out (CRC-32 and sizes agree in local and
// central headers), so the output grows with entries times zerosPerEntry
// from an archive of a few kilobytes. Empty when the sizes pass 4 GiB.
std::string makeOverlappingZip(std::size_t entries, uint64_t zerosPerEntry);

// The same ZIP archive laid out again with padding: `between` zero bytes
// after each entry's data, `after` zero bytes after the end record, and
// `extraPadding` bytes of `extraByte` appended to each local header's extra
// field (lengths and offsets adjusted, so only the padding is new). zip must
// be a plain archive (no ZIP64, no comment). `extraBlocks` is appended to the
// extra field of both the local header and the central record, as some
// writers pad them with empty fields of type 0 and a few zero bytes after.
// Empty when it cannot be read.
struct ZipPadding {
    std::size_t between = 0;
    std::size_t after = 0;
    std::size_t extraPadding = 0;
    char extraByte = '\0';
    std::string extraBlocks;
};
std::string padZip(const std::string &zip, const ZipPadding &padding);

} // namespace tenvo::fixture

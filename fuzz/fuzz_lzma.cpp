// libFuzzer target: the engine's LZMA and LZMA2 decoder on any stream, with
// any properties and size, fed in small reads so the input buffer refills.
#include "lzmadecoder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace tenvo::engine;

// Input: one byte (bit 0: LZMA2), five bytes of properties, the stream's
// size (32 bits, little-endian, at most 4 MiB is used), the stream.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 10)
        return 0;
    const LzmaMethod method = data[0] & 1 ? LzmaMethod::Lzma2 : LzmaMethod::Lzma;
    const std::string properties(reinterpret_cast<const char *>(data + 1), 5);
    const uint64_t outSize = (uint64_t(data[6]) | uint64_t(data[7]) << 8 | uint64_t(data[8]) << 16
                              | uint64_t(data[9]) << 24) % (uint64_t(4) << 20);
    std::size_t at = 10;
    const std::size_t step = 1 + data[0] / 2 * 97;
    const PackedReader read = [&](unsigned char *buffer, std::size_t want) -> std::ptrdiff_t {
        const std::size_t n = std::min({want, size - at, step});
        std::memcpy(buffer, data + at, n);
        at += n;
        return std::ptrdiff_t(n);
    };
    uint64_t produced = 0;
    const DecodedWriter write = [&](const unsigned char *block, std::size_t n) {
        if (n == 0 || block == nullptr)
            std::abort();
        produced += n;
        return true;
    };
    std::string message;
    const TenvoResult result = decodeLzma(method, properties, outSize, read, write, message);
    if (produced > outSize || (result == TENVO_OK && produced != outSize)
        || (result != TENVO_OK && message.empty()))
        std::abort();
    return 0;
}

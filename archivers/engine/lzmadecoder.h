// Decodes LZMA and LZMA2 streams (the methods of most 7z folders), written
// for speed: one window as large as the dictionary, output handed on in blocks.
#pragma once

#include "lzhhuffman.h"
#include "result.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tenvo::engine {

enum class LzmaMethod { Lzma, Lzma2 };

// The largest window decoded here; a stream that needs more is left to the
// general path.
constexpr uint64_t kLzmaMaxWindow = uint64_t(768) << 20;

// True when the coder's properties (5 bytes for LZMA, 1 for LZMA2) are ones
// this decoder reads and a stream of size bytes needs a window within
// kLzmaMaxWindow.
bool lzmaDecodable(LzmaMethod method, const std::string &properties, uint64_t size);

// Decodes a stream of exactly size bytes, handing them to write in order in
// blocks of at most a few MiB. Never reads or writes outside its buffers,
// whatever the input: TENVO_ERR_DAMAGED when the data is cut short, does not
// decode or gives another size, TENVO_ERR_OPEN when it cannot be read,
// TENVO_ERR_WRITE when the writer refuses or the window cannot be had. The
// CRCs are the caller's to check.
TenvoResult decodeLzma(LzmaMethod method, const std::string &properties, uint64_t size,
                       const PackedReader &read, const DecodedWriter &write, std::string &message);

} // namespace tenvo::engine

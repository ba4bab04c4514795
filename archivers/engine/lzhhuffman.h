// Decodes LZH members packed with -lh4- to -lh7- (sliding dictionary and
// static Huffman codes per block), written for speed.
#pragma once

#include "result.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace tenvo::engine {

// Reads up to size packed bytes into buffer; 0 at the end of the member's
// data, -1 when the archive cannot be read.
using PackedReader = std::function<std::ptrdiff_t(unsigned char *buffer, std::size_t size)>;
// Takes the next decoded bytes; false stops decoding (the data could not be stored).
using DecodedWriter = std::function<bool(const unsigned char *data, std::size_t size)>;

// The dictionary size of a method id, in bits: 12 for "-lh4-", 13, 15 and 16
// for "-lh5-" to "-lh7-"; 0 for any other id.
int lzhDictionaryBits(const std::string &method);

// Decodes size bytes from the packed data. TENVO_ERR_DAMAGED when the data
// is cut short or does not decode (a code table that is not a whole prefix
// code), TENVO_ERR_OPEN when it cannot be read, TENVO_ERR_WRITE when the
// writer refuses; the CRC is the caller's to check.
TenvoResult decodeLzhHuffman(int dictionaryBits, uint64_t size, const PackedReader &read,
                             const DecodedWriter &write, std::string &message);

} // namespace tenvo::engine

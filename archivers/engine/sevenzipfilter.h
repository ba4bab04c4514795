// The branch filters of 7z archives that libarchive lacks (ARM64, RISC-V),
// undone over a folder's whole output as it streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tenvo::engine {

class BranchFilter {
public:
    enum class Kind { Arm64, RiscV };
    // The filter of a coder id ("\x0A" ARM64, "\x0B" RISC-V) with its
    // properties (an optional start position); false for any other coder.
    static bool recognizes(const std::string &coderId);
    BranchFilter(const std::string &coderId, const std::string &properties);

    using Output = std::function<bool(const unsigned char *, std::size_t)>;
    // Undoes the filter over the next bytes of the stream and hands on
    // every byte that no later byte can change any more. False when out
    // refused bytes.
    bool feed(const void *data, std::size_t size, const Output &out);
    // The stream ended: hands on the bytes held back.
    bool finish(const Output &out);

private:
    std::size_t convert(unsigned char *data, std::size_t size);

    Kind m_kind;
    uint32_t m_position = 0;
    std::vector<unsigned char> m_pending;
};

} // namespace tenvo::engine

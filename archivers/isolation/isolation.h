// Runs one archive's decoding in a child process, so that a decoder that
// crashes, hangs or eats memory costs that archive and nothing else.
#pragma once

#include "result.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tenvo::isolation {

struct Limits {
    // The child is ended when it has neither read nor written a byte for
    // this long.
    int stallSeconds = 30;
    // Address space the child may add to what it inherited.
    std::uint64_t memoryBytes = std::uint64_t(1) << 30;
};

// The limits the libraries use: stallSeconds from TENVO_STALL_SECONDS when
// set (tests shorten it), else fallbackStall.
Limits defaultLimits(int fallbackStall);

// Runs work in a forked child and returns its result and message. A child
// that dies by a signal, exceeds its memory or stalls gives TENVO_ERR_DAMAGED
// with a message saying so; the temporary files it left under cleanupRoot
// (named ".tenvo-<pid>-*.tmp" by the writer) are removed. Never throws.
int runIsolated(const std::function<int(std::string &message)> &work, const Limits &limits,
                const std::string &cleanupRoot, std::string &message);

} // namespace tenvo::isolation

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

    // The caller's state that a child forked by the caller itself would
    // have had, for a child started on its behalf by the decoder program:
    // umask, file size limit and effective user and group. -1 (or
    // haveFileSizeLimit false) keeps this process's own.
    int umask = -1;
    bool haveFileSizeLimit = false;
    std::uint64_t fileSizeSoft = 0;
    std::uint64_t fileSizeHard = 0;
    int uid = -1;
    int gid = -1;
};

// Fills the caller-state fields of limits from this process.
void captureCallerState(Limits &limits);

// The limits the libraries use: stallSeconds from TENVO_STALL_SECONDS when
// set (tests shorten it), else fallbackStall.
Limits defaultLimits(int fallbackStall);

// What the supervising side watches besides the child, both optional.
struct Supervision {
    // A descriptor whose end of input (or hang-up) asks to stop: the child is
    // killed, its temporaries swept, and the result is kStopped.
    int cancelFd = -1;
    // Called now and then with the bytes the child has read so far.
    std::function<void(long long bytesRead)> onProgress;
};

// The result when the work was stopped through Supervision::cancelFd.
inline constexpr int kStopped = -100;

// Runs work in a forked child and returns its result and message. The caller
// must be single-threaded (the decoder program is; see decoderclient.h). A child
// that dies by a signal, exceeds its memory or stalls gives TENVO_ERR_DAMAGED
// with a message saying so; the temporary files it left under cleanupRoot
// (named ".tenvo-<pid>-*.tmp" by the writer) are removed. Never throws.
int runIsolated(const std::function<int(std::string &message)> &work, const Limits &limits,
                const std::string &cleanupRoot, std::string &message,
                const Supervision &supervision = {});

} // namespace tenvo::isolation

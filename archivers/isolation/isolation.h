// Runs one archive's decoding in a child process, so that a decoder that
// crashes, hangs or eats memory costs that archive and nothing else.
#pragma once

#include "result.h"
#include "sandbox.h"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
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

    // What the child may reach once its decoding begins (sandbox.h).
    SandboxPaths sandbox;
};

// Fills the caller-state fields of limits from this process.
void captureCallerState(Limits &limits);

// The process umask, read without setting it: umask() is process-wide, so
// setting it to read it would, for a moment, change it for every thread.
mode_t currentUmask();

// Closes every descriptor of this process but keep (and 0 to 2): a child
// forked by a program holding other calls' sockets and whatever its caller
// left open keeps only what it needs.
void closeDescriptorsExcept(std::initializer_list<int> keep);

// True when no process pid runs (a zombie counts as gone).
bool processGone(pid_t pid);

// Removes the temporaries (".tenvo-<pid>-*.tmp") of processes that are gone
// from the folder folderFd, or from root and every folder below it. Those of
// running processes, and everything else, stay; links are never followed.
void sweepStaleTemporariesIn(int folderFd);
void sweepStaleTemporaries(const std::string &root);

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

// One decoder child, for a caller that watches several at once from its own
// event loop (the decoder program): start, then readResult() whenever
// resultFd() is readable and check() now and then, stop() to end it, and
// finish() once readResult() or check() said it is over, or after stop().
// Only one thread may use it, and the process must be single-threaded.
class IsolatedChild
{
public:
    IsolatedChild() = default;
    // Kills a child not yet finished.
    ~IsolatedChild();
    IsolatedChild(const IsolatedChild &) = delete;
    IsolatedChild &operator=(const IsolatedChild &) = delete;

    // Forks the child running work; false with a message when it cannot.
    bool start(const std::function<int(std::string &message)> &work, const Limits &limits,
               const std::string &cleanupRoot, std::string &message);
    int resultFd() const { return m_resultFd; }
    // Takes what the child wrote; true once its output has ended.
    bool readResult();
    // Bytes the child has read (-1 unknown) into bytesRead; true when it
    // had stalled and was killed.
    bool check(long long *bytesRead);
    // Kills the child for the caller; finish() then gives kStopped.
    void stop();
    // Waits for the child, sweeps its temporaries when it did not finish
    // cleanly and gives its result and message (see runIsolated).
    int finish(std::string &message);

private:
    Limits m_limits;
    std::string m_cleanupRoot;
    pid_t m_pid = -1;
    int m_resultFd = -1;
    std::string m_received;
    long long m_lastIo = -1;
    std::chrono::steady_clock::time_point m_lastProgress;
    bool m_stalled = false;
    bool m_stopped = false;
};

// Runs work in a forked child and returns its result and message. The caller
// must be single-threaded (the decoder program is; see decoderclient.h). A child
// that crashes, exceeds its memory or stalls gives TENVO_ERR_DAMAGED, one
// ended from outside (SIGKILL, SIGTERM, SIGINT, ...) TENVO_ERR_ENDED, one
// ended by its sandbox for a forbidden call TENVO_ERR_FORBIDDEN, each with a
// message saying so; the temporary files it left under cleanupRoot
// (named ".tenvo-<pid>-*.tmp" by the writer) are removed. Never throws.
int runIsolated(const std::function<int(std::string &message)> &work, const Limits &limits,
                const std::string &cleanupRoot, std::string &message,
                const Supervision &supervision = {});

} // namespace tenvo::isolation

// Hands one library call to the decoder program.
#include "decoderclient.h"

#include "isolation.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

extern char **environ;

namespace tenvo::isolation {
namespace {

constexpr const char *kProgramName = "tenvo-decoder";
// How long a stopped call waits for the program's answer before ending the
// program itself, so that a stop returns promptly whatever the program does.
constexpr std::chrono::milliseconds kStopAnswerTime{1200};
// The descriptor on which the decoder program receives its requests.
constexpr int kControlFd = 3;

// The decoder program beside the file that holds this code: the program
// folder in the build tree, lib/tenvo/ once installed.
std::string programPath()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void *>(&programPath), &info) == 0 || !info.dli_fname)
        return {};
    std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    path = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    return path + kProgramName;
}

class DecoderProgram;
DecoderProgram &decoderProgram();

class DecoderProgram
{
public:
    // Hands requestFd to the running decoder program, starting it when
    // needed; the program's pid, or -1 when it cannot be had.
    pid_t send(int requestFd)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (m_controlFd < 0 && !start())
                return -1;
            if (passDescriptor(requestFd))
                return m_pid;
            // The program has gone (killed, crashed): start a new one.
            stop();
        }
        return -1;
    }

    // A call to program pid ended without its answer: when the program has
    // gone (or hangs, and force is set) it is ended with all its processes
    // and waited for, so that none is left behind and the next call starts
    // a new one.
    void settle(pid_t pid, bool force)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (pid <= 0 || pid != m_pid)
            return; // already ended by another call
        // The call's socket closes as the program exits, a moment before it
        // can be waited for.
        const bool gone = !force && reaped(m_pid, 100);
        if (gone)
            m_pid = -1;
        if (!gone && !force)
            return; // alive: only the call's own supervisor ended
        stop();
        awaitGroup(pid);
    }

private:
    bool passDescriptor(int fd)
    {
        char byte = 'r';
        iovec io{&byte, 1};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr *header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
        for (;;) {
            const ssize_t n = ::sendmsg(m_controlFd, &message, MSG_NOSIGNAL);
            if (n == 1)
                return true;
            if (n < 0 && errno == EINTR)
                continue;
            return false;
        }
    }

    bool start()
    {
        const std::string path = programPath();
        if (path.empty() || ::access(path.c_str(), X_OK) != 0)
            return false;
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
            return false;
        // The program's end goes to descriptor 3 (dup2 clears close-on-exec);
        // every other descriptor of this process stays behind.
        int childEnd = pair[1];
        if (childEnd == kControlFd) {
            childEnd = ::fcntl(pair[1], F_DUPFD_CLOEXEC, kControlFd + 1);
            ::close(pair[1]);
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, childEnd, kControlFd);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none, defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        for (const int sig : {SIGCHLD, SIGPIPE, SIGINT, SIGTERM, SIGHUP})
            sigaddset(&defaults, sig);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        // A group of its own: the terminal's Ctrl+C, Ctrl+\ and Ctrl+Z reach
        // the caller's group only; the caller stops the decoders itself.
        posix_spawnattr_setpgroup(&attributes, 0);
        posix_spawnattr_setflags(&attributes,
                                 POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
        char *argv[] = {const_cast<char *>(kProgramName), nullptr};
        pid_t pid = -1;
        const int failed = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(childEnd);
        if (failed != 0) {
            ::close(pair[0]);
            return false;
        }
        m_controlFd = pair[0];
        m_pid = pid;
        static const bool waitsAtExit = std::atexit([] { decoderProgram().shutDown(); }) == 0;
        (void)waitsAtExit;
        return true;
    }

    // At exit: ends the program and waits for it, so that whoever waits
    // for this process also accounts for the decoder program (its time and
    // memory) and no zombie is left to the system.
    void shutDown()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_controlFd >= 0)
            ::close(m_controlFd);
        m_controlFd = -1;
        if (m_pid <= 0)
            return;
        // The program is gone a millisecond or two after the socket closes;
        // every exit of this process waits that long, not a coarse tick.
        if (reaped(m_pid, 2000)) {
            m_pid = -1;
            return;
        }
        stop();
    }

    // Waits up to timeoutMs for child pid to end and reaps it. The wait
    // wakes the moment it ends (through a pidfd where the kernel has them).
    static bool reaped(pid_t pid, int timeoutMs)
    {
        const int pidFd = int(::syscall(SYS_pidfd_open, pid, 0));
        if (pidFd >= 0) {
            pollfd watched{pidFd, POLLIN, 0};
            int ready;
            while ((ready = ::poll(&watched, 1, timeoutMs)) < 0 && errno == EINTR) {
            }
            ::close(pidFd);
            return ready > 0 && ::waitpid(pid, nullptr, WNOHANG) != 0;
        }
        for (int waited = 0; waited < timeoutMs; ++waited) {
            if (::waitpid(pid, nullptr, WNOHANG) != 0)
                return true;
            ::usleep(1000);
        }
        return false;
    }

    // Ends the program and every process of its group (its decoder
    // children die with it; a stopped one too).
    void stop()
    {
        if (m_controlFd >= 0)
            ::close(m_controlFd);
        m_controlFd = -1;
        if (m_pid > 0) {
            ::kill(-m_pid, SIGKILL);
            ::kill(m_pid, SIGKILL);
            while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        m_pid = -1;
    }

    // Waits a little for the rest of an ended program's group (children
    // its end orphaned) to be gone, so that their temporaries can be swept.
    static void awaitGroup(pid_t group)
    {
        for (int waited = 0; waited < 100; ++waited) {
            if (::kill(-group, SIGKILL) != 0 && errno == ESRCH)
                return;
            ::usleep(5000);
        }
    }

    std::mutex m_mutex;
    int m_controlFd = -1;
    pid_t m_pid = -1;
};

// One per library: the engine is linked privately into each, so each
// library starts its own program, which ends when the library's process
// closes the control socket (at exit).
DecoderProgram &decoderProgram()
{
    static DecoderProgram *program = new DecoderProgram; // never destroyed: calls may outlive exit handlers
    return *program;
}

} // namespace

bool runInDecoder(const DecoderRequest &request, unsigned long long total, ProgressCall progress,
                  void *context, int &result, std::string &message)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return false;
    const int ours = pair[0];
    const pid_t program = decoderProgram().send(pair[1]);
    ::close(pair[1]);
    // The frame may hold a password: wiped as soon as it is sent.
    std::string frame = encodeRequest(request);
    const bool sent = program > 0 && sendAll(ours, frame);
    wipeFrame(frame);
    if (!sent) {
        ::close(ours);
        return false;
    }

    using Clock = std::chrono::steady_clock;
    bool stopping = false;
    bool answered = false;
    Clock::time_point stoppedAt;
    unsigned long long done = 0;
    for (;;) {
        pollfd p{ours, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0) {
            std::string frame;
            if (!receiveFrame(ours, frame) || frame.empty())
                break;
            if (frame[0] == 'R' && frame.size() >= 5) {
                std::uint32_t code = 0;
                for (int i = 0; i < 4; ++i)
                    code |= std::uint32_t(std::uint8_t(frame[1 + i])) << (8 * i);
                result = int(code);
                message.assign(frame, 5, std::string::npos);
                answered = true;
                break;
            }
            if (frame[0] == 'P' && frame.size() == 9) {
                done = 0;
                for (int i = 0; i < 8; ++i)
                    done |= (unsigned long long)std::uint8_t(frame[1 + i]) << (8 * i);
            }
        }
        if (stopping && Clock::now() - stoppedAt >= kStopAnswerTime)
            break; // it does not answer: ended below
        if (progress && !stopping
            && progress(context, total ? std::min(done, total) : done, total) != 0) {
            // The supervisor sees the end of our input, kills the decoder,
            // sweeps its temporaries and only then answers: when this call
            // returns, no partial file is left.
            stopping = true;
            stoppedAt = Clock::now();
            ::shutdown(ours, SHUT_WR);
        }
    }
    ::close(ours);
    if (!answered) {
        // The program died, or was asked to stop and did not answer (a
        // stopped or hung program): it is ended here with its processes,
        // and the temporaries they leave are swept.
        decoderProgram().settle(program, stopping);
        sweepStaleTemporaries(request.cleanupRoot);
        result = stopping ? kStopped : TENVO_ERR_ENDED;
        message = stopping ? "stopped by the caller" : "the decoder program ended unexpectedly";
    }
    return true;
}

} // namespace tenvo::isolation

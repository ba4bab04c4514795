// Runs one archive's decoding in a child process.
#include "isolation.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tenvo::isolation {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes the process has read and written through system calls; any change
// means the decoder is still reading its archive or writing files.
long long ioCount(pid_t pid, long long *bytesRead = nullptr)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/io", int(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0)
        return -1;
    buffer[n] = '\0';
    long long rchar = 0, wchar = 0;
    if (const char *r = std::strstr(buffer, "rchar:"))
        rchar = std::atoll(r + 6);
    if (const char *w = std::strstr(buffer, "wchar:"))
        wchar = std::atoll(w + 6);
    if (bytesRead)
        *bytesRead = rchar;
    return rchar + wchar;
}

std::uint64_t currentAddressSpace()
{
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char buffer[128];
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0)
        return 0;
    buffer[n] = '\0';
    return std::strtoull(buffer, nullptr, 10) * std::uint64_t(::sysconf(_SC_PAGESIZE));
}

bool writeAll(int fd, const void *data, std::size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

[[noreturn]] void runChild(int pipeFd, const std::function<int(std::string &)> &work,
                           const Limits &limits)
{
    // Die with the caller, dump no core, and keep a bomb's memory bounded.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The result goes out above the standard streams, which are pointed at
    // /dev/null next: a forking program that closed its own may have been
    // given one of their numbers for this pipe.
    if (pipeFd <= STDERR_FILENO) {
        const int moved = ::fcntl(pipeFd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (moved < 0)
            ::_exit(127);
        pipeFd = moved;
    }
    closeDescriptorsExcept({pipeFd});
    // Some decoders log to the standard streams; a library never prints.
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull >= 0) {
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        ::close(devNull);
    }
    // The caller's crash handlers are not for the child's crashes.
    for (const int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        ::signal(sig, SIG_DFL);
    // Under a file size limit a write past it then fails (EFBIG) and the
    // writer reports it, instead of the process dying mid-file.
    ::signal(SIGXFSZ, SIG_IGN);
    if (limits.umask >= 0)
        ::umask(mode_t(limits.umask));
    if (limits.haveFileSizeLimit) {
        const rlimit size{rlim_t(limits.fileSizeSoft), rlim_t(limits.fileSizeHard)};
        ::setrlimit(RLIMIT_FSIZE, &size);
    }
    // Write as the caller would have: a root decoder program serving a
    // caller that runs as someone else takes on that identity.
    bool identityTaken = true;
    if (limits.gid >= 0 && ::getegid() != gid_t(limits.gid))
        identityTaken = ::setegid(gid_t(limits.gid)) == 0;
    if (identityTaken && limits.uid >= 0 && ::geteuid() != uid_t(limits.uid))
        identityTaken = ::seteuid(uid_t(limits.uid)) == 0;
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    const std::uint64_t cap = currentAddressSpace() + limits.memoryBytes;
    const rlimit memory{rlim_t(cap), rlim_t(cap)};
    ::setrlimit(RLIMIT_AS, &memory);

    std::string message;
    int result = TENVO_ERR_DAMAGED;
    // A sandbox the kernel offers but that cannot be closed means no
    // decoding: never an unconfined decoder where a confined one was meant.
    // Nor files written as someone other than the caller.
    if (!identityTaken) {
        result = TENVO_ERR_DECODER;
        message = "the decoder cannot take on the caller's identity";
    } else if (std::string why; !enterSandbox(limits.sandbox, why)) {
        result = TENVO_ERR_DECODER;
        message = "the decoder's sandbox cannot be set up (" + why + ")";
    } else try {
        result = work(message);
    } catch (const std::bad_alloc &) {
        result = TENVO_ERR_DAMAGED;
        message = "the archive needs more memory than allowed";
    } catch (...) {
        result = TENVO_ERR_DAMAGED;
        message = "the decoder failed";
    }
    const std::uint32_t length = std::uint32_t(message.size());
    writeAll(pipeFd, &result, sizeof result);
    writeAll(pipeFd, &length, sizeof length);
    writeAll(pipeFd, message.data(), message.size());
    ::_exit(0);
}

// The pid in a temporary's name ".tenvo-<pid>-<n>.tmp", or -1 when the name
// is not one.
pid_t temporaryOwner(const std::string &name)
{
    static const std::string prefix = ".tenvo-";
    if (name.size() < prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0
        || name.compare(name.size() - 4, 4, ".tmp") != 0)
        return -1;
    long long pid = 0;
    std::size_t i = prefix.size();
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9' && pid < (1LL << 31); ++i)
        pid = pid * 10 + (name[i] - '0');
    return i > prefix.size() && i < name.size() && name[i] == '-' && pid > 0 && pid < (1LL << 31)
        ? pid_t(pid)
        : -1;
}

// Removes the temporaries below folderFd whose owner doomed() says is done
// with them, never following links; below sub-folders too when asked.
template<typename Doomed>
void removeTemporaries(int folderFd, const Doomed &doomed, bool recurse, int depth)
{
    if (depth > 4096)
        return;
    const int scanFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (scanFd < 0)
        return;
    DIR *dir = ::fdopendir(scanFd);
    if (!dir) {
        ::close(scanFd);
        return;
    }
    std::vector<std::string> folders;
    while (dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (const pid_t owner = temporaryOwner(name); owner > 0) {
            if (doomed(owner))
                ::unlinkat(folderFd, name.c_str(), 0);
            continue;
        }
        if (!recurse || (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN))
            continue;
        struct stat st;
        if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
            folders.push_back(name);
    }
    ::closedir(dir);
    for (const std::string &name : folders) {
        const int sub = ::openat(folderFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0)
            continue;
        removeTemporaries(sub, doomed, true, depth + 1);
        ::close(sub);
    }
}

template<typename Doomed>
void removeTemporariesBelow(const std::string &root, const Doomed &doomed)
{
    if (root.empty())
        return;
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    removeTemporaries(fd, doomed, true, 0);
    ::close(fd);
}

void cleanUp(const std::string &root, pid_t child)
{
    removeTemporariesBelow(root, [child](pid_t owner) { return owner == child; });
}

// Signals that come from someone ending the process, not from its own fault.
bool endedFromOutside(int signal)
{
    return signal == SIGKILL || signal == SIGTERM || signal == SIGINT || signal == SIGQUIT
        || signal == SIGHUP;
}

} // namespace

void captureCallerState(Limits &limits)
{
    limits.umask = int(currentUmask());
    rlimit size{};
    if (::getrlimit(RLIMIT_FSIZE, &size) == 0) {
        limits.haveFileSizeLimit = true;
        limits.fileSizeSoft = size.rlim_cur;
        limits.fileSizeHard = size.rlim_max;
    }
    limits.uid = int(::geteuid());
    limits.gid = int(::getegid());
}

mode_t currentUmask()
{
    // Linux 4.7 and later show it in /proc. Without that, it is read once
    // (a moment's change, on the first call only) and kept.
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char text[4096];
        const ssize_t n = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        if (n > 0) {
            text[n] = '\0';
            if (const char *line = std::strstr(text, "\nUmask:"))
                return mode_t(std::strtoul(line + 7, nullptr, 8)) & 0777;
        }
    }
    static const mode_t once = [] {
        const mode_t mask = ::umask(077);
        ::umask(mask);
        return mask;
    }();
    return once;
}

void closeDescriptorsExcept(std::initializer_list<int> keep)
{
    std::vector<int> kept(keep);
    kept.push_back(STDERR_FILENO);
    std::sort(kept.begin(), kept.end());
    unsigned from = 0;
    for (const int fd : kept) {
        if (fd < int(from))
            continue;
        if (unsigned(fd) > from)
            ::close_range(from, unsigned(fd) - 1, 0);
        from = unsigned(fd) + 1;
    }
    // Up to 2 is kept all the same: the standard streams, even if closed.
    if (from < 3)
        from = 3;
    ::close_range(from, ~0u, 0);
}

bool processGone(pid_t pid)
{
    if (pid <= 0)
        return false;
    if (::kill(pid, 0) != 0)
        return errno == ESRCH;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char text[512];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0)
        return false;
    text[n] = '\0';
    const char *close = std::strrchr(text, ')');
    return close && close[1] == ' ' && (close[2] == 'Z' || close[2] == 'X');
}

void sweepStaleTemporariesIn(int folderFd)
{
    removeTemporaries(folderFd, processGone, false, 0);
}

void sweepStaleTemporaries(const std::string &root)
{
    removeTemporariesBelow(root, processGone);
}

Limits defaultLimits(int fallbackStall)
{
    Limits limits;
    limits.stallSeconds = fallbackStall;
    if (const char *text = std::getenv("TENVO_STALL_SECONDS")) {
        const int value = std::atoi(text);
        if (value > 0)
            limits.stallSeconds = value;
    }
    return limits;
}

IsolatedChild::~IsolatedChild()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (m_resultFd >= 0)
        ::close(m_resultFd);
}

bool IsolatedChild::start(const std::function<int(std::string &message)> &work, const Limits &limits,
                          const std::string &cleanupRoot, std::string &message)
{
    m_limits = limits;
    m_cleanupRoot = cleanupRoot;
    // A call may run again in the same object once its first child ended.
    m_received.clear();
    m_stalled = m_stopped = false;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        message = "cannot start the decoder process";
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        message = "cannot start the decoder process";
        return false;
    }
    if (child == 0) {
        ::close(fds[0]);
        runChild(fds[1], work, limits);
    }
    ::close(fds[1]);
    m_pid = child;
    m_resultFd = fds[0];
    m_lastIo = ioCount(child);
    m_lastProgress = Clock::now();
    return true;
}

bool IsolatedChild::readResult()
{
    char buffer[4096];
    const ssize_t n = ::read(m_resultFd, buffer, sizeof buffer);
    if (n > 0) {
        m_received.append(buffer, std::size_t(n));
        m_lastProgress = Clock::now();
        return false;
    }
    return n == 0 || (errno != EINTR && errno != EAGAIN);
}

bool IsolatedChild::check(long long *bytesRead)
{
    long long read = 0;
    const long long io = ioCount(m_pid, &read);
    if (bytesRead)
        *bytesRead = io >= 0 ? read : -1;
    if (io != m_lastIo) {
        m_lastIo = io;
        m_lastProgress = Clock::now();
        return false;
    }
    if (Clock::now() - m_lastProgress < std::chrono::seconds(m_limits.stallSeconds))
        return false;
    m_stalled = true;
    ::kill(m_pid, SIGKILL);
    return true;
}

void IsolatedChild::stop()
{
    m_stopped = true;
    ::kill(m_pid, SIGKILL);
}

int IsolatedChild::finish(std::string &message)
{
    ::close(m_resultFd);
    m_resultFd = -1;
    const pid_t child = m_pid;
    m_pid = -1;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }

    int result = 0;
    std::uint32_t length = 0;
    const bool complete = m_received.size() >= sizeof result + sizeof length
        && (std::memcpy(&result, m_received.data(), sizeof result),
            std::memcpy(&length, m_received.data() + sizeof result, sizeof length),
            m_received.size() == sizeof result + sizeof length + length);
    if (m_stopped) {
        cleanUp(m_cleanupRoot, child);
        message = "stopped by the caller";
        return kStopped;
    }
    if (!m_stalled && complete && WIFEXITED(status)) {
        message.assign(m_received, sizeof result + sizeof length, length);
        // The writer removes its own temporaries; a failed archive is swept
        // all the same in case the decoder bailed out in an odd way.
        if (result != TENVO_OK)
            cleanUp(m_cleanupRoot, child);
        return result;
    }

    cleanUp(m_cleanupRoot, child);
    if (m_stalled) {
        message = "the decoder made no progress for " + std::to_string(m_limits.stallSeconds)
            + " seconds and was stopped";
    } else if (WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS) {
        // Only the sandbox's filter sends it: a call no decoder makes.
        message = "the decoder attempted an operation it is not allowed and was stopped";
        return TENVO_ERR_FORBIDDEN;
    } else if (WIFSIGNALED(status) && endedFromOutside(WTERMSIG(status))) {
        message = "the decoder process was ended from outside (signal "
            + std::to_string(WTERMSIG(status)) + ")";
        return TENVO_ERR_ENDED;
    } else if (WIFSIGNALED(status)) {
        message = "the decoder crashed (signal " + std::to_string(WTERMSIG(status)) + ")";
    } else {
        message = "the decoder ended without a result";
    }
    return TENVO_ERR_DAMAGED;
}

int runIsolated(const std::function<int(std::string &message)> &work, const Limits &limits,
                const std::string &cleanupRoot, std::string &message,
                const Supervision &supervision)
{
    IsolatedChild child;
    if (!child.start(work, limits, cleanupRoot, message))
        return TENVO_ERR_DAMAGED;
    for (;;) {
        pollfd p[2] = {{child.resultFd(), POLLIN, 0}, {supervision.cancelFd, POLLIN, 0}};
        const int ready = ::poll(p, supervision.cancelFd >= 0 ? 2 : 1, 100);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0 && p[1].revents != 0) {
            // The caller asks to stop by closing its end; anything else
            // arriving there is not ours to read.
            char byte;
            if (::recv(supervision.cancelFd, &byte, 1, MSG_DONTWAIT | MSG_PEEK) <= 0
                || (p[1].revents & (POLLHUP | POLLERR)) != 0) {
                child.stop();
                break;
            }
        }
        if (ready > 0 && p[0].revents != 0) {
            if (child.readResult())
                break;
            continue;
        }
        long long bytesRead = 0;
        if (child.check(&bytesRead))
            break;
        if (supervision.onProgress && bytesRead >= 0)
            supervision.onProgress(bytesRead);
    }
    return child.finish(message);
}

} // namespace tenvo::isolation

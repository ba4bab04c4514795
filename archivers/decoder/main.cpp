// tenvo-decoder: runs the archiver libraries' decoder processes. An archiver
// library starts it with posix_spawn, its control socket on descriptor 3,
// and hands it one socket per call (decoderclient.h says why).
#include "archiver.h"
#include "commandline.h"
#include "decoderprotocol.h"
#include "decoders.h"
#include "entryshare.h"
#include "formatsniffer.h"
#include "librarydecoders.h"
#include "isolation.h"
#include "namecodec.h"
#include "profiles.h"
#include "sandbox.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace tenvo;

namespace {

constexpr int kControlFd = 3;

// Receives the next call's socket; -1 when the library's process has gone.
int receiveCall()
{
    for (;;) {
        char byte;
        iovec io{&byte, 1};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(kControlFd, &message, MSG_CMSG_CLOEXEC);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        cmsghdr *header = CMSG_FIRSTHDR(&message);
        if (header && header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
            return fd;
        }
    }
}

// How many processes share the archive's entries: the call's allowance,
// for a ZIP or LZH archive (whose entries each reader reaches without
// decoding the others), a RAR archive that is neither solid nor a volume set
// (likewise), or a CAB of several folders (each folder decoded on its own; no
// more processes than folders) of at least the call's threshold; else 1.
// The RAR and CAB looks read fixed header fields by hand: this process runs
// none of the decoding libraries on the bytes it is given.
int sharesFor(const isolation::DecoderRequest &request, const engine::Command &command)
{
    if (request.processes < 2)
        return 1;
    engine::ArchiveFormat format = engine::ArchiveFormat::Unknown;
    std::string ignored;
    struct stat st;
    if (engine::sniffFile(command.archivePath, format, ignored) != TENVO_OK
        || (format != engine::ArchiveFormat::Zip && format != engine::ArchiveFormat::Lzh
            && format != engine::ArchiveFormat::Cab && format != engine::ArchiveFormat::Rar4
            && format != engine::ArchiveFormat::Rar5)
        || ((format == engine::ArchiveFormat::Rar4 || format == engine::ArchiveFormat::Rar5)
            && !engine::rarFilesIndependent(command.archivePath))
        || ::stat(command.archivePath.c_str(), &st) != 0
        || std::uint64_t(st.st_size) < request.shareMinBytes)
        return 1;
    int shares = std::min(request.processes, int(engine::EntryShareState::kMaxProcesses));
    if (format == engine::ArchiveFormat::Cab)
        shares = int(std::min(std::size_t(shares), engine::cabFolderCount(command.archivePath)));
    return std::max(shares, 1);
}

// Runs one command in shares decoder children at once, each under a
// supervisor of its own (runIsolated), each taking its share of the entries
// (entryshare.h). Progress is the sum of their reading; the end of the
// library's input stops them all; the result is the one of the process that
// kept out the earliest entry, so it is the result one process would give.
int runShared(int fd, const engine::LibraryProfile &profile, const engine::Command &command,
              const isolation::Limits &limits, int shares, std::string &message)
{
    void *memory = ::mmap(nullptr, sizeof(engine::EntryShareState), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    int cancel[2];
    if (memory == MAP_FAILED || ::pipe2(cancel, O_CLOEXEC) != 0) {
        message = "cannot start the decoder processes";
        return TENVO_ERR_DAMAGED;
    }
    auto *state = static_cast<engine::EntryShareState *>(memory);
    state->reset();

    struct Share {
        pid_t pid = -1;
        int resultFd = -1;
        std::string received;
    };
    std::vector<Share> children(static_cast<std::size_t>(shares));
    for (int k = 0; k < shares; ++k) {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0)
            break;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            isolation::closeDescriptorsExcept({cancel[0], pipeFds[1]});
            const engine::EntryShare share{k, shares, state};
            engine::setCurrentEntryShare(&share);
            isolation::Supervision supervision;
            supervision.cancelFd = cancel[0];
            supervision.onProgress = [state, k](long long bytesRead) { state->bytesRead[k] = bytesRead; };
            std::string childMessage;
            const int result = isolation::runIsolated(
                [&](std::string &decoderMessage) {
                    return engine::extractCommand(profile, command, decoderMessage);
                },
                limits, command.destination, childMessage, supervision);
            const std::string frame = isolation::resultFrame(result, childMessage);
            for (std::size_t done = 0; done < frame.size();) {
                const ssize_t n = ::write(pipeFds[1], frame.data() + done, frame.size() - done);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                done += std::size_t(n);
            }
            ::_exit(0);
        }
        ::close(pipeFds[1]);
        if (pid < 0) {
            ::close(pipeFds[0]);
            break;
        }
        children[std::size_t(k)].pid = pid;
        children[std::size_t(k)].resultFd = pipeFds[0];
    }
    ::close(cancel[0]);

    bool stopped = false;
    long long lastReported = -1;
    for (;;) {
        std::vector<pollfd> watched{{fd, POLLIN, 0}};
        for (const Share &child : children) {
            if (child.resultFd >= 0)
                watched.push_back({child.resultFd, POLLIN, 0});
        }
        if (watched.size() == 1)
            break;
        const int ready = ::poll(watched.data(), nfds_t(watched.size()), 100);
        if (ready < 0 && errno != EINTR)
            break;
        if (!stopped && watched[0].revents != 0) {
            char byte;
            if (::recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK) <= 0) {
                // Closing the write end ends every share's supervision.
                stopped = true;
                ::close(cancel[1]);
            }
        }
        for (std::size_t i = 1; i < watched.size(); ++i) {
            if (watched[i].revents == 0)
                continue;
            for (Share &child : children) {
                if (child.resultFd != watched[i].fd)
                    continue;
                char buffer[4096];
                const ssize_t n = ::read(child.resultFd, buffer, sizeof buffer);
                if (n > 0) {
                    child.received.append(buffer, std::size_t(n));
                } else if (n == 0 || errno != EINTR) {
                    ::close(child.resultFd);
                    child.resultFd = -1;
                }
            }
        }
        long long bytesRead = 0;
        for (int k = 0; k < shares; ++k)
            bytesRead += state->bytesRead[k].load();
        if (bytesRead != lastReported && isolation::sendAll(fd, isolation::progressFrame(bytesRead)))
            lastReported = bytesRead;
    }
    if (!stopped)
        ::close(cancel[1]);
    for (const Share &child : children) {
        if (child.pid > 0) {
            while (::waitpid(child.pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }

    // Each share's result frame: length, 'R', result, message.
    int result = TENVO_OK;
    std::int64_t earliest = -1;
    std::size_t written = 0;
    for (int k = 0; k < shares; ++k) {
        const std::string &frame = children[std::size_t(k)].received;
        int shareResult = TENVO_ERR_DAMAGED;
        std::string shareMessage = "a decoder process ended without a result";
        if (frame.size() >= 9 && frame[4] == 'R') {
            std::uint32_t code = 0;
            for (int i = 0; i < 4; ++i)
                code |= std::uint32_t(std::uint8_t(frame[5 + std::size_t(i)])) << (8 * i);
            shareResult = int(code);
            shareMessage = frame.substr(9);
        }
        if (shareResult == TENVO_OK) {
            written += std::size_t(std::strtoull(shareMessage.c_str(), nullptr, 10));
            continue;
        }
        if (shareResult == engine::kNeedsLibraryDecoders || result == engine::kNeedsLibraryDecoders) {
            // Every share decides alike, before writing anything.
            result = engine::kNeedsLibraryDecoders;
            continue;
        }
        if (shareResult == isolation::kStopped || result == isolation::kStopped) {
            result = isolation::kStopped;
            message = shareMessage;
            continue;
        }
        // A share that kept an entry out tells the entry; a failure of the
        // archive itself each share met at the same place.
        const std::int64_t failedAt = state->firstFailure[k].load();
        const std::int64_t rank = failedAt >= 0 ? failedAt : INT64_MAX;
        if (result == TENVO_OK || (rank < earliest || earliest < 0)) {
            result = shareResult;
            message = shareMessage;
            earliest = rank;
        }
    }
    if (result == TENVO_OK)
        message = std::to_string(written) + " entries extracted by " + std::to_string(shares)
            + " processes";
    std::vector<std::string> shareMessages;
    for (const Share &child : children)
        shareMessages.push_back(child.received.size() >= 9 ? child.received.substr(9) : std::string());
    message = engine::withShortenedNames(message, shareMessages);
    ::munmap(memory, sizeof(engine::EntryShareState));
    return result;
}

// One call the decoder program is running in its own loop: the library's
// socket, the decoder child, and for an extraction what it runs, kept (and
// its password wiped at the end) so that it can run again once the
// decoding libraries are loaded.
struct Call {
    int fd = -1;
    isolation::IsolatedChild child;
    long long lastReported = -1;
    std::chrono::steady_clock::time_point lastCheck = std::chrono::steady_clock::now();
    bool over = false;
    const engine::LibraryProfile *profile = nullptr;
    engine::Command command;
    isolation::Limits limits;

    Call() = default;
    Call(const Call &) = delete;
    Call &operator=(const Call &) = delete;
    ~Call() { isolation::wipeFrame(command.password); }

    bool startExtraction(std::string &message)
    {
        // By reference: the child gets its own copy at the fork.
        return child.start(
            [this](std::string &childMessage) { return engine::extractCommand(*profile, command, childMessage); },
            limits, command.destination, message);
    }
};

// Loads the decoding libraries' module when the call needs it, with the
// converter of the call's chosen encoding; false with a message when the
// module cannot be loaded.
bool withLibraryDecoders(const engine::NameEncoding *chosen, std::string &message)
{
    if (!engine::loadLibraryDecoders(message))
        return false;
    engine::libraryDecoders()->preload(chosen);
    return true;
}

isolation::Limits limitsOf(const isolation::DecoderRequest &request)
{
    isolation::Limits limits;
    limits.stallSeconds = request.stallSeconds > 0 ? request.stallSeconds : limits.stallSeconds;
    limits.umask = request.umask;
    limits.haveFileSizeLimit = request.haveFileSizeLimit;
    limits.fileSizeSoft = request.fileSizeSoft;
    limits.fileSizeHard = request.fileSizeHard;
    limits.uid = request.uid;
    limits.gid = request.gid;
    return limits;
}

void answer(int fd, int result, const std::string &message)
{
    isolation::sendAll(fd, isolation::resultFrame(result, message));
    ::close(fd);
}

// Reads the call's request and starts it: its decoder child is forked here
// and watched by the loop in main(); a large archive shared among several
// children gets a supervisor process of its own (runShared), which answers
// the library itself. A request that needs no child is answered at once.
void begin(int fd, std::vector<std::unique_ptr<Call>> &calls, std::vector<pid_t> &supervisors)
{
    std::string frame;
    isolation::DecoderRequest request;
    engine::Command command;
    // The request may hold a password: every copy of it here is wiped on
    // the way out (the children forked meanwhile have their own).
    struct Wiper {
        std::string &frame, &text, &password;
        ~Wiper()
        {
            isolation::wipeFrame(frame);
            isolation::wipeFrame(text);
            isolation::wipeFrame(password);
        }
    } wiper{frame, request.text, command.password};
    const bool received = isolation::receiveFrame(fd, frame) && isolation::decodeRequest(frame, request);
    isolation::wipeFrame(frame);
    if (!received) {
        ::close(fd);
        return;
    }
    isolation::Limits limits = limitsOf(request);
    std::string message;
    const engine::LibraryProfile *profile = engine::profileByName(request.profile);
    if (!profile) {
        answer(fd, TENVO_ERR_COMMAND, "no library named " + request.profile);
        return;
    }
    auto call = std::make_unique<Call>();
    call->fd = fd;
    if (request.kind == 'x') {
        const int parsed = engine::parseCommandLine(request.text, profile->switches, command, message,
                                                    profile->takesPassword);
        if (parsed != TENVO_OK) {
            answer(fd, parsed, message);
            return;
        }
        limits.sandbox = {true, command.archivePath, command.destination};
        engine::NameDecoder::preload(command.encoding);
        // Every format but ZIP goes through the decoding libraries (what is
        // no archive needs none of them); a ZIP archive the engine does not
        // read by itself finds out in its child, which then asks for them
        // (step()).
        engine::ArchiveFormat format = engine::ArchiveFormat::Unknown;
        std::string ignored;
        engine::sniffFile(command.archivePath, format, ignored);
        if (format != engine::ArchiveFormat::Unknown
            && (format != engine::ArchiveFormat::Zip || engine::libraryDecoders())
            && !withLibraryDecoders(command.encoding, message)) {
            answer(fd, TENVO_ERR_DECODER, message);
            return;
        }
        if (const int shares = sharesFor(request, command); shares > 1) {
            const pid_t supervisor = ::fork();
            if (supervisor == 0) {
                isolation::closeDescriptorsExcept({fd});
                int result = runShared(fd, *profile, command, limits, shares, message);
                if (result == engine::kNeedsLibraryDecoders) {
                    result = TENVO_ERR_DECODER;
                    if (withLibraryDecoders(command.encoding, message))
                        result = runShared(fd, *profile, command, limits, shares, message);
                }
                isolation::sendAll(fd, isolation::resultFrame(result, message));
                ::_exit(0);
            }
            ::close(fd);
            if (supervisor > 0)
                supervisors.push_back(supervisor);
            return;
        }
        call->profile = profile;
        call->command = command;
        call->limits = limits;
        if (!call->startExtraction(message)) {
            answer(fd, TENVO_ERR_DAMAGED, message);
            return;
        }
    } else if (request.kind == 'c') {
        engine::ArchiveFormat format = engine::ArchiveFormat::Unknown;
        if (engine::sniffFile(request.text, format, message) != TENVO_OK) {
            answer(fd, 0, message);
            return;
        }
        if (!withLibraryDecoders(nullptr, message)) {
            answer(fd, 0, message);
            return;
        }
        const std::string path = request.text;
        limits.sandbox = {true, path, std::string()};
        if (!call->child.start([format, path](std::string &) { return engine::checkFormat(format, path) ? 1 : 0; },
                               limits, std::string(), message)) {
            answer(fd, TENVO_ERR_DAMAGED, message);
            return;
        }
    } else {
        answer(fd, TENVO_ERR_COMMAND, "unknown request");
        return;
    }
    calls.push_back(std::move(call));
}

// One look at a running call: the library's stop, the child's result, and
// every 100 ms its progress and whether it stalled.
void step(Call &call, bool stopAsked, bool resultReady)
{
    using namespace std::chrono;
    bool over = false;
    if (stopAsked) {
        char byte;
        if (::recv(call.fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK) <= 0) {
            call.child.stop();
            over = true;
        }
    }
    if (!over && resultReady)
        over = call.child.readResult();
    if (!over && !resultReady && steady_clock::now() - call.lastCheck >= milliseconds(100)) {
        call.lastCheck = steady_clock::now();
        long long bytesRead = -1;
        over = call.child.check(&bytesRead);
        if (!over && bytesRead >= 0 && bytesRead != call.lastReported
            && isolation::sendAll(call.fd, isolation::progressFrame(bytesRead)))
            call.lastReported = bytesRead;
    }
    if (over) {
        std::string message;
        int result = call.child.finish(message);
        if (result == engine::kNeedsLibraryDecoders) {
            // The child wrote nothing: the same call again, with them.
            if (withLibraryDecoders(call.command.encoding, message) && call.startExtraction(message)) {
                call.lastCheck = steady_clock::now();
                return;
            }
            result = TENVO_ERR_DECODER;
        }
        answer(call.fd, result, message);
        call.over = true;
    }
}

} // namespace

int main()
{
    // Only the control socket and the standard streams are ours: whatever
    // else the library's caller had open stays with it.
    isolation::closeDescriptorsExcept({kControlFd});
    // A library gone mid-call must not kill us with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    // The library stops its calls itself; the terminal's keys are for the
    // program in front (this one runs in a group of its own all the same).
    for (const int sig : {SIGINT, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU})
        ::signal(sig, SIG_IGN);
    // Unset, TZ makes the C library look at /etc/localtime again on every
    // local-time conversion (a stat per entry of an archive with DOS
    // times); naming that same file has it read once.
    if (!::getenv("TZ"))
        ::setenv("TZ", ":/etc/localtime", 1);
    engine::preloadDecoders();
    // Each child closes its own sandbox before it decodes a byte; none
    // inherits a right this program holds.
    isolation::dropInheritedRights();
    // One thread watches every call: forking the decoder children from here
    // is safe, and a call costs one fork of this small process.
    std::vector<std::unique_ptr<Call>> calls;
    std::vector<pid_t> supervisors;
    bool accepting = true;
    while (accepting || !calls.empty() || !supervisors.empty()) {
        if (!accepting && calls.empty()) {
            // The library's process is exiting and waits for this one: the
            // supervisors still ending are waited for at once, not on the
            // next tick of a poll that watches nothing.
            for (const pid_t pid : supervisors) {
                while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
                }
            }
            break;
        }
        std::vector<pollfd> watched;
        if (accepting)
            watched.push_back({kControlFd, POLLIN, 0});
        const std::size_t first = watched.size();
        const std::size_t running = calls.size();
        for (const std::unique_ptr<Call> &call : calls) {
            watched.push_back({call->child.resultFd(), POLLIN, 0});
            watched.push_back({call->fd, POLLIN, 0});
        }
        const int ready = ::poll(watched.data(), nfds_t(watched.size()), 100);
        if (ready < 0 && errno != EINTR)
            return 1;
        for (std::size_t i = 0; i < running; ++i)
            step(*calls[i], ready > 0 && watched[first + 2 * i + 1].revents != 0,
                 ready > 0 && watched[first + 2 * i].revents != 0);
        calls.erase(std::remove_if(calls.begin(), calls.end(),
                                   [](const std::unique_ptr<Call> &call) { return call->over; }),
                    calls.end());
        if (accepting && ready > 0 && watched[0].revents != 0) {
            const int fd = receiveCall();
            if (fd < 0)
                accepting = false; // the library's process has gone
            else
                begin(fd, calls, supervisors);
            engine::scrubStack();
        }
        supervisors.erase(std::remove_if(supervisors.begin(), supervisors.end(),
                                         [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; }),
                          supervisors.end());
    }
    return 0;
}

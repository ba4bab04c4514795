// tenvo-decoder: runs the archiver libraries' decoder processes. An archiver
// library starts it with posix_spawn, its control socket on descriptor 3,
// and hands it one socket per call (decoderclient.h says why).
#include "archiver.h"
#include "decoderprotocol.h"
#include "isolation.h"
#include "profiles.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

// One call, in a supervisor process of its own: reads the request, runs it
// in a decoder child (runIsolated), reports progress while it runs and the
// result at the end. The end of the library's input stops the child.
int serve(int fd)
{
    std::string frame;
    isolation::DecoderRequest request;
    if (!isolation::receiveFrame(fd, frame) || !isolation::decodeRequest(frame, request))
        return 1;

    isolation::Limits limits;
    limits.stallSeconds = request.stallSeconds > 0 ? request.stallSeconds : limits.stallSeconds;
    limits.umask = request.umask;
    limits.haveFileSizeLimit = request.haveFileSizeLimit;
    limits.fileSizeSoft = request.fileSizeSoft;
    limits.fileSizeHard = request.fileSizeHard;
    limits.uid = request.uid;
    limits.gid = request.gid;
    isolation::Supervision supervision;
    supervision.cancelFd = fd;
    long long lastReported = -1;
    supervision.onProgress = [fd, &lastReported](long long bytesRead) {
        if (bytesRead != lastReported && isolation::sendAll(fd, isolation::progressFrame(bytesRead)))
            lastReported = bytesRead;
    };

    int result = TENVO_ERR_COMMAND;
    std::string message;
    const engine::LibraryProfile *profile = engine::profileByName(request.profile);
    if (!profile) {
        message = "no library named " + request.profile;
    } else if (request.kind == 'x') {
        engine::Command command;
        result = engine::parseCommandLine(request.text, profile->switches, command, message,
                                          profile->takesPassword);
        if (result == TENVO_OK) {
            result = isolation::runIsolated(
                [&](std::string &childMessage) {
                    return int(engine::extractCommand(*profile, command, childMessage));
                },
                limits, command.destination, message, supervision);
        }
    } else if (request.kind == 'c') {
        engine::ArchiveFormat format = engine::ArchiveFormat::Unknown;
        result = 0;
        if (engine::sniffFile(request.text, format, message) == TENVO_OK) {
            result = isolation::runIsolated(
                [&](std::string &) { return engine::checkFormat(format, request.text) ? 1 : 0; },
                limits, std::string(), message, supervision);
        }
    }
    isolation::sendAll(fd, isolation::resultFrame(result, message));
    return 0;
}

} // namespace

int main()
{
    // Supervisors are reaped by the system; a library gone mid-call must not
    // kill us with SIGPIPE.
    ::signal(SIGCHLD, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
    engine::preloadDecoders();
    for (;;) {
        const int fd = receiveCall();
        if (fd < 0)
            return 0;
        const pid_t supervisor = ::fork();
        if (supervisor == 0) {
            // This process has one thread, so the fork is safe; the
            // supervisor waits for its own decoder child.
            ::signal(SIGCHLD, SIG_DFL);
            ::close(kControlFd);
            ::_exit(serve(fd));
        }
        ::close(fd);
    }
}

// The archiver libraries' side of the engine: a call is parsed here and
// decoded by the decoder program (extraction.cpp holds what that runs).
#include "archiver.h"

#include "decoderclient.h"
#include "isolation.h"
#include "volumeset.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <new>

namespace tenvo::engine {

namespace {

// How long a decoder may go without reading or writing a byte.
constexpr int kExtractStallSeconds = 30;
constexpr int kCheckStallSeconds = 10;

// Runs one call in a decoder child of the decoder program (decoderclient.h
// says why there). A library file copied on its own, without that program
// beside it, decodes nothing: every archive is read in a sandboxed child,
// and this library links none of the decoding libraries.
int isolate(const LibraryProfile &profile, char kind, std::string_view text,
            const std::string &cleanupRoot, int stallSeconds, unsigned long long total,
            isolation::ProgressCall progress, void *context, int processes, std::string &message)
{
    const isolation::Limits limits = isolation::defaultLimits(stallSeconds);
    isolation::DecoderRequest request;
    request.kind = kind;
    request.profile = profile.name;
    // The one copy of the command line here, wiped on the way out.
    struct Wiper {
        std::string &text;
        ~Wiper() { isolation::wipeFrame(text); }
    } wiper{request.text};
    request.text.reserve(std::max<std::size_t>(text.size(), 16));
    request.text.assign(text);
    request.cleanupRoot = cleanupRoot;
    request.stallSeconds = limits.stallSeconds;
    request.processes = processes < 1 ? 1 : processes;
    if (const char *text = std::getenv("TENVO_SHARE_MIN_BYTES"))
        request.shareMinBytes = std::strtoull(text, nullptr, 10);
    isolation::Limits caller;
    isolation::captureCallerState(caller);
    request.umask = caller.umask;
    request.haveFileSizeLimit = caller.haveFileSizeLimit;
    request.fileSizeSoft = caller.fileSizeSoft;
    request.fileSizeHard = caller.fileSizeHard;
    request.uid = caller.uid;
    request.gid = caller.gid;
    int result = TENVO_ERR_DAMAGED;
    if (isolation::runInDecoder(request, total, progress, context, result, message))
        return result == isolation::kStopped ? int(TENVO_ERR_STOPPED) : result;
    message = std::string(profile.name) + ": its decoder program (tenvo-decoder) is not beside it";
    return TENVO_ERR_DECODER;
}

unsigned long long fileSize(const std::string &path)
{
    // A set read joined is read through all its parts.
    NumberedParts parts = joinedParts(path);
    if (parts.paths.empty())
        parts.paths.push_back(path);
    unsigned long long total = 0;
    for (const std::string &part : parts.paths) {
        struct stat st;
        if (::stat(part.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            total += (unsigned long long)st.st_size;
    }
    return total;
}

} // namespace
int runCommand(const LibraryProfile &profile, const char *commandLine, char *output,
               unsigned int outputSize,
               int (*progress)(void *, unsigned long long, unsigned long long),
               void *context, int processes) noexcept
{
    TenvoResult result = TENVO_OK;
    std::string message;
    try {
        Command command;
        if (commandLine == nullptr) {
            result = TENVO_ERR_COMMAND;
            message = "no command line";
        } else {
            result = parseCommandLine(commandLine, profile.switches, command, message,
                                      profile.takesPassword);
        }
        // Each archive is decoded in a child process: whatever a decoder does
        // with a hostile archive (crash, endless loop, runaway memory) ends
        // this archive as damaged and leaves the caller running.
        if (result == TENVO_OK) {
            result = static_cast<TenvoResult>(isolate(
                profile, 'x', commandLine, command.destination, kExtractStallSeconds,
                fileSize(command.archivePath), progress, context, processes, message));
        }
        wipeText(command.password);
        scrubStack();
    } catch (const std::bad_alloc &) {
        result = TENVO_ERR_WRITE;
        message = "out of memory";
    } catch (...) {
        result = TENVO_ERR_DAMAGED;
        message = "unexpected failure while extracting";
    }
    // A buffer too small for the shortened-name lines keeps whole ones.
    if (output != nullptr && outputSize > 1 && message.size() >= outputSize) {
        const std::size_t end = message.rfind('\n', outputSize - 2);
        if (end != std::string::npos)
            message.resize(end + 1);
    }
    copyToOutput(message, output, outputSize);
    return result;
}

int checkArchive(const LibraryProfile &profile, const char *path, int) noexcept
{
    if (path == nullptr)
        return 0;
    try {
        ArchiveFormat format = ArchiveFormat::Unknown;
        std::string message;
        if (sniffFile(path, format, message) != TENVO_OK || !accepts(profile, format))
            return 0;
        // Answered in a child process too; a decoder that fails there
        // (result 3) does not accept the file.
        std::string childMessage;
        const int answer = isolate(
            profile, 'c', path, std::string(), kCheckStallSeconds, 0, nullptr, nullptr, 1, childMessage);
        return answer == 1 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

} // namespace tenvo::engine

// libFuzzer target: the archiver libraries' command-line reader.
#include "commandline.h"
#include "profiles.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace tenvo::engine;

namespace {

[[noreturn]] void fail(const char *what, std::string_view line)
{
    // One line with "ERROR:": libFuzzer's fork mode passes on only such lines.
    std::fprintf(stderr, "ERROR: fuzz_commandline: %s (line [%.*s])\n", what, int(line.size()),
                 line.data());
    std::abort();
}

// The line the program builds: each path quoted, inner quotes doubled.
std::string quoted(std::string_view path)
{
    std::string text = "\"";
    for (char c : path) {
        text += c;
        if (c == '"')
            text += '"';
    }
    return text + '"';
}

std::string joinWords(const std::vector<std::string> &words)
{
    std::string text;
    for (const std::string &word : words)
        text += word + ' ';
    return text;
}

const LibraryProfile *const profiles[] = {&unlhaProfile(), &cabProfile(), &unzipProfile(),
                                          &sevenZipProfile(), &unrarProfile()};

// Whatever the line, the reader answers OK or TENVO_ERR_COMMAND with a
// message, and what it accepts reads the same when written out again.
void checkArbitraryLine(std::string_view line)
{
    for (const LibraryProfile *profile : profiles) {
        Command command;
        std::string message;
        const TenvoResult result = parseCommandLine(line, profile->switches, command, message);
        if (result != TENVO_OK) {
            if (result != TENVO_ERR_COMMAND)
                fail("a refused line gave a result other than TENVO_ERR_COMMAND", line);
            if (message.empty())
                fail("a refused line came without a message", line);
            continue;
        }
        const SwitchForm *form = nullptr;
        for (const SwitchForm &candidate : profile->switches) {
            if (candidate.flatten == command.flatten)
                form = &candidate;
        }
        if (!form)
            fail("the flatten flag names no switch form of the library", line);
        const std::string again = joinWords(form->words) + quoted(command.archivePath) + ' '
            + quoted(command.destination);
        Command reread;
        if (parseCommandLine(again, profile->switches, reread, message) != TENVO_OK
            || reread.archivePath != command.archivePath
            || reread.destination != command.destination || reread.flatten != command.flatten)
            fail("an accepted command does not read back the same when written out", line);
    }
}

// Any two paths without a NUL reach the library intact through the line the
// program builds, with every switch form of every library.
void checkPathRoundTrip(std::string_view data)
{
    const std::size_t cut = data.find('\0');
    const std::string_view archive = data.substr(0, cut);
    std::string_view destination =
        cut == std::string_view::npos ? std::string_view() : data.substr(cut + 1);
    destination = destination.substr(0, destination.find('\0'));

    for (const LibraryProfile *profile : profiles) {
        for (const SwitchForm &form : profile->switches) {
            const std::string line =
                joinWords(form.words) + quoted(archive) + ' ' + quoted(destination);
            Command command;
            std::string message;
            if (parseCommandLine(line, profile->switches, command, message) != TENVO_OK)
                fail(("a line built by the program was refused: " + message).c_str(), line);
            if (command.archivePath != archive || command.destination != destination
                || command.flatten != form.flatten)
                fail("a line built by the program read back different paths or layout", line);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    checkArbitraryLine(bytes);
    checkPathRoundTrip(bytes);
    return 0;
}

// The engine behind the five archiver libraries: each library is a profile
// (the formats it accepts, the switches it reads) and three exported calls
// that forward here.
#pragma once

#include "commandline.h"
#include "formatsniffer.h"
#include "result.h"
#include "safewriter.h"

#include <string>
#include <vector>

namespace tenvo::engine {

// What one archiver library accepts.
struct LibraryProfile {
    const char *name;                  // "unlha32", for messages
    unsigned formats;                  // ArchiveFormat bits
    std::vector<SwitchForm> switches;  // e.g. {{"x"}, false}, {{"e"}, true}
    bool takesPassword = false;        // reads "-p<password>" before the archive (ZIP)
};

// The answer of every version call (any number above 0 means "present").
inline constexpr int kLibraryVersion = 100;

constexpr unsigned operator|(ArchiveFormat a, ArchiveFormat b)
{
    return static_cast<unsigned>(a) | static_cast<unsigned>(b);
}

// Whether a library of this profile reads archives of this format.
inline bool accepts(const LibraryProfile &profile, ArchiveFormat format)
{
    return format != ArchiveFormat::Unknown
        && (profile.formats & static_cast<unsigned>(format)) != 0;
}

// The command call. Reads `switch "archive" "destination"`, extracts and
// returns a TenvoResult: 0 only when every entry landed, else the first
// cause. Writes a message into output when output != NULL and
// outputSize > 0 (always NUL-terminated). Never throws, prints or exits.
// progress, when given, is called on the calling thread about ten times a
// second with the bytes of the archive read and its size; a non-zero answer
// ends the decoding (no partial file stays) and gives TENVO_ERR_STOPPED.
// processes: how many decoder processes may share a large archive's entries.
int runCommand(const LibraryProfile &profile, const char *commandLine, char *output,
               unsigned int outputSize,
               int (*progress)(void *, unsigned long long, unsigned long long) = nullptr,
               void *context = nullptr, int processes = 1) noexcept;

// The mark that starts each line about shortened names in a call's output
// (result.h describes the lines).
inline constexpr const char *kShortenedMark = "shortened\t";

// For a call whose entries several processes shared: the first line of
// message, followed by the shortened-name lines of all of messages (each a
// share's output) under one count.
std::string withShortenedNames(const std::string &message, const std::vector<std::string> &messages);

// The check call (every mode alike): non-zero only when the file's signature
// is one of the profile's formats and all its headers read cleanly.
int checkArchive(const LibraryProfile &profile, const char *path, int mode) noexcept;

// Extracts one archive: opens it (TENVO_ERR_OPEN), routes it by signature
// among the profile's formats (TENVO_ERR_FORMAT), opens the existing
// destination folder (TENVO_ERR_WRITE) and writes the entries through a
// SafeWriter. Returns the first cause, with a message. A ZIP archive with
// encrypted entries is decrypted with password; without one, or when it
// does not open the first encrypted entry, the result is
// TENVO_ERR_ENCRYPTED and nothing is written. encoding, when given, is the
// one every name not stored as Unicode is read in (namecodec.h).
TenvoResult extractArchive(const LibraryProfile &profile, const std::string &archivePath,
                           const std::string &destination, Layout layout, std::string &message,
                           const std::string *password = nullptr,
                           const NameEncoding *encoding = nullptr);

// What a decoder child does for one parsed command: extractArchive with the
// command's archive, destination, layout, password and name encoding. Its
// TenvoResult, or kNeedsLibraryDecoders (librarydecoders.h).
int extractCommand(const LibraryProfile &profile, const Command &command, std::string &message);

// The check of a file already known to be of format, run in a decoder child
// (false where the decoding libraries are not loaded).
bool checkFormat(ArchiveFormat format, const std::string &path);

// Loads what every decoder child would otherwise load for itself
// (converters, locale), once, in the process that forks them.
void preloadDecoders();

} // namespace tenvo::engine

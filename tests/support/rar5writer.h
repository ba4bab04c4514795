// Writes stored (method 0) RAR 5 archives for test fixtures.
#pragma once

#include "archivemaker.h"

#include <map>

namespace tenvo::fixture {

struct Rar5Options
{
    // The host OS field: it decides whether attributes are Windows attributes
    // or a Unix mode, and which kind of link a symbolic link is.
    enum class Host { Windows, Unix };
    Host host = Host::Unix;
    // Index of an entry whose data CRC32 is stored wrong.
    std::optional<std::size_t> badDataCrcEntry;
    // Index of an entry whose header CRC32 is stored wrong.
    std::optional<std::size_t> badHeaderCrcEntry;
    // Index of an entry marked as AES-256 encrypted; its stored data is
    // scrambled and padded to the cipher's block size, so no password gives it back.
    std::optional<std::size_t> encryptedEntry;
    // Writes an archive encryption header after the signature, as archives
    // whose names are password-protected begin; everything after it is scrambled.
    bool encryptHeaders = false;
    // Cuts the archive in the middle of the data of the last entry holding data.
    bool truncateInLastData = false;
    // Keeps only this many leading bytes (at least 1; applied last).
    std::optional<std::size_t> truncateTo;
    // Leaves out the end-of-archive header.
    bool omitEndHeader = false;
    // Indexes of symbolic-link entries stored as hard links instead
    // (redirection type 4, a regular file's attributes): the link target
    // names the file linked to.
    std::vector<std::size_t> hardLinkEntries;
    // Unpacked sizes written in place of the true ones, by entry index; the
    // stored data and its CRC32 stay those of the entry's real data.
    std::map<std::size_t, uint64_t> declaredSizes;
};

// The archive's bytes: signature, main archive header, one file header per
// entry followed by its stored data, end-of-archive header. Names must be
// UTF-8, as RAR 5 stores them. Empty on failure (a cut with no data to cut),
// with the reason in *error when given.
std::string makeRar5(const FixtureEntries &entries, const Rar5Options &options = {},
                     std::string *error = nullptr);
// A multi-volume set ("name.partN.rar") of stored entries: each volume holds
// at most volumeData bytes of file data, a file's data going on in the next
// volume where it does not fit (split flags set; each part before the last
// carries the CRC32 of its own data, the last that of the whole file). Every
// main header marks a volume and gives its number after the first; every end
// header but the last says another volume follows. Honours host only.
std::vector<std::string> makeRar5Volumes(const FixtureEntries &entries, std::size_t volumeData,
                                         const Rar5Options &options = {});

bool writeRar5(const QString &path, const FixtureEntries &entries, const Rar5Options &options = {},
               std::string *error = nullptr);

} // namespace tenvo::fixture

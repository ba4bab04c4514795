// Writes ZIP archives whose entries are packed with Deflate64 (method 9), for test fixtures.
#pragma once

#include "archivemaker.h"

namespace tenvo::fixture {

struct Deflate64ZipOptions
{
    // Raw: names stored as given with general-purpose flag bit 11 clear (CP932
    // bytes stay CP932). Utf8: bit 11 set on every name that is not plain ASCII.
    enum class Names { Raw, Utf8 };
    Names names = Names::Utf8;
    // Unix: "made by" Unix with the mode and file-type bits in the external
    // attributes. Windows: "made by" MS-DOS with FAT attributes.
    enum class Host { Windows, Unix };
    Host host = Host::Unix;
    // Entries written with method 0 (stored) instead of 9.
    std::vector<std::size_t> storedEntries;
    // Largest data length of one stored deflate block (1 to 65535); small
    // values make entries span many blocks.
    std::size_t blockSize = 65535;
    // Index of an entry whose CRC32 (local and central) is stored wrong.
    std::optional<std::size_t> badCrcEntry;
    // Index of an entry whose general-purpose flag bit 0 (encrypted) is set.
    std::optional<std::size_t> encryptedEntry;
    // Writes a ZIP64 end-of-central-directory record and locator, and puts
    // the all-ones markers into the classic end record's counts and offsets.
    bool zip64EndRecords = false;
    // Keeps only this many leading bytes.
    std::optional<std::size_t> truncateTo;
};

// The archive's bytes: local header and data per entry, central directory,
// end record(s). File data and link targets are packed as Deflate64 streams
// made of stored blocks (BTYPE 00, laid out as in Deflate), each with its
// correct CRC32 unless an option says otherwise. Directories are stored
// (method 0) with a trailing '/'. Empty on failure (a symbolic link on a
// Windows host, a block size out of range), with the reason in *error when given.
std::string makeDeflate64Zip(const FixtureEntries &entries, const Deflate64ZipOptions &options = {},
                             std::string *error = nullptr);
bool writeDeflate64Zip(const QString &path, const FixtureEntries &entries,
                       const Deflate64ZipOptions &options = {}, std::string *error = nullptr);

} // namespace tenvo::fixture

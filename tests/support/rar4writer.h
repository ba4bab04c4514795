// Writes stored (method 0x30) RAR 4 archives for test fixtures.
#pragma once

#include "archivemaker.h"

namespace tenvo::fixture {

struct Rar4Options
{
    // Windows: attributes are FAT attributes and '/' becomes '\' in names.
    // Unix: attributes are the entry's mode with its file-type bits, names
    // keep '/', and symbolic links can be stored.
    enum class Host { Windows, Unix };
    Host host = Host::Windows;
    // Sets the main header's solid flag; with solidEntryFlags every entry
    // after the first also gets the file header's solid flag.
    bool solid = false;
    bool solidEntryFlags = true;
    // Entries whose names (UTF-8) are stored with the Unicode flag in RAR's
    // compact encoding, after a single-byte name with '?' for every
    // character outside ASCII.
    std::vector<std::size_t> unicodeNameEntries;
    // Entries whose names (UTF-8) are stored with the Unicode flag as bare
    // UTF-8 bytes, as later RAR versions do.
    std::vector<std::size_t> utf8NameEntries;
    // Index of an entry whose stored data CRC32 is wrong.
    std::optional<std::size_t> badDataCrcEntry;
    // Index of an entry whose header CRC is wrong.
    std::optional<std::size_t> badHeaderCrcEntry;
    // Index of an entry marked encrypted (flag 0x04); its data is stored
    // scrambled, so nothing but a password could give it back.
    std::optional<std::size_t> encryptedEntry;
    // Sets the main header's encrypted-headers flag (0x80).
    bool encryptedHeaders = false;
    // Leaves out the end-of-archive block.
    bool omitEndBlock = false;
    // Cuts the archive in the middle of the data of the last entry holding data.
    bool truncateInLastData = false;
    // Keeps only this many leading bytes (applied last).
    std::optional<std::size_t> truncateTo;
};

// The archive's bytes: marker block, main archive header, one file header per
// entry followed by its stored data, end-of-archive block, with the header
// CRCs (low 16 bits of the CRC32 from the header type on) and data CRC32s
// right unless an option says otherwise. Names are stored as given (so CP932
// bytes stay CP932) unless listed for a Unicode form. Empty on failure (a
// symbolic link on a Windows host, a cut with no data to cut, an invalid
// Unicode name), with the reason in *error when given.
std::string makeRar4(const FixtureEntries &entries, const Rar4Options &options = {},
                     std::string *error = nullptr);
// A multi-volume set of stored entries: each volume holds at most
// volumeData bytes of file data, a file's data going on in the next volume
// where it does not fit (split flags set; each part before the last holds
// the CRC32 of its own data, the last that of the whole file). The main
// headers mark the set (first volume, and with newNumbering the
// "name.partN.rar" naming, else "name.rar", "name.r00", ...); the end block
// of every volume but the last says another follows. Honours host, solid
// and solidEntryFlags of options only.
std::vector<std::string> makeRar4Volumes(const FixtureEntries &entries, std::size_t volumeData,
                                         const Rar4Options &options = {}, bool newNumbering = true);

bool writeRar4(const QString &path, const FixtureEntries &entries, const Rar4Options &options = {},
               std::string *error = nullptr);

} // namespace tenvo::fixture

// Writes cabinets of several folders, stored or MSZIP, for test fixtures.
#pragma once

#include "archivemaker.h"

namespace tenvo::fixture {

struct FolderedCabOptions
{
    // MSZIP: each data block is "CK" and a Deflate stream of at most 32 KiB of
    // input made by libarchive; otherwise stored.
    bool mszip = true;
    // The entries go into folders in order, this many files to a folder.
    std::size_t filesPerFolder = 8;
    // A folder whose first data block carries a wrong checksum.
    std::optional<std::size_t> badChecksumFolder;
    // Reserved bytes (zeros) after the header, in each folder record and in
    // each data block; 0 for none.
    uint8_t reserve = 0;
};

// A single cabinet whose files are spread over several folders, each folder
// one run of data blocks decoded from its start. Names are stored with '\'
// between components and the UTF-8 attribute when they are not ASCII.
// Only files can be stored: a folder or link entry makes the call fail.
// Empty on failure, with the reason in *error when given.
std::string makeFolderedCab(const FixtureEntries &entries, const FolderedCabOptions &options = {},
                            std::string *error = nullptr);

} // namespace tenvo::fixture

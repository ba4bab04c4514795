// The decoders built on the decoding libraries (libarchive, unarr, libmspack,
// liblhasa, nettle), reached through one table.
#pragma once

// Loading those libraries is most of a decoder program's start, and a plain
// ZIP archive needs none of them (zipreader.h). The decoder program keeps
// them in a module of their own that it loads the first time a call needs
// them; everything else that links the engine has them linked in.

#include "entrysink.h"
#include "formatsniffer.h"

#include <string>

namespace tenvo::engine {

struct NameEncoding;

struct LibraryDecoders {
    // Raised whenever the table changes, so that a module left from another
    // build is refused rather than called.
    static constexpr int kVersion = 1;
    int version;
    TenvoResult (*decode)(ArchiveFormat format, const std::string &archivePath, EntrySink &sink,
                          std::string &message, const std::string *password);
    bool (*check)(ArchiveFormat format, const std::string &archivePath);
    // checkZipPassword or checkSevenZipPassword.
    TenvoResult (*checkPassword)(ArchiveFormat format, const std::string &archivePath,
                                 const std::string *password, bool &encrypted, std::string &message);
    // What the decoders load for themselves (converters, locale), with the
    // converter of chosen when one is named; before a sandboxed child is
    // forked.
    void (*preload)(const NameEncoding *chosen);
};

// The table, as the module defines it and as it is linked in elsewhere.
extern const LibraryDecoders kLinkedLibraryDecoders;

// The table; null in a decoder program's child whose program has not
// loaded the module yet.
const LibraryDecoders *libraryDecoders();

// Loads the module where the decoders are not linked in; false, with a
// message, when it cannot be loaded. Called only before forking children.
bool loadLibraryDecoders(std::string &message);

// A decoder child's result (extractCommand) when the archive needs the
// decoders and they are not loaded. Nothing has been written then: whoever
// forked the child loads them and runs the call again.
inline constexpr int kNeedsLibraryDecoders = -101;

} // namespace tenvo::engine

// The seam between a format decoder (libarchive, unarr, libmspack) and the
// engine part that decides where entries go and writes them safely.
#pragma once

#include "result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tenvo::engine {

struct NameEncoding;

enum class EntryKind { File, Directory, Symlink, Hardlink, Other };

// One entry as the decoder found it. Names are raw bytes as stored; the sink
// decodes and checks them, so decoders never interpret paths.
struct EntryInfo {
    std::string rawName;     // stored name; "/" or "\" may separate folders
    bool nameIsUtf8 = false; // the archive marks this name as UTF-8
    // The name, and a link's target, were stored as Unicode (UTF-16, RAR's
    // Unicode names, 7z, RAR 5), so an encoding chosen for the archive's
    // names does not apply to them.
    bool nameIsUnicode = false;
    EntryKind kind = EntryKind::File;
    std::string linkTarget;  // raw bytes, for Symlink and Hardlink
    bool linkTargetIsUtf8 = false;
    uint32_t mode = 0;       // permission bits as stored (07777 mask), 0 when unknown
    int64_t size = -1;       // declared uncompressed size, -1 when unknown; a file
                             // whose data differs from it never lands
    int64_t mtime = INT64_MIN; // seconds since 1970 (UTC), INT64_MIN when unknown
    bool encrypted = false;
};

// Receives the entries of one archive in order. Implemented by the engine.
class EntrySink {
public:
    virtual ~EntrySink() = default;

    // Starts an entry. Returns true when the decoder should deliver its data
    // through entryData(); false when the entry is refused or not wanted (the
    // decoder then skips the data and calls endEntry() all the same).
    virtual bool beginEntry(const EntryInfo &entry) = 0;

    // Data of the current entry, in order. Returns false when it cannot be
    // stored; the decoder then stops feeding this entry and calls endEntry().
    virtual bool entryData(const void *data, std::size_t size) = 0;

    // Ends the current entry. outcome is TENVO_OK only when all of the data
    // was decoded and passed its check; otherwise the cause and a message.
    virtual void endEntry(TenvoResult outcome, const std::string &message) = 0;

    // A folder (an open descriptor) where a decoder may keep an unnamed
    // scratch file it needs, on the destination's file system; -1 when
    // there is none.
    virtual int scratchFolder() const { return -1; }

    // For a decoder that knows every entry before the first and decodes the
    // entries of one group (a CAB folder) only together: the entries in
    // archive order, each with its group. Returns true when this sink shares
    // the entries among processes and keeps each group in one of them; the
    // decoder then decodes only the groups whose entries it is given and
    // skips the others without decoding them. Called before beginEntry().
    struct GroupedEntry {
        std::string rawName;
        int64_t size = 0;
        std::size_t group = 0;
    };
    virtual bool shareGroups(const std::vector<GroupedEntry> &) { return false; }

    // The encoding chosen for the archive's names, or null for the automatic
    // reading. A decoder that reads names itself reads them in it.
    virtual const NameEncoding *nameEncoding() const { return nullptr; }
};

// A decoder: reads one archive file and feeds every entry to the sink.
// Returns TENVO_OK when the whole archive was walked, otherwise the
// archive-level cause (cannot open, not this format, damaged), with a message.
// Entry-level causes go to endEntry(). Decoders never write files themselves.
using DecodeFunction = TenvoResult (*)(const std::string &archivePath, EntrySink &sink,
                                      std::string &message);

// Checks that the file is of the decoder's format and that its headers read
// cleanly (data is not decoded). Never writes anything.
using CheckFunction = bool (*)(const std::string &archivePath);

} // namespace tenvo::engine

// The engine's EntrySink: decides where each entry goes and writes it so that
// nothing lands outside the destination folder.
#pragma once

#include "entrysink.h"
#include "flattennames.h"
#include "namecodec.h"

#include <sys/types.h>

#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tenvo::engine {

// Restore recreates the stored folders; Flatten puts every file straight
// into the destination under the last component of its name, numbered when
// an earlier entry of the archive took that name (see FlattenNames).
enum class Layout { Restore, Flatten };

// Writes the entries of one archive under one destination folder.
//
// Every folder on the way is opened from the destination with O_NOFOLLOW, so
// a symbolic link met on the way (planted before or by the same archive) is
// never followed: the entry is refused. Files are written under a temporary
// name and renamed over the final name only when endEntry() says TENVO_OK, so
// a damaged entry never leaves a partial file nor destroys an existing one;
// the temporaries of a writer killed outright (whose process is gone) are
// removed from each folder this one writes into.
// Permissions are the stored ones (0644 files, 0755 folders when unknown)
// without set-user-ID, set-group-ID and sticky bits, through the umask;
// owners are never changed. Devices, FIFOs and sockets are refused; links
// are made only when they stay inside the destination.
//
// The disk is guarded as well: a file whose declared size does not fit in
// the free space of the destination's file system (less a small reserve) is
// refused before a byte of it is written, the free space is checked again
// as data goes out (every few tens of MB, more often as it runs short), and
// a file whose data passes its declared size is stopped there. Such a file
// never lands; one whose data ends short of its declared size neither.
//
// A refused entry does not stop the archive: result() keeps the first cause,
// message() says it with the entry's name escaped.
class SafeWriter final : public EntrySink {
public:
    // encoding: the one chosen for the archive's names, or null (namecodec.h).
    explicit SafeWriter(Layout layout, const NameEncoding *encoding = nullptr);
    ~SafeWriter() override;
    SafeWriter(const SafeWriter &) = delete;
    SafeWriter &operator=(const SafeWriter &) = delete;

    // With true, encrypted entries are taken (the decoder decrypts them);
    // otherwise they are refused as TENVO_ERR_ENCRYPTED.
    void setDecryptsEntries(bool decrypts) { m_decryptsEntries = decrypts; }

    // Opens the destination folder, which must exist (it is never created).
    // Returns TENVO_ERR_WRITE with a message when it is missing or no folder.
    TenvoResult open(const std::string &destination, std::string &message);

    bool beginEntry(const EntryInfo &entry) override;
    bool entryData(const void *data, std::size_t size) override;
    void endEntry(TenvoResult outcome, const std::string &message) override;
    int scratchFolder() const override { return m_root; }
    const NameEncoding *nameEncoding() const override { return m_names.chosen(); }

    // Ends the archive: drops an entry left unfinished (as damaged), gives
    // folders their stored times and closes every handle. When an entry was
    // kept out, or callFailed says the call failed elsewhere (the decoder,
    // another process), the folders this writer created and that stayed
    // empty are removed, so a failed extraction leaves no empty folders
    // behind; a folder that was there before is never removed. Called by
    // the destructor too.
    void finish(bool callFailed = false);

    TenvoResult result() const { return m_result; }
    const std::string &message() const { return m_message; }
    std::size_t entriesWritten() const { return m_written; }
    // Names too long for the file system (a name over 255 bytes, a path
    // over 4095 counted from the root) land shortened: cut on a character boundary, keeping the
    // extension, numbered " (n)" when another shortened name of the archive
    // took the result in that folder, the deepest names cut first for a
    // path too long. Each pair is a stored path and the path it landed as
    // (decoded, "/" between folders, relative to the destination), in the
    // order they landed; a shortened folder is listed once. The first 1000
    // are kept; shortenedCount() counts them all.
    const std::vector<std::pair<std::string, std::string>> &shortenedNames() const
    {
        return m_shortened;
    }
    std::size_t shortenedCount() const { return m_shortenedCount; }
    std::size_t entriesFailed() const { return m_failed; }

private:
    enum class State { Idle, Ignored, Refused, File, Directory, Symlink, Hardlink };

    void refuse(TenvoResult cause, const std::string &reason);
    void fail(TenvoResult cause, const std::string &text);
    // fail() with a refusal's reason, worded as "entry refused (...)" for an unsafe entry.
    void failWithReason(TenvoResult cause, const std::string &reason);
    int folder(std::size_t count, bool create, TenvoResult &cause, std::string &reason);
    int walk(const std::vector<std::string> &components, std::size_t count, bool create,
             TenvoResult &cause, std::string &reason);
    bool fitLongNames(bool isFolder, std::string &reason);
    void landed();
    void closeFolders();
    void removeEmptyCreatedFolders();
    std::string nextTempName();
    bool createTemp(int folderFd, int &fd, std::string &tempName);
    bool makeLink(int folderFd, const std::string &target, std::string &tempName);
    bool flushBuffer();
    bool writeAll(const char *data, std::size_t size);
    bool roomFor(std::size_t size);
    void stopFile(TenvoResult cause, const std::string &text);
    void finishFile(TenvoResult outcome, const std::string &decoderMessage);
    void finishDirectory();
    void finishSymlink();
    void finishHardlink();
    bool renameIntoPlace(int folderFd, const std::string &tempName);
    void dropFile();

    Layout m_layout;
    bool m_decryptsEntries = false;
    int m_root = -1;
    mode_t m_umask = 022;
    std::size_t m_pathBudget = kMaxPathBytes; // bytes a path below the root may take
    NameDecoder m_names;
    FlattenNames m_flatNames;
    // Flatten: where each stored path landed, for hard links to it.
    std::unordered_map<std::string, std::string> m_flatPlaced;
    std::unordered_map<std::string, int> m_folders; // "a/b" -> O_PATH fd
    std::vector<std::pair<std::vector<std::string>, int64_t>> m_folderTimes;
    std::vector<std::vector<std::string>> m_createdFolders; // in the order made
    // Restore, names too long: stored folder path -> its landed components,
    // for each folder at or below a shortened one, so later entries follow.
    std::unordered_map<std::string, std::vector<std::string>> m_shortFolders;
    // Landed path of each shortened name -> the stored path it stands for.
    std::unordered_map<std::string, std::string> m_shortTaken;
    // Stored path -> landed path of the entries that landed elsewhere.
    std::unordered_map<std::string, std::string> m_landedAs;
    std::unordered_set<std::string> m_reportedShort;
    std::vector<std::pair<std::string, std::string>> m_shortened;
    std::size_t m_shortenedCount = 0;
    std::vector<std::pair<std::string, std::string>> m_entryShortened; // the entry in progress

    // The entry in progress.
    State m_state = State::Idle;
    std::string m_shownName;                // decoded, escaped for messages
    std::vector<std::string> m_components;  // where it goes, under m_root
    std::vector<std::string> m_linkSource;  // hard link: the existing file
    std::string m_linkTarget;               // symbolic link: normalised target
    uint32_t m_mode = 0;
    int64_t m_mtime = INT64_MIN;
    int m_fileFd = -1;
    int m_fileFolder = -1;
    std::string m_tempName;
    int64_t m_declaredSize = -1;   // -1 when the decoder does not know it
    uint64_t m_entryBytes = 0;     // data received for the file so far
    TenvoResult m_stopCause = TENVO_OK; // why the file's data stopped being taken
    std::string m_stopText;
    uint64_t m_untilSpaceCheck = 0; // bytes that may go out before the next free-space check

    std::unique_ptr<char[]> m_buffer;
    std::size_t m_buffered = 0;
    std::string m_tempPrefix;
    unsigned m_tempCounter = 0;
    std::set<std::pair<dev_t, ino_t>> m_sweptFolders; // stale temporaries removed there
    std::set<int> m_sweptHandles; // open folder handles whose folder was swept

    TenvoResult m_result = TENVO_OK;
    std::string m_message;
    std::size_t m_written = 0;
    std::size_t m_failed = 0;
};

} // namespace tenvo::engine

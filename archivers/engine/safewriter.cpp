// The engine's EntrySink: decides where each entry goes and writes it so that
// nothing lands outside the destination folder.
#include "safewriter.h"

#include "isolation.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace tenvo::engine {

namespace {

constexpr std::size_t kBufferSize = 1 << 20;
// Folder handles kept open at once; a path is at most kMaxPathDepth deep.
constexpr std::size_t kMaxOpenFolders = 1024;
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Room left free on the destination's file system: a file that would eat
// into it is refused or stopped.
constexpr uint64_t kFreeSpaceReserve = uint64_t(1) << 20;
// The most data written between two checks of the free space.
constexpr uint64_t kSpaceCheckInterval = uint64_t(32) << 20;

std::string errorText(int error) { return std::strerror(error); }

// What an unprivileged writer may still use on fd's file system, less the
// reserve; false when the file system does not say.
bool usableBytes(int fd, uint64_t &usable, uint64_t &available)
{
    struct statvfs fs {};
    if (::fstatvfs(fd, &fs) != 0)
        return false;
    available = uint64_t(fs.f_bavail) * fs.f_frsize;
    usable = available > kFreeSpaceReserve ? available - kFreeSpaceReserve : 0;
    return true;
}

std::string joinComponents(const std::vector<std::string> &components, std::size_t count)
{
    std::string key;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            key += '/';
        key += components[i];
    }
    return key;
}

std::string defaultText(TenvoResult cause)
{
    switch (cause) {
    case TENVO_ERR_DAMAGED:
        return "damaged data";
    case TENVO_ERR_ENCRYPTED:
        return "entry is encrypted";
    case TENVO_ERR_UNSAFE:
        return "entry refused";
    case TENVO_ERR_WRITE:
        return "cannot write";
    case TENVO_ERR_FORMAT:
        return "unsupported entry";
    case TENVO_ERR_METHOD:
        return "compression method not supported";
    default:
        return "entry failed";
    }
}

} // namespace

SafeWriter::SafeWriter(Layout layout, const NameEncoding *encoding)
    : m_layout(layout)
    , m_names(encoding)
{
}

SafeWriter::~SafeWriter()
{
    finish();
    if (m_root >= 0)
        ::close(m_root);
}

TenvoResult SafeWriter::open(const std::string &destination, std::string &message)
{
    // The destination itself is the user's choice and may be reached through
    // a link; only what lies below it is guarded.
    m_root = ::open(destination.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_root < 0) {
        const int error = errno;
        message = "destination folder \"" + escapeForMessage(destination)
            + "\" cannot be used: " + errorText(error);
        return TENVO_ERR_WRITE;
    }
    // A path the programs that open these files can hold, counted from
    // the root: what PATH_MAX leaves after the destination's own path.
    if (char *real = ::realpath(destination.c_str(), nullptr)) {
        const std::size_t used = std::strlen(real) + 1;
        m_pathBudget = used + 256 < kMaxPathBytes ? kMaxPathBytes - used : 256;
        std::free(real);
    }
    m_umask = isolation::currentUmask();
    m_tempPrefix = ".tenvo-" + std::to_string(::getpid()) + "-";
    return TENVO_OK;
}

void SafeWriter::fail(TenvoResult cause, const std::string &text)
{
    ++m_failed;
    if (m_result == TENVO_OK) {
        m_result = cause;
        m_message = text + ": " + m_shownName;
    }
}

void SafeWriter::failWithReason(TenvoResult cause, const std::string &reason)
{
    fail(cause, cause == TENVO_ERR_UNSAFE ? "entry refused (" + reason + ")" : reason);
}

void SafeWriter::refuse(TenvoResult cause, const std::string &reason)
{
    failWithReason(cause, reason);
    m_state = State::Refused;
}

bool SafeWriter::beginEntry(const EntryInfo &entry)
{
    if (m_state != State::Idle)
        endEntry(TENVO_ERR_DAMAGED, "entry ended without its end");

    m_entryShortened.clear();
    const std::string name = m_names.decode(entry.rawName, entry.nameIsUtf8, entry.nameIsUnicode);
    m_shownName = escapeForMessage(name);
    m_mode = entry.mode;
    m_mtime = entry.mtime;
    m_declaredSize = entry.size;
    m_entryBytes = 0;
    m_stopCause = TENVO_OK;
    m_stopText.clear();
    m_buffered = 0;

    if (m_root < 0) {
        refuse(TENVO_ERR_WRITE, "no destination folder");
        return false;
    }
    if (entry.encrypted && !m_decryptsEntries) {
        refuse(TENVO_ERR_ENCRYPTED, "entry is encrypted");
        return false;
    }
    if (entry.kind == EntryKind::Other) {
        refuse(TENVO_ERR_UNSAFE, "device, FIFO or socket");
        return false;
    }

    std::string reason;
    if (splitEntryPath(name, m_components, reason, true) != TENVO_OK) {
        refuse(TENVO_ERR_UNSAFE, reason);
        return false;
    }
    if (entry.kind == EntryKind::Directory
        && (m_layout == Layout::Flatten || m_components.empty())) {
        m_state = State::Ignored;
        return false;
    }
    if (m_components.empty()) {
        refuse(TENVO_ERR_UNSAFE, "no file name");
        return false;
    }
    if (m_layout == Layout::Flatten) {
        const std::string stored = joinComponents(m_components, m_components.size());
        m_components.erase(m_components.begin(), m_components.end() - 1);
        const bool tooLong = m_components.back().size() > kMaxComponentBytes;
        m_components.back() = m_flatNames.place(
            tooLong ? shortenedName(m_components.back(), kMaxComponentBytes) : m_components.back());
        m_flatPlaced[stored] = m_components.back();
        if (tooLong)
            m_entryShortened.emplace_back(stored, m_components.back());
    } else if (!fitLongNames(entry.kind == EntryKind::Directory, reason)) {
        refuse(TENVO_ERR_UNSAFE, reason);
        return false;
    }

    switch (entry.kind) {
    case EntryKind::Directory:
        m_state = State::Directory;
        return false;
    case EntryKind::Symlink: {
        const std::string target = m_names.decode(entry.linkTarget, entry.linkTargetIsUtf8, entry.nameIsUnicode);
        if (checkLinkTarget(target, m_components.size() - 1, m_linkTarget, reason) != TENVO_OK) {
            refuse(TENVO_ERR_UNSAFE, reason + " \"" + escapeForMessage(target) + "\"");
            return false;
        }
        m_state = State::Symlink;
        return false;
    }
    case EntryKind::Hardlink: {
        const std::string target = m_names.decode(entry.linkTarget, entry.linkTargetIsUtf8, entry.nameIsUnicode);
        if (splitEntryPath(target, m_linkSource, reason, true) != TENVO_OK || m_linkSource.empty()) {
            refuse(TENVO_ERR_UNSAFE, "hard link to \"" + escapeForMessage(target) + "\"");
            return false;
        }
        if (m_layout == Layout::Flatten) {
            const auto placed = m_flatPlaced.find(joinComponents(m_linkSource, m_linkSource.size()));
            m_linkSource = {placed != m_flatPlaced.end() ? placed->second : m_linkSource.back()};
        } else if (const auto placed = m_landedAs.find(joinComponents(m_linkSource, m_linkSource.size()));
                   placed != m_landedAs.end()) {
            splitEntryPath(placed->second, m_linkSource, reason);
        }
        m_state = State::Hardlink;
        return false;
    }
    default:
        break;
    }

    // A file that fits in what the last check of the free space left needs
    // no check of its own: most of an archive's files ask nothing.
    uint64_t usable = 0, available = 0;
    if (entry.size > 0 && uint64_t(entry.size) > m_untilSpaceCheck
        && usableBytes(m_root, usable, available)) {
        if (uint64_t(entry.size) > usable) {
            refuse(TENVO_ERR_WRITE, "not enough free space on the destination's file system ("
                                        + std::to_string(entry.size) + " bytes needed, "
                                        + std::to_string(available) + " free less "
                                        + std::to_string(kFreeSpaceReserve) + " kept free)");
            return false;
        }
        m_untilSpaceCheck = std::min(kSpaceCheckInterval, usable / 2);
    }
    TenvoResult cause = TENVO_OK;
    m_fileFolder = folder(m_components.size() - 1, true, cause, reason);
    if (m_fileFolder < 0) {
        refuse(cause, reason);
        return false;
    }
    if (!createTemp(m_fileFolder, m_fileFd, m_tempName)) {
        refuse(TENVO_ERR_WRITE, "cannot create a file: " + errorText(errno));
        return false;
    }
    if (!m_buffer)
        m_buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    m_state = State::File;
    return true;
}

bool SafeWriter::entryData(const void *data, std::size_t size)
{
    if (m_state != State::File || m_stopCause != TENVO_OK)
        return false;
    // Whatever passes the declared size would never land, so it is not
    // written either: a bomb that declares little stops right there.
    if (m_declaredSize >= 0 && size > uint64_t(m_declaredSize) - m_entryBytes) {
        stopFile(TENVO_ERR_DAMAGED, "the entry holds more data than the "
                                        + std::to_string(m_declaredSize) + " bytes it declares");
        return false;
    }
    m_entryBytes += size;
    auto bytes = static_cast<const char *>(data);
    // A large piece, or one that ends the file, need not pass the buffer.
    const bool endsFile = m_declaredSize >= 0 && m_entryBytes == uint64_t(m_declaredSize);
    if (m_buffered == 0 && (size >= kBufferSize || endsFile))
        return writeAll(bytes, size);
    while (size > 0) {
        const std::size_t n = std::min(size, kBufferSize - m_buffered);
        std::memcpy(m_buffer.get() + m_buffered, bytes, n);
        m_buffered += n;
        bytes += n;
        size -= n;
        if (m_buffered == kBufferSize && !flushBuffer())
            return false;
    }
    return true;
}

bool SafeWriter::flushBuffer()
{
    const std::size_t n = m_buffered;
    m_buffered = 0;
    return writeAll(m_buffer.get(), n);
}

bool SafeWriter::writeAll(const char *data, std::size_t size)
{
    if (!roomFor(size))
        return false;
    while (size > 0) {
        const ssize_t n = ::write(m_fileFd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            stopFile(TENVO_ERR_WRITE, "cannot write (" + errorText(n < 0 ? errno : ENOSPC) + ")");
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Checks the free space when the data written since the last check may have
// used up what was left. The next check comes after half of what remains,
// at most kSpaceCheckInterval, so checks are rare until space runs short.
bool SafeWriter::roomFor(std::size_t size)
{
    if (size <= m_untilSpaceCheck) {
        m_untilSpaceCheck -= size;
        return true;
    }
    uint64_t usable = 0, available = 0;
    if (!usableBytes(m_fileFd, usable, available)) {
        m_untilSpaceCheck = kSpaceCheckInterval;
        return true;
    }
    if (size > usable) {
        stopFile(TENVO_ERR_WRITE, "the destination's file system is full ("
                                      + std::to_string(available) + " bytes free less "
                                      + std::to_string(kFreeSpaceReserve) + " kept free)");
        return false;
    }
    m_untilSpaceCheck = std::min(kSpaceCheckInterval, (usable - size) / 2);
    return true;
}

// Stops taking the current file's data and frees its disk space at once;
// endEntry() reports the cause.
void SafeWriter::stopFile(TenvoResult cause, const std::string &text)
{
    m_stopCause = cause;
    m_stopText = text;
    dropFile();
}

void SafeWriter::endEntry(TenvoResult outcome, const std::string &message)
{
    const State state = m_state;
    m_state = State::Idle;
    if (state == State::File) {
        finishFile(outcome, message);
        return;
    }
    if (state == State::Idle || state == State::Refused)
        return;
    if (outcome != TENVO_OK) {
        fail(outcome, message.empty() ? defaultText(outcome) : escapeForMessage(message));
        return;
    }
    switch (state) {
    case State::Directory:
        finishDirectory();
        break;
    case State::Symlink:
        finishSymlink();
        break;
    case State::Hardlink:
        finishHardlink();
        break;
    default:
        break;
    }
}

void SafeWriter::finishFile(TenvoResult outcome, const std::string &decoderMessage)
{
    if (outcome == TENVO_OK && m_stopCause == TENVO_OK && m_buffered > 0)
        flushBuffer();
    // The writer's own reason comes first: the decoder saw only a refusal.
    if (m_stopCause != TENVO_OK) {
        dropFile();
        fail(m_stopCause, m_stopText);
        return;
    }
    if (outcome != TENVO_OK) {
        dropFile();
        fail(outcome,
             decoderMessage.empty() ? defaultText(outcome) : escapeForMessage(decoderMessage));
        return;
    }
    if (m_declaredSize >= 0 && m_entryBytes < uint64_t(m_declaredSize)) {
        dropFile();
        fail(TENVO_ERR_DAMAGED, "the entry holds " + std::to_string(m_entryBytes) + " of the "
                                    + std::to_string(m_declaredSize) + " bytes it declares");
        return;
    }

    uint32_t mode = m_mode & 0777;
    if (mode == 0)
        mode = 0644;
    int error = 0;
    if (::fchmod(m_fileFd, mode & ~m_umask) != 0)
        error = errno;
    if (m_mtime != INT64_MIN) {
        const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(m_mtime), 0}};
        ::futimens(m_fileFd, times);
    }
    if (::close(m_fileFd) != 0 && error == 0)
        error = errno;
    m_fileFd = -1;
    if (error != 0) {
        dropFile();
        fail(TENVO_ERR_WRITE, "cannot write (" + errorText(error) + ")");
        return;
    }
    if (renameIntoPlace(m_fileFolder, m_tempName))
        landed();
    m_tempName.clear();
}

// Shortens the names of m_components (Restore) that the file system cannot
// hold. A folder met before lands where it landed then; the names below it
// are cut when over 255 bytes, then, while the whole path from the root is
// over 4095 bytes, the deepest first down to a few characters and their
// extension. False (with
// the reason) only when even that does not fit.
bool SafeWriter::fitLongNames(bool isFolder, std::string &reason)
{
    std::vector<std::string> &c = m_components;
    const auto pathBytes = [&c] {
        std::size_t total = c.size() - 1;
        for (const std::string &part : c)
            total += part.size();
        return total;
    };
    bool tooLong = false;
    for (const std::string &part : c)
        tooLong = tooLong || part.size() > kMaxComponentBytes;
    if (!tooLong && m_shortFolders.empty() && pathBytes() <= m_pathBudget)
        return true;

    const std::vector<std::string> stored = c;
    std::size_t fixed = 0;
    for (std::size_t n = isFolder ? c.size() : c.size() - 1; n > 0 && !m_shortFolders.empty(); --n) {
        const auto found = m_shortFolders.find(joinComponents(stored, n));
        if (found != m_shortFolders.end()) {
            std::copy(found->second.begin(), found->second.end(), c.begin());
            fixed = n;
            break;
        }
    }
    std::vector<bool> cut(c.size(), false);
    for (std::size_t i = fixed; i < c.size(); ++i) {
        if (c[i].size() > kMaxComponentBytes) {
            c[i] = shortenedName(stored[i], kMaxComponentBytes);
            cut[i] = true;
        }
    }
    constexpr std::size_t kLeastStemBytes = 16;
    std::size_t total = pathBytes();
    for (std::size_t i = c.size(); i > fixed && total > m_pathBudget; --i) {
        std::string &part = c[i - 1];
        const std::size_t least = keptExtensionBytes(stored[i - 1]) + kLeastStemBytes;
        if (part.size() <= least)
            continue;
        const std::size_t before = part.size();
        const std::size_t excess = total - m_pathBudget;
        part = shortenedName(stored[i - 1], before > least + excess ? before - excess : least);
        cut[i - 1] = true;
        total -= before - part.size();
    }
    if (total > m_pathBudget) {
        reason = "path too long for the file system, even with its names shortened";
        return false;
    }

    // Each cut name is kept apart from the other cut names of its folder.
    std::string storedKey, landedKey;
    for (std::size_t i = 0; i < c.size(); ++i) {
        storedKey += (i > 0 ? "/" : "") + stored[i];
        const std::string parent = landedKey.empty() ? landedKey : landedKey + "/";
        if (cut[i]) {
            const std::size_t budget = c[i].size();
            for (unsigned number = 2;; ++number) {
                const auto [taken, added] = m_shortTaken.emplace(parent + c[i], storedKey);
                if (added || taken->second == storedKey)
                    break;
                c[i] = shortenedName(stored[i], budget, number);
            }
        }
        landedKey = parent + c[i];
        if (i >= fixed && (i + 1 < c.size() || isFolder) && landedKey != storedKey)
            m_shortFolders.emplace(storedKey, std::vector<std::string>(c.begin(), c.begin() + std::ptrdiff_t(i + 1)));
        const auto shortened = m_shortTaken.find(landedKey);
        if (shortened != m_shortTaken.end() && shortened->second == storedKey)
            m_entryShortened.emplace_back(storedKey, landedKey);
    }
    if (landedKey != storedKey)
        m_landedAs[storedKey] = landedKey;
    return true;
}

// Counts the entry that landed and lists the shortened names on its way
// that were not listed before.
void SafeWriter::landed()
{
    ++m_written;
    for (auto &[stored, landedAs] : m_entryShortened) {
        if (m_reportedShort.insert(stored + '\0' + landedAs).second && ++m_shortenedCount <= 1000)
            m_shortened.emplace_back(std::move(stored), std::move(landedAs));
    }
    m_entryShortened.clear();
}

// Renames the temporary over the entry's final name in folderFd. renameat()
// replaces a file or a link but never follows one, and cannot replace a
// folder.
bool SafeWriter::renameIntoPlace(int folderFd, const std::string &tempName)
{
    if (::renameat(folderFd, tempName.c_str(), folderFd, m_components.back().c_str()) == 0)
        return true;
    const int error = errno;
    ::unlinkat(folderFd, tempName.c_str(), 0);
    if (error == EISDIR || error == ENOTEMPTY || error == EEXIST)
        fail(TENVO_ERR_WRITE, "a folder of that name is in the way");
    else
        fail(TENVO_ERR_WRITE, "cannot write (" + errorText(error) + ")");
    return false;
}

void SafeWriter::dropFile()
{
    if (m_fileFd >= 0) {
        ::close(m_fileFd);
        m_fileFd = -1;
    }
    if (!m_tempName.empty()) {
        ::unlinkat(m_fileFolder, m_tempName.c_str(), 0);
        m_tempName.clear();
    }
    m_buffered = 0;
}

void SafeWriter::finishDirectory()
{
    TenvoResult cause = TENVO_OK;
    std::string reason;
    if (folder(m_components.size(), true, cause, reason) < 0) {
        failWithReason(cause, reason);
        return;
    }
    if (m_mtime != INT64_MIN)
        m_folderTimes.emplace_back(m_components, m_mtime);
    landed();
}

void SafeWriter::finishSymlink()
{
    TenvoResult cause = TENVO_OK;
    std::string reason;
    const int folderFd = folder(m_components.size() - 1, true, cause, reason);
    if (folderFd < 0) {
        failWithReason(cause, reason);
        return;
    }
    std::string tempName;
    if (!makeLink(folderFd, m_linkTarget, tempName)) {
        fail(TENVO_ERR_WRITE, "cannot create a link (" + errorText(errno) + ")");
        return;
    }
    if (renameIntoPlace(folderFd, tempName))
        landed();
}

void SafeWriter::finishHardlink()
{
    TenvoResult cause = TENVO_OK;
    std::string reason;
    const int sourceFolder = walk(m_linkSource, m_linkSource.size() - 1, false, cause, reason);
    struct stat st;
    if (sourceFolder < 0
        || ::fstatat(sourceFolder, m_linkSource.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0
        || !S_ISREG(st.st_mode)) {
        fail(TENVO_ERR_UNSAFE,
             "entry refused (hard link to \"" + escapeForMessage(joinComponents(m_linkSource, m_linkSource.size()))
                 + "\", which is no file inside the destination)");
        return;
    }
    const int folderFd = folder(m_components.size() - 1, true, cause, reason);
    if (folderFd < 0) {
        failWithReason(cause, reason);
        return;
    }
    std::string tempName;
    for (int attempt = 0;; ++attempt) {
        tempName = nextTempName();
        if (::linkat(sourceFolder, m_linkSource.back().c_str(), folderFd, tempName.c_str(), 0) == 0)
            break;
        if (errno != EEXIST || attempt > 100) {
            fail(TENVO_ERR_WRITE, "cannot create a link (" + errorText(errno) + ")");
            return;
        }
    }
    if (renameIntoPlace(folderFd, tempName)) {
        // Renaming a name over another name of the same file does nothing.
        ::unlinkat(folderFd, tempName.c_str(), 0);
        landed();
    }
}

// Temporary names are ".tenvo-<pid>-<n>.tmp", so that whoever watches the
// process can tell them (and clean them up) after a crash.
std::string SafeWriter::nextTempName()
{
    return m_tempPrefix + std::to_string(++m_tempCounter) + ".tmp";
}

bool SafeWriter::createTemp(int folderFd, int &fd, std::string &tempName)
{
    // Temporaries a run killed outright left here (their process is gone)
    // go before this run adds its own.
    // A handle already looked at is the same folder until it is closed.
    struct stat st;
    if (m_sweptHandles.insert(folderFd).second && ::fstat(folderFd, &st) == 0
        && m_sweptFolders.emplace(st.st_dev, st.st_ino).second)
        isolation::sweepStaleTemporariesIn(folderFd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = nextTempName();
        fd = ::openat(folderFd, tempName.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            return true;
        if (errno != EEXIST)
            break;
    }
    tempName.clear();
    return false;
}

bool SafeWriter::makeLink(int folderFd, const std::string &target, std::string &tempName)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = nextTempName();
        if (::symlinkat(target.c_str(), folderFd, tempName.c_str()) == 0)
            return true;
        if (errno != EEXIST)
            break;
    }
    return false;
}

int SafeWriter::folder(std::size_t count, bool create, TenvoResult &cause, std::string &reason)
{
    return walk(m_components, count, create, cause, reason);
}

// Opens the folder made of the first count components, creating missing
// ones when asked. Each step is an openat() with O_NOFOLLOW from the folder
// before it, so no link is ever followed. Handles are cached by path: a
// folder we opened cannot later be replaced by a file or a link, since
// rename() never replaces a folder.
int SafeWriter::walk(const std::vector<std::string> &components, std::size_t count, bool create,
                     TenvoResult &cause, std::string &reason)
{
    if (count == 0)
        return m_root;
    if (m_folders.size() + count > kMaxOpenFolders)
        closeFolders();

    std::vector<std::size_t> missing; // components still to open, deepest first
    int parent = m_root;
    std::string key;
    for (std::size_t n = count; n > 0; --n) {
        const auto found = m_folders.find(joinComponents(components, n));
        if (found != m_folders.end()) {
            parent = found->second;
            key = found->first;
            break;
        }
        missing.push_back(n - 1);
    }

    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        const std::string &name = components[*it];
        int fd = ::openat(parent, name.c_str(), kFolderFlags);
        if (fd < 0 && errno == ENOENT && create) {
            if (::mkdirat(parent, name.c_str(), 0777) == 0) {
                m_createdFolders.emplace_back(components.begin(),
                                              components.begin() + std::ptrdiff_t(*it + 1));
            } else if (errno != EEXIST) {
                cause = TENVO_ERR_WRITE;
                reason = "cannot create folder \"" + escapeForMessage(joinComponents(components, *it + 1))
                    + "\" (" + errorText(errno) + ")";
                return -1;
            }
            fd = ::openat(parent, name.c_str(), kFolderFlags);
        }
        if (fd < 0) {
            const int error = errno;
            const std::string shown = escapeForMessage(joinComponents(components, *it + 1));
            struct stat st;
            if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
                cause = TENVO_ERR_UNSAFE;
                reason = "symbolic link \"" + shown + "\" on the way";
            } else if (error == ENOTDIR) {
                cause = TENVO_ERR_WRITE;
                reason = "a file \"" + shown + "\" is in the way";
            } else {
                cause = TENVO_ERR_WRITE;
                reason = "cannot open folder \"" + shown + "\" (" + errorText(error) + ")";
            }
            return -1;
        }
        if (!key.empty())
            key += '/';
        key += name;
        m_folders.emplace(key, fd);
        parent = fd;
    }
    return parent;
}

// Deepest first, as a folder is made after the one that holds it; rmdir
// removes nothing that holds anything, whoever put it there.
void SafeWriter::removeEmptyCreatedFolders()
{
    for (auto it = m_createdFolders.rbegin(); it != m_createdFolders.rend(); ++it) {
        const std::vector<std::string> &components = *it;
        TenvoResult cause = TENVO_OK;
        std::string reason;
        const int parent = walk(components, components.size() - 1, false, cause, reason);
        if (parent < 0)
            continue;
        const auto cached = m_folders.find(joinComponents(components, components.size()));
        if (::unlinkat(parent, components.back().c_str(), AT_REMOVEDIR) == 0 && cached != m_folders.end()) {
            m_sweptHandles.erase(cached->second);
            ::close(cached->second);
            m_folders.erase(cached);
        }
    }
}

void SafeWriter::closeFolders()
{
    for (const auto &[key, fd] : m_folders) {
        m_sweptHandles.erase(fd);
        ::close(fd);
    }
    m_folders.clear();
}

void SafeWriter::finish(bool callFailed)
{
    if (m_state != State::Idle)
        endEntry(TENVO_ERR_DAMAGED, "the archive ended inside this entry");
    if (callFailed || m_result != TENVO_OK)
        removeEmptyCreatedFolders();
    m_createdFolders.clear();

    for (const auto &[components, mtime] : m_folderTimes) {
        TenvoResult cause = TENVO_OK;
        std::string reason;
        const int parent = walk(components, components.size() - 1, false, cause, reason);
        if (parent < 0)
            continue;
        const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(mtime), 0}};
        ::utimensat(parent, components.back().c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    m_folderTimes.clear();
    closeFolders();
}

} // namespace tenvo::engine

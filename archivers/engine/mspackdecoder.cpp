// Microsoft cabinet files (and cabinet sets) through libmspack; the MSZIP
// and stored folders of a single cabinet are decoded straight from the file.
#include "cabdirect.h"
#include "decoderutil.h"
#include "decoders.h"

#include <mspack.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include <sys/stat.h>

namespace tenvo::engine {

namespace {

// libmspack hands extract()'s file name unchanged to open(); this one is
// recognised by address, so no real path can ever be taken for it.
const char kSinkName[] = "<entry sink>";

// A cabinet set longer than this is not one anybody made; the file cap keeps
// the file lists libmspack holds for a whole set within bounds.
constexpr int kMaxCabinets = 256;
constexpr std::size_t kMaxSetFiles = std::size_t(1) << 20;
// Directory entries compared when looking for a next cabinet whose name
// differs only in case.
constexpr int kMaxDirectoryScan = 100000;

// The I/O that libmspack sees: cabinets are read with stdio, and the only
// file it can "write" is the sink of the current entry.
struct SinkSystem {
    mspack_system base; // first, so that libmspack's pointer is ours
    EntrySink *sink = nullptr;
    bool sinkRefused = false;
    bool ioFailed = false;
};

struct Handle {
    SinkSystem *system = nullptr;
    std::FILE *file = nullptr; // null for the sink
};

SinkSystem *systemOf(mspack_system *self) { return reinterpret_cast<SinkSystem *>(self); }
Handle *handleOf(mspack_file *file) { return reinterpret_cast<Handle *>(file); }

mspack_file *sysOpen(mspack_system *self, const char *filename, int mode)
{
    SinkSystem *system = systemOf(self);
    if (filename == kSinkName) {
        if (mode != MSPACK_SYS_OPEN_WRITE)
            return nullptr;
        return reinterpret_cast<mspack_file *>(new (std::nothrow) Handle {system, nullptr});
    }
    // Decoding never writes a real file.
    if (mode != MSPACK_SYS_OPEN_READ)
        return nullptr;
    std::FILE *file = std::fopen(filename, "rbe");
    if (!file)
        return nullptr;
    auto *handle = new (std::nothrow) Handle {system, file};
    if (!handle)
        std::fclose(file);
    return reinterpret_cast<mspack_file *>(handle);
}

void sysClose(mspack_file *file)
{
    Handle *handle = handleOf(file);
    if (!handle)
        return;
    if (handle->file)
        std::fclose(handle->file);
    delete handle;
}

int sysRead(mspack_file *file, void *buffer, int bytes)
{
    Handle *handle = handleOf(file);
    if (!handle || !handle->file || bytes < 0)
        return -1;
    const std::size_t got = std::fread(buffer, 1, std::size_t(bytes), handle->file);
    if (got < std::size_t(bytes) && std::ferror(handle->file)) {
        handle->system->ioFailed = true;
        return -1;
    }
    return int(got);
}

int sysWrite(mspack_file *file, void *buffer, int bytes)
{
    Handle *handle = handleOf(file);
    if (!handle || handle->file || bytes < 0)
        return -1;
    SinkSystem *system = handle->system;
    if (!system->sink)
        return -1;
    if (system->sinkRefused)
        return bytes;
    bool stored = false;
    // Nothing may unwind through libmspack's C frames.
    try {
        stored = system->sink->entryData(buffer, std::size_t(bytes));
    } catch (...) {
        stored = false;
    }
    // A write error would stick to libmspack's folder state and fail every
    // later file of the folder; so the rest of a refused file is decoded and
    // dropped, and the refusal is reported once extract() returns.
    if (!stored)
        system->sinkRefused = true;
    return bytes;
}

int sysSeek(mspack_file *file, off_t offset, int mode)
{
    Handle *handle = handleOf(file);
    if (!handle || !handle->file)
        return -1;
    int whence = SEEK_SET;
    if (mode == MSPACK_SYS_SEEK_CUR)
        whence = SEEK_CUR;
    else if (mode == MSPACK_SYS_SEEK_END)
        whence = SEEK_END;
    return fseeko(handle->file, offset, whence) == 0 ? 0 : -1;
}

off_t sysTell(mspack_file *file)
{
    Handle *handle = handleOf(file);
    if (!handle || !handle->file)
        return -1;
    return ftello(handle->file);
}

// libmspack's warnings are for a console; the engine never prints.
void sysMessage(mspack_file *, const char *, ...) {}

void *sysAlloc(mspack_system *, std::size_t bytes) { return std::malloc(bytes); }
void sysFree(void *ptr) { std::free(ptr); }
void sysCopy(void *src, void *dest, std::size_t bytes) { std::memcpy(dest, src, bytes); }

void initSystem(SinkSystem &system)
{
    system.base.open = sysOpen;
    system.base.close = sysClose;
    system.base.read = sysRead;
    system.base.write = sysWrite;
    system.base.seek = sysSeek;
    system.base.tell = sysTell;
    system.base.message = sysMessage;
    system.base.alloc = sysAlloc;
    system.base.free = sysFree;
    system.base.copy = sysCopy;
    system.base.null_ptr = nullptr;
}

TenvoResult mapError(int error, const SinkSystem &system, std::string &message)
{
    switch (error) {
    case MSPACK_ERR_OK:
        return TENVO_OK;
    case MSPACK_ERR_OPEN:
        message = "cannot open the cabinet";
        return TENVO_ERR_OPEN;
    case MSPACK_ERR_READ:
    case MSPACK_ERR_SEEK:
        // A short read without an I/O error is a cabinet that ends too soon.
        message = system.ioFailed ? "cannot read the cabinet" : "the cabinet is cut short";
        return system.ioFailed ? TENVO_ERR_OPEN : TENVO_ERR_DAMAGED;
    case MSPACK_ERR_WRITE:
        message = "the data could not be stored";
        return TENVO_ERR_WRITE;
    case MSPACK_ERR_SIGNATURE:
        message = "not a cabinet file";
        return TENVO_ERR_FORMAT;
    case MSPACK_ERR_NOMEMORY:
        message = "not enough memory to decode the cabinet";
        return TENVO_ERR_DAMAGED;
    case MSPACK_ERR_CHECKSUM:
        message = "a data block fails its checksum";
        return TENVO_ERR_DAMAGED;
    case MSPACK_ERR_DATAFORMAT:
        message = "the cabinet is damaged or its set is incomplete";
        return TENVO_ERR_DAMAGED;
    default:
        message = "the data is damaged";
        return TENVO_ERR_DAMAGED;
    }
}

// One decompressor with its I/O and every cabinet it opened.
class CabinetSet {
public:
    CabinetSet()
    {
        initSystem(m_system);
        int selfTest = MSPACK_ERR_OK;
        MSPACK_SYS_SELFTEST(selfTest);
        if (selfTest == MSPACK_ERR_OK)
            m_decompressor = mspack_create_cab_decompressor(&m_system.base);
    }
    ~CabinetSet()
    {
        if (m_decompressor) {
            // Closing the first cabinet frees every cabinet appended to it.
            if (m_first)
                m_decompressor->close(m_decompressor, m_first);
            mspack_destroy_cab_decompressor(m_decompressor);
        }
    }
    CabinetSet(const CabinetSet &) = delete;
    CabinetSet &operator=(const CabinetSet &) = delete;

    // Opens the first cabinet and reads all its headers.
    TenvoResult open(const std::string &path, std::string &message)
    {
        if (!m_decompressor) {
            message = "the cabinet decoder cannot be set up";
            return TENVO_ERR_OPEN;
        }
        // stdio would block on a FIFO; only regular files are cabinets.
        FileReader probe;
        if (!probe.open(path)) {
            message = "cannot open the cabinet";
            return TENVO_ERR_OPEN;
        }
        m_paths.push_back(path);
        m_first = m_decompressor->open(m_decompressor, m_paths.back().c_str());
        if (!m_first)
            return mapError(m_decompressor->last_error(m_decompressor), m_system, message);
        return TENVO_OK;
    }

    // Appends the cabinets that follow the first one, as far as they exist
    // beside it. Files that continue into a cabinet that is missing fail
    // later with libmspack's "set incomplete".
    void appendFollowingCabinets()
    {
        std::vector<std::pair<dev_t, ino_t>> seen;
        if (auto id = fileId(m_paths.front()))
            seen.push_back(*id);
        mscabd_cabinet *last = m_first;
        std::string lastPath = m_paths.front();
        std::size_t files = fileCount(m_first);
        for (int count = 1; count < kMaxCabinets; ++count) {
            if (!(last->flags & MSCAB_HDR_NEXTCAB) || !last->nextname)
                return;
            const std::string nextName = last->nextname;
            std::optional<std::string> nextPath = findBeside(lastPath, nextName);
            std::optional<std::pair<dev_t, ino_t>> id = nextPath ? fileId(*nextPath) : std::nullopt;
            if (!nextPath || !id) {
                m_missing = nextName;
                return;
            }
            for (const auto &other : seen) {
                if (other == *id)
                    return; // a set that loops back on itself
            }
            seen.push_back(*id);
            m_paths.push_back(*nextPath);
            mscabd_cabinet *next = m_decompressor->open(m_decompressor, m_paths.back().c_str());
            if (!next) {
                m_missing = nextName;
                return;
            }
            files += fileCount(next);
            if (files > kMaxSetFiles
                || m_decompressor->append(m_decompressor, last, next) != MSPACK_ERR_OK) {
                m_decompressor->close(m_decompressor, next);
                m_missing = nextName;
                return;
            }
            last = next;
            lastPath = *nextPath;
        }
    }

    mscabd_cabinet *first() const { return m_first; }
    std::size_t fileCount() const { return fileCount(m_first); }

    // Decodes one file into the sink.
    TenvoResult extract(mscabd_file *file, EntrySink &sink, std::string &message)
    {
        m_system.sink = &sink;
        m_system.sinkRefused = false;
        m_system.ioFailed = false;
        const int error = m_decompressor->extract(m_decompressor, file, kSinkName);
        m_system.sink = nullptr;
        if (m_system.sinkRefused) {
            message = "the data could not be stored";
            return TENVO_ERR_WRITE;
        }
        if (error == MSPACK_ERR_OK)
            return TENVO_OK;
        TenvoResult result = mapError(error, m_system, message);
        if (result == TENVO_ERR_DAMAGED && !m_missing.empty())
            message += " (the next cabinet, " + m_missing + ", is missing or unreadable)";
        return result;
    }

private:
    static std::size_t fileCount(const mscabd_cabinet *cabinet)
    {
        std::size_t count = 0;
        for (const mscabd_file *file = cabinet->files; file; file = file->next)
            ++count;
        return count;
    }

    static std::optional<std::pair<dev_t, ino_t>> fileId(const std::string &path)
    {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return std::nullopt;
        return std::make_pair(st.st_dev, st.st_ino);
    }

    static bool sameIgnoringAsciiCase(const std::string &a, const std::string &b)
    {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            unsigned char x = static_cast<unsigned char>(a[i]);
            unsigned char y = static_cast<unsigned char>(b[i]);
            if (x >= 'A' && x <= 'Z')
                x = x - 'A' + 'a';
            if (y >= 'A' && y <= 'Z')
                y = y - 'A' + 'a';
            if (x != y)
                return false;
        }
        return true;
    }

    // The next cabinet is named as on MS-DOS: a bare, case-insensitive file
    // name in the same folder. Names with folders in them are not followed.
    static std::optional<std::string> findBeside(const std::string &currentPath, const std::string &name)
    {
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos
            || name.find('\\') != std::string::npos)
            return std::nullopt;
        namespace fs = std::filesystem;
        fs::path folder = fs::path(currentPath).parent_path();
        if (folder.empty())
            folder = ".";
        std::error_code ec;
        const fs::path exact = folder / name;
        if (fs::is_regular_file(exact, ec))
            return exact.string();
        fs::directory_iterator it(folder, ec);
        for (int scanned = 0; !ec && it != fs::directory_iterator() && scanned < kMaxDirectoryScan;
             it.increment(ec), ++scanned) {
            if (sameIgnoringAsciiCase(it->path().filename().string(), name)
                && fs::is_regular_file(it->path(), ec))
                return it->path().string();
        }
        return std::nullopt;
    }

    SinkSystem m_system;
    mscab_decompressor *m_decompressor = nullptr;
    mscabd_cabinet *m_first = nullptr;
    std::deque<std::string> m_paths; // libmspack keeps pointers to these names
    std::string m_missing;
};

EntryInfo cabEntryInfo(const mscabd_file &file)
{
    EntryInfo info;
    info.rawName = file.filename ? file.filename : "";
    info.nameIsUtf8 = file.attribs & MSCAB_ATTRIB_UTF_NAME;
    info.kind = EntryKind::File;
    info.size = file.length;
    info.mtime = localTimeFromFields(file.date_y, file.date_m, file.date_d, file.time_h, file.time_m,
                                     file.time_s);
    info.mode = (file.attribs & MSCAB_ATTRIB_RDONLY) ? 0444 : 0;
    return info;
}

// The folders in order, for their index.
std::vector<const mscabd_folder *> folderList(const mscabd_cabinet &cabinet)
{
    std::vector<const mscabd_folder *> folders;
    for (const mscabd_folder *folder = cabinet.folders; folder; folder = folder->next)
        folders.push_back(folder);
    return folders;
}

// The files of a cabinet (or set) in order, each with the index of its
// folder: a folder is decoded from its start, so its files go together.
std::vector<EntrySink::GroupedEntry> groupedEntries(const mscabd_cabinet &cabinet)
{
    const std::vector<const mscabd_folder *> folders = folderList(cabinet);
    std::vector<EntrySink::GroupedEntry> entries;
    for (const mscabd_file *file = cabinet.files; file; file = file->next) {
        EntrySink::GroupedEntry entry;
        entry.rawName = file->filename ? file->filename : "";
        entry.size = file->length;
        entry.group = std::size_t(std::find(folders.begin(), folders.end(), file->folder) - folders.begin());
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace

TenvoResult decodeCab(const std::string &archivePath, EntrySink &sink, std::string &message)
{
    CabinetSet set;
    if (TenvoResult result = set.open(archivePath, message); result != TENVO_OK)
        return result;
    // A single cabinet has nothing to append; a set is read whole here so
    // that its folders can be shared.
    set.appendFollowingCabinets();
    // Several processes sharing the cabinet each decode only their own
    // folders: a folder none of whose files is wanted is never decoded.
    sink.shareGroups(groupedEntries(*set.first()));

    const std::vector<const mscabd_folder *> folders = folderList(*set.first());
    CabDirectFolders direct;
    bool directOpen = false;
    if (cabDirectDecoding()) {
        std::vector<CabFolderRecord> records;
        for (const mscabd_folder *folder : folders)
            records.push_back({unsigned(folder->comp_type), unsigned(folder->num_blocks)});
        directOpen = direct.open(archivePath, records);
    }
    // Each decoder goes on through a folder from one file to the next and
    // starts it again only for a file that lies before the last one, so
    // files not wanted need no special care.
    for (mscabd_file *file = set.first()->files; file; file = file->next) {
        if (!sink.beginEntry(cabEntryInfo(*file))) {
            sink.endEntry(TENVO_OK, {});
            continue;
        }
        const auto folder = std::size_t(std::find(folders.begin(), folders.end(), file->folder) - folders.begin());
        std::string entryMessage;
        const TenvoResult result = directOpen && direct.takes(folder)
            ? direct.extract(folder, file->offset, file->length, sink, entryMessage)
            : set.extract(file, sink, entryMessage);
        sink.endEntry(result, entryMessage);
    }
    return TENVO_OK;
}

bool checkCab(const std::string &archivePath)
{
    CabinetSet set;
    std::string message;
    if (set.open(archivePath, message) != TENVO_OK)
        return false;
    // libmspack reads the headers only; a cabinet that claims more bytes than
    // the file holds has lost its tail.
    FileReader reader;
    return reader.open(archivePath) && set.first()->base_offset == 0
        && set.first()->length <= reader.size();
}

} // namespace tenvo::engine

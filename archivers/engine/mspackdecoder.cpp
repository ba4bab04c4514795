// Microsoft cabinet files (and cabinet sets) through libmspack; a single
// cabinet whose folders are all MSZIP or stored goes to libarchive, which
// inflates faster.
#include "decoderutil.h"
#include "decoders.h"
#include "libarchivedecoder.h"

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

// True for a cabinet that is a set of its own and whose folders are all
// stored or MSZIP, the two methods libarchive decodes as libmspack does
// (its LZX decoder gets some archives wrong; it reads no Quantum and no
// sets).
bool suitsLibarchive(const mscabd_cabinet &cabinet)
{
    if (cabinet.flags & (MSCAB_HDR_PREVCAB | MSCAB_HDR_NEXTCAB))
        return false;
    for (const mscabd_folder *folder = cabinet.folders; folder; folder = folder->next) {
        const int method = MSCABD_COMP_METHOD(folder->comp_type);
        if (method != MSCAB_COMP_NONE && method != MSCAB_COMP_MSZIP)
            return false;
    }
    return true;
}

std::vector<StoredName> storedNames(const mscabd_cabinet &cabinet)
{
    std::vector<StoredName> names;
    for (const mscabd_file *file = cabinet.files; file; file = file->next) {
        const EntryInfo info = cabEntryInfo(*file);
        StoredName name;
        name.rawName = info.rawName;
        name.nameIsUtf8 = info.nameIsUtf8;
        name.size = info.size;
        name.permissions = static_cast<int32_t>(info.mode);
        names.push_back(std::move(name));
    }
    return names;
}

// The files of a cabinet (or set) in order, each with the index of its
// folder: a folder is decoded from its start, so its files go together.
std::vector<EntrySink::GroupedEntry> groupedEntries(const mscabd_cabinet &cabinet)
{
    std::vector<const mscabd_folder *> folders;
    for (const mscabd_folder *folder = cabinet.folders; folder; folder = folder->next)
        folders.push_back(folder);
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

uint16_t le16(const unsigned char *p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const unsigned char *p) { return uint32_t(le16(p)) | uint32_t(le16(p + 2)) << 16; }
void putLe16(char *p, uint32_t v)
{
    p[0] = char(v & 0xff);
    p[1] = char(v >> 8 & 0xff);
}
void putLe32(char *p, uint32_t v)
{
    putLe16(p, v & 0xffff);
    putLe16(p + 2, v >> 16);
}

// A folder of a single cabinet as a cabinet of its own: the headers of a
// cabinet holding that folder alone and its files, and where the folder's
// data blocks lie in the file.
struct FolderCabinet {
    std::string headers;
    uint64_t dataStart = 0;
    uint64_t dataSize = 0;
    std::size_t firstFile = 0; // the folder's files follow each other in the table
    std::size_t fileCount = 0;
};

// Read from the cabinet's own bytes, so that every record is passed on as
// stored. Empty for anything but a plain cabinet whose folders each hold a
// run of the file table in order and whose records agree with libmspack's.
std::vector<FolderCabinet> folderCabinets(const std::string &path, const mscabd_cabinet &cabinet)
{
    constexpr std::size_t kHeader = 36, kFolder = 8, kFileFixed = 16, kMaxName = 256;
    FileReader reader;
    unsigned char header[kHeader];
    if (!reader.open(path) || !reader.readAt(0, header, kHeader) || std::memcmp(header, "MSCF", 4) != 0)
        return {};
    const uint16_t flags = le16(header + 30);
    if (flags & 0x7) // another cabinet before or after, or reserved areas
        return {};
    const std::size_t folderCount = le16(header + 26);
    const std::size_t fileCount = le16(header + 28);
    const uint32_t filesAt = le32(header + 16);
    if (folderCount == 0 || fileCount == 0)
        return {};
    std::vector<unsigned char> folders(folderCount * kFolder);
    if (!reader.readAt(kHeader, folders.data(), folders.size()) || filesAt >= reader.size())
        return {};
    std::vector<unsigned char> table(
        std::size_t(std::min<uint64_t>(reader.size() - filesAt, fileCount * (kFileFixed + kMaxName + 1))));
    if (!reader.readAt(filesAt, table.data(), table.size()))
        return {};

    std::vector<FolderCabinet> result(folderCount);
    std::vector<std::string> records(folderCount);
    std::vector<uint32_t> lastOffset(folderCount, 0);
    const mscabd_file *file = cabinet.files;
    std::size_t at = 0;
    for (std::size_t index = 0; index < fileCount; ++index, file = file->next) {
        if (!file || at + kFileFixed >= table.size())
            return {};
        const unsigned char *record = table.data() + at;
        const auto *nameEnd = static_cast<const unsigned char *>(
            std::memchr(record + kFileFixed, 0, std::min(table.size() - at - kFileFixed, kMaxName + 1)));
        if (!nameEnd)
            return {};
        const std::size_t size = std::size_t(nameEnd - record) + 1;
        const std::size_t folder = le16(record + 8);
        const uint32_t offset = le32(record + 4);
        const char *name = reinterpret_cast<const char *>(record + kFileFixed);
        if (folder >= folderCount || le32(record) != file->length || !file->filename
            || std::strcmp(name, file->filename) != 0 || offset < lastOffset[folder])
            return {};
        FolderCabinet &cab = result[folder];
        if (cab.fileCount == 0)
            cab.firstFile = index;
        else if (cab.firstFile + cab.fileCount != index)
            return {};
        ++cab.fileCount;
        lastOffset[folder] = offset;
        std::string copy(reinterpret_cast<const char *>(record), size);
        putLe16(copy.data() + 8, 0);
        records[folder] += copy;
        at += size;
    }
    if (file)
        return {};

    for (std::size_t folder = 0; folder < folderCount; ++folder) {
        FolderCabinet &cab = result[folder];
        const unsigned char *entry = folders.data() + folder * kFolder;
        const uint32_t dataAt = le32(entry);
        if (dataAt >= reader.size())
            return {};
        // libarchive reads the folder's blocks by their count and stops
        // there, so the rest of the file may follow them.
        cab.dataStart = dataAt;
        cab.dataSize = reader.size() - dataAt;
        const uint32_t headersSize = uint32_t(kHeader + kFolder + records[folder].size());
        std::string headers(reinterpret_cast<const char *>(header), kHeader);
        putLe32(headers.data() + 8, uint32_t(std::min<uint64_t>(headersSize + cab.dataSize, UINT32_MAX)));
        putLe32(headers.data() + 16, kHeader + kFolder);
        putLe16(headers.data() + 26, 1);
        putLe16(headers.data() + 28, uint32_t(cab.fileCount));
        headers.append(reinterpret_cast<const char *>(entry), kFolder);
        putLe32(headers.data() + kHeader, headersSize);
        headers += records[folder];
        cab.headers = std::move(headers);
    }
    return result;
}

// Passes everything on and counts the entries ended.
class CountingSink final : public EntrySink {
public:
    explicit CountingSink(EntrySink &sink) : m_sink(sink) {}
    bool beginEntry(const EntryInfo &entry) override { return m_sink.beginEntry(entry); }
    bool entryData(const void *data, std::size_t size) override { return m_sink.entryData(data, size); }
    void endEntry(TenvoResult outcome, const std::string &message) override
    {
        ++m_ended;
        m_sink.endEntry(outcome, message);
    }
    std::size_t ended() const { return m_ended; }

private:
    EntrySink &m_sink;
    std::size_t m_ended = 0;
};

} // namespace

TenvoResult decodeCab(const std::string &archivePath, EntrySink &sink, std::string &message)
{
    CabinetSet set;
    if (TenvoResult result = set.open(archivePath, message); result != TENVO_OK)
        return result;
    // A single cabinet has nothing to append; a set is read whole here so
    // that its folders can be shared.
    set.appendFollowingCabinets();
    std::size_t done = 0;
    // Several processes sharing the cabinet each decode only their own
    // folders; libarchive would decode every folder it passes to skip it,
    // so it is given each folder as a cabinet of its own (see below).
    const bool shared = sink.shareGroups(groupedEntries(*set.first()));
    if (!shared && suitsLibarchive(*set.first())) {
        // libarchive gives up on the whole cabinet at the first damaged
        // block; libmspack then goes on after the files already reported, so
        // that those in later folders are not lost.
        CountingSink counting(sink);
        const TenvoResult walked
            = decodeCabWithLibarchive(archivePath, storedNames(*set.first()), counting, message);
        done = counting.ended();
        if (walked == TENVO_OK || walked == TENVO_ERR_WRITE)
            return walked;
        message.clear();
        if (done >= set.fileCount())
            return TENVO_OK; // every file has its outcome
    }
    // Shared, each of this process's folders goes to libarchive as a cabinet
    // of its own; a folder it cannot go on with is finished by libmspack.
    std::vector<FolderCabinet> folders;
    if (shared && suitsLibarchive(*set.first()))
        folders = folderCabinets(archivePath, *set.first());
    std::vector<std::size_t> folderOfFile;
    for (std::size_t folder = 0; folder < folders.size(); ++folder) {
        if (folderOfFile.size() < folders[folder].firstFile + folders[folder].fileCount)
            folderOfFile.resize(folders[folder].firstFile + folders[folder].fileCount, folders.size());
        for (std::size_t i = 0; i < folders[folder].fileCount; ++i)
            folderOfFile[folders[folder].firstFile + i] = folder;
    }
    std::size_t folderIndex = folders.size();
    CabFolderReader reader;
    bool readerOpen = false;
    std::size_t readerFolder = 0;
    std::size_t readerNext = 0; // the next file of the folder in the reader
    std::vector<bool> byLibmspack(folders.size(), false);
    // libmspack decodes a folder in order and skips (decoding without
    // output) up to each file, so refused files need no special care.
    std::size_t index = 0;
    for (mscabd_file *file = set.first()->files; file; file = file->next) {
        const std::size_t fileIndex = index++;
        if (fileIndex < done)
            continue;
        folderIndex = fileIndex < folderOfFile.size() ? folderOfFile[fileIndex] : folders.size();
        const EntryInfo info = cabEntryInfo(*file);
        const bool wanted = sink.beginEntry(info);
        if (folderIndex < folders.size() && !byLibmspack[folderIndex]) {
            const FolderCabinet &folder = folders[folderIndex];
            const std::size_t position = fileIndex - folder.firstFile;
            bool read = false;
            TenvoResult result = TENVO_OK;
            std::string entryMessage;
            bool fatal = false;
            if (wanted && (!readerOpen || readerFolder != folderIndex)) {
                readerOpen = reader.open(archivePath, folder.headers, folder.dataStart, folder.dataSize);
                readerFolder = folderIndex;
                readerNext = 0;
            }
            if (readerOpen && readerFolder == folderIndex) {
                bool moved = true;
                while (moved && readerNext < position) {
                    TenvoResult skipped = TENVO_OK;
                    std::string skippedMessage;
                    moved = reader.next(false, sink, skipped, skippedMessage, fatal) && !fatal;
                    ++readerNext;
                }
                if (moved && readerNext == position) {
                    read = reader.next(wanted, sink, result, entryMessage, fatal);
                    ++readerNext;
                }
                if (!read || fatal) {
                    readerOpen = false;
                    byLibmspack[folderIndex] = true;
                }
            } else if (wanted) {
                byLibmspack[folderIndex] = true;
            }
            if (read || !wanted) {
                sink.endEntry(wanted ? result : TENVO_OK, wanted ? entryMessage : std::string());
                continue;
            }
        }
        if (!wanted) {
            sink.endEntry(TENVO_OK, {});
            continue;
        }
        std::string entryMessage;
        const TenvoResult result = set.extract(file, sink, entryMessage);
        sink.endEntry(result, entryMessage);
    }
    return TENVO_OK;
}

std::size_t cabFolderCount(const std::string &archivePath)
{
    // Read from the fixed header by hand: the caller may be a process that
    // must not run a decoder on untrusted bytes.
    FileReader reader;
    unsigned char header[28];
    if (!reader.open(archivePath) || !reader.readAt(0, header, sizeof header)
        || std::memcmp(header, "MSCF", 4) != 0)
        return 0;
    return std::size_t(header[26]) | std::size_t(header[27]) << 8;
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

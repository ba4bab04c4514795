// The formats the engine reads through libarchive: ZIP, 7z, RAR 5 and LZH.
#include "libarchivedecoder.h"

#include "decoderutil.h"
#include "headerscan.h"
#include "namecodec.h"
#include "utf8locale.h"
#include "volumeset.h"
#include "zipdirect.h"
#include "zipscan.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <isa-l/igzip_lib.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tenvo::engine {

namespace {

constexpr std::size_t kReadBlock = 256 * 1024;
// When libarchive reads only a ZIP archive's headers (ZipDirectData decodes
// the data), a large block would read most of the data all the same.
constexpr std::size_t kHeaderReadBlock = 16 * 1024;
// ARCHIVE_RETRY answers in a row before the archive counts as damaged.
constexpr int kMaxRetries = 100;

struct ArchiveReadFree {
    void operator()(archive *a) const { archive_read_free(a); }
};
using ArchiveReader = std::unique_ptr<archive, ArchiveReadFree>;

std::string errorOf(archive *a, const char *fallback)
{
    const char *text = archive_error_string(a);
    return text && *text ? text : fallback;
}

bool mentionsEncryption(archive *a)
{
    if (archive_read_has_encrypted_entries(a) > 0)
        return true;
    const char *text = archive_error_string(a);
    return text && (std::strstr(text, "ncrypt") || std::strstr(text, "assphrase"));
}

// Whether libarchive gave up because the data is packed with a method or
// filter it does not read (LZH -lh1-, 7z ARM64 or Deflate64, ...): the
// archive is sound, so the user must not be told it is damaged.
bool mentionsUnreadMethod(archive *a)
{
    const char *text = archive_error_string(a);
    if (!text)
        return false;
    // A RAR 5 filter type out of range is damage, not a method.
    if (std::strstr(text, "Unsupported filter type"))
        return false;
    for (const char *mark : {"Unsupported lzh compression method", "Unknown codec ID",
                             "Unsupported filter", "Unsupported form of BCJ2",
                             "encoded with many filters", "Unsupported compression method",
                             "Compression method not supported", "Unsupported ZIP compression method"}) {
        if (std::strstr(text, mark))
            return true;
    }
    return false;
}

// The cause of a failure that libarchive reported for the whole archive.
// Only an opened reader can be asked about encryption.
TenvoResult archiveFailure(archive *a, bool opened)
{
    if (opened && mentionsEncryption(a))
        return TENVO_ERR_ENCRYPTED;
    if (mentionsUnreadMethod(a))
        return TENVO_ERR_METHOD;
    switch (archive_errno(a)) {
    case ENOENT:
    case EACCES:
    case EPERM:
    case EISDIR:
    case ENOTDIR:
    case ELOOP:
    case EMFILE:
    case ENFILE:
        return TENVO_ERR_OPEN;
    default:
        return TENVO_ERR_DAMAGED;
    }
}

// True when the file starts with the end-of-central-directory mark, as a
// ZIP archive without entries does.
bool isEmptyZip(const std::string &path)
{
    char head[4] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool empty = ::read(fd, head, sizeof head) == sizeof head
        && std::memcmp(head, "PK\5\6", 4) == 0;
    ::close(fd);
    return empty;
}

// True for a ZIP whose central directory cannot be trusted, read front to
// back: a split ZIP (its offsets count from each part's start), and
// numbered parts whose joined stream ends before it (a part missing), so
// the entries held whole before the gap still land.
bool readFrontToBack(const std::string &path)
{
    if (numberedPartNumber(path) != 1) {
        const NumberedParts split = splitZipParts(path);
        return !split.paths.empty() || !split.missing.empty();
    }
    ZipCentralDirectory directory;
    std::string ignored;
    return directory.open(path, ignored) != TENVO_OK;
}

// The file from start on, as libarchive reads it when an archive does not
// begin at the file's first byte.
class OffsetSource {
public:
    static int open(archive *a, const std::string &path, int64_t start)
    {
        auto *source = new OffsetSource;
        source->m_start = start;
        if (!source->m_file.open(path) || uint64_t(start) > source->m_file.size()) {
            archive_set_error(a, source->m_file.openError() ? source->m_file.openError() : EINVAL,
                              "cannot open the archive");
            delete source;
            return ARCHIVE_FATAL;
        }
        source->m_size = int64_t(source->m_file.size()) - start;
        archive_read_set_callback_data(a, source);
        archive_read_set_read_callback(a, read);
        archive_read_set_seek_callback(a, seek);
        archive_read_set_skip_callback(a, skip);
        archive_read_set_close_callback(a, close);
        return archive_read_open1(a);
    }

private:
    static la_ssize_t read(archive *a, void *data, const void **block)
    {
        auto *source = static_cast<OffsetSource *>(data);
        const auto n = static_cast<std::size_t>(
            std::min<int64_t>(int64_t(kReadBlock), source->m_size - source->m_position));
        *block = source->m_buffer.get();
        if (n == 0)
            return 0;
        if (!source->m_file.readAt(uint64_t(source->m_start + source->m_position),
                                   source->m_buffer.get(), n)) {
            archive_set_error(a, EIO, "cannot read the archive");
            return -1;
        }
        source->m_position += int64_t(n);
        return la_ssize_t(n);
    }
    static la_int64_t seek(archive *, void *data, la_int64_t offset, int whence)
    {
        auto *source = static_cast<OffsetSource *>(data);
        const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? source->m_position : source->m_size;
        const int64_t target = base + offset;
        if (target < 0)
            return ARCHIVE_FATAL;
        source->m_position = std::min(target, source->m_size);
        return source->m_position;
    }
    static la_int64_t skip(archive *, void *data, la_int64_t request)
    {
        auto *source = static_cast<OffsetSource *>(data);
        const int64_t step = std::min<int64_t>(request, source->m_size - source->m_position);
        source->m_position += step;
        return step;
    }
    static int close(archive *, void *data)
    {
        delete static_cast<OffsetSource *>(data);
        return ARCHIVE_OK;
    }

    FileReader m_file;
    int64_t m_start = 0;
    int64_t m_size = 0;
    int64_t m_position = 0;
    std::unique_ptr<char[]> m_buffer = std::make_unique_for_overwrite<char[]>(kReadBlock);
};

// The length of the gzip member header at offset, read as libarchive's gzip
// reader reads it (Deflate only, no reserved flag, the optional fields
// skipped); 0 when there is none there.
uint64_t gzipHeaderLength(FileReader &file, uint64_t offset)
{
    unsigned char fixed[10];
    if (offset > file.size() || file.size() - offset < sizeof fixed || !file.readAt(offset, fixed, sizeof fixed)
        || fixed[0] != 0x1f || fixed[1] != 0x8b || fixed[2] != 8 || (fixed[3] & 0xe0) != 0)
        return 0;
    const unsigned flags = fixed[3];
    uint64_t length = sizeof fixed;
    const auto fits = [&](uint64_t more) { return file.size() - offset >= length + more; };
    if (flags & 4) {
        unsigned char extra[2];
        if (!fits(2) || !file.readAt(offset + length, extra, 2))
            return 0;
        length += 2 + (unsigned(extra[1]) << 8 | extra[0]);
    }
    for (const unsigned text : {8u, 16u}) {
        if (!(flags & text))
            continue;
        // A name or comment, up to its terminating zero.
        unsigned char chunk[512];
        for (bool ended = false; !ended;) {
            if (!fits(1))
                return 0;
            const auto n = std::size_t(std::min<uint64_t>(sizeof chunk, file.size() - offset - length));
            if (!file.readAt(offset + length, chunk, n))
                return 0;
            const void *zero = std::memchr(chunk, 0, n);
            const std::size_t used = zero ? std::size_t(static_cast<const unsigned char *>(zero) - chunk) + 1 : n;
            length += used;
            ended = zero != nullptr;
        }
    }
    if (flags & 2)
        length += 2;
    return fits(0) ? length : 0;
}

bool gzipOwnReading = true;

// The gzip layer of a compressed tar archive or file, decoded with ISA-L
// and handed to libarchive as what it reads. Members follow one another
// until what follows is no gzip member (ignored, as libarchive does); each
// member's CRC-32 and length are checked at its end, which libarchive's own
// gzip reader does not do.
class GzipSource {
public:
    // Whether the file is opened and begins with a gzip member.
    bool open(const std::string &path)
    {
        if (!m_file.open(path))
            return false;
        m_next = gzipHeaderLength(m_file, 0);
        unsigned char time[4];
        if (m_next > 0 && m_file.readAt(4, time, sizeof time)) {
            const uint32_t seconds = uint32_t(time[0]) | uint32_t(time[1]) << 8 | uint32_t(time[2]) << 16
                | uint32_t(time[3]) << 24;
            m_storedTime = seconds == 0 ? INT64_MIN : int64_t(seconds);
        }
        return m_next > 0;
    }

    // The time the first member's header stores, which libarchive gives a
    // single compressed file; INT64_MIN for none.
    int64_t storedTime() const { return m_storedTime; }

    int attach(archive *a)
    {
        archive_read_set_callback_data(a, this);
        archive_read_set_read_callback(a, read);
        return archive_read_open1(a);
    }

    // After libarchive has read all it wanted: the rest of the stream is
    // decoded (up to a bound) so that the last member's check is made.
    // TENVO_OK, or the cause with a message.
    TenvoResult finish(std::string &message)
    {
        constexpr uint64_t kMostDrained = 64ull << 20;
        for (uint64_t drained = 0; drained <= kMostDrained;) {
            const la_ssize_t n = produce();
            if (n < 0) {
                message = m_error;
                return TENVO_ERR_DAMAGED;
            }
            if (n == 0)
                return TENVO_OK;
            drained += uint64_t(n);
        }
        return TENVO_OK;
    }

private:
    static la_ssize_t read(archive *a, void *data, const void **block)
    {
        auto *source = static_cast<GzipSource *>(data);
        const la_ssize_t n = source->produce();
        *block = source->m_out.get();
        if (n < 0)
            archive_set_error(a, -1 /* as libarchive's own readers */, "%s", source->m_error.c_str());
        return n;
    }

    // The next block of decoded bytes: their count, 0 at the end, -1 on an
    // error (m_error).
    la_ssize_t produce()
    {
        if (!m_error.empty())
            return -1;
        for (;;) {
            if (m_ended)
                return 0;
            if (!m_inMember) {
                // m_next: the header length of the member at m_position.
                if (m_next == 0) {
                    m_ended = true;
                    return 0;
                }
                m_position += m_next;
                m_next = 0;
                isal_inflate_init(m_state.get());
                m_state->crc_flag = ISAL_GZIP_NO_HDR_VER;
                m_inMember = true;
            }
            if (m_state->avail_in == 0 && m_position < m_file.size()) {
                const auto n = std::size_t(std::min<uint64_t>(kReadBlock, m_file.size() - m_position));
                if (!m_file.readAt(m_position, m_in.get(), n)) {
                    m_error = "cannot read the archive";
                    return -1;
                }
                m_position += n;
                m_state->next_in = m_in.get();
                m_state->avail_in = uint32_t(n);
            }
            const uint32_t inBefore = m_state->avail_in;
            m_state->next_out = m_out.get();
            m_state->avail_out = uint32_t(kOut);
            const int status = isal_inflate(m_state.get());
            const auto got = la_ssize_t(kOut - m_state->avail_out);
            if (status < 0)
                m_error = status == ISAL_INCORRECT_CHECKSUM ? "CRC error in the gzip data"
                                                            : "gzip decompression failed";
            else if (got == 0 && m_state->avail_in == inBefore && m_state->block_state != ISAL_BLOCK_FINISH)
                m_error = m_position < m_file.size() ? "gzip decompression failed" : "truncated gzip input";
            else if (m_state->block_state == ISAL_BLOCK_FINISH) {
                // The member and its trailer are read: a next member may follow.
                m_position -= m_state->avail_in;
                m_state->avail_in = 0;
                m_inMember = false;
                m_next = gzipHeaderLength(m_file, m_position);
            }
            // What came out before an error is handed on first.
            if (got > 0)
                return got;
            if (!m_error.empty())
                return -1;
        }
    }

    static constexpr std::size_t kOut = 1 << 20;
    FileReader m_file;
    uint64_t m_position = 0; // where the next input is read (or the next member begins)
    uint64_t m_next = 0;     // the next member's header length, 0 for none
    bool m_inMember = false;
    bool m_ended = false;
    int64_t m_storedTime = INT64_MIN;
    std::string m_error;
    std::unique_ptr<inflate_state> m_state = std::make_unique<inflate_state>();
    std::unique_ptr<unsigned char[]> m_in = std::make_unique_for_overwrite<unsigned char[]>(kReadBlock);
    std::unique_ptr<unsigned char[]> m_out = std::make_unique_for_overwrite<unsigned char[]>(kOut);
};

// Opens the archive for the one reader named; start is where the archive
// begins in the file (past a self-extractor's program).
ArchiveReader openReader(LibarchiveFormat format, const std::string &path, TenvoResult &cause,
                         std::string &message, int64_t start = 0,
                         const std::string *password = nullptr,
                         const std::vector<std::string> *volumes = nullptr,
                         std::size_t blockSize = kReadBlock, GzipSource *gzip = nullptr)
{
    ArchiveReader reader(archive_read_new());
    if (!reader) {
        cause = TENVO_ERR_WRITE;
        message = "out of memory";
        return nullptr;
    }
    switch (format) {
    case LibarchiveFormat::Zip:
        // The seekable reader trusts the central directory, as Windows does,
        // but does not take an archive that is nothing but an empty one.
        if (isEmptyZip(path) || readFrontToBack(path))
            archive_read_support_format_zip_streamable(reader.get());
        else
            archive_read_support_format_zip_seekable(reader.get());
        break;
    case LibarchiveFormat::SevenZip:
        archive_read_support_format_7zip(reader.get());
        break;
    case LibarchiveFormat::Rar5:
        archive_read_support_format_rar5(reader.get());
        break;
    case LibarchiveFormat::Lha:
        archive_read_support_format_lha(reader.get());
        // libarchive 3.6 turns LZH names into wide text through the locale
        // and gives up on the whole archive when a name does not convert. As
        // Latin-1 every byte converts; the names themselves come from our own
        // header scan (see StoredNames below).
        archive_read_set_format_option(reader.get(), "lha", "hdrcharset", "ISO-8859-1");
        break;
    case LibarchiveFormat::Tar:
        // Compressed data that is no tar archive is one file: the raw reader
        // bids lowest, so a tar archive inside always wins.
        archive_read_support_filter_gzip(reader.get());
        archive_read_support_filter_bzip2(reader.get());
        archive_read_support_filter_xz(reader.get());
        archive_read_support_filter_zstd(reader.get());
        archive_read_support_format_tar(reader.get());
        archive_read_support_format_raw(reader.get());
        break;
    }
    // libarchive refuses an empty passphrase; it opens nothing anyway.
    if (password && !password->empty()
        && archive_read_add_passphrase(reader.get(), password->c_str()) != ARCHIVE_OK) {
        cause = TENVO_ERR_WRITE;
        message = "out of memory";
        return nullptr;
    }
    std::vector<const char *> names;
    if (volumes && volumes->size() > 1) {
        for (const std::string &volume : *volumes)
            names.push_back(volume.c_str());
        names.push_back(nullptr);
    }
    // Numbered parts are read joined through our own reader (FileReader),
    // by the gzip source too.
    const int opened = gzip ? gzip->attach(reader.get())
        : start > 0 || numberedPartNumber(path) == 1 || !joinedParts(path).paths.empty()
        ? OffsetSource::open(reader.get(), path, start)
        : !names.empty() ? archive_read_open_filenames(reader.get(), names.data(), kReadBlock)
                         : archive_read_open_filename(reader.get(), path.c_str(), blockSize);
    if (opened != ARCHIVE_OK) {
        cause = archiveFailure(reader.get(), false);
        message = errorOf(reader.get(), "cannot open the archive");
        return nullptr;
    }
    cause = TENVO_OK;
    return reader;
}

// A name as libarchive holds it: its multibyte form (the stored bytes, or
// UTF-8 under our locale), else its wide form encoded as UTF-8.
bool entryText(const char *bytes, const wchar_t *wide, std::string &out, bool &isUtf8,
               bool &isUnicode)
{
    if (bytes) {
        out = bytes;
        return true;
    }
    if (wide) {
        out.clear();
        for (; *wide; ++wide)
            appendUtf8(out, static_cast<char32_t>(*wide));
        isUtf8 = true;
        isUnicode = true;
        return true;
    }
    return false;
}

EntryInfo describeEntry(archive_entry *entry, bool unicodeNames)
{
    EntryInfo info;
    info.nameIsUtf8 = unicodeNames;
    info.nameIsUnicode = unicodeNames;
    if (!entryText(archive_entry_pathname(entry), archive_entry_pathname_w(entry), info.rawName,
                   info.nameIsUtf8, info.nameIsUnicode))
        info.rawName.clear();

    if (const char *hard = archive_entry_hardlink(entry)) {
        info.kind = EntryKind::Hardlink;
        info.linkTarget = hard;
        info.linkTargetIsUtf8 = unicodeNames;
    } else {
        switch (archive_entry_filetype(entry)) {
        case 0:
        case AE_IFREG:
            info.kind = EntryKind::File;
            break;
        case AE_IFDIR:
            info.kind = EntryKind::Directory;
            break;
        case AE_IFLNK: {
            info.kind = EntryKind::Symlink;
            info.linkTargetIsUtf8 = unicodeNames;
            bool targetIsUnicode = false;
            entryText(archive_entry_symlink(entry), archive_entry_symlink_w(entry),
                      info.linkTarget, info.linkTargetIsUtf8, targetIsUnicode);
            break;
        }
        default:
            info.kind = EntryKind::Other;
            break;
        }
    }
    info.mode = archive_entry_perm(entry) & 07777;
    info.size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
    info.mtime = archive_entry_mtime_is_set(entry) ? archive_entry_mtime(entry) : INT64_MIN;
    info.encrypted = archive_entry_is_encrypted(entry) != 0;
    return info;
}

TenvoResult refused(std::string &message)
{
    message = "the data could not be stored";
    return TENVO_ERR_WRITE;
}

// Streams the current entry's data into the sink. Returns the entry's
// outcome; fatal is set when the archive cannot go on after it.
TenvoResult streamData(archive *a, archive_entry *entry, EntrySink &sink, std::string &message,
                       bool &fatal, const Rar5FileHeader *checked)
{
    uint32_t crc = 0;
    static const char zeros[64 * 1024] = {};
    int64_t expected = 0;
    for (;;) {
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int r = archive_read_data_block(a, &block, &size, &offset);
        if (r == ARCHIVE_EOF) {
            // libarchive 3.6 checks no CRC of stored RAR 5 data.
            if (checked && checked->hasCrc && crc != checked->crc) {
                message = "CRC error in the entry's data";
                return TENVO_ERR_DAMAGED;
            }
            return TENVO_OK;
        }
        if (r != ARCHIVE_OK) {
            // LHA reports a CRC mismatch and unknown methods as warnings.
            fatal = r == ARCHIVE_FATAL;
            message = errorOf(a, "cannot decode the entry");
            if (archive_entry_is_encrypted(entry) || mentionsEncryption(a))
                return TENVO_ERR_ENCRYPTED;
            return mentionsUnreadMethod(a) ? TENVO_ERR_METHOD : TENVO_ERR_DAMAGED;
        }
        if (offset < expected) {
            message = "entry data out of order";
            return TENVO_ERR_DAMAGED;
        }
        // A hole in a sparse entry reads as zeros.
        while (expected < offset) {
            const auto n = static_cast<std::size_t>(
                std::min<int64_t>(offset - expected, static_cast<int64_t>(sizeof zeros)));
            if (!sink.entryData(zeros, n))
                return refused(message);
            if (checked)
                crc = crc32Update(crc, zeros, n);
            expected += static_cast<int64_t>(n);
        }
        if (size > 0 && !sink.entryData(block, size))
            return refused(message);
        if (checked)
            crc = crc32Update(crc, block, size);
        expected += static_cast<int64_t>(size);
    }
}


// The stored bytes of a name that libarchive decoded as Latin-1; a name
// with characters beyond Latin-1 came through a code-page extension and is
// kept as the UTF-8 it now is.
std::string latin1Bytes(const std::string &utf8, bool &isUtf8)
{
    std::string bytes;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            bytes += static_cast<char>(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
            bytes += static_cast<char>(((c & 0x03) << 6) | (utf8[++i] & 0x3F));
        } else {
            isUtf8 = true;
            return utf8;
        }
    }
    return bytes;
}

// A FIFO, device or socket by its stored Unix mode.
bool isSpecialFile(uint32_t mode)
{
    const uint32_t type = mode & S_IFMT;
    return type == S_IFIFO || type == S_IFCHR || type == S_IFBLK || type == S_IFSOCK;
}

// Gives each LZH entry its name as stored, from our own reading of
// the headers when it agrees with libarchive on the position (and the size,
// where known), and keeps out the FIFOs and devices that libarchive hands
// over as regular files.
class StoredNames {
public:
    explicit StoredNames(std::vector<StoredName> names)
        : m_names(std::move(names))
    {
    }

    void apply(std::size_t index, EntryInfo &info) const
    {
        if (applyStoredName(m_names, index, info))
            return;
        bool utf8 = false;
        info.rawName = latin1Bytes(info.rawName, utf8);
        info.nameIsUtf8 = utf8;
        info.nameIsUnicode = utf8;
        utf8 = false;
        info.linkTarget = latin1Bytes(info.linkTarget, utf8);
        info.linkTargetIsUtf8 = utf8;
    }

private:
    std::vector<StoredName> m_names;
};

// libarchive 3.6 hands a ZIP entry whose Unix mode says FIFO over as a
// regular file, and reads a name by its UTF-8 flag alone, giving none at all
// when the flag is set on CP932 bytes. The central directory, read here in
// the order libarchive walks it (by local header offset, one entry per
// offset), tells the kinds apart and gives each entry its name, read for the
// whole archive alike (ZipNameRule).
class ZipTypes {
public:
    ZipTypes(const std::string &path, const NameEncoding *encoding)
        : m_names(encoding)
    {
        ZipCentralDirectory directory;
        std::string message;
        if (directory.open(path, message) != TENVO_OK)
            return;
        ZipCentralEntry entry;
        while (directory.next(entry)) {
            const uint32_t mode = entry.unixMode();
            m_rule.add(entry);
            m_entries.push_back({entry.localHeaderOffset, std::move(entry.name), mode, entry.flags});
        }
        std::stable_sort(m_entries.begin(), m_entries.end(),
                         [](const Entry &a, const Entry &b) { return a.offset < b.offset; });
        m_entries.erase(std::unique(m_entries.begin(), m_entries.end(),
                                    [](const Entry &a, const Entry &b) { return a.offset == b.offset; }),
                        m_entries.end());
    }

    void apply(std::size_t index, EntryInfo &info)
    {
        if (index >= m_entries.size())
            return;
        const Entry &stored = m_entries[index];
        // libarchive's name is the stored one, or none when it could not
        // take the bytes for what their flag says.
        if (stored.name != info.rawName && !info.rawName.empty())
            return;
        if (info.kind == EntryKind::File && isSpecialFile(stored.mode))
            info.kind = EntryKind::Other;
        m_rule.name(stored.name, stored.flags, m_names, info.rawName, info.nameIsUtf8);
    }

private:
    struct Entry {
        uint64_t offset;
        std::string name;
        uint32_t mode;
        uint16_t flags;
    };
    NameDecoder m_names;
    std::vector<Entry> m_entries;
    ZipNameRule m_rule;
};

// The RAR 5 file header of an entry, when our scan found the same name at
// the same position.
const Rar5FileHeader *rar5Header(const std::vector<Rar5FileHeader> &files, std::size_t index,
                                 const EntryInfo &info)
{
    if (index >= files.size() || files[index].split)
        return nullptr;
    std::string name = info.rawName;
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    return files[index].name == name ? &files[index] : nullptr;
}

// How many missing volumes in a row are looked past for the ones after them.
constexpr std::size_t kMissingLookAhead = 8;

// Volumes of a RAR 5 set present in a row, read by libarchive as a set of
// their own. Its files are those libarchive lists: a file split across the
// run's volumes counts once, the end of a file going on from the volume
// before the run not at all.
struct VolumeRun {
    std::vector<std::string> volumes;
    std::vector<Rar5FileHeader> files;
    std::size_t cutEntry = SIZE_MAX; // the entry that goes on in a missing volume
};

// The runs of a set given as its first volume. missing names the first
// volume looked for and not found. A solid set stops at its first gap: the
// files after it cannot be decoded without those before.
std::vector<VolumeRun> rar5Runs(const std::string &firstPath, Rar5Scan first, std::string &missing)
{
    std::vector<VolumeRun> runs(1);
    runs.back().volumes.push_back(firstPath);
    runs.back().files = std::move(first.files);
    bool insideFile = first.endsInsideFile;
    std::size_t index = 1;
    for (bool more = first.moreVolumes; more; ++index) {
        std::string next = rarVolumeName(firstPath, index, true);
        if (next.empty() || !volumeExists(next)) {
            if (missing.empty())
                missing = next.empty() ? "the next volume" : next;
            if (insideFile && !runs.back().files.empty())
                runs.back().cutEntry = runs.back().files.size() - 1;
            if (next.empty() || first.solid)
                break;
            // Past the gap, the files held whole in the volumes after it.
            std::size_t skip = 1;
            for (; skip <= kMissingLookAhead; ++skip) {
                next = rarVolumeName(firstPath, index + skip, true);
                if (volumeExists(next))
                    break;
            }
            if (skip > kMissingLookAhead)
                break;
            index += skip;
            Rar5Scan later = scanRar5(next);
            runs.emplace_back();
            runs.back().volumes.push_back(next);
            // libarchive passes over the end of a file begun in the gap.
            for (Rar5FileHeader &file : later.files) {
                if (!file.continued)
                    runs.back().files.push_back(std::move(file));
            }
            more = later.moreVolumes;
            insideFile = later.endsInsideFile;
            continue;
        }
        Rar5Scan later = scanRar5(next);
        for (Rar5FileHeader &file : later.files) {
            if (!file.continued)
                runs.back().files.push_back(std::move(file));
        }
        runs.back().volumes.push_back(next);
        more = later.moreVolumes;
        insideFile = later.endsInsideFile;
    }
    return runs;
}

TenvoResult walkEntries(LibarchiveFormat format, const std::string &archivePath, archive *a,
                        const StoredNames *storedNames, ZipTypes *zipTypes,
                        const VolumeRun *run, EntrySink &sink, std::string &message,
                        ZipDirectData *direct = nullptr, int64_t gzipTime = INT64_MIN);

// Reads the entries of one archive, or of one run of volumes, into the sink.
TenvoResult decodeRun(LibarchiveFormat format, const std::string &archivePath,
                      const StoredNames *storedNames, const VolumeRun *run, EntrySink &sink,
                      std::string &message, int64_t start, const std::string *password)
{
    std::unique_ptr<ZipTypes> zipTypes;
    if (format == LibarchiveFormat::Zip)
        zipTypes = std::make_unique<ZipTypes>(archivePath, sink.nameEncoding());

    // Plain entries' data is decoded straight from the file (ZipDirectData)
    // when libarchive walks the archive by its central directory, as that
    // decoder does: both then see the same entries in the same order.
    std::unique_ptr<ZipDirectData> direct;
    if (format == LibarchiveFormat::Zip && start == 0 && !run && zipDirectDecoding()
        && !isEmptyZip(archivePath) && !readFrontToBack(archivePath)) {
        direct = std::make_unique<ZipDirectData>();
        if (!direct->open(archivePath))
            direct.reset();
    }

    // Declared before the reader, which reads from it until it is freed.
    std::unique_ptr<GzipSource> gzip;
    if (format == LibarchiveFormat::Tar && start == 0 && !run && gzipOwnReading) {
        gzip = std::make_unique<GzipSource>();
        if (!gzip->open(archivePath))
            gzip.reset();
    }

    TenvoResult cause = TENVO_OK;
    ArchiveReader reader = openReader(format, archivePath, cause, message, start, password,
                                      run ? &run->volumes : nullptr,
                                      direct && direct->allPlain() ? kHeaderReadBlock : kReadBlock,
                                      gzip.get());
    if (!reader)
        return cause;
    const TenvoResult walked = walkEntries(format, archivePath, reader.get(), storedNames, zipTypes.get(),
                                           run, sink, message, direct.get(),
                                           gzip ? gzip->storedTime() : INT64_MIN);
    return walked == TENVO_OK && gzip ? gzip->finish(message) : walked;
}

// Feeds every entry of an opened reader to the sink.
TenvoResult walkEntries(LibarchiveFormat format, const std::string &archivePath, archive *a,
                        const StoredNames *storedNames, ZipTypes *zipTypes,
                        const VolumeRun *run, EntrySink &sink, std::string &message,
                        ZipDirectData *direct, int64_t gzipTime)
{
    const bool unicodeNames = format == LibarchiveFormat::SevenZip || format == LibarchiveFormat::Rar5;
    int retries = 0;
    std::size_t index = 0;
    for (;;) {
        archive_entry *entry = nullptr;
        const int r = archive_read_next_header(a, &entry);
        if (r == ARCHIVE_EOF)
            return TENVO_OK;
        if (r == ARCHIVE_RETRY && ++retries < kMaxRetries)
            continue;
        if (r == ARCHIVE_FATAL || r == ARCHIVE_RETRY) {
            message = errorOf(a, "damaged archive headers");
            return archiveFailure(a, true);
        }
        retries = 0;

        EntryInfo info = describeEntry(entry, unicodeNames);
        if (format == LibarchiveFormat::Tar && archive_format(a) == ARCHIVE_FORMAT_RAW) {
            // A single compressed file stores no name of its own.
            info.rawName = singleFileName(archivePath);
            info.kind = EntryKind::File;
            info.mode = 0644;
            // Read by the engine, the gzip header's time comes from there.
            if (!archive_entry_mtime_is_set(entry))
                info.mtime = gzipTime;
        }
        const std::size_t entryIndex = index++;
        const std::string libarchiveName = direct ? info.rawName : std::string();
        if (storedNames)
            storedNames->apply(entryIndex, info);
        if (zipTypes)
            zipTypes->apply(entryIndex, info);
        const Rar5FileHeader *checked = nullptr;
        if (run) {
            checked = rar5Header(run->files, entryIndex, info);
            if (checked && checked->encrypted)
                info.encrypted = true;
            if (entryIndex == run->cutEntry) {
                // Its data goes on in the missing volume: nothing of it lands.
                sink.beginEntry(info);
                sink.endEntry(TENVO_ERR_VOLUME, "the entry goes on in a volume that is missing");
                return TENVO_ERR_VOLUME;
            }
        }
        if (r == ARCHIVE_FAILED) {
            // The header is unusable but the archive goes on: report the entry
            // as damaged without giving it any data (a folder carries no data).
            info.kind = EntryKind::Directory;
            if (info.rawName.empty())
                info.rawName = "(unnamed entry)";
            sink.beginEntry(info);
            sink.endEntry(TENVO_ERR_DAMAGED, errorOf(a, "damaged entry header"));
            continue;
        }

        std::string entryMessage;
        TenvoResult outcome = TENVO_OK;
        bool fatal = false;
        if (sink.beginEntry(info)) {
            if (direct && direct->takes(entryIndex, info, libarchiveName))
                outcome = direct->decode(entryIndex, sink, entryMessage, fatal);
            else
                outcome = streamData(a, entry, sink, entryMessage, fatal, checked);
        }
        sink.endEntry(outcome, entryMessage);
        if (fatal) {
            message = entryMessage;
            return outcome;
        }
    }
}

TenvoResult decodeEntries(LibarchiveFormat format, const std::string &archivePath,
                          const StoredNames *storedNames, EntrySink &sink, std::string &message,
                          int64_t start = 0, const std::string *password = nullptr)
{
    ScopedUtf8Locale utf8;
    if (format != LibarchiveFormat::Rar5)
        return decodeRun(format, archivePath, storedNames, nullptr, sink, message, start, password);

    Rar5Scan rar5 = scanRar5(archivePath);
    if (rar5.headersEncrypted) {
        message = "the archive's headers are encrypted";
        return TENVO_ERR_ENCRYPTED;
    }
    if (!rar5.volume) {
        VolumeRun whole;
        whole.volumes.push_back(archivePath);
        whole.files = std::move(rar5.files);
        return decodeRun(format, archivePath, nullptr, &whole, sink, message, start, password);
    }
    if (rar5.volumeNumber > 0 || (!rar5.files.empty() && rar5.files.front().continued)) {
        message = "this is not the first volume of a multi-volume archive";
        return TENVO_ERR_VOLUME;
    }
    std::string missing;
    const std::vector<VolumeRun> runs = rar5Runs(archivePath, std::move(rar5), missing);
    for (const VolumeRun &run : runs) {
        const TenvoResult result =
            decodeRun(format, run.volumes.front(), nullptr, &run, sink, message, 0, password);
        // A run that cannot be read past a damaged header ends the set.
        if (result != TENVO_OK && result != TENVO_ERR_VOLUME) {
            if (!missing.empty())
                message = "a volume of the set is missing: " + missing;
            return missing.empty() ? result : TENVO_ERR_VOLUME;
        }
    }
    if (missing.empty())
        return TENVO_OK;
    message = "a volume of the set is missing: " + missing;
    return TENVO_ERR_VOLUME;
}

} // namespace

std::string singleFileName(const std::string &archivePath)
{
    const std::string name = archivePath.substr(archivePath.rfind('/') + 1);
    const std::size_t dot = name.rfind('.');
    std::string suffix = dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot + 1);
    for (char &c : suffix)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (suffix == "gz" || suffix == "bz2" || suffix == "xz" || suffix == "zst")
        return name.substr(0, dot);
    if (suffix == "tgz" || suffix == "tbz2" || suffix == "txz" || suffix == "tzst")
        return name.substr(0, dot) + ".tar";
    return name + ".out";
}

void setGzipOwnReading(bool on) { gzipOwnReading = on; }

TenvoResult decodeWithLibarchive(LibarchiveFormat format, const std::string &archivePath,
                                 EntrySink &sink, std::string &message, const std::string *password)
{
    if (format == LibarchiveFormat::Lha) {
        const int64_t start = std::max<int64_t>(findLzhStart(archivePath), 0);
        const StoredNames names(scanLzhNames(archivePath, start, sink.nameEncoding()));
        return decodeEntries(format, archivePath, &names, sink, message, start);
    }
    return decodeEntries(format, archivePath, nullptr, sink, message, 0, password);
}

TenvoResult checkZipPassword(const std::string &archivePath, const std::string *password,
                             bool &encrypted, std::string &message)
{
    if (const TenvoResult said = checkZipEncryption(archivePath, password, encrypted, message);
        said != TENVO_OK || !encrypted)
        return said;

    ScopedUtf8Locale utf8;
    TenvoResult cause = TENVO_OK;
    std::string openMessage;
    ArchiveReader reader = openReader(LibarchiveFormat::Zip, archivePath, cause, openMessage, 0, password);
    if (!reader)
        return TENVO_OK;
    for (;;) {
        archive_entry *header = nullptr;
        const int r = archive_read_next_header(reader.get(), &header);
        if (r == ARCHIVE_EOF || r == ARCHIVE_FATAL)
            return TENVO_OK;
        if (r < ARCHIVE_WARN || !archive_entry_is_encrypted(header))
            continue;
        // The whole entry, so that its CRC (traditional) or authentication
        // code (AES) confirms the password.
        std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(kReadBlock);
        for (;;) {
            const la_ssize_t n = archive_read_data(reader.get(), buffer.get(), kReadBlock);
            if (n == 0)
                return TENVO_OK;
            if (n < 0) {
                message = "the password does not open the archive";
                return TENVO_ERR_ENCRYPTED;
            }
        }
    }
}

namespace {

// Serves an ArchiveBytes to libarchive, seeking as its 7z reader needs.
class BytesSource {
public:
    static ArchiveReader open(std::unique_ptr<ArchiveBytes> bytes, TenvoResult &cause,
                              std::string &message)
    {
        ArchiveReader reader(archive_read_new());
        if (!reader) {
            cause = TENVO_ERR_WRITE;
            message = "out of memory";
            return nullptr;
        }
        archive_read_support_format_7zip(reader.get());
        auto *source = new BytesSource;
        source->m_bytes = std::move(bytes);
        archive_read_set_callback_data(reader.get(), source);
        archive_read_set_read_callback(reader.get(), read);
        archive_read_set_seek_callback(reader.get(), seek);
        archive_read_set_skip_callback(reader.get(), skip);
        archive_read_set_close_callback(reader.get(), close);
        if (archive_read_open1(reader.get()) != ARCHIVE_OK) {
            cause = archiveFailure(reader.get(), false);
            message = errorOf(reader.get(), "cannot open the archive");
            return nullptr;
        }
        cause = TENVO_OK;
        return reader;
    }

private:
    static la_ssize_t read(archive *a, void *data, const void **block)
    {
        auto *source = static_cast<BytesSource *>(data);
        const uint64_t size = source->m_bytes->size();
        const auto n = static_cast<std::size_t>(
            std::min<uint64_t>(kReadBlock, size - std::min(size, source->m_position)));
        *block = source->m_buffer.get();
        if (n == 0)
            return 0;
        std::string message;
        if (!source->m_bytes->readAt(source->m_position, source->m_buffer.get(), n, message)) {
            archive_set_error(a, EIO, "%s", message.c_str());
            return -1;
        }
        source->m_position += n;
        return la_ssize_t(n);
    }
    static la_int64_t seek(archive *, void *data, la_int64_t offset, int whence)
    {
        auto *source = static_cast<BytesSource *>(data);
        const auto size = int64_t(source->m_bytes->size());
        const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? int64_t(source->m_position) : size;
        const int64_t target = base + offset;
        if (target < 0)
            return ARCHIVE_FATAL;
        source->m_position = uint64_t(std::min(target, size));
        return la_int64_t(source->m_position);
    }
    static la_int64_t skip(archive *, void *data, la_int64_t request)
    {
        auto *source = static_cast<BytesSource *>(data);
        const uint64_t left = source->m_bytes->size() - std::min(source->m_bytes->size(), source->m_position);
        const auto step = std::min<uint64_t>(uint64_t(std::max<la_int64_t>(request, 0)), left);
        source->m_position += step;
        return la_int64_t(step);
    }
    static int close(archive *, void *data)
    {
        delete static_cast<BytesSource *>(data);
        return ARCHIVE_OK;
    }

    std::unique_ptr<ArchiveBytes> m_bytes;
    uint64_t m_position = 0;
    std::unique_ptr<unsigned char[]> m_buffer = std::make_unique_for_overwrite<unsigned char[]>(kReadBlock);
};

} // namespace

TenvoResult decodeSevenZipBytes(std::unique_ptr<ArchiveBytes> bytes, EntrySink &sink,
                                std::string &message)
{
    ScopedUtf8Locale utf8;
    TenvoResult cause = TENVO_OK;
    ArchiveReader reader = BytesSource::open(std::move(bytes), cause, message);
    if (!reader)
        return cause;
    return walkEntries(LibarchiveFormat::SevenZip, std::string(), reader.get(), nullptr, nullptr,
                       nullptr, sink, message);
}

TenvoResult readSevenZipEntry(std::unique_ptr<ArchiveBytes> bytes, std::size_t dataEntry,
                              uint64_t limit, std::string &message)
{
    ScopedUtf8Locale utf8;
    TenvoResult cause = TENVO_OK;
    ArchiveReader reader = BytesSource::open(std::move(bytes), cause, message);
    if (!reader)
        return cause;
    std::size_t seen = 0;
    for (;;) {
        archive_entry *entry = nullptr;
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF)
            return TENVO_OK;
        if (r < ARCHIVE_WARN) {
            message = errorOf(reader.get(), "damaged archive headers");
            return archiveFailure(reader.get(), true);
        }
        if (archive_entry_filetype(entry) != AE_IFREG || archive_entry_size(entry) <= 0)
            continue;
        if (seen++ < dataEntry)
            continue;
        std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(kReadBlock);
        for (uint64_t read = 0; read < limit;) {
            const la_ssize_t n = archive_read_data(reader.get(), buffer.get(), kReadBlock);
            if (n == 0)
                return TENVO_OK;
            if (n < 0) {
                message = errorOf(reader.get(), "cannot decode the entry");
                return mentionsUnreadMethod(reader.get()) ? TENVO_ERR_METHOD : TENVO_ERR_DAMAGED;
            }
            read += uint64_t(n);
        }
        return TENVO_OK;
    }
}

bool checkWithLibarchive(LibarchiveFormat format, const std::string &archivePath)
{
    ScopedUtf8Locale utf8;
    TenvoResult cause = TENVO_OK;
    std::string message;
    const int64_t start = format == LibarchiveFormat::Lha
        ? std::max<int64_t>(findLzhStart(archivePath), 0)
        : 0;
    ArchiveReader reader = openReader(format, archivePath, cause, message, start);
    if (!reader)
        return false;
    for (;;) {
        archive_entry *entry = nullptr;
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF)
            return true;
        if (r < ARCHIVE_WARN)
            return false;
        // A 7z archive keeps all its headers in one block, read in full with
        // the first entry; walking on would decode the data to skip it.
        if (format == LibarchiveFormat::SevenZip)
            return true;
    }
}

void preloadLibarchiveSupport()
{
    static const bool loaded = [] {
        ScopedUtf8Locale::utf8Locale();
        // The LZH reader's names go through the Latin-1 converter (see
        // openReader); the handle stays open so that its module stays loaded.
        return iconv_open("UTF-8", "ISO-8859-1") != reinterpret_cast<iconv_t>(-1);
    }();
    (void)loaded;
}

} // namespace tenvo::engine

// Test fixtures: the entry description every archive writer takes, and ZIP, 7z and CAB makers.
#include "archivemaker.h"

#include <algorithm>
#include <array>

#include <archive.h>
#include <archive_entry.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <ctime>
#include <functional>
#include <memory>

namespace tenvo::fixture {

FixtureEntry FixtureEntry::file(std::string name, std::string data, uint32_t mode)
{
    FixtureEntry e;
    e.name = std::move(name);
    e.data = std::move(data);
    e.mode = mode;
    return e;
}

FixtureEntry FixtureEntry::directory(std::string name, uint32_t mode)
{
    FixtureEntry e;
    e.name = std::move(name);
    e.kind = Directory;
    e.mode = mode;
    return e;
}

FixtureEntry FixtureEntry::symlink(std::string name, std::string target)
{
    FixtureEntry e;
    e.name = std::move(name);
    e.kind = Symlink;
    e.linkTarget = std::move(target);
    e.mode = 0777;
    return e;
}

bool writeFixtureFile(const QString &path, const std::string &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size()) && file.flush();
}

bool writeArchiveBytes(const QString &path, const std::string &bytes, std::string *error)
{
    if (bytes.empty())
        return false;
    if (!writeFixtureFile(path, bytes)) {
        if (error)
            *error = "cannot write " + path.toStdString();
        return false;
    }
    return true;
}

uint32_t fixtureCrc32(const std::string &bytes)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes)
        crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

uint32_t dosDateTime(int64_t mtime)
{
    const std::time_t t = std::time_t(mtime);
    std::tm tm{};
    localtime_r(&t, &tm);
    if (tm.tm_year < 80)
        return (1u << 21) | (1u << 16); // 1980-01-01 00:00:00
    const uint32_t date = uint32_t((tm.tm_year - 80) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
    const uint32_t time = uint32_t(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
    return date << 16 | time;
}

ScopedLocale::ScopedLocale(const char *name)
    : m_locale(newlocale(LC_ALL_MASK, name, locale_t(nullptr)))
{
    if (m_locale)
        m_previous = uselocale(m_locale);
}

ScopedLocale::~ScopedLocale()
{
    if (m_locale) {
        uselocale(m_previous);
        freelocale(m_locale);
    }
}

namespace {

bool fail(std::string *error, const std::string &why)
{
    if (error)
        *error = why;
    return false;
}


bool isUtf8(const std::string &bytes)
{
    const QByteArray raw = QByteArray::fromStdString(bytes);
    return QString::fromUtf8(raw).toUtf8() == raw;
}

bool isAscii(const std::string &bytes)
{
    for (unsigned char c : bytes) {
        if (c >= 0x80)
            return false;
    }
    return true;
}

// libarchive would write a name that is not UTF-8 into a UTF-8 or UTF-16
// field without complaint; a fixture meant to hold UTF-8 names must not.
bool namesAreUtf8(const FixtureEntries &entries, std::string *error)
{
    for (const FixtureEntry &e : entries) {
        if (!isUtf8(e.name) || !isUtf8(e.linkTarget))
            return fail(error, "not UTF-8: " + e.name);
    }
    return true;
}

using WriteHandle = std::unique_ptr<archive, decltype(&archive_write_free)>;
using EntryHandle = std::unique_ptr<archive_entry, decltype(&archive_entry_free)>;

la_ssize_t appendToString(archive *, void *clientData, const void *buffer, size_t length)
{
    static_cast<std::string *>(clientData)->append(static_cast<const char *>(buffer), length);
    return la_ssize_t(length);
}

// Writes the entries with a libarchive writer that `configure` has set up for
// its format, in the given locale (libarchive takes the name encoding from it).
std::string writeWithLibarchive(const FixtureEntries &entries, const char *localeName,
                                const std::function<int(archive *)> &configure,
                                std::string *error,
                                const std::function<void(archive_entry *, std::size_t)> &adjust = {})
{
    ScopedLocale locale(localeName);
    if (!locale.isValid()) {
        fail(error, std::string("no such locale: ") + localeName);
        return {};
    }
    WriteHandle a(archive_write_new(), archive_write_free);
    std::string out;
    auto libarchiveFailed = [&](const std::string &what) {
        const char *why = archive_error_string(a.get());
        fail(error, what + ": " + (why ? why : "libarchive failed"));
        return std::string();
    };
    if (configure(a.get()) != ARCHIVE_OK)
        return libarchiveFailed("cannot set up the writer");
    // Unblocked output: the archive ends where its format ends, without padding.
    archive_write_set_bytes_per_block(a.get(), 0);
    if (archive_write_open(a.get(), &out, nullptr, appendToString, nullptr) != ARCHIVE_OK)
        return libarchiveFailed("cannot open the writer");

    for (const FixtureEntry &e : entries) {
        if (e.name.find('\0') != std::string::npos) {
            fail(error, "a name holds a NUL byte");
            return {};
        }
        EntryHandle entry(archive_entry_new(), archive_entry_free);
        std::string name = e.name;
        switch (e.kind) {
        case FixtureEntry::Directory:
            archive_entry_set_filetype(entry.get(), AE_IFDIR);
            if (name.empty() || name.back() != '/')
                name += '/';
            break;
        case FixtureEntry::Symlink:
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_copy_symlink(entry.get(), e.linkTarget.c_str());
            break;
        case FixtureEntry::File:
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_size(entry.get(), la_int64_t(e.data.size()));
            break;
        }
        archive_entry_copy_pathname(entry.get(), name.c_str());
        archive_entry_set_perm(entry.get(), e.mode & 07777);
        archive_entry_set_mtime(entry.get(), time_t(e.mtime), 0);
        if (adjust)
            adjust(entry.get(), std::size_t(&e - entries.data()));
        if (archive_write_header(a.get(), entry.get()) != ARCHIVE_OK)
            return libarchiveFailed("cannot write the header of " + e.name);
        if (e.kind == FixtureEntry::File && !e.data.empty()
            && archive_write_data(a.get(), e.data.data(), e.data.size()) != la_ssize_t(e.data.size()))
            return libarchiveFailed("cannot write the data of " + e.name);
    }
    if (archive_write_close(a.get()) != ARCHIVE_OK)
        return libarchiveFailed("cannot finish the archive");
    return out;
}

uint16_t getU16(const std::string &b, std::size_t at)
{
    return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}

uint32_t getU32(const std::string &b, std::size_t at)
{
    return uint32_t(getU16(b, at)) | uint32_t(getU16(b, at + 2)) << 16;
}

void setU16(std::string &b, std::size_t at, uint32_t value)
{
    b[at] = char(value & 0xFF);
    b[at + 1] = char((value >> 8) & 0xFF);
}

void setU32(std::string &b, std::size_t at, uint32_t value)
{
    setU16(b, at, value & 0xFFFF);
    setU16(b, at + 2, value >> 16);
}

// Flips a byte in the middle of the stored data of the first regular file
// that has data, found through the central directory.
bool corruptFirstZipData(std::string &zip)
{
    constexpr std::size_t eocdSize = 22;
    if (zip.size() < eocdSize)
        return false;
    std::size_t eocd = zip.size() - eocdSize;
    while (getU32(zip, eocd) != 0x06054b50) {
        if (eocd == 0)
            return false;
        --eocd;
    }
    const uint16_t count = getU16(zip, eocd + 10);
    std::size_t at = getU32(zip, eocd + 16);
    for (uint16_t i = 0; i < count && at + 46 <= zip.size(); ++i) {
        const uint32_t compressed = getU32(zip, at + 20);
        const uint16_t nameLength = getU16(zip, at + 28);
        const uint16_t extraLength = getU16(zip, at + 30);
        const uint16_t commentLength = getU16(zip, at + 32);
        const uint32_t unixMode = getU32(zip, at + 38) >> 16;
        const std::size_t local = getU32(zip, at + 42);
        const bool regular = (unixMode & 0170000) == 0100000 || unixMode == 0;
        if (compressed > 0 && regular && local + 30 <= zip.size()) {
            const std::size_t data = local + 30 + getU16(zip, local + 26) + getU16(zip, local + 28);
            if (data + compressed > zip.size())
                return false;
            zip[data + compressed / 2] = char(~uint8_t(zip[data + compressed / 2]));
            return true;
        }
        at += 46 + nameLength + extraLength + commentLength;
    }
    return false;
}

// Gives the entries that ask for it their Unix file type: the high 16 bits
// of a central record's external attributes, with "made by" Unix.
bool setZipUnixTypes(std::string &zip, const FixtureEntries &entries)
{
    constexpr std::size_t eocdSize = 22;
    if (zip.size() < eocdSize)
        return false;
    const std::size_t eocd = zip.size() - eocdSize;
    if (getU32(zip, eocd) != 0x06054b50 || getU16(zip, eocd + 10) != entries.size())
        return false;
    std::size_t at = getU32(zip, eocd + 16);
    for (const FixtureEntry &e : entries) {
        if (at + 46 > zip.size() || getU32(zip, at) != 0x02014b50)
            return false;
        if (e.unixType != 0) {
            zip[at + 5] = 3; // made by Unix
            const uint32_t mode = (e.unixType & 0170000) | (e.mode & 07777);
            setU32(zip, at + 38, (mode << 16) | (getU32(zip, at + 38) & 0xFFFF));
        }
        at += 46 + getU16(zip, at + 28) + getU16(zip, at + 30) + getU16(zip, at + 32);
    }
    return true;
}

// gcab takes names from its command line, which cannot carry bytes that are
// not UTF-8 through QProcess. So the files go in under neutral names and the
// cabinet's file table is rebuilt afterwards with the entries' names,
// attributes and times; the data blocks move but are not touched.
bool renameCabFiles(std::string &cab, const std::vector<const FixtureEntry *> &files,
                    std::string *error)
{
    constexpr std::size_t headerSize = 36;
    constexpr std::size_t folderSize = 8;
    constexpr std::size_t fileFieldsSize = 16;
    if (cab.size() < headerSize || cab.compare(0, 4, "MSCF") != 0)
        return fail(error, "gcab wrote no cabinet");
    const uint16_t folderCount = getU16(cab, 26);
    const uint16_t fileCount = getU16(cab, 28);
    if (getU16(cab, 30) != 0)
        return fail(error, "unexpected cabinet header flags from gcab");
    if (fileCount != files.size())
        return fail(error, "gcab stored an unexpected number of files");

    const std::size_t tableStart = getU32(cab, 16);
    std::vector<std::size_t> records;
    std::size_t tableEnd = tableStart;
    for (uint16_t i = 0; i < fileCount; ++i) {
        if (tableEnd + fileFieldsSize > cab.size() || getU32(cab, tableEnd) != files[i]->data.size())
            return fail(error, "gcab's file table does not match the entries");
        records.push_back(tableEnd);
        const auto nul = cab.find('\0', tableEnd + fileFieldsSize);
        if (nul == std::string::npos)
            return fail(error, "gcab's file table is cut short");
        tableEnd = nul + 1;
    }

    std::string table;
    for (uint16_t i = 0; i < fileCount; ++i) {
        const FixtureEntry &e = *files[i];
        std::string name = e.name;
        for (char &c : name) {
            if (c == '/')
                c = '\\';
        }
        uint16_t attributes = 0x20; // archive
        if ((e.mode & 0200) == 0)
            attributes |= 0x01; // read-only
        if (!isAscii(name) && isUtf8(name))
            attributes |= 0x80; // the name is UTF-8
        const uint32_t dos = dosDateTime(e.mtime);
        // Size, offset in the folder and folder index stay as gcab wrote them.
        std::string record = cab.substr(records[i], fileFieldsSize);
        setU16(record, 10, dos >> 16);
        setU16(record, 12, dos & 0xFFFF);
        setU16(record, 14, attributes);
        table += record + name;
        table.push_back('\0');
    }

    const auto delta = int64_t(table.size()) - int64_t(tableEnd - tableStart);
    for (uint16_t i = 0; i < folderCount; ++i) {
        const std::size_t at = headerSize + i * folderSize;
        const uint32_t dataStart = getU32(cab, at);
        if (dataStart < tableEnd)
            return fail(error, "gcab put data before the file table");
        setU32(cab, at, uint32_t(dataStart + delta));
    }
    setU32(cab, 8, uint32_t(getU32(cab, 8) + delta));
    cab.replace(tableStart, tableEnd - tableStart, table);
    return true;
}

} // namespace

std::string makeZip(const FixtureEntries &entries, const ZipOptions &options, std::string *error)
{
    const bool raw = options.names == ZipOptions::Names::Raw;
    if (!raw && !namesAreUtf8(entries, error))
        return {};
    std::string zip = writeWithLibarchive(
        entries, raw ? "C" : "C.UTF-8",
        [&](archive *a) {
            int r = archive_write_set_format_zip(a);
            if (r == ARCHIVE_OK)
                r = archive_write_set_format_option(a, "zip", "compression",
                                                    options.deflate ? "deflate" : "store");
            if (r == ARCHIVE_OK && !options.password.empty()) {
                r = archive_write_set_format_option(a, "zip", "encryption", "zipcrypt");
                if (r == ARCHIVE_OK)
                    r = archive_write_set_passphrase(a, options.password.c_str());
            }
            return r;
        },
        error);
    if (zip.empty())
        return zip;
    const bool typed = std::any_of(entries.begin(), entries.end(),
                                   [](const FixtureEntry &e) { return e.unixType != 0; });
    if (typed && !setZipUnixTypes(zip, entries)) {
        fail(error, "cannot find the central records to give their Unix types");
        return {};
    }
    if (options.corruptFirstData && !corruptFirstZipData(zip)) {
        fail(error, "no file holds data to corrupt");
        return {};
    }
    if (options.truncateTo && *options.truncateTo < zip.size())
        zip.resize(*options.truncateTo);
    return zip;
}

bool writeZip(const QString &path, const FixtureEntries &entries, const ZipOptions &options,
              std::string *error)
{
    return writeArchiveBytes(path, makeZip(entries, options, error), error);
}

namespace {

// Gives the first coder of the archive's plain (not encoded) header another
// id of the same length and mends the header's CRCs.
std::string relabel7zCoder(std::string bytes, const std::string &from, const std::string &to,
                           std::string *error)
{
    if (bytes.size() < 32) {
        fail(error, "no 7z archive to relabel");
        return {};
    }
    uint64_t next = 0, nextSize = 0;
    for (int i = 7; i >= 0; --i) {
        next = next << 8 | uint8_t(bytes[12 + std::size_t(i)]);
        nextSize = nextSize << 8 | uint8_t(bytes[20 + std::size_t(i)]);
    }
    const std::size_t at = bytes.find(from, std::size_t(32 + next));
    if (32 + next + nextSize != bytes.size() || at == std::string::npos) {
        fail(error, "the 7z header holds no such coder");
        return {};
    }
    bytes.replace(at, from.size(), to);
    const auto putCrc = [&bytes](std::size_t offset, uint32_t crc) {
        for (int i = 0; i < 4; ++i)
            bytes[offset + std::size_t(i)] = char(crc >> (8 * i));
    };
    putCrc(28, fixtureCrc32(bytes.substr(std::size_t(32 + next))));
    putCrc(8, fixtureCrc32(bytes.substr(12, 20)));
    return bytes;
}

} // namespace

std::string make7z(const FixtureEntries &entries, const SevenZipOptions &options, std::string *error)
{
    using Method = SevenZipOptions::Method;
    const char *method = options.method == Method::Store || options.method == Method::Arm64Filter
        ? "store"
        : options.method == Method::Deflate || options.method == Method::Deflate64 ? "deflate"
                                                                                 : "lzma2";
    if (!namesAreUtf8(entries, error))
        return {};
    const std::string bytes = writeWithLibarchive(
        entries, "C.UTF-8",
        [&](archive *a) {
            int r = archive_write_set_format_7zip(a);
            if (r == ARCHIVE_OK)
                r = archive_write_set_format_option(a, "7zip", "compression", method);
            return r;
        },
        error);
    // One folder of one coder: kFolder, 1 folder, not external, 1 coder,
    // then the coder's id size and id.
    const std::string folder("\x0b\x01\x00\x01", 4);
    if (options.method == Method::Arm64Filter)
        return relabel7zCoder(bytes, folder + std::string("\x01\x00", 2), folder + "\x01\x0a", error);
    if (options.method == Method::Deflate64)
        return relabel7zCoder(bytes, folder + "\x03\x04\x01\x08", folder + "\x03\x04\x01\x09", error);
    return bytes;
}

bool write7z(const QString &path, const FixtureEntries &entries, const SevenZipOptions &options,
             std::string *error)
{
    return writeArchiveBytes(path, make7z(entries, options, error), error);
}

bool gcabAvailable()
{
    return !QStandardPaths::findExecutable(QStringLiteral("gcab")).isEmpty();
}

std::string makeCab(const FixtureEntries &entries, const CabOptions &options, std::string *error)
{
    const QString gcab = QStandardPaths::findExecutable(QStringLiteral("gcab"));
    if (gcab.isEmpty()) {
        fail(error, "gcab is not installed");
        return {};
    }
    QTemporaryDir work;
    if (!work.isValid()) {
        fail(error, "cannot make a temporary folder");
        return {};
    }

    std::vector<const FixtureEntry *> files;
    QStringList arguments{QStringLiteral("-c")};
    if (options.mszip)
        arguments << QStringLiteral("-z");
    arguments << QStringLiteral("out.cab");
    for (const FixtureEntry &e : entries) {
        if (e.kind == FixtureEntry::Symlink) {
            fail(error, "a cabinet cannot hold a symbolic link: " + e.name);
            return {};
        }
        if (e.kind != FixtureEntry::File)
            continue;
        const QString stand = QStringLiteral("f%1").arg(files.size());
        if (!writeFixtureFile(work.filePath(stand), e.data)) {
            fail(error, "cannot write a file for gcab");
            return {};
        }
        arguments << stand;
        files.push_back(&e);
    }
    if (files.empty()) {
        fail(error, "a cabinet needs at least one file");
        return {};
    }

    QProcess process;
    process.setWorkingDirectory(work.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(gcab, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        fail(error, "gcab failed: " + process.readAll().toStdString());
        return {};
    }
    QFile out(work.filePath(QStringLiteral("out.cab")));
    if (!out.open(QIODevice::ReadOnly)) {
        fail(error, "gcab wrote no cabinet");
        return {};
    }
    std::string cab = out.readAll().toStdString();
    if (!renameCabFiles(cab, files, error))
        return {};
    return cab;
}

bool writeCab(const QString &path, const FixtureEntries &entries, const CabOptions &options,
              std::string *error)
{
    return writeArchiveBytes(path, makeCab(entries, options, error), error);
}

} // namespace tenvo::fixture

namespace tenvo::fixture {

std::string makeTar(const FixtureEntries &entries, const TarOptions &options, std::string *error)
{
    return writeWithLibarchive(
        entries, "C.UTF-8",
        [&](archive *a) {
            int r = options.single ? archive_write_set_format_raw(a)
                                   : archive_write_set_format_pax_restricted(a);
            if (r == ARCHIVE_OK && !options.compressor.empty())
                r = archive_write_add_filter_by_name(a, options.compressor.c_str());
            return r;
        },
        error,
        [&](archive_entry *entry, std::size_t index) {
            const FixtureEntry &e = entries[index];
            if (std::find(options.hardLinkEntries.begin(), options.hardLinkEntries.end(), index)
                != options.hardLinkEntries.end()) {
                archive_entry_set_filetype(entry, AE_IFREG);
                archive_entry_set_symlink(entry, nullptr);
                archive_entry_copy_hardlink(entry, e.linkTarget.c_str());
                archive_entry_set_size(entry, 0);
            } else if (e.unixType != 0) {
                archive_entry_set_filetype(entry, e.unixType);
                archive_entry_set_size(entry, 0);
                archive_entry_set_rdevmajor(entry, 1);
                archive_entry_set_rdevminor(entry, 3);
            }
        });
}

bool writeTar(const QString &path, const FixtureEntries &entries, const TarOptions &options,
              std::string *error)
{
    return writeArchiveBytes(path, makeTar(entries, options, error), error);
}

} // namespace tenvo::fixture

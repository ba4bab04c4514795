// Test fixtures: the entry description every archive writer takes, and ZIP, 7z, tar and CAB makers.
#pragma once

#include <QString>

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tenvo::fixture {

// One archive entry as a fixture writer stores it.
struct FixtureEntry
{
    enum Kind { File, Directory, Symlink };

    // 2021-06-15 12:00:00 UTC: an even second, as MS-DOS times can hold only those.
    static constexpr int64_t defaultMtime = 1623758400;

    // The stored path as raw bytes, components separated by '/'; each writer
    // turns '/' into its format's separator. A directory's trailing '/' is optional.
    std::string name;
    // A file's contents, byte for byte.
    std::string data;
    Kind kind = File;
    // A symbolic link's target, raw bytes.
    std::string linkTarget;
    // Permission bits only; the writers add the file-type bits.
    uint32_t mode = 0644;
    // Seconds since 1970 UTC.
    int64_t mtime = defaultMtime;
    // Unix file-type bits (S_IFIFO, S_IFCHR, ...) stored in place of the
    // kind's by the writers that keep a Unix mode (LZH os 'U', RAR 5 Unix
    // host, ZIP); 0 keeps the kind's. The entry is written as its kind otherwise.
    uint32_t unixType = 0;

    static FixtureEntry file(std::string name, std::string data, uint32_t mode = 0644);
    static FixtureEntry directory(std::string name, uint32_t mode = 0755);
    static FixtureEntry symlink(std::string name, std::string target);
};

using FixtureEntries = std::vector<FixtureEntry>;

// Writes bytes to path, replacing any file there. False when the file cannot be written.
bool writeFixtureFile(const QString &path, const std::string &bytes);

// Writes an archive a maker returned: false for an empty (failed) archive,
// or with "cannot write <path>" in *error when the file cannot be written.
bool writeArchiveBytes(const QString &path, const std::string &bytes, std::string *error);

// The CRC-32 (ZIP, RAR) of the bytes.
uint32_t fixtureCrc32(const std::string &bytes);

// The MS-DOS date (high 16 bits) and time (low 16 bits) of a moment in local
// time, as LZH and CAB headers hold it. Odd seconds round down; years before
// 1980 become 1980.
uint32_t dosDateTime(int64_t mtime);

// Switches the calling thread to a C library locale ("C", "C.UTF-8") while it
// lives. libarchive picks its name conversions from the thread's locale, so a
// fixture is written and read the same whatever locale the test runs in.
class ScopedLocale
{
public:
    explicit ScopedLocale(const char *name);
    ~ScopedLocale();
    ScopedLocale(const ScopedLocale &) = delete;
    ScopedLocale &operator=(const ScopedLocale &) = delete;

    // False when the locale does not exist here; the thread's locale is then unchanged.
    bool isValid() const { return m_locale != nullptr; }

private:
    locale_t m_locale = nullptr;
    locale_t m_previous = nullptr;
};

struct ZipOptions
{
    // Raw: names stored as given with general-purpose flag bit 11 clear, as
    // Japanese Windows tools store CP932 names. Utf8: bit 11 set on every
    // name that is not plain ASCII; a name that is not UTF-8 fails the call.
    enum class Names { Raw, Utf8 };
    Names names = Names::Utf8;
    bool deflate = false;
    // Not empty: entries are encrypted with the traditional PKWARE cipher.
    std::string password;
    // Flips one byte of the first non-empty file's stored data, so its CRC fails.
    bool corruptFirstData = false;
    // Keeps only this many leading bytes (at least 1).
    std::optional<std::size_t> truncateTo;
};

// A ZIP archive written by libarchive, every name stored verbatim ("../x",
// "/abs/x" included). Empty on failure, with the reason in *error when given.
std::string makeZip(const FixtureEntries &entries, const ZipOptions &options = {},
                    std::string *error = nullptr);
bool writeZip(const QString &path, const FixtureEntries &entries, const ZipOptions &options = {},
              std::string *error = nullptr);

struct SevenZipOptions
{
    // Arm64Filter: stored data labelled as the ARM64 filter (which leaves
    // these bytes as they are); Deflate64: Deflate data labelled Deflate64.
    // Methods 7-Zip knows and no decoder here reads.
    enum class Method { Store, Deflate, Lzma2, Arm64Filter, Deflate64 };
    Method method = Method::Lzma2;
};

// A 7z archive written by libarchive. 7z keeps names in UTF-16, so a name
// that is not UTF-8 fails the call. libarchive stores the entries with data
// first, then the empty files, then the directories, each group in the given
// order. Empty on failure, with the reason in *error when given.
std::string make7z(const FixtureEntries &entries, const SevenZipOptions &options = {},
                   std::string *error = nullptr);
bool write7z(const QString &path, const FixtureEntries &entries, const SevenZipOptions &options = {},
             std::string *error = nullptr);

struct TarOptions
{
    // "" none, or "gzip", "bzip2", "xz", "zstd".
    std::string compressor;
    // The one file of the entries compressed alone, as gzip x makes x.gz.
    bool single = false;
    // Indexes of symbolic-link entries stored as hard links to their target.
    std::vector<std::size_t> hardLinkEntries;
};

// A tar archive (pax restricted) written by libarchive; an entry's unixType
// (a device, a FIFO) is stored as its type. Empty on failure, with the reason
// in *error when given.
std::string makeTar(const FixtureEntries &entries, const TarOptions &options = {},
                    std::string *error = nullptr);
bool writeTar(const QString &path, const FixtureEntries &entries, const TarOptions &options = {},
              std::string *error = nullptr);

struct CabOptions
{
    bool mszip = false;
};

// True when the gcab program that makeCab runs is installed.
bool gcabAvailable();

// A cabinet made by gcab in a temporary folder (MSZIP or uncompressed, one
// folder), entries in the given order. Paths are stored with '\'
// between components; a name that is valid UTF-8 and not ASCII gets the
// UTF-8 attribute, any other non-ASCII name is stored raw without it (CP932 as
// Windows stores it). Directory entries are implied by their files and not
// stored; symbolic links cannot be stored and make the call fail. Empty on
// failure, with the reason in *error when given.
std::string makeCab(const FixtureEntries &entries, const CabOptions &options = {},
                    std::string *error = nullptr);
bool writeCab(const QString &path, const FixtureEntries &entries, const CabOptions &options = {},
              std::string *error = nullptr);

} // namespace tenvo::fixture

// Hostile archives through the real archiver libraries: whatever an archive
// holds, nothing lands outside the destination, every call returns with the
// cause that fits, no half-written file or temporary stays behind, and the
// message never carries a raw control character. Then the destination's
// disk filling up in the middle of an archive.
#include "archivemaker.h"
#include "archivercalls.h"
#include "deflate64zip.h"
#include "handmadezip.h"
#include "lzhwriter.h"
#include "rar4writer.h"
#include "rar5writer.h"
#include "result.h"

#include <QtTest>

#include <algorithm>
#include <csignal>
#include <dirent.h>
#include <functional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace tenvo::fixture;
using namespace tenvo::test;

namespace {

// A link the row needs made before it runs.
void setUp(int result)
{
    if (result != 0)
        qFatal("cannot make a link the test needs: %s", std::strerror(errno));
}



constexpr uint64_t kMiB = uint64_t(1) << 20;
// No file a row writes legitimately comes near this; a runaway one stops here
// (EFBIG, the signal is ignored) instead of filling the disk.
constexpr uint64_t kRunawayFileSize = 256 * kMiB;

// A row's folders, under its own temporary folder.
struct Places
{
    std::string work;      // the row's folder
    std::string dest;      // the destination
    std::string outside;   // a sibling holding victim.txt, which nothing may touch
    std::string elsewhere; // an empty sibling that links try to lead into
};

// One command call of a library on one archive.
struct Step
{
    QByteArray library;
    std::string archive; // the archive's bytes
    std::string error;   // why the fixture writer gave no bytes
    int expected = TENVO_OK;
    QByteArray fileName = "archive.bin";
    bool flatten = false;
    bool asFolder = false;   // the "archive" is a folder of that name
    bool allowEmpty = false; // a 0-byte archive is meant
};
using Steps = QList<Step>;
// Builds a row's archives once its folders exist (some entries name them).
using Maker = std::function<Steps(const Places &)>;

} // namespace

Q_DECLARE_METATYPE(Maker)

namespace {

QByteArray switchFor(const QByteArray &library, bool flatten)
{
    const bool bare = library == "unlha32" || library == "7-zip32" || library == "tar32";
    if (flatten)
        return bare ? "e " : "-x -j ";
    return bare ? "x " : "-x ";
}

Step step(const QByteArray &library, std::string bytes, int expected, std::string error = {})
{
    Step s;
    s.library = library;
    s.archive = std::move(bytes);
    s.error = std::move(error);
    s.expected = expected;
    return s;
}

Step zipStep(const FixtureEntries &entries, int expected, const ZipOptions &options = {},
             const QByteArray &library = "unzip32")
{
    std::string error;
    std::string bytes = makeZip(entries, options, &error);
    return step(library, std::move(bytes), expected, error);
}

ZipOptions rawNames()
{
    ZipOptions options;
    options.names = ZipOptions::Names::Raw;
    return options;
}

LzhOptions unixLzh(int level = 2)
{
    LzhOptions options;
    options.level = level;
    options.os = 'U';
    return options;
}

// An archive as an older tool packed it, which goes to the other LZH decoder.
LzhOptions olderLzh(const char *method, int level = 2)
{
    LzhOptions options = unixLzh(level);
    options.method = method;
    return options;
}

Step lzhStep(const FixtureEntries &entries, int expected, const LzhOptions &options = unixLzh())
{
    std::string error;
    std::string bytes = makeLzh(entries, options, &error);
    return step("unlha32", std::move(bytes), expected, error);
}

Step rar5Step(const FixtureEntries &entries, int expected, const Rar5Options &options = {})
{
    std::string error;
    std::string bytes = makeRar5(entries, options, &error);
    return step("unrar32", std::move(bytes), expected, error);
}

Rar4Options unixRar4()
{
    Rar4Options options;
    options.host = Rar4Options::Host::Unix;
    return options;
}

Step rar4Step(const FixtureEntries &entries, int expected, const Rar4Options &options = unixRar4())
{
    std::string error;
    std::string bytes = makeRar4(entries, options, &error);
    return step("unrar32", std::move(bytes), expected, error);
}

Step sevenZipStep(const FixtureEntries &entries, int expected)
{
    std::string error;
    std::string bytes = make7z(entries, {}, &error);
    return step("7-zip32", std::move(bytes), expected, error);
}

Step tarStep(const FixtureEntries &entries, int expected, const TarOptions &options = {})
{
    std::string error;
    std::string bytes = makeTar(entries, options, &error);
    return step("tar32", std::move(bytes), expected, error);
}

TarOptions compressedTar(const char *compressor, std::vector<std::size_t> hardLinks = {})
{
    TarOptions options;
    options.compressor = compressor;
    options.hardLinkEntries = std::move(hardLinks);
    return options;
}

Step cabStep(const FixtureEntries &entries, int expected)
{
    std::string error;
    std::string bytes = makeCab(entries, {}, &error);
    return step("cab32", std::move(bytes), expected, error);
}

Step cut(Step s, std::size_t keep)
{
    if (s.archive.size() > keep)
        s.archive.resize(keep);
    return s;
}

Step flattened(Step s)
{
    s.flatten = true;
    return s;
}

Maker fixed(Steps steps)
{
    return [steps](const Places &) { return steps; };
}

Maker fixed(Step s)
{
    return fixed(Steps{s});
}

FixtureEntry file(const std::string &name, const std::string &data, uint32_t mode = 0644)
{
    return FixtureEntry::file(name, data, mode);
}

FixtureEntry special(const std::string &name, uint32_t unixType)
{
    FixtureEntry e = FixtureEntry::file(name, {});
    e.unixType = unixType;
    return e;
}

const FixtureEntry ok = FixtureEntry::file("ok.txt", "ok");
const QString okLanded = QStringLiteral("ok.txt = ok");

uint64_t freeBytes(const std::string &folder)
{
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) != 0)
        return 0;
    return uint64_t(fs.f_bavail) * fs.f_frsize;
}

// Everything under root, never following a link: "d/", "l -> target",
// "f = contents" (or "f = N bytes" past 64 bytes), "p (fifo)", "n (device)".
void listInto(const QByteArray &root, const QByteArray &prefix, QStringList &out)
{
    DIR *dir = ::opendir((root + '/' + prefix).constData());
    if (!dir)
        return;
    QList<QByteArray> names;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name = entry->d_name;
        if (name != "." && name != "..")
            names << name;
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const QByteArray &name : names) {
        const QByteArray path = prefix + name;
        const QByteArray full = root + '/' + path;
        const QString shown = QString::fromUtf8(path);
        struct stat st {};
        if (::lstat(full.constData(), &st) != 0) {
            out << shown + QStringLiteral(" (vanished)");
        } else if (S_ISDIR(st.st_mode)) {
            out << shown + '/';
            listInto(root, path + '/', out);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlink(full.constData(), target, sizeof target);
            out << shown + QStringLiteral(" -> ") + QString::fromUtf8(target, int(std::max<ssize_t>(n, 0)));
        } else if (S_ISREG(st.st_mode)) {
            if (st.st_size > 64) {
                out << shown + QStringLiteral(" = %1 bytes").arg(qint64(st.st_size));
            } else {
                QFile f(QFile::decodeName(full));
                f.open(QIODevice::ReadOnly);
                out << shown + QStringLiteral(" = ") + QString::fromUtf8(f.readAll());
            }
        } else if (S_ISFIFO(st.st_mode)) {
            out << shown + QStringLiteral(" (fifo)");
        } else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
            out << shown + QStringLiteral(" (device)");
        } else {
            out << shown + QStringLiteral(" (other)");
        }
    }
}

QStringList listTree(const std::string &root)
{
    QStringList out;
    listInto(QByteArray::fromStdString(root), {}, out);
    return out;
}

// Files and folders under root that carry set-user-ID, set-group-ID or
// sticky bits, or are hard-linked more than once.
QStringList oddModes(const QByteArray &root, const QByteArray &prefix = {})
{
    QStringList out;
    DIR *dir = ::opendir((root + '/' + prefix).constData());
    if (!dir)
        return out;
    QList<QByteArray> names;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name = entry->d_name;
        if (name != "." && name != "..")
            names << name;
    }
    ::closedir(dir);
    for (const QByteArray &name : names) {
        const QByteArray path = prefix + name;
        struct stat st {};
        if (::lstat((root + '/' + path).constData(), &st) != 0)
            continue;
        if (st.st_mode & (S_ISUID | S_ISGID | S_ISVTX))
            out << QString::fromUtf8(path) + QStringLiteral(" mode %1").arg(st.st_mode & 07777, 0, 8);
        if (S_ISREG(st.st_mode) && st.st_nlink != 1)
            out << QString::fromUtf8(path) + QStringLiteral(" has %1 links").arg(st.st_nlink);
        if (S_ISDIR(st.st_mode))
            out << oddModes(root, path + '/');
    }
    return out;
}

QStringList temporaries(const QStringList &tree)
{
    QStringList found;
    for (const QString &line : tree) {
        if (line.section('/', -1).startsWith(QStringLiteral(".tenvo-"))
            || line.contains(QStringLiteral("/.tenvo-")))
            found << line;
    }
    return found;
}

// What is wrong with a message from the output buffer: empty, not UTF-8, or
// holding a raw control character (C0, DEL, C1). Empty when nothing is.
QString messageFault(const QByteArray &message)
{
    if (message.isEmpty())
        return QStringLiteral("no message");
    if (QString::fromUtf8(message).toUtf8() != message)
        return QStringLiteral("not UTF-8");
    // Only the lines listing shortened names follow the message, each ended
    // by a line break, fields apart by tabs.
    const bool listed = message.contains('\n');
    if (listed && !message.endsWith('\n'))
        return QStringLiteral("a listed line without its line break");
    for (const QByteArray &line : message.split('\n').mid(1)) {
        if (!line.isEmpty() && !line.startsWith("shortened\t"))
            return QStringLiteral("a line after the message that lists no shortened name");
    }
    for (qsizetype i = 0; i < message.size(); ++i) {
        const auto c = uchar(message[i]);
        if (listed && (c == '\n' || (c == '\t' && i > message.indexOf('\n'))))
            continue;
        if (c < 0x20 || c == 0x7F)
            return QStringLiteral("raw control byte 0x%1 at %2").arg(c, 2, 16, QLatin1Char('0')).arg(i);
        if (c == 0xC2 && i + 1 < message.size() && uchar(message[i + 1]) >= 0x80
            && uchar(message[i + 1]) <= 0x9F)
            return QStringLiteral("raw C1 control at %1").arg(i);
    }
    return {};
}

// Lowers the file size limit of this process, and so of the decoder
// processes it starts, while it lives.
class FileSizeLimit
{
public:
    FileSizeLimit(uint64_t bytes, bool ignoreSignal)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        const rlimit lowered{rlim_t(bytes), m_previous.rlim_max};
        m_valid = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
        m_signal = std::signal(SIGXFSZ, ignoreSignal ? SIG_IGN : SIG_DFL);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_signal);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    bool isValid() const { return m_valid; }

private:
    rlimit m_previous{};
    void (*m_signal)(int) = SIG_DFL;
    bool m_valid = false;
};

// A tmpfs mounted on a folder while it lives.
class Tmpfs
{
public:
    Tmpfs(const std::string &folder, const char *options)
        : m_folder(folder)
    {
        m_mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options) == 0;
        m_error = errno;
    }
    ~Tmpfs()
    {
        if (m_mounted)
            ::umount2(m_folder.c_str(), MNT_DETACH);
    }
    Tmpfs(const Tmpfs &) = delete;
    Tmpfs &operator=(const Tmpfs &) = delete;
    bool isMounted() const { return m_mounted; }
    int error() const { return m_error; }

private:
    std::string m_folder;
    bool m_mounted = false;
    int m_error = 0;
};

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void extract_data();
    void extract();
    void fileSizeLimitInTheMiddle();
    void fullDisk_data();
    void fullDisk();

private:
    int run(const QByteArray &library, const QByteArray &switchText, const QByteArray &archive,
            const std::string &destination, QByteArray &message);
    bool makePlaces(const QTemporaryDir &work, Places &places);
    QString writeArchives(const Steps &steps, const Places &places, QList<QByteArray> &paths);

    QHash<QByteArray, ArchiverCalls> m_libraries;
};

void TestHostile::initTestCase()
{
    // The libraries end a decoder that makes no progress after this many
    // seconds; CTest sets it low, and so does a run by hand.
    if (qEnvironmentVariableIntValue("TENVO_STALL_SECONDS") <= 0)
        qputenv("TENVO_STALL_SECONDS", "5");
    ::umask(022);
    QString error;
    m_libraries = loadArchivers(TENVO_BIN_DIR, error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

int TestHostile::run(const QByteArray &library, const QByteArray &switchText,
                     const QByteArray &archive, const std::string &destination, QByteArray &message)
{
    char output[2048];
    std::memset(output, 'X', sizeof output);
    const int result = m_libraries.value(library).command(
        nullptr, commandLine(switchText, archive, QByteArray::fromStdString(destination)).constData(),
        output, sizeof output);
    // An output buffer left without its NUL reads as no message at all.
    const std::size_t length = qstrnlen(output, sizeof output);
    message = length < sizeof output ? QByteArray(output, qsizetype(length)) : QByteArray();
    return result;
}

bool TestHostile::makePlaces(const QTemporaryDir &work, Places &places)
{
    places.work = QFile::encodeName(work.path()).toStdString();
    places.dest = places.work + "/dest";
    places.outside = places.work + "/outside";
    places.elsewhere = places.work + "/elsewhere";
    QDir root(work.path());
    return root.mkdir(QStringLiteral("dest")) && root.mkdir(QStringLiteral("outside"))
        && root.mkdir(QStringLiteral("outside/empty")) && root.mkdir(QStringLiteral("elsewhere"))
        && root.mkdir(QStringLiteral("archives"))
        && writeFixtureFile(work.filePath(QStringLiteral("outside/victim.txt")), "untouched");
}

// Writes each step's archive under archives/<n>/; returns what went wrong.
QString TestHostile::writeArchives(const Steps &steps, const Places &places,
                                   QList<QByteArray> &paths)
{
    for (int i = 0; i < steps.size(); ++i) {
        const Step &s = steps[i];
        if (!s.error.empty())
            return QStringLiteral("fixture of step %1: %2").arg(i).arg(QString::fromStdString(s.error));
        if (s.archive.empty() && !s.allowEmpty && !s.asFolder)
            return QStringLiteral("fixture of step %1 is empty").arg(i);
        const QByteArray folder = QByteArray::fromStdString(places.work) + "/archives/" + QByteArray::number(i);
        const QByteArray path = folder + '/' + s.fileName;
        if (::mkdir(folder.constData(), 0755) != 0)
            return QStringLiteral("cannot make %1").arg(QString::fromUtf8(folder));
        const bool made = s.asFolder ? ::mkdir(path.constData(), 0755) == 0
                                     : writeFixtureFile(QFile::decodeName(path), s.archive);
        if (!made)
            return QStringLiteral("cannot write step %1's archive").arg(i);
        paths << path;
    }
    return {};
}

void TestHostile::extract_data()
{
    QTest::addColumn<Maker>("maker");
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QByteArray>("messagePart");

    const QStringList nothing;
    const QStringList justOk{okLanded};

    // Names that climb out of the destination.
    const FixtureEntry climb = file("../evil.txt", "evil");
    QTest::newRow("ZIP entry with ../ in its path is refused, its sibling lands")
        << fixed(zipStep({climb, ok}, TENVO_ERR_UNSAFE)) << justOk << QByteArray("..");
    QTest::newRow("LZH entry with ../ in its path is refused, its sibling lands")
        << fixed(lzhStep({climb, ok}, TENVO_ERR_UNSAFE)) << justOk << QByteArray();
    QTest::newRow("LZH level 0 entry with ..\\ in its name is refused")
        << fixed(lzhStep({climb, ok}, TENVO_ERR_UNSAFE, unixLzh(0))) << justOk << QByteArray();
    QTest::newRow("LZH -lzs- entry with ..\\ in its name is refused, its sibling lands")
        << fixed(lzhStep({climb, ok}, TENVO_ERR_UNSAFE, olderLzh("-lzs-", 0))) << justOk << QByteArray();
    QTest::newRow("RAR 5 entry with ../ in its path is refused, its sibling lands")
        << fixed(rar5Step({climb, ok}, TENVO_ERR_UNSAFE)) << justOk << QByteArray();
    QTest::newRow("RAR 4 entry with ..\\ in its path is refused, its sibling lands")
        << fixed(rar4Step({climb, ok}, TENVO_ERR_UNSAFE, {})) << justOk << QByteArray();
    QTest::newRow("7z entry with ../ in its path is refused, its sibling lands")
        << fixed(sevenZipStep({climb, ok}, TENVO_ERR_UNSAFE)) << justOk << QByteArray();
    QTest::newRow("CAB entry with ..\\ in its path is refused, its sibling lands")
        << fixed(cabStep({climb, ok}, TENVO_ERR_UNSAFE)) << justOk << QByteArray();
    QTest::newRow("ZIP entry with ../ is refused when flattening too")
        << fixed(flattened(zipStep({climb, ok}, TENVO_ERR_UNSAFE))) << justOk << QByteArray();

    auto absolute = [](const Places &p) { return file(p.outside + "/evil.txt", "evil"); };
    QTest::newRow("ZIP entry with an absolute path into a sibling folder is refused")
        << Maker([=](const Places &p) { return Steps{zipStep({absolute(p), ok}, TENVO_ERR_UNSAFE)}; })
        << justOk << QByteArray("absolute path");
    QTest::newRow("LZH entry with an absolute path into a sibling folder is refused")
        << Maker([=](const Places &p) { return Steps{lzhStep({absolute(p), ok}, TENVO_ERR_UNSAFE)}; })
        << justOk << QByteArray();
    QTest::newRow("RAR 5 entry with an absolute path into a sibling folder is refused")
        << Maker([=](const Places &p) { return Steps{rar5Step({absolute(p), ok}, TENVO_ERR_UNSAFE)}; })
        << justOk << QByteArray();
    QTest::newRow("ZIP entry a/./b/../c.txt lands as a/c.txt or is refused")
        << fixed(zipStep({file("a/./b/../c.txt", "c"), ok}, TENVO_ERR_UNSAFE)) << justOk << QByteArray();
    QTest::newRow("ZIP entry ..\\x written with backslashes is refused")
        << fixed(zipStep({file("..\\evil.txt", "evil"), ok}, TENVO_ERR_UNSAFE, rawNames()))
        << justOk << QByteArray();
    QTest::newRow("ZIP entry C:\\x written with backslashes is refused")
        << fixed(zipStep({file("C:\\evil.txt", "evil"), ok}, TENVO_ERR_UNSAFE, rawNames()))
        << justOk << QByteArray("drive");
    QTest::newRow("ZIP entries naming no file are refused")
        << fixed(zipStep({file("./.", "x"), file(".//./", "x"), ok}, TENVO_ERR_UNSAFE, rawNames())) << justOk
        << QByteArray();
    QTest::newRow("ZIP entry C:x with a drive but no separator is refused")
        << fixed(zipStep({file("C:evil.txt", "evil"), ok}, TENVO_ERR_UNSAFE, rawNames()))
        << justOk << QByteArray();

    // Links that lead out, and files written through them.
    const FixtureEntries throughLink{FixtureEntry::symlink("link", "../outside"),
                                     file("link/evil.txt", "evil")};
    const QStringList linkAsFolder{QStringLiteral("link/"), QStringLiteral("link/evil.txt = evil")};
    QTest::newRow("ZIP symlink leading outside, then a file written through it")
        << fixed(zipStep(throughLink, TENVO_ERR_UNSAFE)) << linkAsFolder << QByteArray("link");
    QTest::newRow("LZH symlink leading outside, then a file written through it")
        << fixed(lzhStep(throughLink, TENVO_ERR_UNSAFE)) << linkAsFolder << QByteArray();
    QTest::newRow("LZH level 1 symlink leading outside, then a file written through it")
        << fixed(lzhStep(throughLink, TENVO_ERR_UNSAFE, unixLzh(1))) << linkAsFolder << QByteArray();
    QTest::newRow("LZH -lh1- symlink leading outside, then a file written through it")
        << fixed(lzhStep(throughLink, TENVO_ERR_UNSAFE, olderLzh("-lh1-"))) << linkAsFolder << QByteArray();
    QTest::newRow("RAR 5 symlink leading outside, then a file written through it")
        << fixed(rar5Step(throughLink, TENVO_ERR_UNSAFE)) << linkAsFolder << QByteArray();
    QTest::newRow("RAR 4 symlink leading outside, then a file written through it")
        << fixed(rar4Step(throughLink, TENVO_ERR_UNSAFE)) << linkAsFolder << QByteArray();
    QTest::newRow("7z symlink leading outside, then a file written through it")
        << fixed(sevenZipStep(throughLink, TENVO_ERR_UNSAFE)) << linkAsFolder << QByteArray();
    QTest::newRow("ZIP symlink leading outside, flattened")
        << fixed(flattened(zipStep(throughLink, TENVO_ERR_UNSAFE)))
        << QStringList{QStringLiteral("evil.txt = evil")} << QByteArray();
    QTest::newRow("LZH symlink to an absolute folder, then a file written through it")
        << Maker([=](const Places &p) {
               return Steps{lzhStep({FixtureEntry::symlink("link", p.outside), file("link/evil.txt", "evil")},
                                    TENVO_ERR_UNSAFE)};
           })
        << linkAsFolder << QByteArray();
    QTest::newRow("ZIP symlink climbing out from a subfolder, then a file through it")
        << fixed(zipStep({FixtureEntry::symlink("a/b/link", "../../../outside"),
                          file("a/b/link/evil.txt", "evil")},
                         TENVO_ERR_UNSAFE))
        << QStringList{QStringLiteral("a/"), QStringLiteral("a/b/"), QStringLiteral("a/b/link/"),
                       QStringLiteral("a/b/link/evil.txt = evil")}
        << QByteArray();
    QTest::newRow("ZIP symlink to the destination itself, then a climb through it")
        << fixed(zipStep({FixtureEntry::symlink("here", "."),
                          FixtureEntry::symlink("out", "here/../outside"),
                          file("out/evil.txt", "evil")},
                         TENVO_ERR_UNSAFE))
        << QStringList{QStringLiteral("here -> ."), QStringLiteral("out -> outside")} << QByteArray();

    QTest::newRow("RAR 5 hard links to a file outside are refused")
        << Maker([=](const Places &p) {
               Rar5Options options;
               options.hardLinkEntries = {0, 1, 3};
               return Steps{rar5Step({FixtureEntry::symlink("relative", "../outside/victim.txt"),
                                      FixtureEntry::symlink("absolute", p.outside + "/victim.txt"),
                                      FixtureEntry::symlink("up", "../outside"),
                                      FixtureEntry::symlink("through", "up/victim.txt"), ok},
                                     TENVO_ERR_UNSAFE, options)};
           })
        << justOk << QByteArray("hard link");

    Rar5Options hardInside;
    hardInside.hardLinkEntries = {1};
    QTest::newRow("RAR 5 hard link inside, then a file of its name: the linked file keeps its data")
        << fixed(rar5Step({file("a.txt", "original"), FixtureEntry::symlink("b.txt", "a.txt"), file("b.txt", "new")},
                          TENVO_OK, hardInside))
        << QStringList{QStringLiteral("a.txt = original"), QStringLiteral("b.txt = new")} << QByteArray();
    QTest::newRow("ZIP symlinks in a loop, then a file through them")
        << fixed(zipStep({FixtureEntry::symlink("a", "b"), FixtureEntry::symlink("b", "a"), file("a/x", "x")},
                         TENVO_ERR_UNSAFE))
        << QStringList{QStringLiteral("a -> b"), QStringLiteral("b -> a")} << QByteArray();

    // Links the user already has in the destination.
    QTest::newRow("Link to a sibling folder already in the destination is not written through")
        << Maker([=](const Places &p) {
               setUp(::symlink("../elsewhere", (p.dest + "/shared").c_str()));
               return Steps{zipStep({file("shared/p", "p")}, TENVO_ERR_UNSAFE)};
           })
        << QStringList{QStringLiteral("shared -> ../elsewhere")} << QByteArray("symbolic link");
    QTest::newRow("Hard link to an outside file already in the destination is replaced, not written through")
        << Maker([=](const Places &p) {
               setUp(::link((p.outside + "/victim.txt").c_str(), (p.dest + "/victim.txt").c_str()));
               return Steps{lzhStep({file("victim.txt", "overwritten")}, TENVO_OK)};
           })
        << QStringList{QStringLiteral("victim.txt = overwritten")} << QByteArray();
    QTest::newRow("Symlink to an outside file already in the destination is replaced, not written through")
        << Maker([=](const Places &p) {
               setUp(::symlink((p.outside + "/victim.txt").c_str(), (p.dest + "/victim.txt").c_str()));
               return Steps{rar4Step({file("victim.txt", "overwritten")}, TENVO_OK)};
           })
        << QStringList{QStringLiteral("victim.txt = overwritten")} << QByteArray();

    // Two archives into one destination in one run.
    QTest::newRow("Two archives: the first plants shared -> elsewhere, the second writes shared/p")
        << Maker([=](const Places &p) {
               return Steps{lzhStep({FixtureEntry::symlink("shared", p.elsewhere)}, TENVO_ERR_UNSAFE),
                            zipStep({file("shared/p", "p")}, TENVO_OK)};
           })
        << QStringList{QStringLiteral("shared/"), QStringLiteral("shared/p = p")} << QByteArray();
    QTest::newRow("Two archives: the first plants shared -> ../elsewhere, the second writes shared/p")
        << fixed(Steps{rar5Step({FixtureEntry::symlink("shared", "../elsewhere")}, TENVO_ERR_UNSAFE),
                       lzhStep({file("shared/p", "p")}, TENVO_OK)})
        << QStringList{QStringLiteral("shared/"), QStringLiteral("shared/p = p")} << QByteArray();
    QTest::newRow("Two archives: the first plants a link inside, the second writes through it")
        << fixed(Steps{rar5Step({FixtureEntry::directory("real"), FixtureEntry::symlink("shared", "real")},
                                TENVO_OK),
                       zipStep({file("shared/p", "p")}, TENVO_ERR_UNSAFE)})
        << QStringList{QStringLiteral("real/"), QStringLiteral("shared -> real")}
        << QByteArray("symbolic link");
    QTest::newRow("Two archives: the first plants a link, the second a file of its name")
        << fixed(Steps{rar5Step({file("target.txt", "original"), FixtureEntry::symlink("name", "target.txt")},
                                TENVO_OK),
                       zipStep({file("name", "new")}, TENVO_OK)})
        << QStringList{QStringLiteral("name = new"), QStringLiteral("target.txt = original")}
        << QByteArray();

    // A link, then a regular file of the same name: the link is replaced.
    const FixtureEntries linkThenFile{file("target.txt", "original"),
                                      FixtureEntry::symlink("name", "target.txt"), file("name", "new")};
    const QStringList replaced{QStringLiteral("name = new"), QStringLiteral("target.txt = original")};
    QTest::newRow("LZH symlink then a file of the same name replaces the link")
        << fixed(lzhStep(linkThenFile, TENVO_OK)) << replaced << QByteArray();
    QTest::newRow("ZIP symlink then a file of the same name replaces the link")
        << fixed(zipStep(linkThenFile, TENVO_OK)) << replaced << QByteArray();
    QTest::newRow("RAR 5 symlink then a file of the same name replaces the link")
        << fixed(rar5Step(linkThenFile, TENVO_OK)) << replaced << QByteArray();
    QTest::newRow("RAR 4 symlink then a file of the same name replaces the link")
        << fixed(rar4Step(linkThenFile, TENVO_OK)) << replaced << QByteArray();
    QTest::newRow("ZIP symlink leading outside then a file of the same name")
        << fixed(zipStep({FixtureEntry::symlink("name", "../outside/victim.txt"), file("name", "new")},
                         TENVO_ERR_UNSAFE))
        << QStringList{QStringLiteral("name = new")} << QByteArray();

    // Devices, FIFOs and set-user-ID files.
    QTest::newRow("LZH FIFO is refused, nothing is created")
        << fixed(lzhStep({special("fifo", S_IFIFO), ok}, TENVO_ERR_UNSAFE)) << justOk << QByteArray("FIFO");
    QTest::newRow("LZH -lh4- FIFO is refused, nothing is created")
        << fixed(lzhStep({special("fifo", S_IFIFO), ok}, TENVO_ERR_UNSAFE, olderLzh("-lh4-", 1))) << justOk
        << QByteArray("FIFO");
    QTest::newRow("LZH character device is refused, nothing is created")
        << fixed(lzhStep({special("tty", S_IFCHR), ok}, TENVO_ERR_UNSAFE)) << justOk << QByteArray();
    QTest::newRow("LZH level 0 block device is refused, nothing is created")
        << fixed(lzhStep({special("disk", S_IFBLK), ok}, TENVO_ERR_UNSAFE, unixLzh(0))) << justOk
        << QByteArray();
    QTest::newRow("RAR 5 FIFO is refused, nothing is created")
        << fixed(rar5Step({special("fifo", S_IFIFO), ok}, TENVO_ERR_UNSAFE)) << justOk << QByteArray();
    QTest::newRow("RAR 5 block device is refused, nothing is created")
        << fixed(rar5Step({special("disk", S_IFBLK), ok}, TENVO_ERR_UNSAFE)) << justOk << QByteArray();
    QTest::newRow("RAR 5 socket is refused, nothing is created")
        << fixed(rar5Step({special("sock", S_IFSOCK), ok}, TENVO_ERR_UNSAFE)) << justOk << QByteArray();
    QTest::newRow("ZIP FIFO from Unix mode bits is refused, nothing is created")
        << fixed(zipStep({special("fifo", S_IFIFO), ok}, TENVO_ERR_UNSAFE)) << justOk << QByteArray();
    QTest::newRow("ZIP character device from Unix mode bits is refused, nothing is created")
        << fixed(zipStep({special("tty", S_IFCHR), ok}, TENVO_ERR_UNSAFE)) << justOk << QByteArray();
    const FixtureEntries setId{file("suid", "s", 04755), file("sgid", "g", 02755),
                               FixtureEntry::directory("sticky", 03777), file("sticky/in", "i", 06777)};
    const QStringList setIdLanded{QStringLiteral("sgid = g"), QStringLiteral("sticky/"),
                                  QStringLiteral("sticky/in = i"), QStringLiteral("suid = s")};
    QTest::newRow("LZH set-user-ID and set-group-ID files land without those bits")
        << fixed(lzhStep(setId, TENVO_OK)) << setIdLanded << QByteArray();
    QTest::newRow("LZH -pm0- set-user-ID and set-group-ID files land without those bits")
        << fixed(lzhStep(setId, TENVO_OK, olderLzh("-pm0-"))) << setIdLanded << QByteArray();
    QTest::newRow("RAR 5 set-user-ID and set-group-ID files land without those bits")
        << fixed(rar5Step(setId, TENVO_OK)) << setIdLanded << QByteArray();
    QTest::newRow("ZIP set-user-ID and set-group-ID files land without those bits")
        << fixed(zipStep(setId, TENVO_OK)) << setIdLanded << QByteArray();
    QTest::newRow("RAR 4 set-user-ID and set-group-ID files land without those bits")
        << fixed(rar4Step(setId, TENVO_OK)) << setIdLanded << QByteArray();

    // The tar family: its headers can say all of the above.
    QTest::newRow("tar.gz entry with ../ in its path is refused, its sibling lands")
        << fixed(tarStep({file("a/../../outside/victim.txt", "evil"), ok}, TENVO_ERR_UNSAFE, compressedTar("gzip")))
        << justOk << QByteArray();
    QTest::newRow("tar entry with an absolute path into a sibling folder is refused")
        << Maker([=](const Places &p) {
               return Steps{tarStep({file(p.elsewhere + "/planted.txt", "evil"), ok}, TENVO_ERR_UNSAFE)};
           })
        << justOk << QByteArray();
    QTest::newRow("tar.xz symlink leading outside, then a file written through it")
        << fixed(tarStep({FixtureEntry::symlink("out", "../outside"), file("out/victim.txt", "evil")},
                         TENVO_ERR_UNSAFE, compressedTar("xz")))
        << QStringList{QStringLiteral("out/"), QStringLiteral("out/victim.txt = evil")} << QByteArray();
    QTest::newRow("tar character device and FIFO are refused, nothing is created")
        << fixed(tarStep({special("tty", S_IFCHR), special("fifo", S_IFIFO), ok}, TENVO_ERR_UNSAFE)) << justOk
        << QByteArray();
    QTest::newRow("tar.zst set-user-ID and set-group-ID files land without those bits")
        << fixed(tarStep(setId, TENVO_OK, compressedTar("zstd"))) << setIdLanded << QByteArray();
    QTest::newRow("tar hard links to a file outside are refused")
        << Maker([=](const Places &p) {
               return Steps{tarStep({FixtureEntry::symlink("relative", "../outside/victim.txt"),
                                     FixtureEntry::symlink("absolute", p.outside + "/victim.txt"), ok},
                                    TENVO_ERR_UNSAFE, compressedTar("", {0, 1}))};
           })
        << justOk << QByteArray();
    QTest::newRow("tar.bz2 hard link inside, then a file of its name: the linked file keeps its data")
        << fixed(tarStep({file("a.txt", "original"), FixtureEntry::symlink("b.txt", "a.txt"), file("b.txt", "new")},
                         TENVO_OK, compressedTar("bzip2", {1})))
        << QStringList{QStringLiteral("a.txt = original"), QStringLiteral("b.txt = new")} << QByteArray();
    QTest::newRow("tar.gz cut inside its data: no partial file")
        << fixed(cut(tarStep({ok, file("big.bin", std::string(300000, 'b'))}, TENVO_ERR_DAMAGED,
                             compressedTar("gzip")),
                     400))
        << justOk << QByteArray();

    // Names.
    const std::string longName(300, 'n');
    const QString shortName(255, u'n');
    QTest::newRow("ZIP 300-byte name component lands shortened and is listed")
        << fixed(zipStep({file(longName, "x"), ok}, TENVO_OK))
        << QStringList{shortName + QStringLiteral(" = x"), okLanded}
        << QByteArray("\nshortened\t1\nshortened\t") + QByteArray::fromStdString(longName) + '\t';
    QTest::newRow("LZH 300-byte name component lands shortened")
        << fixed(lzhStep({file("d/" + longName, "x"), ok}, TENVO_OK))
        << QStringList{QStringLiteral("d/"), QStringLiteral("d/") + shortName + QStringLiteral(" = x"), okLanded}
        << QByteArray("shortened\t1");
    std::string deep;
    for (int i = 0; i < 5000; ++i)
        deep += "d/";
    QTest::newRow("ZIP path 5,000 levels deep is refused")
        << fixed(zipStep({file(deep + "f.txt", "x"), ok}, TENVO_ERR_UNSAFE)) << justOk << QByteArray();
    QTest::newRow("LZH path 5,000 levels deep is refused")
        << fixed(lzhStep({file(deep + "f.txt", "x"), ok}, TENVO_ERR_UNSAFE)) << justOk << QByteArray();
    // libarchive stops at a RAR 5 name this long, as at a damaged header.
    QTest::newRow("RAR 5 path 5,000 levels deep stops the archive as damaged")
        << fixed(rar5Step({ok, file(deep + "f.txt", "x")}, TENVO_ERR_DAMAGED)) << justOk << QByteArray();
    QTest::newRow("ZIP name with a newline lands")
        << fixed(zipStep({file("two\nlines.txt", "x")}, TENVO_OK))
        << QStringList{QStringLiteral("two\nlines.txt = x")} << QByteArray();
    QTest::newRow("ZIP two entries with the same name: the last one wins")
        << fixed(zipStep({file("dup.txt", "first"), file("dup.txt", "second")}, TENVO_OK))
        << QStringList{QStringLiteral("dup.txt = second")} << QByteArray();
    // The folder the failed call made is removed again, as it stayed empty.
    QTest::newRow("LZH folder and file with the same name: the file is kept out")
        << fixed(lzhStep({FixtureEntry::directory("dup"), file("dup", "file")}, TENVO_ERR_WRITE))
        << nothing << QByteArray("folder");
    QTest::newRow("ZIP name neither UTF-8 nor CP932 lands with %XX")
        << fixed(zipStep({file("bad\xff\xfe.txt", "x")}, TENVO_OK, rawNames()))
        << QStringList{QStringLiteral("bad%FF%FE.txt = x")} << QByteArray();
    QTest::newRow("LZH name neither UTF-8 nor CP932 lands with %XX")
        << fixed(lzhStep({file("bad\xff\xfe.txt", "x")}, TENVO_OK))
        << QStringList{QStringLiteral("bad%FF%FE.txt = x")} << QByteArray();
    QTest::newRow("Refused name with an escape character and a newline is shown escaped")
        << fixed(zipStep({file("../\x1b[31mred\nline.txt", "x")}, TENVO_ERR_UNSAFE)) << nothing
        << QByteArray("\\x1B[31mred\\nline.txt");
    QTest::newRow("Refused name with a right-to-left override is shown escaped")
        << fixed(zipStep({file("/abs/\xe2\x80\xaetxt.exe", "x")}, TENVO_ERR_UNSAFE)) << nothing
        << QByteArray("\\u202Etxt.exe");
    Step escapedFile = step("unzip32", {}, TENVO_ERR_FORMAT);
    escapedFile.fileName = "\x1b]0;title\x07\nname.zip";
    escapedFile.allowEmpty = true;
    QTest::newRow("Archive whose file name holds an escape and a newline is shown escaped")
        << fixed(escapedFile) << nothing << QByteArray("\\x1B]0;title\\x07\\nname.zip");

    // Damaged archives leave no half-written file and keep the old one.
    const FixtureEntries victim{file("keep.txt", std::string(5000, 'v'))};
    auto keepOld = [](Steps steps) {
        return Maker([steps](const Places &p) {
            writeFixtureFile(QFile::decodeName(QByteArray::fromStdString(p.dest + "/keep.txt")), "old");
            return steps;
        });
    };
    const QStringList old{QStringLiteral("keep.txt = old")};
    QTest::newRow("ZIP cut short")
        << keepOld({cut(zipStep(victim, TENVO_ERR_DAMAGED), 3000)}) << old << QByteArray();
    QTest::newRow("ZIP cut just before its end record")
        << keepOld({cut(zipStep(victim, TENVO_ERR_DAMAGED), makeZip(victim).size() - 10)}) << old
        << QByteArray();
    LzhOptions lzhCut = unixLzh();
    lzhCut.truncateInLastData = true;
    QTest::newRow("LZH cut in the data") << keepOld({lzhStep(victim, TENVO_ERR_DAMAGED, lzhCut)}) << old
                                         << QByteArray();
    Rar5Options rar5Cut;
    rar5Cut.truncateInLastData = true;
    QTest::newRow("RAR 5 cut in the data") << keepOld({rar5Step(victim, TENVO_ERR_DAMAGED, rar5Cut)})
                                           << old << QByteArray();
    Rar4Options rar4Cut;
    rar4Cut.truncateInLastData = true;
    QTest::newRow("RAR 4 cut in the data") << keepOld({rar4Step(victim, TENVO_ERR_DAMAGED, rar4Cut)})
                                           << old << QByteArray();
    QTest::newRow("7z cut short")
        << keepOld({cut(sevenZipStep(victim, TENVO_ERR_DAMAGED), make7z(victim).size() / 2)}) << old
        << QByteArray();
    QTest::newRow("CAB cut short")
        << keepOld({cut(cabStep(victim, TENVO_ERR_DAMAGED), 100)}) << old << QByteArray();
    ZipOptions zipCrc;
    zipCrc.corruptFirstData = true;
    QTest::newRow("ZIP CRC mismatch") << keepOld({zipStep(victim, TENVO_ERR_DAMAGED, zipCrc)}) << old
                                      << QByteArray();
    zipCrc.deflate = true;
    QTest::newRow("ZIP deflated CRC mismatch")
        << keepOld({zipStep({file("keep.txt", "a fairly short text that deflates, a fairly short text")},
                            TENVO_ERR_DAMAGED, zipCrc)})
        << old << QByteArray();
    LzhOptions lzhCrc = unixLzh();
    lzhCrc.badDataCrcEntry = 0;
    QTest::newRow("LZH CRC mismatch") << keepOld({lzhStep(victim, TENVO_ERR_DAMAGED, lzhCrc)}) << old
                                      << QByteArray();
    Rar5Options rar5Crc;
    rar5Crc.badDataCrcEntry = 0;
    QTest::newRow("RAR 5 CRC mismatch") << keepOld({rar5Step(victim, TENVO_ERR_DAMAGED, rar5Crc)}) << old
                                        << QByteArray();
    Rar4Options rar4Crc;
    rar4Crc.badDataCrcEntry = 0;
    QTest::newRow("RAR 4 CRC mismatch") << keepOld({rar4Step(victim, TENVO_ERR_DAMAGED, rar4Crc)}) << old
                                        << QByteArray();
    Deflate64ZipOptions d64Crc;
    d64Crc.badCrcEntry = 0;
    QTest::newRow("Deflate64 ZIP CRC mismatch")
        << keepOld({step("unzip32", makeDeflate64Zip(victim, d64Crc), TENVO_ERR_DAMAGED)}) << old
        << QByteArray();
    QTest::newRow("RAR 5 entry that claims 1 TB")
        << Maker([=](const Places &p) {
               writeFixtureFile(QFile::decodeName(QByteArray::fromStdString(p.dest + "/keep.txt")), "old");
               Rar5Options options;
               options.declaredSizes[0] = uint64_t(1) << 40;
               // Refused for want of space where the disk is smaller, else
               // for holding less data than it claims.
               const int expected = freeBytes(p.dest) < (uint64_t(1) << 40) ? TENVO_ERR_WRITE
                                                                             : TENVO_ERR_DAMAGED;
               return Steps{rar5Step(victim, expected, options)};
           })
        << old << QByteArray();
    QTest::newRow("RAR 5 entry that claims less than it holds")
        << Maker([=](const Places &p) {
               writeFixtureFile(QFile::decodeName(QByteArray::fromStdString(p.dest + "/keep.txt")), "old");
               Rar5Options options;
               options.declaredSizes[0] = 10;
               return Steps{rar5Step(victim, TENVO_ERR_DAMAGED, options)};
           })
        << old << QByteArray();

    // Encrypted entries without a password leave nothing, not even an empty file.
    ZipOptions zipPassword;
    zipPassword.password = "secret";
    QTest::newRow("ZIP encrypted entry with no password")
        << fixed(zipStep({file("secret.txt", std::string(3000, 's')), ok}, TENVO_ERR_ENCRYPTED, zipPassword))
        << nothing << QByteArray();
    Rar5Options rar5Encrypted;
    rar5Encrypted.encryptedEntry = 0;
    QTest::newRow("RAR 5 encrypted entry with no password")
        << fixed(rar5Step({file("secret.txt", std::string(3000, 's')), ok}, TENVO_ERR_ENCRYPTED, rar5Encrypted))
        << justOk << QByteArray();
    Rar4Options rar4Encrypted;
    rar4Encrypted.encryptedEntry = 0;
    QTest::newRow("RAR 4 encrypted entry with no password")
        << fixed(rar4Step({file("secret.txt", std::string(3000, 's')), ok}, TENVO_ERR_ENCRYPTED, rar4Encrypted))
        << justOk << QByteArray();
    Deflate64ZipOptions d64Encrypted;
    d64Encrypted.encryptedEntry = 0;
    QTest::newRow("Deflate64 ZIP with an encrypted entry and no password writes nothing")
        << fixed(step("unzip32", makeDeflate64Zip({file("secret.txt", std::string(3000, 's')), ok}, d64Encrypted),
                      TENVO_ERR_ENCRYPTED))
        << nothing << QByteArray();

    // Bombs.
    QTest::newRow("ZIP whose entries overlap, quoting each other's headers, is refused")
        << fixed(step("unzip32", makeOverlappingZip(64, kMiB), TENVO_ERR_DAMAGED)) << nothing
        << QByteArray("overlap");
    QTest::newRow("ZIP whose entries overlap is refused by 7-zip32 too")
        << fixed(step("7-zip32", makeOverlappingZip(64, kMiB), TENVO_ERR_DAMAGED)) << nothing
        << QByteArray("overlap");
    QTest::newRow("ZIP bomb of 320 MiB of zeros declaring 1 KiB stops at its declared size")
        << fixed(step("unzip32", makeDeflateBombZip(320 * kMiB, 1024), TENVO_ERR_DAMAGED)) << nothing
        << QByteArray("declares");

    // Empty and odd archive files.
    QTest::newRow("Empty ZIP archive") << fixed(zipStep({}, TENVO_OK)) << nothing << QByteArray();
    QTest::newRow("Empty RAR 5 archive") << fixed(rar5Step({}, TENVO_OK)) << nothing << QByteArray();
    Step zeroBytes = step("unzip32", {}, TENVO_ERR_FORMAT);
    zeroBytes.fileName = "empty.zip";
    zeroBytes.allowEmpty = true;
    QTest::newRow("0-byte file named .zip") << fixed(zeroBytes) << nothing << QByteArray();
    Step folderZip = step("unzip32", {}, TENVO_ERR_OPEN);
    folderZip.fileName = "x.zip";
    folderZip.asFolder = true;
    QTest::newRow("Folder named x.zip") << fixed(folderZip) << nothing << QByteArray();
    Step folder7z = folderZip;
    folder7z.library = "7-zip32";
    QTest::newRow("Folder named x.zip through 7-zip32") << fixed(folder7z) << nothing << QByteArray();
    QTest::newRow("LZH archive holding only its end mark")
        << fixed(step("unlha32", std::string(1, '\0'), TENVO_ERR_FORMAT)) << nothing << QByteArray();
}

void TestHostile::extract()
{
    QFETCH(Maker, maker);
    QFETCH(QStringList, tree);
    QFETCH(QByteArray, messagePart);

    QTemporaryDir work;
    QVERIFY(work.isValid());
    Places places;
    QVERIFY(makePlaces(work, places));
    const Steps steps = maker(places);
    for (const Step &s : steps) {
        if (s.library == "cab32" && !gcabAvailable())
            QSKIP("gcab is not installed");
    }
    QList<QByteArray> paths;
    const QString written = writeArchives(steps, places, paths);
    QVERIFY2(written.isEmpty(), qPrintable(written));

    // Everything but the destination must come out as it went in.
    auto besideDestination = [&] {
        QStringList lines = listTree(places.work);
        lines.removeIf([](const QString &line) { return line.startsWith(QStringLiteral("dest/")); });
        return lines;
    };
    const QStringList before = besideDestination();

    QByteArray message;
    for (int i = 0; i < steps.size(); ++i) {
        const Step &s = steps[i];
        int result = -1;
        {
            FileSizeLimit guard(kRunawayFileSize, true);
            QVERIFY(guard.isValid());
            result = run(s.library, switchFor(s.library, s.flatten), paths[i], places.dest, message);
        }
        QVERIFY2(result == s.expected, qPrintable(QStringLiteral("step %1: result %2, expected %3: %4")
                                                      .arg(i).arg(result).arg(s.expected)
                                                      .arg(QString::fromUtf8(message))));
        const QString fault = messageFault(message);
        QVERIFY2(fault.isEmpty(), qPrintable(fault + QStringLiteral(": ") + QString::fromUtf8(message)));
        const QStringList left = temporaries(listTree(places.work));
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char('\n'))));
    }

    QCOMPARE(listTree(places.dest), tree);
    QCOMPARE(besideDestination(), before);
    const QStringList odd = oddModes(QByteArray::fromStdString(places.work));
    QVERIFY2(odd.isEmpty(), qPrintable(odd.join(QLatin1Char('\n'))));
    if (!messagePart.isEmpty())
        QVERIFY2(message.contains(messagePart), message.constData());
}

// A write that fails in the middle of an entry, here at the file size limit
// (the decoder process inherits it with the signal's default action), keeps
// that entry out and nothing else; the next call writes the whole archive.
void TestHostile::fileSizeLimitInTheMiddle()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    Places places;
    QVERIFY(makePlaces(work, places));
    const QString archive = work.filePath(QStringLiteral("archives/limit.zip"));
    QVERIFY(writeZip(archive, {file("small.txt", "small"), file("big.bin", std::string(3 * kMiB, 'b')),
                               file("after.txt", "after")}));

    QByteArray message;
    int result = -1;
    {
        FileSizeLimit limit(kMiB, false);
        QVERIFY(limit.isValid());
        result = run("unzip32", "-x ", QFile::encodeName(archive), places.dest, message);
    }
    QVERIFY2(result == TENVO_ERR_WRITE, message.constData());
    QVERIFY2(message.contains("big.bin"), message.constData());
    QCOMPARE(listTree(places.dest),
             QStringList({QStringLiteral("after.txt = after"), QStringLiteral("small.txt = small")}));

    QCOMPARE(run("unzip32", "-x ", QFile::encodeName(archive), places.dest, message), int(TENVO_OK));
    QCOMPARE(listTree(places.dest),
             QStringList({QStringLiteral("after.txt = after"),
                          QStringLiteral("big.bin = %1 bytes").arg(3 * kMiB),
                          QStringLiteral("small.txt = small")}));
}

void TestHostile::fullDisk_data()
{
    QTest::addColumn<QByteArray>("mountOptions");
    QTest::addColumn<Maker>("maker");
    QTest::addColumn<QStringList>("tree"); // empty with partial: some of the files, each whole
    QTest::addColumn<bool>("partial");
    QTest::addColumn<QByteArray>("messagePart");

    const std::string threeMiB(3 * kMiB, 'a');
    const std::string sixMiB(6 * kMiB, 'b');
    const std::string twelveMiB(12 * kMiB, 'c');

    QTest::newRow("Entry larger than the free space is refused before a byte is written")
        << QByteArray("size=8m")
        << fixed(zipStep({file("a.bin", threeMiB), file("big.bin", sixMiB), file("after.txt", "after")},
                         TENVO_ERR_WRITE))
        << QStringList{QStringLiteral("a.bin = %1 bytes").arg(3 * kMiB), QStringLiteral("after.txt = after")}
        << false << QByteArray("free space");
    QTest::newRow("Entry that lies about its size stops short of filling the disk")
        << QByteArray("size=8m")
        << Maker([=](const Places &) {
               Rar5Options options;
               options.declaredSizes[1] = kMiB;
               return Steps{rar5Step({file("a.bin", threeMiB), file("big.bin", twelveMiB),
                                      file("after.txt", "after")},
                                     TENVO_ERR_DAMAGED, options)};
           })
        << QStringList{QStringLiteral("a.bin = %1 bytes").arg(3 * kMiB), QStringLiteral("after.txt = after")}
        << false << QByteArray("declares");
    QTest::newRow("Deflated entry that lies about its size stops short of filling the disk")
        << QByteArray("size=8m")
        << fixed(step("unzip32", makeDeflateBombZip(64 * kMiB, kMiB), TENVO_ERR_DAMAGED)) << QStringList()
        << false << QByteArray("declares");
    FixtureEntries many;
    for (int i = 0; i < 40; ++i)
        many.push_back(file("f" + std::to_string(100 + i), "x"));
    QTest::newRow("No room left for another file")
        << QByteArray("size=8m,nr_inodes=16") << fixed(zipStep(many, TENVO_ERR_WRITE)) << QStringList()
        << true << QByteArray("No space left on device");
}

// The destination is a small tmpfs (mounting needs root; elsewhere the rows
// are skipped and fileSizeLimitInTheMiddle stands in for them).
void TestHostile::fullDisk()
{
    QFETCH(QByteArray, mountOptions);
    QFETCH(Maker, maker);
    QFETCH(QStringList, tree);
    QFETCH(bool, partial);
    QFETCH(QByteArray, messagePart);

    QTemporaryDir work;
    QVERIFY(work.isValid());
    Places places;
    QVERIFY(makePlaces(work, places));
    Tmpfs tmpfs(places.dest, mountOptions.constData());
    if (!tmpfs.isMounted())
        QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs here: %1").arg(qt_error_string(tmpfs.error()))));
    const Steps steps = maker(places);
    QList<QByteArray> paths;
    const QString written = writeArchives(steps, places, paths);
    QVERIFY2(written.isEmpty(), qPrintable(written));

    QByteArray message;
    const int result = run(steps[0].library, switchFor(steps[0].library, false), paths[0], places.dest, message);
    QVERIFY2(result == steps[0].expected,
             qPrintable(QStringLiteral("result %1: %2").arg(result).arg(QString::fromUtf8(message))));
    QVERIFY2(message.contains(messagePart), message.constData());
    QVERIFY2(messageFault(message).isEmpty(), message.constData());
    const QStringList landed = listTree(places.dest);
    QVERIFY2(temporaries(landed).isEmpty(), qPrintable(landed.join(QLatin1Char('\n'))));
    if (partial) {
        // As many files as there was room for, each whole.
        QVERIFY(!landed.isEmpty());
        for (const QString &line : landed)
            QVERIFY2(line.endsWith(QStringLiteral(" = x")), qPrintable(line));
    } else {
        QCOMPARE(landed, tree);
    }

    // The library goes on working once there is room again.
    for (const QString &line : landed)
        QVERIFY(QFile::remove(QFile::decodeName(QByteArray::fromStdString(places.dest)) + '/' + line.section(' ', 0, 0)));
    const QString small = work.filePath(QStringLiteral("archives/small.zip"));
    QVERIFY(writeZip(small, {file("after.txt", "after")}));
    QCOMPARE(run("unzip32", "-x ", QFile::encodeName(small), places.dest, message), int(TENVO_OK));
    QCOMPARE(listTree(places.dest), QStringList{QStringLiteral("after.txt = after")});
}

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"

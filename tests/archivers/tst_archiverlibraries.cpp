// All five archiver libraries, loaded with dlopen from the program folder,
// extracting LZH, RAR 5, RAR 4 and CAB fixtures with the command lines the
// program sends.
#include "archivemaker.h"
#include "archivercalls.h"
#include "cabwriter.h"
#include "foldertree.h"
#include "handmadezip.h"
#include "lzhwriter.h"
#include "rar4writer.h"
#include "rar5writer.h"
#include "result.h"

#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <thread>
#include <sys/stat.h>
#include <sys/types.h>

using namespace tenvo::fixture;
using namespace tenvo::test;

namespace {

std::string pseudoRandomBytes(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (char &c : bytes) {
        seed = seed * 1664525u + 1013904223u;
        c = char(seed >> 24);
    }
    return bytes;
}

// For a format ending in the name of an encoding ("-eucjp", "-gbk",
// "-big5", "-euckr", "-cp437", or "-mixed" for a UTF-8 name beside a CP932
// one): entries named in it, the suffix taken off format. False for others.
bool takeForeignNames(QByteArray &format, FixtureEntries &entries)
{
    const QList<std::pair<QByteArray, FixtureEntries>> foreignNames{
        {"-eucjp", {FixtureEntry::directory("\xa5\xc6\xa5\xb9\xa5\xc8/"),
                    FixtureEntry::file("\xa5\xc6\xa5\xb9\xa5\xc8/\xa5\xc7\xa1\xbc\xa5\xbf.txt", "data")}},
        {"-gbk", {FixtureEntry::file("\xd6\xd0\xce\xc4.txt", "zh")}},
        {"-big5", {FixtureEntry::file("\xa4\xa4\xa4\xe5.txt", "tw")}},
        {"-euckr", {FixtureEntry::file("\xc7\xd1\xb1\xb9\xbe\xee.txt", "ko")}},
        {"-cp437", {FixtureEntry::file("\x9a" "ber \xab.txt", "dos")}},
        {"-mixed", {FixtureEntry::file("\xc3\xb1.txt", "n"), FixtureEntry::file("\x83\x74.txt", "fu")}},
    };
    for (const auto &[suffix, names] : foreignNames) {
        if (format.endsWith(suffix)) {
            format.chop(suffix.size());
            entries = names;
            return true;
        }
    }
    return false;
}

// The fixture bytes for a format name used in the tables below.
std::string makeFixture(const QByteArray &format, const FixtureEntries &entries, std::string &error)
{
    if (format.startsWith("lzh")) {
        LzhOptions options;
        options.level = format.at(3) - '0';
        if (format.endsWith("-crc"))
            options.badDataCrcEntry = 0;
        if (format.endsWith("-crc1"))
            options.badDataCrcEntry = 1;
        if (format.endsWith("-cut"))
            options.truncateInLastData = true;
        if (format.endsWith("-header"))
            options.badHeaderCheckEntry = 0;
        options.unicodeNames = format.endsWith("-utf16");
        if (format.endsWith("-ff"))
            options.nameSeparator = '\xff';
        // A method id such as "lh1" or "pm0" among the parts.
        for (const QByteArray &part : format.split('-')) {
            if (part.size() == 3 && (part.startsWith("l") || part.startsWith("pm")))
                options.method = "-" + part.toStdString() + "-";
        }
        return makeLzh(entries, options, &error);
    }
    if (format.startsWith("7z")) {
        SevenZipOptions options;
        options.method = format.endsWith("-arm64") ? SevenZipOptions::Method::Arm64Filter
                                                   : SevenZipOptions::Method::Deflate64;
        return make7z(entries, options, &error);
    }
    if (format.startsWith("rar5")) {
        Rar5Options options;
        if (format.endsWith("-crc"))
            options.badDataCrcEntry = 0;
        if (format.endsWith("-encrypted"))
            options.encryptedEntry = 0;
        if (format.endsWith("-headers"))
            options.encryptHeaders = true;
        if (format.endsWith("-cut"))
            options.truncateInLastData = true;
        return makeRar5(entries, options, &error);
    }
    if (format.startsWith("zip")) {
        ZipOptions options;
        if (format.endsWith("-encrypted"))
            options.password = "secret";
        if (format.endsWith("-crc"))
            options.corruptFirstData = true;
        if (format.endsWith("-raw") || format.endsWith("-flagged"))
            options.names = ZipOptions::Names::Raw;
        std::string bytes = makeZip(entries, options, &error);
        if (format.endsWith("-flagged")) {
            // The UTF-8 flag (bit 11) set in every local and central header.
            for (const auto &[signature, flagsAt] : {std::pair{std::string("PK\x03\x04"), 7},
                                                     std::pair{std::string("PK\x01\x02"), 9}}) {
                for (auto at = bytes.find(signature); at != std::string::npos; at = bytes.find(signature, at + 4))
                    bytes[at + flagsAt] = char(bytes[at + flagsAt] | 0x08);
            }
        }
        return bytes;
    }
    if (format.startsWith("rar4")) {
        Rar4Options options;
        options.solid = format.endsWith("-solid");
        if (format.endsWith("-utf16")) {
            for (std::size_t i = 0; i < entries.size(); ++i)
                options.unicodeNameEntries.push_back(i);
        }
        return makeRar4(entries, options, &error);
    }
    if (format == "cab")
        return makeCab(entries, {}, &error);
    if (format.startsWith("cab-folders")) {
        FolderedCabOptions options;
        options.mszip = !format.endsWith("-stored");
        if (format.endsWith("-checksum"))
            options.badChecksumFolder = 1;
        if (format.endsWith("-reserve"))
            options.reserve = 6;
        return makeFolderedCab(entries, options, &error);
    }
    error = "unknown fixture format";
    return {};
}


using WithProgress = int (*)(void *, const char *, char *, unsigned int,
                             int (*)(void *, unsigned long long, unsigned long long), void *, int);

struct ProcessInfo {
    pid_t pid = -1;
    pid_t parent = -1;
    char state = '?';
    QByteArray name;
};

// Every process of the system, from /proc.
QList<ProcessInfo> processes()
{
    QList<ProcessInfo> all;
    for (const QFileInfo &entry : QDir("/proc").entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(entry.filePath() + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const qsizetype open = text.indexOf('('), close = text.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        all.append({pid_t(text.left(open).trimmed().toInt()), pid_t(fields.value(1).toInt()),
                    fields.value(0).isEmpty() ? '?' : fields.value(0).at(0), text.mid(open + 1, close - open - 1)});
    }
    return all;
}

// The children of parent (named name when given) that have not ended.
QList<pid_t> childrenOf(pid_t parent, const QByteArray &name = {})
{
    QList<pid_t> found;
    for (const ProcessInfo &process : processes()) {
        if (process.parent == parent && process.state != 'Z' && (name.isEmpty() || process.name == name))
            found.append(process.pid);
    }
    return found;
}

QList<pid_t> zombieChildren()
{
    QList<pid_t> found;
    for (const ProcessInfo &process : processes()) {
        if (process.parent == ::getpid() && process.state == 'Z')
            found.append(process.pid);
    }
    return found;
}

// The decoder child at work for this process's calls, or -1.
pid_t runningDecoderChild(pid_t *program = nullptr)
{
    for (const pid_t candidate : childrenOf(::getpid(), "tenvo-decoder")) {
        const QList<pid_t> children = childrenOf(candidate);
        if (!children.isEmpty()) {
            if (program)
                *program = candidate;
            return children.first();
        }
    }
    return -1;
}

// Stops pid and waits until it is stopped; false when it has gone.
bool freeze(pid_t pid)
{
    if (::kill(pid, SIGSTOP) != 0)
        return false;
    for (int i = 0; i < 2000; ++i) {
        QFile stat(QString("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray text = stat.readAll();
        const qsizetype at = text.lastIndexOf(')') + 2;
        const char state = at > 1 && at < text.size() ? text.at(at) : '?';
        if (state == 'T' || state == 't')
            return true;
        if (state == 'Z' || state == 'X')
            return false;
        ::usleep(1000);
    }
    return false;
}

// Stops this process's decoder child as soon as one appears, until
// released: a call's first progress report comes 100 ms into it, and a fast
// machine may have extracted the archive by then.
class DecoderChildHolder {
public:
    DecoderChildHolder()
        : m_thread([this] {
            while (m_holding) {
                if (const pid_t child = runningDecoderChild(); child > 0 && freeze(child))
                    return;
            }
        })
    {
    }
    ~DecoderChildHolder() { release(); }
    DecoderChildHolder(const DecoderChildHolder &) = delete;
    DecoderChildHolder &operator=(const DecoderChildHolder &) = delete;
    void release()
    {
        m_holding = false;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::atomic<bool> m_holding{true};
    std::thread m_thread;
};

// Where each descriptor of pid leads.
QStringList descriptorTargets(pid_t pid)
{
    QStringList targets;
    const QByteArray folder = "/proc/" + QByteArray::number(pid) + "/fd/";
    for (const QString &fd : QDir(QString::fromLatin1(folder)).entryList(QDir::System | QDir::Files))
        targets.append(QFile::decodeName(QFile::symLinkTarget(QString::fromLatin1(folder) + fd).toLocal8Bit()));
    return targets;
}

bool holdsTemporary(const QString &folder)
{
    for (const QString &entry : folderTree(folder)) {
        if (entry.contains(".tenvo-"))
            return true;
    }
    return false;
}

// Passwords are kept with their bytes flipped, so that no plain copy made by
// the test itself is found in its memory.
constexpr char kMask = 0x5a;

QByteArray masked(const QByteArray &plain)
{
    QByteArray out = plain;
    for (char &c : out)
        c = char(c ^ kMask);
    return out;
}

// True when a readable, writable mapping of process pid (its heap, stacks
// and data) holds the password kept masked.
bool memoryHolds(pid_t pid, const QByteArray &maskedPassword)
{
    QFile maps(QString("/proc/%1/maps").arg(pid));
    const int mem = ::open(QString("/proc/%1/mem").arg(pid).toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    if (!maps.open(QIODevice::ReadOnly) || mem < 0) {
        qWarning("cannot read the memory of %d", int(pid));
        return true;
    }
    const qsizetype size = maskedPassword.size();
    const char first = char(maskedPassword.at(0) ^ kMask);
    std::vector<char> chunk(std::size_t(1) << 20);
    bool found = false;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2 || !fields[1].startsWith("rw"))
            continue;
        const QList<QByteArray> range = fields[0].split('-');
        quint64 at = range.value(0).toULongLong(nullptr, 16);
        const quint64 end = range.value(1).toULongLong(nullptr, 16);
        while (at < end && !found) {
            const std::size_t want = std::size_t(std::min<quint64>(chunk.size(), end - at));
            const ssize_t n = ::pread(mem, chunk.data(), want, off_t(at));
            if (n <= 0)
                break;
            for (const char *p = chunk.data(); !found;) {
                p = static_cast<const char *>(std::memchr(p, first, std::size_t(chunk.data() + n - p)));
                if (!p)
                    break;
                qsizetype i = 1;
                while (i < size && p + i < chunk.data() + n && char(p[i] ^ kMask) == maskedPassword.at(i))
                    ++i;
                found = i == size;
                ++p;
            }
            // A copy across the chunk's end is caught by the overlap.
            at += quint64(n) > quint64(size) ? quint64(n) - quint64(size) : quint64(n);
        }
        if (found)
            break;
    }
    ::explicit_bzero(chunk.data(), chunk.size());
    ::close(mem);
    return found;
}

} // namespace

// Every umask() of this process, the libraries' included, comes here, so
// that a test can tell whether a call set the process-wide umask.
std::atomic<int> umaskSets{0};

extern "C" mode_t umask(mode_t mask) noexcept
{
    ++umaskSets;
    return mode_t(::syscall(SYS_umask, mask));
}

namespace {

volatile sig_atomic_t interrupted = 0;

// Run apart, in a process group of its own as a program run at a terminal
// is: holds a descriptor of its own (as "exec 7<notes.txt" leaves one),
// handles SIGINT and SIGQUIT to stop, and while a call decodes sends the
// group the terminal's SIGINT, SIGQUIT and SIGTSTP, then stops the call.
// Prints the result, whether the call was caught at work, how many
// descriptors of the note the decoder program had, how many sockets and
// notes the decoder child had, and whether the decoder program was still
// there when the call was asked to stop.
int terminalCaller(const char *archive, const char *destination, const char *note)
{
    if (::setpgid(0, 0) != 0)
        return 90;
    struct sigaction handler {};
    handler.sa_handler = [](int) { interrupted = 1; };
    ::sigaction(SIGINT, &handler, nullptr);
    ::sigaction(SIGQUIT, &handler, nullptr);
    ::signal(SIGTSTP, SIG_IGN);
    const int opened = ::open(note, O_RDONLY);
    const int noteFd = opened >= 0 ? ::dup2(opened, 7) : -1;
    QString error;
    const auto call = reinterpret_cast<WithProgress>(
        ::dlsym(loadArchivers(TENVO_BIN_DIR, error).value("unzip32").handle, "UnZipWithProgress"));
    if (noteFd < 0 || !call)
        return 91;
    struct State {
        QString note;
        int stage = 0;
        int programNotes = -1, childSockets = -1, childNotes = -1;
        pid_t program = -1;
        int survived = -1;
        int confined = -1;
    } state{QFile::decodeName(note)};
    int result = -1;
    DecoderChildHolder holder; // the call is caught at work
    for (int attempt = 0; attempt < 5 && state.stage == 0; ++attempt) {
        const QByteArray line = commandLine("-x ", QFile::decodeName(archive), QFile::decodeName(destination));
        result = call(nullptr, line.constData(), nullptr, 0,
                      [](void *context, unsigned long long, unsigned long long) {
                          State &state = *static_cast<State *>(context);
                          if (state.stage > 0) {
                              // Asked to stop: are the decoders still there to be stopped?
                              if (state.survived < 0)
                                  state.survived = childrenOf(::getpid(), "tenvo-decoder").count(state.program);
                              return interrupted ? 1 : 0;
                          }
                          pid_t program = -1;
                          const pid_t child = runningDecoderChild(&program);
                          if (child < 0 || !freeze(child))
                              return 0;
                          state.program = program;
                          const QStringList programHolds = descriptorTargets(program);
                          const QStringList childHolds = descriptorTargets(child);
                          state.programNotes = int(programHolds.count(state.note));
                          state.childNotes = int(childHolds.count(state.note));
                          state.childSockets = int(childHolds.filter(QStringLiteral("socket:")).size());
                          // Its sandbox, as the kernel shows it.
                          QFile status(QStringLiteral("/proc/%1/status").arg(child));
                          const QByteArray fields = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
                          state.confined = fields.contains("\nNoNewPrivs:\t1\n") && fields.contains("\nSeccomp:\t2\n");
                          ::kill(0, SIGINT);
                          ::kill(0, SIGQUIT);
                          ::kill(0, SIGTSTP);
                          // What the signals would do to the decoders is done
                          // before the call looks at its socket again.
                          ::usleep(200 * 1000);
                          ::kill(child, SIGCONT);
                          state.stage = 1;
                          return 0;
                      },
                      &state, 1);
    }
    holder.release();
    std::printf("%d %d %d %d %d %d %d\n", result, state.stage, state.programNotes, state.childSockets,
                state.childNotes, state.survived, state.confined);
    return 0;
}

} // namespace

class TestArchiverLibraries : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void extract_data();
    void extract();
    void damaged_data();
    void damaged();
    void lzhNamesAnyLocale_data();
    void lzhNamesAnyLocale();
    void check_data();
    void check();
    void behindStub_data();
    void behindStub();
    void volumeSets_data();
    void volumeSets();
    void fifoNamedLikeAnArchive();
    void callsFromManyThreadsAtOnce();
    void stopLeavesNoPartialFile();
    void entriesSharedAmongProcesses_data();
    void entriesSharedAmongProcesses();
    void decoderProgramKilledMidCall();
    void stopWhenTheDecoderProgramDoesNotAnswer();
    void decoderProcessesApartFromTheCaller();
    void passwordLeftInNoMemory_data();
    void passwordLeftInNoMemory();

private:
    int run(const QByteArray &library, const QByteArray &switchText, const QString &archive,
            const QString &destination, QByteArray *message = nullptr);
    QString write(const QByteArray &format, const FixtureEntries &entries);
    QString bigZip();

    QTemporaryDir m_work;
    QHash<QByteArray, ArchiverCalls> m_libraries;
    int m_counter = 0;
    QString m_bigZip;
};

void TestArchiverLibraries::initTestCase()
{
    QVERIFY(m_work.isValid());
    ::umask(022);
    QString error;
    m_libraries = loadArchivers(TENVO_BIN_DIR, error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

QString TestArchiverLibraries::write(const QByteArray &format, const FixtureEntries &entries)
{
    std::string error;
    const std::string bytes = makeFixture(format, entries, error);
    if (bytes.empty()) {
        qWarning("fixture %s: %s", format.constData(), error.c_str());
        return {};
    }
    const QString path = m_work.filePath(QString("fixture%1.bin").arg(++m_counter));
    return writeFixtureFile(path, bytes) ? path : QString();
}

// An archive whose extraction takes a while, for calls caught at work.
QString TestArchiverLibraries::bigZip()
{
    if (m_bigZip.isEmpty()) {
        const std::string big(48 << 20, 'z');
        m_bigZip = write("zip", {FixtureEntry::file("big1.bin", big), FixtureEntry::file("big2.bin", big),
                                 FixtureEntry::file("small.txt", "small")});
    }
    return m_bigZip;
}

int TestArchiverLibraries::run(const QByteArray &library, const QByteArray &switchText,
                               const QString &archive, const QString &destination,
                               QByteArray *message)
{
    return runArchiver(m_libraries.value(library), switchText, archive, destination, message);
}

void TestArchiverLibraries::extract_data()
{
    QTest::addColumn<QByteArray>("library");
    QTest::addColumn<QByteArray>("switchText");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QByteArray>("destinationTail");
    QTest::addColumn<QStringList>("expected");

    const QStringList restored{"docs/", "docs/a.txt = " + md5Hex("alpha"),
                               "docs/sub/", "docs/sub/b.bin = " + md5Hex("beta"),
                               "top.txt = " + md5Hex("top")};
    const QStringList flattened{"a.txt = " + md5Hex("alpha"), "b.bin = " + md5Hex("beta"),
                                "top.txt = " + md5Hex("top")};
    const QStringList cp932{QStringLiteral("表ソ能/"), QStringLiteral("表ソ能/ソ.txt = ") + md5Hex("so"),
                            QStringLiteral("能.txt = ") + md5Hex("no")};

    for (const char *level : {"lzh0", "lzh1", "lzh2", "lzh3"}) {
        QTest::addRow("unlha32, %s, restore", level)
            << QByteArray("unlha32") << QByteArray("x ") << QByteArray(level) << QByteArray("/")
            << restored;
        QTest::addRow("unlha32, %s, flatten", level)
            << QByteArray("unlha32") << QByteArray("e ") << QByteArray(level) << QByteArray("/")
            << flattened;
        QTest::addRow("unlha32, %s, CP932 names ending in 0x5C", level)
            << QByteArray("unlha32") << QByteArray("x ") << QByteArray(level) + "-cp932"
            << QByteArray("/") << cp932;
    }
    // Older tools' methods, with a file long enough for several blocks and
    // for the adaptive coder to rebuild its tree.
    QStringList packed = restored;
    packed << "docs/sub/long.bin = " + md5Hex(QByteArray::fromStdString(pseudoRandomBytes(70000, 7)));
    packed.sort();
    // LArc's methods come with level 0 headers, PMarc's with level 1 or 2.
    for (const char *fixture : {"lzh2-lh1", "lzh1-lh4", "lzh2-lh5", "lzh2-lh6", "lzh2-lh7",
                                "lzh0-lzs", "lzh0-lz5", "lzh0-lz4", "lzh2-pm0", "lzh3-lh1"}) {
        QTest::addRow("unlha32, %s, packed by an older tool", fixture)
            << QByteArray("unlha32") << QByteArray("x ") << QByteArray(fixture) << QByteArray("/")
            << packed;
    }
    // Names through the other decoder keep their code page, UTF-16 and separators.
    QTest::newRow("unlha32, -lzs-, CP932 names ending in 0x5C")
        << QByteArray("unlha32") << QByteArray("x ") << QByteArray("lzh0-lzs-cp932") << QByteArray("/")
        << cp932;
    // The sound members land beside the damaged one (the call fails).
    QTest::newRow("unlha32, -lzs- member with its CRC wrong beside sound ones")
        << QByteArray("unlha32") << QByteArray("x ") << QByteArray("lzh0-lzs-crc1") << QByteArray("/")
        << QStringList{"docs/", "docs/sub/", "docs/sub/b.bin = " + md5Hex("beta"),
                       "docs/sub/long.bin = " + md5Hex(QByteArray::fromStdString(pseudoRandomBytes(70000, 7))),
                       "top.txt = " + md5Hex("top")};
    const QStringList twins{"readme (2).txt = " + md5Hex("beta"), "readme.txt = " + md5Hex("alpha")};
    QTest::newRow("unlha32, one name in two folders, flatten keeps both")
        << QByteArray("unlha32") << QByteArray("e ") << QByteArray("lzh2-twins") << QByteArray("/")
        << twins;
    QTest::newRow("unzip32, one name in two folders, flatten keeps both")
        << QByteArray("unzip32") << QByteArray("-x -j ") << QByteArray("zip-twins") << QByteArray("/")
        << twins;
    QTest::newRow("unlha32, LZH level 0, 0xFF between folders")
        << QByteArray("unlha32") << QByteArray("x ") << QByteArray("lzh0-ff") << QByteArray("/")
        << QStringList{QStringLiteral("データ/"), QStringLiteral("データ/十/"),
                       QStringLiteral("データ/十/予定表.bin = ") + md5Hex("plan")};
    const QStringList unicode{QStringLiteral("日本語/"), QStringLiteral("日本語/ファイル.txt = ") + md5Hex("alpha"),
                              QStringLiteral("表😀.txt = ") + md5Hex("beta")};
    QTest::newRow("unlha32, LZH level 1, names in the UTF-16 extensions")
        << QByteArray("unlha32") << QByteArray("x ") << QByteArray("lzh1-utf16") << QByteArray("/")
        << unicode;
    QTest::newRow("unlha32, LZH level 2, names in the UTF-16 extensions")
        << QByteArray("unlha32") << QByteArray("x ") << QByteArray("lzh2-utf16") << QByteArray("/")
        << unicode;
    QTest::newRow("unlha32, LZH level 2, -lh1-, names in the UTF-16 extensions")
        << QByteArray("unlha32") << QByteArray("x ") << QByteArray("lzh2-lh1-utf16") << QByteArray("/")
        << unicode;
    QTest::newRow("unlha32, LZH level 0, -lz5-, 0xFF between folders")
        << QByteArray("unlha32") << QByteArray("x ") << QByteArray("lzh0-lz5-ff") << QByteArray("/")
        << QStringList{QStringLiteral("データ/"), QStringLiteral("データ/十/"),
                       QStringLiteral("データ/十/予定表.bin = ") + md5Hex("plan")};
    QTest::newRow("unrar32, RAR 5, destination with the extra separator")
        << QByteArray("unrar32") << QByteArray("-x ") << QByteArray("rar5") << QByteArray("//")
        << restored;
    QTest::newRow("unrar32, RAR 4, destination with the extra separator")
        << QByteArray("unrar32") << QByteArray("-x ") << QByteArray("rar4") << QByteArray("//")
        << restored;
    QTest::newRow("cab32, CAB, restore")
        << QByteArray("cab32") << QByteArray("-x ") << QByteArray("cab") << QByteArray("/")
        << QStringList{"docs/", "docs/a.txt = " + md5Hex("alpha"), "docs/sub/",
                       "docs/sub/b.bin = " + md5Hex("beta"), "top.txt = " + md5Hex("top")};
    QTest::newRow("cab32, CAB, flatten")
        << QByteArray("cab32") << QByteArray("-x -j ") << QByteArray("cab") << QByteArray("/")
        << flattened;

    // Names in an encoding chosen for the archive (the suffix names the
    // encoding the fixture's names are written in).
    const QStringList eucJp{QStringLiteral("テスト/"), QStringLiteral("テスト/データ.txt = ") + md5Hex("data")};
    QTest::newRow("unzip32, EUC-JP names read automatically come out as CP932 reads them")
        << QByteArray("unzip32") << QByteArray("-x ") << QByteArray("zip-raw-eucjp") << QByteArray("/")
        << QStringList{QStringLiteral("･ﾆ･ｹ･ﾈ/"), QStringLiteral("･ﾆ･ｹ･ﾈ/･ﾇ｡ｼ･ｿ.txt = ") + md5Hex("data")};
    QTest::newRow("unzip32, EUC-JP names read as EUC-JP")
        << QByteArray("unzip32") << QByteArray("-x --names=EUC-JP ") << QByteArray("zip-raw-eucjp")
        << QByteArray("/") << eucJp;
    QTest::newRow("7-zip32, 7z stored behind the ARM64 filter, which libarchive lacks")
        << QByteArray("7-zip32") << QByteArray("x ") << QByteArray("7z-arm64") << QByteArray("/")
        << QStringList{"top.txt = " + md5Hex("top")};
    QTest::newRow("7-zip32, 7z packed with Deflate64, which libarchive lacks")
        << QByteArray("7-zip32") << QByteArray("x ") << QByteArray("7z-deflate64") << QByteArray("/")
        << QStringList{"top.txt = " + md5Hex("top")};
    QTest::newRow("7-zip32, EUC-JP names flagged as UTF-8 read as EUC-JP all the same")
        << QByteArray("7-zip32") << QByteArray("x --names=euc-jp ") << QByteArray("zip-flagged-eucjp")
        << QByteArray("/") << eucJp;
    QTest::newRow("unzip32, GBK names read as GBK")
        << QByteArray("unzip32") << QByteArray("-x --names=GBK ") << QByteArray("zip-raw-gbk")
        << QByteArray("/") << QStringList{QStringLiteral("中文.txt = ") + md5Hex("zh")};
    QTest::newRow("unzip32, Big5 names read as Big5")
        << QByteArray("unzip32") << QByteArray("-x --names=Big5 ") << QByteArray("zip-raw-big5")
        << QByteArray("/") << QStringList{QStringLiteral("中文.txt = ") + md5Hex("tw")};
    QTest::newRow("unzip32, EUC-KR names read as EUC-KR")
        << QByteArray("unzip32") << QByteArray("-x --names=EUC-KR ") << QByteArray("zip-raw-euckr")
        << QByteArray("/") << QStringList{QStringLiteral("한국어.txt = ") + md5Hex("ko")};
    QTest::newRow("unzip32, CP437 names read as CP437")
        << QByteArray("unzip32") << QByteArray("-x --names=CP437 ") << QByteArray("zip-raw-cp437")
        << QByteArray("/") << QStringList{QStringLiteral("Über ½.txt = ") + md5Hex("dos")};
    QTest::newRow("unzip32, names read as UTF-8: what is not UTF-8 lands escaped")
        << QByteArray("unzip32") << QByteArray("-x --names=UTF-8 ") << QByteArray("zip-raw-mixed")
        << QByteArray("/") << QStringList{QStringLiteral("%83t.txt = ") + md5Hex("fu"),
                                          QStringLiteral("ñ.txt = ") + md5Hex("n")};
    QTest::newRow("unlha32, EUC-JP names read automatically come out as CP932 reads them")
        << QByteArray("unlha32") << QByteArray("x ") << QByteArray("lzh2-eucjp") << QByteArray("/")
        << QStringList{QStringLiteral("･ﾆ･ｹ･ﾈ/"), QStringLiteral("･ﾆ･ｹ･ﾈ/･ﾇ｡ｼ･ｿ.txt = ") + md5Hex("data")};
    QTest::newRow("unlha32, EUC-JP names read as EUC-JP")
        << QByteArray("unlha32") << QByteArray("x --names=EUC-JP ") << QByteArray("lzh1-eucjp")
        << QByteArray("/") << eucJp;
    QTest::newRow("unrar32, RAR 4 names stored as bytes read as EUC-JP")
        << QByteArray("unrar32") << QByteArray("-x --names=EUC-JP ") << QByteArray("rar4-eucjp")
        << QByteArray("//") << eucJp;
    QTest::newRow("unlha32, names in the UTF-16 extensions stay as stored whatever is chosen")
        << QByteArray("unlha32") << QByteArray("x --names=EUC-JP ") << QByteArray("lzh2-utf16")
        << QByteArray("/") << unicode;
    QTest::newRow("unrar32, RAR 4 Unicode names stay as stored whatever is chosen")
        << QByteArray("unrar32") << QByteArray("-x --names=GBK ") << QByteArray("rar4-utf16")
        << QByteArray("//") << unicode;
    QTest::newRow("unrar32, RAR 5 names stay as stored whatever is chosen")
        << QByteArray("unrar32") << QByteArray("-x --names=CP437 ") << QByteArray("rar5-utf16")
        << QByteArray("//") << unicode;
}

void TestArchiverLibraries::extract()
{
    QFETCH(QByteArray, library);
    QFETCH(QByteArray, switchText);
    QFETCH(QByteArray, format);
    QFETCH(QByteArray, destinationTail);
    QFETCH(QStringList, expected);

    if (format == "cab" && !gcabAvailable())
        QSKIP("gcab is not installed");
    FixtureEntries entries;
    if (format.endsWith("-utf16")) {
        entries = {FixtureEntry::directory("日本語/"), FixtureEntry::file("日本語/ファイル.txt", "alpha"),
                   FixtureEntry::file("表😀.txt", "beta")};
    } else if (format.endsWith("-ff")) {
        entries = {FixtureEntry::file("\x83\x66\x81\x5b\x83\x5e/\x8f\x5c/\x97\x5c\x92\xe8\x95\x5c.bin", "plan")};
    } else if (format.endsWith("-twins")) {
        format.chop(6);
        entries = {FixtureEntry::file("a/readme.txt", "alpha"), FixtureEntry::file("b/readme.txt", "beta")};
    } else if (format == "7z-arm64" || format == "7z-deflate64") {
        // The fixture writer labels the coder of a single file only.
        entries = {FixtureEntry::file("top.txt", "top")};
    } else if (format.endsWith("-cp932")) {
        format.chop(6);
        entries = {FixtureEntry::directory("\x95\x5c\x83\x5c\x94\x5c/"),
                   FixtureEntry::file("\x95\x5c\x83\x5c\x94\x5c/\x83\x5c.txt", "so"),
                   FixtureEntry::file("\x94\x5c.txt", "no")};
    } else if (!takeForeignNames(format, entries)) {
        entries = {FixtureEntry::directory("docs/"), FixtureEntry::file("docs/a.txt", "alpha"),
                   FixtureEntry::file("docs/sub/b.bin", "beta"),
                   FixtureEntry::file("top.txt", "top")};
        if (format == "cab")
            entries.erase(entries.begin()); // CAB stores no folders
        if (format.startsWith("lzh") && format.size() > 4)
            entries.push_back(FixtureEntry::file("docs/sub/long.bin", pseudoRandomBytes(70000, 7)));
    }
    const QString archive = write(format, entries);
    QVERIFY(!archive.isEmpty());

    QTemporaryDir destination;
    QByteArray message;
    const int wanted = format.endsWith("-crc1") ? TENVO_ERR_DAMAGED : TENVO_OK;
    QCOMPARE(run(library, switchText, archive, destination.path() + destinationTail, &message), wanted);
    expected.sort();
    QCOMPARE(folderTree(destination.path()), expected);
}

void TestArchiverLibraries::damaged_data()
{
    QTest::addColumn<QByteArray>("library");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<int>("result");

    QTest::newRow("LZH level 2, data CRC wrong") << QByteArray("unlha32") << QByteArray("lzh2-crc")
                                                 << int(TENVO_ERR_DAMAGED);
    QTest::newRow("LZH level 0, data CRC wrong") << QByteArray("unlha32") << QByteArray("lzh0-crc")
                                                 << int(TENVO_ERR_DAMAGED);
    QTest::newRow("LZH level 1, data CRC wrong") << QByteArray("unlha32") << QByteArray("lzh1-crc")
                                                 << int(TENVO_ERR_DAMAGED);
    QTest::newRow("LZH level 2, data CRC wrong in new folders")
        << QByteArray("unlha32") << QByteArray("lzh2-crc-folders") << int(TENVO_ERR_DAMAGED);
    QTest::newRow("LZH, -lh2- in new folders")
        << QByteArray("unlha32") << QByteArray("lzh2-lh2-folders") << int(TENVO_ERR_METHOD);
    QTest::newRow("LZH level 0, -lzs- data CRC wrong") << QByteArray("unlha32") << QByteArray("lzh0-lzs-crc")
                                                       << int(TENVO_ERR_DAMAGED);
    QTest::newRow("LZH level 1, -lh1- header checksum wrong")
        << QByteArray("unlha32") << QByteArray("lzh1-lh1-header") << int(TENVO_ERR_DAMAGED);
    QTest::newRow("LZH level 2, -lh1- header CRC wrong")
        << QByteArray("unlha32") << QByteArray("lzh2-lh1-header") << int(TENVO_ERR_DAMAGED);
    QTest::newRow("LZH level 1, -lh4- cut in the data") << QByteArray("unlha32") << QByteArray("lzh1-lh4-cut")
                                                        << int(TENVO_ERR_DAMAGED);
    QTest::newRow("LZH level 2, cut in the data") << QByteArray("unlha32") << QByteArray("lzh2-cut")
                                                  << int(TENVO_ERR_DAMAGED);
    QTest::newRow("LZH level 0, cut in the data") << QByteArray("unlha32") << QByteArray("lzh0-cut")
                                                  << int(TENVO_ERR_DAMAGED);
    QTest::newRow("RAR 5, data CRC wrong") << QByteArray("unrar32") << QByteArray("rar5-crc")
                                           << int(TENVO_ERR_DAMAGED);
    QTest::newRow("RAR 5, cut in the data") << QByteArray("unrar32") << QByteArray("rar5-cut")
                                            << int(TENVO_ERR_DAMAGED);
    QTest::newRow("ZIP, encrypted entry") << QByteArray("unzip32") << QByteArray("zip-encrypted")
                                          << int(TENVO_ERR_ENCRYPTED);
    QTest::newRow("ZIP, data CRC wrong") << QByteArray("unzip32") << QByteArray("zip-crc")
                                         << int(TENVO_ERR_DAMAGED);
    QTest::newRow("RAR 5, encrypted headers") << QByteArray("unrar32")
                                              << QByteArray("rar5-headers")
                                              << int(TENVO_ERR_ENCRYPTED);
    QTest::newRow("RAR 5, encrypted entry") << QByteArray("unrar32")
                                            << QByteArray("rar5-encrypted")
                                            << int(TENVO_ERR_ENCRYPTED);
    // -lh2- and -lh3- (LHarc 2 test versions) are not in Debian's liblhasa.
    for (const char *fixture : {"lzh2-lh2", "lzh1-lh3", "lzh3-lh2"}) {
        QTest::addRow("LZH, %s, sound data packed with a method no decoder here reads", fixture)
            << QByteArray("unlha32") << QByteArray(fixture) << int(TENVO_ERR_METHOD);
    }
}

void TestArchiverLibraries::damaged()
{
    QFETCH(QByteArray, library);
    QFETCH(QByteArray, format);
    QFETCH(int, result);

    // The folders a failed call made are gone again.
    const bool inFolders = format.endsWith("-folders");
    if (inFolders)
        format.chop(8);
    const QString archive = write(format, {FixtureEntry::file(inFolders ? "sub/inner/victim.txt" : "victim.txt",
                                                              QByteArray(5000, 'v').toStdString())});
    QVERIFY(!archive.isEmpty());
    QTemporaryDir destination;
    QFile old(destination.filePath("victim.txt"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();

    QByteArray message;
    const QByteArray switchText = library == "unlha32" || library == "7-zip32" ? "x " : "-x ";
    const int got = run(library, switchText, archive, destination.path(), &message);
    QVERIFY2(got == result, message.constData());
    QCOMPARE(folderTree(destination.path()), QStringList{"victim.txt = " + md5Hex("old")});
    // A method not read is told of the entry that uses it.
    if (result == TENVO_ERR_METHOD)
        QVERIFY2(message.contains("victim.txt"), message.constData());
}

void TestArchiverLibraries::lzhNamesAnyLocale_data()
{
    QTest::addColumn<QByteArray>("processLocale");
    QTest::newRow("C locale") << QByteArray("C");
    QTest::newRow("UTF-8 locale") << QByteArray("C.UTF-8");
}

void TestArchiverLibraries::lzhNamesAnyLocale()
{
    QFETCH(QByteArray, processLocale);

    // Level 0 keeps the whole path in the name with "\" between folders.
    const QString archive = write("lzh0", {FixtureEntry::file("\x95\x5c/\x83\x5c\x94\x5c.txt", "x"),
                                           FixtureEntry::file("plain.txt", "p")});
    QVERIFY(!archive.isEmpty());
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    QVERIFY(std::setlocale(LC_ALL, processLocale.constData()));
    QTemporaryDir destination;
    const int result = run("unlha32", "x ", archive, destination.path());
    std::setlocale(LC_ALL, previous.c_str());
    QCOMPARE(result, 0);
    QCOMPARE(folderTree(destination.path()),
             QStringList({"plain.txt = " + md5Hex("p"), QStringLiteral("表/"),
                          QStringLiteral("表/ソ能.txt = ") + md5Hex("x")}));
}

void TestArchiverLibraries::check_data()
{
    QTest::addColumn<QByteArray>("library");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("unlha32 accepts LZH level 0") << QByteArray("unlha32") << QByteArray("lzh0") << true;
    QTest::newRow("unlha32 accepts LZH level 2") << QByteArray("unlha32") << QByteArray("lzh2") << true;
    QTest::newRow("unlha32 accepts LZH level 3") << QByteArray("unlha32") << QByteArray("lzh3") << true;
    QTest::newRow("unlha32 accepts LZH packed with -lzs-") << QByteArray("unlha32")
                                                          << QByteArray("lzh0-lzs") << true;
    QTest::newRow("unlha32 accepts PMarc's -pm0-") << QByteArray("unlha32") << QByteArray("lzh1-pm0")
                                                   << true;
    QTest::newRow("unlha32 refuses a cut LZH packed with -lh1-") << QByteArray("unlha32")
                                                                 << QByteArray("lzh2-lh1-cut") << false;
    QTest::newRow("unlha32 accepts LZH with CP932 names") << QByteArray("unlha32")
                                                          << QByteArray("lzh0-cp932") << true;
    QTest::newRow("unlha32 refuses a cut LZH") << QByteArray("unlha32") << QByteArray("lzh2-cut")
                                               << false;
    QTest::newRow("unrar32 accepts RAR 5") << QByteArray("unrar32") << QByteArray("rar5") << true;
    QTest::newRow("unrar32 accepts RAR 4") << QByteArray("unrar32") << QByteArray("rar4") << true;
    QTest::newRow("unzip32 refuses RAR 5") << QByteArray("unzip32") << QByteArray("rar5") << false;
    QTest::newRow("7-zip32 refuses LZH") << QByteArray("7-zip32") << QByteArray("lzh2") << false;
    QTest::newRow("cab32 refuses LZH") << QByteArray("cab32") << QByteArray("lzh2") << false;
}

void TestArchiverLibraries::check()
{
    QFETCH(QByteArray, library);
    QFETCH(QByteArray, format);
    QFETCH(bool, accepted);

    FixtureEntries entries{FixtureEntry::file("a.txt", std::string(3000, 'a')),
                           FixtureEntry::file("b.txt", "b")};
    if (format.endsWith("-cp932")) {
        format.chop(6);
        entries = {FixtureEntry::file("\x95\x5c\x83\x5c.txt", "x")};
    }
    const QString archive = write(format, entries);
    QVERIFY(!archive.isEmpty());
    QCOMPARE(m_libraries.value(library).check(QFile::encodeName(archive).constData(), 0) != 0,
             accepted);
}

void TestArchiverLibraries::behindStub_data()
{
    QTest::addColumn<QByteArray>("library");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QByteArray>("layout");
    QTest::addColumn<int>("result");

    const int ok = TENVO_OK;
    QTest::newRow("ZIP behind a 1 KiB program, offsets as they were")
        << QByteArray("unzip32") << QByteArray("zip") << QByteArray("stub 1024") << ok;
    QTest::newRow("ZIP behind a 64 KiB program, offsets adjusted by zip -A")
        << QByteArray("7-zip32") << QByteArray("zip") << QByteArray("stub 65536 adjusted") << ok;
    QTest::newRow("ZIP behind a PK00 spanning mark")
        << QByteArray("unzip32") << QByteArray("zip") << QByteArray("pk00") << ok;
    QTest::newRow("ZIP with zero padding between and after records and in extra fields")
        << QByteArray("unzip32") << QByteArray("zip") << QByteArray("padding") << ok;
    QTest::newRow("ZIP whose extra fields are padded with bytes that read as no field")
        << QByteArray("unzip32") << QByteArray("zip") << QByteArray("padding ff") << ok;
    QTest::newRow("ZIP whose local and central extra fields end in empty type-0 fields and 3 zero bytes")
        << QByteArray("unzip32") << QByteArray("zip") << QByteArray("padding blocks") << ok;
    QTest::newRow("the same through 7-zip32")
        << QByteArray("7-zip32") << QByteArray("zip") << QByteArray("padding blocks") << ok;
    for (const char *level : {"lzh0", "lzh1", "lzh2", "lzh3", "lzh1-pm0"}) {
        QTest::addRow("%s behind a 1 KiB program", level)
            << QByteArray("unlha32") << QByteArray(level) << QByteArray("stub 1024") << ok;
        QTest::addRow("%s behind 60 KiB of bytes", level)
            << QByteArray("unlha32") << QByteArray(level) << QByteArray("stub 61440") << ok;
    }
    QTest::newRow("LZH starting past the first 64 KiB is refused")
        << QByteArray("unlha32") << QByteArray("lzh2") << QByteArray("stub 70000")
        << int(TENVO_ERR_FORMAT);
}

// Self-extracting archives renamed, and archives with bytes in front of,
// between or after their records.
void TestArchiverLibraries::behindStub()
{
    QFETCH(QByteArray, library);
    QFETCH(QByteArray, format);
    QFETCH(QByteArray, layout);
    QFETCH(int, result);

    const FixtureEntries entries{FixtureEntry::file("docs/a.txt", std::string(3000, 'a')),
                                 FixtureEntry::file("top.txt", "top")};
    std::string error;
    std::string bytes;
    if (format == "zip") {
        ZipOptions options;
        options.deflate = true;
        bytes = makeZip(entries, options, &error);
    } else {
        bytes = makeFixture(format, entries, error);
    }
    QVERIFY2(!bytes.empty(), error.c_str());

    const QList<QByteArray> words = layout.split(' ');
    if (words[0] == "stub") {
        // A program's start, then bytes that hold no archive header.
        std::string stub = "MZ";
        quint32 seed = 12345;
        while (stub.size() < words[1].toUInt()) {
            seed = seed * 1664525u + 1013904223u;
            stub += char('a' + (seed >> 24) % 26);
        }
        bytes = stub + bytes;
    } else if (words[0] == "pk00") {
        bytes = "PK00" + bytes;
    } else if (words[0] == "padding") {
        ZipPadding padding;
        padding.between = 37;
        padding.after = 100;
        padding.extraPadding = 6;
        if (words.value(1) == "ff") {
            padding.extraByte = '\xff';
        } else if (words.value(1) == "blocks") {
            padding.between = padding.after = padding.extraPadding = 0;
            // Type 0 of no bytes, type 0 of four zero bytes, then a tail too
            // short to be a field.
            padding.extraBlocks = std::string("\0\0\0\0" "\0\0\4\0\0\0\0\0" "\0\0\0", 15);
        }
        bytes = padZip(bytes, padding);
        QVERIFY(!bytes.empty());
    }
    const QString archive = m_work.filePath(QString("stub%1.bin").arg(++m_counter));
    QVERIFY(writeFixtureFile(archive, bytes));
    if (layout.endsWith(" adjusted")) {
        QProcess zip;
        zip.start("zip", {"-q", "-A", archive});
        if (!zip.waitForFinished() || zip.exitStatus() != QProcess::NormalExit)
            QSKIP("zip is not installed");
        QCOMPARE(zip.exitCode(), 0);
        QFile adjusted(archive);
        QVERIFY(adjusted.open(QIODevice::ReadOnly));
        QVERIFY2(adjusted.readAll().toStdString() != bytes, "zip -A changed the offsets");
    }

    QTemporaryDir destination;
    QByteArray message;
    const QByteArray switchText = library == "unzip32" ? "-x " : "x ";
    QCOMPARE(run(library, switchText, archive, destination.path(), &message), result);
    QCOMPARE(m_libraries.value(library).check(QFile::encodeName(archive).constData(), 0) != 0,
             result == TENVO_OK);
    if (result == TENVO_OK) {
        QCOMPARE(folderTree(destination.path()),
                 QStringList({"docs/", "docs/a.txt = " + md5Hex(QByteArray(3000, 'a')),
                              "top.txt = " + md5Hex("top")}));
    } else {
        QVERIFY(!message.isEmpty());
        QCOMPARE(folderTree(destination.path()), QStringList());
    }
}

void TestArchiverLibraries::volumeSets_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<int>("given");   // the volume handed to the library (0 the first)
    QTest::addColumn<int>("missing"); // a volume taken away, -1 none
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("landed");

    // A failed call leaves no empty folder it made.
    const QStringList all{"a.txt", "docs/", "docs/b.bin", "c.txt", "d.txt"};
    const int ok = TENVO_OK;
    const int volume = TENVO_ERR_VOLUME;
    QTest::newRow("RAR 4 set named .partN.rar, files spanning volumes") << QByteArray("rar4") << 0 << -1 << ok << all;
    QTest::newRow("RAR 4 set named .rar, .r00, .r01") << QByteArray("rar4-old") << 0 << -1 << ok << all;
    QTest::newRow("solid RAR 4 set") << QByteArray("rar4-solid") << 0 << -1 << ok << all;
    QTest::newRow("RAR 5 set, files spanning volumes") << QByteArray("rar5") << 0 << -1 << ok << all;
    QTest::newRow("RAR 4 set given its second volume writes nothing") << QByteArray("rar4") << 1 << -1 << volume << QStringList();
    QTest::newRow("RAR 4 set given its .r00 writes nothing") << QByteArray("rar4-old") << 1 << -1 << volume << QStringList();
    QTest::newRow("RAR 5 set given its third volume writes nothing") << QByteArray("rar5") << 2 << -1 << volume << QStringList();
    QTest::newRow("RAR 4 set without its last volume keeps the files held whole")
        << QByteArray("rar4") << 0 << 4 << volume << QStringList{"a.txt", "docs/", "docs/b.bin", "c.txt"};
    QTest::newRow("RAR 4 set without a middle volume keeps the files held whole before and after it")
        << QByteArray("rar4-old") << 0 << 2 << volume << QStringList{"a.txt", "c.txt", "d.txt"};
    QTest::newRow("RAR 4 set without its second volume keeps the files held whole")
        << QByteArray("rar4") << 0 << 1 << volume << QStringList{"a.txt", "c.txt", "d.txt"};
    QTest::newRow("solid RAR 4 set without a middle volume keeps the files before it")
        << QByteArray("rar4-solid") << 0 << 2 << volume << QStringList{"a.txt"};
    QTest::newRow("RAR 5 set without its last volume keeps the files held whole")
        << QByteArray("rar5") << 0 << 4 << volume << QStringList{"a.txt", "docs/", "docs/b.bin", "c.txt"};
    QTest::newRow("RAR 5 set without a middle volume keeps the files held whole before and after it")
        << QByteArray("rar5") << 0 << 2 << volume << QStringList{"a.txt", "c.txt", "d.txt"};
    QTest::newRow("RAR 5 set without its second volume keeps the files held whole")
        << QByteArray("rar5") << 0 << 1 << volume << QStringList{"a.txt", "c.txt", "d.txt"};
    // Numbered parts: the archive cut into five equal pieces, read joined.
    QTest::newRow("ZIP cut into x.zip.001 to .005") << QByteArray("zip-parts") << 0 << -1 << ok << all;
    QTest::newRow("LZH cut into x.lzh.001 to .005") << QByteArray("lzh2-parts") << 0 << -1 << ok << all;
    QTest::newRow("LZH cut into x.001 to .005") << QByteArray("lzh0-plain") << 0 << -1 << ok << all;
    QTest::newRow("7z cut into x.7z.001 to .005") << QByteArray("7z-parts") << 0 << -1 << ok << all;
    // 7z keeps its index at its end.
    QTest::newRow("7z parts without the last part write nothing")
        << QByteArray("7z-parts") << 0 << 4 << volume << QStringList();
    QTest::newRow("ZIP parts given the second part writes nothing")
        << QByteArray("zip-parts") << 1 << -1 << volume << QStringList();
    QTest::newRow("ZIP parts without the last part keep the files held whole")
        << QByteArray("zip-parts") << 0 << 4 << volume << QStringList{"a.txt", "docs/", "docs/b.bin", "c.txt"};
    QTest::newRow("ZIP parts without a middle part keep the files before it")
        << QByteArray("zip-parts") << 0 << 2 << volume << QStringList{"a.txt"};
    QTest::newRow("LZH parts without the last part keep the files held whole")
        << QByteArray("lzh2-parts") << 0 << 4 << volume << QStringList{"a.txt", "docs/", "docs/b.bin", "c.txt"};
    // zip -s 64k: set.z01, set.z02, set.zip.
    QTest::newRow("ZIP split by zip -s") << QByteArray("zip-split") << 2 << -1 << ok << all;
    QTest::newRow("ZIP split by zip -s without its first part")
        << QByteArray("zip-split") << 2 << 0 << volume << QStringList();
}

// Multi-volume sets written by the fixture writers: 4 KiB of data per
// volume, so b.bin spans four volumes and d.txt the last two. Archives cut
// into numbered parts are cut in five pieces of equal size.
void TestArchiverLibraries::volumeSets()
{
    QFETCH(QByteArray, format);
    QFETCH(int, given);
    QFETCH(int, missing);
    QFETCH(int, result);
    QFETCH(QStringList, landed);

    // zip -s cuts no part smaller than 64 KiB.
    const bool zipSplit = format == "zip-split";
    const std::map<QString, std::string> contents{
        {"a.txt", std::string(3000, 'a')}, {"docs/b.bin", pseudoRandomBytes(zipSplit ? 150000 : 10000, 5)},
        {"c.txt", "c"}, {"d.txt", pseudoRandomBytes(5000, 6)}};
    FixtureEntries entries{FixtureEntry::file("a.txt", contents.at("a.txt")), FixtureEntry::directory("docs"),
                           FixtureEntry::file("docs/b.bin", contents.at("docs/b.bin")),
                           FixtureEntry::file("c.txt", contents.at("c.txt")),
                           FixtureEntry::file("d.txt", contents.at("d.txt"))};
    std::vector<std::string> volumes;
    QStringList names;
    QTemporaryDir folder;
    if (zipSplit) {
        QTemporaryDir source;
        for (const auto &[name, data] : contents)
            QVERIFY(QDir(source.path()).mkpath(QFileInfo(name).path())
                    && writeFixtureFile(source.filePath(name), data));
        QProcess zip;
        zip.setWorkingDirectory(source.path());
        zip.start("zip", {"-q", "-r", "-s", "64k", folder.filePath("set.zip"), "a.txt", "docs", "c.txt", "d.txt"});
        QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
        names << folder.filePath("set.z01") << folder.filePath("set.z02") << folder.filePath("set.zip");
        for (const QString &name : std::as_const(names))
            QVERIFY(QFileInfo(name).isFile());
        if (missing >= 0)
            QVERIFY(QFile::remove(names[missing]));
    } else if (format.endsWith("-parts") || format.endsWith("-plain")) {
        std::string error;
        const QByteArray kind = format.left(format.indexOf('-'));
        const std::string whole = kind == "7z" ? make7z(entries, {}, &error) : makeFixture(kind, entries, error);
        QVERIFY2(!whole.empty(), error.c_str());
        const std::size_t size = (whole.size() + 4) / 5;
        const QString stem = format.endsWith("-plain") ? QString("set.") : "set." + QString(kind.left(3)) + ".";
        for (std::size_t i = 0; i < 5; ++i) {
            names << folder.filePath(stem + QString("%1").arg(i + 1, 3, 10, QChar('0')));
            if (int(i) != missing)
                QVERIFY(writeFixtureFile(names.last(), whole.substr(i * size, size)));
        }
    } else if (format.startsWith("rar5")) {
        volumes = makeRar5Volumes(entries, 4096);
    } else {
        Rar4Options options;
        options.solid = format.endsWith("-solid");
        volumes = makeRar4Volumes(entries, 4096, options, !format.endsWith("-old"));
    }
    QCOMPARE(volumes.size(), std::size_t(names.isEmpty() ? 5 : 0));

    for (std::size_t i = 0; i < volumes.size(); ++i) {
        QString name = QString("set.part%1.rar").arg(i + 1);
        if (format.endsWith("-old"))
            name = i == 0 ? QString("set.rar") : QString("set.r%1").arg(i - 1, 2, 10, QChar('0'));
        names << folder.filePath(name);
        if (int(i) != missing)
            QVERIFY(writeFixtureFile(names.last(), volumes[i]));
    }

    QTemporaryDir destination;
    QByteArray message;
    const QByteArray library = format.startsWith("zip") ? "unzip32"
        : format.startsWith("lzh")                      ? "unlha32"
        : format.startsWith("7z")                       ? "7-zip32"
                                                        : "unrar32";
    const QByteArray switchText = format.startsWith("lzh") || format.startsWith("7z") ? "x " : "-x ";
    QCOMPARE(run(library, switchText, names[given], destination.path() + "//", &message), result);
    QStringList expected;
    for (const QString &path : landed)
        expected << (path.endsWith('/') ? path : path + " = " + md5Hex(QByteArray::fromStdString(contents.at(path))));
    expected.sort();
    QCOMPARE(folderTree(destination.path()), expected);
    QVERIFY(result == TENVO_OK || !message.isEmpty());
}

// A FIFO with no writer, named like an archive: opening it for reading the
// usual way would block the caller for good.
void TestArchiverLibraries::fifoNamedLikeAnArchive()
{
    const QString fifo = m_work.filePath(QStringLiteral("waiting.zip"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QTemporaryDir destination;
    for (const auto &[library, switchText] :
         {std::pair<QByteArray, QByteArray>{"unzip32", "-x "}, {"7-zip32", "x "}, {"cab32", "-x "}, {"unlha32", "x "}}) {
        const ArchiverCalls calls = m_libraries.value(library);
        // Run apart, so that a call that blocks fails the test instead of hanging it.
        auto answers = std::make_shared<std::pair<std::atomic<int>, std::atomic<int>>>(-1, -1);
        std::thread([calls, fifo, switchText, answers, path = destination.path()] {
            answers->first = calls.check(QFile::encodeName(fifo).constData(), 0);
            answers->second = runArchiver(calls, switchText, fifo, path);
        }).detach();
        QTRY_VERIFY_WITH_TIMEOUT(answers->second != -1, 20000);
        QCOMPARE(answers->first.load(), 0);
        QCOMPARE(answers->second.load(), int(TENVO_ERR_OPEN));
    }
}

// Library calls made from several threads at once all land whole, and the
// decoders run in the decoder program, never in a fork of this threaded
// process.
void TestArchiverLibraries::callsFromManyThreadsAtOnce()
{
    const FixtureEntries entries{FixtureEntry::directory("docs/"), FixtureEntry::file("docs/a.txt", "alpha"),
                                 FixtureEntry::file("top.txt", "top")};
    const QString zip = write("zip", entries);
    const QString lzh = write("lzh2", entries);
    QVERIFY(!zip.isEmpty() && !lzh.isEmpty());
    QTemporaryDir out;
    // The caller's umask holds for every file, and is never changed, not
    // even for a moment (other threads create files meanwhile).
    ::umask(077);
    const int umaskSetsBefore = umaskSets.load();
    constexpr int threads = 4, rounds = 10;
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int r = 0; r < rounds; ++r) {
                const bool useZip = (t + r) % 2 == 0;
                const QString folder = out.filePath(QString("%1-%2/").arg(t).arg(r));
                QDir().mkpath(folder);
                const int result = runArchiver(m_libraries.value(useZip ? "unzip32" : "unlha32"),
                                               useZip ? "-x " : "x ", useZip ? zip : lzh, folder);
                if (result != 0)
                    ++failures;
            }
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    QCOMPARE(failures.load(), 0);
    const QStringList expected{"docs/", "docs/a.txt = " + md5Hex("alpha"), "top.txt = " + md5Hex("top")};
    QCOMPARE(umaskSets.load(), umaskSetsBefore);
    ::umask(022);
    for (int t = 0; t < threads; ++t) {
        for (int r = 0; r < rounds; ++r) {
            const QString folder = out.filePath(QString("%1-%2").arg(t).arg(r));
            QCOMPARE(folderTree(folder), expected);
            for (const char *name : {"/top.txt", "/docs/a.txt"})
                QCOMPARE(QFileInfo(folder + name).permissions() & 0x0077, QFileDevice::Permissions());
        }
    }

    const int decoderPrograms = int(childrenOf(::getpid(), "tenvo-decoder").size());
    // One per library that has been called, whatever the threads.
    QVERIFY2(decoderPrograms >= 2 && decoderPrograms <= 5, QByteArray::number(decoderPrograms));

    // A library copied without its decoder program refuses, writing nothing,
    // rather than fork a decoder from this threaded process (where the child
    // could dead-lock on a lock another thread held).
    QTemporaryDir alone;
    QVERIFY(QFile::copy(TENVO_BIN_DIR "/unzip32.so", alone.filePath("unzip32.so")));
    QString missing;
    const ArchiverCalls lonely = loadArchivers(QFile::encodeName(alone.path()), missing).value("unzip32");
    QVERIFY(lonely.command && lonely.handle != m_libraries.value("unzip32").handle);
    std::atomic<bool> done{false};
    std::thread other([&done] {
        while (!done.load())
            std::this_thread::yield();
    });
    const QString into = out.filePath("alone/");
    QVERIFY(QDir().mkpath(into));
    QByteArray message;
    const int result = runArchiver(lonely, "-x ", zip, into, &message);
    done = true;
    other.join();
    QCOMPARE(result, int(TENVO_ERR_DECODER));
    QVERIFY2(message.contains("tenvo-decoder"), message.constData());
    QCOMPARE(folderTree(into), QStringList());

    // Beside its decoder program but without the module of the decoding
    // libraries, a plain ZIP archive still lands whole (the engine reads it
    // by itself) and an LZH archive is refused, writing nothing.
    QTemporaryDir bare;
    for (const char *name : {"unzip32.so", "unlha32.so", "tenvo-decoder"})
        QVERIFY(QFile::copy(QStringLiteral(TENVO_BIN_DIR "/") + QLatin1String(name), bare.filePath(name)));
    const auto bareLibraries = loadArchivers(QFile::encodeName(bare.path()), missing);
    const QString zipInto = out.filePath("bare-zip/"), lzhInto = out.filePath("bare-lzh/");
    QVERIFY(QDir().mkpath(zipInto) && QDir().mkpath(lzhInto));
    QCOMPARE(runArchiver(bareLibraries.value("unzip32"), "-x ", zip, zipInto), int(TENVO_OK));
    QCOMPARE(folderTree(zipInto), expected);
    QByteArray refused;
    QCOMPARE(runArchiver(bareLibraries.value("unlha32"), "x ", lzh, lzhInto, &refused), int(TENVO_ERR_DECODER));
    QVERIFY2(refused.contains("tenvo-decoders.so"), refused.constData());
    QCOMPARE(folderTree(lzhInto), QStringList());
}

// A call stopped through its progress call ends with the stop result, or
// with success when it was done first; either way no temporary and no
// partial file is left.
void TestArchiverLibraries::stopLeavesNoPartialFile()
{
    const std::string big(48 << 20, 'z');
    const QString zip = write("zip", {FixtureEntry::file("big1.bin", big), FixtureEntry::file("big2.bin", big),
                                      FixtureEntry::file("small.txt", "small")});
    QVERIFY(!zip.isEmpty());
    const auto call = reinterpret_cast<WithProgress>(
        ::dlsym(m_libraries.value("unzip32").handle, "UnZipWithProgress"));
    QVERIFY(call);
    QTemporaryDir out;
    int asked = 0;
    const QByteArray line = commandLine("-x ", zip, out.path() + "/");
    const int result = call(nullptr, line.constData(), nullptr, 0,
                            [](void *context, unsigned long long, unsigned long long) {
                                ++*static_cast<int *>(context);
                                return 1;
                            },
                            &asked, 1);
    QVERIFY2(result == TENVO_ERR_STOPPED || result == 0, QByteArray::number(result));
    if (result == TENVO_ERR_STOPPED)
        QCOMPARE(asked, 1);
    for (const QString &entry : folderTree(out.path())) {
        QVERIFY2(!entry.contains(".tenvo-"), qPrintable(entry));
        QVERIFY2(entry.startsWith("small.txt") || entry.endsWith(md5Hex(QByteArray::fromStdString(big))),
                 qPrintable(entry));
    }
}

void TestArchiverLibraries::entriesSharedAmongProcesses_data()
{
    QTest::addColumn<QByteArray>("library");
    QTest::addColumn<QByteArray>("switchText");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QByteArray>("kind");

    QTest::newRow("ZIP, restore") << QByteArray("unzip32") << QByteArray("-x ") << QByteArray("zip")
                                  << QByteArray("plain");
    QTest::newRow("ZIP, flatten, one name in many folders and a stored numbered name")
        << QByteArray("unzip32") << QByteArray("-x -j ") << QByteArray("zip") << QByteArray("twins");
    QTest::newRow("ZIP, restore, one path stored twice: the later one stays")
        << QByteArray("unzip32") << QByteArray("-x ") << QByteArray("zip") << QByteArray("twins");
    QTest::newRow("ZIP, a link among the files") << QByteArray("unzip32") << QByteArray("-x ")
                                                 << QByteArray("zip") << QByteArray("link");
    QTest::newRow("ZIP, a damaged entry: the same result and files")
        << QByteArray("unzip32") << QByteArray("-x ") << QByteArray("zip-crc") << QByteArray("plain");
    QTest::newRow("ZIP, restore, long names cut alike: the same names and list")
        << QByteArray("unzip32") << QByteArray("-x ") << QByteArray("zip") << QByteArray("long");
    QTest::newRow("ZIP, flatten, long names cut alike: the same names and list")
        << QByteArray("unzip32") << QByteArray("-x -j ") << QByteArray("zip") << QByteArray("long");
    QTest::newRow("LZH, restore") << QByteArray("unlha32") << QByteArray("x ") << QByteArray("lzh2")
                                  << QByteArray("plain");
    QTest::newRow("LZH, flatten, one name in many folders")
        << QByteArray("unlha32") << QByteArray("e ") << QByteArray("lzh2") << QByteArray("twins");
    QTest::newRow("RAR 4, restore, one path stored twice: the later one stays")
        << QByteArray("unrar32") << QByteArray("-x ") << QByteArray("rar4") << QByteArray("twins");
    QTest::newRow("RAR 4, solid: decoded by one process")
        << QByteArray("unrar32") << QByteArray("-x ") << QByteArray("rar4-solid") << QByteArray("plain");
    QTest::newRow("RAR 5, restore, a link among the files")
        << QByteArray("unrar32") << QByteArray("-x ") << QByteArray("rar5") << QByteArray("link");
    QTest::newRow("RAR 5, a damaged entry: the same result and files")
        << QByteArray("unrar32") << QByteArray("-x ") << QByteArray("rar5-crc") << QByteArray("twins");
    QTest::newRow("CAB of several MSZIP folders, restore")
        << QByteArray("cab32") << QByteArray("-x ") << QByteArray("cab-folders") << QByteArray("plain");
    QTest::newRow("CAB of several stored folders, flatten, one name in many cabinet folders")
        << QByteArray("cab32") << QByteArray("-x -j ") << QByteArray("cab-folders-stored")
        << QByteArray("twins");
    QTest::newRow("CAB of several folders, restore, one path stored in two cabinet folders")
        << QByteArray("cab32") << QByteArray("-x ") << QByteArray("cab-folders") << QByteArray("twins");
    QTest::newRow("CAB of several folders, a block failing its checksum: the same result and files")
        << QByteArray("cab32") << QByteArray("-x ") << QByteArray("cab-folders-checksum")
        << QByteArray("plain");
    QTest::newRow("CAB of several folders with reserved areas, restore")
        << QByteArray("cab32") << QByteArray("-x ") << QByteArray("cab-folders-reserve")
        << QByteArray("plain");
}

// Several processes sharing one archive's entries leave the same files under
// the same names and give the same result as one process.
void TestArchiverLibraries::entriesSharedAmongProcesses()
{
    QFETCH(QByteArray, library);
    QFETCH(QByteArray, switchText);
    QFETCH(QByteArray, format);
    QFETCH(QByteArray, kind);

    FixtureEntries entries;
    for (int i = 0; i < 40; ++i)
        entries.push_back(FixtureEntry::file(QString("d%1/f%2.txt").arg(i % 4).arg(i).toStdString(),
                                             "data " + std::to_string(i)));
    if (kind == "twins") {
        for (const char *name : {"a/readme.txt", "b/readme.txt", "c/readme (2).txt", "readme.txt",
                                 "d1/f5.txt", "e/readme (2) (2).txt", "f/readme.txt"})
            entries.push_back(FixtureEntry::file(name, std::string("twin ") + name));
    }
    if (kind == "long") {
        const std::string folder(300, 'F'), name(300, 'n');
        for (const std::string &stored : {folder + "/" + name + "1.txt", "d2/" + name + "2.txt",
                                          folder + "/" + name + "2.txt", name + "1.txt"})
            entries.push_back(FixtureEntry::file(stored, "long " + stored));
    }
    if (kind == "link") {
        entries.insert(entries.begin() + 10, FixtureEntry::symlink("d0/link", "f0.txt"));
        entries.insert(entries.begin() + 11, FixtureEntry::symlink("d1/out", "../../outside"));
    }
    const QString archive = write(format, entries);
    QVERIFY(!archive.isEmpty());
    const QByteArray prefix = library == "unzip32" ? "UnZip"
        : library == "cab32"                       ? "Cab"
        : library == "unrar32"                     ? "Unrar"
                                                   : "Unlha";
    const auto call = reinterpret_cast<WithProgress>(
        ::dlsym(m_libraries.value(library).handle, prefix + "WithProgress"));
    QVERIFY(call);

    // Every archive is shared, however small.
    qputenv("TENVO_SHARE_MIN_BYTES", "0");
    int firstResult = -1;
    QStringList firstTree;
    QByteArray firstShortened;
    for (const int processes : {1, 2, 3}) {
        QTemporaryDir out;
        char message[8192] = {};
        const QByteArray line = commandLine(switchText, archive, out.path() + "/");
        const int result = call(nullptr, line.constData(), message, sizeof message, nullptr, nullptr,
                                processes);
        const QStringList tree = folderTree(out.path());
        // The shortened names listed after the first line.
        const QByteArray shortened = QByteArray(message).mid(QByteArray(message).indexOf('\n') + 1);
        if (processes == 1) {
            firstResult = result;
            firstTree = tree;
            firstShortened = shortened;
            if (kind == "long")
                QVERIFY2(shortened.startsWith(switchText == "-x " ? "shortened\t5\n" : "shortened\t4\n"), message);
            QVERIFY(!tree.isEmpty());
            // What the fixture holds lands, so the runs compare real files.
            if (switchText == "-x " && format != "zip-crc" && !format.endsWith("-crc")
                && !format.endsWith("-checksum"))
                QVERIFY2(tree.contains("d3/f39.txt = " + md5Hex("data 39")), qPrintable(tree.join('\n')));
            continue;
        }
        QCOMPARE(result, firstResult);
        QCOMPARE(tree, firstTree);
        if (kind == "long") {
            QList<QByteArray> got = shortened.split('\n'), expected = firstShortened.split('\n');
            std::sort(got.begin(), got.end());
            std::sort(expected.begin(), expected.end());
            QCOMPARE(got, expected);
        }
        // A solid archive is decoded in order by one process.
        if (result == 0)
            QVERIFY2(QByteArray(message).split('\n').first().endsWith("by " + QByteArray::number(processes) + " processes")
                         == !format.endsWith("-solid"),
                     message);
    }
    qunsetenv("TENVO_SHARE_MIN_BYTES");
}


// A decoder program killed during a call: the call says the extraction
// process ended (not that the archive is damaged), its temporaries are
// swept, no ended process is left unwaited, and the next call starts a new
// program. Temporaries that a run killed outright left in a folder go when
// the next run writes there; those of running processes stay.
void TestArchiverLibraries::decoderProgramKilledMidCall()
{
    const auto call = reinterpret_cast<WithProgress>(
        ::dlsym(m_libraries.value("unzip32").handle, "UnZipWithProgress"));
    QVERIFY(call && !bigZip().isEmpty());
    QTemporaryDir out;
    // A watcher, not the progress call: a fast decoder may be done before
    // the first progress call comes.
    std::atomic<bool> callsDone = false;
    std::atomic<bool> killed = false;
    std::thread watcher([&, folder = out.path()] {
        const auto writing = [&folder] {
            const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
            return std::any_of(names.begin(), names.end(),
                               [](const QString &name) { return name.startsWith(u".tenvo-"); });
        };
        while (!callsDone && !killed) {
            pid_t program = -1;
            const pid_t child = runningDecoderChild(&program);
            if (child > 0 && writing() && freeze(child)) {
                if (writing()) {
                    ::kill(program, SIGKILL);
                    killed = true;
                }
                ::kill(child, SIGCONT);
            }
            ::usleep(200);
        }
    });
    int result = 0;
    for (int attempt = 0; attempt < 5 && !killed; ++attempt) {
        const QByteArray line = commandLine("-x ", bigZip(), out.path() + "/");
        result = call(nullptr, line.constData(), nullptr, 0,
                      [](void *, unsigned long long, unsigned long long) { return 0; }, nullptr, 1);
    }
    callsDone = true;
    watcher.join();
    QVERIFY(killed);
    QCOMPARE(result, int(TENVO_ERR_ENDED));
    QVERIFY2(!holdsTemporary(out.path()), qPrintable(folderTree(out.path()).join('\n')));
    QCOMPARE(zombieChildren(), QList<pid_t>());

    // Left by processes gone and by one running (this one).
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    QVERIFY(gone > 0 && ::waitpid(gone, nullptr, 0) == gone);
    QVERIFY(QDir(out.path()).mkpath("docs"));
    const QStringList stale{QString(".tenvo-%1-1.tmp").arg(gone), QString("docs/.tenvo-%1-7.tmp").arg(gone)};
    const QString alive = QString(".tenvo-%1-1.tmp").arg(::getpid());
    for (const QString &name : stale + QStringList{alive}) {
        QFile file(out.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("part") == 4);
    }
    const QString zip = write("zip", {FixtureEntry::file("docs/a.txt", "alpha"), FixtureEntry::file("top.txt", "top")});
    QCOMPARE(run("unzip32", "-x ", zip, out.path() + "/"), 0);
    const QStringList tree = folderTree(out.path());
    QVERIFY2(tree.contains(alive + " = " + md5Hex("part")), qPrintable(tree.join('\n')));
    for (const QString &name : stale)
        QVERIFY2(!tree.contains(name + " = " + md5Hex("part")), qPrintable(tree.join('\n')));
    QVERIFY(tree.contains("docs/a.txt = " + md5Hex("alpha")));
}

// A stop returns even when the decoder program does not answer (stopped
// here with SIGSTOP): the library ends it and its processes, sweeps their
// temporaries, and the next call runs on a new program.
void TestArchiverLibraries::stopWhenTheDecoderProgramDoesNotAnswer()
{
    const auto call = reinterpret_cast<WithProgress>(
        ::dlsym(m_libraries.value("unzip32").handle, "UnZipWithProgress"));
    QVERIFY(call && !bigZip().isEmpty());
    QTemporaryDir out;
    struct State {
        std::atomic<pid_t> program{-1};
        std::atomic<int> result{-1};
    };
    auto state = std::make_shared<State>();
    // The call is still at work when asked to stop.
    DecoderChildHolder holder;
    // Whatever happens here, no decoder program is left frozen for the
    // tests after this one (a call that ended before the freeze leaves it
    // running on).
    const auto thaw = qScopeGuard([&holder] {
        holder.release();
        for (const pid_t program : childrenOf(::getpid(), "tenvo-decoder"))
            ::kill(program, SIGCONT);
    });
    std::thread([call, state, line = commandLine("-x ", bigZip(), out.path() + "/")] {
        int result = 0;
        for (int attempt = 0; attempt < 5 && result != TENVO_ERR_STOPPED; ++attempt) {
            // A program frozen only after it had answered (a busy machine)
            // is let go, and the call is made again.
            if (state->program > 0)
                ::kill(state->program.exchange(-1), SIGCONT);
            result = call(nullptr, line.constData(), nullptr, 0,
                          [](void *context, unsigned long long, unsigned long long) {
                              State &state = *static_cast<State *>(context);
                              if (state.program > 0)
                                  return 1;
                              pid_t program = -1;
                              if (runningDecoderChild(&program) < 0 || !freeze(program))
                                  return 0;
                              state.program = program;
                              return 1;
                          },
                          state.get(), 1);
        }
        state->result = result;
    }).detach();
    QTRY_VERIFY_WITH_TIMEOUT(state->result != -1, 20000);
    holder.release();
    if (state->result == -1 && state->program > 0)
        ::kill(state->program, SIGCONT); // let the hung call go
    QCOMPARE(state->result.load(), int(TENVO_ERR_STOPPED));
    QVERIFY2(!holdsTemporary(out.path()), qPrintable(folderTree(out.path()).join('\n')));
    QCOMPARE(zombieChildren(), QList<pid_t>());
    QVERIFY(childrenOf(::getpid(), "tenvo-decoder").count(state->program) == 0);
    QTemporaryDir again;
    const QString zip = write("zip", {FixtureEntry::file("top.txt", "top")});
    QCOMPARE(run("unzip32", "-x ", zip, again.path() + "/"), 0);
}

// The decoder processes are kept apart from their caller: the terminal's
// keys, sent to the caller's process group, do not end them (the caller
// stops the call itself and gets the stop, not a damaged archive), and no
// descriptor of the caller, nor any other call's socket, reaches them;
// the child that decodes runs without new privileges and under a filter.
void TestArchiverLibraries::decoderProcessesApartFromTheCaller()
{
    QVERIFY(!bigZip().isEmpty());
    QTemporaryDir out;
    const QString note = m_work.filePath("notes.txt");
    QFile file(note);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("notes") == 5);
    file.close();
    QProcess caller;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TENVO_TEST_TERMINAL_CALLER", "1");
    caller.setProcessEnvironment(environment);
    caller.start(QCoreApplication::applicationFilePath(), {bigZip(), out.path() + "/", note});
    QVERIFY(caller.waitForFinished(60000));
    QCOMPARE(caller.exitCode(), 0);
    const QList<QByteArray> report = caller.readAllStandardOutput().simplified().split(' ');
    QCOMPARE(report.size(), 7);
    QCOMPARE(report[1], QByteArray("1")); // the call was caught at work
    // The child that decodes runs without new privileges, under a filter.
    QCOMPARE(report[6], QByteArray("1"));
    // The decoder program outlived the signals: it was there when the call
    // looked again, or the call ended whole before it looked again.
    QVERIFY2(report[5] == "1" || (report[5] == "-1" && report[0] == "0"), report.join(' ').constData());
    // Descriptors: the caller's in the decoder program and its child,
    // sockets in the child.
    QCOMPARE(report[2] + ' ' + report[4] + ' ' + report[3], QByteArray("0 0 0"));
    // Stopped by the caller, or done before the stop was seen.
    QVERIFY2(report[0].toInt() == TENVO_ERR_STOPPED || report[0].toInt() == 0, report[0].constData());
    QVERIFY2(!holdsTemporary(out.path()), qPrintable(folderTree(out.path()).join('\n')));
}

void TestArchiverLibraries::passwordLeftInNoMemory_data()
{
    QTest::addColumn<QByteArray>("password"); // masked
    QTest::newRow("a short password, kept inside the string objects")
        << masked("Qv7#kz!Wd2pX");
    QTest::newRow("a long password, kept on the heap")
        << masked("Mj4&tLq9-Rz!xE2u@Hb7_Nc5^Wp8=Ys3%Kd6+Gf1");
}

// Once a call with a password returns, no copy of the password is left in
// this process (the library's side) nor in the decoder program.
void TestArchiverLibraries::passwordLeftInNoMemory()
{
    QFETCH(QByteArray, password);
    // The fixture is written by another process: what its writer keeps of
    // the password is not the libraries' doing.
    const QString archive = m_work.filePath(QString("secret%1.zip").arg(++m_counter));
    QProcess writer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TENVO_TEST_SECRET_WRITER", "1");
    writer.setProcessEnvironment(environment);
    writer.start(QCoreApplication::applicationFilePath(), {archive, QString::fromLatin1(password.toHex())});
    QVERIFY(writer.waitForFinished(60000) && writer.exitCode() == 0);

    QTemporaryDir out;
    const QByteArray tail = "\" \"" + QFile::encodeName(archive) + "\" \"" + QFile::encodeName(out.path()) + "/\"";
    QByteArray line(int(3 + 3 + password.size() + tail.size()), '\0');
    std::memcpy(line.data(), "-x \"-p", 6);
    for (qsizetype i = 0; i < password.size(); ++i)
        line[6 + i] = char(password[i] ^ kMask);
    std::memcpy(line.data() + 6 + password.size(), tail.constData(), std::size_t(tail.size()));
    line.resize(6 + password.size() + tail.size());
    const int result = m_libraries.value("unzip32").command(nullptr, line.constData(), nullptr, 0);
    ::explicit_bzero(line.data(), std::size_t(line.size()));
    QCOMPARE(result, 0);
    QCOMPARE(folderTree(out.path()), QStringList{"secret.txt = " + md5Hex("hidden")});

    const QList<pid_t> programs = childrenOf(::getpid(), "tenvo-decoder");
    QVERIFY(!programs.isEmpty());
    bool programHolds = false;
    for (const pid_t program : programs)
        programHolds = memoryHolds(program, password) || programHolds;
    const bool libraryHolds = memoryHolds(::getpid(), password);
    QVERIFY2(!libraryHolds && !programHolds,
             libraryHolds && programHolds ? "the library and the decoder program keep the password"
                 : libraryHolds           ? "the library keeps the password"
                                          : "the decoder program keeps the password");
}

// The test program doubles as the processes some tests run apart.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("TENVO_TEST_TERMINAL_CALLER") && argc == 4)
        return terminalCaller(argv[1], argv[2], argv[3]);
    if (qEnvironmentVariableIsSet("TENVO_TEST_SECRET_WRITER") && argc == 3) {
        ZipOptions options;
        const QByteArray password = QByteArray::fromHex(argv[2]);
        for (const char c : password)
            options.password.push_back(char(c ^ kMask));
        return writeZip(QFile::decodeName(argv[1]), {FixtureEntry::file("secret.txt", "hidden")}, options) ? 0 : 1;
    }
    QCoreApplication app(argc, argv);
    TestArchiverLibraries test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_archiverlibraries.moc"

// The safe writer fed with hand-made entries: where each lands, what is
// refused, and that nothing ever lands outside the destination.
#include "namecodec.h"
#include "safewriter.h"

#include <QtTest>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tenvo::engine;

namespace {

// One entry as a decoder would hand it over, plus how its decoding ends.
struct FakeEntry {
    EntryKind kind = EntryKind::File;
    QByteArray name;
    QByteArray data;
    QByteArray link;
    uint32_t mode = 0;
    int64_t mtime = INT64_MIN;
    bool nameIsUtf8 = false;
    bool encrypted = false;
    TenvoResult outcome = TENVO_OK;
};

FakeEntry file(const QByteArray &name, const QByteArray &data = "x", uint32_t mode = 0)
{
    FakeEntry e;
    e.name = name;
    e.data = data;
    e.mode = mode;
    return e;
}

FakeEntry folder(const QByteArray &name)
{
    FakeEntry e;
    e.kind = EntryKind::Directory;
    e.name = name;
    return e;
}

FakeEntry symLink(const QByteArray &name, const QByteArray &target)
{
    FakeEntry e;
    e.kind = EntryKind::Symlink;
    e.name = name;
    e.link = target;
    return e;
}

FakeEntry hardLink(const QByteArray &name, const QByteArray &target)
{
    FakeEntry e;
    e.kind = EntryKind::Hardlink;
    e.name = name;
    e.link = target;
    return e;
}

FakeEntry device(const QByteArray &name)
{
    FakeEntry e;
    e.kind = EntryKind::Other;
    e.name = name;
    return e;
}

FakeEntry damaged(const QByteArray &name, const QByteArray &partialData)
{
    FakeEntry e = file(name, partialData);
    e.outcome = TENVO_ERR_DAMAGED;
    return e;
}

FakeEntry encrypted(const QByteArray &name)
{
    FakeEntry e = file(name, "secret");
    e.encrypted = true;
    return e;
}

// Feeds entries to the writer the way a decoder does.
void feed(SafeWriter &writer, const QList<FakeEntry> &entries)
{
    for (const FakeEntry &e : entries) {
        EntryInfo info;
        info.rawName = e.name.toStdString();
        info.nameIsUtf8 = e.nameIsUtf8;
        info.kind = e.kind;
        info.linkTarget = e.link.toStdString();
        info.mode = e.mode;
        info.size = e.data.size();
        info.mtime = e.mtime;
        info.encrypted = e.encrypted;
        if (writer.beginEntry(info)) {
            for (qsizetype at = 0; at < e.data.size(); at += 65536) {
                if (!writer.entryData(e.data.constData() + at,
                                      std::min<qsizetype>(65536, e.data.size() - at)))
                    break;
            }
        }
        writer.endEntry(e.outcome, e.outcome == TENVO_OK ? std::string() : "bad data");
    }
    writer.finish();
}

// Everything under folder, not following links: "a/" for a folder,
// "a -> t" for a link, "a = content" for a file.
void listTree(const QByteArray &folder, const QByteArray &prefix, QStringList &out)
{
    DIR *dir = opendir(folder.constData());
    if (!dir)
        return;
    while (dirent *d = readdir(dir)) {
        const QByteArray name = d->d_name;
        if (name == "." || name == "..")
            continue;
        const QByteArray path = folder + '/' + name;
        const QByteArray shown = prefix + name;
        struct stat st;
        lstat(path.constData(), &st);
        if (S_ISDIR(st.st_mode)) {
            out << QString::fromUtf8(shown + '/');
            listTree(path, shown + '/', out);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = readlink(path.constData(), target, sizeof target);
            out << QString::fromUtf8(shown + " -> " + QByteArray(target, int(n)));
        } else {
            QFile f(QString::fromUtf8(path));
            f.open(QIODevice::ReadOnly);
            out << QString::fromUtf8(shown + " = " + f.readAll());
        }
    }
    closedir(dir);
    out.sort();
}

QStringList tree(const QString &folder)
{
    QStringList out;
    listTree(folder.toUtf8(), QByteArray(), out);
    return out;
}

mode_t modeOf(const QString &path)
{
    struct stat st;
    if (lstat(path.toUtf8().constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

} // namespace

Q_DECLARE_METATYPE(FakeEntry)

class TestSafeWriter : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void entries_data();
    void entries();
    void shortenedNames_data();
    void shortenedNames();
    void longPathFitsFromTheRoot();
    void modes_data();
    void modes();
    void times();
    void largeFileInChunks();
    void destinationMustExist();
    void decodeName_data();
    void decodeName();
    void escapeForMessage_data();
    void escapeForMessage();
    void outputBuffer();
    void unfinishedEntryIsDropped();

private:
    QTemporaryDir m_root;
};

void TestSafeWriter::initTestCase()
{
    QVERIFY(m_root.isValid());
    ::umask(022);
}

void TestSafeWriter::entries_data()
{
    QTest::addColumn<bool>("flatten");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QList<FakeEntry>>("entries");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("expected");

    using L = QList<FakeEntry>;
    using S = QStringList;
    const int ok = TENVO_OK;
    const int unsafe = TENVO_ERR_UNSAFE;
    const int write = TENVO_ERR_WRITE;

    QTest::newRow("folder and file land")
        << false << "" << L{folder("a/"), file("a/b.txt", "hello")} << ok
        << S{"a/", "a/b.txt = hello"};
    QTest::newRow("file whose folders are not listed")
        << false << "" << L{file("p/q/r.txt")} << ok << S{"p/", "p/q/", "p/q/r.txt = x"};
    QTest::newRow("backslash separates folders")
        << false << "" << L{file("win\\dir\\f.txt")} << ok
        << S{"win/", "win/dir/", "win/dir/f.txt = x"};
    QTest::newRow("dot and empty components are dropped")
        << false << "" << L{file("./a//./b.txt")} << ok << S{"a/", "a/b.txt = x"};

    QTest::newRow("parent component refused")
        << false << "" << L{file("../x")} << unsafe << S{};
    QTest::newRow("absolute path refused")
        << false << "" << L{file("/abs")} << unsafe << S{};
    QTest::newRow("drive prefix refused")
        << false << "" << L{file("C:\\x")} << unsafe << S{};
    QTest::newRow("backslash parent refused")
        << false << "" << L{file("..\\x")} << unsafe << S{};
    QTest::newRow("backslash absolute refused")
        << false << "" << L{file("\\\\server\\share\\x")} << unsafe << S{};
    QTest::newRow("parent component in the middle refused")
        << false << "" << L{file("a/./b/../c.txt")} << unsafe << S{};
    QTest::newRow("refused entry does not stop the others")
        << false << "" << L{file("../x"), file("ok.txt")} << unsafe << S{"ok.txt = x"};

    QTest::newRow("symlink out refused")
        << false << "" << L{symLink("evil", "../outside")} << unsafe << S{};
    QTest::newRow("absolute symlink refused")
        << false << "" << L{symLink("evil", "/etc/passwd")} << unsafe << S{};
    QTest::newRow("symlink climbing out after a folder refused")
        << false << "" << L{symLink("a/l", "x/../../..")} << unsafe << S{};
    QTest::newRow("symlink inside lands")
        << false << "" << L{file("a.txt"), symLink("sub/link", "../a.txt")} << ok
        << S{"a.txt = x", "sub/", "sub/link -> ../a.txt"};
    QTest::newRow("symlink target is folded lexically")
        << false << "" << L{symLink("a/b", ".."), symLink("x", "a/b/../..")} << ok
        << S{"a/", "a/b -> ..", "x -> ."};
    QTest::newRow("symlink then file through it")
        << false << "" << L{folder("sub/"), symLink("shared", "sub"), file("shared/p")} << unsafe
        << S{"shared -> sub"};
    QTest::newRow("refused symlink then file of its name as folder")
        << false << "" << L{symLink("esc", "../outside"), file("esc/p")} << unsafe
        << S{"esc/", "esc/p = x"};
    QTest::newRow("pre-planted symlink in the destination is not followed")
        << false << "plant" << L{file("shared/p")} << unsafe << S{"shared -> OUTSIDE"};
    QTest::newRow("pre-planted symlink as a folder entry is refused")
        << false << "plant" << L{folder("shared/")} << unsafe << S{"shared -> OUTSIDE"};
    QTest::newRow("pre-planted symlink replaced by a file, not written through")
        << false << "plant" << L{file("shared", "mine")} << ok << S{"shared = mine"};
    QTest::newRow("symlink then regular file of the same name")
        << false << "" << L{file("b.txt", "keep"), symLink("a", "b.txt"), file("a", "new")} << ok
        << S{"a = new", "b.txt = keep"};

    QTest::newRow("hardlink inside lands")
        << false << "" << L{file("f", "data"), hardLink("g", "f")} << ok
        << S{"f = data", "g = data"};
    QTest::newRow("hardlink outside refused")
        << false << "" << L{hardLink("h", "../outside/x")} << unsafe << S{};
    QTest::newRow("hardlink to an absolute path refused")
        << false << "" << L{hardLink("h", "/etc/passwd")} << unsafe << S{};
    QTest::newRow("hardlink to a missing file refused")
        << false << "" << L{hardLink("h", "nothing")} << unsafe << S{};
    QTest::newRow("hardlink to a symlink refused")
        << false << "" << L{file("f"), symLink("l", "f"), hardLink("h", "l")} << unsafe
        << S{"f = x", "l -> f"};
    QTest::newRow("hardlink through a planted symlink refused")
        << false << "plant" << L{hardLink("h", "shared/secret")} << unsafe
        << S{"shared -> OUTSIDE"};
    QTest::newRow("hardlink over its own target")
        << false << "" << L{file("f", "data"), hardLink("f", "f")} << ok << S{"f = data"};

    QTest::newRow("device or FIFO refused, nothing created")
        << false << "" << L{device("dev/null0"), device("fifo")} << unsafe << S{};

    QTest::newRow("300-byte name lands shortened")
        << false << "" << L{file(QByteArray(300, 'n'))} << ok << S{QString(255, 'n') + " = x"};
    QTest::newRow("two long names cut alike stay apart, extension kept")
        << false << "" << L{file(QByteArray(300, 'a') + "1.txt", "1"), file(QByteArray(300, 'a') + "2.txt", "2")}
        << ok << S{QString(247, 'a') + " (2).txt = 2", QString(251, 'a') + ".txt = 1"};
    QTest::newRow("long CP932 name cut on a character boundary")
        << false << "" << L{file(QByteArray("\x95\x5c").repeated(120) + ".txt")} << ok
        << S{QStringLiteral("表").repeated(83) + ".txt = x"};
    QTest::newRow("long folder shortened once, its files follow it")
        << false << "" << L{file(QByteArray(300, 'n') + "/a.txt", "1"), file(QByteArray(300, 'n') + "/b.txt", "2")}
        << ok << S{QString(255, 'n') + "/", QString(255, 'n') + "/a.txt = 1", QString(255, 'n') + "/b.txt = 2"};
    QTest::newRow("flatten shortens a long name")
        << true << "" << L{file("d/" + QByteArray(300, 'x') + ".txt")} << ok
        << S{QString(251, 'x') + ".txt = x"};
    QTest::newRow("255-byte component lands")
        << false << "" << L{file(QByteArray(255, 'n'), "y")} << ok
        << S{QString(255, 'n') + " = y"};
    QByteArray deep;
    for (int i = 0; i < 600; ++i)
        deep += "d/";
    QTest::newRow("path deeper than 512 folders refused")
        << false << "" << L{file(deep + "f")} << unsafe << S{};


    QTest::newRow("newline in a name lands")
        << false << "" << L{file("new\nline.txt")} << ok << S{"new\nline.txt = x"};
    QTest::newRow("same name twice, the last wins")
        << false << "" << L{file("a.txt", "one"), file("a.txt", "two")} << ok
        << S{"a.txt = two"};

    QTest::newRow("CP932 name with 0x5C second bytes")
        << false << "" << L{file("\x95\x5c\x83\x5c\x94\x5c.txt")} << ok
        << S{QStringLiteral("表ソ能.txt = x")};
    QTest::newRow("CP932 name with a backslash folder separator")
        << false << "" << L{file("dir\\\x95\x5c\\\x83\x5c.txt")} << ok
        << S{"dir/", QStringLiteral("dir/表/"), QStringLiteral("dir/表/ソ.txt = x")};
    QTest::newRow("CP932 folder entry then file")
        << false << "" << L{folder("\x94\x5c\\"), file("\x94\x5c\\a.txt")} << ok
        << S{QStringLiteral("能/"), QStringLiteral("能/a.txt = x")};
    QTest::newRow("UTF-8 name stays UTF-8")
        << false << "" << L{file("日本語/ファイル.txt")} << ok
        << S{QStringLiteral("日本語/"), QStringLiteral("日本語/ファイル.txt = x")};
    QTest::newRow("bytes neither UTF-8 nor CP932 become %XX")
        << false << "" << L{file("bad\xff\xfe.txt")} << ok << S{"bad%FF%FE.txt = x"};
    FakeEntry marked = file("a\xff.txt");
    marked.nameIsUtf8 = true;
    QTest::newRow("name marked UTF-8 keeps bad bytes as %XX, no CP932")
        << false << "" << L{marked} << ok << S{"a%FF.txt = x"};
    QTest::newRow("CP932 link target decoded")
        << false << "" << L{file("\x95\x5c.txt"), symLink("l", "\x95\x5c.txt")} << ok
        << S{QStringLiteral("l -> 表.txt"), QStringLiteral("表.txt = x")};

    QTest::newRow("damaged entry leaves no file")
        << false << "" << L{damaged("d.txt", "partial")} << int(TENVO_ERR_DAMAGED) << S{};
    QTest::newRow("damaged entry keeps an existing file")
        << false << "keep" << L{damaged("keep.txt", "partial")} << int(TENVO_ERR_DAMAGED)
        << S{"keep.txt = old"};
    QTest::newRow("good entry replaces an existing file")
        << false << "keep" << L{file("keep.txt", "new")} << ok << S{"keep.txt = new"};
    QTest::newRow("failed archive removes the folders it made that stayed empty")
        << false << "" << L{folder("sub/"), folder("sub/inner/"), encrypted("sub/inner/e.txt"),
                            damaged("文書/サブ/d.txt", "p")}
        << int(TENVO_ERR_ENCRYPTED) << S{};
    QTest::newRow("failed archive keeps folders that hold files and those that were there")
        << false << "emptydir" << L{file("a/ok.txt"), folder("a/empty/"), damaged("old/new/d.txt", "p")}
        << int(TENVO_ERR_DAMAGED) << S{"a/", "a/ok.txt = x", "old/"};
    QTest::newRow("sound archive keeps its stored empty folders")
        << false << "" << L{folder("empty/"), folder("empty/inner/")} << ok << S{"empty/", "empty/inner/"};
    QTest::newRow("encrypted entry writes nothing")
        << false << "" << L{encrypted("e.txt")} << int(TENVO_ERR_ENCRYPTED) << S{};
    QTest::newRow("first cause wins")
        << false << "" << L{file("../x"), encrypted("e.txt"), damaged("d", "p")} << unsafe << S{};
    QTest::newRow("later damage after a good entry")
        << false << "" << L{file("a.txt"), damaged("b.txt", "p")} << int(TENVO_ERR_DAMAGED)
        << S{"a.txt = x"};

    QTest::newRow("folder in the way of a file")
        << false << "" << L{folder("x/"), file("x")} << write << S{};
    QTest::newRow("file in the way of a folder")
        << false << "" << L{file("x"), file("x/y")} << write << S{"x = x"};
    QTest::newRow("symlink cannot replace a folder")
        << false << "" << L{folder("x/"), symLink("x", "y")} << write << S{};
    QTest::newRow("empty name refused")
        << false << "" << L{file("")} << unsafe << S{};
    QTest::newRow("folder entry naming the destination itself is fine")
        << false << "" << L{folder("./")} << ok << S{};

    QTest::newRow("flatten keeps the last component")
        << true << "" << L{folder("a/"), folder("a/b/"), file("a/b/c.txt"), file("d.txt")} << ok
        << S{"c.txt = x", "d.txt = x"};
    QTest::newRow("flatten still refuses a parent component")
        << true << "" << L{file("../c.txt")} << unsafe << S{};
    QTest::newRow("flatten refuses a symlink that climbs")
        << true << "" << L{symLink("a/l", "../x")} << unsafe << S{};
    QTest::newRow("flatten hard link to a flattened file")
        << true << "" << L{file("a/f", "data"), hardLink("b/g", "a/f")} << ok
        << S{"f = data", "g = data"};
    QTest::newRow("flatten keeps every file of one name, later ones numbered")
        << true << "" << L{file("a/readme.txt", "1"), file("b/readme.txt", "2"), file("c/readme.txt", "3")}
        << ok << S{"readme (2).txt = 2", "readme (3).txt = 3", "readme.txt = 1"};
    QTest::newRow("flatten numbers names without extension and dot names")
        << true << "" << L{file("a/Makefile", "1"), file("b/Makefile", "2"), file("a/.profile", "3"),
                           file("b/.profile", "4"), file("a/x.tar.gz", "5"), file("b/x.tar.gz", "6")}
        << ok << S{".profile (2) = 4", ".profile = 3", "Makefile (2) = 2", "Makefile = 1",
                   "x.tar (2).gz = 6", "x.tar.gz = 5"};
    QTest::newRow("flatten again replaces its own numbered names instead of adding copies")
        << true << "keep2" << L{file("a/keep.txt", "1"), file("b/keep.txt", "2")} << ok
        << S{"keep (2).txt = 2", "keep.txt = 1"};
    QTest::newRow("flatten gives a later stored numbered name a number of its own")
        << true << "" << L{file("a/r.txt", "1"), file("b/r.txt", "2"), file("r (2).txt", "3")} << ok
        << S{"r (2) (2).txt = 3", "r (2).txt = 2", "r.txt = 1"};
    QTest::newRow("flatten numbers a failed entry's name all the same")
        << true << "" << L{damaged("a/d.txt", "p"), file("b/d.txt", "2")} << int(TENVO_ERR_DAMAGED)
        << S{"d (2).txt = 2"};
    QTest::newRow("flatten hard link follows a numbered file")
        << true << "" << L{file("a/f", "one"), file("b/f", "two"), hardLink("c/g", "b/f")} << ok
        << S{"f (2) = two", "f = one", "g = two"};
    QTest::newRow("flatten CP932 name")
        << true << "" << L{file("dir\\\x95\x5c.txt")} << ok << S{QStringLiteral("表.txt = x")};
}

void TestSafeWriter::entries()
{
    QFETCH(bool, flatten);
    QFETCH(QString, setup);
    QFETCH(QList<FakeEntry>, entries);
    QFETCH(int, result);
    QFETCH(QStringList, expected);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString destination = root.filePath("dest");
    const QString outside = root.filePath("outside");
    QVERIFY(QDir().mkpath(destination));
    QVERIFY(QDir().mkpath(outside));
    if (setup == "plant") {
        QVERIFY(QFile::link(outside, destination + "/shared"));
        QFile secret(outside + "/secret");
        QVERIFY(secret.open(QIODevice::WriteOnly));
        secret.write("s");
        secret.close();
    }
    if (setup == "emptydir")
        QVERIFY(QDir().mkpath(destination + "/old"));
    if (setup == "keep2") {
        QFile numbered(destination + "/keep (2).txt");
        QVERIFY(numbered.open(QIODevice::WriteOnly));
        numbered.write("old");
    }
    if (setup.startsWith("keep")) {
        QFile keep(destination + "/keep.txt");
        QVERIFY(keep.open(QIODevice::WriteOnly));
        keep.write("old");
    }
    const QStringList outsideBefore = tree(outside);

    SafeWriter writer(flatten ? Layout::Flatten : Layout::Restore);
    std::string message;
    QCOMPARE(int(writer.open(destination.toStdString(), message)), int(TENVO_OK));
    feed(writer, entries);

    QVERIFY2(int(writer.result()) == result, writer.message().c_str());
    QStringList got = tree(destination);
    got.replaceInStrings(outside, "OUTSIDE");
    QCOMPARE(got, expected);
    QCOMPARE(tree(outside), outsideBefore);
    QCOMPARE(tree(root.path()).filter(".tenvo-"), QStringList());
    if (result == TENVO_OK) {
        QVERIFY(writer.message().empty());
    } else {
        QVERIFY(!writer.message().empty());
        for (char c : writer.message())
            QVERIFY2(static_cast<unsigned char>(c) >= 0x20, "control character in the message");
    }
}

void TestSafeWriter::shortenedNames_data()
{
    QTest::addColumn<bool>("flatten");
    QTest::addColumn<QList<FakeEntry>>("entries");
    QTest::addColumn<QStringList>("shortened"); // "stored -> landed"

    using L = QList<FakeEntry>;
    const QString n255(255, 'n');
    const QByteArray n300(300, 'n');
    QTest::newRow("only the names that were shortened")
        << false << L{file("short.txt"), file(n300)} << QStringList{QString(n300) + " -> " + n255};
    QTest::newRow("a folder once, for all its files")
        << false << L{file(n300 + "/a"), file(n300 + "/b")} << QStringList{QString(n300) + " -> " + n255};
    QTest::newRow("not a name whose entry did not land")
        << false << L{damaged(n300, "p")} << QStringList{};
    QTest::newRow("flatten, the stored path and the name it landed as")
        << true << L{file("d/" + n300)} << QStringList{"d/" + QString(n300) + " -> " + n255};
}

void TestSafeWriter::shortenedNames()
{
    QFETCH(bool, flatten);
    QFETCH(QList<FakeEntry>, entries);
    QFETCH(QStringList, shortened);

    QTemporaryDir destination;
    SafeWriter writer(flatten ? Layout::Flatten : Layout::Restore);
    std::string message;
    QCOMPARE(int(writer.open(destination.path().toStdString(), message)), int(TENVO_OK));
    feed(writer, entries);
    QStringList got;
    for (const auto &[stored, landed] : writer.shortenedNames())
        got << QString::fromStdString(stored + " -> " + landed);
    QCOMPARE(got, shortened);
}

void TestSafeWriter::longPathFitsFromTheRoot()
{
    QTemporaryDir destination;
    const QByteArray root = QFileInfo(destination.path()).canonicalFilePath().toUtf8();
    QByteArray stored;
    for (int i = 0; i < 20; ++i)
        stored += QByteArray(250, 'l') + '/';
    SafeWriter writer(Layout::Restore);
    std::string message;
    QCOMPARE(int(writer.open(destination.path().toStdString(), message)), int(TENVO_OK));
    feed(writer, {file(stored + "f.txt")});
    QVERIFY2(writer.result() == TENVO_OK, writer.message().c_str());

    // The deepest folders were cut first, each listed, and the path now
    // fits PATH_MAX.
    QVERIFY(writer.shortenedNames().size() > 1);
    const QByteArray landed = QByteArray::fromStdString(writer.shortenedNames().back().second) + "/f.txt";
    QCOMPARE(root.size() + 1 + landed.size(), 4095);
    const QList<QByteArray> folders = landed.chopped(6).split('/');
    QCOMPARE(folders.size(), 20);
    for (int i = 1; i < folders.size(); ++i)
        QVERIFY(folders[i].size() <= folders[i - 1].size() && folders[i].size() >= 16);
    QVERIFY(folders.last().size() < 250);
    QFile landedFile(QString::fromUtf8(root + '/' + landed));
    QVERIFY(landedFile.open(QIODevice::ReadOnly));
    QCOMPARE(landedFile.readAll(), QByteArray("x"));
}

void TestSafeWriter::modes_data()
{
    QTest::addColumn<FakeEntry>("entry");
    QTest::addColumn<int>("mode");

    QTest::newRow("set-user-ID and set-group-ID stripped") << file("s", "x", 06755) << 0755;
    QTest::newRow("sticky bit stripped") << file("s", "x", 01777) << 0755;
    QTest::newRow("stored mode goes through the umask") << file("s", "x", 0666) << 0644;
    QTest::newRow("read-only stays read-only") << file("s", "x", 0444) << 0444;
    QTest::newRow("unknown mode becomes 0644") << file("s", "x", 0) << 0644;
    QTest::newRow("executable kept") << file("s", "x", 0700) << 0700;
    QTest::newRow("folder gets 0755") << folder("s/") << 0755;
}

void TestSafeWriter::modes()
{
    QFETCH(FakeEntry, entry);
    QFETCH(int, mode);

    QTemporaryDir destination;
    SafeWriter writer(Layout::Restore);
    std::string message;
    QCOMPARE(int(writer.open(destination.path().toStdString(), message)), int(TENVO_OK));
    feed(writer, {entry});
    QCOMPARE(int(writer.result()), int(TENVO_OK));
    QCOMPARE(int(modeOf(destination.filePath("s"))), mode);
}

void TestSafeWriter::times()
{
    QTemporaryDir destination;
    SafeWriter writer(Layout::Restore);
    std::string message;
    QCOMPARE(int(writer.open(destination.path().toStdString(), message)), int(TENVO_OK));
    FakeEntry dir = folder("d/");
    dir.mtime = 1000000000;
    FakeEntry f = file("d/f.txt");
    f.mtime = 1234567890;
    feed(writer, {dir, f});
    QCOMPARE(int(writer.result()), int(TENVO_OK));

    struct stat st;
    QCOMPARE(stat(destination.filePath("d/f.txt").toUtf8().constData(), &st), 0);
    QCOMPARE(qint64(st.st_mtime), Q_INT64_C(1234567890));
    // Set after its files landed, so writing them does not move it.
    QCOMPARE(stat(destination.filePath("d").toUtf8().constData(), &st), 0);
    QCOMPARE(qint64(st.st_mtime), Q_INT64_C(1000000000));
}

void TestSafeWriter::largeFileInChunks()
{
    QTemporaryDir destination;
    SafeWriter writer(Layout::Restore);
    std::string message;
    QCOMPARE(int(writer.open(destination.path().toStdString(), message)), int(TENVO_OK));
    QByteArray big(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + i / 1000);
    feed(writer, {file("big.bin", big)});
    QCOMPARE(int(writer.result()), int(TENVO_OK));
    QFile f(destination.filePath("big.bin"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll() == big);
    QCOMPARE(writer.entriesWritten(), std::size_t(1));
}

void TestSafeWriter::destinationMustExist()
{
    QTemporaryDir root;
    std::string message;
    {
        SafeWriter writer(Layout::Restore);
        QCOMPARE(int(writer.open(root.filePath("missing").toStdString(), message)),
                 int(TENVO_ERR_WRITE));
        QVERIFY(!message.empty());
        QVERIFY(!QFileInfo::exists(root.filePath("missing")));
    }
    QFile plain(root.filePath("plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    SafeWriter writer(Layout::Restore);
    QCOMPARE(int(writer.open(root.filePath("plain").toStdString(), message)),
             int(TENVO_ERR_WRITE));
    // Entries given anyway land nowhere.
    feed(writer, {file("a")});
    QCOMPARE(int(writer.result()), int(TENVO_ERR_WRITE));
}

void TestSafeWriter::decodeName_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("markedUtf8");
    QTest::addColumn<QString>("decoded");

    QTest::newRow("ASCII") << QByteArray("a/b.txt") << false << "a/b.txt";
    QTest::newRow("UTF-8") << QByteArray("表.txt") << false << QStringLiteral("表.txt");
    QTest::newRow("CP932 with 0x5C second bytes")
        << QByteArray("\x95\x5c\x83\x5c\x94\x5c") << false << QStringLiteral("表ソ能");
    QTest::newRow("CP932 half-width katakana") << QByteArray("\xb1\xb2\xb3") << false
                                               << QStringLiteral("ｱｲｳ");
    QTest::newRow("CP932 lead byte without its second byte")
        << QByteArray("a\x95") << false << "a%95";
    QTest::newRow("bytes in neither") << QByteArray("\xff\xfd") << false << "%FF%FD";
    QTest::newRow("mixed CP932 and bad bytes")
        << QByteArray("\x95\x5c\xff") << false << QStringLiteral("表%FF");
    QTest::newRow("NUL byte") << QByteArray("a\0b", 3) << false << "a%00b";
    QTest::newRow("overlong UTF-8 is not UTF-8") << QByteArray("\xc0\xaf") << true << "%C0%AF";
    QTest::newRow("marked UTF-8 with a bad byte") << QByteArray("é\xff") << true
                                                  << QStringLiteral("é%FF");
}

void TestSafeWriter::decodeName()
{
    QFETCH(QByteArray, raw);
    QFETCH(bool, markedUtf8);
    QFETCH(QString, decoded);

    NameDecoder decoder;
    const std::string got = decoder.decode(std::string(raw.constData(), raw.size()), markedUtf8);
    QCOMPARE(QString::fromStdString(got), decoded);
    QVERIFY(isValidUtf8(got));
}

void TestSafeWriter::escapeForMessage_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("escaped");

    QTest::newRow("plain") << QByteArray("a/b.txt") << QByteArray("a/b.txt");
    QTest::newRow("newline and tab") << QByteArray("a\nb\tc") << QByteArray("a\\nb\\tc");
    QTest::newRow("terminal escape") << QByteArray("\x1b[31m") << QByteArray("\\x1B[31m");
    QTest::newRow("DEL") << QByteArray("\x7f") << QByteArray("\\x7F");
    QTest::newRow("C1 control") << QByteArray("\xc2\x9b") << QByteArray("\\u009B");
    QTest::newRow("right-to-left override") << QByteArray("\xe2\x80\xae")
                                            << QByteArray("\\u202E");
    QTest::newRow("Japanese stays") << QByteArray("表.txt") << QByteArray("表.txt");
}

void TestSafeWriter::escapeForMessage()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, escaped);
    QCOMPARE(QByteArray::fromStdString(tenvo::engine::escapeForMessage(text.toStdString())),
             escaped);
}

void TestSafeWriter::outputBuffer()
{
    char buffer[8];
    std::memset(buffer, 'z', sizeof buffer);
    copyToOutput("abcdefghijkl", buffer, sizeof buffer);
    QCOMPARE(QByteArray(buffer), QByteArray("abcdefg"));

    // Never cut inside a UTF-8 character: "表" is three bytes.
    copyToOutput("ab表", buffer, 5);
    QCOMPARE(QByteArray(buffer), QByteArray("ab"));

    std::memset(buffer, 'z', sizeof buffer);
    copyToOutput("abc", buffer, 1);
    QCOMPARE(buffer[0], '\0');
    QCOMPARE(buffer[1], 'z');

    copyToOutput("abc", nullptr, 100); // no buffer, no crash
    std::memset(buffer, 'z', sizeof buffer);
    copyToOutput("abc", buffer, 0);
    QCOMPARE(buffer[0], 'z');
}

void TestSafeWriter::unfinishedEntryIsDropped()
{
    QTemporaryDir destination;
    SafeWriter writer(Layout::Restore);
    std::string message;
    QCOMPARE(int(writer.open(destination.path().toStdString(), message)), int(TENVO_OK));
    EntryInfo info;
    info.rawName = "half.txt";
    QVERIFY(writer.beginEntry(info));
    QVERIFY(writer.entryData("abc", 3));
    writer.finish(); // the decoder gave up without ending the entry
    QCOMPARE(int(writer.result()), int(TENVO_ERR_DAMAGED));
    QCOMPARE(tree(destination.path()), QStringList());
}

QTEST_GUILESS_MAIN(TestSafeWriter)
#include "tst_safewriter.moc"

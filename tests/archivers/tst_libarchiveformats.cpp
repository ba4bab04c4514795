// The real archiver libraries, loaded with dlopen from the program folder,
// extracting ZIP and 7z archives that the test writes with libarchive.
#include "archivercalls.h"
#include "decoderrecorder.h"
#include "libarchivedecoder.h"
#include "foldertree.h"
#include "result.h"

#include <QtTest>

#include <archive.h>
#include <archive_entry.h>

#include <clocale>
#include <dlfcn.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tenvo::test;

namespace {

// One entry to write: kind 'f' file, 'd' folder, 'l' symbolic link, 'h'
// hard link (tar).
struct Item {
    Item() = default;
    Item(QByteArray name, QByteArray data = {}, char kind = 'f', QByteArray link = {},
         int mode = 0644)
        : name(std::move(name)), data(std::move(data)), kind(kind), link(std::move(link)), mode(mode)
    {
    }

    QByteArray name;
    QByteArray data;
    char kind = 'f';
    QByteArray link;
    int mode = 0644;
};

// Switches this thread's locale while it lives (libarchive picks its name
// conversions from it).
class ThreadLocale {
public:
    explicit ThreadLocale(const char *name)
        : m_locale(newlocale(LC_ALL_MASK, name, nullptr))
    {
        if (m_locale)
            m_previous = uselocale(m_locale);
    }
    ~ThreadLocale()
    {
        if (m_locale) {
            uselocale(m_previous);
            freelocale(m_locale);
        }
    }

private:
    locale_t m_locale;
    locale_t m_previous = nullptr;
};

// Writes a ZIP ("zip", "zip-store"), 7z ("7z", "7z-store") or tar archive
// ("tar", "tar.gz", "tar.bz2", "tar.xz", "tar.zst"; "gz", "bz2", "xz", "zst";
// "-store" after "gz" for stored Deflate blocks
// compress the one file of items alone) with libarchive. In the C locale libarchive's ZIP writer stores names as the raw
// bytes given, without the UTF-8 flag: that is how CP932 names get written.
bool writeArchive(const QString &path, const QByteArray &format, const QList<Item> &items,
                  const char *localeName = "C.UTF-8")
{
    ThreadLocale locale(localeName);
    archive *a = archive_write_new();
    const QByteArray compressor = format.mid(format.lastIndexOf('.') + 1);
    if (format.startsWith("tar") || format.startsWith("gz") || format == "bz2" || format == "xz"
        || format == "zst") {
        if (format.startsWith("tar"))
            archive_write_set_format_pax_restricted(a);
        else
            archive_write_set_format_raw(a);
        if (compressor == "gz" || compressor == "gz-store")
            archive_write_add_filter_gzip(a);
        // Stored Deflate blocks: the data is in the file as it is.
        if (compressor == "gz-store")
            archive_write_set_filter_option(a, "gzip", "compression-level", "0");
        else if (compressor == "bz2")
            archive_write_add_filter_bzip2(a);
        else if (compressor == "xz")
            archive_write_add_filter_xz(a);
        else if (compressor == "zst")
            archive_write_add_filter_zstd(a);
    } else if (format.startsWith("zip")) {
        archive_write_set_format_zip(a);
        if (format == "zip-store")
            archive_write_set_options(a, "zip:compression=store");
    } else {
        archive_write_set_format_7zip(a);
        if (format == "7z-store")
            archive_write_set_options(a, "7zip:compression=store");
    }
    bool ok = archive_write_open_filename(a, QFile::encodeName(path).constData()) == ARCHIVE_OK;
    for (const Item &item : items) {
        archive_entry *e = archive_entry_new();
        archive_entry_set_pathname(e, item.name.constData());
        archive_entry_set_mtime(e, 1600000000, 0);
        if (item.kind == 'd') {
            archive_entry_set_filetype(e, AE_IFDIR);
            archive_entry_set_perm(e, 0755);
        } else if (item.kind == 'l') {
            archive_entry_set_filetype(e, AE_IFLNK);
            archive_entry_set_perm(e, 0777);
            archive_entry_set_symlink(e, item.link.constData());
        } else if (item.kind == 'h') {
            archive_entry_set_filetype(e, AE_IFREG);
            archive_entry_set_perm(e, 0644);
            archive_entry_set_hardlink(e, item.link.constData());
        } else {
            archive_entry_set_filetype(e, AE_IFREG);
            archive_entry_set_perm(e, item.mode);
            archive_entry_set_size(e, item.data.size());
        }
        ok = ok && archive_write_header(a, e) == ARCHIVE_OK;
        if (item.kind == 'f' && !item.data.isEmpty())
            ok = ok && archive_write_data(a, item.data.constData(), item.data.size()) == item.data.size();
        archive_entry_free(e);
    }
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    return ok;
}

QByteArray pseudoRandom(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = char(seed >> 24);
    }
    return bytes;
}

// The sample archive every format row writes.
QList<Item> sampleItems()
{
    return {
        {"docs/", {}, 'd'},
        {"docs/readme.txt", "read me\n"},
        {"docs/sub/deep.bin", pseudoRandom(200 * 1024, 7)},
        {"日本語/ファイル.txt", "こんにちは"},
        {"empty.txt", {}},
        {"top.txt", "top", 'f', {}, 0755},
    };
}

// Every line of the expected tree for items: restored or flattened.
QStringList expectedTree(const QList<Item> &items, bool flatten)
{
    QStringList out;
    for (const Item &item : items) {
        QString name = QString::fromUtf8(item.name);
        if (name.endsWith('/'))
            name.chop(1);
        if (flatten) {
            if (item.kind == 'f')
                out << name.section('/', -1) + " = " + md5Hex(item.data);
            continue;
        }
        // Parent folders appear whether or not they are listed.
        const QStringList parts = name.split('/');
        for (int i = 1; i < parts.size(); ++i)
            out << QStringList(parts.mid(0, i)).join('/') + "/";
        out << (item.kind == 'd' ? name + "/" : name + " = " + md5Hex(item.data));
    }
    out.removeDuplicates();
    out.sort();
    return out;
}

} // namespace

Q_DECLARE_METATYPE(Item)

class TestLibarchiveFormats : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void versions();
    void extract_data();
    void extract();
    void singleCompressedFile_data();
    void singleCompressedFile();
    void cp932NamesInZip_data();
    void cp932NamesInZip();
    void unicodeNamesAnyLocale_data();
    void unicodeNamesAnyLocale();
    void damagedArchive_data();
    void damagedArchive();
    void gzipLayer_data();
    void gzipLayer();
    void hostileZip_data();
    void hostileZip();
    void check_data();
    void check();
    void routing_data();
    void routing();
    void password_data();
    void password();
    void outputBuffer();
    void quoteInArchivePath();

private:
    int run(const QByteArray &library, const QByteArray &switchText, const QString &archive,
            const QString &destination, QByteArray *message = nullptr);
    QString makeArchive(const QByteArray &format, const QList<Item> &items,
                        const char *locale = "C.UTF-8");

    QTemporaryDir m_work;
    QHash<QByteArray, ArchiverCalls> m_libraries;
    int m_counter = 0;
};

void TestLibarchiveFormats::initTestCase()
{
    QVERIFY(m_work.isValid());
    ::umask(022);
    // All five share this process, as in the program.
    QString error;
    m_libraries = loadArchivers(TENVO_BIN_DIR, error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

QString TestLibarchiveFormats::makeArchive(const QByteArray &format, const QList<Item> &items,
                                           const char *locale)
{
    const QString path = m_work.filePath(QString("archive%1.bin").arg(++m_counter));
    if (!writeArchive(path, format, items, locale))
        return {};
    return path;
}

int TestLibarchiveFormats::run(const QByteArray &library, const QByteArray &switchText,
                               const QString &archive, const QString &destination,
                               QByteArray *message)
{
    return runArchiver(m_libraries.value(library), switchText, archive, destination, message);
}

void TestLibarchiveFormats::versions()
{
    for (const ArchiverCalls &library : std::as_const(m_libraries))
        QVERIFY(library.version() > 0);
    // Each library has only its own calls.
    QVERIFY(!dlsym(m_libraries.value("unzip32").handle, "Unlha"));
    QVERIFY(!dlsym(m_libraries.value("unlha32").handle, "UnZip"));
}

void TestLibarchiveFormats::extract_data()
{
    QTest::addColumn<QByteArray>("library");
    QTest::addColumn<QByteArray>("switchText");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<bool>("flatten");

    QTest::newRow("unzip32, ZIP, restore") << QByteArray("unzip32") << QByteArray("-x ")
                                           << QByteArray("zip") << false;
    QTest::newRow("unzip32, ZIP, flatten") << QByteArray("unzip32") << QByteArray("-x -j ")
                                           << QByteArray("zip") << true;
    QTest::newRow("unzip32, stored ZIP, restore") << QByteArray("unzip32") << QByteArray("-x ")
                                                  << QByteArray("zip-store") << false;
    QTest::newRow("7-zip32, ZIP, restore") << QByteArray("7-zip32") << QByteArray("x ")
                                           << QByteArray("zip") << false;
    QTest::newRow("7-zip32, ZIP, flatten") << QByteArray("7-zip32") << QByteArray("e ")
                                           << QByteArray("zip") << true;
    QTest::newRow("7-zip32, 7z, restore") << QByteArray("7-zip32") << QByteArray("x ")
                                          << QByteArray("7z") << false;
    QTest::newRow("7-zip32, 7z, flatten") << QByteArray("7-zip32") << QByteArray("e ")
                                          << QByteArray("7z") << true;
    QTest::newRow("7-zip32, stored 7z, restore") << QByteArray("7-zip32") << QByteArray("x ")
                                                 << QByteArray("7z-store") << false;
    QTest::newRow("7-zip32, 7z, names stay as stored whatever encoding is chosen")
        << QByteArray("7-zip32") << QByteArray("x --names=GBK ") << QByteArray("7z") << false;
    for (const char *format : {"tar", "tar.gz", "tar.bz2", "tar.xz", "tar.zst"}) {
        QTest::addRow("tar32, %s, restore", format)
            << QByteArray("tar32") << QByteArray("x ") << QByteArray(format) << false;
    }
    QTest::newRow("tar32, tar.gz, flatten") << QByteArray("tar32") << QByteArray("e ")
                                            << QByteArray("tar.gz") << true;
}

void TestLibarchiveFormats::extract()
{
    QFETCH(QByteArray, library);
    QFETCH(QByteArray, switchText);
    QFETCH(QByteArray, format);
    QFETCH(bool, flatten);

    const QList<Item> items = sampleItems();
    const QString archive = makeArchive(format, items);
    QVERIFY(!archive.isEmpty());
    QTemporaryDir destination;
    QByteArray message;
    QCOMPARE(run(library, switchText, archive, destination.path() + "/", &message), 0);
    QCOMPARE(folderTree(destination.path()), expectedTree(items, flatten));

    struct stat st;
    QCOMPARE(stat(QFile::encodeName(destination.filePath("top.txt")).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 0777), 0755);
    QCOMPARE(qint64(st.st_mtime), Q_INT64_C(1600000000));
}

void TestLibarchiveFormats::singleCompressedFile_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QString>("archiveName");
    QTest::addColumn<QString>("landed");

    QTest::newRow("x.gz lands as x") << QByteArray("gz") << "x.gz" << "x";
    QTest::newRow("notes.txt.bz2 lands as notes.txt") << QByteArray("bz2") << "notes.txt.bz2"
                                                      << "notes.txt";
    QTest::newRow("data.XZ lands as data") << QByteArray("xz") << "data.XZ" << "data";
    QTest::newRow("log.zst lands as log") << QByteArray("zst") << "log.zst" << "log";
    QTest::newRow("a gzip stream named .tgz holding no tar lands as .tar")
        << QByteArray("gz") << "y.tgz" << "y.tar";
    QTest::newRow("a gzip stream named otherwise gets .out") << QByteArray("gz") << "blob"
                                                             << "blob.out";
}

// A file compressed on its own carries no name: it lands as the archive's.
void TestLibarchiveFormats::singleCompressedFile()
{
    QFETCH(QByteArray, format);
    QFETCH(QString, archiveName);
    QFETCH(QString, landed);

    const QByteArray data = pseudoRandom(150 * 1024, 11) + "tail";
    QTemporaryDir folder;
    const QString archive = folder.filePath(archiveName);
    QVERIFY(writeArchive(archive, format, {{"ignored", data}}));
    QTemporaryDir destination;
    QByteArray message;
    QCOMPARE(run("tar32", "x ", archive, destination.path() + "/", &message), 0);
    QCOMPARE(folderTree(destination.path()), QStringList{landed + " = " + md5Hex(data)});
    QVERIFY(m_libraries.value("tar32").check(QFile::encodeName(archive).constData(), 0) != 0);
}

void TestLibarchiveFormats::cp932NamesInZip_data()
{
    QTest::addColumn<QByteArray>("processLocale");
    QTest::addColumn<bool>("utf8Flag");
    QTest::newRow("process in the C locale") << QByteArray("C") << false;
    QTest::newRow("process in a UTF-8 locale") << QByteArray("C.UTF-8") << false;
    QTest::newRow("names flagged as UTF-8 that are CP932") << QByteArray("C.UTF-8") << true;
}

void TestLibarchiveFormats::cp932NamesInZip()
{
    QFETCH(QByteArray, processLocale);
    QFETCH(bool, utf8Flag);

    // 表 ソ 能 end in 0x5C, the byte of "\". ﾃｱ (C3 B1) is valid UTF-8 as
    // well ("ñ"), but the archive's other names make it CP932, flag or not.
    const QList<Item> items{
        {"\x95\x5c\x83\x5c\x94\x5c.txt", "one"},
        {"\x83\x74\x83\x48\x83\x8b\x83\x5f/\x95\x5c.txt", "two"},
        {"\xc3\xb1.txt", "three"},
    };
    const QString archive = makeArchive("zip", items, "C");
    QVERIFY(!archive.isEmpty());
    QFile raw(archive);
    QVERIFY(raw.open(QIODevice::ReadWrite));
    QByteArray bytes = raw.readAll();
    QVERIFY2(bytes.contains("\x95\x5c\x83\x5c\x94\x5c.txt"), "names stored as raw CP932");
    if (utf8Flag) {
        // The flag (bit 11) set in every local and central header.
        for (const auto &[signature, flagsAt] : {std::pair{QByteArray("PK\x03\x04"), 7},
                                                 std::pair{QByteArray("PK\x01\x02"), 9}}) {
            for (qsizetype at = bytes.indexOf(signature); at >= 0; at = bytes.indexOf(signature, at + 4))
                bytes[at + flagsAt] = char(bytes[at + flagsAt] | 0x08);
        }
        QVERIFY(raw.seek(0) && raw.write(bytes) == bytes.size());
    }
    raw.close();

    const std::string previous = std::setlocale(LC_ALL, nullptr);
    QVERIFY(std::setlocale(LC_ALL, processLocale.constData()));
    QTemporaryDir restored;
    QTemporaryDir flattened;
    const int restoreResult = run("unzip32", "-x ", archive, restored.path());
    const int flattenResult = run("7-zip32", "e ", archive, flattened.path());
    std::setlocale(LC_ALL, previous.c_str());

    QCOMPARE(restoreResult, 0);
    QCOMPARE(folderTree(restored.path()),
             QStringList({QStringLiteral("フォルダ/"), QStringLiteral("フォルダ/表.txt = ") + md5Hex("two"),
                          QStringLiteral("表ソ能.txt = ") + md5Hex("one"),
                          QStringLiteral("ﾃｱ.txt = ") + md5Hex("three")}));
    QCOMPARE(flattenResult, 0);
    QCOMPARE(folderTree(flattened.path()),
             QStringList({QStringLiteral("表.txt = ") + md5Hex("two"), QStringLiteral("表ソ能.txt = ") + md5Hex("one"),
                          QStringLiteral("ﾃｱ.txt = ") + md5Hex("three")}));
}

void TestLibarchiveFormats::unicodeNamesAnyLocale_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QByteArray>("processLocale");
    QTest::newRow("ZIP with UTF-8 flag, C locale") << QByteArray("zip") << QByteArray("C");
    QTest::newRow("ZIP with UTF-8 flag, UTF-8 locale") << QByteArray("zip") << QByteArray("C.UTF-8");
    QTest::newRow("7z, C locale") << QByteArray("7z") << QByteArray("C");
    QTest::newRow("7z, UTF-8 locale") << QByteArray("7z") << QByteArray("C.UTF-8");
}

void TestLibarchiveFormats::unicodeNamesAnyLocale()
{
    QFETCH(QByteArray, format);
    QFETCH(QByteArray, processLocale);

    const QList<Item> items{{"日本語/表ソ能 ü.txt", "x"}, {"Ελληνικά.txt", "y"}};
    const QString archive = makeArchive(format, items);
    QVERIFY(!archive.isEmpty());

    const std::string previous = std::setlocale(LC_ALL, nullptr);
    QVERIFY(std::setlocale(LC_ALL, processLocale.constData()));
    QTemporaryDir destination;
    const int result = run("7-zip32", "x ", archive, destination.path());
    std::setlocale(LC_ALL, previous.c_str());

    QCOMPARE(result, 0);
    QCOMPARE(folderTree(destination.path()), expectedTree(items, false));
}

void TestLibarchiveFormats::damagedArchive_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QByteArray>("damage");

    QTest::newRow("ZIP cut in half") << QByteArray("zip") << QByteArray("truncate");
    QTest::newRow("7z cut in half") << QByteArray("7z") << QByteArray("truncate");
    QTest::newRow("stored ZIP with a flipped data byte") << QByteArray("zip-store")
                                                         << QByteArray("flip");
    QTest::newRow("ZIP (Deflate) with a flipped data byte") << QByteArray("zip") << QByteArray("flip");
    QTest::newRow("7z with a flipped data byte") << QByteArray("7z-store") << QByteArray("flip");
    QTest::newRow("7z (LZMA, decoded by the engine) with a flipped data byte") << QByteArray("7z")
                                                                              << QByteArray("flip-packed");
    QTest::newRow("tar.gz cut in half") << QByteArray("tar.gz") << QByteArray("truncate");
    QTest::newRow("tar cut in half") << QByteArray("tar") << QByteArray("truncate");
    QTest::newRow("gz of one file cut in half") << QByteArray("gz") << QByteArray("truncate");
    QTest::newRow("gz of one file (stored) with a flipped data byte: only gzip's CRC tells")
        << QByteArray("gz-store") << QByteArray("flip");
}

void TestLibarchiveFormats::damagedArchive()
{
    QFETCH(QByteArray, format);
    QFETCH(QByteArray, damage);

    const QByteArray big = pseudoRandom(1024 * 1024, 42);
    const QString archive = makeArchive(format, {{"big.bin", big}});
    QVERIFY(!archive.isEmpty());
    QFile file(archive);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    if (damage == "truncate") {
        bytes.truncate(bytes.size() / 2);
    } else if (damage == "flip-packed") {
        bytes[32 + 1000] = char(bytes[32 + 1000] ^ 0x55); // inside the packed data
    } else {
        const qsizetype at = bytes.indexOf(big.mid(1000, 64));
        QVERIFY(at > 0);
        bytes[at] = char(bytes[at] ^ 0x55);
    }
    QVERIFY(file.resize(0));
    file.write(bytes);
    file.close();

    // A single compressed file lands under the archive's name without ".gz".
    QString archivePath = archive;
    if (format.startsWith("gz")) {
        archivePath = archive.left(archive.lastIndexOf('/') + 1) + "big.bin.gz";
        QFile::remove(archivePath);
        QVERIFY(QFile::rename(archive, archivePath));
    }
    QTemporaryDir destination;
    QFile old(destination.filePath("big.bin"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();

    QByteArray message;
    const bool tar = format.startsWith("tar") || format.startsWith("gz");
    const int result = run(tar ? "tar32" : format.startsWith("7z") ? "7-zip32" : "unzip32",
                           tar || format.startsWith("7z") ? "x " : "-x ", archivePath,
                           destination.path(), &message);
    QVERIFY2(result == TENVO_ERR_DAMAGED, message.constData());
    QVERIFY(!message.isEmpty());
    // No partial file, and the file that was there is untouched.
    QCOMPARE(folderTree(destination.path()), QStringList({"big.bin = " + md5Hex("old")}));
}

namespace {

// The length of the header of the gzip member bytes begins with.
qsizetype gzipHeaderSize(const QByteArray &bytes)
{
    const int flags = bytes[3];
    qsizetype at = 10;
    if (flags & 4)
        at += 2 + (uchar(bytes[at]) | uchar(bytes[at + 1]) << 8);
    for (const int text : {8, 16}) {
        if (flags & text)
            at = bytes.indexOf('\0', at) + 1;
    }
    return flags & 2 ? at + 2 : at;
}

} // namespace

void TestLibarchiveFormats::gzipLayer_data()
{
    // damaged: 0 for neither reading, 1 for both, 2 for the engine's alone
    // (libarchive checks no gzip CRC or length).
    QTest::addColumn<QByteArray>("change");
    QTest::addColumn<int>("damaged");

    QTest::newRow("a tar.gz as libarchive writes it") << QByteArray() << 0;
    QTest::newRow("one file, gzip alone") << QByteArray("single") << 0;
    QTest::newRow("one file, gzip alone, no time stored") << QByteArray("single-notime") << 0;
    QTest::newRow("two members, the tar cut between them") << QByteArray("members") << 0;
    QTest::newRow("extra field, name, comment and header CRC") << QByteArray("fields") << 0;
    QTest::newRow("zeros after the last member") << QByteArray("zeros") << 0;
    QTest::newRow("other bytes after the last member") << QByteArray("garbage") << 0;
    QTest::newRow("a reserved flag: no gzip member at all") << QByteArray("reserved") << 0;
    QTest::newRow("cut into numbered parts, read joined") << QByteArray("parts") << 0;
    QTest::newRow("cut in the middle") << QByteArray("cut") << 1;
    QTest::newRow("cut inside the trailer") << QByteArray("cut-trailer") << 1;
    QTest::newRow("damaged Deflate data") << QByteArray("damage") << 1;
    QTest::newRow("a flipped byte in stored data") << QByteArray("flip") << 2;
    QTest::newRow("a wrong length in the trailer") << QByteArray("length") << 2;
}

// The engine's own reading of the gzip layer against libarchive's: the same
// entries with the same bytes, damage found where libarchive finds it, and
// gzip's CRC and length checked besides.
void TestLibarchiveFormats::gzipLayer()
{
    using namespace tenvo;
    QFETCH(QByteArray, change);
    QFETCH(int, damaged);

    const QList<Item> items = sampleItems();
    const bool single = change.startsWith("single");
    const bool stored = change == "flip" || change == "length";
    const QByteArray format = single ? "gz" : stored ? "tar.gz-store" : "tar.gz";
    QString path = makeArchive(format, single ? QList<Item>{{"x", pseudoRandom(300 * 1024, 5)}} : items);
    QVERIFY(!path.isEmpty());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    file.close();
    const qsizetype header = gzipHeaderSize(bytes);
    if (change == "single-notime") {
        bytes.replace(4, 4, QByteArray(4, '\0'));
    } else if (change == "members") {
        QFile tar(makeArchive("tar", items));
        QVERIFY(tar.open(QIODevice::ReadOnly));
        const QByteArray plain = tar.readAll();
        bytes.clear();
        for (const QByteArray &part : {plain.left(plain.size() / 3), plain.mid(plain.size() / 3)}) {
            QFile member(makeArchive("gz", {{"x", part}}));
            QVERIFY(member.open(QIODevice::ReadOnly));
            bytes += member.readAll();
        }
    } else if (change == "fields") {
        QByteArray fields("\x1f\x8b\x08\x1e\0\0\0\0\0\x03", 10);
        fields += QByteArray("\x04\0ab\0\0", 6) + QByteArray("name.tar", 9) + QByteArray("a comment", 10) + "hc";
        bytes = fields + bytes.mid(header);
    } else if (change == "zeros") {
        bytes += QByteArray(10240, '\0');
    } else if (change == "garbage") {
        bytes += "not a gzip member";
    } else if (change == "reserved") {
        bytes[3] = char(bytes[3] | 0x20);
    } else if (change == "cut") {
        bytes.truncate(bytes.size() / 2);
    } else if (change == "cut-trailer") {
        bytes.chop(4);
    } else if (change == "damage") {
        for (qsizetype i = header + 200; i < header + 260; ++i)
            bytes[i] = char(bytes[i] ^ 0xa5);
    } else if (change == "flip") {
        const qsizetype at = bytes.indexOf(items[2].data.mid(5000, 64));
        QVERIFY(at > 0);
        bytes[at] = char(bytes[at] ^ 0x55);
    } else if (change == "length") {
        bytes[bytes.size() - 1] = char(bytes[bytes.size() - 1] ^ 1);
    }
    path += single ? ".gz" : ".tar.gz";
    if (change == "parts") {
        const QString stem = path;
        path = stem + ".001";
        file.setFileName(stem + ".002");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes.mid(bytes.size() / 2));
        file.close();
        bytes.truncate(bytes.size() / 2);
    }
    file.setFileName(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();

    struct Reading {
        test::DecoderRecorder recorder;
        std::string message;
        TenvoResult result = TENVO_OK;
        // Where damage was found: the archive's result or an entry's.
        std::string damage() const
        {
            for (const test::RecordedEntry &entry : recorder.entries) {
                if (entry.outcome != TENVO_OK)
                    return entry.message.empty() ? "?" : entry.message;
            }
            return result == TENVO_OK ? std::string() : message.empty() ? "?" : message;
        }
    } own, theirs;
    for (Reading *reading : {&own, &theirs}) {
        engine::setGzipOwnReading(reading == &own);
        reading->result = engine::decodeWithLibarchive(engine::LibarchiveFormat::Tar, path.toStdString(),
                                                       reading->recorder, reading->message);
    }
    engine::setGzipOwnReading(true);

    QVERIFY2(own.recorder.protocolKept(), qPrintable(own.recorder.protocolReport()));
    QVERIFY(!own.recorder.entries.empty());
    QCOMPARE(own.damage().empty(), damaged == 0);
    QCOMPARE(theirs.damage().empty(), damaged != 1);
    if (damaged == 2)
        QVERIFY2(own.damage().find("CRC error in the gzip data") != std::string::npos, own.damage().c_str());
    if (damaged == 0)
        QCOMPARE(own.recorder.entries.size(), theirs.recorder.entries.size());
    for (std::size_t i = 0; i < std::min(own.recorder.entries.size(), theirs.recorder.entries.size()); ++i) {
        const test::RecordedEntry &got = own.recorder.entries[i];
        const test::RecordedEntry &want = theirs.recorder.entries[i];
        const QString apart = test::describedApart(got.info, want.info);
        QVERIFY2(apart.isEmpty(), qPrintable(apart));
        if (got.outcome == TENVO_OK && want.outcome == TENVO_OK)
            QCOMPARE(got.data, want.data);
    }
}

void TestLibarchiveFormats::hostileZip_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QList<Item>>("items");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("parent component refused, the rest lands")
        << QByteArray("zip") << QList<Item>{{"../evil.txt", "e"}, {"ok.txt", "o"}} << int(TENVO_ERR_UNSAFE)
        << QStringList{"ok.txt = " + md5Hex("o")};
    QTest::newRow("absolute path refused")
        << QByteArray("zip") << QList<Item>{{"/tmp/evil.txt", "e"}} << int(TENVO_ERR_UNSAFE) << QStringList{};
    QTest::newRow("symbolic link inside kept")
        << QByteArray("zip") << QList<Item>{{"target.txt", "t"}, {"link", {}, 'l', "target.txt"}} << int(TENVO_OK)
        << QStringList{"link -> target.txt", "target.txt = " + md5Hex("t")};
    QTest::newRow("symbolic link out refused, then file through it lands inside")
        << QByteArray("zip") << QList<Item>{{"out", {}, 'l', "../../.."}, {"out/p.txt", "p"}} << int(TENVO_ERR_UNSAFE)
        << QStringList{"out/", "out/p.txt = " + md5Hex("p")};
    QTest::newRow("set-user-ID stripped")
        << QByteArray("zip") << QList<Item>{{"tool", "t", 'f', {}, 04755}} << int(TENVO_OK)
        << QStringList{"tool = " + md5Hex("t")};
    // The other hostile tar headers are rows of the hostile test; a hard link
    // that lands whole is checked here.
    QTest::newRow("tar: hard link to a file of the archive lands")
        << QByteArray("tar.zst") << QList<Item>{{"a.txt", "a"}, {"b.txt", {}, 'h', "a.txt"}}
        << int(TENVO_OK) << QStringList{"a.txt = " + md5Hex("a"), "b.txt = " + md5Hex("a")};
}

void TestLibarchiveFormats::hostileZip()
{
    QFETCH(QByteArray, format);
    QFETCH(QList<Item>, items);
    QFETCH(int, result);
    QFETCH(QStringList, expected);

    const QString archive = makeArchive(format, items);
    QVERIFY(!archive.isEmpty());
    QTemporaryDir root;
    const QString destination = root.filePath("dest");
    QVERIFY(QDir().mkpath(destination));
    QByteArray message;
    if (format == "zip")
        QCOMPARE(run("unzip32", "-x ", archive, destination, &message), result);
    else
        QCOMPARE(run("tar32", "x ", archive, destination, &message), result);
    QCOMPARE(folderTree(destination), expected);
    QCOMPARE(QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"dest"});
    for (const QString &line : expected) {
        struct stat st;
        const QString path = destination + "/" + line.section(' ', 0, 0);
        QCOMPARE(lstat(QFile::encodeName(path).constData(), &st), 0);
        QVERIFY((st.st_mode & 07000) == 0);
    }
}

void TestLibarchiveFormats::check_data()
{
    QTest::addColumn<QByteArray>("library");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("unzip32 accepts ZIP") << QByteArray("unzip32") << QByteArray("zip") << true;
    QTest::newRow("unzip32 accepts an empty ZIP") << QByteArray("unzip32") << QByteArray("emptyzip")
                                                  << true;
    QTest::newRow("unzip32 refuses 7z") << QByteArray("unzip32") << QByteArray("7z") << false;
    QTest::newRow("7-zip32 accepts ZIP") << QByteArray("7-zip32") << QByteArray("zip") << true;
    QTest::newRow("7-zip32 accepts 7z") << QByteArray("7-zip32") << QByteArray("7z") << true;
    QTest::newRow("7-zip32 accepts a 7z whose names are encrypted") << QByteArray("7-zip32") << QByteArray("7zhe") << true;
    QTest::newRow("unlha32 refuses ZIP") << QByteArray("unlha32") << QByteArray("zip") << false;
    QTest::newRow("cab32 refuses ZIP") << QByteArray("cab32") << QByteArray("zip") << false;
    QTest::newRow("unrar32 refuses ZIP") << QByteArray("unrar32") << QByteArray("zip") << false;
    QTest::newRow("unzip32 refuses a cut ZIP") << QByteArray("unzip32") << QByteArray("cutzip")
                                               << false;
    QTest::newRow("7-zip32 refuses a cut 7z") << QByteArray("7-zip32") << QByteArray("cut7z")
                                              << false;
    QTest::newRow("unzip32 refuses text") << QByteArray("unzip32") << QByteArray("text") << false;
    QTest::newRow("tar32 accepts tar.gz") << QByteArray("tar32") << QByteArray("tar.gz") << true;
    QTest::newRow("tar32 accepts tar") << QByteArray("tar32") << QByteArray("tar") << true;
    QTest::newRow("tar32 refuses ZIP") << QByteArray("tar32") << QByteArray("zip") << false;
    QTest::newRow("7-zip32 refuses tar.xz") << QByteArray("7-zip32") << QByteArray("tar.xz") << false;
    QTest::newRow("tar32 refuses a cut tar.gz") << QByteArray("tar32") << QByteArray("cuttar.gz")
                                                << false;
    QTest::newRow("tar32 refuses text") << QByteArray("tar32") << QByteArray("text") << false;
    QTest::newRow("unzip32 refuses a missing file") << QByteArray("unzip32")
                                                    << QByteArray("missing") << false;
    QTest::newRow("unzip32 refuses a folder") << QByteArray("unzip32") << QByteArray("folder")
                                              << false;
}

void TestLibarchiveFormats::check()
{
    QFETCH(QByteArray, library);
    QFETCH(QByteArray, content);
    QFETCH(bool, accepted);

    QString path = m_work.filePath("check-" + QString::fromLatin1(content));
    const QList<Item> items{{"a.txt", pseudoRandom(300000, 3)}, {"b.txt", "b"}};
    if (content == "zip" || content == "7z" || content.startsWith("tar")) {
        path = makeArchive(content, items);
    } else if (content.startsWith("cut")) {
        path = makeArchive(content.mid(3), items);
        QVERIFY(QFile::resize(path, QFileInfo(path).size() / 2));
    } else if (content == "7zhe") {
        QFile plain(path + ".txt");
        QVERIFY(plain.open(QIODevice::WriteOnly) && plain.write("names hidden") > 0);
        plain.close();
        path += ".7z";
        if (QProcess::execute("7zz", {"a", "-bso0", "-p-", "-mhe=on", path, plain.fileName()}) != 0)
            QSKIP("7zz (scripts/setup.sh installs it) cannot make the archive");
    } else if (content == "emptyzip") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("PK\5\6") + QByteArray(18, '\0'));
    } else if (content == "text") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("just some text, no archive\n");
    } else if (content == "folder") {
        QVERIFY(QDir().mkpath(path));
    }
    QVERIFY(!path.isEmpty());

    const int answer = m_libraries.value(library).check(QFile::encodeName(path).constData(), 0);
    QCOMPARE(answer != 0, accepted);
    // Other modes answer alike.
    QCOMPARE(m_libraries.value(library).check(QFile::encodeName(path).constData(), 1) != 0,
             accepted);
}

void TestLibarchiveFormats::routing_data()
{
    QTest::addColumn<QByteArray>("library");
    QTest::addColumn<QByteArray>("switchText");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QString>("archiveName");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<int>("result");

    QTest::newRow("ZIP named .lzh goes by its signature")
        << QByteArray("unzip32") << QByteArray("-x ") << QByteArray("zip") << "a.lzh" << "dest"
        << int(TENVO_OK);
    QTest::newRow("unlha32 refuses a ZIP")
        << QByteArray("unlha32") << QByteArray("x ") << QByteArray("zip") << "a.lzh" << "dest"
        << int(TENVO_ERR_FORMAT);
    QTest::newRow("unzip32 refuses a 7z")
        << QByteArray("unzip32") << QByteArray("-x ") << QByteArray("7z") << "a.zip" << "dest"
        << int(TENVO_ERR_FORMAT);
    QTest::newRow("unrar32 refuses a ZIP")
        << QByteArray("unrar32") << QByteArray("-x ") << QByteArray("zip") << "a.rar" << "dest//"
        << int(TENVO_ERR_FORMAT);
    QTest::newRow("destination with extra trailing separators")
        << QByteArray("7-zip32") << QByteArray("x ") << QByteArray("7z") << "a.7z" << "dest//"
        << int(TENVO_OK);
    QTest::newRow("missing archive")
        << QByteArray("unzip32") << QByteArray("-x ") << QByteArray("none") << "gone.zip" << "dest"
        << int(TENVO_ERR_OPEN);
    QTest::newRow("missing destination is not created")
        << QByteArray("unzip32") << QByteArray("-x ") << QByteArray("zip") << "a.zip" << "nowhere/"
        << int(TENVO_ERR_WRITE);
    QTest::newRow("destination that is a file")
        << QByteArray("unzip32") << QByteArray("-x ") << QByteArray("zip") << "a.zip" << "a.zip"
        << int(TENVO_ERR_WRITE);
    QTest::newRow("unknown switch")
        << QByteArray("unzip32") << QByteArray("-t ") << QByteArray("zip") << "a.zip" << "dest"
        << int(TENVO_ERR_COMMAND);
    QTest::newRow("7-zip32 refuses unzip32's switch")
        << QByteArray("7-zip32") << QByteArray("-x ") << QByteArray("zip") << "a.zip" << "dest"
        << int(TENVO_ERR_COMMAND);
}

void TestLibarchiveFormats::routing()
{
    QFETCH(QByteArray, library);
    QFETCH(QByteArray, switchText);
    QFETCH(QByteArray, format);
    QFETCH(QString, archiveName);
    QFETCH(QString, destination);
    QFETCH(int, result);

    QTemporaryDir root;
    QVERIFY(QDir().mkpath(root.filePath("dest")));
    const QString archive = root.filePath(archiveName);
    if (format != "none")
        QVERIFY(writeArchive(archive, format, {{"f.txt", "f"}}));

    QByteArray message;
    QCOMPARE(run(library, switchText, archive, root.filePath(destination), &message), result);
    QVERIFY(result == TENVO_OK || !message.isEmpty());
    QVERIFY(!QFileInfo::exists(root.filePath("nowhere")));
    if (result == TENVO_OK)
        QCOMPARE(folderTree(root.filePath("dest")), QStringList{"f.txt = " + md5Hex("f")});
}

void TestLibarchiveFormats::password_data()
{
    QTest::addColumn<QByteArray>("library");
    QTest::addColumn<QByteArray>("maker");
    QTest::addColumn<QByteArray>("passwordWord");
    QTest::addColumn<int>("result");

    // The password holds a blank and a double quote, as the program quotes it.
    const QByteArray right = "\"-pmy \"\"pass\"\" 1\" ";
    const QByteArray wrong = "\"-pmy pass 2\" ";
    const int ok = TENVO_OK;
    const int encrypted = TENVO_ERR_ENCRYPTED;
    QTest::newRow("traditional ZIP from zip -P, right password") << QByteArray("unzip32") << QByteArray("zip") << right << ok;
    QTest::newRow("traditional ZIP, right password, through 7-zip32") << QByteArray("7-zip32") << QByteArray("zip") << right << ok;
    QTest::newRow("traditional ZIP, wrong password, nothing written") << QByteArray("unzip32") << QByteArray("zip") << wrong << encrypted;
    QTest::newRow("traditional ZIP, no password, nothing written") << QByteArray("unzip32") << QByteArray("zip") << QByteArray() << encrypted;
    QTest::newRow("AES-256 ZIP from 7zz, right password") << QByteArray("unzip32") << QByteArray("aes") << right << ok;
    QTest::newRow("AES-256 ZIP, wrong password, nothing written") << QByteArray("7-zip32") << QByteArray("aes") << wrong << encrypted;
    QTest::newRow("AES-256 ZIP, no password, nothing written") << QByteArray("unzip32") << QByteArray("aes") << QByteArray() << encrypted;
    QTest::newRow("ZIP with one plain and one encrypted entry, no password, nothing written")
        << QByteArray("unzip32") << QByteArray("mixed") << QByteArray() << encrypted;
    QTest::newRow("ZIP with one plain and one encrypted entry, right password")
        << QByteArray("unzip32") << QByteArray("mixed") << right << ok;
    QTest::newRow("a password on a ZIP without encryption is not needed") << QByteArray("unzip32") << QByteArray("plain") << wrong << ok;
    QTest::newRow("AES-256 7z, LZMA2, right password") << QByteArray("7-zip32") << QByteArray("7z") << right << ok;
    QTest::newRow("AES-256 7z, wrong password, nothing written") << QByteArray("7-zip32") << QByteArray("7z") << wrong << encrypted;
    QTest::newRow("AES-256 7z, no password, nothing written") << QByteArray("7-zip32") << QByteArray("7z") << QByteArray() << encrypted;
    QTest::newRow("AES-256 7z with encrypted names, right password") << QByteArray("7-zip32") << QByteArray("7z -mhe=on") << right << ok;
    QTest::newRow("AES-256 7z with encrypted names, wrong password, nothing written") << QByteArray("7-zip32") << QByteArray("7z -mhe=on") << wrong << encrypted;
    QTest::newRow("AES-256 7z with encrypted names, no password, nothing written") << QByteArray("7-zip32") << QByteArray("7z -mhe=on") << QByteArray() << encrypted;
    QTest::newRow("AES-256 7z, PPMd, a folder per file, right password") << QByteArray("7-zip32") << QByteArray("7z -m0=PPMd -ms=off") << right << ok;
    QTest::newRow("AES-256 7z, BCJ and LZMA, encrypted names, right password") << QByteArray("7-zip32") << QByteArray("7z -mf=BCJ -m0=LZMA -mhe=on") << right << ok;
    QTest::newRow("AES-256 7z stored, wrong password caught by the CRC, nothing written") << QByteArray("7-zip32") << QByteArray("7z -mx=0") << wrong << encrypted;
    QTest::newRow("7z behind the ARM64 filter, no password needed") << QByteArray("7-zip32") << QByteArray("7zplain -mf=ARM64") << wrong << ok;
    QTest::newRow("7z behind the RISC-V filter, names encrypted, right password") << QByteArray("7-zip32") << QByteArray("7z -mf=RISCV -mhe=on") << right << ok;
    QTest::newRow("7z behind the ARM64 filter, a folder per file, wrong password, nothing written") << QByteArray("7-zip32") << QByteArray("7z -mf=ARM64 -ms=off") << wrong << encrypted;
    QTest::newRow("7z packed with Deflate64, no password needed") << QByteArray("7-zip32") << QByteArray("7zplain -m0=Deflate64") << wrong << ok;
    QTest::newRow("7z packed with Deflate64, a folder per file, names encrypted, right password") << QByteArray("7-zip32") << QByteArray("7z -m0=Deflate64 -ms=off -mhe=on") << right << ok;
    QTest::newRow("7z packed with Deflate64, wrong password caught by the CRC, nothing written") << QByteArray("7-zip32") << QByteArray("7z -m0=Deflate64") << wrong << encrypted;
    QTest::newRow("unlha32 takes no password") << QByteArray("unlha32") << QByteArray("plain") << right << int(TENVO_ERR_COMMAND);
}

// ZIP and 7z archives made by zip and 7zz with a password (and 7z with the
// filters and Deflate64 libarchive lacks): the password reaches the
// library as one word before the archive, and a wrong or missing one leaves
// the destination as it was.
void TestLibarchiveFormats::password()
{
    QFETCH(QByteArray, library);
    QFETCH(QByteArray, maker);
    QFETCH(QByteArray, passwordWord);
    QFETCH(int, result);

    const QString password = QStringLiteral("my \"pass\" 1");
    QTemporaryDir work;
    const QByteArray big = pseudoRandom(300 * 1024, 9);
    {
        QFile a(work.filePath("a.txt"));
        QVERIFY(a.open(QIODevice::WriteOnly));
        a.write(big);
        QFile b(work.filePath("b.txt"));
        QVERIFY(b.open(QIODevice::WriteOnly));
        b.write("bee");
    }
    auto tool = [&](const QString &program, const QStringList &arguments) {
        QProcess process;
        process.setWorkingDirectory(work.path());
        process.start(program, arguments);
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    };
    const QString archive = work.filePath(maker.startsWith("7z") ? "p.7z" : "p.zip");
    bool made = false;
    if (maker == "zip")
        made = tool("zip", {"-q", "-P", password, archive, "a.txt", "b.txt"});
    else if (maker == "plain")
        made = tool("zip", {"-q", archive, "a.txt", "b.txt"});
    else if (maker == "mixed")
        made = tool("zip", {"-q", archive, "b.txt"}) && tool("zip", {"-q", "-P", password, archive, "a.txt"});
    else if (maker == "aes")
        made = tool("7zz", {"a", "-tzip", "-mem=AES256", "-p" + password, archive, "a.txt", "b.txt"});
    else
        made = tool("7zz", QStringList{"a", "-t7z", maker.startsWith("7zplain") ? "-bso0" : "-p" + password,
                                       archive, "a.txt", "b.txt"}
                               + QString::fromLatin1(maker).split(u' ').mid(1));
    if (!made)
        QSKIP("zip or 7zz (scripts/setup.sh installs them) cannot make the archive");

    QTemporaryDir destination;
    QFile old(destination.filePath("b.txt"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    const QByteArray switchText = (library == "unzip32" ? "-x " : "x ") + passwordWord;
    QByteArray message;
    QCOMPARE(run(library, switchText, archive, destination.path(), &message), result);
    if (result == TENVO_OK) {
        QCOMPARE(folderTree(destination.path()),
                 QStringList({"a.txt = " + md5Hex(big), "b.txt = " + md5Hex("bee")}));
    } else {
        QCOMPARE(folderTree(destination.path()), QStringList{"b.txt = " + md5Hex("old")});
        QVERIFY(!message.isEmpty());
    }
    QVERIFY2(!message.contains("pass\""), "the password never reaches a message");
}

void TestLibarchiveFormats::outputBuffer()
{
    const CommandCall unzip = m_libraries.value("unzip32").command;
    char small[10];
    std::memset(small, 'z', sizeof small);
    QCOMPARE(unzip(nullptr, "-t \"/a\" \"/b\"", small, sizeof small), int(TENVO_ERR_COMMAND));
    QCOMPARE(std::strlen(small), sizeof small - 1);

    // As the program calls it: no buffer at all.
    QCOMPARE(unzip(nullptr, "-t \"/a\" \"/b\"", nullptr, 0), int(TENVO_ERR_COMMAND));
    QCOMPARE(unzip(nullptr, nullptr, nullptr, 0), int(TENVO_ERR_COMMAND));

    // An entry name with control characters reaches the message escaped.
    const QString archive = makeArchive("zip", {{"../bad\n\x1b[2J.txt", "x"}});
    QTemporaryDir destination;
    QByteArray message;
    QCOMPARE(run("unzip32", "-x ", archive, destination.path(), &message), int(TENVO_ERR_UNSAFE));
    QVERIFY2(message.contains("bad\\n\\x1B[2J.txt"), message.constData());
    QVERIFY(!message.contains('\n') && !message.contains('\x1b'));
}

void TestLibarchiveFormats::quoteInArchivePath()
{
    QTemporaryDir root;
    const QString archive = root.filePath("say \"hi\" \\ back.zip");
    QVERIFY(writeArchive(archive, "zip", {{"f.txt", "f"}}));
    const QString destination = root.filePath("out \"dir\"");
    QVERIFY(QDir().mkpath(destination));
    QCOMPARE(run("unzip32", "-x -j ", archive, destination), 0);
    QCOMPARE(folderTree(destination), QStringList{"f.txt = " + md5Hex("f")});
}

QTEST_GUILESS_MAIN(TestLibarchiveFormats)
#include "tst_libarchiveformats.moc"

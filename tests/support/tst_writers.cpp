// Self-test of the fixture writers: libarchive must read back what each of them writes.
#include "archivemaker.h"
#include "handmadezip.h"
#include "lzhwriter.h"
#include "rar5writer.h"

#include <archive.h>
#include <archive_entry.h>

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace tenvo::fixture;

using Names = std::vector<std::string>;
Q_DECLARE_METATYPE(FixtureEntries)
Q_DECLARE_METATYPE(Names)

namespace {

// CP932 for 表: its second byte is 0x5C, the MS-DOS path separator.
const std::string hyoCp932 = "\x95\x5C";
const std::string hyoUtf8 = "\xE8\xA1\xA8";

struct ReadEntry
{
    std::string name;
    FixtureEntry::Kind kind = FixtureEntry::File;
    std::string data;
    std::string linkTarget;
    uint32_t perm = 0;
    int64_t mtime = 0;
};

struct ReadResult
{
    std::vector<ReadEntry> entries;
    int format = 0;
    // The first failure libarchive reported; empty when everything read cleanly.
    std::string error;
};

using ReadHandle = std::unique_ptr<archive, decltype(&archive_read_free)>;

// Reads a whole archive with libarchive in the given locale: every header, and
// the data of every file. Any status below ARCHIVE_OK stops the reading.
ReadResult readArchive(const QString &path, int (*support)(archive *), const char *locale,
                       const char *options = nullptr, const char *passphrase = nullptr)
{
    ReadResult result;
    ScopedLocale scoped(locale);
    ReadHandle a(archive_read_new(), archive_read_free);
    support(a.get());
    auto failed = [&](const char *what) {
        const char *why = archive_error_string(a.get());
        result.error = std::string(what) + ": " + (why ? why : "(no message)");
        return result;
    };
    if (!scoped.isValid())
        return failed("locale");
    if (options && archive_read_set_options(a.get(), options) != ARCHIVE_OK)
        return failed("options");
    if (passphrase)
        archive_read_add_passphrase(a.get(), passphrase);
    if (archive_read_open_filename(a.get(), QFile::encodeName(path).constData(), 10240) != ARCHIVE_OK)
        return failed("open");

    archive_entry *entry = nullptr;
    for (;;) {
        const int r = archive_read_next_header(a.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK)
            return failed("header");
        result.format = archive_format(a.get());
        ReadEntry e;
        const char *name = archive_entry_pathname(entry);
        e.name = name ? name : "";
        e.perm = archive_entry_perm(entry);
        e.mtime = archive_entry_mtime(entry);
        switch (archive_entry_filetype(entry)) {
        case AE_IFDIR:
            e.kind = FixtureEntry::Directory;
            while (!e.name.empty() && e.name.back() == '/')
                e.name.pop_back();
            break;
        case AE_IFLNK:
            e.kind = FixtureEntry::Symlink;
            e.linkTarget = archive_entry_symlink(entry) ? archive_entry_symlink(entry) : "";
            break;
        default:
            char buffer[8192];
            la_ssize_t n;
            while ((n = archive_read_data(a.get(), buffer, sizeof buffer)) > 0)
                e.data.append(buffer, std::size_t(n));
            if (n < 0)
                return failed("data");
            break;
        }
        result.entries.push_back(e);
    }
    return result;
}

QByteArray bytes(const std::string &s)
{
    return QByteArray::fromStdString(s);
}

std::string stripSlash(std::string name)
{
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    return name;
}

struct Expect
{
    bool modes = false;   // the format keeps Unix permission bits
    bool dosTime = false; // the format keeps MS-DOS times (even seconds)
    bool readOnly = true; // without modes, the reader still sees read-only
};

// Compares what was read with what was written, entry by entry, in order.
// names: the names as read back, when they differ from the written ones.
void compareEntries(const ReadResult &read, const FixtureEntries &written, const Names &names,
                    Expect expect)
{
    QCOMPARE(bytes(read.error), QByteArray());
    QCOMPARE(read.entries.size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        const ReadEntry &r = read.entries[i];
        const FixtureEntry &w = written[i];
        QCOMPARE(bytes(r.name), bytes(names.empty() ? stripSlash(w.name) : names[i]));
        QCOMPARE(int(r.kind), int(w.kind));
        QCOMPARE(bytes(r.data), bytes(w.kind == FixtureEntry::File ? w.data : std::string()));
        QCOMPARE(bytes(r.linkTarget), bytes(w.linkTarget));
        QCOMPARE(r.mtime, expect.dosTime ? w.mtime & ~int64_t(1) : w.mtime);
        if (expect.modes)
            QCOMPARE(r.perm, w.mode);
        else if (expect.readOnly && w.kind != FixtureEntry::Symlink)
            QCOMPARE(bool(r.perm & 0200), bool(w.mode & 0200)); // MS-DOS read-only attribute
    }
}

QString fixturePath(const QTemporaryDir &dir, const char *name)
{
    return dir.filePath(QString::fromLatin1(name));
}

// Bitwise references, independent of the writers' table-driven code.
uint16_t referenceCrc16(const std::string &bytes)
{
    uint16_t crc = 0;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

uint32_t referenceCrc32(const std::string &bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

std::string le(uint32_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
    return out;
}

uint32_t readLe(const std::string &b, std::size_t at, int bytes)
{
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | uint8_t(b[at + i]);
    return value;
}

struct ZipCentralEntry
{
    std::string name;
    uint16_t flags = 0;
    uint16_t method = 0;
};

// The central directory of a ZIP archive, as stored.
std::vector<ZipCentralEntry> zipCentralDirectory(const std::string &zip)
{
    std::vector<ZipCentralEntry> entries;
    const auto eocd = zip.rfind(std::string("PK\x05\x06", 4));
    if (eocd == std::string::npos)
        return entries;
    std::size_t at = readLe(zip, eocd + 16, 4);
    const uint32_t count = readLe(zip, eocd + 10, 2);
    for (uint32_t i = 0; i < count && at + 46 <= zip.size(); ++i) {
        ZipCentralEntry e;
        e.flags = uint16_t(readLe(zip, at + 8, 2));
        e.method = uint16_t(readLe(zip, at + 10, 2));
        const uint32_t nameLength = readLe(zip, at + 28, 2);
        e.name = zip.substr(at + 46, nameLength);
        entries.push_back(e);
        at += 46 + nameLength + readLe(zip, at + 30, 2) + readLe(zip, at + 32, 2);
    }
    return entries;
}

FixtureEntry withMtime(FixtureEntry e, int64_t mtime)
{
    e.mtime = mtime;
    return e;
}

FixtureEntries ordinaryEntries()
{
    return {FixtureEntry::file("a.txt", "hello\n"),
            FixtureEntry::directory("dir"),
            FixtureEntry::file("dir/sub/b.bin", std::string("\0\x01\xFF\r\n", 5), 0600),
            FixtureEntry::file("dir/empty", ""),
            FixtureEntry::file("readonly.txt", "keep", 0444),
            withMtime(FixtureEntry::file("old.txt", "1999"), 946684800)};
}

} // namespace

class TestWriters : public QObject
{
    Q_OBJECT

private slots:
    void lzhRoundTrip_data();
    void lzhRoundTrip();
    void lzhFolderSeparators_data();
    void lzhFolderSeparators();
    void lzhDataCrc_data();
    void lzhDataCrc();
    void lzhDamage_data();
    void lzhDamage();
    void rar5RoundTrip_data();
    void rar5RoundTrip();
    void rar5DataCrc();
    void rar5Damage_data();
    void rar5Damage();
    void rar5EncryptedEntryIsNotPlain();
    void zipRoundTrip_data();
    void zipRoundTrip();
    void zipDamage_data();
    void zipDamage();
    void zipPassword();
    void sevenZipRoundTrip_data();
    void sevenZipRoundTrip();
    void cabRoundTrip_data();
    void cabRoundTrip();
    void refusals();
    void deflateBomb_data();
    void deflateBomb();
    void overlappingZip();
    void rar5SizesAndHardLinks();
};

void TestWriters::lzhRoundTrip_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<char>("os");
    QTest::addColumn<uint32_t>("codePage");
    QTest::addColumn<FixtureEntries>("entries");
    QTest::addColumn<Names>("names");

    const FixtureEntries plain = ordinaryEntries();
    const Names plainNames = {"a.txt", "dir", "dir/sub/b.bin", "dir/empty", "readonly.txt", "old.txt"};
    const FixtureEntries cp932 = {FixtureEntry::file(hyoCp932 + ".txt", "one"),
                                  FixtureEntry::directory(hyoCp932),
                                  FixtureEntry::file(hyoCp932 + "/" + hyoCp932 + ".txt", "two")};
    const Names cp932Names = {hyoUtf8 + ".txt", hyoUtf8, hyoUtf8 + "/" + hyoUtf8 + ".txt"};
    FixtureEntries unixEntries = plain;
    unixEntries.push_back(FixtureEntry::file("run.sh", "#!/bin/sh\n", 0755));
    unixEntries.push_back(FixtureEntry::symlink("dir/link", "../a.txt"));
    unixEntries.push_back(FixtureEntry::symlink("flat", "a.txt"));
    Names unixReadNames = plainNames;
    unixReadNames.insert(unixReadNames.end(), {"run.sh", "dir/link", "flat"});

    for (int level : {0, 1, 2, 3}) {
        const QByteArray l = "Level " + QByteArray::number(level);
        QTest::newRow(l + ", MS-DOS, files and folders") << level << 'M' << 0u << plain << plainNames;
        QTest::newRow(l + ", MS-DOS, CP932 names whose second byte is 0x5C")
            << level << 'M' << 0u << cp932 << cp932Names;
        QTest::newRow(l + ", Unix, modes and symbolic links") << level << 'U' << 0u << unixEntries << unixReadNames;
    }
    QTest::newRow("Level 2, UTF-8 names marked by the code-page extension")
        << 2 << 'M' << 65001u << FixtureEntries{FixtureEntry::file(hyoUtf8 + "/x.txt", "u")}
        << Names{hyoUtf8 + "/x.txt"};

    // One of these headers is exactly 256 bytes long, whose zero low byte
    // must not end the archive.
    FixtureEntries longNames;
    Names longReadNames;
    for (int length = 200; length < 240; ++length) {
        longNames.push_back(FixtureEntry::file(std::string(length, 'n'), "x"));
        longReadNames.push_back(std::string(length, 'n'));
    }
    QTest::newRow("Level 2, header sizes across a multiple of 256")
        << 2 << 'M' << 0u << longNames << longReadNames;
}

void TestWriters::lzhRoundTrip()
{
    QFETCH(int, level);
    QFETCH(char, os);
    QFETCH(uint32_t, codePage);
    QFETCH(FixtureEntries, entries);
    QFETCH(Names, names);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = fixturePath(dir, "fixture.lzh");
    LzhOptions options;
    options.level = level;
    options.os = os;
    options.codePage = codePage;
    std::string error;
    QVERIFY2(writeLzh(path, entries, options, &error), error.c_str());

    // libarchive 3.6 turns LZH names into Unicode and fails on any byte the
    // locale cannot decode, so names are read as CP932 into UTF-8.
    const ReadResult read = readArchive(path, archive_read_support_format_lha, "C.UTF-8",
                                        "hdrcharset=CP932");
    QCOMPARE(read.format, int(ARCHIVE_FORMAT_LHA));
    // libarchive takes MS-DOS attributes from the attribute extension only,
    // so a level-0 header's read-only bit does not reach it.
    compareEntries(read, entries, names, {os == 'U', os == 'M' && level < 2, level > 0});
}

void TestWriters::lzhFolderSeparators_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("pathInName");
    QTest::addColumn<char>("separator");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("Level 0, backslashes in the name") << 0 << false << '\\' << QByteArray("dir\\sub\\b.bin");
    QTest::newRow("Level 0, slashes in the name") << 0 << false << '/' << QByteArray("dir/sub/b.bin");
    QTest::newRow("Level 1, directory extension with 0xFF")
        << 1 << false << '\\' << QByteArray("\x02" "dir\xFF" "sub\xFF");
    QTest::newRow("Level 1, whole path in the name") << 1 << true << '/' << QByteArray("dir/sub/b.bin");
    QTest::newRow("Level 2, directory extension with 0xFF")
        << 2 << false << '\\' << QByteArray("\x02" "dir\xFF" "sub\xFF");
}

void TestWriters::lzhFolderSeparators()
{
    QFETCH(int, level);
    QFETCH(bool, pathInName);
    QFETCH(char, separator);
    QFETCH(QByteArray, stored);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = fixturePath(dir, "folders.lzh");
    LzhOptions options;
    options.level = level;
    options.pathInName = pathInName;
    options.nameSeparator = separator;
    const FixtureEntries entries = {FixtureEntry::file("dir/sub/b.bin", "data")};
    const std::string lzh = makeLzh(entries, options);
    QVERIFY(lzh.find(stored.toStdString()) != std::string::npos);
    QVERIFY(writeFixtureFile(path, lzh));

    const ReadResult read = readArchive(path, archive_read_support_format_lha, "C");
    compareEntries(read, entries, {}, {false, level < 2, level > 0});
}

void TestWriters::lzhDataCrc_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("corrupt");
    for (int level : {0, 1, 2}) {
        const QByteArray l = "Level " + QByteArray::number(level);
        QTest::newRow(l + ", intact") << level << false;
        QTest::newRow(l + ", data CRC corrupted") << level << true;
    }
}

void TestWriters::lzhDataCrc()
{
    QFETCH(int, level);
    QFETCH(bool, corrupt);

    QCOMPARE(referenceCrc16("123456789"), uint16_t(0xBB3D)); // CRC-16/ARC check value
    const std::string data = "The quick brown fox jumps over the lazy dog";
    QCOMPARE(lzhCrc16(data), referenceCrc16(data));

    LzhOptions options;
    options.level = level;
    if (corrupt)
        options.badDataCrcEntry = 0;
    const std::string name = "fox.txt";
    const std::string lzh = makeLzh({FixtureEntry::file(name, data)}, options);
    // The data CRC sits after the name at levels 0 and 1, at offset 21 at level 2.
    const std::size_t crcAt = level == 2 ? 21 : 22 + name.size();
    QVERIFY(lzh.size() > crcAt + 2);
    QCOMPARE(lzh.substr(crcAt, 2) == le(referenceCrc16(data), 2), !corrupt);
}

void TestWriters::lzhDamage_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("badDataCrc");
    QTest::addColumn<bool>("badHeader");
    QTest::addColumn<bool>("cut");

    // libarchive checks the data CRC at level 2 only (lzhDataCrc covers the others).
    QTest::newRow("Level 2, data CRC wrong") << 2 << true << false << false;
    for (int level : {0, 1, 2}) {
        const QByteArray l = "Level " + QByteArray::number(level);
        QTest::newRow(l + ", header check wrong") << level << false << true << false;
        QTest::newRow(l + ", cut inside the last file's data") << level << false << false << true;
    }
}

void TestWriters::lzhDamage()
{
    QFETCH(int, level);
    QFETCH(bool, badDataCrc);
    QFETCH(bool, badHeader);
    QFETCH(bool, cut);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = fixturePath(dir, "damaged.lzh");
    const FixtureEntries entries = {FixtureEntry::file("first.txt", "first file"),
                                    FixtureEntry::file("second.txt", "second file")};
    LzhOptions options;
    options.level = level;
    if (badDataCrc)
        options.badDataCrcEntry = 1;
    if (badHeader)
        options.badHeaderCheckEntry = 1;
    options.truncateInLastData = cut;
    QVERIFY(writeLzh(path, entries, options));

    const ReadResult read = readArchive(path, archive_read_support_format_lha, "C");
    QVERIFY(!read.error.empty());
    // The damage is in the second entry: the first still reads whole.
    QVERIFY(!read.entries.empty());
    QCOMPARE(read.entries[0].data, entries[0].data);
}

void TestWriters::rar5RoundTrip_data()
{
    QTest::addColumn<int>("host");
    QTest::addColumn<FixtureEntries>("entries");

    FixtureEntries entries = ordinaryEntries();
    entries.push_back(FixtureEntry::file(hyoUtf8 + "/" + hyoUtf8 + ".txt", "unicode"));
    // 200000 bytes: sizes that take three bytes as variable-length integers.
    entries.push_back(FixtureEntry::file("big.bin", std::string(200000, '\x5A')));
    FixtureEntries unixEntries = entries;
    unixEntries.push_back(FixtureEntry::symlink("dir/link", "../a.txt"));
    unixEntries.push_back(FixtureEntry::file("run.sh", "#!/bin/sh\n", 0755));

    QTest::newRow("Unix host, modes and a symbolic link") << int(Rar5Options::Host::Unix) << unixEntries;
    QTest::newRow("Windows host") << int(Rar5Options::Host::Windows) << entries;
}

void TestWriters::rar5RoundTrip()
{
    QFETCH(int, host);
    QFETCH(FixtureEntries, entries);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = fixturePath(dir, "fixture.rar");
    Rar5Options options;
    options.host = Rar5Options::Host(host);
    QVERIFY(writeRar5(path, entries, options));

    const ReadResult read = readArchive(path, archive_read_support_format_rar5, "C.UTF-8");
    QCOMPARE(read.format, int(ARCHIVE_FORMAT_RAR_V5));
    const bool unixHost = options.host == Rar5Options::Host::Unix;
    compareEntries(read, entries, {}, {unixHost, false});
}

void TestWriters::rar5DataCrc()
{
    // libarchive 3.6 does not check the CRC of stored RAR 5 data, so the
    // stored value is compared with a reference CRC32 here.
    QCOMPARE(referenceCrc32("123456789"), 0xCBF43926u);
    const std::string data = "stored data with a checksum";
    const std::string good = le(referenceCrc32(data), 4);

    const std::string intact = makeRar5({FixtureEntry::file("f.txt", data)});
    Rar5Options options;
    options.badDataCrcEntry = 0;
    const std::string damaged = makeRar5({FixtureEntry::file("f.txt", data)}, options);
    const auto header = [&](const std::string &rar) { return rar.substr(0, rar.find(data)); };
    QVERIFY(header(intact).find(good) != std::string::npos);
    QVERIFY(header(damaged).find(good) == std::string::npos);
    QCOMPARE(damaged.size(), intact.size());
}

void TestWriters::rar5Damage_data()
{
    QTest::addColumn<bool>("badHeaderCrc");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<bool>("encryptHeaders");

    QTest::newRow("Second file header's CRC wrong") << true << false << false;
    QTest::newRow("Cut inside the last file's data") << false << true << false;
    QTest::newRow("Headers encrypted") << false << false << true;
}

void TestWriters::rar5Damage()
{
    QFETCH(bool, badHeaderCrc);
    QFETCH(bool, cut);
    QFETCH(bool, encryptHeaders);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = fixturePath(dir, "damaged.rar");
    Rar5Options options;
    if (badHeaderCrc)
        options.badHeaderCrcEntry = 1;
    options.truncateInLastData = cut;
    options.encryptHeaders = encryptHeaders;
    QVERIFY(writeRar5(path, {FixtureEntry::file("first.txt", "first file"),
                             FixtureEntry::file("second.txt", "second file")}, options));

    const ReadResult read = readArchive(path, archive_read_support_format_rar5, "C.UTF-8");
    QVERIFY(!read.error.empty());
    QCOMPARE(read.entries.size(), encryptHeaders ? std::size_t(0) : std::size_t(1));
}

void TestWriters::rar5EncryptedEntryIsNotPlain()
{
    // libarchive 3.6 skips the encryption record and hands out the stored
    // bytes, so this checks they are cipher-sized and not the plain data.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = fixturePath(dir, "encrypted.rar");
    const std::string secret = "secret text";
    Rar5Options options;
    options.encryptedEntry = 0;
    QVERIFY(writeRar5(path, {FixtureEntry::file("secret.txt", secret)}, options));

    const ReadResult read = readArchive(path, archive_read_support_format_rar5, "C.UTF-8");
    QCOMPARE(read.entries.size(), std::size_t(1));
    QCOMPARE(read.entries[0].data.size(), std::size_t(16));
    QVERIFY(read.entries[0].data.find(secret) == std::string::npos);
}

void TestWriters::zipRoundTrip_data()
{
    QTest::addColumn<bool>("raw");
    QTest::addColumn<bool>("deflate");
    QTest::addColumn<FixtureEntries>("entries");

    FixtureEntries plain = ordinaryEntries();
    plain.push_back(FixtureEntry::symlink("dir/link", "../a.txt"));
    const FixtureEntries hostile = {FixtureEntry::file("../x", "up"),
                                    FixtureEntry::file("/abs/x", "absolute"),
                                    FixtureEntry::file("a/./b/../c.txt", "dots")};
    const FixtureEntries cp932 = {FixtureEntry::file(hyoCp932 + ".txt", "one"),
                                  FixtureEntry::directory(hyoCp932),
                                  FixtureEntry::file(hyoCp932 + "/" + hyoCp932 + ".txt", "two")};
    const FixtureEntries utf8 = {FixtureEntry::file(hyoUtf8 + ".txt", "one"),
                                 FixtureEntry::file("ascii.txt", "two")};

    QTest::newRow("Stored, files, folders and a symbolic link") << false << false << plain;
    QTest::newRow("Deflated, files, folders and a symbolic link") << false << true << plain;
    QTest::newRow("Hostile names kept verbatim") << false << false << hostile;
    QTest::newRow("CP932 names stored raw without the UTF-8 flag") << true << false << cp932;
    QTest::newRow("CP932 names raw and deflated") << true << true << cp932;
    QTest::newRow("UTF-8 names flagged") << false << true << utf8;
}

void TestWriters::zipRoundTrip()
{
    QFETCH(bool, raw);
    QFETCH(bool, deflate);
    QFETCH(FixtureEntries, entries);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = fixturePath(dir, "fixture.zip");
    ZipOptions options;
    options.names = raw ? ZipOptions::Names::Raw : ZipOptions::Names::Utf8;
    options.deflate = deflate;
    std::string error;
    const std::string zip = makeZip(entries, options, &error);
    QVERIFY2(!zip.empty(), error.c_str());
    QVERIFY(writeFixtureFile(path, zip));

    const std::vector<ZipCentralEntry> central = zipCentralDirectory(zip);
    QCOMPARE(central.size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FixtureEntry &e = entries[i];
        const std::string stored = e.kind == FixtureEntry::Directory ? stripSlash(e.name) + "/" : e.name;
        QCOMPARE(bytes(central[i].name), bytes(stored));
        bool ascii = true;
        for (unsigned char c : e.name)
            ascii = ascii && c < 0x80;
        QCOMPARE(bool(central[i].flags & 0x0800), !raw && !ascii);
        QCOMPARE(central[i].method, uint16_t(deflate && e.kind == FixtureEntry::File ? 8 : 0));
    }

    const ReadResult read = readArchive(path, archive_read_support_format_zip, raw ? "C" : "C.UTF-8");
    QCOMPARE(read.format & ARCHIVE_FORMAT_BASE_MASK, int(ARCHIVE_FORMAT_ZIP));
    compareEntries(read, entries, {}, {true, false});
}

void TestWriters::zipDamage_data()
{
    QTest::addColumn<bool>("corrupt");
    QTest::addColumn<bool>("deflate");
    QTest::newRow("Stored data corrupted") << true << false;
    QTest::newRow("Deflated data corrupted") << true << true;
    QTest::newRow("Cut short") << false << false;
}

void TestWriters::zipDamage()
{
    QFETCH(bool, corrupt);
    QFETCH(bool, deflate);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = fixturePath(dir, "damaged.zip");
    const std::string text(4000, 't');
    const FixtureEntries entries = {FixtureEntry::directory("d"), FixtureEntry::file("d/t.txt", text)};
    ZipOptions options;
    options.deflate = deflate;
    options.corruptFirstData = corrupt;
    const std::size_t whole = makeZip(entries, options).size();
    if (!corrupt)
        options.truncateTo = whole / 2;
    QVERIFY(writeZip(path, entries, options));

    const ReadResult read = readArchive(path, archive_read_support_format_zip, "C");
    QVERIFY(!read.error.empty());
    for (const ReadEntry &e : read.entries)
        QVERIFY(e.data != text);
}

void TestWriters::zipPassword()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = fixturePath(dir, "locked.zip");
    const FixtureEntries entries = {FixtureEntry::file("secret.txt", "secret text")};
    ZipOptions options;
    options.password = "pass";
    QVERIFY(writeZip(path, entries, options));

    const ReadResult locked = readArchive(path, archive_read_support_format_zip, "C");
    QVERIFY(!locked.error.empty());
    const ReadResult opened = readArchive(path, archive_read_support_format_zip, "C", nullptr, "pass");
    compareEntries(opened, entries, {}, {true, false});
}

void TestWriters::sevenZipRoundTrip_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<FixtureEntries>("entries");

    FixtureEntries entries = ordinaryEntries();
    entries.push_back(FixtureEntry::file(hyoUtf8 + "/" + hyoUtf8 + ".txt", "unicode"));
    entries.push_back(FixtureEntry::symlink("dir/link", "../a.txt"));
    entries.push_back(FixtureEntry::file("../x", "up"));
    QTest::newRow("Stored") << int(SevenZipOptions::Method::Store) << entries;
    QTest::newRow("Deflate") << int(SevenZipOptions::Method::Deflate) << entries;
    QTest::newRow("LZMA2") << int(SevenZipOptions::Method::Lzma2) << entries;
}

void TestWriters::sevenZipRoundTrip()
{
    QFETCH(int, method);
    QFETCH(FixtureEntries, entries);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = fixturePath(dir, "fixture.7z");
    SevenZipOptions options;
    options.method = SevenZipOptions::Method(method);
    std::string error;
    QVERIFY2(write7z(path, entries, options, &error), error.c_str());

    ReadResult read = readArchive(path, archive_read_support_format_7zip, "C.UTF-8");
    QCOMPARE(read.format, int(ARCHIVE_FORMAT_7ZIP));
    // libarchive's 7z writer stores entries with data first, then empty
    // files, then directories, each group in the order given.
    const auto group = [](const FixtureEntry &e) {
        if (e.kind == FixtureEntry::Directory)
            return 2;
        return e.kind == FixtureEntry::File && e.data.empty() ? 1 : 0;
    };
    FixtureEntries expected = entries;
    std::stable_sort(expected.begin(), expected.end(),
                     [&](const FixtureEntry &x, const FixtureEntry &y) { return group(x) < group(y); });
    compareEntries(read, expected, {}, {true, false});
}

void TestWriters::cabRoundTrip_data()
{
    QTest::addColumn<bool>("mszip");
    QTest::addColumn<FixtureEntries>("entries");
    QTest::addColumn<Names>("names");

    const FixtureEntries plain = {FixtureEntry::file("a.txt", "hello\n"),
                                  FixtureEntry::file("sub/deep/b.bin", std::string("\0\x01\xFF", 3), 0444),
                                  FixtureEntry::file("empty", ""),
                                  withMtime(FixtureEntry::file("odd.txt", "odd"), FixtureEntry::defaultMtime + 1)};
    const Names plainNames = {"a.txt", "sub/deep/b.bin", "empty", "odd.txt"};
    const FixtureEntries cp932 = {FixtureEntry::file(hyoCp932 + ".txt", "one"),
                                  FixtureEntry::file(hyoCp932 + "/" + hyoCp932 + ".txt", "two")};
    const Names cp932Names = {hyoUtf8 + ".txt", hyoUtf8 + "/" + hyoUtf8 + ".txt"};
    const FixtureEntries utf8 = {FixtureEntry::file(hyoUtf8 + "/x.txt", "u")};

    for (bool mszip : {false, true}) {
        const QByteArray m = mszip ? "MSZIP" : "Uncompressed";
        QTest::newRow(m + ", files in folders") << mszip << plain << plainNames;
        QTest::newRow(m + ", CP932 names stored raw") << mszip << cp932 << cp932Names;
        QTest::newRow(m + ", UTF-8 name with the UTF-8 attribute") << mszip << utf8 << Names{hyoUtf8 + "/x.txt"};
    }
}

void TestWriters::cabRoundTrip()
{
    if (!gcabAvailable())
        QSKIP("gcab is not installed");
    QFETCH(bool, mszip);
    QFETCH(FixtureEntries, entries);
    QFETCH(Names, names);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = fixturePath(dir, "fixture.cab");
    std::string error;
    QVERIFY2(writeCab(path, entries, {mszip}, &error), error.c_str());

    // Names without the UTF-8 attribute are read as CP932; a name with it
    // must come back unchanged, so the attribute is set exactly where due.
    const ReadResult read = readArchive(path, archive_read_support_format_cab, "C.UTF-8",
                                        "hdrcharset=CP932");
    QCOMPARE(read.format, int(ARCHIVE_FORMAT_CAB));
    compareEntries(read, entries, names, {false, true});
}

void TestWriters::refusals()
{
    // Inputs a format cannot hold make the call fail with a reason, rather
    // than yield a fixture that differs from what the test asked for.
    const std::string cp932Name = hyoCp932 + ".txt";
    std::string error;
    QVERIFY(make7z({FixtureEntry::file(cp932Name, "x")}, {}, &error).empty());
    QVERIFY(!error.empty());
    error.clear();
    QVERIFY(makeZip({FixtureEntry::file(cp932Name, "x")}, {}, &error).empty());
    QVERIFY(!error.empty());
    error.clear();
    QVERIFY(makeLzh({FixtureEntry::symlink("l", "a")}, {}, &error).empty()); // OS id 'M'
    QVERIFY(!error.empty());
    error.clear();
    LzhOptions level0;
    level0.level = 0;
    QVERIFY(makeLzh({FixtureEntry::file(std::string(222, 'n'), "x")}, level0, &error).empty());
    QVERIFY(!error.empty());
    QVERIFY(!makeLzh({FixtureEntry::file(std::string(221, 'n'), "x")}, level0).empty());

    if (!gcabAvailable())
        QSKIP("gcab is not installed");
    error.clear();
    QVERIFY(makeCab({FixtureEntry::file("a", "a"), FixtureEntry::symlink("l", "a")}, {}, &error).empty());
    QVERIFY(!error.empty());
    error.clear();
    QVERIFY(makeCab({FixtureEntry::directory("only")}, {}, &error).empty());
    QVERIFY(!error.empty());
}

namespace {

// Every entry of a ZIP archive in memory through libarchive's seekable
// reader: name and inflated size, or the first error.
struct InflatedEntry
{
    std::string name;
    int64_t declared = -1;
    uint64_t size = 0;
    bool allZero = true;
};

std::string inflateZip(const std::string &zip, std::vector<InflatedEntry> &entries)
{
    ReadHandle a(archive_read_new(), archive_read_free);
    archive_read_support_format_zip_seekable(a.get());
    if (archive_read_open_memory(a.get(), zip.data(), zip.size()) != ARCHIVE_OK)
        return archive_error_string(a.get());
    archive_entry *entry = nullptr;
    while (archive_read_next_header(a.get(), &entry) == ARCHIVE_OK) {
        InflatedEntry e;
        e.name = archive_entry_pathname(entry);
        e.declared = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        int r;
        while ((r = archive_read_data_block(a.get(), &block, &size, &offset)) == ARCHIVE_OK) {
            e.size += size;
            const auto *bytes = static_cast<const unsigned char *>(block);
            e.allZero = e.allZero && std::all_of(bytes, bytes + size, [](unsigned char c) { return c == 0; });
        }
        entries.push_back(e);
        if (r != ARCHIVE_EOF)
            return archive_error_string(a.get());
    }
    return {};
}

} // namespace

void TestWriters::deflateBomb_data()
{
    QTest::addColumn<quint64>("zeros");
    QTest::addColumn<quint64>("declared");

    for (const quint64 zeros : {0ull, 1ull, 3ull, 4ull, 10ull, 11ull, 12ull, 258ull, 259ull, 260ull,
                                300ull, 1000ull, 3ull << 20})
        QTest::addRow("%llu zeros, declared as they are", zeros) << zeros << zeros;
    QTest::newRow("1 MiB of zeros declared as 1 KiB") << (quint64(1) << 20) << quint64(1024);
}

void TestWriters::deflateBomb()
{
    QFETCH(quint64, zeros);
    QFETCH(quint64, declared);

    const std::string zip = makeDeflateBombZip(zeros, declared);
    QVERIFY(!zip.empty());
    QVERIFY(zip.size() < 200 + zeros / 100);
    std::vector<InflatedEntry> entries;
    const std::string error = inflateZip(zip, entries);
    QCOMPARE(entries.size(), std::size_t(1));
    QCOMPARE(entries[0].name, std::string("zeros.bin"));
    QCOMPARE(entries[0].declared, int64_t(declared));
    QVERIFY(entries[0].allZero);
    // libarchive hands over the data, then checks its size (and CRC) at the end.
    if (zeros == declared) {
        QVERIFY2(error.empty(), error.c_str());
        QCOMPARE(entries[0].size, uint64_t(zeros));
    } else {
        QVERIFY(!error.empty());
        QVERIFY(entries[0].size > declared);
    }
}

void TestWriters::overlappingZip()
{
    constexpr std::size_t count = 8;
    constexpr uint64_t zeros = 64 * 1024;
    const std::string zip = makeOverlappingZip(count, zeros);
    QVERIFY(!zip.empty());
    QVERIFY(zip.size() < 2000);
    std::vector<InflatedEntry> entries;
    const std::string error = inflateZip(zip, entries);
    QVERIFY2(error.empty(), error.c_str());
    QCOMPARE(entries.size(), count);
    // Each entry holds the local headers after it, then the shared zeros.
    for (std::size_t i = 0; i < count; ++i) {
        QCOMPARE(entries[i].name, std::to_string(i) + ".bin");
        QVERIFY(entries[i].size >= zeros);
        if (i > 0)
            QVERIFY(entries[i].size < entries[i - 1].size);
    }
    QCOMPARE(entries.back().size, zeros);
    QVERIFY(entries.back().allZero);
    QVERIFY(!entries.front().allZero);
}

void TestWriters::rar5SizesAndHardLinks()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = fixturePath(dir, "sizes.rar");
    Rar5Options options;
    options.declaredSizes[0] = uint64_t(1) << 40;
    options.hardLinkEntries = {1};
    QVERIFY(writeRar5(path, {FixtureEntry::file("big.bin", "small"), FixtureEntry::symlink("hard", "big.bin")},
                      options));

    ReadHandle a(archive_read_new(), archive_read_free);
    archive_read_support_format_rar5(a.get());
    QCOMPARE(archive_read_open_filename(a.get(), QFile::encodeName(path).constData(), 10240), ARCHIVE_OK);
    archive_entry *entry = nullptr;
    QCOMPARE(archive_read_next_header(a.get(), &entry), ARCHIVE_OK);
    QCOMPARE(archive_entry_size(entry), la_int64_t(1) << 40);
    QCOMPARE(archive_read_next_header(a.get(), &entry), ARCHIVE_OK);
    QCOMPARE(QByteArray(archive_entry_pathname(entry)), QByteArray("hard"));
    QVERIFY(archive_entry_hardlink(entry));
    QCOMPARE(QByteArray(archive_entry_hardlink(entry)), QByteArray("big.bin"));
    QCOMPARE(archive_read_next_header(a.get(), &entry), ARCHIVE_EOF);
}

QTEST_GUILESS_MAIN(TestWriters)
#include "tst_writers.moc"

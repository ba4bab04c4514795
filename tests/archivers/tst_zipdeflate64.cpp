// Tests of the ZIP decoders beside libarchive's own: Deflate64 routing
// (checkZipEntriesApart) and decoding through unarr, and plain entries
// decoded straight from the file, plain archives walked without libarchive.
#include "decoderrecorder.h"
#include "decoders.h"
#include "deflate64zip.h"
#include "handmadezip.h"
#include "libarchivedecoder.h"
#include "zipdirect.h"
#include "zipreader.h"
#include "zipscan.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tenvo;
using namespace tenvo::fixture;
using engine::EntryKind;
using test::DecoderRecorder;
using test::patternBytes;

Q_DECLARE_METATYPE(tenvo::fixture::Deflate64ZipOptions)

namespace {

const std::string kCp932Name = "\x95\x5C\x8E\xA6/\x83\x5C\x83\x74\x83\x67.txt"; // 表示/ソフト.txt
const std::string kUtf8Name = "表示/ソフト.txt";

FixtureEntries sampleEntries(bool cp932)
{
    return {
        FixtureEntry::directory("docs"),
        FixtureEntry::file("docs/readme.txt", "Read me\n"),
        // Larger than one 256 KiB read, so chunks must join up.
        FixtureEntry::file("big.bin", patternBytes(300000, 11)),
        FixtureEntry::file("empty.txt", ""),
        FixtureEntry::file(cp932 ? kCp932Name : kUtf8Name, patternBytes(4000, 12)),
        FixtureEntry::file("tool", "#!/bin/sh\n", 0755),
    };
}

QByteArray bytesOf(const std::string &s) { return QByteArray(s.data(), qsizetype(s.size())); }

uint32_t getU32(const std::string &s, std::size_t at)
{
    return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8
        | uint32_t(uint8_t(s[at + 2])) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}

void setU16(std::string &s, std::size_t at, uint16_t v)
{
    s[at] = char(v & 0xFF);
    s[at + 1] = char(v >> 8);
}

void setU32(std::string &s, std::size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + i] = char((v >> (8 * i)) & 0xFF);
}

// Offsets of the classic end record (no comment) and of the central directory.
std::size_t endRecordAt(const std::string &zip) { return zip.size() - 22; }
std::size_t directoryAt(const std::string &zip) { return getU32(zip, endRecordAt(zip) + 16); }

// Empty when the file cannot be written, or when bytes is empty and that was
// not meant (a writer that made nothing).
QString writeBytes(const QTemporaryDir &dir, const std::string &bytes, bool emptyMeant = false)
{
    const QString path = dir.filePath(QStringLiteral("test.zip"));
    if ((bytes.empty() && !emptyMeant) || !writeFixtureFile(path, bytes)) {
        qWarning("cannot write the fixture");
        return {};
    }
    return path;
}

} // namespace

class TestZipDeflate64 : public QObject {
    Q_OBJECT

private slots:
    void plainEntriesStraightFromFile_data();
    void plainEntriesStraightFromFile();
    void decodesDeflate64_data();
    void decodesDeflate64();
    void decodesOrdinaryDeflate();
    void reportsDamage_data();
    void reportsDamage();
    void refusedDataLeavesLaterEntries();
    void unixLink();
    void needsUnarr_data();
    void needsUnarr();
};

void TestZipDeflate64::decodesDeflate64_data()
{
    QTest::addColumn<Deflate64ZipOptions>("options");
    Deflate64ZipOptions utf8;
    QTest::newRow("UTF-8 names, made on Unix") << utf8;
    Deflate64ZipOptions cp932;
    cp932.names = Deflate64ZipOptions::Names::Raw;
    cp932.host = Deflate64ZipOptions::Host::Windows;
    QTest::newRow("CP932 names, made on Windows") << cp932;
    Deflate64ZipOptions smallBlocks;
    smallBlocks.blockSize = 1000;
    QTest::newRow("data spread over many small blocks") << smallBlocks;
    Deflate64ZipOptions zip64;
    zip64.zip64EndRecords = true;
    QTest::newRow("archive with ZIP64 end records") << zip64;
    Deflate64ZipOptions mixed;
    mixed.storedEntries = {1, 4};
    QTest::newRow("stored and Deflate64 entries mixed") << mixed;
}

void TestZipDeflate64::decodesDeflate64()
{
    QFETCH(Deflate64ZipOptions, options);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const bool cp932 = options.names == Deflate64ZipOptions::Names::Raw;
    const bool unixHost = options.host == Deflate64ZipOptions::Host::Unix;
    const FixtureEntries entries = sampleEntries(cp932);
    const QString path = writeBytes(dir, makeDeflate64Zip(entries, options));
    QVERIFY(!path.isEmpty());

    DecoderRecorder sink;
    std::string message;
    QCOMPARE(engine::decodeZipWithUnarr(path.toStdString(), sink, message), TENVO_OK);
    QVERIFY2(sink.protocolKept(), qPrintable(sink.protocolReport()));
    QCOMPARE(sink.entries.size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FixtureEntry &expected = entries[i];
        const test::RecordedEntry &got = sink.entries[i];
        const bool directory = expected.kind == FixtureEntry::Directory;
        QCOMPARE(got.info.rawName, directory ? expected.name + '/' : expected.name);
        QCOMPARE(got.info.nameIsUtf8, i == 4 && !cp932);
        QCOMPARE(got.info.kind, directory ? EntryKind::Directory : EntryKind::File);
        QCOMPARE(got.outcome, TENVO_OK);
        QCOMPARE(got.data, expected.data);
        QCOMPARE(got.info.size, int64_t(expected.data.size()));
        QCOMPARE(got.info.mtime, FixtureEntry::defaultMtime);
        QCOMPARE(got.info.mode, unixHost ? expected.mode : 0u);
    }
}

void TestZipDeflate64::decodesOrdinaryDeflate()
{
    // The unarr path takes whole archives, so an entry packed with plain
    // Deflate beside Deflate64 ones must decode there too.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const FixtureEntries entries = {
        FixtureEntry::file("text.txt", std::string(100000, 'a') + "tail"),
        FixtureEntry::file("noise.bin", patternBytes(70000, 13)),
    };
    ZipOptions options;
    options.deflate = true;
    std::string error;
    const std::string zip = makeZip(entries, options, &error);
    QVERIFY2(!zip.empty(), error.c_str());
    const QString path = writeBytes(dir, zip);
    QVERIFY(!path.isEmpty());

    DecoderRecorder sink;
    std::string message;
    QCOMPARE(engine::decodeZipWithUnarr(path.toStdString(), sink, message), TENVO_OK);
    QVERIFY2(sink.protocolKept(), qPrintable(sink.protocolReport()));
    QCOMPARE(sink.entries.size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        QCOMPARE(sink.entries[i].outcome, TENVO_OK);
        QCOMPARE(sink.entries[i].data, entries[i].data);
    }
}

void TestZipDeflate64::reportsDamage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("result");
    QTest::addColumn<QList<int>>("outcomes");

    const FixtureEntries entries = {
        FixtureEntry::file("one.txt", patternBytes(5000, 14)),
        FixtureEntry::file("two.txt", patternBytes(7000, 15)),
        FixtureEntry::file("three.txt", patternBytes(9000, 16)),
    };
    const int ok = TENVO_OK;
    Deflate64ZipOptions badCrc;
    badCrc.badCrcEntry = 1;
    QTest::newRow("second entry fails its CRC")
        << bytesOf(makeDeflate64Zip(entries, badCrc)) << ok << QList<int> {ok, TENVO_ERR_DAMAGED, ok};
    Deflate64ZipOptions encrypted;
    encrypted.encryptedEntry = 1;
    QTest::newRow("second entry encrypted")
        << bytesOf(makeDeflate64Zip(entries, encrypted)) << ok
        << QList<int> {ok, TENVO_ERR_ENCRYPTED, ok};

    std::string cut = makeDeflate64Zip(entries);
    cut.resize(directoryAt(cut) + 10);
    QTest::newRow("archive cut inside its central directory")
        << bytesOf(cut) << int(TENVO_ERR_DAMAGED) << QList<int> {};

    std::string badBlock = makeDeflate64Zip(entries);
    // The second entry's first stored block: its NLEN no longer complements LEN.
    const std::size_t secondLocal = getU32(badBlock, directoryAt(badBlock) + 46 + 7 + 42);
    badBlock[secondLocal + 30 + 7 + 3] ^= 0x01;
    QTest::newRow("second entry's Deflate64 stream broken")
        << bytesOf(badBlock) << ok << QList<int> {ok, TENVO_ERR_DAMAGED, ok};

    QTest::newRow("text file")
        << QByteArray("just text, no archive\n") << int(TENVO_ERR_FORMAT) << QList<int> {};
}

void TestZipDeflate64::reportsDamage()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, result);
    QFETCH(QList<int>, outcomes);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = writeBytes(dir, bytes.toStdString());
    QVERIFY(!path.isEmpty());

    DecoderRecorder sink;
    std::string message;
    QCOMPARE(int(engine::decodeZipWithUnarr(path.toStdString(), sink, message)), result);
    if (result != TENVO_OK)
        QVERIFY(!message.empty());
    QVERIFY2(sink.protocolKept(), qPrintable(sink.protocolReport()));
    QCOMPARE(sink.outcomes(), outcomes);
    for (const auto &entry : sink.entries) {
        if (entry.outcome == TENVO_ERR_ENCRYPTED) {
            QVERIFY(entry.data.empty());
            QVERIFY(entry.info.encrypted);
        }
    }
}

void TestZipDeflate64::refusedDataLeavesLaterEntries()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const FixtureEntries entries = {
        FixtureEntry::file("first.bin", patternBytes(600000, 17)),
        FixtureEntry::file("second.bin", patternBytes(3000, 18)),
    };
    const QString path = writeBytes(dir, makeDeflate64Zip(entries));
    QVERIFY(!path.isEmpty());
    DecoderRecorder sink;
    sink.acceptData = [](std::size_t index, std::size_t held) { return index != 0 || held == 0; };
    std::string message;
    QCOMPARE(engine::decodeZipWithUnarr(path.toStdString(), sink, message), TENVO_OK);
    QVERIFY2(sink.protocolKept(), qPrintable(sink.protocolReport()));
    QCOMPARE(sink.entries.size(), std::size_t(2));
    QCOMPARE(sink.entries[0].outcome, TENVO_ERR_WRITE);
    QCOMPARE(sink.entries[1].outcome, TENVO_OK);
    QCOMPARE(sink.entries[1].data, entries[1].data);
}

void TestZipDeflate64::unixLink()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const FixtureEntries entries = {
        FixtureEntry::file("bin/tool", "#!/bin/sh\n", 0755),
        FixtureEntry::symlink("bin/alias", "tool"),
    };
    const QString path = writeBytes(dir, makeDeflate64Zip(entries));
    QVERIFY(!path.isEmpty());
    DecoderRecorder sink;
    std::string message;
    QCOMPARE(engine::decodeZipWithUnarr(path.toStdString(), sink, message), TENVO_OK);
    QVERIFY2(sink.protocolKept(), qPrintable(sink.protocolReport()));
    QCOMPARE(sink.entries.size(), std::size_t(2));
    QCOMPARE(sink.entries[1].info.kind, EntryKind::Symlink);
    QCOMPARE(sink.entries[1].info.linkTarget, std::string("tool"));
    QCOMPARE(sink.entries[1].outcome, TENVO_OK);
    QVERIFY(sink.entries[1].data.empty());
}

void TestZipDeflate64::needsUnarr_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("needed");

    const FixtureEntries entries = {
        FixtureEntry::file("a.txt", "alpha"),
        FixtureEntry::file("b.txt", "bravo"),
        FixtureEntry::file("c.txt", "charlie"),
    };
    const std::string deflate64 = makeDeflate64Zip(entries);
    QTest::newRow("Deflate64 archive") << bytesOf(deflate64) << true;
    Deflate64ZipOptions lastOnly;
    lastOnly.storedEntries = {0, 1};
    QTest::newRow("Deflate64 only in the last of three entries")
        << bytesOf(makeDeflate64Zip(entries, lastOnly)) << true;
    Deflate64ZipOptions allStored;
    allStored.storedEntries = {0, 1, 2};
    QTest::newRow("every entry stored") << bytesOf(makeDeflate64Zip(entries, allStored)) << false;
    ZipOptions deflate;
    deflate.deflate = true;
    QTest::newRow("ordinary Deflate archive written by libarchive")
        << bytesOf(makeZip(entries, deflate)) << false;
    Deflate64ZipOptions zip64;
    zip64.zip64EndRecords = true;
    const std::string deflate64Zip64 = makeDeflate64Zip(entries, zip64);
    QTest::newRow("Deflate64 archive with ZIP64 end records") << bytesOf(deflate64Zip64) << true;

    std::string commented = deflate64;
    const std::string comment = "made for a test";
    setU16(commented, endRecordAt(commented) + 20, uint16_t(comment.size()));
    commented += comment;
    QTest::newRow("Deflate64 archive with an archive comment") << bytesOf(commented) << true;
    QTest::newRow("Deflate64 archive behind a self-extractor stub")
        << bytesOf(patternBytes(3000, 19) + deflate64) << true;

    std::string moreEntries = deflate64;
    setU16(moreEntries, endRecordAt(moreEntries) + 8, 0xFFFF);
    setU16(moreEntries, endRecordAt(moreEntries) + 10, 0xFFFF);
    QTest::newRow("end record claims more entries than the directory holds")
        << bytesOf(moreEntries) << true;

    std::string longName = deflate64;
    setU16(longName, directoryAt(longName) + 28, 0xFFFF);
    QTest::newRow("first directory record's name runs past the directory")
        << bytesOf(longName) << false;
    std::string hugeDirectory = deflate64;
    setU32(hugeDirectory, endRecordAt(hugeDirectory) + 12, 0x7FFFFFFF);
    QTest::newRow("directory size larger than the file") << bytesOf(hugeDirectory) << false;
    std::string badLocator = deflate64Zip64;
    setU32(badLocator, badLocator.size() - 22 - 20 + 8, 0x7FFFFFF0);
    QTest::newRow("ZIP64 locator pointing outside the file") << bytesOf(badLocator) << false;
    std::string cut = deflate64;
    cut.resize(directoryAt(cut) + 10);
    QTest::newRow("archive cut inside its central directory") << bytesOf(cut) << false;
    QTest::newRow("end record alone") << bytesOf(std::string("PK\x05\x06", 4) + std::string(18, '\0'))
                                      << false;
    QTest::newRow("random bytes") << bytesOf(patternBytes(70000, 20)) << false;
    QTest::newRow("empty file") << QByteArray() << false;
}

void TestZipDeflate64::needsUnarr()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, needed);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = writeBytes(dir, bytes.toStdString(), true);
    QVERIFY(!path.isEmpty());
    std::string message;
    bool deflate64 = !needed;
    QCOMPARE(engine::checkZipEntriesApart(path.toStdString(), message, deflate64), TENVO_OK);
    QCOMPARE(deflate64, needed);
    deflate64 = true;
    const std::string missing = dir.filePath(QStringLiteral("missing.zip")).toStdString();
    QCOMPARE(engine::checkZipEntriesApart(missing, message, deflate64), TENVO_OK);
    QVERIFY(!deflate64);
}

void TestZipDeflate64::plainEntriesStraightFromFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    // How many entries the direct path decodes; the rest go through libarchive.
    QTest::addColumn<int>("direct");
    // Whether the engine walks the archive itself, libarchive not loaded.
    QTest::addColumn<bool>("walkedHere");

    FixtureEntries entries = sampleEntries(true);
    entries.push_back(FixtureEntry::symlink("link", "tool"));
    entries.push_back(FixtureEntry::file("large.txt", std::string(700000, 'x') + "end"));
    const int files = 6;
    ZipOptions deflate;
    deflate.deflate = true;
    deflate.names = ZipOptions::Names::Raw;
    const std::string deflated = makeZip(entries, deflate);
    QTest::newRow("Deflate: folder, link, CP932 name, data over several reads")
        << bytesOf(deflated) << files << true;
    QTest::newRow("stored, UTF-8 names") << bytesOf(makeZip(sampleEntries(false))) << 5 << true;

    ZipOptions badCrc = deflate;
    badCrc.corruptFirstData = true;
    // A CRC error ends the entry, not the archive.
    QTest::newRow("Deflate, a data byte flipped") << bytesOf(makeZip(entries, badCrc)) << files
                                                  << true;
    ZipOptions storedBadCrc;
    storedBadCrc.corruptFirstData = true;
    QTest::newRow("stored, a data byte flipped")
        << bytesOf(makeZip(sampleEntries(false), storedBadCrc)) << 5 << true;

    // The first entry with data: its stream now opens with the reserved
    // block type.
    std::string broken = deflated;
    const std::size_t name = broken.find("docs/readme.txt");
    const std::size_t extra = uint8_t(broken[name - 2]) | uint8_t(broken[name - 1]) << 8;
    broken[name + 15 + extra] = char(0xFF);
    QTest::newRow("Deflate stream broken") << bytesOf(broken) << 1 << true;

    std::string shortened = makeZip(sampleEntries(false), deflate);
    shortened.resize(shortened.size() - 10);
    QTest::newRow("end record cut off: libarchive alone") << bytesOf(shortened) << 0 << false;

    ZipOptions encrypted;
    encrypted.password = "secret";
    // The empty file is stored unencrypted.
    QTest::newRow("encrypted") << bytesOf(makeZip(sampleEntries(false), encrypted)) << 1 << false;

    // The last entry, stored, now says it runs past the end of the file.
    std::string runsPast = makeZip(sampleEntries(false));
    const std::size_t local = runsPast.find("tool") - 30;
    const std::size_t record = runsPast.find("tool", local + 31) - 46;
    for (std::size_t at : {local + 18, local + 22, record + 20, record + 24})
        setU32(runsPast, at, 0x7FFFFFF0u);
    QTest::newRow("file ends inside the last entry") << bytesOf(runsPast) << 4 << true;

    Deflate64ZipOptions windows;
    windows.host = Deflate64ZipOptions::Host::Windows;
    windows.names = Deflate64ZipOptions::Names::Raw;
    windows.storedEntries = {0, 1, 2, 3, 4, 5};
    const std::string fromWindows = makeDeflate64Zip(sampleEntries(true), windows);
    QTest::newRow("stored, made on Windows, CP932 names") << bytesOf(fromWindows) << 5 << true;
    Deflate64ZipOptions unixStored;
    unixStored.storedEntries = windows.storedEntries;
    QTest::newRow("stored, made on Unix, UTF-8 flagged names")
        << bytesOf(makeDeflate64Zip(sampleEntries(false), unixStored)) << 5 << true;
    ZipPadding gaps;
    gaps.between = 7;
    std::string commented = padZip(deflated, gaps);
    setU16(commented, endRecordAt(commented) + 20, 5);
    commented += "notes";
    QTest::newRow("gaps between entries, archive comment") << bytesOf(commented) << files << true;
    QTest::newRow("behind a self-extractor stub: libarchive alone")
        << bytesOf(patternBytes(3000, 19) + deflated) << 0 << false;
}

void TestZipDeflate64::plainEntriesStraightFromFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, direct);
    QFETCH(bool, walkedHere);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = writeBytes(dir, bytes.toStdString());
    QVERIFY(!path.isEmpty());

    // The same archive through libarchive alone, then with plain entries
    // decoded here: every entry must come out the same.
    DecoderRecorder viaLibarchive, viaDirect;
    std::string message, directMessage;
    engine::setZipDirectDecoding(false);
    const TenvoResult expected = engine::decodeWithLibarchive(engine::LibarchiveFormat::Zip,
                                                              path.toStdString(), viaLibarchive, message);
    engine::setZipDirectDecoding(true);
    const uint64_t before = engine::zipEntriesDecodedDirectly();
    const TenvoResult result = engine::decodeWithLibarchive(engine::LibarchiveFormat::Zip,
                                                            path.toStdString(), viaDirect, directMessage);
    QCOMPARE(int(engine::zipEntriesDecodedDirectly() - before), direct);
    QCOMPARE(result, expected);

    // Walked here without libarchive: what libarchive's walk gave, word for word.
    DecoderRecorder viaEngine;
    std::string engineMessage;
    TenvoResult walked = TENVO_OK;
    const uint64_t walksBefore = engine::zipArchivesReadHere();
    QCOMPARE(engine::decodeZipHere(path.toStdString(), viaEngine, engineMessage, walked), walkedHere);
    QCOMPARE(engine::zipArchivesReadHere() - walksBefore, uint64_t(walkedHere));
    if (walkedHere) {
        QCOMPARE(walked, result);
        QCOMPARE(engineMessage, directMessage);
        QVERIFY2(viaEngine.protocolKept(), qPrintable(viaEngine.protocolReport()));
        QCOMPARE(viaEngine.entries.size(), viaDirect.entries.size());
        for (std::size_t i = 0; i < viaEngine.entries.size(); ++i) {
            const test::RecordedEntry &got = viaEngine.entries[i];
            const test::RecordedEntry &want = viaDirect.entries[i];
            const QString apart = test::describedApart(got.info, want.info);
            QVERIFY2(apart.isEmpty(), qPrintable(apart));
            QCOMPARE(got.data, want.data);
            QCOMPARE(got.outcome, want.outcome);
            QCOMPARE(got.message, want.message);
        }
    } else {
        QVERIFY(viaEngine.entries.empty());
    }
    // Its headers check out as they do for libarchive.
    QCOMPARE(engine::checkZipHere(path.toStdString()), walkedHere);
    if (walkedHere)
        QVERIFY(engine::checkWithLibarchive(engine::LibarchiveFormat::Zip, path.toStdString()));
    // With plain entries left to libarchive, the whole archive is.
    DecoderRecorder unused;
    engine::setZipDirectDecoding(false);
    QVERIFY(!engine::decodeZipHere(path.toStdString(), unused, engineMessage, walked));
    engine::setZipDirectDecoding(true);
    engine::setZipOwnReading(false);
    QVERIFY(!engine::decodeZipHere(path.toStdString(), unused, engineMessage, walked));
    engine::setZipOwnReading(true);
    QVERIFY(unused.entries.empty());
    QCOMPARE(directMessage.empty(), message.empty());
    QVERIFY2(viaDirect.protocolKept(), qPrintable(viaDirect.protocolReport()));
    QCOMPARE(viaDirect.outcomes(), viaLibarchive.outcomes());
    QVERIFY(!viaDirect.entries.empty() || direct == 0);
    for (std::size_t i = 0; i < viaDirect.entries.size(); ++i) {
        const test::RecordedEntry &got = viaDirect.entries[i];
        const test::RecordedEntry &want = viaLibarchive.entries[i];
        const QString apart = test::describedApart(got.info, want.info);
        QVERIFY2(apart.isEmpty(), qPrintable(apart));
        if (got.outcome == TENVO_OK)
            QCOMPARE(got.data, want.data);
        else
            QVERIFY(!got.message.empty());
    }
}

QTEST_GUILESS_MAIN(TestZipDeflate64)
#include "tst_zipdeflate64.moc"

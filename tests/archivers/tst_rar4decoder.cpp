// Tests of the RAR 4 decoder (unarr underneath, names from the stored headers).
#include "decoderrecorder.h"
#include "decoders.h"
#include "decoderutil.h"
#include "rar4writer.h"
#include "rar5writer.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace tenvo;
using namespace tenvo::fixture;
using engine::EntryKind;
using test::DecoderRecorder;
using test::patternBytes;

Q_DECLARE_METATYPE(tenvo::fixture::Rar4Options)

namespace {

// CP932: 表 is 0x95 0x5C and ソ is 0x83 0x5C, so both end in the byte of '\'.
const std::string kCp932Folder = "\x95\x5C\x8E\xA6";                     // 表示
const std::string kCp932File = kCp932Folder + "/\x83\x5C\x83\x74\x83\x67.txt"; // 表示/ソフト.txt
const std::string kEncodedName = "unicode/日本語ファイル.txt";
const std::string kEncodedSurrogates = "emoji 😀 name.txt";
const std::string kUtf8Name = "utf8/表ソ.txt";

FixtureEntries sampleEntries()
{
    return {
        FixtureEntry::directory("docs"),
        FixtureEntry::file("docs/readme.txt", "Read me\n"),
        FixtureEntry::directory(kCp932Folder),
        FixtureEntry::file(kCp932File, patternBytes(1000, 1)),
        // Larger than one 256 KiB read, so chunks must join up.
        FixtureEntry::file("big.bin", patternBytes(300000, 2)),
        FixtureEntry::file("empty.txt", ""),
        FixtureEntry::file(kEncodedName, "encoded\n"),
        FixtureEntry::file(kEncodedSurrogates, "smile\n"),
        FixtureEntry::file(kUtf8Name, "utf-8\n"),
    };
}

Rar4Options sampleOptions(Rar4Options options)
{
    options.unicodeNameEntries = {6, 7};
    options.utf8NameEntries = {8};
    return options;
}

std::string storedName(std::string name, Rar4Options::Host host)
{
    if (host == Rar4Options::Host::Windows)
        std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

QString writeArchive(const QTemporaryDir &dir, const FixtureEntries &entries, const Rar4Options &options)
{
    const QString path = dir.filePath(QStringLiteral("test.rar"));
    std::string error;
    if (!writeRar4(path, entries, options, &error)) {
        qWarning("cannot write the fixture: %s", error.c_str());
        return {};
    }
    return path;
}

} // namespace

class TestRar4Decoder : public QObject {
    Q_OBJECT

private slots:
    // The checksum behind every RAR data check, against an independent
    // bytewise computation, whole and fed in uneven pieces.
    void crc32MatchesTheBytewiseDefinition()
    {
        QCOMPARE(tenvo::engine::crc32Update(0, "123456789", 9), 0xCBF43926u);
        std::string data(5000, '\0');
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = char(i * 131 + 7 + (i >> 7));
        // Around the 8-byte table step, and the 16- and 64-byte folding steps.
        for (const std::size_t length : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 65u, 79u, 80u, 127u,
                                         128u, 129u, 1000u, 4999u}) {
            for (const std::size_t offset : {0u, 1u, 3u}) { // unaligned starts too
                const std::string part = data.substr(offset, length);
                QCOMPARE(tenvo::engine::crc32Update(0, part.data(), part.size()), tenvo::fixture::fixtureCrc32(part));
                for (const std::size_t step : {5u, 100u}) {
                    uint32_t pieces = 0;
                    for (std::size_t at = 0; at < part.size(); at += step)
                        pieces = tenvo::engine::crc32Update(pieces, part.data() + at,
                                                            std::min<std::size_t>(step, part.size() - at));
                    QCOMPARE(pieces, tenvo::fixture::fixtureCrc32(part));
                }
            }
        }
    }

    void decodesStoredArchive_data();
    void decodesStoredArchive();
    void reportsDamage_data();
    void reportsDamage();
    void refusalKeepsLaterEntries_data();
    void refusalKeepsLaterEntries();
    void unixLinksAndModes();
    void check_data();
    void check();
};

void TestRar4Decoder::decodesStoredArchive_data()
{
    QTest::addColumn<Rar4Options>("options");
    Rar4Options windows;
    QTest::newRow("plain archive made on Windows") << sampleOptions(windows);
    Rar4Options unixHost;
    unixHost.host = Rar4Options::Host::Unix;
    QTest::newRow("plain archive made on Unix") << sampleOptions(unixHost);
    Rar4Options solid;
    solid.solid = true;
    QTest::newRow("solid archive with solid entries") << sampleOptions(solid);
    Rar4Options mainOnly;
    mainOnly.solid = true;
    mainOnly.solidEntryFlags = false;
    QTest::newRow("solid archive marked only in its main header") << sampleOptions(mainOnly);
    Rar4Options noEnd;
    noEnd.omitEndBlock = true;
    QTest::newRow("archive that ends without an end block") << sampleOptions(noEnd);
}

void TestRar4Decoder::decodesStoredArchive()
{
    QFETCH(Rar4Options, options);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const FixtureEntries entries = sampleEntries();
    const QString path = writeArchive(dir, entries, options);
    QVERIFY(!path.isEmpty());

    DecoderRecorder sink;
    std::string message;
    QCOMPARE(engine::decodeRar4(path.toStdString(), sink, message), TENVO_OK);
    QVERIFY2(sink.protocolKept(), qPrintable(sink.protocolReport()));
    QCOMPARE(sink.entries.size(), entries.size());

    const bool unixHost = options.host == Rar4Options::Host::Unix;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FixtureEntry &expected = entries[i];
        const test::RecordedEntry &got = sink.entries[i];
        const bool unicode = i >= 6;
        QCOMPARE(got.info.rawName, storedName(expected.name, options.host));
        QCOMPARE(got.info.nameIsUtf8, unicode);
        QCOMPARE(got.info.kind,
                 expected.kind == FixtureEntry::Directory ? EntryKind::Directory : EntryKind::File);
        QCOMPARE(got.outcome, TENVO_OK);
        QCOMPARE(got.data, expected.data);
        QCOMPARE(got.info.size, int64_t(expected.data.size()));
        QCOMPARE(got.info.mtime, FixtureEntry::defaultMtime);
        QCOMPARE(got.info.mode, unixHost ? expected.mode : 0u);
        QVERIFY(!got.info.encrypted);
    }
}

void TestRar4Decoder::reportsDamage_data()
{
    QTest::addColumn<Rar4Options>("options");
    QTest::addColumn<int>("result");
    QTest::addColumn<QList<int>>("outcomes");

    const int ok = TENVO_OK;
    Rar4Options badData;
    badData.badDataCrcEntry = 1;
    QTest::newRow("second entry's data fails its CRC")
        << badData << ok << QList<int> {ok, TENVO_ERR_DAMAGED, ok};
    Rar4Options badDataSolid = badData;
    badDataSolid.solid = true;
    QTest::newRow("second entry's data fails its CRC in a solid archive")
        << badDataSolid << ok << QList<int> {ok, TENVO_ERR_DAMAGED, ok};
    Rar4Options badHeader;
    badHeader.badHeaderCrcEntry = 1;
    QTest::newRow("second file header fails its CRC")
        << badHeader << int(TENVO_ERR_DAMAGED) << QList<int> {ok};
    Rar4Options cutData;
    cutData.truncateInLastData = true;
    QTest::newRow("archive cut inside the last entry's data")
        << cutData << int(TENVO_ERR_DAMAGED) << QList<int> {ok, ok, TENVO_ERR_DAMAGED};
    Rar4Options cutHeader;
    cutHeader.truncateTo = 7 + 13 + 20; // inside the first file header
    QTest::newRow("archive cut inside the first file header")
        << cutHeader << int(TENVO_ERR_DAMAGED) << QList<int> {};
    Rar4Options encrypted;
    encrypted.encryptedEntry = 1;
    QTest::newRow("second entry encrypted")
        << encrypted << ok << QList<int> {ok, TENVO_ERR_ENCRYPTED, ok};
    Rar4Options encryptedHeaders;
    encryptedHeaders.encryptedHeaders = true;
    QTest::newRow("archive with encrypted headers")
        << encryptedHeaders << int(TENVO_ERR_ENCRYPTED) << QList<int> {};
}

void TestRar4Decoder::reportsDamage()
{
    QFETCH(Rar4Options, options);
    QFETCH(int, result);
    QFETCH(QList<int>, outcomes);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const FixtureEntries entries = {
        FixtureEntry::file("one.txt", patternBytes(5000, 3)),
        FixtureEntry::file("two.txt", patternBytes(7000, 4)),
        FixtureEntry::file("three.txt", patternBytes(9000, 5)),
    };
    const QString path = writeArchive(dir, entries, options);
    QVERIFY(!path.isEmpty());

    DecoderRecorder sink;
    std::string message;
    QCOMPARE(int(engine::decodeRar4(path.toStdString(), sink, message)), result);
    if (result != TENVO_OK)
        QVERIFY(!message.empty());
    QVERIFY2(sink.protocolKept(), qPrintable(sink.protocolReport()));
    QCOMPARE(sink.outcomes(), outcomes);
    for (std::size_t i = 0; i < sink.entries.size(); ++i) {
        const test::RecordedEntry &got = sink.entries[i];
        if (got.outcome == TENVO_OK)
            QCOMPARE(got.data, entries[i].data);
        else
            QVERIFY(!got.message.empty());
        if (got.outcome == TENVO_ERR_ENCRYPTED) {
            QVERIFY(got.data.empty());
            QVERIFY(got.info.encrypted);
        }
    }
}

void TestRar4Decoder::refusalKeepsLaterEntries_data()
{
    QTest::addColumn<bool>("solid");
    QTest::addColumn<bool>("refuseData");
    QTest::newRow("solid archive, second entry refused") << true << false;
    QTest::newRow("solid archive, second entry's data refused midway") << true << true;
    QTest::newRow("plain archive, second entry refused") << false << false;
    QTest::newRow("plain archive, second entry's data refused midway") << false << true;
}

void TestRar4Decoder::refusalKeepsLaterEntries()
{
    QFETCH(bool, solid);
    QFETCH(bool, refuseData);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const FixtureEntries entries = {
        FixtureEntry::file("first.bin", patternBytes(70000, 6)),
        FixtureEntry::file("../refused.bin", patternBytes(600000, 7)),
        FixtureEntry::file("third.bin", patternBytes(80000, 8)),
    };
    Rar4Options options;
    options.solid = solid;
    const QString path = writeArchive(dir, entries, options);
    QVERIFY(!path.isEmpty());

    DecoderRecorder sink;
    if (refuseData)
        sink.acceptData = [](std::size_t index, std::size_t held) { return index != 1 || held == 0; };
    else
        sink.acceptEntry = [](std::size_t index, const engine::EntryInfo &) { return index != 1; };
    std::string message;
    QCOMPARE(engine::decodeRar4(path.toStdString(), sink, message), TENVO_OK);
    QVERIFY2(sink.protocolKept(), qPrintable(sink.protocolReport()));
    QCOMPARE(sink.entries.size(), std::size_t(3));
    QCOMPARE(sink.entries[0].data, entries[0].data);
    QCOMPARE(sink.entries[0].outcome, TENVO_OK);
    if (refuseData) {
        QCOMPARE(sink.entries[1].outcome, TENVO_ERR_WRITE);
        QVERIFY(sink.entries[1].data.size() < entries[1].data.size());
    } else {
        QVERIFY(sink.entries[1].data.empty());
    }
    QCOMPARE(sink.entries[2].outcome, TENVO_OK);
    QCOMPARE(sink.entries[2].data, entries[2].data);
}

void TestRar4Decoder::unixLinksAndModes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const FixtureEntries entries = {
        FixtureEntry::file("bin/tool", "#!/bin/sh\n", 0755),
        FixtureEntry::symlink("bin/alias", "tool"),
        FixtureEntry::file("secret", "s", 0600),
    };
    Rar4Options options;
    options.host = Rar4Options::Host::Unix;
    const QString path = writeArchive(dir, entries, options);
    QVERIFY(!path.isEmpty());

    DecoderRecorder sink;
    std::string message;
    QCOMPARE(engine::decodeRar4(path.toStdString(), sink, message), TENVO_OK);
    QVERIFY2(sink.protocolKept(), qPrintable(sink.protocolReport()));
    QCOMPARE(sink.entries.size(), std::size_t(3));
    QCOMPARE(sink.entries[0].info.mode, 0755u);
    QCOMPARE(sink.entries[0].data, std::string("#!/bin/sh\n"));
    QCOMPARE(sink.entries[1].info.kind, EntryKind::Symlink);
    QCOMPARE(sink.entries[1].info.linkTarget, std::string("tool"));
    QCOMPARE(sink.entries[1].outcome, TENVO_OK);
    // A link's target travels in the entry, never as file data.
    QVERIFY(sink.entries[1].data.empty());
    QCOMPARE(sink.entries[2].info.mode, 0600u);
}

void TestRar4Decoder::check_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("accepted");

    const FixtureEntries entries = {
        FixtureEntry::directory("folder"),
        FixtureEntry::file("folder/a.txt", "alpha"),
        FixtureEntry::file("b.txt", "bravo"),
    };
    auto rar4 = [&entries](const Rar4Options &options) {
        const std::string bytes = makeRar4(entries, options);
        if (bytes.empty())
            qFatal("the RAR 4 writer made nothing");
        return QByteArray(bytes.data(), qsizetype(bytes.size()));
    };
    QTest::newRow("stored archive") << rar4({}) << true;
    Rar4Options solid;
    solid.solid = true;
    QTest::newRow("solid archive") << rar4(solid) << true;
    Rar4Options badData;
    badData.badDataCrcEntry = 1;
    QTest::newRow("archive whose data fails its CRC (data is not checked)") << rar4(badData) << true;
    Rar4Options noEnd;
    noEnd.omitEndBlock = true;
    QTest::newRow("archive without an end block") << rar4(noEnd) << true;
    Rar4Options badHeader;
    badHeader.badHeaderCrcEntry = 2;
    QTest::newRow("archive whose last file header fails its CRC") << rar4(badHeader) << false;
    Rar4Options cut;
    cut.truncateInLastData = true;
    QTest::newRow("archive cut inside its data") << rar4(cut) << false;
    Rar4Options encryptedHeaders;
    encryptedHeaders.encryptedHeaders = true;
    QTest::newRow("archive with encrypted headers") << rar4(encryptedHeaders) << false;
    const std::string rar5 = makeRar5(entries);
    if (rar5.empty())
        qFatal("the RAR 5 writer made nothing");
    QTest::newRow("RAR 5 archive") << QByteArray(rar5.data(), qsizetype(rar5.size())) << false;
    QTest::newRow("marker block alone") << QByteArray("Rar!\x1A\x07\x00", 7) << false;
    QTest::newRow("empty file") << QByteArray() << false;
    QTest::newRow("text file") << QByteArray("Rar! is not enough\n") << false;
}

void TestRar4Decoder::check()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, accepted);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("check.rar"));
    QVERIFY(writeFixtureFile(path, bytes.toStdString()));
    QCOMPARE(engine::checkRar4(path.toStdString()), accepted);
    QVERIFY(!engine::checkRar4(dir.filePath(QStringLiteral("missing.rar")).toStdString()));
}

QTEST_GUILESS_MAIN(TestRar4Decoder)
#include "tst_rar4decoder.moc"

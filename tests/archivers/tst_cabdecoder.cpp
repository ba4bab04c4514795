// Tests of the cabinet decoder and check (stored and MS-ZIP folders of a
// single cabinet straight from the file, libmspack for the rest).
#include "archivemaker.h"
#include "cabdirect.h"
#include "cabwriter.h"
#include "decoderrecorder.h"
#include "decoders.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace tenvo;
using engine::EntryKind;
using fixture::FixtureEntry;
using test::DecoderRecorder;
using test::patternBytes;

namespace {

struct SourceFile {
    QString path;      // relative, '/' between folders, as given to gcab
    std::string name;  // as the cabinet stores it
    std::string data;
};

// Files for gcab; the last one fills the cabinet's last data block alone.
// The second spans more than a megabyte of numbered lines, whose matches
// reach back across MS-ZIP frames.
std::vector<SourceFile> sourceFiles()
{
    std::string text;
    while (text.size() < 50000)
        text += "Every line of this text repeats, so MS-ZIP has work to do.\n";
    std::string inner = patternBytes(200000, 21);
    for (int line = 0; inner.size() < 1300000; ++line)
        inner += "line " + std::to_string(line % 7919) + " of the inner file\n";
    return {
        {QStringLiteral("top.txt"), "top.txt", "top level\n"},
        {QStringLiteral("sub/inner.bin"), "sub\\inner.bin", inner},
        {QStringLiteral("sub/deeper/empty.txt"), "sub\\deeper\\empty.txt", ""},
        {QStringLiteral("sub/deeper/text.txt"), "sub\\deeper\\text.txt", text},
    };
}

QString gcabProgram() { return QStandardPaths::findExecutable(QStringLiteral("gcab")); }

// Lays the files out under dir/src and runs gcab there. Empty on failure.
QString makeGcabCabinet(const QTemporaryDir &dir, bool mszip)
{
    const QString src = dir.filePath(QStringLiteral("src"));
    QStringList arguments {QStringLiteral("-c")};
    if (mszip)
        arguments << QStringLiteral("-z");
    const QString cab = dir.filePath(QStringLiteral("made.cab"));
    arguments << cab;
    for (const SourceFile &file : sourceFiles()) {
        const QString path = src + u'/' + file.path;
        QDir().mkpath(QFileInfo(path).path());
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly)
            || out.write(file.data.data(), qint64(file.data.size())) != qint64(file.data.size()))
            return {};
        // Flushed first, or closing the file would set the time again.
        if (!out.flush()
            || !out.setFileTime(QDateTime::fromSecsSinceEpoch(FixtureEntry::defaultMtime),
                                QFileDevice::FileModificationTime))
            return {};
        arguments << file.path;
    }
    QProcess gcab;
    gcab.setWorkingDirectory(src);
    gcab.start(gcabProgram(), arguments);
    if (!gcab.waitForFinished(-1) || gcab.exitStatus() != QProcess::NormalExit || gcab.exitCode() != 0)
        return {};
    return cab;
}

std::string readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

uint16_t getU16(const std::string &s, std::size_t at)
{
    return uint16_t(uint8_t(s[at]) | uint8_t(s[at + 1]) << 8);
}

uint32_t getU32(const std::string &s, std::size_t at)
{
    return getU16(s, at) | uint32_t(getU16(s, at + 2)) << 16;
}

void putU16(std::string &out, uint16_t v)
{
    out.push_back(char(v & 0xFF));
    out.push_back(char(v >> 8));
}

void putU32(std::string &out, uint32_t v)
{
    putU16(out, uint16_t(v));
    putU16(out, uint16_t(v >> 16));
}

// Offset of the last CFDATA block of the first folder (gcab writes one folder
// and no reserved areas).
std::size_t lastDataBlock(const std::string &cab)
{
    std::size_t at = getU32(cab, 36);
    const uint16_t blocks = getU16(cab, 40);
    for (uint16_t i = 1; i < blocks; ++i)
        at += 8 + getU16(cab, at + 4);
    return at;
}

// A cabinet written field by field, for what gcab cannot make: sets of
// cabinets, raw and UTF-8 names, attributes, MS-ZIP frames made by hand.
// Blocks carry no checksum.
struct CabBlock {
    std::string data;
    uint16_t uncompressed; // 0 marks a block that continues in the next cabinet
};
struct CabFolder {
    std::vector<CabBlock> blocks;
    uint16_t method = 0; // stored; 1 for MS-ZIP
};
struct CabFile {
    std::string name;
    uint32_t size;
    uint32_t offset;   // in the folder's uncompressed data
    uint16_t folder;   // index, or 0xFFFD/0xFFFE for a file split across cabinets
    uint16_t attribs = 0x20;
};
struct CabinetLayout {
    uint16_t index = 0;
    std::string previous; // cabinet name, empty for none
    std::string next;
    std::vector<CabFolder> folders;
    std::vector<CabFile> files;
};

// 2021-06-15 12:00:00 as MS-DOS date and time.
constexpr uint16_t kDosDate = (41 << 9) | (6 << 5) | 15;
constexpr uint16_t kDosTime = 12 << 11;

std::string buildCabinet(const CabinetLayout &layout)
{
    std::string names;
    uint16_t flags = 0;
    if (!layout.previous.empty()) {
        flags |= 0x0001;
        names += layout.previous + '\0' + "disk" + '\0';
    }
    if (!layout.next.empty()) {
        flags |= 0x0002;
        names += layout.next + '\0' + "disk" + '\0';
    }
    std::string fileTable;
    for (const CabFile &file : layout.files) {
        putU32(fileTable, file.size);
        putU32(fileTable, file.offset);
        putU16(fileTable, file.folder);
        putU16(fileTable, kDosDate);
        putU16(fileTable, kDosTime);
        putU16(fileTable, file.attribs);
        fileTable += file.name + '\0';
    }
    const std::size_t filesAt = 36 + names.size() + 8 * layout.folders.size();
    std::size_t dataAt = filesAt + fileTable.size();
    std::string folderTable;
    std::string data;
    for (const CabFolder &folder : layout.folders) {
        putU32(folderTable, uint32_t(dataAt + data.size()));
        putU16(folderTable, uint16_t(folder.blocks.size()));
        putU16(folderTable, folder.method);
        for (const CabBlock &block : folder.blocks) {
            putU32(data, 0); // no checksum
            putU16(data, uint16_t(block.data.size()));
            putU16(data, block.uncompressed);
            data += block.data;
        }
    }
    std::string out = "MSCF";
    putU32(out, 0);
    putU32(out, uint32_t(dataAt + data.size()));
    putU32(out, 0);
    putU32(out, uint32_t(filesAt));
    putU32(out, 0);
    out.push_back(3);
    out.push_back(1);
    putU16(out, uint16_t(layout.folders.size()));
    putU16(out, uint16_t(layout.files.size()));
    putU16(out, flags);
    putU16(out, 0x1234); // set id
    putU16(out, layout.index);
    return out + names + folderTable + fileTable + data;
}

// MS-ZIP frames: the first stores 32 KiB as they are, each next one repeats
// the 32 KiB before it with fixed-code Deflate matches that reach back
// 32768 bytes, into the frame before.
std::string storedFrame(const std::string &data)
{
    std::string out = "CK\x01";
    putU16(out, uint16_t(data.size()));
    putU16(out, uint16_t(~data.size()));
    return out + data;
}

std::string repeatingFrame()
{
    std::string out = "CK";
    uint32_t bits = 0;
    int count = 0;
    const auto put = [&](uint32_t value, int n) {
        bits |= value << count;
        for (count += n; count >= 8; count -= 8, bits >>= 8)
            out.push_back(char(bits & 0xFF));
    };
    const auto code = [&](uint32_t value, int n) { // Huffman codes go highest bit first
        for (int i = n - 1; i >= 0; --i)
            put(value >> i & 1, 1);
    };
    const auto match = [&](uint32_t lengthCode, int codeBits, uint32_t extra, int extraBits) {
        code(lengthCode, codeBits);
        put(extra, extraBits);
        code(29, 5);    // distances 24577-32768
        put(8191, 13);  // 32768
    };
    put(1, 1);          // last block
    put(1, 2);          // fixed codes
    for (int i = 0; i < 126; ++i)
        match(0xC5, 8, 0, 0); // 258
    match(0xC4, 8, 30, 5);    // 257
    match(0x01, 7, 0, 0);     // 3
    code(0, 7);               // end of block
    if (count > 0)
        out.push_back(char(bits));
    return out;
}

bool writeFile(const QString &path, const std::string &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    return fixture::writeFixtureFile(path, bytes);
}

} // namespace

class TestCabDecoder : public QObject {
    Q_OBJECT

private slots:
    void decodesGcabCabinet_data();
    void decodesGcabCabinet();
    void reportsDamage_data();
    void reportsDamage();
    void refusalKeepsLaterFiles_data();
    void refusalKeepsLaterFiles();
    void damagedFolderSparesTheOthers_data();
    void damagedFolderSparesTheOthers();
    void namesAttributesAndTimes();
    void sameAsLibmspack_data();
    void sameAsLibmspack();
    void cabinetSet_data();
    void cabinetSet();
    void check_data();
    void check();
};

void TestCabDecoder::decodesGcabCabinet_data()
{
    QTest::addColumn<bool>("mszip");
    QTest::newRow("stored folder") << false;
    QTest::newRow("MS-ZIP folder") << true;
}

void TestCabDecoder::decodesGcabCabinet()
{
    QFETCH(bool, mszip);
    if (gcabProgram().isEmpty())
        QSKIP("gcab is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString cab = makeGcabCabinet(dir, mszip);
    QVERIFY(!cab.isEmpty());

    DecoderRecorder sink;
    std::string message;
    QCOMPARE(engine::decodeCab(cab.toStdString(), sink, message), TENVO_OK);
    QVERIFY2(sink.protocolKept(), qPrintable(sink.protocolReport()));
    const auto files = sourceFiles();
    QCOMPARE(sink.entries.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const test::RecordedEntry &got = sink.entries[i];
        QCOMPARE(got.info.rawName, files[i].name);
        QVERIFY(!got.info.nameIsUtf8);
        QCOMPARE(got.info.kind, EntryKind::File);
        QCOMPARE(got.outcome, TENVO_OK);
        QCOMPARE(got.data, files[i].data);
        QCOMPARE(got.info.size, int64_t(files[i].data.size()));
        QCOMPARE(got.info.mtime, FixtureEntry::defaultMtime);
        QCOMPARE(got.info.mode, 0u);
    }
}

void TestCabDecoder::reportsDamage_data()
{
    QTest::addColumn<bool>("mszip");
    QTest::addColumn<QString>("damage");
    QTest::newRow("MS-ZIP, last data block fails its checksum") << true << QStringLiteral("checksum");
    QTest::newRow("MS-ZIP, last block's signature broken and its checksum cleared")
        << true << QStringLiteral("signature");
    QTest::newRow("stored, last data block fails its checksum") << false << QStringLiteral("checksum");
    QTest::newRow("MS-ZIP, cabinet cut inside its last data block") << true << QStringLiteral("cut");
}

void TestCabDecoder::reportsDamage()
{
    QFETCH(bool, mszip);
    QFETCH(QString, damage);
    if (gcabProgram().isEmpty())
        QSKIP("gcab is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString cab = makeGcabCabinet(dir, mszip);
    QVERIFY(!cab.isEmpty());
    std::string bytes = readAll(cab);
    const std::size_t block = lastDataBlock(bytes);
    const uint16_t blockSize = getU16(bytes, block + 4);
    if (damage == u"checksum") {
        bytes[block + 8 + blockSize / 2] ^= 0x40;
    } else if (damage == u"signature") {
        bytes[block + 8] = 'X'; // "CK" opens every MS-ZIP block
        for (int i = 0; i < 4; ++i)
            bytes[block + i] = 0;
    } else {
        bytes.resize(block + 8 + blockSize / 2);
    }
    QVERIFY(fixture::writeFixtureFile(cab, bytes));

    DecoderRecorder sink;
    std::string message;
    QCOMPARE(engine::decodeCab(cab.toStdString(), sink, message), TENVO_OK);
    QVERIFY2(sink.protocolKept(), qPrintable(sink.protocolReport()));
    const auto files = sourceFiles();
    QCOMPARE(sink.entries.size(), files.size());
    // The file in the first block keeps its data and the one in the damaged
    // block fails. a decoder that reads MS-ZIP input a block ahead may
    // fail a file ending just before the damage too; none may pass with wrong data.
    QCOMPARE(sink.entries.front().outcome, TENVO_OK);
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (sink.entries[i].outcome == TENVO_OK)
            QCOMPARE(sink.entries[i].data, files[i].data);
    }
    QCOMPARE(sink.entries.back().outcome, TENVO_ERR_DAMAGED);
    QVERIFY(!sink.entries.back().message.empty());
}

void TestCabDecoder::refusalKeepsLaterFiles_data()
{
    QTest::addColumn<bool>("mszip");
    QTest::addColumn<bool>("refuseData");
    QTest::newRow("MS-ZIP, second file refused") << true << false;
    QTest::newRow("MS-ZIP, second file's data refused midway") << true << true;
    QTest::newRow("stored, second file's data refused midway") << false << true;
}

void TestCabDecoder::refusalKeepsLaterFiles()
{
    QFETCH(bool, mszip);
    QFETCH(bool, refuseData);
    if (gcabProgram().isEmpty())
        QSKIP("gcab is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString cab = makeGcabCabinet(dir, mszip);
    QVERIFY(!cab.isEmpty());

    DecoderRecorder sink;
    if (refuseData)
        sink.acceptData = [](std::size_t index, std::size_t held) { return index != 1 || held < 40000; };
    else
        sink.acceptEntry = [](std::size_t index, const engine::EntryInfo &) { return index != 1; };
    std::string message;
    QCOMPARE(engine::decodeCab(cab.toStdString(), sink, message), TENVO_OK);
    QVERIFY2(sink.protocolKept(), qPrintable(sink.protocolReport()));
    const auto files = sourceFiles();
    QCOMPARE(sink.entries.size(), files.size());
    if (refuseData) {
        QCOMPARE(sink.entries[1].outcome, TENVO_ERR_WRITE);
        QVERIFY(sink.entries[1].data.size() < files[1].data.size());
    } else {
        QVERIFY(sink.entries[1].data.empty());
    }
    QCOMPARE(sink.entries[3].outcome, TENVO_OK);
    QCOMPARE(sink.entries[3].data, files[3].data);
}

void TestCabDecoder::damagedFolderSparesTheOthers_data()
{
    QTest::addColumn<int>("damaged");
    QTest::newRow("first of three folders fails its checksum") << 0;
    QTest::newRow("middle folder fails its checksum") << 1;
    QTest::newRow("last folder fails its checksum") << 2;
}

void TestCabDecoder::damagedFolderSparesTheOthers()
{
    QFETCH(int, damaged);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::vector<std::string> data {"first file", "second file", "third file"};
    CabinetLayout layout;
    for (std::size_t i = 0; i < data.size(); ++i) {
        layout.folders.push_back({{{data[i], uint16_t(data[i].size())}}});
        layout.files.push_back({"f" + std::to_string(i) + ".txt", uint32_t(data[i].size()), 0, uint16_t(i)});
    }
    std::string bytes = buildCabinet(layout);
    // A checksum that cannot be right for the damaged folder's only block.
    const std::size_t block = getU32(bytes, 36 + 8 * damaged);
    bytes[block] = '\x5A';
    const QString path = dir.filePath(QStringLiteral("folders.cab"));
    QVERIFY(writeFile(path, bytes));

    DecoderRecorder sink;
    std::string message;
    QCOMPARE(engine::decodeCab(path.toStdString(), sink, message), TENVO_OK);
    QVERIFY2(sink.protocolKept(), qPrintable(sink.protocolReport()));
    QCOMPARE(sink.entries.size(), data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
        QCOMPARE(sink.entries[i].info.rawName, "f" + std::to_string(i) + ".txt");
        if (int(i) == damaged) {
            QCOMPARE(sink.entries[i].outcome, TENVO_ERR_DAMAGED);
        } else {
            QCOMPARE(sink.entries[i].outcome, TENVO_OK);
            QCOMPARE(sink.entries[i].data, data[i]);
        }
    }
}

void TestCabDecoder::namesAttributesAndTimes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // 表示\ソフト.txt in CP932: both 表 and ソ end in the byte of '\'.
    const std::string cp932 = "\x95\x5C\x8E\xA6\\\x83\x5C\x83\x74\x83\x67.txt";
    const std::string utf8 = "表示\\ソフト.txt";
    const std::string data = "abcdefghij";
    CabinetLayout layout;
    layout.folders = {{{{data, uint16_t(data.size())}}}};
    layout.files = {
        {cp932, 3, 0, 0, 0x20},
        {utf8, 3, 3, 0, 0x20 | 0x80},
        {"readonly.txt", 4, 6, 0, 0x21},
    };
    const QString path = dir.filePath(QStringLiteral("names.cab"));
    QVERIFY(writeFile(path, buildCabinet(layout)));

    DecoderRecorder sink;
    std::string message;
    QCOMPARE(engine::decodeCab(path.toStdString(), sink, message), TENVO_OK);
    QVERIFY2(sink.protocolKept(), qPrintable(sink.protocolReport()));
    QCOMPARE(sink.entries.size(), std::size_t(3));
    QCOMPARE(sink.entries[0].info.rawName, cp932);
    QVERIFY(!sink.entries[0].info.nameIsUtf8);
    QCOMPARE(sink.entries[0].data, std::string("abc"));
    QCOMPARE(sink.entries[1].info.rawName, utf8);
    QVERIFY(sink.entries[1].info.nameIsUtf8);
    QCOMPARE(sink.entries[1].data, std::string("def"));
    QCOMPARE(sink.entries[0].info.mode, 0u);
    QCOMPARE(sink.entries[2].info.mode, 0444u);
    QCOMPARE(sink.entries[2].data, std::string("ghij"));
    const QDateTime local(QDate(2021, 6, 15), QTime(12, 0));
    for (const auto &entry : sink.entries)
        QCOMPARE(entry.info.mtime, local.toSecsSinceEpoch());
}

void TestCabDecoder::sameAsLibmspack_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("gcab, stored folder") << QStringLiteral("stored");
    QTest::newRow("gcab, MS-ZIP folder of many blocks") << QStringLiteral("mszip");
    QTest::newRow("gcab, MS-ZIP, a block in the middle fails its checksum") << QStringLiteral("middle");
    QTest::newRow("gcab, MS-ZIP, last block's Deflate data broken, no checksum")
        << QStringLiteral("deflate");
    QTest::newRow("gcab, MS-ZIP, cut inside a block in the middle") << QStringLiteral("cut");
    QTest::newRow("gcab, stored, cut inside a block in the middle") << QStringLiteral("cut stored");
    QTest::newRow("several MS-ZIP folders with reserved areas") << QStringLiteral("folders");
    QTest::newRow("several MS-ZIP folders, the second failing its checksum")
        << QStringLiteral("folders checksum");
    QTest::newRow("several stored folders, the second failing its checksum")
        << QStringLiteral("folders stored checksum");
    QTest::newRow("stored, files listed against their order in the folder") << QStringLiteral("order");
    QTest::newRow("MS-ZIP frames copying from the frame before") << QStringLiteral("history");
    QTest::newRow("MS-ZIP, a block without data, then one failing its checksum")
        << QStringLiteral("history empty");
}

// The same cabinet through libmspack alone: every file comes out of the
// direct path as it does there, and each file with data took the direct
// path. Where libmspack passes a stored folder's damaged block over and
// gives the files after it the wrong bytes, those files fail here.
void TestCabDecoder::sameAsLibmspack()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    std::string bytes;
    std::vector<std::string> truth;
    if (kind.startsWith(u"folders")) {
        fixture::FixtureEntries entries;
        for (int i = 0; i < 20; ++i) {
            truth.push_back(i % 5 == 4 ? std::string() : patternBytes(9000 * i, 30 + i));
            entries.push_back(FixtureEntry::file("d/f" + std::to_string(i) + ".txt", truth.back()));
        }
        fixture::FolderedCabOptions options;
        options.mszip = !kind.contains(u"stored");
        options.filesPerFolder = 6;
        if (kind.endsWith(u"checksum"))
            options.badChecksumFolder = 1;
        else
            options.reserve = 6;
        std::string error;
        bytes = fixture::makeFolderedCab(entries, options, &error);
        QVERIFY2(!bytes.empty(), error.c_str());
    } else if (kind == u"order") {
        const std::string data = "0123456789abcdefghij";
        CabinetLayout layout;
        layout.folders = {{{{data.substr(0, 8), 8}, {data.substr(8), 12}}}};
        layout.files = {{"b.txt", 6, 10, 0}, {"a.txt", 5, 2, 0}, {"c.txt", 4, 16, 0}, {"d.txt", 3, 1, 0}};
        bytes = buildCabinet(layout);
        truth = {data.substr(10, 6), data.substr(2, 5), data.substr(16, 4), data.substr(1, 3)};
    } else if (kind.startsWith(u"history")) {
        const std::string first = patternBytes(32768, 31);
        CabinetLayout layout;
        layout.folders = {{{{storedFrame(first), 32768}}, 1}};
        for (int i = 0; i < 3; ++i)
            layout.folders[0].blocks.push_back({repeatingFrame(), 32768});
        if (kind.endsWith(u"empty"))
            layout.folders[0].blocks.insert(layout.folders[0].blocks.begin() + 2, {std::string(), 1});
        // libmspack reads MS-ZIP input ahead: the damage lies in the first file.
        const uint32_t split = kind.endsWith(u"empty") ? 100000 : 50000;
        layout.files = {{"a.bin", split, 0, 0}, {"b.bin", 4 * 32768 - split, split, 0}};
        bytes = buildCabinet(layout);
        if (kind.endsWith(u"empty")) {
            std::size_t block = getU32(bytes, 36);
            for (int i = 0; i < 3; ++i)
                block += 8 + getU16(bytes, block + 4);
            bytes[block] = 1;
        }
        const std::string all = first + first + first + first;
        truth = {all.substr(0, split), all.substr(split)};
    } else {
        if (gcabProgram().isEmpty())
            QSKIP("gcab is not installed");
        const QString made = makeGcabCabinet(dir, !kind.contains(u"stored"));
        QVERIFY(!made.isEmpty());
        bytes = readAll(made);
        for (const SourceFile &file : sourceFiles())
            truth.push_back(file.data);
        std::size_t block = getU32(bytes, 36);
        for (int i = 0; i < 20; ++i)
            block += 8 + getU16(bytes, block + 4);
        const std::size_t last = lastDataBlock(bytes);
        if (kind == u"middle") {
            bytes[block + 100] ^= 0x08;
        } else if (kind == u"deflate") {
            for (int i = 0; i < 4; ++i)
                bytes[last + i] = 0;
            bytes[last + 8 + 2] |= 0x06; // the reserved block type
        } else if (kind.startsWith(u"cut")) {
            bytes.resize(block + 8 + getU16(bytes, block + 4) / 2);
        }
    }
    const QString path = dir.filePath(QStringLiteral("compared.cab"));
    QVERIFY(writeFile(path, bytes));

    DecoderRecorder want, got;
    std::string wantMessage, gotMessage;
    engine::setCabDirectDecoding(false);
    const TenvoResult expected = engine::decodeCab(path.toStdString(), want, wantMessage);
    engine::setCabDirectDecoding(true);
    const uint64_t before = engine::cabFilesDecodedDirectly();
    QCOMPARE(engine::decodeCab(path.toStdString(), got, gotMessage), expected);
    QVERIFY2(got.protocolKept(), qPrintable(got.protocolReport()));
    QCOMPARE(got.entries.size(), truth.size());
    QCOMPARE(want.entries.size(), truth.size());
    int withData = 0;
    bool libmspackAstray = false; // its causes after a wrong file are not compared
    for (std::size_t i = 0; i < got.entries.size(); ++i) {
        const test::RecordedEntry &entry = got.entries[i];
        QCOMPARE(entry.info.rawName, want.entries[i].info.rawName);
        if (entry.outcome == TENVO_OK)
            QCOMPARE(entry.data, truth[i]);
        if (want.entries[i].outcome == TENVO_OK && want.entries[i].data != truth[i]) {
            QCOMPARE(entry.outcome, TENVO_ERR_DAMAGED);
            libmspackAstray = true;
        } else {
            QCOMPARE(entry.outcome, want.entries[i].outcome);
            if (!libmspackAstray)
                QCOMPARE(entry.message, want.entries[i].message);
        }
        withData += entry.info.size > 0;
    }
    QCOMPARE(int(engine::cabFilesDecodedDirectly() - before), withData);
    QVERIFY(withData > 0);
}

void TestCabDecoder::cabinetSet_data()
{
    QTest::addColumn<QByteArray>("nextName");
    QTest::addColumn<QString>("secondPath");
    QTest::addColumn<QList<int>>("outcomes");
    const int ok = TENVO_OK;
    const int damaged = TENVO_ERR_DAMAGED;
    QTest::newRow("whole set beside the first cabinet")
        << QByteArray("part2.cab") << QStringLiteral("set/part2.cab") << QList<int> {ok, ok, ok};
    QTest::newRow("next cabinet named in other letter case")
        << QByteArray("PART2.CAB") << QStringLiteral("set/part2.cab") << QList<int> {ok, ok, ok};
    QTest::newRow("next cabinet missing")
        << QByteArray("part2.cab") << QString() << QList<int> {ok, damaged};
    QTest::newRow("next cabinet named with a folder in it is not followed")
        << QByteArray("../part2.cab") << QStringLiteral("part2.cab") << QList<int> {ok, damaged};
}

void TestCabDecoder::cabinetSet()
{
    QFETCH(QByteArray, nextName);
    QFETCH(QString, secondPath);
    QFETCH(QList<int>, outcomes);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string a = patternBytes(3000, 22);
    const std::string b = patternBytes(5000, 23);
    const std::string c = patternBytes(2000, 24);

    // "b.bin" starts in the first cabinet and ends in the second; its data
    // block is split across them as cabinet sets split it.
    CabinetLayout first;
    first.index = 0;
    first.next = nextName.toStdString();
    first.folders = {{{{a, uint16_t(a.size())}}}, {{{b.substr(0, 2000), 0}}}};
    first.files = {{"a.bin", uint32_t(a.size()), 0, 0}, {"b.bin", uint32_t(b.size()), 0, 0xFFFE}};
    CabinetLayout second;
    second.index = 1;
    second.previous = "part1.cab";
    second.folders = {{{{b.substr(2000), uint16_t(b.size())}}}, {{{c, uint16_t(c.size())}}}};
    second.files = {{"b.bin", uint32_t(b.size()), 0, 0xFFFD}, {"c.bin", uint32_t(c.size()), 0, 1}};

    const QString firstPath = dir.filePath(QStringLiteral("set/part1.cab"));
    QVERIFY(writeFile(firstPath, buildCabinet(first)));
    if (!secondPath.isEmpty())
        QVERIFY(writeFile(dir.filePath(secondPath), buildCabinet(second)));

    DecoderRecorder sink;
    std::string message;
    QCOMPARE(engine::decodeCab(firstPath.toStdString(), sink, message), TENVO_OK);
    QVERIFY2(sink.protocolKept(), qPrintable(sink.protocolReport()));
    QCOMPARE(sink.outcomes(), outcomes);
    const std::vector<std::string> data = {a, b, c};
    for (std::size_t i = 0; i < sink.entries.size(); ++i) {
        if (sink.entries[i].outcome == TENVO_OK)
            QCOMPARE(sink.entries[i].data, data[i]);
        else
            QVERIFY(!sink.entries[i].message.empty());
    }
}

void TestCabDecoder::check_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("cabinet made by gcab") << QStringLiteral("cab") << true;
    QTest::newRow("cabinet whose data fails its checksum (data is not checked)")
        << QStringLiteral("bad data") << true;
    QTest::newRow("cabinet cut in half") << QStringLiteral("half") << false;
    QTest::newRow("cabinet cut inside its file table") << QStringLiteral("header") << false;
    QTest::newRow("ZIP archive") << QStringLiteral("zip") << false;
    QTest::newRow("empty file") << QStringLiteral("empty") << false;
}

void TestCabDecoder::check()
{
    QFETCH(QString, kind);
    QFETCH(bool, accepted);
    if (gcabProgram().isEmpty())
        QSKIP("gcab is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString cab = makeGcabCabinet(dir, true);
    QVERIFY(!cab.isEmpty());
    std::string bytes = readAll(cab);
    if (kind == u"bad data")
        bytes[lastDataBlock(bytes) + 20] ^= 0x40;
    else if (kind == u"half")
        bytes.resize(bytes.size() / 2);
    else if (kind == u"header")
        bytes.resize(getU32(bytes, 16) + 20);
    else if (kind == u"zip")
        bytes = fixture::makeZip({FixtureEntry::file("a.txt", patternBytes(200, 25))});
    else if (kind == u"empty")
        bytes.clear();
    QVERIFY(kind == u"empty" || !bytes.empty());
    const QString path = dir.filePath(QStringLiteral("check.cab"));
    QVERIFY(fixture::writeFixtureFile(path, bytes));
    QCOMPARE(engine::checkCab(path.toStdString()), accepted);
    QVERIFY(!engine::checkCab(dir.filePath(QStringLiteral("missing.cab")).toStdString()));
}

QTEST_GUILESS_MAIN(TestCabDecoder)
#include "tst_cabdecoder.moc"

// Tests of the 7z layer beside libarchive: branch filters undone in any
// pieces, LZMA and LZMA2 decoded here as libarchive decodes them, and
// hostile headers or data met with a cause, never a crash or a stray entry.
#include "decoderrecorder.h"
#include "decoders.h"
#include "decoderutil.h"
#include "libarchivedecoder.h"
#include "sevenzipfilter.h"

#include "archivemaker.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <fstream>
#include <map>

using namespace tenvo;
using namespace tenvo::fixture;
using test::DecoderRecorder;
using test::patternBytes;

namespace {

// Data with a branch of the filter's kind planted every 64 bytes, among
// bytes that hold some more by chance.
std::string branchyCode(const std::string &coderId)
{
    std::string code = patternBytes(100000, 21);
    for (std::size_t at = 0; at + 8 <= code.size(); at += 64) {
        if (coderId == "\x0A") {
            code[at + 3] = char(0x94); // BL
            code[at + 35] = char(0x90); // ADRP x0
            code[at + 34] &= 0x01;
        } else {
            code[at] = char(0xEF); // JAL x1
            code[at + 1] = char(code[at + 1] & 0xF0);
            code[at + 34] = char(0x97); // AUIPC x1, with an instruction after it
            code[at + 35] = 0x00;
        }
    }
    return code;
}

std::string undo(const std::string &coderId, const std::string &data, std::size_t piece)
{
    engine::BranchFilter filter(coderId, std::string());
    std::string out;
    const auto keep = [&out](const unsigned char *p, std::size_t n) {
        out.append(reinterpret_cast<const char *>(p), n);
        return true;
    };
    for (std::size_t at = 0; at < data.size(); at += piece)
        filter.feed(data.data() + at, std::min(piece, data.size() - at), keep);
    filter.finish(keep);
    return out;
}

// Text of words (short and long matches, repeated distances), runs and
// short periods (overlapping copies), and bytes that do not compress
// (stored chunks).
std::map<std::string, std::string> lzmaFiles(std::size_t textSize)
{
    static const char *const words[] = {"archive ", "folder ", "window ", "dictionary ", "match ", "a ",
                                        "literal\n", "range ", "probability ", "tenvo ", "the "};
    std::string text;
    uint32_t x = 12345;
    while (text.size() < textSize) {
        x = x * 1103515245u + 12345u;
        text += words[(x >> 16) % 11];
    }
    std::string runs(70000, 'z');
    for (std::size_t period = 2; period < 40; period += 3) {
        const std::string unit = patternBytes(period, uint32_t(period));
        for (int k = 0; k < 400; ++k)
            runs += unit;
    }
    return {{"a.txt", text}, {"b.bin", patternBytes(300000, 9)}, {"c.dat", runs},
            {"d.txt", text.substr(text.size() / 3, 200000)}, {"empty.txt", std::string()}};
}

// Chunks of the archive's first LZMA2 stream that reset the dictionary.
int lzma2DictionaryResets(const std::string &archive)
{
    const auto byte = [&archive](std::size_t at) { return unsigned(static_cast<unsigned char>(archive[at])); };
    int resets = 0;
    for (std::size_t at = 32; at + 5 < archive.size() && byte(at) != 0;) {
        const unsigned control = byte(at);
        resets += control == 1 || control >= 0xE0;
        at += control < 0x80 ? 3 + (byte(at + 1) << 8 | byte(at + 2)) + 1
                             : 5 + (control >= 0xC0) + (byte(at + 3) << 8 | byte(at + 4)) + 1;
    }
    return resets;
}

} // namespace

class TestSevenZip : public QObject {
    Q_OBJECT

private slots:
    void branchFilterPieces_data()
    {
        QTest::addColumn<QByteArray>("coderId");
        QTest::addColumn<int>("piece");
        for (const int piece : {1, 3, 5, 6, 4099}) {
            QTest::addRow("ARM64 in pieces of %d bytes", piece) << QByteArray("\x0A") << piece;
            QTest::addRow("RISC-V in pieces of %d bytes", piece) << QByteArray("\x0B") << piece;
        }
    }

    // A branch cut between two pieces (as between libarchive's blocks) is
    // undone as when the stream comes whole.
    void branchFilterPieces()
    {
        QFETCH(QByteArray, coderId);
        QFETCH(int, piece);
        const std::string id = coderId.toStdString();
        const std::string code = branchyCode(id);
        const std::string whole = undo(id, code, code.size());
        QCOMPARE(whole.size(), code.size());
        QVERIFY2(whole != code, "the planted branches are converted");
        QVERIFY(undo(id, code, std::size_t(piece)) == whole);
    }

    void lzmaDecodedHere_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("textSize");
        // A plain archive: libarchive's own walk gives the same entries.
        QTest::addColumn<bool>("libarchiveReads");
        // Chunks that reset the dictionary in the first stream, at least.
        QTest::addColumn<int>("resets");
        // Bytes of the packed data changed one at a time: no wrong file lands.
        QTest::addColumn<bool>("flips");
        const auto row = [](const char *name, const QStringList &options, bool plain = true,
                            bool flips = false, int textSize = 600000, int resets = 0) {
            QTest::newRow(name) << options << textSize << plain << resets << flips;
        };
        row("LZMA, level 1", {"-m0=LZMA", "-mx=1"}, true, true);
        row("LZMA, level 9, lc=3 lp=2 pb=1 (more literal bits than libarchive reads)",
            {"-m0=LZMA:lc=3:lp=2:pb=1", "-mx=9"}, false);
        row("LZMA2, level 1", {"-mx=1"});
        row("LZMA2, level 5", {"-mx=5"}, true, true);
        row("LZMA2, level 9", {"-mx=9"});
        row("LZMA2, a 64 KiB dictionary wrapped many times", {"-md=64k"}, true, true);
        row("LZMA2 from two threads, the dictionary reset between blocks", {"-mmt=2", "-md=64k", "-mx=3"},
            true, true, 3000000, 3);
        row("LZMA2, solid blocks of two files", {"-ms=2f"});
        row("LZMA, a folder per file", {"-m0=LZMA", "-ms=off"});
        row("LZMA2 after AES, names encrypted", {"-psecret", "-mhe=on"}, false);
        row("LZMA after AES, a folder per file", {"-m0=LZMA", "-psecret", "-ms=off"}, false);
        row("LZMA2 behind the ARM64 filter", {"-mf=ARM64"}, false);
        row("BCJ over LZMA, left to libarchive", {"-mf=BCJ", "-m0=LZMA"});
        row("LZMA2, one folder above 4 MiB in a 4 MiB window of huge pages (decoded beside the writing on "
            "two cores)",
            {"-mx=1", "-md=4m"}, true, false, 5000000);
    }

    // Every file lands as it was packed, with the entries libarchive gives;
    // a changed byte of the packed data fails a file and never lands one
    // that is wrong.
    void lzmaDecodedHere()
    {
        QFETCH(QStringList, options);
        QFETCH(int, textSize);
        QFETCH(bool, libarchiveReads);
        QFETCH(int, resets);
        QFETCH(bool, flips);
        const auto files = lzmaFiles(std::size_t(textSize));
        QTemporaryDir work;
        QVERIFY(QDir(work.path()).mkpath("in/sub"));
        QStringList names{"sub"};
        for (const auto &[name, data] : files) {
            QFile file(work.filePath("in/" + QString::fromStdString(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(data.data(), qint64(data.size()));
            names << QString::fromStdString(name);
        }
        QProcess maker;
        maker.setWorkingDirectory(work.filePath("in"));
        maker.start("7zz", QStringList{"a", "-bso0", "-bsp0", "../x.7z"} + options + names);
        if (!maker.waitForStarted())
            QSKIP("7zz (scripts/setup.sh installs it) cannot make the archive");
        QVERIFY(maker.waitForFinished(120000) && maker.exitCode() == 0);
        const std::string path = work.filePath("x.7z").toStdString();
        QFile made(work.filePath("x.7z"));
        QVERIFY(made.open(QIODevice::ReadOnly));
        const std::string archive = made.readAll().toStdString();
        if (resets > 0)
            QVERIFY(lzma2DictionaryResets(archive) >= resets);

        const std::string password = "secret";
        const auto decode = [&](DecoderRecorder &recorder) {
            std::string message;
            const TenvoResult result = engine::decodeSevenZip(path, recorder, message, &password);
            QVERIFY2(recorder.protocolKept(), qPrintable(recorder.protocolReport()));
            QVERIFY(result == TENVO_OK || !message.empty());
            for (const auto &entry : recorder.entries) {
                const auto original = files.find(entry.info.rawName);
                if (entry.outcome == TENVO_OK && entry.info.kind == engine::EntryKind::File)
                    QVERIFY2(original != files.end() && entry.data == original->second, entry.info.rawName.c_str());
            }
        };
        DecoderRecorder here;
        decode(here);
        QCOMPARE(here.entries.size(), files.size() + 1);
        QVERIFY(std::all_of(here.entries.begin(), here.entries.end(), [](const auto &e) { return e.outcome == TENVO_OK; }));
        if (libarchiveReads) {
            DecoderRecorder reference;
            std::string message;
            QCOMPARE(int(engine::decodeWithLibarchive(engine::LibarchiveFormat::SevenZip, path, reference, message)),
                     int(TENVO_OK));
            QCOMPARE(here.entries.size(), reference.entries.size());
            for (std::size_t i = 0; i < here.entries.size(); ++i) {
                const auto &a = here.entries[i];
                const auto &b = reference.entries[i];
                QCOMPARE(a.info.rawName, b.info.rawName);
                QCOMPARE(int(a.info.kind), int(b.info.kind));
                QCOMPARE(a.info.size, b.info.size);
                QCOMPARE(a.info.mode, b.info.mode);
                QCOMPARE(a.info.mtime, b.info.mtime);
                QVERIFY(a.data == b.data);
            }
        }
        const std::size_t headerStart = 32 + std::size_t(engine::le64(reinterpret_cast<const unsigned char *>(archive.data()) + 12));
        for (int k = 1; flips && k <= 40; ++k) {
            std::string bytes = archive;
            bytes[32 + (headerStart - 32) * std::size_t(k) / 41] ^= char(0xA5);
            std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
            DecoderRecorder damaged;
            decode(damaged);
            QVERIFY(std::any_of(damaged.entries.begin(), damaged.entries.end(),
                                [](const auto &e) { return e.outcome == TENVO_ERR_DAMAGED; }));
            if (QTest::currentTestFailed())
                return;
        }
    }

    void hostileHeaders_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("behind the ARM64 filter") << int(SevenZipOptions::Method::Arm64Filter);
        QTest::newRow("packed with Deflate64") << int(SevenZipOptions::Method::Deflate64);
        QTest::newRow("LZMA2, decoded here") << int(SevenZipOptions::Method::Lzma2);
    }

    // Every byte of the header changed in turn, and the archive cut short:
    // each gives a cause, and whatever entry comes out is whole and keeps
    // to the sink's protocol.
    void hostileHeaders()
    {
        QFETCH(int, method);
        std::string error;
        const std::string text = "a text file of words, neither branches nor matches.";
        const std::string archive =
            make7z({FixtureEntry::file("t.txt", text)}, {.method = SevenZipOptions::Method(method)}, &error);
        QVERIFY2(!archive.empty(), error.c_str());
        QTemporaryDir work;
        const std::string path = work.filePath("x.7z").toStdString();
        const auto decode = [&](const std::string &bytes, TenvoResult &result) {
            std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
            DecoderRecorder recorder;
            std::string message;
            const std::string password = "secret";
            result = engine::decodeSevenZip(path, recorder, message, &password);
            QVERIFY2(recorder.protocolErrors.empty(),
                     recorder.protocolErrors.empty() ? "" : recorder.protocolErrors.front().c_str());
            QVERIFY(result == TENVO_OK || !message.empty());
            for (const auto &entry : recorder.entries) {
                if (entry.outcome == TENVO_OK && entry.info.kind == engine::EntryKind::File)
                    QVERIFY(entry.data == text);
            }
        };
        TenvoResult result = TENVO_OK;
        decode(archive, result);
        QCOMPARE(int(result), int(TENVO_OK));
        decode(archive.substr(0, archive.size() / 2), result);
        QCOMPARE(int(result), int(TENVO_ERR_DAMAGED));
        // The header sits at the end, behind the data; its CRCs are made
        // right again so that the change reaches the reading of it.
        const auto *start = reinterpret_cast<const unsigned char *>(archive.data());
        const std::size_t headerStart = archive.size() - std::size_t(engine::le64(start + 20));
        auto putCrc = [](std::string &bytes, std::size_t at, uint32_t crc) {
            for (int i = 0; i < 4; ++i)
                bytes[at + std::size_t(i)] = char((crc >> (8 * i)) & 0xFF);
        };
        for (std::size_t at = headerStart; at < archive.size(); ++at) {
            std::string bytes = archive;
            bytes[at] = char(bytes[at] ^ 0xA5);
            putCrc(bytes, 28, engine::crc32Update(0, bytes.data() + headerStart, bytes.size() - headerStart));
            putCrc(bytes, 8, engine::crc32Update(0, bytes.data() + 12, 20));
            decode(bytes, result);
            if (QTest::currentTestFailed())
                return;
        }
    }
};

QTEST_GUILESS_MAIN(TestSevenZip)
#include "tst_sevenzip.moc"

// Tests of the 7z layer beside libarchive: branch filters undone in any
// pieces, and hostile headers met with a cause, never a crash or a stray entry.
#include "decoderrecorder.h"
#include "decoders.h"
#include "decoderutil.h"
#include "sevenzipfilter.h"

#include "archivemaker.h"

#include <QTemporaryDir>
#include <QTest>

#include <fstream>

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

    void hostileHeaders_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("behind the ARM64 filter") << int(SevenZipOptions::Method::Arm64Filter);
        QTest::newRow("packed with Deflate64") << int(SevenZipOptions::Method::Deflate64);
        QTest::newRow("LZMA2, read by libarchive alone") << int(SevenZipOptions::Method::Lzma2);
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

// The engine's own -lh4- to -lh7- decoder against libarchive's, entry by entry.
#include "decoderrecorder.h"
#include "decoders.h"
#include "libarchivedecoder.h"
#include "lzhwriter.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <random>

using namespace tenvo;
using namespace tenvo::fixture;
using test::DecoderRecorder;

namespace {

// Text that repeats at every distance a dictionary reaches, and noise.
std::string sampleText(std::size_t size, unsigned seed)
{
    static const char *const words[] = {"archive", "フォルダ", "decode", "解凍", "window", " ", "\n", "lzh"};
    std::mt19937 random(seed);
    std::string text;
    while (text.size() < size)
        text += words[random() % 8];
    text.resize(size);
    return text;
}

std::string noise(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char &c : bytes)
        c = char(random());
    return bytes;
}

struct Tree {
    QString name;
    std::string data;
};

// Packs the files with jlha, which writes real matches ("o5" to "o7").
bool packWithJlha(const QString &archive, const QString &option, const QList<Tree> &files,
                  const QString &folder)
{
    QStringList names;
    for (const Tree &file : files) {
        QFile out(folder + u'/' + file.name);
        QDir().mkpath(QFileInfo(out).path());
        if (!out.open(QIODevice::WriteOnly) || out.write(file.data.data(), qint64(file.data.size())) < 0)
            return false;
        names << file.name;
    }
    QProcess jlha;
    jlha.setWorkingDirectory(folder);
    jlha.start(QStringLiteral("jlha"), QStringList{"a" + option + "q", archive} + names);
    return jlha.waitForFinished(120000) && jlha.exitCode() == 0 && QFileInfo(archive).size() > 0;
}

QByteArray bytesOf(const std::string &s) { return QByteArray(s.data(), qsizetype(s.size())); }

} // namespace

class TestLzhDecoder : public QObject {
    Q_OBJECT

private slots:
    void sameAsLibarchive_data();
    void sameAsLibarchive();
};

void TestLzhDecoder::sameAsLibarchive_data()
{
    QTest::addColumn<QString>("packer");
    QTest::addColumn<QString>("method");
    // Where a byte of packed data is turned over (-1: nowhere), and where
    // the archive is cut (-1: it is whole).
    QTest::addColumn<qint64>("flipAt");
    QTest::addColumn<qint64>("cutAt");

    for (const char *method : {"-lh5-", "-lh6-", "-lh7-"}) {
        QTest::addRow("jlha %s", method) << "jlha" << method << qint64(-1) << qint64(-1);
        QTest::addRow("literals only %s", method) << "writer" << method << qint64(-1) << qint64(-1);
    }
    QTest::newRow("jlha -lh5-, a byte of the large file turned over") << "jlha" << "-lh5-" << qint64(40000)
                                                                      << qint64(-1);
    QTest::newRow("jlha -lh7-, cut inside the large file") << "jlha" << "-lh7-" << qint64(-1) << qint64(90000);
    QTest::newRow("literals only -lh5-, a byte turned over") << "writer" << "-lh5-" << qint64(200) << qint64(-1);
}

void TestLzhDecoder::sameAsLibarchive()
{
    QFETCH(QString, packer);
    QFETCH(QString, method);
    QFETCH(qint64, flipAt);
    QFETCH(qint64, cutAt);

    // Spans several blocks, output flushes and every distance of a 64 KiB
    // dictionary; the empty and tiny files end a member at once.
    QList<Tree> files = {
        {"big.txt", sampleText(1300000, 1)},
        {"sub/noise.bin", noise(70000, 2)},
        {"sub/mixed.txt", sampleText(50000, 3) + noise(5000, 4) + sampleText(90000, 3)},
        {"empty.txt", ""},
        {"one.txt", "x"},
    };
    QTemporaryDir work;
    const QString archive = work.filePath("a.lzh");
    if (packer == u"jlha") {
        if (QStandardPaths::findExecutable(QStringLiteral("jlha")).isEmpty())
            QSKIP("jlha (Debian jlha-utils) is not installed");
        QVERIFY(packWithJlha(archive, "o" + method.mid(3, 1), files, work.filePath("tree")));
    } else {
        // The one-byte file is left out: libarchive wants more bits after
        // the last code than such a member holds, where LHA pads with zeros.
        files.removeAt(4);
        FixtureEntries entries;
        for (const Tree &file : files)
            entries.push_back(FixtureEntry::file(file.name.toStdString(), file.data.substr(0, 20000)));
        LzhOptions options;
        options.method = method.toStdString();
        std::string error;
        QVERIFY2(writeLzh(archive, entries, options, &error), error.c_str());
    }
    {
        QFile file(archive);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        QVERIFY(flipAt < bytes.size() && cutAt < bytes.size());
        if (flipAt >= 0)
            bytes[flipAt] = char(bytes[flipAt] ^ 0x5A);
        if (cutAt >= 0)
            bytes.truncate(cutAt);
        QVERIFY(file.resize(0) && file.write(bytes) == bytes.size());
    }

    DecoderRecorder own;
    DecoderRecorder reference;
    std::string ownMessage;
    std::string referenceMessage;
    const TenvoResult ownResult = engine::decodeLzh(archive.toStdString(), own, ownMessage);
    const TenvoResult referenceResult = engine::decodeWithLibarchive(
        engine::LibarchiveFormat::Lha, archive.toStdString(), reference, referenceMessage);
    QVERIFY(own.protocolErrors.empty());
    QCOMPARE(ownResult == TENVO_OK, referenceResult == TENVO_OK);

    // Entry by entry: the same name, kind and outcome; the same bytes where
    // both decoded it whole.
    QVERIFY(own.entries.size() >= reference.entries.size());
    bool anyFailed = false;
    for (std::size_t i = 0; i < reference.entries.size(); ++i) {
        const auto &mine = own.entries[i];
        const auto &theirs = reference.entries[i];
        QCOMPARE(bytesOf(mine.info.rawName), bytesOf(theirs.info.rawName));
        QCOMPARE(int(mine.info.kind), int(theirs.info.kind));
        QVERIFY2((mine.outcome == TENVO_OK) == (theirs.outcome == TENVO_OK),
                 (theirs.info.rawName + ": " + mine.message + " / " + theirs.message).c_str());
        anyFailed = anyFailed || mine.outcome != TENVO_OK;
        if (mine.outcome == TENVO_OK)
            QVERIFY2(mine.data == theirs.data, qPrintable(QString::fromStdString(mine.info.rawName)));
    }
    QCOMPARE(anyFailed || ownResult != TENVO_OK, flipAt >= 0 || cutAt >= 0);
    if (flipAt < 0 && cutAt < 0) {
        QCOMPARE(own.entries.size(), std::size_t(files.size()));
        for (std::size_t i = 0; i < own.entries.size(); ++i) {
            const std::string &data = files[qsizetype(i)].data;
            QCOMPARE(bytesOf(own.entries[i].info.rawName), files[qsizetype(i)].name.toUtf8());
            QVERIFY(own.entries[i].data == (packer == u"jlha" ? data : data.substr(0, 20000)));
        }
    }
}

QTEST_GUILESS_MAIN(TestLzhDecoder)
#include "tst_lzhdecoder.moc"

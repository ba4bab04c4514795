// Real archives, made by the test, extracted through clsArchive and the real
// archiver libraries; the files on disk are compared byte for byte.
#include "clsarchive.h"
#include "extractjob.h"
#include "module1.h"
#include "result.h"

#include "archivemaker.h"
#include "deflate64zip.h"
#include "lzhwriter.h"
#include "rar4writer.h"
#include "rar5writer.h"
#include "testlocale.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <map>

using namespace tenvo::fixture;

namespace {

// CP932 bytes: "ソフト" (ソ = 0x83 0x5C) and "表示.txt" (表 = 0x95 0x5C).
const std::string softCp932 = "\x83\x5C\x83\x74\x83\x67";
const std::string displayCp932 = "\x95\x5C\x8E\xA6.txt";
const QString softUtf8 = QStringLiteral("ソフト");
const QString displayUtf8 = QStringLiteral("表示.txt");

std::string binaryData(std::size_t size, unsigned seed)
{
    std::string data(size, '\0');
    unsigned x = seed;
    for (char &c : data) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 16);
    }
    return data;
}

// The tree every archive holds; cp932 picks how the Japanese names are stored.
FixtureEntries tree(bool cp932)
{
    const std::string soft = cp932 ? softCp932 : softUtf8.toStdString();
    const std::string display = cp932 ? displayCp932 : displayUtf8.toStdString();
    return {
        FixtureEntry::directory("docs"),
        FixtureEntry::file("docs/readme.txt", "read me\r\nplease\r\n"),
        FixtureEntry::directory("docs/sub"),
        FixtureEntry::file("docs/sub/data.bin", binaryData(70000, 7)),
        FixtureEntry::file("top.txt", "top level"),
        FixtureEntry::directory(soft),
        FixtureEntry::file(soft + "/" + display, "日本語の中身"),
        FixtureEntry::file("empty.dat", ""),
    };
}

// Relative path (UTF-8, "/") -> content, as the tree should land.
std::map<QString, QByteArray> expectedFiles(bool restore)
{
    const std::map<QString, QByteArray> restored = {
        {QStringLiteral("docs/readme.txt"), "read me\r\nplease\r\n"},
        {QStringLiteral("docs/sub/data.bin"), QByteArray::fromStdString(binaryData(70000, 7))},
        {QStringLiteral("top.txt"), "top level"},
        {softUtf8 + u'/' + displayUtf8, QStringLiteral("日本語の中身").toUtf8()},
        {QStringLiteral("empty.dat"), ""},
    };
    if (restore)
        return restored;
    std::map<QString, QByteArray> flat;
    for (const auto &[path, data] : restored)
        flat[path.section(u'/', -1)] = data;
    return flat;
}

std::map<QString, QByteArray> filesOnDisk(const QString &root)
{
    std::map<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            files[QDir(root).relativeFilePath(path)] = file.readAll();
    }
    return files;
}

using Maker = std::function<std::string()>;

// A program folder holding the chosen real libraries and the decoder
// program they start.
void layOutLibraries(const QString &folder, const QStringList &names)
{
    for (const QString &name : names + QStringList{QStringLiteral("tenvo-decoder"), QStringLiteral("tenvo-decoders.so")})
        QVERIFY2(QFile::copy(QStringLiteral(TENVO_BIN_DIR "/") + name, folder + u'/' + name),
                 qPrintable(name));
}

// The extraction job over archives with the real libraries, one archive at
// a time, each into a folder of its name under work/out/. Password questions
// are answered from answers in order (a null QString skips the archive);
// their texts go to prompts and titles.
QList<ArchiveResult> runBatch(const QStringList &archives, const QString &work, QStringList answers = {},
                              QStringList *prompts = nullptr, QStringList *titles = nullptr,
                              bool nested = false)
{
    clsArchive archive;
    archive.setLibraryFolder(QStringLiteral(TENVO_BIN_DIR));
    for (const SupportType &row : registrationRows())
        archive.addSupportType(row);
    ExtractOptions options;
    options.destination = work + QStringLiteral("/out/");
    options.nameFolders = true;
    options.parallel = 1;
    options.nested = nested;
    ExtractJob job(archive, archives, options);
    QObject::connect(&job, &ExtractJob::question, [&](JobQuestion *question) {
        if (question->kind() != JobQuestion::Password) {
            question->skip();
            return;
        }
        if (prompts)
            prompts->append(question->text());
        if (titles)
            titles->append(question->title());
        const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
        if (answer.isNull())
            question->skip();
        else
            question->answer(answer);
    });
    job.start();
    if (!QTest::qWaitFor([&] { return job.isFinished(); }, 120000))
        qWarning("the job did not finish within two minutes");
    return job.results();
}

} // namespace

Q_DECLARE_METATYPE(Maker)
using FileContents = std::map<QString, QByteArray>;
Q_DECLARE_METATYPE(FileContents)

class TestRealExtraction : public QObject
{
    Q_OBJECT

private slots:
    void extract_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<Maker>("maker");
        QTest::addColumn<bool>("sevenZip");
        QTest::addColumn<bool>("restore");
        QTest::addColumn<bool>("alwaysRestores");

        const FixtureEntries cp932 = tree(true);
        const FixtureEntries utf8 = tree(false);
        struct Format {
            const char *name;
            const char *file;
            Maker maker;
            bool sevenZip;
            bool alwaysRestores;
        };
        const Format formats[] = {
            {"LZH level 2", "a.lzh", [=] { return makeLzh(cp932, {}); }, false, false},
            {"LZH level 1 from Unix", "a.lzh", [=] { LzhOptions o; o.level = 1; o.os = 'U'; return makeLzh(cp932, o); }, false, false},
            {"LZH level 0 with backslashes", "a.lzh", [=] { LzhOptions o; o.level = 0; return makeLzh(cp932, o); }, false, false},
            {"CAB stored", "b.cab", [=] { return makeCab(cp932, {}); }, false, false},
            {"CAB with MSZIP", "b.cab", [=] { CabOptions o; o.mszip = true; return makeCab(cp932, o); }, false, false},
            {"ZIP deflated through unzip32", "c.zip", [=] { ZipOptions o; o.names = ZipOptions::Names::Raw; o.deflate = true; return makeZip(cp932, o); }, false, false},
            {"ZIP with UTF-8 names through unzip32", "c.zip", [=] { ZipOptions o; o.deflate = true; return makeZip(utf8, o); }, false, false},
            {"ZIP deflated through 7-zip32", "c.zip", [=] { ZipOptions o; o.names = ZipOptions::Names::Raw; o.deflate = true; return makeZip(cp932, o); }, true, false},
            {"ZIP with Deflate64 through unzip32", "c.zip", [=] { Deflate64ZipOptions o; o.names = Deflate64ZipOptions::Names::Raw; o.blockSize = 4000; return makeDeflate64Zip(cp932, o); }, false, false},
            {"ZIP with Deflate64 through 7-zip32", "c.zip", [=] { return makeDeflate64Zip(utf8, {}); }, true, false},
            {"RAR 4", "d.rar", [=] { return makeRar4(cp932, {}); }, false, true},
            {"RAR 4 solid", "d.rar", [=] { Rar4Options o; o.solid = true; return makeRar4(cp932, o); }, false, true},
            {"RAR 4 with Unicode names", "d.rar", [=] { Rar4Options o; o.unicodeNameEntries = {5, 6}; return makeRar4(utf8, o); }, false, true},
            {"RAR 5", "d.rar", [=] { return makeRar5(utf8, {}); }, false, true},
            {"7z through 7-zip32", "e.7z", [=] { return make7z(utf8, {}); }, true, false},
        };
        for (const Format &format : formats) {
            for (const bool restore : {true, false}) {
                const QByteArray row = QByteArray(format.name) + (restore ? ", restored" : ", flattened");
                QTest::newRow(row.constData()) << QString::fromLatin1(format.file) << format.maker
                                               << format.sevenZip << restore << format.alwaysRestores;
            }
        }
    }

    void extract()
    {
        QFETCH(QString, fileName);
        QFETCH(Maker, maker);
        QFETCH(bool, sevenZip);
        QFETCH(bool, restore);
        QFETCH(bool, alwaysRestores);

        if (fileName.endsWith(u".cab") && !gcabAvailable())
            QSKIP("gcab is not installed");

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QStringList libraries{QStringLiteral("unlha32.so"), QStringLiteral("cab32.so"),
                              QStringLiteral("unzip32.so"), QStringLiteral("unrar32.so")};
        if (sevenZip)
            libraries << QStringLiteral("7-zip32.so");
        const QString program = dir.filePath(QStringLiteral("program"));
        QVERIFY(QDir().mkpath(program));
        layOutLibraries(program, libraries);

        // Paths with blanks, a double quote and Japanese text reach the library intact.
        const QString sourceFolder = dir.filePath(QStringLiteral("in \"quoted\" 書庫"));
        const QString destination = dir.filePath(QStringLiteral("out 先"));
        QVERIFY(QDir().mkpath(sourceFolder));
        QVERIFY(QDir().mkpath(destination));
        const QString archivePath = sourceFolder + u'/' + fileName;
        const std::string bytes = maker();
        QVERIFY(!bytes.empty());
        QVERIFY(writeFixtureFile(archivePath, bytes));

        clsArchive archive;
        archive.setLibraryFolder(program);
        for (const SupportType &row : registrationRows())
            archive.addSupportType(row);
        QCOMPARE(archive.useSevenZipForZip(), sevenZip);
        archive.setRestoreFolder(restore);

        QVERIFY(archive.checkArchive(archivePath));
        QString folder = destination;
        QCOMPARE(archive.extract(archivePath, folder), 0);
        QCOMPARE(filesOnDisk(destination), expectedFiles(restore || alwaysRestores));
    }

    // Two ZIP archives with one password, and a plain one between them, in
    // one run: the password is typed once, kept for the second archive, and
    // never lands in the settings file.
    void passwordThroughTheRun_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("askedFor");
        QTest::addColumn<bool>("extracted");

        const QString right = QStringLiteral("my \"pass\" 1");
        for (const QString &tool : {QStringLiteral("zip"), QStringLiteral("7zz")}) {
            const QByteArray kind = tool == u"zip" ? "traditional" : "AES-256";
            QTest::addRow("%s ZIP, the password typed once", kind.constData())
                << tool << QStringList{right} << QStringList{"a.zip"} << true;
            QTest::addRow("%s ZIP, a wrong password, then the right one", kind.constData())
                << tool << QStringList{QStringLiteral("wrong"), right} << QStringList{"a.zip", "a.zip"} << true;
            QTest::addRow("%s ZIP, three wrong passwords leave no file", kind.constData())
                << tool << QStringList{"a", "b", "c", "d", "e", "f"}
                << QStringList{"a.zip", "a.zip", "a.zip", "c.zip", "c.zip", "c.zip"} << false;
        }
        QTest::newRow("cancelling skips the archive")
            << QStringLiteral("zip") << QStringList{QString(), QString()} << QStringList{"a.zip", "c.zip"}
            << false;
    }

    void passwordThroughTheRun()
    {
        QFETCH(QString, tool);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, askedFor);
        QFETCH(bool, extracted);

        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in/"));
        const QString out = dir.filePath(QStringLiteral("out/"));
        QVERIFY(QDir().mkpath(in) && QDir().mkpath(out));
        const QString password = QStringLiteral("my \"pass\" 1");
        QVERIFY(writeFixtureFile(in + QStringLiteral("secret.txt"), binaryData(50000, 3)));
        QVERIFY(writeFixtureFile(in + QStringLiteral("plain.txt"), "plain"));
        auto pack = [&](const QString &archive, const QString &file, bool encrypt) {
            QStringList arguments = tool == u"zip" ? QStringList{"-q"} : QStringList{"a", "-tzip"};
            if (encrypt)
                arguments << (tool == u"zip" ? QStringList{"-P", password}
                                             : QStringList{"-mem=AES256", "-p" + password});
            arguments << archive << file;
            QProcess process;
            process.setWorkingDirectory(in);
            process.start(tool, arguments);
            return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
                && process.exitCode() == 0;
        };
        if (!pack(in + QStringLiteral("a.zip"), QStringLiteral("secret.txt"), true)
            || !pack(in + QStringLiteral("b.zip"), QStringLiteral("plain.txt"), false)
            || !pack(in + QStringLiteral("c.zip"), QStringLiteral("secret.txt"), true))
            QSKIP("zip or 7zz (scripts/setup.sh installs them) cannot make the archives");

        QStringList prompts;
        QStringList titles;
        const QList<ArchiveResult> results =
            runBatch({in + QStringLiteral("a.zip"), in + QStringLiteral("b.zip"), in + QStringLiteral("c.zip")},
                     dir.path(), answers, &prompts, &titles);
        QCOMPARE(results.size(), 3);
        QCOMPARE(results[0].code, extracted ? int(TENVO_OK) : int(TENVO_ERR_ENCRYPTED));
        QCOMPARE(results[1].code, int(TENVO_OK));
        QCOMPARE(results[2].code, extracted ? int(TENVO_OK) : int(TENVO_ERR_ENCRYPTED));

        QCOMPARE(prompts.size(), askedFor.size());
        for (qsizetype i = 0; i < askedFor.size(); ++i) {
            // The archive's name, and whether the answer before, for the
            // same archive, was wrong.
            const QString &prompt = prompts[i];
            QVERIFY2(prompt.contains(inLocale("「%1」", "\"%1\"").arg(askedFor[i])), qPrintable(prompt));
            QCOMPARE(prompt.startsWith(inLocale("パスワードが違います", "Wrong password")),
                     i > 0 && askedFor[i - 1] == askedFor[i]);
            QCOMPARE(titles[i], inLocale(QStringLiteral("パスワードの入力"), QStringLiteral("Enter Password")));
        }
        const std::map<QString, QByteArray> secret{{QStringLiteral("secret.txt"), QByteArray::fromStdString(binaryData(50000, 3))}};
        const std::map<QString, QByteArray> expected = extracted ? secret : std::map<QString, QByteArray>();
        QCOMPARE(filesOnDisk(out + QStringLiteral("a")), expected);
        QCOMPARE(filesOnDisk(out + QStringLiteral("c")), expected);
        QCOMPARE(filesOnDisk(out + QStringLiteral("b")),
                 (std::map<QString, QByteArray>{{QStringLiteral("plain.txt"), "plain"}}));
        QFile settings(dir.filePath(QStringLiteral("Tenvo.ini")));
        QVERIFY(!settings.open(QIODevice::ReadOnly) || !QString::fromUtf8(settings.readAll()).contains(u"pass"));
    }

    // A RAR 5 volume set listed by its first and, by hand, its second volume:
    // the set is extracted once, the second volume is listed with its cause.
    void volumeSetThroughTheRun()
    {
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in/"));
        QVERIFY(QDir().mkpath(in) && QDir().mkpath(dir.filePath(QStringLiteral("out"))));
        const std::string data = binaryData(9000, 4);
        const std::vector<std::string> volumes = makeRar5Volumes({FixtureEntry::file("big.bin", data)}, 4096);
        QCOMPARE(volumes.size(), std::size_t(3));
        for (std::size_t i = 0; i < volumes.size(); ++i)
            QVERIFY(writeFixtureFile(in + QStringLiteral("set.part%1.rar").arg(i + 1), volumes[i]));

        const QList<ArchiveResult> results =
            runBatch({in + QStringLiteral("set.part1.rar"), in + QStringLiteral("set.part2.rar")}, dir.path());
        QCOMPARE(results.size(), 2);
        QCOMPARE(results[0].code, int(TENVO_OK));
        QCOMPARE(results[1].code, int(TENVO_ERR_VOLUME));
        QCOMPARE(causeText(results[1]), inLocale(QStringLiteral("分割書庫の先頭ではないか、一部が欠けています"),
                                                 QStringLiteral("Not the first part of a multi-part archive, or a part is missing")));
        QCOMPARE(filesOnDisk(dir.filePath(QStringLiteral("out/set.part1"))),
                 (std::map<QString, QByteArray>{{QStringLiteral("big.bin"), QByteArray::fromStdString(data)}}));
        QCOMPARE(filesOnDisk(dir.filePath(QStringLiteral("out/set.part2"))), (std::map<QString, QByteArray>{}));
    }

    // Archives inside an archive, each extracted beside itself down to three
    // levels; what could not be extracted stays and is told with its cause.
    void nestedArchives_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<Maker>("maker");
        QTest::addColumn<bool>("nested");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<FileContents>("files");
        QTest::addColumn<int>("extracted");
        QTest::addColumn<QStringList>("left");

        const std::string text = "inner text";
        const FixtureEntries leaf{FixtureEntry::file("inner.txt", text)};
        const auto zip = [](const FixtureEntries &entries, const std::string &password = {}) {
            ZipOptions o;
            o.deflate = true;
            o.password = password;
            return makeZip(entries, o);
        };
        const auto lzh = [](const FixtureEntries &entries) { return makeLzh(entries, {}); };
        const std::string inZip = zip(leaf);
        const FixtureEntries zipInZip{FixtureEntry::directory("docs"), FixtureEntry::file("docs/in.zip", inZip),
                                      FixtureEntry::file("top.txt", "top")};
        const QByteArray leafText = QByteArray::fromStdString(text);
        using Files = FileContents;

        QTest::newRow("ZIP in ZIP, the option off: the inner archive stays as it is")
            << "c.zip" << Maker([=] { return zip(zipInZip); }) << false << QStringList()
            << Files{{"c/docs/in.zip", QByteArray::fromStdString(inZip)}, {"c/top.txt", "top"}} << 0 << QStringList();
        QTest::newRow("ZIP in ZIP: extracted beside itself and removed")
            << "c.zip" << Maker([=] { return zip(zipInZip); }) << true << QStringList()
            << Files{{"c/docs/in/inner.txt", leafText}, {"c/top.txt", "top"}} << 1 << QStringList();
        QTest::newRow("ZIP in ZIP whose name is taken by a folder: the next free name")
            << "c.zip"
            << Maker([=] { return zip({FixtureEntry::file("in.zip", inZip), FixtureEntry::file("in/old.txt", "old")}); })
            << true << QStringList() << Files{{"c/in/old.txt", "old"}, {"c/in (2)/inner.txt", leafText}} << 1
            << QStringList();
        QTest::newRow("a link named .zip is never followed")
            << "c.zip"
            << Maker([=] { return zip({FixtureEntry::file("real.zip", inZip), FixtureEntry::symlink("link.zip", "real.zip")}); })
            << true << QStringList() << Files{{"c/real/inner.txt", leafText}} << 1 << QStringList();
        QTest::newRow("a document that is a ZIP inside, and a text named .zip, stay as they are")
            << "c.zip"
            << Maker([=] { return zip({FixtureEntry::file("report.docx", inZip), FixtureEntry::file("notes.zip", "just text")}); })
            << true << QStringList()
            << Files{{"c/report.docx", QByteArray::fromStdString(inZip)}, {"c/notes.zip", "just text"}} << 0
            << QStringList();
        QTest::newRow("LZH in ZIP in 7z: two levels")
            << "e.7z" << Maker([=] { return make7z({FixtureEntry::file("mid.zip", zip({FixtureEntry::file("deep.lzh", lzh(leaf))}))}); })
            << true << QStringList() << Files{{"e/mid/deep/inner.txt", leafText}} << 2 << QStringList();
        QTest::newRow("ZIP in LZH in ZIP in 7z: three levels")
            << "e.7z" << Maker([=] { return make7z({FixtureEntry::file("a.zip", zip({FixtureEntry::file("b.lzh", lzh({FixtureEntry::file("c.zip", inZip)}))}))}); })
            << true << QStringList() << Files{{"e/a/b/c/inner.txt", leafText}} << 3 << QStringList();
        // An archive that holds itself, again and again, ends here too.
        QTest::newRow("a fourth level stays an archive")
            << "e.7z" << Maker([=] { return make7z({FixtureEntry::file("a.zip", zip({FixtureEntry::file("b.lzh", lzh({FixtureEntry::file("c.zip", zip({FixtureEntry::file("d.lzh", lzh(leaf))}))}))}))}); })
            << true << QStringList() << Files{{"e/a/b/c/d.lzh", QByteArray::fromStdString(lzh(leaf))}} << 3 << QStringList();
        ZipOptions damaged;
        damaged.corruptFirstData = true;
        const std::string badZip = makeZip(leaf, damaged);
        QTest::newRow("a damaged inner archive stays, told with its cause; the outer one is extracted")
            << "c.zip"
            << Maker([=] { return zip({FixtureEntry::file("docs/bad.zip", badZip), FixtureEntry::file("good.zip", inZip)}); })
            << true << QStringList()
            << Files{{"c/docs/bad.zip", QByteArray::fromStdString(badZip)}, {"c/good/inner.txt", leafText}} << 1
            << QStringList{inLocale("docs/bad.zip\t書庫ファイルが壊れています", "docs/bad.zip\tThe archive is damaged")};
        const std::string big = binaryData(9000, 4);
        const std::vector<std::string> volumes = makeRar5Volumes({FixtureEntry::file("big.bin", big)}, 4096);
        QTest::newRow("a volume set inside: extracted once from its first volume, every volume removed")
            << "c.zip"
            << Maker([=] { return zip({FixtureEntry::file("set.part1.rar", volumes.at(0)), FixtureEntry::file("set.part2.rar", volumes.at(1)),
                                       FixtureEntry::file("set.part3.rar", volumes.at(2))}); })
            << true << QStringList() << Files{{"c/set.part1/big.bin", QByteArray::fromStdString(big)}} << 1 << QStringList();
        const std::string lockedZip = zip(leaf, "pass 1");
        QTest::newRow("an encrypted inner archive opens with the outer archive's password")
            << "c.zip" << Maker([=] { return zip({FixtureEntry::file("locked.zip", lockedZip)}, "pass 1"); })
            << true << QStringList{"pass 1"} << Files{{"c/locked/inner.txt", leafText}} << 1 << QStringList();
        QTest::newRow("an encrypted inner archive in a plain one stays, and no question is asked")
            << "c.zip" << Maker([=] { return zip({FixtureEntry::file("locked.zip", lockedZip)}); })
            << true << QStringList()
            << Files{{"c/locked.zip", QByteArray::fromStdString(lockedZip)}} << 0
            << QStringList{inLocale("locked.zip\tパスワード付きの書庫です", "locked.zip\tThe archive is password-protected")};
    }

    void nestedArchives()
    {
        QFETCH(QString, fileName);
        QFETCH(Maker, maker);
        QFETCH(bool, nested);
        QFETCH(QStringList, answers);
        QFETCH(FileContents, files);
        QFETCH(int, extracted);
        QFETCH(QStringList, left);

        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in/"));
        const QString out = dir.filePath(QStringLiteral("out/"));
        QVERIFY(QDir().mkpath(in) && QDir().mkpath(out));
        const std::string bytes = maker();
        QVERIFY(!bytes.empty());
        QVERIFY(writeFixtureFile(in + fileName, bytes));

        QStringList prompts;
        const QList<ArchiveResult> results =
            runBatch({in + fileName}, dir.path(), answers, &prompts, nullptr, nested);
        QCOMPARE(results.size(), 1);
        const ArchiveResult &result = results[0];
        QCOMPARE(result.code, int(TENVO_OK));
        QCOMPARE(prompts.size(), answers.size());
        QCOMPARE(filesOnDisk(out), files);
        QCOMPARE(result.nestedExtracted, extracted);
        QCOMPARE(result.nestedLeft, left);
        // A folder made for an inner archive that landed nothing is gone.
        for (const QString &pair : left)
            QVERIFY(!QFileInfo::exists(out + fileName.section(u'.', 0, 0) + u'/' + pair.section(u'.', 0, 0)));
        const QString summary = summaryText(results);
        const QStringList lines = nestedLines(result);
        QCOMPARE(lines.size(), (extracted > 0 ? 1 : 0) + left.size());
        if (extracted > 0)
            QCOMPARE(lines.first(), inLocale(QStringLiteral("　中の書庫ファイル %1 個を解凍しました"),
                                             QStringLiteral("  Inner archives extracted: %1")).arg(extracted));
        for (const QString &pair : left) {
            const QString row = pair.section(u'\t', 0, 0) + QStringLiteral(": ") + pair.section(u'\t', 1);
            QVERIFY2(summary.contains(inLocale(QStringLiteral("中の書庫ファイルは解凍できませんでした\n\n"),
                                               QStringLiteral("Archives inside the following archives could not be extracted\n\n")) + in + fileName
                                      + inLocale(QStringLiteral("\n　"), QStringLiteral("\n  ")) + row),
                     qPrintable(summary));
            QVERIFY(lines.contains(inLocale(QStringLiteral("　中の書庫ファイルを解凍できませんでした: "),
                                            QStringLiteral("  Could not extract an inner archive: ")) + row));
        }
        if (left.isEmpty())
            QVERIFY2(summary.isEmpty(), qPrintable(summary));
    }

    // The job's stop ends an inner archive's call and starts no other; the
    // outer archive, extracted before, lands with its inner archives as
    // they were. The inner ZIP library is a stand-in that waits until
    // stopped.
    void nestedArchivesStopWithTheJob()
    {
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("program"));
        const QString in = dir.filePath(QStringLiteral("in/"));
        const QString out = dir.filePath(QStringLiteral("out/"));
        QVERIFY(QDir().mkpath(program) && QDir().mkpath(in) && QDir().mkpath(out));
        layOutLibraries(program, {QStringLiteral("unlha32.so")});
        QVERIFY(QFile::copy(QStringLiteral(TENVO_FAKES_DIR "/progress/unzip32.so"), program + QStringLiteral("/unzip32.so")));
        const QString log = dir.filePath(QStringLiteral("calls.log"));
        qputenv("TENVO_FAKE_LOG", QFile::encodeName(log));
        qputenv("TENVO_FAKE_GO", QFile::encodeName(dir.filePath(QStringLiteral("go"))));
        const std::string inner = makeZip({FixtureEntry::file("inner.txt", "inner text")});
        QVERIFY(writeFixtureFile(in + QStringLiteral("a.lzh"),
                                 makeLzh({FixtureEntry::file("in-wait.zip", inner), FixtureEntry::file("second.zip", inner)})));

        clsArchive archive;
        archive.setLibraryFolder(program);
        for (const SupportType &row : registrationRows())
            archive.addSupportType(row);
        ExtractOptions options;
        options.destination = out;
        options.nameFolders = true;
        options.nested = true;
        ExtractJob job(archive, {in + QStringLiteral("a.lzh")}, options);
        job.start();
        const auto innerCalls = [&log] {
            QFile file(log);
            if (!file.open(QIODevice::ReadOnly))
                return 0;
            int calls = 0;
            for (const QByteArray &line : file.readAll().split('\n'))
                calls += line.startsWith("UnZip\t") ? 1 : 0;
            return calls;
        };
        QTRY_COMPARE_WITH_TIMEOUT(innerCalls(), 1, 60000);
        job.stop();
        QTRY_VERIFY_WITH_TIMEOUT(job.isFinished(), 60000);
        qunsetenv("TENVO_FAKE_LOG");
        qunsetenv("TENVO_FAKE_GO");

        QCOMPARE(innerCalls(), 1);
        QCOMPARE(job.results().size(), 1);
        const ArchiveResult &result = job.results()[0];
        QCOMPARE(result.code, int(TENVO_OK));
        QCOMPARE(result.nestedExtracted, 0);
        const QString stopped = inLocale(QStringLiteral("\t中止したため解凍していません"),
                                         QStringLiteral("\tNot extracted because the run was stopped"));
        QCOMPARE(result.nestedLeft, (QStringList{"in-wait.zip" + stopped, "second.zip" + stopped}));
        const QByteArray innerBytes = QByteArray::fromStdString(inner);
        QCOMPARE(filesOnDisk(out), (std::map<QString, QByteArray>{{"a/in-wait.zip", innerBytes}, {"a/second.zip", innerBytes}}));
    }

    void damagedArchiveLeavesNoPartialFileAndKeepsExistingOnes_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<Maker>("maker");
        QTest::addColumn<QString>("damagedName");

        const FixtureEntries entries = {FixtureEntry::file("first.txt", binaryData(50000, 3)),
                                        FixtureEntry::file("second.txt", binaryData(50000, 4))};
        QTest::newRow("LZH with a bad CRC") << "a.lzh" << Maker([=] { LzhOptions o; o.badDataCrcEntry = 0; return makeLzh(entries, o); }) << "first.txt";
        QTest::newRow("LZH level 1 with a bad CRC") << "a.lzh" << Maker([=] { LzhOptions o; o.level = 1; o.badDataCrcEntry = 0; return makeLzh(entries, o); }) << "first.txt";
        QTest::newRow("LZH level 0 with a bad CRC") << "a.lzh" << Maker([=] { LzhOptions o; o.level = 0; o.badDataCrcEntry = 0; return makeLzh(entries, o); }) << "first.txt";
        QTest::newRow("LZH cut short") << "a.lzh" << Maker([=] { LzhOptions o; o.truncateInLastData = true; return makeLzh(entries, o); }) << "second.txt";
        QTest::newRow("ZIP with a bad CRC") << "c.zip" << Maker([=] { ZipOptions o; o.corruptFirstData = true; return makeZip(entries, o); }) << "first.txt";
        QTest::newRow("Deflate64 ZIP with a bad CRC") << "c.zip" << Maker([=] { Deflate64ZipOptions o; o.badCrcEntry = 0; return makeDeflate64Zip(entries, o); }) << "first.txt";
        QTest::newRow("RAR 4 with a bad CRC") << "d.rar" << Maker([=] { Rar4Options o; o.badDataCrcEntry = 0; return makeRar4(entries, o); }) << "first.txt";
        QTest::newRow("RAR 4 cut short") << "d.rar" << Maker([=] { Rar4Options o; o.truncateInLastData = true; return makeRar4(entries, o); }) << "second.txt";
        QTest::newRow("RAR 5 with a bad CRC") << "d.rar" << Maker([=] { Rar5Options o; o.badDataCrcEntry = 0; return makeRar5(entries, o); }) << "first.txt";
        QTest::newRow("RAR 5 cut short") << "d.rar" << Maker([=] { Rar5Options o; o.truncateInLastData = true; return makeRar5(entries, o); }) << "second.txt";
    }

    void damagedArchiveLeavesNoPartialFileAndKeepsExistingOnes()
    {
        QFETCH(QString, fileName);
        QFETCH(Maker, maker);
        QFETCH(QString, damagedName);

        QTemporaryDir dir;
        const QString destination = dir.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(destination));
        const QString archivePath = dir.filePath(fileName);
        QVERIFY(writeFixtureFile(archivePath, maker()));
        // Files of the same names already there hold other content.
        for (const char *name : {"first.txt", "second.txt"}) {
            QFile file(destination + u'/' + QLatin1String(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("precious");
        }

        clsArchive archive;
        archive.setLibraryFolder(QStringLiteral(TENVO_BIN_DIR));
        for (const SupportType &row : registrationRows())
            archive.addSupportType(row);
        QString folder = destination;
        QCOMPARE(archive.extract(archivePath, folder), int(TENVO_ERR_DAMAGED));

        // No temporary or partial file is left, the damaged entry's old file
        // is untouched, and the intact entry is either old or complete.
        const auto files = filesOnDisk(destination);
        QCOMPARE(files.size(), std::size_t(2));
        QCOMPARE(files.at(damagedName), QByteArray("precious"));
        const QString intactName = damagedName == u"first.txt" ? QStringLiteral("second.txt") : QStringLiteral("first.txt");
        const QByteArray intact = files.at(intactName);
        QVERIFY(intact == "precious"
                || intact == QByteArray::fromStdString(binaryData(50000, intactName == u"first.txt" ? 3 : 4)));
    }
};


QTEST_MAIN(TestRealExtraction)
#include "tst_realextraction.moc"

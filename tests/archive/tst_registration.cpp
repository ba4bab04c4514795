// Registration of archive types against stand-in libraries, and the filter
// text and type detection that follow from it.
#include "clsarchive.h"
#include "module1.h"
#include "testlocale.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>

namespace {

// Lays out stand-in libraries by file name; "garbage:" files hold no library.
void layOut(const QString &folder, const QStringList &libraries)
{
    for (const QString &library : libraries) {
        if (library.startsWith(u"garbage:")) {
            QFile file(folder + u'/' + library.mid(8));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("this is not a shared library\n");
        } else if (library.startsWith(u"noversion:")) {
            QVERIFY(QFile::copy(QStringLiteral(TENVO_FAKES_DIR "/noversion/") + library.mid(10),
                                folder + u'/' + library.mid(10)));
        } else {
            QVERIFY(QFile::copy(QStringLiteral(TENVO_FAKES_DIR "/") + library, folder + u'/' + library));
        }
    }
}

QStringList readLog(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

// A tar header as V7 wrote it, without the "ustar" mark: only its checksum
// tells it is one; off is added to the stored sum.
QByteArray v7Header(int off = 0)
{
    QByteArray block(512, '\0');
    block.replace(0, 5, "a.txt");
    block.replace(100, 7, "0000644");
    block.replace(124, 11, "00000000003");
    block.replace(148, 8, "        ");
    int sum = 0;
    for (const char c : std::as_const(block))
        sum += static_cast<unsigned char>(c);
    block.replace(148, 8, QByteArray::number(sum + off, 8).rightJustified(6, '0') + '\0' + ' ');
    return block;
}

QStringList typeNames(const QList<SupportType> &types)
{
    QStringList names;
    for (const SupportType &type : types)
        names << type.typeName;
    return names;
}

} // namespace

class TestRegistration : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        for (const char *name : {"TENVO_FAKE_LOG", "TENVO_FAKE_VERSION_SevenZip",
                                 "TENVO_FAKE_VERSION_UnZip", "TENVO_FAKE_CHECK", "TENVO_FAKE_RESULT"})
            qunsetenv(name);
    }

    void registration_data()
    {
        QTest::addColumn<QStringList>("libraries");
        QTest::addColumn<QString>("sevenZipVersion");
        QTest::addColumn<QStringList>("expectedTypes");
        QTest::addColumn<bool>("useSevenZip");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("unzipAsked");

        const QString supported = inLocale(" 対応する形式(", " Supported formats(");
        const QString all = supported + QStringLiteral(
            "*.LZH,*.LHA,*.CAB,*.ZIP,*.RAR)| *.LZH;*.LHA;*.CAB;*.ZIP;*.RAR;| LHA (*.LZH,*.LHA) | *.LZH;*.LHA| "
            "CAB (*.CAB) | *.CAB| ZIP (*.ZIP) | *.ZIP| RAR (*.RAR) | *.RAR| ");
        const QString zipOnly = supported + QStringLiteral("*.ZIP)| *.ZIP;| ZIP (*.ZIP) | *.ZIP| ");
        const QString zipAnd7z = supported + QStringLiteral(
            "*.ZIP,*.7Z)| *.ZIP;*.7Z;| ZIP (*.ZIP) | *.ZIP| 7Z (*.7Z) | *.7Z| ");
        const QString none = inLocale("対応する形式はありません", "No supported formats") + QStringLiteral("|*.nohavedllfiles");

        QTest::newRow("no library at all") << QStringList{} << "" << QStringList{""} << false << none << false;
        QTest::newRow("all four libraries")
            << QStringList{"unlha32.so", "cab32.so", "unzip32.so", "unrar32.so"} << ""
            << QStringList{"LHA", "CAB", "ZIP", "RAR"} << false << all << true;
        QTest::newRow("all five libraries: 7z comes after the four, served by 7-zip32")
            << QStringList{"unlha32.so", "cab32.so", "unzip32.so", "unrar32.so", "7-zip32.so"} << ""
            << QStringList{"LHA", "CAB", "ZIP", "RAR", "7Z"} << true
            << supported + QStringLiteral("*.LZH,*.LHA,*.CAB,*.ZIP,*.RAR,*.7Z)| *.LZH;*.LHA;*.CAB;*.ZIP;*.RAR;*.7Z;| "
                              "LHA (*.LZH,*.LHA) | *.LZH;*.LHA| CAB (*.CAB) | *.CAB| ZIP (*.ZIP) | *.ZIP| "
                              "RAR (*.RAR) | *.RAR| 7Z (*.7Z) | *.7Z| ")
            << false;
        QTest::newRow("all six libraries: TAR comes after 7Z, with the tar family's extensions")
            << QStringList{"unlha32.so", "cab32.so", "unzip32.so", "unrar32.so", "7-zip32.so", "tar32.so"}
            << "" << QStringList{"LHA", "CAB", "ZIP", "RAR", "7Z", "TAR"} << true
            << supported + QStringLiteral("*.LZH,*.LHA,*.CAB,*.ZIP,*.RAR,*.7Z,*.TAR,*.TGZ,*.TBZ2,*.TXZ,*.TZST,"
                              "*.GZ,*.BZ2,*.XZ,*.ZST)| *.LZH;*.LHA;*.CAB;*.ZIP;*.RAR;*.7Z;*.TAR;*.TGZ;*.TBZ2;*.TXZ;"
                              "*.TZST;*.GZ;*.BZ2;*.XZ;*.ZST;| "
                              "LHA (*.LZH,*.LHA) | *.LZH;*.LHA| CAB (*.CAB) | *.CAB| ZIP (*.ZIP) | *.ZIP| "
                              "RAR (*.RAR) | *.RAR| 7Z (*.7Z) | *.7Z| TAR (*.TAR,*.TGZ,*.TBZ2,*.TXZ,*.TZST,"
                              "*.GZ,*.BZ2,*.XZ,*.ZST) | *.TAR;*.TGZ;*.TBZ2;*.TXZ;*.TZST;*.GZ;*.BZ2;*.XZ;*.ZST| ")
            << false;
        QTest::newRow("only tar32") << QStringList{"tar32.so"} << "" << QStringList{"TAR"} << false
            << supported + QStringLiteral("*.TAR,*.TGZ,*.TBZ2,*.TXZ,*.TZST,*.GZ,*.BZ2,*.XZ,*.ZST)| "
                              "*.TAR;*.TGZ;*.TBZ2;*.TXZ;*.TZST;*.GZ;*.BZ2;*.XZ;*.ZST;| TAR (*.TAR,*.TGZ,*.TBZ2,"
                              "*.TXZ,*.TZST,*.GZ,*.BZ2,*.XZ,*.ZST) | *.TAR;*.TGZ;*.TBZ2;*.TXZ;*.TZST;*.GZ;*.BZ2;"
                              "*.XZ;*.ZST| ")
            << false;
        QTest::newRow("only cab32 and unrar32")
            << QStringList{"cab32.so", "unrar32.so"} << "" << QStringList{"CAB", "RAR"} << false
            << supported + QStringLiteral("*.CAB,*.RAR)| *.CAB;*.RAR;| CAB (*.CAB) | *.CAB| "
                              "RAR (*.RAR) | *.RAR| ")
            << false;
        QTest::newRow("unlha32 and unrar32")
            << QStringList{"unlha32.so", "unrar32.so"} << "" << QStringList{"LHA", "RAR"} << false
            << supported + QStringLiteral("*.LZH,*.LHA,*.RAR)| *.LZH;*.LHA;*.RAR;| LHA (*.LZH,*.LHA) | *.LZH;*.LHA| "
                              "RAR (*.RAR) | *.RAR| ")
            << false;
        QTest::newRow("only unzip32") << QStringList{"unzip32.so"} << "" << QStringList{"ZIP"} << false
                                      << zipOnly << true;
        QTest::newRow("only 7-zip32 serves ZIP and 7z")
            << QStringList{"7-zip32.so"} << "" << QStringList{"ZIP", "7Z"} << true << zipAnd7z << false;
        QTest::newRow("7-zip32 answers first and unzip32 is never asked")
            << QStringList{"unzip32.so", "7-zip32.so"} << "12" << QStringList{"ZIP", "7Z"} << true
            << zipAnd7z << false;
        QTest::newRow("7-zip32 answering 0 with unzip32 missing registers only 7z")
            << QStringList{"7-zip32.so"} << "0" << QStringList{"7Z"} << false
            << supported + QStringLiteral("*.7Z)| *.7Z;| 7Z (*.7Z) | *.7Z| ") << false;
        QTest::newRow("7-zip32 answering 0 falls back to unzip32")
            << QStringList{"7-zip32.so", "unzip32.so"} << "0" << QStringList{"ZIP", "7Z"} << false
            << zipAnd7z << true;
        QTest::newRow("7-zip32 answering a negative number still serves ZIP")
            << QStringList{"7-zip32.so", "unzip32.so"} << "-5" << QStringList{"ZIP", "7Z"} << true
            << zipAnd7z << false;
        QTest::newRow("a library file that cannot be loaded is registered")
            << QStringList{"garbage:unlha32.so"} << "" << QStringList{"LHA"} << false
            << supported + QStringLiteral("*.LZH,*.LHA)| *.LZH;*.LHA;| LHA (*.LZH,*.LHA) | *.LZH;*.LHA| ") << false;
        QTest::newRow("a library lacking its version call is registered")
            << QStringList{"noversion:cab32.so", "unrar32.so"} << "" << QStringList{"CAB", "RAR"} << false
            << supported + QStringLiteral("*.CAB,*.RAR)| *.CAB;*.RAR;| CAB (*.CAB) | *.CAB| "
                              "RAR (*.RAR) | *.RAR| ")
            << false;
    }

    void registration()
    {
        QFETCH(QStringList, libraries);
        QFETCH(QString, sevenZipVersion);
        QFETCH(QStringList, expectedTypes);
        QFETCH(bool, useSevenZip);
        QFETCH(QString, filter);
        QFETCH(bool, unzipAsked);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        layOut(dir.path(), libraries);
        const QString log = dir.filePath(QStringLiteral("calls.log"));
        qputenv("TENVO_FAKE_LOG", QFile::encodeName(log));
        if (!sevenZipVersion.isEmpty())
            qputenv("TENVO_FAKE_VERSION_SevenZip", sevenZipVersion.toLatin1());

        clsArchive archive;
        archive.setLibraryFolder(dir.path());
        for (const SupportType &row : registrationRows())
            archive.addSupportType(row);

        // Only the libraries that decide who serves ZIP are loaded; the
        // others wait for their first call.
        for (const char *name : {"unlha32.so", "cab32.so", "unrar32.so", "tar32.so"})
            QVERIFY2(!::dlopen(QFile::encodeName(dir.filePath(QLatin1String(name))).constData(), RTLD_LAZY | RTLD_NOLOAD),
                     name);

        QList<SupportType> types;
        archive.getSupportTypes(types);
        QCOMPARE(typeNames(types), expectedTypes);
        QCOMPARE(archive.useSevenZipForZip(), useSevenZip);
        QCOMPARE(buildFilter(types), filter);
        for (const SupportType &type : std::as_const(types)) {
            if (type.typeName == u"ZIP")
                QCOMPARE(type.dllName, QStringLiteral("unzip32.dll"));
        }
        QCOMPARE(readLog(log).contains(QStringLiteral("UnZipGetVersion")), unzipAsked);
    }

    void getLibVersionAnswers()
    {
        QTemporaryDir dir;
        layOut(dir.path(), {"unlha32.so", "garbage:cab32.so"});
        const QString log = dir.filePath(QStringLiteral("calls.log"));
        qputenv("TENVO_FAKE_LOG", QFile::encodeName(log));
        qputenv("TENVO_FAKE_VERSION_Unlha", "213");

        clsArchive archive;
        archive.setLibraryFolder(dir.path());
        QCOMPARE(archive.getLibVersion(QStringLiteral("LHA")), 213);
        QCOMPARE(archive.getLibVersion(QStringLiteral("CAB")), 0);
        QCOMPARE(archive.getLibVersion(QStringLiteral("RAR")), -1);
        QCOMPARE(archive.getLibVersion(QStringLiteral("ZIP")), -1);
        QCOMPARE(archive.useSevenZipForZip(), false);
        const qsizetype callsBefore = readLog(log).size();
        QCOMPARE(archive.getLibVersion(QStringLiteral("TAR")), -1);
        QCOMPARE(archive.getLibVersion(QStringLiteral("TGZ")), 0);
        QCOMPARE(archive.getLibVersion(QStringLiteral("lha")), 0);
        QCOMPARE(readLog(log).size(), callsBefore);
        qunsetenv("TENVO_FAKE_VERSION_Unlha");
    }

    void isSupportFile_data()
    {
        QTest::addColumn<bool>("allLibraries");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("content"); // written to path in a folder of the test's own when given
        QTest::addColumn<int>("index");

        const QByteArray none;
        QTest::newRow("nothing registered, an LZH path") << false << "/a/b.lzh" << none << -2;
        QTest::newRow("nothing registered, a path ending in a dot") << false << "/a/b." << none << 0;
        QTest::newRow("LZH in lower case") << true << "/x/a.lzh" << none << 0;
        QTest::newRow("ZIP in mixed case") << true << "/x/B.Zip" << none << 2;
        QTest::newRow("RAR followed by one blank") << true << "/x/c.rar " << none << 3;
        QTest::newRow("CAB without a folder") << true << "d.cab" << none << 1;
        QTest::newRow("the last dot counts") << true << "a.tar.lzh" << none << 0;
        QTest::newRow("tar.gz is TAR by its last suffix") << true << "e.tar.gz" << none << 5;
        QTest::newRow("tgz, tbz2 and txz name TAR") << true << "/x/a.TGZ" << none << 5;
        QTest::newRow("a single compressed file .zst is TAR") << true << "/x/log.zst" << none << 5;
        QTest::newRow("tar.gz without its library") << false << "e.tar.gz" << none << -2;
        QTest::newRow("txt is not registered") << true << "f.txt" << none << -2;
        QTest::newRow("no dot at all") << true << "g" << none << -2;
        QTest::newRow("a dot in a folder name") << true << "/dir.old/readme" << none << -2;
        QTest::newRow("a dot in a folder name that looks like a type") << true << "/x.zip/readme" << none << -2;
        QTest::newRow("7z after the four") << true << "/x/a.7z" << none << 4;
        QTest::newRow("LHA names LZH") << true << "/x/a.lha" << none << 0;
        QTest::newRow("LHA in upper case") << true << "/x/B.LHA" << none << 0;
        QTest::newRow("LHA without its library") << false << "/x/a.lha" << none << -2;
        const QByteArray zip("PK\x03\x04\x14\0\0\0", 8);
        QTest::newRow("a ZIP saved without extension is known by its content") << true << "zipped" << zip << 2;
        QTest::newRow("a ZIP named .rar is known by its content") << true << "a.rar" << zip << 2;
        QTest::newRow("an empty ZIP named .txt") << true << "b.txt" << QByteArray("PK\x05\x06\0\0\0\0", 8) << 2;
        QTest::newRow("an LZH without extension") << true << "lzh" << QByteArray("\x24\x8A-lh5-\x10\0") << 0;
        QTest::newRow("an LZH of header level 2 named .zip") << true << "c.zip" << QByteArray("\x2B\0-lh0-\x10\0", 9) << 0;
        QTest::newRow("a cabinet named .dat") << true << "d.dat" << QByteArray("MSCF\0\0\0\0\x40", 9) << 1;
        QTest::newRow("a RAR 5 set saved without extension") << true << "part"
            << QByteArray("Rar!\x1A\x07\x01\0", 8) << 3;
        QTest::newRow("a 7z named .7z.bak") << true << "e.7z.bak" << QByteArray("7z\xBC\xAF\x27\x1C\0\x04", 8) << 4;
        QTest::newRow("a 7z named .zip stays ZIP, served by the 7-Zip library")
            << true << "f.zip" << QByteArray("7z\xBC\xAF\x27\x1C\0\x04", 8) << 2;
        QTest::newRow("text named .zip goes by its name") << true << "g.zip" << QByteArray("notes\n") << 2;
        QTest::newRow("text without extension is no archive") << true << "notes" << QByteArray("PK notes\n") << -2;
        QTest::newRow("a gzip stream named .dat is TAR by its content") << true << "g.dat"
                                                                        << QByteArray("\x1F\x8B\x08\0\0\0\0\0") << 5;
        QTest::newRow("an xz stream named .zip is TAR by its content") << true << "x.zip"
                                                                       << QByteArray("\xFD" "7zXZ\0\0\x04", 8) << 5;
        QTest::newRow("a bzip2 stream without extension") << true << "bz" << QByteArray("BZh91AY&SY") << 5;
        QTest::newRow("a zstd frame named .rar") << true << "z.rar" << QByteArray("\x28\xB5\x2F\xFD\x04\0") << 5;
        QTest::newRow("a ustar header without extension") << true << "t"
                                                          << QByteArray("a.txt").leftJustified(257, '\0') + QByteArray("ustar\0", 6) + QByteArray(249, '\0') << 5;
        QTest::newRow("a V7 tar header whose checksum adds up") << true << "v7" << v7Header() << 5;
        QTest::newRow("the same header with a wrong checksum goes by its name") << true << "v7.zip"
                                                                                << v7Header(1) << 2;
        QTest::newRow("text named .gz goes by its name") << true << "h.gz" << QByteArray("notes\n") << 5;
        QTest::newRow("a ZIP with no library for it goes by its name") << false << "h.lzh" << zip << -2;
    }

    void isSupportFile()
    {
        QFETCH(bool, allLibraries);
        QFETCH(QString, path);
        QFETCH(QByteArray, content);
        QFETCH(int, index);

        QTemporaryDir dir;
        if (allLibraries)
            layOut(dir.path(), {"unlha32.so", "cab32.so", "unzip32.so", "unrar32.so", "7-zip32.so", "tar32.so"});
        if (!content.isEmpty()) {
            path = dir.filePath(path);
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        clsArchive archive;
        archive.setLibraryFolder(dir.path());
        for (const SupportType &row : registrationRows())
            archive.addSupportType(row);
        QCOMPARE(archive.isSupportFile(path), index);
    }
};

QTEST_GUILESS_MAIN(TestRegistration)
#include "tst_registration.moc"

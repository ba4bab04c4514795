// The command line each archiver library receives, recorded by stand-ins.
#include "clsarchive.h"
#include "module1.h"
#include "nameencoding.h"
#include "shortenednames.h"
#include "nativepath.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList readLog(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return pathFromNative(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

class TestCommandLines : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_log;

    // All five stand-ins laid out; 7-Zip answers its version call only when
    // it is to serve ZIP.
    std::unique_ptr<clsArchive> makeArchive(bool sevenZip)
    {
        qputenv("TENVO_FAKE_VERSION_SevenZip", sevenZip ? "9" : "0");
        auto archive = std::make_unique<clsArchive>();
        archive->setLibraryFolder(m_dir.path());
        for (const SupportType &row : registrationRows())
            archive->addSupportType(row);
        QFile::remove(m_log);
        return archive;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        for (const char *name : {"unlha32.so", "cab32.so", "unzip32.so", "7-zip32.so", "unrar32.so"})
            QVERIFY(QFile::copy(QStringLiteral(TENVO_FAKES_DIR "/") + QLatin1String(name),
                                m_dir.filePath(QLatin1String(name))));
        m_log = m_dir.filePath(QStringLiteral("calls.log"));
        qputenv("TENVO_FAKE_LOG", QFile::encodeName(m_log));
    }

    void extract_data()
    {
        QTest::addColumn<bool>("sevenZip");
        QTest::addColumn<bool>("restore");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expectedCall");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("encoding");

        QTest::newRow("LHA, restored, destination without trailing slash")
            << false << true << "/data/a.lzh" << "/out" << "Unlha\tx \"/data/a.lzh\" \"/out/\"" << QString() << QString();
        QTest::newRow("LHA, flattened, destination with trailing slash")
            << false << false << "/data/a.lzh" << "/out/" << "Unlha\te \"/data/a.lzh\" \"/out/\"" << QString() << QString();
        QTest::newRow("ZIP through unzip32, restored")
            << false << true << "/data/B.Zip" << "/out" << "UnZip\t-x \"/data/B.Zip\" \"/out/\"" << QString() << QString();
        QTest::newRow("ZIP through unzip32, flattened")
            << false << false << "/data/b.zip" << "/out/" << "UnZip\t-x -j \"/data/b.zip\" \"/out/\"" << QString() << QString();
        QTest::newRow("ZIP through 7-zip32, restored")
            << true << true << "/data/b.zip" << "/out" << "SevenZip\tx \"/data/b.zip\" \"/out/\"" << QString() << QString();
        QTest::newRow("ZIP through 7-zip32, flattened")
            << true << false << "/data/b.zip" << "/out/" << "SevenZip\te \"/data/b.zip\" \"/out/\"" << QString() << QString();
        QTest::newRow("7z, restored")
            << false << true << "/data/e.7z" << "/out" << "SevenZip\tx \"/data/e.7z\" \"/out/\"" << QString() << QString();
        QTest::newRow("7z, flattened")
            << false << false << "/data/E.7Z" << "/out/" << "SevenZip\te \"/data/E.7Z\" \"/out/\"" << QString() << QString();
        QTest::newRow("CAB, restored")
            << false << true << "/data/d.cab" << "/out" << "Cab\t-x \"/data/d.cab\" \"/out/\"" << QString() << QString();
        QTest::newRow("CAB, flattened")
            << false << false << "/data/d.cab" << "/out" << "Cab\t-x -j \"/data/d.cab\" \"/out/\"" << QString() << QString();
        QTest::newRow("RAR, restored, gets the double separator")
            << false << true << "/data/c.rar" << "/out" << "Unrar\t-x \"/data/c.rar\" \"/out//\"" << QString() << QString();
        QTest::newRow("RAR, flattened, still restores")
            << false << false << "/data/c.rar" << "/out/" << "Unrar\t-x \"/data/c.rar\" \"/out//\"" << QString() << QString();
        QTest::newRow("the last dot decides: a.tar.lzh is LHA")
            << false << true << "/data/a.tar.lzh" << "/out" << "Unlha\tx \"/data/a.tar.lzh\" \"/out/\"" << QString() << QString();
        QTest::newRow("paths with spaces and Japanese text")
            << false << true << "/my data/書庫 1.lzh" << "/解凍 先" << "Unlha\tx \"/my data/書庫 1.lzh\" \"/解凍 先/\"" << QString() << QString();
        QTest::newRow("a double quote in a path is written twice")
            << false << true << "/data/say \"hi\".lzh" << "/o\"ut"
            << "Unlha\tx \"/data/say \"\"hi\"\".lzh\" \"/o\"\"ut/\"" << QString() << QString();
        QTest::newRow("a backslash in a path passes unchanged")
            << false << false << "/data/a\\b.cab" << "/out\\" << "Cab\t-x -j \"/data/a\\b.cab\" \"/out\\/\"" << QString() << QString();
        const QString cp932 = pathFromNative("/data/\x83\\.lzh");
        const QString latin1 = pathFromNative("/caf\xe9");
        QTest::newRow("a name and a destination not in UTF-8 go as their own bytes")
            << false << true << cp932 << latin1 << "Unlha\tx \"" + cp932 + "\" \"" + latin1 + "/\"" << QString() << QString();
        QTest::newRow("the root as destination")
            << false << true << "/data/a.lzh" << "/" << "Unlha\tx \"/data/a.lzh\" \"/\"" << QString() << QString();

        // A chosen name encoding follows the switch, before any password.
        QTest::newRow("LHA, names read as EUC-JP")
            << false << true << "/data/a.lzh" << "/out" << "Unlha\tx --names=EUC-JP \"/data/a.lzh\" \"/out/\""
            << QString() << "EUC-JP";
        QTest::newRow("ZIP through unzip32 with a password, names read as Shift_JIS")
            << false << false << "/data/b.zip" << "/out"
            << "UnZip\t-x -j --names=Shift_JIS \"-ps\"\"e\" \"/data/b.zip\" \"/out/\"" << "s\"e" << "Shift_JIS";
        QTest::newRow("ZIP through 7-zip32, names read as GBK")
            << true << true << "/data/b.zip" << "/out/" << "SevenZip\tx --names=GBK \"/data/b.zip\" \"/out/\""
            << QString() << "GBK";
        QTest::newRow("RAR, names read as Big5")
            << false << true << "/data/c.rar" << "/out" << "Unrar\t-x --names=Big5 \"/data/c.rar\" \"/out//\""
            << QString() << "Big5";
        QTest::newRow("CAB, names read as CP437")
            << false << false << "/data/d.cab" << "/out" << "Cab\t-x -j --names=CP437 \"/data/d.cab\" \"/out/\""
            << QString() << "CP437";
    }

    void extract()
    {
        QFETCH(bool, sevenZip);
        QFETCH(bool, restore);
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QFETCH(QString, expectedCall);
        QFETCH(QString, password);
        QFETCH(QString, encoding);

        auto archive = makeArchive(sevenZip);
        archive->setRestoreFolder(restore);
        qputenv("TENVO_FAKE_RESULT", "6");
        QString destination = folder;
        if (password.isNull() && encoding.isNull())
            QCOMPARE(archive->extract(path, destination), 6);
        else
            QCOMPARE(archive->extract(path, destination, password, encoding), 6);
        qunsetenv("TENVO_FAKE_RESULT");
        QCOMPARE(destination, folder.endsWith(u'/') ? folder : folder + u'/');
        const QStringList calls = readLog(m_log);
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls[0], expectedCall + QStringLiteral("\twindow=(nil) output=(nil) size=0"));
    }

    void nameEncodingTypedByAUser_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("known");
        QTest::addColumn<QString>("canonical");

        QTest::newRow("the name itself") << "EUC-JP" << true << "EUC-JP";
        QTest::newRow("Windows' name for Shift_JIS") << "cp932" << true << "Shift_JIS";
        QTest::newRow("the short name") << "sjis" << true << "Shift_JIS";
        QTest::newRow("a hyphen for the underscore, upper case") << "SHIFT-JIS" << true << "Shift_JIS";
        QTest::newRow("UTF-8 without its hyphen") << "utf8" << true << "UTF-8";
        QTest::newRow("EUC-JP in lower case without its hyphen") << "eucjp" << true << "EUC-JP";
        QTest::newRow("GB2312 is read as GBK") << "gb2312" << true << "GBK";
        QTest::newRow("Windows' name for Big5") << "CP950" << true << "Big5";
        QTest::newRow("Windows' name for EUC-KR") << "cp949" << true << "EUC-KR";
        QTest::newRow("the DOS code page") << "ibm437" << true << "CP437";
        QTest::newRow("automatic") << "auto" << true << "";
        QTest::newRow("automatic, as the menu says it") << "自動" << true << "";
        QTest::newRow("an encoding not offered") << "koi8-r" << false << "";
        QTest::newRow("a word that is no encoding") << "japanese" << false << "";
    }

    void nameEncodingTypedByAUser()
    {
        QFETCH(QString, typed);
        QFETCH(bool, known);
        QFETCH(QString, canonical);

        const std::optional<QString> found = canonicalNameEncoding(typed);
        QCOMPARE(found.has_value(), known);
        if (known) {
            QCOMPARE(*found, canonical);
            QVERIFY(canonical.isEmpty() || nameEncodingChoices().contains(canonical));
        }
    }

    void unsupportedFileCallsNoLibrary_data()
    {
        QTest::addColumn<bool>("registered");
        QTest::addColumn<QString>("path");
        QTest::newRow("an unregistered extension") << true << "/data/a.txt";
        QTest::newRow("no extension") << true << "/data/README";
        QTest::newRow("nothing registered, a path ending in a dot") << false << "/data/odd.";
    }

    void unsupportedFileCallsNoLibrary()
    {
        QFETCH(bool, registered);
        QFETCH(QString, path);

        std::unique_ptr<clsArchive> archive;
        if (registered) {
            archive = makeArchive(false);
        } else {
            archive = std::make_unique<clsArchive>();
            QFile::remove(m_log);
        }
        QString folder = QStringLiteral("/out");
        QCOMPARE(archive->extract(path, folder), -2);
        QCOMPARE(folder, QStringLiteral("/out"));
        QCOMPARE(archive->checkArchive(path), false);
        QVERIFY(readLog(m_log).isEmpty());
    }

    void checkArchive_data()
    {
        QTest::addColumn<bool>("sevenZip");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("expectedCall");

        QTest::newRow("LHA accepted") << false << "/d/a.lzh" << "1" << true << "UnlhaCheckArchive\t/d/a.lzh\t0";
        QTest::newRow("CAB refused") << false << "/d/a.cab" << "0" << false << "CabCheckArchive\t/d/a.cab\t0";
        QTest::newRow("any non-zero answer accepts") << false << "/d/a.rar" << "-7" << true
                                                     << "UnrarCheckArchive\t/d/a.rar\t0";
        QTest::newRow("ZIP through unzip32") << false << "/d/a.zip" << "1" << true << "UnZipCheckArchive\t/d/a.zip\t0";
        QTest::newRow("ZIP through 7-zip32, never unzip32")
            << true << "/d/a.zip" << "1" << true << "SevenZipCheckArchive\t/d/a.zip\t0";
        const QString cp932 = pathFromNative("/d/\x83\\.lzh");
        QTest::newRow("a name not in UTF-8 is asked about by its own bytes")
            << false << cp932 << "1" << true << "UnlhaCheckArchive\t" + cp932 + "\t0";
    }

    void checkArchive()
    {
        QFETCH(bool, sevenZip);
        QFETCH(QString, path);
        QFETCH(QString, answer);
        QFETCH(bool, accepted);
        QFETCH(QString, expectedCall);

        auto archive = makeArchive(sevenZip);
        qputenv("TENVO_FAKE_CHECK", answer.toLatin1());
        QCOMPARE(archive->checkArchive(path), accepted);
        qunsetenv("TENVO_FAKE_CHECK");
        QCOMPARE(readLog(m_log), QStringList{expectedCall});
    }

    void shortenedNamesFromOutput_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("names"); // "stored -> landed"

        QTest::newRow("message alone") << QByteArray("3 entries extracted") << 0 << QStringList();
        QTest::newRow("a file and a folder")
            << QByteArray("3 entries extracted\nshortened\t2\nshortened\tlong.txt\tlo.txt\n"
                          "shortened\tdir/\xe8\xa1\xa8\xe8\xa1\xa8\tdir/\xe8\xa1\xa8\n")
            << 2 << QStringList{"long.txt -> lo.txt", QStringLiteral("dir/表表 -> dir/表")};
        QTest::newRow("buffer cut inside a line: whole lines only, the count kept")
            << QByteArray("damaged data: x\nshortened\t3\nshortened\ta\tb\nshortened\tc\t")
            << 3 << QStringList{"a -> b"};
        QTest::newRow("a message line that looks like a list line is the message")
            << QByteArray("shortened\tx\ty\n") << 0 << QStringList();
    }

    void shortenedNamesFromOutput()
    {
        QFETCH(QByteArray, output);
        QFETCH(int, count);
        QFETCH(QStringList, names);

        const ShortenedNames got = shortenedNames(output);
        QCOMPARE(got.count, count);
        QStringList gotNames;
        for (const ShortenedName &name : got.names)
            gotNames << name.stored + QStringLiteral(" -> ") + name.landed;
        QCOMPARE(gotNames, names);
    }

    void unloadableLibraryGivesAFailureNotACrash()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("cab32.so")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a library");
        file.close();

        clsArchive archive;
        archive.setLibraryFolder(dir.path());
        archive.addSupportType({QStringLiteral("CAB"), QStringLiteral("CAB"), QStringLiteral("cab32.dll")});
        QString folder = QStringLiteral("/out");
        QCOMPARE(archive.extract(QStringLiteral("/d/x.cab"), folder), ArchiverLibrary::libraryUnavailable);
        QCOMPARE(archive.checkArchive(QStringLiteral("/d/x.cab")), false);
    }
};

QTEST_GUILESS_MAIN(TestCommandLines)
#include "tst_commandlines.moc"

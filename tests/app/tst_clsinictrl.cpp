// The settings file's rules, checked against files on disk.
#include "clsinictrl.h"
#include "module1.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

class TestIniCtrl : public QObject
{
    Q_OBJECT

private slots:
    void withoutFileNothingIsReadOrWritten()
    {
        QTemporaryDir dir;
        QVERIFY(QDir::setCurrent(dir.path()));
        clsINICtrl ini;
        QCOMPARE(ini.getLong(QStringLiteral("Tenvo"), QStringLiteral("Top")), 0);
        QCOMPARE(ini.getBool(QStringLiteral("Option"), QStringLiteral("CloseDialog")), false);
        QCOMPARE(ini.getString(QStringLiteral("Tenvo"), QStringLiteral("Top")), QString());
        ini.setLong(QStringLiteral("Tenvo"), QStringLiteral("Top"), 5);
        ini.setFile(QString());
        ini.setString(QStringLiteral("Tenvo"), QStringLiteral("Top"), QStringLiteral("5"));
        ini.setBool(QStringLiteral("Option"), QStringLiteral("CloseDialog"), true);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    void reading_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("flag");

        const QByteArray options = "[Option]\nMakeNameFolder=1\nRestoreFolder=-1\nDeleteFromList=5\n"
                                   "CloseDialog=0\nEmpty=\n";
        QTest::newRow("one reads as true") << options << "Option" << "MakeNameFolder" << "1" << 1 << true;
        QTest::newRow("minus one reads as true") << options << "Option" << "RestoreFolder" << "-1" << -1 << true;
        QTest::newRow("five reads as true") << options << "Option" << "DeleteFromList" << "5" << 5 << true;
        QTest::newRow("zero reads as false") << options << "Option" << "CloseDialog" << "0" << 0 << false;
        QTest::newRow("an empty value reads as zero") << options << "Option" << "Empty" << "" << 0 << false;
        QTest::newRow("a missing key reads as zero") << options << "Option" << "Nothing" << "" << 0 << false;
        QTest::newRow("a missing section reads as zero") << options << "Tenvo" << "Top" << "" << 0 << false;
        QTest::newRow("section name in upper case") << options << "OPTION" << "MakeNameFolder" << "1" << 1 << true;
        QTest::newRow("section and key in lower case") << options << "option" << "makenamefolder" << "1" << 1 << true;
        QTest::newRow("blanks around names and values")
            << QByteArray("  [ Tenvo ]  \r\n  Width =  640  \r\n") << "Tenvo" << "Width" << "640" << 640 << true;
        QTest::newRow("a key of another section is not read")
            << QByteArray("[A]\nTop=1\n[Tenvo]\nLeft=2\n") << "Tenvo" << "Top" << "" << 0 << false;
        QTest::newRow("hand-edited letters read as zero")
            << QByteArray("[Tenvo]\nTop=abc\n") << "Tenvo" << "Top" << "abc" << 0 << false;
        QTest::newRow("a fraction reads as zero")
            << QByteArray("[Tenvo]\nTop=3.5\n") << "Tenvo" << "Top" << "3.5" << 0 << false;
        QTest::newRow("digits followed by letters read as zero")
            << QByteArray("[Tenvo]\nTop=12px\n") << "Tenvo" << "Top" << "12px" << 0 << false;
        QTest::newRow("a number beyond 32 bits is clamped up")
            << QByteArray("[Tenvo]\nTop=99999999999999999999\n") << "Tenvo" << "Top"
            << "99999999999999999999" << 2147483647 << true;
        QTest::newRow("a negative number beyond 32 bits is clamped down")
            << QByteArray("[Tenvo]\nTop=-2147483649\n") << "Tenvo" << "Top" << "-2147483649"
            << int(-2147483647 - 1) << true;
        QTest::newRow("the smallest 32-bit number is kept")
            << QByteArray("[Tenvo]\nTop=-2147483648\n") << "Tenvo" << "Top" << "-2147483648"
            << int(-2147483647 - 1) << true;
        QTest::newRow("UTF-8 text after a byte-order mark")
            << QByteArray("\xEF\xBB\xBF[Tenvo]\nName=解凍\n") << "Tenvo" << "Name" << "解凍" << 0 << false;
        QTest::newRow("a doubled byte-order mark")
            << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF[S]\r\nK=4\r\n") << "S" << "K" << "4" << 4 << true;
        QTest::newRow("enclosing double quotes are dropped")
            << QByteArray("[Tenvo]\nName=\"a b\"\n") << "Tenvo" << "Name" << "a b" << 0 << false;
    }

    void reading()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, text);
        QFETCH(int, number);
        QFETCH(bool, flag);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tenvo.ini"));
        writeAll(path, content);
        clsINICtrl ini;
        ini.setFile(path);
        QCOMPARE(ini.getString(section, key), text);
        QCOMPARE(ini.getLong(section, key), number);
        QCOMPARE(ini.getBool(section, key), flag);
        QCOMPARE(readAll(path), content);
    }

    void longValuesAreCutTo255Bytes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tenvo.ini"));
        writeAll(path, "[S]\nLong=" + QByteArray(300, 'x') + "\nWide=" + QByteArray("a") + QString(100, u'解').toUtf8() + "\n");
        clsINICtrl ini;
        ini.setFile(path);
        QCOMPARE(ini.getString(QStringLiteral("S"), QStringLiteral("Long")), QString(255, u'x'));
        // 1 + 84 * 3 = 253 bytes fit; the 85th character would be cut in two.
        QCOMPARE(ini.getString(QStringLiteral("S"), QStringLiteral("Wide")), u'a' + QString(84, u'解'));
    }

    void writing_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("a new file gets the one section and key")
            << QByteArray() << "Tenvo" << "Top" << 100 << QByteArray("[Tenvo]\nTop=100\n");
        QTest::newRow("a negative number has no blank")
            << QByteArray() << "Tenvo" << "Left" << -8 << QByteArray("[Tenvo]\nLeft=-8\n");
        QTest::newRow("a value is replaced in place")
            << QByteArray("[Tenvo]\nTop=1\nLeft=2\n") << "Tenvo" << "Top" << 640
            << QByteArray("[Tenvo]\nTop=640\nLeft=2\n");
        QTest::newRow("names match without regard to case")
            << QByteArray("[OPTION]\nMAKENAMEFOLDER=0\n") << "Option" << "MakeNameFolder" << 1
            << QByteArray("[OPTION]\nMakeNameFolder=1\n");
        QTest::newRow("a new key goes to the end of its section")
            << QByteArray("[Option]\nA=1\n\n[Tenvo]\nTop=1\n") << "Option" << "B" << 0
            << QByteArray("[Option]\nA=1\nB=0\n\n[Tenvo]\nTop=1\n");
        QTest::newRow("a new section goes to the end of the file")
            << QByteArray("; kept\n[Option]\nA=1\n") << "Tenvo" << "Width" << 640
            << QByteArray("; kept\n[Option]\nA=1\n[Tenvo]\nWidth=640\n");
        QTest::newRow("a section after a doubled byte-order mark is written in place")
            << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF[S]\nK=4\n") << "S" << "K" << 5
            << QByteArray("[S]\nK=5\n");
        QTest::newRow("other lines and comments are kept")
            << QByteArray("[Tenvo]\n; note\nTop=5\nfree text\n") << "tenvo" << "top" << 6
            << QByteArray("[Tenvo]\n; note\ntop=6\nfree text\n");
    }

    void writing()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(int, value);
        QFETCH(QByteArray, after);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tenvo.ini"));
        if (!before.isNull())
            writeAll(path, before);
        clsINICtrl ini;
        ini.setFile(path);
        ini.setLong(section, key, value);
        QCOMPARE(readAll(path), after);
        QCOMPARE(ini.getLong(section, key), value);
    }

    void booleansAndTheDocumentedExample()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tenvo.ini"));
        clsINICtrl ini;
        ini.setFile(path);
        ini.setBool(QStringLiteral("Option"), QStringLiteral("MakeNameFolder"), true);
        ini.setBool(QStringLiteral("Option"), QStringLiteral("RestoreFolder"), true);
        ini.setBool(QStringLiteral("Option"), QStringLiteral("DeleteFromList"), false);
        ini.setBool(QStringLiteral("Option"), QStringLiteral("CloseDialog"), false);
        ini.setLong(QStringLiteral("Tenvo"), QStringLiteral("Top"), 100);
        ini.setLong(QStringLiteral("Tenvo"), QStringLiteral("Left"), 50);
        ini.setLong(QStringLiteral("Tenvo"), QStringLiteral("Width"), 640);
        ini.setLong(QStringLiteral("Tenvo"), QStringLiteral("Height"), 480);
        QCOMPARE(readAll(path), QByteArray("[Option]\nMakeNameFolder=1\nRestoreFolder=1\nDeleteFromList=0\n"
                                           "CloseDialog=0\n[Tenvo]\nTop=100\nLeft=50\nWidth=640\nHeight=480\n"));
    }

    void aLineBreakInAValueCannotBreakTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tenvo.ini"));
        clsINICtrl ini;
        ini.setFile(path);
        ini.setString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("a\n[Tenvo]\nTop=9"));
        QCOMPARE(ini.getLong(QStringLiteral("Tenvo"), QStringLiteral("Top")), 0);
        QCOMPARE(ini.getString(QStringLiteral("S"), QStringLiteral("K")), QStringLiteral("a [Tenvo] Top=9"));
    }

    void aRefusedWriteIsSilent()
    {
        // A path through a regular file cannot be written, not even by root.
        QTemporaryDir dir;
        const QString blocker = dir.filePath(QStringLiteral("blocker"));
        writeAll(blocker, "[Tenvo]\nTop=1\n");
        clsINICtrl ini;
        ini.setFile(blocker + QStringLiteral("/Tenvo.ini"));
        ini.setLong(QStringLiteral("Tenvo"), QStringLiteral("Top"), 2);
        QCOMPARE(ini.getLong(QStringLiteral("Tenvo"), QStringLiteral("Top")), 0);
        QCOMPARE(readAll(blocker), QByteArray("[Tenvo]\nTop=1\n"));
    }

    void aFullDiskLeavesTheFileAsItWas_data()
    {
        QTest::addColumn<int>("commentLines"); // hand-kept lines that make the file longer
        QTest::addColumn<bool>("onePageFree"); // else not a byte is free
        QTest::newRow("the disk is full") << 0 << false;
        QTest::newRow("the disk holds only the first part of the new file") << 300 << true;
    }

    void aFullDiskLeavesTheFileAsItWas()
    {
        QFETCH(int, commentLines);
        QFETCH(bool, onePageFree);
        QTemporaryDir dir;
        const QByteArray disk = QFile::encodeName(dir.path());
        if (::mount("tmpfs", disk.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0)
            QSKIP(qPrintable(QStringLiteral("cannot mount a small disk here: %1").arg(qt_error_string(errno))));
        auto unmount = qScopeGuard([&] { ::umount2(disk.constData(), MNT_DETACH); });

        const QString path = dir.filePath(QStringLiteral("Tenvo.ini"));
        const QByteArray text = "[Tenvo]\nTop=222\nLeft=489\nWidth=621\nHeight=555\n"
                                + QByteArray("; a note kept by hand\n").repeated(commentLines)
                                + "[Option]\nMakeNameFolder=1\nRestoreFolder=0\n";
        writeAll(path, text);
        // The rest of the disk is taken, page by page, until it refuses more.
        const int filler = ::open(QFile::encodeName(dir.filePath(QStringLiteral("filler"))).constData(),
                                  O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(filler >= 0);
        const QByteArray page(4096, 'x');
        off_t filled = 0;
        while (::write(filler, page.constData(), page.size()) == page.size())
            filled += page.size();
        QCOMPARE(errno, ENOSPC);
        if (onePageFree)
            QVERIFY(::ftruncate(filler, filled - page.size()) == 0);
        ::close(filler);

        clsINICtrl ini;
        ini.setFile(path);
        ini.setLong(QStringLiteral("Tenvo"), QStringLiteral("Height"), 500);
        ini.setLong(QStringLiteral("Tenvo"), QStringLiteral("Top"), 10);
        ini.setString(QStringLiteral("Option"), QStringLiteral("NewKey"), QStringLiteral("value"));

        QCOMPARE(readAll(path), text);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{QStringLiteral("filler"), QStringLiteral("Tenvo.ini")}));
    }

    void aFileThatCannotBeReadIsNeverReplaced_data()
    {
        QTest::addColumn<bool>("noPermission");
        QTest::newRow("a file its user may not read, in a folder it may write") << true;
        QTest::newRow("a file larger than 64 MiB") << false;
    }

    void aFileThatCannotBeReadIsNeverReplaced()
    {
        QFETCH(bool, noPermission);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tenvo.ini"));
        const QByteArray text = "[Tenvo]\nTop=1\nLeft=2\n[Option]\nCloseDialog=1\n";
        writeAll(path, text);
        qint64 size = text.size();
        if (!noPermission) {
            size = 65 * 1024 * 1024; // the rest reads as zero bytes, stored sparse
            QFile file(path);
            QVERIFY(file.resize(size));
        }
        // Root reads any file, so the calls then run as "nobody".
        const bool asRoot = noPermission && ::geteuid() == 0;
        if (noPermission) {
            QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0777) == 0);
            QVERIFY(::chmod(QFile::encodeName(path).constData(), 0) == 0);
        }
        if (asRoot)
            QVERIFY(::seteuid(65534) == 0);
        clsINICtrl ini;
        ini.setFile(path);
        const int closeDialog = ini.getLong(QStringLiteral("Option"), QStringLiteral("CloseDialog"));
        ini.setLong(QStringLiteral("Tenvo"), QStringLiteral("Top"), 5);
        ini.setBool(QStringLiteral("Option"), QStringLiteral("MakeNameFolder"), true);
        if (asRoot)
            QVERIFY(::seteuid(0) == 0);

        QCOMPARE(closeDialog, 0);
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(QFileInfo(path).size(), size);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.read(text.size()), text);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Tenvo.ini"});
    }

    void aFileOfSeveralMebibytesIsReadAndWrittenInPlace()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tenvo.ini"));
        const QByteArray comments = QByteArray("; a note kept by hand\n").repeated(250000);
        writeAll(path, "[Tenvo]\nTop=1\n" + comments + "[Option]\nCloseDialog=1\n");
        clsINICtrl ini;
        ini.setFile(path);
        QCOMPARE(ini.getLong(QStringLiteral("Option"), QStringLiteral("CloseDialog")), 1);
        ini.setLong(QStringLiteral("Tenvo"), QStringLiteral("Top"), 640);
        QCOMPARE(readAll(path), "[Tenvo]\nTop=640\n" + comments + "[Option]\nCloseDialog=1\n");
    }

    void settingsLiveInTheProgramFolderWhenItIsWritable()
    {
        QTemporaryDir dir;
        QCOMPARE(settingsFilePath(dir.path()), dir.filePath(QStringLiteral("Tenvo.ini")));
        QCOMPARE(settingsFilePath(dir.path() + u'/'), dir.filePath(QStringLiteral("Tenvo.ini")));
    }

    void settingsMoveToTheConfigFolder_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::newRow("the program folder is read-only") << false;
        QTest::newRow("the program is installed, with lib/tenvo beside its writable folder") << true;
    }

    void settingsMoveToTheConfigFolder()
    {
        QFETCH(bool, installed);
        QTemporaryDir home;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
        QStandardPaths::setTestModeEnabled(false);
        QTemporaryDir dir;
        QString programFolder = dir.filePath(QStringLiteral("bin"));
        if (installed) {
            QVERIFY(QDir().mkpath(programFolder) && QDir().mkpath(dir.filePath(QStringLiteral("lib/tenvo"))));
        } else {
            // A folder that cannot be written even by root: a path through a file.
            writeAll(dir.filePath(QStringLiteral("file")), "x");
            programFolder = dir.filePath(QStringLiteral("file/bin"));
        }
        const QString path = settingsFilePath(programFolder);
        QVERIFY2(path.startsWith(home.filePath(QStringLiteral("config"))), qPrintable(path));
        QVERIFY(path.endsWith(QStringLiteral("/Tenvo.ini")));
        QVERIFY(QFileInfo(QFileInfo(path).path()).isDir());
        clsINICtrl ini;
        ini.setFile(path);
        ini.setLong(QStringLiteral("Tenvo"), QStringLiteral("Top"), 7);
        QCOMPARE(ini.getLong(QStringLiteral("Tenvo"), QStringLiteral("Top")), 7);
    }
};

QTEST_GUILESS_MAIN(TestIniCtrl)
#include "tst_clsinictrl.moc"

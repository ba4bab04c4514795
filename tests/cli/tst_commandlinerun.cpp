// The program run from the command line with no display: exit codes, the
// line per archive, the failure summary, and the files on disk.
#include "archivemaker.h"
#include "everytype.h"
#include "lzhwriter.h"
#include "nativepath.h"
#include "singleinstance.h"
#include "testlocale.h"

#include <QDir>
#include <QDirIterator>
#include <QLocalServer>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace tenvo::fixture;

namespace {

// Every file below folder as "path=contents", sorted.
QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        const QByteArray data = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
        files << QDir(folder).relativeFilePath(path) + u'=' + QString::fromUtf8(data);
    }
    files.sort();
    return files;
}

// The English texts, where an installed program finds them.
bool copyTranslations(const QString &root)
{
    const QString folder = root + QStringLiteral("/share/tenvo/translations");
    return QDir().mkpath(folder)
        && QFile::copy(QStringLiteral(TENVO_TRANSLATIONS_DIR "/tenvo_en.qm"), folder + QStringLiteral("/tenvo_en.qm"));
}

// The program as installed: bin/tenvo, and what the build put beside it in
// lib/tenvo and share/tenvo. Returns the program's path, or "" when a copy
// failed.
QString installedCopy(const QString &root)
{
    const QFileInfo program(QStringLiteral(TENVO_PROGRAM));
    if (!QDir().mkpath(root + QStringLiteral("/bin")) || !QDir().mkpath(root + QStringLiteral("/lib/tenvo"))
        || !QFile::copy(program.filePath(), root + QStringLiteral("/bin/tenvo")))
        return QString();
    const QStringList beside = program.dir().entryList({QStringLiteral("*.so"), QStringLiteral("tenvo-decoder")},
                                                       QDir::Files);
    for (const QString &name : beside) {
        if (!QFile::copy(program.dir().filePath(name), root + QStringLiteral("/lib/tenvo/") + name))
            return QString();
    }
    return copyTranslations(root) ? root + QStringLiteral("/bin/tenvo") : QString();
}

// "<83>" in a row stands for the byte 0x83 of a file name that is not UTF-8.
QString withNativeBytes(QString text)
{
    // Found by hand: a regular expression will not read a text that holds
    // a lone surrogate.
    for (qsizetype at = 0; (at = text.indexOf(u'<', at)) >= 0; ++at) {
        bool ok = false;
        const uint value = text.mid(at + 1, 2).toUInt(&ok, 16);
        if (ok && value >= 0x80 && text.mid(at + 3, 1) == u">")
            text.replace(at, 4, pathFromNative(QByteArray(1, char(value))));
    }
    return text;
}

// QProcess hands arguments over as UTF-8; a shell's printf gives the real
// bytes of those that are not.
void startWithNativeBytes(QProcess &process, const QString &program, const QStringList &arguments)
{
    QString script = QStringLiteral("exec \"$0\"");
    for (const QString &argument : arguments) {
        QString octal;
        for (const char c : nativePath(argument))
            octal += QStringLiteral("\\%1").arg(uint(uchar(c)), 3, 8, QLatin1Char('0'));
        script += QStringLiteral(" \"$(printf '%1')\"").arg(octal);
    }
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script, program});
}

} // namespace

class TestCommandLineRun : public QObject
{
    Q_OBJECT

private slots:
    void exitCodesOutputAndFiles_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QStringList>("takenFolders");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("expectedFiles");
        QTest::addColumn<QStringList>("stdoutLines");
        QTest::addColumn<QString>("stderrText");
        QTest::addColumn<bool>("stderrExact");

        const QString done = inLocale(QStringLiteral("解凍しました: "), QStringLiteral("Extracted: "));
        const QString failed = inLocale(QStringLiteral("解凍できませんでした: "), QStringLiteral("Could not extract: "));
        const QStringList none;

        QStringList everyFile;
        const QMap<QString, QByteArray> every = everyTypeExtracted();
        for (auto it = every.begin(); it != every.end(); ++it)
            everyFile << it.key() + u'=' + QString::fromUtf8(it.value());
        QStringList everyLine;
        for (const QString &name : everyTypeFileNames())
            everyLine << done + "%IN/" + name + " → %OUT/" + name.section(u'.', 0, 0) + u'/';

        QTest::newRow("every type found in a folder goes into its own name folder")
            << QStringList{"--extract-to", "%OUT", "--name-folders", "%IN"} << false << none << 0 << everyFile
            << everyLine << "" << true;
        QTest::newRow("named archives flattened into a new folder, RAR keeping its folders")
            << QStringList{"--extract-to", "%OUT/flat", "--flatten", "%IN/docs.zip", "%IN/notes.rar"} << false
            << none << 0 << QStringList{"flat/a/b/deep.txt=deep", "flat/read.txt=read me", "flat/top.txt=top"}
            << QStringList{done + "%IN/docs.zip → %OUT/flat/", done + "%IN/notes.rar → %OUT/flat/"} << "" << true;
        QTest::newRow("a taken name folder gets the next free name; an archive named twice is extracted once")
            << QStringList{"--extract-to", "%OUT", "--name-folders", "%IN/docs.zip", "%IN/docs.zip"} << false
            << QStringList{"docs"} << 0 << QStringList{"docs (2)/guide/read.txt=read me", "docs (2)/top.txt=top"}
            << QStringList{done + "%IN/docs.zip → %OUT/docs (2)/"} << "" << true;
        QTest::newRow("a .tar.gz goes into a name folder without .tar.gz, a .gz lands as the file without .gz, "
                      "an LZH of an older tool lands")
            << QStringList{"--extract-to", "%OUT", "--name-folders", "%TAR"} << false << none << 0
            << QStringList{"data/sub/a.txt=tar", "data/top.txt=top", "notes.txt/notes.txt=single",
                           "old/b.txt=lzs", "old/dos/a.txt=lh1"}
            << QStringList{done + "%TAR/data.tar.gz → %OUT/data/", done + "%TAR/notes.txt.gz → %OUT/notes.txt/",
                           done + "%TAR/old.lzh → %OUT/old/"}
            << "" << true;
        QTest::newRow("failures are listed as the window lists them, and the run goes on")
            << QStringList{"--extract-to", "%OUT", "%BAD/notes.txt", "%BAD/broken.zip", "%IN/pack.lzh"} << false
            << none << 1 << QStringList{"sub/one.txt=one"}
            << QStringList{done + "%IN/pack.lzh → %OUT/", failed + inLocale("%BAD/broken.zip: 書庫ファイルが壊れています",
                                                                            "%BAD/broken.zip: The archive is damaged"),
                           inLocale("　*x.txt*",
                                    "  *x.txt*"), failed + inLocale("%BAD/notes.txt: 対応していない形式です",
                                                                    "%BAD/notes.txt: Unsupported format")}
            << inLocale(QStringLiteral("次の書庫ファイルは解凍できませんでした\n\n%BAD/notes.txt\n　対応していない形式です\n"
                                       "%BAD/broken.zip\n　書庫ファイルが壊れています\n"),
                        QStringLiteral("The following archives could not be extracted\n\n%BAD/notes.txt\n  Unsupported format\n"
                                       "%BAD/broken.zip\n  The archive is damaged\n"))
            << true;
        QTest::newRow("password ZIPs opened with the passwords of a file, tried in order")
            << QStringList{"--extract-to", "%OUT", "--password-file", "%BAD/passwords.txt", "%SECRET"} << false << none
            << 0 << QStringList{"one.txt=first secret", "two.txt=second secret"}
            << QStringList{done + "%SECRET/a.zip → %OUT/", done + "%SECRET/b.zip → %OUT/"} << "" << true;
        QTest::newRow("a password ZIP with no password to try is not extracted, and nothing lands")
            << QStringList{"--quiet", "--extract-to", "%OUT", "%SECRET/a.zip", "%IN/docs.zip"} << false << none << 1
            << QStringList{"guide/read.txt=read me", "top.txt=top"}
            << QStringList{failed + inLocale("%SECRET/a.zip: パスワード付きの書庫です",
                                             "%SECRET/a.zip: The archive is password-protected"), inLocale("　*",
                                                                                                           "  *")} << inLocale("パスワード付きの書庫です",
                                                                                                                               "The archive is password-protected") << false;
        QTest::newRow("a password 7z opened with a password of the file, into its name folder")
            << QStringList{"--extract-to", "%OUT", "--name-folders", "--password-file", "%BAD/passwords.txt", "%SEVEN/locked.7z"}
            << false << none << 0 << QStringList{"locked/one.txt=first secret"}
            << QStringList{done + "%SEVEN/locked.7z → %OUT/locked/"} << "" << true;
        QTest::newRow("a 7z with encrypted names and no password to try: nothing lands, not even its name folder")
            << QStringList{"--quiet", "--extract-to", "%OUT", "--name-folders", "%SEVEN/locked.7z"} << false << none << 1
            << none << QStringList{failed + inLocale("%SEVEN/locked.7z: パスワード付きの書庫です",
                                                     "%SEVEN/locked.7z: The archive is password-protected"), inLocale("　*",
                                                                                                                      "  *")}
            << inLocale("パスワード付きの書庫です", "The archive is password-protected") << false;
        QTest::newRow("a folder holding no archive yields nothing to extract: exit 1")
            << QStringList{"--extract-to", "%OUT", "%EMPTY"} << false << none << 1 << none << none
            << inLocale(QStringLiteral("書庫ファイルがありません: %EMPTY\n解凍する書庫ファイルが見つかりませんでした\n"),
                        QStringLiteral("No archive files: %EMPTY\nNo archive files to extract were found\n")) << true;
        QTest::newRow("--json: one object per archive, for scripts")
            << QStringList{"--json", "--extract-to", "%OUT", "%IN/docs.zip"} << false << none << 0
            << QStringList{"guide/read.txt=read me", "top.txt=top"}
            << QStringList{"{\"bytes\":*,\"cause\":\"\",\"destination\":\"%OUT/\",\"entries\":2,\"extracted\":true,"
                           "\"kept\":0,\"message\":\"*\",\"nestedExtracted\":0,\"nestedLeft\":[],\"path\":\"%IN/docs.zip\","
                           "\"renamed\":0,\"result\":0,\"seconds\":*,\"shortened\":[],\"trashed\":false}"}
            << "" << true;
        QTest::newRow("installed in bin/, the program finds its libraries in ../lib/tenvo")
            << QStringList{"--extract-to", "%OUT", "%IN/pack.lzh", "%IN/old.rar", "%IN/box.cab"} << true << none << 0
            << QStringList{"c/cab.txt=cabinet", "d4/x.txt=x4", "four.txt=four", "sub/one.txt=one"}
            << QStringList{done + "%IN/box.cab → %OUT/", done + "%IN/old.rar → %OUT/", done + "%IN/pack.lzh → %OUT/"}
            << "" << true;
        // %ODD holds pack.lzh as "ソ.lzh" in CP932 bytes and docs.zip as
        // "café.zip" in Latin-1 bytes; the program runs in its parent.
        QTest::newRow("archives named in CP932 and Latin-1 bytes go into folders of their readable names")
            << QStringList{"--extract-to", "%OUT", "--name-folders", "odd/<83>\\.lzh", "%ODD/caf<e9>.zip"} << false
            << none << 0 << QStringList{"caf\\xe9/guide/read.txt=read me", "caf\\xe9/top.txt=top", "ソ/sub/one.txt=one"}
            << QStringList{done + "%ODD/ソ.lzh → %OUT/ソ/", done + "%ODD/caf\\xe9.zip → %OUT/caf\\xe9/"} << "" << true;
        QTest::newRow("archives named in CP932 and Latin-1 bytes are found in a folder")
            << QStringList{"--extract-to", "%OUT", "%ODD"} << false << none << 0
            << QStringList{"guide/read.txt=read me", "sub/one.txt=one", "top.txt=top"}
            << QStringList{done + "%ODD/ソ.lzh → %OUT/", done + "%ODD/caf\\xe9.zip → %OUT/"} << "" << true;
        QTest::newRow("an option without --extract-to is a usage error")
            << QStringList{"--flatten", "%IN/docs.zip"} << false << none << 2 << none << none << "--extract-to"
            << false;
        QTest::newRow("--smart-folders: an archive of one folder lands it, a taken one as \"sub (2)\"")
            << QStringList{"--extract-to", "%OUT", "--name-folders", "--smart-folders", "%IN/pack.lzh", "%IN/docs.zip"}
            << false << QStringList{"sub"} << 0
            << QStringList{"docs/guide/read.txt=read me", "docs/top.txt=top", "sub (2)/one.txt=one"}
            << QStringList{done + "%IN/docs.zip → %OUT/docs/", done + "%IN/pack.lzh → %OUT/sub (2)/"} << "" << true;
        QTest::newRow("--existing=skip keeps a file already there and says so")
            << QStringList{"--extract-to", "%OUT", "--existing=skip", "%IN/docs.zip"} << false
            << QStringList{"top.txt=old"} << 0 << QStringList{"guide/read.txt=read me", "top.txt=old"}
            << QStringList{done + "%IN/docs.zip → %OUT/", inLocale("　既存のファイル 1 個をそのまま残しました",
                                                                   "  Existing files kept: 1")}
            << inLocale("既存のファイル 1 個をそのまま残しました", "Existing files kept: 1") << false;
        QTest::newRow("--existing=rename keeps both")
            << QStringList{"--extract-to", "%OUT", "--existing=rename", "%IN/docs.zip"} << false
            << QStringList{"top.txt=old"} << 0
            << QStringList{"guide/read.txt=read me", "top (2).txt=top", "top.txt=old"}
            << QStringList{done + "%IN/docs.zip → %OUT/", inLocale("　1 個のファイルを別の名前で解凍しました",
                                                                   "  Files extracted under another name: 1")}
            << inLocale("1 個のファイルを別の名前で解凍しました", "Files extracted under another name: 1") << false;
        QTest::newRow("junk files of other systems are left out unless --keep-junk")
            << QStringList{"--extract-to", "%OUT", "%BAD/mac.zip"} << false << none << 0
            << QStringList{"a.txt=a"} << QStringList{done + "%BAD/mac.zip → %OUT/"} << "" << true;
        QTest::newRow("--keep-junk extracts them too")
            << QStringList{"--extract-to", "%OUT", "--keep-junk", "%BAD/mac.zip"} << false << none << 0
            << QStringList{".DS_Store=finder", "Thumbs.db=thumbs", "__MACOSX/._a.txt=fork", "a.txt=a"}
            << QStringList{done + "%BAD/mac.zip → %OUT/"} << "" << true;
        QTest::newRow("--trash-archives moves an archive extracted whole to the trash")
            << QStringList{"--extract-to", "%OUT", "--trash-archives", "%BAD/mac.zip", "%BAD/broken.zip"} << false
            << none << 1 << QStringList{"a.txt=a"}
            << QStringList{done + "%BAD/mac.zip → %OUT/", inLocale("　書庫ファイルをごみ箱に移しました", "  Archive moved to the trash"),
                           failed + inLocale("%BAD/broken.zip: 書庫ファイルが壊れています",
                                             "%BAD/broken.zip: The archive is damaged"), inLocale("　*x.txt*",
                                                                                                  "  *x.txt*")}
            << "" << false;
        QTest::newRow("--encoding reads every archive's names in the encoding given")
            << QStringList{"--extract-to", "%OUT", "--encoding=euc-jp", "%BAD/euc.zip"} << false << none << 0
            << QStringList{"日本.txt=euc"} << QStringList{done + "%BAD/euc.zip → %OUT/"} << "" << true;
        QTest::newRow("--encoding with an unknown name is a usage error, listing the choices")
            << QStringList{"--extract-to", "%OUT", "--encoding=klingon", "%BAD/euc.zip"} << false << none << 2 << none
            << none << inLocale("Shift_JIS、UTF-8、EUC-JP", "Shift_JIS, UTF-8, EUC-JP") << false;
        QTest::newRow("--keyring with no keyring running says so and goes on")
            << QStringList{"--extract-to", "%OUT", "--keyring", "%IN/docs.zip"} << false << none << 0
            << QStringList{"guide/read.txt=read me", "top.txt=top"} << QStringList{done + "%IN/docs.zip → %OUT/"}
            << inLocale("デスクトップのキーリングが動いていないため、記憶したパスワードを使えません\n",
                        "The desktop's keyring is not running, so remembered passwords cannot be used\n") << true;
        QTest::newRow("--existing with an unknown mode is a usage error")
            << QStringList{"--extract-to", "%OUT", "--existing=all", "%IN/docs.zip"} << false << none << 2 << none
            << none << inLocale("--existing には overwrite", "--existing takes one of overwrite") << false;
        QTest::newRow("--smart-folders without --name-folders is a usage error")
            << QStringList{"--extract-to", "%OUT", "--smart-folders", "%IN/docs.zip"} << false << none << 2 << none
            << none << inLocale("--smart-folders は --name-folders と共に", "--smart-folders needs --name-folders")
            << false;
        // The stand-in file manager notes how many folders it was given.
        QTest::newRow("--open-destination shows the destination in the file manager, once")
            << QStringList{"--extract-to", "%OUT", "--open-destination", "%IN/docs.zip", "%IN/pack.lzh"} << false
            << none << 0 << QStringList{"guide/read.txt=read me", "opened-by-file-manager=1", "sub/one.txt=one",
                                        "top.txt=top"}
            << QStringList{done + "%IN/docs.zip → %OUT/", done + "%IN/pack.lzh → %OUT/"} << "" << true;
        QTest::newRow("an archive cut into numbered parts is extracted from its first; a later part alone fails")
            << QStringList{"--extract-to", "%OUT", "%BAD/docs.zip.001", "%BAD/cut.zip.002"} << false << none << 1
            << QStringList{"guide/read.txt=read me", "top.txt=top"}
            << QStringList{done + "%BAD/docs.zip.001 → %OUT/",
                           failed + inLocale("%BAD/cut.zip.002: 分割書庫の先頭ではないか、一部が欠けています",
                                             "%BAD/cut.zip.002: Not the first part of a multi-part archive, or a part is missing"), inLocale("　*",
                                                                                                                                             "  *")}
            << inLocale(QStringLiteral("次の書庫ファイルは解凍できませんでした\n\n%BAD/cut.zip.002\n"
                                       "　分割書庫の先頭ではないか、一部が欠けています\n"),
                        QStringLiteral("The following archives could not be extracted\n\n%BAD/cut.zip.002\n"
                                       "  Not the first part of a multi-part archive, or a part is missing\n"))
            << true;
        QTest::newRow("an unknown option is a usage error")
            << QStringList{"--bogus", "%IN/docs.zip"} << false << none << 2 << none << none << "bogus" << false;
        QTest::newRow("--extract-to without a folder is a usage error")
            << QStringList{"--extract-to"} << false << none << 2 << none << none << "--help" << false;
        QTest::newRow("no archive named is a usage error")
            << QStringList{"--extract-to", "%OUT"} << false << none << 2 << none << none << "--help" << false;
        QTest::newRow("--version prints the name and version")
            << QStringList{"--version"} << false << none << 0 << none << QStringList{"Tenvo " TENVO_VERSION} << ""
            << true;
        QTest::newRow("--version --verbose names what confines the decoders")
            << QStringList{"--version", "--verbose"} << false << none << 0 << none
            << QStringList{"Tenvo " TENVO_VERSION, inLocale("解凍処理の保護:",
                                                            "Extraction protections:"), "  Landlock: *", "  seccomp: *",
                           inLocale("  no-new-privileges: 有効", "  no-new-privileges: enabled")}
            << "" << true;
        const QString noDisplay = inLocale(QStringLiteral("tenvo: ディスプレイが見つからないため、ウィンドウを開けません"
                                                          "（--extract-to を指定すると、ディスプレイなしで解凍できます）\n"),
                                           QStringLiteral("tenvo: Cannot open the window because no display was found "
                                                          "(with --extract-to, archives are extracted without a display)\n"));
        QTest::newRow("the window without a display says so in one line, naming --extract-to")
            << QStringList{"%IN/docs.zip"} << false << none << 2 << none << none << noDisplay << true;
        QTest::newRow("installed in bin/, the window's library is found in ../lib/tenvo")
            << QStringList{"%IN/docs.zip"} << true << none << 2 << none << none << noDisplay << true;
        QTest::newRow("Qt's own options lead to the window, here without a display")
            << QStringList{"-style", "Fusion", "--reverse", "%IN/docs.zip"} << false << none << 2 << none << none
            << noDisplay << true;
        QTest::newRow("Qt's own options are let pass beside --extract-to")
            << QStringList{"-platform", "offscreen", "--extract-to", "%OUT", "-style=Fusion", "%IN/docs.zip"} << false
            << none << 0 << QStringList{"guide/read.txt=read me", "top.txt=top"}
            << QStringList{done + "%IN/docs.zip → %OUT/"} << "" << true;
    }

    void helpInTheUsersLanguage_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("messages");
        QTest::newRow("--help lists the program's options")
            << "--help" << QStringList{"--extract-to", "--json"} << "";
        QTest::newRow("--help-all lists Qt's own options too")
            << "--help-all" << QStringList{"--extract-to", "--help-all", "--platform", "--qwindowgeometry"} << "";
        QTest::newRow("LC_MESSAGES alone chooses the language")
            << "--help" << QStringList{"--extract-to"} << inLocale("ja_JP.UTF-8", "C");
    }

    // Japanese, Qt's headings too, in a Japanese locale; not a Japanese
    // character in any other.
    void helpInTheUsersLanguage()
    {
        QFETCH(QString, option);
        QFETCH(QStringList, listed);
        QFETCH(QString, messages);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        // The other locale everywhere but in the messages.
        if (!messages.isEmpty()) {
            environment.remove(QStringLiteral("LC_ALL"));
            environment.insert(QStringLiteral("LANG"), inLocale("C", "ja_JP.UTF-8"));
            environment.insert(QStringLiteral("LC_MESSAGES"), messages);
        }
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(TENVO_PROGRAM), {option});
        QVERIFY(process.waitForFinished(-1));
        const QString output = QString::fromUtf8(process.readAllStandardOutput());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == 0, qPrintable(output + process.readAllStandardError()));
        for (const QString &name : listed)
            QVERIFY2(output.contains(name), qPrintable(output));
        const QStringList lines = inLocale(QStringLiteral("使い方:|書庫ファイル一括解凍ユーティリティ"),
                                           QStringLiteral("Usage:|Batch extraction utility for archive files"))
                                      .split(u'|');
        for (const QString &line : lines)
            QVERIFY2(output.contains(line), qPrintable(line + u'\n' + output));
        const QRegularExpression japanese(QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
        QVERIFY2(output.contains(japanese) == (QLocale().language() == QLocale::Japanese), qPrintable(output));
    }

    // A script's run starts fast: nothing of the window's, the keyring's or
    // the decoders' libraries is loaded, and no library is looked for in the
    // current folder (a run path), where anyone could put one.
    void commandLineLoadsNoWidgets()
    {
        QTemporaryDir work;
        QVERIFY(work.isValid());
        QVERIFY(writeZip(work.filePath("a.zip"), {FixtureEntry::file("one.txt", "one")}));
        QProcess process;
        // An open window (on a display of the test's own) is never joined.
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(work.path()));
        qputenv("DISPLAY", ":tenvo-test");
        QLocalServer window;
        QVERIFY(window.listen(instanceServerName()));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LD_DEBUG"), QStringLiteral("libs"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(work.path());
        process.start(QStringLiteral(TENVO_PROGRAM), {"--quiet", "--extract-to", "out", "a.zip"});
        QVERIFY(process.waitForFinished(-1));
        const QString loaded = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(QFile::exists(work.filePath("out/one.txt")));
        QVERIFY(!window.waitForNewConnection(0));
        QVERIFY2(loaded.contains(QLatin1String("libQt6Core")) && loaded.contains(QLatin1String("7-zip32.so")),
                 qPrintable(loaded));
        // Neither the window's, the network's, the keyring's nor the
        // decoders' libraries: decoding happens in the decoder program alone.
        for (const char *library :
             {"libQt6Widgets", "libQt6Gui", "libQt6Network", "libqt6keychain", "libQt6DBus", "libarchive"})
            QVERIFY2(!loaded.contains(QLatin1String(library)), library);
        QVERIFY2(!loaded.contains(QLatin1String("RUNPATH")) && !loaded.contains(QLatin1String("RPATH")),
                 qPrintable(loaded));
    }

    void exitCodesOutputAndFiles()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, installed);
        QFETCH(QStringList, takenFolders);
        QFETCH(int, exitCode);
        QFETCH(QStringList, expectedFiles);
        QFETCH(QStringList, stdoutLines);
        QFETCH(QString, stderrText);
        QFETCH(bool, stderrExact);

        QTemporaryDir work;
        QVERIFY(work.isValid());
        const QString in = work.filePath("in");
        const QString bad = work.filePath("bad");
        const QString out = work.filePath("out");
        const QString secret = work.filePath("secret");
        const QString empty = work.filePath("empty");
        QVERIFY(QDir().mkpath(in) && QDir().mkpath(bad) && QDir().mkpath(out) && QDir().mkpath(secret)
                && QDir().mkpath(empty));
        // Two ZIPs, each with a password of its own; the file lists a wrong
        // one first.
        ZipOptions locked;
        locked.password = "first pass";
        QVERIFY(writeZip(secret + "/a.zip", {FixtureEntry::file("one.txt", "first secret")}, locked));
        locked.password = "second pass";
        QVERIFY(writeZip(secret + "/b.zip", {FixtureEntry::file("two.txt", "second secret")}, locked));
        QVERIFY(writeFixtureFile(bad + "/passwords.txt", "nothing\nsecond pass\r\nfirst pass\n"));
        // A 7z whose names are encrypted too, when 7zz is there to make it.
        const QString seven = work.filePath("seven");
        QVERIFY(QDir().mkpath(seven));
        if (arguments.join(u' ').contains("%SEVEN")) {
            QVERIFY(writeFixtureFile(seven + "/one.txt", "first secret"));
            QProcess maker;
            maker.setWorkingDirectory(seven);
            maker.start("7zz", {"a", "-bso0", "-pfirst pass", "-mhe=on", "locked.7z", "one.txt"});
            if (!maker.waitForFinished(60000) || maker.exitCode() != 0)
                QSKIP("7zz (scripts/setup.sh installs it) cannot make the archive");
            QVERIFY(QFile::remove(seven + "/one.txt"));
        }
        std::string error;
        QVERIFY2(writeEveryType(in, &error), error.c_str());
        QVERIFY(writeFixtureFile(bad + "/notes.txt", "not an archive"));
        const QString tar = work.filePath("tar");
        QVERIFY(QDir().mkpath(tar));
        TarOptions gzip;
        gzip.compressor = "gzip";
        QVERIFY2(writeTar(tar + "/data.tar.gz", {FixtureEntry::file("sub/a.txt", "tar"), FixtureEntry::file("top.txt", "top")},
                          gzip, &error),
                 error.c_str());
        gzip.single = true;
        QVERIFY2(writeTar(tar + "/notes.txt.gz", {FixtureEntry::file("x", "single")}, gzip, &error), error.c_str());
        LzhOptions older;
        older.level = 3;
        older.method = "-lh1-";
        std::string oldLzh = makeLzh({FixtureEntry::file("dos/a.txt", "lh1")}, older, &error);
        older.method = "-lzs-";
        const std::string lzs = makeLzh({FixtureEntry::file("b.txt", "lzs")}, older, &error);
        QVERIFY2(!oldLzh.empty() && !lzs.empty(), error.c_str());
        // One archive of both members: the first one's end mark dropped.
        oldLzh.pop_back();
        QVERIFY(writeFixtureFile(tar + "/old.lzh", oldLzh + lzs));
        // docs.zip cut into three numbered parts, and a middle part alone.
        {
            QFile whole(in + "/docs.zip");
            QVERIFY(whole.open(QIODevice::ReadOnly));
            const QByteArray bytes = whole.readAll();
            const qsizetype size = (bytes.size() + 2) / 3;
            for (int i = 0; i < 3; ++i)
                QVERIFY(writeFixtureFile(bad + QString("/docs.zip.%1").arg(i + 1, 3, 10, QChar(u'0')),
                                         bytes.mid(i * size, size).toStdString()));
            QVERIFY(writeFixtureFile(bad + "/cut.zip.002", bytes.mid(size, size).toStdString()));
        }
        ZipOptions damaged;
        damaged.corruptFirstData = true;
        QVERIFY2(writeZip(bad + "/broken.zip", {FixtureEntry::file("x.txt", "damaged")}, damaged, &error),
                 error.c_str());
        // "name=contents" is a file, anything else a folder.
        for (const QString &taken : takenFolders) {
            if (taken.contains(u'='))
                QVERIFY(writeFixtureFile(out + u'/' + taken.section(u'=', 0, 0), taken.section(u'=', 1).toStdString()));
            else
                QVERIFY(QDir(out).mkpath(taken));
        }
        QVERIFY2(writeZip(bad + "/mac.zip",
                          {FixtureEntry::file("a.txt", "a"), FixtureEntry::file("__MACOSX/._a.txt", "fork"),
                           FixtureEntry::file(".DS_Store", "finder"), FixtureEntry::file("Thumbs.db", "thumbs")},
                          {}, &error),
                 error.c_str());
        ZipOptions rawNames;
        rawNames.names = ZipOptions::Names::Raw;
        QVERIFY(writeZip(bad + "/euc.zip", {FixtureEntry::file("\xC6\xFC\xCB\xDC.txt", "euc")}, rawNames));
        const QString odd = work.filePath("odd");
        QVERIFY(QDir().mkpath(odd));
        const QList<QByteArray> oddNames = {QFile::encodeName(odd) + "/\x83\\.lzh",
                                            QFile::encodeName(odd) + "/caf\xe9.zip"};
        // The temporary folder cannot remove what Qt cannot name.
        const auto removeOdd = qScopeGuard([&] {
            for (const QByteArray &name : oddNames)
                ::unlink(name.constData());
        });
        for (int i = 0; i < 2; ++i) {
            QFile from(in + (i == 0 ? "/pack.lzh" : "/docs.zip"));
            QVERIFY(from.open(QIODevice::ReadOnly));
            QFile to;
            const int fd = ::open(oddNames[i].constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(fd >= 0 && to.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
            QVERIFY(to.write(from.readAll()) == from.size());
        }

        const auto expand = [&](QString text) {
            return withNativeBytes(text.replace("%IN", in).replace("%BAD", bad).replace("%ODD", odd).replace("%OUT", out)
                                       .replace("%SECRET", secret).replace("%EMPTY", empty).replace("%TAR", tar)
                                       .replace("%SEVEN", seven));
        };
        for (QString &argument : arguments)
            argument = expand(argument);
        for (QString &line : stdoutLines)
            line = expand(line);
        stdoutLines.sort();

        const QString program = installed ? installedCopy(work.filePath("prefix")) : QStringLiteral(TENVO_PROGRAM);
        QVERIFY(!program.isEmpty());
        QProcess process;
        // No display of any kind: the command line must not need one.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        // A file manager that leaves a note in the folder it is asked to show.
        const QString tools = work.filePath("tools");
        QVERIFY(QDir().mkpath(tools));
        QVERIFY(writeFixtureFile(tools + "/xdg-open", "#!/bin/sh\nprintf %s \"$#\" >> \"$1/opened-by-file-manager\"\n"));
        QVERIFY(QFile::setPermissions(tools + "/xdg-open", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        environment.insert(QStringLiteral("PATH"), tools + u':' + environment.value(QStringLiteral("PATH")));
        // The trash of the test's own.
        environment.insert(QStringLiteral("XDG_DATA_HOME"), work.filePath("data"));
        environment.insert(QStringLiteral("HOME"), work.path());
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(work.path());
        if (std::any_of(arguments.cbegin(), arguments.cend(), hasNativeBytes))
            startWithNativeBytes(process, program, arguments);
        else
            process.start(program, arguments);
        QVERIFY(process.waitForFinished(-1));
        const QString output = QString::fromUtf8(process.readAllStandardOutput());
        const QString errors = QString::fromUtf8(process.readAllStandardError());

        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == exitCode, qPrintable(output + errors));
        QStringList lines = output.split(u'\n', Qt::SkipEmptyParts);
        // A "*" in an expected line stands for any text (the library's own
        // words, which name the entry): it takes the first line that it
        // matches and that no other expected line names, wherever the
        // locale's words sort that line.
        for (const QString &expected : std::as_const(stdoutLines)) {
            if (!expected.contains(u'*'))
                continue;
            QString pattern = QRegularExpression::escape(expected);
            pattern.replace(QStringLiteral("\\*"), QStringLiteral(".*"));
            const QRegularExpression any(QRegularExpression::anchoredPattern(pattern));
            for (QString &line : lines) {
                if (!stdoutLines.contains(line) && any.match(line).hasMatch()) {
                    line = expected;
                    break;
                }
            }
        }
        lines.sort();
        QCOMPARE(lines, stdoutLines);
        if (stderrExact)
            QCOMPARE(errors, expand(stderrText));
        else
            QVERIFY2(errors.contains(stderrText), qPrintable(errors));
        // The file manager is started on its own and may come after the run.
        QTRY_COMPARE(filesBelow(out), expectedFiles);
        if (expectedFiles.isEmpty() && takenFolders.isEmpty())
            QVERIFY2(QDir(out).isEmpty(), "nothing lands, not even a folder");
    }

    void signalStopsTheJob_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl+C (SIGINT): exit 130") << int(SIGINT);
        QTest::newRow("SIGTERM: exit 143") << int(SIGTERM);
    }

    // A signal stops the job: the archive being decoded is ended, the rest
    // never start, and what was not extracted is listed.
    void signalStopsTheJob()
    {
        QFETCH(int, signal);
        QTemporaryDir work;
        const QString root = work.filePath("prefix");
        QVERIFY(QDir().mkpath(root + "/bin") && QDir().mkpath(root + "/lib/tenvo") && QDir().mkpath(work.filePath("in")));
        QVERIFY(QFile::copy(QStringLiteral(TENVO_PROGRAM), root + "/bin/tenvo") && copyTranslations(root));
        // Stand-in libraries: the ZIP one can be stopped and waits for a
        // file that never comes.
        QVERIFY(QFile::copy(QStringLiteral(TENVO_FAKES_DIR "/progress/unzip32.so"), root + "/lib/tenvo/unzip32.so"));
        QStringList archives;
        for (const char *name : {"a-wait.zip", "b.zip"}) {
            archives << work.filePath("in/") + QLatin1String(name);
            QVERIFY(writeFixtureFile(archives.last(), "PK"));
        }
        const QString log = work.filePath("calls.log");
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TENVO_FAKE_LOG", log);
        environment.insert("TENVO_FAKE_GO", work.filePath("never"));
        process.setProcessEnvironment(environment);
        process.start(root + "/bin/tenvo", QStringList{"--extract-to", work.filePath("out"), "--parallel", "1"} + archives);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log) && filesBelow(work.path()).join(u' ').contains("UnZip\t-x"), 20000);
        ::kill(pid_t(process.processId()), signal);
        QVERIFY(process.waitForFinished(20000));
        const QString output = QString::fromUtf8(process.readAllStandardOutput());
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 128 + signal);
        QVERIFY2(output.contains(archives[0] + inLocale(QStringLiteral(": 中止したため解凍していません"),
                                                        QStringLiteral(": Not extracted because the run was stopped")))
                     && output.contains(archives[1] + inLocale(QStringLiteral(": 中止したため解凍していません"),
                                                               QStringLiteral(": Not extracted because the run was stopped"))),
                 qPrintable(output));
        QVERIFY(errors.contains(inLocale(QStringLiteral("中止しました"), QStringLiteral("Stopped"))));
        QFile calls(log);
        QVERIFY(calls.open(QIODevice::ReadOnly));
        const QByteArray called = calls.readAll();
        QVERIFY(called.contains("UnZipStopped"));
        QVERIFY(!called.contains("b.zip"));
        QCOMPARE(QDir(work.filePath("out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestCommandLineRun)
#include "tst_commandlinerun.moc"

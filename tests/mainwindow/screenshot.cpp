// Draws the README's picture of the main window: Tenvo started on the real
// archiver libraries with a filled list, grabbed into a PNG file; beside it,
// the open-file dialog, the folder picker, a message box, the extraction
// options dialog and the results window as the user's locale shows them
// (screenshot-addfile.png, -folder.png, -message.png, -options.png,
// -results.png), in the locale's language.
#include "clslistctrl.h"
#include "frmextract.h"
#include "frmmain.h"
#include "frmresults.h"
#include "frmversion.h"
#include "globals.h"
#include "module1.h"
#include "qtuserdialogs.h"
#include "startup.h"
#include "translations.h"
#include "userdialogs.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTreeWidget>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tenvo"));
    QApplication::setWindowIcon(programIcon());
    installTranslators(translationsFolder(getAppPath()));
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s LIBRARY-FOLDER OUTPUT.png\n", argv[0]);
        return 2;
    }
    const QString libraries = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);

    // A program folder of its own, so no settings file is left anywhere.
    QTemporaryDir program;
    QTemporaryDir files(QDir::tempPath() + QStringLiteral("/demo-XXXXXX"));
    if (!program.isValid() || !files.isValid())
        return 1;
    for (const char *name : {"unlha32.so", "cab32.so", "unzip32.so", "7-zip32.so", "unrar32.so", "tenvo-decoder", "tenvo-decoders.so"})
        QFile::copy(libraries + u'/' + QLatin1String(name), program.filePath(QLatin1String(name)));

    QtUserDialogs dialogs;
    setUserDialogs(&dialogs);
    Main(program.path() + u'/');
    frmMain *window = mainWindow();
    if (!window)
        return 1;

    // Archive names and sizes as a download folder might hold them; the
    // files are sparse, so they cost no disk space.
    const struct {
        const char *path;
        qint64 size;
    } archives[] = {
        {"ダウンロード/写真_2023夏.zip", 48213667},
        {"ダウンロード/議事録まとめ.lzh", 389120},
        {"ダウンロード/フォント集.cab", 2211840},
        {"ダウンロード/音楽アルバム/disc1.rar", 73400320},
        {"ダウンロード/音楽アルバム/disc2.rar", 69206016},
        {"ダウンロード/setup_tools.zip", 1234567},
        {"デスクトップ/古いメール.lzh", 56320},
    };
    for (const auto &archive : archives) {
        const QString path = files.filePath(QString::fromUtf8(archive.path));
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(archive.size))
            return 1;
        file.close();
        gListCtrl->addFile(path);
    }
    window->list->setCurrentItem(window->list->topLevelItem(1));
    window->updateButtons();
    QApplication::processEvents();

    bool saved = window->grab().save(output, "PNG");
    QTextStream(stdout) << (saved ? "wrote " : "could not write ") << output << '\n';

    const QString stem = output.chopped(output.endsWith(QStringLiteral(".png")) ? 4 : 0);
    const auto grabDialog = [&](QWidget *dialog, const QString &suffix) {
        dialog->show();
        QApplication::processEvents();
        const QString path = stem + suffix;
        const bool ok = dialog->grab().save(path, "PNG");
        QTextStream(stdout) << (ok ? "wrote " : "could not write ") << path << '\n';
        dialog->hide();
        return ok;
    };
    const std::unique_ptr<QFileDialog> addFile =
        QtUserDialogs::openFileDialog(window, window->cmdlg.Filter, files.filePath(QStringLiteral("ダウンロード")));
    addFile->resize(640, 420);
    saved = grabDialog(addFile.get(), QStringLiteral("-addfile.png")) && saved;
    const std::unique_ptr<QFileDialog> folder = QtUserDialogs::folderDialog(
        window, QStringLiteral("書庫ファイルのあるフォルダを指定してください"), true, files.path());
    folder->resize(640, 420);
    saved = grabDialog(folder.get(), QStringLiteral("-folder.png")) && saved;
    const std::unique_ptr<QDialog> message = QtUserDialogs::messageBox(
        window, QMessageBox::Warning,
        QStringLiteral("フォルダ ") + files.filePath(QStringLiteral("ダウンロード/写真_2023夏/"))
            + QStringLiteral(" は既に存在しています。\n別の名前でフォルダを作成してください"));
    saved = grabDialog(message.get(), QStringLiteral("-message.png")) && saved;
    frmExtract options(window);
    options.setFolderPath(files.filePath(QStringLiteral("ダウンロード/")));
    saved = grabDialog(&options, QStringLiteral("-options.png")) && saved;

    // A run's results with one of each kind of row.
    const QString destination = QStringLiteral("/home/user/展開先/");
    const auto result = [&](const char *path, const char *folder, int code, int landed) {
        ArchiveResult row;
        row.path = QStringLiteral("/home/user/") + QString::fromUtf8(path);
        row.destination = destination + QString::fromUtf8(folder);
        row.code = code;
        row.landed = landed;
        return row;
    };
    QList<ArchiveResult> results{
        result("ダウンロード/写真_2023夏.zip", "写真_2023夏/", 0, 120),
        result("ダウンロード/議事録まとめ.lzh", "議事録まとめ/", 3, 0),
        result("ダウンロード/フォント集.cab", "フォント集/", 0, 14),
        result("ダウンロード/音楽アルバム/disc1.rar", "disc1/", 0, 0),
        result("ダウンロード/setup_tools.zip", "setup_tools/", 0, 31),
        result("デスクトップ/古いメール.lzh", "古いメール/", 0, 8),
    };
    results[2].kept = 2;
    results[3].skippedByUser = true;
    results[4].shortened = QStringList{QStringLiteral("long\tshort")};
    results[5].nestedLeft = QStringList{QStringLiteral("添付.zip\t書庫ファイルが壊れています")};
    frmResults resultsWindow(results, destination, window);
    resultsWindow.resize(resultsWindow.width(), 240);
    saved = grabDialog(&resultsWindow, QStringLiteral("-results.png")) && saved;

    window->close();
    return saved ? 0 : 1;
}

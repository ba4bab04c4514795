// The whole program in-process on the real archiver libraries: start, add
// archives from a folder, extract them with options, close; then the files
// on disk and the settings file.
#include "archivemaker.h"
#include "frmaddfolder.h"
#include "frmextract.h"
#include "frmmain.h"
#include "frmresults.h"
#include "globals.h"
#include "lzhwriter.h"
#include "mainwindowtesting.h"
#include "rar5writer.h"
#include "startup.h"
#include "testlocale.h"

#include <QDirIterator>
#include <QApplication>
#include <QProcess>
#include <QTimer>
#include <QPushButton>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest>

using namespace tenvo::fixture;

namespace {

const QStringList realLibraries = {QStringLiteral("unlha32.so"), QStringLiteral("cab32.so"),
                                   QStringLiteral("unzip32.so"), QStringLiteral("7-zip32.so"),
                                   QStringLiteral("unrar32.so")};

// Every file below folder, as "path=contents", sorted.
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

void clickButton(frmMain *window, QAction *button)
{
    QTest::mouseClick(window->toolMenu->widgetForAction(button), Qt::LeftButton);
}

// Sets an option item's tick in the options dialog by its key.
void setOption(frmExtract *dialog, const QString &key, bool on)
{
    for (int i = 0; i < dialog->list->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = dialog->list->topLevelItem(i);
        if (item->data(0, Qt::UserRole).toString() == key) {
            item->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
            return;
        }
    }
    QFAIL(qPrintable("no option item " + key));
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        if (mainWindow())
            mainWindow()->close();
        deleteClosedWindows();
    }

    void addFromFolderExtractAndClose_data()
    {
        QTest::addColumn<bool>("restoreFolder");
        QTest::addColumn<QStringList>("expectedFiles");
        QTest::addColumn<QByteArray>("expectedOptions");

        QTest::newRow("name folders, stored folders restored")
            << true
            << QStringList{"docs/guide/read.txt=read me", "docs/top.txt=top", "notes/a/b/deep.txt=deep",
                           "pack/sub/one.txt=one"}
            << QByteArray("[Option]\nMakeNameFolder=1\nRestoreFolder=1\nDeleteFromList=1\nCloseDialog=1\n"
                          "SmartFolders=0\nSkipJunk=1\nNested=0\nOpenFolder=0\nTrashArchives=0\nExisting=overwrite\n");
        QTest::newRow("name folders, flattened (RAR keeps its folders)")
            << false
            << QStringList{"docs/read.txt=read me", "docs/top.txt=top", "notes/a/b/deep.txt=deep",
                           "pack/one.txt=one"}
            << QByteArray("[Option]\nMakeNameFolder=1\nRestoreFolder=0\nDeleteFromList=1\nCloseDialog=1\n"
                          "SmartFolders=0\nSkipJunk=1\nNested=0\nOpenFolder=0\nTrashArchives=0\nExisting=overwrite\n");
    }

    void addFromFolderExtractAndClose()
    {
        QFETCH(bool, restoreFolder);
        QFETCH(QStringList, expectedFiles);
        QFETCH(QByteArray, expectedOptions);

        ScriptedDialogs dialogs;
        ProgramFolder program;
        QTemporaryDir work;
        QVERIFY(program.isValid() && work.isValid());
        QVERIFY(program.addLibraries(QStringLiteral(TENVO_BIN_DIR), realLibraries));

        const QString in = work.filePath("in");
        const QString out = work.filePath("out");
        QVERIFY(QDir().mkpath(in) && QDir().mkpath(out));
        std::string error;
        QVERIFY2(writeLzh(in + "/pack.lzh", {FixtureEntry::directory("sub"), FixtureEntry::file("sub/one.txt", "one")},
                          {}, &error),
                 error.c_str());
        QVERIFY2(writeZip(in + "/docs.zip",
                          {FixtureEntry::file("top.txt", "top"), FixtureEntry::file("guide/read.txt", "read me")},
                          {}, &error),
                 error.c_str());
        QVERIFY2(writeRar5(in + "/notes.rar", {FixtureEntry::file("a/b/deep.txt", "deep")}, {}, &error),
                 error.c_str());
        ZipOptions damaged;
        damaged.corruptFirstData = true;
        QVERIFY(writeZip(in + "/broken.zip", {FixtureEntry::file("x.txt", "damaged data")}, damaged));
        QFile text(in + "/readme.txt");
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.close();

        Main(program.path());
        frmMain *window = mainWindow();
        QVERIFY(window);

        // Add every archive found in the folder.
        dialogs.folderAnswers << in;
        int listed = -1;
        ModalAnswer addAnswer([&listed](QDialog *dialog) {
            auto *addFolder = qobject_cast<frmAddFolder *>(dialog);
            if (!addFolder)
                return dialog->reject();
            listed = addFolder->list->topLevelItemCount();
            addFolder->mCheckAll->trigger();
            addFolder->Command1->click();
        });
        clickButton(window, window->keyAddFolder);
        QVERIFY(addAnswer.handled());
        QCOMPARE(listed, 4);
        QCOMPARE(window->list->topLevelItemCount(), 4);
        QVERIFY(window->keyExtract->isEnabled());

        // Extract them with the options ticked in the options dialog; the
        // progress window closes itself at the end.
        dialogs.folderAnswers << out;
        QString finalMessage;
        ModalAnswer extractAnswer([&](QDialog *dialog) {
            auto *extract = qobject_cast<frmExtract *>(dialog);
            if (!extract)
                return dialog->reject();
            setOption(extract, "makeNameFolder", true);
            setOption(extract, "restoreFolder", restoreFolder);
            setOption(extract, "deleteFromList", true);
            setOption(extract, "closeDialog", true);
            extract->cmdExtract->click();
        });
        // The results window keeps the progress window open until it is
        // closed; then both close.
        QStringList failedRows;
        QTimer resultsCloser;
        resultsCloser.callOnTimeout([&] {
            auto *results = qobject_cast<frmResults *>(QApplication::activeModalWidget());
            if (!results)
                return;
            resultsCloser.stop();
            results->list->selectAll();
            for (const QString &row : results->selectedText().split(u'\n', Qt::SkipEmptyParts)) {
                if (row.contains(inLocale(QStringLiteral("\t解凍できませんでした\t"), QStringLiteral("\tNot extracted\t"))))
                    failedRows.append(row);
            }
            results->cmdClose->click();
        });
        resultsCloser.start(10);
        clickButton(window, window->keyExtract);
        QVERIFY(extractAnswer.handled());
        // Only the damaged archive failed.
        QCOMPARE(failedRows, QStringList{in + inLocale(QStringLiteral("/broken.zip\t解凍できませんでした\t書庫ファイルが壊れています\t"),
                                                       QStringLiteral("/broken.zip\tNot extracted\tThe archive is damaged\t"))});
        QCOMPARE(dialogs.exclamations, QStringList());
        QCOMPARE(filesBelow(out), expectedFiles);

        // The command line, on the same folder with the same options, gives
        // the same files and the same summary.
        const QString cliOut = work.filePath("cli");
        QProcess cli;
        cli.start(QStringLiteral(TENVO_BIN_DIR "/tenvo"),
                  QStringList{"--extract-to", cliOut, "--name-folders"}
                      + (restoreFolder ? QStringList() : QStringList{"--flatten"}) + QStringList{in});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 1);
        QCOMPARE(filesBelow(cliOut), expectedFiles);
        QCOMPARE(QString::fromUtf8(cli.readAllStandardError()),
                 inLocale(QStringLiteral("次の書庫ファイルは解凍できませんでした\n\n"),
                          QStringLiteral("The following archives could not be extracted\n\n")) + in
                     + inLocale(QStringLiteral("/broken.zip\n　書庫ファイルが壊れています\n"),
                                QStringLiteral("/broken.zip\n  The archive is damaged\n")));
        // The list was cleared after the run, and the commands follow it.
        QCOMPARE(window->list->topLevelItemCount(), 0);
        QVERIFY(!window->keyExtract->isEnabled());

        window->setGeometry(QRect(QPoint(40, 60), QSize(600, 420)));
        const QRect outer = window->frameGeometry();
        clickButton(window, window->keyExit);
        deleteClosedWindows();
        QVERIFY(!mainWindow());

        // The folders chosen come first, as the first written.
        const QByteArray expectedIni = QStringLiteral("[Folders]\nAddFolder=%1\nDestination=%2\n")
                                           .arg(in, out)
                                           .toUtf8()
            + expectedOptions
            + QStringLiteral("[Tenvo]\nTop=%1\nLeft=%2\nWidth=%3\nHeight=%4\n")
                  .arg(outer.top())
                  .arg(outer.left())
                  .arg(outer.width())
                  .arg(outer.height())
                  .toUtf8();
        QCOMPARE(program.iniText(), expectedIni);
        QVERIFY(!dialogs.ranOutOfAnswers);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"

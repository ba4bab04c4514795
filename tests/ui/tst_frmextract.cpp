// The extraction options dialog: its controls, the settings file, and whole runs started from it.
#include "clsfolderblowserdialog.h"
#include "frmextract.h"
#include "frmprogress.h"
#include "frmresults.h"
#include "passwordstore.h"
#include "runenvironment.h"
#include "scripteddialogs.h"
#include "testlocale.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

namespace {

// Every item in the order the list shows it, the one under the name-folder
// item included.
const QStringList itemTexts{
    inLocale(QStringLiteral("解凍が終了したらリストを新規作成する"), QStringLiteral("Clear the list when extraction is done")),
    inLocale(QStringLiteral("それぞれの書庫ファイル名でフォルダを作成し、そこに解凍する"),
             QStringLiteral("Extract each archive into a new folder named after it")),
    inLocale(QStringLiteral("中身がフォルダ1つかファイル1つだけの書庫には、フォルダを作成しない"),
             QStringLiteral("No new folder for an archive holding only one folder or one file")),
    inLocale(QStringLiteral("書庫ファイル内のフォルダ構造を復元する(RAR書庫以外)"),
             QStringLiteral("Restore the folders stored in the archives (except RAR archives)")),
    inLocale(QStringLiteral("解凍が終了したら自動でダイアログを閉じる"),
             QStringLiteral("Close the dialog automatically when extraction is done")),
    inLocale(QStringLiteral("不要なファイル(__MACOSX、.DS_Store、Thumbs.db など)を解凍しない"),
             QStringLiteral("Do not extract unneeded files (__MACOSX, .DS_Store, Thumbs.db and the like)")),
    inLocale(QStringLiteral("書庫の中の書庫も解凍する(3階層まで)"),
             QStringLiteral("Also extract archives inside archives (up to 3 levels)")),
    inLocale(QStringLiteral("解凍が終了したら解凍先フォルダを開く"),
             QStringLiteral("Open the destination folder when extraction is done")),
    inLocale(QStringLiteral("すべて解凍できた書庫ファイルをごみ箱に移す"),
             QStringLiteral("Move archives extracted completely to the trash")),
};

QList<QTreeWidgetItem *> items(const frmExtract &dialog)
{
    QList<QTreeWidgetItem *> all;
    for (int i = 0; i < dialog.list->topLevelItemCount(); ++i) {
        all.append(dialog.list->topLevelItem(i));
        for (int child = 0; child < all.constLast()->childCount(); ++child)
            all.append(dialog.list->topLevelItem(i)->child(child));
    }
    return all;
}

QList<bool> checkMarks(const frmExtract &dialog)
{
    QList<bool> marks;
    for (const QTreeWidgetItem *item : items(dialog))
        marks.append(item->checkState(0) == Qt::Checked);
    return marks;
}

// The options' globals in the list's order.
QList<bool> globals()
{
    return {gDeleteFromList, gMakeNameFolder, gSmartFolders, gRestoreFolder, gCloseDialog,
            gSkipJunk,       gNested,         gOpenFolder,   gTrashArchives};
}

// Where the Tab key moves the focus from widget.
QWidget *nextTabStop(QWidget *widget)
{
    for (QWidget *next = widget->nextInFocusChain(); next != widget; next = next->nextInFocusChain()) {
        if ((next->focusPolicy() & Qt::TabFocus) && next->isEnabled())
            return next;
    }
    return nullptr;
}

// The section as a run writes it: the four options of old, then the newer
// ones at the values a first use shows.
QByteArray optionSection(bool make, bool restore, bool remove, bool close)
{
    return QStringLiteral("[Option]\nMakeNameFolder=%1\nRestoreFolder=%2\nDeleteFromList=%3\nCloseDialog=%4\n"
                          "SmartFolders=0\nSkipJunk=1\nNested=0\nOpenFolder=0\nTrashArchives=0\nExisting=overwrite\n")
        .arg(int(make)).arg(int(restore)).arg(int(remove)).arg(int(close))
        .toUtf8();
}

// Watches for the progress window while cmdExtract's modal run goes on;
// once the run has finished and the window is still there, notes what it
// shows and presses its close button, or the retry button of the results
// window when that opened.
class ProgressCloser : public QObject
{
public:
    explicit ProgressCloser(QWidget *dialog)
        : m_dialog(dialog)
    {
        connect(&m_timer, &QTimer::timeout, this, &ProgressCloser::look);
        m_timer.start(0);
    }

    bool sawRun = false;
    bool pressedClose = false;
    bool pressedRetry = false;
    QString finalText;

private:
    void look()
    {
        auto *window = m_dialog->findChild<frmProgress *>();
        if (!window || !window->isVisible())
            return;
        sawRun = true;
        if (frmResults *results = window->resultsWindow()) {
            pressedRetry = true;
            m_timer.stop();
            results->cmdRetry->click();
            return;
        }
        if (!window->cmdClose->isEnabled())
            return;
        finalText = window->lblMessage->text();
        pressedClose = true;
        m_timer.stop();
        window->cmdClose->click();
    }

    QWidget *m_dialog;
    QTimer m_timer;
};

} // namespace

// Stands in for the desktop's file manager: notes each folder it is asked to
// show.
class FileManager : public QObject
{
    Q_OBJECT

public:
    FileManager() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "show"); }
    ~FileManager() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    QStringList shown;

public slots:
    void show(const QUrl &url) { shown.append(url.toLocalFile()); }
};

class TestExtractDialog : public QObject
{
    Q_OBJECT

private slots:
    void controlsAtFirstUse()
    {
        RunEnvironment env;
        frmExtract dialog;

        QCOMPARE(dialog.windowTitle(), inLocale(QStringLiteral(" 解凍"), QStringLiteral(" Extract")));
        // Fixed in size, as wide as its longest option needs at the font.
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QVERIFY(dialog.width() >= 424);
        QCOMPARE(dialog.cmdOpenDlg->text(), QString());
        QVERIFY(!dialog.cmdOpenDlg->icon().isNull());
        QCOMPARE(dialog.Picture1->pos(), QPoint(8, 24));
        QCOMPARE(dialog.lblFolderPath->parentWidget(), dialog.Picture1);
        QCOMPARE(dialog.cmdExtract->text(), inLocale(QStringLiteral("解凍(&E)"), QStringLiteral("&Extract")));
        QCOMPARE(dialog.cmdCancel->text(), inLocale(QStringLiteral("キャンセル(&C)"), QStringLiteral("&Cancel")));
        QCOMPARE(dialog.Label2->text(), inLocale(QStringLiteral("解凍先フォルダ名"), QStringLiteral("Destination folder")));
        QCOMPARE(dialog.Label2->pos(), QPoint(8, 8));
        QCOMPARE(dialog.Label1->text(), inLocale(QStringLiteral("解凍先フォルダ名"), QStringLiteral("Destination folder")));
        QCOMPARE(dialog.Label1->pos(), QPoint(8, 64));
        QCOMPARE(dialog.list->pos(), QPoint(8, 80));
        QCOMPARE(dialog.list->columnCount(), 1);
        QCOMPARE(dialog.findChild<QTreeWidget *>(QStringLiteral("list")), dialog.list);
        QCOMPARE(dialog.lblExisting->text(), inLocale(QStringLiteral("同じ名前のファイルがあるとき"),
                                                      QStringLiteral("When a file of the same name exists")));
        QCOMPARE(dialog.cboExisting->count(), 4);
        QCOMPARE(dialog.cboExisting->itemText(2), inLocale(QStringLiteral("名前を変えて両方残す"),
                                                           QStringLiteral("Keep both under different names")));
        QCOMPARE(dialog.cboExisting->currentIndex(), 0);

        // Every control whole inside the window, none over another, and
        // every option's text whole in its row.
        const QList<QWidget *> controls{dialog.Picture1,   dialog.cmdOpenDlg, dialog.list,     dialog.cboExisting,
                                        dialog.cmdPasswords, dialog.cmdExtract, dialog.cmdCancel};
        for (QWidget *control : controls) {
            QVERIFY2(dialog.rect().contains(control->geometry()), qPrintable(control->objectName()));
            for (QWidget *other : controls)
                QVERIFY(control == other || !control->geometry().intersects(other->geometry()));
        }
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QFontMetrics metrics(dialog.list->font());
        for (QTreeWidgetItem *item : items(dialog)) {
            const QRect row = dialog.list->visualItemRect(item);
            QVERIFY2(row.isValid() && dialog.list->viewport()->rect().contains(row), qPrintable(item->text(0)));
            QVERIFY(metrics.horizontalAdvance(item->text(0)) < dialog.list->columnWidth(0) - row.left());
        }

        QStringList texts;
        for (const QTreeWidgetItem *item : items(dialog))
            texts.append(item->text(0));
        QCOMPARE(texts, itemTexts);
        // Junk files are left out until the user says otherwise; the item
        // under the name-folder option waits for it.
        QCOMPARE(checkMarks(dialog), (QList<bool>{false, false, false, false, false, true, false, false, false}));
        QVERIFY(items(dialog)[2]->isDisabled());
        items(dialog)[1]->setCheckState(0, Qt::Checked);
        QVERIFY(!items(dialog)[2]->isDisabled());

        // Tab order: folder button, extract, cancel, option list, existing files.
        QCOMPARE(nextTabStop(dialog.cmdOpenDlg), dialog.cmdExtract);
        QCOMPARE(nextTabStop(dialog.cmdExtract), dialog.cmdCancel);
        QCOMPARE(nextTabStop(dialog.cmdCancel), dialog.list);
        QCOMPARE(nextTabStop(dialog.list), dialog.cboExisting);
        QCOMPARE(nextTabStop(dialog.cboExisting), dialog.cmdPasswords);

        // The remembered passwords are listed in a window of their own.
        QCOMPARE(dialog.cmdPasswords->text(), inLocale(QStringLiteral("記憶したパスワード(&P)..."),
                                                       QStringLiteral("Remembered &Passwords...")));
        QString opened;
        QTimer closer;
        // The keyring is asked first, in an event loop of its own.
        connect(&closer, &QTimer::timeout, &dialog, [&opened, &dialog, &closer] {
            QWidget *box = QApplication::activeModalWidget();
            if (box && box != &dialog) {
                opened = QString::fromLatin1(box->metaObject()->className());
                closer.stop();
                box->close();
            }
        });
        closer.start(10);
        dialog.cmdPasswords->click();
        QCOMPARE(opened, QStringLiteral("frmPasswords"));
    }

    void optionsComeFromTheSettingsFile_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QList<bool>>("marks"); // in list order
        QTest::addColumn<int>("existing");

        QTest::newRow("name folders and closing stored")
            << QByteArray("[Option]\nMakeNameFolder=1\nRestoreFolder=0\nDeleteFromList=0\nCloseDialog=1\n")
            << QList<bool>{false, true, false, false, true, true, false, false, false} << 0;
        QTest::newRow("clearing and restoring stored")
            << QByteArray("[Option]\nMakeNameFolder=0\nRestoreFolder=-1\nDeleteFromList=1\n")
            << QList<bool>{true, false, false, true, false, true, false, false, false} << 0;
        QTest::newRow("names in another case still match")
            << QByteArray("[OPTION]\nmakenamefolder=1\n")
            << QList<bool>{false, true, false, false, false, true, false, false, false} << 0;
        QTest::newRow("the newer choices stored, junk kept")
            << QByteArray("[Option]\nSmartFolders=1\nSkipJunk=0\nNested=1\nOpenFolder=1\nTrashArchives=1\n"
                          "Existing=Rename\n")
            << QList<bool>{false, false, true, false, false, false, true, true, true} << 2;
        QTest::newRow("an unknown existing-files value overwrites")
            << QByteArray("[Option]\nExisting=delete\n")
            << QList<bool>{false, false, false, false, false, true, false, false, false} << 0;
    }

    void optionsComeFromTheSettingsFile()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QList<bool>, marks);
        QFETCH(int, existing);
        RunEnvironment env;
        QVERIFY(tenvo::fixture::writeFixtureFile(env.iniPath, ini.toStdString()));

        frmExtract dialog;

        QCOMPARE(checkMarks(dialog), marks);
        QCOMPARE(globals(), marks);
        QCOMPARE(dialog.cboExisting->currentIndex(), existing);
        QCOMPARE(int(dialog.extractOptions().existing), existing);
    }

    void tickingAnItemSetsItsOption_data()
    {
        QTest::addColumn<int>("row");

        for (int row = 0; row < itemTexts.size(); ++row)
            QTest::newRow(qPrintable(itemTexts[row])) << row;
    }

    void tickingAnItemSetsItsOption()
    {
        QFETCH(int, row);
        RunEnvironment env;
        frmExtract dialog;
        QTreeWidgetItem *item = items(dialog)[row];
        const QList<bool> before = globals();

        item->setCheckState(0, item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        QList<bool> expected = before;
        expected[row] = !expected[row];
        QCOMPARE(globals(), expected);

        item->setCheckState(0, item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        QCOMPARE(globals(), before);
    }

    void cancelWritesNothing()
    {
        RunEnvironment env;
        const QByteArray stored("[Option]\nMakeNameFolder=1\nRestoreFolder=0\nDeleteFromList=0\nCloseDialog=0\n");
        QVERIFY(tenvo::fixture::writeFixtureFile(env.iniPath, stored.toStdString()));
        {
            frmExtract dialog;
            dialog.show();
            items(dialog)[1]->setCheckState(0, Qt::Unchecked);
            items(dialog)[4]->setCheckState(0, Qt::Checked);
            dialog.cboExisting->setCurrentIndex(3);
            dialog.cmdCancel->click();
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
        QCOMPARE(env.iniText(), stored);

        frmExtract reopened;
        QCOMPARE(checkMarks(reopened), (QList<bool>{false, true, false, false, false, true, false, false, false}));
        QCOMPARE(reopened.cboExisting->currentIndex(), 0);
    }

    void openButtonChoosesTheFolder_data()
    {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("shown");

        QTest::newRow("a chosen folder gets a trailing slash") << QStringList{"/srv/data"} << "/srv/data/";
        QTest::newRow("the root stays a single slash") << QStringList{"/"} << "/";
        QTest::newRow("cancel keeps the folder") << QStringList{QString()} << "/home/start";
    }

    void openButtonChoosesTheFolder()
    {
        QFETCH(QStringList, answers);
        QFETCH(QString, shown);
        RunEnvironment env;
        ScriptedDialogs dialogs;
        dialogs.folderAnswers = answers;
        clsFolderBlowserDialog picker;
        gFolderDialog = &picker;
        frmExtract dialog;
        dialog.setFolderPath(QStringLiteral("/home/start"));

        dialog.cmdOpenDlg->click();
        gFolderDialog = nullptr;

        QCOMPARE(dialogs.folderRequests.size(), 1);
        QCOMPARE(dialogs.folderRequests[0].description, inLocale(QStringLiteral("解凍先のフォルダを指定してください"),
                                                                 QStringLiteral("Choose the destination folder")));
        QCOMPARE(dialogs.folderRequests[0].owner, &dialog);
        QVERIFY(dialogs.folderRequests[0].showNewFolderButton);
        QCOMPARE(dialog.lblFolderPath->text(), shown);
        QCOMPARE(dialog.folderPath(), shown);
    }

    void extractRunsWithTheOptions_data()
    {
        QTest::addColumn<bool>("makeNameFolder");
        QTest::addColumn<bool>("restoreFolder");
        QTest::addColumn<bool>("deleteFromList");
        QTest::addColumn<bool>("closeDialog");
        QTest::addColumn<QStringList>("files");
        // b.zip damaged; the results window's retry button is pressed.
        QTest::addColumn<bool>("damaged");
        QTest::addColumn<QStringList>("listed");

        const QStringList flat{"a.txt", "b.txt", "c.txt"};
        const QStringList all{"a.zip", "b.zip", "c.zip"};
        QTest::newRow("all options off: files side by side, list kept, window left open")
            << false << false << false << false << flat << false << all;
        QTest::newRow("name folders: each archive in a folder of its name")
            << true << false << false << false << QStringList{"a/a.txt", "b/b.txt", "c/c.txt"} << false << all;
        QTest::newRow("restore: the stored folders come back")
            << false << true << false << false << QStringList{"b.txt", "docs/a.txt", "docs/deep/c.txt"} << false
            << all;
        QTest::newRow("name folders and restore together")
            << true << true << false << false << QStringList{"a/docs/a.txt", "b/b.txt", "c/docs/deep/c.txt"} << false
            << all;
        QTest::newRow("the list is cleared afterwards") << false << false << true << false << flat << false
                                                        << QStringList();
        QTest::newRow("the window closes by itself") << false << false << false << true << flat << false << all;
        QTest::newRow("the failed archive comes back to the cleared list for another try")
            << false << false << true << true << QStringList{"a.txt", "c.txt"} << true << QStringList{"b.zip"};
        QTest::newRow("the failed archive put back into the kept list is listed once")
            << false << false << false << false << QStringList{"a.txt", "c.txt"} << true << all;
    }

    void extractRunsWithTheOptions()
    {
        QFETCH(bool, makeNameFolder);
        QFETCH(bool, restoreFolder);
        QFETCH(bool, deleteFromList);
        QFETCH(bool, closeDialog);
        QFETCH(QStringList, files);
        QFETCH(bool, damaged);
        QFETCH(QStringList, listed);

        RunEnvironment env;
        QVERIFY(env.isValid());
        QVERIFY(!env.addZip(QStringLiteral("a.zip"), {{"docs/a.txt", "alpha"}}).isEmpty());
        QVERIFY(!env.addZip(QStringLiteral("b.zip"), {{"b.txt", "bravo"}}, damaged).isEmpty());
        QVERIFY(!env.addZip(QStringLiteral("c.zip"), {{"docs/deep/c.txt", "charlie"}}).isEmpty());
        ScriptedDialogs dialogs;
        frmExtract dialog;
        // As the main window opens it: the folder as the picker gave it.
        dialog.setFolderPath(env.out.chopped(1));
        dialog.show();
        const bool wanted[] = {deleteFromList, makeNameFolder, restoreFolder, closeDialog};
        for (int row = 0; row < 4; ++row)
            dialog.list->topLevelItem(row)->setCheckState(0, wanted[row] ? Qt::Checked : Qt::Unchecked);

        ProgressCloser closer(&dialog);
        dialog.cmdExtract->click();

        QVERIFY(closer.sawRun);
        QCOMPARE(closer.pressedRetry, damaged);
        QCOMPARE(closer.pressedClose, !closeDialog && !damaged);
        if (!closeDialog && !damaged)
            QCOMPARE(closer.finalText, inLocale(QStringLiteral("解凍が終了しました"), QStringLiteral("Extraction finished")));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.findChild<frmProgress *>());
        QCOMPARE(env.filesOut(), files);
        QStringList names;
        for (int row = 0; row < env.list.getCount(); ++row)
            names.append(QFileInfo(env.list.getItem(row)).fileName());
        QCOMPARE(names, listed);
        QCOMPARE(env.archive.restoreFolder(), restoreFolder);
        QCOMPARE(env.iniText(), optionSection(makeNameFolder, restoreFolder, deleteFromList, closeDialog));
        QCOMPARE(dialogs.exclamations, QStringList());
    }

    void rememberedPasswords_data()
    {
        QTest::addColumn<bool>("keyring");
        QTest::addColumn<bool>("tick");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("ticked: the keyring keeps it and the next run asks nothing")
            << true << true << QStringList{"s3cret"};
        QTest::newRow("left unticked: nothing kept, the next run asks again") << true << false << QStringList();
        QTest::newRow("no keyring running: no tick, nothing kept") << false << true << QStringList();
    }

    // Two runs of an encrypted archive from the options dialog: the first
    // asks for its password, the second tries what the keyring holds first.
    void rememberedPasswords()
    {
        QFETCH(bool, keyring);
        QFETCH(bool, tick);
        QFETCH(QStringList, kept);
        PasswordStore store;
        const bool haveKeyring = store.available();
        if (keyring && !haveKeyring)
            QSKIP("No keyring daemon could be started (the test runs it through tests/support/withkeyring.sh, "
                  "which needs dbus-run-session and gnome-keyring-daemon)");
        while (haveKeyring && !store.passwords().isEmpty())
            QVERIFY(store.remove(0));

        RunEnvironment env;
        QVERIFY(env.isValid());
        tenvo::fixture::ZipOptions locked;
        locked.password = "s3cret";
        const QString path = env.in + QStringLiteral("locked.zip");
        QVERIFY(tenvo::fixture::writeZip(path, {tenvo::fixture::FixtureEntry::file("a.txt", "alpha")}, locked));
        QCOMPARE(env.list.addFile(path), clsListCtrl::added);
        const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        auto run = [&] {
            if (!keyring)
                qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tenvo-no-bus");
            frmExtract dialog;
            dialog.setFolderPath(env.out);
            dialog.show();
            ProgressCloser closer(&dialog);
            dialog.cmdExtract->click();
            qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
            QVERIFY(closer.sawRun);
        };

        ScriptedDialogs first;
        first.passwordAnswers = {QStringLiteral("s3cret")};
        first.passwordTicks = {tick};
        run();
        QCOMPARE(first.ticksOffered, QList<bool>{keyring});
        QCOMPARE(env.filesOut(), QStringList{"a.txt"});
        if (haveKeyring)
            QCOMPARE(store.passwords(), kept);

        QVERIFY(QFile::remove(env.out + QStringLiteral("a.txt")));
        ScriptedDialogs second;
        run();
        QCOMPARE(second.passwordPrompts.size(), kept.isEmpty() ? 1 : 0);
        QCOMPARE(env.filesOut(), kept.isEmpty() ? QStringList() : QStringList{"a.txt"});
        QCOMPARE(env.iniText().contains("s3cret"), false);
    }

    // Every choice added to the four, set in the dialog, in one run through
    // the real libraries.
    void everyNewChoiceInOneRun()
    {
        RunEnvironment env;
        QVERIFY(env.isValid());
        using tenvo::fixture::FixtureEntry;
        const std::string inner = tenvo::fixture::makeZip({FixtureEntry::file("deep.txt", "deep")});
        QVERIFY(!inner.empty());
        QVERIFY(!env.addZip(QStringLiteral("photos.zip"), {{"album/x.txt", "x"}}).isEmpty());
        QVERIFY(!env.addZip(QStringLiteral("mixed.zip"), {{"b.txt", "b"}, {"__MACOSX/._b.txt", "fork"},
                                                          {".DS_Store", "finder"}, {"inner.zip", inner}})
                     .isEmpty());
        QVERIFY(!env.addZip(QStringLiteral("note.zip"), {{"note.txt", "new"}}).isEmpty());
        QVERIFY(tenvo::fixture::writeFixtureFile(env.out + QStringLiteral("note.txt"), "old"));
        tenvo::fixture::ZipOptions rawNames;
        rawNames.names = tenvo::fixture::ZipOptions::Names::Raw;
        QVERIFY(tenvo::fixture::writeZip(env.in + QStringLiteral("euc.zip"),
                                         {FixtureEntry::file("\xC6\xFC\xCB\xDC.txt", "euc")}, rawNames));
        QCOMPARE(env.list.addFile(env.in + QStringLiteral("euc.zip")), clsListCtrl::added);
        env.list.setEncoding(3, QStringLiteral("EUC-JP"));
        // The trash of the test's own.
        const QByteArray savedData = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(env.dir.filePath(QStringLiteral("data"))));
        const auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", savedData); });
        FileManager files;
        ScriptedDialogs dialogs;
        frmExtract dialog;
        dialog.setFolderPath(env.out);
        dialog.show();
        for (QTreeWidgetItem *item : items(dialog))
            item->setCheckState(0, Qt::Checked);
        items(dialog)[0]->setCheckState(0, Qt::Unchecked); // keep the list
        items(dialog)[4]->setCheckState(0, Qt::Unchecked); // keep the window
        dialog.cboExisting->setCurrentIndex(2);

        ProgressCloser closer(&dialog);
        dialog.cmdExtract->click();

        QVERIFY(closer.pressedClose);
        // One folder for an archive of one folder, a name folder for one of
        // many, the inner archive beside itself and gone, no junk, a taken
        // name kept, the names read as chosen.
        QCOMPARE(env.filesOut(), (QStringList{"album/x.txt", "mixed/b.txt", "mixed/inner/deep.txt",
                                              "note (2).txt", "note.txt", QStringLiteral("日本.txt")}));
        QCOMPARE(files.shown, QStringList{env.out});
        QCOMPARE(QDir(env.in).entryList(QDir::Files), QStringList());
        QCOMPARE(QDir(env.dir.filePath(QStringLiteral("data/Trash/files"))).entryList(QDir::Files, QDir::Name),
                 (QStringList{"euc.zip", "mixed.zip", "note.zip", "photos.zip"}));
        QVERIFY(env.iniText().contains("SmartFolders=1\nSkipJunk=1\nNested=1\nOpenFolder=1\nTrashArchives=1\n"
                                       "Existing=rename\n"));
        QCOMPARE(dialogs.exclamations, QStringList());
    }
};

QTEST_MAIN(TestExtractDialog)
#include "tst_frmextract.moc"

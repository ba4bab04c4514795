// The main window driven through its menus, toolbar, header and keys, with
// the dialogs answered by script and stand-in archiver libraries.
#include "clsarchive.h"
#include "clslistctrl.h"
#include "frmaddfolder.h"
#include "frmextract.h"
#include "frmmain.h"
#include "frmversion.h"
#include "globals.h"
#include "manual.h"
#include "mainwindowtesting.h"
#include "nativepath.h"
#include "startup.h"
#include "testlocale.h"

#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScopeGuard>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QStringList allFakes = {QStringLiteral("unlha32.so"), QStringLiteral("cab32.so"),
                              QStringLiteral("unzip32.so"), QStringLiteral("unrar32.so")};

// Stands in for the desktop's browser: records the pages it is asked to show.
class ManualViewer : public QObject
{
    Q_OBJECT

public:
    ManualViewer() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "show"); }
    ~ManualViewer() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    QStringList shown;

public slots:
    void show(const QUrl &url) { shown.append(url.toLocalFile()); }
};

// The language of the manual the test's locale asks for.
QString localeLanguage()
{
    return qEnvironmentVariable("LC_ALL").startsWith(u"ja") ? QStringLiteral("ja") : QStringLiteral("en");
}

// The program started on stand-in libraries, with a folder for archives.
class Program
{
public:
    Program()
    {
        QVERIFY(folder.isValid() && files.isValid());
        QVERIFY(folder.addLibraries(QStringLiteral(TENVO_FAKES_DIR), allFakes));
        Main(folder.path());
        window = mainWindow();
        QVERIFY(window);
        QApplication::setActiveWindow(window);
    }

    ~Program()
    {
        if (mainWindow())
            mainWindow()->close();
        deleteClosedWindows();
    }

    // Makes a file of size bytes (folders created as needed); returns its path.
    QString file(const QString &relative, qint64 size = 0)
    {
        const QString path = files.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || !out.resize(size))
            return QString();
        return path;
    }

    QStringList names() const
    {
        QStringList result;
        for (int i = 0; i < window->list->topLevelItemCount(); ++i)
            result << window->list->topLevelItem(i)->text(0);
        return result;
    }

    void clickButton(QAction *button)
    {
        QWidget *widget = window->toolMenu->widgetForAction(button);
        QVERIFY(widget);
        QTest::mouseClick(widget, Qt::LeftButton);
    }

    void clickHeader(int column)
    {
        QHeaderView *header = window->list->header();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }

    // Delete and Extract, as toolbar and menu show them.
    QList<bool> commandState() const
    {
        return {window->keyDelete->isEnabled(), window->mDeleteList->isEnabled(),
                window->keyExtract->isEnabled(), window->mExtract->isEnabled()};
    }

    ScriptedDialogs dialogs;
    ManualViewer viewer;
    ProgramFolder folder;
    QTemporaryDir files;
    frmMain *window = nullptr;
};

const QList<bool> enabled = {true, true, true, true};
const QList<bool> disabled = {false, false, false, false};

} // namespace

class TestFrmMain : public QObject
{
    Q_OBJECT

private slots:
    void windowCaptionIconAndParts()
    {
        Program program;
        frmMain *window = program.window;
        QCOMPARE(window->windowTitle(), QStringLiteral("Tenvo"));
        // The window and every dialog show the program's icon.
        const QImage icon = programIcon().pixmap(32).toImage();
        QVERIFY(!icon.isNull());
        QCOMPARE(window->windowIcon().pixmap(32).toImage(), icon);
        QCOMPARE(frmAddFolder(window).windowIcon().pixmap(32).toImage(), icon);
        QCOMPARE(frmExtract(window).windowIcon().pixmap(32).toImage(), icon);
        QCOMPARE(frmVersion(window).windowIcon().pixmap(32).toImage(), icon);
        QCOMPARE(window->statusBar(), window->status);
        QCOMPARE(window->status->findChild<QLabel *>(QStringLiteral("announce"))->text(), QString());
        QStringList captions;
        for (int i = 0; i < window->list->columnCount(); ++i)
            captions << window->list->headerItem()->text(i);
        QCOMPARE(captions, (QStringList{inLocale(QStringLiteral("ファイル名"),
                                                 QStringLiteral("File name")), inLocale(QStringLiteral("フォルダ位置"),
                                                                                        QStringLiteral("Folder")),
                                        inLocale(QStringLiteral("圧縮形式"),
                                                 QStringLiteral("Type")), inLocale(QStringLiteral("サイズ"),
                                                                                   QStringLiteral("Size")),
                                        inLocale(QStringLiteral("文字コード"), QStringLiteral("Encoding"))}));
        // Only the list takes the keyboard focus.
        for (QAction *action : window->toolMenu->actions()) {
            if (QWidget *widget = window->toolMenu->widgetForAction(action))
                QCOMPARE(widget->focusPolicy(), Qt::NoFocus);
        }
        QVERIFY(window->list->focusPolicy() != Qt::NoFocus);
    }

    void menuItems_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QKeySequence>("shortcut");
        QTest::addColumn<bool>("isEnabled");

        const QKeySequence none;
        QTest::newRow("the file menu starts with a new list on Ctrl+N")
            << "mFile" << 0 << "mNewList" << inLocale(" リストを新規作成(&N) ",
                                                      " &New List ") << QKeySequence(QStringLiteral("Ctrl+N")) << true;
        QTest::newRow("a separator follows new list") << "mFile" << 1 << "mspltr" << "" << none << true;
        QTest::newRow("then adding one archive file") << "mFile" << 2 << "mAddList" << inLocale(" 書庫ファイルを追加(&A) ",
                                                                                                " &Add Archive... ") << none << true;
        QTest::newRow("then adding archives from a folder")
            << "mFile" << 3 << "mFolderList" << inLocale(" 書庫ファイルをフォルダから追加(&F) ",
                                                         " Add Archives from &Folder... ") << none << true;
        QTest::newRow("then removing from the list, enabled at start")
            << "mFile" << 4 << "mDeleteList" << inLocale(" リストから削除(&D) ", " &Remove from List ") << none << true;
        QTest::newRow("a second separator") << "mFile" << 5 << "msplter" << "" << none << true;
        QTest::newRow("exit closes the file menu on Ctrl+Q")
            << "mFile" << 6 << "mEnd" << inLocale(" 終了(&E) ",
                                                  " E&xit ") << QKeySequence(QStringLiteral("Ctrl+Q")) << true;
        QTest::newRow("the operations menu holds extract, enabled at start")
            << "mCtrl" << 0 << "mExtract" << inLocale(" 解凍(&E) ", " &Extract ") << none << true;
        QTest::newRow("help opens the manual on F1, without a trailing blank")
            << "mHelp" << 0 << "mHelpView" << inLocale(" ヘルプ(&H)",
                                                       " &Help") << QKeySequence(QStringLiteral("F1")) << true;
        QTest::newRow("a separator in the help menu") << "mHelp" << 1 << "mspltr2" << "" << none << true;
        QTest::newRow("version information ends the help menu")
            << "mHelp" << 2 << "mVersion" << inLocale(" バージョン情報(&V) ", " &About Tenvo ") << none << true;
        QTest::newRow("the hidden debug menu lists the supported formats")
            << "mDebug" << 0 << "mListupType" << inLocale("対応形式表示", "Show Supported Formats") << none << true;
        QTest::newRow("and a general-purpose check") << "mDebug" << 1 << "mDebugs" << inLocale("汎用デバッグ",
                                                                                               "General Debugging") << none << true;
    }

    void menuItems()
    {
        QFETCH(QString, menu);
        QFETCH(int, position);
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QKeySequence, shortcut);
        QFETCH(bool, isEnabled);

        // As designed: the program refreshes Delete and Extract once the list
        // has the focus.
        frmMain window;
        auto *owner = window.findChild<QMenu *>(menu);
        QVERIFY(owner);
        const QList<QAction *> items = owner->actions();
        QVERIFY(position < items.size());
        QAction *item = items.at(position);
        QCOMPARE(item->objectName(), name);
        QCOMPARE(item->isSeparator(), caption.isEmpty());
        if (!caption.isEmpty())
            QCOMPARE(item->text(), caption);
        QCOMPARE(item->shortcut(), shortcut);
        QCOMPARE(item->isEnabled(), isEnabled);
    }

    void helpOpensTheManual_data()
    {
        QTest::addColumn<QString>("way");

        QTest::newRow("the help button") << "keyHelp";
        QTest::newRow("the help menu's item") << "mHelpView";
        QTest::newRow("F1 on the list") << "F1";
    }

    void helpOpensTheManual()
    {
        QFETCH(QString, way);

        Program program;
        frmMain *window = program.window;
        if (way == u"keyHelp")
            program.clickButton(window->keyHelp);
        else if (way == u"mHelpView")
            window->mHelpView->trigger();
        else
            QTest::keyClick(window->list, Qt::Key_F1);
        // From the build tree: the source tree's page, in the locale's language.
        QCOMPARE(program.viewer.shown.size(), 1);
        QCOMPARE(QFileInfo(program.viewer.shown[0]).canonicalFilePath(),
                 QFileInfo(QStringLiteral(TENVO_SOURCE_DIR "/docs/manual/") + localeLanguage()
                           + QStringLiteral("/index.html")).canonicalFilePath());
        QCOMPARE(program.dialogs.exclamations, QStringList());
    }

    void manualInAnInstalledPrefix_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("found");

        const QStringList both = {QStringLiteral("ja"), QStringLiteral("en")};
        QTest::newRow("Japanese for a Japanese locale") << both << "ja" << "ja";
        QTest::newRow("English for any other") << both << "en" << "en";
        QTest::newRow("the other language when one is missing") << QStringList{"en"} << "ja" << "en";
        QTest::newRow("none installed: a message says where it was looked for") << QStringList() << "ja" << "";
    }

    void manualInAnInstalledPrefix()
    {
        QFETCH(QStringList, installed);
        QFETCH(QString, language);
        QFETCH(QString, found);

        QTemporaryDir prefix;
        QVERIFY(prefix.isValid() && QDir(prefix.path()).mkdir(QStringLiteral("bin")));
        const auto page = [&prefix](const QString &language) {
            return prefix.filePath(QStringLiteral("share/doc/tenvo/manual/") + language + QStringLiteral("/index.html"));
        };
        for (const QString &each : installed) {
            QVERIFY(QDir().mkpath(QFileInfo(page(each)).path()));
            QFile file(page(each));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QString appPath = prefix.filePath(QStringLiteral("bin/"));
        QCOMPARE(manualPath(appPath, language), found.isEmpty() ? QString() : page(found));

        ScriptedDialogs dialogs;
        ManualViewer viewer;
        openManual(nullptr, appPath);
        if (found.isEmpty()) {
            QCOMPARE(viewer.shown, QStringList());
            QCOMPARE(dialogs.exclamations,
                     QStringList{inLocale("マニュアルが見つかりません\n\n", "The manual was not found\n\n") + page(localeLanguage())});
        } else {
            QCOMPARE(viewer.shown.size(), 1);
            QCOMPARE(dialogs.exclamations, QStringList());
        }
    }

    void menuBarOrderAndHiddenDebugMenu()
    {
        Program program;
        QStringList titles;
        QList<bool> visible;
        for (QAction *action : program.window->menuBar()->actions()) {
            titles << action->text();
            visible << action->isVisible();
        }
        QCOMPARE(titles, (QStringList{inLocale(QStringLiteral(" ファイル(&F) "),
                                               QStringLiteral(" &File ")), inLocale(QStringLiteral(" 操作(&C) "),
                                                                                    QStringLiteral(" &Actions ")),
                                      inLocale(QStringLiteral(" ヘルプ(&H) "),
                                               QStringLiteral(" &Help ")), inLocale(QStringLiteral("デバッグ(&D)"),
                                                                                    QStringLiteral("&Debug"))}));
        QCOMPARE(visible, (QList<bool>{true, true, true, false}));
    }

    void toolbarButtons_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("hasImage");

        QTest::newRow("1: new list") << 1 << "keyNew" << inLocale("新規リスト", "New List") << true;
        QTest::newRow("2: a separator") << 2 << "" << "" << false;
        QTest::newRow("3: add a file") << 3 << "keyAddFile" << inLocale("追加", "Add") << true;
        QTest::newRow("4: add from a folder") << 4 << "keyAddFolder" << inLocale("フォルダから追加", "Add Folder") << true;
        QTest::newRow("5: remove from the list") << 5 << "keyDelete" << inLocale("リストから削除", "Remove") << true;
        QTest::newRow("6: a separator") << 6 << "" << "" << false;
        QTest::newRow("7: extract") << 7 << "keyExtract" << inLocale("解凍", "Extract") << true;
        QTest::newRow("8: a separator") << 8 << "" << "" << false;
        QTest::newRow("9: help") << 9 << "keyHelp" << inLocale("ヘルプ", "Help") << true;
        QTest::newRow("10: exit, without an image") << 10 << "keyExit" << inLocale("終了", "Exit") << false;
    }

    void toolbarButtons()
    {
        QFETCH(int, position);
        QFETCH(QString, key);
        QFETCH(QString, caption);
        QFETCH(bool, hasImage);

        Program program;
        QToolBar *toolbar = program.window->toolMenu;
        QCOMPARE(toolbar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        const QList<QAction *> buttons = toolbar->actions();
        QCOMPARE(buttons.size(), 10);
        QAction *button = buttons.at(position - 1);
        QCOMPARE(button->isSeparator(), key.isEmpty());
        if (key.isEmpty())
            return;
        QCOMPARE(button->objectName(), key);
        QCOMPARE(button->text(), caption);
        QCOMPARE(!button->icon().isNull(), hasImage);
    }

    void addFileMessages_data()
    {
        QTest::addColumn<QStringList>("picks");
        QTest::addColumn<QStringList>("expectedMessages");
        QTest::addColumn<QStringList>("expectedRows");

        const QString notSupported = inLocale(QStringLiteral("\n\nこのファイルは対応していません"),
                                              QStringLiteral("\n\nThis file is not supported"));
        const QString already = inLocale(QStringLiteral("\n\n既にリストに登録されています"),
                                         QStringLiteral("\n\nAlready in the list"));
        QTest::newRow("a supported file is added without a message")
            << QStringList{"data/a.lzh"} << QStringList{} << QStringList{"a.lzh"};
        QTest::newRow("a file of no registered type is refused with its path and message")
            << QStringList{"data/notes.txt"} << QStringList{"%T/data/notes.txt" + notSupported} << QStringList{};
        QTest::newRow("an extension in another case is still supported")
            << QStringList{"data/B.Zip"} << QStringList{} << QStringList{"B.Zip"};
        QTest::newRow("the same file picked twice stays one row and is reported")
            << QStringList{"data/a.lzh", "data/a.lzh"} << QStringList{"%T/data/a.lzh" + already}
            << QStringList{"a.lzh"};
        QTest::newRow("a cancelled pick changes nothing and says nothing")
            << QStringList{""} << QStringList{} << QStringList{};
    }

    void addFileMessages()
    {
        QFETCH(QStringList, picks);
        QFETCH(QStringList, expectedMessages);
        QFETCH(QStringList, expectedRows);

        Program program;
        for (const QString &pick : picks) {
            program.dialogs.fileAnswers << (pick.isEmpty() ? QString() : program.file(pick));
            program.clickButton(program.window->keyAddFile);
        }
        for (QString &message : expectedMessages)
            message.replace(QStringLiteral("%T"), program.files.path());
        QCOMPARE(program.dialogs.exclamations, expectedMessages);
        for (QWidget *owner : program.dialogs.exclamationOwners)
            QCOMPARE(owner, program.window);
        QCOMPARE(program.names(), expectedRows);
        QVERIFY(!program.dialogs.ranOutOfAnswers);
    }

    void droppedFilesAndFolders_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("listedBefore");
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<QStringList>("expectedRows");
        QTest::addColumn<QStringList>("expectedMessages");

        QTest::newRow("a dropped archive joins the list without a message")
            << QStringList{"data/a.lzh"} << QStringList{} << QStringList{"data/a.lzh"} << QStringList{"a.lzh"}
            << QStringList{};
        QTest::newRow("a dropped folder adds what its scan finds, by name, then its matching sub-folder")
            << QStringList{"data/a.lzh", "data/b.zip", "data/notes.txt", "data/docs/c.rar", "data/old.lzh/x.lzh"}
            << QStringList{} << QStringList{"data"} << QStringList{"a.lzh", "b.zip", "x.lzh"} << QStringList{};
        QTest::newRow("refused items are reported together in one message")
            << QStringList{"data/a.lzh", "data/b.zip", "data/notes.txt", "empty/readme"}
            << QStringList{"data/a.lzh"} << QStringList{"data/a.lzh", "data/notes.txt", "empty", "data/b.zip"}
            << QStringList{"a.lzh", "b.zip"}
            << QStringList{inLocale(QStringLiteral("次のファイルは追加できませんでした\n\n%T/data/a.lzh\n　既にリストに登録されています\n"
                                                   "%T/data/notes.txt\n　このファイルは対応していません\n"
                                                   "%T/empty\n　書庫ファイルが見つかりません"),
                                    QStringLiteral("The following files could not be added\n\n%T/data/a.lzh\n  Already in the list\n"
                                                   "%T/data/notes.txt\n  This file is not supported\n"
                                                   "%T/empty\n  No archive files found"))};
        QTest::newRow("parts of a set, dropped or found in a dropped folder, list it once by its first")
            << QStringList{"data/a.zip.001", "data/a.zip.002", "data/a.zip.003", "data/s.z01", "data/s.zip",
                           "data/notes.001", "data/lone.zip.002"}
            << QStringList{} << QStringList{"data", "data/a.zip.003", "data/s.z01", "data/lone.zip.002"}
            << QStringList{"a.zip.001", "s.zip", "lone.zip.002"} << QStringList{};
        QTest::newRow("names not in UTF-8, dropped or found in a dropped folder, are listed readable")
            << QStringList{pathFromNative("data/\x83\\.lzh"), pathFromNative("odd/caf\xe9.zip")} << QStringList{}
            << QStringList{pathFromNative("data/\x83\\.lzh"), "odd"} << QStringList{"ソ.lzh", "caf\\xe9.zip"}
            << QStringList{};
    }

    void droppedFilesAndFolders()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, listedBefore);
        QFETCH(QStringList, dropped);
        QFETCH(QStringList, expectedRows);
        QFETCH(QStringList, expectedMessages);

        Program program;
        // Qt can neither make nor remove names that are not UTF-8.
        QList<QByteArray> made;
        const auto removeMade = qScopeGuard([&] {
            for (const QByteArray &name : made)
                ::unlink(name.constData());
        });
        for (const QString &file : files) {
            if (!hasNativeBytes(file)) {
                QVERIFY(!program.file(file).isEmpty());
                continue;
            }
            const QString path = program.files.filePath(file);
            QVERIFY(makeFolders(path.left(path.lastIndexOf(u'/'))));
            made << nativePath(path);
            QCOMPARE(::close(::creat(made.last().constData(), 0644)), 0);
        }
        for (const QString &file : listedBefore)
            QCOMPARE(gListCtrl->addFile(program.files.filePath(file)), clsListCtrl::added);

        auto *data = new QMimeData;
        QList<QUrl> urls;
        // A file manager sends such a name as its bytes, percent-escaped.
        for (const QString &path : dropped)
            urls << (hasNativeBytes(path) ? QUrl(QStringLiteral("file://")
                                                 + QString::fromLatin1(nativePath(program.files.filePath(path))
                                                                           .toPercentEncoding("/")))
                                          : QUrl::fromLocalFile(program.files.filePath(path)));
        data->setUrls(urls);
        QWidget *target = program.window->list->viewport();
        const QPointF at = QPointF(target->rect().center());
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        QVERIFY(drop.isAccepted());
        delete data;

        for (QString &message : expectedMessages)
            message.replace(QStringLiteral("%T"), program.files.path());
        QCOMPARE(program.names(), expectedRows);
        QCOMPARE(program.dialogs.exclamations, expectedMessages);
        QCOMPARE(program.commandState(), expectedRows.isEmpty() ? disabled : enabled);
    }

    void toolbarRefreshesCommandStateButMenuDoesNot()
    {
        Program program;
        frmMain *window = program.window;
        window->list->setFocus(Qt::OtherFocusReason);
        QCOMPARE(program.commandState(), disabled);

        program.dialogs.fileAnswers << program.file("a.lzh");
        window->mAddList->trigger();
        QCOMPARE(program.names(), QStringList{"a.lzh"});
        QCOMPARE(program.commandState(), disabled); // stale after a menu command

        program.clickButton(window->keyHelp); // help refreshes the state too
        QCOMPARE(program.commandState(), enabled);

        window->mNewList->trigger();
        QCOMPARE(program.names(), QStringList{});
        QCOMPARE(program.commandState(), enabled); // stale again
        window->mDeleteList->trigger();           // reachable, does nothing
        QCOMPARE(program.names(), QStringList{});

        program.dialogs.fileAnswers << program.file("b.lzh");
        program.clickButton(window->keyAddFile);
        QCOMPARE(program.commandState(), enabled);
        program.clickButton(window->keyNew);
        QCOMPARE(program.names(), QStringList{});
        QCOMPARE(program.commandState(), disabled);

        program.dialogs.fileAnswers << program.file("c.lzh");
        program.clickButton(window->keyAddFile);
        program.clickButton(window->keyDelete);
        QCOMPARE(program.names(), QStringList{});
        QCOMPARE(program.commandState(), disabled);

        // The list getting the focus refreshes a stale state.
        program.dialogs.fileAnswers << program.file("d.lzh");
        window->mAddList->trigger();
        QCOMPARE(program.commandState(), disabled);
        window->toolMenu->setFocus(Qt::OtherFocusReason);
        window->list->setFocus(Qt::TabFocusReason);
        QCOMPARE(program.commandState(), enabled);
    }

    void addFileDialogOpensWhereTheLastArchiveWas()
    {
        Program program;
        program.dialogs.fileAnswers << program.file("書庫/a.lzh") << QString();
        program.window->mAddList->trigger();
        program.window->mAddList->trigger();
        QCOMPARE(program.dialogs.openStarts,
                 (QStringList{QDir::homePath(), program.files.filePath("書庫")}));
        QVERIFY(QString::fromUtf8(program.folder.iniText())
                    .contains(QStringLiteral("[Folders]\nAddFile=") + program.files.filePath("書庫") + u'\n'));
    }

    void choosingFromTheOpenedMenuLeavesTheStateStale()
    {
        Program program;
        frmMain *window = program.window;
        window->list->setFocus(Qt::OtherFocusReason);
        QCOMPARE(gListCtrl->addFile(program.file("a.lzh")), clsListCtrl::added);
        program.clickButton(window->keyHelp);
        QCOMPARE(program.commandState(), enabled);

        // The file menu opened from the menu bar, its item chosen by its
        // access key: the menu closes and the list is emptied.
        window->menuBar()->setActiveAction(window->mFile->menuAction());
        QVERIFY(window->mFile->isVisible());
        QTest::keyClick(window->mFile, Qt::Key_N);
        QVERIFY(!window->mFile->isVisible());
        QCOMPARE(program.names(), QStringList{});
        QCOMPARE(program.commandState(), enabled);
    }

    void aMenuOpenedAndDismissedDoesNotRefreshTheState()
    {
        Program program;
        frmMain *window = program.window;
        window->list->setFocus(Qt::OtherFocusReason);
        program.dialogs.fileAnswers << program.file("a.lzh");
        window->mAddList->trigger();
        QCOMPARE(program.commandState(), disabled);

        // The focus comes back to the list from the closing menu; the list
        // never lost it to another control.
        window->menuBar()->setActiveAction(window->mCtrl->menuAction());
        QVERIFY(window->mCtrl->isVisible());
        QTest::keyClick(window->mCtrl, Qt::Key_Escape);
        QVERIFY(!window->mCtrl->isVisible());
        QCOMPARE(program.commandState(), disabled);
    }

    void deleteKey()
    {
        Program program;
        frmMain *window = program.window;
        QTest::keyClick(window->list, Qt::Key_Delete); // empty list: nothing happens
        QCOMPARE(program.names(), QStringList{});

        for (const char *name : {"1.lzh", "2.lzh", "3.lzh"})
            QCOMPARE(gListCtrl->addFile(program.file(name)), clsListCtrl::added);
        window->list->setCurrentItem(window->list->topLevelItem(1));
        QTest::keyClick(window->list, Qt::Key_Delete);
        QCOMPARE(program.names(), (QStringList{"1.lzh", "3.lzh"}));
        QCOMPARE(program.commandState(), enabled);
        QTest::keyClick(window->list, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(program.names(), QStringList{"1.lzh"});
        QCOMPARE(program.commandState(), enabled);
        QTest::keyClick(window->list, Qt::Key_Delete);
        QCOMPARE(program.names(), QStringList{});
        QCOMPARE(program.commandState(), disabled);
    }

    void resizeRule_data()
    {
        QTest::addColumn<QSize>("inner");
        QTest::addColumn<QRect>("expected");

        // Design heights: toolbar 37, status bar 17.
        QTest::newRow("the design size places the list from 40 down to 18 above the bottom")
            << QSize(619, 507) << QRect(0, 40, 617, 449);
        QTest::newRow("an inner height of 58 leaves the list where it was") << QSize(619, 58) << QRect();
        QTest::newRow("one pixel more places it again, 1 pixel high") << QSize(619, 59) << QRect(0, 40, 617, 1);
        QTest::newRow("an inner width of 2 leaves the list where it was") << QSize(2, 400) << QRect();
        QTest::newRow("one pixel more places it again, 1 pixel wide") << QSize(3, 400) << QRect(0, 40, 1, 342);
        QTest::newRow("a minimised window (no inner area) leaves the list") << QSize(0, 0) << QRect();
    }

    void resizeRule()
    {
        QFETCH(QSize, inner);
        QFETCH(QRect, expected);
        const std::optional<QRect> placement = frmMain::listPlacement(inner, 37, 17);
        QCOMPARE(placement.has_value(), expected.isValid());
        if (placement)
            QCOMPARE(*placement, expected);
    }

    void resizingTheWindowPlacesTheList_data()
    {
        QTest::addColumn<int>("extraHeight");
        QTest::addColumn<bool>("placed");

        QTest::newRow("an inner area just too low for the list leaves it") << 0 << false;
        QTest::newRow("one pixel more gives the list a height of 1") << 1 << true;
        QTest::newRow("a tall window gives it the rest") << 300 << true;
    }

    void resizingTheWindowPlacesTheList()
    {
        QFETCH(int, extraHeight);
        QFETCH(bool, placed);

        Program program;
        frmMain *window = program.window;
        const int toolbar = window->toolMenu->height();
        const int statusBar = window->status->height();
        const int reserved = toolbar + 3 + statusBar + 1;
        const QRect before = window->list->geometry();
        const int menu = window->height() - window->innerSize().height();
        window->resize(500, menu + reserved + extraHeight);
        QCOMPARE(window->innerSize(), QSize(500, reserved + extraHeight));

        const QRect list = QRect(window->list->mapTo(window, QPoint(0, 0)), window->list->size());
        if (!placed) {
            QCOMPARE(window->list->geometry(), before);
            return;
        }
        // Three pixels below the toolbar as it is on screen, the full width
        // less the border, and all the height there is.
        const int toolbarBottom = window->toolMenu->mapTo(window, QPoint(0, toolbar)).y();
        QCOMPARE(list.top(), toolbarBottom + 3);
        QCOMPARE(list.left(), 0);
        QCOMPARE(list.width(), 498);
        QCOMPARE(list.height(), extraHeight);
        // One pixel is left between the list and the status bar.
        QCOMPARE(window->status->mapTo(window, QPoint(0, 0)).y() - (list.bottom() + 1), 1);
    }

    void columnClicksSortDescendingFirstThenFlip()
    {
        Program program;
        frmMain *window = program.window;
        // Sizes 9KB, 10KB and 100KB: as text "100KB" < "10KB" < "9KB".
        QCOMPARE(gListCtrl->addFile(program.file("d1/b.lzh", 10000)), clsListCtrl::added);
        QCOMPARE(gListCtrl->addFile(program.file("d3/a.zip", 9000)), clsListCtrl::added);
        QCOMPARE(gListCtrl->addFile(program.file("d2/c.cab", 100000)), clsListCtrl::added);
        QVERIFY(!window->isSorted());

        const struct {
            int column;
            Qt::SortOrder order;
            QStringList names;
        } clicks[] = {
            {0, Qt::DescendingOrder, {"c.cab", "b.lzh", "a.zip"}}, // first click: descending
            {2, Qt::AscendingOrder, {"c.cab", "b.lzh", "a.zip"}},  // another column: flips anyway
            {2, Qt::DescendingOrder, {"a.zip", "b.lzh", "c.cab"}},
            {1, Qt::AscendingOrder, {"b.lzh", "c.cab", "a.zip"}},  // folders d1, d2, d3
            {3, Qt::DescendingOrder, {"a.zip", "b.lzh", "c.cab"}}, // sizes sort as text
            {3, Qt::AscendingOrder, {"c.cab", "b.lzh", "a.zip"}},
        };
        for (const auto &click : clicks) {
            program.clickHeader(click.column);
            QVERIFY(window->isSorted());
            QCOMPARE(window->sortKey(), click.column);
            QCOMPARE(window->sortOrder(), click.order);
            QCOMPARE(program.names(), click.names);
        }
        // A sorted list stays sorted: "5KB" goes between "10KB" and "9KB".
        program.dialogs.fileAnswers << program.file("d0/e.rar", 5000);
        program.clickButton(window->keyAddFile);
        QCOMPARE(program.names(), (QStringList{"c.cab", "b.lzh", "e.rar", "a.zip"}));
    }

    void addFromFolderOpensTheDialogOnTheChosenFolder_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("label");

        QTest::newRow("a folder gets its trailing slash") << "%T/data" << "%T/data/";
        QTest::newRow("the root keeps its single slash") << "/" << "/";
        QTest::newRow("a cancelled picker opens no dialog") << "" << "";
    }

    void addFromFolderOpensTheDialogOnTheChosenFolder()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, label);

        Program program;
        QDir().mkpath(program.files.filePath("data"));
        chosen.replace(QStringLiteral("%T"), program.files.path());
        label.replace(QStringLiteral("%T"), program.files.path());
        program.dialogs.folderAnswers << (chosen.isEmpty() ? QString() : chosen);

        QString seen;
        ModalAnswer answer([&seen](QDialog *dialog) {
            auto *addFolder = qobject_cast<frmAddFolder *>(dialog);
            if (!addFolder)
                return dialog->reject();
            seen = addFolder->folderPath();
            addFolder->Command2->click();
        });
        program.clickButton(program.window->keyAddFolder);

        QCOMPARE(program.dialogs.folderRequests.size(), 1);
        QCOMPARE(program.dialogs.folderRequests[0].description,
                 inLocale(QStringLiteral("書庫ファイルのあるフォルダを指定してください"),
                          QStringLiteral("Choose the folder holding the archive files")));
        QCOMPARE(program.dialogs.folderRequests[0].owner, program.window);
        QCOMPARE(answer.handled(), !label.isEmpty());
        QCOMPARE(seen, label);
    }

    void startExtractPassesTheChosenFolderUnchanged_data()
    {
        QTest::addColumn<QString>("chosen");

        QTest::newRow("a folder without its trailing slash") << "%T/out";
        QTest::newRow("a cancelled picker opens no dialog") << "";
    }

    void startExtractPassesTheChosenFolderUnchanged()
    {
        QFETCH(QString, chosen);

        Program program;
        QCOMPARE(gListCtrl->addFile(program.file("a.lzh")), clsListCtrl::added);
        program.clickButton(program.window->keyHelp);
        chosen.replace(QStringLiteral("%T"), program.files.path());
        program.dialogs.folderAnswers << (chosen.isEmpty() ? QString() : chosen);
        QString seen;
        ModalAnswer answer([&seen](QDialog *dialog) {
            auto *extract = qobject_cast<frmExtract *>(dialog);
            if (!extract)
                return dialog->reject();
            seen = extract->folderPath();
            extract->cmdCancel->click();
        });
        program.window->mExtract->trigger();

        QCOMPARE(program.dialogs.folderRequests.size(), 1);
        QCOMPARE(program.dialogs.folderRequests[0].description, inLocale(QStringLiteral("解凍先のフォルダを指定してください"),
                                                                         QStringLiteral("Choose the destination folder")));
        QCOMPARE(answer.handled(), !chosen.isEmpty());
        QCOMPARE(seen, chosen);
    }

    void nameEncodingChosenFromTheListsContextMenu()
    {
        Program program;
        frmMain *window = program.window;
        const QString log = program.files.filePath(QStringLiteral("calls.log"));
        qputenv("TENVO_FAKE_LOG", QFile::encodeName(log));
        const auto unsetLog = qScopeGuard([] { qunsetenv("TENVO_FAKE_LOG"); });
        QCOMPARE(gListCtrl->addFile(program.file("a.lzh")), clsListCtrl::added);
        QCOMPARE(gListCtrl->addFile(program.file("b.lzh")), clsListCtrl::added);
        const int column = window->list->columnCount() - 1;
        QCOMPARE(window->list->headerItem()->text(column), inLocale(QStringLiteral("文字コード"),
                                                                    QStringLiteral("Encoding")));

        // Every choice, the row's own checked, on the row under the pointer.
        const auto openMenuOn = [window](int row) {
            QTreeWidgetItem *item = window->list->topLevelItem(row);
            window->list->setCurrentItem(item);
            window->list_ContextMenu(window->list->visualItemRect(item).center());
            QStringList captions;
            QString checked;
            for (QAction *action : window->mEncoding->actions()) {
                captions << action->text();
                if (action->isChecked())
                    checked = action->text();
            }
            return std::pair{captions, checked};
        };
        const auto [captions, checked] = openMenuOn(0);
        QVERIFY(window->mListMenu->isVisible());
        QCOMPARE(window->mEncoding->title(), inLocale(QStringLiteral("ファイル名の文字コード"),
                                                      QStringLiteral("File Name Encoding")));
        QCOMPARE(captions, (QStringList{inLocale(QStringLiteral("自動"),
                                                 QStringLiteral("Automatic")), "Shift_JIS", "UTF-8", "EUC-JP", "GBK", "Big5",
                                        "EUC-KR", "CP437"}));
        QCOMPARE(checked, inLocale(QStringLiteral("自動"), QStringLiteral("Automatic")));
        window->mEncoding->actions().at(3)->trigger();
        window->mListMenu->close();
        QCOMPARE(window->list->topLevelItem(0)->text(column), QStringLiteral("EUC-JP"));
        QCOMPARE(window->list->topLevelItem(1)->text(column), QString());
        QCOMPARE(openMenuOn(0).second, QStringLiteral("EUC-JP"));
        window->mListMenu->close();
        QCOMPARE(openMenuOn(1).second, inLocale(QStringLiteral("自動"), QStringLiteral("Automatic")));
        window->mListMenu->close();

        // Extracting hands the choice to that archive's library call only.
        program.clickButton(window->keyHelp);
        program.dialogs.folderAnswers << program.files.path();
        ModalAnswer answer([](QDialog *dialog) {
            auto *extract = qobject_cast<frmExtract *>(dialog);
            if (!extract)
                return dialog->reject();
            for (int i = 0; i < extract->list->topLevelItemCount(); ++i) {
                QTreeWidgetItem *item = extract->list->topLevelItem(i);
                if (item->data(0, Qt::UserRole).toString() == QStringLiteral("closeDialog"))
                    item->setCheckState(0, Qt::Checked);
            }
            extract->cmdExtract->click();
        });
        window->mExtract->trigger();
        QVERIFY(answer.handled());
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList calls;
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.startsWith("Unlha\t"))
                calls << QString::fromUtf8(line).section(u'\t', 1, 1).section(u'"', 0, 1);
        }
        calls.sort();
        QCOMPARE(calls, (QStringList{QStringLiteral("e \"") + program.files.filePath("b.lzh"),
                                     QStringLiteral("e --names=EUC-JP \"") + program.files.filePath("a.lzh")}));
    }

    void aboutWindowShowsTitleAndVersionEveryTime()
    {
        Program program;
        for (int opening = 0; opening < 2; ++opening) {
            QString title;
            QString text;
            bool openAfterImageClick = false;
            ModalAnswer answer([&](QDialog *dialog) {
                auto *about = qobject_cast<frmVersion *>(dialog);
                if (!about)
                    return dialog->reject();
                title = about->windowTitle();
                text = about->lblTitle->text();
                QVERIFY(!about->Image1->pixmap().isNull());
                QCOMPARE(about->Command1->text(), inLocale(QStringLiteral("閉じる"), QStringLiteral("Close")));
                QTest::mouseClick(about->Image1, Qt::LeftButton);
                openAfterImageClick = about->isVisible();
                about->Command1->click();
            });
            program.window->mVersion->trigger();
            QVERIFY(answer.handled());
            QCOMPARE(title, inLocale(QStringLiteral("バージョン情報"), QStringLiteral("About Tenvo")));
            QCOMPARE(text, inLocale(QStringLiteral("書庫ファイル一括解凍ユーティリティ\n\n\nTenvo ver2.1 ( release build 1206.3 )"),
                                    QStringLiteral("Batch extraction utility for archive files\n\n\nTenvo ver2.1 ( release build 1206.3 )")));
            QVERIFY(openAfterImageClick);
        }
    }

    void diagnosticCheckShowsTheLibrarysAnswer_data()
    {
        QTest::addColumn<QString>("check");
        QTest::addColumn<QString>("expected");

        QTest::newRow("an archive the library accepts") << "1" << "True";
        QTest::newRow("a file the library refuses") << "0" << "False";
    }

    void diagnosticCheckShowsTheLibrarysAnswer()
    {
        QFETCH(QString, check);
        QFETCH(QString, expected);

        qputenv("TENVO_FAKE_CHECK", check.toLatin1());
        Program program;
        QCOMPARE(gListCtrl->addFile(program.file("a.lzh")), clsListCtrl::added);
        program.window->mListupType->trigger();
        QVERIFY(program.dialogs.exclamations.isEmpty());
        program.window->mDebugs->trigger();
        qunsetenv("TENVO_FAKE_CHECK");
        // A plain box: the answer is no warning.
        QCOMPARE(program.dialogs.plainMessages, QStringList{expected});
        QVERIFY(program.dialogs.exclamations.isEmpty());
    }

    void newListShortcut()
    {
        Program program;
        QCOMPARE(gListCtrl->addFile(program.file("a.lzh")), clsListCtrl::added);
        QTest::keyClick(program.window, Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(program.names(), QStringList{});
    }

    void everyWayOfExitingClosesAndSaves_data()
    {
        QTest::addColumn<QString>("way");

        QTest::newRow("the toolbar's exit button") << "keyExit";
        QTest::newRow("the file menu's exit item") << "mEnd";
        QTest::newRow("Ctrl+Q") << "Ctrl+Q";
        QTest::newRow("the window's close box") << "close";
    }

    void everyWayOfExitingClosesAndSaves()
    {
        QFETCH(QString, way);

        Program program;
        QPointer<frmMain> window = program.window;
        if (way == u"keyExit")
            program.clickButton(window->keyExit);
        else if (way == u"mEnd")
            window->mEnd->trigger();
        else if (way == u"Ctrl+Q")
            QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
        else
            window->close();
        deleteClosedWindows();

        QVERIFY(!window);
        QVERIFY(!gListCtrl && !gFolderDialog && !gArchive && !gIniCtrl);
        const QByteArray ini = program.folder.iniText();
        QVERIFY2(ini.contains("[Tenvo]") && ini.contains("Width=") && ini.contains("Height="), ini.constData());
    }
};

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"

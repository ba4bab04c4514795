// Start-up and shut-down: the registered libraries' filter handed to the
// open-file dialog, the placement read from and written to the settings file,
// the first-start size, the globals' life, and later starts reaching the one
// open window.
#include "clsarchive.h"
#include "clsfolderblowserdialog.h"
#include "clsinictrl.h"
#include "clslistctrl.h"
#include "frmmain.h"
#include "globals.h"
#include "instanceserver.h"
#include "mainwindowtesting.h"
#include "module1.h"
#include "qtuserdialogs.h"
#include "singleinstance.h"
#include "startup.h"
#include "testlocale.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {

QRect primaryArea()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

// The four placement values as the settings file holds them.
QRect storedPlacement(const QString &iniPath)
{
    clsINICtrl ini;
    ini.setFile(iniPath);
    return QRect(ini.getLong("Tenvo", "Left"), ini.getLong("Tenvo", "Top"), ini.getLong("Tenvo", "Width"),
                 ini.getLong("Tenvo", "Height"));
}

QStringList listRows(QTreeWidget *list)
{
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows << list->topLevelItem(i)->text(0);
    return rows;
}

// A program folder holding a copy of the program and, when asked, its window
// library: a start that opened a window of its own there fails without it,
// and any settings it wrote would land there. Later starts run in a runtime
// folder and on a display of their own, never meeting the user's window.
struct LoneProgram {
    explicit LoneProgram(bool withWindow)
    {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        qputenv("DISPLAY", ":tenvo-test");
        qunsetenv("WAYLAND_DISPLAY");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        copied = QFile::copy(QStringLiteral(TENVO_BIN_DIR "/tenvo"), program())
            && (!withWindow || QFile::link(QStringLiteral(TENVO_BIN_DIR "/tenvo-window.so"),
                                           folder.filePath("tenvo-window.so")));
    }
    QString program() const { return folder.filePath("tenvo"); }

    QTemporaryDir folder, runtime, config;
    bool copied = false;
};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        if (mainWindow())
            mainWindow()->close();
        deleteClosedWindows();
    }

    void filterHandedToTheOpenFileDialog_data()
    {
        QTest::addColumn<QStringList>("libraries");
        QTest::addColumn<QString>("filter");

        QTest::newRow("all four libraries give five pairs")
            << QStringList{"unlha32.so", "cab32.so", "unzip32.so", "unrar32.so"}
            << inLocale(" 対応する形式(", " Supported formats(")
                   + "*.LZH,*.LHA,*.CAB,*.ZIP,*.RAR)| *.LZH;*.LHA;*.CAB;*.ZIP;*.RAR;| LHA (*.LZH,*.LHA) | *.LZH;*.LHA| "
                     "CAB (*.CAB) | *.CAB| ZIP (*.ZIP) | *.ZIP| RAR (*.RAR) | *.RAR| ";
        QTest::newRow("only unzip32 gives ZIP alone")
            << QStringList{"unzip32.so"} << inLocale(" 対応する形式(*.ZIP)| *.ZIP;| ZIP (*.ZIP) | *.ZIP| ",
                                                     " Supported formats(*.ZIP)| *.ZIP;| ZIP (*.ZIP) | *.ZIP| ");
        QTest::newRow("only 7-zip32 gives ZIP and 7z")
            << QStringList{"7-zip32.so"}
            << inLocale(" 対応する形式(*.ZIP,*.7Z)| *.ZIP;*.7Z;| ZIP (*.ZIP) | *.ZIP| 7Z (*.7Z) | *.7Z| ",
                        " Supported formats(*.ZIP,*.7Z)| *.ZIP;*.7Z;| ZIP (*.ZIP) | *.ZIP| 7Z (*.7Z) | *.7Z| ");
        QTest::newRow("unlha32 and unrar32 give LHA then RAR")
            << QStringList{"unrar32.so", "unlha32.so"}
            << inLocale(" 対応する形式(*.LZH,*.LHA,*.RAR)| *.LZH;*.LHA;*.RAR;| LHA (*.LZH,*.LHA) | *.LZH;*.LHA| RAR (*.RAR) | *.RAR| ",
                        " Supported formats(*.LZH,*.LHA,*.RAR)| *.LZH;*.LHA;*.RAR;| LHA (*.LZH,*.LHA) | *.LZH;*.LHA| RAR (*.RAR) | *.RAR| ");
        QTest::newRow("no library at all") << QStringList{} << inLocale("対応する形式はありません|*.nohavedllfiles",
                                                                        "No supported formats|*.nohavedllfiles");
    }

    void filterHandedToTheOpenFileDialog()
    {
        QFETCH(QStringList, libraries);
        QFETCH(QString, filter);

        ScriptedDialogs dialogs;
        ProgramFolder folder;
        QVERIFY(folder.addLibraries(QStringLiteral(TENVO_FAKES_DIR), libraries));
        Main(folder.path());
        frmMain *window = mainWindow();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->cmdlg.Filter, filter);

        dialogs.fileAnswers << QString();
        window->mAddList->trigger();
        QCOMPARE(dialogs.openFilters, QStringList{filter});
        QCOMPARE(dialogs.openOwners, QList<QWidget *>{window});
    }

    void openFileDialogOffersThePairsInOrder()
    {
        const QString filter = buildFilter({{"LHA", "LZH", "unlha32.dll"}, {"CAB", "CAB", "cab32.dll"},
                                            {"ZIP", "ZIP", "unzip32.dll"}, {"RAR", "RAR", "unrar32.dll"}});
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setNameFilter(QtUserDialogs::qtFilter(filter));
        const QStringList offered = dialog.nameFilters();
        QCOMPARE(offered.size(), 5);
        const QStringList starts = {inLocale("対応する形式", "Supported formats"), "LHA", "CAB", "ZIP", "RAR"};
        for (int i = 0; i < 5; ++i)
            QVERIFY2(offered[i].startsWith(starts[i]), qPrintable(offered[i]));
        // The file system tells a.lzh from a.LZH; both are offered, and .lha as well.
        QVERIFY2(offered[1].endsWith("(*.LZH *.lzh *.LHA *.lha)"), qPrintable(offered[1]));
    }

    void startUpMakesTheGlobalsAndShutDownReleasesThem()
    {
        ScriptedDialogs dialogs;
        ProgramFolder folder;
        QVERIFY(folder.addLibraries(QStringLiteral(TENVO_FAKES_DIR), {"unlha32.so"}));
        Main(folder.path());
        QPointer<frmMain> window = mainWindow();
        QVERIFY(window);
        QVERIFY(gListCtrl && gFolderDialog && gArchive && gIniCtrl);
        QCOMPARE(gIniCtrl->file(), folder.iniPath());
        QVERIFY(gArchive->isSupportFile("/x/a.lzh") >= 0);
        QVERIFY(gArchive->isSupportFile("/x/a.zip") < 0);
        QVERIFY(gFolderDialog->ShowNewFolderButton());

        // The list model is bound to the window's list.
        QFile file(folder.path() + "a.lzh");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QCOMPARE(gListCtrl->addFile(file.fileName()), 0);
        QCOMPARE(window->list->topLevelItemCount(), 1);

        window->close();
        QVERIFY(!gListCtrl && !gFolderDialog && !gArchive && !gIniCtrl);
        deleteClosedWindows();
        QVERIFY(!window);
        QVERIFY(!mainWindow());
    }

    void filesGivenAtStartJoinTheListOnceTheWindowIsUp()
    {
        ScriptedDialogs dialogs;
        ProgramFolder program;
        QTemporaryDir files;
        QVERIFY(program.isValid() && files.isValid());
        QVERIFY(program.addLibraries(QStringLiteral(TENVO_FAKES_DIR), {"unlha32.so", "unzip32.so"}));
        for (const char *name : {"a.lzh", "more/b.zip", "notes.txt"}) {
            QVERIFY(QDir(files.path()).mkpath(QFileInfo(files.filePath(name)).path()));
            QFile file(files.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }

        Main(program.path());
        addStartPaths({files.filePath("a.lzh"), files.filePath("more"), files.filePath("notes.txt")});
        QCOMPARE(mainWindow()->list->topLevelItemCount(), 0);
        QCoreApplication::processEvents();
        QStringList rows;
        for (int i = 0; i < mainWindow()->list->topLevelItemCount(); ++i)
            rows << mainWindow()->list->topLevelItem(i)->text(0);
        QCOMPARE(rows, (QStringList{"a.lzh", "b.zip"}));
        QCOMPARE(dialogs.exclamations, QStringList{inLocale("次のファイルは追加できませんでした\n\n",
                                                            "The following files could not be added\n\n") + files.filePath("notes.txt")
                                                   + inLocale("\n　このファイルは対応していません", "\n  This file is not supported")});
        QCOMPARE(dialogs.exclamationOwners, QList<QWidget *>{mainWindow()});
    }

    void anotherStartJoinsTheOpenWindow_data()
    {
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QStringList>("names"); // relative to the later start's working folder
        QTest::addColumn<QString>("window"); // open, minimized, modal (a dialog over it), closed
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("exclamations");
        QTest::addColumn<int>("exitCode"); // 2: the later start went on to a window of its own

        QTest::newRow("two files, one with a Japanese name and a space, join the list")
            << QStringList{"a.lzh"} << QStringList{"テスト ファイル.lzh", "sub/b.zip"} << "open"
            << QStringList{"a.lzh", "テスト ファイル.lzh", "b.zip"} << 0 << 0;
        QTest::newRow("a name with a newline joins, one already listed is refused as at start")
            << QStringList{"a.lzh"} << QStringList{"a.lzh", "two\nlines.zip"} << "open"
            << QStringList{"a.lzh", "two\nlines.zip"} << 1 << 0;
        QTest::newRow("a start without files brings the minimized window back")
            << QStringList{"a.lzh"} << QStringList{} << "minimized" << QStringList{"a.lzh"} << 0 << 0;
        QTest::newRow("files sent while a modal window is open join once it closes")
            << QStringList{} << QStringList{"a.lzh", "sub/b.zip"} << "modal" << QStringList{"a.lzh", "b.zip"} << 0
            << 0;
        QTest::newRow("a window that is closing takes nothing; the later start keeps its files")
            << QStringList{} << QStringList{"a.lzh"} << "closed" << QStringList{} << 0 << 2;
    }

    void anotherStartJoinsTheOpenWindow()
    {
        QFETCH(QStringList, listed);
        QFETCH(QStringList, names);
        QFETCH(QString, window);
        QFETCH(QStringList, rows);
        QFETCH(int, exclamations);
        QFETCH(int, exitCode);

        ScriptedDialogs dialogs;
        ProgramFolder program;
        QTemporaryDir files;
        LoneProgram second(false);
        QVERIFY(second.copied && files.isValid());
        QVERIFY(program.addLibraries(QStringLiteral(TENVO_FAKES_DIR), {"unlha32.so", "unzip32.so"}));
        for (const QString &name : listed + names) {
            QVERIFY(QDir(files.path()).mkpath(QFileInfo(files.filePath(name)).path()));
            QFile file(files.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }

        Main(program.path());
        const QPointer<frmMain> first = mainWindow();
        InstanceServer instance;
        QCOMPARE(instance.claim({}), InstanceServer::Listening);
        instance.setReceiver(&addPathsFromAnotherStart);
        for (const QString &name : listed)
            QCOMPARE(gListCtrl->addFile(files.filePath(name)), 0);
        if (window == u"minimized")
            first->showMinimized();
        QPointer<QDialog> modal;
        if (window == u"modal") {
            modal = new QDialog(first);
            modal->setModal(true);
            modal->show();
        }
        if (window == u"closed")
            first->close();

        QProcess later;
        later.setWorkingDirectory(files.path());
        QSignalSpy finished(&later, &QProcess::finished);
        later.start(second.program(), names);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
        QCOMPARE(later.exitStatus(), QProcess::NormalExit);
        QCOMPARE(later.exitCode(), exitCode);
        if (window == u"modal") {
            QCoreApplication::processEvents();
            QCOMPARE(listRows(first->list), listed);
            delete modal;
        }
        if (first) {
            QTRY_COMPARE(listRows(first->list), rows);
            QVERIFY(!first->isMinimized());
        }
        QCOMPARE(dialogs.exclamations.size(), exclamations);
        // The later start wrote no settings: not beside itself, not in the user's folder.
        QCOMPARE(QDir(second.folder.path()).entryList(QDir::Files), QStringList{"tenvo"});
        QCOMPARE(QDir(second.config.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{});
    }

    void aSocketLeftByACrashedWindowIsTakenOver()
    {
        LoneProgram program(true);
        QVERIFY(program.copied);
        // A socket file nobody listens on, as a killed window leaves it.
        const QByteArray name = QFile::encodeName(instanceServerName());
        const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
        QCOMPARE(::bind(stale, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
        ::close(stale);
        QCOMPARE(sendToRunningInstance({}), InstanceReply::NoInstance);

        QProcess window;
        window.start(program.program(), QStringList{});
        QVERIFY(window.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sendToRunningInstance({}) == InstanceReply::Delivered, 30000);
        QCOMPARE(window.state(), QProcess::Running);
        window.kill();
        QVERIFY(window.waitForFinished());
    }

    void storedPlacementIsRestoredAndWrittenBack()
    {
        ScriptedDialogs dialogs;
        ProgramFolder folder;
        QVERIFY(folder.writeIni("[Tenvo]\nTop=100\nLeft=50\nWidth=640\nHeight=480\n"));
        Main(folder.path());
        frmMain *window = mainWindow();
        QVERIFY(window);
        QCOMPARE(window->frameGeometry(), QRect(50, 100, 640, 480));

        window->close();
        QCOMPARE(storedPlacement(folder.iniPath()), QRect(50, 100, 640, 480));
        QCOMPARE(folder.iniText(), QByteArray("[Tenvo]\nTop=100\nLeft=50\nWidth=640\nHeight=480\n"));
    }

    void movedWindowIsWrittenOnClose()
    {
        ScriptedDialogs dialogs;
        ProgramFolder folder;
        QVERIFY(folder.writeIni("[Option]\nMakeNameFolder=1\n[Tenvo]\nTop=100\nLeft=50\nWidth=640\nHeight=480\n"));
        Main(folder.path());
        frmMain *window = mainWindow();
        window->setGeometry(QRect(QPoint(70, 90), QSize(600, 450)));
        const QRect outer = window->frameGeometry();
        window->close();
        QCOMPARE(storedPlacement(folder.iniPath()), outer);
        QVERIFY(folder.iniText().startsWith("[Option]\nMakeNameFolder=1\n[Tenvo]\n"));
    }

    void firstStartOpensAtDesignSizeCentred_data()
    {
        QTest::addColumn<QByteArray>("ini");

        QTest::newRow("no settings file at all") << QByteArray();
        QTest::newRow("a settings file without the window's section") << QByteArray("[Option]\nCloseDialog=1\n");
        QTest::newRow("a stored width of 0") << QByteArray("[Tenvo]\nTop=10\nLeft=10\nWidth=0\nHeight=400\n");
        QTest::newRow("a stored height of 0") << QByteArray("[Tenvo]\nTop=10\nLeft=10\nWidth=500\nHeight=0\n");
        QTest::newRow("a negative size") << QByteArray("[Tenvo]\nTop=10\nLeft=10\nWidth=-500\nHeight=-400\n");
        QTest::newRow("sizes edited by hand into words")
            << QByteArray("[Tenvo]\nTop=10\nLeft=10\nWidth=wide\nHeight=tall\n");
        QTest::newRow("empty values") << QByteArray("[Tenvo]\nTop=\nLeft=\nWidth=\nHeight=\n");
    }

    void firstStartOpensAtDesignSizeCentred()
    {
        QFETCH(QByteArray, ini);

        ScriptedDialogs dialogs;
        ProgramFolder folder;
        if (!ini.isEmpty())
            QVERIFY(folder.writeIni(ini));
        Main(folder.path());
        frmMain *window = mainWindow();
        QVERIFY(window);
        QCOMPARE(window->innerSize(), QSize(619, 507));
        QCOMPARE(window->frameGeometry().center(), primaryArea().center());

        // The list fills the design area as the resize rule places it.
        QCOMPARE(window->list->width(), 617);
        QCOMPARE(window->list->mapTo(window, QPoint(0, 0)).y(),
                 window->height() - 507 + window->toolMenu->height() + 3);

        const QRect outer = window->frameGeometry();
        window->close();
        QVERIFY(QFile::exists(folder.iniPath()));
        QCOMPARE(storedPlacement(folder.iniPath()), outer);
    }

    void placementOffTheScreenIsBroughtBack_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QPoint>("topLeft"); // centred: centred on the primary screen

        const QPoint centred(-1, -1);
        QTest::newRow("far to the right of every screen")
            << QByteArray("[Tenvo]\nTop=100\nLeft=30000\nWidth=400\nHeight=300\n") << centred;
        QTest::newRow("above and left of every screen")
            << QByteArray("[Tenvo]\nTop=-2000\nLeft=-2000\nWidth=400\nHeight=300\n") << centred;
        QTest::newRow("a position edited by hand into words keeps the size, centred")
            << QByteArray("[Tenvo]\nTop=up\nLeft=left\nWidth=400\nHeight=300\n") << centred;
        QTest::newRow("partly above and left of the screen is moved wholly onto it")
            << QByteArray("[Tenvo]\nTop=-100\nLeft=-100\nWidth=400\nHeight=300\n") << QPoint(0, 0);
        QTest::newRow("written at another scale, hanging over the right and bottom, is moved wholly onto it")
            << QStringLiteral("[Tenvo]\nTop=%1\nLeft=%2\nWidth=400\nHeight=300\n")
                   .arg(primaryArea().bottom() - 200).arg(primaryArea().right() - 300).toUtf8()
            << primaryArea().bottomRight() - QPoint(399, 299);
        QTest::newRow("wholly on the screen stays where it was")
            << QByteArray("[Tenvo]\nTop=20\nLeft=30\nWidth=400\nHeight=300\n") << QPoint(30, 20);
    }

    void placementOffTheScreenIsBroughtBack()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QPoint, topLeft);

        ScriptedDialogs dialogs;
        ProgramFolder folder;
        QVERIFY(folder.writeIni(ini));
        Main(folder.path());
        frmMain *window = mainWindow();
        QVERIFY(window);
        QCOMPARE(window->frameGeometry().size(), QSize(400, 300));
        if (topLeft == QPoint(-1, -1))
            QCOMPARE(window->frameGeometry().center(), primaryArea().center());
        else
            QCOMPARE(window->frameGeometry().topLeft(), topLeft);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"

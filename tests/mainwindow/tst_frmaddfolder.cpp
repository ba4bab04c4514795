// The add-from-folder dialog: listing, ticking, adding to the main list,
// refreshing, choosing another folder and the pop-up menu, with folder
// choices answered by script and stand-in archiver libraries.
#include "clslistctrl.h"
#include "frmaddfolder.h"
#include "frmmain.h"
#include "globals.h"
#include "mainwindowtesting.h"
#include "nativepath.h"
#include "startup.h"
#include "testlocale.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolBar>
#include <QTreeWidget>
#include <QScopeGuard>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The program started on the given stand-in libraries, with a folder tree of
// files to scan.
class Program
{
public:
    explicit Program(const QStringList &libraries)
    {
        QVERIFY(folder.isValid() && files.isValid());
        QVERIFY(folder.addLibraries(QStringLiteral(TENVO_FAKES_DIR), libraries));
        Main(folder.path());
        window = mainWindow();
        QVERIFY(window);
    }

    ~Program()
    {
        if (mainWindow())
            mainWindow()->close();
        deleteClosedWindows();
    }

    QString path(const QString &relative) const { return files.filePath(relative); }

    void file(const QString &relative, qint64 size = 0)
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        QFile out(path(relative));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.resize(size));
    }

    // The main list as "folder + name" per row.
    QStringList mainList() const
    {
        QStringList rows;
        for (int i = 0; i < window->list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *row = window->list->topLevelItem(i);
            rows << row->text(1) + row->text(0);
        }
        return rows;
    }

    // Opens the dialog from the toolbar and runs answer on it.
    bool openDialog(const QString &chosen, const std::function<void(frmAddFolder *)> &answer)
    {
        dialogs.folderAnswers << chosen;
        ModalAnswer modal([&answer](QDialog *dialog) {
            auto *addFolder = qobject_cast<frmAddFolder *>(dialog);
            if (!addFolder)
                return dialog->reject();
            answer(addFolder);
            // An answer that failed half-way must not leave the dialog open.
            if (addFolder->isVisible())
                addFolder->reject();
        });
        QTest::mouseClick(window->toolMenu->widgetForAction(window->keyAddFolder), Qt::LeftButton);
        return modal.handled();
    }

    ScriptedDialogs dialogs;
    ProgramFolder folder;
    QTemporaryDir files;
    frmMain *window = nullptr;
};

// The dialog's rows as "name type size" plus a tick mark.
QStringList rows(const frmAddFolder *dialog)
{
    QStringList result;
    for (int i = 0; i < dialog->list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *row = dialog->list->topLevelItem(i);
        QString text = row->text(0) + u' ' + row->text(1) + u' ' + row->text(2);
        if (row->checkState(0) == Qt::Checked)
            text += QStringLiteral(" [x]");
        result << text;
    }
    return result;
}

void tick(frmAddFolder *dialog, const QString &name)
{
    const QList<QTreeWidgetItem *> found = dialog->list->findItems(name, Qt::MatchExactly, 0);
    QCOMPARE(found.size(), 1);
    found.first()->setCheckState(0, Qt::Checked);
}

void rightClick(frmAddFolder *dialog, Qt::MouseButton button = Qt::RightButton)
{
    QTest::mouseClick(dialog->list->viewport(), button, {}, QPoint(20, 20));
}

const QStringList lhaAndZip = {QStringLiteral("unlha32.so"), QStringLiteral("unzip32.so")};

} // namespace

class TestFrmAddFolder : public QObject
{
    Q_OBJECT

private slots:
    void addingFromFoldersEndToEnd()
    {
        Program program(lhaAndZip);
        program.file("data/a.lzh", 1500);
        program.file("data/b.zip");
        program.file("data/notes.txt");
        program.file("data/docs/c.lzh");    // an ordinary sub-folder is not entered
        program.file("data/old.lzh/x.lzh"); // a matching one is, but not listed itself
        program.file("other/d.zip", 2500);
        const QString data = program.path("data");
        const QString other = program.path("other");

        // The first opening lists the folder's archives by name, then those of
        // the matching sub-folder, every row unticked; the ticked ones go to
        // the main list in the list's order, each with its own folder.
        bool ok = program.openDialog(data, [&](frmAddFolder *dialog) {
            QCOMPARE(dialog->windowTitle(), inLocale(QStringLiteral(" 書庫ファイルをフォルダから追加"),
                                                     QStringLiteral(" Add Archives from Folder")));
            QCOMPARE(dialog->lblFolderPath->text(), data + u'/');
            QCOMPARE(rows(dialog), (QStringList{"a.lzh LZH 2KB", "b.zip ZIP 0KB", "x.lzh LZH 0KB"}));
            tick(dialog, "b.zip");
            tick(dialog, "x.lzh");
            dialog->Command1->click();
        });
        QVERIFY(ok);
        QCOMPARE(program.mainList(), (QStringList{data + "/b.zip", data + "/old.lzh/x.lzh"}));

        // A ticked file already in the main list is skipped without a word.
        ok = program.openDialog(data, [&](frmAddFolder *dialog) {
            tick(dialog, "a.lzh");
            tick(dialog, "b.zip");
            dialog->Command1->click();
        });
        QVERIFY(ok);
        QCOMPARE(program.mainList(), (QStringList{data + "/b.zip", data + "/old.lzh/x.lzh", data + "/a.lzh"}));
        QVERIFY(program.dialogs.exclamations.isEmpty());

        // Refresh loses the ticks; another folder replaces the list; a
        // cancelled choice keeps it; cancel adds nothing.
        ok = program.openDialog(data, [&](frmAddFolder *dialog) {
            dialog->mCheckAll->trigger();
            QCOMPARE(rows(dialog), (QStringList{"a.lzh LZH 2KB [x]", "b.zip ZIP 0KB [x]", "x.lzh LZH 0KB [x]"}));
            dialog->Command4->click();
            QCOMPARE(rows(dialog), (QStringList{"a.lzh LZH 2KB", "b.zip ZIP 0KB", "x.lzh LZH 0KB"}));

            program.dialogs.folderAnswers << other;
            dialog->cmdOpenDlg->click();
            QCOMPARE(dialog->lblFolderPath->text(), other + u'/');
            QCOMPARE(rows(dialog), QStringList{"d.zip ZIP 2KB"});
            tick(dialog, "d.zip");

            program.dialogs.folderAnswers << QString();
            dialog->cmdOpenDlg->click();
            QCOMPARE(dialog->lblFolderPath->text(), other + u'/');
            QCOMPARE(rows(dialog), QStringList{"d.zip ZIP 2KB [x]"});
            dialog->Command2->click();
        });
        QVERIFY(ok);
        QCOMPARE(program.mainList().size(), 3);

        QCOMPARE(program.dialogs.folderRequests.size(), 5);
        for (const ScriptedDialogs::FolderRequest &request : program.dialogs.folderRequests)
            QCOMPARE(request.description, inLocale(QStringLiteral("書庫ファイルのあるフォルダを指定してください"),
                                                   QStringLiteral("Choose the folder holding the archive files")));
        QCOMPARE(program.dialogs.folderRequests[3].ownerName, QStringLiteral("frmAddFolder"));
        QVERIFY(!program.dialogs.ranOutOfAnswers);
    }

    void listingOrderIsByName_data()
    {
        QTest::addColumn<QStringList>("libraries");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("messages");

        QTest::newRow("all four types, .lha with .lzh, by name whatever the type, 2 before 10, a CP932 name decoded")
            << QStringList{"unlha32.so", "cab32.so", "unzip32.so", "unrar32.so"}
            << QStringList{"a.zip", "c.cab", "l.lzh", "M.LZH", "r.rar", "x2.lha", "x10.zip", "ソ.lzh"} << QStringList{};
        QTest::newRow("only ZIP and RAR leave the others out")
            << QStringList{"unzip32.so", "unrar32.so"} << QStringList{"a.zip", "r.rar", "x10.zip"} << QStringList{};
        QTest::newRow("without any library nothing is listed")
            << QStringList{} << QStringList{} << QStringList{};
    }

    void listingOrderIsByName()
    {
        QFETCH(QStringList, libraries);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, messages);

        Program program(libraries);
        for (const char *name : {"r.rar", "x10.zip", "a.zip", "c.cab", "x2.lha", "l.lzh", "M.LZH", "readme"})
            program.file(QStringLiteral("data/") + QLatin1String(name));
        // "ソ.lzh" named in CP932 bytes, as an older Japanese system wrote it.
        const QByteArray cp932 = QFile::encodeName(program.path("data/")) + "\x83\x5c.lzh";
        const int fd = ::open(cp932.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        const auto removeIt = qScopeGuard([&] { ::unlink(cp932.constData()); });
        QStringList names;
        const bool ok = program.openDialog(program.path("data"), [&](frmAddFolder *dialog) {
            for (int i = 0; i < dialog->list->topLevelItemCount(); ++i)
                names << dialog->list->topLevelItem(i)->text(0);
            dialog->mCheckAll->trigger();
            dialog->Command1->click();
        });
        QVERIFY(ok);
        QCOMPARE(names, expected);
        QCOMPARE(program.mainList().size(), expected.size());
        // The decoded row leads to the file by its own bytes.
        if (expected.contains("ソ.lzh")) {
            QStringList paths;
            for (int i = 0; i < gListCtrl->getCount(); ++i)
                paths << gListCtrl->getItem(i);
            QVERIFY(paths.contains(pathFromNative(cp932)));
        }
        QCOMPARE(program.dialogs.exclamations, messages);
    }

    void popupMenuFollowsTheList_data()
    {
        QTest::addColumn<bool>("withArchives");

        QTest::newRow("an empty list offers both items disabled") << false;
        QTest::newRow("a filled list offers both items enabled") << true;
    }

    void popupMenuFollowsTheList()
    {
        QFETCH(bool, withArchives);

        Program program(lhaAndZip);
        QDir().mkpath(program.path("data"));
        if (withArchives) {
            program.file("data/a.lzh");
            program.file("data/b.zip");
        }
        frmAddFolder dialog(program.window);
        dialog.setFolderPath(program.path("data") + u'/');
        dialog.show();
        QCOMPARE(dialog.list->topLevelItemCount(), withArchives ? 2 : 0);
        QCOMPARE(dialog.mPopup->title(), QStringLiteral("_"));
        QCOMPARE(dialog.mCheckAll->text(), inLocale(QStringLiteral("すべて選択"), QStringLiteral("Select All")));
        QCOMPARE(dialog.mCheckOff->text(), inLocale(QStringLiteral("すべての選択を解除"), QStringLiteral("Deselect All")));

        rightClick(&dialog, Qt::LeftButton);
        QVERIFY(!dialog.mPopup->isVisible());

        rightClick(&dialog);
        QVERIFY(dialog.mPopup->isVisible());
        QCOMPARE(dialog.mCheckAll->isEnabled(), withArchives);
        QCOMPARE(dialog.mCheckOff->isEnabled(), withArchives);
        dialog.mPopup->close();

        if (withArchives) {
            dialog.mCheckAll->trigger();
            QCOMPARE(rows(&dialog), (QStringList{"a.lzh LZH 0KB [x]", "b.zip ZIP 0KB [x]"}));
            dialog.mCheckOff->trigger();
            QCOMPARE(rows(&dialog), (QStringList{"a.lzh LZH 0KB", "b.zip ZIP 0KB"}));
        }
    }

    void addWithNothingTickedAddsNothing()
    {
        Program program(lhaAndZip);
        program.file("data/a.lzh");
        const bool ok = program.openDialog(program.path("data"), [](frmAddFolder *dialog) {
            QCOMPARE(dialog->list->topLevelItemCount(), 1);
            dialog->Command1->click();
            QVERIFY(!dialog->isVisible());
        });
        QVERIFY(ok);
        QCOMPARE(program.mainList(), QStringList{});
    }

    void folderNamesThatLookLikeMarkupShowAsTyped()
    {
        Program program(lhaAndZip);
        program.file("<b>x</b>/a.lzh");
        frmAddFolder dialog(program.window);
        const QString folder = program.path("<b>x</b>") + u'/';
        dialog.setFolderPath(folder);
        QCOMPARE(dialog.lblFolderPath->textFormat(), Qt::PlainText);
        QCOMPARE(dialog.lblFolderPath->text(), folder);
        dialog.show();
        QCOMPARE(rows(&dialog), QStringList{"a.lzh LZH 0KB"});
    }
};

QTEST_MAIN(TestFrmAddFolder)
#include "tst_frmaddfolder.moc"

// The extraction options dialog: its controls, the settings file, and whole runs started from it.
#include "clsfolderblowserdialog.h"
#include "frmextract.h"
#include "frmprogress.h"
#include "passwordstore.h"
#include "runenvironment.h"
#include "scripteddialogs.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

namespace {

const QStringList itemTexts{
    QStringLiteral("解凍が終了したらリストを新規作成する"),
    QStringLiteral("それぞれの書庫ファイル名でフォルダを作成し、そこに解凍する"),
    QStringLiteral("書庫ファイル内のフォルダ構造を復元する(RAR書庫以外)"),
    QStringLiteral("解凍が終了したら自動でダイアログを閉じる"),
};

QList<bool> checkMarks(const frmExtract &dialog)
{
    QList<bool> marks;
    for (int i = 0; i < dialog.list->topLevelItemCount(); ++i)
        marks.append(dialog.list->topLevelItem(i)->checkState(0) == Qt::Checked);
    return marks;
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

QByteArray optionSection(bool make, bool restore, bool remove, bool close)
{
    return QStringLiteral("[Option]\nMakeNameFolder=%1\nRestoreFolder=%2\nDeleteFromList=%3\nCloseDialog=%4\n")
        .arg(int(make)).arg(int(restore)).arg(int(remove)).arg(int(close))
        .toUtf8();
}

// Watches for the progress window while cmdExtract's modal run goes on;
// once the run has finished and the window is still there, notes what it
// shows and presses its close button.
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
    QString finalText;

private:
    void look()
    {
        auto *window = m_dialog->findChild<frmProgress *>();
        if (!window || !window->isVisible())
            return;
        sawRun = true;
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

class TestExtractDialog : public QObject
{
    Q_OBJECT

private slots:
    void controlsAtFirstUse()
    {
        RunEnvironment env;
        frmExtract dialog;

        QCOMPARE(dialog.windowTitle(), QStringLiteral(" 解凍"));
        QCOMPARE(dialog.minimumSize(), QSize(424, 228));
        QCOMPARE(dialog.maximumSize(), QSize(424, 228));
        QCOMPARE(dialog.cmdOpenDlg->geometry(), QRect(384, 24, 25, 25));
        QCOMPARE(dialog.cmdOpenDlg->text(), QString());
        QVERIFY(!dialog.cmdOpenDlg->icon().isNull());
        QCOMPARE(dialog.Picture1->geometry(), QRect(8, 24, 369, 25));
        QCOMPARE(dialog.lblFolderPath->parentWidget(), dialog.Picture1);
        QCOMPARE(dialog.cmdExtract->geometry(), QRect(200, 192, 97, 25));
        QCOMPARE(dialog.cmdExtract->text(), QStringLiteral("解凍(&E)"));
        QCOMPARE(dialog.cmdCancel->geometry(), QRect(312, 192, 97, 25));
        QCOMPARE(dialog.cmdCancel->text(), QStringLiteral("キャンセル(&C)"));
        QCOMPARE(dialog.Label2->text(), QStringLiteral("解凍先フォルダ名"));
        QCOMPARE(dialog.Label2->pos(), QPoint(8, 8));
        QCOMPARE(dialog.Label1->text(), QStringLiteral("解凍先フォルダ名"));
        QCOMPARE(dialog.Label1->pos(), QPoint(8, 64));
        QCOMPARE(dialog.list->geometry(), QRect(8, 80, 409, 97));
        QCOMPARE(dialog.list->columnCount(), 1);
        QCOMPARE(dialog.list->columnWidth(0), 400);
        QCOMPARE(dialog.findChild<QTreeWidget *>(QStringLiteral("list")), dialog.list);

        QStringList texts;
        for (int i = 0; i < dialog.list->topLevelItemCount(); ++i)
            texts.append(dialog.list->topLevelItem(i)->text(0));
        QCOMPARE(texts, itemTexts);
        QCOMPARE(checkMarks(dialog), (QList<bool>{false, false, false, false}));

        // Tab order: folder button, extract, cancel, option list.
        QCOMPARE(nextTabStop(dialog.cmdOpenDlg), dialog.cmdExtract);
        QCOMPARE(nextTabStop(dialog.cmdExtract), dialog.cmdCancel);
        QCOMPARE(nextTabStop(dialog.cmdCancel), dialog.list);
    }

    void optionsComeFromTheSettingsFile_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QList<bool>>("marks"); // in list order

        QTest::newRow("name folders and closing stored")
            << QByteArray("[Option]\nMakeNameFolder=1\nRestoreFolder=0\nDeleteFromList=0\nCloseDialog=1\n")
            << QList<bool>{false, true, false, true};
        QTest::newRow("clearing and restoring stored")
            << QByteArray("[Option]\nMakeNameFolder=0\nRestoreFolder=-1\nDeleteFromList=1\n")
            << QList<bool>{true, false, true, false};
        QTest::newRow("names in another case still match")
            << QByteArray("[OPTION]\nmakenamefolder=1\n") << QList<bool>{false, true, false, false};
    }

    void optionsComeFromTheSettingsFile()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QList<bool>, marks);
        RunEnvironment env;
        QVERIFY(tenvo::fixture::writeFixtureFile(env.iniPath, ini.toStdString()));

        frmExtract dialog;

        QCOMPARE(checkMarks(dialog), marks);
        QCOMPARE((QList<bool>{gDeleteFromList, gMakeNameFolder, gRestoreFolder, gCloseDialog}), marks);
    }

    void tickingAnItemSetsItsOption_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QList<bool>>("globals"); // deleteFromList, makeNameFolder, restoreFolder, closeDialog

        QTest::newRow("the first item starts a new list") << 0 << QList<bool>{true, false, false, false};
        QTest::newRow("the second item makes name folders") << 1 << QList<bool>{false, true, false, false};
        QTest::newRow("the third item restores folders") << 2 << QList<bool>{false, false, true, false};
        QTest::newRow("the fourth item closes the window") << 3 << QList<bool>{false, false, false, true};
    }

    void tickingAnItemSetsItsOption()
    {
        QFETCH(int, row);
        QFETCH(QList<bool>, globals);
        RunEnvironment env;
        frmExtract dialog;

        dialog.list->topLevelItem(row)->setCheckState(0, Qt::Checked);
        QCOMPARE((QList<bool>{gDeleteFromList, gMakeNameFolder, gRestoreFolder, gCloseDialog}), globals);

        dialog.list->topLevelItem(row)->setCheckState(0, Qt::Unchecked);
        QCOMPARE((QList<bool>{gDeleteFromList, gMakeNameFolder, gRestoreFolder, gCloseDialog}),
                 (QList<bool>{false, false, false, false}));
    }

    void cancelWritesNothing()
    {
        RunEnvironment env;
        const QByteArray stored("[Option]\nMakeNameFolder=1\nRestoreFolder=0\nDeleteFromList=0\nCloseDialog=0\n");
        QVERIFY(tenvo::fixture::writeFixtureFile(env.iniPath, stored.toStdString()));
        {
            frmExtract dialog;
            dialog.show();
            dialog.list->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
            dialog.list->topLevelItem(3)->setCheckState(0, Qt::Checked);
            dialog.cmdCancel->click();
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
        QCOMPARE(env.iniText(), stored);

        frmExtract reopened;
        QCOMPARE(checkMarks(reopened), (QList<bool>{false, true, false, false}));
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
        QCOMPARE(dialogs.folderRequests[0].description, QStringLiteral("解凍先のフォルダを指定してください"));
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

        const QStringList flat{"a.txt", "b.txt", "c.txt"};
        QTest::newRow("all options off: files side by side, list kept, window left open")
            << false << false << false << false << flat;
        QTest::newRow("name folders: each archive in a folder of its name")
            << true << false << false << false << QStringList{"a/a.txt", "b/b.txt", "c/c.txt"};
        QTest::newRow("restore: the stored folders come back")
            << false << true << false << false << QStringList{"b.txt", "docs/a.txt", "docs/deep/c.txt"};
        QTest::newRow("name folders and restore together")
            << true << true << false << false << QStringList{"a/docs/a.txt", "b/b.txt", "c/docs/deep/c.txt"};
        QTest::newRow("the list is cleared afterwards") << false << false << true << false << flat;
        QTest::newRow("the window closes by itself") << false << false << false << true << flat;
    }

    void extractRunsWithTheOptions()
    {
        QFETCH(bool, makeNameFolder);
        QFETCH(bool, restoreFolder);
        QFETCH(bool, deleteFromList);
        QFETCH(bool, closeDialog);
        QFETCH(QStringList, files);

        RunEnvironment env;
        QVERIFY(env.isValid());
        QVERIFY(!env.addZip(QStringLiteral("a.zip"), {{"docs/a.txt", "alpha"}}).isEmpty());
        QVERIFY(!env.addZip(QStringLiteral("b.zip"), {{"b.txt", "bravo"}}).isEmpty());
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
        QCOMPARE(closer.pressedClose, !closeDialog);
        if (!closeDialog)
            QCOMPARE(closer.finalText, QStringLiteral("解凍が終了しました"));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.findChild<frmProgress *>());
        QCOMPARE(env.filesOut(), files);
        QCOMPARE(env.list.getCount(), deleteFromList ? 0 : 3);
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
};

QTEST_MAIN(TestExtractDialog)
#include "tst_frmextract.moc"

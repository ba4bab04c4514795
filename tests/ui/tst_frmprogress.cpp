// The progress window over real archives and the real archiver libraries.
#include "frmprogress.h"
#include "progressbox.h"
#include "runenvironment.h"
#include "scripteddialogs.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

const QString finished = QStringLiteral("解凍が終了しました");

QString extracting(const QString &path, int k, int n)
{
    return QStringLiteral("現在解凍中です...\n") + path + QStringLiteral("\n\n%1 / %2").arg(k).arg(n);
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The colour the user sees in the progress box at x, halfway down.
QColor colourAt(ProgressBox *box, int x)
{
    return box->grab().toImage().pixelColor(x, box->height() / 2);
}

} // namespace

class TestProgress : public QObject
{
    Q_OBJECT

private slots:
    void windowAtStart()
    {
        RunEnvironment env;
        frmProgress window;

        QCOMPARE(window.windowTitle(), QStringLiteral("変換中..."));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QCOMPARE(window.width(), 379);
        QVERIFY(window.height() >= 170);
        // The design's places, lower by what the font needs beyond 60 pixels.
        const int extra = window.lblMessage->height() - 60;
        QVERIFY(extra >= 0);
        QCOMPARE(window.lblMessage->geometry(), QRect(11, 16, 355, 60 + extra));
        QCOMPARE(window.lblMessage->text(), QString());
        QCOMPARE(window.picProgress->geometry(), QRect(8, 88 + extra, 361, 25));
        QCOMPARE(window.cmdClose->geometry().top(), 128 + extra);
        QVERIFY(window.cmdClose->width() >= 81 && window.cmdClose->height() >= 25);
        QCOMPARE(window.cmdClose->text(), QStringLiteral("閉じる"));
        QVERIFY(!window.cmdClose->isEnabled());
        QCOMPARE(window.timerExtract->interval(), 10);
        QVERIFY(!window.timerExtract->isActive());
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lblMessage")), window.lblMessage);
        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("cmdClose")), window.cmdClose);
        // The stop button beside it, lined up with the bar's right end.
        QCOMPARE(window.cmdStop->text(), QStringLiteral("中止"));
        QVERIFY(window.cmdStop->isEnabled());
        QCOMPARE(window.cmdStop->geometry().top(), window.cmdClose->geometry().top());
        QCOMPARE(window.cmdStop->geometry().right(), window.picProgress->geometry().right());
        QVERIFY(window.cmdStop->geometry().left() > window.cmdClose->geometry().right());
    }

    void threeArchives()
    {
        RunEnvironment env;
        QVERIFY(env.isValid());
        const QString a = env.addZip(QStringLiteral("a.zip"), {{"a.txt", "alpha"}});
        const QString b = env.addZip(QStringLiteral("b.zip"), {{"b.txt", "bravo"}});
        const QString c = env.addZip(QStringLiteral("c.zip"), {{"c.txt", "charlie"}});
        QVERIFY(!a.isEmpty() && !b.isEmpty() && !c.isEmpty());
        ScriptedDialogs dialogs;
        frmProgress window;
        window.setExtractFolder(env.out.chopped(1));
        window.timerExtract->start();
        window.show();

        // The texts and bar widths one by one are the run's (tst_extractrun);
        // here the window's timer drives it to its end.
        QVERIFY(!window.cmdClose->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(window.run().isFinished(), 60000);
        QCOMPARE(window.lblMessage->text(), finished);
        QCOMPARE(window.picProgress->barWidth(), 361);
        QVERIFY(!window.cmdStop->isEnabled());
        QVERIFY(window.cmdClose->isEnabled());
        QVERIFY(!window.timerExtract->isActive());
        QVERIFY(window.isVisible());
        QCOMPARE(dialogs.exclamations, QStringList());

        // The bar is drawn in its colour up to its width and no further;
        // 361 pixels run past the box's inside and are clipped there.
        ProgressBox *box = window.picProgress;
        const int inside = box->contentsRect().right();
        QCOMPARE(colourAt(box, inside), ProgressBox::barColor());
        QCOMPARE(colourAt(box, box->contentsRect().left()), ProgressBox::barColor());

        QCOMPARE(env.filesOut(), (QStringList{"a.txt", "b.txt", "c.txt"}));
        QCOMPARE(readText(env.out + QStringLiteral("c.txt")), QStringLiteral("charlie"));

        window.cmdClose->click();
        QVERIFY(!window.isVisible());
    }

    void statusTextShowsWhole_data()
    {
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<int>("folders");
        QTest::addColumn<bool>("shortened");

        QTest::newRow("a small font and a short path") << 8 << 0 << false;
        QTest::newRow("a large font and a short path") << 24 << 0 << true;
        QTest::newRow("the usual font and a path far wider than the window") << 13 << 12 << true;
        QTest::newRow("a large font and a path far wider than the window") << 24 << 12 << true;
    }

    void statusTextShowsWhole()
    {
        QFETCH(int, pixelSize);
        QFETCH(int, folders);
        QFETCH(bool, shortened);
        RunEnvironment env;
        QVERIFY(env.isValid());
        const QString folder = QStringLiteral("書庫フォルダ/").repeated(folders);
        QVERIFY(QDir(env.in).mkpath(folder.isEmpty() ? QStringLiteral(".") : folder));
        const QString path = env.addZip(folder + QStringLiteral("最後の書庫.zip"), {{"a.txt", "alpha"}});
        QVERIFY(!path.isEmpty());
        ScriptedDialogs dialogs;
        QFont font = QApplication::font();
        font.setPixelSize(pixelSize);
        frmProgress window;
        window.setFont(font);
        window.setExtractFolder(env.out);
        window.show();
        window.timerExtract_Timer();
        window.timerExtract_Timer();

        // Four lines fit above the bar, the bar above the button, the button
        // inside the window.
        QLabel *label = window.lblMessage;
        const QFontMetrics metrics(label->font());
        QCOMPARE(metrics.height(), QFontMetrics(font).height());
        const QStringList lines = label->text().split(u'\n');
        QCOMPARE(lines.size(), 4);
        QVERIFY(metrics.boundingRect(QRect(0, 0, label->width(), 10000), Qt::AlignHCenter, label->text()).height()
                <= label->height());
        QVERIFY(label->geometry().bottom() < window.picProgress->geometry().top());
        QVERIFY(window.picProgress->geometry().bottom() < window.cmdClose->geometry().top());
        QVERIFY(window.cmdClose->geometry().bottom() < window.height());
        // The counter, with the share read when the library has told it.
        QVERIFY2(lines[3].contains(QRegularExpression(QStringLiteral("^1 / 1( \\([0-9]{1,3}%\\))?$"))),
                 qPrintable(lines[3]));

        // The path line fits; a long one keeps the file name and the start
        // of the folder, with the whole path in the tooltip.
        for (const QString &line : lines)
            QVERIFY(metrics.horizontalAdvance(line) <= label->width());
        QCOMPARE(metrics.horizontalAdvance(path) > label->width(), shortened);
        if (shortened) {
            QVERIFY(lines[1].contains(QStringLiteral("…")));
            QVERIFY(lines[1].endsWith(QStringLiteral("/最後の書庫.zip")));
            QVERIFY(lines[1].startsWith(env.in.left(4)));
            QCOMPARE(label->toolTip(), path);
        } else {
            QCOMPARE(lines[1], path);
            QCOMPARE(label->toolTip(), QString());
        }
    }

    void barShowsItsWidth()
    {
        RunEnvironment env;
        QVERIFY(env.isValid());
        for (const char *name : {"a.zip", "b.zip", "c.zip"})
            QVERIFY(!env.addZip(QLatin1String(name), {{std::string(name) + ".txt", "x"}}).isEmpty());
        ScriptedDialogs dialogs;
        frmProgress window;
        window.setExtractFolder(env.out);
        window.show();
        window.timerExtract->start();
        QTRY_VERIFY_WITH_TIMEOUT(window.run().isFinished(), 60000);
        // What the first of three archives drew.
        window.picProgress->setBarWidth(120);

        ProgressBox *box = window.picProgress;
        const int left = box->contentsRect().left();
        QCOMPARE(box->barWidth(), 120);
        QCOMPARE(colourAt(box, left + 119), ProgressBox::barColor());
        QVERIFY(colourAt(box, left + 121) != ProgressBox::barColor());
    }

    void damagedArchiveInTheMiddle()
    {
        RunEnvironment env;
        QVERIFY(env.isValid());
        gCloseDialog = true;
        env.addZip(QStringLiteral("a.zip"), {{"a.txt", "alpha"}});
        const QString b = env.addZip(QStringLiteral("b.zip"), {{"b.txt", "bravo data"}}, true);
        env.addZip(QStringLiteral("c.zip"), {{"c.txt", "charlie"}});
        QVERIFY(!b.isEmpty());
        ScriptedDialogs dialogs;
        frmProgress window;
        QString behindTheBox;
        bool openBehindTheBox = false;
        dialogs.onExclamation = [&] {
            behindTheBox = window.lblMessage->text();
            openBehindTheBox = window.isVisible();
        };
        window.setExtractFolder(env.out);
        window.timerExtract->start();
        window.show();

        QTRY_VERIFY_WITH_TIMEOUT(window.run().isFinished(), 60000);

        QCOMPARE(env.filesOut(), (QStringList{"a.txt", "c.txt"}));
        QCOMPARE(dialogs.exclamations,
                 QStringList{QStringLiteral("次の書庫ファイルは解凍できませんでした\n\n") + b
                             + QStringLiteral("\n　書庫ファイルが壊れています")});
        QCOMPARE(dialogs.exclamationOwners, QList<QWidget *>{&window});
        QCOMPARE(behindTheBox, finished);
        QVERIFY(openBehindTheBox);
        QCoreApplication::processEvents();
        QVERIFY(window.isVisible());
        QVERIFY(window.cmdClose->isEnabled());
        QCOMPARE(window.picProgress->barWidth(), 361);
    }

    void nameFolderAskedAboutOverTheWindow()
    {
        RunEnvironment env;
        QVERIFY(env.isValid());
        gMakeNameFolder = true;
        env.addZip(QStringLiteral("data.zip"), {{"d.txt", "delta"}});
        QVERIFY(QDir(env.out).mkdir(QStringLiteral("data")));
        ScriptedDialogs dialogs;
        dialogs.inputAnswers = {QStringLiteral("data2")};
        frmProgress window;
        window.setExtractFolder(env.out);
        window.timerExtract->start();
        window.show();

        QTRY_VERIFY_WITH_TIMEOUT(window.run().isFinished(), 60000);

        QVERIFY(!dialogs.ranOutOfAnswers);
        QCOMPARE(dialogs.exclamationOwners, QList<QWidget *>{&window});
        QCOMPARE(env.filesOut(), QStringList{"data2/d.txt"});
        QCOMPARE(window.lblMessage->text(), finished);
    }

    void closeBoxDuringTheRun()
    {
        RunEnvironment env;
        QVERIFY(env.isValid());
        env.addZip(QStringLiteral("a.zip"), {{"a.txt", "alpha"}});
        env.addZip(QStringLiteral("b.zip"), {{"b.txt", "bravo"}});
        ScriptedDialogs dialogs;
        frmProgress window;
        window.setExtractFolder(env.out);
        window.show();
        window.timerExtract_Timer();
        window.timerExtract_Timer();

        // Neither a close from the program nor Escape ends the run.
        QVERIFY(!window.close());
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(window.isVisible());
        QCOMPARE(dialogs.questions, QStringList());

        window.timerExtract->start();
        QTRY_VERIFY_WITH_TIMEOUT(window.run().isFinished(), 60000);
        QCOMPARE(window.lblMessage->text(), finished);
        QCOMPARE(env.filesOut(), (QStringList{"a.txt", "b.txt"}));

        QVERIFY(window.close());
        QVERIFY(!window.isVisible());
    }

    // The stop button asks first; No goes on, Yes ends the archive being
    // decoded (its library can be stopped) and starts no other. The summary
    // lists both as not extracted, in list order.
    void stopButtonAsksThenStops()
    {
        RunEnvironment env;
        env.ini.setLong(QStringLiteral("Option"), QStringLiteral("Parallel"), 1);
        clsArchive fakes;
        fakes.setLibraryFolder(QStringLiteral(TENVO_FAKES_DIR "/progress"));
        for (const SupportType &row : registrationRows())
            fakes.addSupportType(row);
        gArchive = &fakes;
        const QString log = env.dir.filePath(QStringLiteral("calls.log"));
        qputenv("TENVO_FAKE_LOG", QFile::encodeName(log));
        qputenv("TENVO_FAKE_GO", QFile::encodeName(env.dir.filePath(QStringLiteral("go"))));
        qputenv("TENVO_FAKE_RESULT", "0");
        QStringList paths;
        for (const char *name : {"a-wait.zip", "b.zip"}) {
            QFile file(env.in + QLatin1String(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            paths.append(file.fileName());
            QCOMPARE(env.list.addFile(file.fileName()), clsListCtrl::added);
        }
        ScriptedDialogs dialogs;
        dialogs.questionAnswers = {false, true};
        frmProgress window;
        window.setExtractFolder(env.out);
        window.timerExtract->start();
        window.show();
        QTRY_VERIFY(readText(log).contains(QStringLiteral("UnZip\t-x \"") + paths[0]));

        window.cmdStop->click();
        QCOMPARE(dialogs.questions, QStringList{QStringLiteral("解凍を中止しますか？")});
        QVERIFY(!window.run().isStopping());
        QVERIFY(window.cmdStop->isEnabled());
        window.cmdStop->click();
        QTRY_VERIFY_WITH_TIMEOUT(window.run().isFinished(), 60000);

        QCOMPARE(dialogs.questions.size(), 2);
        QCOMPARE(window.lblMessage->text(), QStringLiteral("解凍を中止しました"));
        const QString notDone = QStringLiteral("\n　中止したため解凍していません");
        QCOMPARE(dialogs.exclamations, QStringList{QStringLiteral("次の書庫ファイルは解凍できませんでした\n\n")
                                                   + paths[0] + notDone + u'\n' + paths[1] + notDone});
        QVERIFY(readText(log).contains(QStringLiteral("UnZipStopped")));
        QVERIFY(!readText(log).contains(paths[1]));
        QVERIFY(!window.cmdStop->isEnabled());
        QVERIFY(window.cmdClose->isEnabled());
        gArchive = &env.archive;
    }

    void emptyList_data()
    {
        QTest::addColumn<bool>("closeDialog");
        QTest::newRow("the window stays to be closed") << false;
        QTest::newRow("the window closes by itself") << true;
    }

    void emptyList()
    {
        QFETCH(bool, closeDialog);
        RunEnvironment env;
        gCloseDialog = closeDialog;
        ScriptedDialogs dialogs;
        frmProgress window;
        window.setExtractFolder(env.out);
        window.timerExtract->start();
        window.show();

        QTRY_VERIFY_WITH_TIMEOUT(window.run().isFinished(), 60000);

        QCOMPARE(window.lblMessage->text(), finished);
        QVERIFY(window.cmdClose->isEnabled());
        QCOMPARE(window.isVisible(), !closeDialog);
        QCOMPARE(window.picProgress->barWidth(), 0);
        QCOMPARE(dialogs.exclamations, QStringList());
    }
};

QTEST_MAIN(TestProgress)
#include "tst_frmprogress.moc"

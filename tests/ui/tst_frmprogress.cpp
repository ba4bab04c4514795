// The progress window over real archives and the real archiver libraries.
#include "frmprogress.h"
#include "progressbox.h"
#include "qtuserdialogs.h"
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

// Starts the window's job over every archive of the environment's list.
void startJob(frmProgress &window, RunEnvironment &env, bool closeAtEnd = false, int parallel = 1,
              bool nameFolders = false)
{
    ExtractOptions options;
    options.destination = env.out;
    options.parallel = parallel;
    options.nameFolders = nameFolders;
    QStringList archives;
    for (int row = 0; row < env.list.getCount(); ++row)
        archives.append(env.list.getItem(row));
    window.startJob(*gArchive, archives, options, closeAtEnd);
}

// Stand-in libraries that can be stopped, logging to calls.log and waiting
// for the file go (both in the environment's folder) on "wait" archives.
void useStandInLibraries(clsArchive &fakes, RunEnvironment &env)
{
    fakes.setLibraryFolder(QStringLiteral(TENVO_FAKES_DIR "/progress"));
    for (const SupportType &row : registrationRows())
        fakes.addSupportType(row);
    gArchive = &fakes;
    qputenv("TENVO_FAKE_LOG", QFile::encodeName(env.dir.filePath(QStringLiteral("calls.log"))));
    qputenv("TENVO_FAKE_GO", QFile::encodeName(env.dir.filePath(QStringLiteral("go"))));
    qputenv("TENVO_FAKE_RESULT", "0");
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

    // A damaged archive between two good ones: the window shows the job to
    // its end, the summary over it, and the bar in its colour to its width.
    void damagedArchiveInTheMiddle()
    {
        RunEnvironment env;
        QVERIFY(env.isValid());
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
        window.show();
        QVERIFY(!window.timerExtract->isActive());
        startJob(window, env, true);
        QVERIFY(window.timerExtract->isActive());
        QVERIFY(!window.cmdClose->isEnabled());

        QTRY_VERIFY_WITH_TIMEOUT(window.job()->isFinished(), 60000);
        QTRY_VERIFY(window.cmdClose->isEnabled());

        QCOMPARE(env.filesOut(), (QStringList{"a.txt", "c.txt"}));
        QCOMPARE(dialogs.exclamations,
                 QStringList{QStringLiteral("次の書庫ファイルは解凍できませんでした\n\n") + b
                             + QStringLiteral("\n　書庫ファイルが壊れています")});
        QCOMPARE(dialogs.exclamationOwners, QList<QWidget *>{&window});
        QCOMPARE(behindTheBox, finished);
        QVERIFY(openBehindTheBox);
        QVERIFY(window.isVisible());
        QVERIFY(!window.cmdStop->isEnabled());
        QVERIFY(!window.timerExtract->isActive());
        QCOMPARE(window.picProgress->barWidth(), 361);
        // 361 pixels run past the box's inside and are clipped there.
        ProgressBox *box = window.picProgress;
        QCOMPARE(colourAt(box, box->contentsRect().right()), ProgressBox::barColor());
        window.picProgress->setBarWidth(120);
        QCOMPARE(colourAt(box, box->contentsRect().left() + 119), ProgressBox::barColor());
        QVERIFY(colourAt(box, box->contentsRect().left() + 121) != ProgressBox::barColor());
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
        window.show();
        startJob(window, env);
        QTRY_VERIFY(window.lblMessage->text().count(u'\n') == 3 && window.lblMessage->text().contains(u'/'));

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

    // The job's questions are asked over the window, each with its ways
    // out: a name folder renamed, a password question that stops the job.
    void questionsOverTheWindow()
    {
        RunEnvironment env;
        QVERIFY(env.isValid());
        env.addZip(QStringLiteral("data.zip"), {{"d.txt", "delta"}});
        QVERIFY(QDir(env.out).mkdir(QStringLiteral("data")));
        ScriptedDialogs dialogs;
        dialogs.choiceAnswers = {0};
        dialogs.inputAnswers = {QStringLiteral("data2")};
        frmProgress window;
        window.show();
        startJob(window, env, false, 1, true);
        QTRY_VERIFY_WITH_TIMEOUT(window.job()->isFinished(), 60000);

        QVERIFY(!dialogs.ranOutOfAnswers);
        QCOMPARE(dialogs.choices.size(), 1);
        QCOMPARE(dialogs.choiceButtons, (QStringList{"別の名前にする", "この書庫を飛ばす", "中止"}));
        QCOMPARE(env.filesOut(), QStringList{"data2/d.txt"});
        QTRY_COMPARE(window.lblMessage->text(), finished);
    }

    // Neither a close from the program nor Escape ends the job; the stop
    // button asks first, and while it asks no new archive starts. No goes
    // on, Yes ends the archive being decoded and starts no other.
    void stopButtonAsksThenStops()
    {
        RunEnvironment env;
        clsArchive fakes;
        useStandInLibraries(fakes, env);
        const QString log = env.dir.filePath(QStringLiteral("calls.log"));
        QStringList paths;
        for (const char *name : {"a-wait.zip", "b.zip", "c-wait.zip"}) {
            QFile file(env.in + QLatin1String(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            paths.append(file.fileName());
            QCOMPARE(env.list.addFile(file.fileName()), clsListCtrl::added);
        }
        ScriptedDialogs dialogs;
        dialogs.questionAnswers = {false, true};
        frmProgress window;
        window.show();
        startJob(window, env);
        QTRY_VERIFY(readText(log).contains(QStringLiteral("UnZip\t-x \"") + paths[0]));
        QVERIFY(!window.close());
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(window.isVisible());
        QCOMPARE(dialogs.questions, QStringList());

        // While No is on its way, the first archive ends and nothing new starts.
        dialogs.onQuestion = [&] {
            QFile go(env.dir.filePath(QStringLiteral("go")));
            QVERIFY(go.open(QIODevice::WriteOnly));
            go.close();
            QTest::qWait(300);
            QVERIFY(!readText(log).contains(paths[1]));
            QVERIFY(go.remove());
            dialogs.onQuestion = nullptr;
        };
        window.cmdStop->click();
        QCOMPARE(dialogs.questions, QStringList{QStringLiteral("解凍を中止しますか？")});
        QVERIFY(!window.job()->isStopping());
        QTRY_VERIFY(readText(log).contains(QStringLiteral("UnZip\t-x \"") + paths[2]));
        window.cmdStop->click();
        QTRY_VERIFY_WITH_TIMEOUT(window.job()->isFinished(), 60000);

        QTRY_COMPARE(window.lblMessage->text(), QStringLiteral("解凍を中止しました"));
        QCOMPARE(dialogs.exclamations, QStringList{QStringLiteral("次の書庫ファイルは解凍できませんでした\n\n")
                                                   + paths[2] + QStringLiteral("\n　中止したため解凍していません")});
        QVERIFY(readText(log).contains(QStringLiteral("UnZipStopped")));
        QVERIFY(!window.cmdStop->isEnabled());
        QVERIFY(window.cmdClose->isEnabled());
        QVERIFY(window.close());
        gArchive = &env.archive;
    }

    // The stop question closes by itself when the job ends while it is open;
    // the job then counts as finished, not stopped.
    void stopQuestionClosesWhenTheJobEnds()
    {
        RunEnvironment env;
        clsArchive fakes;
        useStandInLibraries(fakes, env);
        const QString go = env.dir.filePath(QStringLiteral("go"));
        QFile archive(env.in + QStringLiteral("a-wait.zip"));
        QVERIFY(archive.open(QIODevice::WriteOnly));
        QCOMPARE(env.list.addFile(archive.fileName()), clsListCtrl::added);
        QtUserDialogs real;
        UserDialogs *previous = setUserDialogs(&real);
        frmProgress window;
        window.show();
        startJob(window, env);
        QTRY_VERIFY(readText(env.dir.filePath(QStringLiteral("calls.log"))).contains(QStringLiteral("UnZip\t")));
        bool questionShown = false;
        QTimer::singleShot(300, [&] {
            questionShown = QApplication::activeModalWidget() && QApplication::activeModalWidget() != &window;
            QFile file(go);
            QVERIFY(file.open(QIODevice::WriteOnly));
        });
        window.cmdStop->click();
        setUserDialogs(previous);
        gArchive = &env.archive;

        QVERIFY(questionShown);
        QVERIFY(window.job()->isFinished());
        QVERIFY(!window.job()->isStopping());
        QCOMPARE(window.lblMessage->text(), finished);
        QVERIFY(window.cmdClose->isEnabled());
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
        ScriptedDialogs dialogs;
        frmProgress window;
        window.show();
        startJob(window, env, closeDialog);

        QTRY_VERIFY_WITH_TIMEOUT(window.job()->isFinished(), 60000);

        QTRY_COMPARE(window.lblMessage->text(), finished);
        QVERIFY(window.cmdClose->isEnabled());
        QCOMPARE(window.isVisible(), !closeDialog);
        QCOMPARE(window.picProgress->barWidth(), 0);
        QCOMPARE(dialogs.exclamations, QStringList());
    }
};

QTEST_MAIN(TestProgress)
#include "tst_frmprogress.moc"

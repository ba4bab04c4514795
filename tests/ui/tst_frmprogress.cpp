// The progress window over real archives and the real archiver libraries.
#include "frmprogress.h"
#include "frmresults.h"
#include "extractjob.h"
#include "progressbox.h"
#include "qtuserdialogs.h"
#include "runenvironment.h"
#include "scripteddialogs.h"
#include "timeleft.h"
#include "testlocale.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QHeaderView>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

namespace {

const QString finished = inLocale(QStringLiteral("解凍が終了しました"), QStringLiteral("Extraction finished"));

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

// A result as the job gives it for archive name in /in/, extracted into /out/.
ArchiveResult resultFor(const QString &name, int code = 0, int landed = 1)
{
    ArchiveResult result;
    result.path = QStringLiteral("/in/") + name;
    result.destination = QStringLiteral("/out/");
    result.code = code;
    result.landed = landed;
    return result;
}

// Every row of a results window, as copying them all gives them.
QString allRows(frmResults &window)
{
    window.list->selectAll();
    return window.selectedText();
}

// Catches what the desktop would be asked to open.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened.append(url); }
};

} // namespace

Q_DECLARE_METATYPE(ArchiveResult)

class TestProgress : public QObject
{
    Q_OBJECT

private slots:
    void windowAtStart()
    {
        RunEnvironment env;
        frmProgress window;

        QCOMPARE(window.windowTitle(), inLocale(QStringLiteral("変換中..."), QStringLiteral("Extracting...")));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QCOMPARE(window.width(), 379);
        QVERIFY(window.height() >= 170);
        // The design's places, lower by what the font needs beyond 60 pixels.
        const int extra = window.lblMessage->height() - 60;
        QVERIFY(extra >= 0);
        QCOMPARE(window.lblMessage->geometry(), QRect(11, 16, 355, 60 + extra));
        QCOMPARE(window.lblMessage->text(), QString());
        QCOMPARE(window.picProgress->geometry(), QRect(8, 88 + extra, 361, 25));
        // Under the bar, a line kept for the time left, empty until known.
        const QRect timeLeft = window.lblTimeLeft->geometry();
        QCOMPARE(timeLeft.left(), 8);
        QCOMPARE(timeLeft.width(), 361);
        QVERIFY(timeLeft.top() > window.picProgress->geometry().bottom());
        QVERIFY(timeLeft.height() >= window.lblTimeLeft->fontMetrics().height());
        QCOMPARE(window.lblTimeLeft->text(), QString());
        QCOMPARE(window.cmdClose->geometry().top(), 128 + extra + timeLeft.height());
        QVERIFY(window.cmdClose->width() >= 81 && window.cmdClose->height() >= 25);
        QCOMPARE(window.cmdClose->text(), inLocale(QStringLiteral("閉じる"), QStringLiteral("Close")));
        QVERIFY(!window.cmdClose->isEnabled());
        QCOMPARE(window.timerExtract->interval(), 10);
        QVERIFY(!window.timerExtract->isActive());
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lblMessage")), window.lblMessage);
        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("cmdClose")), window.cmdClose);
        // The stop button beside it, lined up with the bar's right end.
        QCOMPARE(window.cmdStop->text(), inLocale(QStringLiteral("中止"), QStringLiteral("Stop")));
        QVERIFY(window.cmdStop->isEnabled());
        QCOMPARE(window.cmdStop->geometry().top(), window.cmdClose->geometry().top());
        QCOMPARE(window.cmdStop->geometry().right(), window.picProgress->geometry().right());
        QVERIFY(window.cmdStop->geometry().left() > window.cmdClose->geometry().right());
    }

    // A damaged archive between two good ones: the window shows the job to
    // its end, the results window over it, and the bar in its colour to its
    // width; closing the results closes the window that was to close itself.
    void damagedArchiveInTheMiddle()
    {
        RunEnvironment env;
        QVERIFY(env.isValid());
        const QString a = env.addZip(QStringLiteral("a.zip"), {{"a.txt", "alpha"}});
        const QString b = env.addZip(QStringLiteral("b.zip"), {{"b.txt", "bravo data"}}, true);
        const QString c = env.addZip(QStringLiteral("c.zip"), {{"c.txt", "charlie"}});
        QVERIFY(!b.isEmpty());
        ScriptedDialogs dialogs;
        frmProgress window;
        window.show();
        QVERIFY(!window.timerExtract->isActive());
        startJob(window, env, true);
        QVERIFY(window.timerExtract->isActive());
        QVERIFY(!window.cmdClose->isEnabled());

        QTRY_VERIFY_WITH_TIMEOUT(window.job()->isFinished(), 60000);
        QTRY_VERIFY(window.resultsWindow());

        QCOMPARE(env.filesOut(), (QStringList{"a.txt", "c.txt"}));
        frmResults *results = window.resultsWindow();
        QVERIFY(results->isVisible());
        QCOMPARE(results->parentWidget(), &window);
        QCOMPARE(results->windowTitle(), inLocale(QStringLiteral("解凍結果"), QStringLiteral("Extraction Results")));
        QCOMPARE(allRows(*results), a + inLocale(QStringLiteral("\t解凍しました\t\t"),
                                                 QStringLiteral("\tExtracted\t\t")) + env.out + u'\n' + b
                                        + inLocale(QStringLiteral("\t解凍できませんでした\t書庫ファイルが壊れています\t\n"),
                                                   QStringLiteral("\tNot extracted\tThe archive is damaged\t\n")) + c
                                        + inLocale(QStringLiteral("\t解凍しました\t\t"),
                                                   QStringLiteral("\tExtracted\t\t")) + env.out + u'\n');
        QCOMPARE(dialogs.exclamations, QStringList());
        QCOMPARE(window.lblMessage->text(), finished);
        QCOMPARE(window.lblTimeLeft->text(), QString());
        QVERIFY(window.isVisible());
        QVERIFY(window.cmdClose->isEnabled());
        QVERIFY(!window.cmdStop->isEnabled());
        QVERIFY(!window.timerExtract->isActive());
        QCOMPARE(window.picProgress->barWidth(), 361);
        // 361 pixels run past the box's inside and are clipped there.
        ProgressBox *box = window.picProgress;
        QCOMPARE(colourAt(box, box->contentsRect().right()), ProgressBox::barColor());
        window.picProgress->setBarWidth(120);
        QCOMPARE(colourAt(box, box->contentsRect().left() + 119), ProgressBox::barColor());
        QVERIFY(colourAt(box, box->contentsRect().left() + 121) != ProgressBox::barColor());
        results->cmdClose->click();
        QVERIFY(!window.resultsWindow());
        QVERIFY(!window.isVisible());
        QCOMPARE(window.archivesToRetry(), QStringList());
    }

    // The time left for the whole job from its bytes done, total and time
    // so far; the command line's estimate is the same one.
    void timeLeftLine_data()
    {
        QTest::addColumn<quint64>("done");
        QTest::addColumn<quint64>("total");
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("commandLine");

        QTest::newRow("nothing done yet") << quint64(0) << quint64(1000000) << qint64(5000) << QString() << QString();
        QTest::newRow("less than a second of the job")
            << quint64(500000) << quint64(1000000) << qint64(999) << QString() << QString();
        QTest::newRow("a total not known")
            << quint64(500000) << quint64(0) << qint64(3000) << QString() << QString();
        QTest::newRow("all done") << quint64(1000000) << quint64(1000000) << qint64(3000) << QString()
                                  << QString();
        QTest::newRow("a second in, half done")
            << quint64(500000) << quint64(1000000) << qint64(1000) << inLocale(QStringLiteral("残り 約 1 秒 (500.0 KB/秒)"),
                                                                               QStringLiteral("About 1 s left (500.0 KB/s)"))
            << QStringLiteral("0:01");
        QTest::newRow("minutes to go at megabytes a second")
            << quint64(123000000) << quint64(1107000000) << qint64(10000)
            << inLocale(QStringLiteral("残り 約 1 分 20 秒 (12.3 MB/秒)"),
                        QStringLiteral("About 1 min 20 s left (12.3 MB/s)")) << QStringLiteral("1:20");
        QTest::newRow("a part of a second left rounds up")
            << quint64(999999) << quint64(1000000) << qint64(2000) << inLocale(QStringLiteral("残り 約 1 秒 (500.0 KB/秒)"),
                                                                               QStringLiteral("About 1 s left (500.0 KB/s)"))
            << QStringLiteral("0:01");
        QTest::newRow("hours to go at kilobytes a second")
            << quint64(2000000) << quint64(20000000000ULL) << qint64(4000)
            << inLocale(QStringLiteral("残り 約 11 時間 6 分 (500.0 KB/秒)"),
                        QStringLiteral("About 11 h 6 min left (500.0 KB/s)")) << QStringLiteral("11:06:36");
        QTest::newRow("gigabytes a second")
            << quint64(3000000000ULL) << quint64(4500000000ULL) << qint64(1500)
            << inLocale(QStringLiteral("残り 約 1 秒 (2.0 GB/秒)"),
                        QStringLiteral("About 1 s left (2.0 GB/s)")) << QStringLiteral("0:01");
    }

    void timeLeftLine()
    {
        QFETCH(quint64, done);
        QFETCH(quint64, total);
        QFETCH(qint64, elapsedMs);
        QFETCH(QString, text);
        QFETCH(QString, commandLine);
        JobProgress progress;
        progress.bytesDone = done;
        progress.bytesTotal = total;
        progress.elapsedMs = elapsedMs;

        const TimeLeft left = timeLeft(progress);
        QCOMPARE(timeLeftText(left), text);
        QCOMPARE(left.known, !commandLine.isEmpty());
        if (left.known)
            QCOMPARE(durationText(left.seconds), commandLine);
    }

    // After a run, the results window opens when there is anything to see,
    // one row per archive: name, result, what happened, where it went.
    void resultsWindowRows_data()
    {
        QTest::addColumn<ArchiveResult>("result");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QString>("row");

        const QString out = QStringLiteral("\t/out/\n");
        ArchiveResult result = resultFor(QStringLiteral("b.zip"));
        QTest::newRow("extracted") << result << false << inLocale(QStringLiteral("/in/b.zip\t解凍しました\t"),
                                                                  QStringLiteral("/in/b.zip\tExtracted\t")) + out;
        result.nestedExtracted = 2;
        result.trashed = true;
        QTest::newRow("extracted with its inner archives, then put in the trash")
            << result << false
            << inLocale(QStringLiteral("/in/b.zip\t解凍しました\t中の書庫を解凍しました (2 個)、書庫ファイルをごみ箱に移しました"),
                        QStringLiteral("/in/b.zip\tExtracted\tInner archives extracted (2); Archive moved to the trash")) + out;
        QTest::newRow("damaged, nothing landed")
            << resultFor(QStringLiteral("b.zip"), 3, 0) << true
            << inLocale(QStringLiteral("/in/b.zip\t解凍できませんでした\t書庫ファイルが壊れています\t\n"),
                        QStringLiteral("/in/b.zip\tNot extracted\tThe archive is damaged\t\n"));
        result = resultFor(QStringLiteral("b.zip"), 3, 2);
        QTest::newRow("damaged after two files landed")
            << result << true << inLocale(QStringLiteral("/in/b.zip\t解凍できませんでした\t書庫ファイルが壊れています"),
                                          QStringLiteral("/in/b.zip\tNot extracted\tThe archive is damaged")) + out;
        result = resultFor(QStringLiteral("b.zip"), 0, 0);
        result.skippedByUser = true;
        QTest::newRow("skipped at the password question")
            << result << true << inLocale(QStringLiteral("/in/b.zip\t解凍できませんでした\t解凍を飛ばしました\t\n"),
                                          QStringLiteral("/in/b.zip\tNot extracted\tSkipped\t\n"));
        result = resultFor(QStringLiteral("b.zip"), 0, 0);
        result.stopped = true;
        QTest::newRow("not started before the stop")
            << result << true << inLocale(QStringLiteral("/in/b.zip\t解凍できませんでした\t中止したため解凍していません\t\n"),
                                          QStringLiteral("/in/b.zip\tNot extracted\tNot extracted because the run was stopped\t\n"));
        result = resultFor(QStringLiteral("b.zip"));
        result.kept = 3;
        QTest::newRow("files kept") << result << true
                                    << inLocale(QStringLiteral("/in/b.zip\t解凍しました\t既存のファイル 3 個をそのまま残しました"),
                                                QStringLiteral("/in/b.zip\tExtracted\tExisting files kept: 3")) + out;
        result = resultFor(QStringLiteral("b.zip"));
        result.renamed = 1;
        QTest::newRow("files renamed") << result << true
                                       << inLocale(QStringLiteral("/in/b.zip\t解凍しました\t1 個のファイルを別の名前で解凍しました"),
                                                   QStringLiteral("/in/b.zip\tExtracted\tFiles extracted under another name: 1")) + out;
        result = resultFor(QStringLiteral("b.zip"));
        result.shortened = QStringList{QStringLiteral("long\tlo"), QStringLiteral("longer\tlon")};
        QTest::newRow("names shortened")
            << result << true
            << inLocale(QStringLiteral("/in/b.zip\t解凍しました\t長すぎる名前を短くして解凍しました (2 個の名前)"),
                        QStringLiteral("/in/b.zip\tExtracted\tNames too long were shortened (2)")) + out;
        result = resultFor(QStringLiteral("b.zip"));
        result.nestedLeft = QStringList{inLocale(QStringLiteral("inner.zip\t書庫ファイルが壊れています"),
                                                 QStringLiteral("inner.zip\tThe archive is damaged"))};
        QTest::newRow("an inner archive left")
            << result << true << inLocale(QStringLiteral("/in/b.zip\t解凍しました\t中の書庫を解凍できませんでした (1 個)"),
                                          QStringLiteral("/in/b.zip\tExtracted\tInner archives not extracted (1)")) + out;
        result = resultFor(QStringLiteral("b\n.zip"), 0, 0);
        result.skipped = true;
        result.kept = 1;
        QTest::newRow("a name with a line break, its folder not made")
            << result << true
            << inLocale(QStringLiteral("/in/b\\n.zip\t解凍できませんでした\tフォルダを作成できません、既存のファイル 1 個をそのまま残しました\t\n"),
                        QStringLiteral("/in/b\\n.zip\tNot extracted\tCannot create the folder; Existing files kept: 1\t\n"));
    }

    void resultsWindowRows()
    {
        QFETCH(ArchiveResult, result);
        QFETCH(bool, shown);
        QFETCH(QString, row);
        const QList<ArchiveResult> results{resultFor(QStringLiteral("a.zip")), result};

        QCOMPARE(frmResults::worthShowing(results), shown);
        frmResults window(results, QStringLiteral("/out/"));
        QCOMPARE(window.list->topLevelItemCount(), 2);
        QCOMPARE(allRows(window), inLocale(QStringLiteral("/in/a.zip\t解凍しました\t\t/out/\n"),
                                           QStringLiteral("/in/a.zip\tExtracted\t\t/out/\n")) + row);
        QCOMPARE(window.cmdRetry->isEnabled(), result.failed());
        // The names behind a count are in the tooltip.
        const QString tip = window.list->topLevelItem(1)->toolTip(2);
        for (const QString &pair : result.shortened + result.nestedLeft)
            QVERIFY2(tip.contains(pair.section(u'\t', 0, 0)), qPrintable(tip));
    }

    // Rows come in list order and sort by any column; the selected rows are
    // copied in the order shown, by Ctrl+C and by the context menu.
    void resultsSortAndCopy()
    {
        ArchiveResult damaged = resultFor(QStringLiteral("c.zip"), 3, 0);
        ArchiveResult kept = resultFor(QStringLiteral("a.zip"));
        kept.kept = 1;
        const QList<ArchiveResult> results{damaged, kept, resultFor(QStringLiteral("b.zip"), 4, 0)};
        frmResults window(results, QStringLiteral("/out/"));
        window.show();
        QTreeWidget *list = window.list;
        const auto names = [list] {
            QStringList shown;
            for (int row = 0; row < list->topLevelItemCount(); ++row)
                shown.append(list->topLevelItem(row)->text(0));
            return shown;
        };
        QCOMPARE(names(), (QStringList{"/in/c.zip", "/in/a.zip", "/in/b.zip"}));
        QTest::mouseClick(list->header()->viewport(), Qt::LeftButton, {},
                          QPoint(list->header()->sectionViewportPosition(0) + 5, 5));
        QCOMPARE(names(), (QStringList{"/in/a.zip", "/in/b.zip", "/in/c.zip"}));
        QTest::mouseClick(list->header()->viewport(), Qt::LeftButton, {},
                          QPoint(list->header()->sectionViewportPosition(0) + 5, 5));
        QCOMPARE(names(), (QStringList{"/in/c.zip", "/in/b.zip", "/in/a.zip"}));
        list->sortByColumn(2, Qt::AscendingOrder);
        QCOMPARE(list->topLevelItem(0)->text(2), inLocale("パスワード付きの書庫です", "Existing files kept: 1"));

        list->sortByColumn(0, Qt::AscendingOrder);
        list->topLevelItem(2)->setSelected(true);
        list->topLevelItem(0)->setSelected(true);
        QApplication::clipboard()->clear();
        list->setFocus();
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        const QString copied = inLocale(QStringLiteral("/in/a.zip\t解凍しました\t既存のファイル 1 個をそのまま残しました\t/out/\n"
                                                       "/in/c.zip\t解凍できませんでした\t書庫ファイルが壊れています\t\n"),
                                        QStringLiteral("/in/a.zip\tExtracted\tExisting files kept: 1\t/out/\n"
                                                       "/in/c.zip\tNot extracted\tThe archive is damaged\t\n"));
        QCOMPARE(QApplication::clipboard()->text(), copied);
        QApplication::clipboard()->clear();
        QAction *copy = nullptr;
        for (QAction *action : list->actions())
            copy = action->text() == inLocale(QStringLiteral("コピー"), QStringLiteral("Copy")) ? action : copy;
        QVERIFY(copy);
        QCOMPARE(list->contextMenuPolicy(), Qt::ActionsContextMenu);
        copy->trigger();
        QCOMPARE(QApplication::clipboard()->text(), copied);
    }

    // The results window hands back exactly the failed archives (damaged,
    // skipped at the password question), in list order, and the progress
    // window closes; the destination opens in the desktop's file manager.
    void retryAndOpenDestination()
    {
        RunEnvironment env;
        clsArchive fakes;
        useStandInLibraries(fakes, env);
        QStringList paths;
        for (const char *name : {"a.zip", "b-damaged.zip", "c-locked.zip", "d.zip", "e-damaged.zip"}) {
            QFile file(env.in + QLatin1String(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            paths.append(file.fileName());
            QCOMPARE(env.list.addFile(file.fileName()), clsListCtrl::added);
        }
        ScriptedDialogs dialogs;
        UrlCatcher urls;
        frmProgress window;
        window.show();
        startJob(window, env);
        QTRY_VERIFY_WITH_TIMEOUT(window.resultsWindow(), 60000);
        gArchive = &env.archive;
        frmResults *results = window.resultsWindow();

        results->cmdOpenFolder->click();
        QCOMPARE(urls.opened, QList<QUrl>{QUrl::fromLocalFile(env.out)});
        QVERIFY(results->isVisible());
        QCOMPARE(window.archivesToRetry(), QStringList());
        results->cmdRetry->click();
        QVERIFY(!window.resultsWindow());
        QVERIFY(!window.isVisible());
        QCOMPARE(window.archivesToRetry(), (QStringList{paths[1], paths[2], paths[4]}));
        QCOMPARE(dialogs.exclamations, QStringList());
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
        // So does the longest time-left line, in the room kept for it.
        QLabel *timeLeft = window.lblTimeLeft;
        const QString longest = timeLeftText({true, 3599, 999.9e6});
        QVERIFY(QFontMetrics(timeLeft->font())
                    .boundingRect(QRect(0, 0, timeLeft->width(), 10000), Qt::AlignHCenter | Qt::TextWordWrap, longest)
                    .height()
                <= timeLeft->height());
        QVERIFY(timeLeft->geometry().bottom() < window.cmdClose->geometry().top());
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
        QCOMPARE(dialogs.choiceButtons, (QStringList{inLocale("別の名前にする",
                                                              "Use Another Name"), inLocale("この書庫を飛ばす",
                                                                                            "Skip This Archive"), inLocale("中止",
                                                                                                                           "Stop")}));
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
        QCOMPARE(dialogs.questions, QStringList{inLocale(QStringLiteral("解凍を中止しますか？"),
                                                         QStringLiteral("Stop extracting?"))});
        QVERIFY(!window.job()->isStopping());
        QTRY_VERIFY(readText(log).contains(QStringLiteral("UnZip\t-x \"") + paths[2]));
        window.cmdStop->click();
        QTRY_VERIFY_WITH_TIMEOUT(window.job()->isFinished(), 60000);

        QTRY_COMPARE(window.lblMessage->text(), inLocale(QStringLiteral("解凍を中止しました"),
                                                         QStringLiteral("Extraction stopped")));
        QTRY_VERIFY(window.resultsWindow());
        QCOMPARE(allRows(*window.resultsWindow()),
                 paths[0] + inLocale(QStringLiteral("\t解凍しました\t\t"),
                                     QStringLiteral("\tExtracted\t\t")) + env.out + u'\n' + paths[1]
                     + inLocale(QStringLiteral("\t解凍しました\t\t"),
                                QStringLiteral("\tExtracted\t\t")) + env.out + u'\n' + paths[2]
                     + inLocale(QStringLiteral("\t解凍できませんでした\t中止したため解凍していません\t\n"),
                                QStringLiteral("\tNot extracted\tNot extracted because the run was stopped\t\n")));
        window.resultsWindow()->cmdClose->click();
        QVERIFY(window.isVisible());
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
        QVERIFY(!window.resultsWindow());
    }
};

QTEST_MAIN(TestProgress)
#include "tst_frmprogress.moc"

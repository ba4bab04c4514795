// The extraction run's ticks, texts, bar and results, against stand-in libraries.
#include "clsarchive.h"
#include "clsinictrl.h"
#include "clslistctrl.h"
#include "extractrun.h"
#include "globals.h"
#include "listcolumns.h"
#include "module1.h"
#include "scripteddialogs.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace {

const QString preparing = QStringLiteral("現在準備中です...\n\n0 / 0");
const QString finished = QStringLiteral("解凍が終了しました");
const QString heading = QStringLiteral("次の書庫ファイルは解凍できませんでした\n");

QString extracting(const QString &path, int k, int n)
{
    return QStringLiteral("現在解凍中です...\n") + path + QStringLiteral("\n\n%1 / %2").arg(k).arg(n);
}

// The window as the run sees it; remembers everything it was told.
class RecordingView : public ProgressView
{
public:
    void setMessage(const QString &text) override { messages.append(text); }
    int progressBoxWidth() const override { return width; }
    void drawProgressBar(int w) override { bars.append(w); }
    void repaintWindow() override {}
    void stopTimer() override { ++timerStops; }
    void enableClose() override { closeEnabled = true; }
    void closeWindow() override { closed = true; }
    QWidget *dialogOwner() override { return owner; }

    int width = 361;
    QWidget *owner = reinterpret_cast<QWidget *>(0x1);
    QStringList messages;
    QList<int> bars;
    int timerStops = 0;
    bool closeEnabled = false;
    bool closed = false;
};

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

// Only the command calls; registration also logs its version calls.
QStringList commandLines(const QString &log)
{
    QStringList lines;
    for (const QString &line : readLines(log)) {
        if (line.startsWith(QStringLiteral("UnZip\t")))
            lines.append(line.section(u'\t', 1, 1));
    }
    return lines;
}

} // namespace

class TestExtractRun : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_in;
    QString m_out;
    QString m_log;
    std::unique_ptr<QTreeWidget> m_listView;
    std::unique_ptr<clsListCtrl> m_list;
    std::unique_ptr<clsArchive> m_archive;
    clsINICtrl m_ini;

    // An (empty) archive file in the input folder, listed.
    QString addArchive(const QString &name)
    {
        const QString path = m_in + name;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.close();
        return m_list->addFile(path) == clsListCtrl::added ? path : QString();
    }

    // Ticks until the run has finished, taking in what the workers finished
    // after each tick, as the window's event loop does.
    void runToEnd(ExtractRun &run)
    {
        for (int ticks = 0; !run.isFinished() && ticks < 10000; ++ticks) {
            run.tick();
            run.waitForRunning();
        }
    }

    // The settings file's [Option] Parallel key; "" leaves it out.
    void setParallelKey(const QByteArray &value)
    {
        QFile file(m_ini.file());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Option]\n" + (value.isEmpty() ? QByteArray() : "Parallel=" + value + "\n"));
    }

    // Lines of the fake libraries' log whose call name is one of calls,
    // without the call name: "UnZip", "UnZipDone", "UnZipStopped".
    QStringList logged(const QStringList &calls)
    {
        QStringList lines;
        for (const QString &line : readLines(m_log)) {
            if (calls.contains(line.section(u'\t', 0, 0)))
                lines.append(line.section(u'\t', 0, 1));
        }
        return lines;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_in = m_dir->filePath(QStringLiteral("in/"));
        m_out = m_dir->filePath(QStringLiteral("out/"));
        QVERIFY(QDir().mkpath(m_in));
        QVERIFY(QDir().mkpath(m_out));
        m_log = m_dir->filePath(QStringLiteral("calls.log"));
        qputenv("TENVO_FAKE_LOG", QFile::encodeName(m_log));
        qputenv("TENVO_FAKE_RESULT", "0");
        qputenv("TENVO_FAKE_VERSION_SevenZip", "0");

        m_listView = std::make_unique<QTreeWidget>();
        setupArchiveListColumns(m_listView.get(), ArchiveListLayout::MainWindow);
        m_list = std::make_unique<clsListCtrl>();
        m_list->setList(m_listView.get());
        gListCtrl = m_list.get();

        m_archive = std::make_unique<clsArchive>();
        m_archive->setLibraryFolder(QStringLiteral(TENVO_FAKES_DIR));
        for (const SupportType &row : registrationRows())
            m_archive->addSupportType(row);
        gArchive = m_archive.get();

        gMakeNameFolder = gRestoreFolder = gDeleteFromList = gCloseDialog = false;

        // One archive at a time unless a test says otherwise: the order of
        // the program before it used several cores.
        m_ini.setFile(m_dir->filePath(QStringLiteral("Tenvo.ini")));
        setParallelKey("1");
        gIniCtrl = &m_ini;
        qputenv("TENVO_FAKE_GO", QFile::encodeName(m_dir->filePath(QStringLiteral("go"))));
    }

    void cleanup()
    {
        gIniCtrl = nullptr;
        gListCtrl = nullptr;
        gArchive = nullptr;
        m_list.reset();
        m_listView.reset();
        m_archive.reset();
        m_dir.reset();
    }

    void threeArchivesOneAtATime_data()
    {
        QTest::addColumn<bool>("closeDialog");
        QTest::newRow("the window is left open") << false;
        QTest::newRow("the window closes by itself") << true;
    }

    // With the Parallel key at 1 the run shows, draws and calls exactly what
    // a run of one archive per tick did.
    void threeArchivesOneAtATime()
    {
        QFETCH(bool, closeDialog);
        gCloseDialog = closeDialog;
        const QString a = addArchive(QStringLiteral("a.zip"));
        const QString b = addArchive(QStringLiteral("b.zip"));
        const QString c = addArchive(QStringLiteral("c.zip"));
        QVERIFY(!c.isEmpty());
        ScriptedDialogs dialogs;
        RecordingView view;
        ExtractRun run(view);
        QCOMPARE(run.parallel(), 1);
        run.setExtractFolder(m_out.chopped(1));

        run.tick();
        QCOMPARE(view.messages, QStringList{preparing});
        QVERIFY(!view.closeEnabled);
        runToEnd(run);

        QCOMPARE(view.messages, (QStringList{preparing, extracting(a, 1, 3), extracting(b, 2, 3),
                                             extracting(c, 3, 3), finished}));
        QCOMPARE(view.bars, (QList<int>{120, 241, 361}));
        QVERIFY(run.isFinished());
        QCOMPARE(run.currentIndex(), 4);
        QCOMPARE(view.timerStops, 1);
        QVERIFY(view.closeEnabled);
        QCOMPARE(view.closed, closeDialog);
        QCOMPARE(dialogs.exclamations, QStringList());
        QCOMPARE(commandLines(m_log),
                 (QStringList{"-x \"" + a + "\" \"" + m_out + "\"", "-x \"" + b + "\" \"" + m_out + "\"",
                              "-x \"" + c + "\" \"" + m_out + "\""}));
        QCOMPARE(m_list->getCount(), 3);
    }

    void parallelKey_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("parallel");
        const int cores = qMax(1, QThread::idealThreadCount());
        QTest::newRow("no key: one archive per core") << QByteArray() << cores;
        QTest::newRow("1: one archive at a time") << QByteArray("1") << 1;
        QTest::newRow("3: three at once") << QByteArray("3") << 3;
        QTest::newRow("0: one per core") << QByteArray("0") << cores;
        QTest::newRow("not a number: one per core") << QByteArray("many") << cores;
    }

    void parallelKey()
    {
        QFETCH(QByteArray, value);
        QFETCH(int, parallel);
        setParallelKey(value);
        RecordingView view;
        ExtractRun run(view);
        QCOMPARE(run.parallel(), parallel);
    }

    void resultsFollowTheListWhateverOrderArchivesFinishIn_data()
    {
        QTest::addColumn<QByteArray>("parallel");
        QTest::newRow("one at a time: the slow archive holds up the rest") << QByteArray("1");
        QTest::newRow("two at once: the archives after the slow one finish first") << QByteArray("2");
    }

    // The first archive's decoder is slow (it waits for the test's go); the
    // summary, the results and the texts still follow the list.
    void resultsFollowTheListWhateverOrderArchivesFinishIn()
    {
        QFETCH(QByteArray, parallel);
        setParallelKey(parallel);
        gCloseDialog = true;
        const QString a = addArchive(QStringLiteral("a-wait-damaged.zip"));
        const QString b = addArchive(QStringLiteral("b-damaged.zip"));
        const QString c = addArchive(QStringLiteral("c.zip"));
        const QString d = addArchive(QStringLiteral("d-damaged.zip"));
        QVERIFY(!d.isEmpty());
        ScriptedDialogs dialogs;
        RecordingView view;
        ExtractRun run(view);
        run.setExtractFolder(m_out);

        run.tick();
        run.tick();
        if (parallel == "2") {
            // b, c and d start and end while a is still being decoded; the
            // results wait for a, the first in the list.
            QTRY_COMPARE(commandLines(m_log).size(), 4);
            QTRY_COMPARE(run.runningCount(), 1);
        } else {
            QTRY_COMPARE(commandLines(m_log).size(), 1);
            QCOMPARE(run.runningCount(), 1);
        }
        QCOMPARE(run.results().size(), 0);
        QFile go(m_dir->filePath(QStringLiteral("go")));
        QVERIFY(go.open(QIODevice::WriteOnly));
        go.close();
        runToEnd(run);

        QStringList order;
        for (const ArchiveResult &result : run.results())
            order.append(result.path);
        QCOMPARE(order, (QStringList{a, b, c, d}));
        const QString damaged = QStringLiteral("\n　書庫ファイルが壊れています");
        QCOMPARE(dialogs.exclamations, QStringList{heading + u'\n' + a + damaged + u'\n' + b + damaged
                                                   + u'\n' + d + damaged});
        QCOMPARE(view.bars.last(), 361);
        QVERIFY(!view.closed);
        const QStringList calls = logged({QStringLiteral("UnZip"), QStringLiteral("UnZipDone")});
        const QString tail = QStringLiteral("\" \"") + m_out + u'"';
        const qsizetype aDone = calls.indexOf(QStringLiteral("UnZipDone\t-x \"") + a + tail);
        const qsizetype dStarted = calls.indexOf(QStringLiteral("UnZip\t-x \"") + d + tail);
        QVERIFY(aDone >= 0 && dStarted >= 0);
        // One at a time, d starts only after a is done; two at once, d is
        // done before a.
        QCOMPARE(aDone < dStarted, parallel == "1");
        if (parallel == "1") {
            QCOMPARE(view.messages, (QStringList{preparing, extracting(a, 1, 4), extracting(b, 2, 4),
                                                 extracting(c, 3, 4), extracting(d, 4, 4), finished}));
        }
    }

    // A name-folder question is asked while an earlier archive is still being
    // decoded; the later archives wait for the answer, in list order.
    void nameFolderQuestionWhileAnotherArchiveGoesOn()
    {
        setParallelKey("2");
        gMakeNameFolder = true;
        const QString a = addArchive(QStringLiteral("a-wait.zip"));
        const QString b = addArchive(QStringLiteral("b.zip"));
        const QString c = addArchive(QStringLiteral("c.zip"));
        QVERIFY(QDir(m_out).mkdir(QStringLiteral("b")));
        ScriptedDialogs dialogs;
        dialogs.inputAnswers = {QStringLiteral("b2")};
        QStringList callsWhileAsked;
        int runningWhileAsked = -1;
        RecordingView view;
        ExtractRun run(view);
        dialogs.onInput = [&] {
            QTRY_COMPARE(commandLines(m_log).size(), 1);
            callsWhileAsked = logged({QStringLiteral("UnZip"), QStringLiteral("UnZipDone")});
            runningWhileAsked = run.runningCount();
        };
        run.setExtractFolder(m_out);
        run.tick();
        run.tick();
        QFile go(m_dir->filePath(QStringLiteral("go")));
        QVERIFY(go.open(QIODevice::WriteOnly));
        go.close();
        runToEnd(run);

        // Asked while a was being decoded, before b or c was started.
        QCOMPARE(callsWhileAsked, QStringList{QStringLiteral("UnZip\t-x \"") + a + "\" \"" + m_out + "a-wait/\""});
        QCOMPARE(runningWhileAsked, 1);
        QStringList called = commandLines(m_log);
        QCOMPARE(called.mid(1), (QStringList{"-x \"" + b + "\" \"" + m_out + "b2/\"",
                                             "-x \"" + c + "\" \"" + m_out + "c/\""}));
        QStringList order;
        for (const ArchiveResult &result : run.results())
            order.append(result.destination);
        QCOMPARE(order, (QStringList{m_out + "a-wait/", m_out + "b2/", m_out + "c/"}));
    }

    // The later archive is found encrypted first, yet the questions come
    // for the first archive of the list first; the password that opened it
    // opens the later one without a question.
    void passwordQuestionsFollowTheList()
    {
        setParallelKey("2");
        const QString a = addArchive(QStringLiteral("a-locked-wait.zip"));
        const QString b = addArchive(QStringLiteral("b-locked.zip"));
        const QString c = addArchive(QStringLiteral("c.zip"));
        QVERIFY(!c.isEmpty());
        ScriptedDialogs dialogs;
        dialogs.passwordAnswers = {QStringLiteral("wrong"), QStringLiteral("right")};
        RecordingView view;
        ExtractRun run(view);
        run.setExtractFolder(m_out);
        run.tick();
        run.tick();
        QTRY_COMPARE(commandLines(m_log).size(), 3);
        QTRY_COMPARE(run.runningCount(), 1);
        QCOMPARE(dialogs.passwordPrompts.size(), 0);

        QFile go(m_dir->filePath(QStringLiteral("go")));
        QVERIFY(go.open(QIODevice::WriteOnly));
        go.close();
        runToEnd(run);

        QCOMPARE(dialogs.passwordPrompts.size(), 2);
        QVERIFY(dialogs.passwordPrompts[0].contains(QStringLiteral("a-locked-wait.zip")));
        QVERIFY(dialogs.passwordPrompts[1].contains(QStringLiteral("a-locked-wait.zip")));
        QCOMPARE(dialogs.exclamations, QStringList());
        const QStringList calls = commandLines(m_log);
        QCOMPARE(calls.size(), 6);
        QVERIFY(calls.last().contains(QStringLiteral("-pright")) && calls.last().contains(b));
    }

    // A library with the progress call moves the bar while its archive is
    // decoded; one without it moves the bar when the archive ends.
    void barMovesInsideAnArchive()
    {
        m_archive = std::make_unique<clsArchive>();
        m_archive->setLibraryFolder(QStringLiteral(TENVO_FAKES_DIR "/progress"));
        for (const SupportType &row : registrationRows())
            m_archive->addSupportType(row);
        gArchive = m_archive.get();
        const QString a = addArchive(QStringLiteral("a-wait.zip"));
        QVERIFY(!addArchive(QStringLiteral("b.zip")).isEmpty());
        ScriptedDialogs dialogs;
        RecordingView view;
        ExtractRun run(view);
        run.setExtractFolder(m_out);
        run.tick();

        // The fake reports its way through the archive again and again.
        QTRY_VERIFY((run.tick(), !view.bars.isEmpty()));
        QVERIFY(view.bars.first() > 0 && view.bars.first() < 181);
        QCOMPARE(run.results().size(), 0);
        // The counter line tells the share read too.
        const QRegularExpression share(QStringLiteral("\n\n1 / 2 \\([1-9][0-9]?%\\)$"));
        QTRY_VERIFY((run.tick(), view.messages.last().contains(share)));
        QVERIFY(view.messages.last().startsWith(extracting(a, 1, 2)));
        QFile go(m_dir->filePath(QStringLiteral("go")));
        QVERIFY(go.open(QIODevice::WriteOnly));
        go.close();
        runToEnd(run);

        QCOMPARE(view.bars.last(), 361);
        QVERIFY(view.bars.contains(180));
    }

    void stopEndsRunningArchivesAndStartsNoMore_data()
    {
        QTest::addColumn<bool>("libraryCanStop");
        QTest::newRow("a library with the progress call is ended at once") << true;
        QTest::newRow("a library without it finishes its archive first") << false;
    }

    // Stopped while two slow archives are decoded: those end (or finish,
    // when their library cannot be stopped), the rest never start, and the
    // summary lists every archive not extracted, in list order. The list
    // keeps them even when it was to be cleared.
    void stopEndsRunningArchivesAndStartsNoMore()
    {
        QFETCH(bool, libraryCanStop);
        if (libraryCanStop) {
            m_archive = std::make_unique<clsArchive>();
            m_archive->setLibraryFolder(QStringLiteral(TENVO_FAKES_DIR "/progress"));
            for (const SupportType &row : registrationRows())
                m_archive->addSupportType(row);
            gArchive = m_archive.get();
        }
        setParallelKey("2");
        gDeleteFromList = true;
        const QString a = addArchive(QStringLiteral("a-wait.zip"));
        const QString b = addArchive(QStringLiteral("b-wait.zip"));
        const QString c = addArchive(QStringLiteral("c.zip"));
        const QString d = addArchive(QStringLiteral("d.zip"));
        QVERIFY(!d.isEmpty());
        ScriptedDialogs dialogs;
        RecordingView view;
        ExtractRun run(view);
        run.setExtractFolder(m_out);
        run.tick();
        run.tick();
        QTRY_COMPARE(commandLines(m_log).size(), 2);

        run.stop();
        if (!libraryCanStop) {
            QFile go(m_dir->filePath(QStringLiteral("go")));
            QVERIFY(go.open(QIODevice::WriteOnly));
        }
        runToEnd(run);

        // Only a and b were called, at once, so in either order.
        QStringList called = commandLines(m_log);
        called.sort();
        QCOMPARE(called, (QStringList{"-x \"" + a + "\" \"" + m_out + "\"",
                                      "-x \"" + b + "\" \"" + m_out + "\""}));
        const QString notDone = QStringLiteral("\n　中止したため解凍していません");
        const QStringList expectedSummary{
            heading + u'\n' + (libraryCanStop ? a + notDone + u'\n' + b + notDone + u'\n' : QString())
            + c + notDone + u'\n' + d + notDone};
        QCOMPARE(dialogs.exclamations, expectedSummary);
        QCOMPARE(logged({QStringLiteral("UnZipStopped")}).size(), libraryCanStop ? 2 : 0);
        QCOMPARE(view.messages.last(), QStringLiteral("解凍を中止しました"));
        QVERIFY(view.closeEnabled);
        QCOMPARE(m_list->getCount(), 4);
    }

    void barGrowsInProportion_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("archives");
        QTest::addColumn<QList<int>>("bars");

        QTest::newRow("361 pixels over 3 archives: thirds to the nearest pixel")
            << 361 << 3 << QList<int>{120, 241, 361};
        QTest::newRow("361 pixels over 2 archives: a half goes to the even 180")
            << 361 << 2 << QList<int>{180, 361};
        QTest::newRow("10 pixels over 4 archives: 2.5 goes to 2, 7.5 to 8")
            << 10 << 4 << QList<int>{2, 5, 8, 10};
        QTest::newRow("361 pixels over 800 archives: the bar moves and ends full")
            << 361 << 800 << QList<int>{0, 1, 1, 2, 2};
    }

    void barGrowsInProportion()
    {
        QFETCH(int, width);
        QFETCH(int, archives);
        QFETCH(QList<int>, bars);
        for (int i = 0; i < archives; ++i)
            QVERIFY(!addArchive(QStringLiteral("a%1.zip").arg(i)).isEmpty());
        ScriptedDialogs dialogs;
        RecordingView view;
        view.width = width;
        ExtractRun run(view);
        run.setExtractFolder(m_out);

        runToEnd(run);

        QCOMPARE(view.bars.size(), archives);
        QCOMPARE(view.bars.first(bars.size()), bars);
        QCOMPARE(view.bars.last(), width);
        QVERIFY(std::is_sorted(view.bars.cbegin(), view.bars.cend()));
        if (archives > width)
            QCOMPARE(view.bars[archives / 2 - 1], width / 2);
    }

    void emptyListFinishesAtOnce_data()
    {
        QTest::addColumn<bool>("closeDialog");
        QTest::newRow("the window is left open") << false;
        QTest::newRow("the window closes by itself") << true;
    }

    void emptyListFinishesAtOnce()
    {
        QFETCH(bool, closeDialog);
        gCloseDialog = closeDialog;
        ScriptedDialogs dialogs;
        RecordingView view;
        ExtractRun run(view);
        run.setExtractFolder(m_out);

        run.tick();

        QVERIFY(run.isFinished());
        QCOMPARE(view.messages.last(), finished);
        QCOMPARE(view.timerStops, 1);
        QVERIFY(view.closeEnabled);
        QCOMPARE(view.closed, closeDialog);
        QCOMPARE(view.bars, QList<int>());
        QCOMPARE(dialogs.exclamations, QStringList());
        QCOMPARE(commandLines(m_log), QStringList());
    }

    void failureIsReportedWithItsCause_data()
    {
        QTest::addColumn<QByteArray>("result");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("brokenLibrary");
        QTest::addColumn<QString>("cause");

        QTest::newRow("an archive that cannot be opened")
            << QByteArray("1") << "a.zip" << false << "書庫ファイルを開けません";
        QTest::newRow("an archive of another format")
            << QByteArray("2") << "a.zip" << false << "対応していない形式です";
        QTest::newRow("a damaged archive")
            << QByteArray("3") << "a.zip" << false << "書庫ファイルが壊れています";
        QTest::newRow("an encrypted archive")
            << QByteArray("4") << "a.zip" << false << "パスワード付きの書庫です";
        QTest::newRow("an archive with an unsafe entry")
            << QByteArray("5") << "a.zip" << false << "安全でない項目を飛ばしました";
        QTest::newRow("a destination that cannot be written")
            << QByteArray("6") << "a.zip" << false << "解凍先に書き込めません";
        QTest::newRow("a command line the library cannot read")
            << QByteArray("7") << "a.zip" << false << "解凍に失敗しました (7)";
        QTest::newRow("a file of no registered type")
            << QByteArray("0") << "a.xyz" << false << "対応していない形式です";
        QTest::newRow("a library that cannot be loaded")
            << QByteArray("0") << "a.zip" << true << "この形式の解凍ライブラリを読み込めません";
        QTest::newRow("a result no library gives")
            << QByteArray("42") << "a.zip" << false << "解凍に失敗しました (42)";
    }

    void failureIsReportedWithItsCause()
    {
        QFETCH(QByteArray, result);
        QFETCH(QString, fileName);
        QFETCH(bool, brokenLibrary);
        QFETCH(QString, cause);

        qputenv("TENVO_FAKE_RESULT", result);
        if (brokenLibrary) {
            // A file of the library's name that is no library at all.
            const QString folder = m_dir->filePath(QStringLiteral("lib/"));
            QVERIFY(QDir().mkpath(folder));
            QFile garbage(folder + QStringLiteral("unzip32.so"));
            QVERIFY(garbage.open(QIODevice::WriteOnly));
            garbage.write("not a library");
            garbage.close();
            m_archive = std::make_unique<clsArchive>();
            m_archive->setLibraryFolder(folder);
            for (const SupportType &row : registrationRows())
                m_archive->addSupportType(row);
            gArchive = m_archive.get();
        }
        gCloseDialog = true;
        const QString path = addArchive(fileName);
        QVERIFY(!path.isEmpty());
        ScriptedDialogs dialogs;
        RecordingView view;
        QString shownBehindTheBox;
        dialogs.onExclamation = [&] { shownBehindTheBox = view.messages.last(); };
        ExtractRun run(view);
        run.setExtractFolder(m_out);

        runToEnd(run);

        QCOMPARE(dialogs.exclamations, QStringList{heading + u'\n' + path + QStringLiteral("\n　") + cause});
        QCOMPARE(shownBehindTheBox, finished);
        QVERIFY(view.closeEnabled);
        QVERIFY(!view.closed);
    }

    void manyFailuresAreCounted()
    {
        qputenv("TENVO_FAKE_RESULT", "3");
        QStringList paths;
        for (int i = 0; i < 25; ++i)
            paths.append(addArchive(QStringLiteral("a%1.zip").arg(i, 2, 10, QLatin1Char('0'))));
        ScriptedDialogs dialogs;
        RecordingView view;
        ExtractRun run(view);
        run.setExtractFolder(m_out);

        runToEnd(run);

        QCOMPARE(dialogs.exclamations.size(), 1);
        const QString text = dialogs.exclamations.first();
        QVERIFY(text.contains(paths[19] + u'\n'));
        QVERIFY(!text.contains(paths[20]));
        QVERIFY(text.endsWith(QStringLiteral("\n\nほか 5 件")));
    }

    void nameFolders()
    {
        gMakeNameFolder = true;
        const QString a = addArchive(QStringLiteral("a.zip"));
        const QString b = addArchive(QStringLiteral("b.zip"));
        const QString c = addArchive(QStringLiteral("c.tar.zip"));
        const QString d = addArchive(QStringLiteral("d.zip"));
        QVERIFY(QDir(m_out).mkdir(QStringLiteral("b")));
        QFile inTheWay(m_out + QStringLiteral("c.tar"));
        QVERIFY(inTheWay.open(QIODevice::WriteOnly));
        inTheWay.close();
        ScriptedDialogs dialogs;
        dialogs.inputAnswers = {QStringLiteral("b2")};
        RecordingView view;
        ExtractRun run(view);
        run.setExtractFolder(m_out);

        runToEnd(run);

        QVERIFY(!dialogs.ranOutOfAnswers);
        QCOMPARE(commandLines(m_log),
                 (QStringList{"-x \"" + a + "\" \"" + m_out + "a/\"", "-x \"" + b + "\" \"" + m_out + "b2/\"",
                              "-x \"" + d + "\" \"" + m_out + "d/\""}));
        for (const char *folder : {"a", "b", "b2", "d"})
            QVERIFY2(QFileInfo(m_out + QLatin1String(folder)).isDir(), folder);
        QCOMPARE(view.bars, (QList<int>{90, 180, 271, 361}));
        QCOMPARE(dialogs.exclamations.size(), 3);
        QCOMPARE(dialogs.exclamations[0],
                 QStringLiteral("フォルダ ") + m_out + QStringLiteral("b/ は既に存在しています。\n"
                                                                   "別の名前でフォルダを作成してください"));
        QCOMPARE(dialogs.exclamations[1], QStringLiteral("フォルダ ") + m_out
                     + QStringLiteral("c.tar/ を作成できません。\n同じ名前のファイルがあります"));
        QCOMPARE(dialogs.exclamations[2],
                 heading + u'\n' + c + QStringLiteral("\n　フォルダを作成できません"));
    }

    void ticksDuringAQuestionDoNothing()
    {
        gMakeNameFolder = true;
        const QString a = addArchive(QStringLiteral("a.zip"));
        const QString b = addArchive(QStringLiteral("b.zip"));
        QVERIFY(QDir(m_out).mkdir(QStringLiteral("a")));
        ScriptedDialogs dialogs;
        dialogs.inputAnswers = {QStringLiteral("a2")};
        RecordingView view;
        ExtractRun run(view);
        qsizetype messagesWhileAsking = -1;
        // The timer keeps firing while a box is open.
        auto tickTwice = [&] {
            const qsizetype before = view.messages.size();
            run.tick();
            run.tick();
            messagesWhileAsking = view.messages.size() - before;
        };
        dialogs.onExclamation = tickTwice;
        dialogs.onInput = tickTwice;
        run.setExtractFolder(m_out);

        runToEnd(run);

        QCOMPARE(messagesWhileAsking, 0);
        QCOMPARE(commandLines(m_log),
                 (QStringList{"-x \"" + a + "\" \"" + m_out + "a2/\"", "-x \"" + b + "\" \"" + m_out + "b/\""}));
        QCOMPARE(view.bars, (QList<int>{180, 361}));
    }

    void listAfterTheRun_data()
    {
        QTest::addColumn<bool>("deleteFromList");
        QTest::addColumn<int>("rows");
        QTest::newRow("the list is cleared when asked") << true << 0;
        QTest::newRow("the list is kept otherwise") << false << 2;
    }

    void listAfterTheRun()
    {
        QFETCH(bool, deleteFromList);
        QFETCH(int, rows);
        gDeleteFromList = deleteFromList;
        addArchive(QStringLiteral("a.zip"));
        addArchive(QStringLiteral("b.zip"));
        ScriptedDialogs dialogs;
        RecordingView view;
        ExtractRun run(view);
        run.setExtractFolder(m_out);

        runToEnd(run);

        QCOMPARE(m_listView->topLevelItemCount(), rows);
    }

    void controlCharactersInAPathAreShownEscaped()
    {
        qputenv("TENVO_FAKE_RESULT", "3");
        const QString path = addArchive(QStringLiteral("a\nb.zip"));
        QVERIFY(!path.isEmpty());
        ScriptedDialogs dialogs;
        RecordingView view;
        ExtractRun run(view);
        run.setExtractFolder(m_out);

        runToEnd(run);

        const QString shown = m_in + QStringLiteral("a\\nb.zip");
        QVERIFY(view.messages.contains(extracting(shown, 1, 1)));
        QCOMPARE(dialogs.exclamations,
                 QStringList{heading + u'\n' + shown + QStringLiteral("\n　書庫ファイルが壊れています")});
    }
};

QTEST_MAIN(TestExtractRun)
#include "tst_extractrun.moc"

// The extraction job against stand-in libraries: order, questions,
// passwords, the stop, where files land, and the texts of its results.
#include "archiveresult.h"
#include "clsarchive.h"
#include "extractjob.h"
#include "module1.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <unistd.h>

namespace {

const QString heading = QStringLiteral("次の書庫ファイルは解凍できませんでした\n");

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// How a test answers the job's questions, in order; each row's first word
// is the reply: "answer <text>", "skip", "stop".
struct Answers
{
    QStringList replies;
    QStringList asked; // kind and text of each question
};

} // namespace

class TestExtractJob : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_in;
    QString m_out;
    QString m_log;
    std::unique_ptr<clsArchive> m_archive;

    QString archive(const QString &name)
    {
        const QString path = m_in + name;
        QFile file(path);
        return file.open(QIODevice::WriteOnly) ? path : QString();
    }

    void useLibraries(const QString &folder)
    {
        m_archive = std::make_unique<clsArchive>();
        m_archive->setLibraryFolder(folder);
        for (const SupportType &row : registrationRows())
            m_archive->addSupportType(row);
    }

    void go()
    {
        QFile go(m_dir->filePath(QStringLiteral("go")));
        QVERIFY(go.open(QIODevice::WriteOnly));
    }

    // The command lines of the ZIP library, the hidden folder each archive
    // is first written to taken out of its destination.
    QStringList commandLines(const QString &call = QStringLiteral("UnZip"))
    {
        static const QRegularExpression stage(QStringLiteral("\\.tenvo-\\d+-s\\d+/"));
        QStringList lines;
        for (const QString &line : readLines(m_log)) {
            if (line.section(u'\t', 0, 0) == call)
                lines.append(line.section(u'\t', 1, 1).remove(stage));
        }
        return lines;
    }

    // Answers the job's questions from answers (all skipped without).
    void answerWith(ExtractJob &job, Answers *answers)
    {
        connect(&job, &ExtractJob::question, this, [answers](JobQuestion *question) {
            if (!answers) {
                question->skip();
                return;
            }
            answers->asked.append(QString::number(question->kind()) + u' ' + question->text());
            const QString reply = answers->replies.isEmpty() ? QStringLiteral("skip") : answers->replies.takeFirst();
            if (reply.startsWith(QStringLiteral("answer ")))
                question->answer(reply.mid(7));
            else if (reply == u"stop")
                question->stopRun();
            else
                question->skip();
        });
    }

    // Runs job to its end; a job not started yet has its questions
    // answered from answers.
    void runToEnd(ExtractJob &job, Answers *answers = nullptr)
    {
        if (!job.isStarted())
            answerWith(job, answers);
        QSignalSpy finished(&job, &ExtractJob::finished);
        if (!job.isStarted())
            job.start();
        QVERIFY(finished.wait(20000) || job.isFinished());
    }

    ExtractOptions options(int parallel = 1)
    {
        ExtractOptions options;
        options.destination = m_out;
        options.parallel = parallel;
        return options;
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
        qputenv("TENVO_FAKE_GO", QFile::encodeName(m_dir->filePath(QStringLiteral("go"))));
        useLibraries(QStringLiteral(TENVO_FAKES_DIR));
    }

    void cleanup()
    {
        m_archive.reset();
        m_dir.reset();
    }

    void resultsFollowTheList_data()
    {
        QTest::addColumn<int>("parallel");
        QTest::newRow("one at a time: the slow archive holds up the rest") << 1;
        QTest::newRow("two at once: the archives after the slow one end first") << 2;
    }

    // The first archive's decoder is slow; the results, the signals and the
    // summary still follow the list, and each archive's files land where the
    // library was told, with nothing hidden left behind.
    void resultsFollowTheList()
    {
        QFETCH(int, parallel);
        const QStringList paths{archive(QStringLiteral("a-wait-damaged.zip")), archive(QStringLiteral("b-damaged.zip")),
                                archive(QStringLiteral("c.zip")), archive(QStringLiteral("d-damaged.zip"))};
        ExtractJob job(*m_archive, paths, options(parallel));
        QList<int> started;
        QList<int> ended;
        connect(&job, &ExtractJob::archiveStarted, this, [&](int index) { started.append(index); });
        connect(&job, &ExtractJob::archiveFinished, this, [&](int index) { ended.append(index); });
        job.start();
        QTRY_COMPARE(commandLines().size(), parallel == 2 ? 4 : 1);
        QCOMPARE(job.results().size(), 0);
        go();
        runToEnd(job);

        QCOMPARE(ended, (QList<int>{0, 1, 2, 3}));
        QCOMPARE(started, (QList<int>{0, 1, 2, 3}));
        QStringList order;
        for (const ArchiveResult &result : job.results())
            order.append(result.path);
        QCOMPARE(order, paths);
        const QString damaged = QStringLiteral("\n　書庫ファイルが壊れています");
        QCOMPARE(::summaryText(job.results()),
                 heading + u'\n' + paths[0] + damaged + u'\n' + paths[1] + damaged + u'\n' + paths[3] + damaged);
        QVERIFY(commandLines().contains("-x \"" + paths[0] + "\" \"" + m_out + "\""));
        QCOMPARE(job.progress().steps, job.progress().stepsTotal);
        QCOMPARE(QDir(m_out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }

    // Two archives hold the same path: the later one in the list wins even
    // when the earlier one ends last.
    void laterArchiveWinsAtAnyParallelCount_data()
    {
        QTest::addColumn<int>("parallel");
        QTest::newRow("one at a time") << 1;
        QTest::newRow("two at once, the earlier archive ending last") << 2;
    }

    void laterArchiveWinsAtAnyParallelCount()
    {
        QFETCH(int, parallel);
        const QString a = archive(QStringLiteral("a-land-wait.zip"));
        const QString b = archive(QStringLiteral("b-land.zip"));
        ExtractJob job(*m_archive, {a, b}, options(parallel));
        job.start();
        QTRY_COMPARE(commandLines().size(), parallel);
        if (parallel == 2)
            QTRY_COMPARE(readLines(m_log).filter(QStringLiteral("UnZip\t")).size(), 2);
        go();
        runToEnd(job);
        QCOMPARE(readFile(m_out + QStringLiteral("landed.txt")), b);
        QCOMPARE(job.results()[0].landed, 1);
    }

    void questions_data()
    {
        QTest::addColumn<QStringList>("replies");
        QTest::addColumn<QStringList>("destinations");
        QTest::addColumn<QStringList>("causes");
        const QString skipped = QStringLiteral("解凍を飛ばしました");
        const QString stopped = QStringLiteral("中止したため解凍していません");
        QTest::newRow("another name") << QStringList{"answer b2"} << QStringList{"a-wait/", "b2/", "c/"}
                                      << QStringList{"", "", ""};
        QTest::newRow("an empty name asks again") << QStringList{"answer ", "answer b3"}
                                                  << QStringList{"a-wait/", "b3/", "c/"} << QStringList{"", "", ""};
        QTest::newRow("an answer that is taken too is asked about in turn")
            << QStringList{"answer b", "answer b4"} << QStringList{"a-wait/", "b4/", "c/"} << QStringList{"", "", ""};
        QTest::newRow("a name with a slash cannot be made") << QStringList{"answer x/y"}
                                                            << QStringList{"a-wait/", "b/", "c/"}
                                                            << QStringList{"", "フォルダを作成できません", ""};
        QTest::newRow("skip the archive") << QStringList{"skip"} << QStringList{"a-wait/", "b/", "c/"}
                                          << QStringList{"", skipped, ""};
        // The stop may come before the first archive's call is made.
        QTest::newRow("stop the run") << QStringList{"stop"} << QStringList{"", "b/", ""}
                                      << QStringList{"*", stopped, stopped};
    }

    // A name folder is taken: the question is asked while an earlier archive
    // is still being decoded, the later archives wait for its answer, and
    // every answer has a way out.
    void questions()
    {
        QFETCH(QStringList, replies);
        QFETCH(QStringList, destinations);
        QFETCH(QStringList, causes);
        const QStringList paths{archive(QStringLiteral("a-wait.zip")), archive(QStringLiteral("b.zip")),
                                archive(QStringLiteral("c.zip"))};
        QVERIFY(QDir(m_out).mkdir(QStringLiteral("b")));
        ExtractOptions chosen = options(2);
        chosen.nameFolders = true;
        ExtractJob job(*m_archive, paths, chosen);
        Answers answers{replies, {}};
        qsizetype endedWhenAsked = -1;
        connect(&job, &ExtractJob::question, this, [&] {
            if (endedWhenAsked < 0)
                endedWhenAsked = job.results().size();
        });
        answerWith(job, &answers);
        job.start();
        QTRY_VERIFY(endedWhenAsked >= 0);
        go();
        runToEnd(job);

        QCOMPARE(endedWhenAsked, 0);
        QVERIFY(answers.asked.first().endsWith(QStringLiteral("b/ は既に存在しています。\n別の名前でフォルダを作成してください")));
        for (int i = 0; i < 3; ++i) {
            const ArchiveResult &result = job.results()[i];
            if (!destinations[i].isEmpty())
                QCOMPARE(result.destination, m_out + destinations[i]);
            if (causes[i] != u"*")
                QCOMPARE(result.failed() ? causeText(result) : QString(), causes[i]);
        }
        if (replies.first().contains(u'/'))
            QVERIFY(answers.asked.last().endsWith(QStringLiteral("x/y/ を作成できません。\nフォルダ名に「/」は使えません")));
        // No folder is left for an archive that was not extracted, and the
        // one that was there stays.
        QCOMPARE(QDir(m_out).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot),
                 job.results()[2].failed() ? QStringList(job.results()[0].failed() ? QStringList{"b"} : QStringList{"a-wait", "b"})
                 : destinations[1] == u"b3/" ? QStringList({"a-wait", "b", "b3", "c"})
                 : destinations[1] == u"b2/" ? QStringList({"a-wait", "b", "b2", "c"})
                 : destinations[1] == u"b4/" ? QStringList({"a-wait", "b", "b4", "c"})
                                             : QStringList({"a-wait", "b", "c"}));
    }

    void passwords_data()
    {
        QTest::addColumn<QStringList>("given");
        QTest::addColumn<QStringList>("replies");
        QTest::addColumn<int>("questions");
        QTest::addColumn<QStringList>("causes");
        const QString encrypted = QStringLiteral("パスワード付きの書庫です");
        const QString stopped = QStringLiteral("中止したため解凍していません");
        QTest::newRow("two passwords in turn: each is asked once")
            << QStringList() << QStringList{"answer right", "answer other"} << 2 << QStringList{"", "", "", ""};
        QTest::newRow("given passwords: nobody is asked")
            << QStringList{"nothing", "other", "right"} << QStringList() << 0 << QStringList{"", "", "", ""};
        QTest::newRow("a wrong answer is asked again, three times at most")
            << QStringList() << QStringList{"answer no", "answer no", "answer no", "answer other"} << 5
            << QStringList{encrypted, "", encrypted, ""};
        QTest::newRow("skip: the archive stays encrypted, the next one is asked")
            << QStringList() << QStringList{"skip", "answer other"} << 3
            << QStringList{encrypted, "", encrypted, ""};
        QTest::newRow("stop the run")
            << QStringList() << QStringList{"stop"} << 1 << QStringList{stopped, stopped, stopped, stopped};
    }

    // Archives alternate between two passwords; every password that opened
    // an archive is tried before anyone is asked.
    void passwords()
    {
        QFETCH(QStringList, given);
        QFETCH(QStringList, replies);
        QFETCH(int, questions);
        QFETCH(QStringList, causes);
        const QStringList paths{archive(QStringLiteral("a-locked.zip")), archive(QStringLiteral("b-otherlock.zip")),
                                archive(QStringLiteral("c-locked.zip")), archive(QStringLiteral("d-otherlock.zip"))};
        ExtractOptions chosen = options(1);
        chosen.passwords = given;
        ExtractJob job(*m_archive, paths, chosen);
        Answers answers{replies, {}};
        runToEnd(job, &answers);

        QCOMPARE(answers.asked.size(), questions);
        if (questions > 0)
            QVERIFY(answers.asked.first().contains(QStringLiteral("「a-locked.zip」はパスワード付きです")));
        QStringList got;
        for (const ArchiveResult &result : job.results())
            got.append(result.failed() ? causeText(result) : QString());
        QCOMPARE(got, causes);
    }

    void stop_data()
    {
        QTest::addColumn<bool>("libraryCanStop");
        QTest::newRow("a library with the progress call is ended at once") << true;
        QTest::newRow("a library without it finishes its archive first") << false;
    }

    // Stopped while two slow archives run: those end (or finish), the rest
    // never start, and each archive not finished says whether some of its
    // files landed; the bar shows what was done.
    void stop()
    {
        QFETCH(bool, libraryCanStop);
        if (libraryCanStop)
            useLibraries(QStringLiteral(TENVO_FAKES_DIR "/progress"));
        const QStringList paths{archive(QStringLiteral("a-wait-land.zip")), archive(QStringLiteral("b-wait.zip")),
                                archive(QStringLiteral("c.zip"))};
        ExtractJob job(*m_archive, paths, options(2));
        job.start();
        QTRY_COMPARE(commandLines().size(), 2);
        job.stop();
        if (!libraryCanStop)
            go();
        runToEnd(job);

        QCOMPARE(commandLines().size(), 2);
        QStringList got;
        for (const ArchiveResult &result : job.results())
            got.append(result.failed() ? causeText(result) : QString());
        const QString notDone = QStringLiteral("中止したため解凍していません");
        QCOMPARE(got, libraryCanStop ? QStringList({QStringLiteral("中止したため一部のファイルだけを解凍しました"), notDone, notDone})
                                     : QStringList({QString(), QString(), notDone}));
        QCOMPARE(readFile(m_out + QStringLiteral("landed.txt")), paths[0]);
        QVERIFY(job.progress().steps < job.progress().stepsTotal);
        QCOMPARE(QDir(m_out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"landed.txt"});
    }

    // While paused nothing new starts; a question open does not hold the
    // stop.
    void pauseAndStopWhileAsked()
    {
        const QStringList paths{archive(QStringLiteral("a-locked.zip")), archive(QStringLiteral("b.zip")),
                                archive(QStringLiteral("c.zip"))};
        ExtractJob job(*m_archive, paths, options(1));
        QPointer<JobQuestion> open;
        connect(&job, &ExtractJob::question, this, [&](JobQuestion *question) {
            open = question;
            job.setPaused(true);
        });
        job.start();
        QTRY_VERIFY(open);
        QTRY_COMPARE(commandLines().size(), 2);
        QTest::qWait(100);
        QCOMPARE(commandLines().size(), 2);
        QSignalSpy withdrawn(open.data(), &JobQuestion::withdrawn);
        job.stop();
        QCOMPARE(withdrawn.size(), 1);
        runToEnd(job);
        QCOMPARE(job.results().size(), 3);
        QVERIFY(job.results()[0].stopped && !job.results()[1].failed() && job.results()[2].stopped);
    }

    void causes_data()
    {
        QTest::addColumn<QByteArray>("result");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("cause");

        QTest::newRow("an archive that cannot be opened") << QByteArray("1") << "a.zip" << "書庫ファイルを開けません";
        QTest::newRow("an archive of another format") << QByteArray("2") << "a.zip" << "対応していない形式です";
        QTest::newRow("a damaged archive") << QByteArray("3") << "a.zip" << "書庫ファイルが壊れています";
        QTest::newRow("an encrypted archive") << QByteArray("4") << "a.zip" << "パスワード付きの書庫です";
        QTest::newRow("an archive with an unsafe entry") << QByteArray("5") << "a.zip" << "安全でない項目を飛ばしました";
        QTest::newRow("a destination that cannot be written") << QByteArray("6") << "a.zip" << "解凍先に書き込めません";
        QTest::newRow("a command line the library cannot read") << QByteArray("7") << "a.zip" << "解凍に失敗しました (7)";
        QTest::newRow("the extraction process ended") << QByteArray("10") << "a.zip" << "解凍処理が途中で終了しました";
        QTest::newRow("a method no decoder reads") << QByteArray("11") << "a.zip" << "対応していない圧縮方式です";
        QTest::newRow("a file of no registered type") << QByteArray("0") << "a.xyz" << "対応していない形式です";
        QTest::newRow("a result no library gives") << QByteArray("42") << "a.zip" << "解凍に失敗しました (42)";
    }

    void causes()
    {
        QFETCH(QByteArray, result);
        QFETCH(QString, fileName);
        QFETCH(QString, cause);
        qputenv("TENVO_FAKE_RESULT", result);
        const QString path = archive(fileName);
        ExtractJob job(*m_archive, {path}, options());
        runToEnd(job);
        QCOMPARE(::summaryText(job.results()), heading + u'\n' + path + QStringLiteral("\n　") + cause);
    }

    // The summary lists 20 archives and counts the rest; control characters
    // in a path are shown escaped; shortened names are told per archive.
    void summaryTexts_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<QStringList>("contains");
        QTest::addColumn<QStringList>("lacks");
        QTest::newRow("25 failures: 20 shown, 5 counted")
            << 25 << QStringList{"/in/a19.zip\n", "\n\nほか 5 件"} << QStringList{"/in/a20.zip"};
        QTest::newRow("a newline in a path is shown as \\n")
            << 1 << QStringList{"/in/a\\nb.zip\n　書庫ファイルが壊れています"} << QStringList{"a\nb"};
    }

    void summaryTexts()
    {
        QFETCH(int, failures);
        QFETCH(QStringList, contains);
        QFETCH(QStringList, lacks);
        QList<ArchiveResult> results;
        for (int i = 0; i < failures; ++i) {
            ArchiveResult result;
            result.path = failures == 1 ? QStringLiteral("/in/a\nb.zip") : QStringLiteral("/in/a%1.zip").arg(i, 2, 10, QChar(u'0'));
            result.code = 3;
            results.append(result);
        }
        ArchiveResult shortened;
        shortened.path = QStringLiteral("/in/long.lzh");
        shortened.shortened = {QStringLiteral("x\ty"), QStringLiteral("z\tw")};
        results.append(shortened);
        const QString text = ::summaryText(results);
        for (const QString &part : contains)
            QVERIFY2(text.contains(part), qPrintable(text));
        for (const QString &part : lacks)
            QVERIFY(!text.contains(part));
        QVERIFY(text.endsWith(QStringLiteral("長すぎる名前を短くして解凍しました\n\n/in/long.lzh\n　2 個の名前")));
    }

    // Inner archives left are told under their archive, five of them and
    // the rest counted; their archive is not listed as failed.
    void nestedSummaryText()
    {
        ArchiveResult result;
        result.path = QStringLiteral("/in/outer.zip");
        for (int i = 1; i <= 7; ++i)
            result.nestedLeft.append(QStringLiteral("sub/in%1.zip\t書庫ファイルが壊れています").arg(i));
        QCOMPARE(::summaryText({result}),
                 QStringLiteral("次の書庫ファイルの中の書庫ファイルは解凍できませんでした\n\n/in/outer.zip\n"
                                "　sub/in1.zip: 書庫ファイルが壊れています\n　sub/in2.zip: 書庫ファイルが壊れています\n"
                                "　sub/in3.zip: 書庫ファイルが壊れています\n　sub/in4.zip: 書庫ファイルが壊れています\n"
                                "　sub/in5.zip: 書庫ファイルが壊れています\n　ほか 2 件"));
    }

    void barWidths_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("archives");
        QTest::addColumn<QList<int>>("bars");
        QTest::newRow("361 pixels over 3 archives: thirds to the nearest pixel") << 361 << 3 << QList<int>{120, 241, 361};
        QTest::newRow("361 pixels over 2 archives: a half goes to the even 180") << 361 << 2 << QList<int>{180, 361};
        QTest::newRow("10 pixels over 4 archives: 2.5 goes to 2, 7.5 to 8") << 10 << 4 << QList<int>{2, 5, 8, 10};
        QTest::newRow("361 pixels over 800 archives: the bar moves") << 361 << 800 << QList<int>{0, 1, 1, 2, 2};
    }

    void barWidths()
    {
        QFETCH(int, width);
        QFETCH(int, archives);
        QFETCH(QList<int>, bars);
        for (int i = 0; i < bars.size(); ++i)
            QCOMPARE(::barWidth(width, i + 1, archives), bars[i]);
        QCOMPARE(::barWidth(width, archives, archives), width);
    }

    // A hidden folder left by a process that is gone is removed by the next
    // job into that folder; one of a process still running stays.
    void staleHiddenFoldersAreSwept()
    {
        const QString gone = m_out + QStringLiteral(".tenvo-2147483600-s3/");
        const QString alive = m_out + QStringLiteral(".tenvo-%1-s3/").arg(::getppid());
        QVERIFY(QDir().mkpath(gone + QStringLiteral("sub")));
        QVERIFY(QDir().mkpath(alive));
        ExtractJob job(*m_archive, {archive(QStringLiteral("a.zip"))}, options());
        runToEnd(job);
        QVERIFY(!QFileInfo::exists(gone));
        QVERIFY(QFileInfo::exists(alive));
    }
};

QTEST_MAIN(TestExtractJob)
#include "tst_extractjob.moc"

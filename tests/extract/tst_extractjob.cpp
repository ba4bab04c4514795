// The extraction job against stand-in libraries: order, questions,
// passwords, the stop, where files land, and the texts of its results.
#include "archiveresult.h"
#include "clsarchive.h"
#include "extractjob.h"
#include "module1.h"
#include "volumefiles.h"
#include "testlocale.h"

#include <QDir>
#include <QFile>
#include <QDirIterator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString heading = inLocale(QStringLiteral("次の書庫ファイルは解凍できませんでした\n"),
                                 QStringLiteral("The following archives could not be extracted\n"));

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

// Every entry under folder, relative to it, sorted: a folder's with "/"
// after it, a link's with "->" after it; hidden ones too, links not followed.
QStringList treeOf(const QString &folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString name = info.filePath().mid(folder.size());
        entries.append(info.isSymLink() ? name + QStringLiteral("->") : info.isDir() ? name + u'/' : name);
    }
    entries.sort();
    return entries;
}

bool setModified(const QString &path, qint64 seconds)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite)
        && file.setFileTime(QDateTime::fromSecsSinceEpoch(seconds), QFileDevice::FileModificationTime);
}

// How a test answers the job's questions, in order; each row's first word
// is the reply: "answer <text>", "tick <text>" (a password to remember),
// "skip", "stop".
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

    // An archive whose extraction writes lines (see the stand-in library).
    QString treeArchive(const QString &name, const QStringList &lines)
    {
        const QString path = m_in + name;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write("tree\n" + lines.join(u'\n').toUtf8() + '\n');
        return path;
    }

    // Makes each of names in folder: a folder when it ends in "/", else a
    // file holding "old".
    void makeEntries(const QString &folder, const QStringList &names)
    {
        for (const QString &name : names) {
            if (name.endsWith(u'/')) {
                QVERIFY(QDir().mkpath(folder + name));
                continue;
            }
            QVERIFY(QDir().mkpath(QFileInfo(folder + name).path()));
            QFile file(folder + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("old");
        }
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
            else if (reply.startsWith(QStringLiteral("tick ")))
                question->answer(reply.mid(5), true);
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
        const QString damaged = inLocale(QStringLiteral("\n　書庫ファイルが壊れています"),
                                         QStringLiteral("\n  The archive is damaged"));
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
        const QString skipped = inLocale(QStringLiteral("解凍を飛ばしました"), QStringLiteral("Skipped"));
        const QString stopped = inLocale(QStringLiteral("中止したため解凍していません"),
                                         QStringLiteral("Not extracted because the run was stopped"));
        QTest::newRow("another name") << QStringList{"answer b2"} << QStringList{"a-wait/", "b2/", "c/"}
                                      << QStringList{"", "", ""};
        QTest::newRow("an empty name asks again") << QStringList{"answer ", "answer b3"}
                                                  << QStringList{"a-wait/", "b3/", "c/"} << QStringList{"", "", ""};
        QTest::newRow("an answer that is taken too is asked about in turn")
            << QStringList{"answer b", "answer b4"} << QStringList{"a-wait/", "b4/", "c/"} << QStringList{"", "", ""};
        QTest::newRow("a name with a slash cannot be made") << QStringList{"answer x/y"}
                                                            << QStringList{"a-wait/", "b/", "c/"}
                                                            << QStringList{"", inLocale("フォルダを作成できません",
                                                                                        "Cannot create the folder"), ""};
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
        QVERIFY(answers.asked.first().endsWith(inLocale(QStringLiteral("b/ は既に存在しています。\n別の名前でフォルダを作成してください"),
                                                        QStringLiteral("b/ already exists.\nCreate the folder under another name"))));
        for (int i = 0; i < 3; ++i) {
            const ArchiveResult &result = job.results()[i];
            if (!destinations[i].isEmpty())
                QCOMPARE(result.destination, m_out + destinations[i]);
            if (causes[i] != u"*")
                QCOMPARE(result.failed() ? causeText(result) : QString(), causes[i]);
        }
        if (replies.first().contains(u'/'))
            QVERIFY(answers.asked.last().endsWith(inLocale(QStringLiteral("x/y/ を作成できません。\nフォルダ名に「/」は使えません"),
                                                           QStringLiteral("x/y/ cannot be created.\nA folder name cannot contain \"/\""))));
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
        QTest::addColumn<QStringList>("toRemember");
        const QString encrypted = inLocale(QStringLiteral("パスワード付きの書庫です"),
                                           QStringLiteral("The archive is password-protected"));
        const QString stopped = inLocale(QStringLiteral("中止したため解凍していません"),
                                         QStringLiteral("Not extracted because the run was stopped"));
        QTest::newRow("two passwords in turn: each is asked once")
            << QStringList() << QStringList{"answer right", "answer other"} << 2 << QStringList{"", "", "", ""}
            << QStringList();
        QTest::newRow("given passwords: nobody is asked")
            << QStringList{"nothing", "other", "right"} << QStringList() << 0 << QStringList{"", "", "", ""}
            << QStringList();
        QTest::newRow("a wrong answer is asked again, three times at most")
            << QStringList() << QStringList{"answer no", "answer no", "answer no", "answer other"} << 5
            << QStringList{encrypted, "", encrypted, ""} << QStringList();
        QTest::newRow("skip: the archive stays encrypted, the next one is asked")
            << QStringList() << QStringList{"skip", "answer other"} << 3
            << QStringList{encrypted, "", encrypted, ""} << QStringList();
        QTest::newRow("stop the run")
            << QStringList() << QStringList{"stop"} << 1 << QStringList{stopped, stopped, stopped, stopped}
            << QStringList();
        QTest::newRow("ticked answers that open archives are handed on, each once")
            << QStringList() << QStringList{"tick right", "tick other"} << 2 << QStringList{"", "", "", ""}
            << QStringList{"right", "other"};
        QTest::newRow("a ticked wrong answer and an unticked right one are not handed on")
            << QStringList() << QStringList{"tick no", "answer right", "tick other"} << 3
            << QStringList{"", "", "", ""} << QStringList{"other"};
        QTest::newRow("a ticked answer to a skipped archive is not handed on")
            << QStringList() << QStringList{"tick no", "skip", "answer other"} << 4
            << QStringList{encrypted, "", encrypted, ""} << QStringList();
    }

    // Archives alternate between two passwords; every password that opened
    // an archive is tried before anyone is asked.
    void passwords()
    {
        QFETCH(QStringList, given);
        QFETCH(QStringList, replies);
        QFETCH(int, questions);
        QFETCH(QStringList, causes);
        QFETCH(QStringList, toRemember);
        const QStringList paths{archive(QStringLiteral("a-locked.zip")), archive(QStringLiteral("b-otherlock.zip")),
                                archive(QStringLiteral("c-locked.zip")), archive(QStringLiteral("d-otherlock.zip"))};
        ExtractOptions chosen = options(1);
        chosen.passwords = given;
        ExtractJob job(*m_archive, paths, chosen);
        QStringList handedOn;
        connect(&job, &ExtractJob::passwordWorked, this, [&](const QString &password) { handedOn.append(password); });
        Answers answers{replies, {}};
        runToEnd(job, &answers);
        QCOMPARE(handedOn, toRemember);

        QCOMPARE(answers.asked.size(), questions);
        if (questions > 0)
            QVERIFY(answers.asked.first().contains(inLocale("「a-locked.zip」はパスワード付きです",
                                                            "\"a-locked.zip\" is password-protected")));
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
        const QString notDone = inLocale(QStringLiteral("中止したため解凍していません"),
                                         QStringLiteral("Not extracted because the run was stopped"));
        QCOMPARE(got, libraryCanStop ? QStringList({inLocale(QStringLiteral("中止したため一部のファイルだけを解凍しました"),
                                                             QStringLiteral("Only some files were extracted because the run was stopped")), notDone, notDone})
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

        QTest::newRow("an archive that cannot be opened") << QByteArray("1") << "a.zip" << inLocale("書庫ファイルを開けません",
                                                                                                    "Cannot open the archive");
        QTest::newRow("an archive of another format") << QByteArray("2") << "a.zip" << inLocale("対応していない形式です",
                                                                                                "Unsupported format");
        QTest::newRow("a damaged archive") << QByteArray("3") << "a.zip" << inLocale("書庫ファイルが壊れています",
                                                                                     "The archive is damaged");
        QTest::newRow("an encrypted archive") << QByteArray("4") << "a.zip" << inLocale("パスワード付きの書庫です",
                                                                                        "The archive is password-protected");
        QTest::newRow("an archive with an unsafe entry") << QByteArray("5") << "a.zip" << inLocale("安全でない項目を飛ばしました",
                                                                                                   "Unsafe entries were skipped");
        QTest::newRow("a destination that cannot be written") << QByteArray("6") << "a.zip" << inLocale("解凍先に書き込めません",
                                                                                                        "Cannot write to the destination");
        QTest::newRow("a command line the library cannot read") << QByteArray("7") << "a.zip" << inLocale("解凍に失敗しました (7)",
                                                                                                          "Extraction failed (7)");
        QTest::newRow("the extraction process ended") << QByteArray("10") << "a.zip" << inLocale("解凍処理が途中で終了しました",
                                                                                                 "The extraction process ended unexpectedly");
        QTest::newRow("a method no decoder reads") << QByteArray("11") << "a.zip" << inLocale("対応していない圧縮方式です",
                                                                                              "Unsupported compression method");
        QTest::newRow("a decoder ended for an operation it may not do")
            << QByteArray("12") << "a.zip" << inLocale("許可されていない操作をしようとしたため解凍を中止しました",
                                                       "Extraction was stopped because it attempted a forbidden operation");
        QTest::newRow("a file of no registered type") << QByteArray("0") << "a.xyz" << inLocale("対応していない形式です",
                                                                                                "Unsupported format");
        QTest::newRow("a result no library gives") << QByteArray("42") << "a.zip" << inLocale("解凍に失敗しました (42)",
                                                                                              "Extraction failed (42)");
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
        QCOMPARE(::summaryText(job.results()), heading + u'\n' + path + inLocale(QStringLiteral("\n　"),
                                                                                 QStringLiteral("\n  ")) + cause);
    }

    // The summary lists 20 archives and counts the rest; control characters
    // in a path are shown escaped; shortened names are told per archive.
    void summaryTexts_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<QStringList>("contains");
        QTest::addColumn<QStringList>("lacks");
        QTest::newRow("25 failures: 20 shown, 5 counted")
            << 25 << QStringList{"/in/a19.zip\n", inLocale("\n\nほか 5 件",
                                                           "\n\nand 5 more")} << QStringList{"/in/a20.zip"};
        QTest::newRow("a newline in a path is shown as \\n")
            << 1 << QStringList{inLocale("/in/a\\nb.zip\n　書庫ファイルが壊れています",
                                         "/in/a\\nb.zip\n  The archive is damaged")} << QStringList{"a\nb"};
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
        QVERIFY(text.endsWith(inLocale(QStringLiteral("長すぎる名前を短くして解凍しました\n\n/in/long.lzh\n　2 個の名前"),
                                       QStringLiteral("names too long were shortened\n\n/in/long.lzh\n  Names shortened: 2"))));
    }

    // Inner archives left are told under their archive, five of them and
    // the rest counted; their archive is not listed as failed.
    void nestedSummaryText()
    {
        const QString damaged = inLocale("書庫ファイルが壊れています", "The archive is damaged");
        const QString indent = inLocale("　", "  ");
        ArchiveResult result;
        result.path = QStringLiteral("/in/outer.zip");
        for (int i = 1; i <= 7; ++i)
            result.nestedLeft.append(QStringLiteral("sub/in%1.zip\t").arg(i) + damaged);
        QCOMPARE(::summaryText({result}),
                 inLocale(QStringLiteral("次の書庫ファイルの中の書庫ファイルは解凍できませんでした"),
                          QStringLiteral("Archives inside the following archives could not be extracted"))
                     + QStringLiteral("\n\n/in/outer.zip\n") + indent + QStringLiteral("sub/in1.zip: ") + damaged + u'\n' + indent
                     + QStringLiteral("sub/in2.zip: ") + damaged + u'\n' + indent + QStringLiteral("sub/in3.zip: ") + damaged
                     + u'\n' + indent + QStringLiteral("sub/in4.zip: ") + damaged + u'\n' + indent
                     + QStringLiteral("sub/in5.zip: ") + damaged + u'\n' + indent + inLocale("ほか 2 件", "and 2 more"));
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

    void existingFiles_data()
    {
        QTest::addColumn<int>("existing");
        QTest::addColumn<qint64>("archiveTime");
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("renamed");
        QTest::addColumn<QString>("text");
        using E = ExtractOptions::Existing;
        const qint64 older = 900000000;
        const qint64 newer = 4000000000; // later than the link made now
        const QStringList untouched{".profile=old", "a (2).txt=old", "a.txt=old", "l.txt->", "new.txt=new", "sub/",
                                    "sub/b=old"};
        const QStringList replaced{".profile=new", "a (2).txt=old", "a.txt=new", "l.txt=new", "new.txt=new", "sub/",
                                   "sub/b=new"};
        const QString keptFour = inLocale(QStringLiteral("既存のファイル 4 個をそのまま残しました"),
                                          QStringLiteral("Existing files kept: 4"));
        QTest::newRow("overwrite: every file replaced, the link too, not followed")
            << int(E::Overwrite) << older << replaced << 0 << 0 << QString();
        QTest::newRow("skip: every file there stays as it was")
            << int(E::Skip) << newer << untouched << 4 << 0 << keptFour;
        QTest::newRow("rename: the new ones beside, the next free name, a dotfile's number at its end")
            << int(E::Rename) << older
            << QStringList{".profile=old", ".profile (2)=new", "a (2).txt=old", "a (3).txt=new", "a.txt=old",
                           "l (2).txt=new", "l.txt->", "new.txt=new", "sub/", "sub/b=old", "sub/b (2)=new"}
            << 0 << 4 << inLocale(QStringLiteral("4 個のファイルを別の名前で解凍しました"),
                                  QStringLiteral("Files extracted under another name: 4"));
        QTest::newRow("newer, the archive's files older: kept")
            << int(E::Newer) << older << untouched << 4 << 0 << keptFour;
        QTest::newRow("newer, the archive's files newer: replaced")
            << int(E::Newer) << newer << replaced << 0 << 0 << QString();
    }

    // The destination holds files (one of mode 0600, a link to a file outside
    // it) of names the archive holds too, older or newer than those.
    void existingFiles()
    {
        QFETCH(int, existing);
        QFETCH(qint64, archiveTime);
        QFETCH(QStringList, tree);
        QFETCH(int, kept);
        QFETCH(int, renamed);
        QFETCH(QString, text);
        makeEntries(m_out, {"a.txt", "a (2).txt", ".profile", "sub/", "sub/b"});
        const QString outside = m_dir->filePath(QStringLiteral("outside"));
        makeEntries(m_dir->path() + u'/', {"outside"});
        QVERIFY(QFile::link(outside, m_out + QStringLiteral("l.txt")));
        QVERIFY(QFile::setPermissions(m_out + QStringLiteral("a.txt"), QFile::ReadOwner | QFile::WriteOwner));
        for (const char *name : {"a.txt", ".profile", "sub/b"})
            QVERIFY(setModified(m_out + QLatin1String(name), 1000000000));
        const QString time = u'\t' + QString::number(archiveTime);
        const QString path = treeArchive(QStringLiteral("x.zip"), {"a.txt" + time, ".profile" + time, "l.txt" + time,
                                                                   "new.txt" + time, "sub/b" + time});
        ExtractOptions chosen = options();
        chosen.existing = ExtractOptions::Existing(existing);
        ExtractJob job(*m_archive, {path}, chosen);
        runToEnd(job);

        QStringList got;
        for (const QString &name : treeOf(m_out)) {
            const QString content = readFile(m_out + name);
            got.append(name.endsWith(u'/') || name.endsWith(QStringLiteral("->"))
                           ? name
                           : name + u'=' + (content == path ? QStringLiteral("new") : content));
        }
        QCOMPARE(got, tree);
        QCOMPARE(readFile(outside), QStringLiteral("old"));
        if (tree.contains(QStringLiteral("a.txt=old"))) {
            struct stat status;
            QVERIFY(::stat(QFile::encodeName(m_out + QStringLiteral("a.txt")).constData(), &status) == 0);
            QCOMPARE(status.st_mode & 07777, 0600u);
        }
        const ArchiveResult &result = job.results().first();
        QVERIFY(!result.failed());
        QCOMPARE(result.kept, kept);
        QCOMPARE(result.renamed, renamed);
        QCOMPARE(result.landed, 5 - kept);
        QCOMPARE(existingFilesText(result), text);
        QCOMPARE(::summaryText(job.results()),
                 text.isEmpty() ? QString()
                                : inLocale(QStringLiteral("次の書庫ファイルでは、解凍先に同じ名前のファイルがありました\n\n"),
                                           QStringLiteral("In the following archives, files of the same name were already in the destination\n\n")) + path
                         + inLocale(QStringLiteral("\n　"), QStringLiteral("\n  ")) + text);
    }

    void junkAndSmartFolders_data()
    {
        QTest::addColumn<QString>("archiveName");
        QTest::addColumn<QStringList>("archiveTree");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<bool>("smart");
        QTest::addColumn<bool>("junk");
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QString>("destination");
        const QStringList junky{"__MACOSX/._a", "__MACOSX/sub/._b", "a", "._a", "._lonely", ".DS_Store", "sub/b",
                                "sub/._b", "sub/THUMBS.DB", "sub/Desktop.ini", "sub/thumbs.db.txt"};
        QTest::newRow("junk left out: __MACOSX whole, ._a beside a, Windows' files in any case")
            << "x.zip" << junky << QStringList() << false << true
            << QStringList{"._lonely", "a", "sub/", "sub/b", "sub/thumbs.db.txt"} << "";
        QTest::newRow("junk kept when asked")
            << "x.zip" << junky << QStringList() << false << false
            << QStringList{".DS_Store", "._a", "._lonely", "__MACOSX/", "__MACOSX/._a", "__MACOSX/sub/",
                           "__MACOSX/sub/._b", "a", "sub/", "sub/._b", "sub/Desktop.ini", "sub/THUMBS.DB", "sub/b",
                           "sub/thumbs.db.txt"}
            << "";
        QTest::newRow("without smart folders: a name folder, as before")
            << "x.zip" << QStringList{"data/a"} << QStringList() << false << false
            << QStringList{"x/", "x/data/", "x/data/a"} << "x/";
        QTest::newRow("smart, one folder: lands itself")
            << "x.zip" << QStringList{"data/a", "data/sub/b"} << QStringList() << true << false
            << QStringList{"data/", "data/a", "data/sub/", "data/sub/b"} << "data/";
        QTest::newRow("smart, one file: lands itself")
            << "x.zip" << QStringList{"readme.txt"} << QStringList() << true << false
            << QStringList{"readme.txt"} << "readme.txt";
        QTest::newRow("smart, several items: a name folder")
            << "x.zip" << QStringList{"a", "b/c"} << QStringList() << true << false
            << QStringList{"x/", "x/a", "x/b/", "x/b/c"} << "x/";
        QTest::newRow("smart, one folder whose name is taken: data (2)")
            << "x.zip" << QStringList{"data/a"} << QStringList{"data/old"} << true << false
            << QStringList{"data (2)/", "data (2)/a", "data/", "data/old"} << "data (2)/";
        QTest::newRow("smart, one file whose name is taken: readme (2).txt")
            << "x.zip" << QStringList{"readme.txt"} << QStringList{"readme.txt"} << true << false
            << QStringList{"readme (2).txt", "readme.txt"} << "readme (2).txt";
        QTest::newRow("smart, several items, the name folder taken: x (2), nobody asked")
            << "x.zip" << QStringList{"a", "b"} << QStringList{"x/"} << true << false
            << QStringList{"x (2)/", "x (2)/a", "x (2)/b", "x/"} << "x (2)/";
        QTest::newRow("smart after the junk is out: one folder")
            << "x.zip" << QStringList{"data/a", "__MACOSX/data/._a"} << QStringList() << true << true
            << QStringList{"data/", "data/a"} << "data/";
        QTest::newRow("smart, a failed archive: what it left stays in its name folder")
            << "x-damaged.zip" << QStringList{"data/a"} << QStringList() << true << false
            << QStringList{"x-damaged/", "x-damaged/data/", "x-damaged/data/a"} << "x-damaged/";
    }

    // Junk is left out before anything lands, so an archive that holds one
    // folder and Apple's files lands that folder alone.
    void junkAndSmartFolders()
    {
        QFETCH(QString, archiveName);
        QFETCH(QStringList, archiveTree);
        QFETCH(QStringList, present);
        QFETCH(bool, smart);
        QFETCH(bool, junk);
        QFETCH(QStringList, tree);
        QFETCH(QString, destination);
        makeEntries(m_out, present);
        const QString path = treeArchive(archiveName, archiveTree);
        ExtractOptions chosen = options();
        chosen.nameFolders = !destination.isEmpty();
        chosen.smartFolders = smart;
        chosen.skipJunk = junk;
        ExtractJob job(*m_archive, {path}, chosen);
        runToEnd(job);
        QCOMPARE(treeOf(m_out), tree);
        QCOMPARE(job.results().first().destination, m_out + destination);
        QCOMPARE(job.results().first().landed, qsizetype(tree.filter(QRegularExpression(QStringLiteral("[^/]$"))).size())
                                                   - present.filter(QRegularExpression(QStringLiteral("[^/]$"))).size());
    }

    void trash_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("keep");
        QTest::addColumn<bool>("trashUsable");
        QTest::addColumn<QStringList>("trashed");
        QTest::addColumn<QString>("summary"); // "*": told elsewhere
        const QStringList parts{"x.part1.rar", "x.part2.rar", "x.part3.rar", "other.part1.rar"};
        QTest::newRow("landed whole: every volume of its set to the trash, nothing else")
            << parts << false << true << QStringList{"x.part1.rar", "x.part2.rar", "x.part3.rar"} << "";
        QTest::newRow("old-style RAR set: x.rar, x.r00, x.r01")
            << QStringList{"x.rar", "x.r00", "x.r01", "x.txt"} << false << true
            << QStringList{"x.r00", "x.r01", "x.rar"} << "";
        QTest::newRow("a failed archive stays")
            << QStringList{"x-damaged.zip", "x-damaged.z01"} << false << true << QStringList() << "*";
        QTest::newRow("an archive whose file was not landed (kept) stays")
            << QStringList{"x.zip", "x.z01"} << true << true << QStringList() << "*";
        QTest::newRow("a trash that cannot be used: the archive stays, the summary says so")
            << QStringList{"x.zip"} << false << false << QStringList()
            << inLocale(QStringLiteral("次の書庫ファイルはごみ箱に移動できませんでした\n\n%1x.zip\n　解凍は完了しています"),
                        QStringLiteral("The following archives could not be moved to the trash\n\n%1x.zip\n  They were extracted completely"));
    }

    // The desktop's trash under a home of the test's own.
    void trash()
    {
        QFETCH(QStringList, files);
        QFETCH(bool, keep);
        QFETCH(bool, trashUsable);
        QFETCH(QStringList, trashed);
        QFETCH(QString, summary);
        const QByteArray home = qgetenv("HOME");
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        const auto restore = qScopeGuard([&] {
            qputenv("HOME", home);
            if (dataHome.isNull())
                qunsetenv("XDG_DATA_HOME");
            else
                qputenv("XDG_DATA_HOME", dataHome);
        });
        const QString data = m_dir->filePath(QStringLiteral("home/.local/share/"));
        QVERIFY(QDir().mkpath(data));
        qputenv("HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("home"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(data));
        if (!trashUsable)
            makeEntries(data, {"Trash"});
        for (const QString &name : files)
            treeArchive(name, {"a.txt"});
        if (keep)
            makeEntries(m_out, {"a.txt"});
        ExtractOptions chosen = options();
        chosen.trashArchives = true;
        chosen.existing = ExtractOptions::Existing::Skip;
        ExtractJob job(*m_archive, {m_in + files.first()}, chosen);
        runToEnd(job);

        const ArchiveResult &result = job.results().first();
        QCOMPARE(result.trashed, !trashed.isEmpty());
        QCOMPARE(result.trashFailed, !trashUsable);
        QStringList left = files;
        for (const QString &name : trashed) {
            left.removeOne(name);
            QVERIFY2(QFileInfo::exists(data + QStringLiteral("Trash/files/") + name), qPrintable(name));
            QVERIFY(readFile(data + QStringLiteral("Trash/info/") + name + QStringLiteral(".trashinfo"))
                        .contains(QStringLiteral("Path=")));
        }
        left.sort();
        QCOMPARE(treeOf(m_in), left);
        if (summary != u"*")
            QCOMPARE(::summaryText(job.results()), summary.isEmpty() ? QString() : summary.arg(m_in));
    }

    void volumeFiles_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("given");
        QTest::addColumn<QStringList>("volumes");
        QTest::newRow("RAR parts, any width, extension in any case, another set apart")
            << QStringList{"x.part01.rar", "x.PART02.RAR", "y.part01.rar", "X.part03.rar"} << "x.part01.rar"
            << QStringList{"x.PART02.RAR", "x.part01.rar"};
        QTest::newRow("ZIP split") << QStringList{"x.z01", "x.z02", "x.zip", "x.zipx"} << "x.zip"
                                   << QStringList{"x.z01", "x.z02", "x.zip"};
        QTest::newRow("numbered parts of a 7z")
            << QStringList{"x.7z.001", "x.7z.002", "x.7z", "x.001"} << "x.7z.001" << QStringList{"x.7z.001", "x.7z.002"};
        QTest::newRow("numbered parts") << QStringList{"x.001", "x.002", "x.0003"} << "x.001"
                                        << QStringList{"x.001", "x.002"};
        QTest::newRow("numbered parts four digits wide")
            << QStringList{"x.zip.0001", "x.zip.0002", "x.zip.002"} << "x.zip.0001"
            << QStringList{"x.zip.0001", "x.zip.0002"};
        QTest::newRow("no set: the file alone") << QStringList{"x.lzh", "x.001"} << "x.lzh" << QStringList{"x.lzh"};
    }

    void volumeFiles()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, given);
        QFETCH(QStringList, volumes);
        makeEntries(m_in, files);
        QVERIFY(QDir(m_in).mkdir(QStringLiteral("x.z03")));
        QStringList got = volumeFilesOf(m_in + given);
        for (QString &path : got)
            path.remove(0, m_in.size());
        QCOMPARE(got, volumes);
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

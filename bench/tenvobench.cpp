// The benchmark driver: Tenvo's extraction and archive list, run the way the
// program runs them, for scripts/bench.sh to time against other extractors.
//
//   tenvo_bench extract <library folder> <destination> <archive>...
//       each archive through clsArchive::extract, as one list entry is,
//       with as many decoder processes as the run gives an archive alone
//       (one per core; TENVO_BENCH_PARALLEL=n for n); prints the
//       milliseconds spent in those calls (start-up left out)
//   tenvo_bench run <library folder> <destination> <archive>...
//       the whole extraction job, its progress read by a 10 ms timer as the
//       progress window reads it, the archives extracted on worker threads;
//       prints the job's milliseconds and the longest the event loop was
//       late for a 5 ms probe timer (how long a repaint of the window would
//       wait). TENVO_BENCH_PARALLEL=n sets the archives at once (default:
//       one per core); TENVO_BENCH_NAME_FOLDERS=1 extracts each archive into a
//       folder of its own.
//   tenvo_bench list <folder> <count>
//       adds the first <count> files of <folder> to the main list through
//       clsListCtrl::addFile; prints the milliseconds the adding took
// run and list need a platform: QT_QPA_PLATFORM=offscreen when headless.
#include "clsarchive.h"
#include "clslistctrl.h"
#include "commandcontrol.h"
#include "extractjob.h"
#include "listcolumns.h"
#include "module1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: tenvo_bench extract|run <library folder> <destination> <archive>...\n"
                         "       tenvo_bench list <folder> <count>\n");
    return 2;
}

// The archive types registered as at start-up, from the given program folder.
void registerTypes(clsArchive &archive, const QString &libraryFolder)
{
    archive.setLibraryFolder(QDir(libraryFolder).absolutePath() + u'/');
    for (const SupportType &row : registrationRows())
        archive.addSupportType(row);
    archive.setRestoreFolder(true);
}

// What the run installs for an archive it extracts alone: every core.
class AloneControl final : public CommandControl
{
public:
    bool progress(quint64, quint64) override { return false; }
    int processes() const override
    {
        const int parallel = qEnvironmentVariableIntValue("TENVO_BENCH_PARALLEL");
        return parallel > 0 ? parallel : qMax(1, QThread::idealThreadCount());
    }
};

int extractEach(const QString &libraryFolder, const QString &destination, const QStringList &archives)
{
    AloneControl control;
    const CommandControl::Scope scope(&control);
    clsArchive archive;
    registerTypes(archive, libraryFolder);
    int failures = 0;
    QElapsedTimer clock;
    clock.start();
    for (const QString &path : archives) {
        QString folder = destination;
        if (const int result = archive.extract(path, folder); result != 0) {
            std::fprintf(stderr, "tenvo_bench: %s: result %d\n", qPrintable(path), result);
            ++failures;
        }
    }
    std::printf("%.3f\n", clock.nsecsElapsed() / 1e6);
    return failures == 0 ? 0 : 1;
}

int extractRun(const QString &libraryFolder, const QString &destination, const QStringList &archives)
{
    clsArchive archive;
    registerTypes(archive, libraryFolder);
    QStringList paths;
    for (const QString &path : archives)
        paths.append(QDir(path).absolutePath());
    ExtractOptions options;
    options.destination = destination;
    options.nameFolders = qEnvironmentVariableIntValue("TENVO_BENCH_NAME_FOLDERS") == 1;
    options.freeNameFolders = true;
    options.parallel = ExtractOptions::parallelFor(qEnvironmentVariableIntValue("TENVO_BENCH_PARALLEL"));
    ExtractJob job(archive, paths, options);

    // What the progress window does: a 10 ms timer that reads the job's
    // progress for the bar.
    QTimer timer;
    timer.setInterval(10);
    qint64 steps = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] { steps = job.progress().steps; });
    // A probe: how late the event loop answers a 5 ms timer while the job
    // goes on, which is how long a repaint of the window would wait.
    QTimer probe;
    probe.setInterval(5);
    QElapsedTimer sinceProbe;
    qint64 worstLateNs = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        worstLateNs = qMax(worstLateNs, sinceProbe.nsecsElapsed() - 5'000'000);
        sinceProbe.restart();
    });
    QObject::connect(&job, &ExtractJob::finished, [] { QCoreApplication::quit(); });
    QElapsedTimer clock;
    clock.start();
    job.start();
    timer.start();
    sinceProbe.start();
    probe.start();
    QCoreApplication::exec();
    std::printf("%.3f %.3f\n", clock.nsecsElapsed() / 1e6, worstLateNs / 1e6);
    int failures = 0;
    for (const ArchiveResult &result : job.results()) {
        if (result.failed()) {
            std::fprintf(stderr, "tenvo_bench: %s: %s\n", qPrintable(result.path), qPrintable(causeText(result)));
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

int addToList(const QString &folder, int count)
{
    QStringList paths;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
        if (paths.size() == count)
            break;
        paths.append(dir.absoluteFilePath(name));
    }
    if (paths.size() < count) {
        std::fprintf(stderr, "tenvo_bench: only %lld files in %s\n", qlonglong(paths.size()),
                     qPrintable(folder));
        return 1;
    }
    QTreeWidget list;
    setupArchiveListColumns(&list, ArchiveListLayout::MainWindow);
    list.resize(800, 600);
    list.show();
    clsListCtrl listCtrl;
    listCtrl.setList(&list);

    QElapsedTimer clock;
    clock.start();
    for (const QString &path : std::as_const(paths)) {
        if (listCtrl.addFile(path) != clsListCtrl::added) {
            std::fprintf(stderr, "tenvo_bench: not added: %s\n", qPrintable(path));
            return 1;
        }
    }
    // The rows are on screen only once the list has painted them.
    QCoreApplication::processEvents();
    std::printf("%.3f\n", clock.nsecsElapsed() / 1e6);
    return listCtrl.getCount() == count ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    // Extraction alone needs no widgets, so its timings carry no GUI start-up.
    const bool widgets = argc > 1 && std::strcmp(argv[1], "extract") != 0;
    std::unique_ptr<QCoreApplication> app(widgets ? new QApplication(argc, argv)
                                                  : new QCoreApplication(argc, argv));
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3)
        return usage();
    const QString mode = args[1];
    if (mode == u"list" && args.size() == 4)
        return addToList(args[2], args[3].toInt());
    if ((mode == u"extract" || mode == u"run") && args.size() >= 5) {
        const QStringList archives = args.mid(4);
        return mode == u"extract" ? extractEach(args[2], args[3], archives)
                                  : extractRun(args[2], args[3], archives);
    }
    return usage();
}

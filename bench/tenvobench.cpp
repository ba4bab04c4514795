// The benchmark driver: Tenvo's extraction and archive list, run the way the
// program runs them, for scripts/bench.sh to time against other extractors.
//
//   tenvo_bench extract <library folder> <destination> <archive>...
//       each archive through clsArchive::extract, as one list entry is,
//       with as many decoder processes as the run gives an archive alone
//       (one per core; TENVO_BENCH_PARALLEL=n for n); prints the
//       milliseconds spent in those calls (start-up left out)
//   tenvo_bench run <library folder> <destination> <archive>...
//       the whole extraction run, driven by a 10 ms timer as the progress
//       window drives it, the archives extracted on worker threads; prints
//       the run's milliseconds and the longest the event loop was late for
//       a 5 ms probe timer (how long a repaint of the window would wait).
//       TENVO_BENCH_PARALLEL=n sets the Parallel key (default: one per
//       core); TENVO_BENCH_NAME_FOLDERS=1 extracts each archive into a
//       folder of its own.
//   tenvo_bench list <folder> <count>
//       adds the first <count> files of <folder> to the main list through
//       clsListCtrl::addFile; prints the milliseconds the adding took
// run and list need a platform: QT_QPA_PLATFORM=offscreen when headless.
#include "clsarchive.h"
#include "clslistctrl.h"
#include "commandcontrol.h"
#include "extractrun.h"
#include "globals.h"
#include "listcolumns.h"
#include "module1.h"
#include "progressview.h"
#include "userdialogs.h"

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

// A progress window that shows nothing: the run's own work is what is timed.
class SilentView final : public ProgressView
{
public:
    explicit SilentView(QTimer &timer) : m_timer(timer) {}
    void setMessage(const QString &) override {}
    int progressBoxWidth() const override { return 300; }
    void drawProgressBar(int) override {}
    void repaintWindow() override {}
    void stopTimer() override { m_timer.stop(); }
    void enableClose() override {}
    void closeWindow() override {}
    QWidget *dialogOwner() override { return nullptr; }

private:
    QTimer &m_timer;
};

// Failures are reported on stderr instead of in a box nobody can press.
class ReportingDialogs final : public UserDialogs
{
public:
    void exclamation(QWidget *, const QString &text) override
    {
        std::fprintf(stderr, "tenvo_bench: %s\n", qPrintable(text));
        failed = true;
    }
    void plainMessage(QWidget *, const QString &) override {}
    QString inputBox(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    QString chooseFolder(QWidget *, const QString &, bool, const QString &) override { return {}; }
    QString openFile(QWidget *, const QString &, const QString &) override { return {}; }
    bool failed = false;
};

int extractRun(const QString &libraryFolder, const QString &destination, const QStringList &archives)
{
    ReportingDialogs dialogs;
    setUserDialogs(&dialogs);
    QTreeWidget list;
    setupArchiveListColumns(&list, ArchiveListLayout::MainWindow);
    clsListCtrl listCtrl;
    listCtrl.setList(&list);
    clsArchive archive;
    registerTypes(archive, libraryFolder);
    gListCtrl = &listCtrl;
    gArchive = &archive;
    gMakeNameFolder = qEnvironmentVariableIntValue("TENVO_BENCH_NAME_FOLDERS") == 1;
    gRestoreFolder = true;
    gDeleteFromList = false;
    gCloseDialog = true;
    for (const QString &path : archives) {
        if (listCtrl.addFile(QDir(path).absolutePath()) != clsListCtrl::added) {
            std::fprintf(stderr, "tenvo_bench: cannot list %s\n", qPrintable(path));
            return 1;
        }
    }

    // The progress window's timer and interval.
    QTimer timer;
    timer.setInterval(10);
    SilentView view(timer);
    ExtractRun run(view);
    run.setExtractFolder(destination);
    run.load();
    if (const int parallel = qEnvironmentVariableIntValue("TENVO_BENCH_PARALLEL"); parallel > 0)
        run.setParallel(parallel);

    // A probe: how late the event loop answers a 5 ms timer while the run
    // goes on, which is how long a repaint of the window would wait.
    QTimer probe;
    probe.setInterval(5);
    QElapsedTimer sinceProbe;
    qint64 worstLateNs = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        worstLateNs = qMax(worstLateNs, sinceProbe.nsecsElapsed() - 5'000'000);
        sinceProbe.restart();
    });
    QElapsedTimer clock;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        run.tick();
        if (run.isFinished())
            QCoreApplication::quit();
    });
    clock.start();
    timer.start();
    sinceProbe.start();
    probe.start();
    QCoreApplication::exec();
    std::printf("%.3f %.3f\n", clock.nsecsElapsed() / 1e6, worstLateNs / 1e6);
    gListCtrl = nullptr;
    gArchive = nullptr;
    for (const ArchiveResult &result : run.results()) {
        if (result.failed())
            return 1;
    }
    return dialogs.failed ? 1 : 0;
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

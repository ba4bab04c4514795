// The extraction run: works through the archive list, several archives at
// once on worker threads, results in list order.
#pragma once

#include "passwordkeeper.h"
#include "progressview.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <memory>

// How one archive of a run ended.
struct ArchiveResult
{
    QString path;        // the archive, as the list gave it
    QString destination; // the folder it was (or was to be) extracted into
    // The archiver library's result (0: every entry landed), -2 for a type
    // that is not registered, -3 when the library cannot be called.
    int code = 0;
    // True when its name folder could not be created; no library was called.
    bool skipped = false;
    // True when the user stopped the run before this archive was finished
    // (or started); what it had written whole stays, nothing partial.
    bool stopped = false;

    bool failed() const { return skipped || stopped || code != 0; }
};

// The run's state machine, driven by the window's timer (tick()) and by the
// archives finishing on worker threads. Each tick prepares, starts archives
// while fewer than parallel() are running, or finishes. The library calls
// run on worker threads, so the window's thread never waits for an archive;
// the name-folder questions are asked on the window's thread, one at a time,
// in list order, while the archives already started go on. Results, the
// failure summary and the texts follow the list's order whatever order the
// archives finish in. With parallel() 1 the run makes the same calls, shows
// the same texts and bars and asks the same questions in the same order as
// a run of one archive per tick. The run never shows a window of its own:
// texts go to the view, questions through the dialog seam.
class ExtractRun : public QObject
{
    Q_OBJECT

public:
    enum RunState { Preparing = 0, Extracting = 1, Finishing = 2 };

    explicit ExtractRun(ProgressView &view);
    // Asks the running library calls to stop and waits for them.
    ~ExtractRun() override;

    // What loading the window does: currentIndex 1, preparing, not in a
    // tick, no results, parallel() from the settings. The destination and
    // totalCount are kept.
    void load();

    // The destination folder; a "/" is appended when the path lacks one.
    void setExtractFolder(const QString &folder);
    QString extractFolder() const { return m_extractFolder; }

    // How many archives are extracted at once, at least 1. load() sets it
    // from the settings file ("Parallel" in section "Option"); a missing or
    // non-positive key means one per processor core.
    void setParallel(int count);
    int parallel() const { return m_parallel; }
    static int parallelFromSettings();

    // One step of the run. Returns at once while an earlier tick is still
    // being handled (during a modal box).
    void tick();

    // Stops the run: nothing more is started, the running library calls are
    // asked to end (a library without its progress call finishes its
    // archive first). The run then finishes, listing every archive not
    // finished or not started. Does nothing once the run has finished.
    void stop();
    bool isStopping() const { return m_stopping; }

    // Blocks until every archive handed to a worker has finished and its
    // result has been taken in: for callers without an event loop.
    void waitForRunning();
    // Archives started and not yet taken in.
    int runningCount() const { return m_running; }

    int runState() const { return m_runState; }
    // 1-based number of the next archive to start; after the run, one more
    // than the number of archives.
    int currentIndex() const { return m_currentIndex; }
    int totalCount() const { return m_totalCount; }
    bool inTick() const { return m_inTick; }
    // True once the finishing step has run: the window may be closed.
    bool isFinished() const { return m_finished; }

    // The archives handled so far, in list order: every archive up to the
    // first one still running.
    const QList<ArchiveResult> &results() const { return m_results; }

    // The bar's width in a box of boxWidth pixels once done of total
    // archives are handled: in proportion, to the nearest pixel. total > 0.
    static int barWidth(int boxWidth, qint64 done, qint64 total);
    // Why an archive failed, in the user's words.
    static QString causeText(const ArchiveResult &result);
    // The message listing every failed archive with its cause.
    static QString summaryText(const QList<ArchiveResult> &failures);

private:
    struct Job;
    struct Slot
    {
        ArchiveResult result;
        bool done = false;
        std::shared_ptr<Job> job;
        // The password for the archive's next call, and the questions asked
        // for it so far.
        QString password;
        int asked = 0;
        bool awaitingPassword = false;
    };

    void prepare();
    void startMore();
    void start(int index);
    void archiveFinished(int index, int code);
    void askForPasswords();
    // Ends the archive at index with code: its result joins the results
    // once every archive before it has ended.
    void settle(int index, int code);
    void takeInFinished();
    void drawBar(bool always);
    void showShare(int percent);
    void finish();

    ProgressView &m_view;
    int m_runState = Preparing;
    int m_currentIndex = 1;
    bool m_inTick = false;
    int m_totalCount = 0;
    QString m_extractFolder;
    bool m_finished = false;
    int m_parallel = 1;

    QList<Slot> m_slots;
    QList<ArchiveResult> m_results;
    PasswordKeeper m_passwords;
    int m_running = 0;
    int m_done = 0;
    int m_lastBar = -1;
    // The status text as set when the latest archive started, and the share
    // of the running archives read that its counter line shows (-1: none).
    QString m_counterText;
    int m_lastShare = -1;
    bool m_starting = false;
    bool m_asking = false;
    bool m_listEnded = false;
    bool m_stopping = false;
    std::shared_ptr<std::atomic<bool>> m_stopFlag;
    QThreadPool m_pool;
};

// The extraction run: works through the archive list, one archive per tick.
#pragma once

#include "passwordkeeper.h"
#include "progressview.h"

#include <QList>
#include <QString>

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

    bool failed() const { return skipped || code != 0; }
};

// The run's state machine. The window's timer calls tick(); each tick either
// prepares, extracts one archive from gListCtrl with gArchive, or finishes.
// A list of n archives takes n + 3 ticks. The run never shows a window of
// its own: texts go to the view, questions through the dialog seam.
class ExtractRun
{
public:
    enum RunState { Preparing = 0, Extracting = 1, Finishing = 2 };

    explicit ExtractRun(ProgressView &view);

    // What loading the window does: currentIndex 1, preparing,
    // not in a tick, no results. The destination and totalCount are kept.
    void load();

    // The destination folder; a "/" is appended when the path lacks one.
    void setExtractFolder(const QString &folder);
    QString extractFolder() const { return m_extractFolder; }

    // One step of the run. Returns at once while an earlier tick is still
    // being handled (during a library call or a modal box).
    void tick();

    int runState() const { return m_runState; }
    int currentIndex() const { return m_currentIndex; }
    int totalCount() const { return m_totalCount; }
    bool inTick() const { return m_inTick; }
    // True once the finishing step has run: the window may be closed.
    bool isFinished() const { return m_finished; }

    // Every archive handled so far, in list order.
    const QList<ArchiveResult> &results() const { return m_results; }

    // The bar's width in a box of boxWidth pixels once done of total
    // archives are handled: in proportion, to the nearest pixel. total > 0.
    static int barWidth(int boxWidth, int done, int total);
    // Why an archive failed, in the user's words.
    static QString causeText(const ArchiveResult &result);
    // The message listing every failed archive with its cause.
    static QString summaryText(const QList<ArchiveResult> &failures);

private:
    void prepare();
    void extractNext();
    void finish();

    ProgressView &m_view;
    int m_runState = Preparing;
    int m_currentIndex = 1;
    bool m_inTick = false;
    int m_totalCount = 0;
    QString m_extractFolder;
    bool m_finished = false;
    QList<ArchiveResult> m_results;
    PasswordKeeper m_passwords;
};

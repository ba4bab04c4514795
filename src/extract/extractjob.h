// The extraction job: extracts a list of archives into one folder, several
// at once on worker threads, for the window and the command line alike.
#pragma once

#include "archiveresult.h"
#include "jobquestion.h"
#include "passwordkeeper.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <memory>

class clsArchive;

// What the front end chose for a job.
struct ExtractOptions
{
    QString destination;     // the folder extracted into ("/" appended when missing)
    bool nameFolders = false; // each archive into a new folder named after it
    bool restorePaths = true; // keep the folders stored in the archives
    // How many archives are extracted at once, and how many decoder
    // processes the job uses in all.
    int parallel = 1;
    // Passwords to try on encrypted archives, in this order, before anyone
    // is asked. Wiped by the job once it has taken them.
    QStringList passwords;
    // A name folder that is taken gets the next free name ("data (2)")
    // instead of a question.
    bool freeNameFolders = false;
    // Each archive's result lists the paths it landed.
    bool wantLandedNames = false;

    // With nameFolders: an archive whose entries all lie in one folder, or
    // that holds one file, lands that item in the destination itself (under
    // the next free name when its name is taken) instead of in a name folder.
    bool smartFolders = false;
    // What becomes of a file the destination already holds.
    enum class Existing { Overwrite, Skip, Rename, Newer };
    Existing existing = Existing::Overwrite;
    // Leaves out __MACOSX/ and the ._* files beside it, .DS_Store, Thumbs.db
    // and desktop.ini.
    bool skipJunk = false;
    // Extracts the archives an archive holds, each into a folder named after
    // it beside it, down to three levels.
    bool nested = false;
    // Moves each archive that landed whole (every volume of a set) to the
    // desktop's trash at its end.
    bool trashArchives = false;
    // The name encoding of every archive ("": decided per archive), and of
    // single archives by path, which goes first.
    QString encoding;
    QHash<QString, QString> encodings;

    // One archive per processor core unless configured is positive.
    static int parallelFor(int configured);
};

// How far a job has come.
struct JobProgress
{
    int archivesTotal = 0;
    int archivesDone = 0;  // ended, in any way
    // The bar's measure: each archive counts stepsPerArchive, a running one
    // in proportion to what its library has read.
    qint64 steps = 0;
    qint64 stepsTotal = 0;
    // Of the archives running now: their bytes read and their size; a
    // library without the progress call reports nothing.
    quint64 runningDone = 0;
    quint64 runningTotal = 0;
    // The whole job in the archives' bytes.
    quint64 bytesDone = 0;
    quint64 bytesTotal = 0;
    qint64 elapsedMs = 0;

    static constexpr qint64 stepsPerArchive = 1024;
};

// The job reads no global and no settings file, and shows no window: it
// reports through its signals and asks its questions (JobQuestion) through
// question(), going on with the other archives while a question is open.
// Results come in list order whatever order the archives end in: files of
// the archives are moved into place in that order, so where two archives
// hold the same path, the later one in the list wins, at any parallel
// count. A running archive writes into a hidden folder inside its
// destination; what it landed whole is moved into place when it ends, even
// after a stop. A failed archive leaves no empty folder behind, and a name
// folder that stays empty is removed.
class ExtractJob : public QObject
{
    Q_OBJECT

public:
    // archive: the engine with its types registered, used from the job's
    // worker threads; its restore setting is set from options at start().
    ExtractJob(clsArchive &archive, const QStringList &archives, ExtractOptions options,
               QObject *parent = nullptr);
    // Stops the job and waits for its library calls.
    ~ExtractJob() override;

    // Begins the job from the event loop; returns at once.
    void start();
    // Stops the job: returns at once. Nothing more starts, open questions
    // are withdrawn, running library calls are asked to end (a library
    // without the progress call finishes its archive first); the job then
    // finishes, listing every archive not finished or not started.
    void stop();
    // While paused no archive is started; those running go on.
    void setPaused(bool paused);

    bool isStarted() const { return m_started; }
    bool isStopping() const { return m_stopping; }
    bool isFinished() const { return m_finished; }
    int count() const { return int(m_slots.size()); }
    // The archives ended so far, in list order (every archive up to the
    // first one not ended).
    const QList<ArchiveResult> &results() const { return m_results; }
    JobProgress progress() const;

signals:
    void archiveStarted(int index, const QString &path);
    // The whole job in the archives' bytes; sent as it changes, at most
    // every 50 ms.
    void bytesProgress(quint64 done, quint64 total);
    // One archive ended; sent in list order.
    void archiveFinished(int index, const ArchiveResult &result);
    void question(JobQuestion *question);
    // A password the user answered with the wish to remember it opened an
    // archive (the library no longer called it encrypted). The job keeps
    // it nowhere beyond its run; storing it is the front end's part.
    void passwordWorked(const QString &password);
    // Every archive has ended; results() holds them all.
    void finished();

private:
    struct Control;
    struct Slot
    {
        enum State { Waiting, Asking, Running, WaitingForPassword, Ended, Done };
        State state = Waiting;
        ArchiveResult result;
        QString folder;        // where its files land
        QString stage;         // where its library writes them first
        bool madeFolder = false; // folder is a name folder the job made
        std::shared_ptr<Control> control;
        QString password;      // for its next call (null: none)
        QStringList tried;     // the passwords tried on it
        QString toRemember;    // the answer to hand on should it open it
        int asked = 0;         // password questions asked for it
        qint64 stepsAtEnd = 0; // its share of the bar once ended
        QElapsedTimer clock;
    };

    void pump();
    void pumpOnce();
    void startArchives();
    bool prepareFolder(int index);
    void launch(int index);
    void runLibrary(int index);
    void libraryReturned(int index, int code, const QString &message);
    void askPasswords();
    void ask(JobQuestion::Kind kind, int index, const QString &text, const QString &title = QString(),
             const QString &preset = QString());
    void questionReplied(JobQuestion *question);
    void end(int index);
    void takeInEnded();
    void land(int index);
    bool placeSmartly(int index);
    void trash(ArchiveResult &result);
    void finishIfDone();
    void reportBytes();

    clsArchive &m_archive;
    ExtractOptions m_options;
    QList<Slot> m_slots;
    QList<ArchiveResult> m_results;
    PasswordKeeper m_passwords;
    QPointer<JobQuestion> m_question;
    std::shared_ptr<std::atomic<bool>> m_stopFlag;
    QThreadPool m_pool;
    QTimer m_bytesTimer;
    QElapsedTimer m_clock;
    int m_next = 0;
    int m_running = 0;
    quint64 m_lastBytes = ~quint64(0);
    bool m_started = false;
    bool m_stopping = false;
    bool m_paused = false;
    bool m_finished = false;
    bool m_inPump = false;
    bool m_pumpAgain = false;
};

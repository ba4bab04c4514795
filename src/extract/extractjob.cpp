// The extraction job: extracts a list of archives into one folder.
#include "extractjob.h"

#include "clsarchive.h"
#include "commandcontrol.h"
#include "namefolder.h"
#include "nestedarchives.h"
#include "nativepath.h"
#include "result.h"
#include "shortenednames.h"
#include "stagefolder.h"
#include "volumefiles.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <sys/stat.h>


namespace {

bool entryExists(const QString &path)
{
    // A dangling link is in the way too, so the entry itself is looked at.
    QString native = path;
    if (native.size() > 1 && native.endsWith(u'/'))
        native.chop(1);
    return entryExistsAt(native);
}

// The first line of a library's output is its message; the lines after it
// list the names it shortened.
QString firstLine(const QString &output)
{
    return output.section(u'\n', 0, 0);
}

ExistingFile existingFile(ExtractOptions::Existing existing)
{
    switch (existing) {
    case ExtractOptions::Existing::Skip:
        return ExistingFile::Skip;
    case ExtractOptions::Existing::Rename:
        return ExistingFile::Rename;
    case ExtractOptions::Existing::Newer:
        return ExistingFile::Newer;
    case ExtractOptions::Existing::Overwrite:
        break;
    }
    return ExistingFile::Overwrite;
}

} // namespace

int ExtractOptions::parallelFor(int configured)
{
    return configured > 0 ? configured : qMax(1, QThread::idealThreadCount());
}

// One archive's library call as its worker sees it: what the library
// reports, and the job's stop.
struct ExtractJob::Control : CommandControl
{
    Control(std::shared_ptr<std::atomic<bool>> stopFlag, int processCount)
        : stop(std::move(stopFlag))
        , processCount(processCount)
    {
    }

    int processes() const override { return processCount; }

    bool progress(quint64 done, quint64 total) override
    {
        // Never backwards: the bar only grows.
        if (done > bytesDone.load(std::memory_order_relaxed))
            bytesDone.store(done, std::memory_order_relaxed);
        bytesTotal.store(total, std::memory_order_relaxed);
        return stop->load();
    }

    // Its share of stepsPerArchive, from what the library has read.
    qint64 steps() const
    {
        const quint64 total = bytesTotal.load(std::memory_order_relaxed);
        const quint64 done = bytesDone.load(std::memory_order_relaxed);
        if (total == 0)
            return 0;
        return qint64(qMin(done, total) * quint64(JobProgress::stepsPerArchive - 1) / total);
    }

    std::shared_ptr<std::atomic<bool>> stop;
    const int processCount;
    std::atomic<quint64> bytesDone{0};
    std::atomic<quint64> bytesTotal{0};
};

ExtractJob::ExtractJob(clsArchive &archive, const QStringList &archives, ExtractOptions options,
                       QObject *parent)
    : QObject(parent)
    , m_archive(archive)
    , m_options(std::move(options))
    , m_stopFlag(std::make_shared<std::atomic<bool>>(false))
{
    if (!m_options.destination.endsWith(u'/'))
        m_options.destination += u'/';
    m_options.parallel = qBound(1, m_options.parallel, 256);
    m_passwords.setGiven(m_options.passwords);
    wipeSecrets(m_options.passwords);
    for (const QString &path : archives) {
        Slot slot;
        slot.result.path = path;
        slot.result.destination = m_options.destination;
        slot.result.bytes = qMax<qint64>(0, fileSizeAt(path));
        m_slots.append(slot);
    }
    m_bytesTimer.setInterval(50);
    connect(&m_bytesTimer, &QTimer::timeout, this, &ExtractJob::reportBytes);
}

ExtractJob::~ExtractJob()
{
    m_stopFlag->store(true);
    m_pool.waitForDone();
    for (Slot &slot : m_slots) {
        wipeSecret(slot.password);
        wipeSecrets(slot.tried);
        if (!slot.stage.isEmpty())
            removeTree(slot.stage);
    }
}

void ExtractJob::start()
{
    if (m_started)
        return;
    m_started = true;
    m_archive.setRestoreFolder(m_options.restorePaths);
    m_pool.setMaxThreadCount(m_options.parallel);
    m_clock.start();
    sweepStaleStageFolders(m_options.destination);
    m_bytesTimer.start();
    QMetaObject::invokeMethod(this, &ExtractJob::pump, Qt::QueuedConnection);
}

void ExtractJob::stop()
{
    if (m_finished || m_stopping)
        return;
    m_stopping = true;
    m_stopFlag->store(true);
    if (m_question) {
        m_question->withdraw();
        m_question = nullptr;
    }
    QMetaObject::invokeMethod(this, &ExtractJob::pump, Qt::QueuedConnection);
}

void ExtractJob::setPaused(bool paused)
{
    m_paused = paused;
    if (!paused && m_started)
        QMetaObject::invokeMethod(this, &ExtractJob::pump, Qt::QueuedConnection);
}

JobProgress ExtractJob::progress() const
{
    JobProgress progress;
    progress.archivesTotal = count();
    progress.stepsTotal = qint64(count()) * JobProgress::stepsPerArchive;
    progress.elapsedMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    for (const Slot &slot : m_slots) {
        const quint64 size = quint64(qMax<qint64>(0, slot.result.bytes));
        progress.bytesTotal += size;
        if (slot.state == Slot::Ended || slot.state == Slot::Done) {
            ++progress.archivesDone;
            progress.steps += slot.stepsAtEnd;
            progress.bytesDone += quint64(double(size) * double(slot.stepsAtEnd) / JobProgress::stepsPerArchive);
        } else if (slot.control) {
            const qint64 steps = slot.control->steps();
            progress.steps += steps;
            progress.bytesDone += quint64(double(size) * double(steps) / JobProgress::stepsPerArchive);
            const quint64 total = slot.control->bytesTotal.load(std::memory_order_relaxed);
            if (total > 0) {
                progress.runningDone += qMin(slot.control->bytesDone.load(std::memory_order_relaxed), total);
                progress.runningTotal += total;
            }
        }
    }
    return progress;
}

void ExtractJob::pump()
{
    // Signals sent from here may come back with a call that needs another
    // round (a front end that answers at once); one round at a time.
    if (m_inPump) {
        m_pumpAgain = true;
        return;
    }
    m_inPump = true;
    do {
        m_pumpAgain = false;
        pumpOnce();
    } while (m_pumpAgain && !m_finished);
    m_inPump = false;
}

void ExtractJob::pumpOnce()
{
    if (m_finished || !m_started)
        return;
    startArchives();
    askPasswords();
    takeInEnded();
    finishIfDone();
}

void ExtractJob::startArchives()
{
    while (!m_stopping && !m_paused && m_next < count() && m_running < m_options.parallel) {
        Slot &slot = m_slots[m_next];
        if (slot.state == Slot::Asking)
            return; // the next archives wait for its name folder
        if (slot.state == Slot::Waiting && !prepareFolder(m_next))
            return;
        if (m_slots[m_next].state == Slot::Waiting)
            launch(m_next);
        ++m_next;
    }
}

bool ExtractJob::prepareFolder(int index)
{
    Slot &slot = m_slots[index];
    if (!m_options.nameFolders) {
        slot.folder = m_options.destination;
        return true;
    }
    if (m_options.smartFolders) {
        // Whether it needs a name folder is known only once its files are
        // out: they wait in the destination, and the folder is made then
        // under the next free name, since nobody can be asked by that time.
        slot.folder = m_options.destination;
        slot.result.destination = nameFolderPath(m_options.destination, slot.result.path);
        return true;
    }
    QString folder = slot.result.destination == m_options.destination
        ? nameFolderPath(m_options.destination, slot.result.path)
        : slot.result.destination;
    if (m_options.freeNameFolders)
        folder = freeNameFolderPath(folder);
    slot.result.destination = folder;
    if (entryExists(folder)) {
        slot.state = Slot::Asking;
        const QString name = QDir(folder).dirName();
        ask(JobQuestion::NameFolderTaken, index, nameFolderTakenText(folder), renameTitleText(), name);
        return false;
    }
    const QString failure = makeNameFolder(folder);
    if (!failure.isEmpty()) {
        slot.result.skipped = true;
        ask(JobQuestion::FolderFailed, index, failure);
        end(index);
        return true;
    }
    slot.folder = folder;
    slot.madeFolder = true;
    return true;
}

void ExtractJob::launch(int index)
{
    Slot &slot = m_slots[index];
    slot.stage = makeStageFolder(slot.folder);
    if (slot.stage.isNull()) {
        slot.result.code = TENVO_ERR_WRITE;
        end(index);
        return;
    }
    slot.clock.start();
    emit archiveStarted(index, slot.result.path);
    if (m_archive.takesPassword(slot.result.path))
        slot.password = m_passwords.nextCandidate(slot.tried);
    runLibrary(index);
}

void ExtractJob::runLibrary(int index)
{
    Slot &slot = m_slots[index];
    slot.state = Slot::Running;
    ++m_running;
    if (!slot.password.isNull())
        slot.tried.append(slot.password);
    // The cores no other archive of the job is using go to this one's
    // entries: one large archive alone uses them all. parallel caps the
    // decoder processes in all.
    auto control = std::make_shared<Control>(m_stopFlag, qMax(1, m_options.parallel - m_running + 1));
    slot.control = control;
    const QString path = slot.result.path;
    const QString stage = slot.stage;
    const QString encoding = m_options.encodings.value(path, m_options.encoding);
    // The worker's copy of the password, wiped there once the call is made.
    auto password = std::make_shared<QString>(slot.password);
    if (!password->isNull())
        password->detach();
    wipeSecret(slot.password);
    clsArchive *archive = &m_archive;
    const bool nested = m_options.nested;
    m_pool.start([this, archive, index, control, path, stage, password, encoding, nested] {
        int code = TENVO_ERR_STOPPED;
        NestedArchives inner;
        if (!control->stop->load()) {
            const CommandControl::Scope scope(control.get());
            QString folder = stage;
            code = archive->extract(path, folder, *password, encoding);
            // Still in the stage folder, so they land in list order with
            // the rest; an archive that will be tried with another password
            // is looked into once it opened.
            if (nested && code != TENVO_ERR_ENCRYPTED && code != TENVO_ERR_STOPPED)
                inner = extractNestedArchives(*archive, stage, *password, *control->stop, control->processCount);
        }
        wipeSecret(*password);
        const QString message = control->message();
        QMetaObject::invokeMethod(
            this,
            [this, index, code, message, inner] {
                m_slots[index].result.nestedExtracted = inner.extracted;
                m_slots[index].result.nestedLeft = inner.left;
                libraryReturned(index, code, message);
            },
            Qt::QueuedConnection);
    });
}

void ExtractJob::libraryReturned(int index, int code, const QString &message)
{
    --m_running;
    Slot &slot = m_slots[index];
    slot.result.message = firstLine(message);
    for (const ShortenedName &name : shortenedNames(message.toUtf8()).names)
        slot.result.shortened.append(name.stored + u'\t' + name.landed);
    const QString triedLast = slot.tried.isEmpty() ? QString() : slot.tried.constLast();
    if (code == TENVO_ERR_ENCRYPTED && m_stopping && m_archive.takesPassword(slot.result.path)) {
        // Its password would have been asked, had the job gone on.
        code = TENVO_ERR_STOPPED;
    }
    if (code == TENVO_ERR_ENCRYPTED && m_archive.takesPassword(slot.result.path)) {
        // Every password that worked in this job, then the given ones, before
        // anyone is asked; the question waits its turn in list order.
        slot.password = m_passwords.nextCandidate(slot.tried);
        if (!slot.password.isNull())
            runLibrary(index);
        else
            slot.state = Slot::WaitingForPassword;
    } else {
        if (code != TENVO_ERR_ENCRYPTED && code != TENVO_ERR_STOPPED && !triedLast.isNull()) {
            m_passwords.remember(triedLast);
            if (!slot.toRemember.isNull() && triedLast == slot.toRemember)
                emit passwordWorked(triedLast);
        }
        slot.result.code = code;
        slot.result.stopped = code == TENVO_ERR_STOPPED;
        end(index);
    }
    pump();
}

void ExtractJob::askPasswords()
{
    if (m_question || m_stopping)
        return;
    // Questions come in list order: one for an archive waits while an
    // archive before it is still being decoded and may need one too.
    for (int i = 0; i < count(); ++i) {
        Slot &slot = m_slots[i];
        if (slot.state == Slot::Running)
            return;
        if (slot.state != Slot::WaitingForPassword)
            continue;
        // A password may have opened another archive while this one waited.
        slot.password = m_passwords.nextCandidate(slot.tried);
        if (!slot.password.isNull()) {
            runLibrary(i);
            return;
        }
        if (slot.asked >= PasswordKeeper::maxQuestions) {
            slot.result.code = TENVO_ERR_ENCRYPTED;
            end(i);
            continue;
        }
        ++slot.asked;
        ask(JobQuestion::Password, i, PasswordKeeper::promptText(slot.result.path, slot.asked > 1),
            PasswordKeeper::titleText());
        return;
    }
}

void ExtractJob::ask(JobQuestion::Kind kind, int index, const QString &text, const QString &title,
                     const QString &preset)
{
    auto *question = new JobQuestion(kind, index, m_slots[index].result.path, text, title, preset, this);
    connect(question, &JobQuestion::replied, this, [this, question] { questionReplied(question); },
            Qt::QueuedConnection);
    // A notice waits for nobody; only real questions hold their archive.
    if (kind != JobQuestion::FolderFailed)
        m_question = question;
    emit this->question(question);
}

void ExtractJob::questionReplied(JobQuestion *question)
{
    question->deleteLater();
    if (question->kind() == JobQuestion::FolderFailed || m_finished)
        return;
    if (m_question == question)
        m_question = nullptr;
    const int index = question->index();
    Slot &slot = m_slots[index];
    const bool stillAsking = slot.state == Slot::Asking || slot.state == Slot::WaitingForPassword;
    if (question->reply() == JobQuestion::StopRequested) {
        stop();
    } else if (!stillAsking || m_stopping) {
        // Answered after the job stopped or moved on: nothing to do.
    } else if (question->reply() == JobQuestion::Skipped) {
        if (question->kind() == JobQuestion::Password)
            slot.result.code = TENVO_ERR_ENCRYPTED;
        else
            slot.result.skippedByUser = true;
        end(index);
    } else if (question->kind() == JobQuestion::Password) {
        slot.password = question->answerText();
        slot.password.detach();
        wipeSecret(slot.toRemember);
        if (question->rememberAnswer()) {
            slot.toRemember = slot.password;
            slot.toRemember.detach();
        }
        runLibrary(index);
    } else {
        QString problem;
        const QString folder = renamedNameFolder(slot.result.destination, question->answerText(), &problem);
        if (folder.isEmpty()) {
            slot.result.skipped = true;
            ask(JobQuestion::FolderFailed, index, problem);
            end(index);
        } else {
            slot.result.destination = folder;
            slot.state = Slot::Waiting;
        }
    }
    question->wipeAnswer();
    pump();
}

void ExtractJob::end(int index)
{
    Slot &slot = m_slots[index];
    wipeSecret(slot.password);
    wipeSecret(slot.toRemember);
    wipeSecrets(slot.tried);
    slot.state = Slot::Ended;
    // A stopped archive shows on the bar as far as it had come.
    slot.stepsAtEnd = !slot.result.stopped ? JobProgress::stepsPerArchive
                                           : (slot.control ? slot.control->steps() : 0);
    slot.control.reset();
    if (slot.clock.isValid())
        slot.result.seconds = double(slot.clock.nsecsElapsed()) / 1e9;
}

void ExtractJob::takeInEnded()
{
    while (m_results.size() < m_slots.size() && m_slots[m_results.size()].state == Slot::Ended) {
        const int index = int(m_results.size());
        land(index);
        m_slots[index].state = Slot::Done;
        m_results.append(m_slots[index].result);
        emit archiveFinished(index, m_results.constLast());
        reportBytes();
    }
}

void ExtractJob::land(int index)
{
    Slot &slot = m_slots[index];
    ArchiveResult &result = slot.result;
    if (!slot.stage.isEmpty()) {
        if (m_options.skipJunk)
            removeJunkFiles(slot.stage);
        if (!m_options.nameFolders || !m_options.smartFolders || placeSmartly(index)) {
            // A failed archive leaves no empty folder of its own behind.
            const StageMerge merged = mergeStageFolder(slot.stage, slot.folder, !result.failed(),
                                                       m_options.wantLandedNames, existingFile(m_options.existing));
            result.landed = merged.landed;
            result.landedNames = merged.names;
            result.kept = merged.kept;
            result.renamed = merged.renamed;
            if (merged.failed && result.code == TENVO_OK && !result.stopped)
                result.code = TENVO_ERR_WRITE;
        } else {
            removeTree(slot.stage);
        }
        slot.stage.clear();
    }
    if (slot.madeFolder && result.failed())
        QDir().rmdir(slot.folder); // only when empty
    // A file kept in place of the archive's own would be lost with it.
    if (m_options.trashArchives && !result.failed() && result.kept == 0)
        trash(result);
}

bool ExtractJob::placeSmartly(int index)
{
    Slot &slot = m_slots[index];
    ArchiveResult &result = slot.result;
    const QStringList entries = stageEntries(slot.stage);
    if (entries.isEmpty())
        return true;
    // Only a whole archive is known to hold one item; what a failed one left
    // is kept together in its folder.
    if (entries.size() == 1 && !result.failed()) {
        const QString name = takeFreeName(slot.stage, entries.first(), m_options.destination);
        if (!name.isEmpty()) {
            result.destination = m_options.destination + name;
            return true;
        }
    }
    QString failure;
    // A folder of the same name may appear between the look and the making.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString folder = freeNameFolderPath(nameFolderPath(m_options.destination, result.path));
        result.destination = folder;
        failure = makeNameFolder(folder);
        if (failure.isEmpty()) {
            slot.folder = folder;
            slot.madeFolder = true;
            return true;
        }
        if (!entryExists(folder))
            break;
    }
    if (!result.failed())
        result.code = TENVO_ERR_WRITE;
    ask(JobQuestion::FolderFailed, index, failure);
    return false;
}

void ExtractJob::trash(ArchiveResult &result)
{
    // Without a trash of its own to fall back on, Qt would move the files
    // into the current folder instead.
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString trashFolder = dataHome + QStringLiteral("/Trash");
    if (dataHome.isEmpty() || !QDir().mkpath(dataHome)
        || (::mkdir(nativePath(trashFolder).constData(), 0700) != 0 && errno != EEXIST) || !isFolderAt(trashFolder)) {
        result.trashFailed = true;
        return;
    }
    // Never deleted: what the trash cannot take stays where it was.
    for (const QString &file : volumeFilesOf(result.path)) {
        if (!QFile::moveToTrash(file)) {
            result.trashFailed = true;
            return;
        }
    }
    result.trashed = true;
}

void ExtractJob::finishIfDone()
{
    if (m_finished || m_running > 0 || m_question)
        return;
    if (m_stopping) {
        for (int i = 0; i < count(); ++i) {
            Slot &slot = m_slots[i];
            if (slot.state == Slot::Ended || slot.state == Slot::Done)
                continue;
            slot.result.stopped = true;
            slot.result.code = TENVO_ERR_STOPPED;
            end(i);
        }
        takeInEnded();
    }
    if (m_results.size() < m_slots.size())
        return;
    m_finished = true;
    m_bytesTimer.stop();
    m_passwords.wipe();
    reportBytes();
    emit finished();
}

void ExtractJob::reportBytes()
{
    const JobProgress now = progress();
    if (now.bytesDone == m_lastBytes)
        return;
    m_lastBytes = now.bytesDone;
    emit bytesProgress(now.bytesDone, now.bytesTotal);
}

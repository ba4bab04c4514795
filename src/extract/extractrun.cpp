// The extraction run: works through the archive list, several archives at
// once on worker threads, results in list order.
#include "extractrun.h"

#include "archiverlibrary.h"
#include "clsarchive.h"
#include "clsinictrl.h"
#include "clslistctrl.h"
#include "commandcontrol.h"
#include "globals.h"
#include "namefolder.h"
#include "pathtext.h"
#include "result.h"
#include "userdialogs.h"

#include <QCoreApplication>
#include <QThread>

namespace {

// What the user reads.
const QString preparingText = QStringLiteral("現在準備中です...");
const QString extractingText = QStringLiteral("現在解凍中です...");
const QString finishedText = QStringLiteral("解凍が終了しました");
const QString stoppedText = QStringLiteral("解凍を中止しました");
const QString counterSeparator = QStringLiteral(" / ");
// After the counter while archives run: how much of them has been read.
const QString counterShare = QStringLiteral(" (%1%)");
const QString summaryHeading = QStringLiteral("次の書庫ファイルは解凍できませんでした");
const QString summaryMore = QStringLiteral("ほか %1 件");
const QString causeOpen = QStringLiteral("書庫ファイルを開けません");
const QString causeFormat = QStringLiteral("対応していない形式です");
const QString causeDamaged = QStringLiteral("書庫ファイルが壊れています");
const QString causeEncrypted = QStringLiteral("パスワード付きの書庫です");
const QString causeVolume = QStringLiteral("分割書庫の先頭ではないか、一部が欠けています");
const QString causeUnsafe = QStringLiteral("安全でない項目を飛ばしました");
const QString causeWrite = QStringLiteral("解凍先に書き込めません");
const QString causeEnded = QStringLiteral("解凍処理が途中で終了しました");
const QString causeMethod = QStringLiteral("対応していない圧縮方式です");
const QString causeLibrary = QStringLiteral("この形式の解凍ライブラリを読み込めません");
const QString causeFolder = QStringLiteral("フォルダを作成できません");
const QString causeStopped = QStringLiteral("中止したため解凍していません");
const QString causeOther = QStringLiteral("解凍に失敗しました (%1)");

const QString optionSection = QStringLiteral("Option");
const QString parallelKey = QStringLiteral("Parallel");

// A message box grows with its text; past this many archives the rest are
// only counted, so the box still fits on the screen.
constexpr int summaryLimit = 20;

// Steps of the bar within one archive, from its library's progress reports.
constexpr qint64 stepsPerArchive = 1024;

// numerator / denominator to the nearest integer, an exact half going to the
// even neighbour.
qint64 roundHalfToEven(qint64 numerator, qint64 denominator)
{
    const qint64 quotient = numerator / denominator;
    const qint64 twiceRemainder = 2 * (numerator % denominator);
    if (twiceRemainder > denominator || (twiceRemainder == denominator && quotient % 2 != 0))
        return quotient + 1;
    return quotient;
}

} // namespace

// One archive on its worker: what its library reports, and the run's stop.
struct ExtractRun::Job : CommandControl
{
    Job(std::shared_ptr<std::atomic<bool>> stopFlag, int processCount)
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

    std::shared_ptr<std::atomic<bool>> stop;
    const int processCount;
    std::atomic<quint64> bytesDone{0};
    std::atomic<quint64> bytesTotal{0};
};

ExtractRun::ExtractRun(ProgressView &view)
    : m_view(view)
    , m_stopFlag(std::make_shared<std::atomic<bool>>(false))
{
    load();
}

ExtractRun::~ExtractRun()
{
    m_stopFlag->store(true);
    m_pool.waitForDone();
}

void ExtractRun::load()
{
    m_currentIndex = 1;
    m_runState = Preparing;
    m_inTick = false;
    m_finished = false;
    m_results.clear();
    m_slots.clear();
    m_running = 0;
    m_done = 0;
    m_lastBar = 0;
    m_counterText.clear();
    m_lastShare = -1;
    m_starting = false;
    m_asking = false;
    m_listEnded = false;
    m_stopping = false;
    m_stopFlag = std::make_shared<std::atomic<bool>>(false);
    setParallel(parallelFromSettings());
}

void ExtractRun::setExtractFolder(const QString &folder)
{
    m_extractFolder = folder;
    if (!m_extractFolder.endsWith(u'/'))
        m_extractFolder += u'/';
}

void ExtractRun::setParallel(int count)
{
    m_parallel = qBound(1, count, 256);
    m_pool.setMaxThreadCount(m_parallel);
}

int ExtractRun::parallelFromSettings()
{
    const int configured = gIniCtrl ? gIniCtrl->getLong(optionSection, parallelKey) : 0;
    return configured > 0 ? configured : qMax(1, QThread::idealThreadCount());
}

void ExtractRun::tick()
{
    if (m_inTick)
        return;
    m_inTick = true;
    switch (m_runState) {
    case Preparing:
        prepare();
        break;
    case Extracting:
        startMore();
        drawBar(false);
        askForPasswords();
        if (!m_starting && !m_asking && m_running == 0 && m_done == m_slots.size()
            && (m_listEnded || m_stopping))
            m_runState = Finishing;
        m_view.repaintWindow();
        break;
    case Finishing:
        finish();
        break;
    }
    m_inTick = false;
}

void ExtractRun::stop()
{
    if (m_finished || m_stopping)
        return;
    m_stopping = true;
    m_stopFlag->store(true);
}

void ExtractRun::waitForRunning()
{
    while (m_running > 0) {
        m_pool.waitForDone();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
}

void ExtractRun::prepare()
{
    m_view.setMessage(preparingText + QStringLiteral("\n\n0") + counterSeparator
                      + QString::number(m_totalCount));
    gListCtrl->setIndex();
    m_totalCount = gListCtrl->getCount();
    if (m_totalCount <= 0) {
        // Nothing to extract and no bar to divide: finish straight away.
        m_runState = Finishing;
        finish();
        return;
    }
    m_runState = Extracting;
}

void ExtractRun::startMore()
{
    // A question of the run is open further up the stack: the archives are
    // started, in list order, once it is answered.
    if (m_starting || m_asking)
        return;
    m_starting = true;
    while (!m_stopping && !m_listEnded && m_running < m_parallel) {
        const QString path = gListCtrl->getItem(-1);
        if (path.isEmpty()) {
            m_listEnded = true;
            break;
        }
        m_counterText = extractingText + u'\n' + displayPath(path) + QStringLiteral("\n\n")
            + QString::number(m_currentIndex) + counterSeparator + QString::number(m_totalCount);
        m_lastShare = -1;
        m_view.setMessage(m_counterText);
        ++m_currentIndex;

        Slot slot;
        slot.result.path = path;
        slot.result.destination = m_extractFolder;
        bool haveFolder = true;
        if (gMakeNameFolder) {
            slot.result.destination = nameFolderPath(m_extractFolder, path);
            haveFolder = createNameFolder(slot.result.destination, m_view.dialogOwner());
        }
        slot.password = m_passwords.firstPassword();
        m_slots.append(slot);
        const int index = int(m_slots.size()) - 1;
        if (!haveFolder) {
            m_slots[index].result.skipped = true;
            settle(index, 0);
        } else if (m_stopping) {
            // Stopped while its question was open: no library is called.
            settle(index, TENVO_ERR_STOPPED);
        } else {
            start(index);
        }
    }
    m_starting = false;
    askForPasswords();
}

void ExtractRun::start(int index)
{
    ++m_running;
    // The cores no other archive of the run is using go to this one's
    // entries: one large archive alone uses them all. The Parallel key caps
    // the decoder processes in all, so at 1 there is never more than one.
    auto job = std::make_shared<Job>(m_stopFlag, qMax(1, m_parallel - m_running + 1));
    m_slots[index].job = job;
    const QString path = m_slots[index].result.path;
    const QString destination = m_slots[index].result.destination;
    // The worker's copy of the password, wiped there once the call is made.
    auto password = std::make_shared<QString>(m_slots[index].password);
    m_pool.start([this, index, job, path, destination, password] {
        int code = TENVO_ERR_STOPPED;
        if (!job->stop->load()) {
            const CommandControl::Scope scope(job.get());
            QString folder = destination;
            code = gArchive->extract(path, folder, *password);
        }
        wipeSecret(*password);
        // Taken in on the window's thread, in the order the archives end.
        QMetaObject::invokeMethod(
            this, [this, index, code] { archiveFinished(index, code); }, Qt::QueuedConnection);
    });
}

void ExtractRun::archiveFinished(int index, int code)
{
    --m_running;
    m_slots[index].job.reset();
    if (code == TENVO_ERR_ENCRYPTED && !m_stopping && gArchive->takesPassword(m_slots[index].result.path)) {
        // An encrypted ZIP archive: it waits for its password question,
        // which is asked on this thread with the others, in list order.
        m_slots[index].awaitingPassword = true;
    } else {
        if (code != TENVO_ERR_ENCRYPTED && code != TENVO_ERR_STOPPED && !m_slots[index].password.isNull())
            m_passwords.remember(m_slots[index].password);
        settle(index, code);
    }
    askForPasswords();
    startMore();
}

void ExtractRun::askForPasswords()
{
    if (m_starting || m_asking)
        return;
    m_asking = true;
    for (;;) {
        // The first archive of the list that waits; indices, not references:
        // archives end and are added while the question is open.
        // Questions come in list order: one for an archive waits while an
        // archive before it is still being decoded and may need one too.
        int index = -1;
        bool earlierRunning = false;
        for (int i = 0; i < m_slots.size() && index < 0; ++i) {
            if (m_slots[i].awaitingPassword)
                index = i;
            else if (m_slots[i].job)
                earlierRunning = true;
        }
        if (index < 0 || (earlierRunning && !m_stopping))
            break;
        QString next;
        if (!m_stopping) {
            int asked = m_slots[index].asked;
            next = m_passwords.nextPassword(
                m_slots[index].result.path, m_slots[index].password, asked,
                [this](const QString &prompt, const QString &title) {
                    return userDialogs().password(m_view.dialogOwner(), prompt, title);
                });
            m_slots[index].asked = asked;
        }
        m_slots[index].awaitingPassword = false;
        wipeSecret(m_slots[index].password);
        if (!next.isNull() && !m_stopping) {
            m_slots[index].password = next;
            wipeSecret(next);
            start(index);
        } else {
            settle(index, m_stopping ? TENVO_ERR_STOPPED : TENVO_ERR_ENCRYPTED);
        }
    }
    m_asking = false;
}

void ExtractRun::settle(int index, int code)
{
    Slot &slot = m_slots[index];
    wipeSecret(slot.password);
    slot.result.code = code;
    slot.result.stopped = code == TENVO_ERR_STOPPED;
    slot.done = true;
    ++m_done;
    takeInFinished();
    drawBar(true);
}

void ExtractRun::takeInFinished()
{
    while (m_results.size() < m_slots.size() && m_slots[m_results.size()].done)
        m_results.append(m_slots[m_results.size()].result);
}

void ExtractRun::drawBar(bool always)
{
    if (m_totalCount <= 0)
        return;
    // Whole archives, plus how far the running ones have read their files
    // (only libraries with the progress call report it).
    qint64 steps = qint64(m_done) * stepsPerArchive;
    quint64 runningDone = 0;
    quint64 runningTotal = 0;
    for (const Slot &slot : std::as_const(m_slots)) {
        if (!slot.job)
            continue;
        const quint64 total = slot.job->bytesTotal.load(std::memory_order_relaxed);
        const quint64 done = slot.job->bytesDone.load(std::memory_order_relaxed);
        if (total > 0)
            steps += qint64(qMin(done, total) * quint64(stepsPerArchive - 1) / total);
        if (total > 0 && !slot.done) {
            runningDone += qMin(done, total);
            runningTotal += total;
        }
    }
    showShare(runningTotal > 0 ? int(runningDone * 100 / runningTotal) : -1);
    const int width = barWidth(m_view.progressBoxWidth(), steps, qint64(m_totalCount) * stepsPerArchive);
    // Each archive that ends draws the bar, as it always did; in between
    // only a change is drawn.
    if (always || width != m_lastBar) {
        m_lastBar = width;
        m_view.drawProgressBar(width);
    }
}

void ExtractRun::showShare(int percent)
{
    // Only a change is shown; without a library that reports its reading
    // the counter stays as it was set.
    if (percent == m_lastShare || m_counterText.isEmpty() || m_stopping || m_finished)
        return;
    m_lastShare = percent;
    m_view.setMessage(percent < 0 ? m_counterText : m_counterText + counterShare.arg(percent));
}

void ExtractRun::finish()
{
    if (m_stopping && !m_listEnded) {
        // What the stop kept from starting, in list order.
        for (QString path = gListCtrl->getItem(-1); !path.isEmpty(); path = gListCtrl->getItem(-1)) {
            Slot slot;
            slot.result.path = path;
            slot.result.destination = m_extractFolder;
            slot.result.stopped = true;
            slot.done = true;
            m_slots.append(slot);
        }
        m_listEnded = true;
        takeInFinished();
    }
    m_view.setMessage(m_stopping ? stoppedText : finishedText);
    m_passwords.wipe();
    m_view.stopTimer();
    m_view.enableClose();
    m_finished = true;
    // After a stop the list keeps what is left to do.
    if (gDeleteFromList && !m_stopping)
        gListCtrl->clear();

    QList<ArchiveResult> failures;
    for (const ArchiveResult &result : std::as_const(m_results)) {
        if (result.failed())
            failures.append(result);
    }
    if (!failures.isEmpty()) {
        // The user must see what went wrong, so the window stays open even
        // when it was asked to close by itself.
        m_view.repaintWindow();
        userDialogs().exclamation(m_view.dialogOwner(), summaryText(failures));
        return;
    }
    if (gCloseDialog)
        m_view.closeWindow();
}

int ExtractRun::barWidth(int boxWidth, qint64 done, qint64 total)
{
    // Scaled as a whole, not as a per-archive step that rounds to nothing
    // once there are more archives than pixels.
    return int(roundHalfToEven(qint64(boxWidth) * done, total));
}

QString ExtractRun::causeText(const ArchiveResult &result)
{
    if (result.skipped)
        return causeFolder;
    if (result.stopped)
        return causeStopped;
    switch (result.code) {
    case TENVO_ERR_OPEN:
        return causeOpen;
    case TENVO_ERR_FORMAT:
    case -2:
        return causeFormat;
    case ArchiverLibrary::libraryUnavailable:
    case TENVO_ERR_DECODER:
        return causeLibrary;
    case TENVO_ERR_DAMAGED:
        return causeDamaged;
    case TENVO_ERR_ENCRYPTED:
        return causeEncrypted;
    case TENVO_ERR_VOLUME:
        return causeVolume;
    case TENVO_ERR_UNSAFE:
        return causeUnsafe;
    case TENVO_ERR_WRITE:
        return causeWrite;
    case TENVO_ERR_ENDED:
        return causeEnded;
    case TENVO_ERR_METHOD:
        return causeMethod;
    default:
        return causeOther.arg(result.code);
    }
}

QString ExtractRun::summaryText(const QList<ArchiveResult> &failures)
{
    QString text = summaryHeading + u'\n';
    const qsizetype shown = qMin<qsizetype>(failures.size(), summaryLimit);
    for (qsizetype i = 0; i < shown; ++i) {
        const ArchiveResult &result = failures[i];
        text += u'\n' + displayPath(result.path) + QStringLiteral("\n　") + causeText(result);
    }
    if (failures.size() > shown)
        text += QStringLiteral("\n\n") + summaryMore.arg(failures.size() - shown);
    return text;
}

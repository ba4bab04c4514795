// The progress window: a view of an extraction job.
#include "frmprogress.h"

#include "clsarchive.h"
#include "fittedtext.h"
#include "frmresults.h"
#include "namefolder.h"
#include "passwordstore.h"
#include "pathtext.h"
#include "progressbox.h"
#include "timeleft.h"
#include "userdialogs.h"
#include "windowcentre.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace {

// What the user reads.
QString caption() { return QCoreApplication::translate("frmProgress", "変換中..."); }
QString closeCaption() { return QCoreApplication::translate("frmProgress", "閉じる"); }
QString stopCaption() { return QCoreApplication::translate("frmProgress", "中止"); }
QString stopQuestion() { return QCoreApplication::translate("frmProgress", "解凍を中止しますか？"); }
QString preparingText() { return QCoreApplication::translate("frmProgress", "現在準備中です..."); }
QString extractingText() { return QCoreApplication::translate("frmProgress", "現在解凍中です..."); }
QString finishedText() { return QCoreApplication::translate("frmProgress", "解凍が終了しました"); }
QString stoppedText() { return QCoreApplication::translate("frmProgress", "解凍を中止しました"); }
const QString counterSeparator = QStringLiteral(" / ");
// After the counter while archives run: how much of them has been read.
const QString counterShare = QStringLiteral(" (%1%)");
// The ways out of the name-folder question.
QString renameCaption() { return QCoreApplication::translate("frmProgress", "別の名前にする"); }
QString skipCaption() { return QCoreApplication::translate("frmProgress", "この書庫を飛ばす"); }

// The status text at its tallest: message, path, an empty line, counter.
// Japanese may come from a taller fallback font than the window's own.
QString tallestMessage() { return QCoreApplication::translate("frmProgress", "現在解凍中です...\n/Ágy/書庫.zip\n\n0 / 0"); }
QString tallestTimeLeft() { return QCoreApplication::translate("frmProgress", "残り 約 59 分 59 秒 (999.9 MB/秒)"); }

} // namespace

frmProgress::frmProgress(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmProgress"));
    setWindowTitle(caption());

    cmdClose = new QPushButton(closeCaption(), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setEnabled(false);
    connect(cmdClose, &QPushButton::clicked, this, &frmProgress::cmdClose_Click);

    cmdStop = new QPushButton(stopCaption(), this);
    cmdStop->setObjectName(QStringLiteral("cmdStop"));
    connect(cmdStop, &QPushButton::clicked, this, &frmProgress::cmdStop_Click);

    lblMessage = new QLabel(this);
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    lblMessage->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblMessage->setTextFormat(Qt::PlainText);

    picProgress = new ProgressBox(this);
    picProgress->setObjectName(QStringLiteral("picProgress"));

    lblTimeLeft = new QLabel(this);
    lblTimeLeft->setObjectName(QStringLiteral("lblTimeLeft"));
    lblTimeLeft->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblTimeLeft->setTextFormat(Qt::PlainText);
    lblTimeLeft->setWordWrap(true);

    timerExtract = new QTimer(this);
    timerExtract->setObjectName(QStringLiteral("timerExtract"));
    timerExtract->setInterval(10);
    connect(timerExtract, &QTimer::timeout, this, &frmProgress::timerExtract_Timer);

    placeControls();
    centreOnScreen(this);
}

frmProgress::~frmProgress() = default;

void frmProgress::placeControls()
{
    // The design's places, pushed down as far as the desktop's font needs
    // for four whole lines of status text and a whole button caption().
    const int textHeight = lblMessage->fontMetrics()
                               .boundingRect(QRect(0, 0, 355, 10000), Qt::AlignHCenter, tallestMessage())
                               .height();
    const int messageHeight = qMax(60, textHeight);
    lblMessage->setGeometry(11, 16, 355, messageHeight);
    const int boxTop = 16 + messageHeight + 12;
    picProgress->setGeometry(8, boxTop, 361, 25);
    // The time left under the bar (two lines when a large font needs them),
    // its room kept from the start so that the buttons do not move.
    const int timeLeftHeight = lblTimeLeft->fontMetrics()
                                   .boundingRect(QRect(0, 0, 361, 10000), Qt::AlignHCenter | Qt::TextWordWrap, tallestTimeLeft())
                                   .height();
    lblTimeLeft->setGeometry(8, boxTop + 31, 361, timeLeftHeight);
    const int buttonTop = boxTop + 40 + timeLeftHeight;
    const QFontMetrics buttonMetrics = cmdClose->fontMetrics();
    const QSize button(qMax(81, buttonMetrics.horizontalAdvance(closeCaption()) + 16),
                       qMax(25, buttonMetrics.height() + 8));
    cmdClose->setGeometry(152 - (button.width() - 81) / 2, buttonTop, button.width(), button.height());
    // The stop button keeps to the right, lined up with the bar's end.
    const int stopWidth = qMax(81, buttonMetrics.horizontalAdvance(stopCaption()) + 16);
    cmdStop->setGeometry(369 - stopWidth, buttonTop, stopWidth, button.height());
    setFixedSize(379, buttonTop + button.height() + 17);
    showMessage();
}

void frmProgress::setMessage(const QString &text)
{
    if (text == m_message)
        return;
    m_message = text;
    showMessage();
}

void frmProgress::showMessage()
{
    QString shortened;
    lblMessage->setText(fittedText(m_message, lblMessage->fontMetrics(), lblMessage->width(), &shortened));
    lblMessage->setToolTip(shortened);
}

void frmProgress::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::FontChange && timerExtract)
        placeControls();
}

void frmProgress::startJob(clsArchive &archive, const QStringList &archives, const ExtractOptions &options,
                           bool closeAtEnd)
{
    m_closeAtEnd = closeAtEnd;
    m_destination = options.destination;
    m_job = std::make_unique<ExtractJob>(archive, archives, options);
    connect(m_job.get(), &ExtractJob::archiveStarted, this, &frmProgress::archiveStarted);
    // Answered from the event loop, never from inside the job's own calls.
    connect(m_job.get(), &ExtractJob::question, this, &frmProgress::answer, Qt::QueuedConnection);
    connect(m_job.get(), &ExtractJob::finished, this, &frmProgress::jobFinished, Qt::QueuedConnection);
    // Stored from the event loop: the keyring is waited on in a loop of its own.
    connect(m_job.get(), &ExtractJob::passwordWorked, this, &frmProgress::storePassword, Qt::QueuedConnection);
    setMessage(preparingText() + QStringLiteral("\n\n0") + counterSeparator + QString::number(archives.size()));
    m_job->start();
    timerExtract->start();
}

void frmProgress::archiveStarted(int index, const QString &path)
{
    m_counterText = extractingText() + u'\n' + displayPath(path) + QStringLiteral("\n\n")
        + QString::number(index + 1) + counterSeparator + QString::number(m_job->count());
    m_lastShare = -1;
    if (!m_job->isStopping())
        setMessage(m_counterText);
}

void frmProgress::timerExtract_Timer()
{
    if (!m_job)
        return;
    const JobProgress progress = m_job->progress();
    if (progress.stepsTotal > 0)
        picProgress->setBarWidth(barWidth(picProgress->width(), progress.steps, progress.stepsTotal));
    if (m_job->isStopping() || m_job->isFinished()) {
        lblTimeLeft->clear();
        return;
    }
    lblTimeLeft->setText(timeLeftText(timeLeft(progress)));
    if (m_counterText.isEmpty())
        return;
    // Without a library that reports its reading the counter stays as set.
    const int share = progress.runningTotal > 0 ? int(progress.runningDone * 100 / progress.runningTotal) : -1;
    if (share != m_lastShare) {
        m_lastShare = share;
        setMessage(share < 0 ? m_counterText : m_counterText + counterShare.arg(share));
    }
}

void frmProgress::answer(JobQuestion *question)
{
    if (!question->isOpen())
        return;
    // The box is closed by the job when it no longer waits for the answer.
    QPointer<JobQuestion> asked(question);
    const QMetaObject::Connection closing =
        connect(question, &JobQuestion::withdrawn, this, &frmProgress::closeOpenBox);
    UserDialogs &dialogs = userDialogs();
    switch (question->kind()) {
    case JobQuestion::FolderFailed:
        dialogs.exclamation(this, question->text());
        if (asked)
            asked->answer(QString());
        break;
    case JobQuestion::Password: {
        QString password;
        bool remember = false;
        const bool offerTick = m_store && m_store->available();
        const auto reply = dialogs.passwordOrStop(this, question->text(), question->title(), password,
                                                  offerTick ? &remember : nullptr);
        if (asked && reply == UserDialogs::PasswordReply::Answered)
            asked->answer(password, remember);
        else if (asked && reply == UserDialogs::PasswordReply::StopRun)
            asked->stopRun();
        else if (asked)
            asked->skip();
        wipeSecret(password);
        break;
    }
    case JobQuestion::NameFolderTaken:
        while (asked && asked->isOpen()) {
            const int choice = dialogs.choice(this, question->text(), {renameCaption(), skipCaption(), stopCaption()});
            if (!asked || !asked->isOpen())
                break;
            if (choice == 0) {
                const QString name = dialogs.inputBox(this, renamePromptText(), question->title(), question->preset());
                // Cancel goes back to the warning and its other ways out.
                if (asked && !name.isEmpty())
                    asked->answer(name);
            } else if (choice == 2) {
                asked->stopRun();
            } else {
                asked->skip();
            }
        }
        break;
    }
    disconnect(closing);
}

void frmProgress::storePassword(const QString &password)
{
    if (m_store)
        m_store->remember(password);
}

void frmProgress::closeOpenBox()
{
    // A box of this window's own (a question of the job, the stop question)
    // is the one in front.
    QWidget *front = QApplication::activeModalWidget();
    if (front && front != this && front->parentWidget() == this) {
        if (auto *box = qobject_cast<QDialog *>(front))
            box->reject();
    }
}

void frmProgress::cmdClose_Click()
{
    close();
}

void frmProgress::cmdStop_Click()
{
    if (!m_job || m_job->isFinished() || m_job->isStopping() || m_askingStop)
        return;
    // Nothing new starts while the user makes up their mind.
    m_askingStop = true;
    m_job->setPaused(true);
    const bool stop = userDialogs().question(this, stopQuestion());
    m_askingStop = false;
    if (!m_job->isFinished() && stop) {
        m_job->stop();
        cmdStop->setEnabled(false);
        setMessage(stoppedText());
    } else {
        m_job->setPaused(false);
    }
}

void frmProgress::reject()
{
    if (m_job && !m_job->isFinished())
        return;
    QDialog::reject();
}

void frmProgress::closeEvent(QCloseEvent *event)
{
    // Mid-job the close box asks, as the stop button does; the window
    // closes only once the job has come to its end.
    if (m_job && !m_job->isFinished()) {
        event->ignore();
        if (event->spontaneous())
            cmdStop_Click();
        return;
    }
    QDialog::closeEvent(event);
}

void frmProgress::jobFinished()
{
    if (m_askingStop)
        closeOpenBox();
    timerExtract_Timer();
    timerExtract->stop();
    setMessage(m_job->isStopping() ? stoppedText() : finishedText());
    cmdStop->setEnabled(false);
    cmdClose->setEnabled(true);
    if (frmResults::worthShowing(m_job->results())) {
        // The user must see what went wrong, so the window stays open even
        // when it was asked to close by itself, until the results are read.
        m_results = new frmResults(m_job->results(), m_destination, this);
        m_results->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_results, &QDialog::finished, this, &frmProgress::resultsClosed);
        m_results->open();
        return;
    }
    if (m_closeAtEnd)
        close();
}

void frmProgress::resultsClosed()
{
    m_retry = m_results->archivesToRetry();
    m_results = nullptr;
    // Asking for another try is done with this run as well.
    if (m_closeAtEnd || !m_retry.isEmpty())
        close();
}

// The progress window: a view of an extraction job.
#pragma once

#include "extractjob.h"

#include <QDialog>

#include <memory>

class PasswordStore;
class ProgressBox;
class QLabel;
class frmResults;
class QPushButton;
class QTimer;

// Shows a job (src/extract/extractjob.h): the status text, the bar and,
// after the job, an enabled close button; answers the job's questions with
// the dialog seam. While the job goes on the window does not close: Escape
// does nothing, and the close box asks, as the stop button (cmdStop) does,
// whether to stop. While that question is open no new archive starts; it
// closes by itself when the job ends. The window grows from its design size
// as the desktop's font needs, so the four lines of status text always show
// whole; a line too wide (a long archive path) is shortened in the middle
// and shown whole in the tooltip. Under the bar, once the job has run a
// second, the time left for the whole job and its speed. At the end of a
// job with anything the user must see (frmResults::worthShowing), the
// results window opens over it; it never touches the archive list itself.
class frmProgress : public QDialog
{
    Q_OBJECT

public:
    explicit frmProgress(QWidget *parent = nullptr);
    ~frmProgress() override;

    // Makes the job that extracts archives with options and starts it, and
    // with it the timer that redraws the window. closeAtEnd: close the
    // window by itself when every archive was extracted.
    void startJob(clsArchive &archive, const QStringList &archives, const ExtractOptions &options,
                  bool closeAtEnd);
    // Where the passwords the user asks to remember go (not owned; null:
    // nowhere). Set before startJob; the password box offers its tick only
    // when store is available.
    void setPasswordStore(PasswordStore *store) { m_store = store; }
    // Redraws the bar and the counter from the job's progress; the timer
    // calls it.
    void timerExtract_Timer();
    // Closes the window; the button is enabled only after the job.
    void cmdClose_Click();
    // Asks whether to stop; on Yes the running archives are ended and the
    // rest are not started. Enabled only while the job goes on.
    void cmdStop_Click();

    // The job shown; null before startJob.
    const ExtractJob *job() const { return m_job.get(); }
    // The results window of the job that just ended, while it is open.
    frmResults *resultsWindow() const { return m_results; }
    // The archives the user asked, in the results window, to put back in
    // the list for another try; the window then closed.
    QStringList archivesToRetry() const { return m_retry; }

    QLabel *lblMessage = nullptr;
    QLabel *lblTimeLeft = nullptr;
    ProgressBox *picProgress = nullptr;
    QPushButton *cmdClose = nullptr;
    QPushButton *cmdStop = nullptr;
    QTimer *timerExtract = nullptr;

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void placeControls();
    void setMessage(const QString &text);
    void showMessage();
    void archiveStarted(int index, const QString &path);
    void answer(JobQuestion *question);
    void closeOpenBox();
    void jobFinished();
    void resultsClosed();

    void storePassword(const QString &password);

    std::unique_ptr<ExtractJob> m_job;
    QString m_destination;
    frmResults *m_results = nullptr;
    QStringList m_retry;
    PasswordStore *m_store = nullptr;
    QString m_message;
    QString m_counterText;
    int m_lastShare = -1;
    bool m_closeAtEnd = false;
    bool m_askingStop = false;
};

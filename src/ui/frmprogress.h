// The progress window of an extraction run.
#pragma once

#include "extractrun.h"

#include <QDialog>

class ProgressBox;
class QLabel;
class QPushButton;
class QTimer;

// Shows the run (src/extract/extractrun.h) that its timer drives: the status
// text, the bar and, after the run, an enabled close button. Creating the
// window loads it: the run starts from its preparing state. While the run is
// going the window does not close: Escape does nothing, and the close box
// asks, as the stop button (cmdStop) does, whether to stop the run.
// The window grows from its design size as the desktop's font needs, so the
// four lines of status text always show whole; a line too wide (a long
// archive path) is shortened in the middle and shown whole in the tooltip.
class frmProgress : public QDialog, private ProgressView
{
    Q_OBJECT

public:
    explicit frmProgress(QWidget *parent = nullptr);

    // The destination of the run; a "/" is appended when missing.
    void setExtractFolder(const QString &folder);
    // One tick of the run; the timer calls it every 10 ms.
    void timerExtract_Timer();
    // Closes the window; the button is enabled only after the run.
    void cmdClose_Click();
    // Asks whether to stop the run; on Yes the running archives are ended
    // and the rest are not started. Enabled only while the run goes on.
    void cmdStop_Click();

    const ExtractRun &run() const { return m_run; }

    QLabel *lblMessage = nullptr;
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
    void showMessage();

    void setMessage(const QString &text) override;
    int progressBoxWidth() const override;
    void drawProgressBar(int width) override;
    void repaintWindow() override;
    void stopTimer() override;
    void enableClose() override;
    void closeWindow() override;
    QWidget *dialogOwner() override;

    ExtractRun m_run;
    QString m_message;
};

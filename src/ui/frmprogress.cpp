// The progress window of an extraction run.
#include "frmprogress.h"

#include "progressbox.h"
#include "windowcentre.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {

// What the user reads.
const QString caption = QStringLiteral("変換中...");
const QString closeCaption = QStringLiteral("閉じる");

} // namespace

frmProgress::frmProgress(QWidget *parent)
    : QDialog(parent)
    , m_run(*this)
{
    setObjectName(QStringLiteral("frmProgress"));
    setWindowTitle(caption);
    setFixedSize(379, 170);

    cmdClose = new QPushButton(closeCaption, this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setGeometry(152, 128, 81, 25);
    cmdClose->setEnabled(false);
    connect(cmdClose, &QPushButton::clicked, this, &frmProgress::cmdClose_Click);

    lblMessage = new QLabel(this);
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    lblMessage->setGeometry(11, 16, 355, 60);
    lblMessage->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblMessage->setTextFormat(Qt::PlainText);

    picProgress = new ProgressBox(this);
    picProgress->setObjectName(QStringLiteral("picProgress"));
    picProgress->setGeometry(8, 88, 361, 25);

    timerExtract = new QTimer(this);
    timerExtract->setObjectName(QStringLiteral("timerExtract"));
    timerExtract->setInterval(10);
    connect(timerExtract, &QTimer::timeout, this, &frmProgress::timerExtract_Timer);

    centreOnScreen(this);
}

void frmProgress::setExtractFolder(const QString &folder)
{
    m_run.setExtractFolder(folder);
}

void frmProgress::timerExtract_Timer()
{
    m_run.tick();
}

void frmProgress::cmdClose_Click()
{
    close();
}

void frmProgress::reject()
{
    if (!m_run.isFinished())
        return;
    QDialog::reject();
}

void frmProgress::closeEvent(QCloseEvent *event)
{
    // Closing mid-run would leave an archive half handled and the list's
    // read cursor in the middle; the run always goes to its end.
    if (!m_run.isFinished()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void frmProgress::setMessage(const QString &text)
{
    lblMessage->setText(text);
    // A library call may block right after this; show the text first.
    lblMessage->repaint();
}

int frmProgress::progressBoxWidth() const
{
    return picProgress->width();
}

void frmProgress::drawProgressBar(int width)
{
    picProgress->setBarWidth(width);
}

void frmProgress::repaintWindow()
{
    repaint();
}

void frmProgress::stopTimer()
{
    timerExtract->stop();
}

void frmProgress::enableClose()
{
    cmdClose->setEnabled(true);
}

void frmProgress::closeWindow()
{
    close();
}

QWidget *frmProgress::dialogOwner()
{
    return this;
}

// The progress window of an extraction run.
#include "frmprogress.h"

#include "fittedtext.h"
#include "progressbox.h"
#include "userdialogs.h"
#include "windowcentre.h"

#include <QCloseEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {

// What the user reads.
const QString caption = QStringLiteral("変換中...");
const QString closeCaption = QStringLiteral("閉じる");
const QString stopCaption = QStringLiteral("中止");
const QString stopQuestion = QStringLiteral("解凍を中止しますか？");

// The status text at its tallest: message, path, an empty line, counter.
// Japanese may come from a taller fallback font than the window's own.
const QString tallestMessage = QStringLiteral("現在解凍中です...\n/Ágy/書庫.zip\n\n0 / 0");

} // namespace

frmProgress::frmProgress(QWidget *parent)
    : QDialog(parent)
    , m_run(*this)
{
    setObjectName(QStringLiteral("frmProgress"));
    setWindowTitle(caption);

    cmdClose = new QPushButton(closeCaption, this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setEnabled(false);
    connect(cmdClose, &QPushButton::clicked, this, &frmProgress::cmdClose_Click);

    cmdStop = new QPushButton(stopCaption, this);
    cmdStop->setObjectName(QStringLiteral("cmdStop"));
    connect(cmdStop, &QPushButton::clicked, this, &frmProgress::cmdStop_Click);

    lblMessage = new QLabel(this);
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    lblMessage->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblMessage->setTextFormat(Qt::PlainText);

    picProgress = new ProgressBox(this);
    picProgress->setObjectName(QStringLiteral("picProgress"));

    timerExtract = new QTimer(this);
    timerExtract->setObjectName(QStringLiteral("timerExtract"));
    timerExtract->setInterval(10);
    connect(timerExtract, &QTimer::timeout, this, &frmProgress::timerExtract_Timer);

    placeControls();
    centreOnScreen(this);
}

void frmProgress::placeControls()
{
    // The design's places, pushed down as far as the desktop's font needs
    // for four whole lines of status text and a whole button caption.
    const int textHeight = lblMessage->fontMetrics()
                               .boundingRect(QRect(0, 0, 355, 10000), Qt::AlignHCenter, tallestMessage)
                               .height();
    const int messageHeight = qMax(60, textHeight);
    lblMessage->setGeometry(11, 16, 355, messageHeight);
    const int boxTop = 16 + messageHeight + 12;
    picProgress->setGeometry(8, boxTop, 361, 25);
    const QFontMetrics buttonMetrics = cmdClose->fontMetrics();
    const QSize button(qMax(81, buttonMetrics.horizontalAdvance(closeCaption) + 16),
                       qMax(25, buttonMetrics.height() + 8));
    cmdClose->setGeometry(152 - (button.width() - 81) / 2, boxTop + 40, button.width(), button.height());
    // The stop button keeps to the right, lined up with the bar's end.
    const int stopWidth = qMax(81, buttonMetrics.horizontalAdvance(stopCaption) + 16);
    cmdStop->setGeometry(369 - stopWidth, boxTop + 40, stopWidth, button.height());
    setFixedSize(379, boxTop + 40 + button.height() + 17);
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

void frmProgress::cmdStop_Click()
{
    if (m_run.isFinished() || m_run.isStopping())
        return;
    if (!userDialogs().question(this, stopQuestion))
        return;
    m_run.stop();
    cmdStop->setEnabled(false);
}

void frmProgress::reject()
{
    if (!m_run.isFinished())
        return;
    QDialog::reject();
}

void frmProgress::closeEvent(QCloseEvent *event)
{
    // Mid-run the close box asks, as the stop button does; the window
    // closes only once the run has come to its end.
    if (!m_run.isFinished()) {
        event->ignore();
        if (event->spontaneous())
            cmdStop_Click();
        return;
    }
    QDialog::closeEvent(event);
}

void frmProgress::setMessage(const QString &text)
{
    m_message = text;
    showMessage();
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
    cmdStop->setEnabled(false);
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

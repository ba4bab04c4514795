// The progress window's bar: a framed box filled from the left.
#include "progressbox.h"

#include <QPainter>

ProgressBox::ProgressBox(QWidget *parent)
    : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

void ProgressBox::setBarWidth(int width)
{
    if (width == m_barWidth)
        return;
    m_barWidth = width;
    update();
}

void ProgressBox::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    if (m_barWidth <= 0)
        return;
    QPainter painter(this);
    const QRect inside = contentsRect();
    painter.setClipRect(inside);
    painter.fillRect(QRect(inside.topLeft(), QSize(m_barWidth, height())), barColor());
}

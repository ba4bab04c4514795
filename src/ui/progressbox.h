// The progress window's bar: a framed box filled from the left.
#pragma once

#include <QColor>
#include <QFrame>

class ProgressBox : public QFrame
{
    Q_OBJECT

public:
    explicit ProgressBox(QWidget *parent = nullptr);

    // Clears the box and fills it from its inner left edge to width pixels
    // in the bar colour, clipped at the frame; redrawn with the next paint.
    void setBarWidth(int width);
    int barWidth() const { return m_barWidth; }

    static QColor barColor() { return QColor(221, 255, 255); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_barWidth = 0;
};

// What the extraction run needs of the window that shows it.
#pragma once

#include <QString>

class QWidget;

// The progress window as the run sees it. The run decides what is shown and
// when; the window only shows it.
class ProgressView
{
public:
    virtual ~ProgressView() = default;

    // Replaces the status text and shows it at once, even when a blocking
    // library call follows.
    virtual void setMessage(const QString &text) = 0;
    // The progress box's outer width in the window's pixels.
    virtual int progressBoxWidth() const = 0;
    // Clears the progress box and fills it from its left edge to width
    // pixels (clipped at the box's edge), shown at once.
    virtual void drawProgressBar(int width) = 0;
    // Repaints the whole window now.
    virtual void repaintWindow() = 0;
    // Stops the timer that drives the run; no further tick arrives.
    virtual void stopTimer() = 0;
    // Lets the user close the window.
    virtual void enableClose() = 0;
    // Closes the window as its close button does.
    virtual void closeWindow() = 0;
    // The window that owns the run's message and input boxes.
    virtual QWidget *dialogOwner() = 0;
};

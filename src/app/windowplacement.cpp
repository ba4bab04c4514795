// The main window's placement in the settings file.
#include "windowplacement.h"

#include "clsinictrl.h"
#include "globals.h"

#include <QEvent>
#include <QGuiApplication>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QScreen>
#include <QWidget>

#include <optional>

namespace {

const QString sectionName = QStringLiteral("Tenvo");

std::optional<int> storedNumber(const QString &key)
{
    const QString text = gIniCtrl->getString(sectionName, key).trimmed();
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

QRect primaryArea()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

// The free area of the screen that holds the largest part of outer; an
// empty rectangle when no screen holds any of it.
QRect areaHoldingMostOf(const QRect &outer)
{
    QRect best;
    qint64 bestShare = 0;
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (const QScreen *screen : screens) {
        const QRect shared = screen->geometry().intersected(outer);
        const qint64 share = qint64(shared.width()) * shared.height();
        if (!shared.isEmpty() && share > bestShare) {
            bestShare = share;
            best = screen->availableGeometry();
        }
    }
    return best;
}

// outer moved (and, only when larger than area, shrunk) to lie wholly on area.
QRect whollyOn(const QRect &area, QRect outer)
{
    outer.setSize(outer.size().boundedTo(area.size()));
    outer.moveLeft(qBound(area.left(), outer.left(), area.right() - outer.width() + 1));
    outer.moveTop(qBound(area.top(), outer.top(), area.bottom() - outer.height() + 1));
    return outer;
}

QRect centredOn(const QRect &area, QSize size)
{
    if (area.isEmpty())
        return QRect(QPoint(0, 0), size);
    size = size.boundedTo(area.size());
    QRect rect(QPoint(0, 0), size);
    rect.moveCenter(area.center());
    return rect;
}

// The frame's extra width and height; unknown (0) until the window system has
// framed the window.
QSize frameExtra(const QWidget *window)
{
    return window->frameGeometry().size() - window->size();
}

// A window placed before it is shown has no frame yet: its inner size was
// taken equal to the stored outer size, and a centred window was centred
// without its frame. Once the frame is known (by the first paint at the
// latest) both are put right, so that a placement survives any number of
// starts without growing by the frame each time.
class FrameCorrection : public QObject
{
public:
    FrameCorrection(QWidget *window, std::optional<QSize> outer, bool centred)
        : QObject(window), m_window(window), m_outer(outer), m_centred(centred)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_window || m_done)
            return false;
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowActivate:
        case QEvent::Paint:
            break;
        default:
            return false;
        }
        const QSize extra = frameExtra(m_window);
        if (!extra.isNull()) {
            m_done = true;
            if (m_outer)
                m_window->resize(*m_outer - extra);
            if (m_centred)
                m_window->move(centredOn(primaryArea(), m_window->size() + extra).topLeft());
        } else if (event->type() == QEvent::Paint || event->type() == QEvent::WindowActivate) {
            // Painted or active without a frame: there is none to account for.
            m_done = true;
        }
        if (m_done) {
            m_window->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

private:
    QPointer<QWidget> m_window;
    std::optional<QSize> m_outer;
    bool m_centred;
    bool m_done = false;
};

} // namespace

void loadWindowPosition(QWidget *window)
{
    if (!gIniCtrl || !window)
        return;
    const std::optional<int> top = storedNumber(QStringLiteral("Top"));
    const std::optional<int> left = storedNumber(QStringLiteral("Left"));
    const std::optional<int> width = storedNumber(QStringLiteral("Width"));
    const std::optional<int> height = storedNumber(QStringLiteral("Height"));

    const QSize extra = frameExtra(window);
    const bool sizeStored = width && height && *width > 0 && *height > 0;
    const QSize outer = sizeStored ? QSize(*width, *height) : window->size() + extra;

    bool centred = !sizeStored || !top || !left;
    QRect placement = centred ? centredOn(primaryArea(), outer) : QRect(QPoint(*left, *top), outer);
    if (!centred) {
        // A place written at another scale, or on a screen since removed,
        // may hang over the edge: the window is moved wholly onto the screen
        // that holds most of it.
        const QRect area = areaHoldingMostOf(placement);
        if (area.isEmpty()) {
            centred = true;
            placement = centredOn(primaryArea(), outer);
        } else {
            placement = whollyOn(area, placement);
        }
    }

    window->resize(placement.size() - extra);
    window->move(placement.topLeft());
    if (!window->isVisible() && extra.isNull()) {
        new FrameCorrection(window, sizeStored ? std::optional<QSize>(placement.size()) : std::nullopt,
                            centred);
    }
}

void saveWindowPosition(QWidget *window)
{
    if (!gIniCtrl || !window)
        return;
    const QRect outer = window->frameGeometry();
    gIniCtrl->setLong(sectionName, QStringLiteral("Top"), outer.top());
    gIniCtrl->setLong(sectionName, QStringLiteral("Left"), outer.left());
    gIniCtrl->setLong(sectionName, QStringLiteral("Width"), outer.width());
    gIniCtrl->setLong(sectionName, QStringLiteral("Height"), outer.height());
}

// Placing the program's fixed-size dialogs.
#include "windowcentre.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

void centreOnScreen(QWidget *window)
{
    QScreen *screen = window->parentWidget() ? window->parentWidget()->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    window->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window->size(),
                                            screen->availableGeometry()));
}

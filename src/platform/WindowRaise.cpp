#include "WindowRaise.h"

#include <QWidget>

void BringWindowForward(QWidget* window)
{
    if (!window)
        return;
    if (window->isMinimized())
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    if (!window->isVisible())
        window->show();
    window->raise();
    window->activateWindow();
}

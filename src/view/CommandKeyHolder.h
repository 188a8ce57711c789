#pragma once

#include <QObject>

class QAction;
class QShortcut;
class QWidget;

// Keeps a command's keys with the window while the command cannot run. A disabled
// action lets its key through to the focused control, where the same key means
// something else: at the slowest speed "遅く"'s Ctrl+Shift+Down would extend the list's
// selection (and empty the control panel), stopped "停止"'s F4 would open a list box.
// While the command is disabled its keys are taken here and answered with a beep, as a
// menu answers a greyed entry; controls that take typing keep their keys as before,
// since the holder is a shortcut of the same context as the action's own.
class CommandKeyHolder : public QObject
{
    Q_OBJECT

public:
    CommandKeyHolder(QAction* action, QWidget* window);

private:
    void follow();

    QAction* m_action;
    QShortcut* m_shortcut;
};

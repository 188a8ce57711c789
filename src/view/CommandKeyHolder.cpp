#include "CommandKeyHolder.h"

#include <QAction>
#include <QApplication>
#include <QShortcut>
#include <QWidget>

CommandKeyHolder::CommandKeyHolder(QAction* action, QWidget* window)
    : QObject(window), m_action(action), m_shortcut(new QShortcut(window))
{
    connect(m_shortcut, &QShortcut::activated, this, [] { QApplication::beep(); });
    connect(m_shortcut, &QShortcut::activatedAmbiguously, this, [] { QApplication::beep(); });
    // Keys, context and enabled state all change through QAction::changed.
    connect(action, &QAction::changed, this, &CommandKeyHolder::follow);
    follow();
}

void CommandKeyHolder::follow()
{
    const QList<QKeySequence> keys = m_action->shortcuts();
    // Only ever one of the two is live, so that a key never matches twice.
    const bool hold = !m_action->isEnabled() && !keys.isEmpty();
    if (!hold)
        m_shortcut->setEnabled(false);
    if (m_shortcut->keys() != keys)
        m_shortcut->setKeys(keys);
    m_shortcut->setContext(m_action->shortcutContext());
    m_shortcut->setEnabled(hold);
}

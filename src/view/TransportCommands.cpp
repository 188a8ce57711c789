#include "TransportCommands.h"

#include "CommandKeyHolder.h"
#include "CommandSet.h"
#include "player/RecordingPanel.h"
#include "platform/MessageBoxes.h"
#include "transport/PedalInput.h"
#include "transport/TransportSettingsDlg.h"
#include "transport/TransportTarget.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>

TransportCommands::TransportCommands(CommandSet& commands, QWidget* window)
    : QObject(window), m_commands(commands), m_window(window),
      m_settings(TransportSettings::Load()), m_pedals(new PedalInput(this))
{
    for (int i = 0; i < kKeyedActionCount; ++i) {
        const auto action = TransportAction(i);
        QAction* command = commands.action(TransportCommand(action));
        // The keys work wherever the focus is in the window, except where typing takes them.
        command->setShortcutContext(Qt::WindowShortcut);
        window->addAction(command);
        // Where the command cannot run now, its key still does not reach the focused control.
        new CommandKeyHolder(command, window);
        commands.setHandler(TransportCommand(action), [this, action] {
            if (m_target)
                m_target->runTransport(action);
        });
    }
    // The silence boundaries' fixed keys are playback keys as well (a recorder's list,
    // where nothing plays, would take Ctrl+Shift+Right as extending its selection).
    for (const Command fixed : {Command::NextSilenceBoundary, Command::PreviousSilenceBoundary})
        new CommandKeyHolder(commands.action(fixed), window);
    commands.setHandler(Command::TransportSettings, [this] { OnTransportSettings(); });
    commands.setTransportKeys(m_settings);
    m_pedals->apply(m_settings);
    qApp->installEventFilter(this);
}

bool TransportCommands::eventFilter(QObject* watched, QEvent* event)
{
    // A focused button or list box keeps its own Space (click, open), as the keyboard
    // user expects; text fields keep their typing by themselves.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier && widget &&
            (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QComboBox*>(widget)) &&
            m_window->isAncestorOf(widget)) {
            event->accept();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TransportCommands::follow(RecordingPanel* panel)
{
    for (const QMetaObject::Connection& connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    m_target = panel ? panel->transport() : nullptr;
    m_pedals->setTarget(m_target);
    if (m_target) {
        m_target->applyTransportSettings(m_settings);
        TransportNotifier* notifier = &m_target->transportNotifier();
        for (auto signal : {&TransportNotifier::stateChanged, &TransportNotifier::recordingChanged,
                            &TransportNotifier::rateChanged})
            m_connections.append(connect(notifier, signal, this, &TransportCommands::stateChanged));
    }
    Q_EMIT targetChanged(m_target);
}

uint32_t TransportCommands::allowedActions() const
{
    uint32_t allowed = 0;
    for (int i = 0; m_target && i < kKeyedActionCount; ++i) {
        if (m_target->canRunTransport(TransportAction(i)))
            allowed |= 1u << i;
    }
    return allowed;
}

void TransportCommands::playRow()
{
    if (m_target)
        m_target->transportPlay();
}

bool TransportCommands::applySettings(const TransportSettings& settings)
{
    m_settings = settings;
    m_commands.setTransportKeys(settings);
    if (m_target)
        m_target->applyTransportSettings(settings);
    m_pedals->apply(settings);
    Q_EMIT settingsChanged(settings);
    if (!settings.Save()) {
        ShowMessage(QStringLiteral("再生の設定を保存できませんでした。"), MessageIcon::Error);
        return false;
    }
    return true;
}

void TransportCommands::OnTransportSettings()
{
    TransportSettingsDlg dialog(m_settings, m_commands.reservedKeys(), m_window);
    if (dialog.exec() == QDialog::Accepted)
        applySettings(dialog.settings());
}

#pragma once

#include "CommandRules.h"
#include "transport/TransportSettings.h"

#include <QObject>
#include <array>
#include <functional>
#include <map>

class QAction;

// The commands of the main window as actions with their menu text, keys,
// status-bar prompt and tooltip, shared by the menu bar, the toolbar and the
// context menus. A command is enabled when something handles it and its rule
// allows it; Update applies the rules to every command at once.
class CommandSet : public QObject
{
    Q_OBJECT

public:
    explicit CommandSet(QObject* parent = nullptr);

    QAction* action(Command command) const { return m_actions[size_t(command)]; }
    // The same command under another text, for a context menu: it triggers the
    // command and follows its enabled state. Made once per command and text.
    QAction* menuEntry(Command command, const QString& text);

    // Connects the command to what carries it out; until then it stays disabled.
    void setHandler(Command command, std::function<void()> handler);
    bool hasHandler(Command command) const { return m_handled[size_t(command)]; }

    // The playback commands take the keys the user bound to them.
    void setTransportKeys(const TransportSettings& settings);
    // Every command's text and keys other than the playback commands', for refusing a
    // key that is taken.
    QList<std::pair<QString, QString>> reservedKeys() const;

    // Applies the enable rules; checks the sort key and direction in use.
    void Update(const CommandContext& context, int sortKey, bool descending);

private:
    std::array<QAction*, kCommandCount> m_actions{};
    std::array<bool, kCommandCount> m_handled{};
    std::map<std::pair<int, QString>, QAction*> m_entries;
};

#pragma once

#include "platform/MessageBoxes.h"

#include <QList>
#include <QString>
#include <functional>

// Installed in place of real message boxes for the length of its life: keeps
// every message and answers questions (Yes/No, OK/Cancel) from a script: No, or
// Cancel, once the script runs out. Messages with only an OK button take no answer.
class MessageRecorder final : public StackedMessagePresenter
{
public:
    struct Entry
    {
        QString text;
        MessageIcon icon;
        MessageButtons buttons;
    };

    void scriptAnswers(const QList<MessageAnswer>& answers) { m_answers += answers; }
    // Runs while each message is up: what a real box's event loop would deliver meanwhile
    // (a timer, a folder watcher's news).
    std::function<void()> whileShown;
    const QList<Entry>& entries() const { return m_entries; }
    void clear() { m_entries.clear(); }

    MessageAnswer present(const QString& text, MessageIcon icon, MessageButtons buttons) override
    {
        m_entries.append({text, icon, buttons});
        if (whileShown)
            whileShown();
        if (buttons != MessageButtons::Ok && !m_answers.isEmpty())
            return m_answers.takeFirst();
        return buttons == MessageButtons::Ok       ? MessageAnswer::Ok
               : buttons == MessageButtons::YesNo ? MessageAnswer::No
                                                   : MessageAnswer::Cancel;
    }

private:
    QList<Entry> m_entries;
    QList<MessageAnswer> m_answers;
};

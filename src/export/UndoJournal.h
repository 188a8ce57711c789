#pragma once

#include "platform/DesktopTrash.h"

#include <QList>
#include <QString>
#include <cstdint>

// Whether the delete commands move recordings and folders of the save folder and the
// registered folders to the desktop's trash (on unless the user turned it off); the
// recorder and its card are always deleted for good. Kept in the settings file's
// section "Trash", value "MoveToTrash" (1 or 0).
bool MoveToTrashEnabled();
void SetMoveToTrashEnabled(bool enabled);

// The file commands' changes that can be taken back, newest last: a delete into the
// trash, a move, a rename of a file or folder, a folder created. Each records which
// entry (device and inode) it left where, so that an undo that would act on another
// entry, or put one where something is now, is refused.
class UndoJournal
{
public:
    enum class Kind { Trash, Move, Rename, CreateFolder };
    static constexpr int kDepth = 10;

    // The program's one journal.
    static UndoJournal& instance();

    // Starts a step; entries then go into it. A step with no entries is dropped.
    void begin(Kind kind);
    // from: where the entry was; to: where it is now (the trash path for Trash; empty
    // for CreateFolder, where from is the new folder).
    void add(const QString& from, const QString& to);
    void end();

    bool canUndo() const;
    // The newest step's kind (canUndo must be true).
    Kind lastKind() const { return m_steps.last().kind; }
    // Takes back the newest step. Empty on success; else the message for the user and
    // nothing changed (the step is dropped when the world changed since, since it
    // can never be taken back then).
    QString undo();
    void clear() { m_steps.clear(); }

    // The message of an undo refused because files or folders changed since.
    static QString ChangedSinceMessage();

private:
    struct Entry
    {
        QString from;
        QString to;
        uint64_t device = 0;
        uint64_t inode = 0;
    };
    struct Step
    {
        Kind kind = Kind::Move;
        QList<Entry> entries;
    };
    QList<Step> m_steps;
    bool m_open = false;
};

// Records one step for the length of a scope: begin at construction, end when it goes.
class UndoStepScope
{
public:
    explicit UndoStepScope(UndoJournal::Kind kind) { UndoJournal::instance().begin(kind); }
    ~UndoStepScope() { UndoJournal::instance().end(); }
    UndoStepScope(const UndoStepScope&) = delete;
    UndoStepScope& operator=(const UndoStepScope&) = delete;
};

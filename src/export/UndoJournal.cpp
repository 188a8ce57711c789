#include "UndoJournal.h"

#include "platform/DurableCopy.h"
#include "platform/NumberedNames.h"
#include "platform/ProgramIdentity.h"
#include "platform/SettingsNumber.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kSection = QStringLiteral("Trash");
const QString kValue = QStringLiteral("MoveToTrash");

bool entryAt(const QString& path, struct stat& st)
{
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

bool nameFree(const QString& path)
{
    struct stat st {};
    return !entryAt(path, st) && errno == ENOENT;
}

} // namespace

bool MoveToTrashEnabled()
{
    return SettingsInt(*OpenProgramSettings(), kSection + u'/' + kValue, 1) != 0;
}

void SetMoveToTrashEnabled(bool enabled)
{
    OpenProgramSettings()->setValue(kSection + u'/' + kValue, enabled ? 1 : 0);
}

UndoJournal& UndoJournal::instance()
{
    static UndoJournal journal;
    return journal;
}

void UndoJournal::begin(Kind kind)
{
    m_steps.append(Step{kind, {}});
    m_open = true;
}

void UndoJournal::add(const QString& from, const QString& to)
{
    if (!m_open)
        return;
    Entry entry{from, to, 0, 0};
    struct stat st {};
    if (entryAt(to.isEmpty() ? from : to, st)) {
        entry.device = st.st_dev;
        entry.inode = st.st_ino;
    }
    m_steps.last().entries.append(entry);
}

void UndoJournal::end()
{
    if (!m_open)
        return;
    m_open = false;
    if (m_steps.last().entries.isEmpty())
        m_steps.removeLast();
    while (m_steps.size() > kDepth)
        m_steps.removeFirst();
}

bool UndoJournal::canUndo() const
{
    return !m_steps.isEmpty() && !m_open;
}

QString UndoJournal::ChangedSinceMessage()
{
    return QStringLiteral("ファイルまたはフォルダがその後に変更されたため、元に戻せません。");
}

QString UndoJournal::undo()
{
    if (!canUndo())
        return {};
    const Step step = m_steps.last();
    // Every entry is checked before any is touched: the undo is all or nothing as far
    // as the world allows.
    for (const Entry& entry : step.entries) {
        struct stat st {};
        const QString& now = step.kind == Kind::CreateFolder ? entry.from : entry.to;
        const bool same = entryAt(now, st) && uint64_t(st.st_dev) == entry.device && uint64_t(st.st_ino) == entry.inode;
        const bool placeFree = step.kind == Kind::CreateFolder || nameFree(entry.from);
        const bool emptyFolder = step.kind != Kind::CreateFolder
                                 || QDir(entry.from).isEmpty(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
        if (!same || !placeFree || !emptyFolder) {
            m_steps.removeLast();
            return ChangedSinceMessage();
        }
    }
    for (qsizetype i = step.entries.size() - 1; i >= 0; --i) {
        const Entry& entry = step.entries[i];
        FileResult done;
        switch (step.kind) {
        case Kind::Trash:
            done = RenameNoReplace(entry.to, entry.from);
            if (done.ok())
                QFile::remove(TrashInfoPath(entry.to));
            break;
        case Kind::Move:
            done = RenameNoReplace(entry.to, entry.from);
            if (done.error == EXDEV)
                done = MoveFile(entry.to, entry.from);
            break;
        case Kind::Rename:
            done = RenameNoReplace(entry.to, entry.from);
            break;
        case Kind::CreateFolder:
            done = ::rmdir(QFile::encodeName(entry.from).constData()) == 0 ? FileResult{} : FileResult{errno};
            break;
        }
        if (!done.ok()) {
            // What was taken back so far stays taken back; the rest stays in the step.
            m_steps.last().entries = step.entries.mid(0, i + 1);
            return done.message();
        }
    }
    m_steps.removeLast();
    return {};
}

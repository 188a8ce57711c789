#include "FolderWatcher.h"

#include "platform/Paths.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <QTimer>

namespace {

// A copy of many recordings changes a folder many times; one report follows the burst.
constexpr int kSettleMs = 300;
// Below a device's root: the recorder's tree is a few levels of dated folders.
constexpr int kMaxDepth = 8;
constexpr qsizetype kMaxSubfolders = 1000;

// The folders below folder, links not followed, as a recursive scan enters them.
void addSubfolders(const QString& folder, int depth, QSet<QString>& found)
{
    if (depth > kMaxDepth)
        return;
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks)) {
        if (found.size() >= kMaxSubfolders)
            return;
        const QString path = dir.filePath(name);
        found.insert(path);
        addSubfolders(path, depth + 1, found);
    }
}

} // namespace

FolderWatcher::FolderWatcher(QObject* parent)
    : QObject(parent), m_watcher(new QFileSystemWatcher(this)), m_settle(new QTimer(this))
{
    m_settle->setSingleShot(true);
    m_settle->setInterval(kSettleMs);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this](const QString& folder) {
        m_changed.insert(AddTrailingSeparator(folder));
        m_settle->start();
    });
    connect(m_settle, &QTimer::timeout, this, [this] {
        QStringList changed(m_changed.cbegin(), m_changed.cend());
        m_changed.clear();
        changed.sort();
        Q_EMIT foldersChanged(changed);
    });
}

void FolderWatcher::setFolders(const QStringList& folders, const QStringList& withSubfolders)
{
    QSet<QString> wanted;
    for (const QString& folder : folders) {
        if (!folder.isEmpty())
            wanted.insert(RemoveTrailingSeparator(folder));
    }
    for (const QString& folder : withSubfolders) {
        if (folder.isEmpty())
            continue;
        wanted.insert(RemoveTrailingSeparator(folder));
        addSubfolders(RemoveTrailingSeparator(folder), 1, wanted);
    }
    const QStringList watched = m_watcher->directories();
    QStringList gone;
    for (const QString& folder : watched) {
        if (!wanted.remove(folder))
            gone.append(folder);
    }
    if (!gone.isEmpty())
        m_watcher->removePaths(gone);
    if (!wanted.isEmpty())
        m_watcher->addPaths(QStringList(wanted.cbegin(), wanted.cend()));
}

QStringList FolderWatcher::folders() const
{
    return m_watcher->directories();
}

#pragma once

#include <QObject>
#include <QSet>
#include <QStringList>

class QFileSystemWatcher;
class QTimer;

// Watches the folders the window shows (inotify underneath) and reports, once
// a burst of changes has settled, which of them another program changed: a
// recording added, removed or renamed there. Folders that cannot be watched
// (gone, too many watches) are simply not reported; F5 still finds them.
class FolderWatcher : public QObject
{
    Q_OBJECT

public:
    explicit FolderWatcher(QObject* parent = nullptr);

    // The folders to watch from now on, with or without trailing separators;
    // of those in withSubfolders, every folder below them too.
    void setFolders(const QStringList& folders, const QStringList& withSubfolders = {});
    QStringList folders() const;

Q_SIGNALS:
    // The folders changed since the last report, each with its trailing separator.
    void foldersChanged(const QStringList& folders);

private:
    QFileSystemWatcher* m_watcher;
    QTimer* m_settle;
    QSet<QString> m_changed;
};

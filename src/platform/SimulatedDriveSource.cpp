#include "SimulatedDriveSource.h"

#include "Paths.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSaveFile>

namespace {

struct Line
{
    QString kind;
    QString folder;
};

std::optional<Line> parseLine(const QString& text)
{
    const QString line = text.trimmed();
    const qsizetype space = line.indexOf(u' ');
    if (space < 0)
        return std::nullopt;
    const QString kind = line.left(space);
    const QString folder = line.mid(space + 1).trimmed();
    if ((kind != QStringLiteral("usb") && kind != QStringLiteral("card")) || !folder.startsWith(u'/'))
        return std::nullopt;
    return Line{kind, folder.size() > 1 ? RemoveTrailingSeparator(folder) : folder};
}

QStringList readLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n');
}

} // namespace

SimulatedDriveSource::SimulatedDriveSource(const QString& listFile, QObject* parent)
    : DriveSource(parent), m_listFile(QFileInfo(listFile).absoluteFilePath())
{
}

QList<DriveInfo> SimulatedDriveSource::drives()
{
    QList<DriveInfo> result;
    for (const QString& text : readLines(m_listFile)) {
        const auto line = parseLine(text);
        if (!line || !QFileInfo(line->folder).isDir())
            continue;
        DriveInfo drive;
        drive.root = line->folder;
        drive.recorder = line->kind == QStringLiteral("usb");
        drive.removable = true;
        result.append(drive);
    }
    return result;
}

void SimulatedDriveSource::startWatching()
{
    if (m_watcher)
        return;
    m_watcher = new QFileSystemWatcher(this);
    // The folder is watched too: editors and scripts often replace the file
    // rather than write into it, and the file may not exist yet.
    const auto onChange = [this] {
        rewatch();
        Q_EMIT changed();
    };
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, onChange);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, onChange);
    rewatch();
}

void SimulatedDriveSource::rewatch()
{
    if (!m_watcher)
        return;
    const QString folder = QFileInfo(m_listFile).absolutePath();
    if (!m_watcher->directories().contains(folder))
        m_watcher->addPath(folder);
    if (QFile::exists(m_listFile) && !m_watcher->files().contains(m_listFile))
        m_watcher->addPath(m_listFile);
}

bool SimulatedDriveSource::removeDrive(const QString& root)
{
    const QStringList lines = readLines(m_listFile);
    QStringList kept;
    bool removed = false;
    for (const QString& text : lines) {
        const auto line = parseLine(text);
        if (!removed && line && line->folder == root) {
            removed = true;
            continue;
        }
        kept.append(text);
    }
    if (!removed)
        return false;
    QSaveFile file(m_listFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    file.write(kept.join(u'\n').toUtf8());
    return file.commit();
}

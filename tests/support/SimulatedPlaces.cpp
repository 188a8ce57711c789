#include "SimulatedPlaces.h"

#include "RecordingBuilder.h"
#include "platform/SimulatedDriveSource.h"

#include <QDir>

SimulatedPlaces::SimulatedPlaces()
    : m_driveList(m_dir.filePath(QStringLiteral("drives.txt"))),
      m_source(std::make_unique<SimulatedDriveSource>(m_driveList))
{
    setDrives({});
    SetDriveSource(m_source.get());
}

SimulatedPlaces::~SimulatedPlaces()
{
    SetDriveSource(nullptr);
}

QString SimulatedPlaces::newFolder(const QString& name)
{
    const QString path = m_dir.filePath(QStringLiteral("%1-%2").arg(++m_count).arg(name));
    QDir().mkpath(path);
    return path;
}

bool SimulatedPlaces::setDrives(const QStringList& lines)
{
    return WriteFileBytes(m_driveList, lines.join(u'\n').toUtf8());
}

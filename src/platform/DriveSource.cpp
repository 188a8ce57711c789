#include "DriveSource.h"

#include "LinuxDriveSource.h"
#include "SimulatedDriveSource.h"

#include <memory>

namespace {

DriveSource* g_installed = nullptr;

DriveSource& environmentSource()
{
    static const std::unique_ptr<DriveSource> source = []() -> std::unique_ptr<DriveSource> {
        const QString simulation = qEnvironmentVariable("TALVEN77_DRIVES");
        if (!simulation.isEmpty())
            return std::make_unique<SimulatedDriveSource>(simulation);
        return std::make_unique<LinuxDriveSource>();
    }();
    return *source;
}

} // namespace

std::optional<DriveInfo> DriveSource::find(const QString& root)
{
    for (const DriveInfo& drive : drives()) {
        if (drive.root == root)
            return drive;
    }
    return std::nullopt;
}

DriveSource& CurrentDriveSource()
{
    return g_installed ? *g_installed : environmentSource();
}

void SetDriveSource(DriveSource* source)
{
    g_installed = source;
}

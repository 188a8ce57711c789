#include "Commands.h"
#include "JsonLines.h"
#include "recording/FileList.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace {

bool isReadableFolder(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() && info.isReadable() && info.isExecutable();
}

} // namespace

int RunScan(const QStringList& arguments)
{
    const bool device = arguments.contains(QStringLiteral("--device"));
    const bool recursive = arguments.contains(QStringLiteral("--recursive"));
    QStringList paths = arguments;
    paths.removeAll(QStringLiteral("--device"));
    paths.removeAll(QStringLiteral("--recursive"));
    if (paths.size() != 1 || (device && recursive)) {
        PrintError(QStringLiteral("usage: scan FOLDER [--recursive] | scan --device ROOT"));
        return 2;
    }
    const QString path = QDir(paths.first()).absolutePath();
    if (!isReadableFolder(path)) {
        PrintError(QStringLiteral("%1: not a readable folder").arg(path));
        return 1;
    }

    CFileList list(device ? kListCard : recursive ? kListTemporaryTree : kListRegistered,
                   device || recursive);
    if (device) {
        if (!list.InitDevice(path)) {
            PrintError(QStringLiteral("%1: no valid Device.Dat on this root").arg(path));
            return 1;
        }
    } else {
        list.SetFolder(path);
        list.EnsureScanned();
    }
    const QList<tagFileList>& records = list.records();
    for (const tagFileList& record : records)
        PrintJsonLine(RecordJsonLine(record));
    QJsonValue earliest, latest; // null for no recording
    if (!records.isEmpty()) {
        const auto [first, last] = std::minmax_element(
            records.begin(), records.end(),
            [](const tagFileList& a, const tagFileList& b) { return a.tmCreate < b.tmCreate; });
        earliest = IsoLocalDate(first->tmCreate);
        latest = IsoLocalDate(last->tmCreate);
    }
    // The last line, told apart from the recordings by "summary".
    QJsonObject summary{{QStringLiteral("summary"), true},
                        {QStringLiteral("count"), list.GetRecordCount()},
                        {QStringLiteral("earliest"), earliest},
                        {QStringLiteral("latest"), latest},
                        {QStringLiteral("label"), list.strLabel()}};
    if (device)
        summary.insert(QStringLiteral("number"), list.nDeviceNo());
    PrintJsonLine(summary);
    for (const QString& file : list.unreadFiles())
        PrintError(QStringLiteral("%1: held by another program or changing while read; not listed").arg(file));
    const bool undecodableReported = !ReportUndecodableNames(list.UndecodableNames());
    return list.unreadFiles().isEmpty() && !undecodableReported ? 0 : 1;
}

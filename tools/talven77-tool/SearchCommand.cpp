#include "Commands.h"
#include "JsonLines.h"
#include "library/FreshSearch.h"
#include "platform/FolderWalk.h"
#include "platform/Paths.h"
#include "recording/FileList.h"
#include "settings/Setting.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kUsage = QStringLiteral(
    "usage: search [TEXT] [--name TEXT] [--from DATE] [--to DATE] [--protected] [--unplayed] "
    "[--untransferred] [FOLDER...]");

// The tool waits longer than the window for a program that is writing the index.
constexpr int kBusyTimeoutMs = 2000;

bool parseDate(const QString& text, QDate& date)
{
    date = QDate::fromString(text, Qt::ISODate);
    return date.isValid();
}

// Brings the index in step with the folder (a native path with its trailing separator)
// and its subfolders; links to folders are not followed below the top. A folder that
// is as the index last read it whole is only looked at (one stat of each file); any
// other is scanned, which reads the files whose entries no longer hold. Subfolders and
// files whose names do not decode go into undecodable.
void refreshTree(RecordingIndex& index, const QByteArray& folder, bool top, QStringList& unread,
                 QList<QByteArray>& undecodable)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (top ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return;
    const QString text = QFile::decodeName(folder);
    FolderStamp stamp;
    FolderListing listing;
    if (FolderStamp::Of(fd, stamp) && index.folderUnchanged(text, fd, stamp, listing)) {
        for (const QByteArray& name : std::as_const(listing.undecodableFiles))
            undecodable.append(folder + name);
    } else {
        CFileList list(kListRegistered, false);
        list.SetFolder(text);
        list.EnsureScanned();
        unread += list.unreadFiles();
        undecodable += list.UndecodableNames();
        listing.subfolders = SubfolderNames(fd, FolderMemoKey(folder));
    }
    ::close(fd);
    for (const QByteArray& name : std::as_const(listing.subfolders)) {
        if (DecodedEntryName(name.constData()).isNull())
            undecodable.append(folder + name);
        else
            refreshTree(index, folder + name + '/', false, unread, undecodable);
    }
}

} // namespace

int RunSearch(const QStringList& arguments)
{
    SearchQuery query;
    QStringList folders;
    bool haveText = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool takesValue = argument == QStringLiteral("--name") || argument == QStringLiteral("--from")
            || argument == QStringLiteral("--to");
        if (takesValue && i + 1 >= arguments.size()) {
            PrintError(QStringLiteral("%1 needs a value\n%2").arg(argument, kUsage));
            return 2;
        }
        QDate date;
        if (argument == QStringLiteral("--name")) {
            query.name = arguments[++i];
        } else if (argument == QStringLiteral("--from") || argument == QStringLiteral("--to")) {
            if (!parseDate(arguments[++i], date)) {
                PrintError(QStringLiteral("%1: not a date (YYYY-MM-DD)").arg(arguments[i]));
                return 2;
            }
            if (argument == QStringLiteral("--from"))
                query.from = date.startOfDay().toSecsSinceEpoch();
            else
                query.to = date.endOfDay().toSecsSinceEpoch();
        } else if (argument == QStringLiteral("--protected")) {
            query.protectedOnly = true;
        } else if (argument == QStringLiteral("--unplayed")) {
            query.unplayedOnly = true;
        } else if (argument == QStringLiteral("--untransferred")) {
            query.untransferredOnly = true;
        } else if (argument.startsWith(QStringLiteral("--"))) {
            PrintError(QStringLiteral("unknown option: %1\n%2").arg(argument, kUsage));
            return 2;
        } else if (!haveText) {
            query.memo = argument;
            haveText = true;
        } else {
            folders.append(argument);
        }
    }
    if (folders.isEmpty()) {
        CSetting setting;
        setting.Load();
        folders.append(setting.m_strSavePath);
    }

    RecordingIndex index(RecordingIndex::DefaultLocation(), kBusyTimeoutMs);
    QList<SearchPlace> places;
    QList<QByteArray> undecodable;
    for (const QString& folder : std::as_const(folders)) {
        const QFileInfo info(folder);
        if (!info.isDir()) {
            PrintError(QStringLiteral("%1: not a readable folder").arg(folder));
            return 1;
        }
        const QString path = info.absoluteFilePath();
        places.append({path.endsWith(u'/') ? path : path + u'/', true});
    }
    // Each folder is refreshed as the window lists it, one folder at a time (a list
    // holds at most 9999), through the index: unchanged files are not read, and
    // unchanged folders not even listed. Names that do not decode are gathered once,
    // by the first walk of every place; later rounds read again the folders named.
    bool walked = false;
    const auto refresh = [&places, &index, &undecodable, &walked](const QStringList& again) {
        QStringList unread;
        SetScanCache(&index);
        if (again.isEmpty()) {
            QList<QByteArray> ignored;
            for (const SearchPlace& place : std::as_const(places))
                refreshTree(index, QFile::encodeName(place.folder), true, unread, walked ? ignored : undecodable);
        }
        for (const QString& each : again) {
            CFileList list(kListRegistered, false);
            list.SetFolder(each);
            list.EnsureScanned();
            unread += list.unreadFiles();
        }
        SetScanCache(nullptr);
        walked = true;
        return unread;
    };
    const FreshSearchResult found = SearchFreshly(index, query, places, refresh);
    for (const SearchHit& hit : found.hits)
        PrintJsonLine(RecordJsonLine(hit.record));
    for (const QString& path : found.unread)
        PrintError(QStringLiteral("%1: held by another program or changing while read; not searched").arg(path));
    if (found.failed)
        PrintError(QStringLiteral("the index could not be searched"));
    const bool allNamesDecoded = ReportUndecodableNames(undecodable);
    return found.complete() && allNamesDecoded ? 0 : 1;
}

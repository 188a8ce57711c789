#include "Commands.h"
#include "JsonLines.h"
#include "library/FreshSearch.h"
#include "platform/Paths.h"
#include "recording/FileList.h"
#include "settings/Setting.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

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

// The folder (a native path) and its subfolders, each before its own; links to folders
// are not followed. Subfolders whose names do not decode go into undecodable.
void collectTree(const QByteArray& folder, QStringList& tree, QList<QByteArray>& undecodable)
{
    tree.append(QFile::decodeName(folder));
    DIR* dir = opendir(folder.constData());
    if (!dir)
        return;
    const QByteArray prefix = folder.endsWith('/') ? folder : folder + '/';
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        const QByteArray path = prefix + entry->d_name;
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        if (DecodedEntryName(entry->d_name).isNull())
            undecodable.append(path);
        else
            collectTree(path, tree, undecodable);
    }
    closedir(dir);
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
    // Each folder is refreshed as the window lists it, one folder at a time
    // (a list holds at most 9999), by a scan through the index that leaves
    // unchanged files unread. Links to folders are not followed. Names that do
    // not decode are gathered once, by the first walk of every place.
    bool walked = false;
    const auto refresh = [&places, &index, &undecodable, &walked](const QStringList& again) {
        const bool firstRound = !walked && again.isEmpty();
        QList<QByteArray> ignored;
        QStringList tree = again;
        if (again.isEmpty()) {
            for (const SearchPlace& place : std::as_const(places))
                collectTree(QFile::encodeName(place.folder), tree, firstRound ? undecodable : ignored);
        }
        QStringList unread;
        SetScanCache(&index);
        for (const QString& each : std::as_const(tree)) {
            CFileList list(kListRegistered, false);
            list.SetFolder(each);
            list.EnsureScanned();
            unread += list.unreadFiles();
            if (firstRound)
                undecodable += list.UndecodableNames();
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

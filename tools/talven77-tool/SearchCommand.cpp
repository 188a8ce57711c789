#include "Commands.h"
#include "JsonLines.h"
#include "library/FreshSearch.h"
#include "recording/FileList.h"
#include "settings/Setting.h"

#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

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
    // unchanged files unread. Links to folders are not followed.
    const auto refresh = [&places, &index](const QStringList& again) {
        QStringList tree = again;
        for (const SearchPlace& place : std::as_const(places)) {
            if (!again.isEmpty())
                break;
            tree.append(place.folder);
            QDirIterator subfolders(place.folder, QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden,
                                    QDirIterator::Subdirectories);
            while (subfolders.hasNext())
                tree.append(subfolders.next());
        }
        QStringList unread;
        SetScanCache(&index);
        for (const QString& each : std::as_const(tree)) {
            CFileList list(kListRegistered, false);
            list.SetFolder(each);
            list.EnsureScanned();
            unread += list.unreadFiles();
        }
        SetScanCache(nullptr);
        return unread;
    };
    const FreshSearchResult found = SearchFreshly(index, query, places, refresh);
    for (const SearchHit& hit : found.hits)
        PrintJsonLine(RecordJson(hit.record));
    for (const QString& path : found.unread)
        PrintError(QStringLiteral("%1: held by another program or changing while read; not searched").arg(path));
    if (found.failed)
        PrintError(QStringLiteral("the index could not be searched"));
    return found.complete() ? 0 : 1;
}

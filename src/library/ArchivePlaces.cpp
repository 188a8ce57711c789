#include "ArchivePlaces.h"

#include "platform/Paths.h"
#include "recording/FileList.h"

QList<SearchPlace> ArchivePlaces(const std::vector<std::shared_ptr<CFileList>>& lists,
                                 const std::function<QString(const CFileList&)>& labelOf)
{
    QList<SearchPlace> places;
    for (const std::shared_ptr<CFileList>& list : lists) {
        if (list->strFolder().isEmpty() || list->nKind() == kListTemporaryTree)
            continue;
        const SearchPlace place{list->strFolder(), list->nKind() < kListSaveFolder, labelOf ? labelOf(*list) : QString()};
        const bool known = std::any_of(places.cbegin(), places.cend(), [&](const SearchPlace& p) {
            return p.folder == place.folder && p.recursive == place.recursive;
        });
        if (!known)
            places.append(place);
    }
    return places;
}

QStringList RefreshPlaces(const QList<SearchPlace>& places, ScanCache& cache)
{
    ScanCache* const previous = CurrentScanCache();
    SetScanCache(&cache);
    QStringList unread;
    for (const SearchPlace& place : places) {
        CFileList list(place.recursive ? kListTemporaryTree : kListRegistered, place.recursive);
        list.SetFolder(place.folder);
        list.EnsureScanned();
        unread += list.unreadFiles();
    }
    SetScanCache(previous);
    return unread;
}

QString PlaceOfFolderText(const QString& folder, const QList<SearchPlace>& places)
{
    const SearchPlace* holder = nullptr;
    for (const SearchPlace& place : places) {
        if (place.label.isEmpty())
            continue;
        if (place.folder == folder) {
            holder = &place;
            break;
        }
        if (place.recursive && folder.startsWith(place.folder)
            && (!holder || place.folder.size() > holder->folder.size()))
            holder = &place;
    }
    if (!holder)
        return RemoveTrailingSeparator(folder);
    const QString below = RemoveTrailingSeparator(folder.mid(holder->folder.size()));
    return below.isEmpty() ? holder->label : holder->label + kPlaceNameSeparator + below;
}

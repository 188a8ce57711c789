#include "ArchivePlaces.h"

#include "recording/FileList.h"

QList<SearchPlace> ArchivePlaces(const std::vector<std::shared_ptr<CFileList>>& lists)
{
    QList<SearchPlace> places;
    for (const std::shared_ptr<CFileList>& list : lists) {
        if (list->strFolder().isEmpty() || list->nKind() == kListTemporaryTree)
            continue;
        const SearchPlace place{list->strFolder(), list->nKind() < kListSaveFolder};
        const bool known = std::any_of(places.cbegin(), places.cend(), [&](const SearchPlace& p) {
            return p.folder == place.folder && p.recursive == place.recursive;
        });
        if (!known)
            places.append(place);
    }
    return places;
}

void RefreshPlaces(const QList<SearchPlace>& places, ScanCache& cache)
{
    ScanCache* const previous = CurrentScanCache();
    SetScanCache(&cache);
    for (const SearchPlace& place : places) {
        CFileList list(place.recursive ? kListTemporaryTree : kListRegistered, place.recursive);
        list.SetFolder(place.folder);
        list.EnsureScanned();
    }
    SetScanCache(previous);
}

#pragma once

#include "RecordingIndex.h"

#include <QStringList>
#include <functional>

// A search whose answer is what a search through a freshly made index gives.
struct FreshSearchResult
{
    QList<SearchHit> hits;
    // Recordings that could not be read (held by another program, or changing
    // while read) and may therefore be missing from the hits.
    QStringList unread;
    // The index failed in a way that reading the folders again did not mend.
    bool failed = false;
    bool complete() const { return unread.isEmpty() && !failed; }
};

// Scans the folders through the index, then searches. A file that changed after
// it was scanned (another program wrote to it), a file the scan could not read
// and an index that lost what was scanned into it (found damaged) are read
// again and the search made again, for a few rounds at most. refresh scans the
// folders given through the index, all of the places when given none, and
// returns the files it could not read. placesRead says the places were scanned just
// before (a search window that read them when it opened): the first round then only searches.
using RefreshFolders = std::function<QStringList(const QStringList& folders)>;
FreshSearchResult SearchFreshly(RecordingIndex& index, const SearchQuery& query, const QList<SearchPlace>& places,
                                const RefreshFolders& refresh, int limit = 0, bool placesRead = false);

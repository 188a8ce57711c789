#include "FreshSearch.h"

namespace {

// Another program that edits one recording after another can keep a file
// changing through every round; after these it is named instead.
constexpr int kRounds = 4;

} // namespace

FreshSearchResult SearchFreshly(RecordingIndex& index, const SearchQuery& query, const QList<SearchPlace>& places,
                                const RefreshFolders& refresh, int limit, bool placesRead)
{
    FreshSearchResult result;
    QStringList folders; // to read again; none: every place
    for (int round = 0; round < kRounds; ++round) {
        const int losses = index.losses();
        QStringList unread;
        if (round > 0 || !placesRead) {
            unread = refresh(folders);
            if (round == 0)
                index.forgetGoneFolders();
        }
        SearchOutcome outcome;
        result.hits = index.search(query, places, limit, &outcome);
        result.unread = unread + outcome.changed;
        result.failed = !outcome.complete;
        const bool lost = index.losses() != losses || !outcome.complete;
        if (!lost && result.unread.isEmpty())
            return result;
        folders.clear();
        if (lost)
            continue;
        for (const QString& path : std::as_const(result.unread)) {
            const QString folder = path.left(path.lastIndexOf(u'/') + 1);
            if (!folders.contains(folder))
                folders.append(folder);
        }
    }
    return result;
}

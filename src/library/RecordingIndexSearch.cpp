#include "IndexedHeader.h"
#include "RecordingIndex.h"

#include <QFile>
#include <QSet>
#include <sqlite3.h>

namespace {

// A LIKE pattern that matches the text anywhere, its own wildcards taken literally.
QByteArray likePattern(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('%'), QStringLiteral("\\%"))
        .replace(QLatin1Char('_'), QStringLiteral("\\_"));
    return (QLatin1Char('%') + escaped + QLatin1Char('%')).toUtf8();
}

// A phrase for the trigram index: the text as one quoted string.
QByteArray matchPhrase(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return (QLatin1Char('"') + quoted + QLatin1Char('"')).toUtf8();
}

// The trigram index answers for three characters or more; shorter texts
// are looked for in each memo.
constexpr int kTrigram = 3;

} // namespace

QList<SearchHit> RecordingIndex::search(const SearchQuery& query, const QList<SearchPlace>& places, int limit,
                                        SearchOutcome* outcome)
{
    SearchOutcome ignored;
    SearchOutcome& out = outcome ? *outcome : ignored;
    out = {};
    QList<SearchHit> hits;
    settle();
    if (!ensureOpen()) {
        out.complete = false;
        return hits;
    }
    if (places.isEmpty())
        return hits;
    m_usedFile = true;
    QByteArray sql = "SELECT f.path, r.name, r.dev, r.ino, r.size, r.mtime, r.ctime, r.created, r.duration, "
                     "r.template, r.mode, r.states, r.marks, r.memo_bytes, r.memo FROM recordings r JOIN folders f ON f.id = r.folder WHERE (";
    QList<QByteArray> texts;
    for (int i = 0; i < places.size(); ++i) {
        sql += i ? " OR " : "";
        texts.append(places[i].folder.toUtf8());
        if (places[i].recursive) {
            sql += "substr(f.path, 1, length(?)) = ?";
            texts.append(texts.last());
        } else {
            sql += "f.path = ?";
        }
    }
    sql += ")";
    const QString memo = query.memo.trimmed();
    if (memo.size() >= kTrigram) {
        sql += " AND r.id IN (SELECT rowid FROM memo_search WHERE memo_search MATCH ?)";
        texts.append(matchPhrase(memo));
    } else if (!memo.isEmpty()) {
        sql += " AND r.memo LIKE ? ESCAPE '\\'";
        texts.append(likePattern(memo));
    }
    if (!query.name.isEmpty()) {
        sql += " AND r.name LIKE ? ESCAPE '\\'";
        texts.append(likePattern(query.name));
    }
    sql += " AND r.created BETWEEN ? AND ?";
    if (query.protectedOnly)
        sql += " AND (r.states & 0xFF00) != 0";
    if (query.unplayedOnly)
        sql += " AND (r.states & 0xFF) = 0";
    if (query.untransferredOnly)
        sql += " AND (r.states & 0xFF0000) = 0";
    sql += " ORDER BY f.path, r.created, r.name";

    sqlite3_stmt* st = nullptr;
    if (!check(sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &st, nullptr))) {
        sqlite3_finalize(st);
        out.complete = false;
        settle();
        return hits;
    }
    int index = 1;
    for (const QByteArray& text : std::as_const(texts))
        sqlite3_bind_text(st, index++, text.constData(), int(text.size()), SQLITE_STATIC);
    sqlite3_bind_int64(st, index++, query.from);
    sqlite3_bind_int64(st, index++, query.to);
    QSet<QString> met;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        SearchHit hit;
        hit.folder = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        tagFileList& record = hit.record;
        record.szFileName = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
        record.szFilePath = hit.folder + record.szFileName;
        // A recording met twice cannot be: the index is damaged.
        if (met.contains(record.szFilePath)) {
            rc = SQLITE_CORRUPT;
            break;
        }
        met.insert(record.szFilePath);
        const FileStamp stamp{uint64_t(sqlite3_column_int64(st, 2)), uint64_t(sqlite3_column_int64(st, 3)),
                              sqlite3_column_int64(st, 4), sqlite3_column_int64(st, 5),
                              sqlite3_column_int64(st, 6)};
        // What went since it was indexed is not reported; what changed is named
        // for the caller to read again.
        FileStamp now;
        if (!FileStamp::OfRegularFile(QFile::encodeName(record.szFilePath), now))
            continue;
        if (!(now == stamp)) {
            out.changed.append(record.szFilePath);
            continue;
        }
        IndexedHeader fields;
        fields.mode = sqlite3_column_int(st, 10);
        fields.states = sqlite3_column_int(st, 11);
        fields.marks = QByteArray(static_cast<const char*>(sqlite3_column_blob(st, 12)), sqlite3_column_bytes(st, 12));
        fields.memoBytes =
            QByteArray(static_cast<const char*>(sqlite3_column_blob(st, 13)), sqlite3_column_bytes(st, 13));
        fields.memo = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 14)),
                                        sqlite3_column_bytes(st, 14));
        if (!headerOf(sqlite3_column_int64(st, 9), fields, record.header)) {
            out.changed.append(record.szFilePath); // its entry is of no use: read it again
            continue;
        }
        record.tmCreate = sqlite3_column_int64(st, 7);
        record.nDuration = uint32_t(sqlite3_column_int64(st, 8));
        record.nFileSize = uint32_t(stamp.size);
        hits.append(hit);
        if (limit > 0 && hits.size() >= limit)
            break;
    }
    if (!check(rc == SQLITE_ROW ? SQLITE_OK : rc))
        out.complete = false;
    sqlite3_finalize(st);
    settle();
    return hits;
}

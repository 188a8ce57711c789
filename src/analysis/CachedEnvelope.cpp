#include "CachedEnvelope.h"

AnalysisResult CachedEnvelope(const QString& path, const EnvelopeCache& cache, LevelEnvelope& envelope,
                              bool* fromCache)
{
    if (fromCache)
        *fromCache = false;
    const std::optional<FileKey> key = FileKey::Of(path);
    if (!key)
        return AnalysisResult::Unreadable;
    if (std::optional<LevelEnvelope> cached = cache.load(*key)) {
        envelope = std::move(*cached);
        if (fromCache)
            *fromCache = true;
        return AnalysisResult::Complete;
    }
    const std::atomic<bool> never{false};
    return ComputeAndStoreEnvelope(path, *key, cache, envelope, never);
}

AnalysisResult ComputeAndStoreEnvelope(const QString& path, const FileKey& key, const EnvelopeCache& cache,
                                       LevelEnvelope& envelope, const std::atomic<bool>& cancel,
                                       const std::function<void(const LevelEnvelope&, int64_t)>& progress)
{
    const AnalysisResult result = AnalyseEnvelope(path, envelope, cancel, progress);
    // A file that changed while it was read gets no entry: its envelope may mix two versions.
    if (result == AnalysisResult::Complete && FileKey::Of(path) == key)
        cache.store(key, envelope);
    return result;
}

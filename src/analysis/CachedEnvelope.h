#pragma once

#include "EnvelopeAnalysis.h"
#include "EnvelopeCache.h"

// The envelope of a file: from the cache when it holds one for this version of
// the file, else computed and stored (unless the file changed while it was read).
// fromCache tells which.
AnalysisResult CachedEnvelope(const QString& path, const EnvelopeCache& cache, LevelEnvelope& envelope,
                              bool* fromCache = nullptr);
// The computing half, for a file whose key was looked at before.
AnalysisResult ComputeAndStoreEnvelope(const QString& path, const FileKey& key, const EnvelopeCache& cache,
                                       LevelEnvelope& envelope, const std::atomic<bool>& cancel,
                                       const std::function<void(const LevelEnvelope&, int64_t)>& progress = {});

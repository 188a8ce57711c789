#pragma once

#include "LevelEnvelope.h"

#include <QString>
#include <atomic>
#include <functional>

enum class AnalysisResult { Complete, Cancelled, Unreadable };

// Decodes a recording and builds its level envelope. progress is called now
// and then with the envelope so far and the first bucket not yet reported; the
// decode stops as soon as cancel is set.
AnalysisResult AnalyseEnvelope(const QString& path, LevelEnvelope& envelope, const std::atomic<bool>& cancel,
                               const std::function<void(const LevelEnvelope&, int64_t fromBucket)>& progress = {});

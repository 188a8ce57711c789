#include "RecordingAnalysis.h"

#include "CachedEnvelope.h"


struct RecordingAnalysis::Job
{
    std::atomic<bool> cancel{false};
    std::atomic<bool> ended{false};
    std::thread thread;
};

RecordingAnalysis::RecordingAnalysis(EnvelopeCache cache, QObject* parent) : QObject(parent), m_cache(std::move(cache))
{
}

RecordingAnalysis::~RecordingAnalysis()
{
    cancelRunning();
    for (const auto& job : m_jobs)
        job->thread.join();
}

void RecordingAnalysis::load(const QString& path)
{
    clear();
    m_path = path;
    const std::optional<FileKey> key = FileKey::Of(path);
    if (!key)
        return;
    if (std::optional<LevelEnvelope> cached = m_cache.load(*key)) {
        m_envelope = std::move(*cached);
        m_complete = true;
        m_fromCache = true;
        Q_EMIT envelopeChanged();
        Q_EMIT completed();
        return;
    }
    start(path, *key);
}

void RecordingAnalysis::clear()
{
    cancelRunning();
    reapFinished();
    ++m_generation;
    m_path.clear();
    m_envelope = LevelEnvelope{};
    m_complete = false;
    m_fromCache = false;
    Q_EMIT envelopeChanged();
}

int RecordingAnalysis::runningJobs() const
{
    return int(std::count_if(m_jobs.begin(), m_jobs.end(), [](const auto& job) { return !job->ended.load(); }));
}

void RecordingAnalysis::cancelRunning()
{
    for (const auto& job : m_jobs)
        job->cancel = true;
}

void RecordingAnalysis::reapFinished()
{
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
        if ((*it)->ended.load()) {
            (*it)->thread.join();
            it = m_jobs.erase(it);
        } else {
            ++it;
        }
    }
}

void RecordingAnalysis::start(const QString& path, const FileKey& key)
{
    auto job = std::make_shared<Job>();
    const uint64_t generation = m_generation;
    job->thread = std::thread([this, job = job.get(), generation, path, key, cache = m_cache,
                               cancelled = m_cancelled] {
        LevelEnvelope envelope;
        const AnalysisResult result = ComputeAndStoreEnvelope(
            path, key, cache, envelope, job->cancel, [&](const LevelEnvelope& soFar, int64_t from) {
                std::vector<uint8_t> part(soFar.levels.begin() + from * 2, soFar.levels.end());
                QMetaObject::invokeMethod(
                    this,
                    [this, generation, part = std::move(part), rate = soFar.sampleRate, frames = soFar.frames]() mutable {
                        onPart(generation, std::move(part), rate, frames);
                    },
                    Qt::QueuedConnection);
            });
        if (result == AnalysisResult::Cancelled)
            ++*cancelled;
        const bool complete = result == AnalysisResult::Complete;
        QMetaObject::invokeMethod(this, [this, generation, complete] { onDone(generation, complete); },
                                  Qt::QueuedConnection);
        job->ended = true;
    });
    m_jobs.push_back(std::move(job));
}

void RecordingAnalysis::onPart(uint64_t generation, std::vector<uint8_t> levels, int sampleRate, int64_t frames)
{
    if (generation != m_generation)
        return;
    m_envelope.sampleRate = sampleRate;
    m_envelope.frames = frames;
    m_envelope.levels.insert(m_envelope.levels.end(), levels.begin(), levels.end());
    Q_EMIT envelopeChanged();
}

void RecordingAnalysis::onDone(uint64_t generation, bool complete)
{
    reapFinished();
    if (generation != m_generation || !complete)
        return;
    m_complete = true;
    Q_EMIT completed();
}

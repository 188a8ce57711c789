#pragma once

#include "EnvelopeCache.h"
#include "LevelEnvelope.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

// The envelope of the recording the panel shows: taken from the cache when it
// holds one for this version of the file, else computed on a worker thread that
// reports it in parts as it goes. Loading another recording (or none) cancels
// the computation under way; it never waits for it.
class RecordingAnalysis : public QObject
{
    Q_OBJECT

public:
    explicit RecordingAnalysis(EnvelopeCache cache = EnvelopeCache(), QObject* parent = nullptr);
    ~RecordingAnalysis() override;

    void load(const QString& path);
    void clear();

    QString path() const { return m_path; }
    const LevelEnvelope& envelope() const { return m_envelope; }
    bool isComplete() const { return m_complete; }
    // Whether the envelope shown came from the cache.
    bool fromCache() const { return m_fromCache; }
    // Computations started and not yet ended (cancelled ones included).
    int runningJobs() const;
    // How many computations ended by cancellation so far.
    int cancelledJobs() const { return m_cancelled->load(); }

Q_SIGNALS:
    // More of the envelope is known (or it was cleared).
    void envelopeChanged();
    // The envelope is complete.
    void completed();

private:
    struct Job;
    void start(const QString& path, const FileKey& key);
    void cancelRunning();
    void reapFinished();
    void onPart(uint64_t generation, std::vector<uint8_t> levels, int sampleRate, int64_t frames);
    void onDone(uint64_t generation, bool complete);

    EnvelopeCache m_cache;
    QString m_path;
    LevelEnvelope m_envelope;
    bool m_complete = false;
    bool m_fromCache = false;
    uint64_t m_generation = 0;
    std::vector<std::shared_ptr<Job>> m_jobs;
    std::shared_ptr<std::atomic<int>> m_cancelled = std::make_shared<std::atomic<int>>(0);
};

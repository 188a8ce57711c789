#include "QtAudioOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QElapsedTimer>
#include <QIODevice>
#include <QMediaDevices>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

namespace {

// How often the output looks whether the last frames have been heard, once the source
// has ended (and only then: while frames are pulled, each pull looks).
constexpr int kWatchMs = 10;
// Frames within this many milliseconds of the end count as heard (the
// device's clock is read in whole microseconds).
constexpr int kDrainToleranceMs = 3;
constexpr int kDrainMarginMs = 40;
// Between two readings of the device's clock the frames heard run on with the clock of
// the machine, at most this far (the sink pulls every 20 ms or so).
constexpr int kRunOnMs = 50;

// Hands the sink what the source gives, and says how much after each pull.
class PullDevice final : public QIODevice
{
public:
    PullDevice(PcmSource* source, int channels, std::function<void(int64_t)> pulled)
        : m_source(source), m_frameBytes(2 * channels), m_pulled(std::move(pulled))
    {
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const int64_t frames = m_source->read(reinterpret_cast<int16_t*>(data), maxSize / m_frameBytes);
        m_pulled(frames);
        return frames * m_frameBytes;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    PcmSource* m_source;
    int m_frameBytes;
    std::function<void(int64_t)> m_pulled;
};

int64_t steadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// Lives in the output thread: owns the sink and keeps count of what has been heard. It
// wakes only when the sink pulls (the device's clock is read then) and, once the source
// has ended, until the last frame is heard; paused or stopped, nothing of it wakes.
class SinkWorker final : public QObject
{
public:
    explicit SinkWorker(QtAudioOutput* owner) : m_owner(owner) {}

    bool open(const QAudioDevice& device, int sampleRate, int channels, PcmSource* source, QString* error)
    {
        close();
        if (device.isNull()) {
            *error = QStringLiteral("no audio output device");
            return false;
        }
        QAudioFormat format;
        format.setSampleRate(sampleRate);
        format.setChannelCount(channels);
        format.setSampleFormat(QAudioFormat::Int16);
        if (!device.isFormatSupported(format)) {
            *error = QStringLiteral("the audio output does not take %1 Hz, %2 channel(s)").arg(sampleRate).arg(channels);
            return false;
        }
        m_rate = sampleRate;
        m_source = source;
        m_audioDevice = device;
        m_format = format;
        m_started = false;
        m_sink = std::make_unique<QAudioSink>(device, format);
        m_device = std::make_unique<PullDevice>(source, channels, [this](int64_t frames) { onPulled(frames); });
        m_device->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        m_timer = std::make_unique<QTimer>();
        m_timer->setInterval(kWatchMs);
        QObject::connect(m_timer.get(), &QTimer::timeout, this, [this] { watch(); });
        pulled = 0;
        {
            std::lock_guard lock(m_clockMutex);
            m_reported = 0;
        }
        setHeard(0, false);
        return true;
    }

    void close()
    {
        if (m_sink)
            m_sink->stop();
        m_timer.reset();
        m_sink.reset();
        m_device.reset();
        m_source = nullptr;
        setHeard(heardNow(), false);
    }

    bool start()
    {
        if (!m_sink)
            return false;
        m_drainReported = false;
        m_endSeen.invalidate();
        if (m_sink->state() == QAudio::SuspendedState) {
            m_sink->resume();
        } else {
            // A stopped sink restarted at once (a seek) may not pull again for
            // seconds, and stopping closes the device it pulled from: a fresh
            // sink on the reopened device starts at once.
            if (m_sink->state() != QAudio::StoppedState || m_started) {
                m_sink->stop();
                m_sink = std::make_unique<QAudioSink>(m_audioDevice, m_format);
            }
            if (!m_device->isOpen())
                m_device->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
            m_started = true;
            m_base = pulled;
            m_sink->start(m_device.get());
        }
        setHeard(heardNow(), true);
        // Nothing more will be pulled: only the end is left to be heard.
        if (m_source && m_source->atEnd())
            m_timer->start();
        return m_sink->error() == QAudio::NoError || m_sink->error() == QAudio::UnderrunError;
    }

    void suspend()
    {
        if (!m_sink || m_sink->state() == QAudio::StoppedState)
            return;
        readClock();
        m_sink->suspend();
        m_timer->stop();
        setHeard(heardNow(), false);
    }

    void stop()
    {
        if (!m_sink)
            return;
        m_sink->stop();
        m_timer->stop();
        // What was pulled but not played is dropped: count it as passed.
        setHeard(pulled.load(), false);
        m_base = pulled.load();
    }

    // The frames heard by now: the last reading of the device's clock, run on with the
    // machine's clock while playing; never fewer than told before, never more than pulled.
    int64_t heardNow()
    {
        std::lock_guard lock(m_clockMutex);
        int64_t frames = m_heard;
        if (m_running && m_rate > 0) {
            const int64_t since = std::clamp<int64_t>(steadyNanoseconds() - m_heardAt, 0, int64_t(kRunOnMs) * 1000000);
            frames = std::min(frames + since * m_rate / 1000000000, pulled.load());
        }
        frames = std::max(frames, m_reported);
        m_reported = frames;
        return frames;
    }

    std::atomic<int64_t> pulled{0};

private:
    void setHeard(int64_t frames, bool running)
    {
        std::lock_guard lock(m_clockMutex);
        m_heard = frames;
        m_heardAt = steadyNanoseconds();
        m_running = running;
        m_reported = std::max(m_reported, frames);
    }

    // Reads the device's clock; returns the frames it has played.
    int64_t readClock()
    {
        const int64_t played = m_base + m_sink->processedUSecs() * m_rate / 1000000;
        setHeard(std::min(played, pulled.load()), true);
        return played;
    }

    void onPulled(int64_t frames)
    {
        pulled += frames;
        if (!m_sink || m_sink->state() == QAudio::StoppedState || m_sink->state() == QAudio::SuspendedState)
            return;
        readClock();
        if (!m_drainReported && m_source && m_source->atEnd() && !m_timer->isActive())
            m_timer->start();
    }

    void watch()
    {
        if (!m_sink || m_sink->state() == QAudio::StoppedState || m_sink->state() == QAudio::SuspendedState
            || m_drainReported || !m_source || !m_source->atEnd()) {
            m_timer->stop();
            return;
        }
        const int64_t played = readClock();
        const int64_t all = pulled.load();
        // The device's clock may lag (its latency is only estimated), so once the
        // source has ended the wait is also bounded by what can still be in flight.
        if (!m_endSeen.isValid()) {
            m_endSeen.start();
            const qint64 bufferMs = m_format.durationForBytes(m_sink->bufferSize()) / 1000;
            const int64_t heard = std::min(played, all);
            m_inFlightMs = std::min<qint64>((all - heard) * 1000 / m_rate, bufferMs) + kDrainMarginMs;
        }
        if (played + m_rate * kDrainToleranceMs / 1000 >= all || m_endSeen.elapsed() >= m_inFlightMs) {
            m_drainReported = true;
            m_timer->stop();
            setHeard(all, false);
            Q_EMIT m_owner->drained();
        }
    }

    QtAudioOutput* m_owner;
    PcmSource* m_source = nullptr;
    QAudioDevice m_audioDevice;
    QAudioFormat m_format;
    bool m_started = false;
    std::unique_ptr<QAudioSink> m_sink;
    std::unique_ptr<PullDevice> m_device;
    std::unique_ptr<QTimer> m_timer;
    int m_rate = 0;
    int64_t m_base = 0;
    bool m_drainReported = false;
    QElapsedTimer m_endSeen;
    qint64 m_inFlightMs = 0;
    // The count of frames heard, read from any thread.
    std::mutex m_clockMutex;
    int64_t m_heard = 0;    // at the last reading of the device's clock
    int64_t m_heardAt = 0;  // when (steady clock, nanoseconds)
    bool m_running = false; // whether the count runs on from there
    int64_t m_reported = 0; // the most told so far
};

QtAudioOutput::QtAudioOutput()
{
    m_thread.setObjectName(QStringLiteral("audio output"));
    m_thread.start(QThread::TimeCriticalPriority);
    m_worker = new SinkWorker(this);
    m_worker->moveToThread(&m_thread);
}

QtAudioOutput::~QtAudioOutput()
{
    close();
    QMetaObject::invokeMethod(m_worker, [this] { delete m_worker; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

bool QtAudioOutput::open(int sampleRate, int channels, PcmSource* source, QString* error)
{
    bool ok = false;
    QString reason;
    // The media devices are asked on the calling (UI) thread, which owns the
    // sound server connection for the whole program.
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    QMetaObject::invokeMethod(
        m_worker, [&] { ok = m_worker->open(device, sampleRate, channels, source, &reason); },
        Qt::BlockingQueuedConnection);
    if (!ok && error)
        *error = reason;
    return ok;
}

void QtAudioOutput::close()
{
    QMetaObject::invokeMethod(m_worker, [this] { m_worker->close(); }, Qt::BlockingQueuedConnection);
}

bool QtAudioOutput::start()
{
    bool ok = false;
    QMetaObject::invokeMethod(m_worker, [&] { ok = m_worker->start(); }, Qt::BlockingQueuedConnection);
    return ok;
}

void QtAudioOutput::suspend()
{
    QMetaObject::invokeMethod(m_worker, [this] { m_worker->suspend(); }, Qt::BlockingQueuedConnection);
}

void QtAudioOutput::stop()
{
    QMetaObject::invokeMethod(m_worker, [this] { m_worker->stop(); }, Qt::BlockingQueuedConnection);
}

int64_t QtAudioOutput::pulledFrames() const
{
    return m_worker->pulled.load();
}

int64_t QtAudioOutput::heardFrames() const
{
    return m_worker->heardNow();
}

bool QtAudioOutput::hasOutputDevice()
{
    return !QMediaDevices::defaultAudioOutput().isNull();
}

// Its meta-object code goes with it, not with the folder's others: a program that never
// makes an audio output then links none of the multimedia libraries (the tool's start).
#include "moc_QtAudioOutput.cpp"

#include "VirtualAudioOutput.h"

#include <algorithm>

bool VirtualAudioOutput::open(int sampleRate, int channels, PcmSource* source, QString* error)
{
    if (!available) {
        if (error)
            *error = QStringLiteral("no audio output device");
        return false;
    }
    m_source = source;
    m_rate = sampleRate;
    m_channels = channels;
    m_pulled = 0;
    m_played.clear();
    return true;
}

bool VirtualAudioOutput::start()
{
    if (!m_source)
        return false;
    if (!m_suspended)
        m_drainReported = false;
    m_running = true;
    m_suspended = false;
    return true;
}

void VirtualAudioOutput::stop()
{
    m_running = false;
    m_suspended = false;
}

int64_t VirtualAudioOutput::advance(double seconds)
{
    if (!m_source || !isRunning())
        return 0;
    int64_t wanted = int64_t(seconds * m_rate + 0.5);
    int64_t played = 0;
    std::vector<int16_t> chunk;
    while (wanted > 0) {
        const int64_t ask = std::min<int64_t>(wanted, 1024);
        chunk.resize(size_t(ask * m_channels));
        const int64_t got = m_source->read(chunk.data(), ask);
        m_played.insert(m_played.end(), chunk.begin(), chunk.begin() + got * m_channels);
        m_pulled += got;
        played += got;
        wanted -= got;
        if (got < ask)
            break;
    }
    if (m_source->atEnd() && !m_drainReported) {
        m_drainReported = true;
        Q_EMIT drained();
    }
    return played;
}

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
    m_heard = 0;
    m_buffered.clear();
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
    fill(int64_t(bufferSeconds * m_rate + 0.5));
    return true;
}

void VirtualAudioOutput::stop()
{
    m_running = false;
    m_suspended = false;
    // What was pulled but not heard is dropped.
    m_heard = m_pulled;
    m_buffered.clear();
}

void VirtualAudioOutput::fill(int64_t aheadOfHeard)
{
    std::vector<int16_t> chunk;
    while (m_pulled - m_heard < aheadOfHeard) {
        const int64_t ask = std::min<int64_t>(aheadOfHeard - (m_pulled - m_heard), 1024);
        chunk.resize(size_t(ask * m_channels));
        const int64_t got = m_source->read(chunk.data(), ask);
        m_buffered.insert(m_buffered.end(), chunk.begin(), chunk.begin() + got * m_channels);
        m_pulled += got;
        if (got < ask)
            break;
    }
}

int64_t VirtualAudioOutput::advance(double seconds)
{
    if (!m_source || !isRunning())
        return 0;
    const int64_t wanted = int64_t(seconds * m_rate + 0.5);
    // The buffer is kept full while the clock runs: pull what will be heard now and what
    // stays ahead of it.
    fill(wanted + int64_t(bufferSeconds * m_rate + 0.5));
    const int64_t heard = std::min<int64_t>(wanted, m_pulled - m_heard);
    const auto end = m_buffered.begin() + heard * m_channels;
    m_played.insert(m_played.end(), m_buffered.begin(), end);
    m_buffered.erase(m_buffered.begin(), end);
    m_heard += heard;
    if (m_source->atEnd() && m_heard == m_pulled && !m_drainReported) {
        m_drainReported = true;
        Q_EMIT drained();
    }
    return heard;
}

#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

// Interleaved 16-bit PCM pulled by an audio output. read() may be called from
// the output's own thread; it returns fewer frames than asked for only once the
// source has ended (or while it has nothing to give).
class PcmSource
{
public:
    virtual ~PcmSource() = default;
    virtual int64_t read(int16_t* frames, int64_t count) = 0;
    virtual bool atEnd() const = 0;
};

// Plays what a PcmSource gives. The program's output is a QAudioSink on the
// default device, running in a thread of its own so that a busy window never
// starves it; tests use one driven by a virtual clock.
class AudioOutput : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Prepares the device for the format; false with a reason when there is no
    // audio output to play to.
    virtual bool open(int sampleRate, int channels, PcmSource* source, QString* error) = 0;
    virtual void close() = 0;
    // Starts pulling and playing, or resumes after suspend().
    virtual bool start() = 0;
    // Pauses, keeping what is buffered.
    virtual void suspend() = 0;
    // Stops and drops what is buffered but not yet heard.
    virtual void stop() = 0;
    // Frames pulled from the source since open(), and how many of them have
    // been heard (or dropped by stop()). Callable from any thread.
    virtual int64_t pulledFrames() const = 0;
    virtual int64_t heardFrames() const = 0;

Q_SIGNALS:
    // The source ended and every frame pulled has been heard. May be emitted
    // from the output's thread.
    void drained();
};

using AudioOutputFactory = std::function<std::unique_ptr<AudioOutput>()>;

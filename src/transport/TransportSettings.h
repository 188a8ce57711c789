#pragma once

#include "TransportAction.h"

#include <QList>
#include <QString>
#include <array>

// How the transport commands behave, in a section of their own ("Transport") of
// the program's settings file. Values out of their range or unreadable fall back
// to their defaults; the seed's sections are not touched.
struct TransportSettings
{
    static constexpr int kMinSkip = 1, kMaxSkip = 60;
    static constexpr int kMaxRewind = 10;
    static constexpr int kMinReplay = 1, kMaxReplay = 30;
    static constexpr int kPedalCount = 3; // left, middle, right

    int backSkipSeconds = 3;
    int forwardSkipSeconds = 3;
    // How far PLAY after PAUSE goes back before it plays on (0: not at all).
    int rewindOnResumeSeconds = 2;
    // How much "直前を再生" plays again.
    int replaySeconds = 5;
    // One press of "速く" / "遅く": 0.05 or 0.1.
    double speedStep = 0.1;
    // Portable key text per keyed action (empty: no key).
    std::array<QString, kKeyedActionCount> keys;
    std::array<TransportAction, kPedalCount> pedals{
        TransportAction::StepBack, TransportAction::PlayWhileHeld, TransportAction::StepForward};
    // A pedal device to read instead of looking for one (a hidraw node, or a FIFO carrying its
    // reports).
    QString pedalDevice;

    TransportSettings();
    static TransportSettings Load();
    // False when the settings file could not be written.
    bool Save() const;

    QString key(TransportAction action) const { return keys[size_t(action)]; }
    // The action bound to this key text, or None.
    TransportAction actionOfKey(const QString& keyText) const;
};

// Why the key cannot go to the action: the message naming what already has it,
// or empty when it is free. reserved: the window's other commands and their keys.
QString TransportKeyConflict(const TransportSettings& settings, TransportAction action,
                             const QString& keyText,
                             const QList<std::pair<QString, QString>>& reserved = {});

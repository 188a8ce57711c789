#pragma once

#include <QString>

// What the recording list asks of the control panel: load the one selected
// recording, or let go of it (count: how many rows are selected now).
class RecordingPanel
{
public:
    virtual ~RecordingPanel() = default;
    virtual bool LoadRecording(const QString& path, int position) = 0;
    virtual bool UnloadRecording(int selectedCount) = 0;
    // Playback is allowed (a list with recordings that is not the recorder over USB).
    virtual void setControlsAllowed(bool allowed) = 0;
    // The selected row's position (row + 1), for continuous play.
    virtual void setPosition(int position) = 0;
};

// Until the control panel exists: accepts everything and does nothing.
class NullRecordingPanel final : public RecordingPanel
{
public:
    bool LoadRecording(const QString&, int) override { return true; }
    bool UnloadRecording(int) override { return true; }
    void setControlsAllowed(bool) override {}
    void setPosition(int) override {}
};

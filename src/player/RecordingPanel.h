#pragma once

#include "analysis/Silences.h"

#include <QString>
#include <functional>
#include <cstdint>
#include <optional>
#include <utility>

struct tagVoiceHeader;
class QWidget;
class TransportTarget;

// What the control panel asks of the recording list: show a changed header
// in a row (and its folder's record), move the selection to the next or the
// previous recording (which the panel then loads), and which row has the focus.
class RecordingListHost
{
public:
    virtual ~RecordingListHost() = default;
    virtual void RefreshRecordRow(const QString& path, int row, const tagVoiceHeader& header) = 0;
    // True only when the neighbour was there, its file exists, and it is loaded.
    virtual bool SelectNextRecording() = 0;
    virtual bool SelectPrevRecording() = 0;
    // The list's focused row, or -1.
    virtual int focusedRow() const = 0;
};

// What the view and the recording list ask of the control panel: load the one
// selected recording, or let go of it (count: how many rows are selected now);
// whether playback is allowed; whether the recorder is attached; and PLAY for
// the list's "再生" command.
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
    // The recorder is attached over USB; the panel's display shows it.
    virtual void setUsbConnected(bool connected) = 0;
    // Whether the panel plays at all ("再生" stays disabled otherwise).
    virtual bool canPlay() const = 0;
    // The PLAY action, as the panel's own button runs it.
    virtual void OnPlay() = 0;
    // The widget the view places in its panel area; none for a panel without one.
    virtual QWidget* panelWidget() { return nullptr; }
    // The list the panel works with (not owned); none while there is no list.
    virtual void setHost(RecordingListHost*) {}
    // What keys, pedals and media controls drive; none for a panel that cannot play.
    virtual TransportTarget* transport() { return nullptr; }
    // Skipping silence while playing, and the overview strip: options the panel keeps.
    virtual bool skipsSilence() const { return false; }
    virtual void setSkipSilence(bool) {}
    virtual bool overviewShown() const { return false; }
    virtual void setOverviewShown(bool) {}
    // To the next or previous place where silence begins or speech resumes.
    virtual void GoToSilenceBoundary(bool /*forward*/) {}
    // How silence is found; a change applies to the recording shown at once and is kept.
    virtual SilenceOptions silenceOptions() const { return {}; }
    virtual void setSilenceOptions(const SilenceOptions&) {}
    // Told when the panel's own control changes the silence option.
    virtual void setSkipSilenceListener(std::function<void(bool)>) {}
    // The section between the begin and end markers, in seconds, while a recording is
    // loaded and the section is narrower than the whole recording.
    virtual std::optional<std::pair<uint32_t, uint32_t>> section() const { return std::nullopt; }
    // Whether a recording is being listened to: playing, or paused part-way.
    virtual bool isListening() const { return false; }
};

// Until the control panel is built: keeps the panel's place, loads nothing and
// cannot play.
class NullRecordingPanel final : public RecordingPanel
{
public:
    bool LoadRecording(const QString&, int) override { return true; }
    bool UnloadRecording(int) override { return true; }
    void setControlsAllowed(bool) override {}
    void setPosition(int) override {}
    void setUsbConnected(bool) override {}
    bool canPlay() const override { return false; }
    void OnPlay() override {}
};

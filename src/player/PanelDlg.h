#pragma once

#include "PanelDisplay.h"
#include "PlaybackSession.h"
#include "player/RecordingPanel.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>

class CEditEx;
class CIndexDlg;
class OverviewStrip;
class QCheckBox;
class QGroupBox;
class PanelButton;
class QComboBox;
class QPushButton;
class QSlider;
class SectionBar;
class SectionSlider;

// The control panel above the folder tree and the recording list: the view of a
// playback session. Its display shows the selected recording (its data, the play
// state and the position), its buttons, lists and sliders and the bar's drags
// turn into the session's calls, and it edits the protect mark, the index marks
// (by a dialog) and the memo. Keys, foot pedals and the desktop's media controls
// drive the session itself, as its transport target.
class CPanelDlg : public QWidget, public RecordingPanel
{
    Q_OBJECT

public:
    // Control identifiers of the panel's form; tests find the controls by them.
    enum Control {
        IdPlay = 1011,
        IdStop = 1012,
        IdFastBack = 1013,
        IdSkipBack = 1014,
        IdFastForward = 1015,
        IdSkipForward = 1016,
        IdPause = 1017,
        IdProtect = 1028,
        IdIndex = 1029,
    };
    static constexpr int kMemoBytes = 256;
    static constexpr int kTimerMilliseconds = PlaybackSession::kTimerMilliseconds;
    // The row below the form: the overview strip, and the silence option beside it.
    static constexpr int kOverviewHeight = 56;

    // outputs: where the engine plays (the default audio device when none is given).
    explicit CPanelDlg(AudioOutputFactory outputs = {}, QWidget* parent = nullptr);
    ~CPanelDlg() override;

    PlaybackSession& session() const { return *m_session; }

    // What the view asks of the panel.
    bool LoadRecording(const QString& path, int rowNumber) override;
    bool UnloadRecording(int selectedCount) override;
    void setControlsAllowed(bool allowed) override { m_session->setControlsAllowed(allowed); }
    void setPosition(int rowNumber) override { m_session->setRowNumber(rowNumber); }
    void setUsbConnected(bool connected) override;
    bool canPlay() const override { return true; }
    void OnPlay() override { m_session->OnPlay(); }
    QWidget* panelWidget() override { return this; }
    void setHost(RecordingListHost* host) override { m_session->setHost(host); }
    TransportTarget* transport() override { return m_session.get(); }
    bool skipsSilence() const override { return m_session->skipsSilence(); }
    void setSkipSilence(bool skip) override;
    bool overviewShown() const override { return m_session->overviewShown(); }
    void setOverviewShown(bool shown) override;
    void GoToSilenceBoundary(bool forward) override { m_session->GoToSilenceBoundary(forward); }
    SilenceOptions silenceOptions() const override { return m_session->silenceOptions(); }
    void setSilenceOptions(const SilenceOptions& options) override { m_session->setSilenceOptions(options); }
    void setSkipSilenceListener(std::function<void(bool)> listener) override
    {
        m_skipSilenceListener = std::move(listener);
    }
    std::optional<std::pair<uint32_t, uint32_t>> section() const override;
    bool isListening() const override
    {
        const TransportTarget::State state = m_session->transportState();
        return state == TransportTarget::Playing || state == TransportTarget::Paused;
    }

    // Writes the header copy, with what the memo box holds, when it changed (see
    // PlaybackSession::CommitHeader).
    bool CommitHeader();
    void RedrawDisplay();
    // Stopped: the index marks dialog; playing or paused, a mark at the second heard.
    void OnIndex();

    // How the index marks dialog is run (modally by default); tests answer it themselves.
    using IndexDialogRunner = std::function<int(CIndexDlg&)>;
    void setIndexDialogRunner(IndexDialogRunner runner) { m_runIndexDialog = std::move(runner); }

    PanelButton* button(int controlId) const;
    QPushButton* pushButton(int controlId) const;
    SectionBar* sectionBar() const { return m_bar; }
    SectionSlider* positionSlider() const;
    QSlider* volumeSlider() const { return m_volumeSlider; }
    QComboBox* playModeList() const { return m_playModeList; }
    QComboBox* speedList() const { return m_speedList; }
    CEditEx* memoEdit() const { return m_memo; }
    OverviewStrip* overviewStrip() const { return m_overview; }
    QCheckBox* skipSilenceBox() const { return m_skipSilenceBox; }
    QWidget* displayArea() const;

    // What the display shows now.
    PanelDisplayState displayState() const { return SessionDisplayState(*m_session, m_usbConnected); }
    QList<DisplayItem> displayItems() const;

private:
    class DisplayArea;

    void buildControls();
    PanelButton* addTransportButton(int controlId, int x, int y);
    void connectSession();
    // The controls enabled as the session allows, the keyboard focus kept.
    void updateControls();
    void restoreFocus();
    void onRecordingLoaded();
    void onSpeedChanged(int speed);
    // The speed list shows the preset of the rate, or an item of its own for another rate.
    void showRate();
    void buildOverviewRow();
    void placeOverviewRow();
    // Brings the strip up to the session's section, marks and position.
    void syncOverview();
    void onMemoChanged();

    std::unique_ptr<PlaybackSession> m_session;
    bool m_usbConnected = false;
    // The control that had the keyboard focus when the controls last changed.
    QPointer<QWidget> m_focusToKeep;
    OverviewStrip* m_overview = nullptr;
    QCheckBox* m_skipSilenceBox = nullptr;
    QGroupBox* m_frame = nullptr;
    std::function<void(bool)> m_skipSilenceListener;
    DisplayArea* m_display;
    std::map<int, PanelButton*> m_transport;
    QPushButton* m_protect;
    QPushButton* m_index;
    SectionBar* m_bar;
    QSlider* m_volumeSlider;
    QComboBox* m_playModeList;
    QComboBox* m_speedList;
    CEditEx* m_memo;
    IndexDialogRunner m_runIndexDialog;
};

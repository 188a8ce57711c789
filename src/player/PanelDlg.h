#pragma once

#include "audio/Mp3Ctrl.h"
#include "PanelDisplay.h"
#include "analysis/AnalysisSettings.h"
#include "recording/VoiceHeader.h"
#include "transport/TransportSettings.h"
#include "transport/TransportTarget.h"
#include "player/RecordingPanel.h"

#include "recording/RecordingFile.h"

#include <QBasicTimer>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>

class CEditEx;
class CIndexDlg;
class OverviewStrip;
class QCheckBox;
class QGroupBox;
class RecordingAnalysis;
class PanelButton;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class SectionSlider;

// The control panel above the folder tree and the recording list: shows the
// selected recording (its data, the play state and the position), plays it at
// three speeds within a section set by two markers, steps between its index
// marks and the recordings of the list, and edits its protect mark, index
// marks and memo. Changes go into a copy of the header and into the list row
// at once, and into the file when the panel leaves the recording. Keys, foot
// pedals and the desktop's media controls reach its buttons' actions as a
// transport target.
class CPanelDlg : public QWidget, public RecordingPanel, public TransportTarget
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
    static constexpr int kTimerMilliseconds = 250;
    // How long after a second begins to be heard the display turns to it.
    static constexpr int kSecondLateMilliseconds = 2;
    // The row below the form: the overview strip, and the silence option beside it.
    static constexpr int kOverviewHeight = 56;

    // outputs: where the engine plays (the default audio device when none is given).
    explicit CPanelDlg(AudioOutputFactory outputs = {}, QWidget* parent = nullptr);
    ~CPanelDlg() override;

    // What the view asks of the panel.
    bool LoadRecording(const QString& path, int rowNumber) override;
    bool UnloadRecording(int selectedCount) override;
    void setControlsAllowed(bool allowed) override;
    void setPosition(int rowNumber) override;
    void setUsbConnected(bool connected) override;
    bool canPlay() const override { return true; }
    void OnPlay() override;
    QWidget* panelWidget() override { return this; }
    void setHost(RecordingListHost* host) override { m_host = host; }
    TransportTarget* transport() override { return this; }

    // Skip sizes, rewind on resume, the replay's length and the speed step.
    void applyTransportSettings(const TransportSettings& settings) override;
    const TransportSettings& transportSettings() const { return m_transportSettings; }

    // The transport as the keyboard, the pedals and the media controls drive it.
    TransportNotifier& transportNotifier() override { return m_notifier; }
    State transportState() const override;
    bool isListening() const override
    {
        const State state = transportState();
        return state == Playing || state == Paused;
    }
    bool canRunTransport(TransportAction action) const override;
    void runTransport(TransportAction action) override;
    void transportPlay() override;
    void transportPause() override;
    qint64 transportPosition() override;
    void transportSeek(qint64 milliseconds) override;
    void transportNextRecording() override;
    double transportRate() const override { return m_pPlayer->m_tempo; }
    void setTransportRate(double rate) override;
    double transportVolume() const override;
    void setTransportVolume(double volume) override;
    TransportTrack transportTrack() const override;
    bool skipsSilence() const override { return m_analysisSettings.skipSilence; }
    void setSkipSilence(bool skip) override;
    bool overviewShown() const override { return m_analysisSettings.showOverview; }
    void setOverviewShown(bool shown) override;
    void GoToSilenceBoundary(bool forward) override;
    SilenceOptions silenceOptions() const override { return m_analysisSettings.silence; }
    void setSilenceOptions(const SilenceOptions& options) override;
    void setSkipSilenceListener(std::function<void(bool)> listener) override
    {
        m_skipSilenceListener = std::move(listener);
    }
    std::optional<std::pair<uint32_t, uint32_t>> section() const override
    {
        if (m_strPath.isEmpty() || (m_nBegin == 0 && m_nEnd >= m_nDuration) || m_nEnd <= m_nBegin)
            return std::nullopt;
        return std::make_pair(m_nBegin, m_nEnd);
    }

    // Writes the header copy when its bytes differ from those read (the memo's
    // last text included): merely viewing a recording never writes it. False
    // when the write failed; the played mark alone, which the program sets by
    // itself, is dropped without a word on a file that cannot be written. The
    // change is not retried either way.
    bool CommitHeader();
    void UpdateControls();
    void RedrawDisplay();
    void PlaceSectionMarkers();
    void RepaintBar();

    void OnStop();
    void OnPause();
    void OnFastBack();
    void OnFastForward();
    void OnSkipForward();
    void OnSkipBack();
    void OnProtect();
    void OnIndex();
    // Plays the last seconds again (the replay's length, not before the section's
    // begin), then goes on.
    void OnReplay();
    // The 250 ms tick, running while the engine plays and once after: follows the engine,
    // and acts on the end of playback by the play mode.
    void OnTimer();

    // How the index marks dialog is run (modally by default); tests answer it themselves.
    using IndexDialogRunner = std::function<int(CIndexDlg&)>;
    void setIndexDialogRunner(IndexDialogRunner runner) { m_runIndexDialog = std::move(runner); }

    CMp3Ctrl& engine() { return *m_pPlayer; }
    PanelButton* button(int controlId) const;
    QPushButton* pushButton(int controlId) const;
    SectionSlider* positionSlider() const { return m_positionSlider; }
    QSlider* volumeSlider() const { return m_volumeSlider; }
    QComboBox* playModeList() const { return m_playModeList; }
    QComboBox* speedList() const { return m_speedList; }
    CEditEx* memoEdit() const { return m_memo; }
    QLabel* beginMarker() const { return m_beginMarker; }
    QLabel* endMarker() const { return m_endMarker; }
    QLabel* beginLabel() const { return m_beginLabel; }
    QLabel* endLabel() const { return m_endLabel; }
    OverviewStrip* overviewStrip() const { return m_overview; }
    QCheckBox* skipSilenceBox() const { return m_skipSilenceBox; }
    RecordingAnalysis& analysis() const { return *m_analysis; }
    // The silent stretches of the loaded recording, known once its envelope is complete.
    const std::vector<Silence>& silences() const { return m_silences; }
    QWidget* displayArea() const;
    // The bar along which seconds map to pixels, and the flags' home, in the panel's pixels.
    QRect barRect() const { return m_bar; }
    QRect flagHome() const { return m_flagHome; }

    // What the display shows now.
    PanelDisplayState displayState() const;
    QList<DisplayItem> displayItems() const;
    BarPictures barPictures() const;

    // The panel's state.
    std::unique_ptr<CMp3Ctrl> m_pPlayer;
    QString m_strPath;
    tagVoiceHeader m_header{};
    bool m_bHeaderDirty = false;
    QString m_strMemo;
    int m_nSelCount = 0;
    int m_nRowNumber = 0;
    int64_t m_fileTime = 0;
    uint32_t m_nDuration = 0;
    uint32_t m_nPosition = 0;
    uint32_t m_nBegin = 0;
    uint32_t m_nEnd = 0;
    bool m_bEndReached = false;
    int m_nPlayMode = 0;
    bool m_bSeeking = false;
    CMp3Ctrl::PlayerState m_nStateBeforeSeek = CMp3Ctrl::Stopped;
    double m_dPixelsPerSecond = 0;
    bool m_bControlsAllowed = false;
    bool m_bUsbConnected = false;
    bool m_bDragBegin = false;
    bool m_bDragEnd = false;
    bool m_bDragMark = false;
    int m_nDragMark = -1;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    class DisplayArea;

    void buildControls();
    PanelButton* addTransportButton(int controlId, int x, int y);
    void onGraphNotify();
    // Reads the position heard now into m_nPosition.
    void followEngine();
    // While playing, a tick just after the next whole second is heard.
    void scheduleNextSecond();
    void onPositionAction(int action);
    void onPositionReleased();
    void seekToSlider(bool restore);
    void finishPositionNotice();
    void onSpeedChanged(int speed);
    void changeSpeed(int speed);
    // The speed list shows the preset of the rate, or an item of its own for another rate.
    void showRate();
    // PLAY; after PAUSE it first goes back by the rewind on resume unless told not to.
    void play(bool rewind);
    void jumpTo(uint64_t milliseconds);
    void buildOverviewRow();
    void placeOverviewRow();
    // Brings the strip up to the panel's section, marks and position.
    void syncOverview();
    void onEnvelopeCompleted();
    void seekFromOverview(uint32_t second, bool finished);
    // While playing with silence skipped: jumps over the silence being heard, and
    // wakes up when the next one begins.
    void skipSilenceIfDue();
    uint64_t positionMilliseconds();
    void onMemoChanged();
    void onMemoCommit(bool focusLost);
    void storeMemo(const QString& text);
    bool playable() const;
    bool editable() const;
    void endDrags();
    void clearEndNotice() { m_bEndReached = false; }
    void restoreFocus();
    void refreshFocusedRow();
    void refreshRow(int row);
    void sectionChanged();
    void setPixelsPerSecond(uint32_t duration);
    IndexMarks marks() const { return GetIndexMarks(m_header); }
    void setMarks(const IndexMarks& marks) { SetIndexMarks(m_header, marks); }

    RecordingListHost* m_host = nullptr;
    // The file the header copy was read from, and whether there was one to read:
    // the copy goes back only into that file.
    FileIdentity m_readFrom;
    bool m_bHeaderRead = false;
    // The header as read, and its memo as the memo box gave it back: a memo
    // the user leaves as it was keeps its bytes (line breaks, what follows its
    // terminator), and only bytes that differ from these are written.
    tagVoiceHeader m_headerAsRead{};
    QString m_strMemoAsRead;
    // The control that had the keyboard focus when the controls last changed.
    QPointer<QWidget> m_focusToKeep;
    QBasicTimer m_timer;
    QBasicTimer m_secondTimer;
    QBasicTimer m_silenceTimer;
    AnalysisSettings m_analysisSettings;
    RecordingAnalysis* m_analysis = nullptr;
    OverviewStrip* m_overview = nullptr;
    QCheckBox* m_skipSilenceBox = nullptr;
    QGroupBox* m_frame = nullptr;
    std::vector<Silence> m_silences;
    std::function<void(bool)> m_skipSilenceListener;
    DisplayArea* m_display;
    std::map<int, PanelButton*> m_transport;
    QPushButton* m_protect;
    QPushButton* m_index;
    SectionSlider* m_positionSlider;
    QSlider* m_volumeSlider;
    QComboBox* m_playModeList;
    QComboBox* m_speedList;
    CEditEx* m_memo;
    QLabel* m_beginMarker;
    QLabel* m_endMarker;
    QLabel* m_beginLabel;
    QLabel* m_endLabel;
    QRect m_bar;
    QRect m_flagHome;
    IndexDialogRunner m_runIndexDialog;
    TransportSettings m_transportSettings;
    TransportNotifier m_notifier;
};

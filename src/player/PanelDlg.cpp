#include "PanelDlg.h"

#include "widgets/EditEx.h"
#include "IndexDlg.h"
#include "PanelArtwork.h"
#include "PanelButton.h"
#include "SectionSlider.h"
#include "player/OverviewStrip.h"
#include "analysis/RecordingAnalysis.h"
#include "platform/Cp932.h"
#include "platform/MessageBoxes.h"
#include "platform/WaitCursor.h"
#include "recording/RecordingFile.h"
#include "recording/VoiceDuration.h"
#include "transport/PlaybackRate.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTimerEvent>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The panel keeps the proportions of its form, laid out in dialog units of
// 1.5 pixels across and 1.625 pixels down (the form is 559 × 138 units).
QRect dlu(int x, int y, int width, int height)
{
    const auto across = [](int units) { return qRound(units * 1.5); };
    const auto down = [](int units) { return qRound(units * 1.625); };
    return QRect(across(x), down(y), across(width), down(height));
}

bool isAsciiSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

// White space at both ends cut off, as the recorder's memo is kept.
QString trimmedMemo(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isAsciiSpace(text.at(begin)))
        ++begin;
    while (end > begin && isAsciiSpace(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

QString memoOfHeader(const tagVoiceHeader& header)
{
    const char* memo = header.memo;
    const size_t length = strnlen(memo, kMemoBytes);
    // Bytes that are no CP932 text (a character cut at the 256th byte) cannot
    // be written back; the memo shows without them.
    QString text = Cp932ToUnicode(QByteArray(memo, qsizetype(length)));
    text.remove(QChar::ReplacementCharacter);
    // The memo box breaks lines with LF alone.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return trimmedMemo(text);
}

// The memo box's text as the header stores it: lines broken by CR LF, as the
// recorder and every earlier version write them.
QString storedMemo(const QString& text)
{
    QString stored = text;
    stored.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return stored;
}

int memoBytes(const QString& text)
{
    const Cp932Encoding encoded = UnicodeToCp932(storedMemo(text));
    return encoded.ok() ? int(encoded.bytes.size()) : -1;
}

// Whether the two headers differ in the played mark alone.
bool onlyPlayedMarkDiffers(const tagVoiceHeader& changed, const tagVoiceHeader& read)
{
    tagVoiceHeader withoutMark = changed;
    withoutMark.playedFlag = read.playedFlag;
    return std::memcmp(&withoutMark, &read, sizeof read) == 0;
}

const char* const kTransportTips[] = {"頭出し（前）", "早戻し", "早送り", "頭出し（次）", "一時停止", "停止", "再生"};

} // namespace

// The display area: paints what the panel's state says, and nothing else.
class CPanelDlg::DisplayArea : public QWidget
{
public:
    DisplayArea(CPanelDlg& panel, QWidget* parent) : QWidget(parent), m_panel(panel)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        PaintDisplayItems(painter, m_panel.displayItems(), size());
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }

private:
    CPanelDlg& m_panel;
};

CPanelDlg::CPanelDlg(AudioOutputFactory outputs, QWidget* parent)
    : QWidget(parent), m_pPlayer(std::make_unique<CMp3Ctrl>(std::move(outputs))),
      m_analysisSettings(AnalysisSettings::Load()),
      m_runIndexDialog([](CIndexDlg& dialog) { return dialog.exec(); })
{
    buildControls();
    buildOverviewRow();
    connect(m_pPlayer.get(), &CMp3Ctrl::graphNotify, this, &CPanelDlg::onGraphNotify);
    // The tick runs only while something plays: idle, the panel never wakes up.
    connect(m_pPlayer.get(), &CMp3Ctrl::stateChanged, this, [this] {
        if (m_pPlayer->m_state == CMp3Ctrl::Playing && !m_timer.isActive())
            m_timer.start(kTimerMilliseconds, this);
    });
    applyTransportSettings(TransportSettings::Load());
    UpdateControls();
    UnloadRecording(0);
}

CPanelDlg::~CPanelDlg()
{
    m_timer.stop();
    CommitHeader();
}

PanelButton* CPanelDlg::addTransportButton(int controlId, int x, int y)
{
    static const std::map<int, TransportButton> kinds{
        {IdSkipBack, TransportButton::SkipBack},       {IdFastBack, TransportButton::FastBack},
        {IdFastForward, TransportButton::FastForward}, {IdSkipForward, TransportButton::SkipForward},
        {IdPause, TransportButton::Pause},             {IdStop, TransportButton::Stop},
        {IdPlay, TransportButton::Play},
    };
    const TransportButton kind = kinds.at(controlId);
    auto* button = new PanelButton(kind, this);
    const QString tip = QString::fromUtf8(kTransportTips[int(kind)]);
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    button->setGeometry(QRect(dlu(x, y, 0, 0).topLeft(), button->sizeHint()));
    m_transport[controlId] = button;
    return button;
}

void CPanelDlg::buildControls()
{
    setFixedSize(dlu(0, 0, 559, 138).size());
    m_frame = new QGroupBox(this);
    m_frame->setGeometry(dlu(0, 0, 557, 135));

    m_display = new DisplayArea(*this, this);
    m_display->setGeometry(dlu(5, 10, 272, 84));

    // The transport buttons in the order of their keys: back, then forward, then the players.
    connect(addTransportButton(IdSkipBack, 5, 102), &QAbstractButton::clicked, this, &CPanelDlg::OnSkipBack);
    connect(addTransportButton(IdFastBack, 28, 102), &QAbstractButton::clicked, this, &CPanelDlg::OnFastBack);
    connect(addTransportButton(IdFastForward, 51, 102), &QAbstractButton::clicked, this, &CPanelDlg::OnFastForward);
    connect(addTransportButton(IdSkipForward, 74, 102), &QAbstractButton::clicked, this, &CPanelDlg::OnSkipForward);
    connect(addTransportButton(IdPause, 97, 102), &QAbstractButton::clicked, this, &CPanelDlg::OnPause);
    connect(addTransportButton(IdStop, 120, 102), &QAbstractButton::clicked, this, &CPanelDlg::OnStop);
    connect(addTransportButton(IdPlay, 143, 102), &QAbstractButton::clicked, this, &CPanelDlg::OnPlay);

    m_protect = new QPushButton(QStringLiteral("保護"), this);
    m_protect->setGeometry(dlu(194, 98, 39, 32));
    connect(m_protect, &QPushButton::clicked, this, &CPanelDlg::OnProtect);
    m_index = new QPushButton(QStringLiteral("ｲﾝﾃﾞｯｸｽ"), this);
    m_index->setGeometry(dlu(238, 98, 39, 32));
    connect(m_index, &QPushButton::clicked, this, &CPanelDlg::OnIndex);

    m_flagHome = QRect(dlu(292, 9, 0, 0).topLeft(), PanelArtwork::flagSize());
    m_positionSlider = new SectionSlider(this);
    m_positionSlider->setGeometry(dlu(294, 18, 255, 26));
    m_positionSlider->setPageStep(10);
    connect(m_positionSlider, &QAbstractSlider::actionTriggered, this, &CPanelDlg::onPositionAction);
    connect(m_positionSlider, &QAbstractSlider::sliderReleased, this, &CPanelDlg::onPositionReleased);

    m_bar = dlu(303, 48, 238, 1);
    m_bar.setHeight(2);
    const qreal ratio = devicePixelRatioF();
    const auto marker = [&](const QPixmap& picture, int x) {
        auto* label = new QLabel(this);
        label->setPixmap(picture);
        label->setGeometry(QRect(dlu(x, 45, 0, 0).topLeft(), PanelArtwork::markerSize()));
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        return label;
    };
    m_beginMarker = marker(PanelArtwork::beginMarker(ratio), 296);
    m_endMarker = marker(PanelArtwork::endMarker(ratio), 541);
    const auto sectionLabel = [&](const QString& text, int x) {
        auto* label = new QLabel(text, this);
        label->setAlignment(Qt::AlignCenter);
        label->setGeometry(dlu(x, 57, 24, 8));
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        return label;
    };
    m_beginLabel = sectionLabel(QStringLiteral("開始"), 289);
    m_endLabel = sectionLabel(QStringLiteral("終了"), 528);

    const auto listGroup = [&](const QString& title, int x, const QStringList& items, int selected) {
        auto* group = new QGroupBox(title, this);
        group->setGeometry(dlu(x, 71, 56, 27));
        auto* list = new QComboBox(this);
        list->addItems(items);
        list->setCurrentIndex(selected);
        list->setGeometry(QRect(dlu(x + 6, 81, 44, 0).topLeft(), QSize(dlu(0, 0, 44, 0).width(), list->sizeHint().height())));
        return list;
    };
    m_playModeList = listGroup(QStringLiteral("再生ﾓｰﾄﾞ"), 284,
                               {QStringLiteral("1  回 "), QStringLiteral("ﾘﾋﾟｰﾄ "), QStringLiteral("連 続 ")}, 0);
    connect(m_playModeList, &QComboBox::currentIndexChanged, this, [this](int index) { m_nPlayMode = index; });
    m_speedList = listGroup(QStringLiteral("再生速度"), 346,
                            {QStringLiteral("速 い "), QStringLiteral("標 準 "), QStringLiteral("遅 い ")}, 1);
    connect(m_speedList, &QComboBox::currentIndexChanged, this, &CPanelDlg::onSpeedChanged);

    auto* volumeGroup = new QGroupBox(QStringLiteral("音量"), this);
    volumeGroup->setGeometry(dlu(285, 100, 117, 30));
    m_volumeSlider = new QSlider(Qt::Horizontal, this);
    m_volumeSlider->setGeometry(dlu(291, 108, 109, 18));
    m_volumeSlider->setRange(0, 100);
    m_volumeSlider->setTickPosition(QSlider::TicksBelow);
    m_volumeSlider->setTickInterval(10);
    m_volumeSlider->setPageStep(10);
    m_volumeSlider->setValue(int(m_pPlayer->m_volume));
    connect(m_volumeSlider, &QSlider::valueChanged, this, [this](int volume) {
        m_pPlayer->SetVolume(uint32_t(volume));
        Q_EMIT m_notifier.volumeChanged();
    });

    auto* memoLabel = new QLabel(QStringLiteral("メ\nモ"), this);
    memoLabel->setGeometry(dlu(406, 77, 8, 16));
    m_memo = new CEditEx(1041, this);
    m_memo->setGeometry(dlu(418, 77, 132, 55));
    m_memo->setByteLimit(kMemoBytes);
    m_memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoLabel->setBuddy(m_memo);
    connect(m_memo, &CEditEx::changed, this, &CPanelDlg::onMemoChanged);
    connect(m_memo, &CEditEx::commit, this, [this](int, bool focusLost) { onMemoCommit(focusLost); });
    connect(m_memo, &CEditEx::inputRefused, this, [this](int, const QString& reason) {
        if (!reason.isEmpty())
            QToolTip::showText(m_memo->mapToGlobal(QPoint(0, m_memo->height())), reason, m_memo);
    });

    // Keyboard order: the transport buttons as they stand, then the rest left to right.
    QWidget* previous = m_transport[IdSkipBack];
    for (QWidget* next : std::initializer_list<QWidget*>{
             m_transport[IdFastBack], m_transport[IdFastForward], m_transport[IdSkipForward], m_transport[IdPause],
             m_transport[IdStop], m_transport[IdPlay], m_protect, m_index, m_positionSlider, m_playModeList,
             m_speedList, m_volumeSlider, m_memo}) {
        setTabOrder(previous, next);
        previous = next;
    }
}

PanelButton* CPanelDlg::button(int controlId) const
{
    const auto found = m_transport.find(controlId);
    return found != m_transport.end() ? found->second : nullptr;
}

QWidget* CPanelDlg::displayArea() const
{
    return m_display;
}

QPushButton* CPanelDlg::pushButton(int controlId) const
{
    return controlId == IdProtect ? m_protect : controlId == IdIndex ? m_index : nullptr;
}

// ---- What the view asks ---------------------------------------------------

bool CPanelDlg::CommitHeader()
{
    bool result = true;
    if (!m_strPath.isEmpty()) {
        if (!m_bHeaderDirty) {
            const QString text = trimmedMemo(m_memo->text());
            if (text != m_strMemo) {
                storeMemo(text);
                refreshRow(m_nRowNumber - 1);
                m_bHeaderDirty = true;
            }
        }
        if (m_bHeaderDirty && std::memcmp(&m_header, &m_headerAsRead, sizeof m_header) != 0) {
            // Not retried, even when a message box shown by the write lets another commit in.
            m_bHeaderDirty = false;
            // The engine lets go of the file before its header is written.
            m_pPlayer->Stop();
            m_pPlayer->Close();
            const HeaderChange change =
                onlyPlayedMarkDiffers(m_header, m_headerAsRead) ? HeaderChange::Automatic : HeaderChange::User;
            // A file whose header could not be read gets nothing written over it.
            const bool written = m_bHeaderRead && WriteVoiceHeader(m_strPath, m_header, m_readFrom, change);
            if (written) {
                m_headerAsRead = m_header;
            } else {
                // The row shows what the file holds, not the change that did not
                // reach it; a file that cannot be read either leaves the row as it is.
                tagVoiceHeader stored{};
                if (ReadVoiceHeader(m_strPath, stored)) {
                    m_header = stored;
                    refreshRow(m_nRowNumber - 1);
                }
            }
            result = written || change == HeaderChange::Automatic;
        }
    }
    m_bHeaderDirty = false;
    return result;
}

bool CPanelDlg::LoadRecording(const QString& path, int rowNumber)
{
    const bool result = CommitHeader();
    m_bHeaderDirty = false;
    m_strPath.clear();
    endDrags();

    m_header = tagVoiceHeader{};
    m_headerAsRead = m_header;
    m_bHeaderRead = false;
    m_readFrom = {};
    {
        RecordingFile file;
        if (file.open(path, RecordingFile::Access::Read)) {
            m_fileTime = file.creationTime();
            m_readFrom = file.identity();
            m_bHeaderRead = ReadVoiceHeader(file, m_header);
            m_headerAsRead = m_header;
        } else {
            m_fileTime = RecordingFile::CreationTimeOf(path);
        }
    }
    m_pPlayer->Open(path);
    m_strPath = path;

    m_nDuration = uint32_t(std::min<uint64_t>(m_pPlayer->m_duration, UINT32_MAX));
    m_nPosition = uint32_t(m_pPlayer->GetPosition());
    m_nBegin = 0;
    m_nEnd = m_nDuration;
    {
        const QSignalBlocker quiet(m_positionSlider);
        m_positionSlider->setRange(0, int(m_nDuration));
        m_positionSlider->setValue(int(m_nPosition));
        m_positionSlider->setTickInterval(int(m_nDuration / 10));
    }
    setPixelsPerSecond(m_nDuration);
    m_nSelCount = 1;
    m_nRowNumber = rowNumber;
    m_silences.clear();
    m_analysis->load(path);
    m_overview->setEnvelope(&m_analysis->envelope(), m_nDuration);

    UpdateControls();
    PlaceSectionMarkers();
    RepaintBar();
    m_memo->setText(memoOfHeader(m_header));
    // What the box gives back for the memo as read is the memo unchanged.
    m_strMemo = trimmedMemo(m_memo->text());
    m_strMemoAsRead = m_strMemo;
    RedrawDisplay();
    Q_EMIT m_notifier.recordingChanged();
    return result;
}

bool CPanelDlg::UnloadRecording(int selectedCount)
{
    const bool result = CommitHeader();
    m_bHeaderDirty = false;
    m_nSelCount = std::max(selectedCount, 0);
    endDrags();
    // The path goes first: what is painted below is drawn for no recording.
    const bool wasLoaded = !m_strPath.isEmpty();
    m_strPath.clear();
    if (wasLoaded) {
        m_pPlayer->Close();
        m_analysis->clear();
        m_silences.clear();
        m_overview->setEnvelope(nullptr, 0);
    }
    // As if a recording one second long were loaded, the section all of it: the
    // markers stand at the bar's two ends, also before anything was ever loaded
    // (a begin kept from a longer recording would put its marker off the bar).
    setPixelsPerSecond(1);
    m_nBegin = 0;
    m_nEnd = 1;
    {
        const QSignalBlocker quiet(m_positionSlider);
        m_positionSlider->setRange(int(m_nBegin), 1);
    }
    m_strMemo.clear();
    m_strMemoAsRead.clear();
    m_memo->setText(QString());
    if (selectedCount != 1)
        m_bControlsAllowed = false;
    // Without a recording nothing is left to play or edit, whatever the count.
    UpdateControls();
    // The flags and labels depend on the count too: a second unload with
    // another count draws them again.
    PlaceSectionMarkers();
    RepaintBar();
    RedrawDisplay();
    if (wasLoaded)
        Q_EMIT m_notifier.recordingChanged();
    return result;
}

void CPanelDlg::setControlsAllowed(bool allowed)
{
    m_bControlsAllowed = allowed;
    UpdateControls();
}

void CPanelDlg::setPosition(int rowNumber)
{
    m_nRowNumber = rowNumber;
    RedrawDisplay();
}

void CPanelDlg::setUsbConnected(bool connected)
{
    m_bUsbConnected = connected;
    RedrawDisplay();
}

void CPanelDlg::UpdateControls()
{
    if (m_nSelCount == 0 && m_bControlsAllowed)
        return;
    // One row selected but no recording loaded (the focus on another row) is nothing to edit.
    const bool one = m_nSelCount == 1 && m_bControlsAllowed && !m_strPath.isEmpty();
    const CMp3Ctrl::PlayerState state = m_pPlayer->m_state;
    const std::pair<QWidget*, bool> controls[] = {
        {m_transport[IdPlay], one && state != CMp3Ctrl::Playing && playable()},
        {m_transport[IdPause], one && state == CMp3Ctrl::Playing},
        {m_transport[IdStop], one && state != CMp3Ctrl::Stopped},
        {m_transport[IdFastForward], one && state != CMp3Ctrl::Stopped},
        {m_transport[IdFastBack], one && state != CMp3Ctrl::Stopped},
        {m_transport[IdSkipBack], one},
        {m_transport[IdSkipForward], one},
        {m_protect, one},
        // A recording of no length has no second to put a mark at: the dialog and
        // the flags would turn every mark into one at 0, which deletes it.
        {m_index, one && m_nDuration > 0},
        {m_positionSlider, one},
        {m_memo, one},
    };
    m_overview->setSeekable(one);
    // Qt passes the focus of a control being disabled on to the next one in the
    // chain, where a key meant for the player would change the play mode or the
    // protect mark: the focus waits on the panel while the controls change.
    QWidget* focused = QApplication::focusWidget();
    for (const auto& [control, enabled] : controls) {
        if (control == focused && !enabled) {
            m_focusToKeep = focused;
            setFocus(Qt::OtherFocusReason);
        }
    }
    for (const auto& [control, enabled] : controls)
        control->setEnabled(enabled);
    restoreFocus();
    // What the keys and media controls may do follows the buttons.
    Q_EMIT m_notifier.stateChanged();
}

void CPanelDlg::restoreFocus()
{
    if (!m_focusToKeep || QApplication::focusWidget() != this)
        return;
    QWidget* target = m_focusToKeep;
    if (!target->isEnabled()) {
        // PLAY and PAUSE stand in for each other; STOP hands over to PLAY.
        if (target == m_transport[IdPlay])
            target = m_transport[IdPause]->isEnabled() ? m_transport[IdPause] : m_transport[IdStop];
        else if (target == m_transport[IdPause] || target == m_transport[IdStop])
            target = m_transport[IdPlay];
    }
    if (target->isEnabled()) {
        target->setFocus(Qt::OtherFocusReason);
        m_focusToKeep = nullptr;
    }
}

void CPanelDlg::RedrawDisplay()
{
    m_display->repaint(m_display->rect().adjusted(1, 1, -1, -1));
    syncOverview();
}

void CPanelDlg::RepaintBar()
{
    syncOverview();
    repaint(m_flagHome);
    repaint(QRect(QPoint(m_bar.left(), m_flagHome.top()),
                  QPoint(m_bar.right() + m_flagHome.width(), m_flagHome.bottom())));
}

void CPanelDlg::PlaceSectionMarkers()
{
    if (m_nSelCount == 0) {
        m_beginLabel->setText(QStringLiteral("開始"));
        m_endLabel->setText(QStringLiteral("終了"));
    } else {
        m_beginLabel->setText(FormatSectionTime(m_nBegin));
        m_endLabel->setText(FormatSectionTime(m_nEnd));
    }
    const double left = m_bar.left();
    const double p = m_dPixelsPerSecond;
    m_beginMarker->move(int(p * m_nBegin + left - m_beginMarker->width()), m_beginMarker->y());
    m_endMarker->move(int(p * m_nEnd + left), m_endMarker->y());
    m_beginLabel->move(int(p * m_nBegin + left - m_beginLabel->width() / 2), m_beginLabel->y());
    m_endLabel->move(int(p * m_nEnd + left - m_endLabel->width() / 2), m_endLabel->y());
    m_positionSlider->setSection(int(m_nBegin), int(m_nEnd));
    syncOverview();
}

void CPanelDlg::setPixelsPerSecond(uint32_t duration)
{
    // A recording of no length is drawn as one second long: nothing divides by zero.
    m_dPixelsPerSecond = double(m_bar.width()) / double(std::max<uint32_t>(duration, 1));
}

// ---- The transport --------------------------------------------------------

bool CPanelDlg::playable() const
{
    // A file the engine could not open (its reason was shown then) has nothing to
    // play; without an audio output PLAY still says why it cannot play.
    return m_pPlayer->IsOpen() || g_bNoAudioOutput;
}

void CPanelDlg::OnPlay()
{
    play(true);
}

void CPanelDlg::play(bool rewind)
{
    if (!playable())
        return;
    if (rewind && m_pPlayer->m_state == CMp3Ctrl::Paused && m_pPlayer->IsOpen() &&
        m_transportSettings.rewindOnResumeSeconds > 0) {
        // A listener who paused has lost the last words: play on from a little before.
        const uint64_t heard = m_pPlayer->GetPositionMilliseconds();
        const uint64_t back = uint64_t(m_transportSettings.rewindOnResumeSeconds) * 1000;
        m_pPlayer->SeekMilliseconds(heard > back ? heard - back : 0);
        followEngine();
    }
    m_bEndReached = false;
    m_pPlayer->Play();
    scheduleNextSecond();
    UpdateControls();
    m_header.playedFlag = 2;
    refreshFocusedRow();
    m_bHeaderDirty = true;
    RedrawDisplay();
}

void CPanelDlg::OnStop()
{
    m_pPlayer->Stop();
    // The thumb goes where the next PLAY starts: the section's begin.
    followEngine();
    if (!m_positionSlider->isSliderDown())
        m_positionSlider->setValue(int(m_nPosition));
    UpdateControls();
    RedrawDisplay();
}

void CPanelDlg::OnPause()
{
    m_pPlayer->Pause();
    UpdateControls();
    RedrawDisplay();
}

void CPanelDlg::OnFastBack()
{
    clearEndNotice();
    m_pPlayer->StepBack();
    OnTimer();
}

void CPanelDlg::OnFastForward()
{
    clearEndNotice();
    m_pPlayer->StepForward();
    OnTimer();
}

void CPanelDlg::OnSkipForward()
{
    const CMp3Ctrl::PlayerState state = m_pPlayer->m_state;
    if (state == CMp3Ctrl::Stopped) {
        if (m_host)
            m_host->SelectNextRecording();
        return;
    }
    clearEndNotice();
    followEngine();
    const IndexMarks slots = marks();
    const auto next = std::find_if(slots.begin(), slots.end(),
                                   [this](uint32_t mark) { return mark != kEmptyIndexMark && mark > m_nPosition; });
    if (next != slots.end() && *next <= m_nEnd) {
        m_pPlayer->SetPosition(*next);
        if (state == CMp3Ctrl::Paused) {
            m_pPlayer->Pause();
            return;
        }
    } else if (!m_host || !m_host->SelectNextRecording()) {
        return;
    }
    if (state == CMp3Ctrl::Playing)
        OnPlay();
}

void CPanelDlg::OnSkipBack()
{
    const CMp3Ctrl::PlayerState state = m_pPlayer->m_state;
    if (state == CMp3Ctrl::Stopped) {
        if (m_host)
            m_host->SelectPrevRecording();
        return;
    }
    clearEndNotice();
    followEngine();
    const IndexMarks slots = marks();
    const auto previous = std::find_if(slots.rbegin(), slots.rend(), [this](uint32_t mark) {
        return mark != kEmptyIndexMark && mark < m_nPosition;
    });
    if (previous != slots.rend() && *previous >= m_nBegin) {
        m_pPlayer->SetPosition(*previous);
        if (state == CMp3Ctrl::Paused) {
            m_pPlayer->Pause();
            return;
        }
    } else {
        m_pPlayer->SetPosition(m_nBegin);
    }
    if (state == CMp3Ctrl::Playing)
        OnPlay();
}

void CPanelDlg::OnReplay()
{
    if (!playable() || !m_pPlayer->IsOpen())
        return;
    clearEndNotice();
    const uint64_t heard = m_pPlayer->m_state == CMp3Ctrl::Stopped
                               ? uint64_t(m_nBegin) * 1000
                               : m_pPlayer->GetPositionMilliseconds();
    const uint64_t back = uint64_t(m_transportSettings.replaySeconds) * 1000;
    m_pPlayer->SeekMilliseconds(heard > back ? heard - back : 0);
    followEngine();
    if (m_pPlayer->m_state == CMp3Ctrl::Playing)
        OnTimer();
    else
        play(false);
}

void CPanelDlg::OnProtect()
{
    m_header.protectFlag = m_header.protectFlag == 0 ? 1 : 0;
    RedrawDisplay();
    refreshFocusedRow();
    m_bHeaderDirty = true;
}

void CPanelDlg::OnIndex()
{
    if (m_pPlayer->m_state == CMp3Ctrl::Stopped) {
        CIndexDlg dialog(m_nDuration, marks(), window());
        const QString shown = m_strPath;
        // The marks belong to the recording the dialog was opened for.
        if (m_runIndexDialog(dialog) == QDialog::Accepted && m_strPath == shown && !shown.isEmpty()) {
            setMarks(dialog.m_marks);
            refreshFocusedRow();
            m_bHeaderDirty = true;
        }
        RepaintBar();
        RedrawDisplay();
        return;
    }
    // Playing or paused: a mark at the second heard comes or goes.
    followEngine();
    IndexMarks slots = marks();
    for (uint32_t& slot : slots) {
        if (slot == kEmptyIndexMark) {
            slot = m_nPosition;
            break;
        }
        if (slot == m_nPosition) {
            slot = kEmptyIndexMark;
            break;
        }
    }
    NormalizeIndexMarks(slots);
    setMarks(slots);
    refreshFocusedRow();
    m_bHeaderDirty = true;
    RepaintBar();
    RedrawDisplay();
}

void CPanelDlg::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_timer.timerId()) {
        OnTimer();
    } else if (event->timerId() == m_secondTimer.timerId()) {
        m_secondTimer.stop();
        OnTimer();
    } else if (event->timerId() == m_silenceTimer.timerId()) {
        m_silenceTimer.stop();
        OnTimer();
    } else {
        QWidget::timerEvent(event);
    }
}

void CPanelDlg::followEngine()
{
    m_nPosition = uint32_t(m_pPlayer->GetPosition());
}

void CPanelDlg::scheduleNextSecond()
{
    if (m_pPlayer->m_state != CMp3Ctrl::Playing) {
        m_secondTimer.stop();
        return;
    }
    // The display turns to the next second as that second is heard, not at whichever
    // tick comes after it.
    const uint64_t into = m_pPlayer->GetPositionMilliseconds() % 1000;
    const int due = int(double(1000 - into) / m_pPlayer->m_tempo) + kSecondLateMilliseconds;
    if (due < kTimerMilliseconds)
        m_secondTimer.start(due, Qt::PreciseTimer, this);
}

void CPanelDlg::OnTimer()
{
    skipSilenceIfDue();
    followEngine();
    if (m_pPlayer->m_state == CMp3Ctrl::Playing && m_bEndReached) {
        m_bEndReached = false;
        m_pPlayer->Stop();
        m_nPosition = uint32_t(m_pPlayer->GetPosition());
        UpdateControls();
        if (m_nPlayMode == 1) {
            // Stopped at the end, the position lies at the begin point again.
            m_pPlayer->Play();
            UpdateControls();
        } else if (m_nPlayMode == 2) {
            if (m_host && m_host->SelectNextRecording())
                OnPlay();
        }
        UpdateControls();
    }
    // The thumb stays where the user holds it.
    if (!m_positionSlider->isSliderDown())
        m_positionSlider->setValue(int(m_nPosition));
    RedrawDisplay();
    scheduleNextSecond();
    // One tick after playing stopped shows where it stopped; then the tick rests.
    if (m_pPlayer->m_state != CMp3Ctrl::Playing)
        m_timer.stop();
}

void CPanelDlg::onGraphNotify()
{
    if (!m_pPlayer->DrainEvents())
        return;
    // The end is acted on as it is heard, not at the next tick.
    m_bEndReached = true;
    OnTimer();
}

// ---- The position slider ---------------------------------------------------

void CPanelDlg::seekToSlider(bool restore)
{
    // A seek made just after the end was reached is no end any more.
    clearEndNotice();
    if (!m_pPlayer->IsOpen())
        return;
    if (!m_bSeeking) {
        m_nStateBeforeSeek = m_pPlayer->m_state;
        m_bSeeking = true;
        m_pPlayer->Pause();
    }
    // Never the end point itself, which would end playback there and then.
    uint32_t target = uint32_t(std::max(m_positionSlider->sliderPosition(), 0));
    if (target >= m_nEnd)
        target = m_nEnd > 0 ? m_nEnd - 1 : 0;
    m_pPlayer->SetPosition(target);
    if (!restore)
        return;
    if (m_nStateBeforeSeek == CMp3Ctrl::Playing)
        m_pPlayer->Play();
    else if (m_pPlayer->GetPosition() <= m_nBegin)
        m_pPlayer->Stop();
    else
        m_pPlayer->Pause();
}

void CPanelDlg::onPositionAction(int action)
{
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
    case QAbstractSlider::SliderSingleStepSub:
    case QAbstractSlider::SliderPageStepAdd:
    case QAbstractSlider::SliderPageStepSub:
        seekToSlider(true);
        // A step ends its own tracking.
        m_bSeeking = false;
        break;
    case QAbstractSlider::SliderMove:
        // The thumb dragged (tracking goes on until it is released), or the wheel (a step of its own).
        seekToSlider(!m_positionSlider->isSliderDown());
        if (!m_positionSlider->isSliderDown())
            m_bSeeking = false;
        break;
    default: // Home and End: nothing but what follows
        break;
    }
    finishPositionNotice();
}

void CPanelDlg::onPositionReleased()
{
    seekToSlider(true);
    m_bSeeking = false;
    finishPositionNotice();
}

void CPanelDlg::finishPositionNotice()
{
    followEngine();
    m_positionSlider->setSliderPosition(int(m_nPosition));
    m_positionSlider->setValue(int(m_nPosition));
    UpdateControls();
    RedrawDisplay();
    scheduleNextSecond();
}

void CPanelDlg::onSpeedChanged(int speed)
{
    // The item of a rate between the presets is no speed to choose.
    if (speed < CMp3Ctrl::Fast || speed > CMp3Ctrl::Slow)
        return;
    {
        WaitCursor wait;
        changeSpeed(speed);
    }
    showRate();
    Q_EMIT m_notifier.rateChanged();
}

void CPanelDlg::changeSpeed(int speed)
{
    if (m_pPlayer->m_state == CMp3Ctrl::Playing) {
        // Playing goes on from the second it had reached.
        const uint64_t at = m_pPlayer->GetPosition();
        m_pPlayer->Pause();
        m_pPlayer->SetSpeed(speed);
        m_pPlayer->SetPosition(at);
        m_pPlayer->Play();
    } else {
        m_pPlayer->SetSpeed(speed);
    }
}

void CPanelDlg::showRate()
{
    const QSignalBlocker quiet(m_speedList);
    while (m_speedList->count() > 3)
        m_speedList->removeItem(3);
    for (int speed = CMp3Ctrl::Fast; speed <= CMp3Ctrl::Slow; ++speed) {
        if (CMp3Ctrl::Tempo(speed) == m_pPlayer->m_tempo) {
            m_speedList->setCurrentIndex(speed);
            return;
        }
    }
    m_speedList->addItem(QStringLiteral("×%1").arg(m_pPlayer->m_tempo, 0, 'f', 2));
    m_speedList->setCurrentIndex(3);
}

// ---- The transport as keys, pedals and media controls drive it --------------

void CPanelDlg::applyTransportSettings(const TransportSettings& settings)
{
    m_transportSettings = settings;
    m_pPlayer->SetStepSizes(settings.backSkipSeconds, settings.forwardSkipSeconds);
}

TransportTarget::State CPanelDlg::transportState() const
{
    return m_strPath.isEmpty() ? NothingLoaded : State(m_pPlayer->m_state);
}

bool CPanelDlg::canRunTransport(TransportAction action) const
{
    const auto enabled = [this](int control) { return m_transport.at(control)->isEnabled(); };
    const bool loaded =
        m_nSelCount == 1 && m_bControlsAllowed && !m_strPath.isEmpty() && playable();
    const double rate = m_pPlayer->m_tempo;
    switch (action) {
    case TransportAction::PlayPause:
        return enabled(IdPlay) || enabled(IdPause);
    case TransportAction::Stop:
        return enabled(IdStop);
    case TransportAction::StepBack:
        return enabled(IdFastBack);
    case TransportAction::StepForward:
        return enabled(IdFastForward);
    case TransportAction::PreviousIndex:
        return enabled(IdSkipBack);
    case TransportAction::NextIndex:
        return enabled(IdSkipForward);
    case TransportAction::Replay:
    case TransportAction::PlayWhileHeld:
        return loaded;
    case TransportAction::Faster:
        return rate < kMaxPlaybackRate;
    case TransportAction::Slower:
        return rate > kMinPlaybackRate;
    case TransportAction::NormalSpeed:
        return rate != 1.0;
    case TransportAction::None:
        break;
    }
    return false;
}

void CPanelDlg::runTransport(TransportAction action)
{
    if (!canRunTransport(action))
        return;
    switch (action) {
    case TransportAction::PlayPause:
    case TransportAction::PlayWhileHeld:
        if (m_pPlayer->m_state == CMp3Ctrl::Playing)
            OnPause();
        else
            OnPlay();
        return;
    case TransportAction::Stop:
        OnStop();
        return;
    case TransportAction::StepBack:
        OnFastBack();
        break;
    case TransportAction::StepForward:
        OnFastForward();
        break;
    case TransportAction::PreviousIndex:
        OnSkipBack();
        break;
    case TransportAction::NextIndex:
        OnSkipForward();
        break;
    case TransportAction::Replay:
        OnReplay();
        break;
    case TransportAction::Faster:
        setTransportRate(StepPlaybackRate(m_pPlayer->m_tempo, m_transportSettings.speedStep, 1));
        return;
    case TransportAction::Slower:
        setTransportRate(StepPlaybackRate(m_pPlayer->m_tempo, m_transportSettings.speedStep, -1));
        return;
    case TransportAction::NormalSpeed:
        setTransportRate(1.0);
        return;
    case TransportAction::None:
        return;
    }
    // The position jumped.
    Q_EMIT m_notifier.seeked(transportPosition());
}

void CPanelDlg::transportPlay()
{
    if (m_pPlayer->m_state != CMp3Ctrl::Playing && m_transport.at(IdPlay)->isEnabled())
        OnPlay();
}

void CPanelDlg::transportPause()
{
    if (m_pPlayer->m_state == CMp3Ctrl::Playing)
        OnPause();
}

qint64 CPanelDlg::transportPosition()
{
    return m_pPlayer->IsOpen() ? qint64(m_pPlayer->GetPositionMilliseconds()) : 0;
}

void CPanelDlg::transportSeek(qint64 milliseconds)
{
    if (!m_pPlayer->IsOpen() || m_strPath.isEmpty())
        return;
    jumpTo(uint64_t(std::max<qint64>(milliseconds, 0)));
    Q_EMIT m_notifier.seeked(transportPosition());
}

void CPanelDlg::transportNextRecording()
{
    if (m_strPath.isEmpty())
        return;
    const bool playing = m_pPlayer->m_state == CMp3Ctrl::Playing;
    if (m_host && m_host->SelectNextRecording()) {
        if (playing)
            OnPlay();
    } else {
        OnStop();
    }
}

void CPanelDlg::jumpTo(uint64_t milliseconds)
{
    clearEndNotice();
    m_pPlayer->SeekMilliseconds(milliseconds);
    // The slider only follows: moving it would seek again, to the whole second.
    OnTimer();
}

void CPanelDlg::setTransportRate(double rate)
{
    rate = ClampPlaybackRate(rate);
    if (rate == m_pPlayer->m_tempo)
        return;
    if (m_pPlayer->m_state == CMp3Ctrl::Playing && m_pPlayer->IsOpen()) {
        // Playing goes on from the moment heard, at the new rate.
        const uint64_t heard = m_pPlayer->GetPositionMilliseconds();
        m_pPlayer->SetTempo(rate);
        m_pPlayer->SeekMilliseconds(heard);
    } else {
        m_pPlayer->SetTempo(rate);
    }
    showRate();
    scheduleNextSecond();
    Q_EMIT m_notifier.rateChanged();
}

double CPanelDlg::transportVolume() const
{
    return m_volumeSlider->value() / 100.0;
}

void CPanelDlg::setTransportVolume(double volume)
{
    if (std::isnan(volume))
        return;
    m_volumeSlider->setValue(int(std::lround(std::clamp(volume, 0.0, 1.0) * 100)));
}

TransportTrack CPanelDlg::transportTrack() const
{
    TransportTrack track;
    if (m_strPath.isEmpty())
        return track;
    track.path = m_strPath;
    track.title = QFileInfo(m_strPath).fileName();
    const int64_t decoded = m_pPlayer->LengthMicroseconds();
    track.lengthMicroseconds = decoded > 0 ? decoded : qint64(m_nDuration) * 1000000;
    track.memo = m_strMemo;
    track.recordedAt = QDateTime::fromSecsSinceEpoch(m_fileTime);
    return track;
}

// ---- The memo ---------------------------------------------------------------

void CPanelDlg::storeMemo(const QString& text)
{
    if (text == m_strMemoAsRead) {
        // Back to the memo as read: its bytes as they were.
        std::memcpy(m_header.memo, m_headerAsRead.memo, sizeof m_header.memo);
        return;
    }
    const Cp932Encoding encoded = UnicodeToCp932(storedMemo(text), kMemoBytes);
    if (!encoded.ok())
        return;
    std::memset(m_header.memo, 0, sizeof m_header.memo);
    std::memcpy(m_header.memo, encoded.bytes.constData(), size_t(encoded.bytes.size()));
}

void CPanelDlg::onMemoChanged()
{
    QString text = m_memo->text();
    if (memoBytes(text) > kMemoBytes) {
        // Cut back from the caret until the memo fits (the edit's own limit
        // normally keeps it there; this holds for any way text arrives).
        const int firstLine = m_memo->verticalScrollBar()->value();
        qsizetype caret = std::min<qsizetype>(m_memo->textCursor().position(), text.size());
        for (int removed = 0; removed < 1000 && memoBytes(text) > kMemoBytes; ++removed) {
            if (caret <= 0)
                caret = text.size();
            const qsizetype width = caret >= 2 && text.at(caret - 1).isLowSurrogate() ? 2 : 1;
            text.remove(caret - width, width);
            caret -= width;
        }
        m_memo->setText(text);
        m_memo->verticalScrollBar()->setValue(firstLine);
        QTextCursor cursor = m_memo->textCursor();
        cursor.setPosition(int(caret));
        m_memo->setTextCursor(cursor);
    }
    text = trimmedMemo(text);
    if (text != m_strMemo) {
        storeMemo(text);
        m_strMemo = text;
        refreshRow(m_nRowNumber - 1);
        m_bHeaderDirty = true;
    }
}

void CPanelDlg::onMemoCommit(bool focusLost)
{
    // Enter only breaks the line.
    if (!focusLost)
        return;
    m_strMemo = trimmedMemo(m_memo->text());
    storeMemo(m_strMemo);
    refreshRow(m_nRowNumber - 1);
    m_bHeaderDirty = true;
}

void CPanelDlg::refreshFocusedRow()
{
    if (m_host)
        refreshRow(m_host->focusedRow());
}

void CPanelDlg::refreshRow(int row)
{
    if (m_host && row >= 0 && !m_strPath.isEmpty())
        m_host->RefreshRecordRow(m_strPath, row, m_header);
}

// ---- The bar: section markers and index flags ---------------------------------

PanelDisplayState CPanelDlg::displayState() const
{
    PanelDisplayState state;
    state.selCount = m_nSelCount == 1 && m_strPath.isEmpty() ? 0 : m_nSelCount;
    state.engineState = m_pPlayer->m_state;
    state.seeking = m_bSeeking;
    state.duration = m_nDuration;
    state.position = m_nPosition;
    state.fileTime = m_fileTime;
    state.mode = m_header.mode;
    state.playedFlag = m_header.playedFlag;
    state.protectFlag = m_header.protectFlag;
    state.marks = marks();
    state.rowNumber = m_nRowNumber;
    state.usbConnected = m_bUsbConnected;
    return state;
}

QList<DisplayItem> CPanelDlg::displayItems() const
{
    return BuildDisplayItems(displayState(), m_display->size());
}

BarPictures CPanelDlg::barPictures() const
{
    return BuildBarPictures(displayState(), m_bar.left(), m_dPixelsPerSecond, m_bDragMark ? m_nDragMark : -1);
}

void CPanelDlg::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(m_bar.left(), m_bar.top(), m_bar.right(), m_bar.top());
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(m_bar.left(), m_bar.top() + 1, m_bar.right(), m_bar.top() + 1);

    const qreal ratio = devicePixelRatioF();
    const BarPictures pictures = barPictures();
    for (const BarPictures::Flag& flag : pictures.flags)
        painter.drawPixmap(QPoint(flag.left, m_flagHome.top()), PanelArtwork::indexFlag(flag.number, ratio));
    const QPixmap home = pictures.home == BarPictures::Cross      ? PanelArtwork::crossMark(ratio)
                         : pictures.home == BarPictures::NextFlag ? PanelArtwork::indexFlag(pictures.nextNumber, ratio)
                                                                  : PanelArtwork::indexFlag(0, ratio);
    painter.drawPixmap(m_flagHome.topLeft(), home);
}

void CPanelDlg::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_bControlsAllowed || m_nSelCount != 1)
        return;
    const QPoint at = event->position().toPoint();
    const bool stopped = m_pPlayer->m_state == CMp3Ctrl::Stopped;
    for (QLabel* marker : {m_beginMarker, m_endMarker}) {
        if (!marker->geometry().contains(at))
            continue;
        if (stopped)
            (marker == m_beginMarker ? m_bDragBegin : m_bDragEnd) = true;
        else
            ShowMessage(QStringLiteral("停止中以外は操作できません。"), MessageIcon::Information);
    }
    if (!stopped || m_nDuration == 0)
        return;
    const IndexMarks slots = marks();
    int hit = -1;
    for (int j = 0; j < kIndexMarkCount && hit < 0; ++j) {
        const uint32_t mark = slots[size_t(j)];
        if (mark != kEmptyIndexMark
            && m_flagHome.translated(m_bar.left() + int(m_dPixelsPerSecond * mark) - m_flagHome.left(), 0).contains(at))
            hit = j;
    }
    if (hit < 0 && m_flagHome.contains(at)) {
        // A new mark goes into the first empty slot (a header as the recorder
        // wrote it may have one before a set slot).
        const auto empty = std::find(slots.begin(), slots.end(), kEmptyIndexMark);
        if (empty != slots.end())
            hit = int(empty - slots.begin());
    }
    if (hit < 0)
        return;
    m_nDragMark = hit;
    m_bDragMark = true;
    RepaintBar();
}

void CPanelDlg::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_bDragBegin && !m_bDragEnd && !m_bDragMark)
        return;
    const uint32_t s = SecondAtBarOffset(event->position().toPoint().x() - m_bar.left(), m_dPixelsPerSecond, m_nDuration);
    // A marker pulled past the other one stops a second short of it.
    if (m_bDragBegin) {
        const uint32_t begin = m_nEnd > 0 ? std::min(s, m_nEnd - 1) : 0;
        if (begin != m_nBegin) {
            m_nBegin = begin;
            sectionChanged();
        }
    } else if (m_bDragEnd) {
        const uint32_t end = std::max(s, m_nBegin + 1);
        if (end != m_nEnd && end <= m_nDuration) {
            m_nEnd = end;
            sectionChanged();
        }
    } else {
        IndexMarks slots = marks();
        slots[size_t(m_nDragMark)] = s;
        setMarks(slots);
        RepaintBar();
    }
}

void CPanelDlg::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const bool markMoved = m_bDragMark;
    m_bDragBegin = m_bDragEnd = m_bDragMark = false;
    m_nDragMark = -1;
    if (!markMoved)
        return;
    // A flag dropped at the far left (second 0) is deleted by this.
    IndexMarks slots = marks();
    NormalizeIndexMarks(slots);
    setMarks(slots);
    RepaintBar();
    refreshFocusedRow();
    m_bHeaderDirty = true;
    RedrawDisplay();
}

void CPanelDlg::endDrags()
{
    // A drag never carries over from one recording to another.
    m_bDragBegin = m_bDragEnd = m_bDragMark = false;
    m_nDragMark = -1;
    m_bSeeking = false;
    if (mouseGrabber() == this)
        releaseMouse();
}

void CPanelDlg::sectionChanged()
{
    clearEndNotice();
    PlaceSectionMarkers();
    m_pPlayer->SetRange(m_nBegin, m_nEnd);
    if (m_nBegin < m_pPlayer->GetPosition()) {
        m_pPlayer->SetPosition(m_nBegin);
        m_nPosition = uint32_t(m_pPlayer->GetPosition());
        m_positionSlider->setValue(int(m_nPosition));
        RedrawDisplay();
    }
}

// ---- The overview strip and skipping silence ------------------------------------

void CPanelDlg::buildOverviewRow()
{
    m_analysis = new RecordingAnalysis(EnvelopeCache(), this);
    m_overview = new OverviewStrip(this);
    m_overview->setAccessibleName(QStringLiteral("波形"));
    m_skipSilenceBox = new QCheckBox(QStringLiteral("無音部分をスキップ"), this);
    m_skipSilenceBox->setChecked(m_analysisSettings.skipSilence);
    connect(m_skipSilenceBox, &QCheckBox::toggled, this, &CPanelDlg::setSkipSilence);
    connect(m_analysis, &RecordingAnalysis::envelopeChanged, m_overview, &OverviewStrip::envelopeChanged);
    connect(m_analysis, &RecordingAnalysis::completed, this, &CPanelDlg::onEnvelopeCompleted);
    connect(m_overview, &OverviewStrip::seekRequested, this, &CPanelDlg::seekFromOverview);
    setTabOrder(m_memo, m_skipSilenceBox);
    placeOverviewRow();
}

void CPanelDlg::placeOverviewRow()
{
    const QSize form = dlu(0, 0, 559, 138).size();
    const bool shown = m_analysisSettings.showOverview;
    const int row = shown ? kOverviewHeight : m_skipSilenceBox->sizeHint().height() + 6;
    // The strip's time axis is the bar's: a second is above its flag and slider position.
    m_overview->setGeometry(m_bar.left(), form.height() - 2, m_bar.width(), kOverviewHeight);
    m_overview->setVisible(shown);
    const QSize box = m_skipSilenceBox->sizeHint();
    m_skipSilenceBox->setGeometry(dlu(8, 0, 0, 0).left(), form.height() - 2 + (row - box.height()) / 2, box.width(),
                                  box.height());
    m_frame->setGeometry(dlu(0, 0, 557, 135).adjusted(0, 0, 0, row));
    setFixedSize(form.width(), form.height() + row);
}

void CPanelDlg::setOverviewShown(bool shown)
{
    if (shown == m_analysisSettings.showOverview)
        return;
    m_analysisSettings.showOverview = shown;
    m_analysisSettings.save();
    placeOverviewRow();
}

void CPanelDlg::setSkipSilence(bool skip)
{
    if (skip != m_skipSilenceBox->isChecked()) {
        // The box calls back with the new state.
        m_skipSilenceBox->setChecked(skip);
        return;
    }
    if (skip == m_analysisSettings.skipSilence)
        return;
    m_analysisSettings.skipSilence = skip;
    m_analysisSettings.save();
    if (!skip)
        m_silenceTimer.stop();
    syncOverview();
    if (m_skipSilenceListener)
        m_skipSilenceListener(skip);
    skipSilenceIfDue();
}

void CPanelDlg::setSilenceOptions(const SilenceOptions& options)
{
    m_analysisSettings.silence = options;
    m_analysisSettings.save();
    if (m_analysis->isComplete())
        onEnvelopeCompleted();
}

void CPanelDlg::onEnvelopeCompleted()
{
    m_silences = FindSilences(m_analysis->envelope(), m_analysisSettings.silence);
    syncOverview();
    skipSilenceIfDue();
}

uint64_t CPanelDlg::positionMilliseconds()
{
    // Playing or paused, the millisecond heard (a jump lands between seconds); stopped, the second shown.
    return m_pPlayer->m_state != CMp3Ctrl::Stopped && m_pPlayer->IsOpen() ? m_pPlayer->GetPositionMilliseconds()
                                                                           : uint64_t(m_nPosition) * 1000;
}

void CPanelDlg::syncOverview()
{
    if (!m_overview)
        return;
    const bool loaded = !m_strPath.isEmpty();
    m_overview->setSection(loaded ? m_nBegin : 0, loaded ? m_nEnd : 0);
    m_overview->setMarks(loaded ? marks() : IndexMarks{kEmptyIndexMark, kEmptyIndexMark, kEmptyIndexMark,
                                                        kEmptyIndexMark, kEmptyIndexMark});
    m_overview->setPosition(loaded ? positionMilliseconds() : 0);
    m_overview->setDimmed(loaded && m_analysisSettings.skipSilence ? m_silences : std::vector<Silence>{});
}

void CPanelDlg::seekFromOverview(uint32_t second, bool finished)
{
    if (!m_positionSlider->isEnabled())
        return;
    {
        // The same seek as the slider's: the thumb is put there and the slider's rules apply.
        const QSignalBlocker quiet(m_positionSlider);
        m_positionSlider->setSliderPosition(int(second));
    }
    seekToSlider(finished);
    if (finished)
        m_bSeeking = false;
    finishPositionNotice();
}

void CPanelDlg::skipSilenceIfDue()
{
    if (!m_analysisSettings.skipSilence || m_silences.empty() || m_bSeeking
        || m_pPlayer->m_state != CMp3Ctrl::Playing) {
        m_silenceTimer.stop();
        return;
    }
    // Marks and the section end are never jumped over.
    std::vector<int64_t> stops{int64_t(m_nEnd) * 1000};
    for (const uint32_t mark : marks()) {
        if (mark != kEmptyIndexMark)
            stops.push_back(int64_t(mark) * 1000);
    }
    int64_t at = int64_t(m_pPlayer->GetPositionMilliseconds());
    if (const std::optional<int64_t> target = SkipTarget(m_silences, at, stops, m_analysisSettings.silence.leadInMilliseconds)) {
        m_pPlayer->SeekMilliseconds(uint64_t(*target));
        at = int64_t(m_pPlayer->GetPositionMilliseconds());
    }
    // Wake up as the next silence begins rather than at the tick after it.
    const auto next = std::find_if(m_silences.begin(), m_silences.end(),
                                   [at](const Silence& silence) { return silence.startMilliseconds > at; });
    if (next == m_silences.end()) {
        m_silenceTimer.stop();
        return;
    }
    const int due = int(double(next->startMilliseconds - at) / CMp3Ctrl::Tempo(m_pPlayer->m_speed)) + 1;
    if (due < kTimerMilliseconds)
        m_silenceTimer.start(due, Qt::PreciseTimer, this);
}

void CPanelDlg::GoToSilenceBoundary(bool forward)
{
    if (m_strPath.isEmpty() || !m_pPlayer->IsOpen() || m_nSelCount != 1 || !m_bControlsAllowed)
        return;
    const int64_t at = int64_t(positionMilliseconds());
    const int64_t leadIn = m_analysisSettings.silence.leadInMilliseconds;
    const std::optional<int64_t> boundary =
        forward ? NextSilenceBoundary(m_silences, at, leadIn) : PreviousSilenceBoundary(m_silences, at, leadIn);
    // Within the section, never its end point itself (which would end playback there).
    if (!boundary || *boundary < int64_t(m_nBegin) * 1000 || *boundary >= int64_t(m_nEnd) * 1000)
        return;
    clearEndNotice();
    // As a seek of the slider: stopped, the recording pauses at the place.
    if (m_pPlayer->m_state == CMp3Ctrl::Stopped)
        m_pPlayer->Pause();
    m_pPlayer->SeekMilliseconds(uint64_t(*boundary));
    followEngine();
    {
        // Moving the thumb would seek again, to the whole second.
        const QSignalBlocker quiet(m_positionSlider);
        m_positionSlider->setSliderPosition(int(m_nPosition));
        m_positionSlider->setValue(int(m_nPosition));
    }
    UpdateControls();
    RedrawDisplay();
    scheduleNextSecond();
}

#include "PanelDlg.h"

#include "widgets/EditEx.h"
#include "IndexDlg.h"
#include "MemoText.h"
#include "PanelArtwork.h"
#include "PanelButton.h"
#include "PanelForm.h"
#include "SectionBar.h"
#include "SectionSlider.h"
#include "player/OverviewStrip.h"
#include "analysis/RecordingAnalysis.h"
#include "platform/WaitCursor.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>

namespace {

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
    : QWidget(parent), m_session(std::make_unique<PlaybackSession>(std::move(outputs), this)),
      m_runIndexDialog([](CIndexDlg& dialog) { return dialog.exec(); })
{
    buildControls();
    buildOverviewRow();
    connectSession();
    updateControls();
    UnloadRecording(0);
}

CPanelDlg::~CPanelDlg()
{
    CommitHeader();
    // The session outlives the widgets' part of the panel by a moment: it shows nothing more here.
    m_session->disconnect(this);
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
    button->setGeometry(QRect(FormRect(x, y, 0, 0).topLeft(), button->sizeHint()));
    m_transport[controlId] = button;
    return button;
}

void CPanelDlg::buildControls()
{
    setFixedSize(FormRect(0, 0, 559, 138).size());
    m_frame = new QGroupBox(this);
    m_frame->setGeometry(FormRect(0, 0, 557, 135));

    m_display = new DisplayArea(*this, this);
    m_display->setGeometry(FormRect(5, 10, 272, 84));

    // The transport buttons in the order of their keys: back, then forward, then the players.
    PlaybackSession* session = m_session.get();
    connect(addTransportButton(IdSkipBack, 5, 102), &QAbstractButton::clicked, session, &PlaybackSession::OnSkipBack);
    connect(addTransportButton(IdFastBack, 28, 102), &QAbstractButton::clicked, session, &PlaybackSession::OnFastBack);
    connect(addTransportButton(IdFastForward, 51, 102), &QAbstractButton::clicked, session,
            &PlaybackSession::OnFastForward);
    connect(addTransportButton(IdSkipForward, 74, 102), &QAbstractButton::clicked, session,
            &PlaybackSession::OnSkipForward);
    connect(addTransportButton(IdPause, 97, 102), &QAbstractButton::clicked, session, &PlaybackSession::OnPause);
    connect(addTransportButton(IdStop, 120, 102), &QAbstractButton::clicked, session, &PlaybackSession::OnStop);
    connect(addTransportButton(IdPlay, 143, 102), &QAbstractButton::clicked, session, &PlaybackSession::OnPlay);

    m_protect = new QPushButton(QStringLiteral("保護"), this);
    m_protect->setGeometry(FormRect(194, 98, 39, 32));
    connect(m_protect, &QPushButton::clicked, session, &PlaybackSession::OnProtect);
    m_index = new QPushButton(QStringLiteral("ｲﾝﾃﾞｯｸｽ"), this);
    m_index->setGeometry(FormRect(238, 98, 39, 32));
    connect(m_index, &QPushButton::clicked, this, &CPanelDlg::OnIndex);

    m_bar = new SectionBar(*m_session, this);

    const auto listGroup = [&](const QString& title, int x, const QStringList& items, int selected) {
        auto* group = new QGroupBox(title, this);
        group->setGeometry(FormRect(x, 71, 56, 27));
        auto* list = new QComboBox(this);
        list->addItems(items);
        list->setCurrentIndex(selected);
        list->setGeometry(QRect(FormRect(x + 6, 81, 44, 0).topLeft(),
                                QSize(FormRect(0, 0, 44, 0).width(), list->sizeHint().height())));
        return list;
    };
    m_playModeList = listGroup(QStringLiteral("再生ﾓｰﾄﾞ"), 284,
                               {QStringLiteral("1  回 "), QStringLiteral("ﾘﾋﾟｰﾄ "), QStringLiteral("連 続 ")}, 0);
    connect(m_playModeList, &QComboBox::currentIndexChanged, session, &PlaybackSession::setPlayMode);
    m_speedList = listGroup(QStringLiteral("再生速度"), 346,
                            {QStringLiteral("速 い "), QStringLiteral("標 準 "), QStringLiteral("遅 い ")}, 1);
    connect(m_speedList, &QComboBox::currentIndexChanged, this, &CPanelDlg::onSpeedChanged);

    auto* volumeGroup = new QGroupBox(QStringLiteral("音量"), this);
    volumeGroup->setGeometry(FormRect(285, 100, 117, 30));
    m_volumeSlider = new QSlider(Qt::Horizontal, this);
    m_volumeSlider->setGeometry(FormRect(291, 108, 109, 18));
    m_volumeSlider->setRange(0, 100);
    m_volumeSlider->setTickPosition(QSlider::TicksBelow);
    m_volumeSlider->setTickInterval(10);
    m_volumeSlider->setPageStep(10);
    m_volumeSlider->setValue(m_session->volume());
    connect(m_volumeSlider, &QSlider::valueChanged, session, &PlaybackSession::setVolume);

    auto* memoLabel = new QLabel(QStringLiteral("メ\nモ"), this);
    memoLabel->setGeometry(FormRect(406, 77, 8, 16));
    m_memo = new CEditEx(1041, this);
    m_memo->setGeometry(FormRect(418, 77, 132, 55));
    m_memo->setByteLimit(kMemoBytes);
    m_memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoLabel->setBuddy(m_memo);
    connect(m_memo, &CEditEx::changed, this, &CPanelDlg::onMemoChanged);
    connect(m_memo, &CEditEx::commit, this, [this](int, bool focusLost) {
        // Enter only breaks the line.
        if (focusLost)
            m_session->editMemo(TrimmedMemo(m_memo->text()), true);
    });
    connect(m_memo, &CEditEx::inputRefused, this, [this](int, const QString& reason) {
        if (!reason.isEmpty())
            QToolTip::showText(m_memo->mapToGlobal(QPoint(0, m_memo->height())), reason, m_memo);
    });

    // Keyboard order: the transport buttons as they stand, then the rest left to right.
    QWidget* previous = m_transport[IdSkipBack];
    for (QWidget* next : std::initializer_list<QWidget*>{
             m_transport[IdFastBack], m_transport[IdFastForward], m_transport[IdSkipForward], m_transport[IdPause],
             m_transport[IdStop], m_transport[IdPlay], m_protect, m_index, positionSlider(), m_playModeList,
             m_speedList, m_volumeSlider, m_memo}) {
        setTabOrder(previous, next);
        previous = next;
    }
}

void CPanelDlg::connectSession()
{
    PlaybackSession* session = m_session.get();
    connect(session, &PlaybackSession::controlsChanged, this, &CPanelDlg::updateControls);
    connect(session, &PlaybackSession::displayChanged, this, &CPanelDlg::RedrawDisplay);
    connect(session, &PlaybackSession::sectionChanged, this, &CPanelDlg::syncOverview);
    connect(session, &PlaybackSession::marksChanged, this, &CPanelDlg::syncOverview);
    connect(session, &PlaybackSession::silencesChanged, this, &CPanelDlg::syncOverview);
    connect(session, &PlaybackSession::rateChanged, this, &CPanelDlg::showRate);
    connect(session, &PlaybackSession::recordingLoaded, this, &CPanelDlg::onRecordingLoaded);
    connect(session, &PlaybackSession::recordingUnloaded, this, [this] {
        m_overview->setEnvelope(nullptr, 0);
        m_memo->setText(QString());
    });
    connect(session, &PlaybackSession::volumeChanged, this, [this] {
        const QSignalBlocker quiet(m_volumeSlider);
        m_volumeSlider->setValue(m_session->volume());
    });
    connect(session, &PlaybackSession::skipSilenceChanged, this, [this](bool skip) {
        {
            const QSignalBlocker quiet(m_skipSilenceBox);
            m_skipSilenceBox->setChecked(skip);
        }
        syncOverview();
        if (m_skipSilenceListener)
            m_skipSilenceListener(skip);
    });
    connect(&session->analysis(), &RecordingAnalysis::envelopeChanged, m_overview, &OverviewStrip::envelopeChanged);
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

SectionSlider* CPanelDlg::positionSlider() const
{
    return m_bar->positionSlider();
}

QPushButton* CPanelDlg::pushButton(int controlId) const
{
    return controlId == IdProtect ? m_protect : controlId == IdIndex ? m_index : nullptr;
}

// ---- What the view asks ---------------------------------------------------

bool CPanelDlg::CommitHeader()
{
    m_session->noteMemoBox(TrimmedMemo(m_memo->text()));
    return m_session->CommitHeader();
}

bool CPanelDlg::LoadRecording(const QString& path, int rowNumber)
{
    m_bar->endDrags();
    m_session->noteMemoBox(TrimmedMemo(m_memo->text()));
    return m_session->LoadRecording(path, rowNumber);
}

void CPanelDlg::onRecordingLoaded()
{
    m_overview->setEnvelope(&m_session->analysis().envelope(), m_session->duration());
    m_memo->setText(MemoOfHeader(m_session->header()));
    // What the box gives back for the memo as read is the memo unchanged.
    m_session->setMemoAsShown(TrimmedMemo(m_memo->text()));
}

bool CPanelDlg::UnloadRecording(int selectedCount)
{
    m_bar->endDrags();
    m_session->noteMemoBox(TrimmedMemo(m_memo->text()));
    return m_session->UnloadRecording(selectedCount);
}

void CPanelDlg::setUsbConnected(bool connected)
{
    m_usbConnected = connected;
    RedrawDisplay();
}

std::optional<std::pair<uint32_t, uint32_t>> CPanelDlg::section() const
{
    const PlaybackSession& s = *m_session;
    if (!s.loaded() || (s.begin() == 0 && s.end() >= s.duration()) || s.end() <= s.begin())
        return std::nullopt;
    return std::make_pair(s.begin(), s.end());
}

void CPanelDlg::updateControls()
{
    using C = PlaybackSession::Control;
    const PlaybackSession& s = *m_session;
    const std::pair<QWidget*, bool> controls[] = {
        {m_transport[IdPlay], s.allows(C::Play)},
        {m_transport[IdPause], s.allows(C::Pause)},
        {m_transport[IdStop], s.allows(C::Stop)},
        {m_transport[IdFastForward], s.allows(C::FastForward)},
        {m_transport[IdFastBack], s.allows(C::FastBack)},
        {m_transport[IdSkipBack], s.allows(C::SkipBack)},
        {m_transport[IdSkipForward], s.allows(C::SkipForward)},
        {m_protect, s.allows(C::Edit)},
        {m_index, s.allows(C::Index)},
        {positionSlider(), s.allows(C::Edit)},
        {m_memo, s.allows(C::Edit)},
    };
    m_overview->setSeekable(s.allows(C::Edit));
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

QList<DisplayItem> CPanelDlg::displayItems() const
{
    return BuildDisplayItems(displayState(), m_display->size());
}

// ---- The presses only the panel can answer ------------------------------------

void CPanelDlg::OnIndex()
{
    PlaybackSession& s = *m_session;
    if (s.state() != CMp3Ctrl::Stopped) {
        // Playing or paused: a mark at the second heard comes or goes.
        s.toggleMarkHeard();
        return;
    }
    CIndexDlg dialog(s.duration(), s.marks(), window());
    const QString shown = s.path();
    // The marks belong to the recording the dialog was opened for.
    if (m_runIndexDialog(dialog) == QDialog::Accepted && s.path() == shown && !shown.isEmpty()) {
        s.setMarks(dialog.m_marks);
    } else {
        m_bar->repaintFlags();
        RedrawDisplay();
    }
}

void CPanelDlg::onSpeedChanged(int speed)
{
    // The item of a rate between the presets is no speed to choose.
    if (speed < CMp3Ctrl::Fast || speed > CMp3Ctrl::Slow)
        return;
    WaitCursor wait;
    m_session->setSpeed(speed);
}

void CPanelDlg::showRate()
{
    const QSignalBlocker quiet(m_speedList);
    while (m_speedList->count() > 3)
        m_speedList->removeItem(3);
    const int preset = m_session->speedPreset();
    if (preset >= 0) {
        m_speedList->setCurrentIndex(preset);
        return;
    }
    m_speedList->addItem(QStringLiteral("×%1").arg(m_session->transportRate(), 0, 'f', 2));
    m_speedList->setCurrentIndex(3);
}

// ---- The memo ---------------------------------------------------------------

void CPanelDlg::onMemoChanged()
{
    QString text = m_memo->text();
    if (MemoBytes(text) > kMemoBytes) {
        // Cut back from the caret until the memo fits (the edit's own limit
        // normally keeps it there; this holds for any way text arrives).
        const int firstLine = m_memo->verticalScrollBar()->value();
        qsizetype caret = std::min<qsizetype>(m_memo->textCursor().position(), text.size());
        for (int removed = 0; removed < 1000 && MemoBytes(text) > kMemoBytes; ++removed) {
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
    m_session->editMemo(TrimmedMemo(text), false);
}

// ---- The overview strip and skipping silence ------------------------------------

void CPanelDlg::buildOverviewRow()
{
    m_overview = new OverviewStrip(this);
    m_overview->setAccessibleName(QStringLiteral("波形"));
    m_skipSilenceBox = new QCheckBox(QStringLiteral("無音部分をスキップ"), this);
    m_skipSilenceBox->setChecked(m_session->skipsSilence());
    connect(m_skipSilenceBox, &QCheckBox::toggled, this, &CPanelDlg::setSkipSilence);
    connect(m_overview, &OverviewStrip::seekRequested, m_bar, &SectionBar::seekTo);
    setTabOrder(m_memo, m_skipSilenceBox);
    placeOverviewRow();
}

void CPanelDlg::placeOverviewRow()
{
    const QSize form = FormRect(0, 0, 559, 138).size();
    const bool shown = m_session->overviewShown();
    const int row = shown ? kOverviewHeight : m_skipSilenceBox->sizeHint().height() + 6;
    // The strip's time axis is the bar's: a second is above its flag and slider position.
    const QRect bar = m_bar->barRect().translated(m_bar->pos());
    m_overview->setGeometry(bar.left(), form.height() - 2, bar.width(), kOverviewHeight);
    m_overview->setVisible(shown);
    const QSize box = m_skipSilenceBox->sizeHint();
    m_skipSilenceBox->setGeometry(FormRect(8, 0, 0, 0).left(), form.height() - 2 + (row - box.height()) / 2,
                                  box.width(), box.height());
    m_frame->setGeometry(FormRect(0, 0, 557, 135).adjusted(0, 0, 0, row));
    setFixedSize(form.width(), form.height() + row);
}

void CPanelDlg::setOverviewShown(bool shown)
{
    if (shown == m_session->overviewShown())
        return;
    m_session->setOverviewShown(shown);
    placeOverviewRow();
}

void CPanelDlg::setSkipSilence(bool skip)
{
    if (skip != m_skipSilenceBox->isChecked()) {
        // The box calls back with the new state.
        m_skipSilenceBox->setChecked(skip);
        return;
    }
    m_session->setSkipSilence(skip);
}

void CPanelDlg::syncOverview()
{
    if (!m_overview)
        return;
    PlaybackSession& s = *m_session;
    const bool loaded = s.loaded();
    m_overview->setSection(loaded ? s.begin() : 0, loaded ? s.end() : 0);
    m_overview->setMarks(loaded ? s.marks() : IndexMarks{kEmptyIndexMark, kEmptyIndexMark, kEmptyIndexMark,
                                                          kEmptyIndexMark, kEmptyIndexMark});
    m_overview->setPosition(loaded ? s.positionMilliseconds() : 0);
    m_overview->setDimmed(loaded && s.skipsSilence() ? s.silences() : std::vector<Silence>{});
}

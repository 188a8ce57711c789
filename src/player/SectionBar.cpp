#include "SectionBar.h"

#include "PanelArtwork.h"
#include "PanelForm.h"
#include "PlaybackSession.h"
#include "SectionRules.h"
#include "SectionSlider.h"
#include "platform/MessageBoxes.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

namespace {

// The bar's top-left corner in the form: left of the begin point's time at its
// leftmost, at the top of the flags' home.
QPoint formOrigin()
{
    return FormRect(280, 9, 0, 0).topLeft();
}

// A rectangle of the form, in dialog units, in the bar's pixels.
QRect place(int x, int y, int width, int height)
{
    return FormRect(x, y, width, height).translated(-formOrigin());
}

} // namespace

QRect SectionBar::formGeometry()
{
    // To the form's right edge, and down to the bottom of the points' times.
    return QRect(formOrigin(), FormRect(0, 0, 559, 65).bottomRight());
}

SectionBar::SectionBar(PlaybackSession& session, QWidget* parent) : QWidget(parent), m_session(session)
{
    setGeometry(formGeometry());
    m_flagHome = QRect(place(292, 9, 0, 0).topLeft(), PanelArtwork::flagSize());
    m_slider = new SectionSlider(this);
    m_slider->setGeometry(place(294, 18, 255, 26));
    m_slider->setPageStep(10);
    connect(m_slider, &QAbstractSlider::actionTriggered, this, &SectionBar::onPositionAction);
    connect(m_slider, &QAbstractSlider::sliderReleased, this, &SectionBar::onPositionReleased);

    m_bar = place(303, 48, 238, 1);
    m_bar.setHeight(2);
    const qreal ratio = devicePixelRatioF();
    const auto marker = [&](const QPixmap& picture, int x) {
        auto* label = new QLabel(this);
        label->setPixmap(picture);
        label->setGeometry(QRect(place(x, 45, 0, 0).topLeft(), PanelArtwork::markerSize()));
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        return label;
    };
    m_beginMarker = marker(PanelArtwork::beginMarker(ratio), 296);
    m_endMarker = marker(PanelArtwork::endMarker(ratio), 541);
    const auto sectionLabel = [&](const QString& text, int x) {
        auto* label = new QLabel(text, this);
        label->setAlignment(Qt::AlignCenter);
        label->setGeometry(place(x, 57, 24, 8));
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        return label;
    };
    m_beginLabel = sectionLabel(QStringLiteral("開始"), 289);
    m_endLabel = sectionLabel(QStringLiteral("終了"), 528);

    connect(&m_session, &PlaybackSession::recordingLoaded, this, [this] {
        const uint32_t duration = m_session.duration();
        const QSignalBlocker quiet(m_slider);
        m_slider->setRange(0, int(duration));
        m_slider->setValue(int(m_session.position()));
        m_slider->setTickInterval(int(duration / 10));
        setPixelsPerSecond(duration);
    });
    connect(&m_session, &PlaybackSession::recordingUnloaded, this, [this] {
        // As if a recording one second long were loaded: the markers stand at the bar's ends.
        setPixelsPerSecond(1);
        const QSignalBlocker quiet(m_slider);
        m_slider->setRange(int(m_session.begin()), 1);
    });
    connect(&m_session, &PlaybackSession::sectionChanged, this, &SectionBar::placeMarkers);
    connect(&m_session, &PlaybackSession::marksChanged, this, &SectionBar::repaintFlags);
    connect(&m_session, &PlaybackSession::positionChanged, this, [this] {
        // The thumb stays where the user holds it.
        if (!m_slider->isSliderDown())
            m_slider->setValue(int(m_session.position()));
    });
    setPixelsPerSecond(1);
}

void SectionBar::setPixelsPerSecond(uint32_t duration)
{
    // A recording of no length is drawn as one second long: nothing divides by zero.
    m_pixelsPerSecond = double(m_bar.width()) / double(std::max<uint32_t>(duration, 1));
}

void SectionBar::placeMarkers()
{
    const uint32_t begin = m_session.begin();
    const uint32_t end = m_session.end();
    if (m_session.selectedCount() == 0) {
        m_beginLabel->setText(QStringLiteral("開始"));
        m_endLabel->setText(QStringLiteral("終了"));
    } else {
        m_beginLabel->setText(FormatSectionTime(begin));
        m_endLabel->setText(FormatSectionTime(end));
    }
    const double left = m_bar.left();
    const double p = m_pixelsPerSecond;
    m_beginMarker->move(int(p * begin + left - m_beginMarker->width()), m_beginMarker->y());
    m_endMarker->move(int(p * end + left), m_endMarker->y());
    m_beginLabel->move(int(p * begin + left - m_beginLabel->width() / 2), m_beginLabel->y());
    m_endLabel->move(int(p * end + left - m_endLabel->width() / 2), m_endLabel->y());
    m_slider->setSection(int(begin), int(end));
}

void SectionBar::repaintFlags()
{
    repaint(m_flagHome);
    repaint(QRect(QPoint(m_bar.left(), m_flagHome.top()),
                  QPoint(m_bar.right() + m_flagHome.width(), m_flagHome.bottom())));
}

BarPictures SectionBar::barPictures() const
{
    return BuildBarPictures(SessionDisplayState(m_session, false), m_bar.left(), m_pixelsPerSecond, m_dragMark);
}

void SectionBar::paintEvent(QPaintEvent*)
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

// ---- The drags of the markers and flags ------------------------------------------

void SectionBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_session.controlsAllowed() || m_session.selectedCount() != 1)
        return;
    const QPoint at = event->position().toPoint();
    const bool editable = m_session.sectionEditable();
    for (QLabel* marker : {m_beginMarker, m_endMarker}) {
        if (!marker->geometry().contains(at))
            continue;
        if (editable)
            (marker == m_beginMarker ? m_dragBegin : m_dragEnd) = true;
        else
            ShowMessage(QStringLiteral("停止中以外は操作できません。"), MessageIcon::Information);
    }
    if (!editable || m_session.duration() == 0)
        return;
    const IndexMarks slots = m_session.marks();
    int hit = -1;
    for (int j = 0; j < kIndexMarkCount && hit < 0; ++j) {
        const uint32_t mark = slots[size_t(j)];
        if (mark != kEmptyIndexMark
            && m_flagHome.translated(m_bar.left() + int(m_pixelsPerSecond * mark) - m_flagHome.left(), 0).contains(at))
            hit = j;
    }
    if (hit < 0 && m_flagHome.contains(at))
        hit = FirstEmptyMarkSlot(slots);
    if (hit < 0)
        return;
    m_dragMark = hit;
    repaintFlags();
}

void SectionBar::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragBegin && !m_dragEnd && m_dragMark < 0)
        return;
    const uint32_t second =
        SecondAtBarOffset(event->position().toPoint().x() - m_bar.left(), m_pixelsPerSecond, m_session.duration());
    if (m_dragBegin)
        m_session.moveBeginTo(second);
    else if (m_dragEnd)
        m_session.moveEndTo(second);
    else
        m_session.moveMark(m_dragMark, second);
}

void SectionBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const bool markMoved = m_dragMark >= 0;
    m_dragBegin = m_dragEnd = false;
    m_dragMark = -1;
    if (markMoved)
        m_session.dropMarks();
}

void SectionBar::endDrags()
{
    m_dragBegin = m_dragEnd = false;
    m_dragMark = -1;
    if (mouseGrabber() == this)
        releaseMouse();
}

// ---- The position slider --------------------------------------------------------------

void SectionBar::onPositionAction(int action)
{
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
    case QAbstractSlider::SliderSingleStepSub:
    case QAbstractSlider::SliderPageStepAdd:
    case QAbstractSlider::SliderPageStepSub:
        m_session.seekToSecond(m_slider->sliderPosition(), true);
        // A step ends its own tracking.
        m_session.endSeeking();
        break;
    case QAbstractSlider::SliderMove:
        // The thumb dragged (tracking goes on until it is released), or the wheel (a step of its own).
        m_session.seekToSecond(m_slider->sliderPosition(), !m_slider->isSliderDown());
        if (!m_slider->isSliderDown())
            m_session.endSeeking();
        break;
    default: // Home and End: nothing but what follows
        break;
    }
    finishPositionNotice();
}

void SectionBar::onPositionReleased()
{
    m_session.seekToSecond(m_slider->sliderPosition(), true);
    m_session.endSeeking();
    finishPositionNotice();
}

void SectionBar::finishPositionNotice()
{
    const int heard = int(m_session.followEngine());
    m_slider->setSliderPosition(heard);
    m_slider->setValue(heard);
    m_session.settle();
}

void SectionBar::seekTo(uint32_t second, bool finished)
{
    if (!m_slider->isEnabled())
        return;
    {
        const QSignalBlocker quiet(m_slider);
        m_slider->setSliderPosition(int(second));
    }
    m_session.seekToSecond(m_slider->sliderPosition(), finished);
    if (finished)
        m_session.endSeeking();
    finishPositionNotice();
}

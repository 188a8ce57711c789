#include "OverviewStrip.h"

#include "player/PanelArtwork.h"
#include "player/PanelDisplay.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

// The flags stand at the top; the waveform uses the height below them.
int waveTop()
{
    return PanelArtwork::flagSize().height();
}

} // namespace

OverviewStrip::OverviewStrip(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setToolTip(QStringLiteral("クリックまたはドラッグで再生位置を移動します。"));
}

void OverviewStrip::setEnvelope(const LevelEnvelope* envelope, uint32_t durationSeconds)
{
    m_envelope = envelope;
    m_duration = durationSeconds;
    envelopeChanged();
}

void OverviewStrip::envelopeChanged()
{
    m_picturesStale = true;
    update();
}

void OverviewStrip::setSection(uint32_t begin, uint32_t end)
{
    if (begin == m_begin && end == m_end)
        return;
    m_begin = begin;
    m_end = end;
    update();
}

void OverviewStrip::setMarks(const IndexMarks& marks)
{
    if (marks == m_marks)
        return;
    m_marks = marks;
    update();
}

void OverviewStrip::setPosition(uint64_t milliseconds)
{
    if (xOf(int64_t(milliseconds)) != xOf(int64_t(m_position))) {
        m_position = milliseconds;
        update();
    }
    m_position = milliseconds;
}

void OverviewStrip::setDimmed(std::vector<Silence> silences)
{
    if (silences == m_dimmed)
        return;
    m_dimmed = std::move(silences);
    update();
}

int OverviewStrip::xOf(int64_t milliseconds) const
{
    const int64_t timeline = int64_t(std::max<uint32_t>(m_duration, 1)) * 1000;
    return int(std::clamp<int64_t>(milliseconds, 0, timeline) * width() / timeline);
}

uint32_t OverviewStrip::secondAt(int x) const
{
    return SecondAtBarOffset(x, double(width()) / double(std::max<uint32_t>(m_duration, 1)), m_duration);
}

void OverviewStrip::resizeEvent(QResizeEvent*)
{
    m_picturesStale = true;
}

void OverviewStrip::rebuildPictures()
{
    m_picturesStale = false;
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    const int top = int(waveTop() * ratio);
    const int height = pixels.height() - top;
    m_played = QPixmap(pixels);
    m_rest = QPixmap(pixels);
    m_played.fill(Qt::transparent);
    m_rest.fill(Qt::transparent);
    m_played.setDevicePixelRatio(ratio);
    m_rest.setDevicePixelRatio(ratio);
    if (!m_envelope || height <= 0)
        return;
    const OverviewColumns columns =
        ReduceToColumns(*m_envelope, pixels.width(), int64_t(std::max<uint32_t>(m_duration, 1)) * 1000);
    const int middle = top + height / 2;
    const float half = float(height) / 2.0f;
    // Peaks as thin lines, RMS as the body.
    std::vector<QLine> peaks, bodies;
    peaks.reserve(size_t(columns.filled));
    bodies.reserve(size_t(columns.filled));
    for (int x = 0; x < columns.filled; ++x) {
        const int peak = std::max(int(columns.peak[size_t(x)] * half), 0);
        const int body = std::max(int(columns.rms[size_t(x)] * half), 0);
        peaks.emplace_back(x, middle - peak, x, middle + peak);
        bodies.emplace_back(x, middle - body, x, middle + body);
    }
    const QPalette colours = palette();
    const auto draw = [&](QPixmap& picture, const QColor& peak, const QColor& body) {
        QPainter painter(&picture);
        painter.scale(1.0 / ratio, 1.0 / ratio);
        painter.setPen(peak);
        painter.drawLines(peaks.data(), int(peaks.size()));
        painter.setPen(body);
        painter.drawLines(bodies.data(), int(bodies.size()));
    };
    const QColor highlight = colours.color(QPalette::Highlight);
    draw(m_played, highlight.lighter(140), highlight.darker(120));
    const QColor text = colours.color(QPalette::WindowText);
    draw(m_rest, QColor(text.red(), text.green(), text.blue(), 90), QColor(text.red(), text.green(), text.blue(), 170));
}

void OverviewStrip::paintEvent(QPaintEvent*)
{
    if (m_picturesStale)
        rebuildPictures();
    QPainter painter(this);
    const QPalette colours = palette();
    painter.fillRect(rect(), colours.color(QPalette::Base));
    const int top = waveTop();
    const QRect wave(0, top, width(), height() - top);
    if (m_duration > 0 && m_end > m_begin) {
        QColor band = colours.color(QPalette::Highlight);
        band.setAlpha(40);
        const int left = xOf(int64_t(m_begin) * 1000);
        painter.fillRect(QRect(left, top, xOf(int64_t(m_end) * 1000) - left, wave.height()), band);
    }
    const int at = xOf(int64_t(m_position));
    painter.drawPixmap(QRect(0, 0, at, height()), m_played, QRectF(0, 0, at * m_played.devicePixelRatio(), m_played.height()));
    painter.drawPixmap(QRect(at, 0, width() - at, height()), m_rest,
                       QRectF(at * m_rest.devicePixelRatio(), 0, (width() - at) * m_rest.devicePixelRatio(), m_rest.height()));
    // Skipped stretches: greyed over, so that they read as left out.
    QColor dim = colours.color(QPalette::Mid);
    dim.setAlpha(150);
    for (const Silence& silence : m_dimmed) {
        const int left = xOf(silence.startMilliseconds);
        painter.fillRect(QRect(left, top, std::max(xOf(silence.endMilliseconds) - left, 1), wave.height()), dim);
    }
    const qreal ratio = devicePixelRatioF();
    for (int j = 0; j < kIndexMarkCount; ++j) {
        const uint32_t mark = m_marks[size_t(j)];
        if (m_duration > 0 && mark != kEmptyIndexMark && mark != 0)
            painter.drawPixmap(QPoint(xOf(int64_t(mark) * 1000), 0), PanelArtwork::indexFlag(j + 1, ratio));
    }
    if (m_duration > 0) {
        painter.setPen(colours.color(QPalette::Text));
        painter.drawLine(at, top, at, height() - 1);
    }
    painter.setPen(colours.color(QPalette::Mid));
    painter.drawLine(0, height() - 1, width() - 1, height() - 1);
}

void OverviewStrip::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_seekable || m_duration == 0)
        return;
    m_dragging = true;
    Q_EMIT seekRequested(secondAt(event->position().toPoint().x()), false);
}

void OverviewStrip::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging)
        Q_EMIT seekRequested(secondAt(event->position().toPoint().x()), false);
}

void OverviewStrip::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_dragging)
        return;
    m_dragging = false;
    Q_EMIT seekRequested(secondAt(event->position().toPoint().x()), true);
}

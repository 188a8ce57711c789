#include "SectionSlider.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

SectionSlider::SectionSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    setTickPosition(QSlider::TicksBothSides);
}

void SectionSlider::setSection(int begin, int end)
{
    m_begin = begin;
    m_end = end;
    repaint();
}

void SectionSlider::paintEvent(QPaintEvent*)
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    QPainter painter(this);
    // Groove and ticks, then the section over the groove, then the handle over both.
    option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderTickmarks;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
    if (m_end > m_begin && maximum() > minimum()) {
        const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
        const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
        // Values map to the handle's centre, which travels the groove less the handle's width.
        const int span = groove.width() - handle.width();
        const auto x = [&](int value) {
            return groove.left() + handle.width() / 2
                   + QStyle::sliderPositionFromValue(minimum(), maximum(), value, span, option.upsideDown);
        };
        QColor band = palette().color(QPalette::Highlight);
        band.setAlpha(140);
        const int top = groove.center().y() - 2;
        painter.fillRect(QRect(QPoint(x(m_begin), top), QPoint(x(m_end), top + 4)), band);
    }
    option.subControls = QStyle::SC_SliderHandle;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
}

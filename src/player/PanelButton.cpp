#include "PanelButton.h"

#include <QPainter>

PanelButton::PanelButton(TransportButton kind, QWidget* parent) : QAbstractButton(parent), m_kind(kind)
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

ButtonFace PanelButton::currentFace() const
{
    if (!isEnabled())
        return ButtonFace::Disabled;
    if (isDown())
        return ButtonFace::Down;
    if (hasFocus())
        return ButtonFace::Focused;
    return ButtonFace::Up;
}

QSize PanelButton::sizeHint() const
{
    return PanelArtwork::transportSize(m_kind);
}

QSize PanelButton::minimumSizeHint() const
{
    return sizeHint();
}

void PanelButton::paintEvent(QPaintEvent*)
{
    const QPixmap face = PanelArtwork::transportFace(m_kind, currentFace(), devicePixelRatioF());
    QRect target(QPoint(0, 0), PanelArtwork::transportSize(m_kind));
    target.moveCenter(rect().center());
    QPainter painter(this);
    painter.drawPixmap(target.topLeft(), face);
}

#pragma once

#include "PanelArtwork.h"

#include <QAbstractButton>

// A transport button of the control panel: shows the picture of its kind in
// the face of its state, and sizes itself to that picture. The keyboard
// reaches it with Tab and presses it with Space.
class PanelButton : public QAbstractButton
{
    Q_OBJECT

public:
    explicit PanelButton(TransportButton kind, QWidget* parent = nullptr);

    TransportButton kind() const { return m_kind; }
    // Disabled beats pressed, pressed beats focused.
    ButtonFace currentFace() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TransportButton m_kind;
};

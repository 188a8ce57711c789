#pragma once

#include <QPixmap>
#include <QSize>

// The transport buttons of the control panel, left to right as the panel shows them.
enum class TransportButton { SkipBack, FastBack, FastForward, SkipForward, Pause, Stop, Play };

// The four faces of a transport button: up, pressed, with the keyboard focus, disabled.
enum class ButtonFace { Up, Down, Focused, Disabled };

// The control panel's pictures, drawn as vector shapes at the device pixel
// ratio asked for, so they stay sharp on any screen. Each picture is drawn
// once per ratio and then served from the pixmap cache (user-interface thread
// only). Every picture's logical size is fixed; its device size is the
// logical size times the ratio.
namespace PanelArtwork {

QSize transportSize(TransportButton button); // 32×32; Play 64×32
QPixmap transportFace(TransportButton button, ButtonFace face, qreal devicePixelRatio);

QSize flagSize(); // 12×14
// 1..5: the red flag of index mark slot number - 1, with that digit; 0: the
// plain flag (no further mark can be added, or no single recording is shown).
QPixmap indexFlag(int number, qreal devicePixelRatio);
// A cross of flagSize(): the flags' home while an existing flag is dragged.
QPixmap crossMark(qreal devicePixelRatio);

QSize markerSize(); // 10×13
// The section markers under the position bar. The begin marker's right edge
// and the end marker's left edge stand on the section's ends; the end marker
// is the mirror image of the begin marker.
QPixmap beginMarker(qreal devicePixelRatio);
QPixmap endMarker(qreal devicePixelRatio);

// 32×32: a white key inside a black rounded bar, white around it; opaque,
// for the white display area.
QPixmap protectIcon(qreal devicePixelRatio);

} // namespace PanelArtwork

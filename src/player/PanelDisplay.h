#pragma once

#include "audio/Mp3Ctrl.h"
#include "recording/VoiceHeader.h"

#include <QList>
#include <QRect>
#include <QString>
#include <cstdint>

class PlaybackSession;
class QPainter;

// What the control panel's display shows, taken from the panel and the engine.
struct PanelDisplayState
{
    int selCount = 0; // 0 nothing, 1 one recording, n a selection of n rows
    CMp3Ctrl::PlayerState engineState = CMp3Ctrl::Stopped;
    bool seeking = false;
    uint32_t duration = 0;
    uint32_t position = 0;
    int64_t fileTime = 0;
    uint8_t mode = 0;
    uint8_t playedFlag = 0;
    uint8_t protectFlag = 0;
    IndexMarks marks{kEmptyIndexMark, kEmptyIndexMark, kEmptyIndexMark, kEmptyIndexMark, kEmptyIndexMark};
    int rowNumber = 0;
    bool usbConnected = false;
};

// What the display shows of a playback session (usbConnected: the recorder is attached).
PanelDisplayState SessionDisplayState(const PlaybackSession& session, bool usbConnected);

// One thing drawn in the display area, in its pixels. The paint code draws
// these and nothing else, so what the display shows can be checked without
// looking at pixels.
struct DisplayItem
{
    enum Kind {
        Text,           // text at rect's top-left, or in rect with align
        PlayTriangle,   // filled black triangle in rect
        PauseBars,      // rect is one bar; the second lies 8 pixels to its right
        RoundBox,       // white rounded box with a black outline
        FilledRoundBox, // black rounded box
        ProtectIcon,    // the protect picture stretched into rect
    };
    enum Font { Large, Small };

    Kind kind = Text;
    QRect rect;
    QString text;
    Font font = Large;
    Qt::Alignment align = {}; // none: plain text placed at the top-left corner
    bool white = false;
};

// The display area's content for a state, for an area of this size.
QList<DisplayItem> BuildDisplayItems(const PanelDisplayState& state, QSize area);
// The number the display shows beside "ｲﾝﾃﾞｯｸｽ": 0 when no slot is set;
// stopped, the number of set slots (a slot holding 0 counts); playing or
// paused, the number of the section being played.
int DisplayIndexNumber(const PanelDisplayState& state);
// Paints the items on white, double-buffered by the caller's widget.
void PaintDisplayItems(QPainter& painter, const QList<DisplayItem>& items, QSize area);

// The flags along the position bar and the picture at their home position.
struct BarPictures
{
    enum Home { PlainFlag, NextFlag, Cross };
    struct Flag
    {
        int number; // 1..5
        int left;   // x of the flag's left edge, in the panel's pixels
    };
    QList<Flag> flags;
    Home home = PlainFlag;
    int nextNumber = 0; // the number shown at home for NextFlag
};

// barLeft: the bar's left in the panel; dragMark: the slot of the flag being
// dragged, or -1.
BarPictures BuildBarPictures(const PanelDisplayState& state, int barLeft, double pixelsPerSecond, int dragMark);

// The second under a pointer x pixels right of the bar's left end: the nearest
// one, and the recording's first or last second anywhere past the bar's ends.
uint32_t SecondAtBarOffset(int x, double pixelsPerSecond, uint32_t duration);

// "%3d分%2d秒" and the minutes:seconds of the section labels ("%2d:%02d").
QString FormatDisplayDuration(uint32_t seconds);
QString FormatSectionTime(uint32_t seconds);

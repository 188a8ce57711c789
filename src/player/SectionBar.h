#pragma once

#include "PanelDisplay.h"

#include <QWidget>

class PlaybackSession;
class QLabel;
class SectionSlider;

// The panel's bar: the position slider, the begin and end markers with their
// times, and the index flags above it with their home at the left. It shows the
// session's position, section and marks, and turns the slider's moves and the
// drags of the markers and flags into the session's calls. Its pixels are its own:
// the panel places it at formGeometry().
class SectionBar : public QWidget
{
    Q_OBJECT

public:
    SectionBar(PlaybackSession& session, QWidget* parent);
    // Where the bar stands in the panel's form, in the panel's pixels.
    static QRect formGeometry();

    SectionSlider* positionSlider() const { return m_slider; }
    QLabel* beginMarker() const { return m_beginMarker; }
    QLabel* endMarker() const { return m_endMarker; }
    QLabel* beginLabel() const { return m_beginLabel; }
    QLabel* endLabel() const { return m_endLabel; }
    // The line along which seconds map to pixels, and the flags' home.
    QRect barRect() const { return m_bar; }
    QRect flagHome() const { return m_flagHome; }
    double pixelsPerSecond() const { return m_pixelsPerSecond; }
    // The slot of the flag being dragged, or -1.
    int draggedMark() const { return m_dragMark; }
    // The flags as they are drawn now.
    BarPictures barPictures() const;

    // The markers and their times where the session's section lies.
    void placeMarkers();
    void repaintFlags();
    // A drag never carries over from one recording to another.
    void endDrags();
    // The same seek as the slider's, from elsewhere (the overview strip): the thumb
    // is put there and the slider's rules apply; finished ends the seek.
    void seekTo(uint32_t second, bool finished);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setPixelsPerSecond(uint32_t duration);
    void onPositionAction(int action);
    void onPositionReleased();
    void finishPositionNotice();

    PlaybackSession& m_session;
    SectionSlider* m_slider;
    QLabel* m_beginMarker;
    QLabel* m_endMarker;
    QLabel* m_beginLabel;
    QLabel* m_endLabel;
    QRect m_bar;
    QRect m_flagHome;
    double m_pixelsPerSecond = 0;
    bool m_dragBegin = false;
    bool m_dragEnd = false;
    int m_dragMark = -1;
};

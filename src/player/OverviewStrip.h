#pragma once

#include "analysis/OverviewPicture.h"
#include "analysis/Silences.h"
#include "recording/VoiceHeader.h"

#include <QPixmap>
#include <QWidget>

// The recording's shape under the position slider: the envelope drawn across the
// strip's width (played part and the rest in two tones), the section between the
// begin and end markers as a band, the index marks as the bar's numbered flags,
// skipped silences dimmed and the position as a line. Time runs across the strip
// as it does along the panel's bar. A click or drag asks for a seek.
class OverviewStrip : public QWidget
{
    Q_OBJECT

public:
    explicit OverviewStrip(QWidget* parent = nullptr);

    // The envelope (not owned; it may grow) and the seconds the width stands for.
    void setEnvelope(const LevelEnvelope* envelope, uint32_t durationSeconds);
    // The envelope given grew or changed.
    void envelopeChanged();
    void setSection(uint32_t begin, uint32_t end);
    void setMarks(const IndexMarks& marks);
    void setPosition(uint64_t milliseconds);
    // Silences drawn dimmed (none: nothing is dimmed).
    void setDimmed(std::vector<Silence> silences);
    // Whether clicks seek (a recording is loaded and its controls are allowed).
    void setSeekable(bool seekable) { m_seekable = seekable; }

    // The second under a point of the strip, as the bar maps them.
    uint32_t secondAt(int x) const;
    int xOf(int64_t milliseconds) const;

Q_SIGNALS:
    // A click or drag at a second; finished once the button is released.
    void seekRequested(uint32_t second, bool finished);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void rebuildPictures();

    const LevelEnvelope* m_envelope = nullptr;
    uint32_t m_duration = 0;
    uint32_t m_begin = 0;
    uint32_t m_end = 0;
    IndexMarks m_marks{};
    uint64_t m_position = 0;
    std::vector<Silence> m_dimmed;
    bool m_seekable = false;
    bool m_dragging = false;
    bool m_picturesStale = true;
    // The waveform in the played tone and in the other, drawn once per change of
    // the envelope or the size; a repaint only puts the two side by side.
    QPixmap m_played;
    QPixmap m_rest;
};

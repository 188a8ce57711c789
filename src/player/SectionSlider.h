#pragma once

#include <QSlider>

// The panel's position slider: ticks on both sides, and the playable section
// shown as a band along the groove.
class SectionSlider : public QSlider
{
    Q_OBJECT

public:
    explicit SectionSlider(QWidget* parent = nullptr);

    void setSection(int begin, int end);
    int sectionBegin() const { return m_begin; }
    int sectionEnd() const { return m_end; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_begin = 0;
    int m_end = 0;
};

#pragma once

#include "PedalLayout.h"

#include <QObject>
#include <QString>

class QSocketNotifier;

// Reads a foot pedal's reports from its hidraw node (or a FIFO carrying the same
// reports) without blocking, and tells which pedal went down or up. A report of
// another size is left aside. When the device goes (unplugged, the FIFO's writer
// gone), pedals still down are let up first.
class PedalReader : public QObject
{
    Q_OBJECT

public:
    explicit PedalReader(QObject* parent = nullptr);
    ~PedalReader() override;

    // False with the system's reason when the node cannot be opened.
    bool open(const QString& path, const PedalLayout& layout, QString* error = nullptr);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    QString path() const { return m_path; }
    uint8_t down() const { return m_down; }

Q_SIGNALS:
    void pedalChanged(int pedal, bool down);
    // The device went away; the reader is closed.
    void disconnected();
    void badReport(int size);

private:
    void readReports();
    void apply(uint8_t down);
    void lost();

    int m_fd = -1;
    QString m_path;
    PedalLayout m_layout;
    QSocketNotifier* m_notifier = nullptr;
    uint8_t m_down = 0;
};

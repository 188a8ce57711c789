#pragma once

#include "PedalLayout.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// Reads a foot pedal's reports from its hidraw node (or a FIFO carrying the same
// reports) without blocking, and tells which pedal went down or up. A device node
// gives one report per read, and a report of another size is left aside. A FIFO is a
// stream: what one read gives is cut into reports of the layout's size, each counting
// in its order, and a part of a report waits for the rest. When the device goes
// (unplugged, the FIFO's writer gone), pedals still down are let up first.
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
    void takeReport(const QByteArray& report);
    void apply(uint8_t down);
    void lost();

    int m_fd = -1;
    QString m_path;
    PedalLayout m_layout;
    QSocketNotifier* m_notifier = nullptr;
    uint8_t m_down = 0;
    // A stream (FIFO, file) rather than a device node, and what of it is not yet a whole report.
    bool m_stream = false;
    QByteArray m_pending;
};

#include "PedalReader.h"

#include <QFile>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

PedalReader::PedalReader(QObject* parent) : QObject(parent) {}

PedalReader::~PedalReader()
{
    close();
}

bool PedalReader::open(const QString& path, const PedalLayout& layout, QString* error)
{
    close();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_fd = fd;
    m_path = path;
    m_layout = layout;
    m_down = 0;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PedalReader::readReports);
    return true;
}

void PedalReader::close()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void PedalReader::readReports()
{
    // hidraw gives one whole report per read.
    char buffer[64];
    while (m_fd >= 0) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got > 0) {
            const std::optional<uint8_t> down = m_layout.decode(QByteArray(buffer, qsizetype(got)));
            if (down)
                apply(*down);
            else
                Q_EMIT badReport(int(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // End of file or a device that is gone (ENODEV, EIO).
        lost();
        return;
    }
}

void PedalReader::apply(uint8_t down)
{
    const uint8_t before = m_down;
    m_down = down;
    for (int pedal = 0; pedal < 3; ++pedal) {
        const uint8_t bit = uint8_t(1u << pedal);
        if ((before ^ down) & bit)
            Q_EMIT pedalChanged(pedal, down & bit);
    }
}

void PedalReader::lost()
{
    close();
    // A pedal held as the device went is let go: playing while held stops.
    apply(0);
    Q_EMIT disconnected();
}

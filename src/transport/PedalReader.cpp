#include "PedalReader.h"

#include <QFile>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

PedalReader::PedalReader(QObject* parent) : QObject(parent) {}

PedalReader::~PedalReader()
{
    close();
}

bool PedalReader::open(const QString& path, const PedalLayout& layout, QString* error)
{
    close();
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    m_fd = fd;
    m_stream = !S_ISCHR(status.st_mode);
    m_pending.clear();
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
    // Part of a report from a writer that went is never completed by the next one.
    m_pending.clear();
}

void PedalReader::takeReport(const QByteArray& report)
{
    if (const std::optional<uint8_t> down = m_layout.decode(report))
        apply(*down);
    else
        Q_EMIT badReport(int(report.size()));
}

void PedalReader::readReports()
{
    char buffer[64];
    while (m_fd >= 0) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got > 0) {
            if (!m_stream || m_layout.reportSize <= 0) {
                // hidraw gives one whole report per read.
                takeReport(QByteArray(buffer, qsizetype(got)));
                continue;
            }
            m_pending.append(buffer, qsizetype(got));
            const qsizetype size = m_layout.reportSize;
            qsizetype used = 0;
            // A report may close the reader (through a slot): what is left is then dropped.
            for (; m_fd >= 0 && m_pending.size() - used >= size; used += size)
                takeReport(m_pending.mid(used, size));
            if (m_fd >= 0)
                m_pending.remove(0, used);
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

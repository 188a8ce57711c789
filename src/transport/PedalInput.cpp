#include "PedalInput.h"

#include "PedalReader.h"
#include "PedalWatcher.h"
#include "TransportTarget.h"

#include <QDebug>

PedalInput::PedalInput(QObject* parent) : QObject(parent), m_reader(new PedalReader(this))
{
    connect(m_reader, &PedalReader::pedalChanged, this, &PedalInput::onPedal);
    connect(m_reader, &PedalReader::disconnected, this, &PedalInput::onDisconnected);
    connect(m_reader, &PedalReader::badReport, this,
            [](int size) { qInfo("foot pedal: a report of %d bytes left aside", size); });
}

PedalInput::~PedalInput() = default;

void PedalInput::apply(const TransportSettings& settings)
{
    const bool deviceChanged =
        settings.pedalDevice != m_settings.pedalDevice || !m_reader->isOpen();
    m_settings = settings;
    if (!deviceChanged)
        return;
    if (!settings.pedalDevice.isEmpty()) {
        openDevice(settings.pedalDevice, DefaultPedalLayout());
        return;
    }
    if (!m_watcher) {
        m_watcher = new PedalWatcher(this);
        connect(m_watcher, &PedalWatcher::arrived, this,
                [this](const QString& devnode, const PedalLayout& layout) {
                    if (!m_reader->isOpen() && m_settings.pedalDevice.isEmpty())
                        openDevice(devnode, layout);
                });
        connect(m_watcher, &PedalWatcher::removed, this, [this](const QString& devnode) {
            if (m_reader->isOpen() && m_reader->path() == devnode)
                onDisconnected();
        });
        m_watcher->start();
    }
}

void PedalInput::openDevice(const QString& path, const PedalLayout& layout)
{
    QString error;
    if (m_reader->open(path, layout, &error)) {
        Q_EMIT pedalConnected(path);
    } else {
        // Most often the node's permissions: the README tells how to let the user read it.
        qWarning().noquote() << "foot pedal" << path << "cannot be read:" << error;
    }
}

void PedalInput::onDisconnected()
{
    const QString path = m_reader->path();
    if (m_reader->isOpen())
        m_reader->close();
    Q_EMIT pedalDisconnected();
    // A device given by path is read again when it is there again (a FIFO: at once, for its next
    // writer).
    if (!m_settings.pedalDevice.isEmpty() && path == m_settings.pedalDevice)
        openDevice(path, DefaultPedalLayout());
}

void PedalInput::onPedal(int pedal, bool down)
{
    if (!m_target || pedal < 0 || pedal >= TransportSettings::kPedalCount)
        return;
    const TransportAction action = m_settings.pedals[size_t(pedal)];
    if (action == TransportAction::PlayWhileHeld) {
        if (down)
            m_target->transportPlay();
        else
            m_target->transportPause();
    } else if (down && action != TransportAction::None) {
        m_target->runTransport(action);
    }
}

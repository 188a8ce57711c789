// The foot pedal's reports as the reader takes them from its device: the bytes are cut
// into the pieces the device delivers (a length byte, then that many bytes, again and
// again), each written to a FIFO the reader reads, as a pedal behind a FIFO delivers
// them. The pedals the reader says went down and up agree with each other, and when the
// writer goes, every pedal is up.
#include "FuzzSupport.h"
#include "transport/PedalLayout.h"
#include "transport/PedalReader.h"

#include <QCoreApplication>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QCoreApplication* g_application = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    g_application = new QCoreApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString fifo = FuzzScratchFolder() + QStringLiteral("/pedal");
    static const bool made = ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0;
    FUZZ_CHECK(made);

    PedalReader reader;
    uint8_t down = 0;
    bool disconnected = false;
    QObject::connect(&reader, &PedalReader::pedalChanged, [&](int pedal, bool isDown) {
        FUZZ_CHECK(pedal >= 0 && pedal < 3);
        // Pedals still down are let up before the reader says the device went, not after.
        FUZZ_CHECK(!disconnected);
        const uint8_t bit = uint8_t(1u << pedal);
        // A pedal goes down only when it was up, and up only when it was down.
        FUZZ_CHECK(bool(down & bit) != isDown);
        down ^= bit;
    });
    QObject::connect(&reader, &PedalReader::disconnected, [&] { disconnected = true; });
    QString error;
    FUZZ_CHECK(reader.open(fifo, DefaultPedalLayout(), &error));
    const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    FUZZ_CHECK(writer >= 0);
    size_t at = 0;
    while (at < size && !disconnected) {
        const size_t length = std::min<size_t>(data[at], size - at - 1);
        ++at;
        if (length > 0)
            FUZZ_CHECK(::write(writer, data + at, length) == ssize_t(length));
        at += length;
        QCoreApplication::processEvents();
        FUZZ_CHECK(reader.down() == down);
    }
    ::close(writer);
    // The reader learns that the writer went at its next read.
    for (int i = 0; i < 100 && !disconnected; ++i)
        QCoreApplication::processEvents();
    FUZZ_CHECK(disconnected && !reader.isOpen() && down == 0 && reader.down() == 0);
    return 0;
}

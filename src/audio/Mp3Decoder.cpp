#include "Mp3Decoder.h"

#include "recording/RecordingFile.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <cerrno>
#include <fcntl.h>
#include <mpg123.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void initialiseLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

QString describe(mpg123_handle* handle, int code)
{
    return QString::fromLocal8Bit(handle ? mpg123_strerror(handle) : mpg123_plain_strerror(code));
}

} // namespace

Mp3Decoder::Mp3Decoder()
{
    initialiseLibrary();
}

Mp3Decoder::~Mp3Decoder()
{
    close();
    if (m_handle)
        mpg123_delete(m_handle);
}

bool Mp3Decoder::open(const QString& path, DecodeFailure* failure)
{
    close();
    int code = MPG123_OK;
    if (!m_handle) {
        m_handle = mpg123_new(nullptr, &code);
        if (!m_handle) {
            if (failure)
                *failure = {describe(nullptr, code), 0};
            return false;
        }
        // Gapless decoding drops the encoder's delay that a LAME tag announces, so that a
        // sample is heard at the second the position gives for it (1105 samples, 138 ms at
        // 8 kHz, would otherwise put every sound that late).
        mpg123_param(m_handle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_FORCE_FLOAT | MPG123_GAPLESS, 0);
        mpg123_replace_reader_handle(m_handle, &Mp3Decoder::readFile, &Mp3Decoder::seekFile, nullptr);
    }
    long rate = 0;
    int channels = 0, encoding = 0;
    const QByteArray nativePath = QFile::encodeName(path);
    // Without O_NONBLOCK a FIFO at the path would hold the open until something writes to
    // it; only a regular file is decoded.
    m_fd = RecordingFile::OpenKeepingAccessTime(nativePath, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (m_fd >= 0) {
        struct stat st {};
        const int statError = ::fstat(m_fd, &st) != 0 ? errno
                              : S_ISDIR(st.st_mode)   ? EISDIR
                              : !S_ISREG(st.st_mode)  ? EINVAL
                                                      : 0;
        if (statError) {
            releaseFile();
            errno = statError;
        }
    }
    if (m_fd < 0) {
        const int openError = errno;
        if (failure)
            *failure = {QString::fromLocal8Bit(std::strerror(openError)), openError};
        return false;
    }
    errno = 0;
    m_bufferStart = m_bufferEnd = 0;
    m_fileOffset = 0;
    const int opened = mpg123_open_handle(m_handle, this);
    if (opened != MPG123_OK) {
        // When the file could not be opened, errno (or the first open's) is the reason.
        int systemError = 0;
        if (mpg123_errcode(m_handle) == MPG123_BAD_FILE)
            systemError = errno;
        if (failure)
            *failure = {describe(m_handle, code), systemError};
        releaseFile();
        return false;
    }
    if (mpg123_getformat(m_handle, &rate, &channels, &encoding) != MPG123_OK || rate <= 0
        || channels <= 0 || encoding != MPG123_ENC_FLOAT_32) {
        if (failure)
            *failure = {describe(m_handle, code), 0};
        mpg123_close(m_handle);
        releaseFile();
        return false;
    }
    // Keep the format fixed for the whole stream.
    mpg123_format_none(m_handle);
    mpg123_format(m_handle, rate, channels, MPG123_ENC_FLOAT_32);
    m_rate = int(rate);
    m_channels = channels;
    m_position = 0;
    m_ended = false;
    m_open = true;
    return true;
}

void Mp3Decoder::close()
{
    if (m_open)
        mpg123_close(m_handle);
    m_open = false;
    releaseFile();
}

void Mp3Decoder::releaseFile()
{
    // The library leaves a descriptor it was given open.
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

ssize_t Mp3Decoder::readFile(void* self, void* destination, size_t length)
{
    auto& decoder = *static_cast<Mp3Decoder*>(self);
    constexpr size_t kBufferBytes = 64 * 1024;
    if (decoder.m_bufferStart == decoder.m_bufferEnd) {
        if (decoder.m_buffer.size() < kBufferBytes)
            decoder.m_buffer.resize(kBufferBytes);
        ssize_t got;
        do {
            got = ::read(decoder.m_fd, decoder.m_buffer.data(), decoder.m_buffer.size());
        } while (got < 0 && errno == EINTR);
        if (got <= 0)
            return got;
        decoder.m_fileOffset += got;
        decoder.m_bufferStart = 0;
        decoder.m_bufferEnd = size_t(got);
    }
    const size_t taken = std::min(length, decoder.m_bufferEnd - decoder.m_bufferStart);
    std::memcpy(destination, decoder.m_buffer.data() + decoder.m_bufferStart, taken);
    decoder.m_bufferStart += taken;
    return ssize_t(taken);
}

off_t Mp3Decoder::seekFile(void* self, off_t offset, int whence)
{
    auto& decoder = *static_cast<Mp3Decoder*>(self);
    const off_t bufferBegin = decoder.m_fileOffset - off_t(decoder.m_bufferEnd);
    const off_t current = decoder.m_fileOffset - off_t(decoder.m_bufferEnd - decoder.m_bufferStart);
    off_t target = whence == SEEK_SET ? offset : whence == SEEK_CUR ? current + offset : -1;
    // Within what the buffer holds: no need to ask the system.
    if (target >= bufferBegin && target <= decoder.m_fileOffset) {
        decoder.m_bufferStart = size_t(target - bufferBegin);
        return target;
    }
    target = whence == SEEK_END ? ::lseek(decoder.m_fd, offset, SEEK_END) : ::lseek(decoder.m_fd, target, SEEK_SET);
    if (target < 0)
        return target;
    decoder.m_fileOffset = target;
    decoder.m_bufferStart = decoder.m_bufferEnd = 0;
    return target;
}

int64_t Mp3Decoder::read(float* frames, int64_t count)
{
    if (!m_open || m_ended || count <= 0)
        return 0;
    const size_t frameBytes = sizeof(float) * size_t(m_channels);
    auto* out = reinterpret_cast<unsigned char*>(frames);
    size_t filled = 0;
    const size_t wanted = size_t(count) * frameBytes;
    while (filled < wanted) {
        size_t done = 0;
        const int result = mpg123_read(m_handle, out + filled, wanted - filled, &done);
        filled += done;
        if (result == MPG123_NEW_FORMAT)
            continue;
        if (result != MPG123_OK) {
            // The end, or data the decoder cannot go on with: either way nothing follows.
            m_ended = true;
            break;
        }
        if (done == 0)
            break;
    }
    const int64_t got = int64_t(filled / frameBytes);
    m_position += got;
    return got;
}

int64_t Mp3Decoder::seek(int64_t frame)
{
    if (!m_open)
        return 0;
    const off_t reached = mpg123_seek(m_handle, off_t(frame < 0 ? 0 : frame), SEEK_SET);
    m_ended = false;
    if (reached < 0) {
        // Past the end of the stream: nothing is left to play.
        m_ended = true;
        return m_position;
    }
    m_position = int64_t(reached);
    return m_position;
}

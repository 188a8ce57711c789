#pragma once

#include <QString>
#include <cstdint>
#include <sys/types.h>
#include <vector>

struct mpg123_handle_struct;

// Why a file could not be opened for decoding: the decoder's own (English)
// words, for the log, and the operating-system error when the file itself could
// not be opened (0 otherwise), for the user.
struct DecodeFailure
{
    QString decoderText;
    int systemError = 0;
};

// Decodes an MP3 file to interleaved float samples with libmpg123. Sample
// positions count every sample of every audio frame (no gapless trimming), so
// whole seconds agree with the duration the scan reports.
class Mp3Decoder
{
public:
    Mp3Decoder();
    ~Mp3Decoder();
    Mp3Decoder(const Mp3Decoder&) = delete;
    Mp3Decoder& operator=(const Mp3Decoder&) = delete;

    // Opens the file and reads its format; false with the reason (when failure is
    // given) when it cannot be opened or is not MPEG audio the decoder can read.
    bool open(const QString& path, DecodeFailure* failure);
    // Releases the file.
    void close();
    bool isOpen() const { return m_open; }

    int sampleRate() const { return m_rate; }
    int channels() const { return m_channels; }

    // Decodes up to count frames; returns the frames decoded, 0 at the end.
    int64_t read(float* frames, int64_t count);
    // Moves to a frame (clamped at 0); returns the position reached.
    int64_t seek(int64_t frame);
    // The frame that read() gives next.
    int64_t position() const { return m_position; }

private:
    void releaseFile();
    // The file as the library reads it: through a buffer, since the library asks for
    // a frame at a time (some tens of bytes at the recorder's lowest rate), which
    // would otherwise cost a system call each.
    static ssize_t readFile(void* self, void* destination, size_t length);
    static off_t seekFile(void* self, off_t offset, int whence);

    mpg123_handle_struct* m_handle = nullptr;
    int m_fd = -1; // the file, opened so that playing it leaves its access time alone
    std::vector<unsigned char> m_buffer;
    size_t m_bufferStart = 0; // the next byte to hand out
    size_t m_bufferEnd = 0;
    off_t m_fileOffset = 0; // where the file's own offset stands (after the buffer's end)
    bool m_open = false;
    int m_rate = 0;
    int m_channels = 0;
    int64_t m_position = 0;
    bool m_ended = false;
};

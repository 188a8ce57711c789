#include "RecorderIdentity.h"

#include "RecordingFile.h"

#include "platform/Paths.h"
#include "platform/ProgramIdentity.h"
#include "platform/SettingsNumber.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kSignature[] = "TALVEN-77";
constexpr int kSignatureBytes = 9;
constexpr int kDeviceFileBytes = 512;

// The decimal value of leading digits after optional white space and a sign;
// text without digits reads as 0.
long long leadingDecimal(const QString& text)
{
    int i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > 0xFFFFFFFFLL) // far beyond any recorder number; stop before overflow
            break;
    }
    return negative ? -value : value;
}

// The first bytes of a regular file; a FIFO or device in its place is never
// read, since reading one could wait for ever.
QByteArray readFileStart(const QString& path, int length)
{
    const QByteArray nativePath = QFile::encodeName(path);
    int error = 0;
    if (!RecordingFile::IsRegularFile(nativePath, error))
        return {};
    const int fd = RecordingFile::OpenKeepingAccessTime(nativePath, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return {};
    QByteArray data(length, '\0');
    qsizetype done = 0;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        while (done < length) {
            const ssize_t got = ::pread(fd, data.data() + done, size_t(length - done), off_t(done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += got;
        }
    }
    ::close(fd);
    data.truncate(done);
    return data;
}

} // namespace

uint16_t ReadRecorderNumber(const QString& drive)
{
    const QByteArray data =
        readFileStart(drive + QDir::separator() + QStringLiteral("Device.Dat"), kDeviceFileBytes);
    if (data.size() < kDeviceFileBytes)
        return 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    if (std::strncmp(data.constData(), kSignature, kSignatureBytes + 1) != 0)
        return 0;
    for (int i = 0; i < kSignatureBytes; ++i) {
        if (bytes[i] != bytes[kDeviceFileBytes - 1 - i])
            return 0;
    }
    return uint16_t(bytes[16] | bytes[17] << 8);
}

QString RecorderFolderName(uint16_t number)
{
    return QString::asprintf("%03d_TALVEN-77", int(number));
}

QString RecorderFolderPath(const QString& drive, uint16_t number)
{
    return AddTrailingSeparator(drive + QDir::separator() + RecorderFolderName(number));
}

QString LookUpRecorderName(uint16_t number)
{
    QString result = QString::asprintf("%03d", int(number));
    const auto settings = OpenProgramSettings();
    settings->beginGroup(QStringLiteral("DeviceName"));
    const int count = std::min(SettingsInt(*settings, QStringLiteral("Count"), 0, 0), kRecorderNameRegisterCapacity);
    for (int i = 1; i <= count; ++i) {
        const QString itemNo = settings->value(QStringLiteral("ItemNo%1").arg(i)).toString();
        if (!itemNo.isEmpty() && leadingDecimal(itemNo) == number) {
            result = settings->value(QStringLiteral("ItemName%1").arg(i)).toString();
            break;
        }
    }
    return result;
}

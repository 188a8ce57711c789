#include "CardBuilder.h"
#include "MessageRecorder.h"
#include "RecordingBuilder.h"
#include "TestFiles.h"
#include "TestRegistry.h"
#include "recording/FileList.h"
#include "recording/RecorderIdentity.h"
#include "recording/RecordingFile.h"
#include "recording/VoiceDuration.h"
#include "recording/VoiceHeader.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

const QByteArray kTagHeader("ID3\x03\x00\x00\x00\x00\x10\x00", 10);

QByteArray headerBytes(const tagVoiceHeader& header)
{
    return QByteArray(reinterpret_cast<const char*>(&header), sizeof header);
}

QByteArray xpccFrame(const tagVoiceHeader& header)
{
    return BuildFrame({QByteArrayLiteral("XPCC"), headerBytes(header)});
}

QByteArray frameWithSizeBytes(const QByteArray& sizeBytes, int bodyBytes)
{
    return QByteArrayLiteral("TXXX") + sizeBytes + QByteArray(2, '\0') + QByteArray(bodyBytes, 'b');
}

// An ID3v2 tag header that declares size bytes after itself (syncsafe).
QByteArray tagHeaderOfSize(int size)
{
    QByteArray tag = QByteArrayLiteral("ID3\x03\x00\x00");
    for (int shift = 21; shift >= 0; shift -= 7)
        tag.append(char((size >> shift) & 0x7F));
    return tag;
}

bool isAllZero(const tagVoiceHeader& header)
{
    return headerBytes(header) == QByteArray(sizeof header, '\0');
}

// The frame walk exactly as the header rule states it, over the file's bytes:
// ten-byte frame headers, little-endian sizes, on through padding and audio
// until a header matches or the file runs out. The body's position, or -1.
int64_t referenceWalk(const QByteArray& file)
{
    if (!file.startsWith("ID3"))
        return -1;
    int64_t position = 10;
    for (;;) {
        if (position + 10 > file.size())
            return -1;
        const auto* frame = reinterpret_cast<const unsigned char*>(file.constData() + position);
        position += 10;
        if (std::memcmp(frame, "XPCC", 4) == 0)
            return position;
        position += int64_t(frame[4]) | int64_t(frame[5]) << 8 | int64_t(frame[6]) << 16
                    | int64_t(frame[7]) << 24;
    }
}

// Bytes this process has read so far, as the kernel counts them.
qint64 bytesReadSoFar()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

} // namespace

class VoiceHeaderTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    static bool writeBytesAt(const QString& path, int64_t position, const QByteArray& bytes)
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
        const bool ok = fd >= 0
                        && ::pwrite(fd, bytes.constData(), size_t(bytes.size()), position)
                               == bytes.size();
        if (fd >= 0)
            ::close(fd);
        return ok;
    }
    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(name);
        [&] { QVERIFY(WriteFileBytes(path, bytes)); }();
        return path;
    }

private Q_SLOTS:
    void linksToSpecialFilesAreNotOpened()
    {
        // Opening some devices does something by itself, so a link named like a
        // recording (or Device.Dat) to one is looked at, never opened. A FIFO
        // stands in for the device: inotify tells whether anything opened it.
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("fifo"));
        QVERIFY(MakeFifo(fifo));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("card/001_TALVEN-77"))));
        const QString recording = dir.filePath(QStringLiteral("card/001_TALVEN-77/x.mp3"));
        QVERIFY(QFile::link(fifo, recording));
        QVERIFY(QFile::link(fifo, dir.filePath(QStringLiteral("card/Device.Dat"))));
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0);
        QVERIFY(inotify_add_watch(watch, QFile::encodeName(fifo).constData(), IN_OPEN) >= 0);

        tagVoiceHeader header{};
        QVERIFY(!ReadVoiceHeader(recording, header));
        QVERIFY(!WriteVoiceHeader(recording, MakeVoiceHeader(0)));
        QCOMPARE(GetVoiceDuration(recording), 0u);
        CFileList scanned(kListRegistered, false);
        scanned.SetFolder(dir.filePath(QStringLiteral("card/001_TALVEN-77")));
        scanned.Rescan();
        QCOMPARE(scanned.GetRecordCount(), 0);
        QCOMPARE(ReadRecorderNumber(dir.filePath(QStringLiteral("card"))), uint16_t(0));

        char events[4096];
        QCOMPARE(::read(watch, events, sizeof events), ssize_t(-1)); // nothing was opened
        ::close(watch);
    }

    void cleanup()
    {
        RecordingFile::SetLockFunction({});
    }

    void findsTheFrameByWalkingTheTag_data()
    {
        const QByteArray xpcc = xpccFrame(MakeVoiceHeader(1, QStringLiteral("メモ"), {3, 9}));
        QTest::addColumn<QByteArray>("frames");
        QTest::addColumn<int>("bodyOffset"); // -1: not found
        QTest::newRow("first frame") << xpcc << 20;
        QTest::newRow("little-endian size 0x0A skips ten bytes")
            << frameWithSizeBytes(QByteArray("\x0A\x00\x00\x00", 4), 10) + xpcc << 40;
        QTest::newRow("big-endian size runs past the end")
            << frameWithSizeBytes(QByteArray("\x00\x00\x00\x0A", 4), 10) + xpcc << -1;
        QTest::newRow("zero padding is walked in ten-byte steps") << QByteArray(30, '\0') + xpcc << 50;
        QTest::newRow("frame id compared as bytes")
            << BuildFrame({QByteArrayLiteral("xpcc"), QByteArray(492, 'x')}) << -1;
        QTest::newRow("tag header only") << QByteArray() << -1;
    }
    void findsTheFrameByWalkingTheTag()
    {
        QFETCH(QByteArray, frames);
        QFETCH(int, bodyOffset);
        const QByteArray file = kTagHeader + frames;
        const QString path = write(QStringLiteral("walk.mp3"), file);
        MessageRecorder messages;

        tagVoiceHeader header;
        std::memset(&header, 0xCC, sizeof header);
        const bool found = ReadVoiceHeader(path, header);
        QCOMPARE(found, bodyOffset >= 0);
        if (found) {
            QCOMPARE(headerBytes(header), file.mid(bodyOffset, sizeof header));
        } else {
            QVERIFY(isAllZero(header));
            // A header that was not found is never written.
            QVERIFY(!WriteVoiceHeader(path, MakeVoiceHeader(2)));
            QCOMPARE(ReadWholeFile(path), file);
        }
        QVERIFY(messages.entries().isEmpty());
    }

    void zeroRunsAreWalkedAsInTenByteSteps_data()
    {
        const QByteArray xpcc = xpccFrame(MakeVoiceHeader(2, QStringLiteral("ゼロ"), {7}));
        const auto zeros = [](int count) { return QByteArray(count, '\0'); };
        QTest::addColumn<QByteArray>("frames");
        QTest::addColumn<bool>("found"); // what the reference walk must also say
        for (int padding = 200; padding < 210; ++padding) {
            QTest::addRow("%d zero bytes before XPCC", padding)
                << zeros(padding) + xpcc << (padding % 10 == 0);
        }
        QTest::newRow("zero run across a read window") << zeros(70000) + xpcc << true;
        QTest::newRow("zero run across a read window, off the grid")
            << zeros(70003) + xpcc << false;
        QTest::newRow("zero run ends inside a header's size")
            << zeros(24) + "\x05" + zeros(5) + "abcde" + xpcc << true;
        QTest::newRow("zero id with a size") << zeros(20) + QByteArray("\0\0\0\0\x0A\0\0\0\0\0", 10)
                                                    + QByteArray(10, 'q') + zeros(30) + xpcc
                                             << true;
        QTest::newRow("frame size lands inside the run")
            << frameWithSizeBytes(QByteArray("\x0F\x00\x00\x00", 4), 0) + zeros(55) + xpcc << true;
        QTest::newRow("run to the end of the file") << zeros(1000) << false;
        QTest::newRow("run to a tail shorter than a header") << zeros(1000) + "abc" << false;
        QTest::newRow("XPCC in the last header's bytes") << zeros(96) + "XPCC" << false;
        QTest::newRow("eight megabytes of zeros") << zeros(8000000) + xpcc << true;
        QTest::newRow("only the tag header") << QByteArray() << false;
    }
    void zeroRunsAreWalkedAsInTenByteSteps()
    {
        QFETCH(QByteArray, frames);
        QFETCH(bool, found);
        const QByteArray file = kTagHeader + frames;
        const int64_t expected = referenceWalk(file);
        QCOMPARE(expected >= 0, found);
        const QString path = write(QStringLiteral("zeros.mp3"), file);
        RecordingFile opened;
        QVERIFY(opened.open(path, RecordingFile::Access::Read));
        VoiceHeaderLookup lookup = VoiceHeaderLookup::OpenFailed;
        QCOMPARE(FindVoiceHeaderBody(opened, &lookup), expected);
        QCOMPARE(lookup, found ? VoiceHeaderLookup::Found : VoiceHeaderLookup::NoFrame);
    }

    void hugeSparseFileIsWalkedWithoutReadingItsHoles()
    {
        // Two gigabytes: the tag header, a hole, a stretch of written zeros, a hole.
        constexpr int64_t kSize = int64_t(2) << 30;
        const QString path = m_dir.filePath(QStringLiteral("sparse.mp3"));
        const int fd =
            ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        const QByteArray written(1 << 20, '\0');
        const QByteArray xpcc = xpccFrame(MakeVoiceHeader(1, QStringLiteral("奥")));
        // Where a frame header of the walk starts, near the end.
        const int64_t onGrid = 10 + (kSize - 4000) / 10 * 10;
        const bool made =
            ::pwrite(fd, kTagHeader.constData(), 10, 0) == 10
            && ::pwrite(fd, written.constData(), size_t(written.size()), kSize / 2) == written.size()
            && ::ftruncate(fd, kSize) == 0;
        const bool holesKnown = ::lseek(fd, 0, SEEK_HOLE) < kSize;
        ::close(fd);
        QVERIFY(made);
        const qint64 readBefore = bytesReadSoFar();

        tagVoiceHeader header;
        VoiceHeaderLookup lookup = VoiceHeaderLookup::Found;
        QVERIFY(!ReadVoiceHeader(path, header, &lookup));
        QCOMPARE(lookup, VoiceHeaderLookup::NoFrame);
        QVERIFY(!WriteVoiceHeader(path, MakeVoiceHeader(0)));

        // A frame three bytes off the ten-byte grid is not met by the walk; one on it is.
        QVERIFY(writeBytesAt(path, onGrid + 3, xpcc));
        QVERIFY(!ReadVoiceHeader(path, header));
        QVERIFY(writeBytesAt(path, onGrid + 3, QByteArray(xpcc.size(), '\0')));
        QVERIFY(writeBytesAt(path, onGrid, xpcc));
        QVERIFY(ReadVoiceHeader(path, header));
        QCOMPARE(headerBytes(header), xpcc.mid(10));
        QCOMPARE(QFileInfo(path).size(), kSize);

        if (!holesKnown || readBefore < 0)
            QSKIP("this file system does not tell where its holes are");
        // Four walks over two gigabytes each; the written stretch is all they read.
        QVERIFY2(bytesReadSoFar() - readBefore < 64 << 20,
                 qPrintable(QString::number(bytesReadSoFar() - readBefore)));
    }

    void shortTailReadsWithTheRestZero()
    {
        const QByteArray body(100, '\x42');
        const QString path = write(QStringLiteral("short.mp3"),
                                   kTagHeader + QByteArrayLiteral("XPCC") + QByteArray(6, '\0') + body);
        tagVoiceHeader header;
        QVERIFY(ReadVoiceHeader(path, header));
        const QByteArray read = headerBytes(header);
        QCOMPARE(read.left(100), body);
        QCOMPARE(read.mid(100), QByteArray(392, '\0'));
    }

    void fileWithoutTheMagicIsNeverWritten_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("plain audio") << ShortSpeechAudio();
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("two bytes") << QByteArray("ID");
        QTest::newRow("XPCC without a tag") << xpccFrame(MakeVoiceHeader(0));
    }
    void fileWithoutTheMagicIsNeverWritten()
    {
        QFETCH(QByteArray, bytes);
        const QString path = write(QStringLiteral("untagged.mp3"), bytes);
        tagVoiceHeader header;
        VoiceHeaderLookup lookup = VoiceHeaderLookup::Found;
        QVERIFY(!ReadVoiceHeader(path, header, &lookup));
        QCOMPARE(lookup, VoiceHeaderLookup::NotTagged);
        QVERIFY(isAllZero(header));
        QVERIFY(!WriteVoiceHeader(path, MakeVoiceHeader(1)));
        QCOMPARE(ReadWholeFile(path), bytes);
    }

    void hostileFilesAreHandledSafely_data()
    {
        QTest::addColumn<QString>("kind"); // "bytes" or how the entry is made
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("bodyOffset"); // -1: no header to find
        const QByteArray xpccHeader = QByteArrayLiteral("XPCC") + QByteArray(6, '\0');
        QTest::newRow("empty file") << "bytes" << QByteArray() << -1;
        QTest::newRow("tag cut at five bytes") << "bytes" << kTagHeader.left(5) << -1;
        QTest::newRow("tag header only") << "bytes" << kTagHeader << -1;
        QTest::newRow("XPCC frame header cut") << "bytes" << kTagHeader + xpccHeader.left(7) << -1;
        QTest::newRow("frame size 0xFFFFFFFF")
            << "bytes"
            << kTagHeader + frameWithSizeBytes(QByteArray(4, '\xFF'), 0) + xpccFrame(MakeVoiceHeader(1))
            << -1;
        QTest::newRow("XPCC body of 100 bytes")
            << "bytes" << kTagHeader + xpccHeader + QByteArray(100, '\x42') << 20;
        QTest::newRow("XPCC frame header at the end") << "bytes" << kTagHeader + xpccHeader << 20;
        QTest::newRow("folder") << "folder" << QByteArray() << -1;
        QTest::newRow("FIFO") << "fifo" << QByteArray() << -1;
        QTest::newRow("link to a device") << "device" << QByteArray() << -1;
        QTest::newRow("link loop") << "loop" << QByteArray() << -1;
        QTest::newRow("unreadable recording")
            << "unreadable" << BuildRecording(MakeVoiceHeader(1), {}) << -1;
    }
    void hostileFilesAreHandledSafely()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, bytes);
        QFETCH(int, bodyOffset);
        if (kind == QStringLiteral("unreadable") && geteuid() == 0)
            QSKIP("root reads every file");
        const QString folder =
            m_dir.filePath(QStringLiteral("hostile/") + QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(WriteFileBytes(folder + QStringLiteral("/real.mp3"),
                               BuildRecording(MakeVoiceHeader(0), ShortSpeechAudio())));
        const QString path = folder + QStringLiteral("/x.mp3");
        const QString other = folder + QStringLiteral("/y.mp3");
        if (kind == QStringLiteral("folder"))
            QVERIFY(QDir().mkpath(path));
        else if (kind == QStringLiteral("fifo"))
            QVERIFY(MakeFifo(path));
        else if (kind == QStringLiteral("device"))
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        else if (kind == QStringLiteral("loop"))
            QVERIFY(QFile::link(other, path) && QFile::link(path, other));
        else
            QVERIFY(WriteFileBytes(path, bytes));
        if (kind == QStringLiteral("unreadable"))
            QVERIFY(QFile::setPermissions(path, {}));
        MessageRecorder messages;
        const bool found = bodyOffset >= 0;
        const tagVoiceHeader written = MakeVoiceHeader(2, QStringLiteral("上書き"), {1, 2});

        bool read = !found;
        bool wrote = true;
        tagVoiceHeader header;
        std::memset(&header, 0xCC, sizeof header);
        uint32_t duration = 1;
        QStringList listed;
        // Nothing writes to the FIFO: whatever waits on it is let go after a few seconds.
        const auto everything = [&] {
            read = ReadVoiceHeader(path, header);
            duration = GetVoiceDuration(path);
            CFileList list(kListRegistered, false);
            list.SetFolder(folder);
            list.EnsureScanned();
            for (const tagFileList& record : list.records())
                listed.append(record.szFileName);
            wrote = WriteVoiceHeader(path, written);
        };
        QVERIFY(FinishesWithin(5000, everything, [&] { ReleaseFifoReaders(path); }));

        QCOMPARE(read, found);
        // The bodies found here run past the end of the file: read as found, never written.
        QVERIFY(!wrote);
        QCOMPARE(duration, 0u);
        QCOMPARE(listed.contains(QStringLiteral("x.mp3")), found);
        QVERIFY(listed.contains(QStringLiteral("real.mp3")));
        QVERIFY(messages.entries().isEmpty());
        if (kind != QStringLiteral("bytes"))
            return;
        QCOMPARE(ReadWholeFile(path), bytes);
        if (!found) {
            QVERIFY(isAllZero(header));
            return;
        }
        // What the file held of the body, the rest zero.
        QCOMPARE(headerBytes(header), bytes.mid(bodyOffset).leftJustified(sizeof header, '\0'));
    }

    void lookingAtARecordingLeavesItsAccessTime()
    {
        const QDateTime longAgo(QDate(2013, 4, 15), QTime(10, 0));
        const QString folder = m_dir.filePath(QStringLiteral("atime"));
        const QString path = folder + QStringLiteral("/r.mp3");
        QVERIFY(WriteFileBytes(path, BuildRecording(MakeVoiceHeader(1), ShortSpeechAudio()), longAgo));
        QCOMPARE(QFileInfo(path).lastRead(), longAgo);
        tagVoiceHeader header;
        QVERIFY(ReadVoiceHeader(path, header));
        QCOMPARE(GetVoiceDuration(path), 2u);
        CFileList list(kListRegistered, false);
        list.SetFolder(folder);
        list.EnsureScanned();
        QCOMPARE(list.GetRecordCount(), 1);
        QCOMPARE(QFileInfo(path).lastRead(), longAgo);
        QCOMPARE(QFileInfo(path).lastModified(), longAgo);
        // The card's identification file as well.
        const QString identification = folder + QStringLiteral("/Device.Dat");
        QVERIFY(WriteFileBytes(identification, DeviceDatBytes(7), longAgo));
        QCOMPARE(ReadRecorderNumber(folder), uint16_t(7));
        QCOMPARE(QFileInfo(identification).lastRead(), longAgo);
    }

    void missingFileAndFolderAreNotFound()
    {
        tagVoiceHeader header;
        VoiceHeaderLookup lookup = VoiceHeaderLookup::Found;
        QVERIFY(!ReadVoiceHeader(m_dir.filePath(QStringLiteral("missing.mp3")), header, &lookup));
        QCOMPARE(lookup, VoiceHeaderLookup::OpenFailed);
        QVERIFY(!ReadVoiceHeader(m_dir.path(), header));
        QVERIFY(!WriteVoiceHeader(m_dir.path(), header));
        QVERIFY(!WriteVoiceHeader(m_dir.filePath(QStringLiteral("missing.mp3")), header));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("missing.mp3"))));
    }

    void writeChangesOnlyTheBody()
    {
        const tagVoiceHeader original = MakeVoiceHeader(2, QStringLiteral("元のメモ"), {5, 10});
        const QByteArray file = BuildVoiceTag(original, {{QByteArrayLiteral("TXXX"), QByteArray(33, 't')}}, 64)
                                + ShortSpeechAudio();
        const QString path = write(QStringLiteral("rw.mp3"), file);

        tagVoiceHeader header;
        QVERIFY(ReadVoiceHeader(path, header));
        QCOMPARE(headerBytes(header), headerBytes(original));
        header.playedFlag = 2;
        header.protectFlag = 1;
        header.transferredFlag = 1;
        header.indexMarks[2] = 42;
        std::memset(header.memo, 0, sizeof header.memo);
        std::memcpy(header.memo, "\x90\x56\x82\xb5\x82\xa2", 6); // 新しい
        QVERIFY(WriteVoiceHeader(path, header));

        tagVoiceHeader reread;
        QVERIFY(ReadVoiceHeader(path, reread));
        QCOMPARE(headerBytes(reread), headerBytes(header));
        QCOMPARE(VoiceMemoText(reread), QStringLiteral("新しい"));
        const QByteArray after = ReadWholeFile(path);
        const int body = 10 + 10 + 33 + 10;
        QCOMPARE(after.size(), file.size());
        QCOMPARE(after.left(body), file.left(body));
        QCOMPARE(after.mid(body + 492), file.mid(body + 492));
        // Bytes the program does not interpret survive.
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(reread.reserved41), 195),
                 QByteArray(reinterpret_cast<const char*>(original.reserved41), 195));
    }

    void fileInUseIsNotFoundAndNotWritten()
    {
        const QByteArray file = BuildRecording(MakeVoiceHeader(1), ShortSpeechAudio());
        const QString path = write(QStringLiteral("busy.mp3"), file);
        MessageRecorder messages;
        const int holder = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(holder >= 0);
        QCOMPARE(flock(holder, LOCK_EX | LOCK_NB), 0);
        tagVoiceHeader header;
        QVERIFY(!ReadVoiceHeader(path, header));
        QVERIFY(!WriteVoiceHeader(path, MakeVoiceHeader(2)));
        ::close(holder);
        QVERIFY(messages.entries().isEmpty());
        QCOMPARE(ReadWholeFile(path), file);
        QVERIFY(ReadVoiceHeader(path, header));
    }

    void lockRefusalsOfOtherFileSystems_data()
    {
        QTest::addColumn<int>("lockError");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<bool>("writable");
        QTest::newRow("held by another operation") << EWOULDBLOCK << false << false;
        QTest::newRow("NFS: exclusive lock needs a writable descriptor") << EBADF << true << false;
        QTest::newRow("no locks on this file system") << ENOLCK << true << true;
        QTest::newRow("locks not supported") << EOPNOTSUPP << true << true;
        QTest::newRow("any other failure") << EINVAL << false << false;
    }
    void lockRefusalsOfOtherFileSystems()
    {
        QFETCH(int, lockError);
        QFETCH(bool, readable);
        QFETCH(bool, writable);
        const QString folder = m_dir.filePath(QStringLiteral("locks-%1").arg(lockError));
        const tagVoiceHeader original = MakeVoiceHeader(1, QStringLiteral("共有"));
        const QByteArray file = BuildRecording(original, ShortSpeechAudio());
        const QString path = write(QStringLiteral("locks-%1/r.mp3").arg(lockError), file);
        MessageRecorder messages;
        RecordingFile::SetLockFunction([lockError](int, int) {
            errno = lockError;
            return -1;
        });

        tagVoiceHeader header;
        QCOMPARE(ReadVoiceHeader(path, header), readable);
        QCOMPARE(GetVoiceDuration(path), readable ? 2u : 0u);
        CFileList list(kListRegistered, false);
        list.SetFolder(folder);
        list.EnsureScanned();
        QCOMPARE(list.GetRecordCount(), readable ? 1 : 0);

        tagVoiceHeader changed = original;
        changed.protectFlag = 1;
        QCOMPARE(WriteVoiceHeader(path, changed), writable);
        RecordingFile::SetLockFunction({});
        QVERIFY(messages.entries().isEmpty());
        QVERIFY(ReadVoiceHeader(path, header));
        QCOMPARE(header.protectFlag, writable ? 1 : 0);
        QCOMPARE(ReadWholeFile(path).size(), file.size());
    }

    void failedWriteIsReportedWithAWarning()
    {
        // A file-size limit that falls inside the body stops the write after
        // its first hundred bytes.
        const QByteArray file = BuildRecording(MakeVoiceHeader(1), ShortSpeechAudio());
        const QString path = write(QStringLiteral("full.mp3"), file);
        MessageRecorder messages;
        bool written = true;
        {
            const FileSizeLimit limited(20 + 100);
            QVERIFY(limited.ok());
            written = WriteVoiceHeader(path, MakeVoiceHeader(2, QStringLiteral("書けない")));
        }

        QVERIFY(!written);
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text,
                 QStringLiteral("ヘッダが更新できません。書込み禁止になっていないか確認してください。"));
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Warning);
    }

    void writesOnlyInsideTheTag_data()
    {
        const tagVoiceHeader original = MakeVoiceHeader(1, QStringLiteral("枠"), {4});
        const QByteArray xpcc = xpccFrame(original);
        const QByteArray audio = ShortSpeechAudio();
        const QByteArray emptyXpcc = QByteArrayLiteral("XPCC") + QByteArray(6, '\0');
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("bodyOffset");
        QTest::addColumn<bool>("writable");
        QTest::newRow("padding inside the tag") << BuildVoiceTag(original, {}, 64) + audio << 20 << true;
        QTest::newRow("body ends at the tag's end") << tagHeaderOfSize(502) + xpcc + audio << 20 << true;
        QTest::newRow("body one byte past the tag's end") << tagHeaderOfSize(501) + xpcc + audio << 20 << false;
        QTest::newRow("frame of size 0 followed by audio")
            << tagHeaderOfSize(10) + emptyXpcc + audio << 20 << false;
        QTest::newRow("body past the end of the file")
            << tagHeaderOfSize(2048) + emptyXpcc + QByteArray(100, 'z') << 20 << false;
        QTest::newRow("frame found after the tag")
            << tagHeaderOfSize(20) + frameWithSizeBytes(QByteArray("\x0A\x00\x00\x00", 4), 10) + xpcc + audio
            << 40 << false;
        QTest::newRow("tag size not syncsafe")
            << QByteArray("ID3\x03\x00\x00\x00\x00\x84\x00", 10) + xpcc + audio << 20 << false;
    }
    void writesOnlyInsideTheTag()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, bodyOffset);
        QFETCH(bool, writable);
        const QString path = write(QStringLiteral("bounds.mp3"), file);
        MessageRecorder messages;
        tagVoiceHeader header;
        QVERIFY(ReadVoiceHeader(path, header)); // reading is as before
        QCOMPARE(headerBytes(header), file.mid(bodyOffset, sizeof header).leftJustified(sizeof header, '\0'));
        RecordingFile opened;
        QVERIFY(opened.open(path, RecordingFile::Access::Read));
        const FileIdentity readFrom = opened.identity();
        opened.close();

        const tagVoiceHeader changed = MakeVoiceHeader(2, QStringLiteral("上書き"), {1, 2});
        QCOMPARE(WriteVoiceHeader(path, changed), writable);
        QVERIFY(messages.entries().isEmpty());
        if (writable) {
            const QByteArray after = ReadWholeFile(path);
            QCOMPARE(after.size(), file.size());
            QCOMPARE(after.left(bodyOffset), file.left(bodyOffset));
            QCOMPARE(after.mid(bodyOffset, sizeof changed), headerBytes(changed));
            QCOMPARE(after.mid(bodyOffset + int(sizeof changed)), file.mid(bodyOffset + int(sizeof changed)));
            return;
        }
        QCOMPARE(ReadWholeFile(path), file);
        // A change the user made that cannot be written is reported; the file stays.
        QVERIFY(!WriteVoiceHeader(path, changed, readFrom));
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, VoiceHeaderWriteFailedMessage());
        QVERIFY(!WriteVoiceHeader(path, changed, readFrom, HeaderChange::Automatic));
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(ReadWholeFile(path), file);
    }

    void memoAsTheListShowsIt_data()
    {
        QTest::addColumn<QByteArray>("memo");
        QTest::addColumn<QString>("text");
        QTest::newRow("trailing white space removed") << QByteArray("\x89\xef\x8b\x63  \t\r\n") << QStringLiteral("会議");
        QTest::newRow("leading space kept") << QByteArray("  x ") << QStringLiteral("  x");
        QTest::newRow("stops at the first NUL") << QByteArray("abc\0garbage", 11) << QStringLiteral("abc");
        QTest::newRow("full 256 bytes without terminator") << QByteArray(256, 'm') << QString(256, u'm');
        QTest::newRow("empty") << QByteArray() << QString();
    }
    void memoAsTheListShowsIt()
    {
        QFETCH(QByteArray, memo);
        QFETCH(QString, text);
        tagVoiceHeader header = MakeVoiceHeader(0);
        std::memcpy(header.memo, memo.constData(), size_t(memo.size()));
        QCOMPARE(VoiceMemoText(header), text);
    }

    void normalizedIndexMarks_data()
    {
        constexpr uint32_t E = kEmptyIndexMark;
        QTest::addColumn<QList<uint32_t>>("given");
        QTest::addColumn<QList<uint32_t>>("normalized");
        QTest::newRow("zero and a repeat emptied, then sorted")
            << QList<uint32_t>{0, 30, 30, 10, E} << QList<uint32_t>{10, 30, E, E, E};
        QTest::newRow("empty slots between marks move last")
            << QList<uint32_t>{E, 7, E, 3, E} << QList<uint32_t>{3, 7, E, E, E};
        QTest::newRow("sorted as unsigned") << QList<uint32_t>{0xFFFFFFFE, 0x80000000, 1, E, E}
                                            << QList<uint32_t>{1, 0x80000000, 0xFFFFFFFE, E, E};
        QTest::newRow("all equal") << QList<uint32_t>{9, 9, 9, 9, 9} << QList<uint32_t>{9, E, E, E, E};
        QTest::newRow("all zero") << QList<uint32_t>{0, 0, 0, 0, 0} << QList<uint32_t>{E, E, E, E, E};
        QTest::newRow("already normal") << QList<uint32_t>{1, 2, 3, 4, 5} << QList<uint32_t>{1, 2, 3, 4, 5};
        QTest::newRow("full and reversed") << QList<uint32_t>{50, 40, 30, 20, 10}
                                           << QList<uint32_t>{10, 20, 30, 40, 50};
    }
    void normalizedIndexMarks()
    {
        QFETCH(QList<uint32_t>, given);
        QFETCH(QList<uint32_t>, normalized);
        tagVoiceHeader header = MakeVoiceHeader(1, QStringLiteral("印"), given);
        const tagVoiceHeader before = header;
        NormalizeIndexMarks(header);
        QList<uint32_t> marks;
        for (int i = 0; i < kIndexMarkCount; ++i)
            marks.append(header.indexMarks[i]);
        QCOMPARE(marks, normalized);
        // Nothing but the marks changes.
        std::memcpy(header.indexMarks, before.indexMarks, sizeof header.indexMarks);
        QCOMPARE(headerBytes(header), headerBytes(before));
    }

    void everySlotButEmptyCountsAsAMark()
    {
        const tagVoiceHeader header = MakeVoiceHeader(0, {}, {10, kEmptyIndexMark, 0, kEmptyIndexMark, kEmptyIndexMark});
        QCOMPARE(CountIndexMarks(header), 2);
        QCOMPARE(CountIndexMarks(MakeVoiceHeader(0)), 0);
    }
};

TALVEN77_REGISTER_TEST(VoiceHeaderTest);
#include "VoiceHeaderTest.moc"

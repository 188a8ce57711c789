#include "TestMounts.h"
#include "TestRegistry.h"
#include "platform/CopyBatch.h"
#include "platform/DurableCopy.h"
#include "platform/FolderMemo.h"
#include "platform/FolderWalk.h"
#include "platform/NumberedNames.h"
#include "platform/TemporaryNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 MiB = 1 << 20;

QByteArray pattern(qint64 size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

struct stat statOf(const QString& path)
{
    struct stat result {};
    if (::lstat(QFile::encodeName(path).constData(), &result) != 0)
        result.st_ino = 0;
    return result;
}

bool exists(const QString& path)
{
    return statOf(path).st_ino != 0;
}

// Old, distinct times with nanoseconds, so that a copy keeping them cannot match by chance.
const timespec SourceTimes[2] = {{1000000000, 123456789}, {1100000000, 987654321}};

bool setSourceTimes(const QString& path)
{
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), SourceTimes, AT_SYMLINK_NOFOLLOW) == 0;
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// What a path holds, for comparing before and after an operation that must change nothing.
QString snapshot(const QString& path)
{
    const struct stat pathStat = statOf(path);
    if (pathStat.st_ino == 0)
        return QStringLiteral("none");
    if (S_ISDIR(pathStat.st_mode))
        return QStringLiteral("folder %1: %2").arg(pathStat.st_ino).arg(entries(path).join(u','));
    return QStringLiteral("file %1: %2").arg(pathStat.st_ino).arg(QString::fromLatin1(readFile(path).toHex()));
}

bool makeFifo(const QString& path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

bool makeHardLink(const QString& target, const QString& path)
{
    return ::link(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()) == 0;
}

bool makeSymlink(const QString& target, const QString& path)
{
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()) == 0;
}

bool setImmutable(const QString& path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
}

const auto resetFault = [] { SetCopyWriteFault(-1, 0); };

// Whether another open of path may take an exclusive lock at once.
bool lockFree(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

// A memo in memory that counts what it was asked.
class MemoryFolderMemo : public FolderMemo
{
public:
    struct Known
    {
        FolderStamp stamp;
        QList<QByteArray> names;
    };
    QHash<QByteArray, Known> known;
    int hits = 0;

    void beginWalk() override {}
    void endWalk() override {}
    bool knownSubfolders(const QByteArray& folder, const FolderStamp& stamp, QList<QByteArray>& names) override
    {
        const auto it = known.constFind(folder);
        if (it == known.cend() || !(it->stamp == stamp))
            return false;
        names = it->names;
        ++hits;
        return true;
    }
    void rememberSubfolders(const QByteArray& folder, const FolderStamp& stamp, const QList<QByteArray>& names) override
    {
        known.insert(folder, {stamp, names});
    }
};

// A file's name on disk and the same name in /dev/shm, for a move from one file system to another.
struct AcrossFileSystems
{
    explicit AcrossFileSystems(const QString& name) : source(disk.filePath(name)), destination(memory.filePath(name)) {}
    // Whether /dev/shm is a file system of its own here.
    bool apart() const { return memory.isValid() && statOf(disk.path()).st_dev != statOf(memory.path()).st_dev; }

    QTemporaryDir disk;
    QTemporaryDir memory{QStringLiteral("/dev/shm/tst_platform-XXXXXX")};
    const QString source;
    const QString destination;
};

QStringList sorted(QStringList names)
{
    names.sort();
    return names;
}

} // namespace

class FileTransferTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void copyKeepsBytesPermissionsAndTimes_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("copyTimes");
        QTest::addColumn<bool>("readWrite");
        QTest::newRow("several chunks") << 3 * MiB + 17 << true << false;
        QTest::newRow("several chunks through read/write") << 3 * MiB + 17 << true << true;
        QTest::newRow("fresh times") << qint64(100000) << false << false;
        QTest::newRow("empty") << qint64(0) << true << false;
    }
    void copyKeepsBytesPermissionsAndTimes()
    {
        QFETCH(qint64, size);
        QFETCH(bool, copyTimes);
        QFETCH(bool, readWrite);
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("source.wav"));
        const QString destination = dir.filePath(QStringLiteral("コピー.wav"));
        const QByteArray bytes = pattern(size, 1);
        QVERIFY(writeFile(source, bytes));
        QVERIFY(::chmod(QFile::encodeName(source).constData(), 0640) == 0);
        QVERIFY(setSourceTimes(source));
        const auto reset = qScopeGuard(resetFault);
        if (readWrite)
            SetCopyWriteFault(INT64_MAX, EIO); // never reached: only leaves copy_file_range aside

        QList<QPair<qint64, qint64>> reports;
        const FileResult result = CopyFileDurably(
            source, destination, [&](int64_t done, int64_t total) { reports.append({done, total}); }, copyTimes);
        QVERIFY2(result.ok(), qPrintable(result.message()));
        QVERIFY(result.message().isEmpty());
        // Before reading: a read moves the access time on.
        const struct stat copied = statOf(destination);
        QCOMPARE(readFile(destination), bytes);
        QCOMPARE(copied.st_mode & 07777, mode_t(0640));
        if (copyTimes) {
            // The source's access time moves on as it is read: the copy has the one before.
            QCOMPARE(copied.st_atim.tv_sec, SourceTimes[0].tv_sec);
            QCOMPARE(copied.st_atim.tv_nsec, SourceTimes[0].tv_nsec);
            QCOMPARE(copied.st_mtim.tv_sec, SourceTimes[1].tv_sec);
            QCOMPARE(copied.st_mtim.tv_nsec, SourceTimes[1].tv_nsec);
        } else {
            QVERIFY(copied.st_mtim.tv_sec != SourceTimes[1].tv_sec);
        }
        QCOMPARE(entries(dir.path()), QStringList({QStringLiteral("source.wav"), QStringLiteral("コピー.wav")}));

        QVERIFY(!reports.isEmpty());
        QCOMPARE(reports.first(), qMakePair(qint64(0), size));
        QCOMPARE(reports.last().first, size);
        for (qsizetype i = 0; i < reports.size(); ++i) {
            QCOMPARE(reports[i].second, size);
            if (i > 0)
                QVERIFY(reports[i].first > reports[i - 1].first);
        }
        QVERIFY(reports.size() > size / MiB);
    }

    void copyReplacesDestinationAtomically()
    {
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("source.wav"));
        const QString destination = dir.filePath(QStringLiteral("copy.wav"));
        const QString earlier = dir.filePath(QStringLiteral("earlier.wav"));
        const QByteArray newBytes = pattern(2 * MiB, 2);
        const QByteArray oldBytes = pattern(3 * MiB, 3);
        QVERIFY(writeFile(source, newBytes));
        QVERIFY(writeFile(destination, oldBytes));
        QVERIFY(makeHardLink(destination, earlier));
        QFile reader(destination);
        QVERIFY(reader.open(QIODevice::ReadOnly));

        const FileResult result = CopyFileDurably(source, destination);
        QVERIFY2(result.ok(), qPrintable(result.message()));
        QCOMPARE(readFile(destination), newBytes);
        // The old file was replaced as a whole, never written into: its other name and a
        // reader that had it open still see the old bytes.
        QCOMPARE(readFile(earlier), oldBytes);
        QCOMPARE(reader.readAll(), oldBytes);
        QVERIFY(statOf(destination).st_ino != statOf(earlier).st_ino);
        QCOMPARE(entries(dir.path()),
                 QStringList({QStringLiteral("copy.wav"), QStringLiteral("earlier.wav"), QStringLiteral("source.wav")}));
    }

    void writeFaultLeavesNoTrace_data()
    {
        QTest::addColumn<qint64>("afterBytes");
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("earlier");
        const qint64 size = 2 * MiB + 100;
        QTest::newRow("nothing written") << qint64(0) << ENOSPC << false;
        QTest::newRow("within the first chunk, over a file") << qint64(1000) << EIO << true;
        QTest::newRow("in the second chunk, over a file") << MiB + 5 << ENOSPC << true;
        QTest::newRow("last byte missing") << size - 1 << ENOSPC << false;
    }
    void writeFaultLeavesNoTrace()
    {
        QFETCH(qint64, afterBytes);
        QFETCH(int, error);
        QFETCH(bool, earlier);
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("source.wav"));
        const QString destination = dir.filePath(QStringLiteral("copy.wav"));
        const QByteArray oldBytes = pattern(MiB / 2, 5);
        QVERIFY(writeFile(source, pattern(2 * MiB + 100, 4)));
        if (earlier)
            QVERIFY(writeFile(destination, oldBytes));
        const QStringList before = entries(dir.path());
        const auto reset = qScopeGuard(resetFault);
        SetCopyWriteFault(afterBytes, error);

        const FileResult result = CopyFileDurably(source, destination);
        QCOMPARE(result.error, error);
        QVERIFY(!result.ok());
        QVERIFY(!result.message().isEmpty());
        QCOMPARE(entries(dir.path()), before);
        if (earlier)
            QCOMPARE(readFile(destination), oldBytes);
    }

    // A copy read back from the device: one that differs from the source is removed
    // and the earlier file of its name stays; one that matches lands as usual.
    void readBackCatchesCorruptCopy_data()
    {
        QTest::addColumn<qint64>("corruptAt");
        QTest::addColumn<bool>("earlier");
        const qint64 size = 2 * MiB + 100;
        QTest::newRow("sound copy") << qint64(-1) << true;
        QTest::newRow("first byte") << qint64(0) << false;
        QTest::newRow("in the second chunk, over a file") << MiB + 7 << true;
        QTest::newRow("last byte") << size - 1 << false;
    }
    void readBackCatchesCorruptCopy()
    {
        QFETCH(qint64, corruptAt);
        QFETCH(bool, earlier);
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("source.mp3"));
        const QString destination = dir.filePath(QStringLiteral("copy.mp3"));
        const QByteArray bytes = pattern(2 * MiB + 100, 6);
        const QByteArray oldBytes = pattern(MiB / 3, 7);
        QVERIFY(writeFile(source, bytes));
        if (earlier)
            QVERIFY(writeFile(destination, oldBytes));
        const QStringList before = entries(dir.path());
        const auto reset = qScopeGuard([] { SetCopyCorruption(-1); });
        SetCopyCorruption(corruptAt);

        const FileResult result = CopyFileDurably(source, destination, {}, true, CopyCheck::ReadBack);
        if (corruptAt < 0) {
            QVERIFY2(result.ok(), qPrintable(result.message()));
            QCOMPARE(readFile(destination), bytes);
            return;
        }
        QCOMPARE(result.error, EIO);
        QCOMPARE(entries(dir.path()), before);
        if (earlier)
            QCOMPARE(readFile(destination), oldBytes);
        // Without the read-back the same fault goes unnoticed.
        QVERIFY(CopyFileDurably(source, destination).ok());
        QVERIFY(readFile(destination) != bytes);
    }

    // Copies that share their syncs: nothing carries a destination's name before
    // commit, each copy holds its patches and the source's times, and a copy that
    // does not read back stops the commit there, with the ones before it named.
    void copyBatchNamesCopiesOnCommit_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("committed");
        QTest::newRow("sound copies") << "" << 2;
        QTest::newRow("second copy corrupt") << "corrupt second" << 1;
        QTest::newRow("patch past the end") << "patch past the end" << 1;
    }
    void copyBatchNamesCopiesOnCommit()
    {
        QFETCH(QString, fault);
        QFETCH(int, committed);
        QTemporaryDir dir;
        const QList<QByteArray> bytes = {pattern(MiB + 10, 11), pattern(3000, 12)};
        const QStringList names = {QStringLiteral("a.mp3"), QStringLiteral("b.mp3")};
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("to"))));
        const auto reset = qScopeGuard([] { SetCopyCorruption(-1); });
        CopyBatch batch(CopyCheck::ReadBack);
        for (int i = 0; i < 2; ++i) {
            const QString source = dir.filePath(names[i]);
            QVERIFY(writeFile(source, bytes[i]));
            QVERIFY(setSourceTimes(source));
            if (fault == QStringLiteral("corrupt second") && i == 1)
                SetCopyCorruption(2000);
            const qint64 patchAt = fault == QStringLiteral("patch past the end") && i == 1 ? bytes[i].size() - 1 : 20;
            const FileResult added = batch.add(source, dir.filePath(QStringLiteral("to/") + names[i]), {},
                                               {CopyPatch{patchAt, QByteArray("XY")}});
            QCOMPARE(added.ok(), patchAt == 20);
            SetCopyCorruption(-1);
        }
        QCOMPARE(batch.pending(), committed == 2 || fault == QStringLiteral("corrupt second") ? 2 : 1);
        QCOMPARE(entries(dir.filePath(QStringLiteral("to"))).filter(QStringLiteral(".mp3")).size(),
                 batch.pending()); // temporary files alone, no copy named yet
        QVERIFY(!exists(dir.filePath(QStringLiteral("to/a.mp3"))));
        int named = -1;
        const FileResult result = batch.commit(&named);
        QCOMPARE(result.ok(), fault != QStringLiteral("corrupt second"));
        QCOMPARE(named, committed);
        QCOMPARE(batch.pending(), 0);
        QStringList expected;
        for (int i = 0; i < committed; ++i) {
            const QString copy = dir.filePath(QStringLiteral("to/") + names[i]);
            QByteArray patched = bytes[i];
            patched.replace(20, 2, "XY");
            QCOMPARE(readFile(copy), patched);
            QCOMPARE(statOf(copy).st_mtim.tv_sec, SourceTimes[1].tv_sec);
            expected.append(names[i]);
        }
        QCOMPARE(entries(dir.filePath(QStringLiteral("to"))), expected);
    }

    // A new folder's entry reaches the disk: the folder and each one above it are
    // synced up to the root, and above it as far as folders were made.
    void createFolderDurablySyncsUpToTheRoot_data()
    {
        QTest::addColumn<QString>("present"); // what exists below the temporary folder
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("synced");
        QTest::addColumn<int>("error");
        QTest::newRow("new folders below the root")
            << "save/" << "save" << "save/001/2026-11" << QStringList{"save/001/2026-11", "save/001", "save"} << 0;
        QTest::newRow("folder there already") << "save/001/" << "save" << "save/001" << QStringList{"save/001", "save"} << 0;
        QTest::newRow("root made too") << "" << "save" << "save/001" << QStringList{"save/001", "save", ""} << 0;
        QTest::newRow("a file in the way") << "save/001" << "save" << "save/001/2026-11" << QStringList{} << int(ENOTDIR);
    }
    void createFolderDurablySyncsUpToTheRoot()
    {
        QFETCH(QString, present);
        QFETCH(QString, root);
        QFETCH(QString, folder);
        QFETCH(QStringList, synced);
        QFETCH(int, error);
        QTemporaryDir dir;
        const QString base = QDir::cleanPath(dir.path());
        if (present.endsWith(u'/'))
            QVERIFY(QDir().mkpath(base + u'/' + present));
        else if (!present.isEmpty())
            QVERIFY(QDir().mkpath(base + u'/' + present.section(u'/', 0, -2)) && writeFile(base + u'/' + present, "x"));
        QStringList seen;
        SetFolderSyncObserver([&](const QString& path) { seen.append(QDir::cleanPath(path)); });
        const auto reset = qScopeGuard([] { SetFolderSyncObserver({}); });
        const FileResult result = CreateFolderDurably(base + u'/' + folder, base + u'/' + root);
        QCOMPARE(result.error, error);
        QStringList expected;
        for (const QString& path : synced)
            expected.append(path.isEmpty() ? base : base + u'/' + path);
        QCOMPARE(seen, expected);
        QCOMPARE(QFileInfo(base + u'/' + folder).isDir(), error == 0);
    }

    void sameFileIsRefused_data()
    {
        QTest::addColumn<QString>("other");
        QTest::addColumn<bool>("move");
        for (const bool move : {false, true}) {
            const char* operation = move ? "move" : "copy";
            QTest::addRow("%s, same path", operation) << QStringLiteral("sub/a.wav") << move;
            QTest::addRow("%s, hard link", operation) << QStringLiteral("hard.wav") << move;
            QTest::addRow("%s, symbolic link", operation) << QStringLiteral("soft.wav") << move;
            QTest::addRow("%s, through a linked folder", operation) << QStringLiteral("alias/a.wav") << move;
        }
    }
    void sameFileIsRefused()
    {
        QFETCH(QString, other);
        QFETCH(bool, move);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("sub/a.wav"));
        const QByteArray bytes = pattern(MiB + 3, 6);
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        QVERIFY(writeFile(file, bytes));
        QVERIFY(makeHardLink(file, dir.filePath(QStringLiteral("hard.wav"))));
        QVERIFY(makeSymlink(file, dir.filePath(QStringLiteral("soft.wav"))));
        QVERIFY(makeSymlink(dir.filePath(QStringLiteral("sub")), dir.filePath(QStringLiteral("alias"))));
        const QStringList before = entries(dir.path()) + entries(dir.filePath(QStringLiteral("sub")));

        const FileResult result = move ? MoveFile(file, dir.filePath(other)) : CopyFileDurably(file, dir.filePath(other));
        QCOMPARE(result.error, EINVAL);
        QCOMPARE(readFile(file), bytes);
        QCOMPARE(entries(dir.path()) + entries(dir.filePath(QStringLiteral("sub"))), before);
        QVERIFY(S_ISLNK(statOf(dir.filePath(QStringLiteral("soft.wav"))).st_mode));
    }

    void unsuitableSourceIsRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("error");
        // A FIFO without a writer would block an open for reading forever.
        QTest::newRow("FIFO") << QStringLiteral("fifo") << EOPNOTSUPP;
        QTest::newRow("endless device") << QStringLiteral("/dev/zero") << EOPNOTSUPP;
        QTest::newRow("folder") << QStringLiteral("folder") << EISDIR;
        QTest::newRow("missing") << QStringLiteral("missing") << ENOENT;
    }
    void unsuitableSourceIsRefused()
    {
        QFETCH(QString, kind);
        QFETCH(int, error);
        QTemporaryDir dir;
        const QString source = kind.startsWith(u'/') ? kind : dir.filePath(kind);
        if (kind == QLatin1String("fifo"))
            QVERIFY(makeFifo(source));
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir(dir.path()).mkdir(kind));
        const QStringList before = entries(dir.path());

        QCOMPARE(CopyFileDurably(source, dir.filePath(QStringLiteral("copy.wav"))).error, error);
        QCOMPARE(entries(dir.path()), before);
    }

    void folderAsDestinationIsRefused()
    {
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("a.wav"));
        QVERIFY(writeFile(source, "abc"));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        QCOMPARE(CopyFileDurably(source, dir.filePath(QStringLiteral("folder"))).error, EISDIR);
        QCOMPARE(entries(dir.path()), QStringList({QStringLiteral("a.wav"), QStringLiteral("folder")}));
        QVERIFY(entries(dir.filePath(QStringLiteral("folder"))).isEmpty());
    }

    void moveWithinFileSystemRenames_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::newRow("free name") << false;
        QTest::newRow("over an existing file") << true;
    }
    void moveWithinFileSystemRenames()
    {
        QFETCH(bool, existing);
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("a.wav"));
        const QString destination = dir.filePath(QStringLiteral("b.wav"));
        const QByteArray bytes = pattern(MiB, 7);
        QVERIFY(writeFile(source, bytes));
        if (existing)
            QVERIFY(writeFile(destination, "old"));
        const ino_t inode = statOf(source).st_ino;

        const FileResult result = MoveFile(source, destination);
        QVERIFY2(result.ok(), qPrintable(result.message()));
        QCOMPARE(readFile(destination), bytes);
        QCOMPARE(statOf(destination).st_ino, inode);
        QCOMPARE(entries(dir.path()), QStringList(QStringLiteral("b.wav")));
    }

    void moveAcrossFileSystemsCopiesAndRemoves()
    {
        const AcrossFileSystems move(QStringLiteral("a.wav"));
        if (!move.apart())
            QSKIP("no second file system in /dev/shm");
        const QByteArray bytes = pattern(2 * MiB + 9, 8);
        QVERIFY(writeFile(move.source, bytes));
        QVERIFY(::chmod(QFile::encodeName(move.source).constData(), 0604) == 0);
        QVERIFY(setSourceTimes(move.source));
        QVERIFY(writeFile(move.destination, "old"));
        int64_t lastDone = -1;

        const FileResult result = MoveFile(move.source, move.destination, [&](int64_t done, int64_t) { lastDone = done; });
        QVERIFY2(result.ok(), qPrintable(result.message()));
        QCOMPARE(readFile(move.destination), bytes);
        QCOMPARE(lastDone, int64_t(bytes.size()));
        const struct stat moved = statOf(move.destination);
        QCOMPARE(moved.st_mode & 07777, mode_t(0604));
        QCOMPARE(moved.st_mtim.tv_sec, SourceTimes[1].tv_sec);
        QCOMPARE(moved.st_mtim.tv_nsec, SourceTimes[1].tv_nsec);
        QVERIFY(entries(move.disk.path()).isEmpty());
        QCOMPARE(entries(move.memory.path()), QStringList(QStringLiteral("a.wav")));
    }

    void moveAcrossFileSystemsKeepsCopyWhenSourceStays()
    {
        const AcrossFileSystems move(QStringLiteral("a.wav"));
        if (!move.apart())
            QSKIP("no second file system in /dev/shm");
        const QByteArray bytes = pattern(MiB + 1, 9);
        QVERIFY(writeFile(move.source, bytes));
        int expected = EACCES;
        QByteArray sourceFolder = QFile::encodeName(move.disk.path());
        const auto restore = qScopeGuard([&] {
            ::chmod(sourceFolder.constData(), 0700);
            setImmutable(move.source, false);
        });
        if (::geteuid() != 0) {
            QVERIFY(::chmod(sourceFolder.constData(), 0500) == 0);
        } else {
            if (!setImmutable(move.source, true))
                QSKIP("running as root where files cannot be made immutable");
            expected = EPERM;
        }

        const FileResult result = MoveFile(move.source, move.destination);
        QCOMPARE(result.error, expected);
        QCOMPARE(readFile(move.source), bytes);
        QCOMPARE(readFile(move.destination), bytes);
    }

    void renameNeverReplaces_data()
    {
        QTest::addColumn<QString>("fromKind");
        QTest::addColumn<QString>("toKind");
        QTest::addColumn<int>("error");
        // The names differ in case alone; on this file system they are two names.
        QTest::newRow("file onto file") << "file" << "file" << EEXIST;
        QTest::newRow("file onto folder") << "file" << "folder" << EEXIST;
        QTest::newRow("file onto its own hard link") << "file" << "hard link" << EEXIST;
        QTest::newRow("folder onto empty folder") << "folder" << "folder" << EEXIST;
        QTest::newRow("folder onto file") << "folder" << "file" << EEXIST;
        QTest::newRow("file to a free name") << "file" << "none" << 0;
        QTest::newRow("folder to a free name") << "folder" << "none" << 0;
    }
    void renameNeverReplaces()
    {
        QFETCH(QString, fromKind);
        QFETCH(QString, toKind);
        QFETCH(int, error);
        QTemporaryDir dir;
        const QString from = dir.filePath(QStringLiteral("memo"));
        const QString to = dir.filePath(QStringLiteral("Memo"));
        if (fromKind == QLatin1String("file")) {
            QVERIFY(writeFile(from, "from"));
        } else {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("memo")));
            QVERIFY(writeFile(dir.filePath(QStringLiteral("memo/inside.wav")), "inside"));
        }
        if (toKind == QLatin1String("file"))
            QVERIFY(writeFile(to, "to"));
        else if (toKind == QLatin1String("folder"))
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Memo")));
        else if (toKind == QLatin1String("hard link"))
            QVERIFY(makeHardLink(from, to));
        const QString fromBefore = snapshot(from);
        const QString toBefore = snapshot(to);

        QCOMPARE(RenameNoReplace(from, to).error, error);
        if (error != 0) {
            QCOMPARE(snapshot(from), fromBefore);
            QCOMPARE(snapshot(to), toBefore);
        } else {
            QVERIFY(!exists(from));
            QCOMPARE(snapshot(to), fromBefore);
        }
        QVERIFY(entries(dir.path()).size() <= 2);
    }

    void removeFolderTreeLeavesLinkTargets()
    {
        QTemporaryDir dir;
        QDir root(dir.path());
        const QString outsideFile = dir.filePath(QStringLiteral("outside/keep.wav"));
        QVERIFY(root.mkpath(QStringLiteral("outside/sub")));
        QVERIFY(writeFile(outsideFile, "keep"));
        QVERIFY(root.mkpath(QStringLiteral("tree/nested/deeper")));
        QVERIFY(root.mkpath(QStringLiteral("tree/empty")));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("tree/a.wav")), "a"));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("tree/nested/.hidden")), "h"));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("tree/nested/deeper/b.wav")), "b"));
        QVERIFY(makeSymlink(dir.filePath(QStringLiteral("outside")), dir.filePath(QStringLiteral("tree/nested/toFolder"))));
        QVERIFY(makeSymlink(outsideFile, dir.filePath(QStringLiteral("tree/toFile"))));
        QVERIFY(makeSymlink(QStringLiteral("nowhere"), dir.filePath(QStringLiteral("tree/dangling"))));
        QVERIFY(makeFifo(dir.filePath(QStringLiteral("tree/nested/fifo"))));
        QVERIFY(makeSymlink(dir.filePath(QStringLiteral("outside")), dir.filePath(QStringLiteral("linkToOutside"))));

        FileResult result = RemoveFolderTree(dir.filePath(QStringLiteral("tree")));
        QVERIFY2(result.ok(), qPrintable(result.message()));
        QVERIFY(!exists(dir.filePath(QStringLiteral("tree"))));
        // A link given as the folder itself, even with a trailing separator, goes alone.
        result = RemoveFolderTree(dir.filePath(QStringLiteral("linkToOutside/")));
        QVERIFY2(result.ok(), qPrintable(result.message()));
        QCOMPARE(entries(dir.path()), QStringList(QStringLiteral("outside")));
        QCOMPARE(entries(dir.filePath(QStringLiteral("outside"))),
                 QStringList({QStringLiteral("keep.wav"), QStringLiteral("sub")}));
        QCOMPARE(readFile(outsideFile), QByteArray("keep"));
    }

    void removalReportsErrno_data()
    {
        QTest::addColumn<bool>("tree");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("error");
        QTest::newRow("file") << false << "file" << 0;
        QTest::newRow("missing file") << false << "missing" << ENOENT;
        QTest::newRow("folder as a file") << false << "folder" << EISDIR;
        QTest::newRow("missing tree") << true << "missing" << ENOENT;
        QTest::newRow("file as a tree") << true << "file" << ENOTDIR;
    }
    void removalReportsErrno()
    {
        QFETCH(bool, tree);
        QFETCH(QString, kind);
        QFETCH(int, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("target"));
        if (kind == QLatin1String("file"))
            QVERIFY(writeFile(path, "x"));
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("target")));

        const FileResult result = tree ? RemoveFolderTree(path) : RemoveFile(path);
        QCOMPARE(result.error, error);
        QCOMPARE(exists(path), error != 0 && kind != QLatin1String("missing"));
    }

    void stopsAtFirstFailureInTree()
    {
        if (::geteuid() == 0)
            QSKIP("root removes from read-only folders");
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("tree/locked")));
        const QString locked = dir.filePath(QStringLiteral("tree/locked"));
        QVERIFY(writeFile(locked + QStringLiteral("/a.wav"), "a"));
        QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0500) == 0);
        const auto restore = qScopeGuard([&] { ::chmod(QFile::encodeName(locked).constData(), 0700); });

        QCOMPARE(RemoveFolderTree(dir.filePath(QStringLiteral("tree"))).error, EACCES);
        QCOMPARE(readFile(locked + QStringLiteral("/a.wav")), QByteArray("a"));
    }

    void copyFileTimesGivesTimesAndPermissions_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::newRow("file") << false;
        QTest::newRow("folder") << true;
    }
    void copyFileTimesGivesTimesAndPermissions()
    {
        QFETCH(bool, folder);
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("source"));
        const QString destination = dir.filePath(QStringLiteral("destination"));
        for (const QString& path : {source, destination})
            QVERIFY(folder ? QDir(dir.path()).mkdir(QFileInfo(path).fileName()) : writeFile(path, "x"));
        const mode_t mode = folder ? 0750 : 0604;
        QVERIFY(::chmod(QFile::encodeName(source).constData(), mode) == 0);
        QVERIFY(setSourceTimes(source));

        const FileResult result = CopyFileTimes(source, destination);
        QVERIFY2(result.ok(), qPrintable(result.message()));
        const struct stat given = statOf(destination);
        QCOMPARE(given.st_mode & 07777, mode);
        QCOMPARE(given.st_mtim.tv_sec, SourceTimes[1].tv_sec);
        QCOMPARE(given.st_mtim.tv_nsec, SourceTimes[1].tv_nsec);
        QCOMPARE(given.st_atim.tv_sec, SourceTimes[0].tv_sec);
    }
    void moveAcrossFileSystemsKeepsTheSourceOfABadCopy_data()
    {
        QTest::addColumn<bool>("earlier");
        QTest::newRow("new name") << false;
        QTest::newRow("over an earlier file") << true;
    }
    void moveAcrossFileSystemsKeepsTheSourceOfABadCopy()
    {
        QFETCH(bool, earlier);
        const AcrossFileSystems move(QStringLiteral("a.mp3"));
        if (!move.apart())
            QSKIP("no second file system in /dev/shm");
        const QByteArray bytes = pattern(MiB + 300, 10);
        QVERIFY(writeFile(move.source, bytes));
        if (earlier)
            QVERIFY(writeFile(move.destination, "old"));
        const QStringList before = entries(move.memory.path());
        const auto reset = qScopeGuard([] { SetCopyCorruption(-1); });
        SetCopyCorruption(100); // a device that silently changes byte 101 of what it is given

        QCOMPARE(MoveFile(move.source, move.destination).error, EIO);
        QCOMPARE(readFile(move.source), bytes);
        QCOMPARE(entries(move.memory.path()), before);
        if (earlier)
            QCOMPARE(readFile(move.destination), QByteArray("old"));
    }

    void treeRemovalNeverEntersAMount_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("mountAt");
        QTest::newRow("another file system below") << "memory" << "tree/nested/card";
        QTest::newRow("a folder bound below") << "bind" << "tree/nested/card";
        QTest::newRow("the folder itself") << "memory" << "tree";
        // No mount root there, only another st_dev.
        QTest::newRow("a btrfs subvolume below") << "subvolume" << "tree/nested/card";
    }
    void treeRemovalNeverEntersAMount()
    {
        QFETCH(QString, how);
        QFETCH(QString, mountAt);
        QTemporaryDir dir;
        QTemporaryDir imageDir;
        QDir root(dir.path());
        QVERIFY(root.mkpath(QStringLiteral("tree/nested/card")));
        QVERIFY(root.mkpath(QStringLiteral("elsewhere")));
        const QString at = dir.filePath(mountAt);
        ScopedMount mount = how == "bind"        ? ScopedMount::Bind(dir.filePath(QStringLiteral("elsewhere")), at)
                            : how == "subvolume" ? ScopedMount::Btrfs(imageDir.filePath(QStringLiteral("fs.img")), dir.path())
                                                 : ScopedMount::Memory(at);
        if (!mount.mounted() && how == "subvolume")
            QSKIP("no btrfs on a loop image here: it needs mkfs.btrfs (btrfs-progs), btrfs in the kernel and root");
        if (!mount.mounted())
            QSKIP(qPrintable(QStringLiteral("mounting is not permitted here (%1); it needs root")
                                 .arg(QString::fromLocal8Bit(std::strerror(mount.error())))));
        if (how == "subvolume") {
            QVERIFY(root.mkpath(QStringLiteral("tree/nested")));
            QVERIFY(CreateSubvolume(at));
            QVERIFY(statOf(at).st_dev != statOf(dir.filePath(QStringLiteral("tree"))).st_dev);
        }
        QVERIFY(root.mkpath(QStringLiteral("tree/nested/card")));
        const QStringList files{QStringLiteral("tree/a.wav"), QStringLiteral("tree/nested/card/inside.wav")};
        for (const QString& file : files)
            QVERIFY(writeFile(dir.filePath(file), file.toUtf8()));

        QCOMPARE(FindMountPoint(dir.filePath(QStringLiteral("tree/"))), at);
        QCOMPARE(RemoveFolderTree(dir.filePath(QStringLiteral("tree"))).error, EXDEV);
        for (const QString& file : files)
            QCOMPARE(readFile(dir.filePath(file)), file.toUtf8());
    }

    void aCopyHoldsItsTemporaryFileUnderTheProgramsName()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("out")));
        const QString out = dir.filePath(QStringLiteral("out"));
        const QString source = dir.filePath(QStringLiteral("REC001.MP3"));
        const QByteArray bytes = pattern(MiB + 5, 11);
        QVERIFY(writeFile(source, bytes));
        QStringList during;
        bool lockedDuring = true;
        const FileResult result = CopyFileDurably(source, out + QStringLiteral("/REC001.MP3"), [&](int64_t, int64_t) {
            RemoveStaleCopies(out); // another program tidying the folder meanwhile
            const QStringList now = entries(out);
            during += now;
            for (const QString& name : now)
                lockedDuring = lockedDuring && !lockFree(out + u'/' + name);
        });
        QVERIFY2(result.ok(), qPrintable(result.message()));
        QCOMPARE(entries(out), QStringList(QStringLiteral("REC001.MP3")));
        QCOMPARE(readFile(out + QStringLiteral("/REC001.MP3")), bytes);
        during.removeDuplicates();
        QCOMPARE(during.size(), 1);
        QVERIFY2(QRegularExpression(QStringLiteral("^\\.talven77-copy-[a-z0-9]{8}-REC001\\.MP3\\.tmp$"))
                     .match(during.first())
                     .hasMatch(),
                 qPrintable(during.first()));
        QVERIFY(lockedDuring);
    }

    void aCopyIsReadBackThroughTheDescriptorThatHoldsItsLock()
    {
        // Where flock is emulated with byte-range locks (NFS), closing any second
        // descriptor of the temporary file would release its lock.
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("out")));
        const QString out = dir.filePath(QStringLiteral("out"));
        const QString source = dir.filePath(QStringLiteral("REC001.MP3"));
        QVERIFY(writeFile(source, pattern(3 * MiB + 7, 12)));
        int mostOpen = 0;
        const FileResult result = CopyFileDurably(
            source, out + QStringLiteral("/REC001.MP3"),
            [&](int64_t, int64_t) {
                int open = 0;
                const QDir fds(QStringLiteral("/proc/self/fd"));
                for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
                    open += QFileInfo(QFile::symLinkTarget(fds.filePath(fd)))
                                .fileName()
                                .startsWith(QStringLiteral(".talven77-copy-"));
                mostOpen = std::max(mostOpen, open);
            },
            true, CopyCheck::ReadBack);
        QVERIFY2(result.ok(), qPrintable(result.message()));
        QCOMPARE(mostOpen, 1);
    }

    void staleTemporaryCopiesGoUnlessHeld_data()
    {
        QTest::addColumn<bool>("byCopy");
        QTest::newRow("tidy-up") << false;
        QTest::newRow("a copy into the folder") << true;
    }
    void staleTemporaryCopiesGoUnlessHeld()
    {
        QFETCH(bool, byCopy);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("save")));
        const QString save = dir.filePath(QStringLiteral("save"));
        const QString stale = QStringLiteral(".talven77-copy-k3j9x0aa-REC001.MP3.tmp");
        const QString held = QStringLiteral(".talven77-copy-77aa88bb-REC002.MP3.tmp");
        // Names that are not the program's temporary copies: someone else's hidden file,
        // a name that merely starts alike, a recording under a rename's hidden name.
        const QStringList others{QStringLiteral(".REC003.MP3.a1b2c3.tmp"), QStringLiteral(".talven77-copy-short-x.mp3"),
                                 QStringLiteral(".talven77-rename-k3j9x0aa-REC004.MP3.tmp"), QStringLiteral("REC005.MP3")};
        for (const QString& name : others + QStringList{stale, held})
            QVERIFY(writeFile(save + u'/' + name, name.toUtf8()));
        LockHeldElsewhere lock(save + u'/' + held);
        QVERIFY(lock.held());

        QStringList expected = others + QStringList{held};
        if (byCopy) {
            QVERIFY(writeFile(dir.filePath(QStringLiteral("new.mp3")), "new"));
            QVERIFY(CopyFileDurably(dir.filePath(QStringLiteral("new.mp3")), save + QStringLiteral("/new.mp3")).ok());
            expected += QStringLiteral("new.mp3");
        } else {
            RemoveStaleCopies(save);
        }
        QCOMPARE(entries(save), sorted(expected));
        for (const QString& name : others)
            QCOMPARE(readFile(save + u'/' + name), name.toUtf8());

        lock.release();
        RemoveStaleCopies(save);
        QVERIFY(!exists(save + u'/' + held));
    }

    void anOperationTidiesEachFolderBeforeItsFirstFile()
    {
        QTemporaryDir dir;
        QDir root(dir.path());
        QVERIFY(root.mkdir(QStringLiteral("out")) && root.mkdir(QStringLiteral("other")));
        const QString source = dir.filePath(QStringLiteral("REC001.MP3"));
        QVERIFY(writeFile(source, "recording"));
        int copies = 0;
        // A stale temporary copy planted in folder; whether it is still there after one
        // more copy into that folder.
        const auto staysAfterACopy = [&](const QString& folder) {
            const QString stale = dir.filePath(folder) + QStringLiteral("/.talven77-copy-k3j9x0aa-OLD.MP3.tmp");
            if (!writeFile(stale, "stale"))
                return true;
            const QString copy = dir.filePath(folder) + QStringLiteral("/REC") + QString::number(++copies) + QStringLiteral(".MP3");
            return !CopyFileDurably(source, copy).ok() || QFile::exists(stale);
        };
        {
            TidyEachFolderOnce operation;
            QVERIFY(!staysAfterACopy(QStringLiteral("out"))); // the first file into a folder
            QVERIFY(staysAfterACopy(QStringLiteral("out")));  // the folder is not read again
            QVERIFY(!staysAfterACopy(QStringLiteral("other")));
        }
        {
            TidyEachFolderOnce next;
            QVERIFY(!staysAfterACopy(QStringLiteral("out"))); // a new operation
        }
        QVERIFY(!staysAfterACopy(QStringLiteral("out"))); // a copy on its own
        QVERIFY(!staysAfterACopy(QStringLiteral("out")));
    }

    // With a memo of the tree, a folder whose stamp has not moved since it was found
    // clean is not read again; whatever a crash can leave there since moves it.
    void theTidyUpSkipsOnlyFoldersThatCannotHaveChanged_data()
    {
        QTest::addColumn<QString>("left"); // what is left in the tree after the first walk
        QTest::addColumn<QString>("expected"); // where its recording then is, "" for gone
        QTest::addColumn<int>("hits");         // folders the second walk took from the memo
        QTest::newRow("nothing") << QString() << QString() << 4;
        QTest::newRow("a stale copy") << "day/sub/.talven77-copy-aaaa1111-x.mp3.tmp" << QString() << 3;
        QTest::newRow("an interrupted rename") << "day/.talven77-rename-bbbb2222-Memo.mp3.tmp" << "day/Memo.mp3" << 3;
        QTest::newRow("a new folder holding an interrupted rename")
            << "day/new/.talven77-rename-cccc3333-New.mp3.tmp" << "day/new/New.mp3" << 3;
    }
    void theTidyUpSkipsOnlyFoldersThatCannotHaveChanged()
    {
        QFETCH(QString, left);
        QFETCH(QString, expected);
        QFETCH(int, hits);
        QTemporaryDir dir;
        const QString save = dir.filePath(QStringLiteral("save"));
        QVERIFY(QDir().mkpath(save + QStringLiteral("/day/sub")));
        QVERIFY(QDir().mkpath(save + QStringLiteral("/other")));
        MemoryFolderMemo memo;
        SetFolderMemo(&memo);
        const auto noMemo = qScopeGuard([] { SetFolderMemo(nullptr); });
        // Folders changed within a clock tick of the walk are not remembered.
        RecoverTemporaryNames(save, true);
        QCOMPARE(memo.known.size(), 0);
        QTest::qWait(120);
        RecoverTemporaryNames(save, true);
        QCOMPARE(memo.known.size(), 4);
        QCOMPARE(memo.known.value(QFile::encodeName(save)).names.size(), 2);

        if (!left.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(save + u'/' + left).absolutePath()));
            QVERIFY(writeFile(save + u'/' + left, "left"));
        }
        memo.hits = 0;
        RecoverTemporaryNames(save, true);
        QCOMPARE(memo.hits, hits);
        if (!left.isEmpty())
            QVERIFY(!QFileInfo::exists(save + u'/' + left));
        if (!expected.isEmpty())
            QCOMPARE(readFile(save + u'/' + expected), QByteArray("left"));
    }

    void interruptedRenamesAreFinishedAtStart()
    {
        QTemporaryDir dir;
        QDir root(dir.path());
        QVERIFY(root.mkpath(QStringLiteral("save/day/.talven77-rename-bbbb2222-Folder.tmp")));
        const QString save = dir.filePath(QStringLiteral("save"));
        const QStringList files{QStringLiteral(".talven77-rename-aaaa1111-Memo.mp3.tmp"),
                                QStringLiteral("day/.talven77-rename-bbbb2222-Folder.tmp/inside.mp3"),
                                QStringLiteral("day/.talven77-copy-cccc3333-x.mp3.tmp"),
                                QStringLiteral(".talven77-rename-dddd4444-Taken.mp3.tmp"), QStringLiteral("Taken.mp3"),
                                QStringLiteral("Taken(2).mp3"), QStringLiteral(".talven77-rename-eeee5555-Held.mp3.tmp")};
        for (const QString& file : files)
            QVERIFY(writeFile(save + u'/' + file, file.toUtf8()));
        LockHeldElsewhere lock(save + QStringLiteral("/.talven77-rename-eeee5555-Held.mp3.tmp"));
        QVERIFY(lock.held());

        RecoverTemporaryNames(save, true);
        QCOMPARE(readFile(save + QStringLiteral("/Memo.mp3")), files[0].toUtf8());
        QCOMPARE(readFile(save + QStringLiteral("/day/Folder/inside.mp3")), files[1].toUtf8());
        QCOMPARE(entries(save + QStringLiteral("/day")), QStringList(QStringLiteral("Folder")));
        // A new name taken meanwhile: the first free numbered one, the others untouched.
        // An entry someone holds stays as it is. Nothing is removed.
        QCOMPARE(entries(save), sorted({QStringLiteral(".talven77-rename-eeee5555-Held.mp3.tmp"), QStringLiteral("Memo.mp3"),
                                        QStringLiteral("Taken.mp3"), QStringLiteral("Taken(2).mp3"),
                                        QStringLiteral("Taken(3).mp3"), QStringLiteral("day")}));
        QCOMPARE(readFile(save + QStringLiteral("/Taken(3).mp3")), files[3].toUtf8());
        QCOMPARE(readFile(save + QStringLiteral("/Taken.mp3")), QByteArray("Taken.mp3"));
        QCOMPARE(readFile(save + QStringLiteral("/Taken(2).mp3")), QByteArray("Taken(2).mp3"));

        lock.release();
        RecoverTemporaryNames(save, false);
        QCOMPARE(readFile(save + QStringLiteral("/Held.mp3")), files[6].toUtf8());
    }
};

TALVEN77_REGISTER_TEST(FileTransferTest);
#include "FileTransferTest.moc"

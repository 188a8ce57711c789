#include "DesktopTrash.h"

#include "DurableCopy.h"
#include "NumberedNames.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A trash folder (holding files/ and info/) and how its entries' paths are written.
struct TrashFolder
{
    QByteArray path;
    QByteArray topdir; // empty for the home trash, whose paths are absolute
};

// A folder that is there and no link to one, made with mode when missing.
bool folderThere(const QByteArray& path, mode_t mode)
{
    if (::mkdir(path.constData(), mode) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool trashFoldersThere(const QByteArray& trash)
{
    return folderThere(trash, 0700) && folderThere(trash + "/files", 0700) && folderThere(trash + "/info", 0700);
}

QByteArray parentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

// The top folder of the file system that holds folder (a canonical path): the highest
// folder above it still on device.
QByteArray topFolderOf(QByteArray folder, dev_t device)
{
    while (folder != "/") {
        const QByteArray parent = parentOf(folder);
        struct stat st {};
        if (::stat(parent.constData(), &st) != 0 || st.st_dev != device)
            break;
        folder = parent;
    }
    return folder;
}

// The trash that takes an entry of device whose canonical path is path.
bool trashFor(const QByteArray& path, dev_t device, TrashFolder& trash)
{
    // The home trash lies in the user's data folder, which a new account may not have yet.
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QDir().mkpath(dataHome);
    struct stat home {};
    if (::stat(QFile::encodeName(dataHome).constData(), &home) == 0 && home.st_dev == device) {
        trash = {QFile::encodeName(dataHome) + "/Trash", {}};
        return trashFoldersThere(trash.path);
    }
    const QByteArray topdir = topFolderOf(parentOf(path), device);
    const QByteArray top = topdir == "/" ? QByteArray() : topdir;
    const QByteArray uid = QByteArray::number(::getuid());
    // A shared .Trash is used only as the administrator set it up: a real folder with the
    // sticky bit, so that nobody removes another user's entries.
    struct stat shared {};
    if (::lstat((top + "/.Trash").constData(), &shared) == 0 && S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX)) {
        trash = {top + "/.Trash/" + uid, topdir};
        struct stat own {};
        if (trashFoldersThere(trash.path) && ::lstat(trash.path.constData(), &own) == 0 && own.st_uid == ::getuid())
            return true;
    }
    trash = {top + "/.Trash-" + uid, topdir};
    struct stat own {};
    return trashFoldersThere(trash.path) && ::lstat(trash.path.constData(), &own) == 0 && own.st_uid == ::getuid();
}

// The name the entry gets in the trash on the given try: its own, then "name(2).ext"
// and so on, cut short (at a character's boundary) where ".trashinfo" would not fit.
QByteArray trashName(const QByteArray& name, int attempt)
{
    const qsizetype dot = name.lastIndexOf('.');
    QByteArray stem = dot > 0 ? name.left(dot) : name;
    const QByteArray extension = dot > 0 ? name.mid(dot) : QByteArray();
    const QByteArray number = attempt > 1 ? '(' + QByteArray::number(attempt) + ')' : QByteArray();
    const qsizetype room = NAME_MAX - qsizetype(sizeof ".trashinfo" - 1) - extension.size() - number.size();
    if (stem.size() > room) {
        qsizetype cut = qMax<qsizetype>(room, 1);
        while (cut > 1 && (uchar(stem[cut]) & 0xC0) == 0x80)
            --cut;
        stem.truncate(cut);
    }
    return stem + number + extension;
}

} // namespace

FileResult MoveToTrash(const QString& path, QString* pathInTrash)
{
    const QByteArray native = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0)
        return FileResult{errno};
    // The folder's real path, so that the file system's top is found whatever links led here.
    char* real = ::realpath(parentOf(native).constData(), nullptr);
    if (!real)
        return FileResult{errno};
    const QByteArray folder(real);
    std::free(real);
    const QByteArray name = native.mid(native.lastIndexOf('/') + 1);
    const QByteArray entry = (folder == "/" ? QByteArray() : folder) + '/' + name;

    TrashFolder trash;
    if (!trashFor(entry, st.st_dev, trash))
        return FileResult{kNoTrash};
    const QByteArray where = trash.topdir.isEmpty() ? entry
                             : trash.topdir == "/" ? entry.mid(1)
                                                   : entry.mid(trash.topdir.size() + 1);
    const QByteArray info = "[Trash Info]\nPath=" + where.toPercentEncoding("/") + "\nDeletionDate="
                            + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")).toLatin1()
                            + '\n';
    for (int attempt = 1; attempt <= LastFileNumber; ++attempt) {
        const QByteArray inTrash = trashName(name, attempt);
        const QByteArray infoPath = trash.path + "/info/" + inTrash + ".trashinfo";
        const int fd = ::open(infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return FileResult{kNoTrash};
        const bool written = WriteAll(fd, info.constData(), size_t(info.size())) == 0;
        if (::close(fd) != 0 || !written) {
            ::unlink(infoPath.constData());
            return FileResult{kNoTrash};
        }
        const QString target = QFile::decodeName(trash.path + "/files/" + inTrash);
        const FileResult moved = RenameNoReplace(QFile::decodeName(entry), target);
        if (moved.ok()) {
            if (pathInTrash)
                *pathInTrash = target;
            return moved;
        }
        ::unlink(infoPath.constData());
        // A files entry without its .trashinfo (left by another program) keeps its name.
        if (moved.error != EEXIST)
            return moved;
    }
    return FileResult{kNoTrash};
}

QString TrashInfoPath(const QString& pathInTrash)
{
    const QFileInfo entry(pathInTrash);
    return QDir(entry.absolutePath() + QStringLiteral("/../info")).absoluteFilePath(entry.fileName() + QStringLiteral(".trashinfo"));
}

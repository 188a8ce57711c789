// A transfer of a simulated card into a save folder run on its own, for trials that
// kill it part-way (scripts/transfer_kill_trials.sh), and a check of what it leaves:
//   transfer_trial run CARD SAVE          transfers the card's untransferred recordings
//   transfer_trial check CARD SAVE        no card file is marked unless its copy is
//   transfer_trial check CARD SAVE --complete
//                                         and, after a transfer ran to its end, every
//                                         card file is marked with exactly one marked copy
// The exit status is 0 when the transfer ended well or the check found nothing wrong.
#include "ScriptedHost.h"
#include "document/TALVEN77PCDoc.h"
#include "fileops/FileOperations.h"
#include "platform/DriveSource.h"
#include "platform/SimulatedDriveSource.h"
#include "recording/FileList.h"
#include "recording/RecordingFile.h"
#include "recording/VoiceDuration.h"
#include "recording/VoiceHeader.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

namespace {

// The bytes after the tag: what the flags and the memo never touch.
QByteArray audioOf(const QString& path)
{
    RecordingFile file;
    if (!file.open(path, RecordingFile::Access::Read))
        return {};
    const int64_t start = AudioStart(file);
    QByteArray bytes(qsizetype(file.size() - start), '\0');
    file.readAt(start, bytes.data(), size_t(bytes.size()));
    return bytes;
}

int flagOf(const QString& path)
{
    tagVoiceHeader header{};
    return ReadVoiceHeader(path, header) ? header.transferredFlag : -1;
}

int run(const QString& card, const QString& save)
{
    QTemporaryDir dir;
    const QString driveList = dir.filePath(QStringLiteral("drives.txt"));
    QFile list(driveList);
    if (!list.open(QIODevice::WriteOnly) || list.write(("card " + card).toUtf8()) < 0)
        return 2;
    list.close();
    SimulatedDriveSource drives(driveList);
    SetDriveSource(&drives);
    CTALVEN77PCDoc document;
    document.RunStartupChecks(save);
    for (const auto& fileList : document.fileLists()) {
        if (fileList->nKind() == kListCard)
            fileList->EnsureScanned();
    }
    QList<tagFileList> records;
    document.CollectUntransferred(kListCard, records);
    ScriptedHost host;
    CFileOperations engine{document, host};
    bool folderPrepared = false;
    const bool done = engine.TransferFiles(records, kListCard, card, save, folderPrepared);
    SetDriveSource(nullptr);
    std::printf("%lld to transfer, %s\n", static_cast<long long>(records.size()), done ? "done" : "stopped");
    return done ? 0 : 1;
}

int check(const QString& card, const QString& save, bool complete)
{
    int faults = 0;
    QDirIterator recordings(card, {QStringLiteral("*.mp3"), QStringLiteral("*.MP3")}, QDir::Files,
                            QDirIterator::Subdirectories);
    while (recordings.hasNext()) {
        const QString source = recordings.next();
        const int sourceFlag = flagOf(source);
        const QString folder = CFileOperations::TransferDestinationFolder(save, card, source);
        const QByteArray audio = audioOf(source);
        int copies = 0, markedCopies = 0;
        for (const QString& name : QDir(folder).entryList(QDir::Files)) {
            if (audioOf(folder + name) != audio)
                continue;
            ++copies;
            markedCopies += flagOf(folder + name) == 1;
        }
        const bool lostCopy = sourceFlag == 1 && markedCopies == 0;
        const bool incomplete = complete && (sourceFlag != 1 || copies != 1 || markedCopies != 1);
        if (lostCopy || incomplete) {
            ++faults;
            std::printf("%s: card flag %d, %d identical copies, %d of them marked\n", qPrintable(source),
                        sourceFlag, copies, markedCopies);
        }
    }
    int hidden = 0;
    QDirIterator left(save, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (left.hasNext())
        hidden += left.next().section(u'/', -1).startsWith(u'.');
    std::printf("%d faults, %d hidden files left in the save folder\n", faults, hidden);
    return faults == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() >= 3 && arguments[0] == QStringLiteral("run"))
        return run(QDir(arguments[1]).absolutePath(), QDir(arguments[2]).absolutePath());
    if (arguments.size() >= 3 && arguments[0] == QStringLiteral("check"))
        return check(QDir(arguments[1]).absolutePath(), QDir(arguments[2]).absolutePath(),
                     arguments.contains(QStringLiteral("--complete")));
    std::fputs("usage: transfer_trial run CARD SAVE | check CARD SAVE [--complete]\n", stderr);
    return 2;
}

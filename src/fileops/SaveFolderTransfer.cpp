#include "FileOperations.h"

#include "device/Drives.h"
#include "document/TALVEN77PCDoc.h"
#include "export/TransferRecord.h"
#include "platform/CopyBatch.h"
#include "platform/DurableCopy.h"
#include "platform/TemporaryNames.h"
#include "platform/MessageBoxes.h"
#include "platform/Paths.h"
#include "recording/RecorderIdentity.h"
#include "recording/RecordingFile.h"
#include "recording/VoiceDuration.h"
#include "recording/VoiceHeader.h"
#include "settings/SaveFolderCheck.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cstdlib>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const QString kBackingUp = QStringLiteral("ファイルをバックアップしています... ( %1 / %2 )");
const QString kBackupFailed = QStringLiteral("ファイルのバックアップに失敗しました。\nバックアップを中断します。");
const QString kRemoved = QStringLiteral("デバイスが取り外されました。");

// The same recording as the earlier copy at existing: the same last-write time
// (the recording's start time on the recorder, which a transfer gives its copy)
// within the two seconds a FAT save folder rounds to, and the same audio bytes
// after the tag (which the flags and the memo do not touch).
bool isEarlierCopy(const QString& source, const QString& existing)
{
    RecordingFile from, to;
    if (!from.open(source, RecordingFile::Access::Read) || !to.open(existing, RecordingFile::Access::Read))
        return false;
    struct stat fromStat {}, toStat {};
    if (::fstat(from.descriptor(), &fromStat) != 0 || ::fstat(to.descriptor(), &toStat) != 0
        || std::llabs(int64_t(fromStat.st_mtim.tv_sec) - int64_t(toStat.st_mtim.tv_sec)) > 2)
        return false;
    const int64_t fromStart = AudioStart(from), toStart = AudioStart(to);
    const int64_t length = from.size() - fromStart;
    if (length < 0 || length != to.size() - toStart)
        return false;
    constexpr size_t kChunk = 256 * 1024;
    std::vector<char> a(kChunk), b(kChunk);
    for (int64_t done = 0; done < length;) {
        const size_t want = size_t(std::min<int64_t>(int64_t(kChunk), length - done));
        if (from.readAt(fromStart + done, a.data(), want) != want || to.readAt(toStart + done, b.data(), want) != want
            || std::memcmp(a.data(), b.data(), want) != 0)
            return false;
        done += int64_t(want);
    }
    return true;
}

// Where a recording goes that may have been copied before: to its earlier copy (under
// its own name or a numbered one), which then stays as it is, else to its own name when
// that is free, else to the first free numbered name. reserved holds the names that
// copies still waiting for their sync will take. False when every name is taken.
bool chooseTransferDestination(const QString& source, QString& destination, const QSet<QString>& reserved,
                               bool& earlierCopy)
{
    const auto taken = [&](const QString& name) { return reserved.contains(name) || CFileOperations::NameTaken(name); };
    const auto earlier = [&](const QString& name) {
        earlierCopy = !reserved.contains(name) && isEarlierCopy(source, name);
        return earlierCopy;
    };
    earlierCopy = false;
    if (!taken(destination) || earlier(destination))
        return true;
    // Numbered names are handed out from (2) on, so earlier copies sit before the first free one.
    for (int n = 2; n <= CFileOperations::kLastNumber; ++n) {
        const QString numbered = CFileOperations::NumberedName(destination, n);
        if (!taken(numbered) || earlier(numbered)) {
            destination = numbered;
            return true;
        }
    }
    return false;
}

// A copy that took a read-only source's permissions still gets its flag: the
// owner may write it for that moment.
class WritableForAMoment
{
public:
    explicit WritableForAMoment(const QString& path) : m_path(QFile::encodeName(path))
    {
        struct stat st {};
        if (::stat(m_path.constData(), &st) == 0 && !(st.st_mode & S_IWUSR)
            && ::chmod(m_path.constData(), (st.st_mode & 07777) | S_IWUSR) == 0)
            m_mode = st.st_mode & 07777;
    }
    ~WritableForAMoment()
    {
        if (m_mode)
            ::chmod(m_path.constData(), *m_mode);
    }
    WritableForAMoment(const WritableForAMoment&) = delete;
    WritableForAMoment& operator=(const WritableForAMoment&) = delete;

private:
    QByteArray m_path;
    std::optional<mode_t> m_mode;
};

// The transferred flag into one file, written back into the very file it was
// read from; a failure is reported with the header write's own warning.
bool markFileTransferred(const QString& path, HeaderSync sync)
{
    RecordingFile file;
    tagVoiceHeader header{};
    if (!file.open(path, RecordingFile::Access::Read) || !ReadVoiceHeader(file, header)) {
        ShowMessage(VoiceHeaderWriteFailedMessage(), MessageIcon::Warning);
        return false;
    }
    const FileIdentity identity = file.identity();
    file.close();
    header.transferredFlag = 1;
    return WriteVoiceHeader(path, header, identity, HeaderChange::User, sync);
}

bool carriesTransferredFlag(const QString& path)
{
    tagVoiceHeader header{};
    return ReadVoiceHeader(path, header) && header.transferredFlag != 0;
}

// The transferred flag as the copy's own header holds it: the one byte the copy takes
// in place of the source's, written before the copy's sync. None when the source's
// header cannot be read or does not lie whole inside its tag (it is then written nowhere).
std::optional<CopyPatch> transferredFlagPatch(const QString& source)
{
    RecordingFile file;
    if (!file.open(source, RecordingFile::Access::Read))
        return std::nullopt;
    const int64_t body = FindVoiceHeaderBody(file);
    if (body < 0 || body + int64_t(sizeof(tagVoiceHeader)) > std::min(AudioStart(file), file.size()))
        return std::nullopt;
    return CopyPatch{body + int64_t(offsetof(tagVoiceHeader, transferredFlag)), QByteArray(1, char(1))};
}

// Copies and card flags of this many files share their syncs.
constexpr int kFilesPerSync = 32;

// The files of a transfer whose copies wait for their shared sync, and then their
// card flags for theirs. A card's file takes its flag only once its copy carries its
// name and its own flag on the device, and its row shows it only once that flag is on
// the card: an interruption anywhere leaves the card unmarked, and the next transfer
// finds the identical copy and completes it.
class TransferBatch
{
public:
    TransferBatch(bool verify, const QString& driveRoot, int& transferred)
        : m_copies(verify ? CopyCheck::ReadBack : CopyCheck::None), m_verify(verify), m_driveRoot(driveRoot),
          m_recorderNumber(ReadRecorderNumber(driveRoot)), m_transferred(transferred)
    {
    }

    // The recording's copy, its flag set when the source's header allows, into its
    // temporary file; it takes its name with finish().
    FileResult addCopy(const tagFileList& record, const QString& destination, const CopyProgress& progress)
    {
        const std::optional<CopyPatch> flag = transferredFlagPatch(record.szFilePath);
        if (!flag)
            ShowMessage(VoiceHeaderWriteFailedMessage(), MessageIcon::Warning);
        std::vector<CopyPatch> patches;
        if (flag)
            patches.push_back(*flag);
        const FileResult copied = m_copies.add(record.szFilePath, destination, progress, patches);
        if (copied.ok()) {
            m_entries.push_back({record, destination, true, flag.has_value()});
            m_reserved.insert(destination);
        }
        return copied;
    }
    // A recording whose copy is in place already; flagged when that copy carries its flag.
    void addCompleted(const tagFileList& record, const QString& destination, bool flagged)
    {
        m_entries.push_back({record, destination, false, flagged});
    }

    const QSet<QString>& reserved() const { return m_reserved; }
    int size() const { return int(m_entries.size()); }

    // Gives the waiting copies their names, then marks on the card the first
    // marking files whose copies are in place with their flags; marked is called
    // for each whose flag is lasting. Every recording in place goes into the user's
    // transfer record and the count. Returns what the copies' commit returned.
    FileResult finish(int marking, const std::function<void(const tagFileList&)>& marked)
    {
        int committed = 0;
        const FileResult copied = m_copies.commit(&committed);
        QList<tagFileList> ready;
        std::vector<const Entry*> inPlace;
        int copyIndex = 0;
        for (int i = 0; i < int(m_entries.size()); ++i) {
            const Entry& entry = m_entries[size_t(i)];
            if (entry.pendingCopy && copyIndex++ >= committed)
                continue;
            inPlace.push_back(&entry);
            if (entry.flagged && i < marking)
                ready.append(entry.record);
        }
        QSet<QString> markedSources;
        markCard(ready, [&](const tagFileList& record) {
            markedSources.insert(record.szFilePath);
            marked(record);
        });
        QList<TransferRecordEntry> log;
        for (const Entry* entry : inPlace) {
            log.append({QDateTime::currentDateTime(), m_recorderNumber, entry->record.szFilePath, entry->destination,
                        int64_t(QFileInfo(entry->destination).size()), entry->pendingCopy && m_verify,
                        markedSources.contains(entry->record.szFilePath)});
        }
        TransferRecord::Append(log);
        m_transferred += int(inPlace.size());
        m_entries.clear();
        m_reserved.clear();
        return copied;
    }

private:
    struct Entry
    {
        tagFileList record;
        QString destination;
        bool pendingCopy;
        bool flagged;
    };

    void markCard(const QList<tagFileList>& records, const std::function<void(const tagFileList&)>& marked)
    {
        if (records.isEmpty())
            return;
        // Taken before the headers are written, so that its sync reports a write that
        // failed meanwhile; without it each header is synced on its own.
        const int card = ::open(QFile::encodeName(m_driveRoot).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QList<tagFileList> written;
        for (const tagFileList& record : records) {
            if (markFileTransferred(record.szFilePath, card >= 0 ? HeaderSync::Later : HeaderSync::Now))
                written.append(record);
        }
        if (card >= 0) {
            const bool synced = ::syncfs(card) == 0;
            ::close(card);
            if (!synced) {
                if (!written.isEmpty())
                    ShowMessage(VoiceHeaderWriteFailedMessage(), MessageIcon::Warning);
                return;
            }
        }
        for (const tagFileList& record : written)
            marked(record);
    }

    CopyBatch m_copies;
    bool m_verify;
    QString m_driveRoot;
    int m_recorderNumber;
    int& m_transferred;
    std::vector<Entry> m_entries;
    QSet<QString> m_reserved;
};

} // namespace

QString CFileOperations::TransferDestinationFolder(const QString& savePath, const QString& driveRoot,
                                                  const QString& sourcePath)
{
    const QString folder = QDir::fromNativeSeparators(QFileInfo(sourcePath).path());
    const QString root = QDir::fromNativeSeparators(driveRoot);
    if (root.isEmpty())
        return {};
    const QString rootFolder = root.endsWith(u'/') ? root : root + u'/';
    if (folder + u'/' != rootFolder && !folder.startsWith(rootFolder))
        return {};
    QString relative = folder.mid(rootFolder.size());
    while (relative.startsWith(u'/'))
        relative.remove(0, 1);
    while (relative.endsWith(u'/'))
        relative.chop(1);
    const QString number = relative.left(3);
    QString parent;
    if (const qsizetype last = relative.lastIndexOf(u'/'); last >= 0) {
        const QString rest = relative.left(last);
        parent = rest.mid(rest.lastIndexOf(u'/') + 1);
    }
    return WithTrailingBackslash(WithTrailingBackslash(savePath) + number + u'/' + parent.left(4) + u'-' + parent.right(2));
}

bool CFileOperations::TransferFiles(const QList<tagFileList>& records, int sourceKind, const QString& driveRoot,
                                    const QString& savePath, bool& folderPrepared)
{
    const TidyEachFolderOnce operation;
    folderPrepared = false;
    if (!IsUsableSaveFolder(savePath)) {
        ShowMessage(UnusableSaveFolderMessage(), MessageIcon::Warning);
        return false;
    }
    m_bDeviceRemoved = false;
    // A card that refuses every flag (write-protected) says so once, not once a file.
    QStringList warned;
    m_host.statusText(QStringLiteral("ファイルをバックアップしています....."));
    m_nTransferred = 0;
    TransferBatch batch(m_bVerifyCopies, driveRoot, m_nTransferred);
    // Whatever ends the transfer, the copies made so far take their names and, but
    // for the last marking ones, their card's flags.
    const auto finish = [&](int marking) {
        const MessagesShownOnce once(warned);
        return batch.finish(marking, [&](const tagFileList& record) { showTransferred(record, sourceKind); });
    };
    const auto stop = [&](const QString& text, MessageIcon icon, bool markWaiting = true) {
        const FileResult finished = finish(markWaiting ? batch.size() : 0);
        ShowMessage(finished.ok() ? text : kBackupFailed, finished.ok() ? icon : MessageIcon::Error);
        return false;
    };
    QSet<QString> durableFolders;
    int done = 0;
    for (const tagFileList& record : records) {
        // A record that is not below the drive's root any more: the drive went.
        const QString folder = TransferDestinationFolder(savePath, driveRoot, record.szFilePath);
        if (folder.isEmpty())
            return stop(kRemoved, MessageIcon::Error, false);
        // A new folder's entry reaches the disk before any card file is marked.
        if (!durableFolders.contains(folder)) {
            if (!CreateFolderDurably(folder, savePath).ok() || !QFileInfo(folder).isDir())
                return stop(QStringLiteral("フォルダの作成に失敗しました。中断します。"), MessageIcon::Error);
            durableFolders.insert(folder);
        }
        folderPrepared = true;
        QString destination = folder + record.szFileName;
        if (!HasEnoughFreeSpace(destination)) {
            stop(NotEnoughFreeSpaceMessage(), MessageIcon::Information);
            ShowMessage(QStringLiteral("バックアップを中断しました。"), MessageIcon::Information);
            return false;
        }
        if (m_bDeviceRemoved)
            return stop(kRemoved, MessageIcon::Error, false);
        // Another recording that happens to have this name (the recorder's numbering
        // started again) is never written over, and an earlier copy of this one keeps
        // what the user changed in it.
        bool earlierCopy = false;
        if (!chooseTransferDestination(record.szFilePath, destination, batch.reserved(), earlierCopy))
            return stop(kBackupFailed, MessageIcon::Error);
        if (earlierCopy) {
            bool flagged = carriesTransferredFlag(destination);
            if (!flagged) {
                const WritableForAMoment writable(destination);
                const MessagesShownOnce once(warned);
                flagged = markFileTransferred(destination, HeaderSync::Now);
            }
            batch.addCompleted(record, destination, flagged);
        } else {
            // The copy takes its name only once it has been read back whole from the
            // device; a pulled card or a failing disk leaves no part of it behind.
            const MessagesShownOnce once(warned);
            if (!batch.addCopy(record, destination, copyProgress()).ok())
                return stop(kBackupFailed, MessageIcon::Error);
        }
        refresh(++done, int(records.size()), kBackingUp, record);
        // Cancelled: the file at hand stays unmarked.
        if (m_host.cancelRequested()) {
            finish(batch.size() - 1);
            return false;
        }
        // A drive that went while the file was copied takes no flag: what is at its
        // path now may be another card's recording.
        if (m_bDeviceRemoved)
            return stop(kRemoved, MessageIcon::Error, false);
        if (batch.size() >= kFilesPerSync && !finish(batch.size()).ok()) {
            ShowMessage(kBackupFailed, MessageIcon::Error);
            return false;
        }
    }
    if (!finish(batch.size()).ok()) {
        ShowMessage(kBackupFailed, MessageIcon::Error);
        return false;
    }
    return true;
}

void CFileOperations::showTransferred(const tagFileList& record, int sourceKind)
{
    tagFileList marked = record;
    marked.header.transferredFlag = 1;
    m_host.markTransferred(marked);
    m_document.MarkTransferred(sourceKind, marked);
}

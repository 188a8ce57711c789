#pragma once

#include "platform/DurableCopy.h"
#include "platform/NumberedNames.h"
#include "recording/FileListRecord.h"

#include <QList>
#include <QString>

class CFileList;
class CTALVEN77PCDoc;

// What the copy, move and delete workers ask of the window: the overwrite
// question, the progress window, the status bar, the recording list's rows,
// and a chance for the window to paint and answer between (and within) files.
// The engine itself has no widgets.
class FileOperationsHost
{
public:
    virtual ~FileOperationsHost() = default;
    // choice: in, the choice to preselect (0 overwrite, 1 rename automatically,
    // 2 skip); out, the confirmed one. False when the question was cancelled.
    virtual bool askOverwrite(const QString& source, const QString& destination, int& choice, bool& applyToAll) = 0;
    // operation: 0 copy, 1 move, 2 delete. Shows the progress window (made when missing).
    virtual void showProgress(int operation, int files) = 0;
    virtual void setProgress(int done, const QString& text, const QString& fileName) = 0;
    // The bytes written so far of the file at hand.
    virtual void setFileProgress(int64_t /*done*/, int64_t /*total*/) {}
    virtual bool cancelRequested() const = 0;
    virtual void statusText(const QString& text) = 0;
    virtual void processEvents() = 0;
    // A record appended to the shown folder's list gets its row; a record that
    // took the place of one of the same name (an overwritten file) replaces its row.
    virtual void addRow(const tagFileList& record) = 0;
    virtual void replaceRow(const tagFileList& record) = 0;
    // The shown folder's rows are built again from its list.
    virtual void refillList() = 0;
    // A transferred recording (record of its source, flag set) shows as such in its row.
    virtual void markTransferred(const tagFileList& /*record*/) {}
};

// The machinery behind cut, copy, paste, delete and drop: the remembered
// recordings, the overwrite rule with its automatic renaming, and the workers
// that copy, move or delete the remembered recordings file by file, keeping
// the document's lists in step. Every file is written durably: an interrupted
// file (a full disk, a pulled card) leaves the source whole and the
// destination either complete or absent.
class CFileOperations
{
public:
    enum ClipboardMode { ModeNone = 0, ModeCopy = 1, ModeCut = 2, ModeDelete = 3 };
    enum OverwriteResult { Proceed = 0, SkipFile = 1, CancelAll = 2 };
    enum Choice { Overwrite = 0, RenameAutomatically = 1, Skip = 2 };

    CFileOperations(CTALVEN77PCDoc& document, FileOperationsHost& host);

    // Replaces the remembered recordings (copies of the records, in list order).
    void Remember(const QList<tagFileList>& records, int mode);
    void Forget();
    int clipboardMode() const { return m_nClipboardMode; }
    const QList<tagFileList>& remembered() const { return m_remembered; }

    // 0 go ahead (destination may have been renamed), 1 skip this file, 2 cancel the whole operation.
    int CheckOverwrite(const QString& source, QString& destination);
    // destination(2), (3)... up to (9999), the base name cut at its last "("; false
    // (destination unchanged) when every one of them exists.
    static bool MakeNumberedName(QString& destination);
    // destination with "(number)" after its base name, in place of what follows
    // the base name's last "(" when it has one.
    static QString NumberedName(const QString& destination, int number);
    static constexpr int kLastNumber = LastFileNumber;
    // A name that is taken: an entry of any kind, a dangling link too.
    static bool NameTaken(const QString& path);
    static QString WithTrailingBackslash(const QString& path);

    // The workers; false when they stopped before the end (a message said why, or
    // the user cancelled). The caller shows the progress window first, except for
    // the delete, which shows it when needed.
    bool PasteCopy(const QString& destinationFolder);
    bool CopyFilesToFolder(int targetListId);
    bool PasteMove(const QString& destinationFolder);
    bool DeleteRememberedFiles();

    // Where a recording of the recorder or its card goes in the save folder:
    // <save>/<recorder number>/<YYYY>-<MM>/, the number being the first three
    // characters of the top folder below the drive's root ("001_TALVEN-77") and
    // YYYY and MM the first four and last two characters of the folder two
    // levels above the recording ("202611"); "-" alone when there is none.
    // Empty when the source is not below driveRoot.
    static QString TransferDestinationFolder(const QString& savePath, const QString& driveRoot,
                                             const QString& sourcePath);
    // Copies each record into its folder of the save folder (refused, with a
    // message, while the save folder is not usable: IsUsableSaveFolder) and marks it
    // transferred on both sides: the copy first (its flag is in it before its
    // sync), the source only once its copy has been read back from the device
    // and found whole. An earlier copy of the same recording (the same audio
    // and time) stays as it is, with what the user changed in its header, and
    // only takes the flag; another recording of the same name keeps its file
    // and the new copy takes a numbered name. folderPrepared tells whether a
    // destination folder was made ready (the save folder's tree then changed).
    // False when the transfer stopped before the end: a message said why, or
    // the user cancelled (after the current file, which stays unmarked).
    bool TransferFiles(const QList<tagFileList>& records, int sourceKind, const QString& driveRoot,
                       const QString& savePath, bool& folderPrepared);
    // How many recordings the last transfer brought into the save folder (copies in
    // place, earlier copies found included).
    int transferredCount() const { return m_nTransferred; }
    // Whether a transfer reads each copy back before marking its source (the
    // default). Off only to measure what the read-back costs: without it a
    // failing medium can leave a damaged copy behind a marked source.
    void setVerifyCopies(bool verify) { m_bVerifyCopies = verify; }

    // What stands in the way of deleting a folder with everything below it: a
    // protected recording, or a recording that cannot be read (in use, no
    // permission, a name that cannot be read back), which might be protected;
    // or another file system mounted there (or the folder itself a mount
    // point), whose path goes into mountPoint: its files are not the folder's.
    // Links are not followed; files without a recording header never block.
    enum class FolderCheck { Deletable, HoldsProtected, HoldsUnreadable, HoldsMountPoint };
    static FolderCheck CheckFolderForDeletion(const QString& folder, QString* mountPoint = nullptr);

    // No trash can take path (kNoTrash): asks the user whether it is to be deleted for
    // good instead, which cannot be taken back.
    static bool AskDeleteForGood(const QString& path);

    // The recorder or the card went away: a move stops before its next file.
    void setDeviceRemoved() { m_bDeviceRemoved = true; }
    bool deviceRemoved() const { return m_bDeviceRemoved; }

    int m_nLastChoice = Overwrite;
    int m_nTransferred = 0;
    bool m_bApplyToAll = false;

private:
    bool copyFiles(const QString& destinationFolder, int targetListId, bool paste);
    // The overwrite rule, then the free-space rule, for one file about to be
    // written; a stop is explained to the user (cancelledText for a cancelled question).
    int prepareDestination(const QString& source, QString& destination, const QString& cancelledText);
    // Between the chunks of a file: the window shows the bytes and gets its turn.
    CopyProgress copyProgress() const;
    // After each file: the progress window shows it, and the window gets its turn.
    void refresh(int done, int total, const QString& format, const tagFileList& record);
    // A transferred file whose card flag is lasting: its row and its record show it.
    void showTransferred(const tagFileList& record, int sourceKind);
    // The written file's record goes into the list (and the shown rows when it is
    // the shown folder's), in place of the one of an overwritten file.
    void listRecord(CFileList* list, const tagFileList& record, bool shown);

    CTALVEN77PCDoc& m_document;
    FileOperationsHost& m_host;
    QList<tagFileList> m_remembered;
    int m_nClipboardMode = ModeNone;
    bool m_bDeviceRemoved = false;
    bool m_bVerifyCopies = true;
};

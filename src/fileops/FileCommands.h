#pragma once

#include "FileCommandsHost.h"
#include "FileOperations.h"

#include <QObject>
#include <QPointer>
#include <functional>

class CFileCopyDlg;
class COverWriteDlg;
class CRenameDlg;
class CSetting;
class CTALVEN77PCDoc;

// The main view's commands that change recordings and folders: cut, copy,
// paste, delete, drop onto a folder, rename, save under a new name, and the
// save folder's create, delete and rename folder. The view forwards the
// commands here and answers through FileCommandsHost; the copy, move and
// delete work is the engine's, with the progress window and the overwrite
// question shown for it.
class FileCommands : public QObject, public FileOperationsHost
{
    Q_OBJECT

public:
    FileCommands(FileCommandsHost& host, CTALVEN77PCDoc& document, CSetting& setting, QObject* parent = nullptr);
    ~FileCommands() override;

    CFileOperations& engine() { return m_engine; }
    // A paste, delete or drop is going through its files.
    bool isRunning() const { return m_bRunning; }

    void OnEditCut();
    void OnEditCopy();
    void OnEditPaste();
    void OnDeleteFiles();
    void OnRenameFile();
    void OnSaveAs();
    void OnCreateFolder();
    void OnDeleteFolder();
    void OnRenameFolder();
    // Takes back the last delete into the trash, move, rename or new folder; says why
    // when it cannot. The caller refreshes the window afterwards.
    void OnUndo();
    void OnDropOnFolder(int targetListId);

    // The transfer into the save folder. The transfer list is refilled with the
    // records not yet transferred of the first list of the kind (1 the recorder,
    // 2 its card); returns how many.
    int CollectUntransferred(int kind);
    const QList<tagFileList>& transferList() const { return m_transferList; }
    // Copies the transfer list into the save folder, with the progress window
    // shown, or (at start-up, under the splash window) made but not shown.
    void TransferToSaveFolder(bool showProgress);
    // "USBデータ転送" (kind 1) and "保存用フォルダにバックアップ" (kind 2): asks, then transfers.
    void OnTransfer(int kind);

    // How the dialogs are run (modally by default) and where "名前を付けて保存" saves;
    // tests answer them themselves.
    void setOverwriteDialogRunner(std::function<int(COverWriteDlg&)> runner) { m_runOverwrite = std::move(runner); }
    void setRenameDialogRunner(std::function<int(CRenameDlg&)> runner) { m_runRename = std::move(runner); }
    using SaveAsChooser = std::function<QString(const QString& initialName)>;
    void setSaveAsChooser(SaveAsChooser chooser) { m_chooseSaveAs = std::move(chooser); }
    // Called with the progress window each time it is shown (tests press its cancel button there).
    void setProgressObserver(std::function<void(CFileCopyDlg&)> observer) { m_observeProgress = std::move(observer); }

    // The host side of the engine.
    bool askOverwrite(const QString& source, const QString& destination, int& choice, bool& applyToAll) override;
    void showProgress(int operation, int files) override;
    void setProgress(int done, const QString& text, const QString& fileName) override;
    void setFileProgress(int64_t done, int64_t total) override;
    bool cancelRequested() const override;
    void statusText(const QString& text) override;
    void processEvents() override;
    void addRow(const tagFileList& record) override;
    void replaceRow(const tagFileList& record) override;
    void refillList() override;
    void markTransferred(const tagFileList& record) override;

Q_SIGNALS:
    // A worker started or ended: the window's commands follow.
    void busyChanged();

private:
    void rememberSelection(int mode);
    // False, after saying so, while the save folder setting names no usable folder:
    // nothing is then written, moved or removed.
    bool saveFolderUsable() const;
    void setRunning(bool running);
    void closeProgress();
    void finish();
    // The drive of the first list of the kind, or empty.
    QString transferRoot(int kind) const;
    // The selected and focused row, or -1.
    int focusedSelectedRow() const;

    FileCommandsHost& m_host;
    CTALVEN77PCDoc& m_document;
    CSetting& m_setting;
    CFileOperations m_engine;
    QPointer<CFileCopyDlg> m_progress;
    std::function<int(COverWriteDlg&)> m_runOverwrite;
    std::function<int(CRenameDlg&)> m_runRename;
    SaveAsChooser m_chooseSaveAs;
    std::function<void(CFileCopyDlg&)> m_observeProgress;
    bool m_bRunning = false;
    bool m_bProgressHidden = false;
    QList<tagFileList> m_transferList;
    int m_nTransferKind = 0;
    QString m_strTransferRoot;
};

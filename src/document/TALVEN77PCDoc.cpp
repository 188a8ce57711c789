#include "TALVEN77PCDoc.h"

#include "device/Drives.h"
#include "platform/FolderMemo.h"
#include "platform/FolderWalk.h"
#include "platform/Paths.h"
#include "platform/ProgramIdentity.h"
#include "platform/SettingsNumber.h"
#include "platform/TemporaryNames.h"
#include "settings/SaveFolderCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kOptionSection = QStringLiteral("OptionFolder");

// The folder a path lies in, compared without a trailing separator.
QString parentFolder(const QString& folderPath)
{
    const QString trimmed = RemoveTrailingSeparator(folderPath);
    return trimmed.left(trimmed.lastIndexOf(QDir::separator()));
}

} // namespace

CTALVEN77PCDoc::CTALVEN77PCDoc()
{
    CFileList::DrawId(); // the document's own number: lists start above it
}

void CTALVEN77PCDoc::RunStartupChecks(const QString& savePath, const ProgressText& progress)
{
    const auto say = [&](const QString& text) {
        if (progress)
            progress(text);
    };
    say(QStringLiteral("装置およびSDカードチェック中..."));
    CheckDrives();
    say(QStringLiteral("保存用フォルダチェック中....."));
    // What an earlier run left under the program's temporary names (a crash, a kill)
    // is tidied before the folders are listed: a recording half-way through a
    // rename gets its new name, a copy nobody writes any more goes.
    RecoverTemporaryNames(savePath, true);
    RemoveListsOfKind(kListSaveFolder);
    ScanSaveFolder(savePath, progress);
    say(QStringLiteral("任意フォルダチェック中....."));
    LoadOptionFolders(progress);
    for (const QString& path : m_optionPaths)
        RecoverTemporaryNames(path, false);
}

CFileList& CTALVEN77PCDoc::appendList(int kind, bool recursive)
{
    m_fileLists.push_back(std::make_shared<CFileList>(kind, recursive));
    return *m_fileLists.back();
}

void CTALVEN77PCDoc::CheckDrives()
{
    RemoveListsOfKind(kListCard);
    RemoveListsOfKind(kListRecorder);
    for (const QString& drive : ListDrives()) {
        if (IsRecorderDrive(drive))
            AddRecorderRoot(drive);
        else
            AddDriveRoot(kListCard, drive);
    }
}

bool CTALVEN77PCDoc::AddRecorderRoot(const QString& drive)
{
    return AddDriveRoot(kListRecorder, drive);
}

bool CTALVEN77PCDoc::AddDriveRoot(int kind, const QString& drive)
{
    if (kind != kListRecorder && kind != kListCard)
        return false;
    for (const auto& list : m_fileLists) {
        if (list->nKind() == kind && !list->strRoot().isEmpty())
            return false;
    }
    CFileList& list = appendList(kind, true);
    if (!list.InitDevice(drive)) {
        RemoveList(list.nId());
        return false;
    }
    return true;
}

void CTALVEN77PCDoc::ScanSaveFolder(const QString& savePath, const ProgressText& progress)
{
    // An empty setting would walk the whole file system from its root, a relative one
    // whatever folder the program was started in.
    if (!IsUsableSaveFolder(savePath))
        return;
    AddSaveSubfolderLists(savePath, progress);
}

int CTALVEN77PCDoc::AddSaveSubfolderList(const QString& folderPath)
{
    CFileList& list = appendList(kListSaveFolder, false);
    list.SetFolder(AddTrailingSeparator(folderPath));
    return list.nId();
}

void CTALVEN77PCDoc::AddSaveSubfolderLists(const QString& folderPath, const ProgressText& progress)
{
    // Depth first, in the file system's order, each folder before its subfolders.
    const std::function<void(const QString&)> walk = [&](const QString& folder) {
        const QByteArray native = QFile::encodeName(folder);
        const int fd = open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return;
        for (const QByteArray& entry : SubfolderNames(fd, FolderMemoKey(native))) {
            // A name that does not decode would be acted on under another name.
            const QString name = DecodedEntryName(entry.constData());
            if (name.isNull())
                continue;
            const QString path = folder + name + QDir::separator();
            if (progress)
                progress(QStringLiteral("保存用フォルダチェック中... [%1]").arg(path));
            appendList(kListSaveFolder, false).SetFolder(path);
            walk(path);
        }
        close(fd);
    };
    walk(AddTrailingSeparator(folderPath));
}

void CTALVEN77PCDoc::LoadOptionFolders(const ProgressText& progress)
{
    RemoveListsOfKind(kListRegistered);
    m_optionPaths.clear();
    const auto settings = OpenProgramSettings();
    settings->beginGroup(kOptionSection);
    // A count beyond what the list can hold reads the folders it can hold.
    const int count = std::min(SettingsInt(*settings, QStringLiteral("Count"), 0, 0), kMaxOptionFolders);
    for (int i = 1; i <= count; ++i) {
        const QString path = settings->value(QStringLiteral("FolderNo%1").arg(i)).toString();
        m_optionPaths.append(path);
        if (progress)
            progress(QStringLiteral("任意フォルダチェック中... [%1]").arg(path));
        appendList(kListRegistered, false).SetFolder(path);
    }
}

bool CTALVEN77PCDoc::RegisterOptionFolder(const QString& path)
{
    if (m_optionPaths.contains(path))
        return false;
    m_optionPaths.append(path);
    appendList(kListRegistered, false).SetFolder(path);
    writeOptionRegister();
    return true;
}

bool CTALVEN77PCDoc::ReleaseOptionFolder(const QString& path)
{
    const qsizetype index = m_optionPaths.indexOf(path);
    if (index < 0)
        return false;
    m_optionPaths.removeAt(index);
    writeOptionRegister();
    return true;
}

int CTALVEN77PCDoc::CountOptionFolders() const
{
    int count = 0;
    for (const auto& list : m_fileLists)
        count += list->nKind() == kListRegistered ? 1 : 0;
    return count;
}

void CTALVEN77PCDoc::writeOptionRegister() const
{
    const auto settings = OpenProgramSettings();
    settings->beginGroup(kOptionSection);
    for (int i = 1; i <= kMaxOptionFolders; ++i)
        settings->setValue(QStringLiteral("FolderNo%1").arg(i), m_optionPaths.value(i - 1));
    settings->setValue(QStringLiteral("Count"), int(m_optionPaths.size()));
}

void CTALVEN77PCDoc::RemoveListsOfKind(int kind)
{
    for (auto it = m_fileLists.begin(); it != m_fileLists.end();) {
        if ((*it)->nKind() == kind) {
            if (m_pCurrent == it->get())
                m_pCurrent = nullptr;
            it = m_fileLists.erase(it);
        } else {
            ++it;
        }
    }
}

void CTALVEN77PCDoc::RemoveList(int id)
{
    for (auto it = m_fileLists.begin(); it != m_fileLists.end(); ++it) {
        if ((*it)->nId() == id) {
            if (m_pCurrent == it->get())
                m_pCurrent = nullptr;
            m_fileLists.erase(it);
            return;
        }
    }
}

CFileList* CTALVEN77PCDoc::FindList(int id) const
{
    for (const auto& list : m_fileLists) {
        if (list->nId() == id)
            return list.get();
    }
    return nullptr;
}

std::shared_ptr<CFileList> CTALVEN77PCDoc::ShareList(int id) const
{
    for (const auto& list : m_fileLists) {
        if (list->nId() == id)
            return list;
    }
    return nullptr;
}

int CTALVEN77PCDoc::GetListKind(int id) const
{
    const CFileList* list = FindList(id);
    return list ? list->nKind() : 0;
}

QString CTALVEN77PCDoc::GetListFolder(int id) const
{
    const CFileList* list = FindList(id);
    return list ? list->strFolder() : QString();
}

QString CTALVEN77PCDoc::GetListLabel(int id) const
{
    const CFileList* list = FindList(id);
    return list ? list->strLabel() : QString();
}

void CTALVEN77PCDoc::RescanList(int id)
{
    if (CFileList* list = FindList(id)) {
        list->Clear();
        list->EnsureScanned();
    }
}

QString CTALVEN77PCDoc::RefreshList(int id)
{
    CFileList* list = FindList(id);
    return list ? list->Refresh() : QString();
}

QString CTALVEN77PCDoc::ChangeListFolder(int id, const QString& folderPath)
{
    CFileList* list = FindList(id);
    return list ? list->ChangeFolder(folderPath) : QString();
}

CFileList* CTALVEN77PCDoc::firstListOfKind(int kind) const
{
    return nthListOfKind(kind, 0);
}

CFileList* CTALVEN77PCDoc::nthListOfKind(int kind, int n) const
{
    if (n < 0)
        return nullptr;
    for (const auto& list : m_fileLists) {
        if (list->nKind() == kind && n-- == 0)
            return list.get();
    }
    return nullptr;
}

std::optional<int> CTALVEN77PCDoc::GetSaveSubfolderId(int n) const
{
    const CFileList* list = nthListOfKind(kListSaveFolder, n);
    return list ? std::optional<int>(list->nId()) : std::nullopt;
}

QString CTALVEN77PCDoc::GetSaveSubfolderLabel(int n) const
{
    const CFileList* list = nthListOfKind(kListSaveFolder, n);
    return list ? list->strLabel() : QString();
}

QString CTALVEN77PCDoc::GetSaveSubfolderPath(int n) const
{
    const CFileList* list = nthListOfKind(kListSaveFolder, n);
    return list ? list->strFolder() : QString();
}

QString CTALVEN77PCDoc::GetOptionFolderLabel(int n) const
{
    const CFileList* list = nthListOfKind(kListRegistered, n);
    return list ? list->strLabel() : QString();
}

std::optional<int> CTALVEN77PCDoc::findListByFolder(int kind, const QString& folderPath) const
{
    const QString folder = AddTrailingSeparator(folderPath);
    for (const auto& list : m_fileLists) {
        if (list->nKind() == kind && list->strFolder() == folder)
            return list->nId();
    }
    return std::nullopt;
}

std::optional<int> CTALVEN77PCDoc::FindSaveSubfolderId(const QString& folderPath) const
{
    return findListByFolder(kListSaveFolder, folderPath);
}

std::optional<int> CTALVEN77PCDoc::FindOptionFolderId(const QString& folderPath) const
{
    return findListByFolder(kListRegistered, folderPath);
}

std::optional<int> CTALVEN77PCDoc::FindParentSaveSubfolderId(const QString& folderPath) const
{
    const QString parent = parentFolder(folderPath);
    for (const auto& list : m_fileLists) {
        if (list->nKind() == kListSaveFolder && RemoveTrailingSeparator(list->strFolder()) == parent)
            return list->nId();
    }
    return std::nullopt;
}

void CTALVEN77PCDoc::SetCurrent(int id)
{
    m_pCurrent = FindList(id);
}

void CTALVEN77PCDoc::ClearCurrent()
{
    if (m_pCurrent)
        m_pCurrent->Rest();
    m_pCurrent = nullptr;
}

tagFileList CTALVEN77PCDoc::GetCurrentRecord(int position) const
{
    const tagFileList* record = m_pCurrent ? m_pCurrent->RecordAt(position) : nullptr;
    return record ? *record : tagFileList{};
}

tagFileList CTALVEN77PCDoc::FindCurrentRecord(const QString& fileName) const
{
    if (m_pCurrent) {
        // A folder on Linux can hold names that differ in letter case alone:
        // the name as given wins over one that only matches ignoring case.
        const tagFileList* ignoringCase = nullptr;
        for (const tagFileList& record : m_pCurrent->records()) {
            if (record.szFileName == fileName)
                return record;
            if (!ignoringCase && record.szFileName.compare(fileName, Qt::CaseInsensitive) == 0)
                ignoringCase = &record;
        }
        if (ignoringCase)
            return *ignoringCase;
    }
    return {};
}

namespace {

QString existingPath(const tagFileList& record)
{
    if (record.szFilePath.isEmpty() || !QFileInfo(record.szFilePath).isFile())
        return {};
    return record.szFilePath;
}

} // namespace

QString CTALVEN77PCDoc::GetExistingRecordPath(const QString& fileName) const
{
    return existingPath(FindCurrentRecord(fileName));
}

tagFileList CTALVEN77PCDoc::FindCurrentRecord(const tagFileList& row) const
{
    if (m_pCurrent && !row.szFilePath.isEmpty()) {
        for (const tagFileList& record : m_pCurrent->records()) {
            if (record.szFilePath == row.szFilePath)
                return record;
        }
    }
    return FindCurrentRecord(row.szFileName);
}

QString CTALVEN77PCDoc::GetExistingRecordPath(const tagFileList& row) const
{
    return existingPath(FindCurrentRecord(row));
}

int CTALVEN77PCDoc::CollectUntransferred(int kind, QList<tagFileList>& out) const
{
    out.clear();
    if (const CFileList* list = firstListOfKind(kind)) {
        for (const tagFileList& record : list->records()) {
            if (record.header.transferredFlag == 0)
                out.append(record);
        }
    }
    return int(out.size());
}

void CTALVEN77PCDoc::MarkTransferred(int kind, const tagFileList& record)
{
    if (CFileList* list = firstListOfKind(kind))
        list->MarkRecordTransferred(record);
}

std::optional<QString> CTALVEN77PCDoc::GetCardDrive() const
{
    const CFileList* list = firstListOfKind(kListCard);
    return list && !list->strRoot().isEmpty() ? std::optional<QString>(list->strRoot()) : std::nullopt;
}

std::optional<QString> CTALVEN77PCDoc::GetRecorderDrive() const
{
    const CFileList* list = firstListOfKind(kListRecorder);
    return list && !list->strRoot().isEmpty() ? std::optional<QString>(list->strRoot()) : std::nullopt;
}

bool CTALVEN77PCDoc::CanDropOnFolder(int targetId, int selectedId) const
{
    if (targetId == selectedId)
        return false;
    const int kind = GetListKind(targetId);
    return kind == kListSaveFolder || kind == kListRegistered;
}

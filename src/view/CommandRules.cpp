#include "CommandRules.h"

#include "recording/FileList.h"

namespace {

bool changeableFolder(const CommandContext& c)
{
    return c.selectedKind == kListSaveFolder || c.selectedKind == kListRegistered;
}

} // namespace

bool IsCommandEnabled(Command command, const CommandContext& c)
{
    // While files are being copied, moved or deleted only the information
    // stays: every other command could change what is gone through, and
    // quitting would leave the work running without its window.
    if (c.busy)
        return command == Command::About;
    switch (command) {
    case Command::Transfer:
        return c.selectedKind == kListRecorder;
    case Command::Backup:
    case Command::Eject:
        return c.selectedKind == kListCard;
    case Command::CreateFolder:
        return c.treeHasFocus && c.currentKind == kListSaveFolder;
    case Command::SaveAs:
        return c.selectedRows == 1;
    case Command::DeleteFiles:
    case Command::Cut:
        return c.selectedRows > 0 && changeableFolder(c);
    case Command::RenameFile:
        return c.selectedRows == 1 && changeableFolder(c);
    case Command::Copy:
        return c.selectedRows > 0;
    case Command::Paste:
        return (c.clipboardMode == 1 || c.clipboardMode == 2) && changeableFolder(c);
    case Command::SelectAll:
        return c.rowCount > 0 && c.listHasFocus;
    case Command::InvertSelection:
        return c.rowCount > 0;
    case Command::Rebuild:
        return c.selectedKind != 0;
    case Command::Play:
        return c.panelCanPlay && c.selectedRows == 1 && c.selectedKind != kListRecorder;
    case Command::SkipSilence:
        return c.panelCanPlay;
    case Command::NextSilenceBoundary:
    case Command::PreviousSilenceBoundary:
        return c.panelCanPlay && c.selectedRows == 1 && c.selectedKind != kListRecorder;
    case Command::ExpandFolder:
        return c.nodeHasChildren;
    case Command::DeleteFolder:
        return c.selectedKind == kListSaveFolder;
    case Command::ReleaseFolder:
        return c.selectedKind == kListRegistered;
    case Command::Export:
        return c.selectedRows > 0;
    case Command::ExportList:
        return c.rowCount > 0;
    case Command::Undo:
        return c.canUndo;
    default:
        if (const TransportAction action = TransportActionOf(command); action != TransportAction::None)
            return (c.transportAllowed >> int(action)) & 1u;
        if (command >= Command::SortByName && command <= Command::SortByMemo)
            return (c.shownKeys >> (int(command) - int(Command::SortByName))) & 1u;
        return true;
    }
}

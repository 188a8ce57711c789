#pragma once

#include "transport/TransportAction.h"

#include <cstdint>

// The commands of the main window. Menus, the toolbar and the context menus
// show the same commands; a command is found by this id, never by its text.
enum class Command {
    Transfer,
    Backup,
    CreateFolder,
    SaveAs,
    Eject,
    DeleteFiles,
    RenameFile,
    Exit,
    Cut,
    Copy,
    Paste,
    SelectAll,
    InvertSelection,
    SortByName, // the ten sort keys follow in column-key order
    SortByStart,
    SortByDuration,
    SortBySize,
    SortByMode,
    SortByProtect,
    SortByIndex,
    SortByPlayed,
    SortByTransferred,
    SortByMemo,
    SortDescending,
    AutoWidth,
    Find,
    FindPrevious,
    FindNext,
    Rebuild,
    Refresh,
    Settings,
    DeviceNames,
    About,
    Play,
    ExpandFolder,
    DeleteFolder,
    RenameFolder,
    ReleaseFolder,
    // The playback menu: a command for each keyed transport action in the actions'
    // order (TransportCommand gives it), then their settings.
    FirstTransport,
    TransportSettings = FirstTransport + kKeyedActionCount,
    SkipSilence,
    NextSilenceBoundary,
    PreviousSilenceBoundary,
    ShowOverview,
    SilenceSettings,
    Export,
    ExportList,
    Undo,
    MoveToTrash,
    TransferHistory,
    SearchAll,
};
inline constexpr int kCommandCount = int(Command::SearchAll) + 1;

// The playback menu's command of a keyed transport action, and back (None for other commands).
constexpr Command TransportCommand(TransportAction action)
{
    return Command(int(Command::FirstTransport) + int(action));
}
constexpr TransportAction TransportActionOf(Command command)
{
    const int offset = int(command) - int(Command::FirstTransport);
    return offset >= 0 && offset < kKeyedActionCount ? TransportAction(offset)
                                                     : TransportAction::None;
}

inline Command SortCommand(int key)
{
    return Command(int(Command::SortByName) + key);
}

// What the enable rules look at, taken from the window at each state update.
struct CommandContext
{
    int selectedKind = 0;      // kind of the selected tree node's list; 0 for the roots
    int currentKind = 0;       // the view's current folder kind (the recorder and save roots count)
    bool nodeHasChildren = false;
    bool treeHasFocus = false;
    bool listHasFocus = false;
    int rowCount = 0;
    int selectedRows = 0;
    int clipboardMode = 0;     // 0 nothing remembered, 1 copy, 2 cut
    uint32_t shownKeys = 1;    // bit k: the column of sort key k is shown
    bool busy = false;         // a copy, move or delete is going through its files
    bool panelCanPlay = true;  // the control panel in place plays at all
    uint32_t transportAllowed = 0; // bit a: the panel would carry out transport action a now
    bool canUndo = false;      // a file command can be taken back
};

// Whether a command may run now. Commands without a rule of their own are always enabled.
bool IsCommandEnabled(Command command, const CommandContext& context);

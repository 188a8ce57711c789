#pragma once

#include "RecordingBuilder.h"
#include "SimulatedPlaces.h"
#include "VirtualAudioOutput.h"
#include "document/TALVEN77PCDoc.h"
#include "player/PanelDlg.h"
#include "settings/Setting.h"
#include "view/TALVEN77PCView.h"

#include <QList>

class CMainList;
#include <memory>

// A shown window with a save folder of three recordings of a minute (a, b, c; a
// with index marks at 10 s and 40 s; its audio may be another), the first one loaded in a
// control panel that plays on the virtual clock: nothing moves until the test advances it.
struct PlayerWindow
{
    QString folder;
    CSetting setting;
    CTALVEN77PCDoc document;
    VirtualAudioOutput* output = nullptr;
    std::unique_ptr<CPanelDlg> panel;
    std::unique_ptr<CTALVEN77PCView> view;

    explicit PlayerWindow(SimulatedPlaces& places, const QList<uint32_t>& marks = {10, 40},
                          const QByteArray& firstAudio = {});
    ~PlayerWindow();

    CMp3Ctrl& engine() { return panel->session().engine(); }
    // Starts playing at a second (paused there when pause is set), as the panel's own buttons
    // would.
    void playAt(uint32_t second, bool pause = false);
    // Plays on for this long, delivering notices and ticks as the window would.
    void play(double seconds);
    // The key as the user presses it on the window.
    void press(const QString& portableKey);
    // Focuses the list, makes the row its only selected one and presses Enter on it (which
    // plays it); returns the list.
    CMainList* enterOnRow(int row);
};

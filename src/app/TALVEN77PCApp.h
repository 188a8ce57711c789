#pragma once

#include "settings/Setting.h"

#include <QString>
#include <QStringList>
#include <memory>

class CMainFrame;
class CTALVEN77PCDoc;
class MprisService;
class RecordingIndex;
class SingleInstance;

// Starts the program (one copy per user), holds the settings, the document and
// the main window, and guards the main window with the password when asked to.
class CTALVEN77PCApp
{
public:
    // runtimeFolder: where the single-instance lock lives (the user's runtime folder by default).
    explicit CTALVEN77PCApp(QString runtimeFolder = {});
    ~CTALVEN77PCApp();

    // The start-up steps; false when the program is to end at once. openPaths: the recordings
    // the program was started with (absolute), shown in the window, or handed to the copy
    // already running.
    bool InitInstance(const QStringList& openPaths = {});
    // Shows the first of these recordings in the window (its folder and row), brought forward;
    // nothing while the window is locked behind its password.
    void openRecordings(const QStringList& paths);

    CSetting m_setting;
    int m_nAuthenticated = 1;
    Qt::WindowState m_showCommand = Qt::WindowNoState;

    CMainFrame* mainFrame() const { return m_frame.get(); }
    CTALVEN77PCDoc* document() const { return m_document.get(); }
    MprisService* mediaControls() const { return m_mpris.get(); }

private:
    // The desktop's media controls, on the session bus when there is one.
    void startMediaControls();

    QString m_runtimeFolder;
    std::unique_ptr<SingleInstance> m_instance;
    // Outlives the document and the window, whose scans go through it.
    std::unique_ptr<RecordingIndex> m_index;
    std::unique_ptr<CTALVEN77PCDoc> m_document;
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<MprisService> m_mpris;
};

// Creates the save folder with its parents when it is missing; shows "Save
// Directory Create Error!!!" when that fails. True when the folder exists.
bool EnsureSaveFolder(const QString& savePath);

// The files named on the command line, absolute (relative ones from the current folder,
// file: URLs as their paths).
QStringList PathsToOpen(const QStringList& arguments);

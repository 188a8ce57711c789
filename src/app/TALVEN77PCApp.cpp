#include "TALVEN77PCApp.h"

#include "MainFrame.h"
#include "PasswordDlg.h"
#include "SingleInstance.h"
#include "device/Drives.h"
#include "document/TALVEN77PCDoc.h"
#include "info/SplashWnd.h"
#include "library/RecordingIndex.h"
#include "platform/MessageBoxes.h"
#include "platform/Paths.h"
#include "platform/WindowRaise.h"
#include "settings/SaveFolderCheck.h"
#include "transport/MprisService.h"
#include "transport/TransportTarget.h"
#include "view/ArchiveLink.h"
#include "view/TALVEN77PCView.h"
#include "view/TransportCommands.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QTimer>

bool EnsureSaveFolder(const QString& savePath)
{
    // An empty or relative setting names no folder of the user's: nothing is made
    // (the commands that would write there say why they refuse).
    if (!IsUsableSaveFolder(savePath))
        return false;
    if (FolderExists(savePath))
        return true;
    if (QDir().mkpath(AddTrailingSeparator(savePath)))
        return true;
    ShowMessage(QStringLiteral("Save Directory Create Error!!!"), MessageIcon::Warning);
    return false;
}

CTALVEN77PCApp::CTALVEN77PCApp(QString runtimeFolder) : m_runtimeFolder(std::move(runtimeFolder)) {}

CTALVEN77PCApp::~CTALVEN77PCApp()
{
    DestroySplashScreen();
    // Off the bus before the panel it drives goes.
    m_mpris.reset();
    m_frame.reset();
    m_document.reset();
    SetScanCache(nullptr);
    SetFolderMemo(nullptr);
}

QStringList PathsToOpen(const QStringList& arguments)
{
    QStringList paths;
    for (const QString& argument : arguments) {
        if (argument.isEmpty())
            continue;
        const QUrl url(argument);
        const QString path = url.isLocalFile() ? url.toLocalFile() : argument;
        paths.append(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    }
    return paths;
}

bool CTALVEN77PCApp::InitInstance(const QStringList& openPaths)
{
    // One copy per user: a second one hands the first the recordings it was started with, or
    // else says that one runs, and ends before it touches the settings or the save folder.
    m_instance = std::make_unique<SingleInstance>(m_runtimeFolder);
    switch (m_instance->acquire(openPaths)) {
    case SingleInstance::Result::First:
        break;
    case SingleInstance::Result::RunningCopyFound:
        if (openPaths.isEmpty())
            ShowMessage(QStringLiteral("プログラムは既に起動しています。"), MessageIcon::Warning);
        return false;
    case SingleInstance::Result::LockedWithoutCopy:
        return false;
    }

    g_bSplashEnabled = true;
    ShowSplashScreen();
    m_setting.Load();
    EnsureSaveFolder(m_setting.m_strSavePath);
    m_nAuthenticated = 1;

    // The start-up scans already take unchanged recordings from the index.
    m_index = std::make_unique<RecordingIndex>();
    SetScanCache(m_index.get());
    SetFolderMemo(m_index.get());
    m_document = std::make_unique<CTALVEN77PCDoc>();
    m_document->RunStartupChecks(m_setting.m_strSavePath, SetSplashStatus);
    m_frame = std::make_unique<CMainFrame>(*m_document, m_setting, m_nAuthenticated);
    const bool maximized = CMainFrame::RestorePlacement(m_frame.get());
    m_frame->hide();
    DestroySplashScreen();

    // Restored means as the window was last time: maximized or not.
    m_showCommand = Qt::WindowNoState;
    if (m_setting.m_nUsePassword) {
        m_nAuthenticated = 0;
        CPasswordDlg dialog(m_setting.m_strPassword, m_nAuthenticated, m_frame.get());
        m_showCommand = dialog.exec() == QDialog::Rejected ? Qt::WindowMinimized : Qt::WindowNoState;
    }
    m_frame->setWindowState(maximized ? m_showCommand | Qt::WindowMaximized : Qt::WindowStates(m_showCommand));
    m_frame->show();
    startMediaControls();
    m_instance->setReceiver([this](const QStringList& paths) { openRecordings(paths); });
    openRecordings(openPaths);
    return true;
}

void CTALVEN77PCApp::openRecordings(const QStringList& paths)
{
    if (paths.isEmpty() || !m_frame)
        return;
    BringWindowForward(m_frame.get());
    if (m_nAuthenticated != 0)
        m_frame->view()->archive().OpenRecordingFile(paths.first());
}

void CTALVEN77PCApp::startMediaControls()
{
    m_mpris = std::make_unique<MprisService>();
    TransportCommands& transport = m_frame->view()->transportCommands();
    m_mpris->setTarget(transport.target());
    m_mpris->setGate([this] { return m_nAuthenticated != 0; });
    m_mpris->setRaiser([this] { BringWindowForward(m_frame.get()); });
    QObject::connect(&transport, &TransportCommands::targetChanged, m_mpris.get(),
                     [this](TransportTarget* target) { m_mpris->setTarget(target); });
    // After the window is up: a bus that is slow to answer never holds up start-up.
    QTimer::singleShot(0, m_mpris.get(), [this] {
        if (!m_mpris->registerOnSessionBus())
            qInfo("media controls: no session bus, or the player's name is taken");
    });
}

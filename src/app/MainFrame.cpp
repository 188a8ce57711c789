#include "MainFrame.h"

#include "PasswordDlg.h"
#include "fileops/FileCommands.h"
#include "info/AboutDlg.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramIdentity.h"
#include "settings/Setting.h"
#include "view/CommandSet.h"
#include "view/FolderTreePane.h"
#include "recording/RecordingColumns.h"
#include "view/TALVEN77PCView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QWindowStateChangeEvent>
#include <QtEndian>
#include <cstdlib>

namespace {

const QString kIdleText = QStringLiteral("レディ");
const QString kPlacementKey = QStringLiteral("Window/Main");
// Farther from the desktop's origin than any screen reaches, in pixels.
constexpr int64_t kFarthestEdge = 1 << 20;

} // namespace

CMainFrame::CMainFrame(CTALVEN77PCDoc& document, CSetting& setting, int& authenticated, QWidget* parent)
    : QMainWindow(parent), m_document(document), m_setting(setting), m_authenticated(authenticated),
      m_view(new CTALVEN77PCView(document, setting, this)), m_operation(new QLabel(kIdleText)), m_count(new QLabel),
      m_clock(new QLabel), m_clockTimer(new QTimer(this))
{
    setWindowTitle(kProgramTitle);
    setMinimumSize(850, 530);
    setCentralWidget(m_view);
    buildMenusAndToolbar();

    m_count->setFixedWidth(100);
    m_clock->setFixedWidth(120);
    statusBar()->addWidget(m_operation, 1);
    statusBar()->addPermanentWidget(m_count);
    statusBar()->addPermanentWidget(m_clock);
    ShowRecordingCount(0);
    connect(m_view, &CTALVEN77PCView::statusText, this, &CMainFrame::setOperationText);
    connect(m_view, &CTALVEN77PCView::recordingCount, this, &CMainFrame::ShowRecordingCount);

    m_passwordDlg = std::make_unique<CPasswordDlg>(m_setting.m_strPassword, m_authenticated, this);
    m_passwordDlg->setModal(false);
    m_passwordDlg->hide();

    m_clockTimer->setSingleShot(true);
    m_clockTimer->setTimerType(Qt::PreciseTimer);
    connect(m_clockTimer, &QTimer::timeout, this, &CMainFrame::tick);
    tick();
    m_view->OnInitialUpdate();
}

CMainFrame::~CMainFrame()
{
    StorePlacement(this);
}

QTreeWidget* CMainFrame::folderTree() const
{
    return m_view->folderTree();
}

QAction* CMainFrame::command(Command id) const
{
    return m_view->commands().action(id);
}

void CMainFrame::buildMenusAndToolbar()
{
    CommandSet& commands = m_view->commands();
    const auto add = [&commands](QMenu* menu, std::initializer_list<Command> ids) {
        for (const Command id : ids)
            menu->addAction(commands.action(id));
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    add(file, {Command::Transfer, Command::Backup});
    file->addSeparator();
    add(file, {Command::CreateFolder, Command::SaveAs});
    file->addSeparator();
    add(file, {Command::Eject});
    file->addSeparator();
    add(file, {Command::DeleteFiles, Command::RenameFile});
    file->addSeparator();
    add(file, {Command::Export, Command::ExportList, Command::TransferHistory});
    file->addSeparator();
    add(file, {Command::Exit});
    commands.setHandler(Command::Exit, [this] { OnAppExit(); });

    QMenu* edit = menuBar()->addMenu(QStringLiteral("編集(&E)"));
    add(edit, {Command::Undo});
    edit->addSeparator();
    add(edit, {Command::Cut, Command::Copy, Command::Paste, Command::SelectAll, Command::InvertSelection});
    edit->addSeparator();
    add(edit, {Command::MoveToTrash});

    QMenu* view = menuBar()->addMenu(QStringLiteral("表示(&V)"));
    QMenu* sort = view->addMenu(QStringLiteral("並び替え(&I)"));
    for (int key = 0; key < kColumnKeys; ++key)
        sort->addAction(commands.action(SortCommand(key)));
    sort->addSeparator();
    add(sort, {Command::SortDescending});
    add(view, {Command::AutoWidth, Command::ShowOverview});
    view->addSeparator();
    add(view, {Command::Find, Command::FindPrevious, Command::FindNext, Command::SearchAll});
    view->addSeparator();
    add(view, {Command::Rebuild, Command::Refresh});

    // The transport in the panel's order; the playback settings last.
    QMenu* playback = menuBar()->addMenu(QStringLiteral("再生(&P)"));
    for (int i = 0; i < kKeyedActionCount; ++i) {
        if (TransportActionStartsGroup(TransportAction(i)))
            playback->addSeparator();
        add(playback, {TransportCommand(TransportAction(i))});
    }
    playback->addSeparator();
    add(playback, {Command::SkipSilence, Command::PreviousSilenceBoundary, Command::NextSilenceBoundary});
    playback->addSeparator();
    add(playback, {Command::TransportSettings});

    QMenu* settings = menuBar()->addMenu(QStringLiteral("設定(&S)"));
    add(settings, {Command::Settings, Command::DeviceNames, Command::SilenceSettings});

    QMenu* help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
    add(help, {Command::About});
    commands.setHandler(Command::About, [this] {
        CAboutDlg dialog(this);
        dialog.exec();
    });

    QToolBar* toolbar = addToolBar(QStringLiteral("標準"));
    toolbar->setMovable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolbar->setIconSize(QSize(16, 16));
    for (const Command id : {Command::Transfer, Command::Backup, Command::CreateFolder, Command::Cut, Command::Copy,
                             Command::Paste, Command::DeleteFiles, Command::Eject})
        toolbar->addAction(commands.action(id));
    toolbar->addSeparator();
    for (const Command id : {Command::Find, Command::FindPrevious, Command::FindNext, Command::Refresh, Command::Settings})
        toolbar->addAction(commands.action(id));
    m_view->UpdateCommandStates();
}

void CMainFrame::ShowRecordingCount(int count)
{
    m_count->setText(QString::asprintf("録音件数 %4d件", count));
}

void CMainFrame::ShowIdleText()
{
    setOperationText(kIdleText);
}

void CMainFrame::setOperationText(const QString& text)
{
    m_operation->setText(text);
    m_operation->repaint();
}

QString CMainFrame::operationText() const
{
    return m_operation->text();
}

QString CMainFrame::recordingCountText() const
{
    return m_count->text();
}

QString CMainFrame::clockText() const
{
    return m_clock->text();
}

void CMainFrame::tick()
{
    // The clock shows seconds: it wakes up once a second, just after the second
    // it shows has begun, and the label repaints only when its text changed.
    const QDateTime now = QDateTime::currentDateTime();
    m_clock->setText(now.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")));
    constexpr int kPastTheSecond = 5;
    m_clockTimer->start(1000 - int(now.toMSecsSinceEpoch() % 1000) + kPastTheSecond);
}

void CMainFrame::OnAppExit()
{
    if (!ConfirmExit())
        return;
    m_closeConfirmed = true;
    close();
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // Files being copied, moved or deleted finish (or are cancelled) first.
    if (m_view && m_view->fileCommands().isRunning()) {
        event->ignore();
        return;
    }
    if (!m_closeConfirmed && !ConfirmExit()) {
        event->ignore();
        return;
    }
    m_closeConfirmed = true;
    // A password dialog that is up goes with the window: the program ends.
    m_passwordDlg->hide();
    QMainWindow::closeEvent(event);
}

void CMainFrame::closePasswordGate()
{
    if (m_authenticated != 0)
        return;
    showMinimized();
    m_passwordDlg->show();
    m_passwordDlg->raise();
    m_passwordDlg->activateWindow();
    if (const QScreen* screen = m_passwordDlg->screen())
        m_passwordDlg->move(screen->geometry().center() - m_passwordDlg->rect().center());
}

void CMainFrame::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (m_closeConfirmed)
        return;
    if (event->type() == QEvent::WindowStateChange) {
        const bool wasMinimized = static_cast<QWindowStateChangeEvent*>(event)->oldState() & Qt::WindowMinimized;
        const bool minimized = windowState() & Qt::WindowMinimized;
        // With the password in use, a minimized window is one the user must
        // open again with it: the right entry sets the flag before it restores.
        if (minimized && !wasMinimized && m_setting.m_nUsePassword)
            m_authenticated = 0;
        else if (wasMinimized && !minimized && m_authenticated == 0)
            QTimer::singleShot(0, this, &CMainFrame::closePasswordGate);
    } else if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_authenticated == 0) {
        QTimer::singleShot(0, this, &CMainFrame::closePasswordGate);
    }
}

void CMainFrame::StorePlacement(QWidget* window)
{
    if (!window) {
        ShowMessage(QStringLiteral("Window Error"), MessageIcon::Warning);
        return;
    }
    const QRect normal = window->normalGeometry().isValid() ? window->normalGeometry() : window->geometry();
    const int showCommand = window->isMinimized() ? 2 : window->isMaximized() ? 3 : 1;
    // A window minimized from the maximized state comes back maximized (flag 2).
    const int flags = window->isMinimized() && (window->windowState() & Qt::WindowMaximized) ? 2 : 0;
    const qint32 values[11] = {44, flags, showCommand, -1, -1, -1, -1,
                               normal.left(), normal.top(), normal.right() + 1, normal.bottom() + 1};
    QByteArray record(44, '\0');
    for (int i = 0; i < 11; ++i)
        qToLittleEndian<qint32>(values[i], record.data() + 4 * i);
    const auto settings = OpenProgramSettings();
    settings->setValue(kPlacementKey, record);
    settings->sync();
    if (settings->status() != QSettings::NoError)
        ShowMessage(QStringLiteral("Registry Write Error"), MessageIcon::Warning);
}

bool CMainFrame::RestorePlacement(QWidget* window)
{
    const QByteArray record = OpenProgramSettings()->value(kPlacementKey).toByteArray();
    if (record.size() != 44 || qFromLittleEndian<qint32>(record.constData()) != 44)
        return false;
    const auto value = [&](int i) { return qFromLittleEndian<qint32>(record.constData() + 4 * i); };
    // Edges beyond any screen's reach (a damaged or hand-made record) are no placement
    // to restore; within it, no edge or size of the rectangle overflows.
    for (int i = 7; i <= 10; ++i) {
        if (std::abs(int64_t(value(i))) > kFarthestEdge)
            return false;
    }
    const QRect normal(QPoint(value(7), value(8)), QPoint(value(9) - 1, value(10) - 1));
    if (normal.width() >= window->minimumWidth() && normal.height() >= window->minimumHeight())
        window->setGeometry(normal);
    return value(2) == 3 || (value(1) & 2);
}

#include "MainFrame.h"

#include "PasswordDlg.h"
#include "info/AboutDlg.h"
#include "device/CardRemoval.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramIdentity.h"
#include "settings/Setting.h"
#include "view/FolderTreeFill.h"
#include "view/RecordingListModel.h"
#include "view/TALVEN77PCView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStyle>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QWindowStateChangeEvent>
#include <QtEndian>

namespace {

const QString kIdleText = QStringLiteral("レディ");
const QString kPlacementKey = QStringLiteral("Window/Main");

// The prompt's first line goes to the status bar; the part after \n is the short name (tooltip).
void setPrompt(QAction* action, const QString& prompt)
{
    const qsizetype split = prompt.indexOf(u'\n');
    action->setStatusTip(split < 0 ? prompt : prompt.left(split));
    if (split >= 0)
        action->setToolTip(prompt.mid(split + 1));
}

QString menuKey(const QString& text)
{
    return text.section(u'\t', 0, 0);
}

} // namespace

CMainFrame::CMainFrame(CTALVEN77PCDoc& document, CSetting& setting, int& authenticated, QWidget* parent)
    : QMainWindow(parent), m_document(document), m_setting(setting), m_authenticated(authenticated),
      m_view(new CTALVEN77PCView(document, setting, this)), m_operation(new QLabel(kIdleText)), m_count(new QLabel),
      m_clock(new QLabel)
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
    connect(m_view->folderTree(), &QTreeWidget::currentItemChanged, this, &CMainFrame::updateCommandStates);

    m_passwordDlg = std::make_unique<CPasswordDlg>(m_setting.m_strPassword, m_authenticated, this);
    m_passwordDlg->setModal(false);
    m_passwordDlg->hide();

    auto* clock = new QTimer(this);
    connect(clock, &QTimer::timeout, this, &CMainFrame::tick);
    clock->start(500);
    tick();
    m_view->OnInitialUpdate();
    updateCommandStates();
}

CMainFrame::~CMainFrame()
{
    StorePlacement(this);
}

QTreeWidget* CMainFrame::folderTree() const
{
    return m_view->folderTree();
}

QAction* CMainFrame::addCommand(QMenu* menu, const QString& text, const QString& prompt,
                                const QList<QKeySequence>& keys, bool enabled)
{
    auto* action = menu->addAction(text);
    if (!prompt.isEmpty())
        setPrompt(action, prompt);
    action->setShortcuts(keys);
    action->setEnabled(enabled);
    m_commands.insert(menuKey(text), action);
    return action;
}

void CMainFrame::buildMenusAndToolbar()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    QAction* transfer = addCommand(file, QStringLiteral("USBデータ転送(&U)"),
                                   QStringLiteral("TALVEN-77の音声ファイルを保存用フォルダに転送します。\n転送"));
    QAction* backup = addCommand(file, QStringLiteral("保存用フォルダにバックアップ(&B)"),
                                 QStringLiteral("PC装着のSDカード（TALVEN-77録音用）内の未転送の音声ファイルを保存用フォルダにバックアップします。\nバックアップ"));
    file->addSeparator();
    QAction* createFolder = addCommand(file, QStringLiteral("フォルダの作成(&N)"),
                                       QStringLiteral("保存用フォルダ内に新規フォルダを作成します。\nフォルダ作成"));
    addCommand(file, QStringLiteral("名前を付けて保存(&A)..."),
               QStringLiteral("音声ファイルのファイル名を編集して保存します。\n保存"));
    file->addSeparator();
    QAction* eject = addCommand(file, QStringLiteral("取り出し(&J)"), QStringLiteral("SDカードを安全に取りだします。\n取出"));
    connect(eject, &QAction::triggered, this, &CMainFrame::onEject);
    m_view->setEjectAction(eject);
    file->addSeparator();
    QAction* remove = addCommand(file, QStringLiteral("ファイルの削除(&D)\t Delete"),
                                 QStringLiteral("選択中のファイルを削除します。\nファイル削除"), {QKeySequence(Qt::Key_Delete)});
    addCommand(file, QStringLiteral("ファイル名の変更(&M)..."),
               QStringLiteral("音声ﾌｧｲﾙのファイル名を変更します。\nファイル名変更"));
    file->addSeparator();
    QAction* exit = addCommand(file, QStringLiteral("終了(&C)"), QStringLiteral("アプリケーションを終了します。\n終了"), {}, true);
    connect(exit, &QAction::triggered, this, &CMainFrame::OnAppExit);

    QMenu* edit = menuBar()->addMenu(QStringLiteral("編集(&E)"));
    QAction* cut = addCommand(edit, QStringLiteral("切り取り(&T)\tCtrl+X"), QStringLiteral("音声ファイルを切り取ります。\n切り取り"),
                              {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)});
    QAction* copy = addCommand(edit, QStringLiteral("コピー(&C)\tCtrl+C"), QStringLiteral("音声ファイルをコピーします。\nコピー"),
                               {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)});
    QAction* paste = addCommand(edit, QStringLiteral("貼り付け(&P)\tCtrl+V"),
                                QStringLiteral("切り取り/コピーされた音声ファイルを貼り付けます。\n貼り付け"),
                                {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)});
    QAction* selectAll = addCommand(edit, QStringLiteral("すべて選択(&A)\tCtrl+A"),
                                    QStringLiteral("すべての音声ファイルを選択します。\nすべて選択"),
                                    {QKeySequence(Qt::CTRL | Qt::Key_A)}, true);
    connect(selectAll, &QAction::triggered, this, [this] { m_view->SelectAll(); });
    QAction* invert = addCommand(edit, QStringLiteral("選択の切り替え(&I)"), QStringLiteral("選択状態を反転します。\n選択の切り替え"), {}, true);
    connect(invert, &QAction::triggered, this, [this] { m_view->InvertSelection(); });

    QMenu* view = menuBar()->addMenu(QStringLiteral("表示(&V)"));
    // The sort keys work on the recording list, which comes later.
    QMenu* sort = view->addMenu(QStringLiteral("並び替え(&I)"));
    int key = 0;
    for (const char* text : {"名前順(&N)", "録音開始日時順(&S)", "録音時間順(&T)", "サイズ順(&Z)", "モード順(&M)",
                             "保護マーク順(&P)", "インデックス順(&I)", "未再生フラグ順(&F)", "転送フラグ順(&R)", "メモ順(&C)"}) {
        QAction* action = addCommand(sort, QString::fromUtf8(text), {}, {}, true);
        action->setCheckable(true);
        connect(action, &QAction::triggered, this, [this, key] { m_view->setSortKey(key); });
        m_sortKeys.append(action);
        ++key;
    }
    sort->addSeparator();
    QAction* descending = addCommand(sort, QStringLiteral("降順(&L)"), {}, {}, true);
    descending->setCheckable(true);
    connect(descending, &QAction::triggered, this, [this] { m_view->toggleDescending(); });
    // Enabled while the key's column is shown; checked for the key and direction in use.
    connect(sort, &QMenu::aboutToShow, this, [this, descending] {
        for (int i = 0; i < m_sortKeys.size(); ++i) {
            m_sortKeys[i]->setEnabled(m_view->recordings()->columnOfKey(i) >= 0);
            m_sortKeys[i]->setChecked(m_view->sortKey() == i);
        }
        descending->setChecked(m_view->descending());
    });
    QAction* autoWidth = addCommand(view, QStringLiteral("列幅の自動調整(&A)"), QStringLiteral("列の幅を内容に合わせます。\n列幅の自動調整"), {}, true);
    connect(autoWidth, &QAction::triggered, this, [this] { m_view->AutoSizeColumns(); });
    view->addSeparator();
    QAction* find = addCommand(view, QStringLiteral("検索(&F)...\tCtrl+F"), QStringLiteral("音声ファイルを検索します。\n検索"),
                               {QKeySequence(Qt::CTRL | Qt::Key_F)}, true);
    QAction* findPrevious = addCommand(view, QStringLiteral("前を検索(&B)\tShift+F3"), QStringLiteral("前を検索します。\n前を検索"),
                                       {QKeySequence(Qt::SHIFT | Qt::Key_F3)}, true);
    QAction* findNext = addCommand(view, QStringLiteral("次を検索(&N)\tF3"), QStringLiteral("次を検索します。\n次を検索"),
                                   {QKeySequence(Qt::Key_F3)}, true);
    connect(find, &QAction::triggered, this, [this] { m_view->OnFind(); });
    connect(findPrevious, &QAction::triggered, this, [this] { m_view->FindPrevious(); });
    connect(findNext, &QAction::triggered, this, [this] { m_view->FindNext(); });
    view->addSeparator();
    QAction* rebuild = addCommand(view, QStringLiteral("表示リストの再構築(&M)\tF7"),
                                  QStringLiteral("表示リストを再構築します。\n再構築"), {QKeySequence(Qt::Key_F7)});
    connect(rebuild, &QAction::triggered, this, [this] { m_view->Rebuild(); });
    QAction* refresh = addCommand(view, QStringLiteral("最新の状態に更新(&R)\tF5"), QStringLiteral("最新の状態に更新します。\n更新"),
                                  {QKeySequence(Qt::Key_F5)}, true);
    connect(refresh, &QAction::triggered, this, [this] { m_view->RefreshAll(); });

    QMenu* settings = menuBar()->addMenu(QStringLiteral("設定(&S)"));
    QAction* settingsCommand = addCommand(settings, QStringLiteral("設定(&O)..."), QStringLiteral("各機能の設定を行います。\n設定"));
    addCommand(settings, QStringLiteral("装置名(&D)"), QStringLiteral("装置名を登録します。\n装置名"));

    QMenu* help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
    QAction* about = addCommand(help, QStringLiteral("バージョン情報(&A)..."),
                                QStringLiteral("プログラム情報、バージョン、著作権を表示します。\nバージョン情報"), {}, true);
    connect(about, &QAction::triggered, this, [this] {
        CAboutDlg dialog(this);
        dialog.exec();
    });

    // Theme icons where the desktop has them, the style's own otherwise.
    const auto icon = [](const char* theme, QStyle::StandardPixmap fallback) {
        return QIcon::fromTheme(QString::fromLatin1(theme), QApplication::style()->standardIcon(fallback));
    };
    transfer->setIcon(icon("go-down", QStyle::SP_ArrowDown));
    backup->setIcon(icon("document-save", QStyle::SP_DialogSaveButton));
    createFolder->setIcon(icon("folder-new", QStyle::SP_FileDialogNewFolder));
    cut->setIcon(icon("edit-cut", QStyle::SP_DialogDiscardButton));
    copy->setIcon(icon("edit-copy", QStyle::SP_FileDialogContentsView));
    paste->setIcon(icon("edit-paste", QStyle::SP_FileDialogListView));
    remove->setIcon(icon("edit-delete", QStyle::SP_TrashIcon));
    eject->setIcon(icon("media-eject", QStyle::SP_DriveFDIcon));
    find->setIcon(icon("edit-find", QStyle::SP_FileDialogStart));
    findPrevious->setIcon(icon("go-up", QStyle::SP_ArrowUp));
    findNext->setIcon(icon("go-down", QStyle::SP_ArrowDown));
    refresh->setIcon(icon("view-refresh", QStyle::SP_BrowserReload));
    settingsCommand->setIcon(icon("preferences-system", QStyle::SP_FileDialogDetailedView));

    QToolBar* toolbar = addToolBar(QStringLiteral("標準"));
    toolbar->setMovable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolbar->setIconSize(QSize(16, 16));
    for (QAction* action : {transfer, backup, createFolder, cut, copy, paste, remove, eject})
        toolbar->addAction(action);
    toolbar->addSeparator();
    for (QAction* action : {find, findPrevious, findNext, refresh, settingsCommand})
        toolbar->addAction(action);
}

void CMainFrame::updateCommandStates()
{
    // Eject applies to the SD card in a reader only.
    const QTreeWidgetItem* node = m_view->folderTree()->currentItem();
    const int id = node ? node->data(0, kListIdRole).toInt() : 0;
    m_commands.value(QStringLiteral("取り出し(&J)"))->setEnabled(m_document.GetListKind(id) == kListCard);
    m_commands.value(QStringLiteral("表示リストの再構築(&M)"))->setEnabled(m_document.FindList(id) != nullptr);
}

void CMainFrame::onEject()
{
    const auto drive = m_document.GetCardDrive();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ejected = drive && EjectRemovableDrive(*drive);
    QApplication::restoreOverrideCursor();
    if (ejected)
        ShowMessage(QStringLiteral("SDカードは安全に取り外せます。"), MessageIcon::Information);
    else
        ShowMessage(QStringLiteral("SDカードの取り外しに失敗しました。他のアプリケーションで使用している可能性があります。"),
                    MessageIcon::Error);
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
    m_clock->setText(QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")));
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
    if (!m_closeConfirmed && !ConfirmExit()) {
        event->ignore();
        return;
    }
    m_closeConfirmed = true;
    QMainWindow::closeEvent(event);
}

void CMainFrame::closePasswordGate()
{
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
    if (event->type() == QEvent::WindowStateChange) {
        // Leaving the minimized state asks for the password again.
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        if ((change->oldState() & Qt::WindowMinimized) && !(windowState() & Qt::WindowMinimized)
            && m_setting.m_nUsePassword && !m_passwordDlg->isVisible()) {
            m_authenticated = 0;
            QTimer::singleShot(0, this, &CMainFrame::closePasswordGate);
        }
    } else if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_authenticated == 0
               && !m_passwordDlg->isVisible()) {
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
    const qint32 values[11] = {44, 0, showCommand, -1, -1, -1, -1,
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

void CMainFrame::RestorePlacement(QWidget* window)
{
    const QByteArray record = OpenProgramSettings()->value(kPlacementKey).toByteArray();
    if (record.size() != 44 || qFromLittleEndian<qint32>(record.constData()) != 44)
        return;
    const auto value = [&](int i) { return qFromLittleEndian<qint32>(record.constData() + 4 * i); };
    const QRect normal(QPoint(value(7), value(8)), QPoint(value(9) - 1, value(10) - 1));
    if (normal.width() >= window->minimumWidth() && normal.height() >= window->minimumHeight())
        window->setGeometry(normal);
    if (value(2) == 3)
        window->setWindowState(Qt::WindowMaximized);
}

#include "TALVEN77PCView.h"

#include "FolderTreeFill.h"
#include "device/Drives.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramIdentity.h"

#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString kSplitKey = QStringLiteral("Window/Split");
// The control panel's size (559 × 138 dialog units of the original form).
constexpr int kPanelHeight = 224;

class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

CTALVEN77PCView::CTALVEN77PCView(CTALVEN77PCDoc& document, QWidget* parent)
    : QWidget(parent), m_document(document), m_panelArea(new QWidget(this)),
      m_splitter(new QSplitter(Qt::Horizontal, this)), m_tree(new QTreeWidget), m_listArea(new QWidget),
      m_nSplit(OpenProgramSettings()->value(kSplitKey, kSplitMargin).toInt())
{
    m_panelArea->setFixedHeight(kPanelHeight);
    m_tree->setHeaderHidden(true);
    m_tree->setMinimumWidth(kSplitMargin);
    m_listArea->setMinimumWidth(kSplitMargin);
    m_listArea->setBackgroundRole(QPalette::Base);
    m_listArea->setAutoFillBackground(true);
    m_splitter->addWidget(m_tree);
    m_splitter->addWidget(m_listArea);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    layout->addWidget(m_panelArea);
    layout->addWidget(m_splitter, 1);
    m_chooseFolder = [this] {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("保存用フォルダの指定"), QString(),
                                                 QFileDialog::ShowDirsOnly);
    };
    connect(m_splitter, &QSplitter::splitterMoved, this, [this](int position) { m_nSplit = position; });
    connect(m_tree, &QTreeWidget::currentItemChanged, this, &CTALVEN77PCView::onSelectionChanged);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_tree, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QTreeWidgetItem* node = m_tree->itemAt(at);
        if (!node)
            return;
        m_tree->setCurrentItem(node); // selects it first, as a left click would
        if (const auto menu = treeMenuFor(node))
            menu->exec(m_tree->viewport()->mapToGlobal(at));
    });
    m_listArea->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_listArea, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { listMenu()->exec(m_listArea->mapToGlobal(at)); });
}

std::unique_ptr<QMenu> CTALVEN77PCView::treeMenuFor(QTreeWidgetItem* node)
{
    if (!node)
        return nullptr;
    const int kind = m_document.GetListKind(node->data(0, kListIdRole).toInt());
    // Items whose commands are not built yet are shown disabled.
    const auto add = [](QMenu* menu, const QString& text, bool enabled = false) {
        QAction* action = menu->addAction(text);
        action->setEnabled(enabled);
        return action;
    };
    if (kind == kListSaveFolder || (kind == 0 && node->text(0) == kSaveRootLabel)) {
        auto menu = std::make_unique<QMenu>(kSaveRootLabel);
        connect(add(menu.get(), QStringLiteral("展開／折りたたみ"), node->childCount() > 0), &QAction::triggered, this,
                [node] { node->setExpanded(!node->isExpanded()); });
        add(menu.get(), QStringLiteral("貼り付け"));
        add(menu.get(), QStringLiteral("フォルダの作成"));
        add(menu.get(), QStringLiteral("削除"));
        add(menu.get(), QStringLiteral("名前の変更"));
        return menu;
    }
    if (kind == kListRegistered) {
        auto menu = std::make_unique<QMenu>(kOptionRootLabel);
        connect(add(menu.get(), QStringLiteral("フォルダの解放(&F)"), true), &QAction::triggered, this,
                &CTALVEN77PCView::OnReleaseFolder);
        add(menu.get(), QStringLiteral("貼り付け"));
        return menu;
    }
    if (kind == kListCard) {
        auto menu = std::make_unique<QMenu>(kCardRootLabel);
        add(menu.get(), QStringLiteral("保存用フォルダにバックアップ"));
        if (m_eject)
            menu->addAction(m_eject);
        else
            add(menu.get(), QStringLiteral("取り出し"));
        return menu;
    }
    return nullptr;
}

std::unique_ptr<QMenu> CTALVEN77PCView::listMenu()
{
    auto menu = std::make_unique<QMenu>(QStringLiteral("メインペイン"));
    for (const QString& text : {QStringLiteral("再生"), QStringLiteral("切り取り"), QStringLiteral("コピー"),
                                QStringLiteral("貼り付け"), QStringLiteral("削除"), QStringLiteral("名前の変更...")})
        menu->addAction(text)->setEnabled(false); // the recording list comes later
    return menu;
}

CTALVEN77PCView::~CTALVEN77PCView()
{
    OpenProgramSettings()->setValue(kSplitKey, m_nSplit);
}

int CTALVEN77PCView::splitPosition() const
{
    return m_nSplit;
}

void CTALVEN77PCView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // A narrower view pulls the bar in so that the list keeps its 150 pixels.
    const int width = m_splitter->width();
    if (width > kSplitMargin && width - kSplitMargin < m_nSplit)
        m_nSplit = width - kSplitMargin;
    m_splitter->setSizes({m_nSplit, std::max(width - m_nSplit - m_splitter->handleWidth(), kSplitMargin)});
}

void CTALVEN77PCView::OnInitialUpdate()
{
    FillFolderTree(m_tree, BuildFolderTree(m_document));
}

QTreeWidgetItem* CTALVEN77PCView::topRoot() const
{
    return m_tree->topLevelItem(0);
}

QTreeWidgetItem* CTALVEN77PCView::rootLabelled(const QString& label) const
{
    QTreeWidgetItem* top = topRoot();
    for (int i = 0; top && i < top->childCount(); ++i) {
        if (top->child(i)->text(0) == label)
            return top->child(i);
    }
    return nullptr;
}

void CTALVEN77PCView::selectQuietly(QTreeWidgetItem* item)
{
    m_reselecting = true;
    m_tree->setCurrentItem(item);
    m_reselecting = false;
}

void CTALVEN77PCView::onSelectionChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous)
{
    if (m_reselecting || !current)
        return;
    const QString label = current->text(0);
    const int id = current->data(0, kListIdRole).toInt();
    m_nCurrentKind = 0;
    m_document.ClearCurrent();

    if (CFileList* list = id != 0 ? m_document.FindList(id) : nullptr) {
        m_document.SetCurrent(id);
        m_nCurrentKind = list->nKind();
        {
            WaitCursor wait;
            Q_EMIT statusText(QStringLiteral("ファイルリスト構築中...　[%1]").arg(label));
            if (list->nKind() == kListSaveFolder || list->nKind() == kListRegistered)
                list->EnsureScanned();
        }
        Q_EMIT statusText(QStringLiteral("レディ"));
        if ((list->nKind() == kListRecorder || list->nKind() == kListCard) && !IsFolderWritable(list->strFolder())) {
            ShowMessage(list->nKind() == kListRecorder ? QStringLiteral("装置のSDカードが書込み禁止です。確認してください。")
                                                       : QStringLiteral("SDカードが書込み禁止です。確認してください。"),
                        MessageIcon::Warning);
        }
        return;
    }
    if (label == kOptionRootLabel)
        addOptionFolder(previous);
    else if (label == kRecorderRootLabel)
        m_nCurrentKind = kListRecorder;
    else if (label == kSaveRootLabel)
        m_nCurrentKind = kListSaveFolder;
}

void CTALVEN77PCView::addOptionFolder(QTreeWidgetItem* previous)
{
    if (m_document.CountOptionFolders() >= CTALVEN77PCDoc::kMaxOptionFolders) {
        ShowMessage(QStringLiteral("登録できるフォルダ数は%1個までです。これ以上追加できません")
                        .arg(CTALVEN77PCDoc::kMaxOptionFolders),
                    MessageIcon::Error);
        return;
    }
    const QString path = m_chooseFolder();
    if (path.isEmpty()) {
        selectQuietly(previous);
        return;
    }
    WaitCursor wait;
    Q_EMIT statusText(QStringLiteral("追加した任意フォルダ解析中..."));
    if (m_document.RegisterOptionFolder(path)) {
        QTreeWidgetItem* root = rootLabelled(kOptionRootLabel);
        auto* node = new QTreeWidgetItem({path});
        node->setIcon(0, root->icon(0));
        node->setData(0, kListIdRole, m_document.FindOptionFolderId(path).value_or(0));
        root->addChild(node);
        root->setExpanded(true);
        m_tree->setCurrentItem(node); // selects, scans and lists it
    } else {
        selectQuietly(previous);
    }
    Q_EMIT statusText(QStringLiteral("レディ"));
}

void CTALVEN77PCView::OnReleaseFolder()
{
    QTreeWidgetItem* node = m_tree->currentItem();
    if (!node)
        return;
    const int id = node->data(0, kListIdRole).toInt();
    const QString label = node->text(0);
    m_tree->setCurrentItem(topRoot());
    if (m_document.ReleaseOptionFolder(label)) {
        m_document.RemoveList(id);
        delete node;
    }
}

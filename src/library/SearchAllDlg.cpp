#include "SearchAllDlg.h"

#include "ArchivePlaces.h"
#include "FreshSearch.h"
#include "platform/Paths.h"
#include "platform/WaitCursor.h"
#include "recording/RecordingColumns.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// More than a screenful of results says the search needs narrowing.
constexpr int kMostResults = 1000;
constexpr int kTypingPauseMs = 150;
constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kFolderRole = Qt::UserRole + 2;
constexpr int kStartKey = 1;
constexpr int kMemoKey = 9;
enum ResultColumn { kNameColumn, kStartColumn, kMemoColumn, kPlaceColumn };

// Where a result lies keeps both its ends when cut: the place on the left and
// the folder on the right tell results of the same name and time apart.
class MiddleElidingDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideMiddle;
    }
};

} // namespace

SearchAllDlg::SearchAllDlg(PlacesSource places, QWidget* parent)
    : QDialog(parent), m_places(std::move(places)), m_memo(new QLineEdit(this)), m_name(new QLineEdit(this)),
      m_fromBox(new QCheckBox(QStringLiteral("開始日(&S)"), this)), m_from(new QDateEdit(this)),
      m_toBox(new QCheckBox(QStringLiteral("終了日(&E)"), this)), m_to(new QDateEdit(this)),
      m_protected(new QCheckBox(QStringLiteral("プロテクトのみ(&P)"), this)),
      m_unplayed(new QCheckBox(QStringLiteral("未再生のみ(&U)"), this)),
      m_untransferred(new QCheckBox(QStringLiteral("未転送のみ(&T)"), this)), m_results(new QTreeWidget(this)),
      m_count(new QLabel(this)), m_typing(new QTimer(this))
{
    setWindowTitle(QStringLiteral("すべてのフォルダを検索"));
    for (QDateEdit* date : {m_from, m_to}) {
        date->setCalendarPopup(true);
        date->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
        date->setDate(QDate::currentDate());
        date->setEnabled(false);
    }
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("メモ(&M):"), m_memo);
    form->addRow(QStringLiteral("ファイル名(&N):"), m_name);
    auto* dates = new QHBoxLayout;
    dates->addWidget(m_fromBox);
    dates->addWidget(m_from);
    dates->addSpacing(12);
    dates->addWidget(m_toBox);
    dates->addWidget(m_to);
    dates->addStretch();
    form->addRow(QStringLiteral("録音日:"), dates);
    auto* states = new QHBoxLayout;
    states->addWidget(m_protected);
    states->addWidget(m_unplayed);
    states->addWidget(m_untransferred);
    states->addStretch();
    form->addRow(QString(), states);

    m_results->setColumnCount(4);
    m_results->setHeaderLabels({QStringLiteral("ファイル名"), QStringLiteral("録音開始時間"), QStringLiteral("メモ"),
                                QStringLiteral("フォルダ")});
    m_results->setRootIsDecorated(false);
    m_results->setUniformRowHeights(true);
    m_results->header()->setStretchLastSection(true);
    m_results->setItemDelegateForColumn(kPlaceColumn, new MiddleElidingDelegate(m_results));
    m_results->setColumnWidth(kNameColumn, 140);
    m_results->setColumnWidth(kStartColumn, 150);
    m_results->setColumnWidth(kMemoColumn, 220);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* show = buttons->addButton(QStringLiteral("表示(&O)"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("閉じる"), QDialogButtonBox::RejectRole);
    show->setEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_results, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_count, 1);
    bottom->addWidget(buttons);
    layout->addLayout(bottom);
    resize(760, 480);

    m_typing->setSingleShot(true);
    m_typing->setInterval(kTypingPauseMs);
    connect(m_typing, &QTimer::timeout, this, &SearchAllDlg::searchNow);
    const auto later = [this] { m_typing->start(); };
    connect(m_memo, &QLineEdit::textChanged, this, later);
    connect(m_name, &QLineEdit::textChanged, this, later);
    connect(m_from, &QDateEdit::dateChanged, this, later);
    connect(m_to, &QDateEdit::dateChanged, this, later);
    for (QCheckBox* box : {m_protected, m_unplayed, m_untransferred})
        connect(box, &QCheckBox::toggled, this, later);
    connect(m_fromBox, &QCheckBox::toggled, this, [this, later](bool on) {
        m_from->setEnabled(on);
        later();
    });
    connect(m_toBox, &QCheckBox::toggled, this, [this, later](bool on) {
        m_to->setEnabled(on);
        later();
    });
    connect(m_results, &QTreeWidget::itemActivated, this, &SearchAllDlg::choose);
    connect(m_results, &QTreeWidget::currentItemChanged, this,
            [show](QTreeWidgetItem* current) { show->setEnabled(current != nullptr); });
    connect(buttons, &QDialogButtonBox::accepted, this, &SearchAllDlg::choose);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

SearchAllDlg::~SearchAllDlg() = default;

RecordingIndex& SearchAllDlg::index()
{
    if (auto* shared = dynamic_cast<RecordingIndex*>(CurrentScanCache()))
        return *shared;
    if (!m_ownIndex)
        m_ownIndex = std::make_unique<RecordingIndex>();
    return *m_ownIndex;
}

void SearchAllDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    refresh();
    m_memo->setFocus();
}

void SearchAllDlg::refresh()
{
    WaitCursor wait;
    m_covered = m_places ? m_places() : QList<SearchPlace>();
    m_unreadOnOpening = RefreshPlaces(m_covered, index());
    index().forgetGoneFolders();
    searchNow();
}

SearchQuery SearchAllDlg::query() const
{
    SearchQuery query;
    query.memo = m_memo->text();
    query.name = m_name->text();
    if (m_fromBox->isChecked())
        query.from = m_from->date().startOfDay().toSecsSinceEpoch();
    if (m_toBox->isChecked())
        query.to = m_to->date().endOfDay().toSecsSinceEpoch();
    query.protectedOnly = m_protected->isChecked();
    query.unplayedOnly = m_unplayed->isChecked();
    query.untransferredOnly = m_untransferred->isChecked();
    return query;
}

void SearchAllDlg::searchNow()
{
    m_typing->stop();
    const QList<SearchHit> hits = searchFreshly();
    m_results->clear();
    QList<QTreeWidgetItem*> items;
    for (int i = 0; i < hits.size() && i < kMostResults; ++i) {
        const SearchHit& hit = hits[i];
        auto* item = new QTreeWidgetItem(
            QStringList{hit.record.szFileName, RecordRowText(hit.record, kStartKey),
                        RecordRowText(hit.record, kMemoKey), PlaceOfFolderText(hit.folder, m_covered)});
        item->setData(0, kPathRole, hit.record.szFilePath);
        item->setData(0, kFolderRole, hit.folder);
        item->setToolTip(kMemoColumn, item->text(kMemoColumn));
        item->setToolTip(kPlaceColumn, RemoveTrailingSeparator(hit.folder));
        items.append(item);
    }
    m_results->addTopLevelItems(items);
    fitColumns();
    QString count = hits.size() > kMostResults
                        ? QStringLiteral("%1件以上見つかりました。条件を絞り込んでください。").arg(kMostResults)
                        : QStringLiteral("%1件見つかりました。").arg(hits.size());
    if (!m_unread.isEmpty()) {
        count += QStringLiteral("\n他のプログラムが使用中で読み取れなかった録音が%1件あります。").arg(m_unread.size());
        m_count->setToolTip(m_unread.join(u'\n'));
    } else {
        m_count->setToolTip({});
    }
    m_count->setText(count);
}

QList<SearchHit> SearchAllDlg::searchFreshly()
{
    // The places were read when the dialog opened (or on F5). A recording another
    // program wrote to since then no longer matches its entry and would drop out of the
    // answer: its folder is read again and the search made again, a few rounds at most.
    const auto readAgain = [this](const QStringList& folders) {
        QList<SearchPlace> again;
        for (const QString& folder : folders)
            again.append(SearchPlace(folder, false));
        return RefreshPlaces(folders.isEmpty() ? m_covered : again, index());
    };
    const FreshSearchResult found =
        SearchFreshly(index(), query(), m_covered, readAgain, kMostResults + 1, /*placesRead=*/true);
    m_unread = m_unreadOnOpening;
    for (const QString& path : found.unread) {
        if (!m_unread.contains(path))
            m_unread.append(path);
    }
    return found.hits;
}

void SearchAllDlg::fitColumns()
{
    // Name and start as wide as their texts; the memo at most a third of the
    // room, so that where the results lie keeps the rest.
    if (m_results->topLevelItemCount() == 0)
        return;
    m_results->resizeColumnToContents(kNameColumn);
    m_results->resizeColumnToContents(kStartColumn);
    m_results->resizeColumnToContents(kMemoColumn);
    const int mostMemo = m_results->viewport()->width() / 3;
    if (m_results->columnWidth(kMemoColumn) > mostMemo)
        m_results->setColumnWidth(kMemoColumn, mostMemo);
}

void SearchAllDlg::choose()
{
    const QTreeWidgetItem* item = m_results->currentItem();
    if (!item)
        return;
    Q_EMIT recordingChosen(item->data(0, kFolderRole).toString(), item->data(0, kPathRole).toString());
}

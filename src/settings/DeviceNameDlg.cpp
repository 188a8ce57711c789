#include "DeviceNameDlg.h"

#include "DeviceEditDlg.h"
#include "platform/MessageBoxes.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// Rows compare by their three-digit numbers, character by character.
class RegisterRow : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        return QString::compare(text(0), other.text(0), Qt::CaseSensitive) < 0;
    }
};

} // namespace

CDeviceNameDlg::CDeviceNameDlg(QWidget* parent)
    : QDialog(parent), m_list(new QTreeWidget(this)),
      m_runEditDialog([](CDeviceEditDlg& dialog) { return dialog.exec(); })
{
    setWindowTitle(QStringLiteral("装置名"));
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({QStringLiteral("装置番号"), QStringLiteral("装置名")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionsMovable(false);
    m_list->setColumnWidth(0, 60);
    m_list->setColumnWidth(1, 300);
    m_list->setMinimumWidth(60 + 300 + 2 * m_list->frameWidth() + 20);

    auto* side = new QVBoxLayout;
    side->addWidget(addButton(IdAdd, QStringLiteral("追加")));
    side->addWidget(addButton(IdEdit, QStringLiteral("編集")));
    side->addWidget(addButton(IdDelete, QStringLiteral("削除")));
    side->addStretch(1);
    side->addWidget(addButton(IdOk, QStringLiteral("OK")));
    side->addWidget(addButton(IdCancel, QStringLiteral("キャンセル")));
    button(IdOk)->setDefault(true);
    connect(button(IdAdd), &QPushButton::clicked, this, &CDeviceNameDlg::OnAdd);
    connect(button(IdEdit), &QPushButton::clicked, this, &CDeviceNameDlg::OnEdit);
    connect(button(IdDelete), &QPushButton::clicked, this, &CDeviceNameDlg::OnDelete);
    connect(button(IdOk), &QPushButton::clicked, this, &CDeviceNameDlg::accept);
    connect(button(IdCancel), &QPushButton::clicked, this, &CDeviceNameDlg::reject);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &CDeviceNameDlg::OnEdit);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(side);

    // Each stored entry goes in at the top, then the rows are sorted.
    for (const tag_DEVICE_NAME& entry : ReadDeviceNameRegister())
        appendRow(entry, true);
    sortRows();
    enableEditButtons();
}

QPushButton* CDeviceNameDlg::addButton(int controlId, const QString& text)
{
    // Enter presses the button that has the focus, else OK.
    auto* button = new QPushButton(text, this);
    m_buttons[controlId] = button;
    return button;
}

QPushButton* CDeviceNameDlg::button(int controlId) const
{
    const auto found = m_buttons.find(controlId);
    return found != m_buttons.end() ? found->second : nullptr;
}

std::vector<tag_DEVICE_NAME> CDeviceNameDlg::entries() const
{
    std::vector<tag_DEVICE_NAME> rows;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = m_list->topLevelItem(i);
        rows.push_back({row->text(0), row->text(1)});
    }
    return rows;
}

void CDeviceNameDlg::appendRow(const tag_DEVICE_NAME& entry, bool atTop)
{
    auto* row = new RegisterRow(QStringList{entry.strNumber, entry.strName});
    if (atTop)
        m_list->insertTopLevelItem(0, row);
    else
        m_list->addTopLevelItem(row);
}

void CDeviceNameDlg::sortRows()
{
    m_list->sortItems(0, Qt::AscendingOrder);
}

void CDeviceNameDlg::enableEditButtons()
{
    const bool rows = m_list->topLevelItemCount() > 0;
    button(IdEdit)->setEnabled(rows);
    button(IdDelete)->setEnabled(rows);
}

void CDeviceNameDlg::OnAdd()
{
    tag_DEVICE_NAME entry;
    for (;;) {
        CDeviceEditDlg edit(CDeviceEditDlg::ModeAdd, entry.strNumber, entry.strName, this);
        if (m_runEditDialog(edit) != QDialog::Accepted)
            return;
        entry = {edit.number(), edit.name()};
        const std::vector<tag_DEVICE_NAME> rows = entries();
        const bool taken = std::any_of(rows.begin(), rows.end(),
                                       [&](const tag_DEVICE_NAME& row) { return row.strNumber == entry.strNumber; });
        if (!taken)
            break;
        ShowMessage(QStringLiteral("装置番号が重複しています。"), MessageIcon::Error);
    }
    appendRow(entry, false);
    sortRows();
    enableEditButtons();
}

void CDeviceNameDlg::OnEdit()
{
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty()) {
        ShowMessage(QStringLiteral("編集するアイテムを選択してください"), MessageIcon::Information);
        return;
    }
    QTreeWidgetItem* row = selected.first();
    CDeviceEditDlg edit(CDeviceEditDlg::ModeEdit, row->text(0), row->text(1), this);
    if (m_runEditDialog(edit) != QDialog::Accepted)
        return;
    row->setText(0, edit.number());
    row->setText(1, edit.name());
}

void CDeviceNameDlg::OnDelete()
{
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty()) {
        ShowMessage(QStringLiteral("削除するアイテムを選択してください"), MessageIcon::Information);
        return;
    }
    delete selected.first();
    // No other row takes the selection over.
    m_list->clearSelection();
}

void CDeviceNameDlg::accept()
{
    if (!WriteDeviceNameRegister(entries())) {
        ShowMessage(QStringLiteral("装置名を保存できませんでした。設定ファイルに書き込めません。"), MessageIcon::Error);
        return;
    }
    QDialog::accept();
}

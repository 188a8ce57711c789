#include "TransferRecordDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

TransferRecordDlg::TransferRecordDlg(const QList<TransferRecordEntry>& entries, QWidget* parent)
    : QDialog(parent), m_table(new QTableWidget(int(entries.size()), kColumnCount, this))
{
    setWindowTitle(QStringLiteral("転送履歴"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("日時"), QStringLiteral("装置番号"), QStringLiteral("転送元"),
                                        QStringLiteral("転送先"), QStringLiteral("サイズ"), QStringLiteral("照合"),
                                        QStringLiteral("転送済み")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideMiddle);
    m_table->verticalHeader()->hide();
    const QLocale locale(QLocale::Japanese);
    for (int row = 0; row < int(entries.size()); ++row) {
        const TransferRecordEntry& e = entries[row];
        const QStringList texts{e.time.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")),
                                e.recorderNumber > 0 ? QStringLiteral("%1").arg(e.recorderNumber, 3, 10, QLatin1Char('0')) : QString(),
                                e.source, e.destination, locale.toString(qlonglong(e.size)),
                                e.verified ? QStringLiteral("済") : QStringLiteral("-"),
                                e.marked ? QStringLiteral("済") : QStringLiteral("-")};
        for (int column = 0; column < texts.size(); ++column) {
            auto* item = new QTableWidgetItem(texts[column]);
            if (column == kSource || column == kDestination)
                item->setToolTip(texts[column]);
            m_table->setItem(row, column, item);
        }
    }
    QHeaderView* header = m_table->horizontalHeader();
    for (int column = 0; column < kColumnCount; ++column)
        header->setSectionResizeMode(column, column == kSource || column == kDestination ? QHeaderView::Stretch
                                                                                          : QHeaderView::ResizeToContents);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("閉じる"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(900, 400);
}

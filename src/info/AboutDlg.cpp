#include "AboutDlg.h"

#include "SystemInfo.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_table(new QTableWidget(this))
{
    setWindowTitle(QStringLiteral("バージョン情報"));
    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::style()->standardIcon(QStyle::SP_MediaVolume).pixmap(32));
    auto* texts = new QVBoxLayout;
    for (int selector = 0; selector < 3; ++selector)
        texts->addWidget(new QLabel(GetVersionText(selector), this));
    auto* head = new QHBoxLayout;
    head->addWidget(icon, 0, Qt::AlignTop);
    head->addLayout(texts, 1);

    const QStringList labels = SystemInfoLabels();
    const QStringList values = SystemInfoValues();
    m_table->setColumnCount(2);
    m_table->setRowCount(int(labels.size()));
    m_table->setHorizontalHeaderLabels({QStringLiteral("Environment"), QStringLiteral("Information")});
    m_table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_table->verticalHeader()->hide();
    m_table->setColumnWidth(0, 140);
    m_table->setColumnWidth(1, 320);
    m_table->setShowGrid(true);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int row = 0; row < labels.size(); ++row) {
        m_table->setItem(row, 0, new QTableWidgetItem(labels[row]));
        m_table->setItem(row, 1, new QTableWidgetItem(values.value(row)));
    }
    m_table->setMinimumWidth(140 + 320 + 24);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addWidget(m_table, 1);
    layout->addWidget(buttons);
    resize(520, 520);
}

#include "FindDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

bool lessIgnoringCase(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) < 0;
}

} // namespace

CFindDlg::CFindDlg(QWidget* parent)
    : QDialog(parent), m_text(new QComboBox(this)), m_previous(new QPushButton(QStringLiteral("前を検索"), this)),
      m_next(new QPushButton(QStringLiteral("次を検索"), this)), m_fileName(new QRadioButton(QStringLiteral("ファイル名"))),
      m_memo(new QRadioButton(QStringLiteral("メモ"))), m_exact(new QCheckBox(QStringLiteral("完全一致のみ")))
{
    setWindowTitle(QStringLiteral("検索"));
    m_text->setEditable(true);
    m_text->setInsertPolicy(QComboBox::NoInsert);
    // The search text is what the user typed. The editable box's completion
    // ignores case: it would turn "ABC" into the history's "abc" once the field
    // loses the focus, and case matters to the search.
    m_text->setCompleter(nullptr);
    m_text->lineEdit()->setMaxLength(256);
    m_text->setMinimumWidth(260);
    auto* cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    m_next->setDefault(true);
    auto* conditions = new QGroupBox(QStringLiteral("検索条件"), this);
    auto* conditionLayout = new QVBoxLayout(conditions);
    conditionLayout->addWidget(m_fileName);
    conditionLayout->addWidget(m_memo);
    conditionLayout->addWidget(m_exact);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_previous);
    buttons->addWidget(m_next);
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto* left = new QVBoxLayout;
    left->addWidget(m_text);
    left->addWidget(conditions);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(buttons);

    connect(m_text, &QComboBox::editTextChanged, this, &CFindDlg::updateButtons);
    connect(m_previous, &QPushButton::clicked, this, [this] { finish(Previous); });
    connect(m_next, &QPushButton::clicked, this, [this] { finish(Next); });
    connect(cancel, &QPushButton::clicked, this, &CFindDlg::reject);
}

void CFindDlg::prepare(const QString& text, int target, bool exact)
{
    m_text->clear();
    m_text->addItems(m_history);
    m_text->setEditText(text);
    m_text->lineEdit()->selectAll();
    (target == 1 ? m_memo : m_fileName)->setChecked(true);
    m_exact->setChecked(exact);
    updateButtons();
}

QString CFindDlg::text() const
{
    return m_text->lineEdit()->text();
}

int CFindDlg::target() const
{
    return m_memo->isChecked() ? 1 : 0;
}

bool CFindDlg::exact() const
{
    return m_exact->isChecked();
}

void CFindDlg::updateButtons()
{
    const bool any = !m_text->currentText().isEmpty();
    m_previous->setEnabled(any);
    m_next->setEnabled(any);
}

void CFindDlg::finish(Result result)
{
    const QString searched = text();
    bool known = false;
    for (int i = 0; i < m_text->count(); ++i)
        known = known || m_text->itemText(i).compare(searched, Qt::CaseInsensitive) == 0;
    QStringList entries;
    for (int i = 0; i < m_text->count(); ++i)
        entries.append(m_text->itemText(i));
    if (!known)
        entries.append(searched);
    std::stable_sort(entries.begin(), entries.end(), lessIgnoringCase);
    m_history = entries;
    done(result);
}

void CFindDlg::reject()
{
    QStringList entries;
    for (int i = 0; i < m_text->count(); ++i)
        entries.append(m_text->itemText(i));
    m_history = entries;
    done(Cancel);
}

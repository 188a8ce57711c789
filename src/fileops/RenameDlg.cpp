#include "RenameDlg.h"

#include "platform/MessageBoxes.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

CRenameDlg::CRenameDlg(const QString& name, QWidget* parent)
    : QDialog(parent), m_field(new QLineEdit(name, this)),
      m_okButton(new QPushButton(QStringLiteral("OK"), this)),
      m_cancelButton(new QPushButton(QStringLiteral("キャンセル"), this))
{
    setWindowTitle(QStringLiteral("名前の変更"));
    setModal(true);
    m_field->selectAll();
    m_field->setMinimumWidth(m_field->fontMetrics().averageCharWidth() * 40);
    m_okButton->setDefault(true);
    connect(m_okButton, &QPushButton::clicked, this, &CRenameDlg::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &CRenameDlg::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_okButton);
    buttons->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("変更する名前を入力してください。"), this));
    layout->addWidget(m_field);
    layout->addLayout(buttons);
    // The sizes are settled before the window exists: it opens at its final size.
    layout->activate();
    m_field->setFocus();
}

QString CRenameDlg::newName() const
{
    return m_field->text();
}

bool CRenameDlg::HasForbiddenCharacter(const QString& name)
{
    static const QString forbidden = QStringLiteral("\"\\*,:;<>/?|");
    return std::any_of(name.cbegin(), name.cend(), [](QChar c) { return forbidden.contains(c); });
}

void CRenameDlg::accept()
{
    if (HasForbiddenCharacter(newName())) {
        ShowMessage(QStringLiteral("フォルダ名に次の11文字は使用できません。\n\t\" \\ * , : ; < > / ? |"),
                    MessageIcon::Error);
        m_field->setFocus();
        return;
    }
    QDialog::accept();
}

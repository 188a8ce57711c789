#include "DeviceEditDlg.h"

#include "platform/Cp932.h"
#include "platform/MessageBoxes.h"
#include "widgets/EditEx.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolTip>

namespace {

QString threeDigits(int number)
{
    return QString::asprintf("%03d", number);
}

} // namespace

CDeviceEditDlg::CDeviceEditDlg(int mode, const QString& number, const QString& name, QWidget* parent)
    : QDialog(parent), m_nMode(mode), m_strNumber(number), m_strName(name), m_number(new CEditEx(IdNumber, this)),
      m_name(new CEditEx(IdName, this)),
      m_digits(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this))
{
    setWindowTitle(mode == ModeAdd ? QStringLiteral("装置名の追加") : QStringLiteral("装置名の編集"));
    m_number->setSingleLine(true);
    m_number->setValidator(m_digits);
    m_name->setSingleLine(true);
    m_name->setByteLimit(kNameBytes);
    m_number->RecreateFontForScreen();
    m_name->RecreateFontForScreen();
    m_name->setMinimumWidth(m_name->fontMetrics().horizontalAdvance(QLatin1Char('W')) * kNameBytes);
    m_number->setText(number);
    m_name->setText(name);
    if (mode == ModeEdit) {
        m_number->setReadOnly(true);
        m_number->setEnabled(false);
        m_number->SetReadOnlyLook();
    }
    for (CEditEx* field : {m_number, m_name}) {
        connect(field, &CEditEx::commit, this, [this](int controlId, bool) { onCommit(controlId); });
        connect(field, &CEditEx::inputRefused, this, [field](int, const QString& reason) {
            if (!reason.isEmpty())
                QToolTip::showText(field->mapToGlobal(QPoint(0, field->height())), reason, field);
        });
    }

    auto* numberLabel = new QLabel(QStringLiteral("装置番号\n(001 - 999)"), this);
    auto* nameLabel = new QLabel(QStringLiteral("装置名"), this);
    numberLabel->setBuddy(m_number);
    nameLabel->setBuddy(m_name);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
    buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &CDeviceEditDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CDeviceEditDlg::reject);

    auto* grid = new QGridLayout(this);
    grid->addWidget(numberLabel, 0, 0);
    grid->addWidget(m_number, 0, 1, Qt::AlignLeft);
    grid->addWidget(nameLabel, 1, 0);
    grid->addWidget(m_name, 1, 1);
    grid->addWidget(buttons, 2, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    (mode == ModeAdd ? m_number : m_name)->setFocus();
}

void CDeviceEditDlg::onCommit(int controlId)
{
    if (controlId == IdNumber)
        m_number->setText(threeDigits(m_number->text().toInt()));
    else
        m_strName = m_name->text();
}

void CDeviceEditDlg::refuse(CEditEx* field, const QString& message)
{
    ShowMessage(message, MessageIcon::Warning);
    field->setFocus();
}

void CDeviceEditDlg::accept()
{
    // Digits only: anything else (or nothing) reads as 0.
    const int number = m_number->text().toInt();
    if (number == 0) {
        refuse(m_number, QStringLiteral("装置番号を入力してください"));
        return;
    }
    m_strNumber = threeDigits(number);
    m_number->setText(m_strNumber);

    m_strName = m_name->text();
    const Cp932Encoding encoded = UnicodeToCp932(m_strName, kNameBytes);
    if (encoded.error == Cp932Encoding::Error::TooLong) {
        refuse(m_name, QStringLiteral("装置名は半角20文字以内で入力してください"));
        return;
    }
    if (!encoded.ok()) {
        refuse(m_name, encoded.message());
        return;
    }
    if (m_strName.isEmpty()) {
        refuse(m_name, QStringLiteral("装置名を入力してください"));
        return;
    }
    QDialog::accept();
}

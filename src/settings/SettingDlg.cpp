#include "SettingDlg.h"

#include "platform/Cp932.h"
#include "platform/MessageBoxes.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const char* const kColumnTexts[CSetting::kDisplayItems] = {
    "名前", "録音開始時間", "録音時間", "サイズ", "モード", "保護", "インデックス", "再生済", "転送済", "メモ",
};

// The folder's path as the platform writes it, without a trailing separator
// except for a root.
QString chooseFolder(QWidget* owner, const QString& current)
{
    const QString chosen = QFileDialog::getExistingDirectory(owner, QStringLiteral("保存用フォルダの指定"), current,
                                                             QFileDialog::ShowDirsOnly);
    return chosen.isEmpty() ? chosen : QDir::toNativeSeparators(QDir::cleanPath(chosen));
}

} // namespace

CSettingDlg::CSettingDlg(const CSetting& setting, QWidget* parent)
    : QDialog(parent), m_savePath(new QLineEdit(this)), m_password(new QLineEdit(this)),
      m_confirmPassword(new QLineEdit(this)), m_chooseFolder(chooseFolder)
{
    setWindowTitle(QStringLiteral("設定"));
    m_fields.savePath = setting.m_strSavePath;
    m_fields.password = setting.m_strPassword;
    m_fields.confirmPassword = setting.m_strPassword;
    for (int n = 0; n < CSetting::kDisplayItems; ++n)
        m_fields.displayItems[size_t(n)] = setting.m_nDisplayItem[n] != 0;
    m_fields.showRowNumber = setting.m_nNumber != 0;
    m_fields.autoUsb = setting.m_nAutoUsb != 0;
    m_fields.usePassword = setting.m_nUsePassword != 0;

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(addButton(IdInitialise, QStringLiteral("初期化")));
    buttons->addStretch(1);
    buttons->addWidget(addButton(IdOk, QStringLiteral("OK")));
    buttons->addWidget(addButton(IdCancel, QStringLiteral("キャンセル")));
    connect(button(IdInitialise), &QPushButton::clicked, this, &CSettingDlg::initialise);
    connect(button(IdOk), &QPushButton::clicked, this, &CSettingDlg::accept);
    connect(button(IdCancel), &QPushButton::clicked, this, &CSettingDlg::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buildListGroup());
    layout->addWidget(buildSaveFolderGroup());
    layout->addWidget(buildTransferGroup());
    layout->addWidget(buildSecurityGroup());
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // The keyboard goes through the groups from the top, each box before the fields it enables.
    QList<QWidget*> order{checkBox(IdRowNumber)};
    for (int n = 0; n < CSetting::kDisplayItems; ++n)
        order.append(checkBox(IdFirstDisplayItem + n));
    order += {m_savePath, button(IdBrowse), checkBox(IdAutoUsb), checkBox(IdUsePassword), m_password,
              m_confirmPassword, button(IdInitialise), button(IdOk), button(IdCancel)};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    checkBox(IdRowNumber)->setFocus();

    RefreshSettingControls();
}

QPushButton* CSettingDlg::addButton(int controlId, const QString& text)
{
    auto* button = new QPushButton(text, this);
    // No button answers Enter: the dialog has no default action.
    button->setAutoDefault(false);
    m_buttons[controlId] = button;
    return button;
}

QCheckBox* CSettingDlg::addCheckBox(int controlId, const QString& text, bool& bound)
{
    auto* box = new QCheckBox(text, this);
    m_checkBoxes[controlId] = box;
    if (controlId == IdUsePassword) {
        connect(box, &QCheckBox::clicked, this, &CSettingDlg::toggleUsePassword);
    } else {
        connect(box, &QCheckBox::clicked, this, [this, &bound] {
            bound = !bound;
            RefreshSettingControls();
        });
    }
    return box;
}

QWidget* CSettingDlg::buildListGroup()
{
    auto* group = new QGroupBox(QStringLiteral("リスト表示項目"), this);
    auto* grid = new QGridLayout(group);
    grid->addWidget(addCheckBox(IdRowNumber, QStringLiteral("行番号"), m_fields.showRowNumber), 0, 0);
    for (int n = 0; n < CSetting::kDisplayItems; ++n) {
        const int cell = n + 1;
        grid->addWidget(addCheckBox(IdFirstDisplayItem + n, QString::fromUtf8(kColumnTexts[n]),
                                    m_fields.displayItems[size_t(n)]),
                        cell / 4, cell % 4);
    }
    return group;
}

QWidget* CSettingDlg::buildSaveFolderGroup()
{
    auto* group = new QGroupBox(QStringLiteral("保存用フォルダ"), this);
    auto* row = new QHBoxLayout(group);
    m_savePath->setReadOnly(true);
    m_savePath->setMinimumWidth(320);
    row->addWidget(m_savePath, 1);
    row->addWidget(addButton(IdBrowse, QStringLiteral("参照")));
    connect(button(IdBrowse), &QPushButton::clicked, this, &CSettingDlg::browse);
    return group;
}

QWidget* CSettingDlg::buildTransferGroup()
{
    auto* group = new QGroupBox(QStringLiteral("USB転送"), this);
    auto* row = new QHBoxLayout(group);
    row->addWidget(addCheckBox(IdAutoUsb, QStringLiteral("USB自動転送"), m_fields.autoUsb));
    return group;
}

QWidget* CSettingDlg::buildSecurityGroup()
{
    auto* group = new QGroupBox(QStringLiteral("システムセキュリティ"), this);
    auto* grid = new QGridLayout(group);
    grid->addWidget(addCheckBox(IdUsePassword, QStringLiteral("パスワード認証を行う"), m_fields.usePassword), 0, 0, 1, 2);
    for (QLineEdit* edit : {m_password, m_confirmPassword}) {
        edit->setEchoMode(QLineEdit::Password);
        edit->setMaxLength(CSetting::kPasswordCharacters);
    }
    auto* passwordLabel = new QLabel(QStringLiteral("パスワード"), group);
    auto* confirmLabel = new QLabel(QStringLiteral("パスワードの確認"), group);
    passwordLabel->setBuddy(m_password);
    confirmLabel->setBuddy(m_confirmPassword);
    grid->addWidget(passwordLabel, 1, 0);
    grid->addWidget(m_password, 1, 1);
    grid->addWidget(confirmLabel, 2, 0);
    grid->addWidget(m_confirmPassword, 2, 1);
    return group;
}

QCheckBox* CSettingDlg::checkBox(int controlId) const
{
    const auto found = m_checkBoxes.find(controlId);
    return found != m_checkBoxes.end() ? found->second : nullptr;
}

QLineEdit* CSettingDlg::field(int controlId) const
{
    switch (controlId) {
    case IdSavePath:
        return m_savePath;
    case IdPassword:
        return m_password;
    case IdConfirmPassword:
        return m_confirmPassword;
    default:
        return nullptr;
    }
}

QPushButton* CSettingDlg::button(int controlId) const
{
    const auto found = m_buttons.find(controlId);
    return found != m_buttons.end() ? found->second : nullptr;
}

void CSettingDlg::RefreshSettingControls()
{
    m_savePath->setText(m_fields.savePath);
    m_password->setText(m_fields.password);
    m_confirmPassword->setText(m_fields.confirmPassword);
    for (int n = 0; n < CSetting::kDisplayItems; ++n)
        checkBox(IdFirstDisplayItem + n)->setChecked(m_fields.displayItems[size_t(n)]);
    // The name column is always shown.
    checkBox(IdFirstDisplayItem)->setEnabled(false);
    checkBox(IdRowNumber)->setChecked(m_fields.showRowNumber);
    checkBox(IdAutoUsb)->setChecked(m_fields.autoUsb);
    checkBox(IdUsePassword)->setChecked(m_fields.usePassword);
    m_password->setEnabled(m_fields.usePassword);
    m_confirmPassword->setEnabled(m_fields.usePassword);
}

void CSettingDlg::toggleUsePassword()
{
    // The box shows the value, not the click, while the question is asked.
    checkBox(IdUsePassword)->setChecked(m_fields.usePassword);
    if (!m_fields.usePassword) {
        m_fields.usePassword = true;
    } else if (AskYesNo(QStringLiteral("パスワード認証を無効にするとパスワードがクリアされます。\n"
                                       "パスワード認証を無効にしますか？"))) {
        m_fields.password.clear();
        m_fields.confirmPassword.clear();
        m_fields.usePassword = false;
    }
    RefreshSettingControls();
}

void CSettingDlg::browse()
{
    const QString chosen = m_chooseFolder(this, m_fields.savePath);
    if (chosen.isEmpty())
        return;
    m_fields.savePath = chosen;
    RefreshSettingControls();
}

void CSettingDlg::initialise()
{
    if (!AskYesNo(QStringLiteral("システム設定を初期値に戻します。よろしいですか？")))
        return;
    m_fields.savePath = CSetting::DefaultSavePath();
    m_fields.password.clear();
    m_fields.confirmPassword.clear();
    m_fields.displayItems.fill(true);
    m_fields.showRowNumber = true;
    m_fields.autoUsb = false;
    m_fields.usePassword = false;
    RefreshSettingControls();
}

bool CSettingDlg::refusePassword(const QString& message)
{
    ShowMessage(message, MessageIcon::Warning);
    m_password->setFocus();
    return false;
}

void CSettingDlg::accept()
{
    m_fields.password = m_password->text();
    m_fields.confirmPassword = m_confirmPassword->text();
    if (m_fields.usePassword) {
        if (m_fields.password.isEmpty()) {
            refusePassword(QStringLiteral("パスワードが未入力です。"));
            return;
        }
        if (!SamePassword(m_fields.confirmPassword, m_fields.password)) {
            refusePassword(QStringLiteral("パスワードと確認用パスワードが一致しません。"));
            return;
        }
        // The password is stored in the recorder's code page: a character it
        // cannot hold would be lost and the password with it.
        const Cp932Encoding encoded = UnicodeToCp932(m_fields.password);
        if (!encoded.ok()) {
            refusePassword(QStringLiteral("パスワードに使用できない文字が含まれています。\n") + encoded.message());
            return;
        }
    }
    QDialog::accept();
}

void CSettingDlg::takeValues(CSetting& setting) const
{
    setting.m_strSavePath = m_fields.savePath;
    setting.m_strPassword = m_fields.password;
    for (int n = 0; n < CSetting::kDisplayItems; ++n)
        setting.m_nDisplayItem[n] = m_fields.displayItems[size_t(n)] ? 1 : 0;
    setting.m_nNumber = m_fields.showRowNumber ? 1 : 0;
    setting.m_nAutoUsb = m_fields.autoUsb ? 1 : 0;
    setting.m_nUsePassword = m_fields.usePassword ? 1 : 0;
}

void CSettingDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

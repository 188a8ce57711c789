#include "PasswordDlg.h"

#include "platform/MessageBoxes.h"
#include "settings/Setting.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CPasswordDlg::CPasswordDlg(const QString& password, int& authenticated, QWidget* mainWindow, QWidget* parent)
    : QDialog(parent), m_password(password), m_authenticated(authenticated), m_mainWindow(mainWindow),
      m_edit(new QLineEdit(this))
{
    // The caption's spelling is the product's own.
    setWindowTitle(QStringLiteral("TELVEN-77-PC Player パスワード"));
    m_edit->setEchoMode(QLineEdit::Password);
    m_edit->setMaxLength(CSetting::kPasswordCharacters);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QDialogButtonBox::Ok);
    buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CPasswordDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CPasswordDlg::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("パスワードを入力してください"), this));
    layout->addWidget(m_edit);
    layout->addWidget(buttons);
}

void CPasswordDlg::resetEdit()
{
    m_edit->clear();
    m_edit->setFocus();
}

void CPasswordDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    raise();
    activateWindow();
    resetEdit();
}

bool CPasswordDlg::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        resetEdit();
    return QDialog::event(event);
}

void CPasswordDlg::showMainWindow(bool minimized)
{
    if (!m_mainWindow)
        return;
    // A maximized window comes back maximized.
    const Qt::WindowStates others = m_mainWindow->windowState() & ~Qt::WindowMinimized;
    m_mainWindow->setWindowState(minimized ? others | Qt::WindowMinimized : others);
    m_mainWindow->show();
    if (!minimized) {
        m_mainWindow->raise();
        m_mainWindow->activateWindow();
    }
}

void CPasswordDlg::accept()
{
    const QString entered = m_edit->text();
    m_authenticated = 0;
    if (SamePassword(entered, m_password)) {
        m_authenticated = 1;
        showMainWindow(false);
        QDialog::accept();
        return;
    }
    if (++m_wrongEntries < 3) {
        ShowMessage(QStringLiteral("パスワードが違います。"), MessageIcon::Warning);
        resetEdit();
        return;
    }
    ShowMessage(QStringLiteral("パスワード認証失敗"), MessageIcon::Error);
    showMainWindow(true);
    QDialog::reject();
}

void CPasswordDlg::reject()
{
    showMainWindow(true);
    QDialog::reject();
}

bool ConfirmExit()
{
    return AskYesNo(QStringLiteral("アプリケーションを終了しますか？"), MessageIcon::Question);
}

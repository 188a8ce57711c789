#pragma once

#include <QDialog>
#include <QPointer>

class QLineEdit;
class QWidget;

// Asks for the start-up password. Three wrong entries in the dialog's life
// end it with Cancel; a dialog kept for the whole run keeps its count, so once
// it has reached three every wrong entry ends it at once.
class CPasswordDlg : public QDialog
{
    Q_OBJECT

public:
    // password: the settings' password, read at each entry (it may change while
    // the program runs); authenticated: the application's flag, set to 1 on a
    // right entry and 0 otherwise. Both must outlive the dialog.
    CPasswordDlg(const QString& password, int& authenticated, QWidget* mainWindow, QWidget* parent = nullptr);

    int wrongEntries() const { return m_wrongEntries; }
    QLineEdit* edit() const { return m_edit; }

    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void showMainWindow(bool minimized);
    void resetEdit();

    const QString& m_password;
    int& m_authenticated;
    QPointer<QWidget> m_mainWindow;
    QLineEdit* m_edit;
    int m_wrongEntries = 0;
};

// Asks whether to quit; false only when the user answers No.
bool ConfirmExit();

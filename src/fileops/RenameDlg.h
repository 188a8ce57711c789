#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

// "名前の変更": asks for a new name of a recording or a folder, the old one
// selected. OK refuses a name with a character that no file name may hold.
class CRenameDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CRenameDlg(const QString& name, QWidget* parent = nullptr);

    QString newName() const;
    QLineEdit* field() const { return m_field; }
    QPushButton* okButton() const { return m_okButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

    // True when the text holds one of the eleven characters " \ * , : ; < > / ? |
    static bool HasForbiddenCharacter(const QString& name);

    // With a forbidden character: says which characters are refused (error box)
    // and stays open with the focus in the field; else closes with OK.
    void accept() override;

private:
    QLineEdit* m_field;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;
};

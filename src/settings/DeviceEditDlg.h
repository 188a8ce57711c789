#pragma once

#include <QDialog>

class CEditEx;
class QValidator;

// "装置名の追加" / "装置名の編集": one entry of the recorder-name register. The
// number (digits only, at most three) is shown "%03d" once editing it ends;
// it cannot be changed when an entry is edited. OK checks both fields.
class CDeviceEditDlg : public QDialog
{
    Q_OBJECT

public:
    enum Mode { ModeAdd = 0, ModeEdit = 1 };
    enum Control { IdNumber = 1041, IdName = 1042 };
    static constexpr int kNameBytes = 20;

    CDeviceEditDlg(int mode, const QString& number, const QString& name, QWidget* parent = nullptr);

    int mode() const { return m_nMode; }
    // After OK: the number as three digits, and the name.
    QString number() const { return m_strNumber; }
    QString name() const { return m_strName; }

    CEditEx* numberField() const { return m_number; }
    CEditEx* nameField() const { return m_name; }

    void accept() override;

private:
    void onCommit(int controlId);
    void refuse(CEditEx* field, const QString& message);

    int m_nMode;
    QString m_strNumber;
    QString m_strName;
    CEditEx* m_number;
    CEditEx* m_name;
    QValidator* m_digits;
};

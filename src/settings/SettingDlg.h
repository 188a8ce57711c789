#pragma once

#include "Setting.h"

#include <QDialog>
#include <array>
#include <functional>
#include <map>

class QCheckBox;
class QLineEdit;
class QPushButton;

// "設定": the list's columns, the save folder, automatic USB transfer and the
// start-up password. The dialog edits its own copy of the values; nothing
// outside changes unless it ends with OK. Its check boxes toggle the value
// they stand for and then every control is shown again from the values, so
// a password typed but not yet confirmed with OK is replaced by the stored
// one. Enter does nothing; only the OK button accepts.
class CSettingDlg : public QDialog
{
    Q_OBJECT

public:
    // Control identifiers of the dialog's form, by which tests find them.
    enum Control {
        IdBrowse = 1021,
        IdInitialise = 1022,
        IdOk = 1023,
        IdCancel = 2,
        IdSavePath = 1041,
        IdPassword = 1042,
        IdConfirmPassword = 1043,
        IdRowNumber = 1071,
        IdFirstDisplayItem = 1072, // 1072 to 1081, the ten columns
        IdAutoUsb = 1082,
        IdUsePassword = 1083,
    };

    struct Fields
    {
        QString savePath;
        QString password;
        QString confirmPassword;
        std::array<bool, CSetting::kDisplayItems> displayItems{};
        bool showRowNumber = true;
        bool autoUsb = false;
        bool usePassword = false;
    };

    explicit CSettingDlg(const CSetting& setting, QWidget* parent = nullptr);

    const Fields& fields() const { return m_fields; }
    // Copies the dialog's values into the settings (after OK).
    void takeValues(CSetting& setting) const;

    // Shows the values in the controls.
    void RefreshSettingControls();

    // How "参照" asks for a folder: the owner and the folder preselected; an
    // empty text when cancelled. Tests replace it.
    using FolderChooser = std::function<QString(QWidget* owner, const QString& current)>;
    void setFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }

    QCheckBox* checkBox(int controlId) const;
    QLineEdit* field(int controlId) const;
    QPushButton* button(int controlId) const;

    // The OK button: the typed passwords are taken and checked first.
    void accept() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* buildListGroup();
    QWidget* buildSaveFolderGroup();
    QWidget* buildTransferGroup();
    QWidget* buildSecurityGroup();
    QCheckBox* addCheckBox(int controlId, const QString& text, bool& bound);
    QPushButton* addButton(int controlId, const QString& text);
    void toggleUsePassword();
    void browse();
    void initialise();
    bool refusePassword(const QString& message);

    Fields m_fields;
    std::map<int, QCheckBox*> m_checkBoxes;
    std::map<int, QPushButton*> m_buttons;
    QLineEdit* m_savePath;
    QLineEdit* m_password;
    QLineEdit* m_confirmPassword;
    FolderChooser m_chooseFolder;
};

#pragma once

#include "DeviceNameRegister.h"

#include <QDialog>
#include <functional>
#include <map>
#include <vector>

class CDeviceEditDlg;
class QPushButton;
class QTreeWidget;

// "装置名": the recorder-name register as a list of numbers and names, kept in
// ascending order of number, with add, edit and delete. Nothing is stored
// until OK, which writes the list as it stands; cancel loses every change.
class CDeviceNameDlg : public QDialog
{
    Q_OBJECT

public:
    enum Control { IdList = 1032, IdAdd = 1021, IdEdit = 1022, IdDelete = 1023, IdOk = 1, IdCancel = 2 };

    explicit CDeviceNameDlg(QWidget* parent = nullptr);

    // The entries in list order.
    std::vector<tag_DEVICE_NAME> entries() const;

    // How the add and edit dialog is run (modally by default); tests answer it themselves.
    using EditDialogRunner = std::function<int(CDeviceEditDlg&)>;
    void setEditDialogRunner(EditDialogRunner runner) { m_runEditDialog = std::move(runner); }

    QTreeWidget* list() const { return m_list; }
    QPushButton* button(int controlId) const;

    void OnAdd();
    void OnEdit();
    void OnDelete();
    // Writes the register; stays open when the store cannot be written.
    void accept() override;

private:
    QPushButton* addButton(int controlId, const QString& text);
    void appendRow(const tag_DEVICE_NAME& entry, bool atTop);
    void sortRows();
    void enableEditButtons();

    QTreeWidget* m_list;
    std::map<int, QPushButton*> m_buttons;
    EditDialogRunner m_runEditDialog;
};

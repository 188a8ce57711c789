#pragma once

#include <QDialog>
#include <array>
#include <cstdint>

class QButtonGroup;
class QLabel;
class QPushButton;
class QRadioButton;

// "上書き確認": a file of the same name exists at the destination. Shows the
// name and, for both files, the creation time, the recording length and the
// size, and asks whether to overwrite, rename automatically or skip; "以降すべて"
// answers the same for the files that follow. OK is the default button.
class COverWriteDlg : public QDialog
{
    Q_OBJECT

public:
    enum Choice { Overwrite = 0, RenameAutomatically = 1, Skip = 2 };
    enum Control {
        IdFileName = 1041,
        IdSourceCreated = 1042,
        IdSourceLength = 1043,
        IdSourceSize = 1044,
        IdDestinationCreated = 1045,
        IdDestinationLength = 1046,
        IdDestinationSize = 1047,
    };

    // choice preselects its radio button (none for a value outside 0..2).
    COverWriteDlg(const QString& sourcePath, const QString& destinationPath, int choice,
                  QWidget* parent = nullptr);

    // The preselected choice until OK or "以降すべて" takes the radio buttons' one.
    int choice() const { return m_choice; }
    bool applyToAll() const { return m_applyToAll; }

    QRadioButton* choiceButton(int choice) const;
    QPushButton* okButton() const { return m_okButton; }
    QPushButton* applyToAllButton() const { return m_applyToAllButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }
    // The fields IdFileName..IdDestinationSize; nullptr for any other id.
    QLabel* field(int controlId) const;

    // " %Y/%m/%d %H:%M:%S" in local time.
    static QString FormatTime(int64_t secondsSince1970);
    // " %d秒" under a minute, else " %d分%3d秒".
    static QString FormatLength(uint32_t seconds);
    // " %d Bytes" of the low 32 bits of the size, read as unsigned: a file
    // between 2 and 4 GiB shows its true size, a larger one wraps.
    static QString FormatSize(uint64_t bytes);

private:
    void takeChoice(bool applyToAll);

    int m_choice;
    bool m_applyToAll = false;
    QButtonGroup* m_choices;
    std::array<QLabel*, IdDestinationSize - IdFileName + 1> m_fields{};
    QPushButton* m_okButton;
    QPushButton* m_applyToAllButton;
    QPushButton* m_cancelButton;
};

#pragma once

#include "recording/VoiceHeader.h"

#include <QDialog>
#include <array>

class QLineEdit;
class QPushButton;
class QSlider;

// "インデックス": the five index marks of a recording, one slider per slot
// from 0 to the recording's duration. A slider at 0 is an empty slot. Only OK
// changes m_marks, and leaves them normalised; Enter never ends the dialog,
// Escape cancels it.
class CIndexDlg : public QDialog
{
    Q_OBJECT

public:
    enum Control { IdDeleteAll = 1021, IdOk = 1022, IdCancel = 2, IdFirstField = 1041, IdFirstSlider = 1051 };

    CIndexDlg(uint32_t duration, const IndexMarks& marks, QWidget* parent = nullptr);

    uint32_t m_nDuration;
    // In: the slots as the header holds them; out after OK: normalised.
    IndexMarks m_marks;

    // Row 0..4 (slot order); nullptr for any other row or control id.
    QSlider* slider(int row) const;
    QLineEdit* field(int row) const;
    QPushButton* button(int controlId) const;

    // Minutes and seconds as "%02d:%02d"; the minutes widen past 99 (6005 → "100:05").
    static QString FormatMarkTime(uint32_t seconds);

    // Takes the sliders' positions into m_marks (0 is empty), normalises them
    // and ends the dialog with OK.
    void accept() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void deleteAll();

    std::array<QSlider*, kIndexMarkCount> m_sliders{};
    std::array<QLineEdit*, kIndexMarkCount> m_fields{};
    QPushButton* m_deleteAll = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};

#pragma once

#include "RecordingExport.h"

#include <QDialog>

class QButtonGroup;
class QComboBox;
class QLineEdit;
class QRadioButton;

// Asks where and how recordings are exported: the folder, MP3 or WAV, the whole
// recording or the section between the control panel's markers, and the title.
class ExportDlg : public QDialog
{
    Q_OBJECT

public:
    // section: the panel's section of the one recording to export; none when it
    // cannot be chosen (several recordings, or the whole recording is marked).
    ExportDlg(int count, std::optional<ExportSpan> section, QWidget* parent = nullptr);

    QString folder() const;
    ExportOptions options() const;

    void accept() override;

private:
    QLineEdit* m_folder;
    QComboBox* m_format;
    QRadioButton* m_whole;
    QRadioButton* m_section;
    QRadioButton* m_titleName;
    QRadioButton* m_titleMemo;
    std::optional<ExportSpan> m_span;
};

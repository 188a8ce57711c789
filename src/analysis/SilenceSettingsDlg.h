#pragma once

#include "Silences.h"

#include <QDialog>

class QDoubleSpinBox;

// Edits how silence is found: the threshold above the recording's noise floor
// and the shortest pause that is skipped (1-10 s).
class SilenceSettingsDlg : public QDialog
{
    Q_OBJECT

public:
    explicit SilenceSettingsDlg(const SilenceOptions& options, QWidget* parent = nullptr);

    SilenceOptions options() const;
    QDoubleSpinBox* thresholdBox() const { return m_threshold; }
    QDoubleSpinBox* minimumBox() const { return m_minimum; }

private:
    SilenceOptions m_options;
    QDoubleSpinBox* m_threshold;
    QDoubleSpinBox* m_minimum;
};

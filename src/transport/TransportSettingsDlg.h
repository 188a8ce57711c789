#pragma once

#include "TransportSettings.h"

#include <QDialog>
#include <array>

class QComboBox;
class QKeySequenceEdit;
class QSpinBox;

// "再生の設定": skip sizes, rewind on resume, the replay's length, the speed step,
// a key for each playback command and an action for each foot pedal. A key that
// another command has is refused with a message, and the dialog stays open.
class TransportSettingsDlg : public QDialog
{
    Q_OBJECT

public:
    // reserved: the window's other commands and their keys.
    TransportSettingsDlg(const TransportSettings& settings,
                         QList<std::pair<QString, QString>> reserved, QWidget* parent = nullptr);

    // What the dialog holds now.
    TransportSettings settings() const;

    QSpinBox* backSkip() const { return m_backSkip; }
    QSpinBox* forwardSkip() const { return m_forwardSkip; }
    QSpinBox* rewind() const { return m_rewind; }
    QSpinBox* replay() const { return m_replay; }
    QComboBox* speedStep() const { return m_speedStep; }
    QKeySequenceEdit* keyEdit(TransportAction action) const { return m_keys[size_t(action)]; }
    QComboBox* pedal(int index) const { return m_pedals[size_t(index)]; }

    void accept() override;

private:
    TransportSettings m_initial;
    QList<std::pair<QString, QString>> m_reserved;
    QSpinBox* m_backSkip;
    QSpinBox* m_forwardSkip;
    QSpinBox* m_rewind;
    QSpinBox* m_replay;
    QComboBox* m_speedStep;
    std::array<QKeySequenceEdit*, kKeyedActionCount> m_keys{};
    std::array<QComboBox*, TransportSettings::kPedalCount> m_pedals{};
};

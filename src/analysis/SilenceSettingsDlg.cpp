#include "SilenceSettingsDlg.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <cmath>

SilenceSettingsDlg::SilenceSettingsDlg(const SilenceOptions& options, QWidget* parent)
    : QDialog(parent), m_options(options), m_threshold(new QDoubleSpinBox(this)), m_minimum(new QDoubleSpinBox(this))
{
    setWindowTitle(QStringLiteral("無音スキップの設定"));
    m_threshold->setRange(0, 60);
    m_threshold->setDecimals(0);
    m_threshold->setSuffix(QStringLiteral(" dB"));
    m_threshold->setValue(options.thresholdDecibels);
    m_minimum->setRange(double(SilenceOptions::kShortestMinimum) / 1000.0, double(SilenceOptions::kLongestMinimum) / 1000.0);
    m_minimum->setDecimals(1);
    m_minimum->setSingleStep(0.5);
    m_minimum->setSuffix(QStringLiteral(" 秒"));
    m_minimum->setValue(double(options.minimumMilliseconds) / 1000.0);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("無音とみなす音量（雑音レベルからの差）(&T):"), m_threshold);
    form->addRow(QStringLiteral("スキップする無音の最短時間(&M):"), m_minimum);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

SilenceOptions SilenceSettingsDlg::options() const
{
    SilenceOptions result = m_options;
    result.thresholdDecibels = m_threshold->value();
    result.minimumMilliseconds = int64_t(std::llround(m_minimum->value() * 1000.0));
    return result;
}

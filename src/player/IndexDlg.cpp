#include "IndexDlg.h"

#include "PanelArtwork.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

namespace {

// Sizes in pixels, from the dialog's layout in dialog units (1.5 pixels
// across and 1.625 down per unit).
constexpr int kSliderWidth = 376;
constexpr int kSliderHeight = 24;
constexpr int kFieldWidth = 55;
constexpr int kFieldHeight = 21;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 28;
constexpr int kMargin = 10;
constexpr int kColumnGap = 6;
constexpr int kRowGap = 3;
constexpr int kDeleteAllIndent = 21;
constexpr int kOkCancelGap = 21;

int sliderPosition(uint32_t seconds)
{
    return int(std::min<uint32_t>(seconds, std::numeric_limits<int>::max()));
}

} // namespace

CIndexDlg::CIndexDlg(uint32_t duration, const IndexMarks& marks, QWidget* parent)
    : QDialog(parent), m_nDuration(duration), m_marks(marks)
{
    setWindowTitle(QStringLiteral("インデックス"));

    auto* rows = new QGridLayout;
    rows->setHorizontalSpacing(kColumnGap);
    rows->setVerticalSpacing(kRowGap);
    for (int row = 0; row < kIndexMarkCount; ++row) {
        auto* flag = new QLabel(this);
        flag->setPixmap(PanelArtwork::indexFlag(row + 1, devicePixelRatioF()));
        flag->setFixedSize(PanelArtwork::flagSize());

        QSlider* slider = new QSlider(Qt::Horizontal, this);
        slider->setObjectName(QStringLiteral("slider%1").arg(IdFirstSlider + row));
        slider->setTickPosition(QSlider::NoTicks);
        slider->setFixedSize(kSliderWidth, kSliderHeight);
        slider->setRange(0, sliderPosition(duration));

        auto* field = new QLineEdit(this);
        field->setObjectName(QStringLiteral("field%1").arg(IdFirstField + row));
        field->setReadOnly(true);
        field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        field->setFixedSize(kFieldWidth, kFieldHeight);

        connect(slider, &QSlider::valueChanged, field,
                [field](int seconds) { field->setText(FormatMarkTime(uint32_t(seconds))); });
        // An empty slot starts at 0. A mark beyond the duration (a header the
        // recorder wrote) shows where OK would keep it: at the end.
        slider->setValue(marks[row] == kEmptyIndexMark ? 0 : sliderPosition(marks[row]));
        field->setText(FormatMarkTime(uint32_t(slider->value())));

        rows->addWidget(flag, row, 0, Qt::AlignCenter);
        rows->addWidget(slider, row, 1);
        rows->addWidget(field, row, 2);
        m_sliders[row] = slider;
        m_fields[row] = field;
    }

    // Made after the rows, so that the focus starts on the first slider and Tab
    // goes through the rows before the buttons.
    m_deleteAll = new QPushButton(QStringLiteral("全て削除"), this);
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    // No button may take Enter: the dialog ends only through OK, Cancel or Escape.
    for (QPushButton* button : {m_deleteAll, m_ok, m_cancel}) {
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setMinimumSize(kButtonWidth, kButtonHeight);
    }
    connect(m_deleteAll, &QPushButton::clicked, this, &CIndexDlg::deleteAll);
    connect(m_ok, &QPushButton::clicked, this, &CIndexDlg::accept);
    connect(m_cancel, &QPushButton::clicked, this, &CIndexDlg::reject);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(0);
    buttons->addSpacing(kDeleteAllIndent);
    buttons->addWidget(m_deleteAll);
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addSpacing(kOkCancelGap);
    buttons->addWidget(m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    layout->setSpacing(kMargin);
    layout->addLayout(rows);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // Fixes the size before the window exists, rather than as it is shown.
    layout->activate();
}

QSlider* CIndexDlg::slider(int row) const
{
    return row >= 0 && row < kIndexMarkCount ? m_sliders[row] : nullptr;
}

QLineEdit* CIndexDlg::field(int row) const
{
    return row >= 0 && row < kIndexMarkCount ? m_fields[row] : nullptr;
}

QPushButton* CIndexDlg::button(int controlId) const
{
    switch (controlId) {
    case IdDeleteAll:
        return m_deleteAll;
    case IdOk:
        return m_ok;
    case IdCancel:
        return m_cancel;
    default:
        return nullptr;
    }
}

QString CIndexDlg::FormatMarkTime(uint32_t seconds)
{
    return QString::asprintf("%02d:%02d", int(seconds / 60), int(seconds % 60));
}

void CIndexDlg::deleteAll()
{
    for (int row = 0; row < kIndexMarkCount; ++row) {
        m_sliders[row]->setValue(0);
        m_fields[row]->setText(FormatMarkTime(0));
    }
}

void CIndexDlg::accept()
{
    for (int row = 0; row < kIndexMarkCount; ++row) {
        const int seconds = m_sliders[row]->value();
        m_marks[row] = seconds == 0 ? kEmptyIndexMark : uint32_t(seconds);
    }
    NormalizeIndexMarks(m_marks);
    QDialog::accept();
}

void CIndexDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        return;
    QDialog::keyPressEvent(event);
}

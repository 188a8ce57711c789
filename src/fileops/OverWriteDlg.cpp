#include "OverWriteDlg.h"

#include "platform/LocalTime.h"
#include "recording/RecordingFile.h"
#include "recording/VoiceDuration.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

COverWriteDlg::COverWriteDlg(const QString& sourcePath, const QString& destinationPath, int choice,
                             QWidget* parent)
    : QDialog(parent), m_choice(choice), m_choices(new QButtonGroup(this)),
      m_okButton(new QPushButton(QStringLiteral("OK"), this)),
      m_applyToAllButton(new QPushButton(QStringLiteral("以降すべて"), this)),
      m_cancelButton(new QPushButton(QStringLiteral("キャンセル"), this))
{
    setWindowTitle(QStringLiteral("上書き確認"));
    setModal(true);
    for (int id = IdFileName; id <= IdDestinationSize; ++id)
        m_fields[size_t(id - IdFileName)] = plainLabel(QString(), this);

    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32));
    auto* message = new QVBoxLayout;
    message->addWidget(plainLabel(QStringLiteral("コピー先に同じ名前のファイルが存在します。"), this));
    message->addWidget(field(IdFileName));
    auto* head = new QHBoxLayout;
    head->addWidget(icon, 0, Qt::AlignTop);
    head->addLayout(message, 1);

    auto* files = new QHBoxLayout;
    const auto addFile = [&](const QString& title, const QString& path, int firstField) {
        auto* group = new QGroupBox(title, this);
        auto* grid = new QGridLayout(group);
        const QString rowTitles[] = {QStringLiteral("作成日時"), QStringLiteral("録音時間"),
                                     QStringLiteral("ファイルサイズ")};
        for (int row = 0; row < 3; ++row) {
            grid->addWidget(plainLabel(rowTitles[row], group), row, 0);
            grid->addWidget(field(firstField + row), row, 1);
        }
        grid->setColumnStretch(1, 1);
        field(firstField)->setText(FormatTime(RecordingFile::CreationTimeOf(path)));
        field(firstField + 1)->setText(FormatLength(GetVoiceDuration(path)));
        field(firstField + 2)->setText(FormatSize(uint64_t(QFileInfo(path).size())));
        files->addWidget(group);
    };
    addFile(QStringLiteral("コピー元ファイル"), sourcePath, IdSourceCreated);
    addFile(QStringLiteral("コピー先ファイル"), destinationPath, IdDestinationCreated);
    field(IdFileName)->setText(QFileInfo(sourcePath).fileName());

    auto* choices = new QHBoxLayout;
    const QString choiceTexts[] = {QStringLiteral("上書き"), QStringLiteral("自動的に名前を変更"),
                                   QStringLiteral("スキップ")};
    for (int id = Overwrite; id <= Skip; ++id) {
        auto* button = new QRadioButton(choiceTexts[id], this);
        m_choices->addButton(button, id);
        choices->addWidget(button);
    }
    choices->addStretch(1);
    if (QAbstractButton* preselected = m_choices->button(choice))
        preselected->setChecked(true);

    m_okButton->setDefault(true);
    connect(m_okButton, &QPushButton::clicked, this, [this] { takeChoice(false); });
    connect(m_applyToAllButton, &QPushButton::clicked, this, [this] { takeChoice(true); });
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_okButton);
    buttons->addWidget(m_applyToAllButton);
    buttons->addWidget(m_cancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addLayout(files);
    layout->addLayout(choices);
    layout->addLayout(buttons);
    // The sizes are settled before the window exists: it opens at its final size.
    layout->activate();
}

QRadioButton* COverWriteDlg::choiceButton(int choice) const
{
    return static_cast<QRadioButton*>(m_choices->button(choice));
}

QLabel* COverWriteDlg::field(int controlId) const
{
    if (controlId < IdFileName || controlId > IdDestinationSize)
        return nullptr;
    return m_fields[size_t(controlId - IdFileName)];
}

QString COverWriteDlg::FormatTime(int64_t secondsSince1970)
{
    return FormatLocalTime(secondsSince1970, " %Y/%m/%d %H:%M:%S");
}

QString COverWriteDlg::FormatLength(uint32_t seconds)
{
    const uint32_t minutes = seconds / 60;
    if (minutes == 0)
        return QString::asprintf(" %u秒", seconds % 60);
    return QString::asprintf(" %u分%3u秒", minutes, seconds % 60);
}

QString COverWriteDlg::FormatSize(uint64_t bytes)
{
    return QString::asprintf(" %u Bytes", unsigned(uint32_t(bytes)));
}

void COverWriteDlg::takeChoice(bool applyToAll)
{
    if (m_choices->checkedId() >= 0)
        m_choice = m_choices->checkedId();
    m_applyToAll = applyToAll;
    accept();
}

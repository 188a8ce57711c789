#include "ExportDlg.h"

#include "platform/MessageBoxes.h"
#include "platform/ProgramIdentity.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QVBoxLayout>

namespace {

const QString kFolderValue = QStringLiteral("Export/Folder");

QString secondsText(int64_t ms)
{
    const int64_t s = ms / 1000;
    return QStringLiteral("%1:%2:%3").arg(s / 3600, 2, 10, QLatin1Char('0')).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

ExportDlg::ExportDlg(int count, std::optional<ExportSpan> section, QWidget* parent)
    : QDialog(parent), m_span(section)
{
    setWindowTitle(QStringLiteral("書き出し"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto* folderRow = new QHBoxLayout;
    m_folder = new QLineEdit(OpenProgramSettings()->value(kFolderValue, QDir::homePath()).toString(), this);
    auto* browse = new QPushButton(QStringLiteral("参照"), this);
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(browse);
    form->addRow(QStringLiteral("書き出し先:"), folderRow);
    m_format = new QComboBox(this);
    m_format->addItem(QStringLiteral("MP3（チャプター付き、再エンコードなし）"));
    m_format->addItem(QStringLiteral("WAV"));
    form->addRow(QStringLiteral("形式:"), m_format);
    layout->addWidget(new QLabel(QStringLiteral("%1件の録音を書き出します。").arg(count), this));
    layout->addLayout(form);

    auto* range = new QGroupBox(QStringLiteral("範囲"), this);
    auto* rangeLayout = new QVBoxLayout(range);
    m_whole = new QRadioButton(QStringLiteral("録音全体"), range);
    m_section = new QRadioButton(section ? QStringLiteral("開始マーカーから終了マーカーまで（%1 - %2）")
                                               .arg(secondsText(section->beginMs), secondsText(section->endMs))
                                         : QStringLiteral("開始マーカーから終了マーカーまで"),
                                 range);
    m_section->setEnabled(section.has_value());
    (section ? m_section : m_whole)->setChecked(true);
    rangeLayout->addWidget(m_whole);
    rangeLayout->addWidget(m_section);
    layout->addWidget(range);

    auto* title = new QGroupBox(QStringLiteral("タイトル"), this);
    auto* titleLayout = new QVBoxLayout(title);
    m_titleName = new QRadioButton(QStringLiteral("ファイル名"), title);
    m_titleMemo = new QRadioButton(QStringLiteral("メモの1行目"), title);
    m_titleName->setChecked(true);
    titleLayout->addWidget(m_titleName);
    titleLayout->addWidget(m_titleMemo);
    layout->addWidget(title);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("書き出し"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &ExportDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ExportDlg::reject);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("書き出し先"), m_folder->text());
        if (!chosen.isEmpty())
            m_folder->setText(chosen);
    });
}

QString ExportDlg::folder() const
{
    return m_folder->text().trimmed();
}

ExportOptions ExportDlg::options() const
{
    ExportOptions options;
    options.format = m_format->currentIndex() == 1 ? ExportFormat::Wav : ExportFormat::Mp3;
    options.title = m_titleMemo->isChecked() ? ExportTitle::Memo : ExportTitle::FileName;
    if (m_section->isChecked())
        options.section = m_span;
    return options;
}

void ExportDlg::accept()
{
    if (!QFileInfo(folder()).isDir()) {
        ShowMessage(QStringLiteral("書き出し先のフォルダがありません。"), MessageIcon::Warning);
        return;
    }
    OpenProgramSettings()->setValue(kFolderValue, folder());
    QDialog::accept();
}

#include "TransportSettingsDlg.h"

#include "platform/MessageBoxes.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequenceEdit>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QSpinBox* secondsBox(int low, int high, int value)
{
    auto* box = new QSpinBox;
    box->setRange(low, high);
    box->setSuffix(QStringLiteral(" 秒"));
    box->setValue(value);
    return box;
}

// The pedal actions in the order of the list: none, play while held, then the keyed actions.
TransportAction pedalActionAt(int index)
{
    if (index <= 0)
        return TransportAction::None;
    if (index == 1)
        return TransportAction::PlayWhileHeld;
    return TransportAction(index - 2);
}

int pedalIndexOf(TransportAction action)
{
    if (action == TransportAction::None)
        return 0;
    if (action == TransportAction::PlayWhileHeld)
        return 1;
    return int(action) + 2;
}

} // namespace

TransportSettingsDlg::TransportSettingsDlg(const TransportSettings& settings,
                                           QList<std::pair<QString, QString>> reserved,
                                           QWidget* parent)
    : QDialog(parent), m_initial(settings), m_reserved(std::move(reserved))
{
    setWindowTitle(QStringLiteral("再生の設定"));
    auto* timing = new QGroupBox(QStringLiteral("再生"));
    auto* form = new QFormLayout(timing);
    m_backSkip = secondsBox(TransportSettings::kMinSkip, TransportSettings::kMaxSkip,
                            settings.backSkipSeconds);
    m_forwardSkip = secondsBox(TransportSettings::kMinSkip, TransportSettings::kMaxSkip,
                               settings.forwardSkipSeconds);
    m_rewind = secondsBox(0, TransportSettings::kMaxRewind, settings.rewindOnResumeSeconds);
    m_replay = secondsBox(TransportSettings::kMinReplay, TransportSettings::kMaxReplay,
                          settings.replaySeconds);
    m_speedStep = new QComboBox;
    m_speedStep->addItems({QStringLiteral("0.05"), QStringLiteral("0.1")});
    m_speedStep->setCurrentIndex(settings.speedStep < 0.075 ? 0 : 1);
    form->addRow(QStringLiteral("戻る(&B):"), m_backSkip);
    form->addRow(QStringLiteral("進む(&F):"), m_forwardSkip);
    form->addRow(QStringLiteral("一時停止後の再開で戻る(&R):"), m_rewind);
    form->addRow(QStringLiteral("直前を再生の長さ(&L):"), m_replay);
    form->addRow(QStringLiteral("速さの段階(&S):"), m_speedStep);

    auto* keys = new QGroupBox(QStringLiteral("キー"));
    auto* keyForm = new QFormLayout(keys);
    for (int i = 0; i < kKeyedActionCount; ++i) {
        auto* edit = new QKeySequenceEdit(
            QKeySequence(settings.keys[size_t(i)], QKeySequence::PortableText));
        // One key per command: what follows the first key is dropped.
        connect(edit, &QKeySequenceEdit::editingFinished, edit, [edit] {
            if (edit->keySequence().count() > 1)
                edit->setKeySequence(QKeySequence(edit->keySequence()[0]));
        });
        auto* clear = new QToolButton;
        clear->setText(QStringLiteral("なし"));
        connect(clear, &QToolButton::clicked, edit, &QKeySequenceEdit::clear);
        auto* row = new QHBoxLayout;
        row->addWidget(edit, 1);
        row->addWidget(clear);
        keyForm->addRow(TransportActionText(TransportAction(i)) + u':', row);
        m_keys[size_t(i)] = edit;
    }

    auto* pedals = new QGroupBox(QStringLiteral("フットペダル"));
    auto* pedalForm = new QFormLayout(pedals);
    const QString names[] = {QStringLiteral("左:"), QStringLiteral("中央:"), QStringLiteral("右:")};
    for (int p = 0; p < TransportSettings::kPedalCount; ++p) {
        auto* list = new QComboBox;
        for (int index = 0; index < kKeyedActionCount + 2; ++index)
            list->addItem(TransportActionText(pedalActionAt(index)));
        list->setCurrentIndex(pedalIndexOf(settings.pedals[size_t(p)]));
        pedalForm->addRow(names[p], list);
        m_pedals[size_t(p)] = list;
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(timing);
    left->addWidget(pedals);
    left->addStretch(1);
    columns->addLayout(left);
    columns->addWidget(keys);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addWidget(buttons);
}

TransportSettings TransportSettingsDlg::settings() const
{
    TransportSettings settings = m_initial;
    settings.backSkipSeconds = m_backSkip->value();
    settings.forwardSkipSeconds = m_forwardSkip->value();
    settings.rewindOnResumeSeconds = m_rewind->value();
    settings.replaySeconds = m_replay->value();
    settings.speedStep = m_speedStep->currentIndex() == 0 ? 0.05 : 0.1;
    for (int i = 0; i < kKeyedActionCount; ++i) {
        const QKeySequence key = m_keys[size_t(i)]->keySequence();
        settings.keys[size_t(i)] =
            key.isEmpty() ? QString() : QKeySequence(key[0]).toString(QKeySequence::PortableText);
    }
    for (int p = 0; p < TransportSettings::kPedalCount; ++p)
        settings.pedals[size_t(p)] = pedalActionAt(m_pedals[size_t(p)]->currentIndex());
    return settings;
}

void TransportSettingsDlg::accept()
{
    const TransportSettings chosen = settings();
    // The keys the user changed are looked at first: a key given to a command is refused
    // there, naming the command that had it, whichever of the two the list shows first.
    for (const bool changed : {true, false}) {
        for (int i = 0; i < kKeyedActionCount; ++i) {
            if ((chosen.keys[size_t(i)] != m_initial.keys[size_t(i)]) != changed)
                continue;
            const QString conflict = TransportKeyConflict(chosen, TransportAction(i),
                                                          chosen.keys[size_t(i)], m_reserved);
            if (!conflict.isEmpty()) {
                ShowMessage(conflict, MessageIcon::Warning);
                m_keys[size_t(i)]->setFocus();
                return;
            }
        }
    }
    QDialog::accept();
}

#include "CommandSet.h"

#include "ToolbarArtwork.h"

#include <QAction>
#include <QApplication>
#include <QStyle>

namespace {

struct CommandText
{
    Command command;
    QString text;
    QString prompt; // status-bar text, then after \n the short name used as tooltip
    QList<QKeySequence> keys;
    const char* icon = nullptr; // theme name
    QStyle::StandardPixmap fallback = QStyle::SP_CustomBase;
};

QList<CommandText> commandTexts()
{
    using K = QKeySequence;
    return {
        {Command::Transfer, "USBデータ転送(&U)", "TALVEN-77の音声ファイルを保存用フォルダに転送します。\n転送", {}},
        {Command::Backup, "保存用フォルダにバックアップ(&B)",
         "PC装着のSDカード（TALVEN-77録音用）内の未転送の音声ファイルを保存用フォルダにバックアップします。\nバックアップ",
         {}, "document-save", QStyle::SP_DialogSaveButton},
        {Command::CreateFolder, "フォルダの作成(&N)", "保存用フォルダ内に新規フォルダを作成します。\nフォルダ作成", {},
         "folder-new", QStyle::SP_FileDialogNewFolder},
        {Command::SaveAs, "名前を付けて保存(&A)...", "音声ファイルのファイル名を編集して保存します。\n保存", {}},
        {Command::Eject, "取り出し(&J)", "SDカードを安全に取りだします。\n取出", {}},
        {Command::DeleteFiles, "ファイルの削除(&D)\t Delete", "選択中のファイルを削除します。\nファイル削除",
         {K(Qt::Key_Delete)}, "edit-delete", QStyle::SP_TrashIcon},
        {Command::RenameFile, "ファイル名の変更(&M)...", "音声ﾌｧｲﾙのファイル名を変更します。\nファイル名変更", {}},
        {Command::Exit, "終了(&C)", "アプリケーションを終了します。\n終了", {}},
        {Command::Cut, "切り取り(&T)\tCtrl+X", "音声ファイルを切り取ります。\n切り取り",
         {K(Qt::CTRL | Qt::Key_X), K(Qt::SHIFT | Qt::Key_Delete)}},
        {Command::Copy, "コピー(&C)\tCtrl+C", "音声ファイルをコピーします。\nコピー",
         {K(Qt::CTRL | Qt::Key_C), K(Qt::CTRL | Qt::Key_Insert)}, "edit-copy", QStyle::SP_FileDialogContentsView},
        {Command::Paste, "貼り付け(&P)\tCtrl+V", "切り取り/コピーされた音声ファイルを貼り付けます。\n貼り付け",
         {K(Qt::CTRL | Qt::Key_V), K(Qt::SHIFT | Qt::Key_Insert)}, "edit-paste", QStyle::SP_FileDialogListView},
        {Command::SelectAll, "すべて選択(&A)\tCtrl+A", "すべての音声ファイルを選択します。\nすべて選択",
         {K(Qt::CTRL | Qt::Key_A)}},
        {Command::InvertSelection, "選択の切り替え(&I)", "選択状態を反転します。\n選択の切り替え", {}},
        {Command::SortByName, "名前順(&N)", "", {}},
        {Command::SortByStart, "録音開始日時順(&S)", "", {}},
        {Command::SortByDuration, "録音時間順(&T)", "", {}},
        {Command::SortBySize, "サイズ順(&Z)", "", {}},
        {Command::SortByMode, "モード順(&M)", "", {}},
        {Command::SortByProtect, "保護マーク順(&P)", "", {}},
        {Command::SortByIndex, "インデックス順(&I)", "", {}},
        {Command::SortByPlayed, "未再生フラグ順(&F)", "", {}},
        {Command::SortByTransferred, "転送フラグ順(&R)", "", {}},
        {Command::SortByMemo, "メモ順(&C)", "", {}},
        {Command::SortDescending, "降順(&L)", "", {}},
        {Command::AutoWidth, "列幅の自動調整(&A)", "列の幅を内容に合わせます。\n列幅の自動調整", {}},
        {Command::Find, "検索(&F)...\tCtrl+F", "音声ファイルを検索します。\n検索", {K(Qt::CTRL | Qt::Key_F)},
         "edit-find", QStyle::SP_FileDialogStart},
        {Command::FindPrevious, "前を検索(&B)\tShift+F3", "前を検索します。\n前を検索", {K(Qt::SHIFT | Qt::Key_F3)},
         "go-up", QStyle::SP_ArrowUp},
        {Command::FindNext, "次を検索(&N)\tF3", "次を検索します。\n次を検索", {K(Qt::Key_F3)}, "go-down",
         QStyle::SP_ArrowDown},
        {Command::Rebuild, "表示リストの再構築(&M)\tF7", "表示リストを再構築します。\n再構築", {K(Qt::Key_F7)}},
        {Command::Refresh, "最新の状態に更新(&R)\tF5", "最新の状態に更新します。\n更新", {K(Qt::Key_F5)},
         "view-refresh", QStyle::SP_BrowserReload},
        {Command::Settings, "設定(&O)...", "各機能の設定を行います。\n設定", {}, "preferences-system",
         QStyle::SP_FileDialogDetailedView},
        {Command::DeviceNames, "装置名(&D)", "装置名を登録します。\n装置名", {}},
        {Command::About, "バージョン情報(&A)...", "プログラム情報、バージョン、著作権を表示します。\nバージョン情報", {}},
        {Command::Play, "再生", "", {}},
        {Command::ExpandFolder, "展開／折りたたみ", "下位フォルダの展開／折りたたみを行います。", {}},
        {Command::DeleteFolder, "削除", "下位フォルダを含めて削除を行います。", {}},
        {Command::RenameFolder, "名前の変更", "", {}},
        {Command::ReleaseFolder, "フォルダの解放(&F)", "", {}},
        {Command::TransportSettings,
         "再生の設定(&T)...",
         "スキップの秒数、再開時の巻き戻し、キー、フットペダルを設定します。\n再生の設定",
         {}},
        {Command::SkipSilence, "無音部分をスキップ(&K)", "再生中、長い無音部分を飛ばします。\n無音部分をスキップ", {}},
        {Command::NextSilenceBoundary, "次の無音境界へ(&X)\tCtrl+Shift+Right",
         "次の無音の始まり、または話し始めの位置へ移動します。\n次の無音境界", {K(Qt::CTRL | Qt::SHIFT | Qt::Key_Right)}},
        {Command::PreviousSilenceBoundary, "前の無音境界へ(&V)\tCtrl+Shift+Left",
         "前の無音の始まり、または話し始めの位置へ移動します。\n前の無音境界", {K(Qt::CTRL | Qt::SHIFT | Qt::Key_Left)}},
        {Command::ShowOverview, "波形を表示(&W)", "コントロールパネルに録音の波形を表示します。\n波形表示", {}},
        {Command::SilenceSettings, "無音スキップの設定(&L)...", "無音とみなす音量と最短時間を設定します。\n無音スキップの設定", {}},
        {Command::Export, "書き出し(&E)...", "選択中の音声ファイルをMP3またはWAVで書き出します。\n書き出し", {}},
        {Command::ExportList, "一覧を書き出し(&L)...", "表示中の一覧をCSVファイルに書き出します。\n一覧を書き出し", {}},
        {Command::Undo, "元に戻す(&U)\tCtrl+Z", "直前のファイル操作を元に戻します。\n元に戻す", {K(Qt::CTRL | Qt::Key_Z)}},
        {Command::MoveToTrash, "削除したファイルをごみ箱に移動する(&R)", "保存用フォルダと登録フォルダで削除したファイルをごみ箱に移動します。\nごみ箱", {}},
        {Command::TransferHistory, "転送履歴(&H)...", "これまでに転送したファイルの記録を表示します。\n転送履歴", {}},
        {Command::SearchAll, "すべてのフォルダを検索(&S)...\tCtrl+Shift+F",
         "すべてのフォルダの音声ファイルをメモ、ファイル名、録音日で検索します。\nすべてのフォルダを検索",
         {K(Qt::CTRL | Qt::SHIFT | Qt::Key_F)}, "edit-find", QStyle::SP_FileDialogContentsView},
    };
}

// The prompt's first line goes to the status bar; the part after \n is the short name (tooltip).
void setPrompt(QAction* action, const QString& prompt)
{
    const qsizetype split = prompt.indexOf(u'\n');
    action->setStatusTip(split < 0 ? prompt : prompt.left(split));
    if (split >= 0)
        action->setToolTip(prompt.mid(split + 1));
}

} // namespace

CommandSet::CommandSet(QObject* parent) : QObject(parent)
{
    // The playback commands as the transport actions name them; their keys are the user's
    // (setTransportKeys).
    QList<CommandText> entries = commandTexts();
    for (int i = 0; i < kKeyedActionCount; ++i) {
        const auto transport = TransportAction(i);
        entries.append({TransportCommand(transport), TransportActionMenuText(transport),
                        TransportActionPrompt(transport) + u'\n' + TransportActionText(transport), {}});
    }
    for (const CommandText& entry : std::as_const(entries)) {
        auto* action = new QAction(entry.text, this);
        if (!entry.prompt.isEmpty())
            setPrompt(action, entry.prompt);
        action->setShortcuts(entry.keys);
        if (const QIcon drawn = ToolbarArtwork::icon(entry.command); !drawn.isNull()) {
            action->setIcon(drawn);
        } else if (entry.icon) {
            action->setIcon(QIcon::fromTheme(QString::fromLatin1(entry.icon),
                                             QApplication::style()->standardIcon(entry.fallback)));
        }
        const bool checkable = (entry.command >= Command::SortByName && entry.command <= Command::SortByMemo)
                               || entry.command == Command::SortDescending || entry.command == Command::SkipSilence
                               || entry.command == Command::ShowOverview || entry.command == Command::MoveToTrash;
        action->setCheckable(checkable);
        action->setEnabled(false);
        m_actions[size_t(entry.command)] = action;
    }
    m_handled[size_t(Command::Exit)] = true; // the frame's own, always there
}

QAction* CommandSet::menuEntry(Command command, const QString& text)
{
    QAction* primary = action(command);
    if (primary->text() == text)
        return primary;
    QAction*& entry = m_entries[{int(command), text}];
    if (!entry) {
        entry = new QAction(text, this);
        entry->setStatusTip(primary->statusTip());
        entry->setEnabled(primary->isEnabled());
        connect(primary, &QAction::changed, entry, [primary, target = entry] { target->setEnabled(primary->isEnabled()); });
        connect(entry, &QAction::triggered, primary, [primary] {
            if (primary->isEnabled())
                primary->trigger();
        });
    }
    return entry;
}

void CommandSet::setHandler(Command command, std::function<void()> handler)
{
    QAction* primary = action(command);
    m_handled[size_t(command)] = true;
    connect(primary, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
}

void CommandSet::setTransportKeys(const TransportSettings& settings)
{
    for (int i = 0; i < kKeyedActionCount; ++i) {
        const QString key = settings.keys[size_t(i)];
        QAction* command = action(TransportCommand(TransportAction(i)));
        const QKeySequence sequence =
            key.isEmpty() ? QKeySequence() : QKeySequence(key, QKeySequence::PortableText);
        command->setShortcut(sequence);
        // The key in the menu as the other entries write theirs ("Ctrl+Left", not the
        // translated arrow that Qt would draw for the shortcut itself).
        const QString text = command->text().section(u'\t', 0, 0);
        command->setText(sequence.isEmpty()
                             ? text
                             : text + u'\t' + sequence.toString(QKeySequence::PortableText));
    }
}

QList<std::pair<QString, QString>> CommandSet::reservedKeys() const
{
    QList<std::pair<QString, QString>> reserved;
    for (int i = 0; i < kCommandCount; ++i) {
        if (TransportActionOf(Command(i)) != TransportAction::None)
            continue;
        // The short name (the tooltip), without the menu's accelerator and key text.
        const QString text = m_actions[size_t(i)]->toolTip();
        for (const QKeySequence& key : m_actions[size_t(i)]->shortcuts())
            reserved.append({text, key.toString(QKeySequence::PortableText)});
    }
    return reserved;
}

void CommandSet::Update(const CommandContext& context, int sortKey, bool descending)
{
    for (int i = 0; i < kCommandCount; ++i) {
        const Command command = Command(i);
        m_actions[size_t(i)]->setEnabled(m_handled[size_t(i)] && IsCommandEnabled(command, context));
    }
    for (int key = 0; key <= int(Command::SortByMemo) - int(Command::SortByName); ++key)
        action(SortCommand(key))->setChecked(key == sortKey);
    action(Command::SortDescending)->setChecked(descending);
}

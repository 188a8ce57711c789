#include "SaveFolderCheck.h"

#include <QDir>

bool IsUsableSaveFolder(const QString& savePath)
{
    return !savePath.trimmed().isEmpty() && QDir::isAbsolutePath(savePath);
}

QString UnusableSaveFolderMessage()
{
    return QStringLiteral("保存用フォルダが設定されていません。\n「設定」で保存用フォルダを選択してください。");
}

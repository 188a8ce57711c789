#include "SaveFolderCheck.h"

#include <QDir>

bool IsUsableSaveFolder(const QString& savePath)
{
    return !savePath.trimmed().isEmpty() && QDir::isAbsolutePath(savePath);
}

QString UnusableSaveFolderMessage()
{
    return QStringLiteral("保存用フォルダが正しく設定されていません。\n"
                          "設定画面で保存用フォルダを絶対パスで指定してください。");
}

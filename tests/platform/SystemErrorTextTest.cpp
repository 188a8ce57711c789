#include "TestRegistry.h"
#include "platform/NumberedNames.h"
#include "platform/SystemErrorText.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <thread>
#include <vector>

class SystemErrorTextTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // LANGUAGE is the user's own choice of language for the C library's texts; the
        // expected texts below are the Japanese ones.
        qunsetenv("LANGUAGE");
        if (!HasJapaneseSystemErrors())
            QSKIP("the ja_JP.UTF-8 locale is not installed here (./test.sh generates it); the texts stay English");
    }

    void japaneseTexts_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("text");
        QTest::newRow("name taken") << EEXIST << QStringLiteral("ファイルが存在します");
        QTest::newRow("missing") << ENOENT << QStringLiteral("そのようなファイルやディレクトリはありません");
        QTest::newRow("refused") << EACCES << QStringLiteral("許可がありません");
        QTest::newRow("disk full") << ENOSPC << QStringLiteral("デバイスに空き領域がありません");
        QTest::newRow("read-only card") << EROFS << QStringLiteral("読み込み専用ファイルシステムです");
    }
    void japaneseTexts()
    {
        QFETCH(int, error);
        QFETCH(QString, text);
        QCOMPARE(SystemErrorText(error), text);
        QCOMPARE(FileResult{error}.message(), text);
    }

    // The process's own locale stays as it was (C here): only the texts change.
    void processLocaleUntouched()
    {
        const QString before = QString::fromLocal8Bit(std::strerror(EEXIST));
        QVERIFY(!SystemErrorText(EEXIST).isEmpty());
        QCOMPARE(QString::fromLocal8Bit(std::strerror(EEXIST)), before);
    }

    // A rename onto a taken name reports the Japanese text, from threads at once too.
    void failedRenameInJapanese()
    {
        QTemporaryDir dir;
        QFile(dir.filePath("a.mp3")).open(QIODevice::WriteOnly);
        QFile(dir.filePath("b.mp3")).open(QIODevice::WriteOnly);
        std::vector<QString> texts(4);
        std::vector<std::thread> threads;
        for (QString& text : texts)
            threads.emplace_back([&] { text = RenameNoReplace(dir.filePath("a.mp3"), dir.filePath("b.mp3")).message(); });
        for (std::thread& thread : threads)
            thread.join();
        for (const QString& text : texts)
            QCOMPARE(text, QStringLiteral("ファイルが存在します"));
    }
};

TALVEN77_REGISTER_TEST(SystemErrorTextTest);
#include "SystemErrorTextTest.moc"

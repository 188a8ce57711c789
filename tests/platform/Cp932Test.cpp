#include "TestRegistry.h"
#include "platform/Cp932.h"

#include <QTest>

class Cp932Test : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << QStringLiteral("Memo 1") << QByteArray("Memo 1");
        QTest::newRow("kana and kanji") << QStringLiteral("会議メモ") << QByteArray("\x89\xef\x8b\x63\x83\x81\x83\x82");
        QTest::newRow("backslash and tilde stay ASCII") << QStringLiteral("a\\b~") << QByteArray("a\\b~");
        QTest::newRow("half-width katakana") << QStringLiteral("ｱｲ") << QByteArray("\xb1\xb2");
        QTest::newRow("NEC special") << QStringLiteral("①") << QByteArray("\x87\x40");
        QTest::newRow("empty") << QString() << QByteArray();
    }
    void roundTrip()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        const Cp932Encoding encoded = UnicodeToCp932(text);
        QVERIFY(encoded.ok());
        QCOMPARE(encoded.bytes, bytes);
        QCOMPARE(Cp932ToUnicode(bytes), text);
    }

    void bothWaveDashesAreAccepted()
    {
        // Text typed on Linux has U+301C, text from Windows U+FF5E; both are the same CP932 character.
        QCOMPARE(UnicodeToCp932(QStringLiteral("\u301C")).bytes, QByteArray("\x81\x60"));
        QCOMPARE(UnicodeToCp932(QStringLiteral("\uFF5E")).bytes, QByteArray("\x81\x60"));
    }

    void invalidBytesShowAsReplacement()
    {
        QCOMPARE(Cp932ToUnicode(QByteArray("A\xA0" "B")), QStringLiteral("A\uFFFDB"));
        QCOMPARE(Cp932ToUnicode(QByteArray("A\x82")), QStringLiteral("A\uFFFD")); // lead byte cut off
    }

    void refusesWhatCp932CannotHold_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("offending");
        QTest::newRow("hangul") << QStringLiteral("メモ한글") << QStringLiteral("한");
        QTest::newRow("emoji") << QStringLiteral("録音\U0001F3A4") << QStringLiteral("\U0001F3A4");
        QTest::newRow("accented latin") << QStringLiteral("café") << QStringLiteral("é");
        // U+FEFF is no byte-order mark inside a memo: CP932 has no such character.
        QTest::newRow("zero-width no-break space first")
            << QStringLiteral("\uFEFFabc") << QStringLiteral("\uFEFF");
        QTest::newRow("zero-width no-break space last")
            << QStringLiteral("a\uFEFF") << QStringLiteral("\uFEFF");
        QTest::newRow("U+FEFF before another refusal")
            << QStringLiteral("会\uFEFF한") << QStringLiteral("\uFEFF");
        QTest::newRow("refusal after normal text")
            << QStringLiteral("会議 abc\u00A9x") << QStringLiteral("\u00A9");
        QTest::newRow("surrogate pair after kana") << QStringLiteral("メモ\U0001F600\uFEFF")
                                                   << QStringLiteral("\U0001F600");
        QTest::newRow("lone surrogate, not garbled into ?")
            << QString(u'a') + QChar(0xD800) + u'b' << QString(QChar(0xD800));
    }
    void refusesWhatCp932CannotHold()
    {
        QFETCH(QString, text);
        QFETCH(QString, offending);
        const Cp932Encoding encoded = UnicodeToCp932(text, 256);
        QCOMPARE(encoded.error, Cp932Encoding::Error::Unrepresentable);
        QVERIFY(encoded.bytes.isEmpty());
        QCOMPARE(encoded.offending, offending);
        QCOMPARE(encoded.message(),
                 QStringLiteral("「%1」は使用できない文字です。別の文字に置き換えてください。").arg(offending));
    }

    void byteLimitCountsCp932Bytes()
    {
        const QString fits = QString(128, QChar(u'会')); // 256 bytes
        QCOMPARE(UnicodeToCp932(fits, 256).bytes.size(), 256);
        const Cp932Encoding tooLong = UnicodeToCp932(fits + u'a', 256);
        QCOMPARE(tooLong.error, Cp932Encoding::Error::TooLong);
        QVERIFY(tooLong.bytes.isEmpty());
        QVERIFY(tooLong.message().contains(QStringLiteral("256")));
        QVERIFY(UnicodeToCp932(QString(20, u'x'), 20).ok());
        QVERIFY(!UnicodeToCp932(QString(10, u'名') + u'x', 20).ok());
    }
};

TALVEN77_REGISTER_TEST(Cp932Test);
#include "Cp932Test.moc"

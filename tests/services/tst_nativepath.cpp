#include "services/nativepath.h"

#include <QtTest>

using namespace tagora;

class NativePathTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << QByteArray("/music/One.mp3");
        QTest::newRow("utf8") << QByteArray("/m/\xc3\xa9t\xc3\xa9 \xf0\x9f\x8e\xb5.flac");
        QTest::newRow("latin1 byte") << QByteArray("/m/caf\xe9.mp3");
        QTest::newRow("lone continuation") << QByteArray("\x80\xbf.ogg");
        QTest::newRow("truncated sequence") << QByteArray("a\xe2\x82");
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf");
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xb2\x80");
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xf4\x90\x80\x80");
        QTest::newRow("empty") << QByteArray();
    }
    void roundTrip()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(pathToNative(pathFromNative(bytes)), bytes);
    }

    void validUtf8DecodesAsText()
    {
        QCOMPARE(pathFromNative(QByteArray("\xc3\xa9")), QStringLiteral("\u00e9"));
        QCOMPARE(pathToNative(QStringLiteral("\u00e9")), QByteArray("\xc3\xa9"));
    }

    void invalidByteBecomesLoneSurrogate()
    {
        const QString text = pathFromNative(QByteArray("a\xff"));
        QCOMPARE(text.size(), 2);
        QCOMPARE(text[1].unicode(), char16_t(0xDCFF));
    }
};

QTEST_GUILESS_MAIN(NativePathTest)
#include "tst_nativepath.moc"

// The input guards on their own, on the descriptor TagLib will parse: by name and by type they
// agree, and they leave the descriptor's offset alone.
#include "familyguards.h"
#include "inputguards.h"
#include "support/audiotypes.h"
#include "support/bytes.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray nestedMp4(int depth)
{
    QByteArray bytes;
    for (int i = 0; i < depth; ++i) {
        const quint32 size = quint32(8 * (depth - i));
        const char b[] = {char(size >> 24), char(size >> 16), char(size >> 8), char(size)};
        bytes += QByteArray(b, 4) + "moov";
    }
    return bytes;
}

// A Vorbis comment field holding a FLAC picture structure in base64: type, MIME type,
// description, four numbers, then the data, whose length is `dataLength` whatever follows.
QByteArray pictureField(const char* key, quint32 mimeLength, quint32 dataLength, int dataSize)
{
    using tagora::test::bigEndian32;
    QByteArray picture = bigEndian32(3) + bigEndian32(mimeLength) + "image/jpeg" + bigEndian32(0) +
                         QByteArray(16, '\0') + bigEndian32(dataLength) + QByteArray(dataSize, 'x');
    return QByteArray(key) + picture.toBase64();
}

} // namespace

class InputGuardsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    // TagLib adds each length to its position in 32 bits; a length that wraps makes it take
    // garbage for the picture.
    void vorbisPictureLengths_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<bool>("passes");
        const char* key = "METADATA_BLOCK_PICTURE=";
        QTest::newRow("a cover of 300 KB") << pictureField(key, 10, 300000, 300000) << true;
        QTest::newRow("the key in small letters")
            << pictureField("metadata_block_picture=", 10, 300000, 16) << true;
        QTest::newRow("MIME length wraps") << pictureField(key, 0xfffffff0u, 16, 16) << false;
        QTest::newRow("data length wraps") << pictureField(key, 10, 0xffffffe0u, 16) << false;
        QTest::newRow("data length wraps, key in small letters")
            << pictureField("metadata_block_picture=", 10, 0xffffffe0u, 16) << false;
        QTest::newRow("cut before the data length")
            << pictureField(key, 10, 0xffffffe0u, 0).left(60) << true;
        QTest::newRow("another field") << QByteArray("TITLE=\xff\xff\xff\xff") << true;
    }
    void vorbisPictureLengths()
    {
        QFETCH(QByteArray, field);
        QFETCH(bool, passes);
        QCOMPARE(tagwrapper::xiphPictureFieldPasses(
                     reinterpret_cast<const unsigned char*>(field.constData()),
                     std::uint64_t(field.size())),
                 passes);
    }

    void guardsTheDescriptor_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("passes");
        for (const char* type : tagora::test::kAudioTypes) {
            QFile sample(QStringLiteral(TAGORA_FIXTURES_DIR "/sample.") + QLatin1String(type));
            QVERIFY(sample.open(QIODevice::ReadOnly));
            QTest::addRow("sample.%s", type)
                << QStringLiteral("x.") + QLatin1String(type) << sample.readAll() << true;
        }
        QTest::newRow("nested atoms at the limit")
            << QStringLiteral("x.m4a") << nestedMp4(tagwrapper::kMaxMp4Depth) << true;
        QTest::newRow("nested atoms one past it")
            << QStringLiteral("x.m4a") << nestedMp4(tagwrapper::kMaxMp4Depth + 1) << false;
        QTest::newRow("nested atoms, unknown extension, no ftyp")
            << QStringLiteral("x.bin") << nestedMp4(1000) << true;
    }
    void guardsTheDescriptor()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, passes);
        const QByteArray path = QFile::encodeName(m_dir.filePath(name));
        QFile file(QString::fromLocal8Bit(path));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), bytes.size());
        file.close();

        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        const auto closeFd = qScopeGuard([fd] { ::close(fd); });
        QCOMPARE(::lseek(fd, 3, SEEK_SET), off_t(3));
        QCOMPARE(tagwrapper::passesInputGuards(fd, path.constData()), passes);
        QCOMPARE(::lseek(fd, 0, SEEK_CUR), off_t(3));
        if (name.endsWith(QLatin1String(".m4a")))
            QCOMPARE(tagwrapper::passesInputGuards(fd, TagLib_File_MP4), passes);
    }

    void notARegularFile()
    {
        for (const QByteArray& path : {QFile::encodeName(m_dir.path()), QByteArray("/dev/null")}) {
            const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
            QVERIFY(fd >= 0);
            QVERIFY(!tagwrapper::passesInputGuards(fd, "x.mp3"));
            ::close(fd);
        }
        QVERIFY(!tagwrapper::passesInputGuards(-1, "x.mp3"));
        QVERIFY(!tagwrapper::passesInputGuards(-1, TagLib_File_MP4));
    }
};

QTEST_GUILESS_MAIN(InputGuardsTest)
#include "tst_inputguards.moc"

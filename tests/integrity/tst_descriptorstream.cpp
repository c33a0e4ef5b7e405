// The stream TagLib reads files through serves small reads from a window of the file; every
// pattern of seeks and reads must give what TagLib's own FileStream gives.
#include "safesave.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <taglib/tfilestream.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct Step
{
    long offset;
    TagLib::IOStream::Position from;
    unsigned long length;
};

} // namespace

Q_DECLARE_METATYPE(std::vector<Step>)

class TestDescriptorStream : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QByteArray m_path;
    static constexpr long kSize = 50000; // a bit more than three windows

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QByteArray bytes(kSize, '\0');
        QRandomGenerator random(7);
        for (char& c : bytes)
            c = char(random.bounded(256));
        m_path = QFile::encodeName(m_dir.filePath(QStringLiteral("data.bin")));
        QFile file(QString::fromLocal8Bit(m_path));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
    }

    void readsAsFileStream_data()
    {
        using P = TagLib::IOStream::Position;
        QTest::addColumn<std::vector<Step>>("steps");
        QTest::newRow("forward in small pieces") << std::vector<Step>{
            {0, P::Beginning, 10}, {0, P::Current, 100}, {0, P::Current, 16000},
            {0, P::Current, 500},  {0, P::Current, 4},   {0, P::Current, 30000}};
        QTest::newRow("across a window's end") << std::vector<Step>{{16380, P::Beginning, 8},
                                                                    {16383, P::Beginning, 2},
                                                                    {0, P::Beginning, 16384},
                                                                    {16384, P::Beginning, 16385}};
        QTest::newRow("backwards from the end") << std::vector<Step>{{-128, P::End, 128},
                                                                     {-160, P::End, 32},
                                                                     {-20000, P::End, 10},
                                                                     {-10, P::End, 100},
                                                                     {-1, P::End, 1}};
        QTest::newRow("past the end and back") << std::vector<Step>{
            {kSize + 10, P::Beginning, 10}, {0, P::End, 5},         {-3, P::Current, 100},
            {kSize - 1, P::Beginning, 1},   {100, P::Beginning, 0}, {0, P::Current, 7}};
        QTest::newRow("larger than a window") << std::vector<Step>{{5, P::Beginning, 3},
                                                                   {1000, P::Beginning, 40000},
                                                                   {2000, P::Beginning, 10},
                                                                   {0, P::Beginning, 1000000}};
    }

    void readsAsFileStream()
    {
        QFETCH(std::vector<Step>, steps);
        TagLib::FileStream reference(m_path.constData(), true);
        const int fd = ::open(m_path.constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        tagwrapper::DescriptorStream stream(fd, m_path.constData());
        QCOMPARE(stream.length(), reference.length());
        for (const Step& step : steps) {
            reference.seek(step.offset, step.from);
            stream.seek(step.offset, step.from);
            QCOMPARE(stream.tell(), reference.tell());
            const TagLib::ByteVector expected = reference.readBlock(step.length);
            const TagLib::ByteVector got = stream.readBlock(step.length);
            QCOMPARE(got.size(), expected.size());
            QVERIFY(got == expected);
            QCOMPARE(stream.tell(), reference.tell());
        }
    }

    // The size is taken when the file is opened; after a save hands the stream a new file
    // it reads that file, whole, not what its window held of the old one.
    void exchangeReadsTheNewFile()
    {
        const int fd = ::open(m_path.constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        tagwrapper::DescriptorStream stream(fd, m_path.constData());
        const TagLib::ByteVector before = stream.readBlock(64);
        QCOMPARE(before.size(), 64u);

        const QByteArray other = QFile::encodeName(m_dir.filePath(QStringLiteral("other.bin")));
        QFile file(QString::fromLocal8Bit(other));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(300, 'x'));
        file.close();
        const int otherFd = ::open(other.constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(otherFd >= 0);
        ::close(stream.exchange(otherFd, false));
        QCOMPARE(stream.length(), 300L);
        QVERIFY(stream.readBlock(64) == TagLib::ByteVector(64, 'x'));
    }
};

QTEST_GUILESS_MAIN(TestDescriptorStream)
#include "tst_descriptorstream.moc"

// The stream TagLib reads files through serves small reads from a window of the file; every
// pattern of seeks and reads must give what TagLib's own FileStream gives, and edits held in
// memory during a save must read and end as the same edits made to a real file.
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

// One change as TagLib makes it: a write at `at` (replaced < 0), an insert over `replaced`
// bytes, a removal (empty data) or a truncation (at < 0, to `replaced` bytes).
struct Edit
{
    long at;
    long replaced;
    QByteArray data;
};

void apply(TagLib::IOStream& stream, const Edit& e)
{
    const TagLib::ByteVector data(e.data.constData(), unsigned(e.data.size()));
    if (e.at < 0) {
        stream.truncate(e.replaced);
    } else if (e.replaced < 0) {
        stream.seek(e.at);
        stream.writeBlock(data);
    } else if (e.data.isEmpty()) {
        stream.removeBlock(unsigned(e.at), unsigned(e.replaced));
    } else {
        stream.insert(data, unsigned(e.at), unsigned(e.replaced));
    }
}

TagLib::ByteVector wholeOf(TagLib::IOStream& stream)
{
    stream.seek(0);
    return stream.readBlock(unsigned(stream.length()));
}

} // namespace

Q_DECLARE_METATYPE(std::vector<Step>)
Q_DECLARE_METATYPE(std::vector<Edit>)

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

    void recordedEditsActAsTheFile_data()
    {
        QTest::addColumn<std::vector<Edit>>("edits");
        QTest::addColumn<bool>("inPlace");
        QTest::addColumn<int>("regions");
        const QByteArray tag(3000, 't');
        QTest::newRow("tag over its room") << std::vector<Edit>{{0, 3000, tag}} << true << 1;
        QTest::newRow("head and tail tags")
            << std::vector<Edit>{{100, 3000, tag}, {kSize - 128, -1, QByteArray(128, 'v')}} << true
            << 2;
        QTest::newRow("adjoining writes are one region")
            << std::vector<Edit>{{10, -1, "abc"}, {13, -1, "def"}, {16, 2, "gh"}} << true << 1;
        QTest::newRow("grown tag") << std::vector<Edit>{{0, 2000, tag}} << false << 0;
        QTest::newRow("shrunk tag") << std::vector<Edit>{{0, 3000, "small"}} << false << 0;
        QTest::newRow("grown then padded back")
            << std::vector<Edit>{{0, 10, tag}, {3000, 2990, {}}} << true << 1;
        QTest::newRow("written past the end")
            << std::vector<Edit>{{kSize + 50, -1, "tail"}, {5, -1, "x"}} << false << 0;
        QTest::newRow("cut and grown back")
            << std::vector<Edit>{{-1, kSize - 200, {}}, {kSize - 200, -1, QByteArray(200, 'z')}}
            << true << 1;
    }

    void recordedEditsActAsTheFile()
    {
        QFETCH(std::vector<Edit>, edits);
        QFETCH(bool, inPlace);
        QFETCH(int, regions);
        const QString copy = m_dir.filePath(QStringLiteral("edited.bin"));
        QFile::remove(copy);
        QVERIFY(QFile::copy(QString::fromLocal8Bit(m_path), copy));
        TagLib::FileStream reference(QFile::encodeName(copy).constData());
        const int fd = ::open(m_path.constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        tagwrapper::DescriptorStream stream(fd, m_path.constData());
        stream.recordEdits();
        for (const Edit& e : edits) {
            apply(reference, e);
            apply(stream, e);
            QCOMPARE(stream.length(), reference.length());
            QCOMPARE(stream.tell(), reference.tell());
        }
        const TagLib::ByteVector expected = wholeOf(reference);
        QVERIFY(wholeOf(stream) == expected);
        QVERIFY(!stream.failed());

        const std::unique_ptr<tagwrapper::PendingEdits> recorded = stream.takeEdits();
        QCOMPARE(recorded->keepsLayout(), inPlace);
        if (inPlace)
            QCOMPARE(int(recorded->changedRegions().size()), regions);
        const QByteArray outPath = QFile::encodeName(m_dir.filePath(QStringLiteral("out.bin")));
        const int out = ::open(outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        QVERIFY(out >= 0);
        QVERIFY(recorded->writeTo(out));
        ::close(out);
        QFile written(QString::fromLocal8Bit(outPath));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.readAll() == QByteArray(expected.data(), qsizetype(expected.size())));
        // The file under the stream was never written.
        QCOMPARE(stream.length(), kSize);
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

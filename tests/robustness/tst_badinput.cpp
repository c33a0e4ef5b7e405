// The tag operations on every kind of bad input, through the real libtagwrapper.so: the
// shared corpus of real-world and deliberately broken files, damaged copies of our own
// samples (cut short, bits flipped, pure garbage, empty), and things that are no regular
// file at all. Reading must answer within a second; writing and stripping must either work
// or fail without touching the file; no operation may change a file's audio data.
#include "audiopayload.h"
#include "services/nativepath.h"
#include "tags/taglibrary.h"
#include "tags/tagoperations.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace tagora;
using robustness::audioPayload;

namespace {

const char* const kTypes[] = {"mp3", "ogg", "wma", "ape", "m4a", "flac"};
constexpr qint64 kReadLimitMs = 1000;
constexpr int kBitFlippedCopies = 8;

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray sample(const char* type)
{
    return contents(QStringLiteral(TAGORA_FIXTURES_DIR "/sample.") + QLatin1String(type));
}

audiotag someTag()
{
    audiotag tag;
    tag.Title = QStringLiteral("Bad Input ✓");
    tag.Artist = QStringLiteral("Кто-то");
    tag.Album = QStringLiteral("Album");
    tag.Track = QStringLiteral("3");
    tag.Year = QStringLiteral("2001");
    tag.Genre = QStringLiteral("Noise");
    tag.Comment = QStringLiteral("a comment\nwith two lines");
    tag.Copyright = QStringLiteral("© nobody");
    tag.Bpm = QStringLiteral("99");
    tag.Key = QStringLiteral("C");
    return tag;
}

// Reads the file and fails the test when the library takes longer than a second.
audiotag timedRead(const QString& path)
{
    audiotag tag;
    QElapsedTimer timer;
    timer.start();
    ReadTag(path, tag);
    const qint64 ms = timer.elapsed();
    if (ms > kReadLimitMs)
        QTest::qFail(qPrintable(QStringLiteral("ReadTag took %1 ms").arg(ms)), __FILE__, __LINE__);
    return tag;
}

// Bits flipped at random places, the same ones on every run.
QByteArray flipBits(QByteArray bytes, std::mt19937& random, int count)
{
    if (bytes.isEmpty())
        return bytes;
    std::uniform_int_distribution<qsizetype> at(0, bytes.size() - 1);
    std::uniform_int_distribution<int> bit(0, 7);
    for (int i = 0; i < count; ++i)
        bytes[at(random)] ^= char(1 << bit(random));
    return bytes;
}

QByteArray garbage(std::mt19937& random, qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(random() & 0xff);
    return bytes;
}

bool isFifo(const QString& path)
{
    struct stat st;
    return ::lstat(pathToNative(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
}

} // namespace

class BadInputTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // Read, write, read, strip, read: every step answers, and every step that does not
    // succeed leaves the file as it was. What succeeds leaves the audio data as it was.
    void exercise(const QString& path, const QString& extension)
    {
        const QByteArray original = contents(path);
        const std::optional<QByteArray> audio = audioPayload(original, extension);
        timedRead(path);
        if (QTest::currentTestFailed())
            return;

        const audiotag written = someTag();
        const WriteTagResult result = WriteTag(path, written);
        const QByteArray afterWrite = contents(path);
        if (result != WriteTagResult::Saved) {
            QCOMPARE(afterWrite, original);
        } else {
            const audiotag read = timedRead(path);
            QCOMPARE(read.Title, written.Title);
            QCOMPARE(read.Comment, written.Comment);
            if (audio)
                QCOMPARE(audioPayload(afterWrite, extension), audio);
        }

        if (!RemoveTag(path)) {
            QCOMPARE(contents(path), afterWrite);
        } else {
            const audiotag read = timedRead(path);
            QVERIFY(read.Title.isEmpty());
            if (audio)
                QCOMPARE(audioPayload(contents(path), extension), audio);
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        LoadTagLibrary();
        QVERIFY2(TagLibraryLoaded(), "libtagwrapper.so not found beside the test program");
    }
    void cleanupTestCase() { UnloadTagLibrary(); }

    void corpusFile_data()
    {
        QTest::addColumn<QString>("source");
        const QDir corpus(QStringLiteral(TAGORA_CORPUS_DIR));
        QStringList filters;
        for (const char* type : kTypes)
            filters << QStringLiteral("*.") + QLatin1String(type);
        const QFileInfoList files = corpus.entryInfoList(filters, QDir::Files, QDir::Name);
        if (files.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no audio corpus at %1").arg(corpus.absolutePath())));
        for (const QFileInfo& info : files)
            QTest::newRow(qPrintable(info.fileName())) << info.filePath();
    }
    void corpusFile()
    {
        QFETCH(QString, source);
        const QFileInfo info(source);
        const QString path = m_dir.filePath(QStringLiteral("corpus.") + info.suffix());
        QFile::remove(path);
        // The corpus is read-only; the copy must be writable or nothing would be written.
        QVERIFY(writeFile(path, contents(source)));
        exercise(path, info.suffix());
    }

    void damagedSample_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QByteArray>("bytes");
        std::mt19937 random(20240611);
        for (const char* type : kTypes) {
            const QString ext = QLatin1String(type);
            const QByteArray whole = sample(type);
            QVERIFY(!whole.isEmpty());
            for (int sixteenth = 1; sixteenth < 16; ++sixteenth)
                QTest::addRow("%s cut at %d/16", type, sixteenth)
                    << ext << whole.left(whole.size() * sixteenth / 16);
            for (int copy = 0; copy < kBitFlippedCopies; ++copy) {
                const int bits = 1 << copy; // 1 to 128 bits
                QTest::addRow("%s %d bits flipped", type, bits)
                    << ext << flipBits(whole, random, bits);
            }
            QTest::addRow("%s garbage", type) << ext << garbage(random, whole.size());
            QTest::addRow("%s empty", type) << ext << QByteArray();
        }
    }
    void damagedSample()
    {
        QFETCH(QString, extension);
        QFETCH(QByteArray, bytes);
        const QString path = m_dir.filePath(QStringLiteral("damaged.") + extension);
        QVERIFY(writeFile(path, bytes));
        exercise(path, extension);
    }

    // Nothing but a regular file reaches TagLib: each of these reads as the empty record at
    // once, cannot be written or stripped, and stays what it was.
    void notARegularFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("extension");
        for (const char* kind :
             {"fifo", "link to /dev/zero", "dangling link", "link loop", "directory"}) {
            for (const char* type : kTypes)
                QTest::addRow("%s .%s", kind, type)
                    << QString::fromLatin1(kind) << QString::fromLatin1(type);
        }
    }
    void notARegularFile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, extension);
        const QString path = m_dir.filePath(QStringLiteral("x.") + extension);
        const QByteArray native = pathToNative(path);
        const QString loopPartner = m_dir.filePath(QStringLiteral("loop.") + extension);
        const auto cleanUp = qScopeGuard([&] {
            ::unlink(native.constData());
            ::rmdir(native.constData());
            ::unlink(pathToNative(loopPartner).constData());
        });
        QString target;
        if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(native.constData(), 0644), 0);
        } else if (kind == QLatin1String("link to /dev/zero")) {
            target = QStringLiteral("/dev/zero");
        } else if (kind == QLatin1String("dangling link")) {
            target = m_dir.filePath(QStringLiteral("nowhere.") + extension);
        } else if (kind == QLatin1String("link loop")) {
            target = loopPartner;
            QVERIFY(QFile::link(path, loopPartner));
        } else {
            QVERIFY(QDir().mkdir(path));
        }
        if (!target.isEmpty())
            QVERIFY(QFile::link(target, path));

        QCOMPARE(timedRead(path), audiotag());
        QCOMPARE(WriteTag(path, someTag()), WriteTagResult::NotOpened);
        QVERIFY(!RemoveTag(path));

        if (kind == QLatin1String("fifo"))
            QVERIFY(isFifo(path));
        else if (kind == QLatin1String("directory"))
            QVERIFY(QDir(path).isEmpty());
        else
            QCOMPARE(QFileInfo(path).symLinkTarget(), QFileInfo(target).absoluteFilePath());
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("nowhere.") + extension)));
    }

    // A value of a whole megabyte is written and read back without losing a character.
    void megabyteValue_data()
    {
        QTest::addColumn<QString>("extension");
        for (const char* type : kTypes)
            QTest::newRow(type) << QString::fromLatin1(type);
    }
    void megabyteValue()
    {
        QFETCH(QString, extension);
        const QString path = m_dir.filePath(QStringLiteral("large.") + extension);
        QVERIFY(writeFile(path, sample(extension.toLatin1().constData())));
        const QByteArray before = contents(path);
        QString value;
        value.reserve(1 << 20);
        for (int line = 0; value.size() < (1 << 20); ++line)
            value += QStringLiteral("line %1: Ünïcødé ♪ 0123456789abcdefghij\n").arg(line);
        audiotag tag = someTag();
        tag.Comment = value;
        const WriteTagResult result = WriteTag(path, tag);
        if (result != WriteTagResult::Saved)
            QCOMPARE(contents(path), before);
        static const char kAsfLimit[] = "ASF keeps the comment in a field of at most 64 KB, and "
                                        "TagLib 1.13 lets a longer text's length wrap around";
        QEXPECT_FAIL("wma", kAsfLimit, Abort);
        QCOMPARE(result, WriteTagResult::Saved);
        const audiotag read = timedRead(path);
        QEXPECT_FAIL("wma", kAsfLimit, Abort);
        QCOMPARE(read.Comment.size(), value.size());
        QVERIFY(read.Comment == value);
        QCOMPARE(audioPayload(contents(path), extension), audioPayload(before, extension));
    }
};

QTEST_GUILESS_MAIN(BadInputTest)
#include "tst_badinput.moc"

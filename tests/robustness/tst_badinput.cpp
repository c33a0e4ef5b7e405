// The tag operations on every kind of bad input, through the real libtagwrapper.so: the
// shared corpus of real-world and deliberately broken files, damaged copies of our own
// samples (cut short, bits flipped, pure garbage, empty), and things that are no regular
// file at all. Reading must answer within a second; writing and stripping must either work
// or fail without touching the file; no operation may change a file's audio data.
#include "services/nativepath.h"
#include "support/audiopayload.h"
#include "support/bytes.h"
#include "support/fixtures.h"
#include "support/sampletags.h"
#include "support/taglibraryloaded.h"
#include "tags/taglibrary.h"
#include "tags/tagoperations.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace tagora;
using namespace tagora::test;

namespace {

constexpr qint64 kReadLimitMs = 1000;
constexpr int kBitFlippedCopies = 8;

QByteArray sample(const char* type)
{
    return contents(sampleFile(QLatin1String(type)));
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

// Atoms nested `depth` deep, each the only child of the one before.
QByteArray nestedMp4(int depth)
{
    QByteArray bytes;
    bytes.reserve(depth * 8);
    for (int i = 0; i < depth; ++i)
        bytes += bigEndian32(quint32(8 * (depth - i))) + "moov";
    return bytes;
}

// A Vorbis comment whose first field length, added to the position in 32 bits, wraps back
// to that very length field: a parser that trusts it reads the rest of the block as one
// field, `fields` times over.
QByteArray wrappingComment(int size)
{
    const int fields = (size - 8) / 4;
    QByteArray comment = littleEndian32(1) + "v" + littleEndian32(quint32(fields));
    comment += littleEndian32(0xfffffffcu) + "A=";
    comment += QByteArray(size - comment.size(), 'x');
    return comment;
}

// The sample FLAC with its Vorbis comment block replaced by `comment`.
QByteArray flacWithComment(const QByteArray& flac, const QByteArray& comment)
{
    qsizetype pos = flac.indexOf("fLaC") + 4;
    QByteArray out = flac.left(pos);
    for (bool last = false; !last && pos + 4 <= flac.size();) {
        const int type = quint8(flac[pos]) & 0x7f;
        last = (quint8(flac[pos]) & 0x80) != 0;
        const qsizetype length =
            (quint8(flac[pos + 1]) << 16) | (quint8(flac[pos + 2]) << 8) | quint8(flac[pos + 3]);
        if (type != 4)
            out += flac.mid(pos, 4 + length);
        pos += 4 + length;
    }
    // The last block keeps its flag; the new comment goes last.
    for (qsizetype at = 4; at < out.size();) {
        const qsizetype length =
            (quint8(out[at + 1]) << 16) | (quint8(out[at + 2]) << 8) | quint8(out[at + 3]);
        out[at] = char(out[at] & 0x7f);
        at += 4 + length;
    }
    out += char(0x84) + bigEndian32(quint32(comment.size())).mid(1) + comment;
    return out + flac.mid(pos);
}

quint32 oggCrc(const QByteArray& page)
{
    quint32 crc = 0;
    for (const char c : page) {
        crc ^= quint32(quint8(c)) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04c11db7u : crc << 1;
    }
    return crc;
}

// Pages carrying one packet, numbered from `sequence` on.
QByteArray oggPages(const QByteArray& packet, quint32 serial, quint32& sequence)
{
    QByteArray pages;
    qsizetype pos = 0;
    bool continued = false;
    do {
        QByteArray lacing;
        qsizetype data = 0;
        while (lacing.size() < 255) {
            const qsizetype piece = qMin<qsizetype>(255, packet.size() - pos - data);
            lacing += char(piece);
            data += piece;
            if (piece < 255)
                break;
        }
        const bool ends = quint8(lacing.back()) < 255;
        QByteArray page = "OggS" + QByteArray(1, 0) + char(continued ? 1 : 0);
        page += QByteArray(8, ends ? 0 : char(0xff)) + littleEndian32(serial) +
                littleEndian32(sequence++) + QByteArray(4, 0) + char(lacing.size()) + lacing +
                packet.mid(pos, data);
        const QByteArray crc = littleEndian32(oggCrc(page));
        page.replace(22, 4, crc);
        pages += page;
        pos += data;
        continued = !ends;
        if (ends)
            break;
    } while (true);
    return pages;
}

// The sample Ogg Vorbis file with its comment header replaced by "\x03vorbis" + `comment`.
// The sample keeps the identification header on the first page and the comment and setup
// headers on the pages up to the first audio page, which are rebuilt.
QByteArray oggWithComment(const QByteArray& ogg, const QByteArray& comment)
{
    QList<QByteArray> packets(1);
    qsizetype pos = 0;
    qsizetype firstPageEnd = -1;
    while (pos + 27 <= ogg.size() && packets.size() <= 3) {
        const int segments = quint8(ogg[pos + 26]);
        qsizetype data = pos + 27 + segments;
        for (int s = 0; s < segments; ++s) {
            const int lacing = quint8(ogg[pos + 27 + s]);
            packets.back() += ogg.mid(data, lacing);
            data += lacing;
            if (lacing < 255)
                packets.append(QByteArray());
        }
        if (firstPageEnd < 0)
            firstPageEnd = data;
        pos = data;
    }
    if (packets.size() <= 3)
        return QByteArray(); // the sample is not laid out as expected
    const quint32 serial = quint8(ogg[14]) | quint8(ogg[15]) << 8 | quint8(ogg[16]) << 16 |
                           quint32(quint8(ogg[17])) << 24;
    quint32 sequence = 1;
    QByteArray out = ogg.left(firstPageEnd);
    out += oggPages("\x03vorbis" + comment + char(1), serial, sequence);
    out += oggPages(packets[2], serial, sequence);
    return out + ogg.mid(pos);
}

// The sample MP4 file with the entry count of its chunk offset table made far larger than
// the table.
QByteArray mp4WithHugeOffsetCount(QByteArray mp4)
{
    const qsizetype at = mp4.indexOf("stco");
    if (at < 0)
        return QByteArray();
    mp4.replace(at + 8, 4, bigEndian32(0x40000000));
    return mp4;
}

// The sample MP4 (whose moov, udta and meta end the file) with a "free" atom beside its "ilst"
// claiming gigabytes: a save would pad the tag to fill that room.
QByteArray mp4WithHugeRoomBesideTag(QByteArray mp4)
{
    for (const char* container : {"moov", "udta", "meta"}) {
        const qsizetype at = mp4.indexOf(container) - 4;
        if (at < 0)
            return QByteArray();
        mp4.replace(at, 4, bigEndian32(qFromBigEndian<quint32>(mp4.constData() + at) + 8));
    }
    return mp4 + bigEndian32(0xdcdcdcdc) + "free";
}

QByteArray synchsafe(quint32 v)
{
    const char b[] = {char((v >> 21) & 0x7f), char((v >> 14) & 0x7f), char((v >> 7) & 0x7f),
                      char(v & 0x7f)};
    return QByteArray(b, 4);
}

// The sample MP3 behind an ID3v2.4 tag whose one compressed frame inflates to `inflated`
// zero bytes (a thousandth of that in the file).
QByteArray mp3WithCompressedFrame(const QByteArray& mp3, int inflated)
{
    const QByteArray zlibStream = qCompress(QByteArray(inflated, '\0'), 9).mid(4);
    const QByteArray data = synchsafe(quint32(inflated)) + zlibStream;
    // Flags: compressed, with a data length indicator.
    const QByteArray frame = "TXXX" + synchsafe(quint32(data.size())) + '\0' + '\x09' + data;
    return "ID3" + QByteArray("\x04\0\0", 3) + synchsafe(quint32(frame.size())) + frame + mp3;
}

// A mono 8 kHz WAV file of silence, its ID3v2 tag `id3` (the tag alone, without audio) in a
// chunk after the audio, as mutagen and most taggers place it.
QByteArray wavWithId3Chunk(const QByteArray& id3)
{
    const QByteArray format = QByteArray::fromHex("01000100401f0000803e00000200"
                                                  "1000");
    QByteArray body = "WAVEfmt " + littleEndian32(quint32(format.size())) + format + "data" +
                      littleEndian32(800) + QByteArray(800, '\0');
    body += "ID3 " + littleEndian32(quint32(id3.size())) + id3;
    if (id3.size() % 2)
        body += '\0';
    return "RIFF" + littleEndian32(quint32(body.size())) + body;
}

// The header of a TrueAudio file of one second, mono, 16 bits at 44.1 kHz, and a little of its
// (here silent) audio.
QByteArray trueAudio()
{
    return "TTA1" +
           QByteArray::fromHex("010001001000"
                               "44ac0000"
                               "44ac0000"
                               "00000000") +
           QByteArray(64, '\0');
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
        const std::optional<QByteArray> audio = audioPayload(extension, original);
        timedRead(path);
        if (QTest::currentTestFailed())
            return;

        const audiotag written = unicodeTag();
        const WriteTagResult result = WriteTag(path, written);
        const QByteArray afterWrite = contents(path);
        if (result != WriteTagResult::Saved) {
            QCOMPARE(afterWrite, original);
        } else {
            const audiotag read = timedRead(path);
            QCOMPARE(read.Title, written.Title);
            QCOMPARE(read.Comment, written.Comment);
            if (audio)
                QCOMPARE(audioPayload(extension, afterWrite), audio);
        }

        if (!RemoveTag(path)) {
            QCOMPARE(contents(path), afterWrite);
        } else {
            const audiotag read = timedRead(path);
            QVERIFY(read.Title.isEmpty());
            if (audio)
                QCOMPARE(audioPayload(extension, contents(path)), audio);
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        loadTagLibraryBesideProgram();
    }
    void cleanupTestCase() { UnloadTagLibrary(); }

    void corpusFile_data()
    {
        QTest::addColumn<QString>("source");
        const QDir corpus(QStringLiteral(TAGORA_CORPUS_DIR));
        QStringList filters;
        for (const char* type : kAudioTypes)
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
        for (const char* type : kAudioTypes) {
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

    // Structures TagLib 1.13 mishandles (a stack overflow, gigabytes allocated, a save that
    // writes billions of entries): the library refuses these files as unreadable, at once.
    void guardedStructure_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("m4a atoms nested 100000 deep") << QStringLiteral("m4a") << nestedMp4(100000);
        QTest::newRow("m4a chunk offset count beyond its table")
            << QStringLiteral("m4a") << mp4WithHugeOffsetCount(sample("m4a"));
        QTest::newRow("m4a free atom beside the tag, beyond its meta")
            << QStringLiteral("m4a") << mp4WithHugeRoomBesideTag(sample("m4a"));
        QTest::newRow("flac comment field length wraps")
            << QStringLiteral("flac") << flacWithComment(sample("flac"), wrappingComment(65536));
        QTest::newRow("flac vendor length beyond the block")
            << QStringLiteral("flac")
            << flacWithComment(sample("flac"), littleEndian32(0xfffffff0u) + QByteArray(64, 'v'));
        QTest::newRow("mp3 compressed frame inflating to 64 MB")
            << QStringLiteral("mp3") << mp3WithCompressedFrame(sample("mp3"), 64 << 20);
        QTest::newRow("mp3 junk, then that frame")
            << QStringLiteral("mp3")
            << QByteArray(5000, '\0') + mp3WithCompressedFrame(sample("mp3"), 64 << 20);
        QTest::newRow("ogg comment field length wraps")
            << QStringLiteral("ogg") << oggWithComment(sample("ogg"), wrappingComment(65536));
        // TagLib parses a file its extension's type calls invalid as whatever the content is.
        for (const char* type : {"flac", "ogg", "wma", "opus"})
            QTest::addRow("%s named, MP4 atoms nested 100000 deep", type)
                << QString::fromLatin1(type)
                << bigEndian32(16) + "ftypM4A " + bigEndian32(0) + nestedMp4(100000);
        QTest::newRow("m4a named, FLAC comment length wraps")
            << QStringLiteral("m4a") << flacWithComment(sample("flac"), wrappingComment(65536));
        // tagora-cli's other types.
        QTest::newRow("wav ID3 chunk, its compressed frame inflating to 64 MB")
            << QStringLiteral("wav")
            << wavWithId3Chunk(mp3WithCompressedFrame(QByteArray(), 64 << 20));
        QTest::newRow("tta compressed frame inflating to 64 MB")
            << QStringLiteral("tta") << mp3WithCompressedFrame(trueAudio(), 64 << 20);
        QTest::newRow("m4b atoms nested 100000 deep") << QStringLiteral("m4b") << nestedMp4(100000);
        QTest::newRow("opus named, Vorbis inside, comment field length wraps")
            << QStringLiteral("opus") << oggWithComment(sample("ogg"), wrappingComment(65536));
    }
    void guardedStructure()
    {
        QFETCH(QString, extension);
        QFETCH(QByteArray, bytes);
        QVERIFY(!bytes.isEmpty());
        const QString path = m_dir.filePath(QStringLiteral("hostile.") + extension);
        QVERIFY(writeFile(path, bytes));
        QCOMPARE(timedRead(path), audiotag());
        QCOMPARE(WriteTag(path, unicodeTag()), WriteTagResult::NotOpened);
        QVERIFY(!RemoveTag(path));
        QCOMPARE(contents(path), bytes);
    }

    // The same files with the hostile part made harmless read as before, so the checks do
    // not refuse more than they should.
    void harmlessVariantsStillRead_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray plainComment =
            littleEndian32(1) + "v" + littleEndian32(1) + littleEndian32(9) + "TITLE=abc";
        QTest::newRow("mp3 compressed frame inflating to 64 KB")
            << QStringLiteral("mp3") << mp3WithCompressedFrame(sample("mp3"), 64 << 10);
        QTest::newRow("flac rebuilt comment")
            << QStringLiteral("flac") << flacWithComment(sample("flac"), plainComment);
        QTest::newRow("ogg rebuilt comment")
            << QStringLiteral("ogg") << oggWithComment(sample("ogg"), plainComment);
        QTest::newRow("wav ID3 chunk, its compressed frame inflating to 64 KB")
            << QStringLiteral("wav")
            << wavWithId3Chunk(mp3WithCompressedFrame(QByteArray(), 64 << 10));
        QTest::newRow("tta compressed frame inflating to 64 KB")
            << QStringLiteral("tta") << mp3WithCompressedFrame(trueAudio(), 64 << 10);
    }
    void harmlessVariantsStillRead()
    {
        QFETCH(QString, extension);
        QFETCH(QByteArray, bytes);
        const QString path = m_dir.filePath(QStringLiteral("harmless.") + extension);
        QVERIFY(writeFile(path, bytes));
        if (extension == QLatin1String("mp3"))
            QCOMPARE(timedRead(path).Length, 2); // no title here, but a readable file
        else if (extension == QLatin1String("wav") || extension == QLatin1String("tta"))
            QCOMPARE(timedRead(path).Title, QString());
        else
            QCOMPARE(timedRead(path).Title, QStringLiteral("abc"));
        QCOMPARE(WriteTag(path, unicodeTag()), WriteTagResult::Saved);
        QCOMPARE(timedRead(path).Title, unicodeTag().Title);
    }

    // Nothing but a regular file reaches TagLib: each of these reads as the empty record at
    // once, cannot be written or stripped, and stays what it was.
    void notARegularFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("extension");
        for (const char* kind :
             {"fifo", "link to /dev/zero", "dangling link", "link loop", "directory"}) {
            for (const char* type : kAudioTypes)
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
        QCOMPARE(WriteTag(path, unicodeTag()), WriteTagResult::NotOpened);
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
    void megabyteValue_data() { addTypeRows("extension"); }
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
        audiotag tag = unicodeTag();
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
        QCOMPARE(audioPayload(extension, contents(path)), audioPayload(extension, before));
    }
};

QTEST_GUILESS_MAIN(BadInputTest)
#include "tst_badinput.moc"

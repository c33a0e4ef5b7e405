// The picture entry points of libtagwrapper.so on files of every type tagged by mutagen (a front
// and a back cover among many other items); mutagen reads the result.
#include "tagwrapper.h"

#include "support/fixtures.h"
#include "support/mutagen.h"
#include "support/testimages.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace tagora::test;

namespace {

const QString kPictures = QStringLiteral(TAGORA_PICTURES_DIR "/pictures.py");

QByteArray runPictures(const QString& command, const QStringList& paths)
{
    return runPython(QStringList{kPictures, command} + paths);
}

// mutagen's view of each file: its pictures, then every other item, sorted.
QHash<QString, QStringList> mutagenViews(const QStringList& paths)
{
    return sortedDumps(kPictures, paths);
}

QStringList mutagenView(const QString& path)
{
    return mutagenViews({path}).value(path);
}

// A picture as mutagen's view names it; APE stores no MIME type.
QString pictureLine(const QString& type, int kind, const QString& mime, const QString& desc,
                    const QByteArray& data)
{
    return QStringLiteral("picture=%1|%2|%3|%4|%5")
        .arg(kind)
        .arg(type == QLatin1String("ape") ? QStringLiteral("-") : mime, desc)
        .arg(data.size())
        .arg(QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex()));
}

struct Cover
{
    int type = -1;
    QByteArray mime;
    QByteArray description;
    QByteArray data;
};

Cover coverAt(TagLib_File* file, int index)
{
    Cover cover;
    char* mime = nullptr;
    char* description = nullptr;
    unsigned int size = 0;
    if (!taglib_tag_get_cover(file, index, &cover.type, &mime, &description))
        return cover;
    const char* data = taglib_tag_get_cover_data(file, index, &size);
    cover.mime = mime;
    cover.description = description;
    cover.data = QByteArray(data, int(size));
    taglib_tag_free_strings();
    return cover;
}

// The first picture of the given type, -1 for none.
int indexOfType(TagLib_File* file, int type)
{
    for (int i = 0; i < taglib_tag_get_cover_count(file); ++i) {
        if (coverAt(file, i).type == type)
            return i;
    }
    return -1;
}

struct OpenFile
{
    explicit OpenFile(const QString& path) : file(taglib_file_newu(QFile::encodeName(path))) {}
    ~OpenFile() { taglib_file_free(file); }
    TagLib_File* file;
};

} // namespace

class TestPictures : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QHash<QString, QStringList> m_made; // mutagen's view of each made file, by type
    int m_copies = 0;

    QString made(const QString& type) const
    {
        return m_dir.filePath(QStringLiteral("made.") + type);
    }

    // A fresh copy of the file mutagen made.
    QString copyOfMade(const QString& type)
    {
        const QString path = m_dir.filePath(QStringLiteral("copy%1.").arg(++m_copies) + type);
        return QFile::copy(made(type), path) ? path : QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!mutagenInstalled())
            QSKIP("python3 with mutagen is needed (scripts/install-deps.sh)");
        const QStringList paths = copiesOfSamples(m_dir.path());
        QVERIFY(!paths.isEmpty());
        QCOMPARE(runPictures(QStringLiteral("make"), paths), QByteArray());
        const QHash<QString, QStringList> views = mutagenViews(paths);
        for (const char* type : kAudioTypes)
            m_made[QLatin1String(type)] = views.value(made(QLatin1String(type)));
    }

    void replaceByTypeKeepsTheRest_data() { addTypeRows(); }
    void replaceByTypeKeepsTheRest()
    {
        QFETCH(QString, type);
        const QString path = copyOfMade(type);
        const QByteArray jpeg = tinyJpeg(3, 2);
        Cover front;
        {
            OpenFile f(path);
            QCOMPARE(taglib_tag_get_cover_count(f.file), 2);
            front = coverAt(f.file, indexOfType(f.file, 3));
            QVERIFY(taglib_tag_set_cover(f.file, 3, "image/jpeg", front.description,
                                         jpeg.constData(), unsigned(jpeg.size())));
            QVERIFY(taglib_file_save(f.file));
        }
        OpenFile reopened(path);
        QCOMPARE(taglib_tag_get_cover_count(reopened.file), 2);
        QCOMPARE(coverAt(reopened.file, indexOfType(reopened.file, 3)).data, jpeg);
        QStringList expected = m_made[type];
        expected.replaceInStrings(pictureLine(type, 3, QStringLiteral("image/png"),
                                              QString::fromUtf8(front.description), front.data),
                                  pictureLine(type, 3, QStringLiteral("image/jpeg"),
                                              QString::fromUtf8(front.description), jpeg));
        expected.sort();
        QCOMPARE(mutagenView(path), expected);
    }

    // MP4 keeps only front covers without a description: anything else is refused and the
    // file stays as it is.
    void addAnotherType_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("held");
        for (const char* type : kAudioTypes)
            QTest::newRow(type) << QString::fromLatin1(type) << (QByteArray(type) != "m4a");
    }
    void addAnotherType()
    {
        QFETCH(QString, type);
        QFETCH(bool, held);
        const QString path = copyOfMade(type);
        const QByteArray png = tinyPng(2, 2);
        {
            OpenFile f(path);
            QCOMPARE(bool(taglib_tag_set_cover(f.file, 5, "image/png", "inside", png.constData(),
                                               unsigned(png.size()))),
                     held);
            QCOMPARE(taglib_tag_get_cover_count(f.file), held ? 3 : 2);
            QVERIFY(taglib_file_save(f.file));
        }
        if (!held) {
            QCOMPARE(contents(path), contents(made(type)));
            return;
        }
        QStringList expected = m_made[type];
        expected.append(
            pictureLine(type, 5, QStringLiteral("image/png"), QStringLiteral("inside"), png));
        expected.sort();
        QCOMPARE(mutagenView(path), expected);
    }

    void removeAllLeavesNone_data() { addTypeRows(); }
    void removeAllLeavesNone()
    {
        QFETCH(QString, type);
        const QString path = copyOfMade(type);
        {
            OpenFile f(path);
            QVERIFY(taglib_tag_remove_cover(f.file, -1));
            QCOMPARE(taglib_tag_get_cover_count(f.file), 0);
            QVERIFY(!taglib_tag_remove_cover(f.file, -1));
            QVERIFY(taglib_file_save(f.file));
        }
        QStringList expected = m_made[type];
        expected.erase(std::remove_if(expected.begin(), expected.end(),
                                      [](const QString& line) {
                                          return line.startsWith(QLatin1String("picture="));
                                      }),
                       expected.end());
        QCOMPARE(mutagenView(path), expected);
    }

    // Bad arguments are refused before anything changes, and the save then writes nothing.
    void refusedArguments_data()
    {
        QTest::addColumn<int>("pictureType");
        QTest::addColumn<QByteArray>("mime");
        QTest::addColumn<int>("size");
        QTest::newRow("type below 0") << -1 << QByteArray("image/png") << 10;
        QTest::newRow("type above 20") << 21 << QByteArray("image/png") << 10;
        QTest::newRow("empty MIME type") << 3 << QByteArray() << 10;
        QTest::newRow("MIME type with a space") << 3 << QByteArray("image/ png") << 10;
        QTest::newRow("MIME type without a slash") << 3 << QByteArray("png") << 10;
        QTest::newRow("MIME type beyond ASCII") << 3 << QByteArray("image/p\xc3\xa9") << 10;
        QTest::newRow("MIME type over 64 characters")
            << 3 << QByteArray("image/" + QByteArray(59, 'x')) << 10;
        // A FLAC metadata block cannot hold this many.
        QTest::newRow("over a FLAC block") << 3 << QByteArray("image/png") << (1 << 24);
    }
    void refusedArguments()
    {
        QFETCH(int, pictureType);
        QFETCH(QByteArray, mime);
        QFETCH(int, size);
        const QString path = copyOfMade(QStringLiteral("flac"));
        const QByteArray data = tinyPng(1, 1).leftJustified(size, '\0', true);
        OpenFile f(path);
        QVERIFY(!taglib_tag_set_cover(f.file, pictureType, mime.constData(), "", data.constData(),
                                      unsigned(data.size())));
        QCOMPARE(taglib_tag_get_cover_count(f.file), 2);
        QVERIFY(taglib_file_save(f.file));
        QCOMPARE(contents(path), contents(made(QStringLiteral("flac"))));
    }

    // A file may hold a picture without bytes (some MP4 files do); undo must be able to put
    // such a one back.
    void emptyPictureRoundTrips_data() { addTypeRows(); }
    void emptyPictureRoundTrips()
    {
        QFETCH(QString, type);
        const QString path = copyOfMade(type);
        // MP4 keeps front covers without a description only.
        const bool mp4 = type == QLatin1String("m4a");
        const QByteArray description = mp4 ? "" : "empty";
        {
            OpenFile f(path);
            QVERIFY(taglib_tag_add_cover(f.file, mp4 ? 3 : 0, "application/octet-stream",
                                         description, "", 0));
            QVERIFY(taglib_file_save(f.file));
        }
        OpenFile reopened(path);
        QCOMPARE(taglib_tag_get_cover_count(reopened.file), 3);
        Cover empty; // where it lands depends on the format (ASF orders its own attributes)
        for (int i = 0; i < 3 && empty.type < 0; ++i) {
            if (coverAt(reopened.file, i).data.isEmpty())
                empty = coverAt(reopened.file, i);
        }
        QCOMPARE(empty.description, description);
        QCOMPARE(empty.mime, QByteArray("application/octet-stream"));
        QCOMPARE(empty.data, QByteArray());
    }

    // The types beyond the six that carry an ID3v2 tag keep their pictures in it too.
    void otherId3v2TypesHoldPictures_data()
    {
        QTest::addColumn<QString>("type");
        QTest::newRow("wav") << QStringLiteral("wav");
        QTest::newRow("aiff") << QStringLiteral("aiff");
    }
    void otherId3v2TypesHoldPictures()
    {
        QFETCH(QString, type);
        const QString path = m_dir.filePath(QStringLiteral("pcm.") + type);
        QCOMPARE(runPictures(QStringLiteral("pcm"), {path}), QByteArray());
        const QStringList before = mutagenView(path);
        const QByteArray jpeg = tinyJpeg(5, 5);
        {
            OpenFile f(path);
            QCOMPARE(taglib_tag_get_cover_count(f.file), 1);
            QVERIFY(taglib_tag_set_cover(f.file, 3, "image/jpeg", "front", jpeg.constData(),
                                         unsigned(jpeg.size())));
            QVERIFY(taglib_file_save(f.file));
        }
        QStringList expected = before;
        expected.append(
            pictureLine(type, 3, QStringLiteral("image/jpeg"), QStringLiteral("front"), jpeg));
        expected.sort();
        QCOMPARE(mutagenView(path), expected);
    }

    void outOfRangeIndexGivesNothing()
    {
        OpenFile f(made(QStringLiteral("mp3")));
        unsigned int size = 7;
        QVERIFY(!taglib_tag_get_cover(f.file, 2, nullptr, nullptr, nullptr));
        QVERIFY(!taglib_tag_get_cover(f.file, -1, nullptr, nullptr, nullptr));
        QVERIFY(!taglib_tag_get_cover_data(f.file, 2, &size));
        QVERIFY(!taglib_tag_get_cover_data(f.file, 0, nullptr));
        QVERIFY(!taglib_tag_remove_cover(f.file, 2));
        QVERIFY(!taglib_tag_remove_cover(f.file, -2));
        QCOMPARE(size, 7u);
        QCOMPARE(taglib_tag_get_cover_count(nullptr), 0);
    }

    // TagLib adds a picture's lengths to their positions in 32 bits; a wrapping one would make
    // it take garbage for the picture and write that back on any save. Such a file is refused.
    void wrappingPictureLengthIsRefused_data()
    {
        QTest::addColumn<QString>("type");
        QTest::newRow("ogg") << QStringLiteral("ogg");
        QTest::newRow("flac") << QStringLiteral("flac");
    }
    void wrappingPictureLengthIsRefused()
    {
        QFETCH(QString, type);
        const QString path = m_dir.filePath(QStringLiteral("wrapped.") + type);
        QVERIFY(QFile::copy(sampleFile(type), path));
        QCOMPARE(runPictures(QStringLiteral("wrapped"), {path}), QByteArray());
        QVERIFY(!OpenFile(path).file);
    }

    // Setting a picture the file already holds is no change: the save leaves the file alone.
    void samePictureWritesNothing_data() { addTypeRows(); }
    void samePictureWritesNothing()
    {
        QFETCH(QString, type);
        const QString path = copyOfMade(type);
        OpenFile f(path);
        // The first, as an MP4 file's pictures all share type and description.
        const Cover back = coverAt(f.file, 0);
        QVERIFY(taglib_tag_set_cover(f.file, back.type, back.mime, back.description,
                                     back.data.constData(), unsigned(back.data.size())));
        const QDateTime before = QFileInfo(path).lastModified();
        QVERIFY(taglib_file_save(f.file));
        QCOMPARE(contents(path), contents(made(type)));
        QCOMPARE(QFileInfo(path).lastModified(), before);
    }
};

QTEST_GUILESS_MAIN(TestPictures)
#include "tst_pictures.moc"

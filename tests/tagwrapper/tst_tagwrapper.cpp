// libtagwrapper.so through its C entry points, on real files of every supported type; what it
// writes is checked again with TagLib's C++ API, item by item.
#include "tagwrapper.h"

#include "support/audiopayload.h"
#include "support/fixtures.h"
#include "support/sampletags.h"
#include "support/wrapperfields.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/asftag.h>
#include <taglib/flacfile.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <cstdlib>
#include <memory>

namespace {

using namespace tagora::test;

// The plain sample tag in the library's terms: all of it ASCII, the numbers as numbers.
Fields plainFields()
{
    const tagora::audiotag tag = tagora::test::plainTag();
    Fields f;
    f.title = tag.Title;
    f.artist = tag.Artist;
    f.album = tag.Album;
    f.genre = tag.Genre;
    f.comment = tag.Comment;
    f.track = tag.Track.toUInt();
    f.year = tag.Year.toUInt();
    f.copyright = tag.Copyright;
    f.bpm = tag.Bpm;
    f.key = tag.Key;
    return f;
}

// The shared unicode fields with text beyond Latin-1, some of it outside the Basic Multilingual
// Plane, in the genre and in the items the library writes by name as well.
Fields unicodeEverywhere()
{
    Fields f = unicodeFields();
    f.genre = QStringLiteral("Синти-поп");
    f.copyright = QStringLiteral("© 2024 Ünïcødé 🅲");
    f.key = QStringLiteral("F♯m");
    return f;
}

// Every tag item TagLib can see in the file, by its own C++ API, per format.
QStringList remainingItems(const QString& type, const QString& path)
{
    QStringList items;
    const QByteArray name = native(path);
    auto add = [&](const QString& what) { items.append(what); };
    if (type == QLatin1String("mp3")) {
        TagLib::MPEG::File f(name.constData());
        if (f.hasID3v1Tag())
            add(QStringLiteral("ID3v1"));
        if (f.hasID3v2Tag())
            add(QStringLiteral("ID3v2"));
        if (f.hasAPETag())
            add(QStringLiteral("APE"));
    } else if (type == QLatin1String("flac")) {
        TagLib::FLAC::File f(name.constData());
        if (f.hasID3v1Tag())
            add(QStringLiteral("ID3v1"));
        if (f.hasID3v2Tag())
            add(QStringLiteral("ID3v2"));
        if (auto* x = f.xiphComment(false))
            for (const auto& field : x->fieldListMap())
                add(QString::fromStdString(field.first.to8Bit(true)));
        if (!f.pictureList().isEmpty())
            add(QStringLiteral("picture"));
    } else if (type == QLatin1String("ogg")) {
        TagLib::Ogg::Vorbis::File f(name.constData());
        for (const auto& field : f.tag()->fieldListMap())
            add(QString::fromStdString(field.first.to8Bit(true)));
    } else if (type == QLatin1String("ape")) {
        TagLib::APE::File f(name.constData());
        if (f.hasAPETag())
            add(QStringLiteral("APE"));
        if (f.hasID3v1Tag())
            add(QStringLiteral("ID3v1"));
    } else if (type == QLatin1String("m4a")) {
        TagLib::MP4::File f(name.constData());
        for (const auto& item : f.tag()->itemMap())
            add(QString::fromStdString(item.first.to8Bit(true)));
    } else if (type == QLatin1String("wma")) {
        TagLib::ASF::File f(name.constData());
        TagLib::ASF::Tag* t = f.tag();
        for (const auto& attribute : t->attributeListMap())
            add(QString::fromStdString(attribute.first.to8Bit(true)));
        if (!t->title().isEmpty() || !t->artist().isEmpty() || !t->comment().isEmpty() ||
            !t->copyright().isEmpty() || !t->rating().isEmpty())
            add(QStringLiteral("content description"));
    }
    return items;
}

// Adds the tag kinds TagLib reads but our save does not create, so stripping must find them.
void addForeignTags(const QString& type, const QString& path)
{
    const QByteArray name = native(path);
    if (type == QLatin1String("mp3")) {
        TagLib::MPEG::File f(name.constData());
        f.APETag(true)->setTitle("ape title");
        f.save(TagLib::MPEG::File::AllTags, TagLib::MPEG::File::StripNone);
    } else if (type == QLatin1String("flac")) {
        TagLib::FLAC::File f(name.constData());
        f.ID3v2Tag(true)->setTitle("id3v2 title");
        f.ID3v1Tag(true)->setTitle("id3v1 title");
        auto* picture = new TagLib::FLAC::Picture;
        picture->setMimeType("image/png");
        picture->setData(TagLib::ByteVector("not really a png"));
        f.addPicture(picture);
        f.save();
    } else if (type == QLatin1String("ape")) {
        TagLib::APE::File f(name.constData());
        f.ID3v1Tag(true)->setTitle("id3v1 title");
        f.save();
    }
}

} // namespace

class TestTagWrapper : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir* m_dir = nullptr;

    QString copyFixture(const QString& type)
    {
        const QString target = m_dir->filePath(QStringLiteral("copy.") + type);
        QFile::remove(target);
        if (!QFile::copy(tagora::test::sampleFile(type), target))
            return {};
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        return target;
    }

private Q_SLOTS:
    void initTestCase() { taglib_set_strings_unicode(1); }
    void init()
    {
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
    }
    void cleanup()
    {
        delete m_dir;
        m_dir = nullptr;
    }

    void fixturesStartUntagged_data() { addTypeRows(); }
    void fixturesStartUntagged()
    {
        QFETCH(QString, type);
        const QString path = copyFixture(type);
        QCOMPARE(remainingItems(type, path), QStringList());
        QCOMPARE(readAll(path), Fields());
    }

    void lengthIsRead_data() { addTypeRows(); }
    void lengthIsRead()
    {
        QFETCH(QString, type);
        FilePtr file = open(copyFixture(type));
        QVERIFY(file);
        QVERIFY(taglib_file_is_valid(file.get()));
        const TagLib_AudioProperties* properties = taglib_file_audioproperties(file.get());
        QVERIFY(properties);
        QCOMPARE(taglib_audioproperties_length(properties), 2);
        QVERIFY(taglib_audioproperties_samplerate(properties) > 0);
        QVERIFY(taglib_audioproperties_channels(properties) > 0);
    }

    // The names taglib_tag_get_byname takes for the fields it reaches, in any case, give what
    // the fields' own entry points stored; a field of TagLib's generic tag goes by its property.
    void namesReachTheirFields_data() { addTypeRows(); }
    void namesReachTheirFields()
    {
        QFETCH(QString, type);
        FilePtr file = open(copyFixture(type));
        QVERIFY(file);
        taglib_tag_set_key(file.get(), "Am");
        taglib_tag_set_bpm(file.get(), "96");
        taglib_tag_set_track(taglib_file_tag(file.get()), 7);
        taglib_tag_set_title(taglib_file_tag(file.get()), "Named");
        const char* const names[][2] = {{"key", "Am"},     {"InitialKey", "Am"},
                                        {"bpm", "96"},     {"tracknumber", "7"},
                                        {"Copyright", ""}, {"title", "Named"}};
        for (const auto& [name, value] : names)
            QCOMPARE(text(taglib_tag_get_byname(file.get(), name)), QString::fromUtf8(value));
        taglib_tag_free_strings();
    }

    void everyFieldRoundTrips_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("unicode");
        for (const char* t : kAudioTypes) {
            QTest::addRow("%s ascii", t) << QString::fromLatin1(t) << false;
            QTest::addRow("%s unicode", t) << QString::fromLatin1(t) << true;
        }
    }
    void everyFieldRoundTrips()
    {
        QFETCH(QString, type);
        QFETCH(bool, unicode);
        const QString path = copyFixture(type);
        const Fields wanted = unicode ? unicodeEverywhere() : plainFields();
        QVERIFY(writeAll(path, wanted));
        QCOMPARE(readAll(path), wanted);

        // Changing and emptying fields on a tagged file: empty texts remove their items.
        Fields changed;
        changed.title = QStringLiteral("Second");
        changed.bpm = QStringLiteral("90");
        QVERIFY(writeAll(path, changed));
        QCOMPARE(readAll(path), changed);
        QVERIFY(writeAll(path, Fields()));
        QCOMPARE(readAll(path), Fields());
        QCOMPARE(remainingItems(type, path).join(QLatin1Char(',')), QString());
    }

    // The items land where other tag software looks for them.
    void standardItems_data() { addTypeRows(); }
    void standardItems()
    {
        QFETCH(QString, type);
        const QString path = copyFixture(type);
        const Fields f = plainFields();
        QVERIFY(writeAll(path, f));
        const QByteArray name = native(path);
        if (type == QLatin1String("mp3")) {
            TagLib::MPEG::File file(name.constData());
            // A save adds no tag type the file did not have.
            QVERIFY(!file.hasID3v1Tag());
            QVERIFY(file.hasID3v2Tag());
            QCOMPARE(file.ID3v2Tag()->header()->majorVersion(), 4u);
            const auto& frames = file.ID3v2Tag()->frameListMap();
            QCOMPARE(frames["TCOP"].front()->toString(), TagLib::String("2001 Someone"));
            QCOMPARE(frames["TBPM"].front()->toString(), TagLib::String("128"));
            QCOMPARE(frames["TKEY"].front()->toString(), TagLib::String("Am"));
        } else if (type == QLatin1String("ogg") || type == QLatin1String("flac")) {
            std::unique_ptr<TagLib::File> file;
            TagLib::Ogg::XiphComment* xiph = nullptr;
            if (type == QLatin1String("ogg")) {
                auto* ogg = new TagLib::Ogg::Vorbis::File(name.constData());
                file.reset(ogg);
                xiph = ogg->tag();
            } else {
                auto* flac = new TagLib::FLAC::File(name.constData());
                file.reset(flac);
                xiph = flac->xiphComment();
                QVERIFY(!flac->hasID3v1Tag());
                QVERIFY(!flac->hasID3v2Tag());
            }
            QVERIFY(xiph);
            const auto& fields = xiph->fieldListMap();
            QCOMPARE(fields["COPYRIGHT"].front(), TagLib::String("2001 Someone"));
            QCOMPARE(fields["BPM"].front(), TagLib::String("128"));
            QCOMPARE(fields["INITIALKEY"].front(), TagLib::String("Am"));
            QCOMPARE(fields["TRACKNUMBER"].front(), TagLib::String("7"));
        } else if (type == QLatin1String("m4a")) {
            TagLib::MP4::File file(name.constData());
            TagLib::MP4::Tag* tag = file.tag();
            QCOMPARE(tag->item("cprt").toStringList().front(), TagLib::String("2001 Someone"));
            QCOMPARE(tag->item("tmpo").toInt(), 128);
            QCOMPARE(tag->item("----:com.apple.iTunes:initialkey").toStringList().front(),
                     TagLib::String("Am"));
        } else if (type == QLatin1String("wma")) {
            TagLib::ASF::File file(name.constData());
            TagLib::ASF::Tag* tag = file.tag();
            QCOMPARE(tag->copyright(), TagLib::String("2001 Someone"));
            QCOMPARE(tag->attribute("WM/BeatsPerMinute").front().toString(), TagLib::String("128"));
            QCOMPARE(tag->attribute("WM/InitialKey").front().toString(), TagLib::String("Am"));
        } else if (type == QLatin1String("ape")) {
            TagLib::APE::File file(name.constData());
            QVERIFY(file.hasAPETag());
            QVERIFY(!file.hasID3v1Tag());
            const auto& items = file.APETag()->itemListMap();
            QCOMPARE(items["COPYRIGHT"].key(), TagLib::String("Copyright"));
            QCOMPARE(items["COPYRIGHT"].toString(), TagLib::String("2001 Someone"));
            QCOMPARE(items["BPM"].toString(), TagLib::String("128"));
            QCOMPARE(items["INITIALKEY"].toString(), TagLib::String("Am"));
        }
    }

    // tmpo holds only a number; any other BPM text must still read back as typed.
    void mp4BpmText_data()
    {
        QTest::addColumn<QString>("bpm");
        QTest::addColumn<bool>("numeric");
        QTest::newRow("number") << QStringLiteral("120") << true;
        QTest::newRow("zero") << QStringLiteral("0") << true;
        QTest::newRow("fraction") << QStringLiteral("120.5") << false;
        QTest::newRow("word") << QStringLiteral("fast") << false;
        QTest::newRow("leading zero") << QStringLiteral("0120") << false;
        QTest::newRow("too big") << QStringLiteral("70000") << false;
        QTest::newRow("negative") << QStringLiteral("-5") << false;
        QTest::newRow("unicode") << QStringLiteral("♩ = 96") << false;
    }
    void mp4BpmText()
    {
        QFETCH(QString, bpm);
        QFETCH(bool, numeric);
        const QString path = copyFixture(QStringLiteral("m4a"));
        Fields f;
        f.bpm = QStringLiteral("999");
        QVERIFY(writeAll(path, f));
        f.bpm = bpm;
        QVERIFY(writeAll(path, f));
        QCOMPARE(readAll(path).bpm, bpm);
        TagLib::MP4::File file(native(path).constData());
        QCOMPARE(file.tag()->contains("tmpo"), numeric);
        QCOMPARE(file.tag()->contains("----:com.apple.iTunes:BPM"), !numeric);
    }

    void removeStripsEverything_data() { addTypeRows(); }
    void removeStripsEverything()
    {
        QFETCH(QString, type);
        const QString path = copyFixture(type);
        const QByteArray original = contents(path);
        QVERIFY(writeAll(path, unicodeEverywhere()));
        addForeignTags(type, path);
        QVERIFY(!remainingItems(type, path).isEmpty());

        QVERIFY(removeAll(native(path)));

        QCOMPARE(remainingItems(type, path), QStringList());
        QCOMPARE(readAll(path), Fields());
        QCOMPARE(audioPayload(type, contents(path)), audioPayload(type, original));
        // Formats whose tags sit around the audio come back to the untagged original.
        if (type == QLatin1String("mp3") || type == QLatin1String("ape"))
            QCOMPARE(contents(path), original);
    }

    void audioUntouchedBySave_data() { addTypeRows(); }
    void audioUntouchedBySave()
    {
        QFETCH(QString, type);
        const QString path = copyFixture(type);
        const std::optional<QByteArray> payload = audioPayload(type, contents(path));
        QVERIFY(payload && payload->size() > 100);
        QVERIFY(writeAll(path, unicodeEverywhere()));
        QVERIFY(contents(path) != QByteArray());
        QCOMPARE(audioPayload(type, contents(path)), payload);
        QVERIFY(writeAll(path, plainFields()));
        QCOMPARE(audioPayload(type, contents(path)), payload);
    }

    void readOnlyFileIsNotWritten_data() { addTypeRows(); }
    void readOnlyFileIsNotWritten()
    {
        QFETCH(QString, type);
        const QString path = copyFixture(type);
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup));
        const QByteArray before = contents(path);

        FilePtr file = open(path);
        QVERIFY(file);
        QVERIFY(taglib_file_is_valid(file.get()));
        setAll(file.get(), plainFields());
        QCOMPARE(taglib_file_save_ex(file.get(), 3), 0);
        taglib_tag_remove(file.get());
        QCOMPARE(taglib_file_save_ex(file.get(), 3), 0);
        file.reset();
        QCOMPARE(contents(path), before);
    }

    // Paths that are no readable audio file give no handle, or one that is invalid, and
    // nothing blocks or crashes; every entry point copes with the result.
    void unusablePaths_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("mayOpen");
        QTest::newRow("missing") << QStringLiteral("missing") << false;
        QTest::newRow("empty path") << QStringLiteral("empty path") << false;
        QTest::newRow("directory") << QStringLiteral("directory") << false;
        QTest::newRow("fifo") << QStringLiteral("fifo") << false;
        QTest::newRow("link to fifo") << QStringLiteral("link to fifo") << false;
        QTest::newRow("dangling link") << QStringLiteral("dangling link") << false;
        QTest::newRow("unknown type") << QStringLiteral("unknown type") << false;
        QTest::newRow("unreadable") << QStringLiteral("unreadable") << false;
        QTest::newRow("garbage mp3") << QStringLiteral("garbage") << true;
        for (const char* type : kAudioTypes) {
            const QString t = QString::fromLatin1(type);
            QTest::newRow(qPrintable(QStringLiteral("empty ") + t))
                << QStringLiteral("empty ") + t << true;
            for (int size : {4, 64, 600})
                QTest::newRow(qPrintable(QStringLiteral("%1 cut at %2").arg(t).arg(size)))
                    << QStringLiteral("%1 %2").arg(t).arg(size) << true;
        }
    }
    void unusablePaths()
    {
        QFETCH(QString, kind);
        QFETCH(bool, mayOpen);
        QString path = m_dir->filePath(QStringLiteral("x"));
        if (kind == QLatin1String("empty path")) {
            path.clear();
        } else if (kind == QLatin1String("directory")) {
            QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder.mp3")));
            path = m_dir->filePath(QStringLiteral("folder.mp3"));
        } else if (kind == QLatin1String("fifo") || kind == QLatin1String("link to fifo")) {
            const QString fifo = m_dir->filePath(QStringLiteral("pipe.mp3"));
            QCOMPARE(::mkfifo(native(fifo).constData(), 0600), 0);
            path = fifo;
            if (kind == QLatin1String("link to fifo")) {
                path = m_dir->filePath(QStringLiteral("link.mp3"));
                QVERIFY(QFile::link(fifo, path));
            }
        } else if (kind == QLatin1String("dangling link")) {
            path = m_dir->filePath(QStringLiteral("dangling.mp3"));
            QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("nothing")), path));
        } else if (kind == QLatin1String("unknown type")) {
            path = m_dir->filePath(QStringLiteral("notes.txt"));
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(2000, 'a'));
        } else if (kind == QLatin1String("unreadable")) {
            path = copyFixture(QStringLiteral("flac"));
            QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
            if (::geteuid() == 0)
                QSKIP("root reads every file");
        } else if (kind == QLatin1String("garbage")) {
            path = m_dir->filePath(QStringLiteral("garbage.mp3"));
            QVERIFY(QFile::copy(tagora::test::fixture(QStringLiteral("garbage.mp3")), path));
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
        } else if (kind.startsWith(QLatin1String("empty "))) {
            path = m_dir->filePath(QStringLiteral("empty.") + kind.mid(6));
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (kind != QLatin1String("missing")) {
            const QStringList parts = kind.split(QLatin1Char(' '));
            path = copyFixture(parts[0]);
            QVERIFY(QFile::resize(path, parts[1].toInt()));
        }

        FilePtr file = open(path);
        if (!mayOpen)
            QVERIFY(!file);
        // Whatever came back, every call on it must be safe.
        TagLib_Tag* tag = taglib_file_tag(file.get());
        if (!taglib_file_is_valid(file.get()))
            QVERIFY(!tag);
        taglib_tag_title(tag);
        taglib_tag_year(tag);
        taglib_tag_get_byname(file.get(), "COPYRIGHT");
        taglib_tag_get_bpm(file.get());
        taglib_tag_get_key(file.get());
        taglib_audioproperties_length(taglib_file_audioproperties(file.get()));
        taglib_tag_free_strings();
        file.reset();

        // What may open takes a whole tag and reads it back, or refuses it untouched.
        if (!mayOpen)
            return;
        const QByteArray before = contents(path);
        if (writeAll(path, unicodeFields()))
            QCOMPARE(readAll(path), unicodeFields());
        else
            QCOMPARE(contents(path), before);
    }

    // Real-world files, many of them broken: reading, writing and stripping neither crash nor
    // touch the audio, and what was written reads back.
    void corpusFiles_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("hasAudio");
        const QDir corpus(QStringLiteral(TAGORA_CORPUS_DIR));
        if (!corpus.exists())
            QSKIP("the shared audio corpus is not present");
        QStringList filters;
        for (const char* t : kAudioTypes)
            filters.append(QStringLiteral("*.") + QLatin1String(t));
        for (const QString& name : corpus.entryList(filters, QDir::Files, QDir::Name)) {
            // Random bytes with an ID3v2 tag in their middle, which TagLib rewrites in place.
            const bool hasAudio = name != QLatin1String("taglib-garbage.mp3");
            QTest::newRow(qPrintable(name)) << corpus.filePath(name) << hasAudio;
        }
    }
    void corpusFiles()
    {
        QFETCH(QString, source);
        QFETCH(bool, hasAudio);
        const QString type = QFileInfo(source).suffix();
        const QString path = m_dir->filePath(QStringLiteral("corpus.") + type);
        QVERIFY(QFile::copy(source, path));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        const std::optional<QByteArray> payload = audioPayload(type, contents(path));

        {
            FilePtr file = open(path);
            if (!file || !taglib_file_is_valid(file.get()))
                return; // refused as unreadable: nothing more to check
        }
        readAll(path);
        const Fields wanted = unicodeEverywhere();
        if (writeAll(path, wanted)) {
            QCOMPARE(readAll(path), wanted);
            if (hasAudio)
                QCOMPARE(audioPayload(type, contents(path)), payload);
        }
        QVERIFY(open(path)); // what opened before the write still opens after it
        if (removeAll(native(path))) {
            QCOMPARE(readAll(path), Fields());
            if (hasAudio)
                QCOMPARE(audioPayload(type, contents(path)), payload);
        }
    }

    void nullHandlesAreIgnored()
    {
        taglib_file_free(nullptr);
        QVERIFY(!taglib_file_newu(nullptr));
        QVERIFY(!taglib_file_is_valid(nullptr));
        QVERIFY(!taglib_file_tag(nullptr));
        QVERIFY(!taglib_file_audioproperties(nullptr));
        QVERIFY(!taglib_tag_title(nullptr));
        QCOMPARE(taglib_tag_track(nullptr), 0u);
        taglib_tag_set_title(nullptr, "x");
        taglib_tag_set_year(nullptr, 1);
        QVERIFY(!taglib_tag_get_byname(nullptr, "COPYRIGHT"));
        taglib_tag_set_byname(nullptr, "COPYRIGHT", "x");
        taglib_tag_set_bpm(nullptr, "1");
        taglib_tag_set_key(nullptr, "x");
        taglib_tag_remove(nullptr);
        QCOMPARE(taglib_file_save_ex(nullptr, 3), 0);
        QCOMPARE(taglib_audioproperties_length(nullptr), 0);

        // A null text sets an empty field rather than crashing.
        const QString path = copyFixture(QStringLiteral("ogg"));
        FilePtr file = open(path);
        QVERIFY(file);
        taglib_tag_set_title(taglib_file_tag(file.get()), nullptr);
        taglib_tag_set_byname(file.get(), "COPYRIGHT", nullptr);
        taglib_tag_set_byname(file.get(), nullptr, "x");
        QVERIFY(!taglib_tag_get_byname(file.get(), nullptr));
    }

    // Before taglib_set_strings_unicode(1) texts are Latin-1 both ways; with management off
    // the caller owns each returned text.
    void textModes()
    {
        const QString path = copyFixture(QStringLiteral("flac"));
        FilePtr file = open(path);
        QVERIFY(file);
        TagLib_Tag* tag = taglib_file_tag(file.get());
        taglib_set_strings_unicode(0);
        taglib_tag_set_title(tag, "caf\xe9");
        QCOMPARE(QByteArray(taglib_tag_title(tag)), QByteArray("caf\xe9"));
        taglib_set_strings_unicode(1);
        QCOMPARE(QByteArray(taglib_tag_title(tag)), QByteArray("caf\xc3\xa9"));

        taglib_set_string_management_enabled(0);
        char* own = taglib_tag_title(tag);
        taglib_set_string_management_enabled(1);
        taglib_tag_free_strings();
        QCOMPARE(QByteArray(own), QByteArray("caf\xc3\xa9"));
        std::free(own);
    }

    // The type is taken from the content when the name does not tell it.
    void typeByContent()
    {
        const QString source = copyFixture(QStringLiteral("flac"));
        const QString path = m_dir->filePath(QStringLiteral("no extension"));
        QVERIFY(QFile::rename(source, path));
        FilePtr file = open(path);
        QVERIFY(file);
        QVERIFY(taglib_file_is_valid(file.get()));
        QCOMPARE(taglib_audioproperties_length(taglib_file_audioproperties(file.get())), 2);
    }

    // Opened as the type given, whatever the name: the type's own class reads the file, and
    // another type's class finds nothing it can read.
    void typeGivenByTheCaller_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("opens");
        const struct
        {
            const char* fixture;
            TagLib_File_Type type;
            bool opens;
        } rows[] = {
            {"mp3", TagLib_File_MPEG, true},       {"ogg", TagLib_File_OggVorbis, true},
            {"flac", TagLib_File_FLAC, true},      {"m4a", TagLib_File_MP4, true},
            {"wma", TagLib_File_ASF, true},        {"flac", TagLib_File_MP4, false},
            {"m4a", TagLib_File_OggVorbis, false}, {"ogg", TagLib_File_Speex, false},
            {"wma", TagLib_File_WavPack, false},
        };
        for (const auto& row : rows)
            QTest::addRow("%s as %d", row.fixture, int(row.type))
                << QString::fromLatin1(row.fixture) << int(row.type) << row.opens;
    }
    void typeGivenByTheCaller()
    {
        QFETCH(QString, fixture);
        QFETCH(int, type);
        QFETCH(bool, opens);
        const QString source = copyFixture(fixture);
        const QString path = m_dir->filePath(QStringLiteral("named.wav"));
        QVERIFY(QFile::rename(source, path));
        TagLib_File* file =
            taglib_file_new_type(native(path).constData(), static_cast<TagLib_File_Type>(type));
        QCOMPARE(file != nullptr && taglib_file_is_valid(file), opens);
        taglib_file_free(file);
    }

    void fileNameBytesAreUsedAsGiven()
    {
        const QString source = copyFixture(QStringLiteral("mp3"));
        // A name that is not valid UTF-8 must still open through its bytes.
        const QByteArray odd = QFile::encodeName(m_dir->path()) + "/caf\xe9 \xff.mp3";
        QCOMPARE(::rename(native(source).constData(), odd.constData()), 0);
        TagLib_File* file = taglib_file_newu(odd.constData());
        QVERIFY(file);
        QVERIFY(taglib_file_is_valid(file));
        taglib_file_free(file);
        QCOMPARE(::unlink(odd.constData()), 0);
    }
};

QTEST_GUILESS_MAIN(TestTagWrapper)
#include "tst_tagwrapper.moc"

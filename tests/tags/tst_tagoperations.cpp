// Call sequences of the tag operations, checked against a recording double of the tag
// library that the real loader loads in libtagwrapper.so's place.
#include "services/nativepath.h"
#include "support/sampletags.h"
#include "tagdouble/tagdouble.h"
#include "tags/taglibrary.h"
#include "tags/tagoperations.h"

#include <QtTest>

#include <dlfcn.h>

using namespace tagora;

namespace {

const QString kPath = QStringLiteral("/music/song.mp3");
const QByteArray kOpen = "taglib_file_newu(\"/music/song.mp3\")";

// A script of the double and its log. The double is opened with dlopen, which hands back
// the very copy the loader loaded and keeps it mapped while the loader unloads and reloads.
class TagDouble
{
public:
    TagDouble() = default;
    TagDouble(const TagDouble&) = delete;
    TagDouble& operator=(const TagDouble&) = delete;
    ~TagDouble()
    {
        if (m_handle)
            ::dlclose(m_handle);
    }
    bool load(const char* fileName)
    {
        m_handle = ::dlopen(fileName, RTLD_NOW);
        if (!m_handle)
            return false;
        m_reset = reinterpret_cast<TagDoubleReset>(::dlsym(m_handle, "tagdouble_reset"));
        m_set = reinterpret_cast<TagDoubleSet>(::dlsym(m_handle, "tagdouble_set"));
        m_log = reinterpret_cast<TagDoubleLog>(::dlsym(m_handle, "tagdouble_log"));
        return m_reset && m_set && m_log;
    }
    void reset() { m_reset(); }
    void set(const char* key, const char* value) { m_set(key, value); }
    QByteArrayList log() const
    {
        QByteArrayList lines = QByteArray(m_log()).split('\n');
        lines.removeAll(QByteArray());
        return lines;
    }

private:
    void* m_handle = nullptr;
    TagDoubleReset m_reset = nullptr;
    TagDoubleSet m_set = nullptr;
    TagDoubleLog m_log = nullptr;
};

// Every field set, so that a read that must clear the record shows it.
audiotag filledTag()
{
    audiotag tag = test::plainTag();
    tag.Length = 9;
    return tag;
}

} // namespace

Q_DECLARE_METATYPE(WriteTagResult)

class TagOperationsTest : public QObject
{
    Q_OBJECT

    TagDouble m_double;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(LoadTagLibraryFrom(QStringLiteral(TAGDOUBLE_PATH)));
        QVERIFY(TagLibraryLoaded());
        QVERIFY(m_double.load(TAGDOUBLE_PATH));
    }
    void init() { m_double.reset(); }
    void cleanupTestCase() { UnloadTagLibrary(); }

    // --- ReadTag -------------------------------------------------------------------------

    void readReleasesEvenWhenTheFileDoesNotOpen()
    {
        m_double.set("open", "0");
        audiotag tag = filledTag();
        ReadTag(kPath, tag);
        QCOMPARE(tag, audiotag());
        QCOMPARE(m_double.log(),
                 QByteArrayList({"taglib_set_strings_unicode(-1)", kOpen,
                                 "taglib_tag_free_strings()", "taglib_file_free(null)"}));
    }

    void readOfAnInvalidFileGivesTheEmptyRecord()
    {
        m_double.set("valid", "0");
        m_double.set("title", "ignored");
        m_double.set("length", "200");
        audiotag tag;
        ReadTag(kPath, tag);
        QCOMPARE(tag, audiotag());
        QCOMPARE(
            m_double.log(),
            QByteArrayList({"taglib_set_strings_unicode(-1)", kOpen, "taglib_file_is_valid(file)",
                            "taglib_tag_free_strings()", "taglib_file_free(file)"}));
    }

    void readWithoutTagGivesOnlyTheLength()
    {
        m_double.set("tag", "0");
        m_double.set("copyright", "never asked");
        m_double.set("length", "215");
        audiotag tag;
        ReadTag(kPath, tag);
        audiotag expected;
        expected.Length = 215;
        QCOMPARE(tag, expected);
        QCOMPARE(
            m_double.log(),
            QByteArrayList({"taglib_set_strings_unicode(-1)", kOpen, "taglib_file_is_valid(file)",
                            "taglib_file_tag(file)", "taglib_file_audioproperties(file)",
                            "taglib_audioproperties_length(props)", "taglib_tag_free_strings()",
                            "taglib_file_free(file)"}));
    }

    void readFullSequence()
    {
        const char* texts[][2] = {{"title", "Tïtle"},
                                  {"artist", "Ärtist 🎵"},
                                  {"album", "Album"},
                                  {"genre", "Genre"},
                                  {"comment", "Line 1\nLine 2"},
                                  {"copyright", "© 2001"},
                                  {"bpm", "120.5"},
                                  {"key", "F#m"}};
        for (const auto& text : texts)
            m_double.set(text[0], text[1]);
        m_double.set("track", "4294967295");
        m_double.set("year", "1999");
        m_double.set("length", "61");
        audiotag tag;
        ReadTag(kPath, tag);

        QCOMPARE(tag.Title, QStringLiteral("Tïtle"));
        QCOMPARE(tag.Artist, QStringLiteral("Ärtist 🎵"));
        QCOMPARE(tag.Album, QStringLiteral("Album"));
        QCOMPARE(tag.Track, QStringLiteral("4294967295")); // the library's number is unsigned
        QCOMPARE(tag.Year, QStringLiteral("1999"));
        QCOMPARE(tag.Genre, QStringLiteral("Genre"));
        QCOMPARE(tag.Comment, QStringLiteral("Line 1\nLine 2"));
        QCOMPARE(tag.Copyright, QStringLiteral("© 2001"));
        QCOMPARE(tag.Length, 61);
        QCOMPARE(tag.Bpm, QStringLiteral("120.5"));
        QCOMPARE(tag.Key, QStringLiteral("F#m"));
        QCOMPARE(m_double.log(),
                 QByteArrayList(
                     {"taglib_set_strings_unicode(-1)", kOpen, "taglib_file_is_valid(file)",
                      "taglib_file_tag(file)", "taglib_tag_title(tag)", "taglib_tag_artist(tag)",
                      "taglib_tag_album(tag)", "taglib_tag_track(tag)", "taglib_tag_year(tag)",
                      "taglib_tag_genre(tag)", "taglib_tag_comment(tag)",
                      "taglib_tag_get_byname(file, \"COPYRIGHT\")", "taglib_tag_get_bpm(file)",
                      "taglib_tag_get_key(file)", "taglib_file_audioproperties(file)",
                      "taglib_audioproperties_length(props)", "taglib_tag_free_strings()",
                      "taglib_file_free(file)"}));
    }

    void readNullEmptyAndUnsetFields()
    {
        m_double.set("album", ""); // empty; the other getters answer null
        m_double.set("bpm", "");
        audiotag tag;
        ReadTag(kPath, tag);
        audiotag expected;
        expected.Track = QStringLiteral("0"); // an unset number reads as the text 0
        expected.Year = QStringLiteral("0");
        QCOMPARE(tag, expected);
    }

    void readWithoutPropertiesLeavesLengthZero()
    {
        m_double.set("properties", "0");
        m_double.set("length", "77");
        audiotag tag;
        ReadTag(kPath, tag);
        QCOMPARE(tag.Length, 0);
        for (const QByteArray& line : m_double.log())
            QVERIFY(!line.startsWith("taglib_audioproperties_length"));
    }

    void pathReachesTheLibraryAsTheFileNameBytes()
    {
        const QByteArray bytes("/m/caf\xe9 \xc3\xa9.mp3"); // a Latin-1 byte beside UTF-8
        audiotag tag;
        ReadTag(pathFromNative(bytes), tag);
        WriteTag(pathFromNative(bytes), tag);
        RemoveTag(pathFromNative(bytes));
        const QByteArray open = "taglib_file_newu(\"" + bytes + "\")";
        QCOMPARE(m_double.log().count(open), 3);
    }

    // --- WriteTag ------------------------------------------------------------------------

    void writeMakesNoFurtherCallWhenNotOpened()
    {
        m_double.set("open", "0");
        QCOMPARE(WriteTag(kPath, filledTag()), WriteTagResult::NotOpened);
        QCOMPARE(m_double.log(), QByteArrayList({kOpen}));
    }

    void writeFullSequence()
    {
        audiotag tag; // Album, Genre and Bpm stay empty and are still written
        tag.Title = QStringLiteral("Tïtle");
        tag.Artist = QStringLiteral("日本語 🎸");
        tag.Track = QStringLiteral("  7");
        tag.Year = QStringLiteral("3/12");
        tag.Comment = QStringLiteral("say \"hi\"");
        tag.Copyright = QStringLiteral("©");
        tag.Length = 500; // never written
        tag.Key = QStringLiteral("Am");
        QCOMPARE(WriteTag(kPath, tag), WriteTagResult::Saved);
        QCOMPARE(
            m_double.log(),
            QByteArrayList({kOpen, "taglib_file_tag(file)", "taglib_tag_set_title(tag, \"Tïtle\")",
                            "taglib_tag_set_artist(tag, \"日本語 🎸\")",
                            "taglib_tag_set_album(tag, \"\")", "taglib_tag_set_track(tag, 7)",
                            "taglib_tag_set_year(tag, 0)", "taglib_tag_set_genre(tag, \"\")",
                            "taglib_tag_set_comment(tag, \"say \"hi\"\")",
                            "taglib_tag_set_byname(file, \"COPYRIGHT\", \"©\")",
                            "taglib_tag_set_key(file, \"Am\")", "taglib_tag_set_bpm(file, \"\")",
                            "taglib_file_save_ex(file, 3)", "taglib_file_free(file)"}));
    }

    // A full form takes one more call, right after its number; the rest stays as it was.
    void writeFullForms()
    {
        audiotag tag;
        tag.Track = QStringLiteral(" 3/12");
        tag.Year = QStringLiteral("2019-05-17");
        QCOMPARE(WriteTag(kPath, tag), WriteTagResult::Saved);
        const QByteArrayList log = m_double.log();
        const qsizetype track = log.indexOf("taglib_tag_set_track(tag, 3)");
        QVERIFY(track > 0);
        QCOMPARE(log.mid(track, 5),
                 QByteArrayList({"taglib_tag_set_track(tag, 3)",
                                 "taglib_tag_set_byname(file, \"TRACKNUMBER\", \"3/12\")",
                                 "taglib_tag_set_year(tag, 2019)",
                                 "taglib_tag_set_byname(file, \"DATE\", \"2019-05-17\")",
                                 "taglib_tag_set_genre(tag, \"\")"}));
    }

    void writeResult_data()
    {
        QTest::addColumn<bool>("hasTag");
        QTest::addColumn<QByteArray>("save");
        QTest::addColumn<WriteTagResult>("result");
        QTest::newRow("saved") << true << QByteArray("1") << WriteTagResult::Saved;
        QTest::newRow("any non-zero saves") << true << QByteArray("-7") << WriteTagResult::Saved;
        QTest::newRow("save failed") << true << QByteArray("0") << WriteTagResult::SaveFailed;
        QTest::newRow("no tag, saved") << false << QByteArray("1") << WriteTagResult::Saved;
        QTest::newRow("no tag, failed") << false << QByteArray("0") << WriteTagResult::SaveFailed;
    }
    void writeResult()
    {
        QFETCH(bool, hasTag);
        QFETCH(QByteArray, save);
        QFETCH(WriteTagResult, result);
        m_double.set("tag", hasTag ? "1" : "0");
        m_double.set("save", save.constData());
        QCOMPARE(WriteTag(kPath, filledTag()), result);

        const QByteArrayList log = m_double.log();
        QCOMPARE(log.mid(log.size() - 2),
                 QByteArrayList({"taglib_file_save_ex(file, 3)", "taglib_file_free(file)"}));
        // Ten set calls with a tag handle, none without.
        QCOMPARE(log.size(), hasTag ? 14 : 4);
        for (const QByteArray& line : log)
            QCOMPARE(line.contains("_set_"), hasTag && line.startsWith("taglib_tag_set_"));
    }

    // --- RemoveTag -----------------------------------------------------------------------

    void remove_data()
    {
        QTest::addColumn<QByteArray>("open");
        QTest::addColumn<QByteArray>("tag");
        QTest::addColumn<QByteArray>("save");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QByteArrayList>("calls");
        const QByteArrayList stripAndSave = {
            kOpen, "taglib_file_tag(file)", "taglib_tag_remove(file)",
            "taglib_file_save_ex(file, 3)", "taglib_file_free(file)"};
        QTest::newRow("stripped") << QByteArray("1") << QByteArray("1") << QByteArray("1") << true
                                  << stripAndSave;
        QTest::newRow("save failed")
            << QByteArray("1") << QByteArray("1") << QByteArray("0") << false << stripAndSave;
        QTest::newRow("no tag: nothing to strip")
            << QByteArray("1") << QByteArray("0") << QByteArray("1") << true
            << QByteArrayList({kOpen, "taglib_file_tag(file)", "taglib_file_free(file)"});
        QTest::newRow("not opened") << QByteArray("0") << QByteArray("1") << QByteArray("1")
                                    << false << QByteArrayList({kOpen});
    }
    void remove()
    {
        QFETCH(QByteArray, open);
        QFETCH(QByteArray, tag);
        QFETCH(QByteArray, save);
        QFETCH(bool, result);
        QFETCH(QByteArrayList, calls);
        m_double.set("open", open.constData());
        m_double.set("tag", tag.constData());
        m_double.set("save", save.constData());
        QCOMPARE(RemoveTag(kPath), result);
        QCOMPARE(m_double.log(), calls);
    }

    // --- Loader and missing library ------------------------------------------------------

    void loaderFillsOnlyTheSlotsTheLibraryHas()
    {
        const TagLibraryEntryPoints& lib = tagLibrary();
        QVERIFY(lib.taglib_file_newu && lib.taglib_tag_remove && lib.taglib_file_save_ex);
        QVERIFY(!lib.taglib_file_save && !lib.taglib_tag_copy); // the double lacks these
    }

    void environmentVariableReplacesTheLibrary()
    {
        qputenv("TAGORA_TAGWRAPPER", TAGDOUBLE_PATH);
        LoadTagLibrary();
        qunsetenv("TAGORA_TAGWRAPPER");
        QVERIFY(TagLibraryLoaded());
        RemoveTag(kPath);
        QCOMPARE(m_double.log().value(0), kOpen);
    }

    void nothingLoadedMeansNoCrash()
    {
        UnloadTagLibrary();
        QVERIFY(!TagLibraryLoaded());
        QVERIFY(!tagLibrary().taglib_file_newu);
        QVERIFY(!LoadTagLibraryFrom(QStringLiteral("/nonexistent/libtagwrapper.so")));
        QVERIFY(!TagLibraryLoaded());

        audiotag tag = filledTag();
        ReadTag(kPath, tag);
        QCOMPARE(tag, audiotag());
        QCOMPARE(WriteTag(kPath, filledTag()), WriteTagResult::NotOpened);
        QVERIFY(!RemoveTag(kPath));
        QVERIFY(m_double.log().isEmpty());
        QVERIFY(LoadTagLibraryFrom(QStringLiteral(TAGDOUBLE_PATH)));
    }

    void missingEntryPointsMeanNoCall()
    {
        // The partial double lacks taglib_tag_get_key, taglib_tag_set_bpm and
        // taglib_tag_remove: each operation then leaves the library alone entirely.
        TagDouble partial;
        QVERIFY(partial.load(TAGDOUBLE_PARTIAL_PATH));
        QVERIFY(LoadTagLibraryFrom(QStringLiteral(TAGDOUBLE_PARTIAL_PATH)));
        QVERIFY(!tagLibrary().taglib_tag_get_key);
        QVERIFY(tagLibrary().taglib_tag_get_bpm);
        partial.reset();
        partial.set("title", "t");

        audiotag tag = filledTag();
        ReadTag(kPath, tag);
        QCOMPARE(tag, audiotag());
        QCOMPARE(WriteTag(kPath, filledTag()), WriteTagResult::NotOpened);
        QVERIFY(!RemoveTag(kPath));
        QVERIFY(partial.log().isEmpty());
        QVERIFY(LoadTagLibraryFrom(QStringLiteral(TAGDOUBLE_PATH)));
    }

    // --- Track and Year numbers ----------------------------------------------------------

    void tagNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("number");
        const struct
        {
            const char16_t* text;
            uint number;
        } rows[] = {
            {u"12", 12},
            {u"  12", 12},
            {u"12 ", 0},
            {u"3/12", 0},
            {u"1 2", 0},
            {u"12.0", 0},
            {u"1e3", 0},
            {u"-5", 0},
            {u"+7", 7},
            {u" +7", 7},
            {u"+ 7", 0},
            {u"007", 7},
            {u"$1F", 31},
            {u"0x1f", 31},
            {u"0X1F", 31},
            {u"x10", 16},
            {u"X10", 16},
            {u"+$10", 16},
            {u"-$10", 0},
            {u"$", 0},
            {u"0x", 0},
            {u"$G", 0},
            {u"1F", 0},
            {u"2147483647", 2147483647},
            {u"$7FFFFFFF", 2147483647},
            {u"2147483648", 0},
            {u"$80000000", 0},
            {u"-2147483648", 0},
            {u"99999999999999999999999", 0},
            {u"", 0},
            {u"   ", 0},
            {u"0", 0},
            {u"-0", 0},
            {u"abc", 0},
            {u"\t5", 0},
            {u"１２", 0}, // full-width digits are not digits here
            {u"٣", 0},
        };
        for (const auto& row : rows) {
            const QString text = QString::fromUtf16(row.text);
            QTest::newRow(qPrintable(u'"' + text + u'"')) << text << row.number;
        }
    }
    void tagNumber()
    {
        QFETCH(QString, text);
        QFETCH(uint, number);
        QCOMPARE(tagNumberFromText(text), number);
    }

    void fullForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("track");
        QTest::addColumn<QString>("date");
        const struct
        {
            const char* text;
            const char* track;
            const char* date;
        } rows[] = {
            {"3/12", "3/12", ""},
            {"  3/12", "3/12", ""},
            {"03/012", "03/012", ""},
            {"3/12 ", "", ""},
            {"3/", "", ""},
            {"/12", "", ""},
            {"0/12", "", ""},
            {"3/0", "", ""},
            {"-3/12", "", ""},
            {"3/1/2", "", ""},
            {"$3/12", "", ""},
            {"3", "", ""},
            {"2019-05-17", "", "2019-05-17"},
            {" 2019-05", "", "2019-05"},
            {"2019-12-31", "", "2019-12-31"},
            {"2019-13-01", "", ""},
            {"2019-00", "", ""},
            {"2019-05-32", "", ""},
            {"2019-05-00", "", ""},
            {"2019-5-17", "", ""},
            {"0000-05-17", "", ""},
            {"2019-05-17T10:00", "", ""},
            {"2019", "", ""},
            {"", "", ""},
        };
        for (const auto& row : rows) {
            QTest::newRow(row.text)
                << QString::fromLatin1(row.text) << QString::fromLatin1(row.track)
                << QString::fromLatin1(row.date);
        }
    }
    // Only these exact forms are values; every other text keeps the number rule.
    void fullForms()
    {
        QFETCH(QString, text);
        QFETCH(QString, track);
        QFETCH(QString, date);
        QCOMPARE(fullTrackText(text), track);
        QCOMPARE(fullDateText(text), date);
    }
};

QTEST_GUILESS_MAIN(TagOperationsTest)
#include "tst_tagoperations.moc"

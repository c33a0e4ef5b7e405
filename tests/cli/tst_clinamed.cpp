// tagora-cli get and set of fields by name on files of every type tagged by mutagen: mutagen
// reads each named field as the format's own item, and nothing else in the file changes.
#include "support/clirun.h"
#include "support/fixtures.h"
#include "support/mutagen.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstring>

using namespace tagora::test;

namespace {

const QString kRichTags = QStringLiteral(TAGORA_RICHTAGS);

using Run = tagora::test::CliRun;

// mutagen's view of a file, one item per line. TagLib adds an empty rating to an ASF file it
// saves.
QStringList mutagenView(const QString& path)
{
    QStringList lines = outputLines(runPython({kRichTags, QStringLiteral("dump"), path}));
    lines.removeAll(kAsfAddedRating);
    return lines;
}

} // namespace

class CliNamedTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_state;
    QTemporaryDir m_made;
    std::unique_ptr<QTemporaryDir> m_dir;

    Run cli(const QStringList& arguments)
    {
        return tagora::test::runCli(QStringLiteral(TAGORA_CLI_PATH), arguments, {m_state.path()});
    }

    QString copyOfMade(const QString& type)
    {
        const QString path = m_dir->filePath(QStringLiteral("song.") + type);
        return QFile::copy(m_made.filePath(QStringLiteral("made.") + type), path) ? path
                                                                                  : QString();
    }

    QByteArray get(const QString& field, const QString& path)
    {
        return cli({QStringLiteral("get"), field, path}).out;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!mutagenInstalled())
            QSKIP("python3 with mutagen is needed (scripts/install-deps.sh)");
        const QStringList paths = copiesOfSamples(m_made.path());
        QVERIFY(!paths.isEmpty());
        for (const QString& path : paths)
            QCOMPARE(QProcess::execute(kPython, {kRichTags, QStringLiteral("tag"), path}), 0);
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QFile::remove(m_state.filePath(QStringLiteral("tagora/journal")));
    }

    // Each named field lands in the format's standard item, as mutagen names it; every other
    // item stays as it was. One set per type keeps the test quick.
    void namedFieldIsTheFormatsItem_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("assignments");
        QTest::addColumn<QStringList>("items"); // the lines mutagen shows added or changed
        struct Row
        {
            const char* type;
            const char* field;
            const char* item;
        };
        const Row rows[] = {
            {"mp3", "albumartist", "TPE2=TPE2(encoding=<Encoding.UTF8: 3>, text=['v'])"},
            {"mp3", "COMPOSER", "TCOM=TCOM(encoding=<Encoding.UTF8: 3>, text=['v'])"},
            {"mp3", "TitleSort", "TSOT=TSOT(encoding=<Encoding.UTF8: 3>, text=['v'])"},
            {"mp3", "MUSICBRAINZ_ALBUMID",
             "TXXX:MusicBrainz Album Id=TXXX(encoding=<Encoding.UTF8: 3>, "
             "desc='MusicBrainz Album Id', text=['v'])"},
            {"mp3", "LYRICS",
             "USLT::eng=USLT(encoding=<Encoding.UTF8: 3>, lang='eng', desc='', "
             "text='v')"},
            {"mp3", "MY_OWN",
             "TXXX:MY_OWN=TXXX(encoding=<Encoding.UTF8: 3>, desc='MY_OWN', "
             "text=['v'])"},
            {"ogg", "albumartist", "albumartist='v'"},
            {"ogg", "REPLAYGAIN_TRACK_GAIN", "replaygain_track_gain='v'"},
            {"ogg", "MY_OWN", "my_own='v'"},
            {"flac", "COMPOSER", "composer='v'"},
            {"flac", "TITLESORT", "titlesort='v'"},
            {"m4a", "albumartist", "aART='v'"},
            {"m4a", "COMPOSER", "©wrt='v'"},
            {"m4a", "TITLESORT", "sonm='v'"},
            {"m4a", "DISCNUMBER", "disk=(4, 0)"},
            {"wma", "albumartist", "WM/AlbumArtist=ASFUnicodeAttribute('v')"},
            {"wma", "COMPOSER", "WM/Composer=ASFUnicodeAttribute('v')"},
            {"wma", "MUSICBRAINZ_ALBUMID", "MusicBrainz/Album Id=ASFUnicodeAttribute('v')"},
            {"wma", "MY_OWN", "MY_OWN=ASFUnicodeAttribute('v')"},
            {"ape", "albumartist", "ALBUM ARTIST=APETextValue('v', 0)"},
            {"ape", "COMPOSER", "COMPOSER=APETextValue('v', 0)"},
            {"ape", "MY_OWN", "MY_OWN=APETextValue('v', 0)"},
        };
        for (const char* type : kAudioTypes) {
            QStringList assignments;
            QStringList items;
            for (const Row& row : rows) {
                if (std::strcmp(row.type, type) != 0)
                    continue;
                const QString field = QLatin1String(row.field);
                assignments.append(field + (field == QLatin1String("DISCNUMBER")
                                                ? QStringLiteral("=4")
                                                : QStringLiteral("=v")));
                items.append(QString::fromUtf8(row.item));
            }
            QTest::newRow(type) << QString::fromLatin1(type) << assignments << items;
        }
    }
    void namedFieldIsTheFormatsItem()
    {
        QFETCH(QString, type);
        QFETCH(QStringList, assignments);
        QFETCH(QStringList, items);
        const QString path = copyOfMade(type);
        const QStringList before = mutagenView(path);
        const Run run = cli(QStringList{QStringLiteral("set")} + assignments + QStringList{path});
        QVERIFY2(run.code == 0, run.err.constData());
        const QStringList after = mutagenView(path);
        QCOMPARE(get(assignments.first().section(u'=', 0, 0), path), QByteArray("v\n"));
        QStringList shown = added(before, after);
        shown.sort();
        items.sort();
        QCOMPARE(shown, items);
        // Only the items replaced are gone.
        const auto key = [](const QString& line) { return line.section(u'=', 0, 0); };
        for (const QString& gone : added(after, before)) {
            QVERIFY2(std::any_of(items.begin(), items.end(),
                                 [&](const QString& item) { return key(item) == key(gone); }),
                     qPrintable(gone));
        }
    }

    // Several values, added, removed and the field removed; undo goes back step by step.
    void valuesAddRemoveAndUndo_data() { addTypeRows(); }
    void valuesAddRemoveAndUndo()
    {
        QFETCH(QString, type);
        const QString path = copyOfMade(type);
        const QStringList original = mutagenView(path);
        const QString field = QStringLiteral("composer");
        const QList<std::pair<QString, QByteArray>> steps = {
            {QStringLiteral("COMPOSER=A; B"), "A; B\n"},
            {QStringLiteral("COMPOSER+=C"), "A; B; C\n"},
            {QStringLiteral("COMPOSER-=A"), "B; C\n"},
            {QStringLiteral("COMPOSER="), "\n"},
        };
        for (const auto& [assignment, shown] : steps) {
            QCOMPARE(cli({QStringLiteral("set"), assignment, path}).code, 0);
            QCOMPARE(get(field, path), shown);
        }
        for (auto step = steps.size() - 1; step > 0; --step) {
            QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
            QCOMPARE(get(field, path), steps[step - 1].second);
        }
        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        QCOMPARE(mutagenView(path), original);
    }

    // info names the tag types with the ID3v2 version, and lists every property with all its
    // values and each picture by size.
    void infoShowsEverything_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("mp3") << QStringLiteral("mp3")
                             << QStringList{QStringLiteral("tags: ID3v2.4"),
                                            QStringLiteral("codec: MPEG-2 Layer 3"),
                                            QStringLiteral("ARTIST: Ann; Bob"),
                                            QStringLiteral("LYRICS: First line\\nSecond line"),
                                            QStringLiteral("picture 0: front, image/png, 1032 "
                                                           "bytes, \"front\"")};
        QTest::newRow("m4a") << QStringLiteral("m4a")
                             << QStringList{QStringLiteral("tags: MP4"),
                                            QStringLiteral("codec: AAC"),
                                            QStringLiteral("GENRE: Rock; Pop"),
                                            QStringLiteral("REPLAYGAIN_TRACK_GAIN: -6.50 dB")};
        QTest::newRow("flac") << QStringLiteral("flac")
                              << QStringList{QStringLiteral("tags: Xiph comment"),
                                             QStringLiteral("codec: FLAC"),
                                             QStringLiteral("DATE: 2019-05-17")};
    }
    void infoShowsEverything()
    {
        QFETCH(QString, type);
        QFETCH(QStringList, lines);
        const Run run = cli({QStringLiteral("info"), copyOfMade(type)});
        QCOMPARE(run.code, 0);
        const QStringList shown = QString::fromUtf8(run.out).split(u'\n');
        for (const QString& line : lines)
            QVERIFY2(shown.contains(line),
                     qPrintable(line + QStringLiteral(" in\n") + QString::fromUtf8(run.out)));
    }

    // ls --fields gives several values as a json array and the file's facts as columns.
    void listAddsNamedColumns()
    {
        const QString path = copyOfMade(QStringLiteral("ogg"));
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("composer=A; B"), path}).code, 0);
        const Run run =
            cli({QStringLiteral("ls"), QStringLiteral("--format"), QStringLiteral("json"),
                 QStringLiteral("--fields"), QStringLiteral("composer,tags,channels"), path});
        QCOMPARE(run.code, 0);
        const QJsonObject row = QJsonDocument::fromJson(run.out).array().first().toObject();
        QCOMPARE(row.value(QStringLiteral("COMPOSER")).toArray(),
                 QJsonArray({QStringLiteral("A"), QStringLiteral("B")}));
        QCOMPARE(row.value(QStringLiteral("tags")).toString(), QStringLiteral("Xiph comment"));
        QVERIFY(row.value(QStringLiteral("channels")).toInt() > 0);
    }

    // An import's named columns are written and undone like the ten fields.
    void importTakesNamedColumns()
    {
        const QString path = copyOfMade(QStringLiteral("flac"));
        const QString csv = m_dir->filePath(QStringLiteral("in.csv"));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("path,ALBUMARTIST,codec\nsong.flac,\"X; Y\",FLAC\n");
        file.close();
        QCOMPARE(cli({QStringLiteral("import"), csv}).code, 0);
        QCOMPARE(get(QStringLiteral("albumartist"), path), QByteArray("X; Y\n"));
        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        QCOMPARE(get(QStringLiteral("albumartist"), path), QByteArray("\n"));
    }

    // convert changes only the version, both ways, and undo gives the version back; frames the
    // target cannot hold stop it until --force.
    void convertChangesOnlyTheVersion()
    {
        const QString path = copyOfMade(QStringLiteral("mp3"));
        const QString frames = QStringLiteral("frames");
        const auto view = [&] {
            QProcess process;
            process.start(kPython, {kRichTags, frames, path});
            process.waitForFinished(60000);
            return QString::fromUtf8(process.readAllStandardOutput()).split(u'\n');
        };
        const QStringList before = view();
        QCOMPARE(
            cli({QStringLiteral("convert"), QStringLiteral("--id3v2"), QStringLiteral("3"), path})
                .code,
            0);
        const QStringList as23 = view();
        QCOMPARE(as23.first(), QStringLiteral("version=2.3"));
        QVERIFY(as23.contains(QStringLiteral("TYER=encoding=<Encoding.LATIN1: 0>, text=['2019']")));
        QVERIFY(as23.contains(QStringLiteral("TDAT=encoding=<Encoding.LATIN1: 0>, text=['1705']")));
        QCOMPARE(as23.size(), before.size() + 1); // TDRC became TYER and TDAT
        QCOMPARE(get(QStringLiteral("year"), path), QByteArray("2019-05-17\n"));
        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        QCOMPARE(view().first(), QStringLiteral("version=2.4"));
        QCOMPARE(get(QStringLiteral("year"), path), QByteArray("2019-05-17\n"));

        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("TITLESORT=x"), path}).code, 0);
        const QByteArray bytes = contents(path);
        const Run refused = cli({QStringLiteral("convert"), QStringLiteral("--id3v2=3"), path});
        QCOMPARE(refused.code, 1);
        QVERIFY(refused.err.contains("TSOT"));
        QCOMPARE(contents(path), bytes);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("--id3v2"), QStringLiteral("3"),
                      QStringLiteral("--force"), QStringLiteral("composer=C"), path})
                     .code,
                 2); // set takes no --force
        QCOMPARE(cli({QStringLiteral("convert"), QStringLiteral("--force"),
                      QStringLiteral("--id3v2"), QStringLiteral("3"), path})
                     .code,
                 0);
        QCOMPARE(get(QStringLiteral("titlesort"), path), QByteArray("\n"));
    }

    // --id3v2 on set writes the file's tag in that version along with the change.
    void setWritesTheVersionAskedFor()
    {
        const QString path = copyOfMade(QStringLiteral("mp3"));
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("--id3v2"), QStringLiteral("3"),
                      QStringLiteral("title=New"), path})
                     .code,
                 0);
        const Run info = cli({QStringLiteral("info"), path});
        QVERIFY(info.out.contains("tags: ID3v2.3\n"));
        QCOMPARE(get(QStringLiteral("title"), path), QByteArray("New\n"));
    }

    // One set may change the ten fields and named ones; one undo puts both back.
    void tenAndNamedFieldsInOneSet()
    {
        const QString path = copyOfMade(QStringLiteral("wma"));
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("title=New"),
                      QStringLiteral("COMPOSER=C"), path})
                     .code,
                 0);
        QCOMPARE(get(QStringLiteral("title"), path), QByteArray("New\n"));
        QCOMPARE(get(QStringLiteral("composer"), path), QByteArray("C\n"));
        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        QCOMPARE(get(QStringLiteral("title"), path), QByteArray("Old Title\n"));
        QCOMPARE(get(QStringLiteral("composer"), path), QByteArray("\n"));
    }

    // --where chooses a file once: a change of the fields it reads does not unchoose the file
    // for the named fields and the version that come after.
    void whereChoosesBeforeAnythingChanges()
    {
        const QString path = copyOfMade(QStringLiteral("mp3"));
        QCOMPARE(
            cli({QStringLiteral("set"), QStringLiteral("--where"),
                 QStringLiteral("title=Old Title"), QStringLiteral("--id3v2"), QStringLiteral("3"),
                 QStringLiteral("title=New"), QStringLiteral("COMPOSER=C"), path})
                .code,
            0);
        QCOMPARE(get(QStringLiteral("composer"), path), QByteArray("C\n"));
        QVERIFY(cli({QStringLiteral("info"), path}).out.contains("tags: ID3v2.3\n"));
    }

    // fill and rename take named fields as placeholders; undo puts name and values back.
    void fillAndRenameTakeNamedFields()
    {
        const QString path = m_dir->filePath(QStringLiteral("Various - 2.ogg"));
        QVERIFY(QFile::copy(m_made.filePath(QStringLiteral("made.ogg")), path));
        QCOMPARE(cli({QStringLiteral("fill"), QStringLiteral("%albumartist% - %DISCNUMBER%"), path})
                     .code,
                 0);
        QCOMPARE(get(QStringLiteral("ALBUMARTIST"), path), QByteArray("Various\n"));
        QCOMPARE(get(QStringLiteral("discnumber"), path), QByteArray("2\n"));
        QCOMPARE(
            cli({QStringLiteral("rename"), QStringLiteral("%albumartist% %title%"), path}).code, 0);
        QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("Various Old Title.ogg"))));
        QCOMPARE(cli({QStringLiteral("undo"), QStringLiteral("2")}).code, 0);
        QCOMPARE(get(QStringLiteral("discnumber"), path), QByteArray("\n"));
        QCOMPARE(get(QStringLiteral("albumartist"), path), QByteArray("\n"));
    }

    // A name no format here can hold as given is refused per file, which stays as it was;
    // the ten fields keep their own names.
    void unusableNamesAreRefused()
    {
        const QString path = copyOfMade(QStringLiteral("mp3"));
        const QByteArray bytes = contents(path);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("title+=x"), path}).code, 2);
        QCOMPARE(cli({QStringLiteral("get"), QStringLiteral("BAD\tNAME"), path}).code, 2);
        QCOMPARE(contents(path), bytes);
        QCOMPARE(get(QStringLiteral("TITLE"), path), QByteArray("Old Title\n"));
    }
};

QTEST_GUILESS_MAIN(CliNamedTest)
#include "tst_clinamed.moc"

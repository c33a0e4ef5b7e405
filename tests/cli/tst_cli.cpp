// tagora-cli as a separate process on copies of the sample files of all six types, with its
// journal in a temporary state folder; every result is read back through libtagwrapper.so.
#include "services/nativepath.h"
#include "support/fixtures.h"
#include "support/sampletags.h"
#include "tags/tagfields.h"
#include "tags/taglibrary.h"
#include "tags/tagoperations.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace tagora;
using namespace tagora::test;

namespace {

struct Run
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

// Bytes and modification time: what a command that writes nothing must leave alone.
struct Snapshot
{
    QByteArray bytes;
    qint64 modifiedNs = 0;
    bool operator==(const Snapshot& other) const
    {
        return bytes == other.bytes && modifiedNs == other.modifiedNs;
    }
};

Snapshot snapshot(const QString& path)
{
    struct stat info
    {
    };
    ::stat(pathToNative(path).constData(), &info);
    return {contents(path), qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

// QFile would lose a name that is not UTF-8, so the copy is made by the name's bytes.
bool copyToBytes(const QString& from, const QByteArray& to)
{
    const QByteArray bytes = contents(from);
    std::FILE* file = std::fopen(to.constData(), "wb");
    const bool written = file && std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file) ==
                                     size_t(bytes.size());
    return file && std::fclose(file) == 0 && written;
}

audiotag readTag(const QString& path)
{
    audiotag tag;
    ReadTag(path, tag);
    return tag;
}

// What reading gives back after `written` was saved to a sample.
audiotag readBack(audiotag written)
{
    written.Track = QString::number(tagNumberFromText(written.Track));
    written.Year = QString::number(tagNumberFromText(written.Year));
    written.Length = 2;
    return written;
}

} // namespace

class CliTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_state;
    std::unique_ptr<QTemporaryDir> m_dir;

    Run cli(const QStringList& arguments, const QByteArray& input = {})
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_STATE_HOME"), m_state.path());
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_dir->path());
        process.start(QStringLiteral(TAGORA_CLI_PATH), arguments);
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(60000))
            return {};
        return {process.exitCode(), process.readAllStandardOutput(),
                process.readAllStandardError()};
    }

    // A fresh copy of sample.<type> named `name`.<type>, holding `tag` when one is given.
    QString sample(const QString& type, const QString& name, const audiotag* tag = nullptr)
    {
        const QString path = m_dir->filePath(name + u'.' + type);
        QFile::remove(path);
        if (!QFile::copy(sampleFile(type), path))
            return {};
        QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner);
        if (tag && WriteTag(path, *tag) != WriteTagResult::Saved)
            return {};
        return path;
    }

    // One tagged sample of each of the six types.
    QStringList everyType(const audiotag& tag)
    {
        QStringList paths;
        for (const char* type : kAudioTypes)
            paths.append(sample(QString::fromLatin1(type), QStringLiteral("song"), &tag));
        return paths;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_state.isValid());
        LoadTagLibrary();
        QVERIFY2(TagLibraryLoaded(), "libtagwrapper.so not found beside the test program");
    }
    void cleanupTestCase() { UnloadTagLibrary(); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QFile::remove(m_state.filePath(QStringLiteral("tagora/journal")));
    }

    void setChangesOnlyTheNamedFieldsAndUndoPutsThemBack()
    {
        const QStringList paths = everyType(plainTag());
        QDir().mkdir(m_dir->filePath(QStringLiteral("deeper")));
        const QString deeper =
            sample(QStringLiteral("flac"), QStringLiteral("deeper/song"), nullptr);

        const Run set =
            cli({QStringLiteral("set"), QStringLiteral("album=X"), QStringLiteral("Comment="),
                 QStringLiteral("-r"), QStringLiteral(".")});
        QCOMPARE(set.code, 0);
        QCOMPARE(set.err, QByteArray());
        audiotag expected = readBack(plainTag());
        expected.Album = QStringLiteral("X");
        expected.Comment.clear();
        for (const QString& path : paths)
            QCOMPARE(readTag(path), expected);
        QCOMPARE(readTag(deeper).Album, QStringLiteral("X"));

        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        for (const QString& path : paths)
            QCOMPARE(readTag(path), readBack(plainTag()));
        QCOMPARE(readTag(deeper).Album, QString());
        // The undo is itself an operation; there is nothing older left to undo.
        QVERIFY(cli({QStringLiteral("undo")}).err.contains("nothing to undo"));
    }

    void dryRunWritesNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("set") << QStringList{QStringLiteral("set"), QStringLiteral("title=New"),
                                            QStringLiteral(".")};
        QTest::newRow("strip") << QStringList{QStringLiteral("strip"), QStringLiteral(".")};
        QTest::newRow("copy") << QStringList{
            QStringLiteral("copy"), sampleFile(QStringLiteral("mp3")), QStringLiteral(".")};
        QTest::newRow("fill") << QStringList{QStringLiteral("fill"), QStringLiteral("%title%"),
                                             QStringLiteral(".")};
        QTest::newRow("rename") << QStringList{QStringLiteral("rename"), QStringLiteral("%artist%"),
                                               QStringLiteral(".")};
        QTest::newRow("undo") << QStringList{QStringLiteral("undo")};
    }
    void dryRunWritesNothing()
    {
        QFETCH(QStringList, arguments);
        everyType(plainTag());
        QCOMPARE(
            cli({QStringLiteral("set"), QStringLiteral("album=Before"), QStringLiteral(".")}).code,
            0);
        QMap<QString, Snapshot> before;
        for (const QString& name : QDir(m_dir->path()).entryList(QDir::Files))
            before.insert(name, snapshot(m_dir->filePath(name)));
        const Snapshot journal = snapshot(m_state.filePath(QStringLiteral("tagora/journal")));

        const Run run = cli(arguments << QStringLiteral("-n"));
        QCOMPARE(run.code, 0);
        QVERIFY2(run.out.contains(" → "), run.out.constData());
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), before.keys());
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY2(snapshot(m_dir->filePath(it.key())) == it.value(), qPrintable(it.key()));
        QVERIFY(snapshot(m_state.filePath(QStringLiteral("tagora/journal"))) == journal);
    }

    void undoRefusesAFileChangedSinceUnlessForced()
    {
        const QString kept = sample(QStringLiteral("ogg"), QStringLiteral("kept"), nullptr);
        const QString changed = sample(QStringLiteral("m4a"), QStringLiteral("changed"), nullptr);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("title=Batch"), kept, changed}).code,
                 0);
        audiotag later = readTag(changed);
        later.Artist = QStringLiteral("Edited later");
        QCOMPARE(WriteTag(changed, later), WriteTagResult::Saved);

        const Run refused = cli({QStringLiteral("undo")});
        QCOMPARE(refused.code, 1);
        QCOMPARE(refused.err.count('\n'), 1);
        QVERIFY(refused.err.startsWith(
            QByteArray("tagora-cli: " + pathToNative(QFileInfo(changed).absoluteFilePath()) +
                       ": changed since operation 1")));
        QCOMPARE(readTag(kept).Title, QString());
        QCOMPARE(readTag(changed), later);

        QCOMPARE(cli({QStringLiteral("undo"), QStringLiteral("--force")}).code, 0);
        QCOMPARE(readTag(changed).Title, QString());
        QCOMPARE(readTag(changed).Artist, QStringLiteral("Edited later"));
    }

    void undoGoesBackThroughSeveralOperationsOnOneFile()
    {
        const audiotag tag = plainTag();
        const QString path = sample(QStringLiteral("flac"), QStringLiteral("stacked"), &tag);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("album=First"), path}).code, 0);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("album=Second"),
                      QStringLiteral("title=T"), path})
                     .code,
                 0);
        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        QCOMPARE(readTag(path).Album, QStringLiteral("First"));
        const Run rest = cli({QStringLiteral("undo")});
        QCOMPARE(rest.err, QByteArray());
        QCOMPARE(readTag(path), readBack(tag));
    }

    void stripRemovesTheTagAndUndoBringsTheTenFieldsBack_data() { addTypeRows(); }
    void stripRemovesTheTagAndUndoBringsTheTenFieldsBack()
    {
        QFETCH(QString, type);
        const audiotag tag = unicodeTag();
        const QString path = sample(type, QStringLiteral("strip"), &tag);
        QCOMPARE(cli({QStringLiteral("strip"), path}).code, 0);
        audiotag empty;
        empty.Track = empty.Year = QStringLiteral("0");
        empty.Length = 2;
        QCOMPARE(readTag(path), empty);
        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        QCOMPARE(readTag(path), readBack(tag));
    }

    void copyPutsTheSourceFieldsOnEveryTarget()
    {
        const audiotag source = unicodeTag();
        const QString from = sample(QStringLiteral("wma"), QStringLiteral("source"), &source);
        QDir().mkdir(m_dir->filePath(QStringLiteral("targets")));
        QStringList targets;
        for (const char* type : kAudioTypes)
            targets.append(sample(QString::fromLatin1(type), QStringLiteral("targets/t"), nullptr));
        QCOMPARE(cli({QStringLiteral("copy"), from, QStringLiteral("targets")}).code, 0);
        for (const QString& target : targets)
            QCOMPARE(readTag(target), readBack(source));
    }

    void fillTakesFieldsFromMatchingNamesOnly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("matches");
        QTest::newRow("matches") << QStringLiteral("07 - Some Artist - A - Title") << true;
        QTest::newRow("literal text missing") << QStringLiteral("07 Some Artist A Title") << false;
        QTest::newRow("too few parts") << QStringLiteral("07 - Some Artist") << false;
    }
    void fillTakesFieldsFromMatchingNamesOnly()
    {
        QFETCH(QString, name);
        QFETCH(bool, matches);
        const QString other = sample(QStringLiteral("ape"), QStringLiteral("99 - X - Y"), nullptr);
        const QString path = sample(QStringLiteral("mp3"), name, nullptr);
        const Snapshot before = snapshot(path);
        const Run run = cli({QStringLiteral("fill"), QStringLiteral("%track% - %artist% - %title%"),
                             QStringLiteral(".")});
        QCOMPARE(run.code, matches ? 0 : 1);
        QCOMPARE(readTag(other).Title, QStringLiteral("Y")); // the rest still done
        if (matches) {
            QCOMPARE(readTag(path).Track, QStringLiteral("7"));
            QCOMPARE(readTag(path).Artist, QStringLiteral("Some Artist"));
            QCOMPARE(readTag(path).Title, QStringLiteral("A - Title"));
        } else {
            QVERIFY(run.err.startsWith(QByteArray("tagora-cli: ./" + name.toUtf8() + ".mp3: ")));
            QVERIFY(snapshot(path) == before);
        }
    }

    void renameNeverReplacesOrMergesFiles()
    {
        audiotag tag;
        tag.Track = QStringLiteral("3");
        tag.Title = QStringLiteral("AC/DC");
        const QString first = sample(QStringLiteral("flac"), QStringLiteral("a"), &tag);
        const QString twin = sample(QStringLiteral("flac"), QStringLiteral("b"), &tag);
        tag.Title = QStringLiteral("Taken");
        const QString blocked = sample(QStringLiteral("ogg"), QStringLiteral("c"), &tag);
        const QString existing = sample(QStringLiteral("ogg"), QStringLiteral("03 Taken"), nullptr);
        const QString untitled = sample(QStringLiteral("mp3"), QStringLiteral("d"), nullptr);
        const Snapshot existingBefore = snapshot(existing);

        const Run run = cli({QStringLiteral("rename"), QStringLiteral("%track:2% %title%"), first,
                             twin, blocked, untitled});
        QCOMPARE(run.code, 1);
        QCOMPARE(run.err.count('\n'), 3);
        QVERIFY(
            run.err.contains(QByteArray("tagora-cli: " + pathToNative(twin) + ": another file")));
        QVERIFY(run.err.contains(QByteArray("tagora-cli: " + pathToNative(blocked) + ": ")));
        QVERIFY(run.err.contains(QByteArray("tagora-cli: " + pathToNative(untitled) +
                                            ": the pattern gives an empty name")));
        const QString renamed = m_dir->filePath(QStringLiteral("03 AC_DC.flac"));
        QVERIFY(QFile::exists(renamed) && !QFile::exists(first));
        QVERIFY(QFile::exists(twin) && QFile::exists(blocked) && QFile::exists(untitled));
        QVERIFY(snapshot(existing) == existingBefore);

        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        QVERIFY(QFile::exists(first) && !QFile::exists(renamed));
    }

    void csvRoundTripsAwkwardValuesAndNames()
    {
        audiotag awkward = unicodeTag();
        awkward.Title = QStringLiteral("a, \"quoted\" title");
        awkward.Comment = QStringLiteral("line one\r\nline two, with \"quotes\"\n");
        awkward.Album = QStringLiteral(" leading and trailing ");
        QStringList paths = everyType(awkward);
        const QByteArray oddName = pathToNative(m_dir->path()) + "/odd \xff\xfe,\".ogg";
        QVERIFY(copyToBytes(paths[1], oddName));
        paths.append(pathFromNative(oddName));

        const Run listed = cli({QStringLiteral("ls"), QStringLiteral("--format"),
                                QStringLiteral("csv"), QStringLiteral(".")});
        QCOMPARE(listed.code, 0);
        QVERIFY(listed.out.contains("\xff\xfe"));
        QCOMPARE(cli({QStringLiteral("strip"), QStringLiteral(".")}).code, 0);
        const Run imported = cli({QStringLiteral("import")}, listed.out);
        QCOMPARE(imported.err, QByteArray());
        QCOMPARE(imported.code, 0);
        for (const QString& path : std::as_const(paths))
            QCOMPARE(readTag(path), readBack(awkward));
    }

    void importLeavesMissingColumnsAloneAndEmptiesEmptyCells()
    {
        const QString path = sample(QStringLiteral("ape"), QStringLiteral("partial"), nullptr);
        const audiotag tag = plainTag();
        QCOMPARE(WriteTag(path, tag), WriteTagResult::Saved);
        QCOMPARE(cli({QStringLiteral("import")}, "path,TITLE,artist\r\npartial.ape,New,\r\n").code,
                 0);
        audiotag expected = readBack(tag);
        expected.Title = QStringLiteral("New");
        expected.Artist.clear();
        QCOMPARE(readTag(path), expected);
        QCOMPARE(cli({QStringLiteral("import")}, "path,colour\r\npartial.ape,red\r\n").code, 2);
    }

    void everyMachineFormatHoldsEveryValueWhole()
    {
        audiotag awkward = unicodeTag();
        awkward.Title = QStringLiteral("tab\there, back\\slash \"quoted\"");
        const QStringList paths = everyType(awkward);
        const audiotag expected = readBack(awkward);
        const QList<QByteArray> columns{"title", "artist",  "album",     "track", "year",
                                        "genre", "comment", "copyright", "bpm",   "key"};

        const Run json =
            cli({QStringLiteral("ls"), QStringLiteral("--format=json"), QStringLiteral(".")});
        const QJsonArray rows = QJsonDocument::fromJson(json.out).array();
        QCOMPARE(rows.size(), paths.size());
        const Run tsv =
            cli({QStringLiteral("ls"), QStringLiteral("--format=tsv"), QStringLiteral(".")});
        const QList<QByteArray> lines = tsv.out.split('\n');
        QCOMPARE(lines.first(), "path\t" + columns.join('\t') + "\tlength\tpictures");
        for (qsizetype row = 0; row < rows.size(); ++row) {
            const QJsonObject object = rows[row].toObject();
            QList<QByteArray> cells = lines[row + 1].split('\t');
            QCOMPARE(cells.size(), columns.size() + 3);
            for (qsizetype i = 0; i < columns.size(); ++i) {
                const QString value = expected.*TagFields[size_t(i)].member;
                QCOMPARE(object.value(QLatin1String(columns[i])).toString(), value);
                QByteArray unescaped = cells[i + 1];
                unescaped.replace("\\n", "\n").replace("\\t", "\t").replace("\\\\", "\\");
                QCOMPARE(QString::fromUtf8(unescaped), value);
            }
            QCOMPARE(object.value(QLatin1String("length")).toInt(), 2);
        }
    }

    void importReportsABadRecordAndGoesOn()
    {
        const QString kept = sample(QStringLiteral("m4a"), QStringLiteral("kept"), nullptr);
        const QByteArray csv = "path,genre\r\n"
                               "kept.m4a,Blues\r\n"
                               "kept.m4a\r\n"
                               "missing.flac,Soul\r\n";
        const Run run = cli({QStringLiteral("import"), QStringLiteral("-")}, csv);
        QCOMPARE(run.code, 1);
        const QList<QByteArray> failures = run.err.trimmed().split('\n');
        QCOMPARE(failures.size(), 2);
        QVERIFY(failures[0].startsWith("tagora-cli: -: record 3 has 1 cells"));
        QVERIFY(failures[1].startsWith("tagora-cli: missing.flac: unreadable"));
        QCOMPARE(readTag(kept).Genre, QStringLiteral("Blues"));
    }

    void historyListsTheNamedFilesOnly()
    {
        QDir().mkdir(m_dir->filePath(QStringLiteral("one")));
        const QString inside = sample(QStringLiteral("mp3"), QStringLiteral("one/a"), nullptr);
        const QString outside = sample(QStringLiteral("mp3"), QStringLiteral("onemore"), nullptr);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("year=2001"), inside, outside}).code,
                 0);
        const Run all = cli({QStringLiteral("history")});
        QCOMPARE(all.out.count('\n'), 2);
        const Run one = cli({QStringLiteral("history"), QStringLiteral("one")});
        QCOMPARE(one.out.count('\n'), 1);
        QVERIFY(one.out.contains(QByteArray(pathToNative(inside) + "\tyear was \"0\"")));
    }

    void getGivesTheBareValueOfOneFileAndPathsForMore()
    {
        audiotag tag;
        tag.Key = QStringLiteral("C#m");
        const QString first = sample(QStringLiteral("ogg"), QStringLiteral("a"), &tag);
        sample(QStringLiteral("flac"), QStringLiteral("b"), &tag);
        QCOMPARE(cli({QStringLiteral("get"), QStringLiteral("KEY"), first}).out,
                 QByteArray("C#m\n"));
        QCOMPARE(cli({QStringLiteral("get"), QStringLiteral("key"), QStringLiteral(".")}).out,
                 QByteArray("./a.ogg\tC#m\n./b.flac\tC#m\n"));
    }

    void namesThatAreNotUtf8StayByteExact()
    {
        const QByteArray folder = pathToNative(m_dir->path());
        const QString path = pathFromNative(folder + "/caf\xe9 \x80.mp3");
        QVERIFY(copyToBytes(sampleFile(QStringLiteral("mp3")), pathToNative(path)));
        QCOMPARE(
            cli({QStringLiteral("set"), QStringLiteral("title=Bytes"), QStringLiteral(".")}).code,
            0);
        QCOMPARE(readTag(path).Title, QStringLiteral("Bytes"));

        const Run tsv =
            cli({QStringLiteral("ls"), QStringLiteral("--format=tsv"), QStringLiteral(".")});
        QVERIFY(tsv.out.contains("\n./caf\xe9 \x80.mp3\tBytes\t"));
        const Run json = cli({QStringLiteral("ls"), QStringLiteral("--format"),
                              QStringLiteral("json"), QStringLiteral(".")});
        QVERIFY2(json.out.contains("\"path\": \"./caf\\udce9 \\udc80.mp3\""), json.out.constData());

        QCOMPARE(
            cli({QStringLiteral("rename"), QStringLiteral("%title% é"), QStringLiteral(".")}).code,
            0);
        QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("Bytes é.mp3"))));
        const Run history = cli({QStringLiteral("history")});
        QVERIFY(history.out.contains(QByteArray(folder + "/caf\xe9 \x80.mp3")));
        QCOMPARE(cli({QStringLiteral("undo"), QStringLiteral("--all")}).code, 0);
        QCOMPARE(::access(pathToNative(path).constData(), F_OK), 0);
        QCOMPARE(readTag(path).Title, QString());
    }

    void exitStatusAndFailureLines_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("failure");
        const QString good = QStringLiteral("good.mp3");
        QTest::newRow("all done") << QStringList{QStringLiteral("get"), QStringLiteral("title"),
                                                 good}
                                  << 0 << QByteArray();
        QTest::newRow("missing file")
            << QStringList{QStringLiteral("set"), QStringLiteral("title=x"), good,
                           QStringLiteral("gone.mp3")}
            << 1 << QByteArray("tagora-cli: gone.mp3: unreadable");
        QTest::newRow("unknown type")
            << QStringList{QStringLiteral("ls"), QStringLiteral("notes.txt")} << 1
            << QByteArray("tagora-cli: notes.txt: not an audio file of a known type");
        QTest::newRow("not audio inside")
            << QStringList{QStringLiteral("strip"), QStringLiteral("junk.flac"), good} << 1
            << QByteArray("tagora-cli: junk.flac: not an audio file of a known type");
        QTest::newRow("unknown command") << QStringList{QStringLiteral("frobnicate")} << 2
                                         << QByteArray("tagora-cli: unknown command");
        QTest::newRow("unknown field")
            << QStringList{QStringLiteral("set"), QStringLiteral("mood=sad"), good} << 2
            << QByteArray("tagora-cli: 'mood=sad'");
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("ls"), QStringLiteral("--fast"), good} << 2
            << QByteArray("tagora-cli: unknown option");
        QTest::newRow("option of another command")
            << QStringList{QStringLiteral("get"), QStringLiteral("-n"), QStringLiteral("title"),
                           good}
            << 2 << QByteArray("tagora-cli: option '-n'");
        QTest::newRow("bad placeholder")
            << QStringList{QStringLiteral("rename"), QStringLiteral("%mood%"), good} << 2
            << QByteArray("tagora-cli: unknown placeholder");
        QTest::newRow("no paths") << QStringList{QStringLiteral("strip")} << 2
                                  << QByteArray("tagora-cli: strip needs");
    }
    void exitStatusAndFailureLines()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QByteArray, failure);
        sample(QStringLiteral("mp3"), QStringLiteral("good"), nullptr);
        QVERIFY(writeFile(m_dir->filePath(QStringLiteral("notes.txt")), "text"));
        QVERIFY(writeFile(m_dir->filePath(QStringLiteral("junk.flac")), "not flac at all"));
        const Run run = cli(arguments);
        QCOMPARE(run.code, code);
        QVERIFY2(run.err.startsWith(failure), run.err.constData());
        if (code == 1)
            QCOMPARE(run.err.count('\n'), 1);
    }

    void aReadOnlyFileIsNamedAndTheOthersAreDone()
    {
        if (::geteuid() == 0)
            QSKIP("root writes to read-only files");
        const QString locked = sample(QStringLiteral("ogg"), QStringLiteral("locked"), nullptr);
        const QString open = sample(QStringLiteral("wma"), QStringLiteral("open"), nullptr);
        QFile::setPermissions(locked, QFile::ReadOwner);
        const Run run =
            cli({QStringLiteral("set"), QStringLiteral("genre=Jazz"), QStringLiteral(".")});
        QCOMPARE(run.code, 1);
        QCOMPARE(run.err, QByteArray("tagora-cli: ./locked.ogg: read-only\n"));
        QCOMPARE(readTag(open).Genre, QStringLiteral("Jazz"));
        QCOMPARE(readTag(locked).Genre, QString());
    }

    void versionComesFromTheVersionBlock()
    {
        const Run run = cli({QStringLiteral("--version")});
        QCOMPARE(run.code, 0);
        QCOMPARE(run.out, QByteArray("tagora-cli " TAGORA_VERSION "\n"));
    }

    void linksNoQtGuiOrWidgets()
    {
        QProcess readelf;
        readelf.start(QStringLiteral("readelf"),
                      {QStringLiteral("-d"), QStringLiteral(TAGORA_CLI_PATH)});
        QVERIFY(readelf.waitForFinished());
        const QByteArray dynamic = readelf.readAllStandardOutput();
        QVERIFY(dynamic.contains("(NEEDED)"));
        QVERIFY(dynamic.contains("libQt6Core"));
        QVERIFY(!dynamic.contains("libQt6Gui"));
        QVERIFY(!dynamic.contains("libQt6Widgets"));
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"

// tagora-cli as a separate process on copies of the sample files of all six types, with its
// journal in a temporary state folder; every result is read back through libtagwrapper.so.
#include "services/nativepath.h"
#include "support/clirun.h"
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
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tagora;
using namespace tagora::test;

namespace {

using Run = tagora::test::CliRun;

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

// True while the process sleeps in a read from a pipe, past its start.
bool waitsForInput(qint64 pid)
{
    QFile wchan(QStringLiteral("/proc/%1/wchan").arg(pid));
    return wchan.open(QIODevice::ReadOnly) && wchan.readAll().contains("pipe_read");
}

// Terminal cells of a line of the table: wide characters and emoji two, marks and joiners
// none, a joined emoji sequence as its first picture.
int terminalCells(const QByteArray& line)
{
    const QList<uint> codes = QString::fromUtf8(line).toUcs4();
    int cells = 0;
    for (qsizetype i = 0; i < codes.size(); ++i) {
        const uint code = codes[i];
        if (i > 0 && codes[i - 1] == 0x200D)
            continue;
        const QChar::Category category = QChar::category(char32_t(code));
        if (category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing ||
            category == QChar::Other_Format)
            continue;
        cells += (code >= 0x4E00 && code <= 0x9FFF) || (code >= 0x1F300 && code <= 0x1FAFF) ? 2 : 1;
    }
    return cells;
}

} // namespace

class CliTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_state;
    std::unique_ptr<QTemporaryDir> m_dir;

    // `editor` is the program 'edit' runs, with its temporary table in m_dir's "tmp".
    Run cli(const QStringList& arguments, const QByteArray& input = {}, const QString& editor = {})
    {
        tagora::test::CliPlace place{m_state.path(), m_dir->path()};
        if (!editor.isEmpty()) {
            place.extra.insert(QStringLiteral("VISUAL"), editor);
            place.extra.insert(QStringLiteral("TMPDIR"), m_dir->filePath(QStringLiteral("tmp")));
        }
        return tagora::test::runCli(QStringLiteral(TAGORA_CLI_PATH), arguments, place, input);
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

    QString journalPath() const { return m_state.filePath(QStringLiteral("tagora/journal")); }

    // Every file of the working folder with its bytes and time, and the journal's bytes.
    QMap<QString, Snapshot> everything() const
    {
        QMap<QString, Snapshot> files;
        for (const QString& name : QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden))
            files.insert(name, snapshot(m_dir->filePath(name)));
        if (QFileInfo(journalPath()).isFile()) // never read /dev/full standing in for it
            files.insert(QStringLiteral("journal"), snapshot(journalPath()));
        return files;
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
        QTest::newRow("set -t") << QStringList{QStringLiteral("set"), QStringLiteral("-t"),
                                               QStringLiteral("title=%artist%"),
                                               QStringLiteral(".")};
        QTest::newRow("replace") << QStringList{QStringLiteral("replace"), QStringLiteral("title"),
                                                QStringLiteral("(T)"), QStringLiteral("[\\1]"),
                                                QStringLiteral(".")};
        QTest::newRow("case") << QStringList{QStringLiteral("case"), QStringLiteral("title"),
                                             QStringLiteral("--upper"), QStringLiteral(".")};
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
        QCOMPARE(cli({QStringLiteral("import")}, "path,col=our\r\npartial.ape,red\r\n").code, 2);
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

    // A bad record refuses the whole csv before any file is written; a missing file is
    // reported and the others are done.
    void importReportsABadRecordAndGoesOn()
    {
        const QString kept = sample(QStringLiteral("m4a"), QStringLiteral("kept"), nullptr);
        const QByteArray csv = "path,genre\r\n"
                               "kept.m4a,Blues\r\n"
                               "kept.m4a\r\n"
                               "missing.flac,Soul\r\n";
        const Run refused = cli({QStringLiteral("import"), QStringLiteral("-")}, csv);
        QCOMPARE(refused.code, 2);
        QVERIFY2(refused.err.startsWith("tagora-cli: -: line 3 has 1 cells"), refused.err);
        QCOMPARE(readTag(kept).Genre, QString());

        QByteArray fixed = csv;
        fixed.replace("kept.m4a\r\n", "");
        const Run run = cli({QStringLiteral("import"), QStringLiteral("-")}, fixed);
        QCOMPARE(run.code, 1);
        const QList<QByteArray> failures = run.err.trimmed().split('\n');
        QCOMPARE(failures.size(), 1);
        QVERIFY(failures[0].startsWith("tagora-cli: missing.flac: unreadable"));
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

    void whereChoosesExactlyTheMatchingFilesInATreeOfEveryType()
    {
        QDir().mkpath(m_dir->filePath(QStringLiteral("sub/deep")));
        audiotag chosen = plainTag();
        chosen.Artist = QStringLiteral("the band");
        chosen.Year = QStringLiteral("1995");
        audiotag wrongYear = chosen;
        wrongYear.Year = QStringLiteral("1989");
        audiotag wrongArtist = chosen;
        wrongArtist.Artist = QStringLiteral("The Bandits");
        QStringList expected;
        QMap<QString, Snapshot> others;
        for (const char* type : kAudioTypes) {
            const QString suffix = QString::fromLatin1(type);
            expected.append(sample(suffix, QStringLiteral("sub/deep/chosen"), &chosen));
            for (const QString& other : {sample(suffix, QStringLiteral("sub/year"), &wrongYear),
                                         sample(suffix, QStringLiteral("artist"), &wrongArtist)})
                others.insert(other, snapshot(other));
        }
        const QStringList where{QStringLiteral("--where"), QStringLiteral("artist=THE BAND"),
                                QStringLiteral("--where=year=1990..1999"), QStringLiteral("-r"),
                                QStringLiteral(".")};

        const Run listed = cli(
            QStringList{QStringLiteral("ls"), QStringLiteral("--format"), QStringLiteral("tsv")} +
            where);
        QCOMPARE(listed.out.count('\n'), expected.size() + 1);
        for (const QString& path : std::as_const(expected))
            QVERIFY(listed.out.contains(
                QByteArray("./sub/deep/" + QFileInfo(path).fileName().toUtf8() + '\t')));
        const Run set =
            cli(QStringList{QStringLiteral("set"), QStringLiteral("genre=Chosen")} + where);
        QCOMPARE(set.code, 0);
        for (const QString& path : std::as_const(expected))
            QCOMPARE(readTag(path).Genre, QStringLiteral("Chosen"));
        for (auto it = others.cbegin(); it != others.cend(); ++it)
            QVERIFY2(snapshot(it.key()) == it.value(), qPrintable(it.key()));
        QCOMPARE(cli({QStringLiteral("history")}).out.count('\n'), expected.size());
        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        for (const QString& path : std::as_const(expected))
            QCOMPARE(readTag(path), readBack(chosen));
    }

    void aMalformedWhereIsAUsageErrorNamingItsBadPart()
    {
        const QString path = sample(QStringLiteral("mp3"), QStringLiteral("a"), nullptr);
        const Snapshot before = snapshot(path);
        const Run run = cli({QStringLiteral("set"), QStringLiteral("title=X"),
                             QStringLiteral("--where"), QStringLiteral("year<19x"), path});
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.startsWith("tagora-cli: --where 'year<19x': '19x' after '<' is not a "
                                    "number\n"),
                 run.err.constData());
        QVERIFY(snapshot(path) == before);
        QVERIFY(!QFile::exists(m_state.filePath(QStringLiteral("tagora/journal"))));
    }

    void rulesChangeOnlyTheirValuesAndUndoPutsThemBack_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");
        QTest::newRow("case --title")
            << "mp3"
            << QStringList{QStringLiteral("case"), QStringLiteral("title"),
                           QStringLiteral("--title")}
            << "back in black by AC/DC"
            << "Back in Black by AC/DC";
        QTest::newRow("trim") << "ogg"
                              << QStringList{QStringLiteral("trim"), QStringLiteral("title")}
                              << "  Back   in  Black "
                              << "Back in Black";
        QTest::newRow("replace") << "flac"
                                 << QStringList{QStringLiteral("replace"), QStringLiteral("title"),
                                                QStringLiteral("^(.*) \\(feat\\. (.*)\\)$"),
                                                QStringLiteral("\\2: \\1")}
                                 << "Song (feat. Guest)"
                                 << "Guest: Song";
        QTest::newRow("set -t") << "m4a"
                                << QStringList{QStringLiteral("set"), QStringLiteral("-t"),
                                               QStringLiteral("title=%track:3% %artist%")}
                                << "Song"
                                << "007 An Artist";
    }
    void rulesChangeOnlyTheirValuesAndUndoPutsThemBack()
    {
        QFETCH(QString, type);
        QFETCH(QStringList, arguments);
        QFETCH(QString, title);
        QFETCH(QString, expected);
        audiotag tag = plainTag();
        tag.Title = title;
        const QString path = sample(type, QStringLiteral("rule"), &tag);
        audiotag done = tag;
        done.Title = expected;
        const QString alreadyDone = sample(type, QStringLiteral("done"), &done);
        const Snapshot doneBefore = snapshot(alreadyDone);

        QCOMPARE(cli(arguments + QStringList{QStringLiteral(".")}).code, 0);
        QCOMPARE(readTag(path), readBack(done));
        QVERIFY(snapshot(alreadyDone) == doneBefore);
        QCOMPARE(cli({QStringLiteral("history")}).out.count('\n'), 1);
        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        QCOMPARE(readTag(path), readBack(tag));
    }

    void setStrictRefusesAFileWithAnEmptyField()
    {
        const audiotag tag = plainTag();
        const QString full = sample(QStringLiteral("ape"), QStringLiteral("full"), &tag);
        const QString bare = sample(QStringLiteral("wma"), QStringLiteral("bare"), nullptr);
        const Snapshot bareBefore = snapshot(bare);
        const Run run =
            cli({QStringLiteral("set"), QStringLiteral("-t"), QStringLiteral("--strict"),
                 QStringLiteral("comment=%artist%, %year%"), full, bare});
        QCOMPARE(run.code, 1);
        QCOMPARE(run.err, QByteArray("tagora-cli: " + pathToNative(bare) +
                                     ": %artist% is empty; left alone (--strict)\n"));
        QCOMPARE(readTag(full).Comment, QStringLiteral("An Artist, 1999"));
        QVERIFY(snapshot(bare) == bareBefore);
    }

    void editWritesOnlyTheChangedCells_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("changed");
        QTest::addColumn<QByteArrayList>("failures");
        // Rows of the table are "./NAME.TYPE<tab>title<tab>artist...<tab>genre<tab>..."
        const QByteArray twoCells = "sed -i -e '/^\\.\\/b\\.flac\\t/s/\\tA Title\\t/\\tNew\\t/' "
                                    "-e '/^\\.\\/c\\.ogg\\t/s/\\tJazz\\t/\\tBlues\\t/' \"$1\"\n";
        QTest::newRow("two cells")
            << twoCells << QStringList{} << 0
            << QStringList{QStringLiteral("b.flac"), QStringLiteral("c.ogg")} << QByteArrayList{};
        QTest::newRow("damaged rows")
            << QByteArray("sed -i -e 's/^\\.\\/a\\.mp3/.\\/x.mp3/' -e '/^\\.\\/b/p' "
                          "-e 's/\\tJazz\\t/\\tBlues\\t/' \"$1\"\n")
            << QStringList{} << 1 << QStringList{QStringLiteral("c.ogg")}
            << QByteArrayList{"line 2: './x.mp3' is not the path", "line 4: the path of line 3",
                              "line 2: the row of './a.mp3' was deleted"};
        QTest::newRow("header changed")
            << QByteArray("sed -i -e '1s/title/name/' -e 's/Jazz/Blues/' \"$1\"\n") << QStringList{}
            << 1 << QStringList{} << QByteArrayList{"line 1: the header"};
        QTest::newRow("editor fails")
            << QByteArray("sed -i 's/Jazz/Blues/' \"$1\"; exit 3\n") << QStringList{} << 1
            << QStringList{} << QByteArrayList{"exited with status 3"};
        const QByteArray touchC = "touch -d '2001-01-01 00:00' c.ogg\n";
        QTest::newRow("file changed meanwhile")
            << touchC + twoCells << QStringList{} << 0
            << QStringList{QStringLiteral("b.flac"), QStringLiteral("c.ogg")} << QByteArrayList{};
        QTest::newRow("file changed meanwhile, forced")
            << touchC + twoCells << QStringList{QStringLiteral("--force")} << 0
            << QStringList{QStringLiteral("b.flac"), QStringLiteral("c.ogg")} << QByteArrayList{};
    }
    void editWritesOnlyTheChangedCells()
    {
        QFETCH(QByteArray, script);
        QFETCH(QStringList, options);
        QFETCH(int, code);
        QFETCH(QStringList, changed);
        QFETCH(QByteArrayList, failures);
        const audiotag tag = plainTag();
        QMap<QString, Snapshot> before;
        for (const QString& name :
             {QStringLiteral("a.mp3"), QStringLiteral("b.flac"), QStringLiteral("c.ogg")}) {
            sample(name.section(u'.', 1), name.section(u'.', 0, 0), &tag);
            before.insert(name, snapshot(m_dir->filePath(name)));
        }
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("tmp")));
        const QString editor = m_dir->filePath(QStringLiteral("editor.sh"));
        QVERIFY(writeFile(editor, "#!/bin/sh\n" + script));
        QVERIFY(QFile::setPermissions(editor, QFile::ReadOwner | QFile::ExeOwner));

        const Run run =
            cli(QStringList{QStringLiteral("edit"), QStringLiteral(".")} + options, {}, editor);
        QCOMPARE(run.code, code);
        QCOMPARE(run.err.count('\n'), failures.size());
        for (const QByteArray& failure : std::as_const(failures))
            QVERIFY2(run.err.contains(failure), run.err.constData());
        QCOMPARE(QDir(m_dir->filePath(QStringLiteral("tmp"))).entryList(QDir::Files),
                 QStringList());
        audiotag expectedB = readBack(tag);
        expectedB.Title = QStringLiteral("New");
        audiotag expectedC = readBack(tag);
        expectedC.Genre = QStringLiteral("Blues");
        QCOMPARE(readTag(m_dir->filePath(QStringLiteral("b.flac"))),
                 changed.contains(QStringLiteral("b.flac")) ? expectedB : readBack(tag));
        QCOMPARE(readTag(m_dir->filePath(QStringLiteral("c.ogg"))),
                 changed.contains(QStringLiteral("c.ogg")) ? expectedC : readBack(tag));
        QVERIFY(snapshot(m_dir->filePath(QStringLiteral("a.mp3"))) ==
                before.value(QStringLiteral("a.mp3")));
        QCOMPARE(run.out.count(" → "), changed.size());

        cli({QStringLiteral("undo")});
        for (const QString& name : before.keys())
            QCOMPARE(readTag(m_dir->filePath(name)), readBack(tag));
    }

    // While the table is open, another tagora-cli saves c.ogg; the table changes its genre.
    void editKeepsAnotherProgramsSave_data()
    {
        QTest::addColumn<QByteArray>("other"); // what the other program sets
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("artist"); // c.ogg's fields afterwards
        QTest::addColumn<QString>("genre");
        QTest::addColumn<QByteArray>("failure");
        const QString artist = plainTag().Artist;
        const QString blues = QStringLiteral("Blues");
        QTest::newRow("another field") << QByteArray("artist=Other") << QStringList{}
                                       << QStringLiteral("Other") << blues << QByteArray();
        QTest::newRow("same field, same text")
            << QByteArray("genre=Blues") << QStringList{} << artist << blues << QByteArray();
        QTest::newRow("same field, another text")
            << QByteArray("genre=Rock") << QStringList{} << artist << QStringLiteral("Rock")
            << QByteArray("c.ogg: changed on disk while being edited; left alone");
        QTest::newRow("same field, another text, forced")
            << QByteArray("genre=Rock") << QStringList{QStringLiteral("--force")} << artist << blues
            << QByteArray();
    }
    void editKeepsAnotherProgramsSave()
    {
        QFETCH(QByteArray, other);
        QFETCH(QStringList, options);
        QFETCH(QString, artist);
        QFETCH(QString, genre);
        QFETCH(QByteArray, failure);
        const audiotag tag = plainTag();
        const QString path = sample(QStringLiteral("ogg"), QStringLiteral("c"), &tag);
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("tmp")));
        const QString editor = m_dir->filePath(QStringLiteral("editor.sh"));
        QVERIFY(writeFile(editor,
                          "#!/bin/sh\n'" TAGORA_CLI_PATH "' set '" + other +
                              "' ./c.ogg >/dev/null\n"
                              "cp -p c.ogg other.bin\n"
                              "sed -i '/^\\.\\/c\\.ogg\\t/s/\\tJazz\\t/\\tBlues\\t/' \"$1\"\n"));
        QVERIFY(QFile::setPermissions(editor, QFile::ReadOwner | QFile::ExeOwner));

        const Run run =
            cli(QStringList{QStringLiteral("edit"), QStringLiteral(".")} + options, {}, editor);
        QCOMPARE(run.code, failure.isEmpty() ? 0 : 1);
        QVERIFY2(failure.isEmpty() ? run.err.isEmpty() : run.err.contains(failure),
                 run.err.constData());
        audiotag expected = readBack(tag);
        expected.Artist = artist;
        expected.Genre = genre;
        QCOMPARE(readTag(path), expected);
        if (!failure.isEmpty())
            QVERIFY(snapshot(path) == snapshot(m_dir->filePath(QStringLiteral("other.bin"))));
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
            << QStringList{QStringLiteral("set"), QStringLiteral("title+=sad"), good} << 2
            << QByteArray("tagora-cli: 'title+=sad'");
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("ls"), QStringLiteral("--fast"), good} << 2
            << QByteArray("tagora-cli: unknown option");
        QTest::newRow("option of another command")
            << QStringList{QStringLiteral("get"), QStringLiteral("-n"), QStringLiteral("title"),
                           good}
            << 2 << QByteArray("tagora-cli: option '-n'");
        QTest::newRow("bad placeholder")
            << QStringList{QStringLiteral("rename"), QStringLiteral("%no such%"), good} << 2
            << QByteArray("tagora-cli: unknown placeholder");
        QTest::newRow("no paths") << QStringList{QStringLiteral("strip")} << 2
                                  << QByteArray("tagora-cli: strip needs");
        QTest::newRow("--where where no files are taken")
            << QStringList{QStringLiteral("undo"), QStringLiteral("--where=title=x")} << 2
            << QByteArray("tagora-cli: option '--where=title=x'");
        QTest::newRow("a flag given a value")
            << QStringList{QStringLiteral("ls"), QStringLiteral("--recursive=yes"), good} << 2
            << QByteArray("tagora-cli: unknown option");
        QTest::newRow("case without a style")
            << QStringList{QStringLiteral("case"), QStringLiteral("title"), good} << 2
            << QByteArray("tagora-cli: case needs one of");
        QTest::newRow("replace with a missing capture")
            << QStringList{QStringLiteral("replace"), QStringLiteral("title"),
                           QStringLiteral("(a)"), QStringLiteral("\\2"), good}
            << 2 << QByteArray("tagora-cli: the replacement refers to \\\\2");
        QTest::newRow("unknown --fields")
            << QStringList{QStringLiteral("edit"), QStringLiteral("--fields"),
                           QStringLiteral("title,mood"), good}
            << 2 << QByteArray("tagora-cli: unknown field 'mood'");
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
        QCOMPARE(run.err, QByteArray("tagora-cli: ./locked.ogg: read-only: Permission denied\n"));
        QCOMPARE(readTag(open).Genre, QStringLiteral("Jazz"));
        QCOMPARE(readTag(locked).Genre, QString());
    }

    // Each of these is refused whole, before the first file is touched.
    void badInputIsRefusedBeforeAnyWrite_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("reason");
        const auto row = [](const char* name, const QStringList& arguments, const QByteArray& input,
                            const QByteArray& reason) {
            QTest::newRow(name) << arguments << input << reason;
        };
        const QString set = QStringLiteral("set");
        const QString dot = QStringLiteral(".");
        row("unknown field after a known one",
            {set, QStringLiteral("album=X"), QStringLiteral("title+=bar"), dot}, {},
            "'title+=bar'");
        row("negative track", {set, QStringLiteral("track=-1"), dot}, {}, "'-1' is not");
        row("letters for a year", {set, QStringLiteral("year=abc"), dot}, {}, "'abc' is not");
        row("total not a number", {set, QStringLiteral("track=3/x"), dot}, {}, "'3/x'");
        row("month 13", {set, QStringLiteral("year=2001-13-01"), dot}, {}, "'2001-13-01'");
        row("track beyond 32 bits", {set, QStringLiteral("track=4294967296"), dot}, {}, "is not");
        row("fill gives no number",
            {QStringLiteral("fill"), QStringLiteral("%track% - %title%"), dot}, {}, "'ab' is not");
        row("padding beyond 255", {QStringLiteral("rename"), QStringLiteral("%track:256%"), dot},
            {}, "pads to more than 255");
        row("pattern leaves the folder",
            {QStringLiteral("rename"), QStringLiteral("../%title%"), dot}, {}, "names a folder");
        const QString import = QStringLiteral("import");
        row("quote never closed", {import}, "path,comment\n01.mp3,\"open\n02.mp3,x\n",
            "-: line 2, column 8: the quote opened here is never closed");
        row("quote inside a cell", {import}, "path,title\n01.mp3,a\"b\n", "line 2, column 9");
        row("text after a quote", {import}, "path,title\n01.mp3,\"a\"b\n", "line 2, column 11");
        row("too few cells", {import}, "path,title,album\n01.mp3,a\n", "line 2 has 2 cells");
        row("bad year cell", {import}, "Path,YEAR\n01.mp3,2001\n01.mp3,soon\n",
            "line 3, column 2: 'soon' is not");
        row("unknown column", {import}, "path,mo=od\n01.mp3,x\n", "unknown column 'mo=od'");
    }
    void badInputIsRefusedBeforeAnyWrite()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, reason);
        for (const char* name : {"01", "ab - x"})
            sample(QStringLiteral("mp3"), QString::fromLatin1(name), nullptr);
        const QMap<QString, Snapshot> before = everything();
        const Run run = cli(arguments, input);
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(reason), run.err.constData());
        QVERIFY(everything() == before);
    }

    void fullNumberFormsAreAccepted_data()
    {
        QTest::addColumn<QString>("assignment");
        QTest::newRow("track with total") << QStringLiteral("track=3/12");
        QTest::newRow("full date") << QStringLiteral("year=2001-05-17");
        QTest::newRow("year and month") << QStringLiteral("year=2001-05");
        QTest::newRow("cleared") << QStringLiteral("track=");
    }
    void fullNumberFormsAreAccepted()
    {
        QFETCH(QString, assignment);
        const QString path = sample(QStringLiteral("flac"), QStringLiteral("full"), nullptr);
        const Run run = cli({QStringLiteral("set"), assignment, path});
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.code, 0);
    }

    void importReadsASpreadsheetCsvBesideItsFiles()
    {
        QDir().mkdir(m_dir->filePath(QStringLiteral("album")));
        const QString beside = sample(QStringLiteral("ogg"), QStringLiteral("album/song"), nullptr);
        const QString here = sample(QStringLiteral("ogg"), QStringLiteral("song"), nullptr);
        QVERIFY(writeFile(m_dir->filePath(QStringLiteral("album/tags.csv")),
                          "\xEF\xBB\xBFPATH,Title\r\nsong.ogg,Beside\r\n"));
        const Run run = cli({QStringLiteral("import"), QStringLiteral("album/tags.csv")});
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.code, 0);
        QCOMPARE(readTag(beside).Title, QStringLiteral("Beside"));
        QCOMPARE(readTag(here).Title, QString());
    }

    void renameStaysInTheFolderAndDryRunShowsTheRealRun_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("name");
        QTest::newRow("slash") << QStringLiteral("AC/DC") << QStringLiteral("AC_DC");
        QTest::newRow("parent") << QStringLiteral("../up") << QStringLiteral("___up");
        QTest::newRow("dots only") << QStringLiteral("..") << QStringLiteral("__");
        QTest::newRow("hidden") << QStringLiteral(".hidden") << QStringLiteral("_hidden");
        QTest::newRow("too long") << QString(300, u'x') << QString();
    }
    void renameStaysInTheFolderAndDryRunShowsTheRealRun()
    {
        QFETCH(QString, title);
        QFETCH(QString, name);
        audiotag tag;
        tag.Title = title;
        const QString path = sample(QStringLiteral("flac"), QStringLiteral("a"), &tag);
        const QStringList arguments{QStringLiteral("rename"), QStringLiteral("%title%"), path};
        const Run dry = cli(QStringList(arguments) << QStringLiteral("-n"));
        const Run real = cli(arguments);
        QCOMPARE(dry.code, real.code);
        QCOMPARE(dry.err, real.err);
        const QString target = m_dir->filePath(name + QStringLiteral(".flac"));
        if (name.isEmpty()) {
            QCOMPARE(real.code, 1);
            QVERIFY(real.err.contains("longer than 255 bytes"));
            QVERIFY(QFile::exists(path));
            return;
        }
        QCOMPARE(real.code, 0);
        QCOMPARE(dry.out, QByteArray(pathToNative(path) + " → " + pathToNative(target) + '\n'));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QFileInfo(target).fileName()});
    }

    // A crash can cut the journal's last line; the record it held is not trusted, and the
    // next command starts a line of its own.
    void aCutLastLineIsIgnored()
    {
        audiotag tag;
        tag.Comment = QStringLiteral("Original comment");
        const QString path = sample(QStringLiteral("mp3"), QStringLiteral("cut"), &tag);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("comment=Changed"), path}).code, 0);
        const QByteArray journal = contents(journalPath());
        const qsizetype record = journal.lastIndexOf("comment=Original");
        QVERIFY(record > 0);
        QVERIFY(
            writeFile(journalPath(), journal.left(record + int(qstrlen("comment=Original c")))));

        const Run undo = cli({QStringLiteral("undo")});
        QCOMPARE(undo.code, 0);
        QVERIFY(undo.err.contains("nothing to undo"));
        QCOMPARE(readTag(path).Comment, QStringLiteral("Changed"));

        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("title=After"), path}).code, 0);
        QCOMPARE(cli({QStringLiteral("history")}).out.count('\n'), 1);
        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        QCOMPARE(readTag(path).Title, QString());
    }

    // A run killed between a save and its settling line, or before the save, leaves a record
    // pending; the next run settles it from the file, and undo puts back what was saved.
    void pendingRecordsAreSettledFromTheFile()
    {
        const QString saved = sample(QStringLiteral("ogg"), QStringLiteral("saved"), nullptr);
        const QString untouched =
            sample(QStringLiteral("wma"), QStringLiteral("untouched"), nullptr);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("album=New"), saved}).code, 0);
        QList<QByteArray> lines = contents(journalPath()).split('\n');
        lines.removeIf([](const QByteArray& line) { return line.startsWith("D\t"); });
        // The second operation's record, written ahead of a save that never came.
        QList<QByteArray> ahead = lines.first().split('\t');
        struct stat info;
        QCOMPARE(::stat(pathToNative(untouched).constData(), &info), 0);
        ahead[1] = "2";
        ahead[5] = pathToNative(untouched);
        ahead[7] = QByteArray::number(quint64(info.st_ino));
        ahead[8] = QByteArray::number(qint64(info.st_size));
        ahead[9] =
            QByteArray::number(qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec);
        lines.insert(lines.size() - 1, ahead.join('\t'));
        QVERIFY(writeFile(journalPath(), lines.join('\n')));

        const Run undo = cli({QStringLiteral("undo")});
        QCOMPARE(undo.err, QByteArray());
        QCOMPARE(undo.code, 0);
        QCOMPARE(readTag(saved).Album, QString());
        QVERIFY(!cli({QStringLiteral("history")}).out.contains("untouched"));
    }

    // /dev/full takes the journal's records like a full disk.
    void aJournalThatCannotBeWrittenStopsBeforeTheFirstFile()
    {
        everyType(plainTag());
        QDir().mkpath(m_state.filePath(QStringLiteral("tagora")));
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), journalPath()));
        const QMap<QString, Snapshot> before = everything();
        const Run run =
            cli({QStringLiteral("set"), QStringLiteral("title=Lost"), QStringLiteral(".")});
        QFile::remove(journalPath());
        QCOMPARE(run.code, 1);
        QCOMPARE(run.err.count('\n'), 1);
        QVERIFY2(run.err.contains("No space left on device; stopped before"), run.err.constData());
        QVERIFY(everything() == before);
    }

    void aJournalThatCannotBeReadIsAnError()
    {
        QVERIFY(QDir().mkpath(journalPath())); // a folder where the journal should be
        const Run history = cli({QStringLiteral("history")});
        QCOMPARE(history.code, 1);
        QCOMPARE(history.err, QByteArray("tagora-cli: " + pathToNative(journalPath()) +
                                         ": cannot be read: Is a directory\n"));
        QCOMPARE(cli({QStringLiteral("undo")}).code, 1);
        QVERIFY(QDir().rmdir(journalPath()));
    }

    void aGoneFileIsSkippedAndUndoMovesOn()
    {
        const QString first = sample(QStringLiteral("mp3"), QStringLiteral("first"), nullptr);
        const QString gone = sample(QStringLiteral("ape"), QStringLiteral("gone"), nullptr);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("genre=Old"), first}).code, 0);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("genre=New"), gone}).code, 0);
        QVERIFY(QFile::remove(gone));
        const Run skipped = cli({QStringLiteral("undo")});
        QCOMPARE(skipped.code, 1);
        QVERIFY(skipped.err.contains("gone since operation 2; skipped"));
        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        QCOMPARE(readTag(first).Genre, QString());
    }

    void anEditThatChangesNothingIsNotJournalled()
    {
        const QString path = sample(QStringLiteral("m4a"), QStringLiteral("same"), nullptr);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("track=03"), path}).code, 0);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("track=03"), path}).code, 0);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("track=3"), path}).code, 0);
        QCOMPARE(cli({QStringLiteral("history")}).out.count('\n'), 1);
    }

    void saveFailuresNameTheCause()
    {
        const QString large = sample(QStringLiteral("flac"), QStringLiteral("large"), nullptr);
        const QString small = sample(QStringLiteral("ape"), QStringLiteral("small"), nullptr);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_STATE_HOME"), m_state.path());
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_dir->path());
        // A file-size limit below the flac's size and above the ape's and the journal's.
        process.start(QStringLiteral("/bin/sh"),
                      {QStringLiteral("-c"),
                       QStringLiteral("ulimit -f 4; exec \"$0\" set title=T large.flac small.ape"),
                       QStringLiteral(TAGORA_CLI_PATH)});
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(process.readAllStandardError(),
                 QByteArray("tagora-cli: large.flac: save failed: File too large\n"));
        QCOMPARE(readTag(large).Title, QString());
        QCOMPARE(readTag(small).Title, QStringLiteral("T"));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    void aFailedWriteToStandardOutputIsAFailure()
    {
        sample(QStringLiteral("ogg"), QStringLiteral("listed"), nullptr);
        QProcess process;
        process.setWorkingDirectory(m_dir->path());
        process.setStandardOutputFile(QStringLiteral("/dev/full"));
        process.start(QStringLiteral(TAGORA_CLI_PATH),
                      {QStringLiteral("ls"), QStringLiteral("--format=csv"), QStringLiteral(".")});
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardError().contains("standard output: No space left"));
    }

    void aStopSignalEndsTheRunWithItsStatus()
    {
        const QString path = sample(QStringLiteral("mp3"), QStringLiteral("waiting"), nullptr);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_STATE_HOME"), m_state.path());
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_dir->path());
        process.start(QStringLiteral(TAGORA_CLI_PATH), {QStringLiteral("import")});
        QVERIFY(process.waitForStarted());
        process.write("path,title\nwaiting.mp3,Never\n");
        QVERIFY(process.waitForBytesWritten());
        QTRY_VERIFY(waitsForInput(process.processId()));
        ::kill(pid_t(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 143);
        QCOMPARE(readTag(path).Title, QString());
    }

    // Tag values and names reach a terminal escaped; the machine formats keep every byte.
    void controlCharactersAreEscapedOnTheTerminalOnly()
    {
        audiotag tag;
        tag.Title = QStringLiteral("\x1b]0;owned\x07red\u202Eevil\u0085");
        sample(QStringLiteral("ogg"), QStringLiteral("a"), &tag);
        qputenv("COLUMNS", "400");
        const Run table = cli({QStringLiteral("ls"), QStringLiteral(".")});
        qunsetenv("COLUMNS");
        QVERIFY2(table.out.contains("\\x1b]0;owned\\x07red\\u202eevil\\u0085"),
                 table.out.constData());
        QVERIFY(!table.out.contains('\x1b') && !table.out.contains("\u202E"));
        const Run csv =
            cli({QStringLiteral("ls"), QStringLiteral("--format=csv"), QStringLiteral(".")});
        QVERIFY(csv.out.contains(tag.Title.toUtf8()));
        const Run failed = cli(
            {QStringLiteral("get"), QStringLiteral("title"), QStringLiteral("new\nline\x1b.mp3")});
        QCOMPARE(failed.err.count('\n'), 1);
        QVERIFY(failed.err.startsWith("tagora-cli: new\\nline\\x1b.mp3: "));
    }

    void tableColumnsLineUpInTerminalCells_data()
    {
        QTest::addColumn<QString>("title");
        QTest::newRow("ascii") << QStringLiteral("plain");
        QTest::newRow("wide, cut") << QString(40, QChar(0x6F22));
        QTest::newRow("emoji, cut") << QStringLiteral("😀").repeated(40);
        QTest::newRow("combining marks") << QStringLiteral("e\u0301").repeated(40);
        QTest::newRow("joined emoji") << QStringLiteral("👩\u200D👩\u200D👧").repeated(20);
    }
    void tableColumnsLineUpInTerminalCells()
    {
        QFETCH(QString, title);
        audiotag tag;
        tag.Title = title;
        sample(QStringLiteral("flac"), QStringLiteral("wide"), &tag);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("COLUMNS"), QStringLiteral("100"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_dir->path());
        process.start(QStringLiteral(TAGORA_CLI_PATH), {QStringLiteral("ls"), QStringLiteral(".")});
        QVERIFY(process.waitForFinished());
        const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
        QCOMPARE(lines.size(), 3);
        const QByteArray header = lines[0];
        const QByteArray row = lines[1];
        QCOMPARE(QString::fromUtf8(row).toUtf8(), row); // no character split
        QCOMPARE(terminalCells(row), terminalCells(header));
    }

    // On a real terminal of 80 columns: every line of the table fits, no escape sequence
    // or bidi override of a value reaches the screen, and every character stays whole.
    void aTerminalGetsASafeTableOfItsWidth()
    {
        audiotag tag;
        tag.Title = QStringLiteral("\x1b[2J漢字漢字漢字漢字漢字漢字\u202E😀😀😀😀");
        tag.Artist = QStringLiteral("e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301");
        sample(QStringLiteral("flac"), QStringLiteral("漢字"), &tag);
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        winsize size{};
        size.ws_col = 80;
        size.ws_row = 24;
        QCOMPARE(::ioctl(master, TIOCSWINSZ, &size), 0);
        QProcess process;
        process.setWorkingDirectory(m_dir->path());
        process.setStandardOutputFile(QString::fromLocal8Bit(::ptsname(master)));
        process.start(QStringLiteral(TAGORA_CLI_PATH), {QStringLiteral("ls"), QStringLiteral(".")});
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 0);
        QByteArray shown;
        char buffer[4096];
        for (ssize_t got; (got = ::read(master, buffer, sizeof buffer)) > 0;) {
            shown.append(buffer, got);
            if (shown.count('\n') == 2)
                break;
        }
        ::close(master);
        shown.replace("\r\n", "\n");
        const QList<QByteArray> lines = shown.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY(!shown.contains('\x1b') && !shown.contains("\u202E"));
        QCOMPARE(QString::fromUtf8(shown).toUtf8(), shown);
        for (const QByteArray& line : lines)
            QVERIFY2(terminalCells(line) <= 80, line.constData());
        QCOMPARE(terminalCells(lines[1]), terminalCells(lines[0]));
    }

    // A save killed while writing a hard-linked file in place leaves its backup unlocked;
    // the next start of the program, whatever the command, puts the file back whole.
    void aFileTornInPlaceIsRestoredByTheNextRun()
    {
        const QString path = sample(QStringLiteral("mp3"), QStringLiteral("torn"), nullptr);
        const QString link = m_dir->filePath(QStringLiteral("second name.mp3"));
        QVERIFY(::link(pathToNative(path).constData(), pathToNative(link).constData()) == 0);
        const QByteArray original = contents(path);
        struct stat info;
        QCOMPARE(::stat(pathToNative(path).constData(), &info), 0);
        const QByteArray target = pathToNative(QFileInfo(path).canonicalFilePath());
        QVERIFY(QDir().mkpath(m_state.filePath(QStringLiteral("tagora/backups"))));
        QVERIFY(writeFile(m_state.filePath(QStringLiteral("tagora/backups/Ab12Cd.tagora-backup")),
                          QByteArray::number(quint64(info.st_dev)) + ' ' +
                              QByteArray::number(quint64(info.st_ino)) + ' ' +
                              QByteArray::number(original.size()) + ' ' +
                              QByteArray::number(target.size()) + '\n' + target + original));
        QFile torn(path);
        QVERIFY(torn.open(QIODevice::ReadWrite));
        QVERIFY(torn.write(QByteArray(700, '\xAA')) == 700);
        torn.close();

        QCOMPARE(cli({QStringLiteral("get"), QStringLiteral("title"), link}).code, 0);
        QCOMPARE(contents(path), original);
        QCOMPARE(contents(link), original);
        QVERIFY(QDir(m_state.filePath(QStringLiteral("tagora/backups"))).isEmpty());

        // A save that completes leaves no backup behind, and both names see it.
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("title=Linked"), link}).code, 0);
        QCOMPARE(readTag(path).Title, QStringLiteral("Linked"));
        QVERIFY(QDir(m_state.filePath(QStringLiteral("tagora/backups"))).isEmpty());
    }

    void helpListsOnlyTheOptionsEachCommandTakes_data()
    {
        QTest::addColumn<QString>("command");
        for (const char* command : {"ls", "get", "set", "strip", "copy", "fill", "rename", "import",
                                    "history", "undo", "replace", "case", "trim", "edit"})
            QTest::newRow(command) << QString::fromLatin1(command);
    }
    void helpListsOnlyTheOptionsEachCommandTakes()
    {
        QFETCH(QString, command);
        const Run help = cli({command, QStringLiteral("--help")});
        QCOMPARE(help.code, 0);
        static const QRegularExpression option(QStringLiteral("^  (?:-\\w, )?\\s*(--[a-z0-9-]+)"),
                                               QRegularExpression::MultilineOption);
        int listed = 0;
        for (const QRegularExpressionMatch& match :
             option.globalMatch(QString::fromUtf8(help.out))) {
            const QString name = match.captured(1);
            QStringList arguments{command, name};
            if (name == QLatin1String("--format"))
                arguments << QStringLiteral("tsv");
            else if (name == QLatin1String("--where"))
                arguments << QStringLiteral("title=x");
            else if (name == QLatin1String("--fields"))
                arguments << QStringLiteral("title");
            else if (name == QLatin1String("--id3v2"))
                arguments << QStringLiteral("3");
            QCOMPARE(cli(arguments << QStringLiteral("--help")).code, 0);
            ++listed;
        }
        QVERIFY(listed >= 2);
    }

    // A full date and a track total come back as stored, not as the numbers they read as.
    void undoPutsBackFullDatesAndTotals_data() { addTypeRows(); }
    void undoPutsBackFullDatesAndTotals()
    {
        QFETCH(QString, type);
        const QString path = sample(type, QStringLiteral("dated"), nullptr);
        const TagLibraryEntryPoints& lib = tagLibrary();
        TagLib_File* file = lib.taglib_file_newu(pathToNative(path).constData());
        QVERIFY(file);
        lib.taglib_tag_set_byname(file, "DATE", "2001-05-17");
        lib.taglib_tag_set_byname(file, "TRACKNUMBER", "3/12");
        QVERIFY(lib.taglib_file_save(file));
        lib.taglib_file_free(file);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("year=2002"), QStringLiteral("track=4"),
                      path})
                     .code,
                 0);
        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        file = lib.taglib_file_newu(pathToNative(path).constData());
        QVERIFY(file);
        const QByteArray date = lib.taglib_tag_get_byname(file, "DATE");
        const QByteArray track = lib.taglib_tag_get_byname(file, "TRACKNUMBER");
        lib.taglib_tag_free_strings();
        lib.taglib_file_free(file);
        QCOMPARE(date, QByteArray("2001-05-17"));
        QCOMPARE(track, QByteArray("3/12"));
    }

    // The settings file bounds the journal; what is dropped is the oldest whole operations.
    void theJournalKeepsTheConfiguredNumberOfOperations()
    {
        QTemporaryDir config;
        QVERIFY(QDir().mkpath(config.filePath(QStringLiteral("Corvane"))));
        QVERIFY(writeFile(config.filePath(QStringLiteral("Corvane/Tagora.ini")),
                          "[Journal]\nKeepOperations=2\n"));
        qputenv("XDG_CONFIG_HOME", pathToNative(config.path()));
        const QString path = sample(QStringLiteral("ogg"), QStringLiteral("kept"), nullptr);
        for (const char* title : {"1", "2", "3", "4"})
            QCOMPARE(
                cli({QStringLiteral("set"), QStringLiteral("title=") + QLatin1String(title), path})
                    .code,
                0);
        const Run history = cli({QStringLiteral("history")});
        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        const QString afterUndo = readTag(path).Title;
        // The undo is an operation too: only it and the one it put back are left.
        const Run nothingLeft = cli({QStringLiteral("undo")});
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(history.out.count('\n'), 2);
        QVERIFY(history.out.contains("title was \"3\""));
        QCOMPARE(afterUndo, QStringLiteral("3"));
        QVERIFY(nothingLeft.err.contains("nothing to undo"));
        QCOMPARE(readTag(path).Title, QStringLiteral("3"));
    }

    // A copy a dead save left is removed by the next walk of its folder, however young (a
    // running save locks its copy before the copy has a name); a copy whose save still runs
    // (locked) is not, and neither is anything else.
    void copiesOfDeadSavesAreRemovedByTheNextWalk()
    {
        sample(QStringLiteral("mp3"), QStringLiteral("x"), nullptr);
        const QStringList kept{QStringLiteral(".x.mp3.LoCk12.tagora-tmp"),
                               QStringLiteral("x.AbC123.tagora-tmp"),
                               QStringLiteral(".x.mp3.AbC-23.tagora-tmp")};
        const QStringList dead{QStringLiteral(".x.mp3.AbC123.tagora-tmp"),
                               QStringLiteral(".x.mp3.Young1.tagora-tmp")};
        const timespec old[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 60, 0}};
        for (const QString& name : kept + dead) {
            QVERIFY(writeFile(m_dir->filePath(name), "left over"));
            if (!name.contains(QLatin1String("Young")))
                QCOMPARE(
                    ::utimensat(AT_FDCWD, pathToNative(m_dir->filePath(name)).constData(), old, 0),
                    0);
        }
        QFile locked(m_dir->filePath(kept[0]));
        QVERIFY(locked.open(QIODevice::ReadOnly));
        QCOMPARE(::flock(locked.handle(), LOCK_EX), 0);
        QCOMPARE(cli({QStringLiteral("ls"), QStringLiteral(".")}).code, 0);
        QStringList expected = kept + QStringList{QStringLiteral("x.mp3")};
        expected.sort();
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), expected);
    }

    // A record longer than the part of the journal read to number the next operation.
    void operationsAreNumberedPastAVeryLongRecord()
    {
        const QString path = sample(QStringLiteral("flac"), QStringLiteral("long"), nullptr);
        const QByteArray comment(100000, 'c');
        QCOMPARE(cli({QStringLiteral("import")}, "path,comment\nlong.flac," + comment + '\n').code,
                 0);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("comment=short"), path}).code, 0);
        const QList<QByteArray> lines = cli({QStringLiteral("history")}).out.split('\n');
        QVERIFY(lines[0].startsWith("1\t"));
        QVERIFY(lines[1].startsWith("2\t"));
        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        QCOMPARE(readTag(path).Comment, QString::fromLatin1(comment));
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

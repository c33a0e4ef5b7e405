// tagora-cli on the types only it lists, each file made and tagged by mutagen: a walk finds
// every one, and a set changes the named items alone, which mutagen then reads as the format's
// own items.
#include "support/clirun.h"
#include "support/fixtures.h"
#include "support/mutagen.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

using namespace tagora;
using namespace tagora::test;

namespace {

QStringList mutagenView(const QString& path)
{
    return outputLines(runPython({QStringLiteral(TAGORA_RICHTAGS), QStringLiteral("dump"), path}));
}

QStringList cliOnlyTypes()
{
    QStringList types;
    for (const AudioFileType& type : kAudioFileTypes) {
        if (type.lister == AudioLister::Cli)
            types.append(QString::fromLatin1(type.extension));
    }
    return types;
}

} // namespace

class CliTypesTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_state;
    QTemporaryDir m_made;

    // The exit code, -1 when the program did not end by itself.
    int cli(const QStringList& arguments, QByteArray* out = nullptr)
    {
        const tagora::test::CliRun run =
            tagora::test::runCli(QStringLiteral(TAGORA_CLI_PATH), arguments, {m_state.path()});
        if (out)
            *out = run.out;
        qDebug("%s", run.err.constData());
        return run.code;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!mutagenInstalled())
            QSKIP("python3 with mutagen is needed (scripts/install-deps.sh)");
        QStringList arguments{QStringLiteral(TAGORA_OTHERTYPES), QStringLiteral("make"),
                              sampleFile(QStringLiteral("m4a"))};
        for (const QString& type : cliOnlyTypes())
            arguments.append(m_made.filePath(QStringLiteral("made.") + type));
        QCOMPARE(QProcess::execute(kPython, arguments), 0);
    }

    // A recursive listing names every file of every type, the window's six among them.
    void walkListsEveryType()
    {
        QTemporaryDir dir;
        for (const QString& type : cliOnlyTypes())
            QVERIFY(QFile::copy(m_made.filePath(QStringLiteral("made.") + type),
                                dir.filePath(QStringLiteral("song.") + type)));
        QVERIFY(
            QFile::copy(sampleFile(QStringLiteral("mp3")), dir.filePath(QStringLiteral("a.mp3"))));
        QVERIFY(QFile::copy(sampleFile(QStringLiteral("mp3")),
                            dir.filePath(QStringLiteral("not audio.txt"))));
        QByteArray out;
        QCOMPARE(
            cli({QStringLiteral("get"), QStringLiteral("-r"), QStringLiteral("title"), dir.path()},
                &out),
            0);
        QCOMPARE(out.count("\tOld Title\n"), cliOnlyTypes().size());
        QVERIFY(out.contains("a.mp3\t"));
        QVERIFY(!out.contains("not audio"));
    }

    // Title and album artist land in each format's own items; nothing else mutagen reads
    // changes.
    void setKeepsEverythingElse_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("items");
        const QStringList xiph{QStringLiteral("albumartist='v'"), QStringLiteral("title='New'")};
        const QStringList ape{QStringLiteral("ALBUM ARTIST=APETextValue('v', 0)"),
                              QStringLiteral("Title=APETextValue('New', 0)")};
        const QStringList id3{
            QStringLiteral("TIT2=TIT2(encoding=<Encoding.UTF8: 3>, text=['New'])"),
            QStringLiteral("TPE2=TPE2(encoding=<Encoding.UTF8: 3>, text=['v'])")};
        const QStringList mp4{QStringLiteral("aART='v'"), QString::fromUtf8("\u00a9nam='New'")};
        for (const QString& type : cliOnlyTypes()) {
            const QStringList items =
                QStringList{QStringLiteral("opus"), QStringLiteral("oga"), QStringLiteral("spx")}
                        .contains(type)
                    ? xiph
                : type == QLatin1String("wv") || type == QLatin1String("mpc") ? ape
                : type.startsWith(u'm') || type == QLatin1String("3g2")       ? mp4
                                                                              : id3;
            QTest::newRow(qPrintable(type)) << type << items;
        }
    }
    void setKeepsEverythingElse()
    {
        QFETCH(QString, type);
        QFETCH(QStringList, items);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("song.") + type);
        QVERIFY(QFile::copy(m_made.filePath(QStringLiteral("made.") + type), path));
        const QStringList before = mutagenView(path);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("title=New"),
                      QStringLiteral("ALBUMARTIST=v"), path}),
                 0);
        const QStringList after = mutagenView(path);
        QCOMPARE(added(before, after), items);
        // Only the title item replaced is gone.
        const auto key = [](const QString& line) { return line.section(u'=', 0, 0); };
        for (const QString& gone : added(after, before)) {
            QVERIFY2(std::any_of(items.begin(), items.end(),
                                 [&](const QString& item) { return key(item) == key(gone); }),
                     qPrintable(gone));
        }
        QByteArray out;
        QCOMPARE(cli({QStringLiteral("get"), QStringLiteral("albumartist"), path}, &out), 0);
        QCOMPARE(out, QByteArray("v\n"));
        QCOMPARE(cli({QStringLiteral("undo")}), 0);
        QCOMPARE(mutagenView(path), before);
    }

    // A 2.3 tag (as most taggers write it) stays 2.3, and every frame but the one edited keeps
    // its encoding and bytes (TagLib alone would write genres in Latin-1, or the tag as 2.4).
    void id3v23TagStaysAsStored_data()
    {
        QTest::addColumn<QString>("type");
        for (const char* type : {"wav", "aiff", "tta"})
            QTest::newRow(type) << QString::fromLatin1(type);
    }
    void id3v23TagStaysAsStored()
    {
        QFETCH(QString, type);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("song.") + type);
        QVERIFY(QFile::copy(m_made.filePath(QStringLiteral("made.") + type), path));
        QCOMPARE(QProcess::execute(kPython,
                                   {QStringLiteral("-c"),
                                    QStringLiteral("import mutagen, sys; "
                                                   "mutagen.File(sys.argv[1]).save(v2_version=3)"),
                                    path}),
                 0);
        const QStringList before = mutagenView(path);
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("title=New"), path}), 0);
        QCOMPARE(
            added(before, mutagenView(path)),
            QStringList{QStringLiteral("TIT2=TIT2(encoding=<Encoding.UTF16: 1>, text=['New'])")});
        QByteArray out;
        QCOMPARE(cli({QStringLiteral("info"), path}, &out), 0);
        QVERIFY2(out.contains("tags: ID3v2.3\n"), out.constData());
    }

    // info names the tags each file holds, the ID3v2 version kept as the file had it.
    void infoNamesTheTags_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("tags");
        QTest::newRow("wav") << QStringLiteral("wav") << QByteArray("tags: ID3v2.4\n");
        QTest::newRow("aiff") << QStringLiteral("aiff") << QByteArray("tags: ID3v2.4\n");
        QTest::newRow("tta") << QStringLiteral("tta") << QByteArray("tags: ID3v2.4\n");
        QTest::newRow("wv") << QStringLiteral("wv") << QByteArray("tags: APE\n");
        QTest::newRow("opus") << QStringLiteral("opus") << QByteArray("tags: Xiph comment\n");
    }
    void infoNamesTheTags()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, tags);
        QByteArray out;
        QCOMPARE(
            cli({QStringLiteral("info"), m_made.filePath(QStringLiteral("made.") + type)}, &out),
            0);
        QVERIFY2(out.contains(tags), out.constData());
    }
};

QTEST_GUILESS_MAIN(CliTypesTest)
#include "tst_clitypes.moc"

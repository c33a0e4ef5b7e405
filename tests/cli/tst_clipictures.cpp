// tagora-cli picture as a separate process on files of every type tagged by mutagen (a front
// and a back cover among many other items), with its journal in a temporary state folder;
// mutagen reads the results.
#include "support/clirun.h"
#include "support/fixtures.h"
#include "support/mutagen.h"
#include "support/testimages.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace tagora::test;

namespace {

const QString kPictures = QStringLiteral(TAGORA_PICTURES_DIR "/pictures.py");

using Run = tagora::test::CliRun;

QByteArray runPictures(const QString& command, const QStringList& paths)
{
    return runPython(QStringList{kPictures, command} + paths);
}

// mutagen's view of a file: its pictures and every other item, in a stable order. TagLib
// writes an ASF file's pictures in an order of its own.
QStringList mutagenView(const QString& path)
{
    return sortedDumps(kPictures, {path}).value(path);
}

QStringList pictureLines(const QStringList& view)
{
    return view.filter(QRegularExpression(QStringLiteral("^picture=")));
}

} // namespace

class CliPicturesTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_state;
    QTemporaryDir m_made;
    std::unique_ptr<QTemporaryDir> m_dir;

    Run cli(const QStringList& arguments)
    {
        return tagora::test::runCli(QStringLiteral(TAGORA_CLI_PATH), arguments,
                                    {m_state.path(), m_dir->path()});
    }

    QString made(const QString& type) const
    {
        return m_made.filePath(QStringLiteral("made.") + type);
    }

    // A fresh copy of the file mutagen made, in the test's folder.
    QString copyOfMade(const QString& type, const QString& name = QStringLiteral("song"))
    {
        const QString path = m_dir->filePath(name + u'.' + type);
        return QFile::copy(made(type), path) ? path : QString();
    }

    QString image(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir->filePath(name);
        return writeFile(path, bytes) ? path : QString();
    }

    QStringList blobs() const
    {
        return QDir(m_state.filePath(QStringLiteral("tagora/pictures"))).entryList(QDir::Files);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!mutagenInstalled())
            QSKIP("python3 with mutagen is needed (scripts/install-deps.sh)");
        const QStringList paths = copiesOfSamples(m_made.path());
        QVERIFY(!paths.isEmpty());
        QCOMPARE(runPictures(QStringLiteral("make"), paths), QByteArray());
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QFile::remove(m_state.filePath(QStringLiteral("tagora/journal")));
    }

    // The picture set reads back byte for byte, through tagora-cli and through mutagen, and
    // nothing else in the file changes.
    void setThenGetRoundTrips_data() { addTypeRows(); }
    void setThenGetRoundTrips()
    {
        QFETCH(QString, type);
        const QString path = copyOfMade(type);
        const QStringList before = mutagenView(path);
        const QByteArray jpeg = tinyJpeg(640, 480);
        QCOMPARE(cli({QStringLiteral("picture"), QStringLiteral("set"),
                      image(QStringLiteral("cover.jpg"), jpeg), path})
                     .code,
                 0);
        const Run listed = cli({QStringLiteral("picture"), QStringLiteral("ls"),
                                QStringLiteral("--format"), QStringLiteral("json"), path});
        const QJsonArray pictures =
            QJsonDocument::fromJson(listed.out).array().at(0).toObject()[u"pictures"].toArray();
        int index = -1;
        for (const QJsonValue& picture : pictures) {
            if (picture[u"width"].toInt() == 640 && picture[u"height"].toInt() == 480 &&
                picture[u"mime"].toString() == QLatin1String("image/jpeg"))
                index = picture[u"index"].toInt();
        }
        QVERIFY2(index >= 0, listed.out.constData());
        const Run got =
            cli({QStringLiteral("picture"), QStringLiteral("get"), QStringLiteral("-i"),
                 QString::number(index), QStringLiteral("-o"), QStringLiteral("-"), path});
        QCOMPARE(got.out, jpeg);
        const QStringList after = mutagenView(path);
        QCOMPARE(pictureLines(after).filter(QStringLiteral("|%1|").arg(jpeg.size())).size(), 1);
        QCOMPARE(after.filter(QRegularExpression(QStringLiteral("^(?!picture=)"))),
                 before.filter(QRegularExpression(QStringLiteral("^(?!picture=)"))));
    }

    // An existing picture of the type is replaced, the other kept; undo puts back the exact
    // bytes, as mutagen reads them.
    void replaceByTypeAndUndo_data() { addTypeRows(); }
    void replaceByTypeAndUndo()
    {
        QFETCH(QString, type);
        const QString path = copyOfMade(type);
        const QStringList before = mutagenView(path);
        const QByteArray png = tinyPng(4, 4);
        const bool mp4 = type == QLatin1String("m4a");
        // The back cover where the format keeps types and descriptions; MP4 has front covers.
        QStringList arguments = {QStringLiteral("picture"), QStringLiteral("set")};
        if (!mp4)
            arguments << QStringLiteral("--type") << QStringLiteral("back")
                      << QStringLiteral("--desc") << QStringLiteral("back");
        QCOMPARE(cli(arguments << image(QStringLiteral("new.png"), png) << path).code, 0);
        const QStringList replaced = pictureLines(mutagenView(path));
        QCOMPARE(replaced.size(), 2);
        QCOMPARE(replaced.filter(QString::number(png.size()) + u'|').size(), 1);
        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        QCOMPARE(mutagenView(path), before);
    }

    void removeAllAndUndo_data() { addTypeRows(); }
    void removeAllAndUndo()
    {
        QFETCH(QString, type);
        const QString path = copyOfMade(type);
        const QStringList before = mutagenView(path);
        QCOMPARE(
            cli({QStringLiteral("picture"), QStringLiteral("rm"), QStringLiteral("--all"), path})
                .code,
            0);
        QCOMPARE(pictureLines(mutagenView(path)), QStringList());
        QCOMPARE(blobs().size(), 2);
        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        QCOMPARE(mutagenView(path), before);
    }

    // Anything but a real JPEG or PNG is refused with a message, and no file is written.
    void refusedImages_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("text posing as .jpg")
            << QByteArray("not a picture\n") << QByteArray("not a JPEG or PNG");
        QTest::newRow("PNG signature alone")
            << tinyPng(2, 2).left(12) << QByteArray("without a PNG header");
        QTest::newRow("JPEG without a frame header")
            << QByteArray::fromHex("ffd8ffe000104a46494600010100000100010000ffd9")
            << QByteArray("without a JPEG frame header");
        QTest::newRow("PNG of no pixels") << tinyPng(0, 5) << QByteArray("size of 0");
        QTest::newRow("JPEG of no pixels") << tinyJpeg(7, 0) << QByteArray("size of 7");
    }
    void refusedImages()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, message);
        const QString path = copyOfMade(QStringLiteral("mp3"));
        const Run run = cli({QStringLiteral("picture"), QStringLiteral("set"),
                             image(QStringLiteral("cover.jpg"), bytes), path});
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(message) && run.err.contains("nothing was written"),
                 run.err.constData());
        QCOMPARE(contents(path), contents(made(QStringLiteral("mp3"))));
        QVERIFY(!QFile::exists(m_state.filePath(QStringLiteral("tagora/journal"))));
    }

    void overSixteenMiBNeedsForce()
    {
        const QString path = copyOfMade(QStringLiteral("mp3"));
        QFile big(image(QStringLiteral("big.png"), tinyPng(9, 9)));
        QVERIFY(big.resize((16 << 20) + 1));
        const Run run =
            cli({QStringLiteral("picture"), QStringLiteral("set"), big.fileName(), path});
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains("over the 16 MiB limit"), run.err.constData());
        QCOMPARE(contents(path), contents(made(QStringLiteral("mp3"))));
    }

    // A dry run says what would change and writes neither the file nor the journal.
    void dryRunWritesNothing()
    {
        const QString path = copyOfMade(QStringLiteral("flac"));
        const Run run = cli({QStringLiteral("picture"), QStringLiteral("rm"), QStringLiteral("-n"),
                             QStringLiteral("--type"), QStringLiteral("back"), path});
        QCOMPARE(run.code, 0);
        QVERIFY2(run.out.contains("removed back picture (image/png, 448 bytes)"),
                 run.out.constData());
        QCOMPARE(contents(path), contents(made(QStringLiteral("flac"))));
        QVERIFY(!QFile::exists(m_state.filePath(QStringLiteral("tagora/journal"))));
    }

    // One picture replaced in many files is kept once; when no journal line names it any
    // more, it goes.
    void manyFilesKeepThePictureOnce()
    {
        QDir(m_dir->path()).mkdir(QStringLiteral("album"));
        for (int i = 0; i < 40; ++i)
            QVERIFY(
                !copyOfMade(QStringLiteral("mp3"), QStringLiteral("album/%1").arg(i)).isEmpty());
        QCOMPARE(cli({QStringLiteral("picture"), QStringLiteral("set"), QStringLiteral("--desc"),
                      QStringLiteral("front"), image(QStringLiteral("c.png"), tinyPng(3, 3)),
                      QStringLiteral("album")})
                     .code,
                 0);
        QCOMPARE(blobs().size(), 1);
        QFile::remove(m_state.filePath(QStringLiteral("tagora/journal")));
        QCOMPARE(cli({QStringLiteral("picture"), QStringLiteral("rm"), QStringLiteral("-i"),
                      QStringLiteral("0"), QStringLiteral("album/0.mp3")})
                     .code,
                 0);
        QCOMPARE(blobs().size(), 1); // the back cover just removed; the front cover's blob went
    }

    void getWritesADefaultNameAfterTheMimeType()
    {
        const QString path = copyOfMade(QStringLiteral("ogg"));
        QCOMPARE(cli({QStringLiteral("picture"), QStringLiteral("get"), QStringLiteral("--type"),
                      QStringLiteral("back"), path})
                     .code,
                 0);
        QCOMPARE(contents(m_dir->filePath(QStringLiteral("back.png"))).size(), 448);
        const Run again = cli({QStringLiteral("picture"), QStringLiteral("get"),
                               QStringLiteral("--type"), QStringLiteral("back"), path});
        QCOMPARE(again.code, 1);
        QVERIFY(again.err.contains("exists"));
    }

    // The targets get the source's pictures in place of their own; one undo takes back the
    // fields and the pictures together.
    void copyPicturesAndUndo()
    {
        const QString source = copyOfMade(QStringLiteral("mp3"));
        const QString target = m_dir->filePath(QStringLiteral("target.flac"));
        QVERIFY(QFile::copy(sampleFile(QStringLiteral("flac")), target));
        const QStringList before = mutagenView(target);
        QCOMPARE(cli({QStringLiteral("copy"), QStringLiteral("--pictures"), source, target}).code,
                 0);
        QCOMPARE(pictureLines(mutagenView(target)), pictureLines(mutagenView(source)));
        QCOMPARE(cli({QStringLiteral("undo")}).code, 0);
        QCOMPARE(mutagenView(target), before);
    }

    // The pictures go only where the fields go: into the files --where chose.
    void copyPicturesKeepsToTheChosenFiles()
    {
        const QString source = copyOfMade(QStringLiteral("mp3"));
        const QString left = m_dir->filePath(QStringLiteral("left.flac"));
        const QString chosen = m_dir->filePath(QStringLiteral("chosen.flac"));
        QVERIFY(QFile::copy(sampleFile(QStringLiteral("flac")), left));
        QVERIFY(QFile::copy(sampleFile(QStringLiteral("flac")), chosen));
        QCOMPARE(cli({QStringLiteral("set"), QStringLiteral("title=chosen"), chosen}).code, 0);
        const QStringList leftBefore = mutagenView(left);
        QCOMPARE(
            cli({QStringLiteral("copy"), QStringLiteral("--pictures"), QStringLiteral("--where"),
                 QStringLiteral("title=chosen"), source, left, chosen})
                .code,
            0);
        QCOMPARE(mutagenView(left), leftBefore);
        QCOMPARE(pictureLines(mutagenView(chosen)), pictureLines(mutagenView(source)));
    }

    // ls counts the pictures in every format; json gives their metadata, and import takes the
    // csv back without a complaint about the column.
    void lsHasAPicturesColumn()
    {
        const QString path = copyOfMade(QStringLiteral("flac"));
        QVERIFY(
            cli({QStringLiteral("picture"), QStringLiteral("set"), QStringLiteral("--desc"),
                 QStringLiteral("front"), image(QStringLiteral("c.png"), tinyPng(12, 34)), path})
                .code == 0);
        const Run tsv =
            cli({QStringLiteral("ls"), QStringLiteral("--format"), QStringLiteral("tsv"), path});
        QCOMPARE(tsv.out.split('\n').value(1).split('\t').last(), QByteArray("2"));
        const Run json =
            cli({QStringLiteral("ls"), QStringLiteral("--format"), QStringLiteral("json"), path});
        const QJsonArray pictures =
            QJsonDocument::fromJson(json.out).array().at(0).toObject()[u"pictures"].toArray();
        QCOMPARE(pictures.size(), 2);
        const QJsonObject front = pictures.at(0).toObject();
        QCOMPARE(front[u"type"].toString(), QStringLiteral("front"));
        QCOMPARE(front[u"width"].toInt(), 12);
        QCOMPARE(front[u"height"].toInt(), 34);
        QCOMPARE(front[u"description"].toString(), QStringLiteral("front"));
        const Run csv =
            cli({QStringLiteral("ls"), QStringLiteral("--format"), QStringLiteral("csv"), path});
        QVERIFY(writeFile(m_dir->filePath(QStringLiteral("tags.csv")), csv.out));
        QCOMPARE(cli({QStringLiteral("import"), QStringLiteral("tags.csv")}).code, 0);
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no action") << QStringList{};
        QTest::newRow("unknown action") << QStringList{QStringLiteral("show")};
        QTest::newRow("unknown type")
            << QStringList{QStringLiteral("rm"), QStringLiteral("--type"), QStringLiteral("cover"),
                           QStringLiteral("x.mp3")};
        QTest::newRow("rm without a choice")
            << QStringList{QStringLiteral("rm"), QStringLiteral("x.mp3")};
        QTest::newRow("option of another action")
            << QStringList{QStringLiteral("ls"), QStringLiteral("--all"), QStringLiteral("x.mp3")};
    }
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QCOMPARE(cli(QStringList{QStringLiteral("picture")} + arguments).code, 2);
    }

    // A name or word that carries terminal control sequences is shown escaped, whichever
    // line names it.
    void messagesAreSafeOnATerminal_data()
    {
        const QString evil = QStringLiteral("evil\x1b[2J.mp3");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::newRow("failed file")
            << QStringList{QStringLiteral("picture"), QStringLiteral("ls"), evil} << 1;
        QTest::newRow("unknown action") << QStringList{QStringLiteral("picture"), evil} << 2;
        QTest::newRow("unknown command") << QStringList{evil} << 2;
        QTest::newRow("unknown option") << QStringList{QStringLiteral("ls"), u'-' + evil} << 2;
    }
    void messagesAreSafeOnATerminal()
    {
        QFETCH(QStringList, arguments);
        QVERIFY(writeFile(m_dir->filePath(QStringLiteral("evil\x1b[2J.mp3")), "not audio"));
        const Run run = cli(arguments);
        QTEST(run.code, "code");
        QVERIFY2(run.err.contains("evil\\x1b[2J.mp3"), run.err.constData());
        QVERIFY(!run.err.contains('\x1b'));
    }
};

QTEST_GUILESS_MAIN(CliPicturesTest)
#include "tst_clipictures.moc"

// The pure pieces behind tagora-cli's rules: --where expressions, value rules, set -t
// templates and the table the edit command reads back.
#include "cli/editsession.h"
#include "cli/namepattern.h"
#include "cli/valuerules.h"
#include "cli/whereexpr.h"

#include <QtTest>

using namespace tagora;
using namespace tagora::cli;

Q_DECLARE_METATYPE(tagora::cli::LetterCase)

namespace {

bool knownField(const QString& field)
{
    return field == QLatin1String("length") || memberNamed(field);
}

// "field=value;field=value" as the values --where sees.
WhereCondition::FieldValue valuesOf(const QString& pairs)
{
    QHash<QString, QString> values;
    for (const QString& pair : pairs.split(u';', Qt::SkipEmptyParts))
        values.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    return [values](const QString& field) { return values.value(field); };
}

} // namespace

class CliRulesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void whereMatches_data()
    {
        QTest::addColumn<QByteArray>("expression");
        QTest::addColumn<QString>("values");
        QTest::addColumn<bool>("matches");
        QTest::newRow("equal folds ASCII") << QByteArray("artist=ac/dc") << "artist=AC/DC" << true;
        QTest::newRow("equal folds no other letter")
            << QByteArray("artist=émile") << "artist=Émile" << false;
        QTest::newRow("field name in any case") << QByteArray("ARTIST=x") << "artist=X" << true;
        QTest::newRow("not equal") << QByteArray("genre!=jazz") << "genre=Rock" << true;
        QTest::newRow("regex searches")
            << QByteArray("title~feat\\.") << "title=A (feat. B)" << true;
        QTest::newRow("regex is case-sensitive")
            << QByteArray("title~FEAT") << "title=feat" << false;
        QTest::newRow("empty") << QByteArray("album:") << "" << true;
        QTest::newRow("not empty") << QByteArray("album:") << "album=X" << false;
        QTest::newRow("equal nothing is empty") << QByteArray("album=") << "" << true;
        QTest::newRow("less") << QByteArray("year<1990") << "year=1989" << true;
        QTest::newRow("less excludes its bound") << QByteArray("year<1990") << "year=1990" << false;
        QTest::newRow("more") << QByteArray("bpm>120") << "bpm=120.5" << true;
        QTest::newRow("at least") << QByteArray("length>=200") << "length=199" << false;
        QTest::newRow("missing is no number") << QByteArray("year<1990") << "" << false;
        QTest::newRow("text is no number") << QByteArray("bpm>1") << "bpm=fast" << false;
        QTest::newRow("range") << QByteArray("year=1990..1999") << "year=1999" << true;
        QTest::newRow("range, outside") << QByteArray("year=1990..1999") << "year=2000" << false;
        QTest::newRow("range open above") << QByteArray("track=10..") << "track=12" << true;
        QTest::newRow("number field equal is numeric")
            << QByteArray("track=3") << "track=03" << true;
        QTest::newRow("number field not equal") << QByteArray("track!=3") << "track=03" << false;
        QTest::newRow("text field equal is text") << QByteArray("title=3") << "title=03" << false;
        QTest::newRow("dots in a text") << QByteArray("title=a..b") << "title=A..B" << true;
    }
    void whereMatches()
    {
        QFETCH(QByteArray, expression);
        QFETCH(QString, values);
        QFETCH(bool, matches);
        WhereCondition condition;
        QByteArray error;
        QVERIFY2(condition.parse(expression, knownField, error), error.constData());
        QCOMPARE(condition.matches(valuesOf(values)), matches);
    }

    void whereRefusesMalformedExpressions_data()
    {
        QTest::addColumn<QByteArray>("expression");
        QTest::addColumn<QByteArray>("named");
        QTest::newRow("no field") << QByteArray("=x") << QByteArray("no field name");
        QTest::newRow("unknown field")
            << QByteArray("colour=red") << QByteArray("unknown field 'colour'");
        QTest::newRow("no test") << QByteArray("year") << QByteArray("expected =");
        QTest::newRow("unknown test") << QByteArray("year#1") << QByteArray("not '#1'");
        QTest::newRow("text after empty") << QByteArray("album:x") << QByteArray("follow ':'");
        QTest::newRow("bad regex") << QByteArray("title~(a") << QByteArray("'(a'");
        QTest::newRow("not a number") << QByteArray("year<199x") << QByteArray("'199x'");
        QTest::newRow("nothing to compare") << QByteArray("year>=") << QByteArray("'' after");
        QTest::newRow("empty range")
            << QByteArray("year=2000..1990") << QByteArray("'2000..1990' holds no number");
    }
    void whereRefusesMalformedExpressions()
    {
        QFETCH(QByteArray, expression);
        QFETCH(QByteArray, named);
        WhereFilter filter;
        QByteArray error;
        QVERIFY(!filter.add(expression, knownField, error));
        QVERIFY2(error.startsWith(QByteArray("--where '" + expression + "': ")), error.constData());
        QVERIFY2(error.contains(named), error.constData());
    }

    void everyConditionMustHold()
    {
        WhereFilter filter;
        QByteArray error;
        QVERIFY(filter.matches(valuesOf({}))); // none at all chooses every file
        QVERIFY(filter.add("artist=X", knownField, error));
        QVERIFY(filter.add("year=1990..1999", knownField, error));
        QVERIFY(filter.matches(valuesOf(QStringLiteral("artist=x;year=1995"))));
        QVERIFY(!filter.matches(valuesOf(QStringLiteral("artist=x;year=2005"))));
        QVERIFY(!filter.matches(valuesOf(QStringLiteral("artist=y;year=1995"))));
    }

    void letterCase_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<LetterCase>("letterCase");
        QTest::addColumn<QString>("expected");
        const LetterCase title = LetterCase::Title;
        const LetterCase sentence = LetterCase::Sentence;
        QTest::newRow("small words")
            << "the dark side of the moon" << title << "The Dark Side of the Moon";
        QTest::newRow("small word last")
            << "what are you looking for" << title << "What Are You Looking For";
        QTest::newRow("capitalised small word")
            << "The Sound Of Music" << title << "The Sound of Music";
        QTest::newRow("words in capitals") << "back in black by AC/DC live in the USA" << title
                                           << "Back in Black by AC/DC Live in the USA";
        QTest::newRow("inner capitals")
            << "songs by McCartney on my iPod" << title << "Songs by McCartney on My iPod";
        QTest::newRow("apostrophes") << "don't stop me now, it's rock'n'roll" << title
                                     << "Don't Stop Me Now, It's Rock'n'roll";
        QTest::newRow("non-ASCII")
            << "éléphant à la plage über alles" << title << "Éléphant À La Plage Über Alles";
        QTest::newRow("brackets and colon")
            << "song (the remix): a story" << title << "Song (The Remix): A Story";
        QTest::newRow("digits first") << "1st of the 2nd" << title << "1st of the 2nd";
        QTest::newRow("spaces kept") << "  a  b " << title << "  A  B ";
        QTest::newRow("sentence") << "The Dark Side Of The MOON" << sentence
                                  << "The dark side of the MOON";
        QTest::newRow("sentence keeps I") << "yes I'm sure I AM" << sentence << "Yes I'm sure I AM";
        QTest::newRow("upper, any script") << "straße éa" << LetterCase::Upper << "STRASSE ÉA";
        QTest::newRow("lower, any script") << "ÉLAN AC/DC" << LetterCase::Lower << "élan ac/dc";
    }
    void letterCase()
    {
        QFETCH(QString, value);
        QFETCH(LetterCase, letterCase);
        QFETCH(QString, expected);
        QCOMPARE(changeCase(value, letterCase), expected);
    }

    void trimSpaces_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ends") << " \t a b \n"
                              << "a b";
        QTest::newRow("runs inside") << "a   b\t\tc"
                                     << "a b c";
        QTest::newRow("line breaks stay") << "line one\nline  two"
                                          << "line one\nline two";
    }
    void trimSpaces()
    {
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QCOMPARE(cli::trimSpaces(value), expected);
    }

    void replaceWithCaptures_data()
    {
        QTest::addColumn<QString>("regex");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("highestReference");
        QTest::newRow("swap") << "^(\\w+), (\\w+)$"
                              << "\\2 \\1"
                              << "Beatles, The"
                              << "The Beatles" << 2;
        QTest::newRow("feat out of the title") << " \\(feat\\. [^)]*\\)"
                                               << ""
                                               << "Song (feat. X)"
                                               << "Song" << 0;
        QTest::newRow("every match") << "o"
                                     << "0"
                                     << "foo boo"
                                     << "f00 b00" << 0;
        QTest::newRow("non-ASCII") << "(ü)"
                                   << "[\\1]"
                                   << "Über über"
                                   << "Über [ü]ber" << 1;
    }
    void replaceWithCaptures()
    {
        QFETCH(QString, regex);
        QFETCH(QString, replacement);
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QFETCH(int, highestReference);
        QCOMPARE(replaceMatches(value, QRegularExpression(regex), replacement), expected);
        QCOMPARE(highestCaptureReference(replacement), highestReference);
    }

    void templateValues_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("empty");
        QTest::newRow("padding") << "%track:2% %title%"
                                 << "07 A/B" << QStringList{};
        QTest::newRow("slash kept") << "%title%"
                                    << "A/B" << QStringList{};
        QTest::newRow("missing is empty") << "%album% - %title%"
                                          << " - A/B" << QStringList{QStringLiteral("album")};
        QTest::newRow("unset year is missing") << "%year:4%"
                                               << "" << QStringList{QStringLiteral("year")};
    }
    void templateValues()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, expected);
        QFETCH(QStringList, empty);
        audiotag tag;
        tag.Title = QStringLiteral("A/B");
        tag.Track = QStringLiteral("7");
        tag.Year = QStringLiteral("0");
        NamePattern parsed;
        QString reason;
        QVERIFY(parsed.parse(pattern, reason));
        QCOMPARE(parsed.text(tag), expected);
        QStringList emptyNames;
        for (QString audiotag::*member : parsed.emptyFields(tag))
            emptyNames.append(QString::fromUtf8(scriptName(member)));
        QCOMPARE(emptyNames, empty);
    }

    void editedTable_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QList<qsizetype>>("changedRows");
        QTest::addColumn<QByteArrayList>("refused");
        const QByteArray a = "a.mp3\tOne\tx\n";
        const QByteArray b = "b.ogg\tTwo\\tTabs\t\n";
        QTest::newRow("unchanged") << a + b << QList<qsizetype>{} << QByteArrayList{};
        QTest::newRow("one cell, rows swapped") << b + "a.mp3\tOne!\tx\n"
                                                << QList<qsizetype>{0} << QByteArrayList{};
        QTest::newRow("blank lines") << a + "\n" + b + "\n\n"
                                     << QList<qsizetype>{} << QByteArrayList{};
        QTest::newRow("path edited") << "c.mp3\tOne!\tx\n" + b << QList<qsizetype>{}
                                     << QByteArrayList{"line 2: 'c.mp3' is not the path",
                                                       "line 2: the row of 'a.mp3' was deleted"};
        QTest::newRow("row deleted")
            << b << QList<qsizetype>{} << QByteArrayList{"line 2: the row of 'a.mp3' was deleted"};
        QTest::newRow("row doubled")
            << "a.mp3\tOne!\tx\n" + b + "a.mp3\tOne?\tx\n"
            << QList<qsizetype>{} << QByteArrayList{"line 4: the path of line 2 again"};
        QTest::newRow("cell lost")
            << a + "b.ogg\tTwo!\n"
            << QList<qsizetype>{} << QByteArrayList{"line 3: 2 cells, not 3"};
    }
    void editedTable()
    {
        QFETCH(QByteArray, body);
        QFETCH(QList<qsizetype>, changedRows);
        QFETCH(QByteArrayList, refused);
        const QList<QByteArray> fields{"title", "artist"};
        const QList<EditRow> rows{{"a.mp3", {QStringLiteral("One"), QStringLiteral("x")}},
                                  {"b.ogg", {QStringLiteral("Two\tTabs"), QString()}}};
        const QByteArray header = "path\ttitle\tartist\n";
        QCOMPARE(editTable(fields, rows), header + "a.mp3\tOne\tx\n" + "b.ogg\tTwo\\tTabs\t\n");
        TableEdits edits;
        QByteArray error;
        QVERIFY(readEditedTable(header + body, fields, rows, edits, error));
        QCOMPARE(edits.changed.keys(), changedRows);
        QCOMPARE(edits.refused.size(), refused.size());
        for (qsizetype i = 0; i < refused.size(); ++i)
            QVERIFY2(edits.refused[i].startsWith(refused[i]), edits.refused[i].constData());
        if (!changedRows.isEmpty())
            QCOMPARE(edits.changed.value(0),
                     (QMap<qsizetype, QString>{{0, QStringLiteral("One!")}}));
    }

    void anEditedHeaderRefusesTheWholeTable()
    {
        TableEdits edits;
        QByteArray error;
        QVERIFY(!readEditedTable("path\tartist\na.mp3\tY\n", {"title"},
                                 {{"a.mp3", {QStringLiteral("X")}}}, edits, error));
        QVERIFY(error.startsWith("line 1: "));
        QVERIFY(edits.changed.isEmpty());
    }
};

QTEST_GUILESS_MAIN(CliRulesTest)
#include "tst_clirules.moc"

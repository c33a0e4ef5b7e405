// The pieces of tagora-cli that hold its data, each on its own: the journal on disk, the
// file-name pattern, and the csv and tsv tables it reads back.
#include "cli/editsession.h"
#include "cli/journal.h"
#include "cli/listformat.h"
#include "cli/namepattern.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using namespace tagora;
using namespace tagora::cli;

namespace {

struct Streamed
{
    JournalRecord record;
    bool undone = false;
};

QList<Streamed> streamed()
{
    QList<Streamed> all;
    QByteArray reason;
    if (!streamJournal(
            [&](const JournalRecord& r, bool undone) {
                all.append({r, undone});
            },
            reason))
        qWarning("%s", reason.constData());
    return all;
}

void appendRaw(const QByteArray& bytes)
{
    const int fd = ::open(Journal::path().constData(), O_WRONLY | O_APPEND);
    QVERIFY(fd >= 0);
    QVERIFY(writeAll(fd, bytes));
    ::close(fd);
}

QByteArray journalBytes()
{
    QFile file(QString::fromLocal8Bit(Journal::path()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One operation of one "set" record, settled done at identity 7/8/9/10.
JournalRecord writeSettledRecord(const QByteArray& path, const QByteArray& oldTitle)
{
    Journal journal;
    QByteArray reason;
    JournalRecord entry;
    if (!journal.open(reason))
        return entry;
    entry.command = "set";
    entry.path = path;
    entry.identity = {1, 2, 3, 4};
    entry.fields = {"title"};
    entry.values = {oldTitle};
    if (journal.writeAhead(entry))
        journal.markDone(entry, {7, 8, 9, 10});
    return entry;
}

} // namespace

class CliPartsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_state = std::make_unique<QTemporaryDir>();
        QVERIFY(m_state->isValid());
        qputenv("XDG_STATE_HOME", m_state->path().toLocal8Bit());
    }

    void journalKeepsPathsAndValuesByteForByte_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("plain") << QByteArray("/m/a.mp3") << QByteArray("Blue Train");
        QTest::newRow("separators") << QByteArray("/m/a\tb\nc\rd.mp3") << QByteArray("x\ty\nz\r=w");
        QTest::newRow("percent") << QByteArray("/m/100%25.mp3") << QByteArray("%41 %%");
        QTest::newRow("not utf-8") << QByteArray("/m/\xff\xfe.ogg") << QByteArray("\xc3(\x80");
        QTest::newRow("controls") << QByteArray("/m/\x01\x1b[31m.mp3") << QByteArray("\x7f\x1f");
        QTest::newRow("empty value") << QByteArray("/m/a.mp3") << QByteArray();
    }
    void journalKeepsPathsAndValuesByteForByte()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, value);
        writeSettledRecord(path, value);
        const QList<Streamed> all = streamed();
        QCOMPARE(all.size(), 1);
        const JournalRecord& read = all.first().record;
        QCOMPARE(read.path, path);
        QCOMPARE(read.fields, QList<QByteArray>{"title"});
        QCOMPARE(read.values, QList<QByteArray>{value});
        QCOMPARE(read.stage, JournalRecord::Stage::Done);
        QCOMPARE(read.identity, (FileIdentity{7, 8, 9, 10}));
        QCOMPARE(journalBytes().count('\n'), 2); // the record and its settling, a line each
    }

    void eachOpeningTakesTheNextOperation()
    {
        const JournalRecord first = writeSettledRecord("/m/a.mp3", "a");
        const JournalRecord second = writeSettledRecord("/m/b.mp3", "b");
        QCOMPARE(first.operation + 1, second.operation);
        QCOMPARE(second.sequence, 1);
    }

    // Lines a crash, a full disk or a hand edit left behind; the good record before them is
    // read as it was, and none of them is taken for a record or a settling.
    void damagedLinesAreIgnored_data()
    {
        QTest::addColumn<QByteArray>("damage");
        QTest::addColumn<int>("records");
        const QByteArray good = "W\t9\t1\t0\tset\t/m/b.mp3\t1\t2\t3\t4\t-\t-\ttitle=x\n";
        QTest::newRow("torn last line") << QByteArray("W\t9\t1\t0\tset\t/m/b.mp") << 1;
        QTest::newRow("torn settling") << QByteArray("D\t1.1\t5\t5") << 1;
        QTest::newRow("empty line") << QByteArray("\n") << 1;
        QTest::newRow("too few columns") << QByteArray("W\t9\t1\t0\tset\n") << 1;
        QTest::newRow("operation not a number") << QByteArray(good).replace("\t9\t", "\tx\t") << 1;
        QTest::newRow("identity not a number") << QByteArray(good).replace("\t3\t", "\t-\t") << 1;
        QTest::newRow("field without =") << QByteArray(good).replace("title=x", "title") << 1;
        QTest::newRow("whole record after") << good << 2;
        QTest::newRow("binary") << QByteArray("\0\0\xff\t\t\t\n", 7) << 1;
    }
    void damagedLinesAreIgnored()
    {
        QFETCH(QByteArray, damage);
        QFETCH(int, records);
        const JournalRecord written = writeSettledRecord("/m/a.mp3", "old");
        appendRaw(damage);
        const QList<Streamed> all = streamed();
        QCOMPARE(all.size(), records);
        QCOMPARE(all.first().record.key(), written.key());
        QCOMPARE(all.first().record.stage, JournalRecord::Stage::Done);
        QCOMPARE(all.first().record.identity, (FileIdentity{7, 8, 9, 10}));
    }

    // The next run cuts a torn line off before it writes, so its own first line is whole.
    void aTornLastLineIsCutBeforeTheNextRecord()
    {
        writeSettledRecord("/m/a.mp3", "old");
        const qsizetype whole = journalBytes().size();
        appendRaw("W\t2\t1\t0\tset\t/m/torn");
        const JournalRecord next = writeSettledRecord("/m/b.mp3", "new");
        QVERIFY(journalBytes().mid(whole).startsWith(
            QByteArray("W\t" + QByteArray::number(next.operation))));
        const QList<Streamed> all = streamed();
        QCOMPARE(all.size(), 2);
        QCOMPARE(all.last().record.path, QByteArray("/m/b.mp3"));
    }

    // A settling that names no record, or one with a broken identity, settles nothing.
    void settlingsNeedTheirRecordAndAWholeIdentity_data()
    {
        QTest::addColumn<QByteArray>("settling");
        QTest::addColumn<int>("stage");
        QTest::newRow("done") << QByteArray("D\t%1\t5\t6\t7\t8\n")
                              << int(JournalRecord::Stage::Done);
        QTest::newRow("abandoned") << QByteArray("A\t%1\n") << int(JournalRecord::Stage::Abandoned);
        QTest::newRow("unknown key")
            << QByteArray("D\t99.9\t5\t6\t7\t8\n") << int(JournalRecord::Stage::Pending);
        QTest::newRow("broken identity")
            << QByteArray("D\t%1\t5\tsix\t7\t8\n") << int(JournalRecord::Stage::Pending);
    }
    void settlingsNeedTheirRecordAndAWholeIdentity()
    {
        QFETCH(QByteArray, settling);
        QFETCH(int, stage);
        JournalRecord entry;
        {
            Journal journal;
            QByteArray reason;
            QVERIFY(journal.open(reason));
            entry.command = "set";
            entry.path = "/m/a.mp3";
            QVERIFY(journal.writeAhead(entry));
        }
        appendRaw(QByteArray(settling).replace("%1", entry.key()));
        const QList<Streamed> all = streamed();
        QCOMPARE(all.size(), 1);
        QCOMPARE(int(all.first().record.stage), stage);
    }

    void patternFillsFieldsFromNames_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("matches");
        QTest::addColumn<QString>("track");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("title");
        QTest::newRow("three") << "%track% - %artist% - %title%"
                               << "01 - Coltrane - Blue Train" << true << "01"
                               << "Coltrane"
                               << "Blue Train";
        QTest::newRow("separator in the last") << "%artist% - %title%"
                                               << "A - B - C" << true << ""
                                               << "A"
                                               << "B - C";
        QTest::newRow("literal missing") << "%artist% - %title%"
                                         << "A_B" << false << ""
                                         << ""
                                         << "";
        QTest::newRow("leading literal") << "[%track%] %title%"
                                         << "[7] Naima" << true << "7"
                                         << ""
                                         << "Naima";
        QTest::newRow("leading literal missing") << "[%track%] %title%"
                                                 << "7] Naima" << false << ""
                                                 << ""
                                                 << "";
        QTest::newRow("empty placeholder") << "%artist% - %title%"
                                           << " - T" << true << ""
                                           << ""
                                           << "T";
        QTest::newRow("percent in the name") << "%title%"
                                             << "100% Pure" << true << ""
                                             << ""
                                             << "100% Pure";
    }
    void patternFillsFieldsFromNames()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, name);
        QFETCH(bool, matches);
        NamePattern parsed;
        QString reason;
        QVERIFY2(parsed.parse(pattern, reason), qPrintable(reason));
        audiotag tag;
        QCOMPARE(parsed.fill(name, tag), matches);
        if (!matches)
            return;
        QTEST(tag.Track, "track");
        QTEST(tag.Artist, "artist");
        QTEST(tag.Title, "title");
    }

    // A name made from values can never lead out of its folder or hide the file.
    void patternNamesStayInTheirFolder_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("name");
        QTest::newRow("slash") << "%title%"
                               << "AC/DC"
                               << "AC_DC";
        QTest::newRow("dot dot slash") << "%title%"
                                       << "../../etc"
                                       << "___.._etc";
        QTest::newRow("leading dots") << "%title%"
                                      << "..hidden"
                                      << "__hidden";
        QTest::newRow("nul") << "%title%"
                             << QString(QStringLiteral("a") + QChar(0) + QLatin1Char('b')) << "a_b";
        QTest::newRow("padded") << "%track:3% %title%"
                                << "T"
                                << "007 T";
    }
    void patternNamesStayInTheirFolder()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, title);
        NamePattern parsed;
        QString reason;
        QVERIFY2(parsed.parse(pattern, reason), qPrintable(reason));
        audiotag tag;
        tag.Title = title;
        tag.Track = QStringLiteral("7");
        QTEST(parsed.name(tag), "name");
    }

    void patternRefusesWhatItCannotFill_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::newRow("unknown field") << "%nosuch%";
        QTest::newRow("left open") << "%title";
        QTest::newRow("padding too wide") << "%track:256%";
        QTest::newRow("padding not a number") << "%track:x%";
        QTest::newRow("empty placeholder") << "%%";
    }
    void patternRefusesWhatItCannotFill()
    {
        QFETCH(QString, pattern);
        NamePattern parsed;
        QString reason;
        QVERIFY(!parsed.parse(pattern, reason));
        QVERIFY(!reason.isEmpty());
    }

    void csvReadsWhatSpreadsheetsWrite_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<QByteArray>>("cells"); // of the last record
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("lastLine");
        using Cells = QList<QByteArray>;
        QTest::newRow("plain") << QByteArray("a,b\n1,2\n") << Cells{"1", "2"} << 2 << 2;
        QTest::newRow("crlf") << QByteArray("a,b\r\n1,2\r\n") << Cells{"1", "2"} << 2 << 2;
        QTest::newRow("crlf quoted")
            << QByteArray("a,b\r\n\"1\",\"2\"\r\n") << Cells{"1", "2"} << 2 << 2;
        QTest::newRow("no last line break") << QByteArray("a,b\n1,2") << Cells{"1", "2"} << 2 << 2;
        QTest::newRow("empty cells") << QByteArray("a,b,c\n,,\n") << Cells{"", "", ""} << 2 << 2;
        QTest::newRow("quoted comma and quote") << QByteArray("a,b\n\"x,y\",\"say \"\"hi\"\"\"\n")
                                                << Cells{"x,y", "say \"hi\""} << 2 << 2;
        QTest::newRow("line break in a cell")
            << QByteArray("a,b\n\"1\n2\",3\n4,5\n") << Cells{"4", "5"} << 3 << 4;
        QTest::newRow("crlf in a quoted cell kept")
            << QByteArray("a\r\n\"1\r\n2\"\r\n") << Cells{"1\r\n2"} << 2 << 2;
        QTest::newRow("byte order mark") << QByteArray("\xef\xbb\xbf"
                                                       "a\nx\n")
                                         << Cells{"x"} << 2 << 2;
        QTest::newRow("quoted empty") << QByteArray("a,b\n\"\",x\n") << Cells{"", "x"} << 2 << 2;
    }
    void csvReadsWhatSpreadsheetsWrite()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, records);
        QList<CsvRecord> parsed;
        QByteArray error;
        QVERIFY2(parseCsv(text, parsed, error), error.constData());
        QCOMPARE(parsed.size(), records);
        QTEST(parsed.last().cells, "cells");
        QCOMPARE(parsed.first().cells.first(), QByteArray("a"));
        QTEST(int(parsed.last().line), "lastLine");
    }

    void csvNamesWhereItIsMalformed_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("where");
        QTest::newRow("quote left open") << QByteArray("a\n\"x\n") << QByteArray("line 2");
        QTest::newRow("quote inside a cell") << QByteArray("a,b\nx,y\"z\n") << QByteArray("line 2");
        QTest::newRow("text after a quote") << QByteArray("a\n\n\"x\"y\n") << QByteArray("line 3");
    }
    void csvNamesWhereItIsMalformed()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, where);
        QList<CsvRecord> parsed;
        QByteArray error;
        QVERIFY(!parseCsv(text, parsed, error));
        QVERIFY2(error.startsWith(where), error.constData());
    }

    // What ls writes, import reads back the same, whatever the value holds.
    void csvRoundTripsEveryValue_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("comma") << QByteArray("a,b");
        QTest::newRow("quotes") << QByteArray("\"\"");
        QTest::newRow("line breaks") << QByteArray("a\r\nb\nc\r");
        QTest::newRow("edge spaces") << QByteArray(" a ");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not utf-8") << QByteArray("\xff,\xfe");
    }
    void csvRoundTripsEveryValue()
    {
        QFETCH(QByteArray, value);
        QList<CsvRecord> parsed;
        QByteArray error;
        const QByteArray text =
            "path,title\r\n" + csvEscaped(value) + ',' + csvEscaped(value) + "\r\n";
        QVERIFY2(parseCsv(text, parsed, error), error.constData());
        QCOMPARE(parsed.size(), 2);
        QCOMPARE(parsed.last().cells, (QList<QByteArray>{value, value}));
    }

    // An editor set to write CRLF line ends gives back a table whose cells are unchanged.
    void anEditedTableWithCrlfChangesNothing()
    {
        const QList<QByteArray> fields{"title", "artist"};
        const QList<EditRow> rows{{"/m/a.mp3", {QStringLiteral("T"), QStringLiteral("A")}},
                                  {"/m/b.mp3", {QStringLiteral("U"), QString()}}};
        const QByteArray crlf = editTable(fields, rows).replace("\n", "\r\n");
        TableEdits edits;
        QByteArray error;
        QVERIFY2(readEditedTable(crlf, fields, rows, edits, error), error.constData());
        QVERIFY(edits.refused.isEmpty());
        QCOMPARE(edits.changed.size(), 0);
    }

private:
    std::unique_ptr<QTemporaryDir> m_state;
};

QTEST_GUILESS_MAIN(CliPartsTest)
#include "tst_cliparts.moc"

// The file list: row texts under two locales, the sort order of every column and flag, the
// header arrows as drawn, and rows built from real audio files.
#include "services/nativepath.h"
#include "support/taglibraryloaded.h"
#include "tags/taglibrary.h"
#include "tags/tagoperations.h"
#include "ui/filelist.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <climits>
#include <memory>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

using namespace tagora;

namespace {

// Rows: caption, title, artist, duration, date. Their order by every key is distinct.
struct Sample
{
    const char* caption;
    const char* title;
    const char* artist;
    qint32 seconds;
    QDate date;
};
const Sample kSamples[] = {
    {"b.mp3", "beta", "Zed", 245, QDate(2020, 1, 2)},
    {"A.mp3", "Alpha", "abba", 3725, QDate(1999, 5, 6)},
    {"c.mp3", "\xc3\xa9t\xc3\xa9", "zz", 0, QDate(2026, 3, 4)},
    {"Z.mp3", "zulu", "\xc3\x89mile", 86399, QDate(1899, 12, 30)},
};

void fill(FileList& list)
{
    for (const Sample& s : kSamples)
        list.appendRow({QString::fromUtf8(s.caption), QString::fromUtf8(s.title),
                        QString::fromUtf8(s.artist), list.durationText(s.seconds),
                        list.dateText(s.date)});
}

QStringList column(const FileList& list, int index)
{
    QStringList texts;
    for (int row = 0; row < list.rowCount(); ++row)
        texts << list.cellText(row, index);
    return texts;
}

// Restores the default locale after a test changed it.
struct LocaleScope
{
    explicit LocaleScope(const char* name)
    {
        QLocale::setDefault(QLocale(QString::fromLatin1(name)));
    }
    ~LocaleScope() { QLocale::setDefault(previous); }
    QLocale previous;
};

// The arrow a header section shows on screen: the pixels that change when the header's
// indicator is hidden, read as a shape that is wide at the top (down) or at the tip (up).
QString drawnArrow(FileList& list, int column)
{
    QHeaderView* header = list.header();
    const QImage with = header->grab().toImage();
    header->setSortIndicatorShown(false);
    const QImage without = header->grab().toImage();
    header->setSortIndicatorShown(true);
    const int left = header->sectionViewportPosition(column);
    const int right = left + header->sectionSize(column);
    QList<int> widths;
    for (int y = 0; y < with.height(); ++y) {
        int first = -1, last = -1;
        for (int x = qMax(left, 0); x < qMin(right, with.width()); ++x) {
            if (with.pixel(x, y) != without.pixel(x, y)) {
                if (first < 0)
                    first = x;
                last = x;
            }
        }
        if (first >= 0)
            widths << last - first + 1;
    }
    if (widths.isEmpty())
        return QStringLiteral("none");
    if (widths.size() < 2 || widths.first() == widths.last())
        return QStringLiteral("unclear");
    return widths.first() > widths.last() ? QStringLiteral("down") : QStringLiteral("up");
}

QStringList drawnArrows(FileList& list)
{
    QStringList arrows;
    for (int c = 0; c < FileList::ColumnCount; ++c)
        arrows << drawnArrow(list, c);
    return arrows;
}

QStringList arrowsOnlyOn(int column, const char* arrow)
{
    QStringList arrows(FileList::ColumnCount, QStringLiteral("none"));
    arrows[column] = QString::fromLatin1(arrow);
    return arrows;
}

std::unique_ptr<FileList> shownList()
{
    auto list = std::make_unique<FileList>();
    // Wide columns, so hiding an arrow never changes how a caption is cut short.
    for (int c = 0; c < FileList::ColumnCount; ++c)
        list->setColumnWidth(c, 160);
    list->resize(900, 300);
    list->show();
    return list;
}

void setModified(const QByteArray& path, const QDateTime& when, bool link = false)
{
    timeval times[2];
    times[0].tv_sec = times[1].tv_sec = when.toSecsSinceEpoch();
    times[0].tv_usec = times[1].tv_usec = 0;
    QCOMPARE(link ? ::lutimes(path.constData(), times) : ::utimes(path.constData(), times), 0);
}

} // namespace

class TestFileList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void localeTexts_data();
    void localeTexts();
    void datesReadBackUnchanged_data();
    void datesReadBackUnchanged();
    void durationShowsTheTimeOfDayOnly_data();
    void durationShowsTheTimeOfDayOnly();

    void sortOrder_data();
    void sortOrder();
    void equalKeysCompareEqualAndKeepTheirOrder();
    void longTextsSortByTheirWholeText();
    void unreadableCellsSortAsTheLowestValue();
    void autoSortOffAppendsAndSwitchingOnSortsOnce();

    void headerClicksAndArrows_data();
    void headerClicksAndArrows();
    void headerMouseClickSortsAtOnce();
    void changedCellsAreNotSortedAgain();
    void rowsAddedWhileSortedAreReachedByTheirPlace();
    void changedCellLeavesTheOtherCells_data();
    void changedCellLeavesTheOtherCells();
    void changedCellsSortByTheirNewText_data();
    void changedCellsSortByTheirNewText();
    void rowsOfAScanReachTheViewInBatches();
    void rowsOfALongScanStillReachTheView();
    void clearedRowsAreFreedOverLaterPasses();

    void rowsFromRealFiles();
    void scanEndReportsTheCount();

private:
    QString m_style;
};

void TestFileList::initTestCase()
{
    m_style = QApplication::style()->name();
    test::loadTagLibraryBesideProgram();
}

void TestFileList::cleanupTestCase()
{
    UnloadTagLibrary();
}

void TestFileList::localeTexts_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("duration"); // of 3725 s
    QTest::addColumn<QString>("date");     // of 4 March 2026
    QTest::addColumn<QString>("dayZero");
    QTest::newRow("en_US") << "en_US"
                           << "1:02:05"
                           << "3/4/2026"
                           << "12/30/1899";
    QTest::newRow("de_DE") << "de_DE"
                           << "1:02:05"
                           << "04.03.2026"
                           << "30.12.1899";
    QTest::newRow("C") << "C"
                       << "1:02:05"
                       << "4 Mar 2026"
                       << "30 Dec 1899";
    QTest::newRow("fi_FI") << "fi_FI"
                           << "1.02.05"
                           << "4.3.2026"
                           << "30.12.1899";
}

void TestFileList::localeTexts()
{
    QFETCH(QString, locale);
    QFETCH(QString, duration);
    QFETCH(QString, date);
    QFETCH(QString, dayZero);
    LocaleScope scope(locale.toLatin1().constData());
    FileList list;
    QCOMPARE(list.durationText(3725), duration);
    QCOMPARE(list.dateText(QDate(2026, 3, 4)), date);
    QCOMPARE(list.dateText(QDate(1899, 12, 30)), dayZero);
    // Everything written reads back as the same value.
    QCOMPARE(list.durationValue(duration), 3725);
    QCOMPARE(list.dateValue(date), QDate(2026, 3, 4).toJulianDay());
    QCOMPARE(list.dateValue(dayZero), QDate(1899, 12, 30).toJulianDay());
    QCOMPARE(list.dateValue(list.dateText(QDate(1999, 12, 31))), QDate(1999, 12, 31).toJulianDay());
}

void TestFileList::datesReadBackUnchanged_data()
{
    QTest::addColumn<QString>("locale");
    for (const char* name : {"C", "en_US", "de_DE", "fr_FR", "ja_JP", "ko_KR", "hu_HU", "ar_EG"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestFileList::datesReadBackUnchanged()
{
    QFETCH(QString, locale);
    LocaleScope scope(locale.toLatin1().constData());
    FileList list;
    QVERIFY(list.dateFormat().contains(QLatin1String("yyyy")));
    for (const QDate& date : {QDate(1899, 12, 30), QDate(1999, 12, 31), QDate(2000, 6, 15),
                              QDate(2026, 3, 4), QDate(2069, 9, 1)}) {
        const QString text = list.dateText(date);
        QCOMPARE(list.dateValue(text), date.toJulianDay());
    }
    QCOMPARE(list.dateValue(QStringLiteral("not a date")), LLONG_MIN);
}

void TestFileList::durationShowsTheTimeOfDayOnly_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0 << "0:00:00";
    QTest::newRow("245 s") << 245 << "0:04:05";
    QTest::newRow("3725 s") << 3725 << "1:02:05";
    QTest::newRow("25 h 1 min 1 s") << (25 * 3600 + 61) << "1:01:01";
    QTest::newRow("last second of a day") << 86399 << "23:59:59";
}

void TestFileList::durationShowsTheTimeOfDayOnly()
{
    QFETCH(int, seconds);
    QFETCH(QString, text);
    FileList list;
    QCOMPARE(list.durationText(seconds), text);
    QCOMPARE(list.durationValue(text), qint64(seconds % 86400));
}

void TestFileList::sortOrder_data()
{
    QTest::addColumn<int>("sortColumn");
    QTest::addColumn<bool>("sortFlag");
    QTest::addColumn<QStringList>("captions");
    const auto order = [](const char* o) {
        QStringList captions;
        for (const char c : QByteArray(o))
            captions << QString(QLatin1Char(c)) + QStringLiteral(".mp3");
        return captions;
    };
    // Texts: true is Z to A; é follows z, and case does not count for ASCII letters.
    QTest::newRow("File, true") << 0 << true << order("ZcbA");
    QTest::newRow("File, false") << 0 << false << order("AbcZ");
    QTest::newRow("Title, true") << 1 << true << order("cZbA");
    QTest::newRow("Title, false") << 1 << false << order("AbZc");
    QTest::newRow("Artist, true") << 2 << true << order("ZcbA");
    QTest::newRow("Artist, false") << 2 << false << order("AbcZ");
    // Times and dates: true is the lowest first.
    QTest::newRow("Duration, true") << 3 << true << order("cbAZ");
    QTest::newRow("Duration, false") << 3 << false << order("ZAbc");
    QTest::newRow("Last Modified, true") << 4 << true << order("ZAbc");
    QTest::newRow("Last Modified, false") << 4 << false << order("cbAZ");
}

void TestFileList::sortOrder()
{
    QFETCH(int, sortColumn);
    QFETCH(bool, sortFlag);
    QFETCH(QStringList, captions);
    for (const char* locale : {"en_US", "de_DE"}) {
        LocaleScope scope(locale);
        FileList list;
        fill(list);
        list.SortColumn() = sortColumn;
        list.SortFlag() = sortFlag;
        list.sortRows();
        QCOMPARE(column(list, 0), captions);
    }
}

void TestFileList::longTextsSortByTheirWholeText()
{
    // Texts that agree far beyond their first characters, in either letter case.
    const QString q24(24, QLatin1Char('Q'));
    const QStringList ascending = {QString(23, QLatin1Char('q')), q24,
                                   q24.toLower() + QLatin1Char('a'), q24 + QLatin1Char('B'),
                                   QString(30, QLatin1Char('q'))};
    FileList list;
    for (const int i : {2, 4, 0, 3, 1})
        list.appendRow({ascending[i], ascending[i], QString(), QString(), QString()});
    for (const int sortColumn : {0, 1}) {
        list.SortColumn() = sortColumn;
        list.SortFlag() = false;
        list.sortRows();
        QCOMPARE(column(list, sortColumn), ascending);
        list.SortFlag() = true;
        list.sortRows();
        QStringList descending = ascending;
        std::reverse(descending.begin(), descending.end());
        QCOMPARE(column(list, sortColumn), descending);
    }
}

void TestFileList::equalKeysCompareEqualAndKeepTheirOrder()
{
    FileList list;
    list.setAutoSort(false);
    // Enough rows that an unstable sort would show; three keys, interleaved.
    const qint32 durations[] = {60, 5, 3600};
    const QDate dates[] = {QDate(2001, 1, 1), QDate(2024, 6, 30), QDate(1899, 12, 30)};
    for (int i = 0; i < 90; ++i)
        list.appendRow({QStringLiteral("row%1").arg(i, 2, 10, QLatin1Char('0')),
                        QStringLiteral("Same"), i % 2 ? QStringLiteral("x") : QStringLiteral("X"),
                        list.durationText(durations[i % 3]), list.dateText(dates[i % 3])});

    for (int sortColumn : {1, 2, 3, 4}) {
        for (bool flag : {true, false}) {
            list.SortColumn() = sortColumn;
            list.SortFlag() = flag;
            const QStringList before = column(list, 0);
            list.sortRows();
            const QStringList after = column(list, 0);
            // Within every group of equal keys the rows keep the order they had.
            for (int a = 0; a < after.size(); ++a) {
                for (int b = a + 1; b < after.size(); ++b) {
                    if (list.filesCompare(a, b) != 0)
                        continue;
                    QCOMPARE(list.filesCompare(b, a), 0);
                    QVERIFY2(before.indexOf(after[a]) < before.indexOf(after[b]),
                             qPrintable(QStringLiteral("column %1 flag %2: %3 / %4")
                                            .arg(sortColumn)
                                            .arg(flag)
                                            .arg(after[a], after[b])));
                }
            }
        }
    }
    // Titles are all equal: sorting by them leaves any order as it is.
    list.SortColumn() = 1;
    list.SortFlag() = true;
    const QStringList current = column(list, 0);
    list.sortRows();
    QCOMPARE(column(list, 0), current);
}

void TestFileList::unreadableCellsSortAsTheLowestValue()
{
    FileList list;
    list.appendRow({QStringLiteral("good"), QString(), QString(), list.durationText(0),
                    list.dateText(QDate(1899, 12, 30))});
    list.appendRow({QStringLiteral("bad"), QString(), QString(), QStringLiteral("soon"),
                    QStringLiteral("yesterday")});
    QCOMPARE(list.durationValue(QStringLiteral("soon")), -1);
    for (int sortColumn : {3, 4}) {
        list.SortColumn() = sortColumn;
        list.SortFlag() = true;
        list.sortRows();
        QCOMPARE(column(list, 0), (QStringList{QStringLiteral("bad"), QStringLiteral("good")}));
        list.SortFlag() = false;
        list.sortRows();
        QCOMPARE(column(list, 0), (QStringList{QStringLiteral("good"), QStringLiteral("bad")}));
    }
}

void TestFileList::autoSortOffAppendsAndSwitchingOnSortsOnce()
{
    FileList list;
    QVERIFY(list.autoSort());
    list.setAutoSort(false);
    fill(list);
    QCOMPARE(column(list, 0), (QStringList{QStringLiteral("b.mp3"), QStringLiteral("A.mp3"),
                                           QStringLiteral("c.mp3"), QStringLiteral("Z.mp3")}));
    list.setAutoSort(true);
    const QStringList zToA = {QStringLiteral("Z.mp3"), QStringLiteral("c.mp3"),
                              QStringLiteral("b.mp3"), QStringLiteral("A.mp3")};
    QCOMPARE(column(list, 0), zToA);
    // While on, a new row goes to its place.
    list.appendRow({QStringLiteral("d.mp3"), QString(), QString(), list.durationText(0),
                    list.dateText(QDate(2000, 1, 1))});
    QCOMPARE(column(list, 0),
             (QStringList{QStringLiteral("Z.mp3"), QStringLiteral("d.mp3"), QStringLiteral("c.mp3"),
                          QStringLiteral("b.mp3"), QStringLiteral("A.mp3")}));
}

void TestFileList::headerClicksAndArrows_data()
{
    QTest::addColumn<QString>("style");
    for (const QString& key : QStyleFactory::keys())
        QTest::newRow(qPrintable(key)) << key;
}

void TestFileList::headerClicksAndArrows()
{
    QFETCH(QString, style);
    QApplication::setStyle(style);
    auto list = shownList();
    QVERIFY(QTest::qWaitForWindowExposed(list.get()));
    fill(*list);
    QCOMPARE(drawnArrows(*list), QStringList(5, QStringLiteral("none")));

    // The start: column 0 with the flag false, then a click on "File".
    list->SortColumn() = 0;
    list->SortFlag() = false;
    list->filesColumnClick(0);
    QCOMPARE(list->SortFlag(), true);
    QCOMPARE(column(*list, 0).first(), QStringLiteral("Z.mp3"));
    QCOMPARE(drawnArrows(*list), arrowsOnlyOn(0, "down"));

    list->filesColumnClick(0); // the second click flips
    QCOMPARE(list->SortFlag(), false);
    QCOMPARE(column(*list, 0).first(), QStringLiteral("A.mp3"));
    QCOMPARE(drawnArrows(*list), arrowsOnlyOn(0, "up"));

    list->filesColumnClick(3); // another column keeps the flag: longest first
    QCOMPARE(list->SortColumn(), 3);
    QCOMPARE(list->SortFlag(), false);
    QCOMPARE(column(*list, 0).first(), QStringLiteral("Z.mp3"));
    QCOMPARE(drawnArrows(*list), arrowsOnlyOn(3, "up"));

    list->filesColumnClick(3);
    list->filesColumnClick(1); // flag true: titles Z to A, é first
    QCOMPARE(list->SortFlag(), true);
    QCOMPARE(column(*list, 0).first(), QStringLiteral("c.mp3"));
    QCOMPARE(drawnArrows(*list), arrowsOnlyOn(1, "down"));

    list->filesColumnClick(4); // oldest first
    QCOMPARE(column(*list, 0).first(), QStringLiteral("Z.mp3"));
    QCOMPARE(drawnArrows(*list), arrowsOnlyOn(4, "down"));

    // Emptying and refilling keeps arrows and sort state.
    list->clear();
    fill(*list);
    QCOMPARE(drawnArrows(*list), arrowsOnlyOn(4, "down"));
    QApplication::setStyle(m_style);
}

void TestFileList::headerMouseClickSortsAtOnce()
{
    auto list = shownList();
    QVERIFY(QTest::qWaitForWindowExposed(list.get()));
    connect(list->header(), &QHeaderView::sectionClicked, list.get(),
            [&](int section) { list->filesColumnClick(section); });
    list->setAutoSort(false);
    fill(*list);
    QHeaderView* header = list->header();
    const QPoint onArtist(header->sectionViewportPosition(2) + 20, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, onArtist);
    QCOMPARE(list->SortColumn(), 2);
    QCOMPARE(column(*list, 2).first(), QString::fromUtf8("\xc3\x89mile"));
    QCOMPARE(drawnArrows(*list), arrowsOnlyOn(2, "down"));
    QVERIFY(!list->autoSort()); // a click sorts, but does not switch automatic sorting on
    // During a scan rows that come after the click go to the end.
    list->appendRow({QStringLiteral("zz.mp3"), QString(), QStringLiteral("Zz"),
                     list->durationText(1), list->dateText(QDate(2001, 1, 1))});
    QCOMPARE(column(*list, 0).last(), QStringLiteral("zz.mp3"));
}

void TestFileList::changedCellsAreNotSortedAgain()
{
    FileList list;
    fill(list);
    list.SortColumn() = 1;
    list.SortFlag() = false;
    list.sortRows();
    const QStringList order = column(list, 0);
    list.setCellText(0, 1, QStringLiteral("zzz")); // as Save Tag does
    QCoreApplication::processEvents();
    QCOMPARE(column(list, 0), order);
}

void TestFileList::rowsAddedWhileSortedAreReachedByTheirPlace()
{
    FileList list;
    list.SortColumn() = FileList::FileColumn;
    list.SortFlag() = false; // A to Z
    for (const char* name : {"c", "a", "d", "b"})
        list.appendRow({QString::fromLatin1(name), QStringLiteral("title ") + QLatin1String(name)});
    QCOMPARE(column(list, 0).join(QLatin1Char('|')), QStringLiteral("a|b|c|d"));
    list.setCellText(2, FileList::TitleColumn, QStringLiteral("changed"));
    QCOMPARE(column(list, 1).join(QLatin1Char('|')),
             QStringLiteral("title a|title b|changed|title d"));
    QCOMPARE(list.rowNamed(QStringLiteral("d")), 3);
    list.setCurrentRow(1);
    list.SortFlag() = true;
    list.sortRows();
    QCOMPARE(column(list, 0).join(QLatin1Char('|')), QStringLiteral("d|c|b|a"));
    QCOMPARE(list.currentRow(), 2); // the current row moved with its file
}

void TestFileList::changedCellLeavesTheOtherCells_data()
{
    QTest::addColumn<int>("changed");
    QTest::addColumn<QString>("text");
    QTest::newRow("first cell longer") << 0 << QStringLiteral("A much longer file name.mp3");
    QTest::newRow("middle cell emptied") << 2 << QString();
    QTest::newRow("last cell shorter") << 4 << QStringLiteral("x");
    QTest::newRow("empty cell filled") << 1 << QString::fromUtf8("T\xc3\xadtulo \xf0\x9f\x8e\xb5");
}

void TestFileList::changedCellLeavesTheOtherCells()
{
    QFETCH(int, changed);
    QFETCH(QString, text);
    FileList list;
    const QStringList before = {QStringLiteral("a.mp3"), QString(), QStringLiteral("Artist"),
                                QStringLiteral("0:03:00"), QStringLiteral("01/02/2020")};
    list.appendRow(before);
    list.setCellText(0, changed, text);
    QStringList expected = before;
    expected[changed] = text;
    for (int cell = 0; cell < FileList::ColumnCount; ++cell)
        QCOMPARE(list.cellText(0, cell), expected[cell]);
    QCOMPARE(list.cellText(0, FileList::ColumnCount), QString());
}

void TestFileList::changedCellsSortByTheirNewText_data()
{
    QTest::addColumn<int>("sortColumn");
    QTest::addColumn<bool>("sortFlag");
    QTest::addColumn<int>("position");
    // Z.mp3 starts as the last title (A to Z), the longest and the oldest.
    QTest::newRow("Title aaa, A to Z") << 1 << false << 0;
    QTest::newRow("Duration 0:01:40, shortest first") << 3 << true << 1;
    QTest::newRow("Last Modified 2100, oldest first") << 4 << true << 3;
}

void TestFileList::changedCellsSortByTheirNewText()
{
    QFETCH(int, sortColumn);
    QFETCH(bool, sortFlag);
    QFETCH(int, position);
    FileList list;
    fill(list);
    const QString newTexts[] = {QString(), QStringLiteral("aaa"), QString(), list.durationText(100),
                                list.dateText(QDate(2100, 1, 1))};
    list.setCellText(list.rowNamed(QStringLiteral("Z.mp3")), sortColumn, newTexts[sortColumn]);
    list.SortColumn() = sortColumn;
    list.SortFlag() = sortFlag;
    list.sortRows();
    QCOMPARE(column(list, 0).indexOf(QStringLiteral("Z.mp3")), position);
}

void TestFileList::rowsOfAScanReachTheViewInBatches()
{
    FileList list;
    list.setAutoSort(false);
    int insertions = 0;
    connect(list.model(), &QAbstractItemModel::rowsInserted, &list, [&] { ++insertions; });
    fill(list);
    fill(list);
    QTRY_COMPARE(list.model()->rowCount(), 8);
    QCOMPARE(insertions, 1);
    QCOMPARE(column(list, 0).mid(0, 4), column(list, 0).mid(4)); // in the order appended

    // Rows still waiting count at once, and a refresh's clearing drops them for good.
    fill(list);
    QCOMPARE(list.rowCount(), 12);
    fill(list);
    list.clear();
    QTest::qWait(300);
    QCOMPARE(list.model()->rowCount(), 0);
    QCOMPARE(list.rowCount(), 0);
}

// A long scan inserts less often, as each insertion lays out every row shown; the rows it
// finds still reach the view within about a second.
void TestFileList::rowsOfALongScanStillReachTheView()
{
    FileList list;
    list.setAutoSort(false);
    for (int round = 0; round < 25000; ++round)
        fill(list);
    QTRY_COMPARE(list.model()->rowCount(), 100000);
    int insertions = 0;
    connect(list.model(), &QAbstractItemModel::rowsInserted, &list, [&] { ++insertions; });
    fill(list);
    QTest::qWait(50);
    QCOMPARE(list.model()->rowCount(), 100000);
    QTRY_COMPARE_WITH_TIMEOUT(list.model()->rowCount(), 100004, 5000);
    QCOMPARE(insertions, 1);
}

void TestFileList::clearedRowsAreFreedOverLaterPasses()
{
    FileList list;
    for (int round = 0; round < 2500; ++round)
        fill(list);
    list.clear();
    QCOMPARE(list.rowCount(), 0);
    QCOMPARE(list.rowsAwaitingRelease(), std::size_t(10000));
    // The next listing does not wait for them, and its rows are its own.
    fill(list);
    QCOMPARE(list.rowCount(), 4);
    list.clear();
    QCOMPARE(list.rowsAwaitingRelease(), std::size_t(10004));
    fill(list);
    QTRY_COMPARE(list.rowsAwaitingRelease(), std::size_t(0));
    QCOMPARE(list.rowCount(), 4);
}

void TestFileList::rowsFromRealFiles()
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const QDateTime noon(QDate(2021, 7, 8), QTime(12, 0));

    QVERIFY(QFile::copy(QStringLiteral(TAGORA_FIXTURES_DIR "/sample.flac"),
                        QStringLiteral("tagged.flac")));
    QFile::setPermissions(QStringLiteral("tagged.flac"), QFile::ReadOwner | QFile::WriteOwner);
    audiotag tag;
    ReadTag(QStringLiteral("tagged.flac"), tag); // as the program does: it sets UTF-8 mode
    tag.Title = QStringLiteral("Tema");
    tag.Artist = QString::fromUtf8("Jos\xc3\xa9");
    QCOMPARE(WriteTag(QStringLiteral("tagged.flac"), tag), WriteTagResult::Saved);
    setModified("tagged.flac", noon);
    // The link's own time is not the file's: the row shows the target's.
    QCOMPARE(::symlink("tagged.flac", "link.flac"), 0);
    setModified("link.flac", QDateTime(QDate(2011, 1, 1), QTime(12, 0)), true);
    QVERIFY(QFile::copy(QStringLiteral(TAGORA_FIXTURES_DIR "/garbage.mp3"),
                        QStringLiteral("garbage.mp3")));
    setModified("garbage.mp3", noon);

    FileList list;
    list.setAutoSort(false);
    list.addfile(QStringLiteral("tagged.flac"));
    list.addfile(QStringLiteral("link.flac"));
    list.addfile(QStringLiteral("garbage.mp3"));
    list.addfile(QStringLiteral("vanished.mp3"));
    QDir::setCurrent(previous);

    QCOMPARE(list.rowCount(), 4);
    for (int column = 1; column < 5; ++column)
        QCOMPARE(list.cellText(0, column),
                 (QStringList{QStringLiteral("Tema"), QString::fromUtf8("Jos\xc3\xa9"),
                              QStringLiteral("0:00:02"), list.dateText(noon.date())}[column - 1]));
    QCOMPARE(list.cellText(1, 0), QStringLiteral("link.flac"));
    QCOMPARE(list.cellText(1, 1), QStringLiteral("Tema"));
    QCOMPARE(list.cellText(1, 4), list.dateText(noon.date()));
    QCOMPARE(list.cellText(2, 1), QString());
    QCOMPARE(list.cellText(2, 3), QStringLiteral("0:00:00"));
    QCOMPARE(list.cellText(2, 4), list.dateText(noon.date()));
    QCOMPARE(list.cellText(3, 4), list.dateText(QDate(1899, 12, 30)));
    QCOMPARE(list.cellText(3, 3), QStringLiteral("0:00:00"));
    QCOMPARE(list.cellText(3, 0), QStringLiteral("vanished.mp3"));
    // A row holds its five texts and nothing else.
    const QModelIndex garbage = list.model()->index(2, 0);
    QVERIFY(garbage.data(Qt::DecorationRole).isNull());
    QCOMPARE(garbage.data(Qt::UserRole), QVariant());
}

void TestFileList::scanEndReportsTheCount()
{
    FileList list;
    QSignalSpy spy(&list, &FileList::statusTextChanged);
    list.setAutoSort(false);
    list.onterminate();
    QCOMPARE(spy.takeFirst().at(0).toString(), QStringLiteral("Total files found: 0"));
    list.setAutoSort(false);
    fill(list);
    list.onterminate();
    QCOMPARE(spy.takeFirst().at(0).toString(), QStringLiteral("Total files found: 4"));
    QVERIFY(list.autoSort());
    QCOMPARE(column(list, 0).first(), QStringLiteral("Z.mp3"));
}

QTEST_MAIN(TestFileList)
#include "tst_filelist.moc"

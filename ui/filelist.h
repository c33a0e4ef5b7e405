#pragma once

#include "tags/audiotag.h"

#include <QDate>
#include <QLocale>
#include <QStringList>
#include <QTreeWidget>

#include <vector>

namespace tagora {

// Scratch list of the four cell texts of the row addfile builds; emptied by every addfile.
extern QStringList RowTexts;
// The tag addfile read last, replaced as a whole by every addfile.
extern audiotag LastReadTag;

// The file list `files`: one row per audio file found by the folder scan, five text
// columns (File, Title, Artist, Duration, Last Modified). A row holds only its texts;
// sorting reads them back. GUI thread only.
//
// Durations and dates are written and read back with the locale that was the default when
// the list was created: durations as "h:nn:ss" with the locale's time separator, dates in
// its short date format with the year widened to four digits so they read back unchanged.
class FileList : public QTreeWidget
{
    Q_OBJECT

public:
    enum Column
    {
        FileColumn,
        TitleColumn,
        ArtistColumn,
        DurationColumn,
        DateColumn,
        ColumnCount
    };

    explicit FileList(QWidget* parent = nullptr);

    // The sort column (0 to 4) and direction flag live with the main window; the list reads
    // and writes them through these references. Until bound, the list keeps its own (0, true).
    void bindSortState(int& sortColumn, bool& sortFlag);
    int& SortColumn() const { return *m_sortColumn; }
    bool& SortFlag() const { return *m_sortFlag; }

    // Appends the row of a file found by the scan: a bare name in the current directory.
    void addfile(const QString& fileName);
    // Appends a row of five texts (caption first), at its sorted place while automatic
    // sorting is on.
    void appendRow(const QStringList& texts);
    // The scan has ended: reports "Total files found: N" and turns automatic sorting on.
    void onterminate();
    // Negative when `item1` goes before `item2` under SortColumn and SortFlag; 0 for equal
    // keys. Texts compare with only A-Z folded; a cell that does not read back as a time or
    // date counts as the lowest value.
    int filesCompare(const QTreeWidgetItem* item1, const QTreeWidgetItem* item2) const;
    // A click on a column header: flips the direction on the sort column, keeps it on
    // another, draws the arrows and sorts at once.
    void filesColumnClick(int column);
    // Header arrow of one column: none unless it is the sort column; then down for
    // direction 0, up otherwise.
    void SetColumnImage(int column, bool isSortColumn, int direction);

    // Automatic sorting: while on, the list is kept sorted; switching it on sorts once.
    // Off during a scan, so rows are appended as they come.
    void setAutoSort(bool on);
    bool autoSort() const { return m_autoSort; }
    // Sorts the rows now, stably (rows with equal keys keep their order).
    void sortRows();

    // The texts of the Duration and Last Modified cells, and their values read back:
    // seconds of the day, Julian day. Unreadable texts give -1 and LLONG_MIN.
    QString durationText(qint32 seconds) const;
    QString dateText(const QDate& date) const;
    qint64 durationValue(const QString& text) const;
    qint64 dateValue(const QString& text) const;
    QString dateFormat() const { return m_dateFormat; }

    // The header arrow this style draws for `order`: true for a downward one.
    bool drawsDownArrow(Qt::SortOrder order) const;

Q_SIGNALS:
    // The text for the status bar when a scan has ended.
    void statusTextChanged(const QString& text);

private:
    struct DateField
    {
        char kind; // 'd', 'M', 'y'; 'N' month name, 'W' day name; 0 literal text
        QString literal;
        QStringList names; // of the months (1 to 12) or days for 'N' and 'W'
    };

    int m_ownSortColumn = 0;
    bool m_ownSortFlag = true;
    int* m_sortColumn = &m_ownSortColumn;
    bool* m_sortFlag = &m_ownSortFlag;
    bool m_autoSort = true;

    QLocale m_locale;
    QString m_timeSeparator;
    QString m_dateFormat;
    std::vector<DateField> m_dateFields; // empty when the format needs QLocale to parse
};

} // namespace tagora

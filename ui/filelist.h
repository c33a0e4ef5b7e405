#pragma once

#include "tags/filerow.h"

#include <QDate>
#include <QStringList>
#include <QTimer>
#include <QTreeView>

#include <vector>

namespace tagora {

// The file list `files`: one row per audio file found by the folder scan, five text
// columns (File, Title, Artist, Duration, Last Modified). A row keeps its sort keys beside
// its texts (durations and dates read back once, when the row is made or its cell
// changes), so sorting never parses. The rows are plain records in a table model, which
// sorts them itself and tells the view once; rows of one height spare the view measuring
// each. GUI thread only.
//
// Durations and dates are written and read back with the RowFormat of the locale that was
// the default when the list was created.
//
// While automatic sorting is off (a scan runs), appended rows wait in a batch that reaches
// the view in one insertion a tenth of a second later: the view and the accessibility
// bridge then see one change per batch instead of one per row. The list's own row count,
// row access, clearing and sorting take the waiting rows in first.
class FileListModel;

class FileList : public QTreeView
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

    // The rows still waiting in the batch count and are reachable here.
    int rowCount() const;
    QString cellText(int row, int column) const;
    // Renews the sort key of a Duration or Last Modified cell with its text.
    void setCellText(int row, int column, const QString& text);
    // The row of the current or selected cell, -1 without one.
    int currentRow() const;
    int selectedRow() const;
    // Makes `row` current and selects it (nothing for a row out of range).
    void setCurrentRow(int row);
    // The first row whose File cell is `fileName`, -1 without one.
    int rowNamed(const QString& fileName) const;
    // The rows go at once; their memory is given back over the next event-loop passes.
    void clear();
    // Cleared rows whose memory is not given back yet.
    std::size_t rowsAwaitingRelease() const;
    // Inserts the rows waiting in the batch now.
    void insertPendingRows();

    // The sort column (0 to 4) and direction flag live with the main window; the list reads
    // and writes them through these references. Until bound, the list keeps its own (0, true).
    void bindSortState(int& sortColumn, bool& sortFlag);
    int& SortColumn() const { return *m_sortColumn; }
    bool& SortFlag() const { return *m_sortFlag; }

    // Appends the row of a file found by the scan: a bare name in the current directory.
    void addfile(const QString& fileName);
    // The same for a file whose modification time the scan has read (seconds since the epoch).
    void addfile(const QString& fileName, std::int64_t modifiedSeconds);
    // Appends a row of five texts (caption first), at its sorted place while automatic
    // sorting is on.
    void appendRow(const QStringList& texts);
    // The scan has ended: reports "Total files found: N" and turns automatic sorting on.
    void onterminate();
    // Negative when row `row1` goes before row `row2` under SortColumn and SortFlag; 0 for
    // equal keys. Texts compare with only A-Z folded; a cell that does not read back as a
    // time or date counts as the lowest value.
    int filesCompare(int row1, int row2) const;
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
    QString durationText(qint32 seconds) const { return m_format.durationText(seconds); }
    QString dateText(const QDate& date) const { return m_format.dateText(date); }
    qint64 durationValue(const QString& text) const { return m_format.durationValue(text); }
    qint64 dateValue(const QString& text) const { return m_format.dateValue(text); }
    QString dateFormat() const { return m_format.dateFormat(); }

    // The header arrow this style draws for `order`: true for a downward one.
    bool drawsDownArrow(Qt::SortOrder order) const;

Q_SIGNALS:
    // The text for the status bar when a scan has ended.
    void statusTextChanged(const QString& text);

private:
    // The first row of a listing looks at the time zone once for all rows.
    void beginListingWhenEmpty();
    void appendBuiltRow(FileRowData built);
    int compareRows(const FileRowData& first, const FileRowData& second) const;
    // The rows' old places in their order under SortColumn and SortFlag.
    std::vector<int> rankRows() const;
    FileList* self() const { return const_cast<FileList*>(this); }

    int m_ownSortColumn = 0;
    bool m_ownSortFlag = true;
    int* m_sortColumn = &m_ownSortColumn;
    bool* m_sortFlag = &m_ownSortFlag;
    bool m_autoSort = true;

    RowFormat m_format;
    FileListModel* m_model;
    std::vector<FileRowData> m_pendingRows;
    QTimer m_insertTimer;
};

} // namespace tagora

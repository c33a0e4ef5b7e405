#include "filelist.h"

#include <QAbstractTableModel>
#include <QDate>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionHeader>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

namespace tagora {

namespace {

// Rows found by a scan are inserted in batches, the first after 100 ms. Each insertion makes
// the view lay out all its rows again, so the wait grows with the rows already shown (1 ms a
// hundred rows, up to a second): the layouts then cost a long scan time in proportion to
// its rows instead of to their square (4% of the listing at 100,000 rows with 100 ms).
constexpr std::chrono::milliseconds kFirstInsert(100);
constexpr std::chrono::milliseconds kLongestInsertWait(1000);
constexpr int kRowsPerInsertMillisecond = 100;
// Rows of a cleared listing freed per event-loop pass: about a tenth of a millisecond.
constexpr std::size_t kRowsFreedPerPass = 4096;

// Code unit by code unit with only a-z taken as A-Z; the shorter of two texts that agree
// up to its end comes first.
int foldedUnit(char16_t c)
{
    return c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c;
}

int compareText(QStringView first, QStringView second)
{
    const auto fold = foldedUnit;
    const qsizetype common = qMin(first.size(), second.size());
    const char16_t* a = reinterpret_cast<const char16_t*>(first.constData());
    const char16_t* b = reinterpret_cast<const char16_t*>(second.constData());
    for (qsizetype i = 0; i < common; ++i) {
        const int difference = fold(a[i]) - fold(b[i]);
        if (difference != 0)
            return difference;
    }
    return first.size() < second.size() ? -1 : first.size() > second.size() ? 1 : 0;
}

template <typename T> int compareValues(T first, T second)
{
    return first > second ? 1 : first < second ? -1 : 0;
}

} // namespace

// The rows as plain records, with the sort keys of their Duration and Last Modified cells
// beside their texts. A screen reader hears a row's file name with its title.
class FileListModel : public QAbstractTableModel
{
public:
    FileListModel(const RowFormat& format, QObject* parent)
        : QAbstractTableModel(parent), m_format(format)
    {
        m_releaseTimer.setInterval(0);
        QObject::connect(&m_releaseTimer, &QTimer::timeout, this, [this] { releaseSome(); });
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_order.size());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : FileList::ColumnCount;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid())
            return QVariant();
        const FileRowData& row = this->row(index.row());
        if (role == Qt::DisplayRole || role == Qt::EditRole)
            return row.text(index.column()).toString();
        if (role != Qt::AccessibleTextRole || index.column() != FileList::FileColumn)
            return QVariant();
        const QStringView title = row.text(FileList::TitleColumn);
        if (title.isEmpty())
            return row.text(FileList::FileColumn).toString();
        return QString(row.text(FileList::FileColumn) + QStringLiteral(", ") + title);
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        static const QStringList labels = {QStringLiteral("File"), QStringLiteral("Title"),
                                           QStringLiteral("Artist"), QStringLiteral("Duration"),
                                           QStringLiteral("Last Modified")};
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QAbstractTableModel::headerData(section, orientation, role);
        return labels.value(section);
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        if (!index.isValid())
            return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    }

    const FileRowData& row(int place) const { return m_rows[storedAt(place)]; }

    // Every row with its place in the list, in the order the rows were added: the order
    // they lie in memory, which a pass over all of them reads fastest.
    template <typename Visit> void forEachRow(Visit visit) const
    {
        std::vector<int> placeOf(m_order.size());
        for (std::size_t place = 0; place < m_order.size(); ++place)
            placeOf[std::size_t(m_order[place])] = int(place);
        for (std::size_t added = 0; added < m_rows.size(); ++added)
            visit(placeOf[added], m_rows[added]);
    }

    void append(std::vector<FileRowData>& batch)
    {
        const int first = int(m_order.size());
        beginInsertRows(QModelIndex(), first, first + int(batch.size()) - 1);
        for (FileRowData& row : batch) {
            m_order.push_back(int(m_rows.size()));
            m_rows.push_back(std::move(row));
        }
        endInsertRows();
        batch.clear();
    }

    void insert(int place, FileRowData row)
    {
        beginInsertRows(QModelIndex(), place, place);
        m_order.insert(m_order.begin() + place, int(m_rows.size()));
        m_rows.push_back(std::move(row));
        endInsertRows();
    }

    void setCellText(int place, int column, const QString& text)
    {
        FileRowData& row = m_rows[storedAt(place)];
        row.setText(column, text);
        if (column == FileList::DurationColumn)
            row.durationKey = m_format.durationValue(text);
        else if (column == FileList::DateColumn)
            row.dateKey = m_format.dateValue(text);
        // The File cell's spoken text carries the title.
        Q_EMIT dataChanged(index(place, 0), index(place, FileList::ColumnCount - 1));
    }

    // The rows go at once; their storage is freed a slice per event-loop pass, so that
    // clearing 100,000 rows does not hold up the GUI thread just as the next folder is
    // listed.
    void clear()
    {
        beginResetModel();
        if (!m_rows.empty()) {
            m_released.push_back(std::move(m_rows));
            m_rows = {};
            m_releaseTimer.start();
        }
        m_order.clear();
        endResetModel();
    }

    std::size_t rowsAwaitingRelease() const
    {
        std::size_t count = 0;
        for (const std::vector<FileRowData>& rows : m_released)
            count += rows.size();
        return count;
    }

    // `order` lists the rows' old places in their new order. The selection and the current
    // row follow their rows.
    void reorder(const std::vector<int>& order)
    {
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        std::vector<int> sorted;
        sorted.reserve(m_order.size());
        std::vector<int> newPlace(m_order.size());
        for (std::size_t place = 0; place < order.size(); ++place) {
            sorted.push_back(m_order[std::size_t(order[place])]);
            newPlace[std::size_t(order[place])] = int(place);
        }
        m_order.swap(sorted);
        const QModelIndexList from = persistentIndexList();
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex& old : from)
            to << index(newPlace[std::size_t(old.row())], old.column());
        changePersistentIndexList(from, to);
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

private:
    std::size_t storedAt(int place) const { return std::size_t(m_order[std::size_t(place)]); }

    void releaseSome()
    {
        std::size_t budget = kRowsFreedPerPass;
        while (budget > 0 && !m_released.empty()) {
            std::vector<FileRowData>& rows = m_released.back();
            const std::size_t count = std::min(budget, rows.size());
            rows.erase(rows.end() - std::ptrdiff_t(count), rows.end());
            budget -= count;
            if (rows.empty())
                m_released.pop_back();
        }
        if (m_released.empty())
            m_releaseTimer.stop();
    }

    const RowFormat& m_format;
    // The rows stay where they were added; sorting only reorders their numbers, which is
    // far cheaper than moving 100,000 records about.
    std::vector<FileRowData> m_rows;
    std::vector<int> m_order; // the rows' numbers in m_rows, as the list shows them
    std::vector<std::vector<FileRowData>> m_released; // cleared rows not yet freed
    QTimer m_releaseTimer;
};

FileList::FileList(QWidget* parent) : QTreeView(parent), m_model(new FileListModel(m_format, this))
{
    m_insertTimer.setSingleShot(true);
    connect(&m_insertTimer, &QTimer::timeout, this, &FileList::insertPendingRows);
    setObjectName(QStringLiteral("files"));
    setModel(m_model);
    const int widths[] = {170, 125, 125, 60, 70};
    for (int column = 0; column < ColumnCount; ++column)
        setColumnWidth(column, widths[column]);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);

    // The arrows are ours to draw (SetColumnImage); the view must not sort by itself.
    setSortingEnabled(false);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(-1, Qt::AscendingOrder);
}

void FileList::bindSortState(int& sortColumn, bool& sortFlag)
{
    sortColumn = *m_sortColumn;
    sortFlag = *m_sortFlag;
    m_sortColumn = &sortColumn;
    m_sortFlag = &sortFlag;
}

int FileList::rowCount() const
{
    self()->insertPendingRows();
    return m_model->rowCount();
}

QString FileList::cellText(int row, int column) const
{
    self()->insertPendingRows();
    return m_model->row(row).text(column).toString();
}

void FileList::setCellText(int row, int column, const QString& text)
{
    insertPendingRows();
    m_model->setCellText(row, column, text);
}

int FileList::currentRow() const
{
    return currentIndex().row();
}

int FileList::selectedRow() const
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void FileList::setCurrentRow(int row)
{
    insertPendingRows();
    if (row >= 0 && row < m_model->rowCount())
        setCurrentIndex(m_model->index(row, FileColumn));
}

int FileList::rowNamed(const QString& fileName) const
{
    for (int row = 0; row < rowCount(); ++row) {
        if (m_model->row(row).text(FileColumn) == fileName)
            return row;
    }
    return -1;
}

void FileList::clear()
{
    // As a list of widget items does: the selection goes first, and says so.
    selectionModel()->clear();
    m_pendingRows.clear();
    m_model->clear();
}

std::size_t FileList::rowsAwaitingRelease() const
{
    return m_model->rowsAwaitingRelease();
}

void FileList::insertPendingRows()
{
    if (!m_pendingRows.empty())
        m_model->append(m_pendingRows);
}

void FileList::addfile(const QString& fileName)
{
    beginListingWhenEmpty();
    appendBuiltRow(rowFromTexts(fileRowTexts(fileName, m_format), m_format));
}

void FileList::addfile(const QString& fileName, std::int64_t modifiedSeconds)
{
    beginListingWhenEmpty();
    appendBuiltRow(rowFromTexts(fileRowTexts(fileName, m_format, modifiedSeconds), m_format));
}

void FileList::beginListingWhenEmpty()
{
    if (m_model->rowCount() == 0 && m_pendingRows.empty())
        beginListing();
}

void FileList::appendRow(const QStringList& texts)
{
    appendBuiltRow(rowFromTexts(texts, m_format));
}

void FileList::appendBuiltRow(FileRowData built)
{
    if (!m_autoSort) {
        m_pendingRows.push_back(std::move(built));
        if (!m_insertTimer.isActive()) {
            const std::chrono::milliseconds wait(m_model->rowCount() / kRowsPerInsertMillisecond);
            m_insertTimer.start(std::clamp(wait, kFirstInsert, kLongestInsertWait));
        }
        return;
    }
    insertPendingRows();
    // Kept sorted: after every row that does not go after the new one.
    int low = 0, high = m_model->rowCount();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (compareRows(built, m_model->row(middle)) < 0)
            high = middle;
        else
            low = middle + 1;
    }
    m_model->insert(low, std::move(built));
}

void FileList::onterminate()
{
    insertPendingRows();
    Q_EMIT statusTextChanged(QStringLiteral("Total files found: ") + QString::number(rowCount()));
    setAutoSort(true);
}

int FileList::filesCompare(int row1, int row2) const
{
    self()->insertPendingRows();
    return compareRows(m_model->row(row1), m_model->row(row2));
}

int FileList::compareRows(const FileRowData& first, const FileRowData& second) const
{
    const int column = SortColumn();
    int result = 0;
    switch (column) {
    case FileColumn:
    case TitleColumn:
    case ArtistColumn:
        result = -compareText(first.text(column), second.text(column));
        break;
    case DurationColumn:
        result = compareValues(first.durationKey, second.durationKey);
        break;
    case DateColumn:
        result = compareValues(first.dateKey, second.dateKey);
        break;
    default:
        break;
    }
    return SortFlag() ? result : -result;
}

void FileList::filesColumnClick(int column)
{
    if (column == SortColumn())
        SortFlag() = !SortFlag();
    for (int i = 0; i < ColumnCount; ++i)
        SetColumnImage(i, i == column, SortFlag() ? 0 : 1);
    SortColumn() = column;
    sortRows();
}

bool FileList::drawsDownArrow(Qt::SortOrder order) const
{
    // QHeaderView asks the style for SortDown when the order is ascending; what the style
    // then draws differs between styles and platforms, so look at it.
    QStyleOptionHeader option;
    option.initFrom(header());
    option.rect = QRect(0, 0, 32, 32);
    option.sortIndicator =
        order == Qt::AscendingOrder ? QStyleOptionHeader::SortDown : QStyleOptionHeader::SortUp;
    QImage image(option.rect.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        header()->style()->drawPrimitive(QStyle::PE_IndicatorHeaderArrow, &option, &painter,
                                         header());
    }
    // Width of the ink in each row; a downward arrow is wide at the top, narrow at the tip.
    QList<int> widths;
    for (int y = 0; y < image.height(); ++y) {
        int left = -1, right = -1;
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 0) {
                if (left < 0)
                    left = x;
                right = x;
            }
        }
        if (left >= 0)
            widths << right - left + 1;
    }
    if (widths.size() < 2)
        return order == Qt::AscendingOrder; // nothing drawn: what Fusion does on Linux
    return widths.first() > widths.last();
}

void FileList::SetColumnImage(int column, bool isSortColumn, int direction)
{
    QHeaderView* h = header();
    if (isSortColumn) {
        const bool wantDown = direction == 0;
        const Qt::SortOrder order = drawsDownArrow(Qt::AscendingOrder) == wantDown
                                        ? Qt::AscendingOrder
                                        : Qt::DescendingOrder;
        h->setSortIndicator(column, order);
    } else if (h->sortIndicatorSection() == column) {
        h->setSortIndicator(-1, Qt::AscendingOrder);
    }
}

void FileList::setAutoSort(bool on)
{
    const bool wasOn = m_autoSort;
    m_autoSort = on;
    if (on && !wasOn)
        sortRows();
}

void FileList::sortRows()
{
    insertPendingRows();
    m_model->reorder(rankRows());
}

std::vector<int> FileList::rankRows() const
{
    // The keys of the sort column side by side, so the sort itself touches no row: the
    // value, or the first code units of the text folded as compareText folds them (a
    // shorter text padded with zeros, which sort first), and the whole text for ties that
    // the prefix does not settle.
    constexpr int kPrefixWords = 6;
    constexpr qsizetype kPrefixUnits = 4 * kPrefixWords;
    struct Entry
    {
        quint64 key[kPrefixWords];
        QStringView text;
        int place; // before the sort
    };
    const int column = SortColumn();
    const bool byText = column == FileColumn || column == TitleColumn || column == ArtistColumn;
    const std::size_t count = std::size_t(m_model->rowCount());
    std::vector<Entry> entries;
    entries.reserve(count);
    m_model->forEachRow([&](int place, const FileRowData& row) {
        Entry entry{{}, QStringView(), place};
        if (byText) {
            entry.text = row.text(column);
            for (qsizetype unit = 0; unit < qMin(entry.text.size(), kPrefixUnits); ++unit)
                entry.key[unit / 4] |= quint64(foldedUnit(entry.text[unit].unicode()))
                                       << (48 - 16 * (unit % 4));
        } else {
            // Offset so the signed values order as unsigned ones.
            const qint64 value = column == DurationColumn ? row.durationKey : row.dateKey;
            entry.key[0] = quint64(value) ^ (quint64(1) << 63);
        }
        entries.push_back(entry);
    });
    // Text columns sort Z to A when SortFlag is true, values the other way round. Rows with
    // equal keys keep their order; std::sort with the old place as the last key needs no
    // second array of entries, as std::stable_sort would.
    const bool descending = byText == SortFlag();
    const auto compareKeys = [&](const Entry& first, const Entry& second) {
        for (int word = 0; word < kPrefixWords; ++word) {
            if (first.key[word] != second.key[word])
                return first.key[word] < second.key[word] ? -1 : 1;
        }
        if (!byText)
            return 0;
        if (first.text.size() <= kPrefixUnits && second.text.size() <= kPrefixUnits)
            return compareValues(first.text.size(), second.text.size());
        return compareText(first.text, second.text);
    };
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        const int order = descending ? compareKeys(b, a) : compareKeys(a, b);
        return order != 0 ? order < 0 : a.place < b.place;
    });
    std::vector<int> order;
    order.reserve(count);
    for (const Entry& entry : entries)
        order.push_back(entry.place);
    return order;
}

} // namespace tagora

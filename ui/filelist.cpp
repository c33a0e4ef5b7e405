#include "filelist.h"

#include <QDate>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionHeader>

#include <algorithm>
#include <chrono>
#include <vector>

namespace tagora {

QStringList RowTexts;
audiotag LastReadTag;

namespace {

constexpr std::chrono::milliseconds kInsertInterval(100);

// A row of the list with the sort keys of its Duration and Last Modified cells, read
// back once (a change of such a cell's text renews its key). A screen reader hears its file
// name with the title.
class FileRow : public QTreeWidgetItem
{
public:
    FileRow(const FileRowData& data, const RowFormat& format)
        : QTreeWidgetItem(data.texts, UserType), m_format(format), m_durationKey(data.durationKey),
          m_dateKey(data.dateKey)
    {}

    QVariant data(int column, int role) const override
    {
        if (role != Qt::AccessibleTextRole || column != FileList::FileColumn)
            return QTreeWidgetItem::data(column, role);
        const QString title = text(FileList::TitleColumn);
        if (title.isEmpty())
            return text(FileList::FileColumn);
        return QStringLiteral("%1, %2").arg(text(FileList::FileColumn), title);
    }

    // The view's sort compares places worked out beforehand (rankRows): comparing the keys
    // here would chase pointers from every row to its texts, a cache miss each, millions of
    // times for a large folder.
    bool operator<(const QTreeWidgetItem& other) const override
    {
        if (other.type() == UserType)
            return m_rank < static_cast<const FileRow&>(other).m_rank;
        return static_cast<const FileList*>(treeWidget())->filesCompare(this, &other) < 0;
    }

    void setData(int column, int role, const QVariant& value) override
    {
        QTreeWidgetItem::setData(column, role, value);
        if (role != Qt::DisplayRole && role != Qt::EditRole)
            return;
        if (column == FileList::DurationColumn)
            m_durationKey = m_format.durationValue(text(column));
        else if (column == FileList::DateColumn)
            m_dateKey = m_format.dateValue(text(column));
    }

    qint64 durationKey() const { return m_durationKey; }
    qint64 dateKey() const { return m_dateKey; }

    int m_rank = 0; // the row's place in the order being sorted

private:
    const RowFormat& m_format;
    qint64 m_durationKey;
    qint64 m_dateKey;
};

const FileRow* asFileRow(const QTreeWidgetItem* item)
{
    return item->type() == QTreeWidgetItem::UserType ? static_cast<const FileRow*>(item) : nullptr;
}

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

FileList::FileList(QWidget* parent) : QTreeWidget(parent)
{
    // Every insertion makes the view lay out all its rows again on its next pass, so a
    // long scan inserts its rows in few, large batches.
    m_insertTimer.setSingleShot(true);
    m_insertTimer.setInterval(kInsertInterval);
    connect(&m_insertTimer, &QTimer::timeout, this, &FileList::insertPendingRows);
    setObjectName(QStringLiteral("files"));
    setColumnCount(ColumnCount);
    setHeaderLabels({QStringLiteral("File"), QStringLiteral("Title"), QStringLiteral("Artist"),
                     QStringLiteral("Duration"), QStringLiteral("Last Modified")});
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

FileList::~FileList()
{
    qDeleteAll(m_pendingRows);
}

int FileList::topLevelItemCount() const
{
    self()->insertPendingRows();
    return QTreeWidget::topLevelItemCount();
}

QTreeWidgetItem* FileList::topLevelItem(int index) const
{
    self()->insertPendingRows();
    return QTreeWidget::topLevelItem(index);
}

void FileList::clear()
{
    qDeleteAll(m_pendingRows);
    m_pendingRows.clear();
    QTreeWidget::clear();
}

void FileList::insertPendingRows()
{
    if (m_pendingRows.isEmpty())
        return;
    QList<QTreeWidgetItem*> rows;
    rows.swap(m_pendingRows);
    addTopLevelItems(rows);
}

void FileList::addfile(const QString& fileName)
{
    RowTexts.clear();
    if (QTreeWidget::topLevelItemCount() == 0 && m_pendingRows.isEmpty())
        beginListing();
    audiotag tag;
    const FileRowData row = buildFileRow(fileName, m_format, tag);
    LastReadTag = tag;
    RowTexts = row.texts.mid(1);
    appendBuiltRow(row);
}

void FileList::appendRow(const QStringList& texts)
{
    appendBuiltRow(rowFromTexts(texts, m_format));
}

void FileList::appendBuiltRow(const FileRowData& built)
{
    auto* row = new FileRow(built, m_format);
    if (!m_autoSort) {
        m_pendingRows.append(row);
        if (!m_insertTimer.isActive())
            m_insertTimer.start();
        return;
    }
    insertPendingRows();
    // Kept sorted: after every row that does not go after the new one.
    int low = 0, high = QTreeWidget::topLevelItemCount();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (filesCompare(row, QTreeWidget::topLevelItem(middle)) < 0)
            high = middle;
        else
            low = middle + 1;
    }
    insertTopLevelItem(low, row);
}

void FileList::onterminate()
{
    insertPendingRows();
    Q_EMIT statusTextChanged(QStringLiteral("Total files found: ") +
                             QString::number(topLevelItemCount()));
    setAutoSort(true);
}

int FileList::filesCompare(const QTreeWidgetItem* item1, const QTreeWidgetItem* item2) const
{
    const int column = SortColumn();
    const FileRow* row1 = asFileRow(item1);
    const FileRow* row2 = asFileRow(item2);
    int result = 0;
    switch (column) {
    case FileColumn:
    case TitleColumn:
    case ArtistColumn:
        result = -compareText(item1->text(column), item2->text(column));
        break;
    case DurationColumn:
        result = compareValues(row1 ? row1->durationKey() : durationValue(item1->text(column)),
                               row2 ? row2->durationKey() : durationValue(item2->text(column)));
        break;
    case DateColumn:
        result = compareValues(row1 ? row1->dateKey() : dateValue(item1->text(column)),
                               row2 ? row2->dateKey() : dateValue(item2->text(column)));
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
    for (int i = 0; i < columnCount(); ++i)
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
    rankRows();
    // QTreeWidget sorts with std::stable_sort through FileRow::operator<, and keeps the
    // selection and the current row.
    model()->sort(FileColumn, Qt::AscendingOrder);
}

void FileList::rankRows()
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
        FileRow* row;
        int place; // before the sort
    };
    const int column = SortColumn();
    const bool byText = column == FileColumn || column == TitleColumn || column == ArtistColumn;
    const std::size_t count = std::size_t(QTreeWidget::topLevelItemCount());
    std::vector<Entry> entries;
    entries.reserve(count);
    std::vector<QString> texts; // what the entries' views look at
    texts.reserve(byText ? count : 0);
    for (int i = 0; i < QTreeWidget::topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = QTreeWidget::topLevelItem(i);
        if (item->type() != QTreeWidgetItem::UserType)
            return; // rows made elsewhere sort through filesCompare alone
        auto* row = static_cast<FileRow*>(item);
        Entry entry{{}, QStringView(), row, i};
        if (byText) {
            texts.push_back(row->text(column));
            entry.text = texts.back();
            for (qsizetype unit = 0; unit < qMin(entry.text.size(), kPrefixUnits); ++unit)
                entry.key[unit / 4] |= quint64(foldedUnit(entry.text[unit].unicode()))
                                       << (48 - 16 * (unit % 4));
        } else {
            // Offset so the signed values order as unsigned ones.
            const qint64 value = column == DurationColumn ? row->durationKey() : row->dateKey();
            entry.key[0] = quint64(value) ^ (quint64(1) << 63);
        }
        entries.push_back(entry);
    }
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
    for (std::size_t place = 0; place < entries.size(); ++place)
        entries[place].row->m_rank = int(place);
}

} // namespace tagora

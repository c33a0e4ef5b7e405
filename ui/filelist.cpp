#include "filelist.h"

#include "services/nativepath.h"
#include "tags/tagoperations.h"

#include <QDate>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionHeader>

#include <climits>
#include <ctime>

#include <sys/stat.h>

namespace tagora {

QStringList RowTexts;
audiotag LastReadTag;

namespace {

// What the date system calls day zero; shown when a file's time cannot be read.
const QDate kDayZero(1899, 12, 30);

// A row of the list. It adds no data to the item: it sorts through the list's comparison,
// and a screen reader hears its file name with the title.
class FileRow : public QTreeWidgetItem
{
public:
    explicit FileRow(const QStringList& texts) : QTreeWidgetItem(texts, UserType) {}

    QVariant data(int column, int role) const override
    {
        if (role != Qt::AccessibleTextRole || column != FileList::FileColumn)
            return QTreeWidgetItem::data(column, role);
        const QString title = text(FileList::TitleColumn);
        if (title.isEmpty())
            return text(FileList::FileColumn);
        return QStringLiteral("%1, %2").arg(text(FileList::FileColumn), title);
    }

    bool operator<(const QTreeWidgetItem& other) const override
    {
        return static_cast<const FileList*>(treeWidget())->filesCompare(this, &other) < 0;
    }
};

// Code unit by code unit with only a-z taken as A-Z; the shorter of two texts that agree
// up to its end comes first.
int compareText(const QString& first, const QString& second)
{
    const auto fold = [](char16_t c) -> int {
        return c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c;
    };
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

bool isFormatLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

// The literal text between the hour and the minutes of the locale's time format.
QString timeSeparatorOf(const QLocale& locale)
{
    const QString format = locale.timeFormat(QLocale::ShortFormat);
    qsizetype i = 0;
    while (i < format.size() && format[i] != QLatin1Char('h') && format[i] != QLatin1Char('H'))
        ++i;
    while (i < format.size() && (format[i] == QLatin1Char('h') || format[i] == QLatin1Char('H')))
        ++i;
    QString separator;
    bool quoted = false;
    for (; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            continue;
        }
        if (!quoted && isFormatLetter(c))
            break;
        separator += c;
    }
    return separator.isEmpty() ? QStringLiteral(":") : separator;
}

// Two-digit years do not read back as the same date (1999 would follow 2026), so every
// year field becomes four digits.
QString withFourDigitYear(const QString& format)
{
    QString result;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('y')) {
            while (i + 1 < format.size() && format[i + 1] == QLatin1Char('y'))
                ++i;
            result += QLatin1String("yyyy");
            continue;
        }
        result += c;
    }
    return result;
}

// Reads up to `maxDigits` ASCII digits at `pos`; -1 when there is none.
int readNumber(const QString& text, qsizetype& pos, int maxDigits)
{
    int value = 0;
    int digits = 0;
    while (pos < text.size() && digits < maxDigits && text[pos] >= QLatin1Char('0') &&
           text[pos] <= QLatin1Char('9')) {
        value = value * 10 + (text[pos].unicode() - '0');
        ++pos;
        ++digits;
    }
    return digits ? value : -1;
}

} // namespace

FileList::FileList(QWidget* parent) : QTreeWidget(parent), m_locale()
{
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

    m_timeSeparator = timeSeparatorOf(m_locale);
    m_dateFormat = withFourDigitYear(m_locale.dateFormat(QLocale::ShortFormat));

    // Dates are read back here as long as the format has only numbers, month and day names
    // and literal text; anything else (or digits other than ASCII) is left to QLocale,
    // which is much slower.
    bool quoted = false;
    for (qsizetype i = 0; i < m_dateFormat.size(); ++i) {
        const QChar c = m_dateFormat[i];
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            continue;
        }
        if (quoted || !isFormatLetter(c)) {
            if (m_dateFields.empty() || m_dateFields.back().kind != 0)
                m_dateFields.push_back({0, QString(), {}});
            m_dateFields.back().literal += c;
            continue;
        }
        qsizetype run = 1;
        while (i + run < m_dateFormat.size() && m_dateFormat[i + run] == c)
            ++run;
        i += run - 1;
        const QLocale::FormatType length = run == 3 ? QLocale::ShortFormat : QLocale::LongFormat;
        if ((c == QLatin1Char('d') || c == QLatin1Char('M')) && run <= 2) {
            m_dateFields.push_back({static_cast<char>(c.unicode()), QString(), {}});
        } else if (c == QLatin1Char('y') && run == 4) {
            m_dateFields.push_back({'y', QString(), {}});
        } else if (c == QLatin1Char('M') && run <= 4) {
            DateField field{'N', QString(), {}};
            for (int month = 1; month <= 12; ++month)
                field.names << m_locale.monthName(month, length);
            m_dateFields.push_back(field);
        } else if (c == QLatin1Char('d') && run <= 4) {
            DateField field{'W', QString(), {}};
            for (int day = 1; day <= 7; ++day)
                field.names << m_locale.dayName(day, length);
            m_dateFields.push_back(field);
        } else {
            m_dateFields.clear();
            break;
        }
    }
}

void FileList::bindSortState(int& sortColumn, bool& sortFlag)
{
    sortColumn = *m_sortColumn;
    sortFlag = *m_sortFlag;
    m_sortColumn = &sortColumn;
    m_sortFlag = &sortFlag;
}

QString FileList::durationText(qint32 seconds) const
{
    // Only the time of day is shown: whole days drop out.
    const qint32 s = qMax(seconds, 0);
    const QChar zero = QLatin1Char('0');
    return QString::number(s / 3600 % 24) + m_timeSeparator +
           QStringLiteral("%1").arg(s / 60 % 60, 2, 10, zero) + m_timeSeparator +
           QStringLiteral("%1").arg(s % 60, 2, 10, zero);
}

qint64 FileList::durationValue(const QString& text) const
{
    qsizetype pos = 0;
    const int hours = readNumber(text, pos, 2);
    if (hours < 0 || hours > 23 || QStringView(text).mid(pos).indexOf(m_timeSeparator) != 0)
        return -1;
    pos += m_timeSeparator.size();
    const qsizetype minutesAt = pos;
    const int minutes = readNumber(text, pos, 2);
    if (pos - minutesAt != 2 || minutes > 59 ||
        QStringView(text).mid(pos).indexOf(m_timeSeparator) != 0)
        return -1;
    pos += m_timeSeparator.size();
    const qsizetype secondsAt = pos;
    const int seconds = readNumber(text, pos, 2);
    if (pos - secondsAt != 2 || seconds > 59 || pos != text.size())
        return -1;
    return hours * 3600 + minutes * 60 + seconds;
}

QString FileList::dateText(const QDate& date) const
{
    return m_locale.toString(date, m_dateFormat);
}

qint64 FileList::dateValue(const QString& text) const
{
    if (!m_dateFields.empty()) {
        int day = -1, month = -1, year = -1;
        qsizetype pos = 0;
        bool ok = true;
        for (const DateField& field : m_dateFields) {
            if (field.kind == 0) {
                ok = QStringView(text).mid(pos).startsWith(field.literal);
                pos += field.literal.size();
            } else if (field.kind == 'd') {
                ok = (day = readNumber(text, pos, 2)) >= 0;
            } else if (field.kind == 'M') {
                ok = (month = readNumber(text, pos, 2)) >= 0;
            } else if (!field.names.isEmpty()) {
                // The longest name that matches: "June" must not stop at "Jun".
                int found = -1;
                for (int n = 0; n < field.names.size(); ++n) {
                    const QString& name = field.names[n];
                    if (!name.isEmpty() && QStringView(text).mid(pos).startsWith(name) &&
                        (found < 0 || name.size() > field.names[found].size()))
                        found = n;
                }
                ok = found >= 0;
                if (ok) {
                    pos += field.names[found].size();
                    if (field.kind == 'N')
                        month = found + 1;
                }
            } else {
                ok = (year = readNumber(text, pos, 4)) >= 0;
            }
            if (!ok)
                break;
        }
        const QDate date(year, month, day);
        if (ok && pos == text.size() && date.isValid())
            return date.toJulianDay();
    }
    const QDate date = m_locale.toDate(text, m_dateFormat);
    return date.isValid() ? date.toJulianDay() : LLONG_MIN;
}

void FileList::addfile(const QString& fileName)
{
    RowTexts.clear();

    // QDateTime's local time asks the system to reload its time zone on every call (a stat of
    // /etc/localtime and more, microseconds per row); the zone is looked at once per listing.
    if (topLevelItemCount() == 0)
        ::tzset();
    QDate date = kDayZero;
    struct stat info;
    struct tm local;
    if (::stat(pathToNative(fileName).constData(), &info) == 0 &&
        ::localtime_r(&info.st_mtim.tv_sec, &local))
        date = QDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    const QString dateString = dateText(date);

    audiotag tag;
    ReadTag(fileName, tag);
    LastReadTag = tag;

    RowTexts << LastReadTag.Title << LastReadTag.Artist << durationText(LastReadTag.Length)
             << dateString;

    const QString caption = fileName.mid(fileName.lastIndexOf(QLatin1Char('/')) + 1);
    appendRow(QStringList{caption} + RowTexts);
}

void FileList::appendRow(const QStringList& texts)
{
    auto* row = new FileRow(texts);
    if (!m_autoSort) {
        addTopLevelItem(row);
        return;
    }
    // Kept sorted: after every row that does not go after the new one.
    int low = 0, high = topLevelItemCount();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (filesCompare(row, topLevelItem(middle)) < 0)
            high = middle;
        else
            low = middle + 1;
    }
    insertTopLevelItem(low, row);
}

void FileList::onterminate()
{
    Q_EMIT statusTextChanged(QStringLiteral("Total files found: ") +
                             QString::number(topLevelItemCount()));
    setAutoSort(true);
}

int FileList::filesCompare(const QTreeWidgetItem* item1, const QTreeWidgetItem* item2) const
{
    const int column = SortColumn();
    int result = 0;
    switch (column) {
    case FileColumn:
    case TitleColumn:
    case ArtistColumn:
        result = -compareText(item1->text(column), item2->text(column));
        break;
    case DurationColumn:
        result =
            compareValues(durationValue(item1->text(column)), durationValue(item2->text(column)));
        break;
    case DateColumn:
        result = compareValues(dateValue(item1->text(column)), dateValue(item2->text(column)));
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
    // QTreeWidget sorts with std::stable_sort through FileRow::operator<, and keeps the
    // selection and the current row.
    model()->sort(FileColumn, Qt::AscendingOrder);
}

} // namespace tagora

#include "filerow.h"

#include "services/nativepath.h"
#include "tags/tagoperations.h"

#include <climits>
#include <ctime>

#include <sys/stat.h>

namespace tagora {
namespace {

// What the date system calls day zero; shown when a file's time cannot be read.
const QDate kDayZero(1899, 12, 30);

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

RowFormat::RowFormat() : m_locale()
{
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

QString RowFormat::durationText(qint32 seconds) const
{
    // Only the time of day is shown: whole days drop out.
    const qint32 s = qMax(seconds, 0);
    const auto twoDigits = [](int n) {
        const QChar digits[] = {QChar(u'0' + n / 10), QChar(u'0' + n % 10)};
        return QString(digits, 2);
    };
    return QString::number(s / 3600 % 24) + m_timeSeparator + twoDigits(s / 60 % 60) +
           m_timeSeparator + twoDigits(s % 60);
}

qint64 RowFormat::durationValue(const QString& text) const
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

QString RowFormat::dateText(const QDate& date) const
{
    constexpr qsizetype kMostDaysKept = 4096;
    const qint64 day = date.toJulianDay();
    const auto kept = m_dateTexts.constFind(day);
    if (kept != m_dateTexts.constEnd())
        return *kept;
    if (m_dateTexts.size() >= kMostDaysKept)
        m_dateTexts.clear();
    return *m_dateTexts.insert(day, m_locale.toString(date, m_dateFormat));
}

qint64 RowFormat::dateValue(const QString& text) const
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

void beginListing()
{
    ::tzset();
}

namespace {

QStringList rowTexts(const QString& fileName, const RowFormat& format, const QDate& date)
{
    audiotag tag;
    ReadTag(fileName, tag);

    const QString caption = fileName.mid(fileName.lastIndexOf(QLatin1Char('/')) + 1);
    return {caption, tag.Title, tag.Artist, format.durationText(tag.Length), format.dateText(date)};
}

QDate localDay(time_t seconds)
{
    struct tm local;
    if (!::localtime_r(&seconds, &local))
        return kDayZero;
    return QDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

} // namespace

QStringList fileRowTexts(const QString& fileName, const RowFormat& format)
{
    struct stat info;
    const bool known = ::stat(pathToNative(fileName).constData(), &info) == 0;
    return rowTexts(fileName, format, known ? localDay(info.st_mtim.tv_sec) : kDayZero);
}

QStringList fileRowTexts(const QString& fileName, const RowFormat& format,
                         std::int64_t modifiedSeconds)
{
    return rowTexts(fileName, format, localDay(time_t(modifiedSeconds)));
}

FileRowData::FileRowData(const QStringList& texts)
{
    qsizetype length = 0;
    for (int column = 0; column < kTextCount && column < texts.size(); ++column)
        length += texts[column].size();
    m_joined.reserve(length);
    for (int column = 0; column < kTextCount; ++column) {
        if (column < texts.size())
            m_joined += texts[column];
        m_ends[std::size_t(column)] = m_joined.size();
    }
}

qsizetype FileRowData::start(int column) const
{
    return column == 0 ? 0 : m_ends[std::size_t(column - 1)];
}

QStringView FileRowData::text(int column) const
{
    if (column < 0 || column >= kTextCount)
        return QStringView();
    return QStringView(m_joined).mid(start(column), m_ends[std::size_t(column)] - start(column));
}

void FileRowData::setText(int column, const QString& text)
{
    if (column < 0 || column >= kTextCount)
        return;
    const qsizetype oldLength = m_ends[std::size_t(column)] - start(column);
    m_joined.replace(start(column), oldLength, text);
    for (int later = column; later < kTextCount; ++later)
        m_ends[std::size_t(later)] += text.size() - oldLength;
}

FileRowData rowFromTexts(const QStringList& texts, const RowFormat& format)
{
    FileRowData row(texts);
    row.durationKey = format.durationValue(texts.value(3));
    row.dateKey = format.dateValue(texts.value(4));
    return row;
}

} // namespace tagora

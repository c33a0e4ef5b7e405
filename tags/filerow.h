#pragma once

#include "tags/audiotag.h"

#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <vector>

namespace tagora {

// How the Duration and Last Modified cells of a file row are written and read back, with
// the locale that was the default when the format was made: durations as "h:nn:ss" with
// the locale's time separator, dates in its short date format with the year widened to
// four digits so they read back unchanged.
class RowFormat
{
public:
    RowFormat();

    QString durationText(qint32 seconds) const;
    QString dateText(const QDate& date) const;
    // The texts read back: seconds of the day, Julian day. Unreadable texts give -1 and
    // LLONG_MIN.
    qint64 durationValue(const QString& text) const;
    qint64 dateValue(const QString& text) const;
    QString dateFormat() const { return m_dateFormat; }

private:
    struct DateField
    {
        char kind; // 'd', 'M', 'y'; 'N' month name, 'W' day name; 0 literal text
        QString literal;
        QStringList names; // of the months (1 to 12) or days for 'N' and 'W'
    };

    QLocale m_locale;
    QString m_timeSeparator;
    QString m_dateFormat;
    std::vector<DateField> m_dateFields; // empty when the format needs QLocale to parse
};

// One row of the file list as plain data: the five cell texts (File, Title, Artist,
// Duration, Last Modified) and the two cells that sort by value, read back once.
struct FileRowData
{
    QStringList texts;
    qint64 durationKey = -1;
    qint64 dateKey = 0;
};

// The time zone is looked at once per listing: QDateTime's local time, or localtime_r
// without it, would stat /etc/localtime for every row. Call before the first row of a
// listing.
void beginListing();

// The row of an audio file: its modification day (day zero when unreadable), the tag read
// through the tag library into `tag` (empty texts when unreadable) and the texts as
// `format` writes them. `fileName` is relative to the current directory or absolute; the
// File cell is its name part. GUI thread, like every tag read.
FileRowData buildFileRow(const QString& fileName, const RowFormat& format, audiotag& tag);

// A row from given texts (missing ones empty), its keys read back with `format`.
FileRowData rowFromTexts(const QStringList& texts, const RowFormat& format);

} // namespace tagora

#pragma once

#include "tags/audiotag.h"

#include <QDate>
#include <QHash>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
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
    // Texts of the days written so far, by Julian day: the files of a folder mostly share a
    // few days, and QLocale takes longer to write one than the rest of a row takes.
    mutable QHash<qint64, QString> m_dateTexts;
};

// One row of the file list as plain data: the five cell texts (File, Title, Artist,
// Duration, Last Modified) and the two cells that sort by value, read back once.
//
// The texts are kept end to end in one string, so a row costs one allocation instead of six.
// Clearing a list of 100,000 rows then frees 100,000 blocks, not 600,000 small ones that the
// allocator would merge later, in one long pause, at the next large allocation.
class FileRowData
{
public:
    static constexpr int kTextCount = 5;

    FileRowData() = default;
    // Missing texts are empty; texts past the fifth are not kept.
    explicit FileRowData(const QStringList& texts);

    // Empty for a column out of range.
    QStringView text(int column) const;
    void setText(int column, const QString& text);

    qint64 durationKey = -1;
    qint64 dateKey = 0;

private:
    // Where the text of `column` begins in m_joined.
    qsizetype start(int column) const;

    QString m_joined;
    std::array<qsizetype, kTextCount> m_ends{}; // where each text ends in m_joined
};

// The time zone is looked at once per listing: QDateTime's local time, or localtime_r
// without it, would stat /etc/localtime for every row. Call before the first row of a
// listing.
void beginListing();

// The five texts of an audio file's row: its modification day (day zero when unreadable),
// the tag read through the tag library (empty texts when unreadable), written as `format`
// writes them. `fileName` is relative to the current directory or absolute; the
// File cell is its name part. GUI thread, like every tag read.
QStringList fileRowTexts(const QString& fileName, const RowFormat& format);
// The same for a file whose modification time the caller has just read (seconds since the
// epoch).
QStringList fileRowTexts(const QString& fileName, const RowFormat& format,
                         std::int64_t modifiedSeconds);

// A row from given texts (missing ones empty), its keys read back with `format`.
FileRowData rowFromTexts(const QStringList& texts, const RowFormat& format);

} // namespace tagora

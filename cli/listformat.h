#pragma once

#include "cli/picturefile.h"
#include "tags/audiotag.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace tagora::cli {

enum class ListFormat
{
    Table,
    Tsv,
    Csv,
    Json
};

std::optional<ListFormat> listFormatNamed(const QByteArray& name);

// The column names of every machine format, in order: path, the ten fields by their script
// names, length, pictures (a count; in json, each picture's metadata).
QList<QByteArray> listColumns();

// Prints one row per file as it comes, so nothing of a listing is held: the header first,
// then rows, then whatever closes the format. Paths are file-name bytes; tsv and csv carry
// them as they are, json as text with each byte that is not valid UTF-8 written "\udcXX".
class ListPrinter
{
public:
    // `width` is the table's width in columns; the other formats ignore it. `extra` names the
    // columns asked for after the usual ones (named fields, facts of the file).
    ListPrinter(ListFormat format, std::FILE* out, int width, const QList<QByteArray>& extra = {});
    void begin();
    // The pictures' bytes are read for json only, which gives each one's size in pixels.
    // `extraValues` has the values of each extra column: json writes several as an array,
    // the other formats join them with "; ".
    void row(const QByteArray& path, const audiotag& tag, const PictureFile& pictures,
             const QList<QStringList>& extraValues = {});
    void end();

private:
    QList<QByteArray> cells(const QByteArray& path, const audiotag& tag,
                            const PictureFile& pictures) const;
    void tableLine(const QList<QByteArray>& cells);
    static QByteArray jsonValues(const QStringList& values);

    ListFormat m_format;
    std::FILE* m_out;
    QList<int> m_widths;
    QList<QByteArray> m_extra;
    bool m_firstRow = true;
};

// Bytes made safe for a terminal: tab, newline, carriage return and backslash as \t \n \r
// \\, other control characters as \xHH, C1 controls and bidi overrides as \uHHHH. Valid
// UTF-8 and bytes that are not UTF-8 pass through, so a file name stays recognisable.
QByteArray terminalSafe(const QByteArray& bytes);

// The cells a terminal gives `text`: two for East Asian wide characters and emoji, none for
// combining marks and joiners.
int displayCells(const QString& text);

// A field or path for tsv: backslash, tab, newline and carriage return as \\ \t \n \r.
QByteArray tsvEscaped(const QByteArray& value);

// A field or path for csv: quoted, with doubled quotes, when it holds a comma, quote or line
// break, or starts or ends with a space.
QByteArray csvEscaped(const QByteArray& value);

// A json string literal of a text whose lone surrogates stand for bytes (see
// services/nativepath.h).
QByteArray jsonQuoted(const QString& text);

// One csv record and the line it starts on, from 1.
struct CsvRecord
{
    qint64 line = 0;
    QList<QByteArray> cells;
};

// Parses a whole csv (RFC 4180: quoted cells may hold commas, quotes and line breaks; a
// byte order mark at the start is dropped). False with "line L, column C: what" at the
// first malformation: a quote left open, a quote inside an unquoted cell, text after a
// closing quote.
bool parseCsv(const QByteArray& text, QList<CsvRecord>& records, QByteArray& error);

} // namespace tagora::cli

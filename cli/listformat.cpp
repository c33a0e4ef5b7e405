#include "listformat.h"

#include "cli/picturecommand.h"
#include "services/nativepath.h"
#include "tags/tagfields.h"

namespace tagora::cli {
namespace {

constexpr int kColumnCount = int(TagFields.size()) + 3;
constexpr int kMinimumWidth = 4;
constexpr int kTrackColumn = 4;
constexpr int kYearColumn = 5;

// Share of the spare width each column gets, path first, length and pictures last.
constexpr int kWidthShares[kColumnCount] = {10, 4, 3, 3, 0, 0, 2, 2, 1, 0, 1, 0, 0};
constexpr int kFixedWidths[kColumnCount] = {0, 0, 0, 0, 5, 4, 0, 0, 0, 5, 0, 6, 4};

QList<int> tableWidths(int width)
{
    int fixed = kColumnCount - 1; // the spaces between columns
    int shares = 0;
    for (int i = 0; i < kColumnCount; ++i) {
        fixed += kFixedWidths[i] ? kFixedWidths[i] : kMinimumWidth;
        shares += kWidthShares[i];
    }
    const int spare = std::max(0, width - fixed);
    QList<int> widths;
    for (int i = 0; i < kColumnCount; ++i) {
        widths.append(kFixedWidths[i] ? kFixedWidths[i]
                                      : kMinimumWidth + spare * kWidthShares[i] / shares);
    }
    return widths;
}

// A cell cut or padded to `width` characters. A cut cell ends in an ellipsis; a cut path
// starts with one, as its end names the file.
QByteArray tableCell(const QByteArray& value, int width, bool alignRight, bool cutLeft)
{
    QString text = pathFromNative(value);
    for (QChar& c : text) {
        if (c.unicode() < 0x20)
            c = u' ';
    }
    if (text.size() > width && cutLeft)
        text = u'…' + text.right(width - 1);
    else if (text.size() > width)
        text = text.left(width - 1) + u'…';
    const QString padding(width - text.size(), u' ');
    return pathToNative(alignRight ? padding + text : text + padding);
}

} // namespace

std::optional<ListFormat> listFormatNamed(const QByteArray& name)
{
    if (name == "table")
        return ListFormat::Table;
    if (name == "tsv")
        return ListFormat::Tsv;
    if (name == "csv")
        return ListFormat::Csv;
    if (name == "json")
        return ListFormat::Json;
    return std::nullopt;
}

QList<QByteArray> listColumns()
{
    QList<QByteArray> columns{"path"};
    for (const TagField& field : TagFields)
        columns.append(QByteArray(field.name).toLower());
    columns.append("length");
    columns.append("pictures");
    return columns;
}

ListPrinter::ListPrinter(ListFormat format, std::FILE* out, int width)
    : m_format(format), m_out(out), m_widths(tableWidths(width))
{}

void ListPrinter::begin()
{
    QList<QByteArray> header = listColumns();
    switch (m_format) {
    case ListFormat::Table:
        header = {"Path"};
        for (const TagField& field : TagFields)
            header.append(field.name);
        header << "Length"
               << "Pics";
        tableLine(header);
        break;
    case ListFormat::Tsv:
        std::fputs(header.join('\t').append('\n').constData(), m_out);
        break;
    case ListFormat::Csv:
        std::fputs(header.join(',').append("\r\n").constData(), m_out);
        break;
    case ListFormat::Json:
        std::fputs("[", m_out);
        break;
    }
}

QList<QByteArray> ListPrinter::cells(const QByteArray& path, const audiotag& tag,
                                     const PictureFile& pictures) const
{
    QList<QByteArray> cells{path};
    for (const TagField& field : TagFields)
        cells.append((tag.*field.member).toUtf8());
    cells.append(QByteArray::number(tag.Length));
    cells.append(QByteArray::number(m_format == ListFormat::Json ? 0 : pictures.count()));
    return cells;
}

void ListPrinter::row(const QByteArray& path, const audiotag& tag, const PictureFile& pictures)
{
    QList<QByteArray> values = cells(path, tag, pictures);
    QByteArray line;
    switch (m_format) {
    case ListFormat::Table:
        // An unset track or year reads as 0; the table leaves it blank for the eye.
        for (const int column : {kTrackColumn, kYearColumn}) {
            if (values[column] == "0")
                values[column].clear();
        }
        tableLine(values);
        return;
    case ListFormat::Tsv:
        for (QByteArray& value : values)
            value = tsvEscaped(value);
        line = values.join('\t') + '\n';
        break;
    case ListFormat::Csv:
        for (QByteArray& value : values)
            value = csvEscaped(value);
        line = values.join(',') + "\r\n";
        break;
    case ListFormat::Json: {
        const QList<QByteArray> columns = listColumns();
        line = m_firstRow ? "\n{" : ",\n{";
        line += "\"path\": " + jsonQuoted(pathFromNative(path));
        for (int i = 0; i < int(TagFields.size()); ++i)
            line += ", \"" + columns[i + 1] + "\": " + jsonQuoted(tag.*TagFields[i].member);
        line += ", \"length\": " + QByteArray::number(tag.Length) +
                ", \"pictures\": " + picturesJson(pictures.pictures()) + '}';
        break;
    }
    }
    m_firstRow = false;
    std::fwrite(line.constData(), 1, size_t(line.size()), m_out);
}

void ListPrinter::end()
{
    if (m_format == ListFormat::Json)
        std::fputs(m_firstRow ? "]\n" : "\n]\n", m_out);
    std::fflush(m_out);
}

void ListPrinter::tableLine(const QList<QByteArray>& values)
{
    QByteArray line;
    for (qsizetype i = 0; i < values.size(); ++i) {
        const bool number = kFixedWidths[i] != 0;
        line += tableCell(values[i], m_widths[i], number, i == 0);
        line += i + 1 < values.size() ? ' ' : '\n';
    }
    std::fwrite(line.constData(), 1, size_t(line.size()), m_out);
}

QByteArray tsvEscaped(const QByteArray& value)
{
    QByteArray out;
    out.reserve(value.size());
    for (const char c : value) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QByteArray csvEscaped(const QByteArray& value)
{
    const bool quoted = value.contains(',') || value.contains('"') || value.contains('\n') ||
                        value.contains('\r') || value.startsWith(' ') || value.endsWith(' ');
    if (!quoted)
        return value;
    QByteArray out = value;
    out.replace('"', "\"\"");
    return '"' + out + '"';
}

QByteArray jsonQuoted(const QString& text)
{
    QByteArray out = "\"";
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        const bool pairedHigh = QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
                                QChar::isLowSurrogate(text[i + 1].unicode());
        if (pairedHigh) {
            out += QString(text.mid(i, 2)).toUtf8();
            ++i;
        } else if (unit == u'"' || unit == u'\\') {
            out += '\\';
            out += char(unit);
        } else if (unit < 0x20 || QChar::isSurrogate(unit)) {
            out += "\\u" + QByteArray::number(unit, 16).rightJustified(4, '0');
        } else {
            out += QString(QChar(unit)).toUtf8();
        }
    }
    return out + '"';
}

bool CsvReader::next(QList<QByteArray>& cells)
{
    cells.clear();
    QByteArray cell;
    bool quoted = false;
    bool any = false;
    for (int c; (c = std::fgetc(m_in)) != EOF;) {
        any = true;
        if (quoted) {
            if (c != '"') {
                cell += char(c);
                continue;
            }
            const int after = std::fgetc(m_in);
            if (after == '"') {
                cell += '"';
                continue;
            }
            quoted = false;
            if (after == EOF)
                break;
            c = after;
        }
        if (c == '"' && cell.isEmpty()) {
            quoted = true;
        } else if (c == ',') {
            cells.append(cell);
            cell.clear();
        } else if (c == '\n') {
            if (cell.endsWith('\r'))
                cell.chop(1);
            cells.append(cell);
            return true;
        } else {
            cell += char(c);
        }
    }
    if (quoted)
        m_wellFormed = false;
    if (any)
        cells.append(cell);
    return any;
}

} // namespace tagora::cli

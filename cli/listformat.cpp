#include "listformat.h"

#include "cli/picturecommand.h"
#include "services/nativepath.h"
#include "tags/tagfields.h"

#include <algorithm>

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

constexpr char32_t kNotUtf8 = 0xFFFFFFFF;

// The code point whose UTF-8 starts at bytes[at], or kNotUtf8 when none does (a stray or
// overlong sequence, a surrogate).
char32_t codePointAt(const QByteArray& bytes, qsizetype at)
{
    const auto lead = static_cast<unsigned char>(bytes[at]);
    if (lead < 0x80)
        return lead;
    const int length = lead >= 0xC2 && lead <= 0xDF   ? 2
                       : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                      : 0;
    if (length == 0 || at + length > bytes.size())
        return kNotUtf8;
    char32_t code = lead & (0xFF >> (length + 1));
    for (int k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(bytes[at + k]);
        if ((next & 0xC0) != 0x80)
            return kNotUtf8;
        code = (code << 6) | (next & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return kNotUtf8;
    return code;
}

struct CodeRange
{
    char32_t first;
    char32_t last;
};

// Code points a terminal draws two cells wide (East Asian wide and full-width forms, and
// the emoji shown as pictures), as wcwidth() has them.
constexpr CodeRange kWideRanges[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
    {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
    {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
    {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF},
    {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251}, {0x1F300, 0x1F64F},
    {0x1F680, 0x1F6FF}, {0x1F7E0, 0x1F7EB}, {0x1F90C, 0x1F9FF}, {0x1FA70, 0x1FAFF},
    {0x20000, 0x3FFFD},
};

// Code points that change how a terminal shows what follows: C1 controls and the bidi
// embeddings, overrides and isolates (U+202E turns the rest of a line around).
constexpr CodeRange kHiddenControls[] = {
    {0x80, 0x9F}, {0x61C, 0x61C}, {0x200E, 0x200F}, {0x202A, 0x202E}, {0x2066, 0x2069}};

bool inRanges(char32_t code, const CodeRange* begin, const CodeRange* end)
{
    return std::any_of(begin, end, [code](const CodeRange& range) {
        return code >= range.first && code <= range.last;
    });
}

int cellsOf(char32_t code)
{
    if (QChar::isSurrogate(code))
        return 1; // a byte that is not UTF-8, shown as one replacement sign
    switch (QChar::category(code)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
        return 0;
    default:
        break;
    }
    return inRanges(code, std::begin(kWideRanges), std::end(kWideRanges)) ? 2 : 1;
}

// What a terminal draws as one unit: a character with the marks and joined emoji after it.
struct Glyph
{
    QString text;
    int cells = 0;
};

QList<Glyph> glyphsOf(const QString& text)
{
    QList<Glyph> glyphs;
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype units = 1;
        char32_t code = text[i].unicode();
        if (QChar::isHighSurrogate(code) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(text[i], text[i + 1]);
            units = 2;
        }
        const int cells = cellsOf(code);
        const bool joined =
            !glyphs.isEmpty() && (cells == 0 || glyphs.last().text.endsWith(QChar(0x200D)));
        if (joined)
            glyphs.last().text += text.mid(i, units);
        else
            glyphs.append({text.mid(i, units), cells});
        i += units - 1;
    }
    return glyphs;
}

QString joinedGlyphs(QList<Glyph>::const_iterator begin, QList<Glyph>::const_iterator end)
{
    QString text;
    for (auto it = begin; it != end; ++it)
        text += it->text;
    return text;
}

// A cell cut or padded to `width` terminal cells, control characters escaped. A cut cell
// ends in an ellipsis; a cut path starts with one, as its end names the file. A cut never
// falls inside a character or between a character and its marks.
QByteArray tableCell(const QByteArray& value, int width, bool alignRight, bool cutLeft)
{
    const QString whole = pathFromNative(terminalSafe(value));
    const QList<Glyph> glyphs = glyphsOf(whole);
    QString text;
    if (displayCells(whole) <= width) {
        text = joinedGlyphs(glyphs.cbegin(), glyphs.cend());
    } else if (cutLeft) {
        auto from = glyphs.cend();
        for (int room = width - 1; from != glyphs.cbegin() && (from - 1)->cells <= room;)
            room -= (--from)->cells;
        text = u'…' + joinedGlyphs(from, glyphs.cend());
    } else {
        auto to = glyphs.cbegin();
        for (int room = width - 1; to != glyphs.cend() && to->cells <= room; ++to)
            room -= to->cells;
        text = joinedGlyphs(glyphs.cbegin(), to) + u'…';
    }
    const QString padding(std::max(0, width - displayCells(text)), u' ');
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
        columns.append(field.cliName);
    columns.append("length");
    columns.append("pictures");
    return columns;
}

constexpr int kExtraColumnWidth = 16;

ListPrinter::ListPrinter(ListFormat format, std::FILE* out, int width,
                         const QList<QByteArray>& extra)
    : m_format(format), m_out(out),
      m_widths(tableWidths(width - int(extra.size()) * (kExtraColumnWidth + 1))), m_extra(extra)
{
    for (qsizetype i = 0; i < extra.size(); ++i)
        m_widths.append(kExtraColumnWidth);
}

void ListPrinter::begin()
{
    QList<QByteArray> header = listColumns() + m_extra;
    switch (m_format) {
    case ListFormat::Table:
        header = {"Path"};
        for (const TagField& field : TagFields)
            header.append(field.name);
        header << "Length"
               << "Pics";
        tableLine(header + m_extra);
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

void ListPrinter::row(const QByteArray& path, const audiotag& tag, const PictureFile& pictures,
                      const QList<QStringList>& extraValues)
{
    QList<QByteArray> values = cells(path, tag, pictures);
    for (const QStringList& extra : extraValues)
        values.append(extra.join(QLatin1String("; ")).toUtf8());
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
                ", \"pictures\": " + picturesJson(pictures.pictures());
        for (qsizetype i = 0; i < m_extra.size() && i < extraValues.size(); ++i)
            line += ", " + jsonQuoted(QString::fromUtf8(m_extra[i])) + ": " +
                    jsonValues(extraValues[i]);
        line += '}';
        break;
    }
    }
    m_firstRow = false;
    std::fwrite(line.constData(), 1, size_t(line.size()), m_out);
}

// Several values as an array, one as a string (a number as a number), none as null.
QByteArray ListPrinter::jsonValues(const QStringList& values)
{
    if (values.isEmpty())
        return "null";
    bool number = false;
    values.first().toLongLong(&number);
    if (values.size() == 1)
        return number && !values.first().startsWith(u'0') ? values.first().toUtf8()
                                                          : jsonQuoted(values.first());
    QList<QByteArray> items;
    for (const QString& value : values)
        items.append(jsonQuoted(value));
    return '[' + items.join(", ") + ']';
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
        const bool number = i < kColumnCount && kFixedWidths[i] != 0;
        line += tableCell(values[i], m_widths[i], number, i == 0);
        line += i + 1 < values.size() ? ' ' : '\n';
    }
    std::fwrite(line.constData(), 1, size_t(line.size()), m_out);
}

int displayCells(const QString& text)
{
    int cells = 0;
    for (const Glyph& glyph : glyphsOf(text))
        cells += glyph.cells;
    return cells;
}

QByteArray terminalSafe(const QByteArray& bytes)
{
    const bool plain = std::all_of(bytes.begin(), bytes.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte < 0x7F && c != '\\';
    });
    if (plain)
        return bytes;
    QByteArray out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const char32_t code = codePointAt(bytes, i);
        const qsizetype length = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (code == kNotUtf8) {
            out += bytes[i++]; // a file name's own byte; no terminal takes it as a control
            continue;
        }
        i += length;
        if (code == '\\')
            out += "\\\\";
        else if (code == '\t')
            out += "\\t";
        else if (code == '\n')
            out += "\\n";
        else if (code == '\r')
            out += "\\r";
        else if (code < 0x20 || code == 0x7F)
            out += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        else if (inRanges(code, std::begin(kHiddenControls), std::end(kHiddenControls)))
            out += "\\u" + QByteArray::number(uint(code), 16).rightJustified(4, '0');
        else
            out += bytes.mid(i - length, length);
    }
    return out;
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

namespace {

// Walks a csv byte by byte, keeping the line and column of where it is.
class CsvParser
{
public:
    explicit CsvParser(const QByteArray& text) : m_text(text)
    {
        if (m_text.startsWith("\xEF\xBB\xBF"))
            m_at = 3;
    }

    bool parse(QList<CsvRecord>& records, QByteArray& error)
    {
        while (m_at < m_text.size()) {
            CsvRecord record{m_line, {}};
            if (!parseRecord(record.cells, error))
                return false;
            records.append(record);
        }
        return true;
    }

private:
    QByteArray where(qint64 line, qint64 column) const
    {
        return "line " + QByteArray::number(line) + ", column " + QByteArray::number(column);
    }
    char take()
    {
        const char c = m_text[m_at++];
        if (c == '\n') {
            ++m_line;
            m_lineStart = m_at;
        }
        return c;
    }
    qint64 column() const { return m_at - m_lineStart + 1; }

    bool parseRecord(QList<QByteArray>& cells, QByteArray& error)
    {
        for (;;) {
            QByteArray cell;
            if (!parseCell(cell, error))
                return false;
            cells.append(cell);
            if (m_at >= m_text.size())
                return true;
            if (take() == '\n')
                return true;
        }
    }

    // Stops before the comma or line break that ends the cell (a carriage return before a
    // line break belongs to the break).
    bool parseCell(QByteArray& cell, QByteArray& error)
    {
        if (m_at < m_text.size() && m_text[m_at] == '"')
            return parseQuoted(cell, error);
        while (m_at < m_text.size() && m_text[m_at] != ',' && m_text[m_at] != '\n') {
            if (m_text[m_at] == '"') {
                error = where(m_line, column()) + ": a quote inside an unquoted cell";
                return false;
            }
            cell += take();
        }
        if (cell.endsWith('\r') && m_at < m_text.size())
            cell.chop(1);
        return true;
    }

    bool parseQuoted(QByteArray& cell, QByteArray& error)
    {
        const QByteArray opened = where(m_line, column());
        take();
        for (;;) {
            if (m_at >= m_text.size()) {
                error = opened + ": the quote opened here is never closed";
                return false;
            }
            const char c = take();
            if (c != '"') {
                cell += c;
            } else if (m_at < m_text.size() && m_text[m_at] == '"') {
                cell += take();
            } else {
                break;
            }
        }
        if (m_at < m_text.size() && m_text[m_at] == '\r' && m_text.mid(m_at + 1, 1) == "\n")
            ++m_at;
        if (m_at < m_text.size() && m_text[m_at] != ',' && m_text[m_at] != '\n') {
            error = where(m_line, column()) + ": text after a closing quote";
            return false;
        }
        return true;
    }

    const QByteArray& m_text;
    qsizetype m_at = 0;
    qint64 m_line = 1;
    qsizetype m_lineStart = 0;
};

} // namespace

bool parseCsv(const QByteArray& text, QList<CsvRecord>& records, QByteArray& error)
{
    records.clear();
    return CsvParser(text).parse(records, error);
}

} // namespace tagora::cli

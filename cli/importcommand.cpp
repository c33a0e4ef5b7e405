#include "cli/commands.h"
#include "cli/fieldcheck.h"
#include "cli/filecommand.h"
#include "cli/listformat.h"
#include "cli/namepattern.h"
#include "cli/signals.h"

#include <cstdio>
#include <memory>

namespace tagora::cli {
namespace {

// A csv read whole and checked before any file is written.
struct ImportTable
{
    QList<QString audiotag::*> members; // per column; null for path and length
    QList<QByteArray> named;            // per column, a named field's name; empty for others
    qsizetype pathColumn = -1;
    QList<CsvRecord> rows;
};

// The whole of a file, or of standard input for "-".
bool readWhole(const QByteArray& source, QByteArray& text)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> opened(
        source == "-" ? nullptr : std::fopen(source.constData(), "rb"), &std::fclose);
    if (source != "-" && !opened)
        return false;
    std::FILE* in = opened ? opened.get() : stdin;
    char buffer[65536];
    // A stop signal interrupts a read from a pipe or terminal that waits for more.
    for (size_t got;
         !stopSignal() && !std::ferror(in) && (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
        text.append(buffer, qsizetype(got));
    return !std::ferror(in);
}

// Checks a csv's header and every cell before anything is written; false with where and
// what is wrong.
bool importTable(const QByteArray& text, ImportTable& table, QByteArray& refusal)
{
    QList<CsvRecord> records;
    if (!parseCsv(text, records, refusal))
        return false;
    const QList<QByteArray> header = records.value(0).cells;
    for (const QByteArray& column : header) {
        const QByteArray name = column.toLower();
        table.members.append(memberNamed(QString::fromUtf8(name)));
        const bool ignored = name == "path" || name == "length" || name == "pictures" ||
                             factColumns().contains(name);
        const bool namedField = !table.members.last() && !ignored && isPropertyName(name);
        table.named.append(namedField ? column.toUpper() : QByteArray());
        if (!table.members.last() && !ignored && !namedField) {
            refusal = "unknown column '" + column + "'";
            return false;
        }
        if (name == "path")
            table.pathColumn = table.members.size() - 1;
    }
    if (table.pathColumn < 0) {
        refusal = "the csv has no 'path' column";
        return false;
    }
    for (const CsvRecord& row : records.mid(1)) {
        if (row.cells == QList<QByteArray>{QByteArray()})
            continue; // a blank line
        if (row.cells.size() != header.size()) {
            refusal = "line " + QByteArray::number(row.line) + " has " +
                      QByteArray::number(row.cells.size()) + " cells, the header " +
                      QByteArray::number(header.size());
            return false;
        }
        for (qsizetype i = 0; i < row.cells.size(); ++i) {
            const QString value = QString::fromUtf8(row.cells[i]);
            if (table.members[i] && !acceptedValue(table.members[i], value)) {
                refusal = "line " + QByteArray::number(row.line) + ", column " +
                          QByteArray::number(i + 1) + ": " + refusalReason(table.members[i], value);
                return false;
            }
        }
        table.rows.append(row);
    }
    return true;
}

class ImportCommand : public FileCommand
{
public:
    using FileCommand::FileCommand;
    int run() override;

private:
    void importNamed(const QByteArray& path, const ImportTable& table, const CsvRecord& row);
};

void ImportCommand::importNamed(const QByteArray& path, const ImportTable& table,
                                const CsvRecord& row)
{
    QList<PropertyAssignment> assignments;
    for (qsizetype i = 0; i < row.cells.size(); ++i) {
        PropertyAssignment assignment;
        if (!table.named[i].isEmpty() &&
            parsePropertyAssignment(table.named[i] + '=' + row.cells[i], assignment))
            assignments.append(assignment);
    }
    if (!assignments.isEmpty() && namedFieldsAvailable())
        setNamedIn(path, assignments);
}

int ImportCommand::run()
{
    if (m_options.arguments.size() > 1)
        return usage("import reads one csv file");
    const QByteArray source = m_options.arguments.value(0, "-");
    QByteArray text;
    if (!readWhole(source, text)) {
        if (!stopSignal())
            fail(source, "unreadable: " + errorText(errno));
        return status();
    }
    ImportTable table;
    QByteArray refusal;
    if (!importTable(text, table, refusal))
        return usage(source + ": " + refusal);
    // Relative paths name files beside the csv, wherever the command is run from.
    const QByteArray folder = source == "-" ? QByteArray() : splitName(source).folder;
    if (!startJournal())
        return status();
    m_progress = std::make_unique<Progress>(progressWanted(m_options.quiet), table.rows.size());
    for (const CsvRecord& row : std::as_const(table.rows)) {
        const QByteArray& named = row.cells[table.pathColumn];
        const QByteArray path = named.startsWith('/') ? named : folder + named;
        changeFile(path, [&](const QByteArray&, audiotag& tag) {
            for (qsizetype i = 0; i < row.cells.size(); ++i) {
                if (table.members[i])
                    tag.*table.members[i] = QString::fromUtf8(row.cells[i]);
            }
            return true;
        });
        importNamed(path, table, row);
        convertFile(path, m_options.id3v2);
        m_progress->step();
    }
    m_progress.reset();
    summarize();
    return status();
}

} // namespace

extern const Command kImportCommand = {
    "import", "nqV",
    "Usage: tagora-cli import [-n] [--id3v2 3|4] [FILE.csv|-]\n"
    "Writes the csv of 'ls --format csv' (standard input when no file or '-' is\n"
    "given) back into the files it names. The path column is required; a missing\n"
    "field column leaves that field alone, an empty cell empties it, and the\n"
    "length column is ignored.\n",
    true, &FileCommand::runAs<ImportCommand>};

} // namespace tagora::cli

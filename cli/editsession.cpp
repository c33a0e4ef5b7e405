#include "editsession.h"

#include "cli/filewalk.h"
#include "cli/listformat.h"

#include <QHash>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace tagora::cli {
namespace {

QByteArray tsvUnescaped(const QByteArray& cell)
{
    QByteArray value;
    value.reserve(cell.size());
    for (qsizetype i = 0; i < cell.size(); ++i) {
        const char next = i + 1 < cell.size() ? cell[i + 1] : '\0';
        const char* escapes = "\\\\t\tn\nr\r";
        const char* found = cell[i] == '\\' && next ? std::strchr(escapes, next) : nullptr;
        if (found && (found - escapes) % 2 == 0) {
            value.append(found[1]);
            ++i;
        } else {
            value.append(cell[i]);
        }
    }
    return value;
}

QList<QByteArray> cellsOf(const QByteArray& line)
{
    QList<QByteArray> cells = line.split('\t');
    for (QByteArray& cell : cells)
        cell = tsvUnescaped(cell);
    return cells;
}

QByteArray lineName(qsizetype index)
{
    return "line " + QByteArray::number(index + 1);
}

// The changed cells of one row that came back whole.
QMap<qsizetype, QString> changedCells(const QList<QByteArray>& cells, const EditRow& row)
{
    QMap<qsizetype, QString> changed;
    for (qsizetype column = 0; column < row.values.size(); ++column) {
        const QString value = QString::fromUtf8(cells[column + 1]);
        if (value != row.values[column])
            changed.insert(column, value);
    }
    return changed;
}

// Ctrl-C and Ctrl-\\ ignored while it lives, as system() does: a Ctrl-C meant for the
// editor must not end this program before it has removed the table.
class InterruptsIgnored
{
public:
    InterruptsIgnored()
    {
        struct sigaction ignore
        {
        };
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGINT, &ignore, &m_interrupt);
        ::sigaction(SIGQUIT, &ignore, &m_quit);
    }
    ~InterruptsIgnored() { restore(); }
    InterruptsIgnored(const InterruptsIgnored&) = delete;
    InterruptsIgnored& operator=(const InterruptsIgnored&) = delete;

    void restore() const
    {
        ::sigaction(SIGINT, &m_interrupt, nullptr);
        ::sigaction(SIGQUIT, &m_quit, nullptr);
    }

private:
    struct sigaction m_interrupt
    {
    };
    struct sigaction m_quit
    {
    };
};

QByteArray editorCommand()
{
    for (const char* name : {"VISUAL", "EDITOR"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return qgetenv(name);
    }
    return "vi";
}

// The editor's wait status, or -1 with errno set when it could not be run.
int editorStatus(const QByteArray& editor, const QByteArray& path)
{
    const InterruptsIgnored ignored;
    const pid_t child = ::fork();
    if (child == 0) {
        ignored.restore();
        const QByteArray command = editor + " \"$1\"";
        ::execl("/bin/sh", "sh", "-c", command.constData(), "sh", path.constData(), nullptr);
        ::_exit(127);
    }
    int status = 0;
    pid_t waited = child;
    while (child > 0 && (waited = ::waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }
    return child < 0 || waited < 0 ? -1 : status;
}

} // namespace

QByteArray editTable(const QList<QByteArray>& fields, const QList<EditRow>& rows)
{
    QByteArray table = "path\t" + fields.join('\t') + '\n';
    for (const EditRow& row : rows) {
        table += tsvEscaped(row.path);
        for (const QString& value : row.values)
            table += '\t' + tsvEscaped(value.toUtf8());
        table += '\n';
    }
    return table;
}

bool readEditedTable(const QByteArray& text, const QList<QByteArray>& fields,
                     const QList<EditRow>& rows, TableEdits& edits, QByteArray& error)
{
    QList<QByteArray> lines = text.split('\n');
    // A carriage return in a value is written \r, so one at a line's end is the editor's.
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (lines.first() != "path\t" + fields.join('\t')) {
        error = "line 1: the header was changed; nothing applied";
        return false;
    }
    QHash<QByteArray, qsizetype> rowOfPath;
    for (qsizetype i = 0; i < rows.size(); ++i)
        rowOfPath.insert(rows[i].path, i);
    QHash<qsizetype, qsizetype> lineOfRow;
    for (qsizetype index = 1; index < lines.size(); ++index) {
        if (lines[index].trimmed().isEmpty())
            continue;
        const QList<QByteArray> cells = cellsOf(lines[index]);
        const qsizetype row = rowOfPath.value(cells.first(), -1);
        if (row < 0) {
            edits.refused.append(lineName(index) + ": '" + cells.first() +
                                 "' is not the path of a file being edited; row refused");
        } else if (lineOfRow.contains(row)) {
            edits.refused.append(lineName(index) + ": the path of " +
                                 lineName(lineOfRow.value(row)) + " again; both refused");
            edits.changed.remove(row);
        } else if (cells.size() != fields.size() + 1) {
            lineOfRow.insert(row, index);
            edits.refused.append(lineName(index) + ": " + QByteArray::number(cells.size()) +
                                 " cells, not " + QByteArray::number(fields.size() + 1) +
                                 "; row refused");
        } else {
            lineOfRow.insert(row, index);
            const QMap<qsizetype, QString> changed = changedCells(cells, rows[row]);
            if (!changed.isEmpty())
                edits.changed.insert(row, changed);
        }
    }
    for (qsizetype row = 0; row < rows.size(); ++row) {
        if (!lineOfRow.contains(row))
            edits.refused.append(lineName(row + 1) + ": the row of '" + rows[row].path +
                                 "' was deleted; that file is left alone");
    }
    return true;
}

TemporaryTable::~TemporaryTable()
{
    if (!m_path.isEmpty())
        ::unlink(m_path.constData());
}

bool TemporaryTable::create(const QByteArray& contents)
{
    const QByteArray folder =
        qEnvironmentVariableIsEmpty("TMPDIR") ? QByteArray("/tmp") : qgetenv("TMPDIR");
    QByteArray name = folder + "/tagora-edit-XXXXXX.tsv";
    const int fd = ::mkstemps(name.data(), int(std::strlen(".tsv")));
    if (fd < 0)
        return false;
    m_path = name;
    const bool written =
        ::write(fd, contents.constData(), size_t(contents.size())) == ssize_t(contents.size());
    const int writeError = errno;
    ::close(fd);
    errno = writeError;
    return written;
}

bool TemporaryTable::read(QByteArray& contents) const
{
    std::FILE* file = std::fopen(m_path.constData(), "rb");
    if (!file)
        return false;
    contents.clear();
    char buffer[65536];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        contents.append(buffer, qsizetype(got));
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

bool runEditor(const QByteArray& path, QByteArray& reason)
{
    const QByteArray editor = editorCommand();
    std::fflush(nullptr);
    const int status = editorStatus(editor, path);
    if (status < 0) {
        reason = "cannot start the editor: " + QByteArray(std::strerror(errno));
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    reason = "the editor '" + editor + "' " +
             (WIFEXITED(status) ? "exited with status " + QByteArray::number(WEXITSTATUS(status))
                                : QByteArray("was ended by a signal"));
    return false;
}

bool editInEditor(const QList<QByteArray>& fields, const QList<EditRow>& rows, TableEdits& edits,
                  QByteArray& reason)
{
    TemporaryTable table;
    QByteArray text;
    if (!table.create(editTable(fields, rows)))
        reason = "cannot write the table to a temporary file: " + errorText(errno);
    else if (runEditor(table.path(), reason) && !table.read(text))
        reason = "cannot read the edited table back: " + errorText(errno);
    return reason.isEmpty() && readEditedTable(text, fields, rows, edits, reason);
}

} // namespace tagora::cli

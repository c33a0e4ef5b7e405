#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

namespace tagora::cli {

// One file's row of the table handed to the editor: its path and the chosen fields' values.
struct EditRow
{
    QByteArray path;
    QList<QString> values;
};

// What came back from the editor: the changed cells by row (the index into the rows
// written) and column (the index into the fields), and one message per refused line.
struct TableEdits
{
    QMap<qsizetype, QMap<qsizetype, QString>> changed;
    QList<QByteArray> refused;
};

// The tsv given to the editor: a header "path<tab>field...", then a row per file, every
// cell escaped as 'ls --format tsv' escapes it, so a value with a tab or line break keeps
// its row.
QByteArray editTable(const QList<QByteArray>& fields, const QList<EditRow>& rows);

// Reads the edited table back against the rows written. Rows are found by their path, so
// their order does not matter. A row whose path is not one written, a path on two rows, a
// row with the wrong count of cells and a written row that is gone are refused, each with
// a message naming its line; the other rows' changed cells are kept. False, with nothing
// kept, when the header is no longer the one written.
bool readEditedTable(const QByteArray& text, const QList<QByteArray>& fields,
                     const QList<EditRow>& rows, TableEdits& edits, QByteArray& error);

// Writes the table of `rows` to a temporary file, lets the user edit it (runEditor) and
// reads it back (readEditedTable); the file is gone afterwards. False with the reason
// when nothing is to be changed.
bool editInEditor(const QList<QByteArray>& fields, const QList<EditRow>& rows, TableEdits& edits,
                  QByteArray& reason);

// A file for the table in $TMPDIR (/tmp when unset), removed when this goes out of scope
// whatever happened in between.
class TemporaryTable
{
public:
    TemporaryTable() = default;
    ~TemporaryTable();
    TemporaryTable(const TemporaryTable&) = delete;
    TemporaryTable& operator=(const TemporaryTable&) = delete;

    // False with errno set when it cannot be made or written.
    bool create(const QByteArray& contents);
    const QByteArray& path() const { return m_path; }
    // False with errno set when it cannot be read.
    bool read(QByteArray& contents) const;

private:
    QByteArray m_path;
};

// Runs $VISUAL, else $EDITOR, else vi, on the file through /bin/sh (so the variable may
// carry options), with the terminal left to it. False with the reason when it could not
// be started or did not exit with status 0.
bool runEditor(const QByteArray& path, QByteArray& reason);

} // namespace tagora::cli

#pragma once

#include "cli/filewalk.h"

#include <QByteArray>
#include <QList>

#include <cstdio>

namespace tagora::cli {

// What one command did to one file: enough to put it back.
struct JournalRecord
{
    qint64 operation = 0;
    int sequence = 0;         // the file's place within its operation, from 1
    qint64 when = 0;          // seconds since the epoch
    QByteArray command;       // "set", "strip", ..., "undo"
    QByteArray path;          // absolute, the file-name bytes after the change
    FileIdentity identity;    // the file's identity after the save
    QByteArray undoes;        // "operation.sequence" of the record an undo put back
    QByteArray previousName;  // the path before a rename
    QList<QByteArray> fields; // the script names of the changed fields...
    QList<QByteArray> values; // ...and their values before the change

    QByteArray key() const;
};

// The append-only journal of every change tagora-cli makes, one record per line in a file
// under $XDG_STATE_HOME/tagora/ (~/.local/state/tagora/ by default). Bytes that would break
// the line (control characters, and "%" itself) are written %XX, so paths that are not
// UTF-8 survive byte for byte. An open journal holds an exclusive lock, so two commands
// running at once never share an operation number.
class Journal
{
public:
    Journal() = default;
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Opens (creating it and its folder when needed) and locks the journal, and takes the
    // next operation number. False with a reason when it cannot.
    bool open(QByteArray& reason);
    qint64 operation() const { return m_operation; }

    // Appends a record of the current operation; `record`'s operation, sequence and time
    // are filled in here. False when the write failed.
    bool append(JournalRecord record);

    // Every record so far, oldest first.
    QList<JournalRecord> records() const;

    static QByteArray path();

private:
    int m_fd = -1;
    qint64 m_operation = 0;
    int m_sequence = 0;
};

// The journal's records without taking its lock, for reading only; empty when there is no
// journal yet.
QList<JournalRecord> readJournal();

QByteArray journalEscaped(const QByteArray& bytes);
QByteArray journalUnescaped(const QByteArray& text);

} // namespace tagora::cli

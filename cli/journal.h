#pragma once

#include "cli/filewalk.h"

#include <QByteArray>
#include <QList>

#include <cstdio>
#include <functional>

namespace tagora::cli {

// What one command did to one file: enough to put it back.
struct JournalRecord
{
    // A record is written before its file is touched and settled after: done once the
    // change is on disk, abandoned when the file was left as it was.
    enum class Stage
    {
        Pending,
        Done,
        Abandoned
    };

    qint64 operation = 0;
    int sequence = 0;      // the file's place within its operation, from 1
    qint64 when = 0;       // seconds since the epoch
    QByteArray command;    // "set", "strip", ..., "undo"
    QByteArray path;       // absolute, the file-name bytes after the change
    FileIdentity identity; // before the save while pending, after it once done
    Stage stage = Stage::Done;
    QByteArray undoes;        // "operation.sequence" of the record an undo put back
    QByteArray previousName;  // the path before a rename
    QList<QByteArray> fields; // the script names of the changed fields...
    QList<QByteArray> values; // ...and their values before the change

    QByteArray key() const;
};

// How much of the past the journal keeps: the last `operations` operations (the one being
// made among them), and no more than `bytes` of them.
struct JournalLimits
{
    qint64 operations = 1000;
    qint64 bytes = qint64(64) << 20;
};

// Receives each record of a journal read in order, and whether an undo put it back.
using JournalVisitor = std::function<void(const JournalRecord& record, bool undone)>;

// The append-only journal of every change tagora-cli makes, one line per record in a file
// under $XDG_STATE_HOME/tagora/ (~/.local/state/tagora/ by default). Bytes that would break
// the line (control characters, and "%" itself) are written %XX, so paths that are not
// UTF-8 survive byte for byte. An open journal holds an exclusive lock, so two commands
// running at once never share an operation number.
//
// Write-ahead: a file's record, with its values as they were, reaches the disk before the
// file is saved, and a second line settles it afterwards. A record left pending by a run
// that died is settled by the next one against the file itself (FileCommand::settleLeftovers()).
// Only whole lines count: a last line cut short by a crash or a full disk is ignored.
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

    // Writes `record` ahead of its change and flushes it to disk; its operation, sequence
    // and time are filled in here. False with errno set when it could not be written, and
    // then nothing more may be changed.
    bool writeAhead(JournalRecord& record);
    // From now on writeAhead() leaves the flush to flush(), which a batch of saves calls once
    // before it touches any of its files.
    void deferFlushes() { m_deferFlushes = true; }
    // Puts the records written ahead so far on disk; false with errno set when it could not.
    bool flush();
    // Bytes written ahead since the last flush.
    qint64 unflushedBytes() const { return m_unflushed; }
    // Settles a record written ahead: its change is done and the file is now `after`, or
    // the file was left as it was.
    bool markDone(const JournalRecord& record, const FileIdentity& after);
    bool markAbandoned(const JournalRecord& record);

    // Every record so far, oldest first, with its latest settling applied, one at a time
    // (see streamJournal()). False with a reason when the journal cannot be read.
    bool stream(const JournalVisitor& visit, QByteArray& reason) const;
    // The records of the journal's last 256 KiB: where a run that died left its pending
    // records, as little is written after them until the next run settles them.
    QList<JournalRecord> recentRecords() const;

    // Drops the oldest whole operations beyond `limits`. False with a reason when the
    // shortened journal could not take the journal's place (the journal is then as it was).
    bool trim(const JournalLimits& limits, QByteArray& reason);

    static QByteArray path();

private:
    bool appendLine(const QByteArray& line);
    bool replaceWithTail(off_t from);

    int m_lockFd = -1;
    int m_fd = -1;
    qint64 m_operation = 0;
    int m_sequence = 0;
    bool m_deferFlushes = false;
    qint64 m_unflushed = 0;
};

// The journal's records without taking its lock, for reading only, one at a time: memory
// holds a block of the file and the keys of the records, never the records themselves.
// Nothing when there is no journal yet; false with a reason when it exists but cannot be read.
bool streamJournal(const JournalVisitor& visit, QByteArray& reason);

QByteArray journalEscaped(const QByteArray& bytes);
QByteArray journalUnescaped(const QByteArray& text);

} // namespace tagora::cli

#pragma once

#include "cli/journal.h"

#include <QList>

#include <utility>

namespace tagora::cli {

// Saves made durable in groups. The tag library holds each file's written and verified copy;
// when the group is full, or the run ends, the journal's records of the group reach the disk
// with one flush, then the copies together, then the renames, and each folder is flushed
// once: a handful of flushes for the group where each save alone needs three. The records
// are still written ahead of their files; only their flush is shared. A file the library does
// not hold (a large one, or one with other hard links) is saved at once, after that flush.
class GroupCommit
{
public:
    // Opens a batch in the tag library for `journal`, which from now on defers its flushes;
    // active() is false when the library has no batches.
    explicit GroupCommit(Journal& journal);
    // A batch still open is committed, its records left pending for the next run to settle.
    ~GroupCommit();
    GroupCommit(const GroupCommit&) = delete;
    GroupCommit& operator=(const GroupCommit&) = delete;

    bool active() const { return m_active; }
    // After a save that reported success: true when the library holds it for the commit, and
    // then the record is kept until commit().
    bool held(const JournalRecord& entry);
    // True when the group should be committed before the next file.
    bool full() const;
    // Commits the group: each held record with whether its file now holds the new tag. A new
    // group is opened for the files still to come.
    QList<std::pair<JournalRecord, bool>> commit();

private:
    bool open();

    Journal& m_journal;
    bool m_active = false;
    QList<JournalRecord> m_held;
};

} // namespace tagora::cli

#include "groupcommit.h"

#include "tags/taglibrary.h"

#include <vector>

namespace tagora::cli {
namespace {

// A journal's last 256 KiB are what the next run reads back to settle a group a kill cut
// short, so a group's records, and the settling lines written after them, stay well inside
// them. A group holds a descriptor for each file saved through a copy (those above 1 MiB
// whose tag changes size): 512 stays below the usual limit of 1024 open files.
constexpr qsizetype kLargestGroup = 512;
constexpr qint64 kLargestUnflushedRecords = 128 * 1024;

struct BatchEntryPoints
{
    decltype(&::taglib_batch_begin) begin;
    decltype(&::taglib_batch_held) held;
    decltype(&::taglib_batch_commit) commit;
};

// Looked up untyped, as the window never calls them.
BatchEntryPoints entryPoints()
{
    const TagLibraryEntryPoints& lib = tagLibrary();
    return {reinterpret_cast<decltype(&::taglib_batch_begin)>(lib.taglib_batch_begin),
            reinterpret_cast<decltype(&::taglib_batch_held)>(lib.taglib_batch_held),
            reinterpret_cast<decltype(&::taglib_batch_commit)>(lib.taglib_batch_commit)};
}

int flushJournal(void* journal)
{
    return static_cast<Journal*>(journal)->flush() ? 1 : 0;
}

} // namespace

GroupCommit::GroupCommit(Journal& journal) : m_journal(journal)
{
    const BatchEntryPoints batch = entryPoints();
    if (batch.begin && batch.held && batch.commit && open())
        m_journal.deferFlushes();
}

GroupCommit::~GroupCommit()
{
    if (m_active)
        entryPoints().commit(nullptr, 0);
}

bool GroupCommit::open()
{
    m_active = entryPoints().begin(flushJournal, &m_journal) != 0;
    return m_active;
}

bool GroupCommit::held(const JournalRecord& entry)
{
    if (!m_active || entryPoints().held() <= int(m_held.size()))
        return false;
    m_held.append(entry);
    return true;
}

bool GroupCommit::full() const
{
    return m_held.size() >= kLargestGroup || m_journal.unflushedBytes() >= kLargestUnflushedRecords;
}

QList<std::pair<JournalRecord, bool>> GroupCommit::commit()
{
    QList<std::pair<JournalRecord, bool>> results;
    if (!m_active)
        return results;
    std::vector<int> placed(size_t(m_held.size()), 0);
    entryPoints().commit(placed.data(), int(placed.size()));
    for (qsizetype i = 0; i < m_held.size(); ++i)
        results.append({m_held[i], placed[size_t(i)] != 0});
    m_held.clear();
    open();
    return results;
}

} // namespace tagora::cli

#include "cli/commands.h"
#include "cli/filecommand.h"
#include "cli/listformat.h"
#include "cli/namedfields.h"
#include "cli/namepattern.h"
#include "cli/picturecommand.h"

#include <QSet>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace tagora::cli {
namespace {

// A change an undo can put back: done, not put back yet, and not itself an undo (undo
// twice goes two operations back).
bool undoable(const JournalRecord& entry, bool undone)
{
    return entry.command != "undo" && entry.stage == JournalRecord::Stage::Done && !undone;
}

// True when the record is about the file or folder at the absolute `path`.
bool concerns(const JournalRecord& entry, const QByteArray& path)
{
    const QByteArray folder = path == "/" ? path : QByteArray(path + '/');
    return entry.path == path || entry.path.startsWith(folder) || entry.previousName == path;
}

QByteArray historyLine(const JournalRecord& entry, bool undone)
{
    // strftime: QDateTime's zone lookup cost most of the time of a long history.
    const std::time_t seconds = std::time_t(entry.when);
    std::tm local{};
    char when[32] = {};
    ::localtime_r(&seconds, &local);
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    QList<QByteArray> before;
    if (!entry.previousName.isEmpty())
        before.append("name was " + terminalSafe(entry.previousName));
    for (qsizetype i = 0; i < entry.fields.size(); ++i)
        before.append(entry.fields[i] + " was \"" +
                      terminalSafe(shownValues(valuesFromJournal(entry.values[i])).toUtf8()) + '"');
    const QByteArray state = entry.stage == JournalRecord::Stage::Pending ? " (interrupted)"
                             : undone                                     ? " (undone)"
                                                                          : "";
    return QByteArray::number(entry.operation) + '\t' + QByteArray(when) + '\t' + entry.command +
           '\t' + terminalSafe(entry.path) + '\t' + before.join("; ") + state + '\n';
}

class HistoryCommand : public FileCommand
{
public:
    using FileCommand::FileCommand;
    int run() override;
};

class UndoCommand : public FileCommand
{
public:
    using FileCommand::FileCommand;
    int run() override;

private:
    bool undoPlan(qint64 count, QList<JournalRecord>& pending, QByteArray& reason);
    void undoRecord(const JournalRecord& record);
    void settleGone(const JournalRecord& record);
    void undoPictures(const JournalRecord& record);
};

int HistoryCommand::run()
{
    QList<QByteArray> named;
    for (const QByteArray& path : m_options.arguments)
        named.append(absolutePath(path));
    QByteArray reason;
    const bool read = streamJournal(
        [&](const JournalRecord& entry, bool undone) {
            const bool wanted = named.isEmpty() || std::any_of(named.begin(), named.end(),
                                                               [&](const QByteArray& path) {
                                                                   return concerns(entry, path);
                                                               });
            if (wanted && entry.stage != JournalRecord::Stage::Abandoned)
                writeBytes(stdout, historyLine(entry, undone));
        },
        reason);
    if (!read)
        fail(Journal::path(), reason);
    return status();
}

int UndoCommand::run()
{
    qint64 count = 1;
    if (m_options.arguments.size() > 1 || (m_options.all && !m_options.arguments.isEmpty()))
        return usage("undo takes one count, or --all");
    if (!m_options.arguments.isEmpty()) {
        bool ok = false;
        count = m_options.arguments.first().toLongLong(&ok);
        if (!ok || count < 1)
            return usage("'" + m_options.arguments.first() + "' is not a count of operations");
    }
    if (!startJournal())
        return status();
    QList<JournalRecord> pending;
    QByteArray reason;
    if (!undoPlan(m_options.all ? -1 : count, pending, reason)) {
        fail(Journal::path(), reason);
        return status();
    }
    if (pending.isEmpty() && !m_options.quiet)
        writeBytes(stderr, "tagora-cli: nothing to undo\n");
    m_progress = std::make_unique<Progress>(progressWanted(m_options.quiet), pending.size());
    for (const JournalRecord& entry : pending) {
        if (stopped())
            break;
        undoRecord(entry);
        m_progress->step();
    }
    m_progress.reset();
    summarize();
    return status();
}

// The records of the last `count` operations (all when negative) with changes to put back,
// newest first, and in m_journalled the identity each of their files had after its latest
// journalled change. Two passes over the journal that hold no other record.
bool UndoCommand::undoPlan(qint64 count, QList<JournalRecord>& pending, QByteArray& reason)
{
    QList<JournalRecord> settled;
    const auto stream = [&](const std::function<void(const JournalRecord&, bool)>& visit) {
        const JournalVisitor settling = [&](const JournalRecord& entry, bool undone) {
            if (entry.stage != JournalRecord::Stage::Pending)
                return visit(entry, undone);
            // Left pending beyond what startJournal() settles, or in a dry run.
            settled = {entry};
            settleLeftovers(settled, false);
            visit(settled.first(), undone);
        };
        return m_options.dryRun ? streamJournal(settling, reason)
                                : m_journal.stream(settling, reason);
    };
    QList<qint64> operations;
    const bool listed = stream([&](const JournalRecord& entry, bool undone) {
        // Operation numbers only grow along the journal.
        if (undoable(entry, undone) &&
            (operations.isEmpty() || operations.last() != entry.operation))
            operations.append(entry.operation);
    });
    const qsizetype first = count < 0 ? 0 : std::max<qsizetype>(0, operations.size() - count);
    const QSet<qint64> chosen(operations.begin() + first, operations.end());
    QSet<QByteArray> paths;
    return listed && stream([&](const JournalRecord& entry, bool undone) {
               if (chosen.contains(entry.operation) && undoable(entry, undone)) {
                   pending.prepend(entry);
                   paths.insert(entry.path);
               }
               if (entry.stage == JournalRecord::Stage::Done && paths.contains(entry.path))
                   m_journalled.insert(entry.path, entry.identity);
           });
}

void UndoCommand::undoRecord(const JournalRecord& entry)
{
    FileIdentity now;
    if (!identityOf(entry.path, now)) {
        if (errno == ENOENT)
            return settleGone(entry);
        fail(entry.path, "unreadable: " + errorText(errno) + "; not undone");
        return;
    }
    // Compared with the latest journalled change, not this record's own: undoing two
    // operations on one file puts the later one back first.
    if (now != m_journalled.value(entry.path, entry.identity) && !m_options.force) {
        fail(entry.path, "changed since operation " + QByteArray::number(entry.operation) +
                             "; left alone (--force undoes it anyway)");
        return;
    }
    if (entry.command == "picture") {
        undoPictures(entry);
        return;
    }
    if (!entry.previousName.isEmpty()) {
        renameFile({entry.path, entry.previousName}, entry.key());
        return;
    }
    if (entry.fields == QList<QByteArray>{"id3v2"}) {
        convertFile(entry.path, entry.values.first().toInt(), entry.key());
        return;
    }
    if (!entry.fields.isEmpty() && !memberNamed(QString::fromUtf8(entry.fields.first()))) {
        QList<PropertyAssignment> putBack;
        for (qsizetype i = 0; i < entry.fields.size(); ++i)
            putBack.append({entry.fields[i], PropertyAssignment::Kind::Replace,
                            valuesFromJournal(entry.values[i])});
        setNamedIn(entry.path, putBack, entry.key());
        return;
    }
    changeFile(
        entry.path,
        [&](const QByteArray&, audiotag& tag) {
            for (qsizetype i = 0; i < entry.fields.size(); ++i) {
                if (QString audiotag::*member = memberNamed(QString::fromUtf8(entry.fields[i])))
                    tag.*member = QString::fromUtf8(entry.values[i]);
            }
            return true;
        },
        entry.key());
}

// A file gone since its operation cannot be put back; it is named, and its record settled
// so the next undo goes on to older operations instead of stopping at it again.
void UndoCommand::settleGone(const JournalRecord& record)
{
    fail(record.path, "gone since operation " + QByteArray::number(record.operation) + "; skipped");
    if (m_options.dryRun)
        return;
    JournalRecord entry;
    entry.command = m_options.command;
    entry.path = record.path;
    entry.undoes = record.key();
    if (writeAhead(entry, record.path))
        settle(entry, true);
}

void UndoCommand::undoPictures(const JournalRecord& entry)
{
    QByteArray reason;
    if (m_options.dryRun) {
        if (!undoPictureRecord(entry, true, reason)) {
            fail(entry.path, reason + "; not undone");
            return;
        }
        ++m_changed;
        print(terminalSafe(entry.path) + ": pictures put back\n");
        return;
    }
    JournalRecord undoing;
    undoing.command = m_options.command;
    undoing.path = entry.path;
    undoing.undoes = entry.key();
    identityOf(entry.path, undoing.identity);
    if (!writeAhead(undoing, entry.path))
        return;
    const bool done = undoPictureRecord(entry, false, reason);
    if (!done)
        fail(entry.path, reason + "; not undone");
    settle(undoing, done);
}

} // namespace

extern const Command kHistoryCommand = {
    "history", "q",
    "Usage: tagora-cli history [PATH...]\n"
    "Lists the changes tagora-cli made, newest last, optionally only those to the\n"
    "given files or folders. The journal is $XDG_STATE_HOME/tagora/journal\n"
    "(~/.local/state/tagora/journal).\n",
    false, &FileCommand::runAs<HistoryCommand>};

extern const Command kUndoCommand = {
    "undo", "nqfa",
    "Usage: tagora-cli undo [-n] [--force] [N | --all]\n"
    "Puts back the previous values of the last N operations (1 by default) not\n"
    "undone yet, newest first. A file changed since the operation is refused and\n"
    "left alone unless --force is given. Undoing a strip brings back the ten\n"
    "fields; undoing a rename gives the old name back.\n",
    false, &FileCommand::runAs<UndoCommand>};

} // namespace tagora::cli

#include "filecommand.h"

#include "cli/fieldcheck.h"
#include "cli/listformat.h"
#include "cli/namepattern.h"
#include "cli/picturefile.h"
#include "cli/signals.h"
#include "services/errors.h"
#include "services/nativepath.h"
#include "services/registry.h"
#include "tags/tagfields.h"
#include "tags/tagoperations.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tagora::cli {
namespace {

// What became of a record left pending by a run that died, judged from the file: a rename
// is done when the file stands under its new name, a change of fields when the file is no
// longer the one the record was written ahead of.
bool leftoverWasDone(const JournalRecord& entry, FileIdentity& now)
{
    if (!identityOf(entry.path, now))
        return false;
    if (!entry.previousName.isEmpty())
        return now.device == entry.identity.device && now.inode == entry.identity.inode;
    return now != entry.identity;
}

// The reason a save failed, naming the system's cause when it gave one.
QByteArray saveFailure(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EROFS:
    case EACCES:
    case EPERM:
    case EFBIG:
    case EIO:
        return "save failed: " + errorText(error);
    default:
        return "save failed";
    }
}

// How much the journal keeps: the group [Journal] of the settings file (Tagora.ini), values
// KeepOperations and KeepMegabytes; what is missing or not a positive number keeps its
// default.
JournalLimits journalLimits()
{
    JournalLimits limits;
    const std::unique_ptr<RegistryKey> key =
        registry().openKey(QStringLiteral("Software\\Corvane\\Tagora\\Journal"), false);
    const auto positive = [&](const QString& name, qint64 fallback) -> qint64 {
        try {
            const int value = key && key->valueExists(name) ? key->readInteger(name) : 0;
            return value > 0 ? value : fallback;
        } catch (const Error&) {
            return fallback;
        }
    };
    limits.operations = positive(QStringLiteral("KeepOperations"), limits.operations);
    limits.bytes = positive(QStringLiteral("KeepMegabytes"), limits.bytes >> 20) << 20;
    return limits;
}

// The fields --where takes: those of the tag, the playing time and the number of pictures.
bool whereField(const QString& field)
{
    return field == QLatin1String("length") || field == QLatin1String("pictures") ||
           memberNamed(field);
}

} // namespace

QList<FieldChange> differences(const audiotag& before, const audiotag& after)
{
    QList<FieldChange> changes;
    for (const TagField& field : TagFields) {
        if (!sameStoredValue(field.member, before.*field.member, after.*field.member))
            changes.append({field.member, before.*field.member, after.*field.member});
    }
    return changes;
}

void writeBytes(std::FILE* stream, const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

QString whereValue(const QByteArray& path, const audiotag& tag, const QString& field)
{
    if (field == QLatin1String("length"))
        return QString::number(tag.Length);
    if (field == QLatin1String("pictures"))
        return QString::number(PictureFile(path).pictures().size());
    QString audiotag::*member = memberNamed(field);
    return member ? shownText(tag, member) : QString();
}

int FileCommand::start()
{
    for (const QByteArray& expression : m_options.where) {
        QByteArray error;
        if (!m_where.add(expression, whereField, error))
            return usage(error);
    }
    return run();
}

int FileCommand::usage(const QByteArray& message)
{
    writeBytes(stderr, "tagora-cli: " + terminalSafe(message) + "\nTry 'tagora-cli " +
                           m_options.command + (m_options.command.isEmpty() ? "" : " ") +
                           "--help'.\n");
    return kExitUsage;
}

int FileCommand::status() const
{
    if (const int signal = stopSignal())
        return 128 + signal;
    return m_failed ? kExitSomeFailed : kExitSuccess;
}

// No file is touched once the journal cannot take its record, a stop signal came, or the
// results can no longer be written.
bool FileCommand::stopped() const
{
    return m_journalBroken || stopSignal() != 0 || std::ferror(stdout);
}

void FileCommand::fail(const QByteArray& path, const QByteArray& reason)
{
    if (m_progress)
        m_progress->clear();
    writeBytes(stderr, "tagora-cli: " + terminalSafe(path) + ": " + terminalSafe(reason) + '\n');
    m_failed = true;
    ++m_failures;
}

// Results go to stdout; on a terminal the progress line is taken off first, so a result
// never lands behind it.
void FileCommand::print(const QByteArray& text)
{
    if (m_progress)
        m_progress->clear();
    writeBytes(stdout, text);
}

bool FileCommand::startJournal()
{
    if (m_options.dryRun)
        return true;
    QByteArray reason;
    if (!m_journal.open(reason)) {
        fail(Journal::path(), reason + "; nothing was changed");
        return false;
    }
    QList<JournalRecord> recent = m_journal.recentRecords();
    settleLeftovers(recent, true);
    if (!m_journalBroken && !m_journal.trim(journalLimits(), reason)) {
        fail(Journal::path(), reason + "; nothing was changed");
        return false;
    }
    return !m_journalBroken;
}

// Records a run that died left pending are settled from their files, so an interrupted
// change is undone like any other and one that never happened is not undone at all.
void FileCommand::settleLeftovers(QList<JournalRecord>& records, bool write)
{
    for (JournalRecord& entry : records) {
        if (entry.stage != JournalRecord::Stage::Pending)
            continue;
        FileIdentity now;
        const bool done = leftoverWasDone(entry, now);
        entry.stage = done ? JournalRecord::Stage::Done : JournalRecord::Stage::Abandoned;
        if (done)
            entry.identity = now;
        if (!write)
            continue;
        if (!(done ? m_journal.markDone(entry, now) : m_journal.markAbandoned(entry))) {
            journalFailed(errno, {});
            return;
        }
    }
}

void FileCommand::summarize()
{
    if (m_options.dryRun || m_options.quiet || !::isatty(STDOUT_FILENO))
        return;
    QByteArray line = QByteArray::number(m_changed) + " changed, " +
                      QByteArray::number(m_unchanged) + " unchanged";
    if (m_changed > 0 && m_options.command != "undo")
        line += "; operation " + QByteArray::number(m_journal.operation()) +
                " ('tagora-cli undo' puts it back)";
    writeBytes(stdout, line + '\n');
}

QList<QByteArray> FileCommand::collectFiles(const QList<QByteArray>& paths)
{
    QList<QByteArray> files;
    const WalkVisitor collector{
        [&](const QByteArray& file) { files.append(file); },
        [&](const QByteArray& path, const QByteArray& reason) { fail(path, reason); }};
    for (const QByteArray& path : paths)
        walkAudioFiles(path, m_options.recursive, collector);
    return files;
}

void FileCommand::forEachFile(const QList<QByteArray>& paths,
                              const std::function<void(const QByteArray&)>& visit)
{
    const bool wanted = progressWanted(m_options.quiet);
    const qint64 total = wanted ? countAudioFiles(paths, m_options.recursive) : 0;
    m_progress = std::make_unique<Progress>(wanted, total);
    const WalkVisitor visitor{
        [&](const QByteArray& file) {
            if (stopped())
                return;
            m_chosenFile.clear();
            visit(file);
            m_progress->step();
        },
        [&](const QByteArray& path, const QByteArray& reason) { fail(path, reason); }};
    for (const QByteArray& path : paths)
        walkAudioFiles(path, m_options.recursive, visitor);
    m_progress.reset();
}

void FileCommand::forEachListed(const QList<QByteArray>& files,
                                const std::function<void(const QByteArray&)>& visit)
{
    m_progress = std::make_unique<Progress>(progressWanted(m_options.quiet), files.size());
    for (const QByteArray& file : files) {
        if (stopped())
            break;
        m_chosenFile.clear();
        visit(file);
        m_progress->step();
    }
    m_progress.reset();
}

// False, silently, for a file --where leaves out: it is read once and never written.
bool FileCommand::load(const QByteArray& path, FileIdentity& identity, audiotag& tag,
                       bool chosenOnly)
{
    if (!readable(path, identity))
        return false;
    if (!ReadTagAsStored(pathFromNative(path), tag)) {
        fail(path, "not an audio file of a known type");
        return false;
    }
    return chosen(path, tag, chosenOnly);
}

bool FileCommand::load(const QByteArray& path, const PictureFile& file, audiotag& tag)
{
    FileIdentity identity;
    if (!readable(path, identity))
        return false;
    if (!ReadTagOf(file.handle(), tag)) {
        fail(path, "not an audio file of a known type");
        return false;
    }
    return chosen(path, tag, true);
}

bool FileCommand::readable(const QByteArray& path, FileIdentity& identity)
{
    if (identityOf(path, identity) && ::access(path.constData(), R_OK) == 0)
        return true;
    fail(path, "unreadable: " + errorText(errno));
    return false;
}

bool FileCommand::chosen(const QByteArray& path, const audiotag& tag, bool chosenOnly)
{
    if (!chosenOnly || path == m_chosenFile)
        return true;
    if (!m_where.matches([&](const QString& field) { return whereValue(path, tag, field); }))
        return false;
    m_chosenFile = path;
    return true;
}

bool saveTags(const QByteArray& path, const TagSave& save)
{
    const QString name = pathFromNative(path);
    if (save.strip)
        return RemoveTag(name);
    if (save.fields && save.file)
        return WriteTagOf(save.file->handle(), *save.fields) == WriteTagResult::Saved;
    if (save.fields)
        return WriteTag(name, *save.fields) == WriteTagResult::Saved;
    return save.file->save();
}

// Written only over the file the change was read from: one replaced or written in the
// meantime is named and left alone.
bool FileCommand::save(const QByteArray& path, const FileIdentity& before, const TagSave& what)
{
    if (::access(path.constData(), W_OK) != 0) {
        const int error = errno;
        fail(path, (error == EACCES || error == EPERM ? "read-only: " : "not writable: ") +
                       errorText(error));
        return false;
    }
    FileIdentity now;
    if (!identityOf(path, now) || now != before) {
        fail(path, "changed while saving");
        return false;
    }
    errno = 0;
    if (saveTags(path, what))
        return true;
    const int error = errno;
    const bool readInFull = !what.fields || TagReadInFull(pathFromNative(path));
    fail(path, readInFull ? saveFailure(error)
                          : QByteArray("tag could not be read in full; not written"));
    return false;
}

JournalRecord FileCommand::recordOf(const QByteArray& path, const FileIdentity& before,
                                    const QList<FieldChange>& changes) const
{
    JournalRecord entry;
    entry.command = m_options.command;
    entry.path = absolutePath(path);
    entry.identity = before;
    for (const FieldChange& change : changes) {
        entry.fields.append(scriptName(change.member));
        entry.values.append(change.before.toUtf8());
    }
    return entry;
}

// The record reaches the disk before the file is touched; when it cannot, nothing more is.
bool FileCommand::writeAhead(JournalRecord& entry, const QByteArray& path)
{
    if (m_journal.writeAhead(entry))
        return true;
    journalFailed(errno, path);
    return false;
}

void FileCommand::journalFailed(int error, const QByteArray& path)
{
    QByteArray reason = "cannot be written: " + errorText(error) + "; stopped";
    if (!path.isEmpty())
        reason += " before " + path + ", which is unchanged";
    fail(Journal::path(), reason);
    m_journalBroken = true;
}

void FileCommand::settle(const JournalRecord& entry, bool done)
{
    if (done && m_group && m_group->held(entry)) {
        if (m_group->full())
            commitGroup();
        return;
    }
    FileIdentity after;
    if (done) {
        ++m_changed;
        identityOf(entry.path, after);
        m_journalled.insert(entry.path, after);
    }
    if (!(done ? m_journal.markDone(entry, after) : m_journal.markAbandoned(entry)))
        journalFailed(errno, {});
}

void FileCommand::commitGroup()
{
    for (const auto& [entry, placed] : m_group->commit()) {
        if (!placed)
            fail(entry.path, "save failed");
        settle(entry, placed);
    }
}

void FileCommand::printChanges(const QByteArray& path, const QList<FieldChange>& changes)
{
    ++m_changed;
    for (const FieldChange& change : changes) {
        print(terminalSafe(path) + ": " + scriptName(change.member) + ": " +
              terminalSafe(change.before.toUtf8()) + " → " + terminalSafe(change.after.toUtf8()) +
              '\n');
    }
}

void FileCommand::changeFile(const QByteArray& path, const TagEdit& edit, const QByteArray& undoes)
{
    if (stopped())
        return;
    // One parse of the file serves the read, the edit and the save.
    PictureFile file(path);
    audiotag original;
    if (!load(path, file, original))
        return;
    const FileIdentity before = file.opened();
    audiotag edited = original;
    if (!edit(path, edited))
        return;
    const QList<FieldChange> changes = differences(original, edited);
    const bool settlesUndo = changes.isEmpty() && !undoes.isEmpty();
    if (changes.isEmpty() && !settlesUndo) {
        ++m_unchanged;
        return;
    }
    if (m_options.dryRun) {
        printChanges(path, changes);
        return;
    }
    JournalRecord entry = recordOf(path, before, changes);
    entry.undoes = undoes;
    if (!writeAhead(entry, path))
        return;
    // Already as it was: the record that settles the undo is all there is to write.
    settle(entry, settlesUndo || save(path, before, TagSave::tenFieldsInto(edited, file)));
}

void FileCommand::changeFiles(const QList<QByteArray>& paths, const TagEdit& edit,
                              const std::function<void(const QByteArray&)>& alsoChange)
{
    forEachFile(paths, [&](const QByteArray& path) {
        changeFile(path, edit);
        convertFile(path, m_options.id3v2);
        if (alsoChange)
            alsoChange(path);
    });
    summarize();
}

void FileCommand::setNamedIn(const QByteArray& path, const QList<PropertyAssignment>& assignments,
                             const QByteArray& undoes)
{
    if (stopped())
        return;
    PictureFile file(path);
    audiotag tag;
    if (!load(path, file, tag))
        return;
    const FileIdentity before = file.opened();
    JournalRecord entry;
    QList<QStringList> after;
    // Each change goes into memory at once, so a second assignment to a name sees the
    // first; nothing reaches the disk unless every one was taken.
    for (const PropertyAssignment& assignment : assignments) {
        const QStringList stored = propertyValues(file.handle(), assignment.name);
        const QStringList wanted = assignment.applied(stored);
        if (wanted == stored)
            continue;
        if (!setPropertyValues(file.handle(), assignment.name, wanted)) {
            fail(path, assignment.name + " is not a field this type of file can hold; left alone");
            return;
        }
        const qsizetype known = entry.fields.indexOf(assignment.name);
        if (known >= 0) {
            after[known] = wanted;
            continue;
        }
        entry.fields.append(assignment.name);
        entry.values.append(journalValues(stored));
        after.append(wanted);
    }
    if (entry.fields.isEmpty() && undoes.isEmpty()) {
        ++m_unchanged;
        return;
    }
    if (m_options.dryRun) {
        ++m_changed;
        for (qsizetype i = 0; i < entry.fields.size(); ++i) {
            const QString was = shownValues(valuesFromJournal(entry.values[i]));
            print(terminalSafe(path) + ": " + entry.fields[i] + ": " + terminalSafe(was.toUtf8()) +
                  " → " + terminalSafe(shownValues(after[i]).toUtf8()) + '\n');
        }
        return;
    }
    entry.command = m_options.command;
    entry.path = absolutePath(path);
    entry.identity = before;
    entry.undoes = undoes;
    if (writeAhead(entry, path))
        settle(entry, entry.fields.isEmpty() || save(path, before, TagSave::openFile(file)));
}

// The file's ID3v2 tag written in `version` (nothing for 0, or a file without ID3v2), as a
// journalled change of its own. Frames the version cannot hold stop it unless --force.
void FileCommand::convertFile(const QByteArray& path, int version, const QByteArray& undoes)
{
    if (version == 0 || stopped() || !namedFieldsAvailable())
        return;
    PictureFile file(path);
    audiotag tag;
    if (!load(path, file, tag))
        return;
    const FileIdentity before = file.opened();
    const int stored = id3v2Version(file.handle());
    if (stored == 0 || stored == version) {
        m_unchanged += m_options.command == "convert" ? 1 : 0;
        return;
    }
    const QByteArray lost = id3v2LostFrames(file.handle(), version);
    const QByteArray target = "ID3v2." + QByteArray::number(version);
    if (!lost.isEmpty() && !m_options.force) {
        fail(path, target + " cannot hold " + lost + "; left alone (--force drops them)");
        return;
    }
    if (m_options.dryRun) {
        ++m_changed;
        print(terminalSafe(path) + ": ID3v2." + QByteArray::number(stored) + " → " + target +
              (lost.isEmpty() ? QByteArray() : QByteArray(", dropping " + lost)) + '\n');
        return;
    }
    JournalRecord entry;
    entry.command = m_options.command;
    entry.path = absolutePath(path);
    entry.identity = before;
    entry.undoes = undoes;
    entry.fields = {"id3v2"};
    entry.values = {QByteArray::number(stored)};
    if (!setId3v2Version(file.handle(), version)) {
        fail(path, target + " cannot be written; left alone");
        return;
    }
    if (writeAhead(entry, path))
        settle(entry, save(path, before, TagSave::openFile(file)));
}

void FileCommand::renameFile(const PlannedRename& plan, const QByteArray& undoes)
{
    if (m_options.dryRun) {
        ++m_changed;
        print(terminalSafe(plan.from) + " → " + terminalSafe(plan.to) + '\n');
        return;
    }
    FileIdentity identity;
    if (!identityOf(plan.from, identity)) {
        fail(plan.from, "unreadable: " + errorText(errno));
        return;
    }
    JournalRecord entry;
    entry.command = m_options.command;
    entry.path = absolutePath(plan.to);
    entry.previousName = absolutePath(plan.from);
    entry.identity = identity;
    entry.undoes = undoes;
    if (writeAhead(entry, plan.from))
        settle(entry, moveFile(plan.from, plan.to));
}

// Renames without ever replacing a file. File systems without RENAME_NOREPLACE get a hard
// link and an unlink, which fail the same way when the target exists.
bool FileCommand::moveFile(const QByteArray& from, const QByteArray& to)
{
    int result =
        ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        result = ::link(from.constData(), to.constData());
        if (result == 0)
            result = ::unlink(from.constData());
    }
    if (result == 0)
        return true;
    fail(from, errno == EEXIST ? QByteArray(to + " exists; left alone")
                               : QByteArray("cannot rename to " + to + ": " + errorText(errno)));
    return false;
}

// A row's named fields go in after its ten fields, as a change of their own that undo puts

} // namespace tagora::cli

#include "commands.h"

#include "cli/editsession.h"
#include "cli/fieldcheck.h"
#include "cli/filewalk.h"
#include "cli/groupcommit.h"
#include "cli/journal.h"
#include "cli/listformat.h"
#include "cli/namedfields.h"
#include "cli/namepattern.h"
#include "cli/options.h"
#include "cli/picturecommand.h"
#include "cli/progress.h"
#include "cli/signals.h"
#include "cli/valuerules.h"
#include "cli/whereexpr.h"
#include "services/errors.h"
#include "services/nativepath.h"
#include "services/registry.h"
#include "tags/tagfields.h"
#include "tags/tagoperations.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tagora::cli {
namespace {

constexpr int kDefaultTableWidth = 120;
constexpr qsizetype kLongestName = 255; // bytes of one name in a folder (NAME_MAX)

struct FieldChange
{
    QString audiotag::*member;
    QString before;
    QString after;
};

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

int terminalWidth()
{
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    const int columns = qEnvironmentVariableIntValue("COLUMNS");
    return columns > 0 ? columns : kDefaultTableWidth;
}

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

// A csv read whole and checked before any file is written.
struct ImportTable
{
    QList<QString audiotag::*> members; // per column; null for path and length
    QList<QByteArray> named;            // per column, a named field's name; empty for others
    qsizetype pathColumn = -1;
    QList<CsvRecord> rows;
};

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

// "word=..." with a word that could be a field's name.
bool looksLikeAssignment(const QByteArray& arg)
{
    const qsizetype equals = arg.indexOf('=');
    return equals > 0 && std::all_of(arg.begin(), arg.begin() + equals, [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
           });
}

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

// The fields --where takes: those of the tag, the playing time and the number of pictures.
bool whereField(const QString& field)
{
    return field == QLatin1String("length") || field == QLatin1String("pictures") ||
           memberNamed(field);
}

// A field's value for --where, by its lower-case name; the pictures are counted only when an
// expression asks for them, as that opens the file once more.
QString whereValue(const QByteArray& path, const audiotag& tag, const QString& field)
{
    if (field == QLatin1String("length"))
        return QString::number(tag.Length);
    if (field == QLatin1String("pictures"))
        return QString::number(PictureFile(path).pictures().size());
    QString audiotag::*member = memberNamed(field);
    return member ? shownText(tag, member) : QString();
}

// The fields named by the leading arguments, up to the first that names none.
QList<QString audiotag::*> leadingFields(const QList<QByteArray>& arguments)
{
    QList<QString audiotag::*> members;
    for (const QByteArray& arg : arguments) {
        QString audiotag::*member = memberNamed(QString::fromUtf8(arg));
        if (!member)
            break;
        members.append(member);
    }
    return members;
}

// A fill's named fields as assignments: "A; B" gives two values, an empty text none.
QList<PropertyAssignment> namedAssignments(const NamedValues& named)
{
    QList<PropertyAssignment> assignments;
    for (auto it = named.cbegin(); it != named.cend(); ++it) {
        PropertyAssignment assignment;
        if (parsePropertyAssignment(it.key() + '=' + it.value().toUtf8(), assignment))
            assignments.append(assignment);
    }
    return assignments;
}

// The values of ls's extra columns for one file: its facts and named fields.
QList<QStringList> extraValues(const QByteArray& path, const PictureFile& file,
                               const QList<QByteArray>& columns)
{
    QList<QStringList> values;
    if (columns.isEmpty())
        return values;
    const FileFacts facts = factsOf(file.handle(), path);
    for (const QByteArray& column : columns) {
        values.append(factColumns().contains(column) ? QStringList{factText(facts, column)}
                                                     : propertyValues(file.handle(), column));
    }
    return values;
}

// The fields of edit's --fields lists, all ten when none is given; false with the
// first unknown name.
bool editedFields(const QList<QByteArray>& lists, QList<QString audiotag::*>& members,
                  QByteArray& unknown)
{
    for (const TagField& field : TagFields) {
        if (lists.isEmpty())
            members.append(field.member);
    }
    for (const QByteArray& list : lists) {
        for (const QByteArray& name : list.split(',')) {
            members.append(memberNamed(QString::fromUtf8(name.trimmed())));
            unknown = name;
            if (!members.last())
                return false;
        }
    }
    return true;
}

// An edit of a file's tag; false when it reported its own failure and the file is to be
// left alone.
using TagEdit = std::function<bool(const QByteArray& path, audiotag& tag)>;

// A file's rename, planned before any file is touched, so "-n" shows what the real run does.
struct PlannedRename
{
    QByteArray from;
    QByteArray to;
};

class Runner
{
public:
    explicit Runner(const Options& options) : m_options(options) {}

    int run();

private:
    int usage(const QByteArray& message);
    int status() const;
    bool stopped() const;
    void fail(const QByteArray& path, const QByteArray& reason);
    void print(const QByteArray& text);
    bool startJournal();
    void settleLeftovers(QList<JournalRecord>& records, bool write);
    void summarize();

    QList<QByteArray> collectFiles(const QList<QByteArray>& paths);
    void forEachFile(const QList<QByteArray>& paths,
                     const std::function<void(const QByteArray&)>& visit);
    void forEachListed(const QList<QByteArray>& files,
                       const std::function<void(const QByteArray&)>& visit);
    bool load(const QByteArray& path, FileIdentity& identity, audiotag& tag,
              bool chosenOnly = true);
    bool save(const QByteArray& path, const FileIdentity& before, const audiotag& tag, bool strip);
    JournalRecord recordOf(const QByteArray& path, const FileIdentity& before,
                           const QList<FieldChange>& changes) const;
    bool writeAhead(JournalRecord& entry, const QByteArray& path);
    void settle(const JournalRecord& entry, bool done);
    void commitGroup();
    void journalFailed(int error, const QByteArray& path);
    void printChanges(const QByteArray& path, const QList<FieldChange>& changes);
    void changeFile(const QByteArray& path, const TagEdit& edit, const QByteArray& undoes = {});
    void changeFiles(const QList<QByteArray>& paths, const TagEdit& edit);

    int list();
    int info();
    QByteArray infoOf(const QByteArray& path);
    int get();
    int set();
    void setNamedIn(const QByteArray& path, const QList<PropertyAssignment>& assignments,
                    const QByteArray& undoes = {});
    bool saveNamed(const QByteArray& path, const FileIdentity& before, PictureFile& file);
    int convert();
    void convertFile(const QByteArray& path, int version, const QByteArray& undoes = {});
    int strip();
    void stripFile(const QByteArray& path);
    int copy();
    void copyPicturesOf(const QByteArray& source);
    int fill();
    int rename();
    bool planRename(const QByteArray& path, const NamePattern& pattern, QSet<QByteArray>& taken,
                    PlannedRename& plan);
    void renameFile(const PlannedRename& plan, const QByteArray& undoes = {});
    bool moveFile(const QByteArray& from, const QByteArray& to);
    int import();
    void importNamed(const QByteArray& path, const ImportTable& table, const CsvRecord& row);
    int rewrite(const QList<QString audiotag::*>& members, const QList<QByteArray>& paths,
                const std::function<QString(const QString&)>& rule);
    int replace();
    int changeCase();
    int trim();
    int edit();
    void applyEditedRow(const EditRow& row, const FileIdentity& identity,
                        const QList<QString audiotag::*>& members,
                        const QMap<qsizetype, QString>& cells);
    int history();
    int undo();
    bool undoPlan(qint64 count, QList<JournalRecord>& pending, QByteArray& reason);
    void undoRecord(const JournalRecord& record);
    void settleGone(const JournalRecord& record);
    void undoPictures(const JournalRecord& record);

    const Options& m_options;
    Journal m_journal;
    WhereFilter m_where;
    std::unique_ptr<Progress> m_progress;
    // Saves of a run that makes one change per file are made durable in groups.
    std::unique_ptr<GroupCommit> m_group;
    bool m_failed = false;
    qint64 m_failures = 0;
    bool m_journalBroken = false;
    qint64 m_changed = 0;
    qint64 m_unchanged = 0;
    // Each file's identity after the journal's latest change to it: a file that differs
    // from it was changed by something else since.
    QHash<QByteArray, FileIdentity> m_journalled;
};

int Runner::usage(const QByteArray& message)
{
    writeBytes(stderr, "tagora-cli: " + terminalSafe(message) + "\nTry 'tagora-cli " +
                           m_options.command + (m_options.command.isEmpty() ? "" : " ") +
                           "--help'.\n");
    return kExitUsage;
}

int Runner::status() const
{
    if (const int signal = stopSignal())
        return 128 + signal;
    return m_failed ? kExitSomeFailed : kExitSuccess;
}

// No file is touched once the journal cannot take its record, a stop signal came, or the
// results can no longer be written.
bool Runner::stopped() const
{
    return m_journalBroken || stopSignal() != 0 || std::ferror(stdout);
}

void Runner::fail(const QByteArray& path, const QByteArray& reason)
{
    if (m_progress)
        m_progress->clear();
    writeBytes(stderr, "tagora-cli: " + terminalSafe(path) + ": " + terminalSafe(reason) + '\n');
    m_failed = true;
    ++m_failures;
}

// Results go to stdout; on a terminal the progress line is taken off first, so a result
// never lands behind it.
void Runner::print(const QByteArray& text)
{
    if (m_progress)
        m_progress->clear();
    writeBytes(stdout, text);
}

bool Runner::startJournal()
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
void Runner::settleLeftovers(QList<JournalRecord>& records, bool write)
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

void Runner::summarize()
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

QList<QByteArray> Runner::collectFiles(const QList<QByteArray>& paths)
{
    QList<QByteArray> files;
    const WalkVisitor collector{
        [&](const QByteArray& file) { files.append(file); },
        [&](const QByteArray& path, const QByteArray& reason) { fail(path, reason); }};
    for (const QByteArray& path : paths)
        walkAudioFiles(path, m_options.recursive, collector);
    return files;
}

void Runner::forEachFile(const QList<QByteArray>& paths,
                         const std::function<void(const QByteArray&)>& visit)
{
    const bool wanted = progressWanted(m_options.quiet);
    const qint64 total = wanted ? countAudioFiles(paths, m_options.recursive) : 0;
    m_progress = std::make_unique<Progress>(wanted, total);
    const WalkVisitor visitor{
        [&](const QByteArray& file) {
            if (stopped())
                return;
            visit(file);
            m_progress->step();
        },
        [&](const QByteArray& path, const QByteArray& reason) { fail(path, reason); }};
    for (const QByteArray& path : paths)
        walkAudioFiles(path, m_options.recursive, visitor);
    m_progress.reset();
}

void Runner::forEachListed(const QList<QByteArray>& files,
                           const std::function<void(const QByteArray&)>& visit)
{
    m_progress = std::make_unique<Progress>(progressWanted(m_options.quiet), files.size());
    for (const QByteArray& file : files) {
        if (stopped())
            break;
        visit(file);
        m_progress->step();
    }
    m_progress.reset();
}

// False, silently, for a file --where leaves out: it is read once and never written.
bool Runner::load(const QByteArray& path, FileIdentity& identity, audiotag& tag, bool chosenOnly)
{
    if (!identityOf(path, identity) || ::access(path.constData(), R_OK) != 0) {
        fail(path, "unreadable: " + errorText(errno));
        return false;
    }
    if (!ReadTagAsStored(pathFromNative(path), tag)) {
        fail(path, "not an audio file of a known type");
        return false;
    }
    return !chosenOnly ||
           m_where.matches([&](const QString& field) { return whereValue(path, tag, field); });
}

bool Runner::save(const QByteArray& path, const FileIdentity& before, const audiotag& tag,
                  bool strip)
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
    const QString name = pathFromNative(path);
    errno = 0;
    if (strip ? !RemoveTag(name) : WriteTag(name, tag) != WriteTagResult::Saved) {
        const int error = errno;
        fail(path, strip || TagReadInFull(name)
                       ? saveFailure(error)
                       : QByteArray("tag could not be read in full; not written"));
        return false;
    }
    return true;
}

JournalRecord Runner::recordOf(const QByteArray& path, const FileIdentity& before,
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
bool Runner::writeAhead(JournalRecord& entry, const QByteArray& path)
{
    if (m_journal.writeAhead(entry))
        return true;
    journalFailed(errno, path);
    return false;
}

void Runner::journalFailed(int error, const QByteArray& path)
{
    QByteArray reason = "cannot be written: " + errorText(error) + "; stopped";
    if (!path.isEmpty())
        reason += " before " + path + ", which is unchanged";
    fail(Journal::path(), reason);
    m_journalBroken = true;
}

void Runner::settle(const JournalRecord& entry, bool done)
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

void Runner::commitGroup()
{
    for (const auto& [entry, placed] : m_group->commit()) {
        if (!placed)
            fail(entry.path, "save failed");
        settle(entry, placed);
    }
}

void Runner::printChanges(const QByteArray& path, const QList<FieldChange>& changes)
{
    ++m_changed;
    for (const FieldChange& change : changes) {
        print(terminalSafe(path) + ": " + scriptName(change.member) + ": " +
              terminalSafe(change.before.toUtf8()) + " → " + terminalSafe(change.after.toUtf8()) +
              '\n');
    }
}

void Runner::changeFile(const QByteArray& path, const TagEdit& edit, const QByteArray& undoes)
{
    FileIdentity before;
    audiotag original;
    if (stopped() || !load(path, before, original))
        return;
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
    settle(entry, settlesUndo || save(path, before, edited, false));
}

void Runner::changeFiles(const QList<QByteArray>& paths, const TagEdit& edit)
{
    forEachFile(paths, [&](const QByteArray& path) {
        changeFile(path, edit);
        convertFile(path, m_options.id3v2);
    });
    summarize();
}

int Runner::list()
{
    if (m_options.arguments.isEmpty())
        return usage("ls needs at least one file or folder");
    QList<QByteArray> extra;
    for (const QByteArray& list : m_options.fields) {
        for (const QByteArray& name : list.split(',')) {
            const QByteArray column = factColumns().contains(name.trimmed().toLower())
                                          ? name.trimmed().toLower()
                                          : name.trimmed().toUpper();
            if (!factColumns().contains(column) &&
                (!isPropertyName(column) || memberNamed(QString::fromUtf8(column))))
                return usage("'" + name + "' is no field to add to the listing");
            extra.append(column);
        }
    }
    if (!extra.isEmpty() && !namedFieldsAvailable())
        return usage("the tag library in use reads no fields by name");
    ListPrinter printer(m_options.format, stdout, terminalWidth(), extra);
    printer.begin();
    // One open of each file gives the fields and the pictures.
    forEachFile(m_options.arguments, [&](const QByteArray& path) {
        if (::access(path.constData(), R_OK) != 0) {
            fail(path, "unreadable: " + errorText(errno));
            return;
        }
        const PictureFile file(path);
        audiotag tag;
        if (!ReadTagOf(file.handle(), tag)) {
            fail(path, "not an audio file of a known type");
            return;
        }
        const auto value = [&](const QString& field) {
            return field == QLatin1String("pictures") ? QString::number(file.pictures().size())
                                                      : whereValue(path, tag, field);
        };
        if (!m_where.matches(value))
            return;
        m_progress->clear();
        printer.row(path, tag, file, extraValues(path, file, extra));
    });
    printer.end();
    return status();
}

int Runner::info()
{
    if (m_options.arguments.isEmpty())
        return usage("info needs at least one file or folder");
    if (!namedFieldsAvailable())
        return usage("the tag library in use reads no fields by name");
    forEachFile(m_options.arguments, [&](const QByteArray& path) {
        if (::access(path.constData(), R_OK) != 0) {
            fail(path, "unreadable: " + errorText(errno));
            return;
        }
        const QByteArray text = infoOf(path);
        if (!text.isEmpty())
            print(text);
    });
    return status();
}

// Every item of one file, a line each: what the file is, each property with all its values,
// each picture by type, MIME type and size.
QByteArray Runner::infoOf(const QByteArray& path)
{
    const PictureFile file(path);
    if (!file.isOpen()) {
        fail(path, "not an audio file of a known type");
        return {};
    }
    QByteArray text = "== " + terminalSafe(path) + '\n';
    const FileFacts facts = factsOf(file.handle(), path);
    for (const QByteArray& column : factColumns())
        text += column + ": " + terminalSafe(factText(facts, column).toUtf8()) + '\n';
    for (const QByteArray& name : propertyNames(file.handle())) {
        const QString values = shownValues(propertyValues(file.handle(), name));
        text += terminalSafe(name) + ": " + terminalSafe(values.toUtf8()) + '\n';
    }
    const QList<StoredPicture> pictures = file.pictures();
    for (qsizetype i = 0; i < pictures.size(); ++i) {
        const StoredPicture& picture = pictures[i];
        text += "picture " + QByteArray::number(i) + ": " + pictureTypeName(picture.type) + ", " +
                terminalSafe(picture.mimeType) + ", " + QByteArray::number(picture.data.size()) +
                " bytes" +
                (picture.description.isEmpty()
                     ? QByteArray()
                     : QByteArray(", \"" + terminalSafe(picture.description) + '"')) +
                '\n';
    }
    return text;
}

int Runner::get()
{
    if (m_options.arguments.size() < 2)
        return usage("get needs a field and at least one file or folder");
    QString audiotag::*member = memberNamed(QString::fromUtf8(m_options.arguments.first()));
    const QByteArray property = m_options.arguments.first().toUpper();
    if (!member && (!isPropertyName(property) || !namedFieldsAvailable()))
        return usage("unknown field '" + m_options.arguments.first() + "'");
    const QList<QByteArray> paths = m_options.arguments.mid(1);
    // Like grep, one named file gives the bare value; more give "path<tab>value" lines.
    const bool bare = paths.size() == 1 && !isFolder(paths.first());
    forEachFile(paths, [&](const QByteArray& path) {
        FileIdentity identity;
        audiotag tag;
        if (!load(path, identity, tag))
            return;
        const QByteArray value =
            member ? (tag.*member).toUtf8()
                   : shownValues(propertyValues(PictureFile(path).handle(), property)).toUtf8();
        print(bare ? QByteArray(value + '\n')
                   : QByteArray(tsvEscaped(path) + '\t' + tsvEscaped(value) + '\n'));
    });
    return status();
}

int Runner::set()
{
    QList<std::pair<QString audiotag::*, QString>> assignments;
    QList<PropertyAssignment> named;
    qsizetype next = 0;
    for (; next < m_options.arguments.size(); ++next) {
        const QByteArray& arg = m_options.arguments[next];
        const qsizetype equals = arg.indexOf('=');
        QString audiotag::*member =
            equals > 0 ? memberNamed(QString::fromUtf8(arg.left(equals))) : nullptr;
        PropertyAssignment property;
        const bool isNamed = !member && ::access(arg.constData(), F_OK) != 0 &&
                             parsePropertyAssignment(arg, property);
        if (isNamed && memberNamed(QString::fromUtf8(property.name)))
            return usage("'" + arg + "': += and -= take named fields, not the ten");
        if (!member && !isNamed && assignments.isEmpty() && named.isEmpty())
            return usage("'" + arg + "' is not FIELD=VALUE with a known field");
        if (isNamed) {
            named.append(property);
            continue;
        }
        if (!member)
            break;
        const QString value = QString::fromUtf8(arg.mid(equals + 1));
        // A template's value is known per file, and checked there.
        if (!m_options.templates && !acceptedValue(member, value))
            return usage(refusalReason(member, value));
        assignments.append({member, value});
    }
    const QList<QByteArray> paths = m_options.arguments.mid(next);
    if (paths.isEmpty())
        return usage("set needs at least one file or folder");
    // "foo=bar" among the paths is a mistyped field unless a file has that name.
    for (const QByteArray& path : paths) {
        if (looksLikeAssignment(path) && ::access(path.constData(), F_OK) != 0)
            return usage("'" + path + "' is not FIELD=VALUE with a known field");
    }
    if (m_options.strict && !m_options.templates)
        return usage("--strict goes with -t");
    if (!named.isEmpty() && m_options.templates)
        return usage("-t takes the ten fields only");
    if (!named.isEmpty() && !namedFieldsAvailable())
        return usage("the tag library in use reads no fields by name");
    QList<NamePattern> templates(assignments.size());
    for (qsizetype i = 0; m_options.templates && i < assignments.size(); ++i) {
        QString reason;
        if (!templates[i].parse(assignments[i].second, reason))
            return usage(reason.toUtf8());
    }
    if (!startJournal())
        return status();
    const TagEdit edit = [&](const QByteArray& path, audiotag& tag) {
        const audiotag original = tag;
        for (qsizetype i = 0; i < assignments.size(); ++i) {
            const QList<QString audiotag::*> empty = templates[i].emptyFields(original);
            if (m_options.strict && !empty.isEmpty()) {
                fail(path, "%" + scriptName(empty.first()) + "% is empty; left alone (--strict)");
                return false;
            }
            const QString value =
                m_options.templates ? templates[i].text(original) : assignments[i].second;
            if (!acceptedValue(assignments[i].first, value)) {
                fail(path, refusalReason(assignments[i].first, value) + "; left alone");
                return false;
            }
            tag.*assignments[i].first = value;
        }
        return true;
    };
    // Two changes of one file in one group would both start from its old bytes.
    if (assignments.isEmpty() != named.isEmpty() && m_options.id3v2 == 0 && !m_options.dryRun)
        m_group = std::make_unique<GroupCommit>(m_journal);
    // The ten fields and the named ones are two changes, journalled each; a file refused for
    // the first is left alone.
    forEachFile(paths, [&](const QByteArray& path) {
        const qint64 failures = m_failures;
        if (!assignments.isEmpty())
            changeFile(path, edit);
        if (!named.isEmpty() && failures == m_failures)
            setNamedIn(path, named);
        convertFile(path, m_options.id3v2);
    });
    if (m_group)
        commitGroup();
    summarize();
    return status();
}

void Runner::setNamedIn(const QByteArray& path, const QList<PropertyAssignment>& assignments,
                        const QByteArray& undoes)
{
    FileIdentity before;
    audiotag tag;
    if (stopped() || !load(path, before, tag))
        return;
    PictureFile file(path);
    if (!file.isOpen()) {
        fail(path, "not an audio file of a known type");
        return;
    }
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
        settle(entry, entry.fields.isEmpty() || saveNamed(path, before, file));
}

bool Runner::saveNamed(const QByteArray& path, const FileIdentity& before, PictureFile& file)
{
    if (::access(path.constData(), W_OK) != 0) {
        fail(path, "read-only: " + errorText(errno));
        return false;
    }
    FileIdentity now;
    if (!identityOf(path, now) || now != before) {
        fail(path, "changed while saving");
        return false;
    }
    errno = 0;
    if (file.save())
        return true;
    fail(path, saveFailure(errno));
    return false;
}

int Runner::convert()
{
    if (m_options.id3v2 == 0)
        return usage("convert needs --id3v2 3 or --id3v2 4");
    if (m_options.arguments.isEmpty())
        return usage("convert needs at least one file or folder");
    if (!namedFieldsAvailable())
        return usage("the tag library in use cannot choose the ID3v2 version");
    if (!startJournal())
        return status();
    forEachFile(m_options.arguments,
                [&](const QByteArray& path) { convertFile(path, m_options.id3v2); });
    summarize();
    return status();
}

// The file's ID3v2 tag written in `version` (nothing for 0, or a file without ID3v2), as a
// journalled change of its own. Frames the version cannot hold stop it unless --force.
void Runner::convertFile(const QByteArray& path, int version, const QByteArray& undoes)
{
    FileIdentity before;
    audiotag tag;
    if (version == 0 || stopped() || !namedFieldsAvailable() || !load(path, before, tag))
        return;
    PictureFile file(path);
    const int stored = file.isOpen() ? id3v2Version(file.handle()) : 0;
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
        settle(entry, saveNamed(path, before, file));
}

int Runner::strip()
{
    if (m_options.arguments.isEmpty())
        return usage("strip needs at least one file or folder");
    if (!startJournal())
        return status();
    forEachFile(m_options.arguments, [&](const QByteArray& path) { stripFile(path); });
    summarize();
    return status();
}

void Runner::stripFile(const QByteArray& path)
{
    FileIdentity before;
    audiotag original;
    if (!load(path, before, original))
        return;
    // The journal keeps all ten fields, whatever they hold, so undo can bring them back.
    QList<FieldChange> changes;
    for (const TagField& field : TagFields)
        changes.append({field.member, original.*field.member, QString()});
    if (m_options.dryRun) {
        print(terminalSafe(path) + ": tag removed\n");
        QList<FieldChange> shown;
        for (const FieldChange& change : std::as_const(changes)) {
            if (!change.before.isEmpty() && change.before != QLatin1String("0"))
                shown.append(change);
        }
        printChanges(path, shown);
        return;
    }
    JournalRecord entry = recordOf(path, before, changes);
    if (writeAhead(entry, path))
        settle(entry, save(path, before, original, true));
}

int Runner::copy()
{
    if (m_options.arguments.size() < 2)
        return usage("copy needs a source file and at least one target");
    const QByteArray source = m_options.arguments.first();
    FileIdentity identity;
    audiotag copied;
    if (!load(source, identity, copied, false))
        return status();
    if (!startJournal())
        return status();
    changeFiles(m_options.arguments.mid(1), [&](const QByteArray&, audiotag& tag) {
        for (const TagField& field : TagFields)
            tag.*field.member = copied.*field.member;
        return true;
    });
    if (m_options.pictures)
        copyPicturesOf(source);
    return status();
}

// A second pass, after the fields: a picture record of its own for each target, in the same
// operation, so one undo puts back both.
void Runner::copyPicturesOf(const QByteArray& source)
{
    const PictureFile sourceFile(source);
    if (!sourceFile.isOpen()) {
        fail(source, "its pictures cannot be read");
        return;
    }
    const QList<StoredPicture> pictures = sourceFile.pictures();
    forEachFile(m_options.arguments.mid(1), [&](const QByteArray& target) {
        QByteArray shown;
        QByteArray reason;
        if (m_journalBroken)
            return;
        if (!copyPictures(pictures, target, m_options.dryRun ? nullptr : &m_journal, shown, reason))
            fail(target, reason);
        else if (m_options.dryRun)
            print(shown);
    });
}

int Runner::fill()
{
    if (m_options.arguments.size() < 2)
        return usage("fill needs a pattern and at least one file or folder");
    NamePattern pattern;
    QString reason;
    if (!pattern.parse(QString::fromUtf8(m_options.arguments.first()), reason,
                       namedFieldsAvailable()))
        return usage(reason.toUtf8());
    if (pattern.fields().isEmpty() && pattern.namedFields().isEmpty())
        return usage("the pattern names no field to fill");
    // Every name is matched before any file is written: one that gives a track or year
    // that is no number stops the whole command.
    const QList<QByteArray> files = collectFiles(m_options.arguments.mid(1));
    for (const QByteArray& file : files) {
        audiotag filled;
        if (!pattern.fill(pathFromNative(splitName(file).base), filled))
            continue;
        for (QString audiotag::*member : pattern.fields()) {
            if (!acceptedValue(member, filled.*member))
                return usage(file + ": " + refusalReason(member, filled.*member));
        }
    }
    if (!startJournal())
        return status();
    forEachListed(files, [&](const QByteArray& file) {
        const qint64 failures = m_failures;
        NamedValues named;
        changeFile(file, [&](const QByteArray& path, audiotag& tag) {
            if (pattern.fill(pathFromNative(splitName(path).base), tag, &named))
                return true;
            fail(path, "the name does not match the pattern; left alone");
            return false;
        });
        if (!named.isEmpty() && failures == m_failures)
            setNamedIn(file, namedAssignments(named));
        convertFile(file, m_options.id3v2);
    });
    summarize();
    return status();
}

int Runner::rename()
{
    if (m_options.arguments.size() < 2)
        return usage("rename needs a pattern and at least one file or folder");
    NamePattern pattern;
    QString reason;
    if (!pattern.parse(QString::fromUtf8(m_options.arguments.first()), reason,
                       namedFieldsAvailable()))
        return usage(reason.toUtf8());
    if (pattern.namesFolder())
        return usage("the pattern names a folder; a file is renamed in its own folder");
    if (pattern.fields().isEmpty() && pattern.namedFields().isEmpty())
        return usage("the pattern names no field, so every file would get one name");
    // The dry run and the real one share the plan, and with it every refusal.
    QList<PlannedRename> plans;
    QSet<QByteArray> taken;
    for (const QByteArray& file : collectFiles(m_options.arguments.mid(1))) {
        PlannedRename plan;
        if (planRename(file, pattern, taken, plan))
            plans.append(plan);
    }
    if (!startJournal())
        return status();
    m_progress = std::make_unique<Progress>(progressWanted(m_options.quiet), plans.size());
    for (const PlannedRename& plan : std::as_const(plans)) {
        if (stopped())
            break;
        renameFile(plan);
        m_progress->step();
    }
    m_progress.reset();
    summarize();
    return status();
}

bool Runner::planRename(const QByteArray& path, const NamePattern& pattern, QSet<QByteArray>& taken,
                        PlannedRename& plan)
{
    FileIdentity identity;
    audiotag tag;
    if (!load(path, identity, tag))
        return false;
    NamedValues named;
    if (!pattern.namedFields().isEmpty()) {
        const PictureFile file(path);
        for (const QByteArray& name : pattern.namedFields())
            named.insert(name, shownValues(propertyValues(file.handle(), name)));
    }
    const QByteArray base = pathToNative(pattern.name(tag, named));
    if (base.trimmed().isEmpty()) {
        fail(path, "the pattern gives an empty name; left alone");
        return false;
    }
    const NameParts parts = splitName(path);
    plan = {path, parts.folder + base + parts.extension};
    if (base.size() + parts.extension.size() > kLongestName) {
        fail(path, "the new name is longer than 255 bytes; left alone");
        return false;
    }
    if (plan.to == path) {
        ++m_unchanged;
        return false;
    }
    const QByteArray key = absolutePath(plan.to);
    struct stat info;
    if (taken.contains(key)) {
        fail(path, "another file is already renamed to " + plan.to + "; left alone");
        return false;
    }
    if (::lstat(plan.to.constData(), &info) == 0) {
        fail(path, plan.to + " exists; left alone");
        return false;
    }
    taken.insert(key);
    return true;
}

void Runner::renameFile(const PlannedRename& plan, const QByteArray& undoes)
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
bool Runner::moveFile(const QByteArray& from, const QByteArray& to)
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
// back by itself; an empty cell removes the field, "A; B" stores two values.
void Runner::importNamed(const QByteArray& path, const ImportTable& table, const CsvRecord& row)
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

int Runner::import()
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

int Runner::rewrite(const QList<QString audiotag::*>& members, const QList<QByteArray>& paths,
                    const std::function<QString(const QString&)>& rule)
{
    if (members.isEmpty())
        return usage("'" + m_options.arguments.value(0) + "' is not a field");
    if (paths.isEmpty())
        return usage(m_options.command + " needs at least one file or folder");
    if (!startJournal())
        return status();
    changeFiles(paths, [&](const QByteArray&, audiotag& tag) {
        for (QString audiotag::*member : members)
            tag.*member = rule(tag.*member);
        return true;
    });
    return status();
}

int Runner::replace()
{
    const QList<QByteArray>& arguments = m_options.arguments;
    if (arguments.size() < 4)
        return usage("replace needs a field, an expression, a replacement and a file or folder");
    const QRegularExpression regex(QString::fromUtf8(arguments[1]));
    if (!regex.isValid())
        return usage("bad regular expression '" + arguments[1] +
                     "': " + regex.errorString().toUtf8());
    const QString replacement = QString::fromUtf8(arguments[2]);
    const int reference = highestCaptureReference(replacement);
    if (reference > regex.captureCount())
        return usage("the replacement refers to \\" + QByteArray::number(reference) + ", but '" +
                     arguments[1] + "' has " + QByteArray::number(regex.captureCount()) +
                     " captures");
    return rewrite(leadingFields(arguments.mid(0, 1)), arguments.mid(3),
                   [&](const QString& value) { return replaceMatches(value, regex, replacement); });
}

int Runner::changeCase()
{
    const std::pair<const char*, LetterCase> styles[] = {{"title", LetterCase::Title},
                                                         {"sentence", LetterCase::Sentence},
                                                         {"upper", LetterCase::Upper},
                                                         {"lower", LetterCase::Lower}};
    const auto style = std::find_if(std::begin(styles), std::end(styles), [&](const auto& pair) {
        return m_options.letterCase == pair.first;
    });
    if (style == std::end(styles))
        return usage("case needs one of --title, --sentence, --upper or --lower");
    const QList<QString audiotag::*> members = leadingFields(m_options.arguments);
    return rewrite(members, m_options.arguments.mid(members.size()), [&](const QString& value) {
        return tagora::cli::changeCase(value, style->second);
    });
}

int Runner::trim()
{
    const QList<QString audiotag::*> members = leadingFields(m_options.arguments);
    return rewrite(members, m_options.arguments.mid(members.size()), trimSpaces);
}

int Runner::edit()
{
    if (m_options.arguments.isEmpty())
        return usage("edit needs at least one file or folder");
    QList<QString audiotag::*> members;
    QByteArray unknown;
    if (!editedFields(m_options.fields, members, unknown))
        return usage("unknown field '" + unknown + "' in --fields");
    QList<QByteArray> names;
    for (QString audiotag::*member : std::as_const(members))
        names.append(scriptName(member));
    QList<EditRow> rows;
    QList<FileIdentity> identities;
    QSet<QByteArray> listed; // a file named twice gets one row
    forEachFile(m_options.arguments, [&](const QByteArray& path) {
        FileIdentity identity;
        audiotag tag;
        if (listed.contains(absolutePath(path)) || !load(path, identity, tag))
            return;
        listed.insert(absolutePath(path));
        rows.append({path, {}});
        for (QString audiotag::*member : std::as_const(members))
            rows.last().values.append(shownText(tag, member));
        identities.append(identity);
    });
    if (rows.isEmpty() && !m_options.quiet)
        writeBytes(stderr, "tagora-cli: no files to edit\n");
    // The journal is locked from its opening on, so it is opened only once the editor is
    // closed: other commands need not wait for the user.
    TableEdits edits;
    QByteArray reason;
    if (!rows.isEmpty() && !editInEditor(names, rows, edits, reason))
        fail("edit", reason + "; nothing changed");
    if (rows.isEmpty() || !reason.isEmpty() || !startJournal())
        return status();
    for (const QByteArray& message : std::as_const(edits.refused))
        fail("edit", message);
    // The files were chosen when the table was written; a cell edited since must not
    // unchoose its file.
    m_where = WhereFilter();
    for (auto it = edits.changed.cbegin(); it != edits.changed.cend(); ++it)
        applyEditedRow(rows[it.key()], identities[it.key()], members, it.value());
    summarize();
    return status();
}

void Runner::applyEditedRow(const EditRow& row, const FileIdentity& identity,
                            const QList<QString audiotag::*>& members,
                            const QMap<qsizetype, QString>& cells)
{
    FileIdentity now;
    if (!m_options.force && (!identityOf(row.path, now) || now != identity)) {
        fail(row.path, "changed on disk while being edited; left alone (--force writes it anyway)");
        return;
    }
    const qint64 changedBefore = m_changed;
    changeFile(row.path, [&](const QByteArray&, audiotag& tag) {
        for (auto cell = cells.cbegin(); cell != cells.cend(); ++cell)
            tag.*members[cell.key()] = cell.value();
        return true;
    });
    for (auto cell = cells.cbegin();
         m_changed > changedBefore && !m_options.dryRun && cell != cells.cend(); ++cell)
        print(row.path + ": " + scriptName(members[cell.key()]) + ": " +
              tsvEscaped(row.values[cell.key()].toUtf8()) + " → " +
              tsvEscaped(cell.value().toUtf8()) + '\n');
}

int Runner::history()
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

int Runner::undo()
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
bool Runner::undoPlan(qint64 count, QList<JournalRecord>& pending, QByteArray& reason)
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

void Runner::undoRecord(const JournalRecord& entry)
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
void Runner::settleGone(const JournalRecord& record)
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

void Runner::undoPictures(const JournalRecord& entry)
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

int Runner::run()
{
    if (m_options.command == "picture")
        return runPictureCommand(m_options.help ? QList<QByteArray>{"--help"}
                                                : m_options.arguments);
    if (m_options.help) {
        writeBytes(stdout, commandHelp(m_options.command));
        return kExitSuccess;
    }
    if (m_options.command.isEmpty())
        return usage("no command given");
    for (const QByteArray& expression : m_options.where) {
        QByteArray error;
        if (!m_where.add(expression, whereField, error))
            return usage(error);
    }
    const std::pair<const char*, int (Runner::*)()> commands[] = {
        {"ls", &Runner::list},         {"get", &Runner::get},         {"set", &Runner::set},
        {"strip", &Runner::strip},     {"copy", &Runner::copy},       {"fill", &Runner::fill},
        {"rename", &Runner::rename},   {"import", &Runner::import},   {"history", &Runner::history},
        {"undo", &Runner::undo},       {"replace", &Runner::replace}, {"case", &Runner::changeCase},
        {"trim", &Runner::trim},       {"edit", &Runner::edit},       {"info", &Runner::info},
        {"convert", &Runner::convert},
    };
    for (const auto& [name, command] : commands) {
        if (m_options.command == name)
            return (this->*command)();
    }
    return usage("unknown command '" + m_options.command + "'");
}

} // namespace

int runCommandLine(const QList<QByteArray>& argv)
{
    Options options;
    QByteArray error;
    if (!parseOptions(argv, options, error)) {
        writeBytes(stderr, "tagora-cli: " + error + "\nTry 'tagora-cli --help'.\n");
        return kExitUsage;
    }
    Runner runner(options);
    int status = runner.run();
    // A full disk under "ls > out.csv" must not pass for a whole listing.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        writeBytes(stderr, "tagora-cli: standard output: " + errorText(errno) + '\n');
        status = std::max(status, int(kExitSomeFailed));
    }
    if (const int signal = stopSignal()) {
        writeBytes(stderr, "tagora-cli: stopped by signal " + QByteArray::number(signal) +
                               "; the files done so far are journalled\n");
        status = 128 + signal;
    }
    return status;
}

} // namespace tagora::cli

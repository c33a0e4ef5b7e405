#include "commands.h"

#include "cli/filewalk.h"
#include "cli/journal.h"
#include "cli/listformat.h"
#include "cli/namepattern.h"
#include "cli/options.h"
#include "cli/picturecommand.h"
#include "cli/progress.h"
#include "services/nativepath.h"
#include "tags/tagfields.h"
#include "tags/tagoperations.h"

#include <QDateTime>
#include <QHash>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tagora::cli {
namespace {

constexpr int kDefaultTableWidth = 120;

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
        if (before.*field.member != after.*field.member)
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

// The keys of the records an undo has put back.
QSet<QByteArray> undoneKeys(const QList<JournalRecord>& records)
{
    QSet<QByteArray> undone;
    for (const JournalRecord& entry : records) {
        if (!entry.undoes.isEmpty())
            undone.insert(entry.undoes);
    }
    return undone;
}

// The records of the last `count` operations (all when negative) that are not undone yet,
// newest first. Undos themselves are not undone: undo twice goes two operations back.
QList<JournalRecord> pendingRecords(const QList<JournalRecord>& records, qint64 count)
{
    const QSet<QByteArray> undone = undoneKeys(records);
    QList<JournalRecord> pending;
    QSet<qint64> operations;
    for (auto it = records.crbegin(); it != records.crend(); ++it) {
        if (it->command == "undo" || undone.contains(it->key()))
            continue;
        if (!operations.contains(it->operation)) {
            if (operations.size() == count)
                break;
            operations.insert(it->operation);
        }
        pending.append(*it);
    }
    return pending;
}

// True when the record is about the file or folder at the absolute `path`.
bool concerns(const JournalRecord& entry, const QByteArray& path)
{
    const QByteArray folder = path == "/" ? path : QByteArray(path + '/');
    return entry.path == path || entry.path.startsWith(folder) || entry.previousName == path;
}

QByteArray historyLine(const JournalRecord& entry, bool undone)
{
    const QByteArray when = QDateTime::fromSecsSinceEpoch(entry.when)
                                .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                                .toUtf8();
    QList<QByteArray> before;
    if (!entry.previousName.isEmpty())
        before.append("name was " + tsvEscaped(entry.previousName));
    for (qsizetype i = 0; i < entry.fields.size(); ++i)
        before.append(entry.fields[i] + " was \"" + tsvEscaped(entry.values[i]) + '"');
    return QByteArray::number(entry.operation) + '\t' + when + '\t' + entry.command + '\t' +
           tsvEscaped(entry.path) + '\t' + before.join("; ") + (undone ? " (undone)" : "") + '\n';
}

// An edit of a file's tag; false when it reported its own failure and the file is to be
// left alone.
using TagEdit = std::function<bool(const QByteArray& path, audiotag& tag)>;

class Runner
{
public:
    explicit Runner(const Options& options) : m_options(options) {}

    int run();

private:
    int usage(const QByteArray& message);
    int status() const { return m_failed ? kExitSomeFailed : kExitSuccess; }
    void fail(const QByteArray& path, const QByteArray& reason);
    void print(const QByteArray& text);
    bool startJournal();
    void summarize();

    void forEachFile(const QList<QByteArray>& paths,
                     const std::function<void(const QByteArray&)>& visit);
    bool load(const QByteArray& path, FileIdentity& identity, audiotag& tag);
    bool save(const QByteArray& path, const FileIdentity& before, const audiotag& tag, bool strip);
    void record(const QByteArray& path, const QList<FieldChange>& changes,
                const QByteArray& previousName, const QByteArray& undoes);
    void printChanges(const QByteArray& path, const QList<FieldChange>& changes);
    void changeFile(const QByteArray& path, const TagEdit& edit, const QByteArray& undoes = {});
    void changeFiles(const QList<QByteArray>& paths, const TagEdit& edit);

    int list();
    int get();
    int set();
    int strip();
    void stripFile(const QByteArray& path);
    int copy();
    void copyPicturesOf(const QByteArray& source);
    int fill();
    int rename();
    void renameFile(const QByteArray& path, const NamePattern& pattern, QSet<QByteArray>& taken);
    bool moveFile(const QByteArray& from, const QByteArray& to);
    int import();
    int history();
    int undo();
    void undoRecord(const JournalRecord& record);
    void undoPictures(const JournalRecord& record);

    const Options& m_options;
    Journal m_journal;
    std::unique_ptr<Progress> m_progress;
    bool m_failed = false;
    qint64 m_changed = 0;
    qint64 m_unchanged = 0;
    // Each file's identity after the journal's latest change to it: a file that differs
    // from it was changed by something else since.
    QHash<QByteArray, FileIdentity> m_journalled;
};

int Runner::usage(const QByteArray& message)
{
    writeBytes(stderr, "tagora-cli: " + message + "\nTry 'tagora-cli " + m_options.command +
                           (m_options.command.isEmpty() ? "" : " ") + "--help'.\n");
    return kExitUsage;
}

void Runner::fail(const QByteArray& path, const QByteArray& reason)
{
    if (m_progress)
        m_progress->clear();
    writeBytes(stderr, "tagora-cli: " + path + ": " + reason + '\n');
    m_failed = true;
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
    if (m_journal.open(reason))
        return true;
    fail(Journal::path(), reason + "; nothing was changed");
    return false;
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

void Runner::forEachFile(const QList<QByteArray>& paths,
                         const std::function<void(const QByteArray&)>& visit)
{
    const bool wanted = progressWanted(m_options.quiet);
    qint64 total = 0;
    if (wanted) {
        const WalkVisitor counter{[&](const QByteArray&) { ++total; },
                                  [](const QByteArray&, const QByteArray&) {}};
        for (const QByteArray& path : paths)
            walkAudioFiles(path, m_options.recursive, counter);
    }
    m_progress = std::make_unique<Progress>(wanted, total);
    const WalkVisitor visitor{
        [&](const QByteArray& file) {
            visit(file);
            m_progress->step();
        },
        [&](const QByteArray& path, const QByteArray& reason) { fail(path, reason); }};
    for (const QByteArray& path : paths)
        walkAudioFiles(path, m_options.recursive, visitor);
    m_progress.reset();
}

bool Runner::load(const QByteArray& path, FileIdentity& identity, audiotag& tag)
{
    if (!identityOf(path, identity) || ::access(path.constData(), R_OK) != 0) {
        fail(path, "unreadable: " + errorText(errno));
        return false;
    }
    if (!ReadTag(pathFromNative(path), tag)) {
        fail(path, "not an audio file of a known type");
        return false;
    }
    return true;
}

bool Runner::save(const QByteArray& path, const FileIdentity& before, const audiotag& tag,
                  bool strip)
{
    if (::access(path.constData(), W_OK) != 0) {
        fail(path, errno == EACCES || errno == EROFS || errno == EPERM
                       ? QByteArray("read-only")
                       : "unreadable: " + errorText(errno));
        return false;
    }
    FileIdentity now;
    if (!identityOf(path, now) || now != before) {
        fail(path, "changed while saving");
        return false;
    }
    const QString name = pathFromNative(path);
    if (strip ? !RemoveTag(name) : WriteTag(name, tag) != WriteTagResult::Saved) {
        fail(path, "save failed");
        return false;
    }
    return true;
}

void Runner::record(const QByteArray& path, const QList<FieldChange>& changes,
                    const QByteArray& previousName, const QByteArray& undoes)
{
    ++m_changed;
    JournalRecord entry;
    entry.command = m_options.command;
    entry.path = absolutePath(path);
    identityOf(path, entry.identity);
    entry.previousName = previousName.isEmpty() ? QByteArray() : absolutePath(previousName);
    entry.undoes = undoes;
    for (const FieldChange& change : changes) {
        entry.fields.append(scriptName(change.member));
        entry.values.append(change.before.toUtf8());
    }
    m_journalled.insert(entry.path, entry.identity);
    if (!m_journal.append(entry))
        fail(path, "changed, but the journal could not be written: " + errorText(errno));
}

void Runner::printChanges(const QByteArray& path, const QList<FieldChange>& changes)
{
    ++m_changed;
    for (const FieldChange& change : changes) {
        // Escaped as in tsv, so a value with a line break stays on its line.
        print(path + ": " + scriptName(change.member) + ": " + tsvEscaped(change.before.toUtf8()) +
              " → " + tsvEscaped(change.after.toUtf8()) + '\n');
    }
}

void Runner::changeFile(const QByteArray& path, const TagEdit& edit, const QByteArray& undoes)
{
    FileIdentity before;
    audiotag original;
    if (!load(path, before, original))
        return;
    audiotag edited = original;
    if (!edit(path, edited))
        return;
    const QList<FieldChange> changes = differences(original, edited);
    if (changes.isEmpty() && !undoes.isEmpty() && !m_options.dryRun) {
        record(path, {}, {}, undoes); // already as it was: the record is still settled
    } else if (changes.isEmpty()) {
        ++m_unchanged;
    } else if (m_options.dryRun) {
        printChanges(path, changes);
    } else if (save(path, before, edited, false)) {
        record(path, changes, {}, undoes);
    }
}

void Runner::changeFiles(const QList<QByteArray>& paths, const TagEdit& edit)
{
    forEachFile(paths, [&](const QByteArray& path) { changeFile(path, edit); });
    summarize();
}

int Runner::list()
{
    if (m_options.arguments.isEmpty())
        return usage("ls needs at least one file or folder");
    ListPrinter printer(m_options.format, stdout, terminalWidth());
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
        m_progress->clear();
        printer.row(path, tag, file);
    });
    printer.end();
    return status();
}

int Runner::get()
{
    if (m_options.arguments.size() < 2)
        return usage("get needs a field and at least one file or folder");
    QString audiotag::*member = memberNamed(QString::fromUtf8(m_options.arguments.first()));
    if (!member)
        return usage("unknown field '" + m_options.arguments.first() + "'");
    const QList<QByteArray> paths = m_options.arguments.mid(1);
    // Like grep, one named file gives the bare value; more give "path<tab>value" lines.
    const bool bare = paths.size() == 1 && !isFolder(paths.first());
    forEachFile(paths, [&](const QByteArray& path) {
        FileIdentity identity;
        audiotag tag;
        if (!load(path, identity, tag))
            return;
        const QByteArray value = (tag.*member).toUtf8();
        print(bare ? QByteArray(value + '\n')
                   : QByteArray(tsvEscaped(path) + '\t' + tsvEscaped(value) + '\n'));
    });
    return status();
}

int Runner::set()
{
    QList<std::pair<QString audiotag::*, QString>> assignments;
    qsizetype next = 0;
    for (; next < m_options.arguments.size(); ++next) {
        const QByteArray& arg = m_options.arguments[next];
        const qsizetype equals = arg.indexOf('=');
        QString audiotag::*member =
            equals > 0 ? memberNamed(QString::fromUtf8(arg.left(equals))) : nullptr;
        if (!member && assignments.isEmpty())
            return usage("'" + arg + "' is not FIELD=VALUE with a known field");
        if (!member)
            break;
        assignments.append({member, QString::fromUtf8(arg.mid(equals + 1))});
    }
    const QList<QByteArray> paths = m_options.arguments.mid(next);
    if (paths.isEmpty())
        return usage("set needs at least one file or folder");
    if (!startJournal())
        return status();
    changeFiles(paths, [&](const QByteArray&, audiotag& tag) {
        for (const auto& [member, value] : assignments)
            tag.*member = value;
        return true;
    });
    return status();
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
        print(path + ": tag removed\n");
        QList<FieldChange> shown;
        for (const FieldChange& change : std::as_const(changes)) {
            if (!change.before.isEmpty() && change.before != QLatin1String("0"))
                shown.append(change);
        }
        printChanges(path, shown);
    } else if (save(path, before, original, true)) {
        record(path, changes, {}, {});
    }
}

int Runner::copy()
{
    if (m_options.arguments.size() < 2)
        return usage("copy needs a source file and at least one target");
    const QByteArray source = m_options.arguments.first();
    FileIdentity identity;
    audiotag copied;
    if (!load(source, identity, copied))
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
        JournalRecord change;
        QByteArray shown;
        QByteArray reason;
        if (!copyPictures(pictures, target, m_options.dryRun, change, shown, reason))
            fail(target, reason);
        else if (m_options.dryRun)
            print(shown);
        else if (!change.fields.isEmpty() && !m_journal.append(change))
            fail(target, "changed, but the journal could not be written: " + errorText(errno));
    });
}

int Runner::fill()
{
    if (m_options.arguments.size() < 2)
        return usage("fill needs a pattern and at least one file or folder");
    NamePattern pattern;
    QString reason;
    if (!pattern.parse(QString::fromUtf8(m_options.arguments.first()), reason))
        return usage(reason.toUtf8());
    if (pattern.fields().isEmpty())
        return usage("the pattern names no field to fill");
    if (!startJournal())
        return status();
    changeFiles(m_options.arguments.mid(1), [&](const QByteArray& path, audiotag& tag) {
        if (pattern.fill(pathFromNative(splitName(path).base), tag))
            return true;
        fail(path, "the name does not match the pattern; left alone");
        return false;
    });
    return status();
}

int Runner::rename()
{
    if (m_options.arguments.size() < 2)
        return usage("rename needs a pattern and at least one file or folder");
    NamePattern pattern;
    QString reason;
    if (!pattern.parse(QString::fromUtf8(m_options.arguments.first()), reason))
        return usage(reason.toUtf8());
    if (pattern.fields().isEmpty())
        return usage("the pattern names no field, so every file would get one name");
    if (!startJournal())
        return status();
    QSet<QByteArray> taken;
    forEachFile(m_options.arguments.mid(1),
                [&](const QByteArray& path) { renameFile(path, pattern, taken); });
    summarize();
    return status();
}

void Runner::renameFile(const QByteArray& path, const NamePattern& pattern, QSet<QByteArray>& taken)
{
    FileIdentity identity;
    audiotag tag;
    if (!load(path, identity, tag))
        return;
    const QByteArray base = pathToNative(pattern.name(tag));
    if (base.trimmed().isEmpty() || base == "." || base == "..") {
        fail(path, "the pattern gives an empty name; left alone");
        return;
    }
    const NameParts parts = splitName(path);
    const QByteArray target = parts.folder + base + parts.extension;
    if (target == path) {
        ++m_unchanged;
        return;
    }
    const QByteArray key = absolutePath(target);
    if (taken.contains(key)) {
        fail(path, "another file is already renamed to " + target + "; left alone");
        return;
    }
    taken.insert(key);
    if (m_options.dryRun) {
        ++m_changed;
        print(path + " → " + target + '\n');
        return;
    }
    if (moveFile(path, target))
        record(target, {}, path, {});
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

int Runner::import()
{
    if (m_options.arguments.size() > 1)
        return usage("import reads one csv file");
    const QByteArray source = m_options.arguments.value(0, "-");
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> opened(
        source == "-" ? nullptr : std::fopen(source.constData(), "rb"), &std::fclose);
    if (source != "-" && !opened) {
        fail(source, "unreadable: " + errorText(errno));
        return status();
    }
    CsvReader reader(opened ? opened.get() : stdin);
    QList<QByteArray> header;
    reader.next(header);
    QList<QString audiotag::*> members;
    for (const QByteArray& column : std::as_const(header)) {
        members.append(memberNamed(QString::fromUtf8(column)));
        if (!members.last() && column != "path" && column != "length" && column != "pictures")
            return usage("unknown column '" + column + "' in " + source);
    }
    const qsizetype pathColumn = header.indexOf("path");
    if (pathColumn < 0)
        return usage("the csv has no 'path' column");
    if (!startJournal())
        return status();
    m_progress = std::make_unique<Progress>(progressWanted(m_options.quiet), 0);
    QList<QByteArray> cells;
    for (qint64 record = 2; reader.next(cells); ++record) {
        if (cells.size() != header.size()) {
            fail(source, "record " + QByteArray::number(record) + " has " +
                             QByteArray::number(cells.size()) + " cells, not " +
                             QByteArray::number(header.size()) + "; skipped");
            continue;
        }
        changeFile(cells[pathColumn], [&](const QByteArray&, audiotag& tag) {
            for (qsizetype i = 0; i < cells.size(); ++i) {
                if (members[i])
                    tag.*members[i] = QString::fromUtf8(cells[i]);
            }
            return true;
        });
        m_progress->step();
    }
    m_progress.reset();
    if (!reader.wellFormed())
        fail(source, "the last record ends inside a quoted cell");
    summarize();
    return status();
}

int Runner::history()
{
    QList<QByteArray> named;
    for (const QByteArray& path : m_options.arguments)
        named.append(absolutePath(path));
    const QList<JournalRecord> records = readJournal();
    const QSet<QByteArray> undone = undoneKeys(records);
    for (const JournalRecord& entry : records) {
        const bool wanted =
            named.isEmpty() || std::any_of(named.begin(), named.end(), [&](const QByteArray& path) {
                return concerns(entry, path);
            });
        if (wanted)
            writeBytes(stdout, historyLine(entry, undone.contains(entry.key())));
    }
    return kExitSuccess;
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
    const QList<JournalRecord> records = m_options.dryRun ? readJournal() : m_journal.records();
    for (const JournalRecord& entry : records)
        m_journalled.insert(entry.path, entry.identity);
    const QList<JournalRecord> pending = pendingRecords(records, m_options.all ? -1 : count);
    if (pending.isEmpty() && !m_options.quiet)
        writeBytes(stderr, "tagora-cli: nothing to undo\n");
    m_progress = std::make_unique<Progress>(progressWanted(m_options.quiet), pending.size());
    for (const JournalRecord& entry : pending) {
        undoRecord(entry);
        m_progress->step();
    }
    m_progress.reset();
    summarize();
    return status();
}

void Runner::undoRecord(const JournalRecord& entry)
{
    FileIdentity now;
    if (!identityOf(entry.path, now)) {
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
        if (m_options.dryRun) {
            ++m_changed;
            print(entry.path + " → " + entry.previousName + '\n');
        } else if (moveFile(entry.path, entry.previousName)) {
            record(entry.previousName, {}, entry.path, entry.key());
        }
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

void Runner::undoPictures(const JournalRecord& entry)
{
    QByteArray reason;
    if (!undoPictureRecord(entry, m_options.dryRun, reason)) {
        fail(entry.path, reason + "; not undone");
    } else if (m_options.dryRun) {
        ++m_changed;
        print(entry.path + ": pictures put back\n");
    } else {
        record(entry.path, {}, {}, entry.key());
    }
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
    const std::pair<const char*, int (Runner::*)()> commands[] = {
        {"ls", &Runner::list},       {"get", &Runner::get},       {"set", &Runner::set},
        {"strip", &Runner::strip},   {"copy", &Runner::copy},     {"fill", &Runner::fill},
        {"rename", &Runner::rename}, {"import", &Runner::import}, {"history", &Runner::history},
        {"undo", &Runner::undo},
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
    const int status = runner.run();
    std::fflush(stdout);
    return status;
}

} // namespace tagora::cli

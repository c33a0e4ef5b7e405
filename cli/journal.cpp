#include "journal.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tagora::cli {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr int kFixedColumns = 11;
const QByteArray kWrittenAhead = QByteArrayLiteral("W");
const QByteArray kDone = QByteArrayLiteral("D");
const QByteArray kAbandoned = QByteArrayLiteral("A");

QByteArray stateFolder()
{
    const QByteArray state = qgetenv("XDG_STATE_HOME");
    if (state.startsWith('/'))
        return state + "/tagora";
    return qgetenv("HOME") + "/.local/state/tagora";
}

bool makeFolders(const QByteArray& folder)
{
    for (qsizetype slash = folder.indexOf('/', 1); slash != -1;
         slash = folder.indexOf('/', slash + 1)) {
        if (::mkdir(folder.left(slash).constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return ::mkdir(folder.constData(), 0700) == 0 || errno == EEXIST;
}

QByteArray identityColumns(const FileIdentity& identity)
{
    return QByteArray::number(quint64(identity.device)) + '\t' +
           QByteArray::number(quint64(identity.inode)) + '\t' +
           QByteArray::number(qint64(identity.size)) + '\t' +
           QByteArray::number(identity.modifiedNs);
}

QByteArray recordLine(const JournalRecord& record)
{
    QList<QByteArray> columns{
        kWrittenAhead,
        QByteArray::number(record.operation),
        QByteArray::number(record.sequence),
        QByteArray::number(record.when),
        record.command,
        journalEscaped(record.path),
        identityColumns(record.identity),
        record.undoes.isEmpty() ? QByteArray("-") : record.undoes,
        record.previousName.isEmpty() ? QByteArray("-") : '=' + journalEscaped(record.previousName),
    };
    for (qsizetype i = 0; i < record.fields.size(); ++i)
        columns.append(record.fields[i] + '=' + journalEscaped(record.values[i]));
    return columns.join('\t') + '\n';
}

// Reads the numbers of columns[first...], all or nothing.
class NumberColumns
{
public:
    NumberColumns(const QList<QByteArray>& columns, qsizetype first)
        : m_columns(columns), m_next(first)
    {}
    qint64 next()
    {
        bool good = false;
        const qint64 value = m_columns.value(m_next++).toLongLong(&good);
        m_ok = m_ok && good;
        return value;
    }
    FileIdentity identity()
    {
        FileIdentity identity;
        identity.device = dev_t(next());
        identity.inode = ino_t(next());
        identity.size = off_t(next());
        identity.modifiedNs = next();
        return identity;
    }
    bool ok() const { return m_ok; }

private:
    const QList<QByteArray>& m_columns;
    qsizetype m_next;
    bool m_ok = true;
};

// A record line: written ahead ("W" first, pending until settled) or, from journals of
// earlier versions, written after its change (done).
bool parseRecord(const QList<QByteArray>& line, JournalRecord& record)
{
    const bool ahead = line.value(0) == kWrittenAhead;
    const QList<QByteArray> columns = ahead ? line.mid(1) : line;
    if (columns.size() < kFixedColumns)
        return false;
    NumberColumns numbers(columns, 0);
    record.stage = ahead ? JournalRecord::Stage::Pending : JournalRecord::Stage::Done;
    record.operation = numbers.next();
    record.sequence = int(numbers.next());
    record.when = numbers.next();
    record.command = columns[3];
    record.path = journalUnescaped(columns[4]);
    NumberColumns identity(columns, 5);
    record.identity = identity.identity();
    record.undoes = columns[9] == "-" ? QByteArray() : columns[9];
    record.previousName = columns[10] == "-" ? QByteArray() : journalUnescaped(columns[10].mid(1));
    for (qsizetype i = kFixedColumns; i < columns.size(); ++i) {
        const qsizetype equals = columns[i].indexOf('=');
        if (equals <= 0)
            return false;
        record.fields.append(columns[i].left(equals));
        record.values.append(journalUnescaped(columns[i].mid(equals + 1)));
    }
    return numbers.ok() && identity.ok();
}

// A settling line: "D key identity" (done, the file is now that) or "A key" (abandoned).
void applySettling(const QList<QByteArray>& columns, QList<JournalRecord>& records,
                   const QHash<QByteArray, qsizetype>& byKey)
{
    const auto found = byKey.constFind(columns.value(1));
    if (found == byKey.constEnd())
        return;
    JournalRecord& record = records[*found];
    if (columns[0] == kAbandoned) {
        record.stage = JournalRecord::Stage::Abandoned;
        return;
    }
    NumberColumns numbers(columns, 2);
    const FileIdentity after = numbers.identity();
    if (numbers.ok()) {
        record.identity = after;
        record.stage = JournalRecord::Stage::Done;
    }
}

QList<JournalRecord> parseJournal(const QByteArray& contents)
{
    QList<JournalRecord> records;
    QHash<QByteArray, qsizetype> byKey;
    QList<QByteArray> lines = contents.split('\n');
    // What follows the last line break is a line cut short by a crash or a full disk.
    lines.removeLast();
    for (const QByteArray& line : std::as_const(lines)) {
        const QList<QByteArray> columns = line.split('\t');
        if (columns[0] == kDone || columns[0] == kAbandoned) {
            applySettling(columns, records, byKey);
            continue;
        }
        JournalRecord record;
        if (parseRecord(columns, record)) {
            byKey.insert(record.key(), records.size());
            records.append(record);
        }
    }
    return records;
}

// Calls `visit` with each whole line (without its line break) and where it starts, holding
// one block of the file at a time. A last line without its line break is not visited.
bool forEachLine(int fd, const std::function<void(const QByteArray&, off_t)>& visit)
{
    QByteArray line;
    off_t lineStart = 0;
    char buffer[65536];
    for (off_t at = 0;;) {
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0;
        const char* from = buffer;
        const char* end = buffer + got;
        while (const char* lineBreak =
                   static_cast<const char*>(std::memchr(from, '\n', size_t(end - from)))) {
            line.append(from, lineBreak - from);
            visit(line, lineStart);
            line.clear();
            from = lineBreak + 1;
            lineStart = at + (from - buffer);
        }
        line.append(from, end - from);
        at += got;
    }
}

// The operation a line belongs to, 0 for none.
qint64 operationOfLine(const QByteArray& line)
{
    const QList<QByteArray> columns = line.left(64).split('\t');
    const bool tagged =
        columns[0] == kWrittenAhead || columns[0] == kDone || columns[0] == kAbandoned;
    const QByteArray number = tagged ? columns.value(1) : columns[0];
    return number.left(number.indexOf('.') < 0 ? number.size() : number.indexOf('.')).toLongLong();
}

// The first `count` tab-separated columns of a line, leaving the values after them unsplit.
QList<QByteArray> leadingColumns(const QByteArray& line, qsizetype count)
{
    QList<QByteArray> columns;
    qsizetype from = 0;
    while (columns.size() < count) {
        const qsizetype tab = line.indexOf('\t', from);
        columns.append(line.mid(from, tab < 0 ? -1 : tab - from));
        if (tab < 0)
            break;
        from = tab + 1;
    }
    return columns;
}

// What the whole journal says of its records beyond their own lines: how each was settled,
// and which an undo that was done put back. One pass, keeping keys only.
class Settlements
{
public:
    bool read(int fd)
    {
        return forEachLine(fd, [this](const QByteArray& line, off_t) {
            take(leadingColumns(line, kFixedColumns + 1));
        });
    }

    void apply(JournalRecord& record) const
    {
        const auto found = m_settled.constFind(record.key());
        if (found == m_settled.constEnd())
            return;
        record.stage =
            found->abandoned ? JournalRecord::Stage::Abandoned : JournalRecord::Stage::Done;
        if (!found->abandoned)
            record.identity = found->after;
    }

    QSet<QByteArray> undone() const
    {
        QSet<QByteArray> keys;
        for (auto it = m_undoes.cbegin(); it != m_undoes.cend(); ++it) {
            const auto settled = m_settled.constFind(it.key());
            const bool done =
                settled != m_settled.constEnd() ? !settled->abandoned : m_legacy.contains(it.key());
            if (done)
                keys.insert(it.value());
        }
        return keys;
    }

private:
    struct Settled
    {
        bool abandoned = false;
        FileIdentity after;
    };

    void take(const QList<QByteArray>& columns)
    {
        if (columns[0] == kDone || columns[0] == kAbandoned) {
            NumberColumns numbers(columns, 2);
            Settled settled{columns[0] == kAbandoned, {}};
            if (!settled.abandoned)
                settled.after = numbers.identity();
            if (settled.abandoned || numbers.ok())
                m_settled.insert(columns.value(1), settled);
            return;
        }
        const bool ahead = columns[0] == kWrittenAhead;
        const qsizetype first = ahead ? 1 : 0;
        if (columns.size() < first + kFixedColumns || columns[first + 9] == "-")
            return;
        const QByteArray key = columns[first] + '.' + columns[first + 1];
        m_undoes.insert(key, columns[first + 9]);
        if (!ahead)
            m_legacy.insert(key);
    }

    QHash<QByteArray, Settled> m_settled;
    QHash<QByteArray, QByteArray> m_undoes; // an undo's record -> the record it put back
    QSet<QByteArray> m_legacy;              // undos of journals written before settling lines
};

bool streamRecords(int fd, const JournalVisitor& visit)
{
    Settlements settlements;
    if (!settlements.read(fd))
        return false;
    const QSet<QByteArray> undone = settlements.undone();
    return forEachLine(fd, [&](const QByteArray& line, off_t) {
        JournalRecord record;
        const QList<QByteArray> columns = line.split('\t');
        if (columns[0] == kDone || columns[0] == kAbandoned || !parseRecord(columns, record))
            return;
        settlements.apply(record);
        visit(record, undone.contains(record.key()));
    });
}

// The records in the journal's last kTail bytes, so a long journal costs no more to open
// than a short one; a line the cut falls into is left out. A group of saves a kill cut short
// leaves its pending records within them (groupcommit.cpp).
QList<JournalRecord> tailRecords(int fd)
{
    constexpr off_t kTail = 256 * 1024;
    struct stat info;
    if (::fstat(fd, &info) != 0 || info.st_size == 0)
        return {};
    const off_t start = std::max<off_t>(0, info.st_size - kTail);
    QByteArray tail(info.st_size - start, Qt::Uninitialized);
    const ssize_t got = ::pread(fd, tail.data(), size_t(tail.size()), start);
    tail.truncate(std::max<ssize_t>(got, 0));
    if (start > 0)
        tail.remove(0, tail.indexOf('\n') + 1);
    return parseJournal(tail);
}

// The number of the journal's last operation, 0 for none; the whole journal is walked only
// when its end holds no whole record (one value longer than the tail).
qint64 lastOperation(int fd)
{
    struct stat info;
    if (::fstat(fd, &info) != 0 || info.st_size == 0)
        return 0;
    const QList<JournalRecord> records = tailRecords(fd);
    if (!records.isEmpty())
        return records.last().operation;
    qint64 last = 0;
    forEachLine(
        fd, [&](const QByteArray& line, off_t) { last = std::max(last, operationOfLine(line)); });
    return last;
}

// A last line cut short by a crash or a full disk is cut off, so neither the next record
// nor a later reader takes its remains for a whole line.
bool dropCutLine(int fd)
{
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return false;
    constexpr off_t kStep = 65536;
    QByteArray block;
    for (off_t end = info.st_size; end > 0; end -= block.size()) {
        block.resize(qsizetype(std::min(end, kStep)));
        if (::pread(fd, block.data(), size_t(block.size()), end - block.size()) != block.size())
            return false;
        const qsizetype lineBreak = block.lastIndexOf('\n');
        if (lineBreak >= 0) {
            const off_t whole = end - block.size() + lineBreak + 1;
            return whole == info.st_size || ::ftruncate(fd, whole) == 0;
        }
    }
    return info.st_size == 0 || ::ftruncate(fd, 0) == 0;
}

} // namespace

QByteArray JournalRecord::key() const
{
    return QByteArray::number(operation) + '.' + QByteArray::number(sequence);
}

Journal::~Journal()
{
    if (m_fd >= 0) {
        ::fdatasync(m_fd);
        ::close(m_fd);
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd); // releases the lock
}

QByteArray Journal::path()
{
    return stateFolder() + "/journal";
}

bool Journal::open(QByteArray& reason)
{
    if (!makeFolders(stateFolder())) {
        reason = "cannot create " + stateFolder() + ": " + errorText(errno);
        return false;
    }
    // The lock is on a file of its own, as trimming replaces the journal: a command waiting
    // for the lock opens the journal only once it has it, and so never writes to one that
    // was replaced in the meantime.
    const QByteArray lock = path() + ".lock";
    m_lockFd = ::open(lock.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0 || ::flock(m_lockFd, LOCK_EX) != 0) {
        reason = "cannot lock " + lock + ": " + errorText(errno);
        return false;
    }
    m_fd = ::open(path().constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        reason = "cannot be opened: " + errorText(errno);
        return false;
    }
    if (!dropCutLine(m_fd)) {
        reason = "cannot be written: " + errorText(errno);
        return false;
    }
    m_operation = lastOperation(m_fd) + 1;
    return true;
}

bool Journal::trim(const JournalLimits& limits, QByteArray& reason)
{
    struct stat info;
    if (::fstat(m_fd, &info) != 0 || info.st_size == 0)
        return true;
    char head[64] = {};
    const ssize_t got = ::pread(m_fd, head, sizeof head - 1, 0);
    const qint64 first = operationOfLine(QByteArray(head, int(std::max<ssize_t>(got, 0))));
    // Room is left for the operation about to begin.
    const qint64 older = limits.operations - 1;
    if (info.st_size <= limits.bytes && m_operation - first <= older)
        return true;
    // Where each operation's first line starts; whole operations go, oldest first.
    QList<std::pair<qint64, off_t>> starts;
    forEachLine(m_fd, [&](const QByteArray& line, off_t start) {
        const qint64 operation = operationOfLine(line);
        if (operation > 0 && (starts.isEmpty() || operation > starts.last().first))
            starts.append({operation, start});
    });
    qsizetype kept = 0;
    while (kept < starts.size() &&
           (starts.size() - kept > older || info.st_size - starts[kept].second > limits.bytes))
        ++kept;
    if (kept == 0)
        return true;
    const off_t from = kept < starts.size() ? starts[kept].second : info.st_size;
    if (!replaceWithTail(from)) {
        reason = "cannot be trimmed: " + errorText(errno);
        return false;
    }
    return true;
}

// The journal from `from` on takes the journal's place whole, or not at all.
bool Journal::replaceWithTail(off_t from)
{
    const QByteArray fresh = path() + ".new";
    const int fd = ::open(fresh.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0;
    QByteArray block;
    for (off_t at = from; ok;) {
        block.resize(65536);
        const ssize_t got = ::pread(m_fd, block.data(), size_t(block.size()), at);
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        ok = writeAll(fd, block.left(got));
        at += got;
    }
    ok = ok && ::fsync(fd) == 0 && ::rename(fresh.constData(), path().constData()) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!ok) {
        ::unlink(fresh.constData());
        return false;
    }
    const int reopened = ::open(path().constData(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (reopened < 0)
        return false;
    ::close(m_fd);
    m_fd = reopened;
    return true;
}

bool Journal::appendLine(const QByteArray& line)
{
    // One write per line, so a crash leaves whole lines and at most one cut-off last line.
    return writeAll(m_fd, line);
}

bool Journal::writeAhead(JournalRecord& record)
{
    record.operation = m_operation;
    record.sequence = ++m_sequence;
    record.when = qint64(std::time(nullptr));
    record.stage = JournalRecord::Stage::Pending;
    const QByteArray line = recordLine(record);
    if (!appendLine(line))
        return false;
    m_unflushed += line.size();
    return m_deferFlushes || flush();
}

bool Journal::flush()
{
    if (m_unflushed == 0)
        return true;
    if (::fdatasync(m_fd) != 0)
        return false;
    m_unflushed = 0;
    return true;
}

// Settling lines are not flushed one by one: a record whose settling is lost is settled
// again from the file by the next run.
bool Journal::markDone(const JournalRecord& record, const FileIdentity& after)
{
    return appendLine(kDone + '\t' + record.key() + '\t' + identityColumns(after) + '\n');
}

bool Journal::markAbandoned(const JournalRecord& record)
{
    return appendLine(kAbandoned + '\t' + record.key() + '\n');
}

QList<JournalRecord> Journal::recentRecords() const
{
    return tailRecords(m_fd);
}

bool Journal::stream(const JournalVisitor& visit, QByteArray& reason) const
{
    if (streamRecords(m_fd, visit))
        return true;
    reason = "cannot be read: " + errorText(errno);
    return false;
}

bool streamJournal(const JournalVisitor& visit, QByteArray& reason)
{
    const int fd = ::open(Journal::path().constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        return true;
    const bool read = fd >= 0 && streamRecords(fd, visit);
    if (!read)
        reason = "cannot be read: " + errorText(errno);
    if (fd >= 0)
        ::close(fd);
    return read;
}

QByteArray journalEscaped(const QByteArray& bytes)
{
    QByteArray out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || byte == '%') {
            out += '%';
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 0xf];
        } else {
            out += c;
        }
    }
    return out;
}

QByteArray journalUnescaped(const QByteArray& text)
{
    return QByteArray::fromPercentEncoding(text);
}

} // namespace tagora::cli

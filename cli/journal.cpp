#include "journal.h"

#include <QHash>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
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

bool writeAll(int fd, const QByteArray& bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
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

bool readAll(int fd, QByteArray& contents)
{
    char buffer[65536];
    for (ssize_t got; (got = ::pread(fd, buffer, sizeof buffer, contents.size())) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        contents.append(buffer, got);
    }
    return true;
}

// The records in the journal's last kTail bytes, so a long journal costs no more to open
// than a short one; a line the cut falls into is left out.
QList<JournalRecord> tailRecords(int fd)
{
    constexpr off_t kTail = 65536;
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

// The number of the journal's last operation, 0 for none; the whole journal is read only
// when its end holds no whole record (one value longer than the tail).
qint64 lastOperation(int fd)
{
    struct stat info;
    if (::fstat(fd, &info) != 0 || info.st_size == 0)
        return 0;
    QList<JournalRecord> records = tailRecords(fd);
    if (records.isEmpty()) {
        QByteArray contents;
        readAll(fd, contents);
        records = parseJournal(contents);
    }
    return records.isEmpty() ? 0 : records.last().operation;
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
    if (m_fd < 0)
        return;
    ::fdatasync(m_fd);
    ::close(m_fd); // also releases the lock
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
    m_fd = ::open(path().constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0 || ::flock(m_fd, LOCK_EX) != 0) {
        reason = "cannot open " + path() + ": " + errorText(errno);
        return false;
    }
    if (!dropCutLine(m_fd)) {
        reason = "cannot write " + path() + ": " + errorText(errno);
        return false;
    }
    m_operation = lastOperation(m_fd) + 1;
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
    return appendLine(recordLine(record)) && ::fdatasync(m_fd) == 0;
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

bool Journal::records(QList<JournalRecord>& records, QByteArray& reason) const
{
    QByteArray contents;
    if (!readAll(m_fd, contents)) {
        reason = "cannot read " + path() + ": " + errorText(errno);
        return false;
    }
    records = parseJournal(contents);
    return true;
}

bool readJournal(QList<JournalRecord>& records, QByteArray& reason)
{
    records.clear();
    const int fd = ::open(Journal::path().constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        return true;
    QByteArray contents;
    if (fd < 0 || !readAll(fd, contents)) {
        reason = "cannot read " + Journal::path() + ": " + errorText(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    records = parseJournal(contents);
    return true;
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

#include "journal.h"

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

QByteArray recordLine(const JournalRecord& record)
{
    QList<QByteArray> columns{
        QByteArray::number(record.operation),
        QByteArray::number(record.sequence),
        QByteArray::number(record.when),
        record.command,
        journalEscaped(record.path),
        QByteArray::number(quint64(record.identity.device)),
        QByteArray::number(quint64(record.identity.inode)),
        QByteArray::number(qint64(record.identity.size)),
        QByteArray::number(record.identity.modifiedNs),
        record.undoes.isEmpty() ? QByteArray("-") : record.undoes,
        record.previousName.isEmpty() ? QByteArray("-") : '=' + journalEscaped(record.previousName),
    };
    for (qsizetype i = 0; i < record.fields.size(); ++i)
        columns.append(record.fields[i] + '=' + journalEscaped(record.values[i]));
    return columns.join('\t') + '\n';
}

bool parseLine(const QByteArray& line, JournalRecord& record)
{
    const QList<QByteArray> columns = line.split('\t');
    if (columns.size() < kFixedColumns)
        return false;
    bool ok = true;
    const auto number = [&](int i) {
        bool good = false;
        const qint64 value = columns[i].toLongLong(&good);
        ok = ok && good;
        return value;
    };
    record.operation = number(0);
    record.sequence = int(number(1));
    record.when = number(2);
    record.command = columns[3];
    record.path = journalUnescaped(columns[4]);
    record.identity.device = dev_t(number(5));
    record.identity.inode = ino_t(number(6));
    record.identity.size = off_t(number(7));
    record.identity.modifiedNs = number(8);
    record.undoes = columns[9] == "-" ? QByteArray() : columns[9];
    record.previousName = columns[10] == "-" ? QByteArray() : journalUnescaped(columns[10].mid(1));
    for (qsizetype i = kFixedColumns; i < columns.size(); ++i) {
        const qsizetype equals = columns[i].indexOf('=');
        if (equals <= 0)
            return false;
        record.fields.append(columns[i].left(equals));
        record.values.append(journalUnescaped(columns[i].mid(equals + 1)));
    }
    return ok;
}

QList<JournalRecord> parseJournal(const QByteArray& contents)
{
    QList<JournalRecord> records;
    for (const QByteArray& line : contents.split('\n')) {
        JournalRecord record;
        // A line cut short by a crash mid-write is passed over; the rest still count.
        if (parseLine(line, record))
            records.append(record);
    }
    return records;
}

QByteArray readAll(int fd)
{
    QByteArray contents;
    char buffer[65536];
    for (ssize_t got; (got = ::pread(fd, buffer, sizeof buffer, contents.size())) != 0;) {
        if (got < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        contents.append(buffer, got);
    }
    return contents;
}

// The number of the journal's last operation, 0 for none. Only the journal's end is read
// when it holds a whole record, so a long journal costs no more to open than a short one.
qint64 lastOperation(int fd)
{
    constexpr off_t kTail = 65536;
    struct stat info;
    if (::fstat(fd, &info) != 0 || info.st_size == 0)
        return 0;
    if (info.st_size > kTail) {
        QByteArray tail(kTail, Qt::Uninitialized);
        const ssize_t got = ::pread(fd, tail.data(), size_t(kTail), info.st_size - kTail);
        const QList<JournalRecord> records = parseJournal(tail.left(qMax<ssize_t>(got, 0)));
        if (!records.isEmpty())
            return records.last().operation;
    }
    const QList<JournalRecord> records = parseJournal(readAll(fd));
    return records.isEmpty() ? 0 : records.last().operation;
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
    m_operation = lastOperation(m_fd) + 1;
    return true;
}

bool Journal::append(JournalRecord record)
{
    record.operation = m_operation;
    record.sequence = ++m_sequence;
    record.when = qint64(std::time(nullptr));
    // One write per record, so a crash leaves whole lines; the records reach the disk
    // together when the journal closes, not one flush per file.
    return writeAll(m_fd, recordLine(record));
}

QList<JournalRecord> Journal::records() const
{
    return parseJournal(readAll(m_fd));
}

QList<JournalRecord> readJournal()
{
    const int fd = ::open(Journal::path().constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    const QByteArray contents = readAll(fd);
    ::close(fd);
    return parseJournal(contents);
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

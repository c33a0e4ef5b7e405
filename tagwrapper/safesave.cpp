#include "safesave.h"

#include "fileio.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace tagwrapper {

namespace {

constexpr off_t kChunk = 1 << 20;
const char kCopySuffix[] = ".tagora-tmp";
constexpr size_t kCopySuffixLength = sizeof(kCopySuffix) - 1;
constexpr size_t kRandomLength = 6;
// Longest part of the original name kept in a copy's name, so the whole stays below NAME_MAX.
constexpr size_t kMaxNamePart = 200;
// Larger files in a batch are saved at once, in place when their tag fits: a copy of each
// held until the batch ends would cost their size in disk space and time.
constexpr off_t kLargestHeldFile = off_t(16) << 20;
// Up to this size, a file of a batch whose tag changes size is written whole in place.
constexpr off_t kLargestRewrittenFile = off_t(1) << 20;

// Copies count bytes from one descriptor to another; false unless every byte arrived.
bool copyRange(int from, off_t fromAt, int to, off_t toAt, off_t count)
{
    std::vector<char> buffer(size_t(std::min(count, kChunk)));
    while (count > 0) {
        const size_t want = size_t(std::min<off_t>(count, off_t(buffer.size())));
        size_t got = 0;
        if (!readAll(from, buffer.data(), want, fromAt, got) || got != want)
            return false;
        if (!writeAll(to, buffer.data(), got, toAt))
            return false;
        fromAt += off_t(got);
        toAt += off_t(got);
        count -= off_t(got);
    }
    return true;
}

long sizeOf(int fd)
{
    struct stat st;
    return fd >= 0 && ::fstat(fd, &st) == 0 ? long(st.st_size) : 0;
}

using tagora::identityFromStat;

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The copy TagLib writes into. It is locked for as long as it exists, which tells a cleanup
// in another process that its save is still running, and it goes away with this object
// unless it took the original's place.
class TemporaryCopy
{
public:
    TemporaryCopy() = default;
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;
    TemporaryCopy(TemporaryCopy&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)),
          m_renamed(other.m_renamed)
    {}
    ~TemporaryCopy()
    {
        if (m_fd < 0)
            return;
        if (!m_renamed)
            ::unlink(m_path.c_str());
        ::close(m_fd);
    }

    bool create(const std::string& folder, const std::string& name)
    {
        std::string pattern = folder;
        if (pattern.empty() || pattern.back() != '/')
            pattern += '/';
        pattern += '.';
        pattern += name.substr(0, kMaxNamePart);
        pattern += '.';
        pattern.append(kRandomLength, 'X');
        pattern += kCopySuffix;
        return createLockedFirst(folder, pattern) || createNamedFirst(pattern);
    }

    int fd() const { return m_fd; }
    const std::string& path() const { return m_path; }
    void renamed() { m_renamed = true; }

private:
    // The copy is locked before it has a name, so a cleanup never sees a running save's copy
    // unlocked and can remove every unlocked one at once, however young.
    bool createLockedFirst(const std::string& folder, const std::string& pattern)
    {
        const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        ::flock(fd, LOCK_EX | LOCK_NB);
        const std::string unnamed = "/proc/self/fd/" + std::to_string(fd);
        constexpr int kTries = 16;
        for (int i = 0; i < kTries; ++i) {
            const std::string path = withRandomPart(pattern);
            if (::linkat(AT_FDCWD, unnamed.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) ==
                0) {
                m_fd = fd;
                m_path = path;
                return true;
            }
            if (errno != EEXIST)
                break;
        }
        ::close(fd);
        return false;
    }

    // Where a file cannot be made unnamed first, a cleanup may remove the copy between its
    // creation and its lock; its save then fails at the rename and the original stays whole.
    bool createNamedFirst(const std::string& pattern)
    {
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        const int fd = ::mkostemps(buffer.data(), int(kCopySuffixLength), O_CLOEXEC);
        if (fd < 0)
            return false;
        m_fd = fd;
        m_path = buffer.data();
        ::flock(m_fd, LOCK_EX | LOCK_NB);
        return true;
    }

    static std::string withRandomPart(std::string pattern)
    {
        static const char kLetters[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        unsigned char random[kRandomLength] = {};
        if (::getrandom(random, sizeof random, 0) != ssize_t(sizeof random))
            return pattern;
        const size_t at = pattern.size() - kCopySuffixLength - kRandomLength;
        for (size_t i = 0; i < kRandomLength; ++i)
            pattern[at + i] = kLetters[random[i] % (sizeof kLetters - 1)];
        return pattern;
    }

    int m_fd = -1;
    std::string m_path;
    bool m_renamed = false;
};

// A rename would lose extended attributes (ACLs, labels, user data) the copy does not carry.
bool copyExtendedAttributes(int from, int to)
{
    ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size < 0)
        return errno == ENOTSUP;
    if (size == 0)
        return true;
    std::vector<char> names(size_t(size) + 1);
    size = ::flistxattr(from, names.data(), names.size());
    if (size < 0)
        return false;
    for (ssize_t at = 0; at < size;) {
        const char* attribute = names.data() + at;
        at += ssize_t(std::strlen(attribute)) + 1;
        const ssize_t length = ::fgetxattr(from, attribute, nullptr, 0);
        if (length < 0)
            return false;
        std::vector<char> value(size_t(length) + 1);
        const ssize_t got = ::fgetxattr(from, attribute, value.data(), value.size());
        if (got < 0 || ::fsetxattr(to, attribute, value.data(), size_t(got), 0) != 0)
            return false;
    }
    return true;
}

// Gives the copy the original's owner, mode and extended attributes; false when one of them
// cannot be given (a user may not hand a file to another owner).
bool giveAttributes(int original, int copy, const struct stat& st)
{
    struct stat cs;
    if (::fstat(copy, &cs) != 0)
        return false;
    if ((cs.st_uid != st.st_uid || cs.st_gid != st.st_gid) &&
        ::fchown(copy, st.st_uid, st.st_gid) != 0)
        return false;
    // After fchown, which clears set-user-ID bits.
    if (::fchmod(copy, st.st_mode & 07777) != 0)
        return false;
    return copyExtendedAttributes(original, copy);
}

// Writes the verified copy over the original, keeping its inode (its other hard links, owner
// and attributes). Room for any growth is claimed first, so a full disk or a size limit is
// met while the original is still whole.
bool overwriteInPlace(const std::string& target, int copy, const FileIdentity& opened,
                      bool& touched)
{
    touched = false;
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st;
    struct stat cs;
    bool ok = ::fstat(fd, &st) == 0 && identityFromStat(st) == opened && ::fstat(copy, &cs) == 0;
    const off_t oldSize = opened.size;
    const off_t newSize = ok ? cs.st_size : 0;
    struct rlimit limit;
    if (ok && ::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        rlim_t(newSize) > limit.rlim_cur)
        ok = false;
    touched = ok;
    if (ok && newSize > oldSize) {
        if (!copyRange(copy, oldSize, fd, oldSize, newSize - oldSize) || ::fsync(fd) != 0) {
            if (::ftruncate(fd, oldSize) != 0) {
                // Nothing more can be done; the bytes before oldSize were never touched.
            }
            ok = false;
        }
    }
    ok = ok && copyRange(copy, 0, fd, 0, std::min(oldSize, newSize));
    if (ok && newSize < oldSize)
        ok = ::ftruncate(fd, newSize) == 0;
    ok = ok && ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// --- Backups of files written in place ------------------------------------------------------

const char kBackupSuffix[] = ".tagora-backup";
const char kPartialSuffix[] = ".tagora-backup-partial";

// $XDG_STATE_HOME/tagora/backups (~/.local/state/tagora/backups); empty when there is no
// such place.
std::string backupFolderPath()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string folder;
    if (state && state[0] == '/') {
        folder = state;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/')
            return {};
        folder = std::string(home) + "/.local/state";
    }
    return folder + "/tagora/backups";
}

// The backup folder, made when missing.
std::string backupFolder()
{
    const std::string folder = backupFolderPath();
    if (folder.empty())
        return {};
    for (size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1))
        ::mkdir(folder.substr(0, slash).c_str(), 0700);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    return folder;
}

bool hasSuffix(const char* name, const char* suffix)
{
    const size_t length = std::strlen(name);
    const size_t suffixLength = std::strlen(suffix);
    return length > suffixLength && std::strcmp(name + length - suffixLength, suffix) == 0;
}

// A backup file: a header line "<device> <inode> <size> <path length> <span count>\n", the
// path's bytes, a line "<offset> <length>\n" per span of the file it keeps, then the bytes of
// those spans as they were before the write in place. A header without a span count keeps
// the whole file.
struct BackupSpan
{
    off_t offset = 0;
    off_t length = 0;
    off_t dataAt = 0;
};

struct BackupHeader
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::string target;
    std::vector<BackupSpan> spans;
};

// More changed regions than this are written through a copy: a tag is a handful of them.
constexpr size_t kMaxSpans = 64;
constexpr size_t kSpanLineLength = 48;

// Reads the span lines from `at`; where the data of the first span starts, or -1.
off_t readSpans(int fd, off_t at, size_t count, std::vector<BackupSpan>& spans)
{
    std::vector<char> lines(count * kSpanLineLength + 1, '\0');
    size_t got = 0;
    if (count > kMaxSpans || !readAll(fd, lines.data(), lines.size() - 1, at, got))
        return -1;
    size_t used = 0;
    for (size_t i = 0; i < count; ++i) {
        long long offset = 0, length = 0;
        int n = 0;
        if (std::sscanf(lines.data() + used, "%lld %lld\n%n", &offset, &length, &n) != 2 ||
            n == 0 || offset < 0 || length < 0)
            return -1;
        used += size_t(n);
        spans.push_back({off_t(offset), off_t(length), 0});
    }
    off_t dataAt = at + off_t(used);
    for (BackupSpan& span : spans) {
        span.dataAt = dataAt;
        dataAt += span.length;
    }
    return at + off_t(used);
}

// Reads the entry that starts at `at`; a batch's record holds one entry per file, one after
// the other.
bool readHeader(int fd, off_t at, BackupHeader& header)
{
    char line[128] = {};
    size_t got = 0;
    if (!readAll(fd, line, sizeof line - 1, at, got))
        return false;
    char* end = static_cast<char*>(std::memchr(line, '\n', got));
    if (!end)
        return false;
    *end = '\0';
    unsigned long long device = 0, inode = 0;
    long long size = 0;
    size_t pathLength = 0;
    size_t spanCount = 0;
    const int fields = std::sscanf(line, "%llu %llu %lld %zu %zu", &device, &inode, &size,
                                   &pathLength, &spanCount);
    if (fields < 4 || pathLength == 0 || pathLength > 65536 || size < 0)
        return false;
    const off_t pathAt = at + off_t(end - line) + 1;
    std::vector<char> path(pathLength);
    if (!readAll(fd, path.data(), pathLength, pathAt, got) || got != pathLength)
        return false;
    header = {dev_t(device), ino_t(inode), off_t(size), std::string(path.begin(), path.end()), {}};
    const off_t spansAt = pathAt + off_t(pathLength);
    if (fields == 4) {
        header.spans.push_back({0, off_t(size), spansAt});
        return true;
    }
    return readSpans(fd, spansAt, spanCount, header.spans) >= 0;
}

// Where the entry after `header` starts.
off_t entryEnd(const BackupHeader& header)
{
    const BackupSpan& last = header.spans.back();
    return last.dataAt + last.length;
}

// Puts the bytes a backup holds back into its file, in place, so other hard links see them
// too. True when the backup is no longer needed: the file has its bytes back, or is gone or
// replaced by another; false, and the backup kept, when it could not be written whole.
bool restoreFromBackup(int backup, const BackupHeader& header)
{
    const int fd =
        ::open(header.target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != header.device ||
        st.st_ino != header.inode) {
        ::close(fd);
        return true;
    }
    bool ok = true;
    for (const BackupSpan& span : header.spans)
        ok = ok && copyRange(backup, span.dataAt, fd, span.offset, span.length);
    ok = ok && ::ftruncate(fd, header.size) == 0 && ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// The original bytes of a file about to be written in place (all of them, or the regions
// about to change), kept under the state folder for as long as the write lasts. It is locked
// while its save runs; one found unlocked belongs to a save that died mid-write, and its file
// is put back (restoreTornFiles()).
class InPlaceBackup
{
public:
    // One file's part of the record: its descriptor (read for the old bytes) and its entry.
    struct Entry
    {
        int original = -1;
        BackupHeader header;
    };

    InPlaceBackup() = default;
    InPlaceBackup(const InPlaceBackup&) = delete;
    InPlaceBackup& operator=(const InPlaceBackup&) = delete;
    ~InPlaceBackup()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // Keeps the spans of original (every byte when there are none).
    bool create(int original, const std::string& target, const FileIdentity& opened,
                std::vector<BackupSpan> spans = {})
    {
        if (spans.empty())
            spans.push_back({0, opened.size, 0});
        std::vector<Entry> entries{
            {original, {opened.device, opened.inode, opened.size, target, std::move(spans)}}};
        return create(std::move(entries));
    }

    // Keeps the spans of several files, in one record that a batch flushes once.
    bool create(std::vector<Entry> entries)
    {
        const std::string folder = backupFolder();
        if (folder.empty())
            return false;
        std::string pattern = folder + "/XXXXXX" + kPartialSuffix;
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        m_fd = ::mkostemps(name.data(), int(std::strlen(kPartialSuffix)), O_CLOEXEC);
        if (m_fd < 0)
            return false;
        ::flock(m_fd, LOCK_EX | LOCK_NB);
        const std::string partial = name.data();
        m_path = partial.substr(0, partial.size() - std::strlen(kPartialSuffix)) + kBackupSuffix;
        m_entries = std::move(entries);
        // Only a whole backup takes its final name. The flush after the rename carries the
        // rename too (the journalling file systems log the renamed inode with it), which
        // spares a flush of the folder on every save.
        const bool ok =
            writeContent() && ::rename(partial.c_str(), m_path.c_str()) == 0 && ::fsync(m_fd) == 0;
        if (!ok) {
            const int error = errno;
            ::unlink(partial.c_str());
            ::unlink(m_path.c_str());
            errno = error;
            return false;
        }
        return true;
    }

    // After a write in place that failed halfway: the file gets its old bytes back.
    void restore()
    {
        if (restoreFromBackup(m_fd, m_entries.front().header))
            discard();
    }

    // The same for one file of a batch's record; false when it could not be written whole.
    bool restore(size_t entry) const { return restoreFromBackup(m_fd, m_entries[entry].header); }

    void discard() { ::unlink(m_path.c_str()); }

private:
    bool writeContent()
    {
        off_t at = 0;
        for (Entry& entry : m_entries) {
            BackupHeader& header = entry.header;
            std::string head = std::to_string(header.device) + ' ' + std::to_string(header.inode) +
                               ' ' + std::to_string(header.size) + ' ' +
                               std::to_string(header.target.size()) + ' ' +
                               std::to_string(header.spans.size()) + '\n' + header.target;
            for (const BackupSpan& span : header.spans)
                head += std::to_string(span.offset) + ' ' + std::to_string(span.length) + '\n';
            if (!writeAll(m_fd, head.data(), head.size(), at))
                return false;
            at += off_t(head.size());
            for (BackupSpan& span : header.spans) {
                span.dataAt = at;
                if (!copyRange(entry.original, span.offset, m_fd, at, span.length))
                    return false;
                at += span.length;
            }
        }
        return true;
    }

    int m_fd = -1;
    std::string m_path;
    std::vector<Entry> m_entries;
};

} // namespace

bool identityOf(int fd, FileIdentity& identity)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    identity = identityFromStat(st);
    return true;
}

// --- DescriptorStream ---------------------------------------------------------------------

DescriptorStream::DescriptorStream(int fd, std::string name, off_t size)
    : m_fd(fd), m_name(std::move(name)), m_length(size >= 0 ? long(size) : sizeOf(fd)),
      m_reader(fd, std::uint64_t(std::max(0L, m_length)))
{}

DescriptorStream::~DescriptorStream()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

DescriptorStream* DescriptorStream::openFile(const char* path, FileIdentity& identity)
{
    if (!path || !*path)
        return nullptr;
    // Non-blocking, so a FIFO put in the file's place after a check is not waited on.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return nullptr;
    struct stat st;
    // Of the flags F_SETFL changes, the descriptor was opened with O_NONBLOCK alone.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0) {
        ::close(fd);
        return nullptr;
    }
    identity = identityFromStat(st);
    return new DescriptorStream(fd, path, st.st_size);
}

TagLib::FileName DescriptorStream::name() const
{
    return m_name.c_str();
}

TagLib::ByteVector DescriptorStream::readBlock(unsigned long length)
{
    const long end = this->length();
    if (length == 0 || m_position >= end)
        return TagLib::ByteVector();
    // A size read from a broken file may be anything; never allocate beyond the file.
    length = std::min<unsigned long>(length, static_cast<unsigned long>(end - m_position));
    TagLib::ByteVector buffer(static_cast<unsigned int>(length));
    if (m_edits) {
        const long got = m_edits->read(buffer.data(), length, m_position);
        m_failed = m_failed || got < 0;
        buffer.resize(static_cast<unsigned int>(std::max(0L, got)));
        m_position += std::max(0L, got);
        return buffer;
    }
    if (!m_writable && readBuffered(buffer.data(), length)) {
        m_position += long(length);
        return buffer;
    }
    size_t got = 0;
    if (!readAll(m_fd, buffer.data(), length, m_position, got) && m_writable)
        m_failed = true;
    buffer.resize(static_cast<unsigned int>(got));
    m_position += long(got);
    return buffer;
}

bool DescriptorStream::readBuffered(char* out, unsigned long length)
{
    return length <= Reader::kWindow && m_reader.read(std::uint64_t(m_position), out, length);
}

void DescriptorStream::edit(off_t at, off_t removed, const TagLib::ByteVector& data)
{
    const off_t before = m_edits->length();
    m_edits->replace(at, removed, std::string(data.data(), data.size()));
    m_length = long(m_edits->length());
    m_position = m_length == before ? long(at) + long(data.size()) : m_length;
}

void DescriptorStream::writeBlock(const TagLib::ByteVector& data)
{
    if (!m_writable || m_failed)
        return;
    if (m_edits) {
        const long end = m_position + long(data.size());
        edit(m_position, std::min<long>(data.size(), std::max(0L, m_length - m_position)), data);
        m_position = end;
        return;
    }
    if (!writeAll(m_fd, data.data(), data.size(), m_position))
        m_failed = true;
    m_position += long(data.size());
    m_length = std::max(m_length, m_position);
}

bool DescriptorStream::moveRange(off_t from, off_t to, off_t count)
{
    if (count <= 0 || from == to)
        return true;
    std::vector<char> buffer(size_t(std::min(count, kChunk)));
    // Overlapping ranges are copied from the end that is not overwritten yet.
    const bool backwards = to > from;
    off_t done = 0;
    while (done < count) {
        const off_t part = std::min<off_t>(count - done, off_t(buffer.size()));
        const off_t offset = backwards ? count - done - part : done;
        size_t got = 0;
        if (!readAll(m_fd, buffer.data(), size_t(part), from + offset, got) || off_t(got) != part)
            return false;
        if (!writeAll(m_fd, buffer.data(), size_t(part), to + offset))
            return false;
        done += part;
    }
    return true;
}

void DescriptorStream::insert(const TagLib::ByteVector& data, unsigned long start,
                              unsigned long replace)
{
    if (!m_writable || m_failed)
        return;
    if (m_edits) {
        edit(off_t(start), off_t(replace), data);
        return;
    }
    if (data.size() == replace) {
        seek(long(start));
        writeBlock(data);
        return;
    }
    if (data.size() < replace) {
        seek(long(start));
        writeBlock(data);
        removeBlock(start + data.size(), replace - data.size());
        return;
    }
    const off_t end = length();
    const off_t tail = off_t(start + replace);
    const off_t growth = off_t(data.size() - replace);
    if (tail < end && !moveRange(tail, tail + growth, end - tail)) {
        m_failed = true;
        return;
    }
    if (!writeAll(m_fd, data.data(), data.size(), off_t(start)))
        m_failed = true;
    m_length = sizeOf(m_fd);
    m_position = m_length;
}

void DescriptorStream::removeBlock(unsigned long start, unsigned long length)
{
    if (!m_writable || m_failed)
        return;
    if (m_edits) {
        edit(off_t(start), off_t(length), {});
        return;
    }
    const off_t end = this->length();
    const off_t from = off_t(start + length);
    const off_t kept = std::max<off_t>(0, end - from);
    if (!moveRange(from, off_t(start), kept)) {
        m_failed = true;
        return;
    }
    truncate(long(off_t(start) + kept));
    m_position = long(off_t(start) + kept);
}

bool DescriptorStream::readOnly() const
{
    return !m_writable;
}

bool DescriptorStream::isOpen() const
{
    return m_fd >= 0;
}

void DescriptorStream::seek(long offset, Position p)
{
    long base = 0;
    if (p == Current)
        base = m_position;
    else if (p == End)
        base = length();
    // As fseek: a position before the start is refused and the old one kept.
    if (offset < 0 && base < -offset)
        return;
    m_position = base + offset;
}

long DescriptorStream::tell() const
{
    return m_position;
}

long DescriptorStream::length()
{
    return m_length;
}

void DescriptorStream::truncate(long length)
{
    if (!m_writable || m_failed)
        return;
    if (m_edits && length >= 0) {
        m_edits->truncate(length);
        m_length = length;
        return;
    }
    if (length < 0 || ::ftruncate(m_fd, length) != 0)
        m_failed = true;
    if (!m_failed)
        m_length = length;
    else
        m_length = sizeOf(m_fd);
}

int DescriptorStream::exchange(int fd, bool writable)
{
    const int previous = m_fd;
    m_fd = fd;
    m_writable = writable;
    m_failed = false;
    m_position = 0;
    m_length = sizeOf(fd);
    m_reader.reset(fd, std::uint64_t(std::max(0L, m_length)));
    return previous;
}

void DescriptorStream::recordEdits()
{
    m_edits = std::make_unique<PendingEdits>(m_fd, off_t(m_length));
    m_writable = true;
    m_failed = false;
    m_position = 0;
}

std::unique_ptr<PendingEdits> DescriptorStream::takeEdits()
{
    m_writable = false;
    m_position = 0;
    m_length = sizeOf(m_fd);
    m_reader.reset(m_fd, std::uint64_t(std::max(0L, m_length)));
    return std::move(m_edits);
}

// --- Leftover copies ----------------------------------------------------------------------

bool isTemporaryCopyName(const char* name)
{
    const size_t length = name ? std::strlen(name) : 0;
    // '.', at least one byte of the original name, '.', the random part, the suffix.
    if (length < 3 + kRandomLength + kCopySuffixLength || name[0] != '.')
        return false;
    if (std::strcmp(name + length - kCopySuffixLength, kCopySuffix) != 0)
        return false;
    const char* random = name + length - kCopySuffixLength - kRandomLength;
    if (random[-1] != '.')
        return false;
    for (size_t i = 0; i < kRandomLength; ++i) {
        const char c = random[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

void removeLeftoverCopies(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTemporaryCopyName(entry->d_name))
            continue;
        struct stat st;
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        const int fd = ::openat(dirFd, entry->d_name,
                                O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        if (fd < 0)
            continue;
        struct stat held;
        // Still the file that was looked at, and no running save holds it.
        if (::fstat(fd, &held) == 0 && held.st_ino == st.st_ino && held.st_dev == st.st_dev &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

namespace {

// True when every file of the record has its bytes back, or is gone or replaced.
bool restoreEveryEntry(int record)
{
    bool restored = true;
    BackupHeader header;
    for (off_t at = 0; readHeader(record, at, header); at = entryEnd(header))
        restored = restoreFromBackup(record, header) && restored;
    return restored;
}

} // namespace

void restoreTornFiles()
{
    const std::string folder = backupFolderPath();
    DIR* dir = folder.empty() ? nullptr : ::opendir(folder.c_str());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const bool whole = hasSuffix(entry->d_name, kBackupSuffix);
        if (!whole && !hasSuffix(entry->d_name, kPartialSuffix))
            continue;
        const int fd =
            ::openat(dirFd, entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        // Locked: its save is still running. A partial backup's file was never touched.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && (!whole || restoreEveryEntry(fd)))
            ::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

namespace {

// Either program loads the library before it reads or writes any file, so a file a killed
// save left torn is whole again before anything looks at it.
__attribute__((constructor)) void restoreTornFilesAtLoad()
{
    const int error = errno;
    restoreTornFiles();
    errno = error;
}

} // namespace

// --- The save -----------------------------------------------------------------------------

namespace {

// A save held by the open batch: its verified copy, renamed over `target` by commitBatch(),
// or its changed regions, written over it there, when the file is still the one opened.
struct HeldSave
{
    // A file written in place has no copy but the regions to write, and its new length.
    TemporaryCopy copy;
    std::vector<PendingEdits::Region> regions;
    off_t newLength = 0;
    std::string target;
    std::string folder;
    FileIdentity original;

    bool inPlace() const { return copy.fd() < 0; }
    // What the rollback record keeps: the regions overwritten, or the whole old file when the
    // length changes.
    std::vector<BackupSpan> spansToKeep() const
    {
        if (newLength != original.size)
            return {{0, original.size, 0}};
        std::vector<BackupSpan> spans;
        for (const PendingEdits::Region& region : regions)
            spans.push_back({region.offset, off_t(region.bytes.size()), 0});
        return spans;
    }
};

struct Batch
{
    std::function<bool()> ready;
    std::vector<HeldSave> saves;
    std::set<std::string> sweptFolders;
};

// The library is called from one thread only, so the open batch is plain process state.
std::unique_ptr<Batch> g_batch;

bool holdsForBatch(const FileIdentity& opened)
{
    return g_batch && opened.size <= kLargestHeldFile;
}

// Whatever the batch's caller must have on disk before an original changes (its journal).
bool readyToTouchOriginals()
{
    return !g_batch || !g_batch->ready || g_batch->ready();
}

// A batch removes the leftovers of a folder once, not before every save in it.
void sweepLeftoverCopies(const std::string& folder)
{
    if (!g_batch || g_batch->sweptFolders.insert(folder).second)
        removeLeftoverCopies(folder);
}

// The new file is written whole into memory and read back from there. Kept for the commit to
// write in place, behind one rollback record for the batch: the regions that change when the
// tag fits (`regions`), else the whole new file (`regions` empty).
SaveResult holdInPlace(const std::string& target, const FileIdentity& opened,
                       const PendingEdits& edits, std::vector<PendingEdits::Region> regions,
                       const SaveSteps& steps)
{
    const int memory = ::memfd_create("tagora-check", MFD_CLOEXEC);
    if (memory < 0)
        return SaveResult::Failed;
    bool ok = edits.writeTo(memory) && steps.verify(memory);
    if (ok && regions.empty()) {
        std::string whole(size_t(edits.length()), '\0');
        size_t got = 0;
        ok = readAll(memory, whole.data(), whole.size(), 0, got) && got == whole.size();
        regions.push_back({0, std::move(whole)});
    }
    ::close(memory);
    if (!ok)
        return SaveResult::Failed;
    g_batch->saves.push_back(
        {TemporaryCopy(), std::move(regions), edits.length(), target, folderOf(target), opened});
    return SaveResult::Saved;
}

// One flush per file system: a flush per file would commit the file system's journal once
// per file. `files` holds a descriptor on each file system to flush.
bool flushFileSystems(const std::vector<std::pair<dev_t, int>>& files)
{
    std::set<dev_t> flushed;
    bool durable = true;
    for (const auto& [device, fd] : files) {
        if (flushed.insert(device).second)
            durable = ::syncfs(fd) == 0 && durable;
    }
    return durable;
}

// The held regions of the files still as opened: their old bytes go to one record, flushed
// once, then the new ones over them, flushed once per file system. A file whose write or
// flush failed gets its old bytes back.
void writeHeldRegions(std::vector<HeldSave>& saves, std::vector<bool>& placed)
{
    std::vector<size_t> chosen;
    std::vector<std::pair<dev_t, int>> files;
    std::vector<InPlaceBackup::Entry> entries;
    for (size_t i = 0; i < saves.size(); ++i) {
        const HeldSave& save = saves[i];
        const int fd = save.inPlace() ? ::open(save.target.c_str(),
                                               O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)
                                      : -1;
        FileIdentity now;
        if (fd >= 0 && (!identityOf(fd, now) || now != save.original)) {
            ::close(fd);
            continue;
        }
        if (fd < 0)
            continue;
        chosen.push_back(i);
        files.push_back({now.device, fd});
        entries.push_back({fd, {now.device, now.inode, now.size, save.target, save.spansToKeep()}});
    }
    InPlaceBackup record;
    if (!entries.empty() && record.create(std::move(entries))) {
        std::vector<bool> written;
        for (size_t k = 0; k < chosen.size(); ++k) {
            const HeldSave& save = saves[chosen[k]];
            const int fd = files[k].second;
            bool ok = true;
            for (const PendingEdits::Region& region : save.regions)
                ok = ok && writeAll(fd, region.bytes.data(), region.bytes.size(), region.offset);
            if (save.newLength < save.original.size)
                ok = ok && ::ftruncate(fd, save.newLength) == 0;
            written.push_back(ok);
        }
        const bool durable = flushFileSystems(files);
        bool restored = true;
        for (size_t k = 0; k < chosen.size(); ++k) {
            if (written[k] && durable)
                placed[chosen[k]] = true;
            else
                restored = record.restore(k) && restored;
        }
        if (restored)
            record.discard();
    }
    for (const auto& file : files)
        ::close(file.second);
}

// The held copies of the files still as opened: flushed together, renamed, and each folder
// flushed once.
void renameHeldCopies(std::vector<HeldSave>& saves, std::vector<bool>& placed)
{
    std::vector<std::pair<dev_t, int>> copies;
    for (const HeldSave& save : saves) {
        if (!save.inPlace())
            copies.push_back({save.original.device, save.copy.fd()});
    }
    if (copies.empty() || !flushFileSystems(copies))
        return;
    std::set<std::string> folders;
    for (size_t i = 0; i < saves.size(); ++i) {
        HeldSave& save = saves[i];
        struct stat st;
        if (save.inPlace() || ::lstat(save.target.c_str(), &st) != 0 ||
            identityFromStat(st) != save.original ||
            ::rename(save.copy.path().c_str(), save.target.c_str()) != 0)
            continue;
        save.copy.renamed();
        placed[i] = true;
        folders.insert(save.folder);
    }
    for (const std::string& folder : folders)
        syncFolder(folder);
}

SaveResult holdForBatch(DescriptorStream& stream, TemporaryCopy copy, const std::string& target,
                        const std::string& folder, FileIdentity& opened)
{
    // From now on the handle reads the saved file, as after a save done at once.
    const int saved = ::fcntl(copy.fd(), F_DUPFD_CLOEXEC, 0);
    if (saved < 0)
        return SaveResult::Failed;
    g_batch->saves.push_back({std::move(copy), {}, 0, target, folder, opened});
    ::close(stream.exchange(saved, false));
    identityOf(saved, opened);
    return SaveResult::Saved;
}

// The new tag fits the old one's room: its regions are written over the file, after their old
// bytes went to a rollback record, and read back from the file itself. Nothing when the file
// was left untouched because it could not be opened for writing or the record not be made.
std::optional<SaveResult> saveRegionsInPlace(DescriptorStream& stream, const std::string& target,
                                             FileIdentity& opened,
                                             const std::vector<PendingEdits::Region>& regions,
                                             const SaveSteps& steps)
{
    const int original = stream.descriptor();
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    std::vector<BackupSpan> spans;
    for (const PendingEdits::Region& region : regions)
        spans.push_back({region.offset, off_t(region.bytes.size()), 0});
    FileIdentity now;
    if (!identityOf(fd, now) || now != opened) {
        ::close(fd);
        return SaveResult::Failed;
    }
    if (!readyToTouchOriginals()) {
        ::close(fd);
        return SaveResult::Failed;
    }
    InPlaceBackup record;
    if (!record.create(original, target, opened, spans)) {
        ::close(fd);
        return std::nullopt;
    }
    bool ok = true;
    for (const PendingEdits::Region& region : regions)
        ok = ok && writeAll(fd, region.bytes.data(), region.bytes.size(), region.offset);
    ok = ok && ::fsync(fd) == 0 && steps.verify(original);
    ::close(fd);
    if (!ok) {
        const int error = errno;
        record.restore();
        errno = error;
        return SaveResult::Failed;
    }
    record.discard();
    identityOf(original, opened);
    return SaveResult::Saved;
}

// The new file differs in layout: it is written whole into a copy, which replaces the original
// (or, for a file with other names or in a folder we may not add to, is written over it).
SaveResult saveThroughCopy(DescriptorStream& stream, const std::string& target,
                           FileIdentity& opened, const PendingEdits& edits, const SaveSteps& steps,
                           bool forBatch)
{
    const int original = stream.descriptor();
    struct stat st;
    FileIdentity held;
    if (::lstat(target.c_str(), &st) != 0)
        return SaveResult::Failed;
    const std::string folder = folderOf(target);
    sweepLeftoverCopies(folder);

    // More than one name for the inode: replacing one name would split them apart.
    bool inPlace = st.st_nlink > 1;
    TemporaryCopy copy;
    if (!copy.create(folder, baseOf(target))) {
        if (errno != EACCES && errno != EPERM)
            return SaveResult::Failed;
        // A writable file in a folder we may not add to: the copy is made and verified
        // elsewhere and the result written in place.
        const char* tmp = std::getenv("TMPDIR");
        const std::string elsewhere = tmp && *tmp ? tmp : "/tmp";
        removeLeftoverCopies(elsewhere);
        if (!copy.create(elsewhere, baseOf(target)))
            return SaveResult::Failed;
        inPlace = true;
    }
    if (!edits.writeTo(copy.fd()))
        return SaveResult::Failed;
    // The copy is complete on disk (a held one by the batch's commit) and reads back what was
    // meant, and the original is still the file that was opened, or nothing goes further.
    if ((!forBatch && ::fsync(copy.fd()) != 0) || !steps.verify(copy.fd()))
        return SaveResult::Failed;
    if (::lstat(target.c_str(), &st) != 0 || identityFromStat(st) != opened ||
        !identityOf(original, held) || held != opened)
        return SaveResult::Failed;

    if (!inPlace && !giveAttributes(original, copy.fd(), st))
        inPlace = true;
    if (!inPlace && forBatch)
        return holdForBatch(stream, std::move(copy), target, folder, opened);
    if (!readyToTouchOriginals())
        return SaveResult::Failed;
    // A sticky folder or a file mounted over (EBUSY) may refuse the rename of a file that can
    // still be written.
    if (!inPlace && ::rename(copy.path().c_str(), target.c_str()) != 0) {
        if (errno != EPERM && errno != EACCES && errno != EBUSY)
            return SaveResult::Failed;
        inPlace = true;
    }
    if (inPlace) {
        // No byte of the file is written before its old bytes are safe elsewhere.
        InPlaceBackup backup;
        if (!backup.create(original, target, opened))
            return SaveResult::Failed;
        bool touched = false;
        if (!overwriteInPlace(target, copy.fd(), opened, touched)) {
            const int error = errno;
            if (touched)
                backup.restore();
            else
                backup.discard();
            errno = error;
            return SaveResult::Failed;
        }
        backup.discard();
        identityOf(original, opened);
        return SaveResult::Saved;
    }
    copy.renamed();
    syncFolder(folder);
    // From now on the handle reads the saved file.
    const int saved = ::fcntl(copy.fd(), F_DUPFD_CLOEXEC, 0);
    if (saved >= 0) {
        ::close(stream.exchange(saved, false));
        identityOf(saved, opened);
    }
    return SaveResult::Saved;
}

} // namespace

SaveResult saveSafely(DescriptorStream& stream, FileIdentity& opened, const SaveSteps& steps)
{
    // Links are resolved: a symbolic link keeps pointing at its target, which is what changes.
    char* resolved = ::realpath(stream.name(), nullptr);
    if (!resolved)
        return SaveResult::Refused;
    const std::string target(resolved);
    std::free(resolved);

    struct stat st;
    FileIdentity held;
    if (::lstat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        identityFromStat(st) != opened || !identityOf(stream.descriptor(), held) || held != opened)
        return SaveResult::Refused;
    // A file nobody may write to stays as it is, for root too (whose access() always says
    // yes); and a user who may not write to the file may not replace it either, even in a
    // folder that lets them.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
        ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        return SaveResult::Refused;

    stream.recordEdits();
    bool written = false;
    try {
        written = steps.write();
    } catch (...) {
        written = false;
    }
    written = written && !stream.failed();
    const std::unique_ptr<PendingEdits> edits = stream.takeEdits();
    if (!written)
        return SaveResult::Failed;
    // A batch holds a small file's save for its group commit: its changed regions when the tag
    // fits, else its verified copy.
    const bool forBatch = holdsForBatch(opened);
    if (edits->keepsLayout()) {
        std::vector<PendingEdits::Region> regions = edits->changedRegions();
        if (regions.size() <= kMaxSpans && forBatch)
            return holdInPlace(target, opened, *edits, std::move(regions), steps);
        // Without room for the rollback record the copy still can replace the file.
        if (regions.size() <= kMaxSpans)
            if (const auto result = saveRegionsInPlace(stream, target, opened, regions, steps))
                return *result;
    }
    // A small file whose tag changes size is rewritten in place too: its old bytes in the
    // batch's record cost less than a new file, a rename and the old file's blocks freed.
    if (forBatch && opened.size <= kLargestRewrittenFile &&
        edits->length() <= kLargestRewrittenFile)
        return holdInPlace(target, opened, *edits, {}, steps);
    return saveThroughCopy(stream, target, opened, *edits, steps, forBatch);
}

bool beginBatch(std::function<bool()> ready)
{
    if (g_batch)
        return false;
    g_batch = std::make_unique<Batch>();
    g_batch->ready = std::move(ready);
    return true;
}

bool batchOpen()
{
    return g_batch != nullptr;
}

size_t heldSaves()
{
    return g_batch ? g_batch->saves.size() : 0;
}

std::vector<bool> commitBatch()
{
    const std::unique_ptr<Batch> batch = std::move(g_batch);
    std::vector<bool> placed(batch ? batch->saves.size() : 0, false);
    if (placed.empty() || (batch->ready && !batch->ready()))
        return placed;
    writeHeldRegions(batch->saves, placed);
    renameHeldCopies(batch->saves, placed);
    return placed;
}

} // namespace tagwrapper

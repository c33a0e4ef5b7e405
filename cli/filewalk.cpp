#include "filewalk.h"

#include "tagora/audiotypes.h"

#include <QList>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tagora::cli {
namespace {

struct DirCloser
{
    void operator()(DIR* dir) const { ::closedir(dir); }
};

QByteArray joined(const QByteArray& folder, const char* name)
{
    return folder.endsWith('/') ? QByteArray(folder + name) : QByteArray(folder + '/' + name);
}

// The entry's type, links resolved to the file they name; a link to a folder is reported
// as a link, so it is never descended into.
unsigned char entryType(const QByteArray& path, unsigned char type)
{
    struct stat info;
    if (type == DT_UNKNOWN && ::lstat(path.constData(), &info) == 0)
        type = S_ISLNK(info.st_mode) ? DT_LNK : S_ISDIR(info.st_mode) ? DT_DIR : DT_REG;
    if (type == DT_LNK && ::stat(path.constData(), &info) == 0 && S_ISREG(info.st_mode))
        type = DT_REG;
    return type;
}

// A save's copy is named ".<name>.XXXXXX.tagora-tmp" and locked for as long as its save
// runs; one we can lock was left by a save that died.
bool isSaveCopyName(const char* name)
{
    constexpr char kSuffix[] = ".tagora-tmp";
    constexpr size_t kSuffixLength = sizeof kSuffix - 1;
    constexpr size_t kRandomLength = 6;
    const size_t length = std::strlen(name);
    if (name[0] != '.' || length < 3 + kRandomLength + kSuffixLength ||
        std::strcmp(name + length - kSuffixLength, kSuffix) != 0)
        return false;
    const char* random = name + length - kSuffixLength - kRandomLength;
    return random[-1] == '.' && std::all_of(random, random + kRandomLength, [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) != 0;
           });
}

// Removes a copy left by a save that died, however young: a running save locks its copy
// before the copy has a name (where the file system cannot, a copy taken away before its lock
// only makes that save fail at its rename).
void removeDeadCopy(int folder, const char* name)
{
    const int fd = ::openat(folder, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    struct stat info;
    if (fd < 0)
        return;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
        ::unlinkat(folder, name, 0);
    ::close(fd);
}

struct FolderEntries
{
    QList<QByteArray> files;
    QList<QByteArray> folders;
};

bool readFolder(const QByteArray& folder, FolderEntries& entries)
{
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.constData()));
    if (!dir)
        return false;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        if (isSaveCopyName(entry->d_name)) {
            removeDeadCopy(::dirfd(dir.get()), entry->d_name);
            continue;
        }
        const QByteArray path = joined(folder, entry->d_name);
        const unsigned char type = entryType(path, entry->d_type);
        if (type == DT_DIR)
            entries.folders.append(path);
        else if (type == DT_REG && hasAudioExtension(path))
            entries.files.append(path);
    }
    std::sort(entries.files.begin(), entries.files.end());
    std::sort(entries.folders.begin(), entries.folders.end());
    return true;
}

void walkFolder(const QByteArray& folder, bool recursive, const WalkVisitor& visitor)
{
    FolderEntries entries;
    if (!readFolder(folder, entries)) {
        visitor.failure(folder, "unreadable: " + errorText(errno));
        return;
    }
    for (const QByteArray& file : std::as_const(entries.files))
        visitor.file(file);
    entries.files.clear();
    if (!recursive)
        return;
    for (const QByteArray& sub : std::as_const(entries.folders))
        walkFolder(sub, recursive, visitor);
}

} // namespace

bool identityOf(const QByteArray& path, FileIdentity& identity)
{
    struct stat info;
    if (::stat(path.constData(), &info) != 0)
        return false;
    identity = identityFromStat(info);
    return true;
}

bool isFolder(const QByteArray& path)
{
    struct stat info;
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool hasAudioExtension(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    const qsizetype dot = path.lastIndexOf('.');
    // A name that is nothing but the extension (".mp3") is a hidden file without one.
    if (dot <= slash + 1)
        return false;
    const QByteArray extension = path.mid(dot);
    return isAudioExtension(std::string_view(extension.constData(), std::size_t(extension.size())),
                            AudioLister::Cli);
}

void walkAudioFiles(const QByteArray& path, bool recursive, const WalkVisitor& visitor)
{
    struct stat info;
    if (::stat(path.constData(), &info) != 0) {
        visitor.failure(path, "unreadable: " + errorText(errno));
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        walkFolder(path, recursive, visitor);
        return;
    }
    if (!S_ISREG(info.st_mode) || !hasAudioExtension(path)) {
        visitor.failure(path, "not an audio file of a known type");
        return;
    }
    visitor.file(path);
}

QByteArray absolutePath(const QByteArray& path)
{
    QByteArray full = path;
    if (!path.startsWith('/')) {
        char buffer[4096];
        const char* cwd = ::getcwd(buffer, sizeof buffer);
        full = QByteArray(cwd ? cwd : ".") + '/' + path;
    }
    QList<QByteArray> parts;
    for (const QByteArray& part : full.split('/')) {
        if (!part.isEmpty() && part != ".")
            parts.append(part);
    }
    return '/' + parts.join('/');
}

QByteArray errorText(int error)
{
    return QByteArray(std::strerror(error));
}

qint64 countAudioFiles(const QList<QByteArray>& paths, bool recursive)
{
    qint64 total = 0;
    const WalkVisitor counter{[&](const QByteArray&) { ++total; },
                              [](const QByteArray&, const QByteArray&) {}};
    for (const QByteArray& path : paths)
        walkAudioFiles(path, recursive, counter);
    return total;
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

} // namespace tagora::cli

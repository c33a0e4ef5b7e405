#include "pictureblobs.h"

#include "cli/journal.h"

#include <QCryptographicHash>

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tagora::cli::pictureblobs {
namespace {

constexpr int kHashLength = 64;

bool isHash(const QByteArray& name)
{
    return name.size() == kHashLength && std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

QByteArray blobPath(const QByteArray& hash)
{
    return folder() + '/' + hash;
}

bool readWhole(const QByteArray& path, QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bytes.clear();
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        bytes.append(buffer, got);
    }
    ::close(fd);
    return got == 0;
}

void syncFolder()
{
    const int fd = ::open(folder().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

QByteArray folder()
{
    const QByteArray journal = Journal::path();
    return journal.left(journal.lastIndexOf('/') + 1) + "pictures";
}

QByteArray hashOf(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// Written under a temporary name, flushed and renamed: a blob that exists is whole, as undo
// trusts what it finds under a hash.
bool keep(const QByteArray& bytes)
{
    const QByteArray path = blobPath(hashOf(bytes));
    struct stat info;
    if (::stat(path.constData(), &info) == 0 && info.st_size == bytes.size())
        return true;
    if (::mkdir(folder().constData(), 0700) != 0 && errno != EEXIST)
        return false;
    const QByteArray temporary = path + ".tmp";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, bytes) && ::fdatasync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (written && ::rename(temporary.constData(), path.constData()) == 0) {
        syncFolder(); // the name too must be on disk before a journal line names it
        return true;
    }
    ::unlink(temporary.constData());
    errno = error;
    return false;
}

bool load(const QByteArray& hash, QByteArray& bytes)
{
    return isHash(hash) && readWhole(blobPath(hash), bytes) && hashOf(bytes) == hash;
}

void removeAllBut(const QSet<QByteArray>& referenced)
{
    DIR* dir = ::opendir(folder().constData());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        const bool leftover = name.endsWith(".tmp") && isHash(name.chopped(4));
        if ((isHash(name) && !referenced.contains(name)) || leftover)
            ::unlink(blobPath(name).constData());
    }
    ::closedir(dir);
}

} // namespace tagora::cli::pictureblobs

#include "namedmutex.h"

#include "services/nativepath.h"

#include <QDir>

#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tagora {
namespace {

QString defaultFolder()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return pathFromNative(runtime);
    return QDir::tempPath() + QStringLiteral("/tagora-") + QString::number(::getuid());
}

} // namespace

NamedMutexes& namedMutexes()
{
    static NamedMutexes mutexes;
    return mutexes;
}

NamedMutexes::NamedMutexes(QString folder) : m_folder(std::move(folder)) {}

QString NamedMutexes::fileName(const QString& name) const
{
    return (m_folder.isEmpty() ? defaultFolder() : m_folder) + QLatin1Char('/') + name;
}

NamedMutexes::Handle NamedMutexes::open(const QString& name)
{
    const int fd = ::open(pathToNative(fileName(name)).constData(), O_RDWR | O_CLOEXEC);
    return fd < 0 ? kNoHandle : fd;
}

NamedMutexes::Handle NamedMutexes::create(const QString& name, bool initialOwner)
{
    const QString file = fileName(name);
    // The fallback folder may not exist yet; only its owner may use it.
    ::mkdir(pathToNative(file.left(file.lastIndexOf(QLatin1Char('/')))).constData(), 0700);
    const int fd =
        ::open(pathToNative(file).constData(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return kNoHandle;
    if (initialOwner)
        ::flock(fd, LOCK_EX | LOCK_NB);
    return fd;
}

void NamedMutexes::release(Handle handle)
{
    if (handle != kNoHandle)
        ::flock(handle, LOCK_UN);
}

} // namespace tagora

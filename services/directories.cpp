#include "directories.h"

#include "services/errors.h"
#include "services/nativepath.h"

#include <QDir>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace tagora {

bool DirectoryExists(const QString& path)
{
    struct stat info;
    return QDir::isAbsolutePath(path) && ::stat(pathToNative(path).constData(), &info) == 0 &&
           S_ISDIR(info.st_mode);
}

bool FileExists(const QString& path)
{
    struct stat info;
    return !path.isEmpty() && ::stat(pathToNative(path).constData(), &info) == 0 &&
           !S_ISDIR(info.st_mode);
}

void SetCurrentDir(const QString& path)
{
    if (::chdir(pathToNative(path).constData()) != 0)
        throw EInOutError(errno);
}

} // namespace tagora

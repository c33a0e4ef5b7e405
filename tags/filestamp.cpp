#include "tags/filestamp.h"

#include "services/nativepath.h"

#include <sys/stat.h>

namespace tagora {

bool FileStamp::operator==(const FileStamp& other) const
{
    return exists == other.exists && device == other.device && inode == other.inode &&
           size == other.size && modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds &&
           changedSeconds == other.changedSeconds && changedNanoseconds == other.changedNanoseconds;
}

bool FileStamp::isSameFileAs(const FileStamp& other) const
{
    return exists && other.exists && device == other.device && inode == other.inode;
}

FileStamp fileStampOf(const QString& path)
{
    struct stat st = {};
    FileStamp stamp;
    if (path.isEmpty() || ::stat(pathToNative(path).constData(), &st) != 0)
        return stamp;
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.modifiedSeconds = st.st_mtim.tv_sec;
    stamp.modifiedNanoseconds = st.st_mtim.tv_nsec;
    stamp.changedSeconds = st.st_ctim.tv_sec;
    stamp.changedNanoseconds = st.st_ctim.tv_nsec;
    return stamp;
}

} // namespace tagora

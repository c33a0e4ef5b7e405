#include "tags/filestamp.h"

#include "services/nativepath.h"

#include <sys/stat.h>

namespace tagora {

bool FileStamp::operator==(const FileStamp& other) const
{
    return exists == other.exists && identity == other.identity && changedNs == other.changedNs;
}

bool FileStamp::isSameFileAs(const FileStamp& other) const
{
    return exists && other.exists && identity.device == other.identity.device &&
           identity.inode == other.identity.inode;
}

FileStamp fileStampOf(const QString& path)
{
    struct stat st = {};
    FileStamp stamp;
    if (path.isEmpty() || ::stat(pathToNative(path).constData(), &st) != 0)
        return stamp;
    stamp.exists = true;
    stamp.identity = identityFromStat(st);
    stamp.changedNs = std::int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return stamp;
}

} // namespace tagora

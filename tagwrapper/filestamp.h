// "Has this file changed": the one stamp that the library's safe save, tagora-cli's journal and
// the window's tag panel all compare. Header only and plain C++, so every layer can include it,
// the library that links no Qt included.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>

namespace tagora {

// Which file, and in what state: another inode, a size that grew or shrank, or a write since
// (as far as the modification time's nanoseconds can tell) make another stamp.
struct FileIdentity
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedNs = 0;

    friend bool operator==(const FileIdentity& a, const FileIdentity& b)
    {
        return a.device == b.device && a.inode == b.inode && a.size == b.size &&
               a.modifiedNs == b.modifiedNs;
    }
    friend bool operator!=(const FileIdentity& a, const FileIdentity& b) { return !(a == b); }
};

inline FileIdentity identityFromStat(const struct stat& info)
{
    return {info.st_dev, info.st_ino, info.st_size,
            std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

} // namespace tagora
